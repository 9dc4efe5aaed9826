// The CD add-on. There is no disc drive access: drives and their tracks come from a table file
// named by LUMORA_CD_TABLE (see AudioLib.h), each track an audio file played through the core
// library. Without the table there are no drives.

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "audiolib/AudioLib.h"
#include "audiolib/TagBlocks.h"

using lumora::audiolib::CdDrive;

namespace {

constexpr BOOL kTrue = 1, kFalse = 0;
constexpr size_t kMaxDrives = 26;

std::mutex g_lock;
std::string g_tableName;
std::vector<CdDrive> g_drives;
std::map<HSTREAM, DWORD> g_streamTrack;

template <class T> T Result(int code, T value) {
    LumoraAudio_SetError(code);
    return value;
}

// The drive table, read again whenever LUMORA_CD_TABLE names another file. Called with g_lock held.
const std::vector<CdDrive>& Drives() {
    const char* env = std::getenv("LUMORA_CD_TABLE");
    std::string name = env ? env : "";
    if (name != g_tableName) {
        g_tableName = name;
        g_drives.clear();
        std::ifstream in(name);
        std::string line;
        while (g_drives.size() < kMaxDrives && std::getline(in, line))
            if (auto drive = lumora::audiolib::ParseCdTableLine(line)) g_drives.push_back(std::move(*drive));
    }
    return g_drives;
}

const CdDrive* FindDrive(DWORD drive) {
    const auto& drives = Drives();
    return drive < drives.size() ? &drives[drive] : nullptr;
}

// The track's file, or empty with an error code set.
std::string TrackFile(DWORD drive, DWORD track) {
    std::lock_guard lock(g_lock);
    const CdDrive* d = FindDrive(drive);
    if (!d) return Result(BASS_ERROR_DEVICE, std::string());
    if (track >= d->Tracks.size()) return Result(BASS_ERROR_CDTRACK, std::string());
    return d->Tracks[track];
}

HSTREAM CreateTrackStream(DWORD drive, DWORD track, DWORD flags) {
    std::string file = TrackFile(drive, track);
    if (file.empty()) return 0;
    HSTREAM h = LumoraAudio_StreamCreateFileTyped(file.c_str(), flags, BASS_CTYPE_STREAM_CD);
    if (h) {
        std::lock_guard lock(g_lock);
        g_streamTrack[h] = track;
    }
    return h;
}

} // namespace

extern "C" {

const char* BASS_CD_GetDriveDescription(DWORD drive) {
    std::lock_guard lock(g_lock);
    const CdDrive* d = FindDrive(drive);
    return d ? Result(BASS_OK, d->Description.c_str()) : Result<const char*>(BASS_ERROR_DEVICE, nullptr);
}

DWORD BASS_CD_GetDriveLetter(DWORD drive) {
    std::lock_guard lock(g_lock);
    const CdDrive* d = FindDrive(drive);
    return d ? Result<DWORD>(BASS_OK, static_cast<DWORD>(d->Letter - 'A')) : Result<DWORD>(BASS_ERROR_DEVICE, ~DWORD{0});
}

BOOL BASS_CD_GetInfo(DWORD drive, BASS_CD_INFO* info) {
    std::lock_guard lock(g_lock);
    if (!FindDrive(drive)) return Result(BASS_ERROR_DEVICE, kFalse);
    if (!info) return Result(BASS_ERROR_ILLPARAM, kFalse);
    *info = BASS_CD_INFO{0, 0, kFalse};
    return Result(BASS_OK, kTrue);
}

BOOL BASS_CD_Door(DWORD, DWORD) { return Result(BASS_ERROR_NOTAVAIL, kFalse); }
BOOL BASS_CD_DoorIsOpen(DWORD) { return Result(BASS_ERROR_NOTAVAIL, kFalse); }
BOOL BASS_CD_DoorIsLocked(DWORD) { return Result(BASS_ERROR_NOTAVAIL, kFalse); }

BOOL BASS_CD_IsReady(DWORD drive) {
    std::lock_guard lock(g_lock);
    const CdDrive* d = FindDrive(drive);
    return Result(d ? BASS_OK : BASS_ERROR_DEVICE, d && !d->Tracks.empty() ? kTrue : kFalse);
}

DWORD BASS_CD_GetTracks(DWORD drive) {
    std::lock_guard lock(g_lock);
    const CdDrive* d = FindDrive(drive);
    return d ? Result(BASS_OK, static_cast<DWORD>(d->Tracks.size())) : Result<DWORD>(BASS_ERROR_DEVICE, ~DWORD{0});
}

QWORD BASS_CD_GetTrackLength(DWORD drive, DWORD track) {
    std::string file = TrackFile(drive, track);
    if (file.empty()) return ~QWORD{0};
    HSTREAM h = LumoraAudio_StreamCreateFileTyped(file.c_str(), BASS_STREAM_DECODE, BASS_CTYPE_STREAM_CD);
    if (!h) return ~QWORD{0};
    QWORD bytes = BASS_ChannelGetLength(h);
    double seconds = bytes == ~QWORD{0} ? -1 : BASS_ChannelBytes2Seconds(h, bytes);
    BASS_StreamFree(h);
    if (seconds < 0) return Result(BASS_ERROR_NOTAVAIL, ~QWORD{0});
    // Disc audio is 16-bit stereo at 44.1 kHz: 4 bytes a frame.
    return Result<QWORD>(BASS_OK, static_cast<QWORD>(std::llround(seconds * 44100.0)) * 4);
}

DWORD BASS_CD_GetTrackPregap(DWORD, DWORD) { return Result<DWORD>(BASS_ERROR_NOTAVAIL, ~DWORD{0}); }
const char* BASS_CD_GetID(DWORD, DWORD) { return Result<const char*>(BASS_ERROR_NOTAVAIL, nullptr); }
DWORD BASS_CD_GetSpeed(DWORD) { return Result<DWORD>(BASS_ERROR_NOTAVAIL, ~DWORD{0}); }
BOOL BASS_CD_SetSpeed(DWORD, DWORD) { return Result(BASS_ERROR_NOTAVAIL, kFalse); }
BOOL BASS_CD_Release(DWORD) { return Result(BASS_ERROR_NOTAVAIL, kFalse); }

HSTREAM BASS_CD_StreamCreate(DWORD drive, DWORD track, DWORD flags) { return CreateTrackStream(drive, track, flags); }

HSTREAM BASS_CD_StreamCreateFile(const char* file, DWORD flags) {
    if (!file) return Result<HSTREAM>(BASS_ERROR_FILEOPEN, 0);
    std::string name = file;
    int track = lumora::audiolib::CdaTrackNumber(name);
    if (track < 1) return Result<HSTREAM>(BASS_ERROR_FILEFORM, 0);
    // The drive is the one whose letter starts the file name.
    char letter = name.empty() ? 0 : name[0];
    if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
    DWORD drive = ~DWORD{0};
    {
        std::lock_guard lock(g_lock);
        const auto& drives = Drives();
        for (size_t i = 0; i < drives.size(); ++i)
            if (drives[i].Letter == letter) drive = static_cast<DWORD>(i);
    }
    if (drive == ~DWORD{0}) return Result<HSTREAM>(BASS_ERROR_DEVICE, 0);
    return CreateTrackStream(drive, static_cast<DWORD>(track - 1), flags);
}

DWORD BASS_CD_StreamGetTrack(HSTREAM handle) {
    std::lock_guard lock(g_lock);
    auto it = g_streamTrack.find(handle);
    if (it == g_streamTrack.end()) return Result<DWORD>(BASS_ERROR_HANDLE, ~DWORD{0});
    return Result(BASS_OK, it->second);
}

BOOL BASS_CD_StreamSetTrack(HSTREAM, DWORD) { return Result(BASS_ERROR_NOTAVAIL, kFalse); }
BOOL BASS_CD_Analog_Play(DWORD, DWORD, DWORD) { return Result(BASS_ERROR_NOTAVAIL, kFalse); }
DWORD BASS_CD_Analog_PlayFile(const char*, DWORD) { return Result<DWORD>(BASS_ERROR_NOTAVAIL, ~DWORD{0}); }
BOOL BASS_CD_Analog_Stop(DWORD) { return Result(BASS_ERROR_NOTAVAIL, kFalse); }
DWORD BASS_CD_Analog_IsActive(DWORD) { return Result<DWORD>(BASS_ERROR_NOTAVAIL, 0); }
DWORD BASS_CD_Analog_GetPosition(DWORD) { return Result<DWORD>(BASS_ERROR_NOTAVAIL, ~DWORD{0}); }

} // extern "C"
