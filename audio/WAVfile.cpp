#include "audio/WAVfile.h"

#include <cstring>

#include "audio/ByteReader.h"

namespace lumora {

void TWAVfile::ResetData() {
    valid_ = false;
    channelModeID_ = 0;
    sampleRate_ = 0;
    bitsPerSample_ = 0;
    fileSize_ = 0;
}

bool TWAVfile::LoadFromFile(const std::string& fileName) {
    ResetData();
    try {
        TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
        std::vector<uint8_t> header = ReadStreamAt(file, 0, HeaderSize);
        return LoadFromBuffer(header.data(), static_cast<int64_t>(header.size()));
    } catch (const Exception&) {
        return false;
    }
}

bool TWAVfile::LoadFromBuffer(const uint8_t* data, int64_t size) {
    ResetData();
    if (!data || size < HeaderSize) return false;
    TByteReader r(data, HeaderSize);
    bool riff = r.Peek("RIFF");
    r.Skip(4);
    uint32_t riffSize = r.LE32();
    bool wave = r.Peek("WAVE");
    r.Skip(4);
    bool fmt = r.Peek("fmt ");
    r.Skip(10); // id, chunk size, format code
    uint16_t channels = r.LE16();
    uint32_t sampleRate = r.LE32();
    r.Skip(6); // bytes per second, block alignment
    uint16_t bits = r.LE16();
    if (riff && wave && fmt && (channels == 1 || channels == 2)) {
        valid_ = true;
        channelModeID_ = static_cast<uint8_t>(channels);
        sampleRate_ = sampleRate;
        bitsPerSample_ = static_cast<uint8_t>(bits);
        fileSize_ = int64_t(riffSize) + 8;
    }
    return true;
}

double TWAVfile::Duration() const {
    if (!valid_ || sampleRate_ == 0 || bitsPerSample_ == 0 || channelModeID_ == 0 || fileSize_ <= HeaderSize) return 0;
    return double(fileSize_ - HeaderSize) * 8 / sampleRate_ / bitsPerSample_ / channelModeID_;
}

std::string TWAVfile::ChannelModeText() const {
    static const char* const texts[3] = {"Unknown", "Mono", "Stereo"};
    return channelModeID_ <= 2 ? texts[channelModeID_] : "Unknown";
}

} // namespace lumora
