// The real program on the screens users have, in a real X server (Xvfb): monitors that RandR defines
// on one X screen, a Qt scale factor, separate X screens and a window handed over by the desktop's
// screensaver. Pictures are one-pixel checkerboards, so any scaling shows; screenshots stay in the
// test's folder.
#include <cmath>
#include <cstdint>
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

// Shell helpers for the scripts: `shot FILE` saves the root window of the current screen; `pattern
// FILE X Y` prints the two colours of a one-pixel checkerboard whose (X, Y) has the first, or
// "none"; `until_pattern X Y WANT [FILE]` takes shots until (X, Y) shows the pattern WANT;
// `until_all FILE X Y WANT [X Y WANT]...` until one shot shows every point's pattern, since points
// judged in different shots can fall on either side of a change.
const char* const kHelpers = R"SH(
shot() { import -window root "$1" 2>/dev/null; }
pattern() {
  set -- $(convert "$1" -crop 3x2+$2+$3 +repage -depth 8 txt:- 2>/dev/null | awk 'NR>1{print $3}')
  if [ $# -eq 6 ] && [ "$1" != "$2" ] && [ "$3" = "$1" ] && [ "$4" = "$2" ] && [ "$5" = "$1" ] && [ "$6" = "$2" ]; then
    echo "$1$2"; else echo none; fi
}
all_show() {
  f=$1; shift
  while [ $# -ge 3 ]; do [ "$(pattern "$f" $1 $2)" = "$3" ] || return 1; shift 3; done
}
until_all() {
  for i in $(seq 80); do shot "$1"; all_show "$@" && return 0; sleep 0.1; done
  return 1
}
until_pattern() { until_all "${4:-$dir/poll.png}" "$1" "$2" "$3"; }
wait_window() {
  for i in $(seq 50); do xwininfo -root -tree | grep -q '"Lumora"' && return 0; sleep 0.1; done
  return 1
}
stop() {
  kill -TERM $1
  for i in $(seq 50); do kill -0 $1 2>/dev/null || break; sleep 0.1; done
  if kill -0 $1 2>/dev/null; then echo still=1; kill -9 $1; fi
  wait $1; echo "exit=$?"
}
)SH";

const std::string kFirst = "#FFFF00#0000FF";  // yellow and blue
const std::string kSecond = "#FF0000#FFFFFF"; // red and white

class ScreensEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveTool("Xvfb") || !test::HaveTool("xwininfo") || !test::HaveTool("import") ||
            !test::HaveTool("convert") || !test::HaveTool("xrandr"))
            GTEST_SKIP() << "no Xvfb, xwininfo, xrandr or imagemagick";
        if (!std::ifstream(kProgram)) GTEST_SKIP() << "the program is not built";
        // Two 64 x 48 pictures of one-pixel squares, shown at their own size in turn.
        std::string pics = dir.File("pics");
        std::string make = "mkdir -p " + pics + " && convert -size 64x48 pattern:gray50 -fill '#FFFF00' -opaque black " +
                           "-fill '#0000FF' -opaque white -type TrueColor " + pics + "/a1.bmp && " +
                           "convert -size 64x48 pattern:gray50 -fill '#FF0000' -opaque black -type TrueColor " + pics +
                           "/a2.bmp";
        ASSERT_EQ(std::system(make.c_str()), 0);
    }

    void WriteSettings(bool multiMon) {
        dir.WriteFile("registry.reg",
                      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Setting]\n\"Folder\"=\"" +
                          dir.File("pics") + "\"\n\"OrdRandom\"=\"0\"\n\"Interval\"=\"1\"\n\"PosRandom\"=\"0\"\n"
                          "\"SizeAdjust\"=\"0\"\n\"MultiMon\"=\"" + (multiMon ? "1" : "0") + "\"\n"
                          "[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Method]\n\"ChgSpeed\"=\"0\"\n");
    }

    // Runs a script inside a fresh X server started with serverArgs and returns what it printed. The
    // server does not reset between clients (with-xvfb), so monitors that xrandr defines stay.
    std::string InXvfb(const std::string& serverArgs, const std::string& script) {
        std::string path = dir.WriteFile("run.sh", "set -u\ndir=" + dir.Path() + "\nexport LUMORA_REGISTRY=" +
                                                       dir.File("registry.reg") + "\nexport XDG_DATA_HOME=" +
                                                       dir.File("data") + "\nunset QT_QPA_PLATFORM\n" + kHelpers +
                                                       script);
        return test::RunScriptInXvfb(serverArgs, path);
    }

    // Keeps the script's shot.png among the build's artefacts, to look at.
    void KeepShot(const std::string& name) {
        std::string folder = std::string(LUMORA_BINARY_DIR) + "/artefacts/screens";
        std::system(("mkdir -p " + folder + " && cp -f " + dir.File("shot.png") + " " + folder + "/" + name +
                     ".png 2>/dev/null").c_str());
    }

    test::TempDir dir;
};

// Whether "#RRGGBB" is want faded toward black by some share, a tenth of it left at least: the
// cross-fade from the desktop's snapshot to the first picture takes seconds, and how far it has got
// when the screen is read depends on how fast the machine is, but another colour never shows.
bool FadedFrom(const std::string& hex, uint32_t want) {
    if (hex.size() != 7 || hex[0] != '#') return false;
    const auto got = static_cast<uint32_t>(std::stoul(hex.substr(1), nullptr, 16));
    const auto channel = [](uint32_t colour, int shift) { return double((colour >> shift) & 0xFF); };
    double top = 0, share = 0;
    for (int shift : {0, 8, 16})
        if (channel(want, shift) > top) top = channel(want, shift), share = channel(got, shift) / top;
    if (share < 0.1 || share > 1.02) return false;
    for (int shift : {0, 8, 16})
        if (std::abs(channel(got, shift) - share * channel(want, shift)) > 4) return false;
    return true;
}

// Two monitors that RandR splits off one output, under a Qt scale factor of 2: the window covers the
// screen pixel for pixel and each monitor gets its own picture, centred, with one-pixel squares.
TEST_F(ScreensEndToEndTest, RandRMonitorsEachShowAPictureInDevicePixels) {
    WriteSettings(true);
    std::string out = InXvfb("-screen 0 640x480x24", R"SH(
xrandr --setmonitor left 320/160x480/240+0+0 none
xrandr --setmonitor right 320/160x480/240+320+0 screen
QT_SCALE_FACTOR=2 )SH" + kProgram + R"SH( /s & pid=$!
wait_window
echo "window=$(xwininfo -root -tree | grep '"Lumora"' | grep -o '[0-9]*x[0-9]*+[0-9-]*+[0-9-]*' | head -1)"
# The pictures are 64 x 48 and stand in the middle of their monitor: the first from (128, 216) on
# the left one, the second from (448, 216) on the right one.
until_pattern 150 230 ')SH" + kFirst + R"SH(' || echo "first=missing"
until_all $dir/shot.png 150 230 ')SH" + kFirst + "' 470 230 '" + kSecond + "' 128 216 '" + kFirst + R"SH(' || echo "second=missing"
echo "left=$(pattern $dir/shot.png 150 230)"
echo "right=$(pattern $dir/shot.png 470 230)"
echo "corner=$(pattern $dir/shot.png 128 216)"
echo "outside=$(convert $dir/shot.png -crop 1x1+126+216 -depth 8 txt:- | awk 'NR>1{print $3}')"
stop $pid
)SH");
    KeepShot("randr-monitors-scale2");
    EXPECT_EQ(test::ScriptValue(out, "window"), "640x480+0+0") << out;
    EXPECT_EQ(test::ScriptValue(out, "first"), "") << out;
    EXPECT_EQ(test::ScriptValue(out, "second"), "") << out;
    EXPECT_EQ(test::ScriptValue(out, "left"), kFirst) << out;
    EXPECT_EQ(test::ScriptValue(out, "right"), kSecond) << out;
    EXPECT_EQ(test::ScriptValue(out, "corner"), kFirst) << out;    // the picture starts here, not a pixel later
    EXPECT_EQ(test::ScriptValue(out, "outside"), "#000000") << out; // and not a pixel earlier
    EXPECT_EQ(test::ScriptValue(out, "still"), "") << out;
    EXPECT_EQ(test::ScriptValue(out, "exit"), "0") << out;
}

// The logo stands on the left monitor and moves after every change, on either monitor. Where it
// stood, its own monitor's picture comes back (the right monitor's last picture never reaches there:
// restored from it, the old place shows the background). The left monitor shows nothing but its red
// picture and the logo, so what is not red there is one logo-sized box, moved but never grown.
TEST_F(ScreensEndToEndTest, MovingLogoLeavesItsOwnMonitorsPictureBehind) {
    // Red for the left monitor and blue for the right one, each the monitor's size; no effects, so
    // every change is instant and every screenshot shows a finished one.
    std::string make = "mkdir -p " + dir.File("solid") + " && convert -size 640x480 xc:'#FF0000' -type TrueColor " +
                       dir.File("solid") + "/a1.bmp && convert -size 640x480 xc:'#0000FF' -type TrueColor " +
                       dir.File("solid") + "/a2.bmp";
    ASSERT_EQ(std::system(make.c_str()), 0);
    std::string methods;
    for (int i = 0; i < 88; ++i) methods += "\"Method" + std::to_string(i) + "\"=\"0\"\n";
    dir.WriteFile("registry.reg",
                  "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Setting]\n\"Folder\"=\"" +
                      dir.File("solid") + "\"\n\"OrdRandom\"=\"0\"\n\"Interval\"=\"2\"\n\"PosRandom\"=\"0\"\n"
                      "\"SizeAdjust\"=\"0\"\n\"MultiMon\"=\"1\"\n\"UseSound\"=\"0\"\n"
                      "[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\LOGO]\n\"LogoImgPos\"=\"2\"\n"
                      "[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Method]\n\"ChgSpeed\"=\"0\"\n" +
                      methods);
    std::string out = InXvfb("-screen 0 1280x480x24", R"SH(
xrandr --setmonitor left 640/170x480/130+0+0 none
xrandr --setmonitor right 640/170x480/130+640+0 screen
# What is not red on the left monitor, as the box around it.
box() { convert "$1" -crop 640x480+0+0 +repage -fill white +opaque '#FF0000' -fill black -opaque '#FF0000' -format %@ info:; }
)SH" + kProgram + R"SH( /s & pid=$!
wait_window
for i in $(seq 100); do
  shot $dir/shot.png
  [ "$(convert $dir/shot.png -crop 1x1+320+240 -depth 8 txt:- | awk 'NR>1{print $3}')" = "#FF0000" ] && break
  sleep 0.1
done
sleep 0.3; shot $dir/shot.png; first=$(box $dir/shot.png); last=$first; moves=0
echo "first=$first"
# A change every two seconds, on the left and the right monitor in turn: three moves take in two
# after a change on the right one.
for i in $(seq 200); do
  shot $dir/shot.png; now=$(box $dir/shot.png)
  if [ "${now%%+*}" != "${first%%+*}" ]; then
    # A frame caught half shown passes; a box that stays grown is a hole. A busy machine may take a
    # while to finish the frame, so look again for a second before calling it one.
    for j in $(seq 10); do
      sleep 0.1; shot $dir/shot.png; now=$(box $dir/shot.png)
      [ "${now%%+*}" = "${first%%+*}" ] && break
    done
    if [ "${now%%+*}" != "${first%%+*}" ]; then echo "grown=$now"; break; fi
  fi
  [ "$now" != "$last" ] && moves=$((moves + 1)) && last=$now
  [ $moves -ge 3 ] && break
done
echo "moves=$moves"
echo "right=$(convert $dir/shot.png -crop 1x1+960+240 -depth 8 txt:- | awk 'NR>1{print $3}')"
stop $pid
)SH");
    KeepShot("logo-moves-on-two-monitors");
    EXPECT_EQ(test::ScriptValue(out, "first").rfind("200x30+", 0), 0u) << out; // the built-in title, placed
    EXPECT_EQ(test::ScriptValue(out, "grown"), "") << out;
    EXPECT_EQ(test::ScriptValue(out, "moves"), "3") << out;
    EXPECT_EQ(test::ScriptValue(out, "right"), "#0000FF") << out; // the right monitor had its changes
    EXPECT_EQ(test::ScriptValue(out, "exit"), "0") << out;
}

// Two X screens (":0.0" and ":0.1"): each is covered by a window of its own that shows first the
// snapshot of its own desktop, then pictures; input on either closes the saver.
TEST_F(ScreensEndToEndTest, EveryXScreenIsCoveredWithItsOwnDesktopAndPictures) {
    if (!test::HaveTool("xdotool") || !test::HaveTool("xsetroot")) GTEST_SKIP() << "no xdotool or xsetroot";
    const std::string server = "-screen 0 640x480x24 -screen 1 400x300x24";
    // Waits until the saver's windows on both screens are mapped, then prints their geometry.
    const std::string windows = R"SH(
viewable() {
  id=$(DISPLAY=$D.$1 xwininfo -root -tree | grep '"Lumora"' | awk '{print $1}' | head -1)
  [ -n "$id" ] && DISPLAY=$D.$1 xwininfo -id $id | grep -q IsViewable
}
for i in $(seq 100); do viewable 0 && viewable 1 && break; sleep 0.1; done
echo "window0=$(DISPLAY=$D.0 xwininfo -root -tree | grep '"Lumora"' | grep -o '[0-9]*x[0-9]*+[0-9-]*+[0-9-]*' | head -1)"
echo "window1=$(DISPLAY=$D.1 xwininfo -root -tree | grep '"Lumora"' | grep -o '[0-9]*x[0-9]*+[0-9-]*+[0-9-]*' | head -1)"
)SH";
    // The slowest cross-fade shows each screen's own desktop, fading, for seconds after the desktops
    // themselves turned black.
    dir.WriteFile("registry.reg", "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Setting]\n"
                                  "\"Folder\"=\"" + dir.File("pics") + "\"\n\"MultiMon\"=\"1\"\n\"PosRandom\"=\"0\"\n"
                                  "[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Method]\n"
                                  "\"ChgSpeed\"=\"10\"\n");
    std::string out = InXvfb(server, R"SH(D=$DISPLAY
DISPLAY=$D.0 xsetroot -solid '#336699'; DISPLAY=$D.1 xsetroot -solid '#CC3300'
)SH" + kProgram + " /s & pid=$!\n" + windows + R"SH(
DISPLAY=$D.0 xsetroot -solid black; DISPLAY=$D.1 xsetroot -solid black
echo "desktop0=$(DISPLAY=$D.0 import -window root -crop 1x1+600+20 -depth 8 txt:- | awk 'NR>1{print $3}')"
echo "desktop1=$(DISPLAY=$D.1 import -window root -crop 1x1+380+20 -depth 8 txt:- | awk 'NR>1{print $3}')"
stop $pid
)SH");
    EXPECT_EQ(test::ScriptValue(out, "window0"), "640x480+0+0") << out;
    EXPECT_EQ(test::ScriptValue(out, "window1"), "400x300+0+0") << out;
    EXPECT_TRUE(FadedFrom(test::ScriptValue(out, "desktop0"), 0x336699)) << out;
    EXPECT_TRUE(FadedFrom(test::ScriptValue(out, "desktop1"), 0xCC3300)) << out;
    EXPECT_EQ(test::ScriptValue(out, "exit"), "0") << out;

    // Pictures: the first on the primary screen's monitor, the next on the other screen's, each in
    // the middle of its monitor; a mouse move on the second screen ends the saver.
    WriteSettings(true);
    out = InXvfb(server, "D=$DISPLAY\n" + kProgram + " /s & pid=$!\n" + windows + R"SH(
until_pattern 310 230 ')SH" + kFirst + R"SH(' || echo "first=missing"
export DISPLAY=$D.1
# Later changes may use any effect: the picture stands once its corner and its middle show it.
until_all $dir/shot.png 168 126 ')SH" + kSecond + "' 190 140 '" + kSecond + R"SH(' || echo "second=missing"
echo "corner1=$(pattern $dir/shot.png 168 126)"
xdotool mousemove --screen 1 10 10; sleep 0.3; xdotool mousemove --screen 1 100 100
for i in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then echo still=1; kill -9 $pid; fi
wait $pid; echo "exit=$?"
)SH");
    KeepShot("second-x-screen");
    EXPECT_EQ(test::ScriptValue(out, "window0"), "640x480+0+0") << out;
    EXPECT_EQ(test::ScriptValue(out, "window1"), "400x300+0+0") << out;
    EXPECT_EQ(test::ScriptValue(out, "first"), "") << out;
    EXPECT_EQ(test::ScriptValue(out, "second"), "") << out;
    EXPECT_EQ(test::ScriptValue(out, "corner1"), kSecond) << out;
    EXPECT_EQ(test::ScriptValue(out, "still"), "") << out;
    EXPECT_EQ(test::ScriptValue(out, "exit"), "0") << out;
}

// A daemon such as xfce4-screensaver hands its window over in XSCREENSAVER_WINDOW: the saver draws
// inside it at full resolution, leaves input to it and ends with it.
TEST_F(ScreensEndToEndTest, SaverDrawsIntoTheWindowTheDaemonHandsOver) {
    if (!test::HaveTool("xmessage") || !test::HaveTool("xdotool")) GTEST_SKIP() << "no xmessage or xdotool";
    WriteSettings(false);
    std::string out = InXvfb("-screen 0 640x480x24", R"SH(
xsetroot -solid '#808080'
xmessage -name daemonwindow -bg '#336699' -geometry 400x300+100+50 ' ' & box=$!
for i in $(seq 100); do id=$(xdotool search --name daemonwindow | head -1); [ -n "$id" ] && break; sleep 0.1; done
if [ -z "$id" ]; then echo box=missing; kill $box; exit 1; fi
XSCREENSAVER_WINDOW=$(printf '0x%x' $id) )SH" + kProgram + R"SH( /s & pid=$!
for i in $(seq 50); do xwininfo -id $id -tree | grep -q '"Lumora"' && break; sleep 0.1; done
echo "child=$(xwininfo -id $id -tree | grep '"Lumora"' | grep -o '[0-9]*x[0-9]*+[0-9-]*+[0-9-]*' | head -1)"
echo "toplevel=$(xwininfo -root -children | grep -c '"Lumora"')"
# The first picture stands in the middle of the daemon's window (whose inside starts at (101, 51),
# past a one-pixel border): from (269, 177) on the screen.
until_all $dir/shot.png 291 191 ')SH" + kFirst + "' 269 177 '" + kFirst + R"SH(' || echo "first=missing"
echo "corner=$(pattern $dir/shot.png 269 177)"
echo "outside=$(convert $dir/shot.png -crop 1x1+267+177 -depth 8 txt:- | awk 'NR>1{print $3}')"
echo "beside=$(convert $dir/shot.png -crop 1x1+50+20 -depth 8 txt:- | awk 'NR>1{print $3}')"
# Input is the daemon's: a key leaves the saver running.
xdotool key space; sleep 0.5
kill -0 $pid 2>/dev/null && echo "after_key=running"
kill $box
for i in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then echo still=1; kill -9 $pid; fi
wait $pid; echo "exit=$?"
)SH");
    KeepShot("daemon-window");
    EXPECT_EQ(test::ScriptValue(out, "child"), "400x300+0+0") << out;
    EXPECT_EQ(test::ScriptValue(out, "toplevel"), "0") << out;
    EXPECT_EQ(test::ScriptValue(out, "first"), "") << out;
    EXPECT_EQ(test::ScriptValue(out, "corner"), kFirst) << out;
    EXPECT_EQ(test::ScriptValue(out, "outside"), "#000000") << out;
    EXPECT_EQ(test::ScriptValue(out, "beside"), "#808080") << out; // the root around the daemon's window shows through
    EXPECT_EQ(test::ScriptValue(out, "after_key"), "running") << out;
    EXPECT_EQ(test::ScriptValue(out, "still"), "") << out; // the saver ends with the daemon's window
    EXPECT_EQ(test::ScriptValue(out, "exit"), "0") << out;
}

} // namespace
} // namespace lumora
