#pragma once
// The process-wide gain of our own audio output. The mixer's wave-out line drives it where the sound
// system offers no wave-out line of its own (PulseAudio and PipeWire show only "Master"), so that the
// wave-out volume still acts on the music.
//
// The gain is one lock-free 64-bit word so that a mixing thread can read it without taking a lock:
// bits 0-15 the left gain and bits 16-31 the right gain (0..65535, 65535 = unchanged), bit 32 set
// when muted. The audio library (which links nothing of ours) is handed the word's address by its
// loader and reads it with UnpackOutputGain, which is header-only for that reason.

#include <atomic>
#include <cstdint>

namespace lumora {

constexpr uint64_t kOutputGainMuted = uint64_t(1) << 32;
constexpr uint64_t kOutputGainFull = 0xFFFFFFFFu; // both channels at 65535, not muted

inline constexpr uint64_t PackOutputGain(uint16_t left, uint16_t right, bool muted) {
    return uint64_t(left) | uint64_t(right) << 16 | (muted ? kOutputGainMuted : 0);
}

// Linear factors 0..1 of a gain word; both 0 while muted.
inline void UnpackOutputGain(uint64_t word, float& left, float& right) {
    if (word & kOutputGainMuted) {
        left = right = 0.0f;
        return;
    }
    left = float(word & 0xFFFF) / 65535.0f;
    right = float((word >> 16) & 0xFFFF) / 65535.0f;
}

// The word itself, for handing its address to the audio library.
std::atomic<uint64_t>& OutputGainWord();

uint16_t OutputGainLeft();
uint16_t OutputGainRight();
bool OutputGainMuted();
void SetOutputGain(uint16_t left, uint16_t right);
void SetOutputGainMuted(bool muted);

} // namespace lumora
