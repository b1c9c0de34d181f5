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

// The storage rectangle of a bound image in client coordinates.
inline kstd_rect32 storageRect(const kimg_image& image) {
    return kstd_rect32{image.originX, image.originY, image.store->width, image.store->height};
}

}  // namespace kip
