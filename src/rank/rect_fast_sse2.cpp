// SSE2 sweep of the rank fast path: eight 16-bit counters per vector, strips of 16 columns, 24 for
// kernels of 48 columns or more. The baseline for every x86-64 processor.
#include "rank/rect_fast_isa.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>

#include <array>

namespace {

// SSE2 has no broadcast of a 16-bit value; a table load is cheaper than the shuffles. Values go
// up to 259, the marks of pixels that take no part.
constexpr std::array<std::array<int16_t, 8>, 260> makeSplats() {
    std::array<std::array<int16_t, 8>, 260> t{};
    for (int v = 0; v < 260; ++v)
        for (int i = 0; i < 8; ++i) t[v][i] = static_cast<int16_t>(v);
    return t;
}
alignas(16) constexpr std::array<std::array<int16_t, 8>, 260> kSplats = makeSplats();

struct V {
    using Vec = __m128i;
    static constexpr int kLanes = 8;
    static Vec load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
    static void store(void* p, Vec v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
    static Vec add(Vec a, Vec b) { return _mm_add_epi16(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm_sub_epi16(a, b); }
    static Vec and_(Vec a, Vec b) { return _mm_and_si128(a, b); }
    static Vec greaterThan(Vec a, Vec b) { return _mm_cmpgt_epi16(a, b); }
    static Vec splat(uint32_t v) { return _mm_load_si128(reinterpret_cast<const __m128i*>(kSplats[v].data())); }
    static Vec one() { return _mm_set1_epi16(1); }
    static Vec mulLow(Vec a, Vec b) { return _mm_mullo_epi16(a, b); }
    template <int n>
    static Vec shiftRight(Vec a) {
        return _mm_srli_epi16(a, n);
    }
    static Vec widen(const uint8_t* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
    }
};

#include "rank/rect_fast_sweep.hpp"

SweepFn sweepFor(int32_t stripWidth, bool remove, bool add, bool wideValues) {
    switch (stripWidth) {
        case 16:
            return sweepOfWidth<2>(remove, add, wideValues);
        case 24:
            return sweepOfWidth<3>(remove, add, wideValues);
        case 32:
            return sweepOfWidth<4>(remove, add, wideValues);
        default:
            return nullptr;
    }
}

ScatterFn scatterFor(int32_t stripWidth, bool remove, bool add, bool wideValues) {
    switch (stripWidth) {
        case 16:
            return scatterOfWidth<2>(remove, add, wideValues);
        case 24:
            return scatterOfWidth<3>(remove, add, wideValues);
        case 32:
            return scatterOfWidth<4>(remove, add, wideValues);
        default:
            return nullptr;
    }
}

}  // namespace

namespace kip::rank {
const SweepIsa kSweepSse2 = {16, 24, 48, &sweepFor, &scatterFor};
}

#else

namespace kip::rank {
// Not built for x86-64: no sweeps; the driver never selects them.
const SweepIsa kSweepSse2 = {0, 0, 0, nullptr, nullptr};
}  // namespace kip::rank

#endif
