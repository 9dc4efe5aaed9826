#pragma once
// The logo picture dialog: an open dialog for one bitmap file, with a folder tree, the list of the
// chosen folder's bitmaps and a name box. It is built on the shell views, so a folder or file whose
// name is not UTF-8 is listed by the name the pickers show and chosen as the bytes it has.

#include <string>

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace lumora {

class TFolderView;
class TFileView;

class TLogoSelect : public QDialog {
public:
    explicit TLogoSelect(QWidget* owner);

    // In: the folder to open in; empty or gone, the working folder.
    std::string InitialFolder;
    // Out, on OK: the chosen file's path as the file system names it.
    std::string FileName;

    // OK and Enter in the name box: the selected file, or the typed name in the folder shown (a
    // name without an extension is a bitmap); a typed folder is opened instead.
    void OpenClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FileChange();

    TFolderView* folders_;
    TFileView* files_;
    QLineEdit* name_;
    QComboBox* types_;
    QPushButton* open_;
    QPushButton* cancel_;
    // The file selected in the list, as bytes, and the name the box showed for it.
    std::string selected_;
    bool shown_ = false;
};

} // namespace lumora
