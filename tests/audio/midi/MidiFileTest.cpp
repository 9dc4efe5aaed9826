// The MIDI file player: reading files (as mido reads them), damaged files, and play-out timing on
// the virtual clock.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "audio/midi/MidiFile.h"
#include "platform/system/Clock.h"
#include "tests/audio/midi/MidiTestUtil.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

using namespace lumora::test;

void Load(TMidiFile& file, const std::string& bytes) {
    file.LoadFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string LoadError(const std::string& bytes) {
    TMidiFile file;
    try {
        Load(file, bytes);
    } catch (const EMidiFileError& e) {
        EXPECT_EQ(file.NumberOfTracks(), 0) << "a failed load leaves no tracks";
        return e.what();
    }
    return "";
}

TEST(MidiFileRead, HeaderTempoAndTickLength) {
    TMidiFile file;
    Load(file, Smf(1, 480, {Tempo(0, 500000) + EndOfTrack(), Msg(0, {0x90, 60, 100}) + EndOfTrack()}));
    EXPECT_EQ(file.FileFormat(), TFileFormat::multi_synch);
    EXPECT_EQ(file.NumberOfTracks(), 2);
    EXPECT_EQ(file.TicksPerQuarter(), 480);
    EXPECT_EQ(file.Bpm(), 120);
    EXPECT_NEAR(file.MicrosecondsPerTick(), 1041.6666, 0.001);

    // A file without a tempo plays at 120 bpm, whatever the file before it said.
    Load(file, Smf(0, 96, {Tempo(0, 250000) + EndOfTrack()}));
    EXPECT_EQ(file.Bpm(), 240);
    Load(file, Smf(0, 96, {Msg(0, {0x90, 60, 100}) + EndOfTrack()}));
    EXPECT_EQ(file.FileFormat(), TFileFormat::single_f);
    EXPECT_EQ(file.Bpm(), 120);
    EXPECT_NEAR(file.MicrosecondsPerTick(), 500000.0 / 96, 1e-9);

    // Bpm written as 120 with 480 ticks per quarter.
    Load(file, Smf(1, 480, {Tempo(0, 400000) + EndOfTrack()}));
    file.SetBpm(120);
    EXPECT_EQ(file.Bpm(), 120);
    EXPECT_NEAR(file.MicrosecondsPerTick(), 1041.6666, 0.001);
    file.SetBpm(0); // ignored rather than dividing by zero
    EXPECT_EQ(file.Bpm(), 120);
}

TEST(MidiFileRead, RunningStatusNotesAndNames) {
    TMidiFile file;
    std::string track = VarLen(0) + Bytes({0xFF, 0x03, 0x04}) + "Lead" +        // track name
                        Msg(0, {0xC0, 5}) +                                     // program change, one data byte
                        Msg(0, {0x90, 60, 100}) + Msg(10, {64, 90}) +           // running status
                        Msg(20, {60, 0}) +                                      // velocity 0 closes note 60
                        Msg(5, {0x80, 64, 0}) +                                 // note-off closes 64
                        Msg(0, {0x91, 60, 70}) + Msg(7, {0x81, 60, 0}) +        // channel 1: its own note
                        EndOfTrack();
    Load(file, Smf(0, 96, {track}));
    TMidiTrack* t = file.GetTrack(0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->TrackName(), "Lead");
    ASSERT_EQ(t->EventCount(), 9);
    auto ev = [&](int i) { return *t->GetEvent(i); };
    EXPECT_EQ(ev(1).Status, 0xC0);
    EXPECT_EQ(ev(1).Data1, 5);
    EXPECT_EQ(ev(3).Status, 0x90);
    EXPECT_EQ(ev(3).Data1, 64);
    EXPECT_EQ(ev(3).Time, 10);
    EXPECT_EQ(ev(2).NoteLength, 30); // closed by the velocity-0 note-on at tick 30
    EXPECT_EQ(ev(4).NoteLength, -1);
    EXPECT_EQ(ev(3).NoteLength, 25); // closed by the note-off at tick 35
    EXPECT_EQ(ev(5).NoteLength, -1);
    EXPECT_EQ(ev(6).NoteLength, 7);
    EXPECT_EQ(ev(8).Time, 42);
}

TEST(MidiFileRead, SystemExclusiveAndMetaLengths) {
    TMidiFile file;
    std::string track = Msg(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}) +   // GM reset
                        Msg(0, {0xF7, 0x02, 0x12, 0x34}) +                      // escaped bytes
                        Msg(3, {0x90, 60, 1}) +
                        VarLen(0) + Bytes({0xFF, 0x01, 0x81, 0x00}) + std::string(128, 'x') + // two-byte length
                        Msg(1, {60, 0}) + EndOfTrack();                         // running status survives
    Load(file, Smf(0, 96, {track}));
    TMidiTrack* t = file.GetTrack(0);
    ASSERT_EQ(t->EventCount(), 6);
    EXPECT_EQ(t->GetEvent(0)->Data, Bytes({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    EXPECT_EQ(t->GetEvent(1)->Data, Bytes({0x12, 0x34}));
    EXPECT_EQ(t->GetEvent(2)->Status, 0x90);
    EXPECT_EQ(t->GetEvent(3)->Data.size(), 128u);
    EXPECT_EQ(t->GetEvent(3)->Text(), std::string(128, 'x'));
    EXPECT_EQ(t->GetEvent(4)->Status, 0x90);
    EXPECT_EQ(t->GetEvent(4)->Time, 4);
}

TEST(MidiFileRead, LegacyTextIsDecoded) {
    TMidiFile file;
    // "曲" in CP932, then a byte that is not CP932 (read as Windows-1252).
    std::string track = VarLen(0) + Bytes({0xFF, 0x03, 0x02, 0x8B, 0xC8}) + VarLen(0) + Bytes({0xFF, 0x04, 0x01, 0xA0}) +
                        EndOfTrack();
    Load(file, Smf(0, 96, {track}));
    EXPECT_EQ(file.GetTrack(0)->TrackName(), "\xE6\x9B\xB2");
    EXPECT_EQ(file.GetTrack(0)->InstrumentName(), "\xC2\xA0"); // U+00A0
}

TEST(MidiFileRead, RiffWrappedFile) {
    std::string smf = Smf(0, 96, {Msg(0, {0x90, 60, 100}) + EndOfTrack()});
    auto le = [](uint32_t v) { return Bytes({int(v & 0xFF), int(v >> 8 & 0xFF), int(v >> 16 & 0xFF), int(v >> 24)}); };
    std::string body = std::string("RMID") + "LIST" + le(3) + "abc" + std::string(1, '\0') + "data" + le(smf.size()) + smf;
    TMidiFile file;
    Load(file, "RIFF" + le(body.size()) + body);
    ASSERT_EQ(file.NumberOfTracks(), 1);
    EXPECT_EQ(file.GetTrack(0)->GetEvent(0)->Data1, 60);
    EXPECT_NE(LoadError("RIFF" + le(4) + "RMID"), "");
}

TEST(MidiFileRead, DamagedFilesGiveClearErrors) {
    std::string good = Msg(0, {0x90, 60, 100}) + EndOfTrack();
    EXPECT_NE(LoadError(""), "");
    EXPECT_NE(LoadError("not a midi file at all"), "");
    // A track chunk whose length runs past the file.
    std::string truncated = Smf(0, 96, {good});
    truncated.resize(truncated.size() - 2);
    EXPECT_NE(LoadError(truncated).find("past the end"), std::string::npos);
    // Oversized lengths inside the track.
    EXPECT_NE(LoadError(Smf(0, 96, {VarLen(0) + Bytes({0xFF, 0x01, 0x7F}) + "short"})).find("meta"), std::string::npos);
    EXPECT_NE(LoadError(Smf(0, 96, {VarLen(0) + Bytes({0xF0, 0x8F, 0xFF, 0xFF, 0x7F, 1})})), "");
    EXPECT_NE(LoadError(Smf(0, 96, {Bytes({0x80, 0x80, 0x80, 0x80, 0x00, 0x90, 60, 1})})).find("four bytes"),
              std::string::npos);
    EXPECT_NE(LoadError(Smf(0, 96, {Msg(0, {0x90, 60})})).find("inside an event"), std::string::npos);
    EXPECT_NE(LoadError(Smf(0, 96, {Msg(0, {60, 100})})).find("without a status"), std::string::npos);
    EXPECT_NE(LoadError(Smf(0, 96, {VarLen(5)})), "");
    // Zero division and zero frame rate never divide by zero.
    EXPECT_NE(LoadError(Smf(0, 0, {good})).find("zero"), std::string::npos);
    EXPECT_NE(LoadError(Smf(0, 0x8000, {good})).find("zero"), std::string::npos);
    EXPECT_NE(LoadError(Chunk("MThd", Bytes({0, 0, 0}))), "");
    EXPECT_NE(LoadError(Chunk("MTrk", good)), "");
}

TEST(MidiFileRead, ZeroTempoIsSkippedAndSmpteDivisions) {
    TMidiFile file;
    Load(file, Smf(0, 480, {Tempo(0, 0) + EndOfTrack(960)}));
    EXPECT_EQ(file.Bpm(), 120);
    EXPECT_EQ(file.SongLengthMs(), 1000);
    // 25 frames per second, 40 ticks per frame: one millisecond per tick, whatever the tempo.
    Load(file, Smf(0, 0xE728, {Tempo(0, 1000000) + EndOfTrack(2000)}));
    EXPECT_TRUE(file.IsSmpte());
    EXPECT_NEAR(file.MicrosecondsPerTick(), 1000.0, 1e-9);
    EXPECT_EQ(file.SongLengthMs(), 2000);
}

TEST(MidiFileRead, MissingFileRaises) {
    TMidiFile file;
    file.SetFilename("/nonexistent/song.mid");
    EXPECT_THROW(file.LoadFile(), EFOpenError);
    TempDir dir;
    file.SetFilename(dir.WriteFile("song.mid", Smf(0, 96, {Msg(0, {0x90, 60, 100}) + EndOfTrack()})));
    file.LoadFile();
    EXPECT_EQ(file.NumberOfTracks(), 1);
}

// ---- play-out on the virtual clock ----

class MidiPlay : public ::testing::Test {
protected:
    void SetUp() override {
        clock = std::make_unique<VirtualClock>();
        SetClock(clock.get());
    }
    void TearDown() override {
        SetClock(nullptr);
        clock.reset();
    }
    // Records each event with the milliseconds since Play.
    void Record(TMidiFile& file, std::vector<std::pair<uint32_t, TMidiEvent>>& out) {
        file.OnMidiEvent = [this, &out](PMidiEvent e) { out.push_back({clock->timeGetTime() - start, *e}); };
    }
    void Play(TMidiFile& file) {
        start = clock->timeGetTime();
        file.Play();
    }
    std::unique_ptr<VirtualClock> clock;
    uint32_t start = 0;
};

TEST_F(MidiPlay, NoteAtTick480IsSentAfterHalfASecond) {
    TMidiFile file;
    Load(file, Smf(1, 480, {Tempo(0, 500000) + EndOfTrack(), Msg(480, {0x90, 60, 100}) + Msg(480, {0x80, 60, 0})}));
    std::vector<std::pair<uint32_t, TMidiEvent>> events;
    Record(file, events);
    int updates = 0;
    file.OnUpdateEvent = [&] { ++updates; };
    Play(file);
    EXPECT_EQ(file.TimerPeriod(), 10u);
    clock->Advance(499);
    for (auto& [ms, e] : events) EXPECT_NE(e.Status, 0x90) << "note sent early at " << ms;
    clock->Advance(1600);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_GE(events[2].first, 500u);
    EXPECT_LE(events[2].first, 510u);
    EXPECT_GE(events[3].first, 1000u);
    EXPECT_LE(events[3].first, 1010u);
    EXPECT_TRUE(file.AllTracksDone());
    EXPECT_GT(updates, 150);
    EXPECT_EQ(file.SongLengthMs(), 1000);
    EXPECT_GE(file.PlayTimeMs(), 2090);
}

TEST_F(MidiPlay, TempoChangesApplyFromTheirTick) {
    // 120 bpm for the first quarter, then 60 bpm: the note two quarters in comes at 1.5 s.
    TMidiFile file;
    Load(file, Smf(1, 96, {Tempo(0, 500000) + Tempo(96, 1000000) + EndOfTrack(), Msg(192, {0x90, 60, 100})}));
    EXPECT_EQ(file.Bpm(), 120);
    EXPECT_EQ(file.SongLengthMs(), 1500);
    std::vector<std::pair<uint32_t, TMidiEvent>> events;
    Record(file, events);
    Play(file);
    clock->Advance(2000);
    auto note = std::find_if(events.begin(), events.end(), [](auto& p) { return p.second.Status == 0x90; });
    ASSERT_NE(note, events.end());
    EXPECT_GE(note->first, 1500u);
    EXPECT_LE(note->first, 1520u);
}

TEST_F(MidiPlay, EmptyTracksAreDoneAtOnceAndNothingFlowsWithoutAHandler) {
    TMidiFile file;
    Load(file, Smf(1, 96, {"", ""}));
    bool doneSeen = false;
    file.OnUpdateEvent = [&] { doneSeen = file.AllTracksDone(); };
    Play(file);
    clock->Advance(10);
    EXPECT_TRUE(doneSeen);

    Load(file, Smf(0, 96, {Msg(0, {0x90, 60, 100})}));
    file.OnMidiEvent = nullptr;
    Play(file);
    clock->Advance(100);
    EXPECT_EQ(file.GetTrack(0)->PlayIndex(), 0);
    EXPECT_FALSE(file.AllTracksDone());
}

TEST_F(MidiPlay, ReplayStartsFromTheFirstEventAndStopHalts) {
    TMidiFile file;
    Load(file, Smf(0, 96, {Msg(0, {0xC0, 1}) + Msg(0, {0x90, 60, 100}) + Msg(96, {0x80, 60, 0})}));
    std::vector<std::pair<uint32_t, TMidiEvent>> events;
    Record(file, events);
    Play(file);
    clock->Advance(600);
    ASSERT_EQ(events.size(), 3u);
    events.clear();
    Play(file); // again, without loading
    clock->Advance(100);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0].second.Status, 0xC0);
    file.Stop();
    size_t count = events.size();
    clock->Advance(1000);
    EXPECT_EQ(events.size(), count);
    EXPECT_FALSE(file.Playing());
}

TEST_F(MidiPlay, HandlerThatRaisesOrReloadsIsSafe) {
    TMidiFile file;
    std::string song = Smf(0, 96, {Msg(0, {0x90, 60, 100}) + Msg(0, {0x90, 62, 100}) + Msg(0, {0x90, 64, 100})});
    Load(file, song);
    int calls = 0;
    file.OnMidiEvent = [&](PMidiEvent) {
        ++calls;
        throw Exception("device gone");
    };
    std::string reported;
    Application().OnException = [&](const std::exception& e) { reported = e.what(); };
    Play(file);
    clock->Advance(30);
    Application().OnException = nullptr;
    EXPECT_EQ(reported, "device gone");
    EXPECT_EQ(calls, 3) << "each event is handed over once, even when the handler raises";

    // A handler that loads another song stops the walk over the old tracks, and the player.
    Load(file, song);
    calls = 0;
    file.OnMidiEvent = [&](PMidiEvent) {
        ++calls;
        Load(file, Smf(0, 96, {""}));
    };
    Play(file);
    clock->Advance(30);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(file.NumberOfTracks(), 1);
    EXPECT_FALSE(file.Playing());
}

TEST_F(MidiPlay, TwoPlayersKeepTheirOwnClocks) {
    TMidiFile a, b;
    Load(a, Smf(0, 96, {Tempo(0, 500000) + Msg(96, {0x90, 60, 100})}));
    Load(b, Smf(0, 96, {Tempo(0, 1000000) + Msg(96, {0x90, 61, 100})}));
    std::vector<std::pair<uint32_t, TMidiEvent>> ea, eb;
    Record(a, ea);
    Record(b, eb);
    Play(a);
    clock->Advance(200);
    uint32_t startB = clock->timeGetTime();
    b.Play();
    clock->Advance(1500);
    ASSERT_EQ(ea.size(), 2u);
    ASSERT_EQ(eb.size(), 2u);
    EXPECT_LE(ea[1].first, 510u);
    EXPECT_GE(eb[1].first - (startB - start), 1000u);
    EXPECT_LE(eb[1].first - (startB - start), 1010u);
}

// ---- files written by mido read as mido reads them ----

const char* kMidoScript = R"PY(
import random, sys, mido
out = sys.argv[1]
rng = random.Random(7)
def song(fmt, tpb, tracks):
    f = mido.MidiFile(type=fmt, ticks_per_beat=tpb)
    for t in range(tracks):
        tr = mido.MidiTrack()
        f.tracks.append(tr)
        tr.append(mido.MetaMessage('track_name', name='Track %d' % t, time=0))
        if t == 0:
            tr.append(mido.MetaMessage('set_tempo', tempo=rng.choice([300000, 500000, 750000]), time=0))
            tr.append(mido.MetaMessage('time_signature', numerator=3, denominator=4, time=0))
        tr.append(mido.Message('sysex', data=[0x7E, 0x7F, 0x09, 0x01], time=0))
        for i in range(300):
            ch = rng.randrange(16)
            kind = rng.randrange(8)
            dt = rng.choice([0, 0, 1, 5, 120, 200, 16383, 16384, 300000])
            if kind < 3:
                tr.append(mido.Message('note_on', channel=ch, note=rng.randrange(128), velocity=rng.randrange(128), time=dt))
            elif kind == 3:
                tr.append(mido.Message('note_off', channel=ch, note=rng.randrange(128), velocity=rng.randrange(128), time=dt))
            elif kind == 4:
                tr.append(mido.Message('control_change', channel=ch, control=rng.randrange(128), value=rng.randrange(128), time=dt))
            elif kind == 5:
                tr.append(mido.Message('program_change', channel=ch, program=rng.randrange(128), time=dt))
            elif kind == 6:
                tr.append(mido.Message('pitchwheel', channel=ch, pitch=rng.randrange(-8192, 8192), time=dt))
            else:
                tr.append(mido.Message('aftertouch', channel=ch, value=rng.randrange(128), time=dt))
            if rng.randrange(20) == 0:
                tr.append(mido.MetaMessage('marker', text='m%d' % i, time=0))
        # Runs of one status, which mido writes with running status.
        for i in range(20):
            tr.append(mido.Message('note_on', channel=2, note=40 + i, velocity=64, time=3))
        tr.append(mido.MetaMessage('end_of_track', time=7))
    return f
for name, fmt, tpb, n in [('a', 1, 480, 3), ('b', 0, 96, 1), ('c', 1, 1920, 2)]:
    f = song(fmt, tpb, n)
    f.save('%s/%s.mid' % (out, name))
    with open('%s/%s.txt' % (out, name), 'w') as txt:
        g = mido.MidiFile('%s/%s.mid' % (out, name))
        txt.write('%d %d\n' % (g.type, g.ticks_per_beat))
        for tr in g.tracks:
            txt.write('track\n')
            t = 0
            for m in tr:
                t += m.time
                b = m.bytes()
                if m.is_meta:
                    i, n = 2, 0
                    while True:
                        n = (n << 7) | (b[i] & 0x7F)
                        i += 1
                        if b[i - 1] < 0x80:
                            break
                    b = [0xFF, b[1]] + b[i:]
                txt.write('%d %s\n' % (t, ' '.join('%02X' % x for x in b)))
)PY";

std::string Describe(TMidiFile& file) {
    std::ostringstream out;
    out << static_cast<int>(file.FileFormat()) << ' ' << file.TicksPerQuarter() << '\n';
    char buf[4];
    for (int t = 0; t < file.NumberOfTracks(); ++t) {
        out << "track\n";
        TMidiTrack* track = file.GetTrack(t);
        for (int i = 0; i < track->EventCount(); ++i) {
            TMidiEvent& e = *track->GetEvent(i);
            std::string bytes;
            std::vector<uint8_t> raw;
            if (e.IsMeta()) {
                raw = {0xFF, e.Data1};
                raw.insert(raw.end(), e.Data.begin(), e.Data.end());
            } else if (e.IsSysEx()) {
                raw.assign(e.Data.begin(), e.Data.end());
            } else {
                raw = {e.Status, e.Data1, e.Data2};
                raw.resize((e.Status & 0xE0) == 0xC0 ? 2 : 3);
            }
            out << e.Time;
            for (uint8_t b : raw) {
                std::snprintf(buf, sizeof buf, "%02X", b);
                out << ' ' << buf;
            }
            out << '\n';
        }
    }
    return out.str();
}

TEST(MidiFileMido, FilesWrittenByMidoReadAsMidoReadsThem) {
    if (!std::filesystem::exists("/usr/bin/python3") || std::system("/usr/bin/python3 -c 'import mido' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-mido (Debian) is not installed";
    TempDir dir;
    std::string script = dir.WriteFile("make.py", kMidoScript);
    ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " " + dir.Path()).c_str()), 0);
    for (const char* name : {"a", "b", "c"}) {
        TMidiFile file;
        file.SetFilename(dir.File(std::string(name) + ".mid"));
        file.LoadFile();
        EXPECT_EQ(Describe(file), ReadFile(dir.File(std::string(name) + ".txt"))) << name;
    }
}

} // namespace
} // namespace lumora
