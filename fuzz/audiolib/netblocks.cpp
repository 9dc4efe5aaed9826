// Fuzz target: the audio library's parsers of untrusted bytes: a radio stream's interleaved ICY
// metadata (fed in pieces of varying size), ID3 block bounds, header lines and the CD drive table.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "audiolib/TagBlocks.h"

using namespace lumora::audiolib;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    // The first byte picks the metadata interval, the second the piece size.
    uint64_t interval = 1 + data[0] * 37u;
    size_t piece = 1 + data[1];
    size_t audio = 0, metas = 0;
    IcyDemuxer demux(
        interval, [&](const uint8_t*, size_t n) { audio += n; }, [&](const std::string& t) { metas += t.size(); });
    for (size_t pos = 2; pos < size; pos += piece) demux.Feed(data + pos, std::min(piece, size - pos));
    if (audio > size) __builtin_trap(); // audio is never more than what came in

    auto block = Id3v2Block(data, size);
    if (!block.empty() && block.size() < 10) __builtin_trap();
    IsId3v1Block(data, size);
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string name, value;
    SplitHeader(text, name, value);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        ParseCdTableLine(line);
        CdaTrackNumber(line);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return 0;
}
