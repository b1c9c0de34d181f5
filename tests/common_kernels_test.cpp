// Ready-made convolution kernels: their weights, what they compute on images, and refusals that
// leave the kernel as it was (also when an allocation fails).
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "kip/kip.hpp"
#include "reference/convolve_reference.hpp"

namespace {

template <class W>
std::vector<int32_t> weightsOf(const kip::kernel<W>& k) {
    std::vector<int32_t> w;
    for (int32_t y = 0; y < k.height(); ++y)
        for (int32_t x = 0; x < k.width(); ++x) w.push_back(k(x, y));
    return w;
}

TEST(CommonKernels, BoxAndGaussianWeights) {
    std::mt19937 rng(3);
    for (int i = 0; i < 60; ++i) {
        int32_t w = 1 + 2 * int32_t(rng() % (i < 50 ? 8 : 40)), h = 1 + 2 * int32_t(rng() % (i < 50 ? 8 : 40));
        kip::kernel<uint8_t> box = kip::box_kernel(w, h);
        ASSERT_EQ(box.width(), w);
        ASSERT_EQ(box.height(), h);
        EXPECT_EQ(weightsOf(box), std::vector<int32_t>(size_t(w * h), 1));

        // The Gaussian from its two-dimensional formula, within the rounding of its two factors
        // (17 and 15 at their peaks), and exactly rank one.
        kip::kernel<uint8_t> g = kip::gaussian_kernel(w, h);
        auto sigma = [](int32_t n) { return 0.3 * ((n - 1) * 0.5 - 1) + 0.8; };
        double sx = sigma(w), sy = sigma(h);
        const int32_t cx = w / 2, cy = h / 2;
        EXPECT_EQ(g(cx, cy), 255);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                double dx = x - w / 2, dy = y - h / 2;
                double want = 255 * std::exp(-dx * dx / (2 * sx * sx) - dy * dy / (2 * sy * sy));
                EXPECT_NEAR(g(x, y), want, 8.5 + 7.5 + 0.25) << w << "x" << h << " at " << x << "," << y;
                EXPECT_EQ(g(x, y), g(w - 1 - x, h - 1 - y));
                EXPECT_EQ(g(x, y) * g(cx, cy), g(x, cy) * g(cx, y)) << w << "x" << h << " at " << x << "," << y;
            }
    }
    // Large enough that the centre weight must come down to keep 255 x the sum in 32 bits.
    kip::kernel<uint8_t> wide = kip::gaussian_kernel(1001, 1001);
    int64_t sum = 0;
    for (int32_t v : weightsOf(wide)) sum += v;
    EXPECT_LT(wide(500, 500), 255);
    EXPECT_GT(wide(500, 500), 0);
    EXPECT_LE(255 * sum, 2147483647);
}

// Sobel and Laplace convolve as their definitions say, on random images and both borders.
TEST(CommonKernels, SobelAndLaplaceComputeTheirDefinitions) {
    std::mt19937 rng(7);
    const std::vector<std::pair<kip::kernel<int16_t>, std::vector<int32_t>>> kernels = {
        {kip::sobel_kernel(kip::axis::x), {1, 0, -1, 2, 0, -2, 1, 0, -1}},
        {kip::sobel_kernel(kip::axis::y), {1, 2, 1, 0, 0, 0, -1, -2, -1}},
        {kip::laplace_kernel(), {0, 1, 0, 1, -4, 1, 0, 1, 0}},
    };
    for (int i = 0; i < 30; ++i) {
        kipref::ConvolveCase c;
        c.source = {int32_t(rng() % 5), int32_t(rng() % 5), 1 + int32_t(rng() % 20), 1 + int32_t(rng() % 20)};
        c.pixels.resize(size_t(c.source.width * c.source.height));
        for (auto& p : c.pixels) p = uint8_t(rng());
        c.kw = c.kh = 3;
        c.signedKernel = true;
        c.borderMode = i % 2 ? kip_filterBorderClipped : kip_filterBorderMirrored;
        auto source = kip::image<const uint8_t>::wrap(c.pixels.data(), c.source, c.source.width);
        for (const auto& [k, weights] : kernels) {
            c.weights = weights;
            kipref::ConvolveResult want = kipref::referenceConvolve(c);
            kip::image<int16_t> got = kip::convolve(source, k, kip::convolve_border(c.borderMode));
            ASSERT_EQ(got.bound(), want.rect.width > 0 && want.rect.height > 0);
            if (!got.bound()) continue;
            auto v = got.view();
            for (int32_t y = 0; y < want.rect.height; ++y)
                for (int32_t x = 0; x < want.rect.width; ++x)
                    ASSERT_EQ(uint16_t(v(x, y)), want.values[size_t(y * want.rect.width + x)]) << i;
        }
    }
    // Sobel x is positive where the image brightens to the right, y where it brightens downwards.
    std::vector<uint8_t> ramp(5 * 5);
    for (int32_t i = 0; i < 25; ++i) ramp[size_t(i)] = uint8_t(10 * (i % 5) + 40 * (i / 5));
    auto src = kip::image<const uint8_t>::wrap(ramp, 5, 5);
    EXPECT_EQ(kip::convolve(src, kip::sobel_kernel(kip::axis::x)).view()(2, 2), 20);
    EXPECT_EQ(kip::convolve(src, kip::sobel_kernel(kip::axis::y)).view()(2, 2), 80);
}

// Bad sizes and directions, and every failing allocation, leave the kernel as it was.
TEST(CommonKernels, RefusalsAndFailedAllocationsLeaveTheKernelUnchanged) {
    kip_filterConvolveKernel8 k8, before8;
    kip_filterConvolveKernel16s k16, before16;
    const kstd_pair32 three{3, 3};
    kip_filterConvolveKernel8_construct(&k8);
    kip_filterConvolveKernel16s_construct(&k16);
    ASSERT_EQ(kip_filterConvolveKernel8_setGaussian(&k8, &three), 0);
    ASSERT_EQ(kip_filterConvolveKernel16s_setLaplace(&k16), 0);
    kip_filterConvolveKernel8_constructCopy(&before8, &k8);
    kip_filterConvolveKernel16s_constructCopy(&before16, &k16);
    auto unchanged = [&] {
        uint32_t a = 0, b = 0;
        kip_filterConvolveKernel8_compareEqual(&k8, &before8, &a);
        kip_filterConvolveKernel16s_compareEqual(&k16, &before16, &b);
        return a == 1 && b == 1;
    };
    for (kstd_pair32 size : {kstd_pair32{4, 3}, kstd_pair32{3, 0}, kstd_pair32{-3, 3}, kstd_pair32{3, 2}}) {
        EXPECT_EQ(kip_filterConvolveKernel8_setBox(&k8, &size), kip_errKernelSizeNotOdd);
        EXPECT_EQ(kip_filterConvolveKernel8_setGaussian(&k8, &size), kip_errKernelSizeNotOdd);
    }
    const kstd_pair32 huge{4095, 4095};
    EXPECT_EQ(kip_filterConvolveKernel8_setBox(&k8, &huge), kstd_errInvalidArgument);
    EXPECT_EQ(kip_filterConvolveKernel8_setGaussian(&k8, &huge), kstd_errInvalidArgument);
    EXPECT_EQ(kip_filterConvolveKernel16s_setSobel(&k16, 2), kip_errBadMode);
    EXPECT_TRUE(unchanged());

    const kstd_pair32 size{5, 7};
    const std::vector<std::function<kip_status()>> calls = {
        [&] { return kip_filterConvolveKernel8_setBox(&k8, &size); },
        [&] { return kip_filterConvolveKernel8_setGaussian(&k8, &size); },
        [&] { return kip_filterConvolveKernel16s_setSobel(&k16, kip_filterConvolveSobelY); },
        [&] { return kip_filterConvolveKernel16s_setLaplace(&k16); },
    };
    for (std::size_t c = 0; c < calls.size(); ++c) {
        kip_status s = 0;
        for (int64_t n = 0; n < 20; ++n) {
            int64_t live = ksys_memory_getLiveBlocks();
            ksys_memory_setFailAfter(n);
            s = calls[c]();
            ksys_memory_setFailAfter(-1);
            if (s == 0) break;
            EXPECT_EQ(s, ksys_errOutOfMemory) << c << " " << n;
            EXPECT_TRUE(unchanged()) << c << " " << n;
            EXPECT_EQ(ksys_memory_getLiveBlocks(), live) << c << " " << n;
        }
        EXPECT_EQ(s, 0) << c;
        kip_filterConvolveKernel8_assign(&k8, &before8);
        kip_filterConvolveKernel16s_assign(&k16, &before16);
    }
    kip_filterConvolveKernel8_destruct(&k8);
    kip_filterConvolveKernel8_destruct(&before8);
    kip_filterConvolveKernel16s_destruct(&k16);
    kip_filterConvolveKernel16s_destruct(&before16);
}

}  // namespace
