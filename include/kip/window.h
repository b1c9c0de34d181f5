/* Window preparation and the split of a window into centre and border pieces. These are the
   steps every filter entry runs before its engine; they are exported for the library's own
   families and for callers that build filters of their own on the same model. */
#ifndef KIP_WINDOW_H
#define KIP_WINDOW_H

#include "kip/platform/image.h"

KIP_EXTERN_C_BEGIN

/* Image-level preparation. source must be bound (kip_errImageUnbound). mask may be null; an
   unbound mask counts as none; a bound mask's window must equal the source's
   (kip_errMaskWindowMismatch). An unbound destination gets new pixels (depth 1 or 2) over the
   source's window. nothingToDo = 1 when the source window is null or source and destination
   windows do not meet; the out windows are then not written. Otherwise the out windows cover the
   three images (the mask window unbound when there is no mask) and the source's transform is
   copied to the destination. A destination given pixels here keeps them if a later step fails. */
KIP_API kip_status kip_filterInitializeWindow_(const kimg_imageConst* source, const kimg_imageConst* mask,
                                               kimg_image* destination, kimg_windowConst* outSource,
                                               kimg_windowConst* outMask, kimg_window* outDestination,
                                               uint32_t* nothingToDo, uint32_t depth);

/* Window-level preparation for 8-bit and 16-bit windows. Source and destination must refer to
   images (kip_errImageUnbound). nothingToDo = 1 when they have no common rectangle; nothing else
   is written then. Otherwise the out windows are the inputs restricted to the common rectangle;
   maskUsed = 1 when mask is given and not null (its rectangle must equal the source's,
   kip_errMaskWindowMismatch). overlap = 1 when the source or the used mask shares pixel memory
   with the destination: the out destination then lies on scratch, which receives new pixels
   over the common rectangle; the caller copies it back into its destination afterwards and
   destroys scratch (constructed unbound by the caller) on every exit. With the mask used, the
   out source is copied into the out destination first, so unselected pixels keep the source. */
KIP_API kip_status kip_filterInitializeGCRWindow8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                                   const kimg_window* destination, kimg_windowConst* outSource,
                                                   kimg_windowConst* outMask, kimg_window* outDestination,
                                                   uint32_t* nothingToDo, uint32_t* maskUsed, uint32_t* overlap,
                                                   kimg_image* scratch);
KIP_API kip_status kip_filterInitializeGCRWindow16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                                    const kimg_window* destination, kimg_windowConst* outSource,
                                                    kimg_windowConst* outMask, kimg_window* outDestination,
                                                    uint32_t* nothingToDo, uint32_t* maskUsed, uint32_t* overlap,
                                                    kimg_image* scratch);

/* Kernel splitting. For a kernel of odd size (kw, kh) and offset (ox, oy), the destination pixel
   (x, y) reads source columns x - (kw/2 + ox) .. x + (kw/2 - ox) and rows y - (kh/2 + oy) ..
   y + (kh/2 - oy). The window rectangle W is cut into the centre (the pixels whose whole kernel
   lies in W; null when there are none), top and bottom strips over the centre's columns, and left
   and right strips of W's full height; the five tile W. Each is then intersected with clip.
   A strip whose width or height would be negative is null; a zero width or height is kept.
   With a null centre the left and right strips split at x = 0; a strip too large for 32 bits is
   cut to W. Margins kw/2 +- ox or kh/2 +- oy outside the 32-bit range, or a W whose right or
   bottom edge x + width or y + height lies outside it: kstd_errInvalidArgument, nothing written. */
KIP_API kip_status kip_filterCommon_gcrRect(const kstd_rect32* window, const kstd_rect32* clip,
                                            const kstd_pair32* kernelSize, const kstd_pair32* kernelOffset,
                                            kstd_rect32* centre, kstd_rect32* top, kstd_rect32* bottom,
                                            kstd_rect32* left, kstd_rect32* right);
/* The same with W the source window's rectangle and clip the destination window's; each out
   window is the destination window restricted to its piece. */
KIP_API kip_status kip_filterCommon_gcrWindow(const kimg_windowConst* source, const kimg_window* destination,
                                              const kstd_pair32* kernelSize, const kstd_pair32* kernelOffset,
                                              kimg_window* centre, kimg_window* top, kimg_window* bottom,
                                              kimg_window* left, kimg_window* right);
/* The same with W the source image's window and clip the destination image's window. */
KIP_API kip_status kip_filterCommon_gcr(const kimg_imageConst* source, const kimg_imageConst* destination,
                                        const kstd_pair32* kernelSize, const kstd_pair32* kernelOffset,
                                        kstd_rect32* centre, kstd_rect32* top, kstd_rect32* bottom, kstd_rect32* left,
                                        kstd_rect32* right);

KIP_EXTERN_C_END

#endif
