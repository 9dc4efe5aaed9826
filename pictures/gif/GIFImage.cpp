#include "pictures/gif/GIFImage.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "framework/Checked.h"
#include "framework/Clipboard.h"
#include "platform/system/Clock.h"
#include "pictures/gif/GIFQuantize.h"

namespace lumora {

bool GIFImageOptimizeOnSave = false;

namespace {

int g_paletteDisplay = -1; // -1: not decided yet
uint16_t g_clipboardFormat = 0;

bool SamePalette(const HPALETTE& a, const HPALETTE& b) {
    if (a == b) return true;
    if (!a || !b || a->Entries.size() != b->Entries.size()) return false;
    for (size_t i = 0; i < a->Entries.size(); ++i)
        if (a->Entries[i].peRed != b->Entries[i].peRed || a->Entries[i].peGreen != b->Entries[i].peGreen ||
            a->Entries[i].peBlue != b->Entries[i].peBlue)
            return false;
    return true;
}

std::vector<TRGBQuad> QuadsOf(const HPALETTE& palette) {
    std::vector<TRGBQuad> quads;
    if (palette)
        for (const TPaletteEntry& e : palette->Entries) quads.push_back(TRGBQuad{e.peBlue, e.peGreen, e.peRed, 0});
    return quads;
}

// Runs the synchronised calls of painter threads while the main thread waits for them.
void PumpPainterCalls() {
    CheckSynchronize(1);
    std::this_thread::yield();
}

} // namespace

bool GIFPaletteDisplay() {
    if (g_paletteDisplay < 0) {
        const TDisplayFacts& d = DisplayFacts();
        g_paletteDisplay = d.BitsPerPixel * d.Planes <= 8 ? 1 : 0;
    }
    return g_paletteDisplay == 1;
}

void SetGIFPaletteDisplay(bool paletteDisplay) { g_paletteDisplay = paletteDisplay ? 1 : 0; }

uint16_t CF_GIF() {
    if (g_clipboardFormat == 0) g_clipboardFormat = RegisterClipboardFormat("GIF Image");
    return g_clipboardFormat;
}

void RegisterGifImageFormat() {
    RegisterFileFormat("GIF", "GIF Image", [] { return std::make_unique<TGIFImage>(); });
    CF_GIF();
    const TDisplayFacts& d = DisplayFacts();
    SetGIFPaletteDisplay(d.BitsPerPixel * d.Planes <= 8);
}

// ---- life ----

TGIFImage::TGIFImage() : images_(this), header_(this) { Clear(); }

TGIFImage::~TGIFImage() {
    StopAllPainters();
    {
        std::lock_guard lock(paintersMutex_);
        for (TGIFPainter* p : painters_) p->DetachImage();
        painters_.clear();
    }
    painter_ = nullptr;
    images_.Clear();
    header_.Clear();
}

void TGIFImage::Clear() {
    StopAllPainters();
    FreeBitmap();
    images_.Clear();
    header_.Clear();
    globalPalette_.reset();
    stillPalette_.reset();
    chargedPixels_ = 0;
}

void TGIFImage::Changed() {
    if (OnChange) OnChange();
}

void TGIFImage::Warning(const void* sender, int severity, const std::string& message) {
    if (OnWarning) OnWarning(sender, severity, message);
}

void TGIFImage::ChargePixels(int64_t pixels) {
    // Decoded frames hold a byte per pixel; together they may use what the largest allowed 32-bit
    // bitmap would, so many large frames with little data cannot exhaust memory.
    const auto total = CheckedAdd(chargedPixels_, pixels);
    const auto limit = CheckedMul(PixelBudget(), 4);
    if (!total || !limit || *total > *limit) throw EOutOfMemory("Out of memory: GIF frames exceed the pixel budget");
    chargedPixels_ = *total;
}

bool TGIFImage::DoDither() const {
    return (DrawOptions & drWebPalette) && (!(DrawOptions & drWebPaletteOnPaletteDisplay) || GIFPaletteDisplay());
}

TColor TGIFImage::ResolvedBackgroundColor() {
    if (BackgroundColor != clNone) return ColorToRGB(BackgroundColor);
    if (header_.ColorMap().Count() > 0) return header_.BackgroundColor();
    return ColorToRGB(clWindow);
}

// ---- loading and saving ----

void TGIFImage::LoadFromStream(TStream& stream) {
    Progress(0, 0, "Loading...");
    Clear();
    const int64_t start = stream.Position();
    try {
        header_.LoadFromStream(stream);
        // The picture shown is the logical screen. Outside its frames it is background, which takes no
        // bytes of the file, so only the pixel budget bounds it, as it bounds a picture of any format;
        // each frame is bounded by what its own data could fill.
        if (Width() > 0 && Height() > 0 && !FitsPixelBudget(Width(), Height()))
            throw EOutOfMemory("Out of memory: logical screen of " + std::to_string(Width()) + "x" +
                               std::to_string(Height()));
        images_.LoadFromStream(stream, this);
        TGIFTrailer trailer(this);
        trailer.LoadFromStream(stream);
    } catch (...) {
        stream.SetPosition(start);
        Progress(2, 0, "Loading...");
        throw;
    }
    Progress(2, 100, "Loading...");
}

void TGIFImage::SaveToStream(TStream& stream) {
    Progress(0, 0, "Saving...");
    try {
        header_.SaveToStream(stream);
        for (int i = 0; i < images_.Count(); ++i) {
            images_[i]->SaveToStream(stream);
            Progress(1, static_cast<uint8_t>((i + 1) * 100 / images_.Count()), "Saving...");
        }
        TGIFTrailer trailer(this);
        trailer.SaveToStream(stream);
    } catch (...) {
        Progress(2, 0, "Saving...");
        throw;
    }
    Progress(2, 100, "Saving...");
}

void TGIFImage::WriteData(TStream& stream) {
    if (GIFImageOptimizeOnSave) Optimize(ooCrop | ooMerge | ooCleanup | ooColorMap | ooReduceColors, rmNone, dmNearest, 8);
    SaveToStream(stream);
}

// ---- size and palette ----

void TGIFImage::SetWidth(int width) {
    for (int i = 0; i < images_.Count(); ++i)
        if (images_[i]->Left() + images_[i]->Width() > width)
            throw GIFException("Image width too small for contained frames");
    if (width == header_.Width()) return;
    header_.SetWidth(width);
    FreeBitmap();
    Changed();
}

void TGIFImage::SetHeight(int height) {
    for (int i = 0; i < images_.Count(); ++i)
        if (images_[i]->Top() + images_[i]->Height() > height)
            throw GIFException("Image height too small for contained frames");
    if (height == header_.Height()) return;
    header_.SetHeight(height);
    FreeBitmap();
    Changed();
}

HPALETTE TGIFImage::GetPalette() {
    // Asked again while it is being found: neither a global nor a local colour map exists.
    if (paletteBusy_) throw GIFException("No global or local color table defined");
    paletteBusy_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{paletteBusy_};
    if (bitmap_ && stillPalette_) return stillPalette_;
    if (globalPalette_) return globalPalette_;
    if (DoDither()) {
        globalPalette_ = WebPalette();
        return globalPalette_;
    }
    if (header_.ColorMap().Count() > 0) {
        globalPalette_ = header_.ColorMap().ExportPalette();
        return globalPalette_;
    }
    if (images_.Count() > 0) return images_[0]->GetPalette();
    return nullptr;
}

void TGIFImage::SetPalette(HPALETTE palette) {
    if (palette == globalPalette_) return;
    globalPalette_ = std::move(palette);
    if (bitmap_ && !SamePalette(stillPalette_, globalPalette_)) {
        FreeBitmap();
        paletteModified_ = true;
        Changed();
    }
}

// ---- still bitmap ----

TBitmap* TGIFImage::Bitmap() {
    if (Empty()) return nullptr;
    if (bitmap_) return bitmap_.get();
    auto bitmap = std::make_unique<TBitmap>();
    TGIFSubImage& first = *images_[0];
    HPALETTE palette;
    if (first.Width() == Width() && first.Height() == Height()) {
        bitmap->Assign(first.Bitmap());
        palette = first.GetPalette();
    } else {
        palette = GetPalette();
        // A first frame with colours of its own keeps them exactly: the canvas then holds true colour.
        const bool indexed = SamePalette(palette, first.GetPalette());
        bitmap->SetPixelFormat(indexed ? TPixelFormat::pf8bit : TPixelFormat::pf32bit);
        if (indexed) bitmap->SetPalette(QuadsOf(palette));
        bitmap->SetSize(Width(), Height());
        if (!indexed && palette && !palette->Entries.empty()) {
            const TPaletteEntry& e = palette->Entries[0];
            bitmap->Canvas().Brush.Color = RGB(e.peRed, e.peGreen, e.peBlue);
            bitmap->Canvas().FillRect(TRect{0, 0, Width(), Height()});
        }
        first.Draw(bitmap->Canvas(), TRect{0, 0, Width(), Height()}, false, false);
    }
    bitmap->OnChange = [this] { Changed(); };
    bitmap_ = std::move(bitmap);
    stillPalette_ = palette;
    return bitmap_.get();
}

void TGIFImage::AssignTo(TBitmap& dest) {
    TBitmap* still = Bitmap();
    if (still) dest.Assign(*still);
    else dest.Assign(static_cast<TGraphic*>(nullptr));
}

void TGIFImage::AssignOver(TBitmap& dest, TColor background) {
    if (!Empty() && !images_[0]->Empty() && !DoDither()) {
        const TGIFSubImage& first = *images_[0];
        // A first frame of the screen's size fills the still bitmap even where it says it stands
        // elsewhere; that rare frame takes the still bitmap's way.
        const bool screenSized = first.Width() == Width() && first.Height() == Height();
        if (!screenSized || (first.Left() == 0 && first.Top() == 0)) {
            LayFirstFrame(dest, background);
            return;
        }
    }
    AssignTo(dest);
    if (dest.Empty()) return;
    const TGIFSubImage& first = *images_[0];
    const TRect frame = IntersectRect(first.BoundsRect(), TRect{0, 0, dest.Width(), dest.Height()});
    const int index = first.TransparentIndex();
    if (index < 0 && frame == TRect{0, 0, dest.Width(), dest.Height()}) return;
    TBitmap clearness(dest.Width(), dest.Height(), TPixelFormat::pf8bit);
    for (int y = 0; y < dest.Height(); ++y) {
        auto* clear = static_cast<uint8_t*>(clearness.ScanLine(y));
        std::memset(clear, 255, static_cast<size_t>(dest.Width()));
        if (y < frame.Top || y >= frame.Bottom) continue;
        const uint8_t* pixels = first.Data() + static_cast<size_t>(y - first.Top()) * first.Width();
        for (int x = frame.Left; x < frame.Right; ++x)
            clear[x] = pixels[x - first.Left()] == index ? 255 : 0;
    }
    BlendOverBackground(dest, clearness, background);
}

void TGIFImage::LayFirstFrame(TBitmap& dest, TColor background) {
    // Straight into 32-bit rows: the still bitmap, the frame's rendering and a copy of either would
    // each hold the picture once more.
    TGIFSubImage& first = *images_[0];
    uint32_t colours[256] = {};
    const HPALETTE palette = first.GetPalette();
    if (palette)
        for (size_t i = 0; i < palette->Entries.size() && i < 256; ++i) {
            const TPaletteEntry& e = palette->Entries[i];
            colours[i] = e.peBlue | (e.peGreen << 8) | (e.peRed << 16);
        }
    const uint32_t under = ColorToPixel(background);
    const int transparent = first.TransparentIndex();
    if (transparent >= 0) colours[transparent] = under;
    const int width = Width(), height = Height();
    const TRect frame = IntersectRect(first.BoundsRect(), TRect{0, 0, width, height});
    dest.Assign(static_cast<TGraphic*>(nullptr));
    dest.SetPixelFormat(TPixelFormat::pf32bit);
    dest.SetSizeForOverwrite(width, height);
    for (int y = 0; y < height; ++y) {
        uint32_t* row = dest.Row32(y);
        if (y < frame.Top || y >= frame.Bottom || frame.IsEmpty()) {
            std::fill(row, row + width, under);
            continue;
        }
        std::fill(row, row + frame.Left, under);
        const uint8_t* pixels = first.Data() + static_cast<size_t>(y - first.Top()) * first.Width();
        for (int x = frame.Left; x < frame.Right; ++x) row[x] = colours[pixels[x - first.Left()]];
        std::fill(row + frame.Right, row + width, under);
    }
    dest.SetTransparent(false);
}

void TGIFImage::FreeBitmap() {
    {
        std::lock_guard lock(paintersMutex_);
        if (painter_) painter_->Stop();
    }
    bitmap_.reset();
    stillPalette_.reset();
}

// ---- drawing ----

void TGIFImage::PaintBackBuffer(TCanvas& canvas, const TRect& rect) {
    if (!bitmap_) return;
    const TRect source{0, 0, bitmap_->Width(), bitmap_->Height()};
    if (!(DrawOptions & drTile) || Width() <= 0 || Height() <= 0) {
        canvas.CopyRect(rect, bitmap_->Canvas(), source);
        return;
    }
    const TRect clip = IntersectRect(rect, canvas.ClipRect());
    for (int64_t y = rect.Top; y < clip.Bottom; y += Height())
        for (int64_t x = rect.Left; x < clip.Right; x += Width())
            canvas.CopyRect(TRect{static_cast<int>(x), static_cast<int>(y), static_cast<int>(x + Width()),
                                  static_cast<int>(y + Height())},
                            bitmap_->Canvas(), source);
}

void TGIFImage::Draw(TCanvas& canvas, const TRect& rect) {
    if (drawing_ || Empty()) return;
    drawing_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{drawing_};
    if (images_.Count() == 1 || !(DrawOptions & drAnimate)) {
        images_[0]->Draw(canvas, rect, DrawOptions & drTransparent, DrawOptions & drTile);
        return;
    }
    if (bitmap_ && !(DrawOptions & drDirectDraw)) {
        PaintBackBuffer(canvas, rect);
        return;
    }
    std::unique_lock lock(paintersMutex_);
    if (painter_ && &painter_->Canvas() == &canvas && painter_->Rect() == rect) return;
    lock.unlock();
    StopPainter();
    lock.lock();
    TCanvas* target = &canvas;
    TRect targetRect = rect;
    if (!(DrawOptions & drDirectDraw)) {
        // The painter composes on a back buffer of the logical screen's size, starting from what the
        // caller's canvas shows there.
        bitmap_ = std::make_unique<TBitmap>(Width(), Height(), TPixelFormat::pf32bit);
        stillPalette_.reset();
        bitmap_->Canvas().CopyRect(bitmap_->Canvas().ClipRect(), canvas, rect);
        // Each frame the painter puts on the back buffer tells the image's holder to draw again.
        bitmap_->OnChange = [this] { Changed(); };
        target = &bitmap_->Canvas();
        targetRect = TRect{0, 0, Width(), Height()};
    }
    TGIFPainter* painter = nullptr;
    if (!targetRect.IsEmpty()) {
        TGIFDrawOptions options = DrawOptions;
        if (images_.Count() == 1) options &= ~(drThreaded | drAnimate);
        painter = new TGIFPainter(&painter_, options, targetRect, *target, this);
        painters_.push_back(painter);
        painter->OnPaintStart = OnPaintStart;
        painter->OnFramePaint = OnFramePaint;
        painter->OnFramePainted = OnFramePainted;
        painter->OnLoopRestart = OnLoopRestart;
        painter->OnPaintEnd = OnPaintEnd;
        if (options & drThreaded) {
            painter->Priority = ThreadPriority;
        } else {
            lock.unlock();
            painter->Run(); // plays to the end and frees itself
            lock.lock();
            painter = nullptr;
            painter_ = nullptr;
        }
    }
    if (!painter) {
        painter_ = nullptr;
        if (!(DrawOptions & drDirectDraw)) PaintBackBuffer(canvas, rect);
        return;
    }
    painter->Run();
    if (!(DrawOptions & drDirectDraw)) {
        lock.unlock();
        // Wait for the first frame; the painter paints through calls this thread runs meanwhile.
        for (;;) {
            {
                std::lock_guard guard(paintersMutex_);
                if (painter_ != painter || painter->Started() || painter->Terminated()) break;
            }
            if (Application().Terminated()) break;
            PumpPainterCalls();
        }
        PaintBackBuffer(canvas, rect);
    }
}

void TGIFImage::StopPainter() {
    for (;;) {
        {
            std::lock_guard lock(paintersMutex_);
            TGIFPainter* p = painter_;
            if (!p) break;
            p->Stop();
            if (!p->Threaded()) break;
            // The program is quitting: nobody waits for painters any more.
            if (Application().Terminated()) break;
        }
        PumpPainterCalls();
    }
    bitmap_.reset();
    stillPalette_.reset();
}

void TGIFImage::StopAllPainters() {
    for (;;) {
        {
            std::lock_guard lock(paintersMutex_);
            int threaded = 0;
            for (TGIFPainter* p : painters_) {
                p->Stop();
                if (p->Threaded()) ++threaded;
            }
            if (threaded == 0) break;
            if (Application().Terminated()) {
                // Quitting: the threaded painters are let go at once. Stopped and cut off from the
                // image, each ends by itself without touching it.
                for (TGIFPainter* p : painters_)
                    if (p->Threaded()) p->DetachImage();
                std::erase_if(painters_, [](TGIFPainter* p) { return p->Threaded(); });
                if (painter_ && painter_->Threaded()) painter_ = nullptr;
                break;
            }
        }
        PumpPainterCalls();
    }
    bitmap_.reset();
    stillPalette_.reset();
}

void TGIFImage::SetAnimationSpeed(int speed) {
    speed = std::clamp(speed, 0, 1000);
    if (speed == animationSpeed_) return;
    animationSpeed_ = speed;
    std::lock_guard lock(paintersMutex_);
    if (painter_) painter_->SetAnimationSpeed(speed);
}

// ---- assigning and adding ----

void TGIFImage::Assign(TGraphic* source) {
    if (source == this) return;
    if (!source) {
        Clear();
        return;
    }
    if (auto* gif = dynamic_cast<TGIFImage*>(source)) {
        CopyFrom(*gif);
        return;
    }
    Clear();
    Add(source);
}

int TGIFImage::Add(TGraphic* source) {
    if (!source) throw GIFException("Object type not supported for operation");
    auto frame = std::make_unique<TGIFSubImage>(this);
    frame->Assign(source);
    return Add(std::move(frame));
}

int TGIFImage::Add(std::unique_ptr<TGIFSubImage> frame) {
    if (!frame) throw GIFException("Object type not supported for operation");
    const int index = images_.Add(std::move(frame));
    FreeBitmap();
    Changed();
    return index;
}

void TGIFImage::CopyFrom(TGIFImage& source) {
    Clear();
    // The copy reports through the source's handlers while it runs.
    OnProgress = source.OnProgress;
    OnWarning = source.OnWarning;
    try {
        Progress(0, 0, "Copying...");
        header_.Assign(source.header_);
        ThreadPriority = source.ThreadPriority;
        BackgroundColor = source.BackgroundColor;
        DrawOptions = source.DrawOptions;
        ColorReduction = source.ColorReduction;
        DitherMode = source.DitherMode;
        for (int i = 0; i < source.images_.Count(); ++i) {
            auto frame = std::make_unique<TGIFSubImage>(this);
            frame->Assign(*source.images_[i]);
            Add(std::move(frame));
            Progress(1, static_cast<uint8_t>((i + 1) * 100 / source.images_.Count()), "Copying...");
        }
        Progress(2, 100, "Copying...");
    } catch (...) {
        Progress(2, 0, "Copying...");
        OnProgress = nullptr;
        OnWarning = nullptr;
        throw;
    }
    OnProgress = nullptr;
    OnWarning = nullptr;
}

// ---- clipboard ----

void TGIFImage::LoadFromClipboardFormat(uint16_t format, const std::vector<uint8_t>* data) {
    std::vector<uint8_t> fetched;
    if (!data) {
        if (format == CF_BITMAP) {
            TBitmap bitmap;
            if (!Clipboard().GetBitmap(bitmap)) throw GIFException("未対応のクリップボード データです");
            Assign(&bitmap);
            return;
        }
        if (!Clipboard().GetData(format, fetched)) throw GIFException("未対応のクリップボード データです");
        data = &fetched;
    }
    if (format == CF_GIF()) {
        TMemoryStream stream(*data);
        LoadFromStream(stream);
        return;
    }
    if (format == CF_BITMAP) {
        TMemoryStream stream(*data);
        TBitmap bitmap;
        bitmap.LoadFromStream(stream);
        Assign(&bitmap);
        return;
    }
    throw GIFException("未対応のクリップボード データです");
}

void TGIFImage::SaveToClipboardFormat(uint16_t& format, std::vector<uint8_t>& data) {
    if (Empty()) return;
    TBitmap* still = Bitmap();
    TMemoryStream bitmapBytes;
    TBitmap copy;
    copy.Assign(*still);
    copy.SaveToStream(bitmapBytes);
    format = CF_BITMAP;
    data = bitmapBytes.Bytes();
    TMemoryStream gif;
    SaveToStream(gif);
    if (!Clipboard().SetData(CF_GIF(), gif.Bytes())) throw GIFException("Failed to store GIF on clipboard");
}

// ---- optimising ----

void TGIFImage::Optimize(uint8_t options, uint8_t colorReduction, uint8_t, int) {
    if (Empty()) return;
    StopAllPainters();
    const int steps = std::max(1, images_.Count() * 5);
    int step = 0;
    auto progress = [&] {
        ++step;
        Progress(1, static_cast<uint8_t>(std::min(100, step * 100 / steps)), "Optimizing...");
    };
    Progress(0, 0, "Optimizing...");
    try {
        if (options & ooColorMap) {
            if (header_.ColorMap().Count() > 0) header_.ColorMap().Optimize();
            for (int i = 0; i < images_.Count(); ++i) {
                if (images_[i]->ColorMap().Count() > 0) images_[i]->ColorMap().Optimize();
                progress();
            }
        }
        if (options & ooCleanup) {
            // Transparency that no pixel uses is dropped.
            for (int i = 0; i < images_.Count(); ++i) {
                TGIFSubImage& f = *images_[i];
                const int t = f.TransparentIndex();
                if (t >= 0 && std::find(f.Data(), f.Data() + f.DataSize(), static_cast<uint8_t>(t)) == f.Data() + f.DataSize())
                    f.GraphicControlExtension()->SetTransparent(false);
                progress();
            }
            // A frame restored after it is shown needs no restoring when the next, opaque frame covers
            // it whole: nothing of the restored area stays visible. Unless that frame restores what
            // was there before it: that is this frame's restored area again.
            for (int i = 0; i + 1 < images_.Count(); ++i) {
                TGIFSubImage& f = *images_[i];
                TGIFSubImage& next = *images_[i + 1];
                TGIFGraphicControlExtension* gce = f.GraphicControlExtension();
                if (!gce || (gce->Disposal() != 2 && gce->Disposal() != 3) || next.Transparent()) continue;
                if (next.GraphicControlExtension() && next.GraphicControlExtension()->Disposal() == 3) continue;
                const TRect a = f.BoundsRect(), b = next.BoundsRect();
                if (b.Left <= a.Left && b.Top <= a.Top && b.Right >= a.Right && b.Bottom >= a.Bottom)
                    gce->SetDisposal(1);
            }
        }
        if (options & ooMerge) {
            for (int i = images_.Count() - 1; i >= 1; --i) {
                int previous = i - 1;
                while (previous > 0 && images_[previous]->GraphicControlExtension() &&
                       images_[previous]->GraphicControlExtension()->Disposal() == 3)
                    --previous;
                TGIFSubImage& later = *images_[i];
                TGIFSubImage& earlier = *images_[previous];
                progress();
                if (later.Empty() || earlier.Empty()) continue;
                if (earlier.GraphicControlExtension() && earlier.GraphicControlExtension()->Disposal() >= 2) continue;
                const TRect overlap = IntersectRect(later.BoundsRect(), earlier.BoundsRect());
                if (overlap.IsEmpty()) continue;
                TGIFColorMap& laterMap = later.ActiveColorMap();
                TGIFColorMap& earlierMap = earlier.ActiveColorMap();
                const bool sameMap = &laterMap == &earlierMap;
                int transparent = later.TransparentIndex();
                // A transparent index past the end of the map cannot be written as a pixel.
                if (transparent >= laterMap.Count()) continue;
                const int earlierTransparent = earlier.TransparentIndex();
                bool changed = false;
                for (int y = overlap.Top; y < overlap.Bottom; ++y)
                    for (int x = overlap.Left; x < overlap.Right; ++x) {
                        uint8_t& lp = later.Scanline(y - later.Top())[x - later.Left()];
                        const uint8_t ep = earlier.Scanline(y - earlier.Top())[x - earlier.Left()];
                        if (lp == transparent || ep == earlierTransparent) continue;
                        bool same = sameMap ? lp == ep
                                            : (lp < laterMap.Count() && ep < earlierMap.Count() &&
                                               laterMap.Entry(lp) == earlierMap.Entry(ep));
                        if (!same) continue;
                        if (transparent < 0) {
                            if (laterMap.Count() >= 256) goto nextFrame;
                            // Another frame's transparent index serves only when it lies in the map and
                            // none of this frame's own pixels use it: they would vanish.
                            const uint8_t* const data = later.Data();
                            const uint8_t* const dataEnd = data + later.DataSize();
                            transparent = -1;
                            if (&laterMap == &header_.ColorMap())
                                for (int k = 0; k < images_.Count() && transparent < 0; ++k)
                                    if (k != i && &images_[k]->ActiveColorMap() == &laterMap) {
                                        transparent = images_[k]->TransparentIndex();
                                        if (transparent >= laterMap.Count() ||
                                            std::find(data, dataEnd, static_cast<uint8_t>(transparent)) != dataEnd)
                                            transparent = -1;
                                    }
                            if (transparent < 0) transparent = laterMap.Add(clBlack);
                            TGIFGraphicControlExtension* gce = later.GraphicControlExtension();
                            if (!gce) {
                                auto made = std::make_unique<TGIFGraphicControlExtension>(&later);
                                gce = made.get();
                                later.Extensions().Add(std::move(made));
                            }
                            gce->SetTransparentColorIndex(static_cast<uint8_t>(transparent));
                            gce->SetTransparent(true);
                        }
                        lp = static_cast<uint8_t>(transparent);
                        changed = true;
                    }
                if (changed) later.PixelsChanged();
            nextFrame:;
            }
        }
        if (options & ooCrop) {
            for (int i = images_.Count() - 1; i >= 0; --i) {
                TGIFSubImage& f = *images_[i];
                const int t = f.TransparentIndex();
                progress();
                if (t < 0 || f.Empty()) continue;
                // The area cleared after a frame restored to the background is the whole frame, its
                // transparent pixels too: cropping or dropping it would change what later frames show.
                if (f.GraphicControlExtension()->Disposal() == 2) continue;
                int x0 = f.Width(), y0 = f.Height(), x1 = -1, y1 = -1;
                for (int y = 0; y < f.Height(); ++y) {
                    const uint8_t* row = f.Scanline(y);
                    for (int x = 0; x < f.Width(); ++x)
                        if (row[x] != t) {
                            x0 = std::min(x0, x);
                            x1 = std::max(x1, x);
                            y0 = std::min(y0, y);
                            y1 = std::max(y1, y);
                        }
                }
                if (x1 < 0) {
                    // A frame that shows nothing goes when the frame before keeps what it drew: that
                    // picture then simply stays for both delays, as long as the painter showed the
                    // two (a delay of 0 plays as 10, one below 3 as 3). After a frame that clears or
                    // restores its area, the cleared picture is what this frame shows, so it stays;
                    // and the first frame has no frame before it to take its time.
                    if (i == 0) continue;
                    TGIFSubImage& before = *images_[i - 1];
                    TGIFGraphicControlExtension* gce = before.GraphicControlExtension();
                    if (gce && gce->Disposal() >= 2) continue;
                    if (!gce) {
                        auto made = std::make_unique<TGIFGraphicControlExtension>(&before);
                        gce = made.get();
                        before.Extensions().Add(std::move(made));
                    }
                    gce->SetDelay(std::min(PlayedDelay(before.Delay()) + PlayedDelay(f.Delay()), 0xFFFF));
                    images_.Delete(i);
                    continue;
                }
                if (x0 == 0 && y0 == 0 && x1 == f.Width() - 1 && y1 == f.Height() - 1) continue;
                const int w = x1 - x0 + 1, h = y1 - y0 + 1;
                std::vector<uint8_t> cropped(static_cast<size_t>(w) * h);
                for (int y = 0; y < h; ++y) std::memcpy(cropped.data() + static_cast<size_t>(y) * w, f.Scanline(y0 + y) + x0, w);
                const int left = f.Left() + x0, top = f.Top() + y0;
                f.SetBounds(left, top, w, h);
                std::memcpy(f.Data(), cropped.data(), cropped.size());
                f.PixelsChanged();
            }
        }
        if (options & ooCleanup) {
            for (int i = images_.Count() - 1; i >= 0; --i) {
                TGIFSubImage& f = *images_[i];
                for (int k = f.Extensions().Count() - 1; k >= 0; --k) {
                    TGIFExtension* e = f.Extensions()[k];
                    bool drop = dynamic_cast<TGIFCommentExtension*>(e) || dynamic_cast<TGIFTextExtension*>(e) ||
                                dynamic_cast<TGIFUnknownAppExtension*>(e);
                    if (dynamic_cast<TGIFAppExtNSLoop*>(e)) drop = !(i == 0 && images_.Count() > 1);
                    if (auto* gce = dynamic_cast<TGIFGraphicControlExtension*>(e))
                        drop = !gce->Transparent() && !gce->UserInput() &&
                               (images_.Count() == 1 || (gce->Delay() == 0 && gce->Disposal() <= 1));
                    if (drop) f.Extensions().Delete(k);
                }
                if (f.Empty() && f.Extensions().Count() == 0) images_.Delete(i);
            }
        }
        if ((options & ooReduceColors) && colorReduction == rmPalette) throw GIFException("Invalid reduction method");
    } catch (...) {
        Progress(2, 0, "Optimizing...");
        throw;
    }
    FreeBitmap();
    Progress(2, 100, "Optimizing...");
}

} // namespace lumora
