#pragma once
// Standard dialogs of the framework that Qt's own do not cover whole: the font dialog edits a
// font's colour along with its face, size and style.

#include "framework/Graphics.h"

class QWidget;

namespace lumora {

// Shows the font dialog modally over parent, starting from font; on OK font takes the chosen face,
// size, style and colour and the answer is true. The character set and pitch are kept.
bool ExecuteFontDialog(QWidget* parent, TFont& font);

} // namespace lumora
