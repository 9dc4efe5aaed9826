#pragma once
// Host for Winamp 2 input plug-ins ("Plugins/in_*.so" beside the program) and the ring buffer that
// turns a plug-in's output, or a decoding channel of the audio library (the player's dual-channel
// mode), into a stream the audio library plays. One host per process.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "audio/player/BassLoader.h"
#include "framework/Forms.h"

namespace lumora {

// ---- The Winamp 2 plug-in interface records (our own declaration of the public layout) ----
struct TOutModule {
    int version;
    const char* description;
    intptr_t id;
    uintptr_t hMainWindow;
    void* hDllInstance;
    void (*Config)(uintptr_t hwndParent);
    void (*About)(uintptr_t hwndParent);
    void (*Init)();
    void (*Quit)();
    int (*Open)(int samplerate, int numchannels, int bitspersamp, int bufferlenms, int prebufferms);
    void (*Close)();
    int (*Write)(char* buf, int len);
    int (*CanWrite)();
    int (*IsPlaying)();
    int (*Pause)(int pause);
    void (*SetVolume)(int volume);
    void (*SetPan)(int pan);
    void (*Flush)(int t);
    int (*GetOutputTime)();
    int (*GetWrittenTime)();
};

struct TInModule {
    int version;
    const char* description;
    uintptr_t hMainWindow;
    void* hDllInstance;
    const char* FileExtensions; // "EXT1;EXT2\0description\0...\0"
    int is_seekable;
    int UsesOutputPlug;
    void (*Config)(uintptr_t hwndParent);
    void (*About)(uintptr_t hwndParent);
    void (*Init)();
    void (*Quit)();
    void (*GetFileInfo)(const char* file, char* title, int* length_in_ms);
    int (*InfoBox)(const char* file, uintptr_t hwndParent);
    int (*IsOurFile)(const char* fn);
    int (*Play)(const char* fn);
    void (*Pause)();
    void (*UnPause)();
    int (*IsPaused)();
    void (*Stop)();
    int (*GetLength)();
    int (*GetOutputTime)();
    void (*SetOutputTime)(int time_in_ms);
    void (*SetVolume)(int volume);
    void (*SetPan)(int pan);
    void (*SAVSAInit)(int maxlatency_in_ms, int srate);
    void (*SAVSADeInit)();
    void (*SAAddPCMData)(void* PCMData, int nch, int bps, int timestamp);
    int (*SAGetMode)();
    void (*SAAdd)(void* data, int timestamp, int csa);
    void (*VSAAddPCMData)(void* PCMData, int nch, int bps, int timestamp);
    int (*VSAGetMode)(int* specNch, int* waveNch);
    void (*VSAAdd)(void* data, int timestamp);
    void (*VSASetInfo)(int nch, int srate);
    int (*dsp_isactive)();
    int (*dsp_dosamples)(short* samples, int numsamples, int bps, int nch, int srate);
    void (*EQSet)(int on, char data[10], int preamp);
    void (*SetInfo)(int bitrate, int srate, int stereo, int synched);
    TOutModule* outMod;
};

static_assert(offsetof(TOutModule, hMainWindow) == 3 * sizeof(void*));
static_assert(offsetof(TOutModule, Config) == 5 * sizeof(void*));
static_assert(offsetof(TOutModule, Open) == 9 * sizeof(void*));
static_assert(offsetof(TOutModule, GetWrittenTime) == 19 * sizeof(void*));
static_assert(sizeof(TOutModule) == 20 * sizeof(void*));
static_assert(offsetof(TInModule, FileExtensions) == 4 * sizeof(void*));
static_assert(offsetof(TInModule, is_seekable) == 5 * sizeof(void*));
static_assert(offsetof(TInModule, Config) == 6 * sizeof(void*));
static_assert(offsetof(TInModule, Play) == 13 * sizeof(void*));
static_assert(offsetof(TInModule, SAVSAInit) == 23 * sizeof(void*));
static_assert(offsetof(TInModule, dsp_isactive) == 32 * sizeof(void*));
static_assert(offsetof(TInModule, SetInfo) == 35 * sizeof(void*));
static_assert(offsetof(TInModule, outMod) == 36 * sizeof(void*));

// The plug-in's entry: "winampGetInModule2". On Linux a plug-in that posts window messages (the end
// of its file) may also export "winampSetHostApi", through which the host hands it PostMessage.
using TGetInModule2 = TInModule* (*)();
struct TWinampHostApi {
    int Version; // 1
    int (*PostMessage)(uintptr_t window, uint32_t msg, uintptr_t wparam, intptr_t lparam);
};
using TSetHostApi = void (*)(const TWinampHostApi*);

// ---- Messages to the player window ----
constexpr uint32_t WM_WA_MPEG_EOF = WM_USER + 2;         // 1026, a plug-in at the end of its file
constexpr uint32_t WM_PluginStartPlay = WM_USER + 101;   // 1125, lParam = the channel information
constexpr uint32_t WM_PluginOutputOpen = WM_USER + 105;  // 1129, wParam = the output stream
constexpr uint32_t WM_PluginSetInfo = WM_USER + 112;     // 1136, lParam = the channel information
constexpr uint32_t WM_PluginThreadWake = WM_USER + 114;  // 1138

// The channel information block posted to the player.
struct TChannelInfo {
    uint16_t BitsPerSample;
    uint32_t BitRate;
    uint32_t SampleRate;
    uint16_t Channels;
};
static_assert(offsetof(TChannelInfo, BitRate) == 4 && offsetof(TChannelInfo, SampleRate) == 8 &&
              offsetof(TChannelInfo, Channels) == 12);
using PChannelInfo = const TChannelInfo*;

struct TPluginInfo {
    std::string FileName;
    int Version = 0;
    std::string Description;
    std::string FileExtensions; // the first string of the module's extension field
    int Seekable = 0;
    void* DllHandle = nullptr;
};

constexpr int kMaxPlugins = 8;

// A single-producer, single-consumer byte ring: one lock, held only while bytes are copied.
class TRingBuffer {
public:
    bool Resize(size_t bytes); // empties the ring; false when the memory cannot be had
    void Reset();
    size_t Size() const;
    size_t Used() const;
    size_t Free() const { return Size() - Used(); }
    // Writes all of `n` bytes or none.
    bool Write(const uint8_t* data, size_t n);
    // Reads up to `n` bytes; returns how many.
    size_t Read(uint8_t* out, size_t n);

private:
    mutable std::mutex mutex_;
    std::vector<uint8_t> data_;
    size_t read_ = 0, used_ = 0;
};

bool InitPluginCtrl(HWND window);
void QuitPluginCtrl();
bool PluginCtrlStarted();
// 0 loaded, 1 output not ready, 2 already loaded, 3 no free slot, 4 cannot be loaded, 5 not a Winamp 2
// input plug-in.
int LoadWinampPlugin(const std::string& fileName);
// 0 unloaded, 6 the module could not be freed, 7 not loaded, 8 in use.
int UnloadWinampPlugin(const std::string& fileName);
int GetPluginIndex(const std::string& fileName);
bool IsPluginLoaded(const std::string& fileName);
TInModule* GetPlugin(int index);
TPluginInfo GetPluginInfo(int index);
int SelectPlugin(int index);
std::string GetSelectedPluginName();
int FindPluginForExt(const std::string& ext);
std::string GetPluginFileFilter();
std::string GetPluginFolder();
void SetInputEnded();
// The player tells the host each mode it enters (a TPlayerMode value).
void SetPluginPlayerMode(int mode);
int PluginPlayerMode();
void RequestFlushOnPause();
int GetPluginOutputTime(bool fromOutput);
DWORD CreateDualChannel(DWORD source, DWORD rate, DWORD channels, DWORD bits);
void FreeDualChannel();
void ResetRingBuffer();
// Moves the dual channel's source (seek) and empties the ring with no feed step between the two:
// nothing from before the move stays, and nothing after it is lost.
void MoveSourceAndResetRing(const std::function<void()>& seek);
size_t GetBufferedBytes();
bool IsDSPActive();
void StopDSPModule();
void ProcessPendingMessages();

// For tests: the emulated output module and the ring.
TOutModule* EmulatedOutputModule();
TRingBuffer& PluginRing();
bool OutputStarted();

} // namespace lumora
