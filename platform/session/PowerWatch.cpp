#include "platform/session/PowerWatch.h"

#include <QGuiApplication>

#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

namespace lumora {

namespace {
class X11DisplayPower : public IDisplayPower {
public:
    TMonitorPower State() override {
        auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        if (!app) return TMonitorPower::On;
        auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
        Display* dpy = x11 ? x11->display() : nullptr;
        if (!dpy) return TMonitorPower::On;
        int eventBase = 0, errorBase = 0;
        if (!DPMSQueryExtension(dpy, &eventBase, &errorBase) || !DPMSCapable(dpy)) return TMonitorPower::On;
        CARD16 level = DPMSModeOn;
        BOOL enabled = False;
        if (!DPMSInfo(dpy, &level, &enabled) || !enabled) return TMonitorPower::On;
        switch (level) {
        case DPMSModeStandby: return TMonitorPower::Standby;
        case DPMSModeSuspend: return TMonitorPower::Suspend;
        case DPMSModeOff: return TMonitorPower::Off;
        default: return TMonitorPower::On;
        }
    }
};

IDisplayPower* g_source = nullptr;
} // namespace

IDisplayPower& DisplayPower() {
    static X11DisplayPower real;
    return g_source ? *g_source : real;
}

void SetDisplayPower(IDisplayPower* source) { g_source = source; }

TPowerWatch::TPowerWatch(uint32_t pollMs) {
    timer_.SetEnabled(false);
    timer_.SetInterval(pollMs);
    timer_.OnTimer = [this] { Poll(); };
}

void TPowerWatch::SetActive(bool active) {
    if (active) last_ = DisplayPower().State();
    timer_.SetEnabled(active);
}

void TPowerWatch::Poll() {
    TMonitorPower now = DisplayPower().State();
    bool leftOn = last_ == TMonitorPower::On && now != TMonitorPower::On;
    last_ = now;
    if (leftOn && OnMonitorPower) OnMonitorPower();
}

} // namespace lumora
