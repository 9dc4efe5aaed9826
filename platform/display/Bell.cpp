#include "platform/display/Bell.h"

#include <QGuiApplication>

#include <X11/Xlib.h>

namespace lumora {

namespace {

class X11Bell : public IBell {
public:
    void Ring() override {
        Display* shared = nullptr;
        if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
            if (auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>()) shared = x11->display();
        // Outside a Qt X11 session the display named by $DISPLAY is asked directly.
        Display* dpy = shared ? shared : XOpenDisplay(nullptr);
        if (!dpy) return;
        XBell(dpy, 0);
        if (shared) XFlush(dpy);
        else XCloseDisplay(dpy);
    }
};

IBell* g_bell = nullptr;

} // namespace

IBell& Bell() {
    static X11Bell real;
    return g_bell ? *g_bell : real;
}

void SetBell(IBell* bell) { g_bell = bell; }

} // namespace lumora
