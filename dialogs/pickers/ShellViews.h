#pragma once
// Two controls that browse the shell namespace: a tree of folders rooted at the desktop and a list
// of one folder's items (name, size, type, date) filtered by extensions. A linked tree shows the
// selected folder's items in its list. Both keep item ID lists, not paths, so the virtual desktop
// is browsed like a real folder.

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QPointer>
#include <QTreeWidget>
#include <QWidget>

#include "dialogs/pickers/ContextMenu.h"
#include "platform/shell/Shell.h"

class QListView;
class QStackedLayout;
class QStandardItem;
class QStandardItemModel;
class QStyledItemDelegate;
class QTreeView;

namespace lumora {

class TFileView;

class TFolderView : public QTreeWidget {
public:
    explicit TFolderView(QWidget* parent = nullptr);
    ~TFolderView() override;

    TFileView* FileView() const { return fileView_; }
    // Links both ways; nullptr unlinks.
    void SetFileView(TFileView* view);
    TContextMenuEx* ContextMenu() const { return contextMenu_; }
    void SetContextMenu(TContextMenuEx* menu) { contextMenu_ = menu; }
    TDropSourceEx* DropSource() const { return dropSource_; }
    void SetDropSource(TDropSourceEx* source) { dropSource_ = source; }
    // Called after the selected node changed and its folder was shown in the linked list.
    std::function<void()> OnChange;
    // Called for each node the tree removes (children first), after its ID list was dropped.
    std::function<void(QTreeWidgetItem*)> OnDeleting;

    // Rebuilds the tree from the desktop (done once on creation).
    void BuildRoot();
    // Selects the node of an existing path; false when the path cannot be parsed.
    bool SelectPath(const std::string& path);
    // Full path of the selected node; empty when nothing, or a node without a path, is selected.
    std::string SelectedPath() const;
    // True when nothing below the root is selected or the selected node has no file-system path.
    bool NotFileSystemFolder() const;
    // The node's absolute ID list (the root's is empty).
    TItemIdList AbsoluteId(QTreeWidgetItem* node) const;
    // The node's own single-item list relative to its parent.
    static TItemIdList NodeId(const QTreeWidgetItem* node);
    // Fills a node's children when it is marked as having some but holds none.
    void CanExpand(QTreeWidgetItem* node);
    // Gives a node a new name through its parent folder; false (caption restored) when refused.
    bool Edit(QTreeWidgetItem* node, const std::string& newName);

    // Used by the file list: selects the selected node's child with a relative ID list, and
    // renames that child.
    void SelectChild(const TItemIdList& relative);
    void RenameChild(const TItemIdList& oldRelative, const TItemIdList& newRelative, const std::string& caption);
    // Goes back to the node selected before the current one (after a folder failed to open).
    void RestorePrevious();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void FillChildren(QTreeWidgetItem* node);
    // The folder object of a node (the desktop for the root); nullptr when it cannot be bound.
    const TShellFolder* BindNode(QTreeWidgetItem* node, std::unique_ptr<TShellFolder>& bound) const;
    QTreeWidgetItem* AddChild(QTreeWidgetItem* node, const TShellFolder& folder, const TItemIdList& item);
    void NotifyDeleting(QTreeWidgetItem* node);
    void NodeChanged(QTreeWidgetItem* current);
    QTreeWidgetItem* FindNode(const TItemIdList& absolute);
    QTreeWidgetItem* FindChild(QTreeWidgetItem* node, const TItemIdList& relative);
    std::unique_ptr<TShellFolder> ParentFolder(QTreeWidgetItem* node) const;

    QPointer<TFileView> fileView_;
    QPointer<TContextMenuEx> contextMenu_;
    QPointer<TDropSourceEx> dropSource_;
    QStyledItemDelegate* delegate_;
    bool updating_ = false;
    QTreeWidgetItem* current_ = nullptr;
    QTreeWidgetItem* previous_ = nullptr;
    QPoint pressPos_;
    QTreeWidgetItem* pressNode_ = nullptr;
};

enum class TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };

class TFileView : public QWidget {
public:
    explicit TFileView(QWidget* parent = nullptr);
    ~TFileView() override;

    // Column sort signs (+1 or -1), shared by every file list of the process.
    static std::array<int, 4>& SortSigns();

    bool FolderDisplay() const { return folderDisplay_; }
    void SetFolderDisplay(bool value) { folderDisplay_ = value; }
    bool FileExecute() const { return fileExecute_; }
    void SetFileExecute(bool value) { fileExecute_ = value; }
    // Extensions such as ".JPG" (any case); an empty mask lists everything.
    const std::vector<std::string>& Mask() const { return mask_; }
    void SetMask(const std::vector<std::string>& mask) { mask_ = mask; }
    TContextMenuEx* ContextMenu() const { return contextMenu_; }
    void SetContextMenu(TContextMenuEx* menu) { contextMenu_ = menu; }
    TDropSourceEx* DropSource() const { return dropSource_; }
    void SetDropSource(TDropSourceEx* source) { dropSource_ = source; }
    TFolderView* FolderView() const { return folderView_; }
    TViewStyle ViewStyle() const { return style_; }
    void SetViewStyle(TViewStyle style);
    void SetReadOnly(bool readOnly);
    void SetMultiSelect(bool multi);
    // Called when the selection or the current item changes.
    std::function<void()> OnChange;

    // Shows the folder an absolute ID list names.
    void SetFolder(const TItemIdList& absolute);
    const TItemIdList& Folder() const { return folderId_; }
    // Lists the folder's items again.
    void Fill();
    // Shows a row's size and date as the file has them now (after its tags were saved).
    void RefreshRow(int row);

    int Count() const;
    // Text of a row's column (0 name, 1 size, 2 type, 3 date).
    std::string ItemText(int row, int column) const;
    TItemIdList ItemId(int row) const;
    bool ItemIsLink(int row) const;
    // Full path of a row's item; empty when it has none.
    std::string ItemPath(int row) const;
    // Rows selected, in list order.
    std::vector<int> SelectedRows() const;
    // The path of the first selected item; empty when none is selected.
    std::string SelectedPath() const;
    void SelectRow(int row);
    int FindRow(const std::string& caption) const;

    // Opens the current item: a folder in the linked tree, else (with FileExecute) in its program.
    void DblClick();
    // Toggles the column's direction and sorts by it.
    void ColClick(int column);
    // Gives a row's item a new name; false (caption restored) when refused.
    bool Edit(int row, const std::string& newName);

    // Width the report view needs to show its four columns whole, frame and scroll bar included.
    int ReportWidth() const;

    QListView* ListView() const { return listView_; }
    QTreeView* ReportView() const { return reportView_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class TFolderView;
    void SetFolderView(TFolderView* view) { folderView_ = view; }
    QAbstractItemView* ActiveView() const;
    void SortRows(const std::function<int(int, int)>& compare);
    bool KeepItem(const TItemIdList& item, uint32_t attrs) const;
    static void ShowSizeAndDate(QStandardItem& size, QStandardItem& date, const TItemIdList& absolute, bool isFolder);

    QStandardItemModel* model_;
    QListView* listView_;
    QTreeView* reportView_;
    QStackedLayout* stack_;
    QStyledItemDelegate* delegate_;
    TViewStyle style_ = TViewStyle::vsReport;
    TItemIdList folderId_;
    std::unique_ptr<TShellFolder> folder_;
    QPointer<TFolderView> folderView_;
    QPointer<TContextMenuEx> contextMenu_;
    QPointer<TDropSourceEx> dropSource_;
    std::vector<std::string> mask_;
    bool folderDisplay_ = false;
    bool fileExecute_ = true;
    bool readOnly_ = false;
    bool filling_ = false;
    QPoint pressPos_;
    bool pressOnItem_ = false;
};

// A file-system name or path as shown (FileNameUtf8). The views and forms keep the bytes the file
// system gave beside it.
QString FileNameText(const std::string& bytes);

// The size column's text: Format("%8d%s") of the size in KiB rounded up past the last whole one
// (a zero-byte file shows 1 KB).
std::string FileSizeText(int64_t size);
// The date column's text, "yy/mm/dd hh:nn" in local time.
std::string FileDateText(int64_t modified);

} // namespace lumora
