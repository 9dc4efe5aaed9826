#include "engine/BaseCapture.h"

#include "platform/ScreenGrab.h"

namespace lumora {

namespace {
// A plain arrow pointer, drawn when the capture includes the cursor: black outline, white body.
const char* const kArrow[] = {
    "X           ", "XX          ", "X.X         ", "X..X        ", "X...X       ", "X....X      ",
    "X.....X     ", "X......X    ", "X.......X   ", "X........X  ", "X.....XXXXX ", "X..X..X     ",
    "X.X X..X    ", "XX  X..X    ", "X    X..X   ", "     X..X   ", "      XX    ",
};

void DrawArrow(TBitmap& bmp, int x0, int y0) {
    for (int row = 0; row < int(std::size(kArrow)); ++row)
        for (int col = 0; kArrow[row][col]; ++col) {
            char c = kArrow[row][col];
            if (c == ' ') continue;
            bmp.SetPixelColor(x0 + col, y0 + row, c == 'X' ? clBlack : clWhite);
        }
}
} // namespace

void TBaseCapture::Capture(int X, int Y, uintptr_t, std::unique_ptr<TBitmap>& Bitmap, int Height, int Width) {
    Bitmap = std::make_unique<TBitmap>();
    Bitmap->SetPixelFormat(TPixelFormat::pf24bit);
    if (Width <= 0 || Height <= 0) throw Exception("Invalid region to capture. Check input values.");
    TBitmap screen;
    // A failed grab leaves the bitmap blank, as a device that cannot be read did.
    if (!ScreenGrabber().Grab(Bounds(X, Y, Width, Height), screen, XScreen) || screen.Width() != Width ||
        screen.Height() != Height) {
        Bitmap->SetSize(Width, Height);
        return;
    }
    if (CaptureCursor) {
        TPoint p = ScreenGrabber().CursorPos();
        DrawArrow(screen, p.X - X, p.Y - Y);
    }
    screen.SetPixelFormat(TPixelFormat::pf24bit);
    Bitmap->Assign(screen);
}

} // namespace lumora
