#include "pictures/png/GraphicFileObject.h"

#include "framework/Clipboard.h"

namespace lumora {

void TGraphicFileObject::AssignTo(TBitmap& dest) { dest.Assign(static_cast<TGraphic*>(bitmap_.get())); }

void TGraphicFileObject::Assign(TGraphic* source) {
    if (!source) return;
    if (!bitmap_) SetBitmap(std::make_unique<TBitmap>());
    if (auto* other = dynamic_cast<TGraphicFileObject*>(source)) {
        bitmap_->Assign(static_cast<TGraphic*>(other->bitmap_.get()));
    } else {
        bitmap_->Assign(source);
    }
    Changed();
}

void TGraphicFileObject::Draw(TCanvas& canvas, const TRect& rect) {
    if (!Empty()) canvas.StretchDraw(rect, *bitmap_);
}

void TGraphicFileObject::SetWidth(int width) {
    if (!Empty()) bitmap_->SetWidth(width);
}

void TGraphicFileObject::SetHeight(int height) {
    if (!Empty()) bitmap_->SetHeight(height);
}

void TGraphicFileObject::SetTransparent(bool value) {
    if (bitmap_) bitmap_->SetTransparent(value);
    TGraphic::SetTransparent(value);
}

void TGraphicFileObject::LoadFromStream(TStream& stream) {
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->LoadFromStream(stream);
    SetBitmap(std::move(bitmap));
}

void TGraphicFileObject::SaveToStream(TStream& stream) {
    if (!Empty()) bitmap_->SaveToStream(stream);
}

HPALETTE TGraphicFileObject::GetPalette() const { return Shown() ? PaletteOfBitmap(*Shown()) : nullptr; }

void TGraphicFileObject::SetPalette(const HPALETTE& palette) {
    if (!bitmap_) return;
    SetBitmapPalette(*bitmap_, palette);
    Changed();
}

void TGraphicFileObject::LoadFromClipboardFormat(uint16_t format, const std::vector<uint8_t>* data) {
    if (format != CF_BITMAP) throw EInvalidGraphic("Unsupported clipboard format");
    auto bitmap = std::make_unique<TBitmap>();
    if (data) {
        TMemoryStream stream(*data);
        bitmap->LoadFromStream(stream);
    } else if (!Clipboard().GetBitmap(*bitmap)) {
        throw EInvalidGraphic("Unsupported clipboard format");
    }
    SetBitmap(std::move(bitmap));
}

void TGraphicFileObject::SaveToClipboardFormat(uint16_t& format, std::vector<uint8_t>& data) {
    format = CF_BITMAP;
    data.clear();
    if (Empty()) return;
    TMemoryStream stream;
    Shown()->SaveToStream(stream);
    data = stream.Bytes();
}

std::unique_ptr<TBitmap> TGraphicFileObject::ReleaseBitmap() {
    if (bitmap_) {
        bitmap_->OnChange = nullptr;
        bitmap_->OnProgress = nullptr;
    }
    return std::move(bitmap_);
}

void TGraphicFileObject::SetBitmap(std::unique_ptr<TBitmap> bitmap) {
    bitmap_ = std::move(bitmap);
    if (bitmap_) {
        bitmap_->OnChange = [this] { Changed(); };
        bitmap_->OnProgress = [this](void*, TProgressStage stage, uint8_t percent, bool, const TRect&,
                                     const std::string& msg) { Progress(stage, percent, msg); };
    }
    Changed();
}

} // namespace lumora
