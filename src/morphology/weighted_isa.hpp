// What the vector weighted pass hands to its instruction-set kernels. Plain data only: this
// header is included by files built with different instruction sets.
#pragma once

#include <cstdint>

namespace kip::morphology {

// One destination row over its interior columns (where every element position lies inside the
// source). Per member k: src[k] (and mask[k]) point at the neighbour of the first interior
// column; splat + 128 k holds 64 copies of its saturating add amount, then 64 of its saturating
// subtract amount. The result is the maximum (dilate) or minimum of the shifted neighbours that
// the image mask admits, and where the centre's mask is 0 the centre source pixel. Requires
// width >= lanes.
struct WeightedRow {
    const uint8_t* const* src;
    const uint8_t* const* mask;  // null without an image mask
    const uint8_t* splat;
    int32_t members;
    int32_t width;
    const uint8_t* centre;      // source pixels of the destination row
    const uint8_t* centreMask;  // null without an image mask
    uint8_t* out;
};

struct WeightedIsa {
    int32_t lanes;
    void (*row[2])(const WeightedRow& row);  // [dilate]
};

extern const WeightedIsa kWeightedIsaSse2;
extern const WeightedIsa kWeightedIsaAvx2;
extern const WeightedIsa kWeightedIsaAvx512;

}  // namespace kip::morphology
