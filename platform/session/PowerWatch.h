#pragma once
// The monitor power-saving command: the display's power state is watched, and the moment it leaves
// "on" (standby, suspend or off) counts as the system asking the saver to let the monitor sleep.

#include <functional>

#include "framework/Forms.h"

namespace lumora {

enum class TMonitorPower { On, Standby, Suspend, Off };

class IDisplayPower {
public:
    virtual ~IDisplayPower() = default;
    virtual TMonitorPower State() = 0;
};

// The real source reads the X server's display power state; without one the monitor counts as on.
IDisplayPower& DisplayPower();
void SetDisplayPower(IDisplayPower* source); // nullptr = the real one

class FakeDisplayPower : public IDisplayPower {
public:
    TMonitorPower state = TMonitorPower::On;
    TMonitorPower State() override { return state; }
};

// Polls the display power state on a framework timer and raises OnMonitorPower once per change
// from "on" to a power-saving state.
class TPowerWatch {
public:
    explicit TPowerWatch(uint32_t pollMs = 500);
    void SetActive(bool active);
    bool Active() const { return timer_.Enabled(); }
    std::function<void()> OnMonitorPower;

private:
    void Poll();
    TTimer timer_;
    TMonitorPower last_ = TMonitorPower::On;
};

} // namespace lumora
