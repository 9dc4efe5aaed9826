#include <QBuffer>
#include <QImage>

#include <gtest/gtest.h>

#include "framework/Checked.h"
#include "framework/Graphics.h"
#include "framework/JPEG.h"
#include "tests/support/JpegTestUtil.h"
#include "tests/support/TempDir.h"

using namespace lumora;

TEST(Colors, NamesAndHexRoundTrip) {
    EXPECT_EQ(ColorToString(clBlack), "clBlack");
    EXPECT_EQ(ColorToString(clWhite), "clWhite");
    EXPECT_EQ(ColorToString(clBtnFace), "clBtnFace");
    EXPECT_EQ(ColorToString(0x00123456), "$00123456");
    for (TColor c : {clBlack, clWhite, clRed, clBtnFace, TColor(0x00123456), TColor(0x00FEDCBA)})
        EXPECT_EQ(StringToColor(ColorToString(c)), c);
    EXPECT_EQ(StringToColor("clwhite"), clWhite);
    EXPECT_EQ(StringToColor("255"), clRed);
    EXPECT_THROW(StringToColor("not a colour"), EConvertError);
    EXPECT_EQ(ColorToPixel(RGB(1, 2, 3)), 0x010203u);
    EXPECT_EQ(ColorToPixel(clBtnFace) >> 24, 0u);
}

TEST(Bitmap, RowsAreZeroFilledAndKeepOverlapOnResize) {
    TBitmap b(3, 2);
    EXPECT_EQ(b.BytesPerLine(), 12);
    EXPECT_EQ(b.Row32(1)[2], 0u);
    b.Row32(1)[1] = 0x00ABCDEF;
    b.SetSize(5, 4);
    EXPECT_EQ(b.Row32(1)[1], 0x00ABCDEFu);
    EXPECT_EQ(b.Row32(3)[4], 0u);
    EXPECT_THROW(b.ScanLine(4), EInvalidGraphicOperation);
    TBitmap mono(9, 1, TPixelFormat::pf1bit);
    EXPECT_EQ(mono.BytesPerLine(), 4);
}

TEST(Bitmap, PixelBudgetRefusesHugeSizes) {
    TBitmap b;
    EXPECT_THROW(b.SetSize(1 << 20, 1 << 20), EOutOfMemory);
    EXPECT_FALSE(FitsPixelBudget(0, 10));
    EXPECT_FALSE(FitsPixelBudget(INT64_MAX, 2));
}

TEST(Bitmap, FormatConversionsToThirtyTwoBits) {
    TBitmap pal(2, 1, TPixelFormat::pf8bit);
    std::vector<TRGBQuad> p(256);
    p[7] = TRGBQuad{10, 20, 30, 0};
    pal.SetPalette(p);
    static_cast<uint8_t*>(pal.ScanLine(0))[1] = 7;
    pal.SetPixelFormat(TPixelFormat::pf32bit);
    EXPECT_EQ(pal.Row32(0)[1], 0x001E140Au);
    EXPECT_EQ(pal.Row32(0)[0], 0u);

    TBitmap rgb(1, 1, TPixelFormat::pf24bit);
    uint8_t* px = static_cast<uint8_t*>(rgb.ScanLine(0));
    px[0] = 1, px[1] = 2, px[2] = 3;
    rgb.SetPixelFormat(TPixelFormat::pf32bit);
    EXPECT_EQ(rgb.Row32(0)[0], 0x00030201u);

    TBitmap hi(1, 1, TPixelFormat::pf16bit);
    hi.SetPixelColor(0, 0, clWhite);
    EXPECT_EQ(hi.GetPixel(0, 0), clWhite);
}

TEST(Bitmap, BmpRoundTripAcrossFormats) {
    for (TPixelFormat f : {TPixelFormat::pf1bit, TPixelFormat::pf4bit, TPixelFormat::pf8bit, TPixelFormat::pf24bit,
                           TPixelFormat::pf32bit}) {
        TBitmap b(7, 3, f);
        if (BitsPerPixel(f) <= 8) {
            std::vector<TRGBQuad> pal(1u << BitsPerPixel(f));
            for (size_t i = 0; i < pal.size(); ++i) pal[i] = TRGBQuad{uint8_t(i * 3), uint8_t(i), uint8_t(255 - i), 0};
            b.SetPalette(pal);
        }
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x) b.SetPixelColor(x, y, b.Palette().empty() ? RGB(x * 30, y * 60, 9) : PixelToColor(0));
        if (!b.Palette().empty()) static_cast<uint8_t*>(b.ScanLine(1))[0] = 0x80;
        TMemoryStream s;
        b.SaveToStream(s);
        s.SetPosition(0);
        TBitmap r;
        r.LoadFromStream(s);
        ASSERT_EQ(r.Width(), 7);
        ASSERT_EQ(r.Height(), 3);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x) EXPECT_EQ(r.GetPixel(x, y), b.GetPixel(x, y)) << x << "," << y;
    }
}

TEST(Bitmap, DamagedBmpThrowsInvalidGraphic) {
    for (std::string bytes : {std::string("BM"), std::string("XX") + std::string(60, '\0'),
                              std::string("BM") + std::string(12, '\0') + std::string("\x28\0\0\0", 4) +
                                  std::string("\xff\xff\xff\x7f\xff\xff\xff\x7f\x01\0\x18\0", 12) + std::string(24, '\0')}) {
        TMemoryStream s(std::vector<uint8_t>(bytes.begin(), bytes.end()));
        TBitmap b;
        EXPECT_THROW(b.LoadFromStream(s), Exception);
    }
}

TEST(Canvas, FillCopyStretchAndClip) {
    TBitmap dst(4, 4), src(2, 2);
    src.Row32(0)[0] = 1, src.Row32(0)[1] = 2, src.Row32(1)[0] = 3, src.Row32(1)[1] = 4;
    dst.Canvas().Brush.Color = clRed;
    dst.Canvas().FillRect(Rect(-5, -5, 100, 100));
    EXPECT_EQ(dst.Row32(3)[3], 0x00FF0000u);
    dst.Canvas().CopyRect(Rect(0, 0, 4, 4), src.Canvas(), Rect(0, 0, 2, 2));
    EXPECT_EQ(dst.Row32(0)[1], 1u);
    EXPECT_EQ(dst.Row32(3)[3], 4u);
    dst.Canvas().CopyRect(Rect(3, 3, 5, 5), src.Canvas(), Rect(0, 0, 2, 2));
    EXPECT_EQ(dst.Row32(3)[3], 1u);
}

TEST(Canvas, JapaneseTextRendersAndKeepsByteThreeZero) {
    TBitmap b(200, 40);
    TCanvas& c = b.Canvas();
    c.Font.Name = "ＭＳ Ｐゴシック";
    c.Font.SetSize(12);
    c.Font.Color = clWhite;
    c.Brush.Style = TBrushStyle::bsClear;
    TPoint extent = c.TextExtent("画像が読めません");
    EXPECT_GT(extent.X, 50);
    EXPECT_GT(extent.Y, 8);
    c.TextOut(2, 2, "画像が読めません");
    int lit = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 200; ++x) {
            EXPECT_EQ(b.Row32(y)[x] >> 24, 0u);
            lit += b.Row32(y)[x] != 0;
        }
    EXPECT_GT(lit, 50);
}

TEST(Font, SizeAndHeightAreOneValue) {
    TFont f;
    f.SetSize(9);
    EXPECT_EQ(f.Height(), -12);
    f.SetHeight(-16);
    EXPECT_EQ(f.Size(), 12);
}

TEST(Registry, LatestRegistrationWinsCaseInsensitive) {
    struct A : TBitmap {};
    struct B : TBitmap {};
    RegisterFileFormat("zzq", "A", [] { return std::make_unique<A>(); });
    RegisterFileFormat("ZZQ", "B", [] { return std::make_unique<B>(); });
    auto g = FindGraphicClass(".Zzq")();
    EXPECT_NE(dynamic_cast<B*>(g.get()), nullptr);
    UnregisterFileFormat("zzq");
    EXPECT_FALSE(FindGraphicClass("zzq"));
    TPicture pic;
    EXPECT_THROW(pic.LoadFromFile("/nonexistent/file.unknownext"), EInvalidGraphic);
}

TEST(Jpeg, DecodesQtWrittenJpegAndRejectsGarbage) {
    QImage img(16, 8, QImage::Format_RGB32);
    img.fill(QColor(200, 40, 10));
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(img.save(&buf, "JPEG", 95));
    RegisterFrameworkFormats();
    RegisterJpegFormat();
    test::TempDir dir;
    std::string path = dir.WriteFile("a.JPG", bytes.toStdString());
    TPicture pic;
    pic.LoadFromFile(path);
    TBitmap b;
    b.Assign(pic.Graphic());
    ASSERT_EQ(b.Width(), 16);
    ASSERT_EQ(b.Height(), 8);
    uint32_t p = b.Row32(4)[8];
    EXPECT_EQ(p >> 24, 0u);
    EXPECT_NEAR(int((p >> 16) & 255), 200, 6);
    EXPECT_NEAR(int(p & 255), 10, 6);

    std::string text = dir.WriteFile("text.jpg", "this is not a picture");
    EXPECT_THROW(pic.LoadFromFile(text), EInvalidGraphic);
    QImage big(256, 256, QImage::Format_RGB32);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) big.setPixel(x, y, qRgb(x, y, (x * y) & 255));
    QByteArray bigBytes;
    QBuffer bigBuf(&bigBytes);
    bigBuf.open(QIODevice::WriteOnly);
    ASSERT_TRUE(big.save(&bigBuf, "JPEG", 90));
    std::string truncated = dir.WriteFile("cut.jpg", bigBytes.left(bigBytes.size() * 2 / 3).toStdString());
    TPicture cut;
    EXPECT_NO_THROW(cut.LoadFromFile(truncated)); // libjpeg fills a truncated scan with grey
    std::string empty = dir.WriteFile("empty.jpg", "");
    EXPECT_THROW(pic.LoadFromFile(empty), EInvalidGraphic);
    // A stream that fails part way is read as it goes: its failure reaches the caller, never a
    // picture made of the bytes before it.
    struct FailingStream : TMemoryStream {
        using TMemoryStream::TMemoryStream;
        int64_t Read(void* buffer, int64_t count) override {
            if (Position() >= 1024) throw EReadError("Stream read error");
            return TMemoryStream::Read(buffer, std::min<int64_t>(count, 1024));
        }
    };
    FailingStream failing(std::vector<uint8_t>(bigBytes.begin(), bigBytes.end()));
    TJPEGImage jpeg;
    EXPECT_THROW(jpeg.LoadFromStream(failing), EReadError);
}

TEST(Jpeg, PictureOverThePixelBudgetDecodesScaledDownLikeDjpeg) {
    QImage img(121, 83, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) img.setPixel(x, y, qRgb(x * 2, y * 3, (x * y) & 255));
    test::TempDir dir;
    const std::string path = dir.File("big.jpg");
    ASSERT_TRUE(img.save(QString::fromStdString(path), "JPEG", 90));
    const int64_t saved = PixelBudget();
    struct Restore {
        int64_t budget;
        ~Restore() { SetPixelBudget(budget); }
    } restore{saved};
    for (int denom : {1, 2, 4, 8}) {
        SCOPED_TRACE(denom);
        const int w = (121 + denom - 1) / denom, h = (83 + denom - 1) / denom;
        SetPixelBudget(static_cast<int64_t>(w) * h + denom / 2); // just enough for this scale only
        TJPEGImage jpeg;
        jpeg.LoadFromFile(path);
        ASSERT_EQ(jpeg.Width(), w);
        ASSERT_EQ(jpeg.Height(), h);
        const std::string ppm = dir.File("ref.ppm");
        ASSERT_EQ(std::system(("djpeg -scale 1/" + std::to_string(denom) + " -ppm -outfile " + ppm + " " + path).c_str()), 0);
        int rw = 0, rh = 0;
        std::vector<uint32_t> want = test::ReadPpm(test::ReadFile(ppm), rw, rh);
        ASSERT_EQ(rw, w);
        ASSERT_EQ(rh, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) ASSERT_EQ(jpeg.Bitmap().Row32(y)[x], want[static_cast<size_t>(y) * w + x]) << x << "," << y;
    }
    // Even an eighth too large: the picture cannot be shown.
    SetPixelBudget(16 * 11 - 1);
    TJPEGImage jpeg;
    EXPECT_THROW(jpeg.LoadFromFile(path), EInvalidGraphic);
}

TEST(Jpeg, ExifOrientationShowsAsImageMagickTurnsIt) {
    test::TempDir dir;
    // Odd sizes, so a turn that exchanged the wrong sides or lands one pixel off shows.
    const int w = 61, h = 37;
    for (bool big : {false, true})
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(std::string(big ? "MM" : "II") + " orientation " + std::to_string(orientation));
            const std::string path = dir.WriteFile("photo.jpg", test::OrientedJpeg(w, h, orientation, big));
            ASSERT_EQ(test::ImageMagickOrientation(path), test::OrientationName(orientation));
            std::unique_ptr<TBitmap> want = test::UprightByImageMagick(path);
            ASSERT_TRUE(want);
            TJPEGImage jpeg;
            jpeg.LoadFromFile(path);
            ASSERT_EQ(jpeg.Width(), want->Width());
            ASSERT_EQ(jpeg.Height(), want->Height());
            // Both decode with libjpeg; only the DCT's rounding may differ.
            EXPECT_LE(test::MaxChannelDifference(jpeg.Bitmap(), *want), 2);
        }
}

TEST(Jpeg, DamagedOrMissingExifLeavesThePictureAsStored) {
    const std::string exif("Exif\0\0", 6);
    auto orientation = [](uint32_t v) { return test::TExifEntry{0x0112, 3, 1, v}; };
    const test::TExifEntry width{0x0100, 4, 1, 61};
    const std::string good = test::ExifTiff(false, {width, orientation(6)});
    // The good block with another offset of IFD0 (four little-endian bytes).
    auto withIfdAt = [&](const std::string& offset) {
        return exif + good.substr(0, 4) + offset + good.substr(8);
    };
    struct Case {
        const char* what;
        std::string app1;
        int expected;
    } cases[] = {
        {"little-endian", exif + good, 6},
        {"big-endian", exif + test::ExifTiff(true, {orientation(8)}), 8},
        {"directory further on", exif + test::ExifTiff(true, {orientation(3)}, 40), 3},
        {"empty", "", 1},
        {"no EXIF header", "http://ns.adobe.com/xap/1.0/" + good, 1},
        {"header only", exif, 1},
        {"TIFF header cut", exif + good.substr(0, 6), 1},
        {"directory cut", exif + good.substr(0, good.size() - 10), 1},
        {"unknown byte order", exif + "XX" + good.substr(2), 1},
        {"not 42", exif + good.substr(0, 2) + "\x2B" + good.substr(3), 1},
        {"directory beyond the block", withIfdAt(std::string("\xFF\0\0\0", 4)), 1},
        {"directory offset near 4 GiB", withIfdAt("\xFE\xFF\xFF\xFF"), 1},
        {"directory inside the header", withIfdAt(std::string("\2\0\0\0", 4)), 1},
        {"more entries than the block holds", exif + good.substr(0, 8) + "\7" + good.substr(9), 1},
        {"orientation as LONG", exif + test::ExifTiff(false, {{0x0112, 4, 1, 6}}), 1},
        {"orientation of count 2", exif + test::ExifTiff(false, {{0x0112, 3, 2, 6}}), 1},
        {"orientation 0", exif + test::ExifTiff(false, {orientation(0)}), 1},
        {"orientation 9", exif + test::ExifTiff(false, {orientation(9)}), 1},
        // Only IFD0 is read: a next-directory offset looping back to it is never followed.
        {"next directory loops to itself", exif + test::ExifTiff(false, {width}, 8, 8), 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExifOrientation(reinterpret_cast<const uint8_t*>(c.app1.data()), c.app1.size()), c.expected)
            << c.what;

    // The picture with a damaged block decodes as the same picture without one.
    test::TempDir dir;
    const std::string plain = test::TestJpeg(61, 37);
    const std::string damaged =
        test::WithSegment(plain, test::ExifSegment(test::ExifTiff(false, {{0x0112, 3, 7, 6}}, 8, 8)));
    TJPEGImage a, b;
    a.LoadFromFile(dir.WriteFile("plain.jpg", plain));
    b.LoadFromFile(dir.WriteFile("damaged.jpg", damaged));
    ASSERT_EQ(b.Width(), 61);
    ASSERT_EQ(b.Height(), 37);
    EXPECT_EQ(test::MaxChannelDifference(a.Bitmap(), b.Bitmap()), 0);
}
