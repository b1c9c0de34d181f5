// Rectangle arithmetic shared inside the library.
#pragma once

#include "kip/platform/stdtypes.h"

namespace kip {

inline bool isEmpty(const kstd_rect32& r) { return r.width <= 0 || r.height <= 0; }
inline bool sameRect(const kstd_rect32& a, const kstd_rect32& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}
// Touching rectangles keep an empty strip at the shared edge; disjoint ones give all zeros.
kstd_rect32 intersect(const kstd_rect32& a, const kstd_rect32& b);
bool contains(const kstd_rect32& outer, const kstd_rect32& inner);

}  // namespace kip
