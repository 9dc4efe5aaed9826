#include <gtest/gtest.h>

#include <algorithm>
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
    TFigure(std::string table, double goal) : Table(std::move(table)), Goal(goal) {}
    std::string Table;
    double Goal = 0; // per cent
    size_t Count = 0, Right = 0;
    std::vector<std::string> Misread;

    // full: the bytes fill a fixed-size field, and may have cut a character in two.
    void Check(const std::string& bytes, const std::string& text, bool full = false) {
        // Bytes that read as naturally in another code page as in their own: left out of the
        // count, and shown.
        static const std::vector<std::string> undecided = {
            "Neon Genesis Evangelion Theme\xe6",     // "…Theme" and the first byte of "残", or "…Themeæ"
        };
        if (std::find(undecided.begin(), undecided.end(), bytes) != undecided.end()) {
            std::printf("[ undecided] %s: %s read as %s\n", Table.c_str(), text.c_str(),
                        (full ? DecodeFullLegacyField(bytes) : DecodeLegacyText(bytes)).c_str());
            return;
        }
        ++Count;
        std::string read = full ? DecodeFullLegacyField(bytes) : DecodeLegacyText(bytes);
        if (read == text) ++Right;
        else if (Misread.size() < 8) Misread.push_back(text + " -> " + read);
    }
    double Percent() const { return Count ? 100.0 * static_cast<double>(Right) / static_cast<double>(Count) : 0; }
};

void Report(const std::vector<TFigure>& figures) {
    for (const auto& f : figures) {
        std::printf("[ figures  ] %-58s %6zu titles, %6zu read as written (%.2f %%, goal %.1f %%)\n", f.Table.c_str(),
                    f.Count, f.Right, f.Percent(), f.Goal);
        EXPECT_GE(f.Percent(), f.Goal) << f.Table;
        if (f.Percent() < f.Goal)
            for (const auto& m : f.Misread) ADD_FAILURE() << f.Table << ": " << m;
    }
}

// The first characters of UTF-8 text.
std::string FirstCharacters(const std::string& utf8, size_t count) {
    size_t at = 0;
    for (; at < utf8.size() && count > 0; --count)
        do ++at;
        while (at < utf8.size() && (static_cast<unsigned char>(utf8[at]) & 0xC0) == 0x80);
    return utf8.substr(0, at);
}

// How many characters of 8-bit or UTF-8 bytes fit whole into the first `size` bytes.
size_t WholeCharacters(const std::string& bytes, const std::string& codec, size_t size) {
    size_t at = 0, count = 0;
    while (at < bytes.size()) {
        auto b = static_cast<unsigned char>(bytes[at]);
        size_t length = 1;
        if (codec == "cp932") length = (b >= 0x81 && b <= 0x9F) || b >= 0xE0 ? 2 : 1;
        if (codec == "utf-8") length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        if (at + length > size) break;
        at += length;
        ++count;
    }
    return count;
}

// An ID3v1 field holds 30 bytes: a title as long or longer reads as the whole characters before the cut.
void CheckCut(TFigure& figure, const std::string& bytes, const std::string& codec, const std::string& text) {
    constexpr size_t field = 30;
    if (bytes.size() < field) return;
    figure.Check(bytes.substr(0, field), FirstCharacters(text, WholeCharacters(bytes, codec, field)), true);
}

// Titles users found misread, each in every form that holds it (Python's codecs).
const std::vector<std::string> reportedTitles = {
    "ça", "år", "él", "Ø", "Æ Ø Å Ü", "Nº 5", "2 × 2", "Æ", "25 °C", "Symphonie Nº 9", "£ 5", "¥ 100", "± 5", "µ-Ziq",
    "« Bonjour »", "3½", "“…”", "’", "“Everybody Wants to Rule the World”", "Ｘ", "畦", "綜絖 Summer", "鑪 (Live)",
    "Ελλάδα", "夜に駆ける feat. 初音ミク", "“Programvirksomheter og Løsninger”",
    // Fields that end on the last character of a form: no CP932 character was cut there.
    "Music for the Royal Fireworks…", "Music for the Royal Fireworks”", "Music for the Royal Fireworks’",
    "Music for the Royal Firework –", "Les Misérables: Intégrales – Œ", "Music for the Royal Fireworks™",
    "Carmen, Acte II, Scène 2 – Crè", "Les Enfants du Paradis – La Fê"};

// Thousands of titles made of dictionary words (tools/make-legacy-text-tables), each in its 8-bit
// code page and in UTF-8, whole and cut by a 30-byte field, and the real-looking titles, read as
// their writers wrote them.
TEST(LegacyText, PopulationsReadAsWritten) {
    std::vector<TFigure> figures;
    for (auto [file, name] : {std::pair{"western-titles.tsv", "dictionary words, Western"},
                              std::pair{"japanese-titles.tsv", "dictionary words, Japanese"},
                              std::pair{"western-short-titles.tsv", "one to three characters, Western"},
                              std::pair{"japanese-short-titles.tsv", "one to three characters, Japanese"},
                              std::pair{"symbol-titles.tsv", "signs among words and numbers"},
                              std::pair{"mixed-titles.tsv", "Japanese and English words"}}) {
        std::vector<test::TTitleBytes> table = test::TitleTable(file);
        ASSERT_GE(table.size(), 1000u) << file;
        bool western = std::string(file).find("japanese") == std::string::npos && file[0] != 'm';
        std::string codec = western ? "cp1252" : "cp932";
        TFigure eightBit{std::string(name) + " in " + codec, 99.5}, utf8{std::string(name) + " in UTF-8", 99.5};
        TFigure eightBitCut{std::string(name) + " in " + codec + ", cut at 30", 99.5};
        TFigure utf8Cut{std::string(name) + " in UTF-8, cut at 30", 99.5};
        for (const auto& t : table) {
            eightBit.Check(t.Bytes, t.Text);
            utf8.Check(t.Text, t.Text);
            CheckCut(eightBitCut, t.Bytes, codec, t.Text);
            CheckCut(utf8Cut, t.Text, "utf-8", t.Text);
        }
        for (const TFigure& f : {eightBit, utf8, eightBitCut, utf8Cut})
            if (f.Count > 0) figures.push_back(f);
    }
    if (test::HaveTool("python3")) {
        for (auto [titles, name] : {std::pair{&test::WesternTitles(), "real titles, Western"},
                                    std::pair{&test::JapaneseTitles(), "real titles, Japanese"},
                                    std::pair{&reportedTitles, "titles users reported"}}) {
            for (std::string codec : {"cp1252", "cp932", "utf-8"}) {
                std::vector<std::string> bytes = test::EncodedByPython(*titles, codec);
                std::vector<std::string> back = test::DecodedByPython(bytes, codec);
                ASSERT_EQ(back.size(), titles->size()) << codec;
                TFigure whole{std::string(name) + " in " + codec, 100}, cut{std::string(name) + " in " + codec + ", cut at 30", 100};
                for (size_t i = 0; i < bytes.size(); ++i) {
                    // Only the titles the code page holds as written ("£" is "￡" in CP932).
                    if (back[i] != (*titles)[i]) continue;
                    whole.Check(bytes[i], (*titles)[i]);
                    CheckCut(cut, bytes[i], codec, (*titles)[i]);
                }
                for (const TFigure& f : {whole, cut})
                    if (f.Count > 0) figures.push_back(f);
            }
        }
    }
    // The byte patterns of Japanese that earlier rules misread, every one of them: "A" and two
    // half-width katakana; a letter and a double-byte character; a double-byte character alone.
    // Many are byte for byte Western words too ("A’m" is "A知", "AŠC" is "A海", "Aèm" is "A鑪",
    // "A§À" is "Aｧﾀ", which no Japanese writes), so these goals are floors, not the 99.5 % of
    // the titles.
    TFigure halfWidth{"A + two half-width katakana, CP932", 85};
    for (int a = 0xA6; a <= 0xDF; ++a)
        for (int b = 0xA6; b <= 0xDF; ++b) {
            std::string bytes = {'A', static_cast<char>(a), static_cast<char>(b)};
            halfWidth.Check(bytes, CP932ToUtf8(bytes).value());
        }
    TFigure afterLetter{"letter + double-byte character, CP932", 60};
    TFigure alone{"double-byte character alone, CP932", 95};
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
    EXPECT_EQ(FileNameUtf8("\x82\x77.jpg"), "Ｘ.jpg");
    EXPECT_EQ(FileNameUtf8("N\xba 5.jpg"), "Nº 5.jpg");
    EXPECT_EQ(FileNameUtf8("/a//b/"), "/a//b/");
    EXPECT_EQ(FileNameUtf8("/"), "/");
    EXPECT_EQ(FileNameUtf8(""), "");
}

} // namespace
} // namespace lumora
