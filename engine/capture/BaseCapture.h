#pragma once
// One-shot copies of the screen into a bitmap.

#include <memory>

#include "framework/Graphics.h"

namespace lumora {

class TBaseCapture {
public:
    virtual ~TBaseCapture() = default;
    bool CaptureCursor = false;
    int XScreen = 0; // the X screen whose desktop Capture reads

    // Bitmap becomes a new pf24bit bitmap of Width x Height filled with the screen from (X, Y)
    // (the X screen's device pixels; Wnd 0 = the whole screen). A zero or negative size raises
    // "Invalid region to capture. Check input values." with the new empty bitmap left in Bitmap.
    void Capture(int X, int Y, uintptr_t Wnd, std::unique_ptr<TBitmap>& Bitmap, int Height, int Width);
};

} // namespace lumora
