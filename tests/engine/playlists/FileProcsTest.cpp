#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "engine/playlists/PlayLists.h"
#include "framework/Registry.h"
#include "platform/system/Random.h"
#include "tests/platform/shell/ShellLinkBuilder.h"
#include "tests/support/TempDir.h"

using namespace lumora;
using lumora::test::BuildShellLink;
using lumora::test::TLinkSpec;

namespace {

std::vector<std::string> Entries(const TStringList& list) {
    std::vector<std::string> v;
    for (int i = 0; i < list.Count(); ++i) v.push_back(list[i]);
    return v;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// A shortcut in `folder` whose relative path points at `target` (a path relative to `folder`).
void WriteLink(const test::TempDir& dir, const std::string& linkName, const std::string& relTarget) {
    TLinkSpec spec;
    spec.RelativePath = ".\\" + relTarget;
    dir.WriteFile(linkName, BuildShellLink(spec));
}

void Fill(TStringList& list, const std::vector<std::string>& items) {
    list.Clear();
    for (const auto& s : items) list.Add(s);
}

// The registry the group tests read, in memory.
struct RegistryScope {
    std::shared_ptr<TMemoryRegistryStore> store = std::make_shared<TMemoryRegistryStore>();
    RegistryScope() { SetRegistryStore(store); }
    ~RegistryScope() { SetRegistryStore(nullptr); }
};

const char* kKey = "Software\\Varenko's Software\\Lumora";

} // namespace

TEST(FileProcsScan, ListsPicturesByExtensionAndShortcutsToExistingPictures) {
    test::TempDir dir;
    std::string f = dir.Path() + "/p";
    dir.WriteFile("p/UPPER.JPG", "x");
    dir.WriteFile("p/lower.png", "x");
    dir.WriteFile("p/notes.txt", "x");
    dir.WriteFile("p/noext", "x");
    dir.WriteFile("p/.hidden.png", "x");
    dir.WriteFile("other/target.png", "x");
    dir.WriteFile("other/target.txt", "x");
    WriteLink(dir, "p/good.lnk", "..\\other\\target.png");
    WriteLink(dir, "p/UPPER.LNK", "..\\other\\target.png");
    WriteLink(dir, "p/missing.lnk", "..\\other\\gone.png");
    WriteLink(dir, "p/text.lnk", "..\\other\\target.txt");
    dir.WriteFile("p/broken.lnk", "garbage");
    dir.WriteFile("p/sub/deep.gif", "x");

    TFileProc flat(f, false, false, kPictureExtensions);
    EXPECT_EQ(flat.Folder, f + "/");
    EXPECT_EQ(Sorted(Entries(flat.Files)),
              Sorted({f + "/UPPER.JPG", f + "/lower.png", f + "/good.lnk", f + "/UPPER.LNK"}));

    TFileProc deep(f + "/", false, true, kPictureExtensions);
    EXPECT_EQ(deep.Folder, f + "/");
    EXPECT_EQ(Sorted(Entries(deep.Files)),
              Sorted({f + "/UPPER.JPG", f + "/lower.png", f + "/good.lnk", f + "/UPPER.LNK", f + "/sub/deep.gif"}));
}

TEST(FileProcsScan, ExtensionListIsNormalised) {
    TFileProc p("", false, false, "jpg;.Png;;x;.TGA");
    EXPECT_EQ(Entries(p.ExtList), (std::vector<std::string>{".JPG", ".PNG", ".TGA", ".X"}));
    EXPECT_TRUE(p.HasExt(".png"));
    EXPECT_FALSE(p.HasExt(".gif"));
    EXPECT_FALSE(p.HasExt(""));
}

TEST(FileProcsScan, PreviewStopsAfterFiftyOneFiles) {
    test::TempDir dir;
    for (int i = 0; i < 200; ++i) dir.WriteFile("p/" + std::to_string(i) + ".png", "x");
    for (int i = 0; i < 30; ++i) dir.WriteFile("p/s" + std::to_string(i % 3) + "/" + std::to_string(i) + ".bmp", "x");
    TFileProc flat(dir.File("p"), true, false, kPictureExtensions);
    EXPECT_EQ(flat.Files.Count(), 51);
    TFileProc deep(dir.File("p"), true, true, kPictureExtensions);
    EXPECT_EQ(deep.Files.Count(), 51);
    TFileProc all(dir.File("p"), false, true, kPictureExtensions);
    EXPECT_EQ(all.Files.Count(), 230);
    std::vector<std::string> files = Entries(all.Files);
    EXPECT_EQ(std::set<std::string>(files.begin(), files.end()).size(), 230u);
}

TEST(FileProcsScan, LinkLoopsAndMissingFoldersEndTheScan) {
    test::TempDir dir;
    dir.WriteFile("p/a.png", "x");
    dir.WriteFile("p/sub/b.png", "x");
    ASSERT_EQ(::symlink("..", dir.File("p/sub/up").c_str()), 0);
    ASSERT_EQ(::symlink(dir.File("p").c_str(), dir.File("p/sub/again").c_str()), 0);
    ASSERT_EQ(::symlink("b.png", dir.File("p/sub/c.png").c_str()), 0); // a link to a file counts
    TFileProc p(dir.File("p"), false, true, kPictureExtensions);
    EXPECT_EQ(Sorted(Entries(p.Files)), Sorted({dir.File("p/a.png"), dir.File("p/sub/b.png"), dir.File("p/sub/c.png")}));

    TFileProc missing(dir.File("nowhere"), false, true, kPictureExtensions);
    EXPECT_EQ(missing.Files.Count(), 0);
    EXPECT_FALSE(missing.NoFolder());
    TFileProc none("", false, true, kPictureExtensions);
    EXPECT_EQ(none.Files.Count(), 0); // no placeholder entry that could be played
    EXPECT_TRUE(none.NoFolder());
}

TEST(FileProcsRoutines, PathsAndShortcuts) {
    test::TempDir dir;
    dir.WriteFile("Pics/Mixed.PNG", "x");
    WriteLink(dir, "Pics/To.lnk", "Mixed.PNG");
    WriteLink(dir, "Pics/Gone.lnk", "Gone.png");
    dir.WriteFile("Pics/Junk.lnk", "junk");

    // The case of a path is never changed.
    EXPECT_EQ(ResolveLinkPath(dir.File("Pics/To.lnk")), dir.File("Pics/Mixed.PNG"));
    EXPECT_EQ(ResolveLinkPath(dir.File("Pics/Mixed.PNG")), dir.File("Pics/Mixed.PNG"));
    EXPECT_EQ(ResolveLinkPath(dir.File("Pics/Gone.lnk")), "");
    EXPECT_EQ(ResolveLinkPath(dir.File("Pics/Junk.lnk")), dir.File("Pics/Junk.lnk"));
    EXPECT_EQ(ResolveLinkPath(dir.File("Pics/none.png")), "");
    EXPECT_EQ(ResolveLinkPath(dir.File("Pics")), "");

    EXPECT_TRUE(FileExistsIn(dir.File("Pics"), "Mixed.PNG"));
    EXPECT_TRUE(FileExistsIn(dir.File("Pics/"), "To.lnk"));
    EXPECT_FALSE(FileExistsIn(dir.File("Pics"), "mixed.png"));
    EXPECT_FALSE(FileExistsIn(dir.File("Pics"), "Gone.lnk"));
    EXPECT_FALSE(FileExistsIn(dir.File("Pics"), "Junk.lnk"));
    EXPECT_FALSE(FileExistsIn(dir.Path(), "Pics")); // a folder is no file
    EXPECT_FALSE(FileExistsIn("", "Mixed.PNG"));

    EXPECT_EQ(RelativePath("/a/b/", "/a/b/c/d.png"), "c/d.png");
    EXPECT_EQ(RelativePath("/a/b", "/a/b/c/d.png"), "c/d.png");
    EXPECT_EQ(RelativePath("/a/b", "/a/b"), "");
    EXPECT_EQ(RelativePath("/a/b/c/d/e", "/x"), "");
    EXPECT_EQ(RelativePath("", "x.png"), "x.png");

    EXPECT_EQ(ToOrderMode(0), 0);
    EXPECT_EQ(ToOrderMode(4), 4);
    EXPECT_EQ(ToOrderMode(5), 5);
    EXPECT_EQ(ToOrderMode(-1), 5);
    EXPECT_EQ(ToOrderMode(99), 5);
    EXPECT_TRUE(IntToBool(-3));
    EXPECT_FALSE(IntToBool(0));

    std::string s("abc\0def", 7);
    CutAtNul(s);
    EXPECT_EQ(s, "abc");
}

TEST(FileProcsOrder, SixModesBothDirections) {
    const std::vector<std::string> scan{"/z/b.png", "/a/c.png", "/m/a.png", "/a/B.png"};
    TStringList list;
    auto order = [&](TOrderMode mode, bool desc) {
        Fill(list, scan);
        ApplyOrder(list, mode, desc);
        return Entries(list);
    };
    // Ordinal comparison: upper case before lower case.
    EXPECT_EQ(order(0, false), (std::vector<std::string>{"/a/B.png", "/m/a.png", "/z/b.png", "/a/c.png"}));
    EXPECT_EQ(order(0, true), (std::vector<std::string>{"/a/c.png", "/z/b.png", "/m/a.png", "/a/B.png"}));
    EXPECT_EQ(order(5, false), (std::vector<std::string>{"/a/B.png", "/a/c.png", "/m/a.png", "/z/b.png"}));
    EXPECT_EQ(order(5, true), (std::vector<std::string>{"/z/b.png", "/m/a.png", "/a/c.png", "/a/B.png"}));
    EXPECT_EQ(order(4, false), scan);
    EXPECT_EQ(order(4, true), (std::vector<std::string>{"/a/B.png", "/m/a.png", "/a/c.png", "/z/b.png"}));
    EXPECT_EQ(order(1, false), scan);
    EXPECT_EQ(order(1, true), scan);
    for (TOrderMode m : {TOrderMode{2}, TOrderMode{3}}) {
        // The descending flag does not change a shuffle: the same draws give the same order.
        RandSeed(42);
        auto up = order(m, false);
        RandSeed(42);
        auto down = order(m, true);
        EXPECT_EQ(up, down);
        EXPECT_EQ(Sorted(up), Sorted(scan));
    }
}

TEST(FileProcsOrder, ObjectsMoveWithTheirEntries) {
    TStringList list;
    list.SetOwnsObjects(true);
    for (int i = 0; i < 20; ++i) {
        auto* tag = new TStringList;
        tag->Add("tag" + std::to_string(i));
        list.AddObject("/f/" + std::string(1, char('a' + (i * 7) % 20)) + ".png", tag);
    }
    std::map<std::string, std::string> pairs;
    for (int i = 0; i < list.Count(); ++i) pairs[list[i]] = (*static_cast<TStringList*>(list.Objects(i)))[0];
    for (TOrderMode m = 0; m <= 5; ++m)
        for (bool desc : {false, true}) {
            ApplyOrder(list, m, desc);
            for (int i = 0; i < list.Count(); ++i)
                ASSERT_EQ(pairs[list[i]], (*static_cast<TStringList*>(list.Objects(i)))[0]) << int(m) << desc;
        }
}

TEST(FileProcsOrder, ShuffleIsUniform) {
    RandSeed(1);
    std::map<std::string, int> counts;
    TStringList list;
    const int rounds = 60000;
    for (int r = 0; r < rounds; ++r) {
        Fill(list, {"a", "b", "c"});
        ShuffleList(list);
        counts[list[0] + list[1] + list[2]]++;
    }
    ASSERT_EQ(counts.size(), 6u);
    for (auto& [perm, n] : counts) EXPECT_NEAR(n, rounds / 6, rounds / 6 / 20) << perm;
}

TEST(FileProcsManage, PicturesInOrderWithWrapAndCaption) {
    test::TempDir dir;
    dir.WriteFile("p/b.png", "x");
    dir.WriteFile("p/sub/a.png", "x");
    dir.WriteFile("p/c.jpg", "x");
    TFileManage m(false, false, false, true, kKey, false, "", dir.File("p"));
    m.SetOrder(ToOrderMode(0), false, 0, false);
    m.InitIndexes();
    std::vector<std::string> shown, captions;
    for (int i = 0; i < 4; ++i) {
        std::string name, caption;
        ASSERT_TRUE(m.CurrentPicture(name));
        m.CurrentCaption(caption);
        shown.push_back(name);
        captions.push_back(caption);
        m.AdvancePicture();
    }
    EXPECT_EQ(shown, (std::vector<std::string>{dir.File("p/sub/a.png"), dir.File("p/b.png"), dir.File("p/c.jpg"),
                                               dir.File("p/sub/a.png")}));
    EXPECT_EQ(captions, (std::vector<std::string>{"sub/a.png", "b.png", "c.jpg", "sub/a.png"}));
    EXPECT_EQ(m.TrackCount(), 0);
    std::string track;
    m.NextTrack(track);
    EXPECT_EQ(track, "");
}

TEST(FileProcsManage, ModeThreeReshufflesAtEachWrap) {
    test::TempDir dir;
    for (int i = 0; i < 10; ++i) dir.WriteFile("p/" + std::to_string(i) + ".png", "x");
    RandSeed(5);
    TFileManage m(false, false, false, false, kKey, false, "", dir.File("p"));
    m.SetOrder(3, false, 4, false);
    m.InitIndexes();
    std::vector<std::vector<std::string>> rounds(3);
    for (auto& round : rounds)
        for (int i = 0; i < 10; ++i) {
            std::string name;
            ASSERT_TRUE(m.CurrentPicture(name));
            round.push_back(name);
            m.AdvancePicture();
        }
    EXPECT_EQ(Sorted(rounds[0]), Sorted(rounds[1]));
    EXPECT_EQ(Sorted(rounds[1]), Sorted(rounds[2]));
    EXPECT_NE(rounds[0], rounds[1]);
    EXPECT_NE(rounds[1], rounds[2]);
}

TEST(FileProcsManage, RandomPickOnOneEntryStaysAtZero) {
    test::TempDir dir;
    dir.WriteFile("p/only.png", "x");
    TFileManage m(false, false, false, false, kKey, false, "", dir.File("p"));
    m.SetOrder(1, true, 1, true);
    m.InitIndexes();
    for (int i = 0; i < 5; ++i) {
        std::string name;
        ASSERT_TRUE(m.CurrentPicture(name));
        EXPECT_EQ(name, dir.File("p/only.png"));
        EXPECT_EQ(m.PictureIndex, 0);
        m.AdvancePicture();
    }
}

TEST(FileProcsManage, RandomPickStaysInRangeAndRarelyRepeats) {
    test::TempDir dir;
    for (int i = 0; i < 2; ++i) dir.WriteFile("p/" + std::to_string(i) + ".png", "x");
    RandSeed(9);
    TFileManage m(false, false, false, false, kKey, false, "", dir.File("p"));
    m.SetOrder(1, false, 4, false);
    m.InitIndexes();
    int repeats = 0;
    for (int i = 0; i < 1000; ++i) {
        int last = m.PictureIndex;
        m.AdvancePicture();
        ASSERT_GE(m.PictureIndex, 0);
        ASSERT_LT(m.PictureIndex, 2);
        repeats += m.PictureIndex == last;
    }
    // A repeat needs five equal draws in a row: about 1 in 32 rather than 1 in 2.
    EXPECT_GT(repeats, 10);
    EXPECT_LT(repeats, 60);
}

TEST(FileProcsManage, NoPictureFolderAndEmptyLists) {
    TFileManage none(false, false, false, false, kKey, false, "", "");
    none.SetOrder(3, false, 4, false);
    none.InitIndexes();
    std::string name = "x";
    EXPECT_TRUE(none.CurrentPicture(name));
    EXPECT_EQ(name, "");
    none.CurrentCaption(name);
    EXPECT_EQ(name, "");

    test::TempDir dir;
    dir.WriteFile("p/readme.txt", "x");
    TFileManage empty(true, false, false, false, kKey, false, "", dir.File("p"));
    empty.SetOrder(3, false, 3, false);
    empty.InitIndexes();
    EXPECT_FALSE(empty.CurrentPicture(name));
    empty.AdvancePicture();
    EXPECT_FALSE(empty.CurrentPicture(name));
    // Music on but no sound folder: no tracks, and no placeholder to play.
    EXPECT_EQ(empty.TrackCount(), 0);
    empty.NextTrack(name);
    EXPECT_EQ(name, "");
    empty.CurrentTrack(name);
    EXPECT_EQ(name, "");
}

TEST(FileProcsManage, TracksStepAndWrap) {
    test::TempDir dir;
    dir.WriteFile("s/1.mp3", "x");
    dir.WriteFile("s/2.OGG", "x");
    dir.WriteFile("s/x/3.mid", "x");
    dir.WriteFile("s/4.rmi", "x");
    dir.WriteFile("s/5.flac", "x");
    dir.WriteFile("p/a.png", "x");
    TFileManage m(true, false, true, false, kKey, false, dir.File("s"), dir.File("p"));
    m.SetOrder(0, false, 5, true);
    m.InitIndexes();
    ASSERT_EQ(m.TrackCount(), 4);
    std::string t;
    m.CurrentTrack(t);
    EXPECT_EQ(t, dir.File("s/x/3.mid"));
    std::vector<std::string> next;
    for (int i = 0; i < 4; ++i) {
        m.NextTrack(t);
        next.push_back(t);
    }
    EXPECT_EQ(next, (std::vector<std::string>{dir.File("s/4.rmi"), dir.File("s/2.OGG"), dir.File("s/1.mp3"),
                                              dir.File("s/x/3.mid")}));

    TFileManage quiet(false, false, true, false, kKey, false, dir.File("s"), dir.File("p"));
    EXPECT_EQ(quiet.TrackCount(), 0);
    EXPECT_EQ(quiet.Tracks, nullptr);
}

TEST(FileProcsGroups, GroupsCarryTheirPicturesInOrder) {
    RegistryScope scope;
    test::TempDir dir;
    std::string snd = dir.File("s"), pic = dir.File("p");
    dir.WriteFile("s/one.mp3", "x");
    dir.WriteFile("s/two.wav", "x");
    dir.WriteFile("s/three.ogg", "x");
    dir.WriteFile("s/target.mid", "x");
    WriteLink(dir, "s/four.lnk", "target.mid");
    for (const char* p : {"a.png", "b.png", "c.png", "d.png", "e.png", "f.png"}) dir.WriteFile(std::string("p/") + p, "x");
    {
        TRegIniFile reg(kKey);
        reg.WriteString("GroupDef", "GP0", "one.mp3");
        reg.WriteString("GP0", "GP0-0", "c.png");
        reg.WriteString("GP0", "GP0-1", "missing.png");
        reg.WriteString("GP0", "GP0-2", "a.png");
        reg.WriteString("GroupDef", "GP1", "gone.mp3"); // track missing: dropped with its pictures
        reg.WriteString("GP1", "GP1-0", "b.png");
        reg.WriteString("GroupDef", "GP2", "two.wav"); // no picture exists: dropped
        reg.WriteString("GP2", "GP2-0", "zz.png");
        reg.WriteString("GroupDef", "GP3", "three.ogg");
        reg.WriteString("GP3", "GP3-0", "f.png");
        reg.WriteString("GP3", "GP3-1", "e.png");
        reg.WriteString("GroupDef", "GP4", "four.lnk");
        reg.WriteString("GP4", "x", "d.png");
        reg.WriteString("GP5", "GP5-0", "b.png");
    }
    {
        // Hand-edited values of another type count as missing: a double-word track drops its
        // group, a double-word picture is left out.
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(std::string(kKey) + "\\GroupDef", false));
        reg.WriteInteger("GP5", 1);
        reg.CloseKey();
        ASSERT_TRUE(reg.OpenKey(std::string(kKey) + "\\GP0", false));
        reg.WriteInteger("GP0-3", 2);
        reg.CloseKey();
    }

    TFileGrpProc relative(snd, false, kKey, pic);
    ASSERT_EQ(Entries(relative.Groups), (std::vector<std::string>{"one.mp3", "three.ogg", "four.lnk"}));
    EXPECT_EQ(Entries(*relative.PicturesOf(0)), (std::vector<std::string>{"c.png", "a.png"}));
    EXPECT_EQ(Entries(*relative.PicturesOf(1)), (std::vector<std::string>{"f.png", "e.png"}));

    TFileManage m(true, false, false, false, kKey, true, snd, pic);
    ASSERT_TRUE(m.GroupMode);
    EXPECT_EQ(m.Pictures, nullptr);
    m.SetOrder(4, true, 4, true); // every group keeps its own pictures, each list reversed
    m.InitIndexes();
    ASSERT_EQ(m.TrackCount(), 3);
    std::string track, picture, caption;
    m.CurrentTrack(track);
    EXPECT_EQ(track, snd + "/four.lnk");
    ASSERT_TRUE(m.CurrentPicture(picture));
    EXPECT_EQ(picture, pic + "/d.png");

    m.NextTrack(track);
    EXPECT_EQ(track, snd + "/three.ogg");
    std::vector<std::string> shown;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(m.CurrentPicture(picture));
        shown.push_back(picture);
        m.AdvancePicture();
    }
    EXPECT_EQ(shown, (std::vector<std::string>{pic + "/e.png", pic + "/f.png", pic + "/e.png"}));
    m.CurrentCaption(caption);
    EXPECT_EQ(caption, "f.png");

    m.NextTrack(track); // a new group starts at its first picture
    EXPECT_EQ(track, snd + "/one.mp3");
    EXPECT_EQ(m.PictureIndex, 0);
    ASSERT_TRUE(m.CurrentPicture(picture));
    EXPECT_EQ(picture, pic + "/a.png");
    m.NextTrack(track);
    EXPECT_EQ(track, snd + "/four.lnk");
}

TEST(FileProcsGroups, NoGroupsLeftMeansNoTrackAndNoPicture) {
    RegistryScope scope;
    test::TempDir dir;
    {
        TRegIniFile reg(kKey);
        reg.WriteString("GroupDef", "GP0", "gone.mp3");
    }
    TFileManage m(true, false, false, false, kKey, true, dir.Path(), dir.Path());
    m.SetOrder(1, false, 1, false);
    m.InitIndexes();
    EXPECT_EQ(m.TrackCount(), 0);
    std::string name;
    EXPECT_FALSE(m.CurrentPicture(name));
    m.NextTrack(name);
    EXPECT_EQ(name, "");
    m.AdvancePicture();
    m.CurrentCaption(name);
    EXPECT_EQ(name, "");
}
