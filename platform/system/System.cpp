#include "platform/system/System.h"

#include <langinfo.h>
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

void UseUtf8CharacterSet() {
    const char* codeset = nl_langinfo(CODESET);
    if (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0) return;
    // "ja_JP.eucJP@euro" keeps "ja_JP"; the POSIX locale "C" becomes "C.UTF-8".
    std::string name = std::setlocale(LC_CTYPE, nullptr);
    name = name.substr(0, name.find_first_of(".@"));
    if (name == "POSIX") name = "C";
    if (!std::setlocale(LC_CTYPE, (name + ".UTF-8").c_str())) std::setlocale(LC_CTYPE, "C.UTF-8");
}

std::string ConfigFolder() { return EnvOr("XDG_CONFIG_HOME", Home() + "/.config"); }
std::string DataFolder() { return EnvOr("XDG_DATA_HOME", Home() + "/.local/share"); }
std::string SystemFolder() { return "/usr/share"; }
std::string TempFolder() { return EnvOr("TMPDIR", "/tmp"); }

} // namespace lumora
