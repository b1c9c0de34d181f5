// Precondition checks. The handler may return (tests install one that counts), so every check
// also leaves the function with a status instead of going on with a bad pointer.
#pragma once

#include "kip/platform/system.h"

#define KIP_ASSERT(cond)                     \
    do {                                     \
        if (!(cond)) kstd_assert_(__LINE__); \
    } while (0)

// Required pointer argument: null goes to the assertion handler, then the call fails.
#define KIP_REQUIRE(ptr)                    \
    do {                                    \
        if ((ptr) == nullptr) {             \
            kstd_assert_(__LINE__);         \
            return kstd_errInvalidArgument; \
        }                                   \
    } while (0)

namespace kip {

inline bool failed(kip_status s) { return (static_cast<uint32_t>(s) & 0x80000000u) != 0; }
inline bool succeeded(kip_status s) { return !failed(s); }

}  // namespace kip
