// The reading thread: decoding or the notice, the size modes against the limits and the preview
// scale, and the hand-over on the main thread.
#include <cstdlib>
#include <filesystem>
#include <type_traits>

#include <gtest/gtest.h>

#include "engine/saver/PictureReader.h"
#include "engine/saver/PictureFormats.h"
#include "framework/Checked.h"
#include "framework/JPEG.h"
#include "pictures/gif/GIFImage.h"
#include "pictures/formats/GraphicFormats.h"
#include "pictures/png/PngImage.h"
#include "pictures/common/PaletteRoutines.h"
#include "tests/support/CommandOutput.h"
#include "tests/support/JpegTestUtil.h"
#include "tests/support/Sanitizer.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

std::unique_ptr<TBitmap> Solid(int w, int h, uint32_t px = 0x00336699) {
    auto b = std::make_unique<TBitmap>(w, h);
    for (int y = 0; y < h; ++y) std::fill(b->Row32(y), b->Row32(y) + w, px);
    return b;
}

// A GIF file of a screen with a global map of black and white, then the blocks given.
std::string Gif(int width, int height, const std::string& blocks) {
    std::string f = "GIF89a";
    for (int v : {width, height}) f += {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    f += std::string("\x80\0\0\0\0\0\xFF\xFF\xFF", 9);
    return f + blocks;
}

std::string Descriptor(int width, int height) {
    std::string d(",\0\0\0\0", 5);
    for (int v : {width, height}) d += {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    return d + '\0';
}

// Data sub-blocks of 255 bytes and the zero-length one after them.
std::string Blocks(const std::string& data) {
    std::string out;
    for (size_t at = 0; at < data.size(); at += 255) {
        const std::string piece = data.substr(at, 255);
        out += static_cast<char>(piece.size());
        out += piece;
    }
    return out + '\0';
}

bool IsNotice(const TBitmap& b) {
    return b.Width() == 400 && b.Height() == 64 && b.Row32(0)[0] == ColorToPixel(clNavy);
}

TEST(ImgReadTest, NoticeIsNavyWithRedText) {
    auto n = MakeUnreadableNotice();
    ASSERT_TRUE(IsNotice(*n));
    int red = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 400; ++x) {
            uint32_t p = n->Row32(y)[x];
            EXPECT_EQ(p >> 24, 0u);
            if (((p >> 16) & 0xFF) > 0x80 && (p & 0xFF) < 0x60) ++red;
        }
    EXPECT_GT(red, 200); // the text is there
}

TEST(ImgReadTest, FilesThatCannotBeReadGiveTheNotice) {
    RegisterPictureFormats();
    test::TempDir dir;
    std::string files[] = {
        dir.WriteFile("text.jpg", "plain text saved as a picture"),
        dir.WriteFile("empty.bmp", ""),
        dir.WriteFile("cut.jpg", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10)),
        dir.WriteFile("unknown.xyz", "whatever"),
        // A Targa kind the loader does not read (type 32, compressed colour-mapped).
        dir.WriteFile("huffman.tga", std::string("\0\1\x20\0\0\2\0\x18\0\0\0\0\3\0\1\0\x08\x20", 18) +
                                         std::string(64, 'U')),
        dir.File("missing.jpg"),
        // GIFs: cut before their first image; a first image without data; an 8000 x 8000 image of
        // 2,000 bytes; a 65535 x 65535 screen, beyond the pixel budget, around one pixel.
        dir.WriteFile("no-image.gif", Gif(16, 12, "!\xF9\x04\x00\x0F\x00\x00\x00")),
        dir.WriteFile("no-data.gif", Gif(200, 150, Descriptor(200, 150) + std::string("\x02\x00;", 3))),
        dir.WriteFile("huge-frame.gif", Gif(8000, 8000, Descriptor(8000, 8000) + "\x02" + Blocks("\x04" + std::string(1999, '\0')) + ";")),
        dir.WriteFile("huge-screen.gif", Gif(65535, 65535, Descriptor(1, 1) + "\x02\x01\x4C" + std::string("\x00;", 2))),
    };
    for (const auto& f : files) EXPECT_TRUE(IsNotice(*LoadPictureOrNotice(f))) << f;
    TBitmap good(7, 5);
    good.SaveToFile(dir.File("good.bmp"));
    auto b = LoadPictureOrNotice(dir.File("good.bmp"));
    EXPECT_EQ(b->Width(), 7);
    EXPECT_EQ(b->PixelFormat(), TPixelFormat::pf32bit);
}

TEST(ImgReadTest, ProgramRegistrationSendsEachExtensionToItsPictureClass) {
    RegisterPictureFormats();
    // ".gif" is registered twice; the GIF image class comes later and wins over the simple loader.
    auto is = [](const char* extension, auto* kind) {
        using Kind = std::remove_pointer_t<decltype(kind)>;
        TGraphicFactory factory = FindGraphicClass(extension);
        return factory && dynamic_cast<Kind*>(factory().get()) != nullptr;
    };
    EXPECT_TRUE(is("gif", static_cast<TGIFImage*>(nullptr)));
    EXPECT_TRUE(is("GIF", static_cast<TGIFImage*>(nullptr)));
    EXPECT_FALSE(is("gif", static_cast<TGIFGraphic*>(nullptr)));
    EXPECT_TRUE(is("tif", static_cast<TTIFFGraphic*>(nullptr)));
    EXPECT_TRUE(is("tga", static_cast<TTargaGraphic*>(nullptr)));
    EXPECT_TRUE(is("pcx", static_cast<TPCXGraphic*>(nullptr)));
    EXPECT_TRUE(is("png", static_cast<TPngImage*>(nullptr)));
    EXPECT_TRUE(is("jpg", static_cast<TJPEGImage*>(nullptr)));
    EXPECT_TRUE(is("bmp", static_cast<TBitmap*>(nullptr)));
}

TEST(ImgReadTest, StartingThePictureFormatsCreatesTheSystemInformation) {
    RegisterPictureFormats();
    EXPECT_NE(SystemInfo(), nullptr);
}

TEST(ImgReadTest, JpegOverThePixelBudgetShowsScaledDownAndOtherFormatsGiveTheNotice) {
    RegisterPictureFormats();
    test::TempDir dir;
    TBitmap picture(400, 300);
    for (int y = 0; y < 300; ++y) std::fill(picture.Row32(y), picture.Row32(y) + 400, 0x00336699u);
    picture.SaveToFile(dir.File("big.bmp"));
    ASSERT_EQ(std::system(("cjpeg -outfile " + dir.File("big.jpg") + " " + dir.File("big.bmp")).c_str()), 0);
    const int64_t saved = PixelBudget();
    SetPixelBudget(400 * 300 / 3); // half the width and height fit (and the notice), the whole does not
    auto jpeg = LoadPictureOrNotice(dir.File("big.jpg"));
    auto bmp = LoadPictureOrNotice(dir.File("big.bmp"));
    SetPixelBudget(saved);
    ASSERT_FALSE(IsNotice(*jpeg));
    EXPECT_EQ(jpeg->Width(), 200);
    EXPECT_EQ(jpeg->Height(), 150);
    EXPECT_NEAR(static_cast<int>(jpeg->Row32(70)[100] & 0xFF), 0x99, 4);
    EXPECT_TRUE(IsNotice(*bmp));
}

TEST(ImgReadTest, SizeModesAgainstMonitorAndLimits) {
    struct Case {
        int mode, w, h, limitX, limitY, scale, ew, eh;
    } cases[] = {
        // mode 0 keeps the size and cuts at the monitor's right and bottom
        {0, 1000, 500, 0, 0, 1000, 800, 500},
        {0, 300, 200, 0, 0, 1000, 300, 200},
        // mode 1 shrinks into min(monitor, limit) only when too large
        {1, 1000, 500, 560, 420, 1000, 560, 280},
        {1, 300, 200, 560, 420, 1000, 300, 200},
        // mode 2 always fits, enlarging small pictures
        {2, 300, 200, 560, 420, 1000, 560, 373},
        {2, 1000, 500, 2000, 2000, 1000, 800, 400},
        // the preview scales the limits (and in mode 0 the picture itself)
        {1, 1000, 500, 560, 420, 250, 140, 70},
        {0, 1000, 500, 0, 0, 250, 250, 125},
        // any other mode leaves the picture alone; negative limits never enlarge or crash
        {7, 1000, 500, 1, 1, 1000, 1000, 500},
        {1, 1000, 500, -5, -5, 1000, 1000, 500},
    };
    for (const auto& c : cases) {
        auto b = Solid(c.w, c.h);
        TImgReadSize s;
        s.TargetWidth = 800;
        s.TargetHeight = 600;
        s.SizeMode = c.mode;
        s.SizeLimitX = c.limitX;
        s.SizeLimitY = c.limitY;
        s.PreviewScale = c.scale;
        s.Smooth = true;
        ScaleForMonitor(b, s);
        EXPECT_EQ(b->Width(), c.ew) << "mode " << c.mode << " " << c.w << "x" << c.h << " scale " << c.scale;
        EXPECT_EQ(b->Height(), c.eh) << "mode " << c.mode << " " << c.w << "x" << c.h << " scale " << c.scale;
    }
}

TEST(ImgReadTest, PhotosStandUprightInTheShowAndThePictureToolAsImageMagickTurnsThem) {
    RegisterPictureFormats();
    test::TempDir dir;
    const std::string tool = std::string(LUMORA_BINARY_DIR) + "/bin/lumora-pictool";
    TImgReadSize small;
    small.TargetWidth = small.SizeLimitX = 160;
    small.TargetHeight = small.SizeLimitY = 120;
    // 301 x 203 fits this monitor as stored but not when it stands as a portrait.
    TImgReadSize portrait = small;
    portrait.TargetWidth = portrait.SizeLimitX = 310;
    portrait.TargetHeight = portrait.SizeLimitY = 250;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        const std::string path = dir.WriteFile("photo.jpg", test::OrientedJpeg(301, 203, orientation));
        std::unique_ptr<TBitmap> upright = test::UprightByImageMagick(path);
        ASSERT_TRUE(upright);
        // The show: a picture shrunk smoothly is fitted while it decodes.
        for (const TImgReadSize& size : {small, portrait}) {
            auto want = std::make_unique<TBitmap>();
            want->Assign(*upright);
            ScaleForMonitor(want, size);
            std::unique_ptr<TBitmap> read = ReadPictureForMonitor(path, size);
            ASSERT_EQ(read->Width(), want->Width()) << "monitor " << size.TargetWidth;
            ASSERT_EQ(read->Height(), want->Height()) << "monitor " << size.TargetWidth;
            EXPECT_LE(test::MaxChannelDifference(*read, *want), 2) << "monitor " << size.TargetWidth;
        }
        // The picture tool writes what the show reads.
        const std::string pam = dir.File("photo.pam");
        ASSERT_EQ(std::system(("'" + tool + "' " + path + " " + pam).c_str()), 0);
        std::unique_ptr<TBitmap> written = test::PpmBitmap(test::ReadFile(pam));
        ASSERT_TRUE(written);
        EXPECT_EQ(test::MaxChannelDifference(*written, *upright), 0);
    }
}

// A 4000 x 3000 picture with an opacity, as a PAM file: a pattern of every colour, or one colour.
std::string PamWithAlpha(bool flat) {
    const int w = 4000, h = 3000;
    std::string f = "P7\nWIDTH 4000\nHEIGHT 3000\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    f.reserve(f.size() + size_t(4) * w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (flat) f += {char(40), char(120), char(200), char(255)};
            else f += {char(x * 3 + y), char(x ^ y), char(y * 5 - x), char(x * 255 / w)};
        }
    return f;
}

TEST(ImgReadTest, PictureToolHoldsAtMostTwiceWhatItShowsAndNothingOfWhatTheBytesCannotFill) {
    // The picture tool's peak memory, as the kernel counts it, over that of a tiny picture: a picture
    // costs at most twice its shown 32-bit size (and 2 MiB), and a header declaring a vast picture over
    // a few bytes is refused before its memory is taken. Highly compressible pictures are read whole.
    if (test::BuiltWithAddressSanitizer()) GTEST_SKIP() << "built with AddressSanitizer, whose memory hides the program's";
    test::TempDir dir;
    const std::string tool = std::string(LUMORA_BINARY_DIR) + "/bin/lumora-pictool";
    TBitmap(16, 16).SaveToFile(dir.File("tiny.bmp"));
    // 10000 x 10000 RGBA declared in a 59-byte PNG, and in a JPEG whose frame header was made so.
    static const char kPngBomb[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x27\x10\0\0\x27\x10\x08\x06\0\0\0\xba\x4e\x62\x27"
                                "\0\0\0\x02IDAT\x78\x9c\x62\xa4\x91\x2b\0\0\0\0IEND\xae\x42\x60\x82";
    const std::string pngBomb(kPngBomb, sizeof kPngBomb - 1);
    ASSERT_EQ(pngBomb.size(), 59u);
    dir.WriteFile("bomb.png", pngBomb);
    std::string jpeg = test::OrientedJpeg(64, 64, 1);
    const size_t sof = jpeg.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    jpeg.replace(sof + 5, 4, "\x27\x10\x27\x10");
    dir.WriteFile("bomb.jpg", jpeg);
    dir.WriteFile("real.pam", PamWithAlpha(false));
    dir.WriteFile("flat.pam", PamWithAlpha(true));
    const std::string in = "cd " + dir.Path() + " && ";
    ASSERT_EQ(std::system((in + "convert real.pam PNG32:real.png && convert flat.pam PNG32:flat.png && "
                                "convert flat.pam -alpha off ppm:flat.ppm && cjpeg flat.ppm > flat.jpg && "
                                "convert real.pam -compress none real.tif && convert real.pam real.tga && "
                                "convert -size 1000x1000 gradient:red-blue -colors 16 -duplicate 39 anim.gif && "
                                "convert real.pam -alpha off ppm:- | ppmtopcx -24bit > real.pcx 2>/dev/null")
                               .c_str()),
              0);
    struct Case {
        const char* file;
        int64_t shownPixels; // 0: refused
    };
    const Case cases[] = {
        {"bomb.png", 0}, {"bomb.jpg", 0}, {"real.png", 4000 * 3000}, {"flat.png", 4000 * 3000},
        {"flat.jpg", 4000 * 3000}, {"real.pcx", 4000 * 3000}, {"real.tif", 4000 * 3000}, {"real.tga", 4000 * 3000},
        {"anim.gif", 1000 * 1000}, // forty frames: the show takes the first
    };
    const test::MeasuredRun base = test::RunMeasured({tool, dir.File("tiny.bmp"), dir.File("out.pam")});
    ASSERT_EQ(base.exitStatus, 0);
    for (const Case& c : cases) {
        const test::MeasuredRun run = test::RunMeasured({tool, dir.File(c.file), dir.File("out.pam")});
        EXPECT_EQ(run.exitStatus, c.shownPixels ? 0 : 1) << c.file;
        const long allowedKiB = static_cast<long>(2 * c.shownPixels * 4 / 1024) + 2 * 1024;
        EXPECT_LE(run.peakKiB - base.peakKiB, allowedKiB) << c.file;
    }
}

// Runs a reading thread to its end, pumping the main thread's synchronised calls.
void RunToEnd(TImgRead& r) {
    r.Start();
    r.WaitFor();
    for (int i = 0; i < 5; ++i) CheckSynchronize(1);
}

TEST(ImgReadTest, ThreadHandsTheScaledPictureOverOnTheMainThread) {
    RegisterPictureFormats();
    test::TempDir dir;
    TBitmap src(1000, 500);
    src.SaveToFile(dir.File("a.bmp"));
    TImgRead r;
    r.FileName = dir.File("a.bmp");
    r.Size.TargetWidth = 400;
    r.Size.TargetHeight = 300;
    r.Size.SizeMode = 1;
    r.Size.SizeLimitX = 1000;
    r.Size.SizeLimitY = 1000;
    std::unique_ptr<TBitmap> got;
    bool onMain = false, terminated = false;
    r.OnHandOver = [&](std::unique_ptr<TBitmap> b) {
        onMain = IsMainThread();
        got = std::move(b);
    };
    r.OnTerminate = [&] { terminated = true; };
    RunToEnd(r);
    ASSERT_TRUE(got);
    EXPECT_TRUE(onMain);
    EXPECT_TRUE(terminated);
    EXPECT_EQ(got->Width(), 400);
    EXPECT_EQ(got->Height(), 200);
}

TEST(ImgReadTest, EmptyNameOrCancelledOwnerGetsNothing) {
    TImgRead empty;
    bool handed = false, terminated = false;
    empty.OnHandOver = [&](std::unique_ptr<TBitmap>) { handed = true; };
    empty.OnTerminate = [&] { terminated = true; };
    RunToEnd(empty);
    EXPECT_FALSE(handed);
    EXPECT_TRUE(terminated); // the owner still learns that the thread ended

    RegisterPictureFormats();
    test::TempDir dir;
    TBitmap(20, 10).SaveToFile(dir.File("b.bmp"));
    TImgRead cancelled;
    cancelled.FileName = dir.File("b.bmp");
    cancelled.OnHandOver = [&](std::unique_ptr<TBitmap>) { handed = true; };
    cancelled.CancelHandOver();
    RunToEnd(cancelled);
    EXPECT_FALSE(handed);
    EXPECT_FALSE(cancelled.HandedOver());
}

} // namespace
} // namespace lumora
