#include "engine/capture/BaseCapture.h"

#include <algorithm>

#include "platform/display/ScreenGrab.h"

namespace lumora {

namespace {
// Lays a premultiplied ARGB picture over the bitmap with its top left at (x0, y0).
void DrawCursor(TBitmap& bmp, const TCursorImage& cursor, int x0, int y0) {
    for (int row = 0; row < cursor.Height; ++row) {
        const int y = y0 + row;
        if (y < 0 || y >= bmp.Height()) continue;
        uint32_t* line = bmp.Row32(y);
        for (int col = 0; col < cursor.Width; ++col) {
            const int x = x0 + col;
            if (x < 0 || x >= bmp.Width()) continue;
            const uint32_t src = cursor.Pixels[static_cast<size_t>(row) * cursor.Width + col];
            const uint32_t alpha = src >> 24, dst = line[x];
            uint32_t out = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                const uint32_t channel = ((src >> shift) & 0xFF) + (((dst >> shift) & 0xFF) * (255 - alpha) + 127) / 255;
                out |= std::min<uint32_t>(channel, 255) << shift;
            }
            line[x] = out;
        }
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
    TCursorImage cursor;
    if (CaptureCursor && ScreenGrabber().CursorImage(cursor) &&
        cursor.Pixels.size() == static_cast<size_t>(cursor.Width) * static_cast<size_t>(cursor.Height)) {
        const TPoint p = ScreenGrabber().CursorPos();
        DrawCursor(screen, cursor, p.X - cursor.HotSpot.X - X, p.Y - cursor.HotSpot.Y - Y);
    }
    screen.SetPixelFormat(TPixelFormat::pf24bit);
    Bitmap->Assign(screen);
}

} // namespace lumora
