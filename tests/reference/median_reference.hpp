// Brute-force median of a rectangle cut at the image border, for the randomized median tests.
#pragma once

#include <cstdint>
#include <vector>

namespace kipref {

// For each pixel of a width x height image (row by row), the lower median of the kw x kh
// rectangle centred on it, cut at the image's border: the smallest value that at least
// ceil(n / 2) of the n pixels taking part do not exceed.
std::vector<uint16_t> referenceMedian(const std::vector<uint16_t>& pixels, int32_t width, int32_t height, int32_t kw,
                                      int32_t kh);

}  // namespace kipref
