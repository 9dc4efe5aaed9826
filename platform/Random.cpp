#include "platform/Random.h"

#include <chrono>
#include <random>

namespace lumora {

namespace {
std::mt19937_64& Engine() {
    static std::mt19937_64 engine(0x4C756D6F7261ull);
    return engine;
}
} // namespace

int Random(int n) {
    if (n <= 0) return 0;
    return static_cast<int>(std::uniform_int_distribution<int64_t>(0, n - 1)(Engine()));
}

double RandomReal() { return std::uniform_real_distribution<double>(0.0, 1.0)(Engine()); }

void Randomize() { Engine().seed(std::chrono::steady_clock::now().time_since_epoch().count()); }

void RandSeed(uint64_t seed) { Engine().seed(seed); }

} // namespace lumora
