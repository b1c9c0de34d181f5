// Grey-scale dilation on a 4096 x 4096 scene, one thread: kip beside OpenCV's dilate on the same
// image in the same run. Rectangles at 8 and 16 bits; disks of radius 3, 7 and 15 beside OpenCV's
// ellipses of the same size, also with the run decomposition inhibited (the rank filter's way);
// kip's weighted radius-7 disk, which OpenCV has no counterpart for (compare it with
// scipy.ndimage.grey_dilation given the same footprint and structure, timed in Python).
#include <benchmark/benchmark.h>

#include <vector>

#include "kip/kip.h"
#include "scene.hpp"

#if defined(KIP_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kSide = 4096;

template <class T>
const std::vector<T>& scene() {
    if constexpr (sizeof(T) == 1) {
        static const std::vector<uint8_t> pixels = kipbench::scene8(kSide, kSide);
        return pixels;
    } else {
        static const std::vector<uint16_t> pixels = kipbench::scene16(kSide, kSide);
        return pixels;
    }
}

void setRate(benchmark::State& state) {
    state.counters["Mpixel/s"] =
        benchmark::Counter(double(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// Members of the disk of radius r in a (2r + 1) square, row by row.
std::vector<uint8_t> disk(int32_t r) {
    std::vector<uint8_t> m;
    for (int32_t y = -r; y <= r; ++y)
        for (int32_t x = -r; x <= r; ++x) m.push_back(x * x + y * y <= r * r ? 255 : 0);
    return m;
}

enum class Shape { rectangle, disk, weightedDisk, diskRank };

// Sends masked flat elements to the rank filter.
int32_t runsInhibited(const uint16_t* label) {
    const char* name = "kip_morphology_runs";
    for (; *name; ++name, ++label)
        if (*label != uint16_t(*name)) return 0;
    return 1;
}

template <class T, Shape S>
void kipDilate(benchmark::State& state) {
    const int32_t n = int32_t(state.range(0));
    const kstd_rect32 whole{0, 0, kSide, kSide};
    const uint32_t depth = sizeof(T);
    kimg_image source, destination;
    kimg_image_constructWrap(&source, depth, &whole, kSide, const_cast<T*>(scene<T>().data()));
    kimg_image_construct(&destination, depth, kSide, kSide);
    kip_filterMorphologyStructuringElement element;
    const kstd_pair32 size{n, n};
    kip_filterMorphologyStructuringElement_constructSize(&element, &size);
    kip_status s = 0;
    if (S != Shape::rectangle) {
        const std::vector<uint8_t> members = disk(n / 2);
        const kstd_rect32 square{0, 0, n, n};
        kimg_image mask;
        kimg_image_constructWrap(&mask, 1, &square, n, const_cast<uint8_t*>(members.data()));
        s = kip_filterMorphologyStructuringElement_setMask(&element, &mask);
        kimg_image_destruct(&mask);
    }
    if (S == Shape::weightedDisk && s == 0) {
        // A paraboloid, the usual rolling-ball shape.
        std::vector<int16_t> w;
        for (int32_t y = -n / 2; y <= n / 2; ++y)
            for (int32_t x = -n / 2; x <= n / 2; ++x) w.push_back(int16_t(-(x * x + y * y)));
        const kstd_rect32 square{0, 0, n, n};
        kimg_image weights;
        kimg_image_constructWrap(&weights, 2, &square, n, w.data());
        s = kip_filterMorphologyStructuringElement_setOffsetImage(&element, &weights);
        kip_filterMorphologyStructuringElement_setUseOffsetImage(&element, 1);
        kimg_image_destruct(&weights);
    }
    kip_filterMorphologyParams params;
    kip_filterMorphologyParams_init(&params);
    if (S == Shape::diskRank) kprt_isOptimizationInhibitedFP = &runsInhibited;
    for (auto _ : state) {
        if (s == 0)
            s = (sizeof(T) == 1 ? kip_filterMorphology8 : kip_filterMorphology16)(
                &source, nullptr, kip_filterMorphologyDilate, &params, &element, &destination);
        benchmark::ClobberMemory();
    }
    kprt_isOptimizationInhibitedFP = nullptr;
    if (s != 0) state.SkipWithError("kip failed");
    setRate(state);
    kip_filterMorphologyStructuringElement_destruct(&element);
    kimg_image_destruct(&destination);
    kimg_image_destruct(&source);
}

#if defined(KIP_BENCH_OPENCV)
template <class T, int Shape>
void opencvDilate(benchmark::State& state) {
    cv::setNumThreads(1);
    const int32_t n = int32_t(state.range(0));
    const int type = sizeof(T) == 1 ? CV_8U : CV_16U;
    const cv::Mat source(kSide, kSide, type, const_cast<T*>(scene<T>().data()));
    cv::Mat destination(kSide, kSide, type);
    const cv::Mat element = cv::getStructuringElement(Shape, cv::Size(n, n));
    for (auto _ : state) {
        cv::dilate(source, destination, element);
        benchmark::ClobberMemory();
    }
    setRate(state);
}
#endif

void rectangles(benchmark::internal::Benchmark* b) {
    for (int n : {3, 7, 15, 31, 63}) b->Arg(n);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}
void disk15(benchmark::internal::Benchmark* b) { b->Arg(15)->Unit(benchmark::kMillisecond)->UseRealTime(); }
void disks(benchmark::internal::Benchmark* b) {
    for (int n : {7, 15, 31}) b->Arg(n);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(kipDilate<uint8_t, Shape::rectangle>)->Name("rect8/kip")->Apply(rectangles);
BENCHMARK(kipDilate<uint16_t, Shape::rectangle>)->Name("rect16/kip")->Apply(rectangles);
BENCHMARK(kipDilate<uint8_t, Shape::disk>)->Name("disk8/kip")->Apply(disks);
BENCHMARK(kipDilate<uint16_t, Shape::disk>)->Name("disk16/kip")->Apply(disks);
BENCHMARK(kipDilate<uint8_t, Shape::diskRank>)->Name("disk8/kip_rank")->Apply(disk15);
BENCHMARK(kipDilate<uint16_t, Shape::diskRank>)->Name("disk16/kip_rank")->Apply(disk15);
BENCHMARK(kipDilate<uint8_t, Shape::weightedDisk>)->Name("weighted_disk8/kip")->Apply(disk15);
#if defined(KIP_BENCH_OPENCV)
BENCHMARK(opencvDilate<uint8_t, cv::MORPH_RECT>)->Name("rect8/opencv")->Apply(rectangles);
BENCHMARK(opencvDilate<uint16_t, cv::MORPH_RECT>)->Name("rect16/opencv")->Apply(rectangles);
BENCHMARK(opencvDilate<uint8_t, cv::MORPH_ELLIPSE>)->Name("disk8/opencv_ellipse")->Apply(disks);
BENCHMARK(opencvDilate<uint16_t, cv::MORPH_ELLIPSE>)->Name("disk16/opencv_ellipse")->Apply(disks);
#endif

BENCHMARK_MAIN();
