#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "audio/TagText.h"
#include "tests/audio/TagTestUtil.h"

namespace lumora {
namespace {

using test::TempDir;

std::string ToolOutput(const std::string& file, int& status) {
    std::string tool = std::string(LUMORA_BINARY_DIR) + "/bin/lumora-tagtool";
    std::string out;
    FILE* p = ::popen((test::Quoted(tool) + " " + test::Quoted(file) + " 2>/dev/null").c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    status = ::pclose(p);
    return out;
}

TEST(TagTool, PrintsWhatTheReadersRead) {
    if (!std::filesystem::exists(std::string(LUMORA_BINARY_DIR) + "/bin/lumora-tagtool"))
        GTEST_SKIP() << "lumora-tagtool is not built";
    TempDir dir;
    std::string title = "Quote \" and \\ and 日本";
    std::string text = "\x01" + EncodeUtf16(title, TByteOrder::LittleEndian, true);
    std::string tag = test::Tag(3, test::Frame23("TIT2", text), 20);
    std::string path = dir.WriteFile("t.mp3", tag + test::MpegFrames(30));
    int status = -1;
    std::string json = ToolOutput(path, status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(json.find("\"title\":\"Quote \\\" and \\\\ and 日本\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"bitRate\":128"), std::string::npos) << json;
    EXPECT_NE(json.find("\"valid\":true"), std::string::npos) << json;
    EXPECT_EQ(json.find("\"ogg\""), std::string::npos);

    ToolOutput(dir.File("missing.mp3"), status);
    EXPECT_NE(status, 0);
}

} // namespace
} // namespace lumora
