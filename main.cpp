// The lumora program: everything happens in the entry unit of the engine; the settings dialog of
// mode "C" sits above it and is handed over here.
#include "engine/LumSaver.h"

#if __has_include("dialogs/SaverSettings.h")
#include "dialogs/SaverSettings.h"
#include "dialogs/Pickers.h"
#include "dialogs/SubDialogs.h"
#define LUMORA_HAVE_SETTINGS_DIALOG 1
#endif

int main(int argc, char** argv) {
#ifdef LUMORA_HAVE_SETTINGS_DIALOG
    lumora::SetSettingsDialogRunner([] {
        lumora::InstallSubDialogs();
        lumora::InstallPickers();
        return lumora::RunSettingsDialog();
    });
#endif
    return lumora::LumSaverMain(argc, argv);
}
