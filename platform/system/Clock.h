#pragma once
// The platform clock: every clock read and wait of the program goes through here, so tests can run
// a whole show on a virtual clock.

#include <cstdint>
#include <memory>

namespace lumora {

struct TIMECAPS {
    uint32_t wPeriodMin = 1;
    uint32_t wPeriodMax = 1000000;
};

class IClock {
public:
    virtual ~IClock() = default;
    virtual uint32_t timeGetTime() = 0; // milliseconds, wrapping at 2^32
    virtual uint64_t Microseconds() = 0; // monotonic, for the MIDI and effect clocks
    virtual void Sleep(uint32_t ms) = 0;
    virtual int timeBeginPeriod(uint32_t ms) = 0; // 0 = success
    virtual int timeEndPeriod(uint32_t ms) = 0;
    virtual TIMECAPS timeGetDevCaps() = 0;
    // Busy-waits (real clock) or advances (virtual clock) until timeGetTime() - start >= ms.
    virtual void SpinUntil(uint32_t start, uint32_t ms) = 0;
    // Local time of day in seconds since midnight (the mute window).
    virtual int SecondsOfDay() = 0;
};

IClock& Clock();
void SetClock(IClock* clock); // nullptr = the real clock

inline uint32_t timeGetTime() { return Clock().timeGetTime(); }
inline void Sleep(uint32_t ms) { Clock().Sleep(ms); }
inline int timeBeginPeriod(uint32_t ms) { return Clock().timeBeginPeriod(ms); }
inline int timeEndPeriod(uint32_t ms) { return Clock().timeEndPeriod(ms); }
inline TIMECAPS timeGetDevCaps() { return Clock().timeGetDevCaps(); }

// A clock that only moves when told (or when the program sleeps), with the framework's timers
// firing on it: installing it makes TTimer run on virtual time.
class VirtualClock : public IClock {
public:
    explicit VirtualClock(uint32_t startMs = 1000);
    ~VirtualClock() override;
    uint32_t timeGetTime() override;
    uint64_t Microseconds() override;
    void Sleep(uint32_t ms) override;
    int timeBeginPeriod(uint32_t) override { return 0; }
    int timeEndPeriod(uint32_t) override { return 0; }
    TIMECAPS timeGetDevCaps() override { return caps_; }
    void SpinUntil(uint32_t start, uint32_t ms) override;
    int SecondsOfDay() override;

    // Moves time forward, firing due timers in order (on the calling thread, which must be the main one).
    void Advance(uint32_t ms);
    void AdvanceMicroseconds(uint64_t us);
    void SetSecondsOfDay(int seconds) { dayOffset_ = seconds; }
    void SetDevCaps(TIMECAPS caps) { caps_ = caps; }
    uint64_t SleptMs() const { return sleptMs_; } // total of all Sleep calls

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    uint64_t nowUs_;
    uint64_t sleptMs_ = 0;
    int dayOffset_ = 12 * 3600;
    TIMECAPS caps_;
};

} // namespace lumora
