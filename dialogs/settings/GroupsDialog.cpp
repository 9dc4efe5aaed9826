#include "dialogs/settings/GroupsDialog.h"

#include <algorithm>
#include <new>

#include <QCheckBox>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QToolButton>

#include "dialogs/pickers/ShellViews.h"
#include "dialogs/settings/SaverSettings.h"
#include "engine/playlists/PlayLists.h"
#include "framework/Forms.h"
#include "ui_GroupsDialog.h"
#include "ui_SaverSettings.h"

namespace lumora {

namespace {

// Each entry shows a file's name and keeps the name's bytes beside it: a name that is not UTF-8
// is linked and stored as the file system gave it.
constexpr int kNameRole = Qt::UserRole;

std::string NameOf(const QListWidgetItem* item) { return item->data(kNameRole).toByteArray().toStdString(); }

// List boxes sort their entries by name without regard to case; equal names keep byte order.
bool NameLess(const QString& a, const QString& b) {
    int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

QListWidgetItem* NewItem(const std::string& name) {
    auto* item = new QListWidgetItem(FileNameText(name));
    item->setData(kNameRole, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
    return item;
}

void InsertSorted(QListWidget* list, const std::string& name) {
    QListWidgetItem* item = NewItem(name);
    int row = 0;
    while (row < list->count() && !NameLess(item->text(), list->item(row)->text())) ++row;
    list->insertItem(row, item);
}

void FillSorted(QListWidget* list, const std::vector<std::string>& names) {
    std::vector<QListWidgetItem*> items;
    for (const auto& name : names) items.push_back(NewItem(name));
    std::stable_sort(items.begin(), items.end(),
                     [](QListWidgetItem* a, QListWidgetItem* b) { return NameLess(a->text(), b->text()); });
    list->clear();
    for (QListWidgetItem* item : items) list->addItem(item);
}

// Picture names are file names: two names that differ only in case are two files.
int ExactIndex(const TStringList& list, const std::string& name) {
    for (int i = 0; i < list.Count(); ++i)
        if (list[i] == name) return i;
    return -1;
}

bool ListHas(QListWidget* list, const std::string& name) {
    for (int row = 0; row < list->count(); ++row)
        if (NameOf(list->item(row)) == name) return true;
    return false;
}

QColor ToQColor(TColor color) {
    TColor rgb = ColorToRGB(color);
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

// Scans a folder as the play lists do and lists the files relative to it.
std::vector<std::string> ScanRelative(const std::string& folder, bool subFolders,
                                      const std::string& extensions, int order, int sort) {
    TFileProc scan(folder, false, subFolders, extensions);
    ApplyOrder(scan.Files, ToOrderMode(order), IntToBool(sort));
    std::vector<std::string> names;
    for (int i = 0; i < scan.Files.Count(); ++i) names.push_back(RelativePath(scan.Folder, scan.Files[i]));
    return names;
}

class TSoundItemDelegate : public QStyledItemDelegate {
public:
    explicit TSoundItemDelegate(TGroup& form) : QStyledItemDelegate(&form), form_(form) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->fillRect(option.rect, ToQColor(form_.ListBox1ItemColor(index.row(), selected)));
        painter->setFont(option.font);
        painter->setPen(ToQColor(selected ? clHighlightText : clWindowText));
        painter->drawText(option.rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }

private:
    TGroup& form_;
};

} // namespace

TGroup::TGroup(TSaverSettings& settings, QWidget* parent) : QDialog(parent), ui(new Ui::Group), settings_(settings) {
    ui->setupUi(this);
    setWindowFlags((windowFlags() | Qt::Tool) & ~Qt::WindowContextHelpButtonHint);
    setSizeGripEnabled(true);
    ui->ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ui->ListBox2->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ui->ListBox3->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ui->ListBox1->setItemDelegate(new TSoundItemDelegate(*this));
    ui->SpeedButton1->setIcon(style()->standardIcon(QStyle::SP_ArrowLeft));
    ui->SpeedButton2->setIcon(style()->standardIcon(QStyle::SP_ArrowRight));
    auto guard = [this](void (TGroup::*handler)()) {
        return [this, handler] { Application().Guard([&] { (this->*handler)(); }); };
    };
    connect(ui->ListBox1, &QListWidget::itemSelectionChanged, this, guard(&TGroup::ListBox1Click));
    connect(ui->ListBox2, &QListWidget::itemSelectionChanged, this, guard(&TGroup::ListBox2Click));
    connect(ui->ListBox3, &QListWidget::itemSelectionChanged, this, guard(&TGroup::ListBox3Click));
    connect(ui->SpeedButton1, &QToolButton::clicked, this, guard(&TGroup::SpeedButton1Click));
    connect(ui->SpeedButton2, &QToolButton::clicked, this, guard(&TGroup::SpeedButton2Click));
    connect(ui->Button1, &QPushButton::clicked, this, guard(&TGroup::BitBtn4Click));
    connect(ui->Button2, &QPushButton::clicked, this, guard(&TGroup::OkButtonClick));
    connect(ui->Button3, &QPushButton::clicked, this, &QDialog::reject);
    FormCreate();
}

TGroup::~TGroup() { delete ui; }

void TGroup::FormCreate() {
    // From here on the record's group list exists (it is read once per record).
    settings_.CurrentData().LoadGroups(false);
}

void TGroup::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Application().Guard([this] { FormShow(); });
}

void TGroup::done(int result) {
    FormClose();
    QDialog::done(result);
}

void TGroup::FormShow() {
    SoundChosen = false;
    const TRegData& record = settings_.CurrentData();
    FillSorted(ui->ListBox1, ScanRelative(SoundFolder, settings_.ui->CheckBox9->isChecked(),
                                          ".mp3;.wav;.mid;.rmi;.wma;.ogg", record.SndRandom, record.SndSort));
    FillSorted(ui->ListBox3, ScanRelative(PictureFolder, settings_.ui->CheckBox8->isChecked(),
                                          ".jpg;.jpeg;.bmp;.gif;.tif;.tiff;.png;.pcx;.tga", record.OrdRandom,
                                          record.ImgSort));
    try {
        LinkLists.clear();
        LinkLists.reserve(static_cast<size_t>(ui->ListBox1->count()));
        for (int i = 0; i < ui->ListBox1->count(); ++i) LinkLists.push_back(std::make_unique<TStringList>());
    } catch (const std::bad_alloc&) {
        LinkLists.clear();
        MessageBox("ﾒﾓﾘが不足しているため中断します", "", TMsgIcon::Error);
        QTimer::singleShot(0, this, &QDialog::reject);
        return;
    }
    // Groups whose sound is not listed are not shown, and are gone after OK.
    const TStringList& groups = *record.Groups;
    for (int g = 0; g < groups.Count(); ++g) {
        if (groups[g].empty()) continue;
        const QString track = FileNameText(groups[g]);
        for (int row = 0; row < ui->ListBox1->count(); ++row) {
            if (QString::compare(ui->ListBox1->item(row)->text(), track, Qt::CaseInsensitive) != 0) continue;
            auto* pictures = static_cast<TStringList*>(groups.Objects(g));
            TStringList& links = *LinkLists[static_cast<size_t>(row)];
            links.Clear();
            for (int p = 0; pictures && p < pictures->Count(); ++p) links.Add((*pictures)[p]);
            break;
        }
    }
    ListBox1Click();
}

void TGroup::FormClose() { LinkLists.clear(); }

int TGroup::SelectedSound() const {
    const QList<QListWidgetItem*> selected = ui->ListBox1->selectedItems();
    if (selected.isEmpty()) return -1;
    int row = ui->ListBox1->row(selected.first());
    return row >= 0 && static_cast<size_t>(row) < LinkLists.size() ? row : -1;
}

void TGroup::ListBox1Click() {
    SoundChosen = true;
    ui->ListBox2->clear();
    int s = SelectedSound();
    if (s >= 0) {
        std::vector<std::string> names;
        const TStringList& links = *LinkLists[static_cast<size_t>(s)];
        for (int i = 0; i < links.Count(); ++i) names.push_back(links[i]);
        FillSorted(ui->ListBox2, names);
    }
    ListBox3Click();
}

void TGroup::ListBox3Click() {
    // Linking needs a sound to link to as well as pictures.
    ui->SpeedButton1->setEnabled(!ui->ListBox3->selectedItems().isEmpty() && SoundChosen && SelectedSound() >= 0);
}

void TGroup::ListBox2Click() { ui->SpeedButton2->setEnabled(!ui->ListBox2->selectedItems().isEmpty()); }

void TGroup::SpeedButton1Click() {
    int s = SelectedSound();
    if (s < 0) return;
    TStringList& links = *LinkLists[static_cast<size_t>(s)];
    for (int row = 0; row < ui->ListBox3->count(); ++row) {
        QListWidgetItem* item = ui->ListBox3->item(row);
        if (!item->isSelected() || ListHas(ui->ListBox2, NameOf(item))) continue;
        InsertSorted(ui->ListBox2, NameOf(item));
        links.Add(NameOf(item));
    }
    ui->ListBox1->viewport()->update();
}

void TGroup::SpeedButton2Click() {
    int s = SelectedSound();
    if (s < 0) return;
    TStringList& links = *LinkLists[static_cast<size_t>(s)];
    for (int row = ui->ListBox2->count() - 1; row >= 0; --row) {
        QListWidgetItem* item = ui->ListBox2->item(row);
        if (!item->isSelected()) continue;
        int index = ExactIndex(links, NameOf(item));
        if (index >= 0) links.Delete(index);
        delete ui->ListBox2->takeItem(row);
    }
    ListBox2Click();
    ui->ListBox1->viewport()->update();
}

void TGroup::BitBtn4Click() {
    ui->ListBox2->clear();
    for (auto& links : LinkLists) {
        links->Clear();
        links->SetSorted(true);
    }
    ui->ListBox1->viewport()->update();
}

TColor TGroup::ListBox1ItemColor(int index, bool selected) const {
    if (selected) return clHighlight;
    bool linked = index >= 0 && static_cast<size_t>(index) < LinkLists.size() && LinkLists[index]->Count() > 0;
    return linked ? clAqua : clWindow;
}

void TGroup::OkButtonClick() {
    TRegData& record = settings_.CurrentData();
    TStringList& groups = *record.Groups;
    groups.Clear();
    for (int row = 0; row < ui->ListBox1->count() && static_cast<size_t>(row) < LinkLists.size(); ++row) {
        const TStringList& links = *LinkLists[static_cast<size_t>(row)];
        if (links.Count() == 0) continue;
        auto pictures = std::make_unique<TStringList>();
        for (int i = 0; i < links.Count(); ++i) pictures->Add(links[i]);
        groups.AddObject(NameOf(ui->ListBox1->item(row)), pictures.release());
    }
    record.Grouping = groups.Count() > 0;
    (record.Grouping ? settings_.ui->RadioButton2 : settings_.ui->RadioButton1)->setChecked(true);
    accept();
}

} // namespace lumora
