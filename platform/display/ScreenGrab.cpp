#include "platform/display/ScreenGrab.h"

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cmath>

#include "platform/display/Screens.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

namespace lumora {

namespace {
class QtScreenGrabber : public IScreenGrabber {
public:
    bool Grab(const TRect& area, TBitmap& out, int xScreen) override {
        out.SetPixelFormat(TPixelFormat::pf32bit);
        out.SetSize(std::max(0, area.Width()), std::max(0, area.Height()));
        if (area.IsEmpty()) return false;
        QScreen* first = QtScreenOf(xScreen);
        if (!first) return false;
        bool any = false;
        for (QScreen* screen : first->virtualSiblings()) {
            // The area is in device pixels; Qt takes offsets relative to the screen in its own
            // pixels, and the grab is made to line up with the device pixels it stands for.
            const QRect g = screen->geometry();
            const double ratio = screen->devicePixelRatio();
            TRect device = Bounds(g.x(), g.y(), static_cast<int>(std::lround(g.width() * ratio)),
                                  static_cast<int>(std::lround(g.height() * ratio)));
            TRect part = IntersectRect(area, device);
            if (part.IsEmpty()) continue;
            QPixmap pixmap = screen->grabWindow(
                0, static_cast<int>((part.Left - g.x()) / ratio), static_cast<int>((part.Top - g.y()) / ratio),
                static_cast<int>(std::ceil(part.Width() / ratio)), static_cast<int>(std::ceil(part.Height() / ratio)));
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
    bool CursorImage(TCursorImage& image) override {
        // The X server's XFixes extension gives the picture of whatever cursor is shown now.
        auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        Display* display = x11 ? x11->display() : nullptr;
        if (!display) return false;
        int eventBase = 0, errorBase = 0;
        if (!XFixesQueryExtension(display, &eventBase, &errorBase)) return false;
        XFixesCursorImage* cursor = XFixesGetCursorImage(display);
        if (!cursor) return false;
        image.Width = cursor->width;
        image.Height = cursor->height;
        image.HotSpot = TPoint{cursor->xhot, cursor->yhot};
        image.Pixels.resize(static_cast<size_t>(cursor->width) * cursor->height);
        // Each pixel comes in an unsigned long whose low 32 bits hold it.
        for (size_t i = 0; i < image.Pixels.size(); ++i) image.Pixels[i] = static_cast<uint32_t>(cursor->pixels[i]);
        XFree(cursor);
        return !image.Pixels.empty();
    }
};

IScreenGrabber* g_grabber = nullptr;
} // namespace

bool FakeScreenGrabber::Grab(const TRect& area, TBitmap& out, int screen) {
    ++grabs;
    lastArea = area;
    lastScreen = screen;
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
