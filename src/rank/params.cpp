// Rank parameter record.
#include "kip/rank.h"
#include "platform/assert.hpp"

extern "C" {

kip_status kip_filterRankParams_init(kip_filterRankParams* params) {
    KIP_REQUIRE(params);
    params->borderMode = kip_filterBorderTruncated;
    params->percentile = 0.5;
    return 0;
}

kip_status kip_filterRankParams_validate(const kip_filterRankParams* params) {
    KIP_REQUIRE(params);
    if (params->borderMode != kip_filterBorderTruncated) return kip_errBadMode;
    // Written so that NaN fails too.
    if (!(params->percentile >= 0.0 && params->percentile <= 1.0)) return kip_errRankOutOfRange;
    return 0;
}

kip_status kip_filterRankParams_compareEqual(const kip_filterRankParams* a, const kip_filterRankParams* b,
                                             uint32_t* equal) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    KIP_REQUIRE(equal);
    const bool ordered = a->percentile < b->percentile || a->percentile > b->percentile;
    *equal = a->borderMode == b->borderMode && !ordered ? 1u : 0u;
    return 0;
}

}  // extern "C"
