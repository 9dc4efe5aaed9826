#pragma once
// Signal processing of the audio library: the FFT behind BASS_ChannelGetData and the three effects
// (peaking equalizer band, echo, reverb) behind BASS_ChannelSetFX. All work on interleaved floats.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "audiolib/AudioLib.h"

namespace lumora::audiolib {

// Magnitudes of an n-point FFT (n a power of two, 2..65536) of `samples` (n values), Hann-windowed
// unless `window` is false, scaled so that a full-scale sine on a bin centre gives about 1.0.
// Writes n / 2 values to `out`.
void FftMagnitudes(const float* samples, size_t n, bool window, float* out);

class Effect {
public:
    virtual ~Effect() = default;
    virtual bool SetParameters(const void* par) = 0;
    virtual void GetParameters(void* par) const = 0;
    // Processes `frames` interleaved frames of `chans` channels in place.
    virtual void Process(float* data, size_t frames) = 0;
};

// A new effect of the given type for a channel's rate and channel count, with the DirectX 8 style
// defaults; nullptr for a type the library does not provide.
std::unique_ptr<Effect> CreateEffect(DWORD type, DWORD rate, DWORD chans);

} // namespace lumora::audiolib
