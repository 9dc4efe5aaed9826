#pragma once
// The visualisation feed: a thread that writes one frame of spectrum and waveform data per period
// into the shared block "VisHostSharedMemory" for an external host ("VisHost"), and the player's
// side of it (the host's commands, track information, mode and position).

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/visfeed/SharedMemory.h"
#include "audiolib/AudioLib.h"
#include "framework/Forms.h"

namespace lumora {

constexpr int kVisBlockSize = 2600;
// Byte offsets of the shared block's fields (little-endian dwords).
enum TVisOffset : int {
    voMode = 0,
    voSampleRate = 4,
    voBitRate = 8,
    voChannels = 12,
    voDuration = 16,
    voTitle = 20, // 256 bytes, zero-terminated
    voSync = 276,
    voFrameReady = 280,
    voPlayRate = 284,
    voPlayChannels = 288,
    voPosition = 292,
    voData = 296, // spectrum blocks, then waveform blocks, 576 bytes each
};
constexpr int kVisValues = 576;

// Notifications to the host (wParam) and commands from it.
enum : uint32_t {
    vnNewFrame = 10,
    vnMode = 81,
    vnTrackInfo = 82,
    vnSync = 83,
    vcStart = 60,
    vcParameters = 55,
    vcStopped = 70,
};

class TVisDataThread {
public:
    // Opens the block and its mutex and creates the timer; the thread itself starts suspended.
    TVisDataThread();
    ~TVisDataThread();
    TVisDataThread(const TVisDataThread&) = delete;
    TVisDataThread& operator=(const TVisDataThread&) = delete;

    // False when the block or the timer is missing: the player then works without the feed.
    bool Ready() const { return ready_; }
    uint8_t* Block() const { return block_; }
    uint32_t MessageNumber() const { return memory_.SendingDataMessage(); }

    void SetParameters(uint32_t latencyMs, uint32_t delayMs, uint32_t spectrumChannels, uint32_t waveformChannels);
    void SetHostThreadId(uint64_t id) { hostThread_ = id; }
    uint64_t HostThreadId() const { return hostThread_; }
    void SetPlayChannel(DWORD channel, int sampleRate, int channels);
    void SetPosition(uint32_t ms) { position_ = ms; }
    void SetScale(int scale) { scale_ = scale; }
    // Posts "WM_SendingData" with wParam and lParam to the host's thread.
    void Notify(uint64_t wParam, int64_t lParam);
    // Clears the skip counter and the frame-ready flag, then resumes.
    void ResetAndResume();
    void Suspend();
    void Resume();
    bool Suspended() const { return suspended_; }
    bool Started() const { return started_; }
    bool Finished() const { return finished_; }
    uint32_t Period() const { return period_; }
    uint32_t Latency() const { return latency_; }
    int SkippedFrames() const { return skipped_; }
    // Writes one frame when the play channel has data for it (the thread does this on each signal).
    void WriteFrame();

private:
    void Execute();
    void SetPeriod(uint32_t delayMs);

    TSharedMemory memory_;
    std::unique_ptr<IWaitableTimer> timer_;
    uint8_t* block_ = nullptr;
    bool ready_ = false;
    std::thread thread_;
    std::atomic<bool> started_{false}, suspended_{true}, terminate_{false}, finished_{false};
    std::atomic<bool> armed_{false}, rearm_{false};
    std::atomic<uint32_t> period_{0}, latency_{0}, delay_{0}, spectrumChannels_{0}, waveformChannels_{0};
    std::atomic<uint64_t> hostThread_{0};
    std::atomic<DWORD> play_{0};
    std::atomic<int> playRate_{0}, playChannels_{0}, scale_{512}, skipped_{0};
    std::atomic<uint32_t> position_{0};
    // Work buffers, allocated once: FFT magnitudes for two channels, and 8 x 576 samples.
    std::vector<float> fft_;
    std::vector<int16_t> samples_;
};

// What the audio player does for the feed: commands from the host, and the block's player fields.
class TVisFeed {
public:
    TVisFeed();
    ~TVisFeed();
    TVisFeed(const TVisFeed&) = delete;
    TVisFeed& operator=(const TVisFeed&) = delete;

    bool Ready() const { return thread_.Ready(); }
    TVisDataThread& Thread() { return thread_; }
    uint32_t MessageNumber() const { return thread_.MessageNumber(); }
    bool Active() const { return active_; }
    uint32_t RunValue() const { return runValue_; }
    // The window the host sends its commands to (class "TAudioPlayer"); 0 when the feed is not ready.
    TIpcHandle CommandWindow() const { return window_ ? window_->Handle() : 0; }

    // Delivers a host command to the player's hidden window; the player sets it. lParam points at
    // the command's dwords (at least four) for the duration of the call.
    std::function<void(TMessage& message)> Deliver;

    // The player's handling of a command; data holds at least four dwords.
    void HandleCommand(uint64_t wParam, const uint32_t* data, bool playing);
    void TrackInfo(int sampleRate, int bitRate, int channels, int64_t durationMs, const std::string& title);
    void SyncFlag(bool sync);
    void ModeChanged(int newMode, bool playing);
    // Ends the feed when the player goes: inactive, thread suspended, then waits (processing
    // messages, at most limitMs on the platform clock) for the host's stopped command.
    void Shutdown(uint32_t limitMs = 2000);

private:
    void WriteDword(int offset, uint32_t value);

    TVisDataThread thread_;
    std::unique_ptr<IIpcWindow> window_;
    bool active_ = false;
    uint32_t runValue_ = 0;
};

} // namespace lumora
