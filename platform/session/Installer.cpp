#include "platform/session/Installer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "framework/SysUtils.h"
#include "platform/system/System.h"

namespace lumora {

namespace {
// A desktop entry's string escaping, which every string value gets.
std::string EscapeString(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\') escaped += "\\\\";
        else if (c == '\n') escaped += "\\n";
        else if (c == '\t') escaped += "\\t";
        else if (c == '\r') escaped += "\\r";
        else escaped += c;
    }
    return escaped;
}

// Quoting of an Exec argument: inside double quotes, the characters " ` $ and \ are escaped with
// a backslash; then the whole field gets the string escaping, which doubles its backslashes once
// more. A percent sign stays single: GLib, which mate-screensaver's menu reads entries with, looks
// for the program under the name as written and drops an entry whose "%%" names no file.
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
    return EscapeString(quoted);
}

std::string Reason() { return std::strerror(errno); }
} // namespace

std::string ScreenSaverEntryFolder() { return DataFolder() + "/applications/screensavers"; }

// No NoDisplay: the menu that mate-screensaver lists its themes from leaves such entries out. The
// category and OnlyShowIn keep it out of the desktops' application menus, as the entries of the
// screensaver packages do.
std::string ScreenSaverEntryText(const std::string& runPath) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Lumora\n"
           "Comment=Pictures and music\n"
           "Exec=" +
           QuoteExecArgument(runPath) +
           " /s\n"
           "TryExec=" +
           EscapeString(runPath) +
           "\n"
           "StartupNotify=false\n"
           "Terminal=false\n"
           "Categories=Screensaver;\n"
           "OnlyShowIn=MATE;XFCE;\n";
}

std::string SaverLinkPath(const std::string& saverFolder) { return saverFolder + "/lumora"; }

std::string WorkingSaverLink(const std::string& saverFolder) {
    std::error_code ec;
    const std::string link = SaverLinkPath(saverFolder);
    if (!std::filesystem::is_symlink(link, ec)) return "";
    std::filesystem::path target = std::filesystem::canonical(link, ec);
    if (ec || !std::filesystem::is_regular_file(target, ec) || access(target.c_str(), X_OK) != 0) return "";
    return target.string();
}

std::string LinkIntoSaverFolder(const std::string& programPath, const std::string& saverFolder) {
    const std::string link = SaverLinkPath(saverFolder);
    const std::string failure = "Cannot create link \"" + link + "\". ";
    std::error_code ec;
    if (!std::filesystem::is_directory(saverFolder, ec))
        throw EFCreateError(failure + "There is no folder " + saverFolder + ": mate-screensaver is not installed.");
    auto status = std::filesystem::symlink_status(link, ec);
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_symlink(status))
        throw EFCreateError(failure + "Something other than a link is there.");
    // A new link beside the old one, renamed over it: the daemon never finds the name missing.
    const std::string temp = link + ".tmp" + std::to_string(getpid());
    unlink(temp.c_str());
    if (symlink(programPath.c_str(), temp.c_str()) != 0) throw EFCreateError(failure + Reason());
    if (rename(temp.c_str(), link.c_str()) != 0) {
        std::string reason = Reason();
        unlink(temp.c_str());
        throw EFCreateError(failure + reason);
    }
    return link;
}

bool InstallsAsRoot() { return geteuid() == 0; }

std::string ScreenSaverEntryPath() { return ScreenSaverEntryFolder() + "/lumora.desktop"; }

std::string InstallScreenSaver(const std::string& runPath) {
    const std::string folder = ScreenSaverEntryFolder();
    const std::string path = ScreenSaverEntryPath();
    const std::string failure = "Cannot create file \"" + path + "\". ";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw EFCreateError(failure + ec.message());
    const std::string temp = path + ".tmp" + std::to_string(getpid());
    const std::string text = ScreenSaverEntryText(runPath);
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw EFCreateError(failure + Reason());
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
        std::string reason = Reason();
        unlink(temp.c_str());
        throw EFCreateError(failure + reason);
    }
    return path;
}

TSaverInstall InstallDesktopSaver(const std::string& programPath, const std::string& saverFolder) {
    TSaverInstall done;
    std::error_code ec;
    done.linkTarget = WorkingSaverLink(saverFolder);
    if (!done.linkTarget.empty()) {
        done.runPath = SaverLinkPath(saverFolder);
    } else {
        done.runPath = programPath;
        done.linkMissing = std::filesystem::is_directory(saverFolder, ec);
    }
    done.entry = ScreenSaverEntryPath();
    // An entry that already says this is left as it is, and so is the time it was written. Only a
    // file is read: the stream throws on reading a folder that stands in the entry's place, which
    // writing the entry then reports.
    std::ifstream in;
    if (std::filesystem::is_regular_file(done.entry, ec)) in.open(done.entry, std::ios::binary);
    const std::string old((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    done.kept = in.is_open() && old == ScreenSaverEntryText(done.runPath);
    if (!done.kept) InstallScreenSaver(done.runPath);
    return done;
}

} // namespace lumora
