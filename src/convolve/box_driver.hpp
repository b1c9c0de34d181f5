// The box convolution's row driver, written once over a vector policy Ops that each
// instruction-set file defines before including this inside its own namespace (after its
// divide_*.hpp). Ops provides:
//   Vec, kLanes                      32-bit lanes per vector; a block is 2 * kLanes pixels
//   load(const uint32_t*), sub(Vec, Vec), negate(Vec)
//   store(q0, q1, Out*)              2 * kLanes quotients in -255..255 as uint8_t or int16_t
// No include guard: see frame/simd_rows.hpp.

#include "frame/simd_rows.hpp"

template <bool Float, bool Negate, class Out>
void boxRowOut(const BoxRow& row, Out* out) {
    const Divisor d = makeDivisor(row.reciprocal, row.magic, row.shift);
    forEachBlock<2 * Ops::kLanes>(row.width, out, [&](int32_t x, Out* o) {
        const uint32_t* p = row.prefix + x;
        // Window sums lie in 0..255 * n < 2^31, so the wrapped differences are exact.
        typename Ops::Vec q0 = quotient<false, Float>(Ops::sub(Ops::load(p + row.kw), Ops::load(p)), d);
        typename Ops::Vec q1 =
            quotient<false, Float>(Ops::sub(Ops::load(p + row.kw + Ops::kLanes), Ops::load(p + Ops::kLanes)), d);
        if constexpr (Negate) {
            q0 = Ops::negate(q0);
            q1 = Ops::negate(q1);
        }
        Ops::store(q0, q1, o);
    });
}

template <class Out>
void boxRow(const BoxRow& row, Out* out) {
    if (row.useFloat)
        row.negate ? boxRowOut<true, true>(row, out) : boxRowOut<true, false>(row, out);
    else
        row.negate ? boxRowOut<false, true>(row, out) : boxRowOut<false, false>(row, out);
}

inline void boxRow8(const BoxRow& row, uint8_t* out) { boxRow(row, out); }
inline void boxRow16(const BoxRow& row, int16_t* out) { boxRow(row, out); }

inline void scanScalar(const uint32_t* sums, int32_t begin, int32_t n, uint32_t* prefix) {
    for (int32_t c = begin; c < n; ++c) prefix[c + 1] = prefix[c] + sums[c];
}

inline void updateScalar(uint32_t* sums, const uint8_t* add, const uint8_t* sub, int32_t begin, int32_t end) {
    for (int32_t c = begin; c < end; ++c) sums[c] += uint32_t{add[c]} - (sub != nullptr ? uint32_t{sub[c]} : 0u);
}

static_assert(2 * Ops::kLanes <= kBoxBlock, "kBoxBlock bounds every block the kernels compute");
