// Brute-force rank filter from its definition, on plain arrays: gather the cut, masked
// neighbourhood, sort it, apply the rank rule. Serves the rank, median, morphology and local
// median suites alike.
#pragma once

#include <cstdint>
#include <vector>

#include "kip/platform/types.h"

namespace kipref {

struct RankCase {
    kstd_rect32 source{};            // client rectangle of the source
    std::vector<uint16_t> pixels;    // source, row by row (8-bit or 16-bit values)
    std::vector<uint8_t> imageMask;  // empty: none; else over the source rectangle, row by row
    int32_t kw = 1;                  // kernel size, odd
    int32_t kh = 1;
    std::vector<uint8_t> kernelMask;  // empty: the full rectangle; else kw x kh, row by row,
                                      // non-zero = member, applied turned by a half turn
    double percentile = 0.5;
    kstd_rect32 destination{};  // destination window
    // Neighbourhoods are cut at the common rectangle of source and destination, as the entries
    // do; true cuts them at the source instead (an engine given a band with extra source rows).
    bool cutAtSource = false;
};

struct RankResult {
    kstd_rect32 rect{};            // common rectangle of source and destination; width 0 if none
    std::vector<uint16_t> values;  // what the destination holds there afterwards, row by row
};

// The smallest value that at least k of the values do not exceed, with k from the rank rule
// (k = 1 when p x n <= 0, else ceil(p x n), lowered by one when above n). No values: 0.
uint16_t rankOf(std::vector<uint16_t> values, double percentile);

// Every pixel of the common rectangle: without an image mask the rank of its neighbourhood (0
// when the masked neighbourhood is empty); with one, the rank of the neighbourhood's selected
// pixels where the mask selects the pixel and the neighbourhood is not empty, else the source.
RankResult referenceRank(const RankCase& c);

}  // namespace kipref
