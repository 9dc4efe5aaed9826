#pragma once
// Builders of ASF headers byte by byte, and WMA files made by ffmpeg, for the WMA tests.

#include <dirent.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/tags/TagText.h"
#include "tests/audio/tags/TagTestUtil.h"

namespace lumora::test::asf {

// GUID bytes as ASF stores them (first three groups little-endian).
inline std::string Guid(uint32_t a, uint16_t b, uint16_t c, uint64_t d) {
    std::string s = LE32(a) + LE16(b) + LE16(c);
    for (int i = 7; i >= 0; --i) s += static_cast<char>(d >> (8 * i));
    return s;
}
inline std::string LE64(uint64_t v) { return LE32(uint32_t(v)) + LE32(uint32_t(v >> 32)); }
inline uint64_t LE32At(const std::string& s, size_t at) {
    uint64_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + i]);
    return v;
}
inline uint64_t LE64At(const std::string& s, size_t at) { return LE32At(s, at) | (LE32At(s, at + 4) << 32); }

inline std::string Object(const std::string& guid, const std::string& body) { return guid + LE64(24 + body.size()) + body; }
inline std::string Wide(const std::string& utf8) {
    return EncodeUtf16(utf8, TByteOrder::LittleEndian, false) + std::string(2, '\0');
}

inline std::string FileProperties(uint32_t maxBitRate, uint64_t fileSize) {
    std::string body = std::string(16, '\x11') + LE64(fileSize) + LE64(0) + LE64(10) + LE64(20000000) +
                       LE64(20000000) + LE64(1000) + LE32(2) + LE32(2000) + LE32(2000) + LE32(maxBitRate);
    return Object(Guid(0x8CABDCA1, 0xA947, 0x11CF, 0x8EE400C00C205365), body);
}

inline std::string StreamProperties(uint16_t channels, uint32_t rate, uint32_t byteRate) {
    std::string body = Guid(0xF8699E40, 0x5B4D, 0x11CF, 0xA8FD00805F5C442B) + std::string(38, '\0');
    body += LE16(0x161) + LE16(channels) + LE32(rate) + LE32(byteRate) + LE16(0) + LE16(16);
    return Object(Guid(0xB7DC0791, 0xA9B7, 0x11CF, 0x8EE600C00C205365), body);
}

// Title, author, copyright, description, rating; an empty text is stored with length 0.
inline std::string ContentDescription(const std::array<std::string, 5>& texts) {
    std::string lengths, strings;
    for (const auto& t : texts) {
        std::string w = t.empty() ? std::string() : Wide(t);
        lengths += LE16(uint16_t(w.size()));
        strings += w;
    }
    return Object(Guid(0x75B22633, 0x668E, 0x11CF, 0xA6D900AA0062CE6C), lengths + strings);
}

inline std::string Item(const std::string& name, uint16_t type, const std::string& value) {
    std::string n = Wide(name);
    return LE16(uint16_t(n.size())) + n + LE16(type) + LE16(uint16_t(value.size())) + value;
}

inline std::string Extended(const std::vector<std::string>& items) {
    std::string body = LE16(uint16_t(items.size()));
    for (const auto& i : items) body += i;
    return Object(Guid(0xD2D0A440, 0xE307, 0x11D2, 0x97F000A0C95EA850), body);
}

inline std::string MetaRecord(uint16_t language, uint16_t stream, const std::string& name, uint16_t type,
                              const std::string& value) {
    std::string n = Wide(name);
    return LE16(language) + LE16(stream) + LE16(uint16_t(n.size())) + LE16(type) + LE32(uint32_t(value.size())) + n +
           value;
}
inline std::string Records(const std::vector<std::string>& records) {
    std::string body = LE16(uint16_t(records.size()));
    for (const auto& r : records) body += r;
    return body;
}
inline std::string Metadata(const std::vector<std::string>& records) {
    return Object(Guid(0xC5F8CBEA, 0x5BAF, 0x4877, 0x8467AA8C44FA4CCA), Records(records));
}
inline std::string Library(const std::vector<std::string>& records) {
    return Object(Guid(0x44231C94, 0x9498, 0x49D1, 0xA1411D134E457054), Records(records));
}
inline std::string Extension(const std::vector<std::string>& objects) {
    std::string data;
    for (const auto& o : objects) data += o;
    return Object(Guid(0x5FBF03B5, 0xA92E, 0x11CF, 0x8EE300C00C205365),
                  Guid(0xABD3D211, 0xA9BA, 0x11CF, 0x8EE600C00C205365) + LE16(6) + LE32(uint32_t(data.size())) + data);
}

inline std::string Header(const std::vector<std::string>& objects) {
    std::string body;
    for (const auto& o : objects) body += o;
    return Guid(0x75B22630, 0x668E, 0x11CF, 0xA6D900AA0062CE6C) + LE64(30 + body.size()) +
           LE32(uint32_t(objects.size())) + "\x01\x02" + body;
}

// The header followed by a data object of packets patterned by their offset; the file size in
// file properties placed first in the header is set to the total.
inline std::string WithData(const std::string& header, size_t packetBytes) {
    std::string packets(packetBytes, '\0');
    for (size_t i = 0; i < packetBytes; ++i) packets[i] = static_cast<char>((i * 131 + 7) % 251);
    std::string file = header + Object(Guid(0x75B22636, 0x668E, 0x11CF, 0xA6D900AA0062CE6C),
                                       std::string(16, '\x11') + LE64(1) + "\x01\x01" + packets);
    if (header.compare(30, 4, "\xA1\xDC\xAB\x8C") == 0) file.replace(30 + 24 + 16, 8, LE64(file.size()));
    return file;
}

// The raw bytes of each object of the header, in order.
inline std::vector<std::string> TopObjects(const std::string& file) {
    std::vector<std::string> out;
    uint64_t end = LE64At(file, 16), count = LE32At(file, 24), at = 30;
    for (uint64_t i = 0; i < count && at + 24 <= end; ++i) {
        uint64_t size = LE64At(file, at + 16);
        if (size < 24 || size > end - at) break;
        out.push_back(file.substr(at, size));
        at += size;
    }
    return out;
}

// Names of the files in a folder other than the one given.
inline std::vector<std::string> OtherFiles(const std::string& folder, const std::string& except) {
    std::vector<std::string> out;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != ".." && name != except) out.push_back(name);
        }
        closedir(d);
    }
    return out;
}

// A two-second WMA file made by ffmpeg with the given "-metadata" pairs.
inline std::string MakeWma(const TempDir& dir, const std::string& name,
                           const std::vector<std::pair<std::string, std::string>>& tags) {
    std::string path = dir.File(name), args;
    for (const auto& [key, value] : tags) args += " -metadata " + Quoted(key + "=" + value);
    Run("ffmpeg -v error -y -f lavfi -i sine=frequency=440:duration=2 -ac 2 -c:a wmav2 -b:a 64k" + args + " " +
        Quoted(path));
    return path;
}

// Output of a command (standard output only).
inline std::string Capture(const std::string& command) { return CommandOutput(command + " 2>/dev/null"); }

// The value of one tag as ffprobe reads it ("TAG:name=value" of -show_format), or "<none>".
inline std::string ProbeTag(const std::string& file, const std::string& tag) {
    std::string out = Capture("ffprobe -v error -show_format " + Quoted(file));
    std::string key = "TAG:" + tag + "=";
    size_t at = out.find(key);
    if (at == std::string::npos) return "<none>";
    size_t end = out.find('\n', at);
    return out.substr(at + key.size(), end - at - key.size());
}

} // namespace lumora::test::asf
