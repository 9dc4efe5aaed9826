#pragma once
// Connects the built-in software synthesizer to our audio library's sound output: a stream of the
// library pulls the synthesizer's samples, so MIDI plays on the same device as the music, mixed
// with it, and a WAV output holds both.

namespace lumora {

// Once per process; every MIDI output component asks for it, so the synthesizer sounds wherever
// MIDI is played.
void ConnectSoftSynthSound();

} // namespace lumora
