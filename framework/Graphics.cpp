#include "framework/Graphics.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "framework/Checked.h"

namespace lumora {

// ---- pixel budget ----

static int64_t g_pixelBudget = int64_t(1) << 27; // 134 megapixels, 512 MiB at 32 bits

int64_t PixelBudget() { return g_pixelBudget; }
void SetPixelBudget(int64_t pixels) { g_pixelBudget = pixels; }

bool FitsPixelBudget(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0) return false;
    auto n = CheckedMul(width, height);
    return n && *n <= g_pixelBudget;
}

// ---- colours ----

namespace {
struct ColorName {
    TColor color;
    const char* name;
};
const ColorName kColorNames[] = {
    {clBlack, "clBlack"}, {clMaroon, "clMaroon"}, {clGreen, "clGreen"}, {clOlive, "clOlive"},
    {clNavy, "clNavy"}, {clPurple, "clPurple"}, {clTeal, "clTeal"}, {clGray, "clGray"},
    {clSilver, "clSilver"}, {clRed, "clRed"}, {clLime, "clLime"}, {clYellow, "clYellow"},
    {clBlue, "clBlue"}, {clFuchsia, "clFuchsia"}, {clAqua, "clAqua"}, {clWhite, "clWhite"},
    {clMoneyGreen, "clMoneyGreen"}, {clSkyBlue, "clSkyBlue"}, {clCream, "clCream"}, {clMedGray, "clMedGray"},
    {clScrollBar, "clScrollBar"}, {clBackground, "clBackground"}, {clActiveCaption, "clActiveCaption"},
    {clInactiveCaption, "clInactiveCaption"}, {clMenu, "clMenu"}, {clWindow, "clWindow"},
    {clWindowFrame, "clWindowFrame"}, {clMenuText, "clMenuText"}, {clWindowText, "clWindowText"},
    {clCaptionText, "clCaptionText"}, {clActiveBorder, "clActiveBorder"},
    {clInactiveBorder, "clInactiveBorder"}, {clAppWorkSpace, "clAppWorkSpace"}, {clHighlight, "clHighlight"},
    {clHighlightText, "clHighlightText"}, {clBtnFace, "clBtnFace"}, {clBtnShadow, "clBtnShadow"},
    {clGrayText, "clGrayText"}, {clBtnText, "clBtnText"}, {clInactiveCaptionText, "clInactiveCaptionText"},
    {clBtnHighlight, "clBtnHighlight"}, {cl3DDkShadow, "cl3DDkShadow"}, {cl3DLight, "cl3DLight"},
    {clInfoText, "clInfoText"}, {clInfoBk, "clInfoBk"}, {clNone, "clNone"}, {clDefault, "clDefault"},
};

// The classic Windows system colours, so a system colour always resolves the same way.
const TColor kSystemRGB[] = {
    0xC8D0D4, 0x000000, 0x6A240A, 0x808080, 0xC8D0D4, 0xFFFFFF, 0x000000, 0x000000, 0x000000, 0xFFFFFF,
    0xC8D0D4, 0xC8D0D4, 0x808080, 0x6A240A, 0xFFFFFF, 0xC8D0D4, 0x808080, 0x808080, 0x000000, 0xC8D0D4,
    0xFFFFFF, 0x404040, 0xC8D0D4, 0x000000, 0xE1FFFF,
};
} // namespace

TColor ColorToRGB(TColor color) {
    if (color < 0) {
        unsigned index = static_cast<unsigned>(color) & 0xFF;
        return index < std::size(kSystemRGB) ? kSystemRGB[index] : clBlack;
    }
    return color & 0xFFFFFF;
}

std::string ColorToString(TColor color) {
    for (const auto& c : kColorNames)
        if (c.color == color) return c.name;
    return '$' + IntToHex(static_cast<uint32_t>(color), 8);
}

bool IdentToColor(const std::string& ident, TColor& color) {
    for (const auto& c : kColorNames)
        if (SameText(ident, c.name)) {
            color = c.color;
            return true;
        }
    return false;
}

TColor StringToColor(const std::string& text) {
    TColor c;
    if (IdentToColor(text, c)) return c;
    int v;
    if (TryStrToInt(text, v)) return v;
    throw EConvertError("'" + text + "' is not a valid integer value");
}

// ---- TFont ----

TFont::TFont() = default;

int TFont::Size() const {
    // Points from pixels at 96 dpi, rounded as the framework does (MulDiv).
    int h = height_ < 0 ? -height_ : height_;
    return static_cast<int>(std::lround(h * 72.0 / 96.0)) * (height_ < 0 ? 1 : -1);
}

void TFont::SetSize(int points) { height_ = -static_cast<int>(std::lround(points * 96.0 / 72.0)); }

// ---- TGraphic ----

void TGraphic::SaveToStream(TStream&) { throw EInvalidGraphicOperation("Cannot save this picture format"); }

void TGraphic::LoadFromFile(const std::string& fileName) {
    TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(f);
}

void TGraphic::SaveToFile(const std::string& fileName) {
    TFileStream f(fileName, fmCreate);
    SaveToStream(f);
}

void TGraphic::AssignTo(TBitmap& dest) {
    dest.SetPixelFormat(TPixelFormat::pf32bit);
    dest.SetSize(Width(), Height());
    dest.Canvas().Brush.Color = clWhite;
    dest.Canvas().FillRect(TRect{0, 0, Width(), Height()});
    Draw(dest.Canvas(), TRect{0, 0, Width(), Height()});
}

void TGraphic::AssignOver(TBitmap& dest, TColor) { dest.Assign(this); }

void AssignOverBackground(TBitmap& dest, TGraphic* picture, TColor background) {
    if (picture) picture->AssignOver(dest, background);
    else dest.Assign(static_cast<TGraphic*>(nullptr));
}

void BlendOverBackground(TBitmap& dest, const TBitmap& clearness, TColor background, bool premultiplied) {
    if (clearness.PixelFormat() != TPixelFormat::pf8bit || clearness.Width() != dest.Width() ||
        clearness.Height() != dest.Height())
        return;
    dest.SetPixelFormat(TPixelFormat::pf32bit);
    const uint32_t bg = ColorToPixel(background);
    for (int y = 0; y < dest.Height(); ++y) {
        uint32_t* row = dest.Row32(y);
        const auto* clear = static_cast<const uint8_t*>(clearness.ScanLine(y));
        if (!premultiplied) {
            for (int x = 0; x < dest.Width(); ++x) row[x] = BlendPixel(row[x], bg, 255u - clear[x]);
            continue;
        }
        // The colour already holds its share; the background adds the rest, each channel at most 255
        // (a damaged file may hold colours above their opacity).
        for (int x = 0; x < dest.Width(); ++x) {
            uint32_t out = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                const uint32_t c = (row[x] >> shift) & 0xFF, b = (bg >> shift) & 0xFF;
                out |= std::min<uint32_t>(255, c + (b * clear[x] + 127) / 255) << shift;
            }
            row[x] = out;
        }
    }
    dest.SetTransparent(false);
}

void TGraphic::Progress(TProgressStage stage, uint8_t percent, const std::string& msg) {
    if (OnProgress) OnProgress(this, stage, percent, false, TRect{}, msg);
}

// ---- TBitmap ----

int BitsPerPixel(TPixelFormat format) {
    switch (format) {
    case TPixelFormat::pf1bit: return 1;
    case TPixelFormat::pf4bit: return 4;
    case TPixelFormat::pf8bit: return 8;
    case TPixelFormat::pf15bit:
    case TPixelFormat::pf16bit: return 16;
    case TPixelFormat::pf24bit: return 24;
    default: return 32; // device and custom bitmaps are kept as 32-bit, the screen's depth here
    }
}

static int PaletteSize(TPixelFormat format) {
    int bpp = BitsPerPixel(format);
    return bpp <= 8 ? 1 << bpp : 0;
}

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int width, int height, TPixelFormat format) {
    format_ = format;
    SetSize(width, height);
}

TBitmap::~TBitmap() = default;

void TBitmap::Allocate(int width, int height, TPixelFormat format, bool clear) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width > 0 && height > 0 && !FitsPixelBudget(width, height))
        throw EOutOfMemory("Out of memory: bitmap of " + std::to_string(width) + "x" + std::to_string(height));
    int64_t stride = ((static_cast<int64_t>(width) * BitsPerPixel(format) + 31) / 32) * 4;
    decltype(bits_) bits(static_cast<size_t>(stride * height));
    if (clear) {
        if (!bits.empty()) std::memset(bits.data(), 0, bits.size());
        // Keep the overlapping part of the old pixels, as the framework does on a size change.
        if (format == format_ && !bits_.empty()) {
            int rows = std::min(height, height_);
            int64_t bytes = std::min<int64_t>(stride, stride_);
            for (int y = 0; y < rows; ++y)
                std::memcpy(bits.data() + y * stride, bits_.data() + static_cast<int64_t>(y) * stride_, bytes);
        }
    }
    bits_ = std::move(bits);
    width_ = width;
    height_ = height;
    stride_ = static_cast<int>(stride);
    format_ = format;
    if (static_cast<int>(palette_.size()) != PaletteSize(format)) palette_.resize(PaletteSize(format));
}

void TBitmap::SetSize(int width, int height) {
    if (width == width_ && height == height_ && !bits_.empty()) return;
    Allocate(width, height, format_ == TPixelFormat::pfDevice ? TPixelFormat::pf32bit : format_);
}

void TBitmap::SetSizeForOverwrite(int width, int height) {
    Allocate(width, height, format_ == TPixelFormat::pfDevice ? TPixelFormat::pf32bit : format_, false);
}

void TBitmap::SetPalette(const std::vector<TRGBQuad>& palette) {
    palette_.assign(PaletteSize(format_), TRGBQuad{});
    for (size_t i = 0; i < palette_.size() && i < palette.size(); ++i) palette_[i] = palette[i];
}

void* TBitmap::ScanLine(int row) {
    if (row < 0 || row >= height_) throw EInvalidGraphicOperation("Scan line index out of range");
    return bits_.data() + static_cast<int64_t>(row) * stride_;
}

const void* TBitmap::ScanLine(int row) const { return const_cast<TBitmap*>(this)->ScanLine(row); }

TColor TBitmap::GetPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return clNone;
    const uint8_t* row = static_cast<const uint8_t*>(ScanLine(y));
    auto pal = [&](unsigned i) -> TColor {
        if (i >= palette_.size()) return clBlack;
        return RGB(palette_[i].rgbRed, palette_[i].rgbGreen, palette_[i].rgbBlue);
    };
    switch (format_) {
    case TPixelFormat::pf1bit: return pal((row[x >> 3] >> (7 - (x & 7))) & 1);
    case TPixelFormat::pf4bit: return pal((row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15);
    case TPixelFormat::pf8bit: return pal(row[x]);
    case TPixelFormat::pf15bit: {
        unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
        auto c5 = [](unsigned c) { return static_cast<uint8_t>((c << 3) | (c >> 2)); };
        return RGB(c5((v >> 10) & 31), c5((v >> 5) & 31), c5(v & 31));
    }
    case TPixelFormat::pf16bit: {
        unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
        auto c5 = [](unsigned c) { return static_cast<uint8_t>((c << 3) | (c >> 2)); };
        unsigned g = (v >> 5) & 63;
        return RGB(c5((v >> 11) & 31), static_cast<uint8_t>((g << 2) | (g >> 4)), c5(v & 31));
    }
    case TPixelFormat::pf24bit: return RGB(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    default: return PixelToColor(reinterpret_cast<const uint32_t*>(row)[x]);
    }
}

static unsigned NearestPaletteIndex(const std::vector<TRGBQuad>& palette, TColor c) {
    unsigned best = 0;
    int bestDist = 1 << 30;
    for (unsigned i = 0; i < palette.size(); ++i) {
        int dr = palette[i].rgbRed - GetRValue(c), dg = palette[i].rgbGreen - GetGValue(c),
            db = palette[i].rgbBlue - GetBValue(c);
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDist) {
            bestDist = d;
            best = i;
            if (d == 0) break;
        }
    }
    return best;
}

void TBitmap::SetPixelColor(int x, int y, TColor color) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
    color = ColorToRGB(color);
    uint8_t* row = static_cast<uint8_t*>(ScanLine(y));
    switch (format_) {
    case TPixelFormat::pf1bit: {
        unsigned i = NearestPaletteIndex(palette_, color);
        uint8_t mask = static_cast<uint8_t>(0x80 >> (x & 7));
        row[x >> 3] = static_cast<uint8_t>(i ? row[x >> 3] | mask : row[x >> 3] & ~mask);
        break;
    }
    case TPixelFormat::pf4bit: {
        unsigned i = NearestPaletteIndex(palette_, color);
        uint8_t& b = row[x >> 1];
        b = static_cast<uint8_t>((x & 1) ? (b & 0xF0) | i : (b & 0x0F) | (i << 4));
        break;
    }
    case TPixelFormat::pf8bit: row[x] = static_cast<uint8_t>(NearestPaletteIndex(palette_, color)); break;
    case TPixelFormat::pf15bit: {
        unsigned v = ((GetRValue(color) >> 3) << 10) | ((GetGValue(color) >> 3) << 5) | (GetBValue(color) >> 3);
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        break;
    }
    case TPixelFormat::pf16bit: {
        unsigned v = ((GetRValue(color) >> 3) << 11) | ((GetGValue(color) >> 2) << 5) | (GetBValue(color) >> 3);
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
        break;
    }
    case TPixelFormat::pf24bit:
        row[3 * x] = GetBValue(color);
        row[3 * x + 1] = GetGValue(color);
        row[3 * x + 2] = GetRValue(color);
        break;
    default: reinterpret_cast<uint32_t*>(row)[x] = ColorToPixel(color); break;
    }
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
    if (format == TPixelFormat::pfDevice || format == TPixelFormat::pfCustom) format = TPixelFormat::pf32bit;
    if (format == format_) return;
    if (bits_.empty()) {
        format_ = format;
        palette_.assign(PaletteSize(format), TRGBQuad{});
        if (width_ > 0 && height_ > 0) Allocate(width_, height_, format);
        return;
    }
    TBitmap converted;
    ConvertInto(converted, format);
    bits_ = std::move(converted.bits_);
    palette_ = std::move(converted.palette_);
    stride_ = converted.stride_;
    format_ = format;
}

void TBitmap::AssignAs(const TBitmap& source, TPixelFormat format) {
    if (format == TPixelFormat::pfDevice || format == TPixelFormat::pfCustom) format = TPixelFormat::pf32bit;
    if (&source == this || format == source.format_ || source.bits_.empty()) {
        Assign(source);
        SetPixelFormat(format);
        return;
    }
    TBitmap converted;
    source.ConvertInto(converted, format);
    width_ = source.width_;
    height_ = source.height_;
    stride_ = converted.stride_;
    format_ = format;
    bits_ = std::move(converted.bits_);
    palette_ = std::move(converted.palette_);
    transparentColor_ = source.transparentColor_;
    transparentMode_ = source.transparentMode_;
    SetTransparent(source.Transparent());
}

void TBitmap::ConvertInto(TBitmap& converted, TPixelFormat format) const {
    converted.format_ = format;
    converted.Allocate(width_, height_, format);
    if (PaletteSize(format) > 0) {
        // Keep a palette of the same size; otherwise a grey ramp serves as the reduction target.
        if (palette_.size() == converted.palette_.size()) converted.palette_ = palette_;
        else
            for (size_t i = 0; i < converted.palette_.size(); ++i) {
                auto v = static_cast<uint8_t>(i * 255 / (converted.palette_.size() - 1));
                converted.palette_[i] = TRGBQuad{v, v, v, 0};
            }
    }
    if (format == TPixelFormat::pf32bit && format_ == TPixelFormat::pf24bit) {
        for (int y = 0; y < height_; ++y) {
            const uint8_t* s = static_cast<const uint8_t*>(ScanLine(y));
            uint32_t* d = converted.Row32(y);
            for (int x = 0; x < width_; ++x) d[x] = s[3 * x] | (s[3 * x + 1] << 8) | (s[3 * x + 2] << 16);
        }
    } else if (format == TPixelFormat::pf32bit && format_ == TPixelFormat::pf8bit) {
        uint32_t lut[256] = {};
        for (size_t i = 0; i < palette_.size() && i < 256; ++i)
            lut[i] = palette_[i].rgbBlue | (palette_[i].rgbGreen << 8) | (palette_[i].rgbRed << 16);
        for (int y = 0; y < height_; ++y) {
            const uint8_t* s = static_cast<const uint8_t*>(ScanLine(y));
            uint32_t* d = converted.Row32(y);
            for (int x = 0; x < width_; ++x) d[x] = lut[s[x]];
        }
    } else {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) converted.SetPixelColor(x, y, GetPixel(x, y));
    }
}

TCanvas& TBitmap::Canvas() {
    if (!canvas_) canvas_ = std::make_unique<TCanvas>(*this);
    return *canvas_;
}

void TBitmap::Assign(const TBitmap& source) {
    if (&source == this) return;
    width_ = source.width_;
    height_ = source.height_;
    stride_ = source.stride_;
    format_ = source.format_;
    bits_ = source.bits_;
    palette_ = source.palette_;
    transparentColor_ = source.transparentColor_;
    transparentMode_ = source.transparentMode_;
    SetTransparent(source.Transparent());
}

void TBitmap::TakeFrom(TBitmap& source) {
    if (&source == this) return;
    width_ = source.width_;
    height_ = source.height_;
    stride_ = source.stride_;
    format_ = source.format_;
    bits_ = std::move(source.bits_);
    palette_ = source.palette_;
    transparentColor_ = source.transparentColor_;
    transparentMode_ = source.transparentMode_;
    SetTransparent(source.Transparent());
    source.bits_.clear();
    source.Allocate(0, 0, source.format_);
}

void TBitmap::Assign(TGraphic* source) {
    if (!source) {
        Allocate(0, 0, format_ == TPixelFormat::pfDevice ? TPixelFormat::pf32bit : format_);
        return;
    }
    if (auto* bmp = dynamic_cast<TBitmap*>(source)) {
        Assign(*bmp);
        return;
    }
    source->AssignTo(*this);
}

void TBitmap::AssignTo(TBitmap& dest) { dest.Assign(*this); }

void TBitmap::AssignOver(TBitmap& dest, TColor) { dest.AssignAs(*this, TPixelFormat::pf32bit); }

TColor TBitmap::TransparentColor() const {
    if (transparentMode_ == TTransparentMode::tmFixed && transparentColor_ != clDefault) return transparentColor_;
    // Automatic mode takes the bottom-left pixel, as the framework does.
    return height_ > 0 && width_ > 0 ? GetPixel(0, height_ - 1) : clBlack;
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) {
    TRect src{0, 0, width_, height_};
    if (Transparent()) {
        if (rect.Width() == width_ && rect.Height() == height_) {
            canvas.BrushCopy(rect, *this, src, TransparentColor());
            return;
        }
        TBitmap stretched(rect.Width(), rect.Height());
        stretched.Canvas().CopyRect(TRect{0, 0, rect.Width(), rect.Height()}, Canvas(), src);
        canvas.BrushCopy(rect, stretched, TRect{0, 0, rect.Width(), rect.Height()}, TransparentColor());
        return;
    }
    canvas.CopyRect(rect, Canvas(), src);
}

QImage TBitmap::AsQImage() {
    SetPixelFormat(TPixelFormat::pf32bit);
    if (bits_.empty()) return QImage();
    return QImage(bits_.data(), width_, height_, stride_, QImage::Format_RGB32);
}

void TBitmap::FromQImage(const QImage& image) {
    QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    format_ = TPixelFormat::pf32bit;
    Allocate(rgb.width(), rgb.height(), TPixelFormat::pf32bit);
    for (int y = 0; y < height_; ++y) {
        const auto* s = reinterpret_cast<const uint32_t*>(rgb.constScanLine(y));
        uint32_t* d = Row32(y);
        for (int x = 0; x < width_; ++x) d[x] = s[x] & 0x00FFFFFF;
    }
}

// ---- orientation ----

TOrientationTurn OrientationTurn(int orientation) {
    TOrientationTurn t;
    if (orientation < 1 || orientation > 8) return t;
    t.transpose = orientation >= 5;
    t.flipX = orientation == 2 || orientation == 3 || orientation == 7 || orientation == 8;
    t.flipY = orientation == 3 || orientation == 4 || orientation == 6 || orientation == 7;
    return t;
}

namespace {
// The 32-bit pixels of photographs, a word at a time: rows are copied or reversed whole, and a
// transpose goes in square tiles, so that the source rows a tile reads stay in the cache for all of
// its rows.
void OrientUpright32(const std::vector<const uint8_t*>& rows, int w, int h, TOrientationTurn turn, TBitmap& out) {
    const int ow = out.Width(), oh = out.Height();
    if (!turn.transpose) {
        for (int y = 0; y < oh; ++y) {
            const auto* src = reinterpret_cast<const uint32_t*>(rows[turn.flipY ? h - 1 - y : y]);
            uint32_t* dst = out.Row32(y);
            if (turn.flipX) std::reverse_copy(src, src + w, dst);
            else std::copy(src, src + w, dst);
        }
        return;
    }
    constexpr int kTile = 64;
    for (int ty = 0; ty < oh; ty += kTile)
        for (int tx = 0; tx < ow; tx += kTile)
            for (int y = ty; y < std::min(ty + kTile, oh); ++y) {
                const int sx = turn.flipX ? w - 1 - y : y;
                uint32_t* dst = out.Row32(y);
                for (int x = tx; x < std::min(tx + kTile, ow); ++x)
                    dst[x] = reinterpret_cast<const uint32_t*>(rows[turn.flipY ? h - 1 - x : x])[sx];
            }
}
} // namespace

void OrientUpright(TBitmap& bmp, int orientation) {
    const TOrientationTurn turn = OrientationTurn(orientation);
    if (!turn.transpose && !turn.flipX && !turn.flipY) return;
    const int w = bmp.Width(), h = bmp.Height();
    const int bits = BitsPerPixel(bmp.PixelFormat()), bytes = bits / 8;
    TBitmap out;
    out.SetPixelFormat(bmp.PixelFormat());
    // 32-bit rows have no padding and every pixel is written; packed pixels are or-ed into cleared rows.
    if (bits == 32) out.SetSizeForOverwrite(turn.transpose ? h : w, turn.transpose ? w : h);
    else out.SetSize(turn.transpose ? h : w, turn.transpose ? w : h);
    out.SetPalette(bmp.Palette());
    std::vector<const uint8_t*> rows(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) rows[y] = static_cast<const uint8_t*>(bmp.ScanLine(y));
    if (bits == 32) {
        OrientUpright32(rows, w, h, turn, out);
        bmp.TakeFrom(out);
        return;
    }
    const unsigned mask = bits < 8 ? (1u << bits) - 1 : 0;
    for (int y = 0; y < out.Height(); ++y) {
        auto* dst = static_cast<uint8_t*>(out.ScanLine(y));
        for (int x = 0; x < out.Width(); ++x) {
            int sx = turn.transpose ? y : x, sy = turn.transpose ? x : y;
            if (turn.flipX) sx = w - 1 - sx;
            if (turn.flipY) sy = h - 1 - sy;
            const uint8_t* src = rows[sy];
            if (bits >= 8) {
                std::memcpy(dst + static_cast<int64_t>(x) * bytes, src + static_cast<int64_t>(sx) * bytes,
                            bytes);
            } else {
                // Packed pixels, the first in the high bits (the new bitmap starts cleared).
                const int64_t from = static_cast<int64_t>(sx) * bits, to = static_cast<int64_t>(x) * bits;
                const unsigned v = (src[from >> 3] >> (8 - bits - (from & 7))) & mask;
                dst[to >> 3] |= static_cast<uint8_t>(v << (8 - bits - (to & 7)));
            }
        }
    }
    bmp.TakeFrom(out);
}

// ---- TCanvas ----

static TRect Normalised(const TRect& r) {
    return TRect{std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right),
                 std::max(r.Top, r.Bottom)};
}

void TCanvas::FillRect(const TRect& rect) {
    if (Brush.Style == TBrushStyle::bsClear) return;
    TRect r = IntersectRect(Normalised(rect), ClipRect());
    if (r.IsEmpty()) return;
    if (bitmap_.PixelFormat() == TPixelFormat::pf32bit) {
        uint32_t p = ColorToPixel(Brush.Color);
        for (int y = r.Top; y < r.Bottom; ++y) std::fill(bitmap_.Row32(y) + r.Left, bitmap_.Row32(y) + r.Right, p);
        return;
    }
    for (int y = r.Top; y < r.Bottom; ++y)
        for (int x = r.Left; x < r.Right; ++x) bitmap_.SetPixelColor(x, y, Brush.Color);
}

void TCanvas::FrameRect(const TRect& rect) {
    TColor saved = Pen.Color;
    Pen.Color = Brush.Color;
    MoveTo(rect.Left, rect.Top);
    LineTo(rect.Right - 1, rect.Top);
    LineTo(rect.Right - 1, rect.Bottom - 1);
    LineTo(rect.Left, rect.Bottom - 1);
    LineTo(rect.Left, rect.Top);
    Pen.Color = saved;
}

void TCanvas::Rectangle(const TRect& rect) {
    FillRect(TRect{rect.Left + 1, rect.Top + 1, rect.Right - 1, rect.Bottom - 1});
    MoveTo(rect.Left, rect.Top);
    LineTo(rect.Right - 1, rect.Top);
    LineTo(rect.Right - 1, rect.Bottom - 1);
    LineTo(rect.Left, rect.Bottom - 1);
    LineTo(rect.Left, rect.Top);
}

void TCanvas::LineTo(int x, int y) {
    // Bresenham; the end point is included here, a harmless difference for our one-pixel frames.
    int x0 = penPos_.X, y0 = penPos_.Y;
    int dx = std::abs(x - x0), dy = -std::abs(y - y0), sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        bitmap_.SetPixelColor(x0, y0, Pen.Color);
        if (x0 == x && y0 == y) break;
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x0 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y0 += sy;
        }
    }
    penPos_ = TPoint{x, y};
}

void TCanvas::Draw(int x, int y, TGraphic& graphic) {
    graphic.Draw(*this, TRect{x, y, x + graphic.Width(), y + graphic.Height()});
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic& graphic) { graphic.Draw(*this, rect); }

void TCanvas::CopyRect(const TRect& destRect, TCanvas& source, const TRect& srcRect) {
    TBitmap& src = source.bitmap_;
    int dw = destRect.Width(), dh = destRect.Height(), sw = srcRect.Width(), sh = srcRect.Height();
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
    bool fast = src.PixelFormat() == TPixelFormat::pf32bit && bitmap_.PixelFormat() == TPixelFormat::pf32bit &&
                &src != &bitmap_;
    TRect clip = IntersectRect(destRect, ClipRect());
    if (clip.IsEmpty()) return;
    if (dw == sw && dh == sh) {
        for (int y = clip.Top; y < clip.Bottom; ++y) {
            int sy = srcRect.Top + (y - destRect.Top);
            if (sy < 0 || sy >= src.Height()) continue;
            int x0 = clip.Left, x1 = clip.Right;
            int sx0 = srcRect.Left + (x0 - destRect.Left);
            if (sx0 < 0) {
                x0 -= sx0;
                sx0 = 0;
            }
            x1 = std::min(x1, x0 + (src.Width() - sx0));
            if (x1 <= x0) continue;
            if (fast) std::memcpy(bitmap_.Row32(y) + x0, src.Row32(sy) + sx0, (x1 - x0) * 4);
            else
                for (int x = x0; x < x1; ++x) bitmap_.SetPixelColor(x, y, src.GetPixel(sx0 + x - x0, sy));
        }
        return;
    }
    // Nearest-neighbour stretch; the source coordinate is taken at each destination pixel's start.
    for (int y = clip.Top; y < clip.Bottom; ++y) {
        int sy = srcRect.Top + static_cast<int>((static_cast<int64_t>(y - destRect.Top) * sh) / dh);
        if (sy < 0 || sy >= src.Height()) continue;
        for (int x = clip.Left; x < clip.Right; ++x) {
            int sx = srcRect.Left + static_cast<int>((static_cast<int64_t>(x - destRect.Left) * sw) / dw);
            if (sx < 0 || sx >= src.Width()) continue;
            if (fast) bitmap_.Row32(y)[x] = src.Row32(sy)[sx];
            else bitmap_.SetPixelColor(x, y, src.GetPixel(sx, sy));
        }
    }
}

void TCanvas::BrushCopy(const TRect& destRect, TBitmap& source, const TRect& srcRect, TColor keyColor) {
    TColor key = ColorToRGB(keyColor);
    TRect clip = IntersectRect(destRect, ClipRect());
    for (int y = clip.Top; y < clip.Bottom; ++y) {
        int sy = srcRect.Top + y - destRect.Top;
        if (sy < 0 || sy >= source.Height()) continue;
        for (int x = clip.Left; x < clip.Right; ++x) {
            int sx = srcRect.Left + x - destRect.Left;
            if (sx < 0 || sx >= source.Width()) continue;
            TColor c = source.GetPixel(sx, sy);
            if (c != key) bitmap_.SetPixelColor(x, y, c);
        }
    }
}

std::string ScreenFontFamily(const std::string& name) {
    // The Japanese UI fonts of the original map onto the IPA fonts that Debian ships.
    if (name == "ＭＳ Ｐゴシック" || name == "MS PGothic" || name == "MS UI Gothic") return "IPAPGothic";
    if (name == "ＭＳ ゴシック" || name == "MS Gothic") return "IPAGothic";
    return name;
}

namespace {
QFont ToQFont(const TFont& font) {
    QFont f(QString::fromStdString(ScreenFontFamily(font.Name)));
    int px = font.Height() < 0 ? -font.Height() : std::max(1, font.Height() * 4 / 5);
    f.setPixelSize(std::max(1, px));
    f.setBold(font.Style & fsBold);
    f.setItalic(font.Style & fsItalic);
    f.setUnderline(font.Style & fsUnderline);
    f.setStrikeOut(font.Style & fsStrikeOut);
    if (font.Pitch == TFontPitch::fpFixed) f.setFixedPitch(true);
    return f;
}

QColor ToQColor(TColor c) {
    c = ColorToRGB(c);
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}
} // namespace

void TCanvas::TextOut(int x, int y, const std::string& text) {
    if (text.empty() || bitmap_.Width() <= 0 || bitmap_.Height() <= 0) return;
    bitmap_.SetPixelFormat(TPixelFormat::pf32bit);
    QImage image = bitmap_.AsQImage();
    QPainter painter(&image);
    QFont f = ToQFont(Font);
    painter.setFont(f);
    QFontMetrics fm(f);
    QString s = QString::fromStdString(text);
    if (Brush.Style == TBrushStyle::bsSolid)
        painter.fillRect(QRect(x, y, fm.horizontalAdvance(s), fm.height()), ToQColor(Brush.Color));
    painter.setPen(ToQColor(Font.Color));
    painter.drawText(x, y + fm.ascent(), s);
    painter.end();
    // Qt may set the unused byte; our pixels keep byte 3 at zero.
    TRect r = IntersectRect(TRect{x, y, x + fm.horizontalAdvance(s) + 2, y + fm.height()}, ClipRect());
    for (int row = r.Top; row < r.Bottom; ++row) {
        uint32_t* p = bitmap_.Row32(row);
        for (int col = r.Left; col < r.Right; ++col) p[col] &= 0x00FFFFFF;
    }
    penPos_ = TPoint{x + fm.horizontalAdvance(s), y};
}

void TCanvas::TextRect(const TRect& rect, int x, int y, const std::string& text) {
    if (text.empty()) return;
    TRect r = IntersectRect(rect, ClipRect());
    if (r.IsEmpty()) return;
    if (Brush.Style == TBrushStyle::bsSolid) FillRect(r);
    bitmap_.SetPixelFormat(TPixelFormat::pf32bit);
    QImage image = bitmap_.AsQImage();
    QPainter painter(&image);
    painter.setClipRect(QRect(r.Left, r.Top, r.Width(), r.Height()));
    QFont f = ToQFont(Font);
    painter.setFont(f);
    painter.setPen(ToQColor(Font.Color));
    painter.drawText(x, y + QFontMetrics(f).ascent(), QString::fromStdString(text));
    painter.end();
    for (int row = r.Top; row < r.Bottom; ++row) {
        uint32_t* p = bitmap_.Row32(row);
        for (int col = r.Left; col < r.Right; ++col) p[col] &= 0x00FFFFFF;
    }
}

TPoint TCanvas::TextExtent(const std::string& text) {
    QFontMetrics fm(ToQFont(Font));
    return TPoint{fm.horizontalAdvance(QString::fromStdString(text)), fm.height()};
}

int TCanvas::TextWidth(const std::string& text) { return TextExtent(text).X; }
int TCanvas::TextHeight(const std::string& text) { return TextExtent(text).Y; }

// ---- format registry ----

namespace {
struct FormatEntry {
    std::string extension;
    std::string description;
    TGraphicFactory factory;
};
std::mutex g_formatsMutex;
std::vector<FormatEntry>& Formats() {
    static std::vector<FormatEntry> formats;
    return formats;
}
std::string StripDot(const std::string& ext) { return !ext.empty() && ext[0] == '.' ? ext.substr(1) : ext; }
} // namespace

void RegisterFileFormat(const std::string& extension, const std::string& description, TGraphicFactory factory) {
    std::lock_guard lock(g_formatsMutex);
    Formats().push_back(FormatEntry{LowerCase(StripDot(extension)), description, std::move(factory)});
}

void UnregisterFileFormat(const std::string& extension) {
    std::lock_guard lock(g_formatsMutex);
    auto& f = Formats();
    std::string ext = LowerCase(StripDot(extension));
    f.erase(std::remove_if(f.begin(), f.end(), [&](const FormatEntry& e) { return e.extension == ext; }),
            f.end());
}

TGraphicFactory FindGraphicClass(const std::string& extension) {
    std::lock_guard lock(g_formatsMutex);
    std::string ext = LowerCase(StripDot(extension));
    auto& f = Formats();
    for (auto it = f.rbegin(); it != f.rend(); ++it)
        if (it->extension == ext) return it->factory;
    return nullptr;
}

std::vector<std::string> RegisteredExtensions() {
    std::lock_guard lock(g_formatsMutex);
    std::vector<std::string> r;
    for (auto& e : Formats())
        if (std::find(r.begin(), r.end(), e.extension) == r.end()) r.push_back(e.extension);
    return r;
}

void TPicture::LoadFromFile(const std::string& fileName) {
    std::string ext = ExtractFileExt(fileName);
    TGraphicFactory factory = FindGraphicClass(ext);
    if (!factory) throw EInvalidGraphic("Unknown picture file extension (" + ext + ")");
    std::unique_ptr<TGraphic> graphic = factory();
    graphic->OnProgress = OnProgress;
    graphic->LoadFromFile(fileName);
    graphic_ = std::move(graphic);
}

} // namespace lumora
