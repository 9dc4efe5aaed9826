#pragma once
// Random numbers for pixel rows. A frame draws one seed from the program's random source and every
// row gets its own stream derived from that seed and the row's number, so rows can be computed in
// any order, in bands on several threads and eight numbers at a time, and a fixed seed of the
// random source still gives the same frame.

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/system/RandomEngine.h"

namespace lumora {

// One seed per frame, drawn from the one random source.
inline uint64_t NewFrameSeed() { return RandomEngine()(); }

// Two xorshift128+ generators side by side; each step yields 128 bits, read as eight 16-bit
// numbers (generator 0's low to high, then generator 1's).
class TRowRandom {
public:
    TRowRandom(uint64_t frameSeed, int row) {
        uint64_t z = frameSeed ^ (uint64_t(uint32_t(row)) * 0x9E3779B97F4A7C15ull);
        for (auto* s : {&s0_[0], &s0_[1], &s1_[0], &s1_[1]}) *s = SplitMix(z);
    }

    // Eight numbers of 0..65535.
    void Next8(uint16_t out[8]) {
        for (int lane = 0; lane < 2; ++lane) {
            uint64_t v = Step(lane);
            for (int i = 0; i < 4; ++i) out[lane * 4 + i] = uint16_t(v >> (16 * i));
        }
    }

#if defined(__SSE2__)
    // The same eight numbers as one vector (lane i = out[i] of Next8).
    __m128i Next8v() {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s0_));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s1_));
        __m128i x = _mm_xor_si128(a, _mm_slli_epi64(a, 23));
        __m128i s1 = _mm_xor_si128(_mm_xor_si128(x, b), _mm_xor_si128(_mm_srli_epi64(x, 17), _mm_srli_epi64(b, 26)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s0_), b);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(s1_), s1);
        return _mm_add_epi64(s1, b);
    }
#endif

    // 0..n-1 for n of 1..65536 from one 16-bit number r (the high half of r x n).
    static int Below(uint16_t r, int n) { return int((uint32_t(r) * uint32_t(n)) >> 16); }

private:
    static uint64_t SplitMix(uint64_t& z) {
        uint64_t v = (z += 0x9E3779B97F4A7C15ull);
        v = (v ^ (v >> 30)) * 0xBF58476D1CE4E5B9ull;
        v = (v ^ (v >> 27)) * 0x94D049BB133111EBull;
        return v ^ (v >> 31);
    }
    uint64_t Step(int lane) {
        uint64_t x = s0_[lane], y = s1_[lane];
        s0_[lane] = y;
        x ^= x << 23;
        s1_[lane] = x ^ y ^ (x >> 17) ^ (y >> 26);
        return s1_[lane] + y;
    }

    alignas(16) uint64_t s0_[2];
    alignas(16) uint64_t s1_[2];
};

} // namespace lumora
