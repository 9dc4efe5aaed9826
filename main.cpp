// The lumora program: everything happens in the entry unit of the engine; the settings dialog of
// mode "C" sits above it and is handed over here.
#include "engine/saver/SaverEntry.h"

#if __has_include("dialogs/settings/SaverSettings.h")
#include "dialogs/settings/SaverSettings.h"
#include "dialogs/pickers/Pickers.h"
#include "dialogs/settings/SubDialogs.h"
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
