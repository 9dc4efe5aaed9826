#include "audio/plugins/PluginHost.h"

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "framework/SysUtils.h"
#include "platform/system/Clock.h"
#include "platform/system/System.h"

namespace lumora {

namespace {

using namespace std::chrono_literals;

constexpr size_t kInitialRingBytes = 88200;
constexpr size_t kFeedBufferBytes = 36864;
// How long the dual stream waits for the feeder to fill the ring before it plays silence instead.
constexpr auto kPrebufferWait = 100ms;
// How long the output stream waits for a resumed plug-in's first write, in steps.
constexpr int kResyncWaitSteps = 5;
constexpr auto kResyncWaitStep = 200ms;

struct THost {
    bool started = false;
    HWND playerWindow = 0;
    std::array<TInModule*, kMaxPlugins> slots{};
    std::array<TPluginInfo, kMaxPlugins> infos;
    int selected = -1;
    TOutModule out{};
    std::atomic<bool> outputReady{false};
    TRingBuffer ring;
    std::vector<uint8_t> feed;
    // Format of the current output.
    std::atomic<DWORD> rate{0}, bits{0}, chans{0};
    std::atomic<uint64_t> written{0};
    std::atomic<int> timeOffset{0};
    std::atomic<bool> prebuffering{false}, inputEnded{false}, flushOnPause{false}, outputStarted{false};
    // Set when a paused output resumes: the stream then waits once for the plug-in's fresh data
    // rather than running dry while the plug-in gets going again.
    std::atomic<bool> resync{false};
    std::mutex writeMutex;
    std::condition_variable writeCv;
    uint64_t writes = 0; // guarded by writeMutex
    std::atomic<int> playerMode{0};
    std::atomic<DWORD> outputStream{0}, playStream{0}, source{0};
    TChannelInfo info{};
    // The dual-channel feeder.
    std::thread feeder;
    std::mutex feederMutex;
    std::condition_variable feederCv;
    bool feederStop = false;
    int wakes = 0;
    std::condition_variable prebufferCv;
    std::mutex prebufferMutex;
    // Held for each feed step, so emptying the ring never interleaves with a copy into it.
    std::mutex feedStepMutex;
};

THost& Host() {
    static THost host;
    return host;
}

size_t BlockBytes(DWORD bits, DWORD rate, DWORD chans) {
    return static_cast<size_t>(bits / 8) * rate * chans * 2 / 10;
}

// Keeps the ring when it holds between 2 and 4 blocks, else makes it 3 blocks.
bool FitRing(size_t block) {
    THost& h = Host();
    size_t size = h.ring.Size();
    if (size >= 2 * block && size <= 4 * block) return true;
    return h.ring.Resize(3 * block);
}

void ResetCounters() {
    THost& h = Host();
    h.ring.Reset();
    h.written = 0;
    h.flushOnPause = false;
    h.prebuffering = true;
    h.inputEnded = false;
}

int BytesToMs(uint64_t bytes) {
    THost& h = Host();
    uint64_t perSecond = static_cast<uint64_t>(h.bits / 8) * h.rate * h.chans;
    if (perSecond == 0) return h.timeOffset;
    return static_cast<int>(std::llround(static_cast<double>(bytes) * 1000.0 / static_cast<double>(perSecond))) +
           h.timeOffset;
}

void StartOutput() {
    THost& h = Host();
    h.prebuffering = false;
    h.resync = false;
    BASS_ChannelPlay(h.outputStream, 1);
    h.info.BitsPerSample = static_cast<uint16_t>(h.bits.load());
    h.info.SampleRate = h.rate;
    h.info.Channels = static_cast<uint16_t>(h.chans.load());
    h.outputStarted = true;
    PostMessage(h.playerWindow, WM_PluginStartPlay, 0, reinterpret_cast<intptr_t>(&h.info));
}

// ---- The emulated output module (called on the plug-in's own thread) ----

void OutConfig(uintptr_t) { MessageBox("No configuration is needed.", "Confirm", TMsgIcon::Information); }
void OutAbout(uintptr_t) {
    MessageBox("This is a Winamp output plug-in emulator using BASS", "Confirm", TMsgIcon::Information);
}
void OutInit() { Host().outputReady = true; }
void OutQuit() { Host().outputReady = false; }

DWORD OutputStreamProc(HSTREAM, void* buffer, DWORD length, void*) {
    THost& h = Host();
    auto* out = static_cast<uint8_t*>(buffer);
    size_t got = h.ring.Read(out, length);
    if (h.resync && got < length) {
        std::unique_lock lock(h.writeMutex);
        const uint64_t seen = h.writes;
        for (int i = 0; i < kResyncWaitSteps && h.writes == seen && !h.inputEnded; ++i)
            h.writeCv.wait_for(lock, kResyncWaitStep);
        lock.unlock();
        h.resync = false;
        got += h.ring.Read(out + got, length - got);
    }
    // An empty ring is a momentary underrun while the plug-in still writes; the stream ends only
    // after the plug-in has reported the end of its file.
    if (got == 0 && h.inputEnded) return BASS_STREAMPROC_END;
    return static_cast<DWORD>(got);
}

int OutOpen(int rate, int channels, int bits, int, int) {
    THost& h = Host();
    if (!h.outputReady) return -1;
    // Values no sound card takes are refused here rather than passed on.
    if (rate < 1000 || rate > 384000 || channels < 1 || channels > 8 || (bits != 8 && bits != 16)) return -1;
    DWORD stream = BASS_StreamCreate(static_cast<DWORD>(rate), static_cast<DWORD>(channels),
                                     bits == 8 ? BASS_SAMPLE_8BITS : 0, OutputStreamProc, nullptr);
    int result = -1;
    if (stream) {
        h.rate = static_cast<DWORD>(rate);
        h.bits = static_cast<DWORD>(bits);
        h.chans = static_cast<DWORD>(channels);
        if (FitRing(BlockBytes(h.bits, h.rate, h.chans))) {
            h.outputStream = stream;
            h.timeOffset = 0;
            PostMessage(h.playerWindow, WM_PluginOutputOpen, stream, 0);
            result = 0;
        } else {
            BASS_StreamFree(stream);
        }
    }
    h.outputStarted = false;
    ResetCounters();
    return result;
}

void OutClose() {
    THost& h = Host();
    DWORD stream = h.outputStream.exchange(0);
    if (!stream) return;
    if (BASS_ChannelIsActive(stream) == BASS_ACTIVE_PLAYING) BASS_ChannelStop(stream);
    BASS_StreamFree(stream);
}

int OutWrite(char* buf, int len) {
    THost& h = Host();
    if (!buf || len < 0 || !h.outputStream) return -1;
    if (static_cast<size_t>(len) >= h.ring.Free()) return 1; // full: the plug-in tries again
    h.ring.Write(reinterpret_cast<const uint8_t*>(buf), static_cast<size_t>(len));
    h.written += static_cast<uint64_t>(len);
    {
        std::lock_guard lock(h.writeMutex);
        ++h.writes;
    }
    h.writeCv.notify_all();
    if (h.prebuffering) {
        size_t block = BlockBytes(h.bits, h.rate, h.chans);
        if (h.ring.Free() <= 8192 || h.ring.Used() >= 2 * block) StartOutput();
    }
    return 0;
}

int OutCanWrite() {
    size_t free = Host().ring.Free();
    return free > 0 ? static_cast<int>(std::min<size_t>(free - 1, 0x7FFFFFFF)) : 0;
}

int OutIsPlaying() {
    THost& h = Host();
    // A plug-in asks this when it has written everything; a file shorter than the prebuffer would
    // otherwise never start.
    if (h.prebuffering && h.outputStream && h.ring.Used() > 0) StartOutput();
    return BASS_ChannelIsActive(h.outputStream) == BASS_ACTIVE_PLAYING ? 1 : 0;
}

int OutPause(int pause) {
    THost& h = Host();
    DWORD state = BASS_ChannelIsActive(h.outputStream);
    bool paused = state == BASS_ACTIVE_PAUSED;
    if (!pause) {
        h.resync = true;
        BASS_ChannelPlay(h.outputStream, paused ? 0 : 1);
    } else if (!paused) {
        BASS_ChannelPause(h.outputStream);
    }
    return paused ? 1 : 0;
}

void OutSetVolume(int volume) {
    BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, static_cast<DWORD>(std::clamp(volume, 0, 255)));
}

void OutSetPan(int pan) {
    pan = std::clamp(pan, -128, 127);
    BASS_ChannelSetAttributes(Host().outputStream, -1, -1, static_cast<int>(std::lround(pan * 0.78125)));
}

void OutFlush(int t) {
    THost& h = Host();
    DWORD state = BASS_ChannelIsActive(h.outputStream);
    if (state == BASS_ACTIVE_PAUSED && !h.flushOnPause) return;
    BASS_ChannelStop(h.outputStream);
    bool hadData = state == BASS_ACTIVE_PLAYING || (state == BASS_ACTIVE_STALLED && h.ring.Used() > 0);
    h.timeOffset = t;
    h.ring.Reset();
    h.written = 0;
    h.flushOnPause = false;
    if (hadData) h.prebuffering = true;
}

int OutGetOutputTime() {
    THost& h = Host();
    QWORD pos = h.outputStream ? BASS_ChannelGetPosition(h.outputStream) : 0;
    return BytesToMs(pos == ~QWORD{0} ? 0 : pos);
}

int OutGetWrittenTime() { return BytesToMs(Host().written); }

// ---- Callbacks handed to input plug-ins ----
void InSetInfo(int bitrate, int srate, int stereo, int) {
    THost& h = Host();
    if (bitrate == -1 && srate == -1 && stereo == -1) return;
    if (bitrate != -1) h.info.BitRate = static_cast<uint32_t>(std::max(bitrate, 0));
    if (srate != -1) h.info.SampleRate = static_cast<uint32_t>(std::max(srate, 0));
    if (stereo != -1) h.info.Channels = static_cast<uint16_t>(std::clamp(stereo, 0, 0xFFFF));
    PostMessage(h.playerWindow, WM_PluginSetInfo, 0, reinterpret_cast<intptr_t>(&h.info));
}
int InDspIsActive() { return IsDSPActive() ? 1 : 0; }
int InDspDoSamples(short*, int numsamples, int, int, int) { return numsamples; }
void InSAVSAInit(int, int) {}
void InSAVSADeInit() {}
void InSAAddPCMData(void*, int, int, int) {}
int InSAGetMode() { return 0; }
void InSAAdd(void*, int, int) {}
void InVSAAddPCMData(void*, int, int, int) {}
int InVSAGetMode(int*, int*) { return 0; }
void InVSAAdd(void*, int) {}
void InVSASetInfo(int, int) {}

int HostPostMessage(uintptr_t window, uint32_t msg, uintptr_t wparam, intptr_t lparam) {
    return PostMessage(window, msg, wparam, lparam) ? 1 : 0;
}
const TWinampHostApi kHostApi = {1, HostPostMessage};

// ---- The dual-channel feeder ----

size_t FeedChunk() {
    THost& h = Host();
    size_t chunk = static_cast<size_t>(h.chans) * 576;
    if (h.bits > 8) chunk *= 2;
    if (h.rate > 22050) chunk *= 2;
    return std::min(chunk, h.feed.size());
}

void WakeFeeder() {
    THost& h = Host();
    std::lock_guard lock(h.feederMutex);
    ++h.wakes;
    h.feederCv.notify_one();
}

void EndPrebuffer() {
    THost& h = Host();
    std::lock_guard lock(h.prebufferMutex);
    h.prebuffering = false;
    h.prebufferCv.notify_all();
}

// Moves at most one chunk from the source into the ring; true when it should run again at once.
bool FeedStep() {
    THost& h = Host();
    std::lock_guard step(h.feedStepMutex);
    if (!h.playStream || h.inputEnded) return false;
    const size_t chunk = FeedChunk();
    bool again = false;
    if (h.ring.Free() >= chunk) {
        DWORD n = BASS_ChannelGetData(h.source, h.feed.data(), static_cast<DWORD>(chunk));
        if (n == ~DWORD{0}) n = 0;
        n = std::min<DWORD>(n, static_cast<DWORD>(chunk));
        if (n > 0) h.ring.Write(h.feed.data(), n);
        if (n == chunk) {
            DWORD state = BASS_ChannelIsActive(h.playStream);
            again = (h.prebuffering || state == BASS_ACTIVE_PLAYING || state == BASS_ACTIVE_STALLED) &&
                    h.ring.Free() > chunk;
        } else if (BASS_ChannelIsActive(h.source) == BASS_ACTIVE_STOPPED) {
            // Only a source that has really ended ends the input; a net stream that is momentarily
            // empty is asked again on the next wake.
            h.inputEnded = true;
        }
    }
    if (h.prebuffering) {
        size_t block = BlockBytes(h.bits, h.rate, h.chans);
        if (h.ring.Free() <= chunk || h.ring.Used() >= 2 * block || h.inputEnded) EndPrebuffer();
    }
    return again;
}

void FeederLoop() {
    THost& h = Host();
    // One step above normal priority where the system allows it (raising needs the right to).
    pthread_setname_np(pthread_self(), "lumora-feeder");
    const pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice - 1);
    std::unique_lock lock(h.feederMutex);
    while (!h.feederStop) {
        // Woken by the stream, or every 20 ms to look again at a source that had nothing.
        h.feederCv.wait_for(lock, 20ms, [&] { return h.feederStop || h.wakes > 0; });
        if (h.feederStop) break;
        h.wakes = 0;
        lock.unlock();
        while (FeedStep()) {
        }
        lock.lock();
    }
}

DWORD DualStreamProc(HSTREAM, void* buffer, DWORD length, void*) {
    THost& h = Host();
    if (h.prebuffering) {
        WakeFeeder();
        std::unique_lock lock(h.prebufferMutex);
        h.prebufferCv.wait_for(lock, kPrebufferWait, [&] { return !h.prebuffering || h.inputEnded; });
    }
    size_t got = h.ring.Read(static_cast<uint8_t*>(buffer), length);
    if (got < length && h.inputEnded && h.ring.Used() == 0) return static_cast<DWORD>(got) | BASS_STREAMPROC_END;
    WakeFeeder();
    return static_cast<DWORD>(got);
}

void StopFeeder() {
    THost& h = Host();
    {
        std::lock_guard lock(h.feederMutex);
        h.feederStop = true;
        h.feederCv.notify_one();
    }
    if (h.feeder.joinable()) h.feeder.join();
    std::lock_guard lock(h.feederMutex);
    h.feederStop = false;
    h.wakes = 0;
}

} // namespace

// ---- Ring buffer ----

bool TRingBuffer::Resize(size_t bytes) {
    std::lock_guard lock(mutex_);
    try {
        data_.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        data_.clear();
        read_ = used_ = 0;
        return false;
    }
    read_ = used_ = 0;
    return true;
}

void TRingBuffer::Reset() {
    std::lock_guard lock(mutex_);
    read_ = used_ = 0;
}

size_t TRingBuffer::Size() const {
    std::lock_guard lock(mutex_);
    return data_.size();
}

size_t TRingBuffer::Used() const {
    std::lock_guard lock(mutex_);
    return used_;
}

bool TRingBuffer::Write(const uint8_t* data, size_t n) {
    std::lock_guard lock(mutex_);
    if (n > data_.size() - used_) return false;
    size_t at = (read_ + used_) % std::max<size_t>(data_.size(), 1);
    size_t first = std::min(n, data_.size() - at);
    std::memcpy(data_.data() + at, data, first);
    std::memcpy(data_.data(), data + first, n - first);
    used_ += n;
    return true;
}

size_t TRingBuffer::Read(uint8_t* out, size_t n) {
    std::lock_guard lock(mutex_);
    n = std::min(n, used_);
    size_t first = std::min(n, data_.size() - read_);
    std::memcpy(out, data_.data() + read_, first);
    std::memcpy(out + first, data_.data(), n - first);
    read_ = data_.empty() ? 0 : (read_ + n) % data_.size();
    used_ -= n;
    return n;
}

// ---- Host ----

bool InitPluginCtrl(HWND window) {
    THost& h = Host();
    if (h.started) return h.outputReady;
    if (!window) return false;
    h.playerWindow = window;
    h.slots.fill(nullptr);
    for (auto& info : h.infos) info = TPluginInfo();
    h.selected = -1;
    if (!h.ring.Resize(kInitialRingBytes)) return false;
    h.out = TOutModule{};
    h.out.version = 16;
    h.out.description = "BASS Winamp output plug-in emulator";
    h.out.id = 65537;
    h.out.hMainWindow = window;
    h.out.hDllInstance = nullptr;
    h.out.Config = OutConfig;
    h.out.About = OutAbout;
    h.out.Init = OutInit;
    h.out.Quit = OutQuit;
    h.out.Open = OutOpen;
    h.out.Close = OutClose;
    h.out.Write = OutWrite;
    h.out.CanWrite = OutCanWrite;
    h.out.IsPlaying = OutIsPlaying;
    h.out.Pause = OutPause;
    h.out.SetVolume = OutSetVolume;
    h.out.SetPan = OutSetPan;
    h.out.Flush = OutFlush;
    h.out.GetOutputTime = OutGetOutputTime;
    h.out.GetWrittenTime = OutGetWrittenTime;
    h.out.Init();
    h.feed.assign(kFeedBufferBytes, 0);
    h.started = true;
    return h.outputReady;
}

void QuitPluginCtrl() {
    THost& h = Host();
    if (!h.started) return;
    FreeDualChannel();
    for (int i = 0; i < kMaxPlugins; ++i) {
        if (!h.slots[i]) continue;
        if (h.slots[i]->Quit) h.slots[i]->Quit();
        ModuleLoader().Free(h.infos[i].DllHandle);
        h.slots[i] = nullptr;
        h.infos[i] = TPluginInfo();
    }
    h.selected = -1;
    OutClose();
    if (h.out.Quit) h.out.Quit();
    h.ring.Resize(0);
    h.feed.clear();
    h.feed.shrink_to_fit();
    h.playerWindow = 0;
    h.started = false;
}

bool PluginCtrlStarted() { return Host().started; }

int LoadWinampPlugin(const std::string& fileName) {
    THost& h = Host();
    if (!h.started || !h.outputReady) return 1;
    if (IsPluginLoaded(fileName)) return 2;
    int slot = -1;
    for (int i = 0; i < kMaxPlugins && slot < 0; ++i)
        if (!h.slots[i]) slot = i;
    if (slot < 0) return 3;
    void* dll = ModuleLoader().Load(GetPluginFolder() + "/Plugins/" + fileName);
    if (!dll) return 4;
    auto get = reinterpret_cast<TGetInModule2>(ModuleLoader().Symbol(dll, "winampGetInModule2"));
    TInModule* mod = get ? get() : nullptr;
    if (!mod) {
        ModuleLoader().Free(dll);
        return 5;
    }
    if (auto setApi = reinterpret_cast<TSetHostApi>(ModuleLoader().Symbol(dll, "winampSetHostApi"))) setApi(&kHostApi);
    mod->hMainWindow = h.playerWindow;
    mod->hDllInstance = dll;
    mod->outMod = &h.out;
    if (mod->Init) mod->Init();
    mod->SetInfo = InSetInfo;
    mod->dsp_isactive = InDspIsActive;
    mod->dsp_dosamples = InDspDoSamples;
    mod->SAVSAInit = InSAVSAInit;
    mod->SAVSADeInit = InSAVSADeInit;
    mod->SAAddPCMData = InSAAddPCMData;
    mod->SAGetMode = InSAGetMode;
    mod->SAAdd = InSAAdd;
    mod->VSAAddPCMData = InVSAAddPCMData;
    mod->VSAGetMode = InVSAGetMode;
    mod->VSAAdd = InVSAAdd;
    mod->VSASetInfo = InVSASetInfo;
    TPluginInfo info;
    info.FileName = fileName;
    info.Version = mod->version;
    info.Description = mod->description ? mod->description : "";
    info.FileExtensions = mod->FileExtensions ? mod->FileExtensions : "";
    info.Seekable = mod->is_seekable;
    info.DllHandle = dll;
    h.slots[slot] = mod;
    h.infos[slot] = info;
    return 0;
}

int UnloadWinampPlugin(const std::string& fileName) {
    THost& h = Host();
    int index = GetPluginIndex(fileName);
    if (index < 0) return 7;
    if (index == h.selected) return 8;
    if (h.slots[index]->Quit) h.slots[index]->Quit();
    bool freed = ModuleLoader().Free(h.infos[index].DllHandle);
    // The plug-in has quit either way, so its slot is never used again.
    h.slots[index] = nullptr;
    h.infos[index] = TPluginInfo();
    return freed ? 0 : 6;
}

int GetPluginIndex(const std::string& fileName) {
    THost& h = Host();
    std::string upper = UpperCase(fileName);
    for (int i = 0; i < kMaxPlugins; ++i)
        if (h.slots[i] && UpperCase(h.infos[i].FileName) == upper) return i;
    return -1;
}

bool IsPluginLoaded(const std::string& fileName) { return GetPluginIndex(fileName) >= 0; }

TInModule* GetPlugin(int index) { return index >= 0 && index < kMaxPlugins ? Host().slots[index] : nullptr; }

TPluginInfo GetPluginInfo(int index) {
    if (index < 0 || index >= kMaxPlugins || !Host().slots[index]) return TPluginInfo();
    return Host().infos[index];
}

int SelectPlugin(int index) {
    if (index < -1 || index >= kMaxPlugins || (index >= 0 && !Host().slots[index])) return -1;
    Host().selected = index;
    return 0;
}

std::string GetSelectedPluginName() {
    THost& h = Host();
    return h.selected >= 0 ? h.infos[h.selected].FileName : std::string();
}

int FindPluginForExt(const std::string& ext) {
    THost& h = Host();
    if (ext.empty()) return -1;
    std::string upper = UpperCase(ext);
    for (int i = 0; i < kMaxPlugins; ++i)
        if (h.slots[i] && UpperCase(h.infos[i].FileExtensions).find(upper) != std::string::npos) return i;
    return -1;
}

std::string GetPluginFileFilter() {
    THost& h = Host();
    if (!h.outputReady) return "";
    std::string filter;
    for (int i = 0; i < kMaxPlugins; ++i) {
        if (!h.slots[i] || h.infos[i].FileExtensions.empty()) continue;
        const std::string& list = h.infos[i].FileExtensions;
        std::string one = "*.";
        for (size_t k = 0; k < list.size(); ++k) {
            one.push_back(list[k]);
            if (list[k] == ';' && k + 1 < list.size()) one += "*.";
        }
        if (!filter.empty() && filter.back() != ';') filter.push_back(';');
        filter += one;
    }
    return filter;
}

std::string GetPluginFolder() { return ProgramFolder(); }

void SetInputEnded() {
    Host().inputEnded = true;
    Host().writeCv.notify_all();
}
void SetPluginPlayerMode(int mode) { Host().playerMode = mode; }
int PluginPlayerMode() { return Host().playerMode; }
void RequestFlushOnPause() { Host().flushOnPause = true; }

int GetPluginOutputTime(bool fromOutput) {
    THost& h = Host();
    if (fromOutput) return OutGetOutputTime();
    TInModule* mod = h.selected >= 0 ? h.slots[h.selected] : nullptr;
    return mod && mod->GetOutputTime ? mod->GetOutputTime() : 0;
}

DWORD CreateDualChannel(DWORD source, DWORD rate, DWORD channels, DWORD bits) {
    THost& h = Host();
    if (!h.started || (bits != 8 && bits != 16) || channels < 1 || rate == 0) return 0;
    FreeDualChannel();
    DWORD stream = BASS_StreamCreate(rate, channels, bits == 8 ? BASS_SAMPLE_8BITS : 0, DualStreamProc, nullptr);
    if (!stream) return 0;
    h.rate = rate;
    h.bits = bits;
    h.chans = channels;
    if (!FitRing(BlockBytes(bits, rate, channels))) {
        BASS_StreamFree(stream);
        return 0;
    }
    ResetCounters();
    h.source = source;
    h.playStream = stream;
    try {
        h.feeder = std::thread(FeederLoop);
    } catch (const std::system_error&) {
        MessageBox("Unable to create thread !", "Error!", TMsgIcon::Warning);
        h.playStream = 0;
        BASS_StreamFree(stream);
        return 0;
    }
    return stream;
}

void FreeDualChannel() {
    THost& h = Host();
    DWORD stream = h.playStream.exchange(0);
    if (stream) BASS_StreamFree(stream);
    StopFeeder();
    h.source = 0;
}

void ResetRingBuffer() {
    THost& h = Host();
    std::lock_guard step(h.feedStepMutex);
    std::lock_guard lock(h.prebufferMutex);
    ResetCounters();
}

void MoveSourceAndResetRing(const std::function<void()>& seek) {
    THost& h = Host();
    std::lock_guard step(h.feedStepMutex);
    seek();
    std::lock_guard lock(h.prebufferMutex);
    ResetCounters();
}

size_t GetBufferedBytes() { return Host().ring.Used(); }
bool IsDSPActive() { return false; }
void StopDSPModule() {}

void ProcessPendingMessages() {
    if (IsMainThread()) Application().ProcessMessages();
}

TOutModule* EmulatedOutputModule() { return Host().started ? &Host().out : nullptr; }
TRingBuffer& PluginRing() { return Host().ring; }
bool OutputStarted() { return Host().outputStarted; }

} // namespace lumora
