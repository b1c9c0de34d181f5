/* Status codes, border modes and the fall-back test. */
#ifndef KIP_STATUS_H
#define KIP_STATUS_H

#include "kip/platform/types.h"

KIP_EXTERN_C_BEGIN

/* Codes of this library. */
#define kip_errRankOutOfRange ((kip_status)0x80000ea0)          /* rank fraction outside [0, 1] */
#define kip_errBadMode ((kip_status)0x80000ea1)                 /* mode value outside its allowed set */
#define kip_errImageUnbound ((kip_status)0x80000ea2)            /* image unbound, or window null/unbound */
#define kip_errKernelImageUnbound ((kip_status)0x80000ea3)      /* kernel or mask image not bound */
#define kip_errKernelSizeNotOdd ((kip_status)0x80000ea4)        /* size not odd and positive */
#define kip_errMaskWindowMismatch ((kip_status)0x80000ea5)      /* image mask rectangle != source rectangle */
#define kip_errOffsetImageSizeMismatch ((kip_status)0x80000ea6) /* offset image size != kernel size */
#define kip_errOffsetValueRange ((kip_status)0x80000ea7)        /* offset value outside -255..255 */

/* Codes of the platform layer that kip interprets or returns. */
#define kip_errNotAvailable ((kip_status)0x80000601)     /* optimised path does not serve the call */
#define kip_errMemoryOverlap ((kip_status)0x800006a1)    /* two windows share pixel memory */
#define kip_errRectEmpty ((kip_status)0x80000562)        /* trimming left nothing */
#define ksys_errOutOfMemory ((kip_status)0x80000510)     /* allocation failed (or was made to fail) */
#define ksys_errCancelled ((kip_status)0x80000530)       /* the attention check saw a cancellation request */
#define kstd_errInvalidArgument ((kip_status)0x80000540) /* argument outside what the call accepts */
#define kstd_errIndexRange ((kip_status)0x80000541)      /* index outside a vector or an empty vector */
#define kimg_errDepthMismatch ((kip_status)0x80000542)   /* image or window of the wrong pixel depth */
#define kimg_errSizeMismatch ((kip_status)0x80000543)    /* windows of different sizes */
#define ksys_errThread ((kip_status)0x80000550)          /* a worker thread could not be started */

/* Border modes: the first field of every filter's parameter record. */
#define kip_filterBorderClipped 0u
#define kip_filterBorderTruncated 1u
#define kip_filterBorderMirrored 2u

/* 1 for a failure status (bit 31 set), else 0. */
static inline int kip_status_isFailure(kip_status status) { return (((uint32_t)status) & 0x80000000u) != 0; }

/* Fall-back rule: 1 when the low 16 bits lie in 0x600..0x61F (bit 31 is not consulted);
   the caller then runs the general path for the same call. */
static inline int kip_status_isNotAvailable(kip_status status) { return ((((uint32_t)status) & 0xFFFFu) >> 5) == 48u; }

/* Name of a status code: "kip_errBadMode", "ksys_errOutOfMemory", ... for the codes above,
   "unknown failure" for any other failure code (bit 31 set) and "success" for every code with
   bit 31 clear. Always succeeds; name must not be null. */
KIP_API kip_status kip_status_getName(kip_status status, const char** name);

KIP_EXTERN_C_END

#endif
