// Fuzz target: the audio library's decoder on file bytes, from a file and from memory: opening (with
// the look at how MPEG audio frames follow each other and the length measured at the stream's end),
// reading, and seeks forwards, backwards, near the start and onto the last frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audiolib/AudioLib.h"
#include "fuzz/FuzzFile.h"

namespace {

void Exercise(HSTREAM h) {
    BASS_CHANNELINFO info{};
    if (!BASS_ChannelGetInfo(h, &info) || info.chans == 0) return;
    const QWORD frameBytes = 2ull * info.chans;
    std::vector<char> buf(16384 / frameBytes * frameBytes);
    // A bounded part of the decode: a damaged file may declare hours.
    for (int i = 0; i < 16; ++i) {
        const DWORD n = BASS_ChannelGetData(h, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0 || n == ~DWORD{0}) break;
    }
    const QWORD length = BASS_ChannelGetLength(h);
    if (length == ~QWORD{0} || length < frameBytes) return;
    const QWORD frames = length / frameBytes;
    for (QWORD frame : {frames / 2, QWORD{1000}, frames - 1, QWORD{0}, frames / 3 + 7}) {
        if (frame >= frames || !BASS_ChannelSetPosition(h, frame * frameBytes)) continue;
        if (BASS_ChannelGetPosition(h) != frame * frameBytes) __builtin_trap();
        BASS_ChannelGetData(h, buf.data(), static_cast<DWORD>(buf.size()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool started = [] {
        setenv("LUMORA_AUDIO_OUTPUT", "null", 1);
        return BASS_Init(-1, 44100, 0, nullptr, nullptr) != 0;
    }();
    if (!started || size > (1u << 20)) return 0;
    TFuzzFile file(data, size, ".snd");
    const HSTREAM fromFile =
        file.Ok() ? BASS_StreamCreateFile(0, file.Path().c_str(), 0, 0, BASS_STREAM_DECODE) : 0;
    const HSTREAM fromMemory = BASS_StreamCreateFile(1, data, 0, size, BASS_STREAM_DECODE);
    for (HSTREAM h : {fromFile, fromMemory}) {
        if (!h) continue;
        Exercise(h);
        BASS_StreamFree(h);
    }
    return 0;
}
