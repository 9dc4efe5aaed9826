// Pixel-effect transitions: light, noise lines, mosaic, split, warp (rotation, spray, noise,
// fisheye, twist, waves), convert (emboss, colour swaps, invert) and turn.

#include "engine/EffectsPixel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "engine/Compositors.h"
#include "engine/Effects.h"
#include "engine/EffectsSimd.h"
#include "engine/RowBands.h"
#include "engine/RowRandom.h"
#include "platform/Random.h"

namespace lumora {

namespace {

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

// Where the bilinear mix of (sx, sy) reads: the two rows, the two columns and the weights.
struct TSample {
    const uint32_t* r0;
    const uint32_t* r1;
    int x0, x1;
    double fx, fy;
};

// The four pixels around (sx, sy), positions wrapped into the picture. The two rows are asked for
// from the memory at once, so that a row of samples waits for its reads side by side.
TSample SampleAt(const TPLines& rows, int w, double sx, double sy) {
    int h = static_cast<int>(rows.size());
    // Far-away positions only need their place modulo the size; keep them in integer range.
    if (std::fabs(sx) > 1e9) sx = std::fmod(sx, w);
    if (std::fabs(sy) > 1e9) sy = std::fmod(sy, h);
    double fx0 = std::floor(sx), fy0 = std::floor(sy);
    int64_t ix = static_cast<int64_t>(fx0), iy = static_cast<int64_t>(fy0);
    TSample t;
    t.fx = sx - fx0;
    t.fy = sy - fy0;
    t.x0 = Wrap(ix, w);
    t.x1 = Wrap(ix + 1, w);
    t.r0 = rows[static_cast<size_t>(Wrap(iy, h))];
    t.r1 = rows[static_cast<size_t>(Wrap(iy + 1, h))];
#if defined(__SSE2__)
    _mm_prefetch(reinterpret_cast<const char*>(t.r0 + t.x0), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(t.r1 + t.x0), _MM_HINT_T0);
#endif
    return t;
}

// The nearest integer in the current rounding mode (ties to even), as lrint gives it.
inline long RoundToInt(double v) {
#if defined(__SSE2__)
    return _mm_cvtsd_si32(_mm_set_sd(v));
#else
    return std::lrint(v);
#endif
}

// The mix, channel by channel, rounded to the nearest integer.
uint32_t Mix(const TSample& t) {
    uint32_t p00 = t.r0[t.x0], p10 = t.r0[t.x1], p01 = t.r1[t.x0], p11 = t.r1[t.x1];
    double fx = t.fx, fy = t.fy;
    double w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy), w01 = (1 - fx) * fy, w11 = fx * fy;
    uint32_t out = 0;
    for (int s = 0; s <= 16; s += 8) {
        double v = w00 * Channel(p00, s) + w10 * Channel(p10, s) + w01 * Channel(p01, s) + w11 * Channel(p11, s);
        // The weights sum to one, so v stays well inside the range where the conversion is exact.
        out |= static_cast<uint32_t>(std::clamp<long>(RoundToInt(v), 0, 255)) << s;
    }
    return out;
}

// Writes p to the 2 x 2 block at (x, y), clipped to the destination.
void Block2(TPLines& dst, int dstW, int x, int y, uint32_t p) {
    int h = Height(dst);
    for (int yy = y; yy < std::min(y + 2, h); ++yy)
        for (int xx = x; xx < std::min(x + 2, dstW); ++xx) dst[static_cast<size_t>(yy)][xx] = p;
}

// The mixes of a row of samples written to the 2 x 2 blocks from column 0 on, at row y.
void MixBlocks(TPLines& dst, int dstW, int y, const std::vector<TSample>& samples) {
    int h = Height(dst);
    if (y + 1 >= h) {
        for (size_t i = 0; i < samples.size(); ++i) Block2(dst, dstW, 2 * static_cast<int>(i), y, Mix(samples[i]));
        return;
    }
    uint32_t* d0 = dst[static_cast<size_t>(y)];
    uint32_t* d1 = dst[static_cast<size_t>(y + 1)];
    for (size_t i = 0; i < samples.size(); ++i) {
        int x = 2 * static_cast<int>(i);
        uint32_t p = Mix(samples[i]);
        if (x + 1 < dstW) {
            d0[x] = d0[x + 1] = p;
            d1[x] = d1[x + 1] = p;
        } else {
            Block2(dst, dstW, x, y, p);
        }
    }
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
    ForRowBands(rows, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            int64_t u = -(cx * C) - (y - cy) * S + cx * 65536;
            int64_t v = (y - cy) * C - cx * S + cy * 65536;
            uint32_t* d = dst[static_cast<size_t>(y)];
            // Positions left of or above the picture are negative and fall outside like those
            // beyond it; the columns inside form one run, worked out by integer division.
            int64_t lo = 0, hi = cols;
            KeepInside(u, C, int64_t(w) << 16, lo, hi);
            KeepInside(v, S, int64_t(h) << 16, lo, hi);
            std::fill(d, d + lo, bg);
            u += lo * C;
            v += lo * S;
            // Rows of a 32-bit bitmap lie one stride apart: one multiply instead of a row lookup.
            for (int64_t x = lo; x < hi; ++x, u += C, v += S) d[x] = base[(v >> 16) * stride + (u >> 16)];
            std::fill(d + hi, d + cols, bg);
        }
    });
}

namespace {

// n for TRowRandom::Below in a 16-bit lane: 1..65535.
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

} // namespace

// The random numbers of a row come from the row's own stream, so rows are drawn in bands.
void Spray(TPLines& dst, int dstW, TBitmap& pic, int radius) {
    int w = pic.Width(), h = pic.Height();
    if (w <= 0 || h <= 0) return;
    int rows = std::min(Height(dst), h), cols = std::min(dstW, w);
    const int bound = std::clamp(radius, 0, 16383); // 2r stays a 16-bit number
    const uint64_t seed = NewFrameSeed();
    const uint32_t* base = pic.Row32(0);
    const int64_t stride = pic.BytesPerLine() / 4;
    // Offsets and positions eight pixels at a time in 16-bit lanes, as long as sizes allow.
    const bool lanes = w < 32768 && h < 32768 && stride < 32768;
    ForRowBands(rows, [&](int first, int last) {
        alignas(16) int16_t ox[8], oy[8];
        alignas(16) int32_t at[8];
        for (int y = first; y < last; ++y) {
            TRowRandom rnd(seed, y);
            uint32_t* d = dst[static_cast<size_t>(y)];
            for (int x0 = 0; x0 < cols; x0 += 8) {
                int n = std::min(8, cols - x0);
                // r := Random(bound), then x and y each move by r - Random(2r).
#if defined(__SSE2__)
                __m128i r = _mm_mulhi_epu16(rnd.Next8v(), _mm_set1_epi16(static_cast<int16_t>(bound)));
                __m128i two = _mm_add_epi16(r, r);
                __m128i a = _mm_mulhi_epu16(rnd.Next8v(), two), b = _mm_mulhi_epu16(rnd.Next8v(), two);
                if (lanes) {
                    __m128i xs = _mm_add_epi16(_mm_set1_epi16(static_cast<int16_t>(x0)), _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7));
                    __m128i sx = _mm_add_epi16(xs, _mm_sub_epi16(r, a));
                    __m128i sy = _mm_add_epi16(_mm_set1_epi16(static_cast<int16_t>(y)), _mm_sub_epi16(r, b));
                    sx = _mm_min_epi16(_mm_max_epi16(sx, _mm_setzero_si128()), _mm_set1_epi16(static_cast<int16_t>(w - 1)));
                    sy = _mm_min_epi16(_mm_max_epi16(sy, _mm_setzero_si128()), _mm_set1_epi16(static_cast<int16_t>(h - 1)));
                    // sx + sy x stride, as 32-bit sums of 16-bit products.
                    const __m128i mul = _mm_set1_epi32(int32_t(uint32_t(stride) << 16 | 1u));
                    _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_madd_epi16(_mm_unpacklo_epi16(sx, sy), mul));
                    _mm_store_si128(reinterpret_cast<__m128i*>(at + 4), _mm_madd_epi16(_mm_unpackhi_epi16(sx, sy), mul));
                    for (int i = 0; i < n; ++i) d[x0 + i] = base[at[i]];
                    continue;
                }
                _mm_store_si128(reinterpret_cast<__m128i*>(ox), _mm_sub_epi16(r, a));
                _mm_store_si128(reinterpret_cast<__m128i*>(oy), _mm_sub_epi16(r, b));
#else
                (void)lanes;
                (void)at;
                uint16_t u0[8], u1[8], u2[8];
                rnd.Next8(u0);
                rnd.Next8(u1);
                rnd.Next8(u2);
                for (int i = 0; i < 8; ++i) {
                    int r = TRowRandom::Below(u0[i], bound);
                    ox[i] = int16_t(r - TRowRandom::Below(u1[i], 2 * r));
                    oy[i] = int16_t(r - TRowRandom::Below(u2[i], 2 * r));
                }
#endif
                for (int i = 0; i < n; ++i) {
                    int sx = ClampRange(x0 + i + ox[i], 0, w - 1), sy = ClampRange(y + oy[i], 0, h - 1);
                    d[x0 + i] = base[sy * stride + sx];
                }
            }
        }
    });
}

// Each channel gets its own number of 0..n-1, less n div 2, and is clamped.
void ColorNoise(TPLines& dst, int dstW, TBitmap& pic, int n) {
    int rows = std::min(Height(dst), pic.Height()), cols = std::min(dstW, pic.Width());
    if (rows <= 0 || cols <= 0) return;
    n = LaneRange(n);
    const uint64_t seed = NewFrameSeed();
    ForRowBands(rows, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            TRowRandom rnd(seed, y);
#if defined(__SSE2__)
            const __m128i range = _mm_set1_epi16(static_cast<int16_t>(n)), half = _mm_set1_epi16(static_cast<int16_t>(n / 2));
            const __m128i zero = _mm_setzero_si128(), rgb = _mm_set1_epi32(0x00FFFFFF);
            ByFours(pic.Row32(y), dst[static_cast<size_t>(y)], cols, [&](const uint32_t* s, uint32_t* d) {
                __m128i v = Load4(s);
                __m128i n0 = _mm_sub_epi16(_mm_mulhi_epu16(rnd.Next8v(), range), half);
                __m128i n1 = _mm_sub_epi16(_mm_mulhi_epu16(rnd.Next8v(), range), half);
                __m128i lo = _mm_adds_epi16(_mm_unpacklo_epi8(v, zero), n0);
                __m128i hi = _mm_adds_epi16(_mm_unpackhi_epi8(v, zero), n1);
                Store4(d, _mm_and_si128(_mm_packus_epi16(lo, hi), rgb));
            });
#else
            ByFours(pic.Row32(y), dst[static_cast<size_t>(y)], cols, [&](const uint32_t* s, uint32_t* d) {
                uint16_t u[16];
                rnd.Next8(u);
                rnd.Next8(u + 8);
                for (int i = 0; i < 4; ++i) {
                    uint32_t out = 0;
                    for (int c = 0; c < 3; ++c)
                        out |= uint32_t(ClampByte(int(Channel(s[i], 8 * c)) + TRowRandom::Below(u[4 * i + c], n) - n / 2)) << (8 * c);
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
            uint16_t u[8];
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
            (void)u;
#else
            ByFours(pic.Row32(y), dst[static_cast<size_t>(y)], cols, [&](const uint32_t* s, uint32_t* d) {
                if (phase == 0) rnd.Next8(u);
                for (int i = 0; i < 4; ++i) {
                    int v = TRowRandom::Below(u[4 * phase + i], n) - n / 2;
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

namespace {

// The cache for a picture of w x h drawn over rows x cols, filled when it was made for other sizes.
// The values are computed exactly as the frame routines compute them.
const TWarpCache* WarpGeometry(TWarpCache* cache, int w, int h, int rows, int cols, double cx, double cy,
                               bool angles) {
    if (!cache) return nullptr;
    if (cache->W == w && cache->H == h && cache->Rows == rows && cache->Cols == cols && cache->Angles == angles)
        return cache;
    int bx = std::max(0, cols / 2), by = std::max(0, rows / 2);
    cache->Radius.assign(size_t(bx) * size_t(by), 0.0);
    cache->Angle.assign(angles ? size_t(bx) * size_t(by) : 0, 0.0);
    ForRowBands(by, [&](int first, int last) {
        for (int j = first; j < last; ++j)
            for (int i = 0; i < bx; ++i) {
                double ddx = 2 * i - cx, ddy = 2 * j - cy;
                size_t at = size_t(j) * size_t(bx) + size_t(i);
                cache->Radius[at] = std::sqrt(ddx * ddx + ddy * ddy);
                if (angles) cache->Angle[at] = std::atan2(ddy, ddx);
            }
    }, 8);
    cache->W = w, cache->H = h, cache->Rows = rows, cache->Cols = cols, cache->Angles = angles;
    return cache;
}

} // namespace

void Fisheye(TPLines& dst, int dstW, TBitmap& pic, double p, double pull, TWarpCache* cache) {
    int w = pic.Width(), h = pic.Height();
    if (w <= 0 || h <= 0) return;
    int rows = std::min(Height(dst), h), cols = std::min(dstW, w);
    double cx = w / 2, cy = h / 2;
    const TWarpCache* geo = WarpGeometry(cache, w, h, rows, cols, cx, cy, false);
    size_t bx = size_t(std::max(0, cols / 2));
    double R = std::max(dstW, Height(dst)) * p;
    TPLines lines;
    BitmapToLines(lines, pic);
    ForRowBands(rows / 2, [&](int first, int last) {
        std::vector<TSample> samples;
        for (int y = 2 * first; y < 2 * last; y += 2) {
            samples.clear();
            for (int x = 0; x <= cols - 2; x += 2) {
                double ddx = x - cx, ddy = y - cy;
                double d = geo ? geo->Radius[size_t(y / 2) * bx + size_t(x / 2)] : std::sqrt(ddx * ddx + ddy * ddy);
                double sx = cx, sy = cy;
                if (d != 0 && d != R && R != 0) {
                    double g = pull * ((1 / (1 - d / R) - 1) * R / 2 / d) + (1 - pull);
                    sx = cx + ddx * g;
                    sy = cy + ddy * g;
                    // Near the radius the position runs away to infinity; such pixels show the centre.
                    if (!std::isfinite(sx) || !std::isfinite(sy)) sx = cx, sy = cy;
                }
                samples.push_back(SampleAt(lines, w, sx, sy));
            }
            MixBlocks(dst, dstW, y, samples);
        }
    }, 8);
}

void Twist(TPLines& dst, int dstW, TBitmap& pic, double twist, TWarpCache* cache) {
    int w = pic.Width(), h = pic.Height();
    if (w <= 0 || h <= 0) return;
    int rows = std::min(Height(dst), h), cols = std::min(dstW, w);
    double cx = (w - 1) / 2, cy = (h - 1) / 2;
    const TWarpCache* geo = WarpGeometry(cache, w, h, rows, cols, cx, cy, true);
    size_t bx = size_t(std::max(0, cols / 2));
    TPLines lines;
    BitmapToLines(lines, pic);
    ForRowBands(rows / 2, [&](int first, int last) {
        std::vector<TSample> samples;
        for (int y = 2 * first; y < 2 * last; y += 2) {
            samples.clear();
            for (int x = 0; x <= cols - 2; x += 2) {
                double ddx = x - cx, ddy = y - cy;
                size_t at = size_t(y / 2) * bx + size_t(x / 2);
                double r = geo ? geo->Radius[at] : std::sqrt(ddx * ddx + ddy * ddy);
                double sx = cx, sy = cy;
                if (r != 0) {
                    double turn = geo ? geo->Angle[at] : std::atan2(ddy, ddx);
                    double theta = turn - r * twist;
                    sx = cx + r * std::cos(theta);
                    sy = cy + r * std::sin(theta);
                }
                samples.push_back(SampleAt(lines, w, sx, sy));
            }
            MixBlocks(dst, dstW, y, samples);
        }
    }, 8);
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
            if (k > 64) {
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
