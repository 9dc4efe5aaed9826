// Smooth scaling of a 24-megapixel picture to fit a 1920 x 1080 monitor, against a memory copy of
// the same source in the same run. The ratio is reported as the "ratio" counter.
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "engine/saver/Scaling.h"

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<lumora::TBitmap> Photo(int w, int h) {
    auto b = std::make_unique<lumora::TBitmap>(w, h);
    std::mt19937 rng(42);
    // Smooth gradients with noise, as a photograph has, rather than pure noise.
    for (int y = 0; y < h; ++y) {
        uint32_t* row = b->Row32(y);
        for (int x = 0; x < w; ++x)
            row[x] = ((x * 255 / w) << 16 | (y * 255 / h) << 8 | ((x + y) & 0xFF)) ^ (rng() & 0x0F0F0F);
    }
    return b;
}

void BM_FitSmooth6000x4000(benchmark::State& state) {
    auto source = Photo(6000, 4000);
    const size_t bytes = size_t(source->BytesPerLine()) * source->Height();
    std::vector<uint8_t> copy(bytes);
    double ours = 0, reference = 0;
    for (auto _ : state) {
        auto bmp = std::make_unique<lumora::TBitmap>();
        bmp->Assign(*source);
        auto t0 = Clock::now();
        std::memcpy(copy.data(), source->Bits(), bytes);
        benchmark::ClobberMemory();
        auto t1 = Clock::now();
        lumora::FitBitmap(1920, 1080, true, bmp);
        benchmark::DoNotOptimize(bmp->Row32(0));
        auto t2 = Clock::now();
        reference += std::chrono::duration<double>(t1 - t0).count();
        ours += std::chrono::duration<double>(t2 - t1).count();
        state.SetIterationTime(std::chrono::duration<double>(t2 - t1).count());
    }
    state.counters["ratio"] = ours / reference;
    state.counters["copy_ms"] = reference * 1000 / state.iterations();
}
BENCHMARK(BM_FitSmooth6000x4000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

BENCHMARK_MAIN();
