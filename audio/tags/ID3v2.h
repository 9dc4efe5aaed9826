#pragma once
// The ID3v2 tag at the start of an MP3 file: read in versions 2.2, 2.3 and 2.4, written as 2.3.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/tags/ID3v1.h"
#include "framework/Classes.h"

namespace lumora {

constexpr int ID3v2SlotCount = 16;

// The working copy of one tag: its header as read and the raw data of the 16 frame slots
// (index 0 is slot 1, the title).
struct TagInfo {
    char ID[3] = {};
    uint8_t Version = 0, Revision = 0, Flags = 0;
    uint8_t Size[4] = {};
    int64_t FileSize = 0;
    std::array<std::string, ID3v2SlotCount> Frame;
    bool NeedRewrite = false;
    int64_t PaddingSize = 0;
};

// One frame of a parsed tag.
struct TID3v2Frame {
    std::string ID;      // as stored in the tag (three letters in version 2.2)
    std::string Data;    // the frame's content, ready to decode; empty when not Readable
    bool Readable = false; // neither compressed nor encrypted
    // The frame in version 2.3 form, for writing back; Convertible is false when 2.3 cannot hold it.
    bool Convertible = false;
    std::string ID23;
    uint8_t Flags23[2] = {};
    std::string Body23;
};

struct TID3v2Parsed {
    bool Found = false;   // begins with "ID3"
    uint8_t Version = 0, Revision = 0, Flags = 0;
    int64_t Size = 0;     // whole tag with header and footer; 0 when it exceeds the length given
    bool Understood = false; // a version whose frames we can read (2.2 to 2.4, tag not compressed)
    std::vector<TID3v2Frame> Frames;
};

// The most bytes the compressed frames of one tag inflate to in all; frames past it stay compressed.
constexpr uint64_t ID3v2MaxInflated = 16 << 20;

// Parses a tag held in memory: available is how many bytes data holds, lengthForSizeTest the length
// a declared tag size may not exceed. Never reads past available.
TID3v2Parsed ParseID3v2(const uint8_t* data, int64_t available, int64_t lengthForSizeTest);

// Tag size from a 10-byte header (header and footer included), 0 without "ID3".
int64_t ID3v2TagSize(const uint8_t* header);

class TID3v2 : public TObject {
public:
    TID3v2() { ResetData(); }

    void ResetData();
    // True when the first 10 bytes could be read.
    bool ReadFromFile(const std::string& fileName);
    bool ReadFromStream(TStream& stream);
    bool SaveToFile(const std::string& fileName);
    bool RemoveFromFile(const std::string& fileName);
    // Decodes a tag held in memory: size is how many bytes data holds, fileLength stands for the
    // file length in the tag-size test.
    bool ReadFromBuffer(const uint8_t* data, int64_t size, int64_t fileLength, TMP3TagInfo& info);

    bool Exists() const { return exists_; }
    uint8_t VersionID() const { return versionID_; }
    int64_t Size() const { return size_; }
    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    uint16_t Track() const { return track_; }
    const std::string& TrackText() const { return trackText_; }
    const std::string& Year() const { return year_; }
    const std::string& Genre() const { return genre_; }
    const std::string& Comment() const { return comment_; }
    const std::string& Composer() const { return composer_; }
    const std::string& Encoder() const { return encoder_; }
    const std::string& Copyright() const { return copyright_; }
    const std::string& Language() const { return language_; }
    const std::string& Link() const { return link_; }
    const std::string& OrigArtist() const { return origArtist_; }

    // Text setters drop blanks and control characters from both ends.
    void SetTitle(const std::string& v);
    void SetArtist(const std::string& v);
    void SetAlbum(const std::string& v);
    void SetYear(const std::string& v);
    void SetGenre(const std::string& v);
    void SetComment(const std::string& v);
    void SetComposer(const std::string& v);
    void SetEncoder(const std::string& v);
    void SetCopyright(const std::string& v);
    void SetLink(const std::string& v);
    void SetOrigArtist(const std::string& v);
    void SetTrack(uint16_t v) { track_ = v; }
    // The track as typed, such as 7/12: the number before the "/" becomes Track, the text is saved.
    void SetTrackText(const std::string& v);

private:
    void Derive(const TagInfo& tag);

    bool exists_ = false;
    uint8_t versionID_ = 0;
    int64_t size_ = 0;
    std::string title_, artist_, album_;
    uint16_t track_ = 0;
    std::string trackText_, year_, genre_, comment_, composer_, encoder_, copyright_, language_, link_,
        origArtist_;
};

} // namespace lumora
