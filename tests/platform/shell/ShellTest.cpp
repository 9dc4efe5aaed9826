#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QMenu>
#include <QMimeData>

#include <gtest/gtest.h>

#include "framework/Forms.h"
#include "platform/shell/Shell.h"
#include "tests/platform/shell/ShellLinkBuilder.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;

TItemIdList Items(const std::vector<std::string>& items) {
    TItemIdList id;
    EXPECT_TRUE(TItemIdList::FromItems(items, id));
    return id;
}

std::vector<std::string> Names(const TShellFolder& folder, const std::vector<TItemIdList>& items) {
    std::vector<std::string> names;
    for (const auto& item : items) names.push_back(folder.DisplayNameOf(item, SHGDN_INFOLDER));
    return names;
}

TEST(ItemIdList, LayoutSplitAndJoin) {
    TItemIdList id = Items({"/base", "ab", "c"});
    ASSERT_EQ(id.Count(), 3);
    // Each item: a 16-bit count including itself, then its bytes; a zero word ends the list.
    ASSERT_EQ(id.Size(), (2u + 5) + (2 + 2) + (2 + 1) + 2);
    EXPECT_EQ(id.Data()[0], 7);
    EXPECT_EQ(id.Data()[1], 0);
    EXPECT_EQ(id.Data()[id.Size() - 1], 0);
    EXPECT_EQ(id.ItemData(1), "ab");
    EXPECT_EQ(id.ItemData(3), "");
    EXPECT_EQ(id.First(), Items({"/base"}));
    EXPECT_EQ(id.Last(), Items({"c"}));
    EXPECT_EQ(id.Parent(), Items({"/base", "ab"}));
    EXPECT_EQ(TItemIdList::Concat(Items({"/base"}), Items({"ab", "c"})), id);
    EXPECT_TRUE(TItemIdList().Parent().Empty());

    std::vector<TItemIdList> two = id.Split(2);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1], Items({"ab"}));
    // A joined list shorter than the count asked for gives what it holds.
    EXPECT_EQ(id.Split(10).size(), 3u);
    EXPECT_EQ(TItemIdList::Join(id.Split(3)), id);

    EXPECT_FALSE(TItemIdList::FromItems({std::string(70000, 'x')}, id));
}

TEST(ItemIdList, FromBytesRejectsBrokenLists) {
    TItemIdList id = Items({"one", "two"});
    TItemIdList copy;
    ASSERT_TRUE(TItemIdList::FromBytes(id.Data(), id.Size(), copy));
    EXPECT_EQ(copy, id);
    // Bytes after the terminator are not part of the list.
    std::vector<uint8_t> longer(id.Data(), id.Data() + id.Size());
    longer.push_back(0xEE);
    ASSERT_TRUE(TItemIdList::FromBytes(longer.data(), longer.size(), copy));
    EXPECT_EQ(copy, id);

    const uint8_t countTooSmall[] = {1, 0, 0, 0};
    const uint8_t pastEnd[] = {9, 0, 'a', 'b', 0, 0};
    const uint8_t noTerminator[] = {3, 0, 'a'};
    const uint8_t oddByte[] = {0};
    EXPECT_FALSE(TItemIdList::FromBytes(countTooSmall, sizeof countTooSmall, copy));
    EXPECT_FALSE(TItemIdList::FromBytes(pastEnd, sizeof pastEnd, copy));
    EXPECT_FALSE(TItemIdList::FromBytes(noTerminator, sizeof noTerminator, copy));
    EXPECT_FALSE(TItemIdList::FromBytes(oddByte, sizeof oddByte, copy));
    EXPECT_FALSE(TItemIdList::FromBytes(nullptr, 4, copy));
}

class ShellNamespace : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string root, inner;
    void SetUp() override {
        root = dir.File("root");
        inner = dir.File("root/music");
        dir.WriteFile("root/pics/b.jpg", "b");
        dir.WriteFile("root/pics/A.jpg", "a");
        dir.WriteFile("root/pics/.hidden.jpg", "h");
        dir.WriteFile("root/pics/sub/c.png", "c");
        dir.WriteFile("root/Zed/x.txt", "x");
        dir.WriteFile("root/music/song.mp3", "m");
        fs::create_directories(dir.File("root/.dotfolder"));
        SetShellPlaces({{"Root", root}, {"Music", inner}});
    }
    void TearDown() override { SetShellPlaces({}); }
};

TEST_F(ShellNamespace, PathsParseThroughTheClosestPlace) {
    TItemIdList id;
    ASSERT_TRUE(ParseDisplayName(root + "/pics/sub", id));
    EXPECT_EQ(id, Items({root, "pics", "sub"}));
    EXPECT_EQ(GetPathFromIdList(id), root + "/pics/sub");
    // The music place lies inside the root place: its own place names it.
    ASSERT_TRUE(ParseDisplayName(inner + "/song.mp3", id));
    EXPECT_EQ(id, Items({inner, "song.mp3"}));
    ASSERT_TRUE(ParseDisplayName(root + "//pics/./sub/", id));
    EXPECT_EQ(id, Items({root, "pics", "sub"}));

    EXPECT_FALSE(ParseDisplayName(root + "/missing", id));
    EXPECT_FALSE(ParseDisplayName("pics/sub", id));
    EXPECT_FALSE(ParseDisplayName("/usr", id)); // under no place
    // A list whose items are no plain names names no path.
    EXPECT_EQ(GetPathFromIdList(Items({root, ".."})), "");
    EXPECT_EQ(GetPathFromIdList(Items({root, "a/b"})), "");
    EXPECT_EQ(GetPathFromIdList(Items({"relative"})), "");
    EXPECT_EQ(GetPathFromIdList(TItemIdList()), "");
}

TEST_F(ShellNamespace, FoldersEnumerateNameAndCompare) {
    TShellFolder& desktop = DesktopFolder();
    std::vector<TItemIdList> items;
    ASSERT_TRUE(desktop.EnumObjects(SHCONTF_FOLDERS, items));
    EXPECT_EQ(Names(desktop, items), (std::vector<std::string>{"Root", "Music"}));
    EXPECT_EQ(desktop.DisplayNameOf(TItemIdList(), SHGDN_INFOLDER), kDesktopName);
    EXPECT_EQ(desktop.DisplayNameOf(items[0], SHGDN_FORPARSING), root);
    EXPECT_LT(desktop.CompareIds(items[0], items[1]), 0);

    std::unique_ptr<TShellFolder> pics = desktop.BindToObject(Items({root, "pics"}));
    ASSERT_TRUE(pics);
    EXPECT_EQ(pics->Path(), root + "/pics");
    ASSERT_TRUE(pics->EnumObjects(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items));
    pics->SortIds(items);
    // Folders first, then names without regard to case; names starting with "." only when asked for.
    EXPECT_EQ(Names(*pics, items), (std::vector<std::string>{"sub", "A.jpg", "b.jpg"}));
    ASSERT_TRUE(pics->EnumObjects(SHCONTF_NONFOLDERS, items));
    EXPECT_EQ(items.size(), 2u);
    ASSERT_TRUE(pics->EnumObjects(SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN, items));
    pics->SortIds(items);
    EXPECT_EQ(Names(*pics, items), (std::vector<std::string>{".hidden.jpg", "A.jpg", "b.jpg"}));
    EXPECT_LT(pics->CompareIds(items[1], items[2]), 0);
    EXPECT_EQ(pics->CompareIds(Items({"b.jpg"}), Items({"b.jpg"})), 0);
    EXPECT_NE(pics->CompareIds(Items({"B.jpg"}), Items({"b.jpg"})), 0);

    EXPECT_FALSE(desktop.BindToObject(Items({root, "pics", "A.jpg"})));
    EXPECT_FALSE(desktop.BindToObject(TItemIdList()));
    TShellFolder gone(Items({root, "gone"}));
    EXPECT_FALSE(gone.EnumObjects(SHCONTF_FOLDERS, items));
}

TEST_F(ShellNamespace, AttributesTellFoldersFilesLinksAndPlaces) {
    dir.WriteFile("root/pics/to-a.lnk", test::BuildShellLink({".\\A.jpg", "", "", ""}));
    TShellFolder& desktop = DesktopFolder();
    uint32_t all = 0xFFFFFFFFu;
    uint32_t place = desktop.GetAttributesOf(Items({root}), all);
    EXPECT_TRUE(place & SFGAO_FOLDER);
    EXPECT_TRUE(place & SFGAO_HASSUBFOLDER);
    EXPECT_FALSE(place & SFGAO_CANDELETE); // places are not files to delete or rename
    EXPECT_FALSE(place & SFGAO_CANRENAME);
    EXPECT_FALSE(desktop.GetAttributesOf(TItemIdList(), all) & SFGAO_FILESYSTEM);

    TShellFolder pics(Items({root, "pics"}));
    EXPECT_TRUE(pics.GetAttributesOf(Items({"sub"}), all) & SFGAO_FOLDER);
    EXPECT_FALSE(pics.GetAttributesOf(Items({"sub"}), all) & SFGAO_HASSUBFOLDER);
    uint32_t file = pics.GetAttributesOf(Items({"A.jpg"}), all);
    EXPECT_EQ(file & (SFGAO_FOLDER | SFGAO_LINK), 0u);
    EXPECT_EQ(file & (SFGAO_CANCOPY | SFGAO_CANDELETE | SFGAO_CANLINK), SFGAO_CANCOPY | SFGAO_CANDELETE | SFGAO_CANLINK);
    EXPECT_TRUE(pics.GetAttributesOf(Items({"to-a.lnk"}), all) & SFGAO_LINK);
    EXPECT_EQ(pics.GetAttributesOf(Items({"missing"}), all), 0u);
    // Only the bits asked for come back.
    EXPECT_EQ(pics.GetAttributesOf(Items({"sub"}), SFGAO_LINK), 0u);

    EXPECT_EQ(ShellTypeName(Items({root, "pics"})), "ファイル フォルダ");
    EXPECT_EQ(ShellTypeName(Items({root, "pics", "to-a.lnk"})), "ショートカット");
    EXPECT_FALSE(ShellTypeName(Items({root, "pics", "A.jpg"})).empty());
    int64_t size = -1, modified = 0;
    ASSERT_TRUE(ShellFindData(Items({root, "pics", "A.jpg"}), size, modified));
    EXPECT_EQ(size, 1);
    EXPECT_GT(modified, 0);
    EXPECT_FALSE(ShellFindData(Items({root, "nothing"}), size, modified));
}

TEST_F(ShellNamespace, RenameNeverReplacesAnotherItem) {
    TShellFolder pics(Items({root, "pics"}));
    TItemIdList renamed;
    ASSERT_TRUE(pics.SetNameOf(Items({"A.jpg"}), "new name.jpg", renamed));
    EXPECT_EQ(renamed, Items({"new name.jpg"}));
    EXPECT_EQ(test::ReadFile(root + "/pics/new name.jpg"), "a");

    // Taking the name of an existing file would destroy it: refused, both files unchanged.
    EXPECT_FALSE(pics.SetNameOf(Items({"new name.jpg"}), "b.jpg", renamed));
    EXPECT_EQ(test::ReadFile(root + "/pics/b.jpg"), "b");
    EXPECT_EQ(test::ReadFile(root + "/pics/new name.jpg"), "a");
    for (const char* bad : {"", ".", "..", "a/b"}) EXPECT_FALSE(pics.SetNameOf(Items({"b.jpg"}), bad, renamed)) << bad;
    EXPECT_FALSE(pics.SetNameOf(Items({"b.jpg"}), std::string(256, 'n'), renamed));
    EXPECT_FALSE(pics.SetNameOf(Items({"missing.jpg"}), "other.jpg", renamed));
    EXPECT_FALSE(DesktopFolder().SetNameOf(Items({root}), "elsewhere", renamed));
    EXPECT_TRUE(fs::exists(root + "/pics/b.jpg"));
}

class ShellFiles : public ShellNamespace {
protected:
    std::string oldData;
    bool hadData = false;
    TFakeShellUi ui;
    std::vector<std::string> messages;
    void SetUp() override {
        ShellNamespace::SetUp();
        if (const char* d = std::getenv("XDG_DATA_HOME")) oldData = d, hadData = true;
        setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
        SetShellUi(&ui);
        SetMessageReporter([this](const std::string& text, const std::string&, TMsgIcon, int) {
            messages.push_back(text);
            return 1;
        });
    }
    void TearDown() override {
        SetMessageReporter(nullptr);
        SetShellUi(nullptr);
        if (hadData) setenv("XDG_DATA_HOME", oldData.c_str(), 1);
        else unsetenv("XDG_DATA_HOME");
        ShellNamespace::TearDown();
    }
};

TEST_F(ShellFiles, TrashKeepsFileAndWhereItCameFrom) {
    std::string file = dir.WriteFile("root/pics/my pic.jpg", "pixels");
    ASSERT_TRUE(MoveToTrash(file));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(TrashFolder(), dir.File("data/Trash"));
    EXPECT_EQ(test::ReadFile(dir.File("data/Trash/files/my pic.jpg")), "pixels");
    std::string info = test::ReadFile(dir.File("data/Trash/info/my pic.jpg.trashinfo"));
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=", 0), 0u);
    EXPECT_NE(info.find("/root/pics/my%20pic.jpg\n"), std::string::npos);
    EXPECT_NE(info.find("DeletionDate="), std::string::npos);

    // A second file of the same name gets a name of its own; the first stays in the trash.
    dir.WriteFile("root/pics/my pic.jpg", "second");
    ASSERT_TRUE(MoveToTrash(file));
    EXPECT_EQ(test::ReadFile(dir.File("data/Trash/files/my pic.jpg")), "pixels");
    EXPECT_EQ(test::ReadFile(dir.File("data/Trash/files/my pic.2.jpg")), "second");
    EXPECT_TRUE(fs::exists(dir.File("data/Trash/info/my pic.2.jpg.trashinfo")));

    ASSERT_TRUE(MoveToTrash(root + "/Zed"));
    EXPECT_EQ(test::ReadFile(dir.File("data/Trash/files/Zed/x.txt")), "x");
    EXPECT_FALSE(MoveToTrash(root + "/nothing"));
    EXPECT_FALSE(MoveToTrash(""));
}

// Names that are not UTF-8 ("写真" in CP932 holding "Crème" in ISO-8859-1): shown as they read,
// with the icon and type of their kind, and moved, linked and dragged by their bytes.
TEST_F(ShellFiles, NamesThatAreNotUtf8KeepTheirBytesAndShowAsTheyRead) {
    const std::string folder = root + "/\x8E\xCA\x90\x5E", file = folder + "/Cr\xE8me.jpg";
    dir.WriteFile("root/\x8E\xCA\x90\x5E/Cr\xE8me.jpg", "cream");
    dir.WriteFile("root/plain.jpg", "plain");
    TItemIdList id = Items({root, "\x8E\xCA\x90\x5E", "Cr\xE8me.jpg"}), plain = Items({root, "plain.jpg"});
    QIcon icon = ShellIcon(id, false);
    EXPECT_FALSE(icon.isNull());
    EXPECT_EQ(icon.pixmap(16).toImage(), ShellIcon(plain, false).pixmap(16).toImage());
    EXPECT_EQ(ShellTypeName(id), ShellTypeName(plain));

    TShellFolder named(Items({root, "\x8E\xCA\x90\x5E"}));
    ASSERT_TRUE(InvokeShellVerb(svProperties, named, {Items({"Cr\xE8me.jpg"})}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("名前: Crème.jpg\n場所: " + root + "/写真\n"), std::string::npos) << messages[0];

    std::unique_ptr<QMimeData> data(MakeFileDragData({file}));
    EXPECT_EQ(FilesFromMimeData(data.get()), std::vector<std::string>{file});

    std::string link;
    ASSERT_TRUE(CreateShortcut(file, link));
    EXPECT_EQ(link, folder + "/Cr\xE8me - ショートカット.jpg");
    EXPECT_EQ(fs::read_symlink(link), fs::path(file));

    ASSERT_TRUE(MoveToTrash(file));
    EXPECT_EQ(test::ReadFile(dir.File("data/Trash/files/Cr\xE8me.jpg")), "cream");
    EXPECT_NE(test::ReadFile(dir.File("data/Trash/info/Cr\xE8me.jpg.trashinfo")).find("/root/%8E%CA%90%5E/Cr%E8me.jpg\n"),
              std::string::npos);
}

TEST_F(ShellFiles, CopyIntoFolderKeepsExistingFiles) {
    std::string target = root + "/music";
    ASSERT_TRUE(CopyIntoFolder({root + "/pics/A.jpg", root + "/pics/sub"}, target, false));
    EXPECT_EQ(test::ReadFile(target + "/A.jpg"), "a");
    EXPECT_EQ(test::ReadFile(target + "/sub/c.png"), "c");
    EXPECT_TRUE(fs::exists(root + "/pics/A.jpg"));

    dir.WriteFile("root/pics/A.jpg", "changed");
    ASSERT_TRUE(CopyIntoFolder({root + "/pics/A.jpg"}, target, false));
    EXPECT_EQ(test::ReadFile(target + "/A.jpg"), "a");
    EXPECT_EQ(test::ReadFile(target + "/A - コピー.jpg"), "changed");
    ASSERT_TRUE(CopyIntoFolder({root + "/pics/A.jpg"}, target, false));
    EXPECT_EQ(test::ReadFile(target + "/A - コピー (2).jpg"), "changed");
    // Pasted into its own folder a file gets a copy beside it.
    ASSERT_TRUE(CopyIntoFolder({root + "/pics/b.jpg"}, root + "/pics", false));
    EXPECT_EQ(test::ReadFile(root + "/pics/b - コピー.jpg"), "b");

    // A folder into itself or below itself would never end.
    EXPECT_FALSE(CopyIntoFolder({root + "/pics"}, root + "/pics/sub", false));
    EXPECT_FALSE(CopyIntoFolder({root + "/pics"}, root + "/pics", false));
    EXPECT_FALSE(fs::exists(root + "/pics/sub/pics"));

    ASSERT_TRUE(CopyIntoFolder({root + "/Zed"}, target, true));
    EXPECT_FALSE(fs::exists(root + "/Zed"));
    EXPECT_EQ(test::ReadFile(target + "/Zed/x.txt"), "x");
    EXPECT_FALSE(CopyIntoFolder({root + "/missing"}, target, false));
    EXPECT_FALSE(CopyIntoFolder({root + "/pics/b.jpg"}, target + "/missing", false));

    std::string link;
    ASSERT_TRUE(CreateShortcut(root + "/pics/b.jpg", link));
    EXPECT_EQ(link, root + "/pics/b - ショートカット.jpg");
    EXPECT_EQ(fs::read_symlink(link), fs::path(root + "/pics/b.jpg"));
}

TEST_F(ShellFiles, FileListsTravelAsUrlsWithTheCutMark) {
    std::unique_ptr<QMimeData> data(MakeFileDragData({root + "/pics/A.jpg", root + "/pics/b.jpg"}, true));
    bool cut = false;
    EXPECT_EQ(FilesFromMimeData(data.get(), &cut),
              (std::vector<std::string>{root + "/pics/A.jpg", root + "/pics/b.jpg"}));
    EXPECT_TRUE(cut);
    EXPECT_TRUE(data->data("x-special/gnome-copied-files").startsWith("cut\nfile://"));
    data.reset(MakeFileDragData({root + "/pics/A.jpg"}));
    FilesFromMimeData(data.get(), &cut);
    EXPECT_FALSE(cut);
    EXPECT_TRUE(FilesFromMimeData(nullptr).empty());

    SetClipboardFiles({root + "/pics/b.jpg"}, false);
    EXPECT_EQ(ClipboardFiles(&cut), std::vector<std::string>{root + "/pics/b.jpg"});
    EXPECT_FALSE(cut);
}

TEST_F(ShellFiles, MenuVerbsActOnTheItems) {
    TShellFolder pics(Items({root, "pics"}));
    QMenu menu;
    BuildItemMenu(menu, pics, {Items({"A.jpg"}), Items({"b.jpg"})});
    std::vector<std::string> texts;
    for (QAction* a : menu.actions())
        if (!a->isSeparator()) texts.push_back(a->text().toStdString());
    EXPECT_EQ(texts, (std::vector<std::string>{"開く(&O)", "送る(&N)", "切り取り(&T)", "コピー(&C)", "貼り付け(&P)",
                                               "ショートカットの作成(&S)", "削除(&D)", "プロパティ(&R)"}));

    ASSERT_TRUE(InvokeShellVerb(svOpen, pics, {Items({"A.jpg"}), Items({"b.jpg"})}));
    EXPECT_EQ(ui.Opened, (std::vector<std::string>{root + "/pics/A.jpg", root + "/pics/b.jpg"}));
    ui.OpenResult = false;
    EXPECT_FALSE(InvokeShellVerb(svOpen, pics, {Items({"A.jpg"})}));

    // Copy, then paste into a folder item.
    ASSERT_TRUE(InvokeShellVerb(svCopy, pics, {Items({"A.jpg"})}));
    TShellFolder rootFolder(Items({root}));
    ASSERT_TRUE(InvokeShellVerb(svPaste, rootFolder, {Items({"Zed"})}));
    EXPECT_EQ(test::ReadFile(root + "/Zed/A.jpg"), "a");
    // Cut and paste moves.
    ASSERT_TRUE(InvokeShellVerb(svCut, pics, {Items({"b.jpg"})}));
    ASSERT_TRUE(InvokeShellVerb(svPaste, rootFolder, {Items({"Zed"})}));
    EXPECT_FALSE(fs::exists(root + "/pics/b.jpg"));
    EXPECT_TRUE(fs::exists(root + "/Zed/b.jpg"));
    // A plain file takes no pasted files.
    SetClipboardFiles({root + "/Zed/x.txt"}, false);
    EXPECT_FALSE(InvokeShellVerb(svPaste, pics, {Items({"A.jpg"})}));

    ASSERT_TRUE(InvokeShellVerb(svDelete, pics, {Items({"A.jpg"})}));
    EXPECT_FALSE(fs::exists(root + "/pics/A.jpg"));
    EXPECT_TRUE(fs::exists(dir.File("data/Trash/files/A.jpg")));
    ASSERT_TRUE(InvokeShellVerb(svProperties, pics, {Items({"sub"})}));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("名前: sub"), std::string::npos);
    EXPECT_FALSE(InvokeShellVerb(svDelete, pics, {}));
    EXPECT_FALSE(InvokeShellVerb(svSendTo, pics, {Items({"sub"})}));
}

TEST_F(ShellFiles, ProgramsAndShortcutsToFoldersTakePastedFiles) {
    std::string program = dir.WriteFile("root/tool.sh", "#!/bin/sh\n");
    ::chmod(program.c_str(), 0755);
    dir.WriteFile("root/to-music.lnk", test::BuildShellLink({".\\music", "", "", ""}));
    EXPECT_TRUE(IsDropTarget(program));
    EXPECT_TRUE(IsDropTarget(root + "/to-music.lnk"));
    EXPECT_TRUE(IsDropTarget(root + "/pics"));
    EXPECT_FALSE(IsDropTarget(root + "/pics/A.jpg"));

    TShellFolder rootFolder(Items({root}));
    SetClipboardFiles({root + "/pics/A.jpg"}, false);
    ASSERT_TRUE(InvokeShellVerb(svPaste, rootFolder, {Items({"tool.sh"})}));
    ASSERT_EQ(ui.Runs.size(), 1u);
    EXPECT_EQ(ui.Runs[0], (std::vector<std::string>{program, root + "/pics/A.jpg"}));
    ASSERT_TRUE(InvokeShellVerb(svPaste, rootFolder, {Items({"to-music.lnk"})}));
    EXPECT_EQ(test::ReadFile(root + "/music/A.jpg"), "a");
}

} // namespace
} // namespace lumora
