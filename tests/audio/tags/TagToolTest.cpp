#include <gtest/gtest.h>

#include <filesystem>

#include "audio/tags/OggVorbis.h"
#include "audio/tags/TagText.h"
#include "framework/LegacyText.h"
#include "framework/SysUtils.h"
#include "tests/audio/tags/TagSaveCases.h"
#include "tests/audio/tags/TagTestUtil.h"
#include "tests/support/LegacyTitles.h"
#include "tests/support/Sanitizer.h"

namespace lumora {
namespace {

using test::TempDir;

const std::string kTool = std::string(LUMORA_BINARY_DIR) + "/bin/lumora-tagtool";

#define REQUIRE_TAGTOOL() \
    if (!std::filesystem::exists(kTool)) GTEST_SKIP() << "lumora-tagtool is not built"

// Runs the tool with arguments given as a shell would take them.
std::string ToolOutput(const std::string& args, int& status) {
    return test::CommandOutput(test::Quoted(kTool) + " " + args + " 2>/dev/null", &status);
}

TEST(TagTool, PrintsWhatTheReadersRead) {
    REQUIRE_TAGTOOL();
    TempDir dir;
    std::string title = "Quote \" and \\ and 日本";
    std::string text = EncodeUtf16(title, TByteOrder::LittleEndian, true);
    text.insert(text.begin(), 0x01);
    std::string tag = test::Tag(3, test::Frame23("TIT2", text), 20);
    std::string path = dir.WriteFile("t.mp3", tag + test::MpegFrames(30));
    int status = -1;
    std::string json = ToolOutput(test::Quoted(path), status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(json.find("\"title\":\"Quote \\\" and \\\\ and 日本\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"bitRate\":128"), std::string::npos) << json;
    EXPECT_NE(json.find("\"valid\":true"), std::string::npos) << json;
    EXPECT_EQ(json.find("\"ogg\""), std::string::npos);

    ToolOutput(test::Quoted(dir.File("missing.mp3")), status);
    EXPECT_NE(status, 0);

    // JSON text is UTF-8: a file name that is not (Windows-1252 "Café") is given as it is shown.
    std::string legacy = dir.WriteFile("Caf\xe9.mp3", tag + test::MpegFrames(30));
    json = ToolOutput(test::Quoted(legacy), status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(IsValidUtf8(json)) << json;
    EXPECT_NE(json.find("\"file\":\"" + FileNameUtf8(legacy) + "\""), std::string::npos) << json;
    if (test::HaveTool("python3")) {
        EXPECT_TRUE(test::Run(test::Quoted(kTool) + " " + test::Quoted(legacy) +
                              " | /usr/bin/python3 -c 'import json, sys; json.loads(sys.stdin.buffer.read().decode())'"));
    }
}

TEST(TagTool, SetAndResaveWriteOnlyWhatTheyAreAskedTo) {
    REQUIRE_TAGTOOL();
    for (const char* tool : {"sox", "lame", "oggenc", "vorbiscomment", "ffmpeg"})
        if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (tools/setup installs it)";
    REQUIRE_MUTAGEN();
    TempDir dir;
    using test::Replaced;
    auto dump = test::MutagenDump;
    int status = -1;
    std::string wav = test::MakeWav(dir, "in.wav", 0.5);

    std::string mp3 = dir.File("a.mp3");
    ASSERT_TRUE(test::Run("lame --quiet -b 64 " + wav + " " + mp3));
    ASSERT_EQ(test::Mutagen("id3 " + mp3 + " 3"), "");
    std::string before = dump(mp3);
    ToolOutput("--resave " + mp3, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(dump(mp3), before);
    std::string json = ToolOutput("--set title=Neu id3v1.title=Alt id3v1.genre=jazz " + mp3, status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(json.find("\"title\":\"Alt\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"genreName\":\"Jazz\""), std::string::npos) << json;
    EXPECT_EQ(dump(mp3), Replaced(before, "TIT2='Die Ärzte'", "TIT2='Neu'"));
    // ID3v1 text in the code page it reads back in (Python's codecs read the bytes); a letter neither
    // holds is saved as "?" and named on stderr.
    std::string errors = test::CommandOutput(test::Quoted(kTool) + " --set 'id3v1.title=Crème – “Live”' " +
                                                 "id3v1.artist=Dvořák id3v1.album=ソング " + mp3 + " 2>&1 >/dev/null",
                                             &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(errors, "lumora-tagtool: ID3v1 artist: saved as it reads back, not as typed (\"?\" for letters the tag cannot hold).\n");
    std::string block = test::ReadFile(mp3).substr(test::ReadFile(mp3).size() - 128);
    auto field = [&](size_t at) { return block.substr(at, block.find('\0', at) - at); };
    if (test::HaveTool("python3")) {
        EXPECT_EQ(test::DecodedByPython({field(3), field(33)}, "cp1252"),
                  (std::vector<std::string>{"Crème – “Live”", "Dvo?ák"}));
        EXPECT_EQ(test::DecodedByPython({field(63)}, "cp932"), std::vector<std::string>{"ソング"});
    }
    // A field no tag has changes nothing.
    std::string bytes = test::ReadFile(mp3);
    ToolOutput("--set title=x bogus=1 " + mp3, status);
    EXPECT_NE(status, 0);
    EXPECT_EQ(test::ReadFile(mp3), bytes);

    std::string ogg = dir.File("a.ogg");
    ASSERT_TRUE(test::Run("oggenc -Q -q 1 " + wav + " -o " + ogg));
    ASSERT_TRUE(test::Run("vorbiscomment -w -t 'TRACKNUMBER=Side A' " + ogg));
    ToolOutput("--set title=T MOOD=calm Artist=A " + ogg, status);
    EXPECT_EQ(status, 0);
    before = dump(ogg);
    EXPECT_NE(before.find("mood='calm'"), std::string::npos) << before;
    EXPECT_NE(before.find("tracknumber='Side A'"), std::string::npos) << before;
    ToolOutput("--resave " + ogg, status);
    EXPECT_EQ(dump(ogg), before);
    ToolOutput("--set MOOD= " + ogg, status);
    EXPECT_EQ(dump(ogg), Replaced(before, "mood='calm'\n", ""));
    // A cleared artist or comment stays cleared where PERFORMER or DESCRIPTION could stand in.
    ASSERT_TRUE(test::Run(
        "vorbiscomment -w -t TITLE=T -t ARTIST=A -t PERFORMER=P -t COMMENT=C -t DESCRIPTION=D " + ogg));
    json = ToolOutput("--set artist= comment= " + ogg, status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(json.find("\"artist\":\"\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"comment\":\"\""), std::string::npos) << json;
    EXPECT_EQ(dump(ogg), "title='T'\n");

    std::string wma = dir.File("a.wma");
    ASSERT_TRUE(test::Run("ffmpeg -v error -y -i " + wav + " -c:a wmav2 -b:a 64k -metadata album=Old " + wma));
    before = dump(wma);
    ToolOutput("--resave " + wma, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(dump(wma), before);
    ToolOutput("--set album=Platte " + wma, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(dump(wma), Replaced(before, "wm/albumtitle='Old'", "wm/albumtitle='Platte'"));

    ToolOutput("--set " + wma, status);
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

// The names of the comments that are no standard field, upper-cased.
std::vector<std::string> OtherNames(const std::string& extra) {
    std::vector<std::string> names;
    for (size_t start = 0; start < extra.size();) {
        size_t end = std::min(extra.find('\0', start), extra.size());
        std::string item = extra.substr(start, end - start);
        names.push_back(UpperCase(item.substr(0, item.find('='))));
        start = end + 1;
    }
    return names;
}

// A standard field as the reader shows it, the track as its number (empty for none).
std::string OggField(const TOggVorbis& ogg, const std::string& field) {
    if (field == "title") return ogg.Title();
    if (field == "artist") return ogg.Artist();
    if (field == "album") return ogg.Album();
    if (field == "date") return ogg.Date();
    if (field == "genre") return ogg.Genre();
    if (field == "comment") return ogg.Comment();
    return ogg.Track() ? std::to_string(ogg.Track()) : "";
}

TEST(TagTool, ClearingAnOggFieldRemovesEveryValueOfItAndOfItsStandIn) {
    REQUIRE_TAGTOOL();
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("oggenc");
    REQUIRE_MUTAGEN();
    TempDir dir;
    std::string wav = test::MakeWav(dir, "in.wav", 0.5);
    // The field's name in the form's case and in capitals, as comment names are written.
    for (const auto& c : test::OggClearCases())
        for (const std::string& field : {std::string(c.Field), UpperCase(c.Field)}) {
        SCOPED_TRACE(field + " of " + c.Comments.front());
        std::string ogg = test::MakeOgg(dir, "clear.ogg", wav, c.Comments);
        std::string before = test::MutagenDump(ogg);
        ASSERT_NE(test::WithoutNames(before, c.Gone), before);
        int status = -1;
        ToolOutput("--set " + std::string("ogg.") + field + "= " + test::Quoted(ogg), status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(test::MutagenDump(ogg), test::WithoutNames(before, c.Gone));
        TOggVorbis back;
        ASSERT_TRUE(back.LoadFromFile(ogg));
        EXPECT_EQ(OggField(back, c.Field), "");
        for (const auto& name : OtherNames(back.Extra()))
            for (const auto& gone : c.Gone) EXPECT_NE(LowerCase(name), gone);
    }
    // A stand-in cleared on its own, and a field set in any case, replace every value of their name.
    const std::vector<std::string> both = {"ARTIST=a1", "PERFORMER=p1", "ARTIST=a2", "PERFORMER=p2", "TITLE=Keep"};
    struct {
        const char* Edit;
        std::string Dump;
    } edits[] = {
        {"PERFORMER=", "artist='a1'\nartist='a2'\ntitle='Keep'\n"},
        {"performer=", "artist='a1'\nartist='a2'\ntitle='Keep'\n"},
        {"Artist=x", "artist='x'\nperformer='p1'\nperformer='p2'\ntitle='Keep'\n"},
        {"ARTIST=x", "artist='x'\nperformer='p1'\nperformer='p2'\ntitle='Keep'\n"},
    };
    for (const auto& edit : edits) {
        SCOPED_TRACE(edit.Edit);
        std::string ogg = test::MakeOgg(dir, "edit.ogg", wav, both);
        int status = -1;
        ToolOutput("--set ogg." + std::string(edit.Edit) + " " + test::Quoted(ogg), status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(test::MutagenDump(ogg), edit.Dump);
    }
}

TEST(TagTool, OggCommentsWithZeroBytesKeepTheirBytes) {
    REQUIRE_TAGTOOL();
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("oggenc");
    REQUIRE_MUTAGEN();
    TempDir dir;
    std::string wav = test::MakeWav(dir, "in.wav", 0.5);
    for (const auto& c : test::OggZeroCases()) {
        std::vector<std::string> comments = c.Comments;
        comments.push_back("ALBUM=Old");
        std::string ogg = test::MakeOgg(dir, "zero.ogg", wav, comments);
        std::string before = test::MutagenDump(ogg);
        SCOPED_TRACE(before);
        int status = -1;
        ToolOutput("--resave " + test::Quoted(ogg), status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(test::MutagenDump(ogg), before);
        ToolOutput("--set ogg.album=New " + test::Quoted(ogg), status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(test::MutagenDump(ogg), test::Replaced(before, "album='Old'", "album='New'"));
        TOggVorbis back;
        ASSERT_TRUE(back.LoadFromFile(ogg));
        std::string extra;
        for (const auto& item : c.OtherItems) extra += (extra.empty() ? "" : std::string(1, '\0')) + item;
        EXPECT_EQ(back.Extra(), extra);
    }
}

TEST(TagTool, LongWmaValuesAreSavedWhole) {
    REQUIRE_TAGTOOL();
    REQUIRE_TOOL("ffmpeg");
    REQUIRE_MUTAGEN();
    TempDir dir;
    for (const auto& c : test::WmaLongCases()) {
        SCOPED_TRACE(std::string(c.Name) + (c.Existing ? " existing, " : " new, ") + std::to_string(c.Units));
        std::string wma = test::MakeWmaFor(dir, "long.wma", c);
        std::string before = test::MutagenDump(wma);
        ASSERT_EQ(before.find(LowerCase(c.Name) + "='Old value'") != std::string::npos, c.Existing) << before;
        std::string text = test::LongText(c.Units, std::string(c.Field) == "lyrics" || std::string(c.Field) == "description");
        int status = -1;
        std::string json =
            ToolOutput("--set " + test::Quoted(std::string("wma.") + c.Field + "=" + text) + " " + test::Quoted(wma), status);
        EXPECT_EQ(status, 0);
        // The reader the player and the picker use shows the value whole, wherever it was stored.
        std::string field = c.Field == std::string("description") ? "comment" : c.Field;
        std::string shown;
        for (char ch : TrimControl(text)) shown += ch == '\n' ? std::string("\\n") : std::string(1, ch);
        if (field == "title" || field == "album" || field == "comment") {
            EXPECT_NE(json.find("\"" + field + "\":\"" + shown + "\""), std::string::npos) << json.substr(0, 300);
        }
        EXPECT_EQ(test::MutagenValues(wma, c.Name), std::vector<std::string>{text});
        EXPECT_EQ(test::WithoutNames(test::MutagenDump(wma), {LowerCase(c.Name)}),
                  test::WithoutNames(before, {LowerCase(c.Name)}));
        EXPECT_EQ(test::CommandOutput("ffmpeg -v error -i " + test::Quoted(wma) + " -f null - 2>&1"), "");
    }
}

TEST(TagTool, ManyCompressedFramesLoadInBoundedMemory) {
    REQUIRE_TAGTOOL();
    // AddressSanitizer reserves terabytes of address space: no address limit can be set under it.
    if (test::BuiltWithAddressSanitizer()) GTEST_SKIP() << "built with AddressSanitizer";
    REQUIRE_TOOL("sox");
    REQUIRE_TOOL("lame");
    REQUIRE_MUTAGEN();
    TempDir dir;
    std::string wav = test::MakeWav(dir, "in.wav", 0.5);
    std::string mp3 = dir.File("many.mp3");
    ASSERT_TRUE(test::Run("lame --quiet -b 64 " + wav + " " + mp3));
    // 400 frames, each declaring 16 MiB once inflated; they hold a few bytes.
    ASSERT_EQ(test::Mutagen("id3-compressed-many " + mp3 + " 400"), "");
    std::string before = test::MutagenDump(mp3);
    int status = -1;
    std::string json = test::CommandOutput("bash -c " + test::Quoted("ulimit -v 1000000; exec " + test::Quoted(kTool) +
                                                                     " --resave " + test::Quoted(mp3)) +
                                               " 2>/dev/null",
                                           &status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(json.find("\"title\":\"Plain title\""), std::string::npos) << json;
    EXPECT_EQ(test::MutagenDump(mp3), before);
}

} // namespace
} // namespace lumora
