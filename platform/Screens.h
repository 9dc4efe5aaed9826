#pragma once
// Monitors, in system order with the primary marked, and the area they cover.

#include <vector>

#include "framework/Classes.h"

namespace lumora {

struct TMonitor {
    TRect BoundsRect; // in virtual-screen coordinates; may start at negative x or y
    bool Primary = false;
    int Width() const { return BoundsRect.Width(); }
    int Height() const { return BoundsRect.Height(); }
};

class IScreens {
public:
    virtual ~IScreens() = default;
    virtual std::vector<TMonitor> Monitors() = 0;
};

IScreens& Screens();
void SetScreens(IScreens* screens); // nullptr = the real screens (Qt)

// Bounding box of all monitors (the virtual screen).
TRect DesktopRect();
int MonitorCount();
TMonitor Monitor(int index); // index out of range gives an empty record
int PrimaryMonitorIndex();

// A fixed layout for tests.
class FakeScreens : public IScreens {
public:
    explicit FakeScreens(std::vector<TMonitor> monitors) : monitors_(std::move(monitors)) {}
    std::vector<TMonitor> Monitors() override { return monitors_; }
    std::vector<TMonitor> monitors_;
};

} // namespace lumora
