#include "audio/BassLoader.h"

#include <vector>

#include "platform/OutputGain.h"

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

void* g_core = nullptr;
void* g_wma = nullptr;
void* g_cd = nullptr;

void ClearEntries(const std::vector<TEntry>& entries) {
    for (const auto& e : entries) *e.Slot = nullptr;
}

bool LoadOne(void*& handle, const std::string& path, const std::vector<TEntry>& entries) {
    if (handle) return true;
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
    handle = module;
    return true;
}

void UnloadOne(void*& handle, const std::vector<TEntry>& entries) {
    if (!handle) return;
    ClearEntries(entries);
    ModuleLoader().Free(handle);
    handle = nullptr;
}

// The library reads the wave-out gain that the mixer component controls, once per mixing period.
void ReadOutputGain(float* left, float* right) { UnpackOutputGain(OutputGainWord().load(), *left, *right); }

} // namespace


bool LoadBassLibrary(const std::string& path) {
    bool wasLoaded = g_core != nullptr;
    if (!LoadOne(g_core, path, kCoreEntries)) return false;
    if (!wasLoaded) {
        // An optional entry of our own library; a library without it simply plays at unity gain.
        using SetGainProc = void (*)(LUMORA_GAINPROC*);
        if (auto set = reinterpret_cast<SetGainProc>(ModuleLoader().Symbol(g_core, "LumoraAudio_SetOutputGainProc")))
            set(ReadOutputGain);
    }
    return true;
}

void UnloadBassLibrary() {
    if (!g_core) return;
    BASS_Free();
    UnloadOne(g_core, kCoreEntries);
}

bool LoadBassWmaLibrary(const std::string& path) { return LoadOne(g_wma, path, kWmaEntries); }
void UnloadBassWmaLibrary() { UnloadOne(g_wma, kWmaEntries); }
bool LoadBassCdLibrary(const std::string& path) { return LoadOne(g_cd, path, kCdEntries); }
void UnloadBassCdLibrary() { UnloadOne(g_cd, kCdEntries); }
bool BassLibraryLoaded() { return g_core != nullptr; }
bool BassWmaLibraryLoaded() { return g_wma != nullptr; }
bool BassCdLibraryLoaded() { return g_cd != nullptr; }

} // namespace lumora
