#include "framework/SysUtils.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <vector>

#include "framework/LegacyText.h"

namespace lumora {

bool TryStrToInt(const std::string& text, int& value) {
    std::string s = Trim(text);
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < s.size() && s[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= s.size()) return false;
    uint64_t acc = 0;
    for (; i < s.size(); ++i) {
        int digit;
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (std::isdigit(c)) digit = c - '0';
        else if (base == 16 && std::isxdigit(c)) digit = std::tolower(c) - 'a' + 10;
        else return false;
        acc = acc * base + digit;
        if (acc > 0xFFFFFFFFull) return false;
    }
    if (base == 10) {
        if (negative ? acc > 2147483648ull : acc > 2147483647ull) return false;
        value = negative ? static_cast<int>(-static_cast<int64_t>(acc)) : static_cast<int>(acc);
    } else {
        // Hexadecimal text covers the whole 32-bit pattern, as colour texts need.
        int32_t v = static_cast<int32_t>(static_cast<uint32_t>(acc));
        value = negative ? -v : v;
    }
    return true;
}

int StrToIntDef(const std::string& text, int fallback) {
    int v;
    return TryStrToInt(text, v) ? v : fallback;
}

int StrToInt(const std::string& text) {
    int v;
    if (!TryStrToInt(text, v)) throw EConvertError("'" + text + "' is not a valid integer value");
    return v;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string IntToHex(uint64_t value, int digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(value));
    return buf;
}

std::string UpperCase(const std::string& text) {
    std::string r = text;
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return r;
}

std::string LowerCase(const std::string& text) {
    std::string r = text;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return r;
}

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string Trim(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
    return text.substr(b, e - b);
}

std::string ExtractFileExt(const std::string& path) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot);
}

std::string ExtractFileName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFilePath(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    std::string old = ExtractFileExt(path);
    return path.substr(0, path.size() - old.size()) + ext;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
    if (!path.empty() && path.back() == '/') return path;
    return path + "/";
}

std::string ExcludeTrailingPathDelimiter(const std::string& path) {
    if (path.size() > 1 && path.back() == '/') return path.substr(0, path.size() - 1);
    return path;
}

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t FileSize(const std::string& path) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return static_cast<int64_t>(st.st_size);
}

std::string FileNameUtf8(const std::string& bytes) {
    // Each name of the path is read on its own: a folder named in UTF-8 may hold a file that an
    // archive from another system named in CP932 or Windows-1252. No CP932 byte is a "/".
    std::string text;
    text.reserve(bytes.size() * 2);
    for (size_t at = 0; at <= bytes.size();) {
        size_t slash = bytes.find('/', at);
        if (slash == std::string::npos) slash = bytes.size();
        text += SanitizeUtf8(std::string_view(bytes).substr(at, slash - at));
        if (slash < bytes.size()) text += '/';
        at = slash + 1;
    }
    return text;
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(out.data(), out.size() + 1, format, args);
    va_end(args);
    return out;
}

} // namespace lumora
