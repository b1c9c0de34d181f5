// What the fast convolution's driver hands to its instruction-set kernels. Plain data only: this
// header is included by files built with different instruction sets, so it must hold no inline
// code that the linker could merge across them.
#pragma once

#include <cstdint>

#include "kip/status.h"

namespace kip::convolve {

// One destination row. pairRows[k][2c] and pairRows[k][2c + 1] are the source pixels of
// footprint rows 2k and 2k + 1 at span column c (column c is the left edge of destination pixel
// c's footprint); weights[k * kw + i] packs the two matching weights of the turned kernel the
// same way, low half first. Rows hold width + kw - 1 columns, readable up to
// max(width, kFastBlock) + kw - 1. The quotient (exact_divider.hpp) is, with floatDivision,
// trunc(acc * reciprocal + sign(acc) * reciprocal / 2); otherwise (|acc| * magic) >> shift with
// acc's sign, where shift >= 32.
struct FastRow {
    const int16_t* const* pairRows;
    const int32_t* weights;
    int32_t pairCount;
    int32_t kw;
    int32_t width;
    int32_t floatDivision;
    float reciprocal;
    uint32_t magic;
    uint32_t shift;
};

struct FastIsa {
    // out[2c] = a[c], out[2c + 1] = b[c] for 0 <= c < n.
    void (*interleave)(const uint8_t* a, const uint8_t* b, int32_t n, int16_t* out);
    // Accumulators known to be >= 0 (8-bit kernel); results 0..255.
    void (*row8)(const FastRow& row, uint8_t* out);
    // Signed accumulators (16-bit kernel); results -255..255.
    void (*row16)(const FastRow& row, int16_t* out);
};

// The widest block of destination pixels a kernel computes at once.
constexpr int32_t kFastBlock = 16;

extern const FastIsa kFastIsaSse2;
extern const FastIsa kFastIsaAvx2;

// *isa := the widest kernels the processor runs, or null when none (fails only when the CPU
// information does).
kip_status selectFastIsa(const FastIsa** isa);

}  // namespace kip::convolve
