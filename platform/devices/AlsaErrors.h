#pragma once
// ALSA writes a line of its own ("ALSA lib …") to standard error for every device it fails to
// open: on a machine without a sound card, a dozen lines a run. Those lines are held back, and
// what the program goes without is told once, in its own words.

#include <string>

namespace lumora {

// Every user of ALSA here calls it before opening a device.
void HoldBackAlsaErrors();
// Once per process: which device could not be opened, with ALSA's error code.
void ReportMissingAlsaDevice(const std::string& what, int error);
// Once per process for each `topic` (the sound output, the sound font…): one line on standard
// error, however often the program tries again.
void TellMissingDevice(const std::string& topic, const std::string& text);

} // namespace lumora
