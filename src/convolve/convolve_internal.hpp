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

// The separable path: a kernel that is exactly an outer product of an integer column and row, in
// a vertical and a horizontal pass; mirror reads the source through the reflection itself. The
// general loop's exact results, or kip_errNotAvailable when the kernel is not rank one, the
// factors or sums leave the exact range, or the windows or processor do not allow it.
kip_status kip_filterConvolveSeparable8_8_8_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                             int32_t divisor, const kimg_window* destination, uint32_t mirror);
kip_status kip_filterConvolveSeparable8_16s_16s_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                 int32_t divisor, const kimg_window* destination, uint32_t mirror);
// The box path: all weights equal, running column sums and window sums from a prefix row, at a
// cost that does not grow with the kernel. Declines like the separable path, and when the divisor
// is not the kernel's norm.
kip_status kip_filterConvolveBox8_8_8_(const kimg_windowConst* source, const kimg_windowConst* kernel, int32_t divisor,
                                       const kimg_window* destination, uint32_t mirror);
kip_status kip_filterConvolveBox8_16s_16s_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                           int32_t divisor, const kimg_window* destination, uint32_t mirror);

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

// How the optimised paths divide by an admitted divisor d (exact_divider.hpp): single precision
// through reciprocal when useFloat, else (|acc| * magic) >> shift.
struct Division {
    int32_t useFloat;
    float reciprocal;
    uint32_t magic, shift;
};

// The division for 1 <= divisor < 2^31 with sums within +-255 x divisor; false when none.
bool makeDivision(uint32_t divisor, Division* out);

// 0 when an optimised path can give the general loop's bits with exact 32-bit sums: windows of
// the variant's depths (weightBytes, outBytes), every footprint inside the source unless mirror,
// no memory shared with the destination, 255 x the norm within 32 bits and a divisor at least the
// norm. Fills division. kip_errNotAvailable otherwise.
kip_status admitExact(const kimg_windowConst& source, const kimg_windowConst& kernel, int32_t divisor,
                      const kimg_window& destination, bool mirror, int32_t weightBytes, int32_t outBytes,
                      Division* division);

// A rank-one kernel K[j][i] = column(j) * row(i), the column having no common factor (the
// smallest integer column there is). pivot = K[p][q] is the first non-zero weight, gcd the common
// factor of kernel column q.
struct RankOne {
    int32_t p, q;
    int64_t pivot, gcd;
    int64_t column(const kimg_windowConst& kernel, int32_t j) const;
    int64_t row(const kimg_windowConst& kernel, int32_t i) const;
};
// Whether the kernel (8-bit or signed 16-bit weights, not all zero) has rank one; fills split.
bool rankOneSplit(const kimg_windowConst& kernel, RankOne* split);
// Whether every weight equals the first; *weight := it.
bool isBoxKernel(const kimg_windowConst& kernel, int32_t* weight);

}  // namespace kip::convolve
