#pragma once
// Stream properties of an MPEG audio file (MPEG 1, 2 and 2.5, layers I to III) and its ID3 tags.

#include <cstdint>
#include <memory>
#include <string>

#include "audio/tags/ID3v1.h"
#include "audio/tags/ID3v2.h"
#include "framework/Classes.h"

namespace lumora {

// Kinds of tag blocks ReadTagFromBuffer decodes.
constexpr uint16_t TagKindID3v1 = 1;
constexpr uint16_t TagKindID3v2 = 2;

struct VBRData {
    bool Found = false;
    char ID[4] = {};        // "Xing", "Info" (the same header in a constant bit rate file) or "VBRI"
    int32_t Frames = 0;
    int32_t Bytes = 0;
    uint8_t Scale = 0;
    std::string VendorID;   // 8 bytes after a Xing or Info header
};

struct FrameData {
    bool Found = false;
    int32_t Position = 0;   // offset of the header in the block it was found in
    uint16_t Size = 0;      // frame length in bytes
    bool Xing = false;      // the 6 bytes after the header are zero
    uint8_t Data[4] = {};
    uint8_t VersionID = 0, LayerID = 0;
    bool ProtectionBit = false;
    uint16_t BitRateID = 0;
    uint8_t SampleRateID = 0;
    bool PaddingBit = false, PrivateBit = false;
    uint8_t ModeID = 0, ModeExtensionID = 0;
    bool CopyrightBit = false, OriginalBit = false;
    uint8_t EmphasisID = 0;
};

class TMPEGaudio : public TObject {
public:
    static constexpr int BlockSize = 3458;

    TMPEGaudio();

    void ResetData();
    bool LoadFromFile(const std::string& fileName);
    // Decodes a tag block held in memory (kind TagKindID3v1 or TagKindID3v2); size is the number
    // of bytes at data, fileLength the length of the stream's file.
    bool ReadTagFromBuffer(uint16_t kind, const uint8_t* data, int64_t size, int64_t fileLength, TMP3TagInfo& info);

    int64_t FileLength() const { return fileLength_; }
    const std::string& VendorID() const { return vendorID_; }
    const VBRData& VBR() const { return vbr_; }
    const FrameData& Frame() const { return frame_; }
    TID3v1& ID3v1() { return *id3v1_; }
    TID3v2& ID3v2() { return *id3v2_; }

    bool IsValid() const;
    std::string VersionText() const;
    std::string LayerText() const;
    std::string ChannelModeText() const;
    uint16_t SampleRate() const;
    uint16_t BitRate() const;
    int32_t Frames() const;
    double Duration() const;
    uint8_t EncoderID() const;
    std::string EncoderText() const;

    // The frame search over one block (exposed for tests and fuzzing): finds the first header whose
    // follower at the computed frame length is also a header, then reads a VBR header.
    static FrameData FindFrame(const uint8_t* block, int blockSize, VBRData& vbr);
    // The encoder signature nearest the end of a block: "LAME" with 4 more characters, or "GOGO".
    static std::string FindVendorID(const uint8_t* block, int blockSize, int length);

private:
    int64_t AudioSize() const;
    int TableBitRate() const;
    int Coefficient() const;
    int Padding() const;

    int64_t fileLength_ = 0;
    std::string vendorID_;
    VBRData vbr_;
    FrameData frame_;
    std::unique_ptr<TID3v1> id3v1_;
    std::unique_ptr<TID3v2> id3v2_;
};

} // namespace lumora
