// The PNG reader against libpng on files the tests write: every colour type and depth, both
// interlace methods, every filter, split image data, transparency, truncation and the error texts.

#include <png.h>

#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

#include "framework/Checked.h"
#include "pictures/png/PngImage.h"
#include "pictures/png/PngStream.h"
#include "tests/pictures/PictureTestUtil.h"
#include "tests/support/TempDir.h"

using namespace lumora;
using namespace lumora::test;

namespace {

struct PngSpec {
    int width = 37, height = 23, colorType = PNG_COLOR_TYPE_RGB, depth = 8;
    bool interlace = false;
    int filters = PNG_ALL_FILTERS;
    std::vector<png_color> palette;
    Bytes trnsAlpha;             // palette transparency
    int trnsGrey = -1;           // grey key
    png_color_16 trnsRgb{};      // RGB key when hasTrnsRgb
    bool hasTrnsRgb = false;
    uint32_t seed = 1;
    Bytes samples; // the picture's samples, row by row; pseudo-random ones when empty
};

int Channels(int colorType) {
    switch (colorType) {
    case PNG_COLOR_TYPE_GRAY: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 1;
    }
}

void WriteToVector(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

// Writes a PNG with libpng from pseudo-random samples that fit the depth.
Bytes WritePng(const PngSpec& s) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng write failed");
    }
    png_set_write_fn(png, &out, WriteToVector, nullptr);
    png_set_IHDR(png, info, s.width, s.height, s.depth, s.colorType,
                 s.interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, 0, s.filters);
    if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
    if (!s.trnsAlpha.empty())
        png_set_tRNS(png, info, s.trnsAlpha.data(), static_cast<int>(s.trnsAlpha.size()), nullptr);
    if (s.trnsGrey >= 0) {
        png_color_16 key{};
        key.gray = static_cast<png_uint_16>(s.trnsGrey);
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    if (s.hasTrnsRgb) png_set_tRNS(png, info, nullptr, 0, const_cast<png_color_16*>(&s.trnsRgb));
    png_write_info(png, info);
    const size_t rowBytes = (static_cast<size_t>(s.width) * s.depth * Channels(s.colorType) + 7) / 8;
    Bytes pixels = s.samples.empty() ? PseudoRandomBytes(rowBytes * s.height, s.seed) : s.samples;
    // Sub-byte pixels and palette indexes stay within the palette; some runs make filters matter.
    for (size_t i = 0; s.samples.empty() && i < pixels.size(); ++i) {
        if (i % 7 < 3 && i > 0) pixels[i] = pixels[i - 1];
        if (s.colorType == PNG_COLOR_TYPE_PALETTE && s.depth == 8 && !s.palette.empty())
            pixels[i] = static_cast<uint8_t>(pixels[i] % s.palette.size());
    }
    std::vector<png_bytep> rows(s.height);
    for (int y = 0; y < s.height; ++y) rows[y] = pixels.data() + y * rowBytes;
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

using Reference = test::LibpngImage;
using test::ReadWithLibpng;

// Our decode: colours of the bitmap and the alpha the picture says each pixel has.
struct Decoded {
    std::vector<TColor> colors;
    std::vector<int> alpha;
    int width = 0, height = 0;
};

Decoded DecodeOurs(TStream& stream) {
    TPngImage image;
    image.LoadFromStream(stream);
    Decoded d;
    TBitmap* b = image.InUse();
    d.width = b->Width();
    d.height = b->Height();
    d.colors = Colors(*b);
    TBitmap* mask = image.HasAlpha() ? image.AlphaInUse() : nullptr;
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            int a = 255;
            if (mask) a = 255 - static_cast<const uint8_t*>(mask->ScanLine(y))[x];
            else if (b->Transparent() && d.colors[y * d.width + x] == b->TransparentColor()) a = 0;
            d.alpha.push_back(a);
        }
    return d;
}

void ExpectSameAsLibpng(const Bytes& file, bool compareAlpha, const std::string& what) {
    Reference ref = ReadWithLibpng(file);
    TMemoryStream memory(file);
    Decoded ours = DecodeOurs(memory);
    ASSERT_EQ(ours.width, ref.width) << what;
    ASSERT_EQ(ours.height, ref.height) << what;
    int bad = 0;
    for (size_t i = 0; i < ours.colors.size() && bad < 3; ++i) {
        const uint8_t* p = ref.rgba.data() + 4 * i;
        TColor want = RGB(p[0], p[1], p[2]);
        if (ours.colors[i] != want) {
            ADD_FAILURE() << what << ": pixel " << i << " is " << std::hex << ours.colors[i] << ", libpng "
                          << want;
            ++bad;
        }
        if (compareAlpha && ours.alpha[i] != p[3]) {
            ADD_FAILURE() << what << ": alpha of pixel " << i << " is " << ours.alpha[i] << ", libpng " << int(p[3]);
            ++bad;
        }
    }
}

std::vector<png_color> TestPalette(int entries) {
    std::vector<png_color> p(entries);
    Bytes b = PseudoRandomBytes(3 * entries, 99);
    for (int i = 0; i < entries; ++i) p[i] = png_color{b[3 * i], b[3 * i + 1], b[3 * i + 2]};
    return p;
}

} // namespace

TEST(PngReader, EveryColourTypeDepthInterlaceAndFilterMatchesLibpng) {
    struct Kind {
        int colorType;
        std::vector<int> depths;
    };
    const Kind kinds[] = {{PNG_COLOR_TYPE_GRAY, {1, 2, 4, 8, 16}},
                          {PNG_COLOR_TYPE_RGB, {8, 16}},
                          {PNG_COLOR_TYPE_PALETTE, {1, 2, 4, 8}},
                          {PNG_COLOR_TYPE_GRAY_ALPHA, {8, 16}},
                          {PNG_COLOR_TYPE_RGB_ALPHA, {8, 16}}};
    const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                           PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
    uint32_t seed = 1;
    for (const Kind& k : kinds)
        for (int depth : k.depths)
            for (bool interlace : {false, true})
                for (int filter : filters) {
                    PngSpec s;
                    s.colorType = k.colorType;
                    s.depth = depth;
                    s.interlace = interlace;
                    s.filters = filter;
                    s.seed = seed++;
                    if (k.colorType == PNG_COLOR_TYPE_PALETTE) s.palette = TestPalette(1 << depth);
                    ExpectSameAsLibpng(WritePng(s), true,
                                       "type " + std::to_string(k.colorType) + " depth " + std::to_string(depth) +
                                           (interlace ? " interlaced" : "") + " filter " + std::to_string(filter));
                }
}

TEST(PngReader, SmallAndOddSizesThroughEveryInterlacePass) {
    const int sizes[][2] = {{1, 1}, {1, 9}, {9, 1}, {2, 3}, {5, 5}, {8, 8}, {17, 3}};
    for (auto& wh : sizes)
        for (int type : {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_RGB_ALPHA, PNG_COLOR_TYPE_PALETTE})
            for (int depth : {1, 8}) {
                if (type == PNG_COLOR_TYPE_RGB_ALPHA && depth == 1) continue;
                PngSpec s;
                s.width = wh[0];
                s.height = wh[1];
                s.colorType = type;
                s.depth = depth;
                s.interlace = true;
                if (type == PNG_COLOR_TYPE_PALETTE) s.palette = TestPalette(1 << depth);
                ExpectSameAsLibpng(WritePng(s), true,
                                   std::to_string(wh[0]) + "x" + std::to_string(wh[1]) + " type " + std::to_string(type));
            }
}

TEST(PngReader, ImageDataSplitIntoOneByteChunksStillDecodes) {
    for (bool interlace : {false, true}) {
        PngSpec s;
        s.interlace = interlace;
        s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
        Bytes file = RechunkIdat(WritePng(s), 1);
        ExpectSameAsLibpng(file, true, interlace ? "1-byte IDATs, interlaced" : "1-byte IDATs");
    }
    // Empty IDAT chunks between the others are no obstacle either.
    PngSpec s;
    Bytes file = RechunkIdat(WritePng(s), 7);
    const long second = 33 + 12 + 7;
    Bytes withEmpty(file.begin(), file.begin() + second);
    Bytes empty = PngChunk("IDAT", {});
    withEmpty.insert(withEmpty.end(), empty.begin(), empty.end());
    withEmpty.insert(withEmpty.end(), file.begin() + second, file.end());
    ExpectSameAsLibpng(withEmpty, true, "empty IDAT between");
}

TEST(PngReader, PaletteTransparencyGivesAColourOrAMask) {
    PngSpec s;
    s.colorType = PNG_COLOR_TYPE_PALETTE;
    s.depth = 4;
    s.palette = TestPalette(16);
    s.trnsAlpha.assign(16, 255);
    s.trnsAlpha[5] = 0;
    Bytes single = WritePng(s);
    ExpectSameAsLibpng(single, true, "one transparent entry");
    {
        TMemoryStream m(single);
        TPngImage image;
        image.LoadFromStream(m);
        EXPECT_FALSE(image.HasAlpha());
        EXPECT_TRUE(image.InUse()->Transparent());
        EXPECT_EQ(image.InUse()->TransparentColor(), RGB(s.palette[5].red, s.palette[5].green, s.palette[5].blue));
    }
    s.trnsAlpha[5] = 128;
    s.trnsAlpha.resize(9); // a short table leaves the rest opaque
    Bytes masked = WritePng(s);
    ExpectSameAsLibpng(masked, true, "partial alpha");
    TMemoryStream m(masked);
    TPngImage image;
    image.LoadFromStream(m);
    EXPECT_TRUE(image.HasAlpha());
    EXPECT_FALSE(image.InUse()->Transparent());
}

TEST(PngReader, GreyAndRgbKeysBecomeTheTransparentColour) {
    for (int depth : {1, 2, 4, 8}) {
        PngSpec s;
        s.colorType = PNG_COLOR_TYPE_GRAY;
        s.depth = depth;
        // The first pixel's level is the key, so the key certainly occurs in the picture.
        const Reference plain = ReadWithLibpng(WritePng(s));
        s.trnsGrey = plain.rgba[0] * ((1 << depth) - 1) / 255;
        ExpectSameAsLibpng(WritePng(s), true, "grey key at depth " + std::to_string(depth));
    }
    PngSpec s;
    s.width = 64;
    s.height = 64;
    s.colorType = PNG_COLOR_TYPE_RGB;
    // Runs of equal bytes make grey-ish colours common; use one of them as the key.
    Bytes file = WritePng(s);
    Reference ref = ReadWithLibpng(file);
    s.hasTrnsRgb = true;
    s.trnsRgb.red = ref.rgba[0];
    s.trnsRgb.green = ref.rgba[1];
    s.trnsRgb.blue = ref.rgba[2];
    ExpectSameAsLibpng(WritePng(s), true, "RGB key");

    // 16-bit keys are matched in all their bits: pixels that share only the key's high bytes stay
    // opaque, as libpng shows them.
    for (bool interlace : {false, true}) {
        PngSpec grey;
        grey.colorType = PNG_COLOR_TYPE_GRAY;
        grey.depth = 16;
        grey.interlace = interlace;
        grey.trnsGrey = 0x4D4D;
        grey.samples = PseudoRandomBytes(static_cast<size_t>(grey.width) * grey.height * 2, 12);
        for (size_t n = 0; 2 * n < grey.samples.size(); ++n)
            if (n % 3 < 2) {
                grey.samples[2 * n] = 0x4D;
                grey.samples[2 * n + 1] = n % 3 ? 0x4C : 0x4D;
            }
        ExpectSameAsLibpng(WritePng(grey), true, std::string("16-bit grey key") + (interlace ? " interlaced" : ""));
        PngSpec rgb;
        rgb.depth = 16;
        rgb.interlace = interlace;
        rgb.hasTrnsRgb = true;
        rgb.trnsRgb.red = rgb.trnsRgb.green = rgb.trnsRgb.blue = 0xFFFF;
        rgb.samples = PseudoRandomBytes(static_cast<size_t>(rgb.width) * rgb.height * 6, 13);
        for (size_t n = 0; 6 * n < rgb.samples.size(); ++n) {
            const Bytes kinds[] = {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0, 0xFF, 0, 0xFF, 0},
                                   {0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF}};
            if (n % 4 < 3) std::copy_n(kinds[n % 4].begin(), 6, rgb.samples.begin() + static_cast<long>(6 * n));
        }
        ExpectSameAsLibpng(WritePng(rgb), true, std::string("16-bit RGB key") + (interlace ? " interlaced" : ""));
    }
}

TEST(PngReader, TransparencyChunkOfAnAlphaImageIsIgnored) {
    PngSpec s;
    s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    Bytes file = WritePng(s);
    Bytes trns;
    for (int i = 0; i < 3; ++i) {
        trns.push_back(0);
        trns.push_back(0);
    }
    Bytes chunk = PngChunk("tRNS", trns);
    file.insert(file.begin() + 33, chunk.begin(), chunk.end());
    TMemoryStream m(file);
    TPngImage image;
    image.LoadFromStream(m);
    EXPECT_TRUE(image.HasAlpha());
    EXPECT_FALSE(image.InUse()->Transparent());
}

TEST(PngReader, TruncatedImageDataKeepsTheRowsReadWithoutError) {
    PngSpec s;
    s.width = 40;
    s.height = 40;
    s.filters = PNG_FILTER_NONE;
    Bytes full = WritePng(s);
    Reference ref = ReadWithLibpng(full);
    Bytes cut(full.begin(), full.begin() + static_cast<long>(full.size() * 2 / 3));
    TMemoryStream m(cut);
    TBitmap bitmap;
    TPngReadStream reader;
    reader.Load(bitmap, m);
    ASSERT_GT(reader.RowsDecoded(), 0);
    ASSERT_LT(reader.RowsDecoded(), 40);
    auto colors = Colors(bitmap);
    for (int i = 0; i < reader.RowsDecoded() * 40; ++i)
        ASSERT_EQ(colors[i], RGB(ref.rgba[4 * i], ref.rgba[4 * i + 1], ref.rgba[4 * i + 2])) << i;
    for (size_t i = reader.RowsDecoded() * 40; i < colors.size(); ++i) ASSERT_EQ(colors[i], 0) << i;
}

TEST(PngReader, EachBadInputRaisesItsMessage) {
    auto expectError = [](const Bytes& file, const std::string& message) {
        TMemoryStream m(file);
        TPngImage image;
        try {
            image.LoadFromStream(m);
            ADD_FAILURE() << "no error, expected " << message << " (" << file.size() << " bytes)";
        } catch (const EPngError& e) {
            EXPECT_EQ(e.Message(), message);
        }
    };
    auto build = [](std::initializer_list<Bytes> parts) {
        Bytes out = PngSignature();
        for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    };
    const Bytes rows(2 * (1 + 3 * 2), 0);
    const Bytes idat = PngChunk("IDAT", Deflate(rows)), iend = PngChunk("IEND", {});
    Bytes header = PngHeader(2, 2, 8, 2);

    expectError(Bytes{'G', 'I', 'F', '8', '9', 'a', 0, 0}, "PNG LoadStream: Not PNG Format");
    expectError(build({header, header, idat, iend}), "Read Header(PNG): appear two IHDR");
    for (uint8_t type : {1, 5, 7}) expectError(build({PngHeader(2, 2, 8, type), idat, iend}), "Read Header(PNG): Error ColorType");
    expectError(build({PngHeader(2, 2, 8, 2, 0, 2), idat, iend}), "Read Header(PNG): not support Compression");
    expectError(build({PngHeader(2, 2, 8, 2, 0, 0, 2), idat, iend}), "Read Header(PNG): not supprt Filter");
    expectError(build({PngHeader(2, 2, 8, 2, 2), idat, iend}), "Read Header(PNG): not interlace type");
    expectError(build({PngHeader(2, 2, 3, 0), idat, iend}), "Read Header(PNG): Error Bitdepth");
    expectError(build({PngHeader(2, 2, 4, 4), idat, iend}), "Read Header(PNG): not Use AlphaChannel");
    expectError(build({PngHeader(2, 2, 4, 2), idat, iend}), "Read Header(PNG): Error BitDepth");
    expectError(build({PngHeader(2, 2, 16, 3), idat, iend}), "Read Header(PNG): Error BitDepth");
    expectError(build({PngHeader(0, 2, 8, 2), idat, iend}), "Read Header(PNG): Error Size");
    expectError(build({PngHeader(100000, 100000, 8, 2), idat, iend}), "Read Header(PNG): Error Size");
    expectError(build({idat, header, iend}), "Read Header(PNG): IHDR missing");
    expectError(build({PngChunk("IHDR", Bytes(5, 1)), idat, iend}), "Read Header(PNG): Error Length");
    // An image that never gives a row is an error, not an empty picture.
    expectError(build({header, iend}), "Read Image (PNG): Read Error");
    expectError(build({header}), "Read Image (PNG): Read Error");
    Bytes badFilter = rows;
    badFilter[0] = 5;
    expectError(build({header, PngChunk("IDAT", Deflate(badFilter)), iend}), "Read Image (PNG): Read Error");
    Bytes junk = PseudoRandomBytes(40, 3);
    expectError(build({header, PngChunk("IDAT", junk), iend}), "Read Image (PNG): Read Error");
    // Image data that stops early while a different chunk follows.
    const Bytes packed = Deflate(rows);
    Bytes half(packed.begin(), packed.begin() + 4);
    expectError(build({header, PngChunk("IDAT", half), PngChunk("tEXt", {'a', 0, 'b'}), iend}),
                "Read Image (PNG): Read Error");
}

TEST(PngReader, ColourType8IsReadAsGrey) {
    Bytes rows = {0, 10, 200, 0, 30, 40};
    Bytes file = PngSignature();
    for (const Bytes& c : {PngHeader(2, 2, 8, 8), PngChunk("IDAT", Deflate(rows)), PngChunk("IEND", {})})
        file.insert(file.end(), c.begin(), c.end());
    TMemoryStream m(file);
    TPngImage image;
    image.LoadFromStream(m);
    EXPECT_TRUE(image.Grey());
    EXPECT_EQ(Colors(*image.InUse()), (std::vector<TColor>{RGB(10, 10, 10), RGB(200, 200, 200), RGB(30, 30, 30),
                                                            RGB(40, 40, 40)}));
}

TEST(PngReader, AncillaryChunksFillTheResults) {
    PngSpec s;
    s.colorType = PNG_COLOR_TYPE_GRAY;
    s.depth = 16;
    Bytes file = WritePng(s);
    auto insert = [&](const Bytes& chunk) { file.insert(file.begin() + 33, chunk.begin(), chunk.end()); };
    insert(PngChunk("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'B'}));
    insert(PngChunk("tEXt", {'T', 'i', 't', 'l', 'e', 0, 'X'}));
    insert(PngChunk("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'A'}));
    insert(PngChunk("pHYs", {0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x12, 1}));
    insert(PngChunk("gAMA", {0, 0, 0xB1, 0x8F}));
    insert(PngChunk("bKGD", {0x12, 0x34}));
    insert(PngChunk("tIME", {0x07, 0xE8, 2, 29, 13, 14, 15}));
    insert(PngChunk("pHYs", {1, 2, 3})); // wrong length: ignored
    // A 128-byte leading header (first byte and byte 74 zero) is skipped.
    file.insert(file.begin(), 128, 0);
    TMemoryStream m(file);
    TPngImage image;
    image.LoadFromStream(m);
    EXPECT_EQ(image.Comment(), "A\r\n\r\nB\r\n");
    EXPECT_EQ(image.PhysicalX(), 0x0B13u);
    EXPECT_EQ(image.PhysicalY(), 0x0B12u);
    EXPECT_EQ(image.PhysicalUnit(), 1);
    EXPECT_DOUBLE_EQ(image.Gamma(), 0.45455);
    EXPECT_EQ(image.Background(), RGB(0x12, 0x12, 0x12));
    EXPECT_EQ(image.Time().Year, 2024);
    EXPECT_EQ(image.Time().Second, 15);
    EXPECT_EQ(image.BitDepth(), 16);
    EXPECT_EQ(image.InUse()->PixelFormat(), TPixelFormat::pf8bit);
    EXPECT_EQ(image.InUse()->Palette()[255].rgbRed, 255);
}

TEST(PngReader, StreamIsLeftJustBehindThePicture) {
    PngSpec s;
    Bytes file = WritePng(s);
    const int64_t size = static_cast<int64_t>(file.size());
    Bytes padded(5 + file.size() + 4, 0xEE);
    std::copy(file.begin(), file.end(), padded.begin() + 5);
    std::copy_n("tail", 4, padded.end() - 4);
    TempDir dir;
    std::string path = dir.WriteFile("x.bin", BytesToString(padded));
    TFileStream f(path, fmOpenRead);
    f.SetPosition(5);
    TPngImage image;
    image.LoadFromStream(f);
    EXPECT_EQ(f.Position(), 5 + size);
    EXPECT_EQ(image.Width(), 37);
}

TEST(PngReader, ProgressRunsFromStartToEndThroughThePicture) {
    PngSpec s;
    s.height = 64;
    TMemoryStream m(WritePng(s));
    TPngImage image;
    std::vector<int> seen;
    image.OnProgress = [&](void*, TProgressStage, uint8_t percent, bool, const TRect&, const std::string&) {
        seen.push_back(percent);
    };
    image.LoadFromStream(m);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_FALSE(image.InUse()->OnProgress == nullptr); // the held bitmap keeps its route to the picture
}

TEST(PngReader, SixteenBitOutputPacksFiveBitChannels) {
    for (bool green6 : {false, true}) {
        Bytes rows = {0, 0xF8, 0x84, 0x08, 0x00, 0xFC, 0xF8};
        Bytes file = PngSignature();
        Bytes sbit = {5, static_cast<uint8_t>(green6 ? 6 : 5), 5};
        for (const Bytes& c :
             {PngHeader(2, 1, 8, 2), PngChunk("sBIT", sbit), PngChunk("IDAT", Deflate(rows)), PngChunk("IEND", {})})
            file.insert(file.end(), c.begin(), c.end());
        TMemoryStream m(file);
        TPngImage image;
        image.Use16BitOutput = true;
        image.LoadFromStream(m);
        EXPECT_EQ(image.BitDepth(), green6 ? 16 : 15);
        EXPECT_EQ(image.InUse()->PixelFormat(), green6 ? TPixelFormat::pf16bit : TPixelFormat::pf15bit);
        auto c = Colors(*image.InUse());
        EXPECT_EQ(GetRValue(c[0]) & 0xF8, 0xF8);
        EXPECT_EQ(GetGValue(c[0]) & 0xF8, 0x80);
        EXPECT_EQ(GetBValue(c[0]) & 0xF8, 0x08);
        EXPECT_EQ(GetGValue(c[1]) & 0xF8, 0xF8);
    }
}

TEST(PngImageClass, AssignToBitmapGivesTheDecodedPixelsWithoutMask) {
    PngSpec s;
    s.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
    TempDir dir;
    std::string path = dir.WriteFile("Picture.PNG", BytesToString(WritePng(s)));
    RegisterPngFormat();
    TPicture picture;
    picture.LoadFromFile(path);
    ASSERT_NE(dynamic_cast<TPngImage*>(picture.Graphic()), nullptr);
    TBitmap bitmap;
    bitmap.Assign(picture.Graphic());
    bitmap.SetPixelFormat(TPixelFormat::pf32bit);
    EXPECT_EQ(bitmap.Width(), 37);
    Reference ref = ReadWithLibpng(WritePng(s));
    EXPECT_EQ(bitmap.Row32(3)[4], ColorToPixel(RGB(ref.rgba[(3 * 37 + 4) * 4], ref.rgba[(3 * 37 + 4) * 4 + 1],
                                                   ref.rgba[(3 * 37 + 4) * 4 + 2])));
    EXPECT_EQ(bitmap.Row32(3)[4] >> 24, 0u);

    TPngImage copy;
    copy.Assign(picture.Graphic());
    EXPECT_TRUE(copy.HasAlpha());
    EXPECT_EQ(copy.AlphaInUse()->Width(), 37);
    EXPECT_EQ(Colors(*copy.InUse()), Colors(*static_cast<TPngImage*>(picture.Graphic())->InUse()));

    TPngImage empty;
    empty.SetWidth(10);
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.Width(), 0);
}
