#pragma once
// The shell namespace of this system: a tree of folders rooted at a virtual desktop, items named by
// variable-length item paths (ID lists), display names, attributes, renaming, icons and type names,
// opening with the desktop's default application, the freedesktop trash, file lists on the
// clipboard and in drag data, and the "Send To" folder.
//
// The desktop lists a few places (the home folder and the file system's root unless set
// otherwise); below a place every item is one file-system name. Names starting with "." are listed
// only when SHCONTF_INCLUDEHIDDEN asks for them.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QPoint>
#include <qnamespace.h>

class QAction;
class QIcon;
class QMenu;
class QMimeData;
class QWidget;

namespace lumora {

// ---- Item ID lists ----
// A run of items, each an unsigned 16-bit byte count (the count included) followed by its data,
// ended by a zero 16-bit word. An empty list (only the terminator) names the desktop.
class TItemIdList {
public:
    TItemIdList();
    // A list of the given items in order; false (and the list unchanged) when an item's data is
    // too long for its count.
    static bool FromItems(const std::vector<std::string>& items, TItemIdList& out);
    // Copies a list from raw bytes; false when an item's count is below 2, runs past size, or the
    // terminator is missing.
    static bool FromBytes(const uint8_t* data, size_t size, TItemIdList& out);
    static TItemIdList Concat(const TItemIdList& first, const TItemIdList& second);

    const uint8_t* Data() const { return bytes_.data(); }
    // Bytes of the whole list: the sum of the counts plus the terminator.
    size_t Size() const { return bytes_.size(); }
    int Count() const;
    bool Empty() const { return bytes_.size() <= 2; }
    // The data of item index (0-based); empty when there is no such item.
    std::string ItemData(int index) const;
    TItemIdList First() const;
    TItemIdList Last() const;
    // The list without its last item (the desktop's list stays empty).
    TItemIdList Parent() const;
    // The first count items of a joined list, each as a single-item list; fewer when the list
    // holds fewer.
    std::vector<TItemIdList> Split(int count) const;
    // Joins single-item lists one after another into one list.
    static TItemIdList Join(const std::vector<TItemIdList>& items);

    bool operator==(const TItemIdList& other) const { return bytes_ == other.bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// ---- Attributes, enumeration flags, display-name forms ----
enum : uint32_t {
    SFGAO_CANCOPY = 0x1,
    SFGAO_CANMOVE = 0x2,
    SFGAO_CANLINK = 0x4,
    SFGAO_CANRENAME = 0x10,
    SFGAO_CANDELETE = 0x20,
    SFGAO_HASPROPSHEET = 0x40,
    SFGAO_DROPTARGET = 0x100,
    SFGAO_LINK = 0x10000,
    SFGAO_FILESYSANCESTOR = 0x10000000,
    SFGAO_FOLDER = 0x20000000,
    SFGAO_FILESYSTEM = 0x40000000,
    SFGAO_HASSUBFOLDER = 0x80000000,
};
enum : uint32_t { SHCONTF_FOLDERS = 0x20, SHCONTF_NONFOLDERS = 0x40, SHCONTF_INCLUDEHIDDEN = 0x80 };
enum : uint32_t { SHGDN_NORMAL = 0, SHGDN_INFOLDER = 1, SHGDN_FORPARSING = 0x8000 };

// Longest name a rename accepts, in bytes.
constexpr size_t kMaxItemName = 255;

// ---- Places on the desktop ----
struct TShellPlace {
    std::string Name; // display name
    std::string Path; // absolute folder path
};
// Sets the desktop's places; an empty list restores the defaults (home folder, file system root).
void SetShellPlaces(std::vector<TShellPlace> places);
std::vector<TShellPlace> ShellPlaces();
// Display name of the desktop.
inline constexpr const char* kDesktopName = "デスクトップ";

// ---- Folders ----
class TShellFolder {
public:
    // The folder an absolute list names; the empty list is the desktop.
    explicit TShellFolder(TItemIdList absolute);

    const TItemIdList& IdList() const { return absolute_; }
    bool IsDesktop() const { return absolute_.Empty(); }
    // The folder's file-system path; empty for the desktop.
    const std::string& Path() const { return path_; }

    // The folder's items (SHCONTF_* flags) as single-item lists, in file-system order; false when
    // the folder cannot be read.
    bool EnumObjects(uint32_t flags, std::vector<TItemIdList>& items) const;
    // SHGDN_INFOLDER or SHGDN_NORMAL give the name to show; SHGDN_FORPARSING the full path.
    std::string DisplayNameOf(const TItemIdList& item, uint32_t flags) const;
    // The requested SFGAO_* bits that hold for the item (which may be a relative list of several items).
    uint32_t GetAttributesOf(const TItemIdList& item, uint32_t request) const;
    // Folders first, then by name without regard to case; the desktop keeps its places' order.
    int CompareIds(const TItemIdList& a, const TItemIdList& b) const;
    // The folder's items in CompareIds order, each name read once for the whole sort.
    void SortIds(std::vector<TItemIdList>& items) const;
    // The folder a relative list names below this one; null when it is no folder.
    std::unique_ptr<TShellFolder> BindToObject(const TItemIdList& relative) const;
    // Renames a single item; never replaces an existing item. newItem is its new list.
    bool SetNameOf(const TItemIdList& item, const std::string& newName, TItemIdList& newItem) const;
    // File-system path of a relative list below this folder; empty when it has none.
    std::string PathOf(const TItemIdList& relative) const;

private:
    TItemIdList absolute_;
    std::string path_;
};

TShellFolder& DesktopFolder();
// The absolute list of an existing path, through the place that holds it most closely.
bool ParseDisplayName(const std::string& path, TItemIdList& absolute);
// The file-system path of an absolute list; empty for the desktop or a list that names no path.
std::string GetPathFromIdList(const TItemIdList& absolute);

// Icons of the desktop's look-up (system small or large icon, open icon for folders).
QIcon ShellIcon(const TItemIdList& absolute, bool open);
// The type name shown in file lists: "ファイル フォルダ", "ショートカット" or the file type's description.
std::string ShellTypeName(const TItemIdList& absolute);
// Size and last-write time (seconds since the epoch) of the item; false when it has none.
bool ShellFindData(const TItemIdList& absolute, int64_t& size, int64_t& modified);

// ---- Operations on files ----

// Moves a file or folder into the user's trash (files/ + info/ of $XDG_DATA_HOME/Trash).
bool MoveToTrash(const std::string& path);
std::string TrashFolder();
// Copies (or moves) files and folders into a folder. An existing name is never replaced: the copy
// is named "name - コピー.ext" (then " (2)", ...). A folder is never copied into itself. False when
// any of them failed; those that succeeded stay.
bool CopyIntoFolder(const std::vector<std::string>& paths, const std::string& folder, bool move);
// Makes a symbolic link "<name> - ショートカット" beside the item; its path in created.
bool CreateShortcut(const std::string& path, std::string& created);
// The folder whose items the "送る" menu lists: $XDG_DATA_HOME/lumora/SendTo.
std::string SendToFolder();
// A short description of the item: place, size, type and date lines.
std::string PropertiesText(const std::string& path);

// File lists as drag data and on the clipboard (file URLs; "cut" marked the GNOME and KDE way).
QMimeData* MakeFileDragData(const std::vector<std::string>& paths, bool cut = false);
std::vector<std::string> FilesFromMimeData(const QMimeData* data, bool* cut = nullptr);
void SetClipboardFiles(const std::vector<std::string>& paths, bool cut);
std::vector<std::string> ClipboardFiles(bool* cut = nullptr);

// ---- The items' context menu ----
// Verbs of the menu our shell builds for items; each action carries its verb as its data.
enum TShellVerb : int {
    svOpen = 1,
    svSendTo, // the "送る(&N)" sub-menu; its first entry is the shell's own, to be replaced
    svCut,
    svCopy,
    svPaste,
    svCreateLink,
    svDelete,
    svProperties,
};
// Fills menu with the commands for items of folder (single-item lists): "開く(&O)", "送る(&N)",
// "切り取り(&T)", "コピー(&C)", "貼り付け(&P)", "ショートカットの作成(&S)", "削除(&D)",
// "プロパティ(&R)"; a command the items do not allow is disabled.
void BuildItemMenu(QMenu& menu, const TShellFolder& folder, const std::vector<TItemIdList>& items);
// Runs a verb on items of folder; false when it could not be done for every item.
bool InvokeShellVerb(int verb, const TShellFolder& folder, const std::vector<TItemIdList>& items);
// A single item takes pasted files: a folder, a shortcut to one, or a program.
bool IsDropTarget(const std::string& path);

// ---- The interactive part: opening, menus, drags, programs ----
class IShellUi {
public:
    virtual ~IShellUi() = default;
    // Opens the file or folder with the desktop's default application.
    virtual bool Open(const std::string& path) = 0;
    // Shows the menu at a screen point and returns the chosen action (null: none).
    virtual QAction* PopupMenu(QMenu& menu, const QPoint& screenPoint) = 0;
    // Runs a drag of data (owned by the call) from source; returns the action the target took.
    virtual Qt::DropAction Drag(QWidget* source, QMimeData* data, Qt::DropActions allowed) = 0;
    // Starts a program with arguments, detached.
    virtual bool Run(const std::string& program, const std::vector<std::string>& args) = 0;
};
// The one in use; SetShellUi(nullptr) restores the real one.
IShellUi& ShellUi();
void SetShellUi(IShellUi* ui);

// Test double: records every request and answers from its script.
class TFakeShellUi : public IShellUi {
public:
    bool Open(const std::string& path) override;
    QAction* PopupMenu(QMenu& menu, const QPoint& screenPoint) override;
    Qt::DropAction Drag(QWidget* source, QMimeData* data, Qt::DropActions allowed) override;
    bool Run(const std::string& program, const std::vector<std::string>& args) override;

    bool OpenResult = true;
    bool RunResult = true;
    std::vector<std::string> Opened;
    std::vector<std::vector<std::string>> Runs; // program, then its arguments
    // The popup chooses the first enabled action whose text (in the menu or a sub-menu) equals
    // one of these, tried in order; none chosen when empty or not found.
    std::vector<std::string> Choose;
    int Popups = 0;
    QPoint LastPoint;
    // Texts of the last popup: top-level items, sub-menu items as "menu/item", separators "-".
    std::vector<std::string> MenuTexts;
    Qt::DropAction DragResult = Qt::CopyAction;
    int Drags = 0;
    Qt::DropActions LastAllowed;
    std::vector<std::string> DraggedFiles;
};

} // namespace lumora
