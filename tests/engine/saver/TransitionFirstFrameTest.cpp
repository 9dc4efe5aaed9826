// The way from the picture tick to the first frame: the reading path takes a decoded JPEG's pixels
// over instead of copying them, and the picture that arrives is the decoder's, pixel for pixel.

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "engine/saver/PictureReader.h"
#include "engine/saver/PictureFormats.h"
#include "framework/Classes.h"
#include "framework/Checked.h"
#include "framework/JPEG.h"
#include "tests/support/HaveTool.h"
#include "tests/support/JpegTestUtil.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

bool SamePixels(const TBitmap& a, const TBitmap& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.Row32(y), b.Row32(y), size_t(a.Width()) * 4) != 0) return false;
    return true;
}

TEST(TransitionFirstFrame, ReadingTakesTheDecodedJpegPixelsUnchanged) {
    RegisterPictureFormats();
    QImage img(301, 203, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) img.setPixel(x, y, qRgb(x % 256, (y * 3) % 256, (x ^ y) % 256));
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(img.save(&buf, "JPEG", 90));
    test::TempDir dir;
    std::string path = dir.WriteFile("photo.jpg", bytes.toStdString());

    TJPEGImage decoded;
    TFileStream stream(path, fmOpenRead);
    decoded.LoadFromStream(stream);
    TBitmap copied;
    copied.Assign(&decoded);

    std::unique_ptr<TBitmap> read = LoadPictureOrNotice(path);
    ASSERT_EQ(read->Width(), 301);
    ASSERT_EQ(read->Height(), 203);
    EXPECT_EQ(read->PixelFormat(), TPixelFormat::pf32bit);
    EXPECT_TRUE(SamePixels(*read, copied));
}

std::string SaveJpeg(const test::TempDir& dir, const std::string& name, int w, int h, bool grey) {
    QImage img(w, h, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, grey ? qRgb((x * 7 + y) % 256, (x * 7 + y) % 256, (x * 7 + y) % 256)
                                    : qRgb((x * 3) % 256, (y * 5) % 256, ((x ^ y) * 11) % 256));
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "JPEG", 85);
    return dir.WriteFile(name, bytes.toStdString());
}

TEST(TransitionFirstFrame, ReadingForTheMonitorGivesTheScaledDecoderPixelsWhicheverWayItFits) {
    RegisterPictureFormats();
    test::TempDir dir;
    const std::string wide = SaveJpeg(dir, "wide.jpg", 1201, 803, false);
    const std::string tall = SaveJpeg(dir, "tall.jpg", 803, 1201, false);
    const std::string grey = SaveJpeg(dir, "grey.jpg", 977, 613, true);
    const std::string small = SaveJpeg(dir, "small.jpg", 97, 61, false);
    // Cut short: libjpeg fills the missing rows, the same ones either way.
    const std::string whole = test::ReadFile(wide);
    const std::string cut = dir.WriteFile("cut.jpg", whole.substr(0, whole.size() / 2));
    const std::string turned = dir.WriteFile("turned.jpg", test::OrientedJpeg(1201, 803, 6));
    const std::string mirrored = dir.WriteFile("mirrored.jpg", test::OrientedJpeg(803, 1201, 7, true));
    const std::string upsideDown = dir.WriteFile("upside-down.jpg", test::OrientedJpeg(977, 613, 3));
    const std::string turnedWhole = test::ReadFile(turned);
    const std::string turnedCut =
        dir.WriteFile("turned-cut.jpg", turnedWhole.substr(0, turnedWhole.size() / 2));
    std::string cmyk;
    if (test::HaveTool("convert")) {
        cmyk = dir.File("cmyk.jpg");
        ASSERT_EQ(std::system(("convert " + tall + " -colorspace CMYK " + cmyk).c_str()), 0);
    }
    struct Case {
        std::string file;
        int mode, targetW, targetH, limitX, limitY, scale;
        bool smooth;
        int64_t budget; // 0: the usual one
    } cases[] = {
        {wide, 1, 640, 360, 1920, 1080, 1000, true, 0},  {tall, 2, 400, 300, 400, 300, 1000, true, 0},
        {grey, 1, 1920, 1080, 333, 211, 1000, true, 0},  {wide, 1, 1920, 1080, 1920, 1080, 250, true, 0},
        {cut, 1, 641, 359, 1920, 1080, 1000, true, 0},   {cmyk, 2, 500, 500, 500, 500, 1000, true, 0},
        // decoded at half its size, then fitted
        {wide, 1, 320, 200, 1920, 1080, 1000, true, 1201 * 803 / 3},
        // enlarged, kept, stretched plainly or cut: the whole picture, as before
        {small, 2, 640, 360, 1920, 1080, 1000, true, 0}, {wide, 1, 1920, 1080, 1920, 1080, 1000, true, 0},
        {wide, 1, 640, 360, 1920, 1080, 1000, false, 0}, {wide, 0, 640, 360, 1920, 1080, 250, true, 0},
        {tall, 0, 640, 360, 0, 0, 1000, true, 0},
        // stored on their side, mirrored or upside down: fitted, kept whole or cut as they stand upright
        {turned, 1, 640, 360, 1920, 1080, 1000, true, 0},
        {mirrored, 2, 400, 300, 400, 300, 1000, true, 0},
        {upsideDown, 1, 333, 211, 1920, 1080, 1000, true, 0},
        {turnedCut, 1, 641, 359, 1920, 1080, 1000, true, 0},
        {turned, 1, 320, 200, 1920, 1080, 1000, true, 1201 * 803 / 3},
        {turned, 1, 640, 360, 1920, 1080, 1000, false, 0},
        {turned, 0, 640, 360, 0, 0, 1000, true, 0},
        // unreadable: the notice, fitted the same way
        {dir.File("missing.jpg"), 2, 200, 100, 200, 100, 1000, true, 0},
    };
    const int64_t saved = PixelBudget();
    for (const auto& c : cases) {
        if (c.file.empty()) continue;
        TImgReadSize size;
        size.TargetWidth = c.targetW;
        size.TargetHeight = c.targetH;
        size.SizeMode = c.mode;
        size.SizeLimitX = c.limitX;
        size.SizeLimitY = c.limitY;
        size.PreviewScale = c.scale;
        size.Smooth = c.smooth;
        if (c.budget) SetPixelBudget(c.budget);
        std::unique_ptr<TBitmap> expected = LoadPictureOrNotice(c.file);
        ScaleForMonitor(expected, size);
        std::unique_ptr<TBitmap> read = ReadPictureForMonitor(c.file, size);
        SetPixelBudget(saved);
        EXPECT_EQ(read->PixelFormat(), TPixelFormat::pf32bit);
        EXPECT_TRUE(SamePixels(*read, *expected))
            << c.file << " mode " << c.mode << " into " << c.targetW << "x" << c.targetH << ": " << read->Width()
            << "x" << read->Height() << " against " << expected->Width() << "x" << expected->Height();
    }
}

TEST(TransitionFirstFrame, TakingABitmapMovesItsPixelsAndEmptiesTheSource) {
    TBitmap source(5, 3), dest(2, 2);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) source.Row32(y)[x] = uint32_t(y * 16 + x);
    TBitmap expected;
    expected.Assign(source);
    dest.Canvas(); // a canvas made before must draw on the new pixels
    dest.TakeFrom(source);
    EXPECT_TRUE(SamePixels(dest, expected));
    EXPECT_EQ(source.Width(), 0);
    EXPECT_EQ(source.Height(), 0);
    dest.Canvas().Brush.Color = clWhite;
    dest.Canvas().FillRect(TRect{0, 0, 1, 1});
    EXPECT_EQ(dest.Row32(0)[0] & 0xFFFFFF, 0xFFFFFFu);
    EXPECT_EQ(dest.Row32(0)[1], 1u);
    dest.TakeFrom(dest); // taking from itself changes nothing
    EXPECT_EQ(dest.Width(), 5);
}

} // namespace
} // namespace lumora
