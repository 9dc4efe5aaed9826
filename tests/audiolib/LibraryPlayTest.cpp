// Playing through the library to the WAV output: what comes out must be exactly what went in.

#include <cstdio>

#include <gtest/gtest.h>

#include "tests/audiolib/AudioTestUtil.h"
#include "tests/support/TempDir.h"

namespace lumora::test {
namespace {

// Plays one file to a WAV output at unity gain and returns the mixed samples, silence included.
std::vector<int16_t> PlayOut(const std::string& file, const std::string& wav, int* endCalls = nullptr) {
    SyncCounter end;
    {
        LibrarySession lib("wav:" + wav);
        EXPECT_TRUE(lib.Ok());
        HSTREAM h = BASS_StreamCreateFile(0, file.c_str(), 0, 0, 0);
        EXPECT_NE(h, 0u) << BASS_ErrorGetCode();
        if (!h) return {};
        EXPECT_NE(BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::Proc, &end), 0u);
        EXPECT_TRUE(BASS_ChannelPlay(h, 1));
        EXPECT_TRUE(WaitFor([&] { return end.Calls > 0; }, 20000));
        EXPECT_EQ(BASS_ChannelIsActive(h), static_cast<DWORD>(BASS_ACTIVE_STOPPED));
        // A little more silence must not bring a second end.
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    if (endCalls) *endCalls = end.Calls;
    return Samples(WavData(wav));
}

// `played` holds `expected` exactly, starting where the sound starts.
void ExpectContains(const std::vector<int16_t>& played, const std::vector<int16_t>& expected) {
    size_t p0 = FirstSound(played, 2), e0 = FirstSound(expected, 2);
    ASSERT_LT(e0, expected.size() / 2) << "the reference is silent";
    ASSERT_GE(p0, e0) << "sound began before the output did";
    size_t start = (p0 - e0) * 2;
    ASSERT_GE(played.size(), start + expected.size()) << "the output is shorter than the input";
    size_t mismatches = 0, first = 0;
    for (size_t i = 0; i < expected.size(); ++i)
        if (played[start + i] != expected[i] && mismatches++ == 0) first = i;
    EXPECT_EQ(mismatches, 0u) << "first difference at sample " << first;
    // Nothing but silence after the sound.
    for (size_t i = start + expected.size(); i < played.size(); ++i) ASSERT_EQ(played[i], 0) << "at " << i;
}

TEST(LibraryPlay, WavFilePlaysOutByteIdenticalWithOneEndEvent) {
    REQUIRE_TOOL("sox");
    TempDir dir;
    std::string in = dir.File("noise.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + in + " synth 0.8 whitenoise vol 0.7"));
    int ends = 0;
    auto played = PlayOut(in, dir.File("out.wav"), &ends);
    ExpectContains(played, Samples(WavData(in)));
    EXPECT_EQ(ends, 1);
}

TEST(LibraryPlay, Mp3PlaysOutEqualToFfmpegsOwnDecode) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("lame");
    REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    std::string wav = dir.File("tone.wav"), mp3 = dir.File("tone.mp3"), ref = dir.File("ref.raw");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 1.0 sine 440 sine 660 vol 0.5"));
    ASSERT_TRUE(Shell("lame --quiet -b 128 " + wav + " " + mp3));
    ASSERT_TRUE(Shell("ffmpeg -v quiet -y -i " + mp3 + " -f s16le -acodec pcm_s16le -ac 2 -ar 44100 " + ref));
    auto played = PlayOut(mp3, dir.File("out.wav"));
    ExpectContains(played, Samples(ReadBytes(ref)));
}

// The real ALSA output, on a machine without a sound card: the default device of a home of our
// own is ALSA's file plugin over its null device. The null device does not pace, so what counts is
// that the decoded samples are in what was written, not how long it took.
TEST(LibraryPlay, TheAlsaOutputPlaysTheDecodedSamples) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("lame");
    REQUIRE_TOOL("ffmpeg");
    // ALSA reads its configuration once per process, so every run in this one keeps the same home.
    static TempDir dir;
    std::string wav = dir.File("tone.wav"), mp3 = dir.File("tone.mp3"), ref = dir.File("ref.raw");
    std::string written = dir.File("written.raw");
    std::remove(written.c_str());
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 0.6 sine 330 sine 550 vol 0.5"));
    ASSERT_TRUE(Shell("lame --quiet -b 160 " + wav + " " + mp3));
    ASSERT_TRUE(Shell("ffmpeg -v quiet -y -i " + mp3 + " -f s16le -acodec pcm_s16le " + ref));
    dir.WriteFile(".asoundrc", "pcm.!default {\n  type file\n  slave.pcm \"null\"\n  file \"" + written +
                                   "\"\n  format \"raw\"\n}\n");
    const char* home = getenv("HOME");
    const std::string oldHome = home ? home : "";
    setenv("HOME", dir.Path().c_str(), 1);
    {
        LibrarySession lib("alsa");
        ASSERT_TRUE(lib.Ok()) << BASS_ErrorGetCode();
        EXPECT_EQ(std::string(BASS_GetDeviceDescription(1)), "ALSA: default");
        HSTREAM h = BASS_StreamCreateFile(0, mp3.c_str(), 0, 0, 0);
        ASSERT_NE(h, 0u);
        SyncCounter end;
        BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::Proc, &end);
        ASSERT_TRUE(BASS_ChannelPlay(h, 1));
        EXPECT_TRUE(WaitFor([&] { return end.Calls > 0; }, 20000));
    }
    if (home)
        setenv("HOME", oldHome.c_str(), 1);
    else
        unsetenv("HOME");
    ExpectContains(Samples(ReadBytes(written)), Samples(ReadBytes(ref)));
}

TEST(LibraryPlay, VolumeScalesAtMixTimeAndLoudSumsSaturate) {
    REQUIRE_TOOL("sox");
    TempDir dir;
    std::string in = dir.File("loud.wav"), out = dir.File("out.wav");
    // A full-scale square wave: two copies of it summed must clip, never wrap round.
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + in + " synth 0.3 square 100 vol 0.9"));
    {
        LibrarySession lib("wav:" + out);
        ASSERT_TRUE(lib.Ok());
        HSTREAM a = BASS_StreamCreateFile(0, in.c_str(), 0, 0, 0);
        HSTREAM b = BASS_StreamCreateFile(0, in.c_str(), 0, 0, 0);
        ASSERT_TRUE(a && b);
        SyncCounter end;
        BASS_ChannelSetSync(b, BASS_SYNC_END, 0, SyncCounter::Proc, &end);
        BASS_ChannelPlay(a, 1);
        BASS_ChannelPlay(b, 1);
        ASSERT_TRUE(WaitFor([&] { return end.Calls > 0; }, 10000));
    }
    auto played = Samples(WavData(out));
    auto input = Samples(WavData(in));
    int16_t peakIn = 0, peakOut = 0, troughOut = 0;
    for (auto s : input) peakIn = std::max<int16_t>(peakIn, s);
    for (auto s : played) {
        peakOut = std::max(peakOut, s);
        troughOut = std::min(troughOut, s);
    }
    ASSERT_GT(peakIn, 16384); // the sum exceeds full scale
    EXPECT_EQ(peakOut, 32767);
    EXPECT_EQ(troughOut, -32768);

    // At stream volume 127 of 255 every sample is about half the input.
    std::string half = dir.File("half.wav");
    {
        LibrarySession lib("wav:" + half);
        ASSERT_TRUE(lib.Ok());
        BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, 127);
        HSTREAM a = BASS_StreamCreateFile(0, in.c_str(), 0, 0, 0);
        SyncCounter end;
        BASS_ChannelSetSync(a, BASS_SYNC_END, 0, SyncCounter::Proc, &end);
        BASS_ChannelPlay(a, 1);
        ASSERT_TRUE(WaitFor([&] { return end.Calls > 0; }, 10000));
    }
    auto scaled = Samples(WavData(half));
    int16_t peakHalf = 0;
    for (auto s : scaled) peakHalf = std::max(peakHalf, s);
    EXPECT_NEAR(peakHalf, peakIn * 127.0 / 255.0, 2.0);
}

TEST(LibraryPlay, PauseHoldsThePositionAndResumeContinues) {
    REQUIRE_TOOL("sox");
    TempDir dir;
    std::string in = dir.File("tone.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + in + " synth 3 sine 300"));
    LibrarySession lib("null");
    ASSERT_TRUE(lib.Ok());
    HSTREAM h = BASS_StreamCreateFile(0, in.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, 1));
    ASSERT_TRUE(WaitFor([&] { return BASS_ChannelGetPosition(h) > 0; }, 2000));
    EXPECT_EQ(BASS_ChannelIsActive(h), static_cast<DWORD>(BASS_ACTIVE_PLAYING));
    ASSERT_TRUE(BASS_ChannelPause(h));
    EXPECT_EQ(BASS_ChannelIsActive(h), static_cast<DWORD>(BASS_ACTIVE_PAUSED));
    std::this_thread::sleep_for(std::chrono::milliseconds(60)); // a period in flight may still finish
    QWORD held = BASS_ChannelGetPosition(h);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(BASS_ChannelGetPosition(h), held);
    EXPECT_FALSE(BASS_ChannelPause(h)); // not playing any more
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    ASSERT_TRUE(WaitFor([&] { return BASS_ChannelGetPosition(h) > held; }, 2000));
    // Paced like a card: 200 ms of play is far less than the 3 s file.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QWORD length = BASS_ChannelGetLength(h);
    EXPECT_EQ(length, 3u * 44100 * 4);
    EXPECT_LT(BASS_ChannelGetPosition(h), length / 2);
    // Restarting goes back to the start; stopping keeps the channel for another play.
    ASSERT_TRUE(BASS_ChannelStop(h));
    EXPECT_EQ(BASS_ChannelIsActive(h), static_cast<DWORD>(BASS_ACTIVE_STOPPED));
    ASSERT_TRUE(BASS_ChannelPlay(h, 1));
    EXPECT_LT(BASS_ChannelGetPosition(h), 44100u * 4 / 2);
}

TEST(LibraryPlay, InitReportsOutputsAndRefusesTwice) {
    TempDir dir;
    {
        LibrarySession lib("wav:" + dir.File("a.wav"));
        ASSERT_TRUE(lib.Ok());
        EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
        EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
        EXPECT_EQ(BASS_GetVersion(), 0x02030001u);
        BASS_INFO info{};
        ASSERT_TRUE(BASS_GetInfo(&info));
        EXPECT_GE(info.dsver, 8u);
        EXPECT_EQ(std::string(BASS_GetDeviceDescription(1)), "WAV file: " + dir.File("a.wav"));
    }
    // The finished file has a correct header even though nothing played.
    auto bytes = ReadBytes(dir.File("a.wav"));
    ASSERT_GE(bytes.size(), 44u);
    uint32_t riff, data;
    std::memcpy(&riff, &bytes[4], 4);
    std::memcpy(&data, &bytes[40], 4);
    EXPECT_EQ(riff, bytes.size() - 8);
    EXPECT_EQ(data, bytes.size() - 44);

    setenv("LUMORA_AUDIO_OUTPUT", "wav:/nonexistent-folder/x.wav", 1);
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);
    setenv("LUMORA_AUDIO_OUTPUT", "bogus", 1);
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_StreamCreateFile(0, "/x.wav", 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

} // namespace
} // namespace lumora::test
