#include "reference/rank_reference.hpp"

#include <algorithm>
#include <cmath>

namespace kipref {

uint16_t rankOf(std::vector<uint16_t> values, double percentile) {
    const int64_t n = int64_t(values.size());
    if (n == 0) return 0;
    const double pn = percentile * double(n);
    int64_t k = pn <= 0.0 ? 1 : int64_t(std::ceil(pn));
    if (k > n) k -= 1;
    std::sort(values.begin(), values.end());
    return values[size_t(std::clamp<int64_t>(k, 1, n) - 1)];
}

RankResult referenceRank(const RankCase& c) {
    RankResult r;
    const kstd_rect32 s = c.source, d = c.destination;
    const int32_t x0 = std::max(s.x, d.x), y0 = std::max(s.y, d.y);
    const int32_t x1 = std::min(s.x + s.width, d.x + d.width), y1 = std::min(s.y + s.height, d.y + d.height);
    if (x1 <= x0 || y1 <= y0) return r;
    r.rect = kstd_rect32{x0, y0, x1 - x0, y1 - y0};
    const kstd_rect32 cut = c.cutAtSource ? s : r.rect;
    const auto at = [&](const auto& image, int32_t x, int32_t y) {
        return image[size_t((y - s.y) * s.width + (x - s.x))];
    };
    const int32_t hw = c.kw / 2, hh = c.kh / 2;
    std::vector<uint16_t> gathered;
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) {
            const bool masked = !c.imageMask.empty();
            if (masked && at(c.imageMask, x, y) == 0) {
                r.values.push_back(at(c.pixels, x, y));
                continue;
            }
            gathered.clear();
            for (int32_t v = 0; v < c.kh; ++v)
                for (int32_t u = 0; u < c.kw; ++u) {
                    // Position (u, v) of the neighbourhood meets the mask turned by a half turn.
                    if (!c.kernelMask.empty() && c.kernelMask[size_t((c.kh - 1 - v) * c.kw + (c.kw - 1 - u))] == 0)
                        continue;
                    const int32_t sx = x - hw + u, sy = y - hh + v;
                    if (sx < cut.x || sx >= cut.x + cut.width || sy < cut.y || sy >= cut.y + cut.height) continue;
                    if (masked && at(c.imageMask, sx, sy) == 0) continue;
                    gathered.push_back(at(c.pixels, sx, sy));
                }
            if (masked && gathered.empty())
                r.values.push_back(at(c.pixels, x, y));
            else
                r.values.push_back(rankOf(gathered, c.percentile));
        }
    return r;
}

}  // namespace kipref
