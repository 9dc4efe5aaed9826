#include <gtest/gtest.h>

#include "audio/tags/ID3v1.h"
#include "audio/tags/ID3v2.h"
#include "tests/audio/tags/TagTestUtil.h"

namespace lumora {
namespace {

using test::MutagenDump;
using test::Quoted;
using test::ReadFile;
using test::Replaced;
using test::TempDir;

// Saves made on files tagged by other programs, judged by what mutagen reads before and after.
class TagResave : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TOOL("sox");
        REQUIRE_TOOL("lame");
        REQUIRE_MUTAGEN();
        wav_ = test::MakeWav(dir_, "in.wav", 0.5);
    }

    // An MP3 made by lame and tagged by mutagen_tags.py's command ("id3" or "id3-compressed").
    std::string Mp3(const std::string& command, int version) {
        std::string path = dir_.File(command + std::to_string(version) + ".mp3");
        EXPECT_TRUE(test::Run("lame --quiet -b 64 " + wav_ + " " + Quoted(path)));
        EXPECT_EQ(test::Mutagen(command + " " + Quoted(path) + " " + std::to_string(version)), "");
        return path;
    }

    // The bytes after the ID3v2 tag.
    static std::string Audio(const std::string& path) {
        std::string bytes = ReadFile(path);
        return bytes.substr(static_cast<size_t>(ID3v2TagSize(reinterpret_cast<const uint8_t*>(bytes.data()))));
    }

    TempDir dir_;
    std::string wav_;
};

TEST_F(TagResave, Id3v2SaveWithoutEditKeepsEveryValueAndWritesValid23) {
    for (int version : {3, 4}) {
        SCOPED_TRACE(version);
        std::string path = Mp3("id3", version);
        std::string before = Replaced(MutagenDump(path), "version=2.4", "version=2.3");
        std::string audio = Audio(path);
        ASSERT_NE(before.find("TIT2='Die Ärzte'"), std::string::npos) << before;

        TID3v2 tag;
        ASSERT_TRUE(tag.ReadFromFile(path));
        EXPECT_EQ(tag.Track(), 7);
        ASSERT_TRUE(tag.SaveToFile(path));
        EXPECT_EQ(MutagenDump(path), before);
        EXPECT_EQ(Audio(path), audio);

        // An edit changes that value only.
        ASSERT_TRUE(tag.ReadFromFile(path));
        tag.SetTitle("Neuer Titel");
        ASSERT_TRUE(tag.SaveToFile(path));
        EXPECT_EQ(MutagenDump(path), Replaced(before, "TIT2='Die Ärzte'", "TIT2='Neuer Titel'"));
        EXPECT_EQ(Audio(path), audio);
    }
}

TEST_F(TagResave, Id3v1FieldsLeftAsTheyWereKeepTheirBytes) {
    // "id3v1-comment-tail": a 30-byte comment whose last two bytes, a blank and a digit, read as a
    // track number.
    for (const char* command : {"id3v1", "id3v1-comment-tail"}) {
        SCOPED_TRACE(command);
        std::string path = Mp3(command, 0);
        std::string before = MutagenDump(path);
        ASSERT_NE(before.find("TALB='© 1998 Ñandú £££"), std::string::npos) << before;
        std::string bytes = ReadFile(path);
        TID3v1 tag;
        ASSERT_TRUE(tag.ReadFromFile(path));
        ASSERT_TRUE(tag.SaveToFile(path));
        EXPECT_EQ(ReadFile(path), bytes);
        // The form sets every field from its edits, through the setters.
        tag.SetAlbum(tag.Album());
        tag.SetComment(tag.Comment());
        ASSERT_TRUE(tag.SaveToFile(path));
        EXPECT_EQ(ReadFile(path), bytes);
        tag.SetTitle("Neu");
        ASSERT_TRUE(tag.SaveToFile(path));
        EXPECT_EQ(MutagenDump(path), Replaced(before, "TIT2='Die Ärzte'", "TIT2='Neu'"));
        EXPECT_EQ(ReadFile(path).substr(bytes.size() - 31), bytes.substr(bytes.size() - 31));
    }
}

TEST_F(TagResave, Version22FramesAreRenamedOrKeptInA23Tag) {
    std::string path = Mp3("id3v22", 0);
    std::string before = MutagenDump(path);
    ASSERT_NE(before.find("TCMP='1'"), std::string::npos) << before;
    ASSERT_NE(before.find("TSOT='Sort title'"), std::string::npos) << before;
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    EXPECT_EQ(tag.Title(), "Old title");
    tag.SetTitle("New title");
    ASSERT_TRUE(tag.SaveToFile(path));
    // Frames 2.3 has no name for are kept under user-defined and private frames.
    std::string expected =
        Replaced(Replaced(before, "TIT2='Old title'", "TIT2='New title'"), "version=2.2", "version=2.3");
    expected = Replaced(expected, "TCMP=", "PRIV:ID3v2.2 XYZ:opaque bytes=\"ID3v2.2 XYZ=b'opaque bytes'\"\nTCMP=");
    expected = Replaced(expected, "version=", "TXXX:TZZ='TZZ=Private text'\nversion=");
    expected = Replaced(expected, "version=", "WXXX:WZZ='http://example.com/z'\nversion=");
    EXPECT_EQ(MutagenDump(path), expected);
}

TEST_F(TagResave, Version24OnlyFramesTakeTheir23FormsAndKeepWhatTheseCannotHold) {
    std::string path = Mp3("id3-v24-only", 0);
    std::string before = MutagenDump(path);
    ASSERT_NE(before.find("TDRC='1987-11-23 22:15:30'"), std::string::npos) << before;
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    EXPECT_EQ(tag.Year(), "1987");
    ASSERT_TRUE(tag.SaveToFile(path));
    EXPECT_EQ(MutagenDump(path), Replaced(before, "version=2.4", "version=2.3"));
    // TIME holds hours and minutes only, TORY a year: the 2.4 dates stay beside them. TIPL is IPLS.
    EXPECT_EQ(test::Mutagen("frames " + Quoted(path)),
              "IPLS='[unrepresentable data]'\nTDAT='2311'\nTDOR='1985-02-01'\nTDRC='1987-11-23 22:15:30'\n"
              "TIME='2215'\nTIT2='Dated'\nTMOO='calm ☾'\nTORY='1985'\nTSOP='Beatles, The'\nTYER='1987'\n");
}

TEST_F(TagResave, CompressedFramesAreReadAndKept) {
    for (int version : {3, 4}) {
        SCOPED_TRACE(version);
        std::string path = Mp3("id3-compressed", version);
        std::string before = MutagenDump(path);
        ASSERT_NE(before.find("TIT2='Compressed title'"), std::string::npos) << before;

        TID3v2 tag;
        ASSERT_TRUE(tag.ReadFromFile(path));
        EXPECT_EQ(tag.Title(), "Compressed title");
        EXPECT_EQ(tag.Album(), "Compressed album");
        tag.SetArtist("New artist");
        ASSERT_TRUE(tag.SaveToFile(path));
        EXPECT_EQ(MutagenDump(path), Replaced(Replaced(before, "version=2.4", "version=2.3"), "TPE1='Plain artist'",
                                              "TPE1='New artist'"));
    }
}

TEST_F(TagResave, CompressedFramesTakeWhatTheyInflateToWithinOneBoundPerTag) {
    auto parse = [](const std::string& bytes) {
        auto n = static_cast<int64_t>(bytes.size());
        return ParseID3v2(reinterpret_cast<const uint8_t*>(bytes.data()), n, n);
    };
    // Forty frames of a few bytes, each declaring 16 MiB: they cost what they hold.
    std::string path = Mp3("id3-compressed-many", 40);
    std::string before = MutagenDump(path);
    ASSERT_NE(before.find("TXXX:Key 39='Key 39=Value 39'"), std::string::npos) << before;
    TID3v2Parsed parsed = parse(ReadFile(path));
    size_t frames = 0, capacity = 0;
    for (const auto& f : parsed.Frames) {
        if (f.ID != "TXXX") continue;
        ++frames;
        EXPECT_TRUE(f.Readable);
        capacity += f.Data.capacity();
    }
    EXPECT_EQ(frames, 40u);
    EXPECT_LT(capacity, 40u * 64u);
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    ASSERT_TRUE(tag.SaveToFile(path));
    EXPECT_EQ(MutagenDump(path), before);

    // Frames that truly inflate to 1 MiB each: past the tag's bound they are left compressed, the
    // frame after them is still read, and a save keeps every one of them as it was.
    path = Mp3("id3-bomb", 24);
    parsed = parse(ReadFile(path));
    uint64_t inflated = 0;
    size_t refused = 0;
    capacity = 0;
    std::vector<std::string> bodies;
    for (const auto& f : parsed.Frames) {
        if (f.ID != "TXXX") continue;
        bodies.push_back(f.Body23);
        if (f.Readable) inflated += f.Data.size(), capacity += f.Data.capacity();
        else ++refused;
    }
    EXPECT_LT(capacity, inflated + 24u * 64u);
    ASSERT_EQ(bodies.size(), 24u);
    EXPECT_GT(inflated, 8u << 20);
    EXPECT_LE(inflated, ID3v2MaxInflated);
    EXPECT_GT(refused, 0u);
    ASSERT_TRUE(tag.ReadFromFile(path));
    EXPECT_EQ(tag.Title(), "Title after the bomb");
    tag.SetArtist("Artist");
    ASSERT_TRUE(tag.SaveToFile(path));
    std::vector<std::string> after;
    for (const auto& f : parse(ReadFile(path)).Frames)
        if (f.ID == "TXXX") after.push_back(f.Body23);
    EXPECT_TRUE(after == bodies);
}

} // namespace
} // namespace lumora
