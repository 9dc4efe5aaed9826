#pragma once
// Colour reduction for GIF frames: fixed palettes, nearest-colour lookups, error-diffusion ditherers,
// the octree quantiser, and the row writer that builds an 8- or 24-bit bitmap.

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/Graphics.h"
#include "pictures/common/PaletteRoutines.h"

namespace lumora {

// Palettes owned by the caller.
std::shared_ptr<TLogPalette> WebPalette();       // 216 colours, red slowest, blue fastest
std::shared_ptr<TLogPalette> SystemPalette20();  // the 20 reserved colours of a palette display
std::shared_ptr<TLogPalette> HalftonePalette();  // 256 colours spread over the cube
std::shared_ptr<TLogPalette> GrayPalette(int levels, const uint8_t* values = nullptr);
std::shared_ptr<TLogPalette> FourGrayPalette();  // 0, 128, 192, 255
std::shared_ptr<TLogPalette> MonochromePalette(); // black and white

// Nearest palette index of a colour, with the colour at that index.
class TColorLookup {
public:
    explicit TColorLookup(int colors) : Colors(colors) {}
    virtual ~TColorLookup() = default;
    virtual int Lookup(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) = 0;
    int Colors;
};

// Any palette; answers cached per colour cut to 5 bits a channel.
class TFastColorLookup : public TColorLookup {
public:
    explicit TFastColorLookup(const TLogPalette& palette);
    int Lookup(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) override;

private:
    std::vector<TPaletteEntry> entries_;
    std::vector<uint16_t> cache_;
};

class TNetscapeColorLookup : public TColorLookup {
public:
    TNetscapeColorLookup() : TColorLookup(216) {}
    int Lookup(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) override;
};

class TGrayScaleLookup : public TColorLookup {
public:
    TGrayScaleLookup() : TColorLookup(256) {}
    int Lookup(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) override;
};

class TMonochromeLookup : public TColorLookup {
public:
    TMonochromeLookup() : TColorLookup(2) {}
    int Lookup(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) override;
};

// Nearest colour without diffusion. Every ditherer walks the rows in alternating directions: the
// caller feeds the pixels of a row from Column on, stepping by Direction, then calls NextLine.
class TDitherEngine {
public:
    TDitherEngine(int width, TColorLookup& lookup) : Width(width), lookup_(lookup) {}
    virtual ~TDitherEngine() = default;
    virtual int Dither(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b);
    virtual void NextLine();
    int Direction = 1;
    int Column = 0;
    const int Width;

protected:
    TColorLookup& lookup_;
};

class TFloydSteinbergDitherer : public TDitherEngine {
public:
    TFloydSteinbergDitherer(int width, TColorLookup& lookup);
    int Dither(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) override;
    void NextLine() override;

private:
    std::vector<int> row_[3];
    int running_[3] = {}, below_[3] = {}, nextBelow_[3] = {};
};

// Diffusion by a kernel over the current row and the rows after it.
class TKernelDitherer : public TDitherEngine {
public:
    struct Tap {
        int dy, dx, weight;
    };
    TKernelDitherer(int width, TColorLookup& lookup, std::vector<Tap> kernel, int divisor);
    int Dither(int red, int green, int blue, uint8_t& r, uint8_t& g, uint8_t& b) override;
    void NextLine() override;

private:
    std::vector<Tap> kernel_;
    int divisor_, guard_, rows_;
    std::vector<std::vector<int>> errors_[3]; // per channel, the current row first
};

class TStuckiDitherer : public TKernelDitherer {
public:
    TStuckiDitherer(int width, TColorLookup& lookup);
};
class TSierraDitherer : public TKernelDitherer {
public:
    TSierraDitherer(int width, TColorLookup& lookup);
};
class TJaJuNiDitherer : public TKernelDitherer {
public:
    TJaJuNiDitherer(int width, TColorLookup& lookup);
};
class TSteveArcheDitherer : public TKernelDitherer {
public:
    TSteveArcheDitherer(int width, TColorLookup& lookup);
};
class TBurkesDitherer : public TKernelDitherer {
public:
    TBurkesDitherer(int width, TColorLookup& lookup);
};

// The ditherer for a dither mode (0..6), or none.
std::unique_ptr<TDitherEngine> CreateDitherer(uint8_t ditherMode, int width, TColorLookup& lookup);

// An octree palette of at most maxColors colours for a 24-bit bitmap; with keepSystemColors the
// 20 system colours take entries 0..9 and 246..255 and the quantised ones start at entry 10.
std::shared_ptr<TLogPalette> CreateOptimizedPalette(const TBitmap& source24, int maxColors, int colorBits,
                                                    bool keepSystemColors);

// Builds the rows of a new 8-bit (with a palette) or 24-bit bitmap and hands them to the target
// when committed or freed.
class TDIBWriter {
public:
    TDIBWriter(TBitmap& target, const TLogPalette* palette, int height, int width, TPixelFormat format);
    ~TDIBWriter();
    TDIBWriter(const TDIBWriter&) = delete;
    TDIBWriter& operator=(const TDIBWriter&) = delete;
    uint8_t* ScanLine(int row);
    void Commit();

private:
    TBitmap& target_;
    std::vector<TRGBQuad> palette_;
    int height_, width_;
    TPixelFormat format_;
    std::unique_ptr<TBitmap> rows_;
};

// A new bitmap with the source reduced to a palette: 8 bits with the palette of the reduction (or a
// 24-bit copy for reduction 0). The source is set to 24 bits per pixel. An unknown reduction or
// dither mode gives an empty bitmap. colorsOut receives the palette's size.
std::unique_ptr<TBitmap> ReduceColors(TBitmap& bitmap, uint8_t colorReduction, uint8_t ditherMode, int reductionBits,
                                      const TLogPalette* customPalette, int* colorsOut = nullptr);

} // namespace lumora
