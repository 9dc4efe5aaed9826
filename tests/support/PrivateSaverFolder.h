#pragma once
// mate-screensaver's folder of programs belongs to the machine, and tests run as root link the
// program into it. Test programs run as root therefore see a private copy of that folder: the
// process moves into a mount namespace of its own with a fresh in-memory file system over the
// folder, holding copies of what was there. Whatever the tests do there, however many run at once
// and however they end (killed included), the machine's folder stays as it was; the copy goes
// with the last process of the namespace.

#include <string>

namespace lumora::test {

// Called first thing in main, while the process has one thread. Does nothing for a user, who
// cannot write the folder anyway, nor for a root who cannot become another user, as the tests that
// change the folder then run a user's step. Returns why the folder could not be made private, or "".
std::string MakeSaverFolderPrivate();
// Whether this process sees a private copy of the folder, which tests may change, and why not.
bool SaverFolderIsPrivate();
const std::string& WhySaverFolderIsNotPrivate();
// Why the tests cannot run commands as an unprivileged user (test::AsUser()), or "" when they can:
// root in a user namespace (a container's root, "unshare -U -r") maps no other user to become.
// A plain user runs them as themselves.
const std::string& WhyNotAsUser();
// Removes the program's link from the private folder, so that a test starts without one.
void RemovePrivateSaverLink();

} // namespace lumora::test
