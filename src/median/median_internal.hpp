// Internal steps of the median filter. Windows passed here are already cut to the common
// rectangle (a band's source window may hold extra rows above and below its destination).
#pragma once

#include <cstdint>

#include "kip/median.h"
#include "kip/platform/job.h"

extern "C" {

// The sorting-network median: the median of each destination pixel's neighbourhood cut at the
// source window's rows and the destination's columns, or kip_errNotAvailable before writing
// anything when the processor, the kernel (not rectangular, or outside 3..9 in either
// direction), an image mask, the border mode or a destination narrower than the kernel width
// less one rule it out.
kip_status kip_filterMedianNetwork8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                     const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                     const kimg_window* destination);
kip_status kip_filterMedianNetwork16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                      const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                      const kimg_window* destination);

// For each of `width` columns, output row j (outputPitch pixels apart) receives the value of rank
// (n - k) / 2 + j among the n inputs, j < k; k odd and at most n. Inputs are read up to column
// max(width, block) - 1 and, for k > 1, output rows written as far: callers leave a block of room.
kip_status kip_selectCentral8_(const uint8_t* const* inputs, int32_t n, uint8_t* output, int32_t outputPitch, int32_t k,
                               int32_t width);
kip_status kip_selectCentral16_(const uint16_t* const* inputs, int32_t n, uint16_t* output, int32_t outputPitch,
                                int32_t k, int32_t width);

}  // extern "C"

extern "C" {

// The rank route: the rank filter's prepared-window entry at percentile 0.5, with the median
// parameters' border mode.
kip_status kip_filterMedianByRank8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                    const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                    const kimg_window* destination);
kip_status kip_filterMedianByRank16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                     const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                     const kimg_window* destination);

// Band jobs: the job parameters hold one kip::median::BandJob; the second argument is not read.
kip_status kip_filterMedianJob8_(const ksys_jobParams* params, uint32_t threadIndex);
kip_status kip_filterMedianJob16_(const ksys_jobParams* params, uint32_t threadIndex);

}  // extern "C"

namespace kip::median {

// One band: bitwise copies of the prepared windows (the source's rows widened by the kernel's
// half-height), the parameters and the caller's kernel record, which outlives every job because
// the window entry waits for them all.
struct BandJob {
    kimg_windowConst source;
    uint32_t maskUsed;
    kimg_windowConst mask;
    kip_filterMedianParams params;
    kip_filterMaskKernel kernel;
    kimg_window destination;
};

// No job gets fewer destination pixels than this: smaller images are not worth the dispatch.
constexpr double kPixelsPerJob = 131072.0;

}  // namespace kip::median
