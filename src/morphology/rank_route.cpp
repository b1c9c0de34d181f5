// Flat elements whose mask is not full go to the rank filter, whose border and image-mask rules
// then hold. The rank family is not in the library yet, so the route declines.
#include "morphology/morphology_internal.hpp"
#include "platform/assert.hpp"

extern "C" {

kip_status kip_filterMorphologyRankRoute8_(const kimg_windowConst* source, const kimg_windowConst*,
                                           const kip_filterMorphologyParams* params,
                                           const kip_filterMorphologyStructuringElement* element, int32_t,
                                           const kimg_window* output) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(element);
    KIP_REQUIRE(output);
    return kip_errNotAvailable;
}

kip_status kip_filterMorphologyRankRoute16_(const kimg_windowConst* source, const kimg_windowConst*,
                                            const kip_filterMorphologyParams* params,
                                            const kip_filterMorphologyStructuringElement* element, int32_t,
                                            const kimg_window* output) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(element);
    KIP_REQUIRE(output);
    return kip_errNotAvailable;
}

}  // extern "C"
