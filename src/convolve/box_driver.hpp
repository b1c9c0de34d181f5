// The box convolution's row kernels, written once over a vector policy V (lanes_*.hpp): window
// sums as differences of the prefix row, 2 * V::k32 destination pixels per block.
#pragma once

#include <cstdint>
#include <cstring>

#include "convolve/box_isa.hpp"
#include "convolve/divide_kernels.hpp"

namespace kip::convolve {

#include "frame/simd_rows.hpp"

template <class V>
struct BoxRows {
    using I = typename V::I;
    using D = Divide<V>;
    static constexpr int32_t kLanes = V::k32;
    static_assert(2 * kLanes <= kBoxBlock, "kBoxBlock bounds every block the kernels compute");

    template <bool Float, bool Negate, class Out>
    static void rowOut(const BoxRow& row, Out* out) {
        const typename D::Divisor d = D::make(row.reciprocal, row.magic, row.shift);
        forEachBlock<2 * kLanes>(row.width, out, [&](int32_t x, Out* o) {
            const uint32_t* p = row.prefix + x;
            // Window sums lie in 0..255 * n < 2^31, so the wrapped differences are exact.
            I q0 = D::template quotient<false, Float>(V::sub32(V::load(p + row.kw), V::load(p)), d);
            I q1 = D::template quotient<false, Float>(V::sub32(V::load(p + row.kw + kLanes), V::load(p + kLanes)), d);
            if constexpr (Negate) {
                q0 = V::sub32(V::zero(), q0);
                q1 = V::sub32(V::zero(), q1);
            }
            V::storeConsecutive(q0, q1, o);
        });
    }

    template <class Out>
    static void row(const BoxRow& row, Out* out) {
        if (row.useFloat)
            row.negate ? rowOut<true, true>(row, out) : rowOut<true, false>(row, out);
        else
            row.negate ? rowOut<false, true>(row, out) : rowOut<false, false>(row, out);
    }
    static void row8(const BoxRow& r, uint8_t* out) { row(r, out); }
    static void row16(const BoxRow& r, int16_t* out) { row(r, out); }

    // The entering row is new to the cache on each destination row; ask for it ahead.
    static void prefetchAhead(const uint8_t* row) {
        __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(row) + 1024));
    }

    // Members, not free functions: each set's copy stays its own.
    static void scanScalar(const uint32_t* sums, int32_t begin, int32_t n, uint32_t* prefix) {
        for (int32_t c = begin; c < n; ++c) prefix[c + 1] = prefix[c] + sums[c];
    }
    static void updateScalar(uint32_t* sums, const uint8_t* add, const uint8_t* sub, int32_t begin, int32_t end) {
        for (int32_t c = begin; c < end; ++c) sums[c] += uint32_t{add[c]} - (sub != nullptr ? uint32_t{sub[c]} : 0u);
    }
};

}  // namespace kip::convolve
