#include "dialogs/pickers/Pickers.h"

#include <QDialog>

#include "dialogs/pickers/PictureFolderPicker.h"
#include "dialogs/pickers/SoundFolderPicker.h"
#include "dialogs/settings/SaverSettings.h"

namespace lumora {

void InstallPickers() {
    TSettingsDialogHooks& hooks = SettingsDialogHooks();
    hooks.PictureFolder = [](TSaverSettings& dlg, TFolderPick& pick) {
        TDSelect form(&dlg, dlg.CurrentData());
        form.Folder = pick.StartFolder;
        form.Mask = pick.Mask;
        form.FolderDisplay = pick.SubFolders;
        if (!pick.Caption.empty()) form.setWindowTitle(QString::fromUtf8(pick.Caption));
        if (ShowPickerModal(form) != QDialog::Accepted) return false;
        pick.Chosen = form.Folder;
        return true;
    };
    hooks.SoundFolder = [](TSaverSettings& dlg, TFolderPick& pick) {
        TDSelect2 form(&dlg, dlg.CurrentData());
        form.Folder = pick.StartFolder;
        form.Mask = pick.Mask;
        form.FolderDisplay = pick.SubFolders;
        form.OnPlay = [&dlg, &form](const std::string& file, bool) {
            // The preview chooses the sound or the MIDI player by the same rule.
            if (SettingsDialogHooks().SoundPreview) SettingsDialogHooks().SoundPreview(dlg, &form, file);
        };
        if (ShowPickerModal(form) != QDialog::Accepted) return false;
        pick.Chosen = form.Folder;
        return true;
    };
}

} // namespace lumora
