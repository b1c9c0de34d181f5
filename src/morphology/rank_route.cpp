// Flat elements whose mask is not full go to the rank filter with the fraction 1.0 (maximum) or
// 0.0 (minimum); its border and image-mask rules then hold.
#include "kip/rank.h"
#include "morphology/morphology_internal.hpp"
#include "platform/assert.hpp"

namespace {

template <kip_status (*Rank)(const kimg_windowConst*, const kimg_windowConst*, const kip_filterRankParams*,
                             const kip_filterMaskKernel*, const kimg_window*)>
kip_status rankRoute(const kimg_windowConst* source, const kimg_windowConst* mask,
                     const kip_filterMorphologyParams* params, const kip_filterMorphologyStructuringElement* element,
                     int32_t dilate, const kimg_window* output) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(element);
    KIP_REQUIRE(output);
    kip_filterRankParams rank;
    kip_status s = kip_filterRankParams_init(&rank);
    if (kip::failed(s)) return s;
    rank.borderMode = uint32_t(params->borderMode);
    rank.percentile = dilate ? 1.0 : 0.0;
    return Rank(source, mask, &rank, &element->kernel, output);
}

}  // namespace

extern "C" {

kip_status kip_filterMorphologyRankRoute8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                           const kip_filterMorphologyParams* params,
                                           const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                           const kimg_window* output) {
    return rankRoute<&kip_filterRankWindow8>(source, mask, params, element, dilate, output);
}

kip_status kip_filterMorphologyRankRoute16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                            const kip_filterMorphologyParams* params,
                                            const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                            const kimg_window* output) {
    return rankRoute<&kip_filterRankWindow16>(source, mask, params, element, dilate, output);
}

}  // extern "C"
