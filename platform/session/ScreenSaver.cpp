#include "platform/session/ScreenSaver.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "framework/Registry.h"

namespace lumora {

namespace {
// Linux has no screensaver password provider: nothing can verify or change a password, which is
// what the old system showed when its provider library was missing.
class NoPasswordProvider : public IScreenSaverPassword {
public:
    bool CanVerify() override { return false; }
    bool VerifyScreenSavePwd(TNativeHandle) override { return true; }
    bool CanChange() override { return false; }
    void PwdChangePassword(const std::string&, TNativeHandle) override {}
};

IScreenSaverPassword* g_provider = nullptr;
std::function<bool()> g_usePasswordSource;
bool g_running = false;

bool ReadUsePasswordFromRegistry() {
    try {
        TRegistry reg;
        reg.SetRootKey(HKEY::HKEY_CURRENT_USER);
        if (!reg.OpenKeyReadOnly("Control Panel\\desktop")) return false;
        if (!reg.ValueExists("ScreenSaveUsePassword")) return false;
        // The system stores it as text; a double word is read as its number.
        if (reg.GetDataType("ScreenSaveUsePassword") == TRegDataType::rdInteger)
            return reg.ReadInteger("ScreenSaveUsePassword") != 0;
        return StrToIntDef(Trim(reg.ReadString("ScreenSaveUsePassword")), 0) != 0;
    } catch (const std::exception&) {
        return false;
    }
}
} // namespace

IScreenSaverPassword& ScreenSaverPassword() {
    static NoPasswordProvider none;
    return g_provider ? *g_provider : none;
}

void SetScreenSaverPassword(IScreenSaverPassword* provider) { g_provider = provider; }

bool ScreenSaveUsePassword() { return g_usePasswordSource ? g_usePasswordSource() : ReadUsePasswordFromRegistry(); }
void SetScreenSaveUsePasswordSource(std::function<bool()> source) { g_usePasswordSource = std::move(source); }

void SetScreenSaverRunning(bool running) { g_running = running; }
bool ScreenSaverRunning() { return g_running; }

namespace {
// The key of the X server a display name connects to, read the way the X client library reads it:
// "[protocol/][host]:number[.screen]". The screens of one display share its saver, and the local
// server is reached alike through ":2", "unix:2" and "unix/:2", so all of these give "local:2";
// a server on another host (or over TCP) keeps its host. A name that is no display name is kept
// as it stands.
std::string DisplayKey(const std::string& display) {
    std::string protocol, name = display;
    if (const size_t slash = name.rfind('/'); slash != std::string::npos) {
        protocol = name.substr(0, slash);
        name.erase(0, slash + 1);
    }
    const auto digits = [](const std::string& s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
    };
    std::string key = display;
    if (const size_t colon = name.rfind(':'); colon != std::string::npos) {
        const size_t dot = name.find('.', colon);
        std::string host = name.substr(0, colon);
        std::string number = name.substr(colon + 1, dot == std::string::npos ? std::string::npos : dot - colon - 1);
        if (digits(number) && (dot == std::string::npos || digits(name.substr(dot + 1)))) {
            for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const bool local = (host.empty() || host == "unix") && (protocol.empty() || protocol == "unix");
            number.erase(0, std::min(number.find_first_not_of('0'), number.size() - 1));
            key = (local ? std::string("local") : host) + ":" + number;
        }
    }
    for (char& c : key)
        if (c == '/') c = '_';
    return key;
}

std::string RuntimeFolder() {
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) return xdg;
    // Without a session's runtime folder, a private one in the temporary folder.
    std::string folder = "/tmp/lumora-" + std::to_string(getuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return {};
    return folder;
}
} // namespace

TSaverDisplayLock::~TSaverDisplayLock() {
    if (fd_ >= 0) close(fd_);
}

bool TSaverDisplayLock::Claim() {
    if (fd_ >= 0) return true;
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return true;
    const std::string folder = RuntimeFolder();
    if (folder.empty()) return true;
    const std::string path = folder + "/lumora-saver-" + DisplayKey(display) + ".lock";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return true;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return !held;
    }
    fd_ = fd;
    return true;
}

} // namespace lumora
