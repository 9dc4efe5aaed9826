#pragma once
// Stream properties and comments of an Ogg Vorbis file; the comments can be written back.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "framework/Classes.h"

namespace lumora {

// The Ogg page checksum (CRC-32, polynomial 0x04C11DB7, no reflection, no final inversion).
uint32_t OggChecksum(const uint8_t* data, size_t size, uint32_t crc = 0);

class TOggVorbis : public TObject {
public:
    TOggVorbis() { ResetData(); }

    void ResetData();
    // Throws EFOpenError when the file cannot be opened; false when it is not Ogg Vorbis.
    bool LoadFromFile(const std::string& fileName);
    // Writes the comment fields and Extra back. A field cleared where it showed a value removes
    // every comment of its name and of its stand-in (PERFORMER, DESCRIPTION). A comment packet that does not fit the second page
    // is laid out, with the setup packet, on as many pages as it needs. Refused (false, file
    // untouched) when the header packets are not laid out as Vorbis requires.
    bool SaveToFile(const std::string& fileName);
    // Reads Ogg Vorbis bytes held in memory (fuzzing and tests).
    bool LoadFromStream(TStream& stream);

    double Duration() const;
    uint16_t BitRate() const;
    bool IsValid() const;
    std::string ChannelModeText() const;

    int64_t FileSize() const { return fileSize_; }
    uint8_t ChannelModeID() const { return channelModeID_; }
    uint32_t SampleRate() const { return sampleRate_; }
    uint16_t BitRateNominal() const { return bitRateNominal_; }
    int64_t Samples() const { return samples_; }
    int64_t ID3v2Size() const { return id3v2Size_; }
    uint8_t Version() const { return version_; }
    int32_t SerialNo() const { return serialNo_; }
    const std::string& Vendor() const { return vendor_; }

    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    uint16_t Track() const { return track_; }
    const std::string& Date() const { return date_; }
    const std::string& Genre() const { return genre_; }
    const std::string& Comment() const { return comment_; }
    // Comments with other names, as NAME=value items separated by one zero byte; a zero byte
    // inside a comment reads as U+2400, and the comment left as it was is saved with its own bytes.
    // Earlier values of a known name that repeats are among them too.
    const std::string& Extra() const { return extra_; }

    void SetTitle(const std::string& v) { title_ = v; }
    void SetArtist(const std::string& v) { artist_ = v; }
    void SetAlbum(const std::string& v) { album_ = v; }
    // A track set here is written on save; one never set keeps the stored text, whatever it holds.
    void SetTrack(uint16_t v) { track_ = v, trackSet_ = true; }
    void SetDate(const std::string& v) { date_ = v; }
    void SetGenre(const std::string& v) { genre_ = v; }
    void SetComment(const std::string& v) { comment_ = v; }
    void SetExtra(const std::string& v) { extra_ = v; }
    // Removes on save every comment of the name, its case ignored: also a stand-in (PERFORMER,
    // DESCRIPTION) hidden behind a field of its own.
    void RemoveEveryValue(const std::string& name);

private:
    int64_t fileSize_ = 0;
    uint8_t channelModeID_ = 0;
    uint32_t sampleRate_ = 0;
    uint16_t bitRateNominal_ = 0;
    int64_t samples_ = 0;
    int64_t id3v2Size_ = 0;
    uint8_t version_ = 0;
    int32_t serialNo_ = 0;
    std::string vendor_;
    std::string title_, artist_, album_;
    uint16_t track_ = 0;
    bool trackSet_ = false;
    std::string date_, genre_, comment_, extra_;
    std::set<std::string> removed_; // upper-cased names
};

} // namespace lumora
