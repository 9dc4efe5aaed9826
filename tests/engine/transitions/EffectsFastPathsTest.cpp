// The fast paths of the transitions (row bands, fused passes, column runs, inline random draws)
// against the straightforward routines they replace, kept here, pixel for pixel.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>
#include <set>
#include <thread>
#include <vector>

#include "engine/transitions/Compositors.h"
#include "engine/transitions/EffectsPixel.h"
#include "engine/transitions/RowBands.h"
#include "engine/transitions/Transition.h"
#include "platform/system/Clock.h"
#include "platform/system/Random.h"
#include "tests/engine/transitions/TransitionTestHost.h"

namespace lumora {
namespace {

using testing::Pattern;
using testing::TFakeHost;

// Restores the default thread count however a test ends.
struct TThreadsGuard {
    ~TThreadsGuard() { SetRowBandThreads(0); }
};

struct TDest {
    TBitmap bmp;
    TPLines lines;
    TDest(int w, int h, int seed) {
        Pattern(bmp, w, h, seed);
        BitmapToLines(lines, bmp);
    }
    bool SameAs(const TDest& o) const {
        for (int y = 0; y < bmp.Height(); ++y)
            if (std::memcmp(bmp.Row32(y), o.bmp.Row32(y), size_t(bmp.Width()) * 4) != 0) return false;
        return true;
    }
};

bool SameBitmaps(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.Row32(y), b.Row32(y), size_t(a.Width()) * 4) != 0) return false;
    return true;
}

// ---- The straightforward routines ----

uint32_t Ch(uint32_t p, int shift) { return (p >> shift) & 0xFF; }

void RefSplitBlur(TPLines& dst, int w, int s) {
    int h = static_cast<int>(dst.size());
    for (int y = 0; y < h; ++y) {
        const uint32_t* up = dst[size_t(std::max(0, y - s))];
        const uint32_t* down = dst[size_t(std::min(h - 1, y + s))];
        uint32_t* row = dst[size_t(y)];
        for (int x = 0; x < w; ++x) {
            int l = std::max(0, x - s), r = std::min(w - 1, x + s);
            uint32_t out = 0;
            for (int sh = 0; sh <= 16; sh += 8)
                out |= ((Ch(down[r], sh) + Ch(up[r], sh) + Ch(down[l], sh) + Ch(up[l], sh)) / 4) << sh;
            row[x] = out;
        }
    }
}

void RefSplitRGB(TPLines& dst, int w, TBitmap& pic, int dx, int dy, int s, uint32_t bg) {
    int h = static_cast<int>(dst.size()), pw = pic.Width(), ph = pic.Height();
    auto at = [&](int px, int py, int shift) -> uint32_t {
        if (px < 0 || py < 0 || px >= pw || py >= ph) return Ch(bg, shift);
        return Ch(pic.Row32(py)[px], shift);
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int px = x - dx, py = y - dy;
            dst[size_t(y)][x] = (at(px + s, py, 16) << 16) | (at(px - s, py, 8) << 8) | at(px, py - s, 0);
        }
}

void RefNoiseRows(TPLines& dst, int w, TBitmap& pic, int dx, int dy, int jitter, uint32_t bg, int channel) {
    int h = static_cast<int>(dst.size());
    int pw = std::min(pic.Width(), w), ph = pic.Height();
    uint32_t mask = channel < 0 ? 0xFFFFFFFFu : 0xFFu << (channel * 8);
    for (int y = 0; y < h; ++y) {
        uint32_t* d = dst[size_t(y)];
        int sy = y - dy;
        if (sy < 0 || sy >= ph || pw <= 0) {
            if (channel < 0) std::fill(d, d + w, bg);
            continue;
        }
        int sign = Random(2) * 2 - 1;
        int64_t v = int64_t(sign) * Random(jitter) + dx + w;
        int o = static_cast<int>(((v % w) + w) % w);
        for (int x = 0; x < w; ++x) d[x] = (d[x] & ~mask) | (bg & mask);
        for (int i = 0; i < pw; ++i) {
            uint32_t& t = d[(o + i) % w];
            t = (t & ~mask) | (pic.Row32(sy)[i] & mask);
        }
    }
}

void RefRotate(TPLines& dst, int w0, TBitmap& pic, int angle, uint32_t bg) {
    int w = pic.Width(), h = pic.Height();
    int rows = std::min(static_cast<int>(dst.size()), h), cols = std::min(w0, w);
    double a = -angle * std::numbers::pi / 180;
    int64_t S = static_cast<int64_t>(std::nearbyint(std::sin(a) * 65536));
    int64_t C = static_cast<int64_t>(std::nearbyint(std::cos(a) * 65536));
    int64_t cx = w / 2, cy = h / 2;
    for (int y = 0; y < rows; ++y) {
        int64_t u = -(cx * C) - (y - cy) * S + cx * 65536;
        int64_t v = (y - cy) * C - cx * S + cy * 65536;
        for (int x = 0; x < cols; ++x, u += C, v += S) {
            int64_t sx = u >> 16, sy = v >> 16;
            dst[size_t(y)][x] = (u < 0 || v < 0 || sx >= w || sy >= h) ? bg : pic.Row32(int(sy))[sx];
        }
    }
}

void RefMelt(TBitmap& pic, int amount) {
    int w = pic.Width(), h = pic.Height();
    int a = std::min(h / 2, amount);
    if (w <= 0 || a <= 0) return;
    for (int y = h - 1 - a; y >= 0; --y) {
        int o = 0;
        for (int x = 0; x < w; ++x) {
            pic.Row32(y + o)[x] = pic.Row32(y)[x];
            o = Random(a);
        }
    }
}

int RefWrap(int64_t c, int size) {
    if (c < 0) return size - 1 - static_cast<int>((-c) % size);
    if (c > size - 1) return static_cast<int>(c % size);
    return static_cast<int>(c);
}

// The bilinear mix at (sx, sy) with weights in 1/256: each row's two pixels mixed and rounded,
// then the two rows; coordinates outside the picture wrap.
uint32_t RefBilinear(TBitmap& pic, double sx, double sy) {
    int w = pic.Width(), h = pic.Height();
    if (std::fabs(sx) > 4194304) sx = std::fmod(sx, w);
    if (std::fabs(sy) > 4194304) sy = std::fmod(sy, h);
    int64_t X = static_cast<int64_t>(std::floor(sx * 256)), Y = static_cast<int64_t>(std::floor(sy * 256));
    int64_t ix = X >> 8, iy = Y >> 8;
    int fx = int(X & 255), fy = int(Y & 255);
    int x0 = RefWrap(ix, w), x1 = RefWrap(ix + 1, w), y0 = RefWrap(iy, h), y1 = RefWrap(iy + 1, h);
    uint32_t p00 = pic.Row32(y0)[x0], p10 = pic.Row32(y0)[x1], p01 = pic.Row32(y1)[x0], p11 = pic.Row32(y1)[x1];
    uint32_t out = 0;
    for (int s = 0; s <= 16; s += 8) {
        uint32_t top = (Ch(p00, s) * (256 - fx) + Ch(p10, s) * fx + 128) >> 8;
        uint32_t bot = (Ch(p01, s) * (256 - fx) + Ch(p11, s) * fx + 128) >> 8;
        out |= ((top * (256 - fy) + bot * fy + 128) >> 8) << s;
    }
    return out;
}

// The warps in double precision, block by block; map gives a block's source from its offsets to
// the centre.
template <class Map>
void RefWarp(TPLines& dst, int dstW, TBitmap& pic, double cx, double cy, Map&& map) {
    int w = pic.Width(), h = pic.Height();
    int rows = std::min(static_cast<int>(dst.size()), h), cols = std::min(dstW, w);
    for (int y = 0; y <= rows - 2; y += 2)
        for (int x = 0; x <= cols - 2; x += 2) {
            double sx = cx, sy = cy;
            map(x - cx, y - cy, sx, sy);
            if (!std::isfinite(sx) || !std::isfinite(sy)) sx = cx, sy = cy;
            uint32_t p = RefBilinear(pic, sx, sy);
            for (int yy = y; yy < y + 2; ++yy)
                for (int xx = x; xx < x + 2; ++xx) dst[size_t(yy)][xx] = p;
        }
}

void RefFisheye(TPLines& dst, int dstW, TBitmap& pic, double p, double pull) {
    double cx = pic.Width() / 2, cy = pic.Height() / 2;
    double R = std::max(dstW, static_cast<int>(dst.size())) * p;
    RefWarp(dst, dstW, pic, cx, cy, [&](double dx, double dy, double& sx, double& sy) {
        double d = std::sqrt(dx * dx + dy * dy);
        if (d == 0 || d == R || R == 0) return;
        double g = pull * ((1 / (1 - d / R) - 1) * R / 2 / d) + (1 - pull);
        sx = cx + dx * g;
        sy = cy + dy * g;
    });
}

void RefTwist(TPLines& dst, int dstW, TBitmap& pic, double twist) {
    double cx = (pic.Width() - 1) / 2, cy = (pic.Height() - 1) / 2;
    RefWarp(dst, dstW, pic, cx, cy, [&](double dx, double dy, double& sx, double& sy) {
        double r = std::sqrt(dx * dx + dy * dy);
        if (r == 0) return;
        double theta = std::atan2(dy, dx) - r * twist;
        sx = cx + r * std::cos(theta);
        sy = cy + r * std::sin(theta);
    });
}

// The stretches as first written: the whole frame in the background, then each picture row by row.
struct TRefPlaced {
    TBitmap& pic;
    int dx, dy;
};

void RefStretchRows(TPLines& dst, int w, const TRefPlaced& a, const TRefPlaced& b, uint32_t bg, int s) {
    int h = static_cast<int>(dst.size());
    for (auto* row : dst) std::fill(row, row + w, bg);
    if (s <= 0 || s >= h) return;
    for (int y = 0; y < h; ++y) {
        const TRefPlaced& p = y < s ? a : b;
        double pos = y < s ? double(y) * h / s : double(y - s) * h / (h - s);
        int row = static_cast<int>(std::nearbyint(pos)) - p.dy;
        if (row < 0 || row >= p.pic.Height()) continue;
        for (int x = std::max(0, p.dx); x < std::min(w, p.dx + p.pic.Width()); ++x)
            dst[size_t(y)][x] = p.pic.Row32(row)[x - p.dx];
    }
}

void RefStretchInto(TPLines& dst, int w, TBitmap& pic, int64_t x0, int64_t x1, int y0) {
    int pw = pic.Width(), ph = pic.Height();
    if (pw <= 0 || ph <= 0 || x1 <= x0) return;
    int h = static_cast<int>(dst.size());
    for (int y = std::max(0, y0); y < std::min(h, y0 + ph); ++y)
        for (int64_t x = std::max<int64_t>(0, x0); x < std::min<int64_t>(w, x1); ++x)
            dst[size_t(y)][x] = pic.Row32(y - y0)[(x - x0) * pw / (x1 - x0)];
}

void RefStretchColumns(TPLines& dst, int w, const TRefPlaced& a, const TRefPlaced& b, uint32_t bg, int s) {
    for (auto* row : dst) std::fill(row, row + w, bg);
    if (s <= 0 || s >= w) return;
    int64_t fa = int64_t(s) * 1024 / w;
    RefStretchInto(dst, w, a.pic, fa * a.dx / 1024, (int64_t(a.pic.Width()) + a.dx) * fa / 1024, a.dy);
    int64_t fb = int64_t(w - s) * 1024 / w;
    RefStretchInto(dst, w, b.pic, s + fb * b.dx / 1024, s + (int64_t(b.pic.Width()) + b.dx) * fb / 1024, b.dy);
}

// ---- Tests ----

TEST(EffectsFastPaths, RowBandsCoverEveryRowOnceWhateverTheThreads) {
    TThreadsGuard guard;
    for (int threads : {1, 2, 3, 4}) {
        SetRowBandThreads(threads);
        EXPECT_EQ(RowBandThreads(), threads);
        for (int rows : {0, 1, 15, 31, 32, 33, 64, 100, 1081}) {
            for (int minRows : {1, 4, 16}) {
                std::vector<std::atomic<int>> seen(static_cast<size_t>(rows));
                std::atomic<int> calls{0};
                ForRowBands(rows, [&](int first, int last) {
                    EXPECT_LT(first, last);
                    EXPECT_TRUE(last - first >= minRows || last == rows) << first << ".." << last;
                    for (int y = first; y < last; ++y) seen[size_t(y)]++;
                    calls++;
                }, minRows);
                for (int y = 0; y < rows; ++y) ASSERT_EQ(seen[size_t(y)].load(), 1) << threads << " " << rows << " " << y;
                if (threads == 1 && rows > 0) {
                    EXPECT_EQ(calls.load(), 1);
                }
            }
        }
    }
    // A body that asks for bands of its own, and two callers at once, still see every row once.
    SetRowBandThreads(4);
    std::vector<std::atomic<int>> seen(200 * 64);
    auto outer = [&](int base) {
        ForRowBands(200, [&](int first, int last) {
            for (int y = first; y < last; ++y)
                ForRowBands(64, [&](int a, int b) {
                    for (int x = a; x < b; ++x) seen[size_t((base + y) % 200 * 64 + x)]++;
                }, 8);
        }, 4);
    };
    std::thread other([&] { outer(100); });
    outer(0);
    other.join();
    for (auto& s : seen) ASSERT_EQ(s.load(), 2);
    SetRowBandThreads(0);
    EXPECT_GE(RowBandThreads(), 1);
    EXPECT_LE(RowBandThreads(), 4);
}

// Every effect draws the same frames on one thread as on four, on pictures tall enough to be cut
// into bands, placed apart so that every compositor region is exercised.
TEST(EffectsFastPaths, EveryEffectDrawsTheSameFramesOnOneThreadAsOnFour) {
    TThreadsGuard guard;
    struct TScene {
        int ow, oh, ox, oy, nw, nh;
        bool posRandom;
    };
    const TScene scenes[] = {{181, 143, 9, 5, 157, 171, false}, {0, 0, 0, 0, 163, 147, false}, {97, 83, 120, 90, 131, 101, true}};
    for (int code = 0; code < 88; ++code) {
        for (const TScene& sc : scenes) {
            std::vector<std::vector<uint32_t>> frames[2];
            for (int run = 0; run < 2; ++run) {
                SetRowBandThreads(run == 0 ? 1 : 4);
                VirtualClock clock(1000);
                SetClock(&clock);
                RandSeed(99 + code);
                TFakeHost h(263, 211);
                h.PosRnd = sc.posRandom;
                h.SetOld(sc.ow, sc.oh, sc.ox, sc.oy);
                h.SetNew(sc.nw, sc.nh);
                h.Engine.SetEffectCode(static_cast<uint8_t>(code));
                h.Engine.PrepareTransition();
                for (int call = 0; call < 3000 && h.Ends == 0; ++call) {
                    clock.Advance(47);
                    bool done = true;
                    h.Engine.TransitionStep(done);
                    if (call % 7 != 0 && h.Ends == 0) continue;
                    std::vector<uint32_t> f;
                    for (int y = 0; y < h.Form.Height(); ++y) f.insert(f.end(), h.Form.Row32(y), h.Form.Row32(y) + h.Form.Width());
                    TBitmap& old = *h.Mons[0].Bitmap;
                    for (int y = 0; y < old.Height(); ++y) f.insert(f.end(), old.Row32(y), old.Row32(y) + old.Width());
                    frames[run].push_back(std::move(f));
                }
                SetClock(nullptr);
            }
            ASSERT_EQ(frames[0].size(), frames[1].size()) << "code " << code;
            for (size_t i = 0; i < frames[0].size(); ++i)
                ASSERT_TRUE(frames[0][i] == frames[1][i]) << "code " << code << " sample " << i << " old " << sc.ow;
        }
    }
}

TEST(EffectsFastPaths, SplitRoutinesMatchTheirPlainForms) {
    TThreadsGuard guard;
    for (int threads : {1, 4}) {
        SetRowBandThreads(threads);
        // The blur reads rows above that are already blurred; every distance, from 1 to beyond
        // the height, on shapes down to a single row or column.
        for (auto [w, h] : {std::pair{61, 97}, {1, 40}, {40, 1}, {7, 3}, {130, 70}}) {
            for (int s : {1, 2, 3, 4, 5, 8, 17, 50, 200}) {
                TDest a(w, h, s), b(w, h, s);
                RefSplitBlur(a.lines, w, s);
                SplitBlur(b.lines, w, s);
                ASSERT_TRUE(a.SameAs(b)) << w << "x" << h << " s " << s;
            }
        }
        // Composing and blurring in one go, with the picture covering whole rows, part of them or
        // none (the rows then come from a buffer).
        TBitmap photo;
        Pattern(photo, 75, 64, 8);
        for (auto [dx, dy] : {std::pair{0, 0}, {-5, -3}, {4, 6}, {-2, 30}, {80, 0}}) {
            for (int s : {0, 1, 2, 5, 17, 70}) {
                for (int h : {1, 2, 61}) {
                    TDest a(61, h, 1), b(61, h, 1);
                    ComposeOnBackground(a.lines, 61, photo, 0x00405060, dy, dx);
                    SplitBlur(a.lines, 61, s);
                    ComposeAndSplitBlur(b.lines, 61, photo, 0x00405060, dy, dx, s);
                    ASSERT_TRUE(a.SameAs(b)) << dx << "," << dy << " s " << s << " h " << h;
                }
            }
        }
        TBitmap pic;
        Pattern(pic, 53, 41, 5);
        for (auto [dx, dy] : {std::pair{0, 0}, {7, -5}, {-9, 12}, {60, 0}, {0, 50}}) {
            for (int s : {0, 3, 12, 30, 80}) {
                TDest a(67, 59, 1), b(67, 59, 2);
                RefSplitRGB(a.lines, 67, pic, dx, dy, s, 0x00123456);
                SplitRGB(b.lines, 67, pic, dx, dy, s, 0x00123456);
                ASSERT_TRUE(a.SameAs(b)) << dx << "," << dy << " s " << s;
            }
        }
    }
}

TEST(EffectsFastPaths, MosaicAndNoiseRowsWithoutTheirComposingPass) {
    TThreadsGuard guard;
    SetRowBandThreads(4);
    TBitmap pic;
    Pattern(pic, 71, 45, 3);
    const TColor bg = 0x00406080;
    const uint32_t bgPix = SwapRB(bg);
    for (auto [dx, dy] : {std::pair{0, 0}, {5, 9}, {-7, -3}, {30, 40}}) {
        for (int cell : {2, 3, 7, 40, 227}) {
            TDest a(83, 61, 1), b(83, 61, 2);
            ComposeOnBackground(a.lines, 83, pic, bg, dy, dx);
            Mosaic(a.lines, 83, cell);
            MosaicFrom(b.lines, 83, pic, dx, dy, bgPix, cell);
            ASSERT_TRUE(a.SameAs(b)) << dx << "," << dy << " cell " << cell;
        }
        // The same random offsets in the same order: wrapping rows, whole pixels and one channel.
        for (int channel : {-1, 0, 1, 2}) {
            for (int jitter : {0, 5, 64, 500}) {
                TDest a(83, 61, 1), b(83, 61, 1), c(83, 61, 1);
                RandSeed(jitter + channel * 7);
                if (channel >= 0) ComposeOnBackground(a.lines, 83, pic, bg, dy, dx);
                RefNoiseRows(a.lines, 83, pic, dx, dy, jitter, bgPix, channel);
                int next = Random(1000);
                RandSeed(jitter + channel * 7);
                if (channel >= 0) ComposeAndNoiseRows(b.lines, 83, pic, dx, dy, jitter, bg, bgPix, channel);
                else NoiseRows(b.lines, 83, pic, dx, dy, jitter, bgPix, channel);
                ASSERT_TRUE(a.SameAs(b)) << dx << "," << dy << " channel " << channel << " jitter " << jitter;
                EXPECT_EQ(Random(1000), next); // no draw more or less
                // A picture as wide as the destination wraps without gaps.
                RandSeed(3);
                TBitmap wide;
                Pattern(wide, 83, 61, 4);
                RefNoiseRows(a.lines, 83, wide, 0, 0, jitter, bgPix, channel);
                RandSeed(3);
                NoiseRows(c.lines, 83, wide, 0, 0, jitter, bgPix, channel);
                RandSeed(3);
                TDest d(83, 61, 1);
                RefNoiseRows(d.lines, 83, wide, 0, 0, jitter, bgPix, channel);
                ASSERT_TRUE(c.SameAs(d)) << "wide, channel " << channel;
            }
        }
    }
}

TEST(EffectsFastPaths, RotationRunsMatchThePixelByPixelTest) {
    TThreadsGuard guard;
    SetRowBandThreads(4);
    struct TAvx2Guard {
        ~TAvx2Guard() { AllowAvx2(true); }
    } avx2Guard;
    // Wide pictures take rows whole when turned a little and in tiles when turned further.
    for (auto [w, h] : {std::pair{57, 43}, {1, 1}, {1, 37}, {37, 1}, {64, 64}, {300, 140}}) {
        TBitmap pic;
        Pattern(pic, w, h, 2);
        for (int angle = 0; angle <= 360; angle += 5) {
            for (int dw : {w, w + 9}) {
                TDest a(dw, h + 3, 1);
                RefRotate(a.lines, dw, pic, angle, 0x00AABBCC);
                for (bool avx2 : {false, true}) {
                    AllowAvx2(avx2);
                    TDest b(dw, h + 3, 1);
                    RotatePicture(b.lines, dw, pic, angle, 0x00AABBCC);
                    ASSERT_TRUE(a.SameAs(b)) << w << "x" << h << " angle " << angle << " avx2 " << avx2;
                }
            }
        }
    }
}

// The warps work in single precision, four blocks at a time, with each block's distance kept for
// the transition: they agree with the formulas in double precision to a step of the weights, but
// for the odd block whose source lies on a seam of the wrap or runs off to infinity near the
// fisheye's rim; with no distortion left they agree exactly.
TEST(EffectsFastPaths, FisheyeAndTwistFollowTheirFormulas) {
    TThreadsGuard guard;
    SetRowBandThreads(4);
    auto differing = [](const TDest& a, const TDest& b, int w, int h) {
        int bad = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint32_t p = a.bmp.Row32(y)[x], q = b.bmp.Row32(y)[x];
                for (int sh = 0; sh <= 16; sh += 8)
                    if (std::abs(int(Ch(p, sh)) - int(Ch(q, sh))) > 2) {
                        ++bad;
                        break;
                    }
            }
        return bad;
    };
    for (auto [w, h] : {std::pair{67, 49}, {2, 2}, {3, 40}, {40, 3}, {128, 90}, {301, 203}}) {
        TBitmap pic;
        Pattern(pic, w, h, 12);
        // Without a cache, and with caches kept over the frames (rebuilt when the sizes change or
        // the other routine used them).
        TWarpCache shared, fisheyeOnly, twistOnly;
        for (int k = 0; k <= 32; k += 4) {
            for (int dw : {w, w + 5, w - 1}) {
                int pixels = std::max(dw, 1) * (h + 1);
                TDest a(dw, h + 1, 1);
                RefFisheye(a.lines, dw, pic, (k + 1) * 1.2 / 32, (32 - k) / 32.0);
                for (TWarpCache* cache : {static_cast<TWarpCache*>(nullptr), &shared, &fisheyeOnly}) {
                    TDest b(dw, h + 1, 1);
                    Fisheye(b.lines, dw, pic, (k + 1) * 1.2 / 32, (32 - k) / 32.0, cache);
                    int bad = differing(a, b, dw, h + 1);
                    EXPECT_LE(bad, k == 32 ? 0 : std::max(4, pixels / 50)) << "fisheye " << w << "x" << h << " k " << k;
                }
                TDest c(dw, h + 1, 1);
                RefTwist(c.lines, dw, pic, TwistAt(k, 32));
                for (TWarpCache* cache : {static_cast<TWarpCache*>(nullptr), &shared, &twistOnly}) {
                    TDest d(dw, h + 1, 1);
                    Twist(d.lines, dw, pic, TwistAt(k, 32), cache);
                    int bad = differing(c, d, dw, h + 1);
                    EXPECT_LE(bad, k == 32 ? 0 : std::max(4, pixels / 200)) << "twist " << w << "x" << h << " k " << k;
                }
            }
        }
    }
}

// The AVX2 and the SSE2 paths draw the same frames (on a CPU without AVX2 both are SSE2): the
// spray's and the noise's numbers come from the same streams, the warps' factors from the same
// arithmetic.
TEST(EffectsFastPaths, WideAndNarrowPathsDrawTheSameFrames) {
    struct TAvx2Guard {
        ~TAvx2Guard() { AllowAvx2(true); }
    } avx2Guard;
    TBitmap pic;
    Pattern(pic, 1030, 1020, 7);
    auto draw = [&](TDest& d, bool avx2, int code, int k) {
        AllowAvx2(avx2);
        RandSeed(k);
        int w = d.bmp.Width();
        if (code == 26) Spray(d.lines, w, pic, ((32 - k) * (32 - k) + 2) / 8);
        else if (code == 49) ColorNoise(d.lines, w, pic, (32 - k) * (32 - k) + 2);
        else if (code == 52) Fisheye(d.lines, w, pic, (k + 1) * 1.2 / 32, (32 - k) / 32.0);
        else Twist(d.lines, w, pic, TwistAt(k, 32));
    };
    for (auto [w, h] : {std::pair{1030, 1020}, {301, 203}})
        for (int code : {26, 49, 52, 53})
            for (int k : {0, 9, 20}) {
                TDest narrow(w, h, 1), wide(w, h, 1);
                draw(narrow, false, code, k);
                draw(wide, true, code, k);
                EXPECT_TRUE(narrow.SameAs(wide)) << code << " " << w << " " << k;
            }
    // The blends, with the pictures overlapping in part and the background around them.
    TBitmap old;
    Pattern(old, 280, 190, 3);
    const TComposeGeometry g{5, 9, 30, 2};
    for (int kind = 0; kind < 5; ++kind)
        for (int level : {0, 40, 127, 128, 200, 256}) {
            TDest narrow(320, 210, 1), wide(320, 210, 1);
            for (bool avx2 : {false, true}) {
                AllowAvx2(avx2);
                TDest& d = avx2 ? wide : narrow;
                for (int f = 0; f < 4; ++f) {
                    if (kind < 3) CompositeBlendRGB(d.lines, 320, old, pic, g, f, clNavy, level, kind);
                    else if (kind == 3) ColorThrough(d.lines, 320, old, pic, g, f, clNavy, level);
                    else CompositeBlend(d.lines, 320, old, pic, g, f, clNavy, level, bkPeak);
                }
            }
            EXPECT_TRUE(narrow.SameAs(wide)) << "blend " << kind << " level " << level;
        }
}

// The stretches through the engine, every frame against the plain routines, with the pictures of
// different sizes so that the background shows beside them.
TEST(EffectsFastPaths, StretchFramesMatchThePlainRoutines) {
    TThreadsGuard guard;
    SetRowBandThreads(4);
    for (int code = 27; code <= 30; ++code) {
        for (auto [ow, oh, nw, nh] : {std::array{150, 90, 120, 130}, {140, 140, 140, 140}, {0, 0, 99, 77}}) {
            VirtualClock clock(1000);
            SetClock(&clock);
            TFakeHost h(240, 180);
            h.SetOld(ow, oh, (240 - ow) / 2, (180 - oh) / 2);
            h.SetNew(nw, nh);
            h.Engine.SetEffectCode(static_cast<uint8_t>(code));
            h.Engine.PrepareTransition();
            TTransitionState& st = h.Engine.State();
            const TBoundsRec u = st.Update;
            bool vertical = code <= 28;
            int n = vertical ? u.H : u.W;
            int checked = 0;
            for (int call = 0; call < 2000 && h.Ends == 0; ++call) {
                clock.Advance(23);
                int before = st.LastFrame;
                bool done = true;
                h.Engine.TransitionStep(done);
                int k = st.LastFrame;
                if (h.Ends != 0 || k == before || k <= 0 || k >= n) continue;
                TMonitorRec& mon = h.Mons[0];
                TRefPlaced oldP{*mon.Bitmap, mon.X - u.X, mon.Y - u.Y};
                TRefPlaced newP{h.Picture, h.NewRect.X - u.X, h.NewRect.Y - u.Y};
                TDest want(u.W, u.H, 0);
                uint32_t bg = h.BgPixel();
                if (code == 27) RefStretchRows(want.lines, u.W, newP, oldP, bg, k);
                else if (code == 28) RefStretchRows(want.lines, u.W, oldP, newP, bg, n - k);
                else if (code == 29) RefStretchColumns(want.lines, u.W, newP, oldP, bg, k);
                else RefStretchColumns(want.lines, u.W, oldP, newP, bg, n - k);
                for (int y = 0; y < u.H; ++y)
                    ASSERT_EQ(std::memcmp(h.Form.Row32(u.Y + y) + u.X, want.bmp.Row32(y), size_t(u.W) * 4), 0)
                        << "code " << code << " frame " << k << " row " << y;
                ++checked;
            }
            SetClock(nullptr);
            EXPECT_GT(checked, 10) << "code " << code;
        }
    }
}

TEST(EffectsFastPaths, FusedPassesMatchTheirSteps) {
    TThreadsGuard guard;
    SetRowBandThreads(4);
    const TColor bg = 0x00102030;
    // The old picture standing partly outside the destination: its rows there are treated too.
    for (auto [dx, dy] : {std::pair{0, 0}, {3, -6}, {-4, 10}, {0, 80}}) {
        for (int phase = 0; phase < 4; ++phase) {
            TBitmap p1, p2;
            Pattern(p1, 49, 67, 9);
            Pattern(p2, 49, 67, 9);
            TDest a(55, 71, 1), b(55, 71, 1);
            auto table = MakePosterTable(37 + phase);
            PosterizeLines(p1, table, phase);
            ComposeOnBackground(a.lines, 55, p1, bg, dy, dx);
            PosterizeAndCompose(b.lines, 55, p2, table, phase, bg, dy, dx);
            ASSERT_TRUE(a.SameAs(b)) << dx << "," << dy << " phase " << phase;
            ASSERT_TRUE(SameBitmaps(p1, p2));
        }
        // Read as shifted, the old picture matches the one moved by every shift, also after more
        // shifts than its width holds; it never moves itself.
        TBitmap orig;
        Pattern(orig, 49, 67, 9);
        for (int s : {0, 2, 3, 48, 49}) {
            TBitmap p1, p2;
            Pattern(p1, 49, 67, 9);
            Pattern(p2, 49, 67, 9);
            for (int times = 1; times <= 30; ++times) {
                TDest a(55, 71, 1), b(55, 71, 1);
                ShiftLines(p1, s);
                ComposeOnBackground(a.lines, 55, p1, bg, dy, dx);
                ShiftedCompose(b.lines, 55, TShiftedPicture{p2, s, times}, bg, dy, dx);
                ASSERT_TRUE(a.SameAs(b)) << dx << "," << dy << " shift " << s << " times " << times;
            }
            ASSERT_TRUE(SameBitmaps(p2, orig));
        }
        // Shifted and blended into the new picture, every kind, on all four phases.
        TBitmap fresh;
        Pattern(fresh, 41, 60, 4);
        for (int mode : {bkLinear, bkPeak, bkDelayed}) {
            TBitmap p1, p2;
            Pattern(p1, 49, 67, 9);
            Pattern(p2, 49, 67, 9);
            TDest a(55, 71, 1), b(55, 71, 1);
            TComposeGeometry g{dx, dy, 6, 4};
            for (int f = 0; f < 28; ++f) {
                int level = (40 + 60 * f) % 512;
                ShiftLines(p1, 2);
                CompositeBlend(a.lines, 55, p1, fresh, g, f, bg, level, mode);
                ShiftedBlend(b.lines, 55, TShiftedPicture{p2, 2, f + 1}, fresh, g, f, bg, level, mode);
                ASSERT_TRUE(a.SameAs(b)) << dx << "," << dy << " mode " << mode << " frame " << f;
            }
            ASSERT_TRUE(SameBitmaps(p2, orig));
        }
    }
}

// The shift blends move the old rows by 2 with every frame drawn, while composing and while
// blending, whatever frames the clock skips.
TEST(EffectsFastPaths, ShiftBlendsShiftByTwoPerFrameDrawn) {
    for (auto [code, kind] : {std::pair{82, bkLinear}, {83, bkDelayed}, {85, bkPeak}}) {
        VirtualClock clock(1000);
        SetClock(&clock);
        TFakeHost h(240, 180);
        h.SetOld(150, 90, 45, 45);
        h.SetNew(120, 130);
        TBitmap moved;
        moved.Assign(*h.Mons[0].Bitmap);
        h.Engine.SetEffectCode(static_cast<uint8_t>(code));
        h.Engine.PrepareTransition();
        TTransitionState& st = h.Engine.State();
        const TBoundsRec u = st.Update;
        TComposeGeometry g{h.Mons[0].X - u.X, h.Mons[0].Y - u.Y, h.NewRect.X - u.X, h.NewRect.Y - u.Y};
        int shifts = 0, checked[2] = {0, 0};
        for (int call = 0; call < 5000 && h.Ends == 0; ++call) {
            clock.Advance(call % 3 ? 5 : 37);
            TDest want(u.W, u.H, 0);
            for (int y = 0; y < u.H; ++y) std::memcpy(want.bmp.Row32(y), h.Form.Row32(u.Y + y) + u.X, size_t(u.W) * 4);
            int f = st.FramesDrawn;
            bool done = true;
            h.Engine.TransitionStep(done);
            if (h.Ends != 0 || st.FramesDrawn == f) continue;
            int k = st.LastFrame;
            for (; shifts <= f; ++shifts) ShiftLines(moved, 2);
            if (k < 256) ComposeOnBackground(want.lines, u.W, moved, h.Bg, g.OldY, g.OldX);
            else CompositeBlend(want.lines, u.W, moved, h.Picture, g, f, h.Bg, k - 256, kind);
            for (int y = 0; y < u.H; ++y)
                ASSERT_EQ(std::memcmp(h.Form.Row32(u.Y + y) + u.X, want.bmp.Row32(y), size_t(u.W) * 4), 0)
                    << "code " << code << " frame " << k << " row " << y;
            ++checked[k >= 256];
        }
        SetClock(nullptr);
        EXPECT_GT(checked[0], 10) << code;
        EXPECT_GT(checked[1], 10) << code;
    }
}

// The noise and the spray draw one seed per frame from the one random source and their numbers
// per row from streams made of it: a fixed seed gives the same frame, a row does not depend on the
// rows before it, and the numbers cover their ranges.
TEST(EffectsFastPaths, NoiseAndSprayDrawPerRowStreamsOfOneSeed) {
    TBitmap grey(301, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 301; ++x) grey.Row32(y)[x] = 0x808080;
    for (int white : {0, 1}) {
        for (int n : {1, 2, 77, 1026}) {
            TDest a(301, 40, 1), b(301, 40, 1), c(301, 5, 1);
            RandSeed(n);
            white ? WhiteNoise(a.lines, 301, grey, n) : ColorNoise(a.lines, 301, grey, n);
            int next = Random(1 << 30);
            RandSeed(n);
            white ? WhiteNoise(b.lines, 301, grey, n) : ColorNoise(b.lines, 301, grey, n);
            ASSERT_TRUE(a.SameAs(b)) << n;
            EXPECT_EQ(Random(1 << 30), next) << "one draw from the source per frame";
            RandSeed(n);
            white ? WhiteNoise(c.lines, 301, grey, n) : ColorNoise(c.lines, 301, grey, n);
            for (int y = 0; y < 5; ++y) ASSERT_EQ(std::memcmp(c.lines[size_t(y)], a.lines[size_t(y)], 301 * 4), 0);
            // Every value 128 + (0..n-1) - n div 2 and no other; the channels apart (colour) or
            // together (white).
            std::set<int> seen;
            int apart = 0;
            for (int y = 0; y < 40; ++y)
                for (int x = 0; x < 301; ++x) {
                    uint32_t p = a.bmp.Row32(y)[x];
                    ASSERT_EQ(p >> 24, 0u);
                    for (int sh = 0; sh <= 16; sh += 8) {
                        int v = int(Ch(p, sh)) - 128 + n / 2;
                        if (n <= 256) {
                            ASSERT_TRUE(v >= 0 && v < n) << n << " " << v;
                        }
                        seen.insert(int(Ch(p, sh)));
                    }
                    apart += Ch(p, 0) != Ch(p, 8);
                }
            EXPECT_EQ(seen.size(), size_t(std::min(n, 256))) << n;
            if (white) {
                EXPECT_EQ(apart, 0);
            } else if (n > 1) {
                EXPECT_GT(apart, 301 * 40 / 3);
            }
        }
    }
    // The spray takes each pixel from at most r - 1 pixels away on each axis, r below the bound,
    // clamped to the picture; the offsets spread over the whole range. A frame of a megapixel and
    // more is written another way (streaming), so one is checked too, and a picture so wide that
    // positions beyond it pass 32767.
    for (auto [w, h, radius] : {std::array{200, 150, 0}, {200, 150, 1}, {200, 150, 9}, {200, 150, 40}, {1030, 1020, 40},
                                {32760, 2, 16000}}) {
        TBitmap where(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) where.Row32(y)[x] = uint32_t(x) | uint32_t(y) << 16;
        // Drawn twice with one seed, the second time by the narrow path where the CPU has AVX2.
        TDest a(w, h, 1), b(w, h, 1);
        RandSeed(radius);
        Spray(a.lines, w, where, radius);
        RandSeed(radius);
        AllowAvx2(false);
        Spray(b.lines, w, where, radius);
        AllowAvx2(true);
        ASSERT_TRUE(a.SameAs(b));
        int widest = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint32_t p = a.bmp.Row32(y)[x];
                int dx = int(p & 0xFFFF) - x, dy = int(p >> 16) - y;
                ASSERT_LE(std::max(std::abs(dx), std::abs(dy)), std::max(0, radius - 1)) << radius << " at " << x << "," << y;
                if (x >= radius && x < w - radius) widest = std::max(widest, std::abs(dx));
            }
        if (radius <= 40) {
            EXPECT_EQ(widest, std::max(0, radius - 1)) << radius;
        }
    }
    TBitmap m1, m2;
    Pattern(m1, 40, 50, 1);
    Pattern(m2, 40, 50, 1);
    RandSeed(5);
    RefMelt(m1, 16);
    RandSeed(5);
    MeltLines(m2, 16);
    EXPECT_TRUE(SameBitmaps(m1, m2));
}

} // namespace
} // namespace lumora
