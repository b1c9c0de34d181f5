/* Local background subtraction: flattens uneven illumination.

   Every pixel is replaced by its difference from a local background level, lifted by the
   mid-level offset (128 for 8-bit images, 32768 for 16-bit images) and clamped to the pixel range:
       out = clamp(source - background + offset, 0, max)
   so a pixel equal to its background becomes mid-grey. The background is either
   - the mean of the neighbourhood (kip_pelSubLocalMean*), or
   - its median (kip_pelSubLocalMedian*, through kip_filterMedianWindow8/16).

   The neighbourhood is a width x height rectangle centred on the pixel (both odd and >= 1).
   Mean: near the edges of the working rectangle the box shrinks symmetrically so that it stays
   centred (a corner pixel has a 1 x 1 box, a pixel on the left edge a box one column wide). The
   mean is s / n rounded as single-precision arithmetic rounds it: s and n converted to float,
   divided in float, widened to double, plus 0.5, truncated. That is the quotient rounded half up
   wherever single precision resolves it; with very large sums it can be the adjacent integer.
   Median: the neighbourhood is cut at the working rectangle's border (kip_filterBorderTruncated).

   Working rectangle: the intersection of the source window, the image mask's window (when one is
   used) and the destination window. Only its pixels are read or written; source pixels outside
   it take no part in any neighbourhood.

   Image mask (optional, 8-bit): a non-zero mask pixel marks a source pixel that takes part and a
   destination pixel that is computed. With the mean, the background of a selected pixel is the
   mean of the selected pixels of its box, and an unselected pixel's background is the pixel
   itself, so its result is the offset. With the median, unselected pixels keep the source value as
   their background (kip_filterMedianWindow8/16's rule), so they come out as the offset too. A null,
   unbound or null-window mask means every pixel takes part.

   The mean needs scratch memory of a few rows (at most 12 bytes per pixel of the working
   rectangle when the optimisation-inhibit hook answers non-zero for "kip_pelSubLocalMean8" or
   "kip_pelSubLocalMean16"); it runs on the calling thread. The median may use the job threads of
   kip_filterMedianWindow8/16. */
#ifndef KIP_PELSUB_H
#define KIP_PELSUB_H

#include "kip/platform/image.h"

KIP_EXTERN_C_BEGIN

/* ---- Parameters ---------------------------------------------------------------------------- */

/* Neighbourhood size: x is the width, y the height, in pixels. Default 3 x 3. Valid when both are
   odd and at least 1. Holds nothing to release. */
typedef kstd_pair32 kip_pelSubLocalParams;

/* Every function returns a status; no pointer argument may be null. */

/* Sets (3, 3). */
KIP_API kip_status kip_pelSubLocalParams_construct(kip_pelSubLocalParams* params);
/* Constructs params as a copy of source. */
KIP_API kip_status kip_pelSubLocalParams_constructCopy(kip_pelSubLocalParams* params,
                                                       const kip_pelSubLocalParams* source);
/* Copies source's size into params (nothing happens when they are the same record). */
KIP_API kip_status kip_pelSubLocalParams_assign(kip_pelSubLocalParams* params, const kip_pelSubLocalParams* source);
/* Sets (3, 3) again; there is nothing to release. */
KIP_API kip_status kip_pelSubLocalParams_destruct(kip_pelSubLocalParams* params);
/* Sets (3, 3). */
KIP_API kip_status kip_pelSubLocalParams_reset(kip_pelSubLocalParams* params);
/* 0 when width and height are odd and >= 1, else kip_errKernelSizeNotOdd. */
KIP_API kip_status kip_pelSubLocalParams_validate(const kip_pelSubLocalParams* params);

KSYS_DECLARE_TYPE_CHECKS(kip_pelSubLocalParams)

/* ---- Filters ------------------------------------------------------------------------------- */

/* Image entries: source (8-bit for the 8 entries, 16-bit for the 16 entries), image mask (8-bit,
   may be null), params, destination (same depth as the source, bound or unbound).
   Order of checks: an unbound source gives kip_errImageUnbound, then params are validated
   (kip_errKernelSizeNotOdd). When the working rectangle is empty the call returns 0 and writes
   nothing (an unbound destination stays unbound). An unbound destination gets new pixels over
   exactly the working rectangle, with the source's client-coordinate transform; it is made
   unbound again if the call then fails. The window entry's checks and codes follow. */
KIP_API kip_status kip_pelSubLocalMean8(const kimg_imageConst* source, const kimg_imageConst* mask,
                                        const kip_pelSubLocalParams* params, kimg_image* destination);
KIP_API kip_status kip_pelSubLocalMean16(const kimg_imageConst* source, const kimg_imageConst* mask,
                                         const kip_pelSubLocalParams* params, kimg_image* destination);
KIP_API kip_status kip_pelSubLocalMedian8(const kimg_imageConst* source, const kimg_imageConst* mask,
                                          const kip_pelSubLocalParams* params, kimg_image* destination);
KIP_API kip_status kip_pelSubLocalMedian16(const kimg_imageConst* source, const kimg_imageConst* mask,
                                           const kip_pelSubLocalParams* params, kimg_image* destination);

/* Window entries: the same on windows of existing images; only the working rectangle of the
   destination window is written. Order of checks: a null source or destination window gives
   kip_errImageUnbound; windows of another depth than the name says give kimg_errDepthMismatch;
   params are validated (kip_errKernelSizeNotOdd); a source or image mask sharing pixel memory
   with the destination gives kip_errMemoryOverlap (0x800006a1): these filters do not work in
   place. All of these come before any pixel is written. Failures later on (memory) may leave
   the working rectangle holding part of the background. */
KIP_API kip_status kip_pelSubLocalMeanWindow8(const kimg_windowConst* source, const kimg_windowConst* mask,
                                              const kip_pelSubLocalParams* params, const kimg_window* destination);
KIP_API kip_status kip_pelSubLocalMeanWindow16(const kimg_windowConst* source, const kimg_windowConst* mask,
                                               const kip_pelSubLocalParams* params, const kimg_window* destination);
KIP_API kip_status kip_pelSubLocalMedianWindow8(const kimg_windowConst* source, const kimg_windowConst* mask,
                                                const kip_pelSubLocalParams* params, const kimg_window* destination);
KIP_API kip_status kip_pelSubLocalMedianWindow16(const kimg_windowConst* source, const kimg_windowConst* mask,
                                                 const kip_pelSubLocalParams* params, const kimg_window* destination);

KIP_EXTERN_C_END

#endif
