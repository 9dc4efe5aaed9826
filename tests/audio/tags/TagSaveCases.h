#pragma once
// Saves that must keep every value: the cases shared by the tag form tests and the tag tool tests,
// and the helpers that make their files and read them back through mutagen.

#include <sstream>
#include <string>
#include <vector>

#include "tests/audio/tags/TagTestUtil.h"

namespace lumora::test {

// An Ogg Vorbis file made by oggenc from the WAV file, whose comments mutagen then sets to exactly
// these items in this order (NAME=value each; zero bytes allowed).
inline std::string MakeOgg(const TempDir& dir, const std::string& name, const std::string& wav,
                           const std::vector<std::string>& comments) {
    std::string path = dir.File(name);
    Run("oggenc -Q -q 1 " + Quoted(wav) + " -o " + Quoted(path));
    std::string args = "vorbis-comments " + Quoted(path);
    for (const auto& item : comments) {
        std::string escaped;
        for (char c : item) {
            if (c == '\0' || c == '\\') escaped += '\\';
            escaped += c == '\0' ? '0' : c;
        }
        args += ' ';
        args += Quoted(escaped);
    }
    std::string out = Mutagen(args);
    if (!out.empty()) std::fprintf(stderr, "mutagen: %s\n", out.c_str());
    return path;
}

// The mutagen dump without the lines of these names (lower case, as the dump gives them).
inline std::string WithoutNames(const std::string& dump, const std::vector<std::string>& names) {
    std::istringstream in(dump);
    std::string line, out;
    while (std::getline(in, line)) {
        bool gone = false;
        for (const auto& name : names) gone = gone || line.rfind(name + "=", 0) == 0;
        if (!gone) out += line + "\n";
    }
    return out;
}

// Each value mutagen reads under that name (any case), exactly.
inline std::vector<std::string> MutagenValues(const std::string& path, const std::string& name) {
    std::istringstream in(Mutagen("values " + Quoted(path) + " " + Quoted(name)));
    std::vector<std::string> values;
    std::string hex;
    while (std::getline(in, hex)) {
        std::string value;
        for (size_t i = 0; i + 1 < hex.size(); i += 2) value += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        values.push_back(value);
    }
    return values;
}

// Ogg files whose field is cleared, with other comments beside it: clearing removes every comment
// of that name and of its stand-in, in any case of the name, and nothing else.
struct TOggClearCase {
    std::vector<std::string> Comments;
    const char* Field;              // the tag tool's name of the field
    std::vector<std::string> Gone;  // the names (lower case) that no comment may have afterwards
};

inline const std::vector<TOggClearCase>& OggClearCases() {
    static const std::vector<TOggClearCase> cases = {
        {{"TITLE=Keep", "ARTIST=a1", "ALBUM=Keep", "MOOD=calm"}, "artist", {"artist"}},
        {{"ARTIST=a1", "TITLE=Keep", "ARTIST=a2", "MOOD=calm", "DESCRIPTION=stays"}, "artist", {"artist"}},
        {{"PERFORMER=p1", "TITLE=Keep", "PERFORMER=p2"}, "artist", {"performer"}},
        {{"ARTIST=a1", "PERFORMER=p1", "ARTIST=a2", "PERFORMER=p2", "COMMENT=stays"},
         "artist",
         {"artist", "performer"}},
        {{"artist=a1", "Artist=a2", "ARTIST=a3", "performer=p", "Mood=calm"}, "artist", {"artist", "performer"}},
        {{"ARTIST=a1", "PERFORMER=p1", "PERFORMER=", "TITLE=Keep"}, "artist", {"artist", "performer"}},
        {{"DESCRIPTION=d1", "TITLE=Keep", "DESCRIPTION=d2", "PERFORMER=stays"}, "comment", {"description"}},
        {{"COMMENT=c1", "description=d1", "COMMENT=c2", "Comment=c3", "ARTIST=Keep"},
         "comment",
         {"comment", "description"}},
        {{"TITLE=t1", "ARTIST=Keep", "title=t2"}, "title", {"title"}},
        {{"ALBUM=x1", "ALBUM=x2", "GENRE=g1", "DATE=1999"}, "album", {"album"}},
        {{"GENRE=g1", "genre=g2", "ALBUM=Keep"}, "genre", {"genre"}},
        {{"DATE=1999", "date=2000", "TITLE=Keep"}, "date", {"date"}},
        {{"TRACKNUMBER=1", "TRACKNUMBER=2/9", "TITLE=Keep"}, "track", {"tracknumber"}},
    };
    return cases;
}

// Ogg files with zero bytes inside comments, beside an album "Old" that is edited: every comment
// keeps its bytes, and the list of other comments shows each one once (a zero byte as U+2400,
// the ends trimmed).
struct TOggZeroCase {
    std::vector<std::string> Comments;
    std::vector<std::string> OtherItems;
};

inline const std::vector<TOggZeroCase>& OggZeroCases() {
    using namespace std::string_literals;
    static const std::vector<TOggZeroCase> cases = {
        {{"ZEROX=before\0after"s}, {"ZEROX=before\u2400after"}},
        {{"ZEROX=\0start"s}, {"ZEROX=start"}},
        {{"ZEROX=end\0"s}, {"ZEROX=end"}},
        {{"ZEROX=a\0\0b\0c"s}, {"ZEROX=a\u2400\u2400b\u2400c"}},
        {{"NUL=\0"s, "MOOD=calm"}, {"NUL=", "MOOD=calm"}},
        {{"ZEROX=1\0one"s, "MOOD=calm", "zerox=2\0two"s}, {"ZEROX=1\u2400one", "MOOD=calm", "zerox=2\u2400two"}},
        {{"TITLE=ti\0tle"s, "ARTIST=Art\0ist"s}, {}},
        {{"TITLE=t\0one"s, "TITLE=t\0two"s}, {"TITLE=t\u2400one"}},
    };
    return cases;
}

// WMA values around the 65,535 bytes the content description and the extended content hold for
// one value (32,767 UTF-16 units with the terminator), in attributes the file has and in new ones.
struct TWmaLongCase {
    const char* Field;  // the tag tool's name of the field
    const char* Name;   // the attribute's name, as mutagen lists it
    bool Existing;      // the file has the attribute already, with a short value
    size_t Units;       // UTF-16 units of the new value
};

inline const std::vector<TWmaLongCase>& WmaLongCases() {
    static const std::vector<TWmaLongCase> cases = {
        {"lyrics", "WM/Lyrics", true, 40000},     {"description", "Description", true, 40000},
        {"title", "Title", true, 33000},          {"title", "Title", true, 32767},
        {"title", "Title", true, 32766},          {"album", "WM/AlbumTitle", true, 32767},
        {"album", "WM/AlbumTitle", true, 32766},  {"description", "Description", true, 32767},
        {"lyrics", "WM/Lyrics", false, 40000},    {"composer", "WM/Composer", false, 32767},
    };
    return cases;
}

// A WMA file made by ffmpeg whose attributes mutagen sets: a title, an author, a description and
// an album, and the case's own attribute when the file is to have it already.
inline std::string MakeWmaFor(const TempDir& dir, const std::string& name, const TWmaLongCase& c) {
    std::string path = dir.File(name);
    Run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=1 -ac 2 -c:a wmav2 -b:a 64k " + Quoted(path));
    std::string args = " Title=Old Author=Singer 'Description=Old note' 'WM/AlbumTitle=Old album'";
    if (c.Existing) args += " " + Quoted(std::string(c.Name) + "=Old value");
    std::string out = Mutagen("asf-set " + Quoted(path) + args);
    if (!out.empty()) std::fprintf(stderr, "mutagen: %s\n", out.c_str());
    return path;
}

// A text of exactly that many UTF-16 units mixing one-, two- and three-byte UTF-8 characters and
// one outside the basic plane; with lines, line breaks too.
inline std::string LongText(size_t units, bool lines) {
    const std::vector<std::string> pattern = {"A", "b", " ", "\u00e4", "\u6b4c", "\U0001F600", lines ? "\n" : "-"};
    std::string text;
    size_t count = 0;
    for (size_t i = 0; count < units; ++i) {
        const std::string& piece = pattern[i % pattern.size()];
        size_t width = piece.size() == 4 ? 2 : 1;
        if (count + width > units) {
            text += "x";
            ++count;
            continue;
        }
        text += piece;
        count += width;
    }
    return text;
}

} // namespace lumora::test
