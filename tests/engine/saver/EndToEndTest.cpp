// The real program in a real X server (Xvfb): full screen, preview in a window of the test's own,
// and a folder of solid-colour pictures shown in turn.
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/session/Installer.h"
#include "tests/support/PrivateSaverFolder.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

namespace lumora {
namespace {

const std::string kProgram = std::string(LUMORA_BINARY_DIR) + "/bin/lumora";

// Runs a script inside a fresh X server, once it answers, and returns what it printed.
std::string InXvfb(const test::TempDir& dir, const std::string& script,
                   const std::string& serverArgs = "-screen 0 640x480x24") {
    std::string path = dir.WriteFile("run.sh", "set -u\nexport LUMORA_REGISTRY=" + dir.File("registry.reg") +
                                                   "\nexport XDG_DATA_HOME=" + dir.File("data") +
                                                   "\nunset QT_QPA_PLATFORM\n"
                                                   "for i in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; "
                                                   "sleep 0.1; done\n" +
                                                   script);
    return test::RunScriptInXvfb(serverArgs, path);
}

void WriteRegistry(const test::TempDir& dir, const std::string& settings) {
    dir.WriteFile("registry.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Setting]\n" +
                                      settings);
}

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveTool("Xvfb") || !test::HaveTool("xdotool") || !test::HaveTool("xwininfo"))
            GTEST_SKIP() << "no Xvfb, xdotool or xwininfo";
        if (!std::ifstream(kProgram)) GTEST_SKIP() << "the program is not built";
    }
    test::TempDir dir;
};

TEST_F(EndToEndTest, FullScreenWindowCoversTheScreenAndAKeyEndsIt) {
    WriteRegistry(dir, "\"Folder\"=\"" + dir.File("none") + "\"\n");
    std::string out = InXvfb(dir, kProgram + R"SH( /s & pid=$!
for i in $(seq 50); do xwininfo -root -tree | grep -q '"Lumora"' && break; sleep 0.1; done
echo "window=$(xwininfo -root -tree | grep '"Lumora"' | grep -o '[0-9]*x[0-9]*+[0-9-]*+[0-9-]*' | head -1)"
# The window takes the keyboard a moment after it maps (longer in a sanitizer build), so the key
# is pressed again until the program has gone.
for i in $(seq 50); do kill -0 $pid 2>/dev/null || break; xdotool key space; sleep 0.2; done
if kill -0 $pid 2>/dev/null; then echo still=1; kill -9 $pid; fi
wait $pid; echo "exit=$?"
)SH");
    EXPECT_EQ(test::ScriptValue(out, "window"), "640x480+0+0") << out;
    EXPECT_EQ(test::ScriptValue(out, "still"), "") << out;
    EXPECT_EQ(test::ScriptValue(out, "exit"), "0") << out;
}

TEST_F(EndToEndTest, TerminationSignalClosesTheOrderlyWay) {
    WriteRegistry(dir, "\"Folder\"=\"" + dir.File("none") + "\"\n");
    std::string out = InXvfb(dir, kProgram + R"SH( /s & pid=$!
for i in $(seq 50); do xwininfo -root -tree | grep -q '"Lumora"' && break; sleep 0.1; done
kill -TERM $pid
for i in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then echo still=1; kill -9 $pid; fi
wait $pid; echo "exit=$?"
)SH");
    EXPECT_EQ(test::ScriptValue(out, "still"), "") << out;
    EXPECT_EQ(test::ScriptValue(out, "exit"), "0") << out;
}

TEST_F(EndToEndTest, ASecondSaverOnTheSameDisplayEndsAtOnce) {
    if (!test::HaveTool("xdpyinfo"))
        GTEST_SKIP() << "no xdpyinfo"; // the server's TCP port is checked with it
    WriteRegistry(dir, "\"Folder\"=\"" + dir.File("none") + "\"\n");
    // The second start names the display the way the first did, as the X library's other spellings
    // of the same server (over TCP too), from another session's runtime folder, or is a preview
    // without its box, which runs full screen. Once the first is killed outright, a new one runs.
    std::string out = InXvfb(dir,
                             "export XDG_RUNTIME_DIR=" + dir.Path() + "\nother=" + dir.File("other") +
                                 "\nmkdir -m 700 \"$other\"\nprogram=" + kProgram + R"SH(
$program /s & pid=$!
for i in $(seq 600); do xwininfo -root -tree | grep -q '"Lumora"' && break; sleep 0.1; done
if ! xwininfo -root -tree | grep -q '"Lumora"'; then echo "first=never shown"; kill -9 $pid; exit 0; fi
number=${DISPLAY#:}
second() { # NAME DISPLAY RUNTIME-FOLDER ARGUMENTS...
  name=$1 display=$2 runtime=$3; shift 3
  DISPLAY=$display XDG_RUNTIME_DIR=$runtime timeout 20 $program "$@"; echo "$name=$?"
  echo "$name.windows=$(xwininfo -root -tree | grep -c '"Lumora"')"
}
second same "$DISPLAY" "$XDG_RUNTIME_DIR" /s
second unix "unix:$number" "$XDG_RUNTIME_DIR" /s
second screen ":$number.0" "$XDG_RUNTIME_DIR" /s
second tcp "localhost:$number" "$XDG_RUNTIME_DIR" /s
second runtime "$DISPLAY" "$other" /s
second preview "$DISPLAY" "$XDG_RUNTIME_DIR" /p
kill -0 $pid 2>/dev/null && echo first=running
kill -KILL $pid; wait $pid
$program /s & pid=$!
for i in $(seq 600); do
  kill -0 $pid 2>/dev/null || break
  xwininfo -root -tree | grep -q '"Lumora"' && break
  sleep 0.1
done
kill -0 $pid 2>/dev/null && echo "after=$(xwininfo -root -tree | grep -c '"Lumora"')"
kill -TERM $pid; wait $pid
)SH",
                             "-screen 0 640x480x24 -listen tcp");
    for (const char* name : {"same", "unix", "screen", "tcp", "runtime", "preview"}) {
        EXPECT_EQ(test::ScriptValue(out, name), "0") << name << "\n" << out; // refused, not timed out
        EXPECT_EQ(test::ScriptValue(out, name + std::string(".windows")), "1") << name << "\n" << out;
    }
    EXPECT_EQ(test::ScriptValue(out, "first"), "running") << out;
    EXPECT_EQ(test::ScriptValue(out, "after"), "1") << out; // the killed saver's claim went with it
}

// The scripts' server must keep a client that connects while the last one is leaving: a server that
// resets then drops the newcomer on a slow machine ("could not connect to display"). Stopping the
// server across the leave and the connect makes that moment certain.
TEST_F(EndToEndTest, TheTestServerKeepsAClientThatConnectsAsTheLastOneLeaves) {
    if (!test::HaveTool("xmessage") || !test::HaveTool("xdpyinfo")) GTEST_SKIP() << "no xmessage or xdpyinfo";
    std::string out = InXvfb(dir, R"SH(xmessage -name lastclient ' ' 2>/dev/null & last=$!
for i in $(seq 50); do [ -n "$(xdotool search --name lastclient)" ] && break; sleep 0.1; done
kill -STOP $XVFB_PID
kill $last; wait $last 2>/dev/null
sleep 0.2
(xdpyinfo >/dev/null 2>&1; echo "newcomer=$?") & newcomer=$!
sleep 0.2
kill -CONT $XVFB_PID
wait $newcomer
)SH");
    EXPECT_EQ(test::ScriptValue(out, "newcomer"), "0") << out;
}

TEST_F(EndToEndTest, PreviewBecomesAChildOfTheGivenWindow) {
    if (!test::HaveTool("xmessage")) GTEST_SKIP() << "no xmessage";
    WriteRegistry(dir, "\"Folder\"=\"" + dir.File("none") + "\"\n");
    // An empty id would make xwininfo wait for a click: without the box the script ends at once.
    std::string out = InXvfb(dir, R"SH(xmessage -name previewbox -geometry 200x150+10+10 preview & box=$!
for i in $(seq 100); do id=$(xdotool search --name previewbox | head -1); [ -n "$id" ] && break; sleep 0.1; done
if [ -z "$id" ]; then echo box=missing; kill $box; exit 1; fi
)SH" + kProgram + R"SH( /p $id & pid=$!
for i in $(seq 50); do xwininfo -id $id -tree | grep -q '"Lumora"' && break; sleep 0.1; done
echo "child=$(xwininfo -id $id -tree | grep -c '"Lumora"')"
echo "toplevel=$(xwininfo -root -children | grep -c '"Lumora"')"
kill $box
for i in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then echo still=1; kill -9 $pid; fi
wait $pid; echo "exit=$?"
)SH");
    EXPECT_EQ(test::ScriptValue(out, "child"), "1") << out;
    EXPECT_EQ(test::ScriptValue(out, "toplevel"), "0") << out;
    EXPECT_EQ(test::ScriptValue(out, "still"), "") << out; // the saver ends with its preview box
    EXPECT_EQ(test::ScriptValue(out, "exit"), "0") << out;
}

TEST_F(EndToEndTest, TheSaverOpensShowingTheDesktopItCovers) {
    if (!test::HaveTool("xmessage") || !test::HaveTool("import") || !test::HaveTool("convert"))
        GTEST_SKIP() << "no xmessage or imagemagick";
    // The slowest cross-fade goes from the snapshot to a background of the desktop's own colour (a
    // small picture stands in the centre): a saver that did not open with the desktop would still
    // be far from that colour a second and a half in.
    ASSERT_EQ(std::system(("mkdir -p '" + dir.File("pics") + "' && convert -size 64x48 xc:red '" +
                           dir.File("pics/a.bmp") + "'")
                              .c_str()),
              0);
    WriteRegistry(
        dir,
        "\"Folder\"=\"" + dir.File("pics") +
            "\"\n\"PosRandom\"=\"0\"\n\"BackGround\"=\"$00996633\"\n"
            "\n[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Method]\n\"ChgSpeed\"=\"10\"\n");
    // The saver starts once the box shows: its snapshot must hold the box, however slow the server.
    std::string out = InXvfb(dir, R"SH(xmessage -bg '#336699' -geometry 640x480+0+0 ' ' & box=$!
for i in $(seq 100); do
  [ "$(import -window root -crop 1x1+300+300 -depth 8 txt:- 2>/dev/null | grep -o '#[0-9A-F]\{6\}' | head -1)" = "#336699" ] && break
  sleep 0.1
done
)SH" + kProgram + R"SH( /s & pid=$!
for i in $(seq 50); do xwininfo -root -tree | grep -q '"Lumora"' && break; sleep 0.1; done
sleep 1
kill $box; sleep 0.5
echo "mapped=$(xwininfo -root -tree | grep -c '"Lumora"')"
echo "pixel=$(import -window root -crop 1x1+300+300 -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | head -1)"
kill -TERM $pid; wait $pid
)SH");
    EXPECT_EQ(test::ScriptValue(out, "mapped"), "1") << out;
    // The box under the saver is gone; what shows is the saver's copy of it.
    EXPECT_EQ(test::ScriptValue(out, "pixel"), "#336699") << out;
}

TEST_F(EndToEndTest, PicturesOfTheFolderAreShownInTurn) {
    if (!test::HaveTool("import") || !test::HaveTool("convert")) GTEST_SKIP() << "no imagemagick";
    std::string pics = dir.File("pics");
    std::string setup = "mkdir -p " + pics + " && convert -size 64x48 xc:'#ff0000' " + pics +
                        "/a1.bmp && convert -size 64x48 xc:'#00ff00' " + pics + "/a2.jpg && convert -size 64x48 xc:'#0000ff' " +
                        pics + "/a3.bmp";
    ASSERT_EQ(std::system(setup.c_str()), 0);
    WriteRegistry(dir, "\"Folder\"=\"" + pics +
                           "\"\n\"OrdRandom\"=\"0\"\n\"Interval\"=\"1\"\n\"PosRandom\"=\"0\"\n\"SizeAdjust\"=\"2\"\n"
                           "\"SizeAdjustX\"=\"2000\"\n\"SizeAdjustY\"=\"2000\"\n"
                           "[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Method]\n\"ChgSpeed\"=\"0\"\n");
    std::string out = InXvfb(dir, kProgram + R"SH( /s & pid=$!
seen=""
# Samples until the three pictures have shown in turn, or 60 s have passed on a slow machine.
end=$((SECONDS + 60))
while [ $SECONDS -lt $end ]; do
  case "$seen" in *"red green blue"*) break;; esac
  rgb=$(import -window root -crop 1x1+320+240 -depth 8 png:- 2>/dev/null | convert png:- -format '%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]' info:- 2>/dev/null)
  set -- $rgb
  c=""
  if [ "${1:-0}" -gt 200 ] && [ "${2:-0}" -lt 60 ] && [ "${3:-0}" -lt 60 ]; then c=red; fi
  if [ "${1:-0}" -lt 60 ] && [ "${2:-0}" -gt 200 ] && [ "${3:-0}" -lt 60 ]; then c=green; fi
  if [ "${1:-0}" -lt 60 ] && [ "${2:-0}" -lt 60 ] && [ "${3:-0}" -gt 200 ]; then c=blue; fi
  if [ -n "$c" ]; then case "$seen" in *"$c") ;; *) seen="$seen $c";; esac; fi
  sleep 0.1
done
echo "seen=$seen"
kill -TERM $pid; wait $pid
)SH");
    std::string seen = test::ScriptValue(out, "seen");
    EXPECT_NE(seen.find("red green blue"), std::string::npos) << out;
}

// The saver with music and the spectrum logo at the bottom centre, one picture far from it. Once
// the logo shows with the ticker in its box (the box's border and the ticker's own navy on both
// sides of the edges, in one screenshot) and the spectrum box, and the red notice at the top left
// when the only track cannot play, the pointer is put at (x, y), shell arithmetic over the logo's
// corner (lx, ly), and `action` (a shell command) is done there. Prints logo=, still= and exit=.
std::string PointerOverTheOverlays(const test::TempDir& dir, const std::string& stops, const std::string& x,
                                   const std::string& y, const std::string& action, bool broken = false) {
    const std::string pics = dir.File("pics"), music = dir.File("music");
    const std::string track = broken ? "echo 'no sound here' >'" + music + "/broken.mp3'"
                                     : "sox -q -n -r 22050 -c 1 '" + music + "/tone.wav' synth 60 sine 440";
    const std::string setup = "mkdir -p '" + pics + "' '" + music + "' && convert -size 64x48 xc:red '" +
                              pics + "/a.bmp' && " + track;
    EXPECT_EQ(std::system(setup.c_str()), 0);
    WriteRegistry(
        dir, "\"Folder\"=\"" + pics +
                 "\"\n\"PosRandom\"=\"0\"\n\"Interval\"=\"600\"\n\"UseSound\"=\"1\"\n"
                 "\"SoundFolder\"=\"" +
                 music + "\"\n" + stops +
                 "\n[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\LOGO]\n"
                 "\"DispTitle\"=\"1\"\n\"LogoSpectrum\"=\"1\"\n\"LogoImgPos\"=\"0\"\n"
                 "\n[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Method]\n\"ChgSpeed\"=\"0\"\n");
    // The ticker's second row and the spectrum box's second column are never drawn on; on that row
    // the ticker stands from 149 to 293 pixels in from the logo's left edge, inside the box's border.
    const std::string logo = std::string(LUMORA_SOURCE_DIR) + "/resources/images/LMTITLE.bmp";
    const std::string expected = std::string("6070b0 000080 000080 6070b0 000080") + (broken ? " 1" : "");
    return InXvfb(dir, "export LUMORA_AUDIO_OUTPUT=null\nset -- $(identify -format '%w %h' '" + logo +
                           "')\nlx=$(((640 - $1) / 2)) ly=$((480 - $2)) ty=$((480 - $2 + 9))\n"
                           "probe=\"%[hex:p{$((lx + 148)),$ty}] %[hex:p{$((lx + 149)),$ty}] "
                           "%[hex:p{$((lx + 293)),$ty}] %[hex:p{$((lx + 294)),$ty}] "
                           "%[hex:p{$((lx + 44)),$((ly + 3))}]\"\n"
                           "px=$((" +
                           x + ")) py=$((" + y + "))\nshot=" + dir.File("shot.png") + "\nexpected='" +
                           expected + "'\nbroken=" + (broken ? "1" : "") + "\n" + kProgram + R"SH( /s & pid=$!
seen=""
end=$((SECONDS + 60))
while [ $SECONDS -lt $end ]; do
  kill -0 $pid 2>/dev/null || break
  if import -window root "$shot" 2>/dev/null; then
    seen=$(convert "$shot" -format "$probe" info: 2>/dev/null | tr A-F a-f)
    # The notice's red letters, anywhere along the top left.
    [ -n "$broken" ] && seen="$seen $(convert "$shot" -crop 300x20+0+0 +repage -fill white -fuzz 25% -opaque red \
      -fill black +opaque white -format '%[fx:maxima>0]' info: 2>/dev/null)"
  fi
  [ "$seen" = "$expected" ] && break
  sleep 0.1
done
echo "logo=$seen"
xdotool mousemove $px $py
# Moves that follow each other closely reach the program as one, and the first move only sets
# where the pointer starts: the input is given again until the program has gone.
step=24
for i in $(seq 100); do
  kill -0 $pid 2>/dev/null || break
  )SH" + action + R"SH(
  sleep 0.2
done
if kill -0 $pid 2>/dev/null; then echo still=1; kill -9 $pid; fi
wait $pid; echo "exit=$?"
)SH");
}

// A click, and a turn of the wheel either way, which X gives as a press of buttons 4 and 5.
TEST_F(EndToEndTest, AClickOrAWheelTurnOverTheTickerOrThePictureEndsTheSaver) {
    if (!test::HaveTool("import") || !test::HaveTool("convert") || !test::HaveTool("sox"))
        GTEST_SKIP() << "no imagemagick or sox";
    // The ticker stands 149 pixels in from the logo's left edge, 8 down, 145 x 18.
    struct Case {
        const char *x, *y, *action;
    } cases[] = {{"lx + 149 + 72", "ly + 8 + 9", "xdotool click 1"},
                 {"lx + 149 + 72", "ly + 8 + 9", "xdotool click 4"},
                 {"320", "100", "xdotool click 5"}};
    for (const Case& c : cases) {
        test::TempDir run;
        std::string out = PointerOverTheOverlays(run, "\"StopOnMouseMove\"=\"0\"\n\"StopOnMouseClick\"=\"1\"\n", c.x,
                                                 c.y, c.action);
        const std::string where = std::string(c.action) + " at " + c.x + ", " + c.y + "\n" + out;
        ASSERT_EQ(test::ScriptValue(out, "logo"), "6070b0 000080 000080 6070b0 000080") << where;
        EXPECT_EQ(test::ScriptValue(out, "still"), "") << where;
        EXPECT_EQ(test::ScriptValue(out, "exit"), "0") << where;
    }
}

TEST_F(EndToEndTest, AMoveOverTheTickerTheSpectrumOrTheNoticeEndsTheSaver) {
    if (!test::HaveTool("import") || !test::HaveTool("convert") || !test::HaveTool("sox"))
        GTEST_SKIP() << "no imagemagick or sox";
    // From rest over the ticker (149, 8, 145 x 18 from the logo's corner), the spectrum (43, 2,
    // 102 x 25) or the red notice at the top left of the screen, 24 pixels to the right and back,
    // still over it.
    struct Case {
        const char* where;
        const char *x, *y;
        bool broken;
    } cases[] = {{"ticker", "lx + 149 + 40", "ly + 8 + 9", false},
                 {"spectrum", "lx + 43 + 30", "ly + 2 + 12", false},
                 {"notice", "8", "10", true}};
    for (const Case& c : cases) {
        test::TempDir run;
        std::string out =
            PointerOverTheOverlays(run, "\"StopOnMouseMove\"=\"1\"\n\"StopOnMouseClick\"=\"0\"\n", c.x, c.y,
                                   "xdotool mousemove_relative -- $step 0; step=$((-step))", c.broken);
        ASSERT_EQ(test::ScriptValue(out, "logo"),
                  std::string("6070b0 000080 000080 6070b0 000080") + (c.broken ? " 1" : ""))
            << c.where << "\n"
            << out;
        EXPECT_EQ(test::ScriptValue(out, "still"), "") << c.where << "\n" << out;
        EXPECT_EQ(test::ScriptValue(out, "exit"), "0") << c.where << "\n" << out;
    }
}

// Installing, the password and the letters that do nothing need no display: run by a user from a
// console (no DISPLAY, no Qt platform chosen) they end with 0, and only "/i" writes the desktop
// entry, for the program's own file whatever it is called, and says so. Where the entry cannot be
// written, "/i" says why in one line and ends with 1.
TEST(EndToEndConsoleTest, ModesWithoutAWindowRunWithoutADisplay) {
    if (!std::ifstream(kProgram)) GTEST_SKIP() << "the program is not built";
    if (!test::WhyNotAsUser().empty()) GTEST_SKIP() << test::WhyNotAsUser();
    test::TempDir dir;
    chmod(dir.Path().c_str(), 0777);
    const std::string program = test::CopyOfTheProgram(dir.File("app"), "my saver");
    // The daemon's working link, where the machine has one, is what an entry runs; in the tests'
    // private copy of its folder there is none.
    test::RemovePrivateSaverLink();
    const std::string link = SaverLinkPath(kMateSaverFolder);
    const std::string runs = std::filesystem::exists(link) ? link : program;
    struct Case {
        const char* mode;
        bool installs;
        const char* dataFolder; // instead of the test's own
        bool folderAtEntry = false; // a folder stands where the entry goes
    } cases[] = {{"/i", true, nullptr},  {"-I", true, nullptr}, {"/a", false, nullptr},
                 {"/a 1234", false, nullptr}, {"/x", false, nullptr}, {"s", false, nullptr},
                 {"/i", false, "/proc/nope"}, {"/i", false, nullptr, true}};
    int n = 0;
    for (const Case& c : cases) {
        const std::string run = dir.File("run" + std::to_string(++n));
        std::filesystem::create_directories(run);
        const std::string data = c.dataFolder ? c.dataFolder : run + "/data";
        const std::string entry = data + "/applications/screensavers/lumora.desktop";
        if (c.folderAtEntry) std::filesystem::create_directories(entry + "/old");
        test::CommandOutput("chmod -R a+rwX '" + run + "'");
        const std::string command = test::AsUser() + "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME='" +
                                    run + "' XDG_DATA_HOME='" + data + "' LUMORA_REGISTRY='" + run +
                                    "/registry.reg' timeout 60 " + test::ShellQuoted(program) + " " + c.mode +
                                    " 2>'" + run + "/err'; echo \"exit=$?\"";
        const std::string out = test::CommandOutput(command);
        const std::string err = test::ReadFile(run + "/err");
        const std::string where = std::string(c.mode) + " " + data + "\n" + out + err;
        const bool refused = c.dataFolder || c.folderAtEntry;
        EXPECT_EQ(test::ScriptValue(out, "exit"), refused ? "1" : "0") << where;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), refused ? 1 : 0) << where;
        if (refused) {
            EXPECT_EQ(err.rfind("lumora: could not install the screen saver: Cannot create file \"" + entry + "\". ", 0), 0u)
                << where;
        }
        EXPECT_EQ(std::filesystem::is_regular_file(entry), c.installs) << where;
        if (!c.installs) continue;
        EXPECT_NE(out.find("lumora: wrote " + entry + ", which runs " + runs + " /s\n"), std::string::npos) << where;
        EXPECT_NE(test::ReadFile(entry).find("\nTryExec=" + runs + "\n"), std::string::npos) << where;
    }
}

// The README's root step, as "sudo -E" runs it (root with the user's HOME): root links the program
// (a copy under another name) into mate-screensaver's folder, says so, and writes nothing into the
// home. A user's "/i" from another build then keeps to the link, which the daemon runs, and says
// which build that is and what to run to change it.
TEST(EndToEndConsoleTest, RootLinksAndAnotherBuildsEntryKeepsToTheLink) {
    if (!std::ifstream(kProgram)) GTEST_SKIP() << "the program is not built";
    if (!test::SaverFolderIsPrivate())
        GTEST_SKIP() << "needs root and a private copy of " << kMateSaverFolder << ": "
                     << test::WhySaverFolderIsNotPrivate();
    test::TempDir dir;
    chmod(dir.Path().c_str(), 0777);
    const std::string built = test::CopyOfTheProgram(dir.File("a"), "my saver");
    const std::string other = test::CopyOfTheProgram(dir.File("b"));
    const std::string home = dir.File("home");
    std::filesystem::create_directories(home);
    chmod(home.c_str(), 0777);
    const std::string env = "env -u DISPLAY -u XDG_DATA_HOME HOME='" + home + "' LUMORA_REGISTRY='" +
                            dir.File("registry.reg") + "' ";
    test::RemovePrivateSaverLink();
    const std::string link = SaverLinkPath(kMateSaverFolder);
    std::string out = test::CommandOutput(env + test::ShellQuoted(built) + " /i 2>&1; echo \"exit=$?\"");
    EXPECT_EQ(test::ScriptValue(out, "exit"), "0") << out;
    EXPECT_NE(out.find("lumora: linked " + link + " to " + built + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find(test::ShellQuoted(built) + " /i"), std::string::npos) << out;
    EXPECT_EQ(std::filesystem::read_symlink(link), built) << out;
    EXPECT_TRUE(std::filesystem::is_empty(home)) << out;

    out = test::CommandOutput(test::AsUser() + env + test::ShellQuoted(other) + " /i 2>&1; echo \"exit=$?\"");
    const std::string entry = home + "/.local/share/applications/screensavers/lumora.desktop";
    EXPECT_EQ(test::ScriptValue(out, "exit"), "0") << out;
    EXPECT_NE(out.find("lumora: wrote " + entry + ", which runs " + link + " /s\n"), std::string::npos) << out;
    EXPECT_NE(out.find(link + " runs the build at " + built + ", not this one; to run this one, run \"sudo " +
                       test::ShellQuoted(other) + " /i\""),
              std::string::npos)
        << out;
    EXPECT_NE(test::ReadFile(entry).find("\nExec=" + link + " /s\n"), std::string::npos) << out;
    test::RemovePrivateSaverLink();
}

// The saver, the preview and the settings dialog need an X server: without one (no DISPLAY, or one
// where no server answers) they say so in one line and end with 1, where Qt alone would abort.
TEST(EndToEndConsoleTest, WindowedModesWithoutAnXServerSaySoInOneLine) {
    if (!std::ifstream(kProgram)) GTEST_SKIP() << "the program is not built";
    const std::string program = std::filesystem::canonical(kProgram).string();
    // No test server takes a number this high (tests/support/with-xvfb).
    for (const char* display : {"", ":59999"})
        for (const char* mode : {"", "/c", "/s", "/p 1234"}) {
            test::TempDir dir;
            const std::string command =
                std::string("env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ") +
                (*display ? "DISPLAY=" + std::string(display) : std::string("-u DISPLAY")) +
                " XDG_DATA_HOME='" + dir.File("data") + "' LUMORA_REGISTRY='" + dir.File("registry.reg") +
                "' timeout 60 '" + program + "' " + mode + " 2>'" + dir.File("err") +
                "' >/dev/null; echo \"exit=$?\"";
            const std::string out = test::CommandOutput(command);
            std::ifstream errFile(dir.File("err"));
            std::string err((std::istreambuf_iterator<char>(errFile)), std::istreambuf_iterator<char>());
            const std::string where = std::string("DISPLAY=") + display + " " + mode + "\n" + err;
            EXPECT_EQ(test::ScriptValue(out, "exit"), "1") << where;
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << where;
            EXPECT_NE(err.find("X display"), std::string::npos) << where;
        }
}

} // namespace
} // namespace lumora
