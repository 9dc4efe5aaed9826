#pragma once
// The MIDI file player: reads a standard MIDI file (formats 0, 1 and 2, also wrapped in a RIFF
// ".rmi" file) into one event list per track and hands the events to its owner by wall-clock time,
// from a 10 ms timer on the main thread. It makes no sound itself; the owner sends the events on.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"

namespace lumora {

// A MIDI file that cannot be read: damaged, truncated, or not a MIDI file at all.
class EMidiFileError : public EReadError {
    using EReadError::EReadError;
};

struct TMidiEvent {
    uint8_t Status = 0; // the status byte, $FF for a meta event
    uint8_t Data1 = 0;  // first data byte; a meta event's type
    uint8_t Data2 = 0;
    // Meta events: their data bytes. System-exclusive events ($F0, $F7): the bytes to send, a $F0
    // block with its leading $F0.
    std::string Data;
    int Delta = 0;      // ticks since the track's previous event
    int Time = 0;       // ticks from the start of the track
    int NoteLength = 0; // a note-on: ticks until its note-off; -1 on the closing note-off; else 0

    bool IsMeta() const { return Status == 0xFF; }
    bool IsSysEx() const { return Status == 0xF0 || Status == 0xF7; }
    // A meta event's data as text in UTF-8, read as 8-bit legacy text (the UTF-8, CP932 or
    // Windows-1252 reading that is most plausible, framework/LegacyText).
    std::string Text() const;
};
using PMidiEvent = TMidiEvent*;
using TOnMidiEvent = std::function<void(PMidiEvent event)>;

class TMidiTrack : public TObject {
public:
    int EventCount() const { return static_cast<int>(events_.size()); }
    PMidiEvent GetEvent(int index) { return index >= 0 && index < EventCount() ? &events_[index] : nullptr; }
    const std::string& TrackName() const { return trackName_; }
    const std::string& InstrumentName() const { return instrumentName_; }
    int PlayIndex() const { return playIndex_; }
    bool Done() const { return done_; }
    // Moves the play position to the first event at time t or later.
    void Rewind(int t);

private:
    friend class TMidiFile;
    std::vector<TMidiEvent> events_;
    std::string trackName_;
    std::string instrumentName_;
    int playIndex_ = 0;
    bool done_ = false;
};

enum class TFileFormat { single_f, multi_synch, multi_asynch };

class TMidiFile {
public:
    TMidiFile();
    ~TMidiFile();
    TMidiFile(const TMidiFile&) = delete;
    TMidiFile& operator=(const TMidiFile&) = delete;

    const std::string& Filename() const { return filename_; }
    void SetFilename(const std::string& name) { filename_ = name; }
    // Reads Filename; raises EFOpenError when it cannot be opened and EReadError (EMidiFileError for a
    // damaged file) when it cannot be read. A failed load leaves no tracks.
    void LoadFile();
    void LoadFromBytes(const uint8_t* data, size_t size);

    int NumberOfTracks() const { return static_cast<int>(tracks_.size()); }
    TMidiTrack* GetTrack(int index);
    int TicksPerQuarter() const { return ticksPerQuarter_; }
    TFileFormat FileFormat() const { return fileFormat_; }
    // Beats per minute of the tempo at the start of the song.
    int Bpm() const { return bpm_; }
    // Plays the whole song at this tempo from now on.
    void SetBpm(int value);
    double MicrosecondsPerTick() const;
    // True when the header gives frames per second rather than ticks per quarter note.
    bool IsSmpte() const { return smpte_; }

    TOnMidiEvent OnMidiEvent;
    TNotifyEvent OnUpdateEvent;

    void Play();
    void Stop();
    bool Playing() const { return playing_; }
    int PlayTimeMs() const { return static_cast<int>(lastElapsed_); }
    int SongLengthMs() const;
    bool AllTracksDone() const;

    // The timer's period in milliseconds while playing.
    uint32_t TimerPeriod() const { return period_; }

private:
    struct TempoSegment {
        int64_t Tick;
        double MicrosecondsPerTick;
    };
    void Clear();
    void Parse(const uint8_t* data, size_t size);
    void ParseHeader(const uint8_t* p, size_t length);
    void ParseTrack(const uint8_t* p, size_t length, size_t& totalEvents);
    void BuildTempoMap();
    void AdvanceSong(double microseconds);
    double MicrosecondsAt(int64_t tick) const;
    void Tick();
    void StartTimer();
    void StopTimer();

    std::string filename_;
    std::vector<std::unique_ptr<TMidiTrack>> tracks_;
    int declaredTracks_ = 0;
    int ticksPerQuarter_ = 0;
    TFileFormat fileFormat_ = TFileFormat::single_f;
    bool smpte_ = false;
    double smpteMicrosecondsPerTick_ = 0;
    int bpm_ = 120;
    // Tempo events as read: tick, microseconds per quarter; the map is built from them.
    std::vector<std::pair<int64_t, uint32_t>> tempos_;
    std::vector<TempoSegment> tempoMap_;
    size_t segment_ = 0;

    bool playing_ = false;
    uint32_t startTick_ = 0;
    uint32_t lastElapsed_ = 0;
    double songTicks_ = 0;
    uint64_t generation_ = 0; // changes on every load, so a handler that reloads stops the old walk
    uint32_t period_ = 0;
    TTimer timer_;
};

} // namespace lumora
