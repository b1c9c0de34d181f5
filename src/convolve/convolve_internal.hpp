// Internal steps of the convolution filters. Windows are in client coordinates; the destination
// handed to a step is already restricted to the result rectangle.
#pragma once

#include <cstdint>

#include "frame/geometry.hpp"
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
// where the margin exceeds the source). The image is placed in coordinates relative to the
// source: the source's top-left pixel is at (0, 0). ksys_errOutOfMemory when the grown rectangle
// does not fit 32 bits. On failure nothing is left constructed.
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
