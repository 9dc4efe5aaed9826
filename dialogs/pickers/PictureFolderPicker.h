#pragma once
// The picture-folder picker: a folder tree and a file list, a history of folders, a small preview
// of the selected picture with its size, and a button that shows the picture in a window of its own.
// The view style and the preview switch are kept in the shown theme's settings.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <QDialog>

#include "dialogs/pickers/ShellViews.h"

class QComboBox;
class QPushButton;
class QToolButton;

namespace Ui {
class DirSelect;
}

namespace lumora {

class TRegData;

// Shows a dialog modally and returns its result. Tests replace it so that no modal loop runs.
using TModalRunner = std::function<int(QDialog&)>;
TModalRunner& PickerModalRunner();
int ShowPickerModal(QDialog& dialog);

// The size a dialog opens at: the wanted size, but no larger than the available area of the screen
// it opens on (its owner's), less the frame the owner's window has there.
QSize FitToScreen(const QWidget& dialog, QSize wanted);

// Ratio that fits a w x h picture into a W x H box (enlarging small ones); 0 when h or H is 0.
double FitRatio(int w, int h, int W, int H);
// The file list's mask from a pattern string: "*.jpg;*.bmp" gives ".jpg" and ".bmp".
std::vector<std::string> MaskFromPatterns(const std::string& patterns);

// What the picture and sound pickers share: the tree and list, the folder history, the view
// buttons, the panel switch and OK.
class TPickerForm : public QDialog {
public:
    explicit TPickerForm(QWidget* owner);

    std::string Folder;      // in: the start folder; out: the chosen folder
    std::string Mask;        // ";"-separated patterns such as "*.jpg"
    bool FolderDisplay = false;
    std::string LastPath;    // the file last shown on the panel

    void FormShow();
    void FolderView1Change();
    void ComboBox1Change();
    void Button2Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton4Click();
    void SpeedButton6Click();
    void FormClose();
    // The selected file's path: an existing file that is no folder, else empty.
    std::string SelectedFile() const;
    // True (and the tree moved to the nearest folder still there) when the selected folder no
    // longer exists.
    bool SelectionGone();

protected:
    struct TControls {
        TFolderView* FolderView1;
        TFileView* FileView1;
        QComboBox* ComboBox1;
        QToolButton *SpeedButton1, *SpeedButton2, *SpeedButton4, *SpeedButton6;
        QPushButton *Button1, *Button2, *BitBtn1;
        QWidget* Panel;
    };
    // Binds the controls of the form description (called once after setupUi).
    void BindControls(const TControls& controls);
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void done(int result) override;

    // The picker's two stored switches: the view style (0 icons, 1 list, 2 report) and the panel.
    virtual int ViewState() const = 0;
    virtual void SetViewState(int state) = 0;
    virtual bool PanelState() const = 0;
    virtual void SetPanelState(bool on) = 0;
    virtual void SaveState() = 0;
    virtual void ShowStarted() {}
    virtual void FolderChanged(bool usable) {}
    virtual void FileView1Change() = 0;
    void LayoutControls();

    TControls c_{};
    // The form description's size and places, from which the layout grows.
    struct TDesign {
        QSize Form;
        QRect Combo, Tree, List, Panel;
        std::vector<std::pair<QWidget*, QPoint>> Corner; // controls that keep to the right edge
    } design_;
    bool shown_ = false;
    // The path the tree selected for Folder when the form was shown.
    std::string shownFolder_;
};

class TDSelect : public TPickerForm {
public:
    // data is the shown theme's settings record, kept for the view switches.
    TDSelect(QWidget* owner, TRegData& data);
    ~TDSelect() override;

    Ui::DirSelect* ui;

    void FormCreate();
    void FileView1Change() override;
    void SpeedButton5Click();
    // Size of the picture on the panel, for tests; (0, 0) when none.
    QSize ThumbnailSize() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    int ViewState() const override;
    void SetViewState(int state) override;
    bool PanelState() const override;
    void SetPanelState(bool on) override;
    void SaveState() override;

private:
    void ClearPreview();
    TRegData& data_;
};

} // namespace lumora
