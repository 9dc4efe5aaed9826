// The cost of a seek on a ten-minute file in each format our audio library plays: setting the
// position of a decoding channel and reading the first tenth of a second from there, at targets
// spread over the whole file and visited forwards and backwards. Every iteration seeks a CBR MP3
// made from the same sound to the same targets in turn, and "ratio" is the format's worst seek over
// the MP3's worst (goal: at most 10, the same order). "median_ms" and "worst_ms" are the format's
// own figures, "mp3_worst_ms" the reference's. Each target's time is its fastest over the
// iterations (thread CPU time: the decode runs on the calling thread), since other work on the
// machine only ever adds time.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/player/BassLoader.h"
#include "bench/BenchSupport.h"
#include "platform/system/System.h"

namespace {

constexpr int kTargets = 41;
constexpr double kGoal = 10;

std::string TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp ? tmp : "/tmp");
}

// Ten minutes of stereo sound at 44.1 kHz (a sweep and a tone over pink noise, swelling and
// fading), made once with ffmpeg and kept for later runs, then encoded by `encode` ("IN" and "OUT"
// stand for the files).
std::string TestFile(const std::string& ext, const std::string& encode) {
    const std::string base = TempFolder() + "/lumora-bench-10min";
    const std::string wav = base + ".wav", path = base + "." + ext;
    if (std::system(("test -s " + wav).c_str()) != 0 &&
        std::system(("ffmpeg -v quiet -y -f lavfi -i anoisesrc=d=600:c=pink:a=0.1 -f lavfi -i "
                     "\"sine=f=440:d=600\" -filter_complex \"amix=inputs=2,tremolo=f=3:d=0.6\" "
                     "-ac 2 -ar 44100 -c:a pcm_s16le " +
                     wav)
                        .c_str()) != 0)
        return {};
    if (ext == "wav") return wav;
    if (std::system(("test -s " + path).c_str()) == 0) return path;
    std::string cmd = encode;
    cmd.replace(cmd.find("IN"), 2, wav);
    cmd.replace(cmd.find("OUT"), 3, path);
    return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0 ? path : std::string();
}

struct SeekTimes {
    std::vector<double> Fastest = std::vector<double>(kTargets, 1e30);
    double Median() const {
        std::vector<double> t = Fastest;
        std::nth_element(t.begin(), t.begin() + kTargets / 2, t.end());
        return t[kTargets / 2];
    }
    double Worst() const { return *std::max_element(Fastest.begin(), Fastest.end()); }
};

// Seeks one open decoding channel to every target in turn; false when a seek or read failed.
bool SeekAll(HSTREAM h, SeekTimes& times) {
    const QWORD length = lumora::BASS_ChannelGetLength(h);
    BASS_CHANNELINFO info{};
    lumora::BASS_ChannelGetInfo(h, &info);
    const QWORD frameBytes = 2ull * info.chans;
    std::vector<char> buf(info.freq / 10 * frameBytes);
    const QWORD frames = length / frameBytes;
    for (int i = 0; i < kTargets; ++i) {
        // A stride through the targets that goes forwards and backwards by varying steps; the last
        // target lies in the final tenth of a second.
        const int slot = (i * 17) % kTargets;
        const QWORD frame =
            slot == kTargets - 1 ? frames - info.freq / 20 : frames * slot / kTargets + 777 * slot;
        const double t0 = lumora::bench::ThreadSeconds();
        if (!lumora::BASS_ChannelSetPosition(h, frame * frameBytes)) return false;
        if (lumora::BASS_ChannelGetData(h, buf.data(), static_cast<DWORD>(buf.size())) == ~DWORD{0})
            return false;
        times.Fastest[i] = std::min(times.Fastest[i], lumora::bench::ThreadSeconds() - t0);
    }
    return true;
}

bool StartLibrary() {
    static const bool started = [] {
        setenv("LUMORA_AUDIO_OUTPUT", "null", 1);
        return lumora::LoadBassLibrary(lumora::ProgramFolder() + "/" + lumora::kBassLibraryFile) &&
               lumora::BASS_Init(-1, 44100, 0, nullptr, nullptr);
    }();
    return started;
}

const char* const kMp3Encode = "lame --quiet -b 192 IN OUT";

void BM_Seek(benchmark::State& state, const std::string& ext, const std::string& encode) {
    if (!StartLibrary()) {
        state.SkipWithError("the audio library did not start");
        return;
    }
    const std::string file = TestFile(ext, encode), mp3 = TestFile("mp3", kMp3Encode);
    if (file.empty() || mp3.empty()) {
        state.SkipWithError("the test files could not be made");
        return;
    }
    HSTREAM h = lumora::BASS_StreamCreateFile(0, file.c_str(), 0, 0, BASS_STREAM_DECODE);
    HSTREAM ref = lumora::BASS_StreamCreateFile(0, mp3.c_str(), 0, 0, BASS_STREAM_DECODE);
    if (!h || !ref) {
        state.SkipWithError("the library did not open the test files");
        return;
    }
    SeekTimes ours, mp3Times;
    for (auto _ : state) {
        const double t0 = lumora::bench::ThreadSeconds();
        const bool ok = SeekAll(h, ours);
        state.SetIterationTime(lumora::bench::ThreadSeconds() - t0);
        if (!ok || !SeekAll(ref, mp3Times)) {
            state.SkipWithError("a seek failed");
            break;
        }
    }
    lumora::BASS_StreamFree(h);
    lumora::BASS_StreamFree(ref);
    state.counters["median_ms"] = ours.Median() * 1000;
    state.counters["worst_ms"] = ours.Worst() * 1000;
    state.counters["mp3_worst_ms"] = mp3Times.Worst() * 1000;
    state.counters["ratio"] = ours.Worst() / mp3Times.Worst();
    state.counters["goal"] = kGoal;
}

#define SEEK_BENCHMARK(name, ext, encode)                                                                    \
    BENCHMARK_CAPTURE(BM_Seek, name, std::string(ext), std::string(encode))                                  \
        ->UseManualTime()                                                                                    \
        ->Iterations(3)                                                                                      \
        ->Unit(benchmark::kMillisecond)

SEEK_BENCHMARK(mp3, "mp3", kMp3Encode);
SEEK_BENCHMARK(mp2, "mp2", "ffmpeg -v quiet -y -i IN -c:a mp2 -b:a 192k OUT");
SEEK_BENCHMARK(vorbis, "ogg", "oggenc -Q -q 3 IN -o OUT");
SEEK_BENCHMARK(ima_adpcm_wav, "ima.wav", "sox IN -e ima-adpcm OUT");
SEEK_BENCHMARK(ms_adpcm_wav, "ms.wav", "sox IN -e ms-adpcm OUT");
SEEK_BENCHMARK(pcm_wav, "wav", "");
SEEK_BENCHMARK(wma, "wma", "ffmpeg -v quiet -y -i IN -c:a wmav2 -b:a 128k OUT");
SEEK_BENCHMARK(flac, "flac", "ffmpeg -v quiet -y -i IN -c:a flac OUT");

} // namespace

BENCHMARK_MAIN();
