#include "dialogs/pickers/ShellViews.h"

#include <algorithm>

#include <QApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QStackedLayout>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTreeView>

#include "framework/SysUtils.h"
#include "platform/shell/ShellLink.h"

namespace lumora {

namespace {

constexpr int kIdRole = Qt::UserRole + 1;
constexpr int kLinkRole = Qt::UserRole + 2;
constexpr int kFolderRole = Qt::UserRole + 3;
constexpr int kNameColumnWidth = 120;

QString Q(const std::string& s) { return FileNameText(s); }
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

QByteArray ToBytes(const TItemIdList& id) {
    return QByteArray(reinterpret_cast<const char*>(id.Data()), static_cast<qsizetype>(id.Size()));
}

TItemIdList FromBytes(const QByteArray& bytes) {
    TItemIdList id;
    TItemIdList::FromBytes(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()), id);
    return id;
}

// Hands a finished label edit to the view instead of writing it into the model: the view renames
// the item and sets the caption itself.
class TRenameDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    std::function<void(const QModelIndex&, const QString&)> OnRename;
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        // The size text is padded to eight places; right-aligned it needs no padding on screen.
        if (index.column() == 1) option->text = option->text.trimmed();
    }
    void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
        auto* line = qobject_cast<QLineEdit*>(editor);
        if (line && OnRename && line->text() != index.data(Qt::DisplayRole).toString()) OnRename(index, line->text());
    }
};

// The icon with the shortcut arrow in its lower left corner.
QIcon WithLinkOverlay(const QIcon& base) {
    QPixmap pixmap = base.pixmap(32, 32);
    if (pixmap.isNull()) {
        pixmap = QPixmap(32, 32);
        pixmap.fill(Qt::transparent);
    }
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRect(0, 20, 12, 12), Qt::white);
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(QRect(0, 20, 11, 11));
    painter.setPen(QPen(Qt::black, 2));
    painter.drawLine(3, 29, 9, 23);
    painter.drawLine(5, 23, 9, 23);
    painter.drawLine(9, 23, 9, 27);
    return QIcon(pixmap);
}

// The target of a shortcut file when it can be resolved to an existing file or folder.
std::string ExistingShortcutTarget(const std::string& path) {
    std::string target;
    if (!ResolveShellLink(path, target)) return {};
    return FileExists(target) || DirectoryExists(target) ? target : std::string();
}

class TWaitCursor {
public:
    TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

QString FileNameText(const std::string& bytes) {
    return QString::fromStdString(FileNameUtf8(bytes));
}

std::string FileSizeText(int64_t size) {
    return Format("%8lld%s", static_cast<long long>((size < 0 ? 0 : size) >> 10) + 1, "KB");
}

std::string FileDateText(int64_t modified) {
    return S(QDateTime::fromSecsSinceEpoch(modified).toString(QStringLiteral("yy/MM/dd hh:mm")));
}

// ---- TFolderView ----

TFolderView::TFolderView(QWidget* parent) : QTreeWidget(parent) {
    resize(200, 200);
    setHeaderHidden(true);
    setColumnCount(1);
    setSortingEnabled(false);
    setRootIsDecorated(false);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    auto* delegate = new TRenameDelegate(this);
    delegate->OnRename = [this](const QModelIndex& index, const QString& text) {
        if (QTreeWidgetItem* node = itemFromIndex(index)) Edit(node, S(text));
    };
    delegate_ = delegate;
    setItemDelegate(delegate_);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { NodeChanged(current); });
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* node) { CanExpand(node); });
    BuildRoot();
}

TFolderView::~TFolderView() = default;

void TFolderView::SetFileView(TFileView* view) {
    if (fileView_ == view) return;
    if (fileView_) fileView_->SetFolderView(nullptr);
    fileView_ = view;
    if (view) {
        if (view->FolderView() && view->FolderView() != this) view->FolderView()->fileView_ = nullptr;
        view->SetFolderView(this);
    }
}

TItemIdList TFolderView::NodeId(const QTreeWidgetItem* node) {
    return node ? FromBytes(node->data(0, kIdRole).toByteArray()) : TItemIdList();
}

TItemIdList TFolderView::AbsoluteId(QTreeWidgetItem* node) const {
    std::vector<TItemIdList> path;
    for (QTreeWidgetItem* n = node; n; n = n->parent()) path.push_back(NodeId(n));
    std::reverse(path.begin(), path.end());
    return TItemIdList::Join(path);
}

void TFolderView::NotifyDeleting(QTreeWidgetItem* node) {
    for (int i = 0; i < node->childCount(); ++i) NotifyDeleting(node->child(i));
    node->setData(0, kIdRole, QVariant());
    if (OnDeleting) OnDeleting(node);
}

void TFolderView::BuildRoot() {
    updating_ = true;
    for (int i = 0; i < topLevelItemCount(); ++i) NotifyDeleting(topLevelItem(i));
    clear();
    current_ = previous_ = nullptr;
    updating_ = false;
    TItemIdList desktop;
    auto* root = new QTreeWidgetItem;
    root->setText(0, Q(DesktopFolder().DisplayNameOf(desktop, SHGDN_INFOLDER)));
    root->setData(0, kIdRole, ToBytes(desktop));
    root->setIcon(0, ShellIcon(desktop, false));
    root->setFlags(root->flags() & ~Qt::ItemIsEditable);
    addTopLevelItem(root);
    FillChildren(root);
    root->setExpanded(true);
    setCurrentItem(root);
}

const TShellFolder* TFolderView::BindNode(QTreeWidgetItem* node, std::unique_ptr<TShellFolder>& bound) const {
    TItemIdList absolute = AbsoluteId(node);
    if (absolute.Empty()) return &DesktopFolder();
    bound = DesktopFolder().BindToObject(absolute);
    return bound.get();
}

QTreeWidgetItem* TFolderView::AddChild(QTreeWidgetItem* node, const TShellFolder& folder, const TItemIdList& item) {
    auto* child = new QTreeWidgetItem(node);
    child->setText(0, Q(folder.DisplayNameOf(item, SHGDN_INFOLDER)));
    child->setData(0, kIdRole, ToBytes(item));
    child->setIcon(0, ShellIcon(TItemIdList::Concat(AbsoluteId(node), item), false));
    child->setFlags(child->flags() | Qt::ItemIsEditable);
    bool sub = folder.GetAttributesOf(item, SFGAO_HASSUBFOLDER) & SFGAO_HASSUBFOLDER;
    child->setChildIndicatorPolicy(sub ? QTreeWidgetItem::ShowIndicator : QTreeWidgetItem::DontShowIndicatorWhenChildless);
    return child;
}

void TFolderView::FillChildren(QTreeWidgetItem* node) {
    if (updating_ || !node || !node->data(0, kIdRole).isValid()) return;
    std::unique_ptr<TShellFolder> bound;
    const TShellFolder* folder = BindNode(node, bound);
    std::vector<TItemIdList> items;
    // Hidden folders (dot-folders) stay out of the tree, as a file manager keeps them out of sight.
    if (!folder || !folder->EnumObjects(SHCONTF_FOLDERS, items)) {
        RestorePrevious();
        return;
    }
    TWaitCursor wait;
    setUpdatesEnabled(false);
    updating_ = true;
    folder->SortIds(items);
    for (const auto& item : items) AddChild(node, *folder, item);
    if (items.empty()) node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicator);
    updating_ = false;
    setUpdatesEnabled(true);
}

void TFolderView::CanExpand(QTreeWidgetItem* node) {
    if (node && node->childCount() == 0 && node->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator)
        FillChildren(node);
}

void TFolderView::NodeChanged(QTreeWidgetItem* current) {
    if (updating_) return;
    previous_ = current_;
    current_ = current;
    if (fileView_ && current) fileView_->SetFolder(AbsoluteId(current));
    if (OnChange) OnChange();
}

void TFolderView::RestorePrevious() {
    if (!previous_ || previous_ == current_) return;
    QTreeWidgetItem* back = previous_;
    setCurrentItem(back);
}

QTreeWidgetItem* TFolderView::FindChild(QTreeWidgetItem* node, const TItemIdList& relative) {
    CanExpand(node);
    node->setExpanded(true);
    for (int i = 0; i < node->childCount(); ++i)
        if (NodeId(node->child(i)) == relative) return node->child(i);
    // A hidden folder on the way to the folder asked for is shown all the same, so a folder chosen
    // before stays chosen.
    std::unique_ptr<TShellFolder> bound;
    const TShellFolder* folder = BindNode(node, bound);
    if (!folder || !(folder->GetAttributesOf(relative, SFGAO_FOLDER) & SFGAO_FOLDER)) return nullptr;
    return AddChild(node, *folder, relative);
}

QTreeWidgetItem* TFolderView::FindNode(const TItemIdList& absolute) {
    QTreeWidgetItem* node = topLevelItem(0);
    if (!node) return nullptr;
    node->setExpanded(true);
    for (const auto& item : absolute.Split(absolute.Count())) {
        QTreeWidgetItem* child = FindChild(node, item);
        if (!child) break;
        node = child;
    }
    return node;
}

bool TFolderView::SelectPath(const std::string& path) {
    TItemIdList absolute;
    if (!ParseDisplayName(path, absolute)) return false;
    QTreeWidgetItem* node = FindNode(absolute);
    if (!node) return false;
    setCurrentItem(node);
    scrollToItem(node);
    return true;
}

std::string TFolderView::SelectedPath() const {
    QTreeWidgetItem* node = currentItem();
    if (!node) return {};
    return DesktopFolder().DisplayNameOf(AbsoluteId(node), SHGDN_FORPARSING);
}

bool TFolderView::NotFileSystemFolder() const {
    QTreeWidgetItem* node = currentItem();
    if (!node || !node->parent()) return true;
    return GetPathFromIdList(AbsoluteId(node)).empty();
}

std::unique_ptr<TShellFolder> TFolderView::ParentFolder(QTreeWidgetItem* node) const {
    TItemIdList parent = AbsoluteId(node->parent());
    if (parent.Empty()) return std::make_unique<TShellFolder>(TItemIdList());
    return DesktopFolder().BindToObject(parent);
}

bool TFolderView::Edit(QTreeWidgetItem* node, const std::string& newName) {
    if (!node || !node->parent()) return false;
    TItemIdList oldId = NodeId(node);
    std::unique_ptr<TShellFolder> folder = ParentFolder(node);
    TItemIdList newId;
    bool ok = folder && folder->SetNameOf(oldId, newName, newId);
    const TItemIdList& shown = ok ? newId : oldId;
    if (ok) node->setData(0, kIdRole, ToBytes(newId));
    node->setText(0, Q(folder ? folder->DisplayNameOf(shown, SHGDN_INFOLDER) : std::string()));
    // The selected folder is at or below the renamed one: its path changed, so the list shows it
    // again and whoever follows the selection learns the new path.
    bool selectionMoved = false;
    for (QTreeWidgetItem* n = current_; ok && n; n = n->parent())
        selectionMoved = selectionMoved || n == node;
    if (selectionMoved) {
        if (fileView_) fileView_->SetFolder(AbsoluteId(current_));
        if (OnChange) OnChange();
    }
    return ok;
}

void TFolderView::SelectChild(const TItemIdList& relative) {
    QTreeWidgetItem* node = currentItem();
    if (!node) return;
    if (QTreeWidgetItem* child = FindChild(node, relative)) setCurrentItem(child);
}

void TFolderView::RenameChild(const TItemIdList& oldRelative, const TItemIdList& newRelative,
                              const std::string& caption) {
    QTreeWidgetItem* node = currentItem();
    if (!node) return;
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* child = node->child(i);
        if (NodeId(child) == oldRelative) {
            child->setData(0, kIdRole, ToBytes(newRelative));
            child->setText(0, Q(caption));
            return;
        }
    }
}

void TFolderView::mousePressEvent(QMouseEvent* event) {
    QTreeWidget::mousePressEvent(event);
    pressNode_ = nullptr;
    if (event->button() == Qt::LeftButton) {
        pressPos_ = event->position().toPoint();
        pressNode_ = itemAt(pressPos_);
    }
}

void TFolderView::mouseMoveEvent(QMouseEvent* event) {
    QPoint pos = event->position().toPoint();
    if (dropSource_ && pressNode_ && pressNode_->parent() && (event->buttons() & Qt::LeftButton) &&
        (pos - pressPos_).manhattanLength() >= QApplication::startDragDistance()) {
        QTreeWidgetItem* node = pressNode_;
        pressNode_ = nullptr;
        std::unique_ptr<TShellFolder> folder = ParentFolder(node);
        dropSource_->StartDrag(this, folder.get(), 1, NodeId(node));
        return;
    }
    QTreeWidget::mouseMoveEvent(event);
}

void TFolderView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeWidget::mouseReleaseEvent(event);
    pressNode_ = nullptr;
    if (event->button() != Qt::RightButton || !contextMenu_) return;
    QTreeWidgetItem* node = itemAt(event->position().toPoint());
    if (!node || !node->parent()) return;
    setCurrentItem(node);
    std::unique_ptr<TShellFolder> folder = ParentFolder(node);
    contextMenu_->ShowMenu(this, folder.get(), viewport()->mapToGlobal(event->position().toPoint()), 1, NodeId(node));
}

// ---- TFileView ----

std::array<int, 4>& TFileView::SortSigns() {
    static std::array<int, 4> signs{1, 1, 1, 1};
    return signs;
}

TFileView::TFileView(QWidget* parent) : QWidget(parent) {
    resize(200, 200);
    model_ = new QStandardItemModel(0, 4, this);
    model_->setHorizontalHeaderLabels(
        {QStringLiteral("名前"), QStringLiteral("ｻｲｽﾞ"), QStringLiteral("ﾌｧｲﾙの種類"), QStringLiteral("更新日時")});
    model_->horizontalHeaderItem(1)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* delegate = new TRenameDelegate(this);
    delegate->OnRename = [this](const QModelIndex& index, const QString& text) { Edit(index.row(), S(text)); };
    delegate_ = delegate;

    listView_ = new QListView(this);
    listView_->setModel(model_);
    listView_->setItemDelegate(delegate_);
    listView_->setResizeMode(QListView::Adjust);
    listView_->setWordWrap(true);
    reportView_ = new QTreeView(this);
    reportView_->setModel(model_);
    reportView_->setSelectionModel(listView_->selectionModel());
    reportView_->setItemDelegate(delegate_);
    reportView_->setRootIsDecorated(false);
    reportView_->setItemsExpandable(false);
    reportView_->setUniformRowHeights(true);
    reportView_->setAllColumnsShowFocus(true);
    reportView_->setSortingEnabled(false);
    reportView_->header()->setSectionsClickable(true);
    reportView_->header()->setStretchLastSection(false);
    const int widths[4] = {kNameColumnWidth, 60, 120, 120};
    for (int c = 0; c < 4; ++c) reportView_->setColumnWidth(c, widths[c]);
    connect(reportView_->header(), &QHeaderView::sectionClicked, this, [this](int column) { ColClick(column); });

    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);
    stack_->addWidget(listView_);
    stack_->addWidget(reportView_);
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(listView_), static_cast<QAbstractItemView*>(reportView_)}) {
        view->viewport()->installEventFilter(this);
        view->setDragEnabled(false);
        connect(view, &QAbstractItemView::doubleClicked, this, [this] { DblClick(); });
    }
    connect(listView_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!filling_ && OnChange) OnChange();
    });
    connect(listView_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (!filling_ && OnChange) OnChange();
    });
    SetMultiSelect(true);
    SetReadOnly(false);
    SetViewStyle(TViewStyle::vsReport);
}

TFileView::~TFileView() = default;

void TFileView::SetViewStyle(TViewStyle style) {
    style_ = style;
    switch (style) {
    case TViewStyle::vsIcon:
        listView_->setViewMode(QListView::IconMode);
        listView_->setIconSize(QSize(32, 32));
        listView_->setGridSize(QSize(76, 64));
        listView_->setFlow(QListView::LeftToRight);
        listView_->setWrapping(true);
        listView_->setMovement(QListView::Static);
        stack_->setCurrentWidget(listView_);
        break;
    case TViewStyle::vsSmallIcon:
    case TViewStyle::vsList:
        listView_->setViewMode(QListView::ListMode);
        listView_->setIconSize(QSize(16, 16));
        listView_->setGridSize(QSize());
        listView_->setFlow(style == TViewStyle::vsList ? QListView::TopToBottom : QListView::LeftToRight);
        listView_->setWrapping(true);
        stack_->setCurrentWidget(listView_);
        break;
    case TViewStyle::vsReport:
        stack_->setCurrentWidget(reportView_);
        break;
    }
}

void TFileView::SetReadOnly(bool readOnly) {
    readOnly_ = readOnly;
    auto triggers = readOnly ? QAbstractItemView::NoEditTriggers
                             : QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked;
    listView_->setEditTriggers(triggers);
    reportView_->setEditTriggers(triggers);
}

void TFileView::SetMultiSelect(bool multi) {
    auto mode = multi ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection;
    listView_->setSelectionMode(mode);
    reportView_->setSelectionMode(mode);
    reportView_->setSelectionBehavior(QAbstractItemView::SelectRows);
}

QAbstractItemView* TFileView::ActiveView() const {
    return style_ == TViewStyle::vsReport ? static_cast<QAbstractItemView*>(reportView_) : listView_;
}

void TFileView::SetFolder(const TItemIdList& absolute) {
    folderId_ = absolute;
    // A folder that cannot be bound (it went away) is not shown as another one: the fill fails and
    // the linked tree goes back to the folder it showed before.
    folder_ = absolute.Empty() ? std::make_unique<TShellFolder>(TItemIdList()) : DesktopFolder().BindToObject(absolute);
    Fill();
}

bool TFileView::KeepItem(const TItemIdList& item, uint32_t attrs) const {
    if (mask_.empty()) return true;
    if ((attrs & SFGAO_FOLDER) && folderDisplay_) return true;
    std::string path = folder_->PathOf(item);
    if (attrs & SFGAO_LINK) path = ExistingShortcutTarget(path);
    std::string ext = UpperCase(ExtractFileExt(path));
    if (ext.empty()) return false;
    for (const auto& entry : mask_)
        if (ext == UpperCase(entry)) return true;
    return false;
}

void TFileView::Fill() {
    std::vector<TItemIdList> items;
    // Hidden items (dot-files) stay out of the list, as a file manager keeps them out of sight.
    if (!folder_ || !folder_->EnumObjects(SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items)) {
        if (!folder_) model_->removeRows(0, model_->rowCount());
        if (folderView_) folderView_->RestorePrevious();
        return;
    }
    SortSigns().fill(1);
    TWaitCursor wait;
    filling_ = true;
    setUpdatesEnabled(false);
    model_->removeRows(0, model_->rowCount());
    folder_->SortIds(items);
    for (const auto& item : items) {
        uint32_t attrs = folder_->GetAttributesOf(item, SFGAO_FOLDER | SFGAO_LINK);
        if (!KeepItem(item, attrs)) continue;
        TItemIdList absolute = TItemIdList::Concat(folderId_, item);
        bool link = attrs & SFGAO_LINK;
        bool isFolder = attrs & SFGAO_FOLDER;
        auto* name = new QStandardItem(Q(folder_->DisplayNameOf(item, SHGDN_INFOLDER)));
        name->setData(ToBytes(item), kIdRole);
        name->setData(link, kLinkRole);
        name->setData(isFolder, kFolderRole);
        QIcon icon = ShellIcon(absolute, false);
        name->setIcon(link ? WithLinkOverlay(icon) : icon);
        name->setEditable(!folder_->IsDesktop());
        auto* sizeItem = new QStandardItem;
        sizeItem->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* type = new QStandardItem(Q(ShellTypeName(absolute)));
        auto* date = new QStandardItem;
        ShowSizeAndDate(*sizeItem, *date, absolute, isFolder);
        for (QStandardItem* cell : {sizeItem, type, date}) cell->setEditable(false);
        model_->appendRow({name, sizeItem, type, date});
    }
    setUpdatesEnabled(true);
    filling_ = false;
    if (OnChange) OnChange();
}

void TFileView::ShowSizeAndDate(QStandardItem& size, QStandardItem& date, const TItemIdList& absolute, bool isFolder) {
    int64_t bytes = 0, modified = 0;
    bool found = ShellFindData(absolute, bytes, modified);
    // A folder counts as empty, as the find data of the original shell gave it: it shows 1 KB.
    size.setText(Q(found ? FileSizeText(isFolder ? 0 : bytes) : std::string()));
    date.setText(Q(found ? FileDateText(modified) : std::string()));
}

void TFileView::RefreshRow(int row) {
    if (row < 0 || row >= Count()) return;
    ShowSizeAndDate(*model_->item(row, 1), *model_->item(row, 3), TItemIdList::Concat(folderId_, ItemId(row)),
                    model_->item(row, 0)->data(kFolderRole).toBool());
}

int TFileView::Count() const { return model_->rowCount(); }

int TFileView::ReportWidth() const {
    const QHeaderView* header = reportView_->header();
    int columns = 0;
    for (int c = 0; c < header->count(); ++c) columns += header->sectionSize(c);
    return columns + 2 * reportView_->frameWidth() +
           reportView_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

std::string TFileView::ItemText(int row, int column) const {
    QStandardItem* item = model_->item(row, column);
    return item ? S(item->text()) : std::string();
}

TItemIdList TFileView::ItemId(int row) const {
    QStandardItem* item = model_->item(row, 0);
    return item ? FromBytes(item->data(kIdRole).toByteArray()) : TItemIdList();
}

bool TFileView::ItemIsLink(int row) const {
    QStandardItem* item = model_->item(row, 0);
    return item && item->data(kLinkRole).toBool();
}

std::string TFileView::ItemPath(int row) const {
    if (!folder_ || row < 0 || row >= Count()) return {};
    return folder_->DisplayNameOf(ItemId(row), SHGDN_FORPARSING);
}

std::vector<int> TFileView::SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& index : listView_->selectionModel()->selectedIndexes())
        if (index.column() == 0) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

std::string TFileView::SelectedPath() const {
    std::vector<int> rows = SelectedRows();
    return rows.empty() ? std::string() : ItemPath(rows.front());
}

void TFileView::SelectRow(int row) {
    QModelIndex index = model_->index(row, 0);
    listView_->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int TFileView::FindRow(const std::string& caption) const {
    for (int row = 0; row < Count(); ++row)
        if (ItemText(row, 0) == caption) return row;
    return -1;
}

void TFileView::DblClick() {
    if (!folder_) return;
    std::vector<int> rows = SelectedRows();
    if (rows.empty()) return;
    TItemIdList id = ItemId(rows.front());
    uint32_t attrs = folder_->GetAttributesOf(id, SFGAO_FOLDER | SFGAO_FILESYSANCESTOR);
    if ((attrs & SFGAO_FOLDER) && folderView_) {
        folderView_->SelectChild(id);
    } else if (fileExecute_) {
        std::string path = folder_->PathOf(id);
        if (!path.empty()) ShellUi().Open(path);
    }
}

void TFileView::SortRows(const std::function<int(int, int)>& compare) {
    std::vector<int> order(static_cast<size_t>(Count()));
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return compare(a, b) < 0; });
    std::vector<QList<QStandardItem*>> rows;
    for (int row : order) {
        QList<QStandardItem*> cells;
        for (int c = 0; c < 4; ++c) cells << model_->item(row, c)->clone();
        rows.push_back(cells);
    }
    filling_ = true;
    model_->removeRows(0, model_->rowCount());
    for (auto& cells : rows) model_->appendRow(cells);
    filling_ = false;
}

void TFileView::ColClick(int column) {
    if (column < 0 || column > 3 || !folder_) return;
    // The column sorts in its current direction, which then turns for the next click: the first
    // click on a column sorts it ascending.
    int sign = SortSigns()[column];
    SortSigns()[column] = -sign;
    if (column == 0) {
        SortRows([&](int a, int b) { return folder_->CompareIds(ItemId(a), ItemId(b)) * sign; });
    } else {
        SortRows([&](int a, int b) {
            std::string ta = ItemText(a, column), tb = ItemText(b, column);
            return (ta < tb ? -1 : ta > tb ? 1 : 0) * sign;
        });
    }
}

bool TFileView::Edit(int row, const std::string& newName) {
    if (!folder_ || row < 0 || row >= Count()) return false;
    TItemIdList oldId = ItemId(row);
    bool isFolder = folder_->GetAttributesOf(oldId, SFGAO_FOLDER) & SFGAO_FOLDER;
    TItemIdList newId;
    bool ok = folder_->SetNameOf(oldId, newName, newId);
    QStandardItem* item = model_->item(row, 0);
    if (ok) {
        std::string caption = folder_->DisplayNameOf(newId, SHGDN_NORMAL);
        if (isFolder && folderView_) folderView_->RenameChild(oldId, newId, caption);
        item->setData(ToBytes(newId), kIdRole);
        item->setText(Q(caption));
    } else {
        item->setText(Q(folder_->DisplayNameOf(oldId, SHGDN_NORMAL)));
    }
    return ok;
}

bool TFileView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == reportView_->viewport() && event->type() == QEvent::Resize) {
        // The name column takes what the other columns leave, never less than its own width.
        QHeaderView* header = reportView_->header();
        int others = header->sectionSize(1) + header->sectionSize(2) + header->sectionSize(3);
        reportView_->setColumnWidth(0, std::max(kNameColumnWidth, reportView_->viewport()->width() - others));
    }
    QAbstractItemView* view = ActiveView();
    if (watched != view->viewport()) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        pressPos_ = mouse->position().toPoint();
        pressOnItem_ = mouse->button() == Qt::LeftButton && view->indexAt(pressPos_).isValid();
    } else if (event->type() == QEvent::MouseMove) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (dropSource_ && pressOnItem_ && (mouse->buttons() & Qt::LeftButton) &&
            (mouse->position().toPoint() - pressPos_).manhattanLength() >= QApplication::startDragDistance()) {
            pressOnItem_ = false;
            std::vector<int> rows = SelectedRows();
            std::vector<TItemIdList> ids;
            for (int row : rows) ids.push_back(ItemId(row));
            if (!ids.empty()) {
                dropSource_->StartDrag(this, folder_.get(), static_cast<int>(ids.size()), TItemIdList::Join(ids));
                return true;
            }
        }
    } else if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        pressOnItem_ = false;
        if (mouse->button() == Qt::RightButton && contextMenu_) {
            std::vector<int> rows = SelectedRows();
            if (!rows.empty()) {
                std::vector<TItemIdList> ids;
                for (int row : rows) ids.push_back(ItemId(row));
                contextMenu_->ShowMenu(this, folder_.get(), view->viewport()->mapToGlobal(mouse->position().toPoint()),
                                       static_cast<int>(ids.size()), TItemIdList::Join(ids));
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lumora
