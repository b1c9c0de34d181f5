// Local subtraction: mean and median backgrounds, image and window entries, sizes the bytes
// choose (even, negative, huge); the result must equal that of the inhibited general path.
#include "fuzz_support.hpp"

using namespace kipfuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return compareRuns(data, size, [](Run& run) {
        Input& in = run.in;
        Scene& scene = run.scene();
        const uint32_t depth = in.ConsumeBool() ? 1 : 2;
        const bool median = in.ConsumeBool();
        kip_pelSubLocalParams params{kernelSide(in), kernelSide(in)};
        const bool windows = in.ConsumeBool();
        Img* source = scene.fresh(depth);
        if (!source) return;
        Img* mask = scene.mask(*source);
        Img* destination = scene.destination(*source, mask, depth);
        if (!destination) return;
        if (!windows) {
            using Entry = kip_status (*)(const kimg_imageConst*, const kimg_imageConst*, const kip_pelSubLocalParams*,
                                         kimg_image*);
            const Entry entry = median ? (depth == 1 ? kip_pelSubLocalMedian8 : kip_pelSubLocalMedian16)
                                       : (depth == 1 ? kip_pelSubLocalMean8 : kip_pelSubLocalMean16);
            uint32_t wasBound = 0;
            FUZZ_CHECK(kimg_image_getIsBound(&destination->h, &wasBound) == 0);
            const kip_status s = run.call(
                {destination}, [&] { return entry(&source->h, mask ? &mask->h : nullptr, &params, &destination->h); });
            // A destination given pixels by a failed call is made unbound again.
            uint32_t bound = 0;
            FUZZ_CHECK(kimg_image_getIsBound(&destination->h, &bound) == 0);
            if (kip_status_isFailure(s) && !wasBound) FUZZ_CHECK(!bound);
            run.outcome.results.push_back(imageBytes(destination->h));
        } else {
            using Entry = kip_status (*)(const kimg_windowConst*, const kimg_windowConst*, const kip_pelSubLocalParams*,
                                         const kimg_window*);
            const Entry entry = median ? (depth == 1 ? kip_pelSubLocalMedianWindow8 : kip_pelSubLocalMedianWindow16)
                                       : (depth == 1 ? kip_pelSubLocalMeanWindow8 : kip_pelSubLocalMeanWindow16);
            const kimg_window s = scene.window(source), d = scene.window(destination), m = scene.window(mask);
            run.call({destination}, [&] { return entry(&s, mask ? &m : nullptr, &params, &d); });
        }
    });
}
