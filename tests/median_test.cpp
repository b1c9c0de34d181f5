// Median: the central selections and the sorting-network median against sorting and a
// brute-force median on every instruction set, its declines, and its fault sweep.
#include <algorithm>
#include <string>

#include "median/median_internal.hpp"
#include "reference/median_reference.hpp"
#include "support/test_support.hpp"

using kiptest::rect;

namespace {

// Instruction sets forced in turn through the feature mask (on a processor without the wider
// sets, the cases repeat the narrower ones).
struct Isa {
    const char* name;
    uint32_t mask;
};
const Isa kIsas[] = {{"widest", 0xFFFFFFFFu},
                     {"avx2", ~ksys_cpuFeatureAvx512bw},
                     {"sse", ~(ksys_cpuFeatureAvx512bw | ksys_cpuFeatureAvx2)}};

// Restores the hook, the processor features and the thread count whatever a test did.
struct Guard {
    ~Guard() {
        kprt_isOptimizationInhibitedFP = nullptr;
        ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
        ksys_jobSetThreadCount(0);
    }
};

template <class T>
constexpr T kMax = T(~T(0));

// Pixel styles: any value, only the extremes (they meet the border pads), few levels (ties).
template <class T>
T randomPixel(std::mt19937& rng, int style) {
    const uint32_t r = rng();
    switch (style) {
        case 0:
            return T(r);
        case 1:
            return r % 2 ? kMax<T> : T(0);
        default:
            return T(r % 4 == 3 ? kMax<T> : r % 3);
    }
}

// Caller memory that ends exactly after the window's last pixel, so that any read or write past
// it is caught by the sanitizer.
template <class T>
struct Buffer {
    std::vector<T> pixels;
    kimg_image img;
    kimg_window win;
    Buffer(int32_t x, int32_t y, int32_t width, int32_t height, int32_t stride) {
        pixels.resize(height == 0 ? 0 : size_t(height - 1) * size_t(stride) + size_t(width));
        const kstd_rect32 r = rect(x, y, width, height);
        EXPECT_EQ(kimg_image_constructWrap(&img, sizeof(T), &r, stride, pixels.data()), 0);
        EXPECT_EQ(kimg_window_init(&win, &img), 0);
    }
    ~Buffer() { kimg_image_destruct(&img); }
    Buffer(const Buffer&) = delete;
    T& at(int32_t x, int32_t y) { return pixels[size_t(y - win.rect.y) * size_t(win.stride) + size_t(x - win.rect.x)]; }
    std::vector<uint16_t> rows(int32_t y0, int32_t y1) {
        std::vector<uint16_t> v;
        for (int32_t y = y0; y < y1; ++y)
            for (int32_t x = win.rect.x; x < win.rect.x + win.rect.width; ++x) v.push_back(at(x, y));
        return v;
    }
};

struct Kernel {
    kip_filterMaskKernel k;
    Kernel(int32_t kw, int32_t kh) {
        const kstd_pair32 size{kw, kh};
        EXPECT_EQ(kip_filterMaskKernel_constructSize(&k, &size), 0);
    }
    ~Kernel() { kip_filterMaskKernel_destruct(&k); }
};

template <class T>
kip_status network(const kimg_window* s, const kimg_window* m, const kip_filterMedianParams* p,
                   const kip_filterMaskKernel* k, const kimg_window* d) {
    return sizeof(T) == 1 ? kip_filterMedianNetwork8_(s, m, p, k, d) : kip_filterMedianNetwork16_(s, m, p, k, d);
}

// ---- Central selection ---------------------------------------------------------------------

template <class T>
kip_status selectCentral(const T* const* in, int32_t n, T* out, int32_t pitch, int32_t k, int32_t width) {
    if constexpr (sizeof(T) == 1)
        return kip_selectCentral8_(in, n, out, pitch, k, width);
    else
        return kip_selectCentral16_(in, n, out, pitch, k, width);
}

// Every (n, k) on every instruction set: widths around the block sizes, with the first 2^n
// columns running through all patterns of minima and maxima (which proves a min/max network on
// all inputs), the rest random.
template <class T>
void checkSelections(std::mt19937& rng) {
    constexpr int32_t kSlack = 64;  // the block a call may read and write past `width`
    for (const Isa& isa : kIsas) {
        ksys_cpuinfo_setFeatureMask(isa.mask);
        for (int32_t n = 1; n <= 11; ++n)
            for (int32_t k = 1; k <= n; k += 2)
                for (int32_t width : {0, 1, 7, 8, 15, 16, 17, 31, 33, 63, 64, 65, 70, 513}) {
                    std::vector<std::vector<T>> rows(size_t(n), std::vector<T>(size_t(width + kSlack)));
                    std::vector<const T*> in;
                    for (int32_t i = 0; i < n; ++i) {
                        for (int32_t x = 0; x < width + kSlack; ++x)
                            rows[size_t(i)][size_t(x)] =
                                x < (1 << n) ? ((x >> i) & 1 ? kMax<T> : T(0)) : randomPixel<T>(rng, x % 3);
                        in.push_back(rows[size_t(i)].data());
                    }
                    const int32_t pitch = width + kSlack;
                    std::vector<T> out(size_t(k) * size_t(pitch), T(7));
                    ASSERT_EQ(selectCentral<T>(in.data(), n, out.data(), pitch, k, width), 0);
                    for (int32_t x = 0; x < width; ++x) {
                        std::vector<T> column;
                        for (int32_t i = 0; i < n; ++i) column.push_back(rows[size_t(i)][size_t(x)]);
                        std::sort(column.begin(), column.end());
                        for (int32_t j = 0; j < k; ++j)
                            ASSERT_EQ(out[size_t(j * pitch + x)], column[size_t((n - k) / 2 + j)])
                                << isa.name << " n " << n << " k " << k << " width " << width << " column " << x;
                    }
                    if (k == 1) {  // k = 1 writes exactly `width` pixels: it may write into destination rows
                        for (int32_t x = width; x < pitch; ++x) ASSERT_EQ(out[size_t(x)], T(7)) << isa.name;
                    }
                }
    }
    ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
}

TEST(MedianSelect, CentralValuesOfEveryCountOnEveryInstructionSet) {
    Guard guard;
    std::mt19937 rng(1101);
    checkSelections<uint8_t>(rng);
    checkSelections<uint16_t>(rng);
}

TEST(MedianSelect, RejectsBadCounts) {
    const uint8_t row[1] = {0};
    const uint8_t* in[2] = {row, row};
    uint8_t out[64];
    EXPECT_EQ(kip_selectCentral8_(in, 2, out, 64, 2, 1), kstd_errInvalidArgument);  // even k
    EXPECT_EQ(kip_selectCentral8_(in, 1, out, 64, 3, 1), kstd_errInvalidArgument);  // k > n
    EXPECT_EQ(kip_selectCentral8_(in, 0, out, 64, 1, 1), kstd_errInvalidArgument);
    EXPECT_EQ(kip_selectCentral8_(in, 1, out, 64, 1, -1), kstd_errInvalidArgument);
}

// ---- Sorting-network median ----------------------------------------------------------------

// One random window: the destination covers some rows of the source (as a band does) and its
// columns; results against the brute-force median of the source window.
template <class T>
void networkCase(std::mt19937& rng, const Isa& isa, bool large) {
    const int32_t kw = 3 + 2 * int32_t(rng() % 4), kh = 3 + 2 * int32_t(rng() % 4);
    const int32_t width = large ? 64 + int32_t(rng() % 1200) : 1 + int32_t(rng() % 70);
    const int32_t height = large ? 1 + int32_t(rng() % 12) : 1 + int32_t(rng() % 20);
    const int32_t stride = rng() % 6 == 0 ? 1024 * (1 + int32_t(width / 1024)) : width + int32_t(rng() % 4);
    const int32_t x0 = int32_t(rng() % 9) - 4, y0 = int32_t(rng() % 9) - 4;
    const int style = int(rng() % 3);
    Buffer<T> src(x0, y0, width, height, stride);
    for (T& p : src.pixels) p = randomPixel<T>(rng, style);
    const int32_t top = height > 2 && rng() % 3 == 0 ? int32_t(rng() % (height / 2)) : 0;
    const int32_t rows = height - top - (height - top > 1 && rng() % 3 == 0 ? int32_t(rng() % (height - top)) : 0);
    Buffer<T> dst(x0, y0 + top, width, rows, width + int32_t(rng() % 3));
    for (T& p : dst.pixels) p = T(rng());
    const std::vector<T> before = dst.pixels;
    Kernel kernel(kw, kh);
    kip_filterMedianParams params;
    kip_filterMedianParams_init(&params);

    ksys_cpuinfo_setFeatureMask(isa.mask);
    const kip_status s = network<T>(&src.win, nullptr, &params, &kernel.k, &dst.win);
    ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
    const std::string where = std::string(isa.name) + " " + std::to_string(sizeof(T) * 8) + "-bit kernel " +
                              std::to_string(kw) + "x" + std::to_string(kh) + " window " + std::to_string(width) + "x" +
                              std::to_string(height) + " stride " + std::to_string(stride) + " rows " +
                              std::to_string(top) + "+" + std::to_string(rows) + " style " + std::to_string(style);
    if (width + 1 < kw) {  // the pads of both row ends would meet: left to the rank route
        EXPECT_EQ(s, kip_errNotAvailable) << where;
        EXPECT_EQ(dst.pixels, before) << where;
        return;
    }
    ASSERT_EQ(s, 0) << where;
    const std::vector<uint16_t> all = kipref::referenceMedian(src.rows(y0, y0 + height), width, height, kw, kh);
    const std::vector<uint16_t> want(all.begin() + ptrdiff_t(top) * width, all.begin() + ptrdiff_t(top + rows) * width);
    EXPECT_EQ(dst.rows(y0 + top, y0 + top + rows), want) << where;
    for (int32_t y = 0; y + 1 < rows; ++y)  // the gaps between destination rows are left alone
        for (int32_t x = width; x < dst.win.stride; ++x) {
            const size_t i = size_t(y) * size_t(dst.win.stride) + size_t(x);
            ASSERT_EQ(dst.pixels[i], before[i]) << where;
        }
}

TEST(MedianNetwork, MatchesBruteForceOnEveryInstructionSet) {
    Guard guard;
    std::mt19937 rng(1102);
    for (const Isa& isa : kIsas)
        for (int iter = 0; iter < 500; ++iter) {
            networkCase<uint8_t>(rng, isa, iter % 25 == 0);
            networkCase<uint16_t>(rng, isa, iter % 25 == 1);
            if (HasFailure()) return;
        }
}

// Whatever the network does not serve it declines before writing: the rank route takes over.
TEST(MedianNetwork, DeclinesWhatItDoesNotServe) {
    Guard guard;
    Buffer<uint8_t> src(0, 0, 40, 30, 40), dst(0, 0, 40, 30, 40), mask(0, 0, 40, 30, 40);
    Buffer<uint16_t> src16(0, 0, 40, 30, 40), dst16(0, 0, 40, 30, 40);
    std::fill(dst.pixels.begin(), dst.pixels.end(), uint8_t(9));
    std::fill(dst16.pixels.begin(), dst16.pixels.end(), uint16_t(9));
    kip_filterMedianParams params{kip_filterBorderTruncated};
    Kernel k3(3, 3);
    for (auto size : {kstd_pair32{11, 11}, kstd_pair32{1, 3}, kstd_pair32{3, 1}, kstd_pair32{9, 11}}) {
        Kernel k(size.x, size.y);
        EXPECT_EQ(kip_filterMedianNetwork8_(&src.win, nullptr, &params, &k.k, &dst.win), kip_errNotAvailable);
    }
    const uint8_t cross[9] = {0, 255, 0, 255, 255, 255, 0, 255, 0};
    Buffer<uint8_t> crossImage(0, 0, 3, 3, 3);
    std::copy(cross, cross + 9, crossImage.pixels.begin());
    kip_filterMaskKernel masked;
    ASSERT_EQ(kip_filterMaskKernel_constructMask(&masked, &crossImage.img), 0);
    EXPECT_EQ(kip_filterMedianNetwork8_(&src.win, nullptr, &params, &masked, &dst.win), kip_errNotAvailable);
    kip_filterMaskKernel_destruct(&masked);
    EXPECT_EQ(kip_filterMedianNetwork8_(&src.win, &mask.win, &params, &k3.k, &dst.win), kip_errNotAvailable);
    kip_filterMedianParams bad{kip_filterBorderClipped};
    EXPECT_EQ(kip_filterMedianNetwork8_(&src.win, nullptr, &bad, &k3.k, &dst.win), kip_errNotAvailable);
    ksys_cpuinfo_setFeatureMask(~ksys_cpuFeatureSse2);
    EXPECT_EQ(kip_filterMedianNetwork8_(&src.win, nullptr, &params, &k3.k, &dst.win), kip_errNotAvailable);
    ksys_cpuinfo_setFeatureMask(~ksys_cpuFeatureSse41);
    EXPECT_EQ(kip_filterMedianNetwork16_(&src16.win, nullptr, &params, &k3.k, &dst16.win), kip_errNotAvailable);
    EXPECT_EQ(kip_filterMedianNetwork8_(&src.win, nullptr, &params, &k3.k, &dst.win), 0);  // 8-bit needs SSE2 only
    ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
    EXPECT_TRUE(std::all_of(dst16.pixels.begin(), dst16.pixels.end(), [](uint16_t p) { return p == 9; }));
    // A null mask window is no mask.
    kimg_window nullMask;
    kimg_window_initUnbound(&nullMask);
    EXPECT_EQ(kip_filterMedianNetwork16_(&src16.win, &nullMask, &params, &k3.k, &dst16.win), 0);
}

TEST(MedianNetwork, FaultSweep) {
    Buffer<uint16_t> src(0, 0, 50, 20, 50), dst(0, 0, 50, 20, 50);
    std::mt19937 rng(1103);
    for (uint16_t& p : src.pixels) p = uint16_t(rng());
    kip_filterMedianParams params{kip_filterBorderTruncated};
    Kernel k(5, 7);
    const int allocations =
        kiptest::faultSweep([&] { return kip_filterMedianNetwork16_(&src.win, nullptr, &params, &k.k, &dst.win); });
    EXPECT_EQ(allocations, 1);  // one scratch block per call
}

}  // namespace

namespace {

TEST(MedianParams, InitValidateCompare) {
    kip_filterMedianParams a{7}, b{kip_filterBorderTruncated};
    EXPECT_EQ(kip_filterMedianParams_init(&a), 0);
    EXPECT_EQ(a.borderMode, kip_filterBorderTruncated);
    EXPECT_EQ(kip_filterMedianParams_validate(&a), 0);
    uint32_t equal = 7;
    EXPECT_EQ(kip_filterMedianParams_compareEqual(&a, &b, &equal), 0);
    EXPECT_EQ(equal, 1u);
    for (uint32_t mode : {kip_filterBorderClipped, kip_filterBorderMirrored, 3u}) {
        b.borderMode = mode;
        EXPECT_EQ(kip_filterMedianParams_validate(&b), kip_errBadMode);
        EXPECT_EQ(kip_filterMedianParams_compareEqual(&a, &b, &equal), 0);
        EXPECT_EQ(equal, 0u);
    }
}

}  // namespace
