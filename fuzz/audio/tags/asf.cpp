// Fuzz target: the ASF header reader of WMA files.
#include <cstddef>
#include <cstdint>

#include "audio/tags/WMAfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumora::TBytesStream stream(data, static_cast<int64_t>(size));
    lumora::TWMAfile wma;
    wma.LoadFromStream(stream);
    wma.ChannelModeText();
    return 0;
}
