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

}  // namespace kipbench
