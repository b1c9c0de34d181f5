// Image and window entries of the 8-bit and 16-bit rank filters.
#include "frame/image_entry.hpp"
#include "frame/prepared_windows.hpp"
#include "rank/variants.hpp"

using kip::failed;

namespace kip::rank {
namespace {

template <class V>
kip_status windowEntry(const kimg_windowConst* source, const kimg_windowConst* mask, const kip_filterRankParams* params,
                       const kip_filterMaskKernel* kernel, const kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    if (params->borderMode != kip_filterBorderTruncated) return kip_errBadMode;
    uint32_t rectangular = 0;
    kip_status s = kip_filterMaskKernel_getIsRectangular(kernel, &rectangular);
    if (failed(s)) return s;
    if (wrongDepth(source, V::kDepth) || wrongDepth(destination, V::kDepth) || wrongDepth(mask, 1))
        return kimg_errDepthMismatch;

    return runOnPreparedWindows(source, mask, destination, V::prepare, V::copy, [&](const PreparedWindows& w) {
        return V::postGCR(&w.source, w.usedMask(), params, kernel, &w.destination);
    });
}

template <class V>
kip_status imageEntry(const kimg_imageConst* source, const kimg_imageConst* mask, const kip_filterRankParams* params,
                      const kip_filterMaskKernel* kernel, kimg_image* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    kip_status s = kip_filterRankParams_validate(params);
    if (!failed(s)) s = kip_filterMaskKernel_validate(kernel);
    if (failed(s)) return s;
    return runImageEntry(source, mask, destination, V::kDepth, WrittenRect::common,
                         [&](const kimg_windowConst* sw, const kimg_windowConst* mw, kimg_window* dw) {
                             return V::window(sw, mw, params, kernel, dw);
                         });
}

}  // namespace
}  // namespace kip::rank

extern "C" {

using kip::rank::imageEntry;
using kip::rank::Variant16;
using kip::rank::Variant8;
using kip::rank::windowEntry;

kip_status kip_filterRank8(const kimg_imageConst* source, const kimg_imageConst* imageMask,
                           const kip_filterRankParams* params, const kip_filterMaskKernel* kernel,
                           kimg_image* destination) {
    return imageEntry<Variant8>(source, imageMask, params, kernel, destination);
}

kip_status kip_filterRank16(const kimg_imageConst* source, const kimg_imageConst* imageMask,
                            const kip_filterRankParams* params, const kip_filterMaskKernel* kernel,
                            kimg_image* destination) {
    return imageEntry<Variant16>(source, imageMask, params, kernel, destination);
}

kip_status kip_filterRankWindow8(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                 const kip_filterRankParams* params, const kip_filterMaskKernel* kernel,
                                 const kimg_window* destination) {
    return windowEntry<Variant8>(source, imageMask, params, kernel, destination);
}

kip_status kip_filterRankWindow16(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                  const kip_filterRankParams* params, const kip_filterMaskKernel* kernel,
                                  const kimg_window* destination) {
    return windowEntry<Variant16>(source, imageMask, params, kernel, destination);
}

}  // extern "C"
