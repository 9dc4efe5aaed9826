// Fuzz target: the ID3v2 tag parser and the reader of tags held in memory.
#include <cstddef>
#include <cstdint>

#include "audio/tags/ID3v2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto n = static_cast<int64_t>(size);
    lumora::TID3v2Parsed parsed = lumora::ParseID3v2(data, n, n);
    // Compressed frames inflate within the tag's bound and keep no capacity they do not use.
    uint64_t held = 0;
    for (const auto& frame : parsed.Frames) {
        if (frame.Convertible && frame.ID23.size() != 4) __builtin_trap();
        if (frame.Data.capacity() > 2 * frame.Data.size() + 32) __builtin_trap();
        held += frame.Data.size();
    }
    if (held > size + lumora::ID3v2MaxInflated) __builtin_trap();
    lumora::TID3v2 tag;
    lumora::TMP3TagInfo info;
    tag.ReadFromBuffer(data, n, n, info);
    // A declared file length larger than the bytes held must not make the reader look past them.
    tag.ReadFromBuffer(data, n, n + 100000, info);
    return 0;
}
