#include "audio/midi/MidiOut.h"

#include <cstring>

#include "audio/midi/MidiFile.h"
#include "audio/midi/SynthSound.h"

namespace lumora {

TMyMidiEvent TMyMidiEvent::FromFileEvent(const TMidiEvent& event) {
    TMyMidiEvent e;
    e.MidiMessage = event.Status;
    e.Data1 = event.Data1;
    e.Data2 = event.Data2;
    e.Time = event.Time;
    if (event.IsSysEx()) e.SysexData.assign(event.Data.begin(), event.Data.end());
    return e;
}

TMidiOutput::TMidiOutput() {
    ConnectSoftSynthSound();
    numDevs_ = MidiDevices().NumDevs();
    window_ = std::make_unique<TMessageTarget>([this](TMessage& m) { HandleMessage(m); });
}

TMidiOutput::~TMidiOutput() {
    if (state_ == TMidiOutputState::mosOpen) {
        try {
            Close();
        } catch (const std::exception&) {
            // The device is released all the same; nobody is left to tell.
        }
    }
    window_.reset();
}

void TMidiOutput::Check(int code) {
    if (code == MMSYSERR_NOERROR) return;
    lastError_ = code;
    std::string text;
    if (!MidiOutErrorText(code, text)) text = "Specified error number is out of range";
    throw EmidioutputError(text);
}

void TMidiOutput::SetDeviceID(int id) {
    if (state_ == TMidiOutputState::mosOpen) throw EmidioutputError("Change to DeviceID while device was open");
    if (id >= 0 && id >= numDevs_) throw EmidioutputError("Invalid device ID");
    deviceId_ = id;
    TMidiOutCaps caps;
    Check(MidiDevices().GetDevCaps(id, caps));
    caps_ = caps;
    productName_ = caps.ProductName;
}

void TMidiOutput::SetProductName(const std::string& name) {
    if (state_ == TMidiOutputState::mosOpen) throw EmidioutputError("Change to ProductName while device was open");
    if (loading_) {
        productName_ = name;
        return;
    }
    for (int id = MIDI_MAPPER; id < numDevs_; ++id) {
        TMidiOutCaps caps;
        Check(MidiDevices().GetDevCaps(id, caps));
        if (caps.ProductName == name) {
            SetDeviceID(id);
            return;
        }
    }
    // Whether or not the name is the current one, a device that is not there is reported by name.
    throw EmidioutputError("MIDI output Device " + name + " not installed");
}

bool TMidiOutput::Open() {
    if (state_ == TMidiOutputState::mosOpen) return true;
    std::unique_ptr<IMidiOutPort> port;
    Check(MidiDevices().Open(deviceId_, port));
    port_ = std::move(port);
    state_ = TMidiOutputState::mosOpen;
    return true;
}

bool TMidiOutput::Close() {
    bool result = false;
    int code = MMSYSERR_NOERROR;
    if (state_ == TMidiOutputState::mosOpen && port_) {
        code = port_->Close();
        result = code == MMSYSERR_NOERROR;
    }
    port_.reset();
    state_ = TMidiOutputState::mosClosed;
    Check(code);
    return result;
}

void TMidiOutput::PutEvent(const TMyMidiEvent& event) {
    if (state_ != TMidiOutputState::mosOpen) throw EmidioutputError("MIDI Output device not open");
    if (!event.SysexData.empty())
        PutLong(event.SysexData.data(), event.SysexData.size());
    else
        PutShort(event.MidiMessage, event.Data1, event.Data2);
}

void TMidiOutput::PutShort(uint8_t status, uint8_t data1, uint8_t data2) {
    if (state_ != TMidiOutputState::mosOpen) throw EmidioutputError("MIDI Output device not open");
    Check(port_->ShortMsg(uint32_t(status) | uint32_t(data1) << 8 | uint32_t(data2) << 16));
}

void TMidiOutput::PutLong(const void* data, size_t length) {
    if (state_ != TMidiOutputState::mosOpen) throw EmidioutputError("MIDI Output device not open");
    auto header = std::make_unique<TMyMidiHdr>(length);
    if (length) std::memcpy(header->Data.data(), data, length);
    intptr_t id = nextHeader_++;
    TMyMidiHdr* raw = header.get();
    pending_[id] = std::move(header);
    int code = port_->LongMsg(raw->Data.data(), raw->Data.size(), window_->Handle(), id);
    if (code != MMSYSERR_NOERROR) pending_.erase(id);
    Check(code);
}

void TMidiOutput::HandleMessage(TMessage& message) {
    if (message.Msg != MOM_DONE) return;
    // A notice for a block already released (or never sent) is not reported twice.
    if (pending_.erase(message.LParam) && Onmidioutput) Onmidioutput();
}

} // namespace lumora
