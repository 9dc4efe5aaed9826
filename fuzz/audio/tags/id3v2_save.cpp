// Fuzz target: saving an ID3v2 tag over whatever tag a file holds (frames kept byte for byte,
// compressed frames inflated, 2.4 text converted to 2.3). A save that succeeds must read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "audio/tags/ID3v2.h"
#include "fuzz/FuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TFuzzFile file(data, size, ".mp3");
    if (!file.Ok()) return 0;
    lumora::TID3v2 tag;
    if (!tag.ReadFromFile(file.Path())) return 0;
    tag.SetAlbum("fuzz album");
    if (!tag.SaveToFile(file.Path())) return 0;
    lumora::TID3v2 back;
    if (!back.ReadFromFile(file.Path()) || !back.Exists() || back.Album() != "fuzz album") std::abort();
    return 0;
}
