// AVX2 kernel of the vector weighted pass: 32 pixels per instruction.
#include "morphology/weighted_isa.hpp"

#if defined(__AVX2__)
#include <immintrin.h>

namespace {

struct Avx2 {
    using Vec = __m256i;
    static constexpr int32_t kBytes = 32;
    static Vec load(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    static void store(void* p, Vec v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
    static Vec and8(Vec a, Vec b) { return _mm256_and_si256(a, b); }
    static Vec or8(Vec a, Vec b) { return _mm256_or_si256(a, b); }
    static Vec andnot(Vec a, Vec b) { return _mm256_andnot_si256(a, b); }
    static Vec ones() { return _mm256_set1_epi32(-1); }
    static Vec zero() { return _mm256_setzero_si256(); }
    static Vec adds(Vec a, Vec b) { return _mm256_adds_epu8(a, b); }
    static Vec subs(Vec a, Vec b) { return _mm256_subs_epu8(a, b); }
    static Vec max(Vec a, Vec b) { return _mm256_max_epu8(a, b); }
    static Vec min(Vec a, Vec b) { return _mm256_min_epu8(a, b); }
};

#include "morphology/weighted_simd.hpp"

}  // namespace

namespace kip::morphology {
const WeightedIsa kWeightedIsaAvx2 = makeWeightedIsa<Avx2>();
}

#else

namespace kip::morphology {
const WeightedIsa kWeightedIsaAvx2 = {};
}

#endif
