#include "engine/PictureFormats.h"

#include "framework/JPEG.h"
#include "pictures/GIFImage.h"
#include "pictures/GraphicFormats.h"
#include "pictures/PngImage.h"

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
}

} // namespace lumora
