#pragma once
// Program entry: the mode switch on the first command-line argument.

#include <functional>
#include <string>

#include "platform/session/ScreenSaver.h"

namespace lumora {

// The mode letter: "C" without arguments, else the first argument's second character with a to z
// upper-cased; an argument shorter than two characters gives '\0', which is no mode.
char ModeLetter(int argc, const char* const* argv);
// The window handle of modes "P" and "A" from the second argument: 0 when it is missing, not a
// number, negative or too large for a window id.
TNativeHandle HandleArgument(int argc, const char* const* argv);

// Mode "C" shows the settings dialog; the program installs it here (the dialogs sit above this
// layer). Returns the dialog's result; without one, mode "C" ends at once.
void SetSettingsDialogRunner(std::function<int()> runner);

// Installs the program as the desktop's screensaver (mode "I"): run as root, links the program
// into mate-screensaver's folder; run as a user, writes the user's entry. Says what it did, or why
// it failed, in one line each, and returns the exit status.
int InstallSaver();

int LumSaverMain(int argc, char** argv);

} // namespace lumora
