// Brute-force local background subtraction from its definition, on plain arrays, for the
// randomized tests: each box summed pixel by pixel, then the same single-precision rounding.
#pragma once

#include <cstdint>
#include <vector>

namespace kipref {

struct PelsubCase {
    int32_t width = 0;
    int32_t height = 0;
    bool sixteen = false;          // 16-bit pixels
    std::vector<uint16_t> pixels;  // row by row
    std::vector<uint8_t> mask;     // row by row; empty: every pixel takes part
    int32_t boxWidth = 3;
    int32_t boxHeight = 3;
};

// The local mean of every pixel: the box centred on it, shrunk symmetrically at the edges; with
// a mask, the mean of the selected pixels of the box, and the pixel itself where unselected.
std::vector<uint16_t> referenceLocalMean(const PelsubCase& c);

// The median of every pixel's box cut at the rectangle's border (no shrink), unmasked: the
// smallest value that at least half of the box's pixels (rounded up) do not exceed.
std::vector<uint16_t> referenceLocalMedian(const PelsubCase& c);

// clamp(source - background + offset) pixel by pixel.
std::vector<uint16_t> referenceSubtract(const PelsubCase& c, const std::vector<uint16_t>& background);

}  // namespace kipref
