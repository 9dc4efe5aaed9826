#pragma once
/* Our audio library and its WMA and CD add-ons: every entry point the player binds by name, with the
 * types, flags and records it passes. Three shared objects implement it: libbass.so (the core),
 * libbasswma.so and libbasscd.so. The core decodes files with FFmpeg, tracker modules with
 * libopenmpt, fetches URL streams with libcurl and plays through ALSA, a paced null output or a WAV
 * file, chosen by LUMORA_AUDIO_OUTPUT ("alsa", "alsa:DEVICE", "null", "null:fast", "wav:PATH").
 *
 * Conventions: lengths and positions are bytes in the channel's own sample format; a failing call
 * returns 0 (or -1 where it says so) and leaves a code for BASS_ErrorGetCode on the calling thread;
 * callbacks run on library threads and never with a library lock held. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint64_t QWORD;
typedef int32_t BOOL;

typedef DWORD HMUSIC;
typedef DWORD HSAMPLE;
typedef DWORD HCHANNEL;
typedef DWORD HSTREAM;
typedef DWORD HRECORD;
typedef DWORD HSYNC;
typedef DWORD HDSP;
typedef DWORD HFX;
typedef DWORD HPLUGIN;

#define LUMORA_AUDIO_VERSION 0x02030001u

/* Error codes. */
enum {
    BASS_OK = 0,
    BASS_ERROR_MEM = 1,
    BASS_ERROR_FILEOPEN = 2,
    BASS_ERROR_DRIVER = 3,
    BASS_ERROR_HANDLE = 5,
    BASS_ERROR_FORMAT = 6,
    BASS_ERROR_POSITION = 7,
    BASS_ERROR_INIT = 8,
    BASS_ERROR_START = 9,
    BASS_ERROR_ALREADY = 14,
    BASS_ERROR_NOTAUDIO = 17,
    BASS_ERROR_NOCHAN = 18,
    BASS_ERROR_ILLTYPE = 19,
    BASS_ERROR_ILLPARAM = 20,
    BASS_ERROR_NO3D = 21,
    BASS_ERROR_NOEAX = 22,
    BASS_ERROR_DEVICE = 23,
    BASS_ERROR_NOPLAY = 24,
    BASS_ERROR_FREQ = 25,
    BASS_ERROR_NOTFILE = 27,
    BASS_ERROR_NOHW = 29,
    BASS_ERROR_EMPTY = 31,
    BASS_ERROR_NONET = 32,
    BASS_ERROR_CREATE = 33,
    BASS_ERROR_NOFX = 34,
    BASS_ERROR_NOTAVAIL = 37,
    BASS_ERROR_DECODE = 38,
    BASS_ERROR_TIMEOUT = 40,
    BASS_ERROR_FILEFORM = 41,
    BASS_ERROR_SPEAKER = 42,
    BASS_ERROR_VERSION = 43,
    BASS_ERROR_CODEC = 44,
    BASS_ERROR_ENDED = 45,
    BASS_ERROR_CDTRACK = 13,
    BASS_ERROR_UNKNOWN = -1
};

/* Configuration options. */
enum {
    BASS_CONFIG_BUFFER = 0,
    BASS_CONFIG_UPDATEPERIOD = 1,
    BASS_CONFIG_MAXVOL = 3,
    BASS_CONFIG_GVOL_SAMPLE = 4,
    BASS_CONFIG_GVOL_STREAM = 5,
    BASS_CONFIG_GVOL_MUSIC = 6,
    BASS_CONFIG_NET_TIMEOUT = 11,
    BASS_CONFIG_NET_BUFFER = 12,
    BASS_CONFIG_CD_FREEOLD = 0x10200,
    /* Largest body of a URL stream without a stated length that is kept whole, in bytes (at most, and
     * by default, 64 MB): it then tells its length, seeks and gives its tags once it is in. Past
     * that it plays on as a stream that cannot seek. */
    LUMORA_CONFIG_NET_KEEPWHOLE = 0x4C550001
};

/* Sample, stream and music flags. */
enum {
    BASS_SAMPLE_8BITS = 1,
    BASS_SAMPLE_MONO = 2,
    BASS_SAMPLE_LOOP = 4,
    BASS_SAMPLE_FLOAT = 0x100,
    BASS_MUSIC_RAMPS = 0x400,
    BASS_MUSIC_CALCLEN = 0x8000,
    BASS_MUSIC_POSRESET = 0x20000,
    BASS_STREAM_DECODE = 0x200000
};

/* Channel types (BASS_CHANNELINFO.ctype). */
enum {
    BASS_CTYPE_STREAM = 0x10000,
    BASS_CTYPE_STREAM_OGG = 0x10002,
    BASS_CTYPE_STREAM_MP1 = 0x10003,
    BASS_CTYPE_STREAM_MP2 = 0x10004,
    BASS_CTYPE_STREAM_MP3 = 0x10005,
    BASS_CTYPE_STREAM_AIFF = 0x10006,
    BASS_CTYPE_STREAM_WAV = 0x40000,
    BASS_CTYPE_STREAM_WMA = 0x10300,
    BASS_CTYPE_STREAM_CD = 0x10200,
    BASS_CTYPE_MUSIC_MOD = 0x20000
};

/* Channel states (BASS_ChannelIsActive). */
enum { BASS_ACTIVE_STOPPED = 0, BASS_ACTIVE_PLAYING = 1, BASS_ACTIVE_STALLED = 2, BASS_ACTIVE_PAUSED = 3 };

/* Tag kinds (BASS_ChannelGetTags). ID3 and ID3v2 give the raw block; the others a list of
 * zero-terminated strings ended by an empty one, except META, which is one string. */
enum {
    BASS_TAG_ID3 = 0,
    BASS_TAG_ID3V2 = 1,
    BASS_TAG_OGG = 2,
    BASS_TAG_HTTP = 3,
    BASS_TAG_ICY = 4,
    BASS_TAG_META = 5,
    BASS_TAG_WMA = 8
};

/* BASS_ChannelGetData length flags. Without a flag the length is a byte count of samples. */
#define BASS_DATA_AVAILABLE 0u
#define BASS_DATA_FLOAT 0x40000000u
#define BASS_DATA_FFT512 0x80000000u
#define BASS_DATA_FFT1024 0x80000001u
#define BASS_DATA_FFT2048 0x80000002u
#define BASS_DATA_FFT4096 0x80000003u
#define BASS_DATA_FFT_INDIVIDUAL 0x10u
#define BASS_DATA_FFT_NOWINDOW 0x20u

/* Sync types. */
enum { BASS_SYNC_POS = 0, BASS_SYNC_END = 2, BASS_SYNC_META = 4, BASS_SYNC_DOWNLOAD = 7 };
#define BASS_SYNC_ONETIME 0x80000000u

/* BASS_StreamGetFilePosition modes. */
enum {
    BASS_FILEPOS_CURRENT = 0,
    BASS_FILEPOS_DOWNLOAD = 1,
    BASS_FILEPOS_END = 2,
    BASS_FILEPOS_START = 3,
    BASS_FILEPOS_BUFFER = 5 /* bytes a URL stream holds in memory */
};

/* A stream procedure returns the bytes written; this bit ends the stream after them. */
#define BASS_STREAMPROC_END 0x80000000u

/* Effect types and their parameter records. */
enum { BASS_FX_CHORUS = 0, BASS_FX_COMPRESSOR, BASS_FX_DISTORTION, BASS_FX_ECHO, BASS_FX_FLANGER,
       BASS_FX_GARGLE, BASS_FX_I3DL2REVERB, BASS_FX_PARAMEQ, BASS_FX_REVERB };

typedef struct BASS_FXPARAMEQ {
    float fCenter;    /* 80 .. 16000 Hz */
    float fBandwidth; /* 1 .. 36 semitones */
    float fGain;      /* -15 .. +15 dB */
} BASS_FXPARAMEQ;

typedef struct BASS_FXECHO {
    float fWetDryMix;  /* 0 .. 100 % */
    float fFeedback;   /* 0 .. 100 % */
    float fLeftDelay;  /* 1 .. 2000 ms */
    float fRightDelay; /* 1 .. 2000 ms */
    BOOL lPanDelay;    /* swap the sides on each repeat */
} BASS_FXECHO;

typedef struct BASS_FXREVERB {
    float fInGain;          /* -96 .. 0 dB */
    float fReverbMix;       /* -96 .. 0 dB */
    float fReverbTime;      /* 0.001 .. 3000 ms */
    float fHighFreqRTRatio; /* 0.001 .. 0.999 */
} BASS_FXREVERB;

typedef struct BASS_INFO {
    DWORD flags;
    DWORD hwsize;
    DWORD hwfree;
    DWORD freesam;
    DWORD free3d;
    DWORD minrate;
    DWORD maxrate;
    BOOL eax;
    DWORD minbuf;
    DWORD dsver; /* effects other than DSP need 8 or higher */
    DWORD latency;
    DWORD initflags;
    DWORD speakers;
    DWORD freq;
} BASS_INFO;

typedef struct BASS_CHANNELINFO {
    DWORD freq;
    DWORD chans;
    DWORD flags;
    DWORD ctype;
    DWORD origres; /* bits per sample of the source, 0 when unknown */
    const char* filename;
} BASS_CHANNELINFO;

typedef struct BASS_PLUGININFO {
    DWORD version;
    DWORD formatc;
    const void* formats;
} BASS_PLUGININFO;

typedef struct BASS_3DVECTOR {
    float x, y, z;
} BASS_3DVECTOR;

typedef struct BASS_SAMPLE {
    DWORD freq, volume;
    int pan;
    DWORD flags, length, max, origres, chans, mingap, mode3d;
    float mindist, maxdist;
    DWORD iangle, oangle, outvol, vam, priority;
} BASS_SAMPLE;

typedef struct BASS_RECORDINFO {
    DWORD flags, formats, inputs;
    BOOL singlein;
    DWORD freq;
} BASS_RECORDINFO;

typedef struct BASS_CD_INFO {
    DWORD maxspeed;
    DWORD cache;
    BOOL cdtext;
} BASS_CD_INFO;

typedef DWORD(STREAMPROC)(HSTREAM handle, void* buffer, DWORD length, void* user);
typedef void(DOWNLOADPROC)(const void* buffer, DWORD length, void* user);
typedef void(SYNCPROC)(HSYNC handle, DWORD channel, DWORD data, void* user);
typedef void(DSPPROC)(HDSP handle, DWORD channel, void* buffer, DWORD length, void* user);
typedef BOOL(RECORDPROC)(HRECORD handle, const void* buffer, DWORD length, void* user);
typedef void(FILECLOSEPROC)(void* user);
typedef QWORD(FILELENPROC)(void* user);
typedef DWORD(FILEREADPROC)(void* buffer, DWORD length, void* user);
typedef BOOL(FILESEEKPROC)(QWORD offset, void* user);
typedef struct BASS_FILEPROCS {
    FILECLOSEPROC* close;
    FILELENPROC* length;
    FILEREADPROC* read;
    FILESEEKPROC* seek;
} BASS_FILEPROCS;
typedef void(CLIENTCONNECTPROC)(DWORD handle, BOOL connect, const char* ip, void* user);

#if defined(__GNUC__)
#define LUMORA_AUDIO_API __attribute__((visibility("default")))
#else
#define LUMORA_AUDIO_API
#endif

/* ---- Core library (libbass.so), in binding order ---- */
LUMORA_AUDIO_API DWORD BASS_SetConfig(DWORD option, DWORD value);
LUMORA_AUDIO_API DWORD BASS_GetConfig(DWORD option);
LUMORA_AUDIO_API DWORD BASS_GetVersion(void);
LUMORA_AUDIO_API const char* BASS_GetDeviceDescription(DWORD device);
LUMORA_AUDIO_API int BASS_ErrorGetCode(void);
LUMORA_AUDIO_API BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* clsid);
LUMORA_AUDIO_API BOOL BASS_SetDevice(DWORD device);
LUMORA_AUDIO_API DWORD BASS_GetDevice(void);
LUMORA_AUDIO_API BOOL BASS_Free(void);
LUMORA_AUDIO_API void* BASS_GetDSoundObject(DWORD object);
LUMORA_AUDIO_API BOOL BASS_GetInfo(BASS_INFO* info);
LUMORA_AUDIO_API BOOL BASS_Update(void);
LUMORA_AUDIO_API float BASS_GetCPU(void);
LUMORA_AUDIO_API BOOL BASS_Start(void);
LUMORA_AUDIO_API BOOL BASS_Stop(void);
LUMORA_AUDIO_API BOOL BASS_Pause(void);
LUMORA_AUDIO_API BOOL BASS_SetVolume(DWORD volume);
LUMORA_AUDIO_API DWORD BASS_GetVolume(void);
LUMORA_AUDIO_API HPLUGIN BASS_PluginLoad(const char* file, DWORD flags);
LUMORA_AUDIO_API BOOL BASS_PluginFree(HPLUGIN handle);
LUMORA_AUDIO_API const BASS_PLUGININFO* BASS_PluginGetInfo(HPLUGIN handle);
LUMORA_AUDIO_API BOOL BASS_Set3DFactors(float distf, float rollf, float doppf);
LUMORA_AUDIO_API BOOL BASS_Get3DFactors(float* distf, float* rollf, float* doppf);
LUMORA_AUDIO_API BOOL BASS_Set3DPosition(const BASS_3DVECTOR* pos, const BASS_3DVECTOR* vel,
                                         const BASS_3DVECTOR* front, const BASS_3DVECTOR* top);
LUMORA_AUDIO_API BOOL BASS_Get3DPosition(BASS_3DVECTOR* pos, BASS_3DVECTOR* vel, BASS_3DVECTOR* front,
                                         BASS_3DVECTOR* top);
LUMORA_AUDIO_API void BASS_Apply3D(void);
LUMORA_AUDIO_API BOOL BASS_SetEAXParameters(int env, float vol, float decay, float damp);
LUMORA_AUDIO_API BOOL BASS_GetEAXParameters(DWORD* env, float* vol, float* decay, float* damp);
LUMORA_AUDIO_API HMUSIC BASS_MusicLoad(BOOL mem, const void* file, QWORD offset, DWORD length, DWORD flags,
                                       DWORD freq);
LUMORA_AUDIO_API BOOL BASS_MusicFree(HMUSIC handle);
LUMORA_AUDIO_API BOOL BASS_MusicSetAttribute(HMUSIC handle, DWORD attrib, DWORD value);
LUMORA_AUDIO_API DWORD BASS_MusicGetAttribute(HMUSIC handle, DWORD attrib);
LUMORA_AUDIO_API DWORD BASS_MusicGetOrders(HMUSIC handle);
LUMORA_AUDIO_API DWORD BASS_MusicGetOrderPosition(HMUSIC handle);
LUMORA_AUDIO_API HSAMPLE BASS_SampleLoad(BOOL mem, const void* file, QWORD offset, DWORD length, DWORD max,
                                         DWORD flags);
LUMORA_AUDIO_API void* BASS_SampleCreate(DWORD length, DWORD freq, DWORD chans, DWORD max, DWORD flags);
LUMORA_AUDIO_API HSAMPLE BASS_SampleCreateDone(void);
LUMORA_AUDIO_API BOOL BASS_SampleFree(HSAMPLE handle);
LUMORA_AUDIO_API BOOL BASS_SampleGetInfo(HSAMPLE handle, BASS_SAMPLE* info);
LUMORA_AUDIO_API BOOL BASS_SampleSetInfo(HSAMPLE handle, const BASS_SAMPLE* info);
LUMORA_AUDIO_API HCHANNEL BASS_SampleGetChannel(HSAMPLE handle, BOOL onlynew);
LUMORA_AUDIO_API BOOL BASS_SampleStop(HSAMPLE handle);
LUMORA_AUDIO_API HSTREAM BASS_StreamCreate(DWORD freq, DWORD chans, DWORD flags, STREAMPROC* proc, void* user);
LUMORA_AUDIO_API HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length,
                                               DWORD flags);
LUMORA_AUDIO_API HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC* proc,
                                              void* user);
LUMORA_AUDIO_API HSTREAM BASS_StreamCreateFileUser(BOOL buffered, DWORD flags, const BASS_FILEPROCS* procs,
                                                   void* user);
LUMORA_AUDIO_API BOOL BASS_StreamFree(HSTREAM handle);
/* File size with BASS_FILEPOS_END; (QWORD)-1 when unknown. */
LUMORA_AUDIO_API QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode);
LUMORA_AUDIO_API const char* BASS_RecordGetDeviceDescription(DWORD device);
LUMORA_AUDIO_API BOOL BASS_RecordInit(int device);
LUMORA_AUDIO_API BOOL BASS_RecordSetDevice(DWORD device);
LUMORA_AUDIO_API DWORD BASS_RecordGetDevice(void);
LUMORA_AUDIO_API BOOL BASS_RecordFree(void);
LUMORA_AUDIO_API BOOL BASS_RecordGetInfo(BASS_RECORDINFO* info);
LUMORA_AUDIO_API const char* BASS_RecordGetInputName(int input);
LUMORA_AUDIO_API BOOL BASS_RecordSetInput(int input, DWORD setting);
LUMORA_AUDIO_API DWORD BASS_RecordGetInput(int input);
LUMORA_AUDIO_API HRECORD BASS_RecordStart(DWORD freq, DWORD chans, DWORD flags, RECORDPROC* proc, void* user);
LUMORA_AUDIO_API float BASS_ChannelBytes2Seconds(DWORD handle, QWORD pos);
LUMORA_AUDIO_API QWORD BASS_ChannelSeconds2Bytes(DWORD handle, float pos);
LUMORA_AUDIO_API DWORD BASS_ChannelGetDevice(DWORD handle);
LUMORA_AUDIO_API BOOL BASS_ChannelSetDevice(DWORD handle, DWORD device);
LUMORA_AUDIO_API DWORD BASS_ChannelIsActive(DWORD handle);
LUMORA_AUDIO_API BOOL BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info);
LUMORA_AUDIO_API const char* BASS_ChannelGetTags(DWORD handle, DWORD tags);
LUMORA_AUDIO_API DWORD BASS_ChannelSetFlags(DWORD handle, DWORD flags);
LUMORA_AUDIO_API BOOL BASS_ChannelPreBuf(DWORD handle, DWORD length);
LUMORA_AUDIO_API BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
LUMORA_AUDIO_API BOOL BASS_ChannelStop(DWORD handle);
LUMORA_AUDIO_API BOOL BASS_ChannelPause(DWORD handle);
/* freq: -1 unchanged, 0 original rate; volume: -1 unchanged, 0..the maximum volume; pan: -1 unchanged
 * (use -2 .. -100 for left), -100..100. */
LUMORA_AUDIO_API BOOL BASS_ChannelSetAttributes(DWORD handle, int freq, int volume, int pan);
LUMORA_AUDIO_API BOOL BASS_ChannelGetAttributes(DWORD handle, DWORD* freq, DWORD* volume, int* pan);
LUMORA_AUDIO_API BOOL BASS_ChannelSlideAttributes(DWORD handle, int freq, int volume, int pan, DWORD time);
LUMORA_AUDIO_API DWORD BASS_ChannelIsSliding(DWORD handle);
LUMORA_AUDIO_API BOOL BASS_ChannelSet3DAttributes(DWORD handle, int mode, float min, float max, int iangle,
                                                  int oangle, int outvol);
LUMORA_AUDIO_API BOOL BASS_ChannelGet3DAttributes(DWORD handle, DWORD* mode, float* min, float* max,
                                                  DWORD* iangle, DWORD* oangle, DWORD* outvol);
LUMORA_AUDIO_API BOOL BASS_ChannelSet3DPosition(DWORD handle, const BASS_3DVECTOR* pos,
                                                const BASS_3DVECTOR* orient, const BASS_3DVECTOR* vel);
LUMORA_AUDIO_API BOOL BASS_ChannelGet3DPosition(DWORD handle, BASS_3DVECTOR* pos, BASS_3DVECTOR* orient,
                                                BASS_3DVECTOR* vel);
/* Length in bytes; (QWORD)-1 on failure. */
LUMORA_AUDIO_API QWORD BASS_ChannelGetLength(DWORD handle);
LUMORA_AUDIO_API BOOL BASS_ChannelSetPosition(DWORD handle, QWORD pos);
LUMORA_AUDIO_API QWORD BASS_ChannelGetPosition(DWORD handle);
LUMORA_AUDIO_API DWORD BASS_ChannelGetLevel(DWORD handle);
/* Returns the bytes (samples) or the FFT values' bytes written; (DWORD)-1 on failure. */
LUMORA_AUDIO_API DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length);
LUMORA_AUDIO_API HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user);
LUMORA_AUDIO_API BOOL BASS_ChannelRemoveSync(DWORD handle, HSYNC sync);
/* Sample-processing procedures run in place on the channel's own sample format, higher priority first. */
LUMORA_AUDIO_API HDSP BASS_ChannelSetDSP(DWORD handle, DSPPROC* proc, void* user, int priority);
LUMORA_AUDIO_API BOOL BASS_ChannelRemoveDSP(DWORD handle, HDSP dsp);
LUMORA_AUDIO_API BOOL BASS_ChannelSetEAXMix(DWORD handle, float mix);
LUMORA_AUDIO_API BOOL BASS_ChannelGetEAXMix(DWORD handle, float* mix);
LUMORA_AUDIO_API BOOL BASS_ChannelSetLink(DWORD handle, DWORD chan);
LUMORA_AUDIO_API BOOL BASS_ChannelRemoveLink(DWORD handle, DWORD chan);
LUMORA_AUDIO_API HFX BASS_ChannelSetFX(DWORD handle, DWORD type, int priority);
LUMORA_AUDIO_API BOOL BASS_ChannelRemoveFX(DWORD handle, HFX fx);
LUMORA_AUDIO_API BOOL BASS_FXSetParameters(HFX handle, const void* par);
LUMORA_AUDIO_API BOOL BASS_FXGetParameters(HFX handle, void* par);

/* ---- WMA add-on (libbasswma.so), in binding order ---- */
LUMORA_AUDIO_API HSTREAM BASS_WMA_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length,
                                                   DWORD flags);
LUMORA_AUDIO_API HSTREAM BASS_WMA_StreamCreateFileAuth(BOOL mem, const void* file, QWORD offset, QWORD length,
                                                       DWORD flags, const char* user, const char* pass);
LUMORA_AUDIO_API HSTREAM BASS_WMA_StreamCreateFileUser(BOOL buffered, DWORD flags, const BASS_FILEPROCS* procs,
                                                       void* user);
LUMORA_AUDIO_API void* BASS_WMA_GetWMObject(DWORD handle);
LUMORA_AUDIO_API const DWORD* BASS_WMA_EncodeGetRates(DWORD freq, DWORD chans, DWORD flags);
LUMORA_AUDIO_API DWORD BASS_WMA_EncodeOpen(DWORD freq, DWORD chans, DWORD flags, DWORD bitrate, void* proc,
                                           void* user);
LUMORA_AUDIO_API DWORD BASS_WMA_EncodeOpenFile(DWORD freq, DWORD chans, DWORD flags, DWORD bitrate,
                                               const char* file);
LUMORA_AUDIO_API DWORD BASS_WMA_EncodeOpenNetwork(DWORD freq, DWORD chans, DWORD flags, DWORD bitrate, DWORD port,
                                                  DWORD clients);
LUMORA_AUDIO_API DWORD BASS_WMA_EncodeOpenNetworkMulti(DWORD freq, DWORD chans, DWORD flags, const DWORD* bitrates,
                                                       DWORD port, DWORD clients);
LUMORA_AUDIO_API DWORD BASS_WMA_EncodeOpenPublish(DWORD freq, DWORD chans, DWORD flags, DWORD bitrate,
                                                  const char* url, const char* user, const char* pass);
LUMORA_AUDIO_API DWORD BASS_WMA_EncodeOpenPublishMulti(DWORD freq, DWORD chans, DWORD flags,
                                                       const DWORD* bitrates, const char* url, const char* user,
                                                       const char* pass);
LUMORA_AUDIO_API DWORD BASS_WMA_EncodeGetPort(DWORD handle);
LUMORA_AUDIO_API BOOL BASS_WMA_EncodeSetNotify(DWORD handle, CLIENTCONNECTPROC* proc, void* user);
LUMORA_AUDIO_API DWORD BASS_WMA_EncodeGetClients(DWORD handle);
LUMORA_AUDIO_API BOOL BASS_WMA_EncodeSetTag(DWORD handle, const char* tag, const char* text, DWORD type);
LUMORA_AUDIO_API BOOL BASS_WMA_EncodeWrite(DWORD handle, const void* buffer, DWORD length);
LUMORA_AUDIO_API BOOL BASS_WMA_EncodeClose(DWORD handle);

/* ---- CD add-on (libbasscd.so), in binding order ----
 * Drives come from a table file named by LUMORA_CD_TABLE: one drive a line,
 * "LETTER|description|track1|track2|...", each track an audio file standing for the disc's track. */
LUMORA_AUDIO_API const char* BASS_CD_GetDriveDescription(DWORD drive);
LUMORA_AUDIO_API DWORD BASS_CD_GetDriveLetter(DWORD drive);
LUMORA_AUDIO_API BOOL BASS_CD_GetInfo(DWORD drive, BASS_CD_INFO* info);
LUMORA_AUDIO_API BOOL BASS_CD_Door(DWORD drive, DWORD action);
LUMORA_AUDIO_API BOOL BASS_CD_DoorIsOpen(DWORD drive);
LUMORA_AUDIO_API BOOL BASS_CD_DoorIsLocked(DWORD drive);
LUMORA_AUDIO_API BOOL BASS_CD_IsReady(DWORD drive);
LUMORA_AUDIO_API DWORD BASS_CD_GetTracks(DWORD drive);
/* Track length in bytes of 16-bit stereo 44.1 kHz audio; (QWORD)-1 on failure. */
LUMORA_AUDIO_API QWORD BASS_CD_GetTrackLength(DWORD drive, DWORD track);
LUMORA_AUDIO_API DWORD BASS_CD_GetTrackPregap(DWORD drive, DWORD track);
LUMORA_AUDIO_API const char* BASS_CD_GetID(DWORD drive, DWORD id);
LUMORA_AUDIO_API DWORD BASS_CD_GetSpeed(DWORD drive);
LUMORA_AUDIO_API BOOL BASS_CD_SetSpeed(DWORD drive, DWORD speed);
LUMORA_AUDIO_API BOOL BASS_CD_Release(DWORD drive);
LUMORA_AUDIO_API HSTREAM BASS_CD_StreamCreate(DWORD drive, DWORD track, DWORD flags);
LUMORA_AUDIO_API HSTREAM BASS_CD_StreamCreateFile(const char* file, DWORD flags);
LUMORA_AUDIO_API DWORD BASS_CD_StreamGetTrack(HSTREAM handle);
LUMORA_AUDIO_API BOOL BASS_CD_StreamSetTrack(HSTREAM handle, DWORD track);
LUMORA_AUDIO_API BOOL BASS_CD_Analog_Play(DWORD drive, DWORD track, DWORD pos);
LUMORA_AUDIO_API DWORD BASS_CD_Analog_PlayFile(const char* file, DWORD pos);
LUMORA_AUDIO_API BOOL BASS_CD_Analog_Stop(DWORD drive);
LUMORA_AUDIO_API DWORD BASS_CD_Analog_IsActive(DWORD drive);
LUMORA_AUDIO_API DWORD BASS_CD_Analog_GetPosition(DWORD drive);

/* ---- Internal bridge between the core and its add-ons (not bound by the player) ---- */
LUMORA_AUDIO_API void LumoraAudio_SetError(int code);
/* A file stream whose channel type and stream-file-name report are the add-on's. */
LUMORA_AUDIO_API HSTREAM LumoraAudio_StreamCreateFileTyped(const char* file, DWORD flags, DWORD ctype);
/* A process-wide output gain per side (0..1, read once per mixing period) that the program's wave-out
 * mixer line controls; nil restores unity gain. */
typedef void(LUMORA_GAINPROC)(float* left, float* right);
LUMORA_AUDIO_API void LumoraAudio_SetOutputGainProc(LUMORA_GAINPROC* proc);
/* Why a sound output could not be opened, handed to the program, which tells the user in its own
 * words (once, however often it tries again); nil writes it to standard error. */
typedef void(LUMORA_MESSAGEPROC)(const char* text);
LUMORA_AUDIO_API void LumoraAudio_SetMessageProc(LUMORA_MESSAGEPROC* proc);

#ifdef __cplusplus
}
#endif
