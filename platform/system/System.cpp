#include "platform/system/System.h"

#include <langinfo.h>
#include <pwd.h>
#include <strings.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace lumora {

namespace {
std::string g_programFolder;
TOSLine g_osLine = TOSLine::NT;

// A folder named by the environment: the XDG rules count only an absolute path, and ignore a
// relative one, which would put the files under whatever folder the program was started in.
std::string EnvFolderOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && v[0] == '/' ? std::string(v) : fallback;
}

} // namespace

std::string ProgramPath() {
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string();
}

std::string ProgramFolder() {
    if (!g_programFolder.empty()) return g_programFolder;
    const std::string path = ProgramPath();
    if (path.empty()) return ".";
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

void SetProgramFolder(const std::string& folder) { g_programFolder = folder; }

TOSLine OSLine() { return g_osLine; }
void SetOSLine(TOSLine line) { g_osLine = line; }

void UseUtf8CharacterSet() {
    const char* codeset = nl_langinfo(CODESET);
    if (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0) return;
    // "ja_JP.eucJP@euro" keeps "ja_JP"; the POSIX locale "C" becomes "C.UTF-8".
    std::string name = std::setlocale(LC_CTYPE, nullptr);
    name = name.substr(0, name.find_first_of(".@"));
    if (name == "POSIX") name = "C";
    if (!std::setlocale(LC_CTYPE, (name + ".UTF-8").c_str())) std::setlocale(LC_CTYPE, "C.UTF-8");
}

// A service or an "env -i" run has no HOME: the account's home it is, never a shared folder such
// as /tmp. A relative HOME counts as none, as the XDG rules say of their folders: it would put the
// files under whatever folder the program was started in.
std::string HomeFolder() {
    std::string home;
    if (const char* env = std::getenv("HOME"); env && env[0] == '/') {
        home = env;
    } else {
        std::vector<char> buf(16384);
        passwd entry{};
        passwd* found = nullptr;
        if (getpwuid_r(getuid(), &entry, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir &&
            found->pw_dir[0] == '/')
            home = found->pw_dir;
    }
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    return home.empty() ? "/" : home;
}
std::string ConfigFolder() { return EnvFolderOr("XDG_CONFIG_HOME", HomeFolder() + "/.config"); }
std::string DataFolder() { return EnvFolderOr("XDG_DATA_HOME", HomeFolder() + "/.local/share"); }
std::string SystemFolder() { return "/usr/share"; }
std::string TempFolder() {
    const char* v = std::getenv("TMPDIR");
    return v && *v ? std::string(v) : "/tmp";
}

} // namespace lumora
