// The one 8/16-bit policy of morphology, and the maximum/minimum pair as a policy of the same
// template: pixel type, depth code, neutral values, hook labels, steps.
#pragma once

#include "frame/hook.hpp"
#include "kip/platform/pixel.h"
#include "morphology/morphology_internal.hpp"

namespace kip::morphology {

template <class T, bool Dilate>
struct Extreme {
    // What a position outside the image or the mask contributes: nothing.
    static constexpr T kNeutral = Dilate ? T(0) : T(~T(0));
    static T pick(T a, T b) { return Dilate ? (a > b ? a : b) : (a < b ? a : b); }
};

struct Variant8 {
    using Pixel = uint8_t;
    static constexpr uint32_t kDepth = 1;
    static constexpr auto kLabelWeighted = makeLabel("kip_morphology_weighted");
    static constexpr auto kLabelClipped = makeLabel("kip_morphology_clipped");
    static constexpr auto kLabelRow = makeLabel("kip_morphology_row_weighted_noImageMask");
    static constexpr auto kLabelRowMasked = makeLabel("kip_morphology_row_weighted_imageMask");
    static constexpr auto kLabelCol = makeLabel("kip_morphology_col");
    static constexpr auto kLabelRuns = makeLabel("kip_morphology_runs");
    static constexpr auto row = &kip_filterMorphologyRow8_;
    static constexpr auto rowMasked = &kip_filterMorphologyRowMasked8_;
    static constexpr auto col = &kip_filterMorphologyCol8_;
    static constexpr auto rowVector = &kip_filterMorphologyRowSse8_;
    static constexpr auto rowMaskedVector = &kip_filterMorphologyRowMaskedSse8_;
    static constexpr auto colVector = &kip_filterMorphologyColSse8_;
    static constexpr auto general = &kip_filterMorphologyGeneral8_;
    static constexpr auto flat = &kip_filterMorphologyFlat8_;
    static constexpr auto rankRoute = &kip_filterMorphologyRankRoute8_;
    static constexpr auto runs = &kip_filterMorphologyRuns8_;
    static constexpr auto fastTruncated = &kip_filterMorphologyFastTruncated8_;
    static kip_status copyWindow(const kimg_windowConst* s, kimg_window* d) { return kip_pelCopyWindow8(s, d); }
};

struct Variant16 {
    using Pixel = uint16_t;
    static constexpr uint32_t kDepth = 2;
    static constexpr auto kLabelWeighted = makeLabel("kip_morphology_weighted16");
    static constexpr auto kLabelClipped = makeLabel("kip_morphology_clipped16");
    static constexpr auto kLabelRow = makeLabel("kip_morphology_row_weighted_noImageMask16");
    static constexpr auto kLabelRowMasked = makeLabel("kip_morphology_row_weighted_imageMask16");
    static constexpr auto kLabelCol = makeLabel("kip_morphology_col16");
    static constexpr auto kLabelRuns = makeLabel("kip_morphology_runs16");
    static constexpr auto row = &kip_filterMorphologyRow16_;
    static constexpr auto rowMasked = &kip_filterMorphologyRowMasked16_;
    static constexpr auto col = &kip_filterMorphologyCol16_;
    static constexpr auto rowVector = &kip_filterMorphologyRowSse16_;
    static constexpr auto rowMaskedVector = &kip_filterMorphologyRowMaskedSse16_;
    static constexpr auto colVector = &kip_filterMorphologyColSse16_;
    static constexpr auto general = &kip_filterMorphologyGeneral16_;
    static constexpr auto flat = &kip_filterMorphologyFlat16_;
    static constexpr auto rankRoute = &kip_filterMorphologyRankRoute16_;
    static constexpr auto runs = &kip_filterMorphologyRuns16_;
    static kip_status fastTruncated(const kimg_windowConst*, const kimg_windowConst*, const kip_filterMorphologyParams*,
                                    const kip_filterMorphologyStructuringElement*, int32_t, const kimg_window*) {
        return kip_errNotAvailable;
    }
    static kip_status copyWindow(const kimg_windowConst* s, kimg_window* d) { return kip_pelCopyWindow16(s, d); }
};

template <class T>
struct VariantOf;
template <>
struct VariantOf<uint8_t> {
    using type = Variant8;
};
template <>
struct VariantOf<uint16_t> {
    using type = Variant16;
};

}  // namespace kip::morphology
