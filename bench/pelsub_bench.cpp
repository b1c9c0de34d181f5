// Local background subtraction on a 4096 x 4096 scene, one thread: kip's mean entries beside
// OpenCV's box blur followed by the subtraction with offset (addWeighted(src, 1, mean, -1, 128)),
// the same work up to the border rule (OpenCV reflects, kip shrinks the box) and the rounding;
// and the median entries beside medianBlur followed by the same subtraction (8-bit only: OpenCV's
// 16-bit median stops at 5 x 5). The job library is held to one thread.
#include <benchmark/benchmark.h>

#include "kip/kip.h"
#include "scene.hpp"

#if defined(KIP_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

using kipbench::kSide;
using kipbench::setRate;

template <bool Sixteen, bool Median = false>
void kipMean(benchmark::State& state) {
    ksys_jobSetThreadCount(1);
    const int32_t n = int32_t(state.range(0));
    const kstd_rect32 whole{0, 0, kSide, kSide};
    kimg_image source, destination;
    kimg_image_constructWrap(&source, Sixteen ? 2 : 1, &whole, kSide, kipbench::sharedScenePixels(Sixteen));
    kimg_image_construct(&destination, Sixteen ? 2 : 1, kSide, kSide);
    const kip_pelSubLocalParams params{n, n};
    kip_status s = 0;
    for (auto _ : state) {
        if (s == 0)
            s = Median ? (Sixteen ? kip_pelSubLocalMedian16(&source, nullptr, &params, &destination)
                                  : kip_pelSubLocalMedian8(&source, nullptr, &params, &destination))
                       : (Sixteen ? kip_pelSubLocalMean16(&source, nullptr, &params, &destination)
                                  : kip_pelSubLocalMean8(&source, nullptr, &params, &destination));
        benchmark::ClobberMemory();
    }
    if (s != 0) state.SkipWithError("kip failed");
    setRate(state);
    kimg_image_destruct(&destination);
    kimg_image_destruct(&source);
}

#if defined(KIP_BENCH_OPENCV)
template <bool Sixteen>
void opencvBlurSubtract(benchmark::State& state) {
    cv::setNumThreads(1);
    const int n = int(state.range(0));
    const cv::Mat source = kipbench::sharedSceneMat(Sixteen);
    cv::Mat mean(kSide, kSide, source.type()), destination(kSide, kSide, source.type());
    // Untimed first pass: it faults in the fresh pages of both results (kip's come zeroed).
    cv::blur(source, mean, cv::Size(n, n));
    cv::addWeighted(source, 1.0, mean, -1.0, Sixteen ? 32768.0 : 128.0, destination);
    for (auto _ : state) {
        cv::blur(source, mean, cv::Size(n, n));
        cv::addWeighted(source, 1.0, mean, -1.0, Sixteen ? 32768.0 : 128.0, destination);
        benchmark::ClobberMemory();
    }
    setRate(state);
}

void opencvMedianSubtract(benchmark::State& state) {
    cv::setNumThreads(1);
    const int n = int(state.range(0));
    const cv::Mat source = kipbench::sharedSceneMat(false);
    cv::Mat median(kSide, kSide, CV_8U), destination(kSide, kSide, CV_8U);
    // Untimed first pass: it faults in the fresh pages of both results (kip's come zeroed).
    cv::medianBlur(source, median, n);
    cv::addWeighted(source, 1.0, median, -1.0, 128.0, destination);
    for (auto _ : state) {
        cv::medianBlur(source, median, n);
        cv::addWeighted(source, 1.0, median, -1.0, 128.0, destination);
        benchmark::ClobberMemory();
    }
    setRate(state);
}
#endif

void sizes(benchmark::internal::Benchmark* b) {
    for (int n : {31, 101}) b->Arg(n);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

void medianSizes(benchmark::internal::Benchmark* b) { b->Arg(31)->Unit(benchmark::kMillisecond)->UseRealTime(); }

}  // namespace

BENCHMARK(kipMean<false>)->Name("pelSubLocalMean8/kip")->Apply(sizes);
BENCHMARK(kipMean<true>)->Name("pelSubLocalMean16/kip")->Apply(sizes);
BENCHMARK(kipMean<false, true>)->Name("pelSubLocalMedian8/kip")->Apply(medianSizes);
BENCHMARK(kipMean<true, true>)->Name("pelSubLocalMedian16/kip")->Apply(medianSizes);
#if defined(KIP_BENCH_OPENCV)
BENCHMARK(opencvBlurSubtract<false>)->Name("pelSubLocalMean8/opencv")->Apply(sizes);
BENCHMARK(opencvBlurSubtract<true>)->Name("pelSubLocalMean16/opencv")->Apply(sizes);
BENCHMARK(opencvMedianSubtract)->Name("pelSubLocalMedian8/opencv")->Apply(medianSizes);
#endif

BENCHMARK_MAIN();
