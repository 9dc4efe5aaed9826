#include "engine/saver/PictureFormats.h"

#include "framework/JPEG.h"
#include "pictures/gif/GIFImage.h"
#include "pictures/formats/GraphicFormats.h"
#include "pictures/png/PngImage.h"
#include "pictures/common/PaletteRoutines.h"

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
