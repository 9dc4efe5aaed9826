// The sound and MIDI previews over the real audio library (silent output) and the fake MIDI and
// mixer devices: the spectrum drawing, play to the end, the short-file stall, files that cannot
// be played, the mixer and the screensaver while open, and all-sound-off on closing; and the
// MIDI preview heard through the built-in synthesizer.

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include <QCheckBox>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTimeEdit>

#include "audio/player/AudioPlayer.h"
#include "audio/midi/MidiScope.h"
#include "audio/mixer/VolumeRoutines.h"
#include "dialogs/previews/SoundPreview.h"
#include "dialogs/previews/MidiPreview.h"
#include "engine/saver/ScrollingText.h"
#include "platform/devices/SoftSynth.h"
#include "platform/system/System.h"
#include "tests/dialogs/settings/SubDialogsTestSupport.h"
#include "tests/support/WavSound.h"

namespace lumora::test {
namespace {

std::string Le16(uint16_t v) { return std::string{static_cast<char>(v), static_cast<char>(v >> 8)}; }
std::string Le32(uint32_t v) { return Le16(static_cast<uint16_t>(v)) + Le16(static_cast<uint16_t>(v >> 16)); }
std::string Be32(uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
}

// A 44.1 kHz 16-bit stereo tone of the given number of frames as WAV file bytes.
std::string ToneWav(uint32_t frames) {
    std::string data;
    data.reserve(frames * 4);
    for (uint32_t i = 0; i < frames; ++i) {
        auto s = static_cast<int16_t>(8000 * std::sin(i * 2 * M_PI * 440 / 44100));
        data += Le16(static_cast<uint16_t>(s)) + Le16(static_cast<uint16_t>(s));
    }
    std::string fmt = "fmt " + Le32(16) + Le16(1) + Le16(2) + Le32(44100) + Le32(44100 * 4) + Le16(4) + Le16(16);
    return "RIFF" + Le32(static_cast<uint32_t>(4 + fmt.size() + 8 + data.size())) + "WAVE" + fmt + "data" +
           Le32(static_cast<uint32_t>(data.size())) + data;
}

// A format-0 MIDI file (480 ticks a quarter at 120 bpm) with one note of the given length in ticks.
std::string OneNoteMidi(uint32_t ticks) {
    std::string track = std::string("\x00\x90\x3C\x64", 4);
    std::string delta(1, static_cast<char>(ticks & 0x7F));
    for (uint32_t v = ticks >> 7; v; v >>= 7) delta.insert(delta.begin(), static_cast<char>(0x80 | (v & 0x7F)));
    track += delta + std::string("\x80\x3C\x00\x00\xFF\x2F\x00", 7);
    return "MThd" + Be32(6) + std::string("\x00\x00\x00\x01\x01\xE0", 6) + "MTrk" +
           Be32(static_cast<uint32_t>(track.size())) + track;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class Previews : public SubDialogTest {
protected:
    void SetUp() override {
        SubDialogTest::SetUp();
        setenv("LUMORA_AUDIO_OUTPUT", "null", 1);
        ClearSavedMixer();
    }
    void TearDown() override {
        ClearSavedMixer();
        SubDialogTest::TearDown();
    }
    std::vector<uint32_t> Volume(const std::string& line) {
        TFakeMixerDevices::LineState state;
        if (!mixer->GetLineState(0, line, state)) return {};
        return state.Volume;
    }
    // The dialog's volume controls: control on, the given wave and MIDI levels.
    static void VolumeControl(TSaverSettings& dlg, bool on, int wave = 30000, int midiLevel = 20000) {
        Find<QCheckBox>(dlg, "CheckBox1")->setChecked(on);
        Find<QSlider>(dlg, "TrackBar2")->setValue(wave);
        Find<QSlider>(dlg, "TrackBar3")->setValue(midiLevel);
    }
    static bool Closed(QDialog& form) { return !form.isVisible(); }
};

// ---- the spectrum ----

TEST_F(Previews, SpectrumBarsAreCappedAndPeaksHoldBeforeTheyFall) {
    TSPrev form(nullptr);
    const TBitmap& basic = form.BasicImage;
    ASSERT_EQ(basic.Width(), 102);
    ASSERT_EQ(basic.Height(), 25);
    // A dotted blue frame on the left and at the foot, black inside.
    EXPECT_EQ(basic.GetPixel(0, 0), clBlue);
    EXPECT_EQ(basic.GetPixel(0, 3), clBlack);
    EXPECT_EQ(basic.GetPixel(0, 6), clBlue);
    // The pattern runs on round the corner: step 24 (the corner) is on, 27 off, 30 on.
    EXPECT_EQ(basic.GetPixel(0, 24), clBlue);
    EXPECT_EQ(basic.GetPixel(3, 24), clBlack);
    EXPECT_EQ(basic.GetPixel(6, 24), clBlue);
    EXPECT_EQ(basic.GetPixel(50, 10), clBlack);
    EXPECT_EQ(basic.GetPixel(101, 24), clBlack); // the path's end point is not drawn
    // The bar: orange at the top, yellow in the middle, yellow-green at the foot.
    EXPECT_EQ(form.BarImage.GetPixel(1, 0), RGB(255, 32, 0));
    EXPECT_EQ(form.BarImage.GetPixel(1, 12), RGB(255, 255, 0));
    EXPECT_EQ(form.BarImage.GetPixel(1, 23), RGB(145, 255, 0));

    TBandOut bands{};
    bands[0] = 30;
    bands[1] = 20;
    form.DisplayFFTBand(bands);
    const TBitmap& shown = Find<TPaintBox>(form, "GaugePaintBox")->Picture();
    for (int row = 0; row < 24; ++row) {
        EXPECT_EQ(shown.GetPixel(2, row), form.BarImage.GetPixel(0, row)) << row;
        EXPECT_EQ(shown.GetPixel(4, row), form.BarImage.GetPixel(2, row)) << row;
    }
    EXPECT_EQ(shown.GetPixel(5, 0), clBlack);
    EXPECT_EQ(shown.GetPixel(6, 3), clBlack);
    EXPECT_EQ(shown.GetPixel(6, 4), form.BarImage.GetPixel(0, 4));

    // Band 1 falls silent: its peak mark stays at its height, then drops ever faster.
    bands = {};
    std::vector<int> markRow;
    for (int update = 0; update < 14; ++update) {
        form.DisplayFFTBand(bands);
        int row = -1;
        for (int y = 0; y < 24; ++y)
            if (shown.GetPixel(7, y) == clSilver) row = y;
        markRow.push_back(row);
    }
    for (int update = 0; update < 10; ++update) EXPECT_EQ(markRow[update], 4) << update;
    EXPECT_EQ(markRow[10], 5);
    EXPECT_GT(markRow[13], markRow[11]);
    EXPECT_EQ(shown.GetPixel(8, 4), clBlack); // the mark is three pixels wide
}

// ---- the sound preview ----

TEST_F(Previews, PlaysToTheEndWithTheDialogsVolumesAndRestoresTheMixer) {
    std::string file = dir.WriteFile("music/tone.wav", ToneWav(66150)); // a second and a half
    auto dlg = OpenSettings();
    VolumeControl(*dlg, true, 30000);
    const auto pcmBefore = Volume("PCM"), masterBefore = Volume("Master");
    ASSERT_FALSE(pcmBefore.empty());
    TSPrev form(dlg.get());
    form.FileName = file;
    form.show();
    ASSERT_TRUE(form.AudioPlayer1 && form.AudioPlayer1->Ready()) << (messages.empty() ? "" : messages.back());
    EXPECT_EQ(form.State, 1);
    EXPECT_FALSE(form.ShortFile);
    EXPECT_EQ(form.AudioPlayer1->Volume(), 100);
    EXPECT_EQ(Find<TScrollingText>(form, "ScrollingText1")->Text(), "tone.wav");
    EXPECT_TRUE(Find<TScrollingText>(form, "ScrollingText1")->Enabled());
    EXPECT_EQ(Volume("PCM"), (std::vector<uint32_t>{30000, 30000}));
    EXPECT_EQ(Volume("Master"), (std::vector<uint32_t>{65535, 65535}));
    EXPECT_EQ(inhibitor.active, 1);
    PumpUntil([] { return false; }, 600); // the ticker has scrolled in, the spectrum moves
    SaveShot(form, "sound-preview");
    ExpectInside(form);

    int progress = 0;
    bool bars = false;
    auto* gauge = Find<TPaintBox>(form, "GaugePaintBox");
    EXPECT_TRUE(PumpUntil([&] {
        progress = std::max(progress, Find<QProgressBar>(form, "ProgressBar1")->value());
        for (int band = 0; band < 25; ++band) bars = bars || gauge->Picture().GetPixel(band * 4 + 3, 23) != clBlack;
        return Closed(form);
    }, 6000));
    EXPECT_GT(progress, 0);
    EXPECT_TRUE(bars); // the tone showed in the spectrum
    EXPECT_EQ(form.State, 0);
    EXPECT_FALSE(form.AudioPlayer1);
    EXPECT_EQ(Volume("PCM"), pcmBefore);
    EXPECT_EQ(Volume("Master"), masterBefore);
    EXPECT_EQ(inhibitor.active, 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(Previews, AShortFileWhoseEndNeverComesClosesOnceItsPositionStops) {
    std::string file = dir.WriteFile("music/blip.wav", ToneWav(4410)); // 17 684 bytes
    TSPrev form(nullptr);
    form.FileName = file;
    form.show();
    ASSERT_EQ(form.State, 1);
    EXPECT_TRUE(form.ShortFile);
    form.AudioPlayer1->OnPlayEnd = nullptr;
    EXPECT_TRUE(PumpUntil([&] { return Closed(form); }, 5000));
    EXPECT_NE(form.LastPosition, 0);
}

TEST_F(Previews, WithVolumeControlOffTheMixerIsNeitherChangedNorRestored) {
    std::string file = dir.WriteFile("music/tone.wav", ToneWav(44100));
    auto dlg = OpenSettings();
    VolumeControl(*dlg, false);
    TSPrev form(dlg.get());
    form.FileName = file;
    form.show();
    PumpUntil([] { return false; }, 100);
    QTest::mouseClick(Find<QPushButton>(form, "BitBtn1"), Qt::LeftButton);
    EXPECT_TRUE(Closed(form));
    EXPECT_EQ(Count(ReadLog("mixer.log"), " set "), 0) << ReadLog("mixer.log");
}

TEST_F(Previews, InsideTheMuteWindowTheMuteLevelApplies) {
    std::string file = dir.WriteFile("music/tone.wav", ToneWav(44100));
    auto dlg = OpenSettings();
    VolumeControl(*dlg, true, 30000);
    Find<QSlider>(*dlg, "TrackBar5")->setValue(1234);
    Find<QComboBox>(*dlg, "ComboBox3")->setCurrentIndex(2); // the window holds the mute hours
    Find<QTimeEdit>(*dlg, "DateTimePicker1")->setTime(QTime(0, 0, 0));
    Find<QTimeEdit>(*dlg, "DateTimePicker2")->setTime(QTime(23, 59, 59));
    TSPrev form(dlg.get());
    form.FileName = file;
    form.show();
    EXPECT_EQ(Volume("PCM"), (std::vector<uint32_t>{1234, 1234}));
    form.close();
}

TEST_F(Previews, AFileThePlayerCannotOpenSaysSoAndStaysUntilClosed) {
    std::string file = dir.WriteFile("music/broken.mp3", std::string(30000, '\x5a'));
    TSPrev form(nullptr);
    form.FileName = file;
    form.show();
    EXPECT_EQ(form.State, 0);
    EXPECT_EQ(Find<TScrollingText>(form, "ScrollingText1")->Text(), "broken.mp3の再生はできません");
    PumpUntil([] { return false; }, 700);
    EXPECT_FALSE(Closed(form));
    form.close();
    EXPECT_EQ(inhibitor.active, 0);
}

TEST_F(Previews, WithoutTheAudioLibraryTheFileCannotBePlayedAndTheFormCloses) {
    // A name in Latin-1 in a folder named in CP932 ("写真") shows as the pickers show it.
    std::string file = dir.WriteFile("music/\x8E\xCA\x90\x5E/t\xF6ne.wav", ToneWav(4410));
    SetProgramFolder(dir.File("music"));
    TSPrev form(nullptr);
    form.FileName = file;
    form.show();
    SetProgramFolder("");
    EXPECT_EQ(form.State, -1);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), dir.File("music/写真/t\xC3\xB6ne.wav") + "を再生できません");
    EXPECT_TRUE(PumpUntil([&] { return Closed(form); }, 3000));
}

// ---- the MIDI preview ----

TEST_F(Previews, MidiPlaysThroughTheDialogsOutputAndSilencesEveryChannelAtTheEnd) {
    std::string file = dir.WriteFile("music/song.mid", OneNoteMidi(480)); // half a second
    auto dlg = OpenSettings();
    VolumeControl(*dlg, true, 30000, 20000);
    const auto synthBefore = Volume("Synth");
    TSPrev2 form(dlg.get());
    EXPECT_TRUE(dlg->MidiOutOpen);
    form.FileName = file;
    form.show();
    EXPECT_EQ(form.SongLength, 500);
    EXPECT_EQ(Find<TScrollingText>(form, "ScrollingText1")->Text(), "song.mid");
    EXPECT_EQ(Volume("Synth"), (std::vector<uint32_t>{20000, 20000}));
    EXPECT_EQ(inhibitor.active, 1);
    SaveShot(form, "midi-preview");
    ExpectInside(form);
    int progress = 0;
    EXPECT_TRUE(PumpUntil([&] {
        progress = std::max(progress, Find<QProgressBar>(form, "ProgressBar1")->value());
        return Closed(form);
    }, 5000));
    EXPECT_GT(progress, 0);
    EXPECT_TRUE(form.Done);
    EXPECT_FALSE(dlg->MidiOutOpen);
    const std::string log = ReadLog("midi.log");
    EXPECT_EQ(Count(log, "short 0 90 3C 64"), 1) << log;
    for (int channel = 0; channel < 16; ++channel) {
        char off[32];
        std::snprintf(off, sizeof off, "short 0 B%X 78 00", channel);
        EXPECT_EQ(Count(log, off), 1) << off;
    }
    EXPECT_EQ(Count(log, "close 0"), 1);
    EXPECT_EQ(Volume("Synth"), synthBefore);
    EXPECT_EQ(inhibitor.active, 0);
    // The scope's pictures were shown in its place.
    EXPECT_EQ(form.ScopeView()->Picture().Width(), TMidiScope::kWidth);
    EXPECT_EQ(form.ScopeView()->Picture().GetPixel(0, 0), clNavy);
}

// The synthesizer plays through the wave output, beyond the mixer's synthesizer line: the dialog's
// MIDI level sets its own level, and the line stays as the preview opened it.
TEST_F(Previews, WithoutAMidiPortTheBuiltInSynthesizerIsListedFirstAndTheSongIsHeardAtTheMidiLevel) {
    if (SoftSynthFontPath().empty()) GTEST_SKIP() << "no General MIDI sound font (timgm6mb-soundfont)";
    // The real device set of a desktop whose sequencer offers only ports that make no sound; the
    // synthesizer starts the audio library on a WAV output of its own, finished when it closes.
    auto devices = WithSoftSynth(std::make_unique<TFakeMidiDevices>(dir.File("devices")));
    SetMidiDevices(devices.get());
    std::string file = dir.WriteFile("music/song.mid", OneNoteMidi(480)); // half a second
    auto dlg = OpenSettings();
    QComboBox* list = Find<QComboBox>(*dlg, "MidiDevice");
    std::vector<std::string> names;
    for (int i = 0; i < list->count(); ++i) names.push_back(list->itemText(i).toStdString());
    EXPECT_EQ(names, (std::vector<std::string>{kSoftSynthName, "Fake Synthesizer", "Fake MIDI Port"}));
    EXPECT_EQ(list->currentIndex(), 0) << "with no stored device the synthesizer is chosen";
    double full = 0;
    for (int level : {65535, 16384}) {
        SCOPED_TRACE("MIDI level " + std::to_string(level));
        VolumeControl(*dlg, true, 30000, level);
        const std::string out = dir.File("out" + std::to_string(level) + ".wav");
        setenv("LUMORA_AUDIO_OUTPUT", ("wav:" + out).c_str(), 1);
        {
            TSPrev2 form(dlg.get());
            EXPECT_TRUE(dlg->MidiOutOpen);
            form.FileName = file;
            form.show();
            EXPECT_EQ(Volume("Synth"), (std::vector<uint32_t>{65535, 65535})) << "as the preview opened it";
            EXPECT_TRUE(PumpUntil([&] { return Closed(form); }, 5000));
        }
        EXPECT_FALSE(dlg->MidiOutOpen);
        EXPECT_EQ(ReadLog("midi.log"), "") << "no note went to a port";
        // The note sounds for its half second (a piano, which fades while held), and nothing else.
        const std::vector<int16_t> samples = LeftChannel(out);
        const std::vector<bool> loud = LoudWindows(samples);
        size_t first = std::find(loud.begin(), loud.end(), true) - loud.begin();
        ASSERT_LT(first, loud.size()) << "the song was not heard";
        size_t sounding = std::count(loud.begin(), loud.end(), true);
        EXPECT_GE(sounding, 6u);
        EXPECT_LE(sounding, 16u);
        EXPECT_EQ(std::find(loud.begin() + first + sounding, loud.end(), true), loud.end()) << "one stretch of sound";
        double sum = 0;
        for (int16_t v : samples) sum += double(v) * v;
        if (full == 0) full = sum;
        // The level as set, within what a start a few milliseconds earlier or later changes.
        EXPECT_NEAR(std::sqrt(sum / full), level / 65535.0, 0.03);
    }
}

// A machine without a sound output: each preview says so once, in the program's words.
TEST_F(Previews, WithoutASoundOutputEachPreviewSaysSoInOneBox) {
    if (SoftSynthFontPath().empty()) GTEST_SKIP() << "no General MIDI sound font (timgm6mb-soundfont)";
    auto devices = WithSoftSynth(std::make_unique<TFakeMidiDevices>(dir.File("devices")));
    SetMidiDevices(devices.get());
    setenv("LUMORA_AUDIO_OUTPUT", "alsa:nosuchdevice", 1);
    const std::string song = dir.WriteFile("music/song.mid", OneNoteMidi(480));
    const std::string tone = dir.WriteFile("music/tone.wav", ToneWav(4410));
    auto dlg = OpenSettings();
    {
        TSPrev2 form(dlg.get());
        form.FileName = song;
        form.show();
        EXPECT_FALSE(dlg->MidiOutOpen);
        EXPECT_TRUE(PumpUntil([&] { return Closed(form); }, 5000)) << "the song plays to the scope";
    }
    EXPECT_EQ(messages, (std::vector<std::string>{"ソフトウェアシンセサイザーを使用できません\nサウンド出力を開けません"}));
    messages.clear();
    {
        TSPrev form(dlg.get());
        form.FileName = tone;
        form.show();
        EXPECT_TRUE(PumpUntil([&] { return Closed(form); }, 3000));
    }
    EXPECT_EQ(messages, (std::vector<std::string>{tone + "を再生できません\nサウンド出力を開けません"}));
}

TEST_F(Previews, ClosingTheMidiPreviewMidSongSendsControllerOffOnAllChannels) {
    std::string file = dir.WriteFile("music/long.mid", OneNoteMidi(480 * 20)); // ten seconds
    auto dlg = OpenSettings();
    TSPrev2 form(dlg.get());
    form.FileName = file;
    form.show();
    PumpUntil([] { return false; }, 150);
    ASSERT_FALSE(Closed(form));
    QTest::mouseClick(Find<QPushButton>(form, "BitBtn1"), Qt::LeftButton);
    EXPECT_TRUE(Closed(form));
    EXPECT_FALSE(form.MidiFile1.Playing());
    EXPECT_FALSE(dlg->MidiOutOpen);
    const std::string log = ReadLog("midi.log");
    EXPECT_EQ(Count(log, " 78 00"), 16) << log;
    EXPECT_LT(log.find("short 0 90 3C 64"), log.find("short 0 B0 78 00"));
    EXPECT_EQ(Count(ReadLog("mixer.log"), " set "), 0);
}

TEST_F(Previews, ADamagedMidiFileSaysSoInsteadOfPlaying) {
    std::string file = dir.WriteFile("music/bad.mid", "MThd\x00\x00\x00\x06junk");
    auto dlg = OpenSettings();
    TSPrev2 form(dlg.get());
    form.FileName = file;
    form.show();
    EXPECT_TRUE(form.Done);
    EXPECT_FALSE(Find<TMidiScope>(form, "MidiScope1")->Active());
    EXPECT_EQ(Find<TScrollingText>(form, "ScrollingText1")->Text(), "bad.midの再生はできません");
    form.close();
    EXPECT_FALSE(dlg->MidiOutOpen);
    EXPECT_EQ(Count(ReadLog("midi.log"), "short"), 0);
}

// ---- both ----

// A file name that is not UTF-8 (Windows-1252 "söng", "Rock’n’Roll – Live", CP932 "ソング") scrolls by
// as the pickers list it.
TEST_F(Previews, TickersShowNamesThatAreNotUtf8AsThePickersDo) {
    auto dlg = OpenSettings();
    for (auto [stem, shown] : {std::pair{"s\xF6ng", "s\xC3\xB6ng"}, std::pair{"\x83\x5C\x83\x93\x83\x4F", "ソング"},
                               std::pair{"Rock\x92n\x92Roll \x96 Live", "Rock’n’Roll – Live"}}) {
        SCOPED_TRACE(shown);
        {
            TSPrev form(dlg.get());
            form.FileName = dir.WriteFile("music/" + std::string(stem) + ".wav", ToneWav(44100));
            form.show();
            EXPECT_EQ(form.State, 1);
            EXPECT_EQ(Find<TScrollingText>(form, "ScrollingText1")->Text(), std::string(shown) + ".wav");
            form.close();
        }
        {
            TSPrev2 form(dlg.get());
            form.FileName = dir.WriteFile("music/" + std::string(stem) + ".mid", OneNoteMidi(480));
            form.show();
            EXPECT_FALSE(form.Done);
            EXPECT_EQ(Find<TScrollingText>(form, "ScrollingText1")->Text(), std::string(shown) + ".mid");
            form.close();
        }
    }
}

} // namespace
} // namespace lumora::test
