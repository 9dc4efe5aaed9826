#pragma once
// Four-pixel helpers of the blend and light routines (SSE2), shared so that every optimised path
// computes exactly what its one-pixel form does.

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>

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

} // namespace lumora::simd
#endif
