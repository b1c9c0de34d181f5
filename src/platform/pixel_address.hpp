// Addresses of pixels inside a window, in client coordinates. Offsets are computed in 64 bits so
// that any position inside a window is exact whatever its stride.
#pragma once

#include <cstdint>

#include "kip/platform/image.h"

namespace kip {

// First byte of pixel (x, y); the window must contain it and bytesPerPixel must be set.
inline uint8_t* byteAt(const kimg_window& w, int64_t x, int64_t y) {
    return static_cast<uint8_t*>(w.pixels) + ((y - w.rect.y) * w.stride + (x - w.rect.x)) * int64_t{w.bytesPerPixel};
}

// Pixel (x, y) of a window whose pixels are T.
template <class T>
inline const T* pixelAt(const kimg_window& w, int64_t x, int64_t y) {
    return reinterpret_cast<const T*>(static_cast<const uint8_t*>(w.pixels) +
                                      ((y - w.rect.y) * w.stride + (x - w.rect.x)) * int64_t{sizeof(T)});
}

template <class T>
inline T* mutablePixelAt(const kimg_window& w, int64_t x, int64_t y) {
    return reinterpret_cast<T*>(static_cast<uint8_t*>(w.pixels) +
                                ((y - w.rect.y) * w.stride + (x - w.rect.x)) * int64_t{sizeof(T)});
}

// First byte of the window's row i, counted from its top row.
inline uint8_t* byteRow(const kimg_window& w, int64_t i) {
    return static_cast<uint8_t*>(w.pixels) + i * w.stride * int64_t{w.bytesPerPixel};
}

}  // namespace kip
