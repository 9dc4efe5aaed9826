#include "dialogs/settings/SubDialogs.h"

#include "dialogs/settings/ThemesDialog.h"
#include "dialogs/settings/GroupsDialog.h"
#include "dialogs/settings/PictureSizeDialog.h"
#include "dialogs/settings/SaverSettings.h"
#include "dialogs/previews/SoundPreview.h"
#include "dialogs/previews/MidiPreview.h"
#include "engine/Common.h"
#include "engine/playlists/PlayLists.h"
#include "framework/SysUtils.h"

namespace lumora {

void PreviewSoundFile(TSaverSettings* settings, QWidget* owner, const std::string& file) {
    if (file.empty()) return;
    // A shortcut plays as what it points to.
    std::string target = ResolveLinkPath(file);
    if (IsBassExt(ExtractFileExt(target.empty() ? file : target))) {
        TSPrev preview(settings, owner);
        preview.FileName = file;
        preview.exec();
    } else {
        TSPrev2 preview(settings, owner);
        preview.FileName = file;
        preview.exec();
    }
}

void InstallSubDialogs() {
    TSettingsDialogHooks& hooks = SettingsDialogHooks();
    hooks.ThemeManager = [](TSaverSettings& dlg) {
        TExtSetup manager(dlg, &dlg);
        return manager.exec() == QDialog::Accepted;
    };
    hooks.Groups = [](TSaverSettings& dlg, const std::string& soundFolder, const std::string& pictureFolder) {
        TGroup groups(dlg, &dlg);
        groups.SoundFolder = soundFolder;
        groups.PictureFolder = pictureFolder;
        return groups.exec() == QDialog::Accepted;
    };
    hooks.PictureSize = [](TSaverSettings& dlg, int& mode, int& x, int& y) {
        TImgSSet size(&dlg);
        size.Mode = mode;
        size.BoxX = x;
        size.BoxY = y;
        if (size.exec() != QDialog::Accepted) return false;
        mode = size.Mode;
        x = size.BoxX;
        y = size.BoxY;
        return true;
    };
    hooks.SoundPreview = [](TSaverSettings& dlg, QWidget* owner, const std::string& file) {
        PreviewSoundFile(&dlg, owner, file);
    };
}

} // namespace lumora
