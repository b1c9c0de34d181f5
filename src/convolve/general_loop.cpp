// The general convolution loop: the reference every faster path must match bit for bit.
#include "convolve/convolve_internal.hpp"
#include "platform/assert.hpp"

namespace {

using kip::containsRect;
using kip::mutablePixelAt;
using kip::pixelAt;

template <class Weight, class Out>
kip_status generalLoop(const kimg_windowConst* source, const kimg_windowConst* kernel, int32_t divisor,
                       const kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    KIP_ASSERT(divisor != 0);
    if (divisor == 0) return kstd_errInvalidArgument;
    const kstd_rect32 d = destination->rect;
    if (d.width <= 0 || d.height <= 0 || destination->pixels == nullptr) return 0;
    if (source->bytesPerPixel != 1 || kernel->bytesPerPixel != int32_t{sizeof(Weight)} ||
        destination->bytesPerPixel != int32_t{sizeof(Out)})
        return kimg_errDepthMismatch;
    const int32_t kw = kernel->rect.width;
    const int32_t kh = kernel->rect.height;
    const int64_t hx = (kw - 1) / 2;
    const int64_t hy = (kh - 1) / 2;
    // Every footprint must lie in the source: the steps guarantee it, this keeps reads in bounds.
    if (source->pixels == nullptr ||
        !containsRect(source->rect, d.x - hx, d.y - hy, int64_t{d.width} + kw - 1, int64_t{d.height} + kh - 1))
        return kstd_errInvalidArgument;

    for (int64_t y = d.y; y < int64_t{d.y} + d.height; ++y) {
        Out* out = mutablePixelAt<Out>(*destination, d.x, y);
        for (int64_t x = d.x; x < int64_t{d.x} + d.width; ++x) {
            // Unsigned so that kernels beyond the 32-bit range wrap instead of overflowing; within
            // the range the value equals the signed sum.
            uint32_t acc = 0;
            for (int32_t j = 0; j < kh; ++j) {
                const uint8_t* s = pixelAt<uint8_t>(*source, x - hx, y - hy + j);
                const Weight* k = pixelAt<Weight>(*kernel, kernel->rect.x, int64_t{kernel->rect.y} + kh - 1 - j);
                for (int32_t i = 0; i < kw; ++i) acc += static_cast<uint32_t>(int32_t{s[i]} * int32_t{k[kw - 1 - i]});
            }
            // In 64 bits, so that INT32_MIN / -1 (possible only for out-of-range kernels) is defined.
            const int64_t q = int64_t{static_cast<int32_t>(acc)} / int64_t{divisor};
            *out++ = static_cast<Out>(q);
        }
    }
    return 0;
}

}  // namespace

extern "C" {

kip_status kip_filterConvolveLoop8_8_8_(const kimg_windowConst* source, const kimg_windowConst* kernel, int32_t divisor,
                                        const kimg_window* destination) {
    return generalLoop<uint8_t, uint8_t>(source, kernel, divisor, destination);
}

kip_status kip_filterConvolveLoop8_16s_16s_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                            int32_t divisor, const kimg_window* destination) {
    return generalLoop<int16_t, uint16_t>(source, kernel, divisor, destination);
}

}  // extern "C"
