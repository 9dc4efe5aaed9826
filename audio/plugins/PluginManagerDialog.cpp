#include "audio/plugins/PluginManagerDialog.h"

#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include "audio/plugins/PluginHost.h"
#include "framework/SysUtils.h"
#include "ui_PluginManagerDialog.h"

namespace lumora {

namespace {

constexpr int kGridRows = 9; // the header row and eight plug-ins
constexpr int kListRows = 10;

std::string CellText(const QTableWidget* table, int row, int col) {
    const QTableWidgetItem* item = table->item(row, col);
    return item ? item->text().toStdString() : std::string();
}

// A cell with a name can be selected; an empty one cannot.
void SetCell(QTableWidget* table, int row, int col, const std::string& text) {
    auto* item = new QTableWidgetItem(QString::fromStdString(text));
    item->setFlags(text.empty() ? Qt::ItemIsEnabled : Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    table->setItem(row, col, item);
}

void ClearRow(QTableWidget* table, int row) {
    for (int c = 0; c < table->columnCount(); ++c) SetCell(table, row, c, "");
}

// Draws a selected cell in its own text colour, so a loaded file stays grey and the plug-in in use
// yellow while selected.
class TCellColourDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        QVariant foreground = index.data(Qt::ForegroundRole);
        if (foreground.canConvert<QBrush>()) option->palette.setBrush(QPalette::HighlightedText, foreground.value<QBrush>());
    }
};

// Rows of equal height that fill the table, so every row is seen without scroll bars.
void SetUpTable(QTableWidget* t, int rows, int cols, int visibleRows) {
    t->setRowCount(rows);
    t->setColumnCount(cols);
    t->verticalHeader()->hide();
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setFont(QFont("Arial", 9));
    t->setItemDelegate(new TCellColourDelegate(t));
    t->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    t->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    int rowHeight = (t->height() - 2 * t->frameWidth()) / visibleRows;
    for (QHeaderView* header : {t->verticalHeader(), t->horizontalHeader()}) {
        header->setMinimumSectionSize(1);
        header->setSectionResizeMode(QHeaderView::Fixed);
    }
    t->verticalHeader()->setDefaultSectionSize(rowHeight);
    t->horizontalHeader()->setFixedHeight(rowHeight);
    for (int r = 0; r < rows; ++r) ClearRow(t, r);
}

} // namespace

TPluginConfigForm::TPluginConfigForm(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::PluginConfigForm>()) {
    ui_->setupUi(this);
    setFixedSize(size());
    PluginFirst = ui_->PluginFirst;
    PluginList = ui_->PluginList;
    PluginGrid = ui_->PluginGrid;
    btnLoad = ui_->btnLoad;
    btnUnload = ui_->btnUnload;
    btnAbout = ui_->btnAbout;
    btnConfigure = ui_->btnConfigure;
    btnClose = ui_->btnClose;
    SetUpTable(PluginList, 1, 1, kListRows);
    PluginList->horizontalHeader()->hide();
    PluginList->horizontalHeader()->setStretchLastSection(true);
    SetUpTable(PluginGrid, kGridRows - 1, 3, kGridRows);
    PluginGrid->setColumnWidth(0, 84);
    PluginGrid->setColumnWidth(1, 173);
    PluginGrid->setColumnWidth(2, 151);
    connect(btnLoad, &QPushButton::clicked, this, [this] { Application().Guard([this] { btnLoadClick(); }); });
    connect(btnUnload, &QPushButton::clicked, this, [this] { Application().Guard([this] { btnUnloadClick(); }); });
    connect(btnAbout, &QPushButton::clicked, this, [this] { Application().Guard([this] { btnAboutClick(); }); });
    connect(btnConfigure, &QPushButton::clicked, this,
            [this] { Application().Guard([this] { btnConfigureClick(); }); });
    connect(btnClose, &QPushButton::clicked, this, [this] { btnCloseClick(); });
    connect(PluginFirst, &QCheckBox::clicked, this, [this] { PluginFirstClick(); });
    connect(PluginGrid, &QTableWidget::itemSelectionChanged, this, [this] {
        UpdateUnloadButton();
        PaintGrid();
    });
    connect(PluginList, &QTableWidget::itemSelectionChanged, this, [this] { PaintList(); });
    FormCreate();
}

TPluginConfigForm::~TPluginConfigForm() = default;

void TPluginConfigForm::FormCreate() {
    PluginGrid->setHorizontalHeaderLabels({"Name", "Decsription", "Playable File Types"});
    PluginGrid->horizontalHeader()->setStyleSheet("QHeaderView::section { background-color: #C0DCC0; }");
}

void TPluginConfigForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TPluginConfigForm::Inform(const std::string& text) { MessageBox(text, "Confirm", TMsgIcon::Information); }

void TPluginConfigForm::FormShow() {
    PluginList->clearContents();
    PluginList->setRowCount(1);
    ClearRow(PluginList, 0);
    btnLoad->setEnabled(false);
    QDir dir(QString::fromStdString(GetPluginFolder() + "/Plugins"));
    QStringList files = dir.entryList({"in_*.so"}, QDir::Files, QDir::Name);
    detected_ = static_cast<int>(files.size());
    PluginList->setRowCount(std::max(detected_, 1));
    for (int i = 0; i < detected_; ++i) SetCell(PluginList, i, 0, files[i].toStdString());
    ClearPluginGrid();
    FillPluginGrid();
    PluginList->clearSelection();
    PluginGrid->clearSelection();
    PluginList->setEnabled(detected_ > 0);
    PluginGrid->setEnabled(detected_ > 0);
    if (detected_ > 0) PluginList->selectRow(0);
    if (loadedShown_ > 0) PluginGrid->selectRow(0);
    UpdateUnloadButton();
    PaintList();
}

void TPluginConfigForm::ClearPluginGrid() {
    PluginGrid->setUpdatesEnabled(false);
    for (int r = 0; r < PluginGrid->rowCount(); ++r) ClearRow(PluginGrid, r);
    PluginGrid->setUpdatesEnabled(true);
    loadedShown_ = 0;
    PluginGrid->viewport()->update();
}

void TPluginConfigForm::FillPluginGrid() {
    loadedShown_ = 0;
    for (int i = 0; i < kMaxPlugins; ++i) {
        if (!GetPlugin(i)) continue;
        TPluginInfo info = GetPluginInfo(i);
        SetCell(PluginGrid, loadedShown_, 0, info.FileName);
        SetCell(PluginGrid, loadedShown_, 1, info.Description);
        SetCell(PluginGrid, loadedShown_, 2, info.FileExtensions);
        ++loadedShown_;
    }
    UpdateUnloadButton();
    PaintGrid();
}

std::string TPluginConfigForm::SelectedGridName() const {
    int row = PluginGrid->currentRow();
    auto selected = PluginGrid->selectionModel()->selectedRows();
    if (selected.isEmpty()) return "";
    row = selected.first().row();
    return CellText(PluginGrid, row, 0);
}

void TPluginConfigForm::UpdateUnloadButton() {
    std::string name = SelectedGridName();
    bool inUse = !inUse_.empty() && UpperCase(name) == UpperCase(inUse_);
    btnUnload->setEnabled(!name.empty() && !inUse);
}

void TPluginConfigForm::SetInUsePlugin(const std::string& name) {
    inUse_ = name;
    UpdateUnloadButton();
    PaintGrid();
}

void TPluginConfigForm::btnLoadClick() {
    auto selected = PluginList->selectionModel()->selectedRows();
    std::string name = selected.isEmpty() ? "" : CellText(PluginList, selected.first().row(), 0);
    if (name.empty()) {
        Inform("Select plug-in to load first");
        return;
    }
    int result = LoadWinampPlugin(name);
    static const char* kErrors[] = {"", "Load denied : Output plug-in is not ready", "Load denied : Already loaded before",
                                    "Load denied : Max. number of plug-ins loaded", "Load denied : Unknown Error",
                                    "Load denied : Not a valid Winamp 2 input plug-in"};
    if (result != 0) {
        Inform(result > 0 && result <= 5 ? kErrors[result] : "Load denied : Unknown Error");
        return;
    }
    TPluginInfo info = GetPluginInfo(GetPluginIndex(name));
    SetCell(PluginGrid, loadedShown_, 0, info.FileName);
    SetCell(PluginGrid, loadedShown_, 1, info.Description);
    SetCell(PluginGrid, loadedShown_, 2, info.FileExtensions);
    PluginGrid->selectRow(loadedShown_);
    ++loadedShown_;
    UpdateUnloadButton();
    PaintList();
}

void TPluginConfigForm::btnUnloadClick() {
    if (loadedShown_ == 0) {
        Inform("No plug-ins are loaded");
        return;
    }
    auto selected = PluginGrid->selectionModel()->selectedRows();
    std::string name = SelectedGridName();
    if (selected.isEmpty() || name.empty()) {
        Inform("Select plug-in to unload first");
        return;
    }
    int row = selected.first().row();
    int result = UnloadWinampPlugin(name);
    switch (result) {
    case 0:
        if (row != loadedShown_ - 1) {
            ClearPluginGrid();
            FillPluginGrid();
        } else {
            ClearRow(PluginGrid, row);
            --loadedShown_;
            PluginGrid->clearSelection();
            if (loadedShown_ > 0) PluginGrid->selectRow(loadedShown_ - 1);
            UpdateUnloadButton();
        }
        PaintList();
        break;
    case 6: Inform("Cannot unload : Unknown Error"); break;
    case 7: Inform("Cannot unload : Plug-in is not loaded"); break;
    case 8: Inform("Cannot unload : Plug-in is in use"); break;
    default: Inform("Cannot unload : Unknown Error"); break;
    }
}

void TPluginConfigForm::btnAboutClick() {
    if (loadedShown_ == 0) {
        Inform("No plug-ins to query are loaded");
        return;
    }
    std::string name = SelectedGridName();
    if (name.empty()) {
        Inform("Select plug-in to query first");
        return;
    }
    TInModule* mod = GetPlugin(GetPluginIndex(name));
    if (mod && mod->About) mod->About(static_cast<uintptr_t>(winId()));
}

void TPluginConfigForm::btnConfigureClick() {
    if (loadedShown_ == 0) {
        Inform("No plug-ins to configure are loaded");
        return;
    }
    std::string name = SelectedGridName();
    if (name.empty()) {
        Inform("Select plug-in to configure first");
        return;
    }
    TInModule* mod = GetPlugin(GetPluginIndex(name));
    if (mod && mod->Config) mod->Config(static_cast<uintptr_t>(winId()));
}

void TPluginConfigForm::btnCloseClick() { close(); }

void TPluginConfigForm::PluginFirstClick() {
    PostMessage(playerWindow_, WM_USER + 109, 0, PluginFirst->isChecked() ? 1 : 0);
}

bool TPluginConfigForm::PluginGridSelectCell(int col, int row) {
    if (CellText(PluginGrid, row, col).empty()) return false;
    PluginGrid->selectRow(row);
    UpdateUnloadButton();
    return true;
}

void TPluginConfigForm::PaintList() {
    // Loaded files are greyed; the load button follows the selected file.
    auto selected = PluginList->selectionModel()->selectedRows();
    for (int r = 0; r < PluginList->rowCount(); ++r) {
        QTableWidgetItem* item = PluginList->item(r, 0);
        if (!item) continue;
        bool loaded = IsPluginLoaded(item->text().toStdString());
        bool isSelected = !selected.isEmpty() && selected.first().row() == r;
        item->setForeground(loaded ? QColor(0xC0, 0xC0, 0xC0) : isSelected ? QColor(Qt::white) : QColor(Qt::black));
        if (isSelected) btnLoad->setEnabled(!loaded);
    }
}

void TPluginConfigForm::PaintGrid() {
    auto selected = PluginGrid->selectionModel()->selectedRows();
    for (int r = 0; r < PluginGrid->rowCount(); ++r) {
        bool isSelected = !selected.isEmpty() && selected.first().row() == r;
        bool inUse = !inUse_.empty() && UpperCase(CellText(PluginGrid, r, 0)) == UpperCase(inUse_);
        QColor color = inUse ? (isSelected ? QColor(Qt::yellow) : QColor(Qt::red))
                             : (isSelected ? QColor(Qt::white) : QColor(Qt::black));
        for (int c = 0; c < 3; ++c)
            if (QTableWidgetItem* item = PluginGrid->item(r, c)) item->setForeground(color);
    }
}

} // namespace lumora
