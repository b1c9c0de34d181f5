/* Pixel operations on windows and images: copy, fill, compare, memory-overlap checks. */
#ifndef KIP_PLATFORM_PIXEL_H
#define KIP_PLATFORM_PIXEL_H

#include "kip/platform/image.h"

KIP_EXTERN_C_BEGIN

/* Copies the pixels of source into destination. Both windows must have the same width and
   height (kimg_errSizeMismatch) and the depth the name says (kimg_errDepthMismatch); null
   windows copy nothing. Overlapping memory is copied as if through a temporary. */
KIP_API kip_status kip_pelCopyWindow8(const kimg_windowConst* source, kimg_window* destination);
KIP_API kip_status kip_pelCopyWindow16(const kimg_windowConst* source, kimg_window* destination);
/* Copies the source image's window into the destination image over the common rectangle of the
   two windows (client coordinates); nothing when they do not meet. Unbound: kip_errImageUnbound. */
KIP_API kip_status kip_pelCopy8(const kimg_imageConst* source, kimg_image* destination);
KIP_API kip_status kip_pelCopy16s(const kimg_imageConst* source, kimg_image* destination);
/* Sets every pixel of the image's window (or of the window) to value. */
KIP_API kip_status kip_pelSet8(kimg_image* image, uint8_t value);
KIP_API kip_status kip_pelSet16(kimg_image* image, uint16_t value);
KIP_API kip_status kip_pelSetWindow8(kimg_window* window, uint8_t value);
KIP_API kip_status kip_pelSetWindow16(kimg_window* window, uint16_t value);
/* Clears *equal to 0 when the two images' windows differ in rectangle, depth or any pixel;
   leaves it as it was otherwise (callers preset 1). Two unbound images are equal; a bound and
   an unbound one are not. */
KIP_API kip_status kip_pelAndRectsEqual8(const kimg_imageConst* a, const kimg_imageConst* b, uint32_t* equal);
KIP_API kip_status kip_pelAndRectsEqual16(const kimg_imageConst* a, const kimg_imageConst* b, uint32_t* equal);
/* kip_errMemoryOverlap when any pixel byte of a is also a pixel byte of b (whatever images,
   strides or depths they have), else 0. Row gaps between a window's rows do not count. */
KIP_API kip_status kip_pelfunc_checkMemoryOverlap(const kimg_windowConst* a, const kimg_windowConst* b);
/* Restricts both windows in place to their common rectangle; empty = 1 when it has no pixels
   (both windows are then null). Memory overlap is not looked at. */
KIP_API kip_status kip_pelfunc_gcrTwoWindowIgnoreOverlap(kimg_windowConst* a, kimg_windowConst* b, uint32_t* empty);

KIP_EXTERN_C_END

#endif
