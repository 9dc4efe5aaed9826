#include "platform/system/RegistryFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unordered_map>

#include <QString>

#include "platform/system/System.h"

namespace lumora {

namespace {

constexpr const char* kHeader4 = "REGEDIT4";
constexpr const char* kHeader5 = "Windows Registry Editor Version 5.00";

std::string TrimRight(const std::string& s) {
    size_t end = s.size();
    while (end > 0 && (s[end - 1] == ' ' || s[end - 1] == '\t' || s[end - 1] == '\r')) --end;
    return s.substr(0, end);
}

std::string TrimLeft(const std::string& s) {
    size_t start = 0;
    while (start < s.size() && (s[start] == ' ' || s[start] == '\t')) ++start;
    return s.substr(start);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted text starting at text[pos] == '"'; pos ends after the closing quote.
bool ReadQuoted(const std::string& text, size_t& pos, std::string& out) {
    if (pos >= text.size() || text[pos] != '"') return false;
    ++pos;
    out.clear();
    while (pos < text.size()) {
        char c = text[pos++];
        if (c == '"') return true;
        if (c == '\\' && pos < text.size() && (text[pos] == '\\' || text[pos] == '"')) {
            out += text[pos++];
            continue;
        }
        out += c;
    }
    return false;
}

// Comma-separated hexadecimal bytes ("01,02,ff"); blanks around the items are allowed, and so is one
// trailing comma (left over where a wrapped line was joined).
bool ReadHexBytes(const std::string& text, std::string& out) {
    out.clear();
    size_t pos = 0;
    const size_t n = text.size();
    auto skipBlanks = [&] {
        while (pos < n && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    };
    skipBlanks();
    if (pos == n) return true;
    for (;;) {
        skipBlanks();
        int hi = pos < n ? HexDigit(text[pos]) : -1;
        if (hi < 0) return false;
        ++pos;
        int value = hi;
        if (pos < n && HexDigit(text[pos]) >= 0) value = value * 16 + HexDigit(text[pos++]);
        out += static_cast<char>(value);
        skipBlanks();
        if (pos == n) return true;
        if (text[pos] != ',') return false;
        ++pos;
        skipBlanks();
        if (pos == n) return true;
    }
}

std::string Utf16ToUtf8(const std::string& bytes) {
    std::u16string units(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                         (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    QByteArray utf8 = QString::fromUtf16(units.data(), static_cast<qsizetype>(units.size())).toUtf8();
    return std::string(utf8.constData(), static_cast<size_t>(utf8.size()));
}

// Text kept as bytes in a hex form ends with one terminating zero (two bytes in the version 5
// format, where such text is UTF-16).
std::string HexText(std::string bytes, bool utf16) {
    if (utf16) {
        if (bytes.size() % 2) bytes.pop_back();
        if (bytes.size() >= 2 && bytes[bytes.size() - 1] == 0 && bytes[bytes.size() - 2] == 0) bytes.resize(bytes.size() - 2);
        return Utf16ToUtf8(bytes);
    }
    if (!bytes.empty() && bytes.back() == '\0') bytes.pop_back();
    return bytes;
}

// Parses `"name"=data` or `@=data`; false when the line cannot be read.
bool ParseValueLine(const std::string& line, bool utf16Text, TRegValue& value) {
    size_t pos = 0;
    if (line[0] == '@') {
        value.Name.clear();
        pos = 1;
    } else if (!ReadQuoted(line, pos, value.Name)) {
        return false;
    }
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos >= line.size() || line[pos] != '=') return false;
    ++pos;
    std::string data = TrimLeft(line.substr(pos));
    if (!data.empty() && data[0] == '"') {
        size_t qpos = 0;
        std::string text;
        if (!ReadQuoted(data, qpos, text) || qpos != data.size()) return false;
        value.Type = REG_SZ;
        value.Data = std::move(text);
        return true;
    }
    if (data.compare(0, 6, "dword:") == 0) {
        std::string digits = data.substr(6);
        if (digits.empty() || digits.size() > 8) return false;
        uint32_t v = 0;
        for (char c : digits) {
            int d = HexDigit(c);
            if (d < 0) return false;
            v = v * 16 + static_cast<uint32_t>(d);
        }
        value.Type = REG_DWORD;
        value.Data.assign(4, '\0');
        for (int i = 0; i < 4; ++i) value.Data[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        return true;
    }
    if (data.compare(0, 3, "hex") != 0) return false;
    size_t colon = data.find(':');
    if (colon == std::string::npos) return false;
    uint32_t type = REG_BINARY;
    if (colon != 3) {
        // "hex(N):" with N in hexadecimal.
        if (data[3] != '(' || data[colon - 1] != ')' || colon - 5 < 1 || colon - 5 > 8) return false;
        type = 0;
        for (size_t i = 4; i < colon - 1; ++i) {
            int d = HexDigit(data[i]);
            if (d < 0) return false;
            type = type * 16 + static_cast<uint32_t>(d);
        }
    }
    std::string bytes;
    if (!ReadHexBytes(data.substr(colon + 1), bytes)) return false;
    value.Type = type;
    if (type == REG_SZ || type == REG_EXPAND_SZ)
        value.Data = HexText(std::move(bytes), utf16Text);
    else if (type == REG_DWORD && bytes.size() != 4)
        value.Type = REG_BINARY, value.Data = std::move(bytes);
    else
        value.Data = std::move(bytes);
    return true;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string HexList(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        auto b = static_cast<unsigned char>(bytes[i]);
        if (i) out += ',';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string FormatData(const TRegValue& v) {
    switch (v.Type) {
    case REG_SZ:
        // A line break or a zero byte cannot stand inside a quoted string: such text goes as bytes.
        if (v.Data.find_first_of(std::string("\r\n\0", 3)) == std::string::npos) return Quote(v.Data);
        return "hex(1):" + HexList(v.Data + std::string(1, '\0'));
    case REG_EXPAND_SZ: return "hex(2):" + HexList(v.Data + std::string(1, '\0'));
    case REG_DWORD:
        if (v.Data.size() == 4) {
            uint32_t d = 0;
            for (int i = 0; i < 4; ++i) d |= static_cast<uint32_t>(static_cast<unsigned char>(v.Data[i])) << (8 * i);
            return "dword:" + IntToHex(d, 8);
        }
        return "hex:" + HexList(v.Data);
    case REG_BINARY: return "hex:" + HexList(v.Data);
    default: {
        std::string type = IntToHex(v.Type, 1);
        for (char& c : type) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return "hex(" + type + "):" + HexList(v.Data);
    }
    }
}

void FormatKey(const TRegKey& key, const std::string& path, std::string& out) {
    if (!path.empty() && (!key.Values.empty() || key.SubKeys.empty())) {
        out += "[" + path + "]\n";
        for (const auto& v : key.Values) out += (v.Name.empty() ? std::string("@") : Quote(v.Name)) + "=" + FormatData(v) + "\n";
        out += "\n";
    }
    for (const auto& sub : key.SubKeys) FormatKey(*sub, path.empty() ? sub->Name : path + "\\" + sub->Name, out);
}

[[noreturn]] void Fail(const std::string& what, int err) {
    throw ERegistryException("Failed to save the registry: " + what + ": " + std::strerror(err));
}

// Reads a whole file; false when it exists but cannot be read.
bool ReadWholeFile(const std::string& path, std::string& out, bool& exists) {
    out.clear();
    exists = false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    exists = true;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

void WriteAll(int fd, const std::string& text, const std::string& path) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail(path, errno);
        done += static_cast<size_t>(n);
    }
}

// Writes a file whole through a temporary file beside it, renamed over it.
void ReplaceFile(const std::string& path, const std::string& text, mode_t mode) {
    std::string tmpl = path + ".XXXXXX";
    int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) Fail(path, errno);
    try {
        WriteAll(fd, text, path);
        if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) Fail(path, errno);
        if (::close(fd) != 0) {
            fd = -1;
            Fail(path, errno);
        }
        fd = -1;
        if (::rename(tmpl.c_str(), path.c_str()) != 0) Fail(path, errno);
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlink(tmpl.c_str());
        throw;
    }
}

// The exclusive advisory lock on "<file>.lock", held for one read-modify-write.
class TFileLock {
public:
    explicit TFileLock(const std::string& path) {
        fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) Fail(path + ".lock", errno);
        // A process that hangs with the lock must not hang us forever: give up after ten seconds.
        for (int tries = 0;; ++tries) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
            int err = errno;
            if (err != EWOULDBLOCK && err != EINTR) {
                ::close(fd_);
                Fail(path + ".lock", err);
            }
            if (tries > 10000) {
                ::close(fd_);
                Fail(path + ".lock", ETIMEDOUT);
            }
            ::usleep(1000);
        }
    }
    ~TFileLock() { ::close(fd_); } // closing releases the lock
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace

TRegParseResult ParseRegistryText(const std::string& input) {
    TRegParseResult result;
    std::string text;
    if (input.size() >= 2 && static_cast<unsigned char>(input[0]) == 0xFF && static_cast<unsigned char>(input[1]) == 0xFE)
        text = Utf16ToUtf8(input.substr(2)); // a file saved in UTF-16 by another editor
    else if (input.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text = input.substr(3);
    else
        text = input;

    // Value lookups by folded name while reading, so a large key reads in linear time.
    std::unordered_map<TRegKey*, std::unordered_map<std::string, size_t>> index;
    bool seenContent = false;
    bool utf16Text = false;
    TRegKey* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = TrimRight(text.substr(pos, end - pos));
        pos = end + 1;
        std::string trimmed = TrimLeft(line);
        if (trimmed.empty() || trimmed[0] == ';') continue;
        if (!seenContent) {
            seenContent = true;
            if (trimmed == kHeader4) continue;
            if (trimmed == kHeader5) {
                utf16Text = true;
                continue;
            }
            result.MissingHeader = true;
        }
        if (trimmed[0] == '[') {
            current = nullptr;
            if (trimmed.back() != ']' || trimmed.size() < 3) {
                ++result.SkippedLines;
                continue;
            }
            std::string path = trimmed.substr(1, trimmed.size() - 2);
            // "[-HKEY_...]" asks an import to delete a key; it holds nothing to read. The test is on
            // the first name of the path, so "[\-HKEY_...]", which would be written back as a
            // deletion, is not read as a key either.
            std::vector<std::string> names = SplitRegPath(path);
            bool deletion = !names.empty() && names[0].size() >= 6 && names[0][0] == '-' &&
                            UpperCase(names[0].substr(1, 5)) == "HKEY_";
            if (names.empty() || deletion) {
                ++result.SkippedLines;
                continue;
            }
            current = &result.Tree.CreatePath(path);
            continue;
        }
        if (trimmed[0] != '"' && trimmed[0] != '@') {
            ++result.SkippedLines;
            continue;
        }
        // Long byte lists are wrapped with a backslash at the end of each line but the last.
        while (!trimmed.empty() && trimmed.back() == '\\' && trimmed.find("=hex") != std::string::npos &&
               pos < text.size()) {
            size_t next = text.find('\n', pos);
            if (next == std::string::npos) next = text.size();
            trimmed.pop_back();
            trimmed += TrimLeft(TrimRight(text.substr(pos, next - pos)));
            pos = next + 1;
        }
        TRegValue value;
        if (!current || !ParseValueLine(trimmed, utf16Text, value)) {
            ++result.SkippedLines;
            continue;
        }
        auto& names = index[current];
        if (names.empty() && !current->Values.empty())
            for (size_t i = 0; i < current->Values.size(); ++i) names.emplace(FoldRegName(current->Values[i].Name), i);
        auto [it, added] = names.emplace(FoldRegName(value.Name), current->Values.size());
        if (added) {
            current->Values.push_back(std::move(value));
        } else {
            current->Values[it->second].Type = value.Type;
            current->Values[it->second].Data = std::move(value.Data);
        }
    }
    return result;
}

std::string FormatRegistryText(const TRegistryTree& tree) {
    std::string out = std::string(kHeader4) + "\n\n";
    FormatKey(tree, "", out);
    return out;
}

std::string DefaultRegistryPath() {
    const char* env = std::getenv("LUMORA_REGISTRY");
    if (env && *env) return env;
    return ConfigFolder() + "/lumora/registry.reg";
}

TFileRegistryStore::TFileRegistryStore(std::string path) : path_(std::move(path)) {}

TRegistryTree TFileRegistryStore::Read() {
    std::string text;
    bool exists = false;
    if (!ReadWholeFile(path_, text, exists)) return TRegistryTree();
    return ParseRegistryText(text).Tree;
}

void TFileRegistryStore::Update(const std::function<bool(TRegistryTree&)>& apply) {
    // Write beside the real file when the registry is reached through a symbolic link, so the
    // rename replaces the file and not the link.
    std::string path = path_;
    std::error_code ec;
    for (int depth = 0; depth < 16 && std::filesystem::is_symlink(path, ec); ++depth) {
        std::filesystem::path target = std::filesystem::read_symlink(path, ec);
        if (ec) break;
        path = (target.is_absolute() ? target : std::filesystem::path(path).parent_path() / target).string();
    }
    auto parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) {
        std::filesystem::create_directories(parent, ec);
        if (ec) Fail(parent.string(), ec.value());
    }

    TFileLock lock(path);
    std::string text;
    bool exists = false;
    // A file that exists but cannot be read must not be replaced by what we know.
    if (!ReadWholeFile(path, text, exists)) Fail(path, errno);
    TRegParseResult parsed = ParseRegistryText(text);
    if (!apply(parsed.Tree)) return;

    mode_t mode = 0644;
    struct stat st {};
    if (exists && ::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    if (parsed.Damaged() && !text.empty()) ReplaceFile(path + ".damaged", text, mode);
    ReplaceFile(path, FormatRegistryText(parsed.Tree), mode);
}

} // namespace lumora
