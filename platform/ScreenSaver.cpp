#include "platform/ScreenSaver.h"

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

} // namespace lumora
