// The mixer component and the volume routines on the fake mixer: what they touch, what they leave
// alone, and that a saved state comes back exactly.
#include <memory>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "audio/mixer/VolumeRoutines.h"
#include "platform/devices/OutputGain.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

using namespace lumora::test;

const char* kCard = R"(mixer "Card"
destination "Master" speakers volume=40000,41000 mute=0
source "PCM" waveout volume=30000,31000 mute=1 gain
source "Synth" synthesizer mono volume=20000 mute=0
source "CD" compactdisc volume=10000
source "Wave2" waveout volume=5000 mute=0 mute-disabled
source "Line" line volume=7000 mute=0
destination "Headset" headphones volume=1000 mute=0
source "PCM2" waveout volume=1000 mute=0
destination "Rec" wavein volume=3000 mux select=0
source "Mic" microphone mono volume=100
source "Line In" line mono volume=100
destination "Mix" wavein volume=3000 mixer
source "Mic2" microphone mono volume=100
source "Aux" auxiliary mono volume=100
)";

class Mixer : public ::testing::Test {
protected:
    void Install(const std::string& config) {
        dir.WriteFile("devices.conf", config);
        devices = std::make_unique<TFakeMixerDevices>(dir.Path());
        SetMixerDevices(devices.get());
        ClearSavedMixer();
    }
    void TearDown() override {
        SetMixerDevices(nullptr);
        ClearSavedMixer();
        SetOutputGain(65535, 65535);
        SetOutputGainMuted(false);
    }
    // Every control of every line, as text, to compare whole states.
    std::string State(const std::vector<std::string>& lines) {
        std::ostringstream out;
        for (const auto& name : lines) {
            TFakeMixerDevices::LineState s;
            EXPECT_TRUE(devices->GetLineState(0, name, s)) << name;
            out << name << ":";
            for (auto v : s.Volume) out << ' ' << v;
            out << " m" << s.Mute << " s";
            for (auto v : s.Select) out << v;
            out << '\n';
        }
        return out.str();
    }
    // Names of the lines set since the log was last read.
    std::set<std::string> LinesSet() {
        std::set<std::string> names;
        std::istringstream in(ReadFile(dir.File("mixer.log")).substr(logRead));
        logRead = ReadFile(dir.File("mixer.log")).size();
        for (std::string line; std::getline(in, line);) {
            size_t q = line.find('"');
            if (line.find(" set ") != std::string::npos) names.insert(line.substr(q + 1, line.find('"', q + 1) - q - 1));
        }
        return names;
    }
    TFakeMixerDevices::LineState Line(const std::string& name) {
        TFakeMixerDevices::LineState s;
        devices->GetLineState(0, name, s);
        return s;
    }
    TempDir dir;
    std::unique_ptr<TFakeMixerDevices> devices;
    size_t logRead = 0;
};

const std::vector<std::string> kAllLines = {"Master", "PCM", "Synth", "CD", "Wave2", "Line", "Headset", "PCM2", "Rec", "Mix"};

TEST_F(Mixer, SaveFullLevelsRestoreGivesTheSameState) {
    Install(kCard);
    TAudioMixer mixer;
    ASSERT_EQ(mixer.MixerId(), 0);
    EXPECT_EQ(mixer.ProductName(), "Card");
    EXPECT_EQ(mixer.Manufacturer(), "Microsoft");
    EXPECT_EQ(mixer.NumberOfLine(), 4);
    std::string before = State(kAllLines);
    LinesSet();

    SaveMixer(mixer);
    EXPECT_TRUE(LinesSet().empty()) << "saving only reads";
    SetFullMixerLevels(mixer, false, 0);
    EXPECT_EQ(LinesSet(), (std::set<std::string>{"PCM", "Synth"}));
    EXPECT_EQ(Line("PCM").Volume, (std::vector<uint32_t>{65535, 65535}));
    EXPECT_EQ(Line("PCM").Mute, 0);
    EXPECT_EQ(Line("Synth").Volume, (std::vector<uint32_t>{65535}));
    EXPECT_EQ(Line("Master").Volume, (std::vector<uint32_t>{40000, 41000}));
    SetFullMixerLevels(mixer, true, 50000);
    EXPECT_EQ(LinesSet(), (std::set<std::string>{"PCM", "Synth", "Master"}));
    EXPECT_EQ(Line("Master").Volume, (std::vector<uint32_t>{50000, 50000}));

    RestoreMixer(mixer);
    EXPECT_EQ(LinesSet(), (std::set<std::string>{"PCM", "Synth", "Master"}));
    EXPECT_EQ(State(kAllLines), before);

    // The fake keeps its state for the next process: a new one on the same folder sees it.
    SetFullMixerLevels(mixer, true, 123);
    TFakeMixerDevices again(dir.Path());
    TFakeMixerDevices::LineState master;
    ASSERT_TRUE(again.GetLineState(0, "Master", master));
    EXPECT_EQ(master.Volume, (std::vector<uint32_t>{123, 123}));
}

TEST_F(Mixer, SourceVolumeKindsAndTheOutputGain) {
    Install(kCard);
    TAudioMixer mixer;
    RestoreMixer(mixer); // nothing saved yet: nothing happens
    SetSourceVolume(mixer, 1, 1000);
    EXPECT_TRUE(LinesSet().empty());
    SaveMixer(mixer);
    SetSourceVolume(mixer, 1, 12345);
    EXPECT_EQ(LinesSet(), (std::set<std::string>{"PCM"}));
    EXPECT_EQ(OutputGainLeft(), 12345) << "the wave-out line drives our own output's gain";
    EXPECT_FALSE(OutputGainMuted()) << "setting a level also unmutes";
    SetSourceVolume(mixer, 3, 222);
    EXPECT_EQ(LinesSet(), (std::set<std::string>{"PCM"}));
    EXPECT_EQ(Line("PCM").Volume, (std::vector<uint32_t>{222, 222}));
    SetSourceVolume(mixer, 2, 333);
    EXPECT_EQ(LinesSet(), (std::set<std::string>{"Synth"}));
    SetSourceVolume(mixer, 0, 444);
    EXPECT_EQ(LinesSet(), (std::set<std::string>{"Master"}));
    SetSourceVolume(mixer, 7, 555);
    EXPECT_TRUE(LinesSet().empty());
}

TEST_F(Mixer, OnlyTheFirstFourDestinationsAndSeventeenSources) {
    std::string config = "mixer \"Big\"\n";
    for (int d = 0; d < 5; ++d) {
        config += "destination \"D" + std::to_string(d) + "\" speakers volume=1 mute=0\n";
        for (int s = 0; s < 20; ++s)
            config += "source \"D" + std::to_string(d) + "S" + std::to_string(s) + "\" waveout volume=1 mute=0\n";
    }
    Install(config);
    TAudioMixer mixer;
    ASSERT_EQ(mixer.Destinations().size(), 5u);
    SaveMixer(mixer);
    LinesSet();
    SetFullMixerLevels(mixer, true, 9);
    std::set<std::string> expected;
    for (int d = 0; d < 4; ++d) {
        expected.insert('D' + std::to_string(d));
        for (int s = 0; s < 17; ++s) expected.insert('D' + std::to_string(d) + "S" + std::to_string(s));
    }
    EXPECT_EQ(LinesSet(), expected);
}

TEST_F(Mixer, OpeningFailsTwiceThenSucceeds) {
    Install(std::string(kCard) + "fail mixer-open 2\n");
    {
        TAudioMixer mixer;
        EXPECT_EQ(mixer.MixerId(), 0);
    }
    std::string log = ReadFile(dir.File("mixer.log"));
    int failed = 0, opened = 0;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        failed += line.find(" open-failed 0") != std::string::npos;
        opened += line.find(" open 0") != std::string::npos;
    }
    EXPECT_EQ(failed, 2);
    EXPECT_EQ(opened, 1);

    // Three failures: no mixer, and every routine does nothing.
    devices->FailNext("mixer-open", 3);
    TAudioMixer none;
    EXPECT_EQ(none.MixerId(), -1);
    EXPECT_TRUE(none.Destinations().empty());
    TMixerVolume v;
    EXPECT_FALSE(none.GetVolume(0, -1, v));
    EXPECT_FALSE(none.SetVolume(0, -1, 1, 1, 0));
    LinesSet();
    SaveMixer(none);
    SetFullMixerLevels(none, true, 1);
    RestoreMixer(none);
    EXPECT_TRUE(LinesSet().empty());
}

TEST_F(Mixer, VolumeAndMuteOfOneLine) {
    Install(kCard);
    TAudioMixer mixer;
    TMixerVolume v;
    ASSERT_TRUE(mixer.GetVolume(0, -1, v));
    EXPECT_EQ(v.Left, 40000);
    EXPECT_EQ(v.Right, 41000);
    EXPECT_TRUE(v.Stereo);
    EXPECT_FALSE(v.VolDisabled);
    EXPECT_FALSE(v.MuteDisabled);
    EXPECT_EQ(v.Mute, 0);
    ASSERT_TRUE(mixer.GetVolume(0, 1, v)); // mono Synth
    EXPECT_EQ(v.Left, 20000);
    EXPECT_EQ(v.Right, 20000);
    EXPECT_FALSE(v.Stereo);
    ASSERT_TRUE(mixer.GetVolume(0, 2, v)); // CD has no mute
    EXPECT_EQ(v.Mute, -1);
    EXPECT_TRUE(v.MuteDisabled);
    ASSERT_TRUE(mixer.GetVolume(0, 3, v));
    EXPECT_TRUE(v.MuteDisabled);
    EXPECT_FALSE(mixer.GetVolume(0, 9, v));
    EXPECT_FALSE(mixer.GetVolume(7, -1, v));

    mixer.SetVolume(0, 0, 100, -1, -1); // right -1 takes left; mute -1 leaves it
    EXPECT_EQ(Line("PCM").Volume, (std::vector<uint32_t>{100, 100}));
    EXPECT_EQ(Line("PCM").Mute, 1);
    mixer.SetVolume(0, 0, 70000, -7, 0); // out of range values are brought into range
    EXPECT_EQ(Line("PCM").Volume, (std::vector<uint32_t>{65535, 0}));
    EXPECT_EQ(Line("PCM").Mute, 0);
}

TEST_F(Mixer, SelectionListsStandForTheMute) {
    Install(kCard);
    TAudioMixer mixer;
    TMixerVolume v;
    // "Rec" is a multiplexer selecting "Mic".
    ASSERT_TRUE(mixer.GetVolume(2, 0, v));
    EXPECT_TRUE(v.IsSelect);
    EXPECT_EQ(v.Mute, 0) << "the selected source sounds";
    ASSERT_TRUE(mixer.GetVolume(2, 1, v));
    EXPECT_EQ(v.Mute, 1);
    mixer.SetVolume(2, 1, -1, -1, 0);
    EXPECT_EQ(Line("Rec").Select, (std::vector<uint32_t>{0, 1}));
    mixer.SetVolume(2, 1, -1, -1, 1); // a multiplexer is never left with nothing selected
    EXPECT_EQ(Line("Rec").Select, (std::vector<uint32_t>{0, 1}));
    // "Mix" selects any number of sources.
    mixer.SetVolume(3, 0, -1, -1, 1);
    EXPECT_EQ(Line("Mix").Select, (std::vector<uint32_t>{0, 1}));
    mixer.SetVolume(3, 0, -1, -1, 0);
    EXPECT_EQ(Line("Mix").Select, (std::vector<uint32_t>{1, 1}));
}

TEST_F(Mixer, ControlChangesAreReported) {
    Install(kCard);
    TAudioMixer mixer;
    std::vector<std::pair<int, int>> changes;
    mixer.OnControlChange = [&](TAudioMixer* sender, int mixerH, int id) {
        EXPECT_EQ(sender, &mixer);
        changes.push_back({mixerH, id});
    };
    mixer.SetVolume(0, -1, 5, 5, -1);
    Application().ProcessMessages();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].first, 0);
    EXPECT_EQ(static_cast<uint32_t>(changes[0].second), mixer.Destinations()[0].Controls.Items[0].ControlID);
}

} // namespace
} // namespace lumora
