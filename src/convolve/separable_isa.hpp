// What the separable convolution's driver hands to its instruction-set kernels. Plain data only:
// this header is included by files built with different instruction sets.
#pragma once

#include <cstdint>

#include "kip/status.h"

namespace kip::convolve {

// One destination row of the horizontal pass. v holds the vertical pass's column sums minus a
// bias, one int16 per span column, readable up to max(width, kSeparableBlock) + 2 * pairCount,
// for each of parts parts of the column factor (part g at v + g * partStride);
// weights[k] packs the turned row factor's taps 2k (low half) and 2k + 1. The sum over the taps
// and the parts plus constant is the general loop's accumulator (mod 2^32), divided as Division says.
//
// Column factors too large for 16-bit sums use the wide form instead: v32 holds the exact column
// sums (mod 2^32), weights the turned row factor's pairCount taps one to an int32.
struct SeparableRow {
    const int16_t* v;
    const int32_t* v32;
    const int32_t* weights;
    int32_t pairCount;
    int32_t parts;
    int32_t partStride;
    int32_t width;
    int32_t constant;
    int32_t useFloat;
    float reciprocal;
    uint32_t magic;
    uint32_t shift;
};

struct SeparableIsa {
    // out[c] = taps[0] * rows[0][c] + ... + taps[count - 1] * rows[count - 1][c] - bias, modulo
    // 2^16, for 0 <= c < n; the caller keeps the true value within int16, so it is exact. With
    // symmetric, rows j and count - 1 - j share taps[j] and are added first.
    void (*vertical)(const uint8_t* const* rows, const int16_t* taps, int32_t count, int32_t symmetric, int16_t bias,
                     int32_t n, int16_t* out);
    void (*row8)(const SeparableRow& row, uint8_t* out);
    void (*row16)(const SeparableRow& row, int16_t* out);
    // The wide form: out[c] = taps[0] * rows[0][c] + ... modulo 2^32, and its rows.
    void (*vertical32)(const uint8_t* const* rows, const int16_t* taps, int32_t count, int32_t n, int32_t* out);
    void (*wideRow8)(const SeparableRow& row, uint8_t* out);
    void (*wideRow16)(const SeparableRow& row, int16_t* out);
    // vertical's sums from rows taken two at a time: pairs[k] packs taps[2k] (low byte) and
    // taps[2k + 1] (high byte, 0 past count) as signed bytes whose magnitudes sum to at most 128,
    // so no byte multiply-add saturates. rows[count] must be readable when count is odd. Null where
    // the set has no byte multiply-add.
    void (*verticalBytes)(const uint8_t* const* rows, const int16_t* taps, const int16_t* pairs, int32_t count,
                          int16_t bias, int32_t n, int16_t* out);
};

// The widest block of destination pixels a kernel computes at once.
constexpr int32_t kSeparableBlock = 32;

extern const SeparableIsa kSeparableIsaSse2;
extern const SeparableIsa kSeparableIsaAvx2;
extern const SeparableIsa kSeparableIsaAvx512;

// *isa := the widest kernels the processor runs, or null when none.
kip_status selectSeparableIsa(const SeparableIsa** isa);

}  // namespace kip::convolve
