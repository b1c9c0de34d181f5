// Ceiling to int32 for band and thread-count arithmetic.
#include "kip/platform/math.h"

#include <cmath>
#include <cstdint>

extern "C" int32_t kmath_double_ceil(double value) {
    if (std::isnan(value)) return 0;
    const double c = std::ceil(value);
    // Saturate before converting: an out-of-range double-to-int conversion is undefined.
    if (c >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    if (c <= static_cast<double>(INT32_MIN)) return INT32_MIN;
    return static_cast<int32_t>(c);
}
