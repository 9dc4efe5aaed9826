#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <QHeaderView>
#include <QIcon>
#include <QListView>
#include <QTest>
#include <QTreeView>
#include <QTreeWidgetItemIterator>

#include <gtest/gtest.h>

#include "dialogs/pickers/ContextMenu.h"
#include "dialogs/pickers/ShellViews.h"
#include "framework/Forms.h"
#include "platform/shell/Shell.h"
#include "tests/platform/shell/ShellLinkBuilder.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

namespace fs = std::filesystem;

TItemIdList Items(const std::vector<std::string>& items) {
    TItemIdList id;
    TItemIdList::FromItems(items, id);
    return id;
}

std::vector<std::string> Column(const TFileView& view, int column) {
    std::vector<std::string> texts;
    for (int row = 0; row < view.Count(); ++row) texts.push_back(view.ItemText(row, column));
    return texts;
}

class ShellViews : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string root;
    TFakeShellUi ui;
    std::vector<std::string> messages;
    std::string oldData;
    bool hadData = false;

    void SetUp() override {
        root = dir.File("root");
        dir.WriteFile("root/pics/b.jpg", std::string(1024, 'b'));
        dir.WriteFile("root/pics/a.JPG", "");
        dir.WriteFile("root/pics/notes.txt", "n");
        dir.WriteFile("root/pics/album.jpg/inside.jpg", "i");
        dir.WriteFile("root/pics/plain/x.png", "x");
        dir.WriteFile("root/pics/to-b.lnk", test::BuildShellLink({".\\b.jpg", "", "", ""}));
        dir.WriteFile("root/pics/broken.lnk", test::BuildShellLink({".\\gone.jpg", "", "", ""}));
        dir.WriteFile("root/music/song.mp3", "m");
        SetShellPlaces({{"Root", root}});
        SetShellUi(&ui);
        if (const char* d = std::getenv("XDG_DATA_HOME")) oldData = d, hadData = true;
        setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
        SetMessageReporter([this](const std::string& text, const std::string&, TMsgIcon, int) {
            messages.push_back(text);
            return 1;
        });
    }
    void TearDown() override {
        SetMessageReporter(nullptr);
        if (hadData) setenv("XDG_DATA_HOME", oldData.c_str(), 1);
        else unsetenv("XDG_DATA_HOME");
        SetShellUi(nullptr);
        SetShellPlaces({});
    }
    void ShowFolder(TFileView& view, const std::string& path) {
        TItemIdList id;
        ASSERT_TRUE(ParseDisplayName(path, id));
        view.SetFolder(id);
    }
};

TEST_F(ShellViews, FileListFiltersByMaskAndFillsColumns) {
    TFileView view;
    view.SetMask({".jpg"});
    ShowFolder(view, root + "/pics");
    // A shortcut counts by its target's extension; one that cannot be resolved has none. Folders
    // are listed only when their own name carries a masked extension.
    EXPECT_EQ(Column(view, 0), (std::vector<std::string>{"album.jpg", "a.JPG", "b.jpg", "to-b.lnk"}));
    int b = view.FindRow("b.jpg"), a = view.FindRow("a.JPG");
    EXPECT_EQ(view.ItemText(b, 1), "       2KB");
    EXPECT_EQ(view.ItemText(a, 1), "       1KB");
    EXPECT_EQ(view.ItemText(view.FindRow("album.jpg"), 1), "       1KB"); // a folder counts as empty
    EXPECT_EQ(view.ItemText(view.FindRow("album.jpg"), 2), "ファイル フォルダ");
    EXPECT_EQ(view.ItemText(view.FindRow("to-b.lnk"), 2), "ショートカット");
    EXPECT_TRUE(view.ItemIsLink(view.FindRow("to-b.lnk")));
    EXPECT_FALSE(view.ItemIsLink(b));
    EXPECT_EQ(view.ItemText(b, 3).size(), std::string("yy/mm/dd hh:nn").size());
    EXPECT_EQ(view.ItemPath(b), root + "/pics/b.jpg");

    view.SetFolderDisplay(true);
    view.Fill();
    EXPECT_EQ(Column(view, 0), (std::vector<std::string>{"album.jpg", "plain", "a.JPG", "b.jpg", "to-b.lnk"}));
    view.SetMask({});
    view.Fill();
    EXPECT_EQ(view.Count(), 7);

    EXPECT_EQ(FileSizeText(0), "       1KB");
    EXPECT_EQ(FileSizeText(1023), "       1KB");
    // Sizes past 4 GiB keep their high bits.
    EXPECT_EQ(FileSizeText(int64_t{5} << 30), " 5242881KB");
}

// Names that are not UTF-8, as a zip made on Japanese or Western Windows leaves them, are listed
// as they read, each with the icon of its kind and in line with the others; the list keeps the
// bytes. The grab is kept to look at.
TEST_F(ShellViews, NamesThatAreNotUtf8ListAsTheyReadWithTheirIcons) {
    struct {
        std::string bytes, shown;
    } names[] = {{"\x8E\xCA\x90\x5E.jpg", "写真.jpg"},
                 {"\x83\x5C\x83\x93\x83\x4F.jpg", "ソング.jpg"},
                 {"\xD6lgem\xE4lde.jpg", "Ölgemälde.jpg"},
                 {"Cr\xE8me.jpg", "Crème.jpg"},
                 {"Gr\xFC\xDF" "e.jpg", "Grüße.jpg"},
                 {"utf8.jpg", "utf8.jpg"}};
    for (const auto& n : names) dir.WriteFile("root/zip/" + n.bytes, "x");
    TFileView view;
    view.resize(view.ReportWidth(), 200);
    view.SetMask({".jpg"});
    ShowFolder(view, root + "/zip");
    ASSERT_EQ(view.Count(), 6);
    QAbstractItemModel* model = view.ReportView()->model();
    auto iconOf = [&](int row) { return model->index(row, 0).data(Qt::DecorationRole).value<QIcon>(); };
    const QSize plainIcon = iconOf(view.FindRow("utf8.jpg")).actualSize(QSize(16, 16));
    ASSERT_FALSE(plainIcon.isEmpty());
    for (const auto& n : names) {
        SCOPED_TRACE(n.shown);
        int row = view.FindRow(n.shown);
        ASSERT_GE(row, 0);
        EXPECT_EQ(view.ItemPath(row), root + "/zip/" + n.bytes);
        EXPECT_EQ(view.ItemText(row, 2), view.ItemText(view.FindRow("utf8.jpg"), 2));
        // Without an icon the name would start further left than the others.
        EXPECT_EQ(iconOf(row).actualSize(QSize(16, 16)), plainIcon);
    }
    view.show();
    view.grab().save(LUMORA_BINARY_DIR "/picker-names-not-utf8.png");
}

TEST_F(ShellViews, ColumnsSortAscendingThenDescendingAndFillResets) {
    TFileView view;
    dir.WriteFile("root/pics/c.jpg", std::string(3000, 'c'));
    view.SetMask({".jpg"});
    ShowFolder(view, root + "/pics");
    view.ColClick(1);
    EXPECT_EQ(Column(view, 1), (std::vector<std::string>{"       1KB", "       1KB", "       1KB", "       2KB", "       3KB"}));
    view.ColClick(1);
    EXPECT_EQ(Column(view, 1), (std::vector<std::string>{"       3KB", "       2KB", "       1KB", "       1KB", "       1KB"}));
    view.ColClick(0);
    EXPECT_EQ(Column(view, 0).front(), "album.jpg");
    view.ColClick(0);
    EXPECT_EQ(Column(view, 0), (std::vector<std::string>{"to-b.lnk", "c.jpg", "b.jpg", "a.JPG", "album.jpg"}));
    EXPECT_EQ(TFileView::SortSigns()[0], 1);
    EXPECT_EQ(TFileView::SortSigns()[1], 1);

    view.Fill();
    EXPECT_EQ(TFileView::SortSigns(), (std::array<int, 4>{1, 1, 1, 1}));
    // The header of the report view sorts too.
    view.ReportView()->header()->sectionClicked(1);
    EXPECT_EQ(Column(view, 1).back(), "       3KB");
}

TEST_F(ShellViews, TreeBrowsesFromTheDesktopAndDrivesTheList) {
    TFolderView tree;
    TFileView list;
    tree.SetFileView(&list);
    EXPECT_EQ(list.FolderView(), &tree);
    QTreeWidgetItem* rootNode = tree.topLevelItem(0);
    ASSERT_TRUE(rootNode);
    EXPECT_EQ(rootNode->text(0).toStdString(), kDesktopName);
    ASSERT_EQ(rootNode->childCount(), 1);
    EXPECT_EQ(rootNode->child(0)->text(0).toStdString(), "Root");
    EXPECT_FALSE(rootNode->flags() & Qt::ItemIsEditable);
    EXPECT_TRUE(tree.NotFileSystemFolder());
    EXPECT_EQ(tree.SelectedPath(), "");

    ASSERT_TRUE(tree.SelectPath(root + "/pics/plain"));
    EXPECT_EQ(tree.SelectedPath(), root + "/pics/plain");
    EXPECT_FALSE(tree.NotFileSystemFolder());
    EXPECT_EQ(Column(list, 0), std::vector<std::string>{"x.png"});
    // Children are read when a node is first opened; a folder without sub-folders shows no mark.
    QTreeWidgetItem* pics = tree.currentItem()->parent();
    EXPECT_EQ(pics->text(0).toStdString(), "pics");
    EXPECT_EQ(pics->childCount(), 2);
    EXPECT_EQ(tree.currentItem()->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);

    // Opening a folder in the list selects it in the tree.
    tree.setCurrentItem(pics);
    list.SelectRow(list.FindRow("album.jpg"));
    list.DblClick();
    EXPECT_EQ(tree.SelectedPath(), root + "/pics/album.jpg");
    // A file opens in its program.
    tree.SelectPath(root + "/pics");
    list.SelectRow(list.FindRow("b.jpg"));
    list.DblClick();
    EXPECT_EQ(ui.Opened, std::vector<std::string>{root + "/pics/b.jpg"});
    list.SetFileExecute(false);
    list.DblClick();
    EXPECT_EQ(ui.Opened.size(), 1u);

    // A folder that went away cannot be shown: the tree goes back to where it was.
    tree.SelectPath(root + "/music");
    fs::remove_all(root + "/pics/plain");
    QTreeWidgetItem* plain = nullptr;
    for (int i = 0; i < pics->childCount(); ++i)
        if (pics->child(i)->text(0) == "plain") plain = pics->child(i);
    ASSERT_TRUE(plain);
    tree.setCurrentItem(plain);
    EXPECT_EQ(tree.SelectedPath(), root + "/music");

    // Rebuilding removes every node, each reported after its ID list was dropped.
    int nodes = 0;
    for (QTreeWidgetItemIterator it(&tree); *it; ++it) ++nodes;
    int reported = 0, withId = 0;
    tree.OnDeleting = [&](QTreeWidgetItem* node) {
        ++reported;
        withId += !TFolderView::NodeId(node).Empty();
    };
    tree.BuildRoot();
    EXPECT_GT(nodes, 3);
    EXPECT_EQ(reported, nodes);
    EXPECT_EQ(withId, 0);
}

TEST_F(ShellViews, RenamesKeepTreeAndListInStep) {
    TFolderView tree;
    TFileView list;
    tree.SetFileView(&list);
    ASSERT_TRUE(tree.SelectPath(root + "/pics"));
    QTreeWidgetItem* pics = tree.currentItem();
    pics->setExpanded(true);

    ASSERT_TRUE(list.Edit(list.FindRow("plain"), "renamed"));
    EXPECT_TRUE(fs::exists(root + "/pics/renamed/x.png"));
    EXPECT_GE(list.FindRow("renamed"), 0);
    bool inTree = false;
    for (int i = 0; i < pics->childCount(); ++i) inTree = inTree || pics->child(i)->text(0) == "renamed";
    EXPECT_TRUE(inTree);
    tree.SelectPath(root + "/pics");
    list.SelectRow(list.FindRow("renamed"));
    list.DblClick();
    EXPECT_EQ(tree.SelectedPath(), root + "/pics/renamed");

    // A refused name puts the old caption back and leaves both files alone.
    tree.SelectPath(root + "/pics");
    EXPECT_FALSE(list.Edit(list.FindRow("a.JPG"), "b.jpg"));
    EXPECT_GE(list.FindRow("a.JPG"), 0);
    EXPECT_EQ(test::ReadFile(root + "/pics/b.jpg").size(), 1024u);

    EXPECT_FALSE(tree.Edit(tree.topLevelItem(0), "anything"));
    EXPECT_FALSE(tree.Edit(pics, "music"));
    EXPECT_EQ(pics->text(0).toStdString(), "pics");
    ASSERT_TRUE(tree.Edit(pics, "photos"));
    EXPECT_EQ(tree.SelectedPath(), root + "/photos");
    // The list showed the renamed folder: it shows it again under the new name.
    EXPECT_EQ(list.ItemPath(list.FindRow("b.jpg")), root + "/photos/b.jpg");
}

class ShellMenus : public ShellViews {
protected:
    QWidget owner;
    TContextMenuEx menu;
    TShellFolder Pics() { return TShellFolder(Items({root, "pics"})); }
};

TEST_F(ShellMenus, MenuNeedsOneToManyItemsAndShowsTheShellsCommands) {
    TShellFolder pics = Pics();
    TItemIdList two = TItemIdList::Join({Items({"a.JPG"}), Items({"b.jpg"})});
    menu.ShowMenu(&owner, &pics, QPoint(5, 6), 0, two);
    menu.ShowMenu(&owner, &pics, QPoint(5, 6), kMaxShellItems + 1, two);
    menu.ShowMenu(&owner, &pics, QPoint(5, 6), 3, two); // the list holds only two
    menu.ShowMenu(nullptr, &pics, QPoint(5, 6), 2, two);
    menu.ShowMenu(&owner, nullptr, QPoint(5, 6), 2, two);
    EXPECT_EQ(ui.Popups, 0);

    menu.ShowMenu(&owner, &pics, QPoint(5, 6), 2, two);
    EXPECT_EQ(ui.Popups, 1);
    EXPECT_EQ(ui.LastPoint, QPoint(5, 6));
    // Without a Send To folder the sub-menu stays as the shell built it.
    EXPECT_NE(std::find(ui.MenuTexts.begin(), ui.MenuTexts.end(), "送る(&N)/(送り先なし)"), ui.MenuTexts.end());

    ui.Choose = {"削除(&D)"};
    menu.ShowMenu(&owner, &pics, QPoint(), 2, two);
    EXPECT_FALSE(fs::exists(root + "/pics/a.JPG"));
    EXPECT_FALSE(fs::exists(root + "/pics/b.jpg"));
    EXPECT_TRUE(fs::exists(dir.File("data/Trash/files/b.jpg")));
    EXPECT_TRUE(messages.empty());

    // A command that fails says so.
    ui.Choose = {"開く(&O)"};
    ui.OpenResult = false;
    TItemIdList txt = Items({"notes.txt"});
    menu.ShowMenu(&owner, &pics, QPoint(), 1, txt);
    EXPECT_EQ(messages, std::vector<std::string>{" InvokeCommand failed! "});
}

TEST_F(ShellMenus, SendToListsItsFolderAndCopiesThere) {
    std::string sendTo = SendToFolder();
    fs::create_directories(sendTo);
    fs::create_directory_symlink(root + "/music", sendTo + "/Music folder");
    for (int i = 0; i < 120; ++i) dir.WriteFile("data/lumora/SendTo/z" + std::to_string(1000 + i) + ".txt", "");
    fs::create_directories(sendTo + "/A real folder"); // a folder is no entry; a link to one is
    SetShellPlaces({{"Root", root}, {"Data", dir.File("data")}});
    TShellFolder pics = Pics();

    ui.Choose = {"Music folder"};
    menu.ShowMenu(&owner, &pics, QPoint(), 1, Items({"b.jpg"}));
    int sendToEntries = 0;
    for (const auto& t : ui.MenuTexts) sendToEntries += t.rfind("送る(&N)/", 0) == 0;
    EXPECT_EQ(sendToEntries, kMaxSendToItems);
    EXPECT_EQ(ui.MenuTexts[3], "送る(&N)/Music folder");
    EXPECT_EQ(ui.MenuTexts[4], "送る(&N)/z1000.txt");
    EXPECT_EQ(test::ReadFile(root + "/music/b.jpg").size(), 1024u);
    EXPECT_TRUE(fs::exists(root + "/pics/b.jpg"));

    // Named commands need what the item allows.
    TShellFolder rootFolder(Items({root}));
    EXPECT_TRUE(menu.RunNamedCommand(&owner, &pics, ncCopy, QPoint(), Items({"a.JPG"})));
    EXPECT_TRUE(menu.RunNamedCommand(&owner, &rootFolder, ncPaste, QPoint(), Items({"music"})));
    EXPECT_TRUE(fs::exists(root + "/music/a.JPG"));
    EXPECT_FALSE(menu.RunNamedCommand(&owner, &pics, ncPaste, QPoint(), Items({"notes.txt"})));
    EXPECT_FALSE(menu.RunNamedCommand(&owner, &DesktopFolder(), ncDelete, QPoint(), Items({root})));
    EXPECT_FALSE(menu.RunNamedCommand(&owner, &pics, 5, QPoint(), Items({"a.JPG"})));
    EXPECT_TRUE(menu.RunNamedCommand(&owner, &pics, ncCreateLink, QPoint(), Items({"a.JPG"})));
    EXPECT_TRUE(fs::is_symlink(root + "/pics/a - ショートカット.JPG"));
}

TEST_F(ShellMenus, ViewsOpenTheMenuAndDragTheirSelection) {
    TFolderView tree;
    TFileView list;
    tree.SetFileView(&list);
    TDropSourceEx drag;
    list.SetContextMenu(&menu);
    list.SetDropSource(&drag);
    list.resize(400, 300);
    list.show();
    ASSERT_TRUE(tree.SelectPath(root + "/pics"));
    list.SetMask({".jpg"});
    list.Fill();

    QTreeView* report = list.ReportView();
    QRect a = report->visualRect(report->model()->index(list.FindRow("a.JPG"), 0));
    // No selection, no menu.
    report->clearSelection();
    QTest::mouseClick(report->viewport(), Qt::RightButton, {}, QPoint(350, 290));
    EXPECT_EQ(ui.Popups, 0);
    QTest::mouseClick(report->viewport(), Qt::LeftButton, {}, a.center());
    QTest::mouseClick(report->viewport(), Qt::RightButton, {}, a.center());
    EXPECT_EQ(ui.Popups, 1);

    QTest::mousePress(report->viewport(), Qt::LeftButton, {}, a.center());
    QTest::mouseMove(report->viewport(), a.center() + QPoint(30, 30));
    EXPECT_EQ(ui.Drags, 1);
    EXPECT_EQ(ui.DraggedFiles, std::vector<std::string>{root + "/pics/a.JPG"});
    EXPECT_EQ(ui.LastAllowed, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction);
    QTest::mouseRelease(report->viewport(), Qt::LeftButton, {}, a.center() + QPoint(30, 30));

    TShellFolder pics = Pics();
    EXPECT_EQ(drag.StartDrag(&list, &pics, 0, Items({"a.JPG"})), Qt::IgnoreAction);
    EXPECT_EQ(drag.StartDrag(&list, &pics, 2, Items({"a.JPG"})), Qt::IgnoreAction);
    EXPECT_EQ(drag.StartDrag(&list, &DesktopFolder(), 1, TItemIdList()), Qt::IgnoreAction);
    EXPECT_EQ(ui.Drags, 1);
    ui.DragResult = Qt::MoveAction;
    EXPECT_EQ(drag.StartDrag(&list, &pics, 1, Items({"b.jpg"})), Qt::MoveAction);
}

} // namespace
} // namespace lumora
