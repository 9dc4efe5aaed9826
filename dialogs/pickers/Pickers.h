#pragma once
// Plugs the picture-folder and sound-folder pickers into the settings dialog.

namespace lumora {

void InstallPickers();

} // namespace lumora
