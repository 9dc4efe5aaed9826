#include "audio/tags/ID3v1.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/system/SafeRewrite.h"
#include "audio/tags/TagText.h"
#include "framework/SysUtils.h"

namespace lumora {

namespace {

const std::array<const char*, ID3v1GenreCount> genreNames = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal",
    "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip",
    "Gospel", "Noise", "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
    "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk",
    "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk",
    "Jungle", "Native American", "Cabaret", "New Wave", "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi",
    "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk",
    "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass",
    "Avantgarde", "Gothic Rock", "Progessive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock",
    "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera",
    "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club",
    "Tango", "Samba", "Folklore", "Ballad", "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock",
    "Drum Solo", "A capella", "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore",
    "Terror", "Indie", "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal",
    "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa",
    "Trash Metal", "Anime", "JPop", "Synthpop"};

constexpr int fieldLength = 30;
constexpr int yearLength = 4;

// Version 1.1 stores a track number in the last two bytes of the comment field.
bool HoldsTrack(uint8_t beforeLast, uint8_t last) { return (beforeLast == 0 && last != 0) || (beforeLast == 0x20 && last != 0x20); }
uint8_t VersionOf(const uint8_t* block) { return HoldsTrack(block[125], block[126]) ? 2 : 1; }

// A field's text: up to its first zero byte, trailing blanks dropped, read as 8-bit legacy text.
// Only text that fills its field to the last byte can have lost the second half of a character;
// the blanks before such a half go too.
std::string FieldText(const uint8_t* p, int length) {
    const char* s = reinterpret_cast<const char*>(p);
    std::string text = TrimControlRight(std::string_view(s, strnlen(s, static_cast<size_t>(length))));
    return TrimControlRight(text.size() == static_cast<size_t>(length) ? DecodeFullLegacyField(text)
                                                                        : DecodeLegacyText(text));
}

// The bytes a field holds for the text: in the code page the reader reads it back in, cut to
// the field on a character boundary where it still reads back.
TLegacyEncoding FieldBytes(const std::string& v, int length, bool comment = false) {
    std::string text = TrimControlRight(v);
    TLegacyEncoding encoded = EncodeLegacyText(text, static_cast<size_t>(length));
    // A full comment whose last two bytes are a blank and another character would read as a shorter
    // comment and a track number: it is cut to the 28 bytes a track leaves it, as any text too long
    // for its field is cut.
    const std::string& b = encoded.Bytes;
    if (comment && b.size() == static_cast<size_t>(fieldLength) &&
        HoldsTrack(static_cast<uint8_t>(b[fieldLength - 2]), static_cast<uint8_t>(b[fieldLength - 1])))
        encoded = EncodeLegacyText(text, fieldLength - 2, static_cast<size_t>(fieldLength));
    return encoded;
}

// The text as a field of that length reads back after a save.
std::string FitField(const std::string& v, int length, bool* exact = nullptr, bool comment = false) {
    TLegacyEncoding encoded = FieldBytes(v, length, comment);
    if (exact) *exact = encoded.Exact;
    std::string field = encoded.Bytes;
    field.resize(static_cast<size_t>(length), '\0');
    return FieldText(reinterpret_cast<const uint8_t*>(field.data()), length);
}

bool ReadLastBlock(TStream& file, uint8_t* block, bool& fileTooShort) {
    int64_t size = file.Size();
    fileTooShort = size < TID3v1::TagSize;
    return !fileTooShort && file.ReadAt(size - TID3v1::TagSize, block, TID3v1::TagSize) == TID3v1::TagSize;
}

bool ReadLastBlock(const std::string& fileName, uint8_t* block, bool& fileTooShort) {
    fileTooShort = false;
    try {
        TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
        return ReadLastBlock(file, block, fileTooShort);
    } catch (const Exception&) {
        return false;
    }
}

} // namespace

std::string ID3v1GenreName(int index) {
    if (index < 0 || index >= ID3v1GenreCount) return {};
    return genreNames[static_cast<size_t>(index)];
}

std::optional<uint8_t> ID3v1GenreIndex(const std::string& name) {
    const std::string wanted = LowerCase(name);
    for (int i = 0; i < ID3v1GenreCount; ++i)
        if (LowerCase(ID3v1GenreName(i)) == wanted) return static_cast<uint8_t>(i);
    return std::nullopt;
}

void TID3v1::ResetData() {
    exists_ = false;
    versionID_ = 1;
    title_.clear();
    artist_.clear();
    album_.clear();
    year_.clear();
    comment_.clear();
    track_ = 0;
    genre_ = 255;
    unstored_.clear();
}

void TID3v1::SetField(const char* name, std::string& field, const std::string& v, int length) {
    bool exact = true;
    field = FitField(v, length, &exact, &field == &comment_);
    auto at = std::find(unstored_.begin(), unstored_.end(), name);
    if (exact && at != unstored_.end()) unstored_.erase(at);
    if (!exact && at == unstored_.end()) unstored_.push_back(name);
}

std::string TID3v1::UnstoredNote() const {
    if (unstored_.empty()) return {};
    std::string names;
    for (const auto& name : unstored_) names += (names.empty() ? "" : ", ") + name;
    return "ID3v1 " + names + ": saved as it reads back, not as typed (\"?\" for letters the tag cannot hold).";
}

void TID3v1::SetTitle(const std::string& v) { SetField("title", title_, v, fieldLength); }
void TID3v1::SetArtist(const std::string& v) { SetField("artist", artist_, v, fieldLength); }
void TID3v1::SetAlbum(const std::string& v) { SetField("album", album_, v, fieldLength); }
void TID3v1::SetYear(const std::string& v) { SetField("year", year_, v, yearLength); }
void TID3v1::SetComment(const std::string& v) { SetField("comment", comment_, v, fieldLength); }

bool TID3v1::ReadFromFile(const std::string& fileName) {
    ResetData();
    try {
        TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
        return ReadFromStream(file);
    } catch (const Exception&) {
        return false;
    }
}

bool TID3v1::ReadFromStream(TStream& stream) {
    ResetData();
    uint8_t block[TagSize];
    bool tooShort;
    if (!ReadLastBlock(stream, block, tooShort)) return false;
    if (std::memcmp(block, "TAG", 3) != 0) return true;
    exists_ = true;
    versionID_ = VersionOf(block);
    title_ = FieldText(block + 3, fieldLength);
    artist_ = FieldText(block + 33, fieldLength);
    album_ = FieldText(block + 63, fieldLength);
    year_ = FieldText(block + 93, yearLength);
    if (versionID_ == 2) {
        comment_ = FieldText(block + 97, 28);
        track_ = block[126];
    } else {
        comment_ = FieldText(block + 97, fieldLength);
    }
    genre_ = block[127];
    return true;
}

bool TID3v1::ReadFromBuffer(const uint8_t* data, int64_t size, TMP3TagInfo& info) {
    if (!data || size < TagSize || std::memcmp(data, "TAG", 3) != 0) return false;
    versionID_ = VersionOf(data);
    info.Title = FieldText(data + 3, fieldLength);
    info.Artist = FieldText(data + 33, fieldLength);
    info.Album = FieldText(data + 63, fieldLength);
    info.Year = FieldText(data + 93, yearLength);
    info.Comment = FieldText(data + 97, versionID_ == 2 ? 28 : fieldLength);
    info.Track = versionID_ == 2 ? data[126] : 0;
    genre_ = data[127];
    info.Genre = GenreName();
    return true;
}

std::string TID3v1::BuildBlock(const uint8_t* old) const {
    std::string block(TagSize, '\0');
    block.replace(0, 3, "TAG");
    int oldCommentLength = old && VersionOf(old) == 2 ? 28 : fieldLength;
    // A field that still reads as it was, directly or through its setter, keeps its bytes:
    // encoding its text again could choose other bytes for the same text.
    auto put = [&](size_t offset, const std::string& text, int length, int oldLength, bool comment = false) {
        std::string was = old ? FieldText(old + offset, oldLength) : std::string();
        int setterLength = length == yearLength ? yearLength : fieldLength;
        if (old && (was == text || FitField(was, setterLength, nullptr, comment) == text)) {
            block.replace(offset, static_cast<size_t>(std::min(length, oldLength)),
                          reinterpret_cast<const char*>(old + offset), static_cast<size_t>(std::min(length, oldLength)));
            return;
        }
        std::string bytes = FieldBytes(text, length, comment).Bytes;
        block.replace(offset, bytes.size(), bytes);
    };
    put(3, title_, fieldLength, fieldLength);
    put(33, artist_, fieldLength, fieldLength);
    put(63, album_, fieldLength, fieldLength);
    put(93, year_, yearLength, yearLength);
    // A comment and track left as they read keep all their bytes: a 30-byte comment that merely
    // reads as one with a track (its last bytes a blank and a digit) is not turned into one.
    uint8_t oldTrack = old && oldCommentLength == 28 ? old[126] : 0;
    std::string oldComment = old ? FieldText(old + 97, oldCommentLength) : std::string();
    if (old && track_ == oldTrack && (comment_ == oldComment || comment_ == FitField(oldComment, fieldLength, nullptr, true))) {
        block.replace(97, fieldLength, reinterpret_cast<const char*>(old + 97), fieldLength);
    } else {
        // With a track number the comment keeps 28 bytes, cut on a character boundary.
        put(97, comment_, track_ != 0 ? 28 : fieldLength, oldCommentLength, true);
        if (track_ != 0) {
            block[125] = 0;
            block[126] = static_cast<char>(track_);
        }
    }
    block[127] = static_cast<char>(genre_);
    return block;
}

bool TID3v1::SaveToFile(const std::string& fileName) {
    uint8_t old[TagSize];
    bool tooShort;
    bool hasBlock = ReadLastBlock(fileName, old, tooShort);
    if (!hasBlock && !tooShort) return false;
    bool hasTag = hasBlock && std::memcmp(old, "TAG", 3) == 0;
    std::string block = BuildBlock(hasTag ? old : nullptr);
    struct stat st;
    if (::stat(fileName.c_str(), &st) != 0) return false;
    if (hasTag)
        return WriteFileRegion(fileName, st.st_size - TagSize, block.data(), TagSize);
    return WriteFileRegion(fileName, st.st_size, block.data(), TagSize, true);
}

bool TID3v1::RemoveFromFile(const std::string& fileName) {
    uint8_t block[TagSize];
    bool tooShort;
    if (!ReadLastBlock(fileName, block, tooShort)) return tooShort;
    if (std::memcmp(block, "TAG", 3) != 0) return true;
    struct stat st;
    if (::stat(fileName.c_str(), &st) != 0) return false;
    return TruncateFileTo(fileName, st.st_size - TagSize);
}

} // namespace lumora
