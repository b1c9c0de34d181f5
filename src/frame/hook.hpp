// The optimisation-inhibit hook query. Labels are UTF-16; makeLabel turns a narrow literal into
// one at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kip/platform/stdtypes.h"

namespace kip {

template <std::size_t N>
struct HookLabel {
    uint16_t text[N];
};

template <std::size_t N>
constexpr HookLabel<N> makeLabel(const char (&s)[N]) {
    HookLabel<N> label{};
    for (std::size_t i = 0; i < N; ++i) label.text[i] = static_cast<unsigned char>(s[i]);
    return label;
}

// Read on every call: callers may install or remove the hook between calls.
inline bool optimizationInhibited(const uint16_t* label) {
    int32_t (*hook)(const uint16_t*) = kprt_isOptimizationInhibitedFP;
    return hook != nullptr && hook(label) != 0;
}

}  // namespace kip
