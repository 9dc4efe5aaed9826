// Compositors and pixel routines of the transitions, checked pixel for pixel.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <set>

#include "engine/Common.h"
#include "engine/transitions/Compositors.h"
#include "engine/transitions/Effects.h"
#include "engine/transitions/EffectsPixel.h"
#include "platform/system/Random.h"
#include "tests/engine/transitions/TransitionTestHost.h"

namespace lumora {
namespace {

using testing::Pattern;

constexpr TColor kBg = 0x00306090;
const uint32_t kBgPix = SwapRB(kBg);

struct TDest {
    TBitmap bmp;
    TPLines lines;
    TDest(int w, int h, uint32_t fill) : bmp(w, h, TPixelFormat::pf32bit) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) bmp.Row32(y)[x] = fill;
        BitmapToLines(lines, bmp);
    }
    uint32_t At(int x, int y) { return bmp.Row32(y)[x]; }
};

// The light routine as the tables describe it, one pixel at a time.
void LightPicture(TPLines& dst, int dstW, TBitmap& pic, int dx, int dy, const std::array<uint8_t, 256>& blue,
                  const std::array<uint8_t, 256>& green, const std::array<uint8_t, 256>& red, uint32_t bg,
                  int phase) {
    int p = ((phase % 4) + 4) % 4;
    int rowPar = p % 2, colPar = (p == 0 || p == 3) ? 0 : 1;
    int h = static_cast<int>(dst.size());
    int pw = pic.Width(), ph = pic.Height();
    int x0 = std::clamp(dx, 0, dstW), x1 = std::clamp(dx + std::max(pw, 0), 0, dstW);
    for (int y = rowPar; y < h; y += 2) {
        uint32_t* d = dst[static_cast<size_t>(y)];
        int sy = y - dy;
        bool inside = sy >= 0 && sy < ph && pw > 0;
        const uint32_t* src = inside ? pic.Row32(sy) : nullptr;
        for (int x = colPar; x < dstW; x += 2) {
            if (!inside || x < x0 || x >= x1) {
                d[x] = bg;
                continue;
            }
            uint32_t v = src[x - dx];
            d[x] = blue[v & 0xFF] | (uint32_t(green[(v >> 8) & 0xFF]) << 8) | (uint32_t(red[(v >> 16) & 0xFF]) << 16);
        }
    }
}

uint32_t RefBlend(uint32_t a, uint32_t b) {
    uint32_t out = 0;
    for (int s = 0; s <= 16; s += 8) {
        int ca = (a >> s) & 0xFF, cb = (b >> s) & 0xFF;
        out |= (static_cast<uint32_t>(ca + BlendStep(cb - ca)) & 0xFF) << s;
    }
    return out;
}

// Four consecutive frames write each pixel of the area exactly once, whatever the geometry.
TEST(EffectsCompositors, FourFramesTouchEveryPixelOnceAndEndOnTheNewPicture) {
    TBitmap o, n;
    Pattern(o, 23, 17, 1);
    Pattern(n, 19, 21, 2);
    TComposeGeometry g{0, 3, 9, 0}; // overlapping in part
    for (int mode : {bkLinear, bkPeak, bkDelayed}) {
        TDest d(28, 21, 0xFF000000u); // byte 3 set: the compositors must keep it
        std::vector<int> writes(28 * 21, 0);
        int level = mode == bkDelayed ? 512 : 256;
        for (int f = 0; f < 4; ++f) {
            TBitmap before;
            before.Assign(d.bmp);
            CompositeBlend(d.lines, 28, o, n, g, f, kBg, level, mode);
            for (int y = 0; y < 21; ++y)
                for (int x = 0; x < 28; ++x)
                    if (d.At(x, y) != before.Row32(y)[x]) writes[y * 28 + x]++;
        }
        TRect O = Bounds(0, 3, 23, 17), N = Bounds(9, 0, 19, 21);
        for (int y = 0; y < 21; ++y)
            for (int x = 0; x < 28; ++x) {
                bool inN = x >= N.Left && x < N.Right && y >= N.Top && y < N.Bottom;
                bool inO = x >= O.Left && x < O.Right && y >= O.Top && y < O.Bottom;
                uint32_t want = inN ? (0xFF000000u | n.Row32(y)[x - 9]) : inO ? (0xFF000000u | kBgPix) : 0xFF000000u;
                ASSERT_EQ(d.At(x, y), want) << "mode " << mode << " at " << x << "," << y;
                EXPECT_LE(writes[y * 28 + x], 1) << "mode " << mode << " at " << x << "," << y;
            }
    }
}

// The weight shortcut gives exactly what the shared table gives, for every level of every kind.
TEST(EffectsCompositors, BlendMatchesTheWeightTable) {
    TBitmap o, n;
    Pattern(o, 37, 8, 3);
    Pattern(n, 37, 8, 11);
    TComposeGeometry g{1, 0, 1, 0}; // odd columns: runs of four pixels and their tails
    for (int level = 0; level <= 256; level += 7) {
        for (int mode : {bkLinear, bkPeak}) {
            TDest d(40, 8, 0);
            for (int f = 0; f < 4; ++f) CompositeBlend(d.lines, 40, o, n, g, f, kBg, level, mode);
            if (mode == bkLinear) SetBlendLevel(level);
            else SetBlendPeak(level);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 37; ++x)
                    ASSERT_EQ(d.At(x + 1, y), RefBlend(o.Row32(y)[x], n.Row32(y)[x])) << level << " mode " << mode;
        }
    }
    // Delayed: pictures that do not meet fade separately, the old one (delay 90) to the background,
    // the new one (delay 180) from it.
    TComposeGeometry apart{0, 0, 40, 0};
    for (int level : {0, 100, 200, 300, 450}) {
        TDest d(72, 8, 0);
        for (int f = 0; f < 4; ++f) CompositeBlend(d.lines, 72, o, n, apart, f, kBg, level, bkDelayed);
        SetBlendDiff(level, 90);
        EXPECT_EQ(d.At(5, 5), RefBlend(o.Row32(5)[5], kBgPix)) << level;
        SetBlendDiff(level, 180);
        EXPECT_EQ(d.At(45, 5), RefBlend(kBgPix, n.Row32(5)[5])) << level;
        EXPECT_EQ(d.At(38, 5), 0u); // between the pictures nothing is written
    }
}

TEST(EffectsCompositors, OverBlendWrapsAtItsPeak) {
    TBitmap o(1, 1), n(1, 1);
    o.Row32(0)[0] = 0x000000;
    n.Row32(0)[0] = 0xFF80FF;
    TDest d(1, 1, 0);
    BlendMode1(d.lines, 1, o, n, TComposeGeometry{}, 0, kBg, 128);
    // Weight 384: 0 + 384 * 255 / 256 = 382 wraps to 126; 0 + 384 * 128 / 256 = 192.
    EXPECT_EQ(d.At(0, 0), (126u << 16) | (192u << 8) | 126u);
}

TEST(EffectsCompositors, ColorThroughKeepsBrightOldPixelsUntilTheThreshold) {
    TBitmap o(2, 1), n(2, 1);
    o.Row32(0)[0] = 0x000010; // dark
    o.Row32(0)[1] = 0x00F000; // one bright channel
    n.Row32(0)[0] = n.Row32(0)[1] = 0x123456;
    for (int level : {0, 16, 17, 200, 241, 256}) {
        TDest d(2, 1, 0);
        for (int f = 0; f < 4; ++f) ColorThrough(d.lines, 2, o, n, TComposeGeometry{}, f, kBg, level);
        EXPECT_EQ(d.At(0, 0), level <= 16 ? 0x000010u : 0x123456u) << level;
        EXPECT_EQ(d.At(1, 0), level <= 240 ? 0x00F000u : 0x123456u) << level;
    }
    // The block form starts its threshold at level 256.
    TDest d(2, 1, 0);
    for (int f = 0; f < 4; ++f) ColorThroughBlock(d.lines, 2, o, n, TComposeGeometry{}, f, kBg, 256 + 17);
    EXPECT_EQ(d.At(0, 0), 0x123456u);
    EXPECT_EQ(d.At(1, 0), 0x00F000u);
}

TEST(EffectsCompositors, ChannelBlendGoesThroughBlackOnTheOtherChannels) {
    TBitmap o(1, 1), n(1, 1);
    o.Row32(0)[0] = 0x804020;
    n.Row32(0)[0] = 0x10C0F0;
    auto run = [&](int level, int mode) {
        TDest d(1, 1, 0);
        for (int f = 0; f < 4; ++f) CompositeBlendRGB(d.lines, 1, o, n, TComposeGeometry{}, f, kBg, level, mode);
        return d.At(0, 0);
    };
    // Red (mode 1) blends linearly: at 128 it is halfway, the others are black.
    EXPECT_EQ(run(128, 1), uint32_t(0x80 + ((128 * (0x10 - 0x80)) >> 8)) << 16);
    EXPECT_EQ(run(128, 0), uint32_t(0x20 + ((128 * (0xF0 - 0x20)) >> 8)));
    EXPECT_EQ(run(128, 2), uint32_t(0x40 + ((128 * (0xC0 - 0x40)) >> 8)) << 8);
    EXPECT_EQ(run(0, 2), 0x804020u);
    EXPECT_EQ(run(256, 1), 0x10C0F0u);
    auto t = ChannelBlendTables(64);
    EXPECT_EQ(t.FadeOut[255 + 200], (128 * 200) >> 8);
    EXPECT_EQ(t.FadeIn[255 + 200], 0);
}

// Wide pictures take the four-pixel paths; every level gives what the one-pixel rules give.
TEST(EffectsCompositors, ChannelBlendAndColorThroughMatchTheirRules) {
    TBitmap o, n;
    Pattern(o, 37, 6, 4);
    Pattern(n, 37, 6, 13);
    for (int level = 0; level <= 256; level += 5) {
        auto t = ChannelBlendTables(level);
        for (int mode = 0; mode < 3; ++mode) {
            TDest d(37, 6, 0);
            for (int f = 0; f < 4; ++f) CompositeBlendRGB(d.lines, 37, o, n, TComposeGeometry{}, f, kBg, level, mode);
            int shift = mode == 1 ? 16 : mode == 2 ? 8 : 0;
            for (int y = 0; y < 6; ++y)
                for (int x = 0; x < 37; ++x) {
                    uint32_t a = o.Row32(y)[x], b = n.Row32(y)[x], want = 0;
                    for (int s = 0; s <= 16; s += 8) {
                        int ca = (a >> s) & 0xFF, cb = (b >> s) & 0xFF;
                        int v = s == shift ? ca + ((level * (cb - ca)) >> 8) : t.FadeOut[255 + ca] + t.FadeIn[255 + cb];
                        want |= (uint32_t(v) & 0xFF) << s;
                    }
                    ASSERT_EQ(d.At(x, y), want) << level << " mode " << mode << " at " << x << "," << y;
                }
        }
        TDest c(37, 6, 0);
        for (int f = 0; f < 4; ++f) ColorThrough(c.lines, 37, o, n, TComposeGeometry{}, f, kBg, level);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 37; ++x) {
                uint32_t a = o.Row32(y)[x];
                bool keep = int(a & 0xFF) >= level || int((a >> 8) & 0xFF) >= level || int((a >> 16) & 0xFF) >= level;
                ASSERT_EQ(c.At(x, y), keep ? a : n.Row32(y)[x]) << level << " at " << x << "," << y;
            }
    }
}

TEST(EffectsCompositors, ComposeOnBackgroundClipsItsSource) {
    TBitmap s;
    Pattern(s, 5, 4, 3);
    TDest d(6, 5, 0);
    ComposeOnBackground(d.lines, 6, s, kBg, -1, 3);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            uint32_t want = (y <= 2 && x >= 3) ? s.Row32(y + 1)[x - 3] : kBgPix;
            EXPECT_EQ(d.At(x, y), want) << x << "," << y;
        }
    TBitmap empty;
    ComposeOnBackground(d.lines, 6, empty, kBg, 0, 0);
    EXPECT_EQ(d.At(4, 1), kBgPix);
}

TEST(EffectsCompositors, PosterShiftAndMelt) {
    auto p = MakePosterTable(32);
    EXPECT_EQ(p[255], 0);
    EXPECT_EQ(p[240], 0);
    EXPECT_EQ(p[16], 0);
    EXPECT_EQ(p[48], 64); // 1.5 goes to the even 2
    EXPECT_EQ(p[100], 96);

    TBitmap b;
    Pattern(b, 7, 4, 1);
    TBitmap orig;
    orig.Assign(b);
    PosterizeLines(b, p, 1); // rows 1, 3 and columns 1, 3, 5
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 7; ++x) {
            uint32_t v = orig.Row32(y)[x];
            bool hit = y % 2 == 1 && x % 2 == 1;
            uint32_t want = hit ? (p[v & 0xFF] | (p[(v >> 8) & 0xFF] << 8) | (p[(v >> 16) & 0xFF] << 16)) : v;
            EXPECT_EQ(b.Row32(y)[x], want);
        }

    // Every byte value through every table (the vector form for few steps, the table for many),
    // on both column phases, with an odd width for the tail.
    TBitmap all(259, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 259; ++x)
            all.Row32(y)[x] = 0xAB000000u | uint32_t(x & 0xFF) | (uint32_t((255 - x) & 0xFF) << 8) |
                              (uint32_t((x * 7) & 0xFF) << 16);
    for (int v = 0; v < 256; ++v) {
        auto t = MakePosterTable(v);
        for (int phase : {0, 3}) { // row 0, columns 0 and 1
            b.Assign(all);
            PosterizeLines(b, t, phase);
            for (int x = 0; x < 259; ++x) {
                uint32_t o = all.Row32(0)[x];
                uint32_t want = x % 2 == phase % 2 ? (t[o & 0xFF] | (t[(o >> 8) & 0xFF] << 8) | (t[(o >> 16) & 0xFF] << 16)) : o;
                ASSERT_EQ(b.Row32(0)[x], want) << "v " << v << " x " << x;
            }
        }
    }

    Pattern(b, 7, 3, 1);
    orig.Assign(b);
    ShiftLines(b, 2);
    EXPECT_EQ(b.Row32(0)[2], orig.Row32(0)[0]); // even rows to the right
    EXPECT_EQ(b.Row32(0)[0], orig.Row32(0)[0]);
    EXPECT_EQ(b.Row32(1)[0], orig.Row32(1)[2]); // odd rows to the left
    EXPECT_EQ(b.Row32(1)[6], orig.Row32(1)[6]);
    TBitmap narrow;
    Pattern(narrow, 2, 2, 1);
    orig.Assign(narrow);
    ShiftLines(narrow, 2);
    EXPECT_EQ(narrow.Row32(1)[1], orig.Row32(1)[1]);

    // Melting only copies pixels downwards, never past the bottom, never sideways.
    Pattern(b, 9, 40, 4);
    orig.Assign(b);
    MeltLines(b, 16);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 9; ++x) {
            bool found = false;
            for (int sy = std::max(0, y - 15); sy <= y && !found; ++sy) found = b.Row32(y)[x] == orig.Row32(sy)[x];
            EXPECT_TRUE(found) << x << "," << y;
        }
    // Too short to drip: a one-row picture stays as it is.
    TBitmap one;
    Pattern(one, 3, 1, 1);
    orig.Assign(one);
    MeltLines(one, 16);
    for (int x = 0; x < 3; ++x) EXPECT_EQ(one.Row32(0)[x], orig.Row32(0)[x]);
}

TEST(EffectsPixel, RotationTurnsAboutTheCentre) {
    TBitmap pic;
    Pattern(pic, 8, 6, 2);
    TDest d(8, 6, 0);
    RotatePicture(d.lines, 8, pic, 360, kBgPix);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(d.At(x, y), pic.Row32(y)[x]);
    RotatePicture(d.lines, 8, pic, 180, kBgPix);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            // Upside down about (4, 3): the first row and column come from beyond the picture.
            uint32_t want = (x == 0 || y == 0) ? kBgPix : pic.Row32(6 - y)[8 - x];
            EXPECT_EQ(d.At(x, y), want) << x << "," << y;
        }
    RotatePicture(d.lines, 8, pic, 45, kBgPix);
    EXPECT_EQ(d.At(0, 0), kBgPix); // the corners show the background
}

TEST(EffectsPixel, WavesAreStraightAtTheStartAndTheEnd) {
    TBitmap pic;
    Pattern(pic, 300, 20, 5);
    std::array<int, 256> amp{};
    BuildWaveTable(amp, 32);
    EXPECT_EQ(amp[64], 32);  // sin of a quarter turn
    EXPECT_EQ(amp[192], -32);
    EXPECT_EQ(amp[0], 0);
    for (int kind = 0; kind < 3; ++kind) {
        for (int k : {0, 768}) {
            TDest d(300, 20, 0);
            ComposeOnBackground(d.lines, 300, pic, kBg, 0, 0);
            Wave(d.lines, 300, pic, amp, WaveCos(k + 192), kind);
            for (int y = 0; y < 20; ++y)
                for (int x = 0; x < 300; ++x) {
                    // Each computed pixel also serves its right neighbour; pixels outside the pairs
                    // keep what the work bitmap held.
                    int start = 1 - y % 2;
                    int first = x - ((x - start) % 2 + 2) % 2;
                    int sx = (x < start || first > 298) ? x : first;
                    ASSERT_EQ(d.At(x, y), pic.Row32(y)[sx]) << kind << " " << k << " at " << x << "," << y;
                }
        }
        TDest d(300, 20, 0);
        Wave(d.lines, 300, pic, amp, WaveCos(64 + 192), kind); // full swing
        if (kind == 1) {
            EXPECT_EQ(d.At(1, 0), pic.Row32(0)[1]); // the first row does not move at its column
        }
    }
}

TEST(EffectsPixel, MosaicAndSplit) {
    EXPECT_EQ(MosaicSize(0), 0);
    EXPECT_EQ(MosaicSize(16), 16);
    EXPECT_EQ(MosaicSize(17), 15);
    EXPECT_EQ(MosaicSize(32), 0);
    TBitmap pic;
    Pattern(pic, 10, 7, 1);
    TDest d(10, 7, 0);
    ComposeOnBackground(d.lines, 10, pic, kBg, 0, 0);
    Mosaic(d.lines, 10, 4);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 10; ++x) {
            int cx = std::min(x / 4 * 4 + 1, 9), cy = std::min(y / 4 * 4 + 1, 6);
            EXPECT_EQ(d.At(x, y), pic.Row32(cy)[cx]) << x << "," << y;
        }
    // A uniform picture blurs to itself; an offset RGB split reads each channel from its side.
    TBitmap flat(6, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) flat.Row32(y)[x] = 0x405060;
    TDest f(6, 6, 0);
    ComposeOnBackground(f.lines, 6, flat, kBg, 0, 0);
    SplitBlur(f.lines, 6, 2);
    EXPECT_EQ(f.At(3, 3), 0x405060u);
    TDest r(6, 6, 0);
    SplitRGB(r.lines, 6, pic, 0, 0, 2, kBgPix);
    EXPECT_EQ(r.At(3, 3) >> 16, (pic.Row32(3)[5] >> 16) & 0xFF);
    EXPECT_EQ((r.At(3, 3) >> 8) & 0xFF, (pic.Row32(3)[1] >> 8) & 0xFF);
    EXPECT_EQ(r.At(3, 3) & 0xFF, pic.Row32(1)[3] & 0xFF);
    EXPECT_EQ(r.At(5, 0) & 0xFF, kBgPix & 0xFF); // blue from above the picture
}

// Every 2 x 2 block inside the picture is written, nothing beyond it, on sizes down to one pixel
// and with lenses from a point to far beyond the picture.
TEST(EffectsPixel, FisheyeAndTwistWriteEveryBlockAndNothingElse) {
    TBitmap pic;
    const uint32_t canary = 0xFF000000u; // byte 3 is never written
    for (auto size : {std::pair{1, 1}, {1, 9}, {9, 1}, {3, 3}, {63, 5}, {40, 30}}) {
        const int w = size.first, h = size.second;
        Pattern(pic, w, h, 3);
        auto check = [&](TDest& d, const char* what) {
            for (int y = 0; y < h + 2; ++y)
                for (int x = 0; x < w + 3; ++x) {
                    bool block = x < w / 2 * 2 && y < h / 2 * 2;
                    ASSERT_EQ(d.At(x, y) == canary, !block) << what << " " << w << "x" << h << " at " << x << "," << y;
                }
        };
        for (double p : {1e-12, 0.0375, 0.5, 1.2, 1e9}) {
            TDest d(w + 3, h + 2, canary);
            Fisheye(d.lines, w + 3, pic, p, 1);
            check(d, "fisheye");
        }
        for (int k : {0, 1, 5, 32}) {
            TDest d(w + 3, h + 2, canary);
            Twist(d.lines, w + 3, pic, TwistAt(k, 32));
            check(d, "twist");
        }
    }
}

// A picture whose channels grow steadily to the right and downwards (no wrap), so that a sample a
// hair away from a pixel is within one step of it.
void Smooth(TBitmap& b, int w, int h) {
    b.SetPixelFormat(TPixelFormat::pf32bit);
    b.SetSize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) b.Row32(y)[x] = uint32_t(x * 5) | uint32_t(y * 6) << 8 | uint32_t((x + y) * 3) << 16;
}

// Near enough: a bilinear mix a hair away from a pixel.
void ExpectNear(uint32_t got, uint32_t want, const char* what) {
    for (int s = 0; s <= 16; s += 8)
        EXPECT_LE(std::abs(int((got >> s) & 0xFF) - int((want >> s) & 0xFF)), 1) << what << std::hex << " " << got << " " << want;
}

TEST(EffectsPixel, FisheyeMagnifiesTheCentreAndFlattensOut) {
    TBitmap pic;
    Smooth(pic, 40, 32);
    auto at = [&](int x, int y) { return pic.Row32(y)[x]; };
    // A lens much larger than the picture shows the middle twice as large; half its pull gives 4/3.
    TDest full(40, 32, 0), half(40, 32, 0), none(40, 32, 0);
    Fisheye(full.lines, 40, pic, 1e6, 1);
    ExpectNear(full.At(20, 16), at(20, 16), "centre");
    ExpectNear(full.At(21, 17), at(20, 16), "centre block");
    ExpectNear(full.At(28, 16), at(24, 16), "right of the centre");
    ExpectNear(full.At(20, 8), at(20, 12), "above the centre");
    Fisheye(half.lines, 40, pic, 1e6, 0.5);
    ExpectNear(half.At(28, 16), at(26, 16), "half pull");
    // Without pull every block shows its own pixel: the last frame is the picture.
    Fisheye(none.lines, 40, pic, 1.2, 0);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(none.At(x, y), at(x & ~1, y & ~1)) << x << "," << y;
}

TEST(EffectsPixel, TwistTurnsClockwiseAndEndsUntwisted) {
    TBitmap pic;
    Smooth(pic, 41, 33); // centre (20, 16)
    auto at = [&](int x, int y) { return pic.Row32(y)[x]; };
    // A quarter turn at a distance of 8: the pixel right of the centre shows what stood above it,
    // the one below shows what stood to the right (the picture turns clockwise on the screen).
    TDest d(41, 33, 0);
    Twist(d.lines, 41, pic, std::numbers::pi / 16);
    ExpectNear(d.At(28, 16), at(20, 8), "right");
    ExpectNear(d.At(20, 24), at(28, 16), "below");
    ExpectNear(d.At(12, 16), at(20, 24), "left");
    ExpectNear(d.At(20, 16), at(20, 16), "centre");
    // Half-way through the transition the middle is barely turned, not mirrored.
    Twist(d.lines, 41, pic, TwistAt(16, 32));
    ExpectNear(d.At(30, 16), at(30, 16), "mid-way");
    ExpectNear(d.At(10, 20), at(10, 20), "mid-way");
    EXPECT_EQ(TwistAt(32, 32), 0);
    Twist(d.lines, 41, pic, TwistAt(32, 32));
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 40; ++x) ASSERT_EQ(d.At(x, y), at(x & ~1, y & ~1)) << x << "," << y;
}

TEST(EffectsPixel, ConvertRoutines) {
    TBitmap b(3, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) b.Row32(y)[x] = 0x102030;
    Emboss(b);
    // Row 0 twice: (255 - p + p) / 2, then (255 - p + that) / 2; row 1 once; the last row stays.
    uint32_t once = 127u | (127u << 8) | (127u << 16);
    uint32_t twice = ((255 - 0x30 + 127) / 2) | (((255 - 0x20 + 127) / 2) << 8) | (((255 - 0x10 + 127) / 2) << 16);
    EXPECT_EQ(b.Row32(0)[0], twice);
    EXPECT_EQ(b.Row32(1)[2], once);
    EXPECT_EQ(b.Row32(2)[1], 0x102030u);
    // A single pixel is its own neighbour: twice half of 255. A single column keeps its last row.
    TBitmap t;
    Pattern(t, 1, 1, 1);
    Emboss(t);
    EXPECT_EQ(t.Row32(0)[0], 0x7F7F7Fu);
    Pattern(t, 1, 5, 1);
    TBitmap before;
    before.Assign(t);
    Emboss(t);
    EXPECT_EQ(t.Row32(4)[0], before.Row32(4)[0]);
    EXPECT_NE(t.Row32(3)[0], before.Row32(3)[0]);
    Pattern(t, 5, 1, 1);
    Emboss(t);
    for (int x = 0; x < 5; ++x) EXPECT_EQ(t.Row32(0)[x] >> 24, 0u);
    TBitmap c(1, 1);
    c.Row32(0)[0] = 0x112233; // red 0x11, green 0x22, blue 0x33
    ColorSwap(c, 1);
    EXPECT_EQ(c.Row32(0)[0], 0x330011u);
    c.Row32(0)[0] = 0x112233;
    ColorSwap(c, 2);
    EXPECT_EQ(c.Row32(0)[0], 0x331100u);
    c.Row32(0)[0] = 0x112233;
    ColorSwap(c, 3);
    EXPECT_EQ(c.Row32(0)[0], 0x003322u);
    c.Row32(0)[0] = 0x112233;
    InvertPicture(c, 0);
    EXPECT_EQ(c.Row32(0)[0], 0xEEDDCCu);
}

TEST(EffectsPixel, TurnCellFoldsAndUnfolds) {
    TBitmap o, n;
    Pattern(o, 20, 20, 1);
    Pattern(n, 20, 20, 2);
    TRect cell{0, 0, 20, 20};
    TDest d(20, 20, 7);
    EXPECT_FALSE(TurnCell(d.lines, 20, cell, -5, o, 0, 0, n, 0, 0, kBgPix));
    EXPECT_FALSE(TurnCell(d.lines, 20, cell, 64, o, 0, 0, n, 0, 0, kBgPix));
    EXPECT_EQ(d.At(3, 3), 7u); // not started, and a quarter turn: unchanged
    EXPECT_FALSE(TurnCell(d.lines, 20, cell, 0, o, 0, 0, n, 0, 0, kBgPix));
    for (int y = 0; y < 20; ++y) EXPECT_EQ(d.At(4, y), o.Row32(y)[4]); // flat: the old picture
    TurnCell(d.lines, 20, cell, 40, o, 0, 0, n, 0, 0, kBgPix);
    EXPECT_EQ(d.At(4, 0), kBgPix); // folded towards the centre line
    EXPECT_EQ(d.At(4, 10), o.Row32(10)[4]);
    TurnCell(d.lines, 20, cell, 127, o, 0, 0, n, 0, 0, kBgPix);
    EXPECT_EQ(d.At(4, 10), n.Row32(10)[4]); // unfolded upright, nearly flat
    EXPECT_TRUE(TurnCell(d.lines, 20, cell, 192, o, 0, 0, n, 0, 0, kBgPix));
    for (int y = 0; y < 20; ++y) EXPECT_EQ(d.At(9, y), n.Row32(y)[9]);
}

TEST(EffectsPixel, LightAndNoiseRows) {
    TBitmap pic;
    Pattern(pic, 5, 3, 1);
    std::array<uint8_t, 256> white{}, same{};
    for (int i = 0; i < 256; ++i) white[i] = ClampByte(i + ((255 - i) * 256) / 256), same[i] = uint8_t(i);
    TDest d(8, 5, 0);
    for (int f = 0; f < 4; ++f) LightPicture(d.lines, 8, pic, 2, 1, white, white, white, kBgPix, f);
    EXPECT_EQ(d.At(3, 2), 0xFFFFFFu);
    EXPECT_EQ(d.At(0, 0), kBgPix);
    for (int f = 0; f < 4; ++f) LightPicture(d.lines, 8, pic, 2, 1, same, same, same, kBgPix, f);
    EXPECT_EQ(d.At(3, 2), pic.Row32(1)[1]);

    // Without jitter the rows stay in place; a picture at the right edge wraps into the left.
    TDest r(8, 5, 0);
    NoiseRows(r.lines, 8, pic, 2, 1, 0, kBgPix, -1);
    EXPECT_EQ(r.At(2, 1), pic.Row32(0)[0]);
    EXPECT_EQ(r.At(7, 1), kBgPix);
    EXPECT_EQ(r.At(0, 0), kBgPix);
    NoiseRows(r.lines, 8, pic, 6, 1, 0, kBgPix, -1);
    EXPECT_EQ(r.At(1, 2), pic.Row32(1)[3]);
    // Moving only green: each row's green lands rotated as a whole (the rest of the row in the
    // background's green), blue and red stay; the rows move by different amounts.
    RandSeed(3);
    std::set<int> offsets;
    for (int i = 0; i < 50; ++i) {
        TBitmap before;
        before.Assign(r.bmp);
        NoiseRows(r.lines, 8, pic, 0, 0, 64, kBgPix, 1);
        for (int y = 0; y < 3; ++y) {
            int found = -1;
            for (int o = 0; o < 8 && found < 0; ++o) {
                bool fits = true;
                for (int x = 0; x < 8; ++x) {
                    int at = (x - o + 8) % 8;
                    uint32_t want = at < 5 ? pic.Row32(y)[at] : kBgPix;
                    fits = fits && (r.At(x, y) & 0xFF00) == (want & 0xFF00);
                }
                if (fits) found = o;
            }
            ASSERT_GE(found, 0) << "call " << i << " row " << y;
            offsets.insert(found);
            for (int x = 0; x < 8; ++x) ASSERT_EQ(r.At(x, y) & 0xFF00FF, before.Row32(y)[x] & 0xFF00FF);
        }
    }
    EXPECT_GT(offsets.size(), 4u);
    TDest ch(8, 5, 0);
    ComposeOnBackground(ch.lines, 8, pic, kBg, 1, 2);
    NoiseRows(ch.lines, 8, pic, 2, 1, 0, kBgPix, 2); // only red moves; unmoved it lands on itself
    EXPECT_EQ(ch.At(3, 2), pic.Row32(1)[1]);
}

// The blur adds the channels side by side; one channel at a time gives the same, in place.
TEST(EffectsPixel, SplitBlurMatchesChannelByChannel) {
    for (int s : {1, 2, 5}) {
        TBitmap pic;
        Pattern(pic, 23, 17, s);
        TDest fast(23, 17, 0), ref(23, 17, 0);
        ComposeOnBackground(fast.lines, 23, pic, kBg, 0, 0);
        ComposeOnBackground(ref.lines, 23, pic, kBg, 0, 0);
        SplitBlur(fast.lines, 23, s);
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 23; ++x) {
                int l = std::max(0, x - s), r = std::min(22, x + s), u = std::max(0, y - s), d = std::min(16, y + s);
                uint32_t q[4] = {ref.At(r, d), ref.At(r, u), ref.At(l, d), ref.At(l, u)};
                uint32_t out = 0;
                for (int sh = 0; sh <= 16; sh += 8) {
                    uint32_t sum = 0;
                    for (uint32_t v : q) sum += (v >> sh) & 0xFF;
                    out |= (sum / 4) << sh;
                }
                ref.bmp.Row32(y)[x] = out;
            }
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < 23; ++x) ASSERT_EQ(fast.At(x, y), ref.At(x, y)) << s << " at " << x << "," << y;
    }
}

// The light effects' arithmetic form gives exactly what their tables give.
TEST(EffectsPixel, LightArithmeticMatchesTheTables) {
    TBitmap pic;
    Pattern(pic, 41, 9, 6);
    for (int code : {21, 70, 71, 46, 47, 48}) {
        for (int v : {0, 1, 77, 128, 200, 255, 256}) {
            std::array<uint8_t, 256> t[3];
            for (int i = 0; i < 256; ++i) {
                uint8_t lit = static_cast<uint8_t>(std::min(i + v, 255));
                uint8_t dark = static_cast<uint8_t>(((256 - v) * i) >> 8);
                uint8_t all = code == 21 ? ClampByte(i + ((255 - i) * v) / 256)
                              : code == 70 ? ClampByte(i + v)
                              : code == 71 ? ClampByte(i - v)
                                           : 0;
                for (int ch = 0; ch < 3; ++ch) {
                    int litCh = code == 46 ? 2 : code == 47 ? 1 : 0;
                    t[ch][i] = code >= 46 && code <= 48 ? (ch == litCh ? lit : dark) : all;
                }
            }
            TDest ref(50, 12, 0xFF000000u), fast(50, 12, 0xFF000000u);
            for (int f = 0; f < 4; ++f) {
                LightPicture(ref.lines, 50, pic, 3, 1, t[0], t[1], t[2], kBgPix, f);
                LightPictureFast(fast.lines, 50, pic, 3, 1, code, v, kBgPix, f);
            }
            for (int y = 0; y < 12; ++y)
                for (int x = 0; x < 50; ++x) ASSERT_EQ(fast.At(x, y), ref.At(x, y)) << code << " v " << v << " at " << x << "," << y;
        }
    }
}

} // namespace
} // namespace lumora
