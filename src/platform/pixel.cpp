// Pixel copy, fill, comparison and memory-overlap checks over windows.
#include "kip/platform/pixel.h"

#include <algorithm>
#include <cstring>

#include "platform/assert.hpp"
#include "platform/image_store.hpp"
#include "platform/pixel_address.hpp"
#include "platform/rect.hpp"

namespace {

bool isNullWindow(const kimg_window& w) { return w.image == nullptr || w.pixels == nullptr || kip::isEmpty(w.rect); }

int64_t rowBytes(const kimg_window& w) { return int64_t{w.stride} * w.bytesPerPixel; }

// Floor division for a positive divisor.
int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

// True when one of a's rows shares a byte with one of b's rows. Walks the window with fewer
// rows and solves for the other window's rows in range, so the cost is O(min(rows)).
bool rowsOverlap(const kimg_window& a, const kimg_window& b) {
    const int64_t a0 = int64_t(reinterpret_cast<uintptr_t>(a.pixels));
    const int64_t b0 = int64_t(reinterpret_cast<uintptr_t>(b.pixels));
    const int64_t la = int64_t(a.rect.width) * a.bytesPerPixel, lb = int64_t(b.rect.width) * b.bytesPerPixel;
    const int64_t sa = rowBytes(a), sb = rowBytes(b);
    for (int64_t k = 0; k < a.rect.height; ++k) {
        const int64_t s = a0 + k * sa, e = s + la;  // [s, e)
        if (b.rect.height == 1 || sb <= 0) {
            for (int64_t m = 0; m < b.rect.height; ++m) {
                const int64_t t = b0 + m * sb;
                if (t < e && t + lb > s) return true;
            }
            continue;
        }
        // b row m = [b0 + m*sb, b0 + m*sb + lb) meets [s, e) when s - lb < b0 + m*sb < e.
        int64_t lo = floorDiv(s - lb - b0, sb) + 1;
        int64_t hi = floorDiv(e - 1 - b0, sb);
        lo = std::max<int64_t>(lo, 0);
        hi = std::min<int64_t>(hi, b.rect.height - 1);
        if (lo <= hi) return true;
    }
    return false;
}

bool overlaps(const kimg_window& a, const kimg_window& b) {
    if (isNullWindow(a) || isNullWindow(b)) return false;
    return a.rect.height <= b.rect.height ? rowsOverlap(a, b) : rowsOverlap(b, a);
}

template <class T>
kip_status copyWindow(const kimg_window* source, kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(destination);
    const kimg_window& s = *source;
    const kimg_window& d = *destination;
    if (s.rect.width != d.rect.width || s.rect.height != d.rect.height) {
        // Two empty windows of different shapes still copy nothing.
        if (isNullWindow(s) && isNullWindow(d)) return 0;
        return kimg_errSizeMismatch;
    }
    if (isNullWindow(s) || isNullWindow(d)) return 0;
    if (s.bytesPerPixel != int32_t(sizeof(T)) || d.bytesPerPixel != int32_t(sizeof(T))) return kimg_errDepthMismatch;
    const size_t bytes = size_t(s.rect.width) * sizeof(T);
    const int32_t h = s.rect.height;
    if (s.pixels == d.pixels && s.stride == d.stride) return 0;
    if (overlaps(s, d)) {
        if (s.stride == d.stride) {
            // Same row pitch: memmove per row in the direction that never reads a written row.
            bool down = d.pixels < s.pixels;
            for (int32_t i = 0; i < h; ++i) {
                int32_t y = down ? i : h - 1 - i;
                std::memmove(kip::byteRow(d, y), kip::byteRow(s, y), bytes);
            }
            return 0;
        }
        void* tmp = nullptr;
        kip_status st = ksys_memory_alloc_internal(bytes * size_t(h), &tmp);
        if (kip::failed(st)) return st;
        for (int32_t y = 0; y < h; ++y) std::memcpy(static_cast<uint8_t*>(tmp) + y * bytes, kip::byteRow(s, y), bytes);
        for (int32_t y = 0; y < h; ++y) std::memcpy(kip::byteRow(d, y), static_cast<uint8_t*>(tmp) + y * bytes, bytes);
        return ksys_memory_free_internal(&tmp);
    }
    for (int32_t y = 0; y < h; ++y) std::memcpy(kip::byteRow(d, y), kip::byteRow(s, y), bytes);
    return 0;
}

template <class T>
kip_status copyImage(const kimg_image* source, kimg_image* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(destination);
    if (!source->store || !destination->store) return kip_errImageUnbound;
    if (source->store->depth != sizeof(T) || destination->store->depth != sizeof(T)) return kimg_errDepthMismatch;
    kimg_window s, d;
    kimg_window_init(&s, source);
    kimg_window_init(&d, destination);
    uint32_t empty = 0;
    kip_status st = kip_pelfunc_gcrTwoWindowIgnoreOverlap(&s, &d, &empty);
    if (kip::failed(st) || empty) return st;
    return copyWindow<T>(&s, &d);
}

template <class T>
kip_status fillWindow(kimg_window* window, T value) {
    KIP_REQUIRE(window);
    if (window->image == nullptr) return kip_errImageUnbound;
    if (isNullWindow(*window)) return 0;
    if (window->bytesPerPixel != int32_t(sizeof(T))) return kimg_errDepthMismatch;
    for (int32_t y = 0; y < window->rect.height; ++y) {
        T* row = reinterpret_cast<T*>(kip::byteRow(*window, y));
        std::fill(row, row + window->rect.width, value);
    }
    return 0;
}

template <class T>
kip_status fillImage(kimg_image* image, T value) {
    KIP_REQUIRE(image);
    if (!image->store) return kip_errImageUnbound;
    kimg_window w;
    kimg_window_init(&w, image);
    return fillWindow<T>(&w, value);
}

template <class T>
kip_status equalImages(const kimg_image* a, const kimg_image* b, uint32_t* equal) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    KIP_REQUIRE(equal);
    if (!a->store || !b->store) {
        if (a->store || b->store) *equal = 0;
        return 0;
    }
    if ((a->store->depth != sizeof(T)) || (b->store->depth != sizeof(T))) {
        if (a->store->depth != b->store->depth) {
            *equal = 0;
            return 0;
        }
        return kimg_errDepthMismatch;
    }
    if (!kip::sameRect(a->window, b->window)) {
        *equal = 0;
        return 0;
    }
    kimg_window wa, wb;
    kimg_window_init(&wa, a);
    kimg_window_init(&wb, b);
    if (isNullWindow(wa)) return 0;
    const size_t bytes = size_t(wa.rect.width) * sizeof(T);
    for (int32_t y = 0; y < wa.rect.height; ++y) {
        if (std::memcmp(kip::byteRow(wa, y), kip::byteRow(wb, y), bytes) != 0) {
            *equal = 0;
            return 0;
        }
    }
    return 0;
}

}  // namespace

extern "C" {

kip_status kip_pelCopyWindow8(const kimg_windowConst* source, kimg_window* destination) {
    return copyWindow<uint8_t>(source, destination);
}
kip_status kip_pelCopyWindow16(const kimg_windowConst* source, kimg_window* destination) {
    return copyWindow<uint16_t>(source, destination);
}
kip_status kip_pelCopy8(const kimg_imageConst* source, kimg_image* destination) {
    return copyImage<uint8_t>(source, destination);
}
kip_status kip_pelCopy16s(const kimg_imageConst* source, kimg_image* destination) {
    return copyImage<uint16_t>(source, destination);
}
kip_status kip_pelSet8(kimg_image* image, uint8_t value) { return fillImage<uint8_t>(image, value); }
kip_status kip_pelSet16(kimg_image* image, uint16_t value) { return fillImage<uint16_t>(image, value); }
kip_status kip_pelSetWindow8(kimg_window* window, uint8_t value) { return fillWindow<uint8_t>(window, value); }
kip_status kip_pelSetWindow16(kimg_window* window, uint16_t value) { return fillWindow<uint16_t>(window, value); }
kip_status kip_pelAndRectsEqual8(const kimg_imageConst* a, const kimg_imageConst* b, uint32_t* equal) {
    return equalImages<uint8_t>(a, b, equal);
}
kip_status kip_pelAndRectsEqual16(const kimg_imageConst* a, const kimg_imageConst* b, uint32_t* equal) {
    return equalImages<uint16_t>(a, b, equal);
}

kip_status kip_pelfunc_checkMemoryOverlap(const kimg_windowConst* a, const kimg_windowConst* b) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    return overlaps(*a, *b) ? kip_errMemoryOverlap : 0;
}

kip_status kip_pelfunc_gcrTwoWindowIgnoreOverlap(kimg_windowConst* a, kimg_windowConst* b, uint32_t* empty) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    KIP_REQUIRE(empty);
    kstd_rect32 r{};
    kimg_windowConst_gcr(a, b, &r, empty);
    uint32_t clipped = 0;
    if (*empty) {
        a->rect = b->rect = kstd_rect32{0, 0, 0, 0};
        a->pixels = b->pixels = nullptr;
        return 0;
    }
    kip_status s = kimg_windowConst_windowRect(a, &r, &clipped);
    if (kip::failed(s)) return s;
    return kimg_windowConst_windowRect(b, &r, &clipped);
}

}  // extern "C"
