#include "audio/mixer/VolumeRoutines.h"

#include <algorithm>
#include <array>

namespace lumora {

namespace {

constexpr int kMaxDestinations = 4;
constexpr int kMaxConnections = 17;

struct SavedEntry {
    bool MuteDisabled = true;
    bool Saved = false;
    int Left = -1, Right = -1, Mute = -1;
    uint32_t ComponentType = 0; // 0 for the destination line itself
};

struct SavedDestination {
    int LastConnection = -1;
    uint32_t ComponentType = 0;
    std::array<SavedEntry, kMaxConnections + 1> Entries; // index 0 = the destination line (j = -1)
};

struct SavedMixer {
    int LastDestination = -1;
    std::array<SavedDestination, kMaxDestinations> Destinations;
};

SavedMixer& Saved() {
    static SavedMixer saved;
    return saved;
}

// Calls fn(d, j, entry) for every entry the setting routines may touch.
template <typename Fn>
void ForEachTouchable(Fn fn) {
    SavedMixer& saved = Saved();
    for (int d = 0; d <= saved.LastDestination; ++d) {
        SavedDestination& dest = saved.Destinations[d];
        if (dest.ComponentType != MIXERLINE_COMPONENTTYPE_DST_SPEAKERS) continue;
        for (int j = -1; j <= dest.LastConnection; ++j) {
            SavedEntry& e = dest.Entries[j + 1];
            if (e.Saved && !e.MuteDisabled) fn(d, j, e);
        }
    }
}

} // namespace

void ClearSavedMixer() { Saved() = SavedMixer{}; }

void SaveMixer(TAudioMixer& mixer) {
    if (mixer.NumberOfDevices() <= 0) return;
    SavedMixer& saved = Saved();
    saved = SavedMixer{};
    const auto& destinations = mixer.Destinations();
    saved.LastDestination = std::min(static_cast<int>(destinations.size()) - 1, kMaxDestinations - 1);
    for (int d = 0; d <= saved.LastDestination; ++d) {
        SavedDestination& dest = saved.Destinations[d];
        dest.LastConnection = std::min(static_cast<int>(destinations[d].Connections.size()) - 1, kMaxConnections - 1);
        dest.ComponentType = destinations[d].Data.ComponentType;
        for (int j = -1; j <= dest.LastConnection; ++j) {
            SavedEntry& e = dest.Entries[j + 1];
            if (j == -1) {
                e.ComponentType = 0;
                e.Saved = true;
            } else {
                e.ComponentType = destinations[d].Connections[j].Data.ComponentType;
                e.Saved = e.ComponentType == MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT ||
                          e.ComponentType == MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER;
            }
            if (!e.Saved) continue;
            TMixerVolume v;
            mixer.GetVolume(d, j, v);
            e.MuteDisabled = v.MuteDisabled;
            e.Left = v.Left;
            e.Right = v.Right;
            e.Mute = v.Mute;
        }
    }
}

void RestoreMixer(TAudioMixer& mixer) {
    ForEachTouchable([&](int d, int j, const SavedEntry& e) { mixer.SetVolume(d, j, e.Left, e.Right, e.Mute); });
}

void SetFullMixerLevels(TAudioMixer& mixer, bool setMaster, int masterLevel) {
    ForEachTouchable([&](int d, int j, const SavedEntry&) {
        if (j >= 0)
            mixer.SetVolume(d, j, 65535, 65535, 0);
        else if (setMaster)
            mixer.SetVolume(d, -1, masterLevel, masterLevel, 0);
    });
}

void SetSourceVolume(TAudioMixer& mixer, int kind, int level) {
    ForEachTouchable([&](int d, int j, const SavedEntry& e) {
        bool match = (kind == 0 && j == -1) ||
                     ((kind == 1 || kind == 3) && e.ComponentType == MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT) ||
                     (kind == 2 && e.ComponentType == MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER);
        if (match) mixer.SetVolume(d, j, level, level, 0);
    });
}

} // namespace lumora
