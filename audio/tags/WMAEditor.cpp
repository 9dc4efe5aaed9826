#include "audio/tags/WMAEditor.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "audio/tags/AsfGuids.h"
#include "audio/tags/ByteReader.h"
#include "audio/tags/TagText.h"
#include "framework/Checked.h"
#include "framework/Classes.h"
#include "framework/SysUtils.h"
#include "platform/system/SafeRewrite.h"

namespace lumora {

namespace {

using asf::TGuid;

const TGuid& headerGuid = asf::Header;
const TGuid& filePropertiesGuid = asf::FileProperties;
const TGuid& contentGuid = asf::ContentDescription;
const TGuid& extendedGuid = asf::ExtendedContent;
const TGuid& extensionGuid = asf::HeaderExtension;
const TGuid& extensionReservedGuid = asf::HeaderExtensionReserved;
const TGuid& metadataGuid = asf::Metadata;
const TGuid& libraryGuid = asf::MetadataLibrary;

constexpr uint64_t objectHeaderSize = 24;
constexpr uint64_t headerObjectSize = 30;     // GUID, size, object count, two reserved bytes
constexpr uint64_t extensionHeaderSize = 46;  // object header, reserved GUID and word, data size
constexpr uint64_t filePropsBodySize = 80;
constexpr size_t maxItems = 0xFFFF;

const char* const contentNames[5] = {"Title", "Author", "Copyright", "Description", "Rating"};
const char* const derivedNames[5] = {"Duration", "Bitrate", "FileSize", "Seekable", "Broadcast"};

bool IsGuid(std::span<const uint8_t> bytes, const TGuid& guid) {
    return bytes.size() >= 16 && std::memcmp(bytes.data(), guid.data(), 16) == 0;
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put64(std::vector<uint8_t>& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Set64(std::vector<uint8_t>& out, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Set32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Append(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

std::vector<uint8_t> Utf16Name(const std::string& utf8) {
    std::string units = EncodeUtf16(utf8, TByteOrder::LittleEndian, false);
    std::vector<uint8_t> out(units.begin(), units.end());
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::string NameText(const std::vector<uint8_t>& raw) {
    return DecodeUtf16(std::string_view(reinterpret_cast<const char*>(raw.data()), raw.size()),
                       TByteOrder::LittleEndian);
}

// The object's type codes: the same in all three attribute objects, GUIDs only in the metadata ones.
uint16_t FileTypeOf(TWMTAttrDataType type) {
    switch (type) {
    case WMT_TYPE_STRING: return 0;
    case WMT_TYPE_BINARY: return 1;
    case WMT_TYPE_BOOL: return 2;
    case WMT_TYPE_DWORD: return 3;
    case WMT_TYPE_QWORD: return 4;
    case WMT_TYPE_WORD: return 5;
    case WMT_TYPE_GUID: return 6;
    }
    return 1;
}

// A value from a caller checked against its type; strings get their terminating zero unit.
bool NormalizeValue(TWMTAttrDataType type, std::span<const uint8_t> value, std::vector<uint8_t>& out) {
    out.assign(value.begin(), value.end());
    switch (type) {
    case WMT_TYPE_STRING:
        if (out.size() % 2 != 0) return false;
        if (out.size() < 2 || out[out.size() - 1] != 0 || out[out.size() - 2] != 0) {
            out.push_back(0);
            out.push_back(0);
        }
        return true;
    case WMT_TYPE_BINARY: return true;
    case WMT_TYPE_BOOL:
    case WMT_TYPE_DWORD: return out.size() == 4;
    case WMT_TYPE_QWORD: return out.size() == 8;
    case WMT_TYPE_WORD: return out.size() == 2;
    case WMT_TYPE_GUID: return out.size() == 16;
    }
    return false;
}

std::vector<uint8_t> Bool32(bool on) { return {static_cast<uint8_t>(on ? 1 : 0), 0, 0, 0}; }

} // namespace

std::vector<uint8_t> WMStringValue(const std::string& utf8) { return Utf16Name(utf8); }

std::string WMValueText(std::span<const uint8_t> value) {
    return DecodeUtf16(std::string_view(reinterpret_cast<const char*>(value.data()), value.size()),
                       TByteOrder::LittleEndian);
}

uint64_t WMValueNumber(TWMTAttrDataType type, std::span<const uint8_t> value) {
    size_t want = type == WMT_TYPE_QWORD ? 8 : type == WMT_TYPE_WORD ? 2 : 4;
    if (type != WMT_TYPE_QWORD && type != WMT_TYPE_WORD && type != WMT_TYPE_DWORD && type != WMT_TYPE_BOOL) return 0;
    if (value.size() != want) return 0;
    uint64_t v = 0;
    for (size_t i = want; i-- > 0;) v = (v << 8) | value[i];
    return v;
}

// ---- parsing ----

void TAsfHeader::Clear() { *this = TAsfHeader(); }

TWMResult TAsfHeader::Parse(std::span<const uint8_t> header) {
    Clear();
    TByteReader r(header);
    if (!IsGuid(r.Bytes(16), headerGuid)) return wmErrInvalidData;
    uint64_t size = r.LE64();
    if (r.Failed() || size != header.size() || size < headerObjectSize || size > MaxHeaderSize)
        return wmErrInvalidData;
    bytes_.assign(header.begin(), header.end());
    TWMResult result = ParseObjects(header);
    if (result != wmOK) {
        Clear();
        return result;
    }
    parsed_ = true;
    return wmOK;
}

TWMResult TAsfHeader::ParseObjects(std::span<const uint8_t> header) {
    TByteReader r(header);
    r.Skip(24);
    uint32_t count = r.LE32();
    r.Skip(2);
    for (uint32_t i = 0; i < count; ++i) {
        // The count is only believed as far as whole objects are there.
        if (r.Remaining() < objectHeaderSize) return wmErrInvalidData;
        uint64_t offset = r.Position();
        auto guid = r.Bytes(16);
        uint64_t size = r.LE64();
        if (size < objectHeaderSize || size - objectHeaderSize > r.Remaining()) return wmErrInvalidData;
        TByteReader body = r.Sub(size - objectHeaderSize);
        int index = static_cast<int>(objects_.size());
        objects_.push_back({offset, size});
        if (IsGuid(guid, contentGuid) && contentObject_ < 0) {
            contentObject_ = index;
            uint16_t lengths[5];
            for (auto& l : lengths) l = body.LE16();
            for (int slot = 0; slot < 5; ++slot) {
                auto text = body.Bytes(lengths[slot]);
                if (body.Failed()) return wmErrInvalidData;
                if (lengths[slot] == 0) continue;
                TStored s;
                s.Place = TPlace::Content;
                s.Slot = slot;
                s.NameRaw = Utf16Name(contentNames[slot]);
                s.Value.assign(text.begin(), text.end());
                stored_.push_back(std::move(s));
            }
        } else if (IsGuid(guid, extendedGuid) && extendedObject_ < 0) {
            extendedObject_ = index;
            uint16_t items = body.LE16();
            for (uint16_t k = 0; k < items; ++k) {
                TStored s;
                s.Place = TPlace::Extended;
                auto name = body.Bytes(body.LE16());
                s.FileType = body.LE16();
                auto value = body.Bytes(body.LE16());
                if (body.Failed()) return wmErrInvalidData;
                s.NameRaw.assign(name.begin(), name.end());
                s.Value.assign(value.begin(), value.end());
                stored_.push_back(std::move(s));
            }
            if (body.Failed()) return wmErrInvalidData;
        } else if (IsGuid(guid, extensionGuid) && extensionObject_ < 0) {
            extensionObject_ = index;
            TWMResult result = ParseExtension(objects_.back());
            if (result != wmOK) return result;
        } else if (IsGuid(guid, filePropertiesGuid) && filePropsObject_ < 0) {
            filePropsObject_ = index;
        }
    }
    trailing_.assign(header.begin() + static_cast<ptrdiff_t>(r.Position()), header.end());
    // The lists show the objects in one order, whatever order the file keeps them in.
    std::stable_sort(stored_.begin(), stored_.end(), [](const TStored& a, const TStored& b) { return a.Place < b.Place; });

    // The values the runtime works out from the file properties come last in stream 0's list.
    if (filePropsObject_ >= 0 && objects_[filePropsObject_].Size >= objectHeaderSize + filePropsBodySize) {
        asf::TFileProperties props;
        asf::ReadFileProperties(
            TByteReader(bytes_.data() + objects_[filePropsObject_].Offset + objectHeaderSize, filePropsBodySize), props);
        auto add = [this](const char* name, uint16_t fileType, std::vector<uint8_t> value) {
            TStored s;
            s.Place = TPlace::Derived;
            s.NameRaw = Utf16Name(name);
            s.FileType = fileType;
            s.Value = std::move(value);
            stored_.push_back(std::move(s));
        };
        std::vector<uint8_t> v;
        Put64(v, props.PlayTime());
        add(derivedNames[0], 4, v);
        v.clear();
        Put32(v, props.MaxBitRate);
        add(derivedNames[1], 3, v);
        v.clear();
        Put64(v, props.FileSize);
        add(derivedNames[2], 4, v);
        add(derivedNames[3], 2, Bool32(props.Flags & 2));
        add(derivedNames[4], 2, Bool32(props.Broadcast()));
    }
    return wmOK;
}

TWMResult TAsfHeader::ParseExtension(const TObjectRef& ext) {
    TByteReader r(bytes_.data() + ext.Offset, ext.Size);
    r.Skip(objectHeaderSize + 18);
    uint32_t dataSize = r.LE32();
    if (r.Failed() || dataSize != r.Remaining()) return wmErrInvalidData;
    while (!r.AtEnd()) {
        if (r.Remaining() < objectHeaderSize) return wmErrInvalidData;
        uint64_t offset = ext.Offset + r.Position();
        auto guid = r.Bytes(16);
        uint64_t size = r.LE64();
        if (size < objectHeaderSize || size - objectHeaderSize > r.Remaining()) return wmErrInvalidData;
        TByteReader body = r.Sub(size - objectHeaderSize);
        int index = static_cast<int>(extObjects_.size());
        extObjects_.push_back({offset, size});
        bool metadata = IsGuid(guid, metadataGuid) && metadataObject_ < 0;
        bool library = IsGuid(guid, libraryGuid) && libraryObject_ < 0;
        if (!metadata && !library) continue;
        (metadata ? metadataObject_ : libraryObject_) = index;
        uint16_t records = body.LE16();
        for (uint16_t k = 0; k < records; ++k) {
            TStored s;
            s.Place = metadata ? TPlace::Metadata : TPlace::Library;
            s.Language = body.LE16();
            s.Stream = body.LE16();
            uint16_t nameLength = body.LE16();
            s.FileType = body.LE16();
            uint32_t valueLength = body.LE32();
            auto name = body.Bytes(nameLength);
            auto value = body.Bytes(valueLength);
            if (body.Failed()) return wmErrInvalidData;
            s.NameRaw.assign(name.begin(), name.end());
            s.Value.assign(value.begin(), value.end());
            stored_.push_back(std::move(s));
        }
        if (body.Failed()) return wmErrInvalidData;
    }
    return wmOK;
}

// ---- the attribute lists ----

TWMAttribute TAsfHeader::View(const TStored& s) const {
    TWMAttribute a;
    a.Stream = s.Stream;
    a.Language = s.Language;
    a.Name = NameText(s.NameRaw);
    a.ReadOnly = s.Place == TPlace::Derived;
    a.Value = s.Value;
    if (s.Place == TPlace::Content) {
        a.Type = WMT_TYPE_STRING;
        if (a.Value.size() % 2) a.Value.pop_back();
        if (a.Value.size() < 2 || a.Value[a.Value.size() - 1] || a.Value[a.Value.size() - 2]) a.Value.resize(a.Value.size() + 2);
        return a;
    }
    bool metadata = s.Place == TPlace::Metadata || s.Place == TPlace::Library;
    switch (s.FileType) {
    case 0: a.Type = WMT_TYPE_STRING; break;
    case 2:
        a.Type = WMT_TYPE_BOOL;
        // The metadata objects store a Boolean in two bytes; the runtime hands out four.
        if (metadata && a.Value.size() == 2) a.Value = Bool32(a.Value[0] || a.Value[1]);
        break;
    case 3: a.Type = WMT_TYPE_DWORD; break;
    case 4: a.Type = WMT_TYPE_QWORD; break;
    case 5: a.Type = WMT_TYPE_WORD; break;
    case 6: a.Type = metadata ? WMT_TYPE_GUID : WMT_TYPE_BINARY; break;
    default: a.Type = WMT_TYPE_BINARY; break;
    }
    return a;
}

std::vector<size_t> TAsfHeader::Listed(uint16_t stream) const {
    std::vector<size_t> out;
    if (stream == wmAnyStream) {
        for (size_t i = 0; i < stored_.size(); ++i) out.push_back(i);
        std::stable_sort(out.begin(), out.end(), [this](size_t a, size_t b) { return stored_[a].Stream < stored_[b].Stream; });
        return out;
    }
    for (size_t i = 0; i < stored_.size(); ++i)
        if (stored_[i].Stream == stream) out.push_back(i);
    return out;
}

std::vector<TWMAttribute> TAsfHeader::Attributes(uint16_t stream) const {
    std::vector<TWMAttribute> out;
    for (size_t i : Listed(stream)) out.push_back(View(stored_[i]));
    return out;
}

uint16_t TAsfHeader::AttributeCount(uint16_t stream) const {
    return static_cast<uint16_t>(std::min<size_t>(Listed(stream).size(), 0xFFFF));
}

std::vector<uint16_t> TAsfHeader::AttributeIndices(uint16_t stream, const std::string& name,
                                                   const uint16_t* language) const {
    std::vector<uint16_t> out;
    std::vector<size_t> listed = Listed(stream);
    for (size_t k = 0; k < listed.size() && k < 0xFFFF; ++k) {
        const TStored& s = stored_[listed[k]];
        if (language && s.Language != *language) continue;
        if (SameText(NameText(s.NameRaw), name)) out.push_back(static_cast<uint16_t>(k));
    }
    return out;
}

TWMResult TAsfHeader::AttributeByIndex(uint16_t stream, uint16_t index, TWMAttribute& out) const {
    if (!parsed_) return wmErrNotOpen;
    std::vector<size_t> listed = Listed(stream);
    if (index >= listed.size()) return wmErrInvalidArg;
    out = View(stored_[listed[index]]);
    return wmOK;
}

bool TAsfHeader::Fits(TPlace place, uint16_t stream, uint16_t language, TWMTAttrDataType type, size_t nameBytes,
                      size_t valueBytes) const {
    switch (place) {
    case TPlace::Content: return stream == 0 && language == 0 && type == WMT_TYPE_STRING && valueBytes <= 0xFFFF;
    case TPlace::Extended:
        return stream == 0 && language == 0 && type != WMT_TYPE_GUID && nameBytes <= 0xFFFF && valueBytes <= 0xFFFF;
    case TPlace::Metadata:
        return language == 0 && stream <= 127 && type != WMT_TYPE_GUID && nameBytes <= 0xFFFF &&
               valueBytes <= 0xFFFFFFFFu;
    case TPlace::Library: return stream <= 127 && nameBytes <= 0xFFFF && valueBytes <= 0xFFFFFFFFu;
    case TPlace::Derived: return false;
    }
    return false;
}

void TAsfHeader::MarkDirty(TPlace place) {
    if (place != TPlace::Derived) dirty_[static_cast<int>(place)] = true;
    modified_ = true;
}

TWMResult TAsfHeader::ModifyAttribute(uint16_t stream, uint16_t index, TWMTAttrDataType type, uint16_t language,
                                      std::span<const uint8_t> value) {
    if (!parsed_) return wmErrNotOpen;
    std::vector<size_t> listed = Listed(stream);
    if (index >= listed.size()) return wmErrInvalidArg;
    TStored& s = stored_[listed[index]];
    if (s.Place == TPlace::Derived) return wmErrReadOnly;
    std::vector<uint8_t> normal;
    if (!NormalizeValue(type, value, normal)) return wmErrInvalidArg;
    if (!Fits(s.Place, s.Stream, language, type, s.NameRaw.size(), normal.size())) return wmErrTooLarge;
    if (type == WMT_TYPE_BOOL && (s.Place == TPlace::Metadata || s.Place == TPlace::Library))
        normal = {static_cast<uint8_t>(WMValueNumber(type, normal) ? 1 : 0), 0};
    s.FileType = FileTypeOf(type);
    s.Language = language;
    s.Value = std::move(normal);
    MarkDirty(s.Place);
    return wmOK;
}

TWMResult TAsfHeader::AddAttribute(uint16_t stream, const std::string& name, uint16_t& index, TWMTAttrDataType type,
                                   uint16_t language, std::span<const uint8_t> value) {
    if (!parsed_) return wmErrNotOpen;
    if (name.empty() || stream == wmAnyStream) return wmErrInvalidArg;
    if (stream == 0)
        for (const char* derived : derivedNames)
            if (SameText(name, derived)) return wmErrReadOnly;
    TStored s;
    s.Stream = stream;
    s.Language = language;
    s.NameRaw = Utf16Name(name);
    if (!NormalizeValue(type, value, s.Value)) return wmErrInvalidArg;
    s.FileType = FileTypeOf(type);

    auto countIn = [this](TPlace place) {
        return std::count_if(stored_.begin(), stored_.end(), [place](const TStored& t) { return t.Place == place; });
    };
    int slot = -1;
    for (int k = 0; k < 5; ++k)
        if (SameText(name, contentNames[k])) slot = k;
    bool slotFree = slot >= 0 && std::none_of(stored_.begin(), stored_.end(), [slot](const TStored& t) {
                        return t.Place == TPlace::Content && t.Slot == slot;
                    });
    if (slotFree && Fits(TPlace::Content, stream, language, type, 0, s.Value.size())) {
        s.Place = TPlace::Content;
        s.Slot = slot;
        s.NameRaw = Utf16Name(contentNames[slot]);
    } else if (Fits(TPlace::Extended, stream, language, type, s.NameRaw.size(), s.Value.size()) &&
               static_cast<size_t>(countIn(TPlace::Extended)) < maxItems) {
        s.Place = TPlace::Extended;
    } else if (Fits(TPlace::Library, stream, language, type, s.NameRaw.size(), s.Value.size()) &&
               static_cast<size_t>(countIn(TPlace::Library)) < maxItems) {
        s.Place = TPlace::Library;
        if (type == WMT_TYPE_BOOL) s.Value = {static_cast<uint8_t>(WMValueNumber(type, s.Value) ? 1 : 0), 0};
    } else {
        return wmErrTooLarge;
    }
    // Attributes stay grouped by the object they live in, content strings in their slot order.
    auto at = std::find_if(stored_.begin(), stored_.end(), [&s](const TStored& t) {
        return t.Place > s.Place || (t.Place == s.Place && s.Place == TPlace::Content && t.Slot > s.Slot);
    });
    size_t position = static_cast<size_t>(at - stored_.begin());
    TPlace place = s.Place;
    stored_.insert(at, std::move(s));
    MarkDirty(place);
    std::vector<size_t> listed = Listed(stream);
    index = static_cast<uint16_t>(std::find(listed.begin(), listed.end(), position) - listed.begin());
    return wmOK;
}

TWMResult TAsfHeader::DeleteAttribute(uint16_t stream, uint16_t index) {
    if (!parsed_) return wmErrNotOpen;
    std::vector<size_t> listed = Listed(stream);
    if (index >= listed.size()) return wmErrInvalidArg;
    TPlace place = stored_[listed[index]].Place;
    if (place == TPlace::Derived) return wmErrReadOnly;
    stored_.erase(stored_.begin() + static_cast<ptrdiff_t>(listed[index]));
    MarkDirty(place);
    return wmOK;
}

// ---- rebuilding ----

std::vector<uint8_t> TAsfHeader::Serialize(TPlace place) const {
    std::vector<uint8_t> out;
    if (place == TPlace::Content) {
        Append(out, contentGuid);
        Put64(out, 0);
        const TStored* slots[5] = {};
        for (const TStored& s : stored_)
            if (s.Place == TPlace::Content) slots[s.Slot] = &s;
        for (const TStored* s : slots) Put16(out, static_cast<uint16_t>(s ? s->Value.size() : 0));
        for (const TStored* s : slots)
            if (s) Append(out, s->Value);
    } else if (place == TPlace::Extended) {
        Append(out, extendedGuid);
        Put64(out, 0);
        size_t countAt = out.size();
        Put16(out, 0);
        uint16_t count = 0;
        for (const TStored& s : stored_) {
            if (s.Place != place) continue;
            ++count;
            Put16(out, static_cast<uint16_t>(s.NameRaw.size()));
            Append(out, s.NameRaw);
            Put16(out, s.FileType);
            Put16(out, static_cast<uint16_t>(s.Value.size()));
            Append(out, s.Value);
        }
        out[countAt] = static_cast<uint8_t>(count);
        out[countAt + 1] = static_cast<uint8_t>(count >> 8);
    } else {
        Append(out, place == TPlace::Metadata ? metadataGuid : libraryGuid);
        Put64(out, 0);
        size_t countAt = out.size();
        Put16(out, 0);
        uint16_t count = 0;
        for (const TStored& s : stored_) {
            if (s.Place != place) continue;
            ++count;
            Put16(out, s.Language);
            Put16(out, s.Stream);
            Put16(out, static_cast<uint16_t>(s.NameRaw.size()));
            Put16(out, s.FileType);
            Put32(out, static_cast<uint32_t>(s.Value.size()));
            Append(out, s.NameRaw);
            Append(out, s.Value);
        }
        out[countAt] = static_cast<uint8_t>(count);
        out[countAt + 1] = static_cast<uint8_t>(count >> 8);
    }
    Set64(out, 16, out.size());
    return out;
}

std::vector<uint8_t> TAsfHeader::RebuildExtension() const {
    std::vector<uint8_t> out;
    if (extensionObject_ >= 0) {
        const uint8_t* p = bytes_.data() + objects_[extensionObject_].Offset;
        out.assign(p, p + extensionHeaderSize);
    } else {
        Append(out, extensionGuid);
        Put64(out, 0);
        Append(out, extensionReservedGuid);
        Put16(out, 6);
        Put32(out, 0);
    }
    for (size_t i = 0; i < extObjects_.size(); ++i) {
        if (static_cast<int>(i) == metadataObject_ && dirty_[2]) {
            Append(out, Serialize(TPlace::Metadata));
        } else if (static_cast<int>(i) == libraryObject_ && dirty_[3]) {
            Append(out, Serialize(TPlace::Library));
        } else {
            const uint8_t* p = bytes_.data() + extObjects_[i].Offset;
            out.insert(out.end(), p, p + extObjects_[i].Size);
        }
    }
    if (libraryObject_ < 0 && dirty_[3]) Append(out, Serialize(TPlace::Library));
    Set64(out, 16, out.size());
    Set32(out, 42, static_cast<uint32_t>(out.size() - extensionHeaderSize));
    return out;
}

std::vector<uint8_t> TAsfHeader::Rebuild(uint64_t dataSize) const {
    if (!parsed_) return {};
    std::vector<uint8_t> out(bytes_.begin(), bytes_.begin() + headerObjectSize);
    uint32_t count = 0;
    auto has = [this](TPlace place) {
        return std::any_of(stored_.begin(), stored_.end(), [place](const TStored& s) { return s.Place == place; });
    };
    size_t filePropsAt = 0;
    for (size_t i = 0; i < objects_.size(); ++i) {
        int index = static_cast<int>(i);
        if (index == filePropsObject_ && objects_[i].Size >= objectHeaderSize + 24) filePropsAt = out.size();
        if (index == contentObject_ && dirty_[0]) {
            Append(out, Serialize(TPlace::Content));
        } else if (index == extendedObject_ && dirty_[1]) {
            Append(out, Serialize(TPlace::Extended));
        } else if (index == extensionObject_ && (dirty_[2] || dirty_[3])) {
            Append(out, RebuildExtension());
        } else {
            const uint8_t* p = bytes_.data() + objects_[i].Offset;
            out.insert(out.end(), p, p + objects_[i].Size);
        }
        ++count;
    }
    if (contentObject_ < 0 && has(TPlace::Content)) {
        Append(out, Serialize(TPlace::Content));
        ++count;
    }
    if (extendedObject_ < 0 && has(TPlace::Extended)) {
        Append(out, Serialize(TPlace::Extended));
        ++count;
    }
    if (extensionObject_ < 0 && has(TPlace::Library)) {
        Append(out, RebuildExtension());
        ++count;
    }
    Append(out, trailing_);
    if (out.size() > MaxHeaderSize) return {};
    if (dataSize > static_cast<uint64_t>(INT64_MAX)) return {};
    auto total = CheckedAdd(static_cast<int64_t>(out.size()), static_cast<int64_t>(dataSize));
    if (!total) return {};
    Set64(out, 16, out.size());
    Set32(out, 24, count);
    // The file properties carry the size of the whole file, which the new header changes.
    if (filePropsAt) Set64(out, filePropsAt + objectHeaderSize + 16, static_cast<uint64_t>(*total));
    return out;
}

// ---- the editor over a file ----

TWMResult TWMMetadataEditor::Open(const std::string& fileName) {
    Close();
    if (!FileExists(fileName)) return wmErrFileNotFound;
    try {
        TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
        int64_t size = file.Size();
        std::vector<uint8_t> head = ReadStreamAt(file, 0, static_cast<int64_t>(headerObjectSize));
        TByteReader r(head);
        if (!IsGuid(r.Bytes(16), headerGuid)) return wmErrInvalidData;
        uint64_t headerSize = r.LE64();
        if (r.Failed() || headerSize < headerObjectSize || headerSize > TAsfHeader::MaxHeaderSize ||
            headerSize > static_cast<uint64_t>(size))
            return wmErrInvalidData;
        std::vector<uint8_t> bytes = ReadStreamAt(file, 0, static_cast<int64_t>(headerSize));
        if (bytes.size() != headerSize) return wmErrInvalidData;
        TWMResult result = header_.Parse(bytes);
        if (result != wmOK) return result;
        fileName_ = fileName;
        fileSize_ = size;
        return wmOK;
    } catch (const Exception&) {
        Close();
        return FileExists(fileName) ? wmErrInvalidData : wmErrFileNotFound;
    }
}

TWMResult TWMMetadataEditor::Close() {
    header_.Clear();
    fileName_.clear();
    fileSize_ = 0;
    return wmOK;
}

TWMResult TWMMetadataEditor::Flush() {
    if (!header_.Parsed()) return wmErrNotOpen;
    if (!header_.Modified()) return wmOK;
    uint64_t oldHeaderSize = header_.Size();
    std::vector<uint8_t> newHeader = header_.Rebuild(static_cast<uint64_t>(fileSize_) - oldHeaderSize);
    if (newHeader.empty()) return wmErrTooLarge;
    bool written = RewriteFile(fileName_, [&](int64_t sourceSize, TRewriteOutput& out) {
        // The file must still be the one that was read: same size, same header.
        if (sourceSize != fileSize_) return false;
        try {
            TFileStream file(fileName_, fmOpenRead | fmShareDenyWrite);
            if (ReadStreamAt(file, 0, static_cast<int64_t>(oldHeaderSize)) != header_.Bytes()) return false;
        } catch (const Exception&) {
            return false;
        }
        return out.Write(newHeader.data(), static_cast<int64_t>(newHeader.size())) &&
               out.CopySource(static_cast<int64_t>(oldHeaderSize), -1);
    });
    if (!written) return wmErrWriteFailed;
    std::string name = fileName_;
    return Open(name);
}

TWMResult TWMMetadataEditor::GetAttributeByIndex(uint16_t stream, uint16_t index, TWMAttribute& out) const {
    return header_.AttributeByIndex(stream, index, out);
}

std::vector<uint16_t> TWMMetadataEditor::GetAttributeIndices(uint16_t stream, const std::string& name,
                                                             const uint16_t* language) const {
    return header_.AttributeIndices(stream, name, language);
}

TWMResult TWMMetadataEditor::ModifyAttribute(uint16_t stream, uint16_t index, TWMTAttrDataType type,
                                             uint16_t language, std::span<const uint8_t> value) {
    return header_.ModifyAttribute(stream, index, type, language, value);
}

TWMResult TWMMetadataEditor::AddAttribute(uint16_t stream, const std::string& name, uint16_t& index,
                                          TWMTAttrDataType type, uint16_t language, std::span<const uint8_t> value) {
    return header_.AddAttribute(stream, name, index, type, language, value);
}

TWMResult TWMMetadataEditor::DeleteAttribute(uint16_t stream, uint16_t index) {
    return header_.DeleteAttribute(stream, index);
}

} // namespace lumora
