// The way from the picture tick to the first frame: the reading path takes a decoded JPEG's pixels
// over instead of copying them, and the picture that arrives is the decoder's, pixel for pixel.

#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include <cstring>

#include "engine/saver/PictureReader.h"
#include "engine/saver/PictureFormats.h"
#include "framework/Classes.h"
#include "framework/JPEG.h"
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
