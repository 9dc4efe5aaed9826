// The GIF picture class as the program uses it: files ImageMagick makes, the still bitmap the show
// gets, frames drawn and converted, colour reduction, the writer's choices, the clipboard, the
// animation painter's timing, and the kept bad files.

#include <gif_lib.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "framework/Checked.h"
#include "framework/Clipboard.h"
#include "framework/Forms.h"
#include "pictures/formats/GraphicFormats.h"
#include "pictures/gif/GIFImage.h"
#include "pictures/gif/GIFQuantize.h"
#include "platform/system/Clock.h"
#include "tests/support/TempDir.h"

using namespace lumora;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FileBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

std::unique_ptr<TGIFImage> Load(const Bytes& file) {
    auto image = std::make_unique<TGIFImage>();
    TBytesStream stream(file.data(), static_cast<int64_t>(file.size()));
    image->LoadFromStream(stream);
    return image;
}

Bytes Save(TGIFImage& image) {
    TMemoryStream out;
    image.SaveToStream(out);
    return out.Bytes();
}

template <class F>
std::string ErrorOf(F&& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.Message();
    }
    return {};
}

// A frame of the given size and pixels with its own colour map of `colors` entries (grey i x 10).
TGIFSubImage* AddFrame(TGIFImage& image, int left, int top, int width, int height, const Bytes& pixels, int colors) {
    auto frame = std::make_unique<TGIFSubImage>(&image);
    frame->SetBounds(left, top, width, height);
    for (int i = 0; i < colors; ++i) frame->ColorMap().Add(RGB(uint8_t(i * 10), uint8_t(i * 10), uint8_t(i * 10)));
    std::memcpy(frame->Data(), pixels.data(), pixels.size());
    TGIFSubImage* raw = frame.get();
    image.Add(std::move(frame));
    return raw;
}

TGIFGraphicControlExtension* AddControl(TGIFSubImage& frame, int delay, int disposal = 0, int transparent = -1) {
    auto gce = std::make_unique<TGIFGraphicControlExtension>(&frame);
    gce->SetDelay(delay);
    gce->SetDisposal(static_cast<uint8_t>(disposal));
    TGIFGraphicControlExtension* raw = gce.get();
    frame.Extensions().Add(std::move(gce));
    if (transparent >= 0) {
        raw->SetTransparentColorIndex(static_cast<uint8_t>(transparent));
        raw->SetTransparent(true);
    }
    return raw;
}

void AddLoop(TGIFSubImage& frame, int loops) {
    auto loop = std::make_unique<TGIFAppExtNSLoop>(&frame);
    loop->Loops = loops;
    frame.Extensions().Add(std::move(loop));
}

int GiflibRead(GifFileType* gif, GifByteType* out, int size) {
    auto* s = static_cast<std::pair<const Bytes*, size_t>*>(gif->UserData);
    const size_t n = std::min<size_t>(static_cast<size_t>(size), s->first->size() - s->second);
    std::memcpy(out, s->first->data() + s->second, n);
    s->second += n;
    return static_cast<int>(n);
}

// Hands giflib's reading of a whole file (DGifSlurp) to check.
template <class F> void WithGiflib(const Bytes& file, F check) {
    std::pair<const Bytes*, size_t> src{&file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&src, GiflibRead, &error);
    ASSERT_NE(gif, nullptr);
    if (DGifSlurp(gif) == GIF_OK)
        check(*gif);
    else
        ADD_FAILURE() << "giflib cannot read the file: " << gif->Error;
    DGifCloseFile(gif, &error);
}

} // namespace

TEST(GIFImage, ImageMagickAnimationReadsLikeGiflib) {
    test::TempDir dir;
    const std::string file = dir.File("anim.gif");
    const std::string command = "convert -dispose Background -delay 20 -loop 3 -size 40x30 xc:white "
                                "\\( -size 10x10 xc:green -repage +5+7 \\) "
                                "\\( -size 12x8 xc:none -fill red -draw 'circle 6,4 6,1' -repage +20+10 \\) "
                                "-interlace GIF " + file;
    ASSERT_EQ(std::system(command.c_str()), 0);
    const Bytes bytes = FileBytes(file);
    auto image = Load(bytes);
    ASSERT_EQ(image->Images().Count(), 3);
    EXPECT_EQ(image->Width(), 40);
    EXPECT_EQ(image->Height(), 30);
    TGIFSubImage& second = *image->Images()[1];
    EXPECT_EQ(second.BoundsRect(), (TRect{5, 7, 15, 17}));
    EXPECT_TRUE(second.Interlaced());
    ASSERT_NE(second.GraphicControlExtension(), nullptr);
    EXPECT_EQ(second.GraphicControlExtension()->Disposal(), 2);
    EXPECT_EQ(second.Delay(), 20);
    EXPECT_TRUE(image->Images()[2]->Transparent());
    // The loop count as the file holds it (ImageMagick stores one less than it was given).
    const std::string id = "NETSCAPE2.0";
    auto at = std::search(bytes.begin(), bytes.end(), id.begin(), id.end());
    ASSERT_NE(at, bytes.end());
    const int stored = at[13] | (at[14] << 8);
    bool loopFound = false;
    for (int i = 0; i < image->Images()[0]->Extensions().Count(); ++i)
        if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(image->Images()[0]->Extensions()[i])) {
            EXPECT_EQ(loop->Loops, stored);
            loopFound = true;
        }
    EXPECT_TRUE(loopFound);

    std::pair<const Bytes*, size_t> src{&bytes, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&src, GiflibRead, &error);
    ASSERT_NE(gif, nullptr);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    ASSERT_EQ(gif->ImageCount, 3);
    for (int i = 0; i < 3; ++i) {
        const SavedImage& s = gif->SavedImages[i];
        TGIFSubImage& f = *image->Images()[i];
        EXPECT_EQ(Bytes(f.Data(), f.Data() + f.DataSize()),
                  Bytes(s.RasterBits, s.RasterBits + static_cast<size_t>(s.ImageDesc.Width) * s.ImageDesc.Height));
    }
    DGifCloseFile(gif, &error);

    // The show gets the first frame alone, on the logical screen.
    TBitmap shown;
    shown.Assign(image.get());
    shown.SetPixelFormat(TPixelFormat::pf32bit);
    EXPECT_EQ(shown.Width(), 40);
    EXPECT_EQ(shown.GetPixel(7, 9), clWhite) << "the second frame never reaches the still bitmap";
}

namespace {

// Every image of a GIF file as giftopnm shows it (each at its own size, rows top down). At junk after
// the images giftopnm ends with an error, having written the images before it.
std::vector<std::vector<TColor>> GiftopnmImages(const std::string& file) {
    test::TempDir dir;
    const std::string out = dir.File("all.ppm");
    std::vector<std::vector<TColor>> images;
    if (std::system(("giftopnm -image=all " + file + " > " + out + " 2>/dev/null; true").c_str()) != 0)
        return images;
    std::ifstream s(out, std::ios::binary);
    std::string magic;
    int width = 0, height = 0, maxval = 0;
    while (s >> magic >> width >> height >> maxval && magic == "P6") {
        s.get();
        std::vector<TColor> pixels;
        for (int i = 0; i < width * height; ++i) {
            uint8_t v[3];
            s.read(reinterpret_cast<char*>(v), 3);
            pixels.push_back(RGB(v[0], v[1], v[2]));
        }
        images.push_back(std::move(pixels));
    }
    return images;
}

} // namespace

TEST(GIFImage, StrayBytesBetweenBlocksAreSkipped) {
    // An ImageMagick animation of three frames with a stray byte put after each graphic control block
    // (before the loop block of the first frame, before the images of the others), or between the
    // frames. ImageMagick and giftopnm still show every frame as it was.
    test::TempDir dir;
    const std::string good = dir.File("good.gif"), bad = dir.File("bad.gif"), out = dir.File("out.rgba");
    const std::string frames =
        "-delay 15 -size 16x12 gradient:red-blue xc:green gradient:yellow-black -colors 32 ";
    ASSERT_EQ(std::system(("convert " + frames + good).c_str()), 0);
    const Bytes original = FileBytes(good);
    std::vector<long> controls;
    const Bytes control{'!', 0xF9, 4};
    for (auto at = original.begin();
         (at = std::search(at, original.end(), control.begin(), control.end())) != original.end(); ++at)
        controls.push_back(at - original.begin());
    ASSERT_EQ(controls.size(), 3u);
    auto expected = Load(original);
    ASSERT_EQ(expected->Images().Count(), 3);

    for (uint8_t stray : {0x00, 0x01, 0x80, 0xFF})
        for (bool betweenFrames : {false, true}) {
            const std::string what = "stray " + std::to_string(stray) +
                                     (betweenFrames ? " between frames" : " after control blocks");
            SCOPED_TRACE(what);
            Bytes bytes = original;
            for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
                if (betweenFrames && *it == controls[0]) continue;
                const long at = betweenFrames ? *it : *it + 8;
                ASSERT_TRUE(betweenFrames || bytes[at] == ',' || bytes[at] == '!');
                bytes.insert(bytes.begin() + at, stray);
            }
            std::ofstream(bad, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            ASSERT_EQ(std::system(("convert " + bad + " -coalesce -depth 8 rgba:" + out).c_str()), 0);
            const Bytes coalesced = FileBytes(out);
            ASSERT_EQ(coalesced.size(), 3u * 16 * 12 * 4);
            const auto netpbm = GiftopnmImages(bad);
            ASSERT_EQ(netpbm.size(), 3u);

            std::unique_ptr<TGIFImage> image;
            EXPECT_EQ(ErrorOf([&] { image = Load(bytes); }), "");
            if (!image || image->Images().Count() != 3) {
                ADD_FAILURE() << (image ? image->Images().Count() : 0) << " frames";
                continue;
            }
            for (int i = 0; i < 3; ++i) {
                TGIFSubImage& f = *image->Images()[i];
                const TGIFSubImage& e = *expected->Images()[i];
                EXPECT_EQ(Bytes(f.Data(), f.Data() + f.DataSize()), Bytes(e.Data(), e.Data() + e.DataSize()))
                    << i;
                EXPECT_EQ(f.Delay(), 15) << i;
                ASSERT_EQ(static_cast<size_t>(f.DataSize()), netpbm[i].size()) << i;
                for (int64_t p = 0; p < f.DataSize(); ++p)
                    ASSERT_EQ(f.ActiveColorMap().Colors(f.Data()[p]), netpbm[i][p])
                        << "frame " << i << " pixel " << p;
            }
            // The show's still bitmap is ImageMagick's first frame, from both loaders.
            TBitmap shown;
            shown.Assign(image.get());
            shown.SetPixelFormat(TPixelFormat::pf32bit);
            TGIFGraphic simple;
            TBytesStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
            simple.LoadFromStream(stream);
            ASSERT_EQ(simple.Width(), 16);
            for (int y = 0; y < 12; ++y)
                for (int x = 0; x < 16; ++x) {
                    const uint8_t* p = coalesced.data() + (y * 16 + x) * 4;
                    ASSERT_EQ(shown.GetPixel(x, y), RGB(p[0], p[1], p[2])) << x << "," << y;
                    ASSERT_EQ(simple.GetPixel(x, y), RGB(p[0], p[1], p[2])) << x << "," << y;
                }
        }
}

TEST(GIFImage, JunkAtTheEndKeepsTheFramesRead) {
    // An ImageMagick animation of three frames whose trailer gives way to junk of every kind, with and
    // without stray bytes between the frames: giftopnm shows the three frames each time, and the
    // reader must read them, not refuse the file.
    test::TempDir dir;
    const std::string good = dir.File("good.gif"), bad = dir.File("bad.gif");
    ASSERT_EQ(std::system(("convert -delay 15 -loop 0 -size 16x12 gradient:red-blue xc:green "
                           "gradient:yellow-black -colors 32 " + good).c_str()),
              0);
    Bytes original = FileBytes(good);
    ASSERT_EQ(original.back(), ';');
    original.pop_back();
    std::vector<long> controls;
    const Bytes control{'!', 0xF9, 4};
    for (auto at = original.begin();
         (at = std::search(at, original.end(), control.begin(), control.end())) != original.end(); ++at)
        controls.push_back(at - original.begin());
    ASSERT_EQ(controls.size(), 3u);

    using namespace std::string_view_literals;
    std::vector<std::pair<std::string, std::string_view>> tails = {
        {"zeros", "\0\0\0\0"sv},
        {"text", "JUNK"sv},
        {"zeros, text and an unknown extension", "\0\0JUNK!x"sv},
        {"a bare extension introducer", "!"sv},
        {"zeros and a bare extension introducer", "\0\0!"sv},
        {"an unknown extension label and junk", "!xyz"sv},
        {"a graphic control block cut short", "!\xF9\x04"sv},
        {"a comment cut short", "!\xFE\x05" "ab"sv},
        {"an application block cut short", "!\xFF\x0BNETS"sv},
        {"an image separator cut short", ",\x01\x02"sv},
        {"text and an image separator cut short", "JUNK,\x01"sv},
        {"an image descriptor of junk", ",JUNKJUNK\0\x08\x02\x44\x01\0"sv},
        {"an image descriptor with no data", ",\0\0\0\0\x10\0\x0C\0\0"sv},
        {"text, then the trailer", "JUNK;"sv},
    };
    std::vector<std::string> random(100);
    std::mt19937 gen(20261207);
    for (std::string& tail : random) {
        tail.resize(1 + gen() % 64);
        for (char& c : tail) c = static_cast<char>(gen());
    }
    for (size_t i = 0; i < random.size(); ++i) tails.emplace_back("random tail " + std::to_string(i), random[i]);

    for (bool strays : {false, true})
        for (const auto& [what, tail] : tails) {
            SCOPED_TRACE(what + (strays ? ", a stray byte between frames" : ""));
            Bytes bytes = original;
            if (strays)
                for (size_t i = controls.size() - 1; i > 0; --i) bytes.insert(bytes.begin() + controls[i], 0x80);
            bytes.insert(bytes.end(), tail.begin(), tail.end());
            std::ofstream(bad, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            const auto netpbm = GiftopnmImages(bad);
            ASSERT_GE(netpbm.size(), 3u);

            std::unique_ptr<TGIFImage> image;
            EXPECT_EQ(ErrorOf([&] { image = Load(bytes); }), "");
            if (!image) continue;
            std::vector<TGIFSubImage*> frames;
            for (int i = 0; i < image->Images().Count(); ++i)
                if (!image->Images()[i]->Empty()) frames.push_back(image->Images()[i]);
            ASSERT_GE(frames.size(), 3u);
            for (size_t i = 0; i < 3; ++i) {
                TGIFSubImage& f = *frames[i];
                ASSERT_EQ(static_cast<size_t>(f.DataSize()), netpbm[i].size()) << i;
                for (int64_t p = 0; p < f.DataSize(); ++p)
                    ASSERT_EQ(f.ActiveColorMap().Colors(f.Data()[p]), netpbm[i][p]) << "frame " << i << " pixel " << p;
            }
            TBitmap shown;
            shown.Assign(image.get());
            shown.SetPixelFormat(TPixelFormat::pf32bit);
            ASSERT_EQ(shown.Width() * shown.Height(), static_cast<int>(netpbm[0].size()));
            for (int y = 0; y < shown.Height(); ++y)
                for (int x = 0; x < shown.Width(); ++x)
                    ASSERT_EQ(shown.GetPixel(x, y), netpbm[0][y * shown.Width() + x]) << x << "," << y;
        }
}

TEST(GIFImage, RegisteredClassWinsTheExtension) {
    test::TempDir dir;
    const std::string file = dir.File("two.gif");
    ASSERT_EQ(std::system(("convert -size 8x6 xc:red xc:blue " + file).c_str()), 0);
    const TGraphicFactory previous = FindGraphicClass("gif");
    RegisterGifImageFormat();
    TPicture picture;
    picture.LoadFromFile(file);
    // Leave the registry as the other tests of this program expect it.
    UnregisterFileFormat("gif");
    if (previous) RegisterFileFormat("gif", "GIF", previous);
    auto* gif = dynamic_cast<TGIFImage*>(picture.Graphic());
    ASSERT_NE(gif, nullptr);
    EXPECT_EQ(gif->Images().Count(), 2);
    TBitmap shown;
    shown.Assign(picture.Graphic());
    shown.SetPixelFormat(TPixelFormat::pf32bit);
    EXPECT_EQ(shown.GetPixel(3, 3), clRed);
}

TEST(GIFImage, StillBitmapPlacesTheFirstFrame) {
    TGIFImage image;
    image.Header().SetWidth(20);
    image.Header().SetHeight(10);
    for (int i = 0; i < 4; ++i) image.Header().ColorMap().Add(RGB(uint8_t(i * 60), 0, 0));
    auto frame = std::make_unique<TGIFSubImage>(&image);
    frame->SetBounds(5, 2, 3, 2);
    std::memset(frame->Data(), 3, 6);
    image.Add(std::move(frame));
    TBitmap* still = image.Bitmap();
    ASSERT_NE(still, nullptr);
    EXPECT_EQ(still->Width(), 20);
    EXPECT_EQ(still->PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(still->GetPixel(5, 2), RGB(180, 0, 0));
    EXPECT_EQ(still->GetPixel(7, 3), RGB(180, 0, 0));
    EXPECT_EQ(still->GetPixel(8, 3), RGB(0, 0, 0));

    // A first frame with colours of its own keeps them exactly, not the nearest global ones.
    TGIFImage local;
    local.Header().SetWidth(4);
    local.Header().SetHeight(4);
    local.Header().ColorMap().Add(clBlack);
    local.Header().ColorMap().Add(clWhite);
    TGIFSubImage* f = AddFrame(local, 1, 1, 2, 2, Bytes{5, 5, 5, 5}, 8);
    f->ColorMap().Entry(5) = TGIFColor{10, 200, 30};
    TBitmap shown;
    shown.Assign(&local);
    EXPECT_EQ(shown.GetPixel(1, 1), RGB(10, 200, 30));
    EXPECT_EQ(shown.GetPixel(0, 0), clBlack);
}

TEST(GIFImage, SizePaletteAndSpeedRules) {
    TGIFImage image;
    AddFrame(image, 10, 0, 5, 5, Bytes(25, 0), 2);
    EXPECT_EQ(image.Width(), 15);
    EXPECT_EQ(ErrorOf([&] { image.SetWidth(14); }), "Image width too small for contained frames");
    EXPECT_EQ(image.Width(), 15);
    EXPECT_EQ(ErrorOf([&] { image.SetHeight(4); }), "Image height too small for contained frames");
    image.SetWidth(30);
    EXPECT_EQ(image.Width(), 30);

    image.SetAnimationSpeed(-5);
    EXPECT_EQ(image.AnimationSpeed(), 0);
    image.SetAnimationSpeed(5000);
    EXPECT_EQ(image.AnimationSpeed(), 1000);

    const Bytes bytes = Save(image);
    auto a = Load(bytes), b = Load(bytes);
    EXPECT_FALSE(a->Equals(b.get()));
    EXPECT_TRUE(a->Equals(a.get()));

    // No colour map anywhere.
    TGIFImage bare;
    auto frame = std::make_unique<TGIFSubImage>(&bare);
    frame->SetBounds(0, 0, 2, 2);
    bare.Add(std::move(frame));
    EXPECT_EQ(ErrorOf([&] { bare.GetPalette(); }), "No global or local color table defined");

    // On a palette display the default options make the web palette the image's palette.
    SetGIFPaletteDisplay(true);
    TGIFImage web;
    AddFrame(web, 0, 0, 2, 2, Bytes{0, 1, 2, 3}, 4);
    HPALETTE palette = web.GetPalette();
    SetGIFPaletteDisplay(false);
    ASSERT_NE(palette, nullptr);
    ASSERT_EQ(palette->Entries.size(), 216u);
    EXPECT_EQ(palette->Entries[180].peRed, 255);
    EXPECT_EQ(palette->Entries[180].peGreen, 0);
    EXPECT_EQ(ErrorOf([&] { web.Add(static_cast<TGraphic*>(nullptr)); }), "Object type not supported for operation");
}

TEST(GIFImage, TooManyLargeFramesExceedThePixelBudget) {
    TGIFImage source;
    for (int i = 0; i < 5; ++i) AddFrame(source, 0, 0, 80, 70, Bytes(5600, 1), 2);
    const Bytes bytes = Save(source);
    const int64_t saved = PixelBudget();
    SetPixelBudget(6000); // each frame fits, but 24,000 frame bytes hold four of them, not five
    const std::string error = ErrorOf([&] { Load(bytes); });
    SetPixelBudget(saved);
    EXPECT_EQ(error, "Out of memory: GIF frames exceed the pixel budget");
}

TEST(GIFFrame, DrawingScalesTilesAndMasks) {
    TGIFImage image;
    image.Header().SetWidth(100);
    image.Header().SetHeight(10);
    TGIFSubImage* frame = AddFrame(image, 10, 0, 10, 10, Bytes(100, 1), 3);
    image.Header().SetWidth(100);
    TBitmap target(200, 20);
    target.Canvas().Brush.Color = clBlue;
    target.Canvas().FillRect(TRect{0, 0, 200, 20});
    frame->Draw(target.Canvas(), TRect{0, 0, 200, 20}, false, false);
    EXPECT_EQ(target.GetPixel(19, 5), clBlue);
    EXPECT_EQ(target.GetPixel(20, 5), RGB(10, 10, 10));
    EXPECT_EQ(target.GetPixel(39, 5), RGB(10, 10, 10));
    EXPECT_EQ(target.GetPixel(40, 5), clBlue);

    // A transparent index that no pixel uses: no mask, drawn opaque.
    AddControl(*frame, 0, 0, 2);
    EXPECT_EQ(frame->Mask(), nullptr);
    // Now some pixels use it: they leave the target alone.
    frame->Scanline(0)[0] = 2;
    frame->PixelsChanged();
    ASSERT_NE(frame->Mask(), nullptr);
    TBitmap second(100, 10);
    second.Canvas().Brush.Color = clBlue;
    second.Canvas().FillRect(TRect{0, 0, 100, 10});
    frame->Draw(second.Canvas(), TRect{0, 0, 100, 10}, true, false);
    EXPECT_EQ(second.GetPixel(10, 0), clBlue);
    EXPECT_EQ(second.GetPixel(11, 0), RGB(10, 10, 10));

    // Tiles repeat in steps of the logical screen.
    TBitmap tiles(250, 10);
    frame->Draw(tiles.Canvas(), TRect{0, 0, 250, 10}, false, true);
    EXPECT_EQ(tiles.GetPixel(15, 3), RGB(10, 10, 10));
    EXPECT_EQ(tiles.GetPixel(115, 3), RGB(10, 10, 10));
    EXPECT_EQ(tiles.GetPixel(215, 3), RGB(10, 10, 10));
    EXPECT_EQ(tiles.GetPixel(150, 3), clBlack);

    EXPECT_EQ(ErrorOf([&] { frame->Pixels(10, 0); }), "Invalid pixel coordinates");
    EXPECT_EQ(ErrorOf([&] { frame->Scanline(-1); }), "Invalid pixel coordinates");
    TGIFSubImage empty(&image);
    empty.SetBounds(0, 0, 4, 0);
    EXPECT_EQ(ErrorOf([&] { empty.Scanline(0); }), "Invalid pixel coordinates");
}

TEST(GIFFrame, BoundsGrowTheScreenWithWarnings) {
    TGIFImage image;
    std::vector<std::string> warnings;
    image.OnWarning = [&](const void*, int, const std::string& m) { warnings.push_back(m); };
    AddFrame(image, 0, 0, 10, 10, Bytes(100, 0), 2);
    EXPECT_TRUE(warnings.empty()) << "an empty screen grows quietly";
    AddFrame(image, 5, 0, 10, 12, Bytes(120, 0), 2);
    EXPECT_EQ(image.Width(), 15);
    EXPECT_EQ(image.Height(), 12);
    EXPECT_EQ(warnings, (std::vector<std::string>{"Image width too small for contained frames",
                                                  "Image height too small for contained frames",
                                                  "Image exceeds Logical Screen size"}));
}

TEST(GIFFrame, ConvertingPictures) {
    // An 8-bit bitmap keeps its indices and palette.
    TBitmap indexed(3, 2, TPixelFormat::pf8bit);
    std::vector<TRGBQuad> pal(256);
    pal[7] = TRGBQuad{30, 20, 10, 0};
    indexed.SetPalette(pal);
    static_cast<uint8_t*>(indexed.ScanLine(1))[2] = 7;
    TGIFImage image;
    image.Assign(&indexed);
    ASSERT_EQ(image.Images().Count(), 1);
    TGIFSubImage& f = *image.Images()[0];
    EXPECT_EQ(f.Pixels(2, 1), 7);
    EXPECT_EQ(f.ColorMap().Colors(7), RGB(10, 20, 30));

    // A true-colour bitmap goes through the web palette by default.
    TBitmap rgb(2, 1);
    rgb.SetPixelColor(0, 0, clRed);
    rgb.SetPixelColor(1, 0, RGB(0, 0, 255));
    TGIFImage web;
    web.Assign(&rgb);
    EXPECT_EQ(web.Images()[0]->ActiveColorMap().Colors(web.Images()[0]->Pixels(0, 0)), clRed);
    EXPECT_EQ(web.Images()[0]->Pixels(0, 0), 180);

    // Without reduction, more than 256 colours cannot become a frame.
    TBitmap many(300, 1);
    for (int x = 0; x < 300; ++x) many.SetPixelColor(x, 0, RGB(uint8_t(x), uint8_t(x >> 8), 0));
    TGIFImage none;
    none.ColorReduction = rmNone;
    EXPECT_EQ(ErrorOf([&] { none.Assign(&many); }), "Color table overflow");

    // A transparent bitmap's key colour becomes the frame's transparent index.
    TBitmap keyed(3, 1);
    keyed.SetPixelColor(0, 0, clLime);
    keyed.SetPixelColor(1, 0, clRed);
    keyed.SetPixelColor(2, 0, clLime);
    keyed.SetTransparent(true);
    keyed.SetTransparentColor(clLime);
    TGIFImage masked;
    masked.ColorReduction = rmNone;
    masked.Assign(&keyed);
    TGIFSubImage& m = *masked.Images()[0];
    ASSERT_TRUE(m.Transparent());
    EXPECT_EQ(m.Pixels(0, 0), m.TransparentIndex());
    EXPECT_NE(m.Pixels(1, 0), m.TransparentIndex());
}

TEST(GIFQuantize, LookupsPalettesAndReductions) {
    uint8_t r, g, b;
    TNetscapeColorLookup web;
    EXPECT_EQ(web.Lookup(255, 0, 0, r, g, b), 180);
    EXPECT_EQ(r, 255);
    TMonochromeLookup mono;
    EXPECT_EQ(mono.Lookup(127, 127, 127, r, g, b), 0);
    EXPECT_EQ(mono.Lookup(128, 128, 128, r, g, b), 1);

    TBitmap source(16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) source.SetPixelColor(x, y, RGB(uint8_t(x * 16), uint8_t(y * 16), 99));
    auto copy = ReduceColors(source, rmNone, dmNearest, 8, nullptr);
    EXPECT_EQ(copy->PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_EQ(copy->GetPixel(3, 4), RGB(48, 64, 99));

    int colors = 0;
    auto system = ReduceColors(source, rmQuantizeWindows, dmNearest, 8, nullptr, &colors);
    EXPECT_EQ(colors, 256);
    auto sys20 = SystemPalette20();
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(system->Palette()[i].rgbRed, sys20->Entries[i].peRed);
        EXPECT_EQ(system->Palette()[246 + i].rgbBlue, sys20->Entries[10 + i].peBlue);
    }
    EXPECT_TRUE(ReduceColors(source, rmNetscape, 7, 8, nullptr)->Empty());
    EXPECT_TRUE(ReduceColors(source, 10, dmNearest, 8, nullptr)->Empty());

    // The octree keeps four colours exactly when four are asked for.
    TBitmap four(8, 8);
    const TColor c4[4] = {RGB(200, 10, 10), RGB(10, 200, 10), RGB(10, 10, 200), RGB(250, 250, 250)};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) four.SetPixelColor(x, y, c4[(x / 4) + 2 * (y / 4)]);
    auto quantised = ReduceColors(four, rmQuantize, dmNearest, 2, nullptr, &colors);
    EXPECT_EQ(colors, 4);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) EXPECT_EQ(quantised->GetPixel(x, y), c4[(x / 4) + 2 * (y / 4)]);

    TBitmap target;
    EXPECT_EQ(ErrorOf([&] { TDIBWriter w(target, nullptr, 2, 2, TPixelFormat::pf32bit); }), "Unsupported PixelFormat");
    EXPECT_EQ(ErrorOf([&] { TDIBWriter w(target, nullptr, 0, 2, TPixelFormat::pf8bit); }), "Invalid image dimensions");
}

TEST(GIFQuantize, DitherersKeepTheAverageOfAFlatGrey) {
    // Black and white only: nearest colour turns a flat grey just below the middle all black, while
    // each ditherer spreads the error so about half the pixels come out white.
    TBitmap grey(64, 64);
    grey.Canvas().Brush.Color = RGB(120, 120, 120);
    grey.Canvas().FillRect(TRect{0, 0, 64, 64});
    for (uint8_t mode = dmNearest; mode <= dmBurkes; ++mode) {
        auto out = ReduceColors(grey, rmMonochrome, mode, 8, nullptr);
        int white = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) white += out->GetPixel(x, y) == clWhite;
        if (mode == dmNearest) EXPECT_EQ(white, 0);
        else EXPECT_NEAR(white / 4096.0, 120 / 255.0, 0.03) << "mode " << int(mode);
    }
}

TEST(GIFWriter, VersionsMapSizesAndSorting) {
    TGIFImage image;
    EXPECT_EQ(ErrorOf([&] { Save(image); }), "Unsupported GIF version");
    for (int i = 0; i < 5; ++i) image.Header().ColorMap().Add(RGB(uint8_t(50 * i), 0, 0));
    image.Header().SetWidth(4);
    image.Header().SetHeight(1);
    auto frame = std::make_unique<TGIFSubImage>(&image);
    frame->SetBounds(0, 0, 4, 1);
    const Bytes pixels{3, 1, 3, 3};
    std::memcpy(frame->Data(), pixels.data(), 4);
    TGIFSubImage* f = frame.get();
    image.Add(std::move(frame));
    Bytes out = Save(image);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 6), "GIF87a");
    EXPECT_EQ(out[10] & 0x87, 0x82) << "global map present with size field 2";
    EXPECT_EQ(out[13 + 5 * 3], 0) << "padding entries are black";
    // The frame has no local map: it is coded with the largest depth (3 bits, minimum code size 3).
    EXPECT_EQ(out[13 + 24 + 10], 3);

    AddControl(*f, 5);
    out = Save(image);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 6), "GIF89a");

    // Sorting by use moves entry 3 to the front and rewrites the pixels.
    EXPECT_TRUE(image.Header().ColorMap().Optimize());
    EXPECT_EQ(image.Header().ColorMap().Colors(0), RGB(150, 0, 0));
    EXPECT_EQ(image.Header().ColorMap().Count(), 3) << "unused entries are dropped, but not the background's";
    EXPECT_EQ(image.Header().BackgroundColorIndex(), 2);
    EXPECT_EQ(image.Header().BackgroundColor(), RGB(0, 0, 0));
    EXPECT_EQ(Bytes(f->Data(), f->Data() + 4), (Bytes{0, 1, 0, 0}));
    EXPECT_EQ(ErrorOf([&] { image.Optimize(ooReduceColors, rmPalette, 0, 8); }), "Invalid reduction method");
}

TEST(GIFWriter, RoundTripKeepsFramesAndExtensions) {
    TGIFImage image;
    TGIFSubImage* a = AddFrame(image, 0, 0, 9, 9, Bytes(81, 2), 4);
    a->SetInterlaced(true);
    for (int i = 0; i < 81; ++i) a->Data()[i] = static_cast<uint8_t>(i % 4);
    AddLoop(*a, 7);
    AddControl(*a, 12, 2, 3);
    auto comment = std::make_unique<TGIFCommentExtension>(a);
    comment->Text = {"first", std::string(300, 'x')};
    a->Extensions().Add(std::move(comment));
    TGIFSubImage* b = AddFrame(image, 2, 3, 4, 2, Bytes{1, 0, 1, 0, 1, 1, 1, 1}, 2);
    AddControl(*b, 3, 3);
    auto back = Load(Save(image));
    ASSERT_EQ(back->Images().Count(), 2);
    TGIFSubImage& a2 = *back->Images()[0];
    EXPECT_TRUE(a2.Interlaced()) << "a frame with a local map keeps its interlace flag";
    EXPECT_EQ(Bytes(a2.Data(), a2.Data() + 81), Bytes(a->Data(), a->Data() + 81));
    EXPECT_EQ(a2.TransparentIndex(), 3);
    EXPECT_EQ(a2.GraphicControlExtension()->Disposal(), 2);
    EXPECT_EQ(a2.Delay(), 12);
    auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(a2.Extensions()[0]);
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->Loops, 7);
    auto* text = dynamic_cast<TGIFCommentExtension*>(a2.Extensions()[2]);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->Text, (std::vector<std::string>{"first", std::string(255, 'x'), std::string(45, 'x')}));
    EXPECT_EQ(back->Images()[1]->BoundsRect(), (TRect{2, 3, 6, 5}));
    EXPECT_EQ(back->Images()[1]->ColorMap().Count(), 2);

    // A copy is a copy of all of it.
    TGIFImage copy;
    copy.Assign(back.get());
    EXPECT_EQ(Save(copy), Save(*back));
}

TEST(GIFImage, ClipboardCarriesTheWholeGif) {
    TMemoryClipboard board;
    SetClipboard(&board);
    TGIFImage image;
    AddFrame(image, 0, 0, 3, 3, Bytes{0, 1, 2, 3, 0, 1, 2, 3, 0}, 4);
    AddFrame(image, 1, 1, 1, 1, Bytes{1}, 2);
    uint16_t format = 0;
    Bytes data;
    image.SaveToClipboardFormat(format, data);
    EXPECT_EQ(format, CF_BITMAP);
    TGIFImage pasted;
    pasted.LoadFromClipboardFormat(CF_GIF(), nullptr);
    EXPECT_EQ(pasted.Images().Count(), 2);
    TGIFImage fromBitmap;
    fromBitmap.LoadFromClipboardFormat(CF_BITMAP, &data);
    EXPECT_EQ(fromBitmap.Images().Count(), 1);
    EXPECT_EQ(fromBitmap.Width(), 3);
    EXPECT_EQ(ErrorOf([&] { pasted.LoadFromClipboardFormat(RegisterClipboardFormat("Other"), &data); }),
              "未対応のクリップボード データです");
    board.RefuseWrites = true;
    EXPECT_EQ(ErrorOf([&] { image.SaveToClipboardFormat(format, data); }), "Failed to store GIF on clipboard");
    SetClipboard(nullptr);

    // The system clipboard (Qt's, in memory on the offscreen platform) carries both forms.
    ASSERT_TRUE(Clipboard().SetData(CF_GIF(), Bytes{1, 2, 3}));
    TBitmap small(2, 2);
    ASSERT_TRUE(Clipboard().SetBitmap(small));
    Bytes back;
    EXPECT_TRUE(Clipboard().GetData(CF_GIF(), back));
    EXPECT_EQ(back, (Bytes{1, 2, 3}));
    TBitmap got;
    EXPECT_TRUE(Clipboard().GetBitmap(got));
    EXPECT_EQ(got.Width(), 2);
}

namespace {

// Three frames with delays 0, 1 and 5 (1/100 s), each frame one colour.
std::unique_ptr<TGIFImage> ThreeFrames(int loopFrame, int loops) {
    auto image = std::make_unique<TGIFImage>();
    const int delays[3] = {0, 1, 5};
    for (int i = 0; i < 3; ++i) {
        TGIFSubImage* f = AddFrame(*image, 0, 0, 4, 4, Bytes(16, static_cast<uint8_t>(i)), 4);
        if (i == loopFrame) AddLoop(*f, loops);
        AddControl(*f, delays[i]);
    }
    return image;
}

struct PaintLog {
    std::vector<int> frames;
    std::vector<uint32_t> times;
    void Attach(TGIFImage& image) {
        image.OnFramePaint = [this](TGIFPainter* p) {
            frames.push_back(p->ActiveImage());
            times.push_back(timeGetTime());
        };
    }
};

} // namespace

TEST(GIFPainter, InlineDelaysSpeedAndPasses) {
    VirtualClock clock;
    SetClock(&clock);
    for (int speed : {100, 50}) {
        auto image = ThreeFrames(0, 2);
        image->DrawOptions = drAnimate | drLoop;
        image->SetAnimationSpeed(speed);
        PaintLog log;
        log.Attach(*image);
        TBitmap target(4, 4);
        image->Draw(target.Canvas(), TRect{0, 0, 4, 4});
        ASSERT_EQ(log.frames, (std::vector<int>{0, 1, 2, 0, 1, 2}));
        // Delays 0, 1 and 5 show for 10, 3 and 5 units of 12 ms.
        const int factor = 100 / speed;
        EXPECT_EQ(log.times[1] - log.times[0], 120u * factor);
        EXPECT_EQ(log.times[2] - log.times[1], 36u * factor);
        EXPECT_EQ(log.times[3] - log.times[2], 60u * factor);
        EXPECT_EQ(target.GetPixel(0, 0), RGB(20, 20, 20)) << "the last frame stays";
    }
    // A loop extension of 0 loops plays once inline; one in the third frame starts later passes there.
    auto once = ThreeFrames(0, 0);
    once->DrawOptions = drAnimate | drLoop;
    PaintLog onceLog;
    onceLog.Attach(*once);
    TBitmap target(4, 4);
    once->Draw(target.Canvas(), TRect{0, 0, 4, 4});
    EXPECT_EQ(onceLog.frames, (std::vector<int>{0, 1, 2}));
    auto third = ThreeFrames(2, 2);
    third->DrawOptions = drAnimate | drLoop;
    PaintLog thirdLog;
    thirdLog.Attach(*third);
    third->Draw(target.Canvas(), TRect{0, 0, 4, 4});
    EXPECT_EQ(thirdLog.frames, (std::vector<int>{0, 1, 2, 2}));
    // Without looping, one pass; an empty frame ends the pass.
    auto noLoop = ThreeFrames(0, 3);
    noLoop->DrawOptions = drAnimate;
    auto gap = std::make_unique<TGIFSubImage>(noLoop.get());
    noLoop->Images().Insert(1, std::move(gap));
    PaintLog gapLog;
    gapLog.Attach(*noLoop);
    noLoop->Draw(target.Canvas(), TRect{0, 0, 4, 4});
    EXPECT_EQ(gapLog.frames, (std::vector<int>{0}));
    SetClock(nullptr);
}

TEST(GIFPainter, AFrameLeftOutPassesItsLoopBlockOn) {
    // An ImageMagick animation of three frames and two passes, whose first frame gets a minimum code
    // size no decoder serves: that frame is left out, and the loop block in front of it goes on to
    // the next one, so the picker still plays both passes.
    test::TempDir dir;
    const std::string file = dir.File("three.gif");
    ASSERT_EQ(std::system(("convert -delay 10 -loop 3 -size 8x6 xc:red xc:lime xc:blue " + file).c_str()), 0);
    Bytes bytes = FileBytes(file);
    const std::string id = "NETSCAPE2.0";
    const auto loop = std::search(bytes.begin(), bytes.end(), id.begin(), id.end());
    ASSERT_NE(loop, bytes.end());
    const int stored = loop[13] | (loop[14] << 8);
    ASSERT_EQ(stored, 2);
    const auto first = std::find(loop, bytes.end(), ',');
    ASSERT_EQ(first[9] & 0x80, 0) << "no local colour map in front of the code size";
    first[10] = 12;

    auto image = Load(bytes);
    ASSERT_EQ(image->Images().Count(), 2);
    VirtualClock clock;
    SetClock(&clock);
    image->DrawOptions = drAnimate | drLoop;
    PaintLog log;
    log.Attach(*image);
    TBitmap target(8, 6);
    image->Draw(target.Canvas(), TRect{0, 0, 8, 6});
    SetClock(nullptr);
    EXPECT_EQ(log.frames, (std::vector<int>{0, 1, 0, 1}));

    // Written again, the loop block stands in front of the first frame, where giflib finds it.
    int loops = -1;
    WithGiflib(Save(*image), [&](const GifFileType& gif) {
        ASSERT_EQ(gif.ImageCount, 2);
        const SavedImage& shown = gif.SavedImages[0];
        for (int i = 0; i + 1 < shown.ExtensionBlockCount; ++i) {
            const ExtensionBlock& e = shown.ExtensionBlocks[i];
            const ExtensionBlock& data = shown.ExtensionBlocks[i + 1];
            if (e.Function == APPLICATION_EXT_FUNC_CODE && e.ByteCount == 11 &&
                std::memcmp(e.Bytes, id.data(), 11) == 0 && data.ByteCount >= 3 && data.Bytes[0] == 1)
                loops = data.Bytes[1] | (data.Bytes[2] << 8);
        }
    });
    EXPECT_EQ(loops, stored);
}

TEST(GIFPainter, ThreadedPainterWakesOnASpeedChange) {
    auto image = ThreeFrames(0, 0);
    for (int i = 0; i < 3; ++i) image->Images()[i]->GraphicControlExtension()->SetDelay(500);
    image->DrawOptions = drThreaded | drAnimate | drLoop;
    PaintLog log;
    log.Attach(*image);
    std::vector<int> painted;
    image->OnFramePainted = [&](TGIFPainter* p) { painted.push_back(p->ActiveImage()); };
    TBitmap target(4, 4);
    const uint32_t start = timeGetTime();
    image->Draw(target.Canvas(), TRect{0, 0, 4, 4});
    EXPECT_EQ(log.frames, (std::vector<int>{0})) << "Draw returns once the first frame is painted";
    EXPECT_EQ(target.GetPixel(0, 0), clBlack);
    while (painted.empty() && timeGetTime() - start < 4000) CheckSynchronize(5);
    ASSERT_EQ(painted.size(), 1u);
    ASSERT_NE(image->Painter(), nullptr);
    image->SetAnimationSpeed(1000);
    while (painted.size() < 2 && timeGetTime() - start < 4000) CheckSynchronize(5);
    EXPECT_EQ(painted.size(), 2u);
    EXPECT_LT(timeGetTime() - start, 2000u) << "the six-second delay ended at the speed change";
    image->Clear();
    EXPECT_EQ(image->Painter(), nullptr);
    EXPECT_TRUE(image->Painters().empty());
}

TEST(GIFPainter, QuittingLetsThreadedPaintersGoAtOnce) {
    auto image = ThreeFrames(0, 0);
    for (int i = 0; i < 3; ++i) image->Images()[i]->GraphicControlExtension()->SetDelay(500);
    image->DrawOptions = drThreaded | drAnimate | drLoop;
    TBitmap target(4, 4);
    image->Draw(target.Canvas(), TRect{0, 0, 4, 4});
    ASSERT_NE(image->Painter(), nullptr);
    // Another thread's synchronised call is waiting for the main thread.
    struct Caller : TThread {
        std::atomic<bool> ran{false};
        Caller() : TThread(true) {}
        void Execute() override { Synchronize([this] { ran = true; }); }
    } caller;
    caller.Start();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Application().Terminate();
    image->Clear();
    EXPECT_TRUE(image->Painters().empty());
    EXPECT_EQ(image->Painter(), nullptr);
    EXPECT_FALSE(caller.ran) << "a quitting program waits for no painter";
    Application().ResetForTests();
    caller.WaitFor();
    EXPECT_TRUE(caller.ran);
}

TEST(GIFCrashers, KeptFilesLoadOrRaiseTheirMessage) {
    struct Kept {
        const char* name;
        const char* message;
    };
    const Kept kept[] = {
        {"gif-image-circular.gif", "Circular decoder table entry"},
        {"gif-image-code-size-12.gif", "Unsupported LZW code size"},
        {"gif-image-huge-frame.gif", "Premature end of data"},
        {"gif-image-huge-frame-few-bytes.gif", "Premature end of data"},
        {"gif-image-huge-screen.gif", ""}, // one pixel on an 8000 x 6000 screen
        {"gif-image-stray-bytes.gif", ""},
    };
    const std::string folder = std::string(LUMORA_SOURCE_DIR) + "/tests/pictures/crashers/";
    for (const Kept& k : kept) {
        const std::string message = ErrorOf([&] {
            TGIFImage image;
            image.LoadFromFile(folder + k.name);
            TBitmap shown;
            shown.Assign(&image);
            shown.SetPixelFormat(TPixelFormat::pf32bit);
        });
        EXPECT_EQ(message, k.message) << k.name;
    }
}

namespace {

// What the painter's target shows in its first row after each frame, as grey levels (index x 10) or
// -1 for a colour that is no grey of the frames' maps.
using Shown = std::vector<std::vector<int>>;

struct PlayLog {
    Shown shown;
    std::vector<int> frames;
    int stopAfter = 0;
    void Attach(TGIFImage& image) {
        image.OnFramePainted = [this](TGIFPainter* p) {
            TBitmap& b = p->Canvas().Bitmap();
            std::vector<int> row;
            for (int x = 0; x < b.Width(); ++x) {
                const TColor c = b.GetPixel(x, 0);
                row.push_back(GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c) && GetRValue(c) % 10 == 0
                                  ? GetRValue(c) / 10
                                  : -1);
            }
            shown.push_back(row);
            frames.push_back(p->ActiveImage());
            if (stopAfter && static_cast<int>(frames.size()) >= stopAfter) p->Stop();
        };
    }
};

} // namespace

TEST(GIFPainter, DisposalMethodsComposeTheFrames) {
    VirtualClock clock;
    SetClock(&clock);
    // 4x1: an opaque first frame, a frame restored to the background, one restored to what was before.
    TGIFImage image;
    image.BackgroundColor = RGB(255, 0, 0);
    AddControl(*AddFrame(image, 0, 0, 4, 1, Bytes{1, 1, 1, 1}, 6), 1, 1);
    AddControl(*AddFrame(image, 1, 0, 2, 1, Bytes{2, 2}, 6), 1, 2);
    AddControl(*AddFrame(image, 3, 0, 1, 1, Bytes{3}, 6), 1, 3);
    AddControl(*AddFrame(image, 0, 0, 1, 1, Bytes{4}, 6), 1, 1);
    image.DrawOptions = drAnimate;
    PlayLog log;
    log.Attach(image);
    TBitmap target(4, 1);
    image.Draw(target.Canvas(), TRect{0, 0, 4, 1});
    EXPECT_EQ(log.shown, (Shown{{1, 1, 1, 1}, {1, 2, 2, 1}, {1, -1, -1, 3}, {4, -1, -1, 1}}));
    EXPECT_EQ(target.GetPixel(1, 0), RGB(255, 0, 0)) << "the restored area shows the background colour";

    // Restoring on a new pass: the first frame's transparent pixel shows what was there before the play.
    TGIFImage loop;
    AddControl(*AddFrame(loop, 0, 0, 4, 1, Bytes{3, 1, 1, 1}, 6), 1, 1, 3);
    AddLoop(*loop.Images()[0], 2);
    AddControl(*AddFrame(loop, 0, 0, 4, 1, Bytes{2, 2, 2, 2}, 6), 1, 1);
    for (bool clearOnLoop : {false, true}) {
        TBitmap green(4, 1);
        green.Canvas().Brush.Color = RGB(0, 255, 0);
        green.Canvas().FillRect(TRect{0, 0, 4, 1});
        loop.DrawOptions = static_cast<TGIFDrawOptions>(drAnimate | drLoop | drTransparent | (clearOnLoop ? drClearOnLoop : 0));
        loop.FreeBitmap(); // a kept back buffer would be shown again without a new play
        PlayLog played;
        played.Attach(loop);
        loop.Draw(green.Canvas(), TRect{0, 0, 4, 1});
        ASSERT_EQ(played.shown.size(), 4u);
        EXPECT_EQ(played.shown[2], (std::vector<int>{clearOnLoop ? -1 : 2, 1, 1, 1})) << clearOnLoop;
    }
    SetClock(nullptr);
}

TEST(GIFPainter, FramesReadFromAFileAreDrawnAsImageMagickComposesThem) {
    // Frames after the first are decoded again each time the painter draws them; every picture of
    // both plays is the one ImageMagick's coalescing shows.
    VirtualClock clock;
    SetClock(&clock);
    test::TempDir dir;
    const std::string file = dir.File("anim.gif");
    ASSERT_EQ(std::system(("convert -delay 10 -dispose none -size 60x40 gradient:red-blue "
                           "\\( -size 20x10 xc:green -repage +5+7 \\) "
                           "\\( -size 12x30 gradient:yellow-black -repage +40+5 \\) -dispose previous "
                           "\\( -size 30x30 gradient:white-purple -repage +10+5 \\) -dispose none "
                           "\\( -size 25x20 gradient:cyan-red -repage +30+18 -interlace GIF \\) -colors 64 " +
                           file + " && convert " + file + " -coalesce -depth 8 rgb:" + dir.File("all.rgb"))
                              .c_str()),
              0);
    const Bytes all = FileBytes(dir.File("all.rgb"));
    const size_t frameBytes = 60 * 40 * 3;
    ASSERT_EQ(all.size(), 5 * frameBytes);
    auto image = Load(FileBytes(file));
    ASSERT_EQ(image->Images().Count(), 5);
    image->DrawOptions = drAnimate;
    std::vector<std::vector<TColor>> shown;
    image->OnFramePainted = [&](TGIFPainter* p) {
        TBitmap& b = p->Canvas().Bitmap();
        std::vector<TColor> picture;
        for (int y = 0; y < b.Height(); ++y)
            for (int x = 0; x < b.Width(); ++x) picture.push_back(b.GetPixel(x, y));
        shown.push_back(std::move(picture));
    };
    TBitmap target(60, 40);
    for (int play = 0; play < 2; ++play) {
        image->FreeBitmap(); // a kept back buffer would be shown again without a new play
        image->Draw(target.Canvas(), TRect{0, 0, 60, 40});
    }
    ASSERT_EQ(shown.size(), 10u);
    // Drawn, the frames after the first hold nothing rendered: a long animation holds one frame.
    for (int i = 1; i < 5; ++i) EXPECT_FALSE(image->Images()[i]->HasBitmap()) << "frame " << i;
    for (size_t n = 0; n < shown.size(); ++n) {
        const uint8_t* want = all.data() + (n % 5) * frameBytes;
        for (size_t p = 0; p < shown[n].size(); ++p)
            ASSERT_EQ(shown[n][p], RGB(want[3 * p], want[3 * p + 1], want[3 * p + 2]))
                << "picture " << n << ", pixel " << p % 60 << "," << p / 60;
    }
}

TEST(GIFPainter, LoopForeverTileAndDirectDraw) {
    VirtualClock clock;
    SetClock(&clock);
    // A loop count of 1 plays one pass, unless the painter is told to loop for ever.
    for (bool forever : {false, true}) {
        auto image = ThreeFrames(0, 1);
        image->DrawOptions = static_cast<TGIFDrawOptions>(drAnimate | drLoop | (forever ? drLoopForever : 0));
        PlayLog log;
        log.stopAfter = 8;
        log.Attach(*image);
        TBitmap target(4, 4);
        image->Draw(target.Canvas(), TRect{0, 0, 4, 4});
        EXPECT_EQ(log.frames.size(), forever ? 8u : 3u);
    }

    // 2x1 frames on a 6x1 target: tiled in steps of the logical screen, else stretched.
    TGIFImage image;
    AddControl(*AddFrame(image, 0, 0, 2, 1, Bytes{1, 2}, 4), 1);
    AddControl(*AddFrame(image, 0, 0, 2, 1, Bytes{2, 1}, 4), 1);
    for (int extra : {0, int(drTile), int(drDirectDraw), drDirectDraw | drTile}) {
        image.DrawOptions = static_cast<TGIFDrawOptions>(drAnimate | extra);
        image.FreeBitmap();
        PlayLog log;
        log.Attach(image);
        TBitmap target(6, 1);
        target.Canvas().Brush.Color = RGB(255, 0, 0);
        target.Canvas().FillRect(TRect{0, 0, 6, 1});
        image.Draw(target.Canvas(), TRect{0, 0, 6, 1});
        const bool tiled = extra & drTile;
        const std::vector<int> last = tiled ? std::vector<int>{2, 1, 2, 1, 2, 1} : std::vector<int>{2, 2, 2, 1, 1, 1};
        std::vector<int> after;
        for (int x = 0; x < 6; ++x) after.push_back(GetRValue(target.GetPixel(x, 0)) / 10);
        EXPECT_EQ(after, last) << extra;
        if (extra & drDirectDraw) {
            // The painter draws straight on the caller's canvas.
            const std::vector<int> first = tiled ? std::vector<int>{1, 2, 1, 2, 1, 2} : std::vector<int>{1, 1, 1, 2, 2, 2};
            EXPECT_EQ(log.shown, (Shown{first, last})) << extra;
        } else {
            // It composes on a back buffer of the logical screen, which reaches the canvas at the end.
            EXPECT_EQ(log.shown, (Shown{{1, 2}, {2, 1}})) << extra;
        }
    }

    // With drCheckCanvas a target remade at another size ends the play.
    for (bool check : {false, true}) {
        auto three = ThreeFrames(0, 1);
        three->DrawOptions = static_cast<TGIFDrawOptions>(drAnimate | drDirectDraw | (check ? drCheckCanvas : 0));
        TBitmap target(4, 4);
        int painted = 0;
        three->OnFramePainted = [&](TGIFPainter*) {
            if (++painted == 1) target.SetSize(2, 2);
        };
        three->Draw(target.Canvas(), TRect{0, 0, 4, 4});
        EXPECT_EQ(painted, check ? 1 : 3) << check;
    }
    SetClock(nullptr);
}

namespace {

// Error diffusion as the ditherers' kernels define it, walked in alternating directions over whole
// error planes, with the web palette's lookup: the indices each ditherer must give.
struct Tap {
    int dy, dx, weight;
};

std::vector<int> ReferenceWebDither(const TBitmap& source, const std::vector<Tap>& kernel, int divisor) {
    const int w = source.Width(), h = source.Height(), pad = 4;
    std::vector<std::vector<int>> error(3, std::vector<int>(static_cast<size_t>((h + pad) * (w + 2 * pad)), 0));
    auto at = [&](int c, int y, int x) -> int& { return error[c][static_cast<size_t>(y * (w + 2 * pad) + x + pad)]; };
    std::vector<int> out(static_cast<size_t>(w * h));
    for (int y = 0; y < h; ++y) {
        const int dir = y % 2 == 0 ? 1 : -1;
        for (int i = 0; i < w; ++i) {
            const int x = dir > 0 ? i : w - 1 - i;
            const TColor c = source.GetPixel(x, y);
            const int input[3] = {GetRValue(c), GetGValue(c), GetBValue(c)};
            int level[3];
            for (int ch = 0; ch < 3; ++ch) {
                const int corrected = std::clamp(input[ch] + (at(ch, y, x) + divisor / 2) / divisor, 0, 255);
                level[ch] = (corrected + 3) / 51;
                const int e = corrected - level[ch] * 51;
                for (const Tap& t : kernel) at(ch, y + t.dy, x + t.dx * dir) += t.weight * e;
            }
            out[static_cast<size_t>(y * w + x)] = level[2] + 6 * level[1] + 36 * level[0];
        }
    }
    return out;
}

} // namespace

TEST(GIFQuantize, EachDithererDiffusesByItsKernel) {
    const std::vector<Tap> kernels[7] = {
        {},
        {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}},
        {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
         {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}},
        {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2}, {2, -1, 2}, {2, 0, 3}, {2, 1, 2}},
        {{0, 1, 7}, {0, 2, 5}, {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},
         {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}},
        {{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16}, {2, -2, 12}, {2, 0, 26}, {2, 2, 12},
         {3, -3, 5}, {3, -1, 12}, {3, 1, 12}, {3, 3, 5}},
        {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}},
    };
    const int divisors[7] = {1, 16, 42, 32, 48, 200, 32};
    TBitmap source(9, 7);
    uint32_t s = 12345;
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            s = s * 1103515245u + 12345u;
            source.SetPixelColor(x, y, RGB(uint8_t(s >> 8), uint8_t(s >> 16), uint8_t(s >> 24)));
        }
    for (uint8_t mode = dmNearest; mode <= dmBurkes; ++mode) {
        TBitmap input;
        input.Assign(source);
        auto out = ReduceColors(input, rmNetscape, mode, 8, nullptr);
        const std::vector<int> expected = ReferenceWebDither(source, kernels[mode], divisors[mode]);
        std::vector<int> got;
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 9; ++x) got.push_back(static_cast<const uint8_t*>(out->ScanLine(y))[x]);
        EXPECT_EQ(got, expected) << "dither mode " << int(mode);
    }

    // Grey weights: red counts 77/256, blue 29/256.
    TBitmap primaries(2, 1);
    primaries.SetPixelColor(0, 0, RGB(255, 0, 0));
    primaries.SetPixelColor(1, 0, RGB(0, 0, 255));
    auto grey = ReduceColors(primaries, rmGrayScale, dmNearest, 8, nullptr);
    EXPECT_EQ(static_cast<const uint8_t*>(grey->ScanLine(0))[0], 76);
    EXPECT_EQ(static_cast<const uint8_t*>(grey->ScanLine(0))[1], 28);
}

TEST(GIFQuantize, OctreeMergesTheDeepestNodesFirst) {
    // Two colours asked for, three given: the two that differ only in their low bits merge (weighted
    // by their pixel counts), the far one stays whole.
    TBitmap source(5, 1);
    const TColor pixels[5] = {RGB(100, 100, 100), RGB(100, 100, 103), RGB(100, 100, 103), RGB(100, 100, 103),
                              RGB(200, 40, 60)};
    for (int x = 0; x < 5; ++x) source.SetPixelColor(x, 0, pixels[x]);
    int colors = 0;
    auto out = ReduceColors(source, rmQuantize, dmNearest, 1, nullptr, &colors);
    ASSERT_EQ(colors, 2);
    const auto& palette = out->Palette();
    EXPECT_EQ(RGB(palette[0].rgbRed, palette[0].rgbGreen, palette[0].rgbBlue), RGB(100, 100, 102));
    EXPECT_EQ(RGB(palette[1].rgbRed, palette[1].rgbGreen, palette[1].rgbBlue), RGB(200, 40, 60));
    EXPECT_EQ(Bytes(static_cast<const uint8_t*>(out->ScanLine(0)), static_cast<const uint8_t*>(out->ScanLine(0)) + 5),
              (Bytes{0, 0, 0, 0, 1}));
}

namespace {

// Every frame as ImageMagick composes it (RGBA, transparent pixels zeroed), one byte string a frame.
std::vector<Bytes> Coalesced(TGIFImage& image) {
    test::TempDir dir;
    const std::string file = dir.File("in.gif"), out = dir.File("out.rgba");
    image.SaveToFile(file);
    const std::string command = "convert " + file + " -coalesce -depth 8 rgba:" + out;
    EXPECT_EQ(std::system(command.c_str()), 0);
    const Bytes all = FileBytes(out);
    const size_t frameSize = static_cast<size_t>(image.Width()) * image.Height() * 4;
    std::vector<Bytes> frames;
    for (size_t at = 0; frameSize && at + frameSize <= all.size(); at += frameSize) {
        Bytes f(all.begin() + static_cast<long>(at), all.begin() + static_cast<long>(at + frameSize));
        for (size_t p = 0; p < f.size(); p += 4)
            if (f[p + 3] == 0) f[p] = f[p + 1] = f[p + 2] = 0;
        frames.push_back(f);
    }
    return frames;
}

} // namespace

TEST(GIFOptimize, CropAndMergeKeepHowTheAnimationLooks) {
    TGIFImage image;
    AddControl(*AddFrame(image, 0, 0, 6, 1, Bytes{1, 1, 1, 1, 1, 1}, 6), 10, 1);
    // Cleared to the background after it is shown: cropping it would shrink the cleared area.
    AddControl(*AddFrame(image, 0, 0, 6, 1, Bytes{5, 5, 2, 2, 5, 5}, 6), 10, 2, 5);
    AddControl(*AddFrame(image, 0, 0, 6, 1, Bytes{5, 5, 5, 5, 5, 3}, 6), 10, 1, 5);
    // Its last pixel repeats what the frame before shows there: merged away, then cropped off.
    AddControl(*AddFrame(image, 0, 0, 6, 1, Bytes{3, 4, 4, 4, 4, 3}, 6), 10, 1);
    const std::vector<Bytes> before = Coalesced(image);
    ASSERT_EQ(before.size(), 4u);

    image.Optimize(ooMerge | ooCrop, rmNone, dmNearest, 8);
    EXPECT_EQ(Coalesced(image), before);
    TGIFSubImage& last = *image.Images()[3];
    EXPECT_TRUE(last.Transparent());
    EXPECT_EQ(last.BoundsRect(), (TRect{0, 0, 5, 1}));
    EXPECT_EQ(Bytes(last.Data(), last.Data() + 5), (Bytes{3, 4, 4, 4, 4}));
    EXPECT_EQ(image.Images()[2]->BoundsRect(), (TRect{5, 0, 6, 1}));
}

TEST(GIFOptimize, CroppingAwayAFrameKeepsThePlayTime) {
    // Wholly transparent frames go, their time given to the frame before; the painter shows a delay
    // of 0 for 10 units and anything below 3 for 3, so the time merged must be the time played.
    TGIFImage image;
    const Bytes solid(16, 1), clear(16, 3);
    TGIFSubImage* first = AddFrame(image, 0, 0, 4, 4, solid, 4);
    AddLoop(*first, 2);
    AddControl(*first, 0);
    AddControl(*AddFrame(image, 0, 0, 4, 4, clear, 4), 0, 1, 3);
    AddControl(*AddFrame(image, 0, 0, 4, 4, Bytes(16, 2), 4), 2);
    AddControl(*AddFrame(image, 0, 0, 4, 4, clear, 4), 1, 1, 3);
    // No graphic control block of its own: the frame before gets one.
    AddFrame(image, 0, 0, 4, 4, Bytes(16, 0), 4);
    AddControl(*AddFrame(image, 0, 0, 4, 4, clear, 4), 7, 0, 3);
    // One pass as the inline painter plays it, in ms: from the first frame to its return.
    auto cycle = [](TGIFImage& image) {
        VirtualClock clock;
        SetClock(&clock);
        image.DrawOptions = drAnimate | drLoop;
        PaintLog log;
        log.Attach(image);
        TBitmap target(4, 4);
        image.Draw(target.Canvas(), TRect{0, 0, 4, 4});
        SetClock(nullptr);
        const size_t frames = static_cast<size_t>(image.Images().Count());
        EXPECT_EQ(log.frames.size(), 2 * frames);
        return log.frames.size() > frames ? log.times[frames] - log.times[0] : 0;
    };
    const uint32_t before = cycle(image);
    EXPECT_EQ(before, (10u + 10 + 3 + 3 + 10 + 7) * 12);
    image.Optimize(ooCrop, rmNone, dmNearest, 8);
    ASSERT_EQ(image.Images().Count(), 3);
    EXPECT_EQ(cycle(image), before);

    // giflib reads the written delays, which the painter plays for the same time.
    std::vector<int> delays;
    WithGiflib(Save(image), [&](GifFileType& gif) {
        for (int i = 0; i < gif.ImageCount; ++i) {
            GraphicsControlBlock gcb;
            delays.push_back(DGifSavedExtensionToGCB(&gif, i, &gcb) == GIF_OK ? gcb.DelayTime : 0);
        }
    });
    EXPECT_EQ(delays, (std::vector<int>{20, 6, 10 + 7}));
}

namespace {

// What an animation shows, as ImageMagick composes it: each distinct picture in turn (RGBA,
// transparent pixels zeroed) with how long the painter shows it (the delays ImageMagick reads, as the
// painter plays them); a frame that shows what the one before showed only lengthens it.
using Look = std::vector<std::pair<Bytes, int>>;

// A random small animation: a few colours shared by the global and local maps, frames anywhere on
// the screen after the first, pixels that often repeat what is already shown or are transparent, every disposal.
void MakeRandomAnimation(TGIFImage& image, std::mt19937& rng) {
    auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    static const TColor kColors[] = {clBlack, clWhite, clRed, clLime, clBlue, clYellow};
    const int width = 2 + below(6), height = 2 + below(6);
    image.Header().SetWidth(width);
    image.Header().SetHeight(height);
    auto fillMap = [&](TGIFColorMap& map) {
        const int n = 2 + below(7);
        for (int i = 0; i < n; ++i) map.Add(kColors[below(6)]);
    };
    const bool global = below(3) != 0;
    if (global) fillMap(image.Header().ColorMap());
    std::vector<TColor> painted(static_cast<size_t>(width) * height, clBlack);
    const int frames = 1 + below(6);
    for (int n = 0; n < frames; ++n) {
        auto frame = std::make_unique<TGIFSubImage>(&image);
        // The first frame covers the screen and stays: what shows where no frame has been is the
        // viewer's choice. Later ones often cover it too, or take the place of the frame before.
        const int place = n == 0 ? 0 : below(4);
        TRect bounds{0, 0, width, height};
        if (place == 1) bounds = image.Images()[n - 1]->BoundsRect();
        if (place >= 2) {
            bounds.Left = below(width);
            bounds.Top = below(height);
            bounds.Right = bounds.Left + 1 + below(width - bounds.Left);
            bounds.Bottom = bounds.Top + 1 + below(height - bounds.Top);
        }
        const int left = bounds.Left, top = bounds.Top;
        frame->SetBounds(left, top, bounds.Right - left, bounds.Bottom - top);
        if (!global || below(2)) fillMap(frame->ColorMap());
        TGIFColorMap& map = frame->ColorMap().Count() > 0 ? static_cast<TGIFColorMap&>(frame->ColorMap())
                                                          : image.Header().ColorMap();
        TGIFSubImage* raw = frame.get();
        if (below(5) != 0) {
            auto gce = std::make_unique<TGIFGraphicControlExtension>(raw);
            gce->SetDelay(below(4));
            gce->SetDisposal(static_cast<uint8_t>(below(n == 0 ? 2 : 4)));
            if (below(2)) {
                gce->SetTransparentColorIndex(static_cast<uint8_t>(below(map.Count())));
                gce->SetTransparent(true);
            }
            raw->Extensions().Add(std::move(gce));
        }
        if (n == 0 && below(2)) {
            auto loop = std::make_unique<TGIFAppExtNSLoop>(raw);
            loop->Loops = below(3);
            raw->Extensions().Add(std::move(loop));
        }
        const int transparent = raw->TransparentIndex();
        const bool empty = transparent >= 0 && below(6) == 0, unused = !empty && transparent >= 0 && below(4) == 0;
        for (int y = 0; y < raw->Height(); ++y)
            for (int x = 0; x < raw->Width(); ++x) {
                TColor& shown = painted[static_cast<size_t>(top + y) * width + left + x];
                int index = below(map.Count());
                const int choice = below(3);
                if (empty || (choice == 0 && transparent >= 0)) index = transparent;
                else if (choice == 1)
                    for (int i = 0; i < map.Count(); ++i)
                        if (map.Colors(i) == shown) index = i;
                if (unused && index == transparent) index = (index + 1) % map.Count();
                raw->Scanline(y)[x] = static_cast<uint8_t>(index);
                if (index != transparent) shown = map.Colors(index);
            }
        image.Add(std::move(frame));
    }
}

// The same GIF with a graphic control block of the defaults (no disposal, no delay, opaque) in front
// of every image that has none: ImageMagick would carry the one of the image before over to it.
Bytes WithControlBlocks(const Bytes& gif) {
    size_t at = 13 + (gif[10] & 0x80 ? 3u * (2u << (gif[10] & 7)) : 0);
    Bytes out(gif.begin(), gif.begin() + static_cast<long>(at));
    auto copySubBlocks = [&] {
        while (at < gif.size() && gif[at] != 0) {
            const size_t n = gif[at] + 1u;
            out.insert(out.end(), gif.begin() + static_cast<long>(at), gif.begin() + static_cast<long>(at + n));
            at += n;
        }
        out.push_back(0);
        ++at;
    };
    bool control = false;
    while (at < gif.size() && gif[at] != ';') {
        if (gif[at] == '!') {
            control = control || gif[at + 1] == 0xF9;
            out.insert(out.end(), gif.begin() + static_cast<long>(at), gif.begin() + static_cast<long>(at + 2));
            at += 2;
            copySubBlocks();
            continue;
        }
        if (!control) out.insert(out.end(), {'!', 0xF9, 4, 0, 0, 0, 0, 0});
        control = false;
        const uint8_t packed = gif[at + 9];
        const size_t head = 10 + (packed & 0x80 ? 3u * (2u << (packed & 7)) : 0) + 1;
        out.insert(out.end(), gif.begin() + static_cast<long>(at), gif.begin() + static_cast<long>(at + head));
        at += head;
        copySubBlocks();
    }
    out.push_back(';');
    return out;
}

// The looks of many GIF files at once, from one run of ImageMagick.
std::vector<Look> CoalescedLooks(const test::TempDir& dir, const std::vector<std::string>& names,
                                 const std::vector<std::pair<int, int>>& sizes) {
    std::string script = "cd '" + dir.Path() + "' && convert";
    for (const std::string& name : names) {
        const Bytes plain = WithControlBlocks(FileBytes(dir.File(name + ".gif")));
        dir.WriteFile(name + "-plain.gif", std::string(plain.begin(), plain.end()));
        script += " \\( " + name + "-plain.gif -coalesce -depth 8 -write rgba:" + name + ".rgba -format '%T\\n' -write info:" +
                  name + ".txt \\)";
    }
    script += " null:\n";
    dir.WriteFile("coalesce.sh", script);
    EXPECT_EQ(std::system(("sh '" + dir.File("coalesce.sh") + "'").c_str()), 0);
    std::vector<Look> looks;
    for (size_t k = 0; k < names.size(); ++k) {
        const Bytes all = FileBytes(dir.File(names[k] + ".rgba"));
        std::istringstream delays(test::ReadFile(dir.File(names[k] + ".txt")));
        const size_t frameSize = static_cast<size_t>(sizes[k].first) * sizes[k].second * 4;
        Look look;
        for (size_t at = 0; at + frameSize <= all.size(); at += frameSize) {
            Bytes f(all.begin() + static_cast<long>(at), all.begin() + static_cast<long>(at + frameSize));
            for (size_t p = 0; p < f.size(); p += 4)
                if (f[p + 3] == 0) f[p] = f[p + 1] = f[p + 2] = 0;
            int delay = 0;
            delays >> delay;
            delay = PlayedDelay(delay);
            if (!look.empty() && look.back().first == f) look.back().second += delay;
            else look.emplace_back(std::move(f), delay);
        }
        // A still picture shows for as long as it is looked at.
        if (look.size() == 1) look[0].second = 0;
        looks.push_back(std::move(look));
    }
    return looks;
}

} // namespace

TEST(GIFOptimize, RandomAnimationsLookTheSameToImageMagick) {
    // Each animation is written as made and again after Optimize with some of the options; ImageMagick
    // composes both, and every picture and how long it shows must be the same.
    constexpr int kAnimations = 400;
    const uint8_t kOptions[] = {ooCrop, ooMerge, ooCleanup, ooColorMap};
    std::mt19937 rng(30);
    test::TempDir dir;
    std::vector<std::string> names;
    std::vector<std::pair<int, int>> sizes;
    std::vector<uint8_t> chosen;
    for (int k = 0; k < kAnimations; ++k) {
        TGIFImage image;
        MakeRandomAnimation(image, rng);
        uint8_t options = k % 4 == 0 ? ooCrop | ooMerge | ooCleanup | ooColorMap | ooReduceColors : 0;
        while (options == 0)
            for (uint8_t o : kOptions)
                if (rng() % 2) options |= o;
        chosen.push_back(options);
        const std::string name = 'a' + std::to_string(k);
        image.SaveToFile(dir.File(name + "-0.gif"));
        // Areas cleared to the background show the header's background colour when drawn opaque.
        const bool global = image.Header().ColorMap().Count() > 0;
        const TColor background = global ? image.Header().BackgroundColor() : clNone;
        const std::string error = ErrorOf([&] {
            image.Optimize(options, rmNone, dmNearest, 8);
            image.SaveToFile(dir.File(name + "-1.gif"));
        });
        ASSERT_EQ(error, "") << "animation " << k;
        if (global) {
            EXPECT_EQ(image.Header().BackgroundColor(), background) << "animation " << k;
        }
        for (const char* which : {"-0", "-1"}) {
            names.push_back(name + which);
            sizes.emplace_back(image.Width(), image.Height());
        }
    }
    const std::vector<Look> looks = CoalescedLooks(dir, names, sizes);
    ASSERT_EQ(looks.size(), names.size());
    int altered = 0;
    for (int k = 0; k < kAnimations; ++k) {
        const Look& before = looks[2 * static_cast<size_t>(k)];
        const Look& after = looks[2 * static_cast<size_t>(k) + 1];
        ASSERT_FALSE(before.empty()) << k;
        if (after != before && ++altered <= 5)
            ADD_FAILURE() << "animation " << k << " (options " << int(chosen[static_cast<size_t>(k)])
                          << ") looks different after Optimize: " << before.size() << " pictures before, "
                          << after.size() << " after";
    }
    EXPECT_EQ(altered, 0) << "of " << kAnimations;
}
