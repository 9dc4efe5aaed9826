// Shared main of the test programs: a Qt application on the offscreen platform, then GoogleTest.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "framework/Registry.h"
#include "platform/Platform.h"
#include "tests/support/PrivateSaverFolder.h"

namespace {

// The tests' own home. What the tests start writes into HOME and the XDG folders: D-Bus's
// autolaunch under an X server keeps the bus's address in ~/.dbus/session-bus/, Qt keeps its
// dialogs' state in ~/.config/QtProject.conf, the program keeps its locks in the runtime folder.
// None of it may reach the caller's own folders, nor their desktop session's bus: each test program
// gets a fresh home, which goes when it ends (a program that is killed leaves it in the temporary
// folder, never in the caller's home). A test program that a test starts again (to run a check in a
// fresh process, which may end with _exit) keeps to its parent's home, which the parent removes.
class TestHome {
public:
    TestHome() : owner_(getpid()) {
        if (const char* parent = std::getenv(kParentHome); parent && *parent && std::filesystem::is_directory(parent)) {
            owner_ = 0;
            return;
        }
        const char* tmp = std::getenv("TMPDIR");
        std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/lumora-home-XXXXXX";
        if (!mkdtemp(path.data())) {
            std::perror("tests: cannot make a home of their own");
            std::exit(2);
        }
        path_ = path;
        const struct {
            const char* name;
            const char* folder;
        } folders[] = {{"XDG_CONFIG_HOME", "/.config"},
                       {"XDG_CACHE_HOME", "/.cache"},
                       {"XDG_DATA_HOME", "/.local/share"},
                       {"XDG_STATE_HOME", "/.local/state"},
                       {"XDG_RUNTIME_DIR", "/runtime"}};
        setenv("HOME", path_.c_str(), 1);
        for (const auto& f : folders) {
            const std::string folder = path_ + f.folder;
            std::filesystem::create_directories(folder);
            chmod(folder.c_str(), 0700); // the XDG rules ask this of the runtime folder
            setenv(f.name, folder.c_str(), 1);
        }
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        setenv(kParentHome, path_.c_str(), 1);
    }
    ~TestHome() {
        // A child that a test forked and that ends through exit() leaves it to its parent.
        if (getpid() != owner_) return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

private:
    static constexpr const char* kParentHome = "LUMORA_TEST_HOME";
    pid_t owner_;
    std::string path_;
};

} // namespace

int main(int argc, char** argv) {
    // Before any thread starts: a mount namespace is one process's only while it has one thread.
    lumora::test::MakeSaverFolderPrivate();
    // Static, so that a test program that ends through exit() removes it too.
    static TestHome home;
    // The tools the tests run (lame, vorbiscomment, xdotool) read their arguments and write text in
    // the caller's locale, which is ASCII for a login without LANG: the tests and everything they
    // start run in one UTF-8 locale, whatever the caller's. Tests that run the program in another
    // locale say so where they start it.
    setenv("LC_ALL", "C.UTF-8", 1);
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    lumora::InstallPlatform();
    // Tests never touch the user's own settings: without an explicit registry file they get one in memory.
    if (!std::getenv("LUMORA_REGISTRY")) lumora::SetRegistryStore(std::make_shared<lumora::TMemoryRegistryStore>());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
