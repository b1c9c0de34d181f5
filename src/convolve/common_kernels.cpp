// Ready-made kernels: box, Gaussian, Sobel and Laplace weights handed to setKernel, so they get
// the same checks and the same all-or-nothing update as weights a caller supplies.
#include <cmath>

#include "frame/cleanup.hpp"
#include "kip/convolve.h"
#include "kip/platform/system.h"
#include "platform/assert.hpp"

using kip::failed;

namespace {

// Every weighted sum of 8-bit pixels must fit in 32 bits: 255 x width x height x 255 weights
// would not, so the count is capped where a box of ones still fits.
constexpr int64_t kMaxWeights = 2147483647 / 255;

kip_status checkSize(const kstd_pair32* size) {
    if (size->x <= 0 || size->y <= 0 || size->x % 2 != 1 || size->y % 2 != 1) return kip_errKernelSizeNotOdd;
    if (int64_t{size->x} * size->y > kMaxWeights) return kstd_errInvalidArgument;
    return 0;
}

// A scratch weight image, released on every exit.
class Weights {
public:
    Weights() { kimg_image_constructUnbound(&image_); }
    ~Weights() { kimg_image_destruct(&image_); }
    Weights(const Weights&) = delete;
    Weights& operator=(const Weights&) = delete;

    // New zeroed width x height weights of depth bytes; row() is valid after success.
    kip_status make(uint32_t depth, int32_t width, int32_t height) {
        kip_status s = kimg_image_construct(&image_, depth, width, height);
        if (failed(s)) return s;
        return kimg_image_getPixels(&image_, &pixels_, &stride_);
    }
    template <class T>
    T* row(int32_t y) {
        return static_cast<T*>(pixels_) + static_cast<std::ptrdiff_t>(y) * stride_;
    }
    const kimg_image* get() const { return &image_; }

private:
    kimg_image image_;
    void* pixels_ = nullptr;
    int32_t stride_ = 0;
};

// 3 x 3 signed weights, row by row.
kip_status setFixed(kip_filterConvolveKernel16s* kernel, const int16_t (&values)[9]) {
    Weights w;
    kip_status s = w.make(2, 3, 3);
    if (failed(s)) return s;
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 3; ++x) w.row<int16_t>(y)[x] = values[3 * y + x];
    return kip_filterConvolveKernel16s_setKernel(kernel, w.get());
}

// The customary spread for a Gaussian given by its size alone.
double sigmaFor(int32_t size) { return 0.3 * ((size - 1) * 0.5 - 1) + 0.8; }

}  // namespace

extern "C" kip_status kip_filterConvolveKernel8_setBox(kip_filterConvolveKernel8* kernel, const kstd_pair32* size) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(size);
    kip_status s = checkSize(size);
    if (failed(s)) return s;
    Weights w;
    s = w.make(1, size->x, size->y);
    if (failed(s)) return s;
    for (int32_t y = 0; y < size->y; ++y)
        for (int32_t x = 0; x < size->x; ++x) w.row<uint8_t>(y)[x] = 1;
    return kip_filterConvolveKernel8_setKernel(kernel, w.get());
}

extern "C" kip_status kip_filterConvolveKernel8_setGaussian(kip_filterConvolveKernel8* kernel,
                                                            const kstd_pair32* size) {
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(size);
    kip_status s = checkSize(size);
    if (failed(s)) return s;
    // The product of a row and a column of rounded samples, so that the kernel is exactly rank one
    // and takes the separable path. Peaks 17 and 15 keep every weight within 255.
    const int32_t nx = size->x, ny = size->y;
    const size_t count = size_t(nx) + size_t(ny);
    void* block = nullptr;
    s = ksys_memory_alloc_internal(count * (sizeof(double) + sizeof(int32_t)), &block);
    if (failed(s)) return s;
    kip::Cleanup<1> c;
    c.addBlock<void>(ksys_cleanupFreeAlways, &block);
    double* curve = static_cast<double*>(block);  // the unit curve of the row, then of the column
    int32_t* gx = reinterpret_cast<int32_t*>(curve + count);
    int32_t* gy = gx + nx;
    auto shape = [](int32_t n, double* out) {
        const double sigma = sigmaFor(n);
        for (int32_t i = 0; i < n; ++i) {
            const double d = i - (n - 1) / 2;
            out[i] = std::exp(-d * d / (2 * sigma * sigma));
        }
    };
    shape(nx, curve);
    shape(ny, curve + nx);
    auto samples = [](const double* unit, int32_t n, int32_t peak, int32_t* out) {
        int64_t sum = 0;
        for (int32_t i = 0; i < n; ++i) {
            out[i] = static_cast<int32_t>(std::lround(peak * unit[i]));
            sum += out[i];
        }
        return sum;
    };
    // Step k lowers the larger peak k times, one at a time, until 255 x the sum fits 32 bits (only
    // very large kernels need it). The sum shrinks with every step, so the first step that fits
    // is found by bisection: a kernel millions of weights long would otherwise pay a pass per step.
    auto peaksAt = [](int32_t k, int32_t& px, int32_t& py) {
        px = 17;
        py = 15;
        for (int32_t i = 0; i < k; ++i) (px >= py ? px : py) -= 1;
    };
    auto fits = [&](int32_t k) {
        int32_t px, py;
        peaksAt(k, px, py);
        return 255 * samples(curve, nx, px, gx) * samples(curve + nx, ny, py, gy) <= 2147483647;
    };
    int32_t low = 0, high = 32;  // at step 32 both peaks are 0
    while (low < high) {
        const int32_t mid = (low + high) / 2;
        if (fits(mid))
            high = mid;
        else
            low = mid + 1;
    }
    fits(low);
    Weights w;
    s = w.make(1, nx, ny);
    if (failed(s)) return c.finish(s);
    for (int32_t y = 0; y < ny; ++y)
        for (int32_t x = 0; x < nx; ++x) w.row<uint8_t>(y)[x] = static_cast<uint8_t>(gy[y] * gx[x]);
    return c.finish(kip_filterConvolveKernel8_setKernel(kernel, w.get()));
}

extern "C" kip_status kip_filterConvolveKernel16s_setSobel(kip_filterConvolveKernel16s* kernel, uint32_t direction) {
    KIP_REQUIRE(kernel);
    // Turned by a half turn when applied: these give positive values where the image brightens
    // to the right (x) or downwards (y).
    static const int16_t x[9] = {1, 0, -1, 2, 0, -2, 1, 0, -1};
    static const int16_t y[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
    if (direction == kip_filterConvolveSobelX) return setFixed(kernel, x);
    if (direction == kip_filterConvolveSobelY) return setFixed(kernel, y);
    return kip_errBadMode;
}

extern "C" kip_status kip_filterConvolveKernel16s_setLaplace(kip_filterConvolveKernel16s* kernel) {
    KIP_REQUIRE(kernel);
    static const int16_t weights[9] = {0, 1, 0, 1, -4, 1, 0, 1, 0};
    return setFixed(kernel, weights);
}
