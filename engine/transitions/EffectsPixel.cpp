// Pixel-effect transitions: light, noise lines, mosaic, split, warp (rotation, spray, noise,
// fisheye, twist, waves), convert (emboss, colour swaps, invert) and turn.

#include "engine/transitions/EffectsPixel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include <emmintrin.h>
#include <immintrin.h>

#include "engine/transitions/Compositors.h"
#include "engine/transitions/Effects.h"
#include "engine/transitions/EffectsSimd.h"
#include "engine/transitions/RowBands.h"
#include "engine/transitions/RowRandom.h"
#include "platform/system/Random.h"

namespace lumora {

namespace {

std::atomic<bool> g_allowAvx2{true};

#if defined(LUMORA_SIMD_AVX2)
#define LUMORA_AVX2 1
using simd::HasAvx2;
#endif

const std::array<double, 256>& CosTable() {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (int i = 0; i < 256; ++i) t[static_cast<size_t>(i)] = std::cos(2 * std::numbers::pi * i / 256);
        return t;
    }();
    return table;
}

int Mod(int64_t v, int m) {
    int64_t r = v % m;
    return static_cast<int>(r < 0 ? r + m : r);
}

int Height(const TPLines& l) { return static_cast<int>(l.size()); }

bool Empty(const TBitmap& b) { return b.Width() <= 0 || b.Height() <= 0; }

uint32_t Channel(uint32_t p, int shift) { return (p >> shift) & 0xFF; }

// A source coordinate outside 0..size-1 wraps: negative ones count back from the far edge.
int Wrap(int64_t c, int size) {
    if (c < 0) return size - 1 - static_cast<int>((-c) % size);
    if (c > size - 1) return static_cast<int>(c % size);
    return static_cast<int>(c);
}

} // namespace

double WaveCos(int i) { return CosTable()[static_cast<size_t>(Mod(i, 256))]; }

void BuildWaveTable(std::array<int, 256>& table, int amplitude) {
    for (int i = 0; i < 256; ++i) table[static_cast<size_t>(i)] = static_cast<int>(std::nearbyint(WaveCos(i + 192) * amplitude));
}

// ---- Light, noise lines, mosaic, split ----

namespace {

// One pixel of a light effect: 21 towards white, 70 brighter, 71 darker, 46-48 one channel (red,
// green, blue) brighter and the others darker.
uint32_t LightOne(int code, int v, uint32_t p) {
    int lit = code == 46 ? 16 : code == 47 ? 8 : code == 48 ? 0 : -1;
    uint32_t out = 0;
    for (int s = 0; s <= 16; s += 8) {
        int c = static_cast<int>(Channel(p, s));
        int r;
        if (code == 21) r = ClampByte(c + ((255 - c) * v) / 256);
        else if (code == 70 || s == lit) r = std::min(c + v, 255);
        else if (code == 71) r = ClampByte(c - v);
        else r = ((256 - v) * c) >> 8;
        out |= static_cast<uint32_t>(r) << s;
    }
    return out;
}

#if defined(__SSE2__)
// The same for four pixels: towards white is a blend to white at weight v, the darkened channels a
// blend to black at weight v, brighter and darker saturating byte arithmetic.
__m128i Light4(int code, __m128i a, __m128i white, __m128i black, __m128i wv, __m128i add, __m128i litMask) {
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    if (code == 21) return simd::Blend4(a, white, wv);
    if (code == 70) return _mm_and_si128(_mm_adds_epu8(a, add), rgb);
    if (code == 71) return _mm_and_si128(_mm_subs_epu8(a, add), rgb);
    __m128i up = _mm_and_si128(_mm_adds_epu8(a, add), litMask);
    return _mm_or_si128(up, _mm_andnot_si128(litMask, simd::Blend4(a, black, wv)));
}
#endif

} // namespace

void LightPictureFast(TPLines& dst, int dstW, TBitmap& pic, int dx, int dy, int code, int v, uint32_t bg, int phase) {
    int p = ((phase % 4) + 4) % 4;
    int rowPar = p % 2, colPar = (p == 0 || p == 3) ? 0 : 1;
    int h = Height(dst);
    int pw = pic.Width(), ph = pic.Height();
    int x0 = std::clamp(dx, 0, dstW), x1 = std::clamp(dx + std::max(pw, 0), 0, dstW);
#if defined(__SSE2__)
    const __m128i white = _mm_set1_epi32(0x00FFFFFF), black = _mm_setzero_si128();
    const __m128i wv = _mm_set1_epi16(static_cast<int16_t>(v));
    const __m128i add = _mm_set1_epi8(static_cast<char>(std::min(v, 255)));
    int lit = code == 46 ? 16 : code == 47 ? 8 : 0;
    const __m128i litMask = _mm_set1_epi32(static_cast<int>(0xFFu << lit));
#endif
    auto row = [&](int y) {
        uint32_t* d = dst[static_cast<size_t>(y)];
        int sy = y - dy;
        bool inside = sy >= 0 && sy < ph && pw > 0 && x1 > x0;
        int x = colPar;
        if (!inside) {
            for (; x < dstW; x += 2) d[x] = bg;
            return;
        }
        const uint32_t* src = pic.Row32(sy);
        for (; x < x0; x += 2) d[x] = bg;
#if defined(__SSE2__)
        for (; x + 8 <= x1; x += 8)
            simd::StoreEvens(d + x, Light4(code, simd::Evens(src + (x - dx)), white, black, wv, add, litMask), false);
#endif
        for (; x < x1; x += 2) d[x] = LightOne(code, v, src[x - dx]);
        for (; x < dstW; x += 2) d[x] = bg;
    };
    ForRowBands((h - rowPar + 1) / 2, [&](int first, int last) {
        for (int i = first; i < last; ++i) row(rowPar + 2 * i);
    });
}

namespace {

// NoiseRows; with compose, each row is first composed as ComposeOnBackground(composeBg) would.
void NoiseRowsImpl(TPLines& dst, int dstW, TBitmap& pic, int dx, int dy, int jitter, uint32_t bg, int channel,
                   bool compose, uint32_t composeBg) {
    int h = Height(dst);
    if (dstW <= 0) return;
    int pw = std::min(pic.Width(), dstW), ph = pic.Height();
    int shift = channel * 8;
    uint32_t mask = channel < 0 ? 0xFFFFFFFFu : 0xFFu << shift;
    // The random offsets are drawn row by row from the one stream first; the rows are then moved
    // in bands. Rows without a picture row draw nothing.
    std::vector<int> offset(static_cast<size_t>(h), -1);
    for (int y = 0; y < h; ++y) {
        int sy = y - dy;
        if (sy < 0 || sy >= ph || pw <= 0) continue;
        int sign = Random(2) * 2 - 1;
        offset[static_cast<size_t>(y)] = Mod(int64_t(sign) * Random(jitter) + dx + dstW, dstW);
    }
    int sw = pic.Width(), cx0 = std::max(0, dx), cx1 = sw <= 0 ? 0 : std::min(dstW, dx + sw);
    ForRowBands(h, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            uint32_t* d = dst[static_cast<size_t>(y)];
            if (compose) {
                int sy = y - dy;
                if (sw <= 0 || sy < 0 || sy >= ph || cx1 <= cx0) {
                    std::fill(d, d + dstW, composeBg);
                } else {
                    std::fill(d, d + cx0, composeBg);
                    std::memcpy(d + cx0, pic.Row32(sy) + (cx0 - dx), static_cast<size_t>(cx1 - cx0) * 4);
                    std::fill(d + cx1, d + dstW, composeBg);
                }
            }
            int o = offset[static_cast<size_t>(y)];
            if (o < 0) {
                if (channel < 0) std::fill(d, d + dstW, bg);
                continue;
            }
            const uint32_t* src = pic.Row32(y - dy);
            // The row lands at o and wraps at the right edge; where nothing lands the row shows the
            // background (or its channel).
            int first1 = std::min(pw, dstW - o); // pixels before the wrap
            if (channel < 0) {
                std::memcpy(d + o, src, static_cast<size_t>(first1) * 4);
                std::memcpy(d, src + first1, static_cast<size_t>(pw - first1) * 4);
                // The stretch between the wrapped part and o (empty when the row fills the form).
                int gap0 = pw - first1, gap1 = o;
                if (o + pw <= dstW) gap0 = 0, gap1 = o;
                std::fill(d + gap0, d + gap1, bg);
                if (o + pw < dstW) std::fill(d + o + pw, d + dstW, bg);
                continue;
            }
            // One pass: the channel from the row where it lands, the background's elsewhere.
            const uint32_t keep = ~mask, bgPart = bg & mask;
            auto background = [&](int from, int to) {
                for (int x = from; x < to; ++x) d[x] = (d[x] & keep) | bgPart;
            };
            int wrapped = pw - first1; // columns [0, wrapped) show the row's end
            for (int x = 0; x < wrapped; ++x) d[x] = (d[x] & keep) | (src[x + first1] & mask);
            background(wrapped, o);
            for (int i = 0; i < first1; ++i) d[o + i] = (d[o + i] & keep) | (src[i] & mask);
            background(o + first1, dstW);
        }
    });
}

} // namespace

void NoiseRows(TPLines& dst, int dstW, TBitmap& pic, int dx, int dy, int jitter, uint32_t bg, int channel) {
    NoiseRowsImpl(dst, dstW, pic, dx, dy, jitter, bg, channel, false, 0);
}

void ComposeAndNoiseRows(TPLines& dst, int dstW, TBitmap& pic, int dx, int dy, int jitter, TColor composeBg,
                         uint32_t bg, int channel) {
    NoiseRowsImpl(dst, dstW, pic, dx, dy, jitter, bg, channel, true, SwapRB(ColorToRGB(composeBg)));
}

void Mosaic(TPLines& dst, int dstW, int cell) {
    int h = Height(dst);
    if (cell <= 0 || dstW <= 0 || h <= 0) return;
    // A cell reads only its own middle pixel, so rows of cells are independent.
    ForRowBands((h + cell - 1) / cell, [&](int first, int last) {
        for (int j = first; j < last; ++j) {
            int y0 = j * cell;
            int py = std::min(y0 + (cell - 1) / 2, h - 1);
            int y1 = std::min(y0 + cell, h);
            for (int x0 = 0; x0 < dstW; x0 += cell) {
                uint32_t p = dst[static_cast<size_t>(py)][std::min(x0 + (cell - 1) / 2, dstW - 1)];
                int x1 = std::min(x0 + cell, dstW);
                for (int y = y0; y < y1; ++y)
                    std::fill(dst[static_cast<size_t>(y)] + x0, dst[static_cast<size_t>(y)] + x1, p);
            }
        }
    }, 1);
}

void MosaicFrom(TPLines& dst, int dstW, TBitmap& pic, int dx, int dy, uint32_t bg, int cell) {
    int h = Height(dst);
    if (cell <= 0 || dstW <= 0 || h <= 0) return;
    int pw = pic.Width(), ph = pic.Height();
    // The composed pixel at (x, y): the picture's where it stands, else the background.
    auto at = [&](int x, int y) {
        int sx = x - dx, sy = y - dy;
        return sx >= 0 && sy >= 0 && sx < pw && sy < ph ? pic.Row32(sy)[sx] : bg;
    };
    ForRowBands((h + cell - 1) / cell, [&](int first, int last) {
        for (int j = first; j < last; ++j) {
            int y0 = j * cell;
            int py = std::min(y0 + (cell - 1) / 2, h - 1);
            int y1 = std::min(y0 + cell, h);
            for (int x0 = 0; x0 < dstW; x0 += cell) {
                uint32_t p = at(std::min(x0 + (cell - 1) / 2, dstW - 1), py);
                int x1 = std::min(x0 + cell, dstW);
                for (int y = y0; y < y1; ++y)
                    std::fill(dst[static_cast<size_t>(y)] + x0, dst[static_cast<size_t>(y)] + x1, p);
            }
        }
    }, 1);
}

namespace {

// One pixel of the split blur: the channel averages of a, b, c and d.
inline uint32_t Average4(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    // Each channel's sum fits in 10 bits, so blue and red add up side by side.
    uint32_t rb = (a & 0xFF00FFu) + (b & 0xFF00FFu) + (c & 0xFF00FFu) + (d & 0xFF00FFu);
    uint32_t g = (a & 0xFF00u) + (b & 0xFF00u) + (c & 0xFF00u) + (d & 0xFF00u);
    return ((rb >> 2) & 0xFF00FFu) | ((g >> 2) & 0xFF00u);
}

// One row of the split blur, written in place, from the rows up and down (either may be the row
// itself, which is then read as far as it is already written, pixel by pixel).
void SplitBlurRow(uint32_t* row, const uint32_t* up, const uint32_t* down, int w, int s) {
    auto one = [&](int x) {
        int l = std::max(0, x - s), r = std::min(w - 1, x + s);
        row[x] = Average4(down[r], up[r], down[l], up[l]);
    };
    if (up == row || down == row) {
        for (int x = 0; x < w; ++x) one(x);
        return;
    }
    // Columns whose neighbours need no clamping, in the middle, four at a time.
    int lo = std::min(s, w), hi = std::max(lo, w - s);
    int x = 0;
    for (; x < lo; ++x) one(x);
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), rgb = _mm_set1_epi32(0x00FFFFFF);
    auto load = [](const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    for (; x + 4 <= hi; x += 4) {
        __m128i a = load(down + x + s), b = load(up + x + s), c = load(down + x - s), d = load(up + x - s);
        __m128i lo16 = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                                     _mm_add_epi16(_mm_unpacklo_epi8(c, zero), _mm_unpacklo_epi8(d, zero)));
        __m128i hi16 = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                                     _mm_add_epi16(_mm_unpackhi_epi8(c, zero), _mm_unpackhi_epi8(d, zero)));
        __m128i avg = _mm_packus_epi16(_mm_srli_epi16(lo16, 2), _mm_srli_epi16(hi16, 2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + x), _mm_and_si128(avg, rgb));
    }
#endif
    for (; x < hi; ++x) row[x] = Average4(down[x + s], up[x + s], down[x - s], up[x - s]);
    for (; x < w; ++x) one(x);
}

} // namespace

void SplitBlur(TPLines& dst, int dstW, int s) {
    int h = Height(dst);
    if (s <= 0 || dstW <= 0 || h <= 0) return;
    auto rowAt = [&](int y) { return dst[static_cast<size_t>(y)]; };
    // Rows go top to bottom in place: row y reads row y - s already blurred (row 0 for the first s
    // rows) and row y + s not yet blurred (the last row, as it was, near the bottom). Rows apart by
    // a multiple of s depend on each other, other rows do not, so each remainder modulo s is a chain
    // of its own and the chains run in bands once row 0 is done; the last row goes last.
    SplitBlurRow(rowAt(0), rowAt(0), rowAt(std::min(h - 1, s)), dstW, s);
    if (h == 1) return;
    ForRowBands(std::min(s, h), [&](int first, int last) {
        // Block by block, so that the rows a band works on lie close together.
        for (int y0 = 0; y0 < h - 1; y0 += s)
            for (int r = first; r < last; ++r) {
                int y = y0 + r;
                if (y == 0) continue;
                if (y >= h - 1) break;
                SplitBlurRow(rowAt(y), rowAt(std::max(0, y - s)), rowAt(std::min(h - 1, y + s)), dstW, s);
            }
    }, 1);
    SplitBlurRow(rowAt(h - 1), rowAt(std::max(0, h - 1 - s)), rowAt(h - 1), dstW, s);
}

void ComposeAndSplitBlur(TPLines& dst, int dstW, TBitmap& pic, TColor bg, int dy, int dx, int s) {
    int h = Height(dst);
    if (s <= 0 || dstW <= 0 || h <= 0) {
        ComposeOnBackground(dst, dstW, pic, bg, dy, dx);
        return;
    }
    uint32_t bgPix = SwapRB(ColorToRGB(bg));
    int pw = pic.Width(), ph = pic.Height();
    int x0 = std::max(0, dx), x1 = pw <= 0 ? 0 : std::min(dstW, dx + pw);
    // Row y as composing would leave it: straight from the picture when it covers the whole row,
    // else built in the caller's buffer.
    auto composed = [&](int y, std::vector<uint32_t>& buffer) -> const uint32_t* {
        int sy = y - dy;
        bool inside = pw > 0 && sy >= 0 && sy < ph && x1 > x0;
        if (inside && x0 == 0 && x1 == dstW) return pic.Row32(sy) - dx;
        buffer.resize(static_cast<size_t>(dstW));
        uint32_t* b = buffer.data();
        if (!inside) {
            std::fill(b, b + dstW, bgPix);
        } else {
            std::fill(b, b + x0, bgPix);
            std::memcpy(b + x0, pic.Row32(sy) + (x0 - dx), static_cast<size_t>(x1 - x0) * 4);
            std::fill(b + x1, b + dstW, bgPix);
        }
        return b;
    };
    auto rowAt = [&](int y) { return dst[static_cast<size_t>(y)]; };
    // The first and the last row read themselves while they are written: they are composed in
    // place first. Every other row is written whole from rows above (blurred already) and below
    // (as composed), in the order and chains of SplitBlur.
    std::vector<uint32_t> buffer;
    std::memcpy(rowAt(0), composed(0, buffer), static_cast<size_t>(dstW) * 4);
    if (h > 1) std::memcpy(rowAt(h - 1), composed(h - 1, buffer), static_cast<size_t>(dstW) * 4);
    SplitBlurRow(rowAt(0), rowAt(0), h > 1 && s < h - 1 ? composed(s, buffer) : rowAt(std::min(h - 1, s)), dstW, s);
    if (h == 1) return;
    ForRowBands(std::min(s, h), [&](int first, int last) {
        std::vector<uint32_t> below;
        for (int y0 = 0; y0 < h - 1; y0 += s)
            for (int r = first; r < last; ++r) {
                int y = y0 + r;
                if (y == 0) continue;
                if (y >= h - 1) break;
                int yd = std::min(h - 1, y + s);
                const uint32_t* down = yd == h - 1 ? rowAt(h - 1) : composed(yd, below);
                SplitBlurRow(rowAt(y), rowAt(std::max(0, y - s)), down, dstW, s);
            }
    }, 1);
    SplitBlurRow(rowAt(h - 1), rowAt(std::max(0, h - 1 - s)), rowAt(h - 1), dstW, s);
}

void SplitRGB(TPLines& dst, int dstW, TBitmap& pic, int dx, int dy, int s, uint32_t bg) {
    int h = Height(dst), pw = pic.Width(), ph = pic.Height();
    // Each channel comes from a source row shifted sideways by its own amount.
    struct TChannel {
        const uint32_t* src = nullptr; // the source row; column x reads src[x + offset]
        int64_t offset = 0;
        int64_t lo = 0, hi = 0; // the columns that have a source
        uint32_t mask = 0;
    };
    auto channel = [&](int py, int shiftX, uint32_t mask) {
        TChannel ch;
        ch.mask = mask;
        if (pw <= 0 || py < 0 || py >= ph) return ch;
        // Columns x whose source column x - dx + shiftX lies inside the picture.
        ch.lo = std::clamp<int64_t>(int64_t(dx) - shiftX, 0, dstW);
        ch.hi = std::clamp<int64_t>(int64_t(dx) - shiftX + pw, ch.lo, dstW);
        ch.src = pic.Row32(py);
        ch.offset = int64_t(shiftX) - dx;
        return ch;
    };
    auto one = [&](const TChannel& ch, int64_t x) {
        return x >= ch.lo && x < ch.hi ? ch.src[x + ch.offset] & ch.mask : bg & ch.mask;
    };
    ForRowBands(h, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            uint32_t* d = dst[static_cast<size_t>(y)];
            int py = y - dy;
            TChannel r = channel(py, s, 0xFF0000u), g = channel(py, -s, 0xFF00u), b = channel(py - s, 0, 0xFFu);
            // Where all three have a source, one plain pass; elsewhere channel by channel.
            int64_t lo = std::max({r.lo, g.lo, b.lo}), hi = std::min({r.hi, g.hi, b.hi});
            if (hi <= lo) lo = hi = 0;
            for (int64_t x = 0; x < lo; ++x) d[x] = one(r, x) | one(g, x) | one(b, x);
            const uint32_t *rs = r.src, *gs = g.src, *bs = b.src;
            for (int64_t x = lo; x < hi; ++x)
                d[x] = (rs[x + r.offset] & 0xFF0000u) | (gs[x + g.offset] & 0xFF00u) | (bs[x + b.offset] & 0xFFu);
            for (int64_t x = hi; x < dstW; ++x) d[x] = one(r, x) | one(g, x) | one(b, x);
        }
    });
}

// ---- Warp ----

namespace {

int64_t FloorDiv(int64_t n, int64_t d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }

// The columns x of [lo, hi) where 0 <= a + x * c < m, intersected with the given range.
void KeepInside(int64_t a, int64_t c, int64_t m, int64_t& lo, int64_t& hi) {
    if (c == 0) {
        if (a < 0 || a >= m) lo = hi;
        return;
    }
    int64_t first, end;
    if (c > 0) {
        first = -FloorDiv(a, c);         // ceil(-a / c)
        end = -FloorDiv(-(m - a), c);    // ceil((m - a) / c)
    } else {
        first = FloorDiv(a - m, -c) + 1;
        end = FloorDiv(a, -c) + 1;
    }
    lo = std::min(std::max(lo, first), hi);
    hi = std::max(lo, std::min(hi, end));
}

// ---- AVX2 helpers of the pixel routines ----

#if defined(LUMORA_AVX2)
// One step of four xorshift128+ generators (TRowRandom16's order).
__attribute__((target("avx2"))) inline __m256i StepFour(__m256i& s0, __m256i& s1) {
    __m256i a = s0, b = s1;
    __m256i x = _mm256_xor_si256(a, _mm256_slli_epi64(a, 23));
    __m256i t = _mm256_xor_si256(_mm256_xor_si256(x, b), _mm256_xor_si256(_mm256_srli_epi64(x, 17), _mm256_srli_epi64(b, 26)));
    s0 = b, s1 = t;
    return _mm256_add_epi64(t, b);
}

// A TRowRandom16's generators in two registers, and back.
__attribute__((target("avx2"))) inline void LoadStream(TRowRandom16& r, __m256i& s0, __m256i& s1) {
    s0 = _mm256_load_si256(reinterpret_cast<const __m256i*>(r.S0()));
    s1 = _mm256_load_si256(reinterpret_cast<const __m256i*>(r.S1()));
}
__attribute__((target("avx2"))) inline void StoreStream(TRowRandom16& r, __m256i s0, __m256i s1) {
    _mm256_store_si256(reinterpret_cast<__m256i*>(r.S0()), s0);
    _mm256_store_si256(reinterpret_cast<__m256i*>(r.S1()), s1);
}

// The four pixels at the offsets in at to d[0..3]; the offsets go to general registers two at a
// time, as loading through vector lanes is slower.
template <bool Stream>
__attribute__((target("avx2"))) inline void PutFour(const uint32_t* base, __m128i at, uint32_t* d) {
    const uint64_t q0 = uint64_t(_mm_cvtsi128_si64(at)), q1 = uint64_t(_mm_extract_epi64(at, 1));
    const uint32_t p[4] = {base[uint32_t(q0)], base[q0 >> 32], base[uint32_t(q1)], base[q1 >> 32]};
    for (int i = 0; i < 4; ++i) {
        if constexpr (Stream) _mm_stream_si32(reinterpret_cast<int*>(d + i), int(p[i]));
        else d[i] = p[i];
    }
}

// Pixels x .. to - 1 of a turned row, eight at a time while eight are left, from the fixed-point
// source position (u, v) of pixel x moving by (C, S) per pixel; every position lies inside the
// picture and its sizes are below 32768. Returns where it stopped.
__attribute__((target("avx2"))) int64_t RotateRunAvx2(const uint32_t* base, int64_t stride, uint32_t* d, int64_t x,
                                                      int64_t to, int64_t u, int64_t v, int64_t C, int64_t S) {
    const __m256i steps = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256i vu = _mm256_add_epi32(_mm256_set1_epi32(int32_t(u)), _mm256_mullo_epi32(steps, _mm256_set1_epi32(int32_t(C))));
    __m256i vv = _mm256_add_epi32(_mm256_set1_epi32(int32_t(v)), _mm256_mullo_epi32(steps, _mm256_set1_epi32(int32_t(S))));
    const __m256i stepU = _mm256_set1_epi32(int32_t(8 * C)), stepV = _mm256_set1_epi32(int32_t(8 * S));
    const __m256i high = _mm256_set1_epi32(int32_t(0xFFFF0000u));
    const __m256i mul = _mm256_set1_epi32(int32_t(uint32_t(stride) << 16 | 1u)); // x + y x stride
    for (; x + 8 <= to; x += 8) {
        __m256i at = _mm256_madd_epi16(_mm256_or_si256(_mm256_srli_epi32(vu, 16), _mm256_and_si256(vv, high)), mul);
        PutFour<false>(base, _mm256_castsi256_si128(at), d + x);
        PutFour<false>(base, _mm256_extracti128_si256(at, 1), d + x + 4);
        vu = _mm256_add_epi32(vu, stepU);
        vv = _mm256_add_epi32(vv, stepV);
    }
    return x;
}
#endif

} // namespace

void RotatePicture(TPLines& dst, int dstW, TBitmap& pic, int angle, uint32_t bg) {
    int w = pic.Width(), h = pic.Height();
    int rows = std::min(Height(dst), h), cols = std::min(dstW, w);
    double a = -angle * std::numbers::pi / 180;
    int64_t S = static_cast<int64_t>(std::nearbyint(std::sin(a) * 65536));
    int64_t C = static_cast<int64_t>(std::nearbyint(std::cos(a) * 65536));
    int64_t cx = w / 2, cy = h / 2;
    if (rows <= 0 || cols <= 0) return;
    const uint32_t* base = pic.Row32(0);
    const int64_t stride = pic.BytesPerLine() / 4;
    // Rows in bands of 16. Turned by up to about 50 degrees from level, a row reads along the
    // picture's rows and is drawn whole; turned further, it strides across them, and the band is
    // drawn in tiles of 64 columns, each reading a small turned square of the picture.
    const int64_t tile = std::abs(S) * 4 <= std::abs(C) * 5 ? cols : 64;
    const bool lanes = w < 32768 && h < 32768 && stride < 32768;
    const __m128i c4 = _mm_setr_epi32(0, int32_t(C), int32_t(2 * C), int32_t(3 * C));
    const __m128i s4 = _mm_setr_epi32(0, int32_t(S), int32_t(2 * S), int32_t(3 * S));
    const __m128i step4u = _mm_set1_epi32(int32_t(4 * C)), step4v = _mm_set1_epi32(int32_t(4 * S));
    const __m128i mul = _mm_set1_epi32(int32_t(uint32_t(stride) << 16 | 1u));
#if defined(LUMORA_AVX2)
    const bool avx2 = HasAvx2();
#endif
    ForRowBands(rows, [&](int first, int last) {
        struct TRun {
            int64_t u, v, lo, hi;
        };
        TRun runs[16];
        for (int y0 = first; y0 < last; y0 += 16) {
            int y1 = std::min(last, y0 + 16);
            for (int y = y0; y < y1; ++y) {
                TRun& r = runs[y - y0];
                r.u = -(cx * C) - (y - cy) * S + cx * 65536;
                r.v = (y - cy) * C - cx * S + cy * 65536;
                // Positions left of or above the picture are negative and fall outside like those
                // beyond it; the columns inside form one run, worked out by integer division.
                r.lo = 0, r.hi = cols;
                KeepInside(r.u, C, int64_t(w) << 16, r.lo, r.hi);
                KeepInside(r.v, S, int64_t(h) << 16, r.lo, r.hi);
                uint32_t* d = dst[static_cast<size_t>(y)];
                std::fill(d, d + r.lo, bg);
                std::fill(d + r.hi, d + cols, bg);
            }
            for (int64_t x0 = 0; x0 < cols; x0 += tile)
                for (int y = y0; y < y1; ++y) {
                    const TRun& r = runs[y - y0];
                    int64_t from = std::max(x0, r.lo), to = std::min(x0 + tile, r.hi);
                    uint32_t* d = dst[static_cast<size_t>(y)];
                    int64_t u = r.u + from * C, v = r.v + from * S;
                    int64_t x = from;
#if defined(LUMORA_AVX2)
                    if (lanes && avx2) {
                        int64_t at = RotateRunAvx2(base, stride, d, x, to, u, v, C, S);
                        u += (at - x) * C, v += (at - x) * S, x = at;
                    }
#endif
                    if (lanes) {
                        // Four positions at a time in 32-bit lanes (inside the run they lie within
                        // the picture), the offsets as 16-bit products: x + y x stride.
                        __m128i vu = _mm_add_epi32(_mm_set1_epi32(int32_t(u)), c4);
                        __m128i vv = _mm_add_epi32(_mm_set1_epi32(int32_t(v)), s4);
                        alignas(16) int32_t at[4];
                        for (; x + 4 <= to; x += 4, u += 4 * C, v += 4 * S) {
                            __m128i sx = _mm_srai_epi32(vu, 16), sy = _mm_srai_epi32(vv, 16);
                            __m128i xy = _mm_unpacklo_epi16(_mm_packs_epi32(sx, sx), _mm_packs_epi32(sy, sy));
                            _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_madd_epi16(xy, mul));
                            d[x] = base[at[0]], d[x + 1] = base[at[1]], d[x + 2] = base[at[2]], d[x + 3] = base[at[3]];
                            vu = _mm_add_epi32(vu, step4u);
                            vv = _mm_add_epi32(vv, step4v);
                        }
                    }
                    // Rows of a 32-bit bitmap lie one stride apart: one multiply instead of a row lookup.
                    for (; x < to; ++x, u += C, v += S) d[x] = base[(v >> 16) * stride + (u >> 16)];
                }
        }
    });
}

namespace {

// n for RandomBelow in a 16-bit lane: 1..65535.
int LaneRange(int n) { return std::clamp(n, 1, 65535); }

#if defined(__SSE2__)
inline __m128i Load4(const uint32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store4(uint32_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
#endif

// Runs block(src, dst) over a row four pixels at a time; the last pixels of a row whose width is
// not a multiple of four go through a four-pixel buffer, so every pixel is made the same way.
template <class Block>
void ByFours(const uint32_t* src, uint32_t* dst, int cols, Block&& block) {
    int x = 0;
    for (; x + 4 <= cols; x += 4) block(src + x, dst + x);
    if (x < cols) {
        uint32_t in[4] = {}, out[4];
        std::memcpy(in, src + x, size_t(cols - x) * 4);
        block(in, out);
        std::memcpy(dst + x, out, size_t(cols - x) * 4);
    }
}

// Where the spray reads and writes. Frames of a megapixel and more are larger than the caches:
// their pixels are written without first reading the lines they land in (streaming stores), and
// the picture's row that comes into reach next is asked for a row ahead.
struct TSprayRow {
    const uint32_t* base;
    int64_t stride; // in pixels
    int w, h, y, bound;
    uint32_t* d;
    bool stream;
};

inline void PutPixel(uint32_t* p, uint32_t v, bool stream) {
    if (stream) _mm_stream_si32(reinterpret_cast<int*>(p), int(v));
    else *p = v;
}

// Sixteen pixels x0 .. x0 + n - 1 (n up to 16) from one step of each of the row's three streams:
// r := Random(bound), then x and y each move by r - Random(2r), clamped to the picture. Sizes
// below 32768 let positions and offsets be 16-bit lanes.
void SprayGroup(const TSprayRow& row, TRowRandom16 (&rnd)[3], int x0, int n) {
    alignas(16) int32_t at[16];
    if (row.w < 32768 && row.h < 32768 && row.stride < 32768) {
        const __m128i bound = _mm_set1_epi16(static_cast<int16_t>(row.bound)), zero = _mm_setzero_si128();
        const __m128i lastX = _mm_set1_epi16(static_cast<int16_t>(row.w - 1)), lastY = _mm_set1_epi16(static_cast<int16_t>(row.h - 1));
        const __m128i mul = _mm_set1_epi32(int32_t(uint32_t(row.stride) << 16 | 1u)); // sx + sy x stride
        const __m128i ramp = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7), vy = _mm_set1_epi16(static_cast<int16_t>(row.y));
        for (int half = 0; half < 2; ++half) {
            __m128i r = _mm_mulhi_epu16(rnd[0].NextPair(half), bound), two = _mm_add_epi16(r, r);
            __m128i a = _mm_mulhi_epu16(rnd[1].NextPair(half), two), b = _mm_mulhi_epu16(rnd[2].NextPair(half), two);
            __m128i sx = _mm_adds_epi16(_mm_add_epi16(_mm_set1_epi16(static_cast<int16_t>(x0 + 8 * half)), ramp), _mm_sub_epi16(r, a));
            __m128i sy = _mm_adds_epi16(vy, _mm_sub_epi16(r, b));
            sx = _mm_min_epi16(_mm_max_epi16(sx, zero), lastX);
            sy = _mm_min_epi16(_mm_max_epi16(sy, zero), lastY);
            _mm_store_si128(reinterpret_cast<__m128i*>(at + 8 * half), _mm_madd_epi16(_mm_unpacklo_epi16(sx, sy), mul));
            _mm_store_si128(reinterpret_cast<__m128i*>(at + 8 * half + 4), _mm_madd_epi16(_mm_unpackhi_epi16(sx, sy), mul));
        }
        for (int i = 0; i < n; ++i) PutPixel(row.d + x0 + i, row.base[at[i]], row.stream);
        return;
    }
    uint16_t u[3][16];
    for (int k = 0; k < 3; ++k) rnd[k].Next(u[k]);
    for (int i = 0; i < n; ++i) {
        int r = RandomBelow(u[0][i], row.bound);
        int sx = ClampRange(x0 + i + r - RandomBelow(u[1][i], 2 * r), 0, row.w - 1);
        int sy = ClampRange(row.y + r - RandomBelow(u[2][i], 2 * r), 0, row.h - 1);
        PutPixel(row.d + x0 + i, row.base[sy * row.stride + sx], row.stream);
    }
}

#if defined(LUMORA_AVX2)
// SprayGroup for the whole groups of sixteen from x0 on, each stream's four generators stepped in
// one register; returns where it stopped. Only for sizes below 32768.
template <bool Stream>
__attribute__((target("avx2"))) int SprayRunAvx2(const TSprayRow& row, TRowRandom16 (&rnd)[3], int x0, int cols) {
    const uint32_t* const base = row.base;
    uint32_t* const out = row.d;
    __m256i r0, r1, a0, a1, b0, b1;
    LoadStream(rnd[0], r0, r1);
    LoadStream(rnd[1], a0, a1);
    LoadStream(rnd[2], b0, b1);
    const __m256i bound = _mm256_set1_epi16(static_cast<int16_t>(row.bound)), zero = _mm256_setzero_si256();
    const __m256i lastX = _mm256_set1_epi16(static_cast<int16_t>(row.w - 1));
    const __m256i mul = _mm256_set1_epi32(int32_t(uint32_t(row.stride) << 16 | 1u));
    __m256i xs = _mm256_add_epi16(_mm256_set1_epi16(static_cast<int16_t>(x0)),
                                  _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    // Moves reach at most bound - 1: rows and columns that far inside need no clamping.
    __m256i vy = _mm256_set1_epi16(static_cast<int16_t>(row.y));
    const bool clampY = row.y < row.bound || row.y + row.bound > row.h;
    const __m256i lastY = _mm256_set1_epi16(static_cast<int16_t>(row.h - 1));
    for (; x0 + 16 <= cols; x0 += 16) {
        __m256i r = _mm256_mulhi_epu16(StepFour(r0, r1), bound), two = _mm256_add_epi16(r, r);
        __m256i a = _mm256_mulhi_epu16(StepFour(a0, a1), two), b = _mm256_mulhi_epu16(StepFour(b0, b1), two);
        // Saturating sums: positions beyond 32767 clamp to the last column or row.
        __m256i sx = _mm256_adds_epi16(xs, _mm256_sub_epi16(r, a));
        __m256i sy = _mm256_adds_epi16(vy, _mm256_sub_epi16(r, b));
        if (x0 < row.bound || x0 + 16 + row.bound > row.w) sx = _mm256_min_epi16(_mm256_max_epi16(sx, zero), lastX);
        if (clampY) sy = _mm256_min_epi16(_mm256_max_epi16(sy, zero), lastY);
        xs = _mm256_add_epi16(xs, _mm256_set1_epi16(16));
        // Pairs interleave within each 128-bit half: pixels 0-3 and 8-11, then 4-7 and 12-15.
        __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi16(sx, sy), mul);
        __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi16(sx, sy), mul);
        PutFour<Stream>(base, _mm256_castsi256_si128(lo), out + x0);
        PutFour<Stream>(base, _mm256_castsi256_si128(hi), out + x0 + 4);
        PutFour<Stream>(base, _mm256_extracti128_si256(lo, 1), out + x0 + 8);
        PutFour<Stream>(base, _mm256_extracti128_si256(hi, 1), out + x0 + 12);
    }
    StoreStream(rnd[0], r0, r1);
    StoreStream(rnd[1], a0, a1);
    StoreStream(rnd[2], b0, b1);
    return x0;
}
#endif

} // namespace

void AllowAvx2(bool allow) { g_allowAvx2.store(allow, std::memory_order_relaxed); }

bool simd::HasAvx2() {
#if defined(LUMORA_SIMD_AVX2)
    static const bool has = __builtin_cpu_supports("avx2");
    return has && g_allowAvx2.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

// Each row has three streams of its own (the reach, then the two moves), so rows are drawn in
// bands and sixteen pixels at a time.
void Spray(TPLines& dst, int dstW, TBitmap& pic, int radius) {
    int w = pic.Width(), h = pic.Height();
    if (w <= 0 || h <= 0) return;
    int rows = std::min(Height(dst), h), cols = std::min(dstW, w);
    if (rows <= 0 || cols <= 0) return;
    const int bound = std::clamp(radius, 0, 16383); // 2r stays a 16-bit number
    const uint64_t seed = NewFrameSeed();
    const bool stream = int64_t(rows) * cols >= (1 << 20);
    const bool lanes = w < 32768 && h < 32768 && pic.BytesPerLine() / 4 < 32768;
#if defined(LUMORA_AVX2)
    const bool avx2 = lanes && HasAvx2();
#endif
    ForRowBands(rows, [&](int first, int last) {
        TSprayRow row{pic.Row32(0), pic.BytesPerLine() / 4, w, h, 0, bound, nullptr, stream};
        for (int y = first; y < last; ++y) {
            row.y = y, row.d = dst[static_cast<size_t>(y)];
            if (stream && y + bound < h) {
                const char* next = reinterpret_cast<const char*>(row.base + (y + bound) * row.stride);
                for (int64_t b = 0; b < int64_t(cols) * 4; b += 64) _mm_prefetch(next + b, _MM_HINT_T1);
            }
            TRowRandom16 rnd[3] = {{seed, 3 * y}, {seed, 3 * y + 1}, {seed, 3 * y + 2}};
            int x0 = 0;
#if defined(LUMORA_AVX2)
            if (avx2) x0 = stream ? SprayRunAvx2<true>(row, rnd, 0, cols) : SprayRunAvx2<false>(row, rnd, 0, cols);
#endif
            for (; x0 < cols; x0 += 16) SprayGroup(row, rnd, x0, std::min(16, cols - x0));
        }
        if (stream) _mm_sfence();
    });
}

namespace {

#if defined(LUMORA_AVX2)
// ColorNoise's row eight pixels at a time while eight are left: pixels 0-3 of each eight take the
// numbers of a step of stream 0, pixels 4-7 of stream 1 (two streams, so that neither waits on
// the other's last step). Returns where it stopped.
__attribute__((target("avx2"))) int ColorNoiseRunAvx2(const uint32_t* s, uint32_t* d, int cols, int n, TRowRandom16 (&rnd)[2]) {
    __m256i a0, a1, b0, b1;
    LoadStream(rnd[0], a0, a1);
    LoadStream(rnd[1], b0, b1);
    const __m256i range = _mm256_set1_epi16(static_cast<int16_t>(n)), half = _mm256_set1_epi16(static_cast<int16_t>(n / 2));
    const __m256i zero = _mm256_setzero_si256(), rgb = _mm256_set1_epi32(0x00FFFFFF);
    int x = 0;
    for (; x + 8 <= cols; x += 8) {
        __m256i u = StepFour(a0, a1), v = StepFour(b0, b1);
        // Pixels 0, 1 | 4, 5 take numbers 0-7 of each stream, pixels 2, 3 | 6, 7 numbers 8-15.
        __m256i n0 = _mm256_sub_epi16(_mm256_mulhi_epu16(_mm256_permute2x128_si256(u, v, 0x20), range), half);
        __m256i n1 = _mm256_sub_epi16(_mm256_mulhi_epu16(_mm256_permute2x128_si256(u, v, 0x31), range), half);
        __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + x));
        __m256i lo = _mm256_adds_epi16(_mm256_unpacklo_epi8(p, zero), n0);
        __m256i hi = _mm256_adds_epi16(_mm256_unpackhi_epi8(p, zero), n1);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + x), _mm256_and_si256(_mm256_packus_epi16(lo, hi), rgb));
    }
    StoreStream(rnd[0], a0, a1);
    StoreStream(rnd[1], b0, b1);
    return x;
}
#endif

} // namespace

// Each channel gets its own number of 0..n-1, less n div 2, and is clamped. Every four pixels
// take a step of one of the row's two streams, in turn.
void ColorNoise(TPLines& dst, int dstW, TBitmap& pic, int n) {
    int rows = std::min(Height(dst), pic.Height()), cols = std::min(dstW, pic.Width());
    if (rows <= 0 || cols <= 0) return;
    n = LaneRange(n);
    const uint64_t seed = NewFrameSeed();
#if defined(LUMORA_AVX2)
    const bool avx2 = HasAvx2();
#endif
    ForRowBands(rows, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            TRowRandom16 rnd[2] = {{seed, 2 * y}, {seed, 2 * y + 1}};
            const uint32_t* src = pic.Row32(y);
            uint32_t* out = dst[static_cast<size_t>(y)];
            int x = 0;
#if defined(LUMORA_AVX2)
            if (avx2) x = ColorNoiseRunAvx2(src, out, cols, n, rnd);
#endif
            int group = x / 4;
#if defined(__SSE2__)
            const __m128i range = _mm_set1_epi16(static_cast<int16_t>(n)), half = _mm_set1_epi16(static_cast<int16_t>(n / 2));
            const __m128i zero = _mm_setzero_si128(), rgb = _mm_set1_epi32(0x00FFFFFF);
            ByFours(src + x, out + x, cols - x, [&](const uint32_t* s, uint32_t* d) {
                TRowRandom16& r = rnd[group++ & 1];
                __m128i v = Load4(s);
                __m128i n0 = _mm_sub_epi16(_mm_mulhi_epu16(r.NextPair(0), range), half);
                __m128i n1 = _mm_sub_epi16(_mm_mulhi_epu16(r.NextPair(1), range), half);
                __m128i lo = _mm_adds_epi16(_mm_unpacklo_epi8(v, zero), n0);
                __m128i hi = _mm_adds_epi16(_mm_unpackhi_epi8(v, zero), n1);
                Store4(d, _mm_and_si128(_mm_packus_epi16(lo, hi), rgb));
            });
#else
            ByFours(src + x, out + x, cols - x, [&](const uint32_t* s, uint32_t* d) {
                uint16_t u[16];
                rnd[group++ & 1].Next(u);
                for (int i = 0; i < 4; ++i) {
                    uint32_t out = 0;
                    for (int c = 0; c < 3; ++c)
                        out |= uint32_t(ClampByte(int(Channel(s[i], 8 * c)) + RandomBelow(u[4 * i + c], n) - n / 2)) << (8 * c);
                    d[i] = out;
                }
            });
#endif
        }
    });
}

// One number of 0..n-1, less n div 2, per pixel, added to all three channels and clamped.
void WhiteNoise(TPLines& dst, int dstW, TBitmap& pic, int n) {
    int rows = std::min(Height(dst), pic.Height()), cols = std::min(dstW, pic.Width());
    if (rows <= 0 || cols <= 0) return;
    n = LaneRange(n);
    const uint64_t seed = NewFrameSeed();
    ForRowBands(rows, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            TRowRandom rnd(seed, y);
            // One step's eight numbers serve eight pixels: four pixels, then the next four.
            int phase = 0;
#if defined(__SSE2__)
            const __m128i range = _mm_set1_epi16(static_cast<int16_t>(n)), half = _mm_set1_epi16(static_cast<int16_t>(n / 2));
            const __m128i zero = _mm_setzero_si128(), rgb = _mm_set1_epi32(0x00FFFFFF);
            __m128i noise = zero;
            ByFours(pic.Row32(y), dst[static_cast<size_t>(y)], cols, [&](const uint32_t* s, uint32_t* d) {
                if (phase == 0) noise = _mm_sub_epi16(_mm_mulhi_epu16(rnd.Next8v(), range), half);
                __m128i pair = phase == 0 ? _mm_unpacklo_epi16(noise, noise) : _mm_unpackhi_epi16(noise, noise);
                phase ^= 1;
                __m128i v = Load4(s);
                __m128i lo = _mm_adds_epi16(_mm_unpacklo_epi8(v, zero), _mm_unpacklo_epi32(pair, pair));
                __m128i hi = _mm_adds_epi16(_mm_unpackhi_epi8(v, zero), _mm_unpackhi_epi32(pair, pair));
                Store4(d, _mm_and_si128(_mm_packus_epi16(lo, hi), rgb));
            });
#else
            uint16_t u[8];
            ByFours(pic.Row32(y), dst[static_cast<size_t>(y)], cols, [&](const uint32_t* s, uint32_t* d) {
                if (phase == 0) rnd.Next8(u);
                for (int i = 0; i < 4; ++i) {
                    int v = RandomBelow(u[4 * phase + i], n) - n / 2;
                    uint32_t out = 0;
                    for (int c = 0; c < 3; ++c) out |= uint32_t(ClampByte(int(Channel(s[i], 8 * c)) + v)) << (8 * c);
                    d[i] = out;
                }
                phase ^= 1;
            });
#endif
        }
    });
}

// ---- Fisheye and twist ----
//
// Both compute one source position per 2 x 2 block, in single precision four blocks at a time,
// and fill the block with the bilinear mix of the four pixels around it: weights in 1/256, the two
// pixels of each row mixed and rounded, then the two rows. Each block's distance to the centre does
// not change during a transition and is computed once. Positions are wrapped into the picture
// as they are computed, so that nearly every mix is of four blocks at once from plain offsets
// (eight where the CPU has AVX2).

namespace {

constexpr float kFar = 4194304.0f; // 2^22: beyond it a position is first reduced modulo the size
constexpr int kAhead = 64;          // blocks between asking for a block's memory and mixing it

// sin and cos of a (single precision, a few units in the last place): the quarter turns taken out
// in three parts, then the usual polynomials on [-pi/4, pi/4].
inline void SinCos4(__m128 a, __m128& sinOut, __m128& cosOut) {
    const __m128 twoOverPi = _mm_set1_ps(0.636619772367581f);
    __m128i q = _mm_cvtps_epi32(_mm_mul_ps(a, twoOverPi));
    __m128 qf = _mm_cvtepi32_ps(q);
    __m128 t = _mm_sub_ps(a, _mm_mul_ps(qf, _mm_set1_ps(1.5703125f)));
    t = _mm_sub_ps(t, _mm_mul_ps(qf, _mm_set1_ps(4.837512969970703125e-4f)));
    t = _mm_sub_ps(t, _mm_mul_ps(qf, _mm_set1_ps(7.54978995489188216e-8f)));
    __m128 z = _mm_mul_ps(t, t);
    __m128 ps = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(-1.9515295891e-4f), z), _mm_set1_ps(8.3321608736e-3f));
    ps = _mm_add_ps(_mm_mul_ps(ps, z), _mm_set1_ps(-1.6666654611e-1f));
    __m128 sn = _mm_add_ps(t, _mm_mul_ps(_mm_mul_ps(ps, z), t));
    __m128 pc = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(2.443315711809948e-5f), z), _mm_set1_ps(-1.388731625493765e-3f));
    pc = _mm_add_ps(_mm_mul_ps(pc, z), _mm_set1_ps(4.166664568298827e-2f));
    __m128 cs = _mm_add_ps(_mm_sub_ps(_mm_set1_ps(1.0f), _mm_mul_ps(z, _mm_set1_ps(0.5f))), _mm_mul_ps(_mm_mul_ps(pc, z), z));
    // Quadrant q: odd ones swap sine and cosine; the sine turns negative in quadrants 2 and 3, the
    // cosine in 1 and 2.
    __m128 swap = _mm_castsi128_ps(_mm_cmpeq_epi32(_mm_and_si128(q, _mm_set1_epi32(1)), _mm_set1_epi32(1)));
    __m128 s = _mm_or_ps(_mm_and_ps(swap, cs), _mm_andnot_ps(swap, sn));
    __m128 c = _mm_or_ps(_mm_and_ps(swap, sn), _mm_andnot_ps(swap, cs));
    __m128i signS = _mm_slli_epi32(_mm_and_si128(q, _mm_set1_epi32(2)), 30);
    __m128i signC = _mm_slli_epi32(_mm_and_si128(_mm_add_epi32(q, _mm_set1_epi32(1)), _mm_set1_epi32(2)), 30);
    sinOut = _mm_xor_ps(s, _mm_castsi128_ps(signS));
    cosOut = _mm_xor_ps(c, _mm_castsi128_ps(signC));
}

#if defined(LUMORA_AVX2)
// SinCos4 in eight lanes, step for step (the same results).
__attribute__((target("avx2"))) inline void SinCos8(__m256 a, __m256& sinOut, __m256& cosOut) {
    __m256i q = _mm256_cvtps_epi32(_mm256_mul_ps(a, _mm256_set1_ps(0.636619772367581f)));
    __m256 qf = _mm256_cvtepi32_ps(q);
    __m256 t = _mm256_sub_ps(a, _mm256_mul_ps(qf, _mm256_set1_ps(1.5703125f)));
    t = _mm256_sub_ps(t, _mm256_mul_ps(qf, _mm256_set1_ps(4.837512969970703125e-4f)));
    t = _mm256_sub_ps(t, _mm256_mul_ps(qf, _mm256_set1_ps(7.54978995489188216e-8f)));
    __m256 z = _mm256_mul_ps(t, t);
    __m256 ps = _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(-1.9515295891e-4f), z), _mm256_set1_ps(8.3321608736e-3f));
    ps = _mm256_add_ps(_mm256_mul_ps(ps, z), _mm256_set1_ps(-1.6666654611e-1f));
    __m256 sn = _mm256_add_ps(t, _mm256_mul_ps(_mm256_mul_ps(ps, z), t));
    __m256 pc = _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(2.443315711809948e-5f), z), _mm256_set1_ps(-1.388731625493765e-3f));
    pc = _mm256_add_ps(_mm256_mul_ps(pc, z), _mm256_set1_ps(4.166664568298827e-2f));
    __m256 cs = _mm256_add_ps(_mm256_sub_ps(_mm256_set1_ps(1.0f), _mm256_mul_ps(z, _mm256_set1_ps(0.5f))), _mm256_mul_ps(_mm256_mul_ps(pc, z), z));
    __m256 swap = _mm256_castsi256_ps(_mm256_cmpeq_epi32(_mm256_and_si256(q, _mm256_set1_epi32(1)), _mm256_set1_epi32(1)));
    __m256 s = _mm256_blendv_ps(sn, cs, swap), c = _mm256_blendv_ps(cs, sn, swap);
    __m256i signS = _mm256_slli_epi32(_mm256_and_si256(q, _mm256_set1_epi32(2)), 30);
    __m256i signC = _mm256_slli_epi32(_mm256_and_si256(_mm256_add_epi32(q, _mm256_set1_epi32(1)), _mm256_set1_epi32(2)), 30);
    sinOut = _mm256_xor_ps(s, _mm256_castsi256_ps(signS));
    cosOut = _mm256_xor_ps(c, _mm256_castsi256_ps(signC));
}

// The twist's factors (cos, sin of r x turn) of the first n blocks of a row, n a multiple of 8.
__attribute__((target("avx2"))) void TwistFactors8(const float* radius, float* c, float* s, int n, float turn) {
    for (int i = 0; i < n; i += 8) {
        __m256 sn, cs;
        SinCos8(_mm256_mul_ps(_mm256_loadu_ps(radius + i), _mm256_set1_ps(turn)), sn, cs);
        _mm256_storeu_ps(c + i, cs);
        _mm256_storeu_ps(s + i, sn);
    }
}

// The fisheye's factor of the first n blocks of a row (see Fisheye), n a multiple of 8.
__attribute__((target("avx2"))) void FisheyeFactors8(const float* radius, float* g, float* b, int n, float R, float pullR,
                                                     float rest) {
    const __m256 vr = _mm256_set1_ps(R), vp = _mm256_set1_ps(pullR), vrest = _mm256_set1_ps(rest);
    const __m256 two = _mm256_set1_ps(2.0f), zero = _mm256_setzero_ps();
    for (int i = 0; i < n; i += 8) {
        __m256 d = _mm256_loadu_ps(radius + i);
        __m256 f = _mm256_add_ps(_mm256_div_ps(vp, _mm256_mul_ps(two, _mm256_sub_ps(vr, d))), vrest);
        __m256 centre = _mm256_or_ps(_mm256_or_ps(_mm256_cmp_ps(d, zero, _CMP_EQ_OQ), _mm256_cmp_ps(d, vr, _CMP_EQ_OQ)),
                                     _mm256_cmp_ps(vr, zero, _CMP_EQ_OQ));
        _mm256_storeu_ps(g + i, _mm256_andnot_ps(centre, f));
        _mm256_storeu_ps(b + i, zero);
    }
}
#endif

// The source picture of a warp.
struct TWarpSource {
    const uint32_t* base;
    int64_t stride; // in pixels
    int w, h;
    const uint32_t* Row(int y) const { return base + y * stride; }
};

// The bilinear mix at the fixed-point position (X, Y) in 1/256 of a pixel; coordinates outside the
// picture wrap.
inline uint32_t MixAt(const TWarpSource& src, int32_t X, int32_t Y) {
    int ix = X >> 8, iy = Y >> 8, fx = X & 255, fy = Y & 255;
    int x0, x1, y0, y1;
    if (ix >= 0 && ix < src.w - 1) x0 = ix, x1 = ix + 1;
    else x0 = Wrap(ix, src.w), x1 = Wrap(int64_t(ix) + 1, src.w);
    if (iy >= 0 && iy < src.h - 1) y0 = iy, y1 = iy + 1;
    else y0 = Wrap(iy, src.h), y1 = Wrap(int64_t(iy) + 1, src.h);
    const uint32_t *r0 = src.Row(y0), *r1 = src.Row(y1);
    const __m128i zero = _mm_setzero_si128(), round = _mm_set1_epi32(128);
    // Channels of the left and the right pixel side by side, weighted in pairs: 32-bit sums.
    const __m128i wx = _mm_set1_epi32(fx << 16 | (256 - fx));
    __m128i top = _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(r0[x0])), _mm_cvtsi32_si128(int(r0[x1]))), zero);
    __m128i bot = _mm_unpacklo_epi8(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(r1[x0])), _mm_cvtsi32_si128(int(r1[x1]))), zero);
    top = _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(top, wx), round), 8);
    bot = _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(bot, wx), round), 8);
    // The two rows' channels side by side the same way.
    __m128i v = _mm_or_si128(top, _mm_slli_epi32(bot, 16));
    v = _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(v, _mm_set1_epi32(fy << 16 | (256 - fy))), round), 8);
    v = _mm_packs_epi32(v, zero);
    return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(v, zero))) & 0x00FFFFFFu;
}

// The same mix for four blocks whose pixel pairs (top row at p[l], bottom row a stride further)
// lie inside the picture, X and Y holding their fixed-point positions: in 16-bit lanes, two blocks
// to a register, where a channel times a weight of at most 256 stays below 2^16.
inline __m128i Mix4(const uint32_t* const p[4], int64_t stride, __m128i X, __m128i Y) {
    const __m128i zero = _mm_setzero_si128(), round = _mm_set1_epi16(128), full = _mm_set1_epi16(256);
    // Each block's weight in the four lanes of its pixel: blocks 0, 1 and blocks 2, 3.
    auto spread = [](__m128i f32, __m128i& lo, __m128i& hi) {
        __m128i f16 = _mm_packs_epi32(f32, f32);
        f16 = _mm_unpacklo_epi16(f16, f16);
        lo = _mm_unpacklo_epi32(f16, f16);
        hi = _mm_unpackhi_epi32(f16, f16);
    };
    const __m128i byte = _mm_set1_epi32(255);
    __m128i fxLo, fxHi, fyLo, fyHi;
    spread(_mm_and_si128(X, byte), fxLo, fxHi);
    spread(_mm_and_si128(Y, byte), fyLo, fyHi);
    // The left pixels of the four blocks in one register, the right ones in another.
    auto row = [&](int64_t offset, __m128i& left, __m128i& right) {
        auto pair = [&](int l) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p[l] + offset)); };
        __m128i a = _mm_unpacklo_epi32(pair(0), pair(1)), b = _mm_unpacklo_epi32(pair(2), pair(3));
        left = _mm_unpacklo_epi64(a, b);
        right = _mm_unpackhi_epi64(a, b);
    };
    // (a (256 - f) + b f + 128) / 256 per channel.
    auto mix = [&](__m128i a, __m128i b, __m128i f) {
        __m128i s = _mm_add_epi16(_mm_mullo_epi16(a, _mm_sub_epi16(full, f)), _mm_mullo_epi16(b, f));
        return _mm_srli_epi16(_mm_add_epi16(s, round), 8);
    };
    __m128i tl, tr, bl, br;
    row(0, tl, tr);
    row(stride, bl, br);
    __m128i topLo = mix(_mm_unpacklo_epi8(tl, zero), _mm_unpacklo_epi8(tr, zero), fxLo);
    __m128i topHi = mix(_mm_unpackhi_epi8(tl, zero), _mm_unpackhi_epi8(tr, zero), fxHi);
    __m128i botLo = mix(_mm_unpacklo_epi8(bl, zero), _mm_unpacklo_epi8(br, zero), fxLo);
    __m128i botHi = mix(_mm_unpackhi_epi8(bl, zero), _mm_unpackhi_epi8(br, zero), fxHi);
    __m128i v = _mm_packus_epi16(mix(topLo, botLo, fyLo), mix(topHi, botHi, fyHi));
    return _mm_and_si128(v, _mm_set1_epi32(0x00FFFFFF));
}

// Asks for the memory of the block whose top left pixel lies at offset at from base, both rows.
// Asking never faults, so the blocks that wrap (at -1) are asked for too.
inline void AskBlock(const uint32_t* base, int64_t stride, int32_t at) {
    uintptr_t a = uintptr_t(base) + uintptr_t(intptr_t(at) * 4);
    _mm_prefetch(reinterpret_cast<const char*>(a), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(a + uintptr_t(stride * 4)), _MM_HINT_T0);
}

#if defined(LUMORA_AVX2)
// (a (256 - f) + b f + 128) / 256 in 16-bit lanes.
__attribute__((target("avx2"))) inline __m256i MixLanes16(__m256i a, __m256i b, __m256i f128) {
    // The same as a + ((b - a) f + 128) / 256 rounded down, with f128 = 128 f: one rounding multiply.
    return _mm256_add_epi16(a, _mm256_mulhrs_epi16(_mm256_sub_epi16(b, a), f128));
}

// Mix4 eight blocks at a time, for CPUs with AVX2 (each 128-bit half of a register does what
// Mix4 does, blocks 0-3 in the low halves, 4-7 in the high ones), over the run of groups of eight
// from block i on whose offsets at are all valid; asks for memory ahead blocks ahead. Returns
// where the run stopped.
__attribute__((target("avx2"))) int MixRunAvx2(const uint32_t* base, int64_t stride, const int32_t* at,
                                               const int32_t* xs, const int32_t* ys, uint32_t* d0, uint32_t* d1,
                                               int i, int bx, int ahead) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i byte = _mm256_set1_epi32(255), rgb = _mm256_set1_epi32(0x00FFFFFF);
    for (; i + 8 <= bx; i += 8) {
        __m256i off = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + i));
        if (_mm256_movemask_ps(_mm256_castsi256_ps(off))) break;
        if (i + ahead + 8 <= bx) {
            for (int l = 0; l < 8; ++l) AskBlock(base, stride, at[i + ahead + l]);
        } else {
            for (int l = i + ahead; l < bx; ++l) AskBlock(base, stride, at[l]);
        }
        __m256i X = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(xs + i));
        __m256i Y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(ys + i));
        __m256i fx = _mm256_slli_epi32(_mm256_and_si256(X, byte), 7), fy = _mm256_slli_epi32(_mm256_and_si256(Y, byte), 7);
        fx = _mm256_packs_epi32(fx, fx), fy = _mm256_packs_epi32(fy, fy);
        fx = _mm256_unpacklo_epi16(fx, fx), fy = _mm256_unpacklo_epi16(fy, fy);
        const __m256i fxLo = _mm256_unpacklo_epi32(fx, fx), fxHi = _mm256_unpackhi_epi32(fx, fx);
        const __m256i fyLo = _mm256_unpacklo_epi32(fy, fy), fyHi = _mm256_unpackhi_epi32(fy, fy);
        __m256i tl = zero, tr = zero, bl = zero, br = zero; // both rows are loaded below
        for (int row = 0; row < 2; ++row) {
            const int64_t o = row ? stride : 0;
            // Two blocks' pixel pairs to a register (the second into the high half), then the
            // left and the right pixels apart.
            __m128 q[4];
            for (int l = 0; l < 4; ++l) {
                const uint32_t* p0 = base + at[i + 2 * l] + o;
                const uint32_t* p1 = base + at[i + 2 * l + 1] + o;
                q[l] = _mm_loadh_pi(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p0))),
                                    reinterpret_cast<const __m64*>(p1));
            }
            __m256 lo = _mm256_insertf128_ps(_mm256_castps128_ps256(q[0]), q[2], 1);
            __m256 hi = _mm256_insertf128_ps(_mm256_castps128_ps256(q[1]), q[3], 1);
            __m256i left = _mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0)));
            __m256i right = _mm256_castps_si256(_mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1)));
            (row ? bl : tl) = left;
            (row ? br : tr) = right;
        }
        __m256i topLo = MixLanes16(_mm256_unpacklo_epi8(tl, zero), _mm256_unpacklo_epi8(tr, zero), fxLo);
        __m256i topHi = MixLanes16(_mm256_unpackhi_epi8(tl, zero), _mm256_unpackhi_epi8(tr, zero), fxHi);
        __m256i botLo = MixLanes16(_mm256_unpacklo_epi8(bl, zero), _mm256_unpacklo_epi8(br, zero), fxLo);
        __m256i botHi = MixLanes16(_mm256_unpackhi_epi8(bl, zero), _mm256_unpackhi_epi8(br, zero), fxHi);
        __m256i v = _mm256_and_si256(_mm256_packus_epi16(MixLanes16(topLo, botLo, fyLo), MixLanes16(topHi, botHi, fyHi)), rgb);
        __m256i lo = _mm256_unpacklo_epi32(v, v), hi = _mm256_unpackhi_epi32(v, v);
        __m256i first = _mm256_permute2x128_si256(lo, hi, 0x20), second = _mm256_permute2x128_si256(lo, hi, 0x31);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d0 + 2 * i), first);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d0 + 2 * i + 8), second);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d1 + 2 * i), first);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d1 + 2 * i + 8), second);
    }
    return i;
}

#endif

// floor(s x 256) of a position inside kFar.
inline __m128i Fixed4(__m128 s) {
    __m128 v = _mm_mul_ps(s, _mm_set1_ps(256.0f));
    __m128i t = _mm_cvttps_epi32(v);
    return _mm_add_epi32(t, _mm_castps_si128(_mm_cmplt_ps(v, _mm_cvtepi32_ps(t)))); // -1 where truncation rounded up
}

// A fixed-point position with its whole pixels wrapped the way Wrap does (negative ones count back
// from the far edge: -k is size - 1 - k mod size), so that the mix seldom wraps; -1, whose right
// neighbour 0 does not wrap with it, is left for the mix. The fraction stays; every step is exact
// in single precision for |pixels| below 2^22.
inline __m128i Wrap4(__m128i X, __m128 size, __m128 inverse) {
    const __m128 one = _mm_set1_ps(1.0f), zero = _mm_setzero_ps();
    __m128i whole = _mm_srai_epi32(X, 8);
    __m128 v = _mm_cvtepi32_ps(whole);
    v = _mm_sub_ps(v, _mm_and_ps(_mm_cmplt_ps(v, zero), one));
    __m128 t = _mm_mul_ps(v, inverse);
    __m128 q = _mm_cvtepi32_ps(_mm_cvttps_epi32(t));
    q = _mm_sub_ps(q, _mm_and_ps(_mm_cmplt_ps(t, q), one));
    __m128 r = _mm_sub_ps(v, _mm_mul_ps(q, size));
    r = _mm_add_ps(r, _mm_and_ps(_mm_cmplt_ps(r, zero), size));
    r = _mm_sub_ps(r, _mm_and_ps(_mm_cmpge_ps(r, size), size));
    __m128i wrapped = _mm_or_si128(_mm_slli_epi32(_mm_cvttps_epi32(r), 8), _mm_and_si128(X, _mm_set1_epi32(255)));
    __m128i keep = _mm_cmpeq_epi32(whole, _mm_set1_epi32(-1));
    return _mm_or_si128(_mm_and_si128(keep, X), _mm_andnot_si128(keep, wrapped));
}

#if defined(LUMORA_AVX2)
// Wrap4 in eight lanes.
__attribute__((target("avx2"))) inline __m256i Wrap8(__m256i X, __m256 size, __m256 inverse) {
    const __m256 one = _mm256_set1_ps(1.0f), zero = _mm256_setzero_ps();
    __m256i whole = _mm256_srai_epi32(X, 8);
    __m256 v = _mm256_cvtepi32_ps(whole);
    v = _mm256_sub_ps(v, _mm256_and_ps(_mm256_cmp_ps(v, zero, _CMP_LT_OQ), one));
    __m256 t = _mm256_mul_ps(v, inverse);
    __m256 q = _mm256_cvtepi32_ps(_mm256_cvttps_epi32(t));
    q = _mm256_sub_ps(q, _mm256_and_ps(_mm256_cmp_ps(t, q, _CMP_LT_OQ), one));
    __m256 r = _mm256_sub_ps(v, _mm256_mul_ps(q, size));
    r = _mm256_add_ps(r, _mm256_and_ps(_mm256_cmp_ps(r, zero, _CMP_LT_OQ), size));
    r = _mm256_sub_ps(r, _mm256_and_ps(_mm256_cmp_ps(r, size, _CMP_GE_OQ), size));
    __m256i wrapped = _mm256_or_si256(_mm256_slli_epi32(_mm256_cvttps_epi32(r), 8), _mm256_and_si256(X, _mm256_set1_epi32(255)));
    __m256i keep = _mm256_cmpeq_epi32(whole, _mm256_set1_epi32(-1));
    return _mm256_blendv_epi8(wrapped, X, keep);
}

// Wrap8 for the usual case of positions less than a size beyond the picture: one subtraction or
// addition. Returns false, leaving X, when a lane lies farther out.
__attribute__((target("avx2"))) inline bool WrapNear8(__m256i& X, int size) {
    const __m256i last = _mm256_set1_epi32(size - 1), minus = _mm256_set1_epi32(-1);
    __m256i whole = _mm256_srai_epi32(X, 8);
    __m256i above = _mm256_cmpgt_epi32(whole, last), below = _mm256_cmpgt_epi32(minus, whole);
    // Beyond the far edge: less the size; before -1: counted back from the far edge.
    __m256i r = _mm256_add_epi32(_mm256_sub_epi32(whole, _mm256_and_si256(above, _mm256_set1_epi32(size))),
                                 _mm256_and_si256(below, last));
    // (Lanes at -1 stay there; those wrapped from before it must land at 0 or beyond.)
    __m256i out = _mm256_or_si256(_mm256_and_si256(below, _mm256_cmpgt_epi32(_mm256_setzero_si256(), r)),
                                  _mm256_cmpgt_epi32(r, last));
    if (!_mm256_testz_si256(out, out)) return false;
    X = _mm256_or_si256(_mm256_slli_epi32(r, 8), _mm256_and_si256(X, _mm256_set1_epi32(255)));
    return true;
}

// Lanes whose pair of rows and pair of columns lie inside a w x h picture.
__attribute__((target("avx2"))) inline __m256i Inside8(__m256i X, __m256i Y, int w, int h) {
    const __m256i minus = _mm256_set1_epi32(-1);
    __m256i ix = _mm256_srai_epi32(X, 8), iy = _mm256_srai_epi32(Y, 8);
    __m256i in = _mm256_and_si256(_mm256_cmpgt_epi32(ix, minus), _mm256_cmpgt_epi32(_mm256_set1_epi32(w - 1), ix));
    return _mm256_and_si256(in, _mm256_and_si256(_mm256_cmpgt_epi32(iy, minus), _mm256_cmpgt_epi32(_mm256_set1_epi32(h - 1), iy)));
}

// The positions of block row j (pass one of WarpBlocks) eight blocks at a time, from block i on
// until fewer than eight are left or a group holds a position that is far or not finite. Returns
// where it stopped.
__attribute__((target("avx2"))) int PlaceRunAvx2(const float* a, const float* b, float cx, float cy, float dyRow,
                                                 int w, int h, int64_t stride, bool lanes, int32_t* xs, int32_t* ys,
                                                 int32_t* offs, int i, int bx) {
    const __m256 steps = _mm256_setr_ps(0, 2, 4, 6, 8, 10, 12, 14), sign = _mm256_set1_ps(-0.0f);
    const __m256 vcx = _mm256_set1_ps(cx), vcy = _mm256_set1_ps(cy), dy = _mm256_set1_ps(dyRow);
    const __m256 fw = _mm256_set1_ps(float(w)), fh = _mm256_set1_ps(float(h));
    const __m256 invW = _mm256_set1_ps(1.0f / float(w)), invH = _mm256_set1_ps(1.0f / float(h));
    const __m256 scale = _mm256_set1_ps(256.0f), far = _mm256_set1_ps(kFar);
    const __m256i minus = _mm256_set1_epi32(-1);
    const __m256i rowStep = _mm256_set1_epi32(int32_t(uint32_t(stride) << 16 | 1u));
    for (; i + 8 <= bx; i += 8) {
        __m256 dx = _mm256_add_ps(_mm256_set1_ps(float(2 * i) - cx), steps);
        __m256 A = _mm256_loadu_ps(a + i), B = _mm256_loadu_ps(b + i);
        __m256 sx = _mm256_add_ps(vcx, _mm256_add_ps(_mm256_mul_ps(dx, A), _mm256_mul_ps(dy, B)));
        __m256 sy = _mm256_add_ps(vcy, _mm256_sub_ps(_mm256_mul_ps(dy, A), _mm256_mul_ps(dx, B)));
        // floor(s x 256). Far positions and those that are not finite come out beyond the
        // picture (or as the integer indefinite, -2^31), so the usual case of a group inside the
        // picture needs no other check.
        __m256i X = _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_mul_ps(sx, scale)));
        __m256i Y = _mm256_cvttps_epi32(_mm256_floor_ps(_mm256_mul_ps(sy, scale)));
        __m256i in = Inside8(X, Y, w, h);
        if (_mm256_movemask_ps(_mm256_castsi256_ps(in)) != 255) {
            __m256 mag = _mm256_max_ps(_mm256_andnot_ps(sign, sx), _mm256_andnot_ps(sign, sy));
            if (_mm256_movemask_ps(_mm256_cmp_ps(mag, far, _CMP_NLT_UQ))) break; // also NaN
            if (!WrapNear8(X, w)) X = Wrap8(X, fw, invW);
            if (!WrapNear8(Y, h)) Y = Wrap8(Y, fh, invH);
            in = Inside8(X, Y, w, h);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(xs + i), X);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(ys + i), Y);
        __m256i pair = _mm256_or_si256(_mm256_srai_epi32(X, 8), _mm256_slli_epi32(_mm256_srai_epi32(Y, 8), 16));
        __m256i off = _mm256_madd_epi16(_mm256_and_si256(in, pair), rowStep); // x + y x stride
        off = _mm256_blendv_epi8(minus, off, in);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(offs + i), lanes ? off : minus);
    }
    return i;
}
#endif

// The distance of every block to the centre, for one transition.
const std::vector<float>& BlockRadii(TWarpCache& cache, int rows, int cols, float cx, float cy) {
    if (cache.Rows == rows && cache.Cols == cols && cache.Cx == cx && cache.Cy == cy) return cache.Radius;
    int bx = std::max(0, cols / 2), by = std::max(0, rows / 2);
    // Four more than the blocks of a row, so that rows can be read four at a time.
    cache.Radius.assign(size_t(by) * size_t(bx) + 4, 0.0f);
    for (int j = 0; j < by; ++j)
        for (int i = 0; i < bx; ++i) {
            float dx = float(2 * i) - cx, dy = float(2 * j) - cy;
            cache.Radius[size_t(j) * size_t(bx) + size_t(i)] = std::sqrt(dx * dx + dy * dy);
        }
    cache.Rows = rows, cache.Cols = cols, cache.Cx = cx, cache.Cy = cy;
    return cache.Radius;
}

// Fills each block with the mix at its source position, (cx + dx a + dy b, cy + dy a - dx b) for
// the block's offsets (dx, dy) to the centre, where factors(radius, a, b) gives a and b (b starts
// at 0), four blocks at a time, from the block's distance to the centre. As the distances are the
// same for blocks that mirror each other about the centre, the factors are computed for one
// quarter of the blocks and shared; with AVX2, wide(radius, a, b, n) gives them for the first n
// blocks of a row (n a multiple of 8) eight at a time, with the same results. Positions that are
// not finite show the centre; far ones are first reduced modulo the size.
template <class Factors, class WideFactors>
void WarpBlocks(TPLines& dst, int dstW, TBitmap& pic, float cx, float cy, TWarpCache* cache, Factors&& factors,
                [[maybe_unused]] WideFactors&& wide) {
    int w = pic.Width(), h = pic.Height();
    if (w <= 0 || h <= 0) return;
    int rows = std::min(Height(dst), h), cols = std::min(dstW, w);
    int bx = cols / 2, by = rows / 2;
    if (bx <= 0 || by <= 0) return;
    TWarpCache local;
    const std::vector<float>& radius = BlockRadii(cache ? *cache : local, rows, cols, cx, cy);
    const TWarpSource src{pic.Row32(0), pic.BytesPerLine() / 4, w, h};
    const __m128 steps = _mm_setr_ps(0, 2, 4, 6);
    const __m128 fw = _mm_set1_ps(float(w)), fh = _mm_set1_ps(float(h));
    const __m128 invW = _mm_set1_ps(1.0f / float(w)), invH = _mm_set1_ps(1.0f / float(h));
    // The centre is a whole pixel, so block column i mirrors column mx - i and row j row my - j
    // (mx, my below 0 when no column or row mirrors another). Columns from split on take their
    // mirror's factors; a row j up to my / 2 also draws row my - j (when that lies below it), and
    // the rows after my stand alone.
    const int mx = cx == std::floor(cx) ? int(cx) : -1, my = cy == std::floor(cy) ? int(cy) : -1;
    const int split = mx >= bx - 1 ? std::clamp(mx / 2 + 1, 0, bx) : bx;
    const int pairs = my >= 0 ? std::clamp(my / 2 + 1, 0, by) : 0;
    const int alone = std::max(0, by - std::max(pairs, my + 1));
    ForRowBands(pairs + alone, [&](int first, int last) {
        // A row of blocks in two passes: the positions first, then the mixes. offs holds where
        // a block's top left pixel lies, or -1 where the mix has to wrap (or the sizes do not
        // fit the 16-bit arithmetic of the offsets).
        std::vector<int32_t> xs(size_t(bx) + 4), ys(size_t(bx) + 4), offs(size_t(bx) + 4);
        alignas(16) float sxs[4], sys[4];
        const bool lanes = w < 32768 && h < 32768 && src.stride < 32768;
#if defined(LUMORA_AVX2)
        const bool avx2 = HasAvx2();
#endif
        const __m128i lastX = _mm_set1_epi32(w - 1), lastY = _mm_set1_epi32(h - 1), minus = _mm_set1_epi32(-1);
        const __m128i rowStep = _mm_set1_epi32(int32_t(uint32_t(src.stride) << 16 | 1u));
        // Lanes whose pair of rows and pair of columns lie inside the picture.
        auto inside = [&](__m128i X, __m128i Y) {
            __m128i ix = _mm_srai_epi32(X, 8), iy = _mm_srai_epi32(Y, 8);
            __m128i in = _mm_and_si128(_mm_cmpgt_epi32(ix, minus), _mm_cmplt_epi32(ix, lastX));
            return _mm_and_si128(in, _mm_and_si128(_mm_cmpgt_epi32(iy, minus), _mm_cmplt_epi32(iy, lastY)));
        };
        std::vector<float> f1(size_t(bx) + 4), f2(size_t(bx) + 4);
        // The factors of block row j's columns.
        auto rowFactors = [&](int j) {
            const float* rad = radius.data() + size_t(j) * size_t(bx);
            int i = 0;
#if defined(LUMORA_AVX2)
            if (avx2) {
                i = split & ~7;
                wide(rad, f1.data(), f2.data(), i);
            }
#endif
            for (; i < split; i += 4) {
                __m128 a = _mm_setzero_ps(), b = a;
                factors(_mm_loadu_ps(rad + i), a, b);
                _mm_storeu_ps(&f1[size_t(i)], a);
                _mm_storeu_ps(&f2[size_t(i)], b);
            }
            for (int i = split; i < bx; ++i) f1[size_t(i)] = f1[size_t(mx - i)], f2[size_t(i)] = f2[size_t(mx - i)];
        };
        auto drawRow = [&](int j) {
            int y = 2 * j;
            __m128 dy = _mm_set1_ps(float(y) - cy);
            for (int i = 0; i < bx; i += 4) {
#if defined(LUMORA_AVX2)
                if (avx2) {
                    i = PlaceRunAvx2(f1.data(), f2.data(), cx, cy, float(y) - cy, w, h, src.stride, lanes, xs.data(),
                                     ys.data(), offs.data(), i, bx);
                    if (i >= bx) break;
                }
#endif
                __m128 dx = _mm_add_ps(_mm_set1_ps(float(2 * i) - cx), steps);
                __m128 a = _mm_loadu_ps(&f1[size_t(i)]), b = _mm_loadu_ps(&f2[size_t(i)]);
                __m128 sx = _mm_add_ps(_mm_set1_ps(cx), _mm_add_ps(_mm_mul_ps(dx, a), _mm_mul_ps(dy, b)));
                __m128 sy = _mm_add_ps(_mm_set1_ps(cy), _mm_sub_ps(_mm_mul_ps(dy, a), _mm_mul_ps(dx, b)));
                // Lanes that are not finite or lie far away go the slow way.
                __m128 mag = _mm_max_ps(_mm_andnot_ps(_mm_set1_ps(-0.0f), sx), _mm_andnot_ps(_mm_set1_ps(-0.0f), sy));
                __m128 far = _mm_cmpnlt_ps(mag, _mm_set1_ps(kFar)); // also NaN
                __m128i X = Fixed4(_mm_andnot_ps(far, sx)), Y = Fixed4(_mm_andnot_ps(far, sy));
                __m128i in = inside(X, Y);
                // Positions outside the picture are wrapped here, so that the mix of a block
                // rarely needs to.
                if (_mm_movemask_ps(_mm_castsi128_ps(in)) != 15) {
                    X = Wrap4(X, fw, invW), Y = Wrap4(Y, fh, invH);
                    in = inside(X, Y);
                }
                _mm_storeu_si128(reinterpret_cast<__m128i*>(&xs[size_t(i)]), X);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(&ys[size_t(i)]), Y);
                __m128i pair = _mm_or_si128(_mm_srai_epi32(X, 8), _mm_slli_epi32(_mm_srai_epi32(Y, 8), 16));
                __m128i off = _mm_madd_epi16(_mm_and_si128(in, pair), rowStep); // x + y x stride
                off = _mm_or_si128(_mm_and_si128(in, off), _mm_andnot_si128(in, minus));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(&offs[size_t(i)]), lanes ? off : minus);
                if (int slow = _mm_movemask_ps(far)) {
                    _mm_store_ps(sxs, sx);
                    _mm_store_ps(sys, sy);
                    for (int l = 0; l < 4; ++l) {
                        if (!(slow & (1 << l))) continue;
                        float fx = sxs[l], fy = sys[l];
                        if (!std::isfinite(fx) || !std::isfinite(fy)) {
                            fx = cx, fy = cy;
                        } else {
                            if (std::fabs(fx) >= kFar) fx = std::fmod(fx, float(w));
                            if (std::fabs(fy) >= kFar) fy = std::fmod(fy, float(h));
                        }
                        xs[size_t(i + l)] = int32_t(std::floor(fx * 256.0f));
                        ys[size_t(i + l)] = int32_t(std::floor(fy * 256.0f));
                        offs[size_t(i + l)] = -1;
                    }
                }
            }
            // Local copies, which the stores into the frame cannot be taken to change.
            const uint32_t* const base = src.base;
            const int64_t stride = src.stride;
            const int32_t* const at = offs.data();
            auto ask = [&](int i) { AskBlock(base, stride, at[i]); };
            for (int i = 0; i < std::min(kAhead, bx); ++i) ask(i);
            uint32_t* const d0 = dst[size_t(y)];
            uint32_t* const d1 = dst[size_t(y) + 1];
            auto one = [&](int i) {
                uint64_t p = MixAt(src, xs[size_t(i)], ys[size_t(i)]);
                p |= p << 32;
                std::memcpy(d0 + 2 * i, &p, 8);
                std::memcpy(d1 + 2 * i, &p, 8);
            };
            int i = 0;
            for (; i + 4 <= bx; i += 4) {
#if defined(LUMORA_AVX2)
                if (avx2) {
                    i = MixRunAvx2(base, stride, at, xs.data(), ys.data(), d0, d1, i, bx, kAhead);
                    if (i + 4 > bx) break;
                }
#endif
                // The memory of blocks a few places ahead is asked for while these are mixed.
                if (i + kAhead + 4 <= bx) {
                    for (int l = 0; l < 4; ++l) ask(i + kAhead + l);
                } else {
                    for (int l = i + kAhead; l < bx; ++l) ask(l);
                }
                __m128i off = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + i));
                if (_mm_movemask_ps(_mm_castsi128_ps(off))) {
                    for (int l = 0; l < 4; ++l) one(i + l);
                    continue;
                }
                const uint32_t* p[4];
                for (int l = 0; l < 4; ++l) p[l] = base + at[i + l];
                __m128i v = Mix4(p, stride, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&xs[size_t(i)])),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(&ys[size_t(i)])));
                __m128i lo = _mm_unpacklo_epi32(v, v), hi = _mm_unpackhi_epi32(v, v);
                Store4(d0 + 2 * i, lo);
                Store4(d0 + 2 * i + 4, hi);
                Store4(d1 + 2 * i, lo);
                Store4(d1 + 2 * i + 4, hi);
            }
            for (; i < bx; ++i) one(i);
        };
        for (int t = first; t < last; ++t) {
            int j = t < pairs ? t : t - pairs + std::max(pairs, my + 1);
            rowFactors(j);
            drawRow(j);
            if (t < pairs && my - j > j && my - j < by) drawRow(my - j);
        }
    }, 2);
}

} // namespace

void Fisheye(TPLines& dst, int dstW, TBitmap& pic, double p, double pull, TWarpCache* cache) {
    int w = pic.Width(), h = pic.Height();
    const float cx = float(w / 2), cy = float(h / 2);
    const float R = float(std::max(dstW, Height(dst)) * p);
    const __m128 vr = _mm_set1_ps(R), pullR = _mm_set1_ps(float(pull) * R), rest = _mm_set1_ps(1.0f - float(pull));
    const __m128 two = _mm_set1_ps(2.0f), zero = _mm_setzero_ps();
    WarpBlocks(
        dst, dstW, pic, cx, cy, cache,
        [&](__m128 d, __m128& g, __m128&) {
            // g = pull x R / (2 (R - d)) + (1 - pull): the lens's pull, faded towards no pull. At
            // the centre and on the lens's rim (and for a lens of no size) the block shows the
            // centre.
            g = _mm_add_ps(_mm_div_ps(pullR, _mm_mul_ps(two, _mm_sub_ps(vr, d))), rest);
            __m128 centre = _mm_or_ps(_mm_or_ps(_mm_cmpeq_ps(d, zero), _mm_cmpeq_ps(d, vr)), _mm_cmpeq_ps(vr, zero));
            g = _mm_andnot_ps(centre, g);
        },
        [&](const float* radius, float* g, float* b, int n) {
#if defined(LUMORA_AVX2)
            FisheyeFactors8(radius, g, b, n, R, float(pull) * R, 1.0f - float(pull));
#endif
        });
}

void Twist(TPLines& dst, int dstW, TBitmap& pic, double twist, TWarpCache* cache) {
    int w = pic.Width(), h = pic.Height();
    const float cx = float((w - 1) / 2), cy = float((h - 1) / 2);
    const __m128 turn = _mm_set1_ps(float(twist));
    WarpBlocks(
        dst, dstW, pic, cx, cy, cache, [&](__m128 r, __m128& c, __m128& s) {
            // The source turned back by r x twist: (dx cos + dy sin, dy cos - dx sin) about the
            // centre.
            SinCos4(_mm_mul_ps(r, turn), s, c);
        },
        [&](const float* radius, float* c, float* s, int n) {
#if defined(LUMORA_AVX2)
            TwistFactors8(radius, c, s, n, float(twist));
#endif
        });
}

void Wave(TPLines& dst, int dstW, TBitmap& pic, const std::array<int, 256>& amp, double f, int kind) {
    int w = pic.Width(), h = pic.Height();
    if (w <= 0 || h <= 0) return;
    int rows = std::min(Height(dst), h), cols = std::min(dstW, w);
    std::array<int, 256> shift{};
    for (int i = 0; i < 256; ++i) shift[static_cast<size_t>(i)] = static_cast<int>(std::nearbyint(amp[static_cast<size_t>(i)] * f));
    // The source column of every column, once per frame.
    std::vector<int> column(static_cast<size_t>(std::max(cols, 0)));
    for (int x = 0; x < cols; ++x)
        column[static_cast<size_t>(x)] = kind == 1 ? x : Mod(int64_t(x) + shift[static_cast<size_t>(x % 256)], w);
    ForRowBands(rows, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            int sy = kind == 2 ? y : Mod(int64_t(y) + shift[static_cast<size_t>(y % 256)], h);
            const uint32_t* src = pic.Row32(sy);
            uint32_t* d = dst[static_cast<size_t>(y)];
            for (int x = 1 - y % 2; x <= cols - 2; x += 2) d[x] = d[x + 1] = src[column[static_cast<size_t>(x)]];
        }
    });
}

// ---- Convert ----

void Emboss(TBitmap& pic) {
    int w = pic.Width(), h = pic.Height();
    if (w <= 0 || h <= 0) return;
    // Rows in processing order: row 0 twice, then 1 .. h - 2; the last row keeps its pixels (a
    // one-row picture is embossed against itself).
    std::vector<int> order{0, 0};
    for (int y = 1; y <= h - 2; ++y) order.push_back(y);
    std::vector<uint32_t> next(static_cast<size_t>(w));
    for (size_t i = 0; i < order.size(); ++i) {
        int y = order[i];
        std::memcpy(next.data(), pic.Row32(std::min(y + 1, h - 1)), static_cast<size_t>(w) * 4);
        bool lastTwo = i + 2 >= order.size();
        uint32_t* row = pic.Row32(y);
        for (int x = 0; x < w; ++x) {
            int nx = lastTwo ? std::min(1, w - 1) : std::min(x + 1, w - 1);
            uint32_t nb = next[static_cast<size_t>(nx)], px = row[x];
            uint32_t out = 0;
            for (int sh = 0; sh <= 16; sh += 8) out |= (((255 - Channel(nb, sh)) + Channel(px, sh)) / 2) << sh;
            row[x] = out;
        }
    }
}

void ColorSwap(TBitmap& pic, int mode) {
    for (int y = 0; y < pic.Height(); ++y) {
        uint32_t* row = pic.Row32(y);
        for (int x = 0; x < pic.Width(); ++x) {
            uint32_t b = row[x] & 0xFF, g = (row[x] >> 8) & 0xFF, r = (row[x] >> 16) & 0xFF;
            uint32_t nb = b, ng = g, nr = r;
            if (mode == 1) nb = r, ng = 0, nr = b;
            else if (mode == 2) nb = 0, ng = r, nr = b;
            else if (mode == 3) nb = g, ng = b, nr = 0;
            row[x] = nb | (ng << 8) | (nr << 16);
        }
    }
}

void InvertPicture(TBitmap& pic, int threshold) {
    for (int y = 0; y < pic.Height(); ++y) {
        uint32_t* row = pic.Row32(y);
        for (int x = 0; x < pic.Width(); ++x) {
            uint32_t out = 0;
            for (int sh = 0; sh <= 16; sh += 8) {
                int c = static_cast<int>(Channel(row[x], sh));
                out |= uint32_t(c < threshold ? c : 255 - c) << sh;
            }
            row[x] = out;
        }
    }
}

void ConvertPicture(TBitmap& picture, int code) {
    switch (code) {
    case 72: Emboss(picture); break;
    case 73: ColorSwap(picture, 2); break;
    case 74: ColorSwap(picture, 3); break;
    case 75: ColorSwap(picture, 1); break;
    case 76: InvertPicture(picture, 0); break;
    default: break;
    }
}

// ---- Turn ----

bool TurnCell(TPLines& dst, int dstW, const TRect& cell, int f, TBitmap& oldPic, int ox, int oy, TBitmap& newPic,
              int nx, int ny, uint32_t bg) {
    TRect c = IntersectRect(cell, TRect{0, 0, dstW, Height(dst)});
    if (c.IsEmpty() || f < 0) return false;
    auto fill = [&] {
        for (int y = c.Top; y < c.Bottom; ++y) std::fill(dst[static_cast<size_t>(y)] + c.Left, dst[static_cast<size_t>(y)] + c.Right, bg);
    };
    // Copies picture row (in destination coordinates) py into destination row y within the cell.
    auto copyRow = [&](int y, int py, TBitmap& pic, int px0, int py0) {
        int sy = py - py0;
        if (Empty(pic) || sy < 0 || sy >= pic.Height()) return;
        int x0 = std::max(c.Left, px0), x1 = std::min(c.Right, px0 + pic.Width());
        if (x1 > x0) std::memcpy(dst[static_cast<size_t>(y)] + x0, pic.Row32(sy) + (x0 - px0), static_cast<size_t>(x1 - x0) * 4);
    };
    if (f > 128) {
        fill();
        for (int y = c.Top; y < c.Bottom; ++y) copyRow(y, y, newPic, nx, ny);
        return true;
    }
    // The cosine is zero exactly at a quarter turn, by the table's index.
    if (f == 64 || f == 128) return false;
    double s = WaveCos(f);
    int h = cell.Height() / 2;
    double centre = cell.Top + h;
    fill();
    bool folding = f < 64;
    for (int y = c.Top; y < c.Bottom; ++y) {
        double pos = folding ? (y - centre) / s + centre : centre - (y - centre) / s;
        if (!(pos >= cell.Top - 0.5 && pos < cell.Bottom - 0.5)) continue;
        int py = static_cast<int>(std::nearbyint(pos));
        if (py < cell.Top || py >= cell.Bottom) continue;
        if (folding) copyRow(y, py, oldPic, ox, oy);
        else copyRow(y, py, newPic, nx, ny);
    }
    return false;
}

// ---- Frame work ----

namespace {

void LightFrame(TEffectContext& c, int k) {
    bool oldSide = k < 256;
    int v = oldSide ? k : 512 - k;
    TBitmap& pic = oldSide ? c.Old : c.New;
    TBoundsRec& u = c.S.Update;
    int dx = oldSide ? c.Mon.X - u.X : c.NewRect.X - u.X, dy = oldSide ? c.Mon.Y - u.Y : c.NewRect.Y - u.Y;
    LightPictureFast(FrameLines(c), c.S.Work->Width(), pic, dx, dy, c.S.EffectCode, v, c.BgPix, c.S.FramesDrawn);
}

void NoiseFrame(TEffectContext& c, int k) {
    TBoundsRec& u = c.S.Update;
    bool oldSide = k < 8;
    int jitter = k < 4 ? 64 : k < 8 ? 0 : (u.W - (u.W / 24) * k) / 8;
    TBitmap& pic = oldSide ? c.Old : c.New;
    int dx = oldSide ? c.Mon.X - u.X : c.NewRect.X - u.X, dy = oldSide ? c.Mon.Y - u.Y : c.NewRect.Y - u.Y;
    TPLines& dst = FrameLines(c);
    int w = c.S.Work->Width();
    int code = c.S.EffectCode;
    if (code == 22) {
        NoiseRows(dst, w, pic, dx, dy, jitter, c.BgPix, -1);
        return;
    }
    ComposeAndNoiseRows(dst, w, pic, dx, dy, jitter, c.Bg, c.BgPix, code == 42 ? 2 : code == 43 ? 1 : 0);
}

void MosaicSplitFrame(TEffectContext& c, int k) {
    TBoundsRec& u = c.S.Update;
    bool newSide = k >= 17;
    TBitmap& pic = newSide ? c.New : c.Old;
    int dx = newSide ? c.NewRect.X - u.X : c.Mon.X - u.X, dy = newSide ? c.NewRect.Y - u.Y : c.Mon.Y - u.Y;
    TPLines& dst = FrameLines(c);
    int w = c.S.Work->Width();
    int m = MosaicSize(k);
    switch (c.S.EffectCode) {
    case 23: MosaicFrom(dst, w, pic, dx, dy, c.BgPix, m * m + 2); break;
    case 24: ComposeAndSplitBlur(dst, w, pic, c.Bg, dy, dx, m * m * 2); break;
    default: SplitRGB(dst, w, pic, dx, dy, m * m * 3, c.BgPix); break;
    }
}

void WarpFrame(TEffectContext& c, int k, int n) {
    TPLines& dst = FrameLines(c);
    int w = c.S.Work->Width();
    TBitmap& pic = c.New;
    switch (c.S.EffectCode) {
    case 25: RotatePicture(dst, w, pic, k, c.BgPix); break;
    case 45: RotatePicture(dst, w, pic, 360 - k, c.BgPix); break;
    case 26: {
        // The background shows only where the spray does not reach (beyond the picture).
        int ph = pic.Height(), pw = std::max(0, std::min(pic.Width(), w));
        for (size_t y = 0; y < dst.size(); ++y)
            std::fill(dst[y] + (int(y) < ph ? pw : 0), dst[y] + w, c.BgPix);
        Spray(dst, w, pic, ((n - k) * (n - k) + 2) / 8);
        break;
    }
    case 49: ColorNoise(dst, w, pic, (n - k) * (n - k) + 2); break;
    case 50: WhiteNoise(dst, w, pic, (n - k) * (n - k) + 2); break;
    case 52: Fisheye(dst, w, pic, (k + 1) * 1.2 / n, double(n - k) / n, &c.S.Scratch->Warp); break;
    case 53: Twist(dst, w, pic, TwistAt(k, n), &c.S.Scratch->Warp); break;
    case 63: Wave(dst, w, pic, c.S.WaveAmp, WaveCos(k + 192), 0); break;
    case 64: Wave(dst, w, pic, c.S.WaveAmp, WaveCos(k + 192), 1); break;
    default: Wave(dst, w, pic, c.S.WaveAmp, WaveCos(k + 192), 2); break;
    }
}

TRect Border(const TEffectContext& c) { return c.Mon.LastUpdate; }

// Warp and convert frames: both repaint only the new picture's rectangle and clear the old
// picture's border in phases. Both end with the border wholly cleared.
void WarpOrConvert(TEffectContext& c, bool& Done, bool convert) {
    TTransitionState& s = c.S;
    int n = convert ? 320 : s.FrameCount;
    if (s.LastFrame < 0) s.LastFrame = 0;
    int k = std::min(n, TimedFrame(c, n));
    if (k != s.LastFrame) {
        TRect inner = c.U();
        if (convert) {
            s.FramesDrawn++;
            InterlaceBorder(c, Border(c), inner, s.FramesDrawn);
            if (k > 64 && !c.NewEmpty()) {
                TComposeGeometry g{};
                BlendMode0(FrameLines(c), s.Work->Width(), c.Old, c.New, g, s.FramesDrawn, c.Bg, k - 64);
            }
        } else {
            WarpFrame(c, k, n);
            if (!c.OldEmpty()) InterlaceBorder(c, Border(c), inner, s.FramesDrawn);
            s.FramesDrawn++;
        }
        DrawWork(c);
        s.LastFrame = k;
    }
    PreciseWait(10);
    Done = false;
    if (k >= n) {
        if (s.FramesDrawn < 5) {
            s.FramesDrawn = 4;
            InterlaceBorder(c, Border(c), c.U(), 4);
        }
        EndNow(c);
    }
}

void TurnFrame(TEffectContext& c, int k) {
    TBoundsRec& u = c.S.Update;
    TPLines& dst = FrameLines(c);
    int w = c.S.Work->Width();
    int ox = c.Mon.X - u.X, oy = c.Mon.Y - u.Y, nx = c.NewRect.X - u.X, ny = c.NewRect.Y - u.Y;
    if (c.S.EffectCode == 66) {
        TurnCell(dst, w, TRect{0, 0, w, static_cast<int>(dst.size())}, k, c.Old, ox, oy, c.New, nx, ny, c.BgPix);
        return;
    }
    int64_t columns = (int64_t(u.W) + 99) / 100, rows = (int64_t(u.H) + 99) / 100;
    int64_t cells = columns * rows;
    for (int64_t i = 0; i < cells; ++i) {
        if (RandPoolTest(i, 0, 1)) continue;
        int64_t f = k - (128 * i * 3) / cells;
        if (f < 0) break; // later cells start later still
        TRect cell = Bounds(static_cast<int>((i % columns) * 100), static_cast<int>((i / columns) * 100), 100, 100);
        if (TurnCell(dst, w, cell, static_cast<int>(f), c.Old, ox, oy, c.New, nx, ny, c.BgPix)) RandPoolSet(i, 0, 1);
    }
}

} // namespace

void StepPixelFamily(TEffectContext& c, bool& Done) {
    TTransitionState& s = c.S;
    int code = s.EffectCode;
    bool oldEmpty = c.OldEmpty();
    int n, head = 0;
    switch (code) {
    case 21: case 46: case 47: case 48: case 70: case 71:
        n = 512;
        head = oldEmpty ? 256 : 0;
        break;
    case 22: case 42: case 43: case 44:
        n = 24;
        head = oldEmpty ? 12 : 0;
        break;
    case 23: case 24: case 51:
        n = 32;
        head = oldEmpty ? 16 : 0;
        break;
    case 66: case 67:
        n = s.FrameCount;
        break;
    case 72: case 73: case 74: case 75: case 76:
        WarpOrConvert(c, Done, true);
        return;
    default: // 25, 26, 45, 49, 50, 52, 53, 63-65
        WarpOrConvert(c, Done, false);
        return;
    }
    int k;
    if (!BeginTimedFrame(c, n, head, 0, k, Done)) return;
    if (n == 512 && code != 67) LightFrame(c, k);
    else if (n == 24) NoiseFrame(c, k);
    else if (n == 32) MosaicSplitFrame(c, k);
    else TurnFrame(c, k);
    s.FramesDrawn++;
    DrawWork(c);
    EndTimedFrame(c, k, n, Done);
}

} // namespace lumora
