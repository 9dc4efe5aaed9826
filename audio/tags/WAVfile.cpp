#include "audio/tags/WAVfile.h"

#include <algorithm>
#include <cstring>

#include "audio/tags/ByteReader.h"

namespace lumora {

void TWAVfile::ResetData() {
    valid_ = false;
    channelModeID_ = 0;
    sampleRate_ = 0;
    bitsPerSample_ = 0;
    fileSize_ = 0;
    dataSize_ = 0;
}

bool TWAVfile::LoadFromFile(const std::string& fileName) {
    ResetData();
    try {
        TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
        return Load(file);
    } catch (const Exception&) {
        return false;
    }
}

bool TWAVfile::LoadFromBuffer(const uint8_t* data, int64_t size) {
    ResetData();
    if (!data || size < HeaderSize) return false;
    TBytesStream stream(data, size);
    return Load(stream);
}

// Walks the chunks after the RIFF header to "fmt " and "data" (other chunks such as JUNK and LIST
// may come before either). The data size is taken as declared but never past the end of the file,
// so a streamed file (sizes 0xFFFFFFFF) or a cut one reads as the sound it holds.
bool TWAVfile::Load(TStream& stream) {
    ResetData();
    const int64_t length = stream.Size();
    std::vector<uint8_t> header = ReadStreamAt(stream, 0, 12);
    if (length < HeaderSize || header.size() < 12) return false;
    TByteReader h(header);
    bool riff = h.Peek("RIFF");
    h.Skip(4);
    int64_t riffSize = h.LE32();
    if (!riff || !h.Peek("WAVE")) return true;

    bool haveFormat = false;
    uint16_t channels = 0, bits = 0;
    uint32_t sampleRate = 0;
    int64_t dataSize = -1;
    int64_t pos = 12;
    for (int chunks = 0; chunks < 4096 && pos + 8 <= length && dataSize < 0; ++chunks) {
        std::vector<uint8_t> chunk = ReadStreamAt(stream, pos, 8);
        if (chunk.size() < 8) break;
        TByteReader c(chunk);
        bool isFormat = c.Peek("fmt "), isData = c.Peek("data");
        c.Skip(4);
        int64_t size = c.LE32();
        int64_t body = pos + 8;
        if (isFormat && !haveFormat) {
            std::vector<uint8_t> format = ReadStreamAt(stream, body, 16);
            if (format.size() < 16 || size < 16) break;
            TByteReader f(format);
            f.Skip(2); // format code
            channels = f.LE16();
            sampleRate = f.LE32();
            f.Skip(6); // bytes per second, block alignment
            bits = f.LE16();
            haveFormat = true;
        } else if (isData) {
            dataSize = std::min(size, length - body);
        }
        pos = body + size + (size & 1);
    }
    if (haveFormat && (channels == 1 || channels == 2)) {
        valid_ = true;
        channelModeID_ = static_cast<uint8_t>(channels);
        sampleRate_ = sampleRate;
        bitsPerSample_ = static_cast<uint8_t>(bits);
        fileSize_ = std::min(riffSize + 8, length);
        dataSize_ = std::max<int64_t>(dataSize, 0);
    }
    return true;
}

double TWAVfile::Duration() const {
    if (!valid_ || sampleRate_ == 0 || bitsPerSample_ == 0 || channelModeID_ == 0) return 0;
    return double(dataSize_) * 8 / sampleRate_ / bitsPerSample_ / channelModeID_;
}

std::string TWAVfile::ChannelModeText() const {
    static const char* const texts[3] = {"Unknown", "Mono", "Stereo"};
    return channelModeID_ <= 2 ? texts[channelModeID_] : "Unknown";
}

} // namespace lumora
