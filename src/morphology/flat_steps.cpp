// The separable steps: scalar row and column passes and their vector twins, each one template
// over the pixel type and the maximum/minimum.
#include "frame/cleanup.hpp"
#include "frame/isa.hpp"
#include "morphology/flat_isa.hpp"
#include "morphology/variants.hpp"
#include "platform/assert.hpp"

using kip::failed;
using namespace kip::morphology;

namespace {

// Scalar row: left border, the interior two outputs at a time (the pair shares its ew - 1 inner
// pixels), the right border. Excluded pixels (mask 0) are read as neutral.
template <class T, bool Dilate>
void rowScalar(const T* src, const uint8_t* mask, int32_t width, int32_t ew, T* out) {
    using E = Extreme<T, Dilate>;
    const int32_t l = (ew - 1) >> 1;
    const int32_t r = ew - 1 - l;
    auto at = [&](int32_t x) -> T { return mask && mask[x] == 0 ? E::kNeutral : src[x]; };
    auto span = [&](int32_t from, int32_t to) {  // inclusive, clipped to the row
        if (from < 0) from = 0;
        if (to > width - 1) to = width - 1;
        T m = E::kNeutral;
        for (int32_t i = from; i <= to; ++i) m = E::pick(m, at(i));
        return m;
    };
    const int32_t left = l < width - r ? l : (width - r > 0 ? width - r : 0);
    int32_t x = 0;
    for (; x < left && x < width; ++x) out[x] = span(x - l, x + r);
    // Interior: x - l >= 0 and x + 1 + r <= width - 1.
    for (; x + 1 + r <= width - 1; x += 2) {
        const T inner = span(x - l + 1, x + r);
        out[x] = E::pick(inner, at(x - l));
        out[x + 1] = E::pick(inner, at(x + 1 + r));
    }
    if (x + r <= width - 1 && x < width) {
        out[x] = span(x - l, x + r);
        ++x;
    }
    for (; x < width; ++x) out[x] = span(x - l, x + r);
}

// Scalar column: count ring rows from slot start, wrapping; four columns at a time. Pixels whose
// mask is 0 take the source value; a group of four such pixels is copied without computing.
template <class T, bool Dilate>
void colScalar(const T* const* rows, int32_t count, const T* source, const uint8_t* mask, int32_t width, T* out) {
    using E = Extreme<T, Dilate>;
    int32_t x = 0;
    for (; x < width - 3; x += 4) {
        if (mask && (mask[x] | mask[x + 1] | mask[x + 2] | mask[x + 3]) == 0) {
            out[x] = source[x], out[x + 1] = source[x + 1], out[x + 2] = source[x + 2], out[x + 3] = source[x + 3];
            continue;
        }
        T a = rows[0][x], b = rows[0][x + 1], c = rows[0][x + 2], d = rows[0][x + 3];
        for (int32_t k = 1; k < count; ++k) {
            const T* row = rows[k];
            a = E::pick(a, row[x]), b = E::pick(b, row[x + 1]), c = E::pick(c, row[x + 2]), d = E::pick(d, row[x + 3]);
        }
        out[x] = mask && !mask[x] ? source[x] : a;
        out[x + 1] = mask && !mask[x + 1] ? source[x + 1] : b;
        out[x + 2] = mask && !mask[x + 2] ? source[x + 2] : c;
        out[x + 3] = mask && !mask[x + 3] ? source[x + 3] : d;
    }
    for (; x < width; ++x) {
        if (mask && !mask[x]) {
            out[x] = source[x];
            continue;
        }
        T a = rows[0][x];
        for (int32_t k = 1; k < count; ++k) a = E::pick(a, rows[k][x]);
        out[x] = a;
    }
}

template <class T>
void rowScalarFor(const T* src, const uint8_t* mask, int32_t width, int32_t ew, bool dilate, T* out) {
    if (dilate)
        rowScalar<T, true>(src, mask, width, ew, out);
    else
        rowScalar<T, false>(src, mask, width, ew, out);
}

// The ring slots of one destination row, first segment then the wrapped one.
template <class T>
void ringRows(const T* ring, int32_t pitch, int32_t slots, int32_t count, int32_t start, const T** rows) {
    const int32_t first = slots - start < count ? slots - start : count;
    for (int32_t k = 0; k < first; ++k) rows[k] = ring + int64_t{start + k} * pitch;
    for (int32_t k = first; k < count; ++k) rows[k] = ring + int64_t{k - first} * pitch;
}

// Widest ring a column step lists on the stack; taller elements list their rows in chunks.
constexpr int32_t kRowChunk = 64;

template <class T>
kip_status colStep(const kimg_windowConst* source, const kimg_windowConst* mask, const T* ring,
                   const kimg_window* destination, int32_t pitch, int32_t slots, int32_t count, int32_t start,
                   int32_t outRow, int32_t dilate, const FlatIsa* isa) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(ring);
    KIP_REQUIRE(destination);
    KIP_ASSERT(count >= 1 && count <= slots && count <= source->rect.height && start >= 0 && start <= slots);
    const int32_t width = source->rect.width;
    const T* src = rowOf<T>(*source, outRow);
    const uint8_t* m = mask ? rowOf<uint8_t>(*mask, outRow) : nullptr;
    T* out = mutableRowOf<T>(*destination, outRow);
    ColKernel<T> kernel = nullptr;
    if (isa) {
        if constexpr (sizeof(T) == 1)
            kernel = isa->col8[dilate ? 1 : 0];
        else
            kernel = isa->col16[dilate ? 1 : 0];
    }
    const T* rows[kRowChunk];
    // A tall element: fold the rows in chunks into the output row, then over it again.
    int32_t done = 0;
    while (done < count) {
        int32_t n = count - done < kRowChunk - 1 ? count - done : kRowChunk - 1;
        int32_t k = 0;
        if (done > 0) rows[k++] = out;
        ringRows(ring, pitch, slots, n, (start + done) % slots, rows + k);
        const bool last = done + n == count;
        const uint8_t* useMask = last ? m : nullptr;
        if (kernel)
            kernel(rows, n + k, src, useMask, width, out);
        else if (dilate)
            colScalar<T, true>(rows, n + k, src, useMask, width, out);
        else
            colScalar<T, false>(rows, n + k, src, useMask, width, out);
        done += n;
    }
    return 0;
}

// Rows of at least this many columns go through the doubling passes: fewer than ew loads each.
constexpr int32_t kDoublingFrom = 9;
// Short rows (the fused pass's strips) take direct taps further: there the doubling passes'
// fixed costs weigh more (measured).
constexpr int32_t kShortDoublingFrom = 17;

// Extremes over ew consecutive pixels of a0 (holding width + ew - 1) by doubling: level k holds
// the extremes of 2^k pixels, and two overlapping windows of the last level cover ew. Each level
// is one pass of two-row extremes, so the cost grows with log2(ew). x and y are scratch rows.
template <class T>
void rowDoubling(ColKernel<T> pick, const T* a0, int32_t width, int32_t ew, T* x, T* y, T* out) {
    int32_t levels = 0;
    while ((int64_t{2} << levels) <= ew) ++levels;
    const int32_t span = 1 << levels;
    int32_t lengths[32];
    lengths[levels] = width + ew - span;
    for (int32_t k = levels - 1; k >= 0; --k) lengths[k] = lengths[k + 1] + (1 << k);
    const T* cur = a0;
    for (int32_t k = 1; k <= levels; ++k) {
        T* next = cur == x ? y : x;
        const T* rows[2] = {cur, cur + (1 << (k - 1))};
        pick(rows, 2, nullptr, nullptr, lengths[k], next);
        cur = next;
    }
    const T* rows[2] = {cur, cur + (ew - span)};
    pick(rows, 2, nullptr, nullptr, width, out);
}

template <class T>
void rowExtremesOf(const FlatIsa& isa, int32_t dilate, const T* a0, int32_t width, int32_t ew, bool shortRows, T* x,
                   T* y, T* out) {
    const int32_t d = dilate ? 1 : 0;
    const int32_t doublingFrom = shortRows ? kShortDoublingFrom : kDoublingFrom;
    if constexpr (sizeof(T) == 1) {
        if (ew >= doublingFrom)
            rowDoubling(isa.col8[d], a0, width, ew, x, y, out);
        else
            isa.row8[d](a0, nullptr, width, ew, out);
    } else {
        if (ew >= doublingFrom)
            rowDoubling(isa.col16[d], a0, width, ew, x, y, out);
        else
            isa.row16[d](a0, nullptr, width, ew, out);
    }
}

}  // namespace

namespace kip::morphology {

void rowExtremes(const FlatIsa& isa, int32_t dilate, const uint8_t* a0, int32_t width, int32_t ew, bool shortRows,
                 uint8_t* x, uint8_t* y, uint8_t* out) {
    rowExtremesOf(isa, dilate, a0, width, ew, shortRows, x, y, out);
}

void rowExtremes(const FlatIsa& isa, int32_t dilate, const uint16_t* a0, int32_t width, int32_t ew, bool shortRows,
                 uint16_t* x, uint16_t* y, uint16_t* out) {
    rowExtremesOf(isa, dilate, a0, width, ew, shortRows, x, y, out);
}

kip_status selectFlatIsa(int32_t width, bool sixteen, bool anyWidth, const FlatIsa** out) {
    ksys_cpuinfo info;
    kip_status s = ksys_cpuinfo_init(&info);
    if (failed(s)) return s;
    *out = nullptr;
    if ((info.kind != ksys_cpuKindIntel && info.kind != ksys_cpuKindAmd) || !kip::isaOffered(info, kip::Isa::Sse2))
        return kip_errNotAvailable;
    const auto fits = [&](const FlatIsa& isa) { return isa.row8[0] && width >= (sixteen ? isa.lanes16 : isa.lanes8); };
    if (kip::isaOffered(info, kip::Isa::Avx512) && fits(kFlatIsaAvx512))
        *out = &kFlatIsaAvx512;
    else if (kip::isaOffered(info, kip::Isa::Avx2) && fits(kFlatIsaAvx2))
        *out = &kFlatIsaAvx2;
    else if (kFlatIsaSse2.row8[0] && (anyWidth || fits(kFlatIsaSse2)))
        *out = &kFlatIsaSse2;
    return *out ? 0 : kip_errNotAvailable;
}

}  // namespace kip::morphology

namespace {

template <class T>
kip_status rowVectorStep(const kimg_windowConst* source, const kimg_windowConst* mask, int32_t row, int32_t ew,
                         int32_t dilate, T* out, T* padded, uint8_t* paddedMask) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(out);
    KIP_REQUIRE(padded);
    const int32_t width = source->rect.width;
    const FlatIsa* isa = nullptr;
    kip_status s = selectFlatIsa(width, sizeof(T) == 2, true, &isa);
    if (failed(s)) return s;
    s = ksys_memory_copy(padded + ew, rowOf<T>(*source, row), size_t(width) * sizeof(T));
    if (failed(s)) return s;
    if (mask) {
        KIP_REQUIRE(paddedMask);
        s = ksys_memory_copy(paddedMask + ew, rowOf<uint8_t>(*mask, row), size_t(width));
        if (failed(s)) return s;
    }
    const int32_t l = (ew - 1) >> 1;
    RowKernel<T> kernel;
    ColKernel<T> pick;
    int32_t lanes;
    if constexpr (sizeof(T) == 1)
        kernel = isa->row8[dilate ? 1 : 0], pick = isa->col8[dilate ? 1 : 0], lanes = isa->lanes8;
    else
        kernel = isa->row16[dilate ? 1 : 0], pick = isa->col16[dilate ? 1 : 0], lanes = isa->lanes16;
    const uint8_t* m = mask ? paddedMask + ew - l : nullptr;
    if (width >= lanes && (ew >= kDoublingFrom || !m)) {
        const int64_t segment = paddedLength(width, ew);
        T* x = padded + segment;
        T* y = x + segment;
        const T* neutral = y + segment;
        const T* a0 = padded + ew - l;
        if (m) {  // excluded pixels made neutral first
            pick(&a0, 1, neutral, m, width + ew - 1, x);
            a0 = x;
        }
        rowExtremes(*isa, dilate, a0, width, ew, false, x, y, out);
        return 0;
    }
    if (width >= lanes) {
        kernel(padded + ew - l, m, width, ew, out);
        return 0;
    }
    // A row narrower than one vector: one block over the padding, then the row's part of it.
    T block[64];
    kernel(padded + ew - l, m, lanes, ew, block);
    for (int32_t i = 0; i < width; ++i) out[i] = block[i];
    return 0;
}

template <class T>
kip_status colVectorStep(const kimg_windowConst* source, const kimg_windowConst* mask, const T* ring,
                         const kimg_window* destination, int32_t pitch, int32_t slots, int32_t count, int32_t start,
                         int32_t outRow, int32_t dilate) {
    KIP_REQUIRE(source);
    const FlatIsa* isa = nullptr;
    kip_status s = selectFlatIsa(source->rect.width, sizeof(T) == 2, false, &isa);
    if (failed(s)) return s;
    return colStep<T>(source, mask, ring, destination, pitch, slots, count, start, outRow, dilate, isa);
}

}  // namespace

extern "C" {

kip_status kip_filterMorphologyRow8_(const kimg_windowConst* source, int32_t row, int32_t ew, int32_t dilate,
                                     uint8_t* out) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(out);
    rowScalarFor(rowOf<uint8_t>(*source, row), nullptr, source->rect.width, ew, dilate != 0, out);
    return 0;
}

kip_status kip_filterMorphologyRow16_(const kimg_windowConst* source, int32_t row, int32_t ew, int32_t dilate,
                                      uint16_t* out) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(out);
    rowScalarFor(rowOf<uint16_t>(*source, row), nullptr, source->rect.width, ew, dilate != 0, out);
    return 0;
}

kip_status kip_filterMorphologyRowMasked8_(const kimg_windowConst* source, const kimg_windowConst* mask, int32_t row,
                                           int32_t ew, int32_t dilate, uint8_t* out) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(mask);
    KIP_REQUIRE(out);
    rowScalarFor(rowOf<uint8_t>(*source, row), rowOf<uint8_t>(*mask, row), source->rect.width, ew, dilate != 0, out);
    return 0;
}

kip_status kip_filterMorphologyRowMasked16_(const kimg_windowConst* source, const kimg_windowConst* mask, int32_t row,
                                            int32_t ew, int32_t dilate, uint16_t* out) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(mask);
    KIP_REQUIRE(out);
    rowScalarFor(rowOf<uint16_t>(*source, row), rowOf<uint8_t>(*mask, row), source->rect.width, ew, dilate != 0, out);
    return 0;
}

kip_status kip_filterMorphologyCol8_(const kimg_windowConst* source, const kimg_windowConst* mask, const uint8_t* ring,
                                     const kimg_window* destination, int32_t pitch, int32_t slots, int32_t count,
                                     int32_t start, int32_t outRow, int32_t dilate) {
    return colStep<uint8_t>(source, mask, ring, destination, pitch, slots, count, start, outRow, dilate, nullptr);
}

kip_status kip_filterMorphologyCol16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                      const uint16_t* ring, const kimg_window* destination, int32_t pitch,
                                      int32_t slots, int32_t count, int32_t start, int32_t outRow, int32_t dilate) {
    return colStep<uint16_t>(source, mask, ring, destination, pitch, slots, count, start, outRow, dilate, nullptr);
}

kip_status kip_filterMorphologyRowSse8_(const kimg_windowConst* source, int32_t row, int32_t ew, int32_t dilate,
                                        uint8_t* out, uint8_t* padded) {
    return rowVectorStep<uint8_t>(source, nullptr, row, ew, dilate, out, padded, nullptr);
}

kip_status kip_filterMorphologyRowSse16_(const kimg_windowConst* source, int32_t row, int32_t ew, int32_t dilate,
                                         uint16_t* out, uint16_t* padded) {
    return rowVectorStep<uint16_t>(source, nullptr, row, ew, dilate, out, padded, nullptr);
}

kip_status kip_filterMorphologyRowMaskedSse8_(const kimg_windowConst* source, const kimg_windowConst* mask, int32_t row,
                                              int32_t ew, int32_t dilate, uint8_t* out, uint8_t* padded,
                                              uint8_t* paddedMask) {
    KIP_REQUIRE(mask);
    return rowVectorStep<uint8_t>(source, mask, row, ew, dilate, out, padded, paddedMask);
}

kip_status kip_filterMorphologyRowMaskedSse16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                               int32_t row, int32_t ew, int32_t dilate, uint16_t* out, uint16_t* padded,
                                               uint8_t* paddedMask) {
    KIP_REQUIRE(mask);
    return rowVectorStep<uint16_t>(source, mask, row, ew, dilate, out, padded, paddedMask);
}

kip_status kip_filterMorphologyColSse8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                        const uint8_t* ring, const kimg_window* destination, int32_t pitch,
                                        int32_t slots, int32_t count, int32_t start, int32_t outRow, int32_t dilate) {
    return colVectorStep<uint8_t>(source, mask, ring, destination, pitch, slots, count, start, outRow, dilate);
}

kip_status kip_filterMorphologyColSse16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                         const uint16_t* ring, const kimg_window* destination, int32_t pitch,
                                         int32_t slots, int32_t count, int32_t start, int32_t outRow, int32_t dilate) {
    return colVectorStep<uint16_t>(source, mask, ring, destination, pitch, slots, count, start, outRow, dilate);
}

}  // extern "C"
