// Median: the central selections and the sorting-network median against sorting and a
// brute-force median on every instruction set, its declines, and its fault sweep.
#include <algorithm>
#include <atomic>
#include <string>

#include "kip/rank.h"
#include "median/median_internal.hpp"
#include "reference/median_reference.hpp"
#include "reference/rank_reference.hpp"
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

// The kernels a network case draws: any size 3..9; 3 x 3 only (rows straight from the source,
// widths on both sides of every block width); 9 wide (columns merged between neighbours, rows
// across several chunks, both row-end pads, 9 x 7 beside 9 x 9).
enum class Shape { any, threeByThree, nineWide };

// One random window: the destination covers some rows of the source (as a band does) and its
// columns; results against the brute-force median of the source window.
template <class T>
void networkCase(std::mt19937& rng, const Isa& isa, bool large, Shape shape) {
    const int32_t kw = shape == Shape::any ? 3 + 2 * int32_t(rng() % 4) : shape == Shape::threeByThree ? 3 : 9;
    const int32_t kh = shape == Shape::any            ? 3 + 2 * int32_t(rng() % 4)
                       : shape == Shape::threeByThree ? 3
                                                      : 7 + 2 * int32_t(rng() % 4 == 0);
    const int32_t width = shape == Shape::nineWide ? 1 + int32_t(rng() % 1300)
                          : large                  ? 64 + int32_t(rng() % 1200)
                                                   : 1 + int32_t(rng() % (shape == Shape::threeByThree ? 200 : 70));
    const int32_t height = shape == Shape::nineWide ? 1 + int32_t(rng() % 14)
                           : large                  ? 1 + int32_t(rng() % 12)
                                                    : 1 + int32_t(rng() % 20);
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
    struct Run {
        Shape shape;
        int iterations, largeEvery;
        uint32_t seed;
    };
    for (const Run& run :
         {Run{Shape::any, 500, 25, 1102}, Run{Shape::threeByThree, 300, 50, 1103}, Run{Shape::nineWide, 10, 1, 1108}}) {
        std::mt19937 rng(run.seed);
        for (const Isa& isa : kIsas)
            for (int iter = 0; iter < run.iterations; ++iter) {
                networkCase<uint8_t>(rng, isa, iter % run.largeEvery == 0, run.shape);
                networkCase<uint16_t>(rng, isa, iter % run.largeEvery == 1 % run.largeEvery, run.shape);
                if (HasFailure()) return;
            }
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

TEST(MedianParams, OnlyTheTruncatedBorderIsValid) {
    kip_filterMedianParams a{7}, b{kip_filterBorderTruncated};
    uint32_t equal = 7;
    ASSERT_EQ(kip_filterMedianParams_init(&a), 0);
    EXPECT_TRUE(kip_filterMedianParams_validate(&a) == 0 && kip_filterMedianParams_compareEqual(&a, &b, &equal) == 0 &&
                equal == 1);
    for (uint32_t mode : {kip_filterBorderClipped, kip_filterBorderMirrored, 3u}) {
        b.borderMode = mode;
        EXPECT_EQ(kip_filterMedianParams_validate(&b), kip_errBadMode);
        EXPECT_TRUE(kip_filterMedianParams_compareEqual(&a, &b, &equal) == 0 && equal == 0);
    }
}

// ---- Median filter entries ---------------------------------------------------------------------

int32_t inhibitAll(const uint16_t*) { return 1; }

std::atomic<int> gHookCalls{0};
int32_t countingHook(const uint16_t*) {
    ++gHookCalls;
    return 0;
}

using Img = kiptest::Image;

kip_status medianWindow(uint32_t depth, const kimg_window* s, const kimg_window* m, const kip_filterMedianParams* p,
                        const kip_filterMaskKernel* k, const kimg_window* d) {
    return depth == 1 ? kip_filterMedianWindow8(s, m, p, k, d) : kip_filterMedianWindow16(s, m, p, k, d);
}
kip_status medianImage(uint32_t depth, const kimg_image* s, const kimg_image* m, const kip_filterMedianParams* p,
                       const kip_filterMaskKernel* k, kimg_image* d) {
    return depth == 1 ? kip_filterMedian8(s, m, p, k, d) : kip_filterMedian16(s, m, p, k, d);
}

// A kernel of the given size, full or with random members (the centre always one).
struct AnyKernel {
    kip_filterMaskKernel k;
    std::vector<uint8_t> members;
    AnyKernel(std::mt19937& rng, int32_t kw, int32_t kh, bool masked) {
        members.assign(size_t(kw * kh), 255);
        if (masked)
            for (uint8_t& m : members) m = rng() % 3 ? 255 : 0;
        members[size_t(kw * kh / 2)] = 255;
        Buffer<uint8_t> image(0, 0, kw, kh, kw);
        std::copy(members.begin(), members.end(), image.pixels.begin());
        EXPECT_EQ(kip_filterMaskKernel_constructMask(&k, &image.img), 0);
        if (!masked) members.clear();
    }
    ~AnyKernel() { kip_filterMaskKernel_destruct(&k); }
};

// One random call of an entry (window or image, separate or in place, with or without image
// mask, full or masked kernel, network hook on or off, some thread count) against the
// brute-force rank at percentile 0.5; every destination pixel outside the result untouched.
void randomFilterCase(std::mt19937& rng, uint32_t depth, int iter) {
    kipref::RankCase c;
    const bool big = iter % 32 == 0;  // large enough for bands
    c.source = rect(int32_t(rng() % 11) - 5, int32_t(rng() % 11) - 5,
                    big ? 360 + int32_t(rng() % 40) : 1 + int32_t(rng() % 60),
                    big ? 360 + int32_t(rng() % 40) : 1 + int32_t(rng() % 40));
    c.kw = 1 + 2 * int32_t(rng() % 6);
    c.kh = 1 + 2 * int32_t(rng() % 6);
    const bool masked = rng() % 5 == 0, useMask = rng() % 5 == 0, inPlace = !big && rng() % 6 == 0;
    const bool windowEntry = rng() % 2, hookOn = rng() % 3 == 0;
    const uint32_t threads = std::vector<uint32_t>{1, 2, 3, 4, 16}[rng() % 5];
    Img src(depth, c.source, int32_t(rng() % 3));
    const int style = int(rng() % 3);
    std::vector<uint16_t> pixels = src.values();
    for (uint16_t& p : pixels) p = depth == 1 ? randomPixel<uint8_t>(rng, style) : randomPixel<uint16_t>(rng, style);
    src.setValues(pixels);
    c.pixels = pixels;
    Img mask(1, c.source, 1);
    if (useMask) {
        std::vector<uint16_t> m = mask.values();
        for (uint16_t& v : m) v = rng() % 4 ? uint16_t(1 + rng() % 255) : 0;
        mask.setValues(m);
        c.imageMask.assign(m.begin(), m.end());
    }
    AnyKernel kernel(rng, c.kw, c.kh, masked);
    c.kernelMask = kernel.members;
    Img dstStorage(depth,
                   inPlace ? c.source
                           : rect(c.source.x + int32_t(rng() % 9) - 4, c.source.y + int32_t(rng() % 9) - 4,
                                  c.source.width + int32_t(rng() % 5) - 2, c.source.height + int32_t(rng() % 5) - 2),
                   1);
    const Img& dst = inPlace ? src : dstStorage;
    if (!inPlace) dst.fillRandom(rng);
    c.destination = dst.window().rect;
    if (c.destination.width <= 0 || c.destination.height <= 0) return;
    const std::vector<uint16_t> before = dst.values();
    const kimg_window original = dst.window();  // a view of the same pixels after the call
    const kipref::RankResult want = kipref::referenceRank(c);
    kip_filterMedianParams params;
    kip_filterMedianParams_init(&params);

    ksys_jobSetThreadCount(threads);
    kprt_isOptimizationInhibitedFP = hookOn ? &inhibitAll : nullptr;
    kip_status s;
    if (windowEntry) {
        const kimg_window sw = src.window(), mw = mask.window(), dw = dst.window();
        s = medianWindow(depth, &sw, useMask ? &mw : nullptr, &params, &kernel.k, &dw);
    } else {
        s = medianImage(depth, &src.img, useMask ? &mask.img : nullptr, &params, &kernel.k,
                        const_cast<kimg_image*>(&dst.img));
    }
    kprt_isOptimizationInhibitedFP = nullptr;
    ksys_jobSetThreadCount(0);
    const std::string where = std::to_string(depth * 8) + "-bit " + std::to_string(c.kw) + "x" + std::to_string(c.kh) +
                              (masked ? " masked" : "") + (useMask ? " image-mask" : "") +
                              (inPlace ? " in place" : "") + (hookOn ? " hook" : "") + " threads " +
                              std::to_string(threads) + " source " + std::to_string(c.source.width) + "x" +
                              std::to_string(c.source.height) + (windowEntry ? " window" : " image");
    ASSERT_EQ(s, 0) << where;
    if (!windowEntry && want.rect.width > 0) {
        EXPECT_EQ(kiptest::windowOf(dst.img), want.rect) << where;
    }
    const std::vector<uint16_t> after = kiptest::values(original);
    size_t i = 0, bad = 0;
    const kstd_rect32 r = want.rect, d = c.destination;
    for (int32_t y = d.y; y < d.y + d.height; ++y)
        for (int32_t x = d.x; x < d.x + d.width; ++x, ++i) {
            const bool in = x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
            const uint16_t expected = in ? want.values[size_t((y - r.y) * r.width + (x - r.x))] : before[i];
            if (after[i] != expected && ++bad <= 3)
                ADD_FAILURE() << where << " at (" << x << ", " << y << "): " << after[i] << " != " << expected;
        }
}

TEST(MedianFilter, EntriesMatchBruteForceRank) {
    Guard guard;
    std::mt19937 rng(1104);
    for (int iter = 0; iter < 320; ++iter) {
        randomFilterCase(rng, iter % 2 ? 1 : 2, iter / 2);
        if (HasFailure()) return;
    }
}

// Bands are whole rows of equal height, at most one per 131072 destination pixels; results do
// not depend on how many there are, band edges included. Each band asks the hook once.
TEST(MedianFilter, BandsByThreadCount) {
    Guard guard;
    struct Case {
        int32_t width, height;
        uint32_t threads;
        int bands;
    };
    const Case cases[] = {{1000, 1000, 4, 4}, {1000, 1000, 16, 8}, {1000, 1001, 4, 4}, {512, 256, 16, 1},
                          {513, 256, 16, 2},  {2000, 3, 16, 1},    {3000, 50, 3, 2}};
    kip_filterMedianParams params{kip_filterBorderTruncated};
    Kernel k(5, 5);
    for (const Case& c : cases) {
        Img src(1, rect(0, 0, c.width, c.height), 0), dst(1, rect(0, 0, c.width, c.height), 0);
        ksys_jobSetThreadCount(c.threads);
        gHookCalls = 0;
        kprt_isOptimizationInhibitedFP = &countingHook;
        EXPECT_EQ(kip_filterMedian8(&src.img, nullptr, &params, &k.k, &dst.img), 0);
        kprt_isOptimizationInhibitedFP = nullptr;
        EXPECT_EQ(gHookCalls.load(), c.bands) << c.width << "x" << c.height << " threads " << c.threads;
    }
    std::mt19937 rng(1105);
    for (uint32_t depth : {1u, 2u}) {
        Img src(depth, rect(3, -2, 700, 600), 1), mask(1, rect(3, -2, 700, 600), 0);
        src.fillRandom(rng);
        std::vector<uint16_t> m = mask.values();
        for (uint16_t& v : m) v = rng() % 5 ? 255 : 0;
        mask.setValues(m);
        AnyKernel masked(rng, 5, 3, true);
        // Network, rank route, masked kernel, image mask (the slow 16-bit histograms only for the last).
        for (int variant = 0; variant < 4; ++variant) {
            if (depth == 2 && (variant == 1 || variant == 2)) continue;
            Kernel k7(7, 9);
            const kip_filterMaskKernel* kernel = variant == 2 ? &masked.k : &k7.k;
            const kimg_image* imageMask = variant == 3 ? &mask.img : nullptr;
            kprt_isOptimizationInhibitedFP = variant == 1 ? &inhibitAll : nullptr;
            std::vector<uint16_t> first;
            for (uint32_t threads : {1u, 2u, 3u, 4u, 16u}) {
                ksys_jobSetThreadCount(threads);
                Img dst(depth, rect(3, -2, 700, 600), 0);
                ASSERT_EQ(medianImage(depth, &src.img, imageMask, &params, kernel, &dst.img), 0);
                if (first.empty())
                    first = dst.values();
                else
                    EXPECT_EQ(dst.values(), first) << depth * 8 << "-bit variant " << variant << " threads " << threads;
            }
            kprt_isOptimizationInhibitedFP = nullptr;
        }
    }
}

TEST(MedianFilter, BadInput) {
    Guard guard;
    Img src(1, rect(0, 0, 20, 10), 0), dst(1, rect(0, 0, 20, 10), 0);
    std::mt19937 rng(1106);
    src.fillRandom(rng);
    dst.fillRandom(rng);
    const std::vector<uint16_t> before = dst.values();
    Kernel k(3, 3);
    kip_filterMedianParams clipped{kip_filterBorderClipped}, good{kip_filterBorderTruncated};
    const kimg_window sw = src.window(), dw = dst.window();
    // With an image mask too: the mode is refused before the mask's pre-fill writes anything.
    Img mask(1, rect(0, 0, 20, 10), 0);
    const kimg_window mw = mask.window();
    for (bool masked : {false, true}) {
        EXPECT_EQ(kip_filterMedianWindow8(&sw, masked ? &mw : nullptr, &clipped, &k.k, &dw), kip_errBadMode);
        EXPECT_EQ(kip_filterMedian8(&src.img, masked ? &mask.img : nullptr, &clipped, &k.k, &dst.img), kip_errBadMode);
    }
    kimg_window unbound;
    kimg_window_initUnbound(&unbound);
    EXPECT_EQ(kip_filterMedianWindow8(&unbound, nullptr, &good, &k.k, &dw), kip_errImageUnbound);
    EXPECT_EQ(kip_filterMedianWindow16(&sw, nullptr, &good, &k.k, &unbound), kip_errImageUnbound);
    Img none;
    EXPECT_EQ(kip_filterMedian8(&none.img, nullptr, &good, &k.k, &dst.img), kip_errImageUnbound);
    Img wrongMask(1, rect(1, 0, 20, 10), 0);
    EXPECT_EQ(kip_filterMedian8(&src.img, &wrongMask.img, &good, &k.k, &dst.img), kip_errMaskWindowMismatch);
    // Windows of the wrong depth, the mask among them, are refused before the mask's pre-fill.
    Img mask16(2, rect(0, 0, 20, 10), 0), src16(2, rect(0, 0, 20, 10), 0);
    const kimg_window m16 = mask16.window(), s16 = src16.window();
    EXPECT_EQ(kip_filterMedianWindow8(&sw, &m16, &good, &k.k, &dw), kimg_errDepthMismatch);
    EXPECT_EQ(kip_filterMedianWindow8(&s16, &mw, &good, &k.k, &dw), kimg_errDepthMismatch);
    EXPECT_EQ(kip_filterMedianWindow16(&sw, nullptr, &good, &k.k, &dw), kimg_errDepthMismatch);
    EXPECT_EQ(dst.values(), before);
    // A null mask window is no mask; disjoint windows write nothing.
    EXPECT_EQ(kip_filterMedianWindow8(&sw, &unbound, &good, &k.k, &dw), 0);
    Img far(1, rect(100, 100, 5, 5), 0);
    const kimg_window fw = far.window();
    EXPECT_EQ(kip_filterMedianWindow8(&sw, nullptr, &good, &k.k, &fw), 0);
    EXPECT_EQ(far.values(), std::vector<uint16_t>(25, 0));
    kiptest::AssertCounter asserts;
    EXPECT_NE(kip_filterMedianWindow8(nullptr, nullptr, &good, &k.k, &dw), 0);
    EXPECT_NE(kip_filterMedian16(&src.img, nullptr, nullptr, &k.k, &dst.img), 0);
    EXPECT_EQ(asserts.count(), 2);
}

TEST(MedianFilter, FaultSweep) {
    Guard guard;
    std::mt19937 rng(1107);
    for (uint32_t threads : {1u, 3u})
        for (bool hookOn : {false, true}) {
            Img src(2, rect(0, 0, 400, 340), 0);
            src.fillRandom(rng);
            kimg_image dst;
            Kernel k(5, 3);
            kip_filterMedianParams params{kip_filterBorderTruncated};
            ksys_jobSetThreadCount(threads);
            kprt_isOptimizationInhibitedFP = hookOn ? &inhibitAll : nullptr;
            const int allocations =
                kiptest::faultSweep([&] { return kip_filterMedian16(&src.img, nullptr, &params, &k.k, &dst); }, nullptr,
                                    [&] { kimg_image_constructUnbound(&dst); }, [&] { kimg_image_destruct(&dst); });
            EXPECT_GT(allocations, threads > 1 ? 4 : 1) << "threads " << threads;
        }
}

}  // namespace
