/* Encoded mask kernel: the vertical stretches of a kernel mask as entering and leaving positions,
   so that a neighbourhood moving one row down a column touches only the pixels that join and
   drop out of it. */
#ifndef KIP_ENCODED_KERNEL_H
#define KIP_ENCODED_KERNEL_H

#include "kip/platform/image.h"

KIP_EXTERN_C_BEGIN

/* Positions are (column, row) pairs in the mask turned by a half turn, R(c, p) = M(w-1-c, h-1-p).
   A stretch is a maximal run of non-zero pixels down one column of R, rows p0..p1: its leaving
   position is (c, p0), its entering position (c, p1). Stretches are listed column by column,
   top down; the i-th entries of the two lists belong to the same stretch. rectangular is 1 (and
   both lists empty) when the mask has no zero pixel. */
typedef struct kip_filterMaskKernelEncoded {
    uint32_t rectangular;
    kstd_vector_kstd_pair32 entering;
    kstd_vector_kstd_pair32 leaving;
} kip_filterMaskKernelEncoded;

/* Every function returns a status; no pointer argument may be null. */

/* Constructs a rectangular encoding (flag 1, no positions). */
KIP_API kip_status kip_filterMaskKernelEncoded_construct(kip_filterMaskKernelEncoded* encoded);
/* Constructs the encoding of an 8-bit mask image's window; any non-zero pixel is a member.
   kip_errKernelImageUnbound when the image is not bound. */
KIP_API kip_status kip_filterMaskKernelEncoded_constructImage(kip_filterMaskKernelEncoded* encoded,
                                                              const kimg_imageConst* mask);
/* Constructs a copy of source. */
KIP_API kip_status kip_filterMaskKernelEncoded_constructCopy(kip_filterMaskKernelEncoded* encoded,
                                                             const kip_filterMaskKernelEncoded* source);
/* Makes encoded a copy of source; encoded is unchanged on failure. */
KIP_API kip_status kip_filterMaskKernelEncoded_assign(kip_filterMaskKernelEncoded* encoded,
                                                      const kip_filterMaskKernelEncoded* source);
/* Destroys the entering list, then the leaving list; returns the first failure. */
KIP_API kip_status kip_filterMaskKernelEncoded_destruct(kip_filterMaskKernelEncoded* encoded);
/* Makes the encoding rectangular (flag 1, both lists emptied). */
KIP_API kip_status kip_filterMaskKernelEncoded_reset(kip_filterMaskKernelEncoded* encoded);
/* Same as reset. */
KIP_API kip_status kip_filterMaskKernelEncoded_setRectangular(kip_filterMaskKernelEncoded* encoded);
/* Replaces the encoding with that of the mask image; encoded is unchanged on failure. */
KIP_API kip_status kip_filterMaskKernelEncoded_encode(kip_filterMaskKernelEncoded* encoded,
                                                      const kimg_imageConst* mask);
/* Constructs offsets (raw storage, the caller destructs it) with one row * stride + column per
   entering position, in list order, computed in 32-bit wrapping arithmetic. Empty when
   rectangular. */
KIP_API kip_status kip_filterMaskKernelEncoded_createEnteringOffsets(const kip_filterMaskKernelEncoded* encoded,
                                                                     int32_t stride, kstd_vector32s* offsets);
/* The same for the leaving positions. */
KIP_API kip_status kip_filterMaskKernelEncoded_createLeavingOffsets(const kip_filterMaskKernelEncoded* encoded,
                                                                    int32_t stride, kstd_vector32s* offsets);

KSYS_DECLARE_TYPE_CHECKS(kip_filterMaskKernelEncoded)

KIP_EXTERN_C_END

#endif
