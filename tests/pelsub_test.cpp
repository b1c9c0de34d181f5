// Local background subtraction: the entries against a brute-force reference, the optimised mean
// against the table engine, the rounding and subtraction rules, refusals and fault sweeps.
#include "kip/pelsub.hpp"

#include <cstring>
#include <string>

#include "pelsub/pelsub_internal.hpp"
#include "reference/pelsub_reference.hpp"
#include "support/test_support.hpp"

using kiptest::rect;

namespace {

struct Api8 {
    static constexpr uint32_t kDepth = 1;
    static constexpr uint16_t kMax = 255;
    static constexpr auto filter = &kip_pelSubLocalMean8;
    static constexpr auto filterWindow = &kip_pelSubLocalMeanWindow8;
    static constexpr auto tables = &kip_pelSubLocalMean8_;
    static constexpr auto rows = &kip_pelSubLocalMeanRows8_;
    static constexpr auto subtract = &kip_pelSubLocalSubtract8_;
    static constexpr auto median = &kip_pelSubLocalMedian8;
    static constexpr auto medianWindow = &kip_pelSubLocalMedianWindow8;
    static constexpr auto medianFilter = &kip_filterMedianWindow8;
};
struct Api16 {
    static constexpr uint32_t kDepth = 2;
    static constexpr uint16_t kMax = 65535;
    static constexpr auto filter = &kip_pelSubLocalMean16;
    static constexpr auto filterWindow = &kip_pelSubLocalMeanWindow16;
    static constexpr auto tables = &kip_pelSubLocalMean16_;
    static constexpr auto rows = &kip_pelSubLocalMeanRows16_;
    static constexpr auto subtract = &kip_pelSubLocalSubtract16_;
    static constexpr auto median = &kip_pelSubLocalMedian16;
    static constexpr auto medianWindow = &kip_pelSubLocalMedianWindow16;
    static constexpr auto medianFilter = &kip_filterMedianWindow16;
};

using Img = kiptest::Image;

int32_t inhibitHook(const uint16_t*) { return 1; }

// Restores the hook and the processor features whatever a test did.
struct PathGuard {
    ~PathGuard() {
        kprt_isOptimizationInhibitedFP = nullptr;
        ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
    }
};

// 0: as detected; 1: AVX2 hidden; 2: no SIMD; 3: hook inhibits the optimised mean.
void choosePath(int path) {
    ksys_cpuinfo_setFeatureMask(path == 1 ? ~ksys_cpuFeatureAvx2 : path == 2 ? 0u : 0xFFFFFFFFu);
    kprt_isOptimizationInhibitedFP = path == 3 ? &inhibitHook : nullptr;
}

// Pixels in one of several styles: any value, near the top of the range, few distinct values.
template <class A>
std::vector<uint16_t> randomPixels(std::mt19937& rng, size_t n) {
    const int style = int(rng() % 3);
    std::vector<uint16_t> v(n);
    for (uint16_t& p : v) {
        const uint32_t r = rng();
        p = style == 0 ? uint16_t(r % (A::kMax + 1u)) : style == 1 ? uint16_t(A::kMax - r % 4) : uint16_t(r % 3 * 7);
    }
    return v;
}

std::vector<uint8_t> randomMask(std::mt19937& rng, size_t n) {
    const uint32_t density = rng() % 5;  // 0: all off ... 4: all on
    std::vector<uint8_t> m(n);
    for (uint8_t& b : m) b = rng() % 4 < density ? uint8_t(1 + rng() % 255) : 0;
    return m;
}

int32_t randomBoxSide(std::mt19937& rng) {
    return rng() % 4 == 0 ? 1 + 2 * int32_t(rng() % 60) : 1 + 2 * int32_t(rng() % 8);
}

kstd_rect32 randomRect(std::mt19937& rng, int32_t x, int32_t y, int32_t maxSize) {
    return rect(x + int32_t(rng() % 21) - 10, y + int32_t(rng() % 21) - 10, 1 + int32_t(rng() % maxSize),
                1 + int32_t(rng() % maxSize));
}

kstd_rect32 intersection(kstd_rect32 a, const kstd_rect32& b) {
    kstd_rect32_intersect(&a, &b);
    return a;
}

// The reference case over r, cut from the source (and mask) images.
kipref::PelsubCase caseOver(const Img& src, const Img* mask, const kstd_rect32& r, int32_t bw, int32_t bh) {
    kipref::PelsubCase c;
    c.width = r.width;
    c.height = r.height;
    c.sixteen = kiptest::depthOf(src.img) == 2;
    c.boxWidth = bw;
    c.boxHeight = bh;
    for (int32_t y = r.y; y < r.y + r.height; ++y)
        for (int32_t x = r.x; x < r.x + r.width; ++x) {
            c.pixels.push_back(c.sixteen ? src.p16(x, y) : src.p8(x, y));
            if (mask) c.mask.push_back(mask->p8(x, y));
        }
    return c;
}

// One random call of an entry, the mean's or the median's, checked pixel by pixel: the working
// rectangle holds the reference values and every other destination pixel is untouched. The
// median's reference is the median filter followed by the subtraction (unmasked, a brute-force
// median); its large images are cut into bands on the job threads.
template <class A>
void randomEntryCase(std::mt19937& rng, bool median, int path, uint32_t threads) {
    const bool large = median && rng() % 16 == 0;
    const auto side = [&] {
        return median ? 1 + 2 * int32_t(rng() % (large ? 4 : rng() % 4 == 0 ? 20 : 6)) : randomBoxSide(rng);
    };
    const int32_t bw = side(), bh = side();
    const kstd_rect32 sr = large ? rect(-3, 5, 400, 360) : randomRect(rng, 0, 0, 45);
    Img src(A::kDepth, sr, int32_t(rng() % 3));
    src.setValues(randomPixels<A>(rng, size_t(sr.width * sr.height)));
    const kimg_xform xform{{2, 0, 5, 0, 3, 7}};
    kimg_image_setXform(&src.img, &xform);
    Img mask;
    const bool masked = rng() % (median ? 3 : 2) == 0;
    kstd_rect32 r = sr;
    if (masked) {
        mask.bind(1, rng() % 3 ? sr : randomRect(rng, sr.x, sr.y, 45), int32_t(rng() % 2));
        const kstd_rect32 mr = kiptest::windowOf(mask.img);
        const std::vector<uint8_t> m = randomMask(rng, size_t(mr.width) * size_t(mr.height));
        mask.setValues(std::vector<uint16_t>(m.begin(), m.end()));
        r = intersection(r, mr);
    }
    const bool windowEntry = rng() % 2;
    const bool unbound = !windowEntry && rng() % 4 == 0;
    Img dst;
    if (!unbound) {
        dst.bind(A::kDepth, rng() % 3 ? randomRect(rng, sr.x, sr.y, 50) : sr, int32_t(rng() % 3));
        dst.fillRandom(rng);
        r = intersection(r, dst.window().rect);
    }
    const std::vector<uint16_t> before = dst.values();
    const kip_pelSubLocalParams params{bw, bh};

    ksys_jobSetThreadCount(threads);
    choosePath(path);
    kip_status s;
    if (windowEntry) {
        const kimg_window sw = src.window(), mw = mask.window(), dw = dst.window();
        s = (median ? A::medianWindow : A::filterWindow)(&sw, masked ? &mw : nullptr, &params, &dw);
    } else {
        s = (median ? A::median : A::filter)(&src.img, masked ? &mask.img : nullptr, &params, &dst.img);
    }
    choosePath(0);

    const std::string where = std::string(median ? "median" : "mean") + " box " + std::to_string(bw) + "x" +
                              std::to_string(bh) + " path " + std::to_string(path) + " threads " +
                              std::to_string(threads) + (masked ? " masked" : "") +
                              (windowEntry ? " window" : " image");
    ASSERT_EQ(s, 0) << where;
    if (r.width <= 0 || r.height <= 0) {
        ksys_jobSetThreadCount(0);
        EXPECT_EQ(dst.values(), before) << where;
        EXPECT_EQ(dst.img.store == nullptr, unbound) << where;
        return;
    }
    const kipref::PelsubCase c = caseOver(src, masked ? &mask : nullptr, r, bw, bh);
    std::vector<uint16_t> background;
    if (!median) {
        background = kipref::referenceLocalMean(c);
    } else if (masked) {
        Img filtered(A::kDepth, r);
        kip_filterMaskKernel kernel;
        kip_filterMedianParams mp;
        ASSERT_EQ(kip_filterMaskKernel_constructSize(&kernel, &params), 0);
        kip_filterMedianParams_init(&mp);
        const kimg_window sw = kiptest::restrict(src.window(), r), mw = kiptest::restrict(mask.window(), r),
                          fw = filtered.window();
        EXPECT_EQ(A::medianFilter(&sw, &mw, &mp, &kernel, &fw), 0);
        kip_filterMaskKernel_destruct(&kernel);
        background = filtered.values();
    } else {
        background = kipref::referenceLocalMedian(c);
    }
    ksys_jobSetThreadCount(0);
    const std::vector<uint16_t> expected = kipref::referenceSubtract(c, background);
    if (unbound) {
        EXPECT_EQ(dst.window().rect, r) << where;
        EXPECT_EQ(kiptest::depthOf(dst.img), A::kDepth) << where;
        EXPECT_EQ(std::memcmp(&dst.img.xform, &xform, sizeof xform), 0) << where;
    }
    const kstd_rect32 d = dst.window().rect;
    const std::vector<uint16_t> after = dst.values();
    size_t i = 0, mismatches = 0;
    for (int32_t y = d.y; y < d.y + d.height; ++y)
        for (int32_t x = d.x; x < d.x + d.width; ++x, ++i) {
            const bool inR = x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
            const uint32_t want = inR ? expected[size_t((y - r.y) * r.width + (x - r.x))] : before[i];
            if (after[i] != want && ++mismatches <= 3)
                ADD_FAILURE() << where << " at (" << x << ", " << y << "): " << after[i] << " != " << want;
        }
}

// Means on every path; medians (one case in eleven) with the hook on and off; one and several
// job threads.
TEST(PelsubRandom, EntriesMatchReferenceOnEveryPath) {
    PathGuard guard;
    std::mt19937 rng(20240613);
    for (int iter = 0; iter < 1760; ++iter) {
        const bool median = iter % 11 == 0;
        const int path = median ? (iter / 11) % 4 < 2 ? 0 : 3 : (iter / 2) % 4;
        const uint32_t threads = iter % 3 == 0 ? 1u : 4u;
        if (iter % 2)
            randomEntryCase<Api8>(rng, median, path, threads);
        else
            randomEntryCase<Api16>(rng, median, path, threads);
        if (HasFailure()) return;
    }
}

// The optimised engine against the table engine on wider rows (vector blocks, odd tails,
// strides, boxes wider than the window), as means and as subtractions, on each instruction set;
// large 16-bit boxes (totals beyond 31 bits)
// take its 64-bit route.
template <class A>
void rowsMatchTables(std::mt19937& rng, int path) {
    const bool large = A::kDepth == 2 && rng() % 8 == 0;
    const int32_t width = large ? 182 + int32_t(rng() % 40) : 1 + int32_t(rng() % 300);
    const int32_t height = large ? 182 + int32_t(rng() % 40) : 1 + int32_t(rng() % 40);
    const int32_t bw = large ? 255 : randomBoxSide(rng), bh = large ? 255 : randomBoxSide(rng);
    Img src(A::kDepth, rect(3, -2, width, height), int32_t(rng() % 3));
    src.setValues(randomPixels<A>(rng, size_t(width * height)));
    Img mask(1, rect(3, -2, width, height), int32_t(rng() % 2));
    const bool masked = rng() % 2;
    if (masked) {
        const std::vector<uint8_t> m = randomMask(rng, size_t(width * height));
        mask.setValues(std::vector<uint16_t>(m.begin(), m.end()));
    }
    Img fromTables(A::kDepth, rect(3, -2, width, height), 1), fromRows(A::kDepth, rect(3, -2, width, height), 2),
        subtracted(A::kDepth, rect(3, -2, width, height));
    const kimg_window sw = src.window(), mw = mask.window(), tw = fromTables.window(), rw = fromRows.window(),
                      bw2 = subtracted.window();
    const kimg_window* m = masked ? &mw : nullptr;
    const kip_pelSubLocalParams params{bw, bh};
    const std::string where = std::to_string(width) + "x" + std::to_string(height) + " box " + std::to_string(bw) +
                              "x" + std::to_string(bh) + (masked ? " masked" : "") + " path " + std::to_string(path);

    choosePath(path);
    ASSERT_EQ(A::rows(&sw, m, &params, &rw, 0), 0) << where;
    ASSERT_EQ(A::rows(&sw, m, &params, &bw2, 1), 0) << where;
    ASSERT_EQ(A::tables(&sw, m, &params, &tw), 0) << where;
    EXPECT_EQ(fromRows.values(), fromTables.values()) << where;
    ASSERT_EQ(A::subtract(&sw, &tw, &tw), 0) << where;
    choosePath(0);
    EXPECT_EQ(subtracted.values(), fromTables.values()) << where;
}

TEST(PelsubRows, MatchTablesOnEveryInstructionSet) {
    PathGuard guard;
    std::mt19937 rng(31);
    for (int iter = 0; iter < 600; ++iter) {
        if (iter % 2)
            rowsMatchTables<Api8>(rng, (iter / 2) % 3);
        else
            rowsMatchTables<Api16>(rng, (iter / 2) % 3);
        if (HasFailure()) return;
    }
}

// Single precision, as the reference has it: 1001 16-bit pixels summing to 60000 x 1001 + 500 give
// 60001 where exact rounding gives 60000. Random pixels never land on such a tie.
TEST(PelsubMean, RoundsTheSinglePrecisionMean) {
    PathGuard guard;
    std::vector<uint16_t> row(1001, 60000);
    for (int i = 0; i < 500; ++i) row[size_t(i * 2)] = 60001;
    Img src(2, rect(0, 0, 1001, 1));
    src.setValues(row);
    const kip_pelSubLocalParams p{1001, 1};
    for (int path : {0, 3}) {
        Img out(2, rect(0, 0, 1001, 1));
        const kimg_window sw = src.window(), ow = out.window();
        choosePath(path);
        EXPECT_EQ(path == 3 ? kip_pelSubLocalMean16_(&sw, nullptr, &p, &ow)
                            : kip_pelSubLocalMeanRows16_(&sw, nullptr, &p, &ow, 0),
                  0);
        choosePath(0);
        EXPECT_EQ(out.values()[500], 60001) << "path " << path;
    }
}

TEST(PelsubSubtract, ClampsAroundTheOffsetOnEveryInstructionSet) {
    PathGuard guard;
    std::mt19937 rng(41);
    for (int path : {0, 1, 2}) {
        for (uint32_t depth : {1u, 2u}) {
            const int32_t width = 1 + int32_t(rng() % 100);
            Img s(depth, rect(0, 0, width, 3), 1), b(depth, rect(0, 0, width, 3), 2), out(depth, rect(0, 0, width, 3));
            s.fillRandom(rng);
            b.fillRandom(rng);
            const uint16_t top = depth == 1 ? 255 : 65535;
            // Edge differences: equal, 10 above, 127/128 away, and beyond.
            const int32_t diffs[] = {0, 10, 127, -128, 128, -127, depth == 1 ? 200 : 40000};
            std::vector<uint16_t> sv = s.values(), bv = b.values();
            for (size_t x = 0; x < std::min(size_t(width), size_t(7)); ++x) {
                const int32_t base = depth == 1 ? 128 : 32768;
                sv[x] = uint16_t(std::clamp(base + diffs[x], 0, int32_t{top}));
                bv[x] = uint16_t(base);
            }
            s.setValues(sv);
            b.setValues(bv);
            kipref::PelsubCase c;
            c.sixteen = depth == 2;
            c.pixels = s.values();
            const std::vector<uint16_t> expected = kipref::referenceSubtract(c, b.values());
            const kimg_window sw = s.window(), bw = b.window(), ow = out.window();
            choosePath(path);
            auto step = depth == 1 ? kip_pelSubLocalSubtract8_ : kip_pelSubLocalSubtract16_;
            ASSERT_EQ(step(&sw, &bw, &ow), 0);
            EXPECT_EQ(out.values(), expected) << "path " << path << " depth " << depth;
            ASSERT_EQ(step(&sw, &bw, &bw), 0);  // in place over the background
            choosePath(0);
            EXPECT_EQ(b.values(), expected) << "path " << path << " depth " << depth;
        }
    }
}

TEST(PelsubParams, CopyResetValidate) {
    kip_pelSubLocalParams a{7, 9}, b{1, 1}, c{1, 1};
    EXPECT_TRUE(kip_pelSubLocalParams_constructCopy(&b, &a) == 0 && b.x == 7 && b.y == 9);
    ASSERT_TRUE(kip_pelSubLocalParams_reset(&b) == 0 && kip_pelSubLocalParams_construct(&c) == 0);
    EXPECT_TRUE(b.x == 3 && b.y == 3 && c.x == 3 && c.y == 3);
    for (int32_t w : {-3, 0, 1, 2, 4, 5, 101}) {
        const kip_pelSubLocalParams p{w, 3}, q{3, w};
        const kip_status want = w >= 1 && w % 2 == 1 ? 0 : kip_errKernelSizeNotOdd;
        EXPECT_EQ(kip_pelSubLocalParams_validate(&p), want) << w;
        EXPECT_EQ(kip_pelSubLocalParams_validate(&q), want) << w;
    }
}

template <class A>
class PelsubEntry : public ::testing::Test {};
using Apis = ::testing::Types<Api8, Api16>;
TYPED_TEST_SUITE(PelsubEntry, Apis);

// Refusals: the status the contract names, and nothing written (an unbound destination stays so).
TYPED_TEST(PelsubEntry, RefusesBadInputWritingNothing) {
    using A = TypeParam;
    std::mt19937 rng(9);
    Img src(A::kDepth, rect(0, 0, 12, 9)), dst(A::kDepth, rect(0, 0, 12, 9)), other(3 - A::kDepth, rect(0, 0, 12, 9));
    Img mask(1, rect(0, 0, 12, 9)), far(A::kDepth, rect(100, 100, 5, 5)), farMask(1, rect(-50, 0, 5, 5));
    src.fillRandom(rng);
    dst.fillRandom(rng);
    const std::vector<uint16_t> before = dst.values();
    const kip_pelSubLocalParams ok{3, 5};
    const kimg_window sw = src.window(), dw = dst.window(), ow = other.window(), mw = mask.window(), fw = far.window(),
                      nullWindow{};
    kiptest::Image unbound, fresh;
    const kimg_window shifted = kiptest::restrict(src.window(), rect(4, 0, 8, 9));
    // The mean's entries, then the median's.
    for (const auto& [image, window] : {std::pair(A::filter, A::filterWindow), std::pair(A::median, A::medianWindow)}) {
        for (kip_pelSubLocalParams bad : {kip_pelSubLocalParams{4, 3}, {3, 0}, {-3, 3}}) {
            EXPECT_EQ(image(&src.img, nullptr, &bad, &fresh.img), kip_errKernelSizeNotOdd);
            EXPECT_EQ(window(&sw, nullptr, &bad, &dw), kip_errKernelSizeNotOdd);
        }
        const struct {
            kip_status got, want;
        } refusals[] = {
            {image(&unbound.img, nullptr, &ok, &fresh.img), kip_errImageUnbound},
            {window(&nullWindow, nullptr, &ok, &dw), kip_errImageUnbound},
            {window(&sw, nullptr, &ok, &nullWindow), kip_errImageUnbound},
            {window(&ow, nullptr, &ok, &dw), kimg_errDepthMismatch},
            {image(&other.img, nullptr, &ok, &fresh.img), kimg_errDepthMismatch},  // new pixels released
            // Shared memory with the source or the mask, even outside the common rectangle.
            {window(&sw, nullptr, &ok, &sw), kip_errMemoryOverlap},
            {window(&shifted, nullptr, &ok, &sw), kip_errMemoryOverlap},
            {window(&sw, &mw, &ok, &mw), A::kDepth == 1 ? kip_errMemoryOverlap : kimg_errDepthMismatch},
            {image(&src.img, nullptr, &ok, &src.img), kip_errMemoryOverlap},
            // No common area: success, nothing written, nothing allocated.
            {window(&sw, nullptr, &ok, &fw), 0},
            {image(&src.img, &farMask.img, &ok, &fresh.img), 0},
            {image(&src.img, nullptr, &ok, &far.img), 0},
        };
        for (const auto& r : refusals) EXPECT_EQ(r.got, r.want) << "refusal " << &r - refusals;
        EXPECT_EQ(dst.values(), before);
        EXPECT_EQ(fresh.img.store, nullptr);
        EXPECT_EQ(window(&sw, &sw, &ok, &dw), A::kDepth == 1 ? 0 : kimg_errDepthMismatch);  // the source as mask
        dst.setValues(before);
    }

    kiptest::AssertCounter asserts;
    EXPECT_EQ(A::filter(nullptr, nullptr, &ok, &dst.img), kstd_errInvalidArgument);
    EXPECT_EQ(A::filter(&src.img, nullptr, nullptr, &dst.img), kstd_errInvalidArgument);
    EXPECT_EQ(A::filterWindow(&sw, nullptr, &ok, nullptr), kstd_errInvalidArgument);
    EXPECT_EQ(kip_pelSubLocalParams_validate(nullptr), kstd_errInvalidArgument);
    EXPECT_EQ(asserts.count(), 4);
    EXPECT_EQ(dst.values(), before);
}

// Every allocation of the entries failed in turn: the failure comes back, a bound destination
// keeps its pixels, an unbound one stays unbound, nothing leaks.
TYPED_TEST(PelsubEntry, FaultSweep) {
    using A = TypeParam;
    PathGuard guard;
    std::mt19937 rng(14);
    Img src(A::kDepth, rect(0, 0, 30, 20)), bound(A::kDepth, rect(5, 5, 30, 20)), mask(1, rect(0, 0, 30, 20));
    src.fillRandom(rng);
    bound.fillRandom(rng);
    mask.fillRandom(rng);
    const std::vector<uint16_t> boundBefore = bound.values();
    const kip_pelSubLocalParams p{5, 3};
    for (int path : {0, 3})
        for (bool masked : {false, true}) {
            const kimg_imageConst* m = masked ? &mask.img : nullptr;
            choosePath(path);
            // Into a new image: the mean, and the median whose allocations vary with the path.
            for (bool median : {false, true}) {
                Img fresh;
                const int n =
                    kiptest::faultSweep([&] { return (median ? A::median : A::filter)(&src.img, m, &p, &fresh.img); },
                                        [&](kip_status, int) { EXPECT_EQ(fresh.img.store, nullptr); }, nullptr,
                                        [&] { kimg_image_assignUnbound(&fresh.img); });
                if (median)
                    EXPECT_GT(n, 1);
                else
                    EXPECT_EQ(n, path == 3 ? 3 : 2);
            }
            const int n = kiptest::faultSweep([&] { return A::filter(&src.img, m, &p, &bound.img); },
                                              [&](kip_status, int) { EXPECT_EQ(bound.values(), boundBefore); },
                                              [&] { bound.setValues(boundBefore); });
            EXPECT_EQ(n, path == 3 ? 2 : 1);
            choosePath(0);
        }
}

// The C++ forms call the entries: same pixels, and refusals come back as kip::error.
TEST(PelsubCpp, FormsEqualTheCEntries) {
    std::mt19937 rng(15);
    Img src(2, rect(0, 0, 37, 23)), mask(1, rect(0, 0, 37, 23)), expected;
    src.fillRandom(rng);
    mask.fillRandom(rng);
    const kip_pelSubLocalParams p{9, 5};
    ASSERT_EQ(kip_pelSubLocalMean16(&src.img, &mask.img, &p, &expected.img), 0);
    kip::image<std::uint16_t> source(rect(0, 0, 37, 23)), out;
    kimg_image_assign(source.get(), &src.img);
    kip::image<const std::uint8_t> m(rect(0, 0, 37, 23));
    kimg_image_assign(m.get(), &mask.img);
    kip::subtract_local_mean(source, m, out, kip::neighbourhood{9, 5});
    uint32_t equal = 1;
    kip_pelAndRectsEqual16(out.get(), &expected.img, &equal);
    EXPECT_EQ(equal, 1u);
    try {
        kip::subtract_local_mean(source.view(), source.view(), kip::neighbourhood{9, 5});
        ADD_FAILURE() << "in place accepted";
    } catch (const kip::error& e) {
        EXPECT_EQ(e.code(), kip_errMemoryOverlap);
    }
}

}  // namespace
