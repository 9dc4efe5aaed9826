#include "platform/system/Clock.h"

#include <time.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <thread>

#include "framework/Forms.h"

namespace lumora {

namespace {

class RealClock : public IClock {
public:
    uint32_t timeGetTime() override { return static_cast<uint32_t>(Microseconds() / 1000); }
    uint64_t Microseconds() override {
        timespec ts;
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
    }
    void Sleep(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
    // Linux timers already have millisecond resolution; the period calls only succeed.
    int timeBeginPeriod(uint32_t) override { return 0; }
    int timeEndPeriod(uint32_t) override { return 0; }
    TIMECAPS timeGetDevCaps() override { return TIMECAPS{1, 1000000}; }
    void SpinUntil(uint32_t start, uint32_t ms) override {
        while (timeGetTime() - start < ms) std::this_thread::yield();
    }
    int SecondsOfDay() override {
        time_t t = time(nullptr);
        struct tm local;
        localtime_r(&t, &local);
        return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    }
};

RealClock& Real() {
    static RealClock clock;
    return clock;
}
IClock* g_clock = nullptr;

} // namespace

IClock& Clock() { return g_clock ? *g_clock : Real(); }
void SetClock(IClock* clock) { g_clock = clock; }

// Timers on virtual time: each running timer has its next due time; Advance fires them in order.
struct VirtualClock::Impl : ITimerBackend {
    VirtualClock* owner;
    std::map<TTimer*, std::pair<uint64_t, uint32_t>> timers; // due (us), interval (ms)
    std::mutex mu;

    void Start(TTimer* timer, uint32_t intervalMs) override {
        std::lock_guard lock(mu);
        timers[timer] = {owner->nowUs_ + uint64_t(intervalMs) * 1000, intervalMs};
    }
    void Stop(TTimer* timer) override {
        std::lock_guard lock(mu);
        timers.erase(timer);
    }
};

VirtualClock::VirtualClock(uint32_t startMs) : impl_(std::make_unique<Impl>()), nowUs_(uint64_t(startMs) * 1000) {
    impl_->owner = this;
    SetTimerBackend(impl_.get());
}

VirtualClock::~VirtualClock() {
    SetTimerBackend(nullptr);
    if (g_clock == this) g_clock = nullptr;
}

uint32_t VirtualClock::timeGetTime() { return static_cast<uint32_t>(nowUs_ / 1000); }
uint64_t VirtualClock::Microseconds() { return nowUs_; }

void VirtualClock::Sleep(uint32_t ms) {
    sleptMs_ += ms;
    nowUs_ += uint64_t(ms) * 1000;
}

void VirtualClock::SpinUntil(uint32_t start, uint32_t ms) {
    uint32_t elapsed = timeGetTime() - start;
    if (elapsed < ms) nowUs_ += uint64_t(ms - elapsed) * 1000;
}

int VirtualClock::SecondsOfDay() { return static_cast<int>((dayOffset_ + nowUs_ / 1000000) % 86400); }

void VirtualClock::Advance(uint32_t ms) { AdvanceMicroseconds(uint64_t(ms) * 1000); }

void VirtualClock::AdvanceMicroseconds(uint64_t us) {
    uint64_t target = nowUs_ + us;
    for (;;) {
        TTimer* next = nullptr;
        uint64_t due = 0;
        {
            std::lock_guard lock(impl_->mu);
            for (auto& [timer, entry] : impl_->timers)
                if (entry.first <= target && (!next || entry.first < due)) {
                    next = timer;
                    due = entry.first;
                }
            if (next) impl_->timers[next].first = due + std::max<uint64_t>(1, impl_->timers[next].second) * 1000;
        }
        if (!next) break;
        nowUs_ = std::max(nowUs_, due);
        Application().Guard([next] { next->Fire(); });
        Application().ProcessMessages();
    }
    nowUs_ = std::max(nowUs_, target);
}

} // namespace lumora
