#pragma once
// Installing the program as the desktop's screensaver: a screensaver desktop entry that starts
// the program with "/s", written into the user's data folder where screensaver managers look, and
// the link that mate-screensaver needs, as it runs only the programs in a folder of its own.

#include <string>

namespace lumora {

// The folder of programs that mate-screensaver agrees to run (Debian's).
inline constexpr const char* kMateSaverFolder = "/usr/lib/mate-screensaver/mate-screensaver";

// The folder the entry goes to: $XDG_DATA_HOME/applications/screensavers (default ~/.local/share).
std::string ScreenSaverEntryFolder();
// Writes (replacing a previous one, never leaving half a file) the entry that runs runPath with
// "/s" and returns the entry's path. Throws EFCreateError when it cannot be written.
std::string InstallScreenSaver(const std::string& runPath);
// The text of the entry: Exec quoted as the desktop-entry format asks, TryExec a plain path.
std::string ScreenSaverEntryText(const std::string& runPath);

// The link to the program in a daemon's folder of programs: saverFolder + "/lumora".
std::string SaverLinkPath(const std::string& saverFolder);
// What a daemon should run: the link in saverFolder when it leads to programPath, else programPath.
std::string SaverRunPath(const std::string& programPath, const std::string& saverFolder);
// Makes the link in saverFolder lead to programPath, replacing a link that led elsewhere, and
// returns its path. Throws EFCreateError when it cannot (the folder needs root), and refuses to
// replace anything but a link.
std::string LinkIntoSaverFolder(const std::string& programPath, const std::string& saverFolder);

// What installing did.
struct TSaverInstall {
    std::string link;    // the link made in the daemon's folder; empty when none was made
    std::string runPath; // what the entry runs
    std::string entry;   // the entry written
    bool linkMissing = false; // the daemon's folder is there, with no link to this program in it
};
// Installs the program at programPath: links it into saverFolder when that folder is there and may
// be written (as root), then writes the entry that runs the link, or the program where there is
// no link to it. Throws EFCreateError when the link or the entry cannot be made.
TSaverInstall InstallDesktopSaver(const std::string& programPath, const std::string& saverFolder = kMateSaverFolder);

} // namespace lumora
