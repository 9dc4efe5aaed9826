#pragma once
// The screensaver services of the old consumer line of the system: the password provider (verify
// before closing, change on request) and the "a saver runs" flag. Linux has no such provider, so
// the real implementation reports none and the program takes the path it takes without one.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct xcb_connection_t;

namespace lumora {

using TNativeHandle = uintptr_t; // a native window id; 0 = none

class IScreenSaverPassword {
public:
    virtual ~IScreenSaverPassword() = default;
    // True when a password provider can verify ("VerifyScreenSavePwd" exists).
    virtual bool CanVerify() = 0;
    // Asks the user for the password over the given window; true = the saver may close.
    virtual bool VerifyScreenSavePwd(TNativeHandle window) = 0;
    // True when a provider can change the password ("PwdChangePasswordA" exists).
    virtual bool CanChange() = 0;
    // Shows the provider's change dialog for the named provider ("SCRSAVE") over the parent.
    virtual void PwdChangePassword(const std::string& provider, TNativeHandle parent) = 0;
};

IScreenSaverPassword& ScreenSaverPassword();
void SetScreenSaverPassword(IScreenSaverPassword* provider); // nullptr = the real one (none on Linux)

// Whether the user's settings ask for a password ("ScreenSaveUsePassword" under
// "Control Panel\desktop"); false when the key or value is missing.
bool ScreenSaveUsePassword();
void SetScreenSaveUsePasswordSource(std::function<bool()> source); // nullptr = the registry

// The system-wide "a screensaver runs" flag; kept for the process, which is all any reader on
// Linux can see of it.
void SetScreenSaverRunning(bool running);
bool ScreenSaverRunning();

// The one full-screen saver of a display: a selection on the X server, owned by a window of a
// connection of its own. Every name that reaches the server (":2", "unix:2", "localhost:2", from
// any session folder) finds the same selection, and the server gives it up when that connection
// closes, however the process ends.
class TSaverDisplayLock {
public:
    TSaverDisplayLock() = default;
    ~TSaverDisplayLock();
    TSaverDisplayLock(const TSaverDisplayLock&) = delete;
    TSaverDisplayLock& operator=(const TSaverDisplayLock&) = delete;
    // False when another saver holds this display. Without an X server to ask there is nothing to
    // share and the claim succeeds.
    bool Claim();

private:
    xcb_connection_t* connection_ = nullptr;
};

// A provider for tests: answers from a script and counts the calls.
class FakeScreenSaverPassword : public IScreenSaverPassword {
public:
    bool canVerify = true;
    bool canChange = true;
    bool verifyAnswer = false;
    int verifyCalls = 0;
    int changeCalls = 0;
    std::string lastProvider;
    TNativeHandle lastWindow = 0;
    bool CanVerify() override { return canVerify; }
    bool VerifyScreenSavePwd(TNativeHandle window) override {
        ++verifyCalls;
        lastWindow = window;
        return verifyAnswer;
    }
    bool CanChange() override { return canChange; }
    void PwdChangePassword(const std::string& provider, TNativeHandle parent) override {
        ++changeCalls;
        lastProvider = provider;
        lastWindow = parent;
    }
};

} // namespace lumora
