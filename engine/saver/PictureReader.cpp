#include "engine/saver/PictureReader.h"

#include <algorithm>
#include <new>

#include "engine/saver/Scaling.h"
#include "framework/JPEG.h"

namespace lumora {

const char* const kUnreadablePictureText = "画像が読めません。m(_ _)m";

std::unique_ptr<TBitmap> MakeUnreadableNotice() {
    auto bmp = std::make_unique<TBitmap>();
    bmp->SetPixelFormat(TPixelFormat::pf32bit);
    bmp->SetSize(400, 64);
    TCanvas& c = bmp->Canvas();
    c.Brush.Color = clNavy;
    c.Brush.Style = TBrushStyle::bsSolid;
    c.FillRect(TRect{0, 0, 400, 64});
    c.Brush.Style = TBrushStyle::bsClear;
    c.Font.Name = "ＭＳ Ｐゴシック";
    c.Font.Charset = 128;
    c.Font.SetSize(20);
    c.Font.Color = clRed;
    c.Font.Style = fsBold | fsItalic;
    c.TextOut(20, 20, kUnreadablePictureText);
    c.Brush.Style = TBrushStyle::bsSolid;
    return bmp;
}

namespace {
// Whatever the decoder raised (bad data, exhausted memory), or a picture of no pixels, the show
// goes on with the notice.
template <typename Load> std::unique_ptr<TBitmap> LoadOrNotice(Load load) {
    auto bmp = std::make_unique<TBitmap>();
    try {
        load(*bmp);
        bmp->SetPixelFormat(TPixelFormat::pf32bit);
        if (bmp->Width() <= 0 || bmp->Height() <= 0) throw EInvalidGraphic("Empty picture");
    } catch (...) {
        bmp = MakeUnreadableNotice();
    }
    return bmp;
}
} // namespace

std::unique_ptr<TBitmap> LoadPictureOrNotice(const std::string& fileName) {
    return LoadOrNotice([&](TBitmap& bmp) {
        TPicture picture;
        picture.LoadFromFile(fileName);
        // A decoded JPEG hands its pixels over instead of copying them: photographs of tens of
        // megapixels would otherwise spend most of their reading time in the copy.
        if (auto* jpeg = dynamic_cast<TJPEGImage*>(picture.Graphic())) bmp.TakeFrom(jpeg->Bitmap());
        else bmp.Assign(picture.Graphic());
    });
}

std::unique_ptr<TBitmap> DecodePictureOrNotice(const std::string& extension, TStream& stream) {
    return LoadOrNotice([&](TBitmap& bmp) {
        TGraphicFactory factory = FindGraphicClass(extension);
        if (!factory) throw EInvalidGraphic("Unknown picture file extension (." + extension + ")");
        std::unique_ptr<TGraphic> graphic = factory();
        graphic->LoadFromStream(stream);
        bmp.Assign(graphic.get());
    });
}

void ScaleForMonitor(std::unique_ptr<TBitmap>& bmp, const TImgReadSize& s) {
    if (!bmp || bmp->Width() <= 0 || bmp->Height() <= 0) return;
    const int64_t scale = s.PreviewScale;
    const bool preview = scale != 1000;
    auto scaled = [&](int64_t v) { return static_cast<int>(std::clamp<int64_t>(v * scale / 1000, 0, INT32_MAX)); };
    int limitX = s.SizeLimitX, limitY = s.SizeLimitY;
    switch (s.SizeMode) {
    case 0:
        if (preview)
            ResizeBitmap(std::max(1, scaled(bmp->Width())), std::max(1, scaled(bmp->Height())), s.Smooth, bmp);
        // Cut at the right and bottom; the bitmap keeps its top-left part.
        if (bmp->Width() > s.TargetWidth && s.TargetWidth >= 0) bmp->SetWidth(s.TargetWidth);
        if (bmp->Height() > s.TargetHeight && s.TargetHeight >= 0) bmp->SetHeight(s.TargetHeight);
        break;
    case 1:
        if (preview) {
            limitX = scaled(limitX);
            limitY = scaled(limitY);
        }
        if (std::min(s.TargetWidth, limitX) < bmp->Width() || std::min(s.TargetHeight, limitY) < bmp->Height())
            FitBitmap(std::min(s.TargetWidth, limitX), std::min(s.TargetHeight, limitY), s.Smooth, bmp);
        break;
    case 2:
        if (preview) {
            limitX = scaled(limitX);
            limitY = scaled(limitY);
        }
        FitBitmap(std::min(s.TargetWidth, limitX), std::min(s.TargetHeight, limitY), s.Smooth, bmp);
        break;
    default: break;
    }
}

TImgRead::TImgRead(bool createSuspended) : TThread(createSuspended) {}

TImgRead::~TImgRead() = default;

void TImgRead::Execute() {
    const std::string name = FileName;
    const TImgReadSize size = Size;
    // A shortcut whose target is gone arrives as an empty name: nothing is read and nothing is
    // handed over, so the picture on the window stays.
    if (name.empty()) return;
    std::unique_ptr<TBitmap> bmp = LoadPictureOrNotice(name);
    try {
        ScaleForMonitor(bmp, size);
    } catch (...) {
        // A scaled size beyond the pixel budget: the notice stands in, scaled the same way.
        bmp = MakeUnreadableNotice();
        try {
            ScaleForMonitor(bmp, size);
        } catch (...) {
        }
    }
    bitmap_ = std::move(bmp);
    Synchronize([this] { HandOver(); });
}

void TImgRead::HandOver() {
    auto bmp = std::move(bitmap_);
    if (cancelled_) return;
    handedOver_ = true;
    if (OnHandOver) OnHandOver(bmp ? std::move(bmp) : std::make_unique<TBitmap>());
}

} // namespace lumora
