// The platform pieces of the saver window: the cursor counter, termination signals, the display
// power watch, the screensaver entry, the daemon's window and the old line's password setting.
#include <signal.h>

#include <QCoreApplication>
#include <QThread>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "framework/Registry.h"
#include "platform/system/Clock.h"
#include "platform/display/Cursor.h"
#include "platform/session/Installer.h"
#include "platform/display/NativeWindow.h"
#include "platform/session/PowerWatch.h"
#include "platform/session/ScreenSaver.h"
#include "platform/system/Signals.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

TEST(SaverSeamsTest, CursorHidesOnlyWhileTheCountIsBelowZero) {
    std::vector<bool> applied;
    SetCursorApplier([&](bool hidden) { applied.push_back(hidden); });
    int base = CursorDisplayCount();
    ASSERT_EQ(base, 0);
    EXPECT_EQ(ShowCursor(false), -1);
    EXPECT_TRUE(CursorHidden());
    EXPECT_EQ(ShowCursor(false), -2);
    EXPECT_EQ(ShowCursor(true), -1);
    EXPECT_TRUE(CursorHidden());
    EXPECT_EQ(ShowCursor(true), 0);
    EXPECT_FALSE(CursorHidden());
    EXPECT_EQ(ShowCursor(true), 1);
    EXPECT_EQ(ShowCursor(false), 0);
    // Only the two crossings of the threshold reach the screen.
    EXPECT_EQ(applied, (std::vector<bool>{true, false}));
    SetCursorApplier(nullptr);
}

TEST(SaverSeamsTest, TerminationSignalsArriveOnTheMainThread) {
    std::vector<int> got;
    bool onMain = false;
    InstallCloseSignals([&](int sig) {
        got.push_back(sig);
        onMain = QCoreApplication::instance()->thread() == QThread::currentThread();
    });
    raise(SIGTERM);
    raise(SIGHUP);
    raise(SIGINT);
    for (int i = 0; i < 50 && got.size() < 3; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    RemoveCloseSignals();
    EXPECT_EQ(got, (std::vector<int>{SIGTERM, SIGHUP, SIGINT}));
    EXPECT_TRUE(onMain);
}

TEST(SaverSeamsTest, PowerWatchReportsEachChangeIntoPowerSaving) {
    VirtualClock clock;
    SetClock(&clock);
    FakeDisplayPower power;
    SetDisplayPower(&power);
    TPowerWatch watch(500);
    int calls = 0;
    watch.OnMonitorPower = [&] { ++calls; };
    watch.SetActive(true);
    clock.Advance(2000);
    EXPECT_EQ(calls, 0);
    power.state = TMonitorPower::Standby;
    clock.Advance(600);
    EXPECT_EQ(calls, 1);
    power.state = TMonitorPower::Off; // still saving: no second command
    clock.Advance(600);
    EXPECT_EQ(calls, 1);
    power.state = TMonitorPower::On;
    clock.Advance(600);
    power.state = TMonitorPower::Suspend;
    clock.Advance(600);
    EXPECT_EQ(calls, 2);
    watch.SetActive(false);
    power.state = TMonitorPower::On;
    clock.Advance(600);
    power.state = TMonitorPower::Off;
    clock.Advance(600);
    EXPECT_EQ(calls, 2);
    SetDisplayPower(nullptr);
    SetClock(nullptr);
}

TEST(SaverSeamsTest, InstallerWritesAScreensaverEntryThatStartsTheSaver) {
    test::TempDir dir;
    test::ScopedEnv data("XDG_DATA_HOME", dir.Path());
    std::string path = InstallScreenSaver("/opt/lumora/bin/lumora");
    EXPECT_EQ(path, dir.Path() + "/applications/screensavers/lumora.desktop");
    std::string text = test::ReadFile(path);
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=/opt/lumora/bin/lumora /s\n"), std::string::npos);
    // A hidden entry is left out of the menu mate-screensaver lists its themes from.
    EXPECT_EQ(text.find("NoDisplay"), std::string::npos) << text;
    // Exec quotes and escapes the path as an argument; TryExec is a plain path with only the
    // string escapes. (GLib's own reading of these is checked end to end.)
    const std::pair<std::string, std::string> paths[] = {
        {"/home/a b/$x/lu\"mora", "Exec=\"/home/a b/\\\\$x/lu\\\\\"mora\" /s\nTryExec=/home/a b/$x/lu\"mora\n"},
        {"/home/u/100%/lumora", "Exec=\"/home/u/100%/lumora\" /s\nTryExec=/home/u/100%/lumora\n"},
        {"/home/u/a\\b/lumora", "Exec=\"/home/u/a\\\\\\\\b/lumora\" /s\nTryExec=/home/u/a\\\\b/lumora\n"},
        {"/home/u/\u30a2\u30d7\u30ea/lumora", "Exec=\"/home/u/\u30a2\u30d7\u30ea/lumora\" /s\nTryExec=/home/u/\u30a2\u30d7\u30ea/lumora\n"},
    };
    for (const auto& [program, lines] : paths) {
        InstallScreenSaver(program);
        text = test::ReadFile(path);
        EXPECT_NE(text.find("\n" + lines), std::string::npos) << text;
    }
    // Nothing but the entry is left in the folder.
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.Path() + "/applications/screensavers")) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
    // A folder that cannot be made is reported with the reason it could not (a folder under /sys is
    // refused to root as well as to a user), not as a missing folder.
    dir.WriteFile("file", "x");
    for (const auto& [folder, reason] : {std::pair<std::string, std::string>{dir.File("file"), "Not a directory"},
                                         {"/sys/lumora-test", ""}}) {
        test::ScopedEnv file("XDG_DATA_HOME", folder);
        try {
            InstallScreenSaver("/x");
            ADD_FAILURE() << folder << ": no error";
        } catch (const EFCreateError& e) {
            const std::string said = e.what();
            EXPECT_NE(said.find(reason), std::string::npos) << said;
            EXPECT_EQ(said.find("No such file or directory"), std::string::npos) << said;
        }
    }
}

// mate-screensaver runs only the programs in its own folder: root links the program into it, and
// each user's entry runs that link, whichever build it leads to, or the program where there is no
// working link. An entry that already runs it is left as it is.
TEST(SaverSeamsTest, RootLinksIntoTheDaemonsFolderAndTheUsersEntryRunsWhatWillRun) {
    test::TempDir dir;
    test::ScopedEnv data("XDG_DATA_HOME", dir.File("data"));
    const std::string program = dir.WriteFile("bin/lumora", "program");
    const std::string other = dir.WriteFile("other/lumora", "another build");
    chmod(program.c_str(), 0755);
    chmod(other.c_str(), 0755);
    const std::string folder = dir.File("hacks");
    const std::string link = folder + "/lumora";
    const std::string entry = dir.File("data/applications/screensavers/lumora.desktop");
    const auto runs = [&](const std::string& path) {
        return test::ReadFile(entry).find("\nExec=" + path + " /s\nTryExec=" + path + "\n") != std::string::npos;
    };

    // No daemon's folder: nothing to link into, and the entry runs the program.
    EXPECT_THROW(LinkIntoSaverFolder(program, folder), EFCreateError);
    TSaverInstall done = InstallDesktopSaver(program, folder);
    EXPECT_EQ(done.runPath, program);
    EXPECT_FALSE(done.kept);
    EXPECT_FALSE(done.linkMissing);
    EXPECT_EQ(done.linkTarget, "");
    EXPECT_TRUE(runs(program));

    // The folder with no link in it: the link is missing.
    std::filesystem::create_directories(folder);
    done = InstallDesktopSaver(program, folder);
    EXPECT_TRUE(done.linkMissing);
    EXPECT_EQ(done.runPath, program);

    // Root linked another build: the entry runs the link, and says which build that is.
    EXPECT_EQ(LinkIntoSaverFolder(other, folder), link);
    done = InstallDesktopSaver(program, folder);
    EXPECT_EQ(done.runPath, link);
    EXPECT_EQ(done.linkTarget, other);
    EXPECT_FALSE(done.linkMissing);
    EXPECT_TRUE(runs(link));
    // Again: the working entry is left as it is.
    const auto written = std::filesystem::last_write_time(entry);
    std::filesystem::last_write_time(entry, written - std::chrono::hours(1));
    done = InstallDesktopSaver(program, folder);
    EXPECT_TRUE(done.kept);
    EXPECT_EQ(std::filesystem::last_write_time(entry), written - std::chrono::hours(1));

    // Root links this build instead: the link is replaced, and leads here.
    EXPECT_EQ(LinkIntoSaverFolder(program, folder), link);
    EXPECT_EQ(std::filesystem::read_symlink(link), program);
    done = InstallDesktopSaver(program, folder);
    EXPECT_EQ(done.linkTarget, program);
    EXPECT_TRUE(runs(link));

    // A link whose build is gone runs nothing: the entry runs the program again.
    std::filesystem::remove(program);
    dir.WriteFile("bin2/lumora", "program");
    const std::string moved = dir.File("bin2/lumora");
    chmod(moved.c_str(), 0755);
    done = InstallDesktopSaver(moved, folder);
    EXPECT_EQ(done.runPath, moved);
    EXPECT_EQ(done.linkTarget, "");
    EXPECT_TRUE(done.linkMissing);
    EXPECT_TRUE(runs(moved));

    // Something of the daemon's own under that name is never replaced.
    std::filesystem::remove(link);
    dir.WriteFile("hacks/lumora", "the daemon's own");
    EXPECT_THROW(LinkIntoSaverFolder(moved, folder), EFCreateError);
    EXPECT_EQ(test::ReadFile(link), "the daemon's own");
    EXPECT_EQ(InstallDesktopSaver(moved, folder).runPath, moved);
}

TEST(SaverSeamsTest, DaemonWindowIsReadFromTheEnvironmentInHexOrDecimal) {
    const std::pair<const char*, TNativeHandle> cases[] = {
        {"0x1a00003", 0x1a00003}, {"27262979", 27262979}, {"0XFFFFFFFF", 0xFFFFFFFFu}, {"", 0},
        {"0x100000000", 0},       {"-5", 0},              {"12abc", 0},                {"window", 0},
    };
    for (const auto& [text, window] : cases) {
        setenv("XSCREENSAVER_WINDOW", text, 1);
        EXPECT_EQ(ScreenSaverDaemonWindow(), window) << text;
    }
    unsetenv("XSCREENSAVER_WINDOW");
    EXPECT_EQ(ScreenSaverDaemonWindow(), 0u);
}

TEST(SaverSeamsTest, PasswordSettingIsReadFromTheDesktopKey) {
    auto store = std::make_shared<TMemoryRegistryStore>();
    SetRegistryStore(store);
    EXPECT_FALSE(ScreenSaveUsePassword()); // no key at all
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey("Control Panel\\desktop", true));
        reg.WriteString("ScreenSaveUsePassword", "1");
    }
    EXPECT_TRUE(ScreenSaveUsePassword());
    {
        TRegistry reg;
        reg.OpenKey("Control Panel\\desktop", true);
        reg.WriteInteger("ScreenSaveUsePassword", 0);
    }
    EXPECT_FALSE(ScreenSaveUsePassword());
    {
        TRegistry reg;
        reg.OpenKey("Control Panel\\desktop", true);
        reg.WriteString("ScreenSaveUsePassword", "garbage");
    }
    EXPECT_FALSE(ScreenSaveUsePassword());
    // Linux has no provider: nothing verifies or changes a password.
    EXPECT_FALSE(ScreenSaverPassword().CanVerify());
    EXPECT_FALSE(ScreenSaverPassword().CanChange());
    SetRegistryStore(nullptr);
}

} // namespace
} // namespace lumora
