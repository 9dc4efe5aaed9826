// The visualisation feed: the host's commands, frames at the host's period on the fake timers,
// skipped frames, the spectrum and waveform blocks, suspension with the player's mode, the block's
// player fields, the bounded wait at the end, and a real host process fed through the real layer.

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "audio/player/BassLoader.h"
#include "audio/visfeed/VisDataThread.h"
#include "platform/system/Clock.h"
#include "tests/audio/player/PlayerTestUtil.h"
#include "tests/support/TempDir.h"

using namespace lumora;
using namespace lumora::test;

namespace {

constexpr int kPlaying = 3, kPaused = 4, kStopped = 2;

// The play channel the feed reads, standing in for the library's two calls it makes. Spectrum
// values are i/512 (right channel (i+100)/512) so that scale 512 gives the bin number; sample
// high bytes name the channel (1 for the first).
struct FakeChannel {
    static inline std::atomic<DWORD> active{BASS_ACTIVE_PLAYING};
    static inline std::atomic<DWORD> available{1u << 20};
    static inline std::atomic<int> channels{2};

    static DWORD IsActive(DWORD) { return active; }
    static DWORD GetData(DWORD, void* buffer, DWORD length) {
        if (!buffer) return available;
        if (length & BASS_DATA_FFT512) {
            auto* out = static_cast<float*>(buffer);
            if ((length & BASS_DATA_FFT_INDIVIDUAL) && channels > 1) {
                for (int i = 0; i < 1024; ++i)
                    for (int c = 0; c < channels; ++c) out[i * channels + c] = (i + 100.f * c) / 512.f;
                return 1024 * channels * 4;
            }
            for (int i = 0; i < 1024; ++i) out[i] = i / 512.f;
            return 4096;
        }
        auto* samples = static_cast<int16_t*>(buffer);
        const int frames = static_cast<int>(length) / 2 / channels;
        for (int f = 0; f < frames; ++f)
            for (int c = 0; c < channels; ++c)
                samples[f * channels + c] = static_cast<int16_t>(((c + 1) << 8) | (f & 0xFF));
        return length;
    }
};

// Puts the fake channel in place of the library's entries for the life of a test.
struct FakeLibrary {
    decltype(lumora::BASS_ChannelIsActive) savedActive = lumora::BASS_ChannelIsActive;
    decltype(lumora::BASS_ChannelGetData) savedData = lumora::BASS_ChannelGetData;
    FakeLibrary() {
        FakeChannel::active = BASS_ACTIVE_PLAYING;
        FakeChannel::available = 1u << 20;
        FakeChannel::channels = 2;
        lumora::BASS_ChannelIsActive = &FakeChannel::IsActive;
        lumora::BASS_ChannelGetData = &FakeChannel::GetData;
    }
    ~FakeLibrary() {
        lumora::BASS_ChannelIsActive = savedActive;
        lumora::BASS_ChannelGetData = savedData;
    }
};

template <class P>
bool Eventually(P pred) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) return false;
        Application().ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

uint32_t Dword(const uint8_t* block, int offset) {
    uint32_t v;
    std::memcpy(&v, block + offset, 4);
    return v;
}

class VisFeed : public ::testing::Test {
protected:
    void SetUp() override { SetIpc(&fake); }
    void TearDown() override {
        feed.reset();
        SetIpc(nullptr);
    }

    // A feed whose player delivers commands straight to it, as the player's hidden window does.
    void MakeFeed() {
        host = fake.CreateThreadQueue();
        feed = std::make_unique<TVisFeed>();
        feed->Deliver = [this](TMessage& m) {
            feed->HandleCommand(m.WParam, reinterpret_cast<const uint32_t*>(m.LParam), playing);
        };
        feed->Thread().SetPlayChannel(1, 44100, 2);
    }

    // What the host sends: through its window, arriving on the main thread.
    void Command(uint32_t what, std::vector<uint32_t> data) {
        TIpcMessage m;
        m.Msg = feed->MessageNumber();
        m.WParam = what;
        m.Data = std::move(data);
        ASSERT_TRUE(fake.PostMessage(feed->CommandWindow(), m));
        Application().ProcessMessages();
    }
    void Start() { Command(vcStart, {static_cast<uint32_t>(host->ThreadId()), 1}); }

    void ThreadWaits() { ASSERT_TRUE(Eventually([&] { return fake.WaitingTimers() == 1; })); }

    // The notifications the host has received so far, as (wParam, lParam).
    std::vector<std::pair<uint64_t, int64_t>> Received() {
        std::vector<std::pair<uint64_t, int64_t>> out;
        TIpcMessage m;
        while (host->Receive(m, 0)) {
            EXPECT_EQ(m.Msg, feed->MessageNumber());
            out.emplace_back(m.WParam, m.LParam);
        }
        return out;
    }
    int FramesReceived() {
        int n = 0;
        for (const auto& r : Received()) n += r.first == vnNewFrame;
        return n;
    }
    void TakeFrame() { block()[voFrameReady] = 0; }
    uint8_t* block() { return feed->Thread().Block(); }

    TFakeIpc fake;
    FakeLibrary library;
    std::unique_ptr<IThreadQueue> host;
    std::unique_ptr<TVisFeed> feed;
    bool playing = true;
};

} // namespace

TEST_F(VisFeed, FramesComeAtTheHostsPeriodOfAtLeastTenMilliseconds) {
    MakeFeed();
    ASSERT_TRUE(feed->Ready());
    Command(vcParameters, {40, 5, 2, 2});
    EXPECT_EQ(feed->Thread().Period(), 10u) << "a delay of 5 ms gives a 10 ms period";
    EXPECT_EQ(feed->Thread().Latency(), 40u);
    Start();
    EXPECT_TRUE(feed->Active());
    EXPECT_EQ(feed->RunValue(), 1u);
    ThreadWaits();
    feed->Thread().SetPosition(1234);

    fake.AdvanceTimers(249);
    EXPECT_EQ(FramesReceived(), 0) << "the first frame is due 250 ms after the start";
    fake.AdvanceTimers(1);
    ASSERT_EQ(Received(), (std::vector<std::pair<uint64_t, int64_t>>{{vnNewFrame, 0}}));
    EXPECT_EQ(Dword(block(), voFrameReady), 1u);
    EXPECT_EQ(Dword(block(), voPlayRate), 44100u);
    EXPECT_EQ(Dword(block(), voPlayChannels), 2u);
    EXPECT_EQ(Dword(block(), voPosition), 1234u);

    for (int i = 0; i < 5; ++i) {
        TakeFrame();
        fake.AdvanceTimers(10);
        EXPECT_EQ(FramesReceived(), 1) << "period " << i;
    }
    EXPECT_FALSE(feed->Thread().Finished());
}

TEST_F(VisFeed, WithoutParametersOneFrameIsWrittenAndTheThreadEndsASecondLater) {
    MakeFeed();
    Start();
    ThreadWaits();
    fake.AdvanceTimers(250);
    EXPECT_EQ(FramesReceived(), 1);
    TakeFrame();
    fake.AdvanceTimers(999);
    EXPECT_FALSE(feed->Thread().Finished());
    fake.AdvanceTimers(1);
    EXPECT_TRUE(Eventually([&] { return feed->Thread().Finished(); }));
    EXPECT_EQ(FramesReceived(), 0);
    // An ended feed stays ended: a later start does not bring it back.
    Start();
    EXPECT_TRUE(feed->Thread().Finished());
}

TEST_F(VisFeed, ParametersAfterTheStartReArmTheTimerSoFramesKeepComing) {
    MakeFeed();
    Start();
    ThreadWaits();
    fake.AdvanceTimers(100);
    Command(vcParameters, {0, 20, 1, 0});
    ThreadWaits();
    // Re-armed at 100 ms: first due 250 ms later, then every 20 ms.
    fake.AdvanceTimers(249);
    EXPECT_EQ(FramesReceived(), 0);
    fake.AdvanceTimers(1);
    EXPECT_EQ(FramesReceived(), 1);
    for (int i = 0; i < 60; ++i) {
        TakeFrame();
        fake.AdvanceTimers(20);
        ASSERT_EQ(FramesReceived(), 1) << "period " << i;
    }
    EXPECT_FALSE(feed->Thread().Finished()) << "1.2 s of frames at the host's period";

    // A period longer than a second does not end the thread between two frames.
    Command(vcParameters, {0, 1500, 1, 0});
    ThreadWaits();
    TakeFrame();
    fake.AdvanceTimers(250);
    EXPECT_EQ(FramesReceived(), 1);
    TakeFrame();
    fake.AdvanceTimers(1500);
    EXPECT_EQ(FramesReceived(), 1);
    EXPECT_FALSE(feed->Thread().Finished());
}

TEST_F(VisFeed, AnUntakenFrameIsOverwrittenOnlyOnTheTenthPeriod) {
    MakeFeed();
    Command(vcParameters, {0, 10, 1, 1});
    Start();
    ThreadWaits();
    fake.AdvanceTimers(250);
    ASSERT_EQ(FramesReceived(), 1);
    for (int i = 1; i <= 9; ++i) {
        fake.AdvanceTimers(10);
        EXPECT_EQ(feed->Thread().SkippedFrames(), i);
    }
    EXPECT_EQ(FramesReceived(), 0);
    fake.AdvanceTimers(10);
    EXPECT_EQ(FramesReceived(), 1);
    EXPECT_EQ(feed->Thread().SkippedFrames(), 0);
    // Taken frames are followed by new ones at once.
    TakeFrame();
    fake.AdvanceTimers(10);
    EXPECT_EQ(FramesReceived(), 1);
}

TEST_F(VisFeed, SpectrumAndWaveformBlocksFollowTheChannelsAndTheHostsCounts) {
    MakeFeed();
    TVisDataThread& t = feed->Thread();
    t.SetHostThreadId(host->ThreadId());
    const uint8_t* data = block() + voData;
    auto frame = [&](int channels, uint32_t spectrum, uint32_t waveform) {
        FakeChannel::channels = channels;
        t.SetPlayChannel(1, 48000, channels);
        t.SetParameters(0, 10, spectrum, waveform);
        std::memset(block() + voData, 0xEE, kVisBlockSize - voData);
        TakeFrame();
        t.WriteFrame();
        EXPECT_EQ(Dword(block(), voPlayChannels), static_cast<uint32_t>(std::min(channels, 2)));
    };
    auto bytes = [&](int start, int count) { return std::vector<uint8_t>(data + start, data + start + count); };
    std::vector<uint8_t> bins(576), right(576), ones(576, 1), twos(576, 2), untouched(576, 0xEE);
    for (int i = 1; i <= 576; ++i) {
        bins[i - 1] = static_cast<uint8_t>(i);
        right[i - 1] = static_cast<uint8_t>(i + 100);
    }

    // Stereo: two different spectrum blocks, then channels 0 and 1 of the samples.
    frame(2, 2, 2);
    EXPECT_EQ(bytes(0, 576), bins);
    EXPECT_EQ(bytes(576, 576), right);
    EXPECT_EQ(bytes(1152, 576), ones);
    EXPECT_EQ(bytes(1728, 576), twos);

    // Mono: the same block twice, for spectrum and waveform alike.
    frame(1, 2, 2);
    EXPECT_EQ(bytes(0, 576), bins);
    EXPECT_EQ(bytes(576, 576), bins);
    EXPECT_EQ(bytes(1152, 576), ones);
    EXPECT_EQ(bytes(1728, 576), ones);

    // Six channels: mixed spectrum twice, waveform from channels 0 and 1.
    frame(6, 2, 2);
    EXPECT_EQ(bytes(576, 576), bins);
    EXPECT_EQ(bytes(1152, 576), ones);
    EXPECT_EQ(bytes(1728, 576), twos);

    // One spectrum block, the waveform right behind it; counts of zero write nothing.
    frame(2, 1, 1);
    EXPECT_EQ(bytes(0, 576), bins);
    EXPECT_EQ(bytes(576, 576), ones);
    EXPECT_EQ(bytes(1152, 576), untouched);
    frame(2, 0, 0);
    EXPECT_EQ(bytes(0, 576), untouched);
    // More than eight channels give no waveform.
    frame(9, 0, 2);
    EXPECT_EQ(bytes(0, 576), untouched);

    // The scale multiplies the magnitudes; only the low byte is kept.
    t.SetScale(256);
    frame(2, 1, 0);
    EXPECT_EQ(data[9], 5);   // bin 10 x 256/512
    EXPECT_EQ(data[519], 4); // bin 520 -> 260 -> low byte 4
}

TEST_F(VisFeed, NoFrameWhileTheChannelIsNotPlayingOrHasTooLittleData) {
    MakeFeed();
    TVisDataThread& t = feed->Thread();
    t.SetHostThreadId(host->ThreadId());
    t.SetParameters(0, 10, 1, 1);
    FakeChannel::active = BASS_ACTIVE_PAUSED;
    t.WriteFrame();
    EXPECT_EQ(FramesReceived(), 0);
    FakeChannel::active = BASS_ACTIVE_PLAYING;
    FakeChannel::available = 2 * 2048 - 1;
    t.WriteFrame();
    EXPECT_EQ(FramesReceived(), 0);
    FakeChannel::available = 2 * 2048;
    t.WriteFrame();
    EXPECT_EQ(FramesReceived(), 1);
    // Without the library the feed writes nothing and does not crash.
    lumora::BASS_ChannelGetData = nullptr;
    TakeFrame();
    t.WriteFrame();
    EXPECT_EQ(FramesReceived(), 0);
}

TEST_F(VisFeed, TheThreadFollowsThePlayersModeAndTheStoppedCommand) {
    MakeFeed();
    playing = false;
    Start();
    EXPECT_TRUE(feed->Active());
    EXPECT_FALSE(feed->Thread().Started()) << "a start while paused waits for play";

    block()[voFrameReady] = 1;
    playing = true;
    feed->ModeChanged(kPlaying, true);
    EXPECT_TRUE(feed->Thread().Started());
    EXPECT_FALSE(feed->Thread().Suspended());
    EXPECT_EQ(Dword(block(), voMode), static_cast<uint32_t>(kPlaying));
    EXPECT_EQ(Dword(block(), voFrameReady), 0u) << "a resume clears the frame-ready flag";
    EXPECT_EQ(Received(), (std::vector<std::pair<uint64_t, int64_t>>{{vnMode, 4}}));

    Command(vcParameters, {0, 10, 1, 0});
    ThreadWaits();
    feed->ModeChanged(kPaused, false);
    EXPECT_TRUE(feed->Thread().Suspended());
    EXPECT_EQ(Dword(block(), voMode), static_cast<uint32_t>(kPaused));
    fake.AdvanceTimers(400);
    EXPECT_EQ(FramesReceived(), 0) << "no frames while suspended";
    feed->ModeChanged(kPlaying, true);
    ASSERT_TRUE(Eventually([&] { return FramesReceived() == 1; })) << "the signal kept while suspended";

    Command(vcStopped, {});
    EXPECT_FALSE(feed->Active());
    EXPECT_EQ(feed->RunValue(), 0u);
    EXPECT_TRUE(feed->Thread().Suspended());
    // While inactive, mode changes are not written to the block.
    feed->ModeChanged(kStopped, false);
    EXPECT_EQ(Dword(block(), voMode), static_cast<uint32_t>(kPlaying));
}

TEST_F(VisFeed, TrackInformationAndTheSyncFlagAreWrittenAndAnnounced) {
    MakeFeed();
    Start();
    feed->TrackInfo(44100, 192, 2, 245000, std::string(300, 'x'));
    EXPECT_EQ(Dword(block(), voSampleRate), 44100u);
    EXPECT_EQ(Dword(block(), voBitRate), 192u);
    EXPECT_EQ(Dword(block(), voChannels), 2u);
    EXPECT_EQ(Dword(block(), voDuration), 245000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block() + voTitle)), std::string(255, 'x'));
    feed->TrackInfo(22050, 64, 1, 1000, "short");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block() + voTitle)), "short");
    EXPECT_EQ(block()[voTitle + 200], 0) << "the rest of the title is zero-filled";
    feed->SyncFlag(true);
    EXPECT_EQ(Dword(block(), voSync), 1u);
    EXPECT_EQ(Received(), (std::vector<std::pair<uint64_t, int64_t>>{{vnTrackInfo, 272}, {vnTrackInfo, 272}, {vnSync, 4}}));
}

TEST_F(VisFeed, TheEndWaitsForTheHostsStoppedCommandButNotForever) {
    VirtualClock clock;
    SetClock(&clock);
    MakeFeed();
    Start();
    // A host that answers: its stopped command is waiting in the queue.
    TIpcMessage stopped;
    stopped.Msg = feed->MessageNumber();
    stopped.WParam = vcStopped;
    fake.PostMessage(feed->CommandWindow(), stopped);
    const uint32_t t0 = timeGetTime();
    feed->Shutdown();
    EXPECT_EQ(feed->RunValue(), 0u);
    EXPECT_LT(timeGetTime() - t0, 100u);

    // A host that never answers is given two seconds.
    Start();
    const uint32_t t1 = timeGetTime();
    feed->Shutdown();
    EXPECT_GE(timeGetTime() - t1, 2000u);
    EXPECT_LT(timeGetTime() - t1, 2100u);
    EXPECT_FALSE(feed->Active());
    feed.reset();
    SetClock(nullptr);
}

TEST_F(VisFeed, WithoutSharedMemoryOrTimerThePlayerGoesOnWithoutTheFeed) {
    fake.FailSharedMemory = true;
    MakeFeed();
    EXPECT_FALSE(feed->Ready());
    EXPECT_EQ(feed->CommandWindow(), 0u);
    const uint32_t data[4] = {1, 1, 0, 0};
    feed->HandleCommand(vcStart, data, true);
    EXPECT_FALSE(feed->Active());
    feed->TrackInfo(1, 1, 1, 1, "t");
    feed->ModeChanged(kPlaying, true);

    // A timer that cannot be armed shows the system's reason and ends the thread.
    fake.FailSharedMemory = false;
    fake.FailTimerSet = true;
    playertest::MessageCapture boxes;
    MakeFeed();
    ASSERT_TRUE(feed->Ready());
    Start();
    EXPECT_TRUE(Eventually([&] { return feed->Thread().Finished() && !boxes.Boxes().empty(); }));
    EXPECT_EQ(boxes.Boxes()[0].Caption, "Error");
}

// ---- a host in a process of its own ----

namespace {

constexpr const char* kChildVariable = "LUMORA_VIS_HOST_CHILD";

struct ChildSetting {
    std::string folder, prefix;
};

} // namespace

// The host's side, run by the test program started again as a separate process.
TEST(VisHostProcess, Child) {
    const char* setting = getenv(kChildVariable);
    if (!setting) GTEST_SKIP() << "runs only as the host process of the test below";
    const std::string s = setting;
    const size_t bar = s.find('|');
    TPosixIpc ipc(s.substr(0, bar), s.substr(bar + 1));
    auto queue = ipc.CreateThreadQueue();
    ASSERT_NE(queue, nullptr);
    TIpcHandle player = 0;
    ASSERT_TRUE(Eventually([&] { return (player = ipc.FindWindow("TAudioPlayer", "")) != 0; }));
    auto block = ipc.OpenSharedMemory("VisHostSharedMemory", kVisBlockSize);
    ASSERT_NE(block, nullptr);
    uint8_t* view = block->Map(false);
    ASSERT_NE(view, nullptr);
    auto mutex = ipc.OpenMutex("VisHostSharedMemory_SMMutex");
    ASSERT_NE(mutex, nullptr) << "the feed made the host's mutex";

    const uint32_t msg = ipc.RegisterWindowMessage("WM_SendingData");
    auto send = [&](uint32_t what, std::vector<uint32_t> data) {
        TIpcMessage m;
        m.Msg = msg;
        m.WParam = what;
        m.Data = std::move(data);
        ASSERT_TRUE(ipc.PostMessage(player, m));
    };
    send(vcParameters, {0, 20, 2, 2});
    send(vcStart, {static_cast<uint32_t>(queue->ThreadId()), 1});
    int frames = 0;
    while (frames < 3) {
        TIpcMessage m;
        ASSERT_TRUE(queue->Receive(m, 5000)) << "frames stopped after " << frames;
        ASSERT_EQ(m.Msg, msg);
        if (m.WParam != vnNewFrame) continue;
        EXPECT_EQ(Dword(view, voFrameReady), 1u);
        EXPECT_EQ(Dword(view, voPlayRate), 44100u);
        EXPECT_EQ(view[voData + 9], 10) << "spectrum bin 10";
        EXPECT_EQ(view[voData + 576 + 9], 110) << "right channel's bin 10";
        EXPECT_EQ(view[voData + 1152], 1) << "waveform of channel 0";
        std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(view + voFrameReady)).store(0);
        ++frames;
    }
    send(vcStopped, {});
}

TEST(VisHostProcess, AHostProcessStartsTakesFramesAndStops) {
    if (getenv(kChildVariable)) GTEST_SKIP();
    TempDir dir;
    TPosixIpc ipc(dir.Path() + "/ipc", "lumoratest-vis-" + std::to_string(getpid()) + "-");
    SetIpc(&ipc);
    FakeLibrary library;
    bool done = false;
    {
        TVisFeed feed;
        ASSERT_TRUE(feed.Ready());
        feed.Deliver = [&](TMessage& m) {
            feed.HandleCommand(m.WParam, reinterpret_cast<const uint32_t*>(m.LParam), true);
        };
        feed.Thread().SetPlayChannel(7, 44100, 2);

        const pid_t pid = fork();
        if (pid == 0) {
            const std::string setting = ipc.Folder() + "|lumoratest-vis-" + std::to_string(getppid()) + "-";
            setenv(kChildVariable, setting.c_str(), 1);
            execl("/proc/self/exe", "tests_audio", "--gtest_filter=VisHostProcess.Child", nullptr);
            _exit(127);
        }
        int status = -1;
        ASSERT_TRUE(Eventually([&] { return waitpid(pid, &status, WNOHANG) == pid; })) << "the host did not end";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the host process failed: " << status;
        ASSERT_TRUE(Eventually([&] { return feed.RunValue() == 0; }));
        EXPECT_FALSE(feed.Active());
        EXPECT_TRUE(feed.Thread().Suspended());
        done = true;
    }
    SetIpc(nullptr);
    EXPECT_TRUE(done);
}

TEST_F(VisFeed, SharedMemoryComponentOpensBothPartsAndNotifiesItsPartnerOrSaysWhyNot) {
    playertest::MessageCapture boxes;
    TSharedMemory memory;
    EXPECT_EQ(memory.SendingDataMessage(), MessageNumberForName("WM_SendingData"));
    EXPECT_NE(memory.RequestingDataMessage(), memory.SendingDataMessage());
    memory.ShareName = "Shared";
    EXPECT_FALSE(memory.Open()) << "a block of size 0";
    memory.Size = 64;
    fake.FailMutex = true;
    EXPECT_FALSE(memory.Open());
    EXPECT_EQ(memory.MapView(), nullptr) << "without its mutex the block is closed again";
    fake.FailMutex = false;
    ASSERT_TRUE(memory.Open());
    memory.ReadOnly = true;
    ASSERT_NE(memory.MapView(), nullptr);

    memory.MsgOutOnErr = true;
    memory.SetTargetApplication("  Partner ");
    EXPECT_EQ(memory.TargetApplication(), "Partner");
    memory.SendNotification(1, 2);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Last(), "The target application is not specified.\nThe notification message has not been sent.");
    EXPECT_EQ(boxes.Boxes()[0].Caption, "Warning...");

    std::vector<std::pair<uint64_t, int64_t>> got;
    auto partner = fake.CreateWindow("TApplication", "Partner", [&](TIpcMessage& m) {
        EXPECT_EQ(m.Msg, memory.SendingDataMessage());
        got.emplace_back(m.WParam, m.LParam);
    });
    memory.SendNotification(81, 4);
    Application().ProcessMessages();
    EXPECT_EQ(got, (std::vector<std::pair<uint64_t, int64_t>>{{81, 4}}));

    partner.reset();
    memory.SendNotification(82, 272);
    EXPECT_EQ(boxes.Last(), "The target application is not active on your system.\nThe notification message has not "
                            "been sent.");
    // A partner that comes back is found again.
    partner = fake.CreateWindow("TApplication", "Partner", [&](TIpcMessage& m) { got.emplace_back(m.WParam, m.LParam); });
    memory.SendNotification(83, 4);
    Application().ProcessMessages();
    EXPECT_EQ(got.back(), std::make_pair(uint64_t{83}, int64_t{4}));

    // Without its mutex nothing is sent, and nothing is said.
    memory.Close();
    const size_t before = boxes.Boxes().size();
    memory.SendNotification(1, 1);
    EXPECT_EQ(boxes.Boxes().size(), before);
}
