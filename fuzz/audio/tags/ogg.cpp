// Fuzz target: the Ogg Vorbis reader (pages, packets, identification and comment headers).
#include <cstddef>
#include <cstdint>

#include "audio/tags/OggVorbis.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumora::TBytesStream stream(data, static_cast<int64_t>(size));
    lumora::TOggVorbis ogg;
    if (ogg.LoadFromStream(stream)) {
        ogg.Duration();
        ogg.BitRate();
        ogg.IsValid();
        ogg.ChannelModeText();
    }
    return 0;
}
