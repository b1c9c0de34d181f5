// The subtraction step: out := clamp(source - background + offset), row by row, in the widest
// vector kernels the processor runs.
#include "pelsub/pelsub_internal.hpp"
#include "pelsub/rows_isa.hpp"
#include "platform/assert.hpp"

using kip::failed;

namespace {

template <class T>
kip_status subtractStep(const kimg_windowConst* source, const kimg_windowConst* background, const kimg_window* out) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(background);
    KIP_REQUIRE(out);
    uint32_t sourceNull = 1;
    kip_status s = kimg_windowConst_getIsNull(source, &sourceNull);
    if (failed(s)) return s;
    if (sourceNull) return kip_errImageUnbound;
    const int32_t width = source->rect.width;
    const int32_t height = source->rect.height;
    if (background->rect.width != width || background->rect.height != height || out->rect.width != width ||
        out->rect.height != height)
        return kimg_errSizeMismatch;
    const int32_t depth = int32_t{sizeof(T)};
    if (source->bytesPerPixel != depth || background->bytesPerPixel != depth || out->bytesPerPixel != depth)
        return kimg_errDepthMismatch;

    const kip::pelsub::RowIsa* isa = kip::pelsub::selectRowIsa();
    for (int32_t y = 0; y < height; ++y) {
        const T* sr = static_cast<const T*>(source->pixels) + static_cast<int64_t>(y) * source->stride;
        const T* br = static_cast<const T*>(background->pixels) + static_cast<int64_t>(y) * background->stride;
        T* orow = static_cast<T*>(out->pixels) + static_cast<int64_t>(y) * out->stride;
        if (isa == nullptr) {
            for (int32_t x = 0; x < width; ++x) orow[x] = kip::pelsub::subtracted(sr[x], br[x]);
        } else if constexpr (sizeof(T) == 1) {
            isa->subtract8(sr, br, width, orow);
        } else {
            isa->subtract16(sr, br, width, orow);
        }
    }
    return 0;
}

}  // namespace

extern "C" {

kip_status kip_pelSubLocalSubtract8_(const kimg_windowConst* source, const kimg_windowConst* background,
                                     const kimg_window* out) {
    return subtractStep<uint8_t>(source, background, out);
}

kip_status kip_pelSubLocalSubtract16_(const kimg_windowConst* source, const kimg_windowConst* background,
                                      const kimg_window* out) {
    return subtractStep<uint16_t>(source, background, out);
}

}  // extern "C"
