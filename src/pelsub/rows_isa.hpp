// What the optimised mean engine hands to its instruction-set kernels. Plain data only: this
// header is included by files built with different instruction sets, so it must hold no inline
// code that the linker could merge across them.
#pragma once

#include <cstdint>

namespace kip::pelsub {

// A run of pixels whose boxes all have the full width. Pixel i's box sum is sumHi[i] - sumLo[i]
// in 32-bit arithmetic and below 2^31; with a mask its count is countHi[i] - countLo[i], and
// pixels whose mask is 0 take the source value instead of the mean. Without a mask every box
// holds n pixels. The mean is float(sum) / float(n) in single precision, plus one half,
// truncated: the general engine's rounding.
struct MeanRun {
    const uint32_t* sumLo;
    const uint32_t* sumHi;
    const uint32_t* countLo;  // null without a mask
    const uint32_t* countHi;
    const uint8_t* mask;  // null without a mask
    const void* source;   // 8-bit or 16-bit pixels, as the kernel's name says
    float n;
    int32_t count;
};

struct RowIsa {
    void (*mean8)(const MeanRun& run, uint8_t* out);
    void (*mean16)(const MeanRun& run, uint16_t* out);
    // columns[i] += add[i] - remove[i] (either row may be null), then prefix[0] = 0 and
    // prefix[i + 1] = columns[0] + ... + columns[i], all modulo 2^32.
    void (*columns8)(uint32_t* columns, const uint8_t* add, const uint8_t* remove, int32_t count, uint32_t* prefix);
    void (*columns16)(uint32_t* columns, const uint16_t* add, const uint16_t* remove, int32_t count, uint32_t* prefix);
    // out[i] := clamp(s[i] - b[i] + offset); out may be b.
    void (*subtract8)(const uint8_t* s, const uint8_t* b, int32_t count, uint8_t* out);
    void (*subtract16)(const uint16_t* s, const uint16_t* b, int32_t count, uint16_t* out);
};

extern const RowIsa kRowIsaSse2;
extern const RowIsa kRowIsaAvx2;

// The widest kernels the processor runs (and the build holds); null when none.
const RowIsa* selectRowIsa();

}  // namespace kip::pelsub
