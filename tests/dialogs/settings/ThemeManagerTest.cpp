// The theme manager and its name input: adding, renaming and deleting themes, what its OK writes
// to the registry and to the settings dialog, and that its cancel writes nothing.

#include <deque>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "dialogs/settings/ThemesDialog.h"
#include "dialogs/settings/ThemeNameInput.h"
#include "dialogs/controls/NumEdit.h"
#include "dialogs/settings/SubDialogs.h"
#include "tests/dialogs/settings/SubDialogsTestSupport.h"

namespace lumora::test {
namespace {

class ThemeManager : public SubDialogTest {
protected:
    // Answers for the name input, in order; an empty optional stands for cancel.
    std::deque<std::pair<bool, std::string>> answers;
    std::vector<std::pair<std::string, bool>> asked; // start text, empty allowed

    std::unique_ptr<TExtSetup> OpenManager(TSaverSettings& dlg) {
        auto manager = std::make_unique<TExtSetup>(dlg, &dlg);
        manager->AskName = [this](std::string& name, bool allowEmpty) {
            asked.emplace_back(name, allowEmpty);
            if (answers.empty()) return false;
            auto [ok, text] = answers.front();
            answers.pop_front();
            if (ok) name = text;
            return ok;
        };
        manager->show();
        return manager;
    }
    static QListWidget* List(TExtSetup& m) { return Find<QListWidget>(m, "ListBox1"); }
    static void Select(TExtSetup& m, int row) { List(m)->setCurrentRow(row); }
    static void Click(TExtSetup& m, const char* button) {
        QTest::mouseClick(Find<QPushButton>(m, button), Qt::LeftButton);
    }
    static std::vector<std::string> Entries(TExtSetup& m) {
        std::vector<std::string> out;
        for (int i = 0; i < List(m)->count(); ++i) out.push_back(List(m)->item(i)->text().toStdString());
        return out;
    }
    static std::vector<std::string> Combo(TSaverSettings& dlg) {
        auto* combo = Find<QComboBox>(dlg, "ComboBox2");
        std::vector<std::string> out;
        for (int i = 0; i < combo->count(); ++i) out.push_back(combo->itemText(i).toStdString());
        return out;
    }
    void Themes(const std::vector<std::pair<int, std::string>>& themes) {
        for (auto& [id, name] : themes) Put(kLumoraKey, "Thema", std::to_string(id), name);
    }
};

TEST_F(ThemeManager, NameInputNeedsTextUnlessEmptyIsAllowed) {
    TGetString input;
    EXPECT_EQ(input.windowTitle().toStdString(), "ﾃｰﾏ名称の入力");
    EXPECT_FALSE(input.AllowEmpty);
    input.Name = "Spring";
    input.show();
    auto* edit = Find<QLineEdit>(input, "Edit1");
    auto* ok = Find<QPushButton>(input, "Button3");
    EXPECT_EQ(edit->text().toStdString(), "Spring");
    EXPECT_TRUE(ok->isEnabled());
    edit->clear();
    EXPECT_FALSE(ok->isEnabled());
    QTest::keyClicks(edit, "Winter");
    EXPECT_TRUE(ok->isEnabled());
    SaveShot(input, "name-input");
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_EQ(input.result(), QDialog::Accepted);
    EXPECT_EQ(input.Name, "Winter");

    TGetString base;
    base.AllowEmpty = true;
    base.show();
    EXPECT_TRUE(Find<QPushButton>(base, "Button3")->isEnabled());
    base.hide();

    TGetString cancelled;
    cancelled.Name = "Keep";
    cancelled.show();
    Find<QLineEdit>(cancelled, "Edit1")->setText("Other");
    QTest::mouseClick(Find<QPushButton>(cancelled, "Button4"), Qt::LeftButton);
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(cancelled.Name, "Keep");
}

TEST_F(ThemeManager, AddTakesTheSmallestFreeIdAndListsItInIdOrder) {
    Themes({{0, "Spring"}, {2, "Summer"}, {5, "Autumn"}});
    auto dlg = OpenSettings();
    auto manager = OpenManager(*dlg);
    EXPECT_EQ(manager->windowTitle().toStdString(), "テーマ設定");
    EXPECT_EQ(Entries(*manager), (std::vector<std::string>{"標準", "Spring", "Summer", "Autumn"}));
    // Nothing selected: only adding is possible.
    EXPECT_TRUE(Find<QPushButton>(*manager, "Button1")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(*manager, "Button5")->isEnabled());
    EXPECT_FALSE(Find<QPushButton>(*manager, "Button2")->isEnabled());
    SaveShot(*manager, "theme-manager");
    ExpectInside(*manager);

    answers.push_back({true, "Rainy"});
    Click(*manager, "Button1");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], (std::pair<std::string, bool>{"", false}));
    EXPECT_EQ(Entries(*manager), (std::vector<std::string>{"標準", "Spring", "Rainy", "Summer", "Autumn"}));
    EXPECT_EQ(manager->Ids.Text(), "0\n1\n2\n5\n");

    // A cancelled name adds nothing.
    answers.push_back({false, ""});
    Click(*manager, "Button1");
    EXPECT_EQ(manager->Ids.Count(), 4);
    EXPECT_EQ(Get(kLumoraKey, "Thema", "1"), "<missing>"); // nothing written before OK

    Click(*manager, "Button3");
    EXPECT_EQ(manager->result(), QDialog::Accepted);
    EXPECT_EQ(Get(kLumoraKey, "Thema", "1"), "Rainy");
    EXPECT_EQ(Combo(*dlg), (std::vector<std::string>{"標準", "Spring", "Rainy", "Summer", "Autumn"}));
    EXPECT_EQ(dlg->Common().ThemeIds.Text(), "0\n1\n2\n5\n");
}

TEST_F(ThemeManager, AddingStopsAtTenThemes) {
    for (int id = 0; id < 9; ++id) Put(kLumoraKey, "Thema", std::to_string(id), 'T' + std::to_string(id));
    auto dlg = OpenSettings();
    auto manager = OpenManager(*dlg);
    answers.push_back({true, "Last"});
    Click(*manager, "Button1");
    EXPECT_EQ(manager->Ids.Count(), 10);
    EXPECT_EQ(manager->Ids[9], "9");
    EXPECT_FALSE(Find<QPushButton>(*manager, "Button1")->isEnabled());
    manager->Button1Click(); // even when called directly, an eleventh theme has no id
    EXPECT_EQ(manager->Ids.Count(), 10);
    EXPECT_EQ(asked.size(), 1u);
}

TEST_F(ThemeManager, TheBaseSettingsCanBeRenamedButNotDeleted) {
    Themes({{0, "Spring"}});
    auto dlg = OpenSettings();
    {
        auto manager = OpenManager(*dlg);
        Select(*manager, 0);
        EXPECT_TRUE(Find<QPushButton>(*manager, "Button5")->isEnabled());
        EXPECT_FALSE(Find<QPushButton>(*manager, "Button2")->isEnabled());
        manager->Button2Click();
        EXPECT_EQ(List(*manager)->count(), 2);
        answers.push_back({true, "Home"});
        Click(*manager, "Button5");
        EXPECT_EQ(asked.back(), (std::pair<std::string, bool>{"標準", true}));
        Click(*manager, "Button3");
    }
    EXPECT_EQ(Get(kLumoraKey, "Common", "DefStr"), "Home");
    EXPECT_EQ(Combo(*dlg)[0], "Home");

    // Back to the standard name, by an empty name or by typing it: stored as empty.
    for (const char* name : {"", "標準"}) {
        auto manager = OpenManager(*dlg);
        Select(*manager, 0);
        answers.push_back({true, name});
        Click(*manager, "Button5");
        EXPECT_EQ(List(*manager)->item(0)->text().toStdString(), "標準");
        Click(*manager, "Button3");
        EXPECT_EQ(Get(kLumoraKey, "Common", "DefStr"), "");
        EXPECT_EQ(Combo(*dlg)[0], "標準");
        Put(kLumoraKey, "Common", "DefStr", "Home");
        dlg->Common().DefStr = "Home";
    }
}

TEST_F(ThemeManager, RenamingAThemeNeedsANameAndReachesTheRegistryOnOk) {
    Themes({{0, "Spring"}, {1, "Summer"}});
    auto dlg = OpenSettings();
    auto manager = OpenManager(*dlg);
    Select(*manager, 2);
    answers.push_back({true, "Hot"});
    Click(*manager, "Button5");
    EXPECT_EQ(asked.back(), (std::pair<std::string, bool>{"Summer", false}));
    EXPECT_EQ(Entries(*manager)[2], "Hot");
    EXPECT_EQ(Get(kLumoraKey, "Thema", "1"), "Summer");
    Click(*manager, "Button3");
    EXPECT_EQ(Get(kLumoraKey, "Thema", "1"), "Hot");
    EXPECT_EQ(Combo(*dlg)[2], "Hot");
}

TEST_F(ThemeManager, DeletingTheDefaultThemeMakesTheBaseSettingsTheDefault) {
    Themes({{0, "Spring"}, {3, "Summer"}, {7, "Autumn"}});
    Put(kLumoraKey, "Common", "Default", "3");
    Put(ThemeKey(3), "Setting", "Interval", "9");
    auto dlg = OpenSettings();
    auto manager = OpenManager(*dlg);
    EXPECT_EQ(manager->DefaultSlot, 4);
    Select(*manager, 2); // Summer, id 3
    Click(*manager, "Button2");
    EXPECT_EQ(Entries(*manager), (std::vector<std::string>{"標準", "Spring", "Autumn"}));
    EXPECT_EQ(manager->DefaultSlot, 0);
    Click(*manager, "Button3");
    EXPECT_EQ(Get(kLumoraKey, "Common", "Default"), "");
    EXPECT_EQ(Get(kLumoraKey, "Thema", "3"), "<missing>");
    EXPECT_EQ(Get(ThemeKey(3), "Setting", "Interval"), "<missing>");
    EXPECT_EQ(Get(kLumoraKey, "Thema", "7"), "Autumn");
}

TEST_F(ThemeManager, DeletingAnotherThemeKeepsTheDefaultWhereverItIsListed) {
    Themes({{0, "Spring"}, {3, "Summer"}, {7, "Autumn"}});
    Put(kLumoraKey, "Common", "Default", "7");
    auto dlg = OpenSettings();
    ASSERT_EQ(dlg->CurrentSlot(), 8);
    auto manager = OpenManager(*dlg);
    Select(*manager, 1); // Spring, id 0, in front of the default
    Click(*manager, "Button2");
    Select(*manager, 1); // now Summer, id 3
    Click(*manager, "Button2");
    EXPECT_EQ(manager->DefaultSlot, 8);
    Click(*manager, "Button3");
    EXPECT_EQ(Get(kLumoraKey, "Common", "Default"), "7");
    EXPECT_EQ(Combo(*dlg), (std::vector<std::string>{"標準", "Autumn"}));
    EXPECT_EQ(Find<QComboBox>(*dlg, "ComboBox2")->currentIndex(), 1);
    EXPECT_EQ(dlg->CurrentSlot(), 8);
}

TEST_F(ThemeManager, DeletingTheShownThemeSwitchesTheDialogToTheBaseSettings) {
    Themes({{0, "Spring"}, {1, "Summer"}});
    Put(kLumoraKey, "Setting", "Interval", "7");
    Put(ThemeKey(1), "Setting", "Interval", "9");
    Put(kLumoraKey, "Common", "Default", "1");
    auto dlg = OpenSettings();
    auto* interval = Find<TIntEdit>(*dlg, "IntEdit1");
    ASSERT_EQ(dlg->CurrentSlot(), 2);
    EXPECT_EQ(interval->text(), "9");
    auto manager = OpenManager(*dlg);
    Select(*manager, 2);
    Click(*manager, "Button2");
    Click(*manager, "Button3");
    EXPECT_EQ(dlg->CurrentSlot(), 0);
    EXPECT_FALSE(dlg->SlotLoaded(2));
    EXPECT_EQ(interval->text(), "7");
    EXPECT_EQ(Find<QComboBox>(*dlg, "ComboBox2")->currentIndex(), 0);
    EXPECT_EQ(Combo(*dlg), (std::vector<std::string>{"標準", "Spring"}));
    EXPECT_EQ(Get(kLumoraKey, "Common", "Default"), "");
}

TEST_F(ThemeManager, ADeletedAndReaddedThemeKeepsItsIdButStartsFromDefaults) {
    Themes({{0, "Spring"}, {1, "Summer"}});
    Put(ThemeKey(1), "Setting", "Interval", "9");
    auto dlg = OpenSettings();
    // The theme was shown and edited before: its loaded record goes with the deletion.
    Find<QComboBox>(*dlg, "ComboBox2")->setCurrentIndex(2);
    dlg->ComboBox2Change();
    ASSERT_TRUE(dlg->SlotLoaded(2));
    Find<QComboBox>(*dlg, "ComboBox2")->setCurrentIndex(0);
    dlg->ComboBox2Change();

    auto manager = OpenManager(*dlg);
    Select(*manager, 2);
    Click(*manager, "Button2");
    answers.push_back({true, "Fresh"});
    Click(*manager, "Button1");
    EXPECT_EQ(manager->Ids.Text(), "0\n1\n");
    Click(*manager, "Button3");
    EXPECT_EQ(Get(kLumoraKey, "Thema", "1"), "Fresh");
    EXPECT_EQ(Get(ThemeKey(1), "Setting", "Interval"), "<missing>");
    EXPECT_FALSE(dlg->SlotLoaded(2));
    Find<QComboBox>(*dlg, "ComboBox2")->setCurrentIndex(2);
    dlg->ComboBox2Change();
    EXPECT_EQ(Find<TIntEdit>(*dlg, "IntEdit1")->text(), "5");
}

TEST_F(ThemeManager, CancelWritesNothingAndLeavesTheDialogAlone) {
    Themes({{0, "Spring"}, {1, "Summer"}});
    Put(kLumoraKey, "Common", "Default", "1");
    auto dlg = OpenSettings();
    const TRegistryTree before = store->Read();
    auto manager = OpenManager(*dlg);
    Select(*manager, 2);
    Click(*manager, "Button2");
    answers.push_back({true, "New"});
    Click(*manager, "Button1");
    Select(*manager, 0);
    answers.push_back({true, "Home"});
    Click(*manager, "Button5");
    Click(*manager, "Button4");
    EXPECT_EQ(manager->result(), QDialog::Rejected);
    EXPECT_TRUE(store->Read() == before);
    EXPECT_EQ(Combo(*dlg), (std::vector<std::string>{"標準", "Spring", "Summer"}));
    EXPECT_EQ(dlg->CurrentSlot(), 2);
    EXPECT_EQ(dlg->Common().ThemeIds.Count(), 2);
}

TEST_F(ThemeManager, InstallingPlugsEveryDialogIntoTheSettingsDialog) {
    TSettingsDialogHooks saved = SettingsDialogHooks();
    InstallSubDialogs();
    EXPECT_TRUE(SettingsDialogHooks().ThemeManager);
    EXPECT_TRUE(SettingsDialogHooks().Groups);
    EXPECT_TRUE(SettingsDialogHooks().PictureSize);
    EXPECT_TRUE(SettingsDialogHooks().SoundPreview);
    {
        auto dlg = OpenSettings();
        EXPECT_TRUE(Find<QPushButton>(*dlg, "Button10")->isEnabled());
    }
    SettingsDialogHooks() = saved;
}

} // namespace
} // namespace lumora::test
