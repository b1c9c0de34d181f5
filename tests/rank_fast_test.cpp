// The 8-bit rectangular rank fast path against a brute-force rank of each cut neighbourhood, on
// random images, windows, kernel sizes and percentiles, with every instruction set forced in turn.
#include <algorithm>
#include <array>
#include <cmath>
#include <thread>

#include "rank/rect_fast.hpp"
#include "support/rank_random.hpp"
#include "support/test_support.hpp"

using kiptest::FeatureGuard;
using kiptest::Image;
using kiptest::rect;

namespace {

// Feature masks that force each instruction set in turn, widest first.
constexpr uint32_t kForced[] = {0xFFFFFFFFu, ~ksys_cpuFeatureAvx2};

// The rank rule over the kernel-size rectangle around each destination pixel, cut at the
// destination's columns and at the source's rows.
std::vector<uint16_t> bruteRank(const kimg_window& source, const kimg_window& destination, double p, int32_t kw,
                                int32_t kh) {
    const kstd_rect32 d = destination.rect;
    const kstd_rect32 s = source.rect;
    std::vector<uint16_t> out;
    std::vector<uint8_t> values;
    for (int32_t y = d.y; y < d.y + d.height; ++y)
        for (int32_t x = d.x; x < d.x + d.width; ++x) {
            values.clear();
            for (int32_t v = std::max(s.y, y - kh / 2); v <= std::min(s.y + s.height - 1, y + kh / 2); ++v)
                for (int32_t u = std::max(d.x, x - kw / 2); u <= std::min(d.x + d.width - 1, x + kw / 2); ++u)
                    values.push_back(*static_cast<uint8_t*>(kiptest::windowPixel(source, u, v)));
            const int32_t n = int32_t(values.size());
            // Outside [0, 1] the general engine's search runs to 0 (k = 0 for NaN) or to 255.
            int32_t k = std::isnan(p) ? 0 : p * n <= 0.0 ? 1 : int32_t(std::min(std::ceil(p * n), 1e9));
            if (k > n) k -= 1;
            if (k < 1 || k > n) {
                out.push_back(k < 1 ? 0 : 255);
                continue;
            }
            std::nth_element(values.begin(), values.begin() + (k - 1), values.end());
            out.push_back(values[size_t(k - 1)]);
        }
    return out;
}

int32_t oddIn(std::mt19937& rng, int32_t lo, int32_t hi) { return (lo + int32_t(rng() % uint32_t(hi - lo + 1))) | 1; }

// Percentiles worth trying for n pixels: the extremes, the median, exact multiples of 1/n, any.
double percentileFor(std::mt19937& rng, int32_t n) {
    switch (rng() % 6) {
        case 0:
            return 0.0;
        case 1:
            return 1.0;
        case 2:
            return 0.5;
        case 3:
            return double(rng() % uint32_t(n + 1)) / n;
        case 4:
            // What window entries pass on unchecked.
            return std::array<double, 4>{-0.25, 1.5, 1e300, std::nan("")}[rng() % 4];
        default:
            return std::uniform_real_distribution<double>(0.0, 1.0)(rng);
    }
}

// A destination of width x height at a random client position inside a larger random image, and
// a source with the same columns reaching `above` and `below` rows past it, inside another.
struct Case {
    Image sourceImage;
    Image destinationImage;
    kimg_window source;
    kimg_window destination;
    std::vector<uint16_t> before;  // whole destination image

    Case(std::mt19937& rng, int32_t width, int32_t height, int32_t above, int32_t below, int mode)
        : sourceImage(1, rect(-3 - int32_t(rng() % 5), -70, width + 13, height + 150)),
          destinationImage(1, rect(-2 - int32_t(rng() % 3), -2 - int32_t(rng() % 3), width + 9, height + 7)) {
        const int32_t x = int32_t(rng() % 3), y = int32_t(rng() % 4);
        sourceImage.fillRandom(rng);
        if (mode > 0) {
            // Few grey values (long runs and equal pixels) or a smooth ramp.
            std::vector<uint16_t> v = sourceImage.values();
            for (size_t i = 0; i < v.size(); ++i)
                v[i] = mode == 1 ? uint16_t(v[i] % 3 * 100) : uint16_t((i % 97 + i / 211) % 256);
            sourceImage.setValues(v);
        }
        destinationImage.fillRandom(rng);
        source = kiptest::restrict(sourceImage.window(), rect(x, y - above, width, height + above + below));
        destination = kiptest::restrict(destinationImage.window(), rect(x, y, width, height));
        before = destinationImage.values();
    }
    bool untouched() const { return destinationImage.values() == before; }
};

TEST(RankFast, MatchesBruteForceOnRandomWindowsForEveryInstructionSet) {
    FeatureGuard guard;
    std::mt19937 rng(10);
    int ran = 0;
    for (int iteration = 0; iteration < 260; ++iteration) {
        const bool large = rng() % 4 == 0;
        const int32_t width = 1 + int32_t(rng() % (large ? 150 : 40));
        const int32_t height = 1 + int32_t(rng() % (large ? 40 : 30));
        // Kernels up to 63 x 63, some wider or taller than the image.
        const int32_t kw = oddIn(rng, 1, rng() % 3 == 0 ? 63 : 17);
        const int32_t kh = oddIn(rng, 1, rng() % 3 == 0 ? 63 : 17);
        // Sources that reach past the destination rows as the median's bands do.
        const int32_t above = rng() % 2 ? int32_t(rng() % uint32_t(kh / 2 + 1)) : 0;
        const int32_t below = rng() % 2 ? int32_t(rng() % uint32_t(kh / 2 + 2)) : 0;
        Case c(rng, width, height, above, below, int(rng() % 3));
        const double p = percentileFor(rng, kw * kh);
        const kstd_pair32 size{kw, kh};
        const std::vector<uint16_t> expected = bruteRank(c.source, c.destination, p, kw, kh);
        for (uint32_t mask : kForced) {
            ksys_cpuinfo_setFeatureMask(mask);
            kiptest::Image& dst = c.destinationImage;
            dst.setValues(c.before);
            const kip_status s = kip_filterRankRectFast8_(&c.source, p, &size, &c.destination);
            SCOPED_TRACE(testing::Message() << width << "x" << height << " kernel " << kw << "x" << kh << " p " << p
                                            << " rows +" << above << "/+" << below << " mask " << std::hex << mask);
            if (kw * kh < 4) {
                EXPECT_EQ(s, kip_errNotAvailable);
                EXPECT_TRUE(c.untouched());
                continue;
            }
            ASSERT_EQ(s, 0);
            ASSERT_EQ(kiptest::values(c.destination), expected);
            // Nothing outside the window is written.
            Image copy(1, c.destinationImage.window().rect);
            copy.setValues(c.before);
            const kimg_window inCopy = kiptest::restrict(copy.window(), c.destination.rect);
            for (int32_t y = 0, i = 0; y < height; ++y)
                for (int32_t x = 0; x < width; ++x, ++i)
                    *static_cast<uint8_t*>(kiptest::windowPixel(inCopy, inCopy.rect.x + x, inCopy.rect.y + y)) =
                        uint8_t(expected[size_t(i)]);
            ASSERT_EQ(dst.values(), copy.values());
            ++ran;
        }
    }
    EXPECT_GT(ran, 400);
}

// Kernel widths on both sides of the strip change, kernels at the counter limit, and percentiles
// that are exact fractions of the interior count.
TEST(RankFast, StripWidthsAndLargestKernels) {
    FeatureGuard guard;
    std::mt19937 rng(11);
    struct Shape {
        int32_t width, height, kw, kh;
    } shapes[] = {{130, 9, 47, 5},    {130, 9, 49, 5}, {100, 7, 63, 3}, {70, 6, 255, 257},
                  {300, 5, 257, 255}, {97, 3, 31, 1},  {5, 40, 1, 31},  {2, 2, 255, 255}};
    for (const Shape& sh : shapes)
        for (double p : {0.5, 0.25, 3.0 / double(sh.kw * sh.kh), 1.0}) {
            Case c(rng, sh.width, sh.height, 0, 0, 0);
            const kstd_pair32 size{sh.kw, sh.kh};
            const std::vector<uint16_t> expected = bruteRank(c.source, c.destination, p, sh.kw, sh.kh);
            for (uint32_t mask : kForced) {
                ksys_cpuinfo_setFeatureMask(mask);
                c.destinationImage.setValues(c.before);
                ASSERT_EQ(kip_filterRankRectFast8_(&c.source, p, &size, &c.destination), 0);
                ASSERT_EQ(kiptest::values(c.destination), expected) << sh.kw << "x" << sh.kh << " p " << p;
            }
        }
}

// What the fast path leaves to the general engine: the destination stays as it was.
TEST(RankFast, DeclinesWhatTheGeneralEngineDecides) {
    FeatureGuard guard;
    std::mt19937 rng(12);
    struct Declined {
        int32_t kw, kh, above, below, height;  // source rows around a 20 x height destination
        uint32_t features;
    } cases[] = {
        {1, 1, 0, 0, 8, 0xFFFFFFFFu},  {1, 3, 0, 0, 8, 0xFFFFFFFFu},
        {3, 1, 0, 0, 8, 0xFFFFFFFFu},  {257, 257, 0, 0, 8, 0xFFFFFFFFu},
        {4, 3, 0, 0, 8, 0xFFFFFFFFu},  {3, 0, 0, 0, 8, 0xFFFFFFFFu},
        {5, 5, 0, 0, 8, 0u},           {5, 5, 3, 0, 8, 0xFFFFFFFFu},  // rows above what row 0 reaches
        {5, 5, 0, -1, 8, 0xFFFFFFFFu},                                // the source ends above the last destination row
    };
    for (const Declined& d : cases) {
        ksys_cpuinfo_setFeatureMask(d.features);
        Case c(rng, 20, d.height, d.above, 0, 0);
        if (d.below < 0) c.source.rect.height += d.below;
        const kstd_pair32 size{d.kw, d.kh};
        EXPECT_EQ(kip_filterRankRectFast8_(&c.source, 0.5, &size, &c.destination), kip_errNotAvailable)
            << d.kw << "x" << d.kh;
        EXPECT_TRUE(c.untouched());
    }
    // A destination over its own source.
    ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
    Image img(1, rect(0, 0, 30, 20));
    img.fillRandom(rng);
    const std::vector<uint16_t> before = img.values();
    const kimg_window w = img.window();
    const kstd_pair32 size{5, 5};
    EXPECT_EQ(kip_filterRankRectFast8_(&w, 0.5, &size, &w), kip_errNotAvailable);
    EXPECT_EQ(img.values(), before);
    EXPECT_EQ(kip_filterRankRectFast16_(&w, 0.5, &size, &w), kip_errNotAvailable);
}

TEST(RankFast, RequiredPointersAndMismatchedWindowsAssert) {
    Image a(1, rect(0, 0, 10, 10)), b(1, rect(0, 0, 11, 10));
    const kimg_window wa = a.window(), wb = b.window();
    const kstd_pair32 size{3, 3};
    kiptest::AssertCounter asserts;
    EXPECT_NE(kip_filterRankRectFast8_(nullptr, 0.5, &size, &wa), 0);
    EXPECT_NE(kip_filterRankRectFast8_(&wa, 0.5, nullptr, &wa), 0);
    EXPECT_NE(kip_filterRankRectFast8_(&wa, 0.5, &size, nullptr), 0);
    EXPECT_NE(kip_filterRankRectFast8_(&wa, 0.5, &size, &wb), 0);  // widths differ
    EXPECT_EQ(asserts.count(), 4);
}

// The fast path keeps its scratch in the frame: it allocates nothing.
TEST(RankFast, AllocatesNothing) {
    std::mt19937 rng(13);
    Case c(rng, 70, 20, 0, 0, 0);
    const kstd_pair32 size{7, 5};
    EXPECT_EQ(kiptest::faultSweep([&] { return kip_filterRankRectFast8_(&c.source, 0.3, &size, &c.destination); }), 0);
}

// Bands of one image filtered at once from several threads, each with its source reaching half
// the kernel height past the band as the median's jobs do: the whole image's ranks.
TEST(RankFast, ConcurrentBandsMatchTheWholeImage) {
    std::mt19937 rng(14);
    const int32_t width = 150, height = 96, kw = 9, kh = 13, bands = 4;
    Image source(1, rect(0, 0, width, height)), destination(1, rect(0, 0, width, height));
    source.fillRandom(rng);
    const kstd_pair32 size{kw, kh};
    const kimg_window s = source.window(), d = destination.window();
    const std::vector<uint16_t> expected = bruteRank(s, d, 0.7, kw, kh);
    std::vector<std::thread> threads;
    std::vector<kip_status> status(bands, -1);
    for (int32_t b = 0; b < bands; ++b)
        threads.emplace_back([&, b] {
            const int32_t y0 = b * height / bands, y1 = (b + 1) * height / bands;
            const int32_t top = std::max(0, y0 - kh / 2), bottom = std::min(height, y1 + kh / 2);
            const kimg_window bs = kiptest::restrict(s, rect(0, top, width, bottom - top));
            const kimg_window bd = kiptest::restrict(d, rect(0, y0, width, y1 - y0));
            status[size_t(b)] = kip_filterRankRectFast8_(&bs, 0.7, &size, &bd);
        });
    for (std::thread& t : threads) t.join();
    for (kip_status st : status) EXPECT_EQ(st, 0);
    EXPECT_EQ(destination.values(), expected);
}

// One row update on random histograms: the strip's counters afterwards are those of adding and
// removing each pixel one lane at a time, whatever set serves the width.
TEST(RankFast, SweepMatchesLaneByLaneUpdate) {
    FeatureGuard guard;
    std::mt19937 rng(15);
    for (int iteration = 0; iteration < 400; ++iteration) {
        const int32_t vectors = 2 + int32_t(rng() % 7);  // 16 .. 64 columns
        const int32_t S = 8 * vectors;
        const int32_t kw = oddIn(rng, 1, rng() % 2 ? 15 : 131);
        const int32_t run = int32_t(rng() % uint32_t(kw));
        const int32_t count = int32_t(rng() % uint32_t(S + kw - run));
        const uint32_t remove = rng() % 2, add = remove ? rng() % 2 : 1;
        std::vector<uint8_t> leaving(size_t(count) + 1), entering(size_t(count) + 1);
        for (auto& v : leaving) v = uint8_t(rng() % (rng() % 2 ? 256 : 4));
        for (auto& v : entering) v = uint8_t(rng() % (rng() % 2 ? 256 : 4));
        std::vector<uint16_t> membership(size_t(3 * S), 0);
        for (int32_t i = S; i < S + std::min(kw, S); ++i) membership[size_t(i)] = 0xFFFF;
        // Counters start high enough that every removal is covered.
        std::vector<uint16_t> hist(static_cast<size_t>(256 * S)), counts(static_cast<size_t>(S));
        std::vector<int16_t> levels(static_cast<size_t>(S));
        for (auto& h : hist) h = uint16_t(300 + rng() % 100);
        for (auto& l : levels) l = int16_t(rng() % 256);
        for (auto& n : counts) n = uint16_t(30000 + rng() % 1000);
        std::vector<uint16_t> wantHist = hist, wantCounts = counts;
        for (int32_t t = 1; t <= count; ++t)
            for (int32_t j = std::max(0, run + t - kw); j <= std::min(S - 1, run + t - 1); ++j) {
                const uint8_t a = leaving[size_t(t - 1)], b = entering[size_t(t - 1)];
                if (remove) {
                    --wantHist[size_t(a * S + j)];
                    if (levels[size_t(j)] >= a) --wantCounts[size_t(j)];
                }
                if (add) {
                    ++wantHist[size_t(b * S + j)];
                    if (levels[size_t(j)] >= b) ++wantCounts[size_t(j)];
                }
            }
        for (uint32_t mask : kForced) {
            ksys_cpuinfo_setFeatureMask(mask);
            std::vector<uint16_t> h = hist, n = counts;
            const kip_status s =
                kip_filterRankRectSweep8_(count, leaving.data(), entering.data(), vectors, run, kw, remove, add,
                                          membership.data(), h.data(), levels.data(), n.data());
            if (s == kip_errNotAvailable) continue;  // no set offered serves this width
            ASSERT_EQ(s, 0);
            ASSERT_EQ(h, wantHist) << "S " << S << " kw " << kw << " run " << run << " count " << count;
            ASSERT_EQ(n, wantCounts);
        }
    }
}

}  // namespace
