#pragma once
// Buffered big-endian byte access over a framework stream, with staged progress, and the graphic
// descendants that bind a bitmap. Each codec object lives for one load or one save.

#include <cstdint>
#include <vector>

#include "framework/Graphics.h"

namespace lumora {

// Progress through stages: each stage owns a share of what is left of 0..99, and reports grow only.
class TStagedProgress {
public:
    // Each returns the percent to report, or -1 when nothing new is to be said.
    int Start();
    // mode 0 measures by position (total = bytes), mode 1 by a count; share 1..99 percent of the rest.
    void NewStage(int mode, int64_t total, int share, int64_t position);
    int Step(int64_t countOrPosition);
    int End() { return 100; }
    int Mode() const { return mode_; }

private:
    int base_ = 0, last_ = 0, span_ = 0, remaining_ = 99, mode_ = 0;
    int64_t total_ = 1, stageStart_ = 0;
};

class TCustomReadStream {
public:
    static constexpr int64_t kBufferSize = 65536;
    virtual ~TCustomReadStream() = default;

    // Skips a 128-byte leading header when the first byte and the byte at offset 74 are both zero.
    bool SkipHeader = false;
    bool HeaderSkipped() const { return headerSkipped_; }
    bool EndOfData() const { return eof_; }
    bool Stopped() const { return stop_; }
    // Bytes consumed since the open.
    int64_t Consumed() const { return position_; }
    int64_t ByteCount() const { return count_; }

protected:
    // Called with each new percent; returning true stops the codec.
    virtual bool DoProgress(int percent) { return false; }

    // count < 1 means everything from the source's position to its end.
    void Open(TStream& source, int64_t count);
    // Leaves the source just behind the consumed bytes.
    void Close();

    // Past the count or after a stop every read returns 0 and copies nothing; reads of 0 bytes do nothing.
    uint8_t ReadByte();
    uint16_t ReadWord();
    uint32_t ReadLong();
    // Returns n, or 0 when fewer than n bytes remain (then end-of-data is set).
    int64_t ReadBytes(void* dest, int64_t n);
    void Skip(int64_t n);
    void Stop() { stop_ = true; }

    void StartProgress();
    void NewStage(int mode, int64_t total, int share);
    void StepProgress(int64_t count = 0);
    void EndProgress();

private:
    bool Ensure(int64_t n); // makes n bytes contiguous at cur_
    void Fill(int64_t kept);

    TStream* source_ = nullptr;
    int64_t count_ = 0, position_ = 0, start_ = 0, sourceRead_ = 0, avail_ = 0;
    const uint8_t* cur_ = nullptr;
    std::vector<uint8_t> buffer_;
    bool inPlace_ = false, stop_ = false, eof_ = false, headerSkipped_ = false;
    TStagedProgress progress_;
};

// Pixel format for a bit count (1, 4, 8, 15, 16, 32; anything else 24) and back.
TPixelFormat PixelFormatForBits(int bits);
int BitsForPixelFormat(TPixelFormat format);

class TCustomGraphicReadStream : public TCustomReadStream {
public:
    TCustomGraphicReadStream() { SkipHeader = true; }
    // Decodes count bytes of stream (0 = to its end) into bitmap. The bitmap's change hook is held
    // back for the duration and restored on every path.
    void Load(TBitmap& bitmap, TStream& stream, int64_t count = 0);
    std::string Comment;

protected:
    virtual void LoadImage() = 0;
    bool DoProgress(int percent) override;
    // Clears the bitmap and gives it the format of BitmapBits, the size and the palette buffer's entries.
    virtual void SetupBitmap();
    std::vector<TRGBQuad>& PaletteBuffer();
    bool HasPalette() const { return !palette_.empty(); }
    void FreePalette() { palette_.clear(); }

    TBitmap* Bitmap_ = nullptr;
    int Width_ = 0, Height_ = 0, BitmapBits_ = 24, BitDepth_ = 0, PaletteCount_ = 0;
    uint32_t Values_[3] = {};
    bool RedrawNow = false;

private:
    std::vector<TRGBQuad> palette_;
};

class TCustomWriteStream {
public:
    static constexpr int64_t kBufferSize = 65536;
    TCustomWriteStream() : buffer_(kBufferSize) {}
    virtual ~TCustomWriteStream() = default;
    int64_t TotalWritten() const { return total_; }
    bool Stopped() const { return stop_; }

protected:
    virtual bool DoProgress(int percent) { return false; }
    void Bind(TStream& target) { target_ = &target; }
    // Writes of 0 bytes do nothing; nothing is written after a stop.
    void WriteBytes(const void* data, int64_t n);
    void WriteLong(uint32_t value);
    void Flush();
    void Stop() { stop_ = true; }

    void StartProgress();
    void NewStage(int64_t total, int share);
    void StepProgress(int64_t count);
    void EndProgress();

private:
    TStream* target_ = nullptr;
    std::vector<uint8_t> buffer_;
    int64_t used_ = 0, total_ = 0;
    bool stop_ = false;
    TStagedProgress progress_;
};

class TCustomGraphicWriteStream : public TCustomWriteStream {
public:
    void Save(TBitmap& bitmap, TStream& stream);

protected:
    virtual void SaveImage() = 0;
    bool DoProgress(int percent) override;
    TBitmap* Bitmap_ = nullptr;
    bool RedrawNow = false;
};

} // namespace lumora
