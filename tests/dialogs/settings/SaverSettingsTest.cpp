#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>
#include <QToolButton>

#include <gtest/gtest.h>

#include "dialogs/controls/ColorComboBox.h"
#include "dialogs/controls/NumEdit.h"
#include "dialogs/settings/SaverSettings.h"
#include "framework/Forms.h"
#include "platform/devices/MidiDevices.h"
#include "platform/system/RegistryFile.h"
#include "platform/display/Screens.h"
#include "tests/engine/music/SaverMusicTestSupport.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

const std::string kBase = kLumoraKey;

template <typename T>
T* Find(QWidget& dlg, const char* name) {
    T* widget = dlg.findChild<T*>(name);
    if (!widget) throw std::runtime_error(std::string("no control ") + name);
    return widget;
}

class SettingsDialog : public ::testing::Test {
protected:
    test::TempDir dir;
    std::shared_ptr<TMemoryRegistryStore> store = std::make_shared<TMemoryRegistryStore>();
    FakeScreens screens{{TMonitor{Bounds(0, 0, 1920, 1080), true}}};
    std::unique_ptr<TFakeMidiDevices> midi;
    std::vector<std::string> messages;

    void SetUp() override {
        SetRegistryStore(store);
        SetScreens(&screens);
        dir.WriteFile("devices/devices.conf", "midi \"Fake Synthesizer\" synth\nmidi \"Fake MIDI Port\"\n");
        midi = std::make_unique<TFakeMidiDevices>(dir.File("devices"));
        SetMidiDevices(midi.get());
        SetMessageReporter([this](const std::string& text, const std::string&, TMsgIcon, int) {
            messages.push_back(text);
            return 1;
        });
    }
    void TearDown() override {
        SetMessageReporter(nullptr);
        SetMidiDevices(nullptr);
        SetScreens(nullptr);
        SetRegistryStore(std::make_shared<TMemoryRegistryStore>());
        SettingsDialogHooks().PictureFolder = nullptr;
    }
    void Put(const std::string& key, const std::string& section, const std::string& name, const std::string& value) {
        TRegIniFile ini(key);
        ini.WriteString(section, name, value);
    }
    std::string Get(const std::string& key, const std::string& section, const std::string& name) {
        TRegIniFile ini(key);
        return ini.ReadString(section, name, "<missing>");
    }
    static void Ok(TSaverSettings& dlg) { QTest::mouseClick(Find<QPushButton>(dlg, "Button3"), Qt::LeftButton); }
    static void ChooseTheme(TSaverSettings& dlg, int index) {
        Find<QComboBox>(dlg, "ComboBox2")->setCurrentIndex(index);
        dlg.ComboBox2Change();
    }
    static int Checked(TSaverSettings& dlg) {
        auto* list = Find<QListWidget>(dlg, "CheckListBox1");
        int n = 0;
        for (int i = 0; i < list->count(); ++i) n += list->item(i)->checkState() == Qt::Checked;
        return n;
    }
};

TEST_F(SettingsDialog, OkOnAnEmptyRegistryWritesTheModelDefaults) {
    {
        TSaverSettings dlg;
        dlg.show();
        EXPECT_EQ(dlg.windowTitle().toStdString(), "Lumoraの設定");
        EXPECT_EQ(Find<QComboBox>(dlg, "ComboBox2")->itemText(0).toStdString(), "標準");
        EXPECT_EQ(Find<QComboBox>(dlg, "MidiDevice")->count(), 2);
        EXPECT_EQ(Find<QComboBox>(dlg, "MidiDevice")->currentText().toStdString(), "Fake Synthesizer");
        Ok(dlg);
        EXPECT_EQ(dlg.result(), QDialog::Accepted);
    }
    TRegistryTree written = store->Read();

    auto reference = std::make_shared<TMemoryRegistryStore>();
    SetRegistryStore(reference);
    {
        TRegCommon common(false);
        TRegData data(kBase);
        data.Load();
        // The first MIDI device stands selected, and OK stores what stands selected.
        data.MidiDevice = "Fake Synthesizer";
        data.Save();
        common.SaveCommon();
    }
    EXPECT_TRUE(written == reference->Read()) << FormatRegistryText(written) << "\n----\n"
                                              << FormatRegistryText(reference->Read());
    EXPECT_TRUE(messages.empty());
}

TEST_F(SettingsDialog, ThemeEditsSurviveSwitchingAndOkSavesAll) {
    Put(kBase, "Thema", "0", "Spring");
    Put(kBase, "Thema", "1", "Summer");
    TSaverSettings dlg;
    dlg.show();
    auto* interval = Find<TIntEdit>(dlg, "IntEdit1");
    auto* combo = Find<QComboBox>(dlg, "ComboBox2");
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(2).toStdString(), "Summer");
    ChooseTheme(dlg, 1);
    EXPECT_EQ(dlg.CurrentSlot(), 1);
    interval->setText("11");
    ChooseTheme(dlg, 2);
    EXPECT_EQ(interval->text(), "5");
    interval->setText("22");
    ChooseTheme(dlg, 1);
    EXPECT_EQ(interval->text(), "11");
    EXPECT_EQ(Get(kBase + "\\T0", "Setting", "Interval"), "<missing>"); // nothing saved yet
    Ok(dlg);
    EXPECT_EQ(Get(kBase + "\\T0", "Setting", "Interval"), "11");
    EXPECT_EQ(Get(kBase + "\\T1", "Setting", "Interval"), "22");
    EXPECT_EQ(Get(kBase, "Common", "Default"), "0"); // the theme shown last
}

TEST_F(SettingsDialog, ChoosingTheThemeShownFromTheListKeepsItsEdits) {
    Put(kBase, "Thema", "0", "Spring");
    TSaverSettings dlg;
    dlg.show();
    auto* interval = Find<TIntEdit>(dlg, "IntEdit1");
    auto* combo = Find<QComboBox>(dlg, "ComboBox2");
    auto choose = [&](int row) {
        QTest::keyClick(combo, Qt::Key_F4); // opens the list
        ASSERT_TRUE(combo->view()->isVisible());
        combo->view()->setCurrentIndex(combo->model()->index(row, 0));
        QTest::keyClick(combo->view(), Qt::Key_Return);
    };
    interval->selectAll();
    QTest::keyClicks(interval, "11");
    choose(0);
    EXPECT_EQ(interval->text(), "11");
    choose(1);
    EXPECT_EQ(dlg.CurrentSlot(), 1);
    EXPECT_EQ(interval->text(), "5");
    choose(0);
    EXPECT_EQ(interval->text(), "11");
    Ok(dlg);
    EXPECT_EQ(Get(kBase, "Setting", "Interval"), "11");
}

TEST_F(SettingsDialog, EnterOnAnIntervalOutOfRangeKeepsTheDialogOpen) {
    TSaverSettings dlg;
    dlg.show();
    auto* interval = Find<TIntEdit>(dlg, "IntEdit1");
    auto* tabs = Find<QTabWidget>(dlg, "PageControl1");
    tabs->setCurrentIndex(tabs->indexOf(interval->parentWidget()->parentWidget()));
    ASSERT_TRUE(interval->isVisible());
    interval->setFocus();
    interval->selectAll();
    QTest::keyClicks(interval, "1000");
    QTest::keyClick(interval, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(messages, std::vector<std::string>{"1 から 999 の間の値でなければなりません"});
    EXPECT_EQ(dlg.focusWidget(), interval);
    EXPECT_EQ(Get(kBase, "Setting", "Interval"), "<missing>");
    interval->selectAll();
    QTest::keyClicks(interval, "30");
    QTest::keyClick(interval, Qt::Key_Return);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(Get(kBase, "Setting", "Interval"), "30");
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(SettingsDialog, OwnerWindowIsDisabledWhileTheDialogIsUp) {
    QWidget owner;
    owner.show();
    {
        TSaverSettings dlg(&owner);
        dlg.show();
        EXPECT_EQ(dlg.OwnerWindow, &owner);
        EXPECT_FALSE(owner.isEnabled());
        EXPECT_TRUE(dlg.isEnabled());
        QTest::mouseClick(Find<QPushButton>(dlg, "Button4"), Qt::LeftButton);
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
        EXPECT_FALSE(owner.isEnabled());
    }
    EXPECT_TRUE(owner.isEnabled());
}

TEST_F(SettingsDialog, CancelLeavesTheRegistryFileByteIdentical) {
    std::string path = dir.File("registry.reg");
    SetRegistryStore(std::make_shared<TFileRegistryStore>(path));
    Put(kBase, "Thema", "3", "Night");
    {
        TRegData d(kBase);
        d.Load();
        d.Save();
    }
    std::string before = test::ReadFile(path);
    {
        TSaverSettings dlg;
        dlg.show();
        ChooseTheme(dlg, 1);
        Find<TIntEdit>(dlg, "IntEdit1")->setText("42");
        Find<QPushButton>(dlg, "Button9")->click();
        QTest::mouseClick(Find<QPushButton>(dlg, "Button4"), Qt::LeftButton);
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    }
    EXPECT_EQ(test::ReadFile(path), before);
}

TEST_F(SettingsDialog, FailedSaveIsReportedAndTheDialogStaysOpen) {
    Put(kBase, "Thema", "0", "A");
    TSaverSettings dlg;
    dlg.show();
    ChooseTheme(dlg, 1);
    Find<TIntEdit>(dlg, "IntEdit1")->setText("9");
    int writes = store->WriteCount();
    store->FailWrites = true;
    Ok(dlg);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_NE(dlg.result(), QDialog::Accepted);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("設定を保存できませんでした。", 0), 0u);
    EXPECT_EQ(store->WriteCount(), writes);
    store->FailWrites = false;
    Ok(dlg); // the edits are still there and now saved, base and theme together
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(store->WriteCount(), writes + 1);
    EXPECT_EQ(Get(kBase + "\\T0", "Setting", "Interval"), "9");
}

TEST_F(SettingsDialog, LastStopConditionCannotBeCleared) {
    TSaverSettings dlg;
    dlg.show();
    QCheckBox* boxes[] = {Find<QCheckBox>(dlg, "CheckKey"), Find<QCheckBox>(dlg, "CheckMouseMove"),
                          Find<QCheckBox>(dlg, "CheckMouseClick"), Find<QCheckBox>(dlg, "CheckPowerOFF")};
    for (int i = 1; i < 4; ++i) QTest::mouseClick(boxes[i], Qt::LeftButton, {}, QPoint(6, 8));
    EXPECT_TRUE(boxes[0]->isChecked());
    EXPECT_FALSE(boxes[0]->isEnabled());
    QTest::mouseClick(boxes[0], Qt::LeftButton, {}, QPoint(6, 8));
    EXPECT_TRUE(boxes[0]->isChecked());
    boxes[2]->setChecked(true);
    for (QCheckBox* box : boxes) EXPECT_TRUE(box->isEnabled());
}

TEST_F(SettingsDialog, SoundSwitchDrivesItsControls) {
    Put(kBase, "Setting", "UseSound", "1");
    Put(kBase, "Setting", "SoundFolder", "/music");
    Put(kBase, "Setting", "Grouping", "1");
    TSaverSettings dlg;
    dlg.show();
    auto* sound = Find<QCheckBox>(dlg, "CheckBox2");
    auto* off = Find<QRadioButton>(dlg, "RadioButton1");
    auto* on = Find<QRadioButton>(dlg, "RadioButton2");
    EXPECT_TRUE(on->isChecked());
    EXPECT_TRUE(Find<QComboBox>(dlg, "ComboBox9")->isEnabled());
    sound->setChecked(false);
    EXPECT_TRUE(off->isChecked());
    EXPECT_FALSE(on->isChecked());
    for (const char* name : {"EdtSndFolder", "ComboBox9", "RadioButton1", "RadioButton2", "CheckBox9"})
        EXPECT_FALSE(Find<QWidget>(dlg, name)->isEnabled()) << name;
    EXPECT_FALSE(Find<QPushButton>(dlg, "Button2")->isEnabled());
    // Checked, but with no folder: saved as off.
    sound->setChecked(true);
    Find<QLineEdit>(dlg, "EdtSndFolder")->clear();
    Ok(dlg);
    EXPECT_EQ(Get(kBase, "Setting", "UseSound"), "0");
    EXPECT_EQ(Get(kBase, "Setting", "Grouping"), "0");
}

TEST_F(SettingsDialog, ShuffledOrdersHaveNoDirection) {
    TSaverSettings dlg;
    dlg.show();
    auto* order = Find<QComboBox>(dlg, "ComboBox4");
    auto* direction = Find<QComboBox>(dlg, "ComboBox5");
    auto* soundOrder = Find<QComboBox>(dlg, "ComboBox9");
    auto* soundDirection = Find<QComboBox>(dlg, "ComboBox10");
    for (int mode = 0; mode < 6; ++mode) {
        order->setCurrentIndex(mode);
        soundOrder->setCurrentIndex(mode);
        bool directed = mode == 0 || mode == 4 || mode == 5;
        EXPECT_EQ(direction->isEnabled(), directed) << mode;
        EXPECT_EQ(soundDirection->isEnabled(), directed) << mode;
    }
}

TEST_F(SettingsDialog, EffectButtonsAndPresets) {
    TSaverSettings dlg;
    dlg.show();
    auto* list = Find<QListWidget>(dlg, "CheckListBox1");
    ASSERT_EQ(list->count(), 88);
    EXPECT_EQ(list->item(71)->text().toStdString(), "霧");
    EXPECT_EQ(Checked(dlg), 64);
    Find<QPushButton>(dlg, "Button7")->click();
    EXPECT_EQ(Checked(dlg), 88);
    Find<QPushButton>(dlg, "Button6")->click();
    EXPECT_EQ(Checked(dlg), 0);
    Find<QPushButton>(dlg, "Button9")->click();
    EXPECT_EQ(Checked(dlg), 9);
    Find<QPushButton>(dlg, "Button8")->click();
    EXPECT_EQ(Checked(dlg), 64);
    list->item(2)->setCheckState(Qt::Checked);
    Ok(dlg);
    EXPECT_EQ(Get(kBase, "Method", "Method2"), "1");
    EXPECT_EQ(Get(kBase, "Method", "Method14"), "0");
}

TEST_F(SettingsDialog, EqualizerSliderStoresThirtyTwoMinusPosition) {
    Put(kBase, "EFECT", "Equalizer", "1");
    Put(kBase, "EFECT", "EquaVal3", "30");
    TSaverSettings dlg;
    dlg.show();
    auto* band3 = Find<QSlider>(dlg, "Slider3");
    EXPECT_EQ(band3->value(), 2);
    EXPECT_FLOAT_EQ(dlg.EqGains[2], 15.0f);
    auto* band1 = Find<QSlider>(dlg, "Slider1");
    band1->setValue(16);
    EXPECT_FLOAT_EQ(dlg.EqGains[0], 1.0f); // +1 dB in the middle
    band1->setValue(0);
    EXPECT_FLOAT_EQ(dlg.EqGains[0], 17.0f);
    band1->setValue(16);
    Find<QSlider>(dlg, "EchoSlider")->setValue(4);
    Ok(dlg);
    EXPECT_EQ(Get(kBase, "EFECT", "EquaVal1"), "16");
    EXPECT_EQ(Get(kBase, "EFECT", "EquaVal3"), "30");
    EXPECT_EQ(Get(kBase, "EFECT", "EchoVal"), "28");
}

TEST_F(SettingsDialog, BadStoredValuesStillOpen) {
    Put(kBase, "Volume", "VolContl", "1");
    Put(kBase, "Volume", "STimeHour", "25");
    Put(kBase, "Volume", "ETimeMin", "99");
    Put(kBase, "Setting", "OrdRandom", "17");
    Put(kBase, "Setting", "Interval", "0");
    Put(kBase, "LOGO", "LogoImgPos", "-3");
    Put(kBase, "Setting", "SizeAdjust", "2");
    Put(kBase, "Setting", "SizeAdjustX", "-100");
    Put(kBase, "Setting", "SizeAdjustY", "0");
    Put(kBase, "Setting", "CapDisp", "1");
    Put(kBase, "Font", "CapSize", "-9999");
    Put(kBase, "Thema", "x", "Stray");
    Put(kBase, "Thema", "10", "Eleventh");
    Put(kBase, "Thema", "4", "Four");
    Put(kBase, "Common", "Default", "10");
    TSaverSettings dlg;
    dlg.show();
    EXPECT_EQ(dlg.CurrentSlot(), 0);
    auto* combo = Find<QComboBox>(dlg, "ComboBox2");
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(1).toStdString(), "Four");
    EXPECT_EQ(Find<QTimeEdit>(dlg, "DateTimePicker1")->time(), QTime(0, 0, 0));
    EXPECT_EQ(Find<QTimeEdit>(dlg, "DateTimePicker2")->time(), QTime(23, 59, 59));
    EXPECT_EQ(Find<QComboBox>(dlg, "ComboBox4")->currentIndex(), 5);
    EXPECT_EQ(Find<TIntEdit>(dlg, "IntEdit1")->text(), "1");
    EXPECT_EQ(Find<QComboBox>(dlg, "LogoPos")->currentIndex(), 0);
    // Numbers the picture-size and font dialogs could not have set come in as their nearest ends.
    EXPECT_EQ(Find<QLabel>(dlg, "Label4")->text().toStdString(), "64×64に合わせる");
    ChooseTheme(dlg, 1);
    EXPECT_EQ(dlg.CurrentSlot(), 5);
    Ok(dlg);
    EXPECT_EQ(Get(kBase, "Setting", "Interval"), "1");
    EXPECT_EQ(Get(kBase, "Setting", "OrdRandom"), "5");
    EXPECT_EQ(Get(kBase, "Setting", "SizeAdjustX"), "64");
    EXPECT_EQ(Get(kBase, "Setting", "SizeAdjustY"), "64");
    EXPECT_EQ(Get(kBase, "Font", "CapSize"), "1");
    EXPECT_EQ(Get(kBase, "Font", "CapHeight"), "-1");
    EXPECT_EQ(Get(kBase, "Thema", "x"), "Stray");
    EXPECT_EQ(Get(kBase, "Thema", "10"), "Eleventh");
    EXPECT_EQ(Get(kBase, "Common", "Default"), "4");
}

// A user who never opened the effects tab, with no device stored or with one that is not attached
// now: the tab shows the first attached device, a plain OK stores that one, and the saver then
// plays a MIDI file through it.
TEST(SettingsDialogMidi, PlainOkStoresTheDeviceShownAndTheSaverPlaysThroughIt) {
    for (const char* stored : {"", "USB Synth"}) {
        test::MusicHarness h;
        {
            TRegIniFile ini(kLumoraKey);
            if (*stored)
                ini.WriteString("EFECT", "MidiDevice", stored);
            else
                ini.DeleteKey("EFECT", "MidiDevice");
        }
        h.dir.WriteFile("music/a.mid", test::OneNoteMidi(480));
        {
            TSaverSettings dlg;
            dlg.show();
            EXPECT_EQ(Find<QComboBox>(dlg, "MidiDevice")->currentText().toStdString(), "Fake Synthesizer")
                << stored;
            QTest::mouseClick(Find<QPushButton>(dlg, "Button3"), Qt::LeftButton);
            ASSERT_EQ(dlg.result(), QDialog::Accepted);
        }
        TRegIniFile ini(kLumoraKey, TRegIniFile::ReadOnly);
        EXPECT_EQ(ini.ReadString("EFECT", "MidiDevice", "<missing>"), "Fake Synthesizer") << stored;
        h.Open();
        h.Run(200);
        EXPECT_EQ(h.Notice(), "") << stored;
        EXPECT_NE(h.MidiLog().find("open 0 \"Fake Synthesizer\""), std::string::npos)
            << stored << h.MidiLog();
        EXPECT_NE(h.MidiLog().find("short 0 90 3C 64"), std::string::npos) << stored;
    }
}

TEST_F(SettingsDialog, PickedMidiDeviceIsStored) {
    TSaverSettings dlg;
    dlg.show();
    auto* devices = Find<QComboBox>(dlg, "MidiDevice");
    devices->setCurrentIndex(1);
    Ok(dlg);
    EXPECT_EQ(Get(kBase, "EFECT", "MidiDevice"), "Fake MIDI Port");
}

TEST_F(SettingsDialog, PickingTheSameFolderAgainKeepsTheGroupsAndANewOneSwitchesGroupingOff) {
    const std::string pictures = dir.File("pictures"), music = dir.File("music"), home = dir.File("home");
    for (const std::string& folder : {pictures, music, home}) std::filesystem::create_directories(folder);
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    setenv("HOME", home.c_str(), 1);
    struct Row {
        bool Sound;
        std::string Stored, Chosen;
        bool Kept;
    } rows[] = {
        {false, pictures, pictures, true},
        {false, pictures, pictures + "/", true},
        {true, music, music, true},
        {false, pictures, music, false},
        {true, music, pictures, false},
        {false, "", pictures, false}, // a new user's picker starts at home
        {true, "/no/such/folder", music, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE((row.Sound ? "sound " : "pictures ") + row.Stored + " -> " + row.Chosen);
        Put(kBase, "Setting", "UseSound", "1");
        Put(kBase, "Setting", "Folder", row.Sound ? pictures : row.Stored);
        Put(kBase, "Setting", "SoundFolder", row.Sound ? row.Stored : music);
        Put(kBase, "Setting", "Grouping", "1");
        Put(kBase, "GroupDef", "GP0", "t.mp3");
        Put(kBase, "GP0", "GP0-0", "p.jpg");
        TFolderPick asked;
        auto pick = [&](TSaverSettings&, TFolderPick& p) {
            asked = p;
            p.Chosen = row.Chosen;
            return true;
        };
        (row.Sound ? SettingsDialogHooks().SoundFolder : SettingsDialogHooks().PictureFolder) = pick;
        TSaverSettings dlg;
        dlg.show();
        Find<QToolButton>(dlg, row.Sound ? "SpeedButton2" : "SpeedButton1")->click();
        EXPECT_EQ(asked.StartFolder, std::filesystem::is_directory(row.Stored) ? row.Stored : home);
        EXPECT_EQ(asked.Mask, row.Sound ? "*.mp3;*.wav;*.mid;*.wma;*.ogg;*.mod;*.xm;*.it;*.s3m"
                                        : "*.jpg;*.jpeg;*.bmp;*.gif;*.tif;*.tiff;*.png;*.pcx;*.tga");
        EXPECT_EQ(Find<QRadioButton>(dlg, "RadioButton2")->isChecked(), row.Kept);
        EXPECT_NE(Find<QRadioButton>(dlg, "RadioButton1")->isChecked(), row.Kept);
        Ok(dlg);
        EXPECT_EQ(Get(kBase, "Setting", row.Sound ? "SoundFolder" : "Folder"), row.Kept ? row.Stored : row.Chosen);
        EXPECT_EQ(Get(kBase, "Setting", "Grouping"), row.Kept ? "1" : "0");
        EXPECT_EQ(Get(kBase, "GroupDef", "GP0"), row.Kept ? "t.mp3" : "<missing>");
        EXPECT_EQ(Get(kBase, "GP0", "GP0-0"), row.Kept ? "p.jpg" : "<missing>");
        SettingsDialogHooks().SoundFolder = nullptr;
        SettingsDialogHooks().PictureFolder = nullptr;
    }
    if (oldHome)
        setenv("HOME", savedHome.c_str(), 1);
    else
        unsetenv("HOME");
}

TEST_F(SettingsDialog, ThemeManagerAndPictureSizeSeams) {
    Put(kBase, "Thema", "2", "Rain");
    Put(kBase, "Common", "Default", "2");
    {
        TSaverSettings dlg;
        EXPECT_FALSE(Find<QPushButton>(dlg, "Button10")->isEnabled()); // nothing plugged in
        EXPECT_FALSE(Find<QToolButton>(dlg, "SpeedButton4")->isEnabled());
    }
    // A manager that deletes the theme shown and switches to the base settings.
    SettingsDialogHooks().ThemeManager = [](TSaverSettings& d) {
        d.Common().ThemeIds.Clear();
        d.Common().ThemeNames.Clear();
        d.SelectTheme(0);
        d.FreeSlot(3);
        return true;
    };
    SettingsDialogHooks().PictureSize = [](TSaverSettings&, int& mode, int& x, int& y) {
        mode = 2, x = 800, y = 600;
        return true;
    };
    TSaverSettings dlg;
    dlg.show();
    EXPECT_EQ(dlg.CurrentSlot(), 3);
    Find<QPushButton>(dlg, "Button10")->click();
    EXPECT_EQ(dlg.CurrentSlot(), 0);
    EXPECT_TRUE(dlg.SlotLoaded(0));
    EXPECT_EQ(Find<QComboBox>(dlg, "ComboBox2")->count(), 1);
    QTest::mouseDClick(Find<QLabel>(dlg, "Label4"), Qt::LeftButton);
    EXPECT_EQ(Find<QLabel>(dlg, "Label4")->text().toStdString(), "800×600に合わせる");
    EXPECT_EQ(dlg.CurrentData().SizeAdjust, 2);
    SettingsDialogHooks().ThemeManager = nullptr;
    SettingsDialogHooks().PictureSize = nullptr;
}

TEST_F(SettingsDialog, SizeTextForEachMode) {
    EXPECT_EQ(TSaverSettings::SizeText(0, 1, 2), "サイズを変更しない");
    EXPECT_EQ(TSaverSettings::SizeText(1, 640, 480), "640×480に収める");
    EXPECT_EQ(TSaverSettings::SizeText(2, 800, 600), "800×600に合わせる");
    EXPECT_EQ(TSaverSettings::SizeText(7, 1, 1), "1×1に合わせる");
}

TEST_F(SettingsDialog, ScreenshotOfEveryTab) {
    Put(kBase, "Setting", "UseSound", "1");
    Put(kBase, "Setting", "SoundFolder", "/home/me/Music");
    Put(kBase, "Setting", "Folder", "/home/me/Pictures");
    Put(kBase, "Volume", "VolContl", "1");
    TSaverSettings dlg;
    dlg.show();
    auto* tabs = Find<QTabWidget>(dlg, "PageControl1");
    ASSERT_EQ(tabs->count(), 5);
    std::string out = std::string(LUMORA_BINARY_DIR) + "/artefacts/settings";
    std::filesystem::create_directories(out);
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QApplication::processEvents();
        QImage shot = dlg.grab().toImage();
        ASSERT_EQ(shot.size(), QSize(520, 426));
        std::string file = out + "/tab" + std::to_string(i + 1) + ".png";
        EXPECT_TRUE(shot.save(QString::fromStdString(file)));
        // Every control of the tab lies inside the page, so nothing is cut off.
        QWidget* page = tabs->widget(i);
        for (QWidget* child : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(page->rect().contains(child->geometry())) << child->objectName().toStdString();
    }
}

} // namespace
} // namespace lumora
