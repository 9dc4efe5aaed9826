// Feeds arbitrary bytes to the TIFF loader.
#include "fuzz/PictureFuzz.h"
#include "pictures/formats/GraphicFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return lumora::FuzzPictureLoad<lumora::TTIFFGraphic>(data, size);
}
