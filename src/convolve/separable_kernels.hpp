// The separable convolution's kernels, written once over a vector policy V (lanes_*.hpp): the
// vertical pass in 16-bit lanes, the horizontal pass two neighbouring taps per multiply-add,
// 2 * V::k32 destination pixels per block. Each instruction-set file instantiates them with its
// own policy and compile flags.
#pragma once

#include <cstdint>
#include <cstring>

#include "convolve/divide_kernels.hpp"
#include "convolve/separable_isa.hpp"

namespace kip::convolve {

#include "frame/simd_rows.hpp"

template <class V>
struct SeparableKernels {
    using I = typename V::I;
    using D = Divide<V>;
    static constexpr int32_t kBlock = 2 * V::k32;
    static constexpr int32_t kPrefetch = 1024;
    static_assert(kBlock <= kSeparableBlock, "kSeparableBlock bounds every block the kernels compute");

    // The sums over the row factor's taps for pixels x, x + 2, ... (even) and x + 1, x + 3, ...
    // (odd): 32-bit lanes read from v hold neighbouring pairs, so no unpacking is needed.
    // Both start from the constant. Parts: 1, or 0 for row.parts.
    template <int P, int Parts>
    [[gnu::always_inline]] static inline void taps(const SeparableRow& row, I constant, int32_t x, I& even, I& odd) {
        const int32_t pairs = P > 0 ? P : row.pairCount, parts = Parts > 0 ? Parts : row.parts;
        even = constant;
        odd = constant;
        for (int32_t g = 0; g < parts; ++g) {
            const int16_t* v = row.v + x + ptrdiff_t{g} * row.partStride;
            // Any pair count: unrolled by four, the loop's own steps cost as much as a pair's.
#pragma GCC unroll 4
            for (int32_t k = 0; k < pairs; ++k) {
                const I w = V::set32(row.weights[k]);
                even = V::add32(even, V::madd16(V::load(v + 2 * k), w));
                odd = V::add32(odd, V::madd16(V::load(v + 2 * k + 1), w));
            }
        }
    }

    template <bool Float, int Parts, class Out>
    static void rowOut(const SeparableRow& row, Out* out) {
        const typename D::Divisor d = D::make(row.reciprocal, row.magic, row.shift);
        const I constant = V::set32(row.constant);
        constexpr bool kSigned = sizeof(Out) == 2;
        withFixedWidth<1, 2, 3, 4, 5, 6, 7, 8>(row.pairCount, [&](auto pairs) {
            forEachBlock<kBlock>(row.width, out, [&](int32_t x, Out* o) {
                I even, odd;
                taps<decltype(pairs)::value, Parts>(row, constant, x, even, odd);
                V::storeWords(V::words(D::template quotient<kSigned, Float>(even, d),
                                       D::template quotient<kSigned, Float>(odd, d)),
                              o);
            });
        });
    }

    template <bool Float, class Out>
    static void rowParts(const SeparableRow& row, Out* out) {
        if (row.parts == 1)
            rowOut<Float, 1>(row, out);
        else
            rowOut<Float, 0>(row, out);
    }

    template <class Out>
    static void row(const SeparableRow& row, Out* out) {
        if (row.useFloat)
            rowParts<true>(row, out);
        else
            rowParts<false>(row, out);
    }
    static void row8(const SeparableRow& r, uint8_t* out) { row(r, out); }
    static void row16(const SeparableRow& r, int16_t* out) { row(r, out); }

    // Blocks of Vecs vectors of 16-bit lanes over [0, n) (n at least one block); the last moves back
    // over columns already done, with the same values. The sums are wanted modulo 2^16 only. With
    // Count fixed the loops unroll; the taps go to locals since stores to out may alias them.
    template <int32_t Vecs, int32_t Count, bool Symmetric>
    static void verticalRun(const uint8_t* const* rows, const int16_t* taps, int32_t count, I start, int32_t n,
                            int16_t* out) {
        constexpr int32_t block = Vecs * V::k16;
        if constexpr (Count > 0) count = Count;
        const int32_t folded = Symmetric ? count / 2 : 0;
        auto load = [&](const uint8_t* p, I* v) {
            if constexpr (Vecs == 2)
                V::widen(p, v[0], v[1]);
            else
                v[0] = V::widenHalf(p);
        };
        I w[Count > 0 ? Count : 1];
        if constexpr (Count > 0)
            for (int32_t j = 0; j < Count; ++j) w[j] = V::set16(taps[j]);
        auto tap = [&](int32_t j) {
            if constexpr (Count > 0)
                return w[j];
            else
                return V::set16(taps[j]);
        };
        for (int32_t c = 0;; c += block) {
            if (c > n - block) c = n - block;
            // The last row is new to the cache on each destination row; ask for it ahead.
            __builtin_prefetch(
                reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(rows[count - 1] + c) + kPrefetch));
            I acc[Vecs], a[Vecs], b[Vecs];
            for (int32_t i = 0; i < Vecs; ++i) acc[i] = start;
            for (int32_t j = 0; j < folded; ++j) {
                load(rows[j] + c, a);
                load(rows[count - 1 - j] + c, b);
                for (int32_t i = 0; i < Vecs; ++i) acc[i] = V::add16(acc[i], V::mul16(V::add16(a[i], b[i]), tap(j)));
            }
            for (int32_t j = folded; j < count - folded; ++j) {
                load(rows[j] + c, a);
                for (int32_t i = 0; i < Vecs; ++i) acc[i] = V::add16(acc[i], V::mul16(a[i], tap(j)));
            }
            for (int32_t i = 0; i < Vecs; ++i) V::store(out + c + i * V::k16, acc[i]);
            if (c == n - block) break;
        }
    }

    template <int32_t Vecs>
    static void verticalAny(const uint8_t* const* rows, const int16_t* taps, int32_t count, bool symmetric, I start,
                            int32_t n, int16_t* out) {
        withFixedWidth<1, 3, 5, 7, 9>(count, [&](auto fixed) {
            constexpr int32_t k = decltype(fixed)::value;
            if (symmetric)
                verticalRun<Vecs, k, true>(rows, taps, count, start, n, out);
            else
                verticalRun<Vecs, k, false>(rows, taps, count, start, n, out);
        });
    }

    static void vertical(const uint8_t* const* rows, const int16_t* taps, int32_t count, int32_t symmetric,
                         int16_t bias, int32_t n, int16_t* out) {
        const I start = V::set16(static_cast<int16_t>(-bias));
        if (n >= 2 * V::k16) {
            verticalAny<2>(rows, taps, count, symmetric != 0, start, n, out);
        } else if (n >= V::k16) {
            verticalAny<1>(rows, taps, count, symmetric != 0, start, n, out);
        } else {
            for (int32_t c = 0; c < n; ++c) {
                uint32_t acc = 0u - static_cast<uint32_t>(static_cast<uint16_t>(bias));
                for (int32_t j = 0; j < count; ++j) acc += static_cast<uint32_t>(rows[j][c] * int32_t{taps[j]});
                out[c] = static_cast<int16_t>(static_cast<uint16_t>(acc));
            }
        }
    }

    // Blocks of 2 * V::k16 columns as in verticalRun, two rows to a multiply-add.
    template <int32_t Pairs>
    static void verticalBytesRun(const uint8_t* const* rows, const int16_t* pairs, int32_t count, I start, int32_t n,
                                 int16_t* out) {
        constexpr int32_t block = 2 * V::k16;
        const int32_t np = Pairs > 0 ? Pairs : (count + 1) / 2;
        I w[Pairs > 0 ? Pairs : 1];
        if constexpr (Pairs > 0)
            for (int32_t k = 0; k < Pairs; ++k) w[k] = V::set16(pairs[k]);
        auto weight = [&](int32_t k) {
            if constexpr (Pairs > 0)
                return w[k];
            else
                return V::set16(pairs[k]);
        };
        for (int32_t c = 0;; c += block) {
            if (c > n - block) c = n - block;
            __builtin_prefetch(
                reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(rows[count - 1] + c) + kPrefetch));
            I lo = start, hi = start;
            for (int32_t k = 0; k < np; ++k) {
                I l, h;
                V::maddBytePairs(rows[2 * k] + c, rows[2 * k + 1] + c, weight(k), l, h);
                lo = V::add16(lo, l);
                hi = V::add16(hi, h);
            }
            V::storeBytePairs(out + c, lo, hi);
            if (c == n - block) break;
        }
    }

    static void verticalBytes(const uint8_t* const* rows, const int16_t* taps, const int16_t* pairs, int32_t count,
                              int16_t bias, int32_t n, int16_t* out) {
        if constexpr (V::kBytePairs) {
            if (n >= 2 * V::k16) {
                const I start = V::set16(static_cast<int16_t>(-bias));
                withFixedWidth<1, 2, 3, 4, 5>((count + 1) / 2, [&](auto fixed) {
                    verticalBytesRun<decltype(fixed)::value>(rows, pairs, count, start, n, out);
                });
                return;
            }
        }
        vertical(rows, taps, count, 0, bias, n, out);
    }

    static void vertical32(const uint8_t* const* rows, const int16_t* taps, int32_t count, int32_t n, int32_t* out) {
        if (n < V::k32) {
            for (int32_t c = 0; c < n; ++c) {
                uint32_t acc = 0;
                for (int32_t j = 0; j < count; ++j) acc += static_cast<uint32_t>(rows[j][c] * int32_t{taps[j]});
                out[c] = static_cast<int32_t>(acc);
            }
            return;
        }
        for (int32_t c = 0;; c += V::k32) {
            if (c > n - V::k32) c = n - V::k32;
            I acc = V::zero();
            for (int32_t j = 0; j < count; ++j)
                acc = V::add32(acc, V::mul32(V::widen32(rows[j] + c), V::set32(taps[j])));
            V::store(out + c, acc);
            if (c == n - V::k32) break;
        }
    }

    template <bool Float, class Out>
    static void wideRowOut(const SeparableRow& row, Out* out) {
        const typename D::Divisor d = D::make(row.reciprocal, row.magic, row.shift);
        const I constant = V::set32(row.constant);
        constexpr bool kSigned = sizeof(Out) == 2;
        forEachBlock<kBlock>(row.width, out, [&](int32_t x, Out* o) {
            const int32_t* v = row.v32 + x;
            I a0 = constant, a1 = constant;
            for (int32_t i = 0; i < row.pairCount; ++i) {
                const I w = V::set32(row.weights[i]);
                a0 = V::add32(a0, V::mul32(V::load(v + i), w));
                a1 = V::add32(a1, V::mul32(V::load(v + i + V::k32), w));
            }
            V::storeConsecutive(D::template quotient<kSigned, Float>(a0, d),
                                D::template quotient<kSigned, Float>(a1, d), o);
        });
    }
    template <class Out>
    static void wideRow(const SeparableRow& row, Out* out) {
        if (row.useFloat)
            wideRowOut<true>(row, out);
        else
            wideRowOut<false>(row, out);
    }
    static void wideRow8(const SeparableRow& r, uint8_t* out) { wideRow(r, out); }
    static void wideRow16(const SeparableRow& r, int16_t* out) { wideRow(r, out); }

    static constexpr SeparableIsa table() {
        return SeparableIsa{
            &vertical, &row8, &row16, &vertical32, &wideRow8, &wideRow16, V::kBytePairs ? &verticalBytes : nullptr};
    }
};

}  // namespace kip::convolve
