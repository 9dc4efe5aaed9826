#include "engine/transitions/Compositors.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "platform/system/Random.h"
#include "platform/system/RandomEngine.h"

#include "engine/transitions/EffectsSimd.h"
#include "engine/transitions/RowBands.h"

namespace lumora {

namespace {

#if defined(__SSE2__)
using simd::Blend4;
using simd::Evens;
using simd::StoreEvens;
#endif

#if defined(LUMORA_SIMD_AVX2)
// RegionWide's row from output pixel i on (pixels x0 + 2i, ..) eight at a time, while the 16
// pixels each group reads lie within span; returns where it stopped.
template <class K8>
__attribute__((target("avx2"))) int EvensRunAvx2(uint32_t* d, const uint32_t* pa, const uint32_t* pb, uint32_t bg,
                                                 int i, int span, K8& k8) {
    const __m256i bgv = _mm256_set1_epi32(static_cast<int>(bg));
    for (; 2 * i + 16 <= span; i += 8) {
        __m256i a = pa ? simd::Evens8(pa + 2 * i) : bgv;
        __m256i b = pb ? simd::Evens8(pb + 2 * i) : bgv;
        simd::StoreEvens8(d + 2 * i, k8(a, b));
    }
    return i;
}
#endif

// Odd rows move s pixels to the left, even rows s pixels to the right.
void ShiftRow(uint32_t* row, int y, int s, size_t bytes) {
    if (y % 2) std::memmove(row, row + s, bytes);
    else std::memmove(row + s, row, bytes);
}

// Copies n pixels past the cache where it can: a frame is far larger than the cache, and stores
// that first read their line cost another pass over memory.
void StreamRow(uint32_t* d, const uint32_t* s, int n) {
    int x = 0;
#if defined(__SSE2__)
    if ((reinterpret_cast<uintptr_t>(d) & 3) == 0) {
        for (; x < n && (reinterpret_cast<uintptr_t>(d + x) & 15) != 0; ++x) d[x] = s[x];
        for (; x + 4 <= n; x += 4)
            _mm_stream_si128(reinterpret_cast<__m128i*>(d + x), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x)));
    }
#endif
    if (n > x) std::memcpy(d + x, s + x, static_cast<size_t>(n - x) * 4);
}

// Fills out[0..n) with the pattern of period s that starts with out[0..s) (written by the caller).
void RepeatPattern(uint32_t* out, int n, int s) {
    for (int have = s; have < n; have *= 2) std::memcpy(out + have, out, static_cast<size_t>(std::min(have, n - have)) * 4);
}

// Pixels from..to - 1 of row sy of the shifted picture into out. After m shifts by s, an odd row
// shows pixel x + m s while that is inside, and past it its last s pixels again and again (each
// shift keeps them); an even row shows x - m s, and before it its first s pixels repeated.
void ShiftedSpan(uint32_t* out, const TShiftedPicture& p, int sy, int from, int to, bool stream) {
    const uint32_t* r = p.Pic.Row32(sy);
    int w = p.Pic.Width(), s = p.S;
    auto copy = [stream](uint32_t* d, const uint32_t* src, int n) {
        if (n <= 0) return;
        if (stream) StreamRow(d, src, n);
        else std::memcpy(d, src, static_cast<size_t>(n) * 4);
    };
    if (s <= 0 || w <= s || p.Times <= 0) {
        copy(out, r + from, to - from);
        return;
    }
    int t = s * std::min(p.Times, w);
    if (sy % 2) {
        int lim = std::clamp(w - t, from, to);
        copy(out, r + from + t, lim - from);
        int n = to - lim;
        for (int i = 0; i < std::min(n, s); ++i) out[lim - from + i] = r[w - s + ((lim + i - (w - s)) % s + s) % s];
        RepeatPattern(out + (lim - from), n, s);
    } else {
        int lim = std::clamp(t, from, to);
        int n = lim - from;
        for (int i = 0; i < std::min(n, s); ++i) out[i] = r[(from + i) % s];
        RepeatPattern(out, n, s);
        copy(out + (lim - from), r + (lim - t), to - lim);
    }
}

// Pixels from..to - 1 of row sy of the shifted picture where they stand in the picture
// unchanged (then pointing at pixel from), else null.
const uint32_t* ShiftedInPlace(const TShiftedPicture& p, int sy, int from, int to) {
    const uint32_t* r = p.Pic.Row32(sy);
    int w = p.Pic.Width(), s = p.S;
    if (s <= 0 || w <= s || p.Times <= 0) return r + from;
    int t = s * std::min(p.Times, w);
    if (sy % 2) return to <= w - t ? r + from + t : nullptr;
    return from >= t ? r + from - t : nullptr;
}

enum TSource { srcOld, srcNew, srcBg };

struct TComposer {
    TPLines& dst;
    int dstW, dstH;
    TBitmap& o;
    TBitmap& n;
    TComposeGeometry g;
    int rowPar, colPar;
    int rowLo = 0, rowHi = INT32_MAX; // the destination rows this composer may write
    int colLo = 0, colHi = INT32_MAX; // and columns
    uint32_t bg;
    const TShiftedPicture* oldShifted = nullptr; // the old picture read as shifted, if set

    TComposer(TPLines& d, int w, TBitmap& oldPic, TBitmap& newPic, const TComposeGeometry& geo, int framesDrawn,
              TColor bgColor)
        : dst(d), dstW(w), dstH(static_cast<int>(d.size())), o(oldPic), n(newPic), g(geo) {
        int p = ((framesDrawn % 4) + 4) % 4;
        rowPar = p % 2;
        colPar = (p == 0 || p == 3) ? 0 : 1;
        bg = SwapRB(ColorToRGB(bgColor));
    }

    TRect OldRect() const { return Bounds(g.OldX, g.OldY, o.Width(), o.Height()); }

    // Pixels from..to - 1 of row sy of the old picture, pointing at pixel from (when read as
    // shifted across its repeated edge, made in a row buffer of this thread).
    const uint32_t* OldSpan(int sy, int from, int to) const {
        if (!oldShifted) return o.Row32(sy) + from;
        if (const uint32_t* p = ShiftedInPlace(*oldShifted, sy, from, to)) return p;
        thread_local std::vector<uint32_t> buffer;
        buffer.resize(static_cast<size_t>(std::max(1, to - from)));
        ShiftedSpan(buffer.data(), *oldShifted, sy, from, to, false);
        return buffer.data();
    }
    TRect NewRect() const { return Bounds(g.NewX, g.NewY, n.Width(), n.Height()); }

    // Runs kernel(dst, a, b) over the phase's pixels of region (destination coordinates; the phase
    // counts from the region's own corner, so clipping never shifts it).
    // The part of region this composer may write and the sources cover, and its first pixel of
    // the phase (x0, y0); false when it holds none.
    bool Start(const TRect& region, TSource sa, TSource sb, TRect& clip, int& x0, int& y0) const {
        if (region.IsEmpty()) return false;
        clip = IntersectRect(region, TRect{std::max(0, colLo), std::max(0, rowLo), std::min(dstW, colHi), std::min(dstH, rowHi)});
        if (sa == srcOld || sb == srcOld) clip = IntersectRect(clip, OldRect());
        if (sa == srcNew || sb == srcNew) clip = IntersectRect(clip, NewRect());
        if (clip.IsEmpty()) return false;
        y0 = region.Top + rowPar;
        if (y0 < clip.Top) y0 += (clip.Top - y0 + 1) / 2 * 2;
        x0 = region.Left + colPar;
        if (x0 < clip.Left) x0 += (clip.Left - x0 + 1) / 2 * 2;
        return x0 < clip.Right && y0 < clip.Bottom;
    }

    // Row y of the sources sa and sb from column x0 to right, null for the background.
    void RowSources(int y, int x0, int right, TSource sa, TSource sb, const uint32_t*& pa, const uint32_t*& pb) const {
        const uint32_t* po = (sa == srcOld || sb == srcOld) ? OldSpan(y - g.OldY, x0 - g.OldX, right - g.OldX) : nullptr;
        const uint32_t* pn = (sa == srcNew || sb == srcNew) ? n.Row32(y - g.NewY) + (x0 - g.NewX) : nullptr;
        pa = sa == srcOld ? po : sa == srcNew ? pn : nullptr;
        pb = sb == srcOld ? po : sb == srcNew ? pn : nullptr;
    }

    template <class Kernel>
    void Region(const TRect& region, TSource sa, TSource sb, Kernel kernel) {
        TRect clip;
        int x0, y0;
        if (!Start(region, sa, sb, clip, x0, y0)) return;
        int count = (clip.Right - x0 + 1) / 2;
        auto row = [&](int y) {
            uint32_t* d = dst[static_cast<size_t>(y)] + x0;
            const uint32_t *pa, *pb;
            RowSources(y, x0, clip.Right, sa, sb, pa, pb);
            if (sa == srcBg) {
                for (int i = 0; i < count; ++i) d[2 * i] = (d[2 * i] & 0xFF000000u) | kernel(bg, pb[2 * i]);
            } else if (sb == srcBg) {
                for (int i = 0; i < count; ++i) d[2 * i] = (d[2 * i] & 0xFF000000u) | kernel(pa[2 * i], bg);
            } else {
                for (int i = 0; i < count; ++i)
                    d[2 * i] = (d[2 * i] & 0xFF000000u) | kernel(pa[2 * i], pb[2 * i]);
            }
        };
        ForEvenRows(y0, clip.Bottom, row);
    }

    // Runs row(y) for y = y0, y0 + 2, ... below y1, in row bands.
    template <class Row>
    static void ForEvenRows(int y0, int y1, Row& row) {
        ForRowBands((y1 - y0 + 1) / 2, [&](int first, int last) {
            for (int i = first; i < last; ++i) row(y0 + 2 * i);
        });
    }

    // Region() for the plain blend at weight w, four pixels at a time where the CPU allows.
    void RegionBlend(const TRect& region, TSource sa, TSource sb, int w);
    // k8, where given, does what k4 does for eight pixels in AVX2 registers.
    template <class K4, class K1, class K8 = std::nullptr_t>
    void RegionWide(const TRect& region, TSource sa, TSource sb, K4 k4, K1 k1, K8 k8 = nullptr);

    // The regions of a blend with their delays: fn(region, a, b, delay, isOverlap).
    template <class Fn>
    void ForEachRegion(Fn fn) {
        TRect O = OldRect(), N = NewRect();
        bool oEmpty = o.Width() <= 0 || o.Height() <= 0;
        bool nEmpty = n.Width() <= 0 || n.Height() <= 0;
        TRect I = IntersectRect(O, N);
        if (!oEmpty && !nEmpty && !I.IsEmpty()) {
            fn(I, srcOld, srcNew, 256, true);
            fn(TRect{O.Left, O.Top, O.Right, I.Top}, srcOld, srcBg, 64, false);
            fn(TRect{O.Left, I.Bottom, O.Right, O.Bottom}, srcOld, srcBg, 128, false);
            fn(TRect{O.Left, I.Top, I.Left, I.Bottom}, srcOld, srcBg, 192, false);
            fn(TRect{I.Right, I.Top, O.Right, I.Bottom}, srcOld, srcBg, 0, false);
            fn(TRect{N.Left, N.Top, N.Right, I.Top}, srcBg, srcNew, 32, false);
            fn(TRect{N.Left, I.Bottom, N.Right, N.Bottom}, srcBg, srcNew, 96, false);
            fn(TRect{N.Left, I.Top, I.Left, I.Bottom}, srcBg, srcNew, 160, false);
            fn(TRect{I.Right, I.Top, N.Right, I.Bottom}, srcBg, srcNew, 224, false);
            return;
        }
        if (!oEmpty) fn(O, srcOld, srcBg, 90, false);
        if (!nEmpty) fn(N, srcBg, srcNew, 180, false);
    }
};

// a + floor(w * (b - a) / 256) per channel, low 8 bits kept (weights above 256 wrap).
inline uint32_t BlendPixel(uint32_t a, uint32_t b, int w) {
    int a0 = a & 0xFF, a1 = (a >> 8) & 0xFF, a2 = (a >> 16) & 0xFF;
    int b0 = b & 0xFF, b1 = (b >> 8) & 0xFF, b2 = (b >> 16) & 0xFF;
    uint32_t c0 = static_cast<uint32_t>(a0 + ((w * (b0 - a0)) >> 8)) & 0xFF;
    uint32_t c1 = static_cast<uint32_t>(a1 + ((w * (b1 - a1)) >> 8)) & 0xFF;
    uint32_t c2 = static_cast<uint32_t>(a2 + ((w * (b2 - a2)) >> 8)) & 0xFF;
    return c0 | (c1 << 8) | (c2 << 16);
}


#if defined(__SSE2__)
// The same walk as Region(), with rows split into runs of four phase pixels (k4) and a tail (k1).
template <class K4, class K1, class K8>
void TComposer::RegionWide(const TRect& region, TSource sa, TSource sb, K4 k4, K1 k1, [[maybe_unused]] K8 k8) {
    TRect clip;
    int x0, y0;
    if (!Start(region, sa, sb, clip, x0, y0)) return;
    int count = (clip.Right - x0 + 1) / 2;
    int span = clip.Right - x0; // pixels readable from x0 on
    const __m128i bgv = _mm_set1_epi32(static_cast<int>(bg));
#if defined(LUMORA_SIMD_AVX2)
    const bool avx2 = simd::HasAvx2();
#endif
    auto row = [&](int y) {
        uint32_t* d = dst[static_cast<size_t>(y)] + x0;
        const uint32_t *pa, *pb;
        RowSources(y, x0, clip.Right, sa, sb, pa, pb);
        int i = 0;
#if defined(LUMORA_SIMD_AVX2)
        if constexpr (!std::is_same_v<K8, std::nullptr_t>) {
            if (avx2) i = EvensRunAvx2(d, pa, pb, bg, 0, span, k8);
        }
#endif
        for (; 2 * i + 8 <= span; i += 4) {
            __m128i a = pa ? Evens(pa + 2 * i) : bgv;
            __m128i b = pb ? Evens(pb + 2 * i) : bgv;
            StoreEvens(d + 2 * i, k4(a, b));
        }
        for (; i < count; ++i) {
            uint32_t a = pa ? pa[2 * i] : bg, b = pb ? pb[2 * i] : bg;
            d[2 * i] = (d[2 * i] & 0xFF000000u) | k1(a, b);
        }
    };
    ForEvenRows(y0, clip.Bottom, row);
}
#else
template <class K4, class K1, class K8>
void TComposer::RegionWide(const TRect& region, TSource sa, TSource sb, K4, K1 k1, K8) {
    Region(region, sa, sb, k1);
}
#endif

void TComposer::RegionBlend(const TRect& region, TSource sa, TSource sb, int w) {
#if defined(__SSE2__)
    const __m128i wv = _mm_set1_epi16(static_cast<int16_t>(w));
    RegionWide(region, sa, sb, [wv](__m128i a, __m128i b) { return Blend4(a, b, wv); },
               [w](uint32_t a, uint32_t b) { return BlendPixel(a, b, w); }
#if defined(LUMORA_SIMD_AVX2)
               , [wv](__m256i a, __m256i b) __attribute__((target("avx2"))) {
                   return simd::Blend8(a, b, _mm256_broadcastsi128_si256(wv));
               }
#endif
    );
#else
    Region(region, sa, sb, [w](uint32_t pa, uint32_t pb) { return BlendPixel(pa, pb, w); });
#endif
}

int DelayWeight(int level, int delay) {
    int s = level - delay;
    return s <= 0 ? 0 : s < 256 ? s : 256;
}

int KindWeight(int level, int mode) {
    if (mode == bkPeak) return level <= 128 ? 3 * level : 512 - level;
    return level;
}

void Blend(TComposer& c, int level, int mode, bool colorThrough) {
    c.ForEachRegion([&](const TRect& r, TSource a, TSource b, int delay, bool overlap) {
        int w = mode == bkDelayed ? DelayWeight(level, delay) : KindWeight(level, mode);
        if (overlap && colorThrough) {
            int t = mode == bkDelayed ? level - 256 : level;
            auto k1 = [t](uint32_t pa, uint32_t pb) {
                bool keep = int(pa & 0xFF) >= t || int((pa >> 8) & 0xFF) >= t || int((pa >> 16) & 0xFF) >= t;
                return (keep ? pa : pb) & 0xFFFFFFu;
            };
#if defined(__SSE2__)
            const __m128i rgb = _mm_set1_epi32(0x00FFFFFF), zero = _mm_setzero_si128();
            const __m128i tv = _mm_set1_epi8(static_cast<char>(std::clamp(t, 0, 255)));
            c.RegionWide(r, a, b, [=](__m128i pa, __m128i pb) {
                if (t <= 0) return _mm_and_si128(pa, rgb);
                if (t > 255) return _mm_and_si128(pb, rgb);
                // Bytes of the old pixel at or above the threshold; none of them: the new pixel.
                __m128i ge = _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(pa, tv), pa), rgb);
                __m128i none = _mm_cmpeq_epi32(ge, zero);
                return _mm_and_si128(_mm_or_si128(_mm_andnot_si128(none, pa), _mm_and_si128(none, pb)), rgb);
            }, k1
#if defined(LUMORA_SIMD_AVX2)
            , [=](__m256i pa, __m256i pb) __attribute__((target("avx2"))) {
                const __m256i rgb8 = _mm256_set1_epi32(0x00FFFFFF);
                if (t <= 0) return _mm256_and_si256(pa, rgb8);
                if (t > 255) return _mm256_and_si256(pb, rgb8);
                __m256i ge = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(pa, _mm256_broadcastsi128_si256(tv)), pa), rgb8);
                __m256i none = _mm256_cmpeq_epi32(ge, _mm256_setzero_si256());
                return _mm256_and_si256(_mm256_blendv_epi8(pa, pb, none), rgb8);
            }
#endif
            );
#else
            c.Region(r, a, b, k1);
#endif
            return;
        }
        c.RegionBlend(r, a, b, w);
    });
}

} // namespace

void CompositeBlend(TPLines& dst, int dstW, TBitmap& oldPic, TBitmap& newPic, const TComposeGeometry& g,
                    int framesDrawn, TColor bg, int level, int mode) {
    TComposer c(dst, dstW, oldPic, newPic, g, framesDrawn, bg);
    Blend(c, level, mode, false);
}

void ShiftedBlend(TPLines& dst, int dstW, const TShiftedPicture& oldPic, TBitmap& newPic, const TComposeGeometry& g,
                  int framesDrawn, TColor bg, int level, int mode) {
    TComposer c(dst, dstW, oldPic.Pic, newPic, g, framesDrawn, bg);
    c.oldShifted = &oldPic;
    // In column bands, so that only the repeated edges are made in a row buffer: before t the
    // even rows repeat their start, from w - t on the odd rows their end.
    int w = oldPic.Pic.Width();
    int t = oldPic.S > 0 && w > oldPic.S && oldPic.Times > 0 ? oldPic.S * std::min(oldPic.Times, w) : 0;
    int a = std::min(t, w), b = std::max(w - t, 0);
    int cuts[4] = {INT32_MIN / 2, g.OldX + std::min(a, b), g.OldX + std::max(a, b), INT32_MAX / 2};
    for (int i = 0; i < 3; ++i) {
        c.colLo = cuts[i];
        c.colHi = cuts[i + 1];
        if (c.colLo < c.colHi) Blend(c, level, mode, false);
    }
}

void ColorThrough(TPLines& dst, int dstW, TBitmap& oldPic, TBitmap& newPic, const TComposeGeometry& g,
                  int framesDrawn, TColor bg, int level) {
    TComposer c(dst, dstW, oldPic, newPic, g, framesDrawn, bg);
    Blend(c, level, bkLinear, true);
}

void ColorThroughBlock(TPLines& dst, int dstW, TBitmap& oldPic, TBitmap& newPic, const TComposeGeometry& g,
                       int framesDrawn, TColor bg, int level) {
    TComposer c(dst, dstW, oldPic, newPic, g, framesDrawn, bg);
    Blend(c, level, bkDelayed, true);
}

TChannelBlendTables ChannelBlendTables(int level) {
    TChannelBlendTables t;
    for (int d = -255; d <= 255; ++d) {
        size_t i = static_cast<size_t>(d + 255);
        if (level >= 128) t.FadeIn[i] = static_cast<int16_t>(((level - 128) * 2 * d) >> 8);
        else t.FadeOut[i] = static_cast<int16_t>(((128 - level) * 2 * d) >> 8);
    }
    return t;
}

void CompositeBlendRGB(TPLines& dst, int dstW, TBitmap& oldPic, TBitmap& newPic, const TComposeGeometry& g,
                       int framesDrawn, TColor bg, int level, int channelMode) {
    TComposer c(dst, dstW, oldPic, newPic, g, framesDrawn, bg);
    TChannelBlendTables t = ChannelBlendTables(level);
    // The byte of the pixel word that blends; the other two go through black.
    int shift = channelMode == 1 ? 16 : channelMode == 2 ? 8 : 0;
    const int16_t* in = t.FadeIn.data() + 255;
    const int16_t* out = t.FadeOut.data() + 255;
    auto k1 = [&](uint32_t pa, uint32_t pb) {
        uint32_t result = 0;
        for (int s = 0; s <= 16; s += 8) {
            int ca = (pa >> s) & 0xFF, cb = (pb >> s) & 0xFF;
            int v = s == shift ? ca + ((level * (cb - ca)) >> 8) : out[ca] + in[cb];
            result |= (static_cast<uint32_t>(v) & 0xFF) << s;
        }
        return result;
    };
#if defined(__SSE2__)
    // The faded channels are blends too: to black at weight 2L below level 128, from black at
    // weight 2L - 256 from there on. So all three are one blend with a weight per channel, the
    // faded channels' black end masked in.
    const int16_t wl = static_cast<int16_t>(level), wf = static_cast<int16_t>(level < 128 ? 2 * level : 2 * level - 256);
    const int16_t wb = shift == 0 ? wl : wf, wg = shift == 8 ? wl : wf, wr = shift == 16 ? wl : wf;
    const __m128i weights = _mm_setr_epi16(wb, wg, wr, 0, wb, wg, wr, 0);
    const __m128i sel = _mm_set1_epi32(static_cast<int>(0xFFu << shift));
    const bool fadingOut = level < 128;
    auto k4 = [=](__m128i pa, __m128i pb) {
        return fadingOut ? Blend4(pa, _mm_and_si128(pb, sel), weights) : Blend4(_mm_and_si128(pa, sel), pb, weights);
    };
#if defined(LUMORA_SIMD_AVX2)
    auto k8 = [=](__m256i pa, __m256i pb) __attribute__((target("avx2"))) {
        const __m256i w8 = _mm256_broadcastsi128_si256(weights), sel8 = _mm256_broadcastsi128_si256(sel);
        return fadingOut ? simd::Blend8(pa, _mm256_and_si256(pb, sel8), w8) : simd::Blend8(_mm256_and_si256(pa, sel8), pb, w8);
    };
#else
    std::nullptr_t k8 = nullptr;
#endif
    c.ForEachRegion([&](const TRect& r, TSource a, TSource b, int, bool) { c.RegionWide(r, a, b, k4, k1, k8); });
#else
    c.ForEachRegion([&](const TRect& r, TSource a, TSource b, int, bool) { c.Region(r, a, b, k1); });
#endif
}

namespace {

// A poster table as steps: byte b maps to Base plus the Add of every step whose At is at most b
// (mod 256). Tables with more steps than fit go through the table itself.
struct TPosterSteps {
    static constexpr int kMax = 16;
    const std::array<uint8_t, 256>& Table;
    int Count = 0;
    uint8_t Base = 0;
    uint8_t At[kMax] = {}, Add[kMax] = {};

    explicit TPosterSteps(const std::array<uint8_t, 256>& table) : Table(table), Base(table[0]) {
        for (int i = 1; i < 256 && Count <= kMax; ++i) {
            uint8_t step = static_cast<uint8_t>(table[size_t(i)] - table[size_t(i - 1)]);
            if (step == 0) continue;
            if (Count < kMax) {
                At[Count] = static_cast<uint8_t>(i);
                Add[Count] = step;
            }
            ++Count;
        }
    }
};

// Posterizes pixels from..to - 1 of the row of the column parity; out, unless null, receives a copy
// of the treated span.
void PosterizeSpan(uint32_t* row, int from, int to, int colPar, const TPosterSteps& steps, uint32_t* out) {
    const auto& table = steps.Table;
    int x = from;
#if defined(__SSE2__)
    if (steps.Count <= TPosterSteps::kMax) {
        // Unsigned byte comparisons as signed ones on bytes with the top bit flipped.
        const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
        const __m128i base = _mm_set1_epi8(static_cast<char>(steps.Base));
        __m128i below[TPosterSteps::kMax], add[TPosterSteps::kMax];
        for (int j = 0; j < steps.Count; ++j) {
            below[j] = _mm_set1_epi8(static_cast<char>((steps.At[j] - 1) ^ 0x80));
            add[j] = _mm_set1_epi8(static_cast<char>(steps.Add[j]));
        }
        // The pixels of the other column parity stay; the treated ones lose byte 3.
        const bool evenLanes = ((from - colPar) & 1) == 0;
        const __m128i keep = evenLanes ? _mm_set_epi32(-1, 0, -1, 0) : _mm_set_epi32(0, -1, 0, -1);
        const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
        // The copy bypasses the cache: the frame is far larger than it.
        const bool aligned = out && (reinterpret_cast<uintptr_t>(out) & 15) == 0;
        for (; x + 4 <= to; x += 4) {
            __m128i* p = reinterpret_cast<__m128i*>(row + x);
            __m128i v = _mm_loadu_si128(p);
            __m128i s = _mm_xor_si128(v, flip);
            __m128i r = base;
            for (int j = 0; j < steps.Count; ++j)
                r = _mm_add_epi8(r, _mm_and_si128(_mm_cmpgt_epi8(s, below[j]), add[j]));
            r = _mm_or_si128(_mm_and_si128(v, keep), _mm_andnot_si128(keep, _mm_and_si128(r, rgb)));
            _mm_storeu_si128(p, r);
            if (out) {
                __m128i* o = reinterpret_cast<__m128i*>(out + (x - from));
                if (aligned) _mm_stream_si128(o, r);
                else _mm_storeu_si128(o, r);
            }
        }
    }
#endif
    for (; x < to; ++x) {
        uint32_t v = row[x];
        if (((x - colPar) & 1) == 0)
            row[x] = v = table[v & 0xFF] | (uint32_t(table[(v >> 8) & 0xFF]) << 8) |
                         (uint32_t(table[(v >> 16) & 0xFF]) << 16);
        if (out) out[x - from] = v;
    }
}

void PosterizeRow(uint32_t* row, int w, int colPar, const TPosterSteps& steps) {
    PosterizeSpan(row, 0, w, colPar, steps, nullptr);
}

// ComposeOnBackground, with treat(sy, out, from, to) applied to every source row first, each row
// just before it is copied (so it is still in the cache), in row bands; a treatment that returns
// true has copied the row's pixels from..to - 1 to out itself. Source rows that land outside the
// destination are treated too (out null).
template <class Treat>
void TreatAndCompose(TPLines& dst, int dstW, TBitmap& src, TColor bg, int dy, int dx, Treat treat) {
    uint32_t bgPix = SwapRB(ColorToRGB(bg));
    int dstH = static_cast<int>(dst.size());
    int sw = src.Width(), sh = src.Height();
    bool empty = sw <= 0 || sh <= 0;
    int x0 = std::max(0, dx), x1 = empty ? 0 : std::min(dstW, dx + sw);
    ForRowBands(dstH, [&](int first, int last) {
        for (int y = first; y < last; ++y) {
            uint32_t* d = dst[static_cast<size_t>(y)];
            int sy = y - dy;
            bool inside = !empty && sy >= 0 && sy < sh;
            bool visible = inside && x1 > x0;
            bool copied = inside && treat(sy, visible ? d + x0 : nullptr, x0 - dx, x1 - dx) && visible;
            if (!visible) {
                std::fill(d, d + dstW, bgPix);
                continue;
            }
            std::fill(d, d + x0, bgPix);
            if (!copied) StreamRow(d + x0, src.Row32(sy) + (x0 - dx), x1 - x0);
            std::fill(d + x1, d + dstW, bgPix);
        }
#if defined(__SSE2__)
        _mm_sfence(); // the streamed rows are out before the band counts as done
#endif
    });
    if (empty) return;
    for (int sy = 0; sy < sh; ++sy)
        if (sy + dy < 0 || sy + dy >= dstH) treat(sy, nullptr, 0, 0);
}

} // namespace

void ComposeOnBackground(TPLines& dst, int dstW, TBitmap& src, TColor bg, int dy, int dx) {
    TreatAndCompose(dst, dstW, src, bg, dy, dx, [](int, uint32_t*, int, int) { return false; });
}

void ShiftedCompose(TPLines& dst, int dstW, const TShiftedPicture& pic, TColor bg, int dy, int dx) {
    TreatAndCompose(dst, dstW, pic.Pic, bg, dy, dx, [&](int sy, uint32_t* out, int from, int to) {
        if (out) ShiftedSpan(out, pic, sy, from, to, true);
        return out != nullptr;
    });
}

void PosterizeAndCompose(TPLines& dst, int dstW, TBitmap& pic, const std::array<uint8_t, 256>& table, int phase,
                         TColor bg, int dy, int dx) {
    int p = ((phase % 4) + 4) % 4;
    int rowPar = (p == 1 || p == 2) ? 1 : 0, colPar = p % 2;
    int w = pic.Width();
    TPosterSteps steps(table);
    TreatAndCompose(dst, dstW, pic, bg, dy, dx, [&](int sy, uint32_t* out, int from, int to) {
        if (sy % 2 != rowPar) return false;
        uint32_t* row = pic.Row32(sy);
        if (!out) {
            PosterizeRow(row, w, colPar, steps);
            return false;
        }
        // The visible span is treated and copied in one pass.
        PosterizeSpan(row, 0, from, colPar, steps, nullptr);
        PosterizeSpan(row, from, to, colPar, steps, out);
        PosterizeSpan(row, to, w, colPar, steps, nullptr);
        return true;
    });
}

void MeltLines(TBitmap& pic, int amount) {
    int w = pic.Width(), h = pic.Height();
    if (w <= 0 || h <= 0) return;
    int a = std::min(h / 2, amount);
    if (a <= 0) return;
    TPLines rows;
    BitmapToLines(rows, pic);
    TRandomEngine& e = RandomEngine();
    for (int y = h - 1 - a; y >= 0; --y) {
        const uint32_t* src = rows[static_cast<size_t>(y)];
        int o = 0;
        for (int x = 0; x < w; ++x) {
            // y + o <= h - 1 - a + a - 1 stays inside the picture.
            rows[static_cast<size_t>(y + o)][x] = src[x];
            o = RandomFrom(e, a);
        }
    }
}

std::array<uint8_t, 256> MakePosterTable(int v) {
    std::array<uint8_t, 256> p{};
    if (v <= 0) {
        for (int i = 0; i < 256; ++i) p[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        return p;
    }
    for (int i = 0; i < 256; ++i) {
        long q = std::lrint(static_cast<double>(i) / v); // the current rounding mode: ties to even
        p[static_cast<size_t>(i)] = static_cast<uint8_t>((q * v) & 0xFF);
    }
    return p;
}

void PosterizeLines(TBitmap& pic, const std::array<uint8_t, 256>& table, int phase) {
    int w = pic.Width(), h = pic.Height();
    if (w <= 0 || h <= 0) return;
    int p = ((phase % 4) + 4) % 4;
    int rowPar = (p == 1 || p == 2) ? 1 : 0;
    int colPar = p % 2;
    TPosterSteps steps(table);
    ForRowBands((h - rowPar + 1) / 2, [&](int first, int last) {
        for (int i = first; i < last; ++i) PosterizeRow(pic.Row32(rowPar + 2 * i), w, colPar, steps);
    });
}

void ShiftLines(TBitmap& pic, int s) {
    int w = pic.Width(), h = pic.Height();
    if (s <= 0 || w <= s) return;
    size_t bytes = static_cast<size_t>(w - s) * 4;
    ForRowBands(h, [&](int first, int last) {
        for (int y = first; y < last; ++y) ShiftRow(pic.Row32(y), y, s, bytes);
    });
}

} // namespace lumora
