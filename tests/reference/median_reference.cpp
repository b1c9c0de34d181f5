#include "reference/median_reference.hpp"

#include <algorithm>

namespace kipref {

std::vector<uint16_t> referenceMedian(const std::vector<uint16_t>& pixels, int32_t width, int32_t height, int32_t kw,
                                      int32_t kh) {
    std::vector<uint16_t> out(pixels.size());
    std::vector<uint16_t> values;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            values.clear();
            for (int32_t v = std::max(0, y - kh / 2); v <= std::min(height - 1, y + kh / 2); ++v)
                for (int32_t u = std::max(0, x - kw / 2); u <= std::min(width - 1, x + kw / 2); ++u)
                    values.push_back(pixels[size_t(v) * size_t(width) + size_t(u)]);
            std::sort(values.begin(), values.end());
            out[size_t(y) * size_t(width) + size_t(x)] = values[(values.size() + 1) / 2 - 1];
        }
    return out;
}

}  // namespace kipref
