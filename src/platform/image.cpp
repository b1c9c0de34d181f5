// Image handles on reference-counted storage, and windows over them.
#include <cstring>
#include <new>

#include "platform/assert.hpp"
#include "platform/image_store.hpp"
#include "platform/pixel_address.hpp"
#include "platform/rect.hpp"

namespace {

// Pixels start this far into an owning block: past the header, 16-byte aligned.
constexpr size_t kPixelOffset = (sizeof(kimg_store_) + 63) & ~size_t{63};

const kimg_xform kIdentity = {{1.0, 0.0, 0.0, 0.0, 1.0, 0.0}};

bool validDepth(uint32_t depth) { return depth == 1 || depth == 2; }

// The storage rectangle must stay inside the 32-bit client plane.
bool fitsPlane(int64_t x, int64_t y, int64_t width, int64_t height) {
    return x >= INT32_MIN && y >= INT32_MIN && x + width <= INT32_MAX && y + height <= INT32_MAX;
}

kip_status newStore(uint32_t depth, int32_t width, int32_t height, kimg_store_** out) {
    if (!validDepth(depth) || width < 0 || height < 0) return kstd_errInvalidArgument;
    // At most 2^63 bytes; the allocator's limit refuses what cannot be had, before any zeroing.
    uint64_t bytes = uint64_t(width) * uint64_t(height) * depth;
    void* block = nullptr;
    kip_status s = ksys_memory_alloc_internal(kPixelOffset + size_t(bytes), &block);
    if (kip::failed(s)) return s;
    auto* store = new (block) kimg_store_;
    store->references.store(1, std::memory_order_relaxed);
    store->depth = depth;
    store->width = width;
    store->height = height;
    store->stride = width;
    store->pixels = static_cast<uint8_t*>(block) + kPixelOffset;
    std::memset(store->pixels, 0, size_t(bytes));
    *out = store;
    return 0;
}

void retain(kimg_store_* store) {
    if (store) store->references.fetch_add(1, std::memory_order_relaxed);
}

void release(kimg_store_* store) {
    if (!store || store->references.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    store->~kimg_store_();
    void* block = store;
    ksys_memory_free_internal(&block);
}

void setUnbound(kimg_image* image) {
    image->store = nullptr;
    image->window = kstd_rect32{0, 0, 0, 0};
    image->originX = 0;
    image->originY = 0;
}

void bindNew(kimg_image* image, kimg_store_* store, const kstd_rect32& rect) {
    release(image->store);
    image->store = store;
    image->window = rect;
    image->originX = rect.x;
    image->originY = rect.y;
}

kip_status newImage(kimg_image* image, uint32_t depth, const kstd_rect32& rect, bool construct) {
    if (!fitsPlane(rect.x, rect.y, rect.width, rect.height)) return kstd_errInvalidArgument;
    kimg_store_* store = nullptr;
    kip_status s = newStore(depth, rect.width, rect.height, &store);
    if (kip::failed(s)) return s;
    if (construct) {
        setUnbound(image);
        image->xform = kIdentity;
    }
    bindNew(image, store, rect);
    return 0;
}

// Restricts a window to rect in place (source may equal out).
kip_status restrict(kimg_window* out, const kimg_window* source, const kstd_rect32& rect, uint32_t* clipped) {
    if (source->image == nullptr) return kip_errImageUnbound;
    kstd_rect32 r = kip::intersect(source->rect, rect);
    uint32_t cut = kip::sameRect(r, rect) ? 0u : 1u;
    kimg_window w = *source;
    if (kip::isEmpty(r) || source->pixels == nullptr) {
        w.pixels = nullptr;
    } else {
        w.pixels = kip::byteAt(*source, r.x, r.y);
    }
    w.rect = r;
    *out = w;
    *clipped = cut;
    return 0;
}

kip_status windowOver(kimg_window* window, const kimg_image* image, const kstd_rect32& rect) {
    kimg_window w;
    w.rect = rect;
    w.stride = image->store->stride;
    w.bytesPerPixel = int32_t(image->store->depth);
    w.image = image->store;
    w.pixels = nullptr;
    if (!kip::isEmpty(rect)) {
        intptr_t offset = intptr_t(rect.y - image->originY) * w.stride + intptr_t(rect.x - image->originX);
        w.pixels = static_cast<uint8_t*>(image->store->pixels) + offset * w.bytesPerPixel;
    }
    *window = w;
    return 0;
}

}  // namespace

extern "C" {

kip_status kimg_image_construct(kimg_image* image, uint32_t depth, int32_t width, int32_t height) {
    KIP_REQUIRE(image);
    return newImage(image, depth, kstd_rect32{0, 0, width, height}, true);
}

kip_status kimg_image_constructRect(kimg_image* image, uint32_t depth, const kstd_rect32* rect) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(rect);
    return newImage(image, depth, *rect, true);
}

kip_status kimg_image_constructWrap(kimg_image* image, uint32_t depth, const kstd_rect32* rect, int32_t stride,
                                    void* pixels) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(rect);
    if (!validDepth(depth) || rect->width < 0 || rect->height < 0 || stride < rect->width ||
        !fitsPlane(rect->x, rect->y, rect->width, rect->height))
        return kstd_errInvalidArgument;
    if (pixels == nullptr && rect->width > 0 && rect->height > 0) return kstd_errInvalidArgument;
    void* block = nullptr;
    kip_status s = ksys_memory_alloc_internal(sizeof(kimg_store_), &block);
    if (kip::failed(s)) return s;
    auto* store = new (block) kimg_store_;
    store->references.store(1, std::memory_order_relaxed);
    store->depth = depth;
    store->width = rect->width;
    store->height = rect->height;
    store->stride = stride;
    store->pixels = pixels;
    setUnbound(image);
    image->xform = kIdentity;
    bindNew(image, store, *rect);
    return 0;
}

kip_status kimg_image_constructUnbound(kimg_image* image) {
    KIP_REQUIRE(image);
    setUnbound(image);
    image->xform = kIdentity;
    return 0;
}

kip_status kimg_imageConst_constructUnbound(kimg_imageConst* image) { return kimg_image_constructUnbound(image); }

kip_status kimg_image_constructCopy(kimg_image* image, const kimg_image* source) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(source);
    retain(source->store);
    *image = *source;
    return 0;
}

kip_status kimg_imageConst_constructCopy(kimg_imageConst* image, const kimg_imageConst* source) {
    return kimg_image_constructCopy(image, source);
}

kip_status kimg_image_destruct(kimg_image* image) {
    KIP_REQUIRE(image);
    release(image->store);
    setUnbound(image);
    return 0;
}

kip_status kimg_imageConst_destruct(kimg_imageConst* image) { return kimg_image_destruct(image); }

kip_status kimg_image_assign(kimg_image* image, const kimg_image* source) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(source);
    retain(source->store);  // before the release, so self-assignment is safe
    release(image->store);
    *image = *source;
    return 0;
}

kip_status kimg_imageConst_assign(kimg_imageConst* image, const kimg_imageConst* source) {
    return kimg_image_assign(image, source);
}

kip_status kimg_image_assignUnbound(kimg_image* image) {
    KIP_REQUIRE(image);
    release(image->store);
    setUnbound(image);
    return 0;
}

kip_status kimg_imageConst_assignUnbound(kimg_imageConst* image) { return kimg_image_assignUnbound(image); }

kip_status kimg_image_assignNew(kimg_image* image, uint32_t depth, int32_t width, int32_t height) {
    KIP_REQUIRE(image);
    return newImage(image, depth, kstd_rect32{0, 0, width, height}, false);
}

kip_status kimg_image_assignNewRect(kimg_image* image, uint32_t depth, const kstd_rect32* rect) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(rect);
    return newImage(image, depth, *rect, false);
}

kip_status kimg_image_getIsBound(const kimg_image* image, uint32_t* bound) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(bound);
    *bound = image->store ? 1u : 0u;
    return 0;
}

kip_status kimg_imageConst_getIsBound(const kimg_imageConst* image, uint32_t* bound) {
    return kimg_image_getIsBound(image, bound);
}

kip_status kimg_image_getWindow(const kimg_image* image, kstd_rect32* rect) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(rect);
    *rect = image->store ? image->window : kstd_rect32{0, 0, 0, 0};
    return 0;
}

kip_status kimg_imageConst_getWindow(const kimg_imageConst* image, kstd_rect32* rect) {
    return kimg_image_getWindow(image, rect);
}

kip_status kimg_image_getDepth(const kimg_image* image, uint32_t* depth) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(depth);
    *depth = image->store ? image->store->depth : 0u;
    return 0;
}

kip_status kimg_image_getBounds(const kimg_image* image, kstd_rect32* rect) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(rect);
    *rect = image->store ? kip::storageRect(*image) : kstd_rect32{0, 0, 0, 0};
    return 0;
}

kip_status kimg_image_getPixels(const kimg_image* image, void** pixels, int32_t* stride) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(pixels);
    KIP_REQUIRE(stride);
    if (!image->store) return kip_errImageUnbound;
    kimg_window w;
    windowOver(&w, image, image->window);
    *pixels = w.pixels;
    *stride = w.stride;
    return 0;
}

kip_status kimg_image_setWindowRect(kimg_image* image, const kstd_rect32* rect, uint32_t* clipped) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(rect);
    KIP_REQUIRE(clipped);
    if (!image->store) return kip_errImageUnbound;
    kstd_rect32 r = kip::intersect(kip::storageRect(*image), *rect);
    *clipped = kip::sameRect(r, *rect) ? 0u : 1u;
    image->window = r;
    return 0;
}

kip_status kimg_image_setOrigin(kimg_image* image, int32_t x, int32_t y) {
    KIP_REQUIRE(image);
    if (!image->store) return kip_errImageUnbound;
    int64_t dx = int64_t{x} - image->window.x;
    int64_t dy = int64_t{y} - image->window.y;
    int64_t ox = image->originX + dx;
    int64_t oy = image->originY + dy;
    if (!fitsPlane(ox, oy, image->store->width, image->store->height)) return kstd_errInvalidArgument;
    image->originX = int32_t(ox);
    image->originY = int32_t(oy);
    image->window.x = x;
    image->window.y = y;
    return 0;
}

kip_status kimg_image_copyXforms(kimg_image* image, const kimg_imageConst* source) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(source);
    image->xform = source->xform;
    return 0;
}

kip_status kimg_image_getXform(const kimg_image* image, kimg_xform* xform) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(xform);
    *xform = image->xform;
    return 0;
}

kip_status kimg_image_setXform(kimg_image* image, const kimg_xform* xform) {
    KIP_REQUIRE(image);
    KIP_REQUIRE(xform);
    image->xform = *xform;
    return 0;
}

kip_status kimg_imageConst_gcr(const kimg_imageConst* a, const kimg_imageConst* b, kstd_rect32* rect, uint32_t* empty) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    KIP_REQUIRE(rect);
    KIP_REQUIRE(empty);
    kstd_rect32 ra{0, 0, 0, 0}, rb{0, 0, 0, 0};
    if (a->store) ra = a->window;
    if (b->store) rb = b->window;
    kstd_rect32 r = kip::intersect(ra, rb);
    bool none = !a->store || !b->store || kip::isEmpty(r);
    *rect = none ? kstd_rect32{0, 0, 0, 0} : r;
    *empty = none ? 1u : 0u;
    return 0;
}

kip_status kimg_window_init(kimg_window* window, const kimg_image* image) {
    KIP_REQUIRE(window);
    KIP_REQUIRE(image);
    if (!image->store) return kimg_window_initUnbound(window);
    return windowOver(window, image, image->window);
}

kip_status kimg_windowConst_init(kimg_windowConst* window, const kimg_imageConst* image) {
    return kimg_window_init(window, image);
}

kip_status kimg_window_initUnbound(kimg_window* window) {
    KIP_REQUIRE(window);
    *window = kimg_window{kstd_rect32{0, 0, 0, 0}, 0, 0, nullptr, nullptr};
    return 0;
}

kip_status kimg_windowConst_initUnbound(kimg_windowConst* window) { return kimg_window_initUnbound(window); }

kip_status kimg_window_initWindow(kimg_window* window, const kimg_image* image, const kstd_rect32* rect,
                                  uint32_t* clipped) {
    KIP_REQUIRE(window);
    KIP_REQUIRE(image);
    KIP_REQUIRE(rect);
    KIP_REQUIRE(clipped);
    if (!image->store) return kip_errImageUnbound;
    kstd_rect32 r = kip::intersect(image->window, *rect);
    *clipped = kip::sameRect(r, *rect) ? 0u : 1u;
    return windowOver(window, image, r);
}

kip_status kimg_windowConst_initWindow(kimg_windowConst* window, const kimg_imageConst* image, const kstd_rect32* rect,
                                       uint32_t* clipped) {
    return kimg_window_initWindow(window, image, rect, clipped);
}

kip_status kimg_window_window(kimg_window* out, const kimg_window* source, int32_t x, int32_t y, int32_t width,
                              int32_t height, uint32_t* clipped) {
    KIP_REQUIRE(out);
    KIP_REQUIRE(source);
    KIP_REQUIRE(clipped);
    return restrict(out, source, kstd_rect32{x, y, width, height}, clipped);
}

kip_status kimg_windowConst_window(kimg_windowConst* out, const kimg_windowConst* source, int32_t x, int32_t y,
                                   int32_t width, int32_t height, uint32_t* clipped) {
    return kimg_window_window(out, source, x, y, width, height, clipped);
}

kip_status kimg_window_windowRect(kimg_window* window, const kstd_rect32* rect, uint32_t* clipped) {
    KIP_REQUIRE(window);
    KIP_REQUIRE(rect);
    KIP_REQUIRE(clipped);
    return restrict(window, window, *rect, clipped);
}

kip_status kimg_windowConst_windowRect(kimg_windowConst* window, const kstd_rect32* rect, uint32_t* clipped) {
    return kimg_window_windowRect(window, rect, clipped);
}

kip_status kimg_window_getIsNull(const kimg_window* window, uint32_t* isNull) {
    KIP_REQUIRE(window);
    KIP_REQUIRE(isNull);
    *isNull = (window->image == nullptr || window->pixels == nullptr || kip::isEmpty(window->rect)) ? 1u : 0u;
    return 0;
}

kip_status kimg_windowConst_getIsNull(const kimg_windowConst* window, uint32_t* isNull) {
    return kimg_window_getIsNull(window, isNull);
}

kip_status kimg_window_getIsBound(const kimg_window* window, uint32_t* bound) {
    KIP_REQUIRE(window);
    KIP_REQUIRE(bound);
    *bound = window->image ? 1u : 0u;
    return 0;
}

kip_status kimg_windowConst_getIsBound(const kimg_windowConst* window, uint32_t* bound) {
    return kimg_window_getIsBound(window, bound);
}

kip_status kimg_window_getWindow(const kimg_window* window, kstd_rect32* rect) {
    KIP_REQUIRE(window);
    KIP_REQUIRE(rect);
    *rect = window->rect;
    return 0;
}

kip_status kimg_windowConst_getWindow(const kimg_windowConst* window, kstd_rect32* rect) {
    return kimg_window_getWindow(window, rect);
}

kip_status kimg_windowConst_gcr(const kimg_windowConst* a, const kimg_windowConst* b, kstd_rect32* rect,
                                uint32_t* empty) {
    KIP_REQUIRE(a);
    KIP_REQUIRE(b);
    KIP_REQUIRE(rect);
    KIP_REQUIRE(empty);
    kstd_rect32 r = kip::intersect(a->rect, b->rect);
    bool none = kip::isEmpty(r);
    *rect = none ? kstd_rect32{0, 0, 0, 0} : r;
    *empty = none ? 1u : 0u;
    return 0;
}

}  // extern "C"
