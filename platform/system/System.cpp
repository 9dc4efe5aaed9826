#include "platform/system/System.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace lumora {

namespace {
std::string g_programFolder;
TOSLine g_osLine = TOSLine::NT;

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::string(v) : fallback;
}

std::string Home() { return EnvOr("HOME", "/tmp"); }
} // namespace

std::string ProgramFolder() {
    if (!g_programFolder.empty()) return g_programFolder;
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return ".";
    std::string path(buf.data(), static_cast<size_t>(n));
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

void SetProgramFolder(const std::string& folder) { g_programFolder = folder; }

TOSLine OSLine() { return g_osLine; }
void SetOSLine(TOSLine line) { g_osLine = line; }

std::string ConfigFolder() { return EnvOr("XDG_CONFIG_HOME", Home() + "/.config"); }
std::string DataFolder() { return EnvOr("XDG_DATA_HOME", Home() + "/.local/share"); }
std::string SystemFolder() { return "/usr/share"; }
std::string TempFolder() { return EnvOr("TMPDIR", "/tmp"); }

std::string HomeFolder() {
    std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    if (home.empty())
        if (const passwd* user = getpwuid(getuid()); user && user->pw_dir) home = user->pw_dir;
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    return home.empty() ? "/" : home;
}

} // namespace lumora
