// The audio player over the real library, writing what it plays to a WAV file: exact play-out in
// both channel modes, one end event, pause and resume, and streams from a loopback HTTP server.

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "audio/player/AudioPlayer.h"
#include "tests/audio/player/PlayerTestUtil.h"
#include "tests/audiolib/LoopbackServer.h"

namespace lumora::playertest {
namespace {

std::vector<int16_t> WavSamples(const std::string& path) {
    std::string bytes = test::ReadFile(path);
    size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        uint32_t size;
        std::memcpy(&size, &bytes[pos + 4], 4);
        if (bytes.compare(pos, 4, "data") == 0) {
            size_t n = std::min<size_t>(size, bytes.size() - pos - 8) / 2;
            std::vector<int16_t> s(n);
            std::memcpy(s.data(), &bytes[pos + 8], n * 2);
            return s;
        }
        pos += 8 + size + (size & 1);
    }
    return {};
}

size_t FirstSound(const std::vector<int16_t>& s) {
    for (size_t i = 0; i < s.size(); ++i)
        if (s[i] != 0) return i;
    return s.size();
}

// The nice value of this process and of the dual-channel feeder thread, found by its name.
bool FeederNice(int& process, int& feeder) {
    namespace fs = std::filesystem;
    auto niceOf = [](const std::string& statPath) {
        std::string stat = test::ReadFile(statPath);
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        for (int i = 3; i <= 19 && fields >> field; ++i) {
        }
        return std::stoi(field); // field 19
    };
    process = niceOf("/proc/self/stat");
    for (const auto& task : fs::directory_iterator("/proc/self/task")) {
        if (test::ReadFile(task.path() / "comm").rfind("lumora-feeder", 0) == 0) {
            feeder = niceOf(task.path() / "stat");
            return true;
        }
    }
    return false;
}

// Whether a thread of this process may raise its own priority.
bool MayRaisePriority() {
    bool may = false;
    std::thread([&] {
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)));
        may = errno == 0 && setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), nice - 1) == 0;
    }).join();
    return may;
}

class PlayerReal : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("sox")) GTEST_SKIP() << "sox is not installed";
        out_ = folder_.Dir().File("out.wav");
        setenv("LUMORA_AUDIO_OUTPUT", ("wav:" + out_).c_str(), 1);
    }
    void TearDown() override { unsetenv("LUMORA_AUDIO_OUTPUT"); }
    std::unique_ptr<TAudioPlayer> MakePlayer() {
        auto p = std::make_unique<TAudioPlayer>();
        p->OnPlayEnd = [this](TObject*) { ++ends_; };
        p->OnModeChange = [this](TObject*, TPlayerMode, TPlayerMode to) { modes_.push_back(to); };
        return p;
    }
    ProgramFolderScope folder_;
    MessageCapture boxes_;
    std::string out_;
    int ends_ = 0;
    std::vector<TPlayerMode> modes_;
};

void PlaysOutExactly(PlayerReal* test, bool single, const std::string& in, const std::string& out, int& ends,
                     std::vector<TPlayerMode>& modes,
                     const std::function<std::unique_ptr<TAudioPlayer>()>& make) {
    {
        auto player = make();
        ASSERT_TRUE(player->Ready()) << "library did not start";
        player->SetSingleChannel(single);
        ASSERT_TRUE(player->Open(in));
        EXPECT_EQ(player->SingleChannel(), single);
        EXPECT_EQ(player->DecoderName(), "BASS_Native");
        EXPECT_EQ(player->GetPlayLength(), 700);
        player->Play();
        ASSERT_TRUE(PumpUntil([&] { return ends > 0; }, 10000));
        Pump(150);
        EXPECT_EQ(ends, 1);
        EXPECT_EQ(player->Mode(), plmStopped);
    }
    std::vector<TPlayerMode> expected = {plmReady, plmPlaying, plmStopped};
    EXPECT_EQ(modes, expected);
    auto played = WavSamples(out);
    auto input = WavSamples(in);
    size_t p0 = FirstSound(played), i0 = FirstSound(input);
    ASSERT_LT(i0, input.size());
    ASSERT_GE(p0, i0);
    size_t start = p0 - i0;
    ASSERT_GE(played.size(), start + input.size());
    EXPECT_TRUE(std::equal(input.begin(), input.end(), played.begin() + static_cast<long>(start)));
    for (size_t i = start + input.size(); i < played.size(); ++i) ASSERT_EQ(played[i], 0) << i;
    (void)test;
}

TEST_F(PlayerReal, WavPlaysOutByteIdenticalThroughTheRingWithOneEnd) {
    std::string in = folder_.Dir().File("noise.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + in + " synth 0.7 whitenoise vol 0.6"));
    PlaysOutExactly(this, false, in, out_, ends_, modes_, [this] { return MakePlayer(); });
}

TEST_F(PlayerReal, WavPlaysOutByteIdenticalInSingleChannelMode) {
    std::string in = folder_.Dir().File("noise.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + in + " synth 0.7 whitenoise vol 0.6"));
    PlaysOutExactly(this, true, in, out_, ends_, modes_, [this] { return MakePlayer(); });
}

TEST_F(PlayerReal, EffectsChosenBeforePlayReachTheNewPlayChannel) {
    // One click in silence: the echo at level 32 keeps 61.6 % of it and repeats 38.4 % of it 500 ms
    // later, then 30 % of that again; the reverb leaves a tail after a click where there was none.
    std::string click(44100 * 4 * 5 / 2, '\0');
    const int16_t peak = 20000;
    std::memcpy(&click[4 * 1000], &peak, 2);
    std::memcpy(&click[4 * 1000 + 2], &peak, 2);
    std::string in = WriteWav(folder_.Dir(), "click.wav", 44100, 2, 44100 * 5 / 2);
    {
        std::string bytes = test::ReadFile(in);
        bytes.replace(44, click.size(), click);
        in = folder_.Dir().WriteFile("click.wav", bytes);
    }
    auto playWith = [&](uint8_t effects) {
        ends_ = 0;
        {
            auto player = MakePlayer();
            player->SetSoundEffects(effects);
            player->SetEchoLevel(32);
            player->SetEchoLevel(33); // out of range: ignored
            ASSERT_TRUE(player->Open(in));
            player->Play();
            ASSERT_TRUE(PumpUntil([&] { return ends_ > 0; }, 10000));
            EXPECT_EQ(player->SoundEffects(), effects);
        }
    };
    playWith(sefEcho);
    auto played = WavSamples(out_);
    const size_t at = FirstSound(played);
    ASSERT_LT(at + 2 * 44100 * 2, played.size());
    EXPECT_NEAR(played[at], peak * 0.616, 1.5);
    EXPECT_NEAR(played[at + 1], peak * 0.616, 1.5);
    EXPECT_NEAR(played[at + 22050 * 2], peak * 0.384, 1.5);
    EXPECT_NEAR(played[at + 44100 * 2], peak * 0.384 * 0.3, 1.5);
    size_t others = 0;
    for (size_t i = at + 2; i < at + 55125 * 2; ++i) // nothing else before the third repeat
        others += played[i] != 0 && i != at + 22050 * 2 && i != at + 22050 * 2 + 1 && i != at + 44100 * 2 &&
                  i != at + 44100 * 2 + 1;
    EXPECT_EQ(others, 0u);

    playWith(sefReverb);
    played = WavSamples(out_);
    const size_t click0 = FirstSound(played);
    ASSERT_LT(click0 + 44100, played.size());
    double tail = 0;
    for (size_t i = click0 + 2; i < click0 + 44100; ++i) tail += std::abs(played[i]);
    EXPECT_GT(tail, peak * 0.5) << "no reverberation after the click";
}

TEST_F(PlayerReal, SpectrumTicksShowWhatPlaysAndStopWithThePlay) {
    // 1033.6 Hz is FFT bin 12 exactly, the top of band 4 (bins 7..12).
    std::string in = folder_.Dir().File("tone.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + in + " synth 1 sine 1033.59375 vol 0.5"));
    auto player = MakePlayer();
    int events = 0;
    TBandOut seen{};
    player->OnNewFFTData = [&](TObject* sender, const TBandOut& bands) {
        EXPECT_EQ(sender, player.get());
        ++events;
        if (player->GetPosition() > 300 && player->GetPosition() < 800) seen = bands;
    };
    ASSERT_TRUE(player->Open(in));
    player->Play();
    ASSERT_TRUE(PumpUntil([&] { return ends_ > 0; }, 10000));
    EXPECT_GT(events, 10);
    // A half-scale sine: magnitude 0.5, times 1.6 for band 4, times 80.
    EXPECT_NEAR(seen[4], 64, 8);
    // The window spreads half of it into bin 13, the first of band 5; the other bands stay low.
    for (size_t b = 0; b < seen.size(); ++b)
        if (b != 4 && b != 5) {
            EXPECT_LT(seen[b], seen[4] / 4) << "band " << b;
        }
    const int atEnd = events;
    Pump(300);
    EXPECT_LE(events, atEnd + 1) << "ticks went on after the end";
}

TEST_F(PlayerReal, AnMp3SeekPlaysOnWithFfmpegsSamplesFromThatPoint) {
    if (!HaveTool("lame") || !HaveTool("ffmpeg")) GTEST_SKIP() << "lame or ffmpeg is not installed";
    std::string wav = folder_.Dir().File("sweep.wav"), mp3 = folder_.Dir().File("sweep.mp3");
    std::string ref = folder_.Dir().File("ref.raw");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 4 sine 200-4000 vol 0.5"));
    ASSERT_TRUE(Shell("lame --quiet -b 128 " + wav + " " + mp3));
    ASSERT_TRUE(Shell("ffmpeg -v quiet -y -i " + mp3 + " -f s16le -acodec pcm_s16le " + ref));
    std::string refBytes = test::ReadFile(ref);
    std::vector<int16_t> expected(refBytes.size() / 2);
    std::memcpy(expected.data(), refBytes.data(), expected.size() * 2);
    // Playing, and paused for a while (the ring fills meanwhile) then resumed: from 2.5 s on, the
    // rest of the file follows with no silence, no fade-in and nothing skipped.
    for (bool paused : {false, true}) {
        ends_ = 0;
        {
            auto player = MakePlayer();
            ASSERT_TRUE(player->Open(mp3));
            EXPECT_EQ(player->GetPlayLength(), 4000); // the length that plays, not the container's
            player->Play();
            ASSERT_TRUE(PumpUntil([&] { return player->GetPosition() > 200; }, 3000));
            if (paused) player->Pause();
            player->SetPosition(2500);
            if (paused) {
                Pump(300);
                player->Resume();
            }
            ASSERT_TRUE(PumpUntil([&] { return ends_ > 0; }, 10000));
        }
        auto played = WavSamples(out_);
        const size_t from = 2 * 110250;
        auto at = std::search(played.begin(), played.end(), expected.begin() + static_cast<long>(from),
                              expected.begin() + static_cast<long>(from) + 64);
        ASSERT_NE(at, played.end()) << "the samples at the seek point never played" << (paused ? " (paused)" : "");
        const size_t rest = expected.size() - from;
        ASSERT_GE(static_cast<size_t>(played.end() - at), rest);
        EXPECT_TRUE(std::equal(expected.begin() + static_cast<long>(from), expected.end(), at));
    }
}

// A seek to a millisecond lands on its frame (the millisecond times the rate, rounded down) at
// 48 kHz as at 44.1 kHz, in a long track as in a short one: the frames from there are ffmpeg's.
TEST_F(PlayerReal, SeeksLandOnTheFrameOfTheirMillisecond) {
    if (!HaveTool("ffmpeg") || !HaveTool("oggenc")) GTEST_SKIP() << "ffmpeg or oggenc is not installed";
    struct Kind {
        std::string Name, Make;
        int Rate;
    };
    const std::string dir = folder_.Dir().Path();
    const std::vector<Kind> kinds = {
        {"music48.wav", "sox -D -n -r 48000 -c 2 -b 16 DIR/music48.wav synth 30 sine 300-3000 vol 0.4", 48000},
        {"music48.ogg", "oggenc -Q DIR/music48.wav -o DIR/music48.ogg", 48000},
        {"mono441.wav", "sox -D -n -r 44100 -c 1 -b 16 DIR/mono441.wav synth 12 sine 300-3000 vol 0.4", 44100}};
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.Name);
        std::string make = kind.Make;
        for (size_t at; (at = make.find("DIR")) != std::string::npos;) make.replace(at, 3, dir);
        ASSERT_TRUE(Shell(make));
        const std::string file = dir + "/" + kind.Name, ref = file + ".raw";
        ASSERT_TRUE(Shell("ffmpeg -v quiet -y -i " + file + " -f s16le -acodec pcm_s16le " + ref));
        const std::string expected = test::ReadFile(ref);
        auto player = MakePlayer();
        ASSERT_TRUE(player->Open(file));
        const DWORD source = player->SourceChannel();
        BASS_CHANNELINFO info{};
        ASSERT_TRUE(BASS_ChannelGetInfo(source, &info));
        const size_t frameBytes = 2 * info.chans;
        const int64_t length = player->GetPlayLength();
        int missed = 0, seeks = 0;
        std::string first;
        for (int64_t ms = 37; ms < length - 200; ms += length / 110 + 1, ++seeks) {
            player->SetPosition(ms);
            const size_t at = static_cast<size_t>(ms) * static_cast<size_t>(kind.Rate) / 1000 * frameBytes;
            std::string got(256 * frameBytes, '\0');
            DWORD have = 0;
            while (have < got.size()) {
                DWORD n = BASS_ChannelGetData(source, got.data() + have, static_cast<DWORD>(got.size() - have));
                if (n == ~DWORD{0} || n == 0) break;
                have += n;
            }
            if (have != got.size() || expected.compare(at, got.size(), got) != 0) {
                if (!missed++) first = std::to_string(ms) + " ms, frame " + std::to_string(at / frameBytes);
            }
        }
        EXPECT_GE(seeks, 100);
        EXPECT_EQ(missed, 0) << "first at " << first;
    }
}

TEST_F(PlayerReal, ASecondPlayerComesAndGoesWhileTheFirstPlaysOn) {
    std::string in = folder_.Dir().File("tone.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + in + " synth 3 sine 440"));
    auto first = MakePlayer();
    ASSERT_TRUE(first->Ready());
    ASSERT_TRUE(first->Open(in));
    first->SetVolume(100);
    first->Play();
    ASSERT_TRUE(PumpUntil([&] { return first->GetPosition() > 100; }, 3000));
    {
        TAudioPlayer second;
        // The device the first one runs is no failure, the plug-in host stays with the first, and
        // so does the volume the first one set.
        EXPECT_TRUE(second.Ready());
        EXPECT_EQ(boxes_.Count(), 0u) << boxes_.Last();
        EXPECT_TRUE(second.SingleChannel());
        ASSERT_TRUE(second.Open(in));
        second.Play();
        EXPECT_EQ(second.Mode(), plmPlaying);
        ASSERT_TRUE(PumpUntil([&] { return second.GetPosition() > 100; }, 3000));
    }
    ASSERT_TRUE(BassLibraryLoaded());
    EXPECT_FALSE(first->SingleChannel());
    int64_t at = first->GetPosition();
    ASSERT_TRUE(PumpUntil([&] { return first->GetPosition() > at + 200; }, 3000));
    first->SetPosition(2800);
    ASSERT_TRUE(PumpUntil([&] { return ends_ > 0; }, 3000));
    EXPECT_EQ(first->Mode(), plmStopped);
    first.reset();
    // The first player alone at its start and at its end: the same level.
    auto played = WavSamples(out_);
    auto peak = [&](size_t from, size_t to) {
        int p = 0;
        for (size_t i = from; i < to; ++i) p = std::max(p, std::abs(static_cast<int>(played[i])));
        return p;
    };
    size_t begin = FirstSound(played), end = played.size();
    while (end > begin && played[end - 1] == 0) --end;
    const size_t window = 2 * 4410; // 100 ms
    ASSERT_GT(end - begin, 2 * window);
    const int atStart = peak(begin, begin + window), atEnd = peak(end - window, end);
    auto input = WavSamples(in);
    const int full = *std::max_element(input.begin(), input.end());
    EXPECT_NEAR(atStart, full * 100 / 255, 200);
    EXPECT_NEAR(atEnd, atStart, 200);
}

TEST_F(PlayerReal, PauseHoldsThePositionAndResumeGoesOn) {
    std::string in = folder_.Dir().File("tone.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + in + " synth 4 sine 440"));
    auto player = MakePlayer();
    ASSERT_TRUE(player->Open(in));
    player->Play();
    ASSERT_TRUE(PumpUntil([&] { return player->GetPosition() > 100; }, 3000));
    player->Pause();
    Pump(100);
    int64_t held = player->GetPosition();
    Pump(300);
    EXPECT_EQ(player->GetPosition(), held);
    player->Resume();
    EXPECT_EQ(player->Mode(), plmPlaying);
    // The ring's feeder runs one step above normal priority where the system lets it.
    int base = 0, feeder = 0;
    ASSERT_TRUE(FeederNice(base, feeder));
    EXPECT_EQ(feeder, MayRaisePriority() ? base - 1 : base);
    ASSERT_TRUE(PumpUntil([&] { return player->GetPosition() > held + 100; }, 3000));
    // Seeking lands where asked, give or take what the ring holds.
    ASSERT_TRUE(player->Seekable());
    player->SetPosition(3000);
    Pump(100);
    EXPECT_NEAR(static_cast<double>(player->GetPosition()), 3100, 700);
    player->Stop();
    EXPECT_EQ(player->Mode(), plmStopped);
    EXPECT_EQ(ends_, 0);
}

TEST_F(PlayerReal, RadioStreamShowsItsTitlesAsTheyCome) {
    std::string wav = folder_.Dir().File("radio.wav");
    ASSERT_TRUE(Shell("sox -n -r 22050 -c 2 -b 16 " + wav + " synth 2 sine 300"));
    std::string audio = test::ReadFile(wav);
    std::string body;
    const size_t interval = 8000;
    int block = 0;
    for (size_t pos = 0; pos + interval <= audio.size(); pos += interval, ++block) {
        body += audio.substr(pos, interval);
        std::string text = "StreamTitle='Song " + std::to_string(block) + "';";
        size_t len = (text.size() + 15) / 16;
        text.resize(len * 16, '\0');
        body.push_back(static_cast<char>(len));
        body += text;
    }
    test::LoopbackServer server("ICY 200 OK\r\nicy-br: 96\r\nicy-metaint: 8000\r\n\r\n" + body, 2048, 10);
    auto player = MakePlayer();
    std::vector<std::string> titles;
    player->OnGetMeta = [&](TObject*, const std::string& title) { titles.push_back(title); };
    ASSERT_TRUE(player->Open(server.Url("/live"))) << boxes_.Last();
    EXPECT_TRUE(player->IsRadioStream());
    EXPECT_FALSE(player->Seekable());
    EXPECT_EQ(player->StreamInfo().BitRate, 96);
    EXPECT_EQ(player->StreamInfo().SampleRate, 22050);
    player->Play();
    ASSERT_TRUE(PumpUntil([&] { return titles.size() >= 2; }, 5000));
    EXPECT_EQ(titles[0].rfind("Song ", 0), 0u);
    EXPECT_EQ(player->StreamInfo().Title, titles.back());
    player->Close();
}

// Once downloaded the file has its tag, its length and its seeks, also when the server did not say
// its size beforehand.
TEST_F(PlayerReal, DownloadedMp3ReadsItsTagAndLengthWhenComplete) {
    if (!HaveTool("lame")) GTEST_SKIP() << "lame is not installed";
    std::string wav = folder_.Dir().File("t.wav"), mp3 = folder_.Dir().File("t.mp3");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 1 sine 500"));
    ASSERT_TRUE(Shell("lame --quiet --id3v1-only --tt Fetched --ta Someone " + wav + " " + mp3));
    std::string bytes = test::ReadFile(mp3);
    int64_t localLength = 0;
    {
        auto local = MakePlayer();
        ASSERT_TRUE(local->Open(mp3));
        localLength = local->GetPlayLength();
    }
    ASSERT_NEAR(localLength, 1000, 100);
    const std::vector<std::pair<std::string, std::string>> servings = {
        {"with its length",
         "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(bytes.size()) + "\r\n\r\n" + bytes},
        {"chunked",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + test::ChunkedBody(bytes, 3000)}};
    for (const auto& [name, response] : servings) {
        SCOPED_TRACE(name);
        test::LoopbackServer server(response, 4096, 5);
        auto player = MakePlayer();
        std::string downloaded;
        player->OnDownloaded = [&](TObject*, const std::string& ms) { downloaded = ms; };
        ASSERT_TRUE(player->Open(server.Url("/music/t.mp3"))) << boxes_.Last();
        EXPECT_TRUE(player->IsDownloadStream());
        EXPECT_EQ(player->StreamInfo().Title, "t.mp3");
        EXPECT_FALSE(player->Seekable());
        ASSERT_TRUE(PumpUntil([&] { return !downloaded.empty(); }, 5000));
        EXPECT_TRUE(player->Seekable());
        EXPECT_EQ(player->StreamInfo().Title, "Fetched");
        EXPECT_EQ(player->StreamInfo().Artist, "Someone");
        EXPECT_EQ(player->StreamInfo().FileSize, static_cast<int64_t>(bytes.size()));
        EXPECT_EQ(downloaded, std::to_string(localLength));
        EXPECT_EQ(player->StreamInfo().Duration, localLength);
        EXPECT_EQ(player->GetPlayLength(), localLength);
        player->SetPosition(600);
        EXPECT_EQ(player->GetPosition(), 600);
        player->Close();
    }
}

} // namespace
} // namespace lumora::playertest
