// Hostile sizes for every family: sizes whose products pass 32 bits, strides below the width,
// images at the far ends of the 32-bit plane, neighbourhoods far larger than the image, and
// images of 1 x N and N x 1. Each gets a clear status or the result the geometry implies.
#include <climits>

#include "support/image_entries.hpp"
#include "support/test_support.hpp"

using kiptest::rect;

namespace {

// Allocation requests above 256 MiB fail, whatever the machine has.
struct SmallHeap {
    SmallHeap() { ksys_memory_setAllocationLimit(uint64_t{256} << 20); }
    ~SmallHeap() { ksys_memory_setAllocationLimit(0); }
};

// The neighbourhood families, and box convolution beside them.
std::vector<kiptest::ImageEntry> families() {
    std::vector<kiptest::ImageEntry> out = kiptest::imageEntries();
    out.push_back({"convolve box", 1, false,
                   [](const kiptest::Neighbourhood& n, const kimg_image* s, const kimg_image*, kimg_image* d) {
                       kip_filterConvolveKernel8 k;
                       kip_filterConvolveKernel8_construct(&k);
                       const kstd_pair32 size{n.width, n.height};
                       kip_status st = kip_filterConvolveKernel8_setBox(&k, &size);
                       const kip_filterConvolveParams p{kip_filterBorderMirrored};
                       if (!kip_status_isFailure(st)) st = kip_filterConvolve8_8_8(s, &p, &k, d);
                       kip_filterConvolveKernel8_destruct(&k);
                       return st;
                   }});
    return out;
}

struct Result {
    kip_status status;
    kstd_rect32 window;
    std::vector<uint16_t> values;
};

// Into an unbound destination, with a kw x kh neighbourhood.
Result run(const kiptest::ImageEntry& f, const kiptest::Image& source, int32_t kw, int32_t kh) {
    kiptest::Image out;
    const kiptest::Neighbourhood n(kw, kh);
    Result r{f.call(n, &source.img, nullptr, &out.img), {}, {}};
    if (kiptest::isBound(out.img)) {
        r.window = kiptest::windowOf(out.img);
        r.values = out.values();
    }
    return r;
}

void fill(const kiptest::Image& i, uint32_t seed) {
    std::mt19937 rng(seed);
    i.fillRandom(rng);
}

}  // namespace

// Moved to the far corners of the 32-bit plane, an image filters to the same pixels: no
// coordinate arithmetic overflows on the way.
TEST(HostileSizes, FarCornersGiveTheSameResult) {
    for (const kiptest::ImageEntry& f : families()) {
        SCOPED_TRACE(f.name);
        const kiptest::Image home(f.depth, rect(0, 0, 19, 13));
        fill(home, 3);
        const Result expected = run(f, home, 5, 3);
        ASSERT_EQ(expected.status, 0);
        for (const kstd_rect32& far : {rect(INT32_MAX - 19, INT32_MAX - 13, 19, 13), rect(INT32_MIN, INT32_MIN, 19, 13),
                                       rect(INT32_MIN, INT32_MAX - 13, 19, 13)}) {
            kiptest::Image moved(f.depth, far);
            moved.setValues(home.values());
            const Result got = run(f, moved, 5, 3);
            ASSERT_EQ(got.status, 0) << far;
            EXPECT_EQ(got.window.x - far.x, expected.window.x);
            EXPECT_EQ(got.window.y - far.y, expected.window.y);
            EXPECT_EQ(got.values, expected.values) << far;
        }
    }
}

// A 1 x N image filters like its N x 1 transpose with the transposed neighbourhood; both stay
// clean with neighbourhoods far larger than the image, which then act as the whole line.
TEST(HostileSizes, LinesAndHugeNeighbourhoods) {
    SmallHeap heap;
    for (const kiptest::ImageEntry& f : families()) {
        SCOPED_TRACE(f.name);
        for (int32_t n : {1, 2, 37, 300}) {
            const kiptest::Image row(f.depth, rect(4, -2, n, 1));
            fill(row, uint32_t(n));
            kiptest::Image column(f.depth, rect(-2, 4, 1, n));
            column.setValues(row.values());
            for (int32_t k : {1, 3, 9, 2 * n + 1}) {
                const Result a = run(f, row, k, 3), b = run(f, column, 3, k);
                ASSERT_EQ(a.status, 0) << n << " " << k;
                ASSERT_EQ(b.status, 0) << n << " " << k;
                EXPECT_EQ(a.values, b.values) << n << " " << k;
            }
            // Convolution mirrors at the border, so a longer box is a different filter there.
            if (f.name == "convolve box") continue;
            // On a short, wide image a tall neighbourhood takes whole columns; scratch follows
            // the image, not the neighbourhood.
            if (n == 37) {
                const kiptest::Image wide(f.depth, rect(1, 2, 40, 5));
                fill(wide, 9);
                const Result columns = run(f, wide, 3, 11);
                ksys_memory_setAllocationLimit(uint64_t{8} << 20);
                const Result tall = run(f, wide, 3, 65537);
                ksys_memory_setAllocationLimit(uint64_t{256} << 20);
                ASSERT_EQ(tall.status, 0);
                EXPECT_EQ(tall.values, columns.values);
            }
            const Result whole = run(f, row, 2 * n + 1, 1);
            for (int32_t huge : {65535, 1 << 20 | 1, INT32_MAX}) {
                const Result r = run(f, row, huge, 1);
                if (r.status == ksys_errOutOfMemory) continue;  // a kernel mask of that width
                ASSERT_EQ(r.status, 0) << huge;
                EXPECT_EQ(r.values, whole.values) << huge;
            }
        }
    }
}

// Sizes whose products pass 32 bits are refused, never wrapped into a small allocation; the
// object asked to change stays as it was.
TEST(HostileSizes, OverflowingProductsAreRefused) {
    SmallHeap heap;
    const int64_t live = ksys_memory_getLiveBlocks();
    auto refused = [](kip_status s) { return s == ksys_errOutOfMemory || s == kstd_errInvalidArgument; };
    for (const kstd_pair32& size : {kstd_pair32{65537, 65537}, kstd_pair32{46341, 46341}, kstd_pair32{INT32_MAX, 3},
                                    kstd_pair32{3, INT32_MAX}, kstd_pair32{INT32_MAX, INT32_MAX}}) {
        SCOPED_TRACE(std::to_string(size.x) + " x " + std::to_string(size.y));
        kiptest::Image image;
        EXPECT_TRUE(refused(kimg_image_assignNew(&image.img, 1, size.x, size.y)));
        EXPECT_TRUE(refused(kimg_image_assignNew(&image.img, 2, size.x, size.y)));
        EXPECT_FALSE(kiptest::isBound(image.img));

        kip_filterMaskKernel k;
        ASSERT_EQ(kip_filterMaskKernel_construct(&k), 0);
        EXPECT_TRUE(refused(kip_filterMaskKernel_setSize(&k, &size)));
        EXPECT_EQ(kiptest::get<kstd_pair32>(kip_filterMaskKernel_getSize, &k).x, 3);
        kip_filterMaskKernel_destruct(&k);

        kip_filterMorphologyStructuringElement e;
        ASSERT_EQ(kip_filterMorphologyStructuringElement_construct(&e), 0);
        EXPECT_TRUE(refused(kip_filterMorphologyStructuringElement_setSize(&e, &size)));
        kip_filterMorphologyStructuringElement_destruct(&e);

        kip_filterConvolveKernel8 c;
        ASSERT_EQ(kip_filterConvolveKernel8_construct(&c), 0);
        EXPECT_EQ(kip_filterConvolveKernel8_setBox(&c, &size), kstd_errInvalidArgument);
        EXPECT_EQ(kip_filterConvolveKernel8_setGaussian(&c, &size), kstd_errInvalidArgument);
        kip_filterConvolveKernel8_destruct(&c);
    }
    kstd_vector32s v;
    ASSERT_EQ(kstd_vector32s_constructEmpty(&v), 0);
    EXPECT_TRUE(refused(kstd_vector32s_resize(&v, INTPTR_MAX / 2)));
    EXPECT_TRUE(refused(kstd_vector32s_reserve(&v, INTPTR_MAX)));
    EXPECT_EQ(kiptest::get<int32_t>(kstd_vector32s_getSize32, &v), 0);
    kstd_vector32s_destruct(&v);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);
}

// Caller memory with a stride below the width, and rectangles whose edges pass the 32-bit
// range, are refused before anything is made.
TEST(HostileSizes, StridesAndRectanglesOutsideTheRange) {
    static uint16_t pixels[64];
    kimg_image image;
    for (int32_t stride : {7, 0, -8}) {
        const kstd_rect32 r{0, 0, 8, 4};
        EXPECT_EQ(kimg_image_constructWrap(&image, 2, &r, stride, pixels), kstd_errInvalidArgument) << stride;
    }
    const kstd_pair32 k3{3, 3}, centred{0, 0};
    for (const kstd_rect32& r : {rect(INT32_MAX - 5, 0, 10, 10), rect(0, INT32_MAX, 1, 2), rect(INT32_MIN, 0, -1, 4),
                                 rect(INT32_MAX - 9, INT32_MAX - 9, 40, 40)}) {
        EXPECT_EQ(kimg_image_constructRect(&image, 1, &r), kstd_errInvalidArgument) << r;
        EXPECT_EQ(kimg_image_constructWrap(&image, 1, &r, 10, pixels), kstd_errInvalidArgument) << r;
        // Split into pieces, such a window would wrap; the clip alone may reach anywhere.
        kstd_rect32 p[5] = {r, r, r, r, r};
        EXPECT_EQ(kip_filterCommon_gcrRect(&r, &r, &k3, &centred, &p[0], &p[1], &p[2], &p[3], &p[4]),
                  kstd_errInvalidArgument)
            << r;
        for (const kstd_rect32& q : p) EXPECT_EQ(q, r);
        kstd_rect32 t = r;
        EXPECT_EQ(kstd_rect32_trim(&t, 0, 0, 1, 0, 1, 0), r.width > 0 ? kstd_errInvalidArgument : kip_errRectEmpty);
        EXPECT_EQ(t, r);
    }
    // The far edge itself is fine: the last pixel sits at INT32_MAX - 1.
    const kstd_rect32 edge{INT32_MAX - 4, INT32_MAX - 2, 4, 2};
    ASSERT_EQ(kimg_image_constructRect(&image, 1, &edge), 0);
    uint32_t clipped = 0;
    const kstd_rect32 beyond{INT32_MAX - 2, INT32_MAX - 1, INT32_MAX, INT32_MAX};
    ASSERT_EQ(kimg_image_setWindowRect(&image, &beyond, &clipped), 0);
    EXPECT_EQ(clipped, 1u);
    EXPECT_EQ(kiptest::windowOf(image), rect(INT32_MAX - 2, INT32_MAX - 1, 2, 1));
    kimg_image_destruct(&image);
}
