#pragma once
// The JPEG picture class on libjpeg: decodes the whole picture into a 32-bit bitmap at load, at a
// half, a quarter or an eighth of its size when the whole would exceed the pixel budget.

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

// The framework's own formats (BMP) and, separately, the JPEG class, so the program can register
// them in its own order among the other picture classes.
void RegisterFrameworkFormats();
void RegisterJpegFormat();

} // namespace lumora
