#pragma once
// MIDI output devices: the built-in software synthesizer (SoftSynth.h) and the ALSA sequencer's
// writable ports, the mapper, and a logging fake.
//
// Device ids run from 0 to NumDevs() - 1; id -1 is the mapper, which opens the built-in synthesizer,
// else the first synthesizer port (or the first port when there is no synthesizer). Calls return 0
// or an error code whose text MidiOutErrorText gives.
//
// Fake configuration lines (DIR/devices.conf):
//   midi "Product name" [synth]      one output device, in id order
//   fail midi-open N                 the next N opens fail
//   fail midi-send N                 the next N short or long messages fail
//   fail midi-close N                the next N closes fail (the port is released all the same)
// Without any "midi" line the fake has "Fake Synthesizer" (synth) and "Fake MIDI Port".
// It logs to DIR/midi.log: open ID "NAME", open-failed ID CODE, close ID, short ID HEX..., long ID HEX...

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/Forms.h"

namespace lumora {

constexpr int MIDI_MAPPER = -1;
// The mapper's product name.
inline constexpr const char* kMidiMapperName = "MIDI Mapper";

// Posted to the notify target of a long message once it has drained; LParam is the caller's value.
constexpr uint32_t MOM_DONE = 0x3C9;

// Result codes.
enum : int {
    MMSYSERR_NOERROR = 0,
    MMSYSERR_ERROR = 1,
    MMSYSERR_BADDEVICEID = 2,
    MMSYSERR_NOTENABLED = 3,
    MMSYSERR_INVALHANDLE = 5,
    MMSYSERR_NODRIVER = 6,
    MMSYSERR_NOMEM = 7,
    MMSYSERR_INVALPARAM = 11,
    MIDIERR_NODEVICE = 68,
};
// The text of a result code; false when the code is unknown.
bool MidiOutErrorText(int code, std::string& text);

// Technologies.
enum : uint16_t { MOD_MIDIPORT = 1, MOD_SYNTH = 2, MOD_MAPPER = 5, MOD_SWSYNTH = 7 };

struct TMidiOutCaps {
    uint16_t Mid = 0;
    uint16_t Pid = 0;
    uint32_t DriverVersion = 0;
    std::string ProductName;
    uint16_t Technology = MOD_MIDIPORT;
    uint16_t Voices = 0;
    uint16_t Notes = 0;
    uint16_t ChannelMask = 0xFFFF;
    uint32_t Support = 0;
};

// Bytes a short message with this status carries after the status byte (0 for system-exclusive).
int MidiMessageDataLength(uint8_t status);

// An open output device. Destroying it closes it without a report.
class IMidiOutPort {
public:
    virtual ~IMidiOutPort() = default;
    // Packed as status | data1 << 8 | data2 << 16. System-exclusive statuses carry no data here and
    // are ignored.
    virtual int ShortMsg(uint32_t message) = 0;
    // Sends a whole system-exclusive block; once it has drained, MOM_DONE with lparam = user is
    // posted to notify (on the main thread).
    virtual int LongMsg(const uint8_t* data, size_t length, HWND notify, intptr_t user) = 0;
    virtual int Close() = 0;
};

class IMidiDevices {
public:
    virtual ~IMidiDevices() = default;
    virtual int NumDevs() = 0;
    virtual int GetDevCaps(int id, TMidiOutCaps& caps) = 0;
    virtual int Open(int id, std::unique_ptr<IMidiOutPort>& port) = 0;
};

// The devices chosen by LUMORA_DEVICES (the real ones: the built-in synthesizer and the ALSA
// sequencer's ports), or the ones a test installed.
IMidiDevices& MidiDevices();
void SetMidiDevices(IMidiDevices* devices); // nullptr = back to the chosen ones

// The ALSA sequencer. Without a sequencer there are no devices and opening fails with
// MMSYSERR_NODRIVER.
std::unique_ptr<IMidiDevices> CreateAlsaMidiDevices();

// The logging fake (also the test double).
class TFakeMidiDevices : public IMidiDevices {
public:
    explicit TFakeMidiDevices(const std::string& dir);
    int NumDevs() override;
    int GetDevCaps(int id, TMidiOutCaps& caps) override;
    int Open(int id, std::unique_ptr<IMidiOutPort>& port) override;

    struct Device {
        std::string Name;
        bool Synth = false;
    };
    const std::vector<Device>& Devices() const { return devices_; }
    // Failure injection: the next count calls of a kind ("midi-open", "midi-send", "midi-close") fail.
    void FailNext(const std::string& kind, int count);
    bool TakeFailure(const std::string& kind);
    void Log(const std::string& text);

private:
    std::string dir_;
    std::vector<Device> devices_;
    std::mutex mutex_;
    std::map<std::string, int> failures_;
};

} // namespace lumora
