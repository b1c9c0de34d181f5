// The C++ wrapper: ownership of handles, wrapped memory, errors, and filters equal to the C calls.
#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <random>
#include <vector>

#include "kip/kip.hpp"

namespace {

using u8 = std::uint8_t;

// The code of the kip::error that f throws, or 0 when it throws none.
template <class F>
kip_status thrown(F f) {
    try {
        f();
    } catch (const kip::error& e) {
        return e.code();
    }
    return 0;
}

TEST(KipHpp, ImagesShareOnCopyHandOverOnMoveAndFreeOnce) {
    int64_t before = ksys_memory_getLiveBlocks();
    {
        kip::image<u8> a(5, 4);
        int64_t withOne = ksys_memory_getLiveBlocks();
        kip::image<u8> b = a;  // shares
        EXPECT_EQ(ksys_memory_getLiveBlocks(), withOne);
        b.view()(2, 1) = 7;
        EXPECT_EQ(a.view()(2, 1), 7);

        kip::image<u8> c = std::move(a);
        EXPECT_FALSE(a.bound());
        EXPECT_EQ(c.view()(2, 1), 7);
        kip::image<const u8> readOnly = std::move(c);
        EXPECT_FALSE(c.bound());

        kip::image<u8> d = b.clone();  // copies
        d.view()(2, 1) = 9;
        EXPECT_EQ(b.view()(2, 1), 7);
        EXPECT_EQ(ksys_memory_getLiveBlocks(), before + 2 * (withOne - before));

        b = std::move(d);  // releases b's share, takes d's pixels
        d = kip::image<u8>(3, 3);
        kip::image<u8>& alias = d;
        d = alias;  // self-assignment keeps the pixels
        EXPECT_TRUE(d.bound());
        EXPECT_EQ(b.view()(2, 1), 9);
        EXPECT_EQ(readOnly.view()(2, 1), 7);
    }
    EXPECT_EQ(ksys_memory_getLiveBlocks(), before);
}

TEST(KipHpp, WrappedMemoryIsNotCopiedAndHonoursTheStride) {
    std::vector<std::uint16_t> buffer(6 * 3, 0);  // 4 x 3 pixels in rows of 6
    {
        auto img = kip::image<std::uint16_t>::wrap(std::span(buffer), 4, 3, 6);
        EXPECT_EQ(img.view().row(0), buffer.data());
        img.view()(3, 2) = 500;
        EXPECT_EQ(buffer[2 * 6 + 3], 500);
        img.fill(11);
        EXPECT_EQ(buffer[6 + 3], 11);
        EXPECT_EQ(buffer[6 + 4], 0);  // the gap between rows is not pixels
        auto part = img.view().sub(kip::rect{1, 1, 10, 10});
        EXPECT_EQ(part.width(), 3);
        EXPECT_EQ(&part(0, 0), &buffer[6 + 1]);
    }
    EXPECT_EQ(buffer[2 * 6 + 3], 11);  // caller memory outlives the handle
    EXPECT_NE(thrown([] { kip::image<u8>::wrap(std::span<u8>(), 2, 2); }), 0);
    kip::image<u8> eight(2, 2);
    EXPECT_EQ(thrown([&] { kip::window<std::int16_t>{*eight.view().get()}; }), kimg_errDepthMismatch);
}

TEST(KipHpp, ErrorsCarryTheCodeAndItsName) {
    std::array<u8, 12> weights{};
    try {
        kip::kernel<u8> k(4, 3, weights);
        FAIL() << "an even kernel was accepted";
    } catch (const kip::error& e) {
        EXPECT_EQ(e.code(), kip_errKernelSizeNotOdd);
        EXPECT_STREQ(e.name(), "kip_errKernelSizeNotOdd");
        EXPECT_NE(std::string(e.what()).find("0x80000ea4"), std::string::npos);
    }
    kip::kernel<u8> box(3, 3, std::array<u8, 9>{1, 1, 1, 1, 1, 1, 1, 1, 1});
    kip::image<u8> src(8, 8);
    // convolve_border has no truncated mode; a forced value is still refused.
    EXPECT_EQ(thrown([&] { kip::convolve(src, box, kip::convolve_border(kip_filterBorderTruncated)); }),
              kip_errBadMode);
    int64_t before = ksys_memory_getLiveBlocks();
    ksys_memory_setFailAfter(0);
    EXPECT_EQ(thrown([] { kip::image<u8>(64, 64); }), ksys_errOutOfMemory);
    ksys_memory_setFailAfter(-1);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), before);
}

TEST(KipHpp, KernelsCopyMoveAndKeepTheirWeights) {
    int64_t before = ksys_memory_getLiveBlocks();
    {
        std::array<std::int16_t, 15> w;
        std::iota(w.begin(), w.end(), -7);
        kip::kernel<std::int16_t> a(5, 3, w);
        kip::kernel<std::int16_t> b = a;
        kip::kernel<std::int16_t> c = std::move(a);
        EXPECT_EQ(a.width(), 0);
        EXPECT_EQ(c.width(), 5);
        EXPECT_EQ(b(4, 2), 7);
        EXPECT_EQ(c(0, 0), -7);
        b = kip::kernel<std::int16_t>();
        EXPECT_EQ(b.width(), 0);
    }
    EXPECT_EQ(ksys_memory_getLiveBlocks(), before);
}

// The wrapper's filters give what the C entries give on the same pixels.
TEST(KipHpp, ConvolveMatchesTheCInterface) {
    std::mt19937 rng(5);
    std::vector<u8> pixels(23 * 17);
    for (u8& p : pixels) p = static_cast<u8>(rng());
    auto src = kip::image<const u8>::wrap(std::span<const u8>(pixels), 23, 17);
    std::array<std::int16_t, 15> w{3, -1, 0, 2, 5, -4, 1, 1, -2, 0, 7, -3, 2, 2, -1};
    kip::kernel<std::int16_t> k(5, 3, w);

    for (kip::convolve_border mode : {kip::convolve_border::clipped, kip::convolve_border::mirrored}) {
        kip::image<std::int16_t> mine = kip::convolve(src, k, mode);
        kip::image<std::int16_t> theirs;
        kip_filterConvolveParams params{static_cast<uint32_t>(mode)};
        ASSERT_EQ(kip_filterConvolve8_16s_16s(src.get(), &params, k.get(), theirs.get()), 0);
        uint32_t equal = 1;  // cleared when they differ
        kip_pelAndRectsEqual16(mine.get(), theirs.get(), &equal);
        EXPECT_EQ(equal, 1u);

        // The window form writes into part of an existing image and nowhere else.
        kip::image<std::int16_t> into(23, 17);
        into.fill(-99);
        kip::convolve(src.view(), k, into.view().sub(kip::rect{4, 3, 6, 5}), mode);
        auto a = into.view(), b = mine.view();
        for (int32_t y = 0; y < 17; ++y)
            for (int32_t x = 0; x < 23; ++x) {
                bool inside = x >= 4 && x < 10 && y >= 3 && y < 8;
                int32_t bx = x - mine.area().x, by = y - mine.area().y;
                EXPECT_EQ(a(x, y), inside ? b(bx, by) : -99) << x << "," << y;
            }
    }
}

TEST(KipHpp, MaskKernelsKeepAPrivateMaskAndCompareByMembers) {
    std::array<u8, 15> members{0, 1, 0, 1, 1, 1, 0, 1, 0, 1, 1, 1, 0, 0, 0};
    kip::mask_kernel cross(3, 5, members);
    members.fill(0);  // the kernel holds its own copy
    EXPECT_FALSE(cross.rectangular());
    EXPECT_EQ(cross.mask().view()(0, 0), 0);
    EXPECT_NE(cross.mask().view()(1, 0), 0);
    kip::mask_kernel copy = cross;
    EXPECT_TRUE(copy == cross);
    copy = kip::mask_kernel(3, 5);
    EXPECT_TRUE(copy.rectangular());
    EXPECT_FALSE(copy == cross);
    EXPECT_EQ(thrown([] { kip::mask_kernel(4, 3); }), kip_errKernelSizeNotOdd);
}

// kip::rank gives the C call's result in each form, and checks the percentile in the window form.
TEST(KipHpp, RankMatchesTheCInterface) {
    std::mt19937 rng(8);
    kip::image<std::uint16_t> src(kip::rect{2, 1, 21, 15});
    kip::image<u8> mask(kip::rect{2, 1, 21, 15});
    for (int32_t y = 0; y < 15; ++y)
        for (int32_t x = 0; x < 21; ++x) {
            src.view()(x, y) = static_cast<std::uint16_t>(rng());
            mask.view()(x, y) = static_cast<u8>(rng() % 3 ? 255 : 0);
        }
    kip::mask_kernel cross(3, 3, std::array<u8, 9>{0, 1, 0, 1, 1, 1, 0, 1, 0});
    const kip_filterRankParams params{kip_filterBorderTruncated, 0.7};
    for (bool masked : {false, true}) {
        kip::image<std::uint16_t> mine =
            masked ? kip::rank(src, kip::image<const u8>(mask), cross, 0.7) : kip::rank(src, cross, 0.7);
        kip::image<std::uint16_t> theirs;
        ASSERT_EQ(kip_filterRank16(src.get(), masked ? mask.get() : nullptr, &params, cross.get(), theirs.get()), 0);
        uint32_t equal = 1;
        kip_pelAndRectsEqual16(mine.get(), theirs.get(), &equal);
        EXPECT_EQ(equal, 1u) << masked;
        kip::image<std::uint16_t> into(kip::rect{2, 1, 21, 15});
        if (masked)
            kip::rank(src.view(), mask.view(), cross, 0.7, into.view());
        else
            kip::rank(src.view(), cross, 0.7, into.view());
        kip_pelAndRectsEqual16(into.get(), theirs.get(), &equal);
        EXPECT_EQ(equal, 1u) << masked;
    }
    EXPECT_EQ(thrown([&] { kip::rank(src, cross, 1.5); }), kip_errRankOutOfRange);
    EXPECT_EQ(thrown([&] { kip::rank(src.view(), cross, -0.5, src.view()); }), kip_errRankOutOfRange);
}

template <class T>
bool sameBits(const kip::image<T>& a, const kip::image<T>& b) {
    uint32_t equal = a.bound() ? 1 : 0;  // cleared on any difference
    const kip_status s = sizeof(T) == 1 ? kip_pelAndRectsEqual8(a.get(), b.get(), &equal)
                                        : kip_pelAndRectsEqual16(a.get(), b.get(), &equal);
    return s == 0 && equal == 1;
}

// Every form of one operation against the C image entry: same status, same bits.
template <class T, class Op>
void expectMorphologyLikeC(const Op& op, uint32_t code, const kip::image<T>& src, const kip::image<u8>& mask,
                           const kip::structuring_element& e) {
    kip_filterMorphologyParams params;
    ASSERT_EQ(kip_filterMorphologyParams_init(&params), 0);
    for (bool masked : {false, true}) {
        const kimg_image* m = masked ? mask.get() : nullptr;
        kip::image<T> theirs;
        const kip_status want = sizeof(T) == 1
                                    ? kip_filterMorphology8(src.get(), m, code, &params, e.get(), theirs.get())
                                    : kip_filterMorphology16(src.get(), m, code, &params, e.get(), theirs.get());
        kip::image<T> made, inWindow(src.area()), inPlace = src.clone();
        EXPECT_EQ(thrown([&] { made = masked ? op(src, mask, e) : op(src, e); }), want);
        EXPECT_EQ(thrown([&] {
                      if (masked)
                          op(src.view(), mask.view(), e, inWindow.view());
                      else
                          op(src.view(), e, inWindow.view());
                  }),
                  want);
        EXPECT_EQ(thrown([&] {
                      if (masked)
                          op(inPlace, mask, e, inPlace);
                      else
                          op(inPlace, e, inPlace);
                  }),
                  want);
        if (want != 0) continue;
        EXPECT_TRUE(sameBits(made, theirs)) << code << " " << masked;
        EXPECT_TRUE(sameBits(inWindow, theirs)) << code << " " << masked;
        EXPECT_TRUE(sameBits(inPlace, theirs)) << code << " " << masked;
    }
}

// kip::dilate, erode, open and close give the C entries' bits in every form and with each kind of
// element; refusals of the C layer come back as kip::error with their code.
TEST(KipHpp, MorphologyMatchesTheCInterface) {
    std::mt19937 rng(12);
    const kip::rect area{-3, 2, 23, 17};
    kip::image<u8> src8(area), mask(area);
    kip::image<std::uint16_t> src16(area);
    for (int32_t y = 0; y < area.height; ++y)
        for (int32_t x = 0; x < area.width; ++x) {
            src8.view()(x, y) = static_cast<u8>(rng());
            src16.view()(x, y) = static_cast<std::uint16_t>(rng());
            mask.view()(x, y) = static_cast<u8>(rng() % 4 ? 255 : 0);
        }
    std::vector<std::int16_t> weights(5 * 5);
    for (auto& w : weights) w = static_cast<std::int16_t>(int(rng() % 511) - 255);
    const kip::structuring_element weighted(kip::mask_kernel::disk(2), weights);
    const kip::structuring_element elements[] = {{5, 3}, kip::mask_kernel::disk(2), weighted};
    for (const kip::structuring_element& e : elements) {
        auto both = [&](const auto& op, uint32_t code) {
            expectMorphologyLikeC(op, code, src8, mask, e);
            expectMorphologyLikeC(op, code, src16, mask, e);
        };
        both(kip::dilate, kip_filterMorphologyDilate);
        both(kip::erode, kip_filterMorphologyErode);
        both(kip::open, kip_filterMorphologyOpen);
        both(kip::close, kip_filterMorphologyClose);
    }

    EXPECT_EQ(thrown([&] { kip::dilate(src16, weighted); }), kip_errNotAvailable);
    EXPECT_FALSE(weighted.flat());
    EXPECT_TRUE(elements[1].flat() && !elements[1].rectangular() && elements[0].rectangular());
    kip::structuring_element copy = weighted;
    EXPECT_TRUE(copy == weighted && !(copy == elements[1]));
    const kip::window<const std::int16_t> kept = copy.weights().view();
    EXPECT_EQ(kept(4, 1), weights[1 * 5 + 4]);
    EXPECT_FALSE(elements[0].weights().bound());

    kip::image<u8> small(kip::rect{0, 0, 4, 4}), out(area);
    const int64_t live = ksys_memory_getLiveBlocks();
    const std::vector<std::int16_t> eight(8, 1), tooHeavy(9, 256);
    EXPECT_EQ(thrown([&] { kip::structuring_element(3, 3, eight); }), kstd_errInvalidArgument);
    EXPECT_EQ(thrown([&] { kip::structuring_element(3, 3, tooHeavy); }), kip_errOffsetValueRange);
    EXPECT_EQ(thrown([&] { kip::erode(src8, {4, 3}); }), kip_errKernelSizeNotOdd);
    EXPECT_EQ(thrown([&] { kip::mask_kernel::disk(-1); }), kstd_errInvalidArgument);
    EXPECT_EQ(thrown([&] { kip::close(src8.view(), small.view(), {3, 3}, out.view()); }), kip_errMaskWindowMismatch);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);
}

}  // namespace

namespace {

// kip::error names a code as the C interface does, and both say what status.h promises.
TEST(KipHpp, ErrorNamesAgreeWithTheCInterface) {
    std::mt19937 rng(11);
    for (int i = 0; i < 2000; ++i) {
        kip_status code = i < 8 ? kip_status(0x80000ea0u + uint32_t(i)) : kip_status(rng());
        const char* c = nullptr;
        ASSERT_EQ(kip_status_getName(code, &c), 0);
        EXPECT_STREQ(kip::error(code).name(), c);
        std::string name = c;
        if (i < 8) {
            EXPECT_EQ(name.rfind("kip_err", 0), 0u) << std::hex << code;  // every library code has its name
        } else if (!kip_status_isFailure(code)) {
            EXPECT_EQ(name, "success");
        } else if (name != "unknown failure") {
            EXPECT_NE(name.find("_err"), std::string::npos) << name;
        }
    }
    EXPECT_STREQ(kip::error(kip_status(0x80001234u)).what(), "unknown failure (0x80001234)");
    EXPECT_STREQ(kip::error(kip_errBadMode).what(), "kip_errBadMode (0x80000ea1)");
}

// The default assertion handler names the function and the file as well as the line.
TEST(KipHppDeathTest, DefaultAssertionNamesTheFunctionAndFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(kip_filterConvolveParams_init(nullptr),
                 "kip: assertion failed in kip_filterConvolveParams_init \\(src/convolve/[a-z_]+\\.cpp:[0-9]+\\)");
}

}  // namespace
