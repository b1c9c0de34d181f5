// Splitting a window into the centre, where the whole kernel lies inside the source, and four
// border strips, each clipped to the destination.
#include <algorithm>

#include "kip/window.h"
#include "platform/assert.hpp"
#include "platform/rect.hpp"

namespace {

bool fits32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

// A strip from 64-bit edges. Negative extents give the null rectangle (zero extents stay); a strip
// that does not fit 32 bits (a null centre beside x = INT32_MIN, say) is cut to the window, which
// keeps every one of its pixels that can matter.
kstd_rect32 strip(int64_t x, int64_t y, int64_t width, int64_t height, const kstd_rect32& window) {
    if (width < 0 || height < 0) return kstd_rect32{0, 0, 0, 0};
    if (fits32(x) && fits32(y) && width <= INT32_MAX && height <= INT32_MAX)
        return kstd_rect32{int32_t(x), int32_t(y), int32_t(width), int32_t(height)};
    const int64_t x0 = std::max<int64_t>(x, window.x), y0 = std::max<int64_t>(y, window.y);
    const int64_t x1 = std::min<int64_t>(x + width, int64_t{window.x} + window.width);
    const int64_t y1 = std::min<int64_t>(y + height, int64_t{window.y} + window.height);
    if (x1 <= x0 || y1 <= y0) return kstd_rect32{0, 0, 0, 0};
    return kstd_rect32{int32_t(x0), int32_t(y0), int32_t(x1 - x0), int32_t(y1 - y0)};
}

}  // namespace

extern "C" {

kip_status kip_filterCommon_gcrRect(const kstd_rect32* window, const kstd_rect32* clip, const kstd_pair32* kernelSize,
                                    const kstd_pair32* kernelOffset, kstd_rect32* centre, kstd_rect32* top,
                                    kstd_rect32* bottom, kstd_rect32* left, kstd_rect32* right) {
    KIP_REQUIRE(window);
    KIP_REQUIRE(clip);
    KIP_REQUIRE(kernelSize);
    KIP_REQUIRE(kernelOffset);
    KIP_REQUIRE(centre);
    KIP_REQUIRE(top);
    KIP_REQUIRE(bottom);
    KIP_REQUIRE(left);
    KIP_REQUIRE(right);

    const kstd_rect32 w = *window;
    // Pieces of a window reaching past the plane would wrap; the clip may reach anywhere.
    if (!fits32(int64_t{w.x} + w.width) || !fits32(int64_t{w.y} + w.height)) return kstd_errInvalidArgument;
    const int64_t hx = kernelSize->x / 2, hy = kernelSize->y / 2;
    const int64_t ox = kernelOffset->x, oy = kernelOffset->y;
    // Amounts are computed in 64 bits; clamping them to 32 bits would shift the centre's edges.
    const int64_t margins[4] = {hx + ox, hx - ox, hy + oy, hy - oy};
    for (int64_t m : margins)
        if (!fits32(m)) return kstd_errInvalidArgument;
    // A kernel shifted past its pixel has a negative margin on one side; the footprint still has
    // to lie in W, so the centre never grows beyond W and the five pieces tile W.
    auto amount = [](int64_t m) { return int32_t(m < 0 ? 0 : m); };

    kstd_rect32 c = w;
    kip_status s =
        kstd_rect32_trim(&c, amount(margins[0]), amount(margins[1]), amount(margins[2]), amount(margins[3]), 1, 0);
    if (s == kip_errRectEmpty) {
        c = kstd_rect32{0, 0, 0, 0};
    } else if (kip::failed(s)) {
        return s;
    }

    const int64_t x0 = w.x, y0 = w.y, x1 = int64_t{w.x} + w.width, y1 = int64_t{w.y} + w.height;
    const int64_t cx = c.x, cy = c.y, cw = c.width, ch = c.height;
    kstd_rect32 pieces[5] = {
        c,
        strip(cx, y0, cw, cy - y0, w),
        strip(cx, cy + ch, cw, y1 - (cy + ch), w),
        strip(x0, y0, cx - x0, w.height, w),
        strip(cx + cw, y0, x1 - (cx + cw), w.height, w),
    };
    kstd_rect32* outs[5] = {centre, top, bottom, left, right};
    for (int i = 0; i < 5; ++i) *outs[i] = kip::intersect(pieces[i], *clip);
    return 0;
}

kip_status kip_filterCommon_gcrWindow(const kimg_windowConst* source, const kimg_window* destination,
                                      const kstd_pair32* kernelSize, const kstd_pair32* kernelOffset,
                                      kimg_window* centre, kimg_window* top, kimg_window* bottom, kimg_window* left,
                                      kimg_window* right) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(destination);
    KIP_REQUIRE(centre);
    KIP_REQUIRE(top);
    KIP_REQUIRE(bottom);
    KIP_REQUIRE(left);
    KIP_REQUIRE(right);
    kstd_rect32 r[5];
    kip_status s = kip_filterCommon_gcrRect(&source->rect, &destination->rect, kernelSize, kernelOffset, &r[0], &r[1],
                                            &r[2], &r[3], &r[4]);
    if (kip::failed(s)) return s;
    kimg_window w[5];
    for (int i = 0; i < 5; ++i) {
        w[i] = *destination;
        uint32_t clipped = 0;
        s = kimg_window_windowRect(&w[i], &r[i], &clipped);
        if (kip::failed(s)) return s;
    }
    *centre = w[0];
    *top = w[1];
    *bottom = w[2];
    *left = w[3];
    *right = w[4];
    return 0;
}

kip_status kip_filterCommon_gcr(const kimg_imageConst* source, const kimg_imageConst* destination,
                                const kstd_pair32* kernelSize, const kstd_pair32* kernelOffset, kstd_rect32* centre,
                                kstd_rect32* top, kstd_rect32* bottom, kstd_rect32* left, kstd_rect32* right) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(destination);
    kstd_rect32 w{}, d{};
    kip_status s = kimg_imageConst_getWindow(source, &w);
    if (kip::failed(s)) return s;
    s = kimg_imageConst_getWindow(destination, &d);
    if (kip::failed(s)) return s;
    return kip_filterCommon_gcrRect(&w, &d, kernelSize, kernelOffset, centre, top, bottom, left, right);
}

}  // extern "C"
