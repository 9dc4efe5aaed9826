#pragma once
// Properties of a RIFF WAVE file, read from its "fmt " and "data" chunks.

#include <cstdint>
#include <string>

#include "framework/Classes.h"

namespace lumora {

class TWAVfile : public TObject {
public:
    static constexpr int HeaderSize = 44;

    TWAVfile() { ResetData(); }

    void ResetData();
    // True when 44 bytes could be read (Valid tells whether they are a WAVE file we show).
    bool LoadFromFile(const std::string& fileName);
    // The whole file held in memory.
    bool LoadFromBuffer(const uint8_t* data, int64_t size);
    double Duration() const;
    std::string ChannelModeText() const;

    bool Valid() const { return valid_; }
    uint8_t ChannelModeID() const { return channelModeID_; }
    uint32_t SampleRate() const { return sampleRate_; }
    uint8_t BitsPerSample() const { return bitsPerSample_; }
    int64_t FileSize() const { return fileSize_; } // the RIFF chunk size + 8, at most the file's length
    int64_t DataSize() const { return dataSize_; } // the sound data's bytes present in the file

private:
    bool valid_ = false;
    uint8_t channelModeID_ = 0;
    uint32_t sampleRate_ = 0;
    uint8_t bitsPerSample_ = 0;
    int64_t fileSize_ = 0;
    int64_t dataSize_ = 0;

    bool Load(TStream& stream);
};

} // namespace lumora
