#pragma once
// The mixer component: opens one mixer device and mirrors its destination lines, their source
// lines and the controls of each, with operations to read and write a line's volume and mute.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Forms.h"
#include "platform/devices/MixerDevices.h"

namespace lumora {

class TAudioMixer;
using TMixerChange = std::function<void(TAudioMixer* sender, int mixerH, int id)>;

struct TMixerControls {
    std::vector<TMixerControl> Items;
    int Count() const { return static_cast<int>(Items.size()); }
};

// One source line of a destination.
struct TMixerConnection {
    TMixerLine Data;
    TMixerControls Controls;
};

struct TMixerDestination {
    TMixerLine Data;
    TMixerControls Controls;
    std::vector<TMixerConnection> Connections;
};

// What GetVolume found on a line.
struct TMixerVolume {
    int Left = -1;
    int Right = -1;
    int Mute = -1;
    bool Stereo = false;
    bool VolDisabled = true;
    bool MuteDisabled = true;
    bool IsSelect = false; // the mute is the line's selection in its destination's list
};

class TAudioMixer {
public:
    TAudioMixer();
    ~TAudioMixer();
    TAudioMixer(const TAudioMixer&) = delete;
    TAudioMixer& operator=(const TAudioMixer&) = delete;

    int MixerId() const { return mixerId_; }
    // Opens device id (0 <= id < the number of devices; other ids are ignored). Opening is tried
    // twice with change notices and once without; when all fail, MixerId is -1.
    void SetMixerId(int id);
    int NumberOfDevices() const { return numDevs_; }

    std::string Manufacturer() const;
    const std::string& ProductName() const { return caps_.ProductName; }
    uint32_t DriverVersion() const { return caps_.DriverVersion; }
    uint16_t ProductId() const { return caps_.Pid; }
    int NumberOfLine() const { return static_cast<int>(caps_.Destinations); }

    const std::vector<TMixerDestination>& Destinations() const { return destinations_; }

    // connection -1 = the destination line itself.
    bool GetVolume(int destination, int connection, TMixerVolume& volume);
    bool GetVolume(int destination, int connection, int& left, int& right, int& mute, bool& stereo, bool& volDisabled,
                   bool& muteDisabled, bool& isSelect);
    // -1 leaves that part as it is; right -1 takes left.
    bool SetVolume(int destination, int connection, int left, int right, int mute);

    TMixerChange OnLineChange;
    TMixerChange OnControlChange;

private:
    void CloseMixer();
    void HandleMessage(TMessage& message);
    const TMixerControls* FindControls(int destination, int connection) const;

    int numDevs_ = 0;
    int mixerId_ = -1;
    std::unique_ptr<IMixer> mixer_;
    TMixerCaps caps_;
    std::vector<TMixerDestination> destinations_;
    std::unique_ptr<TMessageTarget> window_;
};

} // namespace lumora
