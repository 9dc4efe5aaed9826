// Median frame time of every transition effect at 1920 x 1080, on one thread and with the row
// bands, each over the median of one-thread memory copies of a 1920 x 1080 frame measured in the
// same run, right before and after the effect's frames. Frames run on the virtual clock, so the
// effects' own waits cost nothing and only the drawing is timed. Goals: on one thread every effect
// at most 4 copies (the blend family 2), with the bands at most 2 (the blend family 1.5). Then the
// effects whose frames are longer than their wait run at speed 0 on the real clock, and every frame
// of their schedule must be drawn. The program exits with 1 when a goal is missed. With
// --benchmark_repetitions the table takes the median over the samples of every repetition.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bench/BenchHost.h"
#include "engine/transitions/EffectTable.h"
#include "engine/transitions/RowBands.h"
#include "engine/transitions/Transition.h"
#include "platform/system/Clock.h"
#include "platform/system/Random.h"

namespace lumora {
namespace {

constexpr int W = 1920, H = 1080;

class TBenchHost : public bench::TBenchTransitionHost {
public:
    TBenchHost() : TBenchTransitionHost(W, H, 88) {
        bench::FillPattern(oldPic, W, H, 1);
        bench::FillPattern(*picture, W, H, 2);
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

TBenchHost& Host() {
    static TBenchHost* host = new TBenchHost();
    return *host;
}

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Samples of every effect (by code and thread mode) and of the copies measured around them,
// gathered over all repetitions.
std::map<std::pair<int, bool>, std::vector<double>> g_frames, g_copies;

// One memory copy of a 1920 x 1080 frame on this thread, timed.
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

bool IsBlendFamily(int code) {
    return code == 0 || (code >= 39 && code <= 41) || code == 68 || code == 69 || (code >= 77 && code <= 87);
}

void BM_Effect(benchmark::State& state, int code, bool bands) {
    VirtualClock clock(1000);
    SetClock(&clock);
    RandSeed(1);
    SetRowBandThreads(bands ? 0 : 1);
    TBenchHost& h = Host();
    // The reference copies run right before and after the frames, so that both see the same load
    // from the rest of the machine.
    auto& copies = g_copies[{code, bands}];
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
    SetRowBandThreads(0);
    for (int i = 0; i < kCopies; ++i) copies.push_back(TimedCopy());
    auto& all = g_frames[{code, bands}];
    all.insert(all.end(), samples.begin(), samples.end());
    state.counters["median_us"] = Median(samples) * 1e6;
    state.counters["ratio"] = Median(samples) / Median(copies);
    state.counters["goal"] = bands ? (IsBlendFamily(code) ? 1.5 : 2.0) : (IsBlendFamily(code) ? 2.0 : 4.0);
}

std::string NameOf(int code) {
    for (const auto& e : EffectTable)
        if (e.Code == code) return e.Name;
    return "?";
}

// The name padded to a width of columns on a terminal (half-width katakana take one column, other
// characters beyond ASCII two).
std::string Padded(const std::string& name, int columns) {
    int used = 0;
    for (size_t i = 0; i < name.size();) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        uint32_t cp = c;
        if (len == 3 && i + 2 < name.size())
            cp = (uint32_t(c & 0x0F) << 12) | (uint32_t(name[i + 1] & 0x3F) << 6) | uint32_t(name[i + 2] & 0x3F);
        used += len == 1 || (cp >= 0xFF61 && cp <= 0xFF9F) ? 1 : 2;
        i += size_t(len);
    }
    return name + std::string(size_t(std::max(0, columns - used)), ' ');
}


// Runs the effect at speed 0 on the real clock (500 ms) and counts the frames it drew.
int FramesAtSpeedZero(int code) {
    TBenchHost& h = Host();
    RandSeed(1);
    h.speed = 0;
    h.Restart(code);
    int drawn = 0, last = h.engine.State().LastFrame;
    for (int call = 0; call < 10000 && !h.ended; ++call) {
        bool done = true;
        h.engine.TransitionStep(done);
        int k = h.engine.State().LastFrame;
        drawn += k != last && k > 0;
        last = k;
    }
    h.speed = 5;
    return drawn;
}

// Codes whose frames come further apart at speed 0 than the 10 ms wait, with their frame counts.
const std::pair<int, int> kSlowSchedules[] = {{22, 24}, {42, 24}, {43, 24}, {44, 24}, {23, 32}, {24, 32},
                                              {51, 32}, {26, 32}, {49, 32}, {50, 32}, {52, 32}, {53, 32}};

} // namespace
} // namespace lumora

int main(int argc, char** argv) {
    using namespace lumora;
    for (int code = 0; code < 88; ++code)
        for (bool bands : {false, true})
            benchmark::RegisterBenchmark(("Effect/" + std::to_string(code) + (bands ? "/bands" : "/1t")).c_str(),
                                         BM_Effect, code, bands)
                ->UseManualTime()
                ->Iterations(kSamples);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::vector<double> allCopies;
    for (auto& [key, v] : g_copies) allCopies.insert(allCopies.end(), v.begin(), v.end());
    std::printf("\nMedian frame time at 1920x1080 over the median one-thread frame copy measured around it\n"
                "(all copies: median %.3f ms; bands: %d threads)\n",
                Median(allCopies) * 1e3, RowBandThreads());
    std::printf("%4s  %-22s %9s %6s %5s %9s %6s %5s\n", "code", "effect", "1t ms", "ratio", "goal", "bands ms",
                "ratio", "goal");
    int over = 0, rows = 0;
    for (int code = 0; code < 88; ++code) {
        auto one = g_frames.find({code, false}), banded = g_frames.find({code, true});
        if (one == g_frames.end() && banded == g_frames.end()) continue;
        ++rows;
        bool blend = IsBlendFamily(code);
        std::string line;
        char cell[96];
        bool missed = false;
        for (bool bands : {false, true}) {
            auto it = bands ? banded : one;
            if (it == g_frames.end()) {
                line += "          -      -     -";
                continue;
            }
            double m = Median(it->second), copy = Median(g_copies[{code, bands}]);
            double ratio = copy > 0 ? m / copy : 0, goal = bands ? (blend ? 1.5 : 2.0) : (blend ? 2.0 : 4.0);
            missed = missed || ratio > goal;
            std::snprintf(cell, sizeof cell, " %9.3f %6.2f %5.1f", m * 1e3, ratio, goal);
            line += cell;
        }
        over += missed;
        std::printf("%4d  %s%s%s\n", code, Padded(NameOf(code), 22).c_str(), line.c_str(), missed ? "  over" : "");
    }
    std::printf("%d of %d effects over their goal\n", over, rows);

    // Only when the whole table ran: the speed-0 schedules take half a second each.
    int short0 = 0;
    if (rows == 88) {
        std::printf("\nFrames drawn at speed 0 (500 ms, real clock) of the schedule\n");
        for (auto [code, n] : kSlowSchedules) {
            int drawn = FramesAtSpeedZero(code);
            short0 += drawn < n;
            std::printf("%4d  %s %3d of %3d%s\n", code, Padded(NameOf(code), 22).c_str(), drawn, n, drawn < n ? "  short" : "");
        }
    }
    return over + short0 > 0 ? 1 : 0;
}
