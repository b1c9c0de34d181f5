// AVX-512BW kernel of the vector weighted pass: 64 pixels per instruction.
#include "morphology/weighted_isa.hpp"

#if defined(__AVX512BW__)
#include <immintrin.h>

namespace {

struct Avx512 {
    using Vec = __m512i;
    static constexpr int32_t kBytes = 64;
    static Vec load(const void* p) { return _mm512_loadu_si512(p); }
    static void store(void* p, Vec v) { _mm512_storeu_si512(p, v); }
    static Vec and8(Vec a, Vec b) { return _mm512_and_si512(a, b); }
    static Vec or8(Vec a, Vec b) { return _mm512_or_si512(a, b); }
    // Not _mm512_andnot_si512: its undefined pass-through trips GCC 12's uninitialised-use warning.
    static Vec andnot(Vec a, Vec b) { return _mm512_and_si512(_mm512_xor_si512(a, ones()), b); }
    static Vec ones() { return _mm512_set1_epi32(-1); }
    static Vec zero() { return _mm512_setzero_si512(); }
    static Vec adds(Vec a, Vec b) { return _mm512_adds_epu8(a, b); }
    static Vec subs(Vec a, Vec b) { return _mm512_subs_epu8(a, b); }
    static Vec max(Vec a, Vec b) { return _mm512_max_epu8(a, b); }
    static Vec min(Vec a, Vec b) { return _mm512_min_epu8(a, b); }
};

#include "morphology/weighted_simd.hpp"

}  // namespace

namespace kip::morphology {
const WeightedIsa kWeightedIsaAvx512 = makeWeightedIsa<Avx512>();
}

#else

namespace kip::morphology {
const WeightedIsa kWeightedIsaAvx512 = {};
}

#endif
