/* Median filter of 8-bit and 16-bit images over a rectangular or masked neighbourhood.

   Each destination pixel receives the median of its neighbourhood: the kernel (a
   kip_filterMaskKernel, mask_kernel.h) centred on the pixel, cut at the border of the common
   rectangle of source and destination, and, with an image mask, restricted to source pixels the
   mask selects (non-zero). When the number of pixels taking part is even the lower of the two
   middle values is taken: the smallest value that at least ceil(n / 2) of the n pixels do not
   exceed. This is the rank filter (rank.h) at percentile 0.5. With an image mask, destination
   pixels the mask does not select keep the source value.

   Small rectangular kernels (3 to 9 in each direction) run through SIMD sorting networks, all
   others through the sliding-histogram rank engines; both give the same bits. Large images are
   cut into horizontal bands filtered on the job library's threads (at most one band per 131072
   destination pixels; ksys_jobSetThreadCount sets the threads offered); results do not depend on
   the number of threads. */
#ifndef KIP_MEDIAN_H
#define KIP_MEDIAN_H

#include "kip/mask_kernel.h"

KIP_EXTERN_C_BEGIN

/* ---- Parameters ---------------------------------------------------------------------------- */

typedef struct kip_filterMedianParams {
    uint32_t borderMode; /* only kip_filterBorderTruncated (1) is valid */
} kip_filterMedianParams;

/* Sets borderMode to kip_filterBorderTruncated. Returns 0. params must not be null. */
KIP_API kip_status kip_filterMedianParams_init(kip_filterMedianParams* params);
/* 0 when borderMode is 1, else kip_errBadMode. params must not be null. */
KIP_API kip_status kip_filterMedianParams_validate(const kip_filterMedianParams* params);
/* equal = 1 when both records hold the same borderMode, else 0. Returns 0. No pointer may be null. */
KIP_API kip_status kip_filterMedianParams_compareEqual(const kip_filterMedianParams* a, const kip_filterMedianParams* b,
                                                       uint32_t* equal);

/* ---- Filters ------------------------------------------------------------------------------- */

/* Image entries. source must be bound (kip_errImageUnbound); mask may be null or unbound (no
   mask), else its window must equal the source's (kip_errMaskWindowMismatch). An unbound
   destination gets new pixels (8-bit or 16-bit) over the source's window and the source's
   transform; a bound one is written on the common rectangle of the two windows, which becomes
   its window. No common part: 0, nothing written. Neither params nor kernel is validated here: a
   borderMode other than 1 gives kip_errBadMode from the filter itself. Source and destination may
   be the same image. source, params, kernel and destination must not be null. */
KIP_API kip_status kip_filterMedian8(const kimg_imageConst* source, const kimg_imageConst* mask,
                                     const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                     kimg_image* destination);
KIP_API kip_status kip_filterMedian16(const kimg_imageConst* source, const kimg_imageConst* mask,
                                      const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                      kimg_image* destination);

/* Window entries: the same on windows of existing images, writing the common rectangle of source
   and destination windows. A null source or destination window gives kip_errImageUnbound; mask
   may be a null pointer or a null window (no mask). The window records are not changed; the
   destination may share the source's or the mask's pixels. source, params, kernel and
   destination must not be null. */
KIP_API kip_status kip_filterMedianWindow8(const kimg_windowConst* source, const kimg_windowConst* mask,
                                           const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                           const kimg_window* destination);
KIP_API kip_status kip_filterMedianWindow16(const kimg_windowConst* source, const kimg_windowConst* mask,
                                            const kip_filterMedianParams* params, const kip_filterMaskKernel* kernel,
                                            const kimg_window* destination);

KIP_EXTERN_C_END

#endif
