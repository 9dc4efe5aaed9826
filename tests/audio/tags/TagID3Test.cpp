#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "audio/tags/ID3v1.h"
#include "audio/tags/ID3v2.h"
#include "framework/LegacyText.h"
#include "tests/audio/tags/TagTestUtil.h"
#include "tests/support/HaveTool.h"
#include "tests/support/LegacyTitles.h"

namespace lumora {
namespace {

using test::Frame22;
using test::Frame23;
using test::Frame24;
using test::Latin;
using test::ReadFile;
using test::Tag;
using test::TempDir;

std::string V1Block(const std::string& title, const std::string& comment30, uint8_t genre) {
    std::string b(128, '\0');
    b.replace(0, 3, "TAG");
    b.replace(3, title.size(), title);
    b.replace(97, comment30.size(), comment30);
    b[127] = static_cast<char>(genre);
    return b;
}

TEST(TagID3v1, VersionDetectionFromTheCommentBytes) {
    TempDir dir;
    struct Case {
        char b125, b126;
        int version, track;
    } cases[] = {{0, 7, 2, 7}, {0x20, 0x35, 2, 0x35}, {0x20, 0x20, 1, 0}, {'x', 'y', 1, 0}, {0, 0, 1, 0}};
    for (const auto& c : cases) {
        std::string comment(30, 'c');
        comment[28] = c.b125;
        comment[29] = c.b126;
        std::string path = dir.WriteFile("v1.mp3", "audio" + V1Block("T", comment, 17));
        TID3v1 tag;
        ASSERT_TRUE(tag.ReadFromFile(path));
        EXPECT_TRUE(tag.Exists());
        EXPECT_EQ(tag.VersionID(), c.version) << int(c.b125) << "/" << int(c.b126);
        EXPECT_EQ(tag.Track(), c.track);
        EXPECT_EQ(tag.Comment().substr(0, 28), std::string(28, 'c'));
        if (c.version == 2) {
            EXPECT_EQ(tag.Comment().size(), 28u);
        }
        EXPECT_EQ(tag.GenreName(), "Rock");
    }
}

TEST(TagID3v1, GenreTableAndNames) {
    EXPECT_EQ(ID3v1GenreName(0), "Blues");
    EXPECT_EQ(ID3v1GenreName(67), "Psychadelic");
    EXPECT_EQ(ID3v1GenreName(92), "Progessive Rock");
    EXPECT_EQ(ID3v1GenreName(147), "Synthpop");
    EXPECT_EQ(ID3v1GenreName(148), "");
    EXPECT_EQ(ID3v1GenreName(255), "");
}

TEST(TagID3v1, FilesWithoutTagOrTooShort) {
    TempDir dir;
    TID3v1 tag;
    EXPECT_FALSE(tag.ReadFromFile(dir.File("missing.mp3")));
    EXPECT_FALSE(tag.ReadFromFile(dir.WriteFile("short.mp3", "abc")));
    EXPECT_TRUE(tag.ReadFromFile(dir.WriteFile("none.mp3", std::string(300, 'x'))));
    EXPECT_FALSE(tag.Exists());
    EXPECT_EQ(tag.Genre(), 255);
}

TEST(TagID3v1, SaveOverwritesInPlaceAppendsAndRemoves) {
    TempDir dir;
    std::string audio(1000, 'a');
    std::string path = dir.WriteFile("s.mp3", audio);
    TID3v1 tag;
    tag.SetTitle("Title   ");
    tag.SetArtist("日本語のアーティスト名はとても長いのでここで切れる");
    tag.SetComment(std::string(30, 'k'));
    tag.SetTrack(9);
    tag.SetGenre(13);
    ASSERT_TRUE(tag.SaveToFile(path));
    std::string bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 1128u);
    EXPECT_EQ(bytes.substr(0, 1000), audio);

    TID3v1 back;
    ASSERT_TRUE(back.ReadFromFile(path));
    EXPECT_EQ(back.Title(), "Title");
    // 30 bytes of CP932 hold 15 of these characters, cut on a character boundary.
    EXPECT_EQ(back.Artist(), "日本語のアーティスト名はとても");
    EXPECT_EQ(back.Comment(), std::string(28, 'k'));
    EXPECT_EQ(back.Track(), 9);
    EXPECT_EQ(back.VersionID(), 2);
    EXPECT_EQ(back.GenreName(), "Pop");

    // Saving again overwrites the block: the length stays.
    back.SetTitle("Other");
    ASSERT_TRUE(back.SaveToFile(path));
    EXPECT_EQ(ReadFile(path).size(), 1128u);
    ASSERT_TRUE(tag.ReadFromFile(path));
    EXPECT_EQ(tag.Title(), "Other");

    ASSERT_TRUE(tag.RemoveFromFile(path));
    EXPECT_EQ(ReadFile(path), audio);
    EXPECT_TRUE(tag.RemoveFromFile(path));
    EXPECT_EQ(ReadFile(path), audio);
}

TEST(TagID3v1, BufferReaderIsBoundedByItsLength) {
    std::string block = V1Block("Buffered", std::string(28, 'c') + std::string("\0\x04", 2), 2);
    TID3v1 tag;
    TMP3TagInfo info;
    EXPECT_FALSE(tag.ReadFromBuffer(reinterpret_cast<const uint8_t*>(block.data()), 127, info));
    ASSERT_TRUE(tag.ReadFromBuffer(reinterpret_cast<const uint8_t*>(block.data()), 128, info));
    EXPECT_EQ(info.Title, "Buffered");
    EXPECT_EQ(info.Track, 4);
    EXPECT_EQ(info.Genre, "Country");
    EXPECT_EQ(info.Comment, std::string(28, 'c'));
}

// Real titles in Windows-1252 and in CP932, written by mutagen as ID3v2.3 8-bit text (which has a
// length of its own) and as ID3v1 titles (30-byte fields, cut there): each reads as a reader of
// its language reads it, the ID3v1 field with the whole characters that fit.
TEST(TagID3, LegacyTitlesReadInTheirOwnLanguage) {
    REQUIRE_MUTAGEN();
    for (auto [titles, codec] : {std::pair{&test::WesternTitles(), "cp1252"}, std::pair{&test::JapaneseTitles(), "cp932"}}) {
        TempDir dir;
        std::string args = "legacy-titles " + test::Quoted(dir.Path()) + " " + codec;
        for (const auto& title : *titles) args += ' ' + test::Hex(title);
        std::string out = test::Mutagen(args);
        std::vector<std::string> v1Titles;
        for (size_t at = 0; at < out.size();) {
            size_t end = std::min(out.find('\n', at), out.size());
            v1Titles.push_back(test::FromHex(out.substr(at, end - at)));
            at = end + 1;
        }
        ASSERT_EQ(v1Titles.size(), titles->size()) << out;
        for (size_t i = 0; i < titles->size(); ++i) {
            SCOPED_TRACE((*titles)[i]);
            std::string path = dir.File(std::to_string(i) + ".mp3");
            TID3v1 v1;
            ASSERT_TRUE(v1.ReadFromFile(path));
            EXPECT_EQ(v1.Title(), v1Titles[i]);
            TID3v2 v2;
            ASSERT_TRUE(v2.ReadFromFile(path));
            EXPECT_EQ(v2.Title(), (*titles)[i]);
            // The tag block the audio library hands over reads the same.
            std::string block = ReadFile(path).substr(ReadFile(path).size() - 128);
            TMP3TagInfo info;
            ASSERT_TRUE(v1.ReadFromBuffer(reinterpret_cast<const uint8_t*>(block.data()), 128, info));
            EXPECT_EQ(info.Title, v1Titles[i]);
        }
    }
}

// Only an ID3v1 field filled to its last byte can have cut a character: a lone CP932 lead byte
// at the end of a shorter field, or of 8-bit ID3v2 text (which has a length of its own), is part
// of the text and makes it Windows-1252. The blanks before a cut go with it.
TEST(TagID3, OnlyAFullID3v1FieldIsCut) {
    if (!test::HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
    // Windows-1252 as Python's codec reads it; its unused bytes do not occur here.
    auto western = [](const std::string& bytes) { return test::DecodedByPython({bytes}, "cp1252").at(0); };
    const std::string hiragana = "\x82\xa0\x82\xa2\x82\xa4\x82\xa6\x82\xa8\x82\xa9\x82\xab\x82\xad\x82\xaf\x82\xb1"
                                 "\x82\xb3\x82\xb5\x82\xb7"; // あいうえおかきくけこさしす
    struct {
        std::string field, v1;
    } cases[] = {
        {"AB " + hiragana + "\x82", "AB あいうえおかきくけこさしす"},
        {"A " + hiragana + "\x82", western("A " + hiragana + "\x82")},
        {"Neon Genesis Evangelion Theme\x8e", "Neon Genesis Evangelion Theme"},
        {"Neon Genesis Evangelion Them\x8e", "Neon Genesis Evangelion ThemŽ"},
        {"Comme d'habitude, Claude Fran\xe7", "Comme d'habitude, Claude Franç"},
        {"Rock" + std::string(25, ' ') + "\x82", "Rock"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.v1);
        std::string path = dir.WriteFile("cut.mp3", Tag(3, Frame23("TIT2", Latin(c.field))) + V1Block(c.field, "", 0));
        TID3v1 v1;
        ASSERT_TRUE(v1.ReadFromFile(path));
        EXPECT_EQ(v1.Title(), c.v1);
        TID3v2 v2;
        ASSERT_TRUE(v2.ReadFromFile(path));
        EXPECT_EQ(v2.Title(), western(c.field));
    }
}

// Titles people report, each saved and read back: the quoted title the field cuts, symbols and
// single letters of both code pages, rare kanji and full-width letters.
const std::vector<std::string> kNamedTitles = {
    "“Everybody Wants to Rule the World”", "Æ", "Nº 5", "Ｘ", "畦", "鑪 (Live)", "ça", "år", "él", "Ø",
    "Æ Ø Å Ü", "2 × 2", "綜絖 Summer", "25 °C", "Symphonie Nº 9", "£ 5", "¥ 100", "± 5", "µ-Ziq",
    "夜に駆ける feat. 初音ミク", "“Programvirksomheter og tjenester i Norge”", "Москва"};

size_t CharacterCount(const std::string& utf8) {
    return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// How many characters of the title's start, trailing blanks left out, a code page holds in a field
// of that many bytes: the most of a long title a save can keep.
size_t LongestStart(const std::string& title, size_t bytes) {
    size_t best = 0;
    for (auto encode : {Utf8ToWindows1252, Utf8ToCP932}) {
        size_t used = 0, count = 0, kept = 0;
        for (size_t at = 0; at < title.size(); ++count) {
            size_t length = 1;
            while (at + length < title.size() && (title[at + length] & 0xC0) == 0x80) ++length;
            auto piece = encode(title.substr(at, length));
            if (!piece || used + piece->size() > bytes) break;
            used += piece->size();
            if (title[at] != ' ') kept = count + 1;
            at += length;
        }
        best = std::max(best, kept);
    }
    return best;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

// A title typed into an ID3v1 field is saved in the code page it reads back in: every title of the
// populations that either code page holds reads back as typed, or, where it is longer than the
// field, as a start of it that keeps all but at most one of the characters a code page fits in the
// field; the bytes are that text in CP932 or in Windows-1252 as Python's codecs write them, and
// mutagen, which reads the field as ISO-8859-1, reads those of them alike.
TEST(TagID3v1, SavesReadBackAsTypedOverThePopulations) {
    struct TTable {
        std::string Name;
        std::vector<std::string> Titles;
        double Goal = 99.5; // per cent: every title users reported, as many of a population as the reading gets right
    };
    std::vector<TTable> tables = {{"real titles, Western", test::WesternTitles()},
                                  {"real titles, Japanese", test::JapaneseTitles()},
                                  {"titles reported", kNamedTitles, 100}};
    for (auto [file, name] : {std::pair{"western-titles.tsv", "dictionary words, Western"},
                              std::pair{"japanese-titles.tsv", "dictionary words, Japanese"},
                              std::pair{"western-short-titles.tsv", "one to three characters, Western"},
                              std::pair{"japanese-short-titles.tsv", "one to three characters, Japanese"},
                              std::pair{"symbol-titles.tsv", "signs among words and numbers"},
                              std::pair{"mixed-titles.tsv", "Japanese and English words"},
                              std::pair{"western-save-titles.tsv", "typed for a save, Western"},
                              std::pair{"japanese-save-titles.tsv", "typed for a save, Japanese"}}) {
        tables.push_back({name, {}});
        for (const auto& t : test::TitleTable(file)) tables.back().Titles.push_back(t.Text);
        ASSERT_GE(tables.back().Titles.size(), 1500u) << file;
    }
    std::vector<std::string> bytes, saved, blocks;
    for (const auto& table : tables) {
        size_t exact = 0, whole = 0;
        std::vector<std::string> wrong;
        for (const auto& title : table.Titles) {
            TID3v1 tag;
            tag.SetTitle(title);
            std::string block = tag.BuildBlock();
            TMP3TagInfo info;
            ASSERT_TRUE(tag.ReadFromBuffer(reinterpret_cast<const uint8_t*>(block.data()), 128, info));
            // A title either code page holds within the field reads back whole; a longer one as a
            // start of it.
            auto western = Utf8ToWindows1252(title), japanese = Utf8ToCP932(title);
            bool fits = (western && western->size() <= 30) || (japanese && japanese->size() <= 30);
            bool start = title.compare(0, tag.Title().size(), tag.Title()) == 0 &&
                         CharacterCount(tag.Title()) + 1 >= LongestStart(title, 30);
            if (info.Title == tag.Title() && (fits ? tag.Title() == title : start) && tag.UnstoredFields().empty())
                ++exact;
            else if (wrong.size() < 8) wrong.push_back(title + " -> " + info.Title);
            whole += info.Title == title;
            bytes.push_back(block.substr(3, block.find('\0', 3) - 3));
            saved.push_back(tag.Title());
            blocks.push_back(block);
        }
        double goal = table.Goal;
        double percent = 100.0 * static_cast<double>(exact) / static_cast<double>(table.Titles.size());
        std::printf("[ figures  ] ID3v1 save and read, %-30s %5zu titles, %5zu as typed or, cut to the field, "
                    "as its start (%.2f %%, goal %.1f %%; %zu whole)\n",
                    table.Name.c_str(), table.Titles.size(), exact, percent, goal, whole);
        EXPECT_GE(percent, goal) << table.Name;
        for (const auto& w : wrong) {
            if (percent < goal) ADD_FAILURE() << table.Name << ": " << w;
            else std::printf("[ misread  ] %s: %s\n", table.Name.c_str(), w.c_str());
        }
    }
    if (!test::HaveTool("python3")) return;
    // A thousand at a time: a command line has room for no more.
    auto decoded = [&](const char* codec) {
        std::vector<std::string> out;
        for (size_t at = 0; at < bytes.size(); at += 1000) {
            std::vector<std::string> part(bytes.begin() + at, bytes.begin() + std::min(bytes.size(), at + 1000));
            for (auto& d : test::DecodedByPython(part, codec)) out.push_back(d);
        }
        return out;
    };
    std::vector<std::string> asWestern = decoded("cp1252"), asJapanese = decoded("cp932");
    for (size_t i = 0; i < bytes.size(); ++i)
        EXPECT_TRUE(asWestern.at(i) == saved[i] || asJapanese.at(i) == saved[i]) << saved[i];
    if (!test::HaveMutagen()) return;
    TempDir dir;
    std::string all;
    for (const auto& b : blocks) all += b;
    std::vector<std::string> lines = Lines(test::Mutagen("id3v1-blocks " + test::Quoted(dir.WriteFile("blocks", all))));
    ASSERT_EQ(lines.size(), blocks.size());
    size_t latin = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        bool latin1 = std::none_of(bytes[i].begin(), bytes[i].end(), [](char c) { return (c & 0xE0) == 0x80; });
        if (asWestern[i] != saved[i] || !latin1) continue;
        ++latin;
        EXPECT_EQ(lines[i].substr(0, lines[i].find(' ')), saved[i].empty() ? "-" : test::Hex(saved[i])) << saved[i];
    }
    std::printf("[ figures  ] mutagen reads %zu saved titles of ISO-8859-1 letters alike\n", latin);
}

// Letters neither code page holds become "?", and the fields that hold them are named.
TEST(TagID3v1, LettersNoCodePageHoldsAreNamed) {
    TID3v1 tag;
    tag.SetTitle("Dvořák: Symphony No. 9");
    tag.SetArtist("Crème");
    tag.SetAlbum("日本 😀");
    EXPECT_EQ(tag.Title(), "Dvo?ák: Symphony No. 9");
    EXPECT_EQ(tag.Artist(), "Crème");
    EXPECT_EQ(tag.Album(), "日本 ?");
    // CP932 holds Greek but for its accented letters: only those are lost.
    tag.SetArtist("Ελλάδα");
    EXPECT_EQ(tag.Artist(), "Ελλ?δα");
    EXPECT_EQ(tag.UnstoredFields(), (std::vector<std::string>{"title", "album", "artist"}));
    tag.SetTitle("Dvorak");
    EXPECT_EQ(tag.UnstoredFields(), (std::vector<std::string>{"album", "artist"}));
}

// A saved comment never reads back as a shorter one and a track number: comments of 30 bytes whose
// 29th byte is a blank and 30th is not are cut to 28 bytes, silently as any cut, and read back as a
// start of the text by us and by mutagen, with no track; the others keep all they fit, as far as
// the reader reads a cut field back.
TEST(TagID3v1, SavedCommentsNeverReadAsATrack) {
    std::vector<std::string> comments = {"Recorded live in Paris, 1987 X", "Recorded live in Paris, 1987 XYZ"};
    for (const auto& t : test::TitleTable("western-titles.tsv")) {
        if (comments.size() >= 1250) break;
        // Lengths around the field's, blank or not at its 29th byte.
        std::string c = t.Text + " " + t.Text;
        size_t bytes = Utf8ToWindows1252(c)->size();
        if (bytes >= 28) comments.push_back(c);
        if (t.Text.size() < 27 && IsAscii(t.Text)) comments.push_back(t.Text + std::string(28 - t.Text.size(), '.') + " " + t.Text[0]);
    }
    std::string all;
    std::vector<std::string> saved;
    size_t tracks = 0, cut = 0;
    for (const auto& c : comments) {
        TID3v1 tag;
        tag.SetComment(c);
        std::string block = tag.BuildBlock();
        TMP3TagInfo info;
        ASSERT_TRUE(tag.ReadFromBuffer(reinterpret_cast<const uint8_t*>(block.data()), 128, info));
        tracks += info.Track != 0;
        cut += block[97 + 29] == 0 && block[97 + 28] == 0 && tag.Comment().size() < c.size();
        EXPECT_EQ(info.Track, 0) << c;
        EXPECT_EQ(info.Comment, tag.Comment()) << c;
        EXPECT_EQ(c.compare(0, tag.Comment().size(), tag.Comment()), 0) << c;
        EXPECT_GE(CharacterCount(tag.Comment()) + 3, LongestStart(c, 30)) << c;
        EXPECT_TRUE(tag.UnstoredFields().empty()) << c;
        all += block;
        saved.push_back(tag.Comment());
    }
    std::printf("[ figures  ] ID3v1 comments saved: %zu, read back with a track: %zu, cut to keep them a comment: %zu\n",
                comments.size(), tracks, cut);
    EXPECT_EQ(comments[0].substr(0, 28), saved[0]);
    if (!test::HaveMutagen()) return;
    TempDir dir;
    std::vector<std::string> lines = Lines(test::Mutagen("id3v1-blocks " + test::Quoted(dir.WriteFile("blocks", all))));
    ASSERT_EQ(lines.size(), comments.size());
    // mutagen takes the last byte for a track whenever it is neither zero nor a blank; a comment
    // that does not fill the field has none for it either.
    for (size_t i = 0; i < lines.size(); ++i) {
        if (all[i * 128 + 126] != 0) continue;
        EXPECT_EQ(lines[i].substr(lines[i].rfind(' ') + 1), "0") << comments[i];
        if (IsAscii(saved[i])) {
            std::string hex = test::Hex(saved[i]);
            hex.insert(hex.begin(), ' ');
            hex.push_back(' ');
            EXPECT_NE(lines[i].find(hex), std::string::npos) << comments[i];
        }
    }
}

std::string Utf16Text(const std::string& bytesAfterEncoding) { return "\x01" + bytesAfterEncoding; }

TEST(TagID3v2, ReadsVersions22To24IntoTheFields) {
    TempDir dir;
    // Version 2.2 with three-letter frames.
    std::string v22 = Tag(2, Frame22("TT2", Latin("Two Two")) + Frame22("TP1", Latin("Artist22")) +
                                 Frame22("TRK", Latin("7/12")) + Frame22("TCO", Latin("(17)")) +
                                 Frame22("COM", std::string("\0eng\0Note", 9)),
                          20);
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(dir.WriteFile("22.mp3", v22 + "audio")));
    EXPECT_EQ(tag.VersionID(), 2);
    EXPECT_EQ(tag.Title(), "Two Two");
    EXPECT_EQ(tag.Artist(), "Artist22");
    EXPECT_EQ(tag.Track(), 7);
    EXPECT_EQ(tag.TrackText(), "7/12");
    EXPECT_EQ(tag.Genre(), "Rock");
    EXPECT_EQ(tag.Comment(), "Note");
    EXPECT_EQ(tag.Size(), static_cast<int64_t>(v22.size()));

    // Version 2.3: UTF-16 in both byte orders, a described comment, a link and fallbacks.
    std::string le = Utf16Text(std::string("\xFF\xFE" "A\0\xFF\x00", 6));
    std::string be = Utf16Text(std::string("\xFE\xFF\x30\xFF", 4));
    std::string v23 = Tag(3, Frame23("TPE1", le) + Frame23("TIT1", be) + Frame23("TALB", Latin("Alb")) +
                                 Frame23("TCON", Latin("(13)Pop Rock")) + Frame23("TRCK", Latin("A7")) +
                                 Frame23("COMM", std::string("\0engiTunNORM\0 0000", 18)) +
                                 Frame23("COMM", std::string("\0eng\0Plain comment", 19)) +
                                 Frame23("WXXX", std::string("\0desc\0http://x/\xe9", 17)) +
                                 Frame23("TPE2", std::string("\x03" "ignored", 8)),
                          50);
    ASSERT_TRUE(tag.ReadFromFile(dir.WriteFile("23.mp3", v23 + "audio")));
    EXPECT_EQ(tag.Artist(), "Aÿ");
    EXPECT_EQ(tag.Title(), "ヿ"); // from TIT1, TIT2 being absent
    EXPECT_EQ(tag.Genre(), "Pop Rock");
    EXPECT_EQ(tag.Track(), 0);
    EXPECT_EQ(tag.TrackText(), "A7");
    EXPECT_EQ(tag.Comment(), "Plain comment");
    EXPECT_EQ(tag.Link(), "http://x/é");

    // Version 2.4: synchsafe sizes (a 200-byte frame before the title), UTF-8, a date for the year.
    std::string v24 = Tag(4, Frame24("TXXX", std::string("\0big\0", 5) + std::string(195, 'z')) +
                                 Frame24("TIT2", "\x03" "Über") + Frame24("TDRC", Latin("2004-05-06")) +
                                 Frame24("TPE1", std::string("\x02\x65\xE5\x67\x2C", 5)),
                          10);
    ASSERT_TRUE(tag.ReadFromFile(dir.WriteFile("24.mp3", v24 + "audio")));
    EXPECT_EQ(tag.VersionID(), 4);
    EXPECT_EQ(tag.Title(), "Über");
    EXPECT_EQ(tag.Year(), "2004");
    EXPECT_EQ(tag.Artist(), "日本");
}

TEST(TagID3v2, UnsynchronisationExtendedHeaderAndCompressedFrames) {
    TempDir dir;
    // Tag-level unsynchronisation (2.3): FF 00 stands for FF.
    std::string frame = Frame23("TIT2", std::string("\x01\xFF\x00\xFE" "A\0", 6));
    std::string body = frame + std::string(10, '\0');
    std::string tag = std::string("ID3\x03\0\x80", 6) + test::Synchsafe(static_cast<uint32_t>(body.size())) + body;
    TID3v2 t;
    ASSERT_TRUE(t.ReadFromFile(dir.WriteFile("u.mp3", tag + "audio")));
    EXPECT_EQ(t.Title(), "A");

    // An extended header (2.3) is passed over; a compressed frame is not shown.
    std::string ext = test::BE32(6) + std::string(6, '\0');
    std::string frames = Frame23("TPE1", Latin("Packed"), 0, 0x80) + Frame23("TALB", Latin("Album"));
    std::string t2 = std::string("ID3\x03\0\x40", 6) + test::Synchsafe(static_cast<uint32_t>(ext.size() + frames.size())) +
                     ext + frames;
    ASSERT_TRUE(t.ReadFromFile(dir.WriteFile("x.mp3", t2 + "audio")));
    EXPECT_EQ(t.Album(), "Album");
    EXPECT_EQ(t.Artist(), "");
}

TEST(TagID3v2, DamagedTagsStopCleanly) {
    TempDir dir;
    TID3v2 tag;
    // A declared size beyond the file counts as no tag body.
    std::string big = std::string("ID3\x03\0\0", 6) + test::Synchsafe(100000) + Frame23("TIT2", Latin("x"));
    ASSERT_TRUE(tag.ReadFromFile(dir.WriteFile("big.mp3", big)));
    EXPECT_TRUE(tag.Exists());
    EXPECT_EQ(tag.Size(), 0);
    EXPECT_EQ(tag.Title(), "");
    // A frame running past the tag ends the walk; the frames before it are kept.
    std::string frames = Frame23("TIT2", Latin("Good")) + "TPE1" + test::BE32(5000) + std::string(2, '\0') + "xx";
    ASSERT_TRUE(tag.ReadFromFile(dir.WriteFile("run.mp3", Tag(3, frames) + std::string(6000, 'a'))));
    EXPECT_EQ(tag.Title(), "Good");
    EXPECT_EQ(tag.Artist(), "");
    EXPECT_FALSE(tag.ReadFromFile(dir.WriteFile("tiny.mp3", "ID3")));
}

TEST(TagID3v2, BufferReaderNeverReadsPastItsLength) {
    std::string tag = Tag(3, Frame23("TIT2", Latin("Memory")) + Frame23("TPE1", Latin("Whole")), 100);
    TID3v2 reader;
    TMP3TagInfo info;
    // Only the first frame is inside the bytes handed over.
    std::vector<uint8_t> cut(tag.begin(), tag.begin() + 10 + 17);
    ASSERT_TRUE(reader.ReadFromBuffer(cut.data(), static_cast<int64_t>(cut.size()), 100000, info));
    EXPECT_EQ(info.Title, "Memory");
    EXPECT_EQ(info.Artist, "");
    std::vector<uint8_t> whole(tag.begin(), tag.end());
    ASSERT_TRUE(reader.ReadFromBuffer(whole.data(), static_cast<int64_t>(whole.size()), 100000, info));
    EXPECT_EQ(info.Artist, "Whole");
    EXPECT_FALSE(reader.ReadFromBuffer(whole.data(), 5, 100000, info));
}

TEST(TagID3v2, InPlaceSaveKeepsTheLengthAndTheAudio) {
    TempDir dir;
    std::string audio = test::MpegFrames(20);
    std::string original = Tag(3, Frame23("TIT2", Latin("Old")), 2000) + audio;
    std::string path = dir.WriteFile("p.mp3", original);
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    tag.SetTitle("  New title ");
    tag.SetArtist("Ärtist");
    tag.SetComment("日本語のコメント");
    tag.SetTrack(4);
    tag.SetLink("http://example.org/");
    ASSERT_TRUE(tag.SaveToFile(path));
    std::string saved = ReadFile(path);
    ASSERT_EQ(saved.size(), original.size());
    EXPECT_EQ(saved.substr(saved.size() - audio.size()), audio);
    EXPECT_EQ(saved[3], 3);

    TID3v2 back;
    ASSERT_TRUE(back.ReadFromFile(path));
    EXPECT_EQ(back.Title(), "New title");
    EXPECT_EQ(back.Artist(), "Ärtist");
    EXPECT_EQ(back.Comment(), "日本語のコメント");
    EXPECT_EQ(back.Track(), 4);
    EXPECT_EQ(back.Link(), "http://example.org/");
}

TEST(TagID3v2, RebuildKeepsAudioAndFramesItDoesNotOwn) {
    TempDir dir;
    std::string audio = test::MpegFrames(30);
    std::string picture = std::string("\0image/png\0\x03\0", 13) + std::string(6000, 'P');
    // The last frame carries a data length indicator the 2.3 form does not have.
    std::string txxx = std::string("\x03" "key\0value", 10);
    std::string frames = Frame24("TIT2", Latin("Title")) + Frame24("APIC", picture) + Frame24("TDRC", Latin("1999-01-01")) +
             Frame24("TRCK", Latin("3/12")) + Frame24("COMM", std::string("\0engiTunNORM\0 0001", 18)) +
             Frame24("TXXX", test::Synchsafe(static_cast<uint32_t>(txxx.size())) + txxx, 0, 0x01);
    std::string path = dir.WriteFile("r.mp3", Tag(4, frames, 10) + audio);
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    EXPECT_EQ(tag.Year(), "1999");
    tag.SetAlbum("New album");
    ASSERT_TRUE(tag.SaveToFile(path));

    std::string saved = ReadFile(path);
    TID3v2Parsed parsed = ParseID3v2(reinterpret_cast<const uint8_t*>(saved.data()),
                                     static_cast<int64_t>(saved.size()), static_cast<int64_t>(saved.size()));
    ASSERT_TRUE(parsed.Found);
    EXPECT_EQ(parsed.Version, 3);
    EXPECT_EQ(saved.substr(static_cast<size_t>(parsed.Size)), audio);
    std::map<std::string, std::string> byID;
    for (const auto& f : parsed.Frames) byID[f.ID] = f.Data;
    EXPECT_EQ(byID["APIC"], picture);
    EXPECT_EQ(byID.count("TDRC"), 0u);
    EXPECT_EQ(byID["TYER"], Latin("1999"));
    EXPECT_EQ(byID["TRCK"], Latin("3/12"));
    // Version 2.3 has no UTF-8: the text is kept as UTF-16.
    EXPECT_EQ(byID["TXXX"], std::string("\x01\xFF\xFEk\0e\0y\0\0\0\xFF\xFEv\0a\0l\0u\0e\0", 23));
    EXPECT_EQ(byID["COMM"], std::string("\0engiTunNORM\0 0001", 18));
    TID3v2 back;
    ASSERT_TRUE(back.ReadFromFile(path));
    EXPECT_EQ(back.Album(), "New album");
    EXPECT_EQ(back.Title(), "Title");
}

TEST(TagID3v2, OversizedTagsShrinkAndTagsAreAddedAndRemoved) {
    TempDir dir;
    std::string audio = test::MpegFrames(5);
    std::string path = dir.WriteFile("o.mp3", Tag(3, Frame23("TIT2", Latin("x")), 5000) + audio);
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    ASSERT_TRUE(tag.SaveToFile(path));
    EXPECT_EQ(ReadFile(path).size(), 4096 + audio.size());

    std::string plain = dir.WriteFile("plain.mp3", audio);
    TID3v2 fresh;
    EXPECT_FALSE(fresh.RemoveFromFile(plain));
    EXPECT_EQ(ReadFile(plain), audio);
    fresh.SetTitle("Added");
    ASSERT_TRUE(fresh.SaveToFile(plain));
    EXPECT_EQ(ReadFile(plain).size(), 4096 + audio.size());
    ASSERT_TRUE(fresh.RemoveFromFile(plain));
    EXPECT_EQ(ReadFile(plain), audio);
}

TEST(TagID3v2, UnreadableTagVersionIsNotReplaced) {
    TempDir dir;
    std::string original = std::string("ID3\x05\0\0", 6) + test::Synchsafe(20) + std::string(20, 'q') + "audio";
    std::string path = dir.WriteFile("v5.mp3", original);
    TID3v2 tag;
    tag.SetTitle("x");
    EXPECT_FALSE(tag.SaveToFile(path));
    EXPECT_EQ(ReadFile(path), original);
}

TEST(TagID3v2, ReadsTagsWrittenByLame) {
    REQUIRE_TOOL("lame");
    REQUIRE_TOOL("sox");
    TempDir dir;
    std::string wav = test::MakeWav(dir, "in.wav", 0.5);
    std::string mp3 = dir.File("out.mp3");
    ASSERT_TRUE(test::Run("lame --quiet -b 64 --id3v2-only --id3v2-utf16 --tt " + test::Quoted("日本の歌") +
                          " --ta Artist --tn 2/9 --tg Jazz " + wav + " " + mp3));
    TID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(mp3));
    EXPECT_TRUE(tag.Exists());
    EXPECT_EQ(tag.Title(), "日本の歌");
    EXPECT_EQ(tag.Artist(), "Artist");
    EXPECT_EQ(tag.Track(), 2);
    EXPECT_EQ(tag.Genre(), "Jazz");
}

} // namespace
} // namespace lumora
