#pragma once
// The screen's list of numbered cursors, as the form framework kept it: a module registers a cursor
// under a number at start-up and windows ask for it by that number.

#include <functional>

#include <QCursor>

namespace lumora {

// The cursor is made on first use, because Qt can make cursors only once the application exists;
// registration can therefore happen in a module's static initialisation.
void RegisterCursor(int index, std::function<QCursor()> make);
bool CursorRegistered(int index);
// The registered cursor, or the arrow when nothing is registered under index.
QCursor CursorByIndex(int index);

} // namespace lumora
