#pragma once
// Monitors, in system order with the primary marked, and the area they cover. Sizes and places are in
// device pixels: the saver paints pixel for pixel, whatever scale the desktop asks of Qt.

#include <vector>

#include "framework/Classes.h"

class QScreen;

namespace lumora {

struct TMonitor {
    TRect BoundsRect; // in its X screen's coordinates; may start at negative x or y
    bool Primary = false;
    int Screen = 0; // the X screen it belongs to (":0.1" is screen 1); each screen has its own desktop
    int Width() const { return BoundsRect.Width(); }
    int Height() const { return BoundsRect.Height(); }
};

class IScreens {
public:
    virtual ~IScreens() = default;
    virtual std::vector<TMonitor> Monitors() = 0;
};

IScreens& Screens();
void SetScreens(IScreens* screens); // nullptr = the real screens (RandR's monitors, else Qt's screens)

// Bounding box of all monitors (the virtual screen).
TRect DesktopRect();
int MonitorCount();
TMonitor Monitor(int index); // index out of range gives an empty record
int PrimaryMonitorIndex();

// Qt's screen on the given X screen (one of them when it has several monitors); nullptr when
// there is no such screen.
QScreen* QtScreenOf(int xScreen);

// Turns off Qt's scaling for this process; called before the application object exists. A window
// that covers monitors pixel for pixel has no use for logical pixels.
void UseDevicePixels();

// A fixed layout for tests.
class FakeScreens : public IScreens {
public:
    explicit FakeScreens(std::vector<TMonitor> monitors) : monitors_(std::move(monitors)) {}
    std::vector<TMonitor> Monitors() override { return monitors_; }
    std::vector<TMonitor> monitors_;
};

} // namespace lumora
