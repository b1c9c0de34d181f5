/* Mask kernel: the neighbourhood of the rank, median and morphology filters, an odd-sized
   rectangle optionally thinned by a mask, held together with its encoded form. */
#ifndef KIP_MASK_KERNEL_H
#define KIP_MASK_KERNEL_H

#include "kip/encoded_kernel.h"

KIP_EXTERN_C_BEGIN

/* mask is the kernel's own 8-bit image (never the caller's), width and height odd and positive,
   top-left pixel at client (0, 0); non-zero pixels are members. Its size is the kernel size.
   encoded describes the current mask; a kernel made from a size is all 255 and rectangular. */
typedef struct kip_filterMaskKernel {
    kimg_imageConst mask;
    kip_filterMaskKernelEncoded encoded;
} kip_filterMaskKernel;

/* Every function returns a status; no pointer argument may be null unless stated. Sizes must be
   odd and positive in both directions (kip_errKernelSizeNotOdd); mask images must be bound
   (kip_errKernelImageUnbound) and 8-bit. Bad input is reported before anything changes, and a
   setter that fails for any reason leaves the kernel as it was. */

/* Constructs a 3 x 3 rectangular kernel. */
KIP_API kip_status kip_filterMaskKernel_construct(kip_filterMaskKernel* kernel);
/* Constructs a rectangular kernel of size (x = width, y = height). */
KIP_API kip_status kip_filterMaskKernel_constructSize(kip_filterMaskKernel* kernel, const kstd_pair32* size);
/* Constructs a kernel from a private copy of the mask image's window. */
KIP_API kip_status kip_filterMaskKernel_constructMask(kip_filterMaskKernel* kernel, const kimg_imageConst* mask);
/* Constructs a copy of source. */
KIP_API kip_status kip_filterMaskKernel_constructCopy(kip_filterMaskKernel* kernel, const kip_filterMaskKernel* source);
/* Destroys the mask image, then the encoded kernel; returns the first failure. */
KIP_API kip_status kip_filterMaskKernel_destruct(kip_filterMaskKernel* kernel);
/* Makes kernel a copy of source (mask and encoded form). */
KIP_API kip_status kip_filterMaskKernel_assign(kip_filterMaskKernel* kernel, const kip_filterMaskKernel* source);
/* Makes the kernel 3 x 3 rectangular. */
KIP_API kip_status kip_filterMaskKernel_reset(kip_filterMaskKernel* kernel);
/* Checks the mask image: bound, odd positive size. */
KIP_API kip_status kip_filterMaskKernel_validate(const kip_filterMaskKernel* kernel);
/* equal = 1 when the two masks have equal rectangles and pixels, else 0 (encoded forms are not
   compared). equal is written only on success. */
KIP_API kip_status kip_filterMaskKernel_compareEqual(const kip_filterMaskKernel* a, const kip_filterMaskKernel* b,
                                                     uint32_t* equal);
/* size = (width, height) of the mask. */
KIP_API kip_status kip_filterMaskKernel_getSize(const kip_filterMaskKernel* kernel, kstd_pair32* size);
/* Makes the kernel rectangular (all 255) of the given size. */
KIP_API kip_status kip_filterMaskKernel_setSize(kip_filterMaskKernel* kernel, const kstd_pair32* size);
/* mask (a constructed image handle) comes to refer to the kernel's mask pixels; do not write them. */
KIP_API kip_status kip_filterMaskKernel_getMask(const kip_filterMaskKernel* kernel, kimg_imageConst* mask);
/* Takes a private copy of the mask image's window (moved to client (0, 0)) and encodes it; later
   changes to the caller's image do not reach the kernel. */
KIP_API kip_status kip_filterMaskKernel_setMask(kip_filterMaskKernel* kernel, const kimg_imageConst* mask);
/* rectangular = 1 when the mask has no zero pixel. */
KIP_API kip_status kip_filterMaskKernel_getIsRectangular(const kip_filterMaskKernel* kernel, uint32_t* rectangular);
/* encoded = the kernel's encoded member, valid while the kernel lives and is not changed. */
KIP_API kip_status kip_filterMaskKernel_getEncodedKernel(const kip_filterMaskKernel* kernel,
                                                         const kip_filterMaskKernelEncoded** encoded);
/* Success when width and height are both odd and positive, else kip_errKernelSizeNotOdd. */
KIP_API kip_status kip_filterMaskKernel_validateMaskSize_(const kstd_pair32* size);
/* kip_errKernelImageUnbound when the image is not bound, else the size rule on its window. */
KIP_API kip_status kip_filterMaskKernel_validateMaskImage_(const kimg_imageConst* mask);

/* Heap variants. new* destroy what *kernel holds first and store the new object only on success
   (*kernel is then null after a failure); newClone with a null source acts as delete; delete on a
   null pointer returns 0 and otherwise clears *kernel. */
KIP_API kip_status kip_filterMaskKernel_new(kip_filterMaskKernel** kernel);
KIP_API kip_status kip_filterMaskKernel_newWithSize(kip_filterMaskKernel** kernel, const kstd_pair32* size);
KIP_API kip_status kip_filterMaskKernel_newWithMask(kip_filterMaskKernel** kernel, const kimg_imageConst* mask);
KIP_API kip_status kip_filterMaskKernel_newClone(kip_filterMaskKernel** kernel, const kip_filterMaskKernel* source);
KIP_API kip_status kip_filterMaskKernel_delete(kip_filterMaskKernel** kernel);

KSYS_DECLARE_TYPE_CHECKS(kip_filterMaskKernel)

KIP_EXTERN_C_END

#endif
