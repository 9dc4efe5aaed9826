// lumora-playtool FILE [SECONDS]: plays a sound file or URL through the audio player on the output
// LUMORA_AUDIO_OUTPUT selects, printing every mode change and the end of play. Input plug-ins in
// the program's "Plugins" folder are loaded first. Exit status 0 when play ended (or SECONDS passed),
// 1 when the file could not be played.
//
// lumora-playtool --probe FILE [DUMP] [MS ...]: opens the file in the player without playing it and
// prints its length, then decodes it whole from the start (frames and a checksum of the samples),
// then seeks to each MS and prints where the player says it landed and a checksum of the next
// 4096 frames; with DUMP those frames go to DUMP.N.raw (N counts the seeks from 0). A MIDI file
// (.mid, .midi) is read by the MIDI file reader instead, and only its length is printed.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "audio/midi/MidiFile.h"
#include "audio/player/AudioPlayer.h"
#include "audio/player/BassLoader.h"
#include "audio/plugins/PluginHost.h"
#include "engine/Common.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include "platform/Platform.h"

namespace {

const char* ModeName(lumora::TPlayerMode mode) {
    switch (mode) {
    case lumora::plmStandby: return "standby";
    case lumora::plmReady: return "ready";
    case lumora::plmStopped: return "stopped";
    case lumora::plmPlaying: return "playing";
    case lumora::plmPaused: return "paused";
    }
    return "?";
}

// FNV-1a over the bytes, continued from `hash`.
uint64_t Fnv(const std::vector<char>& bytes, size_t count, uint64_t hash = 1469598103934665603ull) {
    for (size_t i = 0; i < count; ++i) hash = (hash ^ static_cast<unsigned char>(bytes[i])) * 1099511628211ull;
    return hash;
}

int ProbeMidi(const std::string& file) {
    try {
        lumora::TMidiFile midi;
        midi.SetFilename(file);
        midi.LoadFile();
        std::printf("length %d ms, %d tracks, %d ticks per quarter\n", midi.SongLengthMs(), midi.NumberOfTracks(),
                    midi.TicksPerQuarter());
    } catch (const std::exception& e) {
        std::printf("error %s\n", e.what());
        return 1;
    }
    return 0;
}

// The probe reads the player's source channel directly: nothing plays, so nothing else pulls from it.
int Probe(const std::string& file, const std::string& dump, const std::vector<long long>& seeks) {
    lumora::TAudioPlayer player;
    if (!player.Ready()) return 1;
    if (!player.Open(file)) {
        std::printf("error cannot open\n");
        return 1;
    }
    std::printf("length %lld ms, %d Hz, %d channels, seekable %d\n", static_cast<long long>(player.GetPlayLength()),
                player.StreamInfo().SampleRate, player.StreamInfo().Channels, player.Seekable() ? 1 : 0);
    const DWORD source = player.SourceChannel();
    BASS_CHANNELINFO info{};
    if (!source || !lumora::BASS_ChannelGetInfo(source, &info) || info.chans == 0) {
        std::printf("no decoded samples\n");
        return 0;
    }
    const size_t sampleBytes = (info.flags & BASS_SAMPLE_FLOAT) ? 4 : (info.flags & BASS_SAMPLE_8BITS) ? 1 : 2;
    const size_t frameBytes = sampleBytes * info.chans;
    std::vector<char> buffer(frameBytes * 4096);
    uint64_t hash = Fnv(buffer, 0), frames = 0;
    for (;;) {
        DWORD got = lumora::BASS_ChannelGetData(source, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (got == ~DWORD{0} || got == 0) break;
        hash = Fnv(buffer, got, hash);
        frames += got / frameBytes;
    }
    std::printf("decoded %llu frames, %d-bit, hash %016llx\n", static_cast<unsigned long long>(frames),
                static_cast<int>(sampleBytes * 8), static_cast<unsigned long long>(hash));
    for (size_t n = 0; n < seeks.size(); ++n) {
        player.SetPosition(seeks[n]);
        const long long landed = player.GetPosition();
        size_t have = 0;
        while (have < buffer.size()) {
            DWORD got = lumora::BASS_ChannelGetData(source, buffer.data() + have, static_cast<DWORD>(buffer.size() - have));
            if (got == ~DWORD{0} || got == 0) break;
            have += got;
        }
        std::printf("seek %lld -> %lld ms, %zu frames, hash %016llx\n", seeks[n], landed, have / frameBytes,
                    static_cast<unsigned long long>(Fnv(buffer, have)));
        if (!dump.empty()) {
            if (FILE* out = std::fopen((dump + "." + std::to_string(n) + ".raw").c_str(), "wb")) {
                std::fwrite(buffer.data(), 1, have, out);
                std::fclose(out);
            }
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool probe = argc >= 3 && std::string(argv[1]) == "--probe";
    if (!probe && (argc < 2 || argc > 3)) {
        std::fprintf(stderr, "usage: lumora-playtool FILE [SECONDS]\n       lumora-playtool --probe FILE [DUMP] [MS ...]\n");
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    lumora::InstallPlatform();
    lumora::SetMessageReporter([](const std::string& text, const std::string& caption, lumora::TMsgIcon, int) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return 1;
    });
    if (probe) {
        const std::string file = argv[2];
        if (lumora::IsMidiExt(lumora::ExtractFileExt(file))) return ProbeMidi(file);
        std::string dump;
        std::vector<long long> seeks;
        for (int i = 3; i < argc; ++i) {
            char* end = nullptr;
            long long ms = std::strtoll(argv[i], &end, 10);
            if (end && *end == '\0' && end != argv[i]) seeks.push_back(ms);
            else if (i == 3) dump = argv[i];
        }
        return Probe(file, dump, seeks);
    }
    const std::string file = argv[1];
    double seconds = argc == 3 ? std::atof(argv[2]) : 0;

    int result = 1;
    {
        lumora::TAudioPlayer player;
        if (!player.Ready()) return 1;
        QDir plugins(QString::fromStdString(lumora::GetPluginFolder() + "/Plugins"));
        for (const QString& name : plugins.entryList({"in_*.so"}, QDir::Files, QDir::Name))
            if (lumora::LoadWinampPlugin(name.toStdString()) == 0) std::printf("plug-in %s\n", qPrintable(name));
        bool ended = false;
        player.OnModeChange = [](lumora::TObject*, lumora::TPlayerMode from, lumora::TPlayerMode to) {
            std::printf("mode %s -> %s\n", ModeName(from), ModeName(to));
            std::fflush(stdout);
        };
        player.OnPlayEnd = [&](lumora::TObject*) {
            std::printf("end of play\n");
            std::fflush(stdout);
            ended = true;
        };
        player.OnGetMeta = [](lumora::TObject*, const std::string& title) { std::printf("title %s\n", title.c_str()); };
        if (!player.Open(file)) return 1;
        std::printf("length %lld ms, %d Hz, %d channels, decoder %s\n", static_cast<long long>(player.GetPlayLength()),
                    player.StreamInfo().SampleRate, player.StreamInfo().Channels, player.DecoderName().c_str());
        player.Play();
        if (player.Mode() != lumora::plmPlaying) return 1;
        QElapsedTimer clock;
        clock.start();
        while (!ended && (seconds <= 0 || clock.elapsed() < seconds * 1000)) {
            app.processEvents(QEventLoop::AllEvents, 20);
            lumora::CheckSynchronize(5);
        }
        if (!ended) {
            std::printf("stopped after %.1f s at %lld ms\n", clock.elapsed() / 1000.0,
                        static_cast<long long>(player.GetPosition()));
            player.Stop();
        }
        player.Close();
        result = 0;
    }
    return result;
}
