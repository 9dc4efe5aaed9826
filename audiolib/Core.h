#pragma once
// Inner workings of the audio library: channels, the handle table, the mixer and the sync dispatcher.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audiolib/AudioLib.h"
#include "audiolib/Dsp.h"

namespace lumora::audiolib {

void SetError(int code);
int LastError();
bool SetConfigValue(DWORD option, DWORD value);
bool GetConfigValue(DWORD option, DWORD& value);
template <class T> T Fail(int code, T result) {
    SetError(code);
    return result;
}

// Sample formats a channel can carry.
enum class SampleFormat { U8, S16, F32 };
SampleFormat FormatFromFlags(DWORD flags);
int BytesPerSample(SampleFormat f);
void ToFloat(SampleFormat f, const uint8_t* in, float* out, size_t samples);
// Saturating conversion back; exact for values that came from the same format.
void FromFloat(SampleFormat f, const float* in, uint8_t* out, size_t samples);

struct SyncItem {
    HSYNC Handle;
    DWORD Type;
    QWORD Param;
    SYNCPROC* Proc;
    void* User;
    bool OneTime;
};

struct ChainItem {
    DWORD Handle;
    int Priority;
    DSPPROC* Proc = nullptr; // a sample-processing procedure, or
    void* User = nullptr;
    std::unique_ptr<Effect> Fx; // an effect
};

// A sync call waiting to be made on the dispatcher thread.
struct PendingSync {
    HSYNC Handle;
    DWORD Channel;
    DWORD Data;
    SYNCPROC* Proc;
    void* User;
};

enum class PlayState { Stopped, Playing, Paused };

class Channel {
public:
    Channel(DWORD freq, DWORD chans, DWORD flags, DWORD ctype);
    virtual ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // --- What each kind of channel provides (called with DecodeMutex held) ---
    // Up to `bytes` bytes (whole frames) of samples in the channel's format. `ended` is set when no
    // more will ever come; 0 bytes without `ended` means the source is momentarily empty (stalled).
    virtual size_t Produce(uint8_t* out, size_t bytes, bool& ended) = 0;
    // Seeks the source to a byte position (whole frames); false with an error code set on failure.
    virtual bool SeekBytes(uint64_t pos);
    // Length in bytes, or nothing when unknown.
    virtual bool LengthBytes(uint64_t& bytes);
    virtual const char* Tags(DWORD kind);
    virtual QWORD FilePosition(DWORD mode);
    // Called when the library frees the channel, before it waits for the mixer to let go.
    virtual void Shutdown() {}
    virtual bool IsMusic() const { return false; }
    virtual bool IsUserStream() const { return false; }

    // --- Shared machinery ---
    // Reads processed samples (source, then the DSP/effect chain); updates position and end state
    // and collects the syncs that are due. Takes DecodeMutex.
    size_t Read(uint8_t* out, size_t bytes, std::vector<PendingSync>& due);
    bool Seek(uint64_t pos);
    void Restart();
    void CollectSyncs(DWORD type, DWORD data, std::vector<PendingSync>& due);
    // The same with SyncMutex already held by the caller.
    void CollectSyncsLocked(DWORD type, DWORD data, std::vector<PendingSync>& due);
    // The newest `frames` frames that went to the output (float, interleaved), zeros before any.
    void RecentFrames(float* out, size_t frames);
    void RecordHistory(const float* data, size_t frames);
    size_t FrameBytes() const { return static_cast<size_t>(Chans) * static_cast<size_t>(BytesPerSample(Format)); }

    DWORD Handle = 0;
    const DWORD Freq;
    const DWORD Chans;
    const DWORD Flags;
    DWORD CType;
    const SampleFormat Format;
    DWORD OrigRes = 0;
    std::string FileName;
    bool Decode() const { return (Flags & BASS_STREAM_DECODE) != 0; }

    std::atomic<PlayState> State{PlayState::Stopped};
    std::atomic<bool> Stalled{false};
    std::atomic<bool> Ended{false};
    std::atomic<bool> Freed{false};
    std::atomic<uint64_t> Position{0};
    std::atomic<float> Volume{1.f}; // 0..1 of the maximum volume
    std::atomic<float> Pan{0.f};    // -1..1
    std::atomic<DWORD> PlayFreq{0}; // 0 = the channel's own rate

    std::mutex DecodeMutex;
    std::vector<ChainItem> Chain; // guarded by DecodeMutex, highest priority first
    std::mutex SyncMutex;
    std::vector<SyncItem> Syncs;

    // Mixer-thread state for rate conversion.
    std::vector<float> ResampleIn;
    double ResamplePos = 0;

private:
    void ApplyChain(uint8_t* data, size_t bytes);
    std::mutex historyMutex_;
    std::vector<float> history_;
    size_t historyPos_ = 0;
    std::vector<float> chainScratch_;
};

using ChannelPtr = std::shared_ptr<Channel>;

// Library state.
bool IsInitialised();
DWORD DeviceFreq();
DWORD MaxVolume();
DWORD ConfigValue(DWORD option);
// Registers a new channel and returns its handle (0 with an error when the library is not initialised).
DWORD AddChannel(ChannelPtr channel);
ChannelPtr FindChannel(DWORD handle);
bool RemoveChannel(DWORD handle);
DWORD NewItemHandle(); // handles of syncs, DSPs and effects
// Runs sync calls on the dispatcher thread, in order, with no library lock held.
void Dispatch(std::vector<PendingSync> due);
void DispatchOne(const PendingSync& s);

// Channel kinds (Streams.cpp, NetStream.cpp).
ChannelPtr OpenFileChannel(const std::string& path, DWORD flags, int& error);
ChannelPtr OpenMemoryChannel(const void* data, size_t size, DWORD flags, int& error);
ChannelPtr OpenMusicChannel(const std::string& path, const void* mem, size_t size, DWORD flags, DWORD freq,
                            int& error);
ChannelPtr OpenUserChannel(DWORD freq, DWORD chans, DWORD flags, STREAMPROC* proc, void* user);
ChannelPtr OpenUrlChannel(const std::string& url, DWORD offset, DWORD flags, DOWNLOADPROC* proc, void* user,
                          int& error);
// Whether a URL channel's download has completed (false for every other channel).
bool UrlDownloadDone(Channel& ch);

// Mixer (Mixer.cpp).
bool StartDevice(int device, DWORD freq, int& error);
void StopDevice();
std::string DeviceDescription();
void SetOutputPaused(bool paused);
void StopAllChannels();
bool OutputPaused();
void SetMasterVolume(float v);
float MasterVolume();
float CpuUsage();
void SetGainProc(LUMORA_GAINPROC* proc);
void SetMessageProc(LUMORA_MESSAGEPROC* proc);

} // namespace lumora::audiolib
