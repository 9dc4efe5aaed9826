// The LUMORA_DEVICES switch, the fakes' configuration, and the ALSA sequencer devices as far as
// this machine has them.
#include <sys/stat.h>

#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "platform/devices/Devices.h"
#include "platform/devices/MidiDevices.h"
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
