#pragma once
// Installing the program as the desktop's screensaver: a screensaver desktop entry that starts
// the program with "/s", written into the user's data folder where screensaver managers look.

#include <string>

namespace lumora {

// The folder the entry goes to: $XDG_DATA_HOME/applications/screensavers (default ~/.local/share).
std::string ScreenSaverEntryFolder();
// Writes (replacing a previous one, never leaving half a file) the entry for the program at
// programPath and returns the entry's path. Throws EFCreateError when it cannot be written.
std::string InstallScreenSaver(const std::string& programPath);
// The text of the entry, with the program's path quoted as the desktop-entry format asks.
std::string ScreenSaverEntryText(const std::string& programPath);

} // namespace lumora
