#pragma once
// Volume routines on the mixer component: save and restore the speaker lines the program touches,
// open the wave-out and synthesizer lines fully, set one kind of line.
//
// They act only on speaker destinations (the first four), on the destination line itself and on
// its wave-out and synthesizer sources (sources 0..16), and leave alone any line whose mute control
// is missing or disabled. The saved state is program-wide, from SaveMixer to RestoreMixer.

#include "audio/mixer/AudioMixer.h"

namespace lumora {

void SaveMixer(TAudioMixer& mixer);
void RestoreMixer(TAudioMixer& mixer);
// Sources at full volume and unmuted; the destination line at level too when setMaster.
void SetFullMixerLevels(TAudioMixer& mixer, bool setMaster, int masterLevel);
// kind 0: the master (destination) line; 1 or 3: wave-out sources; 2: synthesizer sources.
// Every line set is also unmuted.
void SetSourceVolume(TAudioMixer& mixer, int kind, int level);

// Forgets the saved state (tests).
void ClearSavedMixer();

} // namespace lumora
