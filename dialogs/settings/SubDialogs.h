#pragma once
// Plugs the theme manager, the groups and picture-size dialogs and the sound previews into the
// settings dialog.

#include <string>

class QWidget;

namespace lumora {

class TSaverSettings;

void InstallSubDialogs();

// Plays a file in the preview its extension calls for: the sound preview for what the audio
// player plays, the MIDI preview for anything else. Shown modally over owner.
void PreviewSoundFile(TSaverSettings* settings, QWidget* owner, const std::string& file);

} // namespace lumora
