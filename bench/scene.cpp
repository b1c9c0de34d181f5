#include "scene.hpp"

#include <random>

namespace kipbench {
namespace {

template <class T>
std::vector<T> noise(int32_t width, int32_t height, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<T> pixels(size_t(width) * size_t(height));
    for (T& p : pixels) p = T(rng());
    return pixels;
}

}  // namespace

std::vector<uint8_t> noise8(int32_t width, int32_t height, uint32_t seed) {
    return noise<uint8_t>(width, height, seed);
}
std::vector<uint16_t> noise16(int32_t width, int32_t height, uint32_t seed) {
    return noise<uint16_t>(width, height, seed);
}

template <>
const std::vector<uint8_t>& sharedScene<uint8_t>() {
    static const std::vector<uint8_t> pixels = scene8(kSide, kSide);
    return pixels;
}

template <>
const std::vector<uint16_t>& sharedScene<uint16_t>() {
    static const std::vector<uint16_t> pixels = scene16(kSide, kSide);
    return pixels;
}

void setRate(benchmark::State& state) {
    state.counters["Mpixel/s"] =
        benchmark::Counter(double(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace kipbench
