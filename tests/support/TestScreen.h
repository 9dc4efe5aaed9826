#pragma once
// Running one test again on a screen of a given size and scale: the test program starts itself on
// Qt's offscreen platform with a screen configured to that size, filtered to the one test, which
// finds the screen it runs on with TestScreen().

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include <QSize>

#include "tests/support/CommandOutput.h"
#include "tests/support/TempDir.h"

namespace lumora::test {

// The screen's size in device-independent pixels and its scale, inside a run of RunOnTestScreen.
struct TTestScreen {
    QSize Size;
    int Scale = 1;
};

inline std::optional<TTestScreen> TestScreen() {
    const char* value = std::getenv("LUMORA_TEST_SCREEN");
    int w = 0, h = 0, scale = 0;
    if (!value || std::sscanf(value, "%dx%dx%d", &w, &h, &scale) != 3) return std::nullopt;
    return TTestScreen{QSize(w, h), scale};
}

// Runs the test named by filter in a new run of this test program on a w x h screen at the scale;
// returns its exit code and puts what it printed into out.
inline int RunOnTestScreen(int w, int h, int scale, const std::string& filter, std::string& out) {
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return -1;
    TempDir dir;
    const std::string config = dir.WriteFile(
        "screen.json",
        "{\"screens\": [{\"name\": \"test\", \"x\": 0, \"y\": 0, \"width\": " + std::to_string(w * scale) +
            ", \"height\": " + std::to_string(h * scale) + ", \"logicalDpi\": 96, \"dpr\": 1}]}");
    const std::string command = "LUMORA_TEST_SCREEN=" + std::to_string(w) + "x" + std::to_string(h) + "x" +
                                std::to_string(scale) + " QT_SCALE_FACTOR=" + std::to_string(scale) +
                                " QT_QPA_PLATFORM=offscreen:configfile=" + config + " timeout 300 " + self +
                                " --gtest_filter=" + filter + " 2>&1";
    int status = -1;
    out = CommandOutput(command, &status);
    return status;
}

} // namespace lumora::test
