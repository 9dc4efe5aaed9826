#include <algorithm>
#include <iterator>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "engine/transitions/EffectTable.h"
#include "engine/transitions/Effects.h"

namespace lumora {
namespace {

TEST(EffectTable, CodesArePermutation) {
    std::set<int> codes(EffectCodeTable.begin(), EffectCodeTable.end());
    ASSERT_EQ(codes.size(), 88u);
    EXPECT_EQ(*codes.begin(), 0);
    EXPECT_EQ(*codes.rbegin(), 87);
    for (int code = 0; code < EffectCount; ++code) {
        int index = SettingsIndexOfCode(code);
        ASSERT_GE(index, 0);
        EXPECT_EQ(EffectCodeTable[index], code);
    }
    EXPECT_EQ(SettingsIndexOfCode(88), -1);
    EXPECT_EQ(SettingsIndexOfCode(NoEffectCode), -1);
}

TEST(EffectTable, PresetsSwitchOnSixtyFourAndNine) {
    TMethodSwitches method{};
    ApplyMethodPreset(method, 0);
    EXPECT_EQ(std::count(method.begin(), method.end(), true), 64);
    EXPECT_EQ(method, DefaultMethodSwitches());
    ApplyMethodPreset(method, 1);
    EXPECT_EQ(std::count(method.begin(), method.end(), true), 9);
    std::vector<int> simple = EnabledEffectCodes(method);
    EXPECT_EQ(simple, (std::vector<int>{0, 21, 71, 2, 3, 7, 60, 31, 33}));
    // A column outside the table leaves the switches alone.
    ApplyMethodPreset(method, 2);
    EXPECT_EQ(std::count(method.begin(), method.end(), true), 9);
}

TEST(EffectTable, EnabledListFollowsSettingsOrder) {
    TMethodSwitches method{};
    EXPECT_TRUE(EnabledEffectCodes(method).empty());
    method[1] = true;
    EXPECT_EQ(EnabledEffectCodes(method), std::vector<int>{68});
    method[87] = true;
    method[0] = true;
    EXPECT_EQ(EnabledEffectCodes(method), (std::vector<int>{0, 68, 59}));
}

// The whole table as the settings dialog, the registry and the engine know it, row by row.
struct TRow {
    int index;
    const char* name;
    int code;
    TEffectFamily family;
    int preset0, preset1;
};
using F = TEffectFamily;
const TRow kRows[] = {
    {0, "ﾌﾞﾚﾝﾄﾞ", 0, F::Blend, 1, 1},
    {1, "ﾌﾞﾚﾝﾄﾞﾌﾞﾛｯｸ", 68, F::Blend, 1, 0},
    {2, "ｵｰﾊﾞｰﾌﾞﾚﾝﾄﾞ", 69, F::Blend, 0, 0},
    {3, "ｶﾗｰスルー", 86, F::Blend, 1, 0},
    {4, "ｶﾗｰスルーﾌﾞﾛｯｸ", 87, F::Blend, 1, 0},
    {5, "ﾘﾌﾟﾙ&ﾌﾞﾚﾝﾄﾞ", 77, F::Blend, 1, 0},
    {6, "ﾘﾌﾟﾙ&ﾌﾞﾚﾝﾄﾞﾌﾞﾛｯｸ", 78, F::Blend, 1, 0},
    {7, "ﾘﾌﾟﾙ&ｵｰﾊﾞｰﾌﾞﾚﾝﾄﾞ", 79, F::Blend, 0, 0},
    {8, "ﾎﾟｽﾀｰ&ﾌﾞﾚﾝﾄﾞ", 80, F::Blend, 1, 0},
    {9, "ﾎﾟｽﾀｰ&ﾌﾞﾚﾝﾄﾞﾌﾞﾛｯｸ", 81, F::Blend, 1, 0},
    {10, "ﾎﾟｽﾀｰ&ｵｰﾊﾞｰﾌﾞﾚﾝﾄﾞ", 84, F::Blend, 0, 0},
    {11, "ｼﾌﾄ&ﾌﾞﾚﾝﾄﾞ", 82, F::Blend, 1, 0},
    {12, "ｼﾌﾄ&ﾌﾞﾚﾝﾄﾞﾌﾞﾛｯｸ", 83, F::Blend, 1, 0},
    {13, "ｼﾌﾄ&ｵｰﾊﾞｰﾌﾞﾚﾝﾄﾞ", 85, F::Blend, 0, 0},
    {14, "ﾌﾞﾚﾝﾄﾞ赤", 39, F::ChannelBlend, 0, 0},
    {15, "ﾌﾞﾚﾝﾄﾞ緑", 40, F::ChannelBlend, 0, 0},
    {16, "ﾌﾞﾚﾝﾄﾞ青", 41, F::ChannelBlend, 0, 0},
    {17, "ﾊｲﾗｲﾄ", 21, F::Light, 1, 1},
    {18, "ﾊｲﾗｲﾄ2", 70, F::Light, 1, 0},
    {19, "ﾊｲﾗｲﾄ赤", 46, F::Light, 0, 0},
    {20, "ﾊｲﾗｲﾄ緑", 47, F::Light, 0, 0},
    {21, "ﾊｲﾗｲﾄ青", 48, F::Light, 0, 0},
    {22, "ﾛｰﾗｲﾄ", 71, F::Light, 1, 1},
    {23, "ｴﾝﾎﾞｽ", 72, F::Convert, 0, 0},
    {24, "横ﾉｲｽﾞ", 22, F::NoiseLines, 1, 0},
    {25, "横ﾉｲｽﾞ赤", 42, F::NoiseLines, 0, 0},
    {26, "横ﾉｲｽﾞ緑", 43, F::NoiseLines, 0, 0},
    {27, "横ﾉｲｽﾞ青", 44, F::NoiseLines, 0, 0},
    {28, "ﾓｻﾞｲｸ", 23, F::Mosaic, 1, 0},
    {29, "ｽﾌﾟﾘｯﾄ", 24, F::Split, 1, 0},
    {30, "ｽﾌﾟﾘｯﾄRGB", 51, F::Split, 0, 0},
    {31, "回転右", 25, F::Warp, 1, 0},
    {32, "回転左", 45, F::Warp, 1, 0},
    {33, "回転縦", 66, F::Turn, 1, 0},
    {34, "回転分割", 67, F::Turn, 1, 0},
    {35, "ﾌｨｯｼｭｱｲ", 52, F::Warp, 0, 0},
    {36, "ﾂｲｽﾄ", 53, F::Warp, 1, 0},
    {37, "ｳｪｰﾌﾞ", 63, F::Warp, 0, 0},
    {38, "ｳｪｰﾌﾞ縦", 64, F::Warp, 0, 0},
    {39, "ｳｪｰﾌﾞ横", 65, F::Warp, 0, 0},
    {40, "ｽﾌﾟﾚｰ", 26, F::Warp, 1, 0},
    {41, "ｶﾗｰﾉｲｽﾞ", 49, F::Warp, 1, 0},
    {42, "ﾎﾜｲﾄﾉｲｽﾞ", 50, F::Warp, 1, 0},
    {43, "ｶﾗｰｽﾜｯﾌﾟRG", 73, F::Convert, 0, 0},
    {44, "ｶﾗｰｽﾜｯﾌﾟGB", 74, F::Convert, 0, 0},
    {45, "ｶﾗｰｽﾜｯﾌﾟBR", 75, F::Convert, 0, 0},
    {46, "反転", 76, F::Convert, 1, 0},
    {47, "圧縮", 1, F::Compress, 0, 0},
    {48, "伸縮下へ", 27, F::Stretch, 1, 0},
    {49, "伸縮上へ", 28, F::Stretch, 1, 0},
    {50, "伸縮右へ", 29, F::Stretch, 1, 0},
    {51, "伸縮左へ", 30, F::Stretch, 1, 0},
    {52, "ﾜｲﾌﾟ･横", 2, F::Wipe, 1, 1},
    {53, "ﾜｲﾌﾟ･縦", 3, F::Wipe, 1, 1},
    {54, "ｽﾞｰﾑｲﾝ", 4, F::Zoom, 1, 0},
    {55, "ｽﾞｰﾑｱｳﾄ", 5, F::Zoom, 1, 0},
    {56, "ﾌﾞﾗｲﾝﾄﾞ縦", 6, F::Blinds, 1, 0},
    {57, "ﾌﾞﾗｲﾝﾄﾞ横", 7, F::Blinds, 1, 1},
    {58, "縦ﾗｲﾝ往復", 8, F::Lines, 1, 0},
    {59, "横ﾗｲﾝ往復", 9, F::Lines, 1, 0},
    {60, "縦ﾗｲﾝ扉", 10, F::Lines, 1, 0},
    {61, "縦ﾗｲﾝ･ﾗﾝﾀﾞﾑ", 11, F::Lines, 1, 0},
    {62, "横ﾗｲﾝ･ﾗﾝﾀﾞﾑ", 12, F::Lines, 1, 0},
    {63, "ﾌﾞﾛｯｸ･縦", 13, F::Blocks, 1, 0},
    {64, "ﾌﾞﾛｯｸ･横", 14, F::Blocks, 1, 0},
    {65, "ﾌﾞﾛｯｸ･斜め", 15, F::Blocks, 0, 0},
    {66, "ﾌﾞﾛｯｸ･渦巻き", 16, F::Blocks, 1, 0},
    {67, "ﾌﾞﾛｯｸ･ﾗﾝﾀﾞﾑ", 17, F::Blocks, 1, 0},
    {68, "ﾊﾞﾌﾞﾙ均等", 18, F::Cells, 1, 0},
    {69, "ﾊﾞﾌﾞﾙ下へ", 19, F::Cells, 1, 0},
    {70, "ﾊﾞﾌﾞﾙ上へ", 20, F::Cells, 1, 0},
    {71, "霧", 60, F::Cells, 1, 1},
    {72, "霧下へ", 61, F::Cells, 1, 0},
    {73, "霧上へ", 62, F::Cells, 1, 0},
    {74, "移動下へ", 31, F::Scroll, 1, 1},
    {75, "移動上へ", 32, F::Scroll, 1, 0},
    {76, "移動上下", 56, F::Scroll, 1, 0},
    {77, "移動右へ", 33, F::Scroll, 1, 1},
    {78, "移動左へ", 34, F::Scroll, 1, 0},
    {79, "移動左右", 57, F::Scroll, 1, 0},
    {80, "次ﾍﾟｰｼﾞ下へ", 35, F::Scroll, 1, 0},
    {81, "前ﾍﾟｰｼﾞ上へ", 36, F::Scroll, 1, 0},
    {82, "次ﾍﾟｰｼﾞ上下", 54, F::Scroll, 1, 0},
    {83, "前ﾍﾟｰｼﾞ上下", 58, F::Scroll, 1, 0},
    {84, "次ﾍﾟｰｼﾞ右へ", 37, F::Scroll, 1, 0},
    {85, "前ﾍﾟｰｼﾞ左へ", 38, F::Scroll, 1, 0},
    {86, "次ﾍﾟｰｼﾞ左右", 55, F::Scroll, 1, 0},
    {87, "前ﾍﾟｰｼﾞ左右", 59, F::Scroll, 1, 0},
};

// Which routine of the engine draws each family.
TFamily EngineFamily(TEffectFamily f) {
    switch (f) {
    case F::Blend: case F::ChannelBlend: return TFamily::Blend;
    case F::Stretch: return TFamily::Stretch;
    case F::Scroll: return TFamily::Scroll;
    case F::Compress: case F::Wipe: case F::Zoom: case F::Blinds: case F::Lines: case F::Blocks: case F::Cells:
        return TFamily::Reveal;
    default: return TFamily::Pixel;
    }
}

TEST(EffectTable, EveryRowNamesItsCodeFamilyAndPresets) {
    ASSERT_EQ(std::size(kRows), size_t(EffectCount));
    for (const TRow& r : kRows) {
        const TEffectEntry& e = EffectTable[size_t(r.index)];
        EXPECT_STREQ(e.Name, r.name) << r.index;
        EXPECT_STREQ(EffectName(r.index), r.name) << r.index;
        EXPECT_EQ(e.Code, r.code) << r.index;
        EXPECT_EQ(EffectCodeTable[size_t(r.index)], r.code) << r.index;
        EXPECT_EQ(SettingsIndexOfCode(r.code), r.index) << r.index;
        EXPECT_EQ(e.Family, r.family) << r.index;
        EXPECT_EQ(FamilyOfCode(r.code), r.family) << r.index;
        EXPECT_EQ(FamilyOf(r.code), EngineFamily(r.family)) << r.index;
        EXPECT_EQ(MethodPresets[size_t(r.index)][0], r.preset0) << r.index;
        EXPECT_EQ(MethodPresets[size_t(r.index)][1], r.preset1) << r.index;
    }
    EXPECT_STREQ(EffectName(88), "");
    EXPECT_STREQ(EffectName(-1), "");
    EXPECT_EQ(FamilyOf(88), TFamily::None);
}

} // namespace
} // namespace lumora
