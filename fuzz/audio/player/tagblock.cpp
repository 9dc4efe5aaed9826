// Fuzz target: what the audio player does itself with the tag data the audio library hands it:
// walking lists of zero-terminated strings, the ICY title and bit rate, module titles, and ID3
// blocks bounded by their own headers and decoded through the MPEG reader.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/player/AudioPlayer.h"
#include "audio/tags/MPEGaudio.h"

using namespace lumora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto* text = reinterpret_cast<const char*>(data);
    // A list as the library gives it always ends with two zero bytes; the walk must also stop at its
    // limit when it does not.
    std::vector<char> list(text, text + size);
    TagListLength(list.data(), list.size());
    auto items = TagListItems(list.data(), list.size());
    list.push_back(0);
    list.push_back(0);
    TagListLength(list.data(), list.size());
    items = TagListItems(list.data(), list.size());
    std::string value;
    TagValue(items, "TITLE=", value);
    IcyBitRate(items);
    std::string title;
    StreamTitleOf(std::string(text, size), title);
    for (const char* ext : {".MOD", ".XM", ".IT", ".MTM", ".S3M", ".UMX"}) ModuleTitle(ext, data, size);

    TMPEGaudio mpeg;
    TMP3TagInfo info;
    if (size >= 128) mpeg.ReadTagFromBuffer(TagKindID3v1, data + size - 128, 128, static_cast<int64_t>(size), info);
    // The library keeps an ID3v2 block at the size its header declares, zero-filled past the file.
    int64_t declared = Id3v2BlockSize(data, size);
    if (declared > 0 && declared <= (1 << 20)) {
        std::vector<uint8_t> block(static_cast<size_t>(declared), 0);
        std::copy(data, data + std::min<size_t>(size, block.size()), block.begin());
        mpeg.ReadTagFromBuffer(TagKindID3v2, block.data(), declared, static_cast<int64_t>(size), info);
    }
    return 0;
}
