// The central-selection kernels, written once over a vector policy V (pixel type, lanes, load,
// store, min, max). Each instruction-set file defines its policies in an anonymous namespace and
// instantiates these templates, so no code built with one set is shared with another.
#pragma once

#include <cstring>
#include <utility>

#include "median/network_isa.hpp"
#include "median/network_ops.hpp"

namespace kip::median {

template <class V>
struct NetworkKernels {
    using T = typename V::T;
    using Vec = typename V::Vec;
    static constexpr int32_t kLanes = V::kLanes;

    template <NetOp O>
    static inline void apply(Vec* v) {
        if constexpr (O.kind == OpKind::exchange) {
            const Vec a = v[O.a];
            v[O.a] = V::min(a, v[O.b]);
            v[O.b] = V::max(a, v[O.b]);
        } else if constexpr (O.kind == OpKind::min) {
            v[O.a] = V::min(v[O.a], v[O.b]);
        } else {
            v[O.b] = V::max(v[O.a], v[O.b]);
        }
    }

    template <int32_t N, int32_t K, size_t... I>
    static inline void network(Vec* v, std::index_sequence<I...>) {
        (apply<kCentral<N, K>.ops[I]>(v), ...);
    }

    template <int32_t N, int32_t K, size_t... I>
    static inline void block(const T* const* in, intptr_t x, T* out, intptr_t pitch, std::index_sequence<I...>) {
        Vec v[N] = {V::load(in[I] + x)...};
        network<N, K>(v, std::make_index_sequence<size_t(kCentral<N, K>.count)>{});
        for (int32_t j = 0; j < K; ++j) V::store(out + j * pitch + x, v[(N - K) / 2 + j]);
    }

    // A row's last block moves back to end at the row's end, recomputing pixels with the same
    // values; a row narrower than a block reads one whole block and, for k = 1, keeps only the
    // first `width` results.
    template <int32_t N, int32_t K>
    static void run(const T* const* in, T* out, intptr_t pitch, int32_t width) {
        constexpr auto rows = std::make_index_sequence<N>{};
        intptr_t x = 0;
        for (; x + kLanes <= width; x += kLanes) block<N, K>(in, x, out, pitch, rows);
        if (x == width) return;
        if (width >= kLanes) {
            block<N, K>(in, width - kLanes, out, pitch, rows);
        } else if constexpr (K > 1) {
            block<N, K>(in, 0, out, pitch, rows);
        } else {
            T tail[kLanes];
            block<N, K>(in, 0, tail, 0, rows);
            std::memcpy(out, tail, sizeof(T) * size_t(width));
        }
    }

    static bool select(const T* const* in, int32_t n, T* out, intptr_t pitch, int32_t k, int32_t width) {
        switch (n * 16 + k) {
            case 3 * 16 + 1:
                return run<3, 1>(in, out, pitch, width), true;
            case 3 * 16 + 3:
                return run<3, 3>(in, out, pitch, width), true;
            case 5 * 16 + 1:
                return run<5, 1>(in, out, pitch, width), true;
            case 5 * 16 + 3:
                return run<5, 3>(in, out, pitch, width), true;
            case 5 * 16 + 5:
                return run<5, 5>(in, out, pitch, width), true;
            case 7 * 16 + 1:
                return run<7, 1>(in, out, pitch, width), true;
            case 7 * 16 + 3:
                return run<7, 3>(in, out, pitch, width), true;
            case 7 * 16 + 5:
                return run<7, 5>(in, out, pitch, width), true;
            case 7 * 16 + 7:
                return run<7, 7>(in, out, pitch, width), true;
            case 9 * 16 + 1:
                return run<9, 1>(in, out, pitch, width), true;
            case 9 * 16 + 3:
                return run<9, 3>(in, out, pitch, width), true;
            case 9 * 16 + 5:
                return run<9, 5>(in, out, pitch, width), true;
            case 9 * 16 + 7:
                return run<9, 7>(in, out, pitch, width), true;
            case 9 * 16 + 9:
                return run<9, 9>(in, out, pitch, width), true;
            default:
                return false;
        }
    }
};

}  // namespace kip::median
