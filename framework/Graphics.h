#pragma once
// Colours, fonts, bitmaps, canvases and the picture classes with their file-extension registry.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/Classes.h"

class QImage;

namespace lumora {

// Colour value 0x00BBGGRR; negative values (high byte 0x80) name system colours.
using TColor = int32_t;

constexpr TColor clBlack = 0x000000, clMaroon = 0x000080, clGreen = 0x008000, clOlive = 0x008080,
                 clNavy = 0x800000, clPurple = 0x800080, clTeal = 0x808000, clGray = 0x808080,
                 clSilver = 0xC0C0C0, clRed = 0x0000FF, clLime = 0x00FF00, clYellow = 0x00FFFF,
                 clBlue = 0xFF0000, clFuchsia = 0xFF00FF, clAqua = 0xFFFF00, clWhite = 0xFFFFFF,
                 clLtGray = 0xC0C0C0, clDkGray = 0x808080, clMoneyGreen = 0xC0DCC0, clSkyBlue = 0xF0CAA6,
                 clCream = 0xF0FBFF, clMedGray = 0xA4A0A0;
constexpr TColor clNone = 0x1FFFFFFF, clDefault = 0x20000000;

// System colours: 0x80000000 | index of the system colour.
constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
constexpr TColor clScrollBar = clSystemColor | 0, clBackground = clSystemColor | 1,
                 clActiveCaption = clSystemColor | 2, clInactiveCaption = clSystemColor | 3,
                 clMenu = clSystemColor | 4, clWindow = clSystemColor | 5, clWindowFrame = clSystemColor | 6,
                 clMenuText = clSystemColor | 7, clWindowText = clSystemColor | 8,
                 clCaptionText = clSystemColor | 9, clActiveBorder = clSystemColor | 10,
                 clInactiveBorder = clSystemColor | 11, clAppWorkSpace = clSystemColor | 12,
                 clHighlight = clSystemColor | 13, clHighlightText = clSystemColor | 14,
                 clBtnFace = clSystemColor | 15, clBtnShadow = clSystemColor | 16, clGrayText = clSystemColor | 17,
                 clBtnText = clSystemColor | 18, clInactiveCaptionText = clSystemColor | 19,
                 clBtnHighlight = clSystemColor | 20, cl3DDkShadow = clSystemColor | 21,
                 cl3DLight = clSystemColor | 22, clInfoText = clSystemColor | 23, clInfoBk = clSystemColor | 24;

// A colour value as an RGB value (system colours resolved from the fixed classic palette).
TColor ColorToRGB(TColor color);
// The constant's name ("clBlack") where it has one, else "$" and eight hexadecimal digits.
std::string ColorToString(TColor color);
// Reverse of ColorToString; also accepts decimal and "$" hexadecimal. Throws EConvertError.
TColor StringToColor(const std::string& text);
bool IdentToColor(const std::string& ident, TColor& color);
inline uint8_t GetRValue(TColor c) { return static_cast<uint8_t>(c); }
inline uint8_t GetGValue(TColor c) { return static_cast<uint8_t>(c >> 8); }
inline uint8_t GetBValue(TColor c) { return static_cast<uint8_t>(c >> 16); }
inline TColor RGB(uint8_t r, uint8_t g, uint8_t b) { return r | (g << 8) | (b << 16); }
// A colour value as a 32-bit pixel: byte 0 blue, 1 green, 2 red, 3 zero.
inline uint32_t ColorToPixel(TColor c) {
    c = ColorToRGB(c);
    return (static_cast<uint32_t>(GetRValue(c)) << 16) | (GetGValue(c) << 8) | GetBValue(c);
}
inline TColor PixelToColor(uint32_t p) { return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF); }
// The pixel that shows `over` at opacity alpha (0 to 255) on `under`, each colour rounded; byte 3 zero.
inline uint32_t BlendPixel(uint32_t over, uint32_t under, unsigned alpha) {
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t o = (over >> shift) & 0xFF, u = (under >> shift) & 0xFF;
        out |= ((o * alpha + u * (255 - alpha) + 127) / 255) << shift;
    }
    return out;
}

enum TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = uint8_t; // bit set of TFontStyle
enum class TFontPitch { fpDefault = 0, fpVariable = 1, fpFixed = 2 };

// The family that stands for a font name of the original system on this one.
std::string ScreenFontFamily(const std::string& name);

// Font description. Size (points) and Height (pixels, negative = character height) are two views of
// one value at the screen's 96 dpi: Height = -Size * 96 / 72, rounded.
class TFont {
public:
    TFont();
    std::string Name = "MS Sans Serif";
    uint8_t Charset = 1; // DEFAULT_CHARSET
    TColor Color = clWindowText;
    TFontStyles Style = 0;
    TFontPitch Pitch = TFontPitch::fpDefault;

    int Size() const;
    void SetSize(int points);
    int Height() const { return height_; }
    void SetHeight(int pixels) { height_ = pixels; }
    void Assign(const TFont& other) { *this = other; }
    TNotifyEvent OnChange;

private:
    int height_ = -11;
};

enum class TBrushStyle { bsSolid, bsClear };
struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = TBrushStyle::bsSolid;
};
struct TPen {
    TColor Color = clBlack;
    int Width = 1;
};

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
int BitsPerPixel(TPixelFormat format);

struct TRGBQuad {
    uint8_t rgbBlue = 0, rgbGreen = 0, rgbRed = 0, rgbReserved = 0;
};

class TBitmap;
class TCanvas;

using TProgressStage = int; // 0 starting, 1 running, 2 ending
using TProgressEvent = std::function<void(void* sender, TProgressStage stage, uint8_t percent, bool redrawNow,
                                          const TRect& rect, const std::string& msg)>;

// Abstract picture: loads and saves itself from streams and draws itself on a canvas.
class TGraphic : public TObject {
public:
    ~TGraphic() override = default;
    virtual void LoadFromStream(TStream& stream) = 0;
    virtual void SaveToStream(TStream& stream);
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual bool Empty() const { return Width() <= 0 || Height() <= 0; }
    // Draws the picture into rect of the canvas, stretched to fit.
    virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;
    // Turns the picture into a bitmap; the default draws it onto a 32-bit bitmap of its size.
    virtual void AssignTo(TBitmap& dest);
    // What the picture shows laid over a colour, as dest's pixels: its transparent and part-transparent
    // pixels blended over it (dest then pf32bit and opaque). The default, for pictures without
    // transparency, assigns the picture as it is. AssignOverBackground is the way to call it.
    virtual void AssignOver(TBitmap& dest, TColor background);
    virtual bool Transparent() const { return transparent_; }
    virtual void SetTransparent(bool value) { transparent_ = value; }
    TProgressEvent OnProgress;
    TNotifyEvent OnChange;

protected:
    void Progress(TProgressStage stage, uint8_t percent, const std::string& msg = {});

private:
    bool transparent_ = false;
};

enum class TTransparentMode { tmAuto, tmFixed };

// Device-independent bitmap: rows top-down, each row padded to 4 bytes, new pixels zero.
class TBitmap : public TGraphic {
public:
    TBitmap();
    TBitmap(int width, int height, TPixelFormat format = TPixelFormat::pf32bit);
    ~TBitmap() override;
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    int Width() const override { return width_; }
    int Height() const override { return height_; }
    void SetWidth(int width) { SetSize(width, height_); }
    void SetHeight(int height) { SetSize(width_, height); }
    // Keeps the overlapping pixels; throws EOutOfMemory beyond the pixel budget.
    void SetSize(int width, int height);
    // As SetSize, but the pixels start undefined, sparing the clearing pass: only for a caller that
    // writes every byte of every row (padding included) before the bitmap is used.
    void SetSizeForOverwrite(int width, int height);
    TPixelFormat PixelFormat() const { return format_; }
    // Converts the pixels to the new format (to 32 bits exactly; to fewer bits by nearest palette entry).
    void SetPixelFormat(TPixelFormat format);

    void* ScanLine(int row);
    const void* ScanLine(int row) const;
    uint32_t* Row32(int row) { return static_cast<uint32_t*>(ScanLine(row)); }
    const uint32_t* Row32(int row) const { return static_cast<const uint32_t*>(ScanLine(row)); }
    int BytesPerLine() const { return stride_; }
    uint8_t* Bits() { return bits_.data(); }

    std::vector<TRGBQuad>& Palette() { return palette_; }
    const std::vector<TRGBQuad>& Palette() const { return palette_; }
    // Installs a palette of the format's size (missing entries black).
    void SetPalette(const std::vector<TRGBQuad>& palette);

    TCanvas& Canvas();
    // Copies another bitmap (or draws any other picture through its AssignTo).
    void Assign(TGraphic* source);
    void Assign(const TBitmap& source);
    // As Assign, but takes source's pixels without copying them; source is left empty (0 x 0).
    void TakeFrom(TBitmap& source);
    // As Assign followed by SetPixelFormat(format), without a copy at the source's format between.
    void AssignAs(const TBitmap& source, TPixelFormat format);

    TColor TransparentColor() const;
    void SetTransparentColor(TColor color) {
        transparentColor_ = color;
        transparentMode_ = TTransparentMode::tmFixed;
    }
    TTransparentMode TransparentMode() const { return transparentMode_; }
    void SetTransparentMode(TTransparentMode mode) { transparentMode_ = mode; }
    // 15/16-bit bitmaps: the 16-bit format is 5-6-5, the 15-bit 5-5-5.

    // Reads the pixel at (x, y) as a colour value, whatever the format.
    TColor GetPixel(int x, int y) const;
    void SetPixelColor(int x, int y, TColor color);

    void LoadFromStream(TStream& stream) override; // BMP
    void SaveToStream(TStream& stream) override;   // BMP
    void Draw(TCanvas& canvas, const TRect& rect) override;
    void AssignTo(TBitmap& dest) override;
    // Straight to the 32 bits a picture is shown at: a copy at the bitmap's own format first would
    // hold the picture once more while the 32-bit one is made.
    void AssignOver(TBitmap& dest, TColor background) override;

    // A 32-bit copy-free view for Qt painting (valid until the next size or format change).
    QImage AsQImage();
    // Builds a bitmap from a Qt image (converted to 32 bits).
    void FromQImage(const QImage& image);

private:
    // Leaves new bytes as they come, so Allocate decides whether to clear them.
    template <class T> struct TUnclearedAllocator : std::allocator<T> {
        template <class U> struct rebind {
            using other = TUnclearedAllocator<U>;
        };
        TUnclearedAllocator() = default;
        template <class U> TUnclearedAllocator(const TUnclearedAllocator<U>&) {}
        template <class U> void construct(U* p) { ::new (static_cast<void*>(p)) U; }
        template <class U, class... A> void construct(U* p, A&&... args) {
            ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
        }
    };

    void Allocate(int width, int height, TPixelFormat format, bool clear = true);
    // Fills converted (a new bitmap) with these pixels at another format.
    void ConvertInto(TBitmap& converted, TPixelFormat format) const;
    int width_ = 0, height_ = 0, stride_ = 0;
    TPixelFormat format_ = TPixelFormat::pfDevice;
    std::vector<uint8_t, TUnclearedAllocator<uint8_t>> bits_;
    std::vector<TRGBQuad> palette_;
    std::unique_ptr<TCanvas> canvas_;
    TColor transparentColor_ = clDefault;
    TTransparentMode transparentMode_ = TTransparentMode::tmAuto;
};

// The eight orientations of EXIF and TIFF name where a picture's stored first row and first column
// lie on the upright picture: 1 is upright, 2 to 4 mirror it, 5 to 8 also exchange rows and columns
// (5 transposes; to stand upright 6 turns a quarter clockwise, 8 a quarter anticlockwise). Upright
// pixel (x, y) is stored at column x and row y, the two exchanged when transposed, each then counted
// from the far side when flipped. Codes outside 1 to 8 are taken as upright.
struct TOrientationTurn {
    bool transpose = false, flipX = false, flipY = false;
};
TOrientationTurn OrientationTurn(int orientation);
// Turns a picture stored in the given orientation upright, in any pixel format.
void OrientUpright(TBitmap& bmp, int orientation);

// Lays a picture over a colour by the opacity of each pixel: dest (made pf32bit) shows each pixel
// blended over the background. clearness is an 8-bit bitmap of dest's size holding 255 minus each
// pixel's opacity; with premultiplied, dest's colours were already multiplied by their opacity. Every
// picture class that carries transparency shows it through here.
void BlendOverBackground(TBitmap& dest, const TBitmap& clearness, TColor background, bool premultiplied = false);
// dest := picture->AssignOver(dest, background); an empty dest for no picture.
void AssignOverBackground(TBitmap& dest, TGraphic* picture, TColor background);

// Drawing surface of a bitmap. Pixel operations are our own; text goes through Qt.
class TCanvas {
public:
    explicit TCanvas(TBitmap& bitmap) : bitmap_(bitmap) {}
    TFont Font;
    TBrush Brush;
    TPen Pen;

    TBitmap& Bitmap() { return bitmap_; }
    TRect ClipRect() const { return TRect{0, 0, bitmap_.Width(), bitmap_.Height()}; }
    void FillRect(const TRect& rect);
    void FrameRect(const TRect& rect);
    void Rectangle(const TRect& rect);
    void MoveTo(int x, int y) { penPos_ = TPoint{x, y}; }
    void LineTo(int x, int y);
    TColor Pixel(int x, int y) const { return bitmap_.GetPixel(x, y); }
    void SetPixel(int x, int y, TColor color) { bitmap_.SetPixelColor(x, y, color); }
    // Draws a picture at (x, y) in its own size; a transparent bitmap skips its transparent colour.
    void Draw(int x, int y, TGraphic& graphic);
    void StretchDraw(const TRect& rect, TGraphic& graphic);
    // Copies srcRect of source into destRect, stretching by nearest neighbour when sizes differ.
    void CopyRect(const TRect& destRect, TCanvas& source, const TRect& srcRect);
    // Copies source's rect skipping pixels equal to the key colour.
    void BrushCopy(const TRect& destRect, TBitmap& source, const TRect& srcRect, TColor keyColor);
    void TextOut(int x, int y, const std::string& text);
    void TextRect(const TRect& rect, int x, int y, const std::string& text);
    int TextWidth(const std::string& text);
    int TextHeight(const std::string& text);
    TPoint TextExtent(const std::string& text);

private:
    TBitmap& bitmap_;
    TPoint penPos_;
};

// Picture classes by file extension. Extensions are given without the dot ("jpg").
using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;
void RegisterFileFormat(const std::string& extension, const std::string& description, TGraphicFactory factory);
void UnregisterFileFormat(const std::string& extension);
// The latest registration of an extension wins; the comparison ignores case.
TGraphicFactory FindGraphicClass(const std::string& extension);
std::vector<std::string> RegisteredExtensions();

// Picture container: creates the graphic that the file's extension asks for.
class TPicture {
public:
    TPicture() = default;
    // Throws EInvalidGraphic("Unknown picture file extension (.xyz)") when nothing is registered.
    void LoadFromFile(const std::string& fileName);
    TGraphic* Graphic() const { return graphic_.get(); }
    void SetGraphic(std::unique_ptr<TGraphic> graphic) { graphic_ = std::move(graphic); }
    int Width() const { return graphic_ ? graphic_->Width() : 0; }
    int Height() const { return graphic_ ? graphic_->Height() : 0; }
    TProgressEvent OnProgress;

private:
    std::unique_ptr<TGraphic> graphic_;
};

} // namespace lumora
