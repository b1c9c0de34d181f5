// The 8-bit and 16-bit rank filters as policies of one implementation.
#pragma once

#include "frame/hook.hpp"
#include "kip/platform/pixel.h"
#include "kip/window.h"
#include "rank/rank_internal.hpp"
#include "rank/rect_fast.hpp"

namespace kip::rank {

struct Variant8 {
    using Pixel = uint8_t;
    static constexpr uint32_t kDepth = 1;
    static constexpr int32_t kLevels = 256;
    static constexpr int32_t kStartLevel = 128;
    // 32 columns of 256 counts (32 KiB) stay in the frame and in the first-level cache.
    static constexpr bool kFrameHistograms = true;
    static constexpr int32_t kStrip = 32;
    static constexpr int32_t kMaskedImageMaskStrip = 32;
    // The rectangular image-mask engine keeps a running count: no table needed.
    static constexpr bool kCountTable = false;
    static constexpr auto kLabel = makeLabel("kip_filterRank8_rectangular");
    static constexpr auto kMaskedLabel = makeLabel("kip_filterRank8_masked");
    static constexpr auto fast = &kip_filterRankRectFast8_;
    static constexpr auto rect = &kip_filterRankRect8_;
    static constexpr auto rectImageMask = &kip_filterRankRectImageMask8_;
    static constexpr auto masked = &kip_filterRankMasked8_;
    static constexpr auto maskedImageMask = &kip_filterRankMaskedImageMask8_;
    // Faster engines behind kMaskedLabel (or kTwoLevelLabel); null where there is none.
    static constexpr auto maskedFast = &kip_filterRankMaskedFast8_;
    static constexpr auto maskedImageMaskFast = &kip_filterRankMaskedImageMaskFast8_;
    static constexpr decltype(rect) rectTwoLevel = nullptr;
    static constexpr auto prepare = &kip_filterInitializeGCRWindow8_;
    static constexpr auto copy = &kip_pelCopyWindow8;
    static constexpr auto postGCR = &kip_filterRankWindow8PostGCR;
    static constexpr auto window = &kip_filterRankWindow8;
};

struct Variant16 {
    using Pixel = uint16_t;
    static constexpr uint32_t kDepth = 2;
    static constexpr int32_t kLevels = 65536;
    static constexpr int32_t kStartLevel = 32768;
    // 256 KiB per column: strips of 8 (2 MiB) from the heap; a single column with an image mask.
    static constexpr bool kFrameHistograms = false;
    static constexpr int32_t kStrip = 8;
    static constexpr int32_t kMaskedImageMaskStrip = 1;
    // The count table tells an empty neighbourhood before its rows are scanned.
    static constexpr bool kCountTable = true;
    static constexpr auto kLabel = makeLabel("kip_filterRank16_rectangular");
    // One label for every engine over two-level histograms.
    static constexpr auto kMaskedLabel = makeLabel("kip_filterRank16_twoLevel");
    static constexpr auto kTwoLevelLabel = kMaskedLabel;
    // 136 KiB per column; wider strips read each source row fewer times.
    static constexpr int32_t kTwoLevelStrip = 8;
    static constexpr auto fast = &kip_filterRankRectFast16_;
    static constexpr auto rect = &kip_filterRankRect16_;
    static constexpr auto rectImageMask = &kip_filterRankRectImageMask16_;
    static constexpr auto masked = &kip_filterRankMasked16_;
    static constexpr auto maskedImageMask = &kip_filterRankMaskedImageMask16_;
    static constexpr auto maskedFast = &kip_filterRankMaskedTwoLevel16_;
    static constexpr auto maskedImageMaskFast = &kip_filterRankMaskedImageMaskTwoLevel16_;
    static constexpr auto rectTwoLevel = &kip_filterRankRectTwoLevel16_;
    static constexpr auto prepare = &kip_filterInitializeGCRWindow16_;
    static constexpr auto copy = &kip_pelCopyWindow16;
    static constexpr auto postGCR = &kip_filterRankWindow16PostGCR;
    static constexpr auto window = &kip_filterRankWindow16;
};

}  // namespace kip::rank
