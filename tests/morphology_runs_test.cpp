// Masked flat elements from their runs against the rank route they stand in for: random elements
// (dense, sparse, disks, crosses, rings, lines, without their origin), images, image masks and
// windows, every instruction set forced; cancellation and allocation failures.
#include <string>

#include "morphology/morphology_internal.hpp"
#include "support/test_support.hpp"

using kiptest::rect;

namespace {

using Element = kip_filterMorphologyStructuringElement;

// An image whose window lies inside larger storage, at a random client position.
struct Img : kiptest::Image {
    Img() = default;
    Img(uint32_t depth, const kstd_rect32& r, int32_t pad) { bind(depth, r, pad); }
    void bind(uint32_t depth, const kstd_rect32& r, int32_t pad) {
        const kstd_rect32 storage = rect(r.x - pad, r.y - pad, r.width + 2 * pad, r.height + 2 * pad);
        uint32_t clipped = 0;
        EXPECT_EQ(kimg_image_assignNewRect(&img, depth, &storage), 0);
        kimg_image_setWindowRect(&img, &r, &clipped);
    }
};

struct Elem {
    Element e;
    explicit Elem(int32_t w, int32_t h, const std::vector<uint8_t>& members) {
        const kstd_pair32 size{w, h};
        EXPECT_EQ(kip_filterMorphologyStructuringElement_constructSize(&e, &size), 0);
        Img img(1, rect(-3, 5, w, h), 1);
        img.setValues(std::vector<uint16_t>(members.begin(), members.end()));
        EXPECT_EQ(kip_filterMorphologyStructuringElement_setMask(&e, &img.img), 0);
    }
    ~Elem() { kip_filterMorphologyStructuringElement_destruct(&e); }
};

// The hook that sends masked flat elements to the rank route.
int32_t runsOff(const uint16_t* label) {
    std::string text;
    while (*label) text.push_back(char(*label++));
    return text.rfind("kip_morphology_runs", 0) == 0;
}

struct PathGuard {
    ~PathGuard() {
        kprt_isOptimizationInhibitedFP = nullptr;
        ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
        ksys_attention_setRequested(0);
    }
};

// 0: as detected; 1: AVX-512 hidden; 2: SSE2 only; 3: no SIMD (the runs decline).
constexpr int kIsaCount = 4;
void chooseIsa(int isa) {
    const uint32_t features[] = {0xFFFFFFFFu, ~ksys_cpuFeatureAvx512bw,
                                 ~(ksys_cpuFeatureAvx2 | ksys_cpuFeatureAvx512bw), 0u};
    ksys_cpuinfo_setFeatureMask(features[isa]);
}

int32_t oddUpTo(std::mt19937& rng, int32_t max) { return 1 + 2 * int32_t(rng() % uint32_t((max + 1) / 2)); }

// A random element of one of several shapes; never all rectangle (that is the separable route).
std::vector<uint8_t> randomMembers(std::mt19937& rng, int32_t* w, int32_t* h, std::string* shape) {
    const uint32_t style = rng() % 8;
    const int32_t maxSide = rng() % 3 ? 11 : 31;
    *w = oddUpTo(rng, maxSide);
    *h = oddUpTo(rng, maxSide);
    if (style == 5) *h = 1;  // 1 x N
    if (style == 6) *w = 1;  // N x 1
    const int32_t cw = *w / 2, ch = *h / 2;
    static const char* const names[] = {"dense", "sparse", "disk", "cross", "ring", "1xN", "Nx1", "off-origin"};
    *shape = names[style];
    std::vector<uint8_t> m(size_t(*w) * size_t(*h), 0);
    auto at = [&](int32_t x, int32_t y) -> uint8_t& { return m[size_t(y) * size_t(*w) + size_t(x)]; };
    for (int32_t y = 0; y < *h; ++y)
        for (int32_t x = 0; x < *w; ++x) {
            const int64_t dx = x - cw, dy = y - ch, r2 = dx * dx * ch * ch + dy * dy * cw * cw,
                          outer = int64_t{cw} * cw * ch * ch;
            const bool member[] = {
                rng() % 5 != 0, rng() % 5 == 0, r2 <= outer, dx == 0 || dy == 0, r2 <= outer && 4 * r2 >= outer,
                rng() % 3 != 0};
            // Any non-zero value is a member: sparse elements use values other than 255.
            at(x, y) = member[std::min(style, 5u)] ? (style == 1 ? uint8_t(1 + rng() % 255) : 255) : 0;
        }
    if (style == 7) {  // without its origin: members in one corner quadrant only
        for (int32_t y = 0; y < *h; ++y)
            for (int32_t x = 0; x < *w; ++x)
                if (x <= cw || y <= ch) at(x, y) = 0;
        at(*w - 1, *h - 1) = 255;
    }
    // A full rectangle goes the separable way; thin it so this route is taken.
    bool full = true;
    for (uint8_t v : m) full = full && v;
    if (full) m[rng() % m.size()] = 0;
    return m;
}

struct Case {
    bool sixteen = false, masked = false, inPlace = false;
    uint32_t op = 0;
    int isa = 0;
    std::string where;
};

// One random case, both ways: the engines directly (destination prefilled with noise or, with an
// image mask, the source, as the driver leaves it), then the public entry, in place or not.
void randomCase(std::mt19937& rng, Case c) {
    const uint32_t depth = c.sixteen ? 2 : 1;
    int32_t ew = 1, eh = 1;
    std::string shape;
    const std::vector<uint8_t> members = randomMembers(rng, &ew, &eh, &shape);
    Elem e(ew, eh, members);
    bool empty = true;  // no member at all: declined
    for (uint8_t m : members) empty = empty && !m;
    // Wide and tall images at 8 bits only: the 16-bit rank route clears 2 MiB per 8 columns.
    const bool wide = !c.sixteen && rng() % 10 == 0;
    const kstd_rect32 r = rect(int32_t(rng() % 21) - 10, int32_t(rng() % 21) - 10,
                               1 + int32_t(rng() % (wide        ? 300
                                                    : c.sixteen ? 48
                                                                : 80)),
                               1 + int32_t(rng() % (wide ? 270 : 40)));
    Img src(depth, r, int32_t(rng() % 3));
    src.fillRandom(rng);
    std::vector<uint16_t> v = src.values();
    const uint32_t tone = rng() % 3;
    for (uint16_t& p : v) {
        if (tone == 1) p = uint16_t(p % 3 * (c.sixteen ? 30000 : 120));  // plateaus and ties
        if (tone == 2 && c.sixteen) p = uint16_t(65535 - p % 4);         // near the top
        if (tone == 2 && !c.sixteen) p = uint16_t(255 - p % 4);
    }
    src.setValues(v);
    Img mask;
    if (c.masked) {
        mask.bind(1, r, int32_t(rng() % 2));
        std::vector<uint16_t> m(size_t(r.width) * size_t(r.height));
        const uint32_t density = 1 + rng() % 4;
        for (uint16_t& x : m) x = rng() % 4 < density ? 255 : 0;
        mask.setValues(m);
    }
    c.where = std::string(c.sixteen ? "16-bit " : "8-bit ") + shape + " " + std::to_string(ew) + "x" +
              std::to_string(eh) + " on " + std::to_string(r.width) + "x" + std::to_string(r.height) + " op " +
              std::to_string(c.op) + " isa " + std::to_string(c.isa) + (c.masked ? " masked" : "") +
              (c.inPlace ? " in place" : "");

    kip_filterMorphologyParams params;
    kip_filterMorphologyParams_init(&params);
    const kimg_window sw = src.window(), mw = mask.window();
    const kimg_window* maskWindow = c.masked ? &mw : nullptr;

    // The engines, one pass each way.
    const auto runs = c.sixteen ? kip_filterMorphologyRuns16_ : kip_filterMorphologyRuns8_;
    const auto rank = c.sixteen ? kip_filterMorphologyRankRoute16_ : kip_filterMorphologyRankRoute8_;
    for (int32_t dilate : {0, 1}) {
        Img a(depth, r, 1), b(depth, r, 0);
        if (c.masked) {
            a.setValues(src.values());
        } else {
            a.fillRandom(rng);
        }
        b.setValues(a.values());
        const kimg_window aw = a.window(), bw = b.window();
        chooseIsa(c.isa);
        const kip_status sa = runs(&sw, maskWindow, &params, &e.e, dilate, &aw);
        chooseIsa(0);
        ASSERT_EQ(sa, c.isa == 3 || empty ? kip_errNotAvailable : 0) << c.where;
        ASSERT_EQ(rank(&sw, maskWindow, &params, &e.e, dilate, &bw), 0) << c.where;
        if (sa == 0) {
            EXPECT_EQ(a.values(), b.values()) << c.where << " dilate " << dilate;
        }
    }

    // The entry with the runs allowed and inhibited.
    std::vector<uint16_t> results[2];
    for (int off = 0; off < 2; ++off) {
        Img dst(depth, r, 0);
        if (c.inPlace) src.setValues(v);
        kimg_image* out = c.inPlace ? &src.img : &dst.img;
        chooseIsa(c.isa);
        kprt_isOptimizationInhibitedFP = off ? &runsOff : nullptr;
        const kip_status s = (c.sixteen ? kip_filterMorphology16 : kip_filterMorphology8)(
            &src.img, c.masked ? &mask.img : nullptr, c.op, &params, &e.e, out);
        kprt_isOptimizationInhibitedFP = nullptr;
        chooseIsa(0);
        ASSERT_EQ(s, 0) << c.where;
        results[off] = c.inPlace ? src.values() : dst.values();
    }
    EXPECT_EQ(results[0], results[1]) << c.where;
}

TEST(MorphologyRuns, MatchTheRankRoute) {
    PathGuard guard;
    std::mt19937 rng(4117);
    for (int iter = 0; iter < 1000; ++iter) {
        Case c;
        c.sixteen = iter % 4 == 3;
        c.masked = rng() % 3 == 0;
        c.inPlace = rng() % 3 == 0;
        c.op = rng() % 4;
        c.isa = (iter / 4) % kIsaCount;
        randomCase(rng, c);
        if (HasFailure()) return;
    }
}

// A request to cancel is seen before the first row is written.
TEST(MorphologyRuns, CancellationBeforeAnyRow) {
    PathGuard guard;
    std::mt19937 rng(4118);
    const std::vector<uint8_t> cross = {0, 255, 0, 255, 255, 255, 0, 255, 0};
    Elem e(3, 3, cross);
    Img src(1, rect(0, 0, 300, 300), 0), dst(1, rect(0, 0, 300, 300), 0);
    src.fillRandom(rng);
    dst.fillRandom(rng);
    const std::vector<uint16_t> before = dst.values();
    kip_filterMorphologyParams params;
    kip_filterMorphologyParams_init(&params);
    const kimg_window sw = src.window(), dw = dst.window();
    ksys_attention_setRequested(1);
    const kip_status attention = ksys_attention_check();
    ASSERT_TRUE(kip_status_isFailure(attention));
    const int64_t live = ksys_memory_getLiveBlocks();
    EXPECT_EQ(kip_filterMorphologyRuns8_(&sw, nullptr, &params, &e.e, 1, &dw), attention);
    ksys_attention_setRequested(0);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);
    EXPECT_EQ(dst.values(), before);
}

TEST(MorphologyRuns, FaultSweep) {
    std::mt19937 rng(4119);
    const std::vector<uint8_t> cross = {0, 255, 0, 255, 255, 255, 0, 255, 0};
    Elem e(3, 3, cross);
    for (bool sixteen : {false, true}) {
        const uint32_t depth = sixteen ? 2 : 1;
        Img src(depth, rect(0, 0, 40, 20), 0), mask(1, rect(0, 0, 40, 20), 0), dst(depth, rect(0, 0, 40, 20), 0);
        src.fillRandom(rng);
        std::vector<uint16_t> m(800);
        for (uint16_t& x : m) x = rng() % 2 ? 255 : 0;
        mask.setValues(m);
        kip_filterMorphologyParams params;
        kip_filterMorphologyParams_init(&params);
        const kimg_window sw = src.window(), mw = mask.window(), dw = dst.window();
        const auto runs = sixteen ? kip_filterMorphologyRuns16_ : kip_filterMorphologyRuns8_;
        for (const kimg_window* maskWindow : {static_cast<const kimg_window*>(nullptr), &mw}) {
            const int allocations = kiptest::faultSweep([&] { return runs(&sw, maskWindow, &params, &e.e, 0, &dw); });
            EXPECT_GE(allocations, 1);
        }
    }
}

}  // namespace
