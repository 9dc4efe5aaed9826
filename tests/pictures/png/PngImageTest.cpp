// The PNG picture class beyond load and save: stored-property data, palettes, the clipboard, and a
// picture whose bitmap was handed away.

#include <cstring>

#include <gtest/gtest.h>

#include "framework/Clipboard.h"
#include "pictures/png/PngImage.h"
#include "tests/pictures/PictureTestUtil.h"

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

} // namespace

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
