// The two convolution variants as policies of one implementation: 8-bit source with an 8-bit
// kernel into 8-bit pixels, and with a 16-bit signed kernel into 16-bit signed pixels.
#pragma once

#include "convolve/convolve_internal.hpp"
#include "frame/hook.hpp"
#include "kip/platform/pixel.h"

namespace kip::convolve {

struct Variant8 {
    using Kernel = kip_filterConvolveKernel8;
    static constexpr uint32_t kDepth = 1;  // destination and kernel pixels
    static constexpr bool kUnitKernelCopies = true;
    static constexpr auto kLabel = makeLabel("kip_filterConvolveWindow8_8_8_clipped_");
    static kip_status validate(const Kernel* k) { return kip_filterConvolveKernel8_validate(k); }
    static KernelNorm norm(const kimg_windowConst& k) { return kernelNorm8(k); }
    static kip_status fillZero(kimg_window* w) { return kip_pelSetWindow8(w, 0); }
    static constexpr auto loop = &kip_filterConvolveLoop8_8_8_;
    static constexpr auto fast = &kip_filterConvolveFast8_8_8_;
    static constexpr auto fastMirrored = &kip_filterConvolveFastMirrored8_8_8_;
    static constexpr auto clipped = &kip_filterConvolveWindow8_8_8_clipped_;
    static constexpr auto mirrored = &kip_filterConvolveWindow8_8_8_mirrored_;
};

struct Variant16s {
    using Kernel = kip_filterConvolveKernel16s;
    static constexpr uint32_t kDepth = 2;
    static constexpr bool kUnitKernelCopies = false;
    static constexpr auto kLabel = makeLabel("kip_filterConvolveWindow8_16s_16s_clipped_");
    static kip_status validate(const Kernel* k) { return kip_filterConvolveKernel16s_validate(k); }
    static KernelNorm norm(const kimg_windowConst& k) { return kernelNorm16s(k); }
    static kip_status fillZero(kimg_window* w) { return kip_pelSetWindow16(w, 0); }
    static constexpr auto loop = &kip_filterConvolveLoop8_16s_16s_;
    static constexpr auto fast = &kip_filterConvolveFast8_16s_16s_;
    static constexpr auto fastMirrored = &kip_filterConvolveFastMirrored8_16s_16s_;
    static constexpr auto clipped = &kip_filterConvolveWindow8_16s_16s_clipped_;
    static constexpr auto mirrored = &kip_filterConvolveWindow8_16s_16s_mirrored_;
};

}  // namespace kip::convolve
