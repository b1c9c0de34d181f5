// Median on a 4096 x 4096 scene: kip with one thread and with every thread beside OpenCV's
// medianBlur with one thread, same image, same run. OpenCV replicates the border where kip cuts
// the neighbourhood; the work is the same. OpenCV has no 16-bit median above 5 x 5.
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

// range(0): kernel side; range(1): threads offered (0: one per hardware thread).
template <bool Sixteen>
void kipMedian(benchmark::State& state) {
    const int32_t n = int32_t(state.range(0));
    ksys_jobSetThreadCount(uint32_t(state.range(1)));
    const kstd_rect32 whole{0, 0, kSide, kSide};
    kimg_image source, destination;
    kimg_image_constructWrap(&source, Sixteen ? 2 : 1, &whole, kSide, kipbench::sharedScenePixels(Sixteen));
    kimg_image_construct(&destination, Sixteen ? 2 : 1, kSide, kSide);
    kip_filterMaskKernel kernel;
    const kstd_pair32 size{n, n};
    kip_filterMaskKernel_constructSize(&kernel, &size);
    kip_filterMedianParams params;
    kip_filterMedianParams_init(&params);
    auto run = [&] {
        return Sixteen ? kip_filterMedian16(&source, nullptr, &params, &kernel, &destination)
                       : kip_filterMedian8(&source, nullptr, &params, &kernel, &destination);
    };
    kip_status s = run();  // untimed, like the peer's first call
    for (auto _ : state) {
        if (s == 0) s = run();
        benchmark::ClobberMemory();
    }
    if (s != 0) state.SkipWithError("kip failed");
    setRate(state);
    kip_filterMaskKernel_destruct(&kernel);
    kimg_image_destruct(&destination);
    kimg_image_destruct(&source);
    ksys_jobSetThreadCount(0);
}

#if defined(KIP_BENCH_OPENCV)
template <bool Sixteen>
void opencvMedianBlur(benchmark::State& state) {
    cv::setNumThreads(1);
    const int n = int(state.range(0));
    const cv::Mat source = kipbench::sharedSceneMat(Sixteen);
    cv::Mat destination(kSide, kSide, source.type());
    // The first call faults in the destination's fresh pages (kip's destination comes zeroed);
    // when one call outlasts the minimum time it was the only one timed.
    cv::medianBlur(source, destination, n);
    for (auto _ : state) {
        cv::medianBlur(source, destination, n);
        benchmark::ClobberMemory();
    }
    setRate(state);
}
#endif

void kip8(benchmark::internal::Benchmark* b) {
    for (int threads : {1, 0})
        for (int n : {3, 5, 7, 9, 15, 31}) b->Args({n, threads});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}
void kip16(benchmark::internal::Benchmark* b) {
    for (int threads : {1, 0})
        for (int n : {3, 5, 9, 15}) b->Args({n, threads});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(kipMedian<false>)->Name("median8/kip")->Apply(kip8);
BENCHMARK(kipMedian<true>)->Name("median16/kip")->Apply(kip16);
#if defined(KIP_BENCH_OPENCV)
BENCHMARK(opencvMedianBlur<false>)
    ->Name("median8/opencv")
    ->DenseRange(3, 7, 2)
    ->Arg(9)
    ->Arg(15)
    ->Arg(31)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(opencvMedianBlur<true>)
    ->Name("median16/opencv")
    ->DenseRange(3, 5, 2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
#endif

BENCHMARK_MAIN();
