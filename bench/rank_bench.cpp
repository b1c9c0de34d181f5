// Rank filters on a 4096 x 4096 8-bit image (the natural-looking scene and uniform noise), one
// thread: kip's rectangular fast path with each instruction set forced in turn, beside OpenCV's
// medianBlur of the same size in the same run. medianBlur replicates the border where kip cuts
// the neighbourhood; the work is the same.
#include <benchmark/benchmark.h>

#include <vector>

#include "kip/kip.h"
#include "rank/rect_fast.hpp"
#include "scene.hpp"

#if defined(KIP_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kSide = 4096;

const std::vector<uint8_t>& image(int64_t which) {
    static const std::vector<uint8_t> scene = kipbench::scene8(kSide, kSide);
    static const std::vector<uint8_t> noise = kipbench::noise8(kSide, kSide);
    return which == 0 ? scene : noise;
}

void setRate(benchmark::State& state) {
    state.counters["Mpixel/s"] =
        benchmark::Counter(double(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// Features left visible: 0 all (AVX2 where present), 1 SSE2 only.
constexpr uint32_t kIsaMasks[] = {0xFFFFFFFFu, ~ksys_cpuFeatureAvx2};

// Arguments: kernel side, percentile in percent, image (0 scene, 1 noise), instruction set.
void kipRankRect(benchmark::State& state) {
    const int32_t n = int32_t(state.range(0));
    const double p = double(state.range(1)) / 100.0;
    const kstd_rect32 whole{0, 0, kSide, kSide};
    kimg_image source, destination;
    kimg_image_constructWrap(&source, 1, &whole, kSide, const_cast<uint8_t*>(image(state.range(2)).data()));
    kimg_image_construct(&destination, 1, kSide, kSide);
    kimg_window s, d;
    kimg_window_init(&s, &source);
    kimg_window_init(&d, &destination);
    const kstd_pair32 size{n, n};
    ksys_cpuinfo_setFeatureMask(kIsaMasks[state.range(3)]);
    kip_status status = 0;
    for (auto _ : state) {
        if (status == 0) status = kip_filterRankRectFast8_(&s, p, &size, &d);
        benchmark::ClobberMemory();
    }
    ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
    if (status != 0) state.SkipWithError("kip failed");
    setRate(state);
    kimg_image_destruct(&destination);
    kimg_image_destruct(&source);
}

#if defined(KIP_BENCH_OPENCV)
void opencvMedian(benchmark::State& state) {
    cv::setNumThreads(1);
    const int32_t n = int32_t(state.range(0));
    const cv::Mat source(kSide, kSide, CV_8U, const_cast<uint8_t*>(image(state.range(2)).data()));
    cv::Mat destination(kSide, kSide, CV_8U);
    for (auto _ : state) {
        cv::medianBlur(source, destination, n);
        benchmark::ClobberMemory();
    }
    setRate(state);
}
#endif

void kipCases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"size", "pct", "noise", "isa"});
    for (int64_t picture : {0, 1})
        for (int64_t n : {5, 15, 31, 63})
            for (int64_t pct : {50, 25})
                for (int64_t isa : {0, 1}) b->Args({n, pct, picture, isa});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

[[maybe_unused]] void peerCases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"size", "pct", "noise"});
    for (int64_t picture : {0, 1})
        for (int64_t n : {5, 15, 31, 63}) b->Args({n, 50, picture});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(kipRankRect)->Name("rank8_rect_fast/kip")->Apply(kipCases);
#if defined(KIP_BENCH_OPENCV)
BENCHMARK(opencvMedian)->Name("median8/opencv")->Apply(peerCases);
#endif

BENCHMARK_MAIN();
