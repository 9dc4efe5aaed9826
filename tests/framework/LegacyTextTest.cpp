#include <gtest/gtest.h>

#include "framework/LegacyText.h"
#include "framework/SysUtils.h"
#include "tests/support/HaveTool.h"
#include "tests/support/LegacyTitles.h"

namespace lumora {
namespace {

struct TEncodedTitles {
    const std::vector<std::string>& Titles;
    const char* Codec;
    bool Japanese;
};

// Every real title reads as a reader of its language reads it, as tag text and as a file name.
TEST(LegacyText, RealTitlesReadInTheirOwnLanguage) {
    if (!test::HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    for (const TEncodedTitles& table : {TEncodedTitles{test::Latin1Titles(), "latin-1", false},
                                        TEncodedTitles{test::JapaneseTitles(), "cp932", true}}) {
        std::vector<std::string> bytes = test::EncodedByPython(table.Titles, table.Codec);
        ASSERT_EQ(bytes.size(), table.Titles.size()) << table.Codec;
        for (size_t i = 0; i < bytes.size(); ++i) {
            const std::string& title = table.Titles[i];
            SCOPED_TRACE(title);
            EXPECT_EQ(ReadsAsJapanese(bytes[i]), table.Japanese);
            EXPECT_EQ(DecodeLegacyText(bytes[i]), title);
            EXPECT_EQ(SanitizeUtf8(bytes[i]), title);
            // A name from an archive of another system, in a folder named in UTF-8.
            EXPECT_EQ(FileNameUtf8("/home/me/音楽/" + bytes[i] + ".mp3"), "/home/me/音楽/" + title + ".mp3");
        }
    }
}

TEST(LegacyText, TheRuleAtItsEdges) {
    struct {
        std::string bytes, text;
    } cases[] = {
        {"plain ASCII", "plain ASCII"},
        {"", ""},
        // Bytes 0x80-0x9F are control codes in ISO-8859-1: a CP932 character holding one is Japanese.
        {"\x93\xfa\x96\x7b", "日本"},
        {"Vol.\x82\x50", "Vol.１"},
        // Half-width katakana: a run is Japanese, one alone among ASCII is an ISO-8859-1 sign.
        {"\xb1\xb2\xb3", "ｱｲｳ"},
        {"\xb1", "±"},
        {"\xa9 2001", "© 2001"},
        // As many runs look Japanese as look ISO-8859-1: Japanese.
        {"\xc3\xbd\xc4 \xb1", "ﾃｽﾄ ｱ"},
        // Two half-width katakana apart from ASCII letters are a word; beside one, accented letters.
        {"\xcf\xcf", "ﾏﾏ"},
        {"\xcf\xcfs", "ÏÏs"},
        // A rare kanji whose second byte is an ASCII capital; one whose second byte is a small
        // letter reads as an accented letter in a word.
        {"\xe5\x4b", "薔"},
        {"\xe8\x6d", "èm"},
        // Not CP932: a lead byte before a blank, a lone lead byte, bytes CP932 does not use.
        {"caf\xe9 au lait", "café au lait"},
        {"caf\xe9", "café"},
        {"\x82", "\xC2\x82"},
        {"\x80\xa0\xfd", "\xC2\x80\xC2\xA0ý"},
        // The user-defined area of CP932 is no text anyone reads.
        {"\xf0\x40", "ð@"},
        {"Gr\xf6\xdf" "e", "Größe"},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeLegacyText(c.bytes), c.text) << test::Hex(c.bytes);
}

// A fixed-size field filled to its last byte may have cut a CP932 character in two.
TEST(LegacyText, FullFieldsDropTheHalfOfACutCharacterOnly) {
    struct {
        std::string bytes, text;
    } cases[] = {
        {"\x93\xfa\x96\x7b\x8c", "日本"},
        {"AB \x82\xa0\x82", "AB あ"},
        {"\xb1\xb2\xb3\x83", "ｱｲｳ"},
        // After plain ASCII a lead byte 0x81-0x9F is a cut too (it is no ISO-8859-1 letter) ...
        {"Theme \x8e", "Theme "},
        // ... while 0xE0-0xFC ends an ISO-8859-1 word.
        {"Caf\xe9", "Café"},
        {"Cr\xe8me br\xfbl\xe9" "e, Fran\xe7", "Crème brûlée, Franç"},
        // A field that ends on a whole character keeps it.
        {"\x93\xfa\x96\x7b", "日本"},
        {"Theme", "Theme"},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeFullLegacyField(c.bytes), c.text) << test::Hex(c.bytes);
    // Text with a length of its own is never cut.
    EXPECT_EQ(DecodeLegacyText("\x93\xfa\x96\x7b\x8c"), "\xC2\x93ú\xC2\x96{\xC2\x8C");
}

TEST(LegacyText, Utf8StaysAsItIs) {
    EXPECT_TRUE(IsValidUtf8("naïve 日本 😀"));
    EXPECT_FALSE(IsValidUtf8("\xC3"));         // cut sequence
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));     // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80")); // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80")); // past U+10FFFF
    EXPECT_TRUE(IsValidUtf8("\xEF\xBF\xBD"));  // a real replacement character
    EXPECT_EQ(SanitizeUtf8("naïve 日本"), "naïve 日本");
    EXPECT_EQ(SanitizeUtf8("caf\xe9"), "café");
}

TEST(LegacyText, EachNameOfAPathReadsOnItsOwn) {
    // "写真" in CP932 holding a name in ISO-8859-1, under a folder named in UTF-8.
    EXPECT_EQ(FileNameUtf8("/音楽/\x8e\xca\x90\x5e/Cr\xe8me.jpg"), "/音楽/写真/Crème.jpg");
    EXPECT_EQ(FileNameUtf8("\x83\x5c\x83\x93\x83\x4f.mp3"), "ソング.mp3");
    EXPECT_EQ(FileNameUtf8("/a//b/"), "/a//b/");
    EXPECT_EQ(FileNameUtf8("/"), "/");
    EXPECT_EQ(FileNameUtf8(""), "");
}

} // namespace
} // namespace lumora
