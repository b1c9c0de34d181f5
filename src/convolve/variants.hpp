// The two convolution variants, the one description of the 8/16-bit axis that the code and the
// tests share: 8-bit source with an 8-bit kernel into 8-bit pixels, and with a 16-bit signed
// kernel into 16-bit signed pixels.
#pragma once

#include "convolve/convolve_internal.hpp"
#include "frame/hook.hpp"
#include "kip/platform/pixel.h"

namespace kip::convolve {

struct Variant8 {
    using Kernel = kip_filterConvolveKernel8;
    static constexpr uint32_t kDepth = 1;  // destination and kernel pixels
    static constexpr bool kSigned = false;
    static constexpr int32_t kMin = 0, kMax = 255;  // destination values
    static constexpr bool kUnitKernelCopies = true;
    static constexpr auto kLabel = makeLabel("kip_filterConvolveWindow8_8_8_clipped_");
    static constexpr auto kSeparableLabel = makeLabel("kip_filterConvolveWindow8_8_8_separable_");
    static constexpr auto kBoxLabel = makeLabel("kip_filterConvolveWindow8_8_8_box_");
    static KernelNorm norm(const kimg_windowConst& k) { return kernelNorm8(k); }
    static kip_status fillZero(kimg_window* w) { return kip_pelSetWindow8(w, 0); }
    static kip_status copyKernelPixels(const kimg_imageConst* s, kimg_image* d) { return kip_pelCopy8(s, d); }
    static kip_status kernelPixelsEqual(const kimg_imageConst* a, const kimg_imageConst* b, uint32_t* e) {
        return kip_pelAndRectsEqual8(a, b, e);
    }
    // Exported calls.
    static constexpr auto construct = &kip_filterConvolveKernel8_construct;
    static constexpr auto constructCopy = &kip_filterConvolveKernel8_constructCopy;
    static constexpr auto destruct = &kip_filterConvolveKernel8_destruct;
    static constexpr auto assign = &kip_filterConvolveKernel8_assign;
    static constexpr auto validate = &kip_filterConvolveKernel8_validate;
    static constexpr auto compareEqual = &kip_filterConvolveKernel8_compareEqual;
    static constexpr auto getKernel = &kip_filterConvolveKernel8_getKernel;
    static constexpr auto setKernel = &kip_filterConvolveKernel8_setKernel;
    static constexpr auto filter = &kip_filterConvolve8_8_8;
    static constexpr auto filterWindow = &kip_filterConvolveWindow8_8_8;
    // Internal steps.
    static constexpr auto loop = &kip_filterConvolveLoop8_8_8_;
    static constexpr auto fast = &kip_filterConvolveFast8_8_8_;
    static constexpr auto fastMirrored = &kip_filterConvolveFastMirrored8_8_8_;
    static constexpr auto separable = &kip_filterConvolveSeparable8_8_8_;
    static constexpr auto box = &kip_filterConvolveBox8_8_8_;
    static constexpr auto clipped = &kip_filterConvolveWindow8_8_8_clipped_;
    static constexpr auto mirrored = &kip_filterConvolveWindow8_8_8_mirrored_;
};

struct Variant16s {
    using Kernel = kip_filterConvolveKernel16s;
    static constexpr uint32_t kDepth = 2;
    static constexpr bool kSigned = true;
    static constexpr int32_t kMin = -32768, kMax = 32767;
    static constexpr bool kUnitKernelCopies = false;
    static constexpr auto kLabel = makeLabel("kip_filterConvolveWindow8_16s_16s_clipped_");
    static constexpr auto kSeparableLabel = makeLabel("kip_filterConvolveWindow8_16s_16s_separable_");
    static constexpr auto kBoxLabel = makeLabel("kip_filterConvolveWindow8_16s_16s_box_");
    static KernelNorm norm(const kimg_windowConst& k) { return kernelNorm16s(k); }
    static kip_status fillZero(kimg_window* w) { return kip_pelSetWindow16(w, 0); }
    static kip_status copyKernelPixels(const kimg_imageConst* s, kimg_image* d) { return kip_pelCopy16s(s, d); }
    static kip_status kernelPixelsEqual(const kimg_imageConst* a, const kimg_imageConst* b, uint32_t* e) {
        return kip_pelAndRectsEqual16(a, b, e);
    }
    static constexpr auto construct = &kip_filterConvolveKernel16s_construct;
    static constexpr auto constructCopy = &kip_filterConvolveKernel16s_constructCopy;
    static constexpr auto destruct = &kip_filterConvolveKernel16s_destruct;
    static constexpr auto assign = &kip_filterConvolveKernel16s_assign;
    static constexpr auto validate = &kip_filterConvolveKernel16s_validate;
    static constexpr auto compareEqual = &kip_filterConvolveKernel16s_compareEqual;
    static constexpr auto getKernel = &kip_filterConvolveKernel16s_getKernel;
    static constexpr auto setKernel = &kip_filterConvolveKernel16s_setKernel;
    static constexpr auto filter = &kip_filterConvolve8_16s_16s;
    static constexpr auto filterWindow = &kip_filterConvolveWindow8_16s_16s;
    static constexpr auto loop = &kip_filterConvolveLoop8_16s_16s_;
    static constexpr auto fast = &kip_filterConvolveFast8_16s_16s_;
    static constexpr auto fastMirrored = &kip_filterConvolveFastMirrored8_16s_16s_;
    static constexpr auto separable = &kip_filterConvolveSeparable8_16s_16s_;
    static constexpr auto box = &kip_filterConvolveBox8_16s_16s_;
    static constexpr auto clipped = &kip_filterConvolveWindow8_16s_16s_clipped_;
    static constexpr auto mirrored = &kip_filterConvolveWindow8_16s_16s_mirrored_;
};

// The variant of a kernel type.
template <class Kernel>
struct VariantOf;
template <>
struct VariantOf<kip_filterConvolveKernel8> {
    using type = Variant8;
};
template <>
struct VariantOf<kip_filterConvolveKernel16s> {
    using type = Variant16s;
};

}  // namespace kip::convolve
