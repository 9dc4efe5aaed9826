#pragma once
// The one seedable random source of the program.

#include <cstdint>

namespace lumora {

// Random(n): an integer in 0..n-1; n <= 0 gives 0.
int Random(int n);
// A real in [0, 1).
double RandomReal();
void Randomize();            // seeds from the clock
void RandSeed(uint64_t seed); // tests make runs repeatable

} // namespace lumora
