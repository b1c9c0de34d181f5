// The rectangular rank engine restricted by an image mask: only selected source pixels enter the
// column histograms, and only selected destination pixels are computed. The histograms follow
// every row whatever the mask says, so a column never has to be rebuilt from scratch. With
// 16-bit pixels a summed-area count of the mask gives each neighbourhood's size before its rows
// are scanned, which lets empty neighbourhoods be skipped outright.
#include "rank/histogram.hpp"
#include "rank/variants.hpp"

using kip::Cleanup;
using kip::failed;

extern "C" {

kip_status kip_maskCountTable16_(const kimg_windowConst* mask, uint32_t* table) {
    KIP_REQUIRE(mask);
    KIP_REQUIRE(table);
    uint32_t isNull = 0;
    const kip_status s = kimg_windowConst_getIsNull(mask, &isNull);
    if (failed(s) || isNull) return s;
    const int64_t width = mask->rect.width;
    const uint8_t* row = static_cast<const uint8_t*>(mask->pixels);
    const uint32_t* above = nullptr;
    for (int32_t r = 0; r < mask->rect.height; ++r, row += mask->stride) {
        uint32_t running = 0;
        for (int64_t c = 0; c < width; ++c) {
            running += row[c] != 0;
            table[c] = running + (above ? above[c] : 0u);
        }
        above = table;
        table += width;
    }
    return 0;
}

// Unsigned arithmetic: partial sums may wrap on huge masks, the difference stays exact.
uint32_t kip_maskCountInRect16_(const uint32_t* table, int32_t width, int32_t r0, int32_t r1, int32_t c0, int32_t c1) {
    const auto at = [&](int32_t r, int32_t c) -> uint32_t {
        return r < 0 || c < 0 ? 0u : table[int64_t{r} * width + c];
    };
    return at(r1, c1) - at(r1, c0 - 1) - at(r0 - 1, c1) + at(r0 - 1, c0 - 1);
}

}  // extern "C"

namespace kip::rank {

template <class V>
kip_status rectImageMaskEngine(const kimg_windowConst* source, const kimg_windowConst* mask, double percentile,
                               const kstd_pair32* size, const kimg_window* destination) {
    using Pixel = typename V::Pixel;
    constexpr int32_t S = V::kStrip;
    KIP_REQUIRE(source);
    KIP_REQUIRE(mask);
    KIP_REQUIRE(size);
    KIP_REQUIRE(destination);
    Geometry<Pixel> g;
    if (!makeGeometry(*source, mask, *destination, &g)) return kstd_errInvalidArgument;
    const int32_t sourceRows = g.lastRow - g.firstRow + 1;
    int32_t halfW = 0, halfH = 0;
    if (!halfSizes(*size, g.W, sourceRows, &halfW, &halfH)) return kstd_errInvalidArgument;
    if (g.W == 0 || g.H == 0) return 0;

    Cleanup<2> cleanup;
    StripBins<V, S> bins;
    kip_status s = bins.acquire(cleanup);
    uint32_t* table = nullptr;
    if constexpr (V::kCountTable) {
        if (!failed(s)) {
            void* block = nullptr;
            s = ksys_memory_alloc_internal(size_t(g.W) * size_t(sourceRows) * sizeof(uint32_t), &block);
            if (!failed(s)) {
                table = static_cast<uint32_t*>(block);
                cleanup.addBlock(ksys_cleanupFreeAlways, &table);
                s = kip_maskCountTable16_(mask, table);
            }
        }
    }
    TargetCount target(percentile);
    Column<V::kLevels - 1> columns[S];
    int32_t counts[S];
    bool empty[S];
    for (int32_t x0 = 0; !failed(s) && x0 < g.W; x0 += S) {
        s = bins.clear();
        if (failed(s)) break;
        const int32_t count = std::min(S, g.W - x0);
        for (int32_t i = 0; i < count; ++i) {
            Column<V::kLevels - 1>& c = columns[i];
            c = {bins.column(i), V::kStartLevel, 0};
            counts[i] = 0;
            empty[i] = true;
            const int32_t x = x0 + i;
            const int32_t left = std::max(0, x - halfW), right = std::min(g.W - 1, x + halfW);
            for (int32_t r = std::max(g.firstRow, -halfH); r < std::min(halfH, g.lastRow); ++r) {
                const Pixel* row = g.sourceRow(r);
                const uint8_t* m = g.maskRow(r);
                for (int32_t u = left; u <= right; ++u)
                    if (m[u]) c.add(row[u]), ++counts[i];
            }
        }
        for (int32_t y = 0; y < g.H; ++y) {
            const bool enter = y == 0 || y <= g.lastRow - halfH;
            const bool leave = y > g.firstRow + halfH;
            const int32_t bottom = std::min(g.lastRow, y + halfH), top = std::max(g.firstRow, y - halfH);
            const Pixel* entering = g.sourceRow(bottom);
            const uint8_t* enteringMask = g.maskRow(bottom);
            const Pixel* leaving = leave ? g.sourceRow(y - halfH - 1) : nullptr;
            const uint8_t* leavingMask = leave ? g.maskRow(y - halfH - 1) : nullptr;
            const uint8_t* centreMask = g.maskRow(y);
            Pixel* out = g.destinationRow(y);
            for (int32_t i = 0; i < count; ++i) {
                Column<V::kLevels - 1> c = columns[i];
                const int32_t x = x0 + i;
                const int32_t left = std::max(0, x - halfW), right = std::min(g.W - 1, x + halfW);
                int32_t n = 0;
                if constexpr (V::kCountTable) {
                    n = static_cast<int32_t>(
                        kip_maskCountInRect16_(table, g.W, top - g.firstRow, bottom - g.firstRow, left, right));
                    // Nothing was in the column's histogram and nothing enters it.
                    if (n == 0 && empty[i]) continue;
                    empty[i] = n == 0;
                }
                if (enter)
                    for (int32_t u = left; u <= right; ++u)
                        if (enteringMask[u]) c.add(entering[u]), ++counts[i];
                if (leave)
                    for (int32_t u = left; u <= right; ++u)
                        if (leavingMask[u]) c.removeChecked(leaving[u]), --counts[i];
                if constexpr (!V::kCountTable) n = counts[i];
                if (centreMask[x]) out[x] = static_cast<Pixel>(c.search(target(n)));
                columns[i] = c;
            }
        }
    }
    return cleanup.finish(s);
}

}  // namespace kip::rank

extern "C" {

kip_status kip_filterRankRectImageMask8_(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                         double percentile, const kstd_pair32* size, const kimg_window* destination) {
    return kip::rank::rectImageMaskEngine<kip::rank::Variant8>(source, imageMask, percentile, size, destination);
}

kip_status kip_filterRankRectImageMask16_(const kimg_windowConst* source, const kimg_windowConst* imageMask,
                                          double percentile, const kstd_pair32* size, const kimg_window* destination) {
    return kip::rank::rectImageMaskEngine<kip::rank::Variant16>(source, imageMask, percentile, size, destination);
}

}  // extern "C"
