#pragma once
// Writes shell-link files for tests and fuzz seeds, laid out as the public format describes.

#include <cstdint>
#include <string>

namespace lumora::test {

struct TLinkSpec {
    std::string RelativePath; // Windows form, e.g. ".\\pic.png"; empty = none
    std::string BasePath;     // local base path, e.g. "C:\\Pictures\\a.png"; empty = no link info
    std::string Suffix;       // common path suffix appended to the base path
    std::string Name;         // description
    bool Unicode = true;      // string data in UTF-16
    bool UnicodeBase = false; // also store the base path in UTF-16 in the link info
    bool IdList = false;      // a small item ID list before the link info
    bool ForceNoLinkInfo = false;
};

namespace detail {
inline void Put16(std::string& s, uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}
inline void Set32(std::string& s, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) s[at + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
}
// UTF-8 to UTF-16LE code units (as bytes); returns the unit count.
inline size_t Utf16(const std::string& utf8, std::string& out) {
    size_t units = 0;
    for (size_t i = 0; i < utf8.size();) {
        uint8_t c = static_cast<uint8_t>(utf8[i]);
        uint32_t cp;
        size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
        for (size_t k = 1; k < len && i + k < utf8.size(); ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            Put16(out, 0xD800 + (cp >> 10));
            Put16(out, 0xDC00 + (cp & 0x3FF));
            units += 2;
        } else {
            Put16(out, cp);
            ++units;
        }
    }
    return units;
}
} // namespace detail

inline std::string BuildShellLink(const TLinkSpec& spec) {
    using namespace detail;
    uint32_t flags = 0;
    if (spec.IdList) flags |= 0x1;
    if (!spec.BasePath.empty()) flags |= 0x2;
    if (!spec.Name.empty()) flags |= 0x4;
    if (!spec.RelativePath.empty()) flags |= 0x8;
    if (spec.Unicode) flags |= 0x80;
    if (spec.ForceNoLinkInfo) flags |= 0x100;

    std::string s;
    Put32(s, 0x4C);
    const uint8_t clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    s.append(reinterpret_cast<const char*>(clsid), 16);
    Put32(s, flags);
    Put32(s, 0x20); // archive
    s.append(24, '\0'); // three file times
    Put32(s, 1234);     // target size
    Put32(s, 0);        // icon index
    Put32(s, 1);        // show normal
    Put16(s, 0);        // hot key
    s.append(10, '\0'); // reserved

    if (spec.IdList) {
        std::string ids;
        Put16(ids, 6);
        ids.append("ab\0\0", 4);
        Put16(ids, 0);
        Put16(s, static_cast<uint32_t>(ids.size()));
        s += ids;
    }
    if (!spec.BasePath.empty()) {
        uint32_t headerSize = spec.UnicodeBase ? 0x24 : 0x1C;
        std::string info(headerSize, '\0');
        // A minimal volume ID: size, drive type, serial, label offset, empty label.
        uint32_t volumeOff = static_cast<uint32_t>(info.size());
        Put32(info, 0x11);
        Put32(info, 3);
        Put32(info, 0x1234);
        Put32(info, 0x10);
        info += '\0';
        uint32_t baseOff = static_cast<uint32_t>(info.size());
        info += spec.BasePath;
        info += '\0';
        uint32_t suffixOff = static_cast<uint32_t>(info.size());
        info += spec.Suffix;
        info += '\0';
        uint32_t baseW = 0, suffixW = 0;
        if (spec.UnicodeBase) {
            baseW = static_cast<uint32_t>(info.size());
            Utf16(spec.BasePath, info);
            Put16(info, 0);
            suffixW = static_cast<uint32_t>(info.size());
            Utf16(spec.Suffix, info);
            Put16(info, 0);
        }
        Set32(info, 0, static_cast<uint32_t>(info.size()));
        Set32(info, 4, headerSize);
        Set32(info, 8, 1);
        Set32(info, 12, volumeOff);
        Set32(info, 16, baseOff);
        Set32(info, 20, 0);
        Set32(info, 24, suffixOff);
        if (spec.UnicodeBase) {
            Set32(info, 28, baseW);
            Set32(info, 32, suffixW);
        }
        s += info;
    }
    auto putString = [&](const std::string& text) {
        if (spec.Unicode) {
            std::string units;
            size_t n = Utf16(text, units);
            Put16(s, static_cast<uint32_t>(n));
            s += units;
        } else {
            Put16(s, static_cast<uint32_t>(text.size()));
            s += text;
        }
    };
    if (!spec.Name.empty()) putString(spec.Name);
    if (!spec.RelativePath.empty()) putString(spec.RelativePath);
    return s;
}

} // namespace lumora::test
