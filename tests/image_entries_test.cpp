// The image entries of rank, median, morphology and local subtraction share their steps: bad
// depths and masks are refused with nothing allocated, a destination a call allocated is given
// back when a later step fails, a destination that does not meet the source is left alone, and
// calls from several threads on shared inputs do not disturb each other.
#include "support/image_entries.hpp"

#include <string>
#include <thread>

#include "support/test_support.hpp"

using kiptest::rect;

namespace {

using kiptest::ImageEntry;

TEST(ImageEntries, RefusalsAllocateNothing) {
    std::mt19937 rng(41);
    const kiptest::Neighbourhood n(5, 3);
    const kstd_rect32 r = rect(-2, 3, 30, 20);
    for (const ImageEntry& f : kiptest::imageEntries()) {
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
            EXPECT_EQ(f.call(n, c.source, c.mask, &out.img), c.status) << f.name;
            EXPECT_FALSE(kiptest::isBound(out.img)) << f.name;
            EXPECT_EQ(ksys_memory_getLiveBlocks(), live) << f.name;
        }
        kiptest::Image wrong(3 - f.depth, r);  // a bound destination of the other depth
        const std::vector<uint16_t> before = wrong.values();
        EXPECT_EQ(f.call(n, &src.img, &mask.img, &wrong.img), kimg_errDepthMismatch) << f.name;
        EXPECT_EQ(wrong.values(), before) << f.name;
    }
}

// A failure at any allocation after the destination was allocated hands back an unbound
// destination and leaks nothing; success allocates it over the source's window.
TEST(ImageEntries, FailuresGiveBackANewDestination) {
    std::mt19937 rng(42);
    const kiptest::Neighbourhood n(5, 3);
    const kstd_rect32 r = rect(4, -1, 33, 21);
    for (const ImageEntry& f : kiptest::imageEntries())
        for (bool masked : {false, true}) {
            kiptest::Image src(f.depth, r), mask(1, r), out;
            src.fillRandom(rng);
            std::vector<uint16_t> m(size_t(r.width) * size_t(r.height));
            for (uint16_t& v : m) v = rng() % 3 ? 255 : 0;
            mask.setValues(m);
            const kimg_image* mk = masked ? &mask.img : nullptr;
            EXPECT_GT(kiptest::faultSweep([&] { return f.call(n, &src.img, mk, &out.img); },
                                          [&](kip_status, int at) {
                                              EXPECT_FALSE(kiptest::isBound(out.img)) << f.name << " at " << at;
                                          },
                                          nullptr, [&] { kimg_image_assignUnbound(&out.img); }),
                      0)
                << f.name;
            ASSERT_EQ(f.call(n, &src.img, mk, &out.img), 0) << f.name;
            EXPECT_EQ(kiptest::windowOf(out.img), r) << f.name;
            EXPECT_EQ(kiptest::depthOf(out.img), f.depth) << f.name;
        }
}

// A bound destination that does not meet the source: success, and neither its pixels nor its
// window change.
TEST(ImageEntries, ADisjointDestinationIsLeftAlone) {
    std::mt19937 rng(43);
    const kiptest::Neighbourhood n(5, 3);
    for (const ImageEntry& f : kiptest::imageEntries()) {
        kiptest::Image src(f.depth, rect(0, 0, 12, 9)), out(f.depth, rect(12, 0, 7, 9));
        src.fillRandom(rng);
        out.fillRandom(rng);
        const std::vector<uint16_t> before = out.values();
        EXPECT_EQ(f.call(n, &src.img, nullptr, &out.img), 0) << f.name;
        EXPECT_EQ(out.values(), before) << f.name;
        EXPECT_EQ(kiptest::windowOf(out.img), rect(12, 0, 7, 9)) << f.name;
    }
}

int32_t inhibitAll(const uint16_t*) { return 1; }

// Threads calling at once on one read-only source, mask, kernel and parameter set (as Python
// threads do with the GIL released) each get what one call with every optimised path inhibited
// gives. CI runs this under ThreadSanitizer.
TEST(ImageEntries, ConcurrentCallsOnSharedInputsAgree) {
    std::mt19937 rng(44);
    const kiptest::Neighbourhood n(5, 3);
    const kstd_rect32 r = rect(3, -2, 61, 37);
    kiptest::Image mask(1, r);
    std::vector<uint16_t> m(size_t(r.width) * size_t(r.height));
    for (uint16_t& v : m) v = rng() % 4 ? 255 : 0;
    mask.setValues(m);
    for (const ImageEntry& f : kiptest::imageEntries()) {
        kiptest::Image src(f.depth, r), expected;
        src.fillRandom(rng);
        kprt_isOptimizationInhibitedFP = &inhibitAll;
        ASSERT_EQ(f.call(n, &src.img, &mask.img, &expected.img), 0) << f.name;
        for (bool inhibit : {false, true}) {
            kprt_isOptimizationInhibitedFP = inhibit ? &inhibitAll : nullptr;
            constexpr int kThreads = 4;
            std::vector<kiptest::Image> out(kThreads);
            std::vector<kip_status> status(kThreads, -1);
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t)
                threads.emplace_back(
                    [&, t] { status[size_t(t)] = f.call(n, &src.img, &mask.img, &out[size_t(t)].img); });
            for (std::thread& t : threads) t.join();
            for (int t = 0; t < kThreads; ++t) {
                EXPECT_EQ(status[size_t(t)], 0) << f.name;
                EXPECT_EQ(out[size_t(t)].values(), expected.values()) << f.name << (inhibit ? " inhibited" : "");
            }
        }
        kprt_isOptimizationInhibitedFP = nullptr;
    }
}

}  // namespace
