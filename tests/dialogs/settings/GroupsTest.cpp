// The groups dialog: what it lists from the two folders, linking and unlinking, the colour of
// linked sounds, and what its OK leaves in the theme's record, the radio buttons and (after the
// settings dialog's OK) the registry.

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include "dialogs/settings/GroupsDialog.h"
#include "dialogs/settings/SubDialogs.h"
#include "engine/playlists/PlayLists.h"
#include "tests/dialogs/settings/SubDialogsTestSupport.h"

namespace lumora::test {
namespace {

class Groups : public SubDialogTest {
protected:
    std::string sounds, pictures;

    void SetUp() override {
        SubDialogTest::SetUp();
        for (const char* f : {"a.mp3", "B.wav", "sub/c.mid", "readme.txt"}) dir.WriteFile(std::string("sounds/") + f, "x");
        for (const char* f : {"x.jpg", "y.png", "sub/z.gif", "notes.txt", "W.bmp"})
            dir.WriteFile(std::string("pictures/") + f, "x");
        sounds = dir.File("sounds");
        pictures = dir.File("pictures");
        Put(kLumoraKey, "Setting", "Folder", pictures);
        Put(kLumoraKey, "Setting", "SoundFolder", sounds);
        Put(kLumoraKey, "Setting", "UseSound", "1");
    }
    // Stores groups through the settings model, as an earlier OK would have.
    void StoreGroups(const std::vector<std::pair<std::string, std::vector<std::string>>>& groups) {
        TRegData data(kLumoraKey);
        data.Load();
        data.LoadGroups(false);
        for (auto& [track, names] : groups) {
            auto* list = new TStringList();
            for (auto& n : names) list->Add(n);
            data.Groups->AddObject(track, list);
        }
        data.Grouping = true;
        data.Save();
    }
    std::unique_ptr<TGroup> OpenGroups(TSaverSettings& dlg) {
        auto form = std::make_unique<TGroup>(dlg, &dlg);
        form->SoundFolder = sounds;
        form->PictureFolder = pictures;
        form->show();
        return form;
    }
    static std::vector<std::string> Items(TGroup& f, const char* list) {
        auto* box = Find<QListWidget>(f, list);
        std::vector<std::string> out;
        for (int i = 0; i < box->count(); ++i) out.push_back(box->item(i)->text().toStdString());
        return out;
    }
    static void SelectSound(TGroup& f, const std::string& name) {
        auto* box = Find<QListWidget>(f, "ListBox1");
        auto found = box->findItems(QString::fromStdString(name), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        box->setCurrentItem(found.first());
    }
    static void SelectIn(TGroup& f, const char* list, std::vector<std::string> names) {
        auto* box = Find<QListWidget>(f, list);
        box->clearSelection();
        for (auto& n : names) {
            auto found = box->findItems(QString::fromStdString(n), Qt::MatchExactly);
            ASSERT_EQ(found.size(), 1) << n;
            found.first()->setSelected(true);
        }
    }
    static void Link(TGroup& f, std::vector<std::string> pictures) {
        SelectIn(f, "ListBox3", std::move(pictures));
        QTest::mouseClick(Find<QToolButton>(f, "SpeedButton1"), Qt::LeftButton);
    }
    static std::vector<std::string> Lines(const TStringList& list) {
        std::vector<std::string> out;
        for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]);
        return out;
    }
    static std::vector<std::string> Tracks(const TStringList& groups) { return Lines(groups); }
    static std::vector<std::string> PicturesOf(const TStringList& groups, int g) {
        return Lines(*static_cast<TStringList*>(groups.Objects(g)));
    }
};

TEST_F(Groups, ListsBothFoldersByRelativeNameSorted) {
    auto dlg = OpenSettings();
    auto form = OpenGroups(*dlg);
    EXPECT_EQ(form->windowTitle().toStdString(), "ｸﾞﾙｰﾌﾟ設定");
    EXPECT_EQ(Items(*form, "ListBox1"), (std::vector<std::string>{"a.mp3", "B.wav"}));
    EXPECT_EQ(Items(*form, "ListBox3"), (std::vector<std::string>{"W.bmp", "x.jpg", "y.png"}));
    EXPECT_TRUE(Items(*form, "ListBox2").empty());
    EXPECT_FALSE(Find<QToolButton>(*form, "SpeedButton1")->isEnabled());
    EXPECT_FALSE(Find<QToolButton>(*form, "SpeedButton2")->isEnabled());
    form->close();

    // Sub-folders as the settings dialog's boxes say.
    Find<QCheckBox>(*dlg, "CheckBox9")->setChecked(true);
    Find<QCheckBox>(*dlg, "CheckBox8")->setChecked(true);
    auto deep = OpenGroups(*dlg);
    EXPECT_EQ(Items(*deep, "ListBox1"), (std::vector<std::string>{"a.mp3", "B.wav", "sub/c.mid"}));
    EXPECT_EQ(Items(*deep, "ListBox3"), (std::vector<std::string>{"sub/z.gif", "W.bmp", "x.jpg", "y.png"}));
    deep->close();

    // A folder that does not exist lists nothing.
    auto missing = std::make_unique<TGroup>(*dlg, dlg.get());
    missing->SoundFolder = dir.File("nowhere");
    missing->show();
    EXPECT_TRUE(Items(*missing, "ListBox1").empty());
    EXPECT_TRUE(missing->LinkLists.empty());
}

TEST_F(Groups, StoredGroupsShowAndAGroupOfAMissingSoundIsDropped) {
    StoreGroups({{"B.wav", {"y.png", "x.jpg"}}, {"gone.mp3", {"x.jpg"}}});
    Put(kLumoraKey, "Setting", "Grouping", "1");
    auto dlg = OpenSettings();
    ASSERT_TRUE(dlg->CurrentData().Grouping);
    auto form = OpenGroups(*dlg);
    ASSERT_EQ(form->LinkLists.size(), 2u);
    EXPECT_EQ(form->LinkLists[0]->Count(), 0);
    EXPECT_EQ(Lines(*form->LinkLists[1]), (std::vector<std::string>{"y.png", "x.jpg"}));
    SelectSound(*form, "B.wav");
    EXPECT_EQ(Items(*form, "ListBox2"), (std::vector<std::string>{"x.jpg", "y.png"}));
    SaveShot(*form, "groups");
    QTest::mouseClick(Find<QPushButton>(*form, "Button2"), Qt::LeftButton);
    EXPECT_EQ(Tracks(*dlg->CurrentData().Groups), (std::vector<std::string>{"B.wav"}));
    EXPECT_EQ(PicturesOf(*dlg->CurrentData().Groups, 0), (std::vector<std::string>{"y.png", "x.jpg"}));
}

TEST_F(Groups, LinkingAddsEachPictureOnceAndUnlinkingRemovesOnlyTheChosen) {
    auto dlg = OpenSettings();
    auto form = OpenGroups(*dlg);
    SelectIn(*form, "ListBox3", {"x.jpg"});
    // Pictures chosen but no sound: nothing to link to.
    EXPECT_FALSE(Find<QToolButton>(*form, "SpeedButton1")->isEnabled());
    SelectSound(*form, "a.mp3");
    Link(*form, {"y.png"});
    Link(*form, {"x.jpg"});
    Link(*form, {"x.jpg", "y.png"});
    EXPECT_EQ(Items(*form, "ListBox2"), (std::vector<std::string>{"x.jpg", "y.png"}));
    EXPECT_EQ(Lines(*form->LinkLists[0]), (std::vector<std::string>{"y.png", "x.jpg"}));

    SelectIn(*form, "ListBox2", {"x.jpg"});
    EXPECT_TRUE(Find<QToolButton>(*form, "SpeedButton2")->isEnabled());
    QTest::mouseClick(Find<QToolButton>(*form, "SpeedButton2"), Qt::LeftButton);
    EXPECT_EQ(Items(*form, "ListBox2"), (std::vector<std::string>{"y.png"}));
    EXPECT_EQ(Lines(*form->LinkLists[0]), (std::vector<std::string>{"y.png"}));
    EXPECT_FALSE(Find<QToolButton>(*form, "SpeedButton2")->isEnabled());

    // Another sound has its own list.
    SelectSound(*form, "B.wav");
    EXPECT_TRUE(Items(*form, "ListBox2").empty());
    Link(*form, {"W.bmp"});
    SelectSound(*form, "a.mp3");
    EXPECT_EQ(Items(*form, "ListBox2"), (std::vector<std::string>{"y.png"}));
}

TEST_F(Groups, LinkedSoundsAreDrawnOnAquaUntilEverythingIsCleared) {
    auto dlg = OpenSettings();
    auto form = OpenGroups(*dlg);
    SelectSound(*form, "a.mp3");
    Link(*form, {"x.jpg"});
    EXPECT_EQ(form->ListBox1ItemColor(0, false), clAqua);
    EXPECT_EQ(form->ListBox1ItemColor(1, false), clWindow);
    EXPECT_EQ(form->ListBox1ItemColor(0, true), clHighlight);
    // What the list shows: the unselected linked entry on aqua.
    SelectSound(*form, "B.wav");
    auto* list = Find<QListWidget>(*form, "ListBox1");
    QApplication::processEvents();
    QImage shot = list->viewport()->grab().toImage();
    QRect first = list->visualItemRect(list->item(0));
    EXPECT_EQ(shot.pixelColor(first.right() - 2, first.center().y()), QColor(0, 255, 255));

    QTest::mouseClick(Find<QPushButton>(*form, "Button1"), Qt::LeftButton);
    EXPECT_EQ(form->ListBox1ItemColor(0, false), clWindow);
    EXPECT_TRUE(Items(*form, "ListBox2").empty());
    QApplication::processEvents();
    shot = list->viewport()->grab().toImage();
    EXPECT_NE(shot.pixelColor(first.right() - 2, first.center().y()), QColor(0, 255, 255));
    // After clearing, the lists keep their pictures sorted.
    Link(*form, {"y.png"});
    Link(*form, {"x.jpg"});
    EXPECT_EQ(Lines(*form->LinkLists[1]), (std::vector<std::string>{"x.jpg", "y.png"}));
}

TEST_F(Groups, OkWithoutLinksSwitchesGroupingOff) {
    StoreGroups({{"a.mp3", {"x.jpg"}}});
    Put(kLumoraKey, "Setting", "Grouping", "1");
    auto dlg = OpenSettings();
    ASSERT_TRUE(Find<QRadioButton>(*dlg, "RadioButton2")->isChecked());
    auto form = OpenGroups(*dlg);
    QTest::mouseClick(Find<QPushButton>(*form, "Button1"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(*form, "Button2"), Qt::LeftButton);
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_FALSE(dlg->CurrentData().Grouping);
    EXPECT_EQ(dlg->CurrentData().Groups->Count(), 0);
    EXPECT_TRUE(Find<QRadioButton>(*dlg, "RadioButton1")->isChecked());
}

TEST_F(Groups, OkBuildsTheGroupsThatTheSettingsOkSavesAndThePlayListsRead) {
    auto dlg = OpenSettings();
    {
        auto form = OpenGroups(*dlg);
        SelectSound(*form, "B.wav");
        Link(*form, {"y.png", "W.bmp"});
        SelectSound(*form, "a.mp3");
        Link(*form, {"x.jpg"});
        QTest::mouseClick(Find<QPushButton>(*form, "Button2"), Qt::LeftButton);
    }
    EXPECT_TRUE(dlg->CurrentData().Grouping);
    EXPECT_TRUE(Find<QRadioButton>(*dlg, "RadioButton2")->isChecked());
    EXPECT_EQ(Tracks(*dlg->CurrentData().Groups), (std::vector<std::string>{"a.mp3", "B.wav"}));
    EXPECT_EQ(PicturesOf(*dlg->CurrentData().Groups, 1), (std::vector<std::string>{"W.bmp", "y.png"}));
    QTest::mouseClick(Find<QPushButton>(*dlg, "Button3"), Qt::LeftButton);

    TFileGrpProc stored(sounds, false, kLumoraKey, pictures);
    EXPECT_EQ(Tracks(stored.Groups), (std::vector<std::string>{"a.mp3", "B.wav"}));
    EXPECT_EQ(Lines(*stored.PicturesOf(0)), (std::vector<std::string>{"x.jpg"}));
    EXPECT_EQ(Lines(*stored.PicturesOf(1)), (std::vector<std::string>{"W.bmp", "y.png"}));
}

// A sound and a picture named in Latin-1 (not UTF-8) are shown by name and stored as their bytes.
TEST_F(Groups, NamesThatAreNotUtf8AreLinkedAndStoredAsTheirBytes) {
    dir.WriteFile("sounds/caf\xE9.mp3", "x");
    dir.WriteFile("pictures/\xE9t\xE9.jpg", "x");
    auto dlg = OpenSettings();
    {
        auto form = OpenGroups(*dlg);
        EXPECT_EQ(Items(*form, "ListBox1"), (std::vector<std::string>{"a.mp3", "B.wav", "caf\u00e9.mp3"}));
        SelectSound(*form, "caf\u00e9.mp3");
        Link(*form, {"\u00e9t\u00e9.jpg", "x.jpg"});
        EXPECT_EQ(Items(*form, "ListBox2"), (std::vector<std::string>{"x.jpg", "\u00e9t\u00e9.jpg"}));
        // Unlinking finds the name by its bytes too.
        SelectIn(*form, "ListBox2", {"x.jpg"});
        QTest::mouseClick(Find<QToolButton>(*form, "SpeedButton2"), Qt::LeftButton);
        QTest::mouseClick(Find<QPushButton>(*form, "Button2"), Qt::LeftButton);
    }
    QTest::mouseClick(Find<QPushButton>(*dlg, "Button3"), Qt::LeftButton);
    TFileGrpProc stored(sounds, false, kLumoraKey, pictures);
    EXPECT_EQ(Tracks(stored.Groups), (std::vector<std::string>{"caf\xE9.mp3"}));
    EXPECT_EQ(Lines(*stored.PicturesOf(0)), (std::vector<std::string>{"\xE9t\xE9.jpg"}));
    // Opened again, the stored group is shown with its sound.
    auto again = OpenGroups(*dlg);
    SelectSound(*again, "caf\u00e9.mp3");
    EXPECT_EQ(Items(*again, "ListBox2"), (std::vector<std::string>{"\u00e9t\u00e9.jpg"}));
}

TEST_F(Groups, CancelLeavesTheRecordAsItWas) {
    StoreGroups({{"a.mp3", {"x.jpg"}}});
    Put(kLumoraKey, "Setting", "Grouping", "1");
    auto dlg = OpenSettings();
    auto form = OpenGroups(*dlg);
    SelectSound(*form, "B.wav");
    Link(*form, {"y.png"});
    QTest::mouseClick(Find<QPushButton>(*form, "Button1"), Qt::LeftButton);
    QTest::mouseClick(Find<QPushButton>(*form, "Button3"), Qt::LeftButton);
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_TRUE(form->LinkLists.empty());
    EXPECT_TRUE(dlg->CurrentData().Grouping);
    EXPECT_EQ(Tracks(*dlg->CurrentData().Groups), (std::vector<std::string>{"a.mp3"}));
    EXPECT_EQ(PicturesOf(*dlg->CurrentData().Groups, 0), (std::vector<std::string>{"x.jpg"}));
}

TEST_F(Groups, CancelAfterSwitchingGroupingOnKeepsItOn) {
    TSettingsDialogHooks saved = SettingsDialogHooks();
    InstallSubDialogs();
    auto dlg = OpenSettings();
    auto* on = Find<QRadioButton>(*dlg, "RadioButton2");
    QTest::mouseClick(on, Qt::LeftButton, {}, QPoint(6, 8));
    ASSERT_TRUE(on->isChecked());
    bool cancelled = false;
    WhenModal([&](QWidget& groups) {
        QTest::mouseClick(Find<QPushButton>(groups, "Button3"), Qt::LeftButton);
        cancelled = true;
    });
    QTest::mouseClick(Find<QPushButton>(*dlg, "Button2"), Qt::LeftButton);
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(on->isChecked());
    EXPECT_FALSE(Find<QRadioButton>(*dlg, "RadioButton1")->isChecked());
    EXPECT_TRUE(Find<QPushButton>(*dlg, "Button2")->isEnabled());
    SettingsDialogHooks() = saved;
}

} // namespace
} // namespace lumora::test
