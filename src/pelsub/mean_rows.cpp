// The optimised local mean. Every box of one row spans the same source rows (the shrink near the
// top and bottom depends on y alone), so the engine keeps running column sums over those rows
// and takes each box's total from a prefix sum across the row: exact integer totals, equal to the
// general engine's table queries, from a few rows of scratch instead of 12 bytes per pixel. The
// rounding is the general engine's, in vector kernels where the box totals fit 31 bits.
#include <algorithm>

#include "frame/cleanup.hpp"
#include "frame/hook.hpp"
#include "frame/isa.hpp"
#include "pelsub/pelsub_internal.hpp"
#include "pelsub/rows_isa.hpp"
#include "platform/assert.hpp"

using kip::Cleanup;
using kip::failed;
using kip::pelsub::MeanRun;
using kip::pelsub::RowIsa;

namespace kip::pelsub {

const RowIsa* selectRowIsa() {
    ksys_cpuinfo info;
    if (failed(ksys_cpuinfo_init(&info)) || info.kind == ksys_cpuKindOther) return nullptr;
    if (kip::isaOffered(info, kip::Isa::Avx2) && kRowIsaAvx2.mean8) return &kRowIsaAvx2;
    if (kip::isaOffered(info, kip::Isa::Sse2) && kRowIsaSse2.mean8) return &kRowIsaSse2;
    return nullptr;
}

}  // namespace kip::pelsub

namespace {

constexpr auto kLabel8 = kip::makeLabel("kip_pelSubLocalMean8");
constexpr auto kLabel16 = kip::makeLabel("kip_pelSubLocalMean16");

template <class T>
const T* rowOf(const kimg_windowConst& w, int32_t y) {
    return reinterpret_cast<const T*>(static_cast<const uint8_t*>(w.pixels) +
                                      static_cast<int64_t>(y) * w.stride * int64_t{sizeof(T)});
}

template <class T>
T* mutableRowOf(const kimg_window& w, int32_t y) {
    return reinterpret_cast<T*>(static_cast<uint8_t*>(w.pixels) +
                                static_cast<int64_t>(y) * w.stride * int64_t{sizeof(T)});
}

// Scratch rows: column sums and counts, their prefix sums (one longer), and a background row.
template <class T, class Acc>
struct Rows {
    Acc* columns;
    uint32_t* columnCounts;
    Acc* prefix;
    uint32_t* prefixCounts;
    T* background;

    static size_t bytes(int32_t width, bool masked) {
        const size_t w = static_cast<size_t>(width);
        const size_t counts = masked ? (2 * w + 1) * sizeof(uint32_t) : 0;
        return (2 * w + 1) * sizeof(Acc) + counts + w * sizeof(T);
    }
    void carve(void* block, int32_t width, bool masked) {
        const size_t w = static_cast<size_t>(width);
        auto* p = static_cast<uint8_t*>(block);
        columns = reinterpret_cast<Acc*>(p);
        prefix = columns + w;
        p += (2 * w + 1) * sizeof(Acc);
        columnCounts = masked ? reinterpret_cast<uint32_t*>(p) : nullptr;
        prefixCounts = masked ? columnCounts + w : nullptr;
        p += masked ? (2 * w + 1) * sizeof(uint32_t) : 0;
        background = reinterpret_cast<T*>(p);
    }
};

// Adds (Sign = 1) or removes (Sign = -1) one source row from the column sums.
template <class T, class Acc, int Sign>
void columnStep(Acc* columns, uint32_t* counts, const T* v, const uint8_t* m, int32_t width) {
    if (m == nullptr) {
        for (int32_t x = 0; x < width; ++x) columns[x] += Sign > 0 ? Acc{v[x]} : Acc(0) - Acc{v[x]};
        return;
    }
    for (int32_t x = 0; x < width; ++x) {
        const Acc on = m[x] != 0 ? Acc{v[x]} : Acc(0);
        columns[x] += Sign > 0 ? on : Acc(0) - on;
        counts[x] += Sign > 0 ? uint32_t{m[x] != 0} : uint32_t(0) - uint32_t{m[x] != 0};
    }
}

template <class U>
void prefixSum(const U* in, int32_t width, U* out) {
    U r = 0;
    out[0] = 0;
    for (int32_t x = 0; x < width; ++x) out[x + 1] = r += in[x];
}

template <class T, class Acc>
kip_status rowsEngine(const kimg_windowConst& source, const kimg_windowConst* mask, const kip_pelSubLocalParams& params,
                      const kimg_window& destination, bool subtract, const RowIsa* isa) {
    const int32_t width = source.rect.width;
    const int32_t height = source.rect.height;
    const int32_t hx = params.x >> 1;
    const int32_t hy = params.y >> 1;
    const bool masked = mask != nullptr;

    Rows<T, Acc> rows{};
    void* block = nullptr;
    kip_status s = ksys_memory_alloc_internal(Rows<T, Acc>::bytes(width, masked), &block);
    if (failed(s)) return s;
    Cleanup<1> c;
    c.addBlock(ksys_cleanupFreeAlways, &block);
    rows.carve(block, width, masked);
    std::fill(rows.columns, rows.columns + width, Acc(0));
    if (masked) std::fill(rows.columnCounts, rows.columnCounts + width, 0u);

    // Full-width boxes: pixels hx .. width - 1 - hx.
    const int32_t innerBegin = std::min(hx, width);
    const int32_t innerEnd = std::max(innerBegin, width - hx);
    int32_t first = 0;  // source rows first .. last are in the column sums
    int32_t last = -1;
    for (int32_t y = 0; y < height; ++y) {
        const int32_t ry = std::min({hy, y, height - 1 - y});
        // Unmasked 32-bit sums: the last row in and the last row out join the prefix pass.
        const bool fused = sizeof(Acc) == 4 && !masked && isa != nullptr;
        const int32_t newLast = y + ry;
        const int32_t newFirst = y - ry;
        const int32_t lastApart = fused && newLast > last ? newLast - 1 : newLast;
        const int32_t firstApart = fused && newFirst > first ? newFirst - 1 : newFirst;
        const T* fusedAdd = lastApart < newLast ? rowOf<T>(source, newLast) : nullptr;
        const T* fusedRemove = firstApart < newFirst ? rowOf<T>(source, newFirst - 1) : nullptr;
        for (; last < lastApart; ++last)
            columnStep<T, Acc, 1>(rows.columns, rows.columnCounts, rowOf<T>(source, last + 1),
                                  masked ? rowOf<uint8_t>(*mask, last + 1) : nullptr, width);
        for (; first < firstApart; ++first)
            columnStep<T, Acc, -1>(rows.columns, rows.columnCounts, rowOf<T>(source, first),
                                   masked ? rowOf<uint8_t>(*mask, first) : nullptr, width);
        last = newLast;
        first = newFirst;
        if constexpr (sizeof(Acc) == 4) {
            if (fused) {
                if constexpr (sizeof(T) == 1)
                    isa->columns8(rows.columns, fusedAdd, fusedRemove, width, rows.prefix);
                else
                    isa->columns16(rows.columns, fusedAdd, fusedRemove, width, rows.prefix);
            }
        }
        if (!fused) prefixSum(rows.columns, width, rows.prefix);
        if (masked) prefixSum(rows.columnCounts, width, rows.prefixCounts);

        const T* v = rowOf<T>(source, y);
        const uint8_t* m = masked ? rowOf<uint8_t>(*mask, y) : nullptr;
        T* out = subtract ? rows.background : mutableRowOf<T>(destination, y);
        const uint32_t boxRows = static_cast<uint32_t>(2 * ry + 1);
        auto scalar = [&](int32_t x) {
            if (m && m[x] == 0) {
                out[x] = v[x];
                return;
            }
            const int32_t rx = std::min({hx, x, width - 1 - x});
            const uint64_t sum = static_cast<uint64_t>(rows.prefix[x + rx + 1] - rows.prefix[x - rx]);
            const uint32_t n = m ? rows.prefixCounts[x + rx + 1] - rows.prefixCounts[x - rx]
                                 : boxRows * static_cast<uint32_t>(2 * rx + 1);
            out[x] = static_cast<T>(kip::pelsub::roundedMean(sum, n));
        };
        for (int32_t x = 0; x < innerBegin; ++x) scalar(x);
        if constexpr (sizeof(Acc) == 4) {
            if (isa && innerEnd > innerBegin) {
                const MeanRun run{rows.prefix + (innerBegin - hx),
                                  rows.prefix + (innerBegin + hx + 1),
                                  masked ? rows.prefixCounts + (innerBegin - hx) : nullptr,
                                  masked ? rows.prefixCounts + (innerBegin + hx + 1) : nullptr,
                                  m ? m + innerBegin : nullptr,
                                  v + innerBegin,
                                  static_cast<float>(static_cast<int32_t>(boxRows * static_cast<uint32_t>(2 * hx + 1))),
                                  innerEnd - innerBegin};
                if constexpr (sizeof(T) == 1)
                    isa->mean8(run, out + innerBegin);
                else
                    isa->mean16(run, out + innerBegin);
            } else {
                for (int32_t x = innerBegin; x < innerEnd; ++x) scalar(x);
            }
        } else {
            for (int32_t x = innerBegin; x < innerEnd; ++x) scalar(x);
        }
        for (int32_t x = innerEnd; x < width; ++x) scalar(x);

        if (subtract) {
            T* target = mutableRowOf<T>(destination, y);
            if (isa) {
                if constexpr (sizeof(T) == 1)
                    isa->subtract8(v, out, width, target);
                else
                    isa->subtract16(v, out, width, target);
            } else {
                for (int32_t x = 0; x < width; ++x) target[x] = kip::pelsub::subtracted(v[x], out[x]);
            }
        }
    }
    return c.finish(0);
}

template <class T>
kip_status meanRows(const kimg_windowConst* source, const kimg_windowConst* mask, const kip_pelSubLocalParams* params,
                    const kimg_window* destination, uint32_t subtract) {
    KIP_REQUIRE(source);
    KIP_REQUIRE(params);
    KIP_REQUIRE(destination);
    if (kip::optimizationInhibited(sizeof(T) == 1 ? kLabel8.text : kLabel16.text)) return kip_errNotAvailable;
    uint32_t sourceNull = 1;
    uint32_t destinationNull = 1;
    uint32_t maskNull = 1;
    kip_status s = kimg_windowConst_getIsNull(source, &sourceNull);
    if (!failed(s)) s = kimg_window_getIsNull(destination, &destinationNull);
    if (!failed(s) && mask) s = kimg_windowConst_getIsNull(mask, &maskNull);
    if (failed(s)) return s;
    if (sourceNull || destinationNull) return kip_errImageUnbound;

    // Box totals within 31 bits run in 32-bit lanes; larger ones in 64-bit scalar code.
    const uint64_t maxPixel = sizeof(T) == 1 ? 255 : 65535;
    const uint64_t boxWidth = static_cast<uint64_t>(std::min(params->x, source->rect.width));
    const uint64_t boxHeight = static_cast<uint64_t>(std::min(params->y, source->rect.height));
    const kimg_windowConst* used = maskNull ? nullptr : mask;
    if (maxPixel * boxWidth * boxHeight < (uint64_t{1} << 31))
        return rowsEngine<T, uint32_t>(*source, used, *params, *destination, subtract != 0,
                                       kip::pelsub::selectRowIsa());
    return rowsEngine<T, uint64_t>(*source, used, *params, *destination, subtract != 0, kip::pelsub::selectRowIsa());
}

}  // namespace

extern "C" {

kip_status kip_pelSubLocalMeanRows8_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                     const kip_pelSubLocalParams* params, const kimg_window* destination,
                                     uint32_t subtract) {
    return meanRows<uint8_t>(source, mask, params, destination, subtract);
}

kip_status kip_pelSubLocalMeanRows16_(const kimg_windowConst* source, const kimg_windowConst* mask,
                                      const kip_pelSubLocalParams* params, const kimg_window* destination,
                                      uint32_t subtract) {
    return meanRows<uint16_t>(source, mask, params, destination, subtract);
}

}  // extern "C"
