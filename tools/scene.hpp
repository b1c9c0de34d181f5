// A synthetic inspection scene for the demo: parts on a bench under uneven light, with sensor
// noise, salt-and-pepper specks and small bright and dark features.
#pragma once

#include <cstdint>

#include "image_io.hpp"

namespace kipf {

struct Scene {
    Raster grey8;
    Raster grey16;  // the same scene with its own noise at 16-bit resolution
};

// Deterministic for a given size and seed.
Scene makeScene(int32_t width, int32_t height, uint64_t seed = 1);

}  // namespace kipf
