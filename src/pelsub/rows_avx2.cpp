// AVX2 kernels of the optimised mean and of the subtraction: eight means, or thirty-two 8-bit /
// sixteen 16-bit differences, per step.
#include "pelsub/rows_isa.hpp"

#if defined(__AVX2__)
#include <immintrin.h>

namespace {

struct Avx2 {
    static constexpr int32_t kLanes = 8;
    static constexpr int32_t kBytes = 32;
    using I = __m256i;
    using F = __m256;
    using B = __m256i;

    static I loadI(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static I subI(I a, I b) { return _mm256_sub_epi32(a, b); }
    static I addI(I a, I b) { return _mm256_add_epi32(a, b); }
    static I zeroI() { return _mm256_setzero_si256(); }
    static void storeI(uint32_t* p, I v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static I prefixWithin(I v) {
        v = _mm256_add_epi32(v, _mm256_slli_si256(v, 4));
        v = _mm256_add_epi32(v, _mm256_slli_si256(v, 8));
        // The low half's total carried into the high half.
        const I last = _mm256_shuffle_epi32(v, 0xFF);
        return _mm256_add_epi32(v, _mm256_permute2x128_si256(last, last, 0x08));
    }
    static I broadcastLast(I v) { return _mm256_permutevar8x32_epi32(v, _mm256_set1_epi32(7)); }
    static I andI(I a, I b) { return _mm256_and_si256(a, b); }
    static I set1I(int32_t v) { return _mm256_set1_epi32(v); }
    static F toFloat(I a) { return _mm256_cvtepi32_ps(a); }
    static F set1F(float v) { return _mm256_set1_ps(v); }
    static F divF(F a, F b) { return _mm256_div_ps(a, b); }
    static F subF(F a, F b) { return _mm256_sub_ps(a, b); }
    static I truncate(F a) { return _mm256_cvttps_epi32(a); }
    static I halfUp(F fraction) {
        return _mm256_castps_si256(_mm256_cmp_ps(fraction, _mm256_set1_ps(0.5f), _CMP_GE_OQ));
    }
    static I loadPixels8(const uint8_t* p) {
        return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    }
    static I loadPixels16(const uint16_t* p) {
        return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static I maskOff(const uint8_t* m) { return _mm256_cmpeq_epi32(loadPixels8(m), _mm256_setzero_si256()); }
    static I select(I m, I a, I b) { return _mm256_blendv_epi8(b, a, m); }
    static __m128i words(I v) { return _mm_packus_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1)); }
    static void store8(uint8_t* p, I v) {
        const __m128i w = words(v);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(w, w));
    }
    static void store16(uint16_t* p, I v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), words(v)); }

    static B loadB(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
    static void storeB(void* p, B v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }
    static B subsU8(B a, B b) { return _mm256_subs_epu8(a, b); }
    static B addsU8(B a, B b) { return _mm256_adds_epu8(a, b); }
    static B subsU16(B a, B b) { return _mm256_subs_epu16(a, b); }
    static B addsU16(B a, B b) { return _mm256_adds_epu16(a, b); }
    static B set1B8(int v) { return _mm256_set1_epi8(static_cast<char>(v)); }
    static B set1B16(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
};

#include "pelsub/rows_kernels.hpp"

}  // namespace

const kip::pelsub::RowIsa kip::pelsub::kRowIsaAvx2 = makeRowIsa<Avx2>();

#else
const kip::pelsub::RowIsa kip::pelsub::kRowIsaAvx2 = {};
#endif
