#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <QPixmap>

#include <gtest/gtest.h>

#include "engine/settings/Settings.h"
#include "platform/display/CursorList.h"
#include "platform/system/Random.h"
#include "platform/display/Screens.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

const std::string kBase = kLumoraKey;

std::string Time(int h, int m, int s) { return Format("%02d:%02d:%02d", h, m, s); }

class Settings : public ::testing::Test {
protected:
    std::shared_ptr<TMemoryRegistryStore> store = std::make_shared<TMemoryRegistryStore>();
    FakeScreens screens{{TMonitor{Bounds(0, 0, 1920, 1080), true}, TMonitor{Bounds(1920, 0, 1280, 1024), false}}};

    void SetUp() override {
        SetRegistryStore(store);
        SetScreens(&screens);
    }
    void TearDown() override {
        SetScreens(nullptr);
        SetRegistryStore(std::make_shared<TMemoryRegistryStore>());
    }
    void Put(const std::string& key, const std::string& section, const std::string& name, const std::string& value) {
        TRegIniFile ini(key);
        ini.WriteString(section, name, value);
    }
    std::string Get(const std::string& key, const std::string& section, const std::string& name) {
        TRegIniFile ini(key);
        return ini.ReadString(section, name, "<missing>");
    }
    std::vector<std::string> Sections(const std::string& key) {
        TRegIniFile ini(key);
        TStringList names;
        ini.ReadSections(names);
        std::vector<std::string> out;
        for (int i = 0; i < names.Count(); ++i) out.push_back(names[i]);
        return out;
    }
};

TEST_F(Settings, EmptyRegistryGivesEveryDefault) {
    TRegData d(kBase);
    d.Load();
    EXPECT_EQ(d.Interval, 5);
    EXPECT_EQ(d.SndInterval, 0);
    EXPECT_EQ(d.Folder, "");
    EXPECT_FALSE(d.UseSound);
    EXPECT_EQ(d.BackGround, clBlack);
    EXPECT_TRUE(d.DispTitle);
    EXPECT_TRUE(d.LogoSpectrum);
    EXPECT_FALSE(d.UseTitle);
    EXPECT_TRUE(d.TitleTrans);
    EXPECT_EQ(d.LogoImgPos, 2);
    EXPECT_TRUE(d.PosRandom);
    EXPECT_EQ(d.OrdRandom, 2);
    EXPECT_EQ(d.SndRandom, 2);
    EXPECT_EQ(d.SizeAdjust, 1);
    EXPECT_EQ(d.SizeAdjustX, 1344); // 70 % of the first monitor
    EXPECT_EQ(d.SizeAdjustY, 756);
    EXPECT_TRUE(d.CImgFilter);
    EXPECT_TRUE(d.StopOnKey && d.StopOnMouseMove && d.StopOnMouseClick && d.StopOnPwrSave);
    EXPECT_EQ(d.Method, DefaultMethodSwitches());
    EXPECT_EQ(d.ChgSpeed, 5);
    EXPECT_EQ(d.CapDisp, 0);
    EXPECT_EQ(d.CapFont.Name, "ＭＳ Ｐゴシック");
    EXPECT_EQ(d.CapFont.Size(), 9);
    EXPECT_EQ(d.CapFont.Charset, 128);
    EXPECT_EQ(d.CapFont.Color, clWhite);
    EXPECT_FALSE(d.VolContl);
    EXPECT_TRUE(d.MsVolChg);
    EXPECT_EQ(d.MsVol, 65535);
    EXPECT_EQ(d.WaveVol, 65535);
    EXPECT_EQ(d.MidiVol, 65535);
    EXPECT_EQ(d.MuteWaveVol, 0);
    EXPECT_EQ(d.STimeHour + d.STimeMin + d.STimeSec, 0);
    EXPECT_EQ(d.ETimeHour, 23);
    EXPECT_EQ(d.ETimeMin, 59);
    EXPECT_EQ(d.ETimeSec, 59);
    for (int band = 1; band <= 10; ++band) EXPECT_EQ(d.EquaVal[band], 16);
    EXPECT_EQ(d.EchoVal, 16);
    EXPECT_EQ(d.ReverbVal, 16);
    EXPECT_EQ(d.MidiDevice, "");
    EXPECT_EQ(d.ImgBtnState, 2);
    EXPECT_EQ(d.SndBtnState, 2);
    EXPECT_TRUE(d.ImgPreview && d.SndPreview);
    EXPECT_FALSE(d.MultiMon);
    // Reading wrote nothing, not even the missing key.
    TRegCommon common(false);
    EXPECT_EQ(store->WriteCount(), 0);
}

TEST_F(Settings, SaveThenLoadRoundTripsEveryField) {
    TRegData a(kBase + "\\T3");
    a.Load();
    a.Interval = 17;
    a.SndInterval = 3;
    a.Folder = "/pics/写真";
    a.SoundFolder = "/music";
    a.SFolder = a.UseSound = a.SSoundFolder = true;
    a.BackGround = RGB(1, 2, 3);
    a.DispTitle = a.UseTitle = true;
    a.TitleTrans = false;
    a.TitleBmp = "/logo.bmp";
    a.LogoImgPos = 4;
    a.PosRandom = false;
    a.OrdRandom = 5;
    a.SndRandom = 1;
    a.ImgSort = 1;
    a.SndSort = 1;
    a.SizeAdjust = 2;
    a.SizeAdjustX = 640;
    a.SizeAdjustY = 480;
    a.CImgFilter = false;
    a.StopOnKey = a.StopOnMouseMove = false;
    for (int i = 0; i < EffectCount; ++i) a.Method[i] = i % 3 == 0;
    a.ChgSpeed = 10;
    a.CapDisp = 2;
    a.CapFont.Name = "IPAPGothic";
    a.CapFont.Charset = 1;
    a.CapFont.SetSize(14);
    a.CapFont.Color = clYellow;
    a.CapFont.Style = 0x05;
    a.CapFont.Pitch = TFontPitch::fpFixed;
    a.VolContl = true;
    a.MsVolChg = true;
    a.MsVol = 1000;
    a.WaveVol = 2000;
    a.MidiVol = 3000;
    a.MuteWaveVol = 4;
    a.MuteMidiVol = 5;
    a.TimeZone = 2;
    a.STimeHour = 22, a.STimeMin = 30, a.STimeSec = 15;
    a.ETimeHour = 6, a.ETimeMin = 0, a.ETimeSec = 1;
    a.Equalizer = a.Echo = a.Reverb = a.Flanger = true;
    for (int band = 1; band <= 10; ++band) a.EquaVal[band] = band * 3;
    a.EchoVal = 7;
    a.ReverbVal = 30;
    a.MidiDevice = "Midi Through Port-0";
    a.MultiMon = true;
    a.Save();

    TRegData b(kBase + "\\T3");
    b.Load();
    EXPECT_EQ(b.Interval, 17);
    EXPECT_EQ(b.SndInterval, 3);
    EXPECT_EQ(b.Folder, "/pics/写真");
    EXPECT_EQ(b.SoundFolder, "/music");
    EXPECT_TRUE(b.SFolder && b.UseSound && b.SSoundFolder);
    EXPECT_EQ(b.BackGround, RGB(1, 2, 3));
    EXPECT_TRUE(b.UseTitle);
    EXPECT_FALSE(b.TitleTrans);
    EXPECT_FALSE(b.LogoSpectrum); // not read while the user's logo is used
    EXPECT_EQ(b.TitleBmp, "/logo.bmp");
    EXPECT_EQ(b.LogoImgPos, 4);
    EXPECT_FALSE(b.PosRandom);
    EXPECT_EQ(b.OrdRandom, 5);
    EXPECT_EQ(b.SndRandom, 1);
    EXPECT_EQ(b.ImgSort + b.SndSort, 2);
    EXPECT_EQ(b.SizeAdjust, 2);
    EXPECT_EQ(b.SizeAdjustX, 640);
    EXPECT_EQ(b.SizeAdjustY, 480);
    EXPECT_FALSE(b.CImgFilter || b.StopOnKey || b.StopOnMouseMove);
    EXPECT_TRUE(b.StopOnMouseClick && b.StopOnPwrSave);
    EXPECT_EQ(b.Method, a.Method);
    EXPECT_EQ(b.ChgSpeed, 10);
    EXPECT_EQ(b.CapDisp, 2);
    EXPECT_EQ(b.CapFont.Name, "IPAPGothic");
    EXPECT_EQ(b.CapFont.Charset, 1);
    EXPECT_EQ(b.CapFont.Size(), 14);
    EXPECT_EQ(b.CapFont.Height(), a.CapFont.Height());
    EXPECT_EQ(b.CapFont.Color, clYellow);
    EXPECT_EQ(b.CapFont.Style, 0x05);
    EXPECT_EQ(b.CapFont.Pitch, TFontPitch::fpFixed);
    EXPECT_EQ(b.MsVol, 1000);
    EXPECT_EQ(b.WaveVol, 2000);
    EXPECT_EQ(b.MidiVol, 3000);
    EXPECT_EQ(b.MuteWaveVol, 4);
    EXPECT_EQ(b.MuteMidiVol, 5);
    EXPECT_EQ(b.TimeZone, 2);
    EXPECT_EQ(Time(b.STimeHour, b.STimeMin, b.STimeSec), Time(22, 30, 15));
    EXPECT_EQ(Time(b.ETimeHour, b.ETimeMin, b.ETimeSec), Time(6, 0, 1));
    EXPECT_EQ(b.EquaVal, a.EquaVal);
    EXPECT_EQ(b.EchoVal, 7);
    EXPECT_EQ(b.ReverbVal, 30);
    EXPECT_TRUE(b.Flanger);
    EXPECT_EQ(b.MidiDevice, "Midi Through Port-0");
    EXPECT_TRUE(b.MultiMon);
    // Values are strings: integers in decimal, Booleans as digits, colours by name.
    EXPECT_EQ(Get(kBase + "\\T3", "Method", "Method0"), "1");
    EXPECT_EQ(Get(kBase + "\\T3", "Method", "Method1"), "0");
    EXPECT_EQ(Get(kBase + "\\T3", "Font", "CapColor"), "clYellow");
    EXPECT_EQ(Get(kBase + "\\T3", "Setting", "BackGround"), "$00030201");
}

TEST_F(Settings, SwitchedOffFeaturesReadAsDefaultsAndAreOverwritten) {
    Put(kBase, "Setting", "UseSound", "0");
    Put(kBase, "Setting", "SoundFolder", "/music");
    Put(kBase, "Setting", "SSoundFolder", "1");
    Put(kBase, "Setting", "Grouping", "1");
    Put(kBase, "Volume", "VolContl", "0");
    Put(kBase, "Volume", "MsVol", "5");
    Put(kBase, "Volume", "TimeZone", "2");
    Put(kBase, "Volume", "STimeHour", "3");
    Put(kBase, "EFECT", "EchoVal", "2");
    Put(kBase, "EFECT", "EquaVal4", "1");
    Put(kBase, "LOGO", "DispTitle", "0");
    Put(kBase, "LOGO", "UseTitle", "1");
    Put(kBase, "LOGO", "TitleTrans", "0");
    Put(kBase, "Setting", "CapDisp", "0");
    Put(kBase, "Font", "CapName", "Other");
    TRegData d(kBase);
    d.Load();
    EXPECT_EQ(d.SoundFolder, "");
    EXPECT_FALSE(d.SSoundFolder);
    EXPECT_FALSE(d.Grouping);
    EXPECT_EQ(d.MsVol, 65535);
    EXPECT_EQ(d.TimeZone, 0);
    EXPECT_EQ(d.STimeHour, 0);
    EXPECT_EQ(d.EchoVal, 16);
    EXPECT_EQ(d.EquaVal[4], 16);
    EXPECT_FALSE(d.UseTitle);
    EXPECT_TRUE(d.TitleTrans);
    EXPECT_FALSE(d.LogoSpectrum); // no logo at all: no spectrum either
    EXPECT_EQ(d.CapFont.Name, "ＭＳ Ｐゴシック");
    d.Save();
    EXPECT_EQ(Get(kBase, "Setting", "SoundFolder"), "");
    EXPECT_EQ(Get(kBase, "Setting", "SSoundFolder"), "0");
    EXPECT_EQ(Get(kBase, "Setting", "Grouping"), "0");
    EXPECT_EQ(Get(kBase, "Volume", "MsVol"), "65535");
}

TEST_F(Settings, CaptionModeDecidesTheFont) {
    Put(kBase, "Setting", "CapDisp", "5");
    Put(kBase, "Font", "CapName", "IPAPGothic");
    Put(kBase, "Font", "CapHeight", "-30");
    Put(kBase, "Font", "CapSize", "12"); // the size, set after the height, decides
    TRegData d(kBase);
    d.Load();
    EXPECT_EQ(d.CapDisp, 1);
    EXPECT_EQ(d.CapFont.Name, "IPAPGothic");
    EXPECT_EQ(d.CapFont.Size(), 12);
    Put(kBase, "Setting", "CapDisp", "-1");
    TRegData n(kBase);
    n.Load();
    EXPECT_EQ(n.CapDisp, 0);
    EXPECT_EQ(n.CapFont.Name, "ＭＳ Ｐゴシック");
}

TEST_F(Settings, BadStoredValuesReadAsDefaults) {
    Put(kBase, "Setting", "BackGround", "clNoSuchColour");
    Put(kBase, "Setting", "Interval", "12a");
    Put(kBase, "Setting", "CapDisp", "1");
    Put(kBase, "Font", "CapColor", "$zz");
    Put(kBase, "Font", "CapPitch", "9");
    Put(kBase, "Font", "CapStyle", "255");
    Put(kBase, "Volume", "VolContl", "1");
    Put(kBase, "Volume", "STimeHour", "25");
    Put(kBase, "Volume", "STimeMin", "10");
    Put(kBase, "Volume", "ETimeMin", "-1");
    {
        TRegistry reg;
        reg.OpenKey(kBase + "\\Setting", true);
        reg.WriteInteger("Folder", 7);            // a double word where text belongs
        reg.WriteBinaryData("OrdRandom", "\x01"); // bytes where a number belongs
    }
    TRegData d(kBase);
    ASSERT_NO_THROW(d.Load());
    EXPECT_EQ(d.BackGround, clBlack);
    EXPECT_EQ(d.Interval, 5);
    EXPECT_EQ(d.CapFont.Color, clWhite);
    EXPECT_EQ(d.CapFont.Pitch, TFontPitch::fpDefault);
    EXPECT_EQ(d.CapFont.Style, 0x0F);
    EXPECT_EQ(Time(d.STimeHour, d.STimeMin, d.STimeSec), Time(0, 0, 0));
    EXPECT_EQ(Time(d.ETimeHour, d.ETimeMin, d.ETimeSec), Time(23, 59, 59));
    EXPECT_EQ(d.Folder, "");
    EXPECT_EQ(d.OrdRandom, 2);
}

// Every number comes into the range of the control that edits it, so the dialog shows and writes
// back, and the saver acts on, only values the dialog could have set: an amount at the nearer end
// of its range, a choice that is none of the list's items as the item the saver takes it for.
TEST_F(Settings, StoredNumbersComeIntoTheirControlsRanges) {
    struct Case {
        const char* section;
        std::string name;
        std::function<int(const TRegData&)> field;
        const char* low;
        int lowRead;
        const char* high;
        int highRead;
    };
    const Case cases[] = {
        {"Setting", "Interval", [](auto& d) { return d.Interval; }, "-5", 1, "1000", 999},
        {"Setting", "SndInterval", [](auto& d) { return d.SndInterval; }, "-1", 0, "100", 99},
        {"LOGO", "LogoImgPos", [](auto& d) { return d.LogoImgPos; }, "-3", 0, "7", 0},
        {"Setting", "OrdRandom", [](auto& d) { return d.OrdRandom; }, "-1", 5, "17", 5},
        {"Setting", "SndRandom", [](auto& d) { return d.SndRandom; }, "-1", 5, "6", 5},
        {"Setting", "ImgSort", [](auto& d) { return d.ImgSort; }, "-1", 1, "7", 1},
        {"Setting", "SndSort", [](auto& d) { return d.SndSort; }, "-1", 1, "2", 1},
        {"Setting", "SizeAdjust", [](auto& d) { return d.SizeAdjust; }, "-1", 0, "5", 0},
        {"Setting", "SizeAdjustX", [](auto& d) { return d.SizeAdjustX; }, "-100", 64, "5000", 1920},
        {"Setting", "SizeAdjustY", [](auto& d) { return d.SizeAdjustY; }, "0", 64, "5000", 1080},
        {"Method", "ChgSpeed", [](auto& d) { return d.ChgSpeed; }, "-1", 0, "11", 10},
        {"Font", "CapSize", [](auto& d) { return d.CapFont.Size(); }, "-9999", 1, "600", 512},
        {"Font", "CapCharset", [](auto& d) { return int(d.CapFont.Charset); }, "-1", 0, "300", 255},
        {"Volume", "MsVol", [](auto& d) { return d.MsVol; }, "-1", 0, "70000", 65535},
        {"Volume", "WaveVol", [](auto& d) { return d.WaveVol; }, "-1", 0, "70000", 65535},
        {"Volume", "MidiVol", [](auto& d) { return d.MidiVol; }, "-1", 0, "70000", 65535},
        {"Volume", "MuteWaveVol", [](auto& d) { return d.MuteWaveVol; }, "-1", 0, "70000", 65535},
        {"Volume", "MuteMidiVol", [](auto& d) { return d.MuteMidiVol; }, "-1", 0, "70000", 65535},
        {"Volume", "TimeZone", [](auto& d) { return d.TimeZone; }, "-1", 0, "3", 0},
        {"EFECT", "EquaVal1", [](auto& d) { return d.EquaVal[1]; }, "-1", 0, "33", 32},
        {"EFECT", "EquaVal10", [](auto& d) { return d.EquaVal[10]; }, "-40", 0, "40", 32},
        {"EFECT", "EchoVal", [](auto& d) { return d.EchoVal; }, "-1", 0, "33", 32},
        {"EFECT", "ReverbVal", [](auto& d) { return d.ReverbVal; }, "-1", 0, "33", 32},
        {"Setting", "ImgBtnState", [](auto& d) { return d.ImgBtnState; }, "-1", 2, "7", 2},
        {"Setting", "SndBtnState", [](auto& d) { return d.SndBtnState; }, "-1", 2, "3", 2},
    };
    // The switches under which the values are read at all.
    Put(kBase, "Setting", "UseSound", "1");
    Put(kBase, "Volume", "VolContl", "1");
    Put(kBase, "EFECT", "Equalizer", "1");
    Put(kBase, "EFECT", "Echo", "1");
    Put(kBase, "EFECT", "Reverb", "1");
    Put(kBase, "Setting", "CapDisp", "1");
    for (bool high : {false, true}) {
        for (const Case& c : cases)
            Put(kBase, c.section, c.name, high ? c.high : c.low);
        TRegData d(kBase);
        d.Load();
        for (const Case& c : cases)
            EXPECT_EQ(c.field(d), high ? c.highRead : c.lowRead)
                << c.name << " = " << (high ? c.high : c.low);
    }
}

TEST_F(Settings, PickerValuesAreWrittenOnlyByThePickers) {
    TRegData d(kBase);
    d.Load();
    d.ImgBtnState = 0;
    d.SndPreview = false;
    d.Save();
    EXPECT_EQ(Get(kBase, "Setting", "ImgBtnState"), "<missing>");
    EXPECT_EQ(Get(kBase, "Setting", "SndPreview"), "<missing>");
    d.SaveImgBtnState();
    EXPECT_EQ(Get(kBase, "Setting", "ImgBtnState"), "0");
    EXPECT_EQ(Get(kBase, "Setting", "ImgPreview"), "1");
    EXPECT_EQ(Get(kBase, "Setting", "SndPreview"), "<missing>");
    d.SaveSndBtnState();
    EXPECT_EQ(Get(kBase, "Setting", "SndPreview"), "0");
}

TEST_F(Settings, FailedSaveThrowsAndWritesNothing) {
    TRegData d(kBase);
    d.Load();
    d.Interval = 99;
    store->FailWrites = true;
    EXPECT_THROW(d.Save(), ERegistryException);
    store->FailWrites = false;
    EXPECT_EQ(Get(kBase, "Setting", "Interval"), "<missing>");
}

class Groups : public Settings {
protected:
    test::TempDir dir;
    std::string pics = dir.Path() + "/pics";
    std::string music = dir.Path() + "/music";

    void SetUp() override {
        Settings::SetUp();
        for (int i = 0; i < 12; ++i) {
            dir.WriteFile("music/t" + std::to_string(i) + ".mp3", "x");
            dir.WriteFile("pics/p" + std::to_string(i) + ".jpg", "x");
        }
        Put(kBase, "Setting", "UseSound", "1");
        Put(kBase, "Setting", "Grouping", "1");
        Put(kBase, "Setting", "Folder", pics);
        Put(kBase, "Setting", "SoundFolder", music);
    }
    static TStringList& Pictures(TRegData& d, int group) { return *dynamic_cast<TStringList*>(d.Groups->Objects(group)); }
};

TEST_F(Groups, LoadingDropsGroupsWithoutTrackOrPictures) {
    Put(kBase, "GroupDef", "GP0", "t0.mp3");
    Put(kBase, "GP0", "GP0-0", "p0.jpg");
    Put(kBase, "GP0", "GP0-1", "missing.jpg");
    Put(kBase, "GP0", "GP0-2", "p2.jpg");
    Put(kBase, "GroupDef", "GP1", "missing.mp3");
    Put(kBase, "GP1", "GP1-0", "p1.jpg");
    Put(kBase, "GroupDef", "GP2", "t2.mp3");
    Put(kBase, "GP2", "GP2-0", "gone.jpg");
    Put(kBase, "GroupDef", "Odd", "t3.mp3"); // any section name given by "GroupDef" is read
    Put(kBase, "Odd", "x", "p3.jpg");
    TRegData d(kBase);
    d.Load();
    d.LoadGroups(false);
    ASSERT_EQ(d.Groups->Count(), 2);
    EXPECT_EQ((*d.Groups)[0], "t0.mp3");
    EXPECT_EQ(Pictures(d, 0).Count(), 2);
    EXPECT_EQ(Pictures(d, 0)[1], "p2.jpg");
    EXPECT_EQ((*d.Groups)[1], "t3.mp3");

    TRegData full(kBase);
    full.Load();
    full.LoadGroups(true);
    ASSERT_EQ(full.Groups->Count(), 2);
    EXPECT_EQ((*full.Groups)[0], music + "/t0.mp3");
    EXPECT_EQ(Pictures(full, 0)[0], pics + "/p0.jpg");
}

TEST_F(Groups, TwelveGroupsKeepTheirOrder) {
    TRegData d(kBase);
    d.Load();
    d.LoadGroups(false);
    for (int i = 0; i < 12; ++i) {
        auto* list = new TStringList();
        list->Add('p' + std::to_string(i) + ".jpg");
        d.Groups->AddObject('t' + std::to_string(i) + ".mp3", list);
    }
    d.Save();
    EXPECT_EQ(Get(kBase, "GroupDef", "GP10"), "t10.mp3");
    EXPECT_EQ(Get(kBase, "GP11", "GP11-0"), "p11.jpg");
    TRegData e(kBase);
    e.Load();
    e.LoadGroups(false);
    ASSERT_EQ(e.Groups->Count(), 12);
    for (int i = 0; i < 12; ++i) EXPECT_EQ((*e.Groups)[i], 't' + std::to_string(i) + ".mp3");
}

TEST_F(Groups, SaveKeepsOrErasesStoredGroups) {
    Put(kBase, "GroupDef", "GP0", "t0.mp3");
    Put(kBase, "GP0", "GP0-0", "p0.jpg");
    {
        // Grouping on at load and now, the list never looked at: the stored groups stay.
        TRegData d(kBase);
        d.Load();
        d.Save();
        EXPECT_EQ(Get(kBase, "GP0", "GP0-0"), "p0.jpg");
        EXPECT_EQ(Get(kBase, "Setting", "Grouping"), "1");
    }
    {
        // The list loaded and emptied: grouping goes off and every group section goes.
        TRegData d(kBase);
        d.Load();
        d.LoadGroups(false);
        d.Groups->Clear();
        d.Save();
        EXPECT_EQ(Get(kBase, "Setting", "Grouping"), "0");
        auto sections = Sections(kBase);
        EXPECT_EQ(std::count(sections.begin(), sections.end(), "GP0"), 0);
        EXPECT_EQ(std::count(sections.begin(), sections.end(), "GroupDef"), 0);
    }
}

TEST_F(Groups, EraseTakesEveryNamedGroupButNoSettingsSection) {
    Put(kBase, "GroupDef", "Setting", "t0.mp3");
    Put(kBase, "GroupDef", "T3", "t0.mp3");
    Put(kBase, "T3\\Setting", "Interval", "9"); // a theme's key
    Put(kBase, "GroupDef", "GP0", "t0.mp3");
    Put(kBase, "GP0", "GP0-0", "p0.jpg");
    Put(kBase, "GroupDef", "Odd", "t3.mp3"); // read by loading, so erased too
    Put(kBase, "Odd", "x", "p3.jpg");
    Put(kBase, "GP7", "GP7-0", "orphan.jpg");
    TRegData d(kBase);
    d.Load();
    d.EraseGroups();
    auto sections = Sections(kBase);
    EXPECT_EQ(sections, (std::vector<std::string>{"Setting", "T3"}));
    EXPECT_EQ(Get(kBase, "Setting", "Folder"), pics);
    EXPECT_EQ(Get(kBase + std::string("\\T3"), "Setting", "Interval"), "9");
}

TEST_F(Settings, ThemeListIgnoresStrayIdsAndLeavesThemAlone) {
    Put(kBase, "Thema", "2", "Two");
    Put(kBase, "Thema", "0", "Zero");
    Put(kBase, "Thema", "..\\..\\x", "Stray");
    Put(kBase, "Thema", "12", "Twelve");
    Put(kBase, "Common", "Default", "12");
    Put(kBase, "Common", "DefStr", "Base");
    TRegCommon c(false);
    ASSERT_EQ(c.ThemeIds.Count(), 2);
    EXPECT_EQ(c.ThemeIds[0], "0");
    EXPECT_EQ(c.ThemeNames[1], "Two");
    EXPECT_EQ(c.CurrentTheme, ""); // an id that is no theme id is the base settings
    EXPECT_EQ(c.DefStrOrStandard(), "Base");
    EXPECT_THROW(TRegCommon::GetKeyPath("12"), ERangeError);
    EXPECT_EQ(TRegCommon::GetKeyPath("7"), kBase + "\\T7");
    EXPECT_EQ(TRegCommon::GetKeyPath(""), kBase);

    c.SaveThemes(c.ThemeIds, c.ThemeNames, 3); // slot k holds the theme with id k-1
    EXPECT_EQ(c.CurrentTheme, "2");
    EXPECT_EQ(c.ThemeIndex(), 2);
    EXPECT_EQ(Get(kBase, "Thema", "12"), "Twelve");
    EXPECT_EQ(Get(kBase, "Thema", "..\\..\\x"), "Stray");
    EXPECT_EQ(Get(kBase, "Common", "Default"), "2");
    c.CurrentTheme = "5";
    EXPECT_EQ(c.ThemeIndex(), 0);
}

TEST_F(Settings, DeleteThemeRemovesItsKeyTree) {
    Put(kBase, "Thema", "3", "Three");
    Put(kBase + "\\T3", "Setting", "Interval", "9");
    Put(kBase + "\\T3", "GP0", "GP0-0", "x");
    Put(kBase + "\\T4", "Setting", "Interval", "8");
    TRegCommon c(false);
    c.DeleteTheme(3);
    c.DeleteTheme(42); // no such id: nothing happens
    TRegistry reg;
    EXPECT_FALSE(reg.KeyExists(kBase + "\\T3"));
    EXPECT_TRUE(reg.KeyExists(kBase + "\\T4"));
    EXPECT_EQ(Get(kBase, "Thema", "3"), "<missing>");
}

TEST_F(Settings, RandomThemeIsUniformOverThemesAndBase) {
    Put(kBase, "Common", "TMRandom", "1");
    Put(kBase, "Common", "Default", "1");
    for (const char* id : {"1", "4", "9"}) Put(kBase, "Thema", id, std::string("Theme ") + id);
    RandSeed(12345);
    std::map<std::string, int> counts;
    constexpr int kDraws = 4000;
    for (int i = 0; i < kDraws; ++i) counts[TRegCommon(true).CurrentTheme]++;
    ASSERT_EQ(counts.size(), 4u);
    for (const auto& [id, n] : counts) EXPECT_NEAR(n, kDraws / 4, kDraws / 4 * 0.15) << "theme '" << id << "'";
    // The dialog never draws: it reads "Default".
    EXPECT_EQ(TRegCommon(false).CurrentTheme, "1");
}

TEST(HandCursor, RegisteredAtStartUnderItsNumber) {
    ASSERT_TRUE(CursorRegistered(crAdHand));
    QCursor cursor = CursorByIndex(crAdHand);
    EXPECT_EQ(cursor.pixmap().size(), QSize(32, 32));
    EXPECT_EQ(cursor.hotSpot(), QPoint(5, 0));
    EXPECT_EQ(CursorByIndex(crAdHand + 1).shape(), Qt::ArrowCursor);
}

} // namespace
} // namespace lumora
