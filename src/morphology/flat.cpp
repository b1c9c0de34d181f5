// Flat engine: rectangles separably (a horizontal pass per source row into a ring of row buffers,
// then a vertical pass over the ring per destination row); other element masks from their runs,
// or through the rank filter where that path declines.
#include "frame/cleanup.hpp"
#include "morphology/flat_isa.hpp"
#include "morphology/variants.hpp"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;
using namespace kip::morphology;

namespace kip::morphology {

int64_t ringPitch(int64_t width) {
    static constexpr int64_t kLines[] = {5,   11,  17,  23,  37,  67,   101,  131, 167,
                                         193, 257, 389, 521, 769, 1031, 2053, 4219};
    int64_t n = (width + 78) >> 6;  // 64-byte lines holding width + 15 pixels
    for (int64_t lines : kLines)
        if (lines >= n) {
            n = lines;
            break;
        }
    return 64 * n;
}

}  // namespace kip::morphology

namespace {

// Scratch above this is refused as an allocation failure rather than computed in size_t.
constexpr uint64_t kMaxScratchBytes = uint64_t{1} << 46;

// Elements at least this tall go down the columns by blocks (van Herk / Gil-Werman): three
// two-row extremes per destination row instead of eh - 1.
constexpr int32_t kBlocksFrom = 7;

// Elements up to this tall, without an image mask, go through the fused pass (measured: from 15
// rows the blocks are as fast, and faster as elements grow).
constexpr int32_t kFusedUpTo = 11;
// The fused pass polls for cancellation once per block of rows and goes across each block in
// strips of about this many bytes. Rows up to that long are taken whole: the hardware prefetcher
// follows whole rows, and 1 KiB strips of the 4096-wide scene ran 5 to 25 % slower (measured),
// the L1 reuse they bought being worth less than the broken streams.
constexpr int32_t kFusedBlock = 256;
constexpr int64_t kStripBytes = 16384;
// Source rows are asked for this many rows ahead of the group being computed.
constexpr int32_t kPrefetchRows = 8;

template <class V>
class Separable {
    using T = typename V::Pixel;

public:
    Separable(const kimg_windowConst& source, const kimg_windowConst* mask, int32_t ew, int32_t eh, int32_t dilate,
              const kimg_window& output)
        : s_(source), mask_(mask), d_(output), ew_(ew), eh_(eh), dilate_(dilate) {}

    kip_status run() {
        const int32_t width = s_.rect.width, height = s_.rect.height;
        ColKernel<T> blockPick = nullptr;
        const FlatIsa* isa = nullptr;
        if (!kip::optimizationInhibited(V::kLabelCol.text) && failed(selectFlatIsa(width, sizeof(T) == 2, false, &isa)))
            isa = nullptr;
        // Both vector steps allowed: the fused pass for short elements without an image mask.
        const bool fused = isa && !mask_ && eh_ <= kFusedUpTo && !kip::optimizationInhibited(V::kLabelRow.text);
        // The blocks hold 2 eh + 2 rows: an element taller than the source takes the ring, whose
        // scratch the source's height bounds.
        if (isa && !fused && eh_ >= kBlocksFrom && eh_ <= height) {
            if constexpr (sizeof(T) == 1)
                blockPick = isa->col8[dilate_];
            else
                blockPick = isa->col16[dilate_];
        }
        // Blocks: the element's rows, their suffix extremes, the running prefix, a neutral row;
        // the ring otherwise.
        slots_ = blockPick ? eh_ : (eh_ < height ? eh_ : height);
        const int64_t rows = fused ? 0 : blockPick ? 2 * int64_t{eh_} + 2 : slots_;
        pitch_ = ringPitch(width);
        const uint64_t segment = uint64_t(paddedLength(width, ew_));
        const uint64_t ringBytes = uint64_t(pitch_) * uint64_t(rows) * sizeof(T);
        const uint64_t pointerBytes = blockPick ? 2 * uint64_t(eh_) * sizeof(T*) : 0;
        // The fused pass: two scratch rows for the row extremes, four for the column extremes.
        const uint64_t segments = fused ? 6 : 4;
        if (ringBytes > kMaxScratchBytes || segments * segment * sizeof(T) > kMaxScratchBytes)
            return ksys_errOutOfMemory;

        Cleanup<3> c;
        void* block = nullptr;
        kip_status s = 0;
        if (!fused) {
            s = ksys_memory_alloc_internal(size_t(ringBytes + pointerBytes), &block);
            if (failed(s)) return c.finish(s);
            ring_ = static_cast<T*>(block);
            c.addBlock(ksys_cleanupFreeAlways, &ring_);
        }
        s = ksys_memory_alloc_internal(size_t(segments * segment * sizeof(T)), &block);
        if (failed(s)) return c.finish(s);
        padded_ = static_cast<T*>(block);
        c.addBlock(ksys_cleanupFreeAlways, &padded_);
        const T neutral = dilate_ ? T(0) : T(~T(0));
        for (uint64_t i = 0; i < segments * segment; ++i) padded_[i] = neutral;
        if (mask_) {
            s = ksys_memory_alloc_internal(size_t(segment), &block);
            if (failed(s)) return c.finish(s);
            paddedMask_ = static_cast<uint8_t*>(block);
            c.addBlock(ksys_cleanupFreeAlways, &paddedMask_);
            s = ksys_memory_fill(paddedMask_, 0, size_t(segment));
            if (failed(s)) return c.finish(s);
        }
        s = fused ? runFused(*isa, int64_t(segment)) : blockPick ? runBlocks(blockPick) : runRing();
        return c.finish(s);
    }

private:
    // Four destination rows at a time straight from the source (two near the image's top and
    // bottom and a block's end): their column extremes share eh - 3 rows (eh - 1 for two), land
    // in neutral-margined rows of the padded buffer (still in L1), and the row extremes go from
    // there to the destination. Very long rows are crossed in strips, so that the element's rows
    // stay in L2 from one group to the next.
    kip_status runFused(const FlatIsa& isa, int64_t segment) {
        const int32_t width = s_.rect.width, height = s_.rect.height;
        const int32_t up = eh_ >> 1, down = eh_ - 1 - up, l = (ew_ - 1) >> 1, r = ew_ - 1 - l;
        PairKernel<T> pair;
        QuadKernel<T> quad;
        if constexpr (sizeof(T) == 1)
            pair = isa.pair8[dilate_], quad = isa.quad8[dilate_];
        else
            pair = isa.pair16[dilate_], quad = isa.quad16[dilate_];
        T* x = padded_;
        T* z = x + segment;
        T* rows[4] = {z + segment, z + 2 * segment, z + 3 * segment, z + 4 * segment};
        const T* shared[kFusedUpTo];
        const T neutral = dilate_ ? T(0) : T(~T(0));
        const int32_t strips = int32_t((int64_t{width} * int64_t{sizeof(T)} + kStripBytes - 1) / kStripBytes);
        for (int32_t y0 = 0; y0 < height; y0 += kFusedBlock) {
            const kip_status s = ksys_attention_check();
            if (failed(s)) return s;
            const int32_t y1 = height - y0 > kFusedBlock ? y0 + kFusedBlock : height;
            for (int32_t k = 0; k < strips; ++k) {
                const int32_t x0 = int32_t(int64_t{width} * k / strips);
                const int32_t x1 = int32_t(int64_t{width} * (k + 1) / strips);
                const int32_t vx0 = x0 - l > 0 ? x0 - l : 0, vx1 = x1 + r < width ? x1 + r : width;
                T* v[4];
                // Beyond the row's ends the strip's rows read neutral, whatever other strips left.
                for (int32_t i = 0; i < 4; ++i) {
                    if (x0 == 0)
                        for (int32_t c = ew_ - l; c < ew_; ++c) rows[i][c] = neutral;
                    if (x1 == width)
                        for (int32_t c = 0; c < r; ++c) rows[i][ew_ + (x1 - x0) + c] = neutral;
                    v[i] = rows[i] + ew_ + (vx0 - x0);
                }
                for (int32_t y = y0; y < y1;) {
                    // The quad's rows all inside the image, or two rows (one at a block's end).
                    const int32_t count = eh_ >= 5 && y + 4 <= y1 && y - up >= 0 && y + 3 + down < height ? 4
                                          : y + 1 < y1                                                    ? 2
                                                                                                          : 1;
                    // Whole destination rows stream as they are; strips of them are fetched
                    // for writing (the stores would wait for them otherwise).
                    prefetch(y + down + 1 + kPrefetchRows, count, vx0, vx1);
                    if (strips > 1) prefetchDestination(y + kPrefetchRows, count, x0, x1);
                    if (count == 4) {
                        int32_t nc = 0;
                        for (int32_t i = y + 3 - up; i <= y + down; ++i) shared[nc++] = rowOf<T>(s_, i) + vx0;
                        const T* extra[6];
                        for (int32_t i = 0; i < 3; ++i) {
                            extra[i] = rowOf<T>(s_, y - up + i) + vx0;
                            extra[3 + i] = rowOf<T>(s_, y + down + 1 + i) + vx0;
                        }
                        quad(shared, nc, extra, vx1 - vx0, v);
                    } else {
                        // Rows both see, then the one only the upper and the lower one sees.
                        const bool two = count == 2;
                        const int32_t from = y + (two ? 1 : 0) - up < 0 ? 0 : y + (two ? 1 : 0) - up;
                        const int32_t to = y + down < height - 1 ? y + down : height - 1;
                        int32_t nc = 0;
                        for (int32_t i = from; i <= to; ++i) shared[nc++] = rowOf<T>(s_, i) + vx0;
                        const T* onlyA = two && y - up >= 0 ? rowOf<T>(s_, y - up) + vx0 : nullptr;
                        const T* onlyB = two && y + 1 + down < height ? rowOf<T>(s_, y + 1 + down) + vx0 : nullptr;
                        pair(shared, nc, onlyA, onlyB, vx1 - vx0, v[0], v[two ? 1 : 0]);
                    }
                    for (int32_t i = 0; i < count; ++i)
                        rowExtremes(isa, dilate_, rows[i] + ew_ - l, x1 - x0, ew_, true, x, z,
                                    mutableRowOf<T>(d_, y + i) + x0);
                    y += count;
                }
            }
        }
        return 0;
    }

    // Each source row starts a new page, where the hardware prefetcher stops: the rows a few
    // groups ahead are asked for explicitly.
    void prefetch(int32_t row, int32_t count, int32_t x0, int32_t x1) const {
        for (int32_t i = row; i < row + count && i < s_.rect.height; ++i) {
            const char* p = reinterpret_cast<const char*>(rowOf<T>(s_, i) + x0);
            for (int64_t o = 0; o < int64_t{x1 - x0} * int64_t{sizeof(T)}; o += 64) __builtin_prefetch(p + o);
        }
    }
    // Destination rows are fetched for writing: the stores would wait for them otherwise.
    void prefetchDestination(int32_t row, int32_t count, int32_t x0, int32_t x1) const {
        for (int32_t i = row; i < row + count && i < s_.rect.height; ++i) {
            const char* p = reinterpret_cast<const char*>(mutableRowOf<T>(d_, i) + x0);
            for (int64_t o = 0; o < int64_t{x1 - x0} * int64_t{sizeof(T)}; o += 64) __builtin_prefetch(p + o, 1);
        }
    }

    // The ring: each destination row combines the horizontal results of its eh source rows.
    kip_status runRing() {
        const int32_t height = s_.rect.height;
        const int32_t half = ((eh_ - 1) >> 1) < height ? (eh_ - 1) >> 1 : height;
        kip_status s = 0;
        int32_t y = 0;
        // Phase 1: the first eh - 1 rows; destination rows start once half rows are in.
        for (; y < eh_ - 1 && y < height && !failed(s); ++y) {
            s = rowStep(y, ring_ + int64_t{y} * pitch_);
            if (!failed(s) && y >= half) s = colStep(y - half, y + 1, 0);
        }
        // Phase 2: steady state over the full ring.
        for (; y < height && !failed(s); ++y) {
            if ((y & 255) == 0) {
                s = ksys_attention_check();
                if (failed(s)) break;
            }
            prefetch(y + kPrefetchRows, 1, 0, s_.rect.width);
            s = rowStep(y, ring_ + int64_t{y % slots_} * pitch_);
            if (!failed(s)) s = colStep(y - half, slots_, (y + 1) % slots_);
        }
        // Phase 3: the bottom rows from what the ring still holds.
        for (y = height; y < height + half && !failed(s); ++y) {
            const int64_t left = int64_t{eh_} + height - y - 1;
            const int32_t count = left < slots_ ? int32_t(left) : slots_;
            int32_t start = (y + 1 - eh_) % slots_;
            if (start < 0) start += slots_;
            s = colStep(y - half, count, start);
        }
        return s;
    }

    // Blocks of eh rows over the source extended by hh neutral rows at each end: destination row
    // r covers extended rows r .. r + eh - 1, which is the suffix of r's block and the prefix of
    // the next block up to r + eh - 1. The suffixes of a block are made when it is complete.
    kip_status runBlocks(ColKernel<T> pick) {
        const int32_t width = s_.rect.width, height = s_.rect.height, hh = eh_ >> 1;
        T* suffix = ring_ + int64_t{eh_} * pitch_;
        T* prefix = suffix + int64_t{eh_} * pitch_;
        T* neutral = prefix + pitch_;
        const T** raw = reinterpret_cast<const T**>(neutral + pitch_);
        const T** suffixRows = raw + eh_;
        const T neutralValue = dilate_ ? T(0) : T(~T(0));
        for (int32_t x = 0; x < width; ++x) neutral[x] = neutralValue;
        const int64_t total = int64_t{height} + eh_ - 1;
        kip_status s = 0;
        for (int64_t t = 0; t < total && !failed(s); ++t) {
            const int64_t y = t - hh;
            if (y >= 0 && (y & 255) == 0) {
                s = ksys_attention_check();
                if (failed(s)) break;
            }
            const int32_t slot = int32_t(t % eh_);
            if (y >= 0 && y < height) {
                T* row = ring_ + int64_t{slot} * pitch_;
                prefetch(int32_t(y) + kPrefetchRows, 1, 0, width);
                prefetchDestination(int32_t(y) + kPrefetchRows, 1, 0, width);
                s = rowStep(int32_t(y), row);
                if (failed(s)) break;
                raw[slot] = row;
            } else {
                raw[slot] = neutral;
            }
            if (slot == 0) {
                s = ksys_memory_copy(prefix, raw[0], size_t(width) * sizeof(T));
                if (failed(s)) break;
            } else {
                const T* rows[2] = {prefix, raw[slot]};
                pick(rows, 2, nullptr, nullptr, width, prefix);
            }
            if (slot == eh_ - 1) {
                suffixRows[eh_ - 1] = raw[eh_ - 1];
                for (int32_t i = eh_ - 2; i >= 0; --i) {
                    T* out = suffix + int64_t{i} * pitch_;
                    const T* rows[2] = {raw[i], suffixRows[i + 1]};
                    pick(rows, 2, nullptr, nullptr, width, out);
                    suffixRows[i] = out;
                }
            }
            const int64_t r = t - (eh_ - 1);
            if (r >= 0) {
                const T* rows[2] = {suffixRows[r % eh_], prefix};
                pick(rows, 2, rowOf<T>(s_, r), mask_ ? rowOf<uint8_t>(*mask_, r) : nullptr, width,
                     mutableRowOf<T>(d_, r));
            }
        }
        return s;
    }

    kip_status rowStep(int32_t y, T* out) {
        kip_status s = kip_errNotAvailable;
        if (mask_) {
            if (!kip::optimizationInhibited(V::kLabelRowMasked.text))
                s = V::rowMaskedVector(&s_, mask_, y, ew_, dilate_, out, padded_, paddedMask_);
            if (kip_status_isNotAvailable(s)) s = V::rowMasked(&s_, mask_, y, ew_, dilate_, out);
        } else {
            if (!kip::optimizationInhibited(V::kLabelRow.text)) s = V::rowVector(&s_, y, ew_, dilate_, out, padded_);
            if (kip_status_isNotAvailable(s)) s = V::row(&s_, y, ew_, dilate_, out);
        }
        return s;
    }

    kip_status colStep(int32_t outRow, int32_t count, int32_t start) {
        kip_status s = kip_errNotAvailable;
        const int32_t pitch = int32_t(pitch_);
        if (!kip::optimizationInhibited(V::kLabelCol.text))
            s = V::colVector(&s_, mask_, ring_, &d_, pitch, slots_, count, start, outRow, dilate_);
        if (kip_status_isNotAvailable(s))
            s = V::col(&s_, mask_, ring_, &d_, pitch, slots_, count, start, outRow, dilate_);
        return s;
    }

    const kimg_windowConst& s_;
    const kimg_windowConst* mask_;
    const kimg_window& d_;
    int32_t ew_, eh_, dilate_;
    int32_t slots_ = 0;
    int64_t pitch_ = 0;
    T* ring_ = nullptr;
    T* padded_ = nullptr;
    uint8_t* paddedMask_ = nullptr;
};

template <class V>
kip_status flat(const kimg_windowConst* source, const kimg_windowConst* mask, const kip_filterMorphologyParams* params,
                const kip_filterMorphologyStructuringElement* element, int32_t dilate, const kimg_window* output) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(element);
    KIP_REQUIRE(output);
    kstd_pair32 size;
    uint32_t rectangular = 0, isFlat = 0;
    kip_status s = kip_filterMorphologyStructuringElement_getSize(element, &size);
    if (!failed(s)) s = kip_filterMorphologyStructuringElement_getIsRectangular(element, &rectangular);
    if (!failed(s)) s = kip_filterMorphologyStructuringElement_getIsFlat(element, &isFlat);
    if (failed(s)) return s;
    if (!(rectangular && isFlat)) {
        s = kip_errNotAvailable;
        if (isFlat && !kip::optimizationInhibited(V::kLabelRuns.text))
            s = V::runs(source, mask, params, element, dilate, output);
        if (kip_status_isNotAvailable(s)) s = V::rankRoute(source, mask, params, element, dilate, output);
        return s;
    }

    uint32_t maskNull = 1;
    if (mask) {
        s = kimg_windowConst_getIsNull(mask, &maskNull);
        if (failed(s)) return s;
    }
    uint32_t sourceNull = 0;
    s = kimg_windowConst_getIsNull(source, &sourceNull);
    if (failed(s) || sourceNull) return s;
    KIP_ASSERT(output->rect.width == source->rect.width && output->rect.height == source->rect.height);
    Separable<V> engine(*source, maskNull ? nullptr : mask, size.x, size.y, dilate != 0 ? 1 : 0, *output);
    return engine.run();
}

}  // namespace

extern "C" {

kip_status kip_filterMorphologyFlat8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                      const kip_filterMorphologyParams* params,
                                      const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                      const kimg_window* output) {
    return flat<Variant8>(source, mask, params, element, dilate, output);
}

kip_status kip_filterMorphologyFlat16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                       const kip_filterMorphologyParams* params,
                                       const kip_filterMorphologyStructuringElement* element, int32_t dilate,
                                       const kimg_window* output) {
    return flat<Variant16>(source, mask, params, element, dilate, output);
}

}  // extern "C"
