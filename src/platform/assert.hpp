// Precondition checks. The handler may return (tests install one that counts), so every check
// also leaves the function with a status instead of going on with a bad pointer.
#pragma once

#include "kip/platform/system.h"

#define KIP_ASSERT(cond)                                                 \
    do {                                                                 \
        if (!(cond)) kip::assertionFailed(__FILE__, __func__, __LINE__); \
    } while (0)

// Required pointer argument: null goes to the assertion handler, then the call fails.
#define KIP_REQUIRE(ptr)                                        \
    do {                                                        \
        if ((ptr) == nullptr) {                                 \
            kip::assertionFailed(__FILE__, __func__, __LINE__); \
            return kstd_errInvalidArgument;                     \
        }                                                       \
    } while (0)

namespace kip {

// kstd_assert_ with the place of the check, which the default handler prints.
void assertionFailed(const char* file, const char* function, int32_t line);

inline bool failed(kip_status s) { return (static_cast<uint32_t>(s) & 0x80000000u) != 0; }
inline bool succeeded(kip_status s) { return !failed(s); }

}  // namespace kip
