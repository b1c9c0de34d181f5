#include "synthetic_scene.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace kipscene {
namespace {

// splitmix64: the same numbers with every standard library.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    double normal() {
        double u = std::max(uniform(), 1e-300);
        return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * uniform());
    }

private:
    uint64_t state_;
};

// Reflectance map painted shape by shape with anti-aliased edges.
class Canvas {
public:
    Canvas(int32_t width, int32_t height, float background)
        : w_(width), h_(height), r_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), background) {}

    // dist(x, y) is a signed distance in pixels, negative inside the shape.
    template <class Dist>
    void paint(double x0, double y0, double x1, double y1, float value, Dist dist) {
        int32_t xa = std::max(0, static_cast<int32_t>(std::floor(x0)) - 1);
        int32_t ya = std::max(0, static_cast<int32_t>(std::floor(y0)) - 1);
        int32_t xb = std::min(w_ - 1, static_cast<int32_t>(std::ceil(x1)) + 1);
        int32_t yb = std::min(h_ - 1, static_cast<int32_t>(std::ceil(y1)) + 1);
        for (int32_t y = ya; y <= yb; ++y)
            for (int32_t x = xa; x <= xb; ++x) {
                double cover = std::clamp(0.5 - dist(x + 0.5, y + 0.5), 0.0, 1.0);
                float& p = r_[static_cast<std::size_t>(y) * static_cast<std::size_t>(w_) + static_cast<std::size_t>(x)];
                p = static_cast<float>(p * (1.0 - cover) + value * cover);
            }
    }
    void disc(double cx, double cy, double radius, float value) {
        paint(cx - radius, cy - radius, cx + radius, cy + radius, value,
              [=](double x, double y) { return std::hypot(x - cx, y - cy) - radius; });
    }
    void box(double cx, double cy, double hw, double hh, float value) {
        paint(cx - hw, cy - hh, cx + hw, cy + hh, value,
              [=](double x, double y) { return std::max(std::fabs(x - cx) - hw, std::fabs(y - cy) - hh); });
    }
    void line(double xa, double ya, double xb, double yb, double halfWidth, float value) {
        double dx = xb - xa, dy = yb - ya, len2 = dx * dx + dy * dy;
        paint(std::min(xa, xb) - halfWidth, std::min(ya, yb) - halfWidth, std::max(xa, xb) + halfWidth,
              std::max(ya, yb) + halfWidth, value, [=](double x, double y) {
                  double t = len2 > 0 ? std::clamp(((x - xa) * dx + (y - ya) * dy) / len2, 0.0, 1.0) : 0.0;
                  return std::hypot(x - (xa + t * dx), y - (ya + t * dy)) - halfWidth;
              });
    }
    float at(int32_t x, int32_t y) const {
        return r_[static_cast<std::size_t>(y) * static_cast<std::size_t>(w_) + static_cast<std::size_t>(x)];
    }

private:
    int32_t w_, h_;
    std::vector<float> r_;
};

// The parts, lit: values in [0, 1] before noise. rng is left where the specks start.
std::vector<float> lit(int32_t width, int32_t height, Random& rng) {
    Canvas canvas(width, height, 0.72f);
    double scale = std::min(width, height) / 100.0;

    // Parts on a grid: plates, washers and dark pads.
    int cols = std::max(1, width / static_cast<int32_t>(std::max(1.0, 30 * scale)));
    int rows = std::max(1, height / static_cast<int32_t>(std::max(1.0, 30 * scale)));
    for (int j = 0; j < rows; ++j)
        for (int i = 0; i < cols; ++i) {
            double cx = (i + 0.5 + rng.uniform(-0.15, 0.15)) * width / cols;
            double cy = (j + 0.5 + rng.uniform(-0.15, 0.15)) * height / rows;
            double size = rng.uniform(6, 11) * scale;
            switch ((i + 2 * j) % 3) {
                case 0:
                    canvas.box(cx, cy, size, size * rng.uniform(0.5, 0.9), static_cast<float>(rng.uniform(0.35, 0.5)));
                    canvas.disc(cx, cy, size * 0.25, 0.2f);  // a bore through the plate
                    break;
                case 1:
                    canvas.disc(cx, cy, size, 0.92f);
                    canvas.disc(cx, cy, size * 0.45, 0.72f);
                    break;
                default:
                    canvas.box(cx, cy, size * 0.8, size * 0.8, 0.25f);
                    break;
            }
        }
    // Scratches.
    for (int k = 0; k < 4; ++k)
        canvas.line(rng.uniform(0, width), rng.uniform(0, height), rng.uniform(0, width), rng.uniform(0, height),
                    0.6 + 0.2 * rng.uniform(), 0.5f);
    // Small bright and dark features, one to three pixels across.
    int64_t features = std::max<int64_t>(8, int64_t{width} * height / 2500);
    for (int64_t k = 0; k < features; ++k)
        canvas.disc(rng.uniform(0, width), rng.uniform(0, height), rng.uniform(0.5, 1.5), k % 2 ? 1.3f : 0.08f);

    // Light from the upper left, falling off towards the far corner.
    std::vector<float> out(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    double lx = 0.3 * width, ly = 0.25 * height, reach = std::hypot(width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            double d = std::hypot(x - lx, y - ly) / reach;
            double light = 0.95 - 0.6 * d * d + 0.1 * x / width;
            out[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
                static_cast<float>(std::clamp(light * canvas.at(x, y), 0.0, 1.0));
        }
    return out;
}

template <class T>
std::vector<T> render(int32_t width, int32_t height, uint64_t seed) {
    constexpr double top = sizeof(T) == 1 ? 255.0 : 65535.0;
    Random rng(seed);
    std::vector<float> light = lit(width, height, rng);
    // Read noise plus shot noise that grows with the signal.
    Random noise(seed * 7919 + sizeof(T));
    std::vector<T> pixels(light.size());
    for (std::size_t i = 0; i < light.size(); ++i) {
        double v = light[i];
        double n = noise.normal() * (top / 255.0) * (1.2 + 2.0 * std::sqrt(v));
        pixels[i] = static_cast<T>(std::clamp(std::lround(v * top + n), 0L, static_cast<long>(top)));
    }
    // Salt-and-pepper: dead and hot pixels, in the same places at both depths.
    int64_t specks = std::max<int64_t>(4, int64_t{width} * height / 400);
    for (int64_t k = 0; k < specks; ++k) {
        std::size_t at = static_cast<std::size_t>(rng.next() % pixels.size());
        pixels[at] = (rng.next() & 1) ? static_cast<T>(top) : T{0};
    }
    return pixels;
}

}  // namespace

std::vector<uint8_t> scene8(int32_t width, int32_t height, uint64_t seed) {
    return render<uint8_t>(width, height, seed);
}
std::vector<uint16_t> scene16(int32_t width, int32_t height, uint64_t seed) {
    return render<uint16_t>(width, height, seed);
}

}  // namespace kipscene
