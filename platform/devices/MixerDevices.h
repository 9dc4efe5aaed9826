#pragma once
// Mixer devices: the ALSA mixer seen as destination lines with source lines and their controls,
// and a logging fake.
//
// Real devices: device 0 is the default control device, then one device per sound card. Destination
// 0 is the speakers on the "Master" element; the other playback elements are its sources ("PCM" is
// wave-out, "Synth", "MIDI" and "FM" the synthesizer, the rest typed by name). Volumes are 0..65535,
// mapped linearly onto the element's range; a value set is read back exactly. A line has a mute
// control only when its element has a playback switch. Where device 0 has no wave-out element, a
// wave-out source "Wave" drives the process-wide output gain (platform/devices/OutputGain.h) instead, and
// when no default device can be opened at all, device 0 is a "Software output" with only that line.
//
// Fake configuration lines (DIR/devices.conf):
//   mixer "Product name"                               starts a device
//   destination "Name" TYPE [OPTIONS]                  a destination line of the last device
//   source "Name" TYPE [OPTIONS]                       a source of the last destination
//   fail mixer-open N | fail mixer-set N               the next N opens or control sets fail
//   no-mixer                                           no device at all
// TYPE: speakers headphones wavein voicein line digital undefined (destinations), waveout synthesizer
// compactdisc line microphone pcspeaker auxiliary analog digital telephone undefined (sources).
// OPTIONS: mono | stereo (default), volume=N or volume=L,R, mute=0|1, volume-disabled, mute-disabled,
// mux | mixer (a destination's selection list of its sources, select=I picks the selected one),
// gain (the line drives the output gain).
// Without any "mixer" line the fake has one default device (see DefaultFakeMixerConfig).
// It logs to DIR/mixer.log: open DEV, open-failed DEV, close DEV, set DEV "LINE" volume L [R],
// set DEV "LINE" mute M, set DEV "DEST" select V..., set-failed DEV "LINE" KIND; and keeps the
// current values in DIR/mixer.state, read again by the next fake on the same folder.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/Forms.h"

namespace lumora {

enum : uint32_t {
    MIXERLINE_COMPONENTTYPE_DST_UNDEFINED = 0,
    MIXERLINE_COMPONENTTYPE_DST_DIGITAL = 1,
    MIXERLINE_COMPONENTTYPE_DST_LINE = 2,
    MIXERLINE_COMPONENTTYPE_DST_MONITOR = 3,
    MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4,
    MIXERLINE_COMPONENTTYPE_DST_HEADPHONES = 5,
    MIXERLINE_COMPONENTTYPE_DST_TELEPHONE = 6,
    MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 7,
    MIXERLINE_COMPONENTTYPE_DST_VOICEIN = 8,
    MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED = 0x1000,
    MIXERLINE_COMPONENTTYPE_SRC_DIGITAL = 0x1001,
    MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002,
    MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003,
    MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER = 0x1004,
    MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC = 0x1005,
    MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE = 0x1006,
    MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER = 0x1007,
    MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x1008,
    MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY = 0x1009,
    MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x100A,
};

enum : uint32_t {
    MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001,
    MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002,
    MIXERCONTROL_CONTROLTYPE_MIXER = 0x71010001,
    MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001,
    MIXERCONTROL_CT_CLASS_MASK = 0xF0000000,
    MIXERCONTROL_CT_CLASS_LIST = 0x70000000,
    MIXERCONTROL_CONTROLF_UNIFORM = 0x00000001,
    MIXERCONTROL_CONTROLF_MULTIPLE = 0x00000002,
    MIXERCONTROL_CONTROLF_DISABLED = 0x80000000,
};

// Notifications posted to an open mixer's callback target: WParam the device id, LParam the line or
// control id.
constexpr uint32_t MM_MIXM_LINE_CHANGE = 0x3D0;
constexpr uint32_t MM_MIXM_CONTROL_CHANGE = 0x3D1;

// Result codes (0 = success).
enum : int {
    MIXERR_ERROR = 1,
    MIXERR_BADDEVICEID = 2,
    MIXERR_NODRIVER = 6,
    MIXERR_INVALLINE = 1024,
    MIXERR_INVALCONTROL = 1025,
    MIXERR_INVALVALUE = 1026,
};

struct TMixerCaps {
    uint16_t Mid = 0;
    uint16_t Pid = 0;
    uint32_t DriverVersion = 0;
    std::string ProductName;
    uint32_t Destinations = 0;
};

struct TMixerLine {
    uint32_t Destination = 0;
    uint32_t Source = 0;
    uint32_t LineID = 0;
    uint32_t ComponentType = 0;
    uint32_t Channels = 1;
    uint32_t Connections = 0; // sources of a destination
    uint32_t Controls = 0;
    std::string Name;
};

struct TMixerControl {
    uint32_t ControlID = 0;
    uint32_t ControlType = 0;
    uint32_t Control = 0; // MIXERCONTROL_CONTROLF_* flags
    uint32_t MultipleItems = 0;
    std::string Name;
    uint32_t Minimum = 0;
    uint32_t Maximum = 0;
};

struct TMixerListText {
    uint32_t Param1 = 0; // the line id of the item's source
    std::string Name;
};

// An open mixer device. Control values are unsigned, channels x items of them, channel by channel
// (items = 1 for a control that is not a list).
class IMixer {
public:
    virtual ~IMixer() = default;
    virtual TMixerCaps Caps() = 0;
    virtual int GetDestination(uint32_t destination, TMixerLine& line) = 0;
    virtual int GetSource(uint32_t destination, uint32_t source, TMixerLine& line) = 0;
    virtual int GetLineControls(uint32_t lineID, std::vector<TMixerControl>& controls) = 0;
    virtual int GetControlDetails(uint32_t controlID, uint32_t channels, uint32_t items,
                                  std::vector<uint32_t>& values) = 0;
    virtual int GetControlListText(uint32_t controlID, std::vector<TMixerListText>& items) = 0;
    virtual int SetControlDetails(uint32_t controlID, uint32_t channels, uint32_t items,
                                  const std::vector<uint32_t>& values) = 0;
};

class IMixerDevices {
public:
    virtual ~IMixerDevices() = default;
    virtual int NumDevs() = 0;
    virtual int GetDevCaps(int id, TMixerCaps& caps) = 0;
    // callback: the target of the change notifications, 0 for none.
    virtual int Open(int id, HWND callback, std::unique_ptr<IMixer>& mixer) = 0;
};

IMixerDevices& MixerDevices();
void SetMixerDevices(IMixerDevices* devices); // nullptr = back to the chosen ones

std::unique_ptr<IMixerDevices> CreateAlsaMixerDevices();

// Linear mapping between an element's raw range and 0..65535; each way round trips the other.
uint32_t ScaleToMixer(long raw, long minimum, long maximum);
long ScaleFromMixer(uint32_t value, long minimum, long maximum);

// The configuration the fake uses when DIR/devices.conf has no "mixer" line.
std::string DefaultFakeMixerConfig();

// The logging fake (also the test double).
class TFakeMixerDevices : public IMixerDevices {
public:
    explicit TFakeMixerDevices(const std::string& dir);
    ~TFakeMixerDevices() override;
    int NumDevs() override;
    int GetDevCaps(int id, TMixerCaps& caps) override;
    int Open(int id, HWND callback, std::unique_ptr<IMixer>& mixer) override;

    void FailNext(const std::string& kind, int count); // "mixer-open", "mixer-set"
    bool TakeFailure(const std::string& kind);
    void Log(const std::string& text);

    // The current values of a line's controls, by line name (the first match on the device);
    // -1 where the line has no such control.
    struct LineState {
        std::vector<uint32_t> Volume;
        int Mute = -1;
        std::vector<uint32_t> Select;
    };
    bool GetLineState(int device, const std::string& line, LineState& state);

    struct Model;

private:
    friend class FakeMixer;
    void SaveState();
    void LoadState();
    void Notify(int device, uint32_t controlID);

    std::string dir_;
    std::vector<std::unique_ptr<Model>> devices_;
    std::map<std::string, int> failures_;
    std::vector<std::pair<int, HWND>> listeners_; // open handles: device id, callback target
    std::recursive_mutex mutex_;
};

} // namespace lumora
