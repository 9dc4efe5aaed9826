// Targa and PCX files made by the tests (and by netpbm's own writer) decode as netpbm's tgatoppm and
// pcxtoppm (and, for Targa, ImageMagick) show them: every pixel layout, colour maps of 15, 16, 24 and 32 bits starting at any index,
// 16-bit indexes, run-length data, every origin corner, and the version 3 PCX palette.

#include <cstdlib>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "pictures/formats/GraphicFormats.h"
#include "platform/display/Bell.h"
#include "tests/pictures/PictureTestUtil.h"
#include "tests/support/TempDir.h"

using namespace lumora;
using namespace lumora::test;

namespace {

struct Pnm {
    int width = 0, height = 0, maxval = 0;
    std::vector<TColor> colors; // 0x00BBGGRR, at the file's maxval
};

// Runs a converter on a file and reads the PPM or PGM it writes: a netpbm tool given the file, or
// ImageMagick's convert turning a Targa file upright.
Pnm Convert(const TempDir& dir, const std::string& tool, const Bytes& file) {
    const std::string in = dir.File("in"), out = dir.File("out.pnm");
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), file.size());
    Pnm p;
    const std::string command = tool == "convert" ? "convert tga:" + in + " -auto-orient -depth 8 ppm:" + out
                                                  : tool + " " + in + " > " + out;
    if (std::system((command + " 2>/dev/null").c_str()) != 0) return p;
    std::ifstream s(out, std::ios::binary);
    std::string magic;
    s >> magic >> p.width >> p.height >> p.maxval;
    s.get();
    const int channels = magic == "P6" ? 3 : 1;
    for (int i = 0; i < p.width * p.height; ++i) {
        uint8_t v[3];
        s.read(reinterpret_cast<char*>(v), channels);
        p.colors.push_back(channels == 3 ? RGB(v[0], v[1], v[2]) : RGB(v[0], v[0], v[0]));
    }
    if (!s) p.colors.clear();
    return p;
}

// Our pixels, narrowed to the reference's maxval (netpbm gives 5-bit channels as they are).
void ExpectSamePixels(TBitmap& ours, const Pnm& want) {
    ASSERT_FALSE(want.colors.empty()) << "the reference could not read the file";
    ASSERT_EQ(ours.Width(), want.width);
    ASSERT_EQ(ours.Height(), want.height);
    const int shift = want.maxval == 31 ? 3 : 0;
    int bad = 0;
    for (int y = 0; y < want.height && bad < 3; ++y)
        for (int x = 0; x < want.width && bad < 3; ++x) {
            const TColor c = ours.GetPixel(x, y);
            const TColor narrowed = RGB(GetRValue(c) >> shift, GetGValue(c) >> shift, GetBValue(c) >> shift);
            if (narrowed != want.colors[static_cast<size_t>(y) * want.width + x]) {
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << narrowed << ", netpbm shows "
                              << want.colors[static_cast<size_t>(y) * want.width + x];
                ++bad;
            }
        }
}

template <class Graphic> void ExpectLikeNetpbm(const TempDir& dir, const std::string& tool, const Bytes& file) {
    Graphic g;
    TMemoryStream m(file);
    g.LoadFromStream(m);
    ExpectSamePixels(g, Convert(dir, tool, file));
}

void Put16(Bytes& b, int v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }

// Run-length packets of one row of pixels, never crossing the row's end.
void TargaRle(Bytes& out, const uint8_t* row, int width, int bpp) {
    auto same = [&](int a, int b) { return std::memcmp(row + a * bpp, row + b * bpp, bpp) == 0; };
    for (int x = 0; x < width;) {
        int run = 1;
        while (x + run < width && run < 128 && same(x, x + run)) ++run;
        if (run > 1) {
            out.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
            out.insert(out.end(), row + x * bpp, row + (x + 1) * bpp);
            x += run;
            continue;
        }
        int raw = 1;
        while (x + raw < width && raw < 128 && !(x + raw + 1 < width && same(x + raw, x + raw + 1))) ++raw;
        out.push_back(static_cast<uint8_t>(raw - 1));
        out.insert(out.end(), row + x * bpp, row + (x + raw) * bpp);
        x += raw;
    }
}

const int kTargaWidth = 23, kTargaHeight = 9;

// A Targa file of the given stored pixels (rows as stored), with a colour map when map is not empty.
// descriptor holds the origin bits: 0x10 right to left, 0x20 top down.
Bytes TargaFile(int type, int pixelSize, int descriptor, const Bytes& map, int mapEntrySize, int mapOrigin,
                const Bytes& pixels) {
    const int bpp = (pixelSize + 7) / 8;
    const int mapLength = map.empty() ? 0 : static_cast<int>(map.size()) / ((mapEntrySize + 7) / 8);
    Bytes f = {0, uint8_t(map.empty() ? 0 : 1), uint8_t(type)};
    Put16(f, mapOrigin);
    Put16(f, mapLength);
    f.push_back(static_cast<uint8_t>(map.empty() ? 0 : mapEntrySize));
    Put16(f, 0);
    Put16(f, 0);
    Put16(f, kTargaWidth);
    Put16(f, kTargaHeight);
    f.push_back(static_cast<uint8_t>(pixelSize));
    f.push_back(static_cast<uint8_t>(descriptor | (pixelSize == 32 ? 8 : 0)));
    f.insert(f.end(), map.begin(), map.end());
    if (type < 9) {
        f.insert(f.end(), pixels.begin(), pixels.end());
    } else {
        for (int y = 0; y < kTargaHeight; ++y)
            TargaRle(f, pixels.data() + static_cast<size_t>(y) * kTargaWidth * bpp, kTargaWidth, bpp);
    }
    return f;
}

// Random pixels with runs; colour-mapped ones (8- or 16-bit indexes) point into a map of mapLength
// entries that starts at index mapOrigin.
Bytes TargaPixels(int pixelSize, bool mapped, int mapOrigin, int mapLength, uint32_t seed) {
    const int bpp = (pixelSize + 7) / 8, count = kTargaWidth * kTargaHeight;
    Bytes pixels = PseudoRandomBytes(static_cast<size_t>(count) * bpp, seed);
    for (int i = 0; i < count; ++i) {
        uint8_t* p = pixels.data() + static_cast<size_t>(i) * bpp;
        if (mapped) {
            const int index = mapOrigin + (bpp == 2 ? p[0] | (p[1] << 8) : p[0]) % mapLength;
            p[0] = static_cast<uint8_t>(index);
            if (bpp == 2) p[1] = static_cast<uint8_t>(index >> 8);
        }
        if ((i / 4) % 2 == 0 && i > 0) std::memcpy(p, p - bpp, bpp); // runs
    }
    return pixels;
}

Bytes MakeTarga(int type, int pixelSize, int mapEntrySize, int descriptor, uint32_t seed, int mapOrigin = 0,
                int mapLength = 200) {
    const bool mapped = type == 1 || type == 9;
    const Bytes map = mapped ? PseudoRandomBytes(static_cast<size_t>(mapLength) * ((mapEntrySize + 7) / 8), seed + 1)
                             : Bytes();
    return TargaFile(type, pixelSize, descriptor, map, mapEntrySize, mapOrigin,
                     TargaPixels(pixelSize, mapped, mapOrigin, mapLength, seed));
}

// A run-length PCX file from its plane lines and a 16-colour header palette.
Bytes MakePcx(int bitsPerPixel, int planes, int width, int height, int bytesPerLine, const Bytes& lines,
              const Bytes& headerPalette, int version = 5) {
    Bytes f(128, 0);
    f[0] = 10;
    f[1] = static_cast<uint8_t>(version);
    f[2] = 1;
    f[3] = static_cast<uint8_t>(bitsPerPixel);
    f[8] = static_cast<uint8_t>(width - 1);
    f[10] = static_cast<uint8_t>(height - 1);
    std::copy(headerPalette.begin(), headerPalette.end(), f.begin() + 16);
    f[65] = static_cast<uint8_t>(planes);
    f[66] = static_cast<uint8_t>(bytesPerLine);
    f[68] = 1;
    for (size_t i = 0; i < lines.size();) {
        size_t n = 1;
        while (i + n < lines.size() && lines[i + n] == lines[i] && n < 63) ++n;
        if (n > 1 || (lines[i] & 0xC0) == 0xC0) f.push_back(static_cast<uint8_t>(0xC0 | n));
        f.push_back(lines[i]);
        i += n;
    }
    return f;
}

// The system's 16 default colours, which version 3 files show.
const TColor kDefaultColours[16] = {RGB(0, 0, 0),       RGB(128, 0, 0),   RGB(0, 128, 0),   RGB(128, 128, 0),
                                    RGB(0, 0, 128),     RGB(128, 0, 128), RGB(0, 128, 128), RGB(192, 192, 192),
                                    RGB(128, 128, 128), RGB(255, 0, 0),   RGB(0, 255, 0),   RGB(255, 255, 0),
                                    RGB(0, 0, 255),     RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255)};

} // namespace

// Our reading of a Targa file against tgatoppm's, which keeps rows left to right whatever the
// descriptor says, and against ImageMagick's turned upright, which reads every layout but 16-bit
// indexes. twin, when given, is a file of the same picture that the references read in its place.
void ExpectTargaLikeReferences(const TempDir& dir, const Bytes& file, const Bytes& twin = {}) {
    const Bytes& reference = twin.empty() ? file : twin;
    TTargaGraphic g;
    TMemoryStream m(file);
    g.LoadFromStream(m);
    if (!(reference[17] & 0x10)) {
        SCOPED_TRACE("tgatoppm");
        ExpectSamePixels(g, Convert(dir, "tgatoppm", reference));
    }
    const bool mapped = (reference[2] & 7) == 1;
    if (mapped && reference[16] != 8) return;
    SCOPED_TRACE("ImageMagick");
    Pnm magick = Convert(dir, "convert", reference);
    const int channelBits = mapped ? reference[7] : reference[16];
    if (channelBits == 15 || channelBits == 16) {
        // ImageMagick widens 5-bit channels to 8 bits; narrowed back they are the file's.
        for (TColor& c : magick.colors) c = RGB(GetRValue(c) >> 3, GetGValue(c) >> 3, GetBValue(c) >> 3);
        magick.maxval = 31;
    }
    ExpectSamePixels(g, magick);
}

TEST(NetpbmOracle, TargaOfEveryKindDecodesLikeTgatoppm) {
    TempDir dir;
    uint32_t seed = 1;
    // Every corner the rows and pixels may start from: bottom or top, left or right.
    for (int corner : {0x00, 0x10, 0x20, 0x30}) {
        const std::string where = " corner " + std::to_string(corner);
        for (int type : {1, 9}) { // colour-mapped, with each map entry size
            for (int entry : {15, 16, 24, 32}) {
                SCOPED_TRACE("mapped type " + std::to_string(type) + " entries " + std::to_string(entry) + where);
                ExpectTargaLikeReferences(dir, MakeTarga(type, 8, entry, corner, ++seed));
            }
            // A map that starts at a later index, for 8-bit indexes and for 16-bit ones beyond a palette.
            SCOPED_TRACE("mapped type " + std::to_string(type) + " map origin" + where);
            ExpectTargaLikeReferences(dir, MakeTarga(type, 8, 24, corner, ++seed, 40));
            ExpectTargaLikeReferences(dir, MakeTarga(type, 16, 24, corner, ++seed, 0, 700));
            ExpectTargaLikeReferences(dir, MakeTarga(type, 16, 16, corner, ++seed, 1000, 300));
        }
        // True colour of 8 bits a pixel is grey to both references.
        for (int type : {2, 10}) {
            for (int size : {8, 15, 16, 24, 32}) {
                SCOPED_TRACE("true colour type " + std::to_string(type) + " bits " + std::to_string(size) + where);
                ExpectTargaLikeReferences(dir, MakeTarga(type, size, 0, corner, ++seed));
            }
            // Sixteen bits with an alpha bit keep their colours under the opacity.
            SCOPED_TRACE("true colour type " + std::to_string(type) + " bits 16 with an alpha bit" + where);
            ExpectTargaLikeReferences(dir, MakeTarga(type, 16, 0, corner | 1, ++seed));
        }
        for (int type : {3, 11}) {
            SCOPED_TRACE("grey type " + std::to_string(type) + where);
            ExpectTargaLikeReferences(dir, MakeTarga(type, 8, 0, corner, ++seed));
            // Grey with alpha keeps its grey under the opacity: as the references show the same grey
            // bytes stored alone (both take these pixels for 5-5-5 colour).
            SCOPED_TRACE("grey with alpha");
            const Bytes greyAlpha = TargaPixels(16, false, 0, 0, ++seed);
            Bytes grey;
            for (size_t i = 0; i < greyAlpha.size(); i += 2) grey.push_back(greyAlpha[i]);
            ExpectTargaLikeReferences(dir, TargaFile(type, 16, corner | 8, {}, 0, 0, greyAlpha),
                                      TargaFile(type, 8, corner, {}, 0, 0, grey));
        }
    }
}

TEST(NetpbmOracle, PcxOfEveryLayoutDecodesLikePcxtoppm) {
    TempDir dir;
    const int width = 13, height = 5;
    const Bytes headerPalette = PseudoRandomBytes(48, 9);
    // 24 bits in three planes, and 8 bits with the closing palette.
    Bytes lines = PseudoRandomBytes(14 * 3 * height, 10);
    ExpectLikeNetpbm<TPCXGraphic>(dir, "pcxtoppm", MakePcx(8, 3, width, height, 14, lines, headerPalette));
    Bytes indexed = MakePcx(8, 1, width, height, 14, PseudoRandomBytes(14 * height, 11), headerPalette);
    indexed.push_back(12);
    Bytes closing = PseudoRandomBytes(768, 12);
    indexed.insert(indexed.end(), closing.begin(), closing.end());
    ExpectLikeNetpbm<TPCXGraphic>(dir, "pcxtoppm", indexed);
    // Four one-bit planes with the header's colours; one bit with the header palette left black.
    ExpectLikeNetpbm<TPCXGraphic>(dir, "pcxtoppm",
                                  MakePcx(1, 4, width, height, 2, PseudoRandomBytes(8 * height, 13), headerPalette));
    ExpectLikeNetpbm<TPCXGraphic>(dir, "pcxtoppm",
                                  MakePcx(1, 1, width, height, 2, PseudoRandomBytes(2 * height, 14), Bytes(48, 0)));

    // Files netpbm's own writer makes from a picture of few colours.
    std::string ppm = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
    Bytes noise = PseudoRandomBytes(static_cast<size_t>(width) * height, 15);
    for (uint8_t v : noise) ppm += {char((v % 7) * 40), char((v % 5) * 60), char((v % 3) * 120)};
    dir.WriteFile("few.ppm", ppm);
    for (const char* option : {"-24bit", "-8bit", "-planes=4", "-planes=1"}) {
        SCOPED_TRACE(option);
        const std::string out = dir.File("few.pcx");
        if (std::string(option) == "-planes=1") { // black and white
            std::string pixels;
            for (uint8_t v : noise) pixels += std::string(3, v & 1 ? '\xFF' : '\0');
            dir.WriteFile("few.ppm", ppm.substr(0, ppm.find("255\n") + 4) + pixels);
        }
        ASSERT_EQ(std::system(("ppmtopcx " + std::string(option) + " " + dir.File("few.ppm") + " > " + out +
                               " 2>/dev/null").c_str()), 0);
        const std::string bytes = ReadFile(out);
        ExpectLikeNetpbm<TPCXGraphic>(dir, "pcxtoppm", Bytes(bytes.begin(), bytes.end()));
    }
}

TEST(NetpbmOracle, VersionThreePcxShowsTheDefaultColoursAtTheIndexesPcxtoppmReads) {
    TempDir dir;
    const int width = 16, height = 4;
    // Distinct header colours let pcxtoppm's reading of the version 5 twin name each pixel's index.
    Bytes distinct;
    for (int i = 0; i < 16; ++i) distinct.insert(distinct.end(), {uint8_t(i * 16), uint8_t(255 - i * 16), uint8_t(i)});
    const Bytes planes = PseudoRandomBytes(8 * height, 21);
    const Pnm twin = Convert(dir, "pcxtoppm", MakePcx(1, 4, width, height, 2, planes, distinct));
    ASSERT_EQ(twin.colors.size(), static_cast<size_t>(width * height));
    TPCXGraphic g;
    TMemoryStream m(MakePcx(1, 4, width, height, 2, planes, distinct, 3));
    g.LoadFromStream(m);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int index = GetBValue(twin.colors[y * width + x]);
            ASSERT_EQ(g.GetPixel(x, y), kDefaultColours[index]) << x << "," << y;
        }

    // An 8-bit version 3 file without a closing palette shows the default colours too, silently;
    // with its closing palette it shows that palette, as pcxtoppm does.
    FakeBell bell;
    SetBell(&bell);
    Bytes indexes;
    for (int i = 0; i < 16 * height; ++i) indexes.push_back(static_cast<uint8_t>(i % 16));
    TPCXGraphic v3;
    TMemoryStream m3(MakePcx(8, 1, width, height, 16, indexes, Bytes(48, 0), 3));
    v3.LoadFromStream(m3);
    for (int x = 0; x < 16; ++x) EXPECT_EQ(v3.GetPixel(x, 1), kDefaultColours[x]);
    Bytes withPalette = MakePcx(8, 1, width, height, 16, indexes, Bytes(48, 0), 3);
    withPalette.push_back(12);
    Bytes closing = PseudoRandomBytes(768, 22);
    withPalette.insert(withPalette.end(), closing.begin(), closing.end());
    ExpectLikeNetpbm<TPCXGraphic>(dir, "pcxtoppm", withPalette);
    EXPECT_EQ(bell.rings, 0);

    // A later version without any palette sounds the default beep and still loads.
    TPCXGraphic bare;
    TMemoryStream m5(MakePcx(8, 1, width, height, 16, indexes, Bytes(48, 0), 5));
    bare.LoadFromStream(m5);
    EXPECT_EQ(bare.Width(), width);
    EXPECT_EQ(bell.rings, 1);
    SetBell(nullptr);
}

TEST(NetpbmOracle, PcxAndBmpCutShortAreRefusedAsNetpbmRefusesThem) {
    // Cut at every length, each file is refused, as pcxtoppm and bmptopnm refuse it: past the first
    // header bytes with the stream's read error, never shown with its missing part black.
    TempDir dir;
    std::string ppm = "P6\n37 11\n255\n";
    const Bytes noise = PseudoRandomBytes(37 * 11, 31);
    for (uint8_t v : noise) ppm += {char((v % 7) * 40), char((v % 5) * 60), char((v % 3) * 120)};
    dir.WriteFile("g.ppm", ppm);
    const std::string g = dir.File("g.ppm");
    const char* makers[] = {"ppmtopcx -24bit", "ppmtopcx -8bit", "pnmquant 16 | ppmtopcx -planes=4", "ppmtobmp -bpp 24",
                            "ppmtobmp -bpp 8", "convert ppm:- -type palette -compress RLE bmp3:-"};
    for (const char* maker : makers) {
        const bool pcx = std::string(maker).find("pcx") != std::string::npos;
        const std::string out = dir.File(pcx ? "g.pcx" : "g.bmp");
        ASSERT_EQ(std::system(("cat " + g + " | " + maker + " > " + out + " 2>/dev/null").c_str()), 0) << maker;
        const std::string whole = ReadFile(out);
        for (size_t n = 1; n < whole.size(); ++n) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<long>(n));
            std::string error = "(loaded)";
            try {
                TMemoryStream m(cut);
                if (pcx) TPCXGraphic().LoadFromStream(m);
                else TBitmap().LoadFromStream(m);
            } catch (const Exception& e) {
                error = e.Message();
            }
            // Cut just before its closing palette, an 8-bit file is one without a palette, which loads.
            const bool eightBit = pcx && whole[3] == 8 && whole[65] == 1;
            if (eightBit && n == whole.size() - 769) EXPECT_EQ(error, "(loaded)");
            else if (n >= 26) ASSERT_EQ(error, "Stream read error") << maker << ", its first " << n << " bytes";
            else ASSERT_NE(error, "(loaded)") << maker << ", its first " << n << " bytes";
        }
        if (std::string(maker).find("RLE") != std::string::npos) continue; // bmptopnm reads none of these
        for (size_t n : {whole.size() / 3, whole.size() - 1})
            ASSERT_TRUE(Convert(dir, pcx ? "pcxtoppm" : "bmptopnm", Bytes(whole.begin(), whole.begin() + static_cast<long>(n)))
                            .colors.empty())
                << maker << " cut to " << n << ": netpbm reads it";
        if (pcx) ExpectLikeNetpbm<TPCXGraphic>(dir, "pcxtoppm", Bytes(whole.begin(), whole.end()));
        else ExpectLikeNetpbm<TBitmap>(dir, "bmptopnm", Bytes(whole.begin(), whole.end()));
    }
}
