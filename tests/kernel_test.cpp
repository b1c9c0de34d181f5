// Run-length image, encoded mask kernel and mask kernel.
#include <algorithm>
#include <cstring>

#include "reference/kernel_reference.hpp"
#include "support/test_support.hpp"

using kiptest::Image;
using kiptest::rect;
using Pairs = std::vector<kstd_pair32>;

bool operator==(const kstd_pair32& a, const kstd_pair32& b) { return a.x == b.x && a.y == b.y; }

namespace {

struct Rle {
    kip_rleImage8 r;
    Rle() { EXPECT_EQ(kip_rleImage8_construct(&r), 0); }
    ~Rle() { kip_rleImage8_destruct(&r); }
};

struct Kernel {
    kip_filterMaskKernel k;
    Kernel() { EXPECT_EQ(kip_filterMaskKernel_construct(&k), 0); }
    ~Kernel() { kip_filterMaskKernel_destruct(&k); }
};

template <class V, class T>
std::vector<T> elements(const V& v, kip_status (*getBeginSize)(const V*, const T**, int32_t*)) {
    const T* b = nullptr;
    int32_t n = 0;
    EXPECT_EQ(getBeginSize(&v, &b, &n), 0);
    return std::vector<T>(b, b + n);
}
std::vector<kip_rleRow8> rowsOf(const kip_rleImage8& r) {
    return elements(r.rows, kstd_vector_kip_rleRow8_getBeginSize32Const);
}
Pairs pairsOf(const kstd_vector_kstd_pair32& v) { return elements(v, kstd_vector_kstd_pair32_getBeginSize32Const); }

// Row-major pixels read straight from the runs, checking the row invariants on the way.
std::vector<uint16_t> unpack(const kip_rleImage8& r) {
    std::vector<uint16_t> px;
    for (const kip_rleRow8& row : rowsOf(r)) {
        const size_t start = px.size();
        for (int32_t k = 0; k + 1 < row.count; ++k) {
            EXPECT_GE(row.runs[k].length, 1);
            px.insert(px.end(), row.runs[k].length, row.runs[k].value);
        }
        EXPECT_TRUE(row.count >= 2 && row.runs[row.count - 1].length == 0 && row.runs[row.count - 1].value == 0);
        EXPECT_EQ(px.size() - start, size_t(r.width));
    }
    EXPECT_EQ(px.size(), size_t(r.width) * size_t(r.height));
    return px;
}

bool sameRle(const kip_rleImage8& a, const kip_rleImage8& b) {
    auto ra = rowsOf(a), rb = rowsOf(b);
    if (a.x != b.x || a.y != b.y || a.width != b.width || a.height != b.height || ra.size() != rb.size()) return false;
    for (size_t i = 0; i < ra.size(); ++i)
        if (ra[i].count != rb[i].count || std::memcmp(ra[i].runs, rb[i].runs, 2 * size_t(ra[i].count)) != 0)
            return false;
    return true;
}

// Rows follow one another inside a block; a row that does not follow its predecessor opens the
// next block, so no row spans two blocks.
void expectRowsPacked(const kip_rleImage8& r) {
    auto blocks = elements(r.blocks, kstd_vector_kip_rleRun8Ptr_getBeginSize32Const);
    auto rows = rowsOf(r);
    size_t opened = 0;
    for (size_t i = 0; i < rows.size(); ++i)
        if (i == 0 || rows[i].runs != rows[i - 1].runs + rows[i - 1].count) {
            ASSERT_LT(opened, blocks.size());
            EXPECT_EQ(rows[i].runs, blocks[opened++]);
        }
    EXPECT_EQ(opened, blocks.size());
}

bool sameEncoded(const kip_filterMaskKernelEncoded& a, const kip_filterMaskKernelEncoded& b) {
    return a.rectangular == b.rectangular && pairsOf(a.entering) == pairsOf(b.entering) &&
           pairsOf(a.leaving) == pairsOf(b.leaving);
}

bool sameKernel(const kip_filterMaskKernel& a, const kip_filterMaskKernel& b) {
    uint32_t equal = 7;
    return kip_filterMaskKernel_compareEqual(&a, &b, &equal) == 0 && equal == 1 && sameEncoded(a.encoded, b.encoded);
}

std::vector<int32_t> offsetsOf(const kip_filterMaskKernelEncoded& e, int32_t stride, bool entering) {
    kstd_vector32s v;
    EXPECT_EQ((entering ? kip_filterMaskKernelEncoded_createEnteringOffsets
                        : kip_filterMaskKernelEncoded_createLeavingOffsets)(&e, stride, &v),
              0);
    std::vector<int32_t> out = elements(v, kstd_vector32s_getBeginSize32Const);
    kstd_vector32s_destruct(&v);
    return out;
}

// Mask-like content: 0, 1 and 255 at a random density; sometimes any value, for many short runs.
void fillMask(const Image& im, std::mt19937& rng) {
    const double density = std::uniform_real_distribution<double>(0, 1.2)(rng);
    const bool anyValue = rng() % 5 == 0;
    kstd_rect32 r = im.window().rect;
    for (int32_t y = r.y; y < r.y + r.height; ++y)
        for (int32_t x = r.x; x < r.x + r.width; ++x)
            im.p8(x, y) = anyValue                                                       ? uint8_t(rng())
                          : std::uniform_real_distribution<double>(0, 1)(rng) >= density ? 0
                          : rng() % 3                                                    ? 255
                                                                                         : 1;
}

}  // namespace

TEST(RleImage, WorkedExamples) {
    Image row(1, rect(0, 0, 3, 1)), wide(1, rect(0, 0, 600, 1)), deep(2, rect(0, 0, 2, 2)), out(1, rect(0, 0, 2, 2));
    row.setValues({0, 0, 255});
    kip_pelSet8(&wide.img, 7);
    Rle a, b, empty;
    ASSERT_EQ(kip_rleImage8_encode(&a.r, &row.img), 0);
    ASSERT_EQ(kip_rleImage8_encode(&b.r, &wide.img), 0);  // runs of at most 255, which random rows never reach
    ASSERT_EQ(rowsOf(b.r)[0].count, 4);
    EXPECT_EQ(std::memcmp(rowsOf(b.r)[0].runs, "\x07\xff\x07\xff\x07\x5a\x00\x00", 8), 0);

    EXPECT_EQ(kip_rleImage8_decode(&empty.r, &out.img), 0);
    EXPECT_FALSE(kiptest::isBound(out.img));
    ASSERT_EQ(kip_rleImage8_assign(&a.r, &b.r), 0);
    EXPECT_EQ(kip_rleImage8_encode(&a.r, &deep.img), kimg_errDepthMismatch);
    EXPECT_TRUE(sameRle(a.r, b.r));

    Image disc(1, rect(0, 0, 63, 63));  // few runs per row: one block for the whole mask
    for (int32_t y = 0; y < 63; ++y)
        for (int32_t x = 0; x < 63; ++x) disc.p8(x, y) = (x - 31) * (x - 31) + (y - 31) * (y - 31) <= 900 ? 255 : 0;
    ASSERT_EQ(kip_rleImage8_encode(&a.r, &disc.img), 0);
    EXPECT_EQ(elements(a.r.blocks, kstd_vector_kip_rleRun8Ptr_getBeginSize32Const).size(), 1u);
}

TEST(RleImage, RandomWindowsRoundTrip) {
    std::mt19937 rng(1);
    for (int iter = 0; iter < 300; ++iter) {
        const int32_t w = 1 + int32_t(rng() % 64), h = 1 + int32_t(rng() % 64);
        Image im(1, rect(int32_t(rng() % 200) - 100, int32_t(rng() % 200) - 100, w + int32_t(rng() % 9),
                         h + int32_t(rng() % 9)));
        fillMask(im, rng);
        const kstd_rect32 f = im.window().rect;
        const int32_t x0 = f.x + int32_t(rng() % (f.width - w + 1)), y0 = f.y + int32_t(rng() % (f.height - h + 1));
        const kimg_window win = kiptest::restrict(im.window(), rect(x0, y0, w, h));
        const std::vector<uint16_t> px = kiptest::values(win);
        Rle enc, turned, twice, back, copy;
        ASSERT_EQ(kip_rleImage8_encodeWindow(&enc.r, &win), 0);
        EXPECT_EQ(unpack(enc.r), px);
        expectRowsPacked(enc.r);
        Image decoded;
        ASSERT_EQ(kip_rleImage8_decode(&enc.r, &decoded.img), 0);
        EXPECT_EQ(decoded.window().rect, win.rect);
        EXPECT_EQ(decoded.values(), px);

        ASSERT_EQ(kip_rleImage8_transpose(&enc.r, &turned.r), 0);
        const std::vector<uint16_t> tp = unpack(turned.r);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) ASSERT_EQ(tp[size_t(x) * h + y], px[size_t(y) * w + x]);
        EXPECT_TRUE(turned.r.x == win.rect.y && turned.r.y == win.rect.x);
        expectRowsPacked(turned.r);
        ASSERT_EQ(kip_rleImage8_transpose(&turned.r, &twice.r), 0);
        EXPECT_TRUE(sameRle(twice.r, enc.r));
        kip_rleImage8 direct;
        ASSERT_EQ(kip_rleImage8_constructWindowTranspose(&direct, &win), 0);
        EXPECT_TRUE(sameRle(direct, turned.r));
        kip_rleImage8_destruct(&direct);

        ASSERT_EQ(kip_rleImage8_reflect(&enc.r, &back.r), 0);
        EXPECT_EQ(unpack(back.r), std::vector<uint16_t>(px.rbegin(), px.rend()));
        EXPECT_TRUE(back.r.x == win.rect.x && back.r.y == win.rect.y);
        ASSERT_EQ(kip_rleImage8_reflect(&back.r, &back.r), 0);
        EXPECT_TRUE(sameRle(back.r, enc.r));
        kip_rleImage8 rt;
        ASSERT_EQ(kip_rleImage8_constructWindowReflectAndTranspose(&rt, &win), 0);
        const std::vector<uint16_t> rtp = unpack(rt);
        kip_rleImage8_destruct(&rt);
        for (int32_t c = 0; c < w; ++c)
            for (int32_t p = 0; p < h; ++p) ASSERT_EQ(rtp[size_t(c) * h + p], px[size_t(h - 1 - p) * w + (w - 1 - c)]);

        ASSERT_EQ(kip_rleImage8_assign(&copy.r, &enc.r), 0);
        EXPECT_TRUE(sameRle(copy.r, enc.r));
        expectRowsPacked(copy.r);
    }
}

TEST(EncodedKernel, StretchesMatchBruteForceScan) {
    std::mt19937 rng(2);
    for (int iter = 0; iter < 400; ++iter) {
        const int32_t odd = iter % 2, w = (1 + int32_t(rng() % 64)) | odd, h = (1 + int32_t(rng() % 64)) | odd;
        Image mask(1, rect(int32_t(rng() % 50) - 25, int32_t(rng() % 50) - 25, w, h)), seen;
        fillMask(mask, rng);
        if (iter % 10 == 0) kip_pelSet8(&mask.img, uint8_t(1 + rng() % 255));
        const std::vector<uint16_t> px = mask.values();
        const bool full = std::find(px.begin(), px.end(), 0) == px.end();
        Pairs leaving, entering;
        for (const kipref::Stretch& s : kipref::maskStretches(px, w, h))
            if (!full) leaving.push_back({s.column, s.top}), entering.push_back({s.column, s.bottom});
        kip_filterMaskKernelEncoded e;
        ASSERT_EQ(kip_filterMaskKernelEncoded_construct(&e), 0);
        ASSERT_EQ(kip_filterMaskKernelEncoded_encode(&e, &mask.img), 0);
        EXPECT_EQ(e.rectangular, full ? 1u : 0u);
        EXPECT_EQ(pairsOf(e.leaving), leaving);
        EXPECT_EQ(pairsOf(e.entering), entering);
        const int32_t stride = iter % 3 ? w + int32_t(rng() % 5000) - 2500 : int32_t(rng());
        for (bool enter : {true, false}) {
            std::vector<int32_t> expected;
            for (auto [c, p] : enter ? entering : leaving)
                expected.push_back(int32_t(uint32_t(int64_t(p) * stride + c)));
            EXPECT_EQ(offsetsOf(e, stride, enter), expected);
        }
        if (odd) {  // the mask kernel carries the same encoding of its own copy, moved to (0, 0)
            kip_filterMaskKernel *k = nullptr, *clone = nullptr;
            ASSERT_EQ(kip_filterMaskKernel_newWithMask(&k, &mask.img), 0);
            ASSERT_EQ(kip_filterMaskKernel_newClone(&clone, k), 0);
            const auto* ke = kiptest::get<const kip_filterMaskKernelEncoded*>(kip_filterMaskKernel_getEncodedKernel, k);
            EXPECT_TRUE(sameEncoded(*ke, e) && sameKernel(*clone, *k));
            ASSERT_EQ(kip_filterMaskKernel_getMask(clone, &seen.img), 0);
            EXPECT_EQ(seen.window().rect, rect(0, 0, w, h));
            EXPECT_EQ(seen.values(), px);
            EXPECT_EQ(kip_filterMaskKernel_delete(&k), 0);
            EXPECT_EQ(kip_filterMaskKernel_newClone(&clone, nullptr), 0);
            EXPECT_TRUE(k == nullptr && clone == nullptr);
        }
        kip_filterMaskKernelEncoded_destruct(&e);
    }
}

// The default kernel is a full 3 x 3; a size gives the full mask of that size; a mask is copied
// and moved to (0, 0).
TEST(MaskKernel, SizeAndMaskGiveTheSameKernelWhereverTheMaskLies) {
    Kernel k, copy;
    const kstd_pair32 size = kiptest::get<kstd_pair32>(kip_filterMaskKernel_getSize, &k.k);
    EXPECT_TRUE(size.x == 3 && size.y == 3);
    EXPECT_EQ(kiptest::get<uint32_t>(kip_filterMaskKernel_getIsRectangular, &k.k), 1u);
    Image full(1, rect(0, 0, 5, 3)), at(1, rect(10, 20, 5, 3)), home(1, rect(0, 0, 5, 3));
    kip_pelSet8(&full.img, 255);
    const kstd_pair32 fiveByThree{5, 3};
    ASSERT_EQ(kip_filterMaskKernel_setSize(&k.k, &fiveByThree), 0);
    ASSERT_EQ(kip_filterMaskKernel_setMask(&copy.k, &full.img), 0);
    EXPECT_TRUE(sameKernel(k.k, copy.k));

    std::mt19937 rng(3);
    fillMask(at, rng);
    home.setValues(at.values());
    ASSERT_EQ(kip_filterMaskKernel_setMask(&k.k, &at.img), 0);
    ASSERT_EQ(kip_filterMaskKernel_setMask(&copy.k, &home.img), 0);
    EXPECT_TRUE(sameKernel(k.k, copy.k));
    at.p8(10, 20) ^= 0xFF;
    EXPECT_TRUE(sameKernel(k.k, copy.k));
}

namespace {

template <class T>
using Step = std::pair<const char*, std::function<kip_status(T*)>>;

// Fails each allocation of op in turn; fresh() and drop(succeeded) run outside the injected
// failures, and same() must hold after every failure.
void sweep(const char* what, const std::function<kip_status()>& op, const std::function<bool()>& same,
           const std::function<void()>& fresh, const std::function<void(bool)>& drop) {
    SCOPED_TRACE(what);
    kip_status last = 0;
    const int allocations = kiptest::faultSweep(
        [&] { return last = op(); }, [&](kip_status, int at) { EXPECT_TRUE(same()) << "allocation " << at + 1; }, fresh,
        [&] { drop(!kip_status_isFailure(last)); });
    EXPECT_GT(allocations, 0);
}

// Constructors build into raw storage; changes work on a fresh copy of initial, which must come
// out of every failure unchanged. src, read by the operations, must never change.
template <class T, kip_status (*Destroy)(T*), kip_status (*Copy)(T*, const T*), bool (*Same)(const T&, const T&)>
void sweepAll(const T& src, const T& initial, std::initializer_list<Step<T>> constructors,
              std::initializer_list<Step<T>> changes) {
    T srcCopy, out, dst;
    ASSERT_EQ(Copy(&srcCopy, &src), 0);
    auto srcKept = [&] { return Same(src, srcCopy); };
    for (const Step<T>& step : constructors)
        sweep(
            step.first, [&] { return step.second(&out); }, srcKept, [] {}, [&](bool ok) { ok&& Destroy(&out); });
    for (const Step<T>& step : changes)
        sweep(
            step.first, [&] { return step.second(&dst); }, [&] { return Same(dst, initial) && srcKept(); },
            [&] { Copy(&dst, &initial); }, [&](bool) { Destroy(&dst); });
    Destroy(&srcCopy);
}

// Heap variants leave the pointer null when they fail.
template <class T, kip_status (*Delete)(T**)>
void sweepHeap(std::initializer_list<std::pair<const char*, std::function<kip_status(T**)>>> news) {
    T* p = nullptr;
    for (const auto& step : news)
        sweep(
            step.first, [&] { return step.second(&p); }, [&] { return p == nullptr; }, [] {},
            [&](bool) { Delete(&p); });
}

}  // namespace

TEST(Faults, RunLengthImage) {
    std::mt19937 rng(5);
    Image im(1, rect(3, -4, 90, 40)), decoded;
    fillMask(im, rng);
    for (int32_t y = -4; y < 36; ++y)  // rows of many runs fill several blocks
        for (int32_t x = 3; x < 93; x += 2) im.p8(x, y) = 9;
    const kimg_window win = kiptest::restrict(im.window(), rect(5, -3, 80, 35));
    Rle src, other;
    ASSERT_EQ(kip_rleImage8_encodeWindow(&src.r, &win), 0);
    ASSERT_EQ(kip_rleImage8_transpose(&src.r, &other.r), 0);
    using R = kip_rleImage8;
    sweepAll<R, kip_rleImage8_destruct, kip_rleImage8_constructCopy, sameRle>(
        src.r, other.r,
        {{"constructCopy", [&](R* o) { return kip_rleImage8_constructCopy(o, &src.r); }},
         {"constructWindow", [&](R* o) { return kip_rleImage8_constructWindow(o, &win); }},
         {"constructImage", [&](R* o) { return kip_rleImage8_constructImage(o, &im.img); }},
         {"constructWindowTranspose", [&](R* o) { return kip_rleImage8_constructWindowTranspose(o, &win); }},
         {"constructWindowReflectAndTranspose",
          [&](R* o) { return kip_rleImage8_constructWindowReflectAndTranspose(o, &win); }}},
        {{"encodeWindow", [&](R* d) { return kip_rleImage8_encodeWindow(d, &win); }},
         {"encode", [&](R* d) { return kip_rleImage8_encode(d, &im.img); }},
         {"assign", [&](R* d) { return kip_rleImage8_assign(d, &src.r); }},
         {"transpose", [&](R* d) { return kip_rleImage8_transpose(&src.r, d); }},
         {"reflect", [&](R* d) { return kip_rleImage8_reflect(&src.r, d); }}});
    sweep(
        "decode", [&] { return kip_rleImage8_decode(&src.r, &decoded.img); },
        [&] { return !kiptest::isBound(decoded.img); }, [] {}, [&](bool) { kimg_image_assignUnbound(&decoded.img); });
}

TEST(Faults, EncodedAndMaskKernels) {
    std::mt19937 rng(6);
    Image mask(1, rect(2, 2, 9, 7)), otherMask(1, rect(0, 0, 5, 5));
    fillMask(mask, rng);
    fillMask(otherMask, rng);
    mask.p8(2, 2) = otherMask.p8(0, 0) = 0;
    using E = kip_filterMaskKernelEncoded;
    using K = kip_filterMaskKernel;
    E src, other;
    ASSERT_EQ(kip_filterMaskKernelEncoded_constructImage(&src, &mask.img), 0);
    ASSERT_EQ(kip_filterMaskKernelEncoded_constructImage(&other, &otherMask.img), 0);
    kstd_vector32s offsets;
    for (auto create :
         {kip_filterMaskKernelEncoded_createEnteringOffsets, kip_filterMaskKernelEncoded_createLeavingOffsets})
        sweep(
            "offsets", [&] { return create(&src, -31, &offsets); }, [] { return true; }, [] {},
            [&](bool ok) { ok&& kstd_vector32s_destruct(&offsets); });
    sweepAll<E, kip_filterMaskKernelEncoded_destruct, kip_filterMaskKernelEncoded_constructCopy, sameEncoded>(
        src, other,
        {{"encoded constructImage", [&](E* o) { return kip_filterMaskKernelEncoded_constructImage(o, &mask.img); }},
         {"encoded constructCopy", [&](E* o) { return kip_filterMaskKernelEncoded_constructCopy(o, &src); }}},
        {{"encoded assign", [&](E* d) { return kip_filterMaskKernelEncoded_assign(d, &src); }},
         {"encoded encode", [&](E* d) { return kip_filterMaskKernelEncoded_encode(d, &mask.img); }}});
    kip_filterMaskKernelEncoded_destruct(&src);
    kip_filterMaskKernelEncoded_destruct(&other);

    Kernel ksrc, kother;
    ASSERT_EQ(kip_filterMaskKernel_setMask(&ksrc.k, &mask.img), 0);
    ASSERT_EQ(kip_filterMaskKernel_setMask(&kother.k, &otherMask.img), 0);
    const kstd_pair32 size{5, 7};
    sweepAll<K, kip_filterMaskKernel_destruct, kip_filterMaskKernel_constructCopy, sameKernel>(
        ksrc.k, kother.k,
        {{"construct", kip_filterMaskKernel_construct},
         {"constructSize", [&](K* o) { return kip_filterMaskKernel_constructSize(o, &size); }},
         {"constructMask", [&](K* o) { return kip_filterMaskKernel_constructMask(o, &mask.img); }},
         {"constructCopy", [&](K* o) { return kip_filterMaskKernel_constructCopy(o, &ksrc.k); }}},
        {{"assign", [&](K* d) { return kip_filterMaskKernel_assign(d, &ksrc.k); }},
         {"setMask", [&](K* d) { return kip_filterMaskKernel_setMask(d, &mask.img); }},
         {"setSize", [&](K* d) { return kip_filterMaskKernel_setSize(d, &size); }},
         {"reset", kip_filterMaskKernel_reset}});
    sweepHeap<K, kip_filterMaskKernel_delete>(
        {{"new", kip_filterMaskKernel_new},
         {"newWithSize", [&](K** p) { return kip_filterMaskKernel_newWithSize(p, &size); }},
         {"newWithMask", [&](K** p) { return kip_filterMaskKernel_newWithMask(p, &mask.img); }},
         {"newClone", [&](K** p) { return kip_filterMaskKernel_newClone(p, &ksrc.k); }}});
}

TEST(MaskKernel, BadInputIsRefusedAndChangesNothing) {
    Kernel k, before;
    Image unbound, even(1, rect(0, 0, 4, 5));
    const int64_t live = ksys_memory_getLiveBlocks();
    kip_filterMaskKernel raw;
    kip_filterMaskKernel* heap = nullptr;
    const kstd_pair32 sizes[] = {{2, 3}, {3, 2}, {0, 3}, {3, 0}, {-3, 3}, {3, -3}, {-1, -1}, {4, 4}};
    for (const kstd_pair32& size : sizes) {
        EXPECT_EQ(kip_filterMaskKernel_validateMaskSize_(&size), kip_errKernelSizeNotOdd);
        EXPECT_EQ(kip_filterMaskKernel_setSize(&k.k, &size), kip_errKernelSizeNotOdd);
        EXPECT_EQ(kip_filterMaskKernel_constructSize(&raw, &size), kip_errKernelSizeNotOdd);
        EXPECT_EQ(kip_filterMaskKernel_newWithSize(&heap, &size), kip_errKernelSizeNotOdd);
    }
    for (auto [image, code] : {std::pair{&unbound, kip_errKernelImageUnbound}, {&even, kip_errKernelSizeNotOdd}}) {
        EXPECT_EQ(kip_filterMaskKernel_validateMaskImage_(&image->img), code);
        EXPECT_EQ(kip_filterMaskKernel_setMask(&k.k, &image->img), code);
        EXPECT_EQ(kip_filterMaskKernel_constructMask(&raw, &image->img), code);
        EXPECT_EQ(kip_filterMaskKernel_newWithMask(&heap, &image->img), code);
    }
    EXPECT_EQ(kip_filterMaskKernelEncoded_encode(&k.k.encoded, &unbound.img), kip_errKernelImageUnbound);
    EXPECT_TRUE(sameKernel(k.k, before.k));
    EXPECT_EQ(heap, nullptr);
    EXPECT_EQ(ksys_memory_getLiveBlocks(), live);

    kiptest::AssertCounter asserts;
    EXPECT_TRUE(kip_status_isFailure(kip_filterMaskKernel_setSize(&k.k, nullptr)));
    EXPECT_TRUE(kip_status_isFailure(kip_rleImage8_decode(nullptr, &unbound.img)));
    EXPECT_EQ(asserts.count(), 2);
}
