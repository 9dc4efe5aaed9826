#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include "framework/Forms.h"
#include "platform/system/Clock.h"

using namespace lumora;

namespace {
struct AppReset {
    ~AppReset() { Application().ResetForTests(); }
};
} // namespace

TEST(Application, IdleDoneFalseRepeatsDoneTrueWaitsForEvents) {
    AppReset reset;
    int calls = 0;
    Application().OnIdle = [&](bool& done) {
        ++calls;
        done = calls >= 5; // ask for four repeats, then wait
    };
    int afterWait = 0;
    QTimer::singleShot(100, [&] {
        afterWait = calls;
        Application().Terminate();
    });
    Application().Run();
    EXPECT_GE(afterWait, 5);
    // Waiting means a handful of calls (one per event), not a busy loop over 100 ms.
    EXPECT_LT(afterWait, 50);
}

TEST(Application, ExceptionInHandlerGoesToDefaultHandler) {
    AppReset reset;
    std::string seen;
    Application().OnException = [&](const std::exception& e) { seen = e.what(); };
    Application().Guard([] { throw Exception("boom"); });
    EXPECT_EQ(seen, "boom");
}

TEST(Timer, IntervalZeroIsStoppedOnVirtualClock) {
    VirtualClock clock;
    SetClock(&clock);
    int ticks = 0;
    {
        TTimer t;
        t.OnTimer = [&] { ++ticks; };
        t.SetInterval(100);
        t.SetEnabled(true);
        clock.Advance(350);
        EXPECT_EQ(ticks, 3);
        t.SetInterval(0);
        clock.Advance(1000);
        EXPECT_EQ(ticks, 3);
        t.SetInterval(50);
        t.SetEnabled(false);
        clock.Advance(1000);
        EXPECT_EQ(ticks, 3);
    }
    clock.Advance(1000); // a freed timer never fires
    EXPECT_EQ(ticks, 3);
    {
        // A handler assigned after the interval still gets the ticks.
        TTimer late;
        late.SetInterval(100);
        late.OnTimer = [&] { ++ticks; };
        clock.Advance(250);
        EXPECT_EQ(ticks, 5);
    }
    SetClock(nullptr);
}

namespace {
class Worker : public TThread {
public:
    Worker() : TThread(true) {}
    bool onMain = false;
    int value = 0;

protected:
    void Execute() override {
        Synchronize([this] {
            onMain = IsMainThread();
            value = 42;
        });
    }
};
} // namespace

TEST(Thread, SynchronizeRunsOnMainThreadWhileWaitForServicesIt) {
    Worker w;
    bool terminated = false;
    bool terminatedOnMain = false;
    w.OnTerminate = [&] {
        terminated = true;
        terminatedOnMain = IsMainThread();
    };
    w.Start();
    w.WaitFor();
    EXPECT_TRUE(w.onMain);
    EXPECT_EQ(w.value, 42);
    EXPECT_TRUE(terminated);
    EXPECT_TRUE(terminatedOnMain);
}

// A worker still waiting in Synchronize when the program exits must not hold the exit up. The test
// runs itself again as the exiting program.
TEST(Thread, ProgramExitsWhileAWorkerWaitsInSynchronize) {
    struct Waiter : TThread {
        Waiter() : TThread(false) {}
        std::atomic<bool> asked{false};
        void Execute() override {
            asked = true;
            Synchronize([] {});
        }
    };
    if (std::getenv("LUMORA_EXIT_WHILE_SYNCHRONIZING")) {
        auto* waiter = new Waiter; // still running at exit, on purpose
        waiter->Start();
        while (!waiter->asked) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::exit(0);
    }
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string command = std::string("LUMORA_EXIT_WHILE_SYNCHRONIZING=1 timeout 20 ") + self +
                                " --gtest_filter=Thread.ProgramExitsWhileAWorkerWaitsInSynchronize >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "124 means the exit hung";
}

TEST(Messages, PostedMessagesArriveOnMainAndFreedTargetsGetNothing) {
    std::vector<uint32_t> got;
    HWND h;
    {
        TMessageTarget target([&](TMessage& m) { got.push_back(m.Msg); });
        h = target.Handle();
        std::thread([h] { PostMessage(h, WM_USER + 1, 0, 0); }).join();
        QCoreApplication::processEvents();
        EXPECT_EQ(got, std::vector<uint32_t>{WM_USER + 1});
        PostMessage(h, WM_USER + 2, 0, 0);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(got.size(), 1u);
    EXPECT_FALSE(PostMessage(h, WM_USER, 0, 0));
}
