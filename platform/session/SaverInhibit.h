#pragma once
// Keeps the desktop's screensaver from starting while a window that needs the screen is open (the
// sound previews of the settings dialog). The real service asks the session's screensaver over
// D-Bus (org.freedesktop.ScreenSaver); without a session bus or service it does nothing.

#include <cstdint>
#include <string>

namespace lumora {

class IScreenSaverInhibitor {
public:
    virtual ~IScreenSaverInhibitor() = default;
    // Returns a cookie for UnInhibit; 0 when the screensaver could not be held off.
    virtual uint32_t Inhibit(const std::string& reason) = 0;
    virtual void UnInhibit(uint32_t cookie) = 0;
};

IScreenSaverInhibitor& ScreenSaverInhibitor();
void SetScreenSaverInhibitor(IScreenSaverInhibitor* inhibitor); // nullptr = the session's service

// Holds the screensaver off for its lifetime.
class TScreenSaverInhibit {
public:
    explicit TScreenSaverInhibit(const std::string& reason);
    ~TScreenSaverInhibit();
    TScreenSaverInhibit(const TScreenSaverInhibit&) = delete;
    TScreenSaverInhibit& operator=(const TScreenSaverInhibit&) = delete;
    uint32_t Cookie() const { return cookie_; }

private:
    IScreenSaverInhibitor& inhibitor_;
    uint32_t cookie_;
};

// Counts the holds that are in force (tests).
class FakeScreenSaverInhibitor : public IScreenSaverInhibitor {
public:
    uint32_t Inhibit(const std::string& reason) override {
        lastReason = reason;
        ++active;
        return ++next;
    }
    void UnInhibit(uint32_t cookie) override {
        if (cookie != 0) --active;
    }
    int active = 0;
    uint32_t next = 0;
    std::string lastReason;
};

} // namespace lumora
