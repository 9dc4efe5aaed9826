#pragma once
// Copies of what the screens show, for the saver's first picture (the desktop before it is covered).

#include <cstdint>
#include <functional>
#include <vector>

#include "framework/Graphics.h"

namespace lumora {

// The mouse pointer's current picture: premultiplied ARGB pixels (rows top-down) and its hot spot.
struct TCursorImage {
    int Width = 0, Height = 0;
    TPoint HotSpot;
    std::vector<uint32_t> Pixels;
};

class IScreenGrabber {
public:
    virtual ~IScreenGrabber() = default;
    // Fills out (made 32-bit, area's size) with what X screen `screen` shows of area, in that
    // screen's device pixels; parts no monitor shows stay black. False when nothing could be read.
    virtual bool Grab(const TRect& area, TBitmap& out, int screen) = 0;
    // Where the mouse pointer is, in virtual-desktop coordinates.
    virtual TPoint CursorPos() = 0;
    // The pointer's picture as the display shows it now; false when the display cannot tell.
    virtual bool CursorImage(TCursorImage& image) = 0;
};

IScreenGrabber& ScreenGrabber();
void SetScreenGrabber(IScreenGrabber* grabber); // nullptr = the real screens (Qt)

// A desktop for tests: each pixel is given by a function of its desktop position (the same on every
// X screen unless pixel reads lastScreen).
class FakeScreenGrabber : public IScreenGrabber {
public:
    std::function<uint32_t(int x, int y)> pixel = [](int x, int y) { return uint32_t((x * 7 + y * 13) & 0xFFFFFF); };
    TPoint cursor;
    int grabs = 0;
    TRect lastArea;
    int lastScreen = 0;
    bool Grab(const TRect& area, TBitmap& out, int screen) override;
    TPoint CursorPos() override { return cursor; }
    TCursorImage cursorImage; // no pixels: no picture to give
    bool CursorImage(TCursorImage& image) override {
        image = cursorImage;
        return !cursorImage.Pixels.empty();
    }
};

} // namespace lumora
