// What the sorting-network median hands to its instruction-set kernels. Plain data only: this
// header is included by files built with different instruction sets.
#pragma once

#include <cstdint>

namespace kip::median {

// Central selection over `width` columns: out row j (rows `pitch` pixels apart) receives, per
// column, the value of rank (n - k) / 2 + j among the n inputs. Inputs are read in whole blocks
// from column 0 up to max(width, lanes); for k > 1 the output rows are written the same way, for
// k = 1 exactly `width` pixels are written. Returns false, writing nothing, when no network
// serves (n, k).
template <class T>
using SelectFn = bool (*)(const T* const* in, int32_t n, T* out, intptr_t pitch, int32_t k, int32_t width);

// One row of medians of a w-wide kernel over n sorted rows: rows[i] points at sorted row i's
// first pad, (w - 1) / 2 pixels before its first column; the pads are in place and the rows
// readable up to max(width, lanes) + w - 2 + 8 lanes. Writes exactly `width` pixels. False, writing
// nothing, when w or n is not 1 (n only), 3, 5, 7 or 9.
template <class T>
using MedianRowFn = bool (*)(const T* const* rows, int32_t n, int32_t w, T* out, int32_t width);

// The 3 x 3 median of `count` (1 or 2) destination rows straight from count + 2 source rows,
// for columns 1 .. width - 2 only; width is at least lanes + 2 and no row is read outside
// columns 0 .. width - 1. Row j of the output takes rows[j .. j + 2].
template <class T>
using Median3Fn = void (*)(const T* const* rows, int32_t count, T* const* out, int32_t width);

struct NetworkIsa {
    SelectFn<uint8_t> select8;  // null when the set has no 8-bit kernels
    SelectFn<uint16_t> select16;
    MedianRowFn<uint8_t> median8;
    MedianRowFn<uint16_t> median16;
    int32_t lanes8;  // pixels per block
    int32_t lanes16;
    Median3Fn<uint8_t> median3x3_8;
    Median3Fn<uint16_t> median3x3_16;
};

extern const NetworkIsa kNetworkSse2;    // 8-bit
extern const NetworkIsa kNetworkSse41;   // 16-bit (unsigned 16-bit min/max)
extern const NetworkIsa kNetworkAvx2;    // both
extern const NetworkIsa kNetworkAvx512;  // both, AVX-512BW

}  // namespace kip::median
