#pragma once
// The 128-byte ID3v1 tag at the end of an MP3 file (versions 1.0 and 1.1).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "framework/Classes.h"

namespace lumora {

// What a tag block handed over in memory decodes to.
struct TMP3TagInfo {
    std::string Title, Artist, Album, Year, Comment;
    uint16_t Track = 0;
    std::string Genre; // the genre's name
};

constexpr int ID3v1GenreCount = 148;
// The genre name of an index, empty for 148 and above.
std::string ID3v1GenreName(int index);
// The index of a genre name, its case ignored; none for a name not in the table.
std::optional<uint8_t> ID3v1GenreIndex(const std::string& name);

class TID3v1 : public TObject {
public:
    static constexpr int TagSize = 128;

    TID3v1() { ResetData(); }

    void ResetData();
    // True when the last 128 bytes could be read, whether or not they hold a tag.
    bool ReadFromFile(const std::string& fileName);
    bool ReadFromStream(TStream& stream);
    // Overwrites an existing tag in place, or appends one.
    bool SaveToFile(const std::string& fileName);
    bool RemoveFromFile(const std::string& fileName);
    // Decodes a 128-byte block held in memory; size is the number of bytes available at data.
    bool ReadFromBuffer(const uint8_t* data, int64_t size, TMP3TagInfo& info);

    bool Exists() const { return exists_; }
    uint8_t VersionID() const { return versionID_; }
    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    const std::string& Year() const { return year_; }
    const std::string& Comment() const { return comment_; }
    uint8_t Track() const { return track_; }
    uint8_t Genre() const { return genre_; }
    std::string GenreName() const { return ID3v1GenreName(genre_); }

    // Text setters drop trailing blanks and control characters and keep the text as the field
    // will read back after a save: in CP932 where it is Japanese, in Windows-1252 where it is
    // Western, cut on a character boundary to the field (30 bytes, the year 4) where it still
    // reads back. A letter neither code page holds becomes "?", and the field is named in
    // UnstoredFields, as is one whose bytes read back as other text.
    void SetTitle(const std::string& v);
    void SetArtist(const std::string& v);
    void SetAlbum(const std::string& v);
    void SetYear(const std::string& v);
    void SetComment(const std::string& v);
    void SetTrack(uint8_t v) { track_ = v; }
    void SetGenre(uint8_t v) { genre_ = v; }
    // The fields ("title", "artist", "album", "year", "comment") last set to text they cannot
    // hold as typed, in the order they were set.
    const std::vector<std::string>& UnstoredFields() const { return unstored_; }
    // One line that names those fields, for the user who saves them; empty when there are none.
    std::string UnstoredNote() const;

    // The 128-byte block the current fields make; fields that read as in the old block (a tag's
    // 128 bytes) keep its bytes.
    std::string BuildBlock(const uint8_t* old = nullptr) const;

private:
    void SetField(const char* name, std::string& field, const std::string& v, int length);

    bool exists_ = false;
    uint8_t versionID_ = 1;
    std::string title_, artist_, album_, year_, comment_;
    uint8_t track_ = 0;
    uint8_t genre_ = 255;
    std::vector<std::string> unstored_;
};

} // namespace lumora
