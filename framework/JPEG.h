#pragma once
// The JPEG picture class on libjpeg: decodes the whole picture into a 32-bit bitmap at load, at a
// half, a quarter or an eighth of its size when the whole would exceed the pixel budget, and stands
// it upright by the orientation of its EXIF block. The same decoding can hand its rows, as they
// come, to a reader that keeps fewer than all of them.

#include <cstdint>
#include <memory>

#include "framework/Graphics.h"

namespace lumora {

class TJPEGImage : public TGraphic {
public:
    TJPEGImage();
    ~TJPEGImage() override;
    // Throws EInvalidGraphic with libjpeg's message on damaged data.
    void LoadFromStream(TStream& stream) override;
    void LoadFromMemory(const uint8_t* data, size_t size);
    int Width() const override { return bitmap_->Width(); }
    int Height() const override { return bitmap_->Height(); }
    void Draw(TCanvas& canvas, const TRect& rect) override { bitmap_->Draw(canvas, rect); }
    void AssignTo(TBitmap& dest) override { dest.Assign(*bitmap_); }
    TBitmap& Bitmap() { return *bitmap_; }

private:
    std::unique_ptr<TBitmap> bitmap_;
};

// Takes a JPEG's rows as the decoder makes them, from the top of the picture as stored: the pixels
// are those the picture class holds before it turns the picture upright, pf32bit, but with the spare
// top byte as the decoder left it: a sink that keeps the rows clears it (ClearSpareBytes), one that
// only reads the colours is spared the pass.
class TJpegRowSink {
public:
    virtual ~TJpegRowSink() = default;
    // The decoded size as stored and the orientation (1 to 8, OrientUpright's) that stands it
    // upright, once, before the first row. May throw (the decoding then stops).
    virtual void Begin(int width, int height, int orientation) = 0;
    // Where row y is to be decoded: room for width 32-bit pixels.
    virtual uint32_t* Row(int y) = 0;
    // Row y holds its pixels.
    virtual void RowDone(int y) = 0;

protected:
    static void ClearSpareBytes(uint32_t* row, int width);
};
// Decodes the rest of the stream into sink; throws EInvalidGraphic as TJPEGImage::LoadFromStream.
void DecodeJpegRows(TStream& stream, TJpegRowSink& sink);

// The orientation (1 to 8) an APP1 segment's payload gives as an EXIF block; 1, as stored, when the
// payload is no EXIF block or its orientation cannot be read.
int ExifOrientation(const uint8_t* app1, size_t size);

// The framework's own formats (BMP) and, separately, the JPEG class, so the program can register
// them in its own order among the other picture classes.
void RegisterFrameworkFormats();
void RegisterJpegFormat();

} // namespace lumora
