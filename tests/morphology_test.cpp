// Grey-scale morphology: parameters and structuring elements, the entries against a brute-force
// reference on every path, refusals, cancellation and fault sweeps.
#include <algorithm>
#include <string>

#include "morphology/morphology_internal.hpp"
#include "reference/morphology_reference.hpp"
#include "support/test_support.hpp"

using kiptest::rect;

namespace {

using Element = kip_filterMorphologyStructuringElement;

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

struct Elem {
    Element e;
    Elem() { EXPECT_EQ(kip_filterMorphologyStructuringElement_construct(&e), 0); }
    Elem(int32_t w, int32_t h) {
        const kstd_pair32 size{w, h};
        EXPECT_EQ(kip_filterMorphologyStructuringElement_constructSize(&e, &size), 0);
    }
    ~Elem() { kip_filterMorphologyStructuringElement_destruct(&e); }
    void setMembers(int32_t w, int32_t h, const std::vector<uint8_t>& m) {
        Img img(1, rect(3, -2, w, h), 1);
        img.setValues(std::vector<uint16_t>(m.begin(), m.end()));
        ASSERT_EQ(kip_filterMorphologyStructuringElement_setMask(&e, &img.img), 0);
    }
    kip_status setWeights(int32_t w, int32_t h, const std::vector<int16_t>& weights) {
        Img img(2, rect(-4, 9, w, h), 2);
        std::vector<uint16_t> v;
        for (int16_t x : weights) v.push_back(uint16_t(x));
        img.setValues(v);
        return kip_filterMorphologyStructuringElement_setOffsetImage(&e, &img.img);
    }
    std::vector<uint16_t> weights() const {
        kiptest::Image out;
        EXPECT_EQ(kip_filterMorphologyStructuringElement_getOffsetImage(&e, &out.img), 0);
        return out.values();
    }
};

bool same(const Element& a, const Element& b) {
    uint32_t equal = 7;
    return kip_filterMorphologyStructuringElement_compareEqual(&a, &b, &equal) == 0 && equal == 1;
}

int32_t inhibitHook(const uint16_t*) { return 1; }
// Inhibits the paths whose label contains "_col" (hookRows false) or "_row" (true).
bool hookRows = false;
int32_t partHook(const uint16_t* label) {
    std::string text;
    while (*label) text.push_back(char(*label++));
    return text.find(hookRows ? "_row" : "_col") != std::string::npos;
}

struct PathGuard {
    ~PathGuard() {
        kprt_isOptimizationInhibitedFP = nullptr;
        ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
        ksys_attention_setRequested(0);
    }
};

constexpr int kPaths = 7;
// 0: as detected; 1: SSE2 only; 2: no SIMD; 3: the hook inhibits every optimised path;
// 4: AVX-512 hidden; 5: column steps inhibited; 6: row steps inhibited.
void choosePath(int path) {
    const uint32_t features[] = {0xFFFFFFFFu,
                                 ~(ksys_cpuFeatureAvx2 | ksys_cpuFeatureAvx512bw),
                                 0u,
                                 0xFFFFFFFFu,
                                 ~ksys_cpuFeatureAvx512bw,
                                 0xFFFFFFFFu,
                                 0xFFFFFFFFu};
    ksys_cpuinfo_setFeatureMask(features[path]);
    hookRows = path == 6;
    kprt_isOptimizationInhibitedFP = path == 3 ? &inhibitHook : path >= 5 ? &partHook : nullptr;
}

int32_t oddSize(std::mt19937& rng, int32_t max) {
    const int32_t small = rng() % 2 ? 7 : max;
    return 1 + 2 * int32_t(rng() % uint32_t((small + 1) / 2));
}

std::vector<uint8_t> randomMask(std::mt19937& rng, size_t n) {
    const uint32_t style = rng() % 5;
    std::vector<uint8_t> m(n);
    uint8_t run = 255;
    for (uint8_t& v : m) {
        if (style == 0)
            v = 0;
        else if (style == 1)
            v = 255;
        else if (style == 2)
            v = rng() % 2 ? 255 : 0;
        else {
            if (rng() % 6 == 0) run = uint8_t(255 - run);  // runs of a few pixels
            v = run;
        }
    }
    return m;
}

// The element of a random case: a rectangle, or (8-bit) random members with random weights.
void randomElement(std::mt19937& rng, bool weighted, kipref::MorphologyCase& c, Elem& e) {
    c.ew = oddSize(rng, weighted ? 15 : 31);
    c.eh = oddSize(rng, weighted ? 15 : 31);
    const size_t n = size_t(c.ew) * size_t(c.eh);
    c.members.assign(n, 255);
    const kstd_pair32 size{c.ew, c.eh};
    ASSERT_EQ(kip_filterMorphologyStructuringElement_setSize(&e.e, &size), 0);
    // Masked flat elements keep their centre, so that no neighbourhood is empty.
    if (!weighted && rng() % 3 == 0) {
        for (uint8_t& m : c.members) m = rng() % 3 ? 255 : 0;
        c.members[size_t(c.eh / 2) * size_t(c.ew) + size_t(c.ew / 2)] = 255;
        e.setMembers(c.ew, c.eh, c.members);
    }
    if (!weighted) return;
    if (rng() % 3) {
        for (uint8_t& m : c.members) m = rng() % 4 ? 255 : 0;
        e.setMembers(c.ew, c.eh, c.members);
    }
    const uint32_t style = rng() % 4;
    c.weights.resize(n);
    for (int16_t& w : c.weights) {
        const int32_t r = int32_t(rng() % 511) - 255;
        w = int16_t(style == 0 ? r : style == 1 ? r / 16 : style == 2 ? 0 : (rng() % 2 ? 255 : -255));
    }
    ASSERT_EQ(e.setWeights(c.ew, c.eh, c.weights), 0);
    kip_filterMorphologyStructuringElement_setUseOffsetImage(&e.e, 1 + rng() % 3);
}

// One random call of an entry against the reference on the common rectangle; pixels of the
// destination outside it stay untouched.
void randomEntryCase(std::mt19937& rng, int path, bool sixteen, bool weighted) {
    kipref::MorphologyCase c;
    c.sixteen = sixteen;
    const uint32_t depth = sixteen ? 2 : 1;
    Elem e;
    randomElement(rng, weighted, c, e);
    const kstd_rect32 sr = rect(int32_t(rng() % 11) - 5, int32_t(rng() % 11) - 5, 1 + int32_t(rng() % 70),
                                1 + int32_t(rng() % (rng() % 4 ? 30 : 80)));
    Img src(depth, sr, int32_t(rng() % 3));
    src.fillRandom(rng);
    if (rng() % 3 == 0) {  // few grey levels, so that ties and plateaus occur
        std::vector<uint16_t> v = src.values();
        for (uint16_t& p : v) p = uint16_t(p % 3 * (sixteen ? 30000 : 120));
        src.setValues(v);
    }
    Img mask;
    std::vector<uint8_t> maskPixels;
    const bool masked = rng() % 3 != 0;
    if (masked) {
        mask.bind(1, sr, int32_t(rng() % 2));
        maskPixels = randomMask(rng, size_t(sr.width) * size_t(sr.height));
        mask.setValues(std::vector<uint16_t>(maskPixels.begin(), maskPixels.end()));
    }
    const uint32_t op = rng() % 4;
    const bool inPlace = rng() % 4 == 0, windowEntry = rng() % 2;
    Img dst;
    kstd_rect32 common = sr;
    if (inPlace) {
        kimg_image_assign(&dst.img, &src.img);
    } else {
        const kstd_rect32 dr = rect(sr.x + int32_t(rng() % 9) - 4, sr.y + int32_t(rng() % 9) - 4,
                                    sr.width + int32_t(rng() % 9) - 4, sr.height + int32_t(rng() % 9) - 4);
        if (dr.width < 1 || dr.height < 1) return;
        dst.bind(depth, dr, int32_t(rng() % 2));
        dst.fillRandom(rng);
        const int32_t x0 = std::max(sr.x, dr.x), y0 = std::max(sr.y, dr.y);
        const int32_t x1 = std::min(sr.x + sr.width, dr.x + dr.width),
                      y1 = std::min(sr.y + sr.height, dr.y + dr.height);
        if (x1 <= x0 || y1 <= y0) return;
        common = rect(x0, y0, x1 - x0, y1 - y0);
    }
    const std::vector<uint16_t> sourceBefore = src.values(), destinationBefore = dst.values();
    const kstd_rect32 windowBefore = dst.window().rect;
    // The engines see the source and mask cut to the common rectangle.
    c.width = common.width;
    c.height = common.height;
    for (int32_t y = common.y; y < common.y + common.height; ++y)
        for (int32_t x = common.x; x < common.x + common.width; ++x) {
            c.pixels.push_back(sixteen ? src.p16(x, y) : src.p8(x, y));
            if (masked) c.mask.push_back(mask.p8(x, y));
        }
    // The 8-bit 1 x 1 element copies, weights aside.
    const std::vector<uint16_t> expected =
        !sixteen && c.ew == 1 && c.eh == 1 ? c.pixels : kipref::referenceMorphology(c, op);

    kip_filterMorphologyParams params;
    kip_filterMorphologyParams_init(&params);
    choosePath(path);
    kip_status s;
    if (windowEntry) {
        const kimg_window sw = src.window(), mw = mask.window();
        kimg_window dw = dst.window();
        s = (sixteen ? kip_filterMorphologyWindow16 : kip_filterMorphologyWindow8)(&sw, masked ? &mw : nullptr, op,
                                                                                   &params, &e.e, &dw);
    } else {
        s = (sixteen ? kip_filterMorphology16 : kip_filterMorphology8)(&src.img, masked ? &mask.img : nullptr, op,
                                                                       &params, &e.e, &dst.img);
    }
    choosePath(0);
    const std::string where = std::string(sixteen ? "16" : "8") + "-bit " + (weighted ? "weighted " : "flat ") +
                              std::to_string(c.ew) + "x" + std::to_string(c.eh) + " on " + std::to_string(c.width) +
                              "x" + std::to_string(c.height) + " op " + std::to_string(op) + " path " +
                              std::to_string(path) + (masked ? " masked" : "") + (inPlace ? " in place" : "") +
                              (windowEntry ? " window" : " image");
    ASSERT_EQ(s, 0) << where;
    // With the truncated border the destination keeps its window, also where it reaches past
    // the source: only the clipped border narrows it.
    const kstd_rect32 d = dst.window().rect;
    EXPECT_EQ(d, windowBefore) << where;
    const std::vector<uint16_t> after = dst.values();
    size_t i = 0, mismatches = 0;
    for (int32_t y = d.y; y < d.y + d.height; ++y)
        for (int32_t x = d.x; x < d.x + d.width; ++x, ++i) {
            const bool in =
                x >= common.x && x < common.x + common.width && y >= common.y && y < common.y + common.height;
            const uint16_t want = in ? expected[size_t(y - common.y) * size_t(common.width) + size_t(x - common.x)]
                                     : (inPlace ? sourceBefore[i] : destinationBefore[i]);
            if (after[i] != want && ++mismatches <= 3)
                ADD_FAILURE() << where << " at (" << x << ", " << y << "): " << after[i] << " != " << want;
        }
    if (!inPlace) {
        EXPECT_EQ(src.values(), sourceBefore) << where;
    }
}

TEST(MorphologyRandom, RectanglesMatchReferenceOnEveryPath) {
    PathGuard guard;
    std::mt19937 rng(1207);
    for (int iter = 0; iter < 2100; ++iter) {
        randomEntryCase(rng, iter % kPaths, iter % 3 == 0, false);
        if (HasFailure()) return;
    }
}

TEST(MorphologyRandom, WeightedElementsMatchReferenceOnEveryPath) {
    PathGuard guard;
    std::mt19937 rng(1208);
    for (int iter = 0; iter < 1400; ++iter) {
        randomEntryCase(rng, iter % kPaths, false, true);
        if (HasFailure()) return;
    }
}

// Wide rows: several vector blocks with overlapping tails, each instruction set and step in turn,
// against the scalar steps and the general weighted engine; some rectangles on large images
// (tall ones over several row blocks of the fused pass, wide ones over several of its strips).
TEST(MorphologyRandom, VectorPathsMatchScalarSteps) {
    PathGuard guard;
    std::mt19937 rng(1209);
    for (int iter = 0; iter < 80; ++iter) {
        const bool sixteen = iter % 3 == 2, weighted = iter % 3 == 0;
        const uint32_t depth = sixteen ? 2 : 1;
        kipref::MorphologyCase c;
        Elem e;
        randomElement(rng, weighted, c, e);
        // Large images get rectangles short enough for the fused pass.
        const bool large = !weighted && rng() % 4 == 0;
        if (large) {
            c.ew = oddSize(rng, 31), c.eh = 1 + 2 * int32_t(rng() % 6);
            const kstd_pair32 size{c.ew, c.eh};
            ASSERT_EQ(kip_filterMorphologyStructuringElement_setSize(&e.e, &size), 0);
        }
        const bool wide = large && rng() % 2;
        const kstd_rect32 r =
            wide    ? rect(0, 0, (sixteen ? 8200 : 16400) + int32_t(rng() % 900), 2 + int32_t(rng() % 40))
            : large ? rect(0, 0, (sixteen ? 520 : 1030) + int32_t(rng() % 500), 300 + int32_t(rng() % 250))
                    : rect(0, 0, 1 + int32_t(rng() % 400), 1 + int32_t(rng() % 80));
        Img src(depth, r, int32_t(rng() % 2)), mask(1, r);
        src.fillRandom(rng);
        const std::vector<uint8_t> m = randomMask(rng, size_t(r.width) * size_t(r.height));
        mask.setValues(std::vector<uint16_t>(m.begin(), m.end()));
        const bool masked = rng() % (large ? 4 : 2) == 0;
        const uint32_t op = rng() % 4;
        kip_filterMorphologyParams params{1};
        std::vector<uint16_t> results[kPaths];
        for (int path : {3, 0, 1, 2, 4, 5, 6}) {
            Img out;
            choosePath(path);
            const kip_status s = (sixteen ? kip_filterMorphology16 : kip_filterMorphology8)(
                &src.img, masked ? &mask.img : nullptr, op, &params, &e.e, &out.img);
            choosePath(0);
            ASSERT_EQ(s, 0);
            results[path] = out.values();
            EXPECT_EQ(results[path], results[3])
                << "path " << path << " element " << c.ew << "x" << c.eh << " on " << r.width << "x" << r.height
                << " op " << op << (weighted ? " weighted" : "") << (masked ? " masked" : "");
        }
        if (HasFailure()) return;
    }
}

// Opening and closing are their two passes, with and without an image mask.
TEST(MorphologyDriver, OpenAndCloseAreTheirTwoPasses) {
    std::mt19937 rng(1210);
    for (bool weighted : {false, true})
        for (bool masked : {false, true}) {
            kipref::MorphologyCase c;
            Elem e;
            randomElement(rng, weighted, c, e);
            const kstd_rect32 r = rect(2, 3, 57, 41);
            Img src(1, r), mask(1, r);
            src.fillRandom(rng);
            const std::vector<uint8_t> m = randomMask(rng, size_t(r.width) * size_t(r.height));
            mask.setValues(std::vector<uint16_t>(m.begin(), m.end()));
            const kip_filterMorphologyParams p{1};
            const kimg_image* mk = masked ? &mask.img : nullptr;
            for (uint32_t op : {2u, 3u}) {
                Img whole, first, second;
                ASSERT_EQ(kip_filterMorphology8(&src.img, mk, op, &p, &e.e, &whole.img), 0);
                ASSERT_EQ(kip_filterMorphology8(&src.img, mk, op == 2 ? 1u : 0u, &p, &e.e, &first.img), 0);
                ASSERT_EQ(kip_filterMorphology8(&first.img, mk, op == 2 ? 0u : 1u, &p, &e.e, &second.img), 0);
                EXPECT_EQ(whole.values(), second.values()) << "op " << op << (masked ? " masked" : "");
            }
        }
}

// Pixels with an empty neighbourhood (every neighbour masked off, or a masked element without its
// centre reaching only outside the image) get through the entries exactly what the rank filter
// gives them, on every path, with 1 and several threads. Opening and closing are two rank passes
// through a zeroed intermediate image over the common rectangle.
TEST(MorphologyDriver, EmptyNeighbourhoodsAsTheRankFilter) {
    PathGuard guard;
    std::mt19937 rng(1213);
    int64_t empties = 0;
    for (int iter = 0; iter < 420; ++iter) {
        const bool sixteen = iter % 2, masked = rng() % 3 != 0;
        const uint32_t depth = sixteen ? 2 : 1, op = rng() % 4;
        const int32_t eh = 1 + 2 * int32_t(rng() % 4), ew = eh == 1 ? 3 : 1 + 2 * int32_t(rng() % 4);
        const int32_t cx = ew / 2, cy = eh / 2;
        std::vector<uint8_t> members(size_t(ew) * size_t(eh), 0);
        if (rng() % 2) {
            members[rng() % members.size()] = 255;  // a single member, often far from the centre
        } else {
            for (uint8_t& m : members) m = rng() % 3 ? 255 : 0;
        }
        members[size_t(cy) * size_t(ew) + size_t(cx)] = 0;
        if (std::count(members.begin(), members.end(), 255) == 0) members[0] = 255;
        Elem e(ew, eh);
        e.setMembers(ew, eh, members);

        const kstd_rect32 r =
            rect(int32_t(rng() % 7) - 3, int32_t(rng() % 7) - 3, 1 + int32_t(rng() % 14), 1 + int32_t(rng() % 12));
        Img src(depth, r, int32_t(rng() % 2)), mask(1, r), mine(depth, r), theirs(depth, r);
        src.fillRandom(rng);
        mine.fillRandom(rng);
        theirs.setValues(mine.values());
        std::vector<uint16_t> m(size_t(r.width) * size_t(r.height));
        for (uint16_t& v : m) v = rng() % 4 ? 0 : 255;  // sparse, so that many neighbourhoods are empty
        mask.setValues(m);
        const kimg_image* mk = masked ? &mask.img : nullptr;
        for (int32_t y = 0; y < r.height; ++y)
            for (int32_t x = 0; x < r.width; ++x) {
                bool any = false;
                for (int32_t j = 0; j < eh && !any; ++j)
                    for (int32_t i = 0; i < ew && !any; ++i) {
                        const int32_t nx = x + cx - i, ny = y + cy - j;
                        any = members[size_t(j * ew + i)] && nx >= 0 && ny >= 0 && nx < r.width && ny < r.height &&
                              (!masked || m[size_t(ny * r.width + nx)]);
                    }
                empties += !any && (!masked || m[size_t(y * r.width + x)]);
            }

        auto rank = [&](const kimg_image* from, double fraction, kimg_image* to) {
            const kip_filterRankParams rp{kip_filterBorderTruncated, fraction};
            return (sixteen ? kip_filterRank16 : kip_filterRank8)(from, mk, &rp, &e.e.kernel, to);
        };
        kip_status want;
        if (op < 2) {
            want = rank(&src.img, op == 0 ? 1.0 : 0.0, &theirs.img);
        } else {
            Img between(depth, r);
            want = rank(&src.img, op == 2 ? 0.0 : 1.0, &between.img);
            if (want == 0) want = rank(&between.img, op == 2 ? 1.0 : 0.0, &theirs.img);
        }
        ASSERT_EQ(want, 0);
        const kip_filterMorphologyParams params{kip_filterBorderTruncated};
        choosePath(iter % kPaths);
        ksys_jobSetThreadCount(iter % 3 == 0 ? 1 : 4);
        const kip_status s =
            (sixteen ? kip_filterMorphology16 : kip_filterMorphology8)(&src.img, mk, op, &params, &e.e, &mine.img);
        choosePath(0);
        ksys_jobSetThreadCount(0);
        ASSERT_EQ(s, 0);
        EXPECT_EQ(mine.values(), theirs.values())
            << (sixteen ? 16 : 8) << "-bit " << ew << "x" << eh << " on " << r.width << "x" << r.height << " op " << op
            << " path " << iter % kPaths << (masked ? " masked" : "");
        if (HasFailure()) return;
    }
    EXPECT_GT(empties, 500);  // the case this test is about did occur
}

TEST(MorphologyParams, InitValidateCompare) {
    kip_filterMorphologyParams a, b;
    ASSERT_EQ(kip_filterMorphologyParams_init(&a), 0);
    EXPECT_EQ(a.borderMode, 1);
    for (int32_t mode : {-1, 0, 1, 2, 1000}) {
        b.borderMode = mode;
        EXPECT_EQ(kip_filterMorphologyParams_validate(&b), mode == 0 || mode == 1 ? 0 : kip_errBadMode);
        EXPECT_EQ(kiptest::get<uint32_t>(kip_filterMorphologyParams_compareEqual, &a, &b), mode == 1 ? 1u : 0u);
    }
}

TEST(MorphologyElement, DefaultsFlatnessAndValidation) {
    Elem e;
    EXPECT_EQ(kiptest::get<kstd_pair32>(kip_filterMorphologyStructuringElement_getSize, &e.e).x, 3);
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterMorphologyStructuringElement_getIsRectangular, &e.e), 1u);
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterMorphologyStructuringElement_getIsFlat, &e.e), 1u);
    EXPECT_EQ(kip_filterMorphologyStructuringElement_validate(&e.e), 0);
    // The flag alone does not make the element weighted; weights alone neither.
    kip_filterMorphologyStructuringElement_setUseOffsetImage(&e.e, 7);
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterMorphologyStructuringElement_getUseOffsetImage, &e.e), 7u);
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterMorphologyStructuringElement_getIsFlat, &e.e), 1u);
    ASSERT_EQ(e.setWeights(3, 3, {-255, 0, 255, 1, 2, 3, 4, 5, 6}), 0);
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterMorphologyStructuringElement_getIsFlat, &e.e), 0u);
    kip_filterMorphologyStructuringElement_setUseOffsetImage(&e.e, 0);
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterMorphologyStructuringElement_getIsFlat, &e.e), 1u);
    kip_filterMorphologyStructuringElement_setUseOffsetImage(&e.e, 1);

    // Bad weights are refused with the element keeping its previous ones.
    const std::vector<uint16_t> kept = e.weights();
    EXPECT_EQ(e.setWeights(5, 5, std::vector<int16_t>(25, 0)), kip_errOffsetImageSizeMismatch);
    EXPECT_EQ(e.setWeights(3, 3, {0, 0, 0, 0, 256, 0, 0, 0, 0}), kip_errOffsetValueRange);
    EXPECT_EQ(e.setWeights(3, 3, {0, 0, 0, 0, -256, 0, 0, 0, 0}), kip_errOffsetValueRange);
    EXPECT_EQ(e.weights(), kept);
    kiptest::Image got;
    ASSERT_EQ(kip_filterMorphologyStructuringElement_getOffsetImage(&e.e, &got.img), 0);
    EXPECT_EQ(kiptest::windowOf(got.img), rect(0, 0, 3, 3));

    // Weights set behind the setter's back: validate finds them, but only when they are used.
    Img wrongSize(2, rect(0, 0, 5, 3)), outOfRange(2, rect(0, 0, 3, 3));
    outOfRange.p16(1, 1) = uint16_t(int16_t(-300));
    kimg_imageConst_assign(&e.e.offsetImage, &wrongSize.img);
    EXPECT_EQ(kip_filterMorphologyStructuringElement_validate(&e.e), kip_errOffsetImageSizeMismatch);
    kimg_imageConst_assign(&e.e.offsetImage, &outOfRange.img);
    EXPECT_EQ(kip_filterMorphologyStructuringElement_validate(&e.e), kip_errOffsetValueRange);
    kip_filterMorphologyStructuringElement_setUseOffsetImage(&e.e, 0);
    EXPECT_EQ(kip_filterMorphologyStructuringElement_validate(&e.e), 0);
    kip_filterMorphologyStructuringElement_setUseOffsetImage(&e.e, 1);

    // setSize and setMask drop the weights and keep the flag; an unbound image removes them too.
    ASSERT_EQ(e.setWeights(3, 3, std::vector<int16_t>(9, 4)), 0);
    e.setMembers(3, 3, {0, 255, 0, 255, 255, 255, 0, 255, 0});
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterMorphologyStructuringElement_getIsFlat, &e.e), 1u);
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterMorphologyStructuringElement_getIsRectangular, &e.e), 0u);
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterMorphologyStructuringElement_getUseOffsetImage, &e.e), 1u);
    ASSERT_EQ(e.setWeights(3, 3, std::vector<int16_t>(9, 4)), 0);
    kiptest::Image unbound;
    ASSERT_EQ(kip_filterMorphologyStructuringElement_setOffsetImage(&e.e, &unbound.img), 0);
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterMorphologyStructuringElement_getIsFlat, &e.e), 1u);
    const kstd_pair32 even{4, 3};
    EXPECT_EQ(kip_filterMorphologyStructuringElement_setSize(&e.e, &even), kip_errKernelSizeNotOdd);
}

TEST(MorphologyElement, CopiesAndComparisonIgnoreTheOrigin) {
    Elem a(5, 3), b(5, 3);
    ASSERT_EQ(a.setWeights(5, 3, std::vector<int16_t>(15, -9)), 0);
    kip_filterMorphologyStructuringElement_setUseOffsetImage(&a.e, 1);
    const kstd_pair32 origin{4, -2};
    kip_filterMorphologyStructuringElement_setOriginOffset(&a.e, &origin);
    EXPECT_FALSE(same(a.e, b.e));
    ASSERT_EQ(kip_filterMorphologyStructuringElement_assign(&b.e, &a.e), 0);
    EXPECT_TRUE(same(a.e, b.e));
    EXPECT_EQ(kiptest::get<kstd_pair32>(kip_filterMorphologyStructuringElement_getOriginOffset, &b.e).x, 0);
    ASSERT_EQ(b.setWeights(5, 3, std::vector<int16_t>(15, -8)), 0);
    EXPECT_FALSE(same(a.e, b.e));
    kip_filterMorphologyStructuringElement_setUseOffsetImage(&a.e, 0);
    kip_filterMorphologyStructuringElement_setUseOffsetImage(&b.e, 0);
    EXPECT_TRUE(same(a.e, b.e));  // unused weights are not compared

    Element* heap = nullptr;
    ASSERT_EQ(kip_filterMorphologyStructuringElement_newClone(&heap, &a.e), 0);
    EXPECT_TRUE(same(*heap, a.e));
    EXPECT_EQ(heap->originOffset.x, 0);
    ASSERT_EQ(kip_filterMorphologyStructuringElement_new(&heap), 0);  // replaces the clone
    EXPECT_EQ(kiptest::get<kstd_pair32>(kip_filterMorphologyStructuringElement_getSize, heap).x, 3);
    ASSERT_EQ(kip_filterMorphologyStructuringElement_newClone(&heap, nullptr), 0);
    EXPECT_EQ(heap, nullptr);
    EXPECT_EQ(kip_filterMorphologyStructuringElement_delete(&heap), 0);
    Element copy;
    ASSERT_EQ(kip_filterMorphologyStructuringElement_constructCopy(&copy, &a.e), 0);
    EXPECT_TRUE(same(copy, a.e));
    EXPECT_EQ(kip_filterMorphologyStructuringElement_destruct(&copy), 0);
}

// Refusals and the roads that do not compute: the status named, nothing written.
TEST(MorphologyDriver, RefusalsAndShortcuts) {
    std::mt19937 rng(1211);
    Img src(1, rect(0, 0, 20, 10)), src16(2, rect(0, 0, 20, 10)), mask(1, rect(0, 0, 20, 10));
    Img dst(1, rect(0, 0, 20, 10)), dst16(2, rect(0, 0, 20, 10)), smallMask(1, rect(0, 0, 19, 10));
    src.fillRandom(rng);
    src16.fillRandom(rng);
    dst.fillRandom(rng);
    dst16.fillRandom(rng);
    mask.setValues(std::vector<uint16_t>(200, 255));
    const std::vector<uint16_t> before = dst.values(), before16 = dst16.values(), sourceBefore = src.values();
    Elem rect3, unit(1, 1), weighted;
    ASSERT_EQ(weighted.setWeights(3, 3, std::vector<int16_t>(9, 10)), 0);
    kip_filterMorphologyStructuringElement_setUseOffsetImage(&weighted.e, 1);
    const kip_filterMorphologyParams truncated{1}, clipped{0}, bad{2};
    kimg_window sw = src.window(), mw = mask.window(), dw = dst.window();

    EXPECT_EQ(kip_filterMorphology8(&src.img, &mask.img, 4, &truncated, &rect3.e, &dst.img), kip_errBadMode);
    EXPECT_EQ(kip_filterMorphologyWindow8(&sw, &mw, 4, &truncated, &rect3.e, &dw), kip_errBadMode);
    EXPECT_EQ(kip_filterMorphology8(&src.img, nullptr, 0, &bad, &rect3.e, &dst.img), kip_errBadMode);
    EXPECT_EQ(kip_filterMorphology8(&src.img, nullptr, 0, &clipped, &rect3.e, &dst.img), kip_errNotAvailable);
    EXPECT_EQ(kip_filterMorphologyWindow8(&sw, nullptr, 3, &clipped, &rect3.e, &dw), kip_errNotAvailable);
    // The clipped 1 x 1 copy needs the whole source: a destination over part of it is refused
    // before the mask's pre-fill, in place or not.
    kimg_window part = dw, partOfSource = sw;
    uint32_t cut = 0;
    ASSERT_EQ(kimg_window_window(&part, &dw, 0, -6, 20, 12, &cut), 0);
    ASSERT_EQ(kimg_window_window(&partOfSource, &sw, 3, 0, 17, 10, &cut), 0);
    for (kimg_window* d : {&part, &partOfSource})
        for (uint32_t op = 0; op < 4; ++op)
            EXPECT_EQ(kip_filterMorphologyWindow8(&sw, &mw, op, &clipped, &unit.e, d), kimg_errSizeMismatch) << op;
    EXPECT_EQ(src.values(), sourceBefore);
    EXPECT_EQ(kip_filterMorphology8(&src.img, &smallMask.img, 0, &truncated, &rect3.e, &dst.img),
              kip_errMaskWindowMismatch);
    EXPECT_EQ(kip_filterMorphology16(&src16.img, nullptr, 0, &truncated, &weighted.e, &dst16.img), kip_errNotAvailable);
    EXPECT_EQ(kip_filterMorphology8(&src16.img, nullptr, 0, &truncated, &rect3.e, &dst.img), kimg_errDepthMismatch);
    kiptest::Image unbound;
    EXPECT_EQ(kip_filterMorphology8(&unbound.img, nullptr, 0, &truncated, &rect3.e, &dst.img), kip_errImageUnbound);
    const kimg_window nullWindow{};
    EXPECT_EQ(kip_filterMorphologyWindow8(&nullWindow, nullptr, 0, &truncated, &rect3.e, &dw), kip_errImageUnbound);
    Img bigWeights(2, rect(0, 0, 5, 5));
    kimg_imageConst_assign(&weighted.e.offsetImage, &bigWeights.img);
    EXPECT_EQ(kip_filterMorphology8(&src.img, nullptr, 0, &truncated, &weighted.e, &dst.img),
              kip_errOffsetImageSizeMismatch);
    EXPECT_EQ(dst.values(), before);
    EXPECT_EQ(dst16.values(), before16);

    // The 8-bit 1 x 1 element copies whatever the operation, also with the clipped border; the
    // 16-bit one runs the engines and gives the same.
    for (const kip_filterMorphologyParams* p : {&truncated, &clipped}) {
        Img out;
        ASSERT_EQ(kip_filterMorphology8(&src.img, &mask.img, 3, p, &unit.e, &out.img), 0);
        EXPECT_EQ(out.values(), src.values());
    }
    Img out16;
    ASSERT_EQ(kip_filterMorphology16(&src16.img, nullptr, 1, &truncated, &unit.e, &out16.img), 0);
    EXPECT_EQ(out16.values(), src16.values());

    kiptest::AssertCounter asserts;
    EXPECT_EQ(kip_filterMorphology8(nullptr, nullptr, 0, &truncated, &rect3.e, &dst.img), kstd_errInvalidArgument);
    EXPECT_EQ(kip_filterMorphology8(&src.img, nullptr, 0, nullptr, &rect3.e, &dst.img), kstd_errInvalidArgument);
    EXPECT_EQ(kip_filterMorphologyWindow16(&sw, nullptr, 0, &truncated, nullptr, &dw), kstd_errInvalidArgument);
    EXPECT_EQ(kip_filterMorphologyWindow8(&sw, nullptr, 0, &truncated, &rect3.e, nullptr), kstd_errInvalidArgument);
    EXPECT_EQ(asserts.count(), 4);
    EXPECT_EQ(dst.values(), before);
}

// A cancellation requested before the call ends it at once; one requested during the flat pass
// ends it at the next poll, with whole destination rows written and nothing leaked.
// It keeps the scalar row steps, which ask the hook on every row (the fused pass asks once).
int hookCalls = 0;
int32_t cancellingHook(const uint16_t* label) {
    if (++hookCalls == 100) ksys_attention_setRequested(1);
    return partHook(label);
}

TEST(MorphologyDriver, CancellationStopsAtWholeRows) {
    PathGuard guard;
    std::mt19937 rng(1212);
    const kstd_rect32 r = rect(0, 0, 64, 700);
    Img src(1, r);
    src.fillRandom(rng);
    Elem e(5, 5);
    const kip_filterMorphologyParams p{1};
    Img full;
    ASSERT_EQ(kip_filterMorphology8(&src.img, nullptr, 0, &p, &e.e, &full.img), 0);
    Img dst(1, r);
    const std::vector<uint16_t> before = dst.values();
    const int64_t live = ksys_memory_getLiveBlocks();
    ksys_attention_setRequested(1);
    EXPECT_EQ(kip_filterMorphology8(&src.img, nullptr, 3, &p, &e.e, &dst.img), ksys_errCancelled);
    ksys_attention_setRequested(0);
    EXPECT_EQ(dst.values(), before);

    hookCalls = 0;
    hookRows = true;
    kprt_isOptimizationInhibitedFP = &cancellingHook;
    EXPECT_EQ(kip_filterMorphology8(&src.img, nullptr, 0, &p, &e.e, &dst.img), ksys_errCancelled);
    kprt_isOptimizationInhibitedFP = nullptr;
    ksys_attention_setRequested(0);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);
    int written = 0;
    for (int32_t y = 0; y < r.height; ++y) {
        bool done = true, untouched = true;
        for (int32_t x = 0; x < r.width; ++x) {
            done = done && dst.p8(x, y) == full.p8(x, y);
            untouched = untouched && dst.p8(x, y) == 0;
        }
        EXPECT_TRUE(done || untouched) << "row " << y;
        written += done && !untouched;
    }
    EXPECT_GT(written, 100);
    EXPECT_LT(written, 300);
}

// Every allocation of the entries and the element operations, failed in turn: the failure comes
// back and nothing leaks; the element operations leave the element as it was.
TEST(MorphologyFaults, EntriesAndElementOperations) {
    PathGuard guard;
    std::mt19937 rng(1213);
    const kstd_rect32 r = rect(0, 0, 40, 30);
    Img src(1, r), src16(2, r), mask(1, r);
    src.fillRandom(rng);
    src16.fillRandom(rng);
    const std::vector<uint8_t> m = randomMask(rng, 1200);
    mask.setValues(std::vector<uint16_t>(m.begin(), m.end()));
    Elem rect5(5, 3), weighted(3, 5);
    ASSERT_EQ(weighted.setWeights(3, 5, std::vector<int16_t>(15, -3)), 0);
    kip_filterMorphologyStructuringElement_setUseOffsetImage(&weighted.e, 1);
    const kip_filterMorphologyParams p{1};
    for (int path : {0, 3})
        for (uint32_t op : {0u, 2u})
            for (bool masked : {false, true}) {
                choosePath(path);
                const kimg_image* mk = masked ? &mask.img : nullptr;
                for (const Elem* e : {&rect5, &weighted}) {
                    Img out;
                    EXPECT_GT(kiptest::faultSweep(
                                  [&] { return kip_filterMorphology8(&src.img, mk, op, &p, &e->e, &out.img); }, nullptr,
                                  nullptr, [&] { kimg_image_assignUnbound(&out.img); }),
                              0);
                }
                Img out16, shared;
                EXPECT_GT(kiptest::faultSweep(
                              [&] { return kip_filterMorphology16(&src16.img, mk, op, &p, &rect5.e, &out16.img); },
                              nullptr, nullptr, [&] { kimg_image_assignUnbound(&out16.img); }),
                          0);
                kimg_image_assign(&shared.img, &src.img);  // in place: through the temporary
                EXPECT_GT(kiptest::faultSweep(
                              [&] { return kip_filterMorphology8(&src.img, mk, op, &p, &rect5.e, &shared.img); }),
                          0);
                choosePath(0);
            }

    Elem reference;
    ASSERT_EQ(kip_filterMorphologyStructuringElement_assign(&reference.e, &weighted.e), 0);
    auto unchanged = [&](kip_status, int) { EXPECT_TRUE(same(weighted.e, reference.e)); };
    Img weights(2, rect(5, 5, 3, 5));
    EXPECT_GT(
        kiptest::faultSweep(
            [&] { return kip_filterMorphologyStructuringElement_setOffsetImage(&weighted.e, &weights.img); }, unchanged,
            nullptr, [&] { kip_filterMorphologyStructuringElement_assign(&weighted.e, &reference.e); }),
        0);
    Element copy;
    bool built = false;
    EXPECT_GT(kiptest::faultSweep(
                  [&] {
                      const kip_status s = kip_filterMorphologyStructuringElement_constructCopy(&copy, &weighted.e);
                      built = !kip_status_isFailure(s);
                      return s;
                  },
                  nullptr, nullptr,
                  [&] {
                      if (built) built = same(copy, weighted.e), kip_filterMorphologyStructuringElement_destruct(&copy);
                  }),
              0);
    EXPECT_TRUE(built);
    Element* heap = nullptr;
    EXPECT_GT(kiptest::faultSweep([&] { return kip_filterMorphologyStructuringElement_newClone(&heap, &weighted.e); },
                                  [&](kip_status, int) { EXPECT_EQ(heap, nullptr); }, nullptr,
                                  [&] { kip_filterMorphologyStructuringElement_delete(&heap); }),
              0);
}

}  // namespace
