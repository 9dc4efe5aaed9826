// The PNG writer: what it writes is read back pixel for pixel by libpng and by our reader, for every
// pixel format, grey and alpha, both interlace methods and every filter setting; the chunks it
// chooses, the private chunk, progress and abort, and the picture class's save.

#include <png.h>
#include <zlib.h>

#include <cstring>
#include <stdexcept>

#include <gtest/gtest.h>

#include "pictures/png/PngImage.h"
#include "pictures/png/PngStream.h"
#include "tests/pictures/PictureTestUtil.h"
#include "tests/support/TempDir.h"

using namespace lumora;
using namespace lumora::test;

namespace {

struct Chunk {
    std::string type;
    Bytes data;
};

uint32_t Get32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

// Splits a PNG file into its chunks, checking the signature, every length and every CRC.
std::vector<Chunk> ParseChunks(const Bytes& file, bool signature = true) {
    std::vector<Chunk> chunks;
    size_t pos = 0;
    if (signature) {
        const Bytes sig = PngSignature();
        if (file.size() < 8 || !std::equal(sig.begin(), sig.end(), file.begin()))
            throw std::runtime_error("no signature");
        pos = 8;
    }
    while (pos < file.size()) {
        if (pos + 12 > file.size()) throw std::runtime_error("cut chunk");
        const uint32_t len = Get32(&file[pos]);
        if (pos + 12 + len > file.size()) throw std::runtime_error("chunk longer than file");
        Chunk c;
        c.type.assign(reinterpret_cast<const char*>(&file[pos + 4]), 4);
        c.data.assign(file.begin() + pos + 8, file.begin() + pos + 8 + len);
        const uLong crc = crc32(0L, &file[pos + 4], 4 + len);
        if (crc != Get32(&file[pos + 8 + len])) throw std::runtime_error("bad CRC in " + c.type);
        chunks.push_back(std::move(c));
        pos += 12 + len;
    }
    return chunks;
}

const Chunk* Find(const std::vector<Chunk>& chunks, const std::string& type) {
    for (const auto& c : chunks)
        if (c.type == type) return &c;
    return nullptr;
}

std::string Order(const std::vector<Chunk>& chunks) {
    std::string s;
    for (const auto& c : chunks) {
        if (c.type == "IDAT" && s.size() >= 4 && s.compare(s.size() - 4, 4, "IDAT") == 0) continue;
        if (!s.empty()) s += ' ';
        s += c.type;
    }
    return s;
}

// The filter byte in front of every row, from the inflated image data.
Bytes RowFilters(const std::vector<Chunk>& chunks, int64_t rowBytes, int rows) {
    Bytes z;
    for (const auto& c : chunks)
        if (c.type == "IDAT") z.insert(z.end(), c.data.begin(), c.data.end());
    Bytes raw(static_cast<size_t>((rowBytes + 1) * rows));
    uLongf size = raw.size();
    if (uncompress(raw.data(), &size, z.data(), z.size()) != Z_OK || size != raw.size())
        throw std::runtime_error("image data does not inflate to the rows");
    Bytes filters;
    for (int r = 0; r < rows; ++r) filters.push_back(raw[static_cast<size_t>(r * (rowBytes + 1))]);
    return filters;
}

Bytes Save(TPngWriteStream& writer, TBitmap& bitmap) {
    TMemoryStream out;
    writer.Save(bitmap, out);
    return Bytes(out.Memory(), out.Memory() + out.Size());
}

using Reference = test::LibpngImage;
using test::ReadWithLibpng;

// A bitmap of the format with pseudo-random pixels (runs included) and, below 16 bits, a
// pseudo-random palette.
std::unique_ptr<TBitmap> MakeBitmap(TPixelFormat format, int width, int height, uint32_t seed) {
    auto b = std::make_unique<TBitmap>(width, height, format);
    if (BitsPerPixel(format) <= 8) {
        std::vector<TRGBQuad> pal(b->Palette().size());
        Bytes p = PseudoRandomBytes(3 * pal.size(), seed + 7);
        for (size_t i = 0; i < pal.size(); ++i) pal[i] = TRGBQuad{p[3 * i], p[3 * i + 1], p[3 * i + 2], 0};
        b->SetPalette(pal);
    }
    for (int y = 0; y < height; ++y) {
        Bytes row = PseudoRandomBytes(static_cast<size_t>(b->BytesPerLine()), seed * 977 + y);
        for (size_t i = 1; i < row.size(); ++i)
            if (i % 5 < 2) row[i] = row[i - 1];
        std::memcpy(b->ScanLine(y), row.data(), row.size());
    }
    return b;
}

std::unique_ptr<TBitmap> MakeAlpha(int width, int height, uint32_t seed) {
    auto a = std::make_unique<TBitmap>(width, height, TPixelFormat::pf8bit);
    for (int y = 0; y < height; ++y) {
        Bytes row = PseudoRandomBytes(static_cast<size_t>(width), seed + 31 * y);
        std::memcpy(a->ScanLine(y), row.data(), row.size());
    }
    return a;
}

int Luma(TColor c) { return (GetRValue(c) * 77 + GetGValue(c) * 150 + GetBValue(c) * 29) >> 8; }

int PaletteIndex(const TBitmap& b, int x, int y) {
    const auto* row = static_cast<const uint8_t*>(b.ScanLine(y));
    switch (b.PixelFormat()) {
    case TPixelFormat::pf1bit: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case TPixelFormat::pf4bit: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
    default: return row[x];
    }
}

// The colour a grey save must show for a pixel, worked out from the bitmap.
int ExpectedGrey(const TBitmap& b, int x, int y) {
    const auto& pal = b.Palette();
    auto luma16 = [&](int i) { return pal[i].rgbRed * 77 + pal[i].rgbGreen * 150 + pal[i].rgbBlue * 29; };
    switch (b.PixelFormat()) {
    case TPixelFormat::pf1bit: {
        const int i = PaletteIndex(b, x, y);
        const bool whiteFirst = luma16(0) > luma16(1);
        return (i ^ (whiteFirst ? 1 : 0)) ? 255 : 0;
    }
    case TPixelFormat::pf4bit: return (luma16(PaletteIndex(b, x, y)) >> 12) * 17;
    case TPixelFormat::pf8bit: return luma16(PaletteIndex(b, x, y)) >> 8;
    default: return Luma(b.GetPixel(x, y));
    }
}

// Checks libpng's reading of a file against the bitmap (as colour or as grey) and the alpha bitmap.
void ExpectLibpngSees(const Bytes& file, const TBitmap& b, bool grey, const TBitmap* alpha, const std::string& what) {
    Reference ref = ReadWithLibpng(file);
    for (const auto& w : ref.warnings) ADD_FAILURE() << what << ": libpng warns " << w;
    ASSERT_EQ(ref.width, b.Width()) << what;
    ASSERT_EQ(ref.height, b.Height()) << what;
    int bad = 0;
    for (int y = 0; y < b.Height() && bad < 3; ++y)
        for (int x = 0; x < b.Width() && bad < 3; ++x) {
            const uint8_t* p = &ref.rgba[(static_cast<size_t>(y) * b.Width() + x) * 4];
            TColor want = b.GetPixel(x, y);
            if (grey) {
                const int g = ExpectedGrey(b, x, y);
                want = RGB(g, g, g);
            }
            const int wantAlpha = alpha ? 255 - static_cast<const uint8_t*>(alpha->ScanLine(y))[x] : 255;
            if (RGB(p[0], p[1], p[2]) != want || p[3] != wantAlpha) {
                ADD_FAILURE() << what << ": pixel " << x << "," << y << " reads " << std::hex
                              << RGB(p[0], p[1], p[2]) << "/" << int(p[3]) << ", want " << want << "/" << wantAlpha;
                ++bad;
            }
        }
}

const char* FormatName(TPixelFormat f) {
    switch (f) {
    case TPixelFormat::pf1bit: return "1-bit";
    case TPixelFormat::pf4bit: return "4-bit";
    case TPixelFormat::pf8bit: return "8-bit";
    case TPixelFormat::pf15bit: return "15-bit";
    case TPixelFormat::pf16bit: return "16-bit";
    case TPixelFormat::pf24bit: return "24-bit";
    default: return "32-bit";
    }
}

const TPixelFormat kFormats[] = {TPixelFormat::pf1bit,  TPixelFormat::pf4bit,  TPixelFormat::pf8bit,
                                 TPixelFormat::pf15bit, TPixelFormat::pf16bit, TPixelFormat::pf24bit,
                                 TPixelFormat::pf32bit};

} // namespace

TEST(PngWriter, EveryPixelFormatInColourAndGreyBothInterlacesReadsBackExactlyInLibpng) {
    for (TPixelFormat format : kFormats)
        for (bool grey : {false, true})
            for (int interlace : {0, 1})
                for (auto [w, h] : {std::pair{37, 23}, std::pair{1, 1}, std::pair{5, 3}, std::pair{9, 17}}) {
                    auto b = MakeBitmap(format, w, h, w * 3 + h);
                    TPngWriteStream writer;
                    writer.Grey = grey;
                    writer.Interlace = static_cast<uint8_t>(interlace);
                    const Bytes file = Save(writer, *b);
                    const std::string what = std::string(FormatName(format)) + (grey ? " grey" : " colour") +
                                             (interlace ? " interlaced " : " ") + std::to_string(w) + "x" +
                                             std::to_string(h);
                    ExpectLibpngSees(file, *b, grey, nullptr, what);

                    // Our reader gives the same colours back.
                    TPngImage image;
                    TMemoryStream in(file);
                    image.LoadFromStream(in);
                    const auto colours = Colors(*image.InUse());
                    ASSERT_EQ(image.Width(), w) << what;
                    for (int i = 0; i < w * h; ++i) {
                        const int x = i % w, y = i / w;
                        const int g = grey ? ExpectedGrey(*b, x, y) : 0;
                        const TColor want = grey ? RGB(g, g, g) : b->GetPixel(x, y);
                        if (colours[i] != want) {
                            ADD_FAILURE() << what << ": our reader gives " << std::hex << colours[i] << " at " << i;
                            break;
                        }
                    }
                }
}

TEST(PngWriter, ColourTypeAndDepthFollowThePixelFormatGreyAndAlpha) {
    struct Case {
        TPixelFormat format;
        bool grey, alpha;
        int colorType, depth;
    };
    const Case cases[] = {
        {TPixelFormat::pf1bit, false, false, 3, 1},  {TPixelFormat::pf4bit, false, false, 3, 4},
        {TPixelFormat::pf8bit, false, false, 3, 8},  {TPixelFormat::pf15bit, false, false, 2, 8},
        {TPixelFormat::pf16bit, false, false, 2, 8}, {TPixelFormat::pf24bit, false, false, 2, 8},
        {TPixelFormat::pf32bit, false, false, 2, 8}, {TPixelFormat::pf24bit, false, true, 6, 8},
        {TPixelFormat::pf32bit, false, true, 6, 8},  {TPixelFormat::pf16bit, false, true, 6, 8},
        {TPixelFormat::pf1bit, true, false, 0, 1},   {TPixelFormat::pf4bit, true, false, 0, 4},
        {TPixelFormat::pf8bit, true, false, 0, 8},   {TPixelFormat::pf24bit, true, false, 0, 8},
        {TPixelFormat::pf8bit, true, true, 4, 8},    {TPixelFormat::pf32bit, true, true, 4, 8},
        // Alpha is written only where the colour type can carry it.
        {TPixelFormat::pf4bit, true, true, 0, 4},    {TPixelFormat::pf8bit, false, true, 3, 8},
    };
    for (const auto& c : cases) {
        auto b = MakeBitmap(c.format, 19, 7, 5);
        auto a = MakeAlpha(19, 7, 9);
        TPngWriteStream writer;
        writer.Grey = c.grey;
        if (c.alpha) writer.AlphaBitmap = a.get();
        const Bytes file = Save(writer, *b);
        const std::string what = std::string(FormatName(c.format)) + (c.grey ? " grey" : "") + (c.alpha ? " alpha" : "");
        const auto chunks = ParseChunks(file);
        ASSERT_EQ(chunks[0].type, "IHDR") << what;
        EXPECT_EQ(chunks[0].data[8], c.depth) << what;
        EXPECT_EQ(chunks[0].data[9], c.colorType) << what;
        const bool alphaWritten = c.colorType == 4 || c.colorType == 6;
        EXPECT_EQ(writer.WroteAlpha(), alphaWritten) << what;
        ExpectLibpngSees(file, *b, c.grey, alphaWritten ? a.get() : nullptr, what);
        EXPECT_EQ(Find(chunks, "PLTE") != nullptr, c.colorType == 3) << what;
    }
}

TEST(PngWriter, AlphaBitmapIsUsedOnlyWhenItMatchesTheImage) {
    auto b = MakeBitmap(TPixelFormat::pf24bit, 12, 8, 3);
    auto wrongSize = MakeAlpha(12, 7, 1);
    auto wrongFormat = std::make_unique<TBitmap>(12, 8, TPixelFormat::pf24bit);
    TBitmap empty;
    for (TBitmap* a : {wrongSize.get(), wrongFormat.get(), &empty, b.get()}) {
        TPngWriteStream writer;
        writer.AlphaBitmap = a;
        const auto chunks = ParseChunks(Save(writer, *b));
        EXPECT_EQ(chunks[0].data[9], 2) << "an unfit alpha bitmap is ignored";
    }
}

TEST(PngWriter, OurReaderGetsTheAlphaBack) {
    for (bool grey : {false, true})
        for (int interlace : {0, 1}) {
            auto b = MakeBitmap(grey ? TPixelFormat::pf8bit : TPixelFormat::pf32bit, 23, 11, 2);
            auto a = MakeAlpha(23, 11, 4);
            TPngWriteStream writer;
            writer.Grey = grey;
            writer.Interlace = static_cast<uint8_t>(interlace);
            writer.AlphaBitmap = a.get();
            const Bytes file = Save(writer, *b);
            TBitmap bitmap, alpha;
            TPngReadStream reader;
            reader.AlphaBitmap = &alpha;
            TMemoryStream in(file);
            reader.Load(bitmap, in);
            ASSERT_TRUE(reader.HasAlpha());
            for (int y = 0; y < 11; ++y)
                ASSERT_EQ(0, std::memcmp(alpha.ScanLine(y), a->ScanLine(y), 23)) << "row " << y;
        }
}

TEST(PngWriter, HeaderChunksComeInOrderWithTheirValues) {
    auto b = MakeBitmap(TPixelFormat::pf8bit, 10, 6, 8);
    TPngWriteStream writer;
    writer.TimeIsNow = false;
    TPngTime time{2024, 2, 29, 23, 59, 60};
    writer.Time = &time;
    writer.Comment = "two\r\nlines";
    TPngGifExtension gif{{1, 0, 0, 9}};
    writer.GifExtension = &gif;
    writer.Gamma = 0.45455;
    TPngChromaticities chrm{{31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000}};
    writer.Chromaticities = &chrm;
    writer.SignificantBits = 0x070605;
    writer.Background = b->GetPixel(3, 3);
    writer.TransparentColor = RGB(b->Palette()[5].rgbRed, b->Palette()[5].rgbGreen, b->Palette()[5].rgbBlue);
    writer.PhysicalUnit = 2;
    writer.PhysicalX = 72;
    writer.PhysicalY = 300;
    const auto chunks = ParseChunks(Save(writer, *b));
    EXPECT_EQ(Order(chunks), "IHDR tIME tEXt tEXt tpNg gIFg gAMA cHRM sBIT PLTE bKGD tRNS pHYs IDAT IEND");

    EXPECT_EQ(Find(chunks, "tIME")->data, (Bytes{0x07, 0xE8, 2, 29, 23, 59, 60}));
    EXPECT_EQ(BytesToString(chunks[2].data), std::string("Comment\0two\r\nlines", 18));
    EXPECT_EQ(BytesToString(chunks[3].data), std::string("Software\0PngImage ver 3.3", 25));
    EXPECT_EQ(Find(chunks, "tpNg")->data, (Bytes{0x47, 0x4C, 0x44, 0x33, 0, 0, 0, 0}));
    EXPECT_EQ(Find(chunks, "gIFg")->data, (Bytes{1, 0, 0, 9}));
    EXPECT_EQ(Get32(Find(chunks, "gAMA")->data.data()), 45455u);
    EXPECT_EQ(Get32(Find(chunks, "cHRM")->data.data() + 28), 6000u);
    EXPECT_EQ(Find(chunks, "sBIT")->data, (Bytes{5, 6, 7}));
    EXPECT_EQ(Find(chunks, "PLTE")->data.size(), 768u);
    EXPECT_EQ(Find(chunks, "bKGD")->data, (Bytes{static_cast<uint8_t>(PaletteIndex(*b, 3, 3))}));
    // The key's index comes first among the palette's equals, so the table ends at it or before.
    const Bytes& trns = Find(chunks, "tRNS")->data;
    ASSERT_LE(trns.size(), 6u);
    EXPECT_EQ(trns.back(), 0);
    for (size_t i = 0; i + 1 < trns.size(); ++i) EXPECT_EQ(trns[i], 255);
    const Chunk* phys = Find(chunks, "pHYs");
    EXPECT_EQ(Get32(phys->data.data()), 2835u);
    EXPECT_EQ(Get32(phys->data.data() + 4), 11811u);
    EXPECT_EQ(phys->data[8], 1);

    // What a reader makes of it.
    TBitmap bitmap;
    TPngReadStream reader;
    TPngTime readTime;
    TPngChromaticities readChrm;
    TPngGifExtension readGif;
    reader.Time = &readTime;
    reader.Chromaticities = &readChrm;
    reader.GifExtension = &readGif;
    Bytes file = Save(writer, *b);
    TMemoryStream in(file);
    reader.Load(bitmap, in);
    EXPECT_EQ(reader.Comment, "two\r\nlines\r\n");
    EXPECT_EQ(readTime.Year, 2024);
    EXPECT_EQ(readTime.Second, 60);
    EXPECT_EQ(readChrm.Values[5], 60000u);
    EXPECT_EQ(readGif.Bytes[3], 9);
    EXPECT_NEAR(reader.Gamma(), 0.45455, 1e-9);
    EXPECT_TRUE(bitmap.Transparent());
}

TEST(PngWriter, OptionalChunksStayOutWhenTheirValuesSayNone) {
    auto b = MakeBitmap(TPixelFormat::pf24bit, 4, 4, 1);
    TPngWriteStream writer;
    writer.TimeIsNow = false;
    TPngTime badTime{2020, 13, 1, 0, 0, 0};
    writer.Time = &badTime;
    TPngGifExtension gif{{0, 0, 0, 7}};
    writer.GifExtension = &gif;
    writer.Gamma = 0.000004;
    TPngChromaticities chrm{{1, 0, 5, 5, 5, 5, 5, 5}};
    writer.Chromaticities = &chrm;
    writer.PhysicalX = 0;
    writer.PhysicalY = 100;
    const auto chunks = ParseChunks(Save(writer, *b));
    EXPECT_EQ(Order(chunks), "IHDR tEXt tpNg IDAT IEND");

    // Now-time is written whenever it is on.
    TPngWriteStream now;
    const auto withTime = ParseChunks(Save(now, *b));
    ASSERT_NE(Find(withTime, "tIME"), nullptr);
    EXPECT_GE((Find(withTime, "tIME")->data[0] << 8) | Find(withTime, "tIME")->data[1], 2024);
}

TEST(PngWriter, KeysAndBackgroundsOfTrueColourAndGreyImages) {
    // 16-bit: RGB with significant bits 5, 6, 5; 15-bit: 5, 5, 5, and 8 for alpha.
    auto b16 = MakeBitmap(TPixelFormat::pf16bit, 6, 5, 2);
    TPngWriteStream w16;
    w16.Background = RGB(10, 20, 30);
    w16.TransparentColor = RGB(1, 2, 3);
    auto c16 = ParseChunks(Save(w16, *b16));
    EXPECT_EQ(Find(c16, "sBIT")->data, (Bytes{5, 6, 5}));
    EXPECT_EQ(Find(c16, "bKGD")->data, (Bytes{0, 10, 0, 20, 0, 30}));
    EXPECT_EQ(Find(c16, "tRNS")->data, (Bytes{0, 1, 0, 2, 0, 3}));

    auto b15 = MakeBitmap(TPixelFormat::pf15bit, 6, 5, 2);
    auto a = MakeAlpha(6, 5, 1);
    TPngWriteStream w15;
    w15.AlphaBitmap = a.get();
    w15.TransparentColor = RGB(1, 2, 3);
    auto c15 = ParseChunks(Save(w15, *b15));
    EXPECT_EQ(Find(c15, "sBIT")->data, (Bytes{5, 5, 5, 8}));
    EXPECT_EQ(Find(c15, "tRNS"), nullptr) << "no key beside an alpha channel";

    // Grey: the key and background are grey levels of the image's depth.
    auto mono = std::make_unique<TBitmap>(9, 2, TPixelFormat::pf1bit);
    mono->SetPalette({TRGBQuad{255, 255, 255, 0}, TRGBQuad{0, 0, 0, 0}});
    TPngWriteStream wm;
    wm.Grey = true;
    wm.Background = clWhite;
    wm.TransparentColor = RGB(100, 100, 100);
    auto cm = ParseChunks(Save(wm, *mono));
    EXPECT_EQ(Find(cm, "bKGD")->data, (Bytes{0, 1}));
    EXPECT_EQ(Find(cm, "tRNS")->data, (Bytes{0, 0}));
    EXPECT_EQ(Find(cm, "sBIT"), nullptr);
    EXPECT_EQ(Find(cm, "PLTE"), nullptr);

    auto grey24 = MakeBitmap(TPixelFormat::pf24bit, 4, 4, 6);
    grey24->SetTransparent(true);
    grey24->SetTransparentColor(RGB(200, 100, 50));
    TPngWriteStream wg;
    wg.Grey = true;
    wg.TransparentColor = clBlack; // the bitmap's own key wins
    auto cg = ParseChunks(Save(wg, *grey24));
    const int luma = (200 * 77 + 100 * 150 + 50 * 29) >> 8;
    EXPECT_EQ(Find(cg, "tRNS")->data, (Bytes{0, static_cast<uint8_t>(luma)}));

    // A palette image keyed on its last entry: 255 for every index before it and 0 at it.
    auto pal = std::make_unique<TBitmap>(3, 3, TPixelFormat::pf4bit);
    std::vector<TRGBQuad> entries(16);
    for (int i = 0; i < 16; ++i) entries[i] = TRGBQuad{uint8_t(i * 16), uint8_t(i), uint8_t(255 - i), 0};
    pal->SetPalette(entries);
    pal->SetTransparent(true);
    pal->SetTransparentColor(RGB(255 - 15, 15, 15 * 16));
    TPngWriteStream wp;
    auto cp = ParseChunks(Save(wp, *pal));
    Bytes want(16, 255);
    want[15] = 0;
    EXPECT_EQ(Find(cp, "tRNS")->data, want);
}

TEST(PngWriter, OutOfRangeValuesStillMakeValidChunks) {
    auto b = MakeBitmap(TPixelFormat::pf24bit, 8, 8, 3);
    auto a = MakeAlpha(8, 8, 3);
    TPngWriteStream writer;
    writer.AlphaBitmap = a.get();
    // Red 0, green 12, blue 3, alpha 0: channels outside 1..8 are written as 8.
    writer.SignificantBits = 0x00030C00;
    writer.PhysicalUnit = 7;
    writer.PhysicalX = 10;
    writer.PhysicalY = 20;
    writer.Interlace = 5;
    const Bytes file = Save(writer, *b);
    const auto chunks = ParseChunks(file);
    EXPECT_EQ(Find(chunks, "sBIT")->data, (Bytes{8, 8, 3, 8}));
    EXPECT_EQ(Find(chunks, "pHYs")->data[8], 0) << "an unknown unit is written as none";
    EXPECT_EQ(chunks[0].data[12], 0) << "only 1 means Adam7";
    ExpectLibpngSees(file, *b, false, a.get(), "out-of-range values");

    // Device and custom bitmaps hold 32-bit pixels and are written from them.
    TBitmap custom(5, 4, TPixelFormat::pfCustom);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) custom.SetPixelColor(x, y, RGB(x * 40, y * 50, 7));
    TPngWriteStream w2;
    ExpectLibpngSees(Save(w2, custom), custom, false, nullptr, "custom format");
}

TEST(PngWriter, FilterSettingsChooseTheRowFilters) {
    // A horizontal ramp: Sub makes every row one repeated value.
    TBitmap ramp(64, 6, TPixelFormat::pf24bit);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 64; ++x) ramp.SetPixelColor(x, y, RGB(x * 3 + y, x * 2, x));
    // Rows that each add one to the row above: after the first row Up gives ones.
    auto noise = MakeBitmap(TPixelFormat::pf24bit, 64, 6, 77);
    for (int y = 1; y < 6; ++y) {
        auto* row = static_cast<uint8_t*>(noise->ScanLine(y));
        const auto* above = static_cast<const uint8_t*>(noise->ScanLine(y - 1));
        for (int i = 0; i < 64 * 3; ++i) row[i] = static_cast<uint8_t>(above[i] + 1);
    }
    const int64_t rowBytes = 64 * 3;
    auto filtersOf = [&](TBitmap& b, int setting) {
        TPngWriteStream w;
        w.Filter = static_cast<uint8_t>(setting);
        std::vector<uint8_t> chosen;
        w.ChosenFilters = &chosen;
        const Bytes file = Save(w, b);
        const Bytes inFile = RowFilters(ParseChunks(file), rowBytes, 6);
        EXPECT_EQ(inFile, Bytes(chosen.begin(), chosen.end()));
        ExpectLibpngSees(file, b, false, nullptr, "filter setting " + std::to_string(setting));
        return inFile;
    };
    EXPECT_EQ(filtersOf(ramp, 1), Bytes(6, 0)) << "the default is None";
    for (int fixed = 2; fixed <= 5; ++fixed) EXPECT_EQ(filtersOf(*noise, fixed), Bytes(6, fixed - 1));
    EXPECT_EQ(filtersOf(*noise, 6), Bytes(6, 0));
    EXPECT_EQ(filtersOf(*noise, 200), Bytes(6, 0));
    EXPECT_EQ(filtersOf(ramp, 0), Bytes(6, 1)) << "adaptive takes Sub for a ramp";
    const Bytes adaptiveNoise = filtersOf(*noise, 0);
    EXPECT_EQ(Bytes(adaptiveNoise.begin() + 1, adaptiveNoise.end()), Bytes(5, 2)) << "and Up below a row";

    // A flat picture is ideal unfiltered; a 4-bit picture is never filtered.
    TBitmap flat(64, 6, TPixelFormat::pf24bit);
    EXPECT_EQ(filtersOf(flat, 0), Bytes(6, 0));
    auto nibbles = MakeBitmap(TPixelFormat::pf4bit, 64, 6, 5);
    TPngWriteStream w4;
    w4.Filter = 0;
    EXPECT_EQ(RowFilters(ParseChunks(Save(w4, *nibbles)), 32, 6), Bytes(6, 0));

    // Every setting with interlacing still reads back exactly.
    auto photo = MakeBitmap(TPixelFormat::pf32bit, 33, 29, 12);
    for (int setting = 0; setting <= 5; ++setting) {
        TPngWriteStream w;
        w.Filter = static_cast<uint8_t>(setting);
        w.Interlace = 1;
        ExpectLibpngSees(Save(w, *photo), *photo, false, nullptr, "interlaced filter " + std::to_string(setting));
    }
}

TEST(PngWriter, CompressionLevelsAndBufferSizeShapeTheImageData) {
    auto b = MakeBitmap(TPixelFormat::pf24bit, 120, 90, 4);
    auto sizeWith = [&](int compression, int buffer, size_t* largestIdat) {
        TPngWriteStream w;
        w.Compression = static_cast<uint8_t>(compression);
        w.OutputBufferSize = buffer;
        const Bytes file = Save(w, *b);
        ExpectLibpngSees(file, *b, false, nullptr, "compression " + std::to_string(compression));
        size_t total = 0, largest = 0;
        for (const auto& c : ParseChunks(file))
            if (c.type == "IDAT") {
                total += c.data.size();
                largest = std::max(largest, c.data.size());
            }
        if (largestIdat) *largestIdat = largest;
        return total;
    };
    const size_t raw = 90 * (120 * 3 + 1);
    EXPECT_GT(sizeWith(0, 32768, nullptr), raw) << "store only";
    EXPECT_LT(sizeWith(3, 32768, nullptr), sizeWith(0, 32768, nullptr));
    // zlib's header names the level class: 0 fastest, 2 default, 3 best.
    auto levelClass = [&](int compression) {
        TPngWriteStream w;
        w.Compression = static_cast<uint8_t>(compression);
        return Find(ParseChunks(Save(w, *b)), "IDAT")->data[1] >> 6;
    };
    EXPECT_EQ(levelClass(1), 2);
    EXPECT_EQ(levelClass(2), 0);
    EXPECT_EQ(levelClass(3), 3);
    EXPECT_EQ(levelClass(9), 2) << "other values give the default level";
    size_t largest = 0;
    sizeWith(0, 100, &largest);
    EXPECT_EQ(largest, 100u) << "image data is cut at the output buffer's size";
    sizeWith(0, 0, &largest);
    EXPECT_EQ(largest, 24576u) << "a buffer size of 0 means 24576";
    sizeWith(0, 0x40000, &largest);
    EXPECT_EQ(largest, 24576u);
}

TEST(PngWriter, PrivateChunkCarriesItsRecordAndTheRowTransformRoundTrips) {
    auto b = MakeBitmap(TPixelFormat::pf24bit, 16, 9, 21);
    TPngPrivateRecord record;
    record.Text = "owner's note";
    record.Values[0] = 1;
    record.Values[3] = 0xDEADBEEF;
    record.Shorts[1] = 0xBEEF;
    // The writer transforms each row before filtering; the reader undoes it after unfiltering.
    auto mask = [](uint8_t* row, const std::string& key, int number, int count) {
        for (int i = 0; i < count; ++i) row[i] ^= static_cast<uint8_t>(key[i % key.size()] + number);
    };
    for (int interlace : {0, 1}) {
        TPngWriteStream writer;
        writer.PrivateRecord = &record;
        writer.Key = "secret";
        writer.OnRowTransform = mask;
        writer.Interlace = static_cast<uint8_t>(interlace);
        const Bytes file = Save(writer, *b);
        const auto chunks = ParseChunks(file);
        const Chunk* tpng = Find(chunks, "tpNg");
        ASSERT_NE(tpng, nullptr);
        EXPECT_EQ(tpng->data.size(), record.Text.size() + 64);
        EXPECT_EQ(Bytes(tpng->data.begin(), tpng->data.begin() + 8), (Bytes{0x47, 0x4C, 0x44, 0x33, 1, 0, 0, 3}));

        TBitmap bitmap;
        TPngReadStream reader;
        TPngPrivateRecord read;
        reader.PrivateRecord = &read;
        std::string asked;
        reader.OnGetKey = [&](std::string& key) {
            asked = "asked";
            key = "secret";
        };
        reader.OnRowTransform = mask;
        TMemoryStream in(file);
        reader.Load(bitmap, in);
        EXPECT_EQ(asked, "asked");
        EXPECT_EQ(read.Text, record.Text);
        EXPECT_EQ(read.Values[3], 0xDEADBEEFu);
        EXPECT_EQ(read.Shorts[1], 0xBEEF);
        EXPECT_EQ(Colors(bitmap), Colors(*b)) << "interlace " << interlace;

        // Without the key the rows stay masked: the transform really ran.
        TBitmap plain;
        TPngReadStream noKey;
        TMemoryStream again(file);
        noKey.Load(plain, again);
        EXPECT_NE(Colors(plain), Colors(*b));
    }
}

TEST(PngWriter, IndexedGreyWritesTheIndexesWithAlphaAndThePalette) {
    auto b = MakeBitmap(TPixelFormat::pf8bit, 10, 4, 3);
    auto a = MakeAlpha(10, 4, 2);
    TPngWriteStream writer;
    writer.IndexedGrey = true;
    writer.AlphaBitmap = a.get();
    writer.Background = RGB(b->Palette()[7].rgbRed, b->Palette()[7].rgbGreen, b->Palette()[7].rgbBlue);
    const Bytes file = Save(writer, *b);
    const auto chunks = ParseChunks(file);
    EXPECT_EQ(chunks[0].data[9], 4);
    EXPECT_EQ(Find(chunks, "tpNg")->data[5], 1);
    EXPECT_NE(Find(chunks, "PLTE"), nullptr);
    EXPECT_EQ(Find(chunks, "bKGD")->data.size(), 2u);

    // A reader that allows it takes the grey samples as palette indexes.
    TBitmap bitmap, alpha;
    TPngReadStream reader;
    reader.IndexedGrey = true;
    reader.AlphaBitmap = &alpha;
    TMemoryStream in(file);
    reader.Load(bitmap, in);
    EXPECT_EQ(Colors(bitmap), Colors(*b));
    EXPECT_EQ(reader.Background() & 0xFFFFFF, writer.Background);
}

namespace {
// Stops the save at the first progress report after `after` reports.
class StoppingWriter : public TPngWriteStream {
public:
    int after = 0, reports = 0;

protected:
    bool DoProgress(int percent) override {
        TPngWriteStream::DoProgress(percent);
        return ++reports > after;
    }
};
} // namespace

TEST(PngWriter, ProgressRisesToTheEndAndAStopLeavesTheImageDataOut) {
    auto b = MakeBitmap(TPixelFormat::pf24bit, 30, 40, 8);
    std::vector<int> seen;
    std::vector<int> stages;
    b->OnProgress = [&](void* sender, TProgressStage stage, uint8_t percent, bool, const TRect&, const std::string&) {
        EXPECT_EQ(sender, b.get());
        seen.push_back(percent);
        stages.push_back(stage);
    };
    TPngWriteStream writer;
    Save(writer, *b);
    ASSERT_GE(seen.size(), 5u);
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(stages.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    EXPECT_EQ(stages.back(), 2);
    for (size_t i = 1; i < seen.size(); ++i) EXPECT_GT(seen[i], seen[i - 1]);
    // The header stage ends by 30%, the rows take it to 98% or more.
    EXPECT_NE(std::find(seen.begin(), seen.end(), 29), seen.end());
    EXPECT_GE(seen[seen.size() - 2], 90);

    // A stop at the start writes nothing; one among the header chunks leaves out the image data
    // and the end chunk.
    b->OnProgress = nullptr;
    StoppingWriter early;
    EXPECT_TRUE(Save(early, *b).empty());
    StoppingWriter headers;
    headers.after = 3;
    const std::string order = Order(ParseChunks(Save(headers, *b)));
    EXPECT_EQ(order.find("IDAT"), std::string::npos) << order;
    EXPECT_EQ(order.find("IEND"), std::string::npos) << order;
    EXPECT_EQ(order.rfind("IHDR", 0), 0u);
}

TEST(PngWriter, EmptyBitmapIsRefused) {
    TBitmap empty;
    TPngWriteStream writer;
    TMemoryStream out;
    EXPECT_THROW(writer.Save(empty, out), EPngError);
}

TEST(PngImageSave, ReloadsWithTheSamePixelsAlphaAndProperties) {
    // A picture made by libpng-independent means: our own writer, then loaded, saved and loaded again.
    auto b = MakeBitmap(TPixelFormat::pf32bit, 21, 13, 17);
    auto a = MakeAlpha(21, 13, 23);
    TPngWriteStream first;
    first.AlphaBitmap = a.get();
    first.Comment = "kept";
    first.Gamma = 0.5;
    first.PhysicalUnit = 1;
    first.PhysicalX = 3780;
    first.PhysicalY = 3780;
    TMemoryStream original;
    first.Save(*b, original);
    original.SetPosition(0);

    TPngImage image;
    image.LoadFromStream(original);
    ASSERT_TRUE(image.HasAlpha());
    TMemoryStream saved;
    int progressCalls = 0;
    image.OnProgress = [&](void*, TProgressStage, uint8_t, bool, const TRect&, const std::string&) { ++progressCalls; };
    image.SaveToStream(saved);
    EXPECT_GT(progressCalls, 2) << "progress reaches the picture's owner";
    saved.SetPosition(0);

    TPngImage again;
    again.LoadFromStream(saved);
    EXPECT_EQ(Colors(*again.InUse()), Colors(*b));
    ASSERT_TRUE(again.HasAlpha());
    for (int y = 0; y < 13; ++y)
        EXPECT_EQ(0, std::memcmp(again.AlphaInUse()->ScanLine(y), a->ScanLine(y), 21)) << "row " << y;
    EXPECT_EQ(again.Comment(), "kept\r\n") << "a load and a save do not add line breaks to the comment";
    EXPECT_DOUBLE_EQ(again.Gamma(), 0.5);
    EXPECT_EQ(again.PhysicalX(), 3780u);
    EXPECT_EQ(again.PhysicalUnit(), 1);
}

TEST(PngImageSave, GreyAndKeyedPicturesStayThatWayAndFilesArePng) {
    // A 16-bit grey picture with a key, from libpng's writer.
    Bytes raw;
    for (int y = 0; y < 5; ++y) {
        raw.push_back(0);
        for (int x = 0; x < 7; ++x) {
            raw.push_back(static_cast<uint8_t>(x * 30 + y));
            raw.push_back(0x55);
        }
    }
    Bytes png = PngSignature();
    auto add = [&](const Bytes& b) { png.insert(png.end(), b.begin(), b.end()); };
    add(PngHeader(7, 5, 16, 0));
    add(PngChunk("tRNS", Bytes{32, 0x55}));
    add(PngChunk("IDAT", Deflate(raw)));
    add(PngChunk("IEND", {}));

    TPngImage image;
    TMemoryStream in(png);
    image.LoadFromStream(in);
    ASSERT_TRUE(image.Grey());
    ASSERT_TRUE(image.InUse()->Transparent());

    TempDir dir;
    const std::string path = dir.Path() + "/out.png";
    image.SaveToFile(path);
    const std::string text = ReadFile(path);
    const Bytes written(text.begin(), text.end());
    const auto chunks = ParseChunks(written);
    EXPECT_EQ(chunks[0].data[9], 0) << "grey stays grey";
    EXPECT_EQ(chunks[0].data[8], 8);
    EXPECT_EQ(Find(chunks, "tRNS")->data, (Bytes{0, 32}));

    TPngImage again;
    again.LoadFromFile(path);
    EXPECT_EQ(Colors(*again.InUse()), Colors(*image.InUse()));
    EXPECT_TRUE(again.InUse()->Transparent());
    EXPECT_EQ(again.InUse()->TransparentColor(), RGB(32, 32, 32));

    // An empty picture writes nothing at all.
    TPngImage empty;
    TMemoryStream nothing;
    empty.SaveToStream(nothing);
    EXPECT_EQ(nothing.Size(), 0);
}
