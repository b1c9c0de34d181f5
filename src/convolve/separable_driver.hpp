// The separable convolution's horizontal row driver, written once over a vector policy Ops that
// each instruction-set file defines before including this inside its own namespace (after its
// divide_*.hpp). Ops provides:
//   Vec, kBlock                       pixels per block (two vectors of 32-bit lanes)
//   broadcast(int32_t), add(Vec, Vec)
//   taps<P>(row, x, lo, hi)           the sums over the row factor's taps for block x, in two
//                                     vectors whose store(lo, hi, out) writes pixels x.. in order
//   store(lo, hi, Out*)               quotients in -255..255 as uint8_t or int16_t
// No include guard: see frame/simd_rows.hpp.

#include "frame/simd_rows.hpp"

template <bool Float, class Out>
void separableRowOut(const SeparableRow& row, Out* out) {
    const Divisor d = makeDivisor(row.reciprocal, row.magic, row.shift);
    const typename Ops::Vec constant = Ops::broadcast(row.constant);
    constexpr bool kSigned = sizeof(Out) == 2;
    withFixedWidth<1, 2, 3, 4, 5, 6, 7, 8>(row.pairCount, [&](auto pairs) {
        forEachBlock<Ops::kBlock>(row.width, out, [&](int32_t x, Out* o) {
            typename Ops::Vec lo, hi;
            Ops::template taps<decltype(pairs)::value>(row, x, lo, hi);
            Ops::store(quotient<kSigned, Float>(Ops::add(lo, constant), d),
                       quotient<kSigned, Float>(Ops::add(hi, constant), d), o);
        });
    });
}

template <class Out>
void separableRow(const SeparableRow& row, Out* out) {
    if (row.useFloat)
        separableRowOut<true>(row, out);
    else
        separableRowOut<false>(row, out);
}

inline void separableRow8(const SeparableRow& row, uint8_t* out) { separableRow(row, out); }
inline void separableRow16(const SeparableRow& row, int16_t* out) { separableRow(row, out); }

// The vertical pass where fewer than a block of columns remain: the same sums one at a time.
inline void verticalScalar(const uint8_t* const* rows, const int16_t* taps, int32_t count, int16_t bias, int32_t begin,
                           int32_t end, int16_t* out) {
    for (int32_t c = begin; c < end; ++c) {
        uint32_t acc = 0u - static_cast<uint32_t>(static_cast<uint16_t>(bias));
        for (int32_t j = 0; j < count; ++j) acc += static_cast<uint32_t>(rows[j][c] * int32_t{taps[j]});
        out[c] = static_cast<int16_t>(static_cast<uint16_t>(acc));
    }
}

// The vertical pass over blocks of Block columns (Block <= n); the last block moves back over
// columns already done, with the same values. Sum(rows, c) gives the block's 16-bit sums.
template <int32_t Block, class Sums>
inline void verticalBlocks(int32_t n, Sums&& sums) {
    for (int32_t c = 0;; c += Block) {
        if (c > n - Block) c = n - Block;
        sums(c);
        if (c == n - Block) break;
    }
}

static_assert(Ops::kBlock <= kSeparableBlock, "kSeparableBlock bounds every block the kernels compute");
