// Music in the saver on virtual time: the gap between tracks, deferral during a change, the stall
// check, tracks that cannot play, MIDI files, the mute window, the effects at show, groups and close.
#include <gtest/gtest.h>

#include <QLabel>

#include <filesystem>

#include "tests/engine/music/SaverMusicTestSupport.h"

namespace lumora {
namespace {

using test::MusicHarness;

int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

TEST(SaverMusicTest, GapCountsTicksOfTheMusicClockAndNegativeGapsCountAsNone) {
    for (const char* interval : {"0", "-5", "2"}) {
        MusicHarness h;
        h.Track("a.mp3");
        h.Track("b.mp3");
        h.Set("Setting", "SndInterval", interval);
        h.Open();
        ASSERT_EQ(h.player->opened, std::vector<std::string>{"a.mp3"}) << interval;
        EXPECT_TRUE(h.Music().BassPlaying());
        EXPECT_EQ(h.Overlays().ScrollingText2->Text(), "a.mp3"); // the file's name, not its path
        h.Run(500);
        h.EndTrack();
        EXPECT_FALSE(h.Music().BassPlaying());
        const int ticks = std::string(interval) == "2" ? 21 : 1;
        EXPECT_EQ(h.Music().GapCountdown(), ticks) << interval;
        // The next track starts on the tick that brings the countdown to zero, not before.
        h.Run(100 * (ticks - 1));
        EXPECT_EQ(h.player->opened.size(), 1u) << interval;
        h.Run(100);
        EXPECT_EQ(h.player->opened, (std::vector<std::string>{"a.mp3", "b.mp3"})) << interval;
        EXPECT_EQ(h.Overlays().ScrollingText2->Text(), "b.mp3");
        h.EndTrack();
        h.Run(100 * ticks);
        EXPECT_EQ(h.player->opened.back(), "a.mp3") << "the list wraps";
    }
}

TEST(SaverMusicTest, TrackEndingDuringAChangeStartsTheNextWhenTheChangeIsOver) {
    MusicHarness h;
    h.Track("a.mp3");
    h.Track("b.mp3");
    h.OnlyEffects({3}); // a change that takes a while
    TDesktopWindow& w = h.Open();
    ASSERT_EQ(h.player->opened.size(), 1u);
    h.Run(200);
    ASSERT_TRUE(w.Changing());
    h.EndTrack();
    h.Run(300);
    EXPECT_TRUE(w.TrackDeferred);
    EXPECT_EQ(h.player->opened.size(), 1u);
    while (w.Changing())
        h.Run(10);
    EXPECT_FALSE(w.TrackDeferred);
    EXPECT_EQ(h.player->opened, (std::vector<std::string>{"a.mp3", "b.mp3"}));
    EXPECT_TRUE(h.Music().BassPlaying());
}

TEST(SaverMusicTest, ASecondEndReportForTheSameTrackSkipsNothing) {
    MusicHarness h;
    h.Track("a.mp3");
    h.Track("b.mp3");
    h.Track("c.mp3");
    h.OnlyEffects({3}); // a change that takes a while, so the next track waits for its end
    TDesktopWindow& w = h.Open();
    h.Run(200);
    ASSERT_TRUE(w.Changing());
    h.EndTrack();
    h.Run(300);
    ASSERT_TRUE(w.TrackDeferred);
    h.EndTrack(); // a late second report of the same end
    h.Run(300);
    while (w.Changing())
        h.Run(10);
    EXPECT_EQ(h.player->opened, (std::vector<std::string>{"a.mp3", "b.mp3"}));
}

TEST(SaverMusicTest, SmallFileWhosePositionStandsStillCountsAsEnded) {
    MusicHarness h;
    h.Track("a.mp3", 10000);
    h.Track("b.mp3", 10000);
    h.Open();
    ASSERT_TRUE(h.Music().SmallFile());
    // Position 0 never counts as standing still: the track may not have started yet.
    h.Run(300);
    EXPECT_TRUE(h.Music().BassPlaying());
    h.player->position = 700;
    h.Run(100);
    h.player->position = 900;
    h.Run(100);
    EXPECT_TRUE(h.Music().BassPlaying());
    h.Run(100); // one tick at the same position
    EXPECT_FALSE(h.Music().BassPlaying());
    EXPECT_EQ(h.player->calls.back(), "close");
    h.Run(100);
    EXPECT_EQ(h.player->opened.back(), "b.mp3");
}

TEST(SaverMusicTest, LargeFileWhosePositionStandsStillPlaysOn) {
    MusicHarness h;
    h.Track("a.mp3", 20000);
    h.Open();
    EXPECT_FALSE(h.Music().SmallFile());
    h.player->position = 700;
    h.Run(1000);
    EXPECT_TRUE(h.Music().BassPlaying());
}

TEST(SaverMusicTest, TracksThatCannotPlayShowANoticeAndTheMusicGoesOn) {
    MusicHarness h;
    h.Track("a.mp3");
    h.Track("b.ogg");
    h.Track("c.wav");
    std::string gone = h.Track("d\xF6.mp3"); // named in Latin-1, shown as the dialogs show it
    h.Track("e.mp3");
    std::string goneToo = h.Track("f\x83\x5C\x83\x93\x83\x4F.mp3"); // "fソング.mp3" in CP932
    h.player->refuse = {"a.mp3"};
    h.player->crash = {"b.ogg"};
    h.Open();
    std::filesystem::remove(gone); // go away after the scan
    std::filesystem::remove(goneToo);
    EXPECT_EQ(h.Notice(), h.dir.File("music/a.mp3") + "を再生できません");
    EXPECT_FALSE(h.Music().BassPlaying());
    h.Run(100);
    EXPECT_EQ(h.player->opened.back(), "b.ogg");
    EXPECT_EQ(h.Notice(), h.dir.File("music/b.ogg") + "を再生できません");
    h.Run(100);
    EXPECT_EQ(h.player->opened.back(), "c.wav");
    EXPECT_TRUE(h.Music().BassPlaying());
    h.EndTrack();
    h.Run(100);
    EXPECT_EQ(h.Notice(), h.dir.File("music/d\xC3\xB6.mp3") + "を再生できません");
    h.Run(100);
    EXPECT_EQ(h.player->opened.back(), "e.mp3");
    EXPECT_TRUE(h.Music().BassPlaying());
    h.EndTrack();
    h.Run(100);
    EXPECT_EQ(h.Notice(), h.dir.File("music/fソング.mp3") + "を再生できません");
}

TEST(SaverMusicTest, WithoutAWorkingPlayerMidiFilesStillPlay) {
    MusicHarness h;
    h.Track("a.mp3");
    h.dir.WriteFile("music/b.mid", test::OneNoteMidi(480));
    h.player->ready = false;
    TDesktopWindow& w = h.Open();
    EXPECT_TRUE(h.player->opened.empty());
    EXPECT_EQ(h.Notice(), "DLLが使用できません");
    h.Run(200);
    EXPECT_TRUE(h.Music().MidiOutOpen());
    EXPECT_NE(h.MidiLog().find("short 0 90 3C 64"), std::string::npos);
    EXPECT_TRUE(w.Label1->isVisible());
}

TEST(SaverMusicTest, ShowingWithoutAWorkingPlayerSaysSo) {
    MusicHarness h;
    h.dir.WriteFile("music/b.mid", test::OneNoteMidi(480));
    h.player->ready = false;
    h.Open();
    EXPECT_EQ(h.Notice(), "BASSを初期化できません");
}

TEST(SaverMusicTest, MidiFilePlaysThroughTheChosenDeviceAndEndsWithAllSoundOff) {
    MusicHarness h;
    h.dir.WriteFile("music/a.mid", test::OneNoteMidi(960)); // one second at 120 bpm
    h.dir.WriteFile("music/b.rmi", test::RiffMidi(test::OneNoteMidi(480)));
    h.Set("Setting", "SndInterval", "1");
    h.Open();
    TSaverMusic& m = h.Music();
    EXPECT_TRUE(m.MidiOutOpen());
    EXPECT_EQ(m.SongLength(), 1000);
    EXPECT_TRUE(h.Overlays().MidiScope1->Active());
    h.Run(500);
    std::string log = h.MidiLog();
    EXPECT_NE(log.find("open 0 \"Fake Synthesizer\""), std::string::npos);
    EXPECT_NE(log.find("short 0 90 3C 64"), std::string::npos);
    EXPECT_EQ(h.Overlays().MidiScope1->Level(0, 0x3C), 0x64);
    h.Run(700);
    log = h.MidiLog();
    EXPECT_FALSE(m.MidiOutOpen());
    EXPECT_FALSE(h.Overlays().MidiScope1->Active());
    for (int ch = 0; ch < 16; ++ch) {
        char msg[32];
        std::snprintf(msg, sizeof msg, "short 0 B%X 78 00", ch);
        EXPECT_NE(log.find(msg), std::string::npos) << msg;
    }
    EXPECT_NE(log.find("close 0"), std::string::npos);
    EXPECT_GT(m.GapCountdown(), 0);
    // After the one-second gap the RIFF-wrapped file plays the same way.
    h.Run(1200);
    EXPECT_EQ(Count(h.MidiLog(), "open 0"), 2);
    EXPECT_EQ(m.SongLength(), 500);
}

TEST(SaverMusicTest, AStoredDeviceThatIsNotThereGivesWayToTheSynthesizer) {
    for (const char* stored : {"", "No Such Synth"}) {
        SCOPED_TRACE(stored);
        // The synthesizer is not the first device, so only the mapper's choice finds it.
        test::TempDir devices;
        devices.WriteFile("devices.conf", "midi \"Port\"\nmidi \"Synth\" synth\n");
        TFakeMidiDevices midi(devices.Path());
        MusicHarness h;
        SetMidiDevices(&midi);
        h.dir.WriteFile("music/a.mid", test::OneNoteMidi(960));
        h.Set("EFECT", "MidiDevice", stored);
        h.Open();
        h.Run(300);
        EXPECT_TRUE(h.Music().MidiOutOpen());
        EXPECT_EQ(h.Notice(), "");
        const std::string log = test::ReadFile(devices.File("midi.log"));
        EXPECT_NE(log.find("open 1 \"Synth\""), std::string::npos) << log;
        EXPECT_NE(log.find("short 1 90 3C 64"), std::string::npos) << log;
    }
}

TEST(SaverMusicTest, MidiTrackThatCannotStartMovesOnToTheNextTrack) {
    MusicHarness h;
    h.dir.WriteFile("music/a.mid", test::OneNoteMidi(480));
    h.dir.WriteFile("music/b.mid", "MThd broken");
    h.Track("c.mp3");
    h.midi.FailNext("midi-open", 1);
    h.Open();
    EXPECT_FALSE(h.Music().MidiOutOpen());
    EXPECT_EQ(h.Notice(), h.dir.File("music/a.mid") + "を再生できません");
    h.Run(100);
    EXPECT_EQ(h.Notice(), h.dir.File("music/b.mid") + "を再生できません");
    h.Run(100);
    EXPECT_EQ(h.player->opened, std::vector<std::string>{"c.mp3"});
}

TEST(SaverMusicTest, DamagedMidiFileClosesTheDeviceAgain) {
    MusicHarness h;
    h.dir.WriteFile("music/a.mid", "MThd broken");
    h.Open();
    EXPECT_FALSE(h.Music().MidiOutOpen());
    std::string log = h.MidiLog();
    EXPECT_EQ(Count(log, "open 0"), Count(log, "close 0"));
}

TEST(SaverMusicTest, CrossingTheMuteWindowSwitchesTheLevelOfTheKindPlaying) {
    MusicHarness h;
    h.Track("a.mp3");
    h.Set("Volume", "VolContl", "1");
    h.Set("Volume", "WaveVol", "40000");
    h.Set("Volume", "MuteWaveVol", "1000");
    h.Set("Volume", "MidiVol", "30000");
    h.Set("Volume", "MuteMidiVol", "2000");
    h.Set("Volume", "TimeZone", "2"); // the window holds the mute hours: 13:00 to 14:00
    h.Set("Volume", "STimeHour", "13");
    h.Set("Volume", "ETimeHour", "14");
    h.Set("Volume", "ETimeMin", "0");
    h.Set("Volume", "ETimeSec", "0");
    h.clock.SetSecondsOfDay(13 * 3600 - 1);
    h.Open();
    EXPECT_FALSE(h.Music().MuteState());
    EXPECT_EQ(h.Volume("PCM"), (std::vector<uint32_t>{40000, 40000}));
    h.clock.SetSecondsOfDay(13 * 3600 + 1);
    h.Run(100);
    EXPECT_TRUE(h.Music().MuteState());
    EXPECT_EQ(h.Volume("PCM"), (std::vector<uint32_t>{1000, 1000}));
    EXPECT_EQ(h.Volume("Synth"), (std::vector<uint32_t>{65535, 65535})); // opened fully at show
    h.clock.SetSecondsOfDay(14 * 3600 + 1);
    h.Run(100);
    EXPECT_FALSE(h.Music().MuteState());
    EXPECT_EQ(h.Volume("PCM"), (std::vector<uint32_t>{40000, 40000}));
}

TEST(SaverMusicTest, MuteLevelsFollowAMidiTrack) {
    MusicHarness h;
    h.dir.WriteFile("music/a.mid", test::OneNoteMidi(48000));
    h.Set("Volume", "VolContl", "1");
    h.Set("Volume", "MidiVol", "30000");
    h.Set("Volume", "MuteMidiVol", "2000");
    h.Set("Volume", "TimeZone", "2");
    h.Set("Volume", "STimeHour", "13");
    h.Set("Volume", "ETimeHour", "14");
    h.Set("Volume", "ETimeMin", "0");
    h.Set("Volume", "ETimeSec", "0");
    h.clock.SetSecondsOfDay(13 * 3600 + 30);
    h.Open();
    EXPECT_TRUE(h.Music().MuteState());
    EXPECT_EQ(h.Volume("Synth"), (std::vector<uint32_t>{2000, 2000}));
    h.clock.SetSecondsOfDay(14 * 3600 + 1);
    h.Run(100);
    EXPECT_EQ(h.Volume("Synth"), (std::vector<uint32_t>{30000, 30000}));
}

// The notes sound where the file has them, in the synthesizer's own samples, twice round the list;
// the second time starts from silence, with nothing left over from the first.
TEST(SaverMusicTest, BuiltInSynthesizerSoundsTheNotesWhereTheFileHasThem) {
    if (SoftSynthFontPath().empty()) GTEST_SKIP() << "no General MIDI sound font (timgm6mb-soundfont)";
    const std::vector<std::pair<double, double>> notes = {{0.3, 0.6}, {1.3, 0.3}, {2.1, 0.8}};
    test::SynthHarness h;
    h.dir.WriteFile("music/tune.mid", test::OrganTune(notes));
    h.Open();
    h.Play(6500);
    const auto sounds = h.Sounds();
    ASSERT_GE(sounds.size(), 2 * notes.size()) << "the song did not play twice";
    for (size_t play = 0; play < 2; ++play) {
        SCOPED_TRACE("play " + std::to_string(play + 1));
        const double origin = sounds[play * notes.size()].first * 0.01 - notes[0].first;
        for (size_t i = 0; i < notes.size(); ++i) {
            const auto [block, blocks] = sounds[play * notes.size() + i];
            // Within the player's 10 ms tick; a note rings on briefly after its key is let go (the
            // last is cut short by the all-sound-off at the song's end).
            EXPECT_NEAR(block * 0.01 - origin, notes[i].first, 0.015) << "note " << i;
            EXPECT_GE(blocks * 0.01, notes[i].second - 0.015) << "note " << i;
            EXPECT_LE(blocks * 0.01, notes[i].second + 0.25) << "note " << i;
        }
    }
}

// The built-in synthesizer plays through the wave output, beyond the mixer's synthesizer line: MIDI's
// level and the night's mute level set its own, and the line stays as the show opened it.
TEST(SaverMusicTest, MidiLevelsActOnTheBuiltInSynthesizer) {
    if (SoftSynthFontPath().empty()) GTEST_SKIP() << "no General MIDI sound font (timgm6mb-soundfont)";
    struct Case {
        const char* midiVol;
        bool night;
        double level; // of the first case's
    };
    double full = 0;
    for (const Case& c : {Case{"65535", false, 1}, Case{"16384", false, 0.25}, Case{"65535", true, 0.125}}) {
        SCOPED_TRACE(std::string(c.midiVol) + (c.night ? " at night" : ""));
        test::SynthHarness h;
        h.dir.WriteFile("music/tune.mid", test::OrganTune({{0.1, 0.5}}));
        h.Set("Volume", "VolContl", "1");
        h.Set("Volume", "MidiVol", c.midiVol);
        h.Set("Volume", "MuteMidiVol", "8192");
        h.Set("Volume", "TimeZone", "2");
        h.Set("Volume", "STimeHour", "13");
        h.Set("Volume", "ETimeHour", "14");
        h.clock.SetSecondsOfDay(c.night ? 13 * 3600 + 30 : 15 * 3600);
        h.Open();
        h.Play(1000);
        if (full == 0) full = h.Rms();
        ASSERT_GT(full, 0.01) << "the note was not heard";
        EXPECT_NEAR(h.Rms() / full, c.level, 0.01 * c.level);
        EXPECT_EQ(h.Volume("Synth"), (std::vector<uint32_t>{65535, 65535}));
    }
    // After a wave track, whose level stays on the wave line that the synthesizer plays through.
    test::SynthHarness h;
    h.Track("a.wav");
    h.dir.WriteFile("music/b.mid", test::OrganTune({{0.1, 0.5}}));
    h.Set("Volume", "VolContl", "1");
    h.Set("Volume", "WaveVol", "20000");
    h.Set("Volume", "MidiVol", "30000");
    h.Open();
    EXPECT_EQ(h.Volume("PCM"), (std::vector<uint32_t>{20000, 20000}));
    h.EndTrack();
    h.Play(300);
    ASSERT_TRUE(h.Music().MidiOutOpen());
    EXPECT_EQ(h.Volume("PCM"), (std::vector<uint32_t>{65535, 65535}));
    EXPECT_EQ(SoftSynthLevel(), 30000);
}

TEST(SaverMusicTest, EffectsAreSwitchedInTurnWithTheirLevelsAndTheVolumeIsSet) {
    MusicHarness h;
    h.Track("a.mp3");
    h.Set("EFECT", "Equalizer", "1");
    for (int i = 1; i <= 10; ++i)
        h.Set("EFECT", "EquaVal" + std::to_string(i), std::to_string((i - 1) * 3 + 3));
    h.Set("EFECT", "EquaVal1", "0");
    h.Set("EFECT", "EquaVal10", "30");
    h.Set("EFECT", "Echo", "0");
    h.Set("EFECT", "Reverb", "1");
    h.Set("EFECT", "ReverbVal", "32");
    h.Set("EFECT", "Flanger", "1");
    h.Open();
    std::vector<std::string> expected = {
        "effects 2", "eq -15 -9 -6 -3 0 3 6 9 12 15", "effects 2", "effects 10", "reverb 32", "effects 11",
        "volume 100"};
    EXPECT_EQ(h.player->calls, expected);
}

TEST(SaverMusicTest, GroupTrackStartsWithItsFirstPicture) {
    MusicHarness h;
    test::WriteSolidBmp(h.dir, "pics/g1.bmp", 64, 48, clLime);
    test::WriteSolidBmp(h.dir, "pics/g2.bmp", 64, 48, clBlue);
    h.Track("one.mp3");
    h.Track("two.mp3");
    h.Set("Setting", "Grouping", "1");
    h.Set("GroupDef", "GP0", "one.mp3");
    h.Set("GP0", "GP0-0", "p10.bmp");
    h.Set("GroupDef", "GP1", "two.mp3");
    h.Set("GP1", "GP1-0", "g1.bmp");
    h.Set("GP1", "GP1-1", "g2.bmp");
    h.Set("Setting", "PosRandom", "0");
    h.Set("Setting", "Interval", "2");
    TDesktopWindow& w = h.Open();
    ASSERT_TRUE(w.Grouping());
    EXPECT_EQ(h.player->opened, std::vector<std::string>{"one.mp3"});
    h.Run(200);
    EXPECT_EQ(h.FormPixel(160, 120), test::Px(clRed));
    h.EndTrack();
    EXPECT_TRUE(w.GroupChangeRequested);
    EXPECT_EQ(h.Music().GapCountdown(), 0);
    // Nothing starts until the next picture tick, which brings the group's first picture too.
    h.Run(1000);
    EXPECT_EQ(h.player->opened.size(), 1u);
    h.Run(1000);
    EXPECT_EQ(h.player->opened, (std::vector<std::string>{"one.mp3", "two.mp3"}));
    EXPECT_EQ(h.FormPixel(160, 120), test::Px(clLime));
}

TEST(SaverMusicTest, CloseStopsEverythingRestoresTheMixerAndNothingStartsAfterwards) {
    MusicHarness h;
    h.Track("a.mp3");
    h.Track("b.mp3");
    h.Set("Volume", "VolContl", "1");
    h.Set("Volume", "WaveVol", "20000");
    const std::vector<uint32_t> before = h.Volume("PCM");
    const std::vector<uint32_t> masterBefore = h.Volume("Master");
    ASSERT_EQ(before, (std::vector<uint32_t>{45000, 45000}));
    TDesktopWindow& w = h.Open();
    EXPECT_EQ(h.Volume("PCM"), (std::vector<uint32_t>{20000, 20000}));
    EXPECT_EQ(h.Volume("Synth"), (std::vector<uint32_t>{65535, 65535}));
    w.Close();
    EXPECT_TRUE(w.Closed());
    EXPECT_FALSE(h.player->playing);
    EXPECT_EQ(h.player->calls.back(), "close");
    EXPECT_EQ(h.Volume("PCM"), before);
    EXPECT_EQ(h.Volume("Synth"), (std::vector<uint32_t>{40000, 40000}));
    EXPECT_EQ(h.Volume("Master"), masterBefore);
    // A late end report and any number of clock ticks start nothing.
    h.player->playing = true;
    h.EndTrack();
    for (int i = 0; i < 30; ++i)
        w.Timer2Timer();
    EXPECT_EQ(h.player->opened, std::vector<std::string>{"a.mp3"});
}

TEST(SaverMusicTest, ClosingDuringAMidiSongSilencesTheDevice) {
    MusicHarness h;
    h.dir.WriteFile("music/a.mid", test::OneNoteMidi(48000));
    TDesktopWindow& w = h.Open();
    h.Run(200);
    ASSERT_TRUE(h.Music().MidiOutOpen());
    w.Close();
    std::string log = h.MidiLog();
    EXPECT_FALSE(h.Music().MidiOutOpen());
    EXPECT_NE(log.find("short 0 BF 78 00"), std::string::npos);
    EXPECT_NE(log.find("close 0"), std::string::npos);
    h.Run(1000);
    EXPECT_EQ(h.MidiLog(), log);
}

TEST(SaverMusicTest, AWindowGoneWithoutItsCloseStillRestoresTheMixer) {
    MusicHarness h;
    h.Track("a.mp3");
    h.Set("Volume", "VolContl", "1");
    h.Set("Volume", "WaveVol", "20000");
    h.Open();
    EXPECT_EQ(h.Volume("PCM"), (std::vector<uint32_t>{20000, 20000}));
    h.window.reset();
    EXPECT_EQ(h.Volume("PCM"), (std::vector<uint32_t>{45000, 45000}));
}

TEST(SaverMusicTest, AnEmptySoundFolderLeavesTheMixerAlone) {
    MusicHarness h;
    std::filesystem::create_directories(h.dir.File("music"));
    h.Set("Volume", "VolContl", "1");
    TDesktopWindow& w = h.Open();
    EXPECT_EQ(h.Volume("Synth"), (std::vector<uint32_t>{40000, 40000}));
    w.Close();
    EXPECT_EQ(h.Volume("Synth"), (std::vector<uint32_t>{40000, 40000}));
}

} // namespace
} // namespace lumora
