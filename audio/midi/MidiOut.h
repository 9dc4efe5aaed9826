#pragma once
// MIDI output: opens an output device chosen by product name or id and sends short messages and
// system-exclusive blocks to it.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include "platform/devices/MidiDevices.h"

namespace lumora {

struct TMidiEvent;

class EmidioutputError : public Exception {
    using Exception::Exception;
};

// One MIDI message to send: a short message, or a system-exclusive block when SysexData is not empty.
class TMyMidiEvent {
public:
    uint8_t MidiMessage = 0; // the status byte
    uint8_t Data1 = 0;
    uint8_t Data2 = 0;
    int Time = 0;
    std::vector<uint8_t> SysexData;
    size_t SysexLength() const { return SysexData.size(); }

    // The message a file event stands for: its bytes, or its system-exclusive block.
    static TMyMidiEvent FromFileEvent(const TMidiEvent& event);
};

// A system-exclusive block on its way to the device; it lives until the device reports it done.
class TMyMidiHdr {
public:
    explicit TMyMidiHdr(size_t size) : Data(size) {}
    std::vector<uint8_t> Data;
};

enum class TMidiOutputState { mosClosed, mosOpen };

class TMidiOutput {
public:
    TMidiOutput();
    virtual ~TMidiOutput();
    TMidiOutput(const TMidiOutput&) = delete;
    TMidiOutput& operator=(const TMidiOutput&) = delete;

    const std::string& ProductName() const { return productName_; }
    void SetProductName(const std::string& name);
    int DeviceID() const { return deviceId_; }
    void SetDeviceID(int id);
    // While set, ProductName is stored without looking for the device (as when read from a form).
    void SetLoading(bool loading) { loading_ = loading; }

    // After a system-exclusive block has been played (on the main thread).
    TNotifyEvent Onmidioutput;

    virtual bool Open();
    virtual bool Close();
    virtual void PutEvent(const TMyMidiEvent& event);
    virtual void PutShort(uint8_t status, uint8_t data1, uint8_t data2);
    virtual void PutLong(const void* data, size_t length);

    TMidiOutputState State() const { return state_; }
    int NumDevs() const { return numDevs_; }
    int LastError() const { return lastError_; }
    // The device's capabilities, copied at each device change.
    uint32_t DriverVersion() const { return caps_.DriverVersion; }
    uint16_t Technology() const { return caps_.Technology; }
    uint16_t Voices() const { return caps_.Voices; }
    uint16_t Notes() const { return caps_.Notes; }
    uint16_t ChannelMask() const { return caps_.ChannelMask; }
    uint32_t Support() const { return caps_.Support; }
    // Blocks sent and not yet reported done.
    size_t PendingLongMessages() const { return pending_.size(); }

private:
    void Check(int code);
    void HandleMessage(TMessage& message);

    std::string productName_;
    int deviceId_ = 0;
    bool loading_ = false;
    TMidiOutCaps caps_;
    int numDevs_ = 0;
    std::unique_ptr<IMidiOutPort> port_;
    TMidiOutputState state_ = TMidiOutputState::mosClosed;
    int lastError_ = 0;
    std::map<intptr_t, std::unique_ptr<TMyMidiHdr>> pending_;
    intptr_t nextHeader_ = 1;
    std::unique_ptr<TMessageTarget> window_;
};

} // namespace lumora
