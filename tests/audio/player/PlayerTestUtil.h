#pragma once
// Helpers of the player and plug-in host tests: a fake audio library behind the module loader seam
// (every entry by name; the ones the player calls keep state the tests look at), message-box
// capture, a program folder with the real library and plug-ins linked in, and small waits.

#include <unistd.h>

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "audio/player/BassLoader.h"
#include "framework/Forms.h"
#include "platform/system/System.h"
#include "tests/support/HaveTool.h"
#include "tests/support/TempDir.h"

namespace lumora::playertest {

using test::HaveTool;
inline bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// Pumps the event loop until `done` or the time is up.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        Application().ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

inline void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}

// Captures message boxes for the length of a test.
class MessageCapture {
public:
    struct Box {
        std::string Text, Caption;
        TMsgIcon Icon;
    };
    MessageCapture() {
        SetMessageReporter([this](const std::string& text, const std::string& caption, TMsgIcon icon, int) {
            std::lock_guard lock(mutex_);
            boxes_.push_back({text, caption, icon});
            return 1;
        });
    }
    ~MessageCapture() { SetMessageReporter(nullptr); }
    std::vector<Box> Boxes() const {
        std::lock_guard lock(mutex_);
        return boxes_;
    }
    std::string Last() const {
        std::lock_guard lock(mutex_);
        return boxes_.empty() ? "" : boxes_.back().Text;
    }
    size_t Count() const {
        std::lock_guard lock(mutex_);
        return boxes_.size();
    }

private:
    mutable std::mutex mutex_;
    std::vector<Box> boxes_;
};

// A minimal 16-bit PCM WAV file the tag readers accept.
inline std::string WriteWav(const test::TempDir& dir, const std::string& name, uint32_t rate, uint16_t chans,
                            uint32_t frames, uint16_t bits = 16) {
    std::string data(static_cast<size_t>(frames) * chans * (bits / 8), '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 37);
    std::string h(44, '\0');
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&h[at], &v, 4); };
    auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&h[at], &v, 2); };
    std::memcpy(&h[0], "RIFF", 4);
    put32(4, static_cast<uint32_t>(36 + data.size()));
    std::memcpy(&h[8], "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, chans);
    put32(24, rate);
    put32(28, rate * chans * (bits / 8));
    put16(32, static_cast<uint16_t>(chans * (bits / 8)));
    put16(34, bits);
    std::memcpy(&h[36], "data", 4);
    put32(40, static_cast<uint32_t>(data.size()));
    return dir.WriteFile(name, h + data);
}

// A program folder with the real library and the test plug-ins linked in, made the program's folder
// for the length of a test.
class ProgramFolderScope {
public:
    explicit ProgramFolderScope(const std::vector<std::string>& plugins = {}, bool withAddons = true) {
        namespace fs = std::filesystem;
        std::string bin = std::string(LUMORA_BINARY_DIR) + "/bin/";
        for (const char* lib : {"libbass.so", "libbasswma.so", "libbasscd.so"}) {
            if (!withAddons && std::string(lib) != "libbass.so") continue;
            fs::create_symlink(bin + lib, dir_.File(lib));
        }
        fs::create_directories(dir_.File("Plugins"));
        for (const auto& p : plugins)
            fs::create_symlink(std::string(LUMORA_BINARY_DIR) + "/test-plugins/" + p, dir_.File("Plugins/" + p));
        SetProgramFolder(dir_.Path());
    }
    ~ProgramFolderScope() { SetProgramFolder(""); }
    const test::TempDir& Dir() const { return dir_; }

private:
    test::TempDir dir_;
};

// ---- The fake library ----

struct FakeChannel {
    std::string File;
    DWORD Flags = 0;
    DWORD Freq = 44100, Chans = 2;
    QWORD Length = 44100 * 4 * 10, Position = 0;
    DWORD State = BASS_ACTIVE_STOPPED;
    bool Music = false;
    std::vector<std::pair<SYNCPROC*, void*>> EndSyncs;
};

// An effect on a fake channel: its type and its parameter record, DirectX's defaults at first.
struct FakeFx {
    DWORD Type = 0;
    BASS_FXPARAMEQ Eq{8000, 12, 0};
    BASS_FXECHO Echo{50, 50, 500, 500, 0};
    BASS_FXREVERB Reverb{0, 0, 1000, 0.001f};
    int Sets = 0; // parameter writes
};

class FakeBass {
public:
    static FakeBass& Get() {
        static FakeBass fake;
        return fake;
    }
    void Reset() {
        std::lock_guard lock(mutex);
        channels.clear();
        config.clear();
        next = 100;
        error = 0;
        version = 0x02030001;
        initOk = true;
        initCalls = freeCalls = 0;
        refuse.clear();
        eightBit = false;
        freed.clear();
        positionsSet.clear();
        fx.clear();
    }
    std::mutex mutex;
    std::map<DWORD, FakeChannel> channels;
    std::map<DWORD, DWORD> config;
    DWORD next = 100;
    int error = 0;
    DWORD version = 0x02030001;
    bool initOk = true;
    int initCalls = 0, freeCalls = 0;
    std::string refuse; // files whose name contains this cannot be opened (error code 2)
    bool eightBit = false;
    std::vector<DWORD> freed;
    std::vector<std::pair<DWORD, QWORD>> positionsSet;
    std::map<DWORD, FakeFx> fx;
    // The effects of one type, in the order they were set.
    std::vector<FakeFx> Effects(DWORD type) {
        std::lock_guard lock(mutex);
        std::vector<FakeFx> found;
        for (auto& [handle, f] : fx)
            if (f.Type == type) found.push_back(f);
        return found;
    }

    // Runs the end syncs of a channel, as the library's thread would.
    void FireEnd(DWORD handle) {
        std::vector<std::pair<SYNCPROC*, void*>> syncs;
        {
            std::lock_guard lock(mutex);
            auto& ch = channels[handle];
            ch.State = BASS_ACTIVE_STOPPED;
            syncs = ch.EndSyncs;
        }
        for (auto& [proc, user] : syncs) proc(1, handle, 0, user);
    }
    DWORD State(DWORD handle) {
        std::lock_guard lock(mutex);
        return channels.count(handle) ? channels[handle].State : 0;
    }
    size_t EndSyncCount(DWORD handle) {
        std::lock_guard lock(mutex);
        return channels.count(handle) ? channels[handle].EndSyncs.size() : 0;
    }
};

namespace fake {
inline DWORD Create(const std::string& file, DWORD flags, bool music) {
    FakeBass& f = FakeBass::Get();
    std::lock_guard lock(f.mutex);
    if (!f.refuse.empty() && file.find(f.refuse) != std::string::npos) {
        f.error = 2;
        return 0;
    }
    DWORD h = f.next++;
    FakeChannel ch;
    ch.File = file;
    ch.Flags = flags | (f.eightBit ? BASS_SAMPLE_8BITS : 0);
    ch.Music = music;
    f.channels[h] = ch;
    return h;
}
inline DWORD SetConfig(DWORD option, DWORD value) {
    std::lock_guard lock(FakeBass::Get().mutex);
    FakeBass::Get().config[option] = value;
    return value;
}
inline DWORD GetVersion() { return FakeBass::Get().version; }
inline int ErrorGetCode() { return FakeBass::Get().error; }
inline BOOL Init(int, DWORD, DWORD, void*, const void*) {
    ++FakeBass::Get().initCalls;
    return FakeBass::Get().initOk;
}
inline BOOL Free() {
    ++FakeBass::Get().freeCalls;
    return 1;
}
inline BOOL GetInfo(BASS_INFO* info) {
    *info = BASS_INFO{};
    info->dsver = 9;
    return 1;
}
inline BOOL PluginFree(HPLUGIN) { return 1; }
inline HSTREAM StreamCreateFile(BOOL, const void* file, QWORD, QWORD, DWORD flags) {
    return Create(static_cast<const char*>(file), flags, false);
}
inline HMUSIC MusicLoad(BOOL, const void* file, QWORD, DWORD, DWORD flags, DWORD) {
    return Create(static_cast<const char*>(file), flags, true);
}
inline HSTREAM StreamCreateURL(const char*, DWORD, DWORD, DOWNLOADPROC*, void*) {
    FakeBass::Get().error = 32;
    return 0;
}
inline HSTREAM StreamCreate(DWORD freq, DWORD chans, DWORD flags, STREAMPROC*, void*) {
    DWORD h = Create("user", flags, false);
    std::lock_guard lock(FakeBass::Get().mutex);
    FakeBass::Get().channels[h].Freq = freq;
    FakeBass::Get().channels[h].Chans = chans;
    return h;
}
inline BOOL FreeChannel(DWORD h) {
    FakeBass& f = FakeBass::Get();
    std::lock_guard lock(f.mutex);
    f.freed.push_back(h);
    return f.channels.erase(h) ? 1 : 0;
}
inline BOOL ChannelGetInfo(DWORD h, BASS_CHANNELINFO* info) {
    FakeBass& f = FakeBass::Get();
    std::lock_guard lock(f.mutex);
    if (!f.channels.count(h)) return 0;
    auto& ch = f.channels[h];
    *info = BASS_CHANNELINFO{ch.Freq, ch.Chans, ch.Flags, 0, 16, nullptr};
    return 1;
}
inline QWORD ChannelGetLength(DWORD h) {
    std::lock_guard lock(FakeBass::Get().mutex);
    return FakeBass::Get().channels.count(h) ? FakeBass::Get().channels[h].Length : ~QWORD{0};
}
inline float Bytes2Seconds(DWORD, QWORD pos) { return static_cast<float>(pos) / (44100.f * 4); }
inline QWORD Seconds2Bytes(DWORD, float s) { return static_cast<QWORD>(s * 44100) * 4; }
inline QWORD GetPosition(DWORD h) {
    std::lock_guard lock(FakeBass::Get().mutex);
    return FakeBass::Get().channels.count(h) ? FakeBass::Get().channels[h].Position : ~QWORD{0};
}
inline BOOL SetPosition(DWORD h, QWORD pos) {
    FakeBass& f = FakeBass::Get();
    std::lock_guard lock(f.mutex);
    f.positionsSet.emplace_back(h, pos);
    if (!f.channels.count(h)) return 0;
    f.channels[h].Position = pos;
    return 1;
}
inline BOOL Play(DWORD h, BOOL restart) {
    FakeBass& f = FakeBass::Get();
    std::lock_guard lock(f.mutex);
    if (!f.channels.count(h)) return 0;
    if (restart) f.channels[h].Position = 0;
    f.channels[h].State = BASS_ACTIVE_PLAYING;
    return 1;
}
inline BOOL Stop(DWORD h) {
    std::lock_guard lock(FakeBass::Get().mutex);
    FakeBass::Get().channels[h].State = BASS_ACTIVE_STOPPED;
    return 1;
}
inline BOOL Pause(DWORD h) {
    std::lock_guard lock(FakeBass::Get().mutex);
    FakeBass::Get().channels[h].State = BASS_ACTIVE_PAUSED;
    return 1;
}
inline DWORD IsActive(DWORD h) { return FakeBass::Get().State(h); }
inline HSYNC SetSync(DWORD h, DWORD type, QWORD, SYNCPROC* proc, void* user) {
    FakeBass& f = FakeBass::Get();
    std::lock_guard lock(f.mutex);
    if (type == BASS_SYNC_END) f.channels[h].EndSyncs.emplace_back(proc, user);
    return 1;
}
inline const char* GetTags(DWORD, DWORD) { return nullptr; }
inline QWORD GetFilePosition(DWORD, DWORD) { return ~QWORD{0}; }
inline DWORD GetData(DWORD, void*, DWORD) { return ~DWORD{0}; }
inline BOOL Attributes(DWORD, int, int, int) { return 1; }
inline const char* CdDriveDescription(DWORD) { return nullptr; } // no drives
inline DWORD CdDriveLetter(DWORD) { return ~DWORD{0}; }
inline QWORD CdTrackLength(DWORD, DWORD) { return ~QWORD{0}; }
inline HSTREAM CdStreamCreateFile(const char* file, DWORD flags) { return Create(file, flags, false); }
inline HSTREAM WmaStreamCreateFile(BOOL, const void* file, QWORD, QWORD, DWORD flags) {
    return Create(static_cast<const char*>(file), flags, false);
}
inline HDSP SetDSP(DWORD, DSPPROC*, void*, int) { return 7; }
inline BOOL RemoveItem(DWORD, DWORD) { return 1; }
inline HFX SetFX(DWORD, DWORD type, int) {
    FakeBass& f = FakeBass::Get();
    std::lock_guard lock(f.mutex);
    DWORD h = f.next++;
    f.fx[h].Type = type;
    return h;
}
inline BOOL RemoveFX(DWORD, HFX h) {
    FakeBass& f = FakeBass::Get();
    std::lock_guard lock(f.mutex);
    return f.fx.erase(h) ? 1 : 0;
}
// The parameter record of an effect's type, or none for a type the fake does not keep.
inline std::pair<void*, size_t> FxParameters(FakeFx& e) {
    switch (e.Type) {
    case BASS_FX_PARAMEQ: return {&e.Eq, sizeof e.Eq};
    case BASS_FX_ECHO: return {&e.Echo, sizeof e.Echo};
    case BASS_FX_REVERB: return {&e.Reverb, sizeof e.Reverb};
    default: return {nullptr, 0};
    }
}
inline BOOL FXGetParameters(HFX h, void* par) {
    FakeBass& f = FakeBass::Get();
    std::lock_guard lock(f.mutex);
    auto it = f.fx.find(h);
    if (it == f.fx.end()) return 0;
    auto [record, size] = FxParameters(it->second);
    if (!record) return 0;
    std::memcpy(par, record, size);
    return 1;
}
inline BOOL FXSetParameters(HFX h, const void* par) {
    FakeBass& f = FakeBass::Get();
    std::lock_guard lock(f.mutex);
    auto it = f.fx.find(h);
    if (it == f.fx.end()) return 0;
    ++it->second.Sets;
    auto [record, size] = FxParameters(it->second);
    if (!record) return 0;
    std::memcpy(record, par, size);
    return 1;
}
inline void Unused() {}
} // namespace fake

// A module loader that hands out the fake library under the three file names, with the option to
// leave out one entry or one file.
class FakeLoader : public IModuleLoader {
public:
    std::set<std::string> MissingFiles; // file names (no folder) that do not load
    std::string MissingEntry;           // an entry no module has
    int Loads = 0, Frees = 0;
    void* Load(const std::string& path) override {
        std::string name = path.substr(path.find_last_of('/') + 1);
        if (MissingFiles.count(name)) return nullptr;
        ++Loads;
        return reinterpret_cast<void*>(static_cast<uintptr_t>(0x1000 + Loads));
    }
    void* Symbol(void*, const char* name) override {
        std::string n = name;
        if (n == MissingEntry || n.rfind("BASS_", 0) != 0) return nullptr;
        static const std::map<std::string, void*> table = {
            {"BASS_SetConfig", reinterpret_cast<void*>(fake::SetConfig)},
            {"BASS_GetVersion", reinterpret_cast<void*>(fake::GetVersion)},
            {"BASS_ErrorGetCode", reinterpret_cast<void*>(fake::ErrorGetCode)},
            {"BASS_Init", reinterpret_cast<void*>(fake::Init)},
            {"BASS_Free", reinterpret_cast<void*>(fake::Free)},
            {"BASS_GetInfo", reinterpret_cast<void*>(fake::GetInfo)},
            {"BASS_PluginFree", reinterpret_cast<void*>(fake::PluginFree)},
            {"BASS_StreamCreateFile", reinterpret_cast<void*>(fake::StreamCreateFile)},
            {"BASS_StreamCreateURL", reinterpret_cast<void*>(fake::StreamCreateURL)},
            {"BASS_StreamCreate", reinterpret_cast<void*>(fake::StreamCreate)},
            {"BASS_MusicLoad", reinterpret_cast<void*>(fake::MusicLoad)},
            {"BASS_StreamFree", reinterpret_cast<void*>(fake::FreeChannel)},
            {"BASS_MusicFree", reinterpret_cast<void*>(fake::FreeChannel)},
            {"BASS_ChannelGetInfo", reinterpret_cast<void*>(fake::ChannelGetInfo)},
            {"BASS_ChannelGetLength", reinterpret_cast<void*>(fake::ChannelGetLength)},
            {"BASS_ChannelBytes2Seconds", reinterpret_cast<void*>(fake::Bytes2Seconds)},
            {"BASS_ChannelSeconds2Bytes", reinterpret_cast<void*>(fake::Seconds2Bytes)},
            {"BASS_ChannelGetPosition", reinterpret_cast<void*>(fake::GetPosition)},
            {"BASS_ChannelSetPosition", reinterpret_cast<void*>(fake::SetPosition)},
            {"BASS_ChannelPlay", reinterpret_cast<void*>(fake::Play)},
            {"BASS_ChannelStop", reinterpret_cast<void*>(fake::Stop)},
            {"BASS_ChannelPause", reinterpret_cast<void*>(fake::Pause)},
            {"BASS_ChannelIsActive", reinterpret_cast<void*>(fake::IsActive)},
            {"BASS_ChannelSetSync", reinterpret_cast<void*>(fake::SetSync)},
            {"BASS_ChannelGetTags", reinterpret_cast<void*>(fake::GetTags)},
            {"BASS_StreamGetFilePosition", reinterpret_cast<void*>(fake::GetFilePosition)},
            {"BASS_ChannelGetData", reinterpret_cast<void*>(fake::GetData)},
            {"BASS_ChannelSetAttributes", reinterpret_cast<void*>(fake::Attributes)},
            {"BASS_CD_GetDriveDescription", reinterpret_cast<void*>(fake::CdDriveDescription)},
            {"BASS_CD_GetDriveLetter", reinterpret_cast<void*>(fake::CdDriveLetter)},
            {"BASS_CD_GetTrackLength", reinterpret_cast<void*>(fake::CdTrackLength)},
            {"BASS_CD_StreamCreateFile", reinterpret_cast<void*>(fake::CdStreamCreateFile)},
            {"BASS_WMA_StreamCreateFile", reinterpret_cast<void*>(fake::WmaStreamCreateFile)},
            {"BASS_ChannelSetDSP", reinterpret_cast<void*>(fake::SetDSP)},
            {"BASS_ChannelRemoveDSP", reinterpret_cast<void*>(fake::RemoveItem)},
            {"BASS_ChannelSetFX", reinterpret_cast<void*>(fake::SetFX)},
            {"BASS_ChannelRemoveFX", reinterpret_cast<void*>(fake::RemoveFX)},
            {"BASS_FXGetParameters", reinterpret_cast<void*>(fake::FXGetParameters)},
            {"BASS_FXSetParameters", reinterpret_cast<void*>(fake::FXSetParameters)},
        };
        auto it = table.find(n);
        // Entries the player never calls still have to exist.
        return it != table.end() ? it->second : reinterpret_cast<void*>(fake::Unused);
    }
    bool Free(void*) override {
        ++Frees;
        return true;
    }
};

// Installs a fake loader and an empty program folder for the length of a test.
class FakeLibraryScope {
public:
    FakeLibraryScope() {
        FakeBass::Get().Reset();
        SetModuleLoader(&loader);
        SetProgramFolder(dir_.Path());
    }
    ~FakeLibraryScope() {
        SetModuleLoader(nullptr);
        SetProgramFolder("");
    }
    FakeLoader loader;
    const test::TempDir& Dir() const { return dir_; }

private:
    test::TempDir dir_;
};

} // namespace lumora::playertest
