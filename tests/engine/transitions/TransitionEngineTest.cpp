// The transition engine driven through a stand-in window on the virtual clock: timing, placement,
// update rectangles, the end of every effect and what the screen shows afterwards.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "engine/transitions/Transition.h"
#include "platform/system/Clock.h"
#include "platform/system/Random.h"
#include "tests/engine/transitions/TransitionTestHost.h"

namespace lumora {
namespace {

using testing::Pattern;
using testing::TFakeHost;

class TransitionEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        clock_ = std::make_unique<VirtualClock>(5000);
        SetClock(clock_.get());
        RandSeed(7);
    }
    void TearDown() override { SetClock(nullptr); }

    // Prepares and steps until the transition ends; returns the number of idle calls.
    int Run(TFakeHost& h, int code, int maxCalls = 200000) {
        h.Engine.SetEffectCode(static_cast<uint8_t>(code));
        h.Engine.PrepareTransition();
        return Steps(h, maxCalls);
    }
    int Steps(TFakeHost& h, int maxCalls) {
        int calls = 0;
        while (h.Ends == 0 && calls < maxCalls) {
            bool done = true;
            h.Engine.TransitionStep(done);
            EXPECT_FALSE(done && h.Ends == 0) << "a running transition asked to wait for the next event";
            ++calls;
        }
        return calls;
    }
    uint32_t Now() { return timeGetTime(); }

    std::unique_ptr<VirtualClock> clock_;
};

TEST_F(TransitionEngineTest, DurationFollowsSpeedAndFramesRoundHalfToEven) {
    EXPECT_EQ(TTransitionEngine::Duration(0), 500);
    EXPECT_EQ(TTransitionEngine::Duration(5), 3000);
    EXPECT_EQ(TTransitionEngine::Duration(10), 5500);
    EXPECT_EQ(TTransitionEngine::Duration(-4), 500);
    EXPECT_EQ(TTransitionEngine::Duration(99), 5500);
    // 256 frames over 512 ms: frame = elapsed / 2, ties to the even frame.
    EXPECT_EQ(TTransitionEngine::FrameAt(256, 1, 512), 0);
    EXPECT_EQ(TTransitionEngine::FrameAt(256, 3, 512), 2);
    EXPECT_EQ(TTransitionEngine::FrameAt(256, 5, 512), 2);
    EXPECT_EQ(TTransitionEngine::FrameAt(256, 7, 512), 4);
    EXPECT_EQ(TTransitionEngine::FrameAt(256, 100000, 512), 256);
    EXPECT_EQ(TTransitionEngine::FrameAt(0, 100, 512), 0);
}

TEST_F(TransitionEngineTest, TimedTransitionsLastTheirDuration) {
    struct Case {
        int code, speed, duration, frames;
    } cases[] = {{0, 0, 500, 256}, {0, 5, 3000, 256}, {0, 10, 5500, 256}, {27, 0, 500, 40}, {29, 0, 1000, 60},
                 {29, 10, 6000, 60}, {2, 5, 3000, 60}};
    for (const Case& c : cases) {
        TFakeHost h(80, 60);
        h.Speed = c.speed;
        h.SetOld(60, 40, 10, 10);
        h.SetNew(60, 40);
        uint32_t start = Now();
        Run(h, c.code);
        ASSERT_EQ(h.Ends, 1);
        int took = static_cast<int>(Now() - start);
        // The end comes once the frame index rounds to N, plus at most one frame and its wait; the
        // stretch ends on the call after its last frame.
        EXPECT_GE(took, c.duration - c.duration / (2 * c.frames) - 1) << "code " << c.code << " speed " << c.speed;
        EXPECT_LE(took, c.duration + 30) << "code " << c.code << " speed " << c.speed;
    }
}

TEST_F(TransitionEngineTest, StepFamiliesPaceThemselvesBySpeed) {
    for (int speed : {0, 5, 10}) {
        TFakeHost h(200, 120);
        h.Speed = speed;
        h.SetOld(100, 50, 10, 10);
        h.SetNew(100, 50);
        uint32_t start = Now();
        int calls = Run(h, 6);
        EXPECT_EQ(calls, 16);
        EXPECT_EQ(Now() - start, uint32_t(16 * (speed * 8 + 20)));
    }
}

TEST_F(TransitionEngineTest, PlacementCentresOrPlacesAtRandomInsideTheMargin) {
    TFakeHost h(400, 300);
    h.Mons[0].Left = 0;
    h.SetNew(101, 51);
    h.Engine.SetEffectCode(0);
    h.Engine.PrepareTransition();
    EXPECT_EQ(h.NewRect.X, (400 - 101) / 2);
    EXPECT_EQ(h.NewRect.Y, (300 - 51) / 2);
    EXPECT_EQ(h.NewRect.W, 101);
    EXPECT_EQ(h.NewRect.H, 51);
    EXPECT_EQ(h.Captions, 1);

    h.PosRnd = true;
    h.LogoH = 64; // the margin is capped at 40
    for (int i = 0; i < 200; ++i) {
        h.Engine.PrepareTransition();
        EXPECT_GE(h.NewRect.X, 40);
        EXPECT_LE(h.NewRect.X + 101, 400 - 40);
        EXPECT_GE(h.NewRect.Y, 40);
        EXPECT_LE(h.NewRect.Y + 51, 300 - 40);
    }
    // Wider than the monitor less twice the margin: centred even at random.
    h.SetNew(330, 51);
    h.Engine.PrepareTransition();
    EXPECT_EQ(h.NewRect.X, (400 - 330) / 2);
    // In preview the margin is 2 pixels.
    h.Preview = true;
    h.SetNew(395, 10);
    h.Engine.PrepareTransition();
    EXPECT_GE(h.NewRect.X, 2);
    EXPECT_LE(h.NewRect.X + 395, 398);
}

TEST_F(TransitionEngineTest, UpdateRectangleHoldsBothPictures) {
    {
        // First picture on a monitor: the update rectangle is the new picture's, and it becomes the
        // monitor's last-picture rectangle.
        TFakeHost h(400, 300);
        h.Mons[0].Bitmap->SetSize(0, 0);
        h.SetNew(100, 60);
        h.Engine.SetEffectCode(0);
        h.Engine.PrepareTransition();
        TBoundsRec u = h.Engine.State().Update;
        EXPECT_EQ(u.X, 150);
        EXPECT_EQ(u.Y, 120);
        EXPECT_EQ(u.W, 100);
        EXPECT_EQ(u.H, 60);
        EXPECT_EQ(h.Mons[0].W, 100);
        EXPECT_EQ(h.Mons[0].LastUpdate, (TRect{150, 120, 250, 180}));
    }
    {
        // Centred: the larger size, centred.
        TFakeHost h(400, 300);
        h.SetOld(300, 40, 50, 130);
        h.SetNew(100, 200);
        h.Engine.SetEffectCode(0);
        h.Engine.PrepareTransition();
        TBoundsRec u = h.Engine.State().Update;
        EXPECT_EQ(u.X, 50);
        EXPECT_EQ(u.Y, 50);
        EXPECT_EQ(u.W, 300);
        EXPECT_EQ(u.H, 200);
        EXPECT_EQ(h.Mons[0].EffectDirty, (TRect{50, 50, 350, 250}));
    }
    {
        // At random: the bounding box.
        TFakeHost h(400, 300);
        h.PosRnd = true;
        h.SetOld(50, 40, 5, 7);
        h.SetNew(60, 30);
        h.Engine.SetEffectCode(0);
        h.Engine.PrepareTransition();
        TRect u = MakeBoundsRect(h.Engine.State().Update);
        TRect both = UnionRect(TRect{5, 7, 55, 47}, MakeBoundsRect(h.NewRect));
        EXPECT_EQ(u, both);
    }
    {
        // Larger than the monitor, on the second of two monitors: the rectangle stays on that monitor
        // and holds both pictures.
        TFakeHost h(800, 300);
        h.Mons.resize(2);
        h.Mons[0].Width = 400;
        h.Mons[0].Height = 300;
        h.Mons[1].Left = 400;
        h.Mons[1].Width = 400;
        h.Mons[1].Height = 300;
        h.Current = 1;
        h.SetOld(300, 200, 450, 50);
        h.SetNew(500, 100);
        h.Engine.SetEffectCode(0);
        h.Engine.PrepareTransition();
        TRect u = MakeBoundsRect(h.Engine.State().Update);
        EXPECT_EQ(UnionRect(u, TRect{450, 50, 750, 250}), u);
        EXPECT_EQ(UnionRect(u, MakeBoundsRect(h.NewRect)), u);
        EXPECT_EQ(h.NewRect.X, 400 + (400 - 500) / 2);
    }
}

TEST_F(TransitionEngineTest, LogoIsHiddenOnlyWhenTheNewAreaMeetsIt) {
    TFakeHost h(400, 300);
    h.SetOld(100, 100, 150, 100);
    h.SetNew(100, 100);
    h.Logo = TRect{0, 0, 50, 20};
    h.Engine.SetEffectCode(0);
    h.Engine.PrepareTransition();
    EXPECT_EQ(h.HideLogos, 0);
    h.Logo = TRect{240, 190, 300, 220};
    h.Engine.PrepareTransition();
    EXPECT_EQ(h.HideLogos, 1);
    h.LogoMon = 1; // the logo stands on another monitor
    h.Engine.PrepareTransition();
    EXPECT_EQ(h.HideLogos, 1);
}

TEST_F(TransitionEngineTest, NoEffectDrawsAtOnceAndTheStepNeverSpins) {
    TFakeHost h(200, 100);
    h.Enabled = 0;
    h.SetOld(50, 50, 10, 10);
    h.SetNew(60, 40);
    h.Engine.SetEffectCode(255);
    h.Engine.PrepareTransition();
    EXPECT_EQ(h.DrawPictures, 1);
    EXPECT_EQ(h.Form.Row32(30)[70], h.Picture.Row32(0)[0]);
    for (int i = 0; i < 5; ++i) {
        bool done = true;
        h.Engine.TransitionStep(done);
        EXPECT_TRUE(done);
    }
    EXPECT_EQ(h.Ends, 0);
}

TEST_F(TransitionEngineTest, NoPicturesStopsAndTwoEmptyPicturesEndAtOnce) {
    TFakeHost h(200, 100);
    h.SetOld(50, 50, 10, 10);
    h.SetNew(60, 40);
    h.NoPics = true;
    h.Engine.SetEffectCode(0);
    h.Engine.PrepareTransition();
    bool done = true;
    h.Engine.TransitionStep(done);
    EXPECT_TRUE(done);
    EXPECT_EQ(h.Ends, 0);

    TFakeHost e(200, 100);
    e.SetOld(0, 0, 0, 0);
    e.Mons[0].W = 5; // a monitor that showed something before, now empty
    e.SetNew(0, 0);
    EXPECT_EQ(Run(e, 17), 1);
    EXPECT_EQ(e.Ends, 1);
}

TEST_F(TransitionEngineTest, FirstChangeOnAMonitorGetsTheHeadStart) {
    struct Case {
        int code, first;
    } cases[] = {{21, 256}, {70, 256}, {22, 12}, {42, 12}, {23, 16}, {24, 16}, {51, 16}, {0, 0}};
    for (const Case& c : cases) {
        TFakeHost h(120, 80);
        h.SetNew(40, 30);
        h.Mons[0].Bitmap->SetSize(0, 0);
        h.Engine.SetEffectCode(static_cast<uint8_t>(c.code));
        h.Engine.PrepareTransition();
        bool done = true;
        h.Engine.TransitionStep(done);
        EXPECT_EQ(h.Engine.State().LastFrame, c.first) << "code " << c.code;
        EXPECT_EQ(h.Engine.State().FramesDrawn, c.first ? 1 : 0) << "code " << c.code;
    }
}

// Every effect, on small and odd sizes, with and without an old picture: it ends exactly once in a
// bounded number of calls, touches nothing outside the area it was given, and the screen ends up
// showing the new picture on the background there.
TEST_F(TransitionEngineTest, EveryEffectEndsOnceAndLeavesTheNewPicture) {
    struct Size {
        int w, h;
    } sizes[] = {{1, 1}, {1, 17}, {17, 1}, {3, 3}, {63, 5}, {320, 240}, {0, 0}};
    for (int code = 0; code < 88; ++code) {
        for (const Size& sz : sizes) {
            for (bool withOld : {true, false}) {
                TFakeHost h(sz.w + 90, sz.h + 70);
                h.Speed = 0;
                if (withOld) h.SetOld(std::max(1, sz.w / 2 + 3), std::max(1, sz.h - 1), 7, 9);
                else h.Mons[0].Bitmap->SetSize(0, 0);
                h.SetNew(sz.w, sz.h);
                std::string what = "code " + std::to_string(code) + " size " + std::to_string(sz.w) + "x" +
                                   std::to_string(sz.h) + (withOld ? " after a picture" : " first");
                Run(h, code);
                ASSERT_EQ(h.Ends, 1) << what;
                for (int i = 0; i < 3; ++i) {
                    bool done = true;
                    h.Engine.TransitionStep(done);
                }
                EXPECT_EQ(h.Ends, 1) << what;
                EXPECT_FALSE(h.DirtyOutsideForm) << what;
                TRect area = h.Mons[0].LastUpdate;
                TRect pic = MakeBoundsRect(h.NewRect);
                int wrong = 0;
                for (int y = 0; y < h.Form.Height(); ++y)
                    for (int x = 0; x < h.Form.Width(); ++x) {
                        uint32_t want = TFakeHost::Canary;
                        bool inArea = x >= area.Left && x < area.Right && y >= area.Top && y < area.Bottom;
                        if (x >= pic.Left && x < pic.Right && y >= pic.Top && y < pic.Bottom)
                            want = h.Picture.Row32(y - pic.Top)[x - pic.Left];
                        else if (inArea)
                            want = h.BgPixel();
                        wrong += h.Form.Row32(y)[x] != want;
                    }
                EXPECT_EQ(wrong, 0) << what;
            }
        }
    }
}

// The last frame each effect draws itself (before the end of the transition redraws the picture)
// already shows the new picture: nothing mirrored, magnified or left over. The pictures are smooth
// so that the blends' last phases, a row of a stretch or the final 2 x 2 mosaic differ only a little
// from it; every frame is drawn (the slowest speed on the virtual clock).
TEST_F(TransitionEngineTest, EveryEffectsLastFrameShowsTheNewPicture) {
    // A width that is a multiple of 24 leaves the noise lines no jitter on their last frame.
    const int W = 168, H = 120;
    auto smooth = [](TBitmap& b, int w, int h, bool flipped) {
        b.SetPixelFormat(TPixelFormat::pf32bit);
        b.SetSize(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                // The old picture stays below the last thresholds of the colour-through.
                int u = flipped ? w - 1 - x : x, v = flipped ? h - 1 - y : y, top = flipped ? 240 : 255;
                b.Row32(y)[x] = uint32_t(u * top / w) | uint32_t(v * top / h) << 8 | uint32_t((u + v) * top / (w + h)) << 16;
            }
    };
    for (int code = 0; code < 88; ++code) {
        TFakeHost h(W + 40, H + 30);
        h.Speed = 10;
        h.SetOld(W - 30, H - 20, 35, 25);
        smooth(*h.Mons[0].Bitmap, W - 30, H - 20, true);
        smooth(h.Picture, W, H, false);
        Run(h, code);
        ASSERT_EQ(h.Ends, 1) << "code " << code;
        bool overBlend = code == 69 || code == 79 || code == 84 || code == 85;
        TRect pic = MakeBoundsRect(h.NewRect);
        int off = 0;
        for (int y = pic.Top; y < pic.Bottom; ++y)
            for (int x = pic.Left; x < pic.Right; ++x) {
                uint32_t got = h.BeforeEnd.Row32(y)[x], want = h.Picture.Row32(y - pic.Top)[x - pic.Left];
                for (int s = 0; s <= 16; s += 8) {
                    int d = std::abs(int((got >> s) & 0xFF) - int((want >> s) & 0xFF));
                    // The over-blends wrap channel values by design while their weight is above 256.
                    if (overBlend) d = std::min(d, 256 - d);
                    if (d > 8) {
                        ++off;
                        break;
                    }
                }
            }
        // A stretch never draws its frame at the end: the seam (two columns for the fixed-point
        // horizontal ones) still shows the old picture. The zoom out's smallest square leaves the
        // 4 x 4 pixels at the centre to the end.
        int allowed = code == 27 || code == 28 ? W : code == 29 || code == 30 ? 2 * H : code == 5 ? 16 : 0;
        EXPECT_LE(off, allowed) << "code " << code << " " << EffectName(SettingsIndexOfCode(code));
    }
}

// Pictures larger than the form and placed partly off it: every routine clips.
TEST_F(TransitionEngineTest, EveryEffectClipsToTheForm) {
    for (int code = 0; code < 88; ++code) {
        TFakeHost h(60, 40);
        h.Speed = 0;
        h.Preview = code % 2 == 0;
        h.SetOld(90, 30, -20, 15);
        h.SetNew(75, 70);
        Run(h, code);
        EXPECT_EQ(h.Ends, 1) << "code " << code;
        EXPECT_FALSE(h.DirtyOutsideForm) << "code " << code;
    }
}

// The area copies: cut to the update rectangle, the picture where it stands, the rest background.
TEST_F(TransitionEngineTest, AreaCopyAndRestoreArea) {
    TFakeHost h(100, 80);
    h.SetOld(30, 20, 5, 5);
    h.SetNew(40, 30);
    h.Engine.SetEffectCode(2);
    h.Engine.PrepareTransition();
    TRect u = MakeBoundsRect(h.Engine.State().Update);
    h.FillForm(TFakeHost::Canary);
    h.Engine.AreaCopy(TRect{0, 0, 100, 80});
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 100; ++x) {
            uint32_t want = TFakeHost::Canary;
            if (x >= h.NewRect.X && x < h.NewRect.X + 40 && y >= h.NewRect.Y && y < h.NewRect.Y + 30)
                want = h.Picture.Row32(y - h.NewRect.Y)[x - h.NewRect.X];
            else if (x >= u.Left && x < u.Right && y >= u.Top && y < u.Bottom)
                want = h.BgPixel();
            ASSERT_EQ(h.Form.Row32(y)[x], want) << x << "," << y;
        }
    // With an offset the same content lands moved.
    h.FillForm(TFakeHost::Canary);
    TRect r{h.NewRect.X, h.NewRect.Y, h.NewRect.X + 10, h.NewRect.Y + 10};
    h.Engine.AreaCopy(r, 3, -2);
    EXPECT_EQ(h.Form.Row32(h.NewRect.Y - 2)[h.NewRect.X + 3], h.Picture.Row32(0)[0]);
    EXPECT_EQ(h.Form.Row32(h.NewRect.Y + 7)[h.NewRect.X + 12], h.Picture.Row32(9)[9]);
    EXPECT_EQ(h.Form.Row32(h.NewRect.Y + 8)[h.NewRect.X + 12], TFakeHost::Canary);
    // RestoreArea brings back the monitor's last picture, wherever the rectangle lies on the form.
    h.FillForm(TFakeHost::Canary);
    h.Engine.RestoreArea(TRect{0, 0, 20, 20});
    EXPECT_EQ(h.Form.Row32(5)[5], h.Mons[0].Bitmap->Row32(0)[0]);
    EXPECT_EQ(h.Form.Row32(19)[19], h.Mons[0].Bitmap->Row32(14)[14]);
    EXPECT_EQ(h.Form.Row32(2)[2], h.BgPixel());
}

// The moving families keep both pictures whole while they move, however unevenly the frames come.
TEST_F(TransitionEngineTest, ScrollsMoveThePicturesExactly) {
    const int W = 60, H = 40;
    struct Case {
        int code;
        // What form pixel (x, y) of the area shows at frame k: 'o' old, 'n' new, and where.
        char (*who)(int x, int y, int k, int& sx, int& sy);
    };
    Case cases[] = {
        {31, [](int x, int y, int k, int& sx, int& sy) { sx = x; if (y < k) { sy = y + H - k; return 'n'; } sy = y - k; return 'o'; }},
        {32, [](int x, int y, int k, int& sx, int& sy) { sx = x; if (y >= H - k) { sy = y - (H - k); return 'n'; } sy = y + k; return 'o'; }},
        {33, [](int x, int y, int k, int& sx, int& sy) { sy = y; if (x < k) { sx = x + W - k; return 'n'; } sx = x - k; return 'o'; }},
        {34, [](int x, int y, int k, int& sx, int& sy) { sy = y; if (x >= W - k) { sx = x - (W - k); return 'n'; } sx = x + k; return 'o'; }},
        {35, [](int x, int y, int k, int& sx, int& sy) { sx = x; if (y < k) { sy = y; return 'n'; } sy = y - k; return 'o'; }},
        {37, [](int x, int y, int k, int& sx, int& sy) { sy = y; if (x < k) { sx = x; return 'n'; } sx = x - k; return 'o'; }},
        {36, [](int x, int y, int k, int& sx, int& sy) { sx = x; if (y >= H - k) { sy = y - (H - k); return 'n'; } sy = y; return 'o'; }},
        {38, [](int x, int y, int k, int& sx, int& sy) { sy = y; if (x >= W - k) { sx = x - (W - k); return 'n'; } sx = x; return 'o'; }},
    };
    for (const Case& c : cases) {
        TFakeHost h(W, H);
        h.SetOld(W, H, 0, 0, 5);
        h.SetNew(W, H, 9);
        h.Engine.SetEffectCode(static_cast<uint8_t>(c.code));
        h.Engine.PrepareTransition();
        int bad = 0, checks = 0;
        for (int call = 0; call < 400 && h.Ends == 0; ++call) {
            bool done = true;
            h.Engine.TransitionStep(done);
            clock_->Advance(static_cast<uint32_t>(Random(60))); // frames of uneven length
            int k = h.Engine.State().LastFrame;
            if (h.Ends || k <= 0) continue;
            ++checks;
            for (int y = 0; y < H; ++y)
                for (int x = 0; x < W; ++x) {
                    int sx, sy;
                    char src = c.who(x, y, k, sx, sy);
                    TBitmap& pic = src == 'n' ? h.Picture : *h.Mons[0].Bitmap;
                    bad += h.Form.Row32(y)[x] != pic.Row32(sy)[sx];
                }
        }
        EXPECT_GT(checks, 3) << "code " << c.code;
        EXPECT_EQ(bad, 0) << "code " << c.code;
        EXPECT_EQ(h.Ends, 1) << "code " << c.code;
    }
}

// Banded scrolls: even bands move forwards, odd ones backwards, each exactly like its single member.
TEST_F(TransitionEngineTest, BandedScrollsAlternateByBand) {
    const int W = 64, H = 48;
    TFakeHost h(W, H);
    h.Preview = true; // bands of 16
    h.SetOld(W, H, 0, 0, 5);
    h.SetNew(W, H, 9);
    h.Engine.SetEffectCode(57);
    h.Engine.PrepareTransition();
    int bad = 0;
    for (int call = 0; call < 100 && h.Ends == 0; ++call) {
        bool done = true;
        h.Engine.TransitionStep(done);
        clock_->Advance(static_cast<uint32_t>(Random(50)));
        int k = h.Engine.State().LastFrame;
        if (h.Ends || k <= 0) continue;
        for (int y = 0; y < H; ++y) {
            bool right = (y / 16) % 2 == 0;
            for (int x = 0; x < W; ++x) {
                bool isNew = right ? x < k : x >= W - k;
                int sx = right ? (isNew ? x + W - k : x - k) : (isNew ? x - (W - k) : x + k);
                TBitmap& pic = isNew ? h.Picture : *h.Mons[0].Bitmap;
                bad += h.Form.Row32(y)[x] != pic.Row32(y)[sx];
            }
        }
    }
    EXPECT_EQ(bad, 0);
}

} // namespace
} // namespace lumora
