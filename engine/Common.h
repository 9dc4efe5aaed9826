#pragma once
// Small routines shared by the saver window, the transitions, the music code and the previews:
// file and extension tests, the mute window, the no-repeat random index pool, the precise wait,
// colour and clamping helpers and the one blend weight table.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/Graphics.h"
#include "platform/system/Clock.h"

namespace lumora {

// ---- Files and extensions ----

// Size in bytes of the file at path (links followed), or 0 when there is no such file. 64-bit, so
// files of 2 GiB and more report their true size.
int64_t FileSizeOf(const std::string& path);
// The extension (with its dot, any case) is one the audio player plays.
bool IsBassExt(const std::string& ext);
// The extension (with its dot, any case) is ".MID" or ".MIDI".
bool IsMidiExt(const std::string& ext);

// ---- Rectangles, selection, clamps, colours ----

struct TBoundsRec {
    int X = 0, Y = 0, W = 0, H = 0;
};
TRect MakeBoundsRect(const TBoundsRec& r);
inline TRect MakeBoundsRect(int x, int y, int w, int h) { return MakeBoundsRect(TBoundsRec{x, y, w, h}); }

inline int SelectInt(bool flag, int a, int b) { return flag ? a : b; }
inline uint8_t ClampByte(int v) { return v > 255 ? 255 : v < 0 ? 0 : static_cast<uint8_t>(v); }
// The upper bound is tested first, so an inverted range yields Hi.
inline int ClampRange(int v, int lo, int hi) { return v > hi ? hi : v < lo ? lo : v; }
// A colour value (0x00BBGGRR) as a pixel word (0x00RRGGBB: bytes blue, green, red, 0 in memory).
inline uint32_t SwapRB(TColor color) {
    uint32_t c = static_cast<uint32_t>(color);
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}

// ---- Time of day ----

// Seconds since midnight of a time given as hours, minutes and seconds.
inline int EncodeTimeOfDay(int hour, int min, int sec) { return hour * 3600 + min * 60 + sec; }
// Whether the mute levels apply now (the platform clock's time of day). Mode 1: the window
// [Start, End] holds the normal hours; mode 2: it holds the mute hours; other modes never mute.
// Start and End are seconds since midnight; a window with Start >= End wraps past midnight.
bool InMuteWindow(int mode, int startSeconds, int endSeconds);
// The same test at a given time of day (seconds since midnight).
bool InMuteWindowAt(int mode, int startSeconds, int endSeconds, int nowSeconds);

// ---- Folders ----

// The folders that stand for the Windows and System directories, without a trailing separator.
std::string GetWindowsDir();
std::string GetSystemDir();

// ---- Random index pool ----
// A set of cell indexes 0..count-1, each drawn at most once until the pool is initialised again.
// The block, line, bubble, fog and turn effects draw their cells from it.

// Sizes the pool to n cells (negative counts as 0; more than the pixel budget is cut to it) and
// marks every cell free. Storage is kept between transitions and grows only when needed.
void RandPoolInit(int64_t n);
int64_t RandPoolCount();
// Whether cell x + y * stride is used. A cell outside the pool counts as used, so callers skip it.
bool RandPoolTest(int64_t x, int64_t y, int64_t stride);
// Marks cell x + y * stride used; a cell outside the pool is ignored.
void RandPoolSet(int64_t x, int64_t y, int64_t stride);
// A free cell of 0..count-1, marked used; -1 when every cell is used.
int64_t RandPoolNext();
// A free cell of 0..min(n, count)-1, marked used; -1 when none of those is free.
int64_t RandPoolNextIn(int64_t n);

// ---- Timing ----

// Measures how long a short sleep really takes and whether the multimedia clock already ticks at
// its finest period. Called once when the saver window is created.
void CalibrateTimers();
// Whole sleeps are taken in steps of this many milliseconds (10, 20, 40 or 100).
uint32_t SleepQuantum();
// The timer capabilities read by CalibrateTimers.
TIMECAPS TimerCaps();
// True when the clock did not tick at its minimum period: the saver window then raises the period.
bool RaiseTimerPeriod();
// Waits ms milliseconds on the platform clock: whole sleep quanta first, then a spin for the rest.
// Returns the last clock reading.
uint32_t PreciseWait(uint32_t ms);

// ---- Row tables ----

// Row pointers of a 32-bit bitmap, top row first.
using TPLines = std::vector<uint32_t*>;
// Fills lines with the rows of bitmap; an empty bitmap gives an empty table.
void BitmapToLines(TPLines& lines, TBitmap& bitmap);

// ---- Blend weight table ----
// Entry d + 255 holds the step for the channel difference d = -255..255 at the current weight w,
// floor(w * d / 256); a compositor adds the entry for (new - old) to the old channel.

constexpr int kBlendTableSize = 511;
extern std::array<int16_t, kBlendTableSize> BlendTable;
inline int BlendStep(int d) { return BlendTable[static_cast<size_t>(d + 255)]; }

// Weight = level.
void SetBlendLevel(int level);
// Weight = a - b: none when a <= b, the full difference (the new channel) from 256 on.
void SetBlendDiff(int a, int b);
// Weight rising three times as fast up to level 128 (384), then falling back to 0 at 512.
void SetBlendPeak(int level);

} // namespace lumora
