// The real display-mode source against real X servers (Xvfb at two depths), and without any.
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/display/DisplayMode.h"
#include "tests/support/Xvfb.h"

namespace lumora {
namespace {

// Runs this test program again, filtered to one test, inside Xvfb at the given depth.
int RunInXvfb(int depth, const std::string& filter) {
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return -1;
    const std::string command = "LUMORA_EXPECT_DEPTH=" + std::to_string(depth) +
                                " timeout 60 " + test::WithXvfb() + " '-screen 0 640x480x" + std::to_string(depth) + "' " +
                                self + " --gtest_filter=" + filter + " >/dev/null 2>&1";
    return std::system(command.c_str());
}

TEST(DisplayMode, RealSourceReadsTheServersDepthAndSize) {
    if (const char* expected = std::getenv("LUMORA_EXPECT_DEPTH")) {
        // Inside Xvfb.
        std::optional<TDisplayMode> mode = DisplayModeSource().Current();
        ASSERT_TRUE(mode);
        EXPECT_EQ(mode->BitsPerPixel, std::atoi(expected));
        EXPECT_EQ(mode->Width, 640);
        EXPECT_EQ(mode->Height, 480);
        EXPECT_EQ(mode->HasPalette, mode->BitsPerPixel == 8);
        EXPECT_EQ(mode->RefreshRate, 0); // Xvfb's modes carry no timing
        return;
    }
    if (!test::HaveTool("Xvfb")) GTEST_SKIP() << "no Xvfb";
    for (int depth : {8, 16, 24}) EXPECT_EQ(RunInXvfb(depth, "DisplayMode.RealSourceReadsTheServersDepthAndSize"), 0) << depth;

    // Without a display nothing answers.
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    unsetenv("DISPLAY");
    EXPECT_FALSE(DisplayModeSource().Current());
    if (display) setenv("DISPLAY", saved.c_str(), 1);
}

} // namespace
} // namespace lumora
