#pragma once
// The shared body of the picture fuzz targets: any bytes must give a picture (turned into 32-bit
// pixels as the reading thread does) or raise one of our exceptions.

#include <cstddef>
#include <cstdint>

#include "framework/Checked.h"
#include "framework/Graphics.h"

namespace lumora {

template <class TPictureClass>
int FuzzPictureLoad(const uint8_t* data, size_t size) {
    // A small budget keeps hostile sizes from spending the fuzzer's memory on honest allocations.
    SetPixelBudget(1 << 20);
    TBytesStream stream(data, static_cast<int64_t>(size));
    TPictureClass picture;
    try {
        picture.LoadFromStream(stream);
        // Over a background colour, as the reading thread does, so transparency is blended too.
        TBitmap bitmap;
        AssignOverBackground(bitmap, &picture, RGB(0x33, 0x66, 0x99));
        bitmap.SetPixelFormat(TPixelFormat::pf32bit);
    } catch (const Exception&) {
    }
    return 0;
}

} // namespace lumora
