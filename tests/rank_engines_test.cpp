// The rank engines that stand in for the general ones (two-level 16-bit histograms, the 8-bit
// masked sweep) against those general engines, bit for bit, on random windows, kernels, image
// masks, values and percentiles, with each instruction set forced in turn.
#include <algorithm>
#include <functional>
#include <string>

#include "rank/rank_internal.hpp"
#include "support/rank_random.hpp"
#include "support/test_support.hpp"

using kiptest::below;
using Kernel = kiptest::RankKernel;
using kiptest::Image;
using kiptest::randomKernelMask;
using kiptest::randomPercentile;
using kiptest::rect;

namespace {

// Full range, 12-bit data, the two extremes, a narrow cluster, or a ramp with noise; 8-bit
// images keep the low byte.
std::vector<uint16_t> randomValues(std::mt19937& rng, size_t n, uint32_t depth) {
    const int style = below(rng, 5);
    const uint32_t base = rng() % 60000;
    std::vector<uint16_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t r = rng();
        v[i] = style == 0   ? uint16_t(r)
               : style == 1 ? uint16_t(r % 4096)
               : style == 2 ? uint16_t(r % 2 ? 65535 : 0)
               : style == 3 ? uint16_t(base + r % 40)
                            : uint16_t(i * 37 + r % 300);
        if (depth == 1) v[i] = style == 2 ? v[i] >> 8 : style == 3 ? uint16_t(base % 200 + r % 40) : v[i] & 255;
    }
    return v;
}

// A destination band and a source with its columns reaching up to half a kernel above and below,
// each inside a larger image with random content, as the median's bands give them.
struct Band {
    Image sourceImage, maskImage, destinationImage;
    kimg_window source{}, mask{}, destination{};

    Band(std::mt19937& rng, uint32_t depth, int32_t w, int32_t h, int32_t above, int32_t beneath, bool imageMask)
        : sourceImage(depth, rect(-2, -40, w + 5, h + 80)),
          maskImage(1, rect(-2, -40, w + 5, h + 80)),
          destinationImage(depth, rect(-1, -1, w + 3, h + 3)) {
        const int32_t x = below(rng, 3), y = below(rng, 3);
        const kstd_rect32 s = rect(x, y - above, w, h + above + beneath);
        sourceImage.setValues(randomValues(rng, size_t(w + 5) * size_t(h + 80), depth));
        if (imageMask) {
            const std::vector<uint8_t> m = kiptest::randomImageMask(rng, size_t(w + 5) * size_t(h + 80));
            maskImage.setValues(std::vector<uint16_t>(m.begin(), m.end()));
        }
        destinationImage.fillRandom(rng);
        source = kiptest::restrict(sourceImage.window(), s);
        mask = kiptest::restrict(maskImage.window(), s);
        destination = kiptest::restrict(destinationImage.window(), rect(x, y, w, h));
    }
};

// Runs the engine under test and its general twin on the same band into two copies of the
// destination; both succeed and leave the same pixels.
void expectSame(Band& b, const std::function<kip_status(const kimg_window&)>& tested,
                const std::function<kip_status(const kimg_window&)>& general, const std::string& where) {
    const std::vector<uint16_t> before = b.destinationImage.values();
    ASSERT_EQ(tested(b.destination), 0) << where;
    const std::vector<uint16_t> fast = b.destinationImage.values();
    b.destinationImage.setValues(before);
    ASSERT_EQ(general(b.destination), 0) << where;
    ASSERT_EQ(fast, b.destinationImage.values()) << where;
}

TEST(RankTwoLevel, MatchesFlatEnginesOnRandomBands) {
    std::mt19937 rng(4711);
    for (int iter = 0; iter < 1500; ++iter) {
        const int shape = below(rng, 3);  // rectangle, masked, masked with an image mask
        const int32_t kw = 1 + 2 * below(rng, iter % 7 == 0 ? 40 : 12), kh = 1 + 2 * below(rng, 12);
        const int32_t w = 1 + below(rng, iter % 5 == 0 ? 160 : 40), h = 1 + below(rng, 30);
        Band b(rng, 2, w, h, below(rng, kh / 2 + 1), below(rng, kh / 2 + 1), shape == 2);
        const kstd_pair32 size{kw, kh};
        const Kernel kernel(kw, kh, shape == 0 ? std::vector<uint8_t>{} : randomKernelMask(rng, kw, kh));
        const double p = randomPercentile(rng, kernel.members);
        const std::string where = "shape " + std::to_string(shape) + " kernel " + std::to_string(kw) + "x" +
                                  std::to_string(kh) + " band " + std::to_string(w) + "x" + std::to_string(h) + " p " +
                                  std::to_string(p);
        const kimg_window s = b.source, m = b.mask;
        if (shape == 0)
            expectSame(
                b, [&](const kimg_window& d) { return kip_filterRankRectTwoLevel16_(&s, p, &size, &d); },
                [&](const kimg_window& d) { return kip_filterRankRect16_(&s, p, &size, &d); }, where);
        else if (shape == 1)
            expectSame(
                b, [&](const kimg_window& d) { return kip_filterRankMaskedTwoLevel16_(&s, p, &kernel.k, &d); },
                [&](const kimg_window& d) { return kip_filterRankMasked16_(&s, p, &kernel.k, &d); }, where);
        else
            expectSame(
                b,
                [&](const kimg_window& d) {
                    return kip_filterRankMaskedImageMaskTwoLevel16_(&s, &m, p, &kernel.k, &d);
                },
                [&](const kimg_window& d) { return kip_filterRankMaskedImageMask16_(&s, &m, p, &kernel.k, &d); },
                where);
        if (HasFailure()) return;
    }
}

// 16-bit counters: a neighbourhood that can hold 65536 pixels is declined before anything is
// touched, one pixel fewer is served.
TEST(RankTwoLevel, DeclinesNeighbourhoodsBeyondItsCounters) {
    std::mt19937 rng(5);
    Band b(rng, 2, 129, 130, 0, 0, true);
    const kimg_window s = b.source, m = b.mask, d = b.destination;
    const std::vector<uint16_t> before = b.destinationImage.values();
    // Full masks but for one pixel (a full mask is a rectangle, not the masked engines' business).
    std::vector<uint8_t> fullMask(257 * 257, 255), wideMask(257 * 255, 255);
    fullMask[100] = wideMask[100] = 0;
    const Kernel full(257, 257, fullMask), wide(257, 255, wideMask);
    EXPECT_EQ(kip_filterRankMaskedTwoLevel16_(&s, 0.5, &full.k, &d), kip_errNotAvailable);
    EXPECT_EQ(kip_filterRankMaskedImageMaskTwoLevel16_(&s, &m, 0.5, &full.k, &d), kip_errNotAvailable);
    EXPECT_EQ(b.destinationImage.values(), before);
    // The bound is the kernel cut to the source: its columns, and its rows present.
    const kstd_pair32 tall{255, 100001}, wider{259, 255}, narrower{257, 255};
    EXPECT_EQ(kip_filterRankRectTwoLevel16_(&s, 0.5, &wider, &d), kip_errNotAvailable);
    EXPECT_EQ(b.destinationImage.values(), before);
    expectSame(
        b, [&](const kimg_window& o) { return kip_filterRankMaskedTwoLevel16_(&s, 0.3, &wide.k, &o); },
        [&](const kimg_window& o) { return kip_filterRankMasked16_(&s, 0.3, &wide.k, &o); }, "masked 257x255");
    expectSame(
        b, [&](const kimg_window& o) { return kip_filterRankRectTwoLevel16_(&s, 0.7, &narrower, &o); },
        [&](const kimg_window& o) { return kip_filterRankRect16_(&s, 0.7, &narrower, &o); }, "rect 257x255");
    EXPECT_EQ(kip_filterRankRectTwoLevel16_(&s, 0.5, &tall, &d), kip_errNotAvailable);
}

// Each instruction set in turn (widest first, SSE2 only, none), with and without an image mask,
// kernels up to 61 columns so that the widest strips serve and wider kernels are declined; bands
// with extra source rows.
TEST(RankMaskedFast, MatchesGeneralEngineOnEveryInstructionSet) {
    kiptest::FeatureGuard guard;
    const uint32_t forced[] = {0xFFFFFFFFu, ~uint32_t(ksys_cpuFeatureAvx2), 0u};
    ksys_cpuinfo info{};
    ASSERT_EQ(ksys_cpuinfo_init(&info), 0);
    const bool avx2 = (info.features & ksys_cpuFeatureAvx2) != 0;
    std::mt19937 rng(1234);
    for (int iter = 0; iter < 1500; ++iter) {
        const uint32_t mask = forced[iter % 3];
        const bool imageMask = iter % 2 != 0;
        const int32_t kw = 1 + 2 * below(rng, iter % 4 == 0 ? 31 : 9), kh = 1 + 2 * below(rng, 11);
        // Wide bands give strips away from the border, where sparse kernel rows (disks, crosses)
        // are updated position by position.
        const int32_t w = 1 + below(rng, iter % 5 < 2 ? 200 : 50), h = 1 + below(rng, 24);
        Band b(rng, 1, w, h, below(rng, kh / 2 + 1), below(rng, kh / 2 + 1), imageMask);
        const Kernel kernel(kw, kh, randomKernelMask(rng, kw, kh));
        const double p = randomPercentile(rng, kernel.members);
        const kimg_window s = b.source, d = b.destination, m = b.mask;
        const auto fast = [&](const kimg_window& o) {
            return imageMask ? kip_filterRankMaskedImageMaskFast8_(&s, &m, p, &kernel.k, &o)
                             : kip_filterRankMaskedFast8_(&s, p, &kernel.k, &o);
        };
        const std::string where = "kernel " + std::to_string(kw) + "x" + std::to_string(kh) + " band " +
                                  std::to_string(w) + "x" + std::to_string(h) + " p " + std::to_string(p) +
                                  " features " + std::to_string(mask) + " image mask " + std::to_string(imageMask);
        const int32_t widest = mask == 0 ? 0 : avx2 && mask == 0xFFFFFFFFu ? 48 : 32;
        if (kw >= widest) {
            const std::vector<uint16_t> before = b.destinationImage.values();
            ksys_cpuinfo_setFeatureMask(mask);
            EXPECT_EQ(fast(d), kip_errNotAvailable) << where;
            ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
            EXPECT_EQ(b.destinationImage.values(), before) << where;
            continue;
        }
        expectSame(
            b,
            [&](const kimg_window& o) {
                ksys_cpuinfo_setFeatureMask(mask);
                const kip_status status = fast(o);
                ksys_cpuinfo_setFeatureMask(0xFFFFFFFFu);
                return status;
            },
            [&](const kimg_window& o) {
                return imageMask ? kip_filterRankMaskedImageMask8_(&s, &m, p, &kernel.k, &o)
                                 : kip_filterRankMasked8_(&s, p, &kernel.k, &o);
            },
            where);
        if (HasFailure()) return;
    }
}

// Windows the general engine decides: shared memory (source or image mask), and a source missing
// destination rows.
TEST(RankMaskedFast, DeclinesSharedMemoryAndMissingRows) {
    std::mt19937 rng(8);
    Band b(rng, 1, 40, 20, 0, 0, true);
    const Kernel disk(
        7, 7, std::vector<uint8_t>{0,   0,   255, 255, 255, 0,   0,   0,   255, 255, 255, 255, 255, 0,   255, 255, 255,
                                   255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255,
                                   255, 0,   255, 255, 255, 255, 255, 0,   0,   0,   255, 255, 255, 0,   0});
    const std::vector<uint16_t> before = b.destinationImage.values();
    const kimg_window d = b.destination;
    const kimg_window shorter = kiptest::restrict(b.source, rect(d.rect.x, d.rect.y, 40, 19));
    EXPECT_EQ(kip_filterRankMaskedFast8_(&d, 0.5, &disk.k, &d), kip_errNotAvailable);
    const kimg_window sameMask = kiptest::restrict(b.destinationImage.window(), b.source.rect);
    EXPECT_EQ(kip_filterRankMaskedImageMaskFast8_(&b.source, &sameMask, 0.5, &disk.k, &d), kip_errNotAvailable);
    kiptest::AssertCounter asserts;
    EXPECT_EQ(kip_filterRankMaskedFast8_(&shorter, 0.5, &disk.k, &d), kip_errNotAvailable);
    EXPECT_EQ(kip_filterRankMaskedImageMaskFast8_(&shorter, &b.mask, 0.5, &disk.k, &d), kip_errNotAvailable);
    EXPECT_EQ(asserts.count(), 0);
    EXPECT_EQ(b.destinationImage.values(), before);
}

}  // namespace
