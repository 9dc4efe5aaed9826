// Feeds arbitrary bytes to the targa loader: it must give a picture or raise one of our exceptions.
#include <cstddef>
#include <cstdint>

#include "framework/Checked.h"
#include "framework/Graphics.h"
#include "pictures/GraphicFormats.h"

using namespace lumora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A small budget keeps hostile sizes from spending the fuzzer's memory on honest allocations.
    SetPixelBudget(1 << 20);
    TBytesStream stream(data, static_cast<int64_t>(size));
    TTargaGraphic picture;
    try {
        picture.LoadFromStream(stream);
        TBitmap bitmap;
        bitmap.Assign(&picture);
        bitmap.SetPixelFormat(TPixelFormat::pf32bit);
    } catch (const Exception&) {
    }
    return 0;
}
