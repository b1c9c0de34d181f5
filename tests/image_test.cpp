// Images, windows, rectangles and pixel operations, checked against brute-force pixel sets.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "support/test_support.hpp"

using kiptest::Image;
using kiptest::rect;

namespace {

std::set<std::pair<int, int>> pixels(const kstd_rect32& r) {
    std::set<std::pair<int, int>> s;
    for (int y = r.y; y < r.y + r.height; ++y)
        for (int x = r.x; x < r.x + r.width; ++x) s.insert({x, y});
    return s;
}

TEST(Rect, IntersectionMatchesPixelSetsAndKeepsTouchingStrips) {
    std::mt19937 rng(11);
    auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int i = 0; i < 3000; ++i) {
        kstd_rect32 a = rect(uni(-8, 8), uni(-8, 8), uni(-2, 10), uni(-2, 10));
        kstd_rect32 b = rect(uni(-8, 8), uni(-8, 8), uni(-2, 10), uni(-2, 10));
        kstd_rect32 r = a;
        ASSERT_EQ(kstd_rect32_intersect(&r, &b), 0);
        std::set<std::pair<int, int>> pa = pixels(a), pb = pixels(b), both;
        for (auto& p : pa)
            if (pb.count(p)) both.insert(p);
        ASSERT_EQ(pixels(r), both) << a << " " << b;
        // Not even touching: the null rectangle (touching ones keep the shared edge as an empty strip).
        const bool apart = std::max(a.x, b.x) > std::min(a.x + a.width, b.x + b.width) ||
                           std::max(a.y, b.y) > std::min(a.y + a.height, b.y + b.height);
        ASSERT_TRUE(!apart || r == rect(0, 0, 0, 0)) << a << " " << b << " gave " << r;
        ASSERT_EQ(kiptest::get<uint32_t>(kstd_rect32_getIsNull, &r), both.empty() ? 1u : 0u);
    }
    kstd_rect32 edge = rect(10, 0, 5, 8), clip = rect(0, 0, 10, 8);
    kstd_rect32_intersect(&edge, &clip);
    EXPECT_EQ(edge, rect(10, 0, 0, 8));
    kstd_rect32 huge = rect(INT32_MAX - 1, -10, INT32_MAX, INT32_MAX), other = rect(0, 0, INT32_MAX, 5);
    kstd_rect32_intersect(&huge, &other);
    EXPECT_EQ(huge, rect(INT32_MAX - 1, 0, 1, 5)) << "edges computed without overflow";
}

TEST(Rect, TrimReportsEmptyGrowsOnNegativeAmounts) {
    kstd_rect32 r = rect(0, 0, 10, 8);
    EXPECT_EQ(kstd_rect32_trim(&r, 2, 0, 1, 1, 1, 0), 0);
    EXPECT_EQ(r, rect(2, 1, 8, 6));
    EXPECT_EQ(kstd_rect32_trim(&r, 4, 4, 0, 0, 1, 0), kip_errRectEmpty);
    EXPECT_EQ(r, rect(2, 1, 8, 6)) << "unchanged when reporting empty";
    EXPECT_EQ(kstd_rect32_trim(&r, 4, 4, 0, 0, 0, 0), 0);
    EXPECT_EQ(r, rect(0, 0, 0, 0));
    r = rect(5, 5, 3, 3);
    EXPECT_EQ(kstd_rect32_trim(&r, -2, -2, -1, -1, 1, 0), 0);
    EXPECT_EQ(r, rect(3, 4, 7, 5));
    EXPECT_EQ(kstd_rect32_trim(&r, -2, -2, -1, -1, 1, 1), 0);
    EXPECT_EQ(r, rect(3, 4, 7, 5)) << "negative amounts clamp to 0";
}

TEST(Image, HandlesShareStorageAndTheLastOneFrees) {
    int64_t live = ksys_memory_getLiveBlocks();
    kimg_image a, b, c;
    ASSERT_EQ(kimg_image_construct(&a, 1, 4, 3), 0);
    kimg_image_constructUnbound(&b);
    kimg_image_constructCopy(&c, &a);
    kimg_image_assign(&b, &a);
    kimg_image_assign(&b, &b);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live + 1);
    EXPECT_TRUE(a.store == b.store && a.store == c.store);
    kimg_image_destruct(&a);
    kimg_image_destruct(&c);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live + 1);
    kimg_image_destruct(&b);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);
    EXPECT_EQ(kimg_image_construct(&a, 3, 4, 4), kstd_errInvalidArgument);
    EXPECT_EQ(kimg_image_construct(&a, 1, -1, 4), kstd_errInvalidArgument);
}

TEST(Image, OriginWindowAndWrappedMemory) {
    std::vector<uint16_t> buffer(10 * 7, 0);
    buffer[3 * 10 + 4] = 999;
    kimg_image img;
    kstd_rect32 r = rect(100, 200, 8, 7);
    int64_t live = ksys_memory_getLiveBlocks();
    ASSERT_EQ(kimg_image_constructWrap(&img, 2, &r, 10, buffer.data()), 0);
    uint32_t clipped = 0;
    kstd_rect32 want = rect(102, 201, 10, 3);
    ASSERT_EQ(kimg_image_setWindowRect(&img, &want, &clipped), 0);
    EXPECT_EQ(clipped, 1u);
    EXPECT_EQ(kiptest::windowOf(img), rect(102, 201, 6, 3));
    ASSERT_EQ(kimg_image_setOrigin(&img, 0, 0), 0);
    kimg_window w;
    kimg_window_init(&w, &img);
    EXPECT_EQ(w.rect, rect(0, 0, 6, 3));
    EXPECT_EQ(*static_cast<uint16_t*>(kiptest::windowPixel(w, 2, 2)), 999);
    kimg_window sub;
    ASSERT_EQ(kimg_window_window(&sub, &w, 2, 2, 10, 10, &clipped), 0);
    EXPECT_EQ(clipped, 1u);
    EXPECT_EQ(sub.rect, rect(2, 2, 4, 1));
    EXPECT_EQ(*static_cast<uint16_t*>(sub.pixels), 999);
    ASSERT_EQ(kimg_window_window(&sub, &w, 50, 50, 2, 2, &clipped), 0);
    EXPECT_EQ(kiptest::get<uint32_t>(kimg_window_getIsNull, &sub), 1u);
    kimg_image_destruct(&img);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);
    EXPECT_EQ(buffer[3 * 10 + 4], 999) << "wrapped memory belongs to the caller";
}

// Brute force: the sets of bytes that two windows cover.
std::set<uintptr_t> bytesOf(const kimg_window& w) {
    std::set<uintptr_t> s;
    for (int y = 0; y < w.rect.height; ++y)
        for (int x = 0; x < w.rect.width * w.bytesPerPixel; ++x)
            s.insert(reinterpret_cast<uintptr_t>(w.pixels) + uintptr_t(y) * w.stride * w.bytesPerPixel + x);
    return s;
}

TEST(Pixel, OverlapCheckMatchesByteSets) {
    std::mt19937 rng(21);
    auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::vector<uint8_t> memory(1024);
    int sharedCases = 0;
    for (int i = 0; i < 3000; ++i) {
        kimg_window w[2];
        kimg_image img[2];
        for (int k = 0; k < 2; ++k) {
            int depth = uni(1, 2), width = uni(1, 12), height = uni(1, 12), stride = width + uni(0, 20);
            size_t bytes = size_t(stride) * height * depth;
            size_t start = size_t(uni(0, int(memory.size() - bytes)) / 2 * 2);
            if (uni(0, 1) == 0) start = size_t(uni(0, 40)) * 2;  // crowd the start so overlaps are frequent
            if (start + bytes > memory.size()) start = 0;
            kstd_rect32 r = rect(uni(-5, 5), uni(-5, 5), width, height);
            ASSERT_EQ(kimg_image_constructWrap(&img[k], uint32_t(depth), &r, stride, memory.data() + start), 0);
            kimg_window_init(&w[k], &img[k]);
            uint32_t clipped;
            kimg_window_window(&w[k], &w[k], r.x + uni(0, 2), r.y + uni(0, 2), uni(1, width), uni(1, height), &clipped);
        }
        std::set<uintptr_t> a = bytesOf(w[0]), b = bytesOf(w[1]);
        bool shared = false;
        for (uintptr_t p : a) shared = shared || b.count(p) != 0;
        sharedCases += shared;
        ASSERT_EQ(kip_pelfunc_checkMemoryOverlap(&w[0], &w[1]), shared ? kip_errMemoryOverlap : 0) << "case " << i;
        ASSERT_EQ(kip_pelfunc_checkMemoryOverlap(&w[1], &w[0]), shared ? kip_errMemoryOverlap : 0) << "case " << i;
        kimg_image_destruct(&img[0]);
        kimg_image_destruct(&img[1]);
    }
    EXPECT_GT(sharedCases, 300) << "the random windows must overlap often enough to test both answers";
    EXPECT_LT(sharedCases, 2700);
}

TEST(Pixel, CopyBetweenOverlappingWindowsActsThroughATemporary) {
    std::mt19937 rng(31);
    auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int i = 0; i < 500; ++i) {
        Image img(2, rect(0, 0, 24, 20));
        img.fillRandom(rng);
        int w = uni(1, 12), h = uni(1, 10);
        kstd_rect32 rs = rect(uni(0, 24 - w), uni(0, 20 - h), w, h), rd = rect(uni(0, 24 - w), uni(0, 20 - h), w, h);
        std::vector<uint16_t> expect = img.values();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) expect[size_t(rd.y + y) * 24 + rd.x + x] = img.p16(rs.x + x, rs.y + y);
        kimg_window s = kiptest::restrict(img.window(), rs), d = kiptest::restrict(img.window(), rd);
        ASSERT_EQ(kip_pelCopyWindow16(&s, &d), 0);
        ASSERT_EQ(img.values(), expect) << "from " << rs << " to " << rd;
    }
    Image a(1, rect(0, 0, 4, 4)), b(1, rect(0, 0, 5, 4)), c(2, rect(0, 0, 4, 4));
    kimg_window wa = a.window(), wb = b.window(), wc = c.window();
    EXPECT_EQ(kip_pelCopyWindow8(&wa, &wb), kimg_errSizeMismatch);
    EXPECT_EQ(kip_pelCopyWindow8(&wa, &wc), kimg_errDepthMismatch);
}

TEST(Pixel, EqualityFillAndImageCopy) {
    std::mt19937 rng(41);
    Image a(1, rect(0, 0, 6, 5)), b(1, rect(10, 10, 6, 5)), unbound;
    a.fillRandom(rng);
    ASSERT_EQ(kip_pelCopy8(&a.img, &b.img), 0) << "no common rectangle: nothing to copy";
    kimg_image_setOrigin(&b.img, 0, 0);
    ASSERT_EQ(kip_pelCopy8(&a.img, &b.img), 0);
    uint32_t equal = 1;  // cleared when the images differ
    kip_pelAndRectsEqual8(&a.img, &b.img, &equal);
    EXPECT_EQ(equal, 1u);
    b.p8(5, 4) ^= 1;
    kip_pelAndRectsEqual8(&a.img, &b.img, &equal);
    EXPECT_EQ(equal, 0u);
    equal = 1;
    kip_pelAndRectsEqual8(&a.img, &unbound.img, &equal);
    EXPECT_EQ(equal, 0u);
    EXPECT_EQ(kip_pelSet8(&unbound.img, 1), kip_errImageUnbound);
    ASSERT_EQ(kip_pelSet8(&a.img, 7), 0);
    EXPECT_EQ(a.values(), std::vector<uint16_t>(30, 7));
}

TEST(FaultSweep, ImageOperationsLeaveInputsAlone) {
    kstd_rect32 r = rect(-3, 2, 9, 4);
    std::vector<uint8_t> memory(64);
    for (bool wrap : {false, true})
        kiptest::faultSweep([&] {
            kimg_image a;
            kip_status s =
                wrap ? kimg_image_constructWrap(&a, 1, &r, 12, memory.data()) : kimg_image_constructRect(&a, 2, &r);
            return kip_status_isFailure(s) ? s : kimg_image_destruct(&a);
        });
    Image held(1, rect(0, 0, 3, 3));
    kiptest::faultSweep([&] { return kimg_image_assignNewRect(&held.img, 1, &r); },
                        [&](kip_status, int) {
                            EXPECT_EQ(kiptest::windowOf(held.img), rect(0, 0, 3, 3))
                                << "a failed assignNew keeps the old pixels";
                        },
                        [&] { kimg_image_assignNew(&held.img, 1, 3, 3); });
    // Overlapping windows with different strides copy through a temporary block.
    std::mt19937 rng(51);
    Image img(1, rect(0, 0, 16, 16));
    std::vector<uint16_t> before;
    kiptest::faultSweep(
        [&] {
            kimg_image wide;
            kstd_rect32 wr = rect(0, 0, 4, 4);
            kip_status st = kimg_image_constructWrap(&wide, 1, &wr, 20, static_cast<uint8_t*>(img.at(0, 0)) + 1);
            if (kip_status_isFailure(st)) return st;
            kimg_window s = kiptest::restrict(img.window(), wr), d;
            kimg_window_init(&d, &wide);
            st = kip_pelCopyWindow8(&s, &d);
            kimg_image_destruct(&wide);
            return st;
        },
        [&](kip_status, int) { EXPECT_EQ(img.values(), before); },
        [&] {
            img.fillRandom(rng);
            before = img.values();
        });
}

}  // namespace
