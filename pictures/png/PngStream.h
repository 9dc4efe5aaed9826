#pragma once
// The PNG reader: decodes one PNG data stream into a bitmap, and the transparency that one colour
// cannot express into a second 8-bit bitmap (255 minus alpha per pixel).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Graphics.h"
#include "pictures/png/GraphicStream.h"

namespace lumora {

class EPngError : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

struct TPngTime {
    uint16_t Year = 0;
    uint8_t Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};
struct TPngChromaticities {
    uint32_t Values[8] = {};
};
struct TPngGifExtension {
    uint8_t Bytes[4] = {};
};
// The extended record of the private "tpNg" chunk.
struct TPngPrivateRecord {
    std::string Text;
    uint32_t Values[4] = {};
    uint16_t Shorts[2] = {};
};

// Lets the caller supply or change the key that the private chunk asks for.
using TPngGetKeyEvent = std::function<void(std::string& key)>;
// Transforms one unfiltered row in place (row number counted from 0 over all passes).
using TPngRowTransformEvent =
    std::function<void(uint8_t* row, const std::string& key, int rowNumber, int byteCount)>;

// Colour words of the results: -1 none; bit 24 set means a palette index in the low byte.
constexpr int32_t kPngNoColor = -1;
constexpr int32_t kPngPaletteIndex = 0x01000000;

class TPngReadStream : public TCustomGraphicReadStream {
public:
    TPngReadStream();
    ~TPngReadStream() override;

    // Options, set before the load.
    bool CheckSignature = true;
    bool Use16BitOutput = false;
    bool IndexedGrey = false;
    std::string Key;
    TPngGetKeyEvent OnGetKey;
    TPngRowTransformEvent OnRowTransform;
    TPngTime* Time = nullptr;
    TPngChromaticities* Chromaticities = nullptr;
    TPngGifExtension* GifExtension = nullptr;
    TPngPrivateRecord* PrivateRecord = nullptr;
    // Receives the alpha mask when the picture has one; may stay null.
    TBitmap* AlphaBitmap = nullptr;

    // Results, read after the load.
    bool HasAlpha() const { return hasAlpha_; }
    int32_t Background() const { return background_; }
    int32_t Transparent() const { return transparent_; }
    int InterlaceMethod() const { return interlace_; }
    double Gamma() const { return gamma_; }
    uint32_t PhysicalX() const { return physX_; }
    uint32_t PhysicalY() const { return physY_; }
    uint8_t PhysicalUnit() const { return physUnit_; }
    uint32_t SignificantBits() const { return sigBits_; }
    int BitDepth() const { return BitDepth_; }
    bool Grey() const { return grey_; }
    int64_t RowsDecoded() const { return rowsDecoded_; }

protected:
    void LoadImage() override;

private:
    enum class FillResult { Ok, End, Bad };
    void Reset();
    void ReadHeader();
    void ReadPalette();
    void ReadTransparency();
    void ReadBackground();
    void ReadText();
    void ReadPrivate();
    void DecodeImage();
    void PrepareBitmap();
    FillResult FillInput();
    int InflateRow(uint8_t* row, int64_t bytes); // 1 done, 0 stream ended, -1 error
    void BuildPaletteMask();
    void EndInflate();

    // Chunk data access, bounded by the chunk's remaining length.
    uint8_t ChunkByte();
    uint16_t ChunkWord();
    uint32_t ChunkLong();

    int64_t remaining_ = 0;
    uint8_t flags_ = 0;
    int colorKind_ = -1, depth_ = 0, interlace_ = 0;
    bool hasAlpha_ = false, grey_ = false, greyIndexed_ = false, transformRows_ = false;
    bool paletteAlphaPending_ = false, needMask_ = false;
    uint8_t paletteAlpha_[256] = {};
    // A colour key of 16-bit samples, which the 8-bit pixels cannot tell apart: matched on the rows as
    // they are decoded, into the alpha bitmap.
    bool key16_ = false, key16Lookalike_ = false;
    uint16_t key16Samples_[3] = {};
    int32_t background_ = kPngNoColor, transparent_ = kPngNoColor;
    double gamma_ = 0;
    uint32_t physX_ = 0, physY_ = 0, sigBits_ = 0;
    uint8_t physUnit_ = 0;
    int64_t rowsDecoded_ = 0;
    TBitmap* alphaInUse_ = nullptr;

    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
};

// The PNG writer: encodes one bitmap, with an optional 8-bit alpha bitmap (255 minus alpha per
// pixel, as the reader makes it), as a PNG data stream.
class TPngWriteStream : public TCustomGraphicWriteStream {
public:
    TPngWriteStream();
    ~TPngWriteStream() override;

    // Options, set before the save.
    bool WriteSignature = true;
    // 0 store only, 1 zlib's default level, 2 fastest, 3 best; others the default level.
    uint8_t Compression = 1;
    // 0 adaptive, 1 None, 2 Sub, 3 Up, 4 Average, 5 Paeth; 6 and above None.
    uint8_t Filter = 1;
    // 1 Adam7; anything else none.
    uint8_t Interlace = 0;
    // Size of the deflate output buffer and so of the IDAT chunks; out of 1..0x3FFFF means 24576.
    int32_t OutputBufferSize = 32768;
    bool Grey = false;
    bool IndexedGrey = false;
    bool TimeIsNow = true;
    TColor Background = -1;
    TColor TransparentColor = -1;
    std::string Comment;
    double Gamma = 0;
    uint32_t SignificantBits = 0;
    uint8_t PhysicalUnit = 0;
    uint32_t PhysicalX = 0, PhysicalY = 0;
    const TPngTime* Time = nullptr;
    const TPngChromaticities* Chromaticities = nullptr;
    const TPngGifExtension* GifExtension = nullptr;
    const TPngPrivateRecord* PrivateRecord = nullptr;
    TBitmap* AlphaBitmap = nullptr;
    std::string Key;
    TPngRowTransformEvent OnRowTransform;

    // What the last save wrote.
    int ColorType() const { return colorType_; }
    int SampleDepth() const { return depth_; }
    bool WroteAlpha() const { return writeAlpha_; }
    // The filter type of every row written, in order (filled only when ChosenFilters is asked for).
    std::vector<uint8_t>* ChosenFilters = nullptr;

protected:
    void SaveImage() override;

private:
    void Prepare();
    void WriteChunk(uint32_t type, const uint8_t* data, size_t size);
    void WriteChunk(uint32_t type, const std::vector<uint8_t>& data) { WriteChunk(type, data.data(), data.size()); }
    void WriteHeaderChunks();
    void WriteImageData();
    void ConvertRow(int y, uint8_t* out);
    void FlushIdat(size_t bytes);
    const uint8_t* FilterRow(const uint8_t* raw, const uint8_t* prev, int64_t len);
    void DeflateBytes(const uint8_t* data, int64_t len, int flush);
    int GreyOf(TColor color) const;
    int NearestPaletteIndex(TColor color) const;

    int sourceBits_ = 24, outputBits_ = 24, pngBits_ = 24, depth_ = 8, colorType_ = 2;
    bool writeGrey_ = false, writeAlpha_ = false, indexedGreyMode_ = false, useAlpha_ = false;
    uint8_t greyTable_[256] = {};
    bool invertMono_ = false;
    int64_t rowBytes_ = 0;
    int step_ = 0;

    struct Deflater;
    std::unique_ptr<Deflater> deflater_;
};

} // namespace lumora
