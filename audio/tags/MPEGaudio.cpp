#include "audio/tags/MPEGaudio.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "audio/tags/ByteReader.h"

namespace lumora {

namespace {

// Bit rates in kbit/s by [MPEG 1 or not][layer ID][bit-rate index]; layer ID 1 is Layer III.
const uint16_t bitRates[2][4][16] = {
    {{0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}},
    {{0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0}}};

// Sample rates in Hz by version ID (0 MPEG 2.5, 1 reserved, 2 MPEG 2, 3 MPEG 1) and index.
const uint16_t sampleRates[4][4] = {
    {11025, 12000, 8000, 0}, {0, 0, 0, 0}, {22050, 24000, 16000, 0}, {44100, 48000, 32000, 0}};

const char* const versionTexts[4] = {"MPEG 2.5", "MPEG ?", "MPEG 2", "MPEG 1"};
const char* const layerTexts[4] = {"Layer ?", "Layer III", "Layer II", "Layer I"};
const char* const modeTexts[5] = {"Stereo", "Joint Stereo", "Dual Channel", "Mono", "Unknown"};
const char* const encoderNames[8] = {"Unknown", "Xing", "FhG", "LAME", "Blade", "GoGo", "Shine", "QDesign"};

constexpr int versionMPEG1 = 3;
// Values of the layer field that the frame sizes tell apart from Layer III (1).
constexpr int layerII = 2, layerI = 3;
constexpr int searchPositions = 1730;
// Room after the block so that VBR fields near its end read as zeros instead of past it.
constexpr int blockSlack = 256;

bool IsFrameHeader(const uint8_t* h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return false;
    if (((h[1] >> 3) & 3) == 1 || ((h[1] >> 1) & 3) == 0) return false;
    if ((h[2] >> 4) == 15 || h[2] < 0x10 || ((h[2] >> 2) & 3) == 3) return false;
    return (h[3] & 3) != 2;
}

FrameData DecodeHeader(const uint8_t* h) {
    FrameData f;
    std::memcpy(f.Data, h, 4);
    f.VersionID = (h[1] >> 3) & 3;
    f.LayerID = (h[1] >> 1) & 3;
    f.ProtectionBit = (h[1] & 1) == 0;
    f.BitRateID = h[2] >> 4;
    f.SampleRateID = (h[2] >> 2) & 3;
    f.PaddingBit = (h[2] >> 1) & 1;
    f.PrivateBit = h[2] & 1;
    f.ModeID = h[3] >> 6;
    f.ModeExtensionID = (h[3] >> 4) & 3;
    f.CopyrightBit = (h[3] >> 3) & 1;
    f.OriginalBit = (h[3] >> 2) & 1;
    f.EmphasisID = h[3] & 3;
    return f;
}

int BitRateOf(const FrameData& f) {
    if (f.VersionID == 1 || f.LayerID == 0 || f.VersionID > 3 || f.LayerID > 3 || f.BitRateID > 15) return 0;
    return bitRates[f.VersionID == versionMPEG1 ? 0 : 1][f.LayerID][f.BitRateID];
}

int SampleRateOf(const FrameData& f) {
    if (f.VersionID > 3 || f.SampleRateID > 3) return 0;
    return sampleRates[f.VersionID][f.SampleRateID];
}

int CoefficientOf(const FrameData& f) {
    if (f.VersionID == versionMPEG1) return f.LayerID == layerI ? 48 : 144;
    if (f.LayerID == layerI) return 24;
    return f.LayerID == layerII ? 144 : 72;
}

int PaddingOf(const FrameData& f) { return f.PaddingBit ? (f.LayerID == layerI ? 4 : 1) : 0; }

uint16_t FrameLength(const FrameData& f) {
    int rate = SampleRateOf(f);
    if (rate == 0) return 0;
    int64_t length = int64_t(CoefficientOf(f)) * BitRateOf(f) * 1000 / rate + PaddingOf(f);
    return static_cast<uint16_t>(length);
}

// Signature bytes as printable text: trailing zeros dropped, anything not printable shown as "?".
std::string Printable(const uint8_t* p, int n) {
    while (n > 0 && p[n - 1] == 0) --n;
    std::string s;
    for (int i = 0; i < n; ++i) s += (p[i] >= 0x20 && p[i] < 0x7F) ? static_cast<char>(p[i]) : '?';
    return s;
}

// A file read for its tags and stream properties, its size taken once: every reader asks for it,
// and each asking is a system call.
class TSizedFile : public TStream {
public:
    explicit TSizedFile(TFileStream& file) : file_(file), size_(file.SizeAtOpen() >= 0 ? file.SizeAtOpen() : file.Size()) {}
    int64_t Read(void* buffer, int64_t count) override { return file_.Read(buffer, count); }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override { return file_.Seek(offset, origin); }
    int64_t Size() override { return size_; }
    int64_t ReadAt(int64_t offset, void* buffer, int64_t count) override { return file_.ReadAt(offset, buffer, count); }

private:
    TFileStream& file_;
    int64_t size_;
};

// Reads count bytes at offset into a zero-filled block; with alignEnd the bytes end the block
// (a file shorter than the block keeps its last bytes at the block's end).
std::vector<uint8_t> ReadBlock(TStream& file, int64_t offset, int64_t& got, bool alignEnd = false) {
    std::vector<uint8_t> block(TMPEGaudio::BlockSize + blockSlack, 0);
    int64_t want = TMPEGaudio::BlockSize;
    int64_t dest = 0;
    if (offset < 0) {
        want += offset;
        if (alignEnd) dest = -offset;
        offset = 0;
    }
    // Straight into the block; a short read at the end of the file moves to the block's end when
    // it is aligned there.
    got = want > 0 ? std::max<int64_t>(0, file.ReadAt(offset, block.data() + dest, want)) : 0;
    if (alignEnd && got < want) {
        std::memmove(block.data() + dest + (want - got), block.data() + dest, static_cast<size_t>(got));
        std::memset(block.data() + dest, 0, static_cast<size_t>(want - got));
    }
    return block;
}

} // namespace

TMPEGaudio::TMPEGaudio() : id3v1_(std::make_unique<TID3v1>()), id3v2_(std::make_unique<TID3v2>()) { ResetData(); }

void TMPEGaudio::ResetData() {
    fileLength_ = 0;
    vendorID_.clear();
    vbr_ = VBRData();
    frame_ = FrameData();
    frame_.VersionID = 1;
    frame_.SampleRateID = 3;
    frame_.ModeID = 4;
    frame_.ModeExtensionID = 4;
    frame_.EmphasisID = 2;
    id3v1_->ResetData();
    id3v2_->ResetData();
}

FrameData TMPEGaudio::FindFrame(const uint8_t* data, int blockSize, VBRData& vbr) {
    vbr = VBRData();
    std::vector<uint8_t> block(static_cast<size_t>(std::max(blockSize, 0)) + blockSlack, 0);
    if (blockSize > 0) std::memcpy(block.data(), data, static_cast<size_t>(blockSize));
    const uint8_t* b = block.data();
    FrameData frame;
    for (int pos = 0; pos < searchPositions && pos + 4 <= blockSize; ++pos) {
        if (!IsFrameHeader(b + pos)) continue;
        FrameData candidate = DecodeHeader(b + pos);
        uint16_t length = FrameLength(candidate);
        // A follower that would lie outside the block counts as no header.
        int64_t next = int64_t(pos) + length;
        if (length == 0 || next + 4 > blockSize || !IsFrameHeader(b + next)) continue;
        frame = candidate;
        frame.Found = true;
        frame.Position = pos;
        frame.Size = length;
        frame.Xing = std::all_of(b + pos + 4, b + pos + 10, [](uint8_t v) { return v == 0; });
        break;
    }
    if (!frame.Found) return frame;

    int offset;
    bool mono = frame.ModeID == 3;
    if (frame.VersionID == versionMPEG1)
        offset = mono ? 21 : 36;
    else
        offset = mono ? 13 : 21;
    int at = frame.Position + offset;
    if (at + 4 > blockSize) return frame;
    const uint8_t* v = b + at; // fields past the block read as the zeros of the slack
    // "Info" is the Xing header of a constant bit rate file (LAME, FFmpeg): its frame count is
    // as true, and the first frame that holds it may have a higher bit rate than the others.
    if (std::memcmp(v, "Xing", 4) == 0 || std::memcmp(v, "Info", 4) == 0) {
        vbr.Found = true;
        std::memcpy(vbr.ID, v, 4);
        vbr.Frames = static_cast<int32_t>(TByteReader::BE32At(v + 8));
        vbr.Bytes = static_cast<int32_t>(TByteReader::BE32At(v + 12));
        vbr.Scale = v[119];
        vbr.VendorID = Printable(v + 120, 8);
    } else if (std::memcmp(v, "VBRI", 4) == 0) {
        vbr.Found = true;
        std::memcpy(vbr.ID, "VBRI", 4);
        vbr.Scale = v[9];
        vbr.Bytes = static_cast<int32_t>(TByteReader::BE32At(v + 10));
        vbr.Frames = static_cast<int32_t>(TByteReader::BE32At(v + 14));
    }
    return frame;
}

std::string TMPEGaudio::FindVendorID(const uint8_t* block, int blockSize, int length) {
    if (blockSize < BlockSize) return {};
    length = std::min(length, 3450);
    // From place 3450 back to 3450 - length, the first "LAME" or "GOGO"; sixteen places at a time
    // are checked for an 'L' or a 'G' first.
    uint32_t lame, gogo;
    std::memcpy(&lame, "LAME", 4);
    std::memcpy(&gogo, "GOGO", 4);
    auto at = [&](int place, std::string& found) {
        const uint8_t* p = block + place;
        uint32_t v;
        std::memcpy(&v, p, 4);
        if (v == lame) found = Printable(p, 8);
        else if (v == gogo) found = "GOGO";
        else return false;
        return true;
    };
    std::string found;
    int place = 3450;
    const int lowest = 3450 - length;
#if defined(__SSE2__)
    const __m128i L = _mm_set1_epi8('L'), G = _mm_set1_epi8('G');
    for (; place - 15 >= lowest; place -= 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + place - 15));
        for (unsigned m = unsigned(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, L), _mm_cmpeq_epi8(v, G)))); m;
             m &= ~(1u << (31 - __builtin_clz(m))))
            if (at(place - 15 + (31 - __builtin_clz(m)), found)) return found;
    }
#endif
    for (; place >= lowest; --place)
        if (at(place, found)) return found;
    return {};
}

bool TMPEGaudio::LoadFromFile(const std::string& fileName) {
    ResetData();
    try {
        TFileStream opened(fileName, fmOpenRead | fmShareDenyWrite);
        TSizedFile file(opened);
        if (!id3v2_->ReadFromStream(file) || !id3v1_->ReadFromStream(file)) {
            ResetData();
            return false;
        }
        fileLength_ = file.Size();
        int64_t got = 0;
        std::vector<uint8_t> block = ReadBlock(file, id3v2_->Size(), got);
        frame_ = FindFrame(block.data(), BlockSize, vbr_);
        if (!frame_.Found && got == BlockSize) {
            block = ReadBlock(file, (fileLength_ - id3v2_->Size()) / 2, got);
            frame_ = FindFrame(block.data(), BlockSize, vbr_);
        }
        if (frame_.Found && !vbr_.Found) {
            int64_t end = fileLength_ - (id3v1_->Exists() ? TID3v1::TagSize : 0);
            block = ReadBlock(file, end - BlockSize, got, true);
            vendorID_ = FindVendorID(block.data(), BlockSize, frame_.Size * 5);
        }
    } catch (const Exception&) {
        ResetData();
        return false;
    }
    if (!frame_.Found) ResetData();
    return true;
}

bool TMPEGaudio::ReadTagFromBuffer(uint16_t kind, const uint8_t* data, int64_t size, int64_t fileLength,
                                   TMP3TagInfo& info) {
    if (kind == TagKindID3v1) return id3v1_->ReadFromBuffer(data, size, info);
    if (kind == TagKindID3v2) return id3v2_->ReadFromBuffer(data, size, fileLength, info);
    return false;
}

int TMPEGaudio::TableBitRate() const { return BitRateOf(frame_); }
int TMPEGaudio::Coefficient() const { return CoefficientOf(frame_); }
int TMPEGaudio::Padding() const { return PaddingOf(frame_); }

int64_t TMPEGaudio::AudioSize() const {
    int64_t size = fileLength_ - id3v2_->Size() - (id3v1_->Exists() ? TID3v1::TagSize : 0);
    return std::max<int64_t>(0, size);
}

std::string TMPEGaudio::VersionText() const { return versionTexts[frame_.VersionID & 3]; }
std::string TMPEGaudio::LayerText() const { return layerTexts[frame_.LayerID & 3]; }
std::string TMPEGaudio::ChannelModeText() const { return modeTexts[std::min<int>(frame_.ModeID, 4)]; }
uint16_t TMPEGaudio::SampleRate() const { return static_cast<uint16_t>(SampleRateOf(frame_)); }

uint16_t TMPEGaudio::BitRate() const {
    if (vbr_.Found && vbr_.Frames > 0) {
        int rate = SampleRateOf(frame_);
        // An Info header's byte count takes in its own frame, which its frame count leaves out; the
        // frames of a constant bit rate file then give their rate exactly.
        double bytes = vbr_.Bytes;
        if (std::memcmp(vbr_.ID, "Info", 4) == 0) bytes -= frame_.Size;
        double value = (bytes / vbr_.Frames - Padding()) * rate / Coefficient() / 1000;
        // The default rounding mode rounds halves to even.
        double rounded = std::nearbyint(value);
        return rounded <= 0 ? 0 : rounded >= 65535 ? 65535 : static_cast<uint16_t>(rounded);
    }
    return static_cast<uint16_t>(TableBitRate());
}

int32_t TMPEGaudio::Frames() const {
    if (vbr_.Found) return vbr_.Frames;
    if (!frame_.Found || frame_.Size == 0) return 0;
    int64_t n = std::max<int64_t>(0, AudioSize() - frame_.Position) / frame_.Size;
    return static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX));
}

double TMPEGaudio::Duration() const {
    if (!frame_.Found) return 0;
    int rate = SampleRateOf(frame_);
    if (vbr_.Found && vbr_.Frames >= 1) return rate ? double(Coefficient()) * vbr_.Frames * 8 / rate : 0;
    int bitRate = TableBitRate();
    if (bitRate == 0) return 0;
    return double(std::max<int64_t>(0, AudioSize() - frame_.Position)) / bitRate / 1000 * 8;
}

bool TMPEGaudio::IsValid() const {
    int rate = BitRate();
    return frame_.Found && rate >= 8 && rate <= 448 && Duration() >= 0.1;
}

uint8_t TMPEGaudio::EncoderID() const {
    if (!frame_.Found) return 0;
    if (vbr_.Found) {
        uint8_t id = 0;
        std::string vendor = vbr_.VendorID.substr(0, 4);
        bool known = vendor == "LAME" || vendor == "GOGO" || vendor == "MPGE";
        if (vendor == "LAME") id = 3;
        if (vendor == "GOGO" || vendor == "MPGE") id = 5;
        if (std::memcmp(vbr_.ID, "Xing", 4) == 0 && !known) id = 1;
        if (std::memcmp(vbr_.ID, "VBRI", 4) == 0) id = 2;
        return id;
    }
    uint8_t id = 2;
    if (frame_.OriginalBit && frame_.ProtectionBit) id = 3;
    if (TableBitRate() <= 160 && frame_.ModeID == 0) id = 4;
    if (frame_.CopyrightBit && frame_.OriginalBit && !frame_.ProtectionBit) id = 1;
    if (frame_.Xing && frame_.OriginalBit) id = 1;
    if (frame_.LayerID == layerII) id = 7;
    if (frame_.ModeID == 2 && frame_.ProtectionBit) id = 6;
    if (vendorID_.rfind("LAME", 0) == 0) id = 3;
    if (vendorID_.rfind("GOGO", 0) == 0) id = 5;
    return id;
}

std::string TMPEGaudio::EncoderText() const {
    uint8_t id = EncoderID();
    std::string text = encoderNames[id < 8 ? id : 0];
    if (id == 3) {
        const std::string& vendor = !vendorID_.empty() ? vendorID_ : vbr_.VendorID;
        auto digit = [](char c) { return c >= '0' && c <= '9'; };
        if (vendor.size() >= 8 && digit(vendor[4]) && vendor[5] == '.' && digit(vendor[6]) && digit(vendor[7]))
            text.append(" ").append(vendor, 4, 4);
    }
    return text;
}

} // namespace lumora
