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
    std::string path = Mp3("id3v1", 0);
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

} // namespace
} // namespace lumora
