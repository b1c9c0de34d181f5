// Splitting a window into the centre, where the whole kernel lies inside the source, and four
// border strips, each clipped to the destination.
#include "kip/window.h"
#include "platform/assert.hpp"
#include "platform/rect.hpp"

namespace {

// Strips with a negative extent become null; zero extents stay as they are.
kstd_rect32 normalizeRect(const kstd_rect32& r) {
    if (r.width < 0 || r.height < 0) return kstd_rect32{0, 0, 0, 0};
    return r;
}

// Builds a strip from 64-bit edges; anything outside the 32-bit plane cannot hold pixels anyway.
kstd_rect32 strip(int64_t x, int64_t y, int64_t width, int64_t height) {
    if (width < 0 || height < 0 || x < INT32_MIN || y < INT32_MIN || x > INT32_MAX || y > INT32_MAX ||
        width > INT32_MAX || height > INT32_MAX)
        return kstd_rect32{0, 0, 0, 0};
    return normalizeRect(kstd_rect32{int32_t(x), int32_t(y), int32_t(width), int32_t(height)});
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
    const int64_t hx = kernelSize->x / 2, hy = kernelSize->y / 2;
    const int64_t ox = kernelOffset->x, oy = kernelOffset->y;
    auto amount = [](int64_t v) {  // trim amounts stay in 32 bits; larger ones leave nothing anyway
        return int32_t(v < INT32_MIN ? INT32_MIN : (v > INT32_MAX ? INT32_MAX : v));
    };

    kstd_rect32 c = w;
    kip_status s = kstd_rect32_trim(&c, amount(hx + ox), amount(hx - ox), amount(hy + oy), amount(hy - oy), 1, 0);
    if (s == kip_errRectEmpty || s == kstd_errInvalidArgument) {
        c = kstd_rect32{0, 0, 0, 0};
    } else if (kip::failed(s)) {
        return s;
    }

    const int64_t x0 = w.x, y0 = w.y, x1 = int64_t{w.x} + w.width, y1 = int64_t{w.y} + w.height;
    const int64_t cx = c.x, cy = c.y, cw = c.width, ch = c.height;
    kstd_rect32 pieces[5] = {
        c,
        strip(cx, y0, cw, cy - y0),
        strip(cx, cy + ch, cw, y1 - (cy + ch)),
        strip(x0, y0, cx - x0, w.height),
        strip(cx + cw, y0, x1 - (cx + cw), w.height),
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
