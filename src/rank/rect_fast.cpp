// The 8-bit rectangular rank fast path. Per strip of S destination columns it keeps S histograms
// of 16-bit counters (the neighbourhood holds fewer than 65536 pixels), bin-major so that one
// vector covers the same bin of many columns; each source pixel of an entering or leaving row is
// then applied to every strip column that holds it with one masked vector update. The level
// search and the rank rule are those of the general engine, so the results are its bits.
#include "rank/rect_fast.hpp"

#include "frame/isa.hpp"
#include "kip/platform/math.h"
#include "kip/platform/pixel.h"
#include "platform/assert.hpp"
#include "rank/histogram.hpp"
#include "rank/rect_fast_isa.hpp"
#include "rank/strip_search.hpp"

using kip::failed;
using namespace kip::rank;

void kip::rank::offeredIsas(const SweepIsa* sets[3]) {
    int n = 0;
    ksys_cpuinfo info;
    if (!failed(ksys_cpuinfo_init(&info))) {
        if (kip::isaOffered(info, kip::Isa::Avx2) && kSweepAvx2.sweepFor) sets[n++] = &kSweepAvx2;
        if (kip::isaOffered(info, kip::Isa::Sse2) && kSweepSse2.sweepFor) sets[n++] = &kSweepSse2;
    }
    while (n < 3) sets[n++] = nullptr;
}

namespace {

// Rows are counted from destination row 0; the source covers rows firstRow .. lastRow.
struct RectGeometry {
    int32_t width;
    int32_t height;
    int32_t halfW;
    int32_t halfH;
    int32_t kernelWidth;
    int32_t firstRow;
    int32_t lastRow;
};

// The count k of the rank rule for n pixels; p = 0.5 skips the floating-point ceiling.
int32_t targetCount(double percentile, bool median, int32_t n) {
    int32_t k;
    if (median)
        k = (n + 1) >> 1;
    else if (percentile * n <= 0.0)
        k = 1;
    else
        k = kmath_double_ceil(percentile * n);
    if (k > n) k -= 1;
    return k;
}

// Scratch of one call, in its frame: the strip's histograms, levels and counts at or below, and
// the membership table of the sweep.
struct Strip {
    alignas(64) uint16_t histogram[256 * kMaxStrip];
    alignas(64) int16_t levels[kMaxStrip];
    alignas(64) uint16_t countsAtOrBelow[kMaxStrip];
    alignas(64) uint16_t membership[3 * kMaxStrip];
};

class Driver {
public:
    Driver(const kimg_windowConst& source, const kimg_window& destination, const RectGeometry& g, double percentile,
           const SweepIsa& isa)
        : source_(source), destination_(destination), g_(g), percentile_(percentile), median_(percentile == 0.5) {
        S_ = g.kernelWidth >= isa.wideFrom ? isa.wide : isa.narrow;
        both_ = isa.sweepFor(S_, true, true, false);
        removeOnly_ = isa.sweepFor(S_, true, false, false);
        addOnly_ = isa.sweepFor(S_, false, true, false);
        for (int32_t i = 0; i < 3 * S_; ++i)
            strip_.membership[i] = i >= S_ && i < S_ + (g.kernelWidth < S_ ? g.kernelWidth : S_) ? 0xFFFFu : 0u;
    }

    bool ready() const { return both_ && removeOnly_ && addOnly_; }

    kip_status run() {
        for (int32_t x0 = 0; x0 < g_.width; x0 += S_) {
            const kip_status s = runStrip(x0);
            if (failed(s)) return s;
        }
        return 0;
    }

private:
    const uint8_t* sourceRow(int32_t row) const {
        return static_cast<const uint8_t*>(source_.pixels) + int64_t{row - g_.firstRow} * source_.stride;
    }

    kip_status runStrip(int32_t x0) {
        const kip_status s = ksys_memory_fill(strip_.histogram, 0, sizeof(uint16_t) * 256 * size_t(S_));
        if (failed(s)) return s;
        const int32_t active = g_.width - x0 < S_ ? g_.width - x0 : S_;
        for (int32_t j = 0; j < S_; ++j) {
            strip_.levels[j] = 128;
            strip_.countsAtOrBelow[j] = 0;
        }
        for (int32_t j = 0; j < active; ++j) {
            const int32_t x = x0 + j;
            const int32_t left = x - g_.halfW > 0 ? x - g_.halfW : 0;
            const int32_t right = x + g_.halfW < g_.width - 1 ? x + g_.halfW : g_.width - 1;
            columns_[j] = right - left + 1;
        }

        // Source columns the strip's neighbourhoods reach.
        const int32_t c0 = x0 - g_.halfW > 0 ? x0 - g_.halfW : 0;
        const int32_t c1 = x0 + S_ - 1 + g_.halfW < g_.width - 1 ? x0 + S_ - 1 + g_.halfW : g_.width - 1;
        SweepRow row{c1 - c0 + 1,           nullptr,           nullptr,          g_.halfW - x0 > 0 ? g_.halfW - x0 : 0,
                     g_.kernelWidth,        strip_.membership, strip_.histogram, strip_.levels,
                     strip_.countsAtOrBelow};

        // The rows above row 0's entering row, as the general engine fills them.
        const int32_t fillFrom = g_.firstRow > -g_.halfH ? g_.firstRow : -g_.halfH;
        const int32_t fillTo = g_.halfH < g_.lastRow ? g_.halfH : g_.lastRow;
        for (int32_t r = fillFrom; r < fillTo; ++r) {
            row.entering = sourceRow(r) + c0;
            addOnly_(row);
        }

        int32_t lastN = -1;
        int32_t lastK = 0;
        for (int32_t y = 0; y < g_.height; ++y) {
            const bool remove = y > g_.firstRow + g_.halfH;
            const bool add = y == 0 || y <= g_.lastRow - g_.halfH;
            const int32_t top = y - g_.halfH > g_.firstRow ? y - g_.halfH : g_.firstRow;
            const int32_t bottom = y + g_.halfH < g_.lastRow ? y + g_.halfH : g_.lastRow;
            row.leaving = remove ? sourceRow(y - g_.halfH - 1) + c0 : nullptr;
            row.entering = add ? sourceRow(bottom) + c0 : nullptr;
            if (remove && add)
                both_(row);
            else if (remove)
                removeOnly_(row);
            else if (add)
                addOnly_(row);

            // Each row of a wide image lies on its own pages: fetch the row entering a few rows
            // ahead, and the destination row for writing, or every row waits for its lines.
            const int32_t ahead = bottom + kRowsAhead < g_.lastRow ? bottom + kRowsAhead : g_.lastRow;
            __builtin_prefetch(sourceRow(ahead) + c0);
            __builtin_prefetch(sourceRow(ahead) + c1);
            const int32_t outAhead = y + kRowsAhead < g_.height ? y + kRowsAhead : g_.height - 1;
            __builtin_prefetch(
                static_cast<uint8_t*>(destination_.pixels) + int64_t{outAhead} * destination_.stride + x0, 1);
            uint8_t* out = static_cast<uint8_t*>(destination_.pixels) + int64_t{y} * destination_.stride + x0;
            const int32_t rows = bottom - top + 1;
            for (int32_t j = 0; j < active; ++j) {
                const int32_t n = columns_[j] * rows;
                if (n != lastN) {
                    lastN = n;
                    lastK = targetCount(percentile_, median_, n);
                }
                out[j] = search(j, lastK);
            }
        }
        return 0;
    }

    uint8_t search(int32_t j, int32_t k) {
        return searchStripColumn(strip_.histogram, S_, j, strip_.levels, strip_.countsAtOrBelow, k);
    }

    const kimg_windowConst& source_;
    const kimg_window& destination_;
    RectGeometry g_;
    double percentile_;
    bool median_;
    int32_t S_ = 0;
    SweepFn both_ = nullptr;
    SweepFn removeOnly_ = nullptr;
    SweepFn addOnly_ = nullptr;
    Strip strip_;
    int32_t columns_[kMaxStrip] = {};
};

// Whether the windows describe a call this path reproduces exactly; anything else goes to the
// general engine, which defines the outcome.
bool admit(const kimg_windowConst& source, const kimg_window& destination, const kstd_pair32& size, RectGeometry* g) {
    const int64_t kw = size.x;
    const int64_t kh = size.y;
    if (kw < 1 || kh < 1 || kw % 2 == 0 || kh % 2 == 0) return false;
    if (kw * kh < 4 || kw * kh >= 65536) return false;
    const kstd_rect32& d = destination.rect;
    const kstd_rect32& s = source.rect;
    if (d.width <= 0 || d.height <= 0 || s.height <= 0) return false;
    if (source.bytesPerPixel != 1 || destination.bytesPerPixel != 1) return false;
    if (source.pixels == nullptr || destination.pixels == nullptr) return false;
    const int64_t firstRow = int64_t{s.y} - d.y;
    const int64_t lastRow = int64_t{s.y} + s.height - 1 - d.y;
    // Rows above the neighbourhood of row 0 or missing rows are the general engine's business.
    if (firstRow > 0 || firstRow < -(kh / 2) || lastRow < d.height - 1 || lastRow > INT32_MAX / 2) return false;
    // Writing over pixels still to be read would change what the general engine computes.
    if (kip_pelfunc_checkMemoryOverlap(&source, &destination) != 0) return false;
    *g = RectGeometry{d.width,
                      d.height,
                      static_cast<int32_t>(kw / 2),
                      static_cast<int32_t>(kh / 2),
                      static_cast<int32_t>(kw),
                      static_cast<int32_t>(firstRow),
                      static_cast<int32_t>(lastRow)};
    return true;
}

}  // namespace

extern "C" {

kip_status kip_filterRankRectFast8_(const kimg_windowConst* source, double percentile, const kstd_pair32* size,
                                    const kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(size);
    KIP_REQUIRE(destination);
    if (source->rect.width != destination->rect.width || source->rect.x != destination->rect.x) {
        kstd_assert_(__LINE__);
        return kstd_errInvalidArgument;
    }
    RectGeometry g{};
    if (!admit(*source, *destination, *size, &g)) return kip_errNotAvailable;
    const SweepIsa* sets[3];
    offeredIsas(sets);
    if (sets[0] == nullptr) return kip_errNotAvailable;
    Driver driver(*source, *destination, g, percentile, *sets[0]);
    if (!driver.ready()) return kip_errNotAvailable;
    return driver.run();
}

kip_status kip_filterRankRectFast16_(const kimg_windowConst*, double, const kstd_pair32*, const kimg_window*) {
    return kip_errNotAvailable;
}

kip_status kip_filterRankRectSweep8_(int32_t count, const uint8_t* leaving, const uint8_t* entering, int32_t vectors,
                                     int32_t initialRun, int32_t kernelWidth, uint32_t remove, uint32_t add,
                                     const uint16_t* membership, uint16_t* histogram, const int16_t* levels,
                                     uint16_t* countsAtOrBelow) {
    KIP_REQUIRE(membership);
    KIP_REQUIRE(histogram);
    KIP_REQUIRE(levels);
    KIP_REQUIRE(countsAtOrBelow);
    if (remove) KIP_REQUIRE(leaving);
    if (add) KIP_REQUIRE(entering);
    const int64_t S = int64_t{vectors} * 8;
    if (vectors < 1 || S > kMaxStrip || initialRun < 0 || initialRun >= kernelWidth || count < 0 ||
        count > S + kernelWidth - 1 - initialRun) {
        kstd_assert_(__LINE__);
        return kstd_errInvalidArgument;
    }
    if (!remove && !add) return 0;
    const SweepIsa* sets[3];
    offeredIsas(sets);
    SweepFn fn = nullptr;
    for (int i = 0; sets[i] != nullptr && fn == nullptr; ++i)
        fn = sets[i]->sweepFor(static_cast<int32_t>(S), remove != 0, add != 0, false);
    if (fn == nullptr) return kip_errNotAvailable;
    fn(SweepRow{count, leaving, entering, initialRun, kernelWidth, membership, histogram, levels, countsAtOrBelow});
    return 0;
}

}  // extern "C"
