// The synthetic scene of kipf's demo and of the benchmarks: parts on a bench under uneven light,
// with sensor noise, salt-and-pepper specks, scratches and small bright and dark features, so
// that every family has something to work on (edges, specks for the median, features for
// morphology, uneven light for local subtraction). Deterministic for a given size and seed;
// both depths show the same parts, each with its own noise.
#pragma once

#include <cstdint>
#include <vector>

namespace kipscene {

// Row by row, width x height pixels, no padding.
std::vector<uint8_t> scene8(int32_t width, int32_t height, uint64_t seed = 1);
std::vector<uint16_t> scene16(int32_t width, int32_t height, uint64_t seed = 1);  // the full 16-bit range

}  // namespace kipscene
