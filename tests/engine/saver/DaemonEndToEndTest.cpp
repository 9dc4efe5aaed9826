// The desktop's screen saver daemons running the real program, set up as the README says:
// XScreenSaver from the README's lines in ~/.xscreensaver, mate-screensaver from the entry that
// "lumora /i" writes and the README's gsettings lines.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/SaverLink.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

namespace lumora {
namespace {

const std::string kProgram = std::string(LUMORA_BINARY_DIR) + "/bin/lumora";
const std::string kReadme = std::string(LUMORA_SOURCE_DIR) + "/README.md";

// XScreenSaver launches no program as root, and mate-screensaver's folder of programs only root
// may write: where the tests run as root, what a user would run goes through an unprivileged user.
bool IsRoot() { return geteuid() == 0; }
std::string AsUser() { return IsRoot() ? "setpriv --reuid=nobody --regid=nogroup --clear-groups " : ""; }

// The README's lines for ~/.xscreensaver: its fenced block that starts with "mode:".
std::string ReadmeXScreenSaverLines() {
    std::istringstream in(test::ReadFile(kReadme));
    std::string line, block;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.rfind("```", 0) == 0) {
            if (inside && block.rfind("mode:", 0) == 0) return block;
            inside = !inside;
            block.clear();
        } else if (inside) {
            block += line + "\n";
        }
    }
    return "";
}

// The README's commands that start with prefix (indented code lines).
std::vector<std::string> ReadmeCommands(const std::string& prefix) {
    std::istringstream in(test::ReadFile(kReadme));
    std::vector<std::string> commands;
    std::string line;
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(' ');
        if (start == 4 && line.compare(start, prefix.size(), prefix) == 0) commands.push_back(line.substr(start));
    }
    return commands;
}

// A path as the shell reads it back.
std::string Quoted(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
    return text;
}

// Shell functions of the daemon scripts: "shown" waits until the test's picture (solid magenta) is
// on the screen, "ours" lists this test's own running savers (by their HOME), "gone" waits until
// none is left.
const char* kScriptFunctions = R"SH(
shown() {
  local end=$((SECONDS + 90))
  while [ $SECONDS -lt $end ]; do
    if import -window root "$shot" 2>/dev/null &&
      [ "$(convert "$shot" -fuzz 12% -fill white -opaque '#ff00ff' -fill black +opaque white \
        -format '%[fx:maxima>0]' info: 2>/dev/null)" = 1 ]; then return 0; fi
    sleep 0.3
  done
  return 1
}
ours() {
  for p in $(pgrep -x lumora); do
    tr '\0' '\n' </proc/$p/environ 2>/dev/null | grep -qxF "HOME=$HOME" && echo $p
  done
}
gone() {
  for i in $(seq 200); do [ -z "$(ours)" ] && return 0; "$@" >/dev/null 2>&1; sleep 0.1; done
  return 1
}
)SH";

class DaemonEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool", "xdpyinfo", "import", "convert", "setpriv", "pgrep"})
            if (!test::HaveTool(tool)) GTEST_SKIP() << "no " << tool;
        if (!std::ifstream(kProgram)) GTEST_SKIP() << "the program is not built";
        // An unprivileged user reads and writes the test's folders.
        chmod(dir.Path().c_str(), 0777);
        std::filesystem::create_directories(dir.File("pictures"));
        ASSERT_EQ(test::CommandOutput("convert -size 64x48 xc:'#ff00ff' '" + dir.File("pictures/magenta.png") +
                                      "' 2>&1; echo $?"),
                  "0\n");
    }

    // A home folder whose settings show the test's picture, for a daemon run under it.
    std::string MakeHome(const std::string& name) const {
        const std::string home = dir.File(name);
        dir.WriteFile(name + "/.config/lumora/registry.reg",
                      "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Setting]\n"
                      "\"Folder\"=\"" +
                          dir.File("pictures") + "\"\n");
        test::CommandOutput("chmod -R a+rwX '" + dir.Path() + "'");
        return home;
    }

    // Runs script inside a fresh X server with the daemons' environment: no Qt platform of the
    // tests', no settings file but the home folder's, no sound card.
    std::string RunDaemonScript(const std::string& home, const std::string& script, const std::string& runner = "") {
        const std::string path = dir.WriteFile(
            "run-" + std::to_string(++runs_) + ".sh",
            "set -u\nunset QT_QPA_PLATFORM LUMORA_REGISTRY XDG_CONFIG_HOME XDG_DATA_HOME XDG_RUNTIME_DIR\n"
            "export HOME='" + home + "' LUMORA_AUDIO_OUTPUT=null LUMORA_DEVICES=fake:'" + dir.File("devices") +
                "'\nshot='" + dir.File("shot.png") + "'\n" + kScriptFunctions +
                "for i in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done\n" + script);
        return test::CommandOutput("timeout 300 " + test::WithXvfb() + " '-screen 0 640x480x24' " + runner +
                                   " bash " + path + " 2>&1");
    }

    test::TempDir dir;
    int runs_ = 0;
};

// The README's lines, as written, with the program at a path of its own and at one with a blank.
TEST_F(DaemonEndToEndTest, XScreenSaverRunsTheShowFromTheReadmesLinesAndAKeyEndsIt) {
    for (const char* tool : {"xscreensaver", "xscreensaver-command"})
        if (!test::HaveTool(tool)) GTEST_SKIP() << "no " << tool;
    const std::string lines = ReadmeXScreenSaverLines();
    ASSERT_NE(lines.find("/path/to/lumora"), std::string::npos) << "README: no lines for ~/.xscreensaver";
    // The daemon's user may not reach the build (a checkout in root's home): it runs a copy of the
    // program and its audio library.
    std::filesystem::create_directories(dir.File("app"));
    for (const auto& file : std::filesystem::directory_iterator(std::string(LUMORA_BINARY_DIR) + "/bin"))
        if (file.path().filename() == "lumora" || file.path().extension() == ".so")
            std::filesystem::copy_file(file.path(), dir.File("app/" + file.path().filename().string()));
    const std::string copy = dir.File("app/lumora");
    std::filesystem::create_directories(dir.File("my apps/bin"));
    std::filesystem::create_symlink(copy, dir.File("my apps/bin/lumora"));
    for (const std::string& program : {copy, "\"" + dir.File("my apps/bin/lumora") + "\""}) {
        const std::string home = MakeHome("xhome" + std::to_string(runs_));
        dir.WriteFile("xhome" + std::to_string(runs_) + "/.xscreensaver", Replaced(lines, "/path/to/lumora", program));
        test::CommandOutput("chmod -R a+rwX '" + home + "'");
        const std::string out = RunDaemonScript(home, AsUser() + R"SH(xscreensaver -no-splash -verbose & daemon=$!
for i in $(seq 100); do xscreensaver-command -version >/dev/null 2>&1 && break; sleep 0.1; done
xscreensaver-command -activate >/dev/null
shown && echo shown=1
echo "running=$(ours | wc -l)"
gone xdotool key space && echo ended=1
echo "left=$(ours | wc -l)"
kill $daemon; wait $daemon 2>/dev/null
for p in $(ours); do kill -9 $p; done
)SH");
        EXPECT_EQ(test::ScriptValue(out, "shown"), "1") << program << "\n" << out;
        EXPECT_EQ(test::ScriptValue(out, "running"), "1") << program << "\n" << out;
        EXPECT_EQ(test::ScriptValue(out, "ended"), "1") << program << "\n" << out;
        EXPECT_EQ(test::ScriptValue(out, "left"), "0") << program << "\n" << out;
    }
}

// The entry "lumora /i" writes is listed by the menu mate-screensaver reads its themes from, and
// GLib reads it back to the program's own path, whatever letters that path holds. Run as a user,
// who cannot link into the daemon's folder, it says what to run.
TEST_F(DaemonEndToEndTest, TheEntryIsListedForMateAndReadByGLibForAnyProgramPath) {
    if (!std::filesystem::exists("/usr/bin/python3") ||
        test::CommandOutput("/usr/bin/python3 -c \"import gi; gi.require_version('MateMenu', '2.0')\" 2>&1; echo $?") !=
            "0\n")
        GTEST_SKIP() << "no python3-gi with MateMenu (gir1.2-matemenu-2.0)";
    const std::string menu = std::string(LUMORA_SOURCE_DIR) + "/tests/support/mate-menu-entry.py";
    const bool mateFolder = std::filesystem::is_directory(kMateSaverFolder);
    int n = 0;
    for (const std::string folder : {"plain", "my apps/bin", "a\"b", "$HOME x", "\u30a2\u30d7\u30ea/bin", "100%"}) {
        const std::string home = dir.File("home" + std::to_string(++n));
        const std::string program = dir.File("programs" + std::to_string(n) + "/" + folder + "/lumora");
        std::filesystem::create_directories(std::filesystem::path(program).parent_path());
        std::filesystem::create_directories(home);
        // A copy: a link would lead back to the build, which the daemon's folder may name.
        std::filesystem::copy_file(kProgram, program);
        test::CommandOutput("chmod -R a+rwX '" + dir.Path() + "'");
        const std::string env = "env -i PATH=/usr/bin:/bin HOME='" + home + "' XDG_CURRENT_DESKTOP=MATE ";
        const std::string install = test::CommandOutput(AsUser() + env + Quoted(program) + " /i 2>&1; echo \"exit=$?\"");
        const std::string where = folder + "\n" + install;
        EXPECT_EQ(test::ScriptValue(install, "exit"), "0") << where;
        const std::string entry = home + "/.local/share/applications/screensavers/lumora.desktop";
        EXPECT_NE(install.find("lumora: wrote " + entry + ", which runs " + program + " /s\n"), std::string::npos)
            << where;
        EXPECT_EQ(install.find("sudo ") != std::string::npos, mateFolder) << where;
        const std::string read = test::CommandOutput(env + "/usr/bin/python3 '" + menu + "' 2>&1");
        EXPECT_EQ(test::ScriptValue(read, "menu.lumora"), entry) << where << read;
        EXPECT_EQ(test::ScriptValue(read, "glib.read"), "1") << where << read;
        EXPECT_EQ(test::ScriptValue(read, "glib.name"), "Lumora") << where << read;
        std::string argv = "[\"" + Replaced(Replaced(program, "\\", "\\\\"), "\"", "\\\"") + "\", \"/s\"]";
        EXPECT_EQ(test::ScriptValue(read, "glib.argv"), argv) << where << read;
    }
}

// mate-screensaver, with the program linked into its folder and chosen as the README says, runs
// the show in its window and ends it when it deactivates. Linking needs root.
TEST_F(DaemonEndToEndTest, MateScreensaverRunsTheShowAndEndsItOnDeactivating) {
    for (const char* tool : {"mate-screensaver", "mate-screensaver-command", "dbus-run-session", "gsettings"})
        if (!test::HaveTool(tool)) GTEST_SKIP() << "no " << tool;
    if (!IsRoot()) GTEST_SKIP() << "linking into " << kMateSaverFolder << " needs root";
    const std::vector<std::string> choose = ReadmeCommands("gsettings set org.mate.screensaver ");
    ASSERT_EQ(choose.size(), 2u) << "README: no gsettings lines";
    test::SaverLinkRestorer restorer;
    const std::string home = MakeHome("mhome");
    std::string script = "export GSETTINGS_BACKEND=keyfile XDG_CURRENT_DESKTOP=MATE\n'" + kProgram +
                         "' /i; echo \"install=$?\"\n";
    for (const std::string& line : choose) script += line + "\n";
    // No lock: deactivating would ask for a password.
    script += "gsettings set org.mate.screensaver lock-enabled false\n";
    script += R"SH(mate-screensaver --no-daemon & daemon=$!
for i in $(seq 100); do mate-screensaver-command --query >/dev/null 2>&1 && break; sleep 0.1; done
mate-screensaver-command --activate
shown && echo shown=1
echo "running=$(ours | wc -l)"
gone mate-screensaver-command --deactivate && echo ended=1
echo "left=$(ours | wc -l)"
kill $daemon; wait $daemon 2>/dev/null
for p in $(ours); do kill -9 $p; done
)SH";
    const std::string out = RunDaemonScript(home, script, "dbus-run-session --");
    EXPECT_EQ(test::ScriptValue(out, "install"), "0") << out;
    EXPECT_EQ(test::ScriptValue(out, "shown"), "1") << out;
    EXPECT_EQ(test::ScriptValue(out, "running"), "1") << out;
    EXPECT_EQ(test::ScriptValue(out, "ended"), "1") << out;
    EXPECT_EQ(test::ScriptValue(out, "left"), "0") << out;
}

} // namespace
} // namespace lumora
