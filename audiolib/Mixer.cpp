// The library's state: error codes, configuration, the handle table, the sync dispatcher and the
// mixing thread that feeds the output.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <thread>

#include "audiolib/Core.h"
#include "audiolib/Output.h"

namespace lumora::audiolib {

namespace {

thread_local int t_error = BASS_OK;

std::mutex g_lock; // the handle table and the device
std::map<DWORD, ChannelPtr> g_channels;
DWORD g_nextChannel = 0x10000;
std::atomic<DWORD> g_nextItem{0x1000000};

std::mutex g_configLock;
std::map<DWORD, DWORD> g_config = {{BASS_CONFIG_BUFFER, 500},     {BASS_CONFIG_UPDATEPERIOD, 100},
                                   {BASS_CONFIG_MAXVOL, 100},     {BASS_CONFIG_GVOL_SAMPLE, 100},
                                   {BASS_CONFIG_GVOL_STREAM, 100}, {BASS_CONFIG_GVOL_MUSIC, 100},
                                   {BASS_CONFIG_NET_TIMEOUT, 5000}, {BASS_CONFIG_NET_BUFFER, 5000},
                                   {BASS_CONFIG_CD_FREEOLD, 0},     {LUMORA_CONFIG_NET_KEEPWHOLE, 64u << 20}};

// Mixing period: 1024 frames (23 ms at 44.1 kHz).
constexpr size_t kPeriodFrames = 1024;

class Dispatcher {
public:
    ~Dispatcher() { Stop(); }
    void Post(std::vector<PendingSync> calls) {
        if (calls.empty()) return;
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) {
            stop_ = false;
            thread_ = std::thread([this] { Run(); });
        }
        for (auto& c : calls) queue_.push_back(c);
        cv_.notify_one();
    }
    void Stop() {
        {
            std::lock_guard lock(mutex_);
            if (!thread_.joinable()) return;
            stop_ = true;
            cv_.notify_one();
        }
        thread_.join();
        std::lock_guard lock(mutex_);
        thread_ = std::thread();
        queue_.clear();
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        while (true) {
            cv_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            // Calls that are queued when the library shuts down are still made, in order.
            if (queue_.empty()) return;
            PendingSync s = queue_.front();
            queue_.pop_front();
            lock.unlock();
            s.Proc(s.Handle, s.Channel, s.Data, s.User);
            lock.lock();
        }
    }
    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<PendingSync> queue_;
    std::thread thread_;
    bool stop_ = false;
};


struct Device {
    bool initialised = false;
    DWORD freq = 44100;
    std::unique_ptr<Output> output;
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> paused{false};
    std::atomic<float> master{1.f};
    std::atomic<float> cpu{0.f};
    std::atomic<LUMORA_GAINPROC*> gain{nullptr};
    std::atomic<LUMORA_MESSAGEPROC*> message{nullptr};
};

// Plain globals, so that the shut-down below (defined after them) runs before they go away.
Dispatcher g_dispatcher;
Device g_device;
Dispatcher& TheDispatcher() { return g_dispatcher; }
Device& TheDevice() { return g_device; }

float GlobalVolume(const Channel& ch) {
    DWORD max = MaxVolume();
    DWORD v = ConfigValue(ch.IsMusic() ? BASS_CONFIG_GVOL_MUSIC : BASS_CONFIG_GVOL_STREAM);
    return max ? std::min(1.f, static_cast<float>(v) / static_cast<float>(max)) : 0.f;
}

// Adds one channel's next period to the stereo mix at the device rate.
void MixChannel(Channel& ch, float* mix, size_t frames, DWORD devFreq, std::vector<PendingSync>& due,
                std::vector<uint8_t>& raw, std::vector<float>& conv) {
    const size_t chans = ch.Chans;
    const DWORD srcFreq = ch.PlayFreq ? ch.PlayFreq.load() : ch.Freq;
    std::vector<float>& in = ch.ResampleIn; // source frames not yet used (float, interleaved)
    size_t produced; // device-rate frames of this channel in `conv`
    conv.assign(frames * chans, 0.f);
    if (srcFreq == devFreq) {
        raw.resize(frames * ch.FrameBytes());
        size_t got = ch.Read(raw.data(), raw.size(), due) / ch.FrameBytes();
        ToFloat(ch.Format, raw.data(), conv.data(), got * chans);
        produced = got;
    } else {
        // Linear interpolation between source frames; `ResamplePos` is the fractional read position
        // into `in`, which always keeps the frame before it.
        const double step = static_cast<double>(srcFreq) / devFreq;
        size_t need = static_cast<size_t>(std::ceil(ch.ResamplePos + step * frames)) + 2;
        size_t have = in.size() / chans;
        if (need > have) {
            raw.resize((need - have) * ch.FrameBytes());
            size_t got = ch.Read(raw.data(), raw.size(), due) / ch.FrameBytes();
            in.resize((have + got) * chans);
            ToFloat(ch.Format, raw.data(), in.data() + have * chans, got * chans);
            have += got;
        }
        produced = 0;
        while (produced < frames) {
            size_t i = static_cast<size_t>(ch.ResamplePos);
            if (i + 1 >= have) break;
            float t = static_cast<float>(ch.ResamplePos - i);
            for (size_t c = 0; c < chans; ++c)
                conv[produced * chans + c] = in[i * chans + c] * (1 - t) + in[(i + 1) * chans + c] * t;
            ch.ResamplePos += step;
            ++produced;
        }
        size_t used = std::min(static_cast<size_t>(ch.ResamplePos), have);
        in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(used * chans));
        ch.ResamplePos -= static_cast<double>(used);
    }
    ch.RecordHistory(conv.data(), frames); // silence included, so the spectrum decays after the end
    const float vol = ch.Volume * GlobalVolume(ch);
    const float pan = ch.Pan;
    const float left = vol * (pan > 0 ? 1 - pan : 1), right = vol * (pan < 0 ? 1 + pan : 1);
    for (size_t f = 0; f < produced; ++f) {
        const float* s = &conv[f * chans];
        float l, r;
        if (chans == 1) {
            l = r = s[0];
        } else if (chans == 2) {
            l = s[0];
            r = s[1];
        } else {
            // More than two channels fold down: even channels left, odd channels right.
            l = r = 0;
            for (size_t c = 0; c < chans; ++c) (c % 2 ? r : l) += s[c];
            float n = static_cast<float>((chans + 1) / 2);
            l /= n;
            r /= n;
        }
        mix[f * 2] += l * left;
        mix[f * 2 + 1] += r * right;
    }
}

void MixerLoop() {
    Device& dev = TheDevice();
    std::vector<float> mix(kPeriodFrames * 2);
    std::vector<int16_t> out(kPeriodFrames * 2);
    std::vector<uint8_t> raw;
    std::vector<float> conv;
    std::vector<ChannelPtr> playing;
    std::vector<PendingSync> due;
    double busy = 0, total = 0;
    while (!dev.stop) {
        auto t0 = std::chrono::steady_clock::now();
        std::fill(mix.begin(), mix.end(), 0.f);
        playing.clear();
        if (!dev.paused) {
            std::lock_guard lock(g_lock);
            for (auto& [h, ch] : g_channels)
                if (!ch->Decode() && ch->State == PlayState::Playing) playing.push_back(ch);
        }
        // Unpaced, an idle mixer would spin writing silence; it rests instead until something plays.
        if (playing.empty() && !dev.output->Paced()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        for (auto& ch : playing)
            if (!ch->Freed && ch->State == PlayState::Playing)
                MixChannel(*ch, mix.data(), kPeriodFrames, dev.freq, due, raw, conv);
        playing.clear();
        float gain[2] = {dev.master, dev.master};
        if (auto proc = dev.gain.load()) {
            float left = 1, right = 1;
            proc(&left, &right);
            gain[0] *= std::clamp(left, 0.f, 1.f);
            gain[1] *= std::clamp(right, 0.f, 1.f);
        }
        for (size_t i = 0; i < mix.size(); ++i) {
            long v = std::lrint(mix[i] * gain[i & 1] * 32768.f);
            out[i] = static_cast<int16_t>(std::clamp(v, -32768L, 32767L));
        }
        Dispatch(std::move(due));
        due.clear();
        auto t1 = std::chrono::steady_clock::now();
        dev.output->Write(out.data(), kPeriodFrames);
        auto t2 = std::chrono::steady_clock::now();
        busy = busy * 0.9 + std::chrono::duration<double>(t1 - t0).count();
        total = total * 0.9 + std::chrono::duration<double>(t2 - t0).count();
        dev.cpu = total > 0 ? static_cast<float>(100 * busy / total) : 0.f;
    }
}

// Shuts the library down when the program ends without freeing it, so a WAV output is finished.
struct AtExit {
    ~AtExit() {
        StopDevice();
        TheDispatcher().Stop();
    }
} g_atExit;

} // namespace

void SetError(int code) { t_error = code; }
int LastError() { return t_error; }

DWORD ConfigValue(DWORD option) {
    std::lock_guard lock(g_configLock);
    auto it = g_config.find(option);
    return it == g_config.end() ? 0 : it->second;
}

DWORD MaxVolume() { return ConfigValue(BASS_CONFIG_MAXVOL); }

bool SetConfigValue(DWORD option, DWORD value) {
    std::lock_guard lock(g_configLock);
    auto it = g_config.find(option);
    if (it == g_config.end()) return false;
    it->second = value;
    return true;
}

bool GetConfigValue(DWORD option, DWORD& value) {
    std::lock_guard lock(g_configLock);
    auto it = g_config.find(option);
    if (it == g_config.end()) return false;
    value = it->second;
    return true;
}

void StopAllChannels() {
    std::lock_guard lock(g_lock);
    for (auto& [h, ch] : g_channels)
        if (!ch->Decode()) ch->State = PlayState::Stopped;
}

bool IsInitialised() {
    std::lock_guard lock(g_lock);
    return TheDevice().initialised;
}

DWORD DeviceFreq() {
    std::lock_guard lock(g_lock);
    return TheDevice().freq;
}

DWORD AddChannel(ChannelPtr channel) {
    std::lock_guard lock(g_lock);
    if (!TheDevice().initialised) return Fail<DWORD>(BASS_ERROR_INIT, 0);
    DWORD h = g_nextChannel++;
    if (g_nextChannel >= 0x1000000) g_nextChannel = 0x10000;
    channel->Handle = h;
    g_channels[h] = std::move(channel);
    return h;
}

ChannelPtr FindChannel(DWORD handle) {
    std::lock_guard lock(g_lock);
    auto it = g_channels.find(handle);
    if (it == g_channels.end()) return Fail<ChannelPtr>(BASS_ERROR_HANDLE, nullptr);
    return it->second;
}

bool RemoveChannel(DWORD handle) {
    ChannelPtr ch;
    {
        std::lock_guard lock(g_lock);
        auto it = g_channels.find(handle);
        if (it == g_channels.end()) return Fail(BASS_ERROR_HANDLE, false);
        ch = std::move(it->second);
        g_channels.erase(it);
    }
    ch->Freed = true;
    ch->State = PlayState::Stopped;
    ch->Shutdown();
    // Waits for a read in progress on the mixing thread to finish before the caller moves on.
    std::lock_guard wait(ch->DecodeMutex);
    return true;
}

DWORD NewItemHandle() { return g_nextItem++; }

void Dispatch(std::vector<PendingSync> due) { TheDispatcher().Post(std::move(due)); }
void DispatchOne(const PendingSync& s) { TheDispatcher().Post({s}); }

bool StartDevice(int device, DWORD freq, int& error) {
    Device& dev = TheDevice();
    std::lock_guard lock(g_lock);
    if (dev.initialised) {
        error = BASS_ERROR_ALREADY;
        return false;
    }
    if (freq < 1000 || freq > 192000) {
        error = BASS_ERROR_FREQ;
        return false;
    }
    std::string setting;
    if (device == 0) {
        setting = "null";
    } else if (device == -1 || device == 1) {
        const char* env = std::getenv("LUMORA_AUDIO_OUTPUT");
        setting = env ? env : "";
    } else {
        error = BASS_ERROR_DEVICE;
        return false;
    }
    std::string message;
    dev.output = OpenOutput(setting, freq, message);
    if (!dev.output) {
        if (LUMORA_MESSAGEPROC* proc = dev.message.load())
            proc(message.c_str());
        else
            std::fprintf(stderr, "audio: %s\n", message.c_str());
        error = setting.rfind("wav:", 0) == 0 ? BASS_ERROR_CREATE : BASS_ERROR_DEVICE;
        return false;
    }
    dev.freq = freq;
    dev.stop = false;
    dev.paused = false;
    dev.initialised = true;
    dev.thread = std::thread(MixerLoop);
    return true;
}

void StopDevice() {
    Device& dev = TheDevice();
    std::vector<DWORD> handles;
    {
        std::lock_guard lock(g_lock);
        if (!dev.initialised) return;
        for (auto& [h, ch] : g_channels) handles.push_back(h);
    }
    for (DWORD h : handles) RemoveChannel(h);
    dev.stop = true;
    if (dev.thread.joinable()) dev.thread.join();
    std::lock_guard lock(g_lock);
    dev.output->Close();
    dev.output.reset();
    dev.initialised = false;
}

std::string DeviceDescription() {
    std::lock_guard lock(g_lock);
    return TheDevice().output ? TheDevice().output->Description() : std::string();
}

void SetOutputPaused(bool paused) { TheDevice().paused = paused; }
bool OutputPaused() { return TheDevice().paused; }
void SetMasterVolume(float v) { TheDevice().master = std::clamp(v, 0.f, 1.f); }
float MasterVolume() { return TheDevice().master; }
float CpuUsage() { return TheDevice().cpu; }
void SetGainProc(LUMORA_GAINPROC* proc) { TheDevice().gain = proc; }
void SetMessageProc(LUMORA_MESSAGEPROC* proc) { TheDevice().message = proc; }

} // namespace lumora::audiolib
