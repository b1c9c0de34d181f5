// Geometry every family shares: pixel addressing, reflection at a border, rectangle tests in
// 64 bits (footprints grown by a kernel can leave the 32-bit range).
#pragma once

#include <cstdint>

#include "kip/platform/stdtypes.h"
#include "platform/pixel_address.hpp"
#include "platform/rect.hpp"

namespace kip {

// Symmetric reflection of index i into 0..n-1 (n >= 1): -1 -> 0, -2 -> 1, n -> n - 1, and on
// with period 2n, so any index has a defined source pixel.
inline int64_t reflect(int64_t i, int64_t n) {
    const int64_t period = 2 * n;
    int64_t r = i % period;
    if (r < 0) r += period;
    return r < n ? r : period - 1 - r;
}

// Whether outer holds the rectangle at (x, y) of that size.
inline bool containsRect(const kstd_rect32& outer, int64_t x, int64_t y, int64_t width, int64_t height) {
    return x >= outer.x && y >= outer.y && x + width <= int64_t{outer.x} + outer.width &&
           y + height <= int64_t{outer.y} + outer.height;
}

}  // namespace kip
