// Fuzz target: the MPEG audio reader over a whole file (frame search, VBR headers, vendor scan, tags).
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <string>

#include "audio/tags/MPEGaudio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumora::VBRData vbr;
    lumora::TMPEGaudio::FindFrame(data, static_cast<int>(std::min<size_t>(size, lumora::TMPEGaudio::BlockSize)), vbr);
    lumora::TMPEGaudio::FindVendorID(data, static_cast<int>(std::min<size_t>(size, 1 << 20)), 100000);

    static int fd = memfd_create("mpeg-fuzz", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    lumora::TMPEGaudio mpeg;
    if (mpeg.LoadFromFile("/proc/self/fd/" + std::to_string(fd))) {
        mpeg.IsValid();
        mpeg.Frames();
        mpeg.BitRate();
        mpeg.EncoderText();
        mpeg.VersionText();
        mpeg.LayerText();
        mpeg.ChannelModeText();
    }
    return 0;
}
