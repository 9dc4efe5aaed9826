#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "framework/LegacyText.h"
#include "framework/SysUtils.h"
#include "tests/support/HaveTool.h"
#include "tests/support/LegacyTitles.h"

namespace lumora {
namespace {

// How many of a population of titles read as written.
struct TFigure {
    std::string Table;
    size_t Count = 0, Right = 0;
    double Goal = 0; // per cent
    std::vector<std::string> Misread;

    void Check(const std::string& bytes, const std::string& text) {
        ++Count;
        std::string read = DecodeLegacyText(bytes);
        if (read == text) ++Right;
        else if (Misread.size() < 8) Misread.push_back(text + " -> " + read);
    }
    double Percent() const { return Count ? 100.0 * static_cast<double>(Right) / static_cast<double>(Count) : 0; }
};

void Report(const std::vector<TFigure>& figures) {
    for (const auto& f : figures) {
        std::printf("[ figures  ] %-52s %6zu titles, %6zu read as written (%.2f %%, goal %.1f %%)\n", f.Table.c_str(),
                    f.Count, f.Right, f.Percent(), f.Goal);
        EXPECT_GE(f.Percent(), f.Goal) << f.Table;
        if (f.Percent() < f.Goal)
            for (const auto& m : f.Misread) ADD_FAILURE() << f.Table << ": " << m;
    }
}

// Thousands of titles made of dictionary words (tools/make-legacy-text-tables), each in its 8-bit
// code page and in UTF-8, and the real-looking titles, read as their writers wrote them.
TEST(LegacyText, PopulationsReadAsWritten) {
    std::vector<TFigure> figures;
    for (auto [file, name] : {std::pair{"western-titles.tsv", "dictionary words, Western"},
                              std::pair{"japanese-titles.tsv", "dictionary words, Japanese"}}) {
        std::vector<test::TTitleBytes> table = test::TitleTable(file);
        ASSERT_GE(table.size(), 2000u) << file;
        TFigure eightBit{std::string(name) + (file[0] == 'w' ? " in Windows-1252" : " in CP932"), 0, 0, 99.5, {}};
        TFigure utf8{std::string(name) + " in UTF-8", 0, 0, 99.5, {}};
        for (const auto& t : table) {
            eightBit.Check(t.Bytes, t.Text);
            utf8.Check(t.Text, t.Text);
        }
        figures.push_back(eightBit);
        figures.push_back(utf8);
    }
    if (test::HaveTool("python3")) {
        for (auto [titles, codec, name] : {std::tuple{&test::WesternTitles(), "cp1252", "real titles, Western"},
                                           std::tuple{&test::JapaneseTitles(), "cp932", "real titles, Japanese"}}) {
            std::vector<std::string> bytes = test::EncodedByPython(*titles, codec);
            ASSERT_EQ(bytes.size(), titles->size()) << codec;
            TFigure eightBit{std::string(name) + " in " + codec, 0, 0, 100, {}};
            TFigure utf8{std::string(name) + " in UTF-8", 0, 0, 100, {}};
            for (size_t i = 0; i < bytes.size(); ++i) {
                eightBit.Check(bytes[i], (*titles)[i]);
                utf8.Check((*titles)[i], (*titles)[i]);
            }
            figures.push_back(eightBit);
            figures.push_back(utf8);
        }
    }
    // The byte patterns of Japanese that earlier rules misread, every one of them: "A" and two
    // half-width katakana; a letter and a double-byte character; a double-byte character alone.
    // Many are byte for byte Western words too ("A’m" is "A知", "AŠC" is "A海", "Aèm" is "A鑪",
    // "A§À" is "Aｧﾀ", which no Japanese writes), so these goals are floors, not the 99.5 % of
    // the titles.
    TFigure halfWidth{"A + two half-width katakana, CP932", 0, 0, 85, {}};
    for (int a = 0xA6; a <= 0xDF; ++a)
        for (int b = 0xA6; b <= 0xDF; ++b) {
            std::string bytes = {'A', static_cast<char>(a), static_cast<char>(b)};
            halfWidth.Check(bytes, CP932ToUtf8(bytes).value());
        }
    TFigure afterLetter{"letter + double-byte character, CP932", 0, 0, 60, {}};
    TFigure alone{"double-byte character alone, CP932", 0, 0, 95, {}};
    for (int lead = 0x81; lead <= 0xFC; ++lead)
        for (int trail = 0x40; trail <= 0xFC && (lead <= 0x9F || lead >= 0xE0); ++trail) {
            std::string ch = {static_cast<char>(lead), static_cast<char>(trail)};
            auto text = CP932ToUtf8(ch);
            if (!text || (lead >= 0xF0 && lead <= 0xF9)) continue; // the user-defined area is no text
            alone.Check(ch, *text);
            afterLetter.Check(std::string(1, 'A').append(ch), std::string(1, 'A').append(*text));
        }
    figures.push_back(halfWidth);
    figures.push_back(afterLetter);
    figures.push_back(alone);
    Report(figures);
}

TEST(LegacyText, TheRuleAtItsEdges) {
    struct {
        std::string bytes, text;
    } cases[] = {
        {"plain ASCII", "plain ASCII"},
        {"", ""},
        // Kanji and kana against Windows punctuation with nothing to punctuate.
        {"\x93\xfa\x96\x7b", "日本"},
        {"Vol.\x82\x50", "Vol.１"},
        // Half-width katakana: a run is Japanese, one alone among Latin letters a Western sign.
        {"\xb1\xb2\xb3", "ｱｲｳ"},
        {"Vol. \xbd", "Vol. ½"},
        {"\xa9 2001", "© 2001"},
        {"\xc3\xbd\xc4 \xb1", "ﾃｽﾄ ｱ"},
        {"\xcf\xcf", "ﾏﾏ"},
        // A sound mark after a kana that takes it; a capital run glued to a letter is no word.
        {"AAAA\xc3\xde", "AAAAﾃﾞ"},
        {"\xc5\xc4\xd6", "ÅÄÖ"},
        {"\xde\xd3R", "ÞÓR"}, // no sound mark begins a word
        // A rare kanji alone is Japanese; wedged between Latin letters or alone among Latin
        // words, it is an accented letter.
        {"\xe5\x4b", "薔"},
        {"\xe8\x6d", "鑪"},
        {"Cr\xe8me", "Crème"},
        {"Sommaren \xe4r kort", "Sommaren är kort"},
        // A lone kanji glued to Latin letters against Windows punctuation where writers put it.
        {"I\x92m Yours", "I’m Yours"},
        {"A\x96\xca", "A面"},
        {"\x93Heroes\x94", "“Heroes”"},
        {"\x93j 319", "屠 319"}, // no quote that is never closed
        {"Nichant \x96Mi tonner", "Nichant –Mi tonner"},
        // Not CP932: a lead byte before a blank, a lone lead byte, bytes CP932 does not use.
        {"caf\xe9 au lait", "café au lait"},
        {"caf\xe9", "café"},
        {"\x82", "‚"},
        {"\x80\xa0\xfd", "€\xC2\xA0ý"},
        // The five bytes Windows-1252 leaves unused read as ISO-8859-1.
        {"a\x81 b\x8d", "a\xC2\x81 b\xC2\x8D"},
        // The user-defined area of CP932 is no text anyone reads.
        {"\xf0\x40", "ð@"},
        {"Gr\xf6\xdf" "e", "Größe"},
        // Valid UTF-8 wins, unless its characters make no sense ("Aα" is "Aﾎｱ").
        {"\xc3\x9c" "ber Caf\xc3\xa9", "Über Café"},
        {"\xe5\x86\x99\xe7\x9c\x9f", "写真"},
        {"A\xce\xb1", "Aﾎｱ"},
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
        // After plain ASCII a lead byte is a cut where it reads as no letter in its place ...
        {"Theme \x8e", "Theme "},
        // ... while an accented letter ending a word is the word's.
        {"Caf\xe9", "Café"},
        {"Cr\xe8me br\xfbl\xe9" "e, Fran\xe7", "Crème brûlée, Franç"},
        // A field that ends on a whole character keeps it.
        {"\x93\xfa\x96\x7b", "日本"},
        {"Theme", "Theme"},
    };
    for (const auto& c : cases) EXPECT_EQ(DecodeFullLegacyField(c.bytes), c.text) << test::Hex(c.bytes);
    // Text with a length of its own is never cut.
    EXPECT_EQ(DecodeLegacyText("\x93\xfa\x96\x7b\x8c"), "“ú–{Œ");
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
