// Feeds arbitrary bytes to the PNG picture class.
#include "fuzz/PictureFuzz.h"
#include "pictures/png/PngImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return lumora::FuzzPictureLoad<lumora::TPngImage>(data, size);
}
