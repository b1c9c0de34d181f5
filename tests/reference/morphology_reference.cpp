#include "reference/morphology_reference.hpp"

namespace kipref {

std::vector<uint16_t> referenceMorphologyPass(const MorphologyCase& c, const std::vector<uint16_t>& source,
                                              bool dilate) {
    const int32_t hw = c.ew / 2, hh = c.eh / 2;
    const int32_t top = c.sixteen ? 65535 : 255;
    std::vector<uint16_t> out(source.size());
    for (int32_t y = 0; y < c.height; ++y)
        for (int32_t x = 0; x < c.width; ++x) {
            const size_t at = size_t(y) * size_t(c.width) + size_t(x);
            if (!c.mask.empty() && c.mask[at] == 0) {
                out[at] = source[at];
                continue;
            }
            int32_t m = dilate ? 0 : top;
            for (int32_t q = -hh; q <= hh; ++q)
                for (int32_t p = -hw; p <= hw; ++p) {
                    const int32_t sx = x + p, sy = y + q;
                    if (sx < 0 || sy < 0 || sx >= c.width || sy >= c.height) continue;
                    const size_t n = size_t(sy) * size_t(c.width) + size_t(sx);
                    const size_t e = size_t(hh - q) * size_t(c.ew) + size_t(hw - p);
                    if (!c.mask.empty() && c.mask[n] == 0) continue;
                    if (!c.members[e]) continue;
                    int32_t v = source[n];
                    if (!c.weights.empty()) {
                        v += dilate ? c.weights[e] : -c.weights[e];
                        v = v < 0 ? 0 : v > 255 ? 255 : v;
                    }
                    m = dilate ? (v > m ? v : m) : (v < m ? v : m);
                }
            out[at] = uint16_t(m);
        }
    return out;
}

std::vector<uint16_t> referenceMorphology(const MorphologyCase& c, uint32_t operation) {
    switch (operation) {
        case 0:
            return referenceMorphologyPass(c, c.pixels, true);
        case 1:
            return referenceMorphologyPass(c, c.pixels, false);
        case 2:
            return referenceMorphologyPass(c, referenceMorphologyPass(c, c.pixels, false), true);
        default:
            return referenceMorphologyPass(c, referenceMorphologyPass(c, c.pixels, true), false);
    }
}

}  // namespace kipref
