// MIDI output on the fake devices: choosing a device, the English error texts, what reaches the
// device, the done notice of system-exclusive blocks, and a file played through it.
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "audio/midi/MidiFile.h"
#include "audio/midi/MidiOut.h"
#include "platform/system/Clock.h"
#include "tests/audio/midi/MidiTestUtil.h"
#include "tests/support/TempDir.h"

namespace lumora {
namespace {

using namespace lumora::test;

class MidiOut : public ::testing::Test {
protected:
    void Install(const std::string& config = "") {
        if (!config.empty()) dir.WriteFile("devices.conf", config);
        devices = std::make_unique<TFakeMidiDevices>(dir.Path());
        SetMidiDevices(devices.get());
    }
    void TearDown() override { SetMidiDevices(nullptr); }
    std::vector<std::string> Log() {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(dir.File("midi.log")));
        for (std::string line; std::getline(in, line);) lines.push_back(line.substr(line.find(' ') + 1));
        return lines;
    }
    std::string ErrorOf(const std::function<void()>& fn) {
        try {
            fn();
        } catch (const EmidioutputError& e) {
            return e.what();
        }
        return "";
    }
    TempDir dir;
    std::unique_ptr<TFakeMidiDevices> devices;
};

TEST_F(MidiOut, ChoosingDevicesByNameAndId) {
    Install("midi \"Port A\"\nmidi \"Soft Synth\" synth\n");
    TMidiOutput out;
    EXPECT_EQ(out.NumDevs(), 2);
    out.SetProductName("Soft Synth");
    EXPECT_EQ(out.DeviceID(), 1);
    EXPECT_EQ(out.Technology(), MOD_SYNTH);
    out.SetProductName(kMidiMapperName);
    EXPECT_EQ(out.DeviceID(), MIDI_MAPPER);
    out.SetDeviceID(0);
    EXPECT_EQ(out.ProductName(), "Port A");

    EXPECT_EQ(ErrorOf([&] { out.SetProductName("Nothing"); }), "MIDI output Device Nothing not installed");
    EXPECT_EQ(ErrorOf([&] { out.SetDeviceID(2); }), "Invalid device ID");
    EXPECT_EQ(out.DeviceID(), 0);

    // The mapper opens the first synthesizer.
    out.SetDeviceID(MIDI_MAPPER);
    ASSERT_TRUE(out.Open());
    EXPECT_EQ(ErrorOf([&] { out.SetDeviceID(0); }), "Change to DeviceID while device was open");
    EXPECT_EQ(ErrorOf([&] { out.SetProductName("Port A"); }), "Change to ProductName while device was open");
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(Log(), (std::vector<std::string>{"open 1 \"Soft Synth\"", "close 1"}));

    // While loading from a form description the name is only stored.
    out.SetLoading(true);
    out.SetProductName("Nothing");
    EXPECT_EQ(out.ProductName(), "Nothing");
}

TEST_F(MidiOut, SendingWhileClosedAndDeviceFailures) {
    Install("midi \"Port A\"\nfail midi-open 1\n");
    TMidiOutput out;
    out.SetDeviceID(0);
    TMyMidiEvent ev;
    ev.MidiMessage = 0x90;
    EXPECT_EQ(ErrorOf([&] { out.PutShort(0x90, 60, 100); }), "MIDI Output device not open");
    EXPECT_EQ(ErrorOf([&] { out.PutEvent(ev); }), "MIDI Output device not open");
    EXPECT_EQ(ErrorOf([&] { out.PutLong("\xF0\xF7", 2); }), "MIDI Output device not open");

    std::string text;
    ASSERT_TRUE(MidiOutErrorText(MMSYSERR_ERROR, text));
    EXPECT_EQ(ErrorOf([&] { out.Open(); }), text);
    EXPECT_EQ(out.LastError(), MMSYSERR_ERROR);
    EXPECT_EQ(out.State(), TMidiOutputState::mosClosed);
    ASSERT_TRUE(out.Open());
    devices->FailNext("midi-send", 1);
    EXPECT_EQ(ErrorOf([&] { out.PutShort(0x90, 60, 100); }), text);
    devices->FailNext("midi-close", 1);
    EXPECT_EQ(ErrorOf([&] { out.Close(); }), text);
    EXPECT_EQ(out.State(), TMidiOutputState::mosClosed) << "a failed close still releases the device";
}

TEST_F(MidiOut, NoDevicesGiveAClearErrorOnOpen) {
    Install("no-midi\n");
    TMidiOutput out;
    EXPECT_EQ(out.NumDevs(), 0);
    EXPECT_EQ(ErrorOf([&] { out.SetProductName("Fake Synthesizer"); }),
              "MIDI output Device Fake Synthesizer not installed");
    out.SetProductName(kMidiMapperName);
    EXPECT_NE(ErrorOf([&] { out.Open(); }).find("No MIDI sequencer"), std::string::npos);
}

TEST_F(MidiOut, MessagesReachTheDevice) {
    Install();
    TMidiOutput out;
    out.SetDeviceID(0);
    out.Open();
    out.PutShort(0x90, 60, 100);
    out.PutShort(0xC3, 5, 0);
    out.PutShort(0xF0, 1, 2); // a bare system-exclusive status carries nothing and is not sent
    TMidiEvent fileEvent;
    fileEvent.Status = 0xF0;
    fileEvent.Data = Bytes({0xF0, 0x41, 0xF7});
    out.PutEvent(TMyMidiEvent::FromFileEvent(fileEvent));
    out.Close();
    EXPECT_EQ(Log(), (std::vector<std::string>{"open 0 \"Fake Synthesizer\"", "short 0 90 3C 64", "short 0 C3 05",
                                                "long 0 F0 41 F7", "close 0"}));
}

TEST_F(MidiOut, LongMessageDoneFiresOnceOnTheMainThreadAfterward) {
    Install();
    TMidiOutput out;
    out.SetDeviceID(0);
    out.Open();
    int done = 0;
    bool onMain = false;
    out.Onmidioutput = [&] {
        ++done;
        onMain = IsMainThread();
    };
    // Larger than 16 bits can count: nothing is cut off.
    std::vector<uint8_t> block(70000, 0x11);
    block.front() = 0xF0;
    block.back() = 0xF7;
    out.PutLong(block.data(), block.size());
    EXPECT_EQ(done, 0) << "the notice comes later, not from inside PutLong";
    EXPECT_EQ(out.PendingLongMessages(), 1u);
    Application().ProcessMessages();
    Application().ProcessMessages();
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(onMain);
    EXPECT_EQ(out.PendingLongMessages(), 0u);
    out.Close();
    std::vector<std::string> log = Log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].size(), std::string("long 0 ").size() + 70000 * 3 - 1);
}

TEST_F(MidiOut, FilePlaysThroughTheOutputOnTime) {
    Install();
    VirtualClock clock;
    SetClock(&clock);
    TMidiOutput out;
    out.SetProductName(kMidiMapperName);
    out.Open();
    TMidiFile file;
    std::string song = Smf(1, 480, {Tempo(0, 500000) + EndOfTrack(),
                                    Msg(0, {0xC0, 1}) + Msg(480, {0x90, 60, 100}) + Msg(480, {0x80, 60, 0})});
    file.LoadFromBytes(reinterpret_cast<const uint8_t*>(song.data()), song.size());
    file.OnMidiEvent = [&](PMidiEvent e) {
        if (!e->IsMeta()) out.PutEvent(TMyMidiEvent::FromFileEvent(*e));
    };
    file.OnUpdateEvent = [&] {
        if (file.AllTracksDone()) file.Stop();
    };
    uint32_t start = clock.timeGetTime();
    file.Play();
    clock.Advance(2000);
    out.Close();
    SetClock(nullptr);
    EXPECT_FALSE(file.Playing());
    std::istringstream in(ReadFile(dir.File("midi.log")));
    std::map<std::string, uint32_t> at;
    for (std::string line; std::getline(in, line);) at[line.substr(line.find(' ') + 1)] = std::stoul(line) - start;
    ASSERT_TRUE(at.count("short 0 90 3C 64"));
    EXPECT_GE(at["short 0 90 3C 64"], 500u);
    EXPECT_LE(at["short 0 90 3C 64"], 510u);
    EXPECT_LE(at["short 0 C0 01"], 10u);
    EXPECT_GE(at["short 0 80 3C 00"], 1000u);
}

} // namespace
} // namespace lumora
