#include "audio/tags/WMAfile.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "audio/tags/AsfGuids.h"
#include "audio/tags/ByteReader.h"
#include "audio/tags/TagText.h"

namespace lumora {

namespace {

using asf::TGuid;

const TGuid& headerObject = asf::Header;
const TGuid& filePropertiesObject = asf::FileProperties;
const TGuid& streamPropertiesObject = asf::StreamProperties;
const TGuid& contentDescriptionObject = asf::ContentDescription;
const TGuid& extendedContentObject = asf::ExtendedContent;
const TGuid& audioMedia = asf::AudioMedia;
const TGuid& headerExtensionObject = asf::HeaderExtension;
const TGuid& metadataObject = asf::Metadata;
const TGuid& metadataLibraryObject = asf::MetadataLibrary;

constexpr int objectHeaderSize = 24;
// The header object is read whole; real ones are kilobytes, with cover art a few megabytes.
constexpr uint64_t maxHeaderSize = uint64_t(64) << 20;

enum { tTitle = 1, tArtist, tAlbum, tTrack, tYear, tGenre, tComment };

struct FileData {
    asf::TFileProperties Props;
    uint16_t Channels = 0;
    uint32_t SampleRate = 0;
    uint32_t ByteRate = 0;
    std::string TagData[8];
};

bool Is(std::span<const uint8_t> bytes, const TGuid& guid) {
    return bytes.size() == 16 && std::memcmp(bytes.data(), guid.data(), 16) == 0;
}

std::string WideString(TByteReader& r, uint64_t length) {
    auto bytes = r.Bytes(length);
    return DecodeUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                       TByteOrder::LittleEndian);
}

int TagIndexOf(const std::string& name) {
    static const char* const names[] = {"", "WM/TITLE", "WM/AUTHOR", "WM/ALBUMTITLE", "WM/TRACK", "WM/YEAR",
                                        "WM/GENRE", "WM/DESCRIPTION"};
    std::string upper = UpperCase(TrimControl(name));
    for (int i = 1; i <= 7; ++i)
        if (upper == names[i]) return i;
    // The current name of the track number, written by today's tools.
    if (upper == "WM/TRACKNUMBER") return tTrack;
    return 0;
}

// A value stored as a number is shown as decimal text, a string as its text.
void StoreValue(FileData& data, int index, uint16_t type, TByteReader value, uint64_t length) {
    switch (type) {
    case 0: data.TagData[index] = WideString(value, length); break;
    case 3: if (length >= 4) data.TagData[index] = std::to_string(value.LE32()); break;
    case 4: if (length >= 8) data.TagData[index] = std::to_string(value.LE64()); break;
    case 5: if (length >= 2) data.TagData[index] = std::to_string(value.LE16()); break;
    default: break;
    }
}

void ReadContentDescription(TByteReader r, FileData& data) {
    uint16_t lengths[5];
    for (auto& l : lengths) l = r.LE16();
    const int targets[5] = {tTitle, tArtist, 0, tComment, 0};
    for (int i = 0; i < 5 && !r.Failed(); ++i) {
        if (lengths[i] == 0) continue;
        std::string text = WideString(r, lengths[i]);
        if (!r.Failed() && targets[i]) data.TagData[targets[i]] = text;
    }
}

void ReadExtendedContent(TByteReader r, FileData& data) {
    uint16_t count = r.LE16();
    for (uint16_t i = 0; i < count && !r.Failed(); ++i) {
        uint16_t nameLength = r.LE16();
        std::string name = WideString(r, nameLength);
        uint16_t type = r.LE16();
        uint16_t valueLength = r.LE16();
        TByteReader value = r.Sub(valueLength);
        if (r.Failed()) return;
        // Numbers (a track number is often a double word) are shown as decimal text.
        if (int index = TagIndexOf(name)) StoreValue(data, index, type, value, valueLength);
    }
}

// The metadata and metadata library objects hold the values too long for the extended content
// (more than 65,535 bytes, 32,767 characters), stored with a 32-bit length, and values of the
// content description's names that did not fit there. Only the file's own values count, not a
// stream's.
void ReadMetadataRecords(TByteReader r, FileData& data) {
    uint16_t count = r.LE16();
    for (uint16_t i = 0; i < count && !r.Failed(); ++i) {
        r.Skip(2); // language
        uint16_t stream = r.LE16();
        uint16_t nameLength = r.LE16();
        uint16_t type = r.LE16();
        uint32_t valueLength = r.LE32();
        std::string name = WideString(r, nameLength);
        TByteReader value = r.Sub(valueLength);
        if (r.Failed()) return;
        std::string upper = UpperCase(TrimControl(name));
        int index = upper == "TITLE" ? tTitle : upper == "AUTHOR" ? tArtist : upper == "DESCRIPTION" ? tComment
                                                                                                    : TagIndexOf(name);
        if (stream == 0 && index) StoreValue(data, index, type, value, valueLength);
    }
}

void ReadHeaderExtension(TByteReader r, FileData& data) {
    r.Skip(18); // reserved GUID and word
    uint32_t dataSize = r.LE32();
    TByteReader objects = r.Sub(dataSize);
    while (!objects.Failed() && objects.Remaining() >= objectHeaderSize) {
        auto guid = objects.Bytes(16);
        uint64_t size = objects.LE64();
        if (size < objectHeaderSize || size - objectHeaderSize > objects.Remaining()) return;
        TByteReader body = objects.Sub(size - objectHeaderSize);
        if (Is(guid, metadataObject) || Is(guid, metadataLibraryObject)) ReadMetadataRecords(body, data);
    }
}

void ReadHeader(TByteReader& header, FileData& data) {
    uint32_t count = header.LE32();
    header.Skip(2);
    for (uint32_t i = 0; i < count && header.Remaining() >= objectHeaderSize; ++i) {
        auto guid = header.Bytes(16);
        uint64_t size = header.LE64();
        // An object smaller than its own header or running past the header object ends the walk.
        if (size < objectHeaderSize || size - objectHeaderSize > header.Remaining()) return;
        TByteReader body = header.Sub(size - objectHeaderSize);
        if (Is(guid, filePropertiesObject)) {
            asf::ReadFileProperties(body, data.Props);
        } else if (Is(guid, streamPropertiesObject)) {
            if (!Is(body.Bytes(16), audioMedia)) continue;
            body.Seek(56);
            uint16_t channels = body.LE16();
            uint32_t sampleRate = body.LE32();
            uint32_t byteRate = body.LE32();
            if (body.Failed()) continue;
            data.Channels = channels;
            data.SampleRate = sampleRate;
            data.ByteRate = byteRate;
        } else if (Is(guid, contentDescriptionObject)) {
            ReadContentDescription(body, data);
        } else if (Is(guid, extendedContentObject)) {
            ReadExtendedContent(body, data);
        } else if (Is(guid, headerExtensionObject)) {
            ReadHeaderExtension(body, data);
        }
    }
}

} // namespace

void TWMAfile::ResetData() {
    valid_ = false;
    fileSize_ = 0;
    channelModeID_ = 0;
    sampleRate_ = 0;
    duration_ = 0;
    bitRate_ = 0;
    track_ = 0;
    for (auto* s : {&title_, &artist_, &album_, &year_, &genre_, &comment_}) s->clear();
}

bool TWMAfile::LoadFromFile(const std::string& fileName) {
    ResetData();
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    return LoadFromStream(file);
}

bool TWMAfile::LoadFromStream(TStream& stream) {
    ResetData();
    FileData data;
    int64_t fileSize = stream.Size();
    std::vector<uint8_t> head = ReadStreamAt(stream, 0, 30);
    TByteReader r(head);
    if (Is(r.Bytes(16), headerObject)) {
        uint64_t size = r.LE64();
        if (size >= 30) {
            size = std::min<uint64_t>({size, static_cast<uint64_t>(fileSize), maxHeaderSize});
            std::vector<uint8_t> bytes = ReadStreamAt(stream, 0, static_cast<int64_t>(size));
            TByteReader header(bytes);
            header.Skip(24);
            ReadHeader(header, data);
        }
    }
    const asf::TFileProperties& props = data.Props;
    bool valid = props.MaxBitRate >= 1 && props.MaxBitRate <= 319999 && data.Channels >= 1 && data.Channels <= 6 &&
                 data.SampleRate >= 8000 && data.SampleRate <= 96000 && data.ByteRate >= 1 && data.ByteRate <= 39999;
    if (valid) {
        valid_ = true;
        fileSize_ = fileSize;
        channelModeID_ = static_cast<uint8_t>(data.Channels);
        sampleRate_ = static_cast<int32_t>(data.SampleRate);
        // The play duration counts the preroll, the time the first packet is held back. Without
        // one (a broadcast) the length is estimated from the size, which also counts the header
        // with its tags and pictures.
        if (props.PlayDuration > 0 && !props.Broadcast())
            duration_ = std::max(0.0, double(props.PlayDuration) / 1e7 - double(props.Preroll) / 1000);
        else
            duration_ = double(fileSize) * 8 / props.MaxBitRate;
        bitRate_ = static_cast<int32_t>(data.ByteRate * 8 / 1000);
        title_ = TrimControl(data.TagData[tTitle]);
        artist_ = TrimControl(data.TagData[tArtist]);
        album_ = TrimControl(data.TagData[tAlbum]);
        year_ = TrimControl(data.TagData[tYear]);
        genre_ = TrimControl(data.TagData[tGenre]);
        comment_ = TrimControl(data.TagData[tComment]);
        auto track = ParseDecimal(TrimControl(data.TagData[tTrack]), INT32_MAX);
        track_ = track ? static_cast<int32_t>(*track) : 0;
    }
    return true;
}

std::string TWMAfile::ChannelModeText() const {
    static const char* const texts[7] = {"Unknown", "Mono", "Stereo", "3Ch", "4Ch", "5Ch", "5.1Ch"};
    return channelModeID_ <= 6 ? texts[channelModeID_] : "Unknown";
}

} // namespace lumora
