#include "platform/system/Random.h"

#include <chrono>
#include <random>

#include "platform/system/RandomEngine.h"

namespace lumora {

TRandomEngine& RandomEngine() {
    static TRandomEngine engine(0x4C756D6F7261ull);
    return engine;
}

namespace {
TRandomEngine& Engine() { return RandomEngine(); }
} // namespace

int Random(int n) { return RandomFrom(Engine(), n); }

double RandomReal() { return std::uniform_real_distribution<double>(0.0, 1.0)(Engine()); }

void Randomize() { Engine().seed(std::chrono::steady_clock::now().time_since_epoch().count()); }

void RandSeed(uint64_t seed) { Engine().seed(seed); }

} // namespace lumora
