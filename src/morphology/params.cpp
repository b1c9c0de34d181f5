// Morphology parameter record.
#include "kip/morphology.h"
#include "platform/assert.hpp"

extern "C" {

kip_status kip_filterMorphologyParams_init(kip_filterMorphologyParams* params) {
    KIP_REQUIRE(params);
    params->borderMode = kip_filterBorderTruncated;
    return 0;
}

kip_status kip_filterMorphologyParams_validate(const kip_filterMorphologyParams* params) {
    KIP_REQUIRE(params);
    return params->borderMode >= 0 && params->borderMode <= 1 ? 0 : kip_errBadMode;
}

kip_status kip_filterMorphologyParams_compareEqual(const kip_filterMorphologyParams* a,
                                                   const kip_filterMorphologyParams* b, uint32_t* equal) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    KIP_REQUIRE(equal);
    *equal = a->borderMode == b->borderMode ? 1u : 0u;
    return 0;
}

}  // extern "C"
