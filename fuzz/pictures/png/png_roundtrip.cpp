// Decodes arbitrary bytes as PNG and, when that gives a picture, writes it with the PNG writer in
// every filter setting and interlaced, then reads that back: the pixels must come back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "framework/Checked.h"
#include "framework/Graphics.h"
#include "pictures/png/PngStream.h"

using namespace lumora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SetPixelBudget(1 << 16);
    TBytesStream stream(data, static_cast<int64_t>(size));
    TBitmap bitmap, alpha;
    TPngReadStream reader;
    reader.AlphaBitmap = &alpha;
    try {
        reader.Load(bitmap, stream);
    } catch (const Exception&) {
        return 0;
    }
    if (bitmap.Empty()) return 0;
    const uint8_t setting = size > 0 ? data[size - 1] : 0;
    TPngWriteStream writer;
    writer.Filter = setting % 7;
    writer.Interlace = (setting >> 3) & 1;
    writer.Grey = reader.Grey();
    writer.AlphaBitmap = reader.HasAlpha() ? &alpha : nullptr;
    TMemoryStream out;
    writer.Save(bitmap, out);
    out.SetPosition(0);
    TBitmap back, backAlpha;
    TPngReadStream again;
    again.AlphaBitmap = &backAlpha;
    again.Load(back, out);
    if (back.Width() != bitmap.Width() || back.Height() != bitmap.Height()) std::abort();
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
            if (back.GetPixel(x, y) != bitmap.GetPixel(x, y)) std::abort();
    if (writer.WroteAlpha())
        for (int y = 0; y < alpha.Height(); ++y)
            if (std::memcmp(alpha.ScanLine(y), backAlpha.ScanLine(y), static_cast<size_t>(alpha.Width())) != 0)
                std::abort();
    return 0;
}
