// The real program in a real X server: a new user opens the settings ("lumora /c"), presses Enter
// without touching anything, and the saver ("lumora /s") then plays the MIDI file of the sound
// folder through the MIDI device the dialog showed. The program runs in the POSIX locale, as for a
// login without LANG, with a sound folder of Japanese names.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/engine/music/SaverMusicTestSupport.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

namespace lumora {
namespace {

const std::string kProgram = std::string(LUMORA_BINARY_DIR) + "/bin/lumora";

TEST(SettingsEndToEndTest, EnterOnAFreshSetupLetsTheSaverPlayAMidiFile) {
    if (!test::HaveTool("Xvfb") || !test::HaveTool("xdotool")) GTEST_SKIP() << "no Xvfb or xdotool";
    if (!std::ifstream(kProgram)) GTEST_SKIP() << "the program is not built";
    test::TempDir dir;
    const std::string music = dir.File("音楽");
    dir.WriteFile("音楽/歌.mid", test::OneNoteMidi(480));
    std::filesystem::create_directories(dir.File("devices"));
    // Settings with music on and no MIDI device: what a user has who never opened the effects tab.
    dir.WriteFile("registry.reg",
                  "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Setting]\n"
                  "\"UseSound\"=\"1\"\n\"SndInterval\"=\"0\"\n\"SoundFolder\"=\"" +
                      music + "\"\n");
    std::string script = dir.WriteFile(
        "run.sh", "set -u\nexport LUMORA_REGISTRY=" + dir.File("registry.reg") + " LUMORA_DEVICES=fake:" +
                      dir.File("devices") + " LUMORA_AUDIO_OUTPUT=null XDG_DATA_HOME=" + dir.File("data") +
                      "\nunset QT_QPA_PLATFORM\n"
                      "for i in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done\n" +
                      test::kPosixLocale + kProgram + R"SH( /c & pid=$!
for i in $(seq 100); do xdotool search --name 'Lumoraの設定' >/dev/null 2>&1 && break; sleep 0.1; done
win=$(xdotool search --name 'Lumoraの設定' | head -1)
# The dialog takes the keyboard a moment after it maps, so Enter is pressed until it has closed.
for i in $(seq 50); do kill -0 $pid 2>/dev/null || break; xdotool key --window $win Return; sleep 0.2; done
if kill -0 $pid 2>/dev/null; then echo still=1; kill -9 $pid; fi
wait $pid; echo "settings=$?"
)SH" + test::kPosixLocale + kProgram + R"SH( /s & pid=$!
for i in $(seq 100); do grep -q 'short 0 90' )SH" +
                      dir.File("devices/midi.log") + R"SH( 2>/dev/null && break; sleep 0.1; done
for i in $(seq 50); do kill -0 $pid 2>/dev/null || break; xdotool key space; sleep 0.2; done
if kill -0 $pid 2>/dev/null; then echo still=1; kill -9 $pid; fi
wait $pid; echo "saver=$?"
)SH");
    std::string out = test::RunScriptInXvfb("-screen 0 1024x768x24", script);
    EXPECT_EQ(test::ScriptValue(out, "still"), "") << out;
    EXPECT_EQ(test::ScriptValue(out, "settings"), "0") << out;
    EXPECT_EQ(test::ScriptValue(out, "saver"), "0") << out;
    const std::string registry = test::ReadFile(dir.File("registry.reg"));
    EXPECT_NE(registry.find("\"MidiDevice\"=\"Fake Synthesizer\""), std::string::npos) << registry;
    EXPECT_NE(registry.find("\"SoundFolder\"=\"" + music + "\"\n"), std::string::npos) << registry;
    const std::string logFile = dir.File("devices/midi.log");
    std::string log = std::filesystem::exists(logFile) ? test::ReadFile(logFile) : std::string();
    EXPECT_NE(log.find("open 0 \"Fake Synthesizer\""), std::string::npos) << log;
    EXPECT_NE(log.find("short 0 90 3C 64"), std::string::npos) << log;
}

} // namespace
} // namespace lumora
