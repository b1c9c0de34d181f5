// AVX2 sweep of the rank fast path: sixteen 16-bit counters per vector, so a strip of 16 columns
// is one register.
#include "rank/rect_fast_isa.hpp"

#if defined(__AVX2__)
#include <immintrin.h>

namespace {

struct V {
    using Vec = __m256i;
    static constexpr int kLanes = 16;
    static Vec load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    static void store(void* p, Vec v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
    static Vec add(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
    static Vec sub(Vec a, Vec b) { return _mm256_sub_epi16(a, b); }
    static Vec and_(Vec a, Vec b) { return _mm256_and_si256(a, b); }
    static Vec greaterThan(Vec a, Vec b) { return _mm256_cmpgt_epi16(a, b); }
    static Vec splat(uint32_t v) { return _mm256_set1_epi16(static_cast<int16_t>(v)); }
    static Vec one() { return _mm256_set1_epi16(1); }
    static Vec mulLow(Vec a, Vec b) { return _mm256_mullo_epi16(a, b); }
    template <int n>
    static Vec shiftRight(Vec a) {
        return _mm256_srli_epi16(a, n);
    }
    static Vec widen(const uint8_t* p) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
};

#include "rank/rect_fast_sweep.hpp"

SweepFn sweepFor(int32_t stripWidth, bool remove, bool add, bool wideValues) {
    switch (stripWidth) {
        case 16:
            return sweepOfWidth<1>(remove, add, wideValues);
        case 32:
            return sweepOfWidth<2>(remove, add, wideValues);
        case 48:
            return sweepOfWidth<3>(remove, add, wideValues);
        default:
            return nullptr;
    }
}

ScatterFn scatterFor(int32_t stripWidth, bool remove, bool add, bool wideValues) {
    switch (stripWidth) {
        case 16:
            return scatterOfWidth<1>(remove, add, wideValues);
        case 32:
            return scatterOfWidth<2>(remove, add, wideValues);
        case 48:
            return scatterOfWidth<3>(remove, add, wideValues);
        default:
            return nullptr;
    }
}

}  // namespace

namespace kip::rank {
const SweepIsa kSweepAvx2 = {16, 32, 48, &sweepFor, &scatterFor};
}

#else

namespace kip::rank {
const SweepIsa kSweepAvx2 = {0, 0, 0, nullptr, nullptr};
}  // namespace kip::rank

#endif
