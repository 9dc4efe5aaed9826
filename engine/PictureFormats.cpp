#include "engine/PictureFormats.h"

#include "framework/JPEG.h"

namespace lumora {

void RegisterPictureFormats() {
    static bool done = false;
    if (done) return;
    done = true;
    RegisterFrameworkFormats();
    RegisterJpegFormat();
}

} // namespace lumora
