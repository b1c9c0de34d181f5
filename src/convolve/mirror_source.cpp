// The mirrored source: the source window extended on every side by symmetric reflection.
#include <cstring>

#include "convolve/convolve_internal.hpp"
#include "frame/cleanup.hpp"
#include "kip/platform/pixel.h"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;
using kip::mutablePixelAt;
using kip::reflect;

namespace {

// Fills the margins of p around s (s lies inside p by mx columns and my rows on every side).
// Rows of s first, then whole rows of p above and below, so the corners reflect the margins.
void fillMargins(const kimg_window& p, const kstd_rect32& s, int64_t mx, int64_t my) {
    const int64_t w = s.width;
    const int64_t h = s.height;
    for (int64_t y = 0; y < h; ++y) {
        uint8_t* row = mutablePixelAt<uint8_t>(p, s.x, int64_t{s.y} + y);
        for (int64_t i = 1; i <= mx; ++i) {
            row[-i] = row[reflect(-i, w)];
            row[w - 1 + i] = row[reflect(w - 1 + i, w)];
        }
    }
    const size_t rowBytes = static_cast<size_t>(w + 2 * mx);
    auto rowOf = [&](int64_t y) { return mutablePixelAt<uint8_t>(p, s.x - mx, int64_t{s.y} + y); };
    for (int64_t r = 1; r <= my; ++r) {
        std::memcpy(rowOf(-r), rowOf(reflect(-r, h)), rowBytes);
        std::memcpy(rowOf(h - 1 + r), rowOf(reflect(h - 1 + r, h)), rowBytes);
    }
}

}  // namespace

extern "C" kip_status kip_filterConvolveMirrorSource8_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                       kimg_image* mirrored) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(mirrored);
    const int32_t mx = (kernel->rect.width - 1) / 2;
    const int32_t my = (kernel->rect.height - 1) / 2;
    // Placed with the source's top-left pixel at (0, 0), so that the margins stay inside the
    // 32-bit plane wherever the source lies; only a copy wider or taller than the plane is out of
    // reach, and that is a request for more memory than can be had.
    const kstd_rect32 s{0, 0, source->rect.width, source->rect.height};
    kstd_rect32 p = s;
    kip_status st = kstd_rect32_trim(&p, -mx, -mx, -my, -my, 0, 0);
    if (st == kstd_errInvalidArgument) return ksys_errOutOfMemory;
    if (failed(st)) return st;
    st = kimg_image_constructRect(mirrored, 1, &p);
    if (failed(st)) return st;
    Cleanup<1> c;
    c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyOnFailure, mirrored);
    kimg_window middle;
    uint32_t clipped = 0;
    st = kimg_window_initWindow(&middle, mirrored, &s, &clipped);
    if (!failed(st)) st = kip_pelCopyWindow8(source, &middle);
    if (!failed(st)) {
        kimg_window whole;
        st = kimg_window_init(&whole, mirrored);
        if (!failed(st)) fillMargins(whole, s, mx, my);
    }
    return c.finish(st);
}
