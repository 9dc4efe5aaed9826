#include "engine/settings/Settings.h"

#include <regex>

#include <QPixmap>

#include "engine/playlists/PlayLists.h"
#include "platform/display/CursorList.h"
#include "platform/system/Random.h"
#include "platform/display/Screens.h"
#include "resources/ad_hand.xpm"

namespace lumora {

namespace {

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
    Interval = RInt(ini, "Setting", "Interval", 5);
    SndInterval = RInt(ini, "Setting", "SndInterval", 0);
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
    LogoImgPos = RInt(ini, "LOGO", "LogoImgPos", 2);

    PosRandom = RBool(ini, "Setting", "PosRandom", true);
    OrdRandom = RInt(ini, "Setting", "OrdRandom", 2);
    SndRandom = RInt(ini, "Setting", "SndRandom", 2);
    ImgSort = RInt(ini, "Setting", "ImgSort", 0);
    SndSort = RInt(ini, "Setting", "SndSort", 0);
    SizeAdjust = RInt(ini, "Setting", "SizeAdjust", 1);
    TMonitor first = Monitor(0);
    SizeAdjustX = RInt(ini, "Setting", "SizeAdjustX", first.Width() * 70 / 100);
    SizeAdjustY = RInt(ini, "Setting", "SizeAdjustY", first.Height() * 70 / 100);
    CImgFilter = RBool(ini, "Setting", "CImgFilter", true);
    StopOnKey = RBool(ini, "Setting", "StopOnKey", true);
    StopOnMouseMove = RBool(ini, "Setting", "StopOnMouseMove", true);
    StopOnMouseClick = RBool(ini, "Setting", "StopOnMouseClick", true);
    StopOnPwrSave = RBool(ini, "Setting", "StopOnPwrSave", true);

    for (int i = 0; i < EffectCount; ++i)
        Method[i] = RBool(ini, "Method", "Method" + IntToStr(i), MethodPresets[i][0] != 0);
    ChgSpeed = RInt(ini, "Method", "ChgSpeed", 5);

    CapDisp = RInt(ini, "Setting", "CapDisp", 0);
    if (CapDisp > 2) CapDisp = 1;
    if (CapDisp >= 1) {
        CapFont.Charset = static_cast<uint8_t>(RInt(ini, "Font", "CapCharset", 128));
        CapFont.SetHeight(RInt(ini, "Font", "CapHeight", -12));
        CapFont.Name = RStr(ini, "Font", "CapName", "ＭＳ Ｐゴシック");
        CapFont.SetSize(RInt(ini, "Font", "CapSize", 9));
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
    MsVol = VolContl && MsVolChg ? RInt(ini, "Volume", "MsVol", 65535) : 65535;
    WaveVol = VolContl ? RInt(ini, "Volume", "WaveVol", 65535) : 65535;
    MidiVol = VolContl ? RInt(ini, "Volume", "MidiVol", 65535) : 65535;
    MuteWaveVol = VolContl ? RInt(ini, "Volume", "MuteWaveVol", 0) : 0;
    MuteMidiVol = VolContl ? RInt(ini, "Volume", "MuteMidiVol", 0) : 0;
    TimeZone = VolContl ? RInt(ini, "Volume", "TimeZone", 0) : 0;
    if (VolContl) {
        RTime(ini, "STime", STimeHour, STimeMin, STimeSec, 0, 0, 0);
        RTime(ini, "ETime", ETimeHour, ETimeMin, ETimeSec, 23, 59, 59);
    } else {
        STimeHour = STimeMin = STimeSec = 0;
        ETimeHour = 23, ETimeMin = 59, ETimeSec = 59;
    }

    Equalizer = RBool(ini, "EFECT", "Equalizer", false);
    for (int band = 1; band <= 10; ++band)
        EquaVal[band] = Equalizer ? RInt(ini, "EFECT", "EquaVal" + IntToStr(band), 16) : 16;
    Echo = RBool(ini, "EFECT", "Echo", false);
    EchoVal = Echo ? RInt(ini, "EFECT", "EchoVal", 16) : 16;
    Reverb = RBool(ini, "EFECT", "Reverb", false);
    ReverbVal = Reverb ? RInt(ini, "EFECT", "ReverbVal", 16) : 16;
    Flanger = RBool(ini, "EFECT", "Flanger", false);
    MidiDevice = RStr(ini, "EFECT", "MidiDevice", "");

    ImgBtnState = RInt(ini, "Setting", "ImgBtnState", 2);
    ImgPreview = RBool(ini, "Setting", "ImgPreview", true);
    SndBtnState = RInt(ini, "Setting", "SndBtnState", 2);
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
