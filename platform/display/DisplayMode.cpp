#include "platform/display/DisplayMode.h"

#include <cstdlib>
#include <memory>

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include "platform/display/NativeWindow.h"

namespace lumora {

namespace {

struct FreeReply {
    void operator()(void* p) const { std::free(p); }
};

class X11DisplayModeSource : public IDisplayModeSource {
public:
    std::optional<TDisplayMode> Current() override {
        xcb_connection_t* shared = QtXConnection();
        // Outside a Qt X11 session the display named by $DISPLAY is asked directly.
        int screenNumber = 0;
        xcb_connection_t* c = shared ? shared : xcb_connect(nullptr, &screenNumber);
        std::optional<TDisplayMode> mode;
        if (!xcb_connection_has_error(c)) mode = Read(c, screenNumber);
        if (!shared) xcb_disconnect(c);
        return mode;
    }

private:
    static std::optional<TDisplayMode> Read(xcb_connection_t* c, int screenNumber) {
        auto screens = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
        if (!screens.rem) return std::nullopt;
        const xcb_screen_t* screen = screens.data;
        TDisplayMode m;
        m.Width = screen->width_in_pixels;
        m.Height = screen->height_in_pixels;
        m.BitsPerPixel = screen->root_depth;
        for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d))
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
                if (v.data->visual_id != screen->root_visual) continue;
                const uint8_t kind = v.data->_class;
                if (kind == XCB_VISUAL_CLASS_PSEUDO_COLOR || kind == XCB_VISUAL_CLASS_GRAY_SCALE ||
                    kind == XCB_VISUAL_CLASS_STATIC_COLOR || kind == XCB_VISUAL_CLASS_STATIC_GRAY) {
                    m.HasPalette = true;
                    m.PaletteSize = v.data->colormap_entries;
                }
            }
        const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
        if (randr && randr->present) {
            std::unique_ptr<xcb_randr_get_screen_info_reply_t, FreeReply> info(
                xcb_randr_get_screen_info_reply(c, xcb_randr_get_screen_info(c, screen->root), nullptr));
            if (info) m.RefreshRate = info->rate;
        }
        return m;
    }
};

IDisplayModeSource* g_source = nullptr;

} // namespace

IDisplayModeSource& DisplayModeSource() {
    static X11DisplayModeSource real;
    return g_source ? *g_source : real;
}

void SetDisplayModeSource(IDisplayModeSource* source) { g_source = source; }

} // namespace lumora
