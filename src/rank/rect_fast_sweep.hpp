// The sweep of the rank fast path, written once over a vector policy V. Each instruction-set
// file defines V and includes this header inside its own anonymous namespace, so that every
// instantiation is compiled with that file's flags and none is shared across files.
//
// V provides: Vec, kLanes (16-bit lanes per Vec), load/store (any alignment), add, sub, and,
// greaterThan (signed 16-bit compare, all-ones lanes where true), splat (a grey value in every
// lane), one (1 in every lane), widen (kLanes bytes as 16-bit lanes), mulLow (the low 16 bits of
// lane products) and shiftRight (a logical shift of every lane).
//
// The membership of strip lane j for the t-th swept column is read from the table at offset
// S + kernelWidth - initialRun - t; the table holds at most S ones, so for kernels of S columns or
// more the offsets are folded: above the ones they shift down by kernelWidth - S, and where every
// lane is a member (the middle of a wide kernel's sweep) no mask is read at all.

#include "rank/rect_fast_isa.hpp"

using kip::rank::ScatterFn;
using kip::rank::ScatterRow;
using kip::rank::SweepFn;
using kip::rank::SweepRow;

template <int N>
struct Lanes {
    typename V::Vec v[N];
};

// Adds the pixel pair's effect for one swept column: the leaving value a is removed and the
// entering value b added (in bin binB) in every lane of mask. Counts at or below: a lane whose
// level is >= a loses one, >= b gains one; greaterThan gives -1 where true, so count += ge(a) -
// ge(b).
template <int N, bool Remove, bool Add, bool Full>
inline void step(uint16_t* histogram, const Lanes<N>& levelUp, Lanes<N>& count, uint32_t a, uint32_t b, uint32_t binB,
                 const uint16_t* mask) {
    constexpr int S = N * V::kLanes;
    const auto allOnes = V::greaterThan(V::one(), V::splat(0));
    for (int i = 0; i < N; ++i) {
        const auto m = Full ? allOnes : V::load(mask + i * V::kLanes);
        typename V::Vec delta;
        if constexpr (Remove) {
            uint16_t* h = histogram + a * S + i * V::kLanes;
            V::store(h, V::add(V::load(h), m));
            delta = V::greaterThan(levelUp.v[i], V::splat(a));
        }
        if constexpr (Add) {
            uint16_t* h = histogram + binB * S + i * V::kLanes;
            V::store(h, V::sub(V::load(h), m));
            const auto ge = V::greaterThan(levelUp.v[i], V::splat(b));
            if constexpr (Remove)
                delta = V::sub(delta, ge);
            else
                delta = V::sub(V::splat(0), ge);
        }
        count.v[i] = V::add(count.v[i], Full ? delta : V::and_(delta, m));
    }
}

// The strip's levels, one up (a value below it counts as at or below the level), and its counts
// at or below, into registers.
template <int N>
inline void loadStrip(const int16_t* levels, const uint16_t* counts, Lanes<N>& levelUp, Lanes<N>& count) {
    for (int i = 0; i < N; ++i) {
        levelUp.v[i] = V::add(V::load(levels + i * V::kLanes), V::one());
        count.v[i] = V::load(counts + i * V::kLanes);
    }
}

// Left-out pixels (values 256 to 259) enter bins 260 to 263 and leave 256 to 259, so that a step
// whose both pixels are left out, and the steps along a left-out run, do not wait on one
// counter's store.
template <class P>
inline uint32_t enteringBin(uint32_t b) {
    return sizeof(P) == 1 ? b : b + ((b >> 6) & 4);
}

template <int N, bool Remove, bool Add, class P>
void sweep(const SweepRow& r) {
    constexpr int S = N * V::kLanes;
    Lanes<N> levelUp;
    Lanes<N> count;
    loadStrip(r.levels, r.countsAtOrBelow, levelUp, count);
    // Locals: the histogram stores could otherwise alias the row record's fields for the compiler.
    uint16_t* const histogram = r.histogram;
    const uint16_t* const membership = r.membership;
    const P* a = static_cast<const P*>(r.leaving);
    const P* b = static_cast<const P*>(r.entering);
    auto pixel = [](const P* row, int32_t t) -> uint32_t { return row[t - 1]; };
    auto bin = [](uint32_t b) { return enteringBin<P>(b); };
    const int32_t kw = r.kernelWidth;
    const int32_t m = r.initialRun;
    const int32_t n = r.count;
    if (kw < S) {
        for (int32_t t = 1; t <= n; ++t)
            step<N, Remove, Add, false>(histogram, levelUp, count, Remove ? pixel(a, t) : 0u, Add ? pixel(b, t) : 0u,
                                        Add ? bin(pixel(b, t)) : 0u, membership + (S + kw - m - t));
    } else {
        const int32_t endA = S - m - 1 < n ? S - m - 1 : n;
        const int32_t endB = kw - m < n ? kw - m : n;
        int32_t t = 1;
        for (; t <= endA; ++t)
            step<N, Remove, Add, false>(histogram, levelUp, count, Remove ? pixel(a, t) : 0u, Add ? pixel(b, t) : 0u,
                                        Add ? bin(pixel(b, t)) : 0u, membership + (2 * S - m - t));
        for (; t <= endB; ++t)
            step<N, Remove, Add, true>(histogram, levelUp, count, Remove ? pixel(a, t) : 0u, Add ? pixel(b, t) : 0u,
                                       Add ? bin(pixel(b, t)) : 0u, nullptr);
        for (; t <= n; ++t)
            step<N, Remove, Add, false>(histogram, levelUp, count, Remove ? pixel(a, t) : 0u, Add ? pixel(b, t) : 0u,
                                        Add ? bin(pixel(b, t)) : 0u, membership + (S + kw - m - t));
    }
    for (int i = 0; i < N; ++i) V::store(r.countsAtOrBelow + i * V::kLanes, count.v[i]);
}

template <class P>
inline typename V::Vec valuesAt(const P* p) {
    if constexpr (sizeof(P) == 1)
        return V::widen(p);
    else
        return V::load(p);
}

// A sparse kernel row: the S columns' pixels of one position are adjacent in the source row, so
// the counts at or below take a vector compare per position and the histogram one scalar update
// per column, where a sweep would take S + width - 1 vector steps that each reach a lane or two.
template <int N, bool Remove, bool Add, class P>
void scatter(const ScatterRow& r) {
    constexpr int S = N * V::kLanes;
    Lanes<N> levelUp;
    Lanes<N> count;
    loadStrip(r.levels, r.countsAtOrBelow, levelUp, count);
    uint16_t* const histogram = r.histogram;
    const int32_t* const columns = r.columns;
    const int32_t members = r.members;
    const P* const leaving = static_cast<const P*>(r.leaving);
    const P* const entering = static_cast<const P*>(r.entering);
    // Bin-major addresses, bin * S + column, computed a vector at a time.
    Lanes<N> column;
    {
        alignas(64) uint16_t lanes[S];
        for (int j = 0; j < S; ++j) lanes[j] = static_cast<uint16_t>(j);
        for (int i = 0; i < N; ++i) column.v[i] = V::load(lanes + i * V::kLanes);
    }
    const auto stride = V::splat(S);
    alignas(64) uint16_t leaveAt[S];
    alignas(64) uint16_t enterAt[S];
    for (int32_t m = 0; m < members; ++m) {
        const P* a = Remove ? leaving + columns[m] : nullptr;
        const P* b = Add ? entering + columns[m] : nullptr;
        for (int i = 0; i < N; ++i) {
            typename V::Vec delta;
            if constexpr (Remove) {
                const auto va = valuesAt(a + i * V::kLanes);
                delta = V::greaterThan(levelUp.v[i], va);
                V::store(leaveAt + i * V::kLanes, V::add(V::mulLow(va, stride), column.v[i]));
            }
            if constexpr (Add) {
                const auto vb = valuesAt(b + i * V::kLanes);
                const auto ge = V::greaterThan(levelUp.v[i], vb);
                delta = Remove ? V::sub(delta, ge) : V::sub(V::splat(0), ge);
                // The bins of entering left-out values, as enteringBin has them.
                const auto bin = sizeof(P) == 1 ? vb : V::add(vb, V::and_(V::template shiftRight<6>(vb), V::splat(4)));
                V::store(enterAt + i * V::kLanes, V::add(V::mulLow(bin, stride), column.v[i]));
            }
            count.v[i] = V::add(count.v[i], delta);
        }
        for (int j = 0; j < S; ++j) {
            if constexpr (Remove) --histogram[leaveAt[j]];
            if constexpr (Add) ++histogram[enterAt[j]];
        }
    }
    for (int i = 0; i < N; ++i) V::store(r.countsAtOrBelow + i * V::kLanes, count.v[i]);
}

template <int N, class P>
ScatterFn scatterOfType(bool remove, bool add) {
    if (remove && add) return &scatter<N, true, true, P>;
    if (remove) return &scatter<N, true, false, P>;
    if (add) return &scatter<N, false, true, P>;
    return nullptr;
}

template <int N>
ScatterFn scatterOfWidth(bool remove, bool add, bool wideValues) {
    return wideValues ? scatterOfType<N, uint16_t>(remove, add) : scatterOfType<N, uint8_t>(remove, add);
}

template <int N, class P>
SweepFn sweepOfType(bool remove, bool add) {
    if (remove && add) return &sweep<N, true, true, P>;
    if (remove) return &sweep<N, true, false, P>;
    if (add) return &sweep<N, false, true, P>;
    return nullptr;
}

template <int N>
SweepFn sweepOfWidth(bool remove, bool add, bool wideValues) {
    return wideValues ? sweepOfType<N, uint16_t>(remove, add) : sweepOfType<N, uint8_t>(remove, add);
}
