// What every sliding-histogram rank engine shares: the window geometry, the column histograms of
// a strip, the target count and the level search.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "frame/cleanup.hpp"
#include "kip/platform/image.h"
#include "kip/platform/math.h"
#include "platform/assert.hpp"

namespace kip::rank {

// How far ahead the engines fetch the row they will enter: about memory's latency over a row's work.
constexpr int32_t kRowsAhead = 8;

// Rows are counted from destination row 0; the source may start above it (firstRow <= 0) and end
// below the last destination row (lastRow >= H - 1), as the median's bands give it.
template <class Pixel>
struct Geometry {
    int32_t W = 0, H = 0;
    int32_t firstRow = 0, lastRow = 0;
    const uint8_t* source = nullptr;  // pixel (0, firstRow)
    int64_t sourceStride = 0;         // in pixels
    const uint8_t* mask = nullptr;    // pixel (0, firstRow) of the image mask, when there is one
    int64_t maskStride = 0;
    uint8_t* destination = nullptr;  // pixel (0, 0)
    int64_t destinationStride = 0;

    const Pixel* sourceRow(int64_t r) const {
        return reinterpret_cast<const Pixel*>(source) + (r - firstRow) * sourceStride;
    }
    const uint8_t* maskRow(int64_t r) const { return mask + (r - firstRow) * maskStride; }
    Pixel* destinationRow(int64_t y) const { return reinterpret_cast<Pixel*>(destination) + y * destinationStride; }
    // Each row of a wide image lies on pages of its own, where the hardware prefetcher does not
    // follow; the engines ask for a row they will enter a few rows ahead.
    // (Past the last row it asks for the last row again: a branch around the prefetch makes
    // the compiler drop it.)
    void prefetchRow(int64_t r, int64_t from, int64_t to) const {
        const Pixel* row = sourceRow(std::min<int64_t>(r, lastRow));
        for (int64_t x = from; x < to; x += 64 / sizeof(Pixel)) __builtin_prefetch(row + x);
        __builtin_prefetch(row + to);
    }
};

// Checks that the windows fit together as the engines need; a mismatch goes to the assertion
// handler and the engine returns without touching anything.
template <class Pixel>
bool makeGeometry(const kimg_windowConst& source, const kimg_windowConst* mask, const kimg_window& destination,
                  Geometry<Pixel>* g) {
    const kstd_rect32 s = source.rect, d = destination.rect;
    bool ok = s.x == d.x && s.width == d.width && s.y <= d.y && int64_t{s.y} + s.height >= int64_t{d.y} + d.height &&
              d.width >= 0 && d.height >= 0 && source.bytesPerPixel == int32_t{sizeof(Pixel)} &&
              destination.bytesPerPixel == int32_t{sizeof(Pixel)};
    if (mask)
        ok = ok && mask->rect.x == s.x && mask->rect.y == s.y && mask->rect.width == s.width &&
             mask->rect.height == s.height && mask->bytesPerPixel == 1;
    KIP_ASSERT(ok);
    if (!ok) return false;
    g->W = d.width;
    g->H = d.height;
    g->firstRow = s.y - d.y;
    g->lastRow = static_cast<int32_t>(int64_t{s.y} + s.height - 1 - d.y);
    g->source = static_cast<const uint8_t*>(source.pixels);
    g->sourceStride = source.stride;
    if (mask) {
        g->mask = static_cast<const uint8_t*>(mask->pixels);
        g->maskStride = mask->stride;
    }
    g->destination = static_cast<uint8_t*>(destination.pixels);
    g->destinationStride = destination.stride;
    return true;
}

// Half sizes cut to the source: larger ones reach no further pixels, and keep the arithmetic
// below within 32 bits whatever the kernel size.
inline bool halfSizes(const kstd_pair32& size, int32_t width, int32_t sourceRows, int32_t* halfW, int32_t* halfH) {
    const bool ok = size.x >= 1 && size.y >= 1 && size.x % 2 == 1 && size.y % 2 == 1;
    KIP_ASSERT(ok);
    *halfW = std::min(size.x >> 1, width);
    *halfH = std::min(size.y >> 1, sourceRows);
    return ok;
}

// k from the percentile and the neighbourhood's pixel count n: 1 when p x n <= 0, else
// ceil(p x n), lowered by one when it exceeds n (so n = 0 gives 0, and the search yields 0).
// Interior pixels share one n, so the last answer is kept.
class TargetCount {
public:
    explicit TargetCount(double percentile) : p_(percentile) {}
    int32_t operator()(int32_t n) {
        if (n != lastN_) {
            lastN_ = n;
            const double pn = p_ * n;
            int32_t k = pn <= 0.0 ? 1 : kmath_double_ceil(pn);
            if (k > n) --k;
            lastK_ = k;
        }
        return lastK_;
    }

private:
    double p_;
    int32_t lastN_ = -1;
    int32_t lastK_ = 0;
};

template <int32_t B>
inline int32_t blockSum(const uint32_t* bins) {
    uint32_t sum = 0;
    for (int32_t i = 0; i < B; ++i) sum += bins[i];
    return static_cast<int32_t>(sum);
}

// One column's histogram with its level pointer: below counts the entries <= level.
template <int32_t MaxLevel>
struct Column {
    uint32_t* bins;
    int32_t level;
    int32_t below;

    void add(uint32_t v) {
        ++bins[v];
        below += static_cast<int32_t>(v) <= level;
    }
    void remove(uint32_t v) {
        --bins[v];
        below -= static_cast<int32_t>(v) <= level;
    }
    // Where a mask decides what was added, a miscount would show here first.
    void removeChecked(uint32_t v) {
        KIP_ASSERT(bins[v] != 0);
        remove(v);
    }
    // The smallest level with at least k entries at or below it, moved from where it stood.
    int32_t search(int32_t k) {
        int32_t l = level, b = below;
        if constexpr (MaxLevel > 255) {
            // 65536 bins: a jump across thousands of levels (noise, a two-valued image) is
            // taken a block at a time, wherever the block cannot hold the answer. The steps
            // are those of the loops below, fused.
            constexpr int32_t B = 16;
            while (k <= b && l >= B) {
                const int32_t sum = blockSum<B>(bins + l - B + 1);
                if (b - sum < k) break;
                b -= sum;
                l -= B;
            }
            while (k <= b && l > 0) b -= static_cast<int32_t>(bins[l--]);
            while (b < k && l <= MaxLevel - B) {
                const int32_t sum = blockSum<B>(bins + l + 1);
                if (b + sum >= k) break;
                b += sum;
                l += B;
            }
        }
        while (k <= b && l > 0) b -= static_cast<int32_t>(bins[l--]);
        while (b < k && l < MaxLevel) b += static_cast<int32_t>(bins[++l]);
        level = l;
        below = b;
        return l;
    }
};

// The histograms of a strip of S columns: in the frame when they are small (8-bit pixels), one
// block from the system allocator otherwise, released by the engine's cleanup table.
template <class V, int32_t S>
class StripBins {
public:
    static constexpr size_t kBins = size_t{S} * V::kLevels;

    template <int N>
    kip_status acquire(Cleanup<N>& cleanup) {
        if constexpr (kInFrame) {
            bins_ = frame_.data();
            return 0;
        } else {
            void* block = nullptr;
            const kip_status s = ksys_memory_alloc_internal(kBins * sizeof(uint32_t), &block);
            if (failed(s)) return s;
            bins_ = static_cast<uint32_t*>(block);
            cleanup.addBlock(ksys_cleanupFreeAlways, &bins_);
            return 0;
        }
    }
    kip_status clear() { return ksys_memory_fill(bins_, 0, kBins * sizeof(uint32_t)); }
    uint32_t* column(int32_t i) const { return bins_ + size_t(i) * V::kLevels; }

private:
    static constexpr bool kInFrame = V::kFrameHistograms;
    std::conditional_t<kInFrame, std::array<uint32_t, kBins>, std::array<uint32_t, 0>> frame_;
    uint32_t* bins_ = nullptr;
};

// The general engines' histograms: S columns of flat 32-bit bins. Any neighbourhood fits.
template <class V, int32_t S>
class FlatStrip {
public:
    using Col = Column<V::kLevels - 1>;
    static constexpr int32_t kColumns = S;
    static bool admits(int64_t) { return true; }

    template <int N>
    kip_status acquire(Cleanup<N>& cleanup) {
        return bins_.acquire(cleanup);
    }
    kip_status clear() { return bins_.clear(); }
    Col start(int32_t i) const { return {bins_.column(i), V::kStartLevel, 0}; }

private:
    StripBins<V, S> bins_;
};

}  // namespace kip::rank
