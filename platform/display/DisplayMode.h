#pragma once
// The display's current mode as the X server reports it: size, colour depth, palette and refresh
// rate; a fake stands in for tests.

#include <optional>

namespace lumora {

struct TDisplayMode {
    int Width = 0, Height = 0;
    int BitsPerPixel = 0, Planes = 1;
    bool HasPalette = false; // a colour-mapped visual
    int PaletteSize = 0;
    int RefreshRate = 0; // hertz; 0 when the server does not say
};

class IDisplayModeSource {
public:
    virtual ~IDisplayModeSource() = default;
    // Nothing when no display answers.
    virtual std::optional<TDisplayMode> Current() = 0;
};

// The real source asks the X server (depth and visual from its default screen, the refresh rate
// through RandR).
IDisplayModeSource& DisplayModeSource();
void SetDisplayModeSource(IDisplayModeSource* source); // nullptr = the real one

class FakeDisplayModeSource : public IDisplayModeSource {
public:
    std::optional<TDisplayMode> mode;
    int queries = 0;
    std::optional<TDisplayMode> Current() override {
        ++queries;
        return mode;
    }
};

} // namespace lumora
