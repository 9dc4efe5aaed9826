#pragma once
// The settings model: the program-wide part (themes, the active theme, the random-theme switch, the
// base settings' display name) and every setting of one theme, with their registry load and save.
// One table of name, section, default and condition serves loading and saving.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/transitions/EffectTable.h"
#include "framework/Classes.h"
#include "framework/Graphics.h"
#include "framework/Registry.h"

namespace lumora {

// Key of the base settings under HKEY_CURRENT_USER; a theme's key is this followed by "\T" and its id.
inline constexpr const char* kLumoraKey = "Software\\Varenko's Software\\Lumora";
// Display name of the base settings when none is stored.
inline constexpr const char* kStandardName = "標準";
inline constexpr int kMaxThemes = 10;
// Number of the hand cursor in the cursor list.
inline constexpr int crAdHand = 14000;

// A theme id is one of "0".."9"; anything else found in the store is ignored and left alone.
bool IsValidThemeId(const std::string& id);

class TRegCommon {
public:
    // Reads "Common" and the theme list; with allowRandomTheme and the switch on, picks the theme
    // at random among the themes and the base settings instead of reading "Default".
    explicit TRegCommon(bool allowRandomTheme);
    TRegCommon(const TRegCommon&) = delete;
    TRegCommon& operator=(const TRegCommon&) = delete;

    std::string CurrentTheme; // id of the active theme; empty = base settings
    bool TMRandom = false;
    TStringList ThemeIds;   // sorted as strings
    TStringList ThemeNames; // parallel to ThemeIds
    std::string DefStr;     // display name of the base settings; empty = "標準"

    // The base key for the empty id, else the base key + "\T" + id. Throws ERangeError for an id
    // that is not a theme id, so a stray value never names a key.
    static std::string GetKeyPath(const std::string& themeId);
    // 1-based position of CurrentTheme in ThemeIds; 0 for the base settings or an unlisted theme.
    int ThemeIndex() const;
    // DefStr, or "標準" when it is empty.
    std::string DefStrOrStandard() const;

    void SaveCommon();
    void SaveDefStr();
    // Removes the theme's name from "Thema" and its key with everything below it (ids 0..9 only).
    void DeleteTheme(int id);
    void ReadThemes(TStringList& ids, TStringList& names);
    // CurrentTheme := the id of slot defaultSlot (slot 0 = base settings, slot k = theme k-1); writes
    // "Default", every listed theme name and "TMRandom". Removes nothing from "Thema".
    void SaveThemes(const TStringList& ids, const TStringList& names, int defaultSlot);
};

class TRegData {
public:
    explicit TRegData(const std::string& keyPath);
    ~TRegData();
    TRegData(const TRegData&) = delete;
    TRegData& operator=(const TRegData&) = delete;

    std::string KeyPath;
    bool GroupsLoaded = false;
    bool GroupingAtLoad = false;
    // One entry per group: the track, with its picture list (a TStringList) as the owned object.
    // Exists once GroupsLoaded.
    std::unique_ptr<TStringList> Groups;

    int Interval = 5;
    int SndInterval = 0;
    std::string Folder;
    std::string SoundFolder;
    bool SFolder = false;
    bool UseSound = false;
    bool SSoundFolder = false;
    TColor BackGround = clBlack;
    bool DispTitle = true;
    bool LogoSpectrum = true;
    bool UseTitle = false;
    bool TitleTrans = true;
    std::string TitleBmp;
    int LogoImgPos = 2;
    bool PosRandom = true;
    int OrdRandom = 2;
    int SndRandom = 2;
    int ImgSort = 0;
    int SndSort = 0;
    int SizeAdjust = 1;
    int SizeAdjustX = 0;
    int SizeAdjustY = 0;
    bool CImgFilter = true;
    bool StopOnKey = true;
    bool StopOnMouseMove = true;
    bool StopOnMouseClick = true;
    bool StopOnPwrSave = true;
    TMethodSwitches Method = DefaultMethodSwitches();
    int ChgSpeed = 5;
    int CapDisp = 0;
    TFont CapFont;
    bool Grouping = false;
    bool VolContl = false;
    bool MsVolChg = true;
    int MsVol = 65535;
    int WaveVol = 65535;
    int MidiVol = 65535;
    int MuteWaveVol = 0;
    int MuteMidiVol = 0;
    int TimeZone = 0;
    uint16_t STimeHour = 0, STimeMin = 0, STimeSec = 0;
    uint16_t ETimeHour = 23, ETimeMin = 59, ETimeSec = 59;
    bool Equalizer = false;
    bool Echo = false;
    bool Reverb = false;
    bool Flanger = false;
    int EchoVal = 16;
    int ReverbVal = 16;
    std::array<int, 11> EquaVal{}; // bands 1..10; entry 0 is unused
    std::string MidiDevice;
    int ImgBtnState = 2;
    int SndBtnState = 2;
    bool ImgPreview = true;
    bool SndPreview = true;
    bool MultiMon = false;

    // Reads every value; a missing or unreadable value takes its default, a number outside the
    // range its control in the settings dialog allows comes into that range. Never throws.
    void Load();
    // Writes every value (except the pickers' four) and maintains the stored groups in one registry
    // update. Throws ERegistryException when the registry cannot be written; nothing is written then.
    void Save();
    // Deletes "GroupDef" and every group section ("GP" followed by digits).
    void EraseGroups();
    void SaveImgBtnState(); // "ImgBtnState" and "ImgPreview" only
    void SaveSndBtnState(); // "SndBtnState" and "SndPreview" only
    // Loads Groups once; groups whose track or pictures are all missing are dropped.
    void LoadGroups(bool fullPaths);

    // The caption font as an empty caption setting gives it.
    static void SetDefaultCaptionFont(TFont& font);

private:
    void EraseGroups(TRegIniFile& ini);
    void FreeGroups();
};

} // namespace lumora
