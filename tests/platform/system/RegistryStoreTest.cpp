#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "framework/Registry.h"
#include "platform/system/RegistryFile.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

using test::ReadFile;
using test::TempDir;

const char* kSample =
    "REGEDIT4\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Setting]\n"
    "\"Interval\"=\"5\"\n"
    "\"Folder\"=\"/home/me/Pictures\"\n"
    "\"Count\"=dword:0000000a\n"
    "\"Raw\"=hex:01,02,ff\n"
    "\"Path\"=hex(2):25,00\n";

const TRegKey& Key(const TRegistryTree& tree, const std::string& path) {
    const TRegKey* key = tree.FindPath(path);
    if (!key) throw std::runtime_error("no key " + path);
    return *key;
}

TEST(RegistryText, ReadsEveryValueForm) {
    TRegParseResult r = ParseRegistryText(kSample);
    EXPECT_FALSE(r.Damaged());
    const TRegKey& k = Key(r.Tree, "hkey_current_user\\SOFTWARE\\Varenko's Software\\Lumora\\Setting");
    ASSERT_EQ(k.Values.size(), 5u);
    EXPECT_EQ(k.Values[0], (TRegValue{"Interval", REG_SZ, "5"}));
    EXPECT_EQ(k.Values[1].Data, "/home/me/Pictures");
    EXPECT_EQ(k.Values[2], (TRegValue{"Count", REG_DWORD, std::string("\x0a\0\0\0", 4)}));
    EXPECT_EQ(k.Values[3], (TRegValue{"Raw", REG_BINARY, "\x01\x02\xff"}));
    EXPECT_EQ(k.Values[4], (TRegValue{"Path", REG_EXPAND_SZ, "%"}));
}

TEST(RegistryText, WriteThenReadGivesTheSameTree) {
    TRegistryTree tree;
    TRegKey& k = tree.CreatePath("HKEY_CURRENT_USER\\Software\\Täst \"quoted\"\\Sub]key");
    k.SetValue("", REG_SZ, "default");
    k.SetValue("back\\slash \"and quote\"", REG_SZ, "C:\\dir\\\"x\"\\");
    k.SetValue("multi", REG_SZ, std::string("line one\nline two\r\nend\0zero", 27));
    k.SetValue("日本語", REG_SZ, "ＭＳ Ｐゴシック");
    k.SetValue("=hex:1", REG_SZ, "ends with backslash\\");
    k.SetValue("neg", REG_DWORD, std::string("\xff\xff\xff\xff", 4));
    k.SetValue("empty", REG_BINARY, "");
    k.SetValue("expand", REG_EXPAND_SZ, "%PATH%;\nx");
    k.SetValue("list", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
    k.SetValue("odd", 0x1234, "xyz");
    tree.CreatePath("HKEY_CURRENT_USER\\Empty\\Leaf");
    tree.CreatePath("HKEY_CURRENT_USER\\Software\\Täst \"quoted\"\\Sub]key\\Child").SetValue("v", REG_SZ, "1");

    std::string text = FormatRegistryText(tree);
    TRegParseResult r = ParseRegistryText(text);
    EXPECT_FALSE(r.Damaged()) << text;
    EXPECT_TRUE(r.Tree == tree) << text;
    EXPECT_EQ(FormatRegistryText(r.Tree), text);
}

// Texts a person or another program may leave in the file: whatever is read writes back to text
// that reads to the same tree, so a save never turns a key into something else.
TEST(RegistryText, WhatIsReadWritesBackToTheSameTree) {
    const char* texts[] = {
        "[\\-HKEY_]",
        "REGEDIT4\n[\\\\-hkey_current_user\\K]\n\"a\"=\"b\"\n",
        "REGEDIT4\n[-Soft\\K]\n\"a\"=\"b\"\n",
        "REGEDIT4\n[K\\-HKEY_X]\n\"a\"=\"b\"\n",
        "REGEDIT4\n[K]]\n\"a\"=hex(0):\n@=\"\"\n",
    };
    for (const char* input : texts) {
        TRegParseResult first = ParseRegistryText(input);
        std::string text = FormatRegistryText(first.Tree);
        TRegParseResult second = ParseRegistryText(text);
        EXPECT_FALSE(second.Damaged()) << input << " -> " << text;
        EXPECT_TRUE(second.Tree == first.Tree) << input << " -> " << text;
        EXPECT_EQ(FormatRegistryText(second.Tree), text) << input;
    }
    // A path whose first name reads as a deletion is skipped however it is spelt; later names may be anything.
    EXPECT_EQ(ParseRegistryText("[\\-HKEY_X]\n\"a\"=\"b\"\n").Tree.FindPath("-HKEY_X"), nullptr);
    EXPECT_NE(ParseRegistryText("[K\\-HKEY_X]\n\"a\"=\"b\"\n").Tree.FindPath("K\\-HKEY_X"), nullptr);
}

TEST(RegistryText, DamagedLinesAreSkipped) {
    std::string text = std::string(kSample) +
                       "garbage line\n"
                       "\"Unclosed\"=\"abc\n"
                       "\"NoEquals\" \"x\"\n"
                       "\"BadDword\"=dword:123456789\n"
                       "\"BadHex\"=hex:0g\n"
                       "\"Deleted\"=-\n"
                       "; a comment\n"
                       "[-HKEY_CURRENT_USER\\Gone]\n"
                       "\"Orphan\"=\"belongs to no key\"\n"
                       "[HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Setting]\n"
                       "\"Interval\"=\"9\"\n";
    TRegParseResult r = ParseRegistryText(text);
    EXPECT_EQ(r.SkippedLines, 8);
    const TRegKey& k = Key(r.Tree, "HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Setting");
    EXPECT_EQ(k.Values.size(), 5u);
    EXPECT_EQ(k.FindValue("interval")->Data, "9"); // a later line wins
    EXPECT_EQ(r.Tree.FindPath("HKEY_CURRENT_USER\\Gone"), nullptr);
    EXPECT_TRUE(ParseRegistryText("\"x\"=\"y\"\n").MissingHeader);
    EXPECT_FALSE(ParseRegistryText("").Damaged());
}

TEST(RegistryText, EveryTruncationReadsAsPartOfTheFile) {
    std::string text = kSample;
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        TRegParseResult r = ParseRegistryText(text.substr(0, cut));
        const TRegKey* k = r.Tree.FindPath("HKEY_CURRENT_USER\\Software\\Varenko's Software\\Lumora\\Setting");
        if (!k) continue;
        // A value that was read is either whole or a shorter text cut at the end of the file.
        for (const auto& v : k->Values) EXPECT_NE(v.Name, "") << cut;
        EXPECT_LE(k->Values.size(), 5u);
    }
}

TEST(RegistryText, ForeignForms) {
    // Wrapped byte lists, the version 5 header with UTF-16 text, a UTF-8 byte order mark.
    std::string v5 =
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\K]\r\n"
        "\"Wrapped\"=hex:01,02,\\\r\n"
        "  03,04\r\n"
        "\"Text\"=hex(2):25,00,41,00,00,00\r\n";
    TRegParseResult r = ParseRegistryText(v5);
    EXPECT_FALSE(r.Damaged());
    const TRegKey& k = Key(r.Tree, "HKEY_CURRENT_USER\\K");
    EXPECT_EQ(k.FindValue("Wrapped")->Data, "\x01\x02\x03\x04");
    EXPECT_EQ(k.FindValue("Text")->Data, "%A");

    // A whole file in UTF-16 with its byte order mark.
    std::string ascii = "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"a\"=\"b\"\n";
    std::string utf16 = "\xFF\xFE";
    for (char c : ascii) utf16 += std::string{c, '\0'};
    TRegParseResult r16 = ParseRegistryText(utf16);
    EXPECT_EQ(Key(r16.Tree, "HKEY_CURRENT_USER\\K").FindValue("a")->Data, "b");
}

class FileStore : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir.File("cfg/lumora/registry.reg");

    void Write(const std::string& section, const std::string& name, const std::string& value) {
        TRegIniFile ini("Software\\Lumora", std::make_shared<TFileRegistryStore>(path));
        ini.WriteString(section, name, value);
    }
    std::string Read(const std::string& section, const std::string& name) {
        TRegIniFile ini("Software\\Lumora", std::make_shared<TFileRegistryStore>(path));
        return ini.ReadString(section, name, "<missing>");
    }
};

TEST_F(FileStore, WritesWholeFileAndReadsItBack) {
    Write("Setting", "Folder", "/home/me/\"Pictures\"");
    std::string text = ReadFile(path);
    EXPECT_EQ(text.rfind("REGEDIT4\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Lumora\\Setting]\n\"Folder\"=\"/home/me/\\\"Pictures\\\"\"\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(Read("setting", "FOLDER"), "/home/me/\"Pictures\"");
    // No temporary file is left behind.
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.File("cfg/lumora"))) {
        std::string name = e.path().filename().string();
        EXPECT_TRUE(name == "registry.reg" || name == "registry.reg.lock") << name;
        ++files;
    }
    EXPECT_EQ(files, 2);
}

TEST_F(FileStore, ReadingDoesNotRewriteTheFile) {
    Write("Setting", "A", "1");
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    EXPECT_EQ(Read("Setting", "A"), "1");
    EXPECT_EQ(Read("Nowhere", "A"), "<missing>");
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(FileStore, DamagedFileGivesDefaultsAndIsKeptAside) {
    std::string damaged = "\x01\x02 not a registry\n[HKEY_CURRENT_USER\\Software\\Lumora\\S]\n\"A\"=\"ok\"\n\"B\"=\"cut";
    dir.WriteFile("cfg/lumora/registry.reg", damaged);
    EXPECT_EQ(Read("S", "A"), "ok");
    EXPECT_EQ(Read("S", "B"), "<missing>");
    EXPECT_EQ(ReadFile(path), damaged); // untouched until something is written
    Write("S", "C", "new");
    EXPECT_EQ(ReadFile(path + ".damaged"), damaged);
    EXPECT_EQ(Read("S", "A"), "ok");
    EXPECT_EQ(Read("S", "C"), "new");
}

TEST_F(FileStore, FailedWriteLeavesTheFileAlone) {
    Write("S", "A", "1");
    std::string before = ReadFile(path);
    // A registry whose folder cannot be made (a file stands in its way).
    dir.WriteFile("blocker", "x");
    auto blocked = std::make_shared<TFileRegistryStore>(dir.File("blocker/registry.reg"));
    {
        TRegIniFile ini("Software\\Lumora", blocked);
        ini.WriteString("S", "A", "2");
        EXPECT_THROW(ini.UpdateFile(), ERegistryException);
    }
    // A registry file that exists but cannot be read is never replaced.
    if (geteuid() != 0) {
        chmod(path.c_str(), 0);
        auto store = std::make_shared<TFileRegistryStore>(path);
        TRegIniFile ini("Software\\Lumora", store);
        ini.WriteString("S", "A", "2");
        EXPECT_THROW(ini.UpdateFile(), ERegistryException);
        chmod(path.c_str(), 0644);
    }
    EXPECT_EQ(ReadFile(path), before);
}

TEST_F(FileStore, SymbolicLinkStaysALink) {
    std::string real = dir.File("real.reg");
    std::filesystem::create_directories(dir.File("cfg/lumora"));
    std::filesystem::create_symlink(real, path);
    Write("S", "A", "1");
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_NE(ReadFile(real).find("\"A\"=\"1\""), std::string::npos);
}

TEST_F(FileStore, DefaultPathFollowsTheEnvironment) {
    const char* old = std::getenv("LUMORA_REGISTRY");
    std::string saved = old ? old : "";
    setenv("LUMORA_REGISTRY", "/x/y.reg", 1);
    EXPECT_EQ(DefaultRegistryPath(), "/x/y.reg");
    unsetenv("LUMORA_REGISTRY");
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string savedXdg = xdg ? xdg : "";
    setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(DefaultRegistryPath(), "/cfg/lumora/registry.reg");
    if (xdg) setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
    if (old) setenv("LUMORA_REGISTRY", saved.c_str(), 1);
}

TEST_F(FileStore, TwoProcessesSavingInterleavedLoseNoWrite) {
    constexpr int kSaves = 500;
    Write("Shared", "Start", "1");
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            auto store = std::make_shared<TFileRegistryStore>(path);
            for (int i = 0; i < kSaves; ++i) {
                try {
                    TRegIniFile ini("Software\\Lumora", store);
                    ini.WriteInteger("Shared", (p ? "B" : "A") + std::to_string(i), i);
                    ini.WriteInteger(p ? "OnlyB" : "OnlyA", "Last", i);
                    ini.UpdateFile();
                } catch (...) {
                    ++failures;
                }
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children[p] = pid;
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    TRegIniFile ini("Software\\Lumora", std::make_shared<TFileRegistryStore>(path));
    TStringList names;
    ini.ReadSection("Shared", names);
    EXPECT_EQ(names.Count(), 2 * kSaves + 1);
    for (int i = 0; i < kSaves; ++i) {
        EXPECT_EQ(ini.ReadInteger("Shared", "A" + std::to_string(i), -1), i);
        EXPECT_EQ(ini.ReadInteger("Shared", "B" + std::to_string(i), -1), i);
    }
    EXPECT_EQ(ini.ReadInteger("OnlyA", "Last", -1), kSaves - 1);
    EXPECT_EQ(ini.ReadInteger("OnlyB", "Last", -1), kSaves - 1);
}

} // namespace
} // namespace lumora
