// Streams over HTTP from a loopback server: whole files with a download-complete sync, and radio
// streams with ICY metadata interleaved in the audio.

#include <gtest/gtest.h>

#include "tests/audiolib/AudioTestUtil.h"
#include "tests/support/TempDir.h"

namespace lumora::test {
namespace {

std::vector<uint8_t> DecodeAll(HSTREAM h) {
    std::vector<uint8_t> all, buf(8192);
    while (true) {
        DWORD n = BASS_ChannelGetData(h, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == ~DWORD{0}) break;
        all.insert(all.end(), buf.begin(), buf.begin() + n);
    }
    return all;
}

std::vector<std::string> List(const char* p) {
    std::vector<std::string> items;
    for (; p && *p; p += std::strlen(p) + 1) items.emplace_back(p);
    return items;
}

bool Has(const std::vector<std::string>& items, const std::string& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

class LibraryNet : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HaveTool("sox")) GTEST_SKIP() << "sox is not installed";
        ASSERT_TRUE(lib_.Ok());
        wav_ = dir_.File("noise.wav");
        ASSERT_TRUE(Shell("sox -n -r 22050 -c 2 -b 16 " + wav_ + " synth 0.6 whitenoise"));
        bytes_ = ReadBytes(wav_);
    }
    LibrarySession lib_{"null"};
    TempDir dir_;
    std::string wav_;
    std::vector<uint8_t> bytes_;
};

TEST_F(LibraryNet, FileStreamDownloadsDecodesAndReportsCompletion) {
    std::string response = "HTTP/1.0 200 OK\r\nContent-Type: audio/wav\r\nContent-Length: " +
                           std::to_string(bytes_.size()) + "\r\n\r\n" + std::string(bytes_.begin(), bytes_.end());
    // The body arrives over about a third of a second.
    LoopbackServer server(response, 4096, 5);
    HSTREAM h = BASS_StreamCreateURL(server.Url("/music/noise.wav").c_str(), 0, BASS_STREAM_DECODE, nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    SyncCounter done;
    ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_DOWNLOAD, 0, SyncCounter::Proc, &done), 0u);
    EXPECT_NE(server.LastRequest().find("Icy-MetaData: 1"), std::string::npos);
    auto headers = List(BASS_ChannelGetTags(h, BASS_TAG_HTTP));
    ASSERT_FALSE(headers.empty());
    EXPECT_EQ(headers[0], "HTTP/1.0 200 OK");
    EXPECT_TRUE(Has(headers, "Content-Type: audio/wav"));
    EXPECT_EQ(BASS_ChannelGetTags(h, BASS_TAG_ICY), nullptr);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), bytes_.size());
    EXPECT_EQ(BASS_ChannelGetLength(h), bytes_.size() - 44);

    EXPECT_EQ(DecodeAll(h), WavData(wav_));
    ASSERT_TRUE(WaitFor([&] { return done.Calls > 0; }, 5000));
    // Once it is all in, the stream can seek, and a sync set now is told at once.
    ASSERT_TRUE(BASS_ChannelSetPosition(h, 400));
    EXPECT_EQ(DecodeAll(h).size(), bytes_.size() - 44 - 400);
    SyncCounter late;
    BASS_ChannelSetSync(h, BASS_SYNC_DOWNLOAD, 0, SyncCounter::Proc, &late);
    ASSERT_TRUE(WaitFor([&] { return late.Calls == 1; }, 2000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(done.Calls, 1);
    EXPECT_TRUE(BASS_StreamFree(h));
}

// An MP3 file's container counts the encoder's delay and padding; once the whole file is in, the
// length is the one that decodes, as for a local file, and the stream seeks. That holds too when the
// server does not say the length beforehand (a chunked body, or one the closing connection ends).
TEST_F(LibraryNet, Mp3FileStreamHasTheDecodedLengthAndSeeksOnceDownloaded) {
    REQUIRE_TOOL("lame");
    REQUIRE_TOOL("ffmpeg");
    std::string wav = dir_.File("music.wav"), mp3 = dir_.File("music.mp3"), ref = dir_.File("music.raw");
    ASSERT_TRUE(Shell("sox -D -n -r 44100 -c 2 -b 16 " + wav + " synth 10 sine 300-3000 vol 0.4"));
    ASSERT_TRUE(Shell("lame --quiet -b 128 " + wav + " " + mp3));
    ASSERT_TRUE(Shell("ffmpeg -v quiet -y -i " + mp3 + " -f s16le -acodec pcm_s16le " + ref));
    const auto whole = ReadBytes(ref);
    HSTREAM local = BASS_StreamCreateFile(0, mp3.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(local, 0u);
    EXPECT_EQ(BASS_ChannelGetLength(local), whole.size());
    BASS_StreamFree(local);
    auto bytes = ReadBytes(mp3);
    const std::string body(bytes.begin(), bytes.end());
    // The first half of the file, as ffmpeg decodes it.
    std::string half = dir_.WriteFile("half.mp3", body.substr(0, body.size() / 2));
    ASSERT_TRUE(Shell("ffmpeg -v quiet -y -i " + half + " -f s16le -acodec pcm_s16le " + ref + ".half"));
    const auto halfDecoded = ReadBytes(ref + ".half");
    const std::string chunked =
        "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nTransfer-Encoding: chunked\r\n\r\n" +
        ChunkedBody(body, 5000);
    struct Serving {
        std::string Name, Response;
        bool ReadAlong; // decode as the body arrives, rather than once it is all in
        size_t Sent;    // bytes of the file in the body
    };
    const std::string withLength =
        "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\nContent-Length: " + std::to_string(bytes.size()) +
        "\r\n\r\n";
    const std::vector<Serving> servings = {
        {"with its length", withLength + body, false, body.size()},
        {"chunked", chunked, false, body.size()},
        {"until the connection closes", "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" + body, false,
         body.size()},
        {"chunked, read as it arrives", chunked, true, body.size()},
        // The connection closes after half of the length the server gave.
        {"cut short of its length", withLength + body.substr(0, body.size() / 2), false, body.size() / 2}};
    for (const auto& serving : servings) {
        SCOPED_TRACE(serving.Name);
        const auto& expected = serving.Sent == body.size() ? whole : halfDecoded;
        const QWORD decoded = expected.size();
        // The body arrives over about a third of a second when read along, at once otherwise.
        LoopbackServer server(serving.Response, serving.ReadAlong ? 4096 : 16384, serving.ReadAlong ? 8 : 2);
        HSTREAM h =
            BASS_StreamCreateURL(server.Url("/music.mp3").c_str(), 0, BASS_STREAM_DECODE, nullptr, nullptr);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        SyncCounter done;
        ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_DOWNLOAD, 0, SyncCounter::Proc, &done), 0u);
        std::vector<uint8_t> all;
        if (serving.ReadAlong) all = DecodeAll(h);
        ASSERT_TRUE(WaitFor([&] { return done.Calls > 0; }, 5000));
        EXPECT_EQ(BASS_ChannelGetLength(h), decoded);
        EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), serving.Sent);
        if (!serving.ReadAlong) all = DecodeAll(h);
        EXPECT_TRUE(all == expected) << all.size() << " bytes decoded";
        EXPECT_EQ(BASS_ChannelGetLength(h), decoded);
        // Back into the middle: ffmpeg's samples from there on.
        const QWORD mid = decoded / 4 / 2 * 4;
        EXPECT_TRUE(BASS_ChannelSetPosition(h, mid));
        auto rest = DecodeAll(h);
        EXPECT_TRUE(rest.size() == decoded - mid &&
                    std::equal(rest.begin(), rest.end(), expected.begin() + static_cast<long>(mid)));
        // Seeks in quick succession, each while the stream is still refilling after the one before:
        // what comes next is from the last one's point, with nothing left over from before it.
        int stale = 0;
        const QWORD places = std::min<QWORD>(400, decoded / 4096 - 4);
        for (QWORD i = 0; i < 25; ++i) {
            const QWORD from = (i * 7919 % places) * 1024 * 4, to = (i * 104729 % places) * 1024 * 4;
            BASS_ChannelSetPosition(h, from);
            std::this_thread::sleep_for(std::chrono::microseconds(i * 37 % 500));
            ASSERT_TRUE(BASS_ChannelSetPosition(h, to));
            std::vector<uint8_t> next(4 * 4096);
            DWORD got = 0;
            while (got < next.size()) {
                DWORD n = BASS_ChannelGetData(h, next.data() + got, static_cast<DWORD>(next.size() - got));
                if (n == ~DWORD{0}) break;
                got += n;
            }
            if (!std::equal(next.begin(), next.end(), expected.begin() + static_cast<long>(to))) ++stale;
        }
        EXPECT_EQ(stale, 0);
        EXPECT_TRUE(BASS_StreamFree(h));
    }
}

// Radio bytes: the stream with a metadata block after every `interval` bytes of audio.
std::string WithMetadata(const std::vector<uint8_t>& audio, size_t interval, const std::vector<std::string>& titles) {
    std::string out;
    size_t block = 0;
    for (size_t pos = 0; pos < audio.size(); pos += interval, ++block) {
        size_t n = std::min(interval, audio.size() - pos);
        out.append(reinterpret_cast<const char*>(audio.data() + pos), n);
        if (n < interval) break;
        // Every other block repeats the title as an empty block.
        std::string text = block % 2 ? "" : "StreamTitle='" + titles[(block / 2) % titles.size()] + "';StreamUrl='';";
        size_t len = (text.size() + 15) / 16;
        text.resize(len * 16, '\0');
        out.push_back(static_cast<char>(len));
        out += text;
    }
    return out;
}

TEST_F(LibraryNet, RadioStreamSeparatesMetadataFromTheAudio) {
    std::string wav = dir_.File("long.wav");
    ASSERT_TRUE(Shell("sox -n -r 22050 -c 2 -b 16 " + wav + " synth 2 whitenoise"));
    auto audio = ReadBytes(wav);
    std::string body = WithMetadata(audio, 8000, {"First Song", "Second Song"});
    std::string response = "ICY 200 OK\r\nicy-name: Test Radio\r\nicy-br: 128\r\nicy-metaint: 8000\r\n\r\n" + body;
    LoopbackServer server(response, 2048, 10); // about a second of body
    HSTREAM h = BASS_StreamCreateURL(server.Url("/stream").c_str(), 0, BASS_STREAM_DECODE, nullptr, nullptr);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    SyncCounter meta;
    BASS_ChannelSetSync(h, BASS_SYNC_META, 0, SyncCounter::Proc, &meta);
    auto icy = List(BASS_ChannelGetTags(h, BASS_TAG_ICY));
    EXPECT_TRUE(Has(icy, "icy-br: 128"));
    EXPECT_TRUE(Has(icy, "icy-name: Test Radio"));
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), ~QWORD{0});
    EXPECT_FALSE(BASS_ChannelSetPosition(h, 0)); // a radio stream cannot seek
    // The audio comes out whole, with no metadata bytes in it.
    EXPECT_EQ(DecodeAll(h), WavData(wav));
    const char* title = BASS_ChannelGetTags(h, BASS_TAG_META);
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(std::string(title).rfind("StreamTitle='", 0), 0u);
    EXPECT_GE(meta.Calls, 2);
}

// The library's bound on a body of unknown length that it keeps whole, for the length of a test.
class KeepWholeBound {
public:
    explicit KeepWholeBound(size_t bytes) : old_(BASS_GetConfig(LUMORA_CONFIG_NET_KEEPWHOLE)) {
        BASS_SetConfig(LUMORA_CONFIG_NET_KEEPWHOLE, static_cast<DWORD>(bytes));
    }
    ~KeepWholeBound() { BASS_SetConfig(LUMORA_CONFIG_NET_KEEPWHOLE, old_); }

private:
    DWORD old_;
};

// A body of unknown length is kept whole only up to a bound. Up to it (to the byte) it tells its
// length, seeks and gives its tags once it is in, as a body with a length does; past it, it plays on
// as a radio station does, to its end when it has one, and cannot seek.
TEST_F(LibraryNet, BodyWithoutALengthIsKeptWholeOnlyUpToTheBound) {
    REQUIRE_TOOL("lame");
    REQUIRE_TOOL("ffmpeg");
    std::string wav = dir_.File("song.wav"), mp3 = dir_.File("song.mp3"), ref = dir_.File("song.raw"),
                piped = dir_.File("piped.raw");
    ASSERT_TRUE(Shell("sox -D -n -r 44100 -c 2 -b 16 " + wav + " synth 4 sine 300-3000 vol 0.4"));
    ASSERT_TRUE(
        Shell("lame --quiet -b 128 --tt 'Night Song' --ta 'Some Band' --add-id3v2 " + wav + " " + mp3));
    ASSERT_TRUE(Shell("ffmpeg -v quiet -y -i " + mp3 + " -f s16le -acodec pcm_s16le " + ref));
    // What decodes when the length cannot be known: the encoder's padding at the end as well.
    ASSERT_TRUE(Shell("cat " + mp3 + " | ffmpeg -v quiet -y -i - -f s16le -acodec pcm_s16le " + piped));
    const auto bytes = ReadBytes(mp3), whole = ReadBytes(ref), streamed = ReadBytes(piped);
    ASSERT_GT(streamed.size(), whole.size());
    const std::string body(bytes.begin(), bytes.end());
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n";
    struct Serving {
        std::string Name, Response;
        size_t Bound;
        bool KeptWhole;
    };
    const std::vector<Serving> servings = {
        {"with its length, longer than the bound",
         head + "Content-Length: " + std::to_string(bytes.size()) + "\r\n\r\n" + body, bytes.size() / 2,
         true},
        {"until the connection closes, as long as the bound", head + "\r\n" + body, bytes.size(), true},
        {"chunked, a byte past the bound",
         "HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nTransfer-Encoding: chunked\r\n\r\n" +
             ChunkedBody(body, 5000),
         bytes.size() - 1, false}};
    for (const auto& serving : servings) {
        SCOPED_TRACE(serving.Name);
        KeepWholeBound bound(serving.Bound);
        LoopbackServer server(serving.Response, 16384, 2);
        HSTREAM h =
            BASS_StreamCreateURL(server.Url("/song.mp3").c_str(), 0, BASS_STREAM_DECODE, nullptr, nullptr);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        SyncCounter done;
        ASSERT_NE(BASS_ChannelSetSync(h, BASS_SYNC_DOWNLOAD, 0, SyncCounter::Proc, &done), 0u);
        ASSERT_TRUE(WaitFor([&] { return done.Calls > 0; }, 10000));
        if (serving.KeptWhole) {
            EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), bytes.size());
            EXPECT_EQ(BASS_ChannelGetLength(h), whole.size());
            const char* v1 = BASS_ChannelGetTags(h, BASS_TAG_ID3);
            ASSERT_NE(v1, nullptr);
            EXPECT_EQ(std::string(v1 + 3, 10), "Night Song");
            EXPECT_NE(BASS_ChannelGetTags(h, BASS_TAG_ID3V2), nullptr);
            EXPECT_TRUE(DecodeAll(h) == whole);
            const QWORD mid = whole.size() / 3 / 4 * 4;
            ASSERT_TRUE(BASS_ChannelSetPosition(h, mid));
            auto rest = DecodeAll(h);
            EXPECT_TRUE(rest.size() == whole.size() - mid &&
                        std::equal(rest.begin(), rest.end(), whole.begin() + static_cast<long>(mid)));
        } else {
            EXPECT_TRUE(DecodeAll(h) == streamed);
            EXPECT_FALSE(BASS_ChannelSetPosition(h, 0));
        }
        EXPECT_TRUE(BASS_StreamFree(h));
    }
}

// A station that never ends, with or without ICY metadata, holds a few megabytes however much of it
// goes through, and cannot seek.
TEST_F(LibraryNet, EndlessStreamHoldsLittleMemory) {
    REQUIRE_TOOL("lame");
    // Frames without the encoder's header, so that copies follow each other as one stream.
    std::string wav = dir_.File("noise.wav"), mp3 = dir_.File("plain.mp3");
    ASSERT_TRUE(Shell("sox -D -n -r 44100 -c 2 -b 16 " + wav + " synth 20 whitenoise vol 0.3"));
    ASSERT_TRUE(Shell("lame --quiet -t -b 320 " + wav + " " + mp3));
    auto audio = ReadBytes(mp3);
    constexpr size_t kInterval = 16000;
    audio.resize(audio.size() / kInterval * kInterval); // every copy ends on a metadata block
    const std::string plain(audio.begin(), audio.end());
    struct Station {
        std::string Name;
        EndlessResponse Response;
    };
    const std::vector<Station> stations = {
        {"no length", {"HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n", plain}},
        {"ICY",
         {"ICY 200 OK\r\nicy-br: 320\r\nicy-metaint: 16000\r\n\r\n",
          WithMetadata(audio, kInterval, {"Song"})}}};
    constexpr QWORD kThrough = 12u << 20;
    for (const auto& station : stations) {
        SCOPED_TRACE(station.Name);
        KeepWholeBound bound(1u << 20);
        LoopbackServer server(station.Response);
        HSTREAM h =
            BASS_StreamCreateURL(server.Url("/live").c_str(), 0, BASS_STREAM_DECODE, nullptr, nullptr);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        QWORD most = 0;
        std::vector<uint8_t> buf(1 << 16);
        // However long the machine takes to decode this much, the stream never ends; the deadline
        // only keeps a stream that stalls from holding the test up for ever.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
        while (BASS_StreamGetFilePosition(h, BASS_FILEPOS_DOWNLOAD) < kThrough) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline);
            most = std::max(most, BASS_StreamGetFilePosition(h, BASS_FILEPOS_BUFFER));
            DWORD n = BASS_ChannelGetData(h, buf.data(), static_cast<DWORD>(buf.size()));
            ASSERT_NE(n, ~DWORD{0}) << BASS_ErrorGetCode();
            if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        // The bound, the few seconds of sound read ahead, and what lies just behind the reader.
        EXPECT_LE(most, 6u << 20);
        EXPECT_FALSE(BASS_ChannelSetPosition(h, 0));
        EXPECT_TRUE(BASS_StreamFree(h));
    }
}

// Freeing a stream whose server has gone quiet, as the saver does when it ends, returns at once
// instead of waiting on the network.
TEST_F(LibraryNet, FreeingAStreamDoesNotWaitForAQuietServer) {
    REQUIRE_TOOL("lame");
    std::string wav = dir_.File("long.wav"), mp3 = dir_.File("long.mp3");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 8 whitenoise"));
    ASSERT_TRUE(Shell("lame --quiet -b 128 " + wav + " " + mp3));
    const auto bytes = ReadBytes(mp3);
    for (DWORD flags : {DWORD{BASS_STREAM_DECODE}, DWORD{0}}) {
        SCOPED_TRACE(flags ? "decoding" : "playing");
        // Part of the file, then nothing for ten seconds.
        const std::string half(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2));
        LoopbackServer server("HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n" + half, 0, 10000);
        HSTREAM h = BASS_StreamCreateURL(server.Url("/noise.mp3").c_str(), 0, flags, nullptr, nullptr);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        if (!flags) {
            EXPECT_TRUE(BASS_ChannelPlay(h, 0));
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(BASS_StreamFree(h));
        const auto took = std::chrono::steady_clock::now() - start;
        // A wait for the network's next turn lasts a fifth of a second or more; the free itself
        // takes a few milliseconds.
        EXPECT_LT(took, std::chrono::milliseconds(100));
    }
}

// A file whose body has no length and ends early, freed at every point of the length measured once
// it is all in (which reads the file over several times, and here all its packets, for the bytes
// between two frames): no crash, no leak.
TEST_F(LibraryNet, FreeingAStreamWhileItsLengthIsMeasuredIsSafe) {
    REQUIRE_TOOL("lame");
    std::string wav = dir_.File("long.wav"), mp3 = dir_.File("long.mp3");
    ASSERT_TRUE(Shell("sox -D -n -r 44100 -c 2 -b 16 " + wav + " synth 60 sine 300-3000 vol 0.4"));
    ASSERT_TRUE(Shell("lame --quiet -b 192 " + wav + " " + mp3));
    auto bytes = ReadBytes(mp3);
    bytes.resize(bytes.size() / 2);
    bytes.insert(bytes.begin() + static_cast<long>(bytes.size() / 2), 300, '\x5a');
    const std::string body(bytes.begin(), bytes.end());
    LoopbackServer server("HTTP/1.1 200 OK\r\nContent-Type: audio/mpeg\r\nConnection: close\r\n\r\n" + body,
                          64 << 10);
    for (int i = 0; i < 60; ++i) {
        SCOPED_TRACE(i);
        const DWORD flags = i % 2 ? 0 : BASS_STREAM_DECODE;
        HSTREAM h = BASS_StreamCreateURL(server.Url("/x.mp3").c_str(), 0, flags, nullptr, nullptr);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        if (!flags) BASS_ChannelPlay(h, 0);
        // Once the body is in, its length is measured.
        ASSERT_TRUE(WaitFor([&] { return BASS_StreamGetFilePosition(h, BASS_FILEPOS_DOWNLOAD) == body.size(); },
                            10000));
        std::this_thread::sleep_for(std::chrono::microseconds(i / 2 * 700));
        BASS_ChannelGetLength(h);
        EXPECT_TRUE(BASS_StreamFree(h));
    }
}

TEST_F(LibraryNet, UnreachableOrMissingStreamsAreRefused) {
    LoopbackServer missing("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(BASS_StreamCreateURL(missing.Url("/none.mp3").c_str(), 0, 0, nullptr, nullptr), 0u);
    EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);
    std::string url;
    {
        LoopbackServer gone("");
        url = gone.Url("/x.mp3");
    }
    EXPECT_EQ(BASS_StreamCreateURL(url.c_str(), 0, 0, nullptr, nullptr), 0u);
    EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);
    LoopbackServer junk("HTTP/1.0 200 OK\r\nContent-Length: 20000\r\n\r\n" + std::string(20000, '\x5a'));
    EXPECT_EQ(BASS_StreamCreateURL(junk.Url("/x.mp3").c_str(), 0, 0, nullptr, nullptr), 0u);
    EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);
}

} // namespace
} // namespace lumora::test
