#pragma once
// Where the mixed sound goes: an ALSA playback device, a null sink paced like a sound card (or not
// paced at all, for measuring), or a WAV file paced like a sound card. All take 16-bit stereo.

#include <cstdint>
#include <memory>
#include <string>

namespace lumora::audiolib {

class Output {
public:
    virtual ~Output() = default;
    // Plays (or writes) `frames` interleaved stereo frames; blocks as a sound card would.
    virtual void Write(const int16_t* frames, size_t count) = 0;
    // Flushes what is pending; the file output finishes its header.
    virtual void Close() = 0;
    virtual std::string Description() const = 0;
    virtual uint32_t LatencyMs() const { return 0; }
    // False for the unpaced null output, which writes as fast as the mixer can go.
    virtual bool Paced() const { return true; }
};

// The output that a LUMORA_AUDIO_OUTPUT value selects ("" and "alsa" the default ALSA device,
// "alsa:DEVICE", "null", "null:fast", "wav:PATH"); nullptr with a message in `error` on failure.
std::unique_ptr<Output> OpenOutput(const std::string& setting, uint32_t rate, std::string& error);

} // namespace lumora::audiolib
