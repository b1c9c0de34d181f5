// Convolution: both kernel types (weights from the bytes, box, Gaussian, Sobel, Laplace), both
// border modes and invalid ones, image and window entries; the result must equal that of the
// inhibited general path wherever the headers fix it.
#include <algorithm>

#include "fuzz_support.hpp"

using namespace kipfuzz;

namespace {

template <class Kernel>
struct Ops;
template <>
struct Ops<kip_filterConvolveKernel8> {
    static constexpr uint32_t depth = 1;
    static kip_status construct(kip_filterConvolveKernel8* k) { return kip_filterConvolveKernel8_construct(k); }
    static kip_status destruct(kip_filterConvolveKernel8* k) { return kip_filterConvolveKernel8_destruct(k); }
    static kip_status get(const kip_filterConvolveKernel8* k, kimg_imageConst* i) {
        return kip_filterConvolveKernel8_getKernel(k, i);
    }
    static kip_status set(kip_filterConvolveKernel8* k, const kimg_imageConst* i) {
        return kip_filterConvolveKernel8_setKernel(k, i);
    }
    static kip_status common(Input& in, kip_filterConvolveKernel8* k, const kstd_pair32& size) {
        return in.ConsumeBool() ? kip_filterConvolveKernel8_setBox(k, &size)
                                : kip_filterConvolveKernel8_setGaussian(k, &size);
    }
    static kip_status image(const kimg_imageConst* s, const kip_filterConvolveParams* p,
                            const kip_filterConvolveKernel8* k, kimg_image* d) {
        return kip_filterConvolve8_8_8(s, p, k, d);
    }
    static kip_status window(const kimg_windowConst* s, const kip_filterConvolveParams* p,
                             const kip_filterConvolveKernel8* k, const kimg_window* d) {
        return kip_filterConvolveWindow8_8_8(s, p, k, d);
    }
};
template <>
struct Ops<kip_filterConvolveKernel16s> {
    static constexpr uint32_t depth = 2;
    static kip_status construct(kip_filterConvolveKernel16s* k) { return kip_filterConvolveKernel16s_construct(k); }
    static kip_status destruct(kip_filterConvolveKernel16s* k) { return kip_filterConvolveKernel16s_destruct(k); }
    static kip_status get(const kip_filterConvolveKernel16s* k, kimg_imageConst* i) {
        return kip_filterConvolveKernel16s_getKernel(k, i);
    }
    static kip_status set(kip_filterConvolveKernel16s* k, const kimg_imageConst* i) {
        return kip_filterConvolveKernel16s_setKernel(k, i);
    }
    static kip_status common(Input& in, kip_filterConvolveKernel16s* k, const kstd_pair32&) {
        return in.ConsumeBool() ? kip_filterConvolveKernel16s_setLaplace(k)
                                : kip_filterConvolveKernel16s_setSobel(k, in.ConsumeIntegralInRange(0u, 2u));
    }
    static kip_status image(const kimg_imageConst* s, const kip_filterConvolveParams* p,
                            const kip_filterConvolveKernel16s* k, kimg_image* d) {
        return kip_filterConvolve8_16s_16s(s, p, k, d);
    }
    static kip_status window(const kimg_windowConst* s, const kip_filterConvolveParams* p,
                             const kip_filterConvolveKernel16s* k, const kimg_window* d) {
        return kip_filterConvolveWindow8_16s_16s(s, p, k, d);
    }
};

// Weights as the result's divisor sees them: the sum (8-bit) or max(positive, negative) sums.
int64_t norm(const kimg_image& weights, uint32_t depth) {
    kimg_window w;
    FUZZ_CHECK(kimg_window_init(&w, &weights) == 0);
    int64_t positive = 0, negative = 0;
    for (int32_t y = 0; y < w.rect.height; ++y)
        for (int32_t x = 0; x < w.rect.width; ++x) {
            const intptr_t at = intptr_t(y) * w.stride + x;
            const int64_t v =
                depth == 1 ? static_cast<const uint8_t*>(w.pixels)[at] : static_cast<const int16_t*>(w.pixels)[at];
            (v > 0 ? positive : negative) += v > 0 ? v : -v;
        }
    return std::max(positive, negative);
}

template <class Kernel>
void body(Run& run) {
    using O = Ops<Kernel>;
    Input& in = run.in;
    Scene& scene = run.scene();
    kip_filterConvolveParams params{in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<uint32_t>()
                                                                         : 2u * in.ConsumeIntegralInRange(0u, 1u)};
    Kernel kernel;
    FUZZ_CHECK(O::construct(&kernel) == 0);
    const kstd_pair32 size{kernelSide(in), kernelSide(in)};
    const int64_t area = int64_t(size.x) * size.y;
    bool usable = true;
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0:
            checkStatus(O::common(in, &kernel, size), "common kernel");
            usable = size.x <= 0 || size.y <= 0 || area <= 31 * 31;
            break;
        case 1:
            break;  // unbound
        default:
            if (size.x > 0 && size.y > 0 && area <= 31 * 31) {
                kimg_image weights;
                kimg_image_constructUnbound(&weights);
                const kstd_rect32 r{in.ConsumeIntegralInRange(-9, 9), in.ConsumeIntegralInRange(-9, 9), size.x, size.y};
                FUZZ_CHECK(kimg_image_assignNewRect(
                               &weights, in.ConsumeIntegralInRange(0, 15) ? O::depth : 3 - O::depth, &r) == 0);
                kimg_window w;
                FUZZ_CHECK(kimg_window_init(&w, &weights) == 0);
                fillPixels(in, w);
                checkStatus(O::set(&kernel, &weights), "kernel weights");
                kimg_image_destruct(&weights);
            }
    }
    kimg_image held;
    kimg_image_constructUnbound(&held);
    FUZZ_CHECK(O::get(&kernel, &held) == 0);
    uint32_t bound = 0;
    kimg_image_getIsBound(&held, &bound);
    // Sums past 32 bits: accepted, results left open.
    if (bound && norm(held, O::depth) * 255 > INT32_MAX) run.outcome.unspecified = true;
    kimg_image_destruct(&held);

    const bool windows = in.ConsumeBool();
    Img* source = usable ? scene.fresh(in.ConsumeIntegralInRange(0, 15) ? 1 : 2) : nullptr;
    Img* destination = source ? scene.destination(*source, nullptr, O::depth) : nullptr;
    if (destination && !windows) {
        run.call({destination}, [&] { return O::image(&source->h, &params, &kernel, &destination->h); });
        run.outcome.results.push_back(imageBytes(destination->h));
    } else if (destination) {
        // Clipped in place reads pixels already written: the headers leave that result open.
        if (params.borderMode != 2 && destination->storage == source->storage) run.outcome.unspecified = true;
        const kimg_window s = scene.window(source), d = scene.window(destination);
        run.call({destination}, [&] { return O::window(&s, &params, &kernel, &d); });
    }
    FUZZ_CHECK(O::destruct(&kernel) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return compareRuns(data, size, [](Run& run) {
        if (run.in.ConsumeBool())
            body<kip_filterConvolveKernel8>(run);
        else
            body<kip_filterConvolveKernel16s>(run);
    });
}
