// Rank filter: the entries and engines against a brute-force reference on random cases, bands
// of a larger source from several threads, shared memory, refusals and fault sweeps.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "rank/rank_internal.hpp"
#include "rank/rect_fast.hpp"
#include "reference/rank_reference.hpp"
#include "support/rank_random.hpp"
#include "support/test_support.hpp"

using kiptest::below;
using Kernel = kiptest::RankKernel;
using kiptest::randomImageMask;
using kiptest::randomKernelMask;
using kiptest::randomPercentile;
using kiptest::rect;

namespace {

// An image whose window lies inside larger storage, so rows have a stride beyond the width.
struct Img : kiptest::Image {
    Img() = default;
    Img(uint32_t depth, const kstd_rect32& r, int32_t pad = 0) { bind(depth, r, pad); }
    void bind(uint32_t depth, const kstd_rect32& r, int32_t pad) {
        const kstd_rect32 storage = rect(r.x - pad, r.y - pad, r.width + 2 * pad, r.height + 2 * pad);
        uint32_t clipped = 0;
        ASSERT_EQ(kimg_image_assignNewRect(&img, depth, &storage), 0);
        kimg_image_setWindowRect(&img, &r, &clipped);
    }
};

struct Api8 {
    static constexpr uint32_t kDepth = 1;
    static constexpr uint32_t kMax = 255;
    static constexpr auto filter = &kip_filterRank8;
    static constexpr auto window = &kip_filterRankWindow8;
    static constexpr auto postGCR = &kip_filterRankWindow8PostGCR;
    // Labels asked for plain rectangles, then for masked kernels without and with image mask.
    static constexpr std::u16string_view kAsked[] = {std::u16string_view(u"kip_filterRank8_rectangular\0", 28),
                                                     std::u16string_view(u"kip_filterRank8_masked\0", 23),
                                                     std::u16string_view(u"kip_filterRank8_masked\0", 23)};
};
struct Api16 {
    static constexpr uint32_t kDepth = 2;
    static constexpr uint32_t kMax = 65535;
    static constexpr auto filter = &kip_filterRank16;
    static constexpr auto window = &kip_filterRankWindow16;
    static constexpr auto postGCR = &kip_filterRankWindow16PostGCR;
    static constexpr std::u16string_view kAsked[] = {
        std::u16string_view(u"kip_filterRank16_rectangular\0kip_filterRank16_twoLevel\0", 55),
        std::u16string_view(u"kip_filterRank16_twoLevel\0", 26),
        std::u16string_view(u"kip_filterRank16_twoLevel\0", 26)};
};

std::u16string labelsSeen;  // each call's label then a 0
int32_t recordingHook(const uint16_t* label) {
    while (*label) labelsSeen.push_back(char16_t(*label++));
    labelsSeen.push_back(0);
    return 0;
}
int32_t inhibitHook(const uint16_t*) { return 1; }

// Restores the hook whatever a test did.
struct HookGuard {
    explicit HookGuard(bool inhibit = false) { kprt_isOptimizationInhibitedFP = inhibit ? &inhibitHook : nullptr; }
    ~HookGuard() { kprt_isOptimizationInhibitedFP = nullptr; }
};

// Source values: any value, two extremes only, a smooth ramp with noise, or (16-bit) 12-bit data.
std::vector<uint16_t> randomValues(std::mt19937& rng, size_t n, uint32_t maxValue) {
    const int style = below(rng, maxValue > 255 ? 4 : 3);
    std::vector<uint16_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t r = rng();
        switch (style) {
            case 0:
                v[i] = uint16_t(r % (maxValue + 1));
                break;
            case 1:
                v[i] = uint16_t(r % 2 ? maxValue : 0);
                break;
            case 2:
                v[i] = uint16_t((i * 7 + r % 5) % (maxValue + 1));
                break;
            default:
                v[i] = uint16_t(r % 4096);
                break;
        }
    }
    return v;
}

std::string describe(const kipref::RankCase& c, uint32_t depth) {
    return std::to_string(depth * 8) + "-bit source " + std::to_string(c.source.width) + "x" +
           std::to_string(c.source.height) + " kernel " + std::to_string(c.kw) + "x" + std::to_string(c.kh) +
           (c.kernelMask.empty() ? " rect" : " masked") + (c.imageMask.empty() ? "" : " image-masked") + " p " +
           std::to_string(c.percentile);
}

// Compares the destination with the reference: the common rectangle holds the expected values and
// every other pixel is as before.
void expectResult(const Img& dst, const std::vector<uint16_t>& before, const kipref::RankResult& expected,
                  const std::string& where) {
    const kstd_rect32 d = dst.window().rect, r = expected.rect;
    const std::vector<uint16_t> after = dst.values();
    size_t i = 0, mismatches = 0;
    for (int32_t y = d.y; y < d.y + d.height; ++y)
        for (int32_t x = d.x; x < d.x + d.width; ++x, ++i) {
            const bool inR = x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
            const uint32_t want = inR ? expected.values[size_t((y - r.y) * r.width + (x - r.x))] : before[i];
            if (after[i] != want && ++mismatches <= 3)
                ADD_FAILURE() << where << " at (" << x << ", " << y << "): " << after[i] << " != " << want;
        }
}

// One random call of an image or window entry against the reference.
template <class A>
void randomEntryCase(std::mt19937& rng, bool inhibit) {
    kipref::RankCase c;
    const bool large = below(rng, 8) == 0;
    c.source = rect(below(rng, 21) - 10, below(rng, 21) - 10, 1 + below(rng, large ? 300 : 45),
                    1 + below(rng, large ? 120 : 45));
    // Kernels up to 31 x 31, often larger than the image; smaller on large images to bound the
    // reference's cost.
    const int32_t maxHalf = large ? 3 : 15;
    c.kw = 1 + 2 * below(rng, maxHalf + 1);
    c.kh = 1 + 2 * below(rng, maxHalf + 1);
    if (below(rng, 2)) c.kernelMask = randomKernelMask(rng, c.kw, c.kh);
    int32_t members = c.kw * c.kh;
    if (!c.kernelMask.empty())
        members = int32_t(std::count_if(c.kernelMask.begin(), c.kernelMask.end(), [](uint8_t v) { return v != 0; }));
    c.percentile = randomPercentile(rng, members);
    const size_t n = size_t(c.source.width) * size_t(c.source.height);
    c.pixels = randomValues(rng, n, A::kMax);
    if (below(rng, 2)) c.imageMask = randomImageMask(rng, n);

    Img src(A::kDepth, c.source, below(rng, 3));
    src.setValues(c.pixels);
    const kimg_xform xform{{2, 0, 5, 0, 3, 7}};
    kimg_image_setXform(&src.img, &xform);
    Img mask;
    if (!c.imageMask.empty()) {
        mask.bind(1, c.source, below(rng, 3));
        mask.setValues(std::vector<uint16_t>(c.imageMask.begin(), c.imageMask.end()));
    }
    const bool windowEntry = below(rng, 2);
    const bool unbound = !windowEntry && below(rng, 4) == 0;
    Img dst;
    if (!unbound) {
        const kstd_rect32 s = c.source;
        dst.bind(A::kDepth,
                 rect(s.x + below(rng, 15) - 7, s.y + below(rng, 15) - 7, 1 + below(rng, s.width + 10),
                      1 + below(rng, s.height + 10)),
                 below(rng, 3));
        dst.fillRandom(rng);
        c.destination = dst.window().rect;
    } else {
        c.destination = c.source;
    }
    const std::vector<uint16_t> before = dst.values();
    Kernel kernel(c.kw, c.kh, c.kernelMask);
    const kip_filterRankParams params{kip_filterBorderTruncated, c.percentile};

    kip_status s;
    {
        HookGuard hook(inhibit);
        if (windowEntry) {
            const kimg_window sw = src.window(), dw = dst.window(), mw = mask.window();
            s = A::window(&sw, c.imageMask.empty() ? nullptr : &mw, &params, &kernel.k, &dw);
        } else {
            s = A::filter(&src.img, c.imageMask.empty() ? nullptr : &mask.img, &params, &kernel.k, &dst.img);
        }
    }
    const kipref::RankResult expected = kipref::referenceRank(c);
    const std::string where =
        describe(c, A::kDepth) + (windowEntry ? " window" : " image") + (inhibit ? " inhibited" : "");
    ASSERT_EQ(s, 0) << where;
    if (expected.rect.width == 0) {
        EXPECT_EQ(dst.values(), before) << where;
        return;
    }
    if (!windowEntry) {  // the destination's window is what was written, with the source's transform
        EXPECT_EQ(dst.window().rect, expected.rect) << where;
        EXPECT_EQ(std::memcmp(&dst.img.xform, &xform, sizeof xform), 0) << where;
        EXPECT_EQ(kiptest::depthOf(dst.img), A::kDepth) << where;
        EXPECT_EQ(dst.values(), expected.values) << where;
        return;
    }
    expectResult(dst, before, expected, where);
}

TEST(RankRandom, EntriesMatchReference) {
    std::mt19937 rng(20240612);
    for (int iter = 0; iter < 2000; ++iter) {
        const bool inhibit = (iter / 2) % 2;
        if (iter % 2)
            randomEntryCase<Api8>(rng, inhibit);
        else
            randomEntryCase<Api16>(rng, inhibit);
        if (HasFailure()) return;
    }
}

// The median's way in: a destination band with the source's columns and up to the kernel's
// half-height of extra source rows above and below, bands filtered from several threads at
// once. The whole equals the reference over the full source.
template <class A>
void bandsCase(std::mt19937& rng, int threads) {
    kipref::RankCase c;
    c.source = rect(below(rng, 9) - 4, below(rng, 9) - 4, 1 + below(rng, 70), 1 + below(rng, 90));
    c.kw = 1 + 2 * below(rng, 8);
    c.kh = 1 + 2 * below(rng, 8);
    if (below(rng, 2)) c.kernelMask = randomKernelMask(rng, c.kw, c.kh);
    c.percentile = randomPercentile(rng, c.kw * c.kh);
    const size_t n = size_t(c.source.width) * size_t(c.source.height);
    c.pixels = randomValues(rng, n, A::kMax);
    if (below(rng, 2)) c.imageMask = randomImageMask(rng, n);
    c.destination = c.source;
    c.cutAtSource = true;
    Img src(A::kDepth, c.source, below(rng, 3)), mask, dst(A::kDepth, c.source, below(rng, 3));
    src.setValues(c.pixels);
    if (!c.imageMask.empty()) {
        mask.bind(1, c.source, 1);
        mask.setValues(std::vector<uint16_t>(c.imageMask.begin(), c.imageMask.end()));
        dst.setValues(c.pixels);  // what the window entry's preparation does
    }
    Kernel kernel(c.kw, c.kh, c.kernelMask);
    const kip_filterRankParams params{kip_filterBorderTruncated, c.percentile};
    const bool inhibit = below(rng, 2);
    HookGuard hook(inhibit);

    std::vector<std::thread> pool;
    std::vector<kip_status> status(size_t(threads), -1);
    const kstd_rect32 s = c.source;
    for (int t = 0; t < threads; ++t) {
        const int32_t y0 = s.y + s.height * t / threads, y1 = s.y + s.height * (t + 1) / threads;
        const int32_t top = std::max(s.y, y0 - c.kh / 2), bottom = std::min(s.y + s.height, y1 + c.kh / 2);
        const kimg_window band = kiptest::restrict(dst.window(), rect(s.x, y0, s.width, y1 - y0));
        const kimg_window bandSource = kiptest::restrict(src.window(), rect(s.x, top, s.width, bottom - top));
        const kimg_window bandMask = c.imageMask.empty()
                                         ? kimg_window{}
                                         : kiptest::restrict(mask.window(), rect(s.x, top, s.width, bottom - top));
        const bool useMask = !c.imageMask.empty();
        if (y1 == y0) continue;
        pool.emplace_back([=, &status, &kernel, &params] {
            status[size_t(t)] = A::postGCR(&bandSource, useMask ? &bandMask : nullptr, &params, &kernel.k, &band);
        });
    }
    for (std::thread& t : pool) t.join();
    const std::string where = describe(c, A::kDepth) + " in " + std::to_string(threads) + " bands";
    for (int t = 0; t < threads; ++t)
        if (s.height * (t + 1) / threads > s.height * t / threads) {
            EXPECT_EQ(status[size_t(t)], 0) << where;
        }
    EXPECT_EQ(dst.values(), kipref::referenceRank(c).values) << where;
}

TEST(RankRandom, BandsFromSeveralThreadsMatchReference) {
    std::mt19937 rng(99);
    for (int iter = 0; iter < 250; ++iter) {
        const int threads = iter % 3 == 0 ? 1 : 2 + below(rng, 5);
        if (iter % 2)
            bandsCase<Api8>(rng, threads);
        else
            bandsCase<Api16>(rng, threads);
        if (HasFailure()) return;
    }
}

// Hand-checked values that pin the rank rule and the kernel's half turn.
TEST(RankRule, CornersTurnedMasksAndEvenCounts) {
    Img src(1, rect(0, 0, 5, 4));
    std::vector<uint16_t> px(20);
    for (int i = 0; i < 20; ++i) px[size_t(i)] = uint16_t((i * 37) % 101);
    src.setValues(px);
    const auto run = [&](const Kernel& k, double p, const kimg_imageConst* mask = nullptr) {
        Img out;
        const kip_filterRankParams params{1, p};
        EXPECT_EQ(kip_filterRank8(&src.img, mask, &params, &k.k, &out.img), 0);
        return out.values();
    };
    // Corner of a 3 x 3 median: 4 pixels, the 2nd smallest of 0, 37, 84, 20 is 20.
    EXPECT_EQ(run(Kernel(3, 3), 0.5)[0], 20);
    EXPECT_EQ(run(Kernel(1, 1), 0.3), px);
    // Only the top-left member: each pixel takes the one below and to the right; where that is
    // outside, the neighbourhood is empty and gives 0 (without image mask) or the source (with).
    std::vector<uint8_t> corner(9, 0);
    corner[0] = 255;
    Img all(1, rect(0, 0, 5, 4));
    kip_pelSet8(&all.img, 255);
    for (const bool masked : {false, true}) {
        const std::vector<uint16_t> r = run(Kernel(3, 3, corner), 0.5, masked ? &all.img : nullptr);
        for (int32_t y = 0; y < 4; ++y)
            for (int32_t x = 0; x < 5; ++x)
                EXPECT_EQ(r[size_t(y * 5 + x)], x < 4 && y < 3 ? px[size_t((y + 1) * 5 + x + 1)]
                                                : masked       ? px[size_t(y * 5 + x)]
                                                               : 0)
                    << x << ", " << y;
    }
    // p = 0.5 of an even count: the lower middle; p x n an exact integer k: the k-th smallest.
    EXPECT_EQ(kipref::rankOf({4, 1, 3, 2}, 0.5), 2);
    EXPECT_EQ(kipref::rankOf({4, 1, 3, 2}, 0.75), 3);
    EXPECT_EQ(kipref::rankOf({4, 1, 3, 2}, 0.0), 1);
    EXPECT_EQ(kipref::rankOf({4, 1, 3, 2}, 1.0), 4);
    EXPECT_EQ(kipref::rankOf({}, 0.5), 0);
}

TEST(RankCountTable, MatchesCountingTheMask) {
    std::mt19937 rng(5);
    for (int iter = 0; iter < 200; ++iter) {
        const int32_t w = 1 + below(rng, 40), h = 1 + below(rng, 40);
        Img m(1, rect(below(rng, 9) - 4, 3, w, h), below(rng, 3));
        const std::vector<uint8_t> bits = randomImageMask(rng, size_t(w * h));
        m.setValues(std::vector<uint16_t>(bits.begin(), bits.end()));
        std::vector<uint32_t> table(size_t(w * h));
        const kimg_window mw = m.window();
        ASSERT_EQ(kip_maskCountTable16_(&mw, table.data()), 0);
        for (int q = 0; q < 20; ++q) {
            const int32_t r0 = below(rng, h), r1 = r0 + below(rng, h - r0), c0 = below(rng, w),
                          c1 = c0 + below(rng, w - c0);
            uint32_t want = 0;
            for (int32_t r = r0; r <= r1; ++r)
                for (int32_t cc = c0; cc <= c1; ++cc) want += bits[size_t(r * w + cc)] != 0;
            ASSERT_EQ(kip_maskCountInRect16_(table.data(), w, r0, r1, c0, c1), want);
        }
    }
}

TEST(RankParams, InitValidateCompare) {
    kip_filterRankParams a, b;
    ASSERT_EQ(kip_filterRankParams_init(&a), 0);
    EXPECT_EQ(a.borderMode, kip_filterBorderTruncated);
    EXPECT_EQ(a.percentile, 0.5);
    const double nan = std::nan("");
    const std::pair<kip_filterRankParams, kip_status> cases[] = {{{1, 0.0}, 0},
                                                                 {{1, 1.0}, 0},
                                                                 {{1, -0.001}, kip_errRankOutOfRange},
                                                                 {{1, 1.001}, kip_errRankOutOfRange},
                                                                 {{1, nan}, kip_errRankOutOfRange},
                                                                 {{0, 0.5}, kip_errBadMode},
                                                                 {{2, nan}, kip_errBadMode}};
    for (const auto& [p, status] : cases)
        EXPECT_EQ(kip_filterRankParams_validate(&p), status) << p.borderMode << " " << p.percentile;
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterRankParams_compareEqual, &a, &a), 1u);
    b = a;
    b.percentile = 0.25;
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterRankParams_compareEqual, &a, &b), 0u);
    b = a;
    b.borderMode = 2;
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterRankParams_compareEqual, &a, &b), 0u);
}

template <class A>
class RankApi : public ::testing::Test {};
using Apis = ::testing::Types<Api8, Api16>;
TYPED_TEST_SUITE(RankApi, Apis);

// The hook is asked once for each optimised path a call may take, in the order they are tried;
// never for rectangles with an image mask.
TYPED_TEST(RankApi, HookAskedForEachOptimisedPath) {
    using A = TypeParam;
    Img src(A::kDepth, rect(0, 0, 20, 10)), mask(1, rect(0, 0, 20, 10));
    kip_pelSet8(&mask.img, 1);
    Kernel rectangle(5, 3), cross(3, 3, {0, 1, 0, 1, 1, 1, 0, 1, 0});
    const kip_filterRankParams params{1, 0.5};
    HookGuard restore;
    kprt_isOptimizationInhibitedFP = &recordingHook;
    for (const kimg_imageConst* m :
         {static_cast<const kimg_imageConst*>(nullptr), static_cast<const kimg_imageConst*>(&mask.img)})
        for (const Kernel* k : {&rectangle, &cross}) {
            Img out;
            labelsSeen.clear();
            ASSERT_EQ(A::filter(&src.img, m, &params, &k->k, &out.img), 0);
            EXPECT_EQ(labelsSeen, k == &rectangle ? (m ? u"" : A::kAsked[0]) : A::kAsked[m ? 2 : 1]);
        }
}

// Source, image mask and destination sharing pixels: the result is that of separate images.
TYPED_TEST(RankApi, SharedMemoryGivesSeparateImagesResult) {
    using A = TypeParam;
    std::mt19937 rng(21);
    for (int iter = 0; iter < 60; ++iter) {
        kipref::RankCase c;
        c.source = rect(0, 0, 20 + below(rng, 30), 15 + below(rng, 30));
        c.kw = 1 + 2 * below(rng, 5);
        c.kh = 1 + 2 * below(rng, 5);
        if (below(rng, 2)) c.kernelMask = randomKernelMask(rng, c.kw, c.kh);
        c.percentile = randomPercentile(rng, c.kw * c.kh);
        const kstd_rect32 whole = rect(-5, -5, c.source.width + 10, c.source.height + 10);
        Img image(A::kDepth, whole);
        image.fillRandom(rng);
        const std::vector<uint16_t> original = image.values();
        // Destination shifted against the source inside the same image.
        const kimg_window sw = kiptest::restrict(image.window(), c.source);
        c.destination = rect(below(rng, 9) - 4, below(rng, 9) - 4, c.source.width, c.source.height);
        const kimg_window dw = kiptest::restrict(image.window(), c.destination);
        c.pixels = kiptest::values(sw);
        // In 8 bits the image mask may be the shared image itself.
        const bool selfMask = A::kDepth == 1 && below(rng, 2);
        if (selfMask) c.imageMask.assign(c.pixels.begin(), c.pixels.end());
        Kernel kernel(c.kw, c.kh, c.kernelMask);
        const kip_filterRankParams params{1, c.percentile};
        ASSERT_EQ(A::window(&sw, selfMask ? &sw : nullptr, &params, &kernel.k, &dw), 0);
        const kipref::RankResult expected = kipref::referenceRank(c);
        std::vector<uint16_t> want = original;
        const kstd_rect32 r = expected.rect;
        for (int32_t y = 0; y < r.height; ++y)
            for (int32_t x = 0; x < r.width; ++x)
                want[size_t((r.y + y - whole.y) * whole.width + (r.x + x - whole.x))] =
                    expected.values[size_t(y * r.width + x)];
        ASSERT_EQ(image.values(), want) << describe(c, A::kDepth);
    }
    // The same image as source and destination of the image entry.
    Img image(A::kDepth, rect(2, 3, 40, 30)), separate;
    image.fillRandom(rng);
    Kernel k(7, 5);
    const kip_filterRankParams params{1, 0.3};
    ASSERT_EQ(A::filter(&image.img, nullptr, &params, &k.k, &separate.img), 0);
    ASSERT_EQ(A::filter(&image.img, nullptr, &params, &k.k, &image.img), 0);
    EXPECT_EQ(image.values(), separate.values());
}

// Refusals: the status the contract names, and nothing written.
TYPED_TEST(RankApi, EntriesRefuseBadInput) {
    using A = TypeParam;
    Img src(A::kDepth, rect(0, 0, 12, 9)), dst(A::kDepth, rect(0, 0, 12, 9)), other(3 - A::kDepth, rect(0, 0, 12, 9));
    Img mask(1, rect(0, 0, 12, 9)), shifted(1, rect(1, 0, 12, 9)), mask16(2, rect(0, 0, 12, 9));
    std::mt19937 rng(9);
    src.fillRandom(rng);
    dst.fillRandom(rng);
    const std::vector<uint16_t> before = dst.values();
    Kernel good(3, 3), even(3, 3);
    Img evenMask(1, rect(0, 0, 4, 3));
    kimg_imageConst_assign(&even.k.mask, &evenMask.img);  // bypasses setMask's check
    const kip_filterRankParams ok{1, 0.5}, mode0{0, 0.5}, mode2{2, 0.5}, low{1, -0.001}, high{1, 1.001},
        nan{1, std::nan("")};
    const kimg_window sw = src.window(), dw = dst.window(), ow = other.window(), sh = shifted.window();
    const kimg_window nullWindow{};
    kiptest::Image unbound, fresh;

    const std::pair<kip_status, kip_status> calls[] = {
        {A::filter(&src.img, nullptr, &mode0, &good.k, &dst.img), kip_errBadMode},
        {A::filter(&src.img, nullptr, &mode2, &even.k, &dst.img), kip_errBadMode},  // parameters first
        {A::filter(&src.img, nullptr, &low, &good.k, &dst.img), kip_errRankOutOfRange},
        {A::filter(&src.img, nullptr, &high, &good.k, &dst.img), kip_errRankOutOfRange},
        {A::filter(&src.img, nullptr, &nan, &good.k, &fresh.img), kip_errRankOutOfRange},
        {A::filter(&src.img, nullptr, &ok, &even.k, &dst.img), kip_errKernelSizeNotOdd},
        {A::filter(&unbound.img, nullptr, &ok, &good.k, &fresh.img), kip_errImageUnbound},
        {A::filter(&src.img, &shifted.img, &ok, &good.k, &fresh.img), kip_errMaskWindowMismatch},
        {A::filter(&src.img, &mask16.img, &ok, &good.k, &dst.img), kimg_errDepthMismatch},
        {A::filter(&other.img, nullptr, &ok, &good.k, &fresh.img), kimg_errDepthMismatch},
        {A::filter(&src.img, nullptr, &ok, &good.k, &other.img), kimg_errDepthMismatch},
        {A::window(&sw, nullptr, &mode0, &good.k, &dw), kip_errBadMode},
        {A::window(&sw, nullptr, &mode2, &good.k, &dw), kip_errBadMode},
        {A::postGCR(&sw, nullptr, &mode2, &good.k, &dw), kip_errBadMode},
        {A::window(&nullWindow, nullptr, &ok, &good.k, &dw), kip_errImageUnbound},
        {A::window(&sw, nullptr, &ok, &good.k, &nullWindow), kip_errImageUnbound},
        {A::window(&sw, &sh, &ok, &good.k, &dw), kip_errMaskWindowMismatch},
        {A::window(&ow, nullptr, &ok, &good.k, &dw), kimg_errDepthMismatch},
        {A::postGCR(&sw, nullptr, &ok, &good.k, &ow), kimg_errDepthMismatch},
    };
    for (size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i].first, calls[i].second) << "call " << i;
    EXPECT_EQ(dst.values(), before);
    EXPECT_EQ(fresh.img.store, nullptr);

    kiptest::AssertCounter asserts;
    EXPECT_EQ(A::filter(nullptr, nullptr, &ok, &good.k, &dst.img), kstd_errInvalidArgument);
    EXPECT_EQ(A::filter(&src.img, nullptr, nullptr, &good.k, &dst.img), kstd_errInvalidArgument);
    EXPECT_EQ(A::window(&sw, nullptr, &ok, nullptr, &dw), kstd_errInvalidArgument);
    EXPECT_EQ(A::window(&sw, nullptr, &ok, &good.k, nullptr), kstd_errInvalidArgument);
    EXPECT_EQ(A::postGCR(nullptr, nullptr, &ok, &good.k, &dw), kstd_errInvalidArgument);
    EXPECT_EQ(asserts.count(), 5);
    // A destination band that does not lie within the source's rows.
    const kimg_window taller = kiptest::restrict(src.window(), rect(0, 2, 12, 5));
    EXPECT_EQ(A::postGCR(&taller, nullptr, &ok, &good.k, &dw), kstd_errInvalidArgument);
    EXPECT_EQ(asserts.count(), 6);
    EXPECT_EQ(dst.values(), before);
}

// Every allocation of the entries, failed in turn, for each engine: the failure comes back, an
// unbound destination stays unbound, nothing leaks.
TYPED_TEST(RankApi, FaultSweep) {
    using A = TypeParam;
    std::mt19937 rng(14);
    Img src(A::kDepth, rect(0, 0, 40, 25)), mask(1, rect(0, 0, 40, 25)), bound(A::kDepth, rect(3, 2, 40, 25));
    src.fillRandom(rng);
    mask.fillRandom(rng);
    bound.fillRandom(rng);
    const std::vector<uint16_t> boundBefore = bound.values();
    const kstd_rect32 boundRect = bound.window().rect;
    Kernel rectangle(5, 3), disk(5, 5, randomKernelMask(rng, 5, 5));
    const kip_filterRankParams params{1, 0.4};
    for (const bool inhibit : {false, true})
        for (const Kernel* k : {&rectangle, &disk})
            for (const kimg_imageConst* m :
                 {static_cast<const kimg_imageConst*>(nullptr), static_cast<const kimg_imageConst*>(&mask.img)}) {
                HookGuard hook(inhibit);
                Img fresh;
                EXPECT_GT(kiptest::faultSweep([&] { return A::filter(&src.img, m, &params, &k->k, &fresh.img); },
                                              [&](kip_status, int) { EXPECT_EQ(fresh.img.store, nullptr); }, nullptr,
                                              [&] { kimg_image_assignUnbound(&fresh.img); }),
                          0);
                // Into a bound destination, and into the source itself (through scratch pixels).
                const int n = kiptest::faultSweep([&] { return A::filter(&src.img, m, &params, &k->k, &bound.img); },
                                                  [&](kip_status, int) {
                                                      if (!m) {
                                                          EXPECT_EQ(bound.values(), boundBefore);
                                                      }
                                                  },
                                                  [&] {
                                                      // A successful call narrowed the window.
                                                      uint32_t clipped = 0;
                                                      kimg_image_setWindowRect(&bound.img, &boundRect, &clipped);
                                                      bound.setValues(boundBefore);
                                                  });
                EXPECT_GE(n, 0);
                Img copy(A::kDepth, rect(0, 0, 40, 25));
                const std::vector<uint16_t> original = src.values();
                EXPECT_GT(kiptest::faultSweep([&] { return A::filter(&copy.img, m, &params, &k->k, &copy.img); },
                                              [&](kip_status, int) { EXPECT_EQ(copy.values(), original); },
                                              [&] { copy.setValues(original); }),
                          0);
            }
}

}  // namespace
