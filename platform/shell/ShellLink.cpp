#include "platform/shell/ShellLink.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "framework/LegacyText.h"
#include "framework/SysUtils.h"

namespace lumora {

namespace {

constexpr size_t kHeaderSize = 0x4C;
constexpr uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr int64_t kMaxLinkFile = 1 << 20;

// Every read is checked against the end of the bytes.
class TByteReader {
public:
    TByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t Size() const { return size_; }
    bool U16(size_t at, uint32_t& v) const {
        if (at > size_ || size_ - at < 2) return false;
        v = data_[at] | (data_[at + 1] << 8);
        return true;
    }
    bool U32(size_t at, uint32_t& v) const {
        if (at > size_ || size_ - at < 4) return false;
        v = data_[at] | (data_[at + 1] << 8) | (data_[at + 2] << 16) | (uint32_t(data_[at + 3]) << 24);
        return true;
    }
    const uint8_t* At(size_t at) const { return data_ + at; }

private:
    const uint8_t* data_;
    size_t size_;
};

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// UTF-16LE units to UTF-8, stopping at a NUL; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const uint8_t* p, size_t units) {
    std::string out;
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = p[2 * i] | (p[2 * i + 1] << 8);
        if (u == 0) break;
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
            uint32_t lo = p[2 * i + 2] | (p[2 * i + 3] << 8);
            if (lo >= 0xDC00 && lo < 0xE000) {
                AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, (u >= 0xD800 && u < 0xE000) ? 0xFFFD : u);
    }
    return out;
}

// 8-bit text of a shortcut: UTF-8 when it already is, else read as every other 8-bit name is
// (framework/LegacyText).
std::string AnsiToUtf8(const std::string& s) { return SanitizeUtf8(s); }

// A NUL-terminated 8-bit string starting at `at` inside [0, end).
bool CString(const TByteReader& r, size_t at, size_t end, std::string& s) {
    if (at >= end) return false;
    const uint8_t* p = r.At(at);
    const void* nul = std::memchr(p, 0, end - at);
    if (!nul) return false;
    s = AnsiToUtf8(std::string(reinterpret_cast<const char*>(p), static_cast<const uint8_t*>(nul) - p));
    return true;
}

// A NUL-terminated UTF-16 string starting at `at` inside [0, end).
bool WString(const TByteReader& r, size_t at, size_t end, std::string& s) {
    if (at >= end) return false;
    size_t units = (end - at) / 2;
    const uint8_t* p = r.At(at);
    for (size_t i = 0; i < units; ++i)
        if (p[2 * i] == 0 && p[2 * i + 1] == 0) {
            s = Utf16ToUtf8(p, i);
            return true;
        }
    return false;
}

bool ParseLinkInfo(const TByteReader& r, size_t start, size_t end, std::string& basePath) {
    uint32_t headerSize, flags, baseOff, suffixOff;
    if (!r.U32(start + 4, headerSize) || !r.U32(start + 8, flags) || !r.U32(start + 16, baseOff) ||
        !r.U32(start + 24, suffixOff))
        return false;
    if (!(flags & 1)) return true; // no local path (a network share only)
    std::string base, suffix;
    bool haveUnicode = false;
    if (headerSize >= 0x24 && start + 0x24 <= end) {
        uint32_t baseW, suffixW;
        if (r.U32(start + 28, baseW) && r.U32(start + 32, suffixW) && baseW != 0) {
            haveUnicode = WString(r, start + baseW, end, base);
            if (haveUnicode && suffixW != 0) WString(r, start + suffixW, end, suffix);
        }
    }
    if (!haveUnicode) {
        if (!CString(r, start + baseOff, end, base)) return false;
        if (suffixOff != 0) CString(r, start + suffixOff, end, suffix);
    }
    if (!suffix.empty() && !base.empty() && base.back() != '\\') base += '\\';
    basePath = base + suffix;
    return true;
}

size_t CountChars(const std::string& utf8) {
    size_t n = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

// Removes "." and empty components and lets ".." take back the component before it, as the
// Windows shell does with a shortcut's path.
std::string NormalizePath(const std::string& path) {
    bool absolute = !path.empty() && path[0] == '/';
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string part = path.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty() && parts.back() != "..") parts.pop_back();
            else if (!absolute) parts.push_back(part);
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out = absolute ? "/" : "";
    for (size_t k = 0; k < parts.size(); ++k) {
        if (k) out += '/';
        out += parts[k];
    }
    return out;
}

} // namespace

bool ParseShellLink(const uint8_t* data, size_t size, TShellLinkData& link) {
    link = TShellLinkData{};
    TByteReader r(data, size);
    uint32_t headerSize;
    if (!r.U32(0, headerSize) || headerSize != kHeaderSize || size < kHeaderSize) return false;
    if (std::memcmp(data + 4, kLinkClsid, sizeof kLinkClsid) != 0) return false;
    r.U32(20, link.Flags);
    r.U32(24, link.FileAttributes);
    size_t pos = kHeaderSize;

    if (link.Flags & SLF_HAS_ID_LIST) {
        uint32_t idSize;
        if (!r.U16(pos, idSize) || size - pos - 2 < idSize) return false;
        pos += 2 + idSize;
    }
    if (link.Flags & SLF_HAS_LINK_INFO) {
        uint32_t infoSize;
        if (!r.U32(pos, infoSize) || infoSize < 0x1C || size - pos < infoSize) return false;
        std::string base;
        if (!ParseLinkInfo(r, pos, pos + infoSize, base)) return false;
        if (!(link.Flags & SLF_FORCE_NO_LINK_INFO)) link.LocalBasePath = base;
        pos += infoSize;
    }
    const bool unicode = link.Flags & SLF_IS_UNICODE;
    std::string* fields[] = {&link.Name, &link.RelativePath, &link.WorkingDir, &link.Arguments, nullptr};
    const uint32_t bits[] = {SLF_HAS_NAME, SLF_HAS_RELATIVE_PATH, SLF_HAS_WORKING_DIR, SLF_HAS_ARGUMENTS,
                             SLF_HAS_ICON_LOCATION};
    for (int k = 0; k < 5; ++k) {
        if (!(link.Flags & bits[k])) continue;
        uint32_t count;
        if (!r.U16(pos, count)) return false;
        pos += 2;
        size_t bytes = size_t(count) * (unicode ? 2 : 1);
        if (size - pos < bytes) return false;
        if (fields[k]) {
            if (unicode) {
                *fields[k] = Utf16ToUtf8(data + pos, count);
            } else {
                std::string raw(reinterpret_cast<const char*>(data + pos), bytes);
                raw.resize(std::strlen(raw.c_str()));
                *fields[k] = AnsiToUtf8(raw);
            }
        }
        pos += bytes;
    }
    return true;
}

bool ReadShellLink(const std::string& linkPath, TShellLinkData& link) {
    int fd = ::open(linkPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    std::vector<uint8_t> bytes;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxLinkFile;
    if (ok) {
        bytes.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < bytes.size()) {
            ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
    }
    ::close(fd);
    return ok && ParseShellLink(bytes.data(), bytes.size(), link);
}

std::string WindowsPathToLocal(const std::string& path) {
    std::string p = path;
    for (char& c : p)
        if (c == '\\') c = '/';
    if (p.size() >= 2 && p[0] == '/' && p[1] == '/') return {};
    if (p.size() >= 2 && p[1] == ':' && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'))) {
        p.erase(0, 2);
        if (p.empty() || p[0] != '/') p.insert(0, 1, '/');
    }
    return p;
}

std::vector<std::string> ShellLinkCandidates(const std::string& linkPath, const TShellLinkData& link) {
    std::vector<std::string> out;
    auto add = [&](const std::string& p) {
        if (p.empty() || p == "/") return;
        std::string n = NormalizePath(p);
        if (!n.empty() && n != "/" && std::find(out.begin(), out.end(), n) == out.end()) out.push_back(n);
    };
    if (!link.RelativePath.empty() && CountChars(link.RelativePath) <= kMaxLinkTarget) {
        std::string rel = WindowsPathToLocal(link.RelativePath);
        if (!rel.empty()) {
            if (rel[0] == '/') add(rel);
            else {
                size_t slash = linkPath.find_last_of('/');
                std::string folder = slash == std::string::npos ? "." : linkPath.substr(0, slash + 1);
                add(IncludeTrailingPathDelimiter(folder) + rel);
            }
        }
    }
    if (!link.LocalBasePath.empty() && CountChars(link.LocalBasePath) <= kMaxLinkTarget)
        add(WindowsPathToLocal(link.LocalBasePath));
    return out;
}

bool ResolveShellLink(const std::string& linkPath, std::string& target) {
    target.clear();
    TShellLinkData link;
    if (!ReadShellLink(linkPath, link)) return false;
    std::vector<std::string> candidates = ShellLinkCandidates(linkPath, link);
    if (candidates.empty()) return false;
    for (const std::string& c : candidates)
        if (FileExists(c)) {
            target = c;
            return true;
        }
    target = candidates.front();
    return true;
}

// ---- Folder enumeration ----

TFolderReader::~TFolderReader() { Close(); }

bool TFolderReader::Open(const std::string& path) {
    Close();
    DIR* d = ::opendir(path.empty() ? "." : path.c_str());
    if (!d) return false;
    dir_ = d;
    fd_ = ::dirfd(d);
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
        Close();
        return false;
    }
    id_ = TFolderId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

bool TFolderReader::Next(TFolderEntry& entry) {
    if (!dir_) return false;
    for (;;) {
        dirent* e = ::readdir(static_cast<DIR*>(dir_));
        if (!e) return false;
        if (e->d_name[0] == '.') {
            bool self = e->d_name[1] == '\0' || (e->d_name[1] == '.' && e->d_name[2] == '\0');
            if (self || !includeHidden_) continue;
        }
        entry.Name = e->d_name;
        switch (e->d_type) {
        case DT_REG: entry.Kind = TEntryKind::File; break;
        case DT_DIR: entry.Kind = TEntryKind::Folder; break;
        case DT_LNK:
        case DT_UNKNOWN: {
            // Links are followed as the file system gives them; only these entries cost a stat.
            struct stat st;
            if (::fstatat(fd_, e->d_name, &st, 0) != 0) entry.Kind = TEntryKind::Other;
            else if (S_ISREG(st.st_mode)) entry.Kind = TEntryKind::File;
            else if (S_ISDIR(st.st_mode)) entry.Kind = TEntryKind::Folder;
            else entry.Kind = TEntryKind::Other;
            break;
        }
        default: entry.Kind = TEntryKind::Other; break;
        }
        return true;
    }
}

void TFolderReader::Close() {
    if (dir_) ::closedir(static_cast<DIR*>(dir_));
    dir_ = nullptr;
    fd_ = -1;
}

} // namespace lumora
