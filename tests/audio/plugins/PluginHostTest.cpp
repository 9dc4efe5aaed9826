// The Winamp input plug-in host: loading and slots, the ring buffer, and a counter pattern played by
// a test plug-in coming out of the WAV output exactly, across many turns of the ring.

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "audio/player/AudioPlayer.h"
#include "audio/plugins/PluginHost.h"
#include "tests/audio/player/PlayerTestUtil.h"

namespace lumora::playertest {
namespace {

TEST(PluginRing, CopiesAcrossTheEndAndRefusesWhatDoesNotFit) {
    TRingBuffer ring;
    ASSERT_TRUE(ring.Resize(10));
    uint8_t out[16];
    const uint8_t a[7] = {1, 2, 3, 4, 5, 6, 7};
    ASSERT_TRUE(ring.Write(a, 7));
    EXPECT_EQ(ring.Read(out, 5), 5u);
    const uint8_t b[8] = {8, 9, 10, 11, 12, 13, 14, 15};
    EXPECT_EQ(ring.Free(), 8u);
    ASSERT_TRUE(ring.Write(b, 8)); // wraps round the end
    EXPECT_EQ(ring.Free(), 0u);
    EXPECT_FALSE(ring.Write(b, 1));
    EXPECT_EQ(ring.Read(out, 16), 10u); // asks for more than there is: gets what is there
    const uint8_t expected[10] = {6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    EXPECT_EQ(std::memcmp(out, expected, 10), 0);
    EXPECT_EQ(ring.Read(out, 4), 0u);
    ring.Reset();
    EXPECT_EQ(ring.Used(), 0u);
}

class PluginHost : public ::testing::Test {
protected:
    void SetUp() override {
        out_ = folder_.Dir().File("out.wav");
        setenv("LUMORA_AUDIO_OUTPUT", ("wav:" + out_).c_str(), 1);
        namespace fs = std::filesystem;
        // Eight distinct copies, so each is a module of its own.
        for (int i = 1; i <= 8; ++i)
            fs::copy_file(std::string(LUMORA_BINARY_DIR) + "/test-plugins/in_test.so",
                          folder_.Dir().File("Plugins/in_copy" + std::to_string(i) + ".so"));
    }
    void TearDown() override { unsetenv("LUMORA_AUDIO_OUTPUT"); }
    std::string Track(const std::string& name, const std::string& spec) {
        return folder_.Dir().WriteFile(name, spec + "\n");
    }
    ProgramFolderScope folder_{{"in_test.so", "in_noexport.so", "in_nilrecord.so", "in_badformat.so"}};
    MessageCapture boxes_;
    std::string out_;
};

TEST_F(PluginHost, SlotsDuplicatesAndRefusals) {
    TAudioPlayer player;
    ASSERT_TRUE(player.Ready());
    EXPECT_EQ(LoadWinampPlugin("in_noexport.so"), 5);
    EXPECT_EQ(LoadWinampPlugin("in_nilrecord.so"), 5);
    EXPECT_EQ(LoadWinampPlugin("in_missing.so"), 4);
    ASSERT_EQ(LoadWinampPlugin("in_test.so"), 0);
    EXPECT_EQ(LoadWinampPlugin("IN_TEST.SO"), 2); // names compare without case
    EXPECT_EQ(GetPluginIndex("in_test.so"), 0);
    TPluginInfo info = GetPluginInfo(0);
    EXPECT_EQ(info.Description, "Lumora counter test plug-in");
    EXPECT_EQ(info.FileExtensions, "TST;TSX");
    EXPECT_EQ(info.Seekable, 1);
    EXPECT_EQ(GetPluginFileFilter(), "*.TST;*.TSX");
    EXPECT_EQ(FindPluginForExt("tsx"), 0);
    EXPECT_EQ(FindPluginForExt("mp3"), -1);
    for (int i = 1; i <= 7; ++i) EXPECT_EQ(LoadWinampPlugin("in_copy" + std::to_string(i) + ".so"), 0) << i;
    EXPECT_EQ(LoadWinampPlugin("in_copy8.so"), 3); // a ninth
    EXPECT_EQ(GetPlugin(8), nullptr);
    EXPECT_EQ(GetPlugin(-1), nullptr);
    EXPECT_TRUE(GetPluginInfo(9).FileName.empty());

    // The plug-in in use cannot be unloaded; another can, and its slot is free again.
    std::string track = Track("song.tst", "44100 2 16 4410");
    ASSERT_TRUE(player.Open(track));
    EXPECT_EQ(player.ChannelKind(), ckPlugin);
    EXPECT_EQ(player.DecoderName(), "in_test.so");
    EXPECT_EQ(player.StreamInfo().Title, "Counter " + track);
    EXPECT_EQ(player.StreamInfo().Duration, 100);
    EXPECT_EQ(UnloadWinampPlugin("in_test.so"), 8);
    EXPECT_EQ(UnloadWinampPlugin("in_copy3.so"), 0);
    EXPECT_EQ(UnloadWinampPlugin("in_copy3.so"), 7);
    EXPECT_EQ(LoadWinampPlugin("in_copy8.so"), 0);
    EXPECT_EQ(GetPluginIndex("in_copy8.so"), 3);
    player.Close();
    EXPECT_EQ(UnloadWinampPlugin("in_test.so"), 0);
}

TEST_F(PluginHost, CounterPatternComesOutExactlyAcrossRingTurnsAndEndsOnce) {
    std::vector<TPlayerMode> modes;
    int ends = 0;
    {
        TAudioPlayer player;
        ASSERT_TRUE(player.Ready());
        ASSERT_EQ(LoadWinampPlugin("in_test.so"), 0);
        player.OnPlayEnd = [&](TObject*) { ++ends; };
        player.OnModeChange = [&](TObject*, TPlayerMode, TPlayerMode to) { modes.push_back(to); };
        int started = 0;
        player.OnPluginStartPlay = [&](TObject*, PChannelInfo ci) {
            ++started;
            ASSERT_NE(ci, nullptr);
            EXPECT_EQ(ci->SampleRate, 44100u);
            EXPECT_EQ(ci->Channels, 2u);
            EXPECT_EQ(ci->BitsPerSample, 16u);
        };
        // Two seconds: the 0.6 s ring turns over several times.
        ASSERT_TRUE(player.Open(Track("count.tst", "44100 2 16 88200")));
        player.Play();
        EXPECT_EQ(player.Mode(), plmPlaying);
        EXPECT_EQ(PluginPlayerMode(), plmPlaying); // the host is told every mode
        ASSERT_TRUE(PumpUntil([&] { return ends > 0; }, 15000)) << "no end of play";
        Pump(200);
        EXPECT_EQ(PluginPlayerMode(), plmStopped);
        EXPECT_EQ(ends, 1);
        EXPECT_EQ(started, 1);
        EXPECT_EQ(player.Mode(), plmStopped);
        EXPECT_EQ(player.PlayChannel(), 0u);
    }
    std::vector<TPlayerMode> expected = {plmReady, plmPlaying, plmStopped};
    EXPECT_EQ(modes, expected);

    std::string bytes = test::ReadFile(out_);
    ASSERT_GT(bytes.size(), 44u);
    std::vector<int16_t> played((bytes.size() - 44) / 2);
    std::memcpy(played.data(), bytes.data() + 44, played.size() * 2);
    // Sample k of the file is k; k = 0 is silent, so the pattern starts one sample before the first sound.
    size_t first = 0;
    while (first < played.size() && played[first] == 0) ++first;
    ASSERT_GE(first, 1u);
    size_t start = first - 1;
    const size_t total = 88200 * 2;
    ASSERT_GE(played.size(), start + total);
    size_t bad = 0;
    for (size_t k = 0; k < total; ++k)
        if (played[start + k] != static_cast<int16_t>(static_cast<uint16_t>(k & 0xFFFF)) && bad++ == 0)
            ADD_FAILURE() << "first difference at sample " << k;
    EXPECT_EQ(bad, 0u);
}

TEST_F(PluginHost, AFileShorterThanThePrebufferStillPlaysAndEnds) {
    TAudioPlayer player;
    ASSERT_EQ(LoadWinampPlugin("in_test.so"), 0);
    int ends = 0;
    player.OnPlayEnd = [&](TObject*) { ++ends; };
    // 50 ms of audio never fills the two blocks the output waits for before it starts.
    ASSERT_TRUE(player.Open(Track("short.tst", "44100 2 16 2205")));
    player.Play();
    ASSERT_TRUE(PumpUntil([&] { return ends > 0; }, 5000));
    EXPECT_TRUE(OutputStarted());
    EXPECT_EQ(player.Mode(), plmStopped);
}

TEST_F(PluginHost, MisbehavingPlugInIsRefusedWithoutHarm) {
    TAudioPlayer player;
    ASSERT_EQ(LoadWinampPlugin("in_badformat.so"), 0);
    std::string track = Track("bad.tst", "44100 2 16 4410");
    ASSERT_TRUE(player.Open(track));
    // Its overlong title was cut to what the player keeps.
    EXPECT_EQ(player.StreamInfo().Title, std::string(256, 'T'));
    EXPECT_EQ(player.StreamInfo().Duration, 1234);
    player.Play();
    EXPECT_EQ(boxes_.Last(), "Can't play the specified stream : " + track);
    EXPECT_NE(player.Mode(), plmPlaying);
    EXPECT_EQ(player.DecoderName(), "");
    EXPECT_EQ(GetSelectedPluginName(), "");
}

TEST_F(PluginHost, OutputModuleKeepsTimeAndRefusesBadWrites) {
    TAudioPlayer player;
    TOutModule* out = EmulatedOutputModule();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->version, 16);
    EXPECT_STREQ(out->description, "BASS Winamp output plug-in emulator");
    EXPECT_EQ(out->id, 65537);
    ASSERT_EQ(out->Open(22050, 1, 8, -1, -1), 0);
    // A block is 0.2 s: 4410 bytes here, and the ring holds three.
    EXPECT_EQ(PluginRing().Size(), 3u * 4410);
    std::vector<char> data(4000, 1);
    EXPECT_EQ(out->Write(data.data(), -1), -1);
    EXPECT_EQ(out->Write(nullptr, 10), -1);
    EXPECT_EQ(out->Write(data.data(), 4000), 0);
    EXPECT_EQ(out->Write(data.data(), 4000), 0);
    EXPECT_EQ(out->GetWrittenTime(), 363); // 8000 bytes at 22050 bytes a second
    EXPECT_EQ(out->CanWrite(), static_cast<int>(PluginRing().Free()) - 1);
    EXPECT_EQ(out->Write(data.data(), 6000), 1); // more than is free: nothing written
    EXPECT_EQ(PluginRing().Used(), 8000u);
    out->Flush(5000);
    EXPECT_EQ(PluginRing().Used(), 0u);
    EXPECT_EQ(out->GetWrittenTime(), 5000);
    out->Close();
}

// After a resume the output stream waits for the plug-in's next write when the ring runs dry,
// so the plug-in's fresh data follows what was buffered without a gap of silence.
TEST_F(PluginHost, AResumedOutputWaitsOnceForThePlugInsFreshData) {
    const size_t block = 44100 * 4 / 5; // 0.2 s of 16-bit stereo
    std::vector<int16_t> pattern(4 * block / 2);
    for (size_t k = 0; k < pattern.size(); ++k) pattern[k] = static_cast<int16_t>(static_cast<uint16_t>(k + 1));
    auto* bytes = reinterpret_cast<char*>(pattern.data());
    {
        TAudioPlayer player;
        TOutModule* out = EmulatedOutputModule();
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(out->Open(44100, 2, 16, -1, -1), 0);
        ASSERT_EQ(out->Write(bytes, static_cast<int>(2 * block)), 0); // two blocks start the output
        ASSERT_TRUE(PumpUntil([] { return OutputStarted(); }, 2000));
        EXPECT_EQ(out->Pause(1), 0);
        EXPECT_EQ(out->Pause(0), 1);
        // The ring runs dry 0.4 s after the resume; the plug-in writes again a little later.
        Pump(650);
        ASSERT_EQ(out->Write(bytes + 2 * block, static_cast<int>(2 * block)), 0);
        SetInputEnded();
        ASSERT_TRUE(PumpUntil([&] { return !out->IsPlaying(); }, 3000));
        out->Close();
    }
    std::string wav = test::ReadFile(out_);
    ASSERT_GT(wav.size(), 44u);
    std::vector<int16_t> played((wav.size() - 44) / 2);
    std::memcpy(played.data(), wav.data() + 44, played.size() * 2);
    // Where the buffered part ends, the fresh part begins at once.
    const size_t last = block - 1; // the last sample written before the gap
    auto at = std::search(played.begin(), played.end(), pattern.begin() + static_cast<long>(last) - 8,
                          pattern.begin() + static_cast<long>(last) + 1);
    ASSERT_NE(at, played.end()) << "the buffered part was not played";
    const size_t next = static_cast<size_t>(at - played.begin()) + 9;
    ASSERT_LT(next + 8, played.size());
    EXPECT_TRUE(std::equal(pattern.begin() + static_cast<long>(last) + 1, pattern.begin() + static_cast<long>(last) + 9,
                           played.begin() + static_cast<long>(next)))
        << "silence between the buffered and the fresh data: " << played[next];
}

} // namespace
} // namespace lumora::playertest
