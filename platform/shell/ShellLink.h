#pragma once
// Windows shortcut files (".lnk") read by our own parser of the public shell-link format, and the
// folder enumeration the play-list scans use.
//
// A shortcut names its target as a Windows path. On Linux it stands for its target this way:
//  1. the relative path stored in the shortcut, taken from the shortcut's own folder with every "\"
//     turned into "/" (a shortcut copied together with its pictures keeps working);
//  2. the local base path (plus the common path suffix): a drive path "C:\dir\file" is tried as
//     "/dir/file" (the drive letter dropped, the rest taken from the root of the file system), and
//     a path that already starts with "/" as it is.
// The first of these that names an existing file is the target; when none exists, the first one
// is reported, so callers can tell "resolved but missing" from "not a shortcut". Network paths are
// not followed. A target longer than 260 characters is refused rather than cut short, so a
// shortcut never stands for a different file. Resolving never shows any user interface.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumora {

// Link flags of the shell-link header.
enum : uint32_t {
    SLF_HAS_ID_LIST = 0x1,
    SLF_HAS_LINK_INFO = 0x2,
    SLF_HAS_NAME = 0x4,
    SLF_HAS_RELATIVE_PATH = 0x8,
    SLF_HAS_WORKING_DIR = 0x10,
    SLF_HAS_ARGUMENTS = 0x20,
    SLF_HAS_ICON_LOCATION = 0x40,
    SLF_IS_UNICODE = 0x80,
    SLF_FORCE_NO_LINK_INFO = 0x100,
};

// What a shortcut file says about its target; texts are UTF-8, paths still in Windows form.
struct TShellLinkData {
    uint32_t Flags = 0;
    uint32_t FileAttributes = 0;
    std::string Name;          // the description
    std::string RelativePath;  // relative to the shortcut's folder
    std::string WorkingDir;
    std::string Arguments;
    std::string LocalBasePath; // with the common path suffix appended
};

// Longest target path a shortcut may name, in characters.
constexpr size_t kMaxLinkTarget = 260;

// Parses the bytes of a shortcut file. False when the bytes are not a shell link or a structure
// they announce runs past their end; never reads outside data[0..size).
bool ParseShellLink(const uint8_t* data, size_t size, TShellLinkData& link);
// Reads and parses a shortcut file (files above 1 MiB are refused: real shortcuts are small).
bool ReadShellLink(const std::string& linkPath, TShellLinkData& link);
// The Linux paths a parsed shortcut may stand for, in the order they are tried.
std::vector<std::string> ShellLinkCandidates(const std::string& linkPath, const TShellLinkData& link);
// The target of a shortcut: the first candidate that is an existing file, else the first candidate.
// False when the file is no readable shortcut or names no usable path.
bool ResolveShellLink(const std::string& linkPath, std::string& target);

// A Windows path as a Linux one: "\" becomes "/", a drive letter is dropped. Empty for a network path.
std::string WindowsPathToLocal(const std::string& path);

// ---- Folder enumeration ----

enum class TEntryKind { File, Folder, Other };

struct TFolderEntry {
    std::string Name;
    TEntryKind Kind = TEntryKind::Other;
};

// Identity of a folder on the file system, to enter each folder at most once.
struct TFolderId {
    uint64_t Device = 0, Inode = 0;
    bool operator==(const TFolderId&) const = default;
    bool operator<(const TFolderId& o) const { return Device != o.Device ? Device < o.Device : Inode < o.Inode; }
};

// Reads one folder's entries in the order the file system returns them. Hidden entries (names
// starting with ".") are returned only when asked for; "." and ".." never are; symbolic links are
// reported as what they point to, and dangling ones as Other. The entry type comes from the
// directory itself where the file system records it, so a scan costs no stat per plain file.
class TFolderReader {
public:
    explicit TFolderReader(bool includeHidden = false) : includeHidden_(includeHidden) {}
    ~TFolderReader();
    TFolderReader(const TFolderReader&) = delete;
    TFolderReader& operator=(const TFolderReader&) = delete;

    // Opens the folder (path with or without a trailing "/"); false when it cannot be read.
    bool Open(const std::string& path);
    // The opened folder's identity.
    TFolderId Id() const { return id_; }
    // The next entry; false at the end (or on a read error).
    bool Next(TFolderEntry& entry);
    void Close();

private:
    bool includeHidden_;
    void* dir_ = nullptr; // DIR*
    int fd_ = -1;
    TFolderId id_;
};

} // namespace lumora
