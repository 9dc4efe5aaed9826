#pragma once
// Foreign native windows (the preview box a control panel hands over by its window id): whether one
// still exists, its size, showing it, and making one of our widgets its child.

#include <cstdint>
#include <map>
#include <vector>

#include "framework/Classes.h"

class QWidget;
struct xcb_connection_t;

namespace lumora {

using TNativeHandle = uintptr_t;

class INativeWindows {
public:
    virtual ~INativeWindows() = default;
    virtual bool Exists(TNativeHandle window) = 0;
    // The window's client rectangle, (0, 0, width, height); false when the window does not exist.
    virtual bool ClientRect(TNativeHandle window, TRect& rect) = 0;
    virtual void Show(TNativeHandle window) = 0;
    // Makes the widget a child of the window at (0, 0); false when that is not possible.
    virtual bool Embed(QWidget* widget, TNativeHandle parent) = 0;
};

// The X connection Qt opened; nullptr outside an X11 session.
xcb_connection_t* QtXConnection();

// Whether an X server accepts a connection at $DISPLAY (false when DISPLAY is unset or empty).
bool XServerAnswers();

// The window named by XSCREENSAVER_WINDOW (hexadecimal with 0x, or decimal), in which desktop
// screensaver daemons have the programs they start draw; 0 when unset or not a window id.
TNativeHandle ScreenSaverDaemonWindow();

// The real windows are the X server's; without one nothing exists.
INativeWindows& NativeWindows();
void SetNativeWindows(INativeWindows* windows); // nullptr = the real ones

// Windows of a test: a table of sizes; embedding records the parent.
class FakeNativeWindows : public INativeWindows {
public:
    std::map<TNativeHandle, TRect> windows;
    std::vector<TNativeHandle> shown;
    std::map<QWidget*, TNativeHandle> embedded;
    bool Exists(TNativeHandle window) override { return windows.count(window) > 0; }
    bool ClientRect(TNativeHandle window, TRect& rect) override {
        auto it = windows.find(window);
        if (it == windows.end()) return false;
        rect = TRect{0, 0, it->second.Width(), it->second.Height()};
        return true;
    }
    void Show(TNativeHandle window) override { shown.push_back(window); }
    bool Embed(QWidget* widget, TNativeHandle parent) override {
        if (!Exists(parent)) return false;
        embedded[widget] = parent;
        return true;
    }
};

} // namespace lumora
