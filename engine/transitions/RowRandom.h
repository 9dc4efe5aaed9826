#pragma once
// Random numbers for pixel rows. A frame draws one seed from the program's random source and every
// row gets its own streams derived from that seed and the row's number, so rows can be computed in
// any order, in bands on several threads and many numbers at a time, and a fixed seed of the
// random source still gives the same frame.

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/system/RandomEngine.h"

namespace lumora {

// One seed per frame, drawn from the one random source.
inline uint64_t NewFrameSeed() { return RandomEngine()(); }

// 0..n-1 for n of 1..65536 from one 16-bit number r (the high half of r x n).
inline int RandomBelow(uint16_t r, int n) { return int((uint32_t(r) * uint32_t(n)) >> 16); }

// N xorshift128+ generators side by side (N = 2 or 4); each step yields 64 N bits, read as 4 N
// 16-bit numbers: generator 0's low to high, then generator 1's, and so on.
template <int N>
class TRowStream {
    static_assert(N == 2 || N == 4);

public:
    static constexpr int kNumbers = 4 * N; // numbers per step

    TRowStream(uint64_t frameSeed, int row) {
        uint64_t z = frameSeed ^ (uint64_t(uint32_t(row)) * 0x9E3779B97F4A7C15ull);
        for (auto& s : s0_) s = SplitMix(z);
        for (auto& s : s1_) s = SplitMix(z);
    }

    void Next(uint16_t out[kNumbers]) {
        for (int g = 0; g < N; ++g) {
            uint64_t v = Step(g);
            for (int i = 0; i < 4; ++i) out[g * 4 + i] = uint16_t(v >> (16 * i));
        }
    }

#if defined(__SSE2__)
    // Generators 2 pair and 2 pair + 1 stepped at once: numbers 8 pair .. 8 pair + 7 of Next.
    __m128i NextPair(int pair = 0) {
        auto* p0 = reinterpret_cast<__m128i*>(s0_ + 2 * pair);
        auto* p1 = reinterpret_cast<__m128i*>(s1_ + 2 * pair);
        __m128i a = _mm_load_si128(p0), b = _mm_load_si128(p1);
        __m128i x = _mm_xor_si128(a, _mm_slli_epi64(a, 23));
        __m128i s1 = _mm_xor_si128(_mm_xor_si128(x, b), _mm_xor_si128(_mm_srli_epi64(x, 17), _mm_srli_epi64(b, 26)));
        _mm_store_si128(p0, b);
        _mm_store_si128(p1, s1);
        return _mm_add_epi64(s1, b);
    }
#endif

    // The generators' states, for code that steps them in wider registers: generator g is
    // (S0()[g], S1()[g]).
    uint64_t* S0() { return s0_; }
    uint64_t* S1() { return s1_; }

private:
    static uint64_t SplitMix(uint64_t& z) {
        uint64_t v = (z += 0x9E3779B97F4A7C15ull);
        v = (v ^ (v >> 30)) * 0xBF58476D1CE4E5B9ull;
        v = (v ^ (v >> 27)) * 0x94D049BB133111EBull;
        return v ^ (v >> 31);
    }
    uint64_t Step(int g) {
        uint64_t x = s0_[g], y = s1_[g];
        s0_[g] = y;
        x ^= x << 23;
        s1_[g] = x ^ y ^ (x >> 17) ^ (y >> 26);
        return s1_[g] + y;
    }

    alignas(32) uint64_t s0_[N];
    alignas(32) uint64_t s1_[N];
};

// Eight numbers a step.
class TRowRandom : public TRowStream<2> {
public:
    using TRowStream::TRowStream;
    void Next8(uint16_t out[8]) { Next(out); }
#if defined(__SSE2__)
    // The same eight numbers as one vector (lane i = out[i] of Next8).
    __m128i Next8v() { return NextPair(0); }
#endif
};

// Sixteen numbers a step.
using TRowRandom16 = TRowStream<4>;

} // namespace lumora
