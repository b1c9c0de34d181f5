/* Rank filter: each destination pixel receives a chosen percentile of its neighbourhood, from the
   minimum (0) through the median (0.5) to the maximum (1), for 8-bit and 16-bit grey images.

   The neighbourhood is a kip_filterMaskKernel: an odd-sized rectangle centred on the pixel,
   optionally thinned by the kernel's mask. A masked kernel is applied turned by a half turn about
   its centre: a mask whose only member is its top-left pixel makes each pixel take the source
   pixel halfW columns right and halfH rows below it. Neighbourhoods are cut at the border of the
   common rectangle of source and destination: positions outside it take no part, and the
   percentile is taken of the n pixels that remain.

   Rank rule: with percentile p, k = 1 when p x n <= 0, otherwise k = ceil(p x n), lowered by one
   when it exceeds n. The result is the smallest grey value that at least k neighbourhood pixels
   do not exceed: p = 0.5 gives the middle value of an odd count and the lower middle value of an
   even one. A masked neighbourhood that holds no pixel at all (n = 0) gives 0.

   Image mask (optional): an 8-bit image (or window) over the source, with the source's window
   rectangle (kip_errMaskWindowMismatch otherwise). Only source pixels where it is non-zero take
   part, and only destination pixels where it is non-zero are computed; every other pixel of the
   common rectangle, and every pixel whose masked neighbourhood is empty, receives the source
   value.

   Source and destination may share pixel memory (the same image, or overlapping windows): the
   result is then computed into scratch pixels and copied back, and equals that of separate
   images. */
#ifndef KIP_RANK_H
#define KIP_RANK_H

#include "kip/mask_kernel.h"

KIP_EXTERN_C_BEGIN

/* ---- Parameters ---------------------------------------------------------------------------- */

typedef struct kip_filterRankParams {
    uint32_t borderMode; /* only kip_filterBorderTruncated (1) */
    double percentile;   /* fraction in [0, 1]: 0 minimum, 0.5 median, 1 maximum */
} kip_filterRankParams;

/* borderMode := kip_filterBorderTruncated, percentile := 0.5. Returns 0. params must not be null. */
KIP_API kip_status kip_filterRankParams_init(kip_filterRankParams* params);
/* kip_errBadMode when borderMode is not 1; else kip_errRankOutOfRange when the percentile is below
   0, above 1 or NaN; else 0. params must not be null. */
KIP_API kip_status kip_filterRankParams_validate(const kip_filterRankParams* params);
/* equal = 1 when both records hold the same borderMode and neither percentile is less or greater
   than the other (so two NaNs compare equal), else 0. Returns 0. No pointer may be null. */
KIP_API kip_status kip_filterRankParams_compareEqual(const kip_filterRankParams* a, const kip_filterRankParams* b,
                                                     uint32_t* equal);

/* ---- Filters ------------------------------------------------------------------------------- */

/* Image entries. params, then the kernel, are validated first. source must be bound
   (kip_errImageUnbound) and of the depth the name says, like the destination when bound and
   the image mask when bound (kimg_errDepthMismatch). imageMask may be null; an unbound mask
   counts as none. An unbound destination gets new pixels over the source's window (released
   again if the call then fails). When source and destination windows do not meet, the call
   returns 0 and writes nothing. Otherwise the common rectangle is filtered, the source's
   transform is copied to the destination, and the destination's window is set to the common
   rectangle. source, params, kernel and destination must not be null. */
KIP_API kip_status kip_filterRank8(const kimg_imageConst* source, const kimg_imageConst* imageMask,
                                   const kip_filterRankParams* params, const kip_filterMaskKernel* kernel,
                                   kimg_image* destination);
KIP_API kip_status kip_filterRank16(const kimg_imageConst* source, const kimg_imageConst* imageMask,
                                    const kip_filterRankParams* params, const kip_filterMaskKernel* kernel,
                                    kimg_image* destination);

/* Window entries: the same on windows of existing images. borderMode must be 1 (kip_errBadMode);
   the percentile is not checked here (below 0 acts as the minimum, above 1 as the maximum grey
   level). Windows that refer to no image, or a null source or destination window when the two
   meet, give kip_errImageUnbound; windows of another depth kimg_errDepthMismatch. imageMask may be
   null or a null window (no mask). Only the common rectangle of the destination window is
   written; the window records are not changed. source, params, kernel and destination must not
   be null. */
KIP_API kip_status kip_filterRankWindow8(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                         const kip_filterRankParams* params, const kip_filterMaskKernel* kernel,
                                         const kimg_window* destination);
KIP_API kip_status kip_filterRankWindow16(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                          const kip_filterRankParams* params, const kip_filterMaskKernel* kernel,
                                          const kimg_window* destination);

/* For the library's own families (median, morphology), on windows already cut and prepared:
   source and destination have the same columns; the source may extend above and below the
   destination rows (a band of a larger image), neighbourhoods being cut at the source's rows.
   imageMask (null, or a null window, for none) has the source's rectangle, and the destination
   already holds the source values where the mask leaves pixels out. The destination must not
   share memory with the source or the mask. Dispatches to the optimised rectangular path, the
   rectangular engine or the masked-kernel engine; optimised engines of the same results (8-bit
   masked kernels, with or without image mask: "kip_filterRank8_masked"; 16-bit two-level
   histograms, where values jump far between rows for the neighbourhood's size:
   "kip_filterRank16_twoLevel") go first unless the inhibit hook answers for their label. borderMode must be 1
   (kip_errBadMode); windows of another depth give kimg_errDepthMismatch; mismatched geometry goes to the assertion
   handler. Safe to call from several threads at once on disjoint destinations. */
KIP_API kip_status kip_filterRankWindow8PostGCR(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                                const kip_filterRankParams* params, const kip_filterMaskKernel* kernel,
                                                const kimg_window* destination);
KIP_API kip_status kip_filterRankWindow16PostGCR(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                                 const kip_filterRankParams* params, const kip_filterMaskKernel* kernel,
                                                 const kimg_window* destination);

KIP_EXTERN_C_END

#endif
