// MIDI files are untrusted bytes: read them, and walk what was read the way the player and its
// owners do, checking the invariants the player relies on.
#include <cstddef>
#include <cstdint>

#include "audio/midi/MidiFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    lumora::TMidiFile file;
    try {
        file.LoadFromBytes(data, size);
    } catch (const lumora::Exception&) {
        if (file.NumberOfTracks() != 0) __builtin_trap(); // a failed load leaves nothing half read
        return 0;
    }
    if (file.MicrosecondsPerTick() <= 0 || file.SongLengthMs() < 0) __builtin_trap();
    for (int t = 0; t < file.NumberOfTracks(); ++t) {
        lumora::TMidiTrack* track = file.GetTrack(t);
        int last = 0;
        for (int i = 0; i < track->EventCount(); ++i) {
            lumora::PMidiEvent e = track->GetEvent(i);
            if (e->Time < last || e->Delta < 0) __builtin_trap(); // times never go back
            last = e->Time;
            if (e->IsMeta()) (void)e->Text();
        }
        track->Rewind(last / 2);
        if (track->PlayIndex() > track->EventCount()) __builtin_trap();
    }
    file.SetBpm(1);
    (void)file.SongLengthMs();
    return 0;
}
