#include "audio/midi/MidiFile.h"

#include <algorithm>
#include <array>
#include <cfenv>
#include <climits>
#include <cmath>

#include "framework/Checked.h"
#include "framework/LegacyText.h"
#include "platform/system/Clock.h"

namespace lumora {

namespace {

// Files larger than this are not songs a screensaver plays; refusing them bounds the memory a
// hostile file can make us spend, together with the event budget below.
constexpr int64_t kMaxFileSize = 64 * 1024 * 1024;
constexpr size_t kMaxEvents = 4 * 1024 * 1024;
constexpr uint32_t kDefaultTempo = 500000; // microseconds per quarter note: 120 bpm

uint32_t BigEndian(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
    return v;
}

uint32_t LittleEndian32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// Reads a variable-length number of at most four bytes, within [p, end).
uint32_t ReadVarLen(const uint8_t*& p, const uint8_t* end) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        if (p >= end) throw EMidiFileError("MIDI file: track ends inside a variable-length number");
        uint8_t b = *p++;
        value = value << 7 | (b & 0x7F);
        if (!(b & 0x80)) return value;
    }
    throw EMidiFileError("MIDI file: variable-length number longer than four bytes");
}

int ChannelDataLength(uint8_t status) {
    if (status >= 0xF0) {
        switch (status) {
        case 0xF1:
        case 0xF3: return 1;
        case 0xF2: return 2;
        default: return 0;
        }
    }
    return (status & 0xE0) == 0xC0 ? 1 : 2; // $Cn and $Dn take one data byte
}

} // namespace

std::string TMidiEvent::Text() const { return IsMeta() ? DecodeLegacyText(Data) : std::string(); }

void TMidiTrack::Rewind(int t) {
    auto it = std::lower_bound(events_.begin(), events_.end(), t,
                               [](const TMidiEvent& e, int time) { return e.Time < time; });
    playIndex_ = static_cast<int>(it - events_.begin());
    done_ = playIndex_ >= EventCount();
}

TMidiFile::TMidiFile() {
    timer_.SetEnabled(false);
    timer_.OnTimer = [this] { Tick(); };
}

TMidiFile::~TMidiFile() { Stop(); }

TMidiTrack* TMidiFile::GetTrack(int index) {
    return index >= 0 && index < NumberOfTracks() ? tracks_[index].get() : nullptr;
}

void TMidiFile::Clear() {
    // A song being replaced stops; the new one starts with Play.
    Stop();
    ++generation_;
    tracks_.clear();
    tempos_.clear();
    tempoMap_.clear();
    segment_ = 0;
    declaredTracks_ = 0;
    ticksPerQuarter_ = 0;
    smpte_ = false;
    bpm_ = 120;
}

void TMidiFile::LoadFile() {
    Clear();
    TFileStream file(filename_, fmOpenRead | fmShareDenyWrite);
    int64_t size = file.Size();
    if (size > kMaxFileSize) throw EMidiFileError("MIDI file too large: " + filename_);
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max<int64_t>(size, 0)));
    file.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    LoadFromBytes(bytes.data(), bytes.size());
}

void TMidiFile::LoadFromBytes(const uint8_t* data, size_t size) {
    Clear();
    try {
        if (static_cast<int64_t>(std::min<size_t>(size, INT64_MAX)) > kMaxFileSize)
            throw EMidiFileError("MIDI file too large");
        // A RIFF ".rmi" file carries the standard MIDI file in its "data" chunk.
        if (size >= 12 && std::equal(data, data + 4, "RIFF") && std::equal(data + 8, data + 12, "RMID")) {
            size_t pos = 12;
            for (;;) {
                if (size - pos < 8) throw EMidiFileError("RIFF MIDI file without a data chunk");
                uint64_t length = LittleEndian32(data + pos + 4);
                if (length > size - pos - 8) throw EMidiFileError("RIFF MIDI file: chunk runs past the end of the file");
                if (std::equal(data + pos, data + pos + 4, "data")) {
                    Parse(data + pos + 8, static_cast<size_t>(length));
                    break;
                }
                pos += 8 + static_cast<size_t>(length) + (length & 1);
                if (pos > size) throw EMidiFileError("RIFF MIDI file without a data chunk");
            }
        } else {
            Parse(data, size);
        }
    } catch (...) {
        Clear();
        throw;
    }
}

void TMidiFile::Parse(const uint8_t* data, size_t size) {
    bool header = false;
    size_t pos = 0;
    size_t totalEvents = 0;
    // Fewer than 8 bytes after the last chunk cannot be a chunk; such padding is ignored.
    while (size - pos >= 8) {
        const uint8_t* chunk = data + pos;
        uint64_t length = BigEndian(chunk + 4, 4);
        if (length > size - pos - 8) throw EMidiFileError("MIDI file: chunk runs past the end of the file");
        const uint8_t* body = chunk + 8;
        if (std::equal(chunk, chunk + 4, "MThd")) {
            if (header) throw EMidiFileError("MIDI file: second header chunk");
            ParseHeader(body, static_cast<size_t>(length));
            header = true;
        } else if (std::equal(chunk, chunk + 4, "MTrk")) {
            if (!header) throw EMidiFileError("Not a standard MIDI file: track before the header");
            ParseTrack(body, static_cast<size_t>(length), totalEvents);
        }
        pos += 8 + static_cast<size_t>(length);
    }
    if (!header) throw EMidiFileError("Not a standard MIDI file");
    BuildTempoMap();
}

void TMidiFile::ParseHeader(const uint8_t* p, size_t length) {
    if (length < 6) throw EMidiFileError("MIDI file: header chunk too short");
    switch (p[1]) { // the low byte of the format field, as the format was always read
    case 0: fileFormat_ = TFileFormat::single_f; break;
    case 1: fileFormat_ = TFileFormat::multi_synch; break;
    case 2: fileFormat_ = TFileFormat::multi_asynch; break;
    default: break;
    }
    declaredTracks_ = static_cast<int>(BigEndian(p + 2, 2));
    uint32_t division = BigEndian(p + 4, 2);
    ticksPerQuarter_ = static_cast<int>(division);
    if (division & 0x8000) {
        // Frames per second (as a negative byte) and ticks per frame; 29 stands for 29.97.
        int fps = -static_cast<int8_t>(division >> 8);
        int ticksPerFrame = division & 0xFF;
        if (fps <= 0 || ticksPerFrame == 0) throw EMidiFileError("MIDI file: zero frame rate");
        smpte_ = true;
        smpteMicrosecondsPerTick_ = 1e6 / ((fps == 29 ? 29.97 : fps) * ticksPerFrame);
    } else if (division == 0) {
        throw EMidiFileError("MIDI file: zero ticks per quarter note");
    }
}

void TMidiFile::ParseTrack(const uint8_t* p, size_t length, size_t& totalEvents) {
    auto track = std::make_unique<TMidiTrack>();
    const uint8_t* end = p + length;
    uint8_t running = 0;
    int64_t time = 0;
    // The note-ons still sounding, per channel and note, most recent last: a closing event finds its
    // note-on at once instead of searching back through the track.
    std::vector<std::vector<int>> open(16 * 128);
    while (p < end) {
        uint32_t delta = ReadVarLen(p, end);
        if (p >= end) throw EMidiFileError("MIDI file: track ends after a delta time");
        uint8_t status;
        if (*p >= 0x80) {
            status = *p++;
            // Only channel messages set the running status; meta and system-exclusive events leave it.
            if (status < 0xF0) running = status;
        } else {
            if (!running) throw EMidiFileError("MIDI file: data byte without a status byte");
            status = running;
        }
        if (++totalEvents > kMaxEvents) throw EMidiFileError("MIDI file: too many events");
        TMidiEvent ev;
        ev.Status = status;
        ev.Delta = static_cast<int>(delta);
        if (status == 0xFF) {
            if (p >= end) throw EMidiFileError("MIDI file: track ends inside a meta event");
            ev.Data1 = *p++;
            uint32_t n = ReadVarLen(p, end);
            if (n > static_cast<size_t>(end - p)) throw EMidiFileError("MIDI file: meta event runs past its track");
            ev.Data.assign(reinterpret_cast<const char*>(p), n);
            p += n;
        } else if (status == 0xF0 || status == 0xF7) {
            uint32_t n = ReadVarLen(p, end);
            if (n > static_cast<size_t>(end - p))
                throw EMidiFileError("MIDI file: system-exclusive event runs past its track");
            if (status == 0xF0) ev.Data.assign(1, static_cast<char>(0xF0));
            ev.Data.append(reinterpret_cast<const char*>(p), n);
            p += n;
        } else {
            int n = ChannelDataLength(status);
            if (n > end - p) throw EMidiFileError("MIDI file: track ends inside an event");
            if (n >= 1) ev.Data1 = p[0];
            if (n >= 2) ev.Data2 = p[1];
            p += n;
        }
        time += delta;
        if (time > INT_MAX) throw EMidiFileError("MIDI file: track too long");
        ev.Time = static_cast<int>(time);
        int index = track->EventCount();
        if (ev.IsMeta()) {
            if (ev.Data1 == 3) track->trackName_ = DecodeLegacyText(ev.Data);
            if (ev.Data1 == 4) track->instrumentName_ = DecodeLegacyText(ev.Data);
            if (ev.Data1 == 0x51 && ev.Data.size() >= 3) {
                uint32_t tempo = BigEndian(reinterpret_cast<const uint8_t*>(ev.Data.data()), 3);
                if (tempo > 0) tempos_.push_back({time, tempo}); // a zero tempo has no meaning; skipped
            }
        } else if (status < 0xF0) {
            uint8_t kind = status & 0xF0;
            auto& notes = open[(status & 0x0F) * 128 + (ev.Data1 & 0x7F)];
            if (kind == 0x90 && ev.Data2 > 0) {
                notes.push_back(index);
            } else if (kind == 0x80 || kind == 0x90) {
                if (!notes.empty()) {
                    TMidiEvent& on = track->events_[notes.back()];
                    on.NoteLength = ev.Time - on.Time;
                    notes.pop_back();
                }
                ev.NoteLength = -1;
            }
        }
        track->events_.push_back(std::move(ev));
    }
    track->Rewind(0);
    tracks_.push_back(std::move(track));
}

void TMidiFile::BuildTempoMap() {
    tempoMap_.clear();
    segment_ = 0;
    if (smpte_) {
        tempoMap_.push_back({0, smpteMicrosecondsPerTick_});
        bpm_ = 120;
        return;
    }
    // Tempo changes of every track make one map; of two changes at the same tick the later one read wins.
    std::stable_sort(tempos_.begin(), tempos_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    uint32_t initial = kDefaultTempo;
    tempoMap_.push_back({0, double(initial) / ticksPerQuarter_});
    for (const auto& [tick, tempo] : tempos_) {
        double perTick = double(tempo) / ticksPerQuarter_;
        if (tempoMap_.back().Tick == tick)
            tempoMap_.back().MicrosecondsPerTick = perTick;
        else
            tempoMap_.push_back({tick, perTick});
        if (tick == 0) initial = tempo;
    }
    bpm_ = static_cast<int>(60000000 / initial);
}

void TMidiFile::SetBpm(int value) {
    if (value <= 0 || value == bpm_ || ticksPerQuarter_ <= 0 || smpte_) return;
    uint32_t t = 60000000u / static_cast<uint32_t>(value);
    bpm_ = static_cast<int>(60000000u / t);
    // The song keeps its place: the new tempo applies from the current position on.
    tempoMap_.assign(1, TempoSegment{0, double(t) / ticksPerQuarter_});
    segment_ = 0;
}

double TMidiFile::MicrosecondsPerTick() const {
    return tempoMap_.empty() ? double(kDefaultTempo) / std::max(ticksPerQuarter_, 1) : tempoMap_.front().MicrosecondsPerTick;
}

void TMidiFile::AdvanceSong(double microseconds) {
    if (tempoMap_.empty()) return;
    while (microseconds > 0) {
        while (segment_ + 1 < tempoMap_.size() && double(tempoMap_[segment_ + 1].Tick) <= songTicks_) ++segment_;
        double perTick = tempoMap_[segment_].MicrosecondsPerTick;
        if (segment_ + 1 < tempoMap_.size()) {
            double toNext = (double(tempoMap_[segment_ + 1].Tick) - songTicks_) * perTick;
            if (microseconds >= toNext) {
                songTicks_ = double(tempoMap_[segment_ + 1].Tick);
                microseconds -= toNext;
                ++segment_;
                continue;
            }
        }
        songTicks_ += microseconds / perTick;
        break;
    }
}

double TMidiFile::MicrosecondsAt(int64_t tick) const {
    double us = 0;
    for (size_t i = 0; i < tempoMap_.size(); ++i) {
        int64_t from = tempoMap_[i].Tick;
        if (from >= tick) break;
        int64_t to = i + 1 < tempoMap_.size() ? std::min(tempoMap_[i + 1].Tick, tick) : tick;
        us += double(to - from) * tempoMap_[i].MicrosecondsPerTick;
    }
    return us;
}

int TMidiFile::SongLengthMs() const {
    int64_t last = 0;
    for (const auto& track : tracks_)
        if (track->EventCount() > 0) last = std::max<int64_t>(last, track->events_.back().Time);
    double ms = std::nearbyint(MicrosecondsAt(last) / 1000.0);
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

bool TMidiFile::AllTracksDone() const {
    return std::all_of(tracks_.begin(), tracks_.end(), [](const auto& t) { return t->Done(); });
}

void TMidiFile::Play() {
    StopTimer();
    for (auto& track : tracks_) track->Rewind(0);
    startTick_ = timeGetTime();
    playing_ = true;
    songTicks_ = 0;
    segment_ = 0;
    lastElapsed_ = 0;
    StartTimer();
}

void TMidiFile::Stop() {
    playing_ = false;
    StopTimer();
}

void TMidiFile::StartTimer() {
    TIMECAPS caps = timeGetDevCaps();
    period_ = caps.wPeriodMin >= 11 ? caps.wPeriodMin : std::min<uint32_t>(caps.wPeriodMax, 10);
    if (period_ == 0) period_ = 10;
    timeBeginPeriod(period_);
    timer_.SetInterval(period_);
    timer_.SetEnabled(true);
}

void TMidiFile::StopTimer() {
    if (!timer_.Enabled()) return;
    timer_.SetEnabled(false);
    timeEndPeriod(period_);
}

void TMidiFile::Tick() {
    if (!playing_) return;
    uint32_t elapsed = timeGetTime() - startTick_;
    AdvanceSong(double(elapsed - lastElapsed_) * 1000.0);
    lastElapsed_ = elapsed;
    const double due = std::nearbyint(songTicks_); // ties to even
    const uint64_t generation = generation_;
    for (size_t t = 0; t < tracks_.size(); ++t) {
        TMidiTrack& track = *tracks_[t];
        while (OnMidiEvent && track.playIndex_ < track.EventCount() && track.events_[track.playIndex_].Time < due) {
            // The index moves on before the handler runs, so a handler that raises does not get the
            // same event again on every tick.
            PMidiEvent ev = &track.events_[track.playIndex_++];
            OnMidiEvent(ev);
            if (generation != generation_ || !playing_) return; // reloaded or stopped by the handler
        }
        track.done_ = track.playIndex_ >= track.EventCount();
    }
    if (OnUpdateEvent) OnUpdateEvent();
}

} // namespace lumora
