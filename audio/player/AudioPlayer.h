#pragma once
// The audio player component: plays one source at a time (a sound file, a CD track, a tracker
// module, a file or radio stream on the net, or a file an input plug-in plays) through our audio
// library, and reports the end of play, spectrum data and mode changes as events on the main thread.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/player/BassLoader.h"
#include "audio/plugins/PluginHost.h"
#include "audio/player/SoundEffects.h"
#include "framework/Classes.h"
#include "framework/Forms.h"

class QWidget;

namespace lumora {

class TMPEGaudio;
class TOggVorbis;
class TWMAfile;
class TWAVfile;
class TPluginConfigForm;
class TVisFeed;

enum TPlayerMode { plmStandby, plmReady, plmStopped, plmPlaying, plmPaused };

// Messages of the player's hidden window.
constexpr uint32_t WM_StreamEnd = WM_USER + 107;  // 1131
constexpr uint32_t WM_NewFFTData = WM_USER + 108; // 1132
constexpr uint32_t WM_PluginFirst = WM_USER + 109; // 1133
constexpr uint32_t WM_GetMeta = WM_USER + 110;    // 1134
constexpr uint32_t WM_Downloaded = WM_USER + 111; // 1135
constexpr uint32_t WM_QUERYENDSESSION = 0x0011;

struct TStreamInfo {
    std::string FileName;
    int64_t FileSize = 0;
    int SampleRate = 0;
    int BitRate = 0;
    int BitsPerSample = 0;
    int64_t Duration = 0; // ms
    int Channels = 0;
    std::string Title, Artist, Album, Year, Genre;
    int Track = 0;
    std::string Comment;
};

// Kinds of the open source.
enum : uint8_t { ckNone = 0, ckStream = 1, ckCD = 2, ckWMA = 3, ckMusic = 4, ckPlugin = 5 };

using TNotifyNewFFTDataEvent = std::function<void(TObject* sender, const TBandOut& bandOut)>;
using TNotifyPluginEvent = std::function<void(TObject* sender, PChannelInfo channelInfo)>;
using TNotifyNetEvent = std::function<void(TObject* sender, const std::string& content)>;
using TNotifyModeChangeEvent = std::function<void(TObject* sender, TPlayerMode oldMode, TPlayerMode newMode)>;
using TPlayEndEvent = std::function<void(TObject* sender)>;

class TAudioPlayer : public TObject {
public:
    explicit TAudioPlayer(TObject* owner = nullptr);
    ~TAudioPlayer() override;
    TAudioPlayer(const TAudioPlayer&) = delete;
    TAudioPlayer& operator=(const TAudioPlayer&) = delete;

    std::string Version() const { return "1.9"; }
    const std::string& BASSDLLVer() const { return bassDllVer_; }
    bool DX8EffectReady() const { return dx8EffectReady_; }
    bool SingleChannel() const { return singleInEffect_; }
    void SetSingleChannel(bool single);
    bool PluginFirst() const { return pluginFirst_; }
    void SetPluginFirst(bool first) { pluginFirst_ = first; }
    uint16_t VisScale() const { return visScale_; }
    void SetVisScale(uint16_t scale);
    bool SyncVisWindow() const { return syncVisWindow_; }
    void SetSyncVisWindow(bool sync);

    TNotifyNewFFTDataEvent OnNewFFTData;
    TNotifyPluginEvent OnPluginStartPlay;
    TNotifyPluginEvent OnGetChannelInfo;
    TNotifyNetEvent OnGetMeta;
    TNotifyNetEvent OnDownloaded;
    TPlayEndEvent OnPlayEnd;
    TNotifyModeChangeEvent OnModeChange;

    bool Open(const std::string& name);
    void Play();
    void Pause();
    void Resume();
    void Stop();
    void Close();
    int64_t GetPosition();
    void SetPosition(int64_t ms);
    int64_t GetPlayLength();
    bool Seekable();
    void SetVolume(int volume);
    int Volume() const { return volume_; }
    std::string SupportedTypes() const;

    // Sound effects and spectrum.
    void SetSoundEffects(uint8_t flags);
    void SetEQGains(const std::array<float, kEqBands>& gains);
    void SetEchoLevel(int level);
    void SetReverbLevel(int level);
    uint8_t SoundEffects() const { return effectFlags_; }

    TPlayerMode Mode() const { return mode_; }
    bool Ready() const { return bassReady_; }
    // The library is there but no sound output could be opened (told once on standard error; the
    // owner says what cannot be played).
    bool NoSoundOutput() const { return noSoundOutput_; }
    uint8_t ChannelKind() const { return kind_; }
    const TStreamInfo& StreamInfo() const { return info_; }
    const std::string& DecoderName() const { return decoderName_; }
    const std::string& FileName() const { return fileName_; }
    bool IsRadioStream() const { return radio_; }
    bool IsDownloadStream() const { return download_; }
    bool Downloaded() const { return downloaded_; }
    bool CDReady() const { return cdReady_; }
    bool WMAReady() const { return wmaReady_; }
    const std::vector<std::string>& CDDrives() const { return cdDrives_; }
    HWND Handle() const;
    DWORD PlayChannel() const { return play_; }
    DWORD SourceChannel() const { return source_; }
    const TBandOut& BandOut() const { return bands_; }
    // The spectrum tick (normally run by the player's 25 ms timer).
    void SpectrumTick();
    // The feed of an external visualisation host; null when it could not be set up.
    TVisFeed* VisFeed() const;
    // Shows the information and tag form that fits a file (MPEG audio, Ogg Vorbis or WMA); for the
    // open file the form gets the player's stream information. False when no form fits the file.
    bool ShowInfoForm(QWidget* owner, const std::string& fileName);

private:
    void WndProc(TMessage& msg);
    void SetMode(TPlayerMode mode);
    void ShowError(const std::string& text, bool withLibraryCode);
    bool ReadInfo(const std::string& name, int& pluginIndex, int& support);
    void SelectPluginSlot(int index);
    void ClearSource();
    void ApplyEffects();
    void ForgetEffectHandles();
    void ApplyEqBand(int band);
    void ApplyEcho();
    void ApplyReverb();
    void ReadNetTags();
    void EnableSpectrum();
    bool WaitWhilePlaying();
    void HandleDownloaded();
    // Visualisation feed hooks.
    void VisTrackInfo();
    void VisPlayChannel(int sampleRate, int channels);

    TObject* owner_;
    std::unique_ptr<TMessageTarget> window_;
    TTimer timer_;
    std::string bassDllVer_;
    bool dx8EffectReady_ = false;
    bool singleRequest_ = true;
    bool singleInEffect_ = true;
    bool pluginFirst_ = false;
    uint16_t visScale_ = 512;
    bool syncVisWindow_ = false;

    bool coreLoaded_ = false, bassReady_ = false, hostReady_ = false, wmaReady_ = false, cdReady_ = false;
    bool noSoundOutput_ = false;
    bool ownsHost_ = false; // this player started the process's plug-in host
    TPlayerMode mode_ = plmStandby;
    uint8_t kind_ = ckNone;
    DWORD source_ = 0, play_ = 0;
    bool endSyncSet_ = false;
    std::string fileName_;
    TStreamInfo info_;
    std::string decoderName_;
    bool download_ = false, radio_ = false, downloaded_ = false;
    const char* icyTags_ = nullptr;
    const char* httpTags_ = nullptr;
    int pluginIndex_ = -1;
    TInModule* plugin_ = nullptr;
    bool busy_ = false, outputStarted_ = false, stoppedWhilePaused_ = false, pluginSelected_ = false;
    int volume_ = 255;
    uint8_t effectFlags_ = 0;
    std::array<float, kEqBands> eqGains_{};
    std::array<DWORD, kEqBands> eqHandles_{};
    int echoLevel_ = 16, reverbLevel_ = 16;
    DWORD echoHandle_ = 0, reverbHandle_ = 0, flangerHandle_ = 0;
    int playBytesPerSample_ = 2;
    TBandOut bands_{};
    std::vector<std::string> cdDrives_;

    std::unique_ptr<TMPEGaudio> mpeg_;
    std::unique_ptr<TOggVorbis> ogg_;
    std::unique_ptr<TWMAfile> wma_;
    std::unique_ptr<TWAVfile> wav_;
    std::unique_ptr<TPluginConfigForm> pluginForm_;
    std::unique_ptr<TVisFeed> vis_;
};

// ---- Parsing the player does on what the library hands it (bounded, safe on bad input) ----

// Bytes of a tag list of zero-terminated strings ended by an empty one, up to (not counting) the
// empty one; at most `limit` when its end is not found there.
size_t TagListLength(const char* list, size_t limit);
// The items of such a list.
std::vector<std::string> TagListItems(const char* list, size_t limit);
// The title in ICY metadata ("StreamTitle='...';"), or nothing when there is none.
bool StreamTitleOf(const std::string& meta, std::string& title);
// The value after the first item that contains `key` (compared without regard to case).
bool TagValue(const std::vector<std::string>& items, const std::string& key, std::string& value);
// The bit rate of an "icy-br:" header list item, 0 when it is not a number.
int IcyBitRate(const std::vector<std::string>& items);
// Total size of an ID3v2 block from its 10-byte header, 0 when it is none.
int64_t Id3v2BlockSize(const uint8_t* head, size_t available);
// A module's title from the first bytes of its file (by upper-case extension), trimmed.
std::string ModuleTitle(const std::string& ext, const uint8_t* data, size_t size);

} // namespace lumora
