#pragma once
// The pure parts of the player's sound effects: the flanger's sample processor, the parameter
// formulas of the library effects, and the 25-band spectrum computed from FFT magnitudes.

#include <array>
#include <cstdint>

namespace lumora {

// Effect flag bits of TAudioPlayer::SetSoundEffects.
enum : uint8_t { sefFlanger = 1, sefEqualizer = 2, sefEcho = 4, sefReverb = 8 };

struct TEqBand {
    float Center;    // Hz
    float Bandwidth; // semitones
};
constexpr int kEqBands = 10;
constexpr std::array<TEqBand, kEqBands> kEqBandTable = {{{80, 4}, {170, 4}, {310, 4}, {600, 4}, {1000, 5},
                                                          {3000, 6}, {6000, 5}, {10000, 4}, {12000, 3}, {14000, 3}}};

inline float ClampEqGain(float db) { return db < -15.f ? -15.f : db > 15.f ? 15.f : db; }
// Echo: wet/dry mix from the level 0..32 (feedback stays 30); reverb: mix in dB from the level 0..32.
inline float EchoWetDryMix(int level) { return static_cast<float>(level * 1.2); }
constexpr float kEchoFeedback = 30.f;
inline float ReverbMixDb(int level) { return static_cast<float>(level * 0.5 - 16.0); }
constexpr float kReverbTimeMs = 1000.f, kReverbHighFreqRatio = 0.1f, kReverbInGain = 0.f;
constexpr int kMaxEffectLevel = 32;

// 25 spectrum levels, kept between ticks for the fall-off.
using TBandOut = std::array<uint16_t, 25>;
// Upper FFT bin of each band; band 0 is bin 1 alone.
constexpr std::array<uint16_t, 25> kBandEdges = {1,  2,  3,  6,  12, 18, 24, 30, 36,  42,  48,  54, 60,
                                                 66, 72, 78, 84, 90, 96, 102, 108, 120, 132, 156, 180};
// One spectrum tick over 256 FFT magnitudes: a band rises at once to its new peak and otherwise
// falls by 2 per tick.
void UpdateBands(const float* fft256, TBandOut& levels);

// The flanger: a 350-frame delay line swept by 0.002 frames per frame across the line and back.
class TFlanger {
public:
    static constexpr int kLineFrames = 350;
    TFlanger() { Reset(); }
    void Reset();
    // Processes interleaved 16-bit stereo frames in place.
    void Process(int16_t* samples, int64_t frames);
    float Delay() const { return delay_; }

private:
    int16_t line_[kLineFrames][2];
    int pos_;
    float delay_;
    float step_;
};

// The program-wide flanger the player installs on its play channel (one channel at a time).
void ResetFlanger();
// Library DSP callback shape: the buffer holds `length` bytes of stereo samples; `user` points to
// the channel's bytes per sample (only 16-bit buffers are processed; others pass unchanged).
void FlangerDSP(uint32_t handle, uint32_t channel, void* buffer, uint32_t length, void* user);

} // namespace lumora
