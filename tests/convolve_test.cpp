// Convolution: parameters, kernels, the entries against a brute-force reference, the fast path
// against the general loop, failure codes and fault sweeps.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "convolve/convolve_internal.hpp"
#include "convolve/exact_divider.hpp"
#include "convolve/fast_isa.hpp"
#include "convolve/variants.hpp"
#include "frame/isa.hpp"
#include "reference/convolve_reference.hpp"
#include "support/test_support.hpp"

using kiptest::rect;

namespace {

// The library's own description of the two variants.
using Api8 = kip::convolve::Variant8;
using Api16s = kip::convolve::Variant16s;

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

template <class A>
struct Kernel {
    typename A::Kernel k;
    Kernel() { EXPECT_EQ(A::construct(&k), 0); }
    Kernel(int32_t kw, int32_t kh, const std::vector<int32_t>& w) : Kernel() { set(kw, kh, w); }
    ~Kernel() { A::destruct(&k); }
    void set(int32_t kw, int32_t kh, const std::vector<int32_t>& w) {
        Img img(A::kDepth, rect(5, -3, kw, kh), 1);
        img.setValues(std::vector<uint16_t>(w.begin(), w.end()));
        ASSERT_EQ(A::setKernel(&k, &img.img), 0);
    }
};

template <class A>
bool same(const typename A::Kernel& a, const typename A::Kernel& b) {
    uint32_t equal = 7;
    return A::compareEqual(&a, &b, &equal) == 0 && equal == 1;
}

std::u16string labelsSeen;  // each call's label then a 0
int32_t recordingHook(const uint16_t* label) {
    while (*label) labelsSeen.push_back(char16_t(*label++));
    labelsSeen.push_back(0);
    return 1;
}
int32_t inhibitHook(const uint16_t*) { return 1; }
int32_t recordingAllowHook(const uint16_t* label) { return recordingHook(label) - 1; }
// A hook label as the recording hook writes it down.
template <class L>
std::u16string labelOf(const L& l) {
    return std::u16string(l.text, l.text + std::size(l.text) - 1) + u'\0';
}

// f(Api8{}) when eight, f(Api16s{}) otherwise: one random case of either variant.
template <class F>
void withVariant(bool eight, F&& f) {
    if (eight)
        f(Api8{});
    else
        f(Api16s{});
}

// Restores the hook and the processor features whatever a test did.
struct PathGuard {
    ~PathGuard() {
        kprt_isOptimizationInhibitedFP = nullptr;
        ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
    }
};

// 0: fast path as detected; 1: AVX-512 hidden; 2: AVX2 hidden; 3: no SIMD; 4: hook inhibits.
constexpr int kNoSimd = 3, kInhibited = 4;
void choosePath(int path) {
    const uint32_t masks[] = {0xFFFFFFFFu, ~uint32_t{ksys_cpuFeatureAvx512bw}, ~uint32_t{ksys_cpuFeatureAvx2}, 0u,
                              0xFFFFFFFFu};
    ksys_cpuinfo_setFeatureMask(masks[path]);
    kprt_isOptimizationInhibitedFP = path == kInhibited ? &inhibitHook : nullptr;
}

// Styles: 0 any weight, 1 all the largest, 2 all the most negative (8-bit: largest), 3 extremes and
// zeros, 4 all zero, 5 small.
template <class A>
std::vector<int32_t> randomWeights(std::mt19937& rng, int32_t n, int style) {
    std::vector<int32_t> w(size_t(n), 0);
    for (int32_t& v : w) {
        const int32_t r = int32_t(rng() % 65536u);
        const int32_t pick[] = {
            A::kMin + r % (A::kMax - A::kMin + 1),           A::kMax, A::kSigned ? A::kMin : A::kMax,
            r % 3 == 0 ? A::kMin : r % 3 == 1 ? A::kMax : 0, 0,       A::kSigned ? r % 7 - 3 : r % 4};
        v = pick[style];
    }
    return w;
}

// A rectangle within 10 pixels of (x, y), kept inside the 32-bit plane.
kstd_rect32 randomRect(std::mt19937& rng, int32_t x, int32_t y, int32_t maxSize) {
    const int32_t w = 1 + int32_t(rng() % maxSize), h = 1 + int32_t(rng() % maxSize);
    auto near = [&](int32_t v, int32_t extent) {
        return int32_t(std::clamp<int64_t>(int64_t{v} + int32_t(rng() % 21) - 10, INT32_MIN, INT32_MAX - extent));
    };
    return rect(near(x, w), near(y, h), w, h);
}

// A rectangle against one of the plane's edges (or near 0) in each direction.
kstd_rect32 edgeRect(std::mt19937& rng, int32_t maxSize) {
    const int32_t w = 1 + int32_t(rng() % maxSize), h = 1 + int32_t(rng() % maxSize);
    auto place = [&](int32_t extent) {
        const int32_t k = int32_t(rng() % 3);
        switch (rng() % 3) {
            case 0:
                return INT32_MIN + k;
            case 1:
                return INT32_MAX - extent - k;
            default:
                return k - 1;
        }
    };
    return rect(place(w), place(h), w, h);
}

// One random call of an entry, checked pixel by pixel against the reference: the result
// rectangle holds the reference values and every other destination pixel is untouched. At the
// plane's edges the source is put against INT32_MIN or INT32_MAX, and a mirrored 8-bit call may
// write over its own source.
template <class A>
void randomEntryCase(std::mt19937& rng, int path, bool atEdges = false) {
    kipref::ConvolveCase c;
    c.signedKernel = A::kSigned;
    c.kw = 1 + 2 * int32_t(rng() % 8);
    c.kh = 1 + 2 * int32_t(rng() % 8);
    c.weights = randomWeights<A>(rng, c.kw * c.kh, int(rng() % 6));
    c.borderMode = rng() % 2 ? 2u : 0u;
    c.source = atEdges ? edgeRect(rng, 24) : randomRect(rng, 0, 0, 40);
    Img src(1, c.source, atEdges ? 0 : int32_t(rng() % 3));
    src.fillRandom(rng);
    const kimg_xform xform{{2, 0, 5, 0, 3, 7}};
    kimg_image_setXform(&src.img, &xform);
    const std::vector<uint16_t> sourcePixels = src.values();
    c.pixels.assign(sourcePixels.begin(), sourcePixels.end());
    const bool windowEntry = rng() % 2;
    const bool unbound = !windowEntry && rng() % 4 == 0;
    const bool inPlace = atEdges && !unbound && A::kDepth == 1 && c.borderMode == 2 && rng() % 3 == 0;
    Img dst;
    if (inPlace) {
        kimg_image_assign(&dst.img, &src.img);
        c.destination = c.source;
    } else if (!unbound) {
        dst.bind(A::kDepth, randomRect(rng, c.source.x, c.source.y, 50), atEdges ? 0 : int32_t(rng() % 3));
        dst.fillRandom(rng);
        c.destination = dst.window().rect;
    }
    const std::vector<uint16_t> before = dst.values();
    Kernel<A> kernel(c.kw, c.kh, c.weights);
    kip_filterConvolveParams params{c.borderMode};

    choosePath(path);
    kip_status s;
    if (windowEntry) {
        const kimg_window sw = src.window(), dw = dst.window();
        s = A::filterWindow(&sw, &params, &kernel.k, &dw);
    } else {
        s = A::filter(&src.img, &params, &kernel.k, &dst.img);
    }
    choosePath(0);

    const kipref::ConvolveResult expected = kipref::referenceConvolve(c);
    const kstd_rect32 r = expected.rect;
    const std::string where = "kernel " + std::to_string(c.kw) + "x" + std::to_string(c.kh) + " mode " +
                              std::to_string(c.borderMode) + " path " + std::to_string(path);
    if (r.width == 0) {
        EXPECT_EQ(s, 0) << where;
        EXPECT_EQ(dst.values(), before) << where;
        EXPECT_EQ(dst.img.store == nullptr, unbound) << where;
        return;
    }
    const bool unitCopy = !A::kSigned && c.kw == 1 && c.kh == 1;
    if (unitCopy && !unbound &&
        !(dst.window().rect.width == c.source.width && dst.window().rect.height == c.source.height)) {
        EXPECT_EQ(s, kimg_errSizeMismatch) << where;
        EXPECT_EQ(dst.values(), before) << where;
        return;
    }
    ASSERT_EQ(s, 0) << where;
    if (unbound) {  // new pixels over the result rectangle, with the source's transform
        EXPECT_EQ(dst.window().rect, r) << where;
        EXPECT_EQ(kiptest::depthOf(dst.img), A::kDepth) << where;
        EXPECT_EQ(std::memcmp(&dst.img.xform, &xform, sizeof xform), 0) << where;
    }
    if (unitCopy) {
        EXPECT_EQ(dst.values(), sourcePixels) << where;  // copied window to window, whatever the weight
        return;
    }
    const kstd_rect32 d = dst.window().rect;
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

TEST(ConvolveRandom, EntriesMatchReferenceOnEveryPath) {
    PathGuard guard;
    std::mt19937 rng(20240611);
    for (int iter = 0; iter < 2400; ++iter) {
        withVariant(iter % 2 != 0, [&](auto a) { randomEntryCase<decltype(a)>(rng, (iter / 2) % 5); });
        if (HasFailure()) return;
    }
}

// Sources against INT32_MIN and INT32_MAX: the fast paths on each instruction set, the one without
// SIMD and the inhibited one all give the reference's pixels, in both border modes.
TEST(ConvolveRandom, EveryPathAgreesAtThePlanesEdges) {
    PathGuard guard;
    std::mt19937 rng(17);
    for (int iter = 0; iter < 1600; ++iter) {
        withVariant(iter % 2 != 0, [&](auto a) { randomEntryCase<decltype(a)>(rng, (iter / 2) % 5, true); });
        if (HasFailure()) return;
    }
}

// Weights K[j][i] = column[j] * row[i] of random integer factors. Styles: 0 small factors, 1 factors
// as large as the weights allow, 2 one weight everywhere (small or extreme), 3 and 4 as 0 and 1 with
// each factor a symmetric run of random length (odd or even) somewhere among zeros.
template <class A>
std::vector<int32_t> rankOneWeights(std::mt19937& rng, int32_t kw, int32_t kh, int style) {
    const int32_t limit = A::kSigned ? 32767 : 255;
    if (style == 2) {
        const int32_t extremes[] = {A::kMax, A::kSigned ? A::kMin : A::kMax, A::kSigned ? -1 : 1};
        const int32_t w = rng() % 2 ? extremes[rng() % 3] : 1 + int32_t(rng() % 3);
        return std::vector<int32_t>(size_t(kw) * size_t(kh), w);
    }
    const bool small = style % 3 == 0, symmetric = style >= 3;
    const int32_t cm = small ? 3 : 1 + int32_t(rng() % uint32_t(limit)), rm = small ? 3 : limit / cm;
    auto factor = [&](int32_t n, int32_t m) {
        std::vector<int32_t> f(static_cast<size_t>(n), 0);
        const int32_t length = symmetric ? 1 + int32_t(rng() % uint32_t(n)) : n;
        const int32_t at = int32_t(rng() % uint32_t(n - length + 1));
        for (int32_t i = 0; i < length; ++i) {
            const int32_t v = int32_t(rng() % uint32_t(m + 1)) * (A::kSigned && rng() % 2 ? -1 : 1);
            f[size_t(at + i)] = symmetric && 2 * i >= length ? f[size_t(at + length - 1 - i)] : v;
        }
        if (std::all_of(f.begin(), f.end(), [](int32_t v) { return v == 0; })) f[size_t(at + length / 2)] = m;
        return f;
    };
    const std::vector<int32_t> column = factor(kh, cm), row = factor(kw, rm);
    std::vector<int32_t> w;
    for (int32_t c : column)
        for (int32_t r : row) w.push_back(c * r);
    return w;
}

// Kernel shapes of the optimised slots: any kernel (the general fast path), rank one (separable
// path), equal weights (box path).
enum class Shape { Any, RankOne, Box };

// An optimised slot against the general loop on wider rows (several blocks, odd tails, strides),
// clipped on the source and mirrored against the loop over the mirrored copy (sources smaller
// than the kernel included). Kernels in easy range must be served (status 0), not declined, on
// each instruction set; pixels beside the destination window stay untouched.
template <class A>
void slotMatchesLoop(std::mt19937& rng, int path, Shape shape) {
    const bool large = shape != Shape::Any && rng() % 24 == 0;
    const uint32_t sizes = shape == Shape::Any ? 8 : 16;
    int32_t kw = 1 + 2 * int32_t(rng() % sizes), kh = 1 + 2 * int32_t(rng() % sizes);
    (rng() % 2 ? kw : kh) = large ? 1 + 2 * int32_t(rng() % 128) : (rng() % 2 ? kw : kh);
    const int style = int(rng() % 2) + (rng() % 2 ? 3 : 0);  // 0, 1 or their symmetric forms
    const std::vector<int32_t> weights = shape == Shape::Any       ? randomWeights<A>(rng, kw * kh, int(rng() % 6))
                                         : shape == Shape::RankOne ? rankOneWeights<A>(rng, kw, kh, style)
                                                                   : rankOneWeights<A>(rng, kw, kh, 2);
    Kernel<A> kernel(kw, kh, weights);
    kimg_windowConst kwin;
    kimg_windowConst_init(&kwin, &kernel.k.image);
    const auto norm = A::kSigned ? kip::convolve::kernelNorm16s(kwin) : kip::convolve::kernelNorm8(kwin);
    if (norm.wrapped == 0) return;
    const int32_t divisor = int32_t(norm.wrapped);
    const bool mirrored = rng() % 2;
    const kstd_rect32 s = mirrored && rng() % 2
                              ? rect(int32_t(rng() % 9) - 4, 3, 1 + int32_t(rng() % 70), 1 + int32_t(rng() % 12))
                              : rect(int32_t(rng() % 9) - 4, 3, kw + int32_t(rng() % 70), kh + int32_t(rng() % 12));
    Img src(1, s, int32_t(rng() % 4));
    src.fillRandom(rng);
    const int32_t mx = mirrored ? 0 : kw / 2, my = mirrored ? 0 : kh / 2;
    const int32_t w = 1 + int32_t(rng() % uint32_t(s.width - 2 * mx)),
                  h = 1 + int32_t(rng() % uint32_t(s.height - 2 * my));
    const kstd_rect32 r = rect(s.x + mx + int32_t(rng() % uint32_t(s.width - 2 * mx - w + 1)),
                               s.y + my + int32_t(rng() % uint32_t(s.height - 2 * my - h + 1)), w, h);
    const kstd_rect32 around = rect(r.x - 2, r.y - 2, r.width + 4, r.height + 4);
    Img fastOut(A::kDepth, around), loopOut(A::kDepth, around);
    fastOut.fillRandom(rng);
    loopOut.setValues(fastOut.values());
    const kimg_window fw = kiptest::restrict(fastOut.window(), r), lw = kiptest::restrict(loopOut.window(), r);
    const kimg_windowConst sw = src.window();
    const std::string where = "kernel " + std::to_string(kw) + "x" + std::to_string(kh) +
                              (mirrored ? " mirrored" : " clipped") + " shape " + std::to_string(int(shape)) +
                              " path " + std::to_string(path);

    choosePath(path);
    kip_status fs;
    if (shape == Shape::Any)
        fs = (mirrored ? A::fastMirrored : A::fast)(&sw, &kwin, divisor, &fw);
    else
        fs = (shape == Shape::Box ? A::box : A::separable)(&sw, &kwin, divisor, &fw, mirrored ? 1u : 0u);
    choosePath(0);
    // Every rank-one kernel within the accumulator's range is served, narrow or wide column sums.
    const bool easy = shape == Shape::Any || (shape == Shape::RankOne && norm.exact <= 0x7FFFFFFF / 255) ||
                      (shape == Shape::Box && std::abs(weights[0]) <= 3);
    if (path == kNoSimd) {
        EXPECT_EQ(fs, kip_errNotAvailable) << where;
        return;
    }
    if (fs == kip_errNotAvailable && !easy) return;
    ASSERT_EQ(fs, 0) << where << " w0 " << weights[0] << " divisor " << divisor << " src " << s << " dst " << r;
    kiptest::Image mirror;
    kimg_windowConst loopSource = sw;
    kimg_window loopTarget = lw;
    if (mirrored) {
        kimg_image_destruct(&mirror.img);
        ASSERT_EQ(kip_filterConvolveMirrorSource8_(&sw, &kwin, &mirror.img), 0);
        loopSource = mirror.window();
        loopTarget.rect.x -= s.x;  // the copy's frame puts the source's top-left at (0, 0)
        loopTarget.rect.y -= s.y;
    }
    ASSERT_EQ(A::loop(&loopSource, &kwin, divisor, &loopTarget), 0);
    EXPECT_EQ(fastOut.values(), loopOut.values()) << where << " destination " << r;
}

TEST(ConvolveFast, MatchesGeneralLoopOnEveryInstructionSet) {
    PathGuard guard;
    std::mt19937 rng(77);
    for (int iter = 0; iter < 1500; ++iter) {
        const int path = iter % 10 == 9 ? kNoSimd : iter % 3;
        withVariant(iter % 3 != 0, [&](auto a) { slotMatchesLoop<decltype(a)>(rng, path, Shape::Any); });
        if (HasFailure()) return;
    }
}

// Random rank-one and equal-weight kernels from 1 to 255 taps a side, unsigned and signed, through
// the separable and the box path, each instruction set forced.
TEST(ConvolveShaped, MatchGeneralLoopOnEveryInstructionSet) {
    PathGuard guard;
    std::mt19937 rng(78);
    for (int iter = 0; iter < 3000; ++iter) {
        const int path = iter % 10 == 9 ? kNoSimd : iter % 3;
        const Shape shape = iter % 4 == 3 ? Shape::Box : Shape::RankOne;
        withVariant(iter % 3 != 0, [&](auto a) { slotMatchesLoop<decltype(a)>(rng, path, shape); });
        if (HasFailure()) return;
    }
}

// Through the entries: rank-one, equal-weight and other kernels give the same pixels with every
// optimised path allowed as with the hook refusing them all; the separable path is offered only
// rank-one kernels (and every one of them that reaches the optimised paths), the box path only
// equal weights.
template <class A>
void shapedEntryCase(std::mt19937& rng) {
    const int32_t kw = 1 + 2 * int32_t(rng() % 8), kh = 1 + 2 * int32_t(rng() % 8);
    const int shape = int(rng() % 3);
    const std::vector<int32_t> weights = shape == 0 ? randomWeights<A>(rng, kw * kh, rng() % 2 ? 0 : 5)
                                                    : rankOneWeights<A>(rng, kw, kh, shape == 2 ? 2 : int(rng() % 2));
    bool rankOne = true, equal = true, zero = true;
    for (int32_t j = 0; j < kh; ++j)
        for (int32_t i = 0; i < kw; ++i) {
            const int64_t v = weights[size_t(j * kw + i)];
            equal = equal && v == weights[0];
            zero = zero && v == 0;
            for (int32_t j2 = 0; j2 < kh; ++j2)
                for (int32_t i2 = 0; i2 < kw; ++i2)
                    rankOne = rankOne && v * weights[size_t(j2 * kw + i2)] ==
                                             int64_t{weights[size_t(j * kw + i2)]} * weights[size_t(j2 * kw + i)];
        }
    Kernel<A> kernel(kw, kh, weights);
    const kstd_rect32 sr = randomRect(rng, 0, 0, 60);
    Img src(1, sr, int32_t(rng() % 3));
    src.fillRandom(rng);
    const bool unbound = rng() % 3 == 0;
    const kstd_rect32 dr = randomRect(rng, sr.x, sr.y, 70);
    const int32_t pad = int32_t(rng() % 3);
    const kip_filterConvolveParams params{rng() % 2 ? 2u : 0u};
    std::vector<uint16_t> results[2];
    kip_status statuses[2];
    std::u16string labels;
    for (int run = 0; run < 2; ++run) {
        Img dst;
        if (!unbound) {
            dst.bind(A::kDepth, dr, pad);
            dst.setValues(std::vector<uint16_t>(size_t(dr.width) * size_t(dr.height), 7));
        }
        kprt_isOptimizationInhibitedFP = run == 0 ? &recordingAllowHook : &inhibitHook;
        labelsSeen.clear();
        const kip_status s = A::filter(&src.img, &params, &kernel.k, &dst.img);
        kprt_isOptimizationInhibitedFP = nullptr;
        statuses[run] = s;
        if (run == 0) labels = labelsSeen;
        results[run] = dst.values();
    }
    const std::string where = "kernel " + std::to_string(kw) + "x" + std::to_string(kh) + " shape " +
                              std::to_string(shape) + " mode " + std::to_string(params.borderMode);
    EXPECT_EQ(statuses[0], statuses[1]) << where;  // the 8-bit 1 x 1 copy may refuse a size mismatch
    EXPECT_EQ(results[0], results[1]) << where;
    const bool separableAsked = labels.find(labelOf(A::kSeparableLabel)) != std::u16string::npos;
    const bool boxAsked = labels.find(labelOf(A::kBoxLabel)) != std::u16string::npos;
    const bool reached = !labels.empty();  // zero kernels, the 8-bit copy and empty results ask nothing
    EXPECT_TRUE(!separableAsked || (rankOne && !equal)) << where;
    EXPECT_TRUE(!boxAsked || equal) << where;
    if (reached && !zero) {
        EXPECT_EQ(separableAsked, rankOne && !equal) << where;
        EXPECT_EQ(boxAsked, equal) << where;
    }
}

TEST(ConvolveShaped, EntriesGiveTheInhibitedEntriesBits) {
    PathGuard guard;
    std::mt19937 rng(79);
    for (int iter = 0; iter < 1200; ++iter) {
        withVariant(iter % 2 != 0, [&](auto a) { shapedEntryCase<decltype(a)>(rng); });
        if (HasFailure()) return;
    }
}

// 8-bit kernels at the limits of the box and separable paths' sums, each instruction set forced:
// 255 x norm just inside and just beyond the signed 32-bit range (served exactly, then declined);
// column factors whose int16 sums fit one part exactly or need a second, that fill four parts or
// would need a fifth, and with a ring too large for any part (32-bit sums); byte pairs at their bound.
TEST(ConvolveShaped, ServeUpToTheLimitsOfTheirSums) {
    PathGuard guard;
    std::mt19937 rng(80);
    // n weights v, the one at index at (if any) other.
    auto f = [](int32_t n, int32_t v, int32_t at = -1, int32_t other = 0) {
        std::vector<int32_t> w(size_t(n), v);
        if (at >= 0) w[size_t(at)] = other;
        return w;
    };
    std::vector<int32_t> endsOf255 = f(31, 1, 0, 255), ascending = f(255, 2, 0, 1);
    endsOf255.back() = 255;
    struct Case {
        std::vector<int32_t> column, row;
        bool box, served;
    };
    // 255 * 255 * 25 * 1321 = 2147450625; 255 * 255 * 3 * 11009 passes 2^31 - 1. Rows of 255 (one
    // 254) over 255 rows of 1: 129 columns fit, 131 do not; rows of 127 (one 126) over the column
    // 1, 2, 2, ... (magnitude 509, two parts) the same. Columns of ones: magnitude 257 in one part,
    // 259 in two; of fours: 255 rows in four parts, 257 beyond them. Columns of 64s take two rows
    // to a byte multiply-add (pairs summing to 128); one 65 among them makes a pair too large.
    const Case cases[] = {{f(25, 1), f(1321, 255), true, true},          {f(3, 1), f(11009, 255), true, false},
                          {f(255, 1), f(129, 255, 7, 254), false, true}, {f(255, 1), f(131, 255, 7, 254), false, false},
                          {ascending, f(129, 127, 7, 126), false, true}, {ascending, f(131, 127, 7, 126), false, false},
                          {f(257, 1), f(9, 255, 3, 254), false, true},   {f(259, 1), f(9, 255, 3, 254), false, true},
                          {f(255, 4), f(9, 63, 3, 62), false, true},     {f(257, 4), f(9, 63, 3, 62), false, true},
                          {endsOf255, f(9, 1, 3, 0), false, true},       {f(9, 64), f(5, 3, 2, 2), false, true},
                          {f(9, 64, 3, 65), f(5, 3, 2, 2), false, true}};
    for (const Case& c : cases) {
        const int32_t kw = int32_t(c.row.size()), kh = int32_t(c.column.size());
        std::vector<int32_t> w;
        for (int32_t cj : c.column)
            for (int32_t ri : c.row) w.push_back(cj * ri);
        Kernel<Api8> kernel(kw, kh, w);
        kimg_windowConst kwin;
        kimg_windowConst_init(&kwin, &kernel.k.image);
        const int32_t divisor = int32_t(kip::convolve::kernelNorm8(kwin).wrapped);
        Img src(1, rect(0, 0, kw + 40, kh + 2), 1);
        src.fillRandom(rng);
        const kstd_rect32 r = rect(kw / 2, kh / 2, 37, 3);
        Img reference(1, r);
        const kimg_windowConst sw = src.window();
        const kimg_window rw = reference.window();
        ASSERT_EQ(Api8::loop(&sw, &kwin, divisor, &rw), 0);
        for (int path = 0; path < kNoSimd; ++path) {
            Img out(1, r);
            const kimg_window ow = out.window();
            choosePath(path);
            const kip_status s = (c.box ? Api8::box : Api8::separable)(&sw, &kwin, divisor, &ow, 0);
            choosePath(0);
            EXPECT_EQ(s, c.served ? 0 : kip_errNotAvailable) << kw << "x" << kh << " path " << path;
            if (s == 0) {
                EXPECT_EQ(out.values(), reference.values()) << kw << "x" << kh << " path " << path;
            }
        }
    }
}

TEST(ConvolveFast, DispatchNeverPicksAMaskedOffSet) {
    PathGuard guard;
    using kip::convolve::FastIsa;
    const std::pair<const FastIsa*, kip::Isa> sets[] = {{&kip::convolve::kFastIsaAvx2, kip::Isa::Avx2},
                                                        {&kip::convolve::kFastIsaSse2, kip::Isa::Sse2}};
    const uint32_t bits[] = {ksys_cpuFeatureSse2,  ksys_cpuFeatureSse3,   ksys_cpuFeatureSsse3, ksys_cpuFeatureSse41,
                             ksys_cpuFeatureSse42, ksys_cpuFeaturePopcnt, ksys_cpuFeatureAvx,   ksys_cpuFeatureAvx2};
    for (uint32_t subset = 0; subset < (1u << std::size(bits)); ++subset) {
        uint32_t mask = 0;
        for (size_t i = 0; i < std::size(bits); ++i)
            if (subset & (1u << i)) mask |= bits[i];
        ksys_cpuinfo_setFeatureMask(mask);
        const FastIsa* picked = &kip::convolve::kFastIsaSse2;
        ASSERT_EQ(kip::convolve::selectFastIsa(&picked), 0);
        // The widest set whose every feature is left is the one picked.
        const FastIsa* widest = nullptr;
        for (const auto& [table, isa] : sets) {
            bool available = false;
            ASSERT_EQ(kip::isaAvailable(isa, &available), 0);
            if (available) {
                widest = table;
                break;
            }
        }
        EXPECT_EQ(picked, widest) << "mask " << std::hex << mask;
    }
}

TEST(ConvolveDivision, ExactAtEveryQuotientBoundary) {
    using namespace kip::convolve;
    for (uint32_t d = 1; d <= kFloatDivisorLimit; ++d) {
        const float reciprocal = floatReciprocal(d);
        for (int32_t q = 0; q <= 255; ++q)
            for (int32_t a : {q * int32_t(d), q * int32_t(d) + 1, q * int32_t(d) + int32_t(d) - 1}) {
                if (a > 255 * int32_t(d)) continue;
                ASSERT_EQ(floatDivide(a, reciprocal), a / int32_t(d)) << a << " / " << d;
                ASSERT_EQ(floatDivide(-a, reciprocal), -a / int32_t(d)) << -a << " / " << d;
            }
    }
    std::mt19937 rng(5);
    for (int i = 0; i < 200000; ++i) {
        const uint32_t d = 1 + rng() % (i % 2 ? 0x7FFFFFFFu : 100000u);
        ExactDivider e;
        ASSERT_TRUE(makeExactDivider(d, &e)) << d;
        const int64_t a = int64_t(rng() % 0x80000000u) / (i % 3 == 0 ? int64_t(d) : 1) * (i % 3 == 0 ? int64_t(d) : 1);
        for (int64_t v : {a, a - 1, -a, -(a - 1)}) {
            if (v > INT32_MIN && v <= INT32_MAX) {
                ASSERT_EQ(exactDivide(int32_t(v), e), int32_t(v / int64_t(d))) << v << " / " << d;
            }
        }
    }
}

TEST(ConvolveParams, InitValidateCompare) {
    kip_filterConvolveParams a, b;
    ASSERT_EQ(kip_filterConvolveParams_init(&a), 0);
    EXPECT_EQ(a.borderMode, kip_filterBorderMirrored);
    for (uint32_t mode : {0u, 1u, 2u, 3u, 0xFFFFFFFFu}) {
        b.borderMode = mode;
        EXPECT_EQ(kip_filterConvolveParams_validate(&b), mode == 0 || mode == 2 ? 0 : kip_errBadMode);
        EXPECT_EQ(kiptest::get<uint32_t>(kip_filterConvolveParams_compareEqual, &a, &b), mode == 2 ? 1u : 0u);
    }
}

template <class A>
class ConvolveKernel : public ::testing::Test {};
using Apis = ::testing::Types<Api8, Api16s>;
TYPED_TEST_SUITE(ConvolveKernel, Apis);

TYPED_TEST(ConvolveKernel, HoldsPrivateValidatedWeights) {
    using A = TypeParam;
    Kernel<A> k, other;
    kiptest::Image unbound;
    EXPECT_EQ(A::validate(&k.k), kip_errKernelImageUnbound);
    EXPECT_EQ(A::setKernel(&k.k, &unbound.img), kip_errKernelImageUnbound);
    Img weights(A::kDepth, rect(2, 7, 3, 5)), wrongDepth(3 - A::kDepth, rect(0, 0, 3, 3)), got;
    std::mt19937 rng(3);
    weights.fillRandom(rng);
    const std::vector<uint16_t> set = weights.values();
    ASSERT_EQ(A::setKernel(&k.k, &weights.img), 0);
    EXPECT_EQ(A::validate(&k.k), 0);
    weights.setValues(std::vector<uint16_t>(15, 9));  // the kernel keeps its own copy

    // Sizes not odd and positive, or the wrong depth: refused, the kernel as it was.
    for (const kstd_rect32& r : {rect(0, 0, 4, 3), rect(0, 0, 3, 4), rect(0, 0, 0, 3), rect(0, 0, 3, 0)}) {
        Img bad(A::kDepth, r);
        EXPECT_EQ(A::setKernel(&k.k, &bad.img), kip_errKernelSizeNotOdd);
    }
    EXPECT_EQ(A::setKernel(&k.k, &wrongDepth.img), kimg_errDepthMismatch);
    ASSERT_EQ(A::getKernel(&k.k, &got.img), 0);
    EXPECT_EQ(got.img.window, rect(2, 7, 3, 5));
    EXPECT_EQ(got.values(), set);

    typename A::Kernel copy;
    ASSERT_EQ(A::assign(&other.k, &k.k), 0);
    ASSERT_EQ(A::constructCopy(&copy, &k.k), 0);
    EXPECT_TRUE(same<A>(other.k, k.k) && same<A>(copy, k.k));
    other.set(3, 5, std::vector<int32_t>(15, 1));
    EXPECT_FALSE(same<A>(other.k, k.k));
    Kernel<A> none;
    EXPECT_EQ(A::assign(&copy, &none.k), 0);
    EXPECT_EQ(A::validate(&copy), kip_errKernelImageUnbound);
    EXPECT_EQ(A::destruct(&copy), 0);
}

// Refusals: the status the contract names, and nothing written (an unbound destination stays so).
TYPED_TEST(ConvolveKernel, EntriesRefuseBadInput) {
    using A = TypeParam;
    Img src(1, rect(0, 0, 12, 9)), dst(A::kDepth, rect(0, 0, 12, 9)), src16(2, rect(0, 0, 12, 9));
    std::mt19937 rng(9);
    src.fillRandom(rng);
    dst.fillRandom(rng);
    const std::vector<uint16_t> before = dst.values();
    Kernel<A> good(3, 3, std::vector<int32_t>(9, 1)), unboundKernel, even;
    Img evenWeights(A::kDepth, rect(0, 0, 4, 3));
    kimg_imageConst_assign(&even.k.image, &evenWeights.img);  // bypasses setKernel's check
    const kip_filterConvolveParams ok{2}, bad{1}, bad3{3};
    const kimg_window sw = src.window(), dw = dst.window(), sw16 = src16.window();
    const kimg_window nullWindow{};
    kiptest::Image unboundImage, fresh;

    EXPECT_EQ(A::filter(&src.img, &bad, &good.k, &dst.img), kip_errBadMode);
    EXPECT_EQ(A::filter(&src.img, &bad3, &good.k, &fresh.img), kip_errBadMode);
    EXPECT_EQ(A::filter(&src.img, &bad, &even.k, &dst.img), kip_errKernelSizeNotOdd);  // kernel first
    EXPECT_EQ(A::filterWindow(&sw, &bad, &even.k, &dw), kip_errBadMode);               // parameters first
    EXPECT_EQ(A::filterWindow(&sw, &ok, &even.k, &dw), kip_errKernelSizeNotOdd);
    EXPECT_EQ(A::filter(&src.img, &ok, &unboundKernel.k, &fresh.img), kip_errKernelImageUnbound);
    EXPECT_EQ(A::filter(&unboundImage.img, &ok, &good.k, &fresh.img), kip_errImageUnbound);
    EXPECT_EQ(A::filterWindow(&nullWindow, &ok, &good.k, &dw), kip_errImageUnbound);
    EXPECT_EQ(A::filterWindow(&sw, &ok, &good.k, &nullWindow), kip_errImageUnbound);
    EXPECT_EQ(A::filterWindow(&sw16, &ok, &good.k, &dw), kimg_errDepthMismatch);
    EXPECT_EQ(A::filter(&src16.img, &ok, &good.k, &fresh.img), kimg_errDepthMismatch);  // new pixels released
    EXPECT_EQ(A::filterWindow(&sw, &ok, &good.k, &sw16), A::kDepth == 2 ? 0 : kimg_errDepthMismatch);
    EXPECT_EQ(dst.values(), before);
    EXPECT_EQ(fresh.img.store, nullptr);

    kiptest::AssertCounter asserts;
    EXPECT_EQ(A::filter(nullptr, &ok, &good.k, &dst.img), kstd_errInvalidArgument);
    EXPECT_EQ(A::filter(&src.img, nullptr, &good.k, &dst.img), kstd_errInvalidArgument);
    EXPECT_EQ(A::filterWindow(&sw, &ok, nullptr, &dw), kstd_errInvalidArgument);
    EXPECT_EQ(A::filterWindow(&sw, &ok, &good.k, nullptr), kstd_errInvalidArgument);
    EXPECT_EQ(A::setKernel(&good.k, nullptr), kstd_errInvalidArgument);
    EXPECT_EQ(asserts.count(), 5);
    EXPECT_EQ(dst.values(), before);
}

// The hook is asked once per call, with the variant's label, whenever the optimised path could
// run (after the box label for a 1 x 1 kernel): not for an all-zero kernel, nor for the 8-bit
// 1 x 1 copy.
TYPED_TEST(ConvolveKernel, HookAskedOncePerCallWithItsLabel) {
    using A = TypeParam;
    PathGuard guard;
    std::mt19937 rng(11);
    Img src(1, rect(0, 0, 40, 30));
    src.fillRandom(rng);
    Kernel<A> k(5, 3, randomWeights<A>(rng, 15, 0)), zero(3, 3, std::vector<int32_t>(9, 0)), unit(1, 1, {4});
    const std::u16string label = labelOf(A::kLabel);
    kprt_isOptimizationInhibitedFP = &recordingHook;
    for (uint32_t mode : {0u, 2u}) {
        const kip_filterConvolveParams p{mode};
        Img a, b, c;
        ASSERT_EQ(A::filter(&src.img, &p, &k.k, &a.img), 0);
        EXPECT_EQ(std::exchange(labelsSeen, {}), label);
        ASSERT_EQ(A::filter(&src.img, &p, &zero.k, &b.img), 0);
        ASSERT_EQ(A::filter(&src.img, &p, &unit.k, &c.img), 0);
        EXPECT_EQ(std::exchange(labelsSeen, {}), A::kSigned ? labelOf(A::kBoxLabel) + label : u"");
    }
}

// A destination sharing the source's pixels: the fast path declines (clipped) or reads through the
// mirrored copy, so the result is the general path's; in the mirrored mode it also equals
// filtering into separate pixels.
TEST(ConvolveInPlace, SameResultsWithAndWithoutTheFastPath) {
    PathGuard guard;
    std::mt19937 rng(12);
    Img src(1, rect(0, 0, 40, 30));
    src.fillRandom(rng);
    Kernel<Api8> k(7, 5, randomWeights<Api8>(rng, 35, 0));
    for (uint32_t mode : {0u, 2u}) {
        const kip_filterConvolveParams p{mode};
        Img separate;
        ASSERT_EQ(kip_filterConvolve8_8_8(&src.img, &p, &k.k, &separate.img), 0);
        std::vector<uint16_t> results[2];
        for (int path : {0, kInhibited}) {
            Img pixels(1, rect(0, 0, 40, 30)), shared;
            pixels.setValues(src.values());
            kimg_image_assign(&shared.img, &pixels.img);
            choosePath(path);
            ASSERT_EQ(kip_filterConvolve8_8_8(&pixels.img, &p, &k.k, &shared.img), 0);
            choosePath(0);
            results[path / kInhibited] = pixels.values();
        }
        EXPECT_EQ(results[0], results[1]) << "mode " << mode;
        if (mode == 2) {
            EXPECT_EQ(results[0], separate.values());
        }
    }
}

// Kernels whose sums can leave the signed 32-bit range: the fast path declines, and the general
// loop wraps without undefined behaviour, as the reference models it. The 8-bit kernel's margins
// also exceed the source many times over.
TEST(ConvolveRange, KernelsBeyondTheAccumulatorWrap) {
    std::mt19937 rng(13);
    // Source, its pixels (filled below), kernel width and height, weights, signed.
    kipref::ConvolveCase c16{rect(0, 0, 20, 20), {}, 19, 19, std::vector(361, -32768), true};
    kipref::ConvolveCase c8{rect(-2, 1, 5, 4), {}, 201, 201, std::vector(201 * 201, 255), false};
    c16.weights[5] = 32767;
    for (kipref::ConvolveCase* c : {&c16, &c8}) {
        Img src(1, c->source);
        std::vector<uint16_t> px(size_t(c->source.width * c->source.height));
        for (uint16_t& v : px) v = uint16_t(230 + rng() % 26);  // bright enough that every sum wraps
        src.setValues(px);
        c->pixels.assign(px.begin(), px.end());
        Img out;
        const kip_filterConvolveParams p{2};
        kip_status s;
        if (c->signedKernel) {
            Kernel<Api16s> k(c->kw, c->kh, c->weights);
            kimg_windowConst kw, sw = src.window();
            kimg_windowConst_init(&kw, &k.k.image);
            kimg_window whole = src.window();
            EXPECT_EQ(kip_filterConvolveFast8_16s_16s_(&sw, &kw, 1 << 30, &whole), kip_errNotAvailable);
            s = kip_filterConvolve8_16s_16s(&src.img, &p, &k.k, &out.img);
        } else {
            Kernel<Api8> k(c->kw, c->kh, c->weights);
            s = kip_filterConvolve8_8_8(&src.img, &p, &k.k, &out.img);
        }
        ASSERT_EQ(s, 0);
        EXPECT_EQ(out.values(), kipref::referenceConvolve(*c).values);
    }
}

// Every allocation of the entries and the kernel operations, failed in turn: the failure comes
// back, the destination keeps its pixels (or stays unbound), the kernel is unchanged, nothing leaks.
TYPED_TEST(ConvolveKernel, FaultSweep) {
    using A = TypeParam;
    PathGuard guard;
    std::mt19937 rng(14);
    Img src(1, rect(0, 0, 30, 20)), bound(A::kDepth, rect(5, 5, 30, 20)), weights(A::kDepth, rect(0, 0, 5, 3));
    src.fillRandom(rng);
    bound.fillRandom(rng);
    weights.fillRandom(rng);
    const std::vector<uint16_t> boundBefore = bound.values();
    Kernel<A> k(3, 3, randomWeights<A>(rng, 9, 0)), reference;
    A::assign(&reference.k, &k.k);
    auto kernelUnchanged = [&](kip_status, int) { EXPECT_TRUE(same<A>(k.k, reference.k)); };
    EXPECT_GT(kiptest::faultSweep([&] { return A::setKernel(&k.k, &weights.img); }, kernelUnchanged, nullptr,
                                  [&] { A::assign(&k.k, &reference.k); }),
              0);
    EXPECT_GT(kiptest::faultSweep([&] { return A::assign(&k.k, &k.k); }, kernelUnchanged), 0);
    typename A::Kernel copy;
    bool built = false;
    EXPECT_GT(kiptest::faultSweep([&] { return A::constructCopy(&copy, &k.k); }, nullptr, nullptr,
                                  [&] { built = same<A>(copy, k.k), A::destruct(&copy); }),
              0);
    EXPECT_TRUE(built);

    // The general fast path, the separable path and the box path each hold one scratch block.
    Kernel<A> separable(5, 3, rankOneWeights<A>(rng, 5, 3, 0)), box(3, 5, std::vector<int32_t>(15, 2));
    for (const Kernel<A>* kernel : {&k, &separable, &box})
        for (int path : {0, kInhibited})
            for (uint32_t mode : {0u, 2u}) {
                const kip_filterConvolveParams p{mode};
                Img fresh;
                choosePath(path);
                EXPECT_GT(kiptest::faultSweep([&] { return A::filter(&src.img, &p, &kernel->k, &fresh.img); },
                                              [&](kip_status, int) { EXPECT_EQ(fresh.img.store, nullptr); }, nullptr,
                                              [&] { kimg_image_assignUnbound(&fresh.img); }),
                          0);
                const int n = kiptest::faultSweep([&] { return A::filter(&src.img, &p, &kernel->k, &bound.img); },
                                                  [&](kip_status, int) { EXPECT_EQ(bound.values(), boundBefore); },
                                                  [&] { bound.setValues(boundBefore); });
                EXPECT_EQ(n, mode == 0 && path == kInhibited ? 0 : 1) << "mode " << mode << " path " << path;
                choosePath(0);
            }
}

}  // namespace
