// Median parameter record.
#include "kip/median.h"
#include "platform/assert.hpp"

extern "C" {

kip_status kip_filterMedianParams_init(kip_filterMedianParams* params) {
    KIP_REQUIRE(params);
    params->borderMode = kip_filterBorderTruncated;
    return 0;
}

kip_status kip_filterMedianParams_validate(const kip_filterMedianParams* params) {
    KIP_REQUIRE(params);
    return params->borderMode == kip_filterBorderTruncated ? 0 : kip_errBadMode;
}

kip_status kip_filterMedianParams_compareEqual(const kip_filterMedianParams* a, const kip_filterMedianParams* b,
                                               uint32_t* equal) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    KIP_REQUIRE(equal);
    *equal = a->borderMode == b->borderMode ? 1u : 0u;
    return 0;
}

}  // extern "C"
