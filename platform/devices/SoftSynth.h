#pragma once
// The built-in software synthesizer: the stand-in for the default MIDI synthesizer that every
// Windows machine has and a Linux desktop without a running synthesizer lacks. FluidSynth plays the
// messages with a General MIDI sound font from the system's sound-font folder.
//
// The synthesizer makes no sound by itself: the program's sound output pulls its samples through
// the renderer it is handed (SetSynthSoundOutput, connected by the audio layer), so MIDI reaches the
// same sound card, null output or WAV file as the music, mixed with it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/devices/MidiDevices.h"

namespace lumora {

inline constexpr const char* kSoftSynthName = "Lumora GM Software Synth";
inline constexpr uint32_t kSoftSynthRate = 44100;

// Fills `count` stereo frames (floating point, interleaved, kSoftSynthRate) with what the
// synthesizer plays next. Called on the sound output's own thread. Floating point leaves the
// headroom to the output's mixing, so a loud chord is not clipped before the volume applies.
using TSynthRender = std::function<void(float* frames, size_t count)>;

// Keeps one renderer playing through the sound output for as long as it lives; once it is gone the
// renderer is no longer called.
class ISynthSoundStream {
public:
    virtual ~ISynthSoundStream() = default;
};

// Starts a renderer on the sound output; nullptr when there is no sound output to play it on.
using TSynthSoundOutput = std::function<std::unique_ptr<ISynthSoundStream>(TSynthRender render)>;
void SetSynthSoundOutput(TSynthSoundOutput output);
bool SynthSoundOutputConnected();

// The level the built-in synthesizer plays at, 0..65535 as a mixer line's (65535 = as rendered).
// It sounds through the wave output, where the mixer's synthesizer line does not reach it, so the
// owner of a MIDI output open on it sets MIDI's level here instead. Each start of the synthesizer
// (the first open after all were closed) begins at full level.
void SetSoftSynthLevel(uint16_t level);
uint16_t SoftSynthLevel();
// Whether opening device `id` of `devices` (the mapper included) opens the built-in synthesizer.
bool OpensSoftSynth(IMidiDevices& devices, int id);

// The General MIDI sound fonts the synthesizer can play with, in the order they are tried: those
// of the system's sound-font folder (LUMORA_SOUNDFONT_DIR, when set, in its place).
std::vector<std::string> SoftSynthFontCandidates();
// The first of them that can be read, empty when there is none.
std::string SoftSynthFontPath();

// The devices of `ports` with the built-in synthesizer in front of them as device 0, when `font`
// names a sound font (otherwise `ports` as they are, and the missing font told once). The mapper
// opens the built-in synthesizer, so a stored device that is not there still finds a synthesizer
// that sounds.
//
// While at least one of its ports is open the synthesizer plays through the sound output; the
// first open after all were closed starts it from a General MIDI reset.
std::unique_ptr<IMidiDevices> WithSoftSynth(std::unique_ptr<IMidiDevices> ports,
                                            const std::string& font = SoftSynthFontPath());

} // namespace lumora
