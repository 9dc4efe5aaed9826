#pragma once
// The mouse cursor's display counter: hidden while the count is below zero, as the system's
// ShowCursor works, so nested hide/show pairs of different owners agree.

#include <functional>

namespace lumora {

// Raises (show) or lowers (hide) the counter and returns the new count.
int ShowCursor(bool show);
int CursorDisplayCount();
bool CursorHidden();
// Where the counter's state is applied; the default sets or removes a blank override cursor on
// the Qt application. Tests put a recorder here.
void SetCursorApplier(std::function<void(bool hidden)> applier);

} // namespace lumora
