// The rank engines behind kip_filterRankWindow8PostGCR / 16PostGCR. Each reads the source window
// and writes the destination window, which has the source's columns and lies within its rows.
// Neighbourhoods are cut at the source window. Engines with an image mask take a mask window of
// the source's rectangle; they leave unselected destination pixels, and pixels whose masked
// neighbourhood is empty, as they were (the window entry fills them with the source first).
#pragma once

#include <cstdint>

#include "kip/rank.h"

extern "C" {

// Rectangular kernel of the given size (odd width and height).
kip_status kip_filterRankRect8_(const kimg_windowConst* source, double percentile, const kstd_pair32* size,
                                const kimg_window* destination);
kip_status kip_filterRankRect16_(const kimg_windowConst* source, double percentile, const kstd_pair32* size,
                                 const kimg_window* destination);
kip_status kip_filterRankRectImageMask8_(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                         double percentile, const kstd_pair32* size, const kimg_window* destination);
kip_status kip_filterRankRectImageMask16_(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                          double percentile, const kstd_pair32* size, const kimg_window* destination);

// Kernel thinned by its mask, walked through the entering and leaving positions of its encoded
// form.
kip_status kip_filterRankMasked8_(const kimg_windowConst* source, double percentile, const kip_filterMaskKernel* kernel,
                                  const kimg_window* destination);
kip_status kip_filterRankMasked16_(const kimg_windowConst* source, double percentile,
                                   const kip_filterMaskKernel* kernel, const kimg_window* destination);
kip_status kip_filterRankMaskedImageMask8_(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                           double percentile, const kip_filterMaskKernel* kernel,
                                           const kimg_window* destination);
kip_status kip_filterRankMaskedImageMask16_(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                            double percentile, const kip_filterMaskKernel* kernel,
                                            const kimg_window* destination);

// The results of kip_filterRankMasked8_ through vectorised sweeps over a strip's 16-bit
// histograms. kip_errNotAvailable, with nothing touched, for kernels of 65536 members or more,
// kernels wider than the widest strip the processor's sweeps offer (48 columns with AVX2, 32 with
// SSE2), and windows the general engine should decide (shared memory, rows missing).
kip_status kip_filterRankMaskedFast8_(const kimg_windowConst* source, double percentile,
                                      const kip_filterMaskKernel* kernel, const kimg_window* destination);
// The same with an image mask: the results of kip_filterRankMaskedImageMask8_, declined alike and
// also for a mask window that shares memory with the destination.
kip_status kip_filterRankMaskedImageMaskFast8_(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                               double percentile, const kip_filterMaskKernel* kernel,
                                               const kimg_window* destination);

// The 16-bit rectangular and masked engines over 16-bit histograms with two summary levels:
// the same results, found faster where values spread widely. kip_errNotAvailable, with nothing
// touched, when a neighbourhood can hold 65536 pixels or more.
kip_status kip_filterRankRectTwoLevel16_(const kimg_windowConst* source, double percentile, const kstd_pair32* size,
                                         const kimg_window* destination);
kip_status kip_filterRankMaskedTwoLevel16_(const kimg_windowConst* source, double percentile,
                                           const kip_filterMaskKernel* kernel, const kimg_window* destination);
kip_status kip_filterRankMaskedImageMaskTwoLevel16_(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                                    double percentile, const kip_filterMaskKernel* kernel,
                                                    const kimg_window* destination);

// Summed-area count of the non-zero pixels of an 8-bit mask window: table[r * width + c] counts
// rows 0..r and columns 0..c. The table holds width x height entries. A null window fills nothing.
kip_status kip_maskCountTable16_(const kimg_windowConst* mask, uint32_t* table);
// Non-zero pixels in rows r0..r1 and columns c0..c1 of the table's mask (0 <= r0, c0).
uint32_t kip_maskCountInRect16_(const uint32_t* table, int32_t width, int32_t r0, int32_t r1, int32_t c0, int32_t c1);

}  // extern "C"
