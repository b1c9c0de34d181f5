// Call frame and window preparation: fall-back rule, hook query, cleanup table discipline,
// kernel splitting against a brute-force check, window preparation and its fault sweep.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "frame/cleanup.hpp"
#include "frame/hook.hpp"
#include "support/test_support.hpp"

using kiptest::Image;
using kiptest::rect;

namespace {

TEST(FallBack, LowSixteenBitsDecide) {
    for (uint32_t low : {0x600u, 0x601u, 0x602u, 0x61Fu}) {
        EXPECT_TRUE(kip_status_isNotAvailable(kip_status(0x80000000u | low))) << std::hex << low;
        EXPECT_TRUE(kip_status_isNotAvailable(kip_status(low))) << "bit 31 is not consulted";
        EXPECT_TRUE(kip_status_isNotAvailable(kip_status(0x80120000u | low))) << "high bits are not consulted";
    }
    for (uint32_t low : {0x5FFu, 0x620u, 0x6A1u, 0x000u, 0xEA1u})
        EXPECT_FALSE(kip_status_isNotAvailable(kip_status(0x80000000u | low))) << std::hex << low;
}

TEST(StatusNames, EveryLibraryCodeHasItsName) {
    const char* name = nullptr;
    ASSERT_EQ(kip_status_getName(kip_errMaskWindowMismatch, &name), 0);
    EXPECT_STREQ(name, "kip_errMaskWindowMismatch");
    for (uint32_t c = 0x80000ea0u; c <= 0x80000ea7u; ++c) {
        kip_status_getName(kip_status(c), &name);
        EXPECT_EQ(std::string(name).rfind("kip_err", 0), 0u) << std::hex << c;
    }
}

std::u16string gInhibited;
int gHookCalls = 0;
int32_t inhibitOne(const uint16_t* label) {
    ++gHookCalls;
    std::u16string s;
    for (; *label; ++label) s.push_back(char16_t(*label));
    return s == gInhibited ? 1 : 0;
}

TEST(InhibitHook, ReadOnEveryCallAndOnlyForItsLabel) {
    static constexpr auto a = kip::makeLabel("kip_filterMedianWindow8");
    static constexpr auto b = kip::makeLabel("kip_filterMedianWindow16");
    EXPECT_FALSE(kip::optimizationInhibited(a.text));
    gInhibited = u"kip_filterMedianWindow8";
    gHookCalls = 0;
    kprt_isOptimizationInhibitedFP = &inhibitOne;
    EXPECT_TRUE(kip::optimizationInhibited(a.text));
    EXPECT_FALSE(kip::optimizationInhibited(b.text));
    EXPECT_EQ(gHookCalls, 2);
    kprt_isOptimizationInhibitedFP = nullptr;
    EXPECT_FALSE(kip::optimizationInhibited(a.text)) << "the pointer must not be cached";
}

// ---- Cleanup table ------------------------------------------------------------------------

struct Tracked {
    std::vector<int>* log;
    int id;
};
kip_status destroyTracked(Tracked* t) {
    t->log->push_back(t->id);
    return 0;
}

kip_status runTable(kip_status outcome, std::vector<int>& log, void** kept33, void** kept49) {
    kip::Cleanup<5> table;
    static Tracked objects[3];
    objects[0] = {&log, 34};
    objects[1] = {&log, 50};
    objects[2] = {&log, 134};
    table.addObject<Tracked, destroyTracked>(ksys_cleanupDestroyOnFailure, &objects[0]);
    table.addObject<Tracked, destroyTracked>(ksys_cleanupDestroyAlways, &objects[1]);
    EXPECT_EQ(ksys_memory_alloc_internal(8, kept33), 0);
    table.addBlock(ksys_cleanupFreeOnFailure, kept33);
    EXPECT_EQ(ksys_memory_alloc_internal(8, kept49), 0);
    table.addBlock(ksys_cleanupFreeAlways, kept49);
    return table.finish(outcome);
}

TEST(CleanupTable, SuccessKeepsHandOutsAndReleasesScratch) {
    std::vector<int> log;
    void *b33 = nullptr, *b49 = nullptr;
    int64_t live = ksys_memory_getLiveBlocks();
    EXPECT_EQ(runTable(0, log, &b33, &b49), 0);
    EXPECT_EQ(log, std::vector<int>{50});
    EXPECT_NE(b33, nullptr);
    EXPECT_EQ(b49, nullptr);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live + 1);
    ksys_memory_free_internal(&b33);
}

TEST(CleanupTable, FailureReleasesEverythingNewestFirst) {
    std::vector<int> log;
    void *b33 = nullptr, *b49 = nullptr;
    int64_t live = ksys_memory_getLiveBlocks();
    EXPECT_EQ(runTable(kip_errBadMode, log, &b33, &b49), kip_errBadMode);
    EXPECT_EQ(log, (std::vector<int>{50, 34}));
    EXPECT_EQ(b33, nullptr);
    EXPECT_EQ(b49, nullptr);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);
}

TEST(CleanupTable, IdsWrapBeforeTheReservedValueAndDestroyById) {
    std::vector<int> log;
    Tracked t[3] = {{&log, 1}, {&log, 2}, {&log, 3}};
    kip::Cleanup<3> table;
    table.setNextIdForTest(0xFFFFFFFEu);
    uint32_t a = table.addObject<Tracked, destroyTracked>(ksys_cleanupDestroyAlways, &t[0]);
    uint32_t b = table.addObject<Tracked, destroyTracked>(ksys_cleanupDestroyAlways, &t[1]);
    uint32_t c = table.addObject<Tracked, destroyTracked>(ksys_cleanupDestroyAlways, &t[2]);
    EXPECT_EQ(a, 0xFFFFFFFEu);
    EXPECT_EQ(b, 0u);
    EXPECT_EQ(c, 1u);
    EXPECT_EQ(table.destroyId(b), 0);
    EXPECT_EQ(log, std::vector<int>{2});
    EXPECT_EQ(table.count(), 2);
    EXPECT_EQ(table.finish(0), 0);
    EXPECT_EQ(log, (std::vector<int>{2, 3, 1}));
}

// ---- Kernel splitting ---------------------------------------------------------------------

void split(const kstd_rect32& w, const kstd_rect32& d, int kw, int kh, int ox, int oy, kstd_rect32 out[5]) {
    kstd_pair32 size{kw, kh}, offset{ox, oy};
    ASSERT_EQ(kip_filterCommon_gcrRect(&w, &d, &size, &offset, &out[0], &out[1], &out[2], &out[3], &out[4]), 0);
}

TEST(KernelSplit, WorkedExamples) {
    kstd_rect32 r[5];
    split(rect(0, 0, 10, 8), rect(0, 0, 10, 8), 3, 3, 0, 0, r);
    EXPECT_EQ(r[0], rect(1, 1, 8, 6));
    EXPECT_EQ(r[1], rect(1, 0, 8, 1));
    EXPECT_EQ(r[2], rect(1, 7, 8, 1));
    EXPECT_EQ(r[3], rect(0, 0, 1, 8));
    EXPECT_EQ(r[4], rect(9, 0, 1, 8));
    split(rect(0, 0, 10, 8), rect(0, 0, 10, 8), 3, 3, 1, 0, r);
    EXPECT_EQ(r[0], rect(2, 1, 8, 6));
    EXPECT_EQ(r[3], rect(0, 0, 2, 8));
    EXPECT_EQ(r[4], rect(10, 0, 0, 8)) << "a zero-width piece touching the clip is kept";
}

bool inRect(const kstd_rect32& r, int64_t x, int64_t y) {
    return r.width > 0 && r.height > 0 && x >= r.x && y >= r.y && x < int64_t{r.x} + r.width &&
           y < int64_t{r.y} + r.height;
}

TEST(KernelSplit, PiecesTileTheComputableAreaOnRandomCases) {
    std::mt19937 rng(7);
    auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int iter = 0; iter < 4000; ++iter) {
        kstd_rect32 w = rect(uni(-12, 12), uni(-12, 12), uni(0, 20), uni(0, 20));
        bool inside = uni(0, 1) == 1;  // clip inside the window, as drivers pass it, or anywhere
        kstd_rect32 d = inside ? rect(w.x + uni(0, 5), w.y + uni(0, 5), uni(0, 20), uni(0, 20))
                               : rect(uni(-15, 15), uni(-15, 15), uni(0, 25), uni(0, 25));
        if (inside) {
            kstd_rect32 c = d;
            kstd_rect32_intersect(&c, &w);
            d = c;
        }
        int kw = 2 * uni(0, 7) + 1, kh = 2 * uni(0, 7) + 1;
        int ox = uni(-(kw / 2), kw / 2), oy = uni(-(kh / 2), kh / 2);
        kstd_rect32 r[5];
        split(w, d, kw, kh, ox, oy, r);
        for (int y = -30; y < 40; ++y)
            for (int x = -30; x < 40; ++x) {
                int hits = 0;
                for (int i = 0; i < 5; ++i) {
                    if (!inRect(r[i], x, y)) continue;
                    ++hits;
                    ASSERT_TRUE(inRect(d, x, y)) << "piece " << i << " leaves the clip";
                    if (inside) {
                        ASSERT_TRUE(inRect(w, x, y)) << "piece " << i << " leaves the window";
                    }
                }
                bool computable = inRect(w, x, y) && inRect(d, x, y);
                ASSERT_LE(hits, 1) << "pieces overlap at " << x << "," << y;
                if (computable) {
                    ASSERT_EQ(hits, 1) << "pixel " << x << "," << y << " not covered, case " << iter;
                    bool whole = inRect(w, x - (kw / 2 + ox), y - (kh / 2 + oy)) &&
                                 inRect(w, x + (kw / 2 - ox), y + (kh / 2 - oy));
                    ASSERT_EQ(inRect(r[0], x, y), whole) << "centre wrong at " << x << "," << y << " case " << iter;
                }
            }
    }
}

TEST(KernelSplit, WindowFormRestrictsTheDestination) {
    Image src(1, rect(0, 0, 12, 9)), dst(1, rect(2, 1, 12, 9));
    kimg_window s = src.window(), d = dst.window(), w[5];
    kstd_pair32 size{5, 3}, off{0, 0};
    ASSERT_EQ(kip_filterCommon_gcrWindow(&s, &d, &size, &off, &w[0], &w[1], &w[2], &w[3], &w[4]), 0);
    kstd_rect32 r[5];
    split(s.rect, d.rect, 5, 3, 0, 0, r);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(w[i].rect, r[i]);
        if (r[i].width > 0 && r[i].height > 0) {
            EXPECT_EQ(w[i].pixels, dst.at(r[i].x, r[i].y));
        }
    }
    kstd_rect32 g[5];
    ASSERT_EQ(kip_filterCommon_gcr(&src.img, &dst.img, &size, &off, &g[0], &g[1], &g[2], &g[3], &g[4]), 0);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(g[i], r[i]);
}

// ---- Window preparation -------------------------------------------------------------------

struct Prepared {
    kimg_windowConst src, mask;
    kimg_window dst;
    uint32_t nothing = 77, used = 77, overlap = 77;
};

TEST(ImagePreparation, NothingToDoAndErrors) {
    Image src(1, rect(0, 0, 8, 8)), far(1, rect(100, 100, 4, 4)), unbound, badMask(1, rect(0, 0, 8, 7));
    Prepared p;
    kimg_window sentinel = p.dst = kimg_window{rect(9, 9, 9, 9), 3, 1, nullptr, nullptr};
    ASSERT_EQ(kip_filterInitializeWindow_(&src.img, nullptr, &far.img, &p.src, &p.mask, &p.dst, &p.nothing, 1), 0);
    EXPECT_EQ(p.nothing, 1u);
    EXPECT_EQ(p.dst.rect, sentinel.rect) << "out windows untouched when there is nothing to do";
    EXPECT_EQ(kip_filterInitializeWindow_(&unbound.img, nullptr, &far.img, &p.src, &p.mask, &p.dst, &p.nothing, 1),
              kip_errImageUnbound);
    EXPECT_EQ(kip_filterInitializeWindow_(&src.img, &badMask.img, &far.img, &p.src, &p.mask, &p.dst, &p.nothing, 1),
              kip_errMaskWindowMismatch);
    Image empty(1, rect(0, 0, 0, 5));
    ASSERT_EQ(kip_filterInitializeWindow_(&empty.img, nullptr, &far.img, &p.src, &p.mask, &p.dst, &p.nothing, 1), 0);
    EXPECT_EQ(p.nothing, 1u);
}

TEST(ImagePreparation, UnboundDestinationGetsSourceRectDepthAndTransform) {
    Image src(2, rect(3, 4, 7, 5)), dst, mask(1, rect(3, 4, 7, 5)), unboundMask;
    kimg_xform xf = {{2, 0, 1, 0, 3, -1}};
    kimg_image_setXform(&src.img, &xf);
    Prepared p;
    ASSERT_EQ(kip_filterInitializeWindow_(&src.img, &mask.img, &dst.img, &p.src, &p.mask, &p.dst, &p.nothing, 2), 0);
    EXPECT_EQ(p.nothing, 0u);
    kstd_rect32 r{};
    kimg_image_getWindow(&dst.img, &r);
    EXPECT_EQ(r, rect(3, 4, 7, 5));
    uint32_t depth = 0;
    kimg_image_getDepth(&dst.img, &depth);
    EXPECT_EQ(depth, 2u);
    kimg_xform got{};
    kimg_image_getXform(&dst.img, &got);
    EXPECT_EQ(std::memcmp(&got, &xf, sizeof xf), 0);
    EXPECT_EQ(p.dst.rect, r);
    EXPECT_EQ(p.mask.rect, r);
    ASSERT_EQ(kip_filterInitializeWindow_(&src.img, &unboundMask.img, &dst.img, &p.src, &p.mask, &p.dst, &p.nothing, 2),
              0);
    uint32_t bound = 1;
    kimg_windowConst_getIsBound(&p.mask, &bound);
    EXPECT_EQ(bound, 0u) << "an unbound mask counts as none";
}

kip_status prepare(const kimg_window& s, const kimg_window* m, const kimg_window& d, Prepared& p, kimg_image* scratch,
                   uint32_t depth = 1) {
    return depth == 1 ? kip_filterInitializeGCRWindow8_(&s, m, &d, &p.src, &p.mask, &p.dst, &p.nothing, &p.used,
                                                        &p.overlap, scratch)
                      : kip_filterInitializeGCRWindow16_(&s, m, &d, &p.src, &p.mask, &p.dst, &p.nothing, &p.used,
                                                         &p.overlap, scratch);
}

TEST(WindowPreparation, CommonRectangleMaskAndPrefill) {
    std::mt19937 rng(3);
    for (uint32_t depth : {1u, 2u}) {
        Image src(depth, rect(0, 0, 20, 10)), mask(1, rect(0, 0, 20, 10)), dst(depth, rect(5, 2, 30, 30)), scratch;
        src.fillRandom(rng);
        kimg_window s = src.window(), m = mask.window(), d = dst.window();
        Prepared p;
        ASSERT_EQ(prepare(s, &m, d, p, &scratch.img, depth), 0);
        EXPECT_EQ(p.nothing, 0u);
        EXPECT_EQ(p.used, 1u);
        EXPECT_EQ(p.overlap, 0u);
        EXPECT_EQ(p.src.rect, rect(5, 2, 15, 8));
        EXPECT_EQ(p.mask.rect, rect(5, 2, 15, 8));
        EXPECT_EQ(p.dst.pixels, dst.at(5, 2));
        for (int y = 2; y < 10; ++y)
            for (int x = 5; x < 20; ++x)
                ASSERT_EQ(std::memcmp(dst.at(x, y), src.at(x, y), depth), 0) << "prefill missing at " << x << "," << y;
        kimg_window nullMask;
        kimg_window_initUnbound(&nullMask);
        ASSERT_EQ(prepare(s, &nullMask, d, p, &scratch.img, depth), 0);
        EXPECT_EQ(p.used, 0u) << "a null mask window acts as no mask";
        Image otherMask(1, rect(0, 0, 19, 10));
        kimg_window om = otherMask.window();
        EXPECT_EQ(prepare(s, &om, d, p, &scratch.img, depth), kip_errMaskWindowMismatch);
    }
}

TEST(WindowPreparation, DisjointAndUnboundWindows) {
    Image a(1, rect(0, 0, 5, 5)), b(1, rect(5, 0, 5, 5)), scratch;
    kimg_window wa = a.window(), wb = b.window(), unbound;
    kimg_window_initUnbound(&unbound);
    Prepared p;
    ASSERT_EQ(prepare(wa, nullptr, wb, p, &scratch.img), 0);
    EXPECT_EQ(p.nothing, 1u);
    EXPECT_EQ(p.used, 77u) << "nothing else is set";
    EXPECT_EQ(prepare(unbound, nullptr, wb, p, &scratch.img), kip_errImageUnbound);
    EXPECT_EQ(prepare(wa, nullptr, unbound, p, &scratch.img), kip_errImageUnbound);
}

kimg_window restrictTo(kimg_window w, kstd_rect32 r) {
    uint32_t clipped = 0;
    EXPECT_EQ(kimg_window_windowRect(&w, &r, &clipped), 0);
    return w;
}

TEST(WindowPreparation, SharedMemoryGoesToScratch) {
    Image img(1, rect(0, 0, 40, 30)), other(1, rect(0, 0, 40, 30));
    kimg_window whole = img.window();
    kimg_window left = restrictTo(whole, rect(0, 0, 25, 30)), right = restrictTo(whole, rect(20, 0, 20, 30));
    kimg_window far = restrictTo(whole, rect(30, 0, 10, 30));
    // A window of another image placed over the same client area, to check that overlap is
    // decided by memory and not by position.
    kimg_window separate = other.window();
    struct Case {
        const char* what;
        kimg_window src, *mask, dst;
        uint32_t overlap;
    } cases[] = {
        {"same image", whole, nullptr, whole, 1},
        {"overlapping windows of one image", left, nullptr, right, 1},
        {"mask overlapping destination", separate, &whole, whole, 1},
        {"distinct images", separate, nullptr, whole, 0},
    };
    for (auto& c : cases) {
        Image scratch;
        Prepared p;
        ASSERT_EQ(prepare(c.src, c.mask, c.dst, p, &scratch.img), 0) << c.what;
        EXPECT_EQ(p.overlap, c.overlap) << c.what;
        uint32_t bound = 0;
        kimg_image_getIsBound(&scratch.img, &bound);
        EXPECT_EQ(bound, c.overlap) << c.what;
        if (c.overlap) {
            kstd_rect32 r{};
            kimg_image_getWindow(&scratch.img, &r);
            EXPECT_EQ(r, p.src.rect) << c.what;
            EXPECT_EQ(p.dst.image, scratch.img.store) << c.what;
        }
    }
    // Windows of one image that do not share pixels: left part and the far right part.
    Image scratch;
    Prepared p;
    kimg_window narrow = restrictTo(whole, rect(0, 0, 30, 30));
    ASSERT_EQ(prepare(far, nullptr, narrow, p, &scratch.img), 0);
    EXPECT_EQ(p.nothing, 1u);
}

TEST(WindowPreparation, FaultSweepLeavesNothingBehind) {
    std::mt19937 rng(5);
    Image src(1, rect(0, 0, 16, 16));
    src.fillRandom(rng);
    // Image level: an unbound destination is given pixels.
    kiptest::faultSweep([&] {
        Image dst;
        Prepared p;
        return kip_filterInitializeWindow_(&src.img, nullptr, &dst.img, &p.src, &p.mask, &p.dst, &p.nothing, 1);
    });
    // Window level: overlapping memory takes a scratch image.
    int allocations = kiptest::faultSweep([&] {
        Image scratch;
        Prepared p;
        kimg_window w = src.window();
        kip_status s = prepare(w, &w, w, p, &scratch.img);
        if (kip::failed(s)) {
            uint32_t bound = 1;
            kimg_image_getIsBound(&scratch.img, &bound);
            EXPECT_EQ(bound, 0u);
        }
        return s;
    });
    EXPECT_GE(allocations, 1);
}

}  // namespace
