// The 8-bit and 16-bit median as policies of one implementation.
#pragma once

#include "frame/hook.hpp"
#include "kip/platform/pixel.h"
#include "kip/rank.h"
#include "kip/window.h"
#include "median/median_internal.hpp"

namespace kip::median {

struct Variant8 {
    static constexpr uint32_t kDepth = 1;
    static constexpr auto kLabel = makeLabel("kip_filterMedianWindow8");
    static constexpr auto network = &kip_filterMedianNetwork8_;
    static constexpr auto rank = &kip_filterRankWindow8PostGCR;
    static constexpr auto byRank = &kip_filterMedianByRank8_;
    static constexpr auto job = &kip_filterMedianJob8_;
    static constexpr auto window = &kip_filterMedianWindow8;
    static constexpr auto prepare = &kip_filterInitializeGCRWindow8_;
    static constexpr auto copy = &kip_pelCopyWindow8;
};

struct Variant16 {
    static constexpr uint32_t kDepth = 2;
    static constexpr auto kLabel = makeLabel("kip_filterMedianWindow16");
    static constexpr auto network = &kip_filterMedianNetwork16_;
    static constexpr auto rank = &kip_filterRankWindow16PostGCR;
    static constexpr auto byRank = &kip_filterMedianByRank16_;
    static constexpr auto job = &kip_filterMedianJob16_;
    static constexpr auto window = &kip_filterMedianWindow16;
    static constexpr auto prepare = &kip_filterInitializeGCRWindow16_;
    static constexpr auto copy = &kip_pelCopyWindow16;
};

// The sorting networks unless the hook inhibits them, the rank route when they decline
// (instantiated for both variants in steps.cpp).
template <class V>
kip_status medianStep(const kimg_windowConst* source, const kimg_windowConst* mask,
                      const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                      const kimg_window* destination);

}  // namespace kip::median
