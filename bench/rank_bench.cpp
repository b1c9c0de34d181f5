// Rank filters on a 4096 x 4096 image (the natural-looking scene and uniform noise), one thread:
// kip's rectangular fast path with each instruction set forced in turn, and the public entries
// with every optimised path inhibited (the general engines) and, for the disk and 16-bit data of
// 12 bits and of the full range, also as the entry chooses (the masked sweep, the two-level
// histograms), beside OpenCV's medianBlur of the same size in the same run. medianBlur
// replicates the border where kip cuts the neighbourhood; the work is the same.
#include <benchmark/benchmark.h>

#include <array>
#include <vector>

#include "kip/kip.h"
#include "rank/rank_internal.hpp"
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

int32_t inhibitAll(const uint16_t*) { return 1; }

const std::vector<uint16_t>& image16(int64_t which) {
    // 0 scene, 1 noise; 2 and 3 the same cut to 12 bits.
    static const std::array<std::vector<uint16_t>, 4> images = [] {
        std::vector<uint16_t> scene = kipbench::scene16(kSide, kSide), noise = kipbench::noise16(kSide, kSide);
        std::vector<uint16_t> scene12 = scene, noise12 = noise;
        for (uint16_t& v : scene12) v >>= 4;
        for (uint16_t& v : noise12) v >>= 4;
        return std::array<std::vector<uint16_t>, 4>{scene, noise, scene12, noise12};
    }();
    return images[which];
}

// Kernels: 0 rectangle, 1 disk of radius (side - 1) / 2, 2 rectangle with an image mask that
// selects blobs covering about half of the image, 3 the disk with that image mask.
kip_filterMaskKernel makeKernel(int32_t side, int64_t shape) {
    kip_filterMaskKernel k;
    if (shape != 1 && shape != 3) {
        const kstd_pair32 size{side, side};
        kip_filterMaskKernel_constructSize(&k, &size);
        return k;
    }
    const int32_t r = side / 2;
    kimg_image mask;
    kimg_image_construct(&mask, 1, side, side);
    void* pixels = nullptr;
    int32_t stride = 0;
    kimg_image_getPixels(&mask, &pixels, &stride);
    for (int32_t y = 0; y < side; ++y)
        for (int32_t x = 0; x < side; ++x)
            static_cast<uint8_t*>(pixels)[y * stride + x] = (x - r) * (x - r) + (y - r) * (y - r) <= r * r ? 255 : 0;
    kip_filterMaskKernel_constructMask(&k, &mask);
    kimg_image_destruct(&mask);
    return k;
}

void blobMask(kimg_image* mask) {
    kimg_image_construct(mask, 1, kSide, kSide);
    void* pixels = nullptr;
    int32_t stride = 0;
    kimg_image_getPixels(mask, &pixels, &stride);
    for (int32_t y = 0; y < kSide; ++y)
        for (int32_t x = 0; x < kSide; ++x)
            static_cast<uint8_t*>(pixels)[y * stride + x] = ((x / 97) + (y / 61)) % 2 ? 255 : 0;
}

// Arguments: kernel side, percentile in percent, image, kernel shape (as makeKernel), depth in
// bytes, and 1 to inhibit every optimised path (the general engines) or 0 to let the entry choose.
void kipRankEntry(benchmark::State& state) {
    const int32_t side = int32_t(state.range(0));
    const uint32_t depth = uint32_t(state.range(4));
    const kstd_rect32 whole{0, 0, kSide, kSide};
    kimg_image source, destination, mask;
    void* pixels = depth == 1 ? static_cast<void*>(const_cast<uint8_t*>(image(state.range(2)).data()))
                              : static_cast<void*>(const_cast<uint16_t*>(image16(state.range(2)).data()));
    kimg_image_constructWrap(&source, depth, &whole, kSide, pixels);
    kimg_image_construct(&destination, depth, kSide, kSide);
    kimg_image_constructUnbound(&mask);
    if (state.range(3) >= 2) blobMask(&mask);
    kip_filterMaskKernel kernel = makeKernel(side, state.range(3));
    const kip_filterRankParams params{kip_filterBorderTruncated, double(state.range(1)) / 100.0};
    if (state.range(5)) kprt_isOptimizationInhibitedFP = &inhibitAll;
    kip_status status = 0;
    for (auto _ : state) {
        if (status == 0)
            status = depth == 1 ? kip_filterRank8(&source, &mask, &params, &kernel, &destination)
                                : kip_filterRank16(&source, &mask, &params, &kernel, &destination);
        benchmark::ClobberMemory();
    }
    kprt_isOptimizationInhibitedFP = nullptr;
    if (status != 0) state.SkipWithError("kip failed");
    setRate(state);
    kip_filterMaskKernel_destruct(&kernel);
    kimg_image_destruct(&mask);
    kimg_image_destruct(&destination);
    kimg_image_destruct(&source);
}

// The 8-bit masked fast path on a disk with each instruction set forced in turn. Arguments:
// kernel side, image (0 scene, 1 noise), instruction set (as kIsaMasks).
void kipRankMaskedFast(benchmark::State& state) {
    const kstd_rect32 whole{0, 0, kSide, kSide};
    kimg_image source, destination;
    kimg_image_constructWrap(&source, 1, &whole, kSide, const_cast<uint8_t*>(image(state.range(1)).data()));
    kimg_image_construct(&destination, 1, kSide, kSide);
    kimg_window s, d;
    kimg_window_init(&s, &source);
    kimg_window_init(&d, &destination);
    kip_filterMaskKernel kernel = makeKernel(int32_t(state.range(0)), 1);
    ksys_cpuinfo_setFeatureMask(kIsaMasks[state.range(2)]);
    kip_status status = 0;
    for (auto _ : state) {
        if (status == 0) status = kip_filterRankMaskedFast8_(&s, 0.5, &kernel, &d);
        benchmark::ClobberMemory();
    }
    ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
    if (status != 0) state.SkipWithError("kip failed");
    setRate(state);
    kip_filterMaskKernel_destruct(&kernel);
    kimg_image_destruct(&destination);
    kimg_image_destruct(&source);
}

// The two 16-bit rectangular engines the entry chooses between, called directly. Arguments:
// kernel side, image (as image16), engine (0 flat bins, 1 two-level).
void kipRank16Engine(benchmark::State& state) {
    const int32_t side = int32_t(state.range(0));
    const kstd_rect32 whole{0, 0, kSide, kSide};
    kimg_image source, destination;
    kimg_image_constructWrap(&source, 2, &whole, kSide, const_cast<uint16_t*>(image16(state.range(1)).data()));
    kimg_image_construct(&destination, 2, kSide, kSide);
    kimg_window s, d;
    kimg_window_init(&s, &source);
    kimg_window_init(&d, &destination);
    const kstd_pair32 size{side, side};
    const auto engine = state.range(2) ? &kip_filterRankRectTwoLevel16_ : &kip_filterRankRect16_;
    kip_status status = 0;
    for (auto _ : state) {
        if (status == 0) status = engine(&s, 0.5, &size, &d);
        benchmark::ClobberMemory();
    }
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

void entryCases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"size", "pct", "image", "shape", "depth", "general"});
    for (int64_t picture : {0, 1}) {
        for (int64_t n : {5, 15, 31})
            for (int64_t pct : {50, 25}) b->Args({n, pct, picture, 0, 1, 1});
        b->Args({15, 50, picture, 2, 1, 1});  // image mask
        for (int64_t general : {1, 0}) {
            b->Args({15, 50, picture, 1, 1, general});  // disk of radius 7
            b->Args({15, 50, picture, 3, 1, general});  // the disk with an image mask
            b->Args({15, 50, picture, 1, 2, general});  // the same in 16 bits
            for (int64_t bits : {0, 2})                 // 16 and 12 bits
                for (int64_t n : {5, 15}) b->Args({n, 50, picture + bits, 0, 2, general});
        }
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
}

void maskedCases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"size", "noise", "isa"});
    for (int64_t picture : {0, 1})
        for (int64_t n : {15, 31})
            for (int64_t isa : {0, 1}) b->Args({n, picture, isa});
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
}

void engine16Cases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"size", "image", "twoLevel"});
    for (int64_t picture : {0, 1, 2, 3})
        for (int64_t n : {5, 15})
            for (int64_t twoLevel : {0, 1}) b->Args({n, picture, twoLevel});
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
}

[[maybe_unused]] void peerCases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"size", "pct", "noise"});
    for (int64_t picture : {0, 1})
        for (int64_t n : {5, 15, 31, 63}) b->Args({n, 50, picture});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(kipRankRect)->Name("rank8_rect_fast/kip")->Apply(kipCases);
BENCHMARK(kipRankEntry)->Name("rank_entry/kip")->Apply(entryCases);
BENCHMARK(kipRankMaskedFast)->Name("rank8_masked_fast/kip")->Apply(maskedCases);
BENCHMARK(kipRank16Engine)->Name("rank16_engine/kip")->Apply(engine16Cases);
#if defined(KIP_BENCH_OPENCV)
BENCHMARK(opencvMedian)->Name("median8/opencv")->Apply(peerCases);
#endif

BENCHMARK_MAIN();
