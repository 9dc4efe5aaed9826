// One frame of a GIF image: reading and writing it, rendering its indices into a bitmap with a
// transparency mask, drawing it scaled, tiled and transparent, and converting pictures into frames.

#include <algorithm>
#include <cstring>

#include "framework/Checked.h"
#include "pictures/gif/GIFImage.h"
#include "pictures/gif/GIFQuantize.h"

namespace lumora {

namespace {

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

std::vector<TRGBQuad> QuadsOf(const TLogPalette* palette) {
    std::vector<TRGBQuad> quads;
    if (palette)
        for (const TPaletteEntry& e : palette->Entries) quads.push_back(TRGBQuad{e.peBlue, e.peGreen, e.peRed, 0});
    return quads;
}

int64_t Round(int64_t num, int64_t den) {
    if (den == 0) return 0;
    return num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
}

} // namespace

// Copies src into dest (stretched by nearest neighbour), leaving out the pixels whose mask bit is set.
void BlitGIFBitmap(TCanvas& canvas, const TRect& dest, TBitmap& src, const TBitmap* mask) {
    const int dw = dest.Width(), dh = dest.Height(), sw = src.Width(), sh = src.Height();
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
    TBitmap& target = canvas.Bitmap();
    const TRect clip = IntersectRect(dest, canvas.ClipRect());
    if (clip.IsEmpty()) return;
    const bool srcIndexed = src.PixelFormat() == TPixelFormat::pf8bit;
    // Same palette on both sides: indices copy straight over.
    const bool indexCopy = srcIndexed && target.PixelFormat() == TPixelFormat::pf8bit &&
                           std::equal(src.Palette().begin(), src.Palette().end(), target.Palette().begin(),
                                      target.Palette().end(), [](const TRGBQuad& a, const TRGBQuad& b) {
                                          return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue;
                                      });
    uint32_t lut[256] = {};
    if (srcIndexed)
        for (size_t i = 0; i < src.Palette().size() && i < 256; ++i) {
            const TRGBQuad& q = src.Palette()[i];
            lut[i] = q.rgbBlue | (q.rgbGreen << 8) | (q.rgbRed << 16);
        }
    std::vector<int> columns(static_cast<size_t>(clip.Width()));
    for (int x = clip.Left; x < clip.Right; ++x)
        columns[static_cast<size_t>(x - clip.Left)] = static_cast<int>(static_cast<int64_t>(x - dest.Left) * sw / dw);
    for (int y = clip.Top; y < clip.Bottom; ++y) {
        const int sy = static_cast<int>(static_cast<int64_t>(y - dest.Top) * sh / dh);
        const auto* srow = static_cast<const uint8_t*>(src.ScanLine(sy));
        const uint8_t* mrow = mask ? static_cast<const uint8_t*>(mask->ScanLine(sy)) : nullptr;
        for (int x = clip.Left; x < clip.Right; ++x) {
            const int sx = columns[static_cast<size_t>(x - clip.Left)];
            if (mrow && (mrow[sx >> 3] & (0x80 >> (sx & 7)))) continue;
            if (indexCopy) static_cast<uint8_t*>(target.ScanLine(y))[x] = srow[sx];
            else if (srcIndexed && target.PixelFormat() == TPixelFormat::pf32bit) target.Row32(y)[x] = lut[srow[sx]];
            else target.SetPixelColor(x, y, src.GetPixel(sx, sy));
        }
    }
}

TGIFSubImage::TGIFSubImage(TGIFImage* image) : TGIFItem(image), colorMap_(this), extensions_(this) {}

TGIFSubImage::~TGIFSubImage() { Clear(); }

TGIFVersion TGIFSubImage::GetVersion() const {
    return colorMap_.Optimized() || extensions_.Count() > 0 ? gv89a : gv87a;
}

void TGIFSubImage::Clear() {
    extensions_.Clear();
    colorMap_.Clear();
    data_.clear();
    data_.shrink_to_fit();
    stored_.clear();
    stored_.shrink_to_fit();
    width_ = height_ = 0;
    transparent_ = false;
    passedOver_ = false;
    cutShort_ = false;
    gce_ = nullptr;
    bitmap_.reset();
    FreeMask();
}

void TGIFSubImage::FreeBitmap() { bitmap_.reset(); }

void TGIFSubImage::FreeMask() {
    mask_.reset();
    needMask_ = true;
}

void TGIFSubImage::PixelsChanged() {
    stored_.clear();
    FreeBitmap();
    FreeMask();
}

uint8_t* TGIFSubImage::Data() {
    DecodeStored();
    stored_.clear();
    return data_.data();
}

const uint8_t* TGIFSubImage::Data() const {
    DecodeStored();
    return data_.data();
}

int64_t TGIFSubImage::DataSize() const {
    DecodeStored();
    return static_cast<int64_t>(data_.size());
}

void TGIFSubImage::ReleasePixels() {
    if (stored_.empty() || data_.empty()) return;
    data_.clear();
    data_.shrink_to_fit();
    FreeBitmap();
    FreeMask();
}

void TGIFSubImage::DecodeStored() const {
    if (!data_.empty() || stored_.empty() || width_ == 0 || height_ == 0) return;
    data_.assign(static_cast<size_t>(width_) * height_, storedFill_);
    // The same data gave these pixels before; its warnings were given then.
    TBytesStream stream(stored_.data(), static_cast<int64_t>(stored_.size()));
    DecodeGIFFrame(stream, data_.data(), width_, height_, Interlaced(), nullptr);
}

void TGIFSubImage::GraphicControlAttached(TGIFGraphicControlExtension* gce) {
    if (!gce_) gce_ = gce;
}

void TGIFSubImage::GraphicControlDetached(TGIFGraphicControlExtension* gce) {
    if (gce_ != gce) return;
    if (gce->Transparent()) transparent_ = false;
    gce_ = nullptr;
}

int TGIFSubImage::TransparentIndex() const {
    return transparent_ && gce_ ? gce_->TransparentColorIndex() : -1;
}

int TGIFSubImage::Delay() const { return gce_ ? gce_->Delay() : 0; }

TGIFColorMap& TGIFSubImage::ActiveColorMap() {
    if (colorMap_.Count() > 0) return colorMap_;
    if (image_ && image_->Header().ColorMap().Count() > 0) return image_->Header().ColorMap();
    return colorMap_;
}

void TGIFSubImage::AllocateData() {
    const int64_t size = static_cast<int64_t>(width_) * height_;
    if (size > 0 && !FitsPixelBudget(width_, height_))
        throw EOutOfMemory("Out of memory: frame of " + std::to_string(width_) + "x" + std::to_string(height_));
    data_.assign(static_cast<size_t>(size), 0);
    stored_.clear();
}

void TGIFSubImage::SetBounds(int left, int top, int width, int height) {
    left = std::clamp(left, 0, 0xFFFF);
    top = std::clamp(top, 0, 0xFFFF);
    width = std::clamp(width, 0, 0xFFFF);
    height = std::clamp(height, 0, 0xFFFF);
    DecodeStored();
    if (width != width_ || height != height_ || data_.empty()) {
        FreeBitmap();
        FreeMask();
        width_ = static_cast<uint16_t>(width);
        height_ = static_cast<uint16_t>(height);
        AllocateData();
    }
    left_ = static_cast<uint16_t>(left);
    top_ = static_cast<uint16_t>(top);
    if (!image_) return;
    // The logical screen grows to hold the frame.
    TGIFHeader& header = image_->Header();
    bool grew = false;
    if (header.Width() < left + width) {
        if (header.Width() > 0) {
            Warning(1, "Image width too small for contained frames");
            grew = true;
        }
        header.SetWidth(std::min(left + width, 0xFFFF));
    }
    if (header.Height() < top + height) {
        if (header.Height() > 0) {
            Warning(1, "Image height too small for contained frames");
            grew = true;
        }
        header.SetHeight(std::min(top + height, 0xFFFF));
    }
    if (grew) Warning(1, "Image exceeds Logical Screen size");
}

uint8_t TGIFSubImage::Pixels(int x, int y) const {
    DecodeStored();
    if (x < 0 || x >= width_ || y < 0 || y >= height_ || data_.empty()) throw GIFException("Invalid pixel coordinates");
    return data_[static_cast<size_t>(y) * width_ + x];
}

uint8_t* TGIFSubImage::Scanline(int y) {
    if (y < 0 || y >= height_) throw GIFException("Invalid pixel coordinates");
    DecodeStored();
    stored_.clear(); // the row may be changed
    if (data_.empty()) {
        if (width_ == 0 || height_ == 0) throw GIFException("Image is empty");
        AllocateData();
    }
    return data_.data() + static_cast<size_t>(y) * width_;
}

// ---- reading and writing ----

void TGIFSubImage::LoadFromStream(TStream& stream) {
    Clear();
    extensions_.LoadFromStream(stream, this);
    uint8_t b;
    if (stream.Read(&b, 1) != 1) return;
    stream.Seek(-1, TSeekOrigin::soCurrent);
    // Extensions with no image after them (a comment before the trailer) make a frame of their own.
    if (b == ';' || b == 0) return;
    uint8_t d[10];
    if (stream.Read(d, 10) != 10) throw GIFException("Premature end of data");
    separator_ = d[0];
    left_ = Get16(d + 1);
    top_ = Get16(d + 3);
    width_ = Get16(d + 5);
    height_ = Get16(d + 7);
    packed_ = d[9];
    if (width_ == 0 || height_ == 0) {
        width_ = static_cast<uint16_t>(image_ ? image_->Header().Width() : 0);
        height_ = static_cast<uint16_t>(image_ ? image_->Header().Height() : 0);
        Warning(1, "Image exceeds Logical Screen size");
    }
    if (packed_ & 0x80) {
        const int entries = 2 << (packed_ & 7);
        if (entries < 2 || entries > 256) throw GIFException("Invalid number of colors specified in Image Descriptor");
        colorMap_.LoadFromStream(stream, entries);
    }
    const int64_t pixels = static_cast<int64_t>(width_) * height_;
    uint8_t minCodeSize = 0;
    const bool hasData = stream.Read(&minCodeSize, 1) == 1;
    if (hasData) stream.Seek(-1, TSeekOrigin::soCurrent);
    if (hasData && minCodeSize > 11) {
        // The tables hold 4096 codes: not one pixel of such data is known, and a frame of its fill
        // colour would be a wrong picture, so the frame list leaves it out without taking its memory.
        DecodeGIFFrame(stream, nullptr, 0, 0, false, nullptr);
        Warning(1, "Unsupported LZW code size");
        passedOver_ = true;
        return;
    }
    // A frame larger than the rest of the file could give even as the most compressed LZW data is
    // junk or cut short, and is refused before its memory is taken.
    const int64_t left = std::max<int64_t>(stream.Size() - stream.Position() - 1, 0);
    if (pixels > MaxGIFDataPixels(left, minCodeSize)) throw GIFException("Premature end of data");
    if (image_) image_->ChargePixels(pixels);
    AllocateData();
    const int fill = TransparentIndex();
    if (fill > 0) std::fill(data_.begin(), data_.end(), static_cast<uint8_t>(fill));
    TGIFFrameData got;
    const int64_t dataStart = stream.Position();
    if (hasData)
        got = DecodeGIFFrame(stream, data_.data(), width_, height_, Interlaced(),
                             [this](int severity, const std::string& message) { Warning(severity, message); });
    cutShort_ = got.Pixels < pixels || got.EndedInBlock;
    // The data is kept as the file holds it, a fraction of the pixels it gives, so that the pixels can
    // be released and decoded again (see ReleasePixels).
    const int64_t dataEnd = stream.Position();
    if (dataEnd > dataStart) {
        stored_.resize(static_cast<size_t>(dataEnd - dataStart));
        stream.SetPosition(dataStart);
        stream.ReadBuffer(stored_.data(), dataEnd - dataStart);
        storedFill_ = static_cast<uint8_t>(std::max(fill, 0));
    }
}

void TGIFSubImage::SaveToStream(TStream& stream) {
    extensions_.SaveToStream(stream);
    if (Empty()) return;
    DecodeStored();
    // The interlace and reserved bits always stay: the pixels are written in the order they say.
    packed_ &= 0x40 | 0x18;
    if (colorMap_.Count() > 0) {
        packed_ |= 0x80;
        if (colorMap_.Optimized()) packed_ |= 0x20;
        packed_ |= static_cast<uint8_t>((colorMap_.BitsPerPixel() - 1) & 7);
    }
    uint8_t d[10];
    d[0] = separator_;
    Put16(d + 1, left_);
    Put16(d + 3, top_);
    Put16(d + 5, width_);
    Put16(d + 7, height_);
    d[9] = packed_;
    stream.WriteBuffer(d, 10);
    colorMap_.SaveToStream(stream);
    int bits, colors;
    if (colorMap_.Count() > 0) {
        bits = colorMap_.BitsPerPixel();
        colors = colorMap_.Count();
    } else {
        bits = image_ ? image_->Header().ColorMap().BitsPerPixel() : 0;
        if (image_)
            for (int i = 0; i < image_->Images().Count(); ++i)
                bits = std::max(bits, image_->Images()[i]->ColorMap().BitsPerPixel());
        colors = 1 << bits;
    }
    std::unique_ptr<TGIFEncoder> encoder;
    if (image_ && image_->Compression == gcRLE) encoder = std::make_unique<TRLEEncoder>();
    else encoder = std::make_unique<TLZWEncoder>();
    encoder->OnWarning = [this](int severity, const std::string& message) { Warning(severity, message); };
    encoder->Encode(stream, bits, colors, data_.data(), Interlaced(), height_, width_);
}

// ---- palette and rendering ----

HPALETTE TGIFSubImage::GetPalette() {
    if (palette_) return palette_;
    if (image_ && image_->DoDither()) {
        palette_ = WebPalette();
        return palette_;
    }
    if (colorMap_.Count() == 0) return image_ ? image_->GetPalette() : nullptr;
    palette_ = colorMap_.ExportPalette();
    return palette_;
}

void TGIFSubImage::SetPalette(HPALETTE palette) {
    if (palette == palette_) return;
    palette_ = std::move(palette);
    if (bitmap_) {
        bitmap_.reset();
        if (image_) {
            image_->PaletteModified();
            image_->Changed();
        }
    }
}

TBitmap& TGIFSubImage::Bitmap() {
    if (!bitmap_) Render();
    return *bitmap_;
}

const TBitmap* TGIFSubImage::Mask() {
    if (needMask_ && !mask_) {
        bitmap_.reset();
        Render();
    }
    return mask_.get();
}

void TGIFSubImage::Render() {
    if (bitmap_) return;
    if (image_) image_->DoProgress(0, 0, "Rendering...");
    auto bitmap = std::make_unique<TBitmap>();
    HPALETTE palette = GetPalette();
    if (Empty()) {
        bitmap->SetPixelFormat(TPixelFormat::pf8bit);
        bitmap->SetSize(width_, height_);
        bitmap->SetPalette(QuadsOf(palette.get()));
        bitmap_ = std::move(bitmap);
        if (image_) image_->DoProgress(2, 100, "Rendering...");
        return;
    }
    DecodeStored();
    const bool buildMask = needMask_ && transparent_ && !mask_;
    needMask_ = false;
    const int transparentIndex = TransparentIndex();
    std::vector<uint8_t> maskBits;
    const int maskStride = (width_ + 7) / 8;
    bool anyMasked = false;
    if (buildMask && transparentIndex >= 0) maskBits.assign(static_cast<size_t>(maskStride) * height_, 0);
    {
        TDIBWriter writer(*bitmap, palette.get(), height_, width_, TPixelFormat::pf8bit);
        const bool dither = image_ && image_->DoDither();
        if (!dither) {
            for (int y = 0; y < height_; ++y) {
                const uint8_t* src = data_.data() + static_cast<size_t>(y) * width_;
                std::memcpy(writer.ScanLine(y), src, width_);
                if (!maskBits.empty()) {
                    uint8_t* m = maskBits.data() + static_cast<size_t>(y) * maskStride;
                    for (int x = 0; x < width_; ++x)
                        if (src[x] == transparentIndex) {
                            m[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
                            anyMasked = true;
                        }
                }
                if (image_ && (y % 32) == 0) image_->DoProgress(1, static_cast<uint8_t>(y * 100 / height_), "Rendering...");
            }
        } else {
            TGIFColorMap& map = ActiveColorMap();
            TNetscapeColorLookup lookup;
            TFloydSteinbergDitherer ditherer(width_, lookup);
            uint8_t fillValue = 0;
            if (transparentIndex >= 0 && map.Count() > 0) {
                const TColor c = map.Colors(transparentIndex);
                const int v = static_cast<int>(Round(36 * GetRValue(c), 51) + Round(6 * GetGValue(c), 51)) +
                              GetBValue(c) / 51 + 1;
                fillValue = static_cast<uint8_t>(std::min(v, 215));
            }
            for (int y = 0; y < height_; ++y) {
                const uint8_t* src = data_.data() + static_cast<size_t>(y) * width_;
                uint8_t* dst = writer.ScanLine(y);
                uint8_t* m = maskBits.empty() ? nullptr : maskBits.data() + static_cast<size_t>(y) * maskStride;
                if (transparentIndex >= 0) std::memset(dst, fillValue, width_);
                while (ditherer.Column >= 0 && ditherer.Column < width_) {
                    const int x = ditherer.Column;
                    if (src[x] == transparentIndex) {
                        if (m) {
                            m[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
                            anyMasked = true;
                        }
                        ditherer.Column += ditherer.Direction;
                        continue;
                    }
                    uint8_t r, g, b;
                    const TGIFColor c = map.Count() > 0 && src[x] < map.Count() ? map.Entry(src[x]) : TGIFColor{};
                    dst[x] = static_cast<uint8_t>(ditherer.Dither(c.Red, c.Green, c.Blue, r, g, b));
                }
                ditherer.NextLine();
            }
        }
    }
    // A mask with no transparent pixel is not worth keeping: the frame draws opaque.
    if (anyMasked) {
        mask_ = std::make_unique<TBitmap>(width_, height_, TPixelFormat::pf1bit);
        mask_->SetPalette({TRGBQuad{0, 0, 0, 0}, TRGBQuad{255, 255, 255, 0}});
        for (int y = 0; y < height_; ++y)
            std::memcpy(mask_->ScanLine(y), maskBits.data() + static_cast<size_t>(y) * maskStride, maskStride);
    }
    bitmap_ = std::move(bitmap);
    if (image_) {
        image_->DoProgress(2, 100, "Rendering...");
        if (image_->IsPaletteModified()) image_->Changed();
    }
}

void TGIFSubImage::AssignTo(TBitmap& dest) { dest.Assign(Bitmap()); }

void TGIFSubImage::Draw(TCanvas& canvas, const TRect& rect, bool doTransparent, bool doTile) {
    if (Empty()) return;
    const TBitmap* mask = nullptr;
    if (doTransparent && transparent_) mask = Mask();
    TBitmap& bitmap = Bitmap();
    const int sw = image_ ? image_->Width() : 0, sh = image_ ? image_->Height() : 0;
    if (!doTile) {
        TRect dest = rect;
        if (sw > 0 && sh > 0) {
            const int64_t rw = rect.Width(), rh = rect.Height();
            dest.Left = rect.Left + static_cast<int>(Round(left_ * rw, sw));
            dest.Top = rect.Top + static_cast<int>(Round(top_ * rh, sh));
            dest.Right = rect.Left + static_cast<int>(Round((left_ + width_) * rw, sw));
            dest.Bottom = rect.Top + static_cast<int>(Round((top_ + height_) * rh, sh));
        }
        BlitGIFBitmap(canvas, dest, bitmap, mask);
        return;
    }
    // Tiles step by the logical screen; the clip keeps the walk within the canvas.
    const TRect clip = IntersectRect(rect, canvas.ClipRect());
    if (clip.IsEmpty()) return;
    const int stepX = std::max(sw, 1), stepY = std::max(sh, 1);
    for (int64_t y = static_cast<int64_t>(rect.Top) + top_; y < rect.Bottom; y += stepY) {
        if (y + height_ <= clip.Top) continue;
        if (y >= clip.Bottom) break;
        for (int64_t x = static_cast<int64_t>(rect.Left) + left_; x < rect.Right; x += stepX) {
            if (x + width_ <= clip.Left) continue;
            if (x >= clip.Right) break;
            BlitGIFBitmap(canvas,
                          TRect{static_cast<int>(x), static_cast<int>(y), static_cast<int>(x + width_),
                                static_cast<int>(y + height_)},
                          bitmap, mask);
        }
    }
}

// ---- conversion ----

void TGIFSubImage::Assign(const TGIFSubImage& source) {
    if (&source == this) return;
    Clear();
    if (source.Empty()) return;
    separator_ = source.separator_;
    left_ = source.left_;
    top_ = source.top_;
    width_ = source.width_;
    height_ = source.height_;
    packed_ = source.packed_;
    data_ = source.data_;
    stored_ = source.stored_;
    storedFill_ = source.storedFill_;
    colorMap_.Assign(source.colorMap_);
    TMemoryStream saved;
    source.extensions_.SaveToStream(saved);
    saved.SetPosition(0);
    extensions_.LoadFromStream(saved, this);
    transparent_ = source.transparent_;
    if (source.bitmap_) {
        bitmap_ = std::make_unique<TBitmap>();
        bitmap_->Assign(*source.bitmap_);
    }
}

void TGIFSubImage::Assign(TGraphic* source) {
    if (!source) {
        Clear();
        return;
    }
    if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
        ImportBitmap(*bitmap);
        return;
    }
    Clear();
    if (source->Empty()) return;
    TBitmap temporary;
    temporary.Assign(source);
    temporary.SetPixelFormat(TPixelFormat::pf24bit);
    ImportBitmap(temporary);
}

void TGIFSubImage::ImportBitmap(TBitmap& source) {
    Clear();
    if (source.Empty()) return;
    SetBounds(0, 0, source.Width(), source.Height());
    const TPixelFormat format = source.PixelFormat();
    const bool indexed = format == TPixelFormat::pf1bit || format == TPixelFormat::pf4bit || format == TPixelFormat::pf8bit;
    // Where the source says which colour is transparent, that is taken before any reduction.
    std::vector<uint8_t> maskBits;
    if (source.Transparent()) {
        const TColor key = ColorToRGB(source.TransparentColor());
        maskBits.assign(static_cast<size_t>(width_) * height_, 0);
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                if (source.GetPixel(x, y) == key) maskBits[static_cast<size_t>(y) * width_ + x] = 1;
    }
    std::unique_ptr<TBitmap> converted = std::make_unique<TBitmap>();
    int colors = 0;
    if (indexed) {
        converted->Assign(source);
        colors = static_cast<int>(source.Palette().size());
    } else {
        const uint8_t reduction = image_ ? image_->ColorReduction : uint8_t{rmNetscape};
        const uint8_t dither = image_ ? image_->DitherMode : uint8_t{dmNearest};
        converted = ReduceColors(source, reduction, dither, image_ ? image_->ReductionBits : 8, nullptr, &colors);
    }
    if (image_) image_->DoProgress(0, 0, "Converting...");
    TBitmap& bmp = *converted;
    if (!bmp.Empty()) {
        switch (bmp.PixelFormat()) {
        case TPixelFormat::pf8bit: {
            std::vector<TRGBQuad> table = bmp.Palette();
            table.resize(std::min<size_t>(table.size(), static_cast<size_t>(colors)));
            colorMap_.ImportColorTable(table);
            for (int y = 0; y < height_; ++y) {
                std::memcpy(Scanline(y), bmp.ScanLine(y), width_);
                if (image_ && y % 32 == 0) image_->DoProgress(1, static_cast<uint8_t>(y * 100 / height_), "Converting...");
            }
            break;
        }
        case TPixelFormat::pf4bit:
        case TPixelFormat::pf1bit: {
            colorMap_.ImportColorTable(bmp.Palette());
            const bool four = bmp.PixelFormat() == TPixelFormat::pf4bit;
            for (int y = 0; y < height_; ++y) {
                const auto* s = static_cast<const uint8_t*>(bmp.ScanLine(y));
                uint8_t* d = Scanline(y);
                for (int x = 0; x < width_; ++x)
                    d[x] = four ? static_cast<uint8_t>((s[x >> 1] >> ((x & 1) ? 0 : 4)) & 15)
                                : static_cast<uint8_t>((s[x >> 3] >> (7 - (x & 7))) & 1);
                if (image_ && y % 32 == 0) image_->DoProgress(1, static_cast<uint8_t>(y * 100 / height_), "Converting...");
            }
            break;
        }
        default: {
            bmp.SetPixelFormat(TPixelFormat::pf24bit);
            // Neighbouring pixels mostly repeat a few colours: a small ring of recent ones saves most searches.
            TColor ring[8];
            uint8_t ringIndex[8];
            int ringCount = 0, ringLast = 0;
            for (int y = 0; y < height_; ++y) {
                const auto* s = static_cast<const uint8_t*>(bmp.ScanLine(y));
                uint8_t* d = Scanline(y);
                for (int x = 0; x < width_; ++x) {
                    const TColor c = RGB(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
                    int found = -1;
                    for (int k = 0; k < ringCount; ++k) {
                        const int slot = (ringLast - k + 8) % 8;
                        if (ring[slot] == c) {
                            found = slot;
                            break;
                        }
                    }
                    if (found >= 0) {
                        d[x] = ringIndex[found];
                        ringLast = found;
                        continue;
                    }
                    const int index = colorMap_.AddUnique(c);
                    ringLast = (ringLast + 1) % 8;
                    ring[ringLast] = c;
                    ringIndex[ringLast] = static_cast<uint8_t>(index);
                    ringCount = std::min(ringCount + 1, 8);
                    d[x] = static_cast<uint8_t>(index);
                }
                if (image_ && y % 32 == 0) image_->DoProgress(1, static_cast<uint8_t>(y * 100 / height_), "Converting...");
            }
            break;
        }
        }
    }
    if (!maskBits.empty()) ApplyMask(maskBits);
    bitmap_.reset();
    if (!converted->Empty() && maskBits.empty() && converted->PixelFormat() == TPixelFormat::pf8bit)
        bitmap_ = std::move(converted);
    if (image_) image_->DoProgress(2, 100, "Converting...");
}

void TGIFSubImage::ApplyMask(const std::vector<uint8_t>& maskBits) {
    colorMap_.Optimize();
    if (colorMap_.Count() == 0 || colorMap_.Count() == 256) return;
    const int index = colorMap_.Add(clBlack);
    bool any = false;
    for (size_t i = 0; i < maskBits.size() && i < data_.size(); ++i)
        if (maskBits[i]) {
            data_[i] = static_cast<uint8_t>(index);
            any = true;
        }
    if (!any) {
        colorMap_.Delete(index);
        return;
    }
    auto gce = std::make_unique<TGIFGraphicControlExtension>(this);
    gce->SetTransparentColorIndex(static_cast<uint8_t>(index));
    TGIFGraphicControlExtension* raw = gce.get();
    extensions_.Add(std::move(gce));
    raw->SetTransparent(true);
    PixelsChanged();
}

} // namespace lumora
