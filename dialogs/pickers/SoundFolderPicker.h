#pragma once
// The sound-folder picker: the twin of the picture-folder picker with the picture preview replaced
// by what the tag and stream readers say about the selected sound file, and a play button.

#include <functional>
#include <string>

#include "dialogs/pickers/PictureFolderPicker.h"

class QPushButton;

namespace Ui {
class DirSelect2;
}

namespace lumora {

class TRegData;

// Play time as shown on the panel: round(seconds) as "m:ss".
std::string PlayTimeText(double seconds);

class TDSelect2 : public TPickerForm {
public:
    TDSelect2(QWidget* owner, TRegData& data);
    ~TDSelect2() override;

    Ui::DirSelect2* ui;
    // Opens the preview for a file: the sound preview when bassPreview, else the MIDI preview.
    std::function<void(const std::string& file, bool bassPreview)> OnPlay;

    // Opens the information and tag form for the selected file (BitBtn2, or the file list's
    // context menu item "ﾀｸﾞ情報(&I)...").
    QPushButton* BitBtn2;

    void FileView1Change() override;
    void SpeedButton5Click();
    void BitBtn2Click();
    void FileView1ContextPopup(const QPoint& screenPoint);
    // The twelve value labels' texts in the order Label20, 8, 11, 10, 12, 13, 6, 1, 3, 7, 26, 5.
    std::vector<std::string> ValueTexts() const;

protected:
    int ViewState() const override;
    void SetViewState(int state) override;
    bool PanelState() const override;
    void SetPanelState(bool on) override;
    void SaveState() override;
    void ShowStarted() override;
    void FolderChanged(bool usable) override;

private:
    void ClearValues();
    void ShowInfo(const std::string& file);
    // The selected file, or the target of a selected shortcut; empty without a selected file.
    std::string SelectedTarget() const;
    TRegData& data_;
};

} // namespace lumora
