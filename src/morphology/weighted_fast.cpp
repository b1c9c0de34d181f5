// The optimised pass for border mode 1 (8-bit): weighted elements row by row, a vector of
// destination pixels at a time, each member of the element one saturating add, one saturating
// subtract and one maximum (minimum). Pixels near the border, where part of the element falls
// outside the source, are computed one by one from the same member list.
#include "frame/cleanup.hpp"
#include "frame/isa.hpp"
#include "morphology/variants.hpp"
#include "morphology/weighted_isa.hpp"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;
using namespace kip::morphology;

namespace {

using Element = kip_filterMorphologyStructuringElement;

struct Member {
    int32_t p, q;  // neighbour offset
    int32_t add, sub;
};

// The widest kernels whose vector fits the interior of a row; SSE2 below that.
const WeightedIsa* selectIsa(int32_t interior) {
    ksys_cpuinfo info;
    if (failed(ksys_cpuinfo_init(&info))) return nullptr;
    if (info.kind != ksys_cpuKindIntel && info.kind != ksys_cpuKindAmd) return nullptr;
    if (kip::isaOffered(info, kip::Isa::Avx512) && kWeightedIsaAvx512.row[0] && interior >= 64)
        return &kWeightedIsaAvx512;
    if (kip::isaOffered(info, kip::Isa::Avx2) && kWeightedIsaAvx2.row[0] && interior >= 32) return &kWeightedIsaAvx2;
    if (kip::isaOffered(info, kip::Isa::Sse2) && kWeightedIsaSse2.row[0]) return &kWeightedIsaSse2;
    return nullptr;
}

inline int32_t clamp8(int32_t v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

template <bool Dilate>
uint8_t pixelAt(const kimg_windowConst& source, const kimg_windowConst* mask, const Member* members, int32_t count,
                int32_t x, int32_t y) {
    const uint8_t centre = rowOf<uint8_t>(source, y)[x];
    if (mask && rowOf<uint8_t>(*mask, y)[x] == 0) return centre;
    int32_t m = Dilate ? 0 : 255;
    for (int32_t k = 0; k < count; ++k) {
        const int32_t c = x + members[k].p, r = y + members[k].q;
        if (c < 0 || r < 0 || c >= source.rect.width || r >= source.rect.height) continue;
        if (mask && rowOf<uint8_t>(*mask, r)[c] == 0) continue;
        const int32_t v = clamp8(clamp8(rowOf<uint8_t>(source, r)[c] + members[k].add) - members[k].sub);
        if (Dilate ? v > m : v < m) m = v;
    }
    return uint8_t(m);
}

template <bool Dilate>
kip_status pass(const kimg_windowConst& source, const kimg_windowConst* mask, const Element& element,
                const kimg_window& output, const WeightedIsa& isa) {
    kstd_pair32 size;
    kip_status s = kip_filterMorphologyStructuringElement_getSize(&element, &size);
    if (failed(s)) return s;
    const int32_t ew = size.x, eh = size.y, hw = ew >> 1, hh = eh >> 1;
    const int32_t width = source.rect.width, height = source.rect.height;

    Cleanup<2> c;
    kimg_image members;
    s = kimg_imageConst_constructUnbound(&members);
    if (failed(s)) return c.finish(s);
    c.addObject<kimg_image, &kimg_imageConst_destruct>(ksys_cleanupDestroyAlways, &members);
    kimg_windowConst mw, ww;
    s = kip_filterMorphologyStructuringElement_getMask(&element, &members);
    if (!failed(s)) s = kimg_windowConst_init(&mw, &members);
    if (!failed(s)) s = kimg_windowConst_init(&ww, &element.offsetImage);
    if (failed(s)) return c.finish(s);

    // One block: the member list, then per member its two splatted amounts and two row pointers.
    const size_t positions = size_t(ew) * size_t(eh);
    const size_t bytes = positions * (sizeof(Member) + 128 + 2 * sizeof(const uint8_t*)) + 64;
    void* block = nullptr;
    s = ksys_memory_alloc_internal(bytes, &block);
    if (failed(s)) return c.finish(s);
    c.addBlock(ksys_cleanupFreeAlways, &block);
    Member* list = static_cast<Member*>(block);
    int32_t count = 0;
    // The neighbour at offset (p, q) meets the element position turned through the centre.
    for (int32_t q = -hh; q <= hh; ++q)
        for (int32_t p = -hw; p <= hw; ++p) {
            if (rowOf<uint8_t>(mw, hh - q)[hw - p] == 0) continue;
            const int32_t w = rowOf<int16_t>(ww, hh - q)[hw - p];
            const int32_t shift = Dilate ? w : -w;
            list[count++] = Member{p, q, shift > 0 ? shift : 0, shift < 0 ? -shift : 0};
        }
    const uintptr_t splatAt = (reinterpret_cast<uintptr_t>(list + positions) + 63) & ~uintptr_t{63};
    uint8_t* splat = reinterpret_cast<uint8_t*>(splatAt);
    const uint8_t** srcRows = reinterpret_cast<const uint8_t**>(splat + 128 * positions);
    const uint8_t** maskRows = srcRows + positions;
    for (int32_t k = 0; k < count; ++k)
        for (int32_t i = 0; i < 64; ++i) {
            splat[128 * k + i] = uint8_t(list[k].add);
            splat[128 * k + 64 + i] = uint8_t(list[k].sub);
        }

    const int32_t interior = width - 2 * hw;
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* out = mutableRowOf<uint8_t>(output, y);
        const bool vectorRow = y >= hh && y < height - hh && interior >= isa.lanes;
        const int32_t from = vectorRow ? hw : width, to = vectorRow ? width - hw : width;
        for (int32_t x = 0; x < from; ++x) out[x] = pixelAt<Dilate>(source, mask, list, count, x, y);
        if (vectorRow) {
            for (int32_t k = 0; k < count; ++k) {
                srcRows[k] = rowOf<uint8_t>(source, y + list[k].q) + hw + list[k].p;
                if (mask) maskRows[k] = rowOf<uint8_t>(*mask, y + list[k].q) + hw + list[k].p;
            }
            const WeightedRow row{srcRows,
                                  mask ? maskRows : nullptr,
                                  splat,
                                  count,
                                  interior,
                                  rowOf<uint8_t>(source, y) + hw,
                                  mask ? rowOf<uint8_t>(*mask, y) + hw : nullptr,
                                  out + hw};
            isa.row[Dilate ? 1 : 0](row);
        }
        for (int32_t x = to; x < width; ++x) out[x] = pixelAt<Dilate>(source, mask, list, count, x, y);
    }
    return c.finish(s);
}

}  // namespace

extern "C" {

kip_status kip_filterMorphologyFastTruncated8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                               const kip_filterMorphologyParams* params, const Element* element,
                                               int32_t dilate, const kimg_window* output) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(element);
    KIP_REQUIRE(output);
    uint32_t isFlat = 1;
    kip_status s = kip_filterMorphologyStructuringElement_getIsFlat(element, &isFlat);
    if (failed(s)) return s;
    if (isFlat || params->borderMode != int32_t(kip_filterBorderTruncated)) return kip_errNotAvailable;
    kstd_pair32 size;
    s = kip_filterMorphologyStructuringElement_getSize(element, &size);
    if (failed(s)) return s;
    const WeightedIsa* isa = selectIsa(source->rect.width - 2 * (size.x >> 1));
    if (!isa) return kip_errNotAvailable;
    uint32_t maskNull = 1, sourceNull = 0;
    if (mask) s = kimg_windowConst_getIsNull(mask, &maskNull);
    if (!failed(s)) s = kimg_windowConst_getIsNull(source, &sourceNull);
    if (failed(s) || sourceNull) return s;
    // Sharing pixels with the output would read results as sources: the general engine copes.
    if (kip_pelfunc_checkMemoryOverlap(source, output) != 0 ||
        (!maskNull && kip_pelfunc_checkMemoryOverlap(mask, output) != 0))
        return kip_errNotAvailable;
    KIP_ASSERT(output->rect.width == source->rect.width && output->rect.height == source->rect.height);
    const kimg_windowConst* m = maskNull ? nullptr : mask;
    return dilate ? pass<true>(*source, m, *element, *output, *isa) : pass<false>(*source, m, *element, *output, *isa);
}

}  // extern "C"
