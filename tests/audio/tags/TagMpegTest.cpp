#include <gtest/gtest.h>

#include "audio/tags/MPEGaudio.h"
#include "tests/audio/tags/TagTestUtil.h"

namespace lumora {
namespace {

using test::BE32;
using test::MpegFrames;
using test::TempDir;

// Frames whose first one carries a VBR header at the given offset after its header.
std::string WithVbrHeader(std::string frames, size_t offset, const std::string& header) {
    frames.replace(offset, header.size(), header);
    return frames;
}

std::string Xing(uint32_t frames, uint32_t bytes, const std::string& vendor = "") {
    std::string h = "Xing" + BE32(0x0F) + BE32(frames) + BE32(bytes) + std::string(103, '\0');
    h += std::string(1, '\x37'); // scale at +119
    h += vendor;
    return h;
}

TEST(TagMpeg, XingHeaderGivesFramesBitRateAndDuration) {
    TempDir dir;
    std::string file = WithVbrHeader(MpegFrames(40), 4 + 32, Xing(100, 100 * 417, "LAME3.98"));
    TMPEGaudio mpeg;
    ASSERT_TRUE(mpeg.LoadFromFile(dir.WriteFile("x.mp3", file)));
    ASSERT_TRUE(mpeg.Frame().Found);
    ASSERT_TRUE(mpeg.VBR().Found);
    EXPECT_EQ(mpeg.Frames(), 100);
    EXPECT_EQ(mpeg.BitRate(), 128);
    EXPECT_NEAR(mpeg.Duration(), 1152.0 * 100 / 44100, 1e-9);
    EXPECT_EQ(mpeg.VBR().Scale, 0x37);
    EXPECT_EQ(mpeg.EncoderText(), "LAME 3.98");
    EXPECT_TRUE(mpeg.IsValid());
    EXPECT_EQ(mpeg.VersionText() + mpeg.LayerText(), "MPEG 1Layer III");
    EXPECT_EQ(mpeg.ChannelModeText(), "Stereo");

    // A 450 kbit/s average is beyond what the format allows.
    file = WithVbrHeader(MpegFrames(40), 36, Xing(100, 146939));
    ASSERT_TRUE(mpeg.LoadFromFile(dir.WriteFile("fast.mp3", file)));
    EXPECT_EQ(mpeg.BitRate(), 450);
    EXPECT_FALSE(mpeg.IsValid());
    EXPECT_EQ(mpeg.EncoderID(), 1); // Xing without a known vendor
}

TEST(TagMpeg, VbriIsLookedForOnlyAtTheModesOffset) {
    TempDir dir;
    std::string vbri = "VBRI" + std::string("\0\x01\0\x10\0\x07", 6) + BE32(50 * 417) + BE32(50);
    // Mono MPEG-1: the offset looked at is 21, so a header at 36 is not seen.
    std::string mono = WithVbrHeader(MpegFrames(20, 0xC0), 36, vbri);
    TMPEGaudio mpeg;
    ASSERT_TRUE(mpeg.LoadFromFile(dir.WriteFile("m.mp3", mono)));
    EXPECT_TRUE(mpeg.Frame().Found);
    EXPECT_FALSE(mpeg.VBR().Found);
    EXPECT_EQ(mpeg.ChannelModeText(), "Mono");

    std::string stereo = WithVbrHeader(MpegFrames(20), 36, vbri);
    ASSERT_TRUE(mpeg.LoadFromFile(dir.WriteFile("s.mp3", stereo)));
    ASSERT_TRUE(mpeg.VBR().Found);
    EXPECT_EQ(mpeg.VBR().Frames, 50);
    EXPECT_EQ(mpeg.VBR().Bytes, 50 * 417);
    EXPECT_EQ(mpeg.EncoderText(), "FhG");
}

TEST(TagMpeg, FrameSearchSkipsLoneHeadersAndStaysInsideTheBlock) {
    // A header whose follower is not a header is passed over.
    std::string block(TMPEGaudio::BlockSize, '\0');
    block.replace(10, 4, std::string("\xFF\xFB\x90\x00", 4));
    std::string frames = MpegFrames(3);
    block.replace(100, frames.size(), frames);
    VBRData vbr;
    FrameData f = TMPEGaudio::FindFrame(reinterpret_cast<const uint8_t*>(block.data()), TMPEGaudio::BlockSize, vbr);
    ASSERT_TRUE(f.Found);
    EXPECT_EQ(f.Position, 100);
    EXPECT_EQ(f.Size, 417);
    EXPECT_TRUE(f.Xing);

    // The last search position with a follower beyond the block finds nothing and reads nothing past it.
    std::vector<uint8_t> tail(1800, 0);
    tail[1729 - 0] = 0xFF;
    tail[1730 - 0] = 0xFB;
    tail[1731] = 0xE0; // 320 kbit/s: the follower would lie at 1729 + 1044
    tail[1732] = 0x00;
    f = TMPEGaudio::FindFrame(tail.data(), static_cast<int>(tail.size()), vbr);
    EXPECT_FALSE(f.Found);
}

TEST(TagMpeg, LameSignatureBeforeTheID3v1Tag) {
    TempDir dir;
    std::string audio = MpegFrames(30);
    audio.replace(audio.size() - 300, 8, "LAME3.99");
    std::string v1(128, '\0');
    v1.replace(0, 3, "TAG");
    TMPEGaudio mpeg;
    ASSERT_TRUE(mpeg.LoadFromFile(dir.WriteFile("l.mp3", audio + v1)));
    EXPECT_TRUE(mpeg.ID3v1().Exists());
    EXPECT_EQ(mpeg.VendorID(), "LAME3.99");
    EXPECT_EQ(mpeg.EncoderText(), "LAME 3.99");
    EXPECT_EQ(mpeg.Frames(), 30);

    // A file shorter than the scan window still has its signature found.
    std::string small = MpegFrames(4);
    small.replace(small.size() - 20, 4, "GOGO");
    ASSERT_TRUE(mpeg.LoadFromFile(dir.WriteFile("small.mp3", small)));
    EXPECT_EQ(mpeg.VendorID(), "GOGO");
    EXPECT_EQ(mpeg.EncoderText(), "GoGo");
}

TEST(TagMpeg, ShortFilesNoFramesAndTheSecondSearch) {
    TempDir dir;
    TMPEGaudio mpeg;
    // 3 frames last 0.078 s: found but not valid.
    ASSERT_TRUE(mpeg.LoadFromFile(dir.WriteFile("short.mp3", MpegFrames(3))));
    EXPECT_TRUE(mpeg.Frame().Found);
    EXPECT_FALSE(mpeg.IsValid());

    ASSERT_TRUE(mpeg.LoadFromFile(dir.WriteFile("junk.mp3", std::string(5000, 'j'))));
    EXPECT_FALSE(mpeg.Frame().Found);
    EXPECT_EQ(mpeg.Duration(), 0);
    EXPECT_EQ(mpeg.ChannelModeText(), "Unknown");

    // No frame in the first block: the search is repeated from the middle of the file.
    std::string file = std::string(8000, 'j') + MpegFrames(20);
    ASSERT_TRUE(mpeg.LoadFromFile(dir.WriteFile("mid.mp3", file)));
    EXPECT_TRUE(mpeg.Frame().Found);

    EXPECT_FALSE(mpeg.LoadFromFile(dir.File("missing.mp3")));
}

TEST(TagMpeg, TagBlocksFromMemoryByKind) {
    TMPEGaudio mpeg;
    TMP3TagInfo info;
    std::string v1(128, '\0');
    v1.replace(0, 6, "TAGAbc");
    std::string v2 = test::Tag(3, test::Frame23("TIT2", test::Latin("Two")));
    auto bytes = [](const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); };
    EXPECT_TRUE(mpeg.ReadTagFromBuffer(TagKindID3v1, bytes(v1), 128, 0, info));
    EXPECT_EQ(info.Title, "Abc");
    EXPECT_TRUE(mpeg.ReadTagFromBuffer(TagKindID3v2, bytes(v2), static_cast<int64_t>(v2.size()), 1000, info));
    EXPECT_EQ(info.Title, "Two");
    EXPECT_FALSE(mpeg.ReadTagFromBuffer(TagKindID3v1, bytes(v2), static_cast<int64_t>(v2.size()), 1000, info));
    EXPECT_FALSE(mpeg.ReadTagFromBuffer(0, bytes(v1), 128, 0, info));
}

TEST(TagMpeg, FilesEncodedByLame) {
    REQUIRE_TOOL("lame");
    REQUIRE_TOOL("sox");
    TempDir dir;
    std::string wav = test::MakeWav(dir, "in.wav", 3.0);
    std::string vbr = dir.File("vbr.mp3"), cbr = dir.File("cbr.mp3"), mono = dir.File("mono.mp3");
    ASSERT_TRUE(test::Run("lame --quiet -V 2 --tt T --id3v1-only " + wav + " " + vbr));
    ASSERT_TRUE(test::Run("lame --quiet -b 192 " + wav + " " + cbr));
    ASSERT_TRUE(test::Run("lame --quiet -m m --resample 22.05 -b 32 " + wav + " " + mono));

    TMPEGaudio mpeg;
    ASSERT_TRUE(mpeg.LoadFromFile(vbr));
    EXPECT_TRUE(mpeg.IsValid());
    EXPECT_TRUE(mpeg.VBR().Found);
    EXPECT_EQ(mpeg.EncoderID(), 3);
    EXPECT_NEAR(mpeg.Duration(), 3.0, 0.1);
    EXPECT_EQ(mpeg.ID3v1().Title(), "T");

    // lame starts a constant bit rate file with an "Info" header.
    ASSERT_TRUE(mpeg.LoadFromFile(cbr));
    EXPECT_EQ(std::string(mpeg.VBR().ID, 4), "Info");
    EXPECT_EQ(mpeg.EncoderID(), 3);
    EXPECT_EQ(mpeg.BitRate(), 192);
    EXPECT_NEAR(mpeg.Duration(), 3.0, 0.1);
    EXPECT_EQ(mpeg.SampleRate(), 44100);

    ASSERT_TRUE(mpeg.LoadFromFile(mono));
    EXPECT_EQ(mpeg.VersionText(), "MPEG 2");
    EXPECT_EQ(mpeg.SampleRate(), 22050);
    EXPECT_EQ(mpeg.ChannelModeText(), "Mono");
    EXPECT_EQ(mpeg.BitRate(), 32);
    EXPECT_NEAR(mpeg.Duration(), 3.0, 0.15);
}

TEST(TagMpeg, InfoHeaderOfAConstantBitRateFileGivesTheLength) {
    REQUIRE_TOOL("ffmpeg");
    REQUIRE_TOOL("ffprobe");
    TempDir dir;
    // FFmpeg writes the Info header in a 56 kbit/s frame: a 32 kbit/s one has no room for it.
    std::string path = dir.File("info.mp3");
    ASSERT_TRUE(test::Run("ffmpeg -v error -f lavfi -i sine=d=4 -ac 1 -b:a 32k " + test::Quoted(path)));
    double probed = std::stod(test::CommandOutput(
        "ffprobe -v error -show_entries format=duration -of csv=p=0 " + test::Quoted(path)));
    ASSERT_NEAR(probed, 4.05, 0.01);
    TMPEGaudio mpeg;
    ASSERT_TRUE(mpeg.LoadFromFile(path));
    EXPECT_EQ(std::string(mpeg.VBR().ID, 4), "Info");
    EXPECT_NEAR(mpeg.Duration(), probed, 0.001);
    EXPECT_EQ(mpeg.Frames(), 155);
    EXPECT_EQ(mpeg.BitRate(), 32);
    EXPECT_TRUE(mpeg.IsValid());
}

} // namespace
} // namespace lumora
