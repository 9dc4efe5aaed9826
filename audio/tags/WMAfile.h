#pragma once
// Stream properties and tags of a WMA file, read from the objects of its ASF header.

#include <cstdint>
#include <string>

#include "framework/Classes.h"

namespace lumora {

class TWMAfile : public TObject {
public:
    TWMAfile() { ResetData(); }

    void ResetData();
    // Throws EFOpenError when the file cannot be opened; true when it was read, valid or not.
    bool LoadFromFile(const std::string& fileName);
    bool LoadFromStream(TStream& stream);
    std::string ChannelModeText() const;

    bool Valid() const { return valid_; }
    int64_t FileSize() const { return fileSize_; }
    uint8_t ChannelModeID() const { return channelModeID_; }
    int32_t SampleRate() const { return sampleRate_; }
    double Duration() const { return duration_; }
    int32_t BitRate() const { return bitRate_; }
    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    int32_t Track() const { return track_; }
    const std::string& Year() const { return year_; }
    const std::string& Genre() const { return genre_; }
    const std::string& Comment() const { return comment_; }

private:
    bool valid_ = false;
    int64_t fileSize_ = 0;
    uint8_t channelModeID_ = 0;
    int32_t sampleRate_ = 0;
    double duration_ = 0;
    int32_t bitRate_ = 0;
    std::string title_, artist_, album_;
    int32_t track_ = 0;
    std::string year_, genre_, comment_;
};

} // namespace lumora
