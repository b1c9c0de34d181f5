/* Linear convolution of an 8-bit image with an integer kernel.

   Two variants, named by source, kernel and destination pixel types:
   - 8_8_8: 8-bit kernel of unsigned weights, 8-bit result: the kernel-weighted mean of the
     neighbourhood, rounded down (sum of weight x pixel, divided by the sum of the weights).
   - 8_16s_16s: 16-bit kernel of signed weights, 16-bit signed result: the weighted sum divided by
     the kernel norm max(P, N), with P the sum of the positive weights and N the sum of the
     magnitudes of the others, so results lie in -255..255.
   The kernel is applied turned by a half turn about its centre (true convolution): the source
   pixel at the top-left of a footprint meets the kernel's bottom-right weight. Sums are exact in
   signed 32 bits and the quotient truncates toward zero. Kernels whose 255 x sum (8-bit) or
   255 x norm (16-bit) exceeds 2147483647 are accepted, but their results are not specified.

   Border modes (kip_filterConvolveParams.borderMode):
   - kip_filterBorderClipped (0): only pixels whose whole footprint lies in the source are written;
     the result is smaller than the source by the kernel's half-size on each side.
   - kip_filterBorderMirrored (2, the default): the source is extended by symmetric reflection
     (the edge pixel repeated: outside pixel -1 equals pixel 0, -2 equals 1, ...), so every pixel
     of the source is written. Where the kernel's half-size exceeds the source's width or height,
     the reflection continues back and forth (a period of twice the source size), so results are
     always defined.
   All other modes give kip_errBadMode. An all-zero kernel writes 0 over the result. An 8-bit
   1 x 1 kernel copies the source window into the destination window whatever its weight (the two
   must then have the same size, else kimg_errSizeMismatch). Sources are 8-bit; an image, window
   or kernel of another depth than the name says gives kimg_errDepthMismatch. */
#ifndef KIP_CONVOLVE_H
#define KIP_CONVOLVE_H

#include "kip/platform/image.h"

KIP_EXTERN_C_BEGIN

/* ---- Parameters ---------------------------------------------------------------------------- */

typedef struct kip_filterConvolveParams {
    uint32_t borderMode; /* kip_filterBorderClipped or kip_filterBorderMirrored */
} kip_filterConvolveParams;

/* Sets borderMode to kip_filterBorderMirrored. Returns 0. params must not be null. */
KIP_API kip_status kip_filterConvolveParams_init(kip_filterConvolveParams* params);
/* 0 when borderMode is 0 or 2, else kip_errBadMode. params must not be null. */
KIP_API kip_status kip_filterConvolveParams_validate(const kip_filterConvolveParams* params);
/* equal = 1 when both records hold the same borderMode, else 0. Returns 0. No pointer may be null. */
KIP_API kip_status kip_filterConvolveParams_compareEqual(const kip_filterConvolveParams* a,
                                                         const kip_filterConvolveParams* b, uint32_t* equal);

/* ---- Kernels ------------------------------------------------------------------------------- */

/* A kernel is an image handle whose pixels are the weights, row by row; width and height are the
   kernel's and must be odd. The centre is pixel ((width - 1) / 2, (height - 1) / 2); the image's
   position does not matter. Unbound until weights are given. The kernel owns its handle. */
typedef struct kip_filterConvolveKernel8 {
    kimg_imageConst image; /* 8-bit weights 0..255 */
} kip_filterConvolveKernel8;

typedef struct kip_filterConvolveKernel16s {
    kimg_imageConst image; /* 16-bit signed weights -32768..32767 */
} kip_filterConvolveKernel16s;

/* The operations below exist for both kernel types (names with 8 or 16s). No pointer argument
   may be null. Failures of the image and pixel layers are returned unchanged. */

/* Constructs an unbound kernel. */
KIP_API kip_status kip_filterConvolveKernel8_construct(kip_filterConvolveKernel8* kernel);
KIP_API kip_status kip_filterConvolveKernel16s_construct(kip_filterConvolveKernel16s* kernel);
/* Constructs kernel as a copy of source; on failure nothing is left constructed. */
KIP_API kip_status kip_filterConvolveKernel8_constructCopy(kip_filterConvolveKernel8* kernel,
                                                           const kip_filterConvolveKernel8* source);
KIP_API kip_status kip_filterConvolveKernel16s_constructCopy(kip_filterConvolveKernel16s* kernel,
                                                             const kip_filterConvolveKernel16s* source);
/* Bound source: setKernel with source's image (the same checks apply). Unbound source: reset. */
KIP_API kip_status kip_filterConvolveKernel8_assign(kip_filterConvolveKernel8* kernel,
                                                    const kip_filterConvolveKernel8* source);
KIP_API kip_status kip_filterConvolveKernel16s_assign(kip_filterConvolveKernel16s* kernel,
                                                      const kip_filterConvolveKernel16s* source);
/* Releases the kernel's image. Any state may be destructed, exactly once. */
KIP_API kip_status kip_filterConvolveKernel8_destruct(kip_filterConvolveKernel8* kernel);
KIP_API kip_status kip_filterConvolveKernel16s_destruct(kip_filterConvolveKernel16s* kernel);
/* Makes the kernel unbound (nothing happens when it already is). */
KIP_API kip_status kip_filterConvolveKernel8_reset(kip_filterConvolveKernel8* kernel);
KIP_API kip_status kip_filterConvolveKernel16s_reset(kip_filterConvolveKernel16s* kernel);
/* 0 for a bound kernel of odd width and height; kip_errKernelImageUnbound when unbound;
   kip_errKernelSizeNotOdd when a size is even, zero or negative. */
KIP_API kip_status kip_filterConvolveKernel8_validate(const kip_filterConvolveKernel8* kernel);
KIP_API kip_status kip_filterConvolveKernel16s_validate(const kip_filterConvolveKernel16s* kernel);
/* equal = 1 when both kernels have equal rectangles and weights (two unbound kernels are equal),
   else 0. On failure equal is not written. */
KIP_API kip_status kip_filterConvolveKernel8_compareEqual(const kip_filterConvolveKernel8* a,
                                                          const kip_filterConvolveKernel8* b, uint32_t* equal);
KIP_API kip_status kip_filterConvolveKernel16s_compareEqual(const kip_filterConvolveKernel16s* a,
                                                            const kip_filterConvolveKernel16s* b, uint32_t* equal);
/* Makes image (a constructed handle) refer to the kernel's weight image. */
KIP_API kip_status kip_filterConvolveKernel8_getKernel(const kip_filterConvolveKernel8* kernel, kimg_imageConst* image);
KIP_API kip_status kip_filterConvolveKernel16s_getKernel(const kip_filterConvolveKernel16s* kernel,
                                                         kimg_imageConst* image);
/* Gives the kernel the weights of image (8-bit, or 16-bit signed, pixels). image must be bound
   (kip_errKernelImageUnbound) with odd width and height (kip_errKernelSizeNotOdd); on failure the
   kernel is unchanged. */
KIP_API kip_status kip_filterConvolveKernel8_setKernel(kip_filterConvolveKernel8* kernel, const kimg_imageConst* image);
KIP_API kip_status kip_filterConvolveKernel16s_setKernel(kip_filterConvolveKernel16s* kernel,
                                                         const kimg_imageConst* image);

/* ---- Common kernels ------------------------------------------------------------------------ */

/* Ready-made weights, given to the kernel as setKernel gives them (on failure the kernel is
   unchanged). Sizes must be odd and positive (kip_errKernelSizeNotOdd) with width x height at most
   8421504, so that every weighted sum fits in 32 bits (else kstd_errInvalidArgument). No pointer
   may be null. */

/* Box: width x height weights of 1, the mean of the neighbourhood. */
KIP_API kip_status kip_filterConvolveKernel8_setBox(kip_filterConvolveKernel8* kernel, const kstd_pair32* size);

/* Gaussian of the given size: the weight at offset (dx, dy) from the centre is gx(dx) gy(dy), with
   gx(d) = round(17 exp(-d^2 / (2 sx^2))) and gy(d) = round(15 exp(-d^2 / (2 sy^2))), and
   s = 0.3 ((n - 1) / 2 - 1) + 0.8 for a side of n pixels (the customary spread for a size alone:
   0.8 for 3, 1.1 for 5, 1.4 for 7). The centre weight is thus 255 (the peaks 17 and 15 are lowered
   when 255 x the sum would pass 2147483647). Being an exact product of a row and a column, the
   kernel is filtered in two one-dimensional passes. Weights far from the centre may round to 0. */
KIP_API kip_status kip_filterConvolveKernel8_setGaussian(kip_filterConvolveKernel8* kernel, const kstd_pair32* size);

/* Sobel derivative, 3 x 3: direction kip_filterConvolveSobelX gives positive results where the
   image brightens to the right ({1, 0, -1; 2, 0, -2; 1, 0, -1}, applied turned), and
   kip_filterConvolveSobelY where it brightens downwards. Other directions: kip_errBadMode. With
   the kernel norm 4 the results lie in -255..255. */
#define kip_filterConvolveSobelX 0u
#define kip_filterConvolveSobelY 1u
KIP_API kip_status kip_filterConvolveKernel16s_setSobel(kip_filterConvolveKernel16s* kernel, uint32_t direction);

/* Laplace, 3 x 3 four-neighbour: {0, 1, 0; 1, -4, 1; 0, 1, 0}; negative on bright ridges and
   specks, positive in dark ones. */
KIP_API kip_status kip_filterConvolveKernel16s_setLaplace(kip_filterConvolveKernel16s* kernel);

KSYS_DECLARE_TYPE_CHECKS(kip_filterConvolveKernel8)
KSYS_DECLARE_TYPE_CHECKS(kip_filterConvolveKernel16s)

/* ---- Filters ------------------------------------------------------------------------------- */

/* Image entries. source (8-bit) must be bound (kip_errImageUnbound). The kernel is validated
   first, then params. The result rectangle is the source's window (shrunk by the kernel's
   half-size on each side in the clipped mode) cut to the destination's window when the
   destination is bound. When it is empty the call returns 0 and writes nothing (an unbound
   destination stays unbound). An unbound destination gets new pixels (8-bit, or 16-bit for the
   16s variant) over exactly the result rectangle; it is released again if the call then fails.
   The source's transform is copied to the destination. No pointer may be null. */
KIP_API kip_status kip_filterConvolve8_8_8(const kimg_imageConst* source, const kip_filterConvolveParams* params,
                                           const kip_filterConvolveKernel8* kernel, kimg_image* destination);
KIP_API kip_status kip_filterConvolve8_16s_16s(const kimg_imageConst* source, const kip_filterConvolveParams* params,
                                               const kip_filterConvolveKernel16s* kernel, kimg_image* destination);

/* Window entries: the same on windows of existing images. params is validated first, then the
   kernel; a null source or destination window gives kip_errImageUnbound. Only the result
   rectangle of the destination window is written; the window records are not changed. In the
   mirrored mode the destination may share the source's pixels (they are read through a copy
   then). In the clipped mode it should not: source pixels are read after destination pixels over
   them were written. No pointer may be null. */
KIP_API kip_status kip_filterConvolveWindow8_8_8(const kimg_windowConst* source, const kip_filterConvolveParams* params,
                                                 const kip_filterConvolveKernel8* kernel,
                                                 const kimg_window* destination);
KIP_API kip_status kip_filterConvolveWindow8_16s_16s(const kimg_windowConst* source,
                                                     const kip_filterConvolveParams* params,
                                                     const kip_filterConvolveKernel16s* kernel,
                                                     const kimg_window* destination);

KIP_EXTERN_C_END

#endif
