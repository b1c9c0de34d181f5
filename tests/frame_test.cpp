// Call frame and window preparation: fall-back rule, hook query, cleanup table discipline,
// kernel splitting against a brute-force check, window preparation and its fault sweep.
#include <gtest/gtest.h>

#include <algorithm>
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

// Falling back is decided by the low sixteen bits alone. (Names of the codes: the C++ suite.)
TEST(StatusCodes, FallBackByLowSixteenBits) {
    for (uint32_t low : {0x600u, 0x601u, 0x602u, 0x61Fu}) {
        EXPECT_TRUE(kip_status_isNotAvailable(kip_status(0x80000000u | low))) << std::hex << low;
        EXPECT_TRUE(kip_status_isNotAvailable(kip_status(low))) << "bit 31 is not consulted";
        EXPECT_TRUE(kip_status_isNotAvailable(kip_status(0x80120000u | low))) << "high bits are not consulted";
    }
    for (uint32_t low : {0x5FFu, 0x620u, 0x6A1u, 0x000u, 0xEA1u})
        EXPECT_FALSE(kip_status_isNotAvailable(kip_status(0x80000000u | low))) << std::hex << low;
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

// Success keeps what kinds 34 and 33 hand out and releases the scratch; failure releases all,
// newest first.
TEST(CleanupTable, FinishReleasesByOutcome) {
    for (kip_status outcome : {kip_status(0), kip_errBadMode}) {
        std::vector<int> log;
        Tracked objects[2] = {{&log, 34}, {&log, 50}};
        void *b33 = nullptr, *b49 = nullptr;
        const int64_t live = ksys_memory_getLiveBlocks();
        kip::Cleanup<5> table;
        table.addObject<Tracked, destroyTracked>(ksys_cleanupDestroyOnFailure, &objects[0]);
        table.addObject<Tracked, destroyTracked>(ksys_cleanupDestroyAlways, &objects[1]);
        ASSERT_EQ(ksys_memory_alloc_internal(8, &b33), 0);
        table.addBlock(ksys_cleanupFreeOnFailure, &b33);
        ASSERT_EQ(ksys_memory_alloc_internal(8, &b49), 0);
        table.addBlock(ksys_cleanupFreeAlways, &b49);
        EXPECT_EQ(table.finish(outcome), outcome);
        EXPECT_EQ(log, (outcome ? std::vector<int>{50, 34} : std::vector<int>{50}));
        EXPECT_EQ(b33 != nullptr, outcome == 0);
        EXPECT_EQ(b49, nullptr);
        EXPECT_EQ(ksys_memory_getLiveBlocks(), live + (outcome == 0));
        ksys_memory_free_internal(&b33);
    }
}

TEST(CleanupTable, IdsWrapBeforeTheReservedValueAndDestroyById) {
    std::vector<int> log;
    Tracked t[3] = {{&log, 1}, {&log, 2}, {&log, 3}};
    kip::Cleanup<3> table;
    table.setNextIdForTest(0xFFFFFFFEu);
    uint32_t a = table.addObject<Tracked, destroyTracked>(ksys_cleanupDestroyAlways, &t[0]);
    uint32_t b = table.addObject<Tracked, destroyTracked>(ksys_cleanupDestroyAlways, &t[1]);
    uint32_t c = table.addObject<Tracked, destroyTracked>(ksys_cleanupDestroyAlways, &t[2]);
    EXPECT_TRUE(a == 0xFFFFFFFEu && b == 0u && c == 1u) << a << " " << b << " " << c;
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
    kstd_rect32 r[5];  // centre, top, bottom, left, right
    split(rect(0, 0, 10, 8), rect(0, 0, 10, 8), 3, 3, 0, 0, r);
    const kstd_rect32 pieces[5] = {rect(1, 1, 8, 6), rect(1, 0, 8, 1), rect(1, 7, 8, 1), rect(0, 0, 1, 8),
                                   rect(9, 0, 1, 8)};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(r[i], pieces[i]) << i;
    split(rect(0, 0, 10, 8), rect(0, 0, 10, 8), 3, 3, 1, 0, r);
    EXPECT_EQ(r[0], rect(2, 1, 8, 6));
    EXPECT_EQ(r[3], rect(0, 0, 2, 8));
    EXPECT_EQ(r[4], rect(10, 0, 0, 8)) << "a zero-width piece touching the clip is kept";
    // At x = INT32_MIN the left strip of a null centre is 2^31 wide: it is cut, not lost.
    split(rect(INT32_MIN, 0, 2, 5), rect(INT32_MIN, 0, 2, 5), 3, 3, 0, 0, r);
    EXPECT_TRUE(r[0].width == 0 && r[3] == rect(INT32_MIN, 0, 2, 5)) << r[0] << " " << r[3];
}

bool inRect(const kstd_rect32& r, int64_t x, int64_t y) {
    return r.width > 0 && r.height > 0 && x >= r.x && y >= r.y && x < int64_t{r.x} + r.width &&
           y < int64_t{r.y} + r.height;
}

// Random windows, clips, kernels and offsets anywhere in the plane, up to its edges and offsets of
// +-2^31. Every set involved is a union of rectangles, so one sample per cell of the grid their
// edges make decides it: the pieces must be disjoint, lie in the clip (and in the window when the
// clip does), cover the window's part of the clip, and the centre must hold exactly the pixels
// whose whole kernel lies in the window. Margins beyond 32 bits, and windows whose edges pass
// INT32_MAX, are refused with nothing written.
TEST(KernelSplit, PiecesTileTheComputableAreaAnywhereInThePlane) {
    std::mt19937 rng(7);
    auto pick = [&](int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng); };
    auto position = [&](int64_t near) {
        switch (pick(0, 4)) {
            case 0:
                return int32_t(INT32_MIN + pick(0, 6));
            case 1:
                return int32_t(INT32_MAX - pick(0, 6));
            case 2:
                return int32_t(pick(-12, 12));
            case 3:
                return int32_t(std::clamp<int64_t>(near + pick(-25, 25), INT32_MIN, INT32_MAX));
            default:
                return int32_t(pick(INT32_MIN, INT32_MAX));
        }
    };
    auto extent = [&] { return int32_t(pick(0, 4) ? pick(0, 20) : pick(0, INT32_MAX)); };
    auto half = [&] { return int32_t(pick(0, 3) ? pick(0, 7) : pick(0, INT32_MAX / 2)); };
    auto offset = [&](int32_t h) {
        const int64_t edges[] = {INT32_MIN, INT32_MIN + 1, INT32_MAX, INT32_MAX - 1, pick(INT32_MIN, INT32_MAX)};
        return int32_t(pick(0, 2) ? pick(-h, h) : edges[pick(0, 4)]);
    };
    for (int iter = 0; iter < 30000; ++iter) {
        // Mostly every edge of the window fits 32 bits (else it is refused); the clip may reach beyond.
        kstd_rect32 w = rect(position(0), position(0), extent(), extent());
        if (pick(0, 7)) {
            w.width = int32_t(std::min<int64_t>(w.width, INT32_MAX - int64_t{w.x}));
            w.height = int32_t(std::min<int64_t>(w.height, INT32_MAX - int64_t{w.y}));
        }
        const bool inside = pick(0, 1) == 1;  // clipped to the window, as drivers pass it, or anywhere
        kstd_rect32 d = rect(position(w.x), position(w.y), extent(), extent());
        if (inside) kstd_rect32_intersect(&d, &w);
        const int32_t hx = half(), hy = half(), ox = offset(hx), oy = offset(hy);
        const int64_t margins[4] = {int64_t{hx} + ox, int64_t{hx} - ox, int64_t{hy} + oy, int64_t{hy} - oy};
        const bool representable =
            std::all_of(margins, margins + 4, [](int64_t m) { return m >= INT32_MIN && m <= INT32_MAX; }) &&
            int64_t{w.x} + w.width <= INT32_MAX && int64_t{w.y} + w.height <= INT32_MAX;
        const std::string where = "case " + std::to_string(iter);

        kstd_pair32 size{2 * hx + 1, 2 * hy + 1}, off{ox, oy};
        kstd_rect32 r[5];
        std::fill(r, r + 5, rect(1, 2, 3, 4));
        const kip_status s = kip_filterCommon_gcrRect(&w, &d, &size, &off, &r[0], &r[1], &r[2], &r[3], &r[4]);
        if (!representable) {
            ASSERT_EQ(s, kstd_errInvalidArgument) << where;
            ASSERT_TRUE(std::all_of(r, r + 5, [](const kstd_rect32& p) { return p == rect(1, 2, 3, 4); })) << where;
            continue;
        }
        ASSERT_EQ(s, 0) << where;

        // Pixel (x, y) has its whole kernel in W when x - (hx + ox) >= x0 and x + (hx - ox) < x1.
        std::set<int64_t> xs{0, int64_t{w.x} + margins[0], int64_t{w.x} + w.width - margins[1]};
        std::set<int64_t> ys{0, int64_t{w.y} + margins[2], int64_t{w.y} + w.height - margins[3]};
        for (const kstd_rect32& q : {w, d, r[0], r[1], r[2], r[3], r[4]}) {
            xs.insert({q.x, int64_t{q.x} + q.width});
            ys.insert({q.y, int64_t{q.y} + q.height});
        }
        for (int64_t x0 : xs)
            for (int64_t y0 : ys)
                for (int64_t x : {x0 - 1, x0})
                    for (int64_t y : {y0 - 1, y0}) {
                        int hits = 0;
                        for (int i = 0; i < 5; ++i) {
                            if (!inRect(r[i], x, y)) continue;
                            ++hits;
                            ASSERT_TRUE(inRect(d, x, y)) << where << ": piece " << i << " leaves the clip";
                        }
                        ASSERT_LE(hits, 1) << where << ": pieces overlap at " << x << "," << y;
                        if (!inRect(w, x, y) || !inRect(d, x, y)) continue;
                        ASSERT_EQ(hits, 1) << where << ": " << x << "," << y << " in no piece; W " << w << " D " << d;
                        const bool whole = x - margins[0] >= w.x && x + margins[1] < int64_t{w.x} + w.width &&
                                           y - margins[2] >= w.y && y + margins[3] < int64_t{w.y} + w.height;
                        ASSERT_EQ(inRect(r[0], x, y), whole) << where << ": centre wrong at " << x << "," << y;
                    }
    }
}

// The window and image forms give the same pieces, as windows of the destination.
TEST(KernelSplit, WindowAndImageFormsGiveTheSamePieces) {
    Image src(1, rect(0, 0, 12, 9)), dst(1, rect(2, 1, 12, 9));
    kimg_window s = src.window(), d = dst.window(), w[5];
    kstd_pair32 size{5, 3}, off{0, 0};
    kstd_rect32 r[5], g[5];
    split(s.rect, d.rect, 5, 3, 0, 0, r);
    ASSERT_EQ(kip_filterCommon_gcrWindow(&s, &d, &size, &off, &w[0], &w[1], &w[2], &w[3], &w[4]), 0);
    ASSERT_EQ(kip_filterCommon_gcr(&src.img, &dst.img, &size, &off, &g[0], &g[1], &g[2], &g[3], &g[4]), 0);
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(w[i].rect == r[i] && g[i] == r[i]) << i;
        EXPECT_TRUE(r[i].width == 0 || r[i].height == 0 || w[i].pixels == dst.at(r[i].x, r[i].y)) << i;
    }
}

// ---- Window preparation -------------------------------------------------------------------

// Outputs of the preparation calls, preset so that the ones left alone show.
struct Prepared {
    kimg_windowConst src, mask;
    kimg_window dst;
    uint32_t nothing = 77, used = 77, overlap = 77;
    kip_status image(const kimg_image& s, const kimg_image* m, kimg_image& d, uint32_t depth = 1) {
        return kip_filterInitializeWindow_(&s, m, &d, &src, &mask, &dst, &nothing, depth);
    }
    kip_status window(const kimg_window& s, const kimg_window* m, const kimg_window& d, kimg_image* scratch,
                      uint32_t depth = 1) {
        return (depth == 1 ? kip_filterInitializeGCRWindow8_ : kip_filterInitializeGCRWindow16_)(
            &s, m, &d, &src, &mask, &dst, &nothing, &used, &overlap, scratch);
    }
};

TEST(ImagePreparation, NothingToDoAndErrors) {
    Image src(1, rect(0, 0, 8, 8)), far(1, rect(100, 100, 4, 4)), unbound, badMask(1, rect(0, 0, 8, 7));
    Image empty(1, rect(0, 0, 0, 5));
    Prepared p;
    const kimg_window sentinel = p.dst = kimg_window{rect(9, 9, 9, 9), 3, 1, nullptr, nullptr};
    ASSERT_EQ(p.image(src.img, nullptr, far.img), 0);
    EXPECT_EQ(p.nothing, 1u);
    EXPECT_EQ(p.dst.rect, sentinel.rect) << "out windows untouched when there is nothing to do";
    EXPECT_EQ(p.image(unbound.img, nullptr, far.img), kip_errImageUnbound);
    EXPECT_EQ(p.image(src.img, &badMask.img, far.img), kip_errMaskWindowMismatch);
    p.nothing = 0;
    ASSERT_EQ(p.image(empty.img, nullptr, far.img), 0);
    EXPECT_EQ(p.nothing, 1u);
}

TEST(ImagePreparation, UnboundDestinationGetsSourceRectDepthAndTransform) {
    Image src(2, rect(3, 4, 7, 5)), dst, mask(1, rect(3, 4, 7, 5)), unboundMask;
    kimg_xform xf = {{2, 0, 1, 0, 3, -1}};
    kimg_image_setXform(&src.img, &xf);
    Prepared p;
    ASSERT_EQ(p.image(src.img, &mask.img, dst.img, 2), 0);
    EXPECT_EQ(p.nothing, 0u);
    EXPECT_EQ(kiptest::windowOf(dst.img), rect(3, 4, 7, 5));
    EXPECT_EQ(kiptest::depthOf(dst.img), 2u);
    EXPECT_EQ(std::memcmp(&dst.img.xform, &xf, sizeof xf), 0);
    EXPECT_EQ(p.dst.rect, rect(3, 4, 7, 5));
    EXPECT_EQ(p.mask.rect, rect(3, 4, 7, 5));
    ASSERT_EQ(p.image(src.img, &unboundMask.img, dst.img, 2), 0);
    EXPECT_EQ(p.mask.image, nullptr) << "an unbound mask counts as none";
}

TEST(WindowPreparation, CommonRectangleMaskAndPrefill) {
    std::mt19937 rng(3);
    for (uint32_t depth : {1u, 2u}) {
        Image src(depth, rect(0, 0, 20, 10)), mask(1, rect(0, 0, 20, 10)), dst(depth, rect(5, 2, 30, 30)), scratch;
        Image otherMask(1, rect(0, 0, 19, 10));
        src.fillRandom(rng);
        kimg_window s = src.window(), m = mask.window(), d = dst.window(), om = otherMask.window(), nullMask{};
        Prepared p;
        ASSERT_EQ(p.window(s, nullptr, d, &scratch.img, depth), 0);
        EXPECT_EQ(dst.values(), std::vector<uint16_t>(30 * 30, 0)) << "no mask, so no prefill";
        ASSERT_EQ(p.window(s, &m, d, &scratch.img, depth), 0);
        EXPECT_TRUE(p.nothing == 0 && p.used == 1 && p.overlap == 0);
        EXPECT_EQ(p.src.rect, rect(5, 2, 15, 8));
        EXPECT_EQ(p.mask.rect, rect(5, 2, 15, 8));
        EXPECT_EQ(p.dst.pixels, dst.at(5, 2));
        for (int y = 2; y < 10; ++y)
            for (int x = 5; x < 20; ++x)
                ASSERT_EQ(std::memcmp(dst.at(x, y), src.at(x, y), depth), 0) << "prefill missing at " << x << "," << y;
        ASSERT_EQ(p.window(s, &nullMask, d, &scratch.img, depth), 0);
        EXPECT_EQ(p.used, 0u) << "a null mask window acts as no mask";
        EXPECT_EQ(p.window(s, &om, d, &scratch.img, depth), kip_errMaskWindowMismatch);
        EXPECT_EQ(p.window(nullMask, nullptr, d, &scratch.img, depth), kip_errImageUnbound);
        EXPECT_EQ(p.window(s, nullptr, nullMask, &scratch.img, depth), kip_errImageUnbound);
    }
}

TEST(WindowPreparation, SharedMemoryGoesToScratch) {
    Image img(1, rect(0, 0, 40, 30)), other(1, rect(0, 0, 40, 30));
    kimg_window whole = img.window();
    kimg_window left = kiptest::restrict(whole, rect(0, 0, 25, 30)),
                right = kiptest::restrict(whole, rect(20, 0, 20, 30));
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
        ASSERT_EQ(p.window(c.src, c.mask, c.dst, &scratch.img), 0) << c.what;
        EXPECT_EQ(p.overlap, c.overlap) << c.what;
        EXPECT_EQ(kiptest::isBound(scratch.img), c.overlap == 1) << c.what;
        if (c.overlap) {
            EXPECT_EQ(kiptest::windowOf(scratch.img), p.src.rect) << c.what;
            EXPECT_EQ(p.dst.image, scratch.img.store) << c.what;
        }
    }
    // Windows of one image that do not meet: nothing to do, nothing else set, nothing copied.
    Image scratch, from(1, rect(0, 0, 4, 4)), to(1, rect(0, 0, 4, 4));
    kip_pelSet8(&from.img, 9);
    Prepared p;
    p.src = from.window(), p.dst = to.window();
    ASSERT_EQ(p.window(kiptest::restrict(whole, rect(30, 0, 10, 30)), nullptr,
                       kiptest::restrict(whole, rect(0, 0, 30, 30)), &scratch.img),
              0);
    EXPECT_TRUE(p.nothing == 1 && p.used == 77 && p.overlap == 77);
    EXPECT_EQ(to.values(), std::vector<uint16_t>(16, 0));
}

TEST(WindowPreparation, FaultSweepLeavesNothingBehind) {
    std::mt19937 rng(5);
    Image src(1, rect(0, 0, 16, 16));
    src.fillRandom(rng);
    // Image level: an unbound destination is given pixels.
    kiptest::faultSweep([&] {
        Image dst;
        return Prepared().image(src.img, nullptr, dst.img);
    });
    // Window level: overlapping memory takes a scratch image.
    int allocations = kiptest::faultSweep([&] {
        Image scratch;
        Prepared p;
        kimg_window w = src.window();
        kip_status s = p.window(w, &w, w, &scratch.img);
        EXPECT_TRUE(!kip::failed(s) || !kiptest::isBound(scratch.img));
        return s;
    });
    EXPECT_GE(allocations, 1);
}

}  // namespace
