// Writing and reading a 4096 x 4096 scene as PNG: kipf's image I/O beside OpenCV's imwrite and
// imread on the same pixels and the same folder, 8-bit and 16-bit. kipf writes at its default
// level (--png-level 1) and at the old default (zlib 6, every row filter tried); OpenCV at its
// default. Files go to the system's temporary folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "image_io.hpp"
#include "scene.hpp"

#if defined(KIP_BENCH_OPENCV)
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#endif

namespace {

constexpr int32_t kSide = 4096;

const kipf::Raster& scene(int bits) {
    static const std::array<kipf::Raster, 2> rasters = [] {
        kipf::Raster r8 = kipf::Raster::make(kSide, kSide, 8), r16 = kipf::Raster::make(kSide, kSide, 16);
        r8.grey8 = kipbench::scene8(kSide, kSide);
        r16.grey16 = kipbench::scene16(kSide, kSide);
        return std::array<kipf::Raster, 2>{std::move(r8), std::move(r16)};
    }();
    return rasters[bits == 8 ? 0 : 1];
}

std::string file(const char* who, int bits) {
    return (std::filesystem::temp_directory_path() /
            ("kip_png_bench_" + std::to_string(::getpid()) + "_" + who + std::to_string(bits) + ".png"))
        .string();
}

void finish(benchmark::State& state, const std::string& path) {
    state.counters["Mpixel/s"] =
        benchmark::Counter(double(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["MB"] = double(std::filesystem::file_size(path)) / 1e6;
}

void kipfWrite(benchmark::State& state) {
    const int bits = int(state.range(0));
    kipf::WriteOptions options;
    options.pngLevel = int(state.range(1));
    const std::string path = file("kipf", bits);
    const kipf::Raster& pixels = scene(bits);  // made before the clock starts
    for (auto _ : state) kipf::writeImage(path, pixels, options);
    finish(state, path);
    std::filesystem::remove(path);
}
void kipfRead(benchmark::State& state) {
    const int bits = int(state.range(0));
    const std::string path = file("kipf_read", bits);
    kipf::writeImage(path, scene(bits));
    for (auto _ : state) benchmark::DoNotOptimize(kipf::readImage(path));
    finish(state, path);
    std::filesystem::remove(path);
}

#if defined(KIP_BENCH_OPENCV)
cv::Mat matOf(int bits) {
    const kipf::Raster& r = scene(bits);
    return bits == 8 ? cv::Mat(kSide, kSide, CV_8U, const_cast<uint8_t*>(r.grey8.data()))
                     : cv::Mat(kSide, kSide, CV_16U, const_cast<uint16_t*>(r.grey16.data()));
}

void opencvWrite(benchmark::State& state) {
    const int bits = int(state.range(0));
    const std::string path = file("opencv", bits);
    const cv::Mat m = matOf(bits);
    for (auto _ : state) cv::imwrite(path, m);
    finish(state, path);
    std::filesystem::remove(path);
}

void opencvRead(benchmark::State& state) {
    const int bits = int(state.range(0));
    const std::string path = file("opencv_read", bits);
    cv::imwrite(path, matOf(bits));
    for (auto _ : state) benchmark::DoNotOptimize(cv::imread(path, cv::IMREAD_UNCHANGED));
    finish(state, path);
    std::filesystem::remove(path);
}
#endif

void setup(benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->UseRealTime(); }

}  // namespace

BENCHMARK(kipfWrite)->Name("png_write/kipf")->ArgsProduct({{8, 16}, {1}})->Apply(setup);
BENCHMARK(kipfWrite)->Name("png_write/kipf_level6")->ArgsProduct({{8, 16}, {6}})->Apply(setup);
BENCHMARK(kipfRead)->Name("png_read/kipf")->Arg(8)->Arg(16)->Apply(setup);
#if defined(KIP_BENCH_OPENCV)
BENCHMARK(opencvWrite)->Name("png_write/opencv")->Arg(8)->Arg(16)->Apply(setup);
BENCHMARK(opencvRead)->Name("png_read/opencv")->Arg(8)->Arg(16)->Apply(setup);
#endif

BENCHMARK_MAIN();
