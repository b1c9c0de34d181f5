// The clipped and mirrored steps: divisor, the all-zero kernel, the optimised path behind its
// hook label, and the general loop when that path declines.
#include "convolve/variants.hpp"
#include "frame/cleanup.hpp"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;

namespace kip::convolve {

KernelNorm kernelNorm8(const kimg_windowConst& kernel) {
    uint64_t sum = 0;
    for (int32_t y = 0; y < kernel.rect.height; ++y) {
        const uint8_t* row = pixelAt<uint8_t>(kernel, kernel.rect.x, int64_t{kernel.rect.y} + y);
        for (int32_t x = 0; x < kernel.rect.width; ++x) sum += row[x];
    }
    return KernelNorm{static_cast<uint32_t>(sum), sum};
}

KernelNorm kernelNorm16s(const kimg_windowConst& kernel) {
    uint64_t positive = 0;
    uint64_t negative = 0;
    for (int32_t y = 0; y < kernel.rect.height; ++y) {
        const int16_t* row = pixelAt<int16_t>(kernel, kernel.rect.x, int64_t{kernel.rect.y} + y);
        for (int32_t x = 0; x < kernel.rect.width; ++x) {
            const int32_t w = row[x];
            if (w > 0)
                positive += static_cast<uint64_t>(w);
            else
                negative += static_cast<uint64_t>(-w);
        }
    }
    // The filters compare the two sums as 32-bit values; so does the wrapped norm.
    const uint32_t p32 = static_cast<uint32_t>(positive);
    const uint32_t n32 = static_cast<uint32_t>(negative);
    return KernelNorm{p32 > n32 ? p32 : n32, positive > negative ? positive : negative};
}

}  // namespace kip::convolve

namespace {

using namespace kip::convolve;

// Whether the optimised path may run: still to ask the hook, or already answered.
enum class Gate { AskHook, Allowed, Inhibited };

template <class V>
Gate askHook() {
    return kip::optimizationInhibited(V::kLabel.text) ? Gate::Inhibited : Gate::Allowed;
}

// The paths for kernels of a known shape, each behind its own label: equal weights take the box
// path, other rank-one kernels the separable one. kip_errNotAvailable when neither serves.
template <class V>
kip_status shapedPath(const kimg_windowConst* source, const kimg_windowConst* kernel, int32_t divisor,
                      const kimg_window* destination, bool mirror) {
    int32_t weight = 0;
    if (isBoxKernel(*kernel, &weight)) {
        if (kip::optimizationInhibited(V::kBoxLabel.text)) return kip_errNotAvailable;
        return V::box(source, kernel, divisor, destination, mirror ? 1u : 0u);
    }
    RankOne split;
    if (!rankOneSplit(*kernel, &split) || kip::optimizationInhibited(V::kSeparableLabel.text))
        return kip_errNotAvailable;
    return V::separable(source, kernel, divisor, destination, mirror ? 1u : 0u);
}

// shaped: whether the shaped paths are still to be tried (the mirrored step has tried them).
template <class V>
kip_status clippedStep(const kimg_windowConst* source, const kimg_windowConst* kernel, const kimg_window* destination,
                       Gate gate, bool shaped) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    const KernelNorm norm = V::norm(*kernel);
    if (norm.wrapped == 0) {
        kimg_window d = *destination;
        return V::fillZero(&d);
    }
    const int32_t divisor = static_cast<int32_t>(norm.wrapped);
    kip_status s = kip_errNotAvailable;
    if (shaped) {
        s = shapedPath<V>(source, kernel, divisor, destination, false);
        if (!kip_status_isNotAvailable(s)) return s;
    }
    if (gate == Gate::AskHook) gate = askHook<V>();
    if (gate == Gate::Allowed) s = V::fast(source, kernel, divisor, destination);
    if (!kip_status_isNotAvailable(s)) return s;
    return V::loop(source, kernel, divisor, destination);
}

// The optimised paths first read the source through the reflection directly, which spares the
// mirrored copy; when they decline, the mirrored copy is built and the clipped step runs on it.
// The hook is asked once per call and label either way.
template <class V>
kip_status mirroredStep(const kimg_windowConst* source, const kimg_windowConst* kernel,
                        const kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    Gate gate = Gate::AskHook;
    const KernelNorm norm = V::norm(*kernel);
    if (norm.wrapped != 0) {
        const int32_t divisor = static_cast<int32_t>(norm.wrapped);
        kip_status s = shapedPath<V>(source, kernel, divisor, destination, true);
        if (!kip_status_isNotAvailable(s)) return s;
        gate = askHook<V>();
        if (gate == Gate::Allowed) {
            s = V::fastMirrored(source, kernel, divisor, destination);
            if (!kip_status_isNotAvailable(s)) return s;
        }
    }
    kimg_image mirror;
    kip_status s = kip_filterConvolveMirrorSource8_(source, kernel, &mirror);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addObject<kimg_image, &kimg_image_destruct>(ksys_cleanupDestroyAlways, &mirror);
    // The copy lies in coordinates relative to the source; the destination follows it there.
    kimg_window shifted = *destination;
    const int64_t dx = int64_t{destination->rect.x} - source->rect.x;
    const int64_t dy = int64_t{destination->rect.y} - source->rect.y;
    if (dx < INT32_MIN || dx > INT32_MAX || dy < INT32_MIN || dy > INT32_MAX) s = kstd_errInvalidArgument;
    shifted.rect.x = static_cast<int32_t>(dx);
    shifted.rect.y = static_cast<int32_t>(dy);
    kimg_windowConst whole;
    if (!failed(s)) s = kimg_windowConst_init(&whole, &mirror);
    if (!failed(s)) s = clippedStep<V>(&whole, kernel, &shifted, gate, false);
    return c.finish(s);
}

}  // namespace

extern "C" {

kip_status kip_filterConvolveWindow8_8_8_clipped_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                  const kimg_window* destination) {
    return clippedStep<Variant8>(source, kernel, destination, Gate::AskHook, true);
}

kip_status kip_filterConvolveWindow8_16s_16s_clipped_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                      const kimg_window* destination) {
    return clippedStep<Variant16s>(source, kernel, destination, Gate::AskHook, true);
}

kip_status kip_filterConvolveWindow8_8_8_mirrored_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                   const kimg_window* destination) {
    return mirroredStep<Variant8>(source, kernel, destination);
}

kip_status kip_filterConvolveWindow8_16s_16s_mirrored_(const kimg_windowConst* source, const kimg_windowConst* kernel,
                                                       const kimg_window* destination) {
    return mirroredStep<Variant16s>(source, kernel, destination);
}

}  // extern "C"
