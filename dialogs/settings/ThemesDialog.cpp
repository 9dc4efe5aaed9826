#include "dialogs/settings/ThemesDialog.h"

#include <QListWidget>
#include <QPushButton>

#include "dialogs/settings/ThemeNameInput.h"
#include "dialogs/settings/SaverSettings.h"
#include "framework/Forms.h"
#include "framework/SysUtils.h"
#include "ui_ThemesDialog.h"

namespace lumora {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool ThemeNumber(const std::string& id, int& n) { return TryStrToInt(id, n) && n >= 0 && n < kMaxThemes; }

} // namespace

TExtSetup::TExtSetup(TSaverSettings& settings, QWidget* parent)
    : QDialog(parent), ui(new Ui::ExtSetup), settings_(settings) {
    ui->setupUi(this);
    setFixedSize(size());
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    ui->ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    AskName = [this](std::string& name, bool allowEmpty) {
        TGetString input(this);
        input.Name = name;
        input.AllowEmpty = allowEmpty;
        if (input.exec() != QDialog::Accepted) return false;
        name = input.Name;
        return true;
    };
    auto guard = [this](void (TExtSetup::*handler)()) {
        return [this, handler] { Application().Guard([&] { (this->*handler)(); }); };
    };
    connect(ui->Button1, &QPushButton::clicked, this, guard(&TExtSetup::Button1Click));
    connect(ui->Button5, &QPushButton::clicked, this, guard(&TExtSetup::Button5Click));
    connect(ui->Button2, &QPushButton::clicked, this, guard(&TExtSetup::Button2Click));
    connect(ui->Button3, &QPushButton::clicked, this, guard(&TExtSetup::Button3Click));
    connect(ui->Button4, &QPushButton::clicked, this, &QDialog::reject);
    // A click, a double click and the arrow keys all change the selection.
    connect(ui->ListBox1, &QListWidget::itemSelectionChanged, this, guard(&TExtSetup::ListBox1Click));
    FormCreate();
}

TExtSetup::~TExtSetup() { delete ui; }

void TExtSetup::FormCreate() {
    TRegCommon& common = settings_.Common();
    // Read again: theme changes an earlier manager saved are seen.
    common.ReadThemes(Ids, Names);
    InUse.fill(false);
    Existed.fill(false);
    Deleted.fill(false);
    for (int i = 0; i < Ids.Count(); ++i) {
        int n;
        if (ThemeNumber(Ids[i], n)) InUse[n] = Existed[n] = true;
    }
    int current;
    DefaultSlot = TryStrToInt(common.CurrentTheme, current) && current >= 0 && current < kMaxThemes ? current + 1 : 0;
}

void TExtSetup::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Application().Guard([this] { FormShow(); });
}

void TExtSetup::FormShow() {
    ui->ListBox1->clear();
    ui->ListBox1->addItem(Q(settings_.Common().DefStrOrStandard()));
    for (int i = 0; i < Names.Count(); ++i) ui->ListBox1->addItem(Q(Names[i]));
    SetAddKey();
    SetDefKey();
}

int TExtSetup::SelectedEntry() const {
    const QList<QListWidgetItem*> selected = ui->ListBox1->selectedItems();
    return selected.isEmpty() ? -1 : ui->ListBox1->row(selected.first());
}

void TExtSetup::SetAddKey() { ui->Button1->setEnabled(Ids.Count() < kMaxThemes); }

void TExtSetup::SetDefKey() {
    int k = SelectedEntry();
    ui->Button5->setEnabled(k >= 0);
    // The base settings cannot be deleted.
    ui->Button2->setEnabled(k > 0);
}

void TExtSetup::ListBox1Click() { SetDefKey(); }

void TExtSetup::Button1Click() {
    int n = 0;
    while (n < kMaxThemes && InUse[n]) ++n;
    if (n == kMaxThemes) return;
    std::string name;
    if (!AskName(name, false)) return;
    const std::string id = IntToStr(n);
    int i = 0;
    while (i < Ids.Count() && Ids[i] <= id) ++i;
    Ids.Insert(i, id);
    Names.Insert(i, name);
    ui->ListBox1->insertItem(i + 1, Q(name));
    InUse[n] = true;
    SetAddKey();
    SetDefKey();
}

void TExtSetup::Button5Click() {
    int k = SelectedEntry();
    if (k < 0) return;
    std::string name = ui->ListBox1->item(k)->text().toStdString();
    if (k == 0 && name.empty()) name = kStandardName;
    if (!AskName(name, k == 0)) return;
    if (k > 0) {
        Names.SetString(k - 1, name);
        ui->ListBox1->item(k)->setText(Q(name));
    } else {
        ui->ListBox1->item(0)->setText(Q(name.empty() ? std::string(kStandardName) : name));
    }
    SetAddKey();
    SetDefKey();
}

void TExtSetup::Button2Click() {
    if (ui->ListBox1->count() < 2) return;
    int k = SelectedEntry();
    if (k < 1) return;
    // A theme id that is no number fails here, before anything changed.
    int n = StrToInt(Ids[k - 1]);
    if (n + 1 == DefaultSlot) DefaultSlot = 0;
    if (n >= 0 && n < kMaxThemes) {
        InUse[n] = false;
        Deleted[n] = true;
    }
    delete ui->ListBox1->takeItem(k);
    Ids.Delete(k - 1);
    Names.Delete(k - 1);
    SetAddKey();
    SetDefKey();
}

void TExtSetup::Button3Click() {
    TRegCommon& common = settings_.Common();
    int shown = settings_.CurrentSlot();
    for (int n = kMaxThemes - 1; n >= 0; --n) {
        if (!Deleted[n]) continue;
        common.DeleteTheme(n);
        if (n + 1 == shown) {
            // The theme on show is gone: the dialog goes back to the base settings.
            common.CurrentTheme.clear();
            DefaultSlot = 0;
            settings_.SelectTheme(0);
            settings_.EnsureSlot(0);
            settings_.LoadSettings();
            shown = 0;
        }
        settings_.FreeSlot(n + 1);
        Existed[n] = false;
    }

    const std::string base = ui->ListBox1->item(0)->text().toStdString();
    common.DefStr = base != kStandardName ? base : std::string();
    common.ThemeIds.Assign(Ids);
    common.ThemeNames.Assign(Names);
    if (DefaultSlot > 0 && Ids.IndexOf(IntToStr(DefaultSlot - 1)) < 0) DefaultSlot = 0;
    settings_.RefreshThemeList();
    common.SaveThemes(Ids, Names, DefaultSlot);
    common.SaveDefStr();
    accept();
}

} // namespace lumora
