// Fuzz target: the ID3v1 block reader.
#include <cstddef>
#include <cstdint>

#include "audio/ID3v1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumora::TID3v1 tag;
    lumora::TMP3TagInfo info;
    tag.ReadFromBuffer(data, static_cast<int64_t>(size), info);
    // Setting what was read and building a block again exercises the CP932 encoder on any text.
    tag.SetTitle(info.Title);
    tag.SetComment(info.Comment);
    tag.SetTrack(static_cast<uint8_t>(info.Track));
    tag.BuildBlock();
    return 0;
}
