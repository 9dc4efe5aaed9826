#pragma once
// Palette routines of the PNG codec and the system information object.

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/Graphics.h"

namespace lumora {

// A logical palette entry: red, green, blue, flags (the codec's buffers hold blue, green, red, 0).
struct TPaletteEntry {
    uint8_t peRed = 0, peGreen = 0, peBlue = 0, peFlags = 0;
    bool operator==(const TPaletteEntry&) const = default;
};
// A logical palette (version 0x300) standing in for a palette handle.
struct TLogPalette {
    uint16_t Version = 0x300;
    std::vector<TPaletteEntry> Entries;
};
// A palette handle: shared, never changed once made.
using HPALETTE = std::shared_ptr<const TLogPalette>;
// A bitmap's palette as a handle, or none when it has no palette; and back into a bitmap.
HPALETTE PaletteOfBitmap(const TBitmap& bitmap);
void SetBitmapPalette(TBitmap& bitmap, const HPALETTE& palette);

// Bytes per row rounded up to a multiple of four.
int64_t RowLength(int64_t width, int bitsPerPixel);
// Index of the entry nearest to color (0x00BBGGRR) by the sum of absolute channel differences; the
// first exact match ends the search and the earlier entry wins a tie. -1 when count is 0.
int NearestIndex(const TPaletteEntry* entries, TColor color, int count);
// The same over a palette's entries (at most 256); -1 without a palette or entries.
int NearestIndex(const TLogPalette* palette, TColor color);
TLogPalette CreatePaletteFromEntries(const TRGBQuad* entries, int count);
// Writes at most 256 entries as blue, green, red, 0; returns their count.
int PaletteToEntries(const TLogPalette& palette, TRGBQuad* buffer);
// 2, 4, 16 or 256 grey levels for depths 1, 2, 4 and any other; returns the count.
int MakeGreyRamp(TRGBQuad* buffer, int depth);

// What the display offers: asked of the X server, with fixed values (32 bits, 60 Hz) only where no
// display answers.
struct TDisplayFacts {
    bool HasPalette = false;
    int PaletteSize = 0;
    int BitsPerPixel = 32;
    int Planes = 1;
    int RefreshRate = 60;
};
TDisplayFacts AskDisplayFacts();
// The facts asked once, on first use.
const TDisplayFacts& DisplayFacts();

struct TOSVersionInfo {
    uint32_t Size = 148;
    uint32_t Major = 0, Minor = 0, Build = 0, PlatformId = 0;
    char CSDVersion[128] = {};
};

class TSystemInfo {
public:
    TSystemInfo();
    ~TSystemInfo();
    int ScreenWidth = 0, ScreenHeight = 0;
    int ColorBits = 0;
    bool DisplayModeChanged = false;
    int RefreshRate = 0;
    TOSVersionInfo Version;
};

// The one instance: created when the picture formats start (and only then), freed at exit.
void CreateSystemInfo();
TSystemInfo* SystemInfo();

} // namespace lumora
