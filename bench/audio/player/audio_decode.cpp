// Decoding and mixing a five-minute MP3 through our audio library to the unpaced null output, against
// "ffmpeg -i FILE -f null -" run in the same benchmark run. Both are timed by the wall clock (the
// library decodes on its own mixing thread; ffmpeg is a process of its own). The "ratio" counter is
// our time over ffmpeg's (goal: at most 1.2).

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "audio/player/BassLoader.h"
#include "platform/system/System.h"

namespace {

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// The test file, made once with ffmpeg: five minutes of pink noise, stereo, 192 kbit/s.
std::string TestFile() {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp ? tmp : "/tmp") + "/lumora-bench-5min.mp3";
    if (std::system(("test -s " + path).c_str()) == 0) return path;
    std::string cmd = "ffmpeg -v quiet -y -f lavfi -i anoisesrc=d=300:c=pink:a=0.3 -ac 2 -ar 44100 -b:a 192k " + path;
    return std::system(cmd.c_str()) == 0 ? path : std::string();
}

std::atomic<bool> g_ended{false};
void OnEnd(HSYNC, DWORD, DWORD, void*) { g_ended = true; }

void BM_DecodeAndMixMp3(benchmark::State& state) {
    std::string file = TestFile();
    if (file.empty()) {
        state.SkipWithError("ffmpeg could not make the test file");
        return;
    }
    setenv("LUMORA_AUDIO_OUTPUT", "null:fast", 1);
    if (!lumora::LoadBassLibrary(lumora::ProgramFolder() + "/" + lumora::kBassLibraryFile) || !lumora::BASS_Init(-1, 44100, 0, nullptr, nullptr)) {
        state.SkipWithError("the audio library did not start");
        return;
    }
    double ours = 0, reference = 0;
    for (auto _ : state) {
        double t0 = Now();
        HSTREAM h = lumora::BASS_StreamCreateFile(0, file.c_str(), 0, 0, 0);
        g_ended = false;
        lumora::BASS_ChannelSetSync(h, BASS_SYNC_END, 0, OnEnd, nullptr);
        lumora::BASS_ChannelPlay(h, 1);
        while (!g_ended) std::this_thread::sleep_for(std::chrono::microseconds(200));
        double elapsed = Now() - t0;
        lumora::BASS_StreamFree(h);
        ours += elapsed;
        state.SetIterationTime(elapsed);

        double r0 = Now();
        if (std::system(("ffmpeg -v quiet -nostdin -i " + file + " -f null -").c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            break;
        }
        reference += Now() - r0;
    }
    lumora::UnloadBassLibrary();
    if (reference > 0) {
        state.counters["ratio"] = ours / reference;
        state.counters["ffmpeg_ms"] = reference * 1000 / static_cast<double>(state.iterations());
    }
}
BENCHMARK(BM_DecodeAndMixMp3)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
