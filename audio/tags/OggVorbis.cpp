#include "audio/tags/OggVorbis.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "audio/tags/ByteReader.h"
#include "audio/tags/ID3v2.h"
#include "platform/system/SafeRewrite.h"
#include "audio/tags/TagText.h"

namespace lumora {

namespace {

constexpr int pageHeaderSize = 27;
constexpr int knownCount = 9;
const char* const knownNames[knownCount + 1] = {"",     "TITLE", "ARTIST",  "ALBUM",     "TRACKNUMBER",
                                                "DATE", "GENRE", "COMMENT", "PERFORMER", "DESCRIPTION"};
enum { kTitle = 1, kArtist, kAlbum, kTrack, kDate, kGenre, kComment, kPerformer, kDescription };

// Packets larger than this are not assembled (a comment packet holding a large picture still fits).
constexpr int64_t maxPacketSize = int64_t(256) << 20;
// How far from the end the last page is looked for.
constexpr int64_t maxTailScan = int64_t(1) << 20;

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i << 24;
            for (int b = 0; b < 8; ++b) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
            t[i] = r;
        }
        return t;
    }();
    return table;
}

struct TOggPage {
    int64_t Position = 0;
    uint8_t Header[pageHeaderSize] = {};
    uint8_t Version = 0, Type = 0;
    uint64_t Granule = 0;
    uint32_t Serial = 0;
    uint8_t SegmentCount = 0;
    uint8_t Lacing[255] = {};
    int64_t BodyPosition = 0;
    int64_t BodySize = 0;
};

bool ReadPage(TStream& file, int64_t position, int64_t fileSize, TOggPage& page) {
    if (position < 0 || position + pageHeaderSize > fileSize) return false;
    std::vector<uint8_t> h = ReadStreamAt(file, position, pageHeaderSize);
    if (h.size() < pageHeaderSize || std::memcmp(h.data(), "OggS", 4) != 0) return false;
    page.Position = position;
    std::memcpy(page.Header, h.data(), pageHeaderSize);
    TByteReader r(h);
    r.Skip(4);
    page.Version = r.U8();
    page.Type = r.U8();
    page.Granule = r.LE64();
    page.Serial = r.LE32();
    r.Skip(8);
    page.SegmentCount = r.U8();
    std::vector<uint8_t> lacing = ReadStreamAt(file, position + pageHeaderSize, page.SegmentCount);
    if (lacing.size() < page.SegmentCount) return false;
    if (!lacing.empty()) std::memcpy(page.Lacing, lacing.data(), lacing.size());
    page.BodyPosition = position + pageHeaderSize + page.SegmentCount;
    page.BodySize = 0;
    for (int i = 0; i < page.SegmentCount; ++i) page.BodySize += page.Lacing[i];
    return page.BodyPosition + page.BodySize <= fileSize;
}

// Reads the packets of the first logical stream one after another, across pages.
class TPacketReader {
public:
    TPacketReader(TStream& file, int64_t fileSize, const TOggPage& first)
        : file_(file), fileSize_(fileSize), page_(first), serial_(first.Serial) {}

    struct TPacket {
        std::vector<uint8_t> Data;
        int64_t StartPage = 0; // position of the page where the packet begins
        int StartSegment = 0;
        int64_t EndPage = 0;   // position of the page where it ends
        int EndSegment = 0;    // index of its last lacing value there
        bool EndsPage = false; // its last segment is the page's last
    };

    bool Next(TPacket& packet) {
        packet = TPacket();
        bool started = false;
        while (true) {
            if (segment_ >= page_.SegmentCount) {
                if (!NextPage()) return false;
                continue;
            }
            if (!started) {
                packet.StartPage = page_.Position;
                packet.StartSegment = segment_;
                started = true;
            }
            int length = page_.Lacing[segment_];
            if (static_cast<int64_t>(packet.Data.size()) + length > maxPacketSize) return false;
            std::vector<uint8_t> bytes = ReadStreamAt(file_, page_.BodyPosition + offset_, length);
            if (static_cast<int>(bytes.size()) < length) return false;
            packet.Data.insert(packet.Data.end(), bytes.begin(), bytes.end());
            offset_ += length;
            ++segment_;
            if (length < 255) {
                packet.EndPage = page_.Position;
                packet.EndSegment = segment_ - 1;
                packet.EndsPage = segment_ == page_.SegmentCount;
                return true;
            }
        }
    }

private:
    bool NextPage() {
        int64_t next = page_.BodyPosition + page_.BodySize;
        // Pages of other logical streams in between are passed over.
        for (int guard = 0; guard < 1 << 16; ++guard) {
            TOggPage page;
            if (!ReadPage(file_, next, fileSize_, page)) return false;
            if (page.Serial == serial_) {
                page_ = page;
                segment_ = 0;
                offset_ = 0;
                return true;
            }
            next = page.BodyPosition + page.BodySize;
        }
        return false;
    }

    TStream& file_;
    int64_t fileSize_;
    TOggPage page_;
    uint32_t serial_;
    int segment_ = 0;
    int64_t offset_ = 0;
};

// Everything one reading of a file yields; saving works on a fresh one.
struct FileInfo {
    int64_t FileSize = 0, ID3v2Size = 0;
    TOggPage FPage;
    uint8_t Channels = 0;
    uint32_t SampleRate = 0;
    int32_t NominalBitRate = 0;
    bool HasComments = false;
    bool CommentsComplete = false;
    TPacketReader::TPacket CommentPacket;
    uint64_t TagEnd = 0;          // end of the comment fields within the comment packet
    std::string VendorRaw;        // the vendor string's bytes as stored
    std::string Known[knownCount + 1];
    std::string KnownName[knownCount + 1];
    size_t KnownRaw[knownCount + 1] = {};
    std::string Extra;
    // Every comment in file order as the fields hold it (NAME=value, the name upper-cased while it
    // stands for a known field) with its bytes as stored, so that a comment left as it was is
    // written back unchanged and in its place.
    std::vector<std::pair<std::string, std::string>> Raw;
    int64_t Samples = 0;
    bool PacketOneEndsFirstPage = false;
};

// Extra separates its items with zero bytes, so a zero byte inside a comment is shown as the
// symbol for null (U+2400); the comment's own bytes stay in Raw for the save.
std::string ExtraItem(const std::string& name, const std::string& value) {
    std::string item;
    for (char c : name + "=" + value) {
        if (c == '\0') item += "\xE2\x90\x80";
        else item += c;
    }
    return item;
}

void AppendExtra(std::string& extra, const std::string& item) {
    if (!extra.empty()) extra += '\0';
    extra += item;
}

void StoreItem(FileInfo& info, const std::string& raw) {
    std::string item = TrimControl(raw);
    size_t eq = item.find('=');
    if (eq == std::string::npos) return; // only the vendor string has no name
    std::string name = item.substr(0, eq);
    std::string value = SanitizeUtf8(TrimControl(item.substr(eq + 1)));
    std::string upper = UpperCase(name);
    for (int k = 1; k <= knownCount; ++k) {
        if (upper != knownNames[k]) continue;
        // A repeated name keeps every value: the earlier one moves among the other comments.
        if (!info.KnownName[k].empty()) {
            std::string earlier = ExtraItem(info.KnownName[k], info.Known[k]);
            AppendExtra(info.Extra, earlier);
            info.Raw[info.KnownRaw[k]].first = earlier;
        }
        info.Known[k] = value;
        info.KnownName[k] = name;
        info.KnownRaw[k] = info.Raw.size();
        info.Raw.emplace_back(std::string(knownNames[k]) + "=" + value, raw);
        return;
    }
    std::string extra = ExtraItem(SanitizeUtf8(name), value);
    AppendExtra(info.Extra, extra);
    info.Raw.emplace_back(extra, raw);
}

void ParseComments(FileInfo& info) {
    TByteReader r(info.CommentPacket.Data);
    r.Skip(7);
    uint32_t vendorLength = r.LE32();
    info.VendorRaw = r.String(vendorLength);
    uint32_t count = r.LE32();
    if (r.Failed()) return;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length = r.LE32();
        std::string item = r.String(length);
        if (r.Failed()) return; // a count or length larger than the packet ends the list
        StoreItem(info, item);
    }
    info.TagEnd = r.Position();
    info.CommentsComplete = true;
}

// The last granule position of the stream: the last page of its serial that ends a packet.
int64_t LastGranule(TStream& file, const FileInfo& info) {
    int64_t floor = std::max(info.FPage.Position, info.FileSize - maxTailScan);
    int64_t end = info.FileSize;
    const int64_t chunk = 65536;
    while (end > floor) {
        int64_t start = std::max(floor, end - chunk);
        std::vector<uint8_t> window = ReadStreamAt(file, start, end - start + 3);
        for (int64_t i = static_cast<int64_t>(window.size()) - 4; i >= 0; --i) {
            if (start + i >= end) continue;
            if (std::memcmp(window.data() + i, "OggS", 4) != 0) continue;
            TOggPage page;
            if (!ReadPage(file, start + i, info.FileSize, page)) continue;
            if (page.Version != 0 || page.Serial != info.FPage.Serial || page.Granule == ~uint64_t(0)) continue;
            if (page.Granule > uint64_t(INT64_MAX)) continue;
            return static_cast<int64_t>(page.Granule);
        }
        end = start;
    }
    return 0;
}

bool ReadFileInfo(TStream& file, FileInfo& info) {
    info.FileSize = file.Size();
    std::vector<uint8_t> head = ReadStreamAt(file, 0, 10);
    if (head.size() == 10) {
        info.ID3v2Size = ID3v2TagSize(head.data());
        if (info.ID3v2Size > info.FileSize) info.ID3v2Size = 0;
    }
    if (!ReadPage(file, info.ID3v2Size, info.FileSize, info.FPage)) return false;
    TPacketReader packets(file, info.FileSize, info.FPage);
    TPacketReader::TPacket id;
    if (!packets.Next(id) || id.Data.size() < 30 || std::memcmp(id.Data.data(), "\x01vorbis", 7) != 0) return false;
    info.PacketOneEndsFirstPage = id.EndPage == info.FPage.Position && id.EndsPage;
    TByteReader r(id.Data);
    r.Skip(11);
    info.Channels = r.U8();
    info.SampleRate = r.LE32();
    r.LE32();
    info.NominalBitRate = static_cast<int32_t>(r.LE32());
    if (packets.Next(info.CommentPacket) && info.CommentPacket.Data.size() >= 7 &&
        std::memcmp(info.CommentPacket.Data.data(), "\x03vorbis", 7) == 0) {
        info.HasComments = true;
        ParseComments(info);
    }
    info.Samples = LastGranule(file, info);
    return true;
}

std::string LE32Bytes(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

void SetPageChecksum(std::string& page) {
    for (int i = 22; i < 26; ++i) page[i] = 0;
    uint32_t crc = OggChecksum(reinterpret_cast<const uint8_t*>(page.data()), page.size());
    for (int i = 0; i < 4; ++i) page[22 + i] = static_cast<char>(crc >> (8 * i));
}

uint16_t TrackOf(const std::string& text) {
    auto n = ParseDecimal(std::string_view(text).substr(0, text.find('/')), 0xFFFF);
    return n ? static_cast<uint16_t>(*n) : 0;
}


// Lays the header packets out on pages as an encoder would: every page holds up to 255 lacing
// values, a packet that does not fit goes on in the next page, and the pages are numbered from
// firstSequence. A page on which no packet ends has granule position -1, the others 0.
std::vector<std::string> HeaderPages(const std::vector<std::string>& packets, uint32_t serial, uint32_t firstSequence) {
    struct TSegment {
        uint8_t Length;
        bool EndsPacket;
    };
    std::vector<TSegment> segments;
    for (const auto& packet : packets) {
        size_t full = packet.size() / 255;
        for (size_t i = 0; i < full; ++i) segments.push_back({255, false});
        segments.push_back({static_cast<uint8_t>(packet.size() % 255), true});
    }
    std::string body;
    for (const auto& packet : packets) body += packet;
    std::vector<std::string> pages;
    size_t next = 0, offset = 0;
    bool continued = false;
    while (next < segments.size()) {
        size_t count = std::min<size_t>(255, segments.size() - next);
        std::string lacing, bytes;
        bool endsPacket = false;
        for (size_t i = next; i < next + count; ++i) {
            lacing += static_cast<char>(segments[i].Length);
            endsPacket = endsPacket || segments[i].EndsPacket;
        }
        size_t size = 0;
        for (char c : lacing) size += uint8_t(c);
        std::string page = "OggS";
        page += '\0';
        page += static_cast<char>(continued ? 1 : 0);
        page.append(8, endsPacket ? '\0' : '\xFF');
        page += LE32Bytes(serial);
        page += LE32Bytes(firstSequence + static_cast<uint32_t>(pages.size()));
        page += LE32Bytes(0);
        page += static_cast<char>(count);
        page += lacing;
        page += body.substr(offset, size);
        SetPageChecksum(page);
        pages.push_back(std::move(page));
        offset += size;
        continued = !segments[next + count - 1].EndsPacket;
        next += count;
    }
    return pages;
}

uint32_t LE32At(const char* p) {
    return uint32_t(uint8_t(p[0])) | uint32_t(uint8_t(p[1])) << 8 | uint32_t(uint8_t(p[2])) << 16 |
           uint32_t(uint8_t(p[3])) << 24;
}

// Writes the comment packet when it does not fit the second page alone: the comment and setup
// packets are laid out on as many pages as they need, and the later pages of the stream are
// renumbered (their contents and every other byte stay as they are).
bool RewriteHeaderPages(const std::string& target, const FileInfo& info, const TOggPage& second,
                        const std::string& comment) {
    const uint32_t serial = info.FPage.Serial;
    std::string setup;
    int64_t audioStart = 0, oldPages = 0;
    try {
        TFileStream file(target, fmOpenRead | fmShareDenyWrite);
        TPacketReader packets(file, info.FileSize, info.FPage);
        TPacketReader::TPacket packet;
        if (!packets.Next(packet) || !packets.Next(packet) || !packets.Next(packet)) return false;
        if (packet.Data.size() < 7 || std::memcmp(packet.Data.data(), "\x05vorbis", 7) != 0 || !packet.EndsPage)
            return false;
        setup.assign(packet.Data.begin(), packet.Data.end());
        // The old header pages must follow one another, with no page of another stream between.
        TOggPage page = second;
        while (true) {
            if (page.Serial != serial) return false;
            ++oldPages;
            if (page.Position == packet.EndPage) break;
            if (!ReadPage(file, page.BodyPosition + page.BodySize, info.FileSize, page)) return false;
        }
        audioStart = page.BodyPosition + page.BodySize;
    } catch (const Exception&) {
        return false;
    }
    std::vector<std::string> pages =
        HeaderPages({comment, setup}, serial, LE32At(reinterpret_cast<const char*>(second.Header) + 18));
    const uint32_t shift = static_cast<uint32_t>(static_cast<int64_t>(pages.size()) - oldPages);

    return RewriteFile(target, [&](int64_t, TRewriteOutput& out) {
        if (!out.CopySource(0, second.Position)) return false;
        for (const auto& page : pages)
            if (!out.Write(page)) return false;
        if (shift == 0) return out.CopySource(audioStart, -1);
        try {
            TFileStream file(target, fmOpenRead | fmShareDenyWrite);
            int64_t pos = audioStart;
            TOggPage page;
            while (ReadPage(file, pos, info.FileSize, page)) {
                int64_t end = page.BodyPosition + page.BodySize;
                if (page.Serial != serial) {
                    if (!out.CopySource(pos, end - pos)) return false;
                    pos = end;
                    continue;
                }
                std::vector<uint8_t> raw = ReadStreamAt(file, pos, end - pos);
                if (static_cast<int64_t>(raw.size()) != end - pos) return false;
                std::string bytes(raw.begin(), raw.end());
                uint32_t sequence = LE32At(bytes.data() + 18) + shift;
                for (int i = 0; i < 4; ++i) bytes[18 + i] = static_cast<char>(sequence >> (8 * i));
                SetPageChecksum(bytes);
                if (!out.Write(bytes)) return false;
                pos = end;
            }
            // Whatever follows the last page that can be read is kept as it is.
            return pos >= info.FileSize || out.CopySource(pos, -1);
        } catch (const Exception&) {
            return false;
        }
    });
}
} // namespace

uint32_t OggChecksum(const uint8_t* data, size_t size, uint32_t crc) {
    const auto& table = CrcTable();
    for (size_t i = 0; i < size; ++i) crc = table[((crc >> 24) ^ data[i]) & 0xFF] ^ (crc << 8);
    return crc;
}

void TOggVorbis::ResetData() {
    fileSize_ = 0;
    channelModeID_ = 0;
    sampleRate_ = 0;
    bitRateNominal_ = 0;
    samples_ = 0;
    id3v2Size_ = 0;
    version_ = 0;
    serialNo_ = 0;
    track_ = 0;
    trackSet_ = false;
    for (auto* s : {&vendor_, &title_, &artist_, &album_, &date_, &genre_, &comment_, &extra_}) s->clear();
    removed_.clear();
}

bool TOggVorbis::LoadFromFile(const std::string& fileName) {
    ResetData();
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    return LoadFromStream(file);
}

bool TOggVorbis::LoadFromStream(TStream& stream) {
    ResetData();
    FileInfo info;
    fileSize_ = stream.Size();
    if (!ReadFileInfo(stream, info)) return false;
    channelModeID_ = info.Channels;
    sampleRate_ = info.SampleRate;
    bitRateNominal_ = static_cast<uint16_t>(std::clamp<double>(std::nearbyint(info.NominalBitRate / 1000.0), 0, 65535));
    samples_ = info.Samples;
    id3v2Size_ = info.ID3v2Size;
    title_ = info.Known[kTitle];
    artist_ = !info.Known[kArtist].empty() ? info.Known[kArtist] : info.Known[kPerformer];
    album_ = info.Known[kAlbum];
    track_ = TrackOf(info.Known[kTrack]);
    date_ = info.Known[kDate];
    genre_ = info.Known[kGenre];
    comment_ = !info.Known[kComment].empty() ? info.Known[kComment] : info.Known[kDescription];
    vendor_ = SanitizeUtf8(TrimControl(info.VendorRaw));
    version_ = info.FPage.Version;
    serialNo_ = static_cast<int32_t>(info.FPage.Serial);
    extra_ = info.Extra;
    return true;
}

double TOggVorbis::Duration() const {
    if (samples_ >= 1) return sampleRate_ ? double(samples_) / sampleRate_ : 0;
    if (bitRateNominal_ && channelModeID_)
        return double(fileSize_ - id3v2Size_) / bitRateNominal_ / channelModeID_ / 125 * 2;
    return 0;
}

uint16_t TOggVorbis::BitRate() const {
    double d = Duration();
    if (d <= 0) return 0;
    return static_cast<uint16_t>(std::clamp<double>(std::nearbyint(double(fileSize_ - id3v2Size_) / d / 125), 0, 65535));
}

bool TOggVorbis::IsValid() const {
    return channelModeID_ >= 1 && channelModeID_ <= 6 && sampleRate_ > 0 && Duration() > 0.1 && BitRate() != 0;
}

std::string TOggVorbis::ChannelModeText() const {
    static const char* const texts[7] = {"Unknown", "Mono", "Stereo", "3Ch", "4Ch", "5Ch", "5.1Ch"};
    return channelModeID_ <= 6 ? texts[channelModeID_] : "Unknown";
}

void TOggVorbis::RemoveEveryValue(const std::string& name) { removed_.insert(UpperCase(name)); }

bool TOggVorbis::SaveToFile(const std::string& fileName) {
    std::string target = ResolveFileTarget(fileName);
    if (target.empty()) return false;
    FileInfo info;
    TOggPage second;
    bool onePage = false;
    try {
        TFileStream file(target, fmOpenRead | fmShareDenyWrite);
        if (!ReadFileInfo(file, info) || !info.HasComments || !info.CommentsComplete) return false;
        // The comment packet must begin the second page.
        const auto& packet = info.CommentPacket;
        if (!info.PacketOneEndsFirstPage || packet.StartSegment != 0) return false;
        if (!ReadPage(file, packet.StartPage, info.FileSize, second) || (second.Type & 1)) return false;
        onePage = packet.StartPage == packet.EndPage;
    } catch (const Exception&) {
        return false;
    }

    // Known values. PERFORMER and DESCRIPTION shown in place of an empty ARTIST or COMMENT stay
    // where they are while the field is not edited; an edited field replaces them. Beside a field
    // of their own they stay as well, unless that field was cleared: the stand-in would show again.
    std::string values[knownCount + 1];
    values[kTitle] = TrimControl(title_);
    values[kArtist] = TrimControl(artist_);
    values[kAlbum] = TrimControl(album_);
    // The stored track text ("Side A", "7/12", "0") stays unless the track was set to another
    // number; a new number keeps a total behind it.
    const std::string& oldTrack = info.Known[kTrack];
    if (!trackSet_ || (track_ != 0 && TrackOf(oldTrack) == track_)) {
        values[kTrack] = oldTrack;
    } else if (track_ != 0) {
        size_t slash = oldTrack.find('/');
        values[kTrack] = std::to_string(track_) + (slash == std::string::npos ? "" : oldTrack.substr(slash));
    }
    values[kDate] = TrimControl(date_);
    values[kGenre] = TrimControl(genre_);
    values[kComment] = TrimControl(comment_);
    // A field cleared where it showed a value takes every value of its name and of its stand-in
    // with it: an earlier value of a repeated name (kept among the other comments) or a stand-in
    // left behind would show in its place.
    std::set<std::string> cleared;
    for (int k : {kTitle, kArtist, kAlbum, kTrack, kDate, kGenre, kComment}) {
        int standIn = k == kArtist ? kPerformer : k == kComment ? kDescription : 0;
        const std::string& shown = info.Known[k].empty() && standIn ? info.Known[standIn] : info.Known[k];
        if (!values[k].empty() || shown.empty()) continue;
        cleared.insert(knownNames[k]);
        if (standIn) cleared.insert(knownNames[standIn]);
    }
    for (const auto& name : removed_) cleared.insert(name);
    for (auto [field, standIn] : {std::pair{kArtist, kPerformer}, std::pair{kComment, kDescription}}) {
        if (!info.Known[field].empty()) {
            if (!values[field].empty()) values[standIn] = info.Known[standIn];
        } else if (!info.Known[standIn].empty() && values[field] == info.Known[standIn]) {
            values[standIn] = values[field];
            values[field].clear();
        }
    }

    // Every comment keeps its place: one left as it was keeps its bytes, an edited one takes the
    // place of the comment it replaces (a field the place of the value it shows, so that the edited
    // value of a name that repeats is the one that reads back; another comment the place of the
    // first one of its name that is gone). Comments that are new follow, the fields first.
    std::vector<std::optional<std::string>> placed(info.Raw.size());
    std::vector<bool> fieldPlace(info.Raw.size(), false);
    std::vector<std::string> added;
    for (int k = 1; k <= knownCount; ++k) {
        std::string item = values[k].empty() ? std::string() : std::string(knownNames[k]) + "=" + values[k];
        if (info.KnownName[k].empty()) {
            if (!item.empty()) added.push_back(item);
            continue;
        }
        size_t place = info.KnownRaw[k];
        fieldPlace[place] = true;
        if (cleared.count(knownNames[k])) continue;
        if (values[k] == info.Known[k])
            placed[place] = info.Raw[place].second; // an empty value left empty stays as well
        else if (!item.empty())
            placed[place] = item;
    }
    auto nameOf = [](const std::string& item) { return UpperCase(item.substr(0, item.find('='))); };
    std::vector<std::string> others;
    for (size_t start = 0; start <= extra_.size();) {
        size_t end = extra_.find('\0', start);
        if (end == std::string::npos) end = extra_.size();
        std::string item = extra_.substr(start, end - start);
        if (item.find('=') != std::string::npos && !cleared.count(nameOf(item))) others.push_back(item);
        start = end + 1;
    }
    std::map<std::string, std::deque<size_t>> byText, byName;
    for (size_t i = 0; i < info.Raw.size(); ++i)
        if (!fieldPlace[i]) byText[info.Raw[i].first].push_back(i);
    std::vector<std::string> edited;
    for (const auto& item : others) {
        auto same = byText.find(item);
        if (same == byText.end() || same->second.empty()) {
            edited.push_back(item);
            continue;
        }
        placed[same->second.front()] = info.Raw[same->second.front()].second;
        same->second.pop_front();
    }
    for (const auto& [text, free] : byText)
        for (size_t i : free) byName[nameOf(text)].push_back(i);
    for (auto& [name, free] : byName) std::sort(free.begin(), free.end());
    for (const auto& item : edited) {
        auto same = byName.find(nameOf(item));
        if (same == byName.end() || same->second.empty()) {
            added.push_back(item);
            continue;
        }
        placed[same->second.front()] = item;
        same->second.pop_front();
    }
    std::string items;
    uint32_t count = 0;
    auto add = [&](const std::string& item) {
        items += LE32Bytes(static_cast<uint32_t>(item.size())) + item;
        ++count;
    };
    for (const auto& item : placed)
        if (item) add(*item);
    for (const auto& item : added) add(item);
    std::string data = "\x03vorbis" + LE32Bytes(static_cast<uint32_t>(info.VendorRaw.size())) + info.VendorRaw +
                       LE32Bytes(count) + items;

    // The new packet keeps the old one's bytes after the comment fields (the framing bit).
    const auto& oldPacket = info.CommentPacket.Data;
    std::string packet = data + std::string(oldPacket.begin() + static_cast<ptrdiff_t>(info.TagEnd), oldPacket.end());
    int k = info.CommentPacket.EndSegment;
    int64_t p = static_cast<int64_t>(packet.size());
    int64_t segments = p / 255 + 1 + (second.SegmentCount - (k + 1));
    if (!onePage || segments > 255) return RewriteHeaderPages(target, info, second, packet);

    std::string page(reinterpret_cast<const char*>(second.Header), pageHeaderSize);
    page[26] = static_cast<char>(segments);
    page.append(static_cast<size_t>(p / 255), '\xFF');
    page += static_cast<char>(p % 255);
    for (int i = k + 1; i < second.SegmentCount; ++i) page += static_cast<char>(second.Lacing[i]);
    page += packet;
    int64_t oldPacketEnd = second.BodyPosition + static_cast<int64_t>(oldPacket.size());
    int64_t pageEnd = second.BodyPosition + second.BodySize;

    return RewriteFile(target, [&](int64_t, TRewriteOutput& out) {
        // The rest of the page (the setup header's first part) is read back to finish the checksum.
        std::vector<uint8_t> rest;
        try {
            TFileStream file(target, fmOpenRead | fmShareDenyWrite);
            rest = ReadStreamAt(file, oldPacketEnd, pageEnd - oldPacketEnd);
        } catch (const Exception&) {
            return false;
        }
        if (static_cast<int64_t>(rest.size()) != pageEnd - oldPacketEnd) return false;
        std::string newPage = page + std::string(rest.begin(), rest.end());
        SetPageChecksum(newPage);
        return out.CopySource(0, second.Position) && out.Write(newPage) && out.CopySource(pageEnd, -1);
    });
}

} // namespace lumora
