#pragma once
// The fixed table of the 88 transition effects: the switch the settings store for each one (by its
// position in the settings dialog's list), the name the dialog lists, the effect code the transition
// engine runs, the family whose frame routines draw it, and its state in the two preset selections.

#include <array>
#include <cstdint>
#include <vector>

namespace lumora {

constexpr int EffectCount = 88;
// The current effect code when no effect is enabled: no transition runs.
constexpr int NoEffectCode = 255;

enum class TEffectFamily {
    Blend,
    ChannelBlend,
    Light,
    Convert,
    NoiseLines,
    Mosaic,
    Split,
    Warp,
    Turn,
    Compress,
    Stretch,
    Wipe,
    Zoom,
    Blinds,
    Lines,
    Blocks,
    Cells,
    Scroll,
};

struct TEffectEntry {
    const char* Name;     // the settings dialog's list item (UTF-8)
    int32_t Code;         // what the transition engine runs
    TEffectFamily Family; // which family draws the frames
    uint8_t Preset0;      // default switch and the state of the "推奨" preset
    uint8_t Preset1;      // the state of the "ｼﾝﾌﾟﾙ" preset
};

// Indexed by settings index (the position in the dialog's list and the number after "Method").
inline constexpr std::array<TEffectEntry, EffectCount> EffectTable = {{
    {"ﾌﾞﾚﾝﾄﾞ", 0, TEffectFamily::Blend, 1, 1}, // 0
    {"ﾌﾞﾚﾝﾄﾞﾌﾞﾛｯｸ", 68, TEffectFamily::Blend, 1, 0}, // 1
    {"ｵｰﾊﾞｰﾌﾞﾚﾝﾄﾞ", 69, TEffectFamily::Blend, 0, 0}, // 2
    {"ｶﾗｰスルー", 86, TEffectFamily::Blend, 1, 0}, // 3
    {"ｶﾗｰスルーﾌﾞﾛｯｸ", 87, TEffectFamily::Blend, 1, 0}, // 4
    {"ﾘﾌﾟﾙ&ﾌﾞﾚﾝﾄﾞ", 77, TEffectFamily::Blend, 1, 0}, // 5
    {"ﾘﾌﾟﾙ&ﾌﾞﾚﾝﾄﾞﾌﾞﾛｯｸ", 78, TEffectFamily::Blend, 1, 0}, // 6
    {"ﾘﾌﾟﾙ&ｵｰﾊﾞｰﾌﾞﾚﾝﾄﾞ", 79, TEffectFamily::Blend, 0, 0}, // 7
    {"ﾎﾟｽﾀｰ&ﾌﾞﾚﾝﾄﾞ", 80, TEffectFamily::Blend, 1, 0}, // 8
    {"ﾎﾟｽﾀｰ&ﾌﾞﾚﾝﾄﾞﾌﾞﾛｯｸ", 81, TEffectFamily::Blend, 1, 0}, // 9
    {"ﾎﾟｽﾀｰ&ｵｰﾊﾞｰﾌﾞﾚﾝﾄﾞ", 84, TEffectFamily::Blend, 0, 0}, // 10
    {"ｼﾌﾄ&ﾌﾞﾚﾝﾄﾞ", 82, TEffectFamily::Blend, 1, 0}, // 11
    {"ｼﾌﾄ&ﾌﾞﾚﾝﾄﾞﾌﾞﾛｯｸ", 83, TEffectFamily::Blend, 1, 0}, // 12
    {"ｼﾌﾄ&ｵｰﾊﾞｰﾌﾞﾚﾝﾄﾞ", 85, TEffectFamily::Blend, 0, 0}, // 13
    {"ﾌﾞﾚﾝﾄﾞ赤", 39, TEffectFamily::ChannelBlend, 0, 0}, // 14
    {"ﾌﾞﾚﾝﾄﾞ緑", 40, TEffectFamily::ChannelBlend, 0, 0}, // 15
    {"ﾌﾞﾚﾝﾄﾞ青", 41, TEffectFamily::ChannelBlend, 0, 0}, // 16
    {"ﾊｲﾗｲﾄ", 21, TEffectFamily::Light, 1, 1}, // 17
    {"ﾊｲﾗｲﾄ2", 70, TEffectFamily::Light, 1, 0}, // 18
    {"ﾊｲﾗｲﾄ赤", 46, TEffectFamily::Light, 0, 0}, // 19
    {"ﾊｲﾗｲﾄ緑", 47, TEffectFamily::Light, 0, 0}, // 20
    {"ﾊｲﾗｲﾄ青", 48, TEffectFamily::Light, 0, 0}, // 21
    {"ﾛｰﾗｲﾄ", 71, TEffectFamily::Light, 1, 1}, // 22
    {"ｴﾝﾎﾞｽ", 72, TEffectFamily::Convert, 0, 0}, // 23
    {"横ﾉｲｽﾞ", 22, TEffectFamily::NoiseLines, 1, 0}, // 24
    {"横ﾉｲｽﾞ赤", 42, TEffectFamily::NoiseLines, 0, 0}, // 25
    {"横ﾉｲｽﾞ緑", 43, TEffectFamily::NoiseLines, 0, 0}, // 26
    {"横ﾉｲｽﾞ青", 44, TEffectFamily::NoiseLines, 0, 0}, // 27
    {"ﾓｻﾞｲｸ", 23, TEffectFamily::Mosaic, 1, 0}, // 28
    {"ｽﾌﾟﾘｯﾄ", 24, TEffectFamily::Split, 1, 0}, // 29
    {"ｽﾌﾟﾘｯﾄRGB", 51, TEffectFamily::Split, 0, 0}, // 30
    {"回転右", 25, TEffectFamily::Warp, 1, 0}, // 31
    {"回転左", 45, TEffectFamily::Warp, 1, 0}, // 32
    {"回転縦", 66, TEffectFamily::Turn, 1, 0}, // 33
    {"回転分割", 67, TEffectFamily::Turn, 1, 0}, // 34
    {"ﾌｨｯｼｭｱｲ", 52, TEffectFamily::Warp, 0, 0}, // 35
    {"ﾂｲｽﾄ", 53, TEffectFamily::Warp, 1, 0}, // 36
    {"ｳｪｰﾌﾞ", 63, TEffectFamily::Warp, 0, 0}, // 37
    {"ｳｪｰﾌﾞ縦", 64, TEffectFamily::Warp, 0, 0}, // 38
    {"ｳｪｰﾌﾞ横", 65, TEffectFamily::Warp, 0, 0}, // 39
    {"ｽﾌﾟﾚｰ", 26, TEffectFamily::Warp, 1, 0}, // 40
    {"ｶﾗｰﾉｲｽﾞ", 49, TEffectFamily::Warp, 1, 0}, // 41
    {"ﾎﾜｲﾄﾉｲｽﾞ", 50, TEffectFamily::Warp, 1, 0}, // 42
    {"ｶﾗｰｽﾜｯﾌﾟRG", 73, TEffectFamily::Convert, 0, 0}, // 43
    {"ｶﾗｰｽﾜｯﾌﾟGB", 74, TEffectFamily::Convert, 0, 0}, // 44
    {"ｶﾗｰｽﾜｯﾌﾟBR", 75, TEffectFamily::Convert, 0, 0}, // 45
    {"反転", 76, TEffectFamily::Convert, 1, 0}, // 46
    {"圧縮", 1, TEffectFamily::Compress, 0, 0}, // 47
    {"伸縮下へ", 27, TEffectFamily::Stretch, 1, 0}, // 48
    {"伸縮上へ", 28, TEffectFamily::Stretch, 1, 0}, // 49
    {"伸縮右へ", 29, TEffectFamily::Stretch, 1, 0}, // 50
    {"伸縮左へ", 30, TEffectFamily::Stretch, 1, 0}, // 51
    {"ﾜｲﾌﾟ･横", 2, TEffectFamily::Wipe, 1, 1}, // 52
    {"ﾜｲﾌﾟ･縦", 3, TEffectFamily::Wipe, 1, 1}, // 53
    {"ｽﾞｰﾑｲﾝ", 4, TEffectFamily::Zoom, 1, 0}, // 54
    {"ｽﾞｰﾑｱｳﾄ", 5, TEffectFamily::Zoom, 1, 0}, // 55
    {"ﾌﾞﾗｲﾝﾄﾞ縦", 6, TEffectFamily::Blinds, 1, 0}, // 56
    {"ﾌﾞﾗｲﾝﾄﾞ横", 7, TEffectFamily::Blinds, 1, 1}, // 57
    {"縦ﾗｲﾝ往復", 8, TEffectFamily::Lines, 1, 0}, // 58
    {"横ﾗｲﾝ往復", 9, TEffectFamily::Lines, 1, 0}, // 59
    {"縦ﾗｲﾝ扉", 10, TEffectFamily::Lines, 1, 0}, // 60
    {"縦ﾗｲﾝ･ﾗﾝﾀﾞﾑ", 11, TEffectFamily::Lines, 1, 0}, // 61
    {"横ﾗｲﾝ･ﾗﾝﾀﾞﾑ", 12, TEffectFamily::Lines, 1, 0}, // 62
    {"ﾌﾞﾛｯｸ･縦", 13, TEffectFamily::Blocks, 1, 0}, // 63
    {"ﾌﾞﾛｯｸ･横", 14, TEffectFamily::Blocks, 1, 0}, // 64
    {"ﾌﾞﾛｯｸ･斜め", 15, TEffectFamily::Blocks, 0, 0}, // 65
    {"ﾌﾞﾛｯｸ･渦巻き", 16, TEffectFamily::Blocks, 1, 0}, // 66
    {"ﾌﾞﾛｯｸ･ﾗﾝﾀﾞﾑ", 17, TEffectFamily::Blocks, 1, 0}, // 67
    {"ﾊﾞﾌﾞﾙ均等", 18, TEffectFamily::Cells, 1, 0}, // 68
    {"ﾊﾞﾌﾞﾙ下へ", 19, TEffectFamily::Cells, 1, 0}, // 69
    {"ﾊﾞﾌﾞﾙ上へ", 20, TEffectFamily::Cells, 1, 0}, // 70
    {"霧", 60, TEffectFamily::Cells, 1, 1}, // 71
    {"霧下へ", 61, TEffectFamily::Cells, 1, 0}, // 72
    {"霧上へ", 62, TEffectFamily::Cells, 1, 0}, // 73
    {"移動下へ", 31, TEffectFamily::Scroll, 1, 1}, // 74
    {"移動上へ", 32, TEffectFamily::Scroll, 1, 0}, // 75
    {"移動上下", 56, TEffectFamily::Scroll, 1, 0}, // 76
    {"移動右へ", 33, TEffectFamily::Scroll, 1, 1}, // 77
    {"移動左へ", 34, TEffectFamily::Scroll, 1, 0}, // 78
    {"移動左右", 57, TEffectFamily::Scroll, 1, 0}, // 79
    {"次ﾍﾟｰｼﾞ下へ", 35, TEffectFamily::Scroll, 1, 0}, // 80
    {"前ﾍﾟｰｼﾞ上へ", 36, TEffectFamily::Scroll, 1, 0}, // 81
    {"次ﾍﾟｰｼﾞ上下", 54, TEffectFamily::Scroll, 1, 0}, // 82
    {"前ﾍﾟｰｼﾞ上下", 58, TEffectFamily::Scroll, 1, 0}, // 83
    {"次ﾍﾟｰｼﾞ右へ", 37, TEffectFamily::Scroll, 1, 0}, // 84
    {"前ﾍﾟｰｼﾞ左へ", 38, TEffectFamily::Scroll, 1, 0}, // 85
    {"次ﾍﾟｰｼﾞ左右", 55, TEffectFamily::Scroll, 1, 0}, // 86
    {"前ﾍﾟｰｼﾞ左右", 59, TEffectFamily::Scroll, 1, 0}, // 87
}};

namespace detail {
constexpr std::array<int32_t, EffectCount> BuildCodeTable() {
    std::array<int32_t, EffectCount> codes{};
    for (int i = 0; i < EffectCount; ++i) codes[i] = EffectTable[i].Code;
    return codes;
}
constexpr std::array<std::array<uint8_t, 2>, EffectCount> BuildPresets() {
    std::array<std::array<uint8_t, 2>, EffectCount> presets{};
    for (int i = 0; i < EffectCount; ++i) presets[i] = {EffectTable[i].Preset0, EffectTable[i].Preset1};
    return presets;
}
} // namespace detail

// Settings index -> effect code (a permutation of 0..87).
inline constexpr std::array<int32_t, EffectCount> EffectCodeTable = detail::BuildCodeTable();
// Settings index -> {byte 0: default and "推奨" preset, byte 1: "ｼﾝﾌﾟﾙ" preset}.
inline constexpr std::array<std::array<uint8_t, 2>, EffectCount> MethodPresets = detail::BuildPresets();

using TMethodSwitches = std::array<bool, EffectCount>;

// The effect codes of the switched-on effects, in settings order; empty when none is on.
std::vector<int> EnabledEffectCodes(const TMethodSwitches& method);
// Sets every switch to the given preset column (0 = "推奨", 1 = "ｼﾝﾌﾟﾙ"); other columns are ignored.
void ApplyMethodPreset(TMethodSwitches& method, int preset);
// The default switches (preset column 0).
TMethodSwitches DefaultMethodSwitches();
// Settings index of an effect code, or -1 for a code outside the table.
int SettingsIndexOfCode(int code);
// Family of an effect code; codes outside the table fall back to the plain blend.
TEffectFamily FamilyOfCode(int code);
// List name of a settings index, or an empty string outside 0..87.
const char* EffectName(int index);

} // namespace lumora
