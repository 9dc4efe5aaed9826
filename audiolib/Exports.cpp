// The core library's entry points.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "audiolib/Core.h"

using namespace lumora::audiolib;

namespace {

constexpr BOOL kTrue = 1, kFalse = 0;

BOOL Ok() {
    SetError(BASS_OK);
    return kTrue;
}

template <class T> T Ok(T value) {
    SetError(BASS_OK);
    return value;
}

// Effect and DSP handles point back to their channel.
std::mutex g_itemsLock;
std::map<DWORD, DWORD> g_itemChannel;

void RememberItem(DWORD item, DWORD channel) {
    std::lock_guard lock(g_itemsLock);
    g_itemChannel[item] = channel;
}

ChannelPtr ChannelOfItem(DWORD item) {
    DWORD channel;
    {
        std::lock_guard lock(g_itemsLock);
        auto it = g_itemChannel.find(item);
        if (it == g_itemChannel.end()) return Fail<ChannelPtr>(BASS_ERROR_HANDLE, nullptr);
        channel = it->second;
    }
    return FindChannel(channel);
}

void ForgetItem(DWORD item) {
    std::lock_guard lock(g_itemsLock);
    g_itemChannel.erase(item);
}

DWORD AddChainItem(const ChannelPtr& ch, ChainItem item) {
    std::lock_guard lock(ch->DecodeMutex);
    // Higher priority runs first; among equals the older item stays first.
    auto at = std::find_if(ch->Chain.begin(), ch->Chain.end(),
                           [&](const ChainItem& c) { return c.Priority < item.Priority; });
    DWORD handle = item.Handle;
    ch->Chain.insert(at, std::move(item));
    RememberItem(handle, ch->Handle);
    return handle;
}

BOOL RemoveChainItem(DWORD channel, DWORD item, bool fx) {
    auto ch = FindChannel(channel);
    if (!ch) return kFalse;
    std::lock_guard lock(ch->DecodeMutex);
    auto it = std::find_if(ch->Chain.begin(), ch->Chain.end(), [&](const ChainItem& c) {
        return c.Handle == item && (fx ? c.Fx != nullptr : c.Proc != nullptr);
    });
    if (it == ch->Chain.end()) return Fail(BASS_ERROR_HANDLE, kFalse);
    ch->Chain.erase(it);
    ForgetItem(item);
    return Ok();
}

// Frames for FFT and sample reads: fresh data from a decoding channel, the newest played otherwise.
size_t FramesForData(const ChannelPtr& ch, size_t frames, std::vector<float>& out) {
    out.assign(frames * ch->Chans, 0.f);
    if (!ch->Decode()) {
        ch->RecentFrames(out.data(), frames);
        return frames;
    }
    std::vector<uint8_t> raw(frames * ch->FrameBytes());
    std::vector<PendingSync> due;
    size_t got = ch->Read(raw.data(), raw.size(), due) / ch->FrameBytes();
    Dispatch(std::move(due));
    ToFloat(ch->Format, raw.data(), out.data(), got * ch->Chans);
    return got;
}

// Callers open the channel first and pass its error code after it, in that order.
HSTREAM Register(ChannelPtr ch, int error) {
    if (!ch) return Fail<HSTREAM>(error, 0);
    HSTREAM h = AddChannel(std::move(ch));
    return h ? Ok(h) : 0;
}

bool NeedInit() {
    if (IsInitialised()) return false;
    SetError(BASS_ERROR_INIT);
    return true;
}

} // namespace

extern "C" {

DWORD BASS_SetConfig(DWORD option, DWORD value) {
    if (option == BASS_CONFIG_MAXVOL && value == 0) return Fail<DWORD>(BASS_ERROR_ILLPARAM, ~DWORD{0});
    if (!SetConfigValue(option, value)) return Fail<DWORD>(BASS_ERROR_ILLTYPE, ~DWORD{0});
    return Ok(value);
}

DWORD BASS_GetConfig(DWORD option) {
    DWORD value = 0;
    if (!GetConfigValue(option, value)) return Fail<DWORD>(BASS_ERROR_ILLTYPE, ~DWORD{0});
    return Ok(value);
}

DWORD BASS_GetVersion(void) { return LUMORA_AUDIO_VERSION; }

const char* BASS_GetDeviceDescription(DWORD device) {
    static thread_local std::string text;
    if (device == 0) return Ok("No sound");
    if (device == 1) {
        text = DeviceDescription();
        return Ok(text.empty() ? "Default output" : text.c_str());
    }
    return Fail<const char*>(BASS_ERROR_DEVICE, nullptr);
}

int BASS_ErrorGetCode(void) { return LastError(); }

BOOL BASS_Init(int device, DWORD freq, DWORD, void*, const void*) {
    int error = BASS_OK;
    if (!StartDevice(device, freq, error)) return Fail(error, kFalse);
    return Ok();
}

BOOL BASS_SetDevice(DWORD device) {
    if (NeedInit()) return kFalse;
    return device == 1 || device == 0 ? Ok() : Fail(BASS_ERROR_DEVICE, kFalse);
}

DWORD BASS_GetDevice(void) {
    if (NeedInit()) return ~DWORD{0};
    return Ok<DWORD>(1);
}

BOOL BASS_Free(void) {
    if (NeedInit()) return kFalse;
    StopDevice();
    return Ok();
}

void* BASS_GetDSoundObject(DWORD) { return Fail<void*>(BASS_ERROR_NOTAVAIL, nullptr); }

BOOL BASS_GetInfo(BASS_INFO* info) {
    if (!info) return Fail(BASS_ERROR_ILLPARAM, kFalse);
    if (NeedInit()) return kFalse;
    std::memset(info, 0, sizeof *info);
    info->minrate = 1000;
    info->maxrate = 192000;
    info->dsver = 9; // every effect is available
    info->latency = 30;
    info->speakers = 2;
    info->freq = DeviceFreq();
    return Ok();
}

BOOL BASS_Update(void) { return NeedInit() ? kFalse : Ok(); }
float BASS_GetCPU(void) { return CpuUsage(); }

BOOL BASS_Start(void) {
    if (NeedInit()) return kFalse;
    SetOutputPaused(false);
    return Ok();
}

BOOL BASS_Stop(void) {
    if (NeedInit()) return kFalse;
    // Stopping the output stops everything that plays on it.
    SetOutputPaused(true);
    StopAllChannels();
    return Ok();
}

BOOL BASS_Pause(void) {
    if (NeedInit()) return kFalse;
    SetOutputPaused(true);
    return Ok();
}

BOOL BASS_SetVolume(DWORD volume) {
    if (NeedInit()) return kFalse;
    if (volume > 100) return Fail(BASS_ERROR_ILLPARAM, kFalse);
    SetMasterVolume(static_cast<float>(volume) / 100.f);
    return Ok();
}

DWORD BASS_GetVolume(void) {
    if (NeedInit()) return ~DWORD{0};
    return Ok(static_cast<DWORD>(std::lround(MasterVolume() * 100)));
}

HPLUGIN BASS_PluginLoad(const char*, DWORD) { return Fail<HPLUGIN>(BASS_ERROR_NOTAVAIL, 0); }
// No plug-ins can be loaded, so freeing all of them always succeeds.
BOOL BASS_PluginFree(HPLUGIN handle) { return handle == 0 ? Ok() : Fail(BASS_ERROR_HANDLE, kFalse); }
const BASS_PLUGININFO* BASS_PluginGetInfo(HPLUGIN) {
    return Fail<const BASS_PLUGININFO*>(BASS_ERROR_HANDLE, nullptr);
}

BOOL BASS_Set3DFactors(float, float, float) { return Fail(BASS_ERROR_NO3D, kFalse); }
BOOL BASS_Get3DFactors(float*, float*, float*) { return Fail(BASS_ERROR_NO3D, kFalse); }
BOOL BASS_Set3DPosition(const BASS_3DVECTOR*, const BASS_3DVECTOR*, const BASS_3DVECTOR*, const BASS_3DVECTOR*) {
    return Fail(BASS_ERROR_NO3D, kFalse);
}
BOOL BASS_Get3DPosition(BASS_3DVECTOR*, BASS_3DVECTOR*, BASS_3DVECTOR*, BASS_3DVECTOR*) {
    return Fail(BASS_ERROR_NO3D, kFalse);
}
void BASS_Apply3D(void) { SetError(BASS_ERROR_NO3D); }
BOOL BASS_SetEAXParameters(int, float, float, float) { return Fail(BASS_ERROR_NOEAX, kFalse); }
BOOL BASS_GetEAXParameters(DWORD*, float*, float*, float*) { return Fail(BASS_ERROR_NOEAX, kFalse); }

HMUSIC BASS_MusicLoad(BOOL mem, const void* file, QWORD offset, DWORD length, DWORD flags, DWORD freq) {
    if (NeedInit()) return 0;
    if (!file) return Fail<HMUSIC>(BASS_ERROR_FILEOPEN, 0);
    int error = BASS_OK;
    DWORD rate = freq ? freq : DeviceFreq();
    if (rate < 1000 || rate > 192000) return Fail<HMUSIC>(BASS_ERROR_FREQ, 0);
    ChannelPtr ch = mem ? OpenMusicChannel("", static_cast<const uint8_t*>(file) + offset, length, flags, rate, error)
                        : OpenMusicChannel(static_cast<const char*>(file), nullptr, 0, flags, rate, error);
    return Register(std::move(ch), error);
}

BOOL BASS_MusicFree(HMUSIC handle) {
    auto ch = FindChannel(handle);
    if (!ch) return kFalse;
    if (!ch->IsMusic()) return Fail(BASS_ERROR_HANDLE, kFalse);
    RemoveChannel(handle);
    return Ok();
}

BOOL BASS_MusicSetAttribute(HMUSIC, DWORD, DWORD) { return Fail(BASS_ERROR_NOTAVAIL, kFalse); }
DWORD BASS_MusicGetAttribute(HMUSIC, DWORD) { return Fail<DWORD>(BASS_ERROR_NOTAVAIL, ~DWORD{0}); }
DWORD BASS_MusicGetOrders(HMUSIC) { return Fail<DWORD>(BASS_ERROR_NOTAVAIL, ~DWORD{0}); }
DWORD BASS_MusicGetOrderPosition(HMUSIC) { return Fail<DWORD>(BASS_ERROR_NOTAVAIL, ~DWORD{0}); }

HSAMPLE BASS_SampleLoad(BOOL, const void*, QWORD, DWORD, DWORD, DWORD) { return Fail<HSAMPLE>(BASS_ERROR_NOTAVAIL, 0); }
void* BASS_SampleCreate(DWORD, DWORD, DWORD, DWORD, DWORD) { return Fail<void*>(BASS_ERROR_NOTAVAIL, nullptr); }
HSAMPLE BASS_SampleCreateDone(void) { return Fail<HSAMPLE>(BASS_ERROR_NOTAVAIL, 0); }
BOOL BASS_SampleFree(HSAMPLE) { return Fail(BASS_ERROR_NOTAVAIL, kFalse); }
BOOL BASS_SampleGetInfo(HSAMPLE, BASS_SAMPLE*) { return Fail(BASS_ERROR_NOTAVAIL, kFalse); }
BOOL BASS_SampleSetInfo(HSAMPLE, const BASS_SAMPLE*) { return Fail(BASS_ERROR_NOTAVAIL, kFalse); }
HCHANNEL BASS_SampleGetChannel(HSAMPLE, BOOL) { return Fail<HCHANNEL>(BASS_ERROR_NOTAVAIL, 0); }
BOOL BASS_SampleStop(HSAMPLE) { return Fail(BASS_ERROR_NOTAVAIL, kFalse); }

HSTREAM BASS_StreamCreate(DWORD freq, DWORD chans, DWORD flags, STREAMPROC* proc, void* user) {
    if (NeedInit()) return 0;
    if (!proc) return Fail<HSTREAM>(BASS_ERROR_ILLPARAM, 0);
    if (freq < 100 || freq > 384000) return Fail<HSTREAM>(BASS_ERROR_FREQ, 0);
    if (chans < 1 || chans > 32) return Fail<HSTREAM>(BASS_ERROR_FORMAT, 0);
    return Register(OpenUserChannel(freq, chans, flags, proc, user), BASS_OK);
}

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    if (NeedInit()) return 0;
    if (!file) return Fail<HSTREAM>(BASS_ERROR_FILEOPEN, 0);
    int error = BASS_OK;
    if (mem) {
        if (length == 0) return Fail<HSTREAM>(BASS_ERROR_ILLPARAM, 0);
        auto ch = OpenMemoryChannel(static_cast<const uint8_t*>(file) + offset, length, flags, error);
        return Register(std::move(ch), error);
    }
    // Part of a file is not offered; the whole file is.
    if (offset != 0 || length != 0) return Fail<HSTREAM>(BASS_ERROR_NOTAVAIL, 0);
    auto ch = OpenFileChannel(static_cast<const char*>(file), flags, error);
    return Register(std::move(ch), error);
}

HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC* proc, void* user) {
    if (NeedInit()) return 0;
    if (!url || !*url) return Fail<HSTREAM>(BASS_ERROR_FILEOPEN, 0);
    int error = BASS_OK;
    auto ch = OpenUrlChannel(url, offset, flags, proc, user, error);
    return Register(std::move(ch), error);
}

HSTREAM BASS_StreamCreateFileUser(BOOL, DWORD, const BASS_FILEPROCS*, void*) {
    return Fail<HSTREAM>(BASS_ERROR_NOTAVAIL, 0);
}

BOOL BASS_StreamFree(HSTREAM handle) {
    auto ch = FindChannel(handle);
    if (!ch) return kFalse;
    if (ch->IsMusic()) return Fail(BASS_ERROR_HANDLE, kFalse);
    RemoveChannel(handle);
    return Ok();
}

QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode) {
    auto ch = FindChannel(handle);
    if (!ch) return ~QWORD{0};
    SetError(BASS_OK);
    return ch->FilePosition(mode);
}

const char* BASS_RecordGetDeviceDescription(DWORD) { return Fail<const char*>(BASS_ERROR_DEVICE, nullptr); }
BOOL BASS_RecordInit(int) { return Fail(BASS_ERROR_NOTAVAIL, kFalse); }
BOOL BASS_RecordSetDevice(DWORD) { return Fail(BASS_ERROR_INIT, kFalse); }
DWORD BASS_RecordGetDevice(void) { return Fail<DWORD>(BASS_ERROR_INIT, ~DWORD{0}); }
BOOL BASS_RecordFree(void) { return Fail(BASS_ERROR_INIT, kFalse); }
BOOL BASS_RecordGetInfo(BASS_RECORDINFO*) { return Fail(BASS_ERROR_INIT, kFalse); }
const char* BASS_RecordGetInputName(int) { return Fail<const char*>(BASS_ERROR_INIT, nullptr); }
BOOL BASS_RecordSetInput(int, DWORD) { return Fail(BASS_ERROR_INIT, kFalse); }
DWORD BASS_RecordGetInput(int) { return Fail<DWORD>(BASS_ERROR_INIT, ~DWORD{0}); }
HRECORD BASS_RecordStart(DWORD, DWORD, DWORD, RECORDPROC*, void*) { return Fail<HRECORD>(BASS_ERROR_INIT, 0); }

float BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos) {
    auto ch = FindChannel(handle);
    if (!ch) return -1.f;
    return Ok(static_cast<float>(static_cast<double>(pos / ch->FrameBytes()) / ch->Freq));
}

QWORD BASS_ChannelSeconds2Bytes(DWORD handle, float pos) {
    auto ch = FindChannel(handle);
    if (!ch) return ~QWORD{0};
    if (!(pos >= 0)) return Fail(BASS_ERROR_ILLPARAM, ~QWORD{0});
    auto frames = static_cast<QWORD>(std::floor(static_cast<double>(pos) * ch->Freq));
    return Ok(frames * ch->FrameBytes());
}

DWORD BASS_ChannelGetDevice(DWORD handle) { return FindChannel(handle) ? Ok<DWORD>(1) : ~DWORD{0}; }
BOOL BASS_ChannelSetDevice(DWORD handle, DWORD device) {
    if (!FindChannel(handle)) return kFalse;
    return device == 1 ? Ok() : Fail(BASS_ERROR_DEVICE, kFalse);
}

DWORD BASS_ChannelIsActive(DWORD handle) {
    auto ch = FindChannel(handle);
    if (!ch) return BASS_ACTIVE_STOPPED;
    SetError(BASS_OK);
    if (ch->Decode()) return ch->Ended ? BASS_ACTIVE_STOPPED : BASS_ACTIVE_PLAYING;
    switch (ch->State.load()) {
    case PlayState::Playing: return ch->Stalled ? BASS_ACTIVE_STALLED : BASS_ACTIVE_PLAYING;
    case PlayState::Paused: return BASS_ACTIVE_PAUSED;
    default: return BASS_ACTIVE_STOPPED;
    }
}

BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info) {
    if (!info) return Fail(BASS_ERROR_ILLPARAM, kFalse);
    auto ch = FindChannel(handle);
    if (!ch) return kFalse;
    info->freq = ch->Freq;
    info->chans = ch->Chans;
    info->flags = ch->Flags;
    info->ctype = ch->CType;
    info->origres = ch->OrigRes;
    info->filename = ch->FileName.empty() ? nullptr : ch->FileName.c_str();
    return Ok();
}

const char* BASS_ChannelGetTags(DWORD handle, DWORD tags) {
    auto ch = FindChannel(handle);
    if (!ch) return nullptr;
    SetError(BASS_OK);
    return ch->Tags(tags);
}

DWORD BASS_ChannelSetFlags(DWORD handle, DWORD) {
    if (!FindChannel(handle)) return ~DWORD{0};
    return Fail<DWORD>(BASS_ERROR_NOTAVAIL, ~DWORD{0});
}

BOOL BASS_ChannelPreBuf(DWORD handle, DWORD) {
    if (!FindChannel(handle)) return kFalse;
    return Fail(BASS_ERROR_NOTAVAIL, kFalse);
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
    auto ch = FindChannel(handle);
    if (!ch) return kFalse;
    if (ch->Decode()) return Fail(BASS_ERROR_DECODE, kFalse);
    if (restart) ch->Restart();
    ch->State = PlayState::Playing;
    return Ok();
}

BOOL BASS_ChannelStop(DWORD handle) {
    auto ch = FindChannel(handle);
    if (!ch) return kFalse;
    if (ch->Decode()) return Fail(BASS_ERROR_DECODE, kFalse);
    ch->State = PlayState::Stopped;
    return Ok();
}

BOOL BASS_ChannelPause(DWORD handle) {
    auto ch = FindChannel(handle);
    if (!ch) return kFalse;
    if (ch->Decode()) return Fail(BASS_ERROR_DECODE, kFalse);
    PlayState expected = PlayState::Playing;
    if (!ch->State.compare_exchange_strong(expected, PlayState::Paused))
        return Fail(expected == PlayState::Paused ? BASS_ERROR_ALREADY : BASS_ERROR_NOPLAY, kFalse);
    return Ok();
}

BOOL BASS_ChannelSetAttributes(DWORD handle, int freq, int volume, int pan) {
    auto ch = FindChannel(handle);
    if (!ch) return kFalse;
    if (freq != -1 && freq != 0 && (freq < 100 || freq > 384000)) return Fail(BASS_ERROR_ILLPARAM, kFalse);
    if (pan != -1 && (pan < -100 || pan > 100)) return Fail(BASS_ERROR_ILLPARAM, kFalse);
    if (freq != -1) ch->PlayFreq = static_cast<DWORD>(freq);
    if (volume != -1) {
        float max = static_cast<float>(MaxVolume());
        ch->Volume = std::clamp(static_cast<float>(volume), 0.f, max) / max;
    }
    if (pan != -1) ch->Pan = static_cast<float>(pan) / 100.f;
    return Ok();
}

BOOL BASS_ChannelGetAttributes(DWORD handle, DWORD* freq, DWORD* volume, int* pan) {
    auto ch = FindChannel(handle);
    if (!ch) return kFalse;
    if (freq) *freq = ch->PlayFreq ? ch->PlayFreq.load() : ch->Freq;
    if (volume) *volume = static_cast<DWORD>(std::lround(ch->Volume * static_cast<float>(MaxVolume())));
    if (pan) *pan = static_cast<int>(std::lround(ch->Pan * 100));
    return Ok();
}

BOOL BASS_ChannelSlideAttributes(DWORD handle, int, int, int, DWORD) {
    if (!FindChannel(handle)) return kFalse;
    return Fail(BASS_ERROR_NOTAVAIL, kFalse);
}
DWORD BASS_ChannelIsSliding(DWORD handle) {
    if (!FindChannel(handle)) return 0;
    return Ok<DWORD>(0);
}
BOOL BASS_ChannelSet3DAttributes(DWORD, int, float, float, int, int, int) { return Fail(BASS_ERROR_NO3D, kFalse); }
BOOL BASS_ChannelGet3DAttributes(DWORD, DWORD*, float*, float*, DWORD*, DWORD*, DWORD*) {
    return Fail(BASS_ERROR_NO3D, kFalse);
}
BOOL BASS_ChannelSet3DPosition(DWORD, const BASS_3DVECTOR*, const BASS_3DVECTOR*, const BASS_3DVECTOR*) {
    return Fail(BASS_ERROR_NO3D, kFalse);
}
BOOL BASS_ChannelGet3DPosition(DWORD, BASS_3DVECTOR*, BASS_3DVECTOR*, BASS_3DVECTOR*) {
    return Fail(BASS_ERROR_NO3D, kFalse);
}

QWORD BASS_ChannelGetLength(DWORD handle) {
    auto ch = FindChannel(handle);
    if (!ch) return ~QWORD{0};
    uint64_t bytes = 0;
    if (!ch->LengthBytes(bytes)) return ~QWORD{0};
    return Ok(bytes);
}

BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos) {
    auto ch = FindChannel(handle);
    if (!ch) return kFalse;
    if (!ch->Seek(pos)) return kFalse;
    return Ok();
}

QWORD BASS_ChannelGetPosition(DWORD handle) {
    auto ch = FindChannel(handle);
    if (!ch) return ~QWORD{0};
    return Ok(ch->Position.load());
}

DWORD BASS_ChannelGetLevel(DWORD handle) {
    auto ch = FindChannel(handle);
    if (!ch) return ~DWORD{0};
    if (ch->Decode()) return Fail<DWORD>(BASS_ERROR_DECODE, ~DWORD{0});
    if (ch->State != PlayState::Playing) return Fail<DWORD>(BASS_ERROR_NOPLAY, 0);
    // The peak of the last 20 ms on each side.
    size_t frames = std::max<size_t>(1, ch->Freq / 50);
    std::vector<float> data(frames * ch->Chans);
    ch->RecentFrames(data.data(), frames);
    float peak[2] = {0, 0};
    for (size_t f = 0; f < frames; ++f)
        for (size_t c = 0; c < ch->Chans; ++c) {
            float& p = peak[ch->Chans == 1 ? 0 : c % 2];
            p = std::max(p, std::fabs(data[f * ch->Chans + c]));
        }
    if (ch->Chans == 1) peak[1] = peak[0];
    auto level = [](float v) { return static_cast<DWORD>(std::lround(std::min(v, 1.f) * 32768)); };
    return Ok(level(peak[0]) | (level(peak[1]) << 16));
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    auto ch = FindChannel(handle);
    if (!ch) return ~DWORD{0};
    const size_t chans = ch->Chans;
    if (length == BASS_DATA_AVAILABLE) {
        // Nothing is decoded ahead of a decoding channel; a playing one has its recent data ready.
        return Ok<DWORD>(ch->Decode() ? 0 : static_cast<DWORD>(ch->FrameBytes() * 4096));
    }
    if (!buffer) return Fail<DWORD>(BASS_ERROR_ILLPARAM, ~DWORD{0});
    if (length & BASS_DATA_FFT512) {
        int kind = static_cast<int>(length & 7);
        if (kind > 3) return Fail<DWORD>(BASS_ERROR_ILLPARAM, ~DWORD{0});
        const size_t n = size_t{512} << kind;
        const bool individual = (length & BASS_DATA_FFT_INDIVIDUAL) != 0;
        const bool window = (length & BASS_DATA_FFT_NOWINDOW) == 0;
        std::vector<float> frames;
        FramesForData(ch, n, frames);
        auto* out = static_cast<float*>(buffer);
        std::vector<float> one(n), mags(n / 2);
        if (individual && chans > 1) {
            for (size_t c = 0; c < chans; ++c) {
                for (size_t i = 0; i < n; ++i) one[i] = frames[i * chans + c];
                FftMagnitudes(one.data(), n, window, mags.data());
                for (size_t b = 0; b < n / 2; ++b) out[b * chans + c] = mags[b];
            }
            return Ok(static_cast<DWORD>(n / 2 * chans * sizeof(float)));
        }
        for (size_t i = 0; i < n; ++i) {
            float sum = 0;
            for (size_t c = 0; c < chans; ++c) sum += frames[i * chans + c];
            one[i] = sum / static_cast<float>(chans);
        }
        FftMagnitudes(one.data(), n, window, out);
        return Ok(static_cast<DWORD>(n / 2 * sizeof(float)));
    }
    const bool asFloat = (length & BASS_DATA_FLOAT) != 0;
    size_t bytes = length & ~BASS_DATA_FLOAT;
    const size_t outSample = asFloat ? sizeof(float) : static_cast<size_t>(BytesPerSample(ch->Format));
    const size_t frames = bytes / (outSample * chans);
    if (ch->Decode() && !asFloat) {
        std::vector<PendingSync> due;
        size_t got = ch->Read(static_cast<uint8_t*>(buffer), frames * ch->FrameBytes(), due);
        Dispatch(std::move(due));
        if (got == 0 && ch->Ended) return Fail<DWORD>(BASS_ERROR_ENDED, ~DWORD{0});
        return Ok(static_cast<DWORD>(got));
    }
    std::vector<float> data;
    size_t got = FramesForData(ch, frames, data);
    if (ch->Decode() && got == 0 && ch->Ended) return Fail<DWORD>(BASS_ERROR_ENDED, ~DWORD{0});
    if (asFloat)
        std::memcpy(buffer, data.data(), got * chans * sizeof(float));
    else
        FromFloat(ch->Format, data.data(), static_cast<uint8_t*>(buffer), got * chans);
    return Ok(static_cast<DWORD>(got * chans * outSample));
}

HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user) {
    auto ch = FindChannel(handle);
    if (!ch) return 0;
    if (!proc) return Fail<HSYNC>(BASS_ERROR_ILLPARAM, 0);
    const bool oneTime = (type & BASS_SYNC_ONETIME) != 0;
    type &= ~BASS_SYNC_ONETIME;
    if (type != BASS_SYNC_END && type != BASS_SYNC_META && type != BASS_SYNC_DOWNLOAD)
        return Fail<HSYNC>(BASS_ERROR_ILLTYPE, 0);
    HSYNC h = NewItemHandle();
    std::lock_guard lock(ch->SyncMutex);
    // A download that has already finished is reported at once rather than never; it cannot finish
    // again, so the sync is not kept.
    if (type == BASS_SYNC_DOWNLOAD && UrlDownloadDone(*ch)) {
        DispatchOne({h, handle, 0, proc, user});
        return Ok(h);
    }
    ch->Syncs.push_back({h, type, param, proc, user, oneTime});
    return Ok(h);
}

BOOL BASS_ChannelRemoveSync(DWORD handle, HSYNC sync) {
    auto ch = FindChannel(handle);
    if (!ch) return kFalse;
    std::lock_guard lock(ch->SyncMutex);
    auto it = std::find_if(ch->Syncs.begin(), ch->Syncs.end(), [&](const SyncItem& s) { return s.Handle == sync; });
    if (it == ch->Syncs.end()) return Fail(BASS_ERROR_HANDLE, kFalse);
    ch->Syncs.erase(it);
    return Ok();
}

HDSP BASS_ChannelSetDSP(DWORD handle, DSPPROC* proc, void* user, int priority) {
    auto ch = FindChannel(handle);
    if (!ch) return 0;
    if (!proc) return Fail<HDSP>(BASS_ERROR_ILLPARAM, 0);
    ChainItem item;
    item.Handle = NewItemHandle();
    item.Priority = priority;
    item.Proc = proc;
    item.User = user;
    return Ok(AddChainItem(ch, std::move(item)));
}

BOOL BASS_ChannelRemoveDSP(DWORD handle, HDSP dsp) { return RemoveChainItem(handle, dsp, false); }

BOOL BASS_ChannelSetEAXMix(DWORD, float) { return Fail(BASS_ERROR_NOEAX, kFalse); }
BOOL BASS_ChannelGetEAXMix(DWORD, float*) { return Fail(BASS_ERROR_NOEAX, kFalse); }
BOOL BASS_ChannelSetLink(DWORD, DWORD) { return Fail(BASS_ERROR_NOTAVAIL, kFalse); }
BOOL BASS_ChannelRemoveLink(DWORD, DWORD) { return Fail(BASS_ERROR_NOTAVAIL, kFalse); }

HFX BASS_ChannelSetFX(DWORD handle, DWORD type, int priority) {
    auto ch = FindChannel(handle);
    if (!ch) return 0;
    auto fx = CreateEffect(type, ch->Freq, ch->Chans);
    if (!fx) return Fail<HFX>(BASS_ERROR_ILLTYPE, 0);
    ChainItem item;
    item.Handle = NewItemHandle();
    item.Priority = priority;
    item.Fx = std::move(fx);
    return Ok(AddChainItem(ch, std::move(item)));
}

BOOL BASS_ChannelRemoveFX(DWORD handle, HFX fx) { return RemoveChainItem(handle, fx, true); }

BOOL BASS_FXSetParameters(HFX handle, const void* par) {
    if (!par) return Fail(BASS_ERROR_ILLPARAM, kFalse);
    auto ch = ChannelOfItem(handle);
    if (!ch) return kFalse;
    std::lock_guard lock(ch->DecodeMutex);
    for (auto& item : ch->Chain)
        if (item.Handle == handle && item.Fx)
            return item.Fx->SetParameters(par) ? Ok() : Fail(BASS_ERROR_ILLPARAM, kFalse);
    return Fail(BASS_ERROR_HANDLE, kFalse);
}

BOOL BASS_FXGetParameters(HFX handle, void* par) {
    if (!par) return Fail(BASS_ERROR_ILLPARAM, kFalse);
    auto ch = ChannelOfItem(handle);
    if (!ch) return kFalse;
    std::lock_guard lock(ch->DecodeMutex);
    for (auto& item : ch->Chain)
        if (item.Handle == handle && item.Fx) {
            item.Fx->GetParameters(par);
            return Ok();
        }
    return Fail(BASS_ERROR_HANDLE, kFalse);
}

void LumoraAudio_SetError(int code) { SetError(code); }

HSTREAM LumoraAudio_StreamCreateFileTyped(const char* file, DWORD flags, DWORD ctype) {
    if (NeedInit()) return 0;
    if (!file) return Fail<HSTREAM>(BASS_ERROR_FILEOPEN, 0);
    int error = BASS_OK;
    auto ch = OpenFileChannel(file, flags, error);
    if (ch) ch->CType = ctype;
    return Register(std::move(ch), error);
}

void LumoraAudio_SetOutputGainProc(LUMORA_GAINPROC* proc) { SetGainProc(proc); }
void LumoraAudio_SetMessageProc(LUMORA_MESSAGEPROC* proc) { SetMessageProc(proc); }

} // extern "C"
