// Decoding channels, seeking, sample and FFT reads, user streams, sample-processing procedures,
// effects and tracker modules.

#include <cmath>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "tests/audiolib/AudioTestUtil.h"
#include "tests/support/TempDir.h"

namespace lumora::test {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::vector<uint8_t> DecodeAll(HSTREAM h) {
    std::vector<uint8_t> all;
    std::vector<uint8_t> buf(10000);
    while (true) {
        DWORD n = BASS_ChannelGetData(h, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == ~DWORD{0} || n == 0) break;
        all.insert(all.end(), buf.begin(), buf.begin() + n);
    }
    return all;
}

// Where each frame of an MPEG audio file (layer II or III, after any ID3v2 tag) starts.
std::vector<size_t> MpegFrameStarts(const std::vector<uint8_t>& b) {
    static const int kRates[3] = {44100, 48000, 32000}; // MPEG-1; halved for MPEG-2, quartered for 2.5
    static const int kKbps[3][15] = {
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},  // MPEG-1 layer III
        {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384}, // MPEG-1 layer II
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};     // MPEG-2 and 2.5
    size_t pos =
        b.size() > 10 && std::memcmp(b.data(), "ID3", 3) == 0
            ? 10 + ((b[6] & 0x7Fu) << 21 | (b[7] & 0x7Fu) << 14 | (b[8] & 0x7Fu) << 7 | (b[9] & 0x7Fu))
            : 0;
    std::vector<size_t> starts;
    while (pos + 4 <= b.size() && b[pos] == 0xFF && (b[pos + 1] & 0xE0) == 0xE0) {
        const int version = (b[pos + 1] >> 3) & 3, layer = (b[pos + 1] >> 1) & 3,
                  rateIndex = (b[pos + 2] >> 2) & 3;
        const bool mpeg1 = version == 3;
        if ((layer != 1 && layer != 2) || (b[pos + 2] >> 4) == 15) break; // layer III or II only
        const int kbps = kKbps[mpeg1 ? (layer == 2 ? 1 : 0) : 2][b[pos + 2] >> 4];
        if (kbps == 0 || rateIndex == 3) break;
        const int rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
        starts.push_back(pos);
        pos += static_cast<size_t>((mpeg1 || layer == 2 ? 144000 : 72000) * kbps / rate +
                                   ((b[pos + 2] >> 1) & 1));
    }
    return starts;
}

class LibraryData : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(lib_.Ok()); }
    LibrarySession lib_{"null"};
    TempDir dir_;
};

TEST_F(LibraryData, DecodeChannelGivesTheFileSeeksExactlyAndEndsOnce) {
    REQUIRE_TOOL("sox");
    std::string in = dir_.File("noise.wav");
    ASSERT_TRUE(Shell("sox -n -r 22050 -c 1 -b 16 " + in + " synth 0.5 whitenoise"));
    auto expected = WavData(in);
    HSTREAM h = BASS_StreamCreateFile(0, in.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u);
    BASS_CHANNELINFO info{};
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.freq, 22050u);
    EXPECT_EQ(info.chans, 1u);
    EXPECT_EQ(info.ctype, static_cast<DWORD>(BASS_CTYPE_STREAM_WAV));
    EXPECT_EQ(info.flags & BASS_SAMPLE_8BITS, 0u);
    EXPECT_EQ(BASS_ChannelGetLength(h), expected.size());
    EXPECT_FLOAT_EQ(BASS_ChannelBytes2Seconds(h, expected.size()), 0.5f);
    EXPECT_EQ(BASS_ChannelSeconds2Bytes(h, 0.25f), 5512u * 2); // whole frames only
    EXPECT_FALSE(BASS_ChannelPlay(h, 1)); // decoding channels are read, not played
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DECODE);

    SyncCounter end;
    BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::Proc, &end);
    EXPECT_EQ(BASS_ChannelIsActive(h), static_cast<DWORD>(BASS_ACTIVE_PLAYING));
    EXPECT_EQ(DecodeAll(h), expected);
    EXPECT_EQ(BASS_ChannelIsActive(h), static_cast<DWORD>(BASS_ACTIVE_STOPPED));
    EXPECT_EQ(BASS_ChannelGetPosition(h), expected.size());
    ASSERT_TRUE(WaitFor([&] { return end.Calls > 0; }, 2000));

    // Into the middle, and back to the start.
    QWORD mid = 5001 * 2;
    ASSERT_TRUE(BASS_ChannelSetPosition(h, mid));
    EXPECT_EQ(BASS_ChannelGetPosition(h), mid);
    auto rest = DecodeAll(h);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), expected.begin() + static_cast<long>(mid)));
    EXPECT_EQ(rest.size(), expected.size() - mid);
    ASSERT_TRUE(BASS_ChannelSetPosition(h, 0));
    EXPECT_EQ(DecodeAll(h), expected);
    EXPECT_FALSE(BASS_ChannelSetPosition(h, expected.size() + 4));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(end.Calls, 3); // once each time the end was reached
    EXPECT_TRUE(BASS_StreamFree(h));
    EXPECT_FALSE(BASS_StreamFree(h));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

// MP3 (constant, variable and very low rate, with bytes between frames, damaged frames and a false
// frame header), MP2, Ogg (Vorbis, long and short, and FLAC), WMA and ADPCM WAV: the length is what
// the decode gives, and after a seek the samples are ffmpeg's decode of the whole file from that
// point on, with no gap, fade-in or click.
TEST_F(LibraryData, CompressedFilesSeekOntoFfmpegsSamplesAndReportTheLengthThatPlays) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("lame");
    REQUIRE_TOOL("oggenc");
    REQUIRE_TOOL("oggdec");
    REQUIRE_TOOL("ffmpeg");
    // Without dither (-D) the files are the same on every run. A second of silence at the end packs
    // into the Ogg file's last page, so that page starts well before the seeks near the end.
    std::string wav = dir_.File("music.wav"), quietEnd = dir_.File("quiet-end.wav");
    ASSERT_TRUE(Shell("sox -D -n -r 44100 -c 2 -b 16 " + wav + " synth 10 sine 300-3000 sine 440 vol 0.4"));
    ASSERT_TRUE(Shell("sox -D -n -r 44100 -c 2 -b 16 " + quietEnd + " synth 3 sine 300-3000 sine 440 vol 0.4 pad 0 1"));
    // Sound that swells and fades three times a second, so a low-rate encoder saves bits in the
    // quiet frames for the loud ones.
    std::string pulsing = dir_.File("pulsing.wav");
    ASSERT_TRUE(
        Shell("sox -D -n -r 44100 -c 2 -b 16 " + pulsing + " synth 10 sine 200-2000 vol 0.4 tremolo 3 90"));
    // Clicks of white noise every third of a second over two tones.
    std::string clicks = dir_.File("clicks.wav"), clickTrain = dir_.File("click-train.wav");
    ASSERT_TRUE(Shell("sox -D -n -r 44100 -c 2 -b 16 " + clickTrain +
                      " synth 0.004 whitenoise pad 0 0.337 repeat 58 vol 0.5"));
    ASSERT_TRUE(Shell("sox -D -m " + clickTrain + " " + wav + " " + clicks + " trim 0 10"));
    std::string sweep = dir_.File("sweep.wav");
    ASSERT_TRUE(Shell("sox -D -n -r 22050 -c 1 -b 16 " + sweep + " synth 20 sine 300-3000 vol 0.5"));
    struct Kind {
        std::string Name, Make;
        // Bytes put in before frames of an MPEG audio file: (frame index, count), last first.
        std::vector<std::pair<size_t, size_t>> Junk = {};
        // The largest difference from ffmpeg's samples after a seek, in steps.
        int Tolerance = 0;
        // The length is oggdec's, which ends the stream at its last page's granule position.
        bool OggdecLength = false;
        // Frames whose bytes after the header are overwritten, so that they decode to nothing.
        std::vector<size_t> Damaged = {};
        // The bytes put in begin with these (a frame header that leads nowhere).
        std::string JunkStart = {};
        // Files made before, one after the other (a chained Ogg file): the samples are ffmpeg's of
        // each of them in turn.
        std::vector<std::string> Chain = {};
    };
    const std::string falseHeader("\xFF\xFB\x90\x64", 4);
    std::vector<Kind> kinds = {
        {"cbr.mp3", "lame --quiet -b 128 " + wav + " "},
        {"vbr.mp3", "lame --quiet -V 4 " + wav + " "},
        {"music.ogg", "oggenc -Q -q 3 " + wav + " -o ", {}, 0, true},
        {"quiet-end.ogg", "oggenc -Q -q 3 " + quietEnd + " -o ", {}, 0, true},
        // Its packets carry times in whole milliseconds, and the decoder gives the first samples two
        // packets after it took them.
        {"music.wma", "ffmpeg -v quiet -y -i " + wav + " -c:a wmav2 -b:a 128k "},
        // Mono MPEG-2 at about 10 kbit/s: a frame's data begins up to 255 bytes back, many frames
        // before it at this rate.
        {"low-rate.mp3", "lame --quiet -V 6 -m m --resample 22.05 " + pulsing + " "},
        // The encoder switches to short blocks at every click, and back.
        {"clicks.ogg", "oggenc -Q -q 5 " + clicks + " -o ", {}, 0, true},
        {"mono-clicks.ogg", "oggenc -Q -q 2 --downmix --resample 22050 " + clicks + " -o ", {}, 0, true},
        // FLAC in Ogg: after a seek FFmpeg labels the first page's frames a frame late.
        {"flac.ogg", "ffmpeg -v quiet -y -i " + wav + " -c:a flac "},
        // Blocks that each start the decoder afresh; the last one is padded past the sample count
        // the file gives, and decodes whole all the same.
        {"ima-adpcm.wav", "sox " + wav + " -e ima-adpcm "},
        {"ms-adpcm.wav", "sox " + wav + " -e ms-adpcm "},
        // Mono, cut off in the middle of a block.
        {"cut-ms-adpcm.wav", "sox " + wav + " -r 22050 -c 1 -e ms-adpcm -t wav - | head -c 100001 | tee "},
        // Decoded in fixed point, carrying each sample's rounding into the next through the whole
        // stream: a seek decodes from a few frames back, and its samples may be a step off.
        {"music.mp2", "ffmpeg -v quiet -y -i " + wav + " -c:a mp2 -b:a 192k ", {}, 1},
        // Bytes between frames: the packet that holds them decodes to nothing, so the decode is a
        // frame short of the timestamps after it, and the frames after it lack part of their data.
        {"junk.mp3", "lame --quiet -b 64 " + sweep + " ", {{410, 40}}},
        {"junk-vbr.mp3", "lame --quiet -V 4 " + wav + " ", {{300, 300}, {191, 40}, {2, 17}}},
        {"junk.mp2", "ffmpeg -v quiet -y -i " + wav + " -c:a mp2 -b:a 192k ", {{200, 40}}, 1},
        // A damaged frame starts as a frame does, and gives nothing all the same.
        {"damaged.mp3", "lame --quiet -b 128 " + wav + " ", {}, 0, false, {200}},
        {"damaged-twice.mp3", "lame --quiet -V 4 " + wav + " ", {}, 0, false, {120, 301}},
        {"false-header.mp3", "lame --quiet -b 128 " + wav + " ", {{250, 204}}, 0, false, {}, falseHeader},
        // A false frame that decodes, at another rate than the stream's: converted, it gives fewer
        // frames than its time.
        {"false-frame-32k.mp3", "lame --quiet -b 64 --resample 32 " + wav + " ", {{97, 204}}, 0, false, {},
         falseHeader + std::string(200, '\0')}};
    // Short Vorbis files of one page, or two: FFmpeg does not end the decode at the last page's
    // granule position, and gives no timestamps after that page.
    for (const char* seconds : {"1.0", "1.1", "1.3", "1.6", "2.2"}) {
        std::string stereo = dir_.File(std::string("stereo-") + seconds + ".wav"),
                    mono = dir_.File(std::string("mono-") + seconds + ".wav");
        ASSERT_TRUE(
            Shell("sox -D -n -r 22050 -c 2 -b 16 " + stereo + " synth " + seconds + " sine 755 sine 1095"));
        ASSERT_TRUE(Shell("sox -D -n -r 44100 -c 1 -b 16 " + mono + " synth " + seconds + " sine 300-3000"));
        kinds.push_back({std::string("short-stereo-") + seconds + ".ogg",
                         "oggenc -Q -q 7 " + stereo + " -o ",
                         {},
                         0,
                         true});
        kinds.push_back(
            {std::string("short-mono-") + seconds + ".ogg", "oggenc -Q -q 2 " + mono + " -o ", {}, 0, true});
    }
    // Chained Ogg Vorbis files: every link plays, and the length is theirs together.
    const std::vector<std::pair<std::string, std::vector<std::string>>> chains = {
        {"chained.ogg", {"music.ogg", "quiet-end.ogg"}},
        {"chained-three.ogg", {"clicks.ogg", "music.ogg", "quiet-end.ogg"}},
        {"chained-short.ogg", {"short-mono-1.0.ogg", "short-mono-1.6.ogg", "short-mono-2.2.ogg", "short-mono-1.3.ogg"}}};
    for (const auto& [name, links] : chains) {
        std::string cat = "cat";
        for (const auto& link : links) cat.append(" ").append(dir_.File(link));
        kinds.push_back({name, cat + " | tee ", {}, 0, true, {}, {}, links});
    }
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.Name);
        std::string file = dir_.File(kind.Name), ref = dir_.File(kind.Name + ".raw");
        ASSERT_TRUE(Shell(kind.Make + file));
        if (!kind.Junk.empty() || !kind.Damaged.empty()) {
            auto bytes = ReadBytes(file);
            const auto starts = MpegFrameStarts(bytes);
            for (size_t frame : kind.Damaged) {
                ASSERT_LT(frame + 1, starts.size());
                for (size_t i = starts[frame] + 4; i < starts[frame + 1]; ++i)
                    bytes[i] = static_cast<uint8_t>(37 * i + 11);
            }
            for (const auto& [frame, count] : kind.Junk) {
                ASSERT_LT(frame, starts.size());
                std::vector<uint8_t> junk(count);
                for (size_t i = 0; i < count; ++i)
                    junk[i] = static_cast<uint8_t>(37 * i + 11);
                std::memcpy(junk.data(), kind.JunkStart.data(), std::min(count, kind.JunkStart.size()));
                bytes.insert(bytes.begin() + static_cast<long>(starts[frame]), junk.begin(), junk.end());
            }
            std::ofstream(file, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
        }
        // ffmpeg decodes a chained file with a few frames more at every link's start (when it does
        // not refuse it for timestamps that go back), and oggdec leaves out a first link of one
        // page: each link is as long as oggdec makes it alone, and its samples are ffmpeg's.
        std::vector<uint8_t> expected;
        size_t chainLength = 0;
        for (const auto& link : kind.Chain) {
            auto linkRef = ReadBytes(dir_.File(link + ".raw"));
            linkRef.resize(ReadBytes(dir_.File(link + ".raw.oggdec")).size());
            expected.insert(expected.end(), linkRef.begin(), linkRef.end());
            chainLength += linkRef.size();
        }
        if (kind.Chain.empty()) {
            ASSERT_TRUE(Shell("ffmpeg -v quiet -y -i " + file + " -f s16le -acodec pcm_s16le " + ref));
            expected = ReadBytes(ref);
        }
        HSTREAM h = BASS_StreamCreateFile(0, file.c_str(), 0, 0, BASS_STREAM_DECODE);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        BASS_CHANNELINFO info{};
        ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
        const QWORD frameBytes = 2 * info.chans;
        ASSERT_EQ(expected.size() % frameBytes, 0u);
        QWORD length = expected.size();
        if (!kind.Chain.empty()) {
            length = chainLength;
        } else if (kind.OggdecLength) {
            ASSERT_TRUE(Shell("oggdec -Q -R -o " + ref + ".oggdec " + file));
            length = ReadBytes(ref + ".oggdec").size();
        }
        EXPECT_EQ(BASS_ChannelGetLength(h), length);
        EXPECT_EQ(DecodeAll(h).size(), length);
        const QWORD frames = length / frameBytes;
        // The samples from `frame` on, `count` of them (all to the end when 0), are ffmpeg's where
        // it gives them.
        auto seekOnto = [&](QWORD frame, QWORD count) {
            SCOPED_TRACE(frame);
            ASSERT_TRUE(BASS_ChannelSetPosition(h, frame * frameBytes));
            EXPECT_EQ(BASS_ChannelGetPosition(h), frame * frameBytes);
            std::vector<uint8_t> rest;
            if (count == 0) {
                rest = DecodeAll(h);
                ASSERT_EQ(rest.size(), length - frame * frameBytes);
            } else {
                rest.resize(std::min(count, frames - frame) * frameBytes);
                ASSERT_EQ(BASS_ChannelGetData(h, rest.data(), static_cast<DWORD>(rest.size())), rest.size());
            }
            const auto ours = Samples(rest);
            const size_t from = frame * info.chans;
            const auto theirs = Samples(expected);
            size_t first = 0;
            while (first < ours.size() && from + first < theirs.size() &&
                   std::abs(ours[first] - theirs[from + first]) <= kind.Tolerance)
                ++first;
            EXPECT_EQ(first, std::min(ours.size(), theirs.size() - std::min(from, theirs.size())))
                << "differs from frame " << frame + first / info.chans;
        };
        // Forwards, backwards, near the start, near the end, and onto the very last frame, each after
        // the decode reached the end.
        for (QWORD frame :
             {QWORD{66150}, QWORD{13337}, QWORD{5000}, QWORD{150001}, frames / 2 + 7, QWORD{1500},
              frames * 3 / 4, QWORD{30001}, frames - std::min<QWORD>(frames, 20000), frames - 1})
            if (frame < frames) seekOnto(frame, 0);
        // Every 270 ms through the file (more often in a short one), so the targets fall on every
        // part of a codec frame and on frames that borrow from far back: the first tenth of a
        // second after each.
        const QWORD step = std::min<QWORD>(info.freq * 270 / 1000, frames / 25);
        for (QWORD frame = info.freq * 130 / 1000; frame < frames; frame += step)
            seekOnto(frame, info.freq / 10);
        // Every half frame over the frames after each place with bytes between frames, whose data
        // reaches back past it.
        const QWORD frameSize = info.freq >= 32000 ? 1152 : 576;
        std::vector<size_t> spots = kind.Damaged;
        for (const auto& spot : kind.Junk) spots.push_back(spot.first);
        for (size_t spot : spots)
            for (QWORD frame = (spot - 2) * frameSize; frame < (spot + 6) * frameSize; frame += frameSize / 2)
                seekOnto(frame, frameSize);
        BASS_StreamFree(h);
    }
}

TEST_F(LibraryData, EightBitAndFloatChannelsCarryTheirFormat) {
    REQUIRE_TOOL("sox");
    std::string in = dir_.File("tone.wav");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + in + " synth 0.1 sine 1000 vol 0.5"));
    auto s16 = Samples(WavData(in));
    HSTREAM h8 = BASS_StreamCreateFile(0, in.c_str(), 0, 0, BASS_STREAM_DECODE | BASS_SAMPLE_8BITS);
    HSTREAM hf = BASS_StreamCreateFile(0, in.c_str(), 0, 0, BASS_STREAM_DECODE | BASS_SAMPLE_FLOAT);
    ASSERT_TRUE(h8 && hf);
    BASS_CHANNELINFO info{};
    BASS_ChannelGetInfo(h8, &info);
    EXPECT_TRUE(info.flags & BASS_SAMPLE_8BITS);
    EXPECT_EQ(BASS_ChannelGetLength(h8), s16.size());
    EXPECT_EQ(BASS_ChannelGetLength(hf), s16.size() * 4);
    auto u8 = DecodeAll(h8);
    auto fl = DecodeAll(hf);
    ASSERT_EQ(u8.size(), s16.size());
    ASSERT_EQ(fl.size(), s16.size() * 4);
    for (size_t i = 0; i < s16.size(); i += 97) {
        float f;
        std::memcpy(&f, &fl[i * 4], 4);
        EXPECT_NEAR(f, s16[i] / 32768.0, 1e-6);
        EXPECT_NEAR(u8[i], s16[i] / 256.0 + 128, 1.01);
    }
}

// A user stream that plays a sine of the given frequency for `frames` frames, then ends.
struct SineSource {
    double Freq;
    double Amplitude = 1.0;
    size_t Frames;
    size_t Chans = 2;
    size_t Done = 0;
    static DWORD Proc(HSTREAM, void* buffer, DWORD length, void* user) {
        auto* s = static_cast<SineSource*>(user);
        auto* out = static_cast<int16_t*>(buffer);
        size_t frames = std::min<size_t>(length / (2 * s->Chans), s->Frames - s->Done);
        for (size_t f = 0; f < frames; ++f, ++s->Done) {
            double v = s->Amplitude * std::sin(2 * kPi * s->Freq * static_cast<double>(s->Done) / 44100.0);
            for (size_t c = 0; c < s->Chans; ++c)
                out[f * s->Chans + c] = static_cast<int16_t>(std::lround(std::clamp(v * 32767.0 * (c ? 0.5 : 1.0), -32768.0, 32767.0)));
        }
        DWORD bytes = static_cast<DWORD>(frames * 2 * s->Chans);
        return s->Done >= s->Frames ? bytes | BASS_STREAMPROC_END : bytes;
    }
};

TEST_F(LibraryData, FftOfAFullScaleSinePeaksNearOneAtItsBin) {
    // Bin 20 of a 512-point FFT at 44.1 kHz; the right channel is at half amplitude.
    SineSource sine{44100.0 / 512 * 20, 1.0, 44100};
    HSTREAM h = BASS_StreamCreate(44100, 2, BASS_STREAM_DECODE, SineSource::Proc, &sine);
    ASSERT_NE(h, 0u);
    float fft[256];
    ASSERT_EQ(BASS_ChannelGetData(h, fft, BASS_DATA_FFT512), 256u * 4);
    size_t peak = static_cast<size_t>(std::max_element(fft, fft + 256) - fft);
    EXPECT_EQ(peak, 20u);
    EXPECT_NEAR(fft[20], 0.75, 0.02); // the mean of the two channels
    EXPECT_LT(fft[40], 0.01);

    float each[1024 * 2];
    ASSERT_EQ(BASS_ChannelGetData(h, each, BASS_DATA_FFT2048 | BASS_DATA_FFT_INDIVIDUAL), 1024u * 2 * 4);
    EXPECT_NEAR(each[80 * 2], 1.0, 0.02); // bin 80 of 2048 points, left
    EXPECT_NEAR(each[80 * 2 + 1], 0.5, 0.02);
    float mono[1024];
    ASSERT_EQ(BASS_ChannelGetData(h, mono, BASS_DATA_FFT2048), 1024u * 4);
    EXPECT_NEAR(mono[80], 0.75, 0.02);
    EXPECT_EQ(BASS_ChannelGetData(h, mono, 0x80000007u), ~DWORD{0});
}

TEST_F(LibraryData, FftOfAPlayingChannelFollowsWhatWasPlayed) {
    SineSource sine{44100.0 / 512 * 10, 1.0, 44100 * 5};
    HSTREAM h = BASS_StreamCreate(44100, 2, 0, SineSource::Proc, &sine);
    ASSERT_NE(h, 0u);
    // The mixing thread reads `sine` while the stream plays: the stream goes before it does.
    struct FreeStream {
        HSTREAM H;
        ~FreeStream() { BASS_StreamFree(H); }
    } freeStream{h};
    float fft[256];
    ASSERT_EQ(BASS_ChannelGetData(h, fft, BASS_DATA_FFT512), 256u * 4);
    EXPECT_LT(*std::max_element(fft, fft + 256), 1e-6f); // nothing played yet
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    ASSERT_TRUE(WaitFor([&] { return BASS_ChannelGetPosition(h) > 44100 * 4 / 5; }, 3000));
    ASSERT_EQ(BASS_ChannelGetData(h, fft, BASS_DATA_FFT512), 256u * 4);
    EXPECT_EQ(std::max_element(fft, fft + 256) - fft, 10);
    int16_t samples[64];
    EXPECT_EQ(BASS_ChannelGetData(h, samples, sizeof samples), sizeof samples);
    DWORD level = BASS_ChannelGetLevel(h);
    EXPECT_NEAR(level & 0xFFFF, 32767, 200);
    EXPECT_NEAR(level >> 16, 16384, 200);
}

TEST_F(LibraryData, UserStreamsEndOnTheEndFlagAndStallWhenEmpty) {
    struct Source {
        std::atomic<int> mode{0}; // 0 give silence, 1 give nothing, 2 end
        static DWORD Proc(HSTREAM, void* buffer, DWORD length, void* user) {
            auto* s = static_cast<Source*>(user);
            if (s->mode == 1) return 0;
            if (s->mode == 2) return BASS_STREAMPROC_END;
            std::memset(buffer, 0, length);
            return length + 1000; // more than asked for is cut to what fits
        }
    } src;
    HSTREAM h = BASS_StreamCreate(44100, 2, 0, Source::Proc, &src);
    ASSERT_NE(h, 0u);
    SyncCounter end;
    BASS_ChannelSetSync(h, BASS_SYNC_END, 0, SyncCounter::Proc, &end);
    ASSERT_TRUE(BASS_ChannelPlay(h, 0));
    ASSERT_TRUE(WaitFor([&] { return BASS_ChannelGetPosition(h) > 0; }, 2000));
    EXPECT_EQ(BASS_ChannelGetPosition(h) % 4, 0u);
    src.mode = 1;
    ASSERT_TRUE(WaitFor([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_STALLED; }, 2000));
    src.mode = 0;
    ASSERT_TRUE(WaitFor([&] { return BASS_ChannelIsActive(h) == BASS_ACTIVE_PLAYING; }, 2000));
    src.mode = 2;
    ASSERT_TRUE(WaitFor([&] { return end.Calls == 1; }, 2000));
    EXPECT_EQ(BASS_ChannelIsActive(h), static_cast<DWORD>(BASS_ACTIVE_STOPPED));
    EXPECT_EQ(BASS_StreamCreate(44100, 2, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(BASS_StreamCreate(0, 2, 0, Source::Proc, &src), 0u);
    EXPECT_EQ(BASS_StreamCreate(44100, 0, 0, Source::Proc, &src), 0u);
}

TEST_F(LibraryData, ProcessingRunsInPlaceHighestPriorityFirst) {
    struct Dsp {
        static void Double(HDSP, DWORD, void* buffer, DWORD length, void*) {
            auto* s = static_cast<int16_t*>(buffer);
            for (DWORD i = 0; i < length / 2; ++i) s[i] = static_cast<int16_t>(s[i] * 2);
        }
        static void AddOne(HDSP, DWORD, void* buffer, DWORD length, void*) {
            auto* s = static_cast<int16_t*>(buffer);
            for (DWORD i = 0; i < length / 2; ++i) s[i] = static_cast<int16_t>(s[i] + 1);
        }
    };
    SineSource sine{1000, 0.25, 4410};
    HSTREAM plain = BASS_StreamCreate(44100, 2, BASS_STREAM_DECODE, SineSource::Proc, &sine);
    auto reference = Samples(DecodeAll(plain));
    SineSource sine2{1000, 0.25, 4410};
    HSTREAM h = BASS_StreamCreate(44100, 2, BASS_STREAM_DECODE, SineSource::Proc, &sine2);
    HDSP addOne = BASS_ChannelSetDSP(h, Dsp::AddOne, nullptr, 1);
    HDSP twice = BASS_ChannelSetDSP(h, Dsp::Double, nullptr, 5);
    ASSERT_TRUE(addOne && twice);
    int16_t first[8];
    ASSERT_EQ(BASS_ChannelGetData(h, first, sizeof first), sizeof first);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(first[i], reference[i] * 2 + 1) << i;
    ASSERT_TRUE(BASS_ChannelRemoveDSP(h, twice));
    EXPECT_FALSE(BASS_ChannelRemoveDSP(h, twice));
    ASSERT_EQ(BASS_ChannelGetData(h, first, sizeof first), sizeof first);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(first[i], reference[8 + i] + 1) << i;
}

TEST_F(LibraryData, EffectsHaveDirectXDefaultsCheckTheirRangesAndChangeTheSound) {
    // An impulse followed by silence: the echo repeats it after the delay.
    struct Impulse {
        size_t done = 0;
        static DWORD Proc(HSTREAM, void* buffer, DWORD length, void* user) {
            auto* s = static_cast<Impulse*>(user);
            auto* out = static_cast<int16_t*>(buffer);
            for (DWORD i = 0; i < length / 4; ++i, ++s->done) out[2 * i] = out[2 * i + 1] = s->done == 0 ? 16000 : 0;
            return length;
        }
    } impulse;
    HSTREAM h = BASS_StreamCreate(44100, 2, BASS_STREAM_DECODE, Impulse::Proc, &impulse);
    HFX echo = BASS_ChannelSetFX(h, BASS_FX_ECHO, 11);
    ASSERT_NE(echo, 0u);
    BASS_FXECHO par{};
    ASSERT_TRUE(BASS_FXGetParameters(echo, &par));
    EXPECT_EQ(par.fWetDryMix, 50);
    EXPECT_EQ(par.fFeedback, 50);
    EXPECT_EQ(par.fLeftDelay, 500);
    EXPECT_EQ(par.fRightDelay, 500);
    par.fWetDryMix = 100;
    par.fFeedback = 0;
    par.fLeftDelay = par.fRightDelay = 100;
    ASSERT_TRUE(BASS_FXSetParameters(echo, &par));
    par.fLeftDelay = 0; // out of range
    EXPECT_FALSE(BASS_FXSetParameters(echo, &par));
    auto out = Samples([&] {
        std::vector<uint8_t> b(44100 * 4 / 5);
        BASS_ChannelGetData(h, b.data(), static_cast<DWORD>(b.size()));
        return b;
    }());
    EXPECT_EQ(out[0], 0);        // fully wet: no direct sound
    EXPECT_EQ(out[4410 * 2], 16000); // the echo, 100 ms later
    ASSERT_TRUE(BASS_ChannelRemoveFX(h, echo));
    EXPECT_FALSE(BASS_FXGetParameters(echo, &par));

    HFX eq = BASS_ChannelSetFX(h, BASS_FX_PARAMEQ, 1);
    BASS_FXPARAMEQ eqPar{};
    ASSERT_TRUE(BASS_FXGetParameters(eq, &eqPar));
    EXPECT_EQ(eqPar.fCenter, 8000);
    EXPECT_EQ(eqPar.fBandwidth, 12);
    EXPECT_EQ(eqPar.fGain, 0);
    eqPar.fGain = 16;
    EXPECT_FALSE(BASS_FXSetParameters(eq, &eqPar));
    HFX reverb = BASS_ChannelSetFX(h, BASS_FX_REVERB, 12);
    BASS_FXREVERB rv{};
    ASSERT_TRUE(BASS_FXGetParameters(reverb, &rv));
    EXPECT_EQ(rv.fInGain, 0);
    EXPECT_EQ(rv.fReverbMix, 0);
    EXPECT_EQ(rv.fReverbTime, 1000);
    EXPECT_FLOAT_EQ(rv.fHighFreqRTRatio, 0.001f);
    EXPECT_EQ(BASS_ChannelSetFX(h, BASS_FX_GARGLE, 1), 0u);
}

TEST_F(LibraryData, PeakingBandBoostsItsCentreOnly) {
    // Gain on a sine at the band centre against one far from it.
    auto peakAfterEq = [](double freq) {
        SineSource sine{freq, 0.1, 44100};
        HSTREAM h = BASS_StreamCreate(44100, 2, BASS_STREAM_DECODE, SineSource::Proc, &sine);
        HFX eq = BASS_ChannelSetFX(h, BASS_FX_PARAMEQ, 1);
        BASS_FXPARAMEQ p{1000, 4, 12};
        EXPECT_TRUE(BASS_FXSetParameters(eq, &p));
        std::vector<int16_t> s(44100);
        BASS_ChannelGetData(h, s.data(), static_cast<DWORD>(s.size() * 2));
        int peak = 0;
        for (size_t i = s.size() / 2; i < s.size(); i += 2) peak = std::max(peak, std::abs(static_cast<int>(s[i])));
        BASS_StreamFree(h);
        return peak / (0.1 * 32767);
    };
    EXPECT_NEAR(peakAfterEq(1000), std::pow(10, 12 / 20.0), 0.1);
    EXPECT_NEAR(peakAfterEq(8000), 1.0, 0.05);
}

// A four-channel ProTracker module with one looping square-wave sample and one note.
std::string MakeModule() {
    std::string m(1084, '\0');
    std::memcpy(&m[0], "lumora test", 11);
    // Sample 1: 32 words (64 bytes), volume 64, loop over all of it.
    size_t s = 20;
    std::memcpy(&m[s], "square", 6);
    m[s + 22] = 0;
    m[s + 23] = 32;
    m[s + 25] = 64;
    m[s + 26] = 0;
    m[s + 27] = 0;
    m[s + 28] = 0;
    m[s + 29] = 32;
    m[950] = 1; // song length
    m[951] = 127;
    std::memcpy(&m[1080], "M.K.", 4);
    std::string pattern(1024, '\0');
    // Row 0, channel 0: sample 1, period 428 (C-2).
    pattern[0] = static_cast<char>(0x01);
    pattern[1] = static_cast<char>(0xAC);
    pattern[2] = static_cast<char>(0x10);
    m += pattern;
    for (int i = 0; i < 64; ++i) m.push_back(i < 32 ? 100 : -100);
    return m;
}

TEST_F(LibraryData, ModulesPlayWithTheirOwnLength) {
    std::string path = dir_.WriteFile("song.mod", MakeModule());
    HMUSIC m = BASS_MusicLoad(0, path.c_str(), 0, 0, 0x228400, 0);
    ASSERT_NE(m, 0u) << BASS_ErrorGetCode();
    BASS_CHANNELINFO info{};
    ASSERT_TRUE(BASS_ChannelGetInfo(m, &info));
    EXPECT_EQ(info.freq, 44100u);
    EXPECT_EQ(info.chans, 2u);
    // 64 rows at speed 6 and 125 BPM: 7.68 s.
    EXPECT_NEAR(BASS_ChannelBytes2Seconds(m, BASS_ChannelGetLength(m)), 7.68, 0.05);
    auto audio = Samples(DecodeAll(m));
    EXPECT_NEAR(audio.size() / 2 / 44100.0, 7.68, 0.15);
    EXPECT_LT(FirstSound(audio, 2), 44100u / 10);
    EXPECT_FALSE(BASS_StreamFree(m)); // modules are freed as music
    EXPECT_TRUE(BASS_MusicFree(m));

    std::string junk = dir_.WriteFile("junk.xm", std::string(3000, 'x'));
    EXPECT_EQ(BASS_MusicLoad(0, junk.c_str(), 0, 0, 0x20000, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
    EXPECT_EQ(BASS_MusicLoad(0, dir_.File("missing.mod").c_str(), 0, 0, 0x20000, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
}

TEST_F(LibraryData, TagsComeAsBlocksAndLists) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("lame");
    std::string wav = dir_.File("t.wav"), mp3 = dir_.File("t.mp3");
    ASSERT_TRUE(Shell("sox -n -r 44100 -c 2 -b 16 " + wav + " synth 0.3 sine 440"));
    ASSERT_TRUE(Shell("lame --quiet --add-id3v2 --tt Title --ta Artist " + wav + " " + mp3));
    HSTREAM h = BASS_StreamCreateFile(0, mp3.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u);
    const char* v1 = BASS_ChannelGetTags(h, BASS_TAG_ID3);
    ASSERT_NE(v1, nullptr);
    EXPECT_EQ(std::string(v1, 3), "TAG");
    EXPECT_EQ(std::string(v1 + 3, 5), "Title");
    const char* v2 = BASS_ChannelGetTags(h, BASS_TAG_ID3V2);
    ASSERT_NE(v2, nullptr);
    EXPECT_EQ(std::string(v2, 3), "ID3");
    EXPECT_EQ(BASS_ChannelGetTags(h, BASS_TAG_OGG), nullptr);
    EXPECT_EQ(BASS_StreamGetFilePosition(h, BASS_FILEPOS_END), ReadBytes(mp3).size());

    if (HaveTool("oggenc")) {
        std::string ogg = dir_.File("t.ogg");
        ASSERT_TRUE(Shell("oggenc -Q -t Song -a Singer -o " + ogg + " " + wav));
        HSTREAM o = BASS_StreamCreateFile(0, ogg.c_str(), 0, 0, BASS_STREAM_DECODE);
        ASSERT_NE(o, 0u);
        std::vector<std::string> items;
        // The comments come as the file stores them (oggenc writes lower-case names).
        for (const char* p = BASS_ChannelGetTags(o, BASS_TAG_OGG); p && *p; p += std::strlen(p) + 1) items.push_back(p);
        EXPECT_NE(std::find(items.begin(), items.end(), "title=Song"), items.end());
        EXPECT_NE(std::find(items.begin(), items.end(), "artist=Singer"), items.end());
    }
}

TEST_F(LibraryData, BrokenFilesAreRefusedWithACode) {
    std::string junk = dir_.WriteFile("junk.mp3", std::string(5000, '\x55'));
    EXPECT_EQ(BASS_StreamCreateFile(0, junk.c_str(), 0, 0, 0), 0u);
    EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_EQ(BASS_StreamCreateFile(0, dir_.File("none.wav").c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
    EXPECT_EQ(BASS_ChannelGetLength(12345), ~QWORD{0});
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_EQ(BASS_ChannelIsActive(12345), 0u);
    // A WAV header that promises more than the file holds decodes what is there.
    REQUIRE_TOOL("sox");
    std::string wav = dir_.File("cut.wav");
    ASSERT_TRUE(Shell("sox -n -r 8000 -c 1 -b 16 " + wav + " synth 0.5 sine 300"));
    auto bytes = ReadBytes(wav);
    bytes.resize(bytes.size() / 2);
    std::string cut = dir_.WriteFile("cut2.wav", std::string(bytes.begin(), bytes.end()));
    HSTREAM h = BASS_StreamCreateFile(0, cut.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(DecodeAll(h).size(), bytes.size() - 44);
}

} // namespace
} // namespace lumora::test
