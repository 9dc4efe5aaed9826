#include "platform/session/Installer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "framework/SysUtils.h"
#include "platform/system/System.h"

namespace lumora {

namespace {
// Quoting of an Exec argument: inside double quotes, the characters " ` $ and \ are escaped with
// a backslash, and the whole field's backslashes are doubled once more by the string escaping.
std::string QuoteExecArgument(const std::string& arg) {
    bool plain = !arg.empty();
    for (char c : arg)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/._-+,:@", c))) plain = false;
    if (plain) return arg;
    std::string quoted = "\"";
    for (char c : arg) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    std::string escaped;
    for (char c : quoted) {
        if (c == '\\') escaped += "\\\\";
        else if (c == '\n') escaped += "\\n";
        else escaped += c;
    }
    return escaped;
}
} // namespace

std::string ScreenSaverEntryFolder() { return DataFolder() + "/applications/screensavers"; }

std::string ScreenSaverEntryText(const std::string& programPath) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Lumora\n"
           "Comment=Pictures and music\n"
           "Exec=" +
           QuoteExecArgument(programPath) +
           " /s\n"
           "TryExec=" +
           QuoteExecArgument(programPath) +
           "\n"
           "NoDisplay=true\n"
           "Categories=Screensaver;\n";
}

std::string InstallScreenSaver(const std::string& programPath) {
    std::string folder = ScreenSaverEntryFolder();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::string path = folder + "/lumora.desktop";
    std::string temp = path + ".tmp" + std::to_string(getpid());
    std::string text = ScreenSaverEntryText(programPath);
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw EFCreateError("Cannot create file \"" + path + "\". " + std::strerror(errno));
    size_t done = 0;
    bool ok = true;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0) ok = false;
    if (close(fd) != 0) ok = false;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        std::string reason = std::strerror(errno);
        unlink(temp.c_str());
        throw EFCreateError("Cannot create file \"" + path + "\". " + reason);
    }
    return path;
}

} // namespace lumora
