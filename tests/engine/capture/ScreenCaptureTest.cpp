// The one-shot capture of the desktop (with the pointer's picture) and the motion recording into a
// GIF on virtual time, read back by giflib.
#include <gif_lib.h>

#include <cstring>

#include <gtest/gtest.h>

#include "engine/capture/ScreenCapture.h"
#include "pictures/gif/GIFImage.h"
#include "platform/system/Clock.h"
#include "platform/display/ScreenGrab.h"

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
    // A 3x2 pointer with its hot spot at (1, 1): opaque red, half-covering white, and clear pixels.
    g.grabber.cursorImage = TCursorImage{3, 2, TPoint{1, 1}, {0xFFFF0000u, 0x80808080u, 0, 0, 0, 0xFF0000FFu}};
    TScreenCapture c;
    std::unique_ptr<TBitmap> bmp;
    c.Capture(100, 50, 0, bmp, 20, 20);
    EXPECT_EQ(bmp->GetPixel(4, 1), RGB(0x80, 0x80, 0x80));
    c.CaptureCursor = true;
    c.Capture(100, 50, 0, bmp, 20, 20);
    // The picture's top left lands at the pointer minus its hot spot, minus the region's origin.
    EXPECT_EQ(bmp->GetPixel(4, 1), RGB(0xFF, 0, 0));
    EXPECT_EQ(bmp->GetPixel(5, 1), RGB(0xC0, 0xC0, 0xC0)) << "premultiplied white over grey";
    EXPECT_EQ(bmp->GetPixel(4, 2), RGB(0x80, 0x80, 0x80)) << "clear pixels leave the screen";
    EXPECT_EQ(bmp->GetPixel(6, 2), RGB(0, 0, 0xFF));
    // Without a picture from the display, nothing is drawn.
    g.grabber.cursorImage = TCursorImage{};
    c.Capture(100, 50, 0, bmp, 20, 20);
    EXPECT_EQ(bmp->GetPixel(4, 1), RGB(0x80, 0x80, 0x80));
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
    // Each grab shows the desktop in another grey.
    g.grabber.pixel = [&](int x, int) { return uint32_t(g.grabber.grabs * 40 + (x < 4 ? 0 : 16)) * 0x010101u; };
    c.SetActive(true);
    c.SetCaptureMode(TCaptureMode::cmStillBitmap); // ignored while recording
    EXPECT_EQ(c.CaptureMode(), TCaptureMode::cmMotionGIF);
    clock.Advance(1000);
    c.SetActive(false);
    clock.Advance(1000);
    ASSERT_NE(c.Recording(), nullptr);
    EXPECT_EQ(c.Recording()->Images().Count(), 5);

    // The saved recording reads in giflib: five 8x6 frames of 1/5 s, each the desktop as grabbed.
    TMemoryStream saved;
    c.Recording()->SaveToStream(saved);
    std::pair<std::vector<uint8_t>, size_t> source{saved.Bytes(), 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&source, [](GifFileType* f, GifByteType* out, int n) {
        auto* s = static_cast<std::pair<std::vector<uint8_t>, size_t>*>(f->UserData);
        const size_t k = std::min<size_t>(static_cast<size_t>(n), s->first.size() - s->second);
        std::memcpy(out, s->first.data() + s->second, k);
        s->second += k;
        return static_cast<int>(k);
    }, &error);
    ASSERT_NE(gif, nullptr);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    ASSERT_EQ(gif->ImageCount, 5);
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& frame = gif->SavedImages[i];
        EXPECT_EQ(frame.ImageDesc.Width, 8);
        EXPECT_EQ(frame.ImageDesc.Height, 6);
        GraphicsControlBlock control;
        ASSERT_EQ(DGifSavedExtensionToGCB(gif, i, &control), GIF_OK);
        EXPECT_EQ(control.DelayTime, 20);
        const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
        ASSERT_NE(map, nullptr);
        for (int x : {0, 7}) {
            const GifColorType color = map->Colors[frame.RasterBits[3 * 8 + x]];
            const int grey = (i + 1) * 40 + (x < 4 ? 0 : 16);
            EXPECT_EQ(color.Red, grey) << i << " " << x;
            EXPECT_EQ(color.Blue, grey) << i << " " << x;
        }
    }
    DGifCloseFile(gif, &error);

    // A new start records afresh.
    c.SetActive(true);
    clock.Advance(200);
    c.SetActive(false);
    EXPECT_EQ(c.Recording()->Images().Count(), 1);
    // A component being loaded from its stored description never starts recording.
    c.SetLoading(true);
    c.SetActive(true);
    EXPECT_FALSE(c.Active());
    SetClock(nullptr);
}

} // namespace
} // namespace lumora
