// What the box convolution's driver hands to its instruction-set kernels. Plain data only: this
// header is included by files built with different instruction sets.
#pragma once

#include <cstdint>

#include "kip/status.h"

namespace kip::convolve {

// One destination row: prefix[c] is the sum of the first c column sums of the span (mod 2^32),
// readable up to max(width, kBoxBlock) + kw. Pixel x is floor((prefix[x + kw] - prefix[x]) / n),
// negated when negate, with n the divisor of the Division fields.
struct BoxRow {
    const uint32_t* prefix;
    int32_t kw;
    int32_t width;
    int32_t negate;
    int32_t useFloat;
    float reciprocal;
    uint32_t magic;
    uint32_t shift;
};

struct BoxIsa {
    // sums[c] += add[c] - sub[c] for 0 <= c < n; without sub, sums[c] += add[c].
    void (*update)(uint32_t* sums, const uint8_t* add, const uint8_t* sub, int32_t n);
    // prefix[0] = 0, prefix[c + 1] = prefix[c] + sums[c] (mod 2^32) for 0 <= c < n.
    void (*scan)(const uint32_t* sums, int32_t n, uint32_t* prefix);
    void (*row8)(const BoxRow& row, uint8_t* out);
    void (*row16)(const BoxRow& row, int16_t* out);
};

constexpr int32_t kBoxBlock = 32;

extern const BoxIsa kBoxIsaSse2;
extern const BoxIsa kBoxIsaAvx2;
extern const BoxIsa kBoxIsaAvx512;

// *isa := the widest kernels the processor runs, or null when none.
kip_status selectBoxIsa(const BoxIsa** isa);

}  // namespace kip::convolve
