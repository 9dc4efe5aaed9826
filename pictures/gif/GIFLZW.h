#pragma once
// GIF LZW coding: the frame decoder, the data sub-block writer, and the two frame encoders (true LZW
// with a hash table, and a run-length coder whose output every GIF decoder reads).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/SysUtils.h"

namespace lumora {

// Every error of the GIF image library; a picture that cannot be read, as the framework sees it.
class GIFException : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

// Receives a warning (severity, English message) while reading or writing goes on.
using TGIFWarning = std::function<void(int severity, const std::string& message)>;

// The most pixels LZW data of that many bytes can give with that minimum code size (0 to 11). A
// code gives at most one pixel more than the table's longest string, which grows by one pixel a code
// from a clear code to the full table: codes of 12 bits giving 4097 - clear code pixels each are the
// most any run of bits gives. Clear codes, which give none, only lower the real figure.
int64_t MaxGIFDataPixels(int64_t bytes, int minCodeSize);

// What a frame's LZW data gave.
struct TGIFFrameData {
    // Pixels the data gave (fewer than the frame's when it ends early), or -1 when the minimum code
    // size is beyond what the decoder serves: the data is then passed over and no pixel is set.
    int64_t Pixels = 0;
    // The stream ended inside a data sub-block: the file is cut short there.
    bool EndedInBlock = false;
};

// Decodes one frame's LZW data (the minimum code size byte, the data sub-blocks and their terminator)
// into pixels, width x height bytes that the caller has filled with the value unreached pixels keep.
// Leaves the stream after the terminating zero-length sub-block, or at its end.
TGIFFrameData DecodeGIFFrame(TStream& stream, uint8_t* pixels, int width, int height, bool interlaced,
                             const TGIFWarning& warning);

// A stream that accepts only writing: it packs what it is given into data sub-blocks of 255 bytes
// (the last one shorter), each led by its length byte.
class TGIFWriter : public TStream {
public:
    TGIFWriter(TStream& target, TGIFWarning warning);
    ~TGIFWriter() override;
    TGIFWriter(const TGIFWriter&) = delete;
    TGIFWriter& operator=(const TGIFWriter&) = delete;

    int64_t Write(const void* buffer, int64_t count) override;
    void WriteByte(uint8_t value);
    // Writes a partly filled block; the destructor calls it too.
    void Flush();
    // Reading, seeking and size changes raise "Invalid stream operation".
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;
    void SetSize(int64_t size) override;

private:
    TStream& target_;
    TGIFWarning warning_;
    uint8_t block_[256];
    int fill_ = 1;
    bool pending_ = false;
};

// Open-addressed table of (prefix code, pixel) keys to codes, sized for 4096 codes.
class THashTable {
public:
    static constexpr int kSize = 8009;
    static constexpr uint32_t kNotFound = 0xFFFF;
    THashTable() { Clear(); }
    void Clear();
    void Insert(uint32_t key, uint32_t code);
    uint32_t Lookup(uint32_t key) const;

private:
    static int Hash(uint32_t key) { return static_cast<int>(((key >> 4) ^ key) % kSize); }
    static int NextSlot(int h) { return h == 0 ? kSize - 1 : (2 * h - kSize >= 0 ? 2 * h - kSize : 2 * h); }
    uint32_t slots_[kSize];
};

// Common part of the frame encoders: the code bucket, the pixel walk (interlaced or not) and the
// framing of the data.
class TGIFEncoder {
public:
    virtual ~TGIFEncoder() = default;
    // Writes the minimum code size, the coded pixels in sub-blocks and the terminating zero byte.
    // Every pixel must be below colors, else "Color not in color table".
    void Encode(TStream& stream, int bitsPerPixel, int colors, const uint8_t* data, bool interlaced, int height,
                int width);
    TGIFWarning OnWarning;

protected:
    virtual void Output(int code);
    virtual void Clear();
    virtual void Compress() = 0;
    // Next pixel of the walk, or -1 after the last one; checks the pixel against the colour count.
    int NextPixel();

    int MaxColor = 0;
    int BitsPerPixel = 0;
    int Width = 0, Height = 0;
    bool Interlaced = false;
    const uint8_t* Data = nullptr;
    std::unique_ptr<TGIFWriter> Writer;
    uint32_t Bucket = 0;
    int BucketBits = 0;
    bool ClearFlag = false;
    int CodeSize = 0, InitCodeSize = 0;
    int MaxCode = 0;
    int ClearCode = 0, EndCode = 0, BaseCode = 0;

private:
    int64_t runLeft_ = 0;
    int row_ = 0, pass_ = 0;
    const uint8_t* cursor_ = nullptr;
    bool done_ = false;
};

class TLZWEncoder : public TGIFEncoder {
protected:
    void Output(int code) override;
    void Clear() override;
    void Compress() override;

private:
    std::unique_ptr<THashTable> hash_;
    int freeEntry_ = 0;
    int prefix_ = 0;
};

// Codes only runs of one colour: every code is a plain pixel or stands, in the table the decoder
// builds, for a run of the current colour.
class TRLEEncoder : public TGIFEncoder {
protected:
    void Clear() override;
    void Compress() override;

private:
    void PlainOutput(int code);
    void FlushRun(int count);
    void FlushFromClear(int count);
    void FlushWithTable(int count);
    void FlushClearOrRepeat(int count);
    static int64_t TriangleCount(int64_t count, int64_t nrepcodes);

    int runPixel_ = -1;
    int tableMax_ = 0, tablePixel_ = 0;
    int outCount_ = 0, outBump_ = 0, outClear_ = 0;
    int outBumpInit_ = 0, outClearInit_ = 0, maxOutCodes_ = 0;
};

} // namespace lumora
