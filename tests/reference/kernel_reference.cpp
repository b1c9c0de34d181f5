#include "reference/kernel_reference.hpp"

namespace kipref {

std::vector<Stretch> maskStretches(const std::vector<uint16_t>& mask, int32_t w, int32_t h) {
    std::vector<Stretch> out;
    for (int32_t c = 0; c < w; ++c)
        for (int32_t p = 0; p < h; ++p) {
            auto member = [&](int32_t row) { return mask[std::size_t(h - 1 - row) * w + (w - 1 - c)] != 0; };
            if (!member(p)) continue;
            int32_t bottom = p;
            while (bottom + 1 < h && member(bottom + 1)) ++bottom;
            out.push_back({c, p, bottom});
            p = bottom;
        }
    return out;
}

}  // namespace kipref
