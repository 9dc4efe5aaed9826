#include "dialogs/pickers/PictureFolderPicker.h"

#include <algorithm>

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include "dialogs/pickers/PicturePreview.h"
#include "dialogs/controls/ImageView.h"
#include "engine/playlists/PlayLists.h"
#include "engine/settings/Settings.h"
#include "framework/Forms.h"
#include "framework/Graphics.h"
#include "framework/SysUtils.h"
#include "ui_PictureFolderPicker.h"

namespace lumora {

namespace {

QString Q(const std::string& s) { return FileNameText(s); }

// The history box shows each folder's name and keeps the folder's bytes beside it.
constexpr int kPathRole = Qt::UserRole;
QByteArray PathBytes(const std::string& path) {
    return QByteArray(path.data(), static_cast<qsizetype>(path.size()));
}
std::string HistoryPath(const QComboBox* combo, int index) {
    return index < 0 ? std::string() : combo->itemData(index, kPathRole).toByteArray().toStdString();
}

// The thumbnail box on the panel.
constexpr int kThumbWidth = 126, kThumbHeight = 98, kThumbLeft = 8, kThumbTop = 7;

// Runs a handler bound to a control; an exception goes to the application's handler, never into Qt.
template <typename F>
void Guarded(F&& f) {
    Application().Guard(std::forward<F>(f));
}

} // namespace

TModalRunner& PickerModalRunner() {
    static TModalRunner runner = [](QDialog& dialog) { return dialog.exec(); };
    return runner;
}

int ShowPickerModal(QDialog& dialog) { return PickerModalRunner()(dialog); }

QSize FitToScreen(const QWidget& dialog, QSize wanted) {
    const QWidget* owner = dialog.parentWidget() ? dialog.parentWidget()->window() : &dialog;
    QScreen* screen = owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    if (!screen) return wanted;
    // The dialog's frame is not known before it is shown; the owner's is the best guess.
    const QSize frame = owner->isVisible() ? owner->frameGeometry().size() - owner->size() : QSize(0, 0);
    return wanted.boundedTo(screen->availableGeometry().size() - frame);
}

double FitRatio(int w, int h, int W, int H) {
    if (h == 0 || H == 0 || w == 0) return 0;
    double box = static_cast<double>(W) / H, pic = static_cast<double>(w) / h;
    return box >= pic ? static_cast<double>(H) / h : static_cast<double>(W) / w;
}

std::vector<std::string> MaskFromPatterns(const std::string& patterns) {
    std::vector<std::string> mask;
    std::string piece;
    for (size_t i = 0; i <= patterns.size(); ++i) {
        if (i == patterns.size() || patterns[i] == ';') {
            if (!piece.empty()) mask.push_back(piece);
            piece.clear();
        } else if (patterns[i] != '*') {
            piece += patterns[i];
        }
    }
    return mask;
}

// ---- TPickerForm ----

TPickerForm::TPickerForm(QWidget* owner) : QDialog(owner) {}

void TPickerForm::BindControls(const TControls& controls) {
    c_ = controls;
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    c_.FileView1->SetViewStyle(TViewStyle::vsReport);
    c_.FileView1->SetReadOnly(true);
    c_.FileView1->SetMultiSelect(false);
    c_.FolderView1->OnChange = [this] { Guarded([this] { FolderView1Change(); }); };
    c_.FileView1->OnChange = [this] { Guarded([this] { FileView1Change(); }); };
    connect(c_.ComboBox1, &QComboBox::activated, this, [this] { Guarded([this] { ComboBox1Change(); }); });
    connect(c_.SpeedButton1, &QToolButton::clicked, this, [this] { Guarded([this] { SpeedButton1Click(); }); });
    connect(c_.SpeedButton2, &QToolButton::clicked, this, [this] { Guarded([this] { SpeedButton2Click(); }); });
    connect(c_.SpeedButton4, &QToolButton::clicked, this, [this] { Guarded([this] { SpeedButton4Click(); }); });
    connect(c_.SpeedButton6, &QToolButton::clicked, this, [this] { Guarded([this] { SpeedButton6Click(); }); });
    connect(c_.Button2, &QPushButton::clicked, this, [this] {
        bool gone = false;
        Guarded([&] { gone = SelectionGone(); });
        if (gone) {
            // OK was disabled while the tree was rebuilt, which handed the focus, and with it the
            // part of the default button, to Cancel: give both back so Enter chooses the folder shown.
            if (c_.Button2->isEnabled()) c_.Button2->setFocus(Qt::OtherFocusReason);
            return;
        }
        Guarded([this] { Button2Click(); });
        accept();
    });
    connect(c_.Button1, &QPushButton::clicked, this, [this] { reject(); });
    // The form description's places are the smallest layout; a larger window gives the lists the room.
    design_.Form = size();
    design_.Combo = c_.ComboBox1->geometry();
    design_.Tree = c_.FolderView1->geometry();
    design_.List = c_.FileView1->geometry();
    design_.Panel = c_.Panel->geometry();
    for (QWidget* corner : {static_cast<QWidget*>(c_.SpeedButton2), static_cast<QWidget*>(c_.SpeedButton4),
                            static_cast<QWidget*>(c_.SpeedButton6), static_cast<QWidget*>(c_.SpeedButton1),
                            static_cast<QWidget*>(c_.Button2), static_cast<QWidget*>(c_.Button1)})
        design_.Corner.push_back({corner, corner->pos()});
    setMinimumSize(FitToScreen(*this, size()));
    setSizeGripEnabled(true);
    // Opened larger than the description, so the lists have room for long names and the file
    // list shows its four columns whole beside the panel, as far as the screen has room. The file
    // list takes two thirds of the extra width.
    const int listExtra = std::max(0, c_.FileView1->ReportWidth() - design_.List.width());
    int dx = 120;
    while (dx - dx / 3 < listExtra) ++dx;
    resize(FitToScreen(*this, size() + QSize(dx, 42)));
}

void TPickerForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    Guarded([this] { FormShow(); });
}

void TPickerForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (c_.Panel) LayoutControls();
}

void TPickerForm::done(int result) {
    Guarded([this] { FormClose(); });
    QDialog::done(result);
}

// The history box and the views grow with the window: the tree takes a third of the extra width,
// the file list the rest and all that the panel leaves when it is hidden; the buttons keep to the
// right and bottom edges.
void TPickerForm::LayoutControls() {
    // A screen smaller than the description gives a window smaller than it, and the lists shrink.
    int dx = width() - design_.Form.width(), dy = height() - design_.Form.height();
    QRect combo = design_.Combo;
    c_.ComboBox1->setGeometry(combo.x(), combo.y(), combo.width() + dx, combo.height());
    QRect tree = design_.Tree;
    c_.FolderView1->setGeometry(tree.x(), tree.y(), tree.width() + dx / 3, tree.height() + dy);
    QRect panel = design_.Panel;
    c_.Panel->setGeometry(panel.x() + dx, panel.y(), panel.width(), panel.height() + dy);
    int listLeft = c_.FolderView1->geometry().right() + 1 + (design_.List.left() - tree.right() - 1);
    int listRight = c_.Panel->isVisibleTo(this) ? c_.Panel->geometry().left() - (panel.left() - design_.List.right())
                                               : width() - (design_.Form.width() - panel.right());
    c_.FileView1->setGeometry(listLeft, design_.List.y(), std::max(40, listRight - listLeft + 1),
                              design_.List.height() + dy);
    // The view buttons keep to the right edge, OK and Cancel to the bottom right corner.
    for (const auto& [widget, place] : design_.Corner)
        widget->move(place + QPoint(dx, place.y() > design_.List.bottom() ? dy : 0));
}

void TPickerForm::FormShow() {
    int state = ViewState();
    QToolButton* button = state == 0 ? c_.SpeedButton2 : state == 1 ? c_.SpeedButton4 : c_.SpeedButton6;
    button->setChecked(true);
    c_.FileView1->SetViewStyle(state == 0 ? TViewStyle::vsIcon : state == 1 ? TViewStyle::vsList : TViewStyle::vsReport);
    c_.SpeedButton1->setChecked(PanelState());
    c_.Panel->setVisible(PanelState());
    // Nothing is selected yet, so there is nothing to show or play.
    c_.BitBtn1->setEnabled(false);
    LayoutControls();
    ShowStarted();
    c_.FileView1->SetMask(MaskFromPatterns(Mask));
    c_.FileView1->SetFolderDisplay(FolderDisplay);
    c_.FolderView1->SetFileView(c_.FileView1);
    if (!c_.FolderView1->SelectPath(Folder)) FolderView1Change();
    c_.FileView1->Fill();
    shownFolder_ = c_.FolderView1->SelectedPath();
}

void TPickerForm::FolderView1Change() {
    std::string path = c_.FolderView1->SelectedPath();
    bool usable = !path.empty() && !c_.FolderView1->NotFileSystemFolder();
    c_.Button2->setEnabled(usable);
    // Folders renamed or removed since they were listed are no choice any more.
    for (int i = c_.ComboBox1->count() - 1; i >= 0; --i)
        if (!DirectoryExists(HistoryPath(c_.ComboBox1, i))) c_.ComboBox1->removeItem(i);
    if (usable) {
        int index = c_.ComboBox1->findData(PathBytes(path), kPathRole);
        if (index < 0) {
            c_.ComboBox1->insertItem(0, Q(path), PathBytes(path));
            index = 0;
        }
        c_.ComboBox1->setCurrentIndex(index);
    }
    FolderChanged(usable);
}

void TPickerForm::ComboBox1Change() {
    // A folder removed since it was listed cannot be shown: the tree stays where it is, and the
    // history drops the entry and shows the tree's folder again.
    if (!c_.FolderView1->SelectPath(HistoryPath(c_.ComboBox1, c_.ComboBox1->currentIndex())))
        FolderView1Change();
}

void TPickerForm::Button2Click() {
    // The folder the picker opened on stays as it was given unless the user chose another: a
    // stored folder is never rewritten behind the user's back.
    std::string chosen = HistoryPath(c_.ComboBox1, c_.ComboBox1->currentIndex());
    if (!chosen.empty() && chosen != shownFolder_ && DirectoryExists(chosen)) Folder = chosen;
}

bool TPickerForm::SelectionGone() {
    std::string path = c_.FolderView1->SelectedPath();
    if (path.empty() || DirectoryExists(path)) return false;
    // The folder went away while the picker showed it: show the nearest one that is still there.
    std::string existing = path;
    while (!existing.empty() && existing != "/" && !DirectoryExists(existing))
        existing = ExcludeTrailingPathDelimiter(ExtractFilePath(ExcludeTrailingPathDelimiter(existing)));
    c_.FolderView1->BuildRoot();
    if (existing.empty() || !c_.FolderView1->SelectPath(existing)) FolderView1Change();
    return true;
}

void TPickerForm::SpeedButton1Click() {
    bool on = c_.SpeedButton1->isChecked();
    c_.Panel->setVisible(on);
    SetPanelState(on);
    LayoutControls();
}

void TPickerForm::SpeedButton2Click() {
    c_.FileView1->SetViewStyle(TViewStyle::vsIcon);
    SetViewState(0);
}

void TPickerForm::SpeedButton4Click() {
    c_.FileView1->SetViewStyle(TViewStyle::vsList);
    SetViewState(1);
}

void TPickerForm::SpeedButton6Click() {
    c_.FileView1->SetViewStyle(TViewStyle::vsReport);
    SetViewState(2);
}

void TPickerForm::FormClose() { SaveState(); }

std::string TPickerForm::SelectedFile() const {
    std::string p = c_.FileView1->SelectedPath();
    if (p.empty() || !FileExists(p)) return {};
    return p;
}

// ---- TDSelect ----

TDSelect::TDSelect(QWidget* owner, TRegData& data) : TPickerForm(owner), ui(new Ui::DirSelect), data_(data) {
    ui->setupUi(this);
    BindControls({ui->FolderView1, ui->FileView1, ui->ComboBox1, ui->SpeedButton1, ui->SpeedButton2, ui->SpeedButton4,
                  ui->SpeedButton6, ui->Button1, ui->Button2, ui->BitBtn1, ui->Panel4});
    connect(ui->BitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { SpeedButton5Click(); }); });
    ui->Image1->installEventFilter(this);
    FormCreate();
}

TDSelect::~TDSelect() { delete ui; }

void TDSelect::FormCreate() { LastPath.clear(); }

int TDSelect::ViewState() const { return data_.ImgBtnState; }
void TDSelect::SetViewState(int state) { data_.ImgBtnState = state; }
bool TDSelect::PanelState() const { return data_.ImgPreview; }
void TDSelect::SetPanelState(bool on) { data_.ImgPreview = on; }
void TDSelect::SaveState() { data_.SaveImgBtnState(); }

QSize TDSelect::ThumbnailSize() const { return ui->Image1->Empty() ? QSize(0, 0) : ui->Image1->size(); }

void TDSelect::ClearPreview() {
    ui->Label2->clear();
    ui->Label3->clear();
    ui->Image1->Clear();
}

void TDSelect::FileView1Change() {
    std::string p = SelectedFile();
    if (p == LastPath) return;
    LastPath = p;
    ui->BitBtn1->setEnabled(!p.empty());
    if (p.empty()) {
        if (!ui->Label2->text().isEmpty()) ClearPreview();
        return;
    }
    ui->Label2->setText(Q(ExtractFileName(p)));
    ui->Label3->clear();
    ui->Image1->Clear();
    std::string target = ResolveLinkPath(p);
    try {
        TPicture picture;
        picture.LoadFromFile(target.empty() ? p : target);
        // An animated GIF plays in the thumbnail.
        const QSize size = ui->Image1->SetPicture(picture);
        int w = size.width(), h = size.height();
        ui->Label3->setText(Q('(' + IntToStr(w) + "x" + IntToStr(h) + ")"));
        double ratio = FitRatio(w, h, kThumbWidth, kThumbHeight);
        int tw = static_cast<int>(w * ratio), th = static_cast<int>(h * ratio);
        ui->Image1->setGeometry((kThumbWidth - tw) / 2 + kThumbLeft, (kThumbHeight - th) / 2 + kThumbTop, tw, th);
        update();
    } catch (const std::exception&) {
        ui->BitBtn1->setEnabled(false);
        MessageBox("画像ﾌｧｲﾙが不正です", Application().Title, TMsgIcon::Error);
    }
}

void TDSelect::SpeedButton5Click() {
    std::string p = ui->FileView1->SelectedPath();
    if (p.empty()) return;
    std::string target = ResolveLinkPath(p);
    if (target.empty()) target = p;
    TPicture picture;
    picture.LoadFromFile(target); // a failure reaches the application's handler
    TIPrev preview(this);
    preview.SetPicture(target, picture);
    ShowPickerModal(preview);
}

bool TDSelect::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->Image1 && event->type() == QEvent::MouseButtonDblClick && ui->BitBtn1->isEnabled()) {
        Guarded([this] { SpeedButton5Click(); });
        return true;
    }
    return TPickerForm::eventFilter(watched, event);
}

} // namespace lumora
