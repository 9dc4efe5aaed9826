// Fuzz target: the ID3v1 block reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/tags/ID3v1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumora::TID3v1 tag;
    lumora::TMP3TagInfo info;
    tag.ReadFromBuffer(data, static_cast<int64_t>(size), info);
    // Setting what was read and building a block again exercises the CP932 encoder on any text.
    tag.SetTitle(info.Title);
    tag.SetArtist(info.Artist);
    tag.SetAlbum(info.Album);
    tag.SetYear(info.Year);
    tag.SetComment(info.Comment);
    tag.SetTrack(static_cast<uint8_t>(info.Track));
    tag.BuildBlock();
    // Fields that still read as in the block keep its bytes, so the block builds back unchanged.
    if (size >= static_cast<size_t>(lumora::TID3v1::TagSize) && data[0] == 'T' && data[1] == 'A' && data[2] == 'G') {
        std::string block = tag.BuildBlock(data);
        if (block != std::string(reinterpret_cast<const char*>(data), lumora::TID3v1::TagSize)) __builtin_trap();
    }
    return 0;
}
