// Brute-force grey-scale morphology from its definition, on plain arrays, for the randomized tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kipref {

struct MorphologyCase {
    int32_t width = 0;
    int32_t height = 0;
    bool sixteen = false;
    std::vector<uint16_t> pixels;  // source, row by row
    std::vector<uint8_t> mask;     // image mask (0 or 255), row by row; empty: none
    int32_t ew = 1;
    int32_t eh = 1;
    std::vector<uint8_t> members;  // element mask, row by row (non-zero: member)
    std::vector<int16_t> weights;  // row by row; empty: flat
};

// One dilation or erosion pass with the border truncated: the neighbour at offset (p, q) takes
// part when it lies in the image, its image-mask pixel is non-zero and the element position
// (centre - p, centre - q) is a member; weighted, it is shifted by that position's weight
// (subtracted for erosion) and the result clamped to 0..255. The extreme starts from the neutral
// value. Pixels whose image mask is 0 keep the source value.
std::vector<uint16_t> referenceMorphologyPass(const MorphologyCase& c, const std::vector<uint16_t>& source,
                                              bool dilate);
// Operation 0 to 3: dilate, erode, open (erode then dilate), close (dilate then erode).
std::vector<uint16_t> referenceMorphology(const MorphologyCase& c, uint32_t operation);

}  // namespace kipref
