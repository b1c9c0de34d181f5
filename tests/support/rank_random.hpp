// Random rank cases shared by the rank suites: kernel masks, image masks, percentiles; the mask
// kernel they build and a guard for forced instruction sets.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "support/test_support.hpp"

namespace kiptest {

// A mask kernel of kw x kh, a rectangle when the mask is empty; members counts its positions.
struct RankKernel {
    kip_filterMaskKernel k;
    int32_t members = 0;
    RankKernel(int32_t kw, int32_t kh, const std::vector<uint8_t>& mask = {}) : members(kw * kh) {
        if (mask.empty()) {
            const kstd_pair32 size{kw, kh};
            EXPECT_EQ(kip_filterMaskKernel_constructSize(&k, &size), 0);
            return;
        }
        // Away from the origin: the kernel's mask image has a position of its own.
        Image m(1, rect(3, -2, kw, kh));
        m.setValues(std::vector<uint16_t>(mask.begin(), mask.end()));
        members = int32_t(std::count_if(mask.begin(), mask.end(), [](uint8_t v) { return v != 0; }));
        EXPECT_EQ(kip_filterMaskKernel_constructMask(&k, &m.img), 0);
    }
    ~RankKernel() { kip_filterMaskKernel_destruct(&k); }
    RankKernel(const RankKernel&) = delete;
    RankKernel& operator=(const RankKernel&) = delete;
};

// Restores every instruction set whatever a test forced.
struct FeatureGuard {
    ~FeatureGuard() { ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu); }
};

inline int32_t below(std::mt19937& rng, int32_t n) { return int32_t(rng() % uint32_t(n)); }

// Kernel masks: a disk, random density (several stretches per column), one pixel, a cross,
// nothing at all, full with arbitrary non-zero values, or full but for one hole.
inline std::vector<uint8_t> randomKernelMask(std::mt19937& rng, int32_t kw, int32_t kh) {
    std::vector<uint8_t> m(size_t(kw * kh), 0);
    const int style = below(rng, 7);
    const int32_t density = 1 + below(rng, 9);
    for (int32_t y = 0; y < kh; ++y)
        for (int32_t x = 0; x < kw; ++x) {
            const double dx = (x - kw / 2) / (kw / 2.0 + 0.5), dy = (y - kh / 2) / (kh / 2.0 + 0.5);
            uint8_t& p = m[size_t(y * kw + x)];
            switch (style) {
                case 0:
                    p = dx * dx + dy * dy <= 1.0 ? 255 : 0;
                    break;
                case 1:
                    p = below(rng, 10) < density ? uint8_t(1 + below(rng, 255)) : 0;
                    break;
                case 2:
                    break;
                case 3:
                    p = (x == kw / 2 || y == kh / 2) ? 255 : 0;
                    break;
                case 4:
                    break;
                default:
                    p = uint8_t(1 + below(rng, 255));
                    break;
            }
        }
    if (style == 2) m[size_t(below(rng, kw * kh))] = 255;
    if (style == 6) m[size_t(below(rng, kw * kh))] = 0;
    return m;
}

inline std::vector<uint8_t> randomImageMask(std::mt19937& rng, size_t n) {
    const int style = below(rng, 4);
    const int32_t density = below(rng, 11);
    std::vector<uint8_t> m(n);
    for (size_t i = 0; i < n; ++i)
        m[i] = style == 0 ? 0 : style == 1 ? 255 : below(rng, 10) < density ? uint8_t(1 + below(rng, 255)) : 0;
    if (style == 3)  // long runs
        for (size_t i = 1; i < n; ++i)
            if (below(rng, 12)) m[i] = m[i - 1];
    return m;
}

// Percentiles: the ends, the median, any fraction, and fractions where p x n is an integer.
inline double randomPercentile(std::mt19937& rng, int32_t members) {
    switch (below(rng, 5)) {
        case 0:
            return 0.0;
        case 1:
            return 1.0;
        case 2:
            return 0.5;
        case 3:
            return double(rng()) / 4294967296.0;
        default:
            return members > 0 ? double(below(rng, members + 1)) / members : 0.25;
    }
}

}  // namespace kiptest
