#pragma once
// Connects the built-in software synthesizer to our audio library's sound output: a stream of the
// library pulls the synthesizer's samples, so MIDI plays on the same device as the music, mixed
// with it, and a WAV output holds both.

namespace lumora {

class TAudioMixer;
class TMidiOutput;

// Once per process; every MIDI output component asks for it, so the synthesizer sounds wherever
// MIDI is played.
void ConnectSoftSynthSound();

// MIDI's level (0..65535, as a mixer line's) where the user hears it: the built-in synthesizer's
// own level when `output`'s device is it, as it plays through the wave output (which is opened
// fully for it); otherwise the mixer's synthesizer lines, which an external synthesizer plays
// through. Either way, like setting a mixer line, the level also unmutes.
void SetMidiSourceVolume(TAudioMixer& mixer, const TMidiOutput& output, int level);

} // namespace lumora
