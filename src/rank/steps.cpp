// The dispatch on prepared windows: masked kernels to the masked engines, rectangles with an
// image mask to the rectangular image-mask engine, plain rectangles to the optimised path behind
// its hook label and, when that declines, to the general rectangular engine. Where a depth has a
// faster engine of the same results (16-bit histograms in two levels), it is tried first behind
// its own label; the general engine serves whatever it declines.
#include <cstdlib>

#include "frame/cleanup.hpp"
#include "platform/pixel_address.hpp"
#include "rank/variants.hpp"

using kip::failed;

namespace kip::rank {
namespace {

// Whether the percentile's level is likely to jump far from one row to the next, judged by the
// mean step between vertically adjacent source pixels on a sparse grid of about 4096 pairs. The
// two-level histograms pay on every update to cross such jumps in strides; where the level
// creeps, the flat bins are cheaper. Measured at one thread on 4096 x 4096 (5 x 5 to 15 x 15):
// steps of about 64 (a scene of 12 bits) run a quarter faster flat, steps of 1000 (the same scene
// in 16 bits) run alike, steps of 1365 and more (noise) run a fifth to three times faster in two
// levels.
template <class Pixel>
bool levelsJumpFar(const kimg_windowConst& source) {
    constexpr int64_t kFarStep = 256;
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
    return sum >= kFarStep * pairs;
}

// The 8-bit masked sweep always pays; the 16-bit two-level engines where levels jump far.
template <class V>
bool fastPays(const kimg_windowConst& source) {
    if constexpr (V::kDepth == 1)
        return true;
    else
        return levelsJumpFar<typename V::Pixel>(source);
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
                if (!optimizationInhibited(V::kMaskedLabel.text) && fastPays<V>(*source))
                    s = V::maskedImageMaskFast(source, mask, p, kernel, destination);
            if (kip_status_isNotAvailable(s)) s = V::maskedImageMask(source, mask, p, kernel, destination);
        } else {
            if constexpr (V::maskedFast != nullptr)
                if (!optimizationInhibited(V::kMaskedLabel.text) && fastPays<V>(*source))
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
            levelsJumpFar<typename V::Pixel>(*source))
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
