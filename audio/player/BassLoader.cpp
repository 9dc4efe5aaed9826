#include "audio/player/BassLoader.h"

#include <string>
#include <vector>

#include "platform/devices/AlsaErrors.h"
#include "platform/devices/OutputGain.h"

namespace lumora {

#define LUMORA_DEFINE_BASS_ENTRY(name) decltype(&::name) name = nullptr;
LUMORA_BASS_CORE_ENTRIES(LUMORA_DEFINE_BASS_ENTRY)
LUMORA_BASS_WMA_ENTRIES(LUMORA_DEFINE_BASS_ENTRY)
LUMORA_BASS_CD_ENTRIES(LUMORA_DEFINE_BASS_ENTRY)
#undef LUMORA_DEFINE_BASS_ENTRY

namespace {

struct TEntry {
    const char* Name;
    void** Slot;
};

#define LUMORA_BASS_ENTRY_ROW(name) {#name, reinterpret_cast<void**>(&name)},
const std::vector<TEntry> kCoreEntries = {LUMORA_BASS_CORE_ENTRIES(LUMORA_BASS_ENTRY_ROW)};
const std::vector<TEntry> kWmaEntries = {LUMORA_BASS_WMA_ENTRIES(LUMORA_BASS_ENTRY_ROW)};
const std::vector<TEntry> kCdEntries = {LUMORA_BASS_CD_ENTRIES(LUMORA_BASS_ENTRY_ROW)};
#undef LUMORA_BASS_ENTRY_ROW

// A library's module and how many users loaded it: every player of the process loads and unloads
// it, and only the last unload may take it away from the others.
struct TLibrary {
    void* Handle = nullptr;
    int Users = 0;
};
TLibrary g_core, g_wma, g_cd;

void ClearEntries(const std::vector<TEntry>& entries) {
    for (const auto& e : entries) *e.Slot = nullptr;
}

bool LoadOne(TLibrary& library, const std::string& path, const std::vector<TEntry>& entries) {
    if (library.Handle) {
        ++library.Users;
        return true;
    }
    void* module = ModuleLoader().Load(path);
    if (!module) return false;
    for (const auto& e : entries) {
        *e.Slot = ModuleLoader().Symbol(module, e.Name);
        if (!*e.Slot) {
            // One missing entry refuses the whole library; no variable may point into it.
            ClearEntries(entries);
            ModuleLoader().Free(module);
            return false;
        }
    }
    library.Handle = module;
    library.Users = 1;
    return true;
}

// True when this was the last user, who must free the module.
bool LastUserLeaves(TLibrary& library) { return library.Handle && --library.Users == 0; }

void FreeModule(TLibrary& library, const std::vector<TEntry>& entries) {
    ClearEntries(entries);
    ModuleLoader().Free(library.Handle);
    library.Handle = nullptr;
}

// The library reads the wave-out gain that the mixer component controls, once per mixing period.
void ReadOutputGain(float* left, float* right) { UnpackOutputGain(OutputGainWord().load(), *left, *right); }

// Every player, preview and synthesizer stream tries the sound output again; why it cannot be
// opened is the same each time, and is told once.
void TellLibraryMessage(const char* text) {
    TellMissingDevice("sound output", std::string("no sound output (") + text + "); carrying on without it");
}

} // namespace


bool LoadBassLibrary(const std::string& path) {
    bool wasLoaded = g_core.Handle != nullptr;
    if (!LoadOne(g_core, path, kCoreEntries)) return false;
    if (!wasLoaded) {
        // An optional entry of our own library; a library without it simply plays at unity gain.
        using SetGainProc = void (*)(LUMORA_GAINPROC*);
        if (auto set = reinterpret_cast<SetGainProc>(ModuleLoader().Symbol(g_core.Handle, "LumoraAudio_SetOutputGainProc")))
            set(ReadOutputGain);
        using SetMessageProc = void (*)(LUMORA_MESSAGEPROC*);
        if (auto set = reinterpret_cast<SetMessageProc>(ModuleLoader().Symbol(g_core.Handle, "LumoraAudio_SetMessageProc")))
            set(TellLibraryMessage);
    }
    return true;
}

void UnloadBassLibrary() {
    if (!LastUserLeaves(g_core)) return;
    BASS_Free();
    FreeModule(g_core, kCoreEntries);
}

bool LoadBassWmaLibrary(const std::string& path) { return LoadOne(g_wma, path, kWmaEntries); }
void UnloadBassWmaLibrary() {
    if (LastUserLeaves(g_wma)) FreeModule(g_wma, kWmaEntries);
}
bool LoadBassCdLibrary(const std::string& path) { return LoadOne(g_cd, path, kCdEntries); }
void UnloadBassCdLibrary() {
    if (LastUserLeaves(g_cd)) FreeModule(g_cd, kCdEntries);
}
bool BassLibraryLoaded() { return g_core.Handle != nullptr; }
bool BassWmaLibraryLoaded() { return g_wma.Handle != nullptr; }
bool BassCdLibraryLoaded() { return g_cd.Handle != nullptr; }

} // namespace lumora
