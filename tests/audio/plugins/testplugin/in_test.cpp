// A Winamp 2 input plug-in for the host tests. It plays ".tst" files, each a line of text:
// "RATE CHANNELS BITS FRAMES" (for example "44100 2 16 88200"); the audio is a counter, sample k of
// the file (counting every channel) being k modulo 65536 as a signed 16-bit value (k modulo 256 for
// 8 bits), so a test can check that what comes out is exactly what went in.
//
// Built in variants by a compile definition: LUMORA_PLUGIN_TEST (well behaved), _NOEXPORT (lacks the
// entry point), _NILRECORD (returns no module record), _BADFORMAT (asks for an output format no card
// plays, writes negative lengths and overlong titles).

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/plugins/PluginHost.h"

using lumora::TInModule;
using lumora::TWinampHostApi;

namespace {

TInModule g_mod;
const TWinampHostApi* g_api = nullptr;
std::thread g_thread;
std::atomic<bool> g_stop{false};
std::atomic<bool> g_paused{false};
std::atomic<int> g_seekTo{-1};
int g_rate = 0, g_chans = 0, g_bits = 0;
long long g_frames = 0;

bool ReadSpec(const char* fn) {
    std::ifstream in(fn);
    return static_cast<bool>(in >> g_rate >> g_chans >> g_bits >> g_frames);
}

// Notes the parent window a dialog of the plug-in would open over, in $LUMORA_TEST_PLUGIN_LOG.
void LogParent(const char* what, uintptr_t parent) {
    if (const char* log = std::getenv("LUMORA_TEST_PLUGIN_LOG")) std::ofstream(log, std::ios::app) << what << " " << parent << "\n";
}
void Config(uintptr_t parent) { LogParent("config", parent); }
void About(uintptr_t parent) { LogParent("about", parent); }
void Init() {}
void Quit() {}

void GetFileInfo(const char* file, char* title, int* length) {
#ifdef LUMORA_PLUGIN_BADFORMAT
    // Far more than the documented 256 characters.
    if (title) {
        std::memset(title, 'T', 1000);
        title[1000] = 0;
    }
    if (length) *length = 1234;
    return;
#endif
    if (title) std::snprintf(title, 256, "Counter %s", file ? file : "");
    if (length && file && ReadSpec(file)) *length = static_cast<int>(g_frames * 1000 / g_rate);
}

int InfoBox(const char*, uintptr_t) { return 0; }
int IsOurFile(const char*) { return 0; }

void Decode() {
    const int bytes = g_bits / 8;
    const size_t chunkFrames = 576;
    std::vector<char> buf(chunkFrames * static_cast<size_t>(g_chans * bytes));
    long long frame = 0;
    while (!g_stop && frame < g_frames) {
        int seek = g_seekTo.exchange(-1);
        if (seek >= 0) {
            g_mod.outMod->Flush(seek);
            frame = static_cast<long long>(seek) * g_rate / 1000;
        }
        long long n = std::min<long long>(static_cast<long long>(chunkFrames), g_frames - frame);
        int len = static_cast<int>(n * g_chans * bytes);
        if (g_mod.outMod->CanWrite() < len) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        for (long long i = 0; i < n * g_chans; ++i) {
            long long k = frame * g_chans + i;
            if (bytes == 2) {
                auto v = static_cast<int16_t>(static_cast<uint16_t>(k & 0xFFFF));
                std::memcpy(&buf[static_cast<size_t>(i) * 2], &v, 2);
            } else {
                buf[static_cast<size_t>(i)] = static_cast<char>(k & 0xFF);
            }
        }
        if (g_mod.outMod->Write(buf.data(), len) == 0) frame += n;
    }
    while (!g_stop && g_mod.outMod->IsPlaying()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!g_stop && g_api) g_api->PostMessage(g_mod.hMainWindow, lumora::WM_WA_MPEG_EOF, 0, 0);
}

int Play(const char* fn) {
    if (!fn || !ReadSpec(fn)) return 1;
#ifdef LUMORA_PLUGIN_BADFORMAT
    // Formats no output takes, then a write of a negative length: all refused.
    if (g_mod.outMod->Open(0, 2, 16, -1, -1) >= 0) return 2;
    if (g_mod.outMod->Open(44100, 0, 16, -1, -1) >= 0) return 3;
    if (g_mod.outMod->Open(44100, 2, 24, -1, -1) >= 0) return 4;
    char byte = 0;
    if (g_mod.outMod->Write(&byte, -5) == 0) return 5;
    return 6;
#endif
    if (g_mod.outMod->Open(g_rate, g_chans, g_bits, -1, -1) < 0) return 1;
    g_mod.SetInfo(g_rate * g_chans * g_bits / 1000, g_rate / 1000, g_chans, 1);
    g_stop = false;
    g_paused = false;
    g_thread = std::thread(Decode);
    return 0;
}

void Stop() {
    g_stop = true;
    if (g_thread.joinable()) g_thread.join();
    g_mod.outMod->Close();
}

void Pause() {
    g_paused = true;
    g_mod.outMod->Pause(1);
}
void UnPause() {
    g_paused = false;
    g_mod.outMod->Pause(0);
}
int IsPaused() { return g_paused ? 1 : 0; }
int GetLength() { return g_rate ? static_cast<int>(g_frames * 1000 / g_rate) : 0; }
int GetOutputTime() { return g_mod.outMod->GetOutputTime(); }
void SetOutputTime(int ms) { g_seekTo = ms; }
void SetVolume(int v) { g_mod.outMod->SetVolume(v); }
void SetPan(int p) { g_mod.outMod->SetPan(p); }
void EQSet(int, char*, int) {}

TInModule* Module() {
    g_mod = TInModule{};
    g_mod.version = 0x100;
    g_mod.description = "Lumora counter test plug-in";
    g_mod.FileExtensions = "TST;TSX\0Counter test files (*.TST;*.TSX)\0";
    g_mod.is_seekable = 1;
    g_mod.UsesOutputPlug = 1;
    g_mod.Config = Config;
    g_mod.About = About;
    g_mod.Init = Init;
    g_mod.Quit = Quit;
    g_mod.GetFileInfo = GetFileInfo;
    g_mod.InfoBox = InfoBox;
    g_mod.IsOurFile = IsOurFile;
    g_mod.Play = Play;
    g_mod.Pause = Pause;
    g_mod.UnPause = UnPause;
    g_mod.IsPaused = IsPaused;
    g_mod.Stop = Stop;
    g_mod.GetLength = GetLength;
    g_mod.GetOutputTime = GetOutputTime;
    g_mod.SetOutputTime = SetOutputTime;
    g_mod.SetVolume = SetVolume;
    g_mod.SetPan = SetPan;
    g_mod.EQSet = EQSet;
    return &g_mod;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) void winampSetHostApi(const TWinampHostApi* api) { g_api = api; }

#if defined(LUMORA_PLUGIN_NOEXPORT)
__attribute__((visibility("default"))) TInModule* winampGetInModule(void) { return Module(); }
#elif defined(LUMORA_PLUGIN_NILRECORD)
__attribute__((visibility("default"))) TInModule* winampGetInModule2(void) { return nullptr; }
#else
__attribute__((visibility("default"))) TInModule* winampGetInModule2(void) { return Module(); }
#endif

} // extern "C"
