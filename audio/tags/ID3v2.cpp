#include "audio/tags/ID3v2.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include <zlib.h>

#include "audio/tags/ByteReader.h"
#include "platform/system/SafeRewrite.h"
#include "audio/tags/TagText.h"

namespace lumora {

namespace {

constexpr int64_t headerSize = 10;
constexpr int64_t defaultTagSize = 4096;

// Slot identifiers: versions 2.3/2.4 and version 2.2.
const char* const slotIDs[ID3v2SlotCount][2] = {
    {"TIT2", "TT2"}, {"TPE1", "TP1"}, {"TALB", "TAL"}, {"TRCK", "TRK"}, {"TYER", "TYE"}, {"TCON", "TCO"},
    {"COMM", "COM"}, {"TCOM", "TCM"}, {"TENC", "TEN"}, {"TCOP", "TCR"}, {"TLAN", "TLA"}, {"WXXX", "WXX"},
    {"TDRC", "TOR"}, {"TOPE", "TOA"}, {"TIT1", "TT1"}, {"TOAL", "TOT"}};

enum Slot { sTitle, sArtist, sAlbum, sTrack, sYear, sGenre, sComment, sComposer, sEncoder, sCopyright,
            sLanguage, sLink, sDate, sOrigArtist, sGroup, sOrigAlbum };

// Version 2.2 frames that have a version 2.3 counterpart with the same layout (PIC is converted).
const std::map<std::string, std::string>& FramesOf22() {
    static const std::map<std::string, std::string> table = {
        {"BUF", "RBUF"}, {"CNT", "PCNT"}, {"COM", "COMM"}, {"CRA", "AENC"}, {"ETC", "ETCO"}, {"EQU", "EQUA"},
        {"GEO", "GEOB"}, {"IPL", "IPLS"}, {"MCI", "MCDI"}, {"MLL", "MLLT"}, {"PIC", "APIC"}, {"POP", "POPM"},
        {"REV", "RVRB"}, {"RVA", "RVAD"}, {"SLT", "SYLT"}, {"STC", "SYTC"}, {"TAL", "TALB"}, {"TBP", "TBPM"},
        {"TCM", "TCOM"}, {"TCO", "TCON"}, {"TCR", "TCOP"}, {"TDA", "TDAT"}, {"TDY", "TDLY"}, {"TEN", "TENC"},
        {"TFT", "TFLT"}, {"TIM", "TIME"}, {"TKE", "TKEY"}, {"TLA", "TLAN"}, {"TLE", "TLEN"}, {"TMT", "TMED"},
        {"TOA", "TOPE"}, {"TOF", "TOFN"}, {"TOL", "TOLY"}, {"TOR", "TORY"}, {"TOT", "TOAL"}, {"TP1", "TPE1"},
        {"TP2", "TPE2"}, {"TP3", "TPE3"}, {"TP4", "TPE4"}, {"TPA", "TPOS"}, {"TPB", "TPUB"}, {"TRC", "TSRC"},
        {"TRD", "TRDA"}, {"TRK", "TRCK"}, {"TSI", "TSIZ"}, {"TSS", "TSSE"}, {"TT1", "TIT1"}, {"TT2", "TIT2"},
        {"TT3", "TIT3"}, {"TXT", "TEXT"}, {"TXX", "TXXX"}, {"TYE", "TYER"}, {"UFI", "UFID"}, {"ULT", "USLT"},
        {"WAF", "WOAF"}, {"WAR", "WOAR"}, {"WAS", "WOAS"}, {"WCM", "WCOM"}, {"WCP", "WCOP"}, {"WPB", "WPUB"},
        {"WXX", "WXXX"},
        // Frames iTunes added to 2.2 tags, under the names it uses in later versions.
        {"TCP", "TCMP"}, {"TST", "TSOT"}, {"TSA", "TSOA"}, {"TSP", "TSOP"}, {"TS2", "TSO2"}, {"TSC", "TSOC"},
        {"GP1", "GRP1"}, {"MVN", "MVNM"}, {"MVI", "MVIN"}};
    return table;
}

std::string Deunsynchronise(std::span<const uint8_t> in) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        out += static_cast<char>(in[i]);
        if (in[i] == 0xFF && i + 1 < in.size() && in[i + 1] == 0x00) ++i;
    }
    return out;
}

bool IsFrameIDChar(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool LooksLikeFrameStart(TByteReader& body, uint64_t pos, int idLength) {
    if (pos == body.Size()) return true;
    if (pos > body.Size()) return false;
    const uint8_t* p = body.Data() + pos;
    if (p[0] == 0) return true; // padding
    if (body.Size() - pos < static_cast<uint64_t>(idLength)) return false;
    for (int i = 0; i < idLength; ++i)
        if (!IsFrameIDChar(p[i])) return false;
    return true;
}

std::string Lower(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Where the first terminator of an encoded string starts at or after from, or npos.
size_t FindTerminator(std::string_view data, size_t from, uint8_t encoding) {
    if (encoding == 1 || encoding == 2) {
        for (size_t i = from; i + 1 < data.size(); i += 2)
            if (data[i] == 0 && data[i + 1] == 0) return i;
        return std::string::npos;
    }
    return data.find('\0', from);
}

size_t TerminatorLength(uint8_t encoding) { return encoding == 1 || encoding == 2 ? 2 : 1; }

TByteOrder BomOrder(std::string_view bytes, TByteOrder fallback) {
    if (bytes.size() >= 2) {
        if (uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xFE) return TByteOrder::LittleEndian;
        if (uint8_t(bytes[0]) == 0xFE && uint8_t(bytes[1]) == 0xFF) return TByteOrder::BigEndian;
    }
    return fallback;
}

std::string DecodeText(uint8_t encoding, std::string_view bytes, TByteOrder fallback = TByteOrder::LittleEndian) {
    switch (encoding) {
    case 0: return DecodeLegacyText(bytes.substr(0, bytes.find('\0')));
    case 1: return DecodeUtf16(bytes, fallback);
    case 2: return DecodeUtf16(bytes, TByteOrder::BigEndian);
    case 3: return SanitizeUtf8(bytes.substr(0, bytes.find('\0')));
    default: return {};
    }
}

// Compressed frames are zlib streams. The output grows as the data inflates, never past the size
// the frame declares nor past what is left of the tag's budget: a few bytes of a frame can declare,
// or inflate to, megabytes. A frame refused is left compressed; the rest of the tag is still read.
std::optional<std::string> Inflate(std::span<const uint8_t> in, uint64_t declaredSize, uint64_t& budget) {
    uint64_t limit = declaredSize == 0 ? budget : std::min(declaredSize, budget);
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return std::nullopt;
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(std::min<size_t>(in.size(), std::numeric_limits<uInt>::max()));
    std::string out;
    Bytef chunk[16384];
    int rc;
    do {
        z.next_out = chunk;
        z.avail_out = sizeof chunk;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) break;
        size_t produced = sizeof chunk - z.avail_out;
        if (out.size() + produced > limit) {
            rc = Z_MEM_ERROR;
            break;
        }
        out.append(reinterpret_cast<const char*>(chunk), produced);
    } while (rc != Z_STREAM_END);
    inflateEnd(&z);
    if (rc != Z_STREAM_END) return std::nullopt;
    budget -= out.size();
    out.shrink_to_fit();
    return out;
}

// Splits an encoded string list at its terminators; trailing tells whether the last one ended
// with a terminator.
std::vector<std::string_view> SplitStrings(std::string_view data, uint8_t encoding, bool& trailing) {
    std::vector<std::string_view> parts;
    size_t from = 0;
    trailing = false;
    while (from < data.size()) {
        size_t end = FindTerminator(data, from, encoding);
        if (end == std::string::npos) {
            parts.push_back(data.substr(from));
            return parts;
        }
        parts.push_back(data.substr(from, end - from));
        from = end + TerminatorLength(encoding);
        trailing = from >= data.size();
    }
    return parts;
}

std::string Utf16WithBom(std::string_view encoded, uint8_t encoding) {
    return EncodeUtf16(DecodeText(encoding, encoded), TByteOrder::LittleEndian, true);
}

// The strings of a version 2.4 frame that are in UTF-16BE or UTF-8 (encodings 2 and 3, which
// version 2.3 does not define) rewritten as UTF-16 with a byte-order mark (encoding 1). Frames of
// other layouts are returned unchanged.
std::string To23Encoding(const std::string& id, const std::string& data) {
    if (data.empty() || (data[0] != 2 && data[0] != 3)) return data;
    uint8_t enc = uint8_t(data[0]);
    std::string_view all(data);
    // Leading fields that are not encoded text: a language, or a MIME type and a picture type.
    size_t plain = 1;
    size_t encodedStrings = std::string::npos; // how many encoded strings follow, npos for all
    if (id[0] == 'T' || id == "IPLS") {
    } else if (id == "COMM" || id == "USLT" || id == "USER") {
        plain = 4;
    } else if (id == "WXXX") {
        encodedStrings = 1;
    } else if (id == "APIC" || id == "GEOB") {
        size_t mimeEnd = data.find('\0', 1);
        if (mimeEnd == std::string::npos) return data;
        plain = mimeEnd + 1 + (id == "APIC" ? 1 : 0);
        encodedStrings = id == "APIC" ? 1 : 2;
    } else {
        return data;
    }
    if (plain > data.size()) return data;
    std::string out = "\x01" + data.substr(1, plain - 1);
    size_t pos = plain;
    if (encodedStrings == std::string::npos) {
        bool trailing = false;
        auto parts = SplitStrings(all.substr(plain), enc, trailing);
        for (size_t i = 0; i < parts.size(); ++i) {
            if (i) out.append(2, '\0');
            out += Utf16WithBom(parts[i], enc);
        }
        if (trailing) out.append(2, '\0');
        return out;
    }
    for (size_t i = 0; i < encodedStrings; ++i) {
        size_t end = FindTerminator(data, pos, enc);
        if (end == std::string::npos) return data;
        out += Utf16WithBom(all.substr(pos, end - pos), enc);
        out.append(2, '\0');
        pos = end + TerminatorLength(enc);
    }
    return out + data.substr(pos);
}

// Reads a version 2.4 frame's extra header bytes and returns its payload (unsynchronisation undone,
// compression inflated), and the same frame in version 2.3 form when that can hold it.
void DecodeFrame24(TID3v2Frame& f, std::span<const uint8_t> raw, const uint8_t flags[2], bool tagUnsync,
                   uint64_t& inflateBudget) {
    TByteReader r(raw);
    uint8_t format = flags[1];
    bool grouped = format & 0x40, compressed = format & 0x08, encrypted = format & 0x04;
    bool unsync = (format & 0x02) || tagUnsync, lengthGiven = format & 0x01;
    uint8_t group = grouped ? r.U8() : 0;
    uint8_t method = encrypted ? r.U8() : 0;
    uint32_t dataLength = lengthGiven ? r.Synchsafe32() : 0;
    if (r.Failed()) return;
    auto rest = r.Bytes(r.Remaining());
    std::string payload = unsync ? Deunsynchronise(rest) : std::string(rest.begin(), rest.end());
    if (compressed && !encrypted) {
        auto bytes = reinterpret_cast<const uint8_t*>(payload.data());
        if (auto inflated = Inflate({bytes, payload.size()}, dataLength, inflateBudget)) {
            payload = std::move(*inflated);
            compressed = false;
        }
    }
    f.Readable = !compressed && !encrypted;
    if (f.Readable) f.Data = payload;
    if (compressed && !lengthGiven) return; // version 2.3 needs the decompressed size
    f.Convertible = true;
    f.ID23 = f.ID;
    f.Flags23[0] = static_cast<uint8_t>((flags[0] << 1) & 0xE0);
    f.Flags23[1] = static_cast<uint8_t>((compressed ? 0x80 : 0) | (encrypted ? 0x40 : 0) | (grouped ? 0x20 : 0));
    if (compressed) {
        char size[4] = {char(dataLength >> 24), char(dataLength >> 16), char(dataLength >> 8), char(dataLength)};
        f.Body23.append(size, 4);
    }
    if (encrypted) f.Body23 += static_cast<char>(method);
    if (grouped) f.Body23 += static_cast<char>(group);
    f.Body23 += f.Readable ? To23Encoding(f.ID, payload) : payload;
}

void DecodeFrame23(TID3v2Frame& f, std::span<const uint8_t> raw, const uint8_t flags[2], uint64_t& inflateBudget) {
    bool compressed = flags[1] & 0x80, encrypted = flags[1] & 0x40, grouped = flags[1] & 0x20;
    f.Convertible = true;
    f.ID23 = f.ID;
    f.Flags23[0] = flags[0];
    f.Flags23[1] = flags[1];
    f.Body23.assign(raw.begin(), raw.end());
    if (encrypted) return;
    // The extra bytes come in this order: decompressed size, encryption method, group.
    TByteReader r(raw);
    uint32_t inflatedSize = compressed ? r.BE32() : 0;
    if (grouped) r.U8();
    if (r.Failed()) return;
    auto rest = r.Bytes(r.Remaining());
    if (!compressed) {
        f.Data.assign(rest.begin(), rest.end());
        f.Readable = true;
    } else if (auto inflated = Inflate(rest, inflatedSize, inflateBudget)) {
        f.Data = std::move(*inflated);
        f.Readable = true;
    }
}

// A 2.2 frame that 2.3 has no name for is kept under a frame that can hold it: a text as a
// user-defined text, a link as a user-defined link, anything else as private data; each is
// described by its old identifier.
void KeepFrame22(TID3v2Frame& f) {
    const std::string& d = f.Data;
    f.Convertible = true;
    if (f.ID[0] == 'T' && !d.empty() && (d[0] == 0 || d[0] == 1)) {
        f.ID23 = "TXXX";
        std::string description = d[0] == 0 ? f.ID + std::string(1, '\0')
                                            : EncodeUtf16(f.ID, TByteOrder::LittleEndian, true) + std::string(2, '\0');
        f.Body23 = d.substr(0, 1) + description + d.substr(1);
    } else if (f.ID[0] == 'W') {
        f.ID23 = "WXXX";
        f.Body23 = std::string(1, '\0') + f.ID + std::string(1, '\0') + d;
    } else {
        f.ID23 = "PRIV";
        f.Body23 = "ID3v2.2 " + f.ID + std::string(1, '\0') + d;
    }
}

void DecodeFrame22(TID3v2Frame& f, std::span<const uint8_t> raw) {
    f.Readable = true;
    f.Data.assign(raw.begin(), raw.end());
    auto it = FramesOf22().find(f.ID);
    if (it == FramesOf22().end() || (f.ID == "PIC" && f.Data.size() < 5)) {
        KeepFrame22(f);
        return;
    }
    f.ID23 = it->second;
    f.Convertible = true;
    if (f.ID == "PIC") {
        // Version 2.2 names the picture format in three letters where 2.3 has a MIME type.
        std::string format = Lower(f.Data.substr(1, 3));
        std::string mime = format == "jpg" ? "image/jpeg" : "image/" + format;
        f.Body23 = f.Data.substr(0, 1) + mime + std::string(1, '\0') + f.Data.substr(4);
    } else {
        f.Body23 = f.Data;
    }
}

// The text of a plain text slot: encoding byte, then the text.
std::string SlotText(const std::string& data) {
    if (data.empty()) return {};
    return TrimControl(DecodeText(uint8_t(data[0]), std::string_view(data).substr(1)));
}

struct TDescribed {
    std::string Description, Text;
};

// A frame made of encoding, optional language, a described text and the text (COMM, WXXX).
TDescribed DescribedText(const std::string& data, bool hasLanguage, bool latin1Text) {
    TDescribed out;
    if (data.empty()) return out;
    uint8_t enc = uint8_t(data[0]);
    size_t start = 1 + (hasLanguage ? 3 : 0);
    if (start > data.size()) return out;
    std::string_view all(data);
    size_t end = FindTerminator(data, start, enc);
    TByteOrder order = TByteOrder::LittleEndian;
    std::string_view text;
    if (end == std::string::npos) {
        text = all.substr(start);
    } else {
        std::string_view desc = all.substr(start, end - start);
        order = BomOrder(desc, order);
        out.Description = TrimControl(DecodeText(enc, desc));
        text = all.substr(end + TerminatorLength(enc));
    }
    out.Text = TrimControl(latin1Text ? DecodeLatin1(text.substr(0, text.find('\0'))) : DecodeText(enc, text, order));
    return out;
}

bool DescribedSlot(int slot) { return slot == sComment || slot == sLink; }

bool HasEmptyDescription(int slot, const std::string& data) {
    return DescribedText(data, slot == sComment, slot == sLink).Description.empty();
}

// Offers each readable frame to the slots; a later frame replaces an earlier one, except that a
// comment or link without a description is preferred to one with a description.
void FillSlots(const TID3v2Parsed& tag, TagInfo& info) {
    int column = tag.Version > 2 ? 0 : 1;
    std::array<bool, ID3v2SlotCount> plain{};
    for (const auto& f : tag.Frames) {
        if (!f.Readable || f.Data.empty() || uint8_t(f.Data[0]) > 3) continue;
        for (int s = 0; s < ID3v2SlotCount; ++s) {
            if (f.ID != slotIDs[s][column]) continue;
            if (DescribedSlot(s)) {
                bool empty = HasEmptyDescription(s, f.Data);
                if (plain[s] && !empty) continue;
                plain[s] = plain[s] || empty;
            }
            info.Frame[s] = f.Data;
        }
    }
}

std::string FirstChars(const std::string& s, int count) {
    size_t pos = 0;
    for (int i = 0; i < count && pos < s.size(); ++i) NextCodePoint(s, pos);
    return s.substr(0, pos);
}

uint16_t TrackNumber(const std::string& text) {
    auto n = ParseDecimal(std::string_view(text).substr(0, text.find('/')), 0xFFFF);
    return n ? static_cast<uint16_t>(*n) : 0;
}

// The genre text without its parenthesised references; a bare reference such as (17) becomes the
// genre's name so that it is neither shown empty nor dropped when the tag is saved again.
std::string GenreText(const std::string& text) {
    size_t close = text.rfind(')');
    if (close == std::string::npos) return text;
    std::string rest = TrimControl(text.substr(close + 1));
    if (!rest.empty() || text.empty() || text[0] != '(') return rest;
    size_t end = text.find(')');
    std::string ref = text.substr(1, end - 1);
    if (ref == "RX") return "Remix";
    if (ref == "CR") return "Cover";
    if (auto n = ParseDecimal(ref, 255)) return ID3v1GenreName(static_cast<int>(*n));
    return rest;
}

std::string PercentEncodeUrl(const std::string& utf8) {
    if (auto latin = EncodeLatin1(utf8)) return *latin;
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : utf8) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// Text frames are written in ISO-8859-1 (encoding 0) when that reads back unchanged, else in
// UTF-16 with a byte-order mark (encoding 1), so no character is ever lost.
bool UseLatin1(const std::string& text, std::string& latin) {
    auto l = EncodeLatin1(text);
    if (!l || DecodeLegacyText(*l) != text) return false;
    latin = *l;
    return true;
}

std::string TextFrameData(const std::string& text) {
    std::string latin;
    if (UseLatin1(text, latin)) return std::string(1, '\0') + latin;
    return "\x01" + EncodeUtf16(text, TByteOrder::LittleEndian, true);
}

std::string CommentFrameData(const std::string& text) {
    std::string latin;
    if (UseLatin1(text, latin)) return std::string("\0eng\0", 5) + latin;
    return std::string("\x01" "eng\xFF\xFE\0\0", 8) + EncodeUtf16(text, TByteOrder::LittleEndian, true);
}

std::string Latin1Frame(std::string_view digits) { return std::string(1, '\0') + std::string(digits); }

void AppendFrame(std::string& out, const std::string& id, const uint8_t flags[2], const std::string& body) {
    out += id;
    uint32_t n = static_cast<uint32_t>(body.size());
    out += static_cast<char>(n >> 24);
    out += static_cast<char>(n >> 16);
    out += static_cast<char>(n >> 8);
    out += static_cast<char>(n);
    out += static_cast<char>(flags[0]);
    out += static_cast<char>(flags[1]);
    out += body;
}

// The slot whose field a frame of the old tag holds, or -1 when no field stands for it.
int OwnerSlot(const TID3v2Frame& f) {
    for (int s = 0; s < ID3v2SlotCount; ++s) {
        if (s == sDate || s == sGroup || s == sOrigAlbum || f.ID23 != slotIDs[s][0]) continue;
        if (DescribedSlot(s) && !HasEmptyDescription(s, f.Body23)) return -1;
        return s;
    }
    return -1;
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// TYER, TDAT and TIME frames for a date in the 2.4 form yyyy-MM-ddTHH:mm:ss; held receives the part
// of the date they hold (2.3 has no month without a day, no hour without minutes, no seconds).
std::string DateFrames23(const std::string& date, std::string& held) {
    std::string out;
    held.clear();
    const uint8_t noFlags[2] = {0, 0};
    std::string_view d(date);
    if (d.size() < 4 || !AllDigits(d.substr(0, 4))) return out;
    AppendFrame(out, "TYER", noFlags, Latin1Frame(d.substr(0, 4)));
    held = d.substr(0, 4);
    if (d.size() >= 10 && d[4] == '-' && d[7] == '-' && AllDigits(d.substr(5, 2)) && AllDigits(d.substr(8, 2))) {
        AppendFrame(out, "TDAT", noFlags, Latin1Frame(std::string(d.substr(8, 2)) + std::string(d.substr(5, 2))));
        held = d.substr(0, 10);
        if (d.size() >= 16 && d[10] == 'T' && d[13] == ':' && AllDigits(d.substr(11, 2)) &&
            AllDigits(d.substr(14, 2))) {
            AppendFrame(out, "TIME", noFlags, Latin1Frame(std::string(d.substr(11, 2)) + std::string(d.substr(14, 2))));
            held = d.substr(0, 16);
        }
    }
    return out;
}

// Reads the tag at the start of a file whole (bounded by the file). available < 10 means the
// header could not be read.
std::vector<uint8_t> ReadTagBytes(TStream& file, int64_t& fileLength) {
    fileLength = file.Size();
    std::vector<uint8_t> bytes = ReadStreamAt(file, 0, headerSize);
    if (bytes.size() < headerSize) return bytes;
    int64_t size = ID3v2TagSize(bytes.data());
    if (size > headerSize && size <= fileLength) bytes = ReadStreamAt(file, 0, size);
    return bytes;
}

std::vector<uint8_t> ReadTagBytes(const std::string& fileName, int64_t& fileLength) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    return ReadTagBytes(file, fileLength);
}

} // namespace

int64_t ID3v2TagSize(const uint8_t* h) {
    if (std::memcmp(h, "ID3", 3) != 0) return 0;
    int64_t size = int64_t(h[6]) * (1 << 21) + int64_t(h[7]) * (1 << 14) + int64_t(h[8]) * (1 << 7) + h[9] + 10;
    if (h[5] & 0x10) size += 10;
    return size;
}

TID3v2Parsed ParseID3v2(const uint8_t* data, int64_t available, int64_t lengthForSizeTest) {
    TID3v2Parsed tag;
    if (!data || available < headerSize || std::memcmp(data, "ID3", 3) != 0) return tag;
    tag.Found = true;
    tag.Version = data[3];
    tag.Revision = data[4];
    tag.Flags = data[5];
    tag.Size = ID3v2TagSize(data);
    if (tag.Size > lengthForSizeTest) tag.Size = 0;
    if (tag.Version < 2 || tag.Version > 4 || tag.Size == 0) return tag;
    // Version 2.2 used this flag for a compression that was never defined; such a tag cannot be read.
    if (tag.Version == 2 && (tag.Flags & 0x40)) return tag;
    tag.Understood = true;

    int64_t end = std::min(tag.Size, available);
    if (tag.Version == 4 && (tag.Flags & 0x10)) end = std::min(end, tag.Size - 10);
    if (end <= headerSize) return tag;
    std::span<const uint8_t> rawBody(data + headerSize, static_cast<size_t>(end - headerSize));
    std::string unsynced;
    bool tagUnsync = tag.Flags & 0x80;
    if (tagUnsync && tag.Version < 4) {
        unsynced = Deunsynchronise(rawBody);
        rawBody = std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(unsynced.data()), unsynced.size());
    }
    TByteReader body(rawBody);
    if (tag.Flags & 0x40) {
        // Extended header: in 2.3 its size leaves out the size field itself, in 2.4 it includes it.
        if (tag.Version == 3) {
            uint32_t n = body.BE32();
            body.Skip(n);
        } else {
            uint32_t n = body.Synchsafe32();
            body.Skip(n >= 4 ? n - 4 : body.Remaining() + 1);
        }
        if (body.Failed()) return tag;
    }

    uint64_t inflateBudget = ID3v2MaxInflated;
    const int idLength = tag.Version == 2 ? 3 : 4;
    const uint64_t frameHeader = tag.Version == 2 ? 6 : 10;
    while (body.Remaining() >= frameHeader) {
        if (!(body.Data()[body.Position()] >= 'A' && body.Data()[body.Position()] <= 'Z')) break;
        TID3v2Frame f;
        f.ID = body.String(static_cast<uint64_t>(idLength));
        if (!std::all_of(f.ID.begin(), f.ID.end(), [](char c) { return IsFrameIDChar(uint8_t(c)); })) break;
        uint64_t size;
        uint8_t flags[2] = {};
        if (tag.Version == 2) {
            size = body.BE24();
        } else if (tag.Version == 3) {
            size = body.BE32();
        } else {
            // Some writers put plain sizes into 2.4 tags; take the reading that lands on a frame.
            const uint8_t* p = body.Data() + body.Position();
            uint64_t plain = TByteReader::BE32At(p);
            size = body.Synchsafe32();
            bool synchsafeBytes = !((p[0] | p[1] | p[2] | p[3]) & 0x80);
            uint64_t next = body.Position() + 2;
            if (!synchsafeBytes ||
                (!LooksLikeFrameStart(body, next + size, idLength) && LooksLikeFrameStart(body, next + plain, idLength)))
                size = plain;
        }
        if (tag.Version > 2) {
            flags[0] = body.U8();
            flags[1] = body.U8();
        }
        // A frame that runs past the tag ends the walk.
        if (size > body.Remaining()) break;
        auto raw = body.Bytes(size);
        if (tag.Version == 2)
            DecodeFrame22(f, raw);
        else if (tag.Version == 3)
            DecodeFrame23(f, raw, flags, inflateBudget);
        else
            DecodeFrame24(f, raw, flags, tagUnsync, inflateBudget);
        tag.Frames.push_back(std::move(f));
    }
    return tag;
}

void TID3v2::ResetData() {
    exists_ = false;
    versionID_ = 0;
    size_ = 0;
    title_.clear();
    artist_.clear();
    album_.clear();
    track_ = 0;
    for (auto* s : {&trackText_, &year_, &genre_, &comment_, &composer_, &encoder_, &copyright_, &language_,
                    &link_, &origArtist_})
        s->clear();
}

void TID3v2::SetTitle(const std::string& v) { title_ = TrimControl(v); }
void TID3v2::SetArtist(const std::string& v) { artist_ = TrimControl(v); }
void TID3v2::SetAlbum(const std::string& v) { album_ = TrimControl(v); }
void TID3v2::SetYear(const std::string& v) { year_ = TrimControl(v); }
void TID3v2::SetGenre(const std::string& v) { genre_ = TrimControl(v); }
void TID3v2::SetComment(const std::string& v) { comment_ = TrimControl(v); }
void TID3v2::SetComposer(const std::string& v) { composer_ = TrimControl(v); }
void TID3v2::SetEncoder(const std::string& v) { encoder_ = TrimControl(v); }
void TID3v2::SetCopyright(const std::string& v) { copyright_ = TrimControl(v); }
void TID3v2::SetLink(const std::string& v) { link_ = TrimControl(v); }
void TID3v2::SetOrigArtist(const std::string& v) { origArtist_ = TrimControl(v); }
void TID3v2::SetTrackText(const std::string& v) {
    trackText_ = TrimControl(v);
    track_ = TrackNumber(trackText_);
}

void TID3v2::Derive(const TagInfo& tag) {
    auto text = [&](int slot) { return SlotText(tag.Frame[slot]); };
    title_ = text(sTitle);
    if (title_.empty()) title_ = text(sGroup);
    artist_ = text(sArtist);
    album_ = text(sAlbum);
    if (album_.empty()) album_ = text(sOrigAlbum);
    trackText_ = text(sTrack);
    track_ = TrackNumber(trackText_);
    year_ = text(sYear);
    if (year_.empty()) year_ = FirstChars(text(sDate), 4);
    genre_ = GenreText(text(sGenre));
    comment_ = DescribedText(tag.Frame[sComment], true, false).Text;
    composer_ = text(sComposer);
    encoder_ = text(sEncoder);
    copyright_ = text(sCopyright);
    language_ = text(sLanguage);
    link_ = DescribedText(tag.Frame[sLink], false, true).Text;
    origArtist_ = text(sOrigArtist);
}

bool TID3v2::ReadFromFile(const std::string& fileName) {
    ResetData();
    try {
        TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
        return ReadFromStream(file);
    } catch (const Exception&) {
        return false;
    }
}

bool TID3v2::ReadFromStream(TStream& stream) {
    ResetData();
    int64_t fileLength = 0;
    std::vector<uint8_t> bytes = ReadTagBytes(stream, fileLength);
    if (bytes.size() < headerSize) return false;
    TID3v2Parsed tag = ParseID3v2(bytes.data(), static_cast<int64_t>(bytes.size()), fileLength);
    if (!tag.Found) return true;
    exists_ = true;
    versionID_ = tag.Version;
    size_ = tag.Size;
    if (!tag.Understood) return true;
    TagInfo info;
    info.FileSize = fileLength;
    FillSlots(tag, info);
    Derive(info);
    return true;
}

bool TID3v2::ReadFromBuffer(const uint8_t* data, int64_t size, int64_t fileLength, TMP3TagInfo& info) {
    if (fileLength <= 0) fileLength = size;
    TID3v2Parsed tag = ParseID3v2(data, size, fileLength);
    if (!tag.Found) return false;
    versionID_ = tag.Version;
    size_ = tag.Size;
    TagInfo slots;
    FillSlots(tag, slots);
    auto text = [&](int slot) { return SlotText(slots.Frame[slot]); };
    info.Title = text(sTitle);
    if (info.Title.empty()) info.Title = text(sGroup);
    info.Artist = text(sArtist);
    if (info.Artist.empty()) info.Artist = text(sOrigArtist);
    info.Album = text(sAlbum);
    if (info.Album.empty()) info.Album = text(sOrigAlbum);
    info.Track = TrackNumber(text(sTrack));
    info.Year = text(sYear);
    if (info.Year.empty()) info.Year = FirstChars(text(sDate), 4);
    info.Genre = GenreText(text(sGenre));
    info.Comment = DescribedText(slots.Frame[sComment], true, false).Text;
    return true;
}

bool TID3v2::SaveToFile(const std::string& fileName) {
    std::vector<uint8_t> bytes;
    int64_t fileLength = 0;
    try {
        bytes = ReadTagBytes(fileName, fileLength);
    } catch (const Exception&) {
        return false;
    }
    TID3v2Parsed old = ParseID3v2(bytes.data(), static_cast<int64_t>(bytes.size()), fileLength);
    // A tag we cannot read is not replaced: its frames would be lost.
    if (old.Found && old.Size > 0 && !old.Understood) return false;

    TagInfo tag;
    if (bytes.size() >= headerSize) {
        std::memcpy(tag.ID, bytes.data(), 3);
        tag.Version = bytes[3];
        tag.Revision = bytes[4];
        tag.Flags = bytes[5];
        std::memcpy(tag.Size, bytes.data() + 6, 4);
    }
    tag.FileSize = fileLength;

    // A field left as the file has it keeps its frames byte for byte (text that merely reads as
    // CP932 is not re-encoded); only edited fields are written anew.
    TID3v2 was;
    if (old.Understood) {
        TagInfo info;
        FillSlots(old, info);
        was.Derive(info);
    }
    std::array<bool, ID3v2SlotCount> edited{};
    edited[sTitle] = title_ != was.title_;
    edited[sArtist] = artist_ != was.artist_;
    edited[sAlbum] = album_ != was.album_;
    edited[sTrack] = track_ != was.track_ || trackText_ != was.trackText_;
    edited[sYear] = year_ != was.year_;
    edited[sGenre] = genre_ != was.genre_;
    edited[sComment] = comment_ != was.comment_;
    edited[sComposer] = composer_ != was.composer_;
    edited[sEncoder] = encoder_ != was.encoder_;
    edited[sCopyright] = copyright_ != was.copyright_;
    edited[sLanguage] = language_ != was.language_;
    edited[sLink] = link_ != was.link_;
    edited[sOrigArtist] = origArtist_ != was.origArtist_;

    tag.Frame[sTitle] = title_;
    tag.Frame[sArtist] = artist_;
    tag.Frame[sAlbum] = album_;
    // The track text is saved when it still holds the number; a number set on its own keeps the
    // total stored with the old one (7/12 becomes 8/12).
    if (track_ > 0) {
        size_t slash = was.trackText_.find('/');
        tag.Frame[sTrack] = TrackNumber(trackText_) == track_
                                ? trackText_
                                : std::to_string(track_) + (slash == std::string::npos ? "" : was.trackText_.substr(slash));
    }
    tag.Frame[sYear] = year_;
    tag.Frame[sGenre] = genre_;
    tag.Frame[sComposer] = composer_;
    tag.Frame[sEncoder] = encoder_;
    tag.Frame[sCopyright] = copyright_;
    tag.Frame[sLanguage] = language_;
    tag.Frame[sOrigArtist] = origArtist_;

    std::string frames;
    const uint8_t noFlags[2] = {0, 0};
    for (int s = 0; s < ID3v2SlotCount; ++s) {
        if (!edited[s]) continue;
        std::string data;
        if (s == sComment) {
            if (!comment_.empty()) data = CommentFrameData(comment_);
        } else if (s == sLink) {
            if (!link_.empty()) data = std::string(2, '\0') + PercentEncodeUrl(link_);
        } else if (!tag.Frame[s].empty()) {
            data = TextFrameData(tag.Frame[s]);
        }
        if (!data.empty()) AppendFrame(frames, slotIDs[s][0], noFlags, data);
    }
    auto has = [&](std::initializer_list<const char*> ids) {
        return std::any_of(old.Frames.begin(), old.Frames.end(), [&](const TID3v2Frame& f) {
            return std::any_of(ids.begin(), ids.end(), [&](const char* id) { return f.ID23 == id; });
        });
    };
    // Frames only version 2.4 has go into their 2.3 forms when the tag has none of those yet. When
    // the 2.3 form cannot hold all of a date (seconds, say) the 2.4 frame is kept beside it, so
    // that readers which know it still find the whole date.
    bool hasYearFrames = has({"TYER", "TDAT", "TIME"}), hasOrigYear = has({"TORY"}), hasPeople = has({"IPLS"});
    for (const auto& f : old.Frames) {
        if (!f.Convertible) continue;
        int owner = OwnerSlot(f);
        if (owner >= 0 && edited[owner]) continue;
        if (f.ID23 == "TDRC" || f.ID23 == "TDAT" || f.ID23 == "TIME") {
            if (edited[sYear]) continue;
            if (f.ID23 == "TDRC" && !hasYearFrames && f.Readable) {
                std::string date = SlotText(f.Data);
                std::string held;
                frames += DateFrames23(date, held);
                if (held == date) continue;
            }
        } else if (f.ID23 == "TDOR" && !hasOrigYear && f.Readable) {
            // TORY holds the year only.
            std::string date = SlotText(f.Data);
            if (date.size() >= 4 && AllDigits(std::string_view(date).substr(0, 4))) {
                AppendFrame(frames, "TORY", noFlags, Latin1Frame(std::string_view(date).substr(0, 4)));
                if (date.size() == 4) continue;
            }
        } else if (f.ID23 == "TIPL" && !hasPeople) {
            AppendFrame(frames, "IPLS", f.Flags23, f.Body23);
            continue;
        }
        AppendFrame(frames, f.ID23, f.Flags23, f.Body23);
    }

    int64_t needed = headerSize + static_cast<int64_t>(frames.size());
    int64_t oldSize = old.Found ? old.Size : 0;
    tag.NeedRewrite = !old.Found || oldSize < needed || oldSize > defaultTagSize;
    tag.PaddingSize = (tag.NeedRewrite ? defaultTagSize : oldSize) - needed;
    int64_t total = needed + std::max<int64_t>(0, tag.PaddingSize);
    if (total - headerSize >= (int64_t(1) << 28)) return false;
    uint32_t body = static_cast<uint32_t>(total - headerSize);
    std::string out = "ID3";
    out += '\x03';
    out += '\0';
    out += '\0';
    out += static_cast<char>((body >> 21) & 0x7F);
    out += static_cast<char>((body >> 14) & 0x7F);
    out += static_cast<char>((body >> 7) & 0x7F);
    out += static_cast<char>(body & 0x7F);
    out += frames;
    out.append(static_cast<size_t>(std::max<int64_t>(0, tag.PaddingSize)), '\0');

    if (!tag.NeedRewrite) return WriteFileRegion(fileName, 0, out.data(), static_cast<int64_t>(out.size()));
    return RewriteFile(fileName, [&](int64_t, TRewriteOutput& o) { return o.Write(out) && o.CopySource(oldSize, -1); });
}

bool TID3v2::RemoveFromFile(const std::string& fileName) {
    std::vector<uint8_t> bytes;
    int64_t fileLength = 0;
    try {
        bytes = ReadTagBytes(fileName, fileLength);
    } catch (const Exception&) {
        return false;
    }
    if (bytes.size() < headerSize) return false;
    int64_t size = ID3v2TagSize(bytes.data());
    if (size <= 0 || size > fileLength) return false;
    return RewriteFile(fileName, [&](int64_t, TRewriteOutput& o) { return o.CopySource(size, -1); });
}

} // namespace lumora
