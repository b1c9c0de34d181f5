// Median filter: image and window entries on geometry, kernels, masks, parameters, threads and
// hook answers the bytes choose; the result must equal that of the inhibited general path.
#include "fuzz_support.hpp"

using namespace kipfuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return compareRuns(data, size, [](Run& run) {
        Input& in = run.in;
        Scene& scene = run.scene();
        const uint32_t depth = in.ConsumeBool() ? 1 : 2;
        kip_filterMedianParams params{in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<uint32_t>() : 1u};
        kip_filterMaskKernel kernel;
        FUZZ_CHECK(kip_filterMaskKernel_construct(&kernel) == 0);
        shapeKernel(in, kernel);
        const bool windows = in.ConsumeBool();
        Img* source = scene.fresh(depth);
        if (source) {
            Img* mask = scene.mask(*source);
            Img* destination = scene.destination(*source, mask, depth);
            if (!windows) {
                if (destination)
                    run.call({destination}, [&] {
                        return (depth == 1 ? kip_filterMedian8 : kip_filterMedian16)(
                            &source->h, mask ? &mask->h : nullptr, &params, &kernel, &destination->h);
                    });
                if (destination) run.outcome.results.push_back(imageBytes(destination->h));
            } else if (destination) {
                const kimg_window s = scene.window(source), d = scene.window(destination);
                const kimg_window m = scene.window(mask);
                run.call({destination}, [&] {
                    return (depth == 1 ? kip_filterMedianWindow8 : kip_filterMedianWindow16)(&s, mask ? &m : nullptr,
                                                                                             &params, &kernel, &d);
                });
            }
        }
        FUZZ_CHECK(kip_filterMaskKernel_destruct(&kernel) == 0);
    });
}
