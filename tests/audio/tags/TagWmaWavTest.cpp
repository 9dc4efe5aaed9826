#include <gtest/gtest.h>

#include "audio/tags/TagText.h"
#include "audio/tags/WAVfile.h"
#include "audio/tags/WMAfile.h"
#include "tests/audio/tags/TagTestUtil.h"

namespace lumora {
namespace {

using test::LE16;
using test::LE32;
using test::Quoted;
using test::TempDir;

// GUID bytes as ASF stores them (first three groups little-endian).
std::string Guid(uint32_t a, uint16_t b, uint16_t c, uint64_t d) {
    std::string s = LE32(a) + LE16(b) + LE16(c);
    for (int i = 7; i >= 0; --i) s += static_cast<char>(d >> (8 * i));
    return s;
}

std::string LE64(uint64_t v) { return LE32(uint32_t(v)) + LE32(uint32_t(v >> 32)); }

std::string Object(const std::string& guid, const std::string& body) { return guid + LE64(24 + body.size()) + body; }

std::string Wide(const std::string& utf8) { return EncodeUtf16(utf8, TByteOrder::LittleEndian, false) + std::string(2, '\0'); }

std::string FileProperties(uint32_t maxBitRate) {
    return Object(Guid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365), std::string(76, '\0') + LE32(maxBitRate));
}

std::string StreamProperties(uint16_t channels, uint32_t rate, uint32_t byteRate) {
    std::string body = Guid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442B) + std::string(38, '\0');
    body += LE16(0x161) + LE16(channels) + LE32(rate) + LE32(byteRate) + LE16(0) + LE16(16);
    return Object(Guid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365), body);
}

std::string ContentDescription(const std::string& title, const std::string& author, const std::string& desc) {
    std::string t = Wide(title), a = Wide(author), c = Wide("(c)"), d = Wide(desc);
    std::string body = LE16(uint16_t(t.size())) + LE16(uint16_t(a.size())) + LE16(uint16_t(c.size())) +
                       LE16(uint16_t(d.size())) + LE16(0) + t + a + c + d;
    return Object(Guid(0x75B22633, 0x668E, 0x11CF, 0xA6D900AA0062CE6C), body);
}

std::string Item(const std::string& name, uint16_t type, const std::string& value) {
    std::string n = Wide(name);
    return LE16(uint16_t(n.size())) + n + LE16(type) + LE16(uint16_t(value.size())) + value;
}

std::string Extended(const std::vector<std::string>& items) {
    std::string body = LE16(uint16_t(items.size()));
    for (const auto& i : items) body += i;
    return Object(Guid(0xD2D0A440, 0xE307, 0x11D2, 0x97F000A0C95EA850), body);
}

std::string Header(const std::vector<std::string>& objects, uint32_t countOverride = 0) {
    std::string body;
    for (const auto& o : objects) body += o;
    uint32_t count = countOverride ? countOverride : static_cast<uint32_t>(objects.size());
    return Guid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6C) + LE64(30 + body.size()) + LE32(count) + "\x01\x02" +
           body;
}

TEST(TagWma, ReadsTheHeaderObjects) {
    TempDir dir;
    std::string header = Header({FileProperties(128000), StreamProperties(2, 44100, 16000),
                                 ContentDescription("Title", "Author", "Described"),
                                 Extended({Item("WM/IsVBR", 2, LE32(1)), Item("WM/AlbumTitle", 0, Wide("Album")),
                                           Item("wm/year ", 0, Wide("1999")), Item("WM/Genre", 0, Wide("Pop")),
                                           Item("WM/TrackNumber", 3, LE32(7))})});
    std::string file = header + std::string(32000 - header.size(), '\0');
    TWMAfile wma;
    ASSERT_TRUE(wma.LoadFromFile(dir.WriteFile("a.wma", file)));
    ASSERT_TRUE(wma.Valid());
    EXPECT_EQ(wma.ChannelModeID(), 2);
    EXPECT_EQ(wma.ChannelModeText(), "Stereo");
    EXPECT_EQ(wma.SampleRate(), 44100);
    EXPECT_EQ(wma.BitRate(), 128);
    EXPECT_DOUBLE_EQ(wma.Duration(), 32000.0 * 8 / 128000);
    EXPECT_EQ(wma.Title(), "Title");
    EXPECT_EQ(wma.Artist(), "Author");
    EXPECT_EQ(wma.Comment(), "Described");
    EXPECT_EQ(wma.Album(), "Album"); // read although a boolean item comes first
    EXPECT_EQ(wma.Year(), "1999");
    EXPECT_EQ(wma.Genre(), "Pop");
    EXPECT_EQ(wma.Track(), 7);
}

// A record of the metadata objects: language, stream, name length, type, 32-bit value length.
std::string Record(uint16_t stream, const std::string& name, uint16_t type, const std::string& value) {
    std::string n = Wide(name);
    return LE16(0) + LE16(stream) + LE16(uint16_t(n.size())) + LE16(type) + LE32(uint32_t(value.size())) + n + value;
}

// The header extension holding a metadata object and a metadata library.
std::string HeaderExtension(const std::vector<std::string>& metadata, const std::vector<std::string>& library) {
    auto records = [](const std::vector<std::string>& rs) {
        std::string body = LE16(uint16_t(rs.size()));
        for (const auto& r : rs) body += r;
        return body;
    };
    std::string inner = Object(Guid(0xC5F8CBEA, 0x5BAF, 0x4877, 0x8467AA8C44FA4CCA), records(metadata)) +
                        Object(Guid(0x44231C94, 0x9498, 0x49D1, 0xA1411D134E457054), records(library));
    return Object(Guid(0x5FBF03B5, 0xA92E, 0x11CF, 0x8EE300C00C205365),
                  Guid(0xABD3D211, 0xA9BA, 0x11CF, 0x8EE600C00C205365) + LE16(6) + LE32(uint32_t(inner.size())) + inner);
}

// Values too long for the extended content (over 32,767 characters) live in the metadata library
// with a 32-bit length, as do the content description's names whose value did not fit there; they
// read whole. A stream's own values are not the file's.
TEST(TagWma, LongValuesOfTheMetadataLibraryReadWhole) {
    TempDir dir;
    std::string description(40000, 'd'), album = "Album " + std::string(20000, 'a') + "\u6b4c";
    std::string header = Header({FileProperties(128000), StreamProperties(2, 44100, 16000),
                                 ContentDescription("Title", "Author", "d"),
                                 HeaderExtension({Record(0, "WM/Genre", 0, Wide("Jazz")), Record(1, "WM/Year", 0, Wide("1900"))},
                                                 {Record(0, "Description", 0, Wide(description)),
                                                  Record(0, "WM/AlbumTitle", 0, Wide(album)),
                                                  Record(0, "WM/TrackNumber", 3, LE32(12)),
                                                  Record(2, "Title", 0, Wide("Stream title"))})});
    TWMAfile wma;
    ASSERT_TRUE(wma.LoadFromFile(dir.WriteFile("long.wma", header + std::string(1000, '\0'))));
    ASSERT_TRUE(wma.Valid());
    EXPECT_EQ(wma.Comment(), description);
    EXPECT_EQ(wma.Album(), album);
    EXPECT_EQ(wma.Genre(), "Jazz");
    EXPECT_EQ(wma.Year(), "");
    EXPECT_EQ(wma.Track(), 12);
    EXPECT_EQ(wma.Title(), "Title");
}

TEST(TagWma, LimitsAndDamagedHeaders) {
    TempDir dir;
    TWMAfile wma;
    // Seven channels or 192 kHz are not valid; the file still reads.
    ASSERT_TRUE(wma.LoadFromFile(dir.WriteFile("7.wma", Header({FileProperties(128000), StreamProperties(7, 44100, 16000)}))));
    EXPECT_FALSE(wma.Valid());
    ASSERT_TRUE(wma.LoadFromFile(dir.WriteFile("192.wma", Header({FileProperties(128000), StreamProperties(2, 192000, 16000)}))));
    EXPECT_FALSE(wma.Valid());
    // A count larger than the objects present, an object running past the header, a truncated file.
    std::string good = Header({FileProperties(128000), StreamProperties(2, 44100, 16000), ContentDescription("T", "A", "")});
    ASSERT_TRUE(wma.LoadFromFile(dir.WriteFile("count.wma", Header({FileProperties(128000), StreamProperties(2, 44100, 16000)}, 1000))));
    EXPECT_TRUE(wma.Valid());
    std::string overrun = good;
    overrun.replace(30 + 16, 8, LE64(1u << 30));
    ASSERT_TRUE(wma.LoadFromFile(dir.WriteFile("over.wma", overrun)));
    EXPECT_FALSE(wma.Valid());
    for (size_t cut : {size_t(10), size_t(40), good.size() - 5}) {
        ASSERT_TRUE(wma.LoadFromFile(dir.WriteFile("cut.wma", good.substr(0, cut))));
        EXPECT_EQ(wma.Title(), "");
    }
    EXPECT_THROW(wma.LoadFromFile(dir.File("missing.wma")), EFOpenError);
}

TEST(TagWma, FileMadeByFfmpeg) {
    REQUIRE_TOOL("ffmpeg");
    REQUIRE_TOOL("sox");
    TempDir dir;
    std::string wav = test::MakeWav(dir, "in.wav", 2.0);
    std::string wma = dir.File("out.wma");
    ASSERT_TRUE(test::Run("ffmpeg -y -i " + wav + " -c:a wmav2 -b:a 128k -metadata title=" + test::Quoted("Ümlaut") +
                          " -metadata artist=Art -metadata album=Alb -metadata track=4 -metadata genre=Rock" +
                          " -metadata WM/Year=2001 " + wma));
    TWMAfile file;
    ASSERT_TRUE(file.LoadFromFile(wma));
    ASSERT_TRUE(file.Valid());
    EXPECT_EQ(file.Title(), "Ümlaut");
    EXPECT_EQ(file.Artist(), "Art");
    EXPECT_EQ(file.Album(), "Alb");
    EXPECT_EQ(file.Genre(), "Rock");
    EXPECT_EQ(file.Year(), "2001");
    EXPECT_EQ(file.Track(), 4);
    EXPECT_EQ(file.SampleRate(), 44100);
    EXPECT_EQ(file.ChannelModeID(), 2);
    EXPECT_GT(file.Duration(), 1.0);
}

TEST(TagWma, LengthIsThePlayDurationWithoutThePreroll) {
    REQUIRE_TOOL("ffmpeg");
    REQUIRE_MUTAGEN();
    TempDir dir;
    std::string plain = dir.File("plain.wma"), big = dir.File("big.wma");
    ASSERT_TRUE(test::Run("ffmpeg -v error -f lavfi -i sine=d=4 -c:a wmav2 " + Quoted(plain)));
    ASSERT_TRUE(test::Run("cp " + Quoted(plain) + " " + Quoted(big)));
    // 140 KB of lyrics in the header.
    ASSERT_EQ(test::Mutagen("asf-big " + Quoted(big) + " 70000"), "");
    for (const std::string& path : {plain, big}) {
        SCOPED_TRACE(path);
        double length = std::stod(test::Mutagen("length " + Quoted(path)));
        ASSERT_NEAR(length, 4.04, 0.05);
        TWMAfile wma;
        ASSERT_TRUE(wma.LoadFromFile(path));
        ASSERT_TRUE(wma.Valid());
        EXPECT_NEAR(wma.Duration(), length, 0.0005);
    }
}

std::string WavHeader(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t riffSize) {
    return "RIFF" + LE32(riffSize) + "WAVEfmt " + LE32(16) + LE16(1) + LE16(channels) + LE32(rate) +
           LE32(rate * channels * bits / 8) + LE16(uint16_t(channels * bits / 8)) + LE16(bits) + "data" +
           LE32(riffSize - 36);
}

// A header followed by the sound data it declares.
std::string WavFile(uint16_t channels, uint32_t rate, uint16_t bits, uint32_t dataSize) {
    return WavHeader(channels, rate, bits, 36 + dataSize) + std::string(dataSize, '\0');
}

TEST(TagWav, HeaderFieldsAndDuration) {
    TempDir dir;
    TWAVfile wav;
    ASSERT_TRUE(wav.LoadFromFile(dir.WriteFile("a.wav", WavFile(2, 44100, 16, 176400))));
    EXPECT_TRUE(wav.Valid());
    EXPECT_EQ(wav.ChannelModeText(), "Stereo");
    EXPECT_DOUBLE_EQ(wav.Duration(), 1.0);
    // Sample rates above 65535 Hz are kept whole.
    ASSERT_TRUE(wav.LoadFromFile(dir.WriteFile("hi.wav", WavFile(1, 192000, 24, 576000))));
    EXPECT_EQ(wav.SampleRate(), 192000u);
    EXPECT_DOUBLE_EQ(wav.Duration(), 1.0);
    // A zero sample rate or sample size gives no duration instead of a division by zero.
    ASSERT_TRUE(wav.LoadFromFile(dir.WriteFile("z.wav", WavFile(2, 0, 16, 1000))));
    EXPECT_TRUE(wav.Valid());
    EXPECT_EQ(wav.Duration(), 0);
    ASSERT_TRUE(wav.LoadFromFile(dir.WriteFile("b.wav", WavFile(2, 44100, 0, 1000))));
    EXPECT_EQ(wav.Duration(), 0);
    // Declared sizes larger than the file count only the bytes present.
    ASSERT_TRUE(wav.LoadFromFile(dir.WriteFile("s.wav", WavHeader(2, 44100, 16, 0xFFFFFFFF) + std::string(17640, 'x'))));
    EXPECT_EQ(wav.FileSize(), 44 + 17640);
    EXPECT_DOUBLE_EQ(wav.Duration(), 0.1);
    // A chunk size that would run past the end, or a walk that finds no data, reads as no sound.
    std::string noData = WavHeader(2, 44100, 16, 1000).substr(0, 36) + "LIST" + LE32(0xFFFFFFF0) + "data";
    ASSERT_TRUE(wav.LoadFromBuffer(reinterpret_cast<const uint8_t*>(noData.data()), static_cast<int64_t>(noData.size())));
    EXPECT_TRUE(wav.Valid());
    EXPECT_EQ(wav.Duration(), 0);
}

TEST(TagWav, NotValidOrTooShort) {
    TempDir dir;
    TWAVfile wav;
    ASSERT_TRUE(wav.LoadFromFile(dir.WriteFile("6.wav", WavFile(6, 44100, 16, 1000))));
    EXPECT_FALSE(wav.Valid());
    EXPECT_EQ(wav.Duration(), 0);
    std::string h = WavHeader(2, 44100, 16, 1000);
    EXPECT_FALSE(wav.LoadFromFile(dir.WriteFile("short.wav", h.substr(0, 43))));
    EXPECT_FALSE(wav.LoadFromFile(dir.File("missing.wav")));
    h.replace(8, 4, "AVI ");
    ASSERT_TRUE(wav.LoadFromFile(dir.WriteFile("avi.wav", h)));
    EXPECT_FALSE(wav.Valid());
}

TEST(TagWav, FilesMadeBySoxAndFfmpeg) {
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    TWAVfile wav;
    ASSERT_TRUE(wav.LoadFromFile(test::MakeWav(dir, "m.wav", 1.5, 22050, 1)));
    EXPECT_TRUE(wav.Valid());
    EXPECT_EQ(wav.ChannelModeText(), "Mono");
    EXPECT_EQ(wav.SampleRate(), 22050u);
    EXPECT_EQ(wav.BitsPerSample(), 16);
    EXPECT_NEAR(wav.Duration(), 1.5, 0.01);

    // Streamed to a pipe (sizes 0xFFFFFFFF), a JUNK chunk before "fmt ", a large LIST chunk.
    std::string source = test::MakeWav(dir, "in.wav", 2.0);
    std::string ffmpeg = "ffmpeg -v error -y -i " + source;
    struct Case {
        const char* name;
        std::string command;
    } cases[] = {{"streamed.wav", "sh -c " + Quoted(ffmpeg + " -f wav - | cat > " + dir.File("streamed.wav"))},
                 {"junk.wav", ffmpeg + " -rf64 auto " + dir.File("junk.wav")},
                 {"list.wav", ffmpeg + " -metadata comment=" + std::string(30000, 'c') + " " + dir.File("list.wav")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(test::Run(c.command));
        ASSERT_TRUE(wav.LoadFromFile(dir.File(c.name)));
        EXPECT_TRUE(wav.Valid());
        EXPECT_EQ(wav.SampleRate(), 44100u);
        EXPECT_NEAR(wav.Duration(), 2.0, 0.001);
    }
}

} // namespace
} // namespace lumora
