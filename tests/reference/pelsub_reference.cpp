#include "reference/pelsub_reference.hpp"

#include <algorithm>

namespace kipref {

std::vector<uint16_t> referenceLocalMean(const PelsubCase& c) {
    std::vector<uint16_t> out;
    const int32_t hx = c.boxWidth / 2, hy = c.boxHeight / 2;
    for (int32_t y = 0; y < c.height; ++y)
        for (int32_t x = 0; x < c.width; ++x) {
            const size_t at = size_t(y) * size_t(c.width) + size_t(x);
            if (!c.mask.empty() && c.mask[at] == 0) {
                out.push_back(c.pixels[at]);
                continue;
            }
            const int32_t rx = std::min({hx, x, c.width - 1 - x}), ry = std::min({hy, y, c.height - 1 - y});
            uint64_t sum = 0;
            int32_t n = 0;
            for (int32_t v = y - ry; v <= y + ry; ++v)
                for (int32_t u = x - rx; u <= x + rx; ++u) {
                    const size_t i = size_t(v) * size_t(c.width) + size_t(u);
                    if (c.mask.empty() || c.mask[i] != 0) {
                        sum += c.pixels[i];
                        ++n;
                    }
                }
            const float q = float(sum) / float(n);
            out.push_back(uint16_t(uint32_t(double(q) + 0.5)));
        }
    return out;
}

std::vector<uint16_t> referenceLocalMedian(const PelsubCase& c) {
    std::vector<uint16_t> out, box;
    const int32_t hx = c.boxWidth / 2, hy = c.boxHeight / 2;
    for (int32_t y = 0; y < c.height; ++y)
        for (int32_t x = 0; x < c.width; ++x) {
            box.clear();
            for (int32_t v = std::max(0, y - hy); v <= std::min(c.height - 1, y + hy); ++v)
                for (int32_t u = std::max(0, x - hx); u <= std::min(c.width - 1, x + hx); ++u)
                    box.push_back(c.pixels[size_t(v) * size_t(c.width) + size_t(u)]);
            std::sort(box.begin(), box.end());
            out.push_back(box[(box.size() + 1) / 2 - 1]);
        }
    return out;
}

std::vector<uint16_t> referenceSubtract(const PelsubCase& c, const std::vector<uint16_t>& background) {
    const int32_t offset = c.sixteen ? 32768 : 128, top = c.sixteen ? 65535 : 255;
    std::vector<uint16_t> out;
    for (size_t i = 0; i < c.pixels.size(); ++i)
        out.push_back(uint16_t(std::clamp(int32_t(c.pixels[i]) - int32_t(background[i]) + offset, 0, top)));
    return out;
}

}  // namespace kipref
