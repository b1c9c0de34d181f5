#include "kip/version.h"

#include "platform/assert.hpp"

extern "C" kip_status kip_getVersion(uint32_t* major, uint32_t* minor, uint32_t* patch) {
    KIP_REQUIRE(major);
    KIP_REQUIRE(minor);
    KIP_REQUIRE(patch);
    *major = KIP_VERSION_MAJOR;
    *minor = KIP_VERSION_MINOR;
    *patch = KIP_VERSION_PATCH;
    return 0;
}
