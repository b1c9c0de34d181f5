// The 8-bit rectangular rank fast path: the results of kip_filterRankRect8_ through 16-bit
// per-column histograms kept for a strip of columns at once, updated by a vectorised sweep along
// each entering and leaving row.
#pragma once

#include <cstdint>

#include "kip/platform/image.h"
#include "kip/status.h"

extern "C" {

// Rank of percentile over the size.x x size.y rectangle around each destination pixel, cut at the
// window's border. The source has the destination's width and x origin and may reach up to half
// the kernel height above and below it. kip_errNotAvailable, with the destination untouched, for
// kernels of fewer than 4 or more than 65535 pixels, processors without SSE2, and geometry the
// general engine should decide (overlapping windows, a source that does not cover the rows).
kip_status kip_filterRankRectFast8_(const kimg_windowConst* source, double percentile, const kstd_pair32* size,
                                    const kimg_window* destination);
// No 16-bit fast path: always kip_errNotAvailable.
kip_status kip_filterRankRectFast16_(const kimg_windowConst* source, double percentile, const kstd_pair32* size,
                                     const kimg_window* destination);

// One row update of a strip of S = 8 * vectors columns. For the t-th of count source columns
// (t = 1, 2, ...), strip columns max(0, initialRun + t - kernelWidth) .. initialRun + t - 1 hold
// it in their neighbourhood; its leaving pixel is removed from them (remove) and its entering pixel
// added (add), in the histogram (256 bins of S counters, bin-major) and in the counts at or below
// each column's level. membership holds 3 * S lanes: S zeros, min(kernelWidth, S) lanes of
// 0xFFFF, zeros. Requires 0 <= initialRun < kernelWidth and count <= S + kernelWidth - 1 -
// initialRun. The instruction set is chosen from ksys_cpuinfo; kip_errNotAvailable when no set
// serves this strip width.
kip_status kip_filterRankRectSweep8_(int32_t count, const uint8_t* leaving, const uint8_t* entering, int32_t vectors,
                                     int32_t initialRun, int32_t kernelWidth, uint32_t remove, uint32_t add,
                                     const uint16_t* membership, uint16_t* histogram, const int16_t* levels,
                                     uint16_t* countsAtOrBelow);

}  // extern "C"
