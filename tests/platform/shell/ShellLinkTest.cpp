#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include <gtest/gtest.h>

#include "platform/shell/ShellLink.h"
#include "tests/platform/shell/ShellLinkBuilder.h"
#include "tests/support/TempDir.h"

using namespace lumora;
using lumora::test::BuildShellLink;
using lumora::test::TLinkSpec;

namespace {

bool Parse(const std::string& bytes, TShellLinkData& link) {
    return ParseShellLink(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), link);
}

} // namespace

TEST(ShellLinkParse, ReadsStringDataAndLinkInfo) {
    TLinkSpec spec;
    spec.Name = "My picture";
    spec.RelativePath = "..\\pics\\a.png";
    spec.BasePath = "C:\\Users\\me\\pics";
    spec.Suffix = "a.png";
    spec.IdList = true;
    TShellLinkData link;
    ASSERT_TRUE(Parse(BuildShellLink(spec), link));
    EXPECT_EQ(link.Name, "My picture");
    EXPECT_EQ(link.RelativePath, "..\\pics\\a.png");
    EXPECT_EQ(link.LocalBasePath, "C:\\Users\\me\\pics\\a.png");
    EXPECT_EQ(link.FileAttributes, 0x20u);
}

TEST(ShellLinkParse, DecodesUnicodeAndEightBitText) {
    TLinkSpec spec;
    spec.RelativePath = ".\\写真\\🌸.png"; // a character outside the basic plane takes two units
    spec.BasePath = "C:\\写真\\🌸.png";
    spec.UnicodeBase = true;
    TShellLinkData link;
    ASSERT_TRUE(Parse(BuildShellLink(spec), link));
    EXPECT_EQ(link.RelativePath, ".\\写真\\🌸.png");
    EXPECT_EQ(link.LocalBasePath, "C:\\写真\\🌸.png");

    // 8-bit text reads as other 8-bit names do: code page 932 where it is Japanese.
    TLinkSpec ansi;
    ansi.Unicode = false;
    ansi.RelativePath = ".\\\x8E\xCA\x90\x5E.png"; // 写真 in code page 932
    ASSERT_TRUE(Parse(BuildShellLink(ansi), link));
    EXPECT_EQ(link.RelativePath, ".\\写真.png");
    ansi.RelativePath = ".\\caf\xE9.png"; // not code page 932 either: Windows-1252
    ASSERT_TRUE(Parse(BuildShellLink(ansi), link));
    EXPECT_EQ(link.RelativePath, ".\\café.png");
}

TEST(ShellLinkParse, ForcedNoLinkInfoIgnoresTheBasePath) {
    TLinkSpec spec;
    spec.BasePath = "C:\\x.png";
    spec.RelativePath = "x.png";
    spec.ForceNoLinkInfo = true;
    TShellLinkData link;
    ASSERT_TRUE(Parse(BuildShellLink(spec), link));
    EXPECT_TRUE(link.LocalBasePath.empty());
    EXPECT_EQ(link.RelativePath, "x.png");
}

TEST(ShellLinkParse, RejectsOtherFilesAndEveryTruncation) {
    TLinkSpec spec;
    spec.Name = "n";
    spec.RelativePath = "..\\a.png";
    spec.BasePath = "C:\\a.png";
    spec.Suffix = "b";
    spec.UnicodeBase = true;
    spec.IdList = true;
    std::string full = BuildShellLink(spec);
    TShellLinkData link;
    for (size_t n = 0; n < full.size(); ++n) EXPECT_FALSE(Parse(full.substr(0, n), link)) << n;
    EXPECT_TRUE(Parse(full, link));

    std::string badClsid = full;
    badClsid[5] ^= 1;
    EXPECT_FALSE(Parse(badClsid, link));
    std::string badSize = full;
    badSize[0] = 0x4D;
    EXPECT_FALSE(Parse(badSize, link));
    EXPECT_FALSE(ParseShellLink(nullptr, 0, link));

    // A link info whose offsets point outside it is refused, not followed.
    std::string badOffset = full;
    size_t infoStart = 0x4C + 2 + 8; // header, ID list size, ID list
    badOffset[infoStart + 16] = static_cast<char>(0xF0);
    badOffset[infoStart + 28] = static_cast<char>(0xF0);
    EXPECT_FALSE(Parse(badOffset, link));
}

TEST(ShellLinkCandidates, MapsWindowsPathsOntoTheFileSystem) {
    EXPECT_EQ(WindowsPathToLocal("C:\\Pictures\\a.png"), "/Pictures/a.png");
    EXPECT_EQ(WindowsPathToLocal("d:x.png"), "/x.png");
    EXPECT_EQ(WindowsPathToLocal("sub\\x.png"), "sub/x.png");
    EXPECT_EQ(WindowsPathToLocal("/home/me/x.png"), "/home/me/x.png");
    EXPECT_EQ(WindowsPathToLocal("\\\\server\\share\\x.png"), "");

    TShellLinkData link;
    link.RelativePath = "..\\pics\\.\\a.png";
    link.LocalBasePath = "C:\\pics\\a.png";
    EXPECT_EQ(ShellLinkCandidates("/home/me/links/a.lnk", link),
              (std::vector<std::string>{"/home/me/pics/a.png", "/pics/a.png"}));
    EXPECT_EQ(ShellLinkCandidates("a.lnk", link), (std::vector<std::string>{"../pics/a.png", "/pics/a.png"}));

    // Targets longer than a Windows path may be are refused rather than cut short.
    link.RelativePath = std::string(kMaxLinkTarget + 1, 'x');
    link.LocalBasePath = "C:\\" + std::string(kMaxLinkTarget - 3, 'y');
    auto c = ShellLinkCandidates("/l/a.lnk", link);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0], "/" + std::string(kMaxLinkTarget - 3, 'y'));

    link.RelativePath = "..\\..\\..";
    link.LocalBasePath = "\\\\server\\x.png";
    EXPECT_TRUE(ShellLinkCandidates("/a.lnk", link).empty());
}

TEST(ShellLinkResolve, RelativePathFirstThenBasePath) {
    test::TempDir dir;
    dir.WriteFile("pics/a.png", "png");
    dir.WriteFile("other/b.png", "png");
    TLinkSpec spec;
    spec.RelativePath = "..\\pics\\a.png";
    spec.BasePath = dir.Path() + "/other/b.png"; // a base path already in this system's form
    dir.WriteFile("links/a.lnk", BuildShellLink(spec));

    std::string target;
    ASSERT_TRUE(ResolveShellLink(dir.File("links/a.lnk"), target));
    EXPECT_EQ(target, dir.Path() + "/pics/a.png");

    spec.RelativePath = "..\\pics\\gone.png";
    dir.WriteFile("links/b.lnk", BuildShellLink(spec));
    ASSERT_TRUE(ResolveShellLink(dir.File("links/b.lnk"), target));
    EXPECT_EQ(target, dir.Path() + "/other/b.png");

    // Nothing exists: the first candidate is reported, so the caller can see the target is missing.
    spec.BasePath = "C:\\nowhere\\c.png";
    dir.WriteFile("links/c.lnk", BuildShellLink(spec));
    ASSERT_TRUE(ResolveShellLink(dir.File("links/c.lnk"), target));
    EXPECT_EQ(target, dir.Path() + "/pics/gone.png");

    dir.WriteFile("links/junk.lnk", "not a shortcut at all");
    EXPECT_FALSE(ResolveShellLink(dir.File("links/junk.lnk"), target));
    EXPECT_FALSE(ResolveShellLink(dir.File("links/missing.lnk"), target));
    EXPECT_FALSE(ResolveShellLink(dir.Path(), target)); // a folder is no shortcut
    EXPECT_TRUE(target.empty());
}

TEST(FolderReader, ReportsKindsSkipsHiddenAndFollowsLinks) {
    test::TempDir dir;
    dir.WriteFile("f/a.png", "x");
    dir.WriteFile("f/.hidden.png", "x");
    dir.WriteFile("f/sub/b.png", "x");
    ASSERT_EQ(::symlink("a.png", dir.File("f/link.png").c_str()), 0);
    ASSERT_EQ(::symlink("missing.png", dir.File("f/dangling.png").c_str()), 0);
    ASSERT_EQ(::symlink("sub", dir.File("f/sublink").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.File("f/pipe").c_str(), 0600), 0);

    TFolderReader reader;
    ASSERT_TRUE(reader.Open(dir.File("f")));
    std::map<std::string, TEntryKind> got;
    for (TFolderEntry e; reader.Next(e);) got[e.Name] = e.Kind;
    std::map<std::string, TEntryKind> want{{"a.png", TEntryKind::File},         {"sub", TEntryKind::Folder},
                                           {"link.png", TEntryKind::File},      {"sublink", TEntryKind::Folder},
                                           {"dangling.png", TEntryKind::Other}, {"pipe", TEntryKind::Other}};
    EXPECT_EQ(got, want);

    // A folder reached through a link is the same folder.
    TFolderReader sub, viaLink;
    ASSERT_TRUE(sub.Open(dir.File("f/sub/")));
    ASSERT_TRUE(viaLink.Open(dir.File("f/sublink")));
    EXPECT_EQ(sub.Id(), viaLink.Id());
    EXPECT_FALSE(sub.Id() == reader.Id());

    TFolderReader missing;
    EXPECT_FALSE(missing.Open(dir.File("nope")));
    TFolderEntry e;
    EXPECT_FALSE(missing.Next(e));
}
