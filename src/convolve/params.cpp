// Convolution parameter record.
#include "kip/convolve.h"
#include "platform/assert.hpp"

extern "C" {

kip_status kip_filterConvolveParams_init(kip_filterConvolveParams* params) {
    KIP_REQUIRE(params);
    params->borderMode = kip_filterBorderMirrored;
    return 0;
}

kip_status kip_filterConvolveParams_validate(const kip_filterConvolveParams* params) {
    KIP_REQUIRE(params);
    const uint32_t mode = params->borderMode;
    return (mode == kip_filterBorderClipped || mode == kip_filterBorderMirrored) ? 0 : kip_errBadMode;
}

kip_status kip_filterConvolveParams_compareEqual(const kip_filterConvolveParams* a, const kip_filterConvolveParams* b,
                                                 uint32_t* equal) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    KIP_REQUIRE(equal);
    *equal = a->borderMode == b->borderMode ? 1u : 0u;
    return 0;
}

}  // extern "C"
