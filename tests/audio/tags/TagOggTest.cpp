#include <gtest/gtest.h>

#include <filesystem>

#include "audio/tags/OggVorbis.h"
#include "framework/SysUtils.h"
#include "tests/audio/tags/TagTestUtil.h"

namespace lumora {
namespace {

using test::Quoted;
using test::ReadFile;
using test::TempDir;

class TagOgg : public testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"sox", "oggenc", "vorbiscomment", "ogginfo", "oggdec"})
            if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (tools/setup installs it)";
        wav_ = test::MakeWav(dir_, "in.wav", 2.0);
    }

    // An Ogg Vorbis file with the given comments (NAME=value each).
    std::string Make(const std::string& name, const std::vector<std::string>& comments) {
        std::string path = dir_.File(name);
        std::string cmd = "oggenc -Q -q 1 " + wav_ + " -o " + Quoted(path);
        EXPECT_TRUE(test::Run(cmd));
        std::string tags;
        for (const auto& c : comments) tags += " -t " + Quoted(c);
        EXPECT_TRUE(test::Run("vorbiscomment -w" + tags + " " + Quoted(path)));
        return path;
    }

    std::string Comments(const std::string& path) {
        int status = -1;
        std::string list = test::CommandOutput("vorbiscomment -l " + Quoted(path) + " 2>/dev/null", &status);
        EXPECT_EQ(status, 0);
        return list;
    }

    std::string Decoded(const std::string& path) {
        std::string out = dir_.File("decoded.wav");
        EXPECT_TRUE(test::Run("oggdec -Q -o " + Quoted(out) + " " + Quoted(path)));
        return ReadFile(out);
    }

    TempDir dir_;
    std::string wav_;
};

TEST_F(TagOgg, ReadsPropertiesAndComments) {
    std::string path = Make("a.ogg", {"TITLE=Tïtle", "performer=Player", "TRACKNUMBER=3/12", "DATE=2003",
                                      "GENRE=Jazz", "DESCRIPTION=Desc", "Custom=kept", "MOOD=calm"});
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(path));
    EXPECT_TRUE(ogg.IsValid());
    EXPECT_EQ(ogg.ChannelModeID(), 2);
    EXPECT_EQ(ogg.ChannelModeText(), "Stereo");
    EXPECT_EQ(ogg.SampleRate(), 44100u);
    EXPECT_EQ(ogg.Samples(), 88200);
    EXPECT_NEAR(ogg.Duration(), 2.0, 1e-9);
    EXPECT_GT(ogg.BitRate(), 0);
    EXPECT_EQ(ogg.Title(), "Tïtle");
    EXPECT_EQ(ogg.Artist(), "Player"); // PERFORMER stands in for a missing ARTIST
    EXPECT_EQ(ogg.Comment(), "Desc");
    EXPECT_EQ(ogg.Track(), 3);
    EXPECT_EQ(ogg.Date(), "2003");
    EXPECT_EQ(ogg.Extra(), std::string("Custom=kept\0MOOD=calm", 21));
    EXPECT_FALSE(ogg.Vendor().empty());

    // A track number above 255 is kept whole.
    ASSERT_TRUE(ogg.LoadFromFile(Make("t.ogg", {"TRACKNUMBER=300", "ARTIST=A", "PERFORMER=P"})));
    EXPECT_EQ(ogg.Track(), 300);
    EXPECT_EQ(ogg.Artist(), "A");
}

TEST_F(TagOgg, SavedFilesAreAcceptedAndKeepTheirAudio) {
    std::string path = Make("s.ogg", {"TITLE=Old", "ARTIST=A", "PERFORMER=Band", "TRACKNUMBER=3/12", "Custom=kept"});
    std::string audioBefore = Decoded(path);
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(path));
    ogg.SetTitle("新しい題名");
    ogg.SetComment(std::string(600, 'c'));
    ogg.SetExtra(ogg.Extra() + std::string("\0LYRICS=la la", 13));
    ASSERT_TRUE(ogg.SaveToFile(path));
    EXPECT_TRUE(test::Run("ogginfo " + Quoted(path)));
    EXPECT_EQ(Decoded(path), audioBefore);
    std::string list = Comments(path);
    EXPECT_NE(list.find("TITLE=新しい題名"), std::string::npos) << list;
    EXPECT_NE(list.find("TRACKNUMBER=3/12"), std::string::npos) << list;
    EXPECT_NE(list.find("PERFORMER=Band"), std::string::npos) << list;
    EXPECT_NE(list.find("Custom=kept"), std::string::npos) << list;
    EXPECT_NE(list.find("LYRICS=la la"), std::string::npos) << list;
    EXPECT_NE(list.find("COMMENT=" + std::string(600, 'c')), std::string::npos);

    TOggVorbis back;
    ASSERT_TRUE(back.LoadFromFile(path));
    EXPECT_EQ(back.Title(), "新しい題名");
    EXPECT_EQ(back.Comment(), std::string(600, 'c'));
    EXPECT_EQ(back.Samples(), ogg.Samples());

    // Shrinking works as well, and a changed track number keeps the total behind it.
    back.SetComment("");
    back.SetTrack(5);
    ASSERT_TRUE(back.SaveToFile(path));
    EXPECT_TRUE(test::Run("ogginfo " + Quoted(path)));
    EXPECT_EQ(Decoded(path), audioBefore);
    list = Comments(path);
    EXPECT_EQ(list.find("COMMENT="), std::string::npos);
    EXPECT_NE(list.find("TRACKNUMBER=5/12\n"), std::string::npos) << list;
    EXPECT_EQ(std::filesystem::directory_iterator(dir_.Path()) != std::filesystem::directory_iterator(), true);
    for (const auto& e : std::filesystem::directory_iterator(dir_.Path()))
        EXPECT_EQ(e.path().string().find('~'), std::string::npos);
}

TEST_F(TagOgg, PerformerShownAsTheArtistStaysUntilTheArtistIsEdited) {
    std::string path = Make("p.ogg", {"PERFORMER=Only", "DESCRIPTION=Desc"});
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(path));
    std::string before = Comments(path);
    ASSERT_TRUE(ogg.SaveToFile(path));
    EXPECT_EQ(Comments(path), before);
    ogg.SetArtist("New");
    ASSERT_TRUE(ogg.SaveToFile(path));
    std::string list = Comments(path);
    EXPECT_NE(list.find("ARTIST=New"), std::string::npos) << list;
    EXPECT_EQ(list.find("PERFORMER="), std::string::npos) << list;
    EXPECT_NE(list.find("DESCRIPTION=Desc"), std::string::npos) << list;
}

TEST_F(TagOgg, CommentsLeftAsTheyWereKeepTheirBytes) {
    std::string path = Make("k.ogg", {"title=Name  ", "Custom=spaced  ", "TRACKNUMBER=03", "genre=Jazz"});
    std::string before = Comments(path);
    ASSERT_NE(before.find("title=Name  \n"), std::string::npos) << before;
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(path));
    ASSERT_TRUE(ogg.SaveToFile(path));
    EXPECT_EQ(Comments(path), before);
    ogg.SetGenre("Blues");
    ASSERT_TRUE(ogg.SaveToFile(path));
    std::string after = Comments(path);
    EXPECT_NE(after.find("GENRE=Blues\n"), std::string::npos) << after;
    EXPECT_NE(after.find("title=Name  \n"), std::string::npos) << after;
    EXPECT_NE(after.find("Custom=spaced  \n"), std::string::npos) << after;
}

TEST_F(TagOgg, AnEditedRepeatedNameReadsBackAsEdited) {
    std::string path = Make("r.ogg", {"COMMENT=first", "COMMENT=second"});
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(path));
    EXPECT_EQ(ogg.Comment(), "second");
    ogg.SetComment("edited");
    ASSERT_TRUE(ogg.SaveToFile(path));
    ASSERT_TRUE(ogg.LoadFromFile(path));
    EXPECT_EQ(ogg.Comment(), "edited");
    EXPECT_NE(Comments(path).find("COMMENT=first"), std::string::npos);
}

TEST_F(TagOgg, ATrackTextIsKeptUntilTheTrackIsSetToAnotherNumber) {
    if (!test::HaveMutagen()) GTEST_SKIP() << "python3-mutagen is not installed (tools/setup installs it)";
    struct {
        const char* stored;
        int set;             // -1: the track is not set
        const char* written; // nullptr: no TRACKNUMBER at all
    } cases[] = {
        {"Side A", -1, "Side A"}, {"A7", -1, "A7"},       {"1 of 10", -1, "1 of 10"}, {"0", -1, "0"},
        {"70000", -1, "70000"},   {"7/12", -1, "7/12"},   {"7/12", 7, "7/12"},        {"7/12", 8, "8/12"},
        {"Side A", 3, "3"},       {"Side A", 0, nullptr}, {"7/12", 0, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.stored) + " set " + std::to_string(c.set));
        std::string path = Make("t.ogg", {"TITLE=Old", std::string("TRACKNUMBER=") + c.stored, "MOOD=calm"});
        std::string before = test::MutagenDump(path);
        ASSERT_NE(before.find(std::string("tracknumber='") + c.stored + "'"), std::string::npos) << before;
        TOggVorbis ogg;
        ASSERT_TRUE(ogg.LoadFromFile(path));
        ogg.SetTitle("New");
        if (c.set >= 0) ogg.SetTrack(static_cast<uint16_t>(c.set));
        ASSERT_TRUE(ogg.SaveToFile(path));
        std::string expected = test::Replaced(before, "title='Old'", "title='New'");
        expected =
            test::Replaced(expected, std::string("tracknumber='") + c.stored + "'\n",
                           c.written ? std::string("tracknumber='") + c.written + "'\n" : std::string());
        EXPECT_EQ(test::MutagenDump(path), expected);
    }
}

TEST_F(TagOgg, EditedCommentsKeepTheirPlaces) {
    std::string path = Make("o.ogg", {"TITLE=t", "Custom=c", "TRACKNUMBER=2", "DATE=", "ARTIST=a",
                                      "MOOD=calm", "OLD=x", "GENRE=Jazz"});
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(path));
    ASSERT_EQ(ogg.Extra(), std::string("Custom=c\0MOOD=calm\0OLD=x", 24));
    ogg.SetTitle("New title");
    ogg.SetArtist("b");
    ogg.SetGenre("");
    // An item edited in the list where it stands, one replaced by a new item of its name at the end
    // (as the tag tool does), one deleted and one added.
    ogg.SetExtra(std::string("Custom=d\0NEW=n\0mood=happy", 25));
    ASSERT_TRUE(ogg.SaveToFile(path));
    EXPECT_EQ(Comments(path),
              "TITLE=New title\nCustom=d\nTRACKNUMBER=2\nDATE=\nARTIST=b\nmood=happy\nNEW=n\n");
}

// The checks of other tools on a saved file: ogginfo and ffmpeg find nothing to complain about, and
// the audio decodes as before.
void ExpectSound(const std::string& path) {
    int status = -1;
    std::string info = LowerCase(test::CommandOutput("ogginfo " + Quoted(path) + " 2>&1", &status));
    EXPECT_EQ(status, 0) << info;
    EXPECT_EQ(info.find("warning"), std::string::npos) << info;
    EXPECT_EQ(info.find("error"), std::string::npos) << info;
    EXPECT_EQ(test::CommandOutput("ffmpeg -v error -i " + Quoted(path) + " -map 0:a -f null - 2>&1", &status), "");
    EXPECT_EQ(status, 0);
}

TEST_F(TagOgg, CommentPacketsLargerThanAPageAreLaidOutOnMorePages) {
    if (!test::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed (tools/setup installs it)";
    std::string path = Make("big.ogg", {"TITLE=x"});
    std::string audio = Decoded(path);
    TOggVorbis ogg;
    ASSERT_TRUE(ogg.LoadFromFile(path));
    ogg.SetComment(std::string(70000, 'z'));
    ASSERT_TRUE(ogg.SaveToFile(path));
    ExpectSound(path);
    EXPECT_EQ(Decoded(path), audio);
    EXPECT_NE(Comments(path).find("COMMENT=" + std::string(70000, 'z')), std::string::npos);
    // And back onto fewer pages.
    ASSERT_TRUE(ogg.LoadFromFile(path));
    ogg.SetComment("short");
    ASSERT_TRUE(ogg.SaveToFile(path));
    ExpectSound(path);
    EXPECT_EQ(Decoded(path), audio);
    EXPECT_NE(Comments(path).find("COMMENT=short"), std::string::npos);

    // A packet that already spans pages, written by vorbiscomment, and one holding a cover picture
    // written by mutagen: a save without an edit leaves what mutagen reads unchanged.
    std::string longValue(100000, 'v');
    std::string spanning = Make("span.ogg", {"TITLE=t", "LONG=" + longValue});
    ASSERT_TRUE(ogg.LoadFromFile(spanning));
    EXPECT_EQ(ogg.Extra(), "LONG=" + longValue);
    ogg.SetTitle("changed");
    ASSERT_TRUE(ogg.SaveToFile(spanning));
    ExpectSound(spanning);
    std::string list = Comments(spanning);
    EXPECT_NE(list.find("TITLE=changed"), std::string::npos);
    EXPECT_NE(list.find("LONG=" + longValue), std::string::npos);

    if (!test::HaveMutagen()) GTEST_SKIP() << "python3-mutagen is not installed (tools/setup installs it)";
    std::string cover = Make("cover.ogg", {"ARTIST=a"});
    ASSERT_EQ(test::Mutagen("ogg-big " + Quoted(cover) + " 200000"), "");
    std::string before = test::MutagenDump(cover);
    ASSERT_NE(before.find("metadata_block_picture"), std::string::npos);
    ASSERT_TRUE(ogg.LoadFromFile(cover));
    ASSERT_TRUE(ogg.SaveToFile(cover));
    EXPECT_EQ(test::MutagenDump(cover), before);
    ExpectSound(cover);
    EXPECT_EQ(Decoded(cover), audio);
}

TEST_F(TagOgg, DamagedAndForeignFiles) {
    TOggVorbis ogg;
    EXPECT_THROW(ogg.LoadFromFile(dir_.File("missing.ogg")), EFOpenError);
    EXPECT_FALSE(ogg.LoadFromFile(dir_.WriteFile("x.ogg", "not an ogg file at all")));
    EXPECT_FALSE(ogg.LoadFromFile(dir_.WriteFile("e.ogg", "")));
    std::string good = ReadFile(Make("g.ogg", {"TITLE=x"}));
    // Cut inside the first page, and inside the comment header.
    EXPECT_FALSE(ogg.LoadFromFile(dir_.WriteFile("cut1.ogg", good.substr(0, 40))));
    ASSERT_TRUE(ogg.LoadFromFile(dir_.WriteFile("cut2.ogg", good.substr(0, 80))));
    EXPECT_EQ(ogg.Title(), "");
    EXPECT_FALSE(ogg.IsValid());
    // A tag in front of the stream is passed over.
    std::string id3 = test::Tag(3, test::Frame23("TIT2", test::Latin("x")), 50);
    ASSERT_TRUE(ogg.LoadFromFile(dir_.WriteFile("id3.ogg", id3 + good)));
    EXPECT_EQ(ogg.ID3v2Size(), static_cast<int64_t>(id3.size()));
    EXPECT_EQ(ogg.Title(), "x");
    EXPECT_NEAR(ogg.Duration(), 2.0, 1e-9);
}

TEST(TagOggPages, PagesWithoutSegmentsAreHarmless) {
    // Pages with no lacing values at all, at the start and at the end of the stream.
    std::string empty = "OggS" + std::string(22, '\0') + std::string(1, '\0');
    std::string bytes = empty + empty + empty;
    TBytesStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
    TOggVorbis ogg;
    EXPECT_FALSE(ogg.LoadFromStream(stream));
    EXPECT_EQ(ogg.Duration(), 0);
}

TEST(TagOggChecksum, MatchesTheOggPolynomial) {
    // The checksum of "OggS" with zeros, computed by hand with the table-free definition.
    auto reference = [](const std::string& s) {
        uint32_t crc = 0;
        for (unsigned char c : s) {
            crc ^= uint32_t(c) << 24;
            for (int i = 0; i < 8; ++i) crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
        return crc;
    };
    std::string data = "OggS" + std::string(23, '\0') + "\x01\x1e\x01vorbis";
    EXPECT_EQ(OggChecksum(reinterpret_cast<const uint8_t*>(data.data()), data.size()), reference(data));
    EXPECT_EQ(OggChecksum(nullptr, 0), 0u);
}

} // namespace
} // namespace lumora
