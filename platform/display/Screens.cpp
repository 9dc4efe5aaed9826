#include "platform/display/Screens.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include "platform/display/NativeWindow.h"

namespace lumora {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T> using Reply = std::unique_ptr<T, FreeDeleter>;

// The screen number of DISPLAY (":0.1" is 1), which Qt opens as its primary screen.
int DefaultScreenNumber() {
    const char* display = std::getenv("DISPLAY");
    if (!display) return 0;
    const char* colon = std::strrchr(display, ':');
    const char* dot = colon ? std::strchr(colon, '.') : nullptr;
    return dot ? std::atoi(dot + 1) : 0;
}

// RandR's monitor list per X screen: the monitors as the desktop defines them (also those that
// `xrandr --setmonitor` splits off one output), in device pixels. Empty when the server has no
// RandR 1.5.
std::vector<TMonitor> RandRMonitors(xcb_connection_t* c) {
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_randr_id);
    if (!ext || !ext->present) return {};
    Reply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    if (!version || version->major_version < 1 || (version->major_version == 1 && version->minor_version < 5)) return {};
    std::vector<TMonitor> all;
    const int defaultScreen = DefaultScreenNumber();
    int number = 0;
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it), ++number) {
        const xcb_screen_t* screen = it.data;
        Reply<xcb_randr_get_monitors_reply_t> reply(
            xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, screen->root, 1), nullptr));
        const size_t first = all.size();
        if (reply) {
            for (auto m = xcb_randr_get_monitors_monitors_iterator(reply.get()); m.rem; xcb_randr_monitor_info_next(&m)) {
                if (m.data->width == 0 || m.data->height == 0) continue;
                all.push_back(TMonitor{Bounds(m.data->x, m.data->y, m.data->width, m.data->height),
                                       m.data->primary != 0 && number == defaultScreen, number});
            }
        }
        // A screen without an active monitor is still a desktop of its own size.
        if (all.size() == first)
            all.push_back(TMonitor{Bounds(0, 0, screen->width_in_pixels, screen->height_in_pixels), false, number});
    }
    bool primary = false;
    for (const auto& m : all) primary = primary || m.Primary;
    if (!primary)
        for (auto& m : all)
            if (m.Screen == defaultScreen) {
                m.Primary = true;
                break;
            }
    return all;
}

// Qt's screens where there is no X server (or no RandR): their places are Qt's, their sizes are
// turned back into device pixels.
std::vector<TMonitor> QtMonitors() {
    std::vector<TMonitor> r;
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return {TMonitor{TRect{0, 0, 1024, 768}, true}};
    QScreen* primary = QGuiApplication::primaryScreen();
    for (QScreen* s : QGuiApplication::screens()) {
        QRect g = s->geometry();
        const double ratio = s->devicePixelRatio();
        r.push_back(TMonitor{Bounds(g.x(), g.y(), static_cast<int>(std::lround(g.width() * ratio)),
                                    static_cast<int>(std::lround(g.height() * ratio))),
                             s == primary});
    }
    if (r.empty()) r.push_back(TMonitor{TRect{0, 0, 1024, 768}, true});
    return r;
}

class SystemScreens : public IScreens {
public:
    std::vector<TMonitor> Monitors() override {
        if (xcb_connection_t* c = QtXConnection()) {
            std::vector<TMonitor> r = RandRMonitors(c);
            if (!r.empty()) return r;
        }
        return QtMonitors();
    }
};

SystemScreens& Real() {
    static SystemScreens screens;
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

QScreen* QtScreenOf(int xScreen) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return nullptr;
    if (!QtXConnection()) return xScreen == 0 ? QGuiApplication::primaryScreen() : nullptr;
    // Qt makes one group of sibling screens per X screen: the group of DISPLAY's screen comes first,
    // then the others in X screen order.
    std::vector<QScreen*> groups;
    for (QScreen* s : QGuiApplication::screens()) {
        bool known = false;
        for (QScreen* g : groups) known = known || g->virtualSiblings().contains(s);
        if (!known) groups.push_back(s);
    }
    const int defaultScreen = DefaultScreenNumber();
    int index = xScreen == defaultScreen ? 0 : xScreen < defaultScreen ? xScreen + 1 : xScreen;
    if (xScreen < 0 || index >= static_cast<int>(groups.size())) return nullptr;
    return groups[static_cast<size_t>(index)];
}

void UseDevicePixels() {
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    qputenv("QT_SCALE_FACTOR", "1");
    qunsetenv("QT_SCREEN_SCALE_FACTORS");
}

} // namespace lumora
