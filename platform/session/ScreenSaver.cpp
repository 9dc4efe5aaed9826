#include "platform/session/ScreenSaver.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string_view>

#include "framework/Registry.h"

namespace lumora {

namespace {
// Linux has no screensaver password provider: nothing can verify or change a password, which is
// what the old system showed when its provider library was missing.
class NoPasswordProvider : public IScreenSaverPassword {
public:
    bool CanVerify() override { return false; }
    bool VerifyScreenSavePwd(TNativeHandle) override { return true; }
    bool CanChange() override { return false; }
    void PwdChangePassword(const std::string&, TNativeHandle) override {}
};

IScreenSaverPassword* g_provider = nullptr;
std::function<bool()> g_usePasswordSource;
bool g_running = false;

bool ReadUsePasswordFromRegistry() {
    try {
        TRegistry reg;
        reg.SetRootKey(HKEY::HKEY_CURRENT_USER);
        if (!reg.OpenKeyReadOnly("Control Panel\\desktop")) return false;
        if (!reg.ValueExists("ScreenSaveUsePassword")) return false;
        // The system stores it as text; a double word is read as its number.
        if (reg.GetDataType("ScreenSaveUsePassword") == TRegDataType::rdInteger)
            return reg.ReadInteger("ScreenSaveUsePassword") != 0;
        return StrToIntDef(Trim(reg.ReadString("ScreenSaveUsePassword")), 0) != 0;
    } catch (const std::exception&) {
        return false;
    }
}
} // namespace

IScreenSaverPassword& ScreenSaverPassword() {
    static NoPasswordProvider none;
    return g_provider ? *g_provider : none;
}

void SetScreenSaverPassword(IScreenSaverPassword* provider) { g_provider = provider; }

bool ScreenSaveUsePassword() { return g_usePasswordSource ? g_usePasswordSource() : ReadUsePasswordFromRegistry(); }
void SetScreenSaveUsePasswordSource(std::function<bool()> source) { g_usePasswordSource = std::move(source); }

void SetScreenSaverRunning(bool running) { g_running = running; }
bool ScreenSaverRunning() { return g_running; }

namespace {
// The selection's name: one per X server, whatever screen the saver covers.
constexpr std::string_view kSaverSelection = "LUMORA_SAVER";

template <typename Reply> std::unique_ptr<Reply, decltype(&std::free)> Owned(Reply* reply) {
    return {reply, &std::free};
}
} // namespace

TSaverDisplayLock::~TSaverDisplayLock() {
    if (connection_) xcb_disconnect(connection_);
}

bool TSaverDisplayLock::Claim() {
    if (connection_) return true;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const auto nothingToShare = [c] {
        xcb_disconnect(c);
        return true;
    };
    if (xcb_connection_has_error(c)) return nothingToShare();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    auto atom = Owned(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(kSaverSelection.size()), kSaverSelection.data()),
        nullptr));
    if (!screen || !atom) return nothingToShare();
    const xcb_window_t owner = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, owner, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    // The look and the claim are one step for the server: two savers starting together cannot both
    // find the selection free.
    xcb_grab_server(c);
    auto before = Owned(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
    const bool free = before && before->owner == XCB_NONE;
    if (free) xcb_set_selection_owner(c, owner, atom->atom, XCB_CURRENT_TIME);
    xcb_ungrab_server(c);
    auto after = Owned(xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
    if (!after) return nothingToShare(); // the connection broke
    if (!free || after->owner != owner) {
        xcb_disconnect(c);
        return false;
    }
    connection_ = c;
    return true;
}

} // namespace lumora
