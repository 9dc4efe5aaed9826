#pragma once
// The one place that decides which MIDI and mixer devices the program talks to: the real ALSA
// sequencer and mixer, or fakes that log everything to files (LUMORA_DEVICES=fake:DIR).
//
// The fakes read "DIR/devices.conf" (see MidiDevices.h and MixerDevices.h for its lines; a missing
// file gives a default set) and append to "DIR/midi.log" and "DIR/mixer.log", one event a line,
// each led by the platform clock's milliseconds.

#include <string>
#include <vector>

namespace lumora {

struct TDevicesSetting {
    bool Fake = false;
    std::string Dir; // the fakes' folder
};

// Parses LUMORA_DEVICES: unset, empty or "real" selects the real devices; "fake:DIR" the fakes.
// Anything else falls back to the real devices with a warning on standard error.
TDevicesSetting ParseDevicesSetting(const char* value);
TDevicesSetting DevicesSetting(); // from the environment, read once

// Helpers shared by the fakes.
// Splits a configuration line into words; "double quoted" words may hold blanks; '#' starts a comment.
std::vector<std::string> SplitConfigLine(const std::string& line);
// The lines of DIR/devices.conf, or none when it does not exist.
std::vector<std::string> ReadFakeConfig(const std::string& dir);
// Appends "<ms> <text>\n" to DIR/<file>; the folder is created when missing. Thread-safe.
void AppendFakeLog(const std::string& dir, const std::string& file, const std::string& text);
// A name as it is written in the logs: in double quotes.
std::string Quoted(const std::string& name);

} // namespace lumora
