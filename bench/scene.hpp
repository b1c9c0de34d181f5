// Test images shared by the benchmarks: the synthetic inspection scene that kipf's demo shows
// (smooth light, edges, noise, specks and small features) and uniform noise, 8-bit and 16-bit.
// Deterministic for a given seed.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "synthetic_scene.hpp"

#if defined(KIP_BENCH_OPENCV)
#include <opencv2/core.hpp>
#endif

namespace kipbench {

inline std::vector<uint8_t> scene8(int32_t width, int32_t height, uint32_t seed = 1) {
    return kipscene::scene8(width, height, seed);
}
inline std::vector<uint16_t> scene16(int32_t width, int32_t height, uint32_t seed = 1) {
    return kipscene::scene16(width, height, seed);
}
std::vector<uint8_t> noise8(int32_t width, int32_t height, uint32_t seed = 1);
std::vector<uint16_t> noise16(int32_t width, int32_t height, uint32_t seed = 1);

// The kSide x kSide scene that kip and its peer both filter in a benchmark pair, made once per
// process, 8-bit or 16-bit.
constexpr int32_t kSide = 4096;
template <class T>
const std::vector<T>& sharedScene();
template <>
const std::vector<uint8_t>& sharedScene<uint8_t>();
template <>
const std::vector<uint16_t>& sharedScene<uint16_t>();
inline void* sharedScenePixels(bool sixteen) {
    return sixteen ? static_cast<void*>(const_cast<uint16_t*>(sharedScene<uint16_t>().data()))
                   : static_cast<void*>(const_cast<uint8_t*>(sharedScene<uint8_t>().data()));
}

// Mpixel/s of one kSide x kSide image per iteration.
void setRate(benchmark::State& state);

#if defined(KIP_BENCH_OPENCV)
// The shared scene as a peer's source (no copy).
inline cv::Mat sharedSceneMat(bool sixteen) {
    return cv::Mat(kSide, kSide, sixteen ? CV_16U : CV_8U, sharedScenePixels(sixteen));
}
#endif

}  // namespace kipbench
