// The LUMORA_DEVICES switch, the fakes' configuration, the built-in software synthesizer, and the
// ALSA sequencer devices as far as this machine has them.
#include <sys/stat.h>

#include <cmath>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/devices/Devices.h"
#include "platform/devices/MidiDevices.h"
#include "platform/devices/SoftSynth.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

using namespace lumora::test;

TEST(DevicesSetting, RealFakeAndUnknownValues) {
    EXPECT_FALSE(ParseDevicesSetting(nullptr).Fake);
    EXPECT_FALSE(ParseDevicesSetting("").Fake);
    EXPECT_FALSE(ParseDevicesSetting("real").Fake);
    TDevicesSetting fake = ParseDevicesSetting("fake:/tmp/some dir/");
    EXPECT_TRUE(fake.Fake);
    EXPECT_EQ(fake.Dir, "/tmp/some dir");
    EXPECT_FALSE(ParseDevicesSetting("fake:").Fake);
    EXPECT_FALSE(ParseDevicesSetting("alsa").Fake);
}

TEST(DevicesSetting, ConfigurationWords) {
    EXPECT_EQ(SplitConfigLine("  midi \"My  Synth\" synth # comment"),
              (std::vector<std::string>{"midi", "My  Synth", "synth"}));
    EXPECT_EQ(SplitConfigLine("source \"\" waveout"), (std::vector<std::string>{"source", "", "waveout"}));
    EXPECT_EQ(SplitConfigLine("midi \"unterminated"), (std::vector<std::string>{"midi", "unterminated"}));
    EXPECT_TRUE(SplitConfigLine("# only a comment").empty());
}

TEST(FakeMidiDevices, ConfigurationLogAndFailures) {
    TempDir dir;
    dir.WriteFile("devices.conf", "midi \"Port\"\nmidi \"Synth\" synth\nfail midi-open 1\nmixer \"ignored here\"\n");
    TFakeMidiDevices devices(dir.Path());
    ASSERT_EQ(devices.NumDevs(), 2);
    TMidiOutCaps caps;
    EXPECT_EQ(devices.GetDevCaps(1, caps), 0);
    EXPECT_EQ(caps.ProductName, "Synth");
    EXPECT_EQ(caps.Technology, MOD_SYNTH);
    EXPECT_EQ(devices.GetDevCaps(MIDI_MAPPER, caps), 0);
    EXPECT_EQ(caps.ProductName, kMidiMapperName);
    EXPECT_EQ(devices.GetDevCaps(2, caps), MMSYSERR_BADDEVICEID);

    std::unique_ptr<IMidiOutPort> port;
    EXPECT_EQ(devices.Open(0, port), MMSYSERR_ERROR);
    EXPECT_EQ(devices.Open(MIDI_MAPPER, port), 0);
    EXPECT_EQ(port->ShortMsg(0x007F40B0), 0);
    EXPECT_EQ(port->ShortMsg(0x0000F8), 0); // clock: status only
    EXPECT_EQ(port->Close(), 0);
    EXPECT_EQ(port->ShortMsg(0x90), MMSYSERR_INVALHANDLE);
    port.reset();
    std::string log = ReadFile(dir.File("midi.log"));
    std::istringstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line.substr(line.find(' ') + 1));
    EXPECT_EQ(lines, (std::vector<std::string>{"open-failed 0 1", "open 1 \"Synth\"", "short 1 B0 40 7F", "short 1 F8",
                                                "close 1"}));
}

TEST(FakeMidiDevices, DefaultsWithoutAConfiguration) {
    TempDir dir;
    TFakeMidiDevices devices(dir.Path());
    ASSERT_EQ(devices.NumDevs(), 2);
    EXPECT_EQ(devices.Devices()[0].Name, "Fake Synthesizer");
    EXPECT_TRUE(devices.Devices()[0].Synth);
}

TEST(MidiMessages, DataLengths) {
    EXPECT_EQ(MidiMessageDataLength(0x90), 2);
    EXPECT_EQ(MidiMessageDataLength(0xB5), 2);
    EXPECT_EQ(MidiMessageDataLength(0xC0), 1);
    EXPECT_EQ(MidiMessageDataLength(0xDF), 1);
    EXPECT_EQ(MidiMessageDataLength(0xE3), 2);
    EXPECT_EQ(MidiMessageDataLength(0xF2), 2);
    EXPECT_EQ(MidiMessageDataLength(0xF3), 1);
    EXPECT_EQ(MidiMessageDataLength(0xFE), 0);
    EXPECT_EQ(MidiMessageDataLength(0x40), 0);
}

TEST(SoftSynth, StandsFirstBeforeThePortsAndIsTheMappersChoice) {
    if (SoftSynthFontPath().empty()) GTEST_SKIP() << "no General MIDI sound font (timgm6mb-soundfont)";
    TempDir dir;
    dir.WriteFile("devices.conf", "midi \"Port\"\nmidi \"Synth\" synth\n");
    EXPECT_EQ(WithSoftSynth(std::make_unique<TFakeMidiDevices>(dir.Path()), "")->NumDevs(), 2)
        << "without a sound font there is no synthesizer to list";
    auto devices = WithSoftSynth(std::make_unique<TFakeMidiDevices>(dir.Path()));
    ASSERT_EQ(devices->NumDevs(), 3);
    std::vector<std::string> names;
    TMidiOutCaps caps;
    for (int id = MIDI_MAPPER; id < 3; ++id) {
        ASSERT_EQ(devices->GetDevCaps(id, caps), 0);
        names.push_back(caps.ProductName);
    }
    EXPECT_EQ(names, (std::vector<std::string>{kMidiMapperName, kSoftSynthName, "Port", "Synth"}));
    EXPECT_EQ(devices->GetDevCaps(3, caps), MMSYSERR_BADDEVICEID);
    std::unique_ptr<IMidiOutPort> port;
    ASSERT_EQ(devices->Open(2, port), 0);
    EXPECT_EQ(port->ShortMsg(0x644090), 0);
    port.reset();
    // Without a sound output the synthesizer cannot be opened, by its id or through the mapper.
    SetSynthSoundOutput(nullptr);
    EXPECT_EQ(devices->Open(0, port), MMSYSERR_NOTENABLED);
    EXPECT_EQ(devices->Open(MIDI_MAPPER, port), MMSYSERR_NOTENABLED);
    std::istringstream log(ReadFile(dir.File("midi.log")));
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line.substr(line.find(' ') + 1));
    EXPECT_EQ(lines, (std::vector<std::string>{"open 1 \"Synth\"", "short 1 90 40 64", "close 1"}));
}

// A sound output that the test pulls from by hand, and that counts its streams.
struct HandPulledOutput {
    TSynthRender Render;
    int Streams = 0;
    struct Stream : ISynthSoundStream {
        explicit Stream(HandPulledOutput& owner) : Owner(owner) { ++Owner.Streams; }
        ~Stream() override {
            --Owner.Streams;
            Owner.Render = nullptr;
        }
        HandPulledOutput& Owner;
    };
    HandPulledOutput() {
        SetSynthSoundOutput([this](TSynthRender render) -> std::unique_ptr<ISynthSoundStream> {
            Render = std::move(render);
            return std::make_unique<Stream>(*this);
        });
    }
    ~HandPulledOutput() { SetSynthSoundOutput(nullptr); }
    // The loudness (RMS of both channels, full scale 1) of the next `ms` milliseconds.
    double Pull(int ms) {
        std::vector<float> frames(2 * kSoftSynthRate * ms / 1000);
        Render(frames.data(), frames.size() / 2);
        double energy = 0;
        for (float v : frames) energy += double(v) * v;
        return std::sqrt(energy / double(frames.size()));
    }
};

TEST(SoftSynth, SoundsWhileANoteIsHeldAndStartsEachOpeningFromAReset) {
    if (SoftSynthFontPath().empty()) GTEST_SKIP() << "no General MIDI sound font (timgm6mb-soundfont)";
    HandPulledOutput output;
    TempDir dir;
    auto devices = WithSoftSynth(std::make_unique<TFakeMidiDevices>(dir.Path()));
    std::unique_ptr<IMidiOutPort> port, second;
    ASSERT_EQ(devices->Open(MIDI_MAPPER, port), 0);
    ASSERT_EQ(devices->Open(0, second), 0) << "two ports share the synthesizer";
    EXPECT_EQ(output.Streams, 1);
    EXPECT_LT(output.Pull(100), 1e-4);
    port->ShortMsg(0x13C0);   // organ
    port->ShortMsg(0x643C90); // middle C
    EXPECT_GT(output.Pull(300), 0.01);
    port->ShortMsg(0x003C90); // velocity 0 lets the key go
    output.Pull(1500);
    EXPECT_LT(output.Pull(100), 1e-4);
    // The channel's volume at zero silences it; a General MIDI reset block gives it back.
    port->ShortMsg(0x0007B0);
    port->ShortMsg(0x643C90);
    EXPECT_LT(output.Pull(300), 1e-4);
    EXPECT_EQ(second->LongMsg(reinterpret_cast<const uint8_t*>("\xF0\x7E\x7F\x09\x01\xF7"), 6, 0, 7), 0);
    port->ShortMsg(0x643C90);
    EXPECT_GT(output.Pull(300), 0.01);
    port->ShortMsg(0x0007B0);
    port->ShortMsg(0x643C90);
    EXPECT_EQ(port->Close(), 0);
    EXPECT_EQ(output.Streams, 1) << "the other port still plays";
    second.reset();
    EXPECT_EQ(output.Streams, 0);
    EXPECT_EQ(port->ShortMsg(0x643C90), MMSYSERR_INVALHANDLE);
    // The next opening starts from General MIDI defaults: full volume, and the note held at the
    // close no longer sounds.
    ASSERT_EQ(devices->Open(0, port), 0);
    EXPECT_LT(output.Pull(100), 1e-4);
    port->ShortMsg(0x643C90);
    EXPECT_GT(output.Pull(300), 0.01);
}

TEST(SoftSynth, ASoundFontThatCannotBeReadRefusesTheOpen) {
    HandPulledOutput output;
    TempDir dir;
    auto devices = WithSoftSynth(std::make_unique<TFakeMidiDevices>(dir.Path()), dir.WriteFile("bad.sf2", "RIFF"));
    ASSERT_EQ(devices->NumDevs(), 3);
    std::unique_ptr<IMidiOutPort> port;
    EXPECT_EQ(devices->Open(0, port), MMSYSERR_ERROR);
    EXPECT_EQ(output.Streams, 0);
}

TEST(AlsaMidiDevices, ListsWhatTheSequencerHas) {
    auto devices = CreateAlsaMidiDevices();
    struct stat st;
    bool haveSequencer = stat("/dev/snd/seq", &st) == 0;
    int count = devices->NumDevs();
    TMidiOutCaps caps;
    EXPECT_EQ(devices->GetDevCaps(MIDI_MAPPER, caps), 0);
    EXPECT_EQ(caps.ProductName, kMidiMapperName);
    EXPECT_EQ(devices->GetDevCaps(count, caps), MMSYSERR_BADDEVICEID);
    std::unique_ptr<IMidiOutPort> port;
    if (!haveSequencer) {
        EXPECT_EQ(count, 0);
        EXPECT_EQ(devices->Open(MIDI_MAPPER, port), MMSYSERR_NODRIVER);
        std::string text;
        ASSERT_TRUE(MidiOutErrorText(MMSYSERR_NODRIVER, text));
        EXPECT_NE(text.find("sequencer"), std::string::npos);
        return;
    }
    for (int id = 0; id < count; ++id) {
        EXPECT_EQ(devices->GetDevCaps(id, caps), 0);
        EXPECT_FALSE(caps.ProductName.empty());
    }
    if (count == 0) GTEST_SKIP() << "the sequencer has no output port to open";
    ASSERT_EQ(devices->Open(0, port), 0);
    EXPECT_EQ(port->ShortMsg(0x0000FE), 0); // active sensing is harmless to any port
    EXPECT_EQ(port->Close(), 0);
}

} // namespace
} // namespace lumora
