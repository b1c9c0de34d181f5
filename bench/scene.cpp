#include "scene.hpp"

#include <algorithm>
#include <cmath>
#include <random>

namespace kipbench {

namespace {

// Smooth random field: random values on a coarse grid, interpolated with a smoothstep.
class ValueNoise {
public:
    ValueNoise(int32_t cells, std::mt19937& rng) : cells_(cells), grid_(size_t(cells + 2) * size_t(cells + 2)) {
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        for (float& v : grid_) v = u(rng);
    }
    // u, v in [0, 1)
    float at(float u, float v) const {
        const float gx = u * float(cells_), gy = v * float(cells_);
        const int32_t x0 = int32_t(gx), y0 = int32_t(gy);
        const float fx = smooth(gx - float(x0)), fy = smooth(gy - float(y0));
        const float a = cell(x0, y0) + (cell(x0 + 1, y0) - cell(x0, y0)) * fx;
        const float b = cell(x0, y0 + 1) + (cell(x0 + 1, y0 + 1) - cell(x0, y0 + 1)) * fx;
        return a + (b - a) * fy;
    }

private:
    static float smooth(float t) { return t * t * (3.0f - 2.0f * t); }
    float cell(int32_t x, int32_t y) const { return grid_[size_t(y) * size_t(cells_ + 2) + size_t(x)]; }
    int32_t cells_;
    std::vector<float> grid_;
};

struct Disc {
    float x, y, radius, level, shade;
};

// Scene intensity in [0, 1] at normalised (u, v).
class Scene {
public:
    explicit Scene(uint32_t seed) : rng_(seed) {
        for (int32_t octave = 0; octave < 6; ++octave) octaves_.emplace_back(4 << octave, rng_);
        std::uniform_real_distribution<float> u(0.0f, 1.0f);
        for (int32_t i = 0; i < 40; ++i)
            discs_.push_back(Disc{u(rng_), u(rng_), 0.01f + 0.08f * u(rng_), u(rng_), 0.5f * u(rng_)});
    }
    float at(float u, float v) const {
        // Sky-to-ground lighting, then fractal texture stronger in the lower half (terrain).
        float value = 0.75f - 0.45f * v;
        float amplitude = 0.25f;
        for (const ValueNoise& n : octaves_) {
            value += amplitude * (0.4f + v) * n.at(u, v);
            amplitude *= 0.55f;
        }
        // Opaque objects with shading across them and sharp outlines.
        for (const Disc& d : discs_) {
            const float dx = u - d.x, dy = v - d.y;
            if (dx * dx + dy * dy < d.radius * d.radius) value = d.level + d.shade * (dx - dy) / d.radius;
        }
        // A few straight edges: buildings or fences.
        if (u > 0.62f && u < 0.8f && v > 0.35f + 0.1f * std::floor(u * 20.0f) / 20.0f)
            value = 0.2f + 0.1f * std::sin(u * 400.0f);
        return std::clamp(value, 0.0f, 1.0f);
    }

private:
    std::mt19937 rng_;
    std::vector<ValueNoise> octaves_;
    std::vector<Disc> discs_;
};

template <class T>
std::vector<T> render(int32_t width, int32_t height, uint32_t seed, float scale) {
    const Scene scene(seed);
    std::mt19937 rng(seed ^ 0x9e3779b9u);
    std::normal_distribution<float> grain(0.0f, 0.01f);  // sensor noise
    std::vector<T> pixels(size_t(width) * size_t(height));
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const float value =
                scene.at((float(x) + 0.5f) / float(width), (float(y) + 0.5f) / float(height)) + grain(rng);
            pixels[size_t(y) * size_t(width) + size_t(x)] = T(std::lround(std::clamp(value, 0.0f, 1.0f) * scale));
        }
    return pixels;
}

template <class T>
std::vector<T> noise(int32_t width, int32_t height, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<T> pixels(size_t(width) * size_t(height));
    for (T& p : pixels) p = T(rng());
    return pixels;
}

}  // namespace

std::vector<uint8_t> scene8(int32_t width, int32_t height, uint32_t seed) {
    return render<uint8_t>(width, height, seed, 255.0f);
}
std::vector<uint16_t> scene16(int32_t width, int32_t height, uint32_t seed) {
    return render<uint16_t>(width, height, seed, 65535.0f);
}
std::vector<uint8_t> noise8(int32_t width, int32_t height, uint32_t seed) {
    return noise<uint8_t>(width, height, seed);
}
std::vector<uint16_t> noise16(int32_t width, int32_t height, uint32_t seed) {
    return noise<uint16_t>(width, height, seed);
}

}  // namespace kipbench
