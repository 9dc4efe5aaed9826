// Targa write/read round trips, PCX files of every pixel layout, GIF files written by giflib, the
// decompressors' bounds, and the error texts of the simple loaders.

#include <gif_lib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>

#include <gtest/gtest.h>

#include "framework/Checked.h"
#include "framework/Forms.h"
#include "pictures/formats/GraphicCompression.h"
#include "pictures/formats/GraphicFormats.h"
#include "pictures/gif/GIFImage.h"
#include "pictures/common/PixelSwap.h"
#include "pictures/png/PngImage.h"
#include "tests/pictures/PictureTestUtil.h"
#include "tests/support/MagickFlatten.h"
#include "tests/support/TempDir.h"

using namespace lumora;
using namespace lumora::test;

namespace {

template <class Graphic>
std::string LoadError(const Bytes& file) {
    TMemoryStream m(file);
    Graphic g;
    try {
        g.LoadFromStream(m);
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

// A bitmap with rows that hold runs of 1, 128 and 129 equal pixels and stretches of unequal ones.
void FillRuns(TBitmap& b, uint32_t seed) {
    const int bpp = BitsPerPixel(b.PixelFormat()) / 8;
    Bytes noise = PseudoRandomBytes(static_cast<size_t>(b.BytesPerLine()) * b.Height(), seed);
    for (int y = 0; y < b.Height(); ++y) {
        auto* row = static_cast<uint8_t*>(b.ScanLine(y));
        std::memcpy(row, noise.data() + y * b.BytesPerLine(), static_cast<size_t>(b.Width()) * bpp);
        int runStart = y % 3 == 0 ? 3 : 140;
        int runLength = y % 3 == 0 ? 128 : y % 3 == 1 ? 129 : 1;
        for (int x = runStart; x < runStart + runLength && x < b.Width(); ++x)
            std::memcpy(row + x * bpp, row + runStart * bpp, bpp);
        if (bpp == 4)
            for (int x = 0; x < b.Width(); ++x) row[4 * x + 3] = 0;
        if (bpp == 2)
            for (int x = 0; x < b.Width(); ++x) row[2 * x + 1] &= 0x7F;
    }
}

Bytes Save(TTargaGraphic& g, bool compressed) {
    TMemoryStream m;
    g.SaveToStreamCompressed(m, compressed);
    return m.Bytes();
}

} // namespace

TEST(Targa, WriteThenReadGivesTheSamePixels) {
    const TPixelFormat formats[] = {TPixelFormat::pf8bit, TPixelFormat::pf15bit, TPixelFormat::pf24bit,
                                    TPixelFormat::pf32bit};
    uint32_t seed = 1;
    for (TPixelFormat format : formats)
        for (bool compressed : {false, true}) {
            TTargaGraphic g;
            g.SetPixelFormat(format);
            g.SetSize(301, 7);
            FillRuns(g, seed++);
            if (format == TPixelFormat::pf8bit) {
                std::vector<TRGBQuad> pal(256);
                Bytes c = PseudoRandomBytes(768, 4);
                for (int i = 0; i < 256; ++i) pal[i] = TRGBQuad{c[3 * i], c[3 * i + 1], c[3 * i + 2], 0};
                g.SetPalette(pal);
            }
            g.ImageID = "lumora";
            Bytes file = Save(g, compressed);
            EXPECT_EQ(file[17], 0x20);
            EXPECT_EQ(file[2], format == TPixelFormat::pf8bit ? (compressed ? 9 : 1) : (compressed ? 10 : 2));
            TMemoryStream m(file);
            TTargaGraphic back;
            back.LoadFromStream(m);
            EXPECT_EQ(back.ImageID, "lumora");
            EXPECT_EQ(m.Position(), m.Size());
            ASSERT_EQ(back.PixelFormat(), format);
            EXPECT_EQ(Colors(back), Colors(g)) << BitsPerPixel(format) << (compressed ? " RLE" : " raw");
            if (compressed) {
                EXPECT_LT(file.size(), 18 + 6 + 768 + 301u * 7 * BitsPerPixel(format) / 8);
            }
        }
}

TEST(Targa, BottomUpFilesShowTheirFirstRowAtTheBottom) {
    TTargaGraphic g;
    g.SetPixelFormat(TPixelFormat::pf24bit);
    g.SetSize(5, 4);
    FillRuns(g, 9);
    for (bool compressed : {false, true}) {
        Bytes top = Save(g, compressed);
        // Rewrite the file with the rows stored last to first and the origin at the bottom.
        Bytes bottom(top.begin(), top.begin() + 18);
        bottom[17] = 0;
        for (int y = 3; y >= 0; --y) {
            const auto* row = static_cast<const uint8_t*>(g.ScanLine(y));
            if (compressed) {
                Bytes packed(64);
                packed.resize(static_cast<size_t>(TargaRleEncode(row, packed.data(), 5, 3)));
                bottom.insert(bottom.end(), packed.begin(), packed.end());
            } else {
                bottom.insert(bottom.end(), row, row + 15);
            }
        }
        TMemoryStream m(bottom);
        TTargaGraphic back;
        back.LoadFromStream(m);
        EXPECT_EQ(Colors(back), Colors(g));
    }
}

TEST(Targa, PacketsAcrossRowsAndLongColourMapsAreRead) {
    // One run packet covering both rows of a 3x2 picture.
    Bytes file = {0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, 24, 0x20, 0x85, 1, 2, 3};
    TMemoryStream m(file);
    TTargaGraphic g;
    g.LoadFromStream(m);
    for (TColor c : Colors(g)) EXPECT_EQ(c, RGB(3, 2, 1));

    // A 300-entry colour map: its first 256 entries are the palette and the pixels follow all 300.
    Bytes mapped = {0, 1, 1, 0, 0, 0x2C, 0x01, 24, 0, 0, 0, 0, 2, 0, 1, 0, 8, 0x20};
    for (int i = 0; i < 300; ++i) mapped.insert(mapped.end(), {uint8_t(i), uint8_t(i / 2), 7});
    mapped.insert(mapped.end(), {200, 255});
    TMemoryStream mm(mapped);
    TTargaGraphic p;
    p.LoadFromStream(mm);
    EXPECT_EQ(Colors(p), (std::vector<TColor>{RGB(7, 100, 200), RGB(7, 127, 255)}));
}

TEST(Targa, BadFilesRaiseTheirMessages) {
    Bytes odd = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 12, 0x20};
    EXPECT_EQ(LoadError<TTargaGraphic>(odd), "Targa: invalid image");
    Bytes shortRaw = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2, 0, 24, 0x20, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(LoadError<TTargaGraphic>(shortRaw), "Targa: invalid image");
    EXPECT_EQ(LoadError<TTargaGraphic>(Bytes{0, 0, 2}), "Stream read error");

    // Files cut short are refused, not shown with black where their data ends, as netpbm's tgatoppm
    // refuses them; one too short for the size it declares is refused before the picture's memory is
    // taken (under a small pixel budget, taking it first would run out of memory instead).
    TempDir dir;
    auto targa = [](int type, int width, int height, int pixelSize, Bytes data) {
        Bytes f = {0, 0, uint8_t(type), 0, 0, 0, 0, 0, 0, 0, 0, 0, uint8_t(width), uint8_t(width >> 8),
                   uint8_t(height), uint8_t(height >> 8), uint8_t(pixelSize), 0x28};
        std::copy(data.begin(), data.end(), std::back_inserter(f));
        return f;
    };
    auto runs = [](int packets, int pixelsEach, int bpp) {
        Bytes d;
        for (int i = 0; i < packets; ++i) {
            d.push_back(uint8_t(0x80 | (pixelsEach - 1)));
            d.insert(d.end(), static_cast<size_t>(bpp), uint8_t(i * 7));
        }
        return d;
    };
    struct Cut {
        const char* what;
        Bytes file;
        const char* message;
    };
    const Cut cuts[] = {
        {"run-length, 100 x 100 x 32 with 50 bytes", targa(10, 100, 100, 32, Bytes(50, 0)), "Stream read error"},
        {"run-length, 12000 x 8000 x 32 with 50 bytes", targa(10, 12000, 8000, 32, Bytes(50, 0)), "Stream read error"},
        {"run-length, a literal packet cut short", targa(10, 4, 1, 24, {0x03, 9, 9, 9, 9, 9, 9}), "Stream read error"},
        {"run-length, a run packet without its pixel", targa(10, 4, 1, 24, {0x80, 9, 9, 9, 0x82}), "Stream read error"},
        {"run-length, enough bytes for runs of 128 but runs of 2", targa(10, 256, 2, 8, runs(4, 2, 1)),
         "Stream read error"},
        {"run-length grey, cut short", targa(11, 300, 2, 8, runs(4, 128, 1)), "Stream read error"},
        {"run-length, runs of 128 to the last pixel", targa(10, 256, 2, 16, runs(4, 128, 2)), ""},
        {"uncompressed, 100 x 100 x 32 with 50 bytes", targa(2, 100, 100, 32, Bytes(50, 0)), "Targa: invalid image"},
        {"uncompressed, 12000 x 8000 x 32 with 50 bytes", targa(2, 12000, 8000, 32, Bytes(50, 0)),
         "Targa: invalid image"},
        {"uncompressed, one byte short", targa(2, 3, 2, 24, Bytes(17, 1)), "Targa: invalid image"},
        {"uncompressed, whole", targa(2, 3, 2, 24, Bytes(18, 1)), ""},
    };
    const int64_t budget = PixelBudget();
    SetPixelBudget(20000);
    for (const Cut& c : cuts) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(LoadError<TTargaGraphic>(c.file), c.message);
        dir.WriteFile("in.tga", BytesToString(c.file));
        const bool netpbmReads = std::system(("tgatoppm " + dir.File("in.tga") + " >/dev/null 2>&1").c_str()) == 0;
        EXPECT_EQ(netpbmReads, std::string(c.message).empty());
    }
    SetPixelBudget(budget);

    // Kinds the loader does not read are refused instead of shown as a black or made-up picture;
    // netpbm's tgatoppm refuses the first ones too.
    auto refused = [&](int type, int mapType, int pixelSize, bool netpbmRefuses = true) {
        Bytes f = {0, uint8_t(mapType), uint8_t(type), 0, 0, uint8_t(mapType ? 2 : 0), 0, uint8_t(mapType ? 24 : 0),
                   0, 0, 0, 0, 3, 0, 1, 0, uint8_t(pixelSize), 0x20};
        f.resize(f.size() + 64, 0x55);
        dir.WriteFile("in.tga", BytesToString(f));
        if (netpbmRefuses) {
            EXPECT_NE(std::system(("tgatoppm " + dir.File("in.tga") + " >/dev/null 2>&1").c_str()), 0) << type;
        }
        return LoadError<TTargaGraphic>(f);
    };
    EXPECT_EQ(refused(0, 0, 24), "Targa: image type 0 not supported");
    EXPECT_EQ(refused(32, 1, 8), "Targa: image type 32 not supported");
    EXPECT_EQ(refused(33, 1, 8), "Targa: image type 33 not supported");
    EXPECT_EQ(refused(1, 0, 8), "Targa: colour-mapped image without a colour map not supported");
    EXPECT_EQ(refused(9, 0, 8), "Targa: colour-mapped image without a colour map not supported");
    EXPECT_EQ(refused(1, 1, 24, false), "Targa: colour-mapped pixels of 24 bits not supported");
    EXPECT_EQ(refused(11, 0, 24, false), "Targa: grey pixels of 24 bits not supported");
}

TEST(Transparency, TargaTiffAndGifShowTheBackgroundAsImageMagickFlattensThem) {
    // A magenta field whose alpha falls from opaque in the middle to clear in the corners, with a
    // square of green at half strength: what lies under clear pixels must never show.
    TempDir dir;
    const std::string source = dir.File("source.png");
    ASSERT_EQ(std::system(("convert -size 40x30 xc:magenta \\( -size 40x30 radial-gradient:white-black \\) "
                           "-alpha off -compose CopyOpacity -composite -fill '#00FF0080' "
                           "-draw 'rectangle 0,0 10,10' " + source).c_str()),
              0);
    // The source's pixels, for the kinds of file ImageMagick does not write.
    const std::string rgba = dir.File("source.rgba");
    ASSERT_EQ(std::system(("convert " + source + " -depth 8 rgba:" + rgba).c_str()), 0);
    const std::string sourceBytes = ReadFile(rgba);
    ASSERT_EQ(sourceBytes.size(), 40u * 30 * 4);
    // A top-down Targa of the source, each pixel stored by `pixel` from its RGBA bytes; run-length
    // types hold literal packets of up to 128 pixels.
    auto targaOf = [&](int type, int pixelSize, int alphaBits, auto pixel) {
        Bytes f = {0, 0, uint8_t(type), 0, 0, 0, 0, 0, 0, 0, 0, 0, 40, 0, 30, 0, uint8_t(pixelSize),
                   uint8_t(0x20 | alphaBits)};
        for (int at = 0; at < 40 * 30;) {
            const int n = std::min(128, 40 * 30 - at);
            if (type >= 9) f.push_back(static_cast<uint8_t>(n - 1));
            for (int i = at; i < at + n; ++i) {
                const auto* p = reinterpret_cast<const uint8_t*>(sourceBytes.data()) + 4 * i;
                const Bytes stored = pixel(p[0], p[1], p[2], p[3]);
                f.insert(f.end(), stored.begin(), stored.end());
            }
            at += n;
        }
        return BytesToString(f);
    };
    auto alpha1555 = [](uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
        const unsigned v = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3) | (a >= 128 ? 0x8000 : 0);
        return Bytes{uint8_t(v), uint8_t(v >> 8)};
    };
    // Grey and alpha: ImageMagick takes these pixels for 5-5-5 colour, so it flattens a 32-bit twin.
    auto greyAlpha = [](uint8_t r, uint8_t, uint8_t, uint8_t a) { return Bytes{r, a}; };
    auto greyAlphaTwin = [](uint8_t r, uint8_t, uint8_t, uint8_t a) { return Bytes{r, r, r, a}; };
    struct Case {
        const char* what;
        const char* file;
        std::string make; // convert's options between the source and the file
        std::function<std::unique_ptr<TGraphic>()> graphic;
        int tolerance = 1;
        // Files written here instead: the file itself, and the same picture as ImageMagick reads it.
        std::function<std::string()> write = nullptr, twin = nullptr;
    };
    auto targa = [] { return std::make_unique<TTargaGraphic>(); };
    auto tiff = [] { return std::make_unique<TTIFFGraphic>(); };
    auto gif = [] { return std::make_unique<TGIFImage>(); };
    const Case cases[] = {
        {"32-bit Targa", "a.tga", "-type TrueColorAlpha", targa},
        {"32-bit run-length Targa", "b.tga", "-type TrueColorAlpha -compress RLE", targa},
        {"RGBA TIFF, unassociated alpha", "c.tif", "-type TrueColorAlpha -compress none -define tiff:alpha=unassociated",
         tiff},
        {"RGBA TIFF, unassociated alpha, LZW", "d.tif",
         "-type TrueColorAlpha -compress lzw -define tiff:alpha=unassociated", tiff},
        {"RGBA TIFF, associated alpha", "e.tif", "-type TrueColorAlpha -compress lzw -define tiff:alpha=associated",
         tiff},
        {"RGBA TIFF of 16 bits, unassociated alpha", "f.tif",
         "-type TrueColorAlpha -depth 16 -compress lzw -define tiff:alpha=unassociated", tiff, 2},
        {"RGBA TIFF of 16 bits, associated alpha", "g.tif",
         "-type TrueColorAlpha -depth 16 -compress lzw -define tiff:alpha=associated", tiff, 2},
        {"GIF with a transparent colour", "h.gif", "", gif},
        {"GIF whose first frame lies inside its screen", "i.gif", "-crop 20x12+8+6", gif},
        {"TIFF turned on its side", "j.tif",
         "-type TrueColorAlpha -compress none -define tiff:alpha=unassociated -orient RightTop", tiff},
        {"16-bit Targa with an alpha bit", "k.tga", "", targa, 1, [&] { return targaOf(2, 16, 1, alpha1555); }},
        {"16-bit run-length Targa with an alpha bit", "l.tga", "", targa, 1,
         [&] { return targaOf(10, 16, 1, alpha1555); }},
        {"16-bit grey Targa with alpha", "m.tga", "", targa, 1, [&] { return targaOf(3, 16, 8, greyAlpha); },
         [&] { return targaOf(2, 32, 8, greyAlphaTwin); }},
        {"16-bit run-length grey Targa with alpha", "n.tga", "", targa, 1,
         [&] { return targaOf(11, 16, 8, greyAlpha); }, [&] { return targaOf(2, 32, 8, greyAlphaTwin); }},
    };
    for (const Case& c : cases) {
        const std::string file = dir.File(c.file);
        if (c.write)
            dir.WriteFile(c.file, c.write());
        else
            ASSERT_EQ(std::system(("convert " + source + " " + c.make + " " + file).c_str()), 0) << c.what;
        const std::string reference = c.twin ? dir.WriteFile(std::string("twin-") + c.file, c.twin()) : file;
        std::unique_ptr<TGraphic> picture = c.graphic();
        picture->LoadFromFile(file);
        for (TColor background : {TColor(0x00996633), clBlack, clWhite}) {
            const std::string what = std::string(c.what) + " over " + ColorText(background);
            TBitmap shown;
            AssignOverBackground(shown, picture.get(), background);
            ExpectPixelsNear(shown, FlattenWithImageMagick(reference, background), c.tolerance, what);
            EXPECT_FALSE(shown.Transparent()) << what;
        }
        // The picture itself keeps the colours under its clear pixels, and its pixels' byte 3 zero.
        if (auto* bitmap = dynamic_cast<TBitmap*>(picture.get())) {
            TBitmap plain;
            plain.Assign(*bitmap);
            plain.SetPixelFormat(TPixelFormat::pf32bit);
            uint32_t bytes3 = 0;
            for (int y = 0; y < plain.Height(); ++y)
                for (int x = 0; x < plain.Width(); ++x) bytes3 |= plain.Row32(y)[x] >> 24;
            EXPECT_EQ(bytes3, 0u) << c.what;
        }
    }

    // A 32-bit Targa whose descriptor gives its pixels no alpha bits is opaque, its fourth bytes
    // left unshown, as tgatoppm (and GIMP) show it; so the files the Targa writer makes stay opaque.
    const std::string opaque = dir.File("opaque.tga");
    ASSERT_EQ(std::system(("convert " + source + " -type TrueColorAlpha " + opaque).c_str()), 0);
    std::string bytes = ReadFile(opaque);
    bytes[17] = static_cast<char>(bytes[17] & 0xF0);
    dir.WriteFile("opaque.tga", bytes);
    ASSERT_EQ(std::system(("tgatoppm " + opaque + " > " + dir.File("opaque.ppm") + " 2>/dev/null").c_str()), 0);
    TTargaGraphic noAlphaBits;
    noAlphaBits.LoadFromFile(opaque);
    TBitmap shown;
    AssignOverBackground(shown, &noAlphaBits, clWhite);
    ExpectPixelsNear(shown, ReadPpm(dir.File("opaque.ppm")), 0, "32-bit Targa without alpha bits");
}

TEST(Targa, SixteenBitAndPaletteBitmapsAreWrittenAsTargaExpects) {
    TTargaGraphic g;
    g.SetPixelFormat(TPixelFormat::pf16bit);
    g.SetSize(2, 1);
    g.SetPixelColor(0, 0, RGB(255, 0, 0));
    g.SetPixelColor(1, 0, RGB(0, 255, 8));
    Bytes file = Save(g, true);
    TMemoryStream m(file);
    TTargaGraphic back;
    back.LoadFromStream(m);
    EXPECT_EQ(back.GetPixel(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(back.GetPixel(1, 0), RGB(0, 255, 8));

    int asked = 0, answer = 2;
    SetMessageReporter([&](const std::string& text, const std::string&, TMsgIcon, int) {
        ++asked;
        EXPECT_EQ(text, "Targa image: 1 or 4 bit color depth not allowed. Convert to 256 colors?");
        return answer;
    });
    TTargaGraphic four;
    four.SetPixelFormat(TPixelFormat::pf4bit);
    four.SetSize(3, 2);
    std::vector<TRGBQuad> pal(16);
    for (int i = 0; i < 16; ++i) pal[i] = TRGBQuad{uint8_t(i * 3), uint8_t(i * 5), uint8_t(i * 7), 0};
    four.SetPalette(pal);
    four.SetPixelColor(1, 1, RGB(14 * 7, 14 * 5, 14 * 3));
    std::vector<TColor> before = Colors(four);
    EXPECT_TRUE(Save(four, true).empty());
    answer = 1;
    Bytes converted = Save(four, true);
    SetMessageReporter(nullptr);
    EXPECT_EQ(asked, 2);
    TMemoryStream cm(converted);
    TTargaGraphic eight;
    eight.LoadFromStream(cm);
    EXPECT_EQ(eight.PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(Colors(eight), before);
}

namespace {

// A PCX file from its plane lines, run-length encoded or not.
Bytes MakePcx(int bitsPerPixel, int planes, int width, int height, int bytesPerLine, const Bytes& lines,
              bool encode, int paletteInfo = 1, int version = 5) {
    Bytes h(128, 0);
    h[0] = 10;
    h[1] = static_cast<uint8_t>(version);
    h[2] = encode ? 1 : 0;
    h[3] = static_cast<uint8_t>(bitsPerPixel);
    h[4] = 3; // XMin 3: the size is the difference
    h[8] = static_cast<uint8_t>(width + 2);
    h[10] = static_cast<uint8_t>(height - 1);
    for (int i = 0; i < 48; ++i) h[16 + i] = static_cast<uint8_t>(i * 5);
    h[65] = static_cast<uint8_t>(planes);
    h[66] = static_cast<uint8_t>(bytesPerLine);
    h[68] = static_cast<uint8_t>(paletteInfo);
    if (!encode) {
        h.insert(h.end(), lines.begin(), lines.end());
        return h;
    }
    for (size_t i = 0; i < lines.size();) {
        size_t n = 1;
        while (i + n < lines.size() && lines[i + n] == lines[i] && n < 63) ++n;
        if (n > 1 || (lines[i] & 0xC0) == 0xC0) {
            h.push_back(static_cast<uint8_t>(0xC0 | n));
            h.push_back(lines[i]);
        } else {
            h.push_back(lines[i]);
        }
        i += n;
    }
    return h;
}

} // namespace

TEST(Pcx, EveryPixelLayoutWithOddWidths) {
    const int width = 13, height = 3;
    for (bool encode : {false, true}) {
        // 24 bits: red, green and blue plane lines.
        Bytes lines;
        for (int y = 0; y < height; ++y)
            for (int p = 0; p < 3; ++p)
                for (int x = 0; x < 14; ++x) lines.push_back(static_cast<uint8_t>(x * 10 + p * 70 + y));
        TMemoryStream m24(MakePcx(8, 3, width, height, 14, lines, encode));
        TPCXGraphic g24;
        g24.LoadFromStream(m24);
        ASSERT_EQ(g24.PixelFormat(), TPixelFormat::pf24bit);
        EXPECT_EQ(g24.GetPixel(12, 2), RGB(122, 192, 6));

        // 4 bits: four one-bit planes, plane 3 the most significant bit.
        Bytes planes;
        for (int y = 0; y < height; ++y)
            for (int p = 0; p < 4; ++p) planes.insert(planes.end(), {uint8_t(p == y ? 0xAA : 0x0F), uint8_t(0xFF)});
        TMemoryStream m4(MakePcx(1, 4, width, height, 2, planes, encode));
        TPCXGraphic g4;
        g4.LoadFromStream(m4);
        ASSERT_EQ(g4.PixelFormat(), TPixelFormat::pf4bit);
        const auto* row = static_cast<const uint8_t*>(g4.ScanLine(1));
        // Pixel 0: plane 1 has bit 1 set, pixel 4: planes 0, 2, 3 have it (0x0F) and plane 1 not (0xAA).
        EXPECT_EQ(row[0] >> 4, 2);
        EXPECT_EQ(row[2] >> 4, 1 | 4 | 8 | 2);
        EXPECT_EQ(g4.GetPixel(0, 1), RGB(30, 35, 40)); // header colour 2

        // 8 bits with the closing palette.
        Bytes idx;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < 14; ++x) idx.push_back(static_cast<uint8_t>(x + 20 * y));
        Bytes f8 = MakePcx(8, 1, width, height, 14, idx, encode);
        f8.push_back(12);
        for (int i = 0; i < 256; ++i) f8.insert(f8.end(), {uint8_t(i), uint8_t(255 - i), 9});
        TMemoryStream m8(f8);
        TPCXGraphic g8;
        g8.LoadFromStream(m8);
        EXPECT_EQ(g8.GetPixel(12, 2), RGB(52, 203, 9));

        // 1 bit: black and white.
        Bytes bits;
        for (int y = 0; y < height; ++y) bits.insert(bits.end(), {0x80, 0x08});
        TMemoryStream m1(MakePcx(1, 1, width, height, 2, bits, encode));
        TPCXGraphic g1;
        g1.LoadFromStream(m1);
        EXPECT_EQ(g1.GetPixel(0, 0), clWhite);
        EXPECT_EQ(g1.GetPixel(12, 2), clWhite);
        EXPECT_EQ(g1.GetPixel(11, 2), clBlack);
    }
}

TEST(Pcx, MissingPaletteAndBadHeaders) {
    Bytes idx(4 * 2, 200);
    TMemoryStream m(MakePcx(8, 1, 4, 2, 4, idx, false));
    TPCXGraphic g;
    g.LoadFromStream(m);
    EXPECT_EQ(g.GetPixel(1, 1), RGB(200, 200, 200));

    Bytes bad = MakePcx(8, 1, 4, 2, 4, idx, false);
    bad[0] = 11;
    EXPECT_EQ(LoadError<TPCXGraphic>(bad), "Not a PCX or SCR file.");
    EXPECT_EQ(LoadError<TPCXGraphic>(MakePcx(2, 1, 4, 2, 4, idx, false)), "PCX: wrong pixel format");
    // Lines shorter than a row would make rows read the next line's bytes.
    EXPECT_EQ(LoadError<TPCXGraphic>(MakePcx(8, 3, 9, 2, 4, idx, false)), "PCX: wrong pixel format");
    // Run-length data that stops early is a file cut short.
    Bytes cut = MakePcx(8, 1, 4, 2, 4, {0xC3, 7}, false);
    cut[2] = 1;
    EXPECT_EQ(LoadError<TPCXGraphic>(cut), "Stream read error");

    // Data that could not fill the picture even at the run length's most, or stored plainly one byte
    // short, is refused before the picture's memory is taken; netpbm's pcxtoppm refuses the first too.
    TempDir dir;
    auto encoded = [](Bytes file) {
        file[2] = 1;
        return file;
    };
    Bytes runs;
    for (int i = 0; i < 50; ++i) runs.insert(runs.end(), {0xFF, 5});
    struct Short {
        const char* what;
        Bytes file;
        const char* message;
        bool netpbmSays = true; // pcxtoppm reads no plainly stored file
    };
    const Short shorts[] = {
        {"run-length, 2000 x 2000 x 24 with 100 bytes", encoded(MakePcx(8, 3, 2000, 2000, 2000, runs, false)),
         "Stream read error"},
        {"run-length, 4 x 2 x 24 of one run", encoded(MakePcx(8, 3, 4, 2, 4, {0xD8, 5}, false)), ""},
        {"stored, 4 x 2 x 24 one byte short", MakePcx(8, 3, 4, 2, 4, Bytes(23, 5), false), "Stream read error", false},
        {"stored, 4 x 2 x 24 whole", MakePcx(8, 3, 4, 2, 4, Bytes(24, 5), false), "", false},
    };
    for (const Short& c : shorts) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(LoadError<TPCXGraphic>(c.file), c.message);
        if (!c.netpbmSays) continue;
        dir.WriteFile("in.pcx", BytesToString(c.file));
        const bool netpbmReads = std::system(("pcxtoppm " + dir.File("in.pcx") + " >/dev/null 2>&1").c_str()) == 0;
        EXPECT_EQ(netpbmReads, std::string(c.message).empty());
    }
}

namespace {

int WriteGifBytes(GifFileType* gif, const GifByteType* data, int n) {
    auto* out = static_cast<Bytes*>(gif->UserData);
    out->insert(out->end(), data, data + n);
    return n;
}

// A GIF written by giflib: one image, rows given in the order the file stores them.
Bytes MakeGif(int width, int height, int colors, bool interlace, const Bytes& pixels, bool withExtension) {
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteGifBytes, &error);
    std::vector<GifColorType> map(colors);
    for (int i = 0; i < colors; ++i) map[i] = GifColorType{uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)};
    ColorMapObject* cmap = GifMakeMapObject(colors, map.data());
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, width, height, 8, 0, cmap);
    if (withExtension) {
        const GifByteType control[4] = {0x00, 0x2C, 0x00, 0x00}; // a delay whose byte is ','
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
        EGifPutComment(gif, "a; comment, with separators!");
    }
    EGifPutImageDesc(gif, 0, 0, width, height, interlace, nullptr);
    std::vector<int> order;
    if (interlace) {
        const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
        for (int p = 0; p < 4; ++p)
            for (int y = start[p]; y < height; y += step[p]) order.push_back(y);
    } else {
        for (int y = 0; y < height; ++y) order.push_back(y);
    }
    for (int y : order) EGifPutLine(gif, const_cast<GifPixelType*>(pixels.data() + y * width), width);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(cmap);
    return out;
}

} // namespace

TEST(Gif, FirstImageDecodesLikeGiflibWroteItInBothRowOrders) {
    const int width = 97, height = 61;
    for (int colors : {2, 16, 256})
        for (bool interlace : {false, true}) {
            Bytes pixels = PseudoRandomBytes(static_cast<size_t>(width) * height, colors);
            for (size_t i = 0; i < pixels.size(); ++i) {
                if (i % 11 < 6 && i > 0) pixels[i] = pixels[i - 1];
                pixels[i] = static_cast<uint8_t>(pixels[i] % colors);
            }
            Bytes file = MakeGif(width, height, colors, interlace, pixels, true);
            TMemoryStream m(file);
            TGIFGraphic g;
            g.LoadFromStream(m);
            ASSERT_EQ(g.Width(), width);
            ASSERT_EQ(g.PixelFormat(), TPixelFormat::pf8bit);
            for (int y = 0; y < height; ++y)
                ASSERT_EQ(std::memcmp(g.ScanLine(y), pixels.data() + y * width, width), 0)
                    << colors << " colours, row " << y << (interlace ? " interlaced" : "");
            EXPECT_EQ(g.GetPixel(5, 5), RGB(pixels[5 * width + 5], 255 - pixels[5 * width + 5],
                                            uint8_t(pixels[5 * width + 5] * 3)));
        }
}

TEST(Gif, BadFilesRaiseTheirMessages) {
    Bytes pixels(16, 1);
    Bytes good = MakeGif(4, 4, 4, false, pixels, false);
    Bytes notGif = good;
    notGif[0] = 'J';
    EXPECT_EQ(LoadError<TGIFGraphic>(notGif), "Not a valid GIF file.");
    Bytes lower = good;
    lower[0] = 'g';
    EXPECT_EQ(LoadError<TGIFGraphic>(lower), "");
    // Code size byte right after the 13-byte header, the 12-byte colour table and the image descriptor.
    const size_t codeSize = 13 + 12 + 10;
    ASSERT_EQ(good[codeSize - 10], ',');
    for (uint8_t bad : {0, 12, 200}) {
        Bytes b = good;
        b[codeSize] = bad;
        EXPECT_EQ(LoadError<TGIFGraphic>(b), "GIF LZW: invalid opcode.") << int(bad);
    }
    // No image at all: an empty bitmap.
    Bytes empty(good.begin(), good.begin() + 13 + 12);
    empty.push_back(';');
    TMemoryStream m(empty);
    TGIFGraphic g;
    g.LoadFromStream(m);
    EXPECT_TRUE(g.Empty());
}

TEST(Gif, ImageWithACodeSizeBeyondTheDecoderIsPassedOverToTheNextOne) {
    // Two images written by giflib, the second with its own colour table; then the first image's
    // minimum code size is raised beyond what a 12-bit table serves. The first image's data holds
    // bytes that read like block starts, so only skipping its sub-blocks finds the second image.
    const int width = 45, height = 31;
    Bytes first = PseudoRandomBytes(static_cast<size_t>(width) * height, 11), second = PseudoRandomBytes(first.size(), 3);
    for (auto& v : first) v &= 15;
    for (auto& v : second) v &= 15;
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteGifBytes, &error);
    std::vector<GifColorType> colours(16), local(16);
    for (int i = 0; i < 16; ++i) {
        colours[i] = GifColorType{uint8_t(i), 0, 0};
        local[i] = GifColorType{0, uint8_t(i * 16), 7};
    }
    ColorMapObject* globalMap = GifMakeMapObject(16, colours.data());
    ColorMapObject* localMap = GifMakeMapObject(16, local.data());
    EGifPutScreenDesc(gif, width, height, 8, 0, globalMap);
    EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr);
    for (int y = 0; y < height; ++y) EGifPutLine(gif, first.data() + y * width, width);
    EGifPutImageDesc(gif, 0, 0, width, height, false, localMap);
    for (int y = 0; y < height; ++y) EGifPutLine(gif, second.data() + y * width, width);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(globalMap);
    GifFreeMapObject(localMap);
    const size_t codeSize = 13 + 48 + 10;
    ASSERT_EQ(out[codeSize - 10], ',');
    size_t next = codeSize + 1;
    while (out[next] != 0) next += out[next] + 1u;
    ++next;
    ASSERT_EQ(out[next], ',');
    const Bytes skipped(out.begin() + codeSize + 1, out.begin() + static_cast<long>(next));
    for (uint8_t c : {',', '!', ';'}) ASSERT_NE(std::find(skipped.begin(), skipped.end(), c), skipped.end()) << c;
    out[codeSize] = 12;

    TMemoryStream m(out);
    TGIFGraphic g;
    g.LoadFromStream(m);
    ASSERT_EQ(g.Width(), width);
    for (int y = 0; y < height; ++y) ASSERT_EQ(std::memcmp(g.ScanLine(y), second.data() + y * width, width), 0) << y;
    EXPECT_EQ(g.GetPixel(3, 2), RGB(0, second[2 * width + 3] * 16, 7));

    // The GIF image class leaves the image out and shows the next one: not a flat colour.
    TGIFImage image;
    TMemoryStream again(out);
    image.LoadFromStream(again);
    ASSERT_EQ(image.Images().Count(), 1);
    EXPECT_EQ(Bytes(image.Images()[0]->Data(), image.Images()[0]->Data() + image.Images()[0]->DataSize()), second);
    TBitmap shown;
    shown.Assign(&image);
    shown.SetPixelFormat(TPixelFormat::pf32bit);
    EXPECT_EQ(shown.GetPixel(3, 2), RGB(0, second[2 * width + 3] * 16, 7));

    // With no other image both refuse the file, as giflib does.
    Bytes alone(out.begin(), out.begin() + static_cast<long>(next));
    alone.push_back(';');
    EXPECT_EQ(LoadError<TGIFGraphic>(alone), "GIF LZW: invalid opcode.");
    EXPECT_EQ(LoadError<TGIFImage>(alone), "Unsupported LZW code size");
}

TEST(Decoders, LzwRejectsCodesTheTableDoesNotHold) {
    // TIFF: 9-bit codes, most significant bit first.
    auto pack9 = [](std::initializer_list<unsigned> codes) {
        Bytes out;
        uint32_t acc = 0;
        int held = 0;
        for (unsigned c : codes) {
            acc = (acc << 9) | c;
            held += 9;
            while (held >= 8) {
                out.push_back(static_cast<uint8_t>(acc >> (held - 8)));
                held -= 8;
            }
        }
        if (held) out.push_back(static_cast<uint8_t>(acc << (8 - held)));
        return out;
    };
    auto decode = [](const Bytes& in, size_t outSize) {
        Bytes out(outSize, 0xEE);
        const uint8_t* p = in.data();
        TTIFFLZW lzw;
        int64_t n = lzw.Decode(p, out.data(), static_cast<int64_t>(in.size()), static_cast<int64_t>(outSize));
        out.resize(static_cast<size_t>(n));
        return out;
    };
    // A, B, AB, then the string being defined (ABA).
    EXPECT_EQ(decode(pack9({256, 65, 66, 258, 260, 257}), 16), (Bytes{65, 66, 65, 66, 65, 66, 65}));
    EXPECT_THROW(decode(pack9({256, 300, 257}), 16), EInvalidGraphic);
    EXPECT_THROW(decode(pack9({256, 258, 257}), 16), EInvalidGraphic);
    EXPECT_THROW(decode(pack9({256, 65, 261, 257}), 16), EInvalidGraphic);
    try {
        decode(pack9({256, 65, 300}), 16);
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), "TIF LZW: invalid opcode.");
    }
    // The output never passes its end, even inside a string.
    EXPECT_EQ(decode(pack9({256, 65, 66, 258, 260, 257}), 5), (Bytes{65, 66, 65, 66, 65}));
}

TEST(Decoders, RunLengthDecodersStopAtTheEndOfEitherSide) {
    auto packbits = [](const Bytes& in, size_t outSize) {
        Bytes out(outSize, 0);
        const uint8_t* p = in.data();
        TPackbitsRLE().Decode(p, out.data(), static_cast<int64_t>(in.size()), static_cast<int64_t>(outSize));
        return out;
    };
    EXPECT_EQ(packbits({2, 1, 2, 3, 0xFE, 9, 0x80, 0, 4}, 8), (Bytes{1, 2, 3, 9, 9, 9, 4, 0}));
    EXPECT_EQ(packbits({5, 1, 2}, 6), (Bytes{1, 2, 0, 0, 0, 0}));      // literal cut by the data's end
    EXPECT_EQ(packbits({0x81, 7}, 4), (Bytes{7, 7, 7, 7}));            // run cut by the output's end
    EXPECT_EQ(packbits({0x81}, 3), (Bytes{0, 0, 0}));                  // run without its byte

    auto pcx = [](const Bytes& in, size_t outSize) {
        Bytes out(outSize, 0);
        const uint8_t* p = in.data();
        TPCXRLE().Decode(p, out.data(), static_cast<int64_t>(in.size()), static_cast<int64_t>(outSize));
        return out;
    };
    EXPECT_EQ(pcx({0xC3, 5, 1, 0xC1, 0xC7}, 6), (Bytes{5, 5, 5, 1, 0xC7, 0}));
    EXPECT_EQ(pcx({0xFF, 5}, 4), (Bytes{5, 5, 5, 5}));
    EXPECT_EQ(pcx({1, 0xC5}, 4), (Bytes{1, 0, 0, 0}));

    Bytes out(6, 0);
    const Bytes raw = {0x7F, 1, 2, 3};
    EXPECT_EQ(TargaRleDecode(raw.data(), 4, out.data(), 6, 24), 4);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 0, 0, 0}));
}

TEST(Decoders, TargaEncoderPacksRunsAndLiteralsWithin128Pixels) {
    Bytes px(300, 0);
    for (int i = 0; i < 40; ++i) px[i] = static_cast<uint8_t>(i + 1);
    for (int i = 40; i < 300; ++i) px[i] = 0xAB;
    Bytes packed(600);
    packed.resize(static_cast<size_t>(TargaRleEncode(px.data(), packed.data(), 300, 1)));
    EXPECT_EQ(packed[0], 39);        // 40 literals
    EXPECT_EQ(packed[41], 0x80 | 127); // a run of 128
    Bytes back(300, 0);
    EXPECT_EQ(TargaRleDecode(packed.data(), static_cast<int64_t>(packed.size()), back.data(), 300, 8),
              static_cast<int64_t>(packed.size()));
    EXPECT_EQ(back, px);
    EXPECT_EQ(CountLiteralPixels(px.data(), 1, 1), 1);
    EXPECT_EQ(CountRepeatedPixels(px.data() + 40, 260, 1), 128);
    const uint8_t two[] = {1, 2, 1, 3};
    EXPECT_EQ(ReadPackedPixel(two, 2), 0x0102u);
}

namespace {

// A small TIFF built by hand: entries (tag, type, count, value bytes) and trailing data.
struct TiffEntry {
    uint16_t tag, type;
    uint32_t count;
    Bytes value;
};

Bytes MakeTiff(bool big, std::vector<TiffEntry> entries, const Bytes& data) {
    auto u16 = [&](Bytes& o, unsigned v) {
        if (big) o.insert(o.end(), {uint8_t(v >> 8), uint8_t(v)});
        else o.insert(o.end(), {uint8_t(v), uint8_t(v >> 8)});
    };
    auto u32 = [&](Bytes& o, uint32_t v) {
        if (big) o.insert(o.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)});
        else o.insert(o.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    };
    Bytes o = big ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
    u16(o, 42);
    u32(o, 8);
    u16(o, static_cast<unsigned>(entries.size()));
    for (auto& e : entries) {
        u16(o, e.tag);
        u16(o, e.type);
        u32(o, e.count);
        Bytes v = e.value;
        v.resize(4, 0);
        o.insert(o.end(), v.begin(), v.end());
    }
    u32(o, 0);
    o.insert(o.end(), data.begin(), data.end());
    return o;
}

Bytes Short(bool big, unsigned v) { return big ? Bytes{uint8_t(v >> 8), uint8_t(v)} : Bytes{uint8_t(v), uint8_t(v >> 8)}; }
Bytes Long(bool big, uint32_t v) {
    return big ? Bytes{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}
               : Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

// A 2x2 8-bit grey picture whose pixel bytes follow a directory of `extra` more entries.
Bytes GreyTiff(bool big, std::vector<TiffEntry> extra, bool byteTyped = false) {
    const uint32_t dataAt = 8 + 2 + 12 * static_cast<uint32_t>(7 + extra.size()) + 4;
    std::vector<TiffEntry> e = {
        {256, 3, 1, Short(big, 2)},
        {257, 3, 1, Short(big, 2)},
        {258, static_cast<uint16_t>(byteTyped ? 1 : 3), 1, byteTyped ? Bytes{8} : Short(big, 8)},
        {259, 3, 1, Short(big, 1)},
        {262, 3, 1, Short(big, 1)},
        {273, 4, 1, Long(big, dataAt)},
        {279, 4, 1, Long(big, 4)},
    };
    for (auto& x : extra) {
        auto same = std::find_if(e.begin(), e.end(), [&](const TiffEntry& y) { return y.tag == x.tag; });
        if (same != e.end()) *same = x;
        else e.push_back(x);
    }
    std::sort(e.begin(), e.end(), [](const TiffEntry& a, const TiffEntry& b) { return a.tag < b.tag; });
    return MakeTiff(big, e, {10, 20, 30, 40});
}

} // namespace

TEST(TiffLoader, HandMadeDirectoriesAndTheirErrors) {
    for (bool big : {false, true}) {
        // A BYTE-typed tag holds its value in the entry's first byte in either byte order.
        TMemoryStream m(GreyTiff(big, {}, true));
        TTIFFGraphic g;
        g.LoadFromStream(m);
        EXPECT_EQ(Colors(g), (std::vector<TColor>{RGB(10, 10, 10), RGB(20, 20, 20), RGB(30, 30, 30), RGB(40, 40, 40)}));

        Bytes version = GreyTiff(big, {});
        version[big ? 3 : 2] = 43;
        EXPECT_EQ(LoadError<TTIFFGraphic>(version), "Invalid TIFF file.");
        EXPECT_EQ(LoadError<TTIFFGraphic>(GreyTiff(big, {{259, 3, 1, Short(big, 7)}})),
                  "TIFF: Unknown compression scheme");
        // A 16-bit palette picture does not fit a palette.
        std::vector<TiffEntry> e = {{256, 3, 1, Short(big, 1)}, {257, 3, 1, Short(big, 1)},
                                    {258, 3, 1, Short(big, 16)}, {259, 3, 1, Short(big, 1)},
                                    {262, 3, 1, Short(big, 3)},  {273, 4, 1, Long(big, 0)}};
        EXPECT_EQ(LoadError<TTIFFGraphic>(MakeTiff(big, e, {})), "Invalid TIFF file.");
        e[0].value = Short(big, 0);
        e[4].value = Short(big, 1);
        EXPECT_EQ(LoadError<TTIFFGraphic>(MakeTiff(big, e, {})), "Invalid TIFF file.");
        // A strip table that points past the file.
        e[0].value = Short(big, 1);
        e[2].value = Short(big, 8);
        e[5].value = Long(big, 1000);
        EXPECT_EQ(LoadError<TTIFFGraphic>(MakeTiff(big, e, {})), "Stream read error");
        // A list longer than the file.
        EXPECT_EQ(LoadError<TTIFFGraphic>(GreyTiff(big, {{258, 3, 0x40000000, Long(big, 8)}})), "Invalid TIFF file.");
        // A 3000 x 3000 strip of four bytes, which neither LZW nor PackBits can make that many rows of:
        // refused before the picture's memory is taken.
        for (unsigned compression : {5u, 32773u}) {
            const std::vector<TiffEntry> huge = {{256, 3, 1, Short(big, 3000)},       {257, 3, 1, Short(big, 3000)},
                                                 {258, 3, 1, Short(big, 8)},          {259, 3, 1, Short(big, compression)},
                                                 {262, 3, 1, Short(big, 1)},          {273, 4, 1, Long(big, 8 + 2 + 12 * 7 + 4)},
                                                 {279, 4, 1, Long(big, 4)}};
            EXPECT_EQ(LoadError<TTIFFGraphic>(MakeTiff(big, huge, {0x80, 0, 0, 0})), "Stream read error") << compression;
        }
    }
    // Without RowsPerStrip one strip holds the whole picture; two strips with two offsets of type SHORT.
    std::vector<TiffEntry> e = {{256, 3, 1, Short(false, 2)}, {257, 3, 1, Short(false, 2)},
                                {258, 3, 1, Short(false, 8)}, {262, 3, 1, Short(false, 1)},
                                {273, 3, 2, {}},              {278, 3, 1, Short(false, 1)}};
    const uint16_t dataAt = 8 + 2 + 12 * 6 + 4;
    e[4].value = Short(false, dataAt);
    Bytes second = Short(false, dataAt + 2);
    e[4].value.insert(e[4].value.end(), second.begin(), second.end());
    TMemoryStream m(MakeTiff(false, e, {1, 2, 3, 4}));
    TTIFFGraphic g;
    g.LoadFromStream(m);
    EXPECT_EQ(g.GetPixel(1, 1), RGB(4, 4, 4));
}

TEST(TiffLoader, RowsNoStripReachesAreBlackEvenInAReusedBitmap) {
    // 64 x 40 RGB in strips of 8 rows, of which the file holds only the first `strips`.
    auto rgbStrips = [](uint32_t strips, uint8_t fill) {
        const uint32_t stripBytes = 8 * 64 * 3, dataAt = 8 + 2 + 12 * 9 + 4, pixelsAt = dataAt + 8 * strips;
        Bytes data;
        for (uint32_t i = 0; i < 2 * strips; ++i) {
            Bytes v = Long(false, i < strips ? pixelsAt + i * stripBytes : stripBytes);
            data.insert(data.end(), v.begin(), v.end());
        }
        data.resize(data.size() + strips * stripBytes, fill);
        return MakeTiff(false,
                        {{256, 3, 1, Short(false, 64)},
                         {257, 3, 1, Short(false, 40)},
                         {258, 3, 1, Short(false, 8)},
                         {259, 3, 1, Short(false, 1)},
                         {262, 3, 1, Short(false, 2)},
                         {273, 4, strips, Long(false, dataAt)},
                         {277, 3, 1, Short(false, 3)},
                         {278, 3, 1, Short(false, 8)},
                         {279, 4, strips, Long(false, dataAt + 4 * strips)}},
                        data);
    };
    TTIFFGraphic g;
    TMemoryStream whole(rgbStrips(5, 0xAB));
    g.LoadFromStream(whole);
    EXPECT_EQ(g.GetPixel(63, 39), RGB(0xAB, 0xAB, 0xAB));
    // The same size again, so the new pixels may well land where the old ones were.
    TMemoryStream part(rgbStrips(2, 0x40));
    g.LoadFromStream(part);
    EXPECT_EQ(g.GetPixel(63, 15), RGB(0x40, 0x40, 0x40));
    int notBlack = 0;
    for (int y = 16; y < 40; ++y)
        for (int x = 0; x < 64; ++x) notBlack += g.GetPixel(x, y) != clBlack;
    EXPECT_EQ(notBlack, 0);
}

TEST(Registry, LoadersAreFoundByExtensionAndPngComesLast) {
    RegisterGraphicFormats();
    RegisterPngFormat();
    EXPECT_NE(dynamic_cast<TTIFFGraphic*>(FindGraphicClass("TIF")().get()), nullptr);
    EXPECT_NE(dynamic_cast<TTIFFGraphic*>(FindGraphicClass("tiff")().get()), nullptr);
    EXPECT_NE(dynamic_cast<TTargaGraphic*>(FindGraphicClass("tga")().get()), nullptr);
    EXPECT_NE(dynamic_cast<TPCXGraphic*>(FindGraphicClass(".pcx")().get()), nullptr);
    EXPECT_NE(dynamic_cast<TGIFGraphic*>(FindGraphicClass("gif")().get()), nullptr);
    EXPECT_NE(dynamic_cast<TPngImage*>(FindGraphicClass("png")().get()), nullptr);
}

TEST(Decoders, ChannelSwapsGiveTheSameBytesAtEveryLengthAndInPlace) {
    for (int64_t n : {0, 1, 5, 6, 15, 16, 17, 31, 32, 33, 100}) {
        Bytes src = PseudoRandomBytes(static_cast<size_t>(4 * n + 1), static_cast<uint32_t>(n));
        Bytes want(static_cast<size_t>(3 * n)), alphaWant(static_cast<size_t>(n));
        for (int64_t i = 0; i < n; ++i) {
            want[3 * i] = src[3 * i + 2];
            want[3 * i + 1] = src[3 * i + 1];
            want[3 * i + 2] = src[3 * i];
        }
        // Sized exactly, so the sanitizer build sees any store past the row.
        Bytes out(static_cast<size_t>(3 * n), 0);
        SwapRedBlue24(src.data(), out.data(), n);
        EXPECT_TRUE(std::equal(want.begin(), want.end(), out.begin())) << n;
        Bytes inPlace(src.begin(), src.begin() + 3 * n);
        SwapRedBlue24(inPlace.data(), inPlace.data(), n);
        EXPECT_EQ(inPlace, want) << n;

        for (int64_t i = 0; i < n; ++i) {
            want[3 * i] = src[4 * i + 2];
            want[3 * i + 1] = src[4 * i + 1];
            want[3 * i + 2] = src[4 * i];
            alphaWant[i] = static_cast<uint8_t>(255 - src[4 * i + 3]);
        }
        Bytes alpha(static_cast<size_t>(n), 0);
        RgbaToBgr(src.data(), out.data(), alpha.data(), n);
        EXPECT_TRUE(std::equal(want.begin(), want.end(), out.begin())) << n;
        EXPECT_TRUE(std::equal(alphaWant.begin(), alphaWant.end(), alpha.begin())) << n;
        RgbaToBgr(src.data(), out.data(), nullptr, n);
        EXPECT_TRUE(std::equal(want.begin(), want.end(), out.begin())) << n;
    }
}
