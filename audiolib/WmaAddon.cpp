// The WMA add-on: Windows Media Audio files decoded through the core library. Encoding and the
// network and DRM entries are not offered.

#include "audiolib/AudioLib.h"

namespace {

constexpr BOOL kFalse = 0;

// Keeps only streams that really are Windows Media Audio.
HSTREAM KeepIfWma(HSTREAM h) {
    if (!h) return 0;
    BASS_CHANNELINFO info{};
    if (BASS_ChannelGetInfo(h, &info) && info.ctype == BASS_CTYPE_STREAM_WMA) {
        LumoraAudio_SetError(BASS_OK);
        return h;
    }
    BASS_StreamFree(h);
    LumoraAudio_SetError(BASS_ERROR_FILEFORM);
    return 0;
}

template <class T> T NotAvailable(T result) {
    LumoraAudio_SetError(BASS_ERROR_NOTAVAIL);
    return result;
}

} // namespace

extern "C" {

HSTREAM BASS_WMA_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    return KeepIfWma(BASS_StreamCreateFile(mem, file, offset, length, flags));
}

HSTREAM BASS_WMA_StreamCreateFileAuth(BOOL, const void*, QWORD, QWORD, DWORD, const char*, const char*) {
    return NotAvailable<HSTREAM>(0);
}
HSTREAM BASS_WMA_StreamCreateFileUser(BOOL, DWORD, const BASS_FILEPROCS*, void*) { return NotAvailable<HSTREAM>(0); }
void* BASS_WMA_GetWMObject(DWORD) { return NotAvailable<void*>(nullptr); }
const DWORD* BASS_WMA_EncodeGetRates(DWORD, DWORD, DWORD) { return NotAvailable<const DWORD*>(nullptr); }
DWORD BASS_WMA_EncodeOpen(DWORD, DWORD, DWORD, DWORD, void*, void*) { return NotAvailable<DWORD>(0); }
DWORD BASS_WMA_EncodeOpenFile(DWORD, DWORD, DWORD, DWORD, const char*) { return NotAvailable<DWORD>(0); }
DWORD BASS_WMA_EncodeOpenNetwork(DWORD, DWORD, DWORD, DWORD, DWORD, DWORD) { return NotAvailable<DWORD>(0); }
DWORD BASS_WMA_EncodeOpenNetworkMulti(DWORD, DWORD, DWORD, const DWORD*, DWORD, DWORD) {
    return NotAvailable<DWORD>(0);
}
DWORD BASS_WMA_EncodeOpenPublish(DWORD, DWORD, DWORD, DWORD, const char*, const char*, const char*) {
    return NotAvailable<DWORD>(0);
}
DWORD BASS_WMA_EncodeOpenPublishMulti(DWORD, DWORD, DWORD, const DWORD*, const char*, const char*, const char*) {
    return NotAvailable<DWORD>(0);
}
DWORD BASS_WMA_EncodeGetPort(DWORD) { return NotAvailable<DWORD>(0); }
BOOL BASS_WMA_EncodeSetNotify(DWORD, CLIENTCONNECTPROC*, void*) { return NotAvailable(kFalse); }
DWORD BASS_WMA_EncodeGetClients(DWORD) { return NotAvailable<DWORD>(~DWORD{0}); }
BOOL BASS_WMA_EncodeSetTag(DWORD, const char*, const char*, DWORD) { return NotAvailable(kFalse); }
BOOL BASS_WMA_EncodeWrite(DWORD, const void*, DWORD) { return NotAvailable(kFalse); }
BOOL BASS_WMA_EncodeClose(DWORD) { return NotAvailable(kFalse); }

} // extern "C"
