// The real program in a real X server (Xvfb): full screen, preview in a window of the test's own,
// and a folder of solid-colour pictures shown in turn.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

namespace lumora {
namespace {

const std::string kProgram = std::string(LUMORA_BINARY_DIR) + "/bin/lumora";

// Runs a script inside a fresh X server, once it answers, and returns what it printed.
std::string InXvfb(const test::TempDir& dir, const std::string& script) {
    std::string path = dir.WriteFile("run.sh", "set -u\nexport LUMORA_REGISTRY=" + dir.File("registry.reg") +
                                                   "\nexport XDG_DATA_HOME=" + dir.File("data") +
                                                   "\nunset QT_QPA_PLATFORM\n"
                                                   "for i in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; "
                                                   "sleep 0.1; done\n" +
                                                   script);
    return test::RunScriptInXvfb("-screen 0 640x480x24", path);
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
    WriteRegistry(dir, "\"Folder\"=\"" + dir.File("none") + "\"\n");
    std::string out = InXvfb(dir, "export XDG_RUNTIME_DIR=" + dir.Path() + "\n" + kProgram + R"SH( /s & pid=$!
for i in $(seq 50); do xwininfo -root -tree | grep -q '"Lumora"' && break; sleep 0.1; done
timeout 20 )SH" + kProgram + R"SH( /s; echo "second=$?"
echo "windows=$(xwininfo -root -tree | grep -c '"Lumora"')"
kill -0 $pid 2>/dev/null && echo first=running
kill -TERM $pid; wait $pid
)SH");
    EXPECT_EQ(test::ScriptValue(out, "second"), "0") << out; // refused, not timed out
    EXPECT_EQ(test::ScriptValue(out, "windows"), "1") << out;
    EXPECT_EQ(test::ScriptValue(out, "first"), "running") << out;
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

} // namespace
} // namespace lumora
