#include "engine/saver/PictureReader.h"

#include <algorithm>
#include <new>
#include <optional>
#include <utility>

#include "engine/saver/Scaling.h"
#include "framework/JPEG.h"
#include "framework/SysUtils.h"

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

std::unique_ptr<TBitmap> LoadPictureOrNotice(const std::string& fileName, TColor background) {
    return LoadOrNotice([&](TBitmap& bmp) {
        TPicture picture;
        picture.LoadFromFile(fileName);
        // A decoded JPEG hands its pixels over instead of copying them: photographs of tens of
        // megapixels would otherwise spend most of their reading time in the copy.
        if (auto* jpeg = dynamic_cast<TJPEGImage*>(picture.Graphic())) bmp.TakeFrom(jpeg->Bitmap());
        else
            AssignOverBackground(bmp, picture.Graphic(), background);
    });
}

std::unique_ptr<TBitmap> DecodePictureOrNotice(const std::string& extension, TStream& stream,
                                               TColor background) {
    return LoadOrNotice([&](TBitmap& bmp) {
        TGraphicFactory factory = FindGraphicClass(extension);
        if (!factory) throw EInvalidGraphic("Unknown picture file extension (." + extension + ")");
        std::unique_ptr<TGraphic> graphic = factory();
        graphic->LoadFromStream(stream);
        AssignOverBackground(bmp, graphic.get(), background);
    });
}

namespace {
// Preview scaling of a size setting.
int Scaled(int v, const TImgReadSize& s) {
    return static_cast<int>(std::clamp<int64_t>(int64_t(v) * s.PreviewScale / 1000, 0, INT32_MAX));
}

// The box a w x h picture is fitted into by the fitting modes, or nothing when it stays as it is.
std::optional<std::pair<int, int>> FitBox(int w, int h, const TImgReadSize& s) {
    if (s.SizeMode != 1 && s.SizeMode != 2) return std::nullopt;
    const bool preview = s.PreviewScale != 1000;
    const int limitX = preview ? Scaled(s.SizeLimitX, s) : s.SizeLimitX;
    const int limitY = preview ? Scaled(s.SizeLimitY, s) : s.SizeLimitY;
    const int boxW = std::min(s.TargetWidth, limitX), boxH = std::min(s.TargetHeight, limitY);
    // Mode 1 only shrinks a picture too large for the box; mode 2 always fits.
    if (s.SizeMode == 1 && boxW >= w && boxH >= h) return std::nullopt;
    return std::pair{boxW, boxH};
}
} // namespace

void ScaleForMonitor(std::unique_ptr<TBitmap>& bmp, const TImgReadSize& s) {
    if (!bmp || bmp->Width() <= 0 || bmp->Height() <= 0) return;
    if (s.SizeMode == 0) {
        if (s.PreviewScale != 1000)
            ResizeBitmap(std::max(1, Scaled(bmp->Width(), s)), std::max(1, Scaled(bmp->Height(), s)), s.Smooth,
                         bmp);
        // Cut at the right and bottom; the bitmap keeps its top-left part.
        if (bmp->Width() > s.TargetWidth && s.TargetWidth >= 0) bmp->SetWidth(s.TargetWidth);
        if (bmp->Height() > s.TargetHeight && s.TargetHeight >= 0) bmp->SetHeight(s.TargetHeight);
    } else if (auto box = FitBox(bmp->Width(), bmp->Height(), s)) {
        FitBitmap(box->first, box->second, s.Smooth, bmp);
    }
}

namespace {
// A JPEG fitted while it decodes when the settings shrink it smoothly; otherwise the whole picture,
// for ScaleForMonitor. Either way it comes out upright, and it is fitted by its upright size.
class TFitOnArrival : public TJpegRowSink {
public:
    explicit TFitOnArrival(const TImgReadSize& size) : size_(size) {}
    void Begin(int width, int height, int orientation) override {
        orientation_ = orientation;
        const bool turned = OrientationTurn(orientation).transpose;
        if (size_.Smooth)
            if (auto box = FitBox(turned ? height : width, turned ? width : height, size_))
                fit_ = TRowFit::Plan(width, height, box->first, box->second, orientation);
        if (fit_) return;
        whole_ = std::make_unique<TBitmap>();
        whole_->SetPixelFormat(TPixelFormat::pf32bit);
        whole_->SetSize(width, height);
    }
    uint32_t* Row(int y) override { return fit_ ? fit_->SourceRow(y) : whole_->Row32(y); }
    void RowDone(int y) override {
        if (fit_) fit_->RowDone(y);
        else ClearSpareBytes(whole_->Row32(y), whole_->Width());
    }
    bool Fitted() const { return fit_ != nullptr; }
    std::unique_ptr<TBitmap> Result() {
        if (fit_) return fit_->Result();
        OrientUpright(*whole_, orientation_);
        return std::move(whole_);
    }

private:
    const TImgReadSize& size_;
    int orientation_ = 1;
    std::unique_ptr<TRowFit> fit_;
    std::unique_ptr<TBitmap> whole_;
};

bool IsJpegClass(const std::string& extension) {
    TGraphicFactory factory = FindGraphicClass(extension);
    return factory && dynamic_cast<TJPEGImage*>(factory().get()) != nullptr;
}

// Decodes a JPEG for the monitor into out; fitted tells whether it came out fitted or still wants
// scaling.
void ReadJpeg(TStream& stream, const TImgReadSize& size, TBitmap& out, bool& fitted) {
    TFitOnArrival sink(size);
    DecodeJpegRows(stream, sink);
    out.TakeFrom(*sink.Result());
    fitted = sink.Fitted();
}

// The scaling of a picture that did not come out fitted, with the notice (scaled the same way)
// for a size beyond the pixel budget.
std::unique_ptr<TBitmap> ScaledOrNotice(std::unique_ptr<TBitmap> bmp, const TImgReadSize& size) {
    try {
        ScaleForMonitor(bmp, size);
    } catch (...) {
        bmp = MakeUnreadableNotice();
        try {
            ScaleForMonitor(bmp, size);
        } catch (...) {
        }
    }
    return bmp;
}
} // namespace

std::unique_ptr<TBitmap> ReadPictureForMonitor(const std::string& fileName, const TImgReadSize& size) {
    if (!IsJpegClass(ExtractFileExt(fileName)))
        return ScaledOrNotice(LoadPictureOrNotice(fileName, size.Background), size);
    bool fitted = false;
    std::unique_ptr<TBitmap> bmp = LoadOrNotice([&](TBitmap& out) {
        TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
        ReadJpeg(stream, size, out, fitted);
    });
    return fitted ? std::move(bmp) : ScaledOrNotice(std::move(bmp), size);
}

std::unique_ptr<TBitmap> ReadPictureForMonitor(const std::string& extension, TStream& stream,
                                               const TImgReadSize& size) {
    if (!IsJpegClass(extension))
        return ScaledOrNotice(DecodePictureOrNotice(extension, stream, size.Background), size);
    bool fitted = false;
    std::unique_ptr<TBitmap> bmp = LoadOrNotice([&](TBitmap& out) { ReadJpeg(stream, size, out, fitted); });
    return fitted ? std::move(bmp) : ScaledOrNotice(std::move(bmp), size);
}

TImgRead::TImgRead(bool createSuspended) : TThread(createSuspended) {}

TImgRead::~TImgRead() = default;

void TImgRead::Execute() {
    const std::string name = FileName;
    const TImgReadSize size = Size;
    // A shortcut whose target is gone arrives as an empty name: nothing is read and nothing is
    // handed over, so the picture on the window stays.
    if (name.empty()) return;
    bitmap_ = ReadPictureForMonitor(name, size);
    Synchronize([this] { HandOver(); });
}

void TImgRead::HandOver() {
    auto bmp = std::move(bitmap_);
    if (cancelled_) return;
    handedOver_ = true;
    if (OnHandOver) OnHandOver(bmp ? std::move(bmp) : std::make_unique<TBitmap>());
}

} // namespace lumora
