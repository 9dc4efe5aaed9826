#include "engine/settings/Settings.h"

#include <algorithm>
#include <regex>

#include <QPixmap>

#include "engine/playlists/PlayLists.h"
#include "platform/display/CursorList.h"
#include "platform/system/Random.h"
#include "platform/display/Screens.h"
#include "resources/ad_hand.xpm"

namespace lumora {

namespace {

// The smallest picture box the picture-size dialog sets.
constexpr int kMinSizeAdjust = 64;
// The effect sliders run from 0 to 32; a stored value is 32 minus the slider's position.
constexpr int kMaxEffectValue = 32;

// Reads that never throw: a value stored with another type counts as missing, so loading the
// settings always succeeds and the saver and the dialog always start.
std::string RStr(TRegIniFile& ini, const char* section, const std::string& name, const std::string& def) {
    try {
        return ini.ReadString(section, name, def);
    } catch (const ERegistryException&) {
        return def;
    }
}

int RInt(TRegIniFile& ini, const char* section, const std::string& name, int def) {
    try {
        return ini.ReadInteger(section, name, def);
    } catch (const ERegistryException&) {
        return def;
    }
}

// A number within the range of the control that edits it: a stored value outside it (the
// registry edited by hand, or written by another version) comes in at the nearer end, so the
// dialog shows and writes back, and the saver acts on, only what the dialog could have set.
int RRange(TRegIniFile& ini, const char* section, const std::string& name, int def, int low, int high) {
    return std::clamp(RInt(ini, section, name, def), low, high);
}

// One of the items 0..count-1 of a list; a stored value that is none of them stands for the
// item the saver has always taken such a value for.
int RChoice(TRegIniFile& ini, const char* section, const std::string& name, int def, int count,
            int otherwise) {
    int value = RInt(ini, section, name, def);
    return value >= 0 && value < count ? value : otherwise;
}

bool RBool(TRegIniFile& ini, const char* section, const std::string& name, bool def) {
    return RInt(ini, section, name, def ? 1 : 0) != 0;
}

TColor RColor(TRegIniFile& ini, const char* section, const char* name, TColor def) {
    std::string text = RStr(ini, section, name, ColorToString(def));
    try {
        return StringToColor(text);
    } catch (const EConvertError&) {
        return def;
    }
}

// Reads a time of day; a stored time that is no valid time of day gives the default whole.
void RTime(TRegIniFile& ini, const char* prefix, uint16_t& h, uint16_t& m, uint16_t& s, int dh, int dm, int ds) {
    std::string p = prefix;
    int hour = RInt(ini, "Volume", p + "Hour", dh);
    int min = RInt(ini, "Volume", p + "Min", dm);
    int sec = RInt(ini, "Volume", p + "Sec", ds);
    if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59) hour = dh, min = dm, sec = ds;
    h = static_cast<uint16_t>(hour);
    m = static_cast<uint16_t>(min);
    s = static_cast<uint16_t>(sec);
}

bool IsGroupSection(const std::string& name) {
    static const std::regex pattern("GP[0-9]+", std::regex::icase);
    return std::regex_match(name, pattern);
}

// Sections of the settings and keys of the themes, which a name in "GroupDef" must never erase.
bool IsProtectedSection(const std::string& name) {
    static const std::regex pattern("Setting|LOGO|Method|Font|Volume|EFECT|GroupDef|Common|Thema|T[0-9]",
                                    std::regex::icase);
    return name.empty() || name.find_first_of("\\/") != std::string::npos || std::regex_match(name, pattern);
}

QCursor MakeHandCursor() { return QCursor(QPixmap(ad_hand_xpm), 5, 0); }

// The hand cursor is in the cursor list from the program's start, as the framework's unit
// initialisation put it there.
const bool g_handCursorRegistered = (RegisterCursor(crAdHand, MakeHandCursor), true);

} // namespace

bool IsValidThemeId(const std::string& id) { return id.size() == 1 && id[0] >= '0' && id[0] <= '9'; }

// ---- TRegCommon

// Reading the settings never writes: a missing key reads as defaults and stays missing.
TRegCommon::TRegCommon(bool allowRandomTheme) {
    TRegIniFile ini(kLumoraKey, TRegIniFile::ReadOnly);
    TMRandom = RBool(ini, "Common", "TMRandom", false);
    DefStr = RStr(ini, "Common", "DefStr", "");
    ReadThemes(ThemeIds, ThemeNames);
    if (allowRandomTheme && TMRandom) {
        int r = Random(ThemeIds.Count() + 1);
        CurrentTheme = r == 0 ? std::string() : ThemeIds[r - 1];
    } else {
        CurrentTheme = RStr(ini, "Common", "Default", "");
        if (!IsValidThemeId(CurrentTheme)) CurrentTheme.clear();
    }
}

std::string TRegCommon::GetKeyPath(const std::string& themeId) {
    if (themeId.empty()) return kLumoraKey;
    if (!IsValidThemeId(themeId)) throw ERangeError("Invalid theme id '" + themeId + "'");
    return std::string(kLumoraKey) + "\\T" + themeId;
}

int TRegCommon::ThemeIndex() const {
    if (CurrentTheme.empty()) return 0;
    for (int i = 0; i < ThemeIds.Count(); ++i)
        if (ThemeIds[i] == CurrentTheme) return i + 1;
    return 0;
}

std::string TRegCommon::DefStrOrStandard() const { return DefStr.empty() ? std::string(kStandardName) : DefStr; }

void TRegCommon::SaveCommon() {
    TRegIniFile ini(kLumoraKey);
    ini.WriteBool("Common", "TMRandom", TMRandom);
    ini.WriteString("Common", "Default", CurrentTheme);
    ini.UpdateFile();
}

void TRegCommon::SaveDefStr() {
    TRegIniFile ini(kLumoraKey);
    ini.WriteString("Common", "DefStr", DefStr);
    ini.UpdateFile();
}

void TRegCommon::DeleteTheme(int id) {
    if (id < 0 || id >= kMaxThemes) return;
    TRegIniFile ini(kLumoraKey);
    ini.DeleteKey("Thema", IntToStr(id));
    ini.EraseSection("T" + IntToStr(id));
    ini.UpdateFile();
}

void TRegCommon::ReadThemes(TStringList& ids, TStringList& names) {
    ids.Clear();
    names.Clear();
    TRegIniFile ini(kLumoraKey, TRegIniFile::ReadOnly);
    TStringList all;
    ini.ReadSection("Thema", all);
    for (int i = 0; i < all.Count(); ++i)
        if (IsValidThemeId(all[i])) ids.Add(all[i]);
    ids.Sort();
    for (int i = 0; i < ids.Count(); ++i) names.Add(RStr(ini, "Thema", ids[i], ""));
}

void TRegCommon::SaveThemes(const TStringList& ids, const TStringList& names, int defaultSlot) {
    CurrentTheme = defaultSlot >= 1 && defaultSlot <= kMaxThemes ? IntToStr(defaultSlot - 1) : std::string();
    TRegIniFile ini(kLumoraKey);
    ini.WriteString("Common", "Default", CurrentTheme);
    for (int i = 0; i < ids.Count() && i < names.Count(); ++i)
        if (IsValidThemeId(ids[i])) ini.WriteString("Thema", ids[i], names[i]);
    ini.WriteBool("Common", "TMRandom", TMRandom);
    ini.UpdateFile();
}

// ---- TRegData

TRegData::TRegData(const std::string& keyPath) : KeyPath(keyPath) {
    EquaVal.fill(16);
    SetDefaultCaptionFont(CapFont);
    TMonitor first = Monitor(0);
    SizeAdjustX = first.Width() * 70 / 100;
    SizeAdjustY = first.Height() * 70 / 100;
}

TRegData::~TRegData() { FreeGroups(); }

void TRegData::FreeGroups() { Groups.reset(); }

void TRegData::SetDefaultCaptionFont(TFont& font) {
    font.Charset = 128;
    font.SetHeight(-12);
    font.Name = "ＭＳ Ｐゴシック";
    font.SetSize(9);
    font.Color = clWhite;
    font.Style = 0;
    font.Pitch = TFontPitch::fpDefault;
}

void TRegData::Load() {
    TRegIniFile ini(KeyPath, TRegIniFile::ReadOnly);
    Interval = RRange(ini, "Setting", "Interval", 5, 1, 999);
    SndInterval = RRange(ini, "Setting", "SndInterval", 0, 0, 99);
    Folder = RStr(ini, "Setting", "Folder", "");
    SFolder = RBool(ini, "Setting", "SFolder", false);
    UseSound = RBool(ini, "Setting", "UseSound", false);
    SoundFolder = UseSound ? RStr(ini, "Setting", "SoundFolder", "") : std::string();
    SSoundFolder = UseSound ? RBool(ini, "Setting", "SSoundFolder", false) : false;
    BackGround = RColor(ini, "Setting", "BackGround", clBlack);

    DispTitle = RBool(ini, "LOGO", "DispTitle", true);
    UseTitle = DispTitle ? RBool(ini, "LOGO", "UseTitle", false) : false;
    TitleBmp = DispTitle && UseTitle ? RStr(ini, "LOGO", "TitleBmp", "") : std::string();
    TitleTrans = DispTitle && UseTitle ? RBool(ini, "LOGO", "TitleTrans", true) : true;
    LogoSpectrum = DispTitle && !UseTitle ? RBool(ini, "LOGO", "LogoSpectrum", true) : false;
    LogoImgPos = RChoice(ini, "LOGO", "LogoImgPos", 2, 5, 0);

    PosRandom = RBool(ini, "Setting", "PosRandom", true);
    // An order that is none of the six is the folder order; any direction but ascending descends.
    OrdRandom = RChoice(ini, "Setting", "OrdRandom", 2, 6, omByPath);
    SndRandom = RChoice(ini, "Setting", "SndRandom", 2, 6, omByPath);
    ImgSort = RInt(ini, "Setting", "ImgSort", 0) != 0 ? 1 : 0;
    SndSort = RInt(ini, "Setting", "SndSort", 0) != 0 ? 1 : 0;
    // A size mode that is none of the three keeps the pictures' size.
    SizeAdjust = RChoice(ini, "Setting", "SizeAdjust", 1, 3, 0);
    // The picture-size dialog sets a box of 64 pixels up to the first monitor's size.
    TMonitor first = Monitor(0);
    SizeAdjustX = RRange(ini, "Setting", "SizeAdjustX", first.Width() * 70 / 100, kMinSizeAdjust,
                         std::max(kMinSizeAdjust, first.Width()));
    SizeAdjustY = RRange(ini, "Setting", "SizeAdjustY", first.Height() * 70 / 100, kMinSizeAdjust,
                         std::max(kMinSizeAdjust, first.Height()));
    CImgFilter = RBool(ini, "Setting", "CImgFilter", true);
    StopOnKey = RBool(ini, "Setting", "StopOnKey", true);
    StopOnMouseMove = RBool(ini, "Setting", "StopOnMouseMove", true);
    StopOnMouseClick = RBool(ini, "Setting", "StopOnMouseClick", true);
    StopOnPwrSave = RBool(ini, "Setting", "StopOnPwrSave", true);

    for (int i = 0; i < EffectCount; ++i)
        Method[i] = RBool(ini, "Method", "Method" + IntToStr(i), MethodPresets[i][0] != 0);
    ChgSpeed = RRange(ini, "Method", "ChgSpeed", 5, 0, 10);

    CapDisp = RInt(ini, "Setting", "CapDisp", 0);
    if (CapDisp > 2) CapDisp = 1;
    if (CapDisp < 0) CapDisp = 0;
    if (CapDisp >= 1) {
        CapFont.Charset = static_cast<uint8_t>(RRange(ini, "Font", "CapCharset", 128, 0, 255));
        CapFont.SetHeight(RInt(ini, "Font", "CapHeight", -12));
        CapFont.Name = RStr(ini, "Font", "CapName", "ＭＳ Ｐゴシック");
        // The font dialog takes sizes of 1 to 512 points.
        CapFont.SetSize(RRange(ini, "Font", "CapSize", 9, 1, 512));
        CapFont.Color = RColor(ini, "Font", "CapColor", clWhite);
        CapFont.Style = static_cast<TFontStyles>(RInt(ini, "Font", "CapStyle", 0) & 0x0F);
        int pitch = RInt(ini, "Font", "CapPitch", 0);
        CapFont.Pitch = pitch >= 0 && pitch <= 2 ? static_cast<TFontPitch>(pitch) : TFontPitch::fpDefault;
    } else {
        SetDefaultCaptionFont(CapFont);
    }

    Grouping = UseSound ? RBool(ini, "Setting", "Grouping", false) : false;
    GroupingAtLoad = Grouping;

    VolContl = RBool(ini, "Volume", "VolContl", false);
    MsVolChg = VolContl ? RBool(ini, "Volume", "MsVolChg", true) : true;
    MsVol = VolContl && MsVolChg ? RRange(ini, "Volume", "MsVol", 65535, 0, 65535) : 65535;
    WaveVol = VolContl ? RRange(ini, "Volume", "WaveVol", 65535, 0, 65535) : 65535;
    MidiVol = VolContl ? RRange(ini, "Volume", "MidiVol", 65535, 0, 65535) : 65535;
    MuteWaveVol = VolContl ? RRange(ini, "Volume", "MuteWaveVol", 0, 0, 65535) : 0;
    MuteMidiVol = VolContl ? RRange(ini, "Volume", "MuteMidiVol", 0, 0, 65535) : 0;
    // A time window mode that is none of the three never mutes.
    TimeZone = VolContl ? RChoice(ini, "Volume", "TimeZone", 0, 3, 0) : 0;
    if (VolContl) {
        RTime(ini, "STime", STimeHour, STimeMin, STimeSec, 0, 0, 0);
        RTime(ini, "ETime", ETimeHour, ETimeMin, ETimeSec, 23, 59, 59);
    } else {
        STimeHour = STimeMin = STimeSec = 0;
        ETimeHour = 23, ETimeMin = 59, ETimeSec = 59;
    }

    Equalizer = RBool(ini, "EFECT", "Equalizer", false);
    for (int band = 1; band <= 10; ++band)
        EquaVal[band] =
            Equalizer ? RRange(ini, "EFECT", "EquaVal" + IntToStr(band), 16, 0, kMaxEffectValue) : 16;
    Echo = RBool(ini, "EFECT", "Echo", false);
    EchoVal = Echo ? RRange(ini, "EFECT", "EchoVal", 16, 0, kMaxEffectValue) : 16;
    Reverb = RBool(ini, "EFECT", "Reverb", false);
    ReverbVal = Reverb ? RRange(ini, "EFECT", "ReverbVal", 16, 0, kMaxEffectValue) : 16;
    Flanger = RBool(ini, "EFECT", "Flanger", false);
    MidiDevice = RStr(ini, "EFECT", "MidiDevice", "");

    // A view style that is none of the three is the report view.
    ImgBtnState = RChoice(ini, "Setting", "ImgBtnState", 2, 3, 2);
    ImgPreview = RBool(ini, "Setting", "ImgPreview", true);
    SndBtnState = RChoice(ini, "Setting", "SndBtnState", 2, 3, 2);
    SndPreview = RBool(ini, "Setting", "SndPreview", true);
    MultiMon = RBool(ini, "Setting", "MultiMon", false);
}

void TRegData::Save() {
    if (!UseSound || (GroupsLoaded && Groups && Groups->Count() == 0)) Grouping = false;

    TRegIniFile ini(KeyPath);
    ini.WriteInteger("Setting", "Interval", Interval);
    ini.WriteInteger("Setting", "SndInterval", SndInterval);
    ini.WriteString("Setting", "Folder", Folder);
    ini.WriteBool("Setting", "SFolder", SFolder);
    ini.WriteString("Setting", "SoundFolder", SoundFolder);
    ini.WriteBool("Setting", "SSoundFolder", SSoundFolder);
    ini.WriteBool("Setting", "UseSound", UseSound);
    ini.WriteString("Setting", "BackGround", ColorToString(BackGround));

    ini.WriteBool("LOGO", "DispTitle", DispTitle);
    ini.WriteBool("LOGO", "LogoSpectrum", LogoSpectrum);
    ini.WriteBool("LOGO", "UseTitle", UseTitle);
    ini.WriteBool("LOGO", "TitleTrans", TitleTrans);
    ini.WriteString("LOGO", "TitleBmp", TitleBmp);
    ini.WriteInteger("LOGO", "LogoImgPos", LogoImgPos);

    ini.WriteBool("Setting", "PosRandom", PosRandom);
    ini.WriteInteger("Setting", "OrdRandom", OrdRandom);
    ini.WriteInteger("Setting", "SndRandom", SndRandom);
    ini.WriteInteger("Setting", "ImgSort", ImgSort);
    ini.WriteInteger("Setting", "SndSort", SndSort);
    ini.WriteInteger("Setting", "SizeAdjust", SizeAdjust);
    ini.WriteInteger("Setting", "SizeAdjustX", SizeAdjustX);
    ini.WriteInteger("Setting", "SizeAdjustY", SizeAdjustY);
    ini.WriteBool("Setting", "CImgFilter", CImgFilter);
    ini.WriteBool("Setting", "StopOnKey", StopOnKey);
    ini.WriteBool("Setting", "StopOnMouseMove", StopOnMouseMove);
    ini.WriteBool("Setting", "StopOnMouseClick", StopOnMouseClick);
    ini.WriteBool("Setting", "StopOnPwrSave", StopOnPwrSave);

    for (int i = 0; i < EffectCount; ++i) ini.WriteBool("Method", "Method" + IntToStr(i), Method[i]);
    ini.WriteInteger("Method", "ChgSpeed", ChgSpeed);

    ini.WriteInteger("Font", "CapCharset", CapFont.Charset);
    ini.WriteInteger("Font", "CapHeight", CapFont.Height());
    ini.WriteString("Font", "CapName", CapFont.Name);
    ini.WriteInteger("Font", "CapSize", CapFont.Size());
    ini.WriteInteger("Font", "CapStyle", CapFont.Style);
    ini.WriteInteger("Font", "CapPitch", static_cast<int>(CapFont.Pitch));
    ini.WriteString("Font", "CapColor", ColorToString(CapFont.Color));
    ini.WriteInteger("Setting", "CapDisp", CapDisp);

    ini.WriteBool("Volume", "VolContl", VolContl);
    ini.WriteBool("Volume", "MsVolChg", MsVolChg);
    ini.WriteInteger("Volume", "MsVol", MsVol);
    ini.WriteInteger("Volume", "WaveVol", WaveVol);
    ini.WriteInteger("Volume", "MidiVol", MidiVol);
    ini.WriteInteger("Volume", "MuteWaveVol", MuteWaveVol);
    ini.WriteInteger("Volume", "MuteMidiVol", MuteMidiVol);
    ini.WriteInteger("Volume", "TimeZone", TimeZone);
    ini.WriteInteger("Volume", "STimeHour", STimeHour);
    ini.WriteInteger("Volume", "STimeMin", STimeMin);
    ini.WriteInteger("Volume", "STimeSec", STimeSec);
    ini.WriteInteger("Volume", "ETimeHour", ETimeHour);
    ini.WriteInteger("Volume", "ETimeMin", ETimeMin);
    ini.WriteInteger("Volume", "ETimeSec", ETimeSec);

    ini.WriteBool("EFECT", "Equalizer", Equalizer);
    for (int band = 1; band <= 10; ++band) ini.WriteInteger("EFECT", "EquaVal" + IntToStr(band), EquaVal[band]);
    ini.WriteBool("EFECT", "Echo", Echo);
    ini.WriteInteger("EFECT", "EchoVal", EchoVal);
    ini.WriteBool("EFECT", "Reverb", Reverb);
    ini.WriteInteger("EFECT", "ReverbVal", ReverbVal);
    ini.WriteBool("EFECT", "Flanger", Flanger);
    ini.WriteString("EFECT", "MidiDevice", MidiDevice);
    ini.WriteBool("Setting", "Grouping", Grouping);

    // Groups stored by an earlier save stay as they are when this object never looked at them and
    // grouping was and is on; otherwise the stored groups are replaced by the list held here.
    if (GroupsLoaded || !GroupingAtLoad || !Grouping) EraseGroups(ini);
    if (Grouping && GroupsLoaded && Groups) {
        for (int i = 0; i < Groups->Count(); ++i) {
            std::string name = "GP" + IntToStr(i);
            ini.WriteString("GroupDef", name, (*Groups)[i]);
            if (auto* pictures = dynamic_cast<TStringList*>(Groups->Objects(i)))
                for (int j = 0; j < pictures->Count(); ++j)
                    ini.WriteString(name, name + "-" + IntToStr(j), (*pictures)[j]);
        }
    }
    ini.WriteBool("Setting", "MultiMon", MultiMon);
    ini.UpdateFile();
}

void TRegData::EraseGroups(TRegIniFile& ini) {
    // Every section "GroupDef" names goes (loading reads a group from any of them), and so does
    // any "GP" section left behind; a name there that is a settings section or a theme's key stays.
    TStringList named;
    ini.ReadSection("GroupDef", named);
    for (int i = 0; i < named.Count(); ++i)
        if (!IsProtectedSection(named[i])) ini.EraseSection(named[i]);
    TStringList sections;
    ini.ReadSections(sections);
    for (int i = 0; i < sections.Count(); ++i)
        if (IsGroupSection(sections[i])) ini.EraseSection(sections[i]);
    ini.EraseSection("GroupDef");
}

void TRegData::EraseGroups() {
    TRegIniFile ini(KeyPath);
    EraseGroups(ini);
    ini.UpdateFile();
}

void TRegData::SaveImgBtnState() {
    TRegIniFile ini(KeyPath);
    ini.WriteInteger("Setting", "ImgBtnState", ImgBtnState);
    ini.WriteBool("Setting", "ImgPreview", ImgPreview);
    ini.UpdateFile();
}

void TRegData::SaveSndBtnState() {
    TRegIniFile ini(KeyPath);
    ini.WriteInteger("Setting", "SndBtnState", SndBtnState);
    ini.WriteBool("Setting", "SndPreview", SndPreview);
    ini.UpdateFile();
}

void TRegData::LoadGroups(bool fullPaths) {
    if (GroupsLoaded) return;
    GroupsLoaded = true;
    GroupingAtLoad = Grouping;
    Groups = std::make_unique<TStringList>();
    Groups->SetOwnsObjects(true);

    TRegIniFile ini(KeyPath, TRegIniFile::ReadOnly);
    TStringList defs;
    ini.ReadSection("GroupDef", defs);
    for (int n = 0; n < defs.Count(); ++n) {
        const std::string& section = defs[n];
        std::string track = RStr(ini, "GroupDef", section, "");
        auto* pictures = new TStringList();
        if (!track.empty() && FileExistsIn(SoundFolder, track)) {
            Groups->AddObject(fullPaths ? IncludeTrailingPathDelimiter(SoundFolder) + track : track, pictures);
            TStringList names;
            ini.ReadSection(section, names);
            for (int m = 0; m < names.Count(); ++m) {
                std::string picture = RStr(ini, section.c_str(), names[m], "");
                if (!picture.empty() && FileExistsIn(Folder, picture))
                    pictures->Add(fullPaths ? IncludeTrailingPathDelimiter(Folder) + picture : picture);
            }
        } else {
            Groups->AddObject("", pictures);
        }
    }
    for (int i = Groups->Count() - 1; i >= 0; --i) {
        auto* pictures = dynamic_cast<TStringList*>(Groups->Objects(i));
        if (!pictures || pictures->Count() == 0) Groups->Delete(i);
    }
}

} // namespace lumora
