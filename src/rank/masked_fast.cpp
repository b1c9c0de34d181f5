// The 8-bit masked-kernel rank fast path. A strip of S columns keeps bin-major 16-bit histograms
// as the rectangular fast path does, and reuses its vectorised sweeps: the kernel positions that
// enter (or leave) in one kernel row form a membership table with holes, and one sweep along that
// source row applies each pixel to every strip column whose neighbourhood holds it there. An
// entering row and a leaving row with the same positions (every symmetric kernel) share one
// sweep. With an image mask the sweeps read 16-bit values, 256 and up for a pixel the mask leaves
// out: those bins are never searched and count the members left out of each neighbourhood. The
// rank rule and the level search are the general engine's, so are the results.
#include <algorithm>

#include "kip/encoded_kernel.h"
#include "kip/platform/pixel.h"
#include "rank/histogram.hpp"
#include "rank/rank_internal.hpp"
#include "rank/rect_fast_isa.hpp"
#include "rank/strip_search.hpp"

using kip::Cleanup;
using kip::failed;

namespace kip::rank {
namespace {

// The positions of one kernel row of one kind, columns first .. first + width - 1, as the sweep's
// membership table: 3 S lanes, lane S + width - 1 - (u - first) set for a member at column u.
struct RowSet {
    int32_t first;
    int32_t width;  // 0: no position in this row
    uint16_t* table;
    int32_t members;
    int32_t* columns;  // u - first of each position, for the position-at-a-time update
};

// One update per strip row: a leaving row, an entering row or both (-1: none); scatter where
// the position-at-a-time update costs less than the sweep.
struct Step {
    const RowSet* set;
    int32_t leaveRow;
    int32_t enterRow;
    bool scatter;
};

// Strip widths the sweeps come in; the narrowest wider than the kernel is used: the sweeps read
// tables with holes only for kernels narrower than the strip, and a sweep of a w-column row costs
// S + w - 1 vector steps of S / lanes vectors, least per strip column for the narrowest strip.
constexpr int32_t kWidths[] = {16, 24, 32, 48};

// Values of pixels the image mask leaves out: kLeftOut + (column & 3), in the kLeftOutBins bins
// after the 256 grey levels (the sweeps spread them so that neighbouring steps use other bins).
constexpr uint16_t kLeftOut = 256;
constexpr int32_t kLeftOutBins = 8;

struct Scratch {
    alignas(64) uint16_t histogram[(256 + kLeftOutBins) * kMaxStrip];
    alignas(64) int16_t levels[kMaxStrip];
    alignas(64) uint16_t countsAtOrBelow[kMaxStrip];
};

class MaskedDriver {
public:
    int32_t S = 0, kw = 0, kh = 0, halfW = 0, halfH = 0;
    SweepFn both = nullptr, removeOnly = nullptr, addOnly = nullptr;
    ScatterFn scatterBoth = nullptr, scatterRemove = nullptr, scatterAdd = nullptr;
    int32_t lanes = 8;  // 16-bit lanes per vector of the sweeps
    Geometry<uint8_t> g;
    const kstd_pair32* enterAt = nullptr;
    const kstd_pair32* leaveAt = nullptr;
    int32_t stretches = 0;
    RowSet* members = nullptr;  // kh sets each
    RowSet* entering = nullptr;
    RowSet* leaving = nullptr;
    Step* steps = nullptr;  // up to 2 kh
    int32_t stepCount = 0;
    int32_t* interior = nullptr;    // kh + 1 prefix counts of an uncut column
    int32_t* lanePrefix = nullptr;  // S x (kh + 1), for columns cut at the border
    int32_t* rowCounts = nullptr;   // kh + 1
    // With an image mask: the strip's source rows as values, kh + 2 of them (those of the
    // neighbourhood, the row leaving it and the row being read in), 2 S columns each.
    uint16_t* values = nullptr;
    int64_t valuesFrom = 0;  // the first source column of the strip's rows
    Scratch strip;

    // Whether a row set costs less position by position than swept: a position updates S scalar
    // counters, about the work of S / 2 vectors; a sweep takes S + width - 1 steps of S / lanes
    // vectors. Measured on disks at one thread against sweeping every row: radius 7 with AVX2 (its
    // rows of one or two positions go position by position, its row of six over seven columns is
    // swept) a tenth to a third faster, every row position by position no faster than sweeping;
    // with SSE2 and at radius 15 (strips of 32) a fifth to twice as fast.
    bool scatters(const RowSet& r) const {
        return int64_t{r.members} * (S / 2) < int64_t{S + r.width - 1} * (S / lanes);
    }

    // Lays out the row sets from the stretches and pairs entering rows with leaving rows.
    void plan(uint16_t* tables, int32_t* columns) {
        RowSet* kinds[3] = {members, entering, leaving};
        for (int kind = 0; kind < 3; ++kind)
            for (int32_t v = 0; v < kh; ++v) {
                kinds[kind][v] = {kw, 0, tables, 0, nullptr};
                tables += 3 * S;
            }
        const auto mark = [&](RowSet* sets, int32_t u, int32_t v, bool setBit) {
            RowSet& r = sets[v];
            if (!setBit) {
                const int32_t last = r.width ? std::max(r.first + r.width - 1, u) : u;
                r.first = std::min(r.first, u);
                r.width = last - r.first + 1;
            } else {
                r.table[S + r.width - 1 - (u - r.first)] = 0xFFFFu;
            }
        };
        for (int pass = 0; pass < 2; ++pass)
            for (int32_t j = 0; j < stretches; ++j) {
                const int32_t u = enterAt[j].x;
                mark(entering, u, enterAt[j].y, pass == 1);
                mark(leaving, u, leaveAt[j].y, pass == 1);
                for (int32_t v = leaveAt[j].y; v <= enterAt[j].y; ++v) mark(members, u, v, pass == 1);
            }
        // A column has one stretch entering (and one leaving) per kernel row at most: each kind
        // holds no more positions than there are stretches.
        for (RowSet* sets : {entering, leaving})
            for (int32_t v = 0; v < kh; ++v) {
                RowSet& r = sets[v];
                r.columns = columns;
                for (int32_t i = 0; i < r.width; ++i)
                    if (r.table[S + r.width - 1 - i]) r.columns[r.members++] = i;
                columns += r.members;
            }
        bool paired[kMaxKernelRows] = {};
        const bool track = kh <= kMaxKernelRows;
        for (int32_t ve = 0; ve < kh; ++ve) {
            const RowSet& e = entering[ve];
            if (!e.width) continue;
            int32_t partner = -1;
            for (int32_t vl = 0; track && vl < kh && partner < 0; ++vl) {
                const RowSet& l = leaving[vl];
                if (!paired[vl] && l.first == e.first && l.width == e.width &&
                    std::equal(l.table, l.table + 3 * S, e.table))
                    partner = vl;
            }
            if (partner >= 0) paired[partner] = true;
            steps[stepCount++] = {&e, partner, ve, scatters(e)};
        }
        for (int32_t vl = 0; vl < kh; ++vl)
            if (leaving[vl].width && !(track && paired[vl]))
                steps[stepCount++] = {&leaving[vl], vl, -1, scatters(leaving[vl])};
        prefixFor(0, kw - 1, interior);
    }

    // Members in kernel rows 0 .. v - 1 at columns uLo .. uHi, for v = 0 .. kh.
    void prefixFor(int32_t uLo, int32_t uHi, int32_t* prefix) {
        std::fill(rowCounts, rowCounts + kh + 1, 0);
        for (int32_t j = 0; j < stretches; ++j)
            if (enterAt[j].x >= uLo && enterAt[j].x <= uHi) {
                ++rowCounts[leaveAt[j].y];
                --rowCounts[enterAt[j].y + 1];
            }
        int32_t inRow = 0;
        prefix[0] = 0;
        for (int32_t v = 0; v < kh; ++v) {
            inRow += rowCounts[v];
            prefix[v + 1] = prefix[v] + inRow;
        }
    }

    // Source row r of the strip as the sweeps of 16-bit values read it, from column valuesFrom.
    uint16_t* valuesRow(int64_t r) const { return values + size_t((r - g.firstRow) % (kh + 2)) * size_t(2 * S); }
    void readValues(int64_t r, int32_t x0) {
        if (r < g.firstRow || r > g.lastRow) return;
        const uint8_t* pixels = g.sourceRow(r);
        const uint8_t* selected = g.maskRow(r);
        uint16_t* out = valuesRow(r);
        const int64_t last = std::min<int64_t>(g.W - 1, int64_t{x0} + S - 1 + halfW);
        for (int64_t c = valuesFrom; c <= last; ++c)
            out[c - valuesFrom] = selected[c] ? pixels[c] : uint16_t(kLeftOut + (c & 3));
    }

    // Source rows leaveRow and enterRow (when leave and enter say so and the row exists).
    void sweep(int32_t x0, const RowSet& set, bool leave, int64_t leaveRow, bool enter, int64_t enterRow,
               bool scatter = false) {
        const int64_t a = int64_t{x0} - halfW + set.first;
        const int64_t c0 = std::max<int64_t>(0, a);
        const int64_t c1 = std::min<int64_t>(g.W - 1, a + S + set.width - 2);
        if (c1 < c0) return;
        // Position by position only where no column of the strip is cut by the border.
        scatter = scatter && c0 == a && c1 == a + S + set.width - 2;
        const bool remove = leave && leaveRow >= g.firstRow && leaveRow <= g.lastRow;
        const bool add = enter && enterRow >= g.firstRow && enterRow <= g.lastRow;
        const void* leaving = nullptr;
        const void* entering = nullptr;
        if (g.mask) {
            if (remove) leaving = valuesRow(leaveRow) + (c0 - valuesFrom);
            if (add) entering = valuesRow(enterRow) + (c0 - valuesFrom);
        } else {
            if (remove) leaving = g.sourceRow(leaveRow) + c0;
            if (add) entering = g.sourceRow(enterRow) + c0;
        }
        if (scatter) {
            const ScatterRow row{set.members,  set.columns,          leaving, entering, strip.histogram,
                                 strip.levels, strip.countsAtOrBelow};
            if (remove && add)
                scatterBoth(row);
            else if (remove)
                scatterRemove(row);
            else if (add)
                scatterAdd(row);
            return;
        }
        const SweepRow row{static_cast<int32_t>(c1 - c0 + 1),
                           leaving,
                           entering,
                           static_cast<int32_t>(c0 - a),
                           set.width,
                           set.table,
                           strip.histogram,
                           strip.levels,
                           strip.countsAtOrBelow};
        if (remove && add)
            both(row);
        else if (remove)
            removeOnly(row);
        else if (add)
            addOnly(row);
    }

    void runStrip(int32_t x0, TargetCount& target) {
        std::fill(strip.histogram, strip.histogram + (256 + kLeftOutBins) * S, uint16_t{0});
        std::fill(strip.levels, strip.levels + S, int16_t{128});
        std::fill(strip.countsAtOrBelow, strip.countsAtOrBelow + S, uint16_t{0});
        const int32_t active = std::min(S, g.W - x0);
        const int32_t* prefix[kMaxStrip];
        for (int32_t j = 0; j < active; ++j) {
            const int32_t x = x0 + j, uLo = std::max(0, halfW - x), uHi = std::min(kw - 1, g.W - 1 - x + halfW);
            prefix[j] = interior;
            if (uLo > 0 || uHi < kw - 1) {
                int32_t* own = lanePrefix + size_t(j) * size_t(kh + 1);
                prefixFor(uLo, uHi, own);
                prefix[j] = own;
            }
        }
        if (g.mask) {
            valuesFrom = std::max(0, x0 - halfW);
            for (int32_t v = 0; v < kh; ++v) readValues(int64_t{v} - halfH, x0);
        }
        for (int32_t v = 0; v < kh; ++v)
            if (members[v].width) sweep(x0, members[v], false, 0, true, int64_t{v} - halfH);
        for (int32_t y = 0; y < g.H; ++y) {
            const int64_t oy = int64_t{y} - halfH;
            if (y > 0 && g.mask) readValues(oy + kh - 1, x0);
            if (y > 0)
                for (int32_t i = 0; i < stepCount; ++i) {
                    const Step& s = steps[i];
                    sweep(x0, *s.set, s.leaveRow >= 0, oy - 1 + s.leaveRow, s.enterRow >= 0, oy + s.enterRow,
                          s.scatter);
                }
            g.prefetchRow(y + halfH + kRowsAhead, std::max(0, x0 - halfW), std::min(g.W - 1, x0 + S - 1 + halfW));
            // The strip's destination bytes sit on a page of their own in every row; without a
            // write prefetch each row's store waits for its line.
            __builtin_prefetch(g.destinationRow(std::min(y + kRowsAhead, g.H - 1)) + x0, 1);
            const int32_t vLo = static_cast<int32_t>(std::max<int64_t>(0, g.firstRow - oy));
            const int32_t vHi = static_cast<int32_t>(std::min<int64_t>(kh - 1, g.lastRow - oy));
            uint8_t* out = g.destinationRow(y) + x0;
            const uint8_t* centre = g.mask ? g.maskRow(y) + x0 : nullptr;
            uint16_t leftOut[kMaxStrip];
            if (centre) {
                // Entries and exits of a left-out pixel fall in different bins: only the sum
                // counts, exact in 16 bits.
                std::fill(leftOut, leftOut + active, uint16_t{0});
                for (int32_t i = 0; i < kLeftOutBins; ++i)
                    for (int32_t j = 0; j < active; ++j)
                        leftOut[j] = uint16_t(leftOut[j] + strip.histogram[(kLeftOut + i) * S + j]);
            }
            for (int32_t j = 0; j < active; ++j) {
                int32_t n = vHi >= vLo ? prefix[j][vHi + 1] - prefix[j][vLo] : 0;
                if (centre) {
                    n -= leftOut[j];
                    // Unselected centres and empty neighbourhoods stay unwritten.
                    if (!centre[j] || n == 0) continue;
                }
                out[j] = searchStripColumn(strip.histogram, S, j, strip.levels, strip.countsAtOrBelow, target(n));
            }
        }
    }

    // Pairing looks at kernels of up to this many rows; taller ones sweep each row on its own.
    static constexpr int32_t kMaxKernelRows = 256;
};

// Whether the windows describe a call this path reproduces exactly: 8-bit, the source covering
// the destination's rows, an image mask (if any) over the source's rectangle, no shared memory.
// Anything else goes to the general engine.
bool admit(const kimg_windowConst& source, const kimg_windowConst* mask, const kimg_window& destination) {
    const kstd_rect32 &s = source.rect, &d = destination.rect;
    const bool windows = source.bytesPerPixel == 1 && destination.bytesPerPixel == 1 && s.x == d.x &&
                         s.width == d.width && d.width > 0 && d.height > 0 && s.y <= d.y &&
                         int64_t{s.y} + s.height >= int64_t{d.y} + d.height && source.pixels != nullptr &&
                         destination.pixels != nullptr && kip_pelfunc_checkMemoryOverlap(&source, &destination) == 0;
    if (!windows || mask == nullptr) return windows;
    const kstd_rect32& m = mask->rect;
    return mask->bytesPerPixel == 1 && mask->pixels != nullptr && m.x == s.x && m.y == s.y && m.width == s.width &&
           m.height == s.height && kip_pelfunc_checkMemoryOverlap(mask, &destination) == 0;
}

kip_status maskedFast(const kimg_windowConst* source, const kimg_windowConst* mask, double percentile,
                      const kip_filterMaskKernel* kernel, const kimg_window* destination) {
    if (!admit(*source, mask, *destination)) return kip_errNotAvailable;
    kstd_pair32 size{};
    const kip_filterMaskKernelEncoded* encoded = nullptr;
    kip_status s = kip_filterMaskKernel_getSize(kernel, &size);
    if (!failed(s)) s = kip_filterMaskKernel_getEncodedKernel(kernel, &encoded);
    if (failed(s)) return s;

    MaskedDriver dr;
    dr.kw = size.x;
    dr.kh = size.y;
    dr.halfW = size.x >> 1;
    dr.halfH = size.y >> 1;
    int32_t leavingCount = 0;
    s = kstd_vector_kstd_pair32_getBeginSize32Const(&encoded->entering, &dr.enterAt, &dr.stretches);
    if (!failed(s)) s = kstd_vector_kstd_pair32_getBeginSize32Const(&encoded->leaving, &dr.leaveAt, &leavingCount);
    if (failed(s)) return s;
    if (leavingCount != dr.stretches) return kip_errNotAvailable;
    int64_t memberCount = 0;
    for (int32_t j = 0; j < dr.stretches; ++j) memberCount += int64_t{dr.enterAt[j].y} - dr.leaveAt[j].y + 1;
    // 16-bit counters; tall kernels would make the tables large for little gain.
    if (memberCount >= 65536 || dr.kh > 4096) return kip_errNotAvailable;

    const SweepIsa* sets[3];
    offeredIsas(sets);
    if (sets[0] == nullptr) return kip_errNotAvailable;
    const bool wide = mask != nullptr;
    for (const int32_t w : kWidths)
        if (dr.S == 0 && w > dr.kw && sets[0]->sweepFor(w, true, true, wide)) dr.S = w;
    if (dr.S == 0) return kip_errNotAvailable;
    dr.both = sets[0]->sweepFor(dr.S, true, true, wide);
    dr.removeOnly = sets[0]->sweepFor(dr.S, true, false, wide);
    dr.addOnly = sets[0]->sweepFor(dr.S, false, true, wide);
    dr.scatterBoth = sets[0]->scatterFor(dr.S, true, true, wide);
    dr.scatterRemove = sets[0]->scatterFor(dr.S, true, false, wide);
    dr.scatterAdd = sets[0]->scatterFor(dr.S, false, true, wide);
    dr.lanes = sets[0] == &kSweepAvx2 ? 16 : 8;
    if (!makeGeometry(*source, mask, *destination, &dr.g)) return kstd_errInvalidArgument;

    // One block: the tables of three kinds of row sets, the sets, the steps and the prefix counts.
    const size_t kh = size_t(dr.kh), S = size_t(dr.S);
    const size_t tableBytes = 3 * kh * 3 * S * sizeof(uint16_t);
    const size_t setBytes = 3 * kh * sizeof(RowSet), stepBytes = 2 * kh * sizeof(Step);
    const size_t prefixBytes = ((S + 1) * (kh + 1) + kh + 1) * sizeof(int32_t);
    const size_t valueBytes = mask ? (kh + 2) * 2 * S * sizeof(uint16_t) : 0;
    const size_t columnBytes = 2 * size_t(dr.stretches) * sizeof(int32_t);
    Cleanup<1> cleanup;
    void* block = nullptr;
    s = ksys_memory_alloc_internal(tableBytes + setBytes + stepBytes + prefixBytes + valueBytes + columnBytes, &block);
    if (failed(s)) return s;
    cleanup.addBlock(ksys_cleanupFreeAlways, &block);
    uint8_t* p = static_cast<uint8_t*>(block);
    s = ksys_memory_fill(p, 0, tableBytes);
    if (failed(s)) return cleanup.finish(s);
    uint16_t* tables = reinterpret_cast<uint16_t*>(p);
    p += tableBytes;
    dr.members = reinterpret_cast<RowSet*>(p);
    dr.entering = dr.members + kh;
    dr.leaving = dr.entering + kh;
    p += setBytes;
    dr.steps = reinterpret_cast<Step*>(p);
    p += stepBytes;
    dr.interior = reinterpret_cast<int32_t*>(p);
    dr.lanePrefix = dr.interior + (kh + 1);
    dr.rowCounts = dr.lanePrefix + S * (kh + 1);
    uint16_t* values = reinterpret_cast<uint16_t*>(dr.rowCounts + kh + 1);
    if (mask) dr.values = values;
    dr.plan(tables, reinterpret_cast<int32_t*>(reinterpret_cast<uint8_t*>(values) + valueBytes));

    TargetCount target(percentile);
    for (int32_t x0 = 0; x0 < dr.g.W; x0 += dr.S) dr.runStrip(x0, target);
    return cleanup.finish(0);
}

}  // namespace
}  // namespace kip::rank

extern "C" {

kip_status kip_filterRankMaskedFast8_(const kimg_windowConst* source, double percentile,
                                      const kip_filterMaskKernel* kernel, const kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    return kip::rank::maskedFast(source, nullptr, percentile, kernel, destination);
}

kip_status kip_filterRankMaskedImageMaskFast8_(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                               double percentile, const kip_filterMaskKernel* kernel,
                                               const kimg_window* destination) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(imageMask);
    KIP_REQUIRE(kernel);
    KIP_REQUIRE(destination);
    return kip::rank::maskedFast(source, imageMask, percentile, kernel, destination);
}

}  // extern "C"
