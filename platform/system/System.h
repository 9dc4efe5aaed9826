#pragma once
// Program and system folders, and which line of the operating system the program believes it runs on.

#include <string>

namespace lumora {

// The running program's own file (links resolved), whatever it is called; empty when unknown.
std::string ProgramPath();
// Folder of the running program, without a trailing separator.
std::string ProgramFolder();
void SetProgramFolder(const std::string& folder); // tests

enum class TOSLine { NT, Win9x };
// Linux is treated as the NT line; tests can switch to 9x to reach the 9x-only paths.
TOSLine OSLine();
void SetOSLine(TOSLine line);

// Makes the character set of the process's locale UTF-8, keeping its language, when the locale
// the program started in (the POSIX locale of a login without LANG, say) has another: all text of
// the program is UTF-8, and what the C library and Xlib convert (window titles among it) must be
// read as UTF-8 too.
void UseUtf8CharacterSet();

// Folders without a trailing separator: the user's home, where their pictures and music live (an
// absolute HOME, else the account's home in the password database, "/" when they have none), the user's
// configuration and data folders (XDG: an absolute XDG_CONFIG_HOME or XDG_DATA_HOME, else under the
// home) and a system folder standing in for the Windows and system directories.
std::string HomeFolder();
std::string ConfigFolder();
std::string DataFolder();
std::string SystemFolder();
std::string TempFolder();

} // namespace lumora
