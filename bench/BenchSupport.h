#pragma once
// Shared timing of the benchmarks that measure our code against a reference library.

#include <time.h>

#include <algorithm>
#include <string>

#include <benchmark/benchmark.h>

namespace lumora::bench {

// Thread CPU time: other work on a shared machine does not count against either side.
inline double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// Runs our side and the reference once per iteration. The sides take turns going first, so neither
// always meets the memory the other has just given back, and the fastest run of each counts, since
// interference from other work only ever adds time. Reports ratio = ours / reference.
template <class Ours, class Reference>
void CompareFastest(benchmark::State& state, const std::string& referenceName, Ours&& ours, Reference&& reference) {
    auto timed = [](auto& run) {
        const double t0 = ThreadSeconds();
        run();
        return ThreadSeconds() - t0;
    };
    double bestOurs = 1e30, bestReference = 1e30;
    bool oursFirst = false;
    for (auto _ : state) {
        double o, r;
        if (oursFirst) {
            o = timed(ours);
            r = timed(reference);
        } else {
            r = timed(reference);
            o = timed(ours);
        }
        bestOurs = std::min(bestOurs, o);
        bestReference = std::min(bestReference, r);
        state.SetIterationTime(o);
        oursFirst = !oursFirst;
    }
    state.counters["ratio"] = bestOurs / bestReference;
    state.counters[referenceName + "_ms"] = bestReference * 1000;
    state.counters["ours_ms"] = bestOurs * 1000;
}

} // namespace lumora::bench
