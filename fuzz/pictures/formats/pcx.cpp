// Feeds arbitrary bytes to the PCX loader.
#include "fuzz/PictureFuzz.h"
#include "pictures/formats/GraphicFormats.h"
#include "platform/display/Bell.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A file without its palette beeps; the fuzzer counts the rings instead of asking the X server.
    static lumora::FakeBell bell;
    lumora::SetBell(&bell);
    return lumora::FuzzPictureLoad<lumora::TPCXGraphic>(data, size);
}
