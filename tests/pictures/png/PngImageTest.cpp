// The PNG picture class beyond load and save: stored-property data, palettes, the clipboard, a
// picture whose bitmap was handed away, and transparency shown over a background colour.

#include <cstring>

#include <gtest/gtest.h>

#include "framework/Clipboard.h"
#include "pictures/png/PngImage.h"
#include "tests/pictures/PictureTestUtil.h"
#include "tests/support/MagickFlatten.h"
#include "tests/support/TempDir.h"

using namespace lumora;
using namespace lumora::test;

namespace {

// A 4-bit palette PNG of distinct colours, with a key string the reader is given only on load.
Bytes PalettePng(int width, int height) {
    Bytes plte;
    for (int i = 0; i < 16; ++i) plte.insert(plte.end(), {uint8_t(i * 16), uint8_t(255 - i * 8), uint8_t(i * 5)});
    Bytes raw;
    Bytes noise = PseudoRandomBytes(static_cast<size_t>(width) * height, 31);
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        for (int x = 0; x < width; x += 2)
            raw.push_back(static_cast<uint8_t>(((noise[y * width + x] & 15) << 4) | (noise[y * width + x + 1] & 15)));
    }
    Bytes png = PngSignature();
    for (const Bytes& chunk : {PngHeader(width, height, 4, 3), PngChunk("PLTE", plte), PngChunk("IDAT", Deflate(raw)),
                               PngChunk("IEND", {})})
        png.insert(png.end(), chunk.begin(), chunk.end());
    return png;
}

// A PNG of the given rows (packed samples, no filter bytes) with chunks placed before the image data.
Bytes PngFile(int width, int height, uint8_t depth, uint8_t colorType, const Bytes& rows,
              const std::vector<Bytes>& chunks = {}) {
    const size_t rowBytes = rows.size() / height;
    Bytes raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rows.begin() + static_cast<long>(y * rowBytes),
                   rows.begin() + static_cast<long>((y + 1) * rowBytes));
    }
    Bytes png = PngSignature();
    Bytes header = PngHeader(width, height, depth, colorType);
    png.insert(png.end(), header.begin(), header.end());
    for (const Bytes& chunk : chunks)
        png.insert(png.end(), chunk.begin(), chunk.end());
    for (const Bytes& chunk : {PngChunk("IDAT", Deflate(raw)), PngChunk("IEND", {})})
        png.insert(png.end(), chunk.begin(), chunk.end());
    return png;
}

// Random samples whose alpha (every `stride` bytes from `first`, `size` bytes wide) is clear for a
// third of the pixels, opaque for another third and anything between for the rest; the colours under
// the clear ones are random too, so a picture that shows them is caught.
Bytes WithAlpha(Bytes samples, size_t first, size_t stride, size_t size) {
    for (size_t at = first, n = 0; at + size <= samples.size(); at += stride, ++n)
        if (n % 3 != 2) std::fill_n(samples.begin() + static_cast<long>(at), size, n % 3 == 0 ? 0 : 255);
    return samples;
}

} // namespace

TEST(PngImage, TransparencyShowsTheBackgroundAsImageMagickFlattensIt) {
    const int w = 19, h = 7;
    Bytes palette;
    for (int i = 0; i < 16; ++i)
        palette.insert(palette.end(), {uint8_t(i * 16), uint8_t(255 - i * 8), uint8_t(i * 5)});
    // Entry 9 has entry 3's colour but stays opaque: only the index says which pixels are clear.
    std::copy_n(palette.begin() + 9, 3, palette.begin() + 27);
    Bytes partial = PseudoRandomBytes(16, 5);
    partial[1] = 0;
    partial[2] = 255;
    Bytes oneClear(16, 255);
    oneClear[3] = 0;
    Bytes indexes = PseudoRandomBytes(static_cast<size_t>(w) * h, 6);
    for (auto& v : indexes)
        v &= 15;
    Bytes grey = PseudoRandomBytes(static_cast<size_t>(w) * h, 7);
    for (size_t i = 0; i < grey.size(); i += 3)
        grey[i] = 77; // the key
    Bytes rgb = PseudoRandomBytes(static_cast<size_t>(w) * h * 3, 8);
    for (size_t i = 0; i < rgb.size(); i += 6)
        std::copy_n(Bytes{10, 200, 30}.begin(), 3, rgb.begin() + static_cast<long>(i));
    Bytes grey2bit = PseudoRandomBytes(static_cast<size_t>((w * 2 + 7) / 8) * h, 9);
    // 16-bit keys, and pixels that share their high bytes but not all their bits.
    Bytes rgb16 = PseudoRandomBytes(static_cast<size_t>(w) * h * 6, 10);
    for (size_t n = 0; n < static_cast<size_t>(w) * h; ++n) {
        const Bytes kinds[] = {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0, 0xFF, 0, 0xFF, 0},
                               {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}};
        if (n % 4 < 3) std::copy_n(kinds[n % 4].begin(), 6, rgb16.begin() + static_cast<long>(6 * n));
    }
    Bytes grey16 = PseudoRandomBytes(static_cast<size_t>(w) * h * 2, 11);
    for (size_t n = 0; n < static_cast<size_t>(w) * h; ++n)
        if (n % 3 < 2) std::copy_n(Bytes{0x4D, uint8_t(n % 3 ? 0 : 0x4D)}.begin(), 2, grey16.begin() + static_cast<long>(2 * n));

    struct Case {
        const char* what;
        Bytes file;
        // The blend rounds; 16-bit samples are read as their high bytes, which costs one more.
        int tolerance = 1;
    } cases[] = {
        {"RGBA", PngFile(w, h, 8, 6, WithAlpha(PseudoRandomBytes(w * h * 4, 1), 3, 4, 1))},
        {"RGBA of 16 bits", PngFile(w, h, 16, 6, WithAlpha(PseudoRandomBytes(w * h * 8, 2), 6, 8, 2)), 2},
        {"grey and alpha", PngFile(w, h, 8, 4, WithAlpha(PseudoRandomBytes(w * h * 2, 3), 1, 2, 1))},
        {"palette with alphas",
         PngFile(w, h, 8, 3, indexes, {PngChunk("PLTE", palette), PngChunk("tRNS", partial)})},
        {"palette with one clear entry",
         PngFile(w, h, 8, 3, indexes, {PngChunk("PLTE", palette), PngChunk("tRNS", oneClear)})},
        {"grey with a transparent level", PngFile(w, h, 8, 0, grey, {PngChunk("tRNS", {0, 77})})},
        {"grey of 2 bits with a transparent level",
         PngFile(w, h, 2, 0, grey2bit, {PngChunk("tRNS", {0, 2})})},
        {"RGB with a transparent colour",
         PngFile(w, h, 8, 2, rgb, {PngChunk("tRNS", {0, 10, 0, 200, 0, 30})})},
        {"RGB of 16 bits with a transparent colour",
         PngFile(w, h, 16, 2, rgb16, {PngChunk("tRNS", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})}), 2},
        {"grey of 16 bits with a transparent level", PngFile(w, h, 16, 0, grey16, {PngChunk("tRNS", {0x4D, 0x4D})}), 2},
        {"opaque RGB", PngFile(w, h, 8, 2, rgb)},
    };
    TempDir dir;
    for (const Case& c : cases)
        for (TColor background : {RGB(0x33, 0x66, 0xCC), clWhite}) {
            const std::string what = std::string(c.what) + " over " + ColorText(background);
            const std::string path = dir.WriteFile("in.png", std::string(c.file.begin(), c.file.end()));
            TPngImage image;
            TMemoryStream in(c.file);
            image.LoadFromStream(in);
            TBitmap shown;
            AssignOverBackground(shown, &image, background);
            ExpectPixelsNear(shown, FlattenWithImageMagick(path, background), c.tolerance, what);
            EXPECT_FALSE(shown.Transparent()) << what;
        }
    // What the picture itself holds stays as it was read.
    TPngImage image;
    TMemoryStream in(cases[0].file);
    image.LoadFromStream(in);
    ASSERT_TRUE(image.HasAlpha());
    const TColor under = image.InUse()->GetPixel(0, 0);
    TBitmap shown;
    AssignOverBackground(shown, &image, clWhite);
    EXPECT_EQ(image.InUse()->GetPixel(0, 0), under);
    EXPECT_EQ(static_cast<const uint8_t*>(image.AlphaInUse()->ScanLine(0))[0], 255) << "pixel 0 is clear";
}

TEST(PngImage, StoredDataIsPngBothWaysAndMatchesLibpng) {
    const Bytes file = PalettePng(12, 7);
    TPngImage image;
    int changes = 0;
    image.OnChange = [&] { ++changes; };
    TMemoryStream in(file);
    image.ReadData(in);
    EXPECT_GT(changes, 0);
    const LibpngImage ref = ReadWithLibpng(file);
    const auto colors = Colors(*image.InUse());
    for (size_t i = 0; i < colors.size(); ++i)
        ASSERT_EQ(colors[i], RGB(ref.rgba[4 * i], ref.rgba[4 * i + 1], ref.rgba[4 * i + 2])) << i;

    TMemoryStream out;
    image.WriteData(out);
    const LibpngImage back = ReadWithLibpng(out.Bytes());
    EXPECT_EQ(back.rgba, ref.rgba);
}

TEST(PngImage, PaletteIsTheBitmapsAndCanBeReplaced) {
    TPngImage image;
    EXPECT_EQ(image.GetPalette(), nullptr);
    TMemoryStream in(PalettePng(12, 7));
    image.LoadFromStream(in);
    HPALETTE palette = image.GetPalette();
    ASSERT_NE(palette, nullptr);
    ASSERT_EQ(palette->Entries.size(), 16u);
    EXPECT_EQ(palette->Entries[3], (TPaletteEntry{48, 231, 15, 0}));

    const TColor before = image.InUse()->GetPixel(0, 0);
    auto swapped = std::make_shared<TLogPalette>(*palette);
    for (auto& e : swapped->Entries) std::swap(e.peRed, e.peBlue);
    image.SetPalette(swapped);
    const TColor after = image.InUse()->GetPixel(0, 0);
    EXPECT_EQ(after, RGB(GetBValue(before), GetGValue(before), GetRValue(before)));
}

TEST(PngImage, ClipboardCarriesTheBitmapBothWays) {
    TMemoryClipboard clipboard;
    SetClipboard(&clipboard);
    TPngImage image;
    TMemoryStream in(PalettePng(12, 7));
    image.LoadFromStream(in);
    uint16_t format = 0;
    std::vector<uint8_t> data;
    image.SaveToClipboardFormat(format, data);
    EXPECT_EQ(format, CF_BITMAP);
    TBitmap fromBytes;
    TMemoryStream bmp(data);
    fromBytes.LoadFromStream(bmp);
    EXPECT_EQ(Colors(fromBytes), Colors(*image.InUse()));

    TPngImage pasted;
    TBitmap shown(3, 3);
    pasted.SetDisplayOverride(&shown);
    pasted.LoadFromClipboardFormat(CF_BITMAP, &data);
    EXPECT_NE(pasted.InUse(), &shown) << "the display override is dropped";
    EXPECT_EQ(Colors(*pasted.InUse()), Colors(*image.InUse()));

    clipboard.SetBitmap(*image.InUse());
    TPngImage fromClipboard;
    fromClipboard.LoadFromClipboardFormat(CF_BITMAP, nullptr);
    EXPECT_EQ(fromClipboard.Width(), 12);
    EXPECT_THROW(fromClipboard.LoadFromClipboardFormat(RegisterClipboardFormat("Other"), &data), EInvalidGraphic);
    SetClipboard(nullptr);
}

TEST(PngImage, PictureWhoseBitmapWasReleasedStaysUsable) {
    const Bytes file = PalettePng(12, 7);
    TPngImage image;
    TMemoryStream in(file);
    image.LoadFromStream(in);
    std::unique_ptr<TBitmap> taken = image.ReleaseBitmap();
    ASSERT_NE(taken, nullptr);
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.GetPalette(), nullptr);
    TBitmap target;
    image.AssignTo(target);
    TCanvas& canvas = target.Canvas();
    image.Draw(canvas, TRect{0, 0, 1, 1});
    TMemoryStream nothing;
    image.SaveToStream(nothing);
    EXPECT_EQ(nothing.Size(), 0);

    TMemoryStream again(file);
    image.LoadFromStream(again);
    EXPECT_EQ(Colors(*image.InUse()), Colors(*taken));

    TPngImage copy;
    copy.ReleaseBitmap();
    copy.Assign(&image);
    EXPECT_EQ(Colors(*copy.InUse()), Colors(*taken));
    TPngImage fromData;
    fromData.ReleaseBitmap();
    TMemoryStream data(file);
    fromData.ReadData(data);
    EXPECT_EQ(fromData.Width(), 12);
}
