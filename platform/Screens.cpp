#include "platform/Screens.h"

#include <QGuiApplication>
#include <QScreen>

namespace lumora {

namespace {

// Qt lists screens in the system's order; the primary is marked separately.
class QtScreens : public IScreens {
public:
    std::vector<TMonitor> Monitors() override {
        std::vector<TMonitor> r;
        auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        if (!app) return {TMonitor{TRect{0, 0, 1024, 768}, true}};
        QScreen* primary = QGuiApplication::primaryScreen();
        for (QScreen* s : QGuiApplication::screens()) {
            QRect g = s->geometry();
            r.push_back(TMonitor{Bounds(g.x(), g.y(), g.width(), g.height()), s == primary});
        }
        if (r.empty()) r.push_back(TMonitor{TRect{0, 0, 1024, 768}, true});
        return r;
    }
};

QtScreens& Real() {
    static QtScreens screens;
    return screens;
}
IScreens* g_screens = nullptr;

} // namespace

IScreens& Screens() { return g_screens ? *g_screens : Real(); }
void SetScreens(IScreens* screens) { g_screens = screens; }

TRect DesktopRect() {
    TRect r;
    for (auto& m : Screens().Monitors()) r = UnionRect(r, m.BoundsRect);
    return r;
}

int MonitorCount() { return static_cast<int>(Screens().Monitors().size()); }

TMonitor Monitor(int index) {
    auto all = Screens().Monitors();
    if (index < 0 || index >= static_cast<int>(all.size())) return {};
    return all[index];
}

int PrimaryMonitorIndex() {
    auto all = Screens().Monitors();
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i].Primary) return static_cast<int>(i);
    return 0;
}

} // namespace lumora
