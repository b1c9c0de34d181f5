// Test images shared by the benchmarks: a natural-looking synthetic scene (smooth shading,
// textured regions and sharp-edged objects, like a photograph) and uniform noise, 8-bit and
// 16-bit. Deterministic for a given seed.
#pragma once

#include <cstdint>
#include <vector>

namespace kipbench {

std::vector<uint8_t> scene8(int32_t width, int32_t height, uint32_t seed = 1);
std::vector<uint16_t> scene16(int32_t width, int32_t height, uint32_t seed = 1);  // full 16-bit range
std::vector<uint8_t> noise8(int32_t width, int32_t height, uint32_t seed = 1);
std::vector<uint16_t> noise16(int32_t width, int32_t height, uint32_t seed = 1);

}  // namespace kipbench
