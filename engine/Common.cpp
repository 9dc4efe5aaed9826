#include "engine/Common.h"

#include <algorithm>
#include <bit>
#include <limits>

#include "framework/Checked.h"
#include "framework/SysUtils.h"
#include "platform/system/Random.h"
#include "platform/system/System.h"

namespace lumora {

// ---- Files and extensions ----

// A missing file, and a folder (which has no size of its own), count as 0 bytes.
int64_t FileSizeOf(const std::string& path) { return std::max<int64_t>(FileSize(path), 0); }

namespace {
constexpr const char* kBassExts[] = {".WAV", ".MP3", ".OGG", ".WMA", ".MOD", ".XM", ".IT", ".S3M"};
constexpr const char* kMidiExts[] = {".MID", ".MIDI"};

template <size_t N>
bool InTable(const std::string& ext, const char* const (&table)[N]) {
    std::string up = UpperCase(ext);
    return std::find(std::begin(table), std::end(table), up) != std::end(table);
}
} // namespace

bool IsBassExt(const std::string& ext) { return InTable(ext, kBassExts); }
bool IsMidiExt(const std::string& ext) { return InTable(ext, kMidiExts); }

TRect MakeBoundsRect(const TBoundsRec& r) { return TRect{r.X, r.Y, r.X + r.W, r.Y + r.H}; }

// ---- Time of day ----

namespace {
// hhmmss as an integer keeps the comparisons of the stored times exactly as they were.
int Hhmmss(int secondsOfDay) {
    int s = ((secondsOfDay % 86400) + 86400) % 86400;
    return (s / 3600) * 10000 + (s / 60 % 60) * 100 + s % 60;
}
} // namespace

bool InMuteWindowAt(int mode, int startSeconds, int endSeconds, int nowSeconds) {
    int s = Hhmmss(startSeconds), e = Hhmmss(endSeconds), t = Hhmmss(nowSeconds);
    if (mode == 1) return s < e ? (t <= s || t >= e) : (e < t && t < s);
    if (mode == 2) return s < e ? (s < t && t < e) : (t <= e || t >= s);
    return false;
}

bool InMuteWindow(int mode, int startSeconds, int endSeconds) {
    return InMuteWindowAt(mode, startSeconds, endSeconds, Clock().SecondsOfDay());
}

// ---- Folders ----

// The system folder lies inside the Windows folder, as System32 does inside C:\Windows.
std::string GetWindowsDir() {
    std::string sys = ExcludeTrailingPathDelimiter(SystemFolder());
    size_t slash = sys.find_last_of('/');
    if (slash == std::string::npos) return sys;
    return slash == 0 ? std::string("/") : sys.substr(0, slash);
}

std::string GetSystemDir() { return ExcludeTrailingPathDelimiter(SystemFolder()); }

// ---- Random index pool ----

namespace {
struct TRandPoolState {
    int64_t count = 0;
    std::vector<uint64_t> words; // bit i of the pool = bit i % 64 of word i / 64; 1 = used

    bool Used(int64_t i) const { return (words[static_cast<size_t>(i >> 6)] >> (i & 63)) & 1u; }
    void Mark(int64_t i) { words[static_cast<size_t>(i >> 6)] |= uint64_t(1) << (i & 63); }

    // First free index in [from, to), or -1.
    int64_t FindFree(int64_t from, int64_t to) const {
        if (from >= to) return -1;
        int64_t w = from >> 6;
        uint64_t bits = ~words[static_cast<size_t>(w)] & (~uint64_t(0) << (from & 63));
        int64_t lastWord = (to - 1) >> 6;
        for (;;) {
            if (bits) {
                int64_t i = (w << 6) + std::countr_zero(bits);
                return i < to ? i : -1;
            }
            if (++w > lastWord) return -1;
            bits = ~words[static_cast<size_t>(w)];
        }
    }

    // Draws from 0..m-1: a few random tries, then a scan from a random start that wraps around.
    int64_t Next(int64_t m, int tries) {
        if (m <= 0) return -1;
        int limit = static_cast<int>(std::min<int64_t>(m, std::numeric_limits<int>::max()));
        for (int k = 0; k < tries; ++k) {
            int64_t i = Random(limit);
            if (!Used(i)) {
                Mark(i);
                return i;
            }
        }
        int64_t s = Random(limit);
        int64_t i = FindFree(s, m);
        if (i < 0) i = FindFree(0, s);
        if (i >= 0) Mark(i);
        return i;
    }
};

TRandPoolState& Pool() {
    static TRandPoolState pool;
    return pool;
}

bool PoolCell(int64_t x, int64_t y, int64_t stride, int64_t& cell) {
    auto row = CheckedMul(y, stride);
    if (!row) return false;
    auto c = CheckedAdd(x, *row);
    if (!c || *c < 0 || *c >= Pool().count) return false;
    cell = *c;
    return true;
}
} // namespace

void RandPoolInit(int64_t n) {
    TRandPoolState& p = Pool();
    p.count = std::clamp<int64_t>(n, 0, std::max<int64_t>(PixelBudget(), 0));
    size_t words = static_cast<size_t>((p.count + 63) >> 6);
    if (p.words.size() < words) p.words.resize(words);
    std::fill(p.words.begin(), p.words.begin() + static_cast<std::ptrdiff_t>(words), 0);
}

int64_t RandPoolCount() { return Pool().count; }

bool RandPoolTest(int64_t x, int64_t y, int64_t stride) {
    int64_t cell;
    return !PoolCell(x, y, stride, cell) || Pool().Used(cell);
}

void RandPoolSet(int64_t x, int64_t y, int64_t stride) {
    int64_t cell;
    if (PoolCell(x, y, stride, cell)) Pool().Mark(cell);
}

int64_t RandPoolNext() { return Pool().Next(Pool().count, 2); }

int64_t RandPoolNextIn(int64_t n) { return Pool().Next(std::min(n, Pool().count), 10); }

// ---- Timing ----

namespace {
uint32_t g_sleepQuantum = 10;
TIMECAPS g_timerCaps;
bool g_raisePeriod = false;
} // namespace

void CalibrateTimers() {
    uint32_t t = timeGetTime();
    Sleep(1);
    uint32_t d = timeGetTime() - t;
    g_sleepQuantum = d < 15 ? 10 : d < 25 ? 20 : d < 45 ? 40 : 100;

    g_timerCaps = timeGetDevCaps();
    g_raisePeriod = false;
    // Wait for the clock's next tick and see how far it moved.
    uint32_t t0 = timeGetTime();
    Clock().SpinUntil(t0, 1);
    uint32_t t1 = timeGetTime();
    if (t1 - t0 != g_timerCaps.wPeriodMin) g_raisePeriod = true;
}

uint32_t SleepQuantum() { return g_sleepQuantum; }
TIMECAPS TimerCaps() { return g_timerCaps; }
bool RaiseTimerPeriod() { return g_raisePeriod; }

uint32_t PreciseWait(uint32_t ms) {
    uint32_t t0 = timeGetTime();
    uint32_t deadline = t0 + ms;
    uint32_t now = t0;
    // Signed differences keep the wait right across the clock's wrap at 2^32 ms.
    while (static_cast<int32_t>(deadline - now) >= static_cast<int32_t>(g_sleepQuantum)) {
        Sleep(g_sleepQuantum);
        now = timeGetTime();
    }
    if (static_cast<int32_t>(deadline - now) > 0) {
        Clock().SpinUntil(t0, ms);
        now = timeGetTime();
    }
    return now;
}

// ---- Row tables ----

void BitmapToLines(TPLines& lines, TBitmap& bitmap) {
    lines.clear();
    if (bitmap.Width() <= 0 || bitmap.Height() <= 0) return;
    lines.resize(static_cast<size_t>(bitmap.Height()));
    for (int y = 0; y < bitmap.Height(); ++y) lines[static_cast<size_t>(y)] = bitmap.Row32(y);
}

// ---- Blend weight table ----

std::array<int16_t, kBlendTableSize> BlendTable{};

namespace {
// floor(w * d / 256), kept inside the table's 16-bit range for any weight a caller passes.
void FillBlend(int64_t w) {
    for (int d = -255; d <= 255; ++d) {
        int64_t v = w * d;
        int64_t step = v >= 0 ? v / 256 : -((-v + 255) / 256);
        BlendTable[static_cast<size_t>(d + 255)] = static_cast<int16_t>(std::clamp<int64_t>(step, INT16_MIN, INT16_MAX));
    }
}
} // namespace

void SetBlendLevel(int level) { FillBlend(level); }

void SetBlendDiff(int a, int b) {
    int64_t s = int64_t(a) - b;
    FillBlend(s <= 0 ? 0 : s < 256 ? s : 256);
}

void SetBlendPeak(int level) { FillBlend(level <= 128 ? 3 * int64_t(level) : 512 - int64_t(level)); }

} // namespace lumora
