#include "pictures/PixelSwap.h"

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
// Shuffle masks for 16 pixels (48 bytes) in three registers: output register j takes from input
// register i the bytes that belong to it, and zero elsewhere.
struct SwapMasks {
    alignas(16) int8_t m[3][3][16];
    constexpr SwapMasks() : m() {
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 3; ++i)
                for (int k = 0; k < 16; ++k) {
                    const int out = 16 * j + k, from = 3 * (out / 3) + 2 - out % 3;
                    m[j][i][k] = static_cast<int8_t>(from / 16 == i ? from % 16 : -128);
                }
    }
};
constexpr SwapMasks kSwapMasks;

__attribute__((target("ssse3"))) void SwapRedBlue24Ssse3(const uint8_t* src, uint8_t* dst, int64_t pixels) {
    // All three loads come before the stores, so the rows may be the same memory.
    const auto* m = reinterpret_cast<const __m128i*>(&kSwapMasks.m[0][0][0]);
    int64_t x = 0;
    for (; x + 16 <= pixels; x += 16, src += 48, dst += 48) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32));
        for (int j = 0; j < 3; ++j) {
            __m128i o = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, _mm_load_si128(m + 3 * j)),
                                                  _mm_shuffle_epi8(b, _mm_load_si128(m + 3 * j + 1))),
                                     _mm_shuffle_epi8(c, _mm_load_si128(m + 3 * j + 2)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * j), o);
        }
    }
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
    if (g_ssse3) return SwapRedBlue24Ssse3(src, dst, pixels);
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
