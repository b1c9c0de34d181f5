// Weighted engine (8-bit): column by column, the shifted neighbourhood of the current pixel is
// kept in a small sum image that moves down one row by adding precomputed weight differences, so
// only the element's new bottom row is read from the source.
#include "frame/cleanup.hpp"
#include "kip/rle_image.h"
#include "kip/window.h"
#include "morphology/variants.hpp"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;
using namespace kip::morphology;

namespace {

using Element = kip_filterMorphologyStructuringElement;

// Element and working images read as plain arrays, column i and row j.
struct Grid {
    const int16_t* weights;  // w(i, j)
    const uint8_t* members;  // m(i, j)
    const int16_t* diff;     // D(i, j)
    int16_t* sum;            // S(i, j)
    int32_t weightStride, memberStride, diffStride, sumStride;
    int32_t ew, eh;
    int16_t wr(int32_t i, int32_t j) const { return weights[(eh - 1 - j) * weightStride + (ew - 1 - i)]; }
    bool member(int32_t i, int32_t j) const { return members[(eh - 1 - j) * memberStride + (ew - 1 - i)] != 0; }
    int16_t d(int32_t i, int32_t j) const { return diff[j * diffStride + i]; }
    int16_t& s(int32_t i, int32_t j) const { return sum[j * sumStride + i]; }
};

// One column of the pass. rows: the mask's runs down this column, or null without a mask.
template <bool Dilate>
void column(const kimg_windowConst& source, const kimg_windowConst* mask, const kip_rleRow8* runs, const Grid& g,
            int32_t x, const kimg_window& output) {
    const int32_t width = source.rect.width, height = source.rect.height;
    const int32_t hw = g.ew >> 1, hh = g.eh >> 1;
    const int32_t c0 = x - hw > 0 ? x - hw : 0, c1 = x + hw < width - 1 ? x + hw : width - 1;
    const int32_t i0 = hw + c0 - x, i1 = i0 + c1 - c0;
    const int32_t sign = Dilate ? 1 : -1;
    bool filled = false;
    const kip_rleRun8* run = runs ? runs->runs : nullptr;
    int32_t left = run ? run->length : 0;
    for (int32_t y = 0; y < height; ++y) {
        if (run) {
            while (left == 0) left = (++run)->length;
            --left;
            if (run->value == 0) {
                filled = false;  // the next computed pixel of the column starts afresh
                continue;
            }
        }
        const int32_t r0 = y - hh > 0 ? y - hh : 0, r1 = y + hh < height - 1 ? y + hh : height - 1;
        const int32_t j0 = hh + r0 - y, j1 = j0 + r1 - r0;
        if (!filled) {
            for (int32_t r = r0; r <= r1; ++r) {
                const uint8_t* row = rowOf<uint8_t>(source, r);
                for (int32_t c = c0; c <= c1; ++c)
                    g.s(i0 + c - c0, j0 + r - r0) = int16_t(row[c] + sign * g.wr(i0 + c - c0, j0 + r - r0));
            }
            filled = true;
        } else {
            const int32_t last = j1 < g.eh - 2 ? j1 : g.eh - 2;
            for (int32_t j = j0; j <= last; ++j)
                for (int32_t i = i0; i <= i1; ++i) g.s(i, j) = int16_t(g.s(i, j + 1) + sign * g.d(i, j));
            if (j1 == g.eh - 1) {
                const uint8_t* row = rowOf<uint8_t>(source, r1);
                for (int32_t i = i0; i <= i1; ++i)
                    g.s(i, g.eh - 1) = int16_t(row[x - hw + i] + sign * g.d(i, g.eh - 1));
            }
        }
        int32_t m = Dilate ? 0 : 255;
        for (int32_t j = j0; j <= j1; ++j) {
            const uint8_t* maskRow = mask ? rowOf<uint8_t>(*mask, r0 + j - j0) : nullptr;
            for (int32_t i = i0; i <= i1; ++i) {
                if (!g.member(i, j) || (maskRow && maskRow[c0 + i - i0] == 0)) continue;
                const int32_t v = g.s(i, j);
                if (Dilate ? v > m : v < m) m = v;
            }
        }
        mutableRowOf<uint8_t>(output, y)[x] = uint8_t(Dilate ? (m > 255 ? 255 : m) : (m < 1 ? 0 : m));
    }
}

kip_status windowOn(const kimg_imageConst& image, kimg_windowConst* w) { return kimg_windowConst_init(w, &image); }

template <bool Dilate>
kip_status kernel(const kimg_windowConst* source, const kimg_windowConst* mask,
                  const kip_filterMorphologyParams* params, const Element* element, const kimg_window* output) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(element);
    KIP_REQUIRE(output);
    kstd_pair32 size;
    kip_status s = kip_filterMorphologyStructuringElement_getSize(element, &size);
    if (failed(s)) return s;
    Cleanup<4> c;
    kimg_image diff, sum, members;
    s = kip_filterMorphologyWeightDifferences_(&element->offsetImage, &diff);
    if (failed(s)) return c.finish(s);
    c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyAlways, &diff);
    s = kimg_image_construct(&sum, 2, size.x, size.y);
    if (failed(s)) return c.finish(s);
    c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyAlways, &sum);
    s = kimg_imageConst_constructUnbound(&members);
    if (failed(s)) return c.finish(s);
    c.addObject<kimg_image, &kimg_imageConst_destruct>(ksys_cleanupDestroyAlways, &members);
    s = kip_filterMorphologyStructuringElement_getMask(element, &members);
    kimg_windowConst mw, ww, dw, sw;
    if (!failed(s)) s = windowOn(members, &mw);
    if (!failed(s)) s = windowOn(element->offsetImage, &ww);
    if (!failed(s)) s = windowOn(diff, &dw);
    if (!failed(s)) s = windowOn(sum, &sw);
    if (failed(s)) return c.finish(s);
    const Grid g{static_cast<const int16_t*>(ww.pixels),
                 static_cast<const uint8_t*>(mw.pixels),
                 static_cast<const int16_t*>(dw.pixels),
                 static_cast<int16_t*>(sw.pixels),
                 ww.stride,
                 mw.stride,
                 dw.stride,
                 sw.stride,
                 size.x,
                 size.y};

    kip_rleImage8 rle;
    const kip_rleRow8* columns = nullptr;
    if (mask) {
        // The mask column by column as runs: excluded stretches cost one step per run.
        s = kip_rleImage8_constructWindowTranspose(&rle, mask);
        if (failed(s)) return c.finish(s);
        c.addObject<kip_rleImage8, &kip_rleImage8_destruct>(ksys_cleanupDestroyAlways, &rle);
        int32_t count = 0;
        s = kstd_vector_kip_rleRow8_getBeginSize32Const(&rle.rows, &columns, &count);
        if (failed(s)) return c.finish(s);
        KIP_ASSERT(count == source->rect.width);
    }
    for (int32_t x = 0; x < source->rect.width; ++x)
        column<Dilate>(*source, mask, columns ? columns + x : nullptr, g, x, *output);
    return c.finish(s);
}

}  // namespace

extern "C" {

kip_status kip_filterMorphologyWeightDifferences_(const kimg_imageConst* offsetImage, kimg_image* difference) {
    KIP_REQUIRE(offsetImage);
    KIP_REQUIRE(difference);
    kimg_windowConst w;
    kip_status s = kimg_windowConst_init(&w, offsetImage);
    if (failed(s)) return s;
    const int32_t ew = w.rect.width, eh = w.rect.height;
    s = kimg_image_construct(difference, 2, ew, eh);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyOnFailure, difference);
    kimg_window dw;
    s = kimg_window_init(&dw, difference);
    if (failed(s)) return c.finish(s);
    auto wr = [&](int32_t i, int32_t j) { return int32_t(rowOf<int16_t>(w, eh - 1 - j)[ew - 1 - i]); };
    for (int32_t j = 0; j < eh; ++j) {
        int16_t* row = mutableRowOf<int16_t>(dw, j);
        for (int32_t i = 0; i < ew; ++i) row[i] = int16_t(j < eh - 1 ? wr(i, j) - wr(i, j + 1) : wr(i, j));
    }
    return c.finish(s);
}

kip_status kip_filterMorphologyWeighted8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                          const kip_filterMorphologyParams* params, const Element* element,
                                          int32_t dilate, const kimg_window* output) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(element);
    KIP_REQUIRE(output);
    Cleanup<1> c;
    kimg_image temporary;
    kip_status s = kimg_image_constructUnbound(&temporary);
    if (failed(s)) return c.finish(s);
    c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyAlways, &temporary);
    kimg_windowConst src, msk;
    kimg_window out;
    uint32_t empty = 0, hasMask = 0, copyBack = 0;
    s = kip_filterInitializeGCRWindow8_(source, mask, output, &src, &msk, &out, &empty, &hasMask, &copyBack,
                                        &temporary);
    if (failed(s) || empty) return c.finish(s);
    const kimg_windowConst* m = hasMask ? &msk : nullptr;
    s = dilate ? kernel<true>(&src, m, params, element, &out) : kernel<false>(&src, m, params, element, &out);
    if (!failed(s) && copyBack) {
        kimg_window d = *output;
        s = kip_pelCopyWindow8(&out, &d);
    }
    return c.finish(s);
}

}  // extern "C"
