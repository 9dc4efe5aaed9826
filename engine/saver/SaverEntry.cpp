#include "engine/saver/SaverEntry.h"

#include <QApplication>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "engine/saver/SaverWindow.h"
#include "engine/saver/PictureFormats.h"
#include "engine/music/SaverMusic.h"
#include "framework/Forms.h"
#include "platform/session/Installer.h"
#include "platform/display/NativeWindow.h"
#include "platform/Platform.h"
#include "platform/display/Screens.h"
#include "platform/system/Heap.h"
#include "platform/system/Signals.h"
#include "platform/system/System.h"

namespace lumora {

namespace {
std::function<int()>& SettingsDialogRunner() {
    static std::function<int()> runner;
    return runner;
}

// Qt's X platform is the one taken unless QT_QPA_PLATFORM names another (offscreen for tests).
bool QtUsesX() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return !platform || !*platform || std::string_view(platform).starts_with("xcb");
}
} // namespace

char ModeLetter(int argc, const char* const* argv) {
    if (argc < 2 || !argv[1]) return 'C';
    const char* arg = argv[1];
    if (arg[0] == '\0' || arg[1] == '\0') return '\0';
    char c = arg[1];
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

TNativeHandle HandleArgument(int argc, const char* const* argv) {
    if (argc < 3 || !argv[2]) return 0;
    int value = 0;
    if (!TryStrToInt(argv[2], value) || value < 0) return 0;
    return static_cast<TNativeHandle>(value);
}

void SetSettingsDialogRunner(std::function<int()> runner) { SettingsDialogRunner() = std::move(runner); }

namespace {
// A path as a shell reads it back: the hint below is meant to be pasted.
std::string ShellQuoted(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
} // namespace

int InstallSaver() {
    // The program's own file, whatever it is called: a renamed copy installs itself.
    const std::string program = ProgramPath();
    const std::string quoted = ShellQuoted(program);
    try {
        if (InstallsAsRoot()) {
            // Root links and writes no entry: a root run that keeps a user's HOME (sudo -E) would
            // leave folders in it that the user may not write.
            const std::string link = LinkIntoSaverFolder(program);
            std::printf("lumora: linked %s to %s\n", link.c_str(), program.c_str());
            std::printf("lumora: each user who wants it as the screen saver now runs %s /i (without sudo)\n",
                        quoted.c_str());
            return 0;
        }
        const TSaverInstall done = InstallDesktopSaver(program);
        if (done.kept)
            std::printf("lumora: kept %s, which runs %s /s\n", done.entry.c_str(), done.runPath.c_str());
        else
            std::printf("lumora: wrote %s, which runs %s /s\n", done.entry.c_str(), done.runPath.c_str());
        if (!done.linkTarget.empty() && done.linkTarget != program)
            std::printf("lumora: %s runs the build at %s, not this one; to run this one, run \"sudo %s /i\"\n",
                        done.runPath.c_str(), done.linkTarget.c_str(), quoted.c_str());
        if (done.linkMissing)
            std::printf("lumora: mate-screensaver runs only the programs in %s; to link this one there, run "
                        "\"sudo %s /i\", then \"%s /i\" again\n",
                        kMateSaverFolder, quoted.c_str(), quoted.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumora: could not install the screen saver: %s\n", e.what());
        return 1;
    }
    return 0;
}

int LumSaverMain(int argc, char** argv) {
    KeepHeapSmallOverLongRuns();
    const char mode = ModeLetter(argc, argv);
    // Only the saver and the settings dialog show a window. Installing, the password and the
    // letters that do nothing run from a console or over SSH as well, where there is no display
    // to connect to.
    const bool windowed = mode == 'S' || mode == 'P' || mode == 'C';
    // Without an X server Qt ends the program with an abort and advice to reinstall it: say what
    // is missing instead.
    if (windowed && QtUsesX() && !XServerAnswers()) {
        const char* display = std::getenv("DISPLAY");
        if (display && *display)
            std::fprintf(stderr, "lumora: needs an X display, and none answers at DISPLAY=%s\n", display);
        else
            std::fprintf(stderr, "lumora: needs an X display, and DISPLAY is not set\n");
        return 1;
    }
    if (mode == 'S' || mode == 'P') UseDevicePixels();
    std::unique_ptr<QCoreApplication> app;
    if (windowed)
        app = std::make_unique<QApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    InstallPlatform();
    if (windowed) {
        RegisterPictureFormats();
        InstallSaverExtras();
    }
    PreviewWnd = 0;
    HostWnd = 0;
    Application().Title = "Lumora 2.0";
    std::unique_ptr<TDesktopWindow> window;
    TSaverDisplayLock saverLock;
    int exitCode = 0;
    switch (mode) {
    case 'S':
    case 'P': {
        if (mode == 'S') HostWnd = ScreenSaverDaemonWindow();
        if (HostWnd && !NativeWindows().Exists(HostWnd)) HostWnd = 0;
        if (mode == 'P') PreviewWnd = HandleArgument(argc, argv);
        // One full-screen saver per display: a second start (the system asking again while one
        // runs, or a preview without its box, which runs full screen) ends at once. A preview is
        // no saver, and a daemon that hands over a window (one per monitor) runs its programs
        // itself.
        if (!PreviewWnd && !HostWnd && !saverLock.Claim()) {
            Application().Terminate();
            break;
        }
        if (PreviewWnd) NativeWindows().Show(PreviewWnd);
        // A modal box would sit under (or behind) a full-screen saver and stall the show, so the
        // components' error boxes go to standard error while the saver runs; the show goes on.
        SetMessageReporter([](const std::string& text, const std::string& caption, TMsgIcon, int) {
            std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
            return 1;
        });
        window = std::make_unique<TDesktopWindow>();
        window->OnClosed = [] { Application().Terminate(); };
        // A termination request closes the window the orderly way.
        InstallCloseSignals([&window](int) {
            if (window && !window->Closed()) window->Close();
            else Application().Terminate();
        });
        window->show();
        break;
    }
    case 'C':
        if (SettingsDialogRunner()) SettingsDialogRunner()();
        Application().Terminate();
        break;
    case 'A': {
        PreviewWnd = HandleArgument(argc, argv);
        IScreenSaverPassword& provider = ScreenSaverPassword();
        if (provider.CanChange()) provider.PwdChangePassword("SCRSAVE", PreviewWnd);
        Application().Terminate();
        break;
    }
    case 'I':
        exitCode = InstallSaver();
        Application().Terminate();
        break;
    default: Application().Terminate(); break;
    }
    Application().Run();
    RemoveCloseSignals();
    window.reset();
    return exitCode;
}

} // namespace lumora
