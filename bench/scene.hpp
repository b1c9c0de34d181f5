// Test images shared by the benchmarks: the synthetic inspection scene that kipf's demo shows
// (smooth light, edges, noise, specks and small features) and uniform noise, 8-bit and 16-bit.
// Deterministic for a given seed.
#pragma once

#include <cstdint>
#include <vector>

#include "synthetic_scene.hpp"

namespace kipbench {

inline std::vector<uint8_t> scene8(int32_t width, int32_t height, uint32_t seed = 1) {
    return kipscene::scene8(width, height, seed);
}
inline std::vector<uint16_t> scene16(int32_t width, int32_t height, uint32_t seed = 1) {
    return kipscene::scene16(width, height, seed);
}
std::vector<uint8_t> noise8(int32_t width, int32_t height, uint32_t seed = 1);
std::vector<uint16_t> noise16(int32_t width, int32_t height, uint32_t seed = 1);

}  // namespace kipbench
