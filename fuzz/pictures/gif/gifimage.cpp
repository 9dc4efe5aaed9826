// Feeds arbitrary bytes to the GIF image class as the show reads a picture: load, then the still
// bitmap at 32 bits; and writes what loaded back out, then again after optimising it. It must give a
// picture or raise one of ours.
#include <cstddef>
#include <cstdint>

#include "framework/Checked.h"
#include "framework/Graphics.h"
#include "pictures/gif/GIFImage.h"

using namespace lumora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A small budget keeps hostile sizes from spending the fuzzer's memory on honest allocations.
    SetPixelBudget(1 << 20);
    TBytesStream stream(data, static_cast<int64_t>(size));
    TGIFImage image;
    try {
        image.LoadFromStream(stream);
        TBitmap bitmap;
        bitmap.Assign(&image);
        bitmap.SetPixelFormat(TPixelFormat::pf32bit);
        TMemoryStream out;
        image.SaveToStream(out);
        // Optimising works on whatever frames the file gave and must leave an image that saves.
        image.Optimize(ooCrop | ooMerge | ooCleanup | ooColorMap | ooReduceColors, rmNone, dmNearest, 8);
        TMemoryStream optimised;
        image.SaveToStream(optimised);
    } catch (const Exception&) {
    }
    return 0;
}
