#pragma once
// A picture that owns a bitmap and forwards the picture operations to it; the base of the PNG class.

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/Graphics.h"
#include "pictures/common/PaletteRoutines.h"

namespace lumora {

class TGraphicFileObject : public TGraphic {
public:
    TGraphicFileObject() = default;
    ~TGraphicFileObject() override = default;

    void AssignTo(TBitmap& dest) override;
    // From another file object its bitmap is copied; any other picture is drawn into the held bitmap.
    virtual void Assign(TGraphic* source);
    void Draw(TCanvas& canvas, const TRect& rect) override;
    bool Empty() const override { return !bitmap_ || bitmap_->Empty(); }
    int Width() const override { return Empty() ? 0 : bitmap_->Width(); }
    int Height() const override { return Empty() ? 0 : bitmap_->Height(); }
    virtual void SetWidth(int width);
    virtual void SetHeight(int height);
    void SetTransparent(bool value) override;
    // Reads a bitmap (BMP) and adopts it.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;
    // The picture's data as a stored property holds it: the picture's own format.
    virtual void ReadData(TStream& stream) { LoadFromStream(stream); }
    virtual void WriteData(TStream& stream) { SaveToStream(stream); }
    // The shown bitmap's palette; none without a bitmap or palette.
    virtual HPALETTE GetPalette() const;
    virtual void SetPalette(const HPALETTE& palette);
    // The clipboard carries the picture as a bitmap (CF_BITMAP, BMP bytes). Without data the
    // clipboard's own bitmap is read. Throws EInvalidGraphic for any other format or no bitmap.
    virtual void LoadFromClipboardFormat(uint16_t format, const std::vector<uint8_t>* data);
    virtual void SaveToClipboardFormat(uint16_t& format, std::vector<uint8_t>& data);

    // Hands the held bitmap to the caller, hooks cleared, and forgets it.
    std::unique_ptr<TBitmap> ReleaseBitmap();
    TBitmap* Bitmap() const { return bitmap_.get(); }

protected:
    // The bitmap the picture shows: the held one, unless a subclass shows another in its place.
    virtual TBitmap* Shown() const { return bitmap_.get(); }
    // Frees the old bitmap, holds the new one with its change and progress routed to this picture.
    void SetBitmap(std::unique_ptr<TBitmap> bitmap);
    void Changed() {
        if (OnChange) OnChange();
    }

private:
    std::unique_ptr<TBitmap> bitmap_;
};

} // namespace lumora
