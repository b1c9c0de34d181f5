// Brute-force reading of kernel masks, for checking the encoded kernel and the masked engines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kipref {

// A vertical stretch of member (non-zero) pixels in column `column` of the mask turned by a half
// turn, rows top..bottom.
struct Stretch {
    int32_t column;
    int32_t top;
    int32_t bottom;
};

// Scans the half-turned mask (row-major, w x h) column by column, top down.
std::vector<Stretch> maskStretches(const std::vector<uint16_t>& mask, int32_t w, int32_t h);

}  // namespace kipref
