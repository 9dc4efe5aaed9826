#include "platform/shell/Shell.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <filesystem>

#include <QAction>
#include <QClipboard>
#include <QDateTime>
#include <QDesktopServices>
#include <QDrag>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QMimeData>
#include <QMimeDatabase>
#include <QProcess>
#include <QUrl>

#include "framework/Forms.h"
#include "framework/LegacyText.h"
#include "framework/SysUtils.h"
#include "platform/shell/ShellLink.h"
#include "platform/system/System.h"

namespace lumora {

namespace fs = std::filesystem;

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QString& s) { return s.toUtf8().toStdString(); }

uint16_t ReadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// A single item's data is usable as a file name: not empty, no separator, not "." or "..".
bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// The path with "." and ".." resolved and no doubled or trailing separators, done on the bytes:
// a file name that is not UTF-8 keeps its bytes.
std::string CleanPath(const std::string& path) {
    std::string clean = fs::path(path).lexically_normal().string();
    while (clean.size() > 1 && clean.back() == '/') clean.pop_back();
    return clean;
}

// The absolute form of a path, on its bytes (Qt's file classes hold names as UTF-16 and would
// change a name that is not UTF-8).
std::string AbsolutePath(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return ec ? CleanPath(path) : CleanPath(absolute.string());
}

// A file URL that keeps every byte of the path, percent-encoded, and the path back from one.
QUrl FileUrl(const std::string& path) {
    return QUrl::fromEncoded("file://" + QByteArray(path.data(), static_cast<qsizetype>(path.size())).toPercentEncoding("/"));
}
std::string LocalPathOf(const QUrl& url) {
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

bool StatPath(const std::string& path, struct stat& st) { return !path.empty() && ::stat(path.c_str(), &st) == 0; }
bool IsDir(const std::string& path) {
    struct stat st;
    return StatPath(path, st) && S_ISDIR(st.st_mode);
}

std::vector<TShellPlace>& Places() {
    static std::vector<TShellPlace> places;
    return places;
}

std::vector<TShellPlace> DefaultPlaces() {
    std::vector<TShellPlace> places;
    std::string home = HomeFolder();
    if (!home.empty() && home != "/") places.push_back({"ホーム", home});
    places.push_back({"ファイルシステム", "/"});
    return places;
}

// The folder holds at least one folder that the folder tree would list (hidden ones it does not).
bool HasSubFolder(const std::string& path) {
    TFolderReader reader;
    if (!reader.Open(path)) return false;
    TFolderEntry entry;
    while (reader.Next(entry))
        if (entry.Kind == TEntryKind::Folder) return true;
    return false;
}

// Name comparison of the file lists: without regard to case first, then byte order, so two
// different names never compare equal.
int CompareNames(const std::string& a, const std::string& b) {
    int c = QString::compare(Q(FileNameUtf8(a)), Q(FileNameUtf8(b)), Qt::CaseInsensitive);
    if (c != 0) return c < 0 ? -1 : 1;
    return a < b ? -1 : a > b ? 1 : 0;
}

// "name - コピー.ext", then "name - コピー (2).ext" and on, the first that does not exist yet.
std::string FreeName(const std::string& folder, const std::string& name, bool isFolder, const std::string& tag) {
    std::string stem = name, ext;
    if (!isFolder) {
        size_t dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0) {
            stem = name.substr(0, dot);
            ext = name.substr(dot);
        }
    }
    for (int n = 1; n < 10000; ++n) {
        std::string candidate = stem + " - " + tag + (n > 1 ? " (" + std::to_string(n) + ")" : "") + ext;
        struct stat st;
        if (::lstat(JoinPath(folder, candidate).c_str(), &st) != 0) return candidate;
    }
    return {};
}

bool CopyOrMove(const std::string& src, const std::string& dest, bool move) {
    std::error_code ec;
    if (move) {
        fs::rename(src, dest, ec);
        if (!ec) return true;
        if (ec != std::errc::cross_device_link) return false;
    }
    fs::copy(src, dest, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove_all(dest, ignored);
        return false;
    }
    if (move) {
        fs::remove_all(src, ec);
        if (ec) return false;
    }
    return true;
}

class TRealShellUi : public IShellUi {
public:
    bool Open(const std::string& path) override { return QDesktopServices::openUrl(FileUrl(AbsolutePath(path))); }
    QAction* PopupMenu(QMenu& menu, const QPoint& screenPoint) override { return menu.exec(screenPoint); }
    Qt::DropAction Drag(QWidget* source, QMimeData* data, Qt::DropActions allowed) override {
        auto* drag = new QDrag(source);
        drag->setMimeData(data);
        return drag->exec(allowed, Qt::CopyAction);
    }
    bool Run(const std::string& program, const std::vector<std::string>& args) override {
        QStringList list;
        for (const auto& a : args) list << Q(a);
        return QProcess::startDetached(Q(program), list);
    }
};

IShellUi*& CurrentUi() {
    static IShellUi* ui = nullptr;
    return ui;
}

void CollectMenu(QMenu& menu, const std::string& prefix, std::vector<std::string>& texts,
                 std::vector<QAction*>& actions) {
    for (QAction* a : menu.actions()) {
        if (a->isSeparator()) {
            texts.push_back(prefix + "-");
            continue;
        }
        std::string text = S(a->text());
        texts.push_back(prefix + text);
        actions.push_back(a);
        if (a->menu()) CollectMenu(*a->menu(), prefix + text + "/", texts, actions);
    }
}

} // namespace

// ---- TItemIdList ----

TItemIdList::TItemIdList() : bytes_(2, 0) {}

bool TItemIdList::FromItems(const std::vector<std::string>& items, TItemIdList& out) {
    std::vector<uint8_t> bytes;
    for (const auto& item : items) {
        if (item.size() > 0xFFFF - 2) return false;
        size_t count = item.size() + 2;
        bytes.push_back(static_cast<uint8_t>(count & 0xFF));
        bytes.push_back(static_cast<uint8_t>(count >> 8));
        bytes.insert(bytes.end(), item.begin(), item.end());
    }
    bytes.push_back(0);
    bytes.push_back(0);
    out.bytes_ = std::move(bytes);
    return true;
}

bool TItemIdList::FromBytes(const uint8_t* data, size_t size, TItemIdList& out) {
    if (!data) return false;
    size_t pos = 0;
    while (pos + 2 <= size) {
        uint16_t count = ReadU16(data + pos);
        if (count == 0) {
            out.bytes_.assign(data, data + pos + 2);
            return true;
        }
        if (count < 2 || count > size - pos) return false;
        pos += count;
    }
    return false;
}

TItemIdList TItemIdList::Concat(const TItemIdList& first, const TItemIdList& second) {
    TItemIdList result;
    result.bytes_.assign(first.bytes_.begin(), first.bytes_.end() - 2);
    result.bytes_.insert(result.bytes_.end(), second.bytes_.begin(), second.bytes_.end());
    return result;
}

int TItemIdList::Count() const {
    int n = 0;
    for (size_t pos = 0; pos + 2 <= bytes_.size();) {
        uint16_t count = ReadU16(bytes_.data() + pos);
        if (count == 0) break;
        ++n;
        pos += count;
    }
    return n;
}

std::string TItemIdList::ItemData(int index) const {
    size_t pos = 0;
    for (int i = 0; pos + 2 <= bytes_.size(); ++i) {
        uint16_t count = ReadU16(bytes_.data() + pos);
        if (count == 0) break;
        if (i == index) return std::string(reinterpret_cast<const char*>(bytes_.data() + pos + 2), count - 2u);
        pos += count;
    }
    return {};
}

TItemIdList TItemIdList::First() const {
    TItemIdList result;
    if (Empty()) return result;
    uint16_t count = ReadU16(bytes_.data());
    result.bytes_.assign(bytes_.begin(), bytes_.begin() + count);
    result.bytes_.push_back(0);
    result.bytes_.push_back(0);
    return result;
}

TItemIdList TItemIdList::Last() const {
    std::vector<TItemIdList> items = Split(Count());
    return items.empty() ? TItemIdList() : items.back();
}

TItemIdList TItemIdList::Parent() const {
    std::vector<TItemIdList> items = Split(Count());
    if (!items.empty()) items.pop_back();
    return Join(items);
}

std::vector<TItemIdList> TItemIdList::Split(int count) const {
    std::vector<TItemIdList> items;
    size_t pos = 0;
    while (static_cast<int>(items.size()) < count && pos + 2 <= bytes_.size()) {
        uint16_t n = ReadU16(bytes_.data() + pos);
        if (n == 0) break;
        TItemIdList item;
        item.bytes_.assign(bytes_.begin() + static_cast<ptrdiff_t>(pos), bytes_.begin() + static_cast<ptrdiff_t>(pos + n));
        item.bytes_.push_back(0);
        item.bytes_.push_back(0);
        items.push_back(std::move(item));
        pos += n;
    }
    return items;
}

TItemIdList TItemIdList::Join(const std::vector<TItemIdList>& items) {
    TItemIdList result;
    for (const auto& item : items) result = Concat(result, item);
    return result;
}

// ---- Places ----

void SetShellPlaces(std::vector<TShellPlace> places) { Places() = std::move(places); }

std::vector<TShellPlace> ShellPlaces() { return Places().empty() ? DefaultPlaces() : Places(); }

// ---- Paths of lists ----

std::string GetPathFromIdList(const TItemIdList& absolute) {
    int n = absolute.Count();
    if (n == 0) return {};
    std::string path = absolute.ItemData(0);
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos) return {};
    for (int i = 1; i < n; ++i) {
        std::string name = absolute.ItemData(i);
        if (!IsPlainName(name)) return {};
        path = JoinPath(path, name);
    }
    return path;
}

bool ParseDisplayName(const std::string& path, TItemIdList& absolute) {
    if (path.empty() || path[0] != '/') return false;
    std::string clean = CleanPath(path);
    struct stat st;
    if (!StatPath(clean, st)) return false;
    const TShellPlace* best = nullptr;
    std::vector<TShellPlace> places = ShellPlaces();
    for (const auto& place : places) {
        std::string p = CleanPath(place.Path);
        bool inside = p == "/" || clean == p || clean.compare(0, p.size() + 1, p + "/") == 0;
        if (inside && (!best || p.size() > CleanPath(best->Path).size())) best = &place;
    }
    if (!best) return false;
    std::string base = CleanPath(best->Path);
    std::vector<std::string> items{best->Path};
    std::string rest = clean.size() > base.size() ? clean.substr(base == "/" ? 1 : base.size() + 1) : std::string();
    size_t start = 0;
    while (start < rest.size()) {
        size_t slash = rest.find('/', start);
        if (slash == std::string::npos) slash = rest.size();
        if (slash > start) items.push_back(rest.substr(start, slash - start));
        start = slash + 1;
    }
    return TItemIdList::FromItems(items, absolute);
}

// ---- TShellFolder ----

TShellFolder::TShellFolder(TItemIdList absolute) : absolute_(std::move(absolute)), path_(GetPathFromIdList(absolute_)) {}

std::string TShellFolder::PathOf(const TItemIdList& relative) const {
    if (relative.Empty()) return path_;
    return GetPathFromIdList(TItemIdList::Concat(absolute_, relative));
}

bool TShellFolder::EnumObjects(uint32_t flags, std::vector<TItemIdList>& items) const {
    items.clear();
    if (IsDesktop()) {
        if (!(flags & SHCONTF_FOLDERS)) return true;
        for (const auto& place : ShellPlaces()) {
            TItemIdList item;
            if (IsDir(place.Path) && TItemIdList::FromItems({place.Path}, item)) items.push_back(std::move(item));
        }
        return true;
    }
    TFolderReader reader(flags & SHCONTF_INCLUDEHIDDEN);
    if (path_.empty() || !reader.Open(path_)) return false;
    TFolderEntry entry;
    while (reader.Next(entry)) {
        bool wanted = (entry.Kind == TEntryKind::Folder && (flags & SHCONTF_FOLDERS)) ||
                      (entry.Kind == TEntryKind::File && (flags & SHCONTF_NONFOLDERS));
        TItemIdList item;
        if (wanted && TItemIdList::FromItems({entry.Name}, item)) items.push_back(std::move(item));
    }
    return true;
}

std::string TShellFolder::DisplayNameOf(const TItemIdList& item, uint32_t flags) const {
    if (flags & SHGDN_FORPARSING) return PathOf(item);
    if (item.Empty()) {
        if (IsDesktop()) return kDesktopName;
        return ExtractFileName(ExcludeTrailingPathDelimiter(path_));
    }
    if (IsDesktop() && item.Count() == 1) {
        std::string data = item.ItemData(0);
        for (const auto& place : ShellPlaces())
            if (place.Path == data) return place.Name;
        return data;
    }
    return item.ItemData(item.Count() - 1);
}

uint32_t TShellFolder::GetAttributesOf(const TItemIdList& item, uint32_t request) const {
    if (IsDesktop() && item.Empty()) return request & (SFGAO_FOLDER | SFGAO_HASSUBFOLDER);
    std::string path = PathOf(item);
    struct stat st;
    if (!StatPath(path, st)) return 0;
    bool place = IsDesktop() && item.Count() == 1;
    uint32_t attrs = SFGAO_FILESYSTEM | SFGAO_HASPROPSHEET;
    if (!place) attrs |= SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANLINK | SFGAO_CANDELETE | SFGAO_CANRENAME;
    if (S_ISDIR(st.st_mode)) {
        attrs |= SFGAO_FOLDER | SFGAO_FILESYSANCESTOR | SFGAO_DROPTARGET;
        if ((request & SFGAO_HASSUBFOLDER) && HasSubFolder(path)) attrs |= SFGAO_HASSUBFOLDER;
    } else if (SameText(ExtractFileExt(path), ".lnk")) {
        attrs |= SFGAO_LINK;
    }
    return attrs & request;
}

int TShellFolder::CompareIds(const TItemIdList& a, const TItemIdList& b) const {
    int na = a.Count(), nb = b.Count();
    for (int i = 0; i < na && i < nb; ++i) {
        std::string da = a.ItemData(i), db = b.ItemData(i);
        if (da == db) continue;
        if (IsDesktop() && i == 0) {
            std::vector<TShellPlace> places = ShellPlaces();
            auto index = [&](const std::string& d) {
                for (size_t k = 0; k < places.size(); ++k)
                    if (places[k].Path == d) return static_cast<int>(k);
                return static_cast<int>(places.size());
            };
            int ia = index(da), ib = index(db);
            if (ia != ib) return ia < ib ? -1 : 1;
            return da < db ? -1 : 1;
        }
        TItemIdList prefix = TItemIdList::Join(a.Split(i));
        std::string base = PathOf(prefix);
        bool fa = IsDir(JoinPath(base, da)), fb = IsDir(JoinPath(base, db));
        if (fa != fb) return fa ? -1 : 1;
        return CompareNames(da, db);
    }
    return na == nb ? 0 : na < nb ? -1 : 1;
}

void TShellFolder::SortIds(std::vector<TItemIdList>& items) const {
    if (IsDesktop()) {
        std::stable_sort(items.begin(), items.end(),
                         [&](const TItemIdList& a, const TItemIdList& b) { return CompareIds(a, b) < 0; });
        return;
    }
    // Each item's folder flag and shown name found once, not again at every comparison: a folder
    // of thousands of 8-bit names would otherwise be read and looked up over and over.
    struct TKey {
        bool Folder = false;
        std::string Bytes;
        QString Shown;
        size_t Index = 0;
    };
    std::vector<TKey> keys(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].Count() != 1) {
            std::stable_sort(items.begin(), items.end(),
                             [&](const TItemIdList& a, const TItemIdList& b) { return CompareIds(a, b) < 0; });
            return;
        }
        keys[i].Bytes = items[i].ItemData(0);
        keys[i].Folder = IsDir(JoinPath(path_, keys[i].Bytes));
        keys[i].Shown = Q(FileNameUtf8(keys[i].Bytes));
        keys[i].Index = i;
    }
    std::sort(keys.begin(), keys.end(), [](const TKey& a, const TKey& b) {
        if (a.Folder != b.Folder) return a.Folder;
        int c = QString::compare(a.Shown, b.Shown, Qt::CaseInsensitive);
        if (c != 0) return c < 0;
        return a.Bytes < b.Bytes;
    });
    std::vector<TItemIdList> sorted;
    sorted.reserve(items.size());
    for (const auto& k : keys) sorted.push_back(std::move(items[k.Index]));
    items = std::move(sorted);
}

std::unique_ptr<TShellFolder> TShellFolder::BindToObject(const TItemIdList& relative) const {
    if (relative.Empty()) return nullptr;
    TItemIdList absolute = TItemIdList::Concat(absolute_, relative);
    if (!IsDir(GetPathFromIdList(absolute))) return nullptr;
    return std::make_unique<TShellFolder>(absolute);
}

bool TShellFolder::SetNameOf(const TItemIdList& item, const std::string& newName, TItemIdList& newItem) const {
    if (IsDesktop() || item.Count() != 1) return false;
    if (!IsPlainName(newName) || newName.size() > kMaxItemName) return false;
    std::string from = PathOf(item);
    std::string to = JoinPath(path_, newName);
    if (from.empty() || from == to) return false;
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) return false;
    // The new name never takes the place of another item.
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno != EINVAL && errno != ENOSYS) return false;
        if (::lstat(to.c_str(), &st) == 0 || ::rename(from.c_str(), to.c_str()) != 0) return false;
    }
    return TItemIdList::FromItems({newName}, newItem);
}

TShellFolder& DesktopFolder() {
    static TShellFolder desktop{TItemIdList()};
    return desktop;
}

// ---- Icons, type names, find data ----

QIcon ShellIcon(const TItemIdList& absolute, bool open) {
    static QFileIconProvider provider;
    if (absolute.Empty()) return provider.icon(QAbstractFileIconProvider::Desktop);
    std::string path = GetPathFromIdList(absolute);
    if (absolute.Count() == 1 && path == "/") return provider.icon(QAbstractFileIconProvider::Computer);
    if (IsDir(path)) return provider.icon(QAbstractFileIconProvider::Folder);
    if (IsValidUtf8(path)) return provider.icon(QFileInfo(Q(path)));
    // Qt cannot reach a file whose name is not UTF-8; its icon is the one its type has by name, or
    // a plain file's.
    QIcon byName = provider.icon(QFileInfo(Q(FileNameUtf8(path))));
    return byName.isNull() ? provider.icon(QAbstractFileIconProvider::File) : byName;
}

std::string ShellTypeName(const TItemIdList& absolute) {
    std::string path = GetPathFromIdList(absolute);
    if (absolute.Empty() || IsDir(path)) return "ファイル フォルダ";
    std::string ext = ExtractFileExt(path);
    if (SameText(ext, ".lnk")) return "ショートカット";
    static QMimeDatabase db;
    QMimeType type = db.mimeTypeForFile(Q(FileNameUtf8(path)), QMimeDatabase::MatchExtension);
    if (type.isValid() && !type.isDefault() && !type.comment().isEmpty()) return S(type.comment());
    return ext.size() > 1 ? UpperCase(ext.substr(1)) + " ファイル" : "ファイル";
}

bool ShellFindData(const TItemIdList& absolute, int64_t& size, int64_t& modified) {
    struct stat st;
    if (!StatPath(GetPathFromIdList(absolute), st)) return false;
    size = static_cast<int64_t>(st.st_size);
    modified = static_cast<int64_t>(st.st_mtime);
    return true;
}

// ---- Operations on files ----

std::string TrashFolder() { return DataFolder() + "/Trash"; }

bool MoveToTrash(const std::string& path) {
    struct stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
    std::string absolute = AbsolutePath(path);
    std::string files = TrashFolder() + "/files", info = TrashFolder() + "/info";
    std::error_code ec;
    fs::create_directories(files, ec);
    fs::create_directories(info, ec);
    if (!IsDir(files) || !IsDir(info)) return false;

    // The info file is created first and exclusively: it reserves the name in the trash.
    std::string name = ExtractFileName(absolute);
    std::string stem = name, ext;
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && !S_ISDIR(st.st_mode)) {
        stem = name.substr(0, dot);
        ext = name.substr(dot);
    }
    std::string trashName, infoPath;
    int fd = -1;
    for (int n = 1; n < 10000 && fd < 0; ++n) {
        trashName = n == 1 ? name : stem + "." + std::to_string(n) + ext;
        infoPath = info + "/" + trashName + ".trashinfo";
        struct stat taken;
        if (::lstat((files + "/" + trashName).c_str(), &taken) == 0) continue;
        fd = ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    char date[32];
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    std::string text = "[Trash Info]\nPath=" + QByteArray(absolute.data(), static_cast<qsizetype>(absolute.size())).toPercentEncoding("/").toStdString() +
                       "\nDeletionDate=" + date + "\n";
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    written = (::close(fd) == 0) && written;
    if (!written || !CopyOrMove(absolute, files + "/" + trashName, true)) {
        ::unlink(infoPath.c_str());
        return false;
    }
    return true;
}

bool CopyIntoFolder(const std::vector<std::string>& paths, const std::string& folder, bool move) {
    if (!IsDir(folder)) return false;
    std::error_code ec;
    fs::path target = fs::weakly_canonical(folder, ec);
    if (ec) return false;
    bool ok = true;
    for (const auto& path : paths) {
        struct stat st;
        if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
            ok = false;
            continue;
        }
        fs::path source = fs::weakly_canonical(path, ec);
        if (ec) {
            ok = false;
            continue;
        }
        // A folder copied into itself or below itself would never end.
        if (S_ISDIR(st.st_mode)) {
            auto [s, t] = std::mismatch(source.begin(), source.end(), target.begin(), target.end());
            if (s == source.end()) {
                ok = false;
                continue;
            }
        }
        std::string name = ExtractFileName(ExcludeTrailingPathDelimiter(path));
        if (source.parent_path() == target) {
            if (move) continue; // already there
            name = FreeName(folder, name, S_ISDIR(st.st_mode), "コピー");
        } else {
            struct stat taken;
            if (::lstat(JoinPath(folder, name).c_str(), &taken) == 0)
                name = FreeName(folder, name, S_ISDIR(st.st_mode), "コピー");
        }
        if (name.empty() || !CopyOrMove(path, JoinPath(folder, name), move)) ok = false;
    }
    return ok;
}

bool CreateShortcut(const std::string& path, std::string& created) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
    std::string absolute = AbsolutePath(path);
    std::string folder = ExcludeTrailingPathDelimiter(ExtractFilePath(absolute));
    std::string name = FreeName(folder, ExtractFileName(absolute), S_ISDIR(st.st_mode), "ショートカット");
    if (name.empty()) return false;
    std::string link = JoinPath(folder, name);
    if (::symlink(absolute.c_str(), link.c_str()) != 0) return false;
    created = link;
    return true;
}

std::string SendToFolder() { return DataFolder() + "/lumora/SendTo"; }

std::string PropertiesText(const std::string& path) {
    TItemIdList id;
    std::string text = "名前: " + FileNameUtf8(ExtractFileName(ExcludeTrailingPathDelimiter(path))) + "\n" +
                       "場所: " + FileNameUtf8(ExcludeTrailingPathDelimiter(ExtractFilePath(path))) + "\n";
    if (ParseDisplayName(path, id)) text += "種類: " + ShellTypeName(id) + "\n";
    struct stat st;
    if (StatPath(path, st)) {
        if (!S_ISDIR(st.st_mode)) text += "サイズ: " + IntToStr(static_cast<int64_t>(st.st_size)) + " バイト\n";
        text += "更新日時: " +
                S(QDateTime::fromSecsSinceEpoch(st.st_mtime).toString(QStringLiteral("yyyy/MM/dd hh:mm"))) + "\n";
    }
    return text;
}

QMimeData* MakeFileDragData(const std::vector<std::string>& paths, bool cut) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    QByteArray gnome = cut ? "cut" : "copy";
    for (const auto& p : paths) {
        QUrl url = FileUrl(AbsolutePath(p));
        urls << url;
        gnome += "\n" + url.toEncoded();
    }
    data->setUrls(urls);
    data->setData(QStringLiteral("x-special/gnome-copied-files"), gnome);
    if (cut) data->setData(QStringLiteral("application/x-kde-cutselection"), "1");
    return data;
}

std::vector<std::string> FilesFromMimeData(const QMimeData* data, bool* cut) {
    std::vector<std::string> files;
    if (cut) *cut = false;
    if (!data) return files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) files.push_back(LocalPathOf(url));
    if (cut) {
        QByteArray gnome = data->data(QStringLiteral("x-special/gnome-copied-files"));
        *cut = gnome.startsWith("cut\n") || data->data(QStringLiteral("application/x-kde-cutselection")) == "1";
    }
    return files;
}

void SetClipboardFiles(const std::vector<std::string>& paths, bool cut) {
    QGuiApplication::clipboard()->setMimeData(MakeFileDragData(paths, cut));
}

std::vector<std::string> ClipboardFiles(bool* cut) { return FilesFromMimeData(QGuiApplication::clipboard()->mimeData(), cut); }

// ---- The items' context menu ----

namespace {

// The folder a shortcut file stands for, when it stands for one.
std::string LinkedFolder(const std::string& linkPath) {
    TShellLinkData link;
    if (!ReadShellLink(linkPath, link)) return {};
    for (const auto& candidate : ShellLinkCandidates(linkPath, link))
        if (IsDir(candidate)) return candidate;
    return {};
}

QAction* AddVerb(QMenu& menu, const char* text, int verb, bool enabled) {
    QAction* action = menu.addAction(QString::fromUtf8(text));
    action->setData(verb);
    action->setEnabled(enabled);
    return action;
}

} // namespace

bool IsDropTarget(const std::string& path) {
    struct stat st;
    if (!StatPath(path, st)) return false;
    if (S_ISDIR(st.st_mode)) return true;
    if (SameText(ExtractFileExt(path), ".lnk")) return !LinkedFolder(path).empty();
    return S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

void BuildItemMenu(QMenu& menu, const TShellFolder& folder, const std::vector<TItemIdList>& items) {
    uint32_t all = ~0u;
    bool paths = !items.empty();
    for (const auto& item : items) {
        all &= folder.GetAttributesOf(item, SFGAO_CANCOPY | SFGAO_CANMOVE | SFGAO_CANLINK | SFGAO_CANDELETE |
                                                SFGAO_HASPROPSHEET);
        if (folder.PathOf(item).empty()) paths = false;
    }
    if (!paths) all = 0;
    std::string single = items.size() == 1 ? folder.PathOf(items[0]) : std::string();
    AddVerb(menu, "開く(&O)", svOpen, paths);
    menu.addSeparator();
    QMenu* sendTo = menu.addMenu(QString::fromUtf8("送る(&N)"));
    sendTo->menuAction()->setData(static_cast<int>(svSendTo));
    sendTo->menuAction()->setEnabled(all & SFGAO_CANCOPY);
    AddVerb(*sendTo, "(送り先なし)", svSendTo, false);
    menu.addSeparator();
    AddVerb(menu, "切り取り(&T)", svCut, (all & SFGAO_CANMOVE) && (all & SFGAO_CANDELETE));
    AddVerb(menu, "コピー(&C)", svCopy, all & SFGAO_CANCOPY);
    AddVerb(menu, "貼り付け(&P)", svPaste, !single.empty() && IsDropTarget(single) && !ClipboardFiles().empty());
    menu.addSeparator();
    AddVerb(menu, "ショートカットの作成(&S)", svCreateLink, all & SFGAO_CANLINK);
    AddVerb(menu, "削除(&D)", svDelete, all & SFGAO_CANDELETE);
    menu.addSeparator();
    AddVerb(menu, "プロパティ(&R)", svProperties, !single.empty() && (all & SFGAO_HASPROPSHEET));
}

bool InvokeShellVerb(int verb, const TShellFolder& folder, const std::vector<TItemIdList>& items) {
    std::vector<std::string> paths;
    for (const auto& item : items) {
        std::string path = folder.PathOf(item);
        if (path.empty()) return false;
        paths.push_back(path);
    }
    if (paths.empty()) return false;
    bool ok = true;
    switch (verb) {
    case svOpen:
        for (const auto& p : paths) ok = ShellUi().Open(p) && ok;
        return ok;
    case svCut:
    case svCopy:
        SetClipboardFiles(paths, verb == svCut);
        return true;
    case svPaste: {
        if (paths.size() != 1) return false;
        bool cut = false;
        std::vector<std::string> files = ClipboardFiles(&cut);
        if (files.empty()) return false;
        std::string target = paths[0];
        if (SameText(ExtractFileExt(target), ".lnk")) target = LinkedFolder(target);
        if (IsDir(target)) {
            ok = CopyIntoFolder(files, target, cut);
            // Moved files are no longer where the clipboard says.
            if (ok && cut) QGuiApplication::clipboard()->clear();
            return ok;
        }
        return IsDropTarget(target) && ShellUi().Run(target, files);
    }
    case svCreateLink: {
        std::string created;
        for (const auto& p : paths) ok = CreateShortcut(p, created) && ok;
        return ok;
    }
    case svDelete:
        for (const auto& p : paths) ok = MoveToTrash(p) && ok;
        return ok;
    case svProperties:
        MessageBox(PropertiesText(paths[0]), "プロパティ", TMsgIcon::Information);
        return true;
    default:
        return false;
    }
}

// ---- Shell UI ----

IShellUi& ShellUi() {
    static TRealShellUi real;
    return CurrentUi() ? *CurrentUi() : real;
}

void SetShellUi(IShellUi* ui) { CurrentUi() = ui; }

bool TFakeShellUi::Open(const std::string& path) {
    Opened.push_back(path);
    return OpenResult;
}

QAction* TFakeShellUi::PopupMenu(QMenu& menu, const QPoint& screenPoint) {
    ++Popups;
    LastPoint = screenPoint;
    MenuTexts.clear();
    std::vector<QAction*> actions;
    CollectMenu(menu, "", MenuTexts, actions);
    for (const auto& wanted : Choose)
        for (QAction* a : actions)
            if (a->isEnabled() && !a->menu() && S(a->text()) == wanted) return a;
    return nullptr;
}

Qt::DropAction TFakeShellUi::Drag(QWidget*, QMimeData* data, Qt::DropActions allowed) {
    ++Drags;
    LastAllowed = allowed;
    DraggedFiles = FilesFromMimeData(data);
    delete data;
    return DragResult;
}

bool TFakeShellUi::Run(const std::string& program, const std::vector<std::string>& args) {
    std::vector<std::string> run{program};
    run.insert(run.end(), args.begin(), args.end());
    Runs.push_back(std::move(run));
    return RunResult;
}

} // namespace lumora
