#pragma once
// Background music of the full-screen saver: the tracks of the sound folder tree one after another,
// through the audio player or, for MIDI files, through the MIDI file player and a MIDI output, with
// a gap between tracks counted on the window's 100 ms clock, sound-to-picture groups, the mixer
// levels per kind of track and the time-of-day mute window. There is no music in the preview.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <QObject>

#include "audio/mixer/AudioMixer.h"
#include "audio/midi/MidiFile.h"
#include "audio/midi/MidiOut.h"
#include "audio/player/SoundEffects.h"
#include "engine/saver/SaverWindow.h"
#include "framework/Classes.h"

namespace lumora {

// The audio player as the music uses it. The program's player stands behind it; tests install a
// double that ends tracks when told.
class ISaverPlayer {
public:
    virtual ~ISaverPlayer() = default;
    // The library loaded and its sound device initialised.
    virtual bool Ready() const = 0;
    virtual bool Open(const std::string& name) = 0;
    virtual void Play() = 0;
    virtual void Stop() = 0;
    virtual void Close() = 0;
    // The mode is "playing".
    virtual bool Playing() const = 0;
    virtual int64_t GetPosition() = 0;
    virtual int64_t GetPlayLength() = 0;
    virtual uint8_t SoundEffects() const = 0;
    virtual void SetSoundEffects(uint8_t flags) = 0;
    virtual void SetEQGains(const std::array<float, kEqBands>& gains) = 0;
    virtual void SetEchoLevel(int level) = 0;
    virtual void SetReverbLevel(int level) = 0;
    virtual void SetVolume(int volume) = 0;

    TNotifyEvent OnPlayEnd;
    std::function<void(const TBandOut& bands)> OnNewFFTData;
};
using TSaverPlayerFactory = std::function<std::unique_ptr<ISaverPlayer>()>;
// The player every saver window made afterwards gets; an empty factory restores the program's own.
void SetSaverPlayerFactory(TSaverPlayerFactory factory);

// Files under this size are watched for a position that stops moving (they may never report an end).
constexpr int64_t kSmallFileBytes = 20000;

// The music of one saver window; a child object of the window, made when the window is created with
// music on.
class TSaverMusic : public QObject {
public:
    // The music of the window, or nullptr when it has none.
    static TSaverMusic* Find(TDesktopWindow& window);
    static TSaverMusic& Create(TDesktopWindow& window);
    ~TSaverMusic() override;

    // The window's life: end of creation, showing and closing.
    void FormCreate();
    void FormShow();
    void FormClose();

    // Starts one track (the window has already deferred it while a picture changes).
    void PlayTrack(const std::string& name);
    // The 100 ms music clock: mute window, gap countdown, stall check.
    void Timer2Timer();
    void AudioPlayer1PlayEnd();
    void MidiFile1MidiEvent(PMidiEvent event);
    void MidiFile1UpdateEvent();
    void OpenMidiOut();
    void CloseMidiOut();
    void MidiAllSoundOff();

    std::unique_ptr<ISaverPlayer> AudioPlayer1;
    TMidiFile MidiFile1;
    TMidiOutput MidiOutput1;
    std::unique_ptr<TAudioMixer> AudioMixer1;

    // State the tests read.
    int GapCountdown() const { return gapCountdown_; }
    bool BassPlaying() const { return bassPlaying_; }
    bool BassTrack() const { return bassTrack_; }
    bool SmallFile() const { return smallFile_; }
    bool MidiOutOpen() const { return midiOutOpen_; }
    bool MuteState() const { return muteState_; }
    int SongLength() const { return songLength_; }
    bool MixerSaved() const { return mixerSaved_; }

private:
    explicit TSaverMusic(TDesktopWindow& window);
    // After a track ended or failed: the gap countdown, or with groups the next group's turn.
    void ScheduleNext();
    void ShowNotice(const std::string& text);
    bool MuteApplies() const;
    void SetWaveLevel();
    void SetMidiLevel();
    void StartBassTrack(const std::string& name, const std::string& file);
    void StartMidiTrack(const std::string& name, const std::string& file);
    void StopMidi();

    TDesktopWindow& window_;
    int gapCountdown_ = 0;
    bool bassPlaying_ = false, bassTrack_ = false, smallFile_ = false, midiOutOpen_ = false;
    bool muteState_ = false;
    bool mixerSaved_ = false;
    int muteStart_ = 0, muteEnd_ = 0;
    int64_t lastPosition_ = 0;
    int songLength_ = 0;
};

// The window's hooks for the music and the overlays.
TSaverExtras MakeSaverExtras();
// Installs them into every saver window made from now on.
void InstallSaverExtras();

} // namespace lumora
