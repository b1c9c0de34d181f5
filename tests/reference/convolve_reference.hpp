// Brute-force convolution from its definition, on plain arrays, for the randomized tests.
#pragma once

#include <cstdint>
#include <vector>

#include "kip/platform/types.h"

namespace kipref {

struct ConvolveCase {
    kstd_rect32 source;           // client rectangle of the source
    std::vector<uint8_t> pixels;  // source, row by row
    int32_t kw = 1;
    int32_t kh = 1;
    std::vector<int32_t> weights;  // kernel, row by row
    bool signedKernel = false;     // 16-bit signed kernel and result
    uint32_t borderMode = 2;
    kstd_rect32 destination{};  // a width or height <= 0: no destination yet
};

struct ConvolveResult {
    kstd_rect32 rect{};            // pixels written; width or height 0 when none
    std::vector<uint16_t> values;  // row by row: the low 8 or 16 bits stored
};

// Sums are exact; the sum and the divisor are then taken to signed 32 bits with wrap-around and
// divided with truncation, which is what kip defines for kernels beyond the 32-bit range too.
// The 8-bit 1 x 1 copy is not modelled here.
ConvolveResult referenceConvolve(const ConvolveCase& c);

}  // namespace kipref
