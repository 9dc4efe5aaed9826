#include "pictures/common/PixelSwap.h"

#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

namespace lumora {

namespace {

void SwapRedBlue24Plain(const uint8_t* src, uint8_t* dst, int64_t pixels) {
    for (int64_t x = 0; x < pixels; ++x, src += 3, dst += 3) {
        const uint8_t r = src[0], g = src[1], b = src[2];
        dst[0] = b;
        dst[1] = g;
        dst[2] = r;
    }
}

void RgbaToBgrPlain(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int64_t pixels) {
    for (int64_t x = 0; x < pixels; ++x, src += 4, dst += 3) {
        const uint8_t r = src[0], g = src[1], b = src[2];
        dst[0] = b;
        dst[1] = g;
        dst[2] = r;
        if (alpha) alpha[x] = static_cast<uint8_t>(255 - src[3]);
    }
}

#if defined(__x86_64__)
// Works on four pixels (12 bytes) per 16-byte register: each register starts on a pixel, so one
// shuffle swaps its pixels and passes the four bytes after them through unchanged. Sixteen pixels
// take four loads, all before any store, so the rows may be the same memory; the last register is
// stored as 8 + 4 bytes, so no store reaches the bytes the next step loads.
__attribute__((target("ssse3"))) void SwapRedBlue24Ssse3(const uint8_t* src, uint8_t* dst, int64_t pixels) {
    const __m128i mask = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    int64_t x = 0;
    // The last load reads four bytes past the 16 pixels, so two more pixels must follow.
    for (; x + 18 <= pixels; x += 16, src += 48, dst += 48) {
        const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), mask);
        const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 12)), mask);
        const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 24)), mask);
        const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 36)), mask);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 12), b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 24), c);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + 36), d);
        const int last = _mm_cvtsi128_si32(_mm_srli_si128(d, 8));
        __builtin_memcpy(dst + 44, &last, 4);
    }
    SwapRedBlue24Plain(src, dst, pixels - x);
}

// Rows apart: each register is stored whole, its last four (unswapped) bytes overwritten by the
// next store, so a step is one load, one shuffle and one store.
__attribute__((target("ssse3"))) void SwapRedBlue24ApartSsse3(const uint8_t* src, uint8_t* dst, int64_t pixels) {
    const __m128i mask = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    int64_t x = 0;
    // A 16-byte load or store starting at pixel x reaches into pixel x + 5.
    for (; x + 18 <= pixels; x += 16, src += 48, dst += 48) {
        const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), mask);
        const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 12)), mask);
        const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 24)), mask);
        const __m128i d = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 36)), mask);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 12), b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 24), c);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 36), d);
    }
    for (; x + 6 <= pixels; x += 4, src += 12, dst += 12)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                         _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), mask));
    SwapRedBlue24Plain(src, dst, pixels - x);
}

__attribute__((target("ssse3"))) void RgbaToBgrSsse3(const uint8_t* src, uint8_t* dst, uint8_t* alpha,
                                                     int64_t pixels) {
    // Four pixels per step: 16 bytes in, 12 colour bytes and four alpha bytes out.
    const __m128i colour = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m128i alphas = _mm_setr_epi8(3, 7, 11, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i ones = _mm_set1_epi8(-1);
    int64_t x = 0;
    for (; x + 6 <= pixels; x += 4, src += 16, dst += 12) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_shuffle_epi8(v, colour));
        if (alpha) {
            int a = _mm_cvtsi128_si32(_mm_xor_si128(_mm_shuffle_epi8(v, alphas), ones));
            __builtin_memcpy(alpha + x, &a, 4);
        }
    }
    RgbaToBgrPlain(src, dst, alpha ? alpha + x : nullptr, pixels - x);
}

const bool g_ssse3 = __builtin_cpu_supports("ssse3");
#endif

} // namespace

void SwapRedBlue24(const uint8_t* src, uint8_t* dst, int64_t pixels) {
#if defined(__x86_64__)
    if (g_ssse3) return src == dst ? SwapRedBlue24Ssse3(src, dst, pixels) : SwapRedBlue24ApartSsse3(src, dst, pixels);
#endif
    SwapRedBlue24Plain(src, dst, pixels);
}

void RgbaToBgr(const uint8_t* src, uint8_t* dst, uint8_t* alpha, int64_t pixels) {
#if defined(__x86_64__)
    if (g_ssse3) return RgbaToBgrSsse3(src, dst, alpha, pixels);
#endif
    RgbaToBgrPlain(src, dst, alpha, pixels);
}

} // namespace lumora
