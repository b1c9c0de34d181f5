/* Run-length image: an 8-bit image held as runs of equal pixels, row by row, with transpose and
   reflect. Kernel masks and image masks are kept in this form so that the sliding-window engines
   can walk them column by column. */
#ifndef KIP_RLE_IMAGE_H
#define KIP_RLE_IMAGE_H

#include "kip/platform/image.h"

KIP_EXTERN_C_BEGIN

/* One run: a pixel value repeated length times (1..255). Longer stretches are split into runs of
   255 and the rest. A run with length 0 (and value 0) ends a row. */
typedef struct kip_rleRun8 {
    uint8_t value;
    uint8_t length;
} kip_rleRun8;
typedef kip_rleRun8* kip_rleRun8Ptr;

/* One row: count runs including the terminating one (at least 2 for a non-empty row), starting at
   runs. The lengths add up to the image width. The runs lie in one of the image's blocks and are
   valid while the image lives and is not changed. */
typedef struct kip_rleRow8 {
    int32_t count;
    kip_rleRun8Ptr runs;
} kip_rleRow8;

KSTD_DECLARE_TYPED_VECTOR(kstd_vector_kip_rleRow8, kip_rleRow8)
KSTD_DECLARE_TYPED_VECTOR(kstd_vector_kip_rleRun8Ptr, kip_rleRun8Ptr)

/* The image: client position of the top-left pixel, size, one row record per pixel row (top to
   bottom) and the run blocks it owns. An empty image has size 0 x 0 and no rows. */
typedef struct kip_rleImage8 {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    kstd_vector_kip_rleRow8 rows;
    kstd_vector_kip_rleRun8Ptr blocks;
} kip_rleImage8;

/* Every function returns a status; no pointer argument may be null. Functions named construct*
   take raw storage and leave nothing alive when they fail. encode, encodeWindow, assign, transpose
   and reflect keep the destination as it was when they fail. Windows and images given to encode
   must be 8-bit (kimg_errDepthMismatch otherwise); a null or unbound one encodes as empty. */

/* Constructs an empty image at (0, 0). */
KIP_API kip_status kip_rleImage8_construct(kip_rleImage8* image);
/* Constructs a deep copy of source. */
KIP_API kip_status kip_rleImage8_constructCopy(kip_rleImage8* image, const kip_rleImage8* source);
/* Makes image a deep copy of source (runs packed into one block). */
KIP_API kip_status kip_rleImage8_assign(kip_rleImage8* image, const kip_rleImage8* source);
/* Frees the rows and every run block. */
KIP_API kip_status kip_rleImage8_destruct(kip_rleImage8* image);
/* Constructs the encoding of the window's pixels, placed at the window's position. */
KIP_API kip_status kip_rleImage8_constructWindow(kip_rleImage8* image, const kimg_windowConst* window);
/* Constructs the encoding of the image's whole window. */
KIP_API kip_status kip_rleImage8_constructImage(kip_rleImage8* image, const kimg_imageConst* source);
/* Constructs the transpose of the window: row c holds the window's column c, top to bottom. */
KIP_API kip_status kip_rleImage8_constructWindowTranspose(kip_rleImage8* image, const kimg_windowConst* window);
/* Constructs the transpose of the window turned by a half turn: row c holds column w - 1 - c of
   the window, bottom to top. */
KIP_API kip_status kip_rleImage8_constructWindowReflectAndTranspose(kip_rleImage8* image,
                                                                    const kimg_windowConst* window);
/* Replaces the contents of a constructed image with the encoding of the window. */
KIP_API kip_status kip_rleImage8_encodeWindow(kip_rleImage8* image, const kimg_windowConst* window);
/* Replaces the contents of a constructed image with the encoding of source's window. */
KIP_API kip_status kip_rleImage8_encode(kip_rleImage8* image, const kimg_imageConst* source);
/* Gives out new 8-bit pixels over (x, y, width, height) holding the decoded image; an empty image
   makes out unbound. out is unchanged on failure. */
KIP_API kip_status kip_rleImage8_decode(const kip_rleImage8* image, kimg_image* out);
/* destination (constructed) becomes the transpose of source: x and y, width and height exchanged,
   row c holding source column c. */
KIP_API kip_status kip_rleImage8_transpose(const kip_rleImage8* source, kip_rleImage8* destination);
/* destination (constructed; may be source) becomes source turned by a half turn, at the same
   position: row i is source row height - 1 - i with its runs in reverse order. */
KIP_API kip_status kip_rleImage8_reflect(const kip_rleImage8* source, kip_rleImage8* destination);

KSYS_DECLARE_TYPE_CHECKS(kip_rleImage8)

KIP_EXTERN_C_END

#endif
