/* Grey-scale morphology: dilation, erosion, opening and closing of 8-bit and 16-bit images with a
   flat or weighted structuring element.

   The element is a mask kernel (an odd-sized rectangle, optionally thinned by a mask) whose
   centre is its origin. Flat: each destination pixel becomes the maximum (dilation) or minimum
   (erosion) of the source pixels under the element. Weighted (8-bit only): each neighbour is
   first shifted by the weight of its element position (-255..255), and the result is clamped to
   0..255; element mask and weights are applied turned by a half turn about the centre, so the
   neighbour at offset (p, q) meets the weight stored at (centre.x - p, centre.y - q).

   Border (kip_filterMorphologyParams.borderMode):
   - kip_filterBorderTruncated (1, the default): every pixel of the common rectangle of source
     and destination is computed; neighbours outside it take no part.
   - kip_filterBorderClipped (0): accepted by the parameter check, but no engine computes it: the
     filters answer kip_errNotAvailable, except the 8-bit 1 x 1 element, which copies the whole
     source window; a destination that does not cover all of it gives kimg_errSizeMismatch with
     nothing written.

   Image mask: an optional 8-bit image over the source whose pixels are 0 (not part of the image)
   or 255 (part of it); other values give unspecified results. Destination pixels whose mask is 0
   keep the source value, and such pixels are not neighbours. Flat elements with a mask that is
   not full are computed by the rank filter with the fraction 1.0 (dilation) or 0.0 (erosion),
   whose border and image-mask rules then apply.

   Cancellation: the filters poll ksys_attention_check before and after their passes and every 256
   rows of a flat rectangular pass; a requested cancellation ends the call with ksys_errCancelled
   (destination rows already written stay written, nothing leaks). */
#ifndef KIP_MORPHOLOGY_H
#define KIP_MORPHOLOGY_H

#include "kip/mask_kernel.h"

KIP_EXTERN_C_BEGIN

/* ---- Parameters ---------------------------------------------------------------------------- */

typedef struct kip_filterMorphologyParams {
    int32_t borderMode; /* kip_filterBorderClipped or kip_filterBorderTruncated */
} kip_filterMorphologyParams;

/* Sets borderMode to kip_filterBorderTruncated. Returns 0. params must not be null. */
KIP_API kip_status kip_filterMorphologyParams_init(kip_filterMorphologyParams* params);
/* 0 when borderMode is 0 or 1, else kip_errBadMode. params must not be null. */
KIP_API kip_status kip_filterMorphologyParams_validate(const kip_filterMorphologyParams* params);
/* equal = 1 when both records hold the same borderMode, else 0. Returns 0. No pointer may be null. */
KIP_API kip_status kip_filterMorphologyParams_compareEqual(const kip_filterMorphologyParams* a,
                                                           const kip_filterMorphologyParams* b, uint32_t* equal);

/* ---- Structuring element ------------------------------------------------------------------- */

/* kernel: size and members. offsetImage: the weights, a private 16-bit signed image of the
   kernel's size at client (0, 0), or unbound. originOffset: stored for the caller, read by no
   filter, not copied by assign and not compared. useOffsetImage: non-zero to use the weights
   (stored as given). The element is flat when useOffsetImage is 0 or offsetImage is unbound. */
typedef struct kip_filterMorphologyStructuringElement {
    kip_filterMaskKernel kernel;
    kimg_imageConst offsetImage;
    kstd_pair32 originOffset;
    uint32_t useOffsetImage;
} kip_filterMorphologyStructuringElement;

/* Every function returns a status; no pointer argument may be null unless stated. Failures of
   the mask kernel, image and allocator layers are returned unchanged. */

/* Constructs a flat 3 x 3 rectangular element, origin offset (0, 0), useOffsetImage 0. */
KIP_API kip_status kip_filterMorphologyStructuringElement_construct(kip_filterMorphologyStructuringElement* element);
/* The same with a rectangular kernel of size (x = width, y = height), both odd and positive
   (kip_errKernelSizeNotOdd). */
KIP_API kip_status kip_filterMorphologyStructuringElement_constructSize(kip_filterMorphologyStructuringElement* element,
                                                                        const kstd_pair32* size);
/* Constructs a copy of source (its origin offset is not copied: the copy's is (0, 0)). On failure
   nothing is left constructed. */
KIP_API kip_status kip_filterMorphologyStructuringElement_constructCopy(
    kip_filterMorphologyStructuringElement* element, const kip_filterMorphologyStructuringElement* source);
/* Destroys the kernel, then the offset image handle; returns the first failure. */
KIP_API kip_status kip_filterMorphologyStructuringElement_destruct(kip_filterMorphologyStructuringElement* element);
/* Copies kernel, weights (shared, read-only) and useOffsetImage; stops at the first failure.
   The origin offset is left as it was. */
KIP_API kip_status kip_filterMorphologyStructuringElement_assign(kip_filterMorphologyStructuringElement* element,
                                                                 const kip_filterMorphologyStructuringElement* source);
/* setSize (3, 3). */
KIP_API kip_status kip_filterMorphologyStructuringElement_reset(kip_filterMorphologyStructuringElement* element);
/* In order: the kernel (kip_errKernelImageUnbound, kip_errKernelSizeNotOdd); a zero width or
   height (kip_errKernelImageUnbound); then, when the weights are used and bound, their size
   (kip_errOffsetImageSizeMismatch) and range -255..255 (kip_errOffsetValueRange). */
KIP_API kip_status
kip_filterMorphologyStructuringElement_validate(const kip_filterMorphologyStructuringElement* element);
/* equal = 1 when the kernels' masks are equal, the useOffsetImage values are equal and, when
   they are non-zero, the weight images have equal rectangles and pixels; else 0. The origin
   offset is not compared. equal is written only on success. */
KIP_API kip_status kip_filterMorphologyStructuringElement_compareEqual(const kip_filterMorphologyStructuringElement* a,
                                                                       const kip_filterMorphologyStructuringElement* b,
                                                                       uint32_t* equal);
/* size = the kernel's (width, height). */
KIP_API kip_status kip_filterMorphologyStructuringElement_getSize(const kip_filterMorphologyStructuringElement* element,
                                                                  kstd_pair32* size);
/* Makes the kernel rectangular of that size and drops the weights (useOffsetImage is kept). */
KIP_API kip_status kip_filterMorphologyStructuringElement_setSize(kip_filterMorphologyStructuringElement* element,
                                                                  const kstd_pair32* size);
/* mask (a constructed handle) comes to refer to the kernel's mask pixels; do not write them. */
KIP_API kip_status kip_filterMorphologyStructuringElement_getMask(const kip_filterMorphologyStructuringElement* element,
                                                                  kimg_imageConst* mask);
/* Takes a private copy of the 8-bit mask image as the kernel's mask and drops the weights
   (useOffsetImage is kept). */
KIP_API kip_status kip_filterMorphologyStructuringElement_setMask(kip_filterMorphologyStructuringElement* element,
                                                                  const kimg_imageConst* mask);
KIP_API kip_status kip_filterMorphologyStructuringElement_getUseOffsetImage(
    const kip_filterMorphologyStructuringElement* element, uint32_t* use);
KIP_API kip_status
kip_filterMorphologyStructuringElement_setUseOffsetImage(kip_filterMorphologyStructuringElement* element, uint32_t use);
/* image (a constructed handle) comes to refer to the element's weights (origin (0, 0)), or
   becomes unbound when there are none. */
KIP_API kip_status kip_filterMorphologyStructuringElement_getOffsetImage(
    const kip_filterMorphologyStructuringElement* element, kimg_imageConst* image);
/* Takes a private copy of the 16-bit signed weights, which must have the kernel's size
   (kip_errOffsetImageSizeMismatch) and lie in -255..255 (kip_errOffsetValueRange); an unbound
   image removes the weights. On failure the element is unchanged. useOffsetImage is kept. */
KIP_API kip_status kip_filterMorphologyStructuringElement_setOffsetImage(
    kip_filterMorphologyStructuringElement* element, const kimg_imageConst* image);
KIP_API kip_status kip_filterMorphologyStructuringElement_getOriginOffset(
    const kip_filterMorphologyStructuringElement* element, kstd_pair32* offset);
KIP_API kip_status kip_filterMorphologyStructuringElement_setOriginOffset(
    kip_filterMorphologyStructuringElement* element, const kstd_pair32* offset);
/* rectangular = 1 when every kernel position is a member. */
KIP_API kip_status kip_filterMorphologyStructuringElement_getIsRectangular(
    const kip_filterMorphologyStructuringElement* element, uint32_t* rectangular);
/* flat = 1 when useOffsetImage is 0 or no weights are bound. */
KIP_API kip_status
kip_filterMorphologyStructuringElement_getIsFlat(const kip_filterMorphologyStructuringElement* element, uint32_t* flat);
/* encoded = the kernel's encoded form, valid while the element lives and is not changed. */
KIP_API kip_status kip_filterMorphologyStructuringElement_getEncodedKernel(
    const kip_filterMorphologyStructuringElement* element, const kip_filterMaskKernelEncoded** encoded);

/* Heap variants. new destroys what *element holds first and stores the new element only on
   success; newClone with a null source acts as delete; delete on a null pointer returns 0 and
   otherwise clears *element. */
KIP_API kip_status kip_filterMorphologyStructuringElement_new(kip_filterMorphologyStructuringElement** element);
KIP_API kip_status kip_filterMorphologyStructuringElement_newClone(
    kip_filterMorphologyStructuringElement** element, const kip_filterMorphologyStructuringElement* source);
KIP_API kip_status kip_filterMorphologyStructuringElement_delete(kip_filterMorphologyStructuringElement** element);

KSYS_DECLARE_TYPE_CHECKS(kip_filterMorphologyStructuringElement)

/* ---- Filters ------------------------------------------------------------------------------- */

/* Operation codes. Opening is erosion then dilation, closing dilation then erosion, each through
   an intermediate image. */
typedef enum kip_filterMorphologyOperation {
    kip_filterMorphologyDilate = 0,
    kip_filterMorphologyErode = 1,
    kip_filterMorphologyOpen = 2,
    kip_filterMorphologyClose = 3
} kip_filterMorphologyOperation;

/* Image entries. params and element are validated first. source must be bound
   (kip_errImageUnbound); mask may be null (an unbound mask counts as none) and a bound mask's
   window must equal the source's (kip_errMaskWindowMismatch). An unbound destination gets new
   pixels (8-bit, or 16-bit for the 16-bit entry) over the source's window. Only the common
   rectangle of source and destination is written, and on success the destination's window is
   set to the rectangle written. Source and destination may share pixels. A weighted element
   gives kip_errNotAvailable on the 16-bit entry. source, params, element and destination must
   not be null. */
KIP_API kip_status kip_filterMorphology8(const kimg_imageConst* source, const kimg_imageConst* mask, uint32_t operation,
                                         const kip_filterMorphologyParams* params,
                                         const kip_filterMorphologyStructuringElement* element,
                                         kimg_image* destination);
KIP_API kip_status kip_filterMorphology16(const kimg_imageConst* source, const kimg_imageConst* mask,
                                          uint32_t operation, const kip_filterMorphologyParams* params,
                                          const kip_filterMorphologyStructuringElement* element,
                                          kimg_image* destination);

/* Window entries: the same on windows of existing images; params and element are not validated
   here (pass validated ones). Unbound or null source or destination windows give
   kip_errImageUnbound; an operation outside 0..3 gives kip_errBadMode. With borderMode 0 the
   destination window record is narrowed to the rectangle written. */
KIP_API kip_status kip_filterMorphologyWindow8(const kimg_windowConst* source, const kimg_windowConst* mask,
                                               uint32_t operation, const kip_filterMorphologyParams* params,
                                               const kip_filterMorphologyStructuringElement* element,
                                               kimg_window* destination);
KIP_API kip_status kip_filterMorphologyWindow16(const kimg_windowConst* source, const kimg_windowConst* mask,
                                                uint32_t operation, const kip_filterMorphologyParams* params,
                                                const kip_filterMorphologyStructuringElement* element,
                                                kimg_window* destination);

KIP_EXTERN_C_END

#endif
