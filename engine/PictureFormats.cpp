#include "engine/PictureFormats.h"

#include "framework/JPEG.h"
#include "pictures/GIFImage.h"
#include "pictures/GraphicFormats.h"
#include "pictures/PngImage.h"
#include "pictures/SFunc.h"

namespace lumora {

void RegisterPictureFormats() {
    static bool done = false;
    if (done) return;
    done = true;
    RegisterFrameworkFormats();
    RegisterGraphicFormats();
    RegisterJpegFormat();
    RegisterPngFormat();
    RegisterGifImageFormat();
    // The system information object asks the display for its mode once, at start-up.
    CreateSystemInfo();
}

} // namespace lumora
