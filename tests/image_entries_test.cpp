// The image entries of rank, median, morphology and local subtraction share their steps: bad
// depths and masks are refused with nothing allocated, a destination a call allocated is given
// back when a later step fails, a destination that does not meet the source is left alone, and
// calls from several threads on shared inputs do not disturb each other.
#include <functional>
#include <string>
#include <thread>

#include "support/test_support.hpp"

using kiptest::rect;

namespace {

using Entry = std::function<kip_status(const kimg_image* source, const kimg_image* mask, kimg_image* destination)>;

struct Family {
    std::string name;
    uint32_t depth;
    Entry entry;
    bool checksMaskRect;  // local subtraction works on the part the mask covers instead
};

struct Objects {
    kip_filterMaskKernel kernel;
    kip_filterMorphologyStructuringElement element;
    kip_filterRankParams rank{kip_filterBorderTruncated, 0.3};
    kip_filterMedianParams median;
    kip_filterMorphologyParams morphology;
    kip_pelSubLocalParams pelsub{5, 3};
    Objects() {
        const kstd_pair32 size{5, 3};
        EXPECT_EQ(kip_filterMaskKernel_constructSize(&kernel, &size), 0);
        EXPECT_EQ(kip_filterMorphologyStructuringElement_constructSize(&element, &size), 0);
        kip_filterMedianParams_init(&median);
        kip_filterMorphologyParams_init(&morphology);
    }
    ~Objects() {
        kip_filterMaskKernel_destruct(&kernel);
        kip_filterMorphologyStructuringElement_destruct(&element);
    }

    std::vector<Family> families() {
        std::vector<Family> all;
        for (uint32_t depth : {1u, 2u}) {
            const bool eight = depth == 1;
            all.push_back({"rank", depth,
                           [this, eight](const kimg_image* s, const kimg_image* m, kimg_image* d) {
                               return (eight ? kip_filterRank8 : kip_filterRank16)(s, m, &rank, &kernel, d);
                           },
                           true});
            all.push_back({"median", depth,
                           [this, eight](const kimg_image* s, const kimg_image* m, kimg_image* d) {
                               return (eight ? kip_filterMedian8 : kip_filterMedian16)(s, m, &median, &kernel, d);
                           },
                           true});
            all.push_back({"morphology", depth,
                           [this, eight](const kimg_image* s, const kimg_image* m, kimg_image* d) {
                               return (eight ? kip_filterMorphology8 : kip_filterMorphology16)(
                                   s, m, kip_filterMorphologyClose, &morphology, &element, d);
                           },
                           true});
            all.push_back({"local mean", depth,
                           [this, eight](const kimg_image* s, const kimg_image* m, kimg_image* d) {
                               return (eight ? kip_pelSubLocalMean8 : kip_pelSubLocalMean16)(s, m, &pelsub, d);
                           },
                           false});
            all.push_back({"local median", depth,
                           [this, eight](const kimg_image* s, const kimg_image* m, kimg_image* d) {
                               return (eight ? kip_pelSubLocalMedian8 : kip_pelSubLocalMedian16)(s, m, &pelsub, d);
                           },
                           false});
        }
        return all;
    }
};

std::string nameOf(const Family& f) { return f.name + (f.depth == 1 ? " 8-bit" : " 16-bit"); }

TEST(ImageEntries, RefusalsAllocateNothing) {
    std::mt19937 rng(41);
    Objects o;
    const kstd_rect32 r = rect(-2, 3, 30, 20);
    for (const Family& f : o.families()) {
        kiptest::Image src(f.depth, r), other(3 - f.depth, r), mask(1, r), wideMask(2, r),
            shifted(1, rect(-1, 3, 30, 20));
        src.fillRandom(rng);
        const int64_t live = ksys_memory_getLiveBlocks();
        struct Case {
            const kimg_image* source;
            const kimg_image* mask;
            kip_status status;
        } cases[] = {{&other.img, nullptr, kimg_errDepthMismatch},
                     {&src.img, &wideMask.img, kimg_errDepthMismatch},
                     {&src.img, &shifted.img, f.checksMaskRect ? kip_errMaskWindowMismatch : 0}};
        for (const Case& c : cases) {
            if (c.status == 0) continue;
            kiptest::Image out;
            EXPECT_EQ(f.entry(c.source, c.mask, &out.img), c.status) << nameOf(f);
            EXPECT_FALSE(kiptest::isBound(out.img)) << nameOf(f);
            EXPECT_EQ(ksys_memory_getLiveBlocks(), live) << nameOf(f);
        }
        kiptest::Image wrong(3 - f.depth, r);  // a bound destination of the other depth
        const std::vector<uint16_t> before = wrong.values();
        EXPECT_EQ(f.entry(&src.img, &mask.img, &wrong.img), kimg_errDepthMismatch) << nameOf(f);
        EXPECT_EQ(wrong.values(), before) << nameOf(f);
    }
}

// A failure at any allocation after the destination was allocated hands back an unbound
// destination and leaks nothing; success allocates it over the source's window.
TEST(ImageEntries, FailuresGiveBackANewDestination) {
    std::mt19937 rng(42);
    Objects o;
    const kstd_rect32 r = rect(4, -1, 33, 21);
    for (const Family& f : o.families())
        for (bool masked : {false, true}) {
            kiptest::Image src(f.depth, r), mask(1, r), out;
            src.fillRandom(rng);
            std::vector<uint16_t> m(size_t(r.width) * size_t(r.height));
            for (uint16_t& v : m) v = rng() % 3 ? 255 : 0;
            mask.setValues(m);
            const kimg_image* mk = masked ? &mask.img : nullptr;
            EXPECT_GT(kiptest::faultSweep([&] { return f.entry(&src.img, mk, &out.img); },
                                          [&](kip_status, int at) {
                                              EXPECT_FALSE(kiptest::isBound(out.img)) << nameOf(f) << " at " << at;
                                          },
                                          nullptr, [&] { kimg_image_assignUnbound(&out.img); }),
                      0)
                << nameOf(f);
            ASSERT_EQ(f.entry(&src.img, mk, &out.img), 0) << nameOf(f);
            EXPECT_EQ(kiptest::windowOf(out.img), r) << nameOf(f);
            EXPECT_EQ(kiptest::depthOf(out.img), f.depth) << nameOf(f);
        }
}

// A bound destination that does not meet the source: success, and neither its pixels nor its
// window change.
TEST(ImageEntries, ADisjointDestinationIsLeftAlone) {
    std::mt19937 rng(43);
    Objects o;
    for (const Family& f : o.families()) {
        kiptest::Image src(f.depth, rect(0, 0, 12, 9)), out(f.depth, rect(12, 0, 7, 9));
        src.fillRandom(rng);
        out.fillRandom(rng);
        const std::vector<uint16_t> before = out.values();
        EXPECT_EQ(f.entry(&src.img, nullptr, &out.img), 0) << nameOf(f);
        EXPECT_EQ(out.values(), before) << nameOf(f);
        EXPECT_EQ(kiptest::windowOf(out.img), rect(12, 0, 7, 9)) << nameOf(f);
    }
}

int32_t inhibitAll(const uint16_t*) { return 1; }

// Threads calling at once on one read-only source, mask, kernel and parameter set (as Python
// threads do with the GIL released) each get what one call with every optimised path inhibited
// gives. CI runs this under ThreadSanitizer.
TEST(ImageEntries, ConcurrentCallsOnSharedInputsAgree) {
    std::mt19937 rng(44);
    Objects o;
    const kstd_rect32 r = rect(3, -2, 61, 37);
    kiptest::Image mask(1, r);
    std::vector<uint16_t> m(size_t(r.width) * size_t(r.height));
    for (uint16_t& v : m) v = rng() % 4 ? 255 : 0;
    mask.setValues(m);
    for (const Family& f : o.families()) {
        kiptest::Image src(f.depth, r), expected;
        src.fillRandom(rng);
        kprt_isOptimizationInhibitedFP = &inhibitAll;
        ASSERT_EQ(f.entry(&src.img, &mask.img, &expected.img), 0) << nameOf(f);
        for (bool inhibit : {false, true}) {
            kprt_isOptimizationInhibitedFP = inhibit ? &inhibitAll : nullptr;
            constexpr int kThreads = 4;
            std::vector<kiptest::Image> out(kThreads);
            std::vector<kip_status> status(kThreads, -1);
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t)
                threads.emplace_back([&, t] { status[size_t(t)] = f.entry(&src.img, &mask.img, &out[size_t(t)].img); });
            for (std::thread& t : threads) t.join();
            for (int t = 0; t < kThreads; ++t) {
                EXPECT_EQ(status[size_t(t)], 0) << nameOf(f);
                EXPECT_EQ(out[size_t(t)].values(), expected.values()) << nameOf(f) << (inhibit ? " inhibited" : "");
            }
        }
        kprt_isOptimizationInhibitedFP = nullptr;
    }
}

}  // namespace
