#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include "framework/Forms.h"
#include "platform/Clock.h"

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
