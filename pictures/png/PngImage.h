#pragma once
// The PNG picture class: decodes through the PNG reader into its held bitmap, with an 8-bit alpha
// bitmap beside it when the picture has transparency that one colour cannot express.

#include <memory>
#include <string>

#include "pictures/png/GraphicFileObject.h"
#include "pictures/png/PngStream.h"

namespace lumora {

class TPngImage : public TGraphicFileObject {
public:
    TPngImage();
    ~TPngImage() override;

    void LoadFromStream(TStream& stream) override;
    // The stored property's data: PNG, read without the key and its events, written as SaveToStream.
    void ReadData(TStream& stream) override;
    void WriteData(TStream& stream) override { SaveToStream(stream); }
    void SetPalette(const HPALETTE& palette) override;
    // Loading drops the display override and takes the clipboard's bitmap.
    void LoadFromClipboardFormat(uint16_t format, const std::vector<uint8_t>* data) override;
    // Writes the bitmap in use as PNG with what the last load found (grey, comment, background,
    // transparent colour, gamma, significant bits, physical size, the records) and the alpha
    // bitmap when the picture has alpha. An empty picture writes nothing.
    void SaveToStream(TStream& stream) override;
    void AssignTo(TBitmap& dest) override;
    // The alpha blended over the colour; a clear palette entry or a colour key shows it instead.
    void AssignOver(TBitmap& dest, TColor background) override;
    void Assign(TGraphic* source) override;
    void Draw(TCanvas& canvas, const TRect& rect) override;
    bool Empty() const override { return !InUse() || InUse()->Empty(); }
    int Width() const override { return Empty() ? 0 : InUse()->Width(); }
    int Height() const override { return Empty() ? 0 : InUse()->Height(); }
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    void SetTransparent(bool value) override;

    // The bitmaps in use: the overrides when set (not owned), else the owned ones.
    TBitmap* InUse() const { return displayOverride_ ? displayOverride_ : Bitmap(); }
    TBitmap* AlphaInUse() const { return alphaOverride_ ? alphaOverride_ : alpha_.get(); }
    void SetDisplayOverride(TBitmap* bitmap);
    void SetAlphaOverride(TBitmap* bitmap) { alphaOverride_ = bitmap; }

    // What the last load found.
    bool HasAlpha() const { return hasAlpha_; }
    int BitDepth() const { return bitDepth_; }
    bool Grey() const { return grey_; }
    int InterlaceMethod() const { return interlace_; }
    TColor Background() const { return background_; }
    TColor TransparentColor() const { return transparentColor_; }
    const std::string& Comment() const { return comment_; }
    double Gamma() const { return gamma_; }
    uint32_t SignificantBits() const { return sigBits_; }
    uint8_t PhysicalUnit() const { return physUnit_; }
    uint32_t PhysicalX() const { return physX_; }
    uint32_t PhysicalY() const { return physY_; }
    const TPngTime& Time() const { return time_; }
    const TPngChromaticities& Chromaticities() const { return chromaticities_; }
    const TPngGifExtension& GifExtension() const { return gifExtension_; }

    // Options handed to the reader.
    bool SkipHeader = true;
    bool Use16BitOutput = false;
    std::string Key;
    TPngGetKeyEvent OnGetKey;
    TPngRowTransformEvent OnRowTransform;
    // Kept for the writer and copied by Assign: two option bytes and a size value.
    uint8_t Option1 = 1, Option2 = 1, Option3 = 1;
    int32_t BufferValue = 32768;

private:
    TBitmap* Shown() const override { return InUse(); }
    void SynchronizeTransparency();
    // Reads PNG into the bitmap in use (made anew when it was released) and takes over what the
    // reader found; the key and its events only when withKey.
    void Read(TStream& stream, bool withKey);

    std::unique_ptr<TBitmap> alpha_;
    TBitmap* alphaOverride_ = nullptr;
    TBitmap* displayOverride_ = nullptr;
    bool hasAlpha_ = false, grey_ = false, synchronizing_ = false;
    int bitDepth_ = 0, interlace_ = 0;
    TColor background_ = -1, transparentColor_ = -1;
    std::string comment_;
    double gamma_ = 0;
    uint32_t sigBits_ = 0, physX_ = 0, physY_ = 0;
    uint8_t physUnit_ = 0;
    TPngTime time_;
    TPngChromaticities chromaticities_;
    TPngGifExtension gifExtension_;
};

// Registers "png" with the PNG picture class.
void RegisterPngFormat();

} // namespace lumora
