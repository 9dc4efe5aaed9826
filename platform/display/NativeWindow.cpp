#include "platform/display/NativeWindow.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include <xcb/xcb.h>

namespace lumora {

xcb_connection_t* QtXConnection() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app) return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

bool XServerAnswers() {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return false;
    xcb_connection_t* c = xcb_connect(display, nullptr);
    const bool answers = !xcb_connection_has_error(c);
    xcb_disconnect(c);
    return answers;
}

namespace {

// Requests through xcb report a missing window as an error reply instead of calling an error
// handler that would end the program.
class X11Windows : public INativeWindows {
public:
    bool Exists(TNativeHandle window) override {
        TRect r;
        return ClientRect(window, r);
    }
    bool ClientRect(TNativeHandle window, TRect& rect) override {
        xcb_connection_t* c = QtXConnection();
        if (!c || window == 0 || window > 0xFFFFFFFFu) return false;
        xcb_generic_error_t* error = nullptr;
        xcb_get_geometry_reply_t* reply =
            xcb_get_geometry_reply(c, xcb_get_geometry(c, static_cast<xcb_drawable_t>(window)), &error);
        std::free(error);
        if (!reply) return false;
        rect = TRect{0, 0, reply->width, reply->height};
        std::free(reply);
        return true;
    }
    void Show(TNativeHandle window) override {
        xcb_connection_t* c = QtXConnection();
        if (!c || window == 0 || window > 0xFFFFFFFFu) return;
        xcb_map_window(c, static_cast<xcb_window_t>(window));
        xcb_flush(c);
    }
    bool Embed(QWidget* widget, TNativeHandle parent) override {
        if (!Exists(parent)) return false;
        QWindow* foreign = QWindow::fromWinId(static_cast<WId>(parent));
        if (!foreign) return false;
        widget->setAttribute(Qt::WA_NativeWindow);
        widget->winId();
        QWindow* own = widget->windowHandle();
        if (!own) return false;
        own->setParent(foreign);
        widget->move(0, 0);
        return true;
    }
};

INativeWindows* g_windows = nullptr;
} // namespace

TNativeHandle ScreenSaverDaemonWindow() {
    const char* text = std::getenv("XSCREENSAVER_WINDOW");
    if (!text || !*text) return 0;
    errno = 0;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text, &end, 0);
    while (end && std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (errno || !end || *end || *text == '-' || value > 0xFFFFFFFFu) return 0;
    return static_cast<TNativeHandle>(value);
}

INativeWindows& NativeWindows() {
    static X11Windows real;
    return g_windows ? *g_windows : real;
}

void SetNativeWindows(INativeWindows* windows) { g_windows = windows; }

} // namespace lumora
