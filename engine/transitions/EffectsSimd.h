#pragma once
// Four-pixel helpers of the blend and light routines (SSE2), and their eight-pixel forms (AVX2),
// shared so that every optimised path computes exactly what its one-pixel form does.

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <immintrin.h>

namespace lumora::simd {

// Four pixels a + floor(w * (b - a) / 256) per channel, low 8 bits kept, byte 3 zero: the same
// arithmetic as BlendPixel, in 16-bit lanes (the 32-bit product is rebuilt from its two halves).
inline __m128i Blend4(__m128i a, __m128i b, __m128i w) {
    const __m128i zero = _mm_setzero_si128(), low = _mm_set1_epi16(0xFF);
    auto half = [&](__m128i a16, __m128i b16) {
        __m128i d = _mm_sub_epi16(b16, a16);
        __m128i lo = _mm_mullo_epi16(d, w), hi = _mm_mulhi_epi16(d, w);
        __m128i step = _mm_or_si128(_mm_slli_epi16(hi, 8), _mm_srli_epi16(lo, 8));
        return _mm_and_si128(_mm_add_epi16(a16, step), low);
    };
    __m128i rl = half(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
    __m128i rh = half(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
    return _mm_and_si128(_mm_packus_epi16(rl, rh), _mm_set1_epi32(0x00FFFFFF));
}

// Pixels 0, 2, 4 and 6 from p.
inline __m128i Evens(const uint32_t* p) {
    __m128 v0 = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    __m128 v1 = _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4)));
    return _mm_castps_si128(_mm_shuffle_ps(v0, v1, _MM_SHUFFLE(2, 0, 2, 0)));
}

// Writes r's four pixels to d[0], d[2], d[4], d[6], keeping the odd pixels and (unless told not
// to) byte 3 of the written ones.
inline void StoreEvens(uint32_t* d, __m128i r, bool keepByte3 = true) {
    const int b3 = keepByte3 ? static_cast<int>(0xFF000000u) : 0;
    const __m128i keep = _mm_set_epi32(-1, b3, -1, b3);
    __m128i* p0 = reinterpret_cast<__m128i*>(d);
    __m128i* p1 = reinterpret_cast<__m128i*>(d + 4);
    __m128i d0 = _mm_loadu_si128(p0), d1 = _mm_loadu_si128(p1);
    __m128i r0 = _mm_shuffle_epi32(r, _MM_SHUFFLE(1, 1, 0, 0)), r1 = _mm_shuffle_epi32(r, _MM_SHUFFLE(3, 3, 2, 2));
    _mm_storeu_si128(p0, _mm_or_si128(_mm_and_si128(d0, keep), _mm_andnot_si128(keep, r0)));
    _mm_storeu_si128(p1, _mm_or_si128(_mm_and_si128(d1, keep), _mm_andnot_si128(keep, r1)));
}

#if defined(__x86_64__) || defined(__i386__)
#define LUMORA_SIMD_AVX2 1
// Blend4 in eight lanes (each 128-bit half does what Blend4 does; w repeats per half).
__attribute__((target("avx2"))) inline __m256i Blend8(__m256i a, __m256i b, __m256i w) {
    const __m256i zero = _mm256_setzero_si256(), low = _mm256_set1_epi16(0xFF);
    auto half = [&](__m256i a16, __m256i b16) __attribute__((target("avx2"))) {
        __m256i d = _mm256_sub_epi16(b16, a16);
        __m256i lo = _mm256_mullo_epi16(d, w), hi = _mm256_mulhi_epi16(d, w);
        __m256i step = _mm256_or_si256(_mm256_slli_epi16(hi, 8), _mm256_srli_epi16(lo, 8));
        return _mm256_and_si256(_mm256_add_epi16(a16, step), low);
    };
    __m256i rl = half(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero));
    __m256i rh = half(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero));
    return _mm256_and_si256(_mm256_packus_epi16(rl, rh), _mm256_set1_epi32(0x00FFFFFF));
}

// Pixels 0, 2, .., 14 from p, in the order 0, 2, 8, 10, 4, 6, 12, 14 (which StoreEvens8 undoes):
// kernels work pixel by pixel, so the order does not matter between the two.
__attribute__((target("avx2"))) inline __m256i Evens8(const uint32_t* p) {
    __m256 v0 = _mm256_loadu_ps(reinterpret_cast<const float*>(p));
    __m256 v1 = _mm256_loadu_ps(reinterpret_cast<const float*>(p + 8));
    return _mm256_castps_si256(_mm256_shuffle_ps(v0, v1, _MM_SHUFFLE(2, 0, 2, 0)));
}

// StoreEvens for the eight pixels of Evens8's order at d[0], d[2], .., d[14], keeping the odd
// pixels and byte 3 of the written ones.
__attribute__((target("avx2"))) inline void StoreEvens8(uint32_t* d, __m256i r) {
    const __m256i keep = _mm256_set1_epi64x(static_cast<long long>(0xFFFFFFFFFF000000ull));
    __m256i* p0 = reinterpret_cast<__m256i*>(d);
    __m256i* p1 = reinterpret_cast<__m256i*>(d + 8);
    __m256i d0 = _mm256_loadu_si256(p0), d1 = _mm256_loadu_si256(p1);
    _mm256_storeu_si256(p0, _mm256_blendv_epi8(_mm256_unpacklo_epi32(r, r), d0, keep));
    _mm256_storeu_si256(p1, _mm256_blendv_epi8(_mm256_unpackhi_epi32(r, r), d1, keep));
}

#endif

// Whether the AVX2 paths run: the CPU has AVX2 and they are allowed (see AllowAvx2).
bool HasAvx2();

} // namespace lumora::simd
#endif
