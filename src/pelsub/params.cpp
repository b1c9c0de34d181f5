// The neighbourhood-size record of local background subtraction.
#include "frame/cleanup.hpp"
#include "kip/pelsub.h"
#include "platform/assert.hpp"
#include "platform/typecheck.hpp"

extern "C" {

kip_status kip_pelSubLocalParams_construct(kip_pelSubLocalParams* params) {
    KIP_REQUIRE(params);
    return kstd_pair32_init(params, 3, 3);
}

kip_status kip_pelSubLocalParams_constructCopy(kip_pelSubLocalParams* params, const kip_pelSubLocalParams* source) {
    KIP_REQUIRE(params);
    KIP_REQUIRE(source);
    kip_status s = kip_pelSubLocalParams_construct(params);
    if (kip::failed(s)) return s;
    kip::Cleanup<1> c;
    c.addObject<kip_pelSubLocalParams, &kip_pelSubLocalParams_destruct>(ksys_cleanupDestroyOnFailure, params);
    return c.finish(kip_pelSubLocalParams_assign(params, source));
}

kip_status kip_pelSubLocalParams_assign(kip_pelSubLocalParams* params, const kip_pelSubLocalParams* source) {
    KIP_REQUIRE(params);
    KIP_REQUIRE(source);
    if (params == source) return 0;
    params->x = source->x;
    params->y = source->y;
    return 0;
}

kip_status kip_pelSubLocalParams_destruct(kip_pelSubLocalParams* params) {
    KIP_REQUIRE(params);
    return kstd_pair32_init(params, 3, 3);
}

kip_status kip_pelSubLocalParams_reset(kip_pelSubLocalParams* params) {
    KIP_REQUIRE(params);
    return kstd_pair32_init(params, 3, 3);
}

kip_status kip_pelSubLocalParams_validate(const kip_pelSubLocalParams* params) {
    KIP_REQUIRE(params);
    const bool ok = params->x >= 1 && params->y >= 1 && (params->x & 1) == 1 && (params->y & 1) == 1;
    return ok ? 0 : kip_errKernelSizeNotOdd;
}

}  // extern "C"

KSYS_DEFINE_TYPE_CHECKS(kip_pelSubLocalParams)
