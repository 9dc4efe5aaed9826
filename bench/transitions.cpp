// Median frame time of every transition effect at 1920 x 1080, against a memory copy of one
// 1920 x 1080 frame measured in the same run, right before and after the effect's frames. Frames run
// on the virtual clock, so the effects' own waits cost nothing and only the drawing is timed. With
// --benchmark_repetitions the table takes the median over the samples of every repetition.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/BenchHost.h"
#include "engine/EffectTable.h"
#include "engine/Transition.h"
#include "platform/Clock.h"
#include "platform/Random.h"

namespace lumora {
namespace {

constexpr int W = 1920, H = 1080;

void Pattern(TBitmap& b, int seed) {
    b.SetPixelFormat(TPixelFormat::pf32bit);
    b.SetSize(W, H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            b.Row32(y)[x] = uint32_t((x * 7 + y * 3 + seed) & 0xFF) | (uint32_t((x + y * 5 + seed) & 0xFF) << 8) |
                            (uint32_t(((x >> 2) ^ (y >> 2)) & 0xFF) << 16);
}

class TBenchHost : public bench::TBenchTransitionHost {
public:
    TBenchHost() : TBenchTransitionHost(W, H, 88) {
        Pattern(oldPic, 1);
        Pattern(*picture, 2);
    }
    // Shows the old picture again and prepares the effect.
    void Restart(int code) {
        monitors[0].Bitmap->Assign(oldPic);
        CoverMonitor();
        engine.SetEffectCode(static_cast<uint8_t>(code));
        engine.PrepareTransition();
    }
    TBitmap oldPic;
};

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Samples of every effect and of the copies measured around it, gathered over all repetitions.
std::map<int, std::vector<double>> g_frames, g_copies;

// One memory copy of a 1920 x 1080 frame, timed.
double TimedCopy() {
    static std::vector<uint32_t> a(size_t(W) * H, 0x123456), b(size_t(W) * H);
    auto t0 = std::chrono::steady_clock::now();
    std::memcpy(b.data(), a.data(), b.size() * 4);
    benchmark::ClobberMemory();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

constexpr int kSamples = 60;
constexpr int kCopies = 30;
// Virtual time between calls, so that the samples of a time-based effect spread over its whole
// duration (3000 ms at the default speed, 3500 for the horizontal stretches) and every call draws a
// new frame. The step families do not look at the clock.
constexpr uint32_t kSpacing = 3500 / kSamples;

void BM_Effect(benchmark::State& state, int code) {
    VirtualClock clock(1000);
    SetClock(&clock);
    RandSeed(1);
    static TBenchHost* host = new TBenchHost();
    TBenchHost& h = *host;
    // The reference copies run right before and after the frames, so that both see the same load
    // from the rest of the machine.
    auto& copies = g_copies[code];
    for (int i = 0; i < kCopies; ++i) copies.push_back(TimedCopy());
    h.Restart(code);
    std::vector<double> samples;
    for (auto _ : state) {
        if (h.ended) {
            state.PauseTiming();
            h.Restart(code);
            state.ResumeTiming();
        }
        clock.Advance(kSpacing);
        bool done = true;
        auto t0 = std::chrono::steady_clock::now();
        h.engine.TransitionStep(done);
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        samples.push_back(s);
    }
    SetClock(nullptr);
    for (int i = 0; i < kCopies; ++i) copies.push_back(TimedCopy());
    auto& all = g_frames[code];
    all.insert(all.end(), samples.begin(), samples.end());
    double m = Median(samples);
    state.counters["median_us"] = m * 1e6;
    state.counters["ratio"] = m / Median(copies);
}

std::string NameOf(int code) {
    for (const auto& e : EffectTable)
        if (e.Code == code) return e.Name;
    return "?";
}

bool IsBlendFamily(int code) {
    return code == 0 || (code >= 39 && code <= 41) || code == 68 || code == 69 || (code >= 77 && code <= 87);
}

} // namespace
} // namespace lumora

int main(int argc, char** argv) {
    using namespace lumora;
    for (int code = 0; code < 88; ++code)
        benchmark::RegisterBenchmark(("Effect/" + std::to_string(code)).c_str(), BM_Effect, code)
            ->UseManualTime()
            ->Iterations(kSamples);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::vector<double> allCopies;
    for (auto& [code, v] : g_copies) allCopies.insert(allCopies.end(), v.begin(), v.end());
    std::printf("\nMedian frame time at 1920x1080 against the median of the frame copies measured around it\n"
                "(all copies: median %.3f ms)\n",
                Median(allCopies) * 1e3);
    std::printf("%4s  %-28s %10s %8s %7s %5s\n", "code", "effect", "median ms", "copy ms", "ratio", "goal");
    int over = 0;
    for (auto& [code, frames] : g_frames) {
        double m = Median(frames), copy = Median(g_copies[code]);
        double ratio = copy > 0 ? m / copy : 0;
        double goal = IsBlendFamily(code) ? 1.5 : 2.0;
        bool ok = ratio <= goal;
        over += !ok;
        std::printf("%4d  %-28s %10.3f %8.3f %7.2f %5.1f%s\n", code, NameOf(code).c_str(), m * 1e3, copy * 1e3, ratio,
                    goal, ok ? "" : "  over");
    }
    std::printf("%d of %zu effects over their goal\n", over, g_frames.size());
    return 0;
}
