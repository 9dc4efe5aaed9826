#include "pictures/png/PngImage.h"

#include <ctime>

namespace lumora {

TPngImage::TPngImage() : alpha_(std::make_unique<TBitmap>()) {
    SetBitmap(std::make_unique<TBitmap>());
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    time_.Year = static_cast<uint16_t>(utc.tm_year + 1900);
    time_.Month = static_cast<uint8_t>(utc.tm_mon + 1);
    time_.Day = static_cast<uint8_t>(utc.tm_mday);
    time_.Hour = static_cast<uint8_t>(utc.tm_hour);
    time_.Minute = static_cast<uint8_t>(utc.tm_min);
    time_.Second = static_cast<uint8_t>(utc.tm_sec);
}

TPngImage::~TPngImage() = default;

void TPngImage::LoadFromStream(TStream& stream) { Read(stream, true); }

void TPngImage::ReadData(TStream& stream) {
    Read(stream, false);
    Changed();
}

void TPngImage::Read(TStream& stream, bool withKey) {
    TPngReadStream reader;
    if (withKey) {
        reader.OnRowTransform = OnRowTransform;
        reader.OnGetKey = OnGetKey;
        reader.Key = Key;
    }
    reader.SkipHeader = SkipHeader;
    reader.Use16BitOutput = Use16BitOutput;
    reader.Time = &time_;
    reader.Chromaticities = &chromaticities_;
    reader.GifExtension = &gifExtension_;
    TBitmap* alpha = withKey ? AlphaInUse() : alpha_.get();
    alpha->Assign(static_cast<TGraphic*>(nullptr));
    reader.AlphaBitmap = alpha;

    // A released bitmap is replaced, so a picture whose bitmap was handed away loads again.
    if (!InUse()) SetBitmap(std::make_unique<TBitmap>());
    TBitmap* target = InUse();
    // Progress reaches this picture's owner while the load runs, on every path out of it.
    struct ProgressHook {
        TBitmap* bitmap;
        TProgressEvent saved;
        ~ProgressHook() { bitmap->OnProgress = std::move(saved); }
    } hook{target, target->OnProgress};
    target->OnProgress = [this](void*, TProgressStage stage, uint8_t percent, bool, const TRect&,
                                const std::string& msg) { Progress(stage, percent, msg); };
    reader.Load(*target, stream, 0);

    hasAlpha_ = reader.HasAlpha();
    comment_ = reader.Comment;
    background_ = reader.Background();
    transparentColor_ = reader.Transparent();
    interlace_ = reader.InterlaceMethod();
    gamma_ = reader.Gamma();
    physX_ = reader.PhysicalX();
    physY_ = reader.PhysicalY();
    physUnit_ = reader.PhysicalUnit();
    sigBits_ = reader.SignificantBits();
    bitDepth_ = reader.BitDepth();
    grey_ = reader.Grey();
    SynchronizeTransparency();
}

void TPngImage::SetPalette(const HPALETTE& palette) {
    if (InUse()) SetBitmapPalette(*InUse(), palette);
    Changed();
}

void TPngImage::LoadFromClipboardFormat(uint16_t format, const std::vector<uint8_t>* data) {
    displayOverride_ = nullptr;
    TGraphicFileObject::LoadFromClipboardFormat(format, data);
    SynchronizeTransparency();
}

void TPngImage::SaveToStream(TStream& stream) {
    if (Empty()) return;
    TPngWriteStream writer;
    writer.Grey = grey_;
    // The reader ends each comment it reads with a line break; that one is not part of the text,
    // so a loaded picture saved again keeps its comment as it was instead of growing by a line.
    writer.Comment = comment_;
    if (writer.Comment.size() >= 2 && writer.Comment.compare(writer.Comment.size() - 2, 2, "\r\n") == 0)
        writer.Comment.resize(writer.Comment.size() - 2);
    writer.Background = background_;
    writer.TransparentColor = transparentColor_;
    writer.Gamma = gamma_;
    writer.SignificantBits = sigBits_;
    writer.PhysicalUnit = physUnit_;
    writer.PhysicalX = physX_;
    writer.PhysicalY = physY_;
    writer.Time = &time_;
    writer.Chromaticities = &chromaticities_;
    writer.GifExtension = &gifExtension_;
    if (hasAlpha_) writer.AlphaBitmap = AlphaInUse();
    TBitmap* source = InUse();
    // Progress reaches this picture's owner while the save runs, on every path out of it.
    struct ProgressHook {
        TBitmap* bitmap;
        TProgressEvent saved;
        ~ProgressHook() { bitmap->OnProgress = std::move(saved); }
    } hook{source, source->OnProgress};
    source->OnProgress = [this](void*, TProgressStage stage, uint8_t percent, bool, const TRect&,
                                const std::string& msg) { Progress(stage, percent, msg); };
    writer.Save(*source, stream);
}

void TPngImage::AssignTo(TBitmap& dest) { dest.Assign(static_cast<TGraphic*>(InUse())); }

void TPngImage::Assign(TGraphic* source) {
    if (auto* png = dynamic_cast<TPngImage*>(source)) {
        if (png == this) return;
        if (!Bitmap()) SetBitmap(std::make_unique<TBitmap>());
        Bitmap()->Assign(static_cast<TGraphic*>(png->InUse()));
        alpha_->Assign(static_cast<TGraphic*>(png->AlphaInUse()));
        Option1 = png->Option1;
        Option2 = png->Option2;
        Option3 = png->Option3;
        BufferValue = png->BufferValue;
        hasAlpha_ = png->hasAlpha_;
        grey_ = png->grey_;
        bitDepth_ = png->bitDepth_;
        interlace_ = png->interlace_;
        background_ = png->background_;
        transparentColor_ = png->transparentColor_;
        comment_ = png->comment_;
        gamma_ = png->gamma_;
        sigBits_ = png->sigBits_;
        physX_ = png->physX_;
        physY_ = png->physY_;
        physUnit_ = png->physUnit_;
        time_ = png->time_;
        chromaticities_ = png->chromaticities_;
        gifExtension_ = png->gifExtension_;
        SkipHeader = png->SkipHeader;
        Use16BitOutput = png->Use16BitOutput;
        Key = png->Key;
        OnGetKey = png->OnGetKey;
        OnRowTransform = png->OnRowTransform;
        Changed();
    } else {
        TGraphicFileObject::Assign(source);
    }
    SynchronizeTransparency();
}

void TPngImage::Draw(TCanvas& canvas, const TRect& rect) {
    if (!Empty()) canvas.StretchDraw(rect, *InUse());
}

void TPngImage::SetWidth(int width) {
    if (!Empty()) InUse()->SetWidth(width);
    if (AlphaInUse() && !AlphaInUse()->Empty()) AlphaInUse()->SetWidth(width);
    Changed();
}

void TPngImage::SetHeight(int height) {
    if (!Empty()) InUse()->SetHeight(height);
    if (AlphaInUse() && !AlphaInUse()->Empty()) AlphaInUse()->SetHeight(height);
    Changed();
}

void TPngImage::SetTransparent(bool value) {
    if (!synchronizing_ && InUse() && InUse()->Transparent() != value) InUse()->SetTransparent(value);
    TGraphic::SetTransparent(value);
}

void TPngImage::SetDisplayOverride(TBitmap* bitmap) {
    displayOverride_ = bitmap;
    SynchronizeTransparency();
}

void TPngImage::SynchronizeTransparency() {
    synchronizing_ = true;
    bool bitmapValue = InUse() && InUse()->Transparent();
    if (Transparent() != bitmapValue) TGraphic::SetTransparent(bitmapValue);
    else Changed();
    synchronizing_ = false;
}

void TPngImage::AssignOver(TBitmap& dest, TColor background) {
    if (Empty()) {
        dest.Assign(this);
        return;
    }
    const TBitmap& shown = *InUse();
    // The alpha bitmap holds 255 minus each pixel's alpha.
    const TBitmap* mask = HasAlpha() ? AlphaInUse() : nullptr;
    if (mask && (mask->PixelFormat() != TPixelFormat::pf8bit || mask->Width() != shown.Width() ||
                 mask->Height() != shown.Height()))
        mask = nullptr;
    const TColor key = TransparentColor();
    const bool keyIndex = !mask && shown.Transparent() && key != kPngNoColor && (key & kPngPaletteIndex);
    // Straight to the 32 bits it is shown at, but for a clear palette entry, which is changed in the
    // palette first: a copy at the picture's own format would hold a large picture once more.
    if (keyIndex) dest.Assign(this);
    else dest.AssignAs(shown, TPixelFormat::pf32bit);
    if (mask) {
        BlendOverBackground(dest, *mask, background);
        return;
    }
    if (!shown.Transparent()) return;
    const TColor rgb = ColorToRGB(background);
    const uint32_t bg = ColorToPixel(rgb);
    if (keyIndex) {
        // One palette entry is clear: its index, not its colour (another entry may share that), is
        // the background wherever it is used.
        std::vector<TRGBQuad> palette = dest.Palette();
        const size_t index = key & 0xFF;
        if (index < palette.size()) {
            palette[index] = TRGBQuad{GetBValue(rgb), GetGValue(rgb), GetRValue(rgb), 0};
            dest.SetPalette(palette);
        }
        dest.SetPixelFormat(TPixelFormat::pf32bit);
    } else {
        dest.SetPixelFormat(TPixelFormat::pf32bit);
        const uint32_t keyPixel = ColorToPixel(shown.TransparentColor());
        for (int y = 0; y < dest.Height(); ++y) {
            uint32_t* row = dest.Row32(y);
            for (int x = 0; x < dest.Width(); ++x)
                if ((row[x] & 0xFFFFFF) == keyPixel) row[x] = bg;
        }
    }
    dest.SetTransparent(false);
}

void RegisterPngFormat() {
    RegisterFileFormat("PNG", "PNG Format", [] { return std::make_unique<TPngImage>(); });
}

} // namespace lumora
