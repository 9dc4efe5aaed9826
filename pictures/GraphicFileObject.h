#pragma once
// A picture that owns a bitmap and forwards the picture operations to it; the base of the PNG class.

#include <memory>

#include "framework/Graphics.h"

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

    // Hands the held bitmap to the caller, hooks cleared, and forgets it.
    std::unique_ptr<TBitmap> ReleaseBitmap();
    TBitmap* Bitmap() const { return bitmap_.get(); }

protected:
    // Frees the old bitmap, holds the new one with its change and progress routed to this picture.
    void SetBitmap(std::unique_ptr<TBitmap> bitmap);
    void Changed() {
        if (OnChange) OnChange();
    }

private:
    std::unique_ptr<TBitmap> bitmap_;
};

} // namespace lumora
