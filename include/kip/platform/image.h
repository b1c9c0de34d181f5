/* Images and windows.

   An image is a handle on reference-counted pixel storage placed in client coordinates, with a
   window (a rectangle inside the storage) that filters read and write. Assigning an image shares
   its pixels; the last handle frees them. Pixels wrapped from caller memory are never freed.
   A window is a plain record (copy it bit for bit) designating a rectangle of an image's pixels;
   it does not keep the pixels alive. Depth codes: 1 for 8-bit, 2 for 16-bit pixels.
   kimg_imageConst / kimg_windowConst are the same types as kimg_image / kimg_window; the Const
   functions promise not to write pixels. */
#ifndef KIP_PLATFORM_IMAGE_H
#define KIP_PLATFORM_IMAGE_H

#include "kip/platform/stdtypes.h"

KIP_EXTERN_C_BEGIN

struct kimg_store_; /* private: pixel storage with its reference count */

/* Client-coordinate transform: world = (m[0]*x + m[1]*y + m[2], m[3]*x + m[4]*y + m[5]).
   Kept with each handle, carried to results by kimg_image_copyXforms. */
typedef struct kimg_xform {
    double m[6];
} kimg_xform;

typedef struct kimg_image {
    struct kimg_store_* store; /* null when unbound */
    kstd_rect32 window;        /* client coordinates; lies inside the storage */
    int32_t originX;           /* client position of the storage's first pixel */
    int32_t originY;
    kimg_xform xform;
} kimg_image;
typedef kimg_image kimg_imageConst;
typedef kimg_image kimg_image8Const;
typedef kimg_image kimg_image16sConst;

typedef struct kimg_window {
    kstd_rect32 rect;                /* client coordinates */
    int32_t stride;                  /* row stride in pixels */
    int32_t bytesPerPixel;           /* 1 or 2; 0 when unbound */
    void* pixels;                    /* pixel at (rect.x, rect.y); null when the window is null */
    const struct kimg_store_* image; /* null when unbound */
} kimg_window;
typedef kimg_window kimg_windowConst;

/* Construction. New pixels are zeroed; width and height must be >= 0 (0 gives a bound image
   with a null window) and depth 1 or 2, else kstd_errInvalidArgument. */
KIP_API kip_status kimg_image_construct(kimg_image* image, uint32_t depth, int32_t width, int32_t height);
KIP_API kip_status kimg_image_constructRect(kimg_image* image, uint32_t depth, const kstd_rect32* rect);
/* Refers to caller memory: rect in client coordinates, stride in pixels (>= width), pixels at
   the rectangle's top-left. The caller keeps the memory alive while any handle refers to it. */
KIP_API kip_status kimg_image_constructWrap(kimg_image* image, uint32_t depth, const kstd_rect32* rect, int32_t stride,
                                            void* pixels);
KIP_API kip_status kimg_image_constructUnbound(kimg_image* image);
KIP_API kip_status kimg_imageConst_constructUnbound(kimg_imageConst* image);
KIP_API kip_status kimg_image_constructCopy(kimg_image* image, const kimg_image* source); /* shares pixels */
KIP_API kip_status kimg_imageConst_constructCopy(kimg_imageConst* image, const kimg_imageConst* source);
KIP_API kip_status kimg_image_destruct(kimg_image* image);
KIP_API kip_status kimg_imageConst_destruct(kimg_imageConst* image);

/* Assignment: image refers to source's pixels, window, origin and transform (shared storage). */
KIP_API kip_status kimg_image_assign(kimg_image* image, const kimg_image* source);
KIP_API kip_status kimg_imageConst_assign(kimg_imageConst* image, const kimg_imageConst* source);
KIP_API kip_status kimg_image_assignUnbound(kimg_image* image);
KIP_API kip_status kimg_imageConst_assignUnbound(kimg_imageConst* image);
/* New zeroed pixels at client (0, 0), or covering rect (the window becomes rect). On failure the
   image is unchanged. The transform is kept. */
KIP_API kip_status kimg_image_assignNew(kimg_image* image, uint32_t depth, int32_t width, int32_t height);
KIP_API kip_status kimg_image_assignNewRect(kimg_image* image, uint32_t depth, const kstd_rect32* rect);

/* Queries. An unbound image has the null window and depth 0. */
KIP_API kip_status kimg_image_getIsBound(const kimg_image* image, uint32_t* bound);
KIP_API kip_status kimg_imageConst_getIsBound(const kimg_imageConst* image, uint32_t* bound);
KIP_API kip_status kimg_image_getWindow(const kimg_image* image, kstd_rect32* rect);
KIP_API kip_status kimg_imageConst_getWindow(const kimg_imageConst* image, kstd_rect32* rect);
KIP_API kip_status kimg_image_getDepth(const kimg_image* image, uint32_t* depth);
/* The whole storage in client coordinates. */
KIP_API kip_status kimg_image_getBounds(const kimg_image* image, kstd_rect32* rect);
/* The pixel at the window's top-left (null for a null window) and the stride in pixels. */
KIP_API kip_status kimg_image_getPixels(const kimg_image* image, void** pixels, int32_t* stride);

/* Sets the window to rect cut to the storage; clipped = 1 when it had to be cut. An unbound
   image gives kip_errImageUnbound. */
KIP_API kip_status kimg_image_setWindowRect(kimg_image* image, const kstd_rect32* rect, uint32_t* clipped);
/* Moves the image (storage and window together) so that the window's top-left is at (x, y). */
KIP_API kip_status kimg_image_setOrigin(kimg_image* image, int32_t x, int32_t y);
/* Copies the client-coordinate transform of source into image. */
KIP_API kip_status kimg_image_copyXforms(kimg_image* image, const kimg_imageConst* source);
KIP_API kip_status kimg_image_getXform(const kimg_image* image, kimg_xform* xform);
KIP_API kip_status kimg_image_setXform(kimg_image* image, const kimg_xform* xform);
/* Common rectangle of the two images' windows; empty = 1 (and rect null) when it has no pixels. */
KIP_API kip_status kimg_imageConst_gcr(const kimg_imageConst* a, const kimg_imageConst* b, kstd_rect32* rect,
                                       uint32_t* empty);

/* Windows. Restrictions cut the requested rectangle to the window (or image) and report
   clipped = 1 when they had to; a restriction with no pixels left gives a null window that
   still refers to its image. */
KIP_API kip_status kimg_window_init(kimg_window* window, const kimg_image* image);
KIP_API kip_status kimg_windowConst_init(kimg_windowConst* window, const kimg_imageConst* image);
KIP_API kip_status kimg_window_initUnbound(kimg_window* window);
KIP_API kip_status kimg_windowConst_initUnbound(kimg_windowConst* window);
/* A window over rect of the image's window (cut to it). Unbound image: kip_errImageUnbound. */
KIP_API kip_status kimg_window_initWindow(kimg_window* window, const kimg_image* image, const kstd_rect32* rect,
                                          uint32_t* clipped);
KIP_API kip_status kimg_windowConst_initWindow(kimg_windowConst* window, const kimg_imageConst* image,
                                               const kstd_rect32* rect, uint32_t* clipped);
/* out = source restricted to (x, y, width, height); out and source may be the same record. */
KIP_API kip_status kimg_window_window(kimg_window* out, const kimg_window* source, int32_t x, int32_t y, int32_t width,
                                      int32_t height, uint32_t* clipped);
KIP_API kip_status kimg_windowConst_window(kimg_windowConst* out, const kimg_windowConst* source, int32_t x, int32_t y,
                                           int32_t width, int32_t height, uint32_t* clipped);
/* window restricted in place to rect. */
KIP_API kip_status kimg_window_windowRect(kimg_window* window, const kstd_rect32* rect, uint32_t* clipped);
KIP_API kip_status kimg_windowConst_windowRect(kimg_windowConst* window, const kstd_rect32* rect, uint32_t* clipped);
/* isNull = 1 when the window has no pixels (unbound windows are null too). */
KIP_API kip_status kimg_window_getIsNull(const kimg_window* window, uint32_t* isNull);
KIP_API kip_status kimg_windowConst_getIsNull(const kimg_windowConst* window, uint32_t* isNull);
/* bound = 1 when the window refers to an image. */
KIP_API kip_status kimg_window_getIsBound(const kimg_window* window, uint32_t* bound);
KIP_API kip_status kimg_windowConst_getIsBound(const kimg_windowConst* window, uint32_t* bound);
KIP_API kip_status kimg_window_getWindow(const kimg_window* window, kstd_rect32* rect);
KIP_API kip_status kimg_windowConst_getWindow(const kimg_windowConst* window, kstd_rect32* rect);
/* Common rectangle of two windows; empty = 1 (and rect null) when it has no pixels. */
KIP_API kip_status kimg_windowConst_gcr(const kimg_windowConst* a, const kimg_windowConst* b, kstd_rect32* rect,
                                        uint32_t* empty);

KIP_EXTERN_C_END

#endif
