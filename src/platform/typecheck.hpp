// Defines the four type-check exports of a type (declared with KSYS_DECLARE_TYPE_CHECKS).
#pragma once

#include "kip/platform/system.h"

#define KSYS_DEFINE_TYPE_CHECKS(T)                                                         \
    extern "C" KIP_API kip_status ksys_typeCheck_##T(const T*) { return 0; }               \
    extern "C" KIP_API kip_status ksys_typeCheckPtr_##T(T* const*) { return 0; }           \
    extern "C" KIP_API kip_status ksys_typeCheckFunc_##T(kip_status (*)(T*)) { return 0; } \
    extern "C" KIP_API kip_status ksys_typeCheckFuncPtr_##T(kip_status (*const*)(T*)) { return 0; }
