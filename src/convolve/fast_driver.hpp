// The fast convolution's row driver, written once over a vector policy Ops that each
// instruction-set file defines before including this inside its own namespace (with <cstdint>,
// <cstring> and convolve/fast_isa.hpp included before the namespace). Ops provides:
//   Vec, kLanes                     32-bit lanes per vector; a block is 2 * kLanes pixels
//   zero(), broadcast(int32_t)
//   loadPairs(const int16_t*)       kLanes (row v, row v + 1) pixel pairs
//   maddAdd(acc, pairs, weights)    acc + the lane-wise sum of the two pair products
//   Divisor divisor(const FastRow&) the row's division constants
//   quotient<Signed, Float>(acc, d) acc / divisor, truncated toward zero
//   store(q0, q1, Out*)             2 * kLanes quotients in -255..255 as uint8_t or int16_t
// No include guard: see frame/simd_rows.hpp.

#include "frame/simd_rows.hpp"

template <int KW, bool FloatDivision, class Out>
inline void block(const FastRow& row, const typename Ops::Divisor& d, int32_t x, Out* out) {
    const int32_t kw = KW > 0 ? KW : row.kw;
    typename Ops::Vec acc0 = Ops::zero();
    typename Ops::Vec acc1 = Ops::zero();
    for (int32_t k = 0; k < row.pairCount; ++k) {
        const int16_t* p = row.pairRows[k] + 2 * x;
        const int32_t* w = row.weights + k * kw;
        for (int32_t i = 0; i < kw; ++i) {
            const typename Ops::Vec weight = Ops::broadcast(w[i]);
            acc0 = Ops::maddAdd(acc0, Ops::loadPairs(p + 2 * i), weight);
            acc1 = Ops::maddAdd(acc1, Ops::loadPairs(p + 2 * i + 2 * Ops::kLanes), weight);
        }
    }
    constexpr bool kSigned = sizeof(Out) == 2;
    Ops::store(Ops::template quotient<kSigned, FloatDivision>(acc0, d),
               Ops::template quotient<kSigned, FloatDivision>(acc1, d), out);
}

template <bool FloatDivision, class Out>
void rowOut(const FastRow& row, Out* out) {
    const typename Ops::Divisor d = Ops::divisor(row);
    withFixedWidth<1, 3, 5, 7, 9, 11, 13, 15>(row.kw, [&](auto kw) {
        forEachBlock<2 * Ops::kLanes>(
            row.width, out, [&](int32_t x, Out* o) { block<decltype(kw)::value, FloatDivision>(row, d, x, o); });
    });
}

template <class Out>
void rowAny(const FastRow& row, Out* out) {
    if (row.floatDivision)
        rowOut<true>(row, out);
    else
        rowOut<false>(row, out);
}

inline void row8(const FastRow& row, uint8_t* out) { rowAny(row, out); }
inline void row16(const FastRow& row, int16_t* out) { rowAny(row, out); }

static_assert(2 * Ops::kLanes <= kFastBlock, "kFastBlock bounds every block the kernels compute");
