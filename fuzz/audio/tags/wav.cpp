// Fuzz target: the WAVE header reader.
#include <cstddef>
#include <cstdint>

#include "audio/tags/WAVfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumora::TWAVfile wav;
    wav.LoadFromBuffer(data, static_cast<int64_t>(size));
    wav.Duration();
    wav.ChannelModeText();
    return 0;
}
