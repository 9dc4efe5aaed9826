#pragma once
// A saver window on virtual time: fake monitors, a fake desktop, a registry in memory and a folder
// of solid-colour pictures the test makes.

#include <QCoreApplication>

#include <filesystem>

#include <memory>
#include <string>
#include <vector>

#include "engine/saver/SaverWindow.h"
#include "engine/saver/PictureFormats.h"
#include "engine/settings/Settings.h"
#include "framework/Registry.h"
#include "platform/system/Clock.h"
#include "platform/display/Cursor.h"
#include "platform/display/NativeWindow.h"
#include "platform/session/PowerWatch.h"
#include "platform/system/Random.h"
#include "platform/display/ScreenGrab.h"
#include "platform/session/ScreenSaver.h"
#include "platform/display/Screens.h"
#include "platform/system/System.h"
#include "tests/support/TempDir.h"

namespace lumora::test {

inline uint32_t Px(TColor c) { return ColorToPixel(c); }

// Writes a solid-colour BMP file.
inline std::string WriteSolidBmp(const TempDir& dir, const std::string& name, int w, int h, TColor color) {
    TBitmap b(w, h);
    b.Canvas().Brush.Color = color;
    b.Canvas().FillRect(TRect{0, 0, w, h});
    std::string path = dir.File(name);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    b.SaveToFile(path);
    return path;
}

class SaverHarness {
public:
    explicit SaverHarness(std::vector<TMonitor> monitors = {TMonitor{TRect{0, 0, 320, 240}, true}})
        : screens(std::move(monitors)) {
        SetClock(&clock);
        SetScreens(&screens);
        SetScreenGrabber(&grabber);
        SetDisplayPower(&power);
        SetNativeWindows(&natives);
        SetScreenSaverPassword(&password);
        SetCursorApplier([this](bool hidden) { cursorHidden = hidden; });
        store = std::make_shared<TMemoryRegistryStore>();
        SetRegistryStore(store);
        RegisterPictureFormats();
        RandSeed(7);
        PreviewWnd = 0;
        Application().ResetForTests();
        grabber.pixel = [](int, int) { return 0x00102030u; }; // the "desktop"
    }
    ~SaverHarness() {
        window.reset();
        Application().ResetForTests();
        PreviewWnd = 0;
        SetOSLine(TOSLine::NT);
        SetScreenSaveUsePasswordSource(nullptr);
        SetScreenSaverPassword(nullptr);
        SetCursorApplier(nullptr);
        SetNativeWindows(nullptr);
        SetDisplayPower(nullptr);
        SetScreenGrabber(nullptr);
        SetScreens(nullptr);
        SetClock(nullptr);
        SetRegistryStore(nullptr);
        // Leave the cursor counter balanced for the next test.
        while (CursorDisplayCount() < 0) ShowCursor(true);
        while (CursorDisplayCount() > 0) ShowCursor(false);
    }

    void Set(const std::string& section, const std::string& name, const std::string& value) {
        TRegIniFile ini(kLumoraKey);
        ini.WriteString(section, name, value);
    }
    // Only the given effect settings indexes switched on (none = every switch off).
    void OnlyEffects(const std::vector<int>& indexes) {
        TRegIniFile ini(kLumoraKey);
        for (int i = 0; i < EffectCount; ++i) {
            bool on = std::find(indexes.begin(), indexes.end(), i) != indexes.end();
            ini.WriteString("Method", "Method" + std::to_string(i), on ? "1" : "0");
        }
    }
    // A folder of pictures named so that the by-name order is the given order.
    void PictureFolder(const std::vector<TColor>& colours, int w = 64, int h = 48) {
        for (size_t i = 0; i < colours.size(); ++i)
            WriteSolidBmp(dir, "pics/p" + std::to_string(10 + i) + ".bmp", w, h, colours[i]);
        Set("Setting", "Folder", dir.File("pics"));
        Set("Setting", "OrdRandom", "0");
    }

    // Extras the test installed, with a counter of finished changes added (the logo is placed at
    // the end of every change).
    TDesktopWindow& Open(TSaverExtras extras = {}) {
        auto place = extras.PlaceLogo;
        extras.PlaceLogo = [this, place](TDesktopWindow& w) {
            ++changesEnded;
            if (place) place(w);
        };
        SetSaverExtras(extras);
        window = std::make_unique<TDesktopWindow>();
        SetSaverExtras({});
        window->show();
        QCoreApplication::processEvents();
        return *window;
    }

    // Lets the reading thread finish and hands its result over.
    void WaitForReader() {
        for (int i = 0; i < 2000 && window && window->Loading(); ++i) CheckSynchronize(5);
    }
    // Runs the show for ms of virtual time in 10 ms steps, with idle calls between events.
    void Run(uint32_t ms) {
        for (uint32_t t = 0; t < ms; t += 10) {
            clock.Advance(10);
            WaitForReader();
            for (int k = 0; k < 3; ++k) Application().DoIdle();
        }
    }
    // Runs until the next change has started and ended (bounded); returns the virtual time it took.
    uint32_t NextChange(uint32_t limitMs = 60000) {
        uint32_t start = clock.timeGetTime();
        int target = changesEnded + 1;
        while (changesEnded < target && clock.timeGetTime() - start < limitMs) Run(10);
        return clock.timeGetTime() - start;
    }
    int changesEnded = 0;
    uint32_t FormPixel(int x, int y) { return window->FormBitmap().Row32(y)[x]; }

    VirtualClock clock;
    FakeScreens screens;
    FakeScreenGrabber grabber;
    FakeDisplayPower power;
    FakeNativeWindows natives;
    FakeScreenSaverPassword password;
    std::shared_ptr<TMemoryRegistryStore> store;
    TempDir dir;
    bool cursorHidden = false;
    std::unique_ptr<TDesktopWindow> window;
};

} // namespace lumora::test
