// The inter-process layer: the message wire format, message numbers, and the real implementation
// between this process and a forked one (shared memory, mutex, windows found by title, thread
// queues, stale windows of ended processes), the waitable timer, and the fake's virtual timers.

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "framework/Forms.h"
#include "platform/system/Ipc.h"
#include "tests/support/TempDir.h"

using namespace lumora;
using namespace lumora::test;

namespace {

// A real implementation in a folder of its own, with names no other run shares.
struct RealIpc {
    TempDir dir;
    TPosixIpc ipc{dir.Path() + "/ipc", "lumoratest-" + std::to_string(getpid()) + "-"};
};

// Runs child() in a forked process; returns its exit status (or -1 when it did not exit normally).
template <class F>
int InChild(F child) {
    const pid_t pid = fork();
    if (pid == 0) {
        int code = 99;
        try {
            code = child();
        } catch (...) {
        }
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Processes events until pred holds or two seconds pass.
template <class P>
bool PumpUntil(P pred) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) return false;
        Application().ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TIpcMessage Message(uint32_t msg, uint64_t w, int64_t l, std::vector<uint32_t> data = {}) {
    TIpcMessage m;
    m.Msg = msg;
    m.WParam = w;
    m.LParam = l;
    m.Data = std::move(data);
    return m;
}

} // namespace

TEST(IpcWire, MessagesRoundTripAndMalformedBytesAreRefused) {
    const TIpcMessage m = Message(0xC123, 0xFFFFFFFFFFull, -5, {1, 2, 0xFFFFFFFF});
    const auto bytes = EncodeIpcMessage(m);
    TIpcMessage back;
    ASSERT_TRUE(DecodeIpcMessage(bytes.data(), bytes.size(), back));
    EXPECT_EQ(back.Msg, m.Msg);
    EXPECT_EQ(back.WParam, m.WParam);
    EXPECT_EQ(back.LParam, -5);
    EXPECT_EQ(back.Data, m.Data);

    for (size_t cut = 0; cut < bytes.size(); ++cut)
        EXPECT_FALSE(DecodeIpcMessage(bytes.data(), cut, back)) << "cut at " << cut;
    auto longer = bytes;
    longer.push_back(0);
    EXPECT_FALSE(DecodeIpcMessage(longer.data(), longer.size(), back));
    auto badMagic = bytes;
    badMagic[0] ^= 1;
    EXPECT_FALSE(DecodeIpcMessage(badMagic.data(), badMagic.size(), back));
    auto hugeCount = bytes;
    hugeCount[24] = 0xFF;
    hugeCount[27] = 0x7F;
    EXPECT_FALSE(DecodeIpcMessage(hugeCount.data(), hugeCount.size(), back));
    EXPECT_FALSE(DecodeIpcMessage(nullptr, 0, back));

    // More data than a message carries is cut to the limit.
    TIpcMessage big = Message(1, 0, 0, std::vector<uint32_t>(kIpcMaxData + 10, 7));
    const auto bigBytes = EncodeIpcMessage(big);
    ASSERT_TRUE(DecodeIpcMessage(bigBytes.data(), bigBytes.size(), back));
    EXPECT_EQ(back.Data.size(), kIpcMaxData);
}

TEST(IpcWire, RegisteredNumbersComeFromTheNameWithoutRegardToCase) {
    const uint32_t sending = MessageNumberForName("WM_SendingData");
    EXPECT_GE(sending, 0xC000u);
    EXPECT_LE(sending, 0xFFFFu);
    EXPECT_EQ(MessageNumberForName("wm_sendingdata"), sending);
    EXPECT_NE(MessageNumberForName("WM_RequestingData"), sending);
    // Another process computes the same number.
    EXPECT_EQ(InChild([&] { return MessageNumberForName("WM_SendingData") == sending ? 0 : 1; }), 0);
}

TEST(PosixIpc, SharedMemoryIsSeenByAnotherProcessAndGoesWithItsCreator) {
    RealIpc r;
    auto block = r.ipc.OpenSharedMemory("Block", 2600);
    ASSERT_NE(block, nullptr);
    uint8_t* view = block->Map(false);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(block->Size(), 2600u);
    view[0] = 42;
    auto queue = r.ipc.CreateThreadQueue();
    ASSERT_NE(queue, nullptr);
    const uint64_t parent = queue->ThreadId();

    // The child opens the block by name, reads, writes and tells the parent's thread.
    const int status = InChild([&] {
        auto opened = r.ipc.OpenSharedMemory("Block", 2600);
        if (!opened) return 1;
        uint8_t* v = opened->Map(false);
        if (!v || v[0] != 42) return 2;
        v[2599] = 7;
        return r.ipc.PostThreadMessage(parent, Message(0xC001, 10, 0, {5})) ? 0 : 3;
    });
    EXPECT_EQ(status, 0);
    TIpcMessage m;
    ASSERT_TRUE(queue->Receive(m, 2000));
    EXPECT_EQ(m.WParam, 10u);
    EXPECT_EQ(m.Data, std::vector<uint32_t>{5});
    EXPECT_EQ(view[2599], 7);

    // A read-only view of the same block.
    auto second = r.ipc.OpenSharedMemory("Block", 2600);
    ASSERT_NE(second, nullptr);
    const uint8_t* ro = second->Map(true);
    ASSERT_NE(ro, nullptr);
    EXPECT_EQ(ro[2599], 7);
    second.reset();
    block.reset();
    auto fresh = r.ipc.OpenSharedMemory("Block", 16);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Map(false)[0], 0) << "the name went with the last of its holders";
    EXPECT_EQ(r.ipc.OpenSharedMemory("Empty", 0), nullptr);
}

TEST(PosixIpc, ABlockAndItsMutexOutliveTheirCreatorWhileAnotherProcessHoldsThem) {
    RealIpc r;
    int made[2], done[2];
    ASSERT_EQ(pipe(made), 0);
    ASSERT_EQ(pipe(done), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        // The creator writes, waits until the parent holds both, and ends the orderly way.
        int code = 1;
        {
            auto block = r.ipc.OpenSharedMemory("Feed", 2600);
            auto mutex = r.ipc.OpenMutex("Feed_SMMutex");
            if (block && mutex && block->Map(false)) {
                block->Map(false)[0] = 42;
                char c = 1, go = 0;
                if (write(made[1], &c, 1) == 1 && read(done[0], &go, 1) == 1) code = 0;
            }
        }
        _exit(code);
    }
    char c = 0;
    ASSERT_EQ(read(made[0], &c, 1), 1);
    auto held = r.ipc.OpenSharedMemory("Feed", 2600);
    auto heldMutex = r.ipc.OpenMutex("Feed_SMMutex");
    ASSERT_TRUE(held && heldMutex);
    ASSERT_EQ(write(done[1], &c, 1), 1);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (int fd : {made[0], made[1], done[0], done[1]}) close(fd);

    // One who comes later finds the same block and the same mutex, not new ones.
    auto later = r.ipc.OpenSharedMemory("Feed", 2600);
    ASSERT_NE(later, nullptr);
    EXPECT_EQ(later->Map(false)[0], 42);
    auto laterMutex = r.ipc.OpenMutex("Feed_SMMutex");
    ASSERT_NE(laterMutex, nullptr);
    ASSERT_TRUE(heldMutex->Lock(50));
    EXPECT_FALSE(laterMutex->Lock(50));
    heldMutex->Unlock();
    EXPECT_TRUE(laterMutex->Lock(50));
    laterMutex->Unlock();
    held.reset();
    later.reset();
    heldMutex.reset();
    laterMutex.reset();
    // With the last holder gone the names are free again.
    auto fresh = r.ipc.OpenSharedMemory("Feed", 2600);
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Map(false)[0], 0);
}

TEST(PosixIpc, NamedMutexExcludesAnotherProcess) {
    RealIpc r;
    auto mutex = r.ipc.OpenMutex("Block_SMMutex");
    ASSERT_NE(mutex, nullptr);
    ASSERT_TRUE(mutex->Lock(-1));
    EXPECT_EQ(InChild([&] {
                  auto m = r.ipc.OpenMutex("Block_SMMutex");
                  return m && !m->Lock(50) ? 0 : 1;
              }),
              0);
    mutex->Unlock();
    EXPECT_EQ(InChild([&] {
                  auto m = r.ipc.OpenMutex("Block_SMMutex");
                  if (!m || !m->Lock(1000)) return 1;
                  m->Unlock();
                  return 0;
              }),
              0);
    EXPECT_TRUE(mutex->Lock(0));
    mutex->Unlock();
}

TEST(PosixIpc, WindowsAreFoundByTitleAndGetPostsOnTheMainThread) {
    RealIpc r;
    std::vector<TIpcMessage> got;
    auto window = r.ipc.CreateWindow("TApplication", "VisHost", [&](TIpcMessage& m) {
        EXPECT_TRUE(IsMainThread());
        got.push_back(m);
    });
    ASSERT_NE(window, nullptr);
    auto other = r.ipc.CreateWindow("TAudioPlayer", "", [&](TIpcMessage& m) { got.push_back(m); });
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(r.ipc.FindWindow("TApplication", "VisHost"), window->Handle());
    EXPECT_EQ(r.ipc.FindWindow("", "VisHost"), window->Handle());
    EXPECT_EQ(r.ipc.FindWindow("TApplication", "VisHos"), 0u);
    EXPECT_EQ(r.ipc.FindWindow("TAudioPlayer", ""), other->Handle());
    EXPECT_TRUE(r.ipc.IsWindow(window->Handle()));

    // Posted from another process, with data.
    const TIpcHandle h = window->Handle();
    EXPECT_EQ(InChild([&] { return r.ipc.PostMessage(h, Message(0xC100, 60, 1, {11, 1})) ? 0 : 1; }), 0);
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 1; }));
    EXPECT_EQ(got[0].WParam, 60u);
    EXPECT_EQ(got[0].Data, (std::vector<uint32_t>{11, 1}));

    EXPECT_EQ(r.ipc.BroadcastMessage(Message(0xC100, 1, 0)), 2);
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 3; }));

    window.reset();
    EXPECT_EQ(r.ipc.FindWindow("TApplication", "VisHost"), 0u);
    EXPECT_FALSE(r.ipc.IsWindow(h));
    EXPECT_FALSE(r.ipc.PostMessage(h, Message(1, 0, 0)));
    EXPECT_FALSE(r.ipc.PostThreadMessage(123456789, Message(1, 0, 0)));
}

TEST(PosixIpc, WindowsOfAnEndedProcessAreNotFound) {
    RealIpc r;
    // The child makes a window and ends without taking it down.
    EXPECT_EQ(InChild([&] {
                  auto w = r.ipc.CreateWindow("TApplication", "VisHost", nullptr);
                  if (!w) return 1;
                  _exit(0);
              }),
              0);
    EXPECT_EQ(r.ipc.FindWindow("TApplication", "VisHost"), 0u);
    EXPECT_EQ(r.ipc.BroadcastMessage(Message(1, 0, 0)), 0);
}

TEST(PosixIpc, WaitableTimerSignalsOnceOrByPeriodAndCanBeWoken) {
    RealIpc r;
    auto timer = r.ipc.CreateWaitableTimer();
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->Wait(20), TWaitResult::TimedOut) << "an unset timer never signals";
    ASSERT_TRUE(timer->Set(10, 0));
    EXPECT_EQ(timer->Wait(2000), TWaitResult::Fired);
    EXPECT_EQ(timer->Wait(60), TWaitResult::TimedOut) << "period 0 signals once";

    ASSERT_TRUE(timer->Set(5, 5));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(timer->Wait(2000), TWaitResult::Fired);
    timer->Cancel();
    EXPECT_EQ(timer->Wait(40), TWaitResult::TimedOut);

    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        timer->Wake();
    });
    EXPECT_EQ(timer->Wait(5000), TWaitResult::Woken);
    waker.join();
    timer->Wake();
    EXPECT_EQ(timer->Wait(0), TWaitResult::Woken) << "a wake before the wait is kept";
}

TEST(FakeIpc, TimersRunOnTheTimeTheTestMoves) {
    TFakeIpc fake;
    auto timer = fake.CreateWaitableTimer();
    ASSERT_TRUE(timer->Set(250, 10));
    std::vector<std::pair<TWaitResult, uint64_t>> seen;
    std::thread waiter([&] {
        for (int i = 0; i < 4; ++i) {
            const TWaitResult r = timer->Wait(1000);
            seen.emplace_back(r, fake.TimerNow());
        }
    });
    while (fake.WaitingTimers() == 0) std::this_thread::yield();
    fake.AdvanceTimers(249);
    EXPECT_TRUE(seen.empty());
    fake.AdvanceTimers(21); // due at 250, 260, 270
    // Each signal was taken before time moved on, so all three are in.
    EXPECT_EQ(seen.size(), 3u);
    timer->Cancel();
    fake.AdvanceTimers(1000); // no more signals: the fourth wait times out
    waiter.join();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0], std::make_pair(TWaitResult::Fired, uint64_t{250}));
    EXPECT_EQ(seen[2], std::make_pair(TWaitResult::Fired, uint64_t{270}));
    EXPECT_EQ(seen[3].first, TWaitResult::TimedOut);

    fake.FailTimerSet = true;
    EXPECT_FALSE(timer->Set(1, 1));
}

TEST(FakeIpc, WindowsQueuesAndBlocksStayInTheProcess) {
    TFakeIpc fake;
    std::vector<uint64_t> got;
    auto window = fake.CreateWindow("TApplication", "VisHost", [&](TIpcMessage& m) { got.push_back(m.WParam); });
    const TIpcHandle h = fake.FindWindow("TApplication", "VisHost");
    ASSERT_EQ(h, window->Handle());
    EXPECT_TRUE(fake.PostMessage(h, Message(1, 83, 4)));
    ASSERT_TRUE(PumpUntil([&] { return got.size() == 1; }));
    // A message in flight to a window freed meanwhile is dropped.
    EXPECT_TRUE(fake.PostMessage(h, Message(1, 84, 4)));
    window.reset();
    Application().ProcessMessages();
    EXPECT_EQ(got, std::vector<uint64_t>{83});
    EXPECT_FALSE(fake.IsWindow(h));

    auto queue = fake.CreateThreadQueue();
    EXPECT_TRUE(fake.PostThreadMessage(queue->ThreadId(), Message(1, 10, 0)));
    TIpcMessage m;
    EXPECT_TRUE(queue->Receive(m, 100));
    EXPECT_FALSE(queue->Receive(m, 10));

    auto a = fake.OpenSharedMemory("X", 8);
    auto b = fake.OpenSharedMemory("X", 8);
    a->Map(false)[3] = 9;
    EXPECT_EQ(b->Map(true)[3], 9);
    fake.FailSharedMemory = true;
    EXPECT_EQ(fake.OpenSharedMemory("Y", 8), nullptr);
}
