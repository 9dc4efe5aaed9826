// The one-shot capture of the desktop and the motion recording on virtual time.
#include <gtest/gtest.h>

#include "engine/ScreenCapture.h"
#include "platform/Clock.h"
#include "platform/ScreenGrab.h"

namespace lumora {
namespace {

struct GrabberScope {
    FakeScreenGrabber grabber;
    GrabberScope() { SetScreenGrabber(&grabber); }
    ~GrabberScope() { SetScreenGrabber(nullptr); }
};

TEST(ScreenCaptureTest, CapturesTheRegionAsA24BitBitmap) {
    GrabberScope g;
    g.grabber.pixel = [](int x, int y) { return uint32_t(x & 0xFF) << 16 | uint32_t(y & 0xFF); };
    TScreenCapture c;
    std::unique_ptr<TBitmap> bmp;
    c.Capture(-10, 20, 0, bmp, 30, 40);
    ASSERT_TRUE(bmp);
    EXPECT_EQ(bmp->PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(bmp->Width(), 40);
    EXPECT_EQ(bmp->Height(), 30);
    EXPECT_EQ(g.grabber.lastArea, (TRect{-10, 20, 30, 50}));
    EXPECT_EQ(bmp->GetPixel(15, 2), RGB(5, 0, 22)); // desktop (5, 22)
}

TEST(ScreenCaptureTest, ZeroRegionRaisesAndLeavesAnEmptyBitmap) {
    GrabberScope g;
    TScreenCapture c;
    std::unique_ptr<TBitmap> bmp;
    for (auto [w, h] : {std::pair{0, 10}, {10, 0}, {-3, 5}}) {
        try {
            c.Capture(0, 0, 0, bmp, h, w);
            ADD_FAILURE() << "no exception for " << w << "x" << h;
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Invalid region to capture. Check input values.");
        }
        ASSERT_TRUE(bmp);
        EXPECT_EQ(bmp->Width() * bmp->Height(), 0);
    }
    EXPECT_EQ(g.grabber.grabs, 0);
}

TEST(ScreenCaptureTest, CursorIsDrawnAtItsPositionWhenAsked) {
    GrabberScope g;
    g.grabber.pixel = [](int, int) { return 0x00808080u; };
    g.grabber.cursor = TPoint{105, 52};
    TScreenCapture c;
    std::unique_ptr<TBitmap> bmp;
    c.Capture(100, 50, 0, bmp, 20, 20);
    EXPECT_EQ(bmp->GetPixel(5, 2), RGB(0x80, 0x80, 0x80));
    c.CaptureCursor = true;
    c.Capture(100, 50, 0, bmp, 20, 20);
    EXPECT_EQ(bmp->GetPixel(5, 2), clBlack); // the arrow's tip
    EXPECT_EQ(bmp->GetPixel(6, 4), clWhite); // its body
}

TEST(ScreenCaptureTest, MotionRecordingOnlyInMotionModeAndAtItsInterval) {
    GrabberScope g;
    VirtualClock clock;
    SetClock(&clock);
    TScreenCapture c;
    EXPECT_THROW(c.SetActive(true), Exception);
    EXPECT_FALSE(c.Active());
    c.SetCaptureMode(TCaptureMode::cmMotionGIF);
    c.MotionGifInterval = 200;
    c.Width = 8;
    c.Height = 6;
    int starts = 0;
    std::vector<int> delays;
    c.OnRecordingStart = [&] { ++starts; };
    c.OnMotionFrame = [&](const TBitmap& frame, int delayCs) {
        EXPECT_EQ(frame.Width(), 8);
        delays.push_back(delayCs);
    };
    c.SetActive(true);
    c.SetCaptureMode(TCaptureMode::cmStillBitmap); // ignored while recording
    EXPECT_EQ(c.CaptureMode(), TCaptureMode::cmMotionGIF);
    clock.Advance(1000);
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(delays.size(), 5u);
    EXPECT_EQ(delays.front(), 20);
    c.SetActive(false);
    clock.Advance(1000);
    EXPECT_EQ(delays.size(), 5u);
    // A component being loaded from its stored description never starts recording.
    c.SetLoading(true);
    c.SetActive(true);
    EXPECT_FALSE(c.Active());
    SetClock(nullptr);
}

} // namespace
} // namespace lumora
