#include "platform/ScreenGrab.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

namespace lumora {

namespace {
class QtScreenGrabber : public IScreenGrabber {
public:
    bool Grab(const TRect& area, TBitmap& out) override {
        out.SetPixelFormat(TPixelFormat::pf32bit);
        out.SetSize(std::max(0, area.Width()), std::max(0, area.Height()));
        if (area.IsEmpty()) return false;
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
        bool any = false;
        for (QScreen* screen : QGuiApplication::screens()) {
            QRect g = screen->geometry();
            TRect part = IntersectRect(area, Bounds(g.x(), g.y(), g.width(), g.height()));
            if (part.IsEmpty()) continue;
            // Offsets are relative to the screen; the grab is scaled back to device-independent
            // pixels so it lines up with the screen's geometry.
            QPixmap pixmap = screen->grabWindow(0, part.Left - g.x(), part.Top - g.y(), part.Width(), part.Height());
            if (pixmap.isNull()) continue;
            QImage image = pixmap.toImage().convertToFormat(QImage::Format_RGB32);
            if (image.size() != QSize(part.Width(), part.Height()))
                image = image.scaled(part.Width(), part.Height());
            for (int y = 0; y < image.height(); ++y) {
                const auto* s = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
                uint32_t* d = out.Row32(part.Top - area.Top + y) + (part.Left - area.Left);
                for (int x = 0; x < image.width(); ++x) d[x] = s[x] & 0x00FFFFFF;
            }
            any = true;
        }
        return any;
    }
    TPoint CursorPos() override {
        QPoint p = QCursor::pos();
        return TPoint{p.x(), p.y()};
    }
};

IScreenGrabber* g_grabber = nullptr;
} // namespace

bool FakeScreenGrabber::Grab(const TRect& area, TBitmap& out) {
    ++grabs;
    lastArea = area;
    out.SetPixelFormat(TPixelFormat::pf32bit);
    out.SetSize(std::max(0, area.Width()), std::max(0, area.Height()));
    for (int y = 0; y < out.Height(); ++y)
        for (int x = 0; x < out.Width(); ++x) out.Row32(y)[x] = pixel(area.Left + x, area.Top + y) & 0x00FFFFFF;
    return !area.IsEmpty();
}

IScreenGrabber& ScreenGrabber() {
    static QtScreenGrabber real;
    return g_grabber ? *g_grabber : real;
}

void SetScreenGrabber(IScreenGrabber* grabber) { g_grabber = grabber; }

} // namespace lumora
