// Convolution on a 4096 x 4096 8-bit scene, mirrored border, one thread: kip beside OpenCV's
// filter2D given the same operation (the kernel turned by a half turn, since kip convolves and
// filter2D correlates; the divisor as scale; BORDER_REFLECT, which repeats the edge pixel as
// kip's mirror does). OpenCV rounds where kip truncates; the work is the same.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "kip/kip.h"
#include "scene.hpp"

#if defined(KIP_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int32_t kSide = 4096;

const std::vector<uint8_t>& scene() {
    static const std::vector<uint8_t> pixels = kipbench::scene8(kSide, kSide);
    return pixels;
}

// Smoothing kernel for the 8-bit variant: a Gaussian scaled to weights 1..255.
std::vector<int32_t> smoothingWeights(int32_t n) {
    const double sigma = 0.3 * ((n - 1) * 0.5 - 1) + 0.8;
    std::vector<int32_t> w;
    for (int32_t y = 0; y < n; ++y)
        for (int32_t x = 0; x < n; ++x) {
            const double r2 = double((x - n / 2) * (x - n / 2) + (y - n / 2) * (y - n / 2));
            w.push_back(std::max(1, int32_t(std::lround(255.0 * std::exp(-r2 / (2 * sigma * sigma))))));
        }
    return w;
}

// Edge kernel for the 16-bit signed variant: a Mexican hat (positive centre, negative ring).
std::vector<int32_t> edgeWeights(int32_t n) {
    const double sigma = 0.25 * n;
    std::vector<int32_t> w;
    for (int32_t y = 0; y < n; ++y)
        for (int32_t x = 0; x < n; ++x) {
            const double t = double((x - n / 2) * (x - n / 2) + (y - n / 2) * (y - n / 2)) / (2 * sigma * sigma);
            w.push_back(int32_t(std::lround(8000.0 * (1.0 - t) * std::exp(-t))));
        }
    return w;
}

[[maybe_unused]] int64_t divisorOf(const std::vector<int32_t>& w, bool signedKernel) {
    int64_t p = 0, m = 0;
    for (int32_t v : w) (v > 0 ? p : m) += std::abs(v);
    return signedKernel ? std::max(p, m) : p;
}

void setRate(benchmark::State& state) {
    state.counters["Mpixel/s"] =
        benchmark::Counter(double(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

template <bool Signed>
void kipConvolve(benchmark::State& state) {
    const int32_t n = int32_t(state.range(0));
    const std::vector<int32_t> weights = Signed ? edgeWeights(n) : smoothingWeights(n);
    const kstd_rect32 whole{0, 0, kSide, kSide};
    kimg_image source, destination, weightImage;
    kimg_image_constructWrap(&source, 1, &whole, kSide, const_cast<uint8_t*>(scene().data()));
    kimg_image_construct(&destination, Signed ? 2 : 1, kSide, kSide);
    kimg_image_construct(&weightImage, Signed ? 2 : 1, n, n);
    void* w = nullptr;
    int32_t stride = 0;
    kimg_image_getPixels(&weightImage, &w, &stride);
    for (int32_t i = 0; i < n * n; ++i) {
        if (Signed)
            static_cast<int16_t*>(w)[(i / n) * stride + i % n] = int16_t(weights[size_t(i)]);
        else
            static_cast<uint8_t*>(w)[(i / n) * stride + i % n] = uint8_t(weights[size_t(i)]);
    }
    kip_filterConvolveParams params;
    kip_filterConvolveParams_init(&params);  // mirrored border
    kip_filterConvolveKernel8 k8;
    kip_filterConvolveKernel16s k16;
    kip_filterConvolveKernel8_construct(&k8);
    kip_filterConvolveKernel16s_construct(&k16);
    kip_status s = Signed ? kip_filterConvolveKernel16s_setKernel(&k16, &weightImage)
                          : kip_filterConvolveKernel8_setKernel(&k8, &weightImage);
    for (auto _ : state) {
        if (s == 0)
            s = Signed ? kip_filterConvolve8_16s_16s(&source, &params, &k16, &destination)
                       : kip_filterConvolve8_8_8(&source, &params, &k8, &destination);
        benchmark::ClobberMemory();
    }
    if (s != 0) state.SkipWithError("kip failed");
    setRate(state);
    kip_filterConvolveKernel8_destruct(&k8);
    kip_filterConvolveKernel16s_destruct(&k16);
    kimg_image_destruct(&weightImage);
    kimg_image_destruct(&destination);
    kimg_image_destruct(&source);
}

#if defined(KIP_BENCH_OPENCV)
template <bool Signed>
void opencvFilter2D(benchmark::State& state) {
    cv::setNumThreads(1);
    const int32_t n = int32_t(state.range(0));
    const std::vector<int32_t> weights = Signed ? edgeWeights(n) : smoothingWeights(n);
    const double divisor = double(divisorOf(weights, Signed));
    cv::Mat kernel(n, n, CV_32F);
    for (int32_t i = 0; i < n * n; ++i) kernel.at<float>(i / n, i % n) = float(weights[size_t(i)] / divisor);
    cv::Mat turned;
    cv::flip(kernel, turned, -1);
    const cv::Mat source(kSide, kSide, CV_8U, const_cast<uint8_t*>(scene().data()));
    cv::Mat destination(kSide, kSide, Signed ? CV_16S : CV_8U);
    for (auto _ : state) {
        cv::filter2D(source, destination, Signed ? CV_16S : CV_8U, turned, cv::Point(-1, -1), 0, cv::BORDER_REFLECT);
        benchmark::ClobberMemory();
    }
    setRate(state);
}
#endif

// The fast path's scratch grows with the kernel's height times the row width (kh pair rows);
// the general loop needs none in the clipped mode. A 3 x kh box over 8 rows of a 4096-wide scene,
// kh chosen so the scratch is about 16, 64, 250 and (over the cap) 260 MiB, with the fast path allowed (1) or
// inhibited (0): where the fast path stops paying decides its scratch cap.
int32_t inhibitAll(const uint16_t*) { return 1; }

void tallKernel(benchmark::State& state) {
    const int32_t kh = int32_t(state.range(0)), rows = 8, h = kh + rows - 1;
    static const std::vector<uint8_t> tall = kipbench::scene8(kSide, 16384 + 7, 2);
    const kstd_rect32 whole{0, 0, kSide, h}, inner{1, kh / 2, kSide - 2, rows};
    kimg_image source, destination, weightImage;
    kimg_image_constructWrap(&source, 1, &whole, kSide, const_cast<uint8_t*>(tall.data()));
    kimg_image_constructRect(&destination, 1, &whole);
    uint32_t clipped = 0;
    kimg_image_setWindowRect(&destination, &inner, &clipped);
    kimg_image_construct(&weightImage, 1, 3, kh);
    kip_pelSet8(&weightImage, 1);
    kip_filterConvolveKernel8 k8;
    kip_filterConvolveKernel8_construct(&k8);
    kip_status s = kip_filterConvolveKernel8_setKernel(&k8, &weightImage);
    const kip_filterConvolveParams params{kip_filterBorderClipped};
    kprt_isOptimizationInhibitedFP = state.range(1) ? nullptr : &inhibitAll;
    for (auto _ : state) {
        if (s == 0) s = kip_filterConvolve8_8_8(&source, &params, &k8, &destination);
        benchmark::ClobberMemory();
    }
    kprt_isOptimizationInhibitedFP = nullptr;
    if (s != 0) state.SkipWithError("kip failed");
    state.counters["scratch MiB"] = double(kh) * (kSide + 16) * 4 / (1 << 20);
    state.counters["Mpixel/s"] =
        benchmark::Counter(double(kSide - 2) * rows / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    kip_filterConvolveKernel8_destruct(&k8);
    kimg_image_destruct(&weightImage);
    kimg_image_destruct(&destination);
    kimg_image_destruct(&source);
}

// The built-in kernels as a user picks them, beside the OpenCV calls a user would compare them
// with: the Gaussian (exact product of two rounded 1-D samplings, 8-bit weights) beside
// GaussianBlur on 8-bit pixels with the same spread (its fixed-point path), the box beside blur
// and unnormalised boxFilter, Sobel x beside Sobel to 16S. Borders reflect with the edge pixel
// repeated in both. Scene of side range(1), kernel side range(0).
enum class Builtin { Gaussian, Box, Sobel };

const std::vector<uint8_t>& sceneOfSide(int32_t side) {
    if (side == kSide) return scene();
    static const std::vector<uint8_t> small = kipbench::scene8(512, 512);
    return small;
}

// Wide: every instruction set the processor has; otherwise AVX-512 hidden, to show what it adds.
template <Builtin B, bool Wide = true>
void kipBuiltin(benchmark::State& state) {
    ksys_jobSetThreadCount(1);
    ksys_cpuinfo_setFeatureMask(Wide ? 0xFFFFFFFFu : ~uint32_t{ksys_cpuFeatureAvx512bw});
    const int32_t n = int32_t(state.range(0)), side = int32_t(state.range(1));
    const kstd_rect32 whole{0, 0, side, side};
    kimg_image source, destination;
    kimg_image_constructWrap(&source, 1, &whole, side, const_cast<uint8_t*>(sceneOfSide(side).data()));
    kimg_image_construct(&destination, B == Builtin::Sobel ? 2 : 1, side, side);
    kip_filterConvolveParams params;
    kip_filterConvolveParams_init(&params);
    kip_filterConvolveKernel8 k8;
    kip_filterConvolveKernel16s k16;
    kip_filterConvolveKernel8_construct(&k8);
    kip_filterConvolveKernel16s_construct(&k16);
    const kstd_pair32 size{n, n};
    kip_status s = B == Builtin::Gaussian ? kip_filterConvolveKernel8_setGaussian(&k8, &size)
                   : B == Builtin::Box    ? kip_filterConvolveKernel8_setBox(&k8, &size)
                                          : kip_filterConvolveKernel16s_setSobel(&k16, kip_filterConvolveSobelX);
    for (auto _ : state) {
        if (s == 0)
            s = B == Builtin::Sobel ? kip_filterConvolve8_16s_16s(&source, &params, &k16, &destination)
                                    : kip_filterConvolve8_8_8(&source, &params, &k8, &destination);
        benchmark::ClobberMemory();
    }
    if (s != 0) state.SkipWithError("kip failed");
    state.counters["Mpixel/s"] =
        benchmark::Counter(double(side) * side / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    kip_filterConvolveKernel8_destruct(&k8);
    kip_filterConvolveKernel16s_destruct(&k16);
    kimg_image_destruct(&destination);
    kimg_image_destruct(&source);
    ksys_jobSetThreadCount(0);
    ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
}

#if defined(KIP_BENCH_OPENCV)
// 0: GaussianBlur, 1: blur, 2: boxFilter without normalisation (to 32S), 3: Sobel x to 16S.
template <int Call>
void opencvBuiltin(benchmark::State& state) {
    cv::setNumThreads(1);
    const int32_t n = int32_t(state.range(0)), side = int32_t(state.range(1));
    const cv::Mat source(side, side, CV_8U, const_cast<uint8_t*>(sceneOfSide(side).data()));
    cv::Mat destination;
    for (auto _ : state) {
        if constexpr (Call == 0)
            cv::GaussianBlur(source, destination, cv::Size(n, n), 0, 0, cv::BORDER_REFLECT);
        else if constexpr (Call == 1)
            cv::blur(source, destination, cv::Size(n, n), cv::Point(-1, -1), cv::BORDER_REFLECT);
        else if constexpr (Call == 2)
            cv::boxFilter(source, destination, CV_32S, cv::Size(n, n), cv::Point(-1, -1), false, cv::BORDER_REFLECT);
        else
            cv::Sobel(source, destination, CV_16S, 1, 0, 3, 1, 0, cv::BORDER_REFLECT);
        benchmark::ClobberMemory();
    }
    state.counters["Mpixel/s"] =
        benchmark::Counter(double(side) * side / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
#endif

void gaussianSizes(benchmark::internal::Benchmark* b) {
    for (int n : {3, 5, 9, 15, 31, 45, 63}) b->Args({n, kSide});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}
// The last case is a 1001 x 1001 box on a 512 x 512 image: cost flat in the kernel size.
void boxSizes(benchmark::internal::Benchmark* b) {
    for (int n : {3, 15, 101}) b->Args({n, kSide});
    b->Args({1001, 512});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}
void sobelSize(benchmark::internal::Benchmark* b) { b->Args({3, kSide})->Unit(benchmark::kMillisecond)->UseRealTime(); }

void sizes(benchmark::internal::Benchmark* b) {
    for (int n : {3, 5, 7, 11}) b->Arg(n);
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(kipConvolve<false>)->Name("convolve8_8_8/kip")->Apply(sizes);
BENCHMARK(kipConvolve<true>)->Name("convolve8_16s_16s/kip")->Apply(sizes);
#if defined(KIP_BENCH_OPENCV)
BENCHMARK(opencvFilter2D<false>)->Name("convolve8_8_8/opencv")->Apply(sizes);
BENCHMARK(opencvFilter2D<true>)->Name("convolve8_16s_16s/opencv")->Apply(sizes);
#endif

BENCHMARK(kipBuiltin<Builtin::Gaussian>)->Name("gaussian/kip")->Apply(gaussianSizes);
BENCHMARK(kipBuiltin<Builtin::Box>)->Name("box/kip")->Apply(boxSizes);
BENCHMARK(kipBuiltin<Builtin::Sobel>)->Name("sobel/kip")->Apply(sobelSize);
BENCHMARK(kipBuiltin<Builtin::Gaussian, false>)->Name("gaussian/kip_avx2")->Apply(gaussianSizes);
BENCHMARK(kipBuiltin<Builtin::Box, false>)->Name("box/kip_avx2")->Apply(boxSizes);
#if defined(KIP_BENCH_OPENCV)
BENCHMARK(opencvBuiltin<0>)->Name("gaussian/opencv_GaussianBlur")->Apply(gaussianSizes);
BENCHMARK(opencvBuiltin<1>)->Name("box/opencv_blur")->Apply(boxSizes);
BENCHMARK(opencvBuiltin<2>)->Name("box/opencv_boxFilter_unnormalised")->Apply(boxSizes);
BENCHMARK(opencvBuiltin<3>)->Name("sobel/opencv_Sobel")->Apply(sobelSize);
#endif

BENCHMARK(tallKernel)
    ->Name("convolve8_8_8/kip_tall_kernel")
    ->ArgsProduct({{1023, 4095, 15871, 16383}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

BENCHMARK_MAIN();
