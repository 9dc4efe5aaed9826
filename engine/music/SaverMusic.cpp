#include "engine/music/SaverMusic.h"

#include <QLabel>

#include <algorithm>
#include <map>

#include "audio/midi/SynthSound.h"
#include "audio/mixer/VolumeRoutines.h"
#include "engine/Common.h"
#include "engine/saver/SaverWindow.h"
#include "engine/playlists/PlayLists.h"
#include "engine/saver/SaverOverlays.h"
#include "framework/SysUtils.h"

namespace lumora {

// The program's own player behind the seam (in SaverPlayer.cpp).
std::unique_ptr<ISaverPlayer> MakeProgramPlayer();

namespace {
// Mixer line kinds of SetSourceVolume.
constexpr int kWaveLine = 1;

// The music of each live window (main thread only).
std::map<const TDesktopWindow*, TSaverMusic*>& Musics() {
    static std::map<const TDesktopWindow*, TSaverMusic*> musics;
    return musics;
}

TSaverPlayerFactory& PlayerFactory() {
    static TSaverPlayerFactory factory;
    return factory;
}

// MIDI files, also in their RIFF wrapping, go to the MIDI player.
bool IsMidiTrackExt(const std::string& ext) {
    return IsMidiExt(ext) || SameText(ext, ".rmi");
}
} // namespace

void SetSaverPlayerFactory(TSaverPlayerFactory factory) {
    PlayerFactory() = std::move(factory);
}

TSaverMusic* TSaverMusic::Find(TDesktopWindow& window) {
    auto it = Musics().find(&window);
    return it == Musics().end() ? nullptr : it->second;
}

TSaverMusic& TSaverMusic::Create(TDesktopWindow& window) {
    if (TSaverMusic* found = Find(window)) return *found;
    return *new TSaverMusic(window);
}

TSaverMusic::TSaverMusic(TDesktopWindow& window) : QObject(&window), window_(window) {
    Musics()[&window] = this;
}

TSaverMusic::~TSaverMusic() {
    Musics().erase(&window_);
    // The window is going away without its orderly close (or after it): nothing may call back into
    // it, and the mixer the saver changed goes back to what the user had.
    MidiFile1.OnMidiEvent = nullptr;
    MidiFile1.OnUpdateEvent = nullptr;
    MidiFile1.Stop();
    if (midiOutOpen_) {
        try {
            MidiOutput1.Close();
        } catch (const std::exception&) {
            // The port is released whatever the device says.
        }
    }
    if (AudioPlayer1) {
        AudioPlayer1->OnPlayEnd = nullptr;
        AudioPlayer1->OnNewFFTData = nullptr;
    }
    if (TSaverOverlays* overlays = TSaverOverlays::Find(window_); overlays && overlays->MidiScope1)
        overlays->MidiScope1->OnMIDIVisTData = nullptr;
    if (mixerSaved_ && AudioMixer1) RestoreMixer(*AudioMixer1);
}

// ---- the window's life ----

void TSaverMusic::FormCreate() {
    const TRegData& s = window_.Settings();
    TSaverOverlays& overlays = TSaverOverlays::Of(window_);
    AudioMixer1 = std::make_unique<TAudioMixer>();
    AudioPlayer1 = PlayerFactory() ? PlayerFactory()() : MakeProgramPlayer();
    if (AudioPlayer1) {
        AudioPlayer1->OnPlayEnd = [this] { AudioPlayer1PlayEnd(); };
        if (s.LogoSpectrum) {
            AudioPlayer1->OnNewFFTData = [this, &overlays](const TBandOut& bands) {
                int64_t position = AudioPlayer1->GetPosition(), length = AudioPlayer1->GetPlayLength();
                overlays.DisplayFFTBand(bands,
                                        static_cast<uint32_t>(std::clamp<int64_t>(position, 0, UINT32_MAX)),
                                        static_cast<uint32_t>(std::clamp<int64_t>(length, 0, UINT32_MAX)));
            };
        }
    }
    if (s.LogoSpectrum) {
        overlays.CreateBasicImage();
        overlays.ShowBackground();
    }
    MidiFile1.OnMidiEvent = [this](PMidiEvent event) { MidiFile1MidiEvent(event); };
    MidiFile1.OnUpdateEvent = [this] { MidiFile1UpdateEvent(); };
    overlays.MidiScope1->OnMIDIVisTData = [this, &overlays](TMidiScope*, TBitmap& bmp) {
        overlays.MidiScope1MIDIVisTData(bmp, MidiFile1.PlayTimeMs(), songLength_,
                                        window_.FileManager().TrackCount());
    };
    overlays.MidiScope1->setVisible(false);
    midiOutOpen_ = false;
    muteStart_ = EncodeTimeOfDay(s.STimeHour, s.STimeMin, s.STimeSec);
    muteEnd_ = EncodeTimeOfDay(s.ETimeHour, s.ETimeMin, s.ETimeSec);
    muteState_ = s.VolContl && s.TimeZone != 0 && InMuteWindow(s.TimeZone, muteStart_, muteEnd_);
    // The music clock runs from now on (enabling it again also starts it when its handler was
    // bound after its interval was set).
    window_.Timer2.SetInterval(100);
    window_.Timer2.SetEnabled(true);
}

void TSaverMusic::FormShow() {
    const TRegData& s = window_.Settings();
    TSaverOverlays::Of(window_).ScrollingText2->SetVisible(false);
    // The mixer is changed only when there is music to play: the close restores it only then.
    if (s.VolContl && AudioMixer1 && window_.FileManager().TrackCount() > 0) {
        SaveMixer(*AudioMixer1);
        mixerSaved_ = true;
        SetFullMixerLevels(*AudioMixer1, s.MsVolChg, s.MsVol);
    }
    if (AudioPlayer1) {
        // Each switch in turn, its level right after it is switched on.
        auto apply = [this](bool on, uint8_t bit) {
            uint8_t flags = AudioPlayer1->SoundEffects();
            AudioPlayer1->SetSoundEffects(on ? flags | bit : flags & ~bit);
        };
        apply(s.Equalizer, sefEqualizer);
        if (s.Equalizer) {
            std::array<float, kEqBands> gains{};
            for (int i = 0; i < kEqBands; ++i)
                gains[static_cast<size_t>(i)] = static_cast<float>(s.EquaVal[i + 1] - 15);
            AudioPlayer1->SetEQGains(gains);
        }
        apply(s.Echo, sefEcho);
        if (s.Echo) AudioPlayer1->SetEchoLevel(s.EchoVal);
        apply(s.Reverb, sefReverb);
        if (s.Reverb) AudioPlayer1->SetReverbLevel(s.ReverbVal);
        apply(s.Flanger, sefFlanger);
        AudioPlayer1->SetVolume(100);
    }
    if (!AudioPlayer1 || !AudioPlayer1->Ready()) ShowNotice("BASSを初期化できません");
}

void TSaverMusic::FormClose() {
    if (midiOutOpen_) StopMidi();
    if (AudioPlayer1 && AudioPlayer1->Playing()) {
        AudioPlayer1->Stop();
        AudioPlayer1->Close();
    }
    bassPlaying_ = false;
    gapCountdown_ = 0;
    if (mixerSaved_ && AudioMixer1) {
        RestoreMixer(*AudioMixer1);
        mixerSaved_ = false;
    }
}

// ---- tracks ----

void TSaverMusic::ShowNotice(const std::string& text) {
    if (!window_.Label1) return;
    window_.Label1->setText(QString::fromStdString(text));
    window_.Label1->adjustSize();
    window_.Label1->show();
    window_.Label1->raise();
}

bool TSaverMusic::MuteApplies() const {
    return window_.Settings().TimeZone != 0 && muteState_;
}

void TSaverMusic::SetWaveLevel() {
    const TRegData& s = window_.Settings();
    if (s.VolContl && AudioMixer1)
        SetSourceVolume(*AudioMixer1, kWaveLine, MuteApplies() ? s.MuteWaveVol : s.WaveVol);
}

void TSaverMusic::SetMidiLevel() {
    const TRegData& s = window_.Settings();
    if (s.VolContl && AudioMixer1)
        SetMidiSourceVolume(*AudioMixer1, MidiOutput1, MuteApplies() ? s.MuteMidiVol : s.MidiVol);
}

void TSaverMusic::ScheduleNext() {
    if (window_.Grouping()) {
        window_.GroupChangeRequested = true;
        return;
    }
    // A negative gap would never count down to the next track.
    const int interval = std::max<int>(1, static_cast<int>(window_.Timer2.Interval()));
    const int64_t ticks = int64_t(std::max(0, window_.Settings().SndInterval)) * 1000 / interval + 1;
    gapCountdown_ = static_cast<int>(std::min<int64_t>(ticks, INT32_MAX));
}

void TSaverMusic::PlayTrack(const std::string& name) {
    if (window_.IsPreview() || window_.MusicClosing || window_.Closed()) return;
    TSaverOverlays::Of(window_).ScrollingText2->SetText(FileNameUtf8(ExtractFileName(name)));
    const std::string file = ResolveLinkPath(name);
    bassTrack_ = false;
    smallFile_ = false;
    const std::string ext = ExtractFileExt(file);
    if (IsBassExt(ext)) {
        StartBassTrack(name, file);
    } else if (IsMidiTrackExt(ext)) {
        StartMidiTrack(name, file);
    } else {
        // A file that went away since the scan (its name resolves to nothing) or of a kind nothing
        // plays: the next track follows, so one such file never ends the music.
        ShowNotice(FileNameUtf8(name) + "を再生できません");
        ScheduleNext();
    }
}

void TSaverMusic::StartBassTrack(const std::string& name, const std::string& file) {
    if (!AudioPlayer1 || !AudioPlayer1->Ready()) {
        ShowNotice("DLLが使用できません");
        // MIDI files among the tracks still play.
        ScheduleNext();
        return;
    }
    smallFile_ = FileSizeOf(file) < kSmallFileBytes;
    bassTrack_ = true;
    bool started = false;
    try {
        if (AudioPlayer1->Open(file)) {
            AudioPlayer1->Play();
            started = AudioPlayer1->Playing();
        }
    } catch (const std::exception&) {
        started = false;
    }
    if (!started) {
        ShowNotice(FileNameUtf8(name) + "を再生できません");
        ScheduleNext();
        return;
    }
    bassPlaying_ = true;
    lastPosition_ = 0;
    SetWaveLevel();
}

void TSaverMusic::StartMidiTrack(const std::string& name, const std::string& file) {
    TSaverOverlays& overlays = TSaverOverlays::Of(window_);
    try {
        OpenMidiOut();
        MidiFile1.SetFilename(file);
        MidiFile1.LoadFile();
        songLength_ = MidiFile1.SongLengthMs();
        MidiFile1.Play();
    } catch (const std::exception&) {
        // A device that cannot be opened or a file that cannot be read: the next track follows.
        MidiFile1.Stop();
        CloseMidiOut();
        ShowNotice(FileNameUtf8(name) + "を再生できません");
        ScheduleNext();
        return;
    }
    overlays.MidiScope1->setVisible(true);
    overlays.MidiScope1->SetActive(true);
    SetMidiLevel();
}

void TSaverMusic::OpenMidiOut() {
    if (midiOutOpen_) CloseMidiOut();
    try {
        MidiOutput1.SetProductName(window_.Settings().MidiDevice);
    } catch (const EmidioutputError&) {
        // A device never chosen, or gone since, gives way to the mapper, which opens the built-in
        // synthesizer: the music plays where Windows would have fallen back on its own synthesizer.
        MidiOutput1.SetDeviceID(MIDI_MAPPER);
    }
    MidiOutput1.Open();
    midiOutOpen_ = true;
}

void TSaverMusic::CloseMidiOut() {
    if (!midiOutOpen_) return;
    midiOutOpen_ = false;
    try {
        MidiOutput1.Close();
    } catch (const std::exception&) {
        // The port is released all the same.
    }
}

void TSaverMusic::MidiAllSoundOff() {
    TMidiScope* scope = TSaverOverlays::Of(window_).MidiScope1;
    for (uint8_t channel = 0; channel < 16; ++channel) {
        const uint8_t status = static_cast<uint8_t>(0xB0 + channel);
        if (midiOutOpen_) {
            try {
                MidiOutput1.PutShort(status, 120, 0);
            } catch (const std::exception&) {
                // A refused message must not keep the others (and the close) from going out.
            }
        }
        scope->NoteEvent(status, 120, 0);
    }
}

void TSaverMusic::StopMidi() {
    TSaverOverlays::Of(window_).MidiScope1->SetActive(false);
    MidiFile1.Stop();
    MidiAllSoundOff();
    CloseMidiOut();
}

void TSaverMusic::MidiFile1MidiEvent(PMidiEvent event) {
    if (!event) return;
    if (!event->IsMeta() && midiOutOpen_) {
        try {
            MidiOutput1.PutEvent(TMyMidiEvent::FromFileEvent(*event));
        } catch (const std::exception&) {
            // One lost message; the song goes on.
        }
    }
    TSaverOverlays::Of(window_).MidiScope1->NoteEvent(event->Status, event->Data1, event->Data2);
}

void TSaverMusic::MidiFile1UpdateEvent() {
    if (!MidiFile1.AllTracksDone() || window_.FileManager().TrackCount() <= 0) return;
    StopMidi();
    if (!window_.MusicClosing) ScheduleNext();
}

void TSaverMusic::AudioPlayer1PlayEnd() {
    if (window_.FileManager().TrackCount() <= 0) return;
    // Only the track we started can end: a second end report (a late event after the stall check or
    // a close) would otherwise start another gap and skip a track.
    if (!bassPlaying_) return;
    if (AudioPlayer1) AudioPlayer1->Close();
    bassPlaying_ = false;
    if (!window_.MusicClosing) ScheduleNext();
}

// ---- the music clock ----

void TSaverMusic::Timer2Timer() {
    const TRegData& s = window_.Settings();
    TFileManage& files = window_.FileManager();
    if (s.UseSound && !window_.IsPreview() && s.VolContl && s.TimeZone != 0) {
        bool mute = InMuteWindow(s.TimeZone, muteStart_, muteEnd_);
        if (mute != muteState_) {
            muteState_ = mute;
            if (files.TrackCount() > 0) {
                std::string track;
                files.CurrentTrack(track);
                if (IsBassExt(ExtractFileExt(ResolveLinkPath(track))))
                    SetWaveLevel();
                else
                    SetMidiLevel();
            }
        }
    }
    if (gapCountdown_ > 0 && --gapCountdown_ == 0 && files.TrackCount() > 0 && !window_.MusicClosing) {
        if (!window_.Grouping()) {
            std::string track;
            files.NextTrack(track);
            window_.PlayTrack(track);
        } else {
            window_.GroupChangeRequested = true;
        }
    }
    // A small file may stop without reporting its end: a position that stands still ends it.
    if (bassPlaying_ && smallFile_ && AudioPlayer1) {
        int64_t position = AudioPlayer1->GetPosition();
        if (lastPosition_ != 0 && lastPosition_ == position) {
            AudioPlayer1->Stop();
            AudioPlayer1PlayEnd();
        }
        lastPosition_ = position;
    }
}

// ---- installation ----

TSaverExtras MakeSaverExtras() {
    TSaverExtras extras;
    extras.Create = [](TDesktopWindow& w) { TSaverMusic::Create(w).FormCreate(); };
    extras.Show = [](TDesktopWindow& w) {
        if (TSaverMusic* music = TSaverMusic::Find(w)) music->FormShow();
    };
    extras.PlayTrack = [](TDesktopWindow& w, const std::string& name) {
        if (TSaverMusic* music = TSaverMusic::Find(w)) music->PlayTrack(name);
    };
    extras.Close = [](TDesktopWindow& w) {
        if (TSaverMusic* music = TSaverMusic::Find(w)) music->FormClose();
    };
    extras.ClockTick = [](TDesktopWindow& w) {
        if (TSaverMusic* music = TSaverMusic::Find(w)) music->Timer2Timer();
    };
    extras.PlaceLogo = [](TDesktopWindow& w) { TSaverOverlays::Of(w).PlaceLogo(); };
    extras.HideLogo = [](TDesktopWindow& w) { TSaverOverlays::Of(w).HideLogo(); };
    extras.DrawCaption = [](TDesktopWindow& w, TBitmap& picture) {
        TSaverOverlays::Of(w).DrawCaption(picture);
    };
    return extras;
}

void InstallSaverExtras() {
    SetSaverExtras(MakeSaverExtras());
}

} // namespace lumora
