/* Base types shared by every kip header: status, rectangle, pair, export macro. */
#ifndef KIP_PLATFORM_TYPES_H
#define KIP_PLATFORM_TYPES_H

#include <stddef.h>
#include <stdint.h>

#if defined(KIP_BUILDING_LIBRARY)
#define KIP_API __attribute__((visibility("default")))
#else
#define KIP_API
#endif

#ifdef __cplusplus
#define KIP_EXTERN_C_BEGIN extern "C" {
#define KIP_EXTERN_C_END }
#else
#define KIP_EXTERN_C_BEGIN
#define KIP_EXTERN_C_END
#endif

KIP_EXTERN_C_BEGIN

/* Signed 32-bit status. Bit 31 set is failure; 0 is the usual success. */
typedef int32_t kip_status;

/* Rectangle in client coordinates; right and bottom edges are exclusive.
   The null rectangle has all four fields 0. */
typedef struct kstd_rect32 {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
} kstd_rect32;

/* Two signed values: a size (x = width, y = height) or an offset. */
typedef struct kstd_pair32 {
    int32_t x;
    int32_t y;
} kstd_pair32;

KIP_EXTERN_C_END

#endif
