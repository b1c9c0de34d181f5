// The rank engines for kernels thinned by a mask. Every vertical stretch of the half-turned mask
// gains one pixel at its bottom end and loses one at its top end as the neighbourhood moves down
// a row, so a column's histogram is kept up to date through the encoded kernel's entering and
// leaving positions alone. Away from the border those are fixed address offsets; near it each
// position is tested against the cut neighbourhood. With an image mask only selected source
// pixels take part, and selected destination pixels with a non-empty neighbourhood are written.
#include "kip/encoded_kernel.h"
#include "rank/histogram.hpp"
#include "rank/two_level.hpp"
#include "rank/variants.hpp"

using kip::Cleanup;
using kip::failed;

namespace kip::rank {
namespace {

// Offsets of one list of positions for a row stride, owned by the engine's cleanup table.
template <int N>
kip_status offsetsFor(const kip_filterMaskKernelEncoded* encoded, bool entering, int32_t stride, kstd_vector32s* vector,
                      const int32_t** begin, Cleanup<N>& cleanup) {
    kip_status s = entering ? kip_filterMaskKernelEncoded_createEnteringOffsets(encoded, stride, vector)
                            : kip_filterMaskKernelEncoded_createLeavingOffsets(encoded, stride, vector);
    if (failed(s)) return s;
    cleanup.template addObject<kstd_vector32s, &kstd_vector32s_destruct>(ksys_cleanupDestroyAlways, vector);
    int32_t size = 0;
    return kstd_vector32s_getBeginSize32Const(vector, begin, &size);
}

// Whether the 32-bit offsets of a kernel of this size reach within one window without wrapping.
bool offsetsFit(const kstd_pair32& size, int64_t stride) {
    return (int64_t{size.y} - 1) * stride + size.x - 1 <= INT32_MAX;
}

template <class V, bool kImageMask, class H>
kip_status maskedEngine(const kimg_windowConst* source, const kimg_windowConst* mask, double percentile,
                        const kip_filterMaskKernel* kernel, const kimg_window* destination) {
    using Pixel = typename V::Pixel;
    using Col = typename H::Col;
    constexpr int32_t S = H::kColumns;
    KIP_REQUIRE(source);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    if constexpr (kImageMask) KIP_REQUIRE(mask);
    Geometry<Pixel> g;
    if (!makeGeometry(*source, kImageMask ? mask : nullptr, *destination, &g)) return kstd_errInvalidArgument;
    kstd_pair32 size{};
    const kip_filterMaskKernelEncoded* encoded = nullptr;
    kip_status s = kip_filterMaskKernel_getSize(kernel, &size);
    if (!failed(s)) s = kip_filterMaskKernel_getEncodedKernel(kernel, &encoded);
    if (failed(s)) return s;
    if (g.W == 0 || g.H == 0) return 0;
    const int64_t halfW = size.x >> 1, halfH = size.y >> 1;

    // Positions (column, row) of the half-turned mask, one entering and one leaving per stretch.
    const kstd_pair32 *enterAt = nullptr, *leaveAt = nullptr;
    int32_t stretches = 0, leavingCount = 0;
    s = kstd_vector_kstd_pair32_getBeginSize32Const(&encoded->entering, &enterAt, &stretches);
    if (!failed(s)) s = kstd_vector_kstd_pair32_getBeginSize32Const(&encoded->leaving, &leaveAt, &leavingCount);
    if (failed(s)) return s;
    KIP_ASSERT(stretches == leavingCount);
    if (stretches != leavingCount) return kstd_errInvalidArgument;
    int64_t members = 0;
    for (int32_t j = 0; j < stretches; ++j) members += int64_t{enterAt[j].y} - leaveAt[j].y + 1;
    if (!H::admits(members)) return kip_errNotAvailable;

    Cleanup<5> cleanup;
    kstd_vector32s vectors[4];
    const int32_t *enterOffset = nullptr, *leaveOffset = nullptr;
    const int32_t *enterMaskOffset = nullptr, *leaveMaskOffset = nullptr;
    s = offsetsFor(encoded, true, source->stride, &vectors[0], &enterOffset, cleanup);
    if (!failed(s)) s = offsetsFor(encoded, false, source->stride, &vectors[1], &leaveOffset, cleanup);
    if constexpr (kImageMask) {
        if (!failed(s)) s = offsetsFor(encoded, true, mask->stride, &vectors[2], &enterMaskOffset, cleanup);
        if (!failed(s)) s = offsetsFor(encoded, false, mask->stride, &vectors[3], &leaveMaskOffset, cleanup);
    }
    H bins;
    if (!failed(s)) s = bins.acquire(cleanup);
    if (failed(s)) return cleanup.finish(s);
    const bool fit = offsetsFit(size, g.sourceStride) && (!kImageMask || offsetsFit(size, g.maskStride));

    // Adds (or removes) the pixels at the given positions of the neighbourhood whose top-left
    // is (ox, oy); cut tells whether that neighbourhood reaches past the source.
    const auto apply = [&](Col& c, int32_t& count, int64_t ox, int64_t oy, bool cut, const kstd_pair32* at,
                           const int32_t* offset, const int32_t* maskOffset, bool add) {
        if (!cut) {
            const Pixel* base = g.sourceRow(oy) + ox;
            const uint8_t* maskBase = kImageMask ? g.maskRow(oy) + ox : nullptr;
            for (int32_t j = 0; j < stretches; ++j) {
                if (kImageMask && !maskBase[maskOffset[j]]) continue;
                if (add)
                    c.add(base[offset[j]]), ++count;
                else
                    c.removeChecked(base[offset[j]]), --count;
            }
            return;
        }
        for (int32_t j = 0; j < stretches; ++j) {
            const int64_t sx = ox + at[j].x, sy = oy + at[j].y;
            if (sx < 0 || sx >= g.W || sy < g.firstRow || sy > g.lastRow) continue;
            if (kImageMask && !g.maskRow(sy)[sx]) continue;
            if (add)
                c.add(g.sourceRow(sy)[sx]), ++count;
            else
                c.removeChecked(g.sourceRow(sy)[sx]), --count;
        }
    };

    TargetCount target(percentile);
    Col columns[S];
    int32_t counts[S];
    bool columnUncut[S];
    for (int32_t x0 = 0; x0 < g.W; x0 += S) {
        s = bins.clear();
        if (failed(s)) break;
        const int32_t n = std::min(S, g.W - x0);
        for (int32_t i = 0; i < n; ++i) {
            Col& c = columns[i];
            c = bins.start(i);
            counts[i] = 0;
            const int64_t x = x0 + i, ox = x - halfW, oy = -halfH;
            columnUncut[i] = fit && ox >= 0 && x + halfW < g.W;
            // The neighbourhood of row 0: each stretch's rows that lie in the source.
            for (int32_t j = 0; j < stretches; ++j) {
                const int64_t sx = ox + enterAt[j].x;
                if (sx < 0 || sx >= g.W) continue;
                const int64_t from = std::max<int64_t>(oy + leaveAt[j].y, g.firstRow);
                const int64_t to = std::min<int64_t>(oy + enterAt[j].y, g.lastRow);
                for (int64_t sy = from; sy <= to; ++sy)
                    if (!kImageMask || g.maskRow(sy)[sx]) c.add(g.sourceRow(sy)[sx]), ++counts[i];
            }
        }
        for (int32_t y = 0; y < g.H; ++y) {
            const int64_t oy = y - halfH;
            const bool rowUncut = oy >= g.firstRow && y + halfH <= g.lastRow;
            Pixel* out = g.destinationRow(y);
            const uint8_t* centreMask = kImageMask ? g.maskRow(y) : nullptr;
            g.prefetchRow(y + halfH + kRowsAhead, std::max<int64_t>(0, x0 - halfW),
                          std::min<int64_t>(g.W - 1, x0 + n - 1 + halfW));
            for (int32_t i = 0; i < n; ++i) {
                const int32_t x = x0 + i;
                const int64_t ox = x - halfW;
                const bool cut = !(rowUncut && columnUncut[i]);
                // Worked on in locals: the histogram's stores cannot alias them.
                Col c = columns[i];
                int32_t count = counts[i];
                if (y > 0) apply(c, count, ox, oy, cut, enterAt, enterOffset, enterMaskOffset, true);
                if (!kImageMask || (centreMask[x] && count > 0)) out[x] = static_cast<Pixel>(c.search(target(count)));
                if (y + 1 < g.H) apply(c, count, ox, oy, cut, leaveAt, leaveOffset, leaveMaskOffset, false);
                columns[i] = c;
                counts[i] = count;
            }
        }
    }
    return cleanup.finish(s);
}

}  // namespace
}  // namespace kip::rank

extern "C" {

using namespace kip::rank;

kip_status kip_filterRankMasked8_(const kimg_windowConst* source, double percentile, const kip_filterMaskKernel* kernel,
                                  const kimg_window* destination) {
    return maskedEngine<Variant8, false, FlatStrip<Variant8, Variant8::kStrip>>(source, nullptr, percentile, kernel,
                                                                                destination);
}

kip_status kip_filterRankMasked16_(const kimg_windowConst* source, double percentile,
                                   const kip_filterMaskKernel* kernel, const kimg_window* destination) {
    return maskedEngine<Variant16, false, FlatStrip<Variant16, Variant16::kStrip>>(source, nullptr, percentile, kernel,
                                                                                   destination);
}

kip_status kip_filterRankMaskedImageMask8_(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                           double percentile, const kip_filterMaskKernel* kernel,
                                           const kimg_window* destination) {
    return maskedEngine<Variant8, true, FlatStrip<Variant8, Variant8::kMaskedImageMaskStrip>>(
        source, imageMask, percentile, kernel, destination);
}

kip_status kip_filterRankMaskedImageMask16_(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                            double percentile, const kip_filterMaskKernel* kernel,
                                            const kimg_window* destination) {
    return maskedEngine<Variant16, true, FlatStrip<Variant16, Variant16::kMaskedImageMaskStrip>>(
        source, imageMask, percentile, kernel, destination);
}

kip_status kip_filterRankMaskedTwoLevel16_(const kimg_windowConst* source, double percentile,
                                           const kip_filterMaskKernel* kernel, const kimg_window* destination) {
    return maskedEngine<Variant16, false, TwoLevelStrip<Variant16::kTwoLevelStrip>>(source, nullptr, percentile, kernel,
                                                                                    destination);
}

kip_status kip_filterRankMaskedImageMaskTwoLevel16_(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                                    double percentile, const kip_filterMaskKernel* kernel,
                                                    const kimg_window* destination) {
    return maskedEngine<Variant16, true, TwoLevelStrip<1>>(source, imageMask, percentile, kernel, destination);
}

}  // extern "C"
