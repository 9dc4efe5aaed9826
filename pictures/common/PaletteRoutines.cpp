#include "pictures/common/PaletteRoutines.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/display/DisplayMode.h"
#include "platform/display/Screens.h"
#include "platform/system/System.h"

namespace lumora {

int64_t RowLength(int64_t width, int bitsPerPixel) { return (((width * bitsPerPixel + 7) / 8) + 3) & ~int64_t(3); }

int NearestIndex(const TPaletteEntry* entries, TColor color, int count) {
    if (!entries || count <= 0) return -1;
    const int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    int best = 0, bestDistance = 1 << 30;
    for (int i = 0; i < count; ++i) {
        const int d = std::abs(entries[i].peRed - r) + std::abs(entries[i].peGreen - g) + std::abs(entries[i].peBlue - b);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
            if (d == 0) break;
        }
    }
    return best;
}

int NearestIndex(const TLogPalette* palette, TColor color) {
    if (!palette || palette->Entries.empty()) return -1;
    return NearestIndex(palette->Entries.data(), color, static_cast<int>(std::min<size_t>(palette->Entries.size(), 256)));
}

TLogPalette CreatePaletteFromEntries(const TRGBQuad* entries, int count) {
    TLogPalette p;
    for (int i = 0; i < count; ++i)
        p.Entries.push_back(TPaletteEntry{entries[i].rgbRed, entries[i].rgbGreen, entries[i].rgbBlue, 0});
    return p;
}

int PaletteToEntries(const TLogPalette& palette, TRGBQuad* buffer) {
    const int n = static_cast<int>(std::min<size_t>(palette.Entries.size(), 256));
    for (int i = 0; i < n; ++i) {
        const auto& e = palette.Entries[i];
        buffer[i] = TRGBQuad{e.peBlue, e.peGreen, e.peRed, 0};
    }
    return n;
}

HPALETTE PaletteOfBitmap(const TBitmap& bitmap) {
    const std::vector<TRGBQuad>& entries = bitmap.Palette();
    if (entries.empty()) return nullptr;
    return std::make_shared<const TLogPalette>(CreatePaletteFromEntries(entries.data(), static_cast<int>(entries.size())));
}

void SetBitmapPalette(TBitmap& bitmap, const HPALETTE& palette) {
    if (!palette) return;
    std::vector<TRGBQuad> entries(256);
    entries.resize(static_cast<size_t>(PaletteToEntries(*palette, entries.data())));
    bitmap.SetPalette(entries);
}

int MakeGreyRamp(TRGBQuad* buffer, int depth) {
    const int count = depth == 1 ? 2 : depth == 2 ? 4 : depth == 4 ? 16 : 256;
    const int step = 255 / (count - 1);
    for (int i = 0; i < count; ++i) {
        auto v = static_cast<uint8_t>(i * step);
        buffer[i] = TRGBQuad{v, v, v, 0};
    }
    return count;
}

TDisplayFacts AskDisplayFacts() {
    TDisplayFacts facts;
    if (std::optional<TDisplayMode> mode = DisplayModeSource().Current()) {
        facts.HasPalette = mode->HasPalette;
        facts.PaletteSize = mode->PaletteSize;
        facts.BitsPerPixel = mode->BitsPerPixel;
        facts.Planes = mode->Planes;
        if (mode->RefreshRate > 0) facts.RefreshRate = mode->RefreshRate;
    }
    return facts;
}

const TDisplayFacts& DisplayFacts() {
    static const TDisplayFacts facts = AskDisplayFacts();
    return facts;
}

TSystemInfo::TSystemInfo() {
    TRect desktop = Monitor(PrimaryMonitorIndex()).BoundsRect;
    ScreenWidth = desktop.Width();
    ScreenHeight = desktop.Height();
    const TDisplayFacts d = AskDisplayFacts();
    if (d.HasPalette) {
        switch (d.PaletteSize) {
        case 2: ColorBits = 1; break;
        case 16: ColorBits = 4; break;
        case 256: ColorBits = 8; break;
        case 65536: ColorBits = 16; break;
        default: ColorBits = 0; break;
        }
    } else {
        ColorBits = d.BitsPerPixel * d.Planes;
    }
    utsname u{};
    if (uname(&u) == 0) {
        unsigned major = 0, minor = 0, build = 0;
        std::sscanf(u.release, "%u.%u.%u", &major, &minor, &build);
        Version.Major = major;
        Version.Minor = minor;
        Version.Build = build;
    }
    const bool nt = OSLine() == TOSLine::NT;
    Version.PlatformId = nt ? 2 : 1;
    // The 9x line reports a refresh rate only from version 4.10 on.
    if (nt || Version.Major > 4 || (Version.Major == 4 && Version.Minor >= 10)) RefreshRate = d.RefreshRate;
}

TSystemInfo::~TSystemInfo() {
    // Nothing changes the display mode here, so there is nothing to put back.
    DisplayModeChanged = false;
}

namespace {
std::unique_ptr<TSystemInfo> g_systemInfo;
std::once_flag g_systemInfoOnce;
} // namespace

void CreateSystemInfo() {
    std::call_once(g_systemInfoOnce, [] { g_systemInfo = std::make_unique<TSystemInfo>(); });
}

TSystemInfo* SystemInfo() { return g_systemInfo.get(); }

} // namespace lumora
