#include "audio/player/AudioPlayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

#include "audio/tags/ID3v1.h"
#include "audio/tags/MPEGaudio.h"
#include "audio/tags/OggVorbis.h"
#include "audio/plugins/PluginManagerDialog.h"
#include "audio/tagforms/SoundInfoForm.h"
#include "audio/visfeed/VisDataThread.h"
#include "audio/tags/WAVfile.h"
#include "audio/tags/WMAfile.h"
#include "framework/SysUtils.h"
#include "platform/system/Clock.h"
#include "platform/system/System.h"

namespace lumora {

namespace {

constexpr const char* kBassTypes = "*.wav;*.mp1;*.mp2;*.mp3;*.ogg;*.aiff;";
constexpr const char* kModuleTypes = "*.MO3;*.IT;*.XM;*.S3M;*.MTM;*.MOD;*.UMX;";
constexpr DWORD kDecodeFlag = BASS_STREAM_DECODE;
constexpr DWORD kMusicPlayFlags = 0x28400;
constexpr DWORD kMusicLengthFlags = 0x20000;
// Longest a tag list from the library is walked (they are a few kilobytes at most).
constexpr size_t kTagListLimit = 1 << 20;
// Waits for the end of play and for a plug-in seek, in steps; bounded so a stuck channel or plug-in
// cannot hold the main thread for ever.
constexpr int kEndWaitSteps = 200;
constexpr uint32_t kEndWaitStepMs = 50;
constexpr int kSeekWaitSteps = 51;
constexpr uint32_t kSeekWaitStepMs = 40;

bool IsModuleExt(const std::string& upperExt) {
    static const char* kinds[] = {".MO3", ".IT", ".XM", ".S3M", ".MTM", ".MOD", ".UMX"};
    return std::any_of(std::begin(kinds), std::end(kinds), [&](const char* k) { return upperExt == k; });
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Whether `item` occurs in the pattern list (an empty item never does).
bool InList(const std::string& list, const std::string& item) {
    return !item.empty() && list.find(item) != std::string::npos;
}

int64_t RoundMs(double seconds) { return static_cast<int64_t>(std::llround(seconds * 1000.0)); }

void* WindowUser(HWND window) { return reinterpret_cast<void*>(window); }
HWND UserWindow(void* user) { return reinterpret_cast<HWND>(user); }

// ---- Library callbacks: they run on the library's threads and only post to the hidden window ----

void EndSyncProc(HSYNC, DWORD channel, DWORD, void* user) { PostMessage(UserWindow(user), WM_StreamEnd, channel, 0); }

void DownloadSyncProc(HSYNC, DWORD channel, DWORD, void* user) {
    PostMessage(UserWindow(user), WM_Downloaded, channel, 0);
}

void MetaSyncProc(HSYNC, DWORD channel, DWORD, void* user) {
    const char* meta = BASS_ChannelGetTags ? BASS_ChannelGetTags(channel, BASS_TAG_META) : nullptr;
    if (!meta) return;
    // ICY metadata is one string; the metadata of an Ogg stream is a list of comments.
    std::string title;
    std::string text(meta, strnlen(meta, kTagListLimit));
    if (!StreamTitleOf(text, title)) {
        std::string value;
        if (!TagValue(TagListItems(meta, kTagListLimit), "TITLE=", value)) return;
        title = value;
    }
    if (title.size() > 255) title.resize(255);
    // The message carries its own copy of the title; whoever ends up holding it frees it.
    auto* copy = new std::string(std::move(title));
    if (!PostMessage(UserWindow(user), WM_GetMeta, channel, reinterpret_cast<intptr_t>(copy))) delete copy;
}

} // namespace

// ---- Parsing helpers ----

size_t TagListLength(const char* list, size_t limit) {
    if (!list) return 0;
    // The list ends at its empty string: a zero at the start or right after another zero.
    for (size_t i = 0; i < limit; ++i)
        if (list[i] == 0 && (i == 0 || list[i - 1] == 0)) return i;
    return limit;
}

std::vector<std::string> TagListItems(const char* list, size_t limit) {
    std::vector<std::string> items;
    if (!list) return items;
    size_t pos = 0;
    while (pos < limit && list[pos] != 0) {
        size_t end = pos;
        while (end < limit && list[end] != 0) ++end;
        items.emplace_back(list + pos, end - pos);
        pos = end + 1;
    }
    return items;
}

bool StreamTitleOf(const std::string& meta, std::string& title) {
    size_t key = meta.find("StreamTitle=");
    if (key == std::string::npos) return false;
    size_t start = key + 12; // after the "="
    if (start < meta.size() && (meta[start] == '\'' || meta[start] == '"')) ++start;
    size_t semi = meta.find(';', start);
    size_t end = semi == std::string::npos ? meta.size() : semi;
    if (end > start && (meta[end - 1] == '\'' || meta[end - 1] == '"')) --end;
    title = end > start ? meta.substr(start, end - start) : std::string();
    return true;
}

bool TagValue(const std::vector<std::string>& items, const std::string& key, std::string& value) {
    std::string upperKey = UpperCase(key);
    for (const auto& item : items) {
        size_t at = UpperCase(item).find(upperKey);
        if (at != std::string::npos) {
            value = item.substr(at + key.size());
            return true;
        }
    }
    return false;
}

int IcyBitRate(const std::vector<std::string>& items) {
    std::string value;
    if (!TagValue(items, "icy-br:", value)) return 0;
    value = Trim(value);
    int rate = 0;
    size_t i = 0;
    while (i < value.size() && value[i] >= '0' && value[i] <= '9' && rate < 10000000) rate = rate * 10 + (value[i++] - '0');
    return i > 0 ? rate : 0;
}

int64_t Id3v2BlockSize(const uint8_t* head, size_t available) {
    if (!head || available < 10 || std::memcmp(head, "ID3", 3) != 0) return 0;
    int64_t body = 0;
    for (int i = 6; i < 10; ++i) {
        if (head[i] & 0x80) return 0;
        body = body << 7 | head[i];
    }
    return 10 + body + ((head[5] & 0x10) ? 10 : 0);
}

std::string ModuleTitle(const std::string& ext, const uint8_t* data, size_t size) {
    size_t offset = 0, length = 0;
    if (ext == ".MOD") {
        length = 20;
    } else if (ext == ".XM") {
        offset = 17;
        length = 20;
    } else if (ext == ".IT" || ext == ".MTM") {
        offset = 4;
        length = 20;
    } else if (ext == ".S3M") {
        length = 28;
    } else {
        return "";
    }
    if (offset >= size) return "";
    length = std::min(length, size - offset);
    std::string title(reinterpret_cast<const char*>(data) + offset, length);
    size_t zero = title.find('\0');
    if (zero != std::string::npos) title.resize(zero);
    return Trim(title);
}

// ---- The component ----

TAudioPlayer::TAudioPlayer(TObject* owner) : owner_(owner) {
    window_ = std::make_unique<TMessageTarget>([this](TMessage& m) { WndProc(m); });
    timer_.SetEnabled(false);
    timer_.SetInterval(25);
    timer_.OnTimer = [this] { SpectrumTick(); };
    eqGains_.fill(0.f);
    eqHandles_.fill(0);

    const std::string folder = IncludeTrailingPathDelimiter(ProgramFolder());
    coreLoaded_ = LoadBassLibrary(folder + kBassLibraryFile);
    if (coreLoaded_) {
        DWORD version = BASS_GetVersion();
        if ((version >> 16) != 0x0203 || (version & 0xFFFF) < 1) {
            ShowError("BASS version is not 2.3.0.1 !", false);
        } else {
            BASS_SetConfig(BASS_CONFIG_MAXVOL, 255);
            BASS_SetConfig(BASS_CONFIG_CD_FREEOLD, 1);
            // Another player of this process may already run the device; the library is shared, and
            // so are its volumes, which stay as that player set them.
            const bool started = BASS_Init(-1, 44100, 0, nullptr, nullptr) != 0;
            const int error = started ? BASS_OK : BASS_ErrorGetCode();
            if (error == BASS_ERROR_DEVICE || error == BASS_ERROR_CREATE) {
                // A machine without a sound card (or an output that cannot be made): the library has
                // said why, once, and the owner tells what cannot be played; a box from here on top
                // of that, at every player made, would say it again in the library's words.
                noSoundOutput_ = true;
            } else if (!started && error != BASS_ERROR_ALREADY) {
                ShowError("Can't initialize device", true);
            } else {
                bassReady_ = true;
                BASS_INFO info{};
                BASS_GetInfo(&info);
                dx8EffectReady_ = info.dsver >= 8;
                if (!dx8EffectReady_)
                    MessageBox("DirectX Ver 8 or higher is not installed.\r\nSound effects except flanger are disabled.",
                               "Warning", TMsgIcon::Warning);
                if (started) {
                    BASS_SetConfig(BASS_CONFIG_GVOL_MUSIC, 255);
                    BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, 255);
                }
                BASS_SetConfig(BASS_CONFIG_BUFFER, 2000);
                bassDllVer_ = std::to_string(version & 0xFFFF) + "." + std::to_string(version >> 16);
                // The plug-in host and its ring are one per process and stay with the player that
                // started them; a later player plays single-channel without plug-ins.
                if (PluginCtrlStarted()) {
                    hostReady_ = false;
                } else if (!(hostReady_ = InitPluginCtrl(window_->Handle()))) {
                    QuitPluginCtrl();
                    ShowError("Failed to get buffer.\n - Cannot run Winamp input plug-ins.\n - Cannot support dual "
                              "channel mode.",
                              false);
                } else {
                    ownsHost_ = true;
                    singleRequest_ = false;
                }
                wmaReady_ = LoadBassWmaLibrary(folder + kBassWmaLibraryFile);
                cdReady_ = LoadBassCdLibrary(folder + kBassCdLibraryFile);
                if (cdReady_) {
                    for (DWORD i = 0; i < 8; ++i) {
                        const char* desc = BASS_CD_GetDriveDescription(i);
                        if (!desc) break;
                        char letter = static_cast<char>('A' + static_cast<int>(BASS_CD_GetDriveLetter(i) % 26));
                        std::string entry = std::string(1, letter) + ": " + std::string(desc).substr(0, 250);
                        cdDrives_.push_back(entry.substr(0, 255));
                    }
                }
            }
        }
    }
    mpeg_ = std::make_unique<TMPEGaudio>();
    ogg_ = std::make_unique<TOggVorbis>();
    wma_ = std::make_unique<TWMAfile>();
    wav_ = std::make_unique<TWAVfile>();
    pluginForm_ = std::make_unique<TPluginConfigForm>();
    pluginForm_->SetPlayerWindow(window_->Handle());
    // The visualisation feed, suspended until a host starts it; commands from the host reach
    // the hidden window like any other message.
    vis_ = std::make_unique<TVisFeed>();
    if (vis_->Ready()) {
        vis_->Thread().SetScale(visScale_);
        vis_->Deliver = [this](TMessage& m) { SendMessage(window_->Handle(), m.Msg, m.WParam, m.LParam); };
    }
}

TAudioPlayer::~TAudioPlayer() {
    if (vis_) vis_->Shutdown();
    timer_.SetEnabled(false);
    if (bassReady_) {
        if (kind_ == ckPlugin && plugin_) {
            if (mode_ == plmPlaying || mode_ == plmPaused) {
                if (plugin_->Stop) plugin_->Stop();
            }
        } else if (play_) {
            BASS_ChannelStop(play_);
        }
        if (!singleInEffect_) FreeDualChannel();
        ClearSource();
        if (ownsHost_) QuitPluginCtrl();
        BASS_PluginFree(0);
    }
    vis_.reset();
    pluginForm_.reset();
    // The hidden window goes before the library, so no late callback finds a live target.
    window_.reset();
    if (coreLoaded_) UnloadBassLibrary();
    if (wmaReady_) UnloadBassWmaLibrary();
    if (cdReady_) UnloadBassCdLibrary();
}

HWND TAudioPlayer::Handle() const { return window_->Handle(); }

void TAudioPlayer::ShowError(const std::string& text, bool withLibraryCode) {
    std::string message = text;
    if (withLibraryCode && BASS_ErrorGetCode)
        message += "\r\n(error code: " + std::to_string(BASS_ErrorGetCode()) + ")";
    MessageBox(message, "Error", TMsgIcon::Error);
}

void TAudioPlayer::SetSingleChannel(bool single) {
    if (!single && !hostReady_) {
        ShowError("Cannot support dual channel mode. (Failed to get buffer)", false);
        return;
    }
    singleRequest_ = single;
}

void TAudioPlayer::SetVisScale(uint16_t scale) {
    if (scale < 256 || scale > 1024) return;
    visScale_ = scale;
    if (vis_ && vis_->Ready()) vis_->Thread().SetScale(scale);
}

void TAudioPlayer::SetSyncVisWindow(bool sync) {
    if (sync == syncVisWindow_) return;
    syncVisWindow_ = sync;
    if (vis_) vis_->SyncFlag(sync);
}

TVisFeed* TAudioPlayer::VisFeed() const { return vis_.get(); }

bool TAudioPlayer::ShowInfoForm(QWidget* owner, const std::string& fileName) {
    bool isOpen = !fileName_.empty() && fileName == fileName_;
    return ShowSoundInfoForm(owner, fileName, isOpen ? &info_ : nullptr);
}

void TAudioPlayer::VisTrackInfo() {
    if (vis_) vis_->TrackInfo(info_.SampleRate, info_.BitRate, info_.Channels, info_.Duration, info_.Title);
}

void TAudioPlayer::VisPlayChannel(int sampleRate, int channels) {
    if (vis_) vis_->Thread().SetPlayChannel(play_, sampleRate, channels);
}

void TAudioPlayer::SetMode(TPlayerMode mode) {
    TPlayerMode old = mode_;
    mode_ = mode;
    if (mode == plmStandby) {
        fileName_.clear();
        info_ = TStreamInfo();
    }
    if (ownsHost_) SetPluginPlayerMode(mode);
    if (vis_) vis_->ModeChanged(mode, mode == plmPlaying);
    if (OnModeChange) OnModeChange(this, old, mode);
}

std::string TAudioPlayer::SupportedTypes() const {
    if (!bassReady_) return "";
    std::string types = std::string(kBassTypes) + kModuleTypes;
    if (cdReady_) types += "*.cda;";
    if (wmaReady_) types += "*.wma;";
    return types;
}

bool TAudioPlayer::ReadInfo(const std::string& name, int& pluginIndex, int& support) {
    info_ = TStreamInfo();
    info_.FileName = name;
    support = 3;
    pluginIndex = -1;
    decoderName_.clear();
    std::string ext = UpperCase(ExtractFileExt(name));
    if (ext.size() < 3 || ext.size() > 5) return false;
    bool valid = false;
    try {
        if (ext == ".WAV") {
            if (wav_->LoadFromFile(name) && wav_->Valid()) {
                info_.FileSize = wav_->FileSize();
                info_.SampleRate = static_cast<int>(wav_->SampleRate());
                info_.BitsPerSample = wav_->BitsPerSample();
                info_.Channels = wav_->ChannelModeID();
                info_.BitRate = info_.SampleRate * info_.BitsPerSample / 1000;
                info_.Duration = RoundMs(wav_->Duration());
                valid = true;
            }
        } else if (ext == ".MP1" || ext == ".MP2" || ext == ".MP3") {
            if (mpeg_->LoadFromFile(name) && mpeg_->IsValid()) {
                info_.FileSize = mpeg_->FileLength();
                info_.SampleRate = mpeg_->SampleRate();
                info_.BitRate = mpeg_->BitRate();
                info_.Channels = mpeg_->ChannelModeText() == "Mono" ? 1 : 2;
                info_.Duration = RoundMs(mpeg_->Duration());
                TID3v1& v1 = mpeg_->ID3v1();
                TID3v2& v2 = mpeg_->ID3v2();
                if (v1.Exists()) {
                    info_.Title = v1.Title();
                    info_.Artist = v1.Artist();
                    info_.Album = v1.Album();
                    info_.Year = v1.Year();
                    info_.Comment = v1.Comment();
                    info_.Track = v1.Track();
                    info_.Genre = v1.GenreName();
                }
                // An ID3v2 tag's fields win over the ID3v1 ones.
                if (v2.Exists()) {
                    if (!v2.Title().empty()) info_.Title = v2.Title();
                    if (!v2.Artist().empty()) info_.Artist = v2.Artist();
                    if (!v2.Album().empty()) info_.Album = v2.Album();
                    if (!v2.Year().empty()) info_.Year = v2.Year();
                    if (!v2.Comment().empty()) info_.Comment = v2.Comment();
                    if (v2.Track()) info_.Track = v2.Track();
                    if (!v2.Genre().empty()) info_.Genre = v2.Genre();
                }
                valid = true;
            }
        } else if (ext == ".OGG") {
            if (ogg_->LoadFromFile(name) && ogg_->IsValid()) {
                info_.FileSize = ogg_->FileSize();
                info_.SampleRate = static_cast<int>(ogg_->SampleRate());
                info_.BitRate = ogg_->BitRate();
                info_.Channels = ogg_->ChannelModeID();
                info_.Duration = RoundMs(ogg_->Duration());
                info_.Title = ogg_->Title();
                info_.Artist = ogg_->Artist();
                info_.Album = ogg_->Album();
                info_.Year = ogg_->Date();
                info_.Genre = ogg_->Genre();
                info_.Comment = ogg_->Comment();
                info_.Track = ogg_->Track();
                valid = true;
            }
        } else if (ext == ".WMA") {
            if (wma_->LoadFromFile(name) && wma_->Valid()) {
                info_.FileSize = wma_->FileSize();
                info_.SampleRate = wma_->SampleRate();
                info_.BitRate = wma_->BitRate();
                info_.Channels = wma_->ChannelModeID();
                info_.Duration = RoundMs(wma_->Duration());
                info_.Title = wma_->Title();
                info_.Artist = wma_->Artist();
                info_.Album = wma_->Album();
                info_.Year = wma_->Year();
                info_.Genre = wma_->Genre();
                info_.Comment = wma_->Comment();
                info_.Track = wma_->Track();
                valid = true;
            }
        } else if (ext == ".CDA") {
            if (cdReady_) {
                std::string fileName = ExtractFileName(name);
                char letter = fileName.empty() ? 0 : static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
                int track = 0;
                if (name.size() >= 6 && std::isdigit(static_cast<unsigned char>(name[name.size() - 6])) &&
                    std::isdigit(static_cast<unsigned char>(name[name.size() - 5])))
                    track = (name[name.size() - 6] - '0') * 10 + (name[name.size() - 5] - '0');
                for (size_t d = 0; d < cdDrives_.size() && track > 0; ++d) {
                    if (cdDrives_[d].empty() || cdDrives_[d][0] != letter) continue;
                    QWORD bytes = BASS_CD_GetTrackLength(static_cast<DWORD>(d), static_cast<DWORD>(track - 1));
                    if (bytes == ~QWORD{0}) break;
                    info_.FileSize = static_cast<int64_t>(bytes);
                    info_.SampleRate = 44100;
                    info_.BitRate = 1411;
                    // 64-bit arithmetic: a long track's bytes x 10 does not fit 32 bits.
                    info_.Duration = static_cast<int64_t>(bytes) * 10 / 1764;
                    info_.Channels = 2;
                    info_.Track = track;
                    valid = true;
                    break;
                }
            }
        } else if (IsModuleExt(ext)) {
            std::ifstream in(name, std::ios::binary);
            if (in) {
                in.seekg(0, std::ios::end);
                info_.FileSize = static_cast<int64_t>(in.tellg());
                in.seekg(0);
                uint8_t head[64] = {};
                in.read(reinterpret_cast<char*>(head), sizeof head);
                size_t got = static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0));
                info_.Title = ModuleTitle(ext, head, got);
                if (info_.Title.empty() && ext != ".MOD" && ext != ".XM" && ext != ".IT" && ext != ".MTM" &&
                    ext != ".S3M")
                    info_.Title = FileNameUtf8(ExtractFileName(name));
                if (bassReady_) {
                    DWORD music = BASS_MusicLoad(0, name.c_str(), 0, 0, kMusicLengthFlags, 0);
                    if (music) {
                        QWORD length = BASS_ChannelGetLength(music);
                        if (length != ~QWORD{0}) info_.Duration = RoundMs(BASS_ChannelBytes2Seconds(music, length));
                        BASS_CHANNELINFO ci{};
                        if (BASS_ChannelGetInfo(music, &ci)) {
                            info_.SampleRate = static_cast<int>(ci.freq);
                            info_.Channels = static_cast<int>(ci.chans);
                        }
                        info_.BitRate = 0;
                        BASS_MusicFree(music);
                        valid = true;
                    }
                }
            }
        }
    } catch (const std::exception&) {
        valid = false; // a reader that cannot open or read the file
    }
    if (valid && bassReady_) support = 1;

    std::string shortExt = UpperCase(ExtractFileExt(name)).substr(1, 3);
    for (int i = 0; i < kMaxPlugins; ++i) {
        if (!GetPlugin(i)) continue;
        TPluginInfo plugin = GetPluginInfo(i);
        if (!InList(UpperCase(plugin.FileExtensions), shortExt)) continue;
        pluginIndex = i;
        decoderName_ = plugin.FileName;
        TInModule* mod = GetPlugin(i);
        if (mod->GetFileInfo) {
            // A generous buffer: a plug-in may write more than the documented 256 characters.
            std::vector<char> title(4096, 0);
            int length = 0;
            mod->GetFileInfo(name.c_str(), title.data(), &length);
            title.back() = 0;
            std::string t(title.data());
            if (t.size() > 256) t.resize(256);
            if (!t.empty()) info_.Title = t;
            if (length > 0) info_.Duration = length;
        }
        valid = true;
        if (hostReady_) support = support == 1 ? 0 : 2;
        break;
    }
    if (valid && info_.Title.empty()) info_.Title = FileNameUtf8(ExtractFileName(name));
    return valid;
}

void TAudioPlayer::SelectPluginSlot(int index) {
    Close();
    kind_ = ckPlugin;
    pluginIndex_ = index;
    plugin_ = GetPlugin(index);
    SelectPlugin(index);
    TPluginInfo info = GetPluginInfo(index);
    decoderName_ = info.FileName;
    pluginForm_->SetInUsePlugin(info.FileName);
    pluginSelected_ = true;
}

bool TAudioPlayer::Open(const std::string& name) {
    if (!bassReady_) {
        ShowError("Player is not ready !", false);
        return false;
    }
    const bool net = StartsWith(name, "http://") || StartsWith(name, "ftp://") || StartsWith(name, "mms://");
    // Reading the information replaces the stream information of the source that may be playing;
    // keep it to put back when the new source fails.
    TStreamInfo previousInfo = info_;
    std::string previousDecoder = decoderName_;
    int pluginIndex = -1, support = 3;
    if (!net) {
        if (!ReadInfo(name, pluginIndex, support)) {
            info_ = previousInfo;
            decoderName_ = previousDecoder;
            ShowError("Invalid stream file (" + FileNameUtf8(name) + ") !", false);
            return false;
        }
        if (info_.Channels > 8) {
            info_ = previousInfo;
            decoderName_ = previousDecoder;
            ShowError("Channel count exceeds" + std::string("8") + " (" + FileNameUtf8(name) + ") !", false);
            return false;
        }
    }
    TStreamInfo newInfo = info_;
    std::string newDecoder = decoderName_;
    std::string ext = UpperCase(ExtractFileExt(name));
    const bool module = IsModuleExt(ext);
    const bool wasPlaying = kind_ != ckNone && mode_ == plmPlaying;
    if (wasPlaying) Pause();
    auto fail = [&](const std::string& text, bool code) {
        info_ = previousInfo;
        decoderName_ = previousDecoder;
        ShowError(text, code);
        if (wasPlaying && kind_ != ckNone) Resume();
        return false;
    };
    const DWORD flags = singleRequest_ ? 0 : kDecodeFlag;
    const bool dual = !singleRequest_;
    if (net) {
        if (ext == ".ASF" || ext == ".WMA") {
            std::string kindName = ext.substr(1);
            int index = FindPluginForExt(kindName);
            if (index < 0) return fail("Winamp input plug-in for ASF (or WMA) file is not loaded.", false);
            if (!hostReady_) return fail("Cannot run Winamp input plug-ins. (Faild to get buffer) !", false);
            SelectPluginSlot(index);
            newInfo = TStreamInfo();
        } else {
            DWORD stream = BASS_StreamCreateURL(name.c_str(), 0, flags, nullptr, nullptr);
            if (stream) {
                Close();
                source_ = stream;
                kind_ = ckStream;
            } else {
                int index = hostReady_ && ext.size() > 1 ? FindPluginForExt(ext.substr(1)) : -1;
                if (index < 0) return fail("Can't play the specified URL stream : " + FileNameUtf8(name), true);
                SelectPluginSlot(index);
            }
        }
        newInfo = TStreamInfo();
        newInfo.FileName = name;
        std::string lowerExt = LowerCase(ext);
        if (InList(kBassTypes, lowerExt) || InList(LowerCase(GetPluginFileFilter()), lowerExt)) {
            download_ = true;
            if (kind_ != ckPlugin) {
                if (ext == ".OGG") {
                    std::string title;
                    if (TagValue(TagListItems(BASS_ChannelGetTags(source_, BASS_TAG_OGG), kTagListLimit), "TITLE=",
                                 title))
                        newInfo.Title = title;
                } else {
                    for (size_t i = name.size() >= 6 ? name.size() - 6 : 0; i >= 6 && i < name.size(); --i) {
                        if (name[i] == '/') {
                            newInfo.Title = name.substr(i + 1);
                            break;
                        }
                    }
                }
                if (StartsWith(name, "http://") || StartsWith(name, "mms://"))
                    httpTags_ = BASS_ChannelGetTags(source_, BASS_TAG_HTTP);
                QWORD length = BASS_ChannelGetLength(source_);
                double seconds = length == ~QWORD{0} ? 0 : BASS_ChannelBytes2Seconds(source_, length);
                newInfo.Duration = RoundMs(std::max(0.0, seconds));
                QWORD size = BASS_StreamGetFilePosition(source_, BASS_FILEPOS_END);
                newInfo.FileSize = size == ~QWORD{0} ? 0 : static_cast<int64_t>(size);
                newInfo.BitRate = size != ~QWORD{0} && seconds > 0
                                      ? static_cast<int>(std::llround(static_cast<double>(size) / (seconds * 125)))
                                      : 0;
                BASS_ChannelSetSync(source_, BASS_SYNC_DOWNLOAD, 0, DownloadSyncProc, WindowUser(window_->Handle()));
            }
        } else if (kind_ != ckPlugin) {
            radio_ = true;
            icyTags_ = BASS_ChannelGetTags(source_, BASS_TAG_ICY);
            newInfo.BitRate = IcyBitRate(TagListItems(icyTags_, kTagListLimit));
            const char* meta = BASS_ChannelGetTags(source_, BASS_TAG_META);
            std::string title;
            if (meta && StreamTitleOf(std::string(meta, strnlen(meta, kTagListLimit)), title))
                newInfo.Title = title;
            BASS_ChannelSetSync(source_, BASS_SYNC_META, 0, MetaSyncProc, WindowUser(window_->Handle()));
        }
        if (kind_ != ckPlugin) {
            BASS_CHANNELINFO ci{};
            if (BASS_ChannelGetInfo(source_, &ci)) {
                newInfo.SampleRate = static_cast<int>(ci.freq);
                newInfo.Channels = static_cast<int>(ci.chans);
            }
            newDecoder = InList(LowerCase(SupportedTypes()), LowerCase(ext)) ? "BASS_Native" : "";
        } else {
            newDecoder = decoderName_;
        }
    } else {
        if (hostReady_ && pluginIndex >= 0 && (support == 2 || (support == 0 && pluginFirst_))) {
            SelectPluginSlot(pluginIndex);
            newDecoder = decoderName_;
        } else {
            DWORD handle = 0;
            uint8_t kind = ckNone;
            if (ext == ".CDA") {
                if (cdReady_) {
                    handle = BASS_CD_StreamCreateFile(name.c_str(), flags);
                    kind = ckCD;
                }
            } else if (ext == ".WMA") {
                if (wmaReady_) {
                    handle = BASS_WMA_StreamCreateFile(0, name.c_str(), 0, 0, flags);
                    kind = ckWMA;
                }
            } else if (module) {
                handle = BASS_MusicLoad(0, name.c_str(), 0, 0, dual ? kMusicPlayFlags | kDecodeFlag : kMusicPlayFlags, 0);
                kind = ckMusic;
            } else {
                handle = BASS_StreamCreateFile(0, name.c_str(), 0, 0, flags);
                kind = ckStream;
            }
            if (!handle) return fail("Can't play the specified stream file : " + FileNameUtf8(name), true);
            BASS_CHANNELINFO ci{};
            BASS_ChannelGetInfo(handle, &ci);
            if (newInfo.BitsPerSample == 16 && (ci.flags & BASS_SAMPLE_8BITS)) {
                // Nothing of the new source is kept: the old one is still open and plays on.
                if (kind == ckMusic)
                    BASS_MusicFree(handle);
                else
                    BASS_StreamFree(handle);
                return fail("Sound card does not support 16-bit sources.", false);
            }
            Close();
            source_ = handle;
            kind_ = kind;
            if (module) {
                QWORD length = BASS_ChannelGetLength(handle);
                if (length != ~QWORD{0}) newInfo.Duration = RoundMs(BASS_ChannelBytes2Seconds(handle, length));
            }
            newDecoder = InList(LowerCase(SupportedTypes()), LowerCase(ext)) ? "BASS_Native" : "";
        }
    }
    singleInEffect_ = singleRequest_;
    fileName_ = name;
    info_ = newInfo;
    decoderName_ = newDecoder;
    VisTrackInfo();
    SetMode(plmReady);
    return true;
}

void TAudioPlayer::ClearSource() {
    if (kind_ == ckNone) return;
    if (!singleInEffect_ && kind_ != ckPlugin) FreeDualChannel();
    switch (kind_) {
    case ckStream:
    case ckCD:
    case ckWMA: BASS_StreamFree(source_); break;
    case ckMusic: BASS_MusicFree(source_); break;
    case ckPlugin:
        if ((mode_ == plmPlaying || mode_ == plmPaused) && plugin_ && plugin_->Stop) plugin_->Stop();
        pluginIndex_ = -1;
        plugin_ = nullptr;
        SelectPlugin(-1);
        if (pluginForm_) pluginForm_->SetInUsePlugin("");
        break;
    default: break;
    }
    source_ = 0;
    play_ = 0;
    kind_ = ckNone;
    endSyncSet_ = false;
}

void TAudioPlayer::Close() {
    if (kind_ != ckNone) {
        timer_.SetEnabled(false);
        ClearSource();
        fileName_.clear();
        info_ = TStreamInfo();
        ForgetEffectHandles();
        pluginSelected_ = false;
        decoderName_.clear();
        downloaded_ = download_ = radio_ = false;
        icyTags_ = httpTags_ = nullptr;
        busy_ = outputStarted_ = stoppedWhilePaused_ = false;
    }
    if (mode_ != plmStandby) SetMode(plmStandby);
}

void TAudioPlayer::EnableSpectrum() {
    if (OnNewFFTData) timer_.SetEnabled(true);
}

void TAudioPlayer::Play() {
    if (busy_ || kind_ == ckNone || mode_ == plmPlaying) return;
    if (mode_ == plmPaused) {
        Resume();
        return;
    }
    bool ok = false;
    if (mode_ == plmStopped) {
        if (kind_ == ckPlugin) {
            busy_ = true;
            outputStarted_ = false;
            ok = plugin_ && plugin_->Play && plugin_->Play(fileName_.c_str()) == 0;
            if (!ok) busy_ = false;
        } else {
            if (singleInEffect_) BASS_ChannelSetPosition(source_, 0);
            else MoveSourceAndResetRing([&] { BASS_ChannelSetPosition(source_, 0); });
            ok = BASS_ChannelPlay(play_, 1) != 0;
        }
    } else { // plmReady
        if (kind_ == ckPlugin) {
            busy_ = true;
            outputStarted_ = false;
            play_ = 1;
            if (!plugin_ || !plugin_->Play || plugin_->Play(fileName_.c_str()) != 0) {
                ShowError("Can't play the specified stream : " + FileNameUtf8(fileName_), false);
                SelectPlugin(-1);
                pluginForm_->SetInUsePlugin("");
                decoderName_.clear();
                busy_ = false;
                play_ = 0;
                return;
            }
            ok = true;
        } else {
            if (!singleInEffect_) FreeDualChannel();
            ForgetEffectHandles();
            BASS_CHANNELINFO ci{};
            BASS_ChannelGetInfo(source_, &ci);
            if (singleInEffect_) {
                play_ = source_;
            } else {
                play_ = CreateDualChannel(source_, ci.freq, ci.chans, (ci.flags & BASS_SAMPLE_8BITS) ? 8 : 16);
            }
            if (!play_) {
                ShowError("Could not open the channel for play", true);
                decoderName_.clear();
                return;
            }
            playBytesPerSample_ = (ci.flags & BASS_SAMPLE_8BITS) ? 1 : (ci.flags & BASS_SAMPLE_FLOAT) ? 4 : 2;
            ApplyEffects();
            VisPlayChannel(static_cast<int>(ci.freq), static_cast<int>(ci.chans));
            ok = BASS_ChannelPlay(play_, 1) != 0;
        }
    }
    if (!ok) return;
    // One end sync per source: playing the same source again must not bring a second end event.
    if (kind_ != ckPlugin && !endSyncSet_) {
        BASS_ChannelSetSync(source_, BASS_SYNC_END, 0, EndSyncProc, WindowUser(window_->Handle()));
        endSyncSet_ = true;
    }
    SetMode(plmPlaying);
    if (kind_ != ckPlugin) EnableSpectrum();
}

void TAudioPlayer::Pause() {
    if (mode_ != plmPlaying) return;
    if (kind_ == ckPlugin) {
        if (plugin_ && plugin_->Pause) plugin_->Pause();
    } else {
        BASS_ChannelPause(play_);
    }
    SetMode(plmPaused);
}

void TAudioPlayer::Resume() {
    if (mode_ != plmPaused) return;
    if (kind_ == ckPlugin) {
        if (plugin_ && plugin_->UnPause) plugin_->UnPause();
    } else if (stoppedWhilePaused_) {
        // The seek made while paused emptied the ring; what it holds now comes from the new place.
        BASS_ChannelPlay(play_, 1);
        stoppedWhilePaused_ = false;
    } else {
        BASS_ChannelPlay(play_, 0);
    }
    SetMode(plmPlaying);
    if (kind_ != ckPlugin || outputStarted_) EnableSpectrum();
}

void TAudioPlayer::Stop() {
    if (mode_ != plmPlaying) return;
    if (kind_ == ckPlugin) {
        if (play_ && plugin_ && plugin_->Stop) plugin_->Stop();
        play_ = 0;
        ForgetEffectHandles();
    } else {
        BASS_ChannelStop(play_);
    }
    SetMode(plmStopped);
}

int64_t TAudioPlayer::GetPlayLength() {
    switch (kind_) {
    case ckStream:
    case ckCD:
    case ckWMA:
    case ckMusic: {
        QWORD length = BASS_ChannelGetLength(source_);
        if (length == ~QWORD{0}) return 0;
        return RoundMs(BASS_ChannelBytes2Seconds(source_, length));
    }
    case ckPlugin: return info_.Duration;
    default: return 0;
    }
}

int64_t TAudioPlayer::GetPosition() {
    if (kind_ == ckNone) return 0;
    if (kind_ == ckPlugin) return mode_ == plmReady ? 0 : GetPluginOutputTime(true);
    QWORD pos = BASS_ChannelGetPosition(source_);
    if (pos == ~QWORD{0}) return 0;
    int64_t bytes = static_cast<int64_t>(pos);
    // The source runs ahead of what is heard by what waits in the ring.
    if (!singleInEffect_) bytes -= static_cast<int64_t>(GetBufferedBytes());
    if (bytes <= 0) return 0;
    return RoundMs(BASS_ChannelBytes2Seconds(source_, static_cast<QWORD>(bytes)));
}

bool TAudioPlayer::Seekable() {
    if (kind_ == ckNone || radio_) return false;
    if (kind_ == ckPlugin) return GetPluginInfo(pluginIndex_).Seekable != 0;
    if (download_) return downloaded_;
    return true;
}

void TAudioPlayer::SetPosition(int64_t ms) {
    if (!Seekable() || ms < 0 || ms > GetPlayLength() || busy_) return;
    if (kind_ != ckPlugin) {
        bool wasPlaying = false;
        if (!singleInEffect_) {
            DWORD state = BASS_ChannelIsActive(play_);
            if (state == BASS_ACTIVE_PAUSED) stoppedWhilePaused_ = true;
            if (state == BASS_ACTIVE_PLAYING || state == BASS_ACTIVE_STALLED) {
                BASS_ChannelStop(play_);
                wasPlaying = true;
            }
        }
        // The place is counted in whole frames from the milliseconds: seconds as a float miss the
        // frame by one or two at 48 kHz (and by more the longer the track), and land early.
        QWORD bytes;
        BASS_CHANNELINFO ci{};
        if (BASS_ChannelGetInfo(source_, &ci) && ci.freq > 0 && ci.chans > 0) {
            const QWORD sampleBytes = (ci.flags & BASS_SAMPLE_FLOAT) ? 4 : (ci.flags & BASS_SAMPLE_8BITS) ? 1 : 2;
            bytes = static_cast<QWORD>(ms) * ci.freq / 1000 * ci.chans * sampleBytes;
        } else {
            bytes = BASS_ChannelSeconds2Bytes(source_, static_cast<float>(ms / 1000.0));
        }
        auto seek = [&] { BASS_ChannelSetPosition(source_, bytes); };
        if (singleInEffect_) {
            seek();
        } else {
            // Nothing from before the seek is left in the ring, and the first audio after it is
            // not emptied away.
            MoveSourceAndResetRing(seek);
            if (wasPlaying) BASS_ChannelPlay(play_, 1);
        }
        return;
    }
    if (mode_ == plmPlaying && outputStarted_ && plugin_ && plugin_->SetOutputTime) {
        busy_ = true;
        RequestFlushOnPause();
        plugin_->SetOutputTime(static_cast<int>(ms));
        for (int i = 0; i < kSeekWaitSteps && mode_ == plmPlaying && busy_; ++i) {
            ProcessPendingMessages();
            Sleep(kSeekWaitStepMs);
        }
        busy_ = false;
    }
}

void TAudioPlayer::SetVolume(int volume) {
    volume_ = std::clamp(volume, 0, 255);
    if (!bassReady_) return;
    if (kind_ == ckPlugin && plugin_ && plugin_->SetVolume) {
        plugin_->SetVolume(volume_);
    } else {
        BASS_SetConfig(BASS_CONFIG_GVOL_MUSIC, static_cast<DWORD>(volume_));
        BASS_SetConfig(BASS_CONFIG_GVOL_STREAM, static_cast<DWORD>(volume_));
    }
}

bool TAudioPlayer::WaitWhilePlaying() {
    for (int i = 0; i < kEndWaitSteps && play_ && BASS_ChannelIsActive(play_) == BASS_ACTIVE_PLAYING; ++i) {
        ProcessPendingMessages();
        Sleep(kEndWaitStepMs);
    }
    return true;
}

void TAudioPlayer::HandleDownloaded() {
    downloaded_ = true;
    std::string ext = UpperCase(ExtractFileExt(fileName_));
    QWORD size = BASS_StreamGetFilePosition(source_, BASS_FILEPOS_END);
    int64_t fileLength = size == ~QWORD{0} ? 0 : static_cast<int64_t>(size);
    if (ext == ".MP3" || ext == ".MP2" || ext == ".MP1") {
        TMP3TagInfo tag;
        bool found = false;
        if (const char* v1 = BASS_ChannelGetTags(source_, BASS_TAG_ID3))
            found = mpeg_->ReadTagFromBuffer(TagKindID3v1, reinterpret_cast<const uint8_t*>(v1), TID3v1::TagSize,
                                             fileLength, tag);
        if (!found) {
            if (const char* v2 = BASS_ChannelGetTags(source_, BASS_TAG_ID3V2)) {
                // The library holds the whole block its header declares, so the header bounds the read.
                int64_t blockSize = Id3v2BlockSize(reinterpret_cast<const uint8_t*>(v2), 10);
                if (blockSize > 0)
                    found = mpeg_->ReadTagFromBuffer(TagKindID3v2, reinterpret_cast<const uint8_t*>(v2), blockSize,
                                                     fileLength, tag);
            }
        }
        if (found) {
            info_.Title = tag.Title;
            info_.Artist = tag.Artist;
            info_.Album = tag.Album;
            info_.Year = tag.Year;
            info_.Comment = tag.Comment;
            info_.Track = tag.Track;
            info_.Genre = tag.Genre;
        }
    }
    info_.FileSize = fileLength;
    QWORD length = BASS_ChannelGetLength(source_);
    if (length != ~QWORD{0}) info_.Duration = RoundMs(BASS_ChannelBytes2Seconds(source_, length));
    if (OnDownloaded) OnDownloaded(this, std::to_string(info_.Duration));
}

void TAudioPlayer::WndProc(TMessage& msg) {
    // The registered visualisation message: a command of the host (its dwords at lParam).
    if (vis_ && vis_->Ready() && msg.Msg == vis_->MessageNumber()) {
        vis_->HandleCommand(msg.WParam, reinterpret_cast<const uint32_t*>(msg.LParam), mode_ == plmPlaying);
        return;
    }
    switch (msg.Msg) {
    case WM_StreamEnd:
        // An end from a source that is no longer open (it ended just before a new one opened) is old news.
        if (kind_ == ckNone || kind_ == ckPlugin || msg.WParam != source_) return;
        SetMode(plmStopped);
        WaitWhilePlaying();
        if (OnPlayEnd) OnPlayEnd(this);
        return;
    case WM_WA_MPEG_EOF:
        if (kind_ != ckPlugin) return;
        SetInputEnded();
        busy_ = false;
        if (outputStarted_) WaitWhilePlaying();
        if (plugin_ && plugin_->Stop) plugin_->Stop();
        play_ = 0;
        ForgetEffectHandles();
        SetMode(plmStopped);
        if (OnPlayEnd) OnPlayEnd(this);
        return;
    case WM_NewFFTData:
        if (OnNewFFTData) OnNewFFTData(this, bands_);
        return;
    case WM_PluginStartPlay: {
        if (kind_ != ckPlugin) return;
        busy_ = false;
        outputStarted_ = true;
        if (plugin_ && plugin_->SetVolume) plugin_->SetVolume(volume_);
        const auto* ci = reinterpret_cast<const TChannelInfo*>(msg.LParam);
        if (ci) {
            info_.BitsPerSample = ci->BitsPerSample;
            info_.SampleRate = static_cast<int>(ci->SampleRate);
            info_.Channels = ci->Channels;
        }
        if (info_.Duration == 0 && plugin_ && plugin_->GetFileInfo) {
            std::vector<char> title(4096, 0);
            int length = 0;
            plugin_->GetFileInfo(fileName_.c_str(), title.data(), &length);
            title.back() = 0;
            if (length > 0) {
                std::string t(title.data());
                if (t.size() > 256) t.resize(256);
                info_.Title = t;
                info_.Duration = length;
            }
        }
        VisTrackInfo();
        if (OnPluginStartPlay) OnPluginStartPlay(this, ci);
        VisPlayChannel(info_.SampleRate, info_.Channels);
        playBytesPerSample_ = ci && ci->BitsPerSample == 8 ? 1 : 2;
        ForgetEffectHandles();
        ApplyEffects();
        EnableSpectrum();
        return;
    }
    case WM_PluginOutputOpen:
        if (kind_ == ckPlugin) play_ = static_cast<DWORD>(msg.WParam);
        return;
    case WM_PluginSetInfo: {
        const auto* ci = reinterpret_cast<const TChannelInfo*>(msg.LParam);
        if (ci) {
            info_.Channels = ci->Channels;
            info_.SampleRate = static_cast<int>(ci->SampleRate);
            info_.BitRate = static_cast<int>(ci->BitRate);
        }
        if (OnGetChannelInfo) OnGetChannelInfo(this, ci);
        return;
    }
    case WM_PluginFirst: pluginFirst_ = msg.LParam != 0; return;
    case WM_GetMeta: {
        std::unique_ptr<std::string> title(reinterpret_cast<std::string*>(msg.LParam));
        if (!title || msg.WParam != source_ || kind_ == ckNone) return;
        info_.Title = *title;
        VisTrackInfo();
        if (OnGetMeta) OnGetMeta(this, *title);
        return;
    }
    case WM_Downloaded:
        if (kind_ == ckNone || msg.WParam != source_) return;
        HandleDownloaded();
        return;
    case WM_QUERYENDSESSION:
        timer_.SetEnabled(false);
        msg.Result = 1;
        return;
    default: return;
    }
}

// ---- Sound effects and spectrum ----

void TAudioPlayer::ForgetEffectHandles() {
    eqHandles_.fill(0);
    echoHandle_ = reverbHandle_ = flangerHandle_ = 0;
}

void TAudioPlayer::ApplyEqBand(int band) {
    BASS_FXPARAMEQ par{kEqBandTable[static_cast<size_t>(band)].Center, kEqBandTable[static_cast<size_t>(band)].Bandwidth,
                       eqGains_[static_cast<size_t>(band)]};
    BASS_FXSetParameters(eqHandles_[static_cast<size_t>(band)], &par);
}

void TAudioPlayer::ApplyEcho() {
    BASS_FXECHO par{};
    if (!BASS_FXGetParameters(echoHandle_, &par)) return;
    par.fWetDryMix = EchoWetDryMix(echoLevel_);
    par.fFeedback = kEchoFeedback;
    BASS_FXSetParameters(echoHandle_, &par);
}

void TAudioPlayer::ApplyReverb() {
    BASS_FXREVERB par{};
    if (!BASS_FXGetParameters(reverbHandle_, &par)) return;
    par.fInGain = kReverbInGain;
    par.fReverbMix = ReverbMixDb(reverbLevel_);
    par.fReverbTime = kReverbTimeMs;
    par.fHighFreqRTRatio = kReverbHighFreqRatio;
    BASS_FXSetParameters(reverbHandle_, &par);
}

void TAudioPlayer::ApplyEffects() { SetSoundEffects(effectFlags_); }

void TAudioPlayer::SetSoundEffects(uint8_t flags) {
    effectFlags_ = flags;
    if (kind_ == ckNone || !play_ || !bassReady_) return;
    if (flags & sefFlanger) {
        if (!flangerHandle_) {
            ResetFlanger();
            flangerHandle_ = BASS_ChannelSetDSP(play_, FlangerDSP, &playBytesPerSample_, 0);
        }
    } else if (flangerHandle_ && BASS_ChannelRemoveDSP(play_, flangerHandle_)) {
        flangerHandle_ = 0;
    }
    if (!dx8EffectReady_) return;
    for (int band = 0; band < kEqBands; ++band) {
        DWORD& h = eqHandles_[static_cast<size_t>(band)];
        if (flags & sefEqualizer) {
            if (!h)
                h = BASS_ChannelSetFX(play_, BASS_FX_PARAMEQ, band + 1);
            if (h) ApplyEqBand(band);
        } else if (h && BASS_ChannelRemoveFX(play_, h)) {
            h = 0;
        }
    }
    if (flags & sefEcho) {
        if (!echoHandle_) echoHandle_ = BASS_ChannelSetFX(play_, BASS_FX_ECHO, 11);
        if (echoHandle_) ApplyEcho();
    } else if (echoHandle_ && BASS_ChannelRemoveFX(play_, echoHandle_)) {
        echoHandle_ = 0;
    }
    if (flags & sefReverb) {
        if (!reverbHandle_) reverbHandle_ = BASS_ChannelSetFX(play_, BASS_FX_REVERB, 12);
        if (reverbHandle_) ApplyReverb();
    } else if (reverbHandle_ && BASS_ChannelRemoveFX(play_, reverbHandle_)) {
        reverbHandle_ = 0;
    }
}

void TAudioPlayer::SetEQGains(const std::array<float, kEqBands>& gains) {
    if (!dx8EffectReady_) return;
    for (int band = 0; band < kEqBands; ++band) {
        auto b = static_cast<size_t>(band);
        eqGains_[b] = ClampEqGain(gains[b]);
        if (!(effectFlags_ & sefEqualizer) || !eqHandles_[b]) continue;
        BASS_FXPARAMEQ current{};
        if (BASS_FXGetParameters(eqHandles_[b], &current) && std::fabs(current.fGain - eqGains_[b]) >= 0.001f)
            ApplyEqBand(band);
    }
}

void TAudioPlayer::SetEchoLevel(int level) {
    if (level < 0 || level > kMaxEffectLevel) return;
    echoLevel_ = level;
    if ((effectFlags_ & sefEcho) && echoHandle_) ApplyEcho();
}

void TAudioPlayer::SetReverbLevel(int level) {
    if (level < 0 || level > kMaxEffectLevel) return;
    reverbLevel_ = level;
    if ((effectFlags_ & sefReverb) && reverbHandle_) ApplyReverb();
}

void TAudioPlayer::SpectrumTick() {
    timer_.SetEnabled(false);
    if (!bassReady_ || !play_) return;
    DWORD state = BASS_ChannelIsActive(play_);
    if (state != BASS_ACTIVE_PLAYING && state != BASS_ACTIVE_STALLED) return;
    float fft[256];
    if (BASS_ChannelGetData(play_, fft, BASS_DATA_FFT512) == ~DWORD{0}) {
        bands_.fill(0);
    } else {
        UpdateBands(fft, bands_);
        PostMessage(window_->Handle(), WM_NewFFTData, 0, 0);
        if (vis_ && vis_->Active()) vis_->Thread().SetPosition(static_cast<uint32_t>(std::max<int64_t>(GetPosition(), 0)));
    }
    timer_.SetEnabled(true);
}

} // namespace lumora
