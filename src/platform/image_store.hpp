// Pixel storage shared by image handles.
#pragma once

#include <atomic>
#include <cstdint>

#include "kip/platform/image.h"

struct kimg_store_ {
    std::atomic<int64_t> references;
    uint32_t depth;  // bytes per pixel: 1 or 2
    int32_t width;   // storage size in pixels
    int32_t height;
    int32_t stride;  // pixels
    void* pixels;    // first pixel of the storage
};

namespace kip {

// Pixel (x, y) of a window in client coordinates; the window must contain it.
inline uint8_t* windowAt(const kimg_window& w, int32_t x, int32_t y) {
    return static_cast<uint8_t*>(w.pixels) +
           (static_cast<intptr_t>(y - w.rect.y) * w.stride + static_cast<intptr_t>(x - w.rect.x)) * w.bytesPerPixel;
}

// The storage rectangle of a bound image in client coordinates.
inline kstd_rect32 storageRect(const kimg_image& image) {
    return kstd_rect32{image.originX, image.originY, image.store->width, image.store->height};
}

}  // namespace kip
