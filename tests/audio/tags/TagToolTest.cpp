#include <gtest/gtest.h>

#include <filesystem>

#include "audio/tags/TagText.h"
#include "tests/audio/tags/TagTestUtil.h"

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

TEST(TagTool, ManyCompressedFramesLoadInBoundedMemory) {
    REQUIRE_TAGTOOL();
    // AddressSanitizer reserves terabytes of address space: no address limit can be set under it.
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "built with AddressSanitizer";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "built with AddressSanitizer";
#endif
#endif
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
