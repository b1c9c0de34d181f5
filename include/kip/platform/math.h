/* Math helpers. */
#ifndef KIP_PLATFORM_MATH_H
#define KIP_PLATFORM_MATH_H

#include "kip/platform/types.h"

KIP_EXTERN_C_BEGIN

/* Smallest integer not below value, saturated to the int32 range; NaN gives 0. A pure function,
   so it returns the value rather than a status. */
KIP_API int32_t kmath_double_ceil(double value);

KIP_EXTERN_C_END

#endif
