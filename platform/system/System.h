#pragma once
// Program and system folders, and which line of the operating system the program believes it runs on.

#include <string>

namespace lumora {

// Folder of the running program, without a trailing separator.
std::string ProgramFolder();
void SetProgramFolder(const std::string& folder); // tests

enum class TOSLine { NT, Win9x };
// Linux is treated as the NT line; tests can switch to 9x to reach the 9x-only paths.
TOSLine OSLine();
void SetOSLine(TOSLine line);

// Folders without a trailing separator: the user's configuration and data folders (XDG) and a
// system folder standing in for the Windows and system directories.
std::string ConfigFolder();
std::string DataFolder();
std::string SystemFolder();
std::string TempFolder();
// The user's home folder, where their pictures and music live; "/" when they have none.
std::string HomeFolder();

} // namespace lumora
