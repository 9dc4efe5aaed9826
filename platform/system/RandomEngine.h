#pragma once
// The engine behind Random(), for pixel routines that draw millions of numbers per frame: they
// draw through RandomFrom inline, in the same order, and get exactly the numbers Random() would
// give (Random() itself draws through RandomFrom).

#include <cstdint>
#include <random>

namespace lumora {

using TRandomEngine = std::mt19937_64;

TRandomEngine& RandomEngine();

// Random(n) on the given engine: an integer in 0..n-1; n <= 0 gives 0 and draws nothing.
inline int RandomFrom(TRandomEngine& engine, int n) {
    if (n <= 0) return 0;
    return static_cast<int>(std::uniform_int_distribution<int64_t>(0, n - 1)(engine));
}

} // namespace lumora
