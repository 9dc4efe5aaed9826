#pragma once
// SIGTERM, SIGINT and SIGHUP turned into one call on the main thread, so the program can close its
// window the orderly way (music stopped, mixer restored, cursor shown) instead of dying mid-frame.

#include <functional>

namespace lumora {

// Installs the handlers; the callback gets the signal number and runs from the event loop.
// A second call replaces the callback. Needs a Qt application object.
void InstallCloseSignals(std::function<void(int signal)> onSignal);
// Restores the default actions and stops listening.
void RemoveCloseSignals();

} // namespace lumora
