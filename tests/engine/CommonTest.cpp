#include <fcntl.h>
#include <unistd.h>

#include <set>

#include <gtest/gtest.h>

#include "engine/Common.h"
#include "framework/Checked.h"
#include "platform/system/Random.h"
#include "tests/support/TempDir.h"

using namespace lumora;

namespace {

// Installs a virtual clock for one test and takes it out again.
struct ClockScope {
    VirtualClock clock{5000};
    ClockScope() { SetClock(&clock); }
    ~ClockScope() { SetClock(nullptr); }
};

// A clock whose short sleep takes a chosen time and whose tick is a chosen step, to drive the
// calibration through every branch.
class SteppingClock : public VirtualClock {
public:
    uint32_t sleepOneTakes = 1;
    uint32_t tick = 1;
    void Sleep(uint32_t ms) override { VirtualClock::Sleep(ms == 1 ? sleepOneTakes : ms); }
    void SpinUntil(uint32_t start, uint32_t ms) override {
        // The clock moves in whole ticks, so a wait for the next tick may overshoot.
        uint32_t elapsed = timeGetTime() - start;
        if (elapsed < ms) Advance(((ms - elapsed + tick - 1) / tick) * tick);
    }
};

int T(int h, int m, int s) { return EncodeTimeOfDay(h, m, s); }

} // namespace

TEST(CommonFiles, FileSizeOfCountsBytesAndIgnoresMissingFilesAndFolders) {
    test::TempDir dir;
    dir.WriteFile("a.bin", std::string(1234, 'x'));
    EXPECT_EQ(FileSizeOf(dir.File("a.bin")), 1234);
    EXPECT_EQ(FileSizeOf(dir.File("missing.bin")), 0);
    EXPECT_EQ(FileSizeOf(dir.Path()), 0);
    EXPECT_EQ(FileSizeOf(""), 0);
}

TEST(CommonFiles, FileSizeOfReportsSizesBeyondTwoGibibytes) {
    test::TempDir dir;
    std::string path = dir.File("big.bin");
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    const int64_t size = (int64_t(5) << 30) + 7; // a sparse file takes no disk space
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    EXPECT_EQ(FileSizeOf(path), size);
}

TEST(CommonFiles, ExtensionTablesIgnoreCase) {
    EXPECT_TRUE(IsBassExt(".mp3"));
    EXPECT_TRUE(IsBassExt(".S3m"));
    EXPECT_FALSE(IsBassExt(".MID"));
    EXPECT_FALSE(IsBassExt("MP3"));
    EXPECT_FALSE(IsBassExt(".rmi"));
    EXPECT_TRUE(IsMidiExt(".midi"));
    EXPECT_TRUE(IsMidiExt(".Mid"));
    EXPECT_FALSE(IsMidiExt(".mp3"));
    EXPECT_FALSE(IsMidiExt(".MI"));
}

TEST(CommonMisc, ClampsColoursAndRectangles) {
    EXPECT_EQ(ClampRange(5, 10, 3), 3); // the upper bound is tested first
    EXPECT_EQ(ClampRange(-4, 0, 9), 0);
    EXPECT_EQ(ClampRange(4, 0, 9), 4);
    EXPECT_EQ(ClampByte(256), 255);
    EXPECT_EQ(ClampByte(-1), 0);
    EXPECT_EQ(ClampByte(17), 17);
    EXPECT_EQ(SwapRB(0x00332211), 0x00112233u);
    EXPECT_EQ(SwapRB(RGB(1, 2, 3)), ColorToPixel(RGB(1, 2, 3)));
    EXPECT_EQ(MakeBoundsRect(10, 20, 30, 40), Rect(10, 20, 40, 60));
    EXPECT_EQ(SelectInt(true, 1, 2), 1);
    EXPECT_EQ(SelectInt(false, 1, 2), 2);
}

TEST(CommonMisc, FoldersHaveNoTrailingSeparator) {
    for (const std::string& f : {GetWindowsDir(), GetSystemDir()}) {
        ASSERT_FALSE(f.empty());
        if (f != "/") {
            EXPECT_NE(f.back(), '/');
        }
    }
    // The system folder lies inside the Windows folder.
    EXPECT_EQ(GetSystemDir().rfind(GetWindowsDir(), 0), 0u);
}

TEST(CommonMuteWindow, NormalHoursInsideTheWindow) {
    int s = T(8, 0, 0), e = T(22, 0, 0);
    EXPECT_TRUE(InMuteWindowAt(1, s, e, T(22, 0, 0)));
    EXPECT_TRUE(InMuteWindowAt(1, s, e, T(7, 59, 59)));
    EXPECT_TRUE(InMuteWindowAt(1, s, e, T(8, 0, 0)));
    EXPECT_FALSE(InMuteWindowAt(1, s, e, T(12, 0, 0)));
    EXPECT_FALSE(InMuteWindowAt(1, s, e, T(21, 59, 59)));
}

TEST(CommonMuteWindow, WindowAcrossMidnight) {
    int s = T(22, 0, 0), e = T(6, 0, 0);
    EXPECT_TRUE(InMuteWindowAt(1, s, e, T(12, 0, 0)));
    EXPECT_FALSE(InMuteWindowAt(1, s, e, T(23, 0, 0)));
    EXPECT_FALSE(InMuteWindowAt(1, s, e, T(6, 0, 0)));
    EXPECT_FALSE(InMuteWindowAt(1, s, e, T(0, 0, 0)));
    // Mode 2 mutes inside the window, exactly opposite to mode 1.
    for (int t : {T(12, 0, 0), T(23, 0, 0), T(6, 0, 0), T(22, 0, 0), T(0, 0, 1), T(21, 59, 59)})
        EXPECT_NE(InMuteWindowAt(1, s, e, t), InMuteWindowAt(2, s, e, t)) << t;
    for (int t : {T(12, 0, 0), T(8, 0, 0), T(22, 0, 0), T(3, 0, 0)})
        EXPECT_NE(InMuteWindowAt(1, T(8, 0, 0), T(22, 0, 0), t), InMuteWindowAt(2, T(8, 0, 0), T(22, 0, 0), t));
    EXPECT_FALSE(InMuteWindowAt(0, s, e, T(12, 0, 0)));
    EXPECT_FALSE(InMuteWindowAt(3, s, e, T(12, 0, 0)));
}

TEST(CommonMuteWindow, ReadsTheTimeOfDayFromThePlatformClock) {
    ClockScope scope;
    scope.clock.SetSecondsOfDay(T(23, 0, 0) - 5); // the virtual clock starts 5 s after this
    EXPECT_TRUE(InMuteWindow(2, T(22, 0, 0), T(6, 0, 0)));
    EXPECT_FALSE(InMuteWindow(1, T(22, 0, 0), T(6, 0, 0)));
    scope.clock.Advance(8 * 3600 * 1000); // 07:00
    EXPECT_FALSE(InMuteWindow(2, T(22, 0, 0), T(6, 0, 0)));
}

TEST(CommonRandPool, SmallPoolYieldsEachIndexOnceThenMinusOne) {
    RandSeed(7);
    RandPoolInit(4);
    EXPECT_EQ(RandPoolCount(), 4);
    std::set<int64_t> seen;
    for (int i = 0; i < 4; ++i) seen.insert(RandPoolNext());
    EXPECT_EQ(seen, (std::set<int64_t>{0, 1, 2, 3}));
    EXPECT_EQ(RandPoolNext(), -1);
    EXPECT_EQ(RandPoolNext(), -1);
    RandPoolInit(0);
    EXPECT_EQ(RandPoolNext(), -1);
    RandPoolInit(-5);
    EXPECT_EQ(RandPoolCount(), 0);
}

TEST(CommonRandPool, SizedToTheCallersNeed) {
    // A fog over a 3840 x 2160 monitor needs more cells than a fixed pool of 1,024,000 holds.
    const int64_t uhd = 3840LL * 2160;
    RandPoolInit(uhd);
    ASSERT_EQ(RandPoolCount(), uhd);
    EXPECT_FALSE(RandPoolTest(3839, 2159, 3840));
    RandPoolSet(3839, 2159, 3840);
    EXPECT_TRUE(RandPoolTest(3839, 2159, 3840));

    const int64_t cells = 1100000;
    RandSeed(3);
    RandPoolInit(cells);
    std::vector<bool> got(static_cast<size_t>(cells));
    for (int64_t k = 0; k < cells; ++k) {
        int64_t i = RandPoolNext();
        if (i < 0 || i >= cells || got[static_cast<size_t>(i)]) FAIL() << "draw " << k << " gave " << i;
        got[static_cast<size_t>(i)] = true;
    }
    EXPECT_EQ(RandPoolNext(), -1);

    // Re-initialising a smaller pool clears the cells it reuses.
    RandPoolInit(100);
    EXPECT_EQ(RandPoolCount(), 100);
    for (int i = 0; i < 100; ++i) EXPECT_FALSE(RandPoolTest(i, 0, 0));
    RandPoolInit(2000000);
    EXPECT_EQ(RandPoolCount(), 2000000);

    int64_t budget = PixelBudget();
    SetPixelBudget(1000);
    RandPoolInit(5000);
    EXPECT_EQ(RandPoolCount(), 1000);
    SetPixelBudget(budget);
}

TEST(CommonRandPool, NextInStaysBelowItsLimit) {
    RandSeed(11);
    RandPoolInit(50);
    std::set<int64_t> seen;
    for (int i = 0; i < 10; ++i) {
        int64_t v = RandPoolNextIn(10);
        ASSERT_GE(v, 0);
        ASSERT_LT(v, 10);
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 10u);
    EXPECT_EQ(RandPoolNextIn(10), -1); // indexes at or above the limit are never returned
    EXPECT_EQ(RandPoolNextIn(0), -1);
    int64_t v = RandPoolNextIn(1000); // limited to the pool's count
    EXPECT_GE(v, 10);
    EXPECT_LT(v, 50);
    for (int i = 0; i < 39; ++i) EXPECT_NE(RandPoolNextIn(1000), -1);
    EXPECT_EQ(RandPoolNextIn(1000), -1);
}

TEST(CommonRandPool, TestAndSetAreBoundsChecked) {
    RandPoolInit(12); // a 4 x 3 grid
    EXPECT_FALSE(RandPoolTest(1, 2, 4));
    RandPoolSet(1, 2, 4);
    EXPECT_TRUE(RandPoolTest(1, 2, 4));
    EXPECT_TRUE(RandPoolTest(9, 0, 0));
    // Cells outside the pool count as used and setting them touches nothing.
    EXPECT_TRUE(RandPoolTest(12, 0, 0));
    EXPECT_TRUE(RandPoolTest(-1, 0, 0));
    EXPECT_TRUE(RandPoolTest(0, INT64_MAX, 2));
    RandPoolSet(100000, 0, 0);
    RandPoolSet(-3, 0, 0);
    RandPoolSet(0, INT64_MAX, INT64_MAX);
    // Cells set directly are skipped by the draws.
    std::set<int64_t> rest;
    for (int64_t i; (i = RandPoolNext()) != -1;) rest.insert(i);
    EXPECT_EQ(rest.size(), 11u);
    EXPECT_EQ(rest.count(9), 0u);
}

TEST(CommonTiming, CalibrationPicksTheQuantumFromTheShortSleep) {
    struct Case {
        uint32_t sleepTakes, quantum;
    };
    for (Case c : {Case{1, 10}, Case{14, 10}, Case{15, 20}, Case{24, 20}, Case{25, 40}, Case{44, 40},
                   Case{45, 100}, Case{200, 100}}) {
        SteppingClock clock;
        SetClock(&clock);
        clock.sleepOneTakes = c.sleepTakes;
        CalibrateTimers();
        EXPECT_EQ(SleepQuantum(), c.quantum) << c.sleepTakes;
        SetClock(nullptr);
    }
}

TEST(CommonTiming, CalibrationRaisesThePeriodWhenTheClockTicksCoarsely) {
    SteppingClock clock;
    SetClock(&clock);
    clock.SetDevCaps(TIMECAPS{1, 1000});
    CalibrateTimers();
    EXPECT_FALSE(RaiseTimerPeriod());
    EXPECT_EQ(TimerCaps().wPeriodMin, 1u);

    clock.tick = 15;
    CalibrateTimers();
    EXPECT_TRUE(RaiseTimerPeriod());

    clock.SetDevCaps(TIMECAPS{15, 1000});
    CalibrateTimers();
    EXPECT_FALSE(RaiseTimerPeriod());
    SetClock(nullptr);
}

TEST(CommonTiming, PreciseWaitSleepsWholeQuantaThenSpins) {
    SteppingClock clock;
    SetClock(&clock);
    clock.sleepOneTakes = 16; // quantum 20
    CalibrateTimers();
    ASSERT_EQ(SleepQuantum(), 20u);

    uint64_t slept = clock.SleptMs();
    uint32_t start = clock.timeGetTime();
    uint32_t end = PreciseWait(75);
    EXPECT_EQ(end - start, 75u);
    EXPECT_EQ(clock.timeGetTime(), end);
    EXPECT_EQ(clock.SleptMs() - slept, 60u); // three quanta, the last 15 ms spun

    slept = clock.SleptMs();
    start = clock.timeGetTime();
    EXPECT_EQ(PreciseWait(0) - start, 0u);
    EXPECT_EQ(PreciseWait(19) - start, 19u);
    EXPECT_EQ(clock.SleptMs(), slept);
    SetClock(nullptr);
}

TEST(CommonTiming, PreciseWaitAcrossTheClockWrap) {
    VirtualClock clock(0xFFFFFFF0u);
    SetClock(&clock);
    CalibrateTimers();
    uint32_t start = clock.timeGetTime();
    uint32_t end = PreciseWait(40);
    EXPECT_EQ(static_cast<uint32_t>(end - start), 40u);
    EXPECT_LT(end, start); // wrapped
    SetClock(nullptr);
}

TEST(CommonRows, BitmapToLinesPointsAtEachRow) {
    TBitmap bmp(3, 4);
    TPLines lines;
    BitmapToLines(lines, bmp);
    ASSERT_EQ(lines.size(), 4u);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(lines[y], bmp.Row32(y));
    lines[2][1] = 0x00ABCDEF;
    EXPECT_EQ(bmp.Row32(2)[1], 0x00ABCDEFu);
    TBitmap empty;
    BitmapToLines(lines, empty);
    EXPECT_TRUE(lines.empty());
}

TEST(CommonBlend, TablesAtTheirEdges) {
    SetBlendDiff(10, 10);
    for (int d = -255; d <= 255; ++d) ASSERT_EQ(BlendStep(d), 0);
    SetBlendDiff(300, 0);
    for (int d = -255; d <= 255; ++d) ASSERT_EQ(BlendStep(d), d);
    SetBlendDiff(0, 200);
    EXPECT_EQ(BlendStep(255), 0);
    SetBlendDiff(128, 0);
    EXPECT_EQ(BlendStep(255), 127);
    EXPECT_EQ(BlendStep(-255), -128); // floor, not truncation
    EXPECT_EQ(BlendStep(-1), -1);

    SetBlendLevel(0);
    EXPECT_EQ(BlendStep(-255), 0);
    EXPECT_EQ(BlendStep(255), 0);
    SetBlendLevel(256);
    EXPECT_EQ(BlendStep(-255), -255);
    EXPECT_EQ(BlendStep(255), 255);
    SetBlendLevel(100);
    EXPECT_EQ(BlendStep(255), 99);
    EXPECT_EQ(BlendStep(-255), -100);
    EXPECT_EQ(BlendStep(0), 0);
    // Weights far outside the usual range stay in the table's 16-bit range.
    SetBlendLevel(1 << 20);
    EXPECT_EQ(BlendStep(255), INT16_MAX);
    EXPECT_EQ(BlendStep(-255), INT16_MIN);
}

TEST(CommonBlend, PeakRisesToThreeTimesAndFallsBack) {
    SetBlendPeak(128); // weight 384
    EXPECT_EQ(BlendStep(200), 300);
    EXPECT_EQ(BlendStep(-200), -300);
    EXPECT_EQ(BlendStep(255), 382);
    SetBlendPeak(129); // weight 383
    EXPECT_EQ(BlendStep(255), 381);
    EXPECT_EQ(BlendStep(-255), -382);
    SetBlendPeak(512);
    EXPECT_EQ(BlendStep(255), 0);
    SetBlendPeak(0);
    EXPECT_EQ(BlendStep(255), 0);
    SetBlendPeak(64); // weight 192
    EXPECT_EQ(BlendStep(255), 191);
}
