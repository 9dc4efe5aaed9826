#include "dialogs/pickers/LogoPicker.h"

#include <filesystem>
#include <system_error>

#include <QAbstractItemView>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSplitter>
#include <QTreeView>

#include "dialogs/pickers/PictureFolderPicker.h"
#include "dialogs/pickers/ShellViews.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"

namespace lumora {

namespace {

constexpr const char* kBitmapExt = ".bmp";

std::string WorkingFolder() {
    std::error_code error;
    std::string folder = std::filesystem::current_path(error).string();
    return error ? std::string("/") : folder;
}

} // namespace

TLogoSelect::TLogoSelect(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("ﾛｺﾞｲﾒｰｼﾞの選択"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setSizeGripEnabled(true);

    auto* split = new QSplitter(this);
    folders_ = new TFolderView(split);
    folders_->setObjectName("FolderView1");
    files_ = new TFileView(split);
    files_->setObjectName("FileView1");
    split->addWidget(folders_);
    split->addWidget(files_);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 2);
    split->setChildrenCollapsible(false);

    auto* nameLabel = new QLabel(QStringLiteral("ファイル名(&N):"), this);
    name_ = new QLineEdit(this);
    name_->setObjectName("fileNameEdit");
    nameLabel->setBuddy(name_);
    auto* typeLabel = new QLabel(QStringLiteral("ファイルの種類(&T):"), this);
    types_ = new QComboBox(this);
    types_->setObjectName("fileTypeCombo");
    types_->addItem(QStringLiteral("ビットマップファイル (*.bmp)"));
    typeLabel->setBuddy(types_);
    open_ = new QPushButton(QStringLiteral("開く(&O)"), this);
    open_->setObjectName("openButton");
    open_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("キャンセル"), this);
    cancel_->setObjectName("cancelButton");

    auto* grid = new QGridLayout(this);
    grid->addWidget(split, 0, 0, 1, 3);
    grid->addWidget(nameLabel, 1, 0);
    grid->addWidget(name_, 1, 1);
    grid->addWidget(open_, 1, 2);
    grid->addWidget(typeLabel, 2, 0);
    grid->addWidget(types_, 2, 1);
    grid->addWidget(cancel_, 2, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 1);

    files_->SetReadOnly(true);
    files_->SetMultiSelect(false);
    files_->SetFileExecute(false);
    files_->SetFolderDisplay(true);
    files_->SetMask({kBitmapExt});
    files_->SetViewStyle(TViewStyle::vsReport);
    files_->OnChange = [this] { Application().Guard([this] { FileChange(); }); };
    // A double click opens a folder in the tree (the list's own doing) or chooses a file.
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(files_->ReportView()),
                                    static_cast<QAbstractItemView*>(files_->ListView())})
        connect(view, &QAbstractItemView::doubleClicked, this, [this] {
            std::string path = files_->SelectedPath();
            if (!path.empty() && FileExists(path)) Application().Guard([this] { OpenClick(); });
        });
    connect(open_, &QPushButton::clicked, this, [this] { Application().Guard([this] { OpenClick(); }); });
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    resize(FitToScreen(*this, QSize(600, 400)));
}

void TLogoSelect::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    folders_->SetFileView(files_);
    if (InitialFolder.empty() || !folders_->SelectPath(InitialFolder)) folders_->SelectPath(WorkingFolder());
    files_->Fill();
    name_->setFocus();
}

void TLogoSelect::FileChange() {
    std::string path = files_->SelectedPath();
    if (path.empty() || !FileExists(path)) return;
    selected_ = path;
    name_->setText(FileNameText(ExtractFileName(path)));
}

void TLogoSelect::OpenClick() {
    const std::string typed = name_->text().toStdString();
    if (typed.empty()) return;
    std::string path;
    if (!selected_.empty() && name_->text() == FileNameText(ExtractFileName(selected_))) {
        path = selected_;
    } else {
        path = typed.front() == '/' ? typed : IncludeTrailingPathDelimiter(folders_->SelectedPath()) + typed;
        if (DirectoryExists(path)) {
            folders_->SelectPath(path);
            name_->clear();
            return;
        }
        if (ExtractFileExt(path).empty()) path += kBitmapExt;
    }
    if (!FileExists(path)) {
        MessageBox(FileNameUtf8(path) + "\nファイルが見つかりません。\nファイル名を確認してください。",
                   windowTitle().toStdString(), TMsgIcon::Warning);
        return;
    }
    FileName = path;
    accept();
}

} // namespace lumora
