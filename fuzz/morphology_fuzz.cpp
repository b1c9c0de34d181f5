// Morphology: the four operations (and invalid ones) with flat and weighted elements, both border
// modes, image masks and cancellation; the result must equal that of the inhibited general path.
#include "fuzz_support.hpp"

using namespace kipfuzz;

namespace {

using Element = kip_filterMorphologyStructuringElement;

// Shape, members and weights as the bytes choose; each change may be refused.
void shapeElement(Input& in, Element& e) {
    const kstd_pair32 size{kernelSide(in), kernelSide(in)};
    if (in.ConsumeBool() || int64_t(size.x) * size.y > 15 * 15 || size.x <= 0 || size.y <= 0) {
        checkStatus(kip_filterMorphologyStructuringElement_setSize(&e, &size), "element size");
    } else {
        kimg_image m;
        kimg_image_constructUnbound(&m);
        const kstd_rect32 r{in.ConsumeIntegralInRange(-4, 4), in.ConsumeIntegralInRange(-4, 4), size.x, size.y};
        FUZZ_CHECK(kimg_image_assignNewRect(&m, 1, &r) == 0);
        kimg_window w;
        FUZZ_CHECK(kimg_window_init(&w, &m) == 0);
        fillPixels(in, w);
        checkStatus(kip_filterMorphologyStructuringElement_setMask(&e, &m), "element mask");
        kimg_image_destruct(&m);
    }
    if (in.ConsumeBool()) {
        kstd_pair32 ks;
        FUZZ_CHECK(kip_filterMorphologyStructuringElement_getSize(&e, &ks) == 0);
        if (in.ConsumeIntegralInRange(0, 7) == 0) ks.x += 2;
        if (int64_t(ks.x) * ks.y <= 41 * 41) {
            kimg_image weights;
            kimg_image_constructUnbound(&weights);
            const kstd_rect32 r{in.ConsumeIntegralInRange(-4, 4), in.ConsumeIntegralInRange(-4, 4), ks.x, ks.y};
            FUZZ_CHECK(kimg_image_assignNewRect(&weights, 2, &r) == 0);
            kimg_window w;
            FUZZ_CHECK(kimg_window_init(&w, &weights) == 0);
            const int32_t range = in.ConsumeIntegralInRange(0, 15) == 0 ? 300 : 255;
            for (int32_t y = 0; y < w.rect.height; ++y)
                for (int32_t x = 0; x < w.rect.width; ++x)
                    static_cast<int16_t*>(w.pixels)[intptr_t(y) * w.stride + x] =
                        int16_t(in.ConsumeIntegralInRange(-range, range));
            checkStatus(kip_filterMorphologyStructuringElement_setOffsetImage(&e, &weights), "element weights");
            kimg_image_destruct(&weights);
        }
    }
    const uint32_t use = in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<uint32_t>() : in.ConsumeBool();
    FUZZ_CHECK(kip_filterMorphologyStructuringElement_setUseOffsetImage(&e, use) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return compareRuns(data, size, [](Run& run) {
        Input& in = run.in;
        Scene& scene = run.scene();
        const uint32_t depth = in.ConsumeBool() ? 1 : 2;
        const uint32_t operation =
            in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<uint32_t>() : in.ConsumeIntegralInRange(0u, 3u);
        kip_filterMorphologyParams params{in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<int32_t>()
                                                                               : in.ConsumeIntegralInRange(0, 1)};
        Element element;
        FUZZ_CHECK(kip_filterMorphologyStructuringElement_construct(&element) == 0);
        shapeElement(in, element);
        const bool windows = in.ConsumeBool();
        if (Img* source = scene.fresh(depth)) {
            Img* mask = scene.mask(*source);
            // Mask pixels other than 0 and 255 give results the filters leave open.
            if (mask) binarize(*mask);
            Img* destination = scene.destination(*source, mask, depth);
            if (destination && !windows) {
                run.call({destination}, [&] {
                    return (depth == 1 ? kip_filterMorphology8 : kip_filterMorphology16)(
                        &source->h, mask ? &mask->h : nullptr, operation, &params, &element, &destination->h);
                });
                run.outcome.results.push_back(imageBytes(destination->h));
            } else if (destination && kip_filterMorphologyParams_validate(&params) == 0 &&
                       kip_filterMorphologyStructuringElement_validate(&element) == 0) {
                const kimg_window s = scene.window(source), m = scene.window(mask);
                kimg_window d = scene.window(destination);
                run.call({destination}, [&] {
                    return (depth == 1 ? kip_filterMorphologyWindow8 : kip_filterMorphologyWindow16)(
                        &s, mask ? &m : nullptr, operation, &params, &element, &d);
                });
                run.outcome.results.push_back(windowBytes(d));
            }
        }
        FUZZ_CHECK(kip_filterMorphologyStructuringElement_destruct(&element) == 0);
    });
}
