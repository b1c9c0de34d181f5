// What the separable engine hands to its instruction-set kernels. Plain data only: this header
// is included by files built with different instruction sets.
#pragma once

#include <cstdint>

namespace kip::morphology {

// Row kernel: out[x] = extreme over k < ew of padded[x + k], where padded points at the pixel l
// columns left of source column 0 and holds the neutral value beyond the row. With a mask
// (pointing alike, 0 or 255 per pixel) excluded pixels count as neutral. Requires width >= lanes;
// writes exactly width pixels.
template <class T>
using RowKernel = void (*)(const T* padded, const uint8_t* mask, int32_t width, int32_t ew, T* out);
// Column kernel: out[x] = extreme over the count rows at x; with a mask row, pixels whose mask is
// 0 take source[x] instead. Requires width >= lanes; writes exactly width pixels.
template <class T>
using ColKernel = void (*)(const T* const* rows, int32_t count, const T* source, const uint8_t* mask, int32_t width,
                           T* out);

// Pair kernel: the column extremes of two adjacent destination rows in one pass. outA takes the
// nc shared rows and onlyA, outB the shared rows and onlyB; either extra row may be null, and nc
// may be 0 only when both are given. Requires width >= lanes; writes exactly width pixels.
template <class T>
using PairKernel = void (*)(const T* const* shared, int32_t nc, const T* onlyA, const T* onlyB, int32_t width, T* outA,
                            T* outB);

// Quad kernel: the column extremes of four adjacent destination rows whose rows all lie inside
// the image: the nc rows all four see, then extra[0..2], the three rows above them, and extra[3..5],
// the three below, each seen by some. Requires width >= lanes; writes exactly width pixels of
// out[0..3].
template <class T>
using QuadKernel = void (*)(const T* const* shared, int32_t nc, const T* const* extra, int32_t width, T* const* out);

struct FlatIsa {
    int32_t lanes8;  // pixels per vector: 8-bit, 16-bit
    int32_t lanes16;
    RowKernel<uint8_t> row8[2];  // [dilate]
    ColKernel<uint8_t> col8[2];
    RowKernel<uint16_t> row16[2];
    ColKernel<uint16_t> col16[2];
    PairKernel<uint8_t> pair8[2];
    PairKernel<uint16_t> pair16[2];
    QuadKernel<uint8_t> quad8[2];
    QuadKernel<uint16_t> quad16[2];
};

extern const FlatIsa kFlatIsaSse2;
extern const FlatIsa kFlatIsaAvx2;
extern const FlatIsa kFlatIsaAvx512;

}  // namespace kip::morphology
