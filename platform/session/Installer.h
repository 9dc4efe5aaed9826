#pragma once
// Installing the program as the desktop's screensaver: a screensaver desktop entry that starts
// the program with "/s", written by each user into their data folder where screensaver managers
// look, and the link that mate-screensaver needs, as it runs only the programs in a folder of its
// own, which root makes.

#include <string>

namespace lumora {

// The folder of programs that mate-screensaver agrees to run (Debian's).
inline constexpr const char* kMateSaverFolder = "/usr/lib/mate-screensaver/mate-screensaver";

// The folder the entry goes to: $XDG_DATA_HOME/applications/screensavers (default ~/.local/share),
// and the entry's path in it.
std::string ScreenSaverEntryFolder();
std::string ScreenSaverEntryPath();
// Writes (replacing a previous one, never leaving half a file) the entry that runs runPath with
// "/s" and returns the entry's path. Throws EFCreateError, with the reason, when it cannot.
std::string InstallScreenSaver(const std::string& runPath);
// The text of the entry: Exec quoted as the desktop-entry format asks, TryExec a plain path.
std::string ScreenSaverEntryText(const std::string& runPath);

// The link to the program in a daemon's folder of programs: saverFolder + "/lumora".
std::string SaverLinkPath(const std::string& saverFolder);
// The program that the link in saverFolder runs (links resolved), when it leads to one; else empty.
std::string WorkingSaverLink(const std::string& saverFolder);
// Root's step: makes the link in saverFolder lead to programPath, replacing a link that led
// elsewhere, and returns its path. Throws EFCreateError when it cannot (no such folder, or not
// root), and refuses to replace anything but a link.
std::string LinkIntoSaverFolder(const std::string& programPath, const std::string& saverFolder = kMateSaverFolder);

// Whether this run takes root's step: only root may write the daemon's folder.
bool InstallsAsRoot();

// What a user's install did.
struct TSaverInstall {
    std::string runPath;      // what the entry runs
    std::string entry;        // the entry's path
    bool kept = false;        // the entry there already ran runPath, and was left as it is
    std::string linkTarget;   // the program the daemon's link runs; empty when it runs none
    bool linkMissing = false; // the daemon's folder is there, with no working link in it
};
// The user's step: writes the user's entry. Where the daemon's folder holds a working link, the
// entry runs the link, whichever build it leads to (the daemon runs nothing else); otherwise it
// runs programPath. Throws EFCreateError when the entry cannot be written.
TSaverInstall InstallDesktopSaver(const std::string& programPath, const std::string& saverFolder = kMateSaverFolder);

} // namespace lumora
