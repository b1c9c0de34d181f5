// The dispatch on prepared windows: masked kernels to the masked engines, rectangles with an
// image mask to the rectangular image-mask engine, plain rectangles to the optimised path behind
// its hook label and, when that declines, to the general rectangular engine. Where a depth has a
// faster engine of the same results (16-bit histograms in two levels), it is tried first behind
// its own label; the general engine serves whatever it declines.
#include "frame/cleanup.hpp"
#include "rank/variants.hpp"

using kip::failed;

namespace kip::rank {
namespace {

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
                if (!optimizationInhibited(V::kMaskedLabel.text))
                    s = V::maskedImageMaskFast(source, mask, p, kernel, destination);
            if (kip_status_isNotAvailable(s)) s = V::maskedImageMask(source, mask, p, kernel, destination);
        } else {
            if constexpr (V::maskedFast != nullptr)
                if (!optimizationInhibited(V::kMaskedLabel.text)) s = V::maskedFast(source, p, kernel, destination);
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
        if (kip_status_isNotAvailable(s) && !optimizationInhibited(V::kTwoLevelLabel.text))
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
