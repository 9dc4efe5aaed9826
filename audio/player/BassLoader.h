#pragma once
// Run-time loading of our audio library and its two add-ons from the program's folder: every entry
// point is bound by name into a function variable of the same name, and a library counts as loaded
// only when all of its entries were found.

#include <string>

#include "audiolib/AudioLib.h"
#include "platform/system/Modules.h"

namespace lumora {

// The entry points of each library, in binding order.
#define LUMORA_BASS_CORE_ENTRIES(X) \
    X(BASS_SetConfig) X(BASS_GetConfig) X(BASS_GetVersion) X(BASS_GetDeviceDescription) X(BASS_ErrorGetCode) \
    X(BASS_Init) X(BASS_SetDevice) X(BASS_GetDevice) X(BASS_Free) X(BASS_GetDSoundObject) X(BASS_GetInfo) \
    X(BASS_Update) X(BASS_GetCPU) X(BASS_Start) X(BASS_Stop) X(BASS_Pause) X(BASS_SetVolume) X(BASS_GetVolume) \
    X(BASS_PluginLoad) X(BASS_PluginFree) X(BASS_PluginGetInfo) X(BASS_Set3DFactors) X(BASS_Get3DFactors) \
    X(BASS_Set3DPosition) X(BASS_Get3DPosition) X(BASS_Apply3D) X(BASS_SetEAXParameters) X(BASS_GetEAXParameters) \
    X(BASS_MusicLoad) X(BASS_MusicFree) X(BASS_MusicSetAttribute) X(BASS_MusicGetAttribute) X(BASS_MusicGetOrders) \
    X(BASS_MusicGetOrderPosition) X(BASS_SampleLoad) X(BASS_SampleCreate) X(BASS_SampleCreateDone) \
    X(BASS_SampleFree) X(BASS_SampleGetInfo) X(BASS_SampleSetInfo) X(BASS_SampleGetChannel) X(BASS_SampleStop) \
    X(BASS_StreamCreate) X(BASS_StreamCreateFile) X(BASS_StreamCreateURL) X(BASS_StreamCreateFileUser) \
    X(BASS_StreamFree) X(BASS_StreamGetFilePosition) X(BASS_RecordGetDeviceDescription) X(BASS_RecordInit) \
    X(BASS_RecordSetDevice) X(BASS_RecordGetDevice) X(BASS_RecordFree) X(BASS_RecordGetInfo) \
    X(BASS_RecordGetInputName) X(BASS_RecordSetInput) X(BASS_RecordGetInput) X(BASS_RecordStart) \
    X(BASS_ChannelBytes2Seconds) X(BASS_ChannelSeconds2Bytes) X(BASS_ChannelGetDevice) X(BASS_ChannelSetDevice) \
    X(BASS_ChannelIsActive) X(BASS_ChannelGetInfo) X(BASS_ChannelGetTags) X(BASS_ChannelSetFlags) \
    X(BASS_ChannelPreBuf) X(BASS_ChannelPlay) X(BASS_ChannelStop) X(BASS_ChannelPause) X(BASS_ChannelSetAttributes) \
    X(BASS_ChannelGetAttributes) X(BASS_ChannelSlideAttributes) X(BASS_ChannelIsSliding) \
    X(BASS_ChannelSet3DAttributes) X(BASS_ChannelGet3DAttributes) X(BASS_ChannelSet3DPosition) \
    X(BASS_ChannelGet3DPosition) X(BASS_ChannelGetLength) X(BASS_ChannelSetPosition) X(BASS_ChannelGetPosition) \
    X(BASS_ChannelGetLevel) X(BASS_ChannelGetData) X(BASS_ChannelSetSync) X(BASS_ChannelRemoveSync) \
    X(BASS_ChannelSetDSP) X(BASS_ChannelRemoveDSP) X(BASS_ChannelSetEAXMix) X(BASS_ChannelGetEAXMix) \
    X(BASS_ChannelSetLink) X(BASS_ChannelRemoveLink) X(BASS_ChannelSetFX) X(BASS_ChannelRemoveFX) \
    X(BASS_FXSetParameters) X(BASS_FXGetParameters)

#define LUMORA_BASS_WMA_ENTRIES(X) \
    X(BASS_WMA_StreamCreateFile) X(BASS_WMA_StreamCreateFileAuth) X(BASS_WMA_StreamCreateFileUser) \
    X(BASS_WMA_GetWMObject) X(BASS_WMA_EncodeGetRates) X(BASS_WMA_EncodeOpen) X(BASS_WMA_EncodeOpenFile) \
    X(BASS_WMA_EncodeOpenNetwork) X(BASS_WMA_EncodeOpenNetworkMulti) X(BASS_WMA_EncodeOpenPublish) \
    X(BASS_WMA_EncodeOpenPublishMulti) X(BASS_WMA_EncodeGetPort) X(BASS_WMA_EncodeSetNotify) \
    X(BASS_WMA_EncodeGetClients) X(BASS_WMA_EncodeSetTag) X(BASS_WMA_EncodeWrite) X(BASS_WMA_EncodeClose)

#define LUMORA_BASS_CD_ENTRIES(X) \
    X(BASS_CD_GetDriveDescription) X(BASS_CD_GetDriveLetter) X(BASS_CD_GetInfo) X(BASS_CD_Door) \
    X(BASS_CD_DoorIsOpen) X(BASS_CD_DoorIsLocked) X(BASS_CD_IsReady) X(BASS_CD_GetTracks) X(BASS_CD_GetTrackLength) \
    X(BASS_CD_GetTrackPregap) X(BASS_CD_GetID) X(BASS_CD_GetSpeed) X(BASS_CD_SetSpeed) X(BASS_CD_Release) \
    X(BASS_CD_StreamCreate) X(BASS_CD_StreamCreateFile) X(BASS_CD_StreamGetTrack) X(BASS_CD_StreamSetTrack) \
    X(BASS_CD_Analog_Play) X(BASS_CD_Analog_PlayFile) X(BASS_CD_Analog_Stop) X(BASS_CD_Analog_IsActive) \
    X(BASS_CD_Analog_GetPosition)

// One function variable per entry point, nil until its library is loaded. Inside namespace lumora
// these names hide the library's own declarations, so every call goes through the variables.
#define LUMORA_DECLARE_BASS_ENTRY(name) extern decltype(&::name) name;
LUMORA_BASS_CORE_ENTRIES(LUMORA_DECLARE_BASS_ENTRY)
LUMORA_BASS_WMA_ENTRIES(LUMORA_DECLARE_BASS_ENTRY)
LUMORA_BASS_CD_ENTRIES(LUMORA_DECLARE_BASS_ENTRY)
#undef LUMORA_DECLARE_BASS_ENTRY

// File names of the library and its add-ons in the program's folder.
inline constexpr const char* kBassLibraryFile = "libbass.so";
inline constexpr const char* kBassWmaLibraryFile = "libbasswma.so";
inline constexpr const char* kBassCdLibraryFile = "libbasscd.so";

// Each load takes the library's full path and returns whether it is loaded (at once when it already
// is). Every successful load counts one user and every unload takes one away; the last unload frees
// the library. A load that fails, and the last unload, leave the library's function variables nil.
bool LoadBassLibrary(const std::string& path);
void UnloadBassLibrary(); // the last one calls BASS_Free first
bool LoadBassWmaLibrary(const std::string& path);
void UnloadBassWmaLibrary();
bool LoadBassCdLibrary(const std::string& path);
void UnloadBassCdLibrary();
bool BassLibraryLoaded();
bool BassWmaLibraryLoaded();
bool BassCdLibraryLoaded();


} // namespace lumora
