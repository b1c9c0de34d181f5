// Rectangles and pairs. Edges are computed in 64 bits so no input can overflow.
#include "platform/rect.hpp"

#include <algorithm>

#include "platform/assert.hpp"

namespace kip {

kstd_rect32 intersect(const kstd_rect32& a, const kstd_rect32& b) {
    int64_t x0 = std::max<int64_t>(a.x, b.x);
    int64_t y0 = std::max<int64_t>(a.y, b.y);
    int64_t x1 = std::min<int64_t>(int64_t{a.x} + a.width, int64_t{b.x} + b.width);
    int64_t y1 = std::min<int64_t>(int64_t{a.y} + a.height, int64_t{b.y} + b.height);
    if (x1 < x0 || y1 < y0) return kstd_rect32{0, 0, 0, 0};
    return kstd_rect32{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                       static_cast<int32_t>(y1 - y0)};
}

bool contains(const kstd_rect32& outer, const kstd_rect32& inner) {
    return inner.x >= outer.x && inner.y >= outer.y &&
           int64_t{inner.x} + inner.width <= int64_t{outer.x} + outer.width &&
           int64_t{inner.y} + inner.height <= int64_t{outer.y} + outer.height;
}

}  // namespace kip

extern "C" {

kip_status kstd_rect32_init(kstd_rect32* rect, int32_t x, int32_t y, int32_t width, int32_t height) {
    KIP_REQUIRE(rect);
    *rect = kstd_rect32{x, y, width, height};
    return 0;
}

kip_status kstd_rect32_initNull(kstd_rect32* rect) {
    KIP_REQUIRE(rect);
    *rect = kstd_rect32{0, 0, 0, 0};
    return 0;
}

kip_status kstd_rect32_getIsNull(const kstd_rect32* rect, uint32_t* isNull) {
    KIP_REQUIRE(rect);
    KIP_REQUIRE(isNull);
    *isNull = kip::isEmpty(*rect) ? 1u : 0u;
    return 0;
}

kip_status kstd_rect32_compareEqual(const kstd_rect32* a, const kstd_rect32* b, uint32_t* equal) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    KIP_REQUIRE(equal);
    *equal = kip::sameRect(*a, *b) ? 1u : 0u;
    return 0;
}

kip_status kstd_rect32_intersect(kstd_rect32* rect, const kstd_rect32* other) {
    KIP_REQUIRE(rect);
    KIP_REQUIRE(other);
    *rect = kip::intersect(*rect, *other);
    return 0;
}

kip_status kstd_rect32_trim(kstd_rect32* rect, int32_t left, int32_t right, int32_t top, int32_t bottom,
                            uint32_t reportEmpty, uint32_t clampNegative) {
    KIP_REQUIRE(rect);
    if (clampNegative) {
        left = std::max(left, 0);
        right = std::max(right, 0);
        top = std::max(top, 0);
        bottom = std::max(bottom, 0);
    }
    int64_t x0 = int64_t{rect->x} + left;
    int64_t y0 = int64_t{rect->y} + top;
    int64_t x1 = int64_t{rect->x} + rect->width - right;
    int64_t y1 = int64_t{rect->y} + rect->height - bottom;
    if (x1 <= x0 || y1 <= y0) {
        if (reportEmpty) return kip_errRectEmpty;
        *rect = kstd_rect32{0, 0, 0, 0};
        return 0;
    }
    // x0 < x1 and y0 < y1 here, so bounding both edges bounds everything.
    if (x0 < INT32_MIN || y0 < INT32_MIN || x1 > INT32_MAX || y1 > INT32_MAX || x1 - x0 > INT32_MAX ||
        y1 - y0 > INT32_MAX)
        return kstd_errInvalidArgument;
    *rect = kstd_rect32{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                        static_cast<int32_t>(y1 - y0)};
    return 0;
}

kip_status kstd_pair32_init(kstd_pair32* pair, int32_t x, int32_t y) {
    KIP_REQUIRE(pair);
    *pair = kstd_pair32{x, y};
    return 0;
}

kip_status kstd_pair32_initNull(kstd_pair32* pair) {
    KIP_REQUIRE(pair);
    *pair = kstd_pair32{0, 0};
    return 0;
}

}  // extern "C"
