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

#include "platform/session/Installer.h"
#include "tests/support/PrivateSaverFolder.h"
#include "tests/support/ProgramCopy.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

namespace lumora {
namespace {

const std::string kProgram = std::string(LUMORA_BINARY_DIR) + "/bin/lumora";
const std::string kReadme = std::string(LUMORA_SOURCE_DIR) + "/README.md";

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
        if (start == 4 && line.compare(start, prefix.size(), prefix) == 0)
            commands.push_back(line.substr(start, line.find(" #") - start)); // without the comment
    }
    return commands;
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
        if (!test::WhyNotAsUser().empty()) GTEST_SKIP() << test::WhyNotAsUser();
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

// The README's lines, as written, with the program at a path of its own and, quoted as the README
// says, at one with a blank, a quote, a double quote and a dollar sign: XScreenSaver runs the line
// through the shell.
TEST_F(DaemonEndToEndTest, XScreenSaverRunsTheShowFromTheReadmesLinesAndAKeyEndsIt) {
    for (const char* tool : {"xscreensaver", "xscreensaver-command"})
        if (!test::HaveTool(tool)) GTEST_SKIP() << "no " << tool;
    const std::string lines = ReadmeXScreenSaverLines();
    ASSERT_NE(lines.find("/path/to/lumora"), std::string::npos) << "README: no lines for ~/.xscreensaver";
    const std::string copy = test::CopyOfTheProgram(dir.File("app"));
    const std::string odd = dir.File("my $HOME \"apps\" it's/bin");
    std::filesystem::create_directories(odd);
    std::filesystem::create_symlink(copy, odd + "/lumora");
    // The file's reader takes a backslash pair for one backslash, so the quote's '\'' is written '\\''.
    for (const std::string& program : {copy, Replaced(test::ShellQuoted(odd + "/lumora"), "\\", "\\\\")}) {
        const std::string home = MakeHome("xhome" + std::to_string(runs_));
        dir.WriteFile("xhome" + std::to_string(runs_) + "/.xscreensaver", Replaced(lines, "/path/to/lumora", program));
        test::CommandOutput("chmod -R a+rwX '" + home + "'");
        const std::string out = RunDaemonScript(home, test::AsUser() + R"SH(xscreensaver -no-splash -verbose & daemon=$!
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
// GLib reads it back to the program's own path, whatever letters that path holds (or to the
// daemon's link, where the machine has a working one). Run as a user, who cannot link into the
// daemon's folder, it says what to run.
TEST_F(DaemonEndToEndTest, TheEntryIsListedForMateAndReadByGLibForAnyProgramPath) {
    if (!std::filesystem::exists("/usr/bin/python3") ||
        test::CommandOutput("/usr/bin/python3 -c \"import gi; gi.require_version('MateMenu', '2.0')\" 2>&1; echo $?") !=
            "0\n")
        GTEST_SKIP() << "no python3-gi with MateMenu (gir1.2-matemenu-2.0)";
    const std::string menu = std::string(LUMORA_SOURCE_DIR) + "/tests/support/mate-menu-entry.py";
    const bool mateFolder = std::filesystem::is_directory(kMateSaverFolder);
    test::RemovePrivateSaverLink();
    const std::string link = SaverLinkPath(kMateSaverFolder);
    const bool linked = std::filesystem::exists(link);
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
        const std::string install = test::CommandOutput(test::AsUser() + env + test::ShellQuoted(program) + " /i 2>&1; echo \"exit=$?\"");
        const std::string where = folder + "\n" + install;
        EXPECT_EQ(test::ScriptValue(install, "exit"), "0") << where;
        const std::string entry = home + "/.local/share/applications/screensavers/lumora.desktop";
        const std::string runs = linked ? link : program;
        EXPECT_NE(install.find("lumora: wrote " + entry + ", which runs " + runs + " /s\n"), std::string::npos)
            << where;
        EXPECT_EQ(install.find("sudo ") != std::string::npos, mateFolder) << where;
        const std::string read = test::CommandOutput(env + "/usr/bin/python3 '" + menu + "' 2>&1");
        EXPECT_EQ(test::ScriptValue(read, "menu.lumora"), entry) << where << read;
        EXPECT_EQ(test::ScriptValue(read, "glib.read"), "1") << where << read;
        EXPECT_EQ(test::ScriptValue(read, "glib.name"), "Lumora") << where << read;
        std::string argv = "[\"" + Replaced(Replaced(runs, "\\", "\\\\"), "\"", "\\\"") + "\", \"/s\"]";
        EXPECT_EQ(test::ScriptValue(read, "glib.argv"), argv) << where << read;
    }
}

// mate-screensaver set up by the README's steps: root links the program into the daemon's folder,
// the user writes the entry and chooses it with the README's gsettings lines, and runs the daemon,
// which runs the show in its window and ends it on a mouse move (with the daemon's default lock it
// would ask for a password instead, and the show would stay up).
TEST_F(DaemonEndToEndTest, MateScreensaverRunsTheShowSetUpByTheReadmesStepsAndAMouseMoveEndsIt) {
    for (const char* tool : {"mate-screensaver", "mate-screensaver-command", "dbus-run-session", "gsettings"})
        if (!test::HaveTool(tool)) GTEST_SKIP() << "no " << tool;
    if (!test::SaverFolderIsPrivate())
        GTEST_SKIP() << "the README's root step needs root and a private copy of " << kMateSaverFolder << ": "
                     << test::WhySaverFolderIsNotPrivate();
    const std::vector<std::string> rootStep = ReadmeCommands("sudo /path/to/lumora /i");
    const std::vector<std::string> userStep = ReadmeCommands("/path/to/lumora /i");
    const std::vector<std::string> choose = ReadmeCommands("gsettings set org.mate.screensaver ");
    ASSERT_EQ(rootStep.size(), 1u) << "README: no root step";
    ASSERT_EQ(userStep.size(), 1u) << "README: no user step";
    // The theme, and the lock turned off: with the daemon's default lock, deactivating asks for a
    // password and the show stays up.
    ASSERT_EQ(choose.size(), 3u) << "README: no gsettings lines";
    test::RemovePrivateSaverLink();
    const std::string program = test::ShellQuoted(test::CopyOfTheProgram(dir.File("app")));
    const std::string home = MakeHome("mhome");
    // Root's step keeps the user's HOME, as "sudo -E" does: it must leave nothing there that the
    // user's step cannot write.
    const std::string asRoot = Replaced(rootStep[0].substr(5), "/path/to/lumora", program);
    const std::string root = test::CommandOutput("env -u XDG_DATA_HOME HOME='" + home + "' " + asRoot +
                                                 " 2>&1; echo \"exit=$?\"");
    EXPECT_EQ(test::ScriptValue(root, "exit"), "0") << root;
    const std::string user = test::CommandOutput(test::AsUser() + "env -u XDG_DATA_HOME HOME='" + home + "' " +
                                                 Replaced(userStep[0], "/path/to/lumora", program) +
                                                 " 2>&1; echo \"exit=$?\"");
    EXPECT_EQ(test::ScriptValue(user, "exit"), "0") << user;
    EXPECT_NE(user.find("which runs " + SaverLinkPath(kMateSaverFolder) + " /s\n"), std::string::npos) << user;
    std::string script = "export GSETTINGS_BACKEND=keyfile XDG_CURRENT_DESKTOP=MATE\n";
    for (const std::string& line : choose) script += line + "\n";
    script += R"SH(mate-screensaver --no-daemon & daemon=$!
for i in $(seq 100); do mate-screensaver-command --query >/dev/null 2>&1 && break; sleep 0.1; done
mate-screensaver-command --activate
shown && echo shown=1
echo "running=$(ours | wc -l)"
wiggle() { xdotool mousemove $((RANDOM % 600 + 20)) $((RANDOM % 440 + 20)); }
gone wiggle && echo ended=1
echo "left=$(ours | wc -l)"
kill $daemon; wait $daemon 2>/dev/null
for p in $(ours); do kill -9 $p; done
)SH";
    const std::string out = RunDaemonScript(home, script, test::AsUser() + "dbus-run-session --");
    EXPECT_EQ(test::ScriptValue(out, "shown"), "1") << out;
    EXPECT_EQ(test::ScriptValue(out, "running"), "1") << out;
    EXPECT_EQ(test::ScriptValue(out, "ended"), "1") << out;
    EXPECT_EQ(test::ScriptValue(out, "left"), "0") << out;
    test::RemovePrivateSaverLink();
}

} // namespace
} // namespace lumora
