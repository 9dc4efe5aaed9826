#include <algorithm>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "engine/EffectTable.h"

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

TEST(EffectTable, NamesAndFamilies) {
    EXPECT_STREQ(EffectName(0), "ﾌﾞﾚﾝﾄﾞ");
    EXPECT_STREQ(EffectName(71), "霧");
    EXPECT_STREQ(EffectName(87), "前ﾍﾟｰｼﾞ左右");
    EXPECT_STREQ(EffectName(88), "");
    EXPECT_STREQ(EffectName(-1), "");
    std::set<std::string> names;
    for (const auto& e : EffectTable) names.insert(e.Name);
    EXPECT_EQ(names.size(), 88u);
    EXPECT_EQ(FamilyOfCode(39), TEffectFamily::ChannelBlend);
    EXPECT_EQ(FamilyOfCode(66), TEffectFamily::Turn);
    EXPECT_EQ(FamilyOfCode(1), TEffectFamily::Compress);
    EXPECT_EQ(FamilyOfCode(59), TEffectFamily::Scroll);
}

} // namespace
} // namespace lumora
