// Internal steps of the convolution filters. Windows are in client coordinates; the destination
// handed to a step is already restricted to the result rectangle.
#pragma once

#include <cstdint>

#include "kip/convolve.h"

extern "C" {

// Kernel sum or norm, hook, optimised slot, then the general loop. An all-zero kernel writes 0.
kip_status kip_filterConvolveWindow8_8_8_clipped_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                  const kimg_window* destination);
kip_status kip_filterConvolveWindow8_16s_16s_clipped_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                      const kimg_window* destination);
// The same over the source extended by reflection.
kip_status kip_filterConvolveWindow8_8_8_mirrored_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                   const kimg_window* destination);
kip_status kip_filterConvolveWindow8_16s_16s_mirrored_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                       const kimg_window* destination);

// New 8-bit image over the source window grown by the kernel's half-size on every side, holding
// the source in its middle and its symmetric reflection around it (continued back and forth
// where the margin exceeds the source). On failure nothing is left constructed.
kip_status kip_filterConvolveMirrorSource8_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                            kimg_image* mirrored);

// The general loop: true convolution, 32-bit accumulation, truncating division by divisor
// (non-zero), low 8 or 16 bits stored. The source must hold every footprint of the destination.
kip_status kip_filterConvolveLoop8_8_8_(const kimg_windowConst* source, const kimg_windowConst* kernel, int32_t divisor,
                                        const kimg_window* destination);
kip_status kip_filterConvolveLoop8_16s_16s_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                            int32_t divisor, const kimg_window* destination);

// Optimised slots: the general loop's exact results, or kip_errNotAvailable when the processor,
// the kernel's range or the windows do not allow it.
kip_status kip_filterConvolveFast8_8_8_(const kimg_windowConst* source, const kimg_windowConst* kernel, int32_t divisor,
                                        const kimg_window* destination);
kip_status kip_filterConvolveFast8_16s_16s_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                            int32_t divisor, const kimg_window* destination);
// The same reading the source through the reflection itself (no mirrored copy): results equal the
// general loop over kip_filterConvolveMirrorSource8_'s image.
kip_status kip_filterConvolveFastMirrored8_8_8_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                int32_t divisor, const kimg_window* destination);
kip_status kip_filterConvolveFastMirrored8_16s_16s_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                    int32_t divisor, const kimg_window* destination);

}  // extern "C"

namespace kip::convolve {

// Symmetric reflection of index i into 0..n-1 (n >= 1): -1 -> 0, -2 -> 1, n -> n - 1, and on
// with period 2n, so any index has a defined source pixel.
inline int64_t reflect(int64_t i, int64_t n) {
    const int64_t period = 2 * n;
    int64_t r = i % period;
    if (r < 0) r += period;
    return r < n ? r : period - 1 - r;
}

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

inline bool containsRect(const kstd_rect32& outer, int64_t x, int64_t y, int64_t width, int64_t height) {
    return x >= outer.x && y >= outer.y && x + width <= int64_t{outer.x} + outer.width &&
           y + height <= int64_t{outer.y} + outer.height;
}

// 8-bit kernel: the sum of the weights. 16-bit kernel: max(P, N) of the positive weights and of
// the magnitudes of the others. wrapped is the 32-bit value the filters divide by; exact is the
// same without wrap-around, which the fast path needs to bound its accumulator.
struct KernelNorm {
    uint32_t wrapped;
    uint64_t exact;
};
KernelNorm kernelNorm8(const kimg_windowConst& kernel);
KernelNorm kernelNorm16s(const kimg_windowConst& kernel);

}  // namespace kip::convolve
