// The dispatch on prepared windows: masked kernels to the masked engines, rectangles with an
// image mask to the rectangular image-mask engine, plain rectangles to the optimised path behind
// its hook label and, when that declines, to the general rectangular engine. Where a depth has a
// faster engine of the same results (16-bit histograms in two levels), it is tried first behind
// its own label; the general engine serves whatever it declines.
#include <algorithm>
#include <cstdlib>

#include "frame/cleanup.hpp"
#include "kip/encoded_kernel.h"
#include "platform/pixel_address.hpp"
#include "rank/variants.hpp"

using kip::failed;

namespace kip::rank {
namespace {

// Whether the percentile's level is likely to move far from one row to the next: the mean step
// between vertically adjacent source pixels on a sparse grid of about 4096 pairs, shrunk by the
// square root of the neighbourhood's size (the level of n pixels moves about that much less than
// one pixel does), against 256 levels. The two-level histograms pay twice on every update to cross
// such moves in strides; where the level creeps, the flat bins are cheaper. Measured at one thread
// on 4096 x 4096 (a shared machine: a tenth is within its noise), flat against two-level: the
// full-range scene (step about 1000) runs alike at 5 x 5 and on the radius-7 disk and a tenth
// faster flat at 15 x 15; 12-bit noise (step 1365) alike at 5 x 5 and a tenth to a fifth faster
// flat at 15 x 15; full-range noise (step 21845) three times faster in two levels at 5 x 5, a
// fifth at 15 x 15 and twice on the disk. A step alone (two levels from a step of 256) sent the
// full-range scene and 12-bit noise to two levels.
template <class Pixel>
bool levelsJumpFar(const kimg_windowConst& source, int64_t neighbourhood) {
    constexpr double kFarMove = 256.0;
    const kstd_rect32& r = source.rect;
    if (r.height < 2 || r.width < 1 || source.pixels == nullptr) return true;
    const int32_t rowStep = r.height > 65 ? (r.height - 1) / 64 : 1;
    const int32_t columnStep = r.width > 64 ? r.width / 64 : 1;
    int64_t sum = 0, pairs = 0;
    for (int32_t y = r.y; y + 1 < r.y + r.height; y += rowStep) {
        const Pixel* upper = pixelAt<Pixel>(source, r.x, y);
        const Pixel* lower = pixelAt<Pixel>(source, r.x, y + 1);
        for (int32_t x = 0; x < r.width; x += columnStep, ++pairs) sum += std::abs(int32_t{upper[x]} - lower[x]);
    }
    const double step = double(sum) / double(pairs);
    return step * step >= kFarMove * kFarMove * double(std::max<int64_t>(neighbourhood, 1));
}

// Members of a masked kernel, from its encoded stretches; 1 when the kernel cannot tell (the
// engine then reports why).
int64_t memberCount(const kip_filterMaskKernel* kernel) {
    const kip_filterMaskKernelEncoded* encoded = nullptr;
    const kstd_pair32 *enterAt = nullptr, *leaveAt = nullptr;
    int32_t stretches = 0, leaving = 0;
    if (failed(kip_filterMaskKernel_getEncodedKernel(kernel, &encoded)) ||
        failed(kstd_vector_kstd_pair32_getBeginSize32Const(&encoded->entering, &enterAt, &stretches)) ||
        failed(kstd_vector_kstd_pair32_getBeginSize32Const(&encoded->leaving, &leaveAt, &leaving)) ||
        leaving != stretches)
        return 1;
    int64_t members = 0;
    for (int32_t j = 0; j < stretches; ++j) members += int64_t{enterAt[j].y} - leaveAt[j].y + 1;
    return members;
}

// The 8-bit masked sweep always pays; the 16-bit two-level engines where levels move far.
template <class V>
bool fastPays(const kimg_windowConst& source, const kip_filterMaskKernel* kernel) {
    if constexpr (V::kDepth == 1)
        return true;
    else
        return levelsJumpFar<typename V::Pixel>(source, memberCount(kernel));
}

template <class V>
kip_status postGCR(const kimg_windowConst* source, const kimg_windowConst* mask, const kip_filterRankParams* params,
                   const kip_filterMaskKernel* kernel, const kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    if (params->borderMode != kip_filterBorderTruncated) return kip_errBadMode;
    uint32_t rectangular = 0;
    kip_status s = kip_filterMaskKernel_getIsRectangular(kernel, &rectangular);
    if (failed(s)) return s;
    if (mask) {
        uint32_t isNull = 0;
        s = kimg_windowConst_getIsNull(mask, &isNull);
        if (failed(s)) return s;
        if (isNull) mask = nullptr;
    }
    // The engines read pixels at the widths the names promise.
    if (source->bytesPerPixel != int32_t{V::kDepth} || destination->bytesPerPixel != int32_t{V::kDepth} ||
        (mask && mask->bytesPerPixel != 1))
        return kimg_errDepthMismatch;
    const double p = params->percentile;
    if (!rectangular) {
        s = kip_errNotAvailable;
        if (mask) {
            if constexpr (V::maskedImageMaskFast != nullptr)
                if (!optimizationInhibited(V::kMaskedLabel.text) && fastPays<V>(*source, kernel))
                    s = V::maskedImageMaskFast(source, mask, p, kernel, destination);
            if (kip_status_isNotAvailable(s)) s = V::maskedImageMask(source, mask, p, kernel, destination);
        } else {
            if constexpr (V::maskedFast != nullptr)
                if (!optimizationInhibited(V::kMaskedLabel.text) && fastPays<V>(*source, kernel))
                    s = V::maskedFast(source, p, kernel, destination);
            if (kip_status_isNotAvailable(s)) s = V::masked(source, p, kernel, destination);
        }
        return s;
    }
    kstd_pair32 size{};
    s = kip_filterMaskKernel_getSize(kernel, &size);
    if (failed(s)) return s;
    if (mask) return V::rectImageMask(source, mask, p, &size, destination);
    s = optimizationInhibited(V::kLabel.text) ? kip_errNotAvailable : V::fast(source, p, &size, destination);
    if constexpr (V::rectTwoLevel != nullptr)
        if (kip_status_isNotAvailable(s) && !optimizationInhibited(V::kTwoLevelLabel.text) &&
            levelsJumpFar<typename V::Pixel>(*source, int64_t{size.x} * size.y))
            s = V::rectTwoLevel(source, p, &size, destination);
    if (kip_status_isNotAvailable(s)) s = V::rect(source, p, &size, destination);
    return s;
}

}  // namespace
}  // namespace kip::rank

extern "C" {

kip_status kip_filterRankWindow8PostGCR(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                        const kip_filterRankParams* params, const kip_filterMaskKernel* kernel,
                                        const kimg_window* destination) {
    return kip::rank::postGCR<kip::rank::Variant8>(source, imageMask, params, kernel, destination);
}

kip_status kip_filterRankWindow16PostGCR(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                         const kip_filterRankParams* params, const kip_filterMaskKernel* kernel,
                                         const kimg_window* destination) {
    return kip::rank::postGCR<kip::rank::Variant16>(source, imageMask, params, kernel, destination);
}

}  // extern "C"
