// The audio player's side of the visualisation feed over the fake library: the host's commands
// reach the player's hidden window, open and play fill the block and start the thread on the play
// channel, pause suspends it, and the player's end waits for the host's stopped command.

#include <gtest/gtest.h>

#include "audio/player/AudioPlayer.h"
#include "audio/visfeed/VisDataThread.h"
#include "platform/system/Clock.h"
#include "platform/system/Ipc.h"
#include "tests/audio/player/PlayerTestUtil.h"

namespace lumora::playertest {
namespace {

uint32_t BlockDword(const uint8_t* block, int offset) {
    uint32_t v;
    std::memcpy(&v, block + offset, 4);
    return v;
}

class VisPlayer : public ::testing::Test {
protected:
    void SetUp() override {
        SetIpc(&ipc_);
        host_ = ipc_.CreateThreadQueue();
        wav_ = WriteWav(scope_.Dir(), "a.wav", 22050, 2, 22050);
    }
    void TearDown() override { SetIpc(nullptr); }

    void Send(TAudioPlayer& player, uint32_t what, std::vector<uint32_t> data) {
        TIpcMessage m;
        m.Msg = player.VisFeed()->MessageNumber();
        m.WParam = what;
        m.Data = std::move(data);
        ASSERT_TRUE(ipc_.PostMessage(ipc_.FindWindow("TAudioPlayer", ""), m));
        Application().ProcessMessages();
    }
    std::vector<uint64_t> Notifications() {
        std::vector<uint64_t> out;
        TIpcMessage m;
        while (host_->Receive(m, 0)) out.push_back(m.WParam);
        return out;
    }

    FakeLibraryScope scope_;
    MessageCapture boxes_;
    TFakeIpc ipc_;
    std::unique_ptr<IThreadQueue> host_;
    std::string wav_;
};

} // namespace

TEST_F(VisPlayer, HostCommandsReachThePlayerAndPlayFeedsTheBlock) {
    VirtualClock clock;
    SetClock(&clock);
    {
        TAudioPlayer player;
        player.SetSingleChannel(true);
        ASSERT_TRUE(player.Ready());
        TVisFeed* feed = player.VisFeed();
        ASSERT_NE(feed, nullptr);
        ASSERT_TRUE(feed->Ready());
        const uint8_t* block = feed->Thread().Block();

        Send(player, vcParameters, {0, 25, 1, 1});
        EXPECT_EQ(feed->Thread().Period(), 25u);
        Send(player, vcStart, {static_cast<uint32_t>(host_->ThreadId()), 7});
        EXPECT_TRUE(feed->Active());
        EXPECT_EQ(feed->RunValue(), 7u);
        EXPECT_FALSE(feed->Thread().Started()) << "nothing plays yet";

        ASSERT_TRUE(player.Open(wav_));
        EXPECT_EQ(BlockDword(block, voSampleRate), 22050u);
        EXPECT_EQ(BlockDword(block, voChannels), 2u);
        EXPECT_EQ(BlockDword(block, voDuration), 1000u);
        EXPECT_EQ(BlockDword(block, voMode), static_cast<uint32_t>(plmReady));

        player.Play();
        ASSERT_EQ(player.Mode(), plmPlaying);
        EXPECT_TRUE(feed->Thread().Started());
        EXPECT_FALSE(feed->Thread().Suspended());
        EXPECT_EQ(BlockDword(block, voMode), static_cast<uint32_t>(plmPlaying));

        player.Pause();
        EXPECT_TRUE(feed->Thread().Suspended());
        EXPECT_EQ(BlockDword(block, voMode), static_cast<uint32_t>(plmPaused));

        player.SetSyncVisWindow(true);
        EXPECT_EQ(BlockDword(block, voSync), 1u);
        EXPECT_EQ(Notifications(), (std::vector<uint64_t>{vnTrackInfo, vnMode, vnMode, vnMode, vnSync}));

        // The stopped command, then a new start while paused: the thread waits for play.
        Send(player, vcStopped, {});
        EXPECT_FALSE(feed->Active());
        Send(player, vcStart, {static_cast<uint32_t>(host_->ThreadId()), 1});
        EXPECT_TRUE(feed->Thread().Suspended());
        player.Resume();
        EXPECT_FALSE(feed->Thread().Suspended());
        // The player goes here while the host never answers: the wait is bounded on the clock.
    }
    SetClock(nullptr);
}

TEST_F(VisPlayer, ThePlayerEndsOnlyAfterTheHostsStoppedCommandOrTheLimit) {
    VirtualClock clock;
    SetClock(&clock);
    uint32_t waited = 0;
    {
        auto player = std::make_unique<TAudioPlayer>();
        Send(*player, vcStart, {static_cast<uint32_t>(host_->ThreadId()), 1});
        // The host's answer is already on its way when the player goes.
        TIpcMessage stopped;
        stopped.Msg = player->VisFeed()->MessageNumber();
        stopped.WParam = vcStopped;
        ipc_.PostMessage(ipc_.FindWindow("TAudioPlayer", ""), stopped);
        const uint32_t t0 = timeGetTime();
        player.reset();
        waited = timeGetTime() - t0;
    }
    EXPECT_LT(waited, 100u);
    {
        auto player = std::make_unique<TAudioPlayer>();
        Send(*player, vcStart, {static_cast<uint32_t>(host_->ThreadId()), 1});
        const uint32_t t0 = timeGetTime();
        player.reset();
        waited = timeGetTime() - t0;
    }
    EXPECT_GE(waited, 2000u);
    SetClock(nullptr);
}

TEST_F(VisPlayer, VisScaleReachesTheThreadWithinItsRange) {
    TAudioPlayer player;
    player.SetVisScale(300);
    EXPECT_EQ(player.VisScale(), 300);
    player.SetVisScale(2000);
    EXPECT_EQ(player.VisScale(), 300);
    // The thread's scale shows in a frame: bin 10 at magnitude 10/512 gives 300 x 10 / 512 = 5.
    TVisDataThread& t = player.VisFeed()->Thread();
    auto savedActive = lumora::BASS_ChannelIsActive;
    auto savedData = lumora::BASS_ChannelGetData;
    lumora::BASS_ChannelIsActive = [](DWORD) -> DWORD { return BASS_ACTIVE_PLAYING; };
    lumora::BASS_ChannelGetData = [](DWORD, void* buffer, DWORD length) -> DWORD {
        if (!buffer) return 1u << 20;
        if (length & BASS_DATA_FFT512)
            for (int i = 0; i < 1024; ++i) static_cast<float*>(buffer)[i] = i / 512.f;
        return length;
    };
    t.SetPlayChannel(1, 44100, 1);
    t.SetParameters(0, 10, 1, 0);
    t.WriteFrame();
    EXPECT_EQ(t.Block()[voData + 9], 5);
    lumora::BASS_ChannelIsActive = savedActive;
    lumora::BASS_ChannelGetData = savedData;
}

} // namespace lumora::playertest
