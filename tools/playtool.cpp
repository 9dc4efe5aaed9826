// lumora-playtool FILE [SECONDS]: plays a sound file or URL through the audio player on the output
// LUMORA_AUDIO_OUTPUT selects, printing every mode change and the end of play. Input plug-ins in
// the program's "Plugins" folder are loaded first. Exit status 0 when play ended (or SECONDS passed),
// 1 when the file could not be played.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "audio/player/AudioPlayer.h"
#include "audio/plugins/PluginHost.h"
#include "framework/Forms.h"
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

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: lumora-playtool FILE [SECONDS]\n");
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
