// The demo's scene as kipf rasters (the generator is shared with the benchmarks).
#pragma once

#include "image_io.hpp"
#include "synthetic_scene.hpp"

namespace kipf {

struct Scene {
    Raster grey8;
    Raster grey16;  // the same parts with their own noise at 16-bit resolution
};

inline Scene makeScene(int32_t width, int32_t height, uint64_t seed = 1) {
    Scene scene;
    scene.grey8 = Raster::make(width, height, 8);
    scene.grey16 = Raster::make(width, height, 16);
    scene.grey8.grey8 = kipscene::scene8(width, height, seed);
    scene.grey16.grey16 = kipscene::scene16(width, height, seed);
    return scene;
}

}  // namespace kipf
