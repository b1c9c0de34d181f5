// The level search of the flat engines on one column of a strip's bin-major 16-bit histograms
// (bin b of column j at b * S + j), moving the column's level from where it stood.
#pragma once

#include <cstdint>

namespace kip::rank {

inline uint8_t searchStripColumn(const uint16_t* histogram, int32_t S, int32_t j, int16_t* levels,
                                 uint16_t* countsAtOrBelow, int32_t k) {
    const uint16_t* bins = histogram + j;
    int32_t level = levels[j];
    int32_t below = countsAtOrBelow[j];
    while (k <= below && level > 0) {
        below -= bins[level * S];
        --level;
    }
    while (below < k && level < 255) {
        ++level;
        below += bins[level * S];
    }
    levels[j] = static_cast<int16_t>(level);
    countsAtOrBelow[j] = static_cast<uint16_t>(below);
    return static_cast<uint8_t>(level);
}

}  // namespace kip::rank
