// What the rank fast path's driver hands to its instruction-set sweeps. Plain data only: this
// header is included by files built with different instruction sets, so it must hold no inline
// code that the linker could merge across them.
#pragma once

#include <cstdint>

namespace kip::rank {

// One row update, as kip_filterRankRectSweep8_ describes it; leaving and entering point at the
// pixel of the first swept column (null when not removed or added): bytes, or for the sweeps of
// 16-bit values, grey values with 256 to 259 for a pixel that takes no part, counted in bins 256
// to 263 (the sweep's file says which).
struct SweepRow {
    int32_t count;
    const void* leaving;
    const void* entering;
    int32_t initialRun;
    int32_t kernelWidth;
    const uint16_t* membership;
    uint16_t* histogram;
    const int16_t* levels;
    uint16_t* countsAtOrBelow;
};

using SweepFn = void (*)(const SweepRow& row);

// The update of a kernel row with few positions, one position at a time over all S strip columns:
// the leaving and entering pixels of strip column j for position i lie at leaving[columns[i] + j]
// and entering[columns[i] + j] (values as for the sweeps), all within the row.
struct ScatterRow {
    int32_t members;
    const int32_t* columns;
    const void* leaving;
    const void* entering;
    uint16_t* histogram;
    const int16_t* levels;
    uint16_t* countsAtOrBelow;
};

using ScatterFn = void (*)(const ScatterRow& row);

struct SweepIsa {
    // Strip widths: narrow below wideFrom kernel columns, wide from there on.
    int32_t narrow;
    int32_t wide;
    int32_t wideFrom;
    // The sweep for a strip width, the remove/add pair and the value type (16-bit values when
    // wideValues); null for widths the set lacks.
    SweepFn (*sweepFor)(int32_t stripWidth, bool remove, bool add, bool wideValues);
    // The same for the position-at-a-time update.
    ScatterFn (*scatterFor)(int32_t stripWidth, bool remove, bool add, bool wideValues);
};

// The widest strip any set uses. (AVX-512BW strips of 32 and 64 columns measured slower than AVX2's
// 16 on the machines we have, so there is no AVX-512 sweep.)
constexpr int32_t kMaxStrip = 64;

extern const SweepIsa kSweepSse2;
extern const SweepIsa kSweepAvx2;

// The sets the processor offers, widest first; null past the last.
void offeredIsas(const SweepIsa* sets[3]);

}  // namespace kip::rank
