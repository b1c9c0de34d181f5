// The general rectangular rank engine: one histogram per destination column of a strip, slid
// down the column by adding the row segment that enters and removing the one that leaves. Over
// flat bins it is the reference; over two-level 16-bit histograms it is the faster twin.
#include "rank/histogram.hpp"
#include "rank/two_level.hpp"
#include "rank/variants.hpp"

using kip::Cleanup;
using kip::failed;

namespace kip::rank {

template <class V, class H>
kip_status rectEngine(const kimg_windowConst* source, double percentile, const kstd_pair32* size,
                      const kimg_window* destination) {
    using Pixel = typename V::Pixel;
    constexpr int32_t S = H::kColumns;
    using Col = typename H::Col;
    KIP_REQUIRE(source);
    KIP_REQUIRE(size);
    KIP_REQUIRE(destination);
    Geometry<Pixel> g;
    if (!makeGeometry(*source, nullptr, *destination, &g)) return kstd_errInvalidArgument;
    int32_t halfW = 0, halfH = 0;
    if (!halfSizes(*size, g.W, g.lastRow - g.firstRow + 1, &halfW, &halfH)) return kstd_errInvalidArgument;
    if (!H::admits((2 * int64_t{halfW} + 1) * (2 * int64_t{halfH} + 1))) return kip_errNotAvailable;
    if (g.W == 0 || g.H == 0) return 0;

    Cleanup<1> cleanup;
    H bins;
    kip_status s = bins.acquire(cleanup);
    TargetCount target(percentile);
    Col columns[S];
    for (int32_t x0 = 0; !failed(s) && x0 < g.W; x0 += S) {
        s = bins.clear();
        if (failed(s)) break;
        const int32_t count = std::min(S, g.W - x0);
        for (int32_t i = 0; i < count; ++i) {
            Col& c = columns[i];
            c = bins.start(i);
            const int32_t x = x0 + i;
            const int32_t left = std::max(0, x - halfW), right = std::min(g.W - 1, x + halfW);
            for (int32_t r = std::max(g.firstRow, -halfH); r < std::min(halfH, g.lastRow); ++r) {
                const Pixel* row = g.sourceRow(r);
                for (int32_t u = left; u <= right; ++u) c.add(row[u]);
            }
        }
        for (int32_t y = 0; y < g.H; ++y) {
            const bool enter = y == 0 || y <= g.lastRow - halfH;
            const bool leave = y > g.firstRow + halfH;
            const int32_t bottom = std::min(g.lastRow, y + halfH), top = std::max(g.firstRow, y - halfH);
            const Pixel* entering = g.sourceRow(bottom);
            const Pixel* leaving = leave ? g.sourceRow(y - halfH - 1) : nullptr;
            Pixel* out = g.destinationRow(y);
            g.prefetchRow(int64_t{y} + halfH + kRowsAhead, std::max(0, x0 - halfW),
                          std::min(g.W - 1, x0 + count - 1 + halfW));
            for (int32_t i = 0; i < count; ++i) {
                // Worked on in a local: the histogram's stores cannot alias it.
                Col c = columns[i];
                const int32_t x = x0 + i;
                const int32_t left = std::max(0, x - halfW), right = std::min(g.W - 1, x + halfW);
                if (enter)
                    for (int32_t u = left; u <= right; ++u) c.add(entering[u]);
                if (leave)
                    for (int32_t u = left; u <= right; ++u) c.remove(leaving[u]);
                out[x] = static_cast<Pixel>(c.search(target((right - left + 1) * (bottom - top + 1))));
                columns[i] = c;
            }
        }
    }
    return cleanup.finish(s);
}

}  // namespace kip::rank

extern "C" {

kip_status kip_filterRankRect8_(const kimg_windowConst* source, double percentile, const kstd_pair32* size,
                                const kimg_window* destination) {
    using namespace kip::rank;
    return rectEngine<Variant8, FlatStrip<Variant8, Variant8::kStrip>>(source, percentile, size, destination);
}

kip_status kip_filterRankRect16_(const kimg_windowConst* source, double percentile, const kstd_pair32* size,
                                 const kimg_window* destination) {
    using namespace kip::rank;
    return rectEngine<Variant16, FlatStrip<Variant16, Variant16::kStrip>>(source, percentile, size, destination);
}

kip_status kip_filterRankRectTwoLevel16_(const kimg_windowConst* source, double percentile, const kstd_pair32* size,
                                         const kimg_window* destination) {
    using namespace kip::rank;
    return rectEngine<Variant16, TwoLevelStrip<Variant16::kTwoLevelStrip>>(source, percentile, size, destination);
}

}  // extern "C"
