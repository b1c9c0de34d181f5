// The central-selection kernels, written once over a vector policy V (pixel type, lanes, load,
// store, min, max). Each instruction-set file defines its policies in an anonymous namespace and
// instantiates these templates, so no code built with one set is shared with another.
#pragma once

#include <algorithm>
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
    [[gnu::always_inline]] static inline void apply(Vec* v) {
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
    [[gnu::always_inline]] static inline void network(Vec* v, std::index_sequence<I...>) {
        (apply<kCentral<N, K>.ops[I]>(v), ...);
    }

    // Pointers are passed in locals: with 8-bit pixels every store may alias anything the
    // compiler cannot see is local, which would reload them after each store.
    template <int32_t N, int32_t K, size_t... I>
    [[gnu::always_inline]] static inline void block(const T* const (&in)[N], intptr_t x, T* const (&out)[K],
                                                    std::index_sequence<I...>) {
        Vec v[N] = {V::load(in[I] + x)...};
        network<N, K>(v, std::make_index_sequence<size_t(kCentral<N, K>.count)>{});
        for (int32_t j = 0; j < K; ++j) V::store(out[j] + x, v[(N - K) / 2 + j]);
    }

    // A row's last block moves back to end at the row's end, recomputing pixels with the same
    // values; a row narrower than a block reads one whole block and, for k = 1, keeps only the
    // first `width` results.
    template <int32_t N, int32_t K>
    static void run(const T* const* inputs, T* output, intptr_t pitch, int32_t width) {
        constexpr auto rows = std::make_index_sequence<N>{};
        const T* in[N];
        T* out[K];
        for (int32_t i = 0; i < N; ++i) in[i] = inputs[i];
        for (int32_t j = 0; j < K; ++j) out[j] = output + j * pitch;
        intptr_t x = 0;
        for (; x + kLanes <= width; x += kLanes) block<N, K>(in, x, out, rows);
        if (x == width) return;
        if (width >= kLanes) {
            block<N, K>(in, width - kLanes, out, rows);
        } else if constexpr (K > 1) {
            block<N, K>(in, 0, out, rows);
        } else {
            T tail[kLanes];
            T* const tailOut[1] = {tail};
            block<N, K>(in, 0, tailOut, rows);
            std::memcpy(output, tail, sizeof(T) * size_t(width));
        }
    }

    // One pruning pass of a block's w x n matrix of sorted columns (column c, rank i): each
    // wrapped diagonal c keeps its M central values in m[c][0 .. M - 1]; then the next pass.
    template <int32_t W, int32_t N, int32_t Pass, int32_t Prev>
    [[gnu::always_inline]] static inline void prune(Vec (&m)[W][N]) {
        if constexpr (Prev > 1) {
            constexpr int32_t M = N < W - 2 * Pass ? N : W - 2 * Pass;
            Vec next[W][M];
#pragma GCC unroll 9
            for (int32_t c = 0; c < W; ++c) {
                Vec list[Prev];
#pragma GCC unroll 9
                for (int32_t i = 0; i < Prev; ++i) list[i] = m[(c + i) % W][i];
                network<Prev, M>(list, std::make_index_sequence<size_t(kCentral<Prev, M>.count)>{});
#pragma GCC unroll 9
                for (int32_t j = 0; j < M; ++j) next[c][j] = list[(Prev - M) / 2 + j];
            }
#pragma GCC unroll 9
            for (int32_t c = 0; c < W; ++c)
#pragma GCC unroll 9
                for (int32_t j = 0; j < M; ++j) m[c][j] = next[c][j];
            prune<W, N, Pass + 1, M>(m);
        }
    }

    // The medians of one block of destination pixels from the sorted rows (each starting at its
    // first left pad), kept in registers from the loads to the one store.
    template <int32_t W, int32_t N>
    [[gnu::always_inline]] static inline void medianBlock(const T* const (&sorted)[N], intptr_t x, T* out) {
        Vec m[W][N];
#pragma GCC unroll 9
        for (int32_t c = 0; c < W; ++c)
#pragma GCC unroll 9
            for (int32_t i = 0; i < N; ++i) m[c][i] = V::load(sorted[i] + x + c);
        prune<W, N, 1, N>(m);
        Vec last[W];
#pragma GCC unroll 9
        for (int32_t c = 0; c < W; ++c) last[c] = m[c][0];
        network<W, 1>(last, std::make_index_sequence<size_t(kCentral<W, 1>.count)>{});
        V::store(out + x, last[(W - 1) / 2]);
    }

    template <int32_t W, int32_t N>
    static void medianRow(const T* const* rows, T* out, int32_t width) {
        const T* sorted[N];
        for (int32_t i = 0; i < N; ++i) sorted[i] = rows[i];
        intptr_t x = 0;
        for (; x + kLanes <= width; x += kLanes) medianBlock<W, N>(sorted, x, out);
        if (x == width) return;
        if (width >= kLanes) {
            medianBlock<W, N>(sorted, width - kLanes, out);
        } else {
            T tail[kLanes];
            medianBlock<W, N>(sorted, 0, tail);
            std::memcpy(out, tail, sizeof(T) * size_t(width));
        }
    }

    template <int32_t A, int32_t B, int32_t First, int32_t Last, size_t... I>
    [[gnu::always_inline]] static inline void merge(Vec* v, std::index_sequence<I...>) {
        (apply<kMerge<A, B, First, Last>.ops[I]>(v), ...);
    }

    // Even positions per chunk of the 9-wide rows, in blocks: what one chunk keeps (split
    // columns, pairs, fours) stays within L1.
    static constexpr intptr_t kChunkBlocks = 6;
    static constexpr intptr_t kSplitPitch = (kChunkBlocks + 3) * kLanes;
    static constexpr intptr_t kPitch = (kChunkBlocks + 2) * kLanes;

    // Pair j: the merge of sorted columns 2j + 1 and 2j + 2 (odd[j], even[j + 1] of each row).
    template <int32_t N>
    [[gnu::always_inline]] static inline void pairBlock(const T* odd, const T* even, T* to) {
        constexpr auto& net = kMerge<N, N, 0, 2 * N - 1>;
        Vec v[2 * N];
#pragma GCC unroll 9
        for (int32_t i = 0; i < N; ++i) {
            v[i] = V::load(odd + i * kSplitPitch);
            v[N + i] = V::load(even + i * kSplitPitch + 1);
        }
        merge<N, N, 0, 2 * N - 1>(v, std::make_index_sequence<size_t(net.count)>{});
#pragma GCC unroll 18
        for (int32_t k = 0; k < 2 * N; ++k) V::store(to + k * kPitch, v[net.out[k]]);
    }

    // Four j: the merge of pairs j and j + 1, columns 2j + 1 .. 2j + 4.
    template <int32_t N>
    [[gnu::always_inline]] static inline void fourBlock(const T* from, T* to) {
        constexpr auto& net = kMerge<2 * N, 2 * N, 0, 4 * N - 1>;
        Vec v[4 * N];
#pragma GCC unroll 18
        for (int32_t k = 0; k < 2 * N; ++k) {
            v[k] = V::load(from + k * kPitch);
            v[2 * N + k] = V::load(from + k * kPitch + 1);
        }
        merge<2 * N, 2 * N, 0, 4 * N - 1>(v, std::make_index_sequence<size_t(net.count)>{});
#pragma GCC unroll 36
        for (int32_t k = 0; k < 4 * N; ++k) V::store(to + k * kPitch, v[net.out[k]]);
    }

    // Rank N among the N + 1 candidates c (ranks kRank - N .. kRank of a merge) and a column's
    // sorted values b: the smallest of c[N] and max(c[i - 1], b[N - i]) over i = 1 .. N.
    template <int32_t N, const MergeNetwork& Net, int32_t kRank>
    [[gnu::always_inline]] static inline Vec withColumn(const Vec* v, const T* column) {
        Vec m = v[Net.out[kRank]];
#pragma GCC unroll 9
        for (int32_t i = 1; i <= N; ++i)
            m = V::min(m, V::max(v[Net.out[kRank - N + i - 1]], V::load(column + (N - i) * kSplitPitch)));
        return m;
    }

    // Pixels 2j and 2j + 1 share columns 2j + 1 .. 2j + 8 (fours j and j + 2), cut to the N + 1
    // values that can still be either median; column 2j or 2j + 9 then picks each.
    template <int32_t N>
    [[gnu::always_inline]] static inline void coreBlock(const T* from, const T* left, const T* right, T* out) {
        constexpr int32_t kRank = (9 * N - 1) / 2;
        constexpr auto& net = kMerge<4 * N, 4 * N, kRank - N, kRank>;
        Vec v[8 * N];
#pragma GCC unroll 36
        for (int32_t k = 0; k < 4 * N; ++k) {
            v[k] = V::load(from + k * kPitch);
            v[4 * N + k] = V::load(from + k * kPitch + 2);
        }
        merge<4 * N, 4 * N, kRank - N, kRank>(v, std::make_index_sequence<size_t(net.count)>{});
        Vec lo, hi;
        V::zip(withColumn<N, net, kRank>(v, left), withColumn<N, net, kRank>(v, right), lo, hi);
        V::store(out, lo);
        V::store(out + kLanes, hi);
    }

    // A 9-wide kernel with neighbouring pixels sharing work, on the sorted rows split into even
    // and odd columns: each pair of adjacent columns is merged once, each four once (from two
    // pairs), and each two pixels share their eight common columns. Whole blocks throughout, so
    // no load straddles a store still in flight.
    template <int32_t N>
    static void mergedRow(const T* const* rows, T* out, int32_t width) {
        alignas(64) T even[N * kSplitPitch];
        alignas(64) T odd[N * kSplitPitch];
        alignas(64) T pairs[2 * N * kPitch];
        alignas(64) T fours[4 * N * kPitch];
        alignas(64) T tail[2 * kLanes];
        const T* s[N];
        for (int32_t i = 0; i < N; ++i) s[i] = rows[i];
        const intptr_t half = (intptr_t{width} + 1) / 2;
        for (intptr_t j0 = 0; j0 < half; j0 += kChunkBlocks * kLanes) {
            const intptr_t blocks = std::min(kChunkBlocks, (half - j0 + kLanes - 1) / kLanes);
#pragma GCC unroll 1
            for (int32_t i = 0; i < N; ++i) {
                const T* from = s[i] + 2 * j0;
                for (intptr_t b = 0; b < blocks + 3; ++b) {
                    Vec e, o;
                    V::split(V::load(from + 2 * b * kLanes), V::load(from + (2 * b + 1) * kLanes), e, o);
                    V::store(even + i * kSplitPitch + b * kLanes, e);
                    V::store(odd + i * kSplitPitch + b * kLanes, o);
                }
            }
            for (intptr_t b = 0; b < blocks + 2; ++b)
                pairBlock<N>(odd + b * kLanes, even + b * kLanes, pairs + b * kLanes);
            for (intptr_t b = 0; b < blocks + 1; ++b) fourBlock<N>(pairs + b * kLanes, fours + b * kLanes);
            for (intptr_t b = 0; b < blocks; ++b) {
                const intptr_t x = 2 * (j0 + b * kLanes);
                const bool whole = x + 2 * kLanes <= width;
                coreBlock<N>(fours + b * kLanes, even + b * kLanes, odd + b * kLanes + 4, whole ? out + x : tail);
                if (!whole) std::memcpy(out + x, tail, sizeof(T) * size_t(width - x));
            }
        }
    }

    template <int32_t W>
    static bool medianRowFor(const T* const* rows, int32_t n, T* out, int32_t width) {
        switch (n) {
            case 1:
                return medianRow<W, 1>(rows, out, width), true;
            case 3:
                return medianRow<W, 3>(rows, out, width), true;
            case 5:
                return medianRow<W, 5>(rows, out, width), true;
            case 7:
                return medianRow<W, 7>(rows, out, width), true;
            case 9:
                if constexpr (W == 9)
                    return mergedRow<9>(rows, out, width), true;
                else
                    return medianRow<W, 9>(rows, out, width), true;
            default:
                return false;
        }
    }

    static bool median(const T* const* rows, int32_t n, int32_t w, T* out, int32_t width) {
        switch (w) {
            case 3:
                return medianRowFor<3>(rows, n, out, width);
            case 5:
                return medianRowFor<5>(rows, n, out, width);
            case 7:
                return medianRowFor<7>(rows, n, out, width);
            case 9:
                return medianRowFor<9>(rows, n, out, width);
            default:
                return false;
        }
    }

    // A 3 x 3 median is the median of (largest column minimum, median of column medians,
    // smallest column maximum). Two destination rows share the sorted pair of their two common
    // source rows; each source row is read once per block and shift, with no scratch pass.
    template <int32_t Count>
    [[gnu::always_inline]] static inline void median3Block(const T* const (&rows)[Count + 2], T* const (&out)[Count],
                                                           intptr_t x) {
        Vec lo[Count][3], mid[Count][3], hi[Count][3];
#pragma GCC unroll 3
        for (int32_t s = 0; s < 3; ++s) {
            const intptr_t at = x + s - 1;
            const Vec b = V::load(rows[1] + at), c = V::load(rows[2] + at);
            const Vec p = V::min(b, c), q = V::max(b, c);
#pragma GCC unroll 2
            for (int32_t j = 0; j < Count; ++j) {
                const Vec a = V::load(rows[j == 0 ? 0 : Count + 1] + at);
                lo[j][s] = V::min(a, p);
                hi[j][s] = V::max(a, q);
                mid[j][s] = V::max(p, V::min(a, q));
            }
        }
#pragma GCC unroll 2
        for (int32_t j = 0; j < Count; ++j) {
            const Vec l = V::max(V::max(lo[j][0], lo[j][1]), lo[j][2]);
            const Vec h = V::min(V::min(hi[j][0], hi[j][1]), hi[j][2]);
            const Vec m = median3(mid[j][0], mid[j][1], mid[j][2]);
            V::store(out[j] + x, median3(l, m, h));
        }
    }

    [[gnu::always_inline]] static inline Vec median3(Vec a, Vec b, Vec c) {
        return V::max(V::min(a, b), V::min(V::max(a, b), c));
    }

    template <int32_t Count>
    static void median3Rows(const T* const* rows, T* const* out, int32_t width) {
        const T* in[Count + 2];
        T* to[Count];
        for (int32_t i = 0; i < Count + 2; ++i) in[i] = rows[i];
        for (int32_t j = 0; j < Count; ++j) to[j] = out[j];
        intptr_t x = 1;
        for (; x + kLanes <= width - 1; x += kLanes) median3Block<Count>(in, to, x);
        if (x < width - 1) median3Block<Count>(in, to, width - 1 - kLanes);
    }

    static void median3x3(const T* const* rows, int32_t count, T* const* out, int32_t width) {
        if (count == 2)
            median3Rows<2>(rows, out, width);
        else
            median3Rows<1>(rows, out, width);
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
