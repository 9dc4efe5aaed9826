#include "tests/support/PrivateSaverFolder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/session/Installer.h"
#include "tests/support/CommandOutput.h"

namespace lumora::test {

namespace {
bool g_private = false;
std::string g_notPrivate = "the test program did not ask for it";
std::string g_notAsUser;

std::string Failed(const std::string& what) { return what + ": " + std::strerror(errno); }

// Copies the entry name of the folder open as from into the folder open as to.
bool CopyEntry(int from, int to, const char* name) {
    struct stat st {};
    if (fstatat(from, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(static_cast<size_t>(st.st_size) + 1);
        const ssize_t n = readlinkat(from, name, target.data(), target.size());
        if (n < 0 || static_cast<size_t>(n) >= target.size()) return false;
        target[static_cast<size_t>(n)] = '\0';
        return symlinkat(target.data(), to, name) == 0;
    }
    if (!S_ISREG(st.st_mode)) return true; // the daemon runs files only
    const int in = openat(from, name, O_RDONLY | O_CLOEXEC);
    const int out = openat(to, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    bool ok = in >= 0 && out >= 0;
    char buf[65536];
    for (ssize_t n; ok && (n = read(in, buf, sizeof buf)) != 0;)
        ok = n > 0 && write(out, buf, static_cast<size_t>(n)) == n;
    if (in >= 0) close(in);
    if (out >= 0) close(out);
    return ok;
}

// Whether root can run a command as the user "nobody", tried with the very command that
// test::AsUser() puts before the tests' commands. Returns why not, or "". In a user namespace that
// maps only root, the kernel refuses every other id.
std::string RootCannotSwitchUsers() {
    if (geteuid() != 0) return "";
    int status = 0;
    std::string said = CommandOutput("setpriv --reuid=nobody --regid=nogroup --clear-groups true 2>&1", &status);
    if (status == 0) return "";
    while (!said.empty() && (said.back() == '\n' || said.back() == ' ')) said.pop_back();
    return "root here cannot run commands as the user nobody, as in a user namespace that maps no other user (" +
           (said.empty() ? "setpriv failed" : said) + ")";
}

// Mounts the copy; returns why it could not.
std::string Privatize() {
    if (geteuid() != 0) return "the tests run as a user, who cannot write it";
    if (!g_notAsUser.empty()) return g_notAsUser;
    const char* folder = kMateSaverFolder;
    const int original = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (original < 0) return Failed(folder);
    std::string failure;
    // A namespace of its own, whose mounts never reach the machine's (systemd shares "/").
    if (unshare(CLONE_NEWNS) != 0) failure = Failed("unshare");
    else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) failure = Failed("mount --make-rprivate /");
    else if (mount("lumora-tests", folder, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755") != 0)
        failure = Failed(std::string("mount tmpfs on ") + folder);
    if (!failure.empty()) {
        close(original);
        return failure;
    }
    const int copy = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* entries = fdopendir(original); // takes over original
    bool ok = copy >= 0 && entries;
    while (ok) {
        const dirent* e = readdir(entries);
        if (!e) break;
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            ok = CopyEntry(dirfd(entries), copy, e->d_name);
    }
    if (entries) closedir(entries);
    else close(original);
    if (copy >= 0) close(copy);
    return ok ? "" : Failed(std::string("copying ") + folder);
}
} // namespace

std::string MakeSaverFolderPrivate() {
    g_notAsUser = RootCannotSwitchUsers();
    g_notPrivate = Privatize();
    g_private = g_notPrivate.empty();
    return g_notPrivate;
}

bool SaverFolderIsPrivate() { return g_private; }
const std::string& WhyNotAsUser() { return g_notAsUser; }
const std::string& WhySaverFolderIsNotPrivate() { return g_notPrivate; }

void RemovePrivateSaverLink() {
    if (g_private) unlink(SaverLinkPath(kMateSaverFolder).c_str());
}

} // namespace lumora::test
