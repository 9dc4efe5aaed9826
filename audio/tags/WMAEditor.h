#pragma once
// Attribute editor of ASF (WMA) files, our own in place of the media runtime's metadata editor.
//
// The editor reads every attribute of a file's header: the five strings of the content
// description, the items of the extended content description, and the records of the metadata
// and metadata library objects inside the header extension. It lists them per stream the way the
// runtime did (stream 0 holds the file-level attributes), lets a caller change, add and delete
// them, and writes the file back with a rebuilt header. Every other header object and everything
// after the header (the data packets, the indexes) stay byte-identical; only the header's size,
// its object count and the file size in the file properties change.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lumora {

// Value types, numbered as the runtime's interface numbers them.
enum TWMTAttrDataType : uint16_t {
    WMT_TYPE_DWORD = 0,
    WMT_TYPE_STRING = 1,
    WMT_TYPE_BINARY = 2,
    WMT_TYPE_BOOL = 3,
    WMT_TYPE_QWORD = 4,
    WMT_TYPE_WORD = 5,
    WMT_TYPE_GUID = 6,
};

// Result codes of the editor's operations (0 is success), shown in hexadecimal by their callers.
using TWMResult = uint32_t;
constexpr TWMResult wmOK = 0;
constexpr TWMResult wmErrInvalidArg = 0x80070057;
constexpr TWMResult wmErrFileNotFound = 0x80070002;
constexpr TWMResult wmErrNotOpen = 0xC00D001C;
constexpr TWMResult wmErrInvalidData = 0xC00D002F;
constexpr TWMResult wmErrReadOnly = 0xC00D0BC6;
constexpr TWMResult wmErrTooLarge = 0xC00D0BB8;
constexpr TWMResult wmErrWriteFailed = 0xC00D0BCE;

// Attribute lookups with this stream number search every stream.
constexpr uint16_t wmAnyStream = 0xFFFF;

// One attribute as the editor lists it. Values are in the runtime's layout: strings are UTF-16LE
// with a terminating zero unit, a Boolean is four bytes, numbers are little-endian.
struct TWMAttribute {
    uint16_t Stream = 0;
    uint16_t Language = 0;
    std::string Name; // UTF-8
    TWMTAttrDataType Type = WMT_TYPE_BINARY;
    std::vector<uint8_t> Value;
    // Values the editor works out from the file properties (duration, bit rate, file size).
    bool ReadOnly = false;

    bool operator==(const TWMAttribute&) const = default;
};

// A string value in the runtime's layout (UTF-16LE, zero-terminated).
std::vector<uint8_t> WMStringValue(const std::string& utf8);
// The text of a string value (up to its first zero unit).
std::string WMValueText(std::span<const uint8_t> value);
// A number value (DWORD, QWORD, WORD, BOOL) as an unsigned integer; 0 for any other shape.
uint64_t WMValueNumber(TWMTAttrDataType type, std::span<const uint8_t> value);

// The header of an ASF file held in memory: parsed, edited and rebuilt without file access.
class TAsfHeader {
public:
    // Largest header the editor takes; cover pictures make real headers a few megabytes.
    static constexpr uint64_t MaxHeaderSize = uint64_t(64) << 20;

    // Parses a whole header object (the bytes from the start of the file up to its declared
    // size). Returns wmErrInvalidData for a header that is damaged anywhere the editor would read
    // or rewrite; nothing is trusted past the bytes there are.
    TWMResult Parse(std::span<const uint8_t> header);
    void Clear();
    bool Parsed() const { return parsed_; }
    bool Modified() const { return modified_; }

    // The header's declared size: where the data object starts in the file.
    uint64_t Size() const { return bytes_.size(); }

    // The attributes of one stream in index order (stream 0: file-level); wmAnyStream lists every
    // stream, lowest stream first, so a file-level attribute has the same index in both lists.
    std::vector<TWMAttribute> Attributes(uint16_t stream) const;
    uint16_t AttributeCount(uint16_t stream) const;
    // Indices of the attributes of that name (compared without regard to ASCII case); with a
    // language, only those of that language.
    std::vector<uint16_t> AttributeIndices(uint16_t stream, const std::string& name, const uint16_t* language) const;
    TWMResult AttributeByIndex(uint16_t stream, uint16_t index, TWMAttribute& out) const;
    TWMResult ModifyAttribute(uint16_t stream, uint16_t index, TWMTAttrDataType type, uint16_t language,
                              std::span<const uint8_t> value);
    TWMResult AddAttribute(uint16_t stream, const std::string& name, uint16_t& index, TWMTAttrDataType type,
                           uint16_t language, std::span<const uint8_t> value);
    TWMResult DeleteAttribute(uint16_t stream, uint16_t index);

    // The new header for a file whose bytes after the header are dataSize long: objects the
    // edits did not touch are copied byte for byte, the file size in the file properties is set
    // to the new total. Empty when the result would not fit the format.
    std::vector<uint8_t> Rebuild(uint64_t dataSize) const;
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    enum class TPlace : uint8_t { Content, Extended, Metadata, Library, Derived };
    struct TStored {
        TPlace Place = TPlace::Extended;
        uint16_t Stream = 0;
        uint16_t Language = 0;
        int Slot = 0; // the content description's string index (0..4)
        std::vector<uint8_t> NameRaw; // UTF-16LE as stored (with its terminator when it had one)
        uint16_t FileType = 0;        // the type code as the object stores it
        std::vector<uint8_t> Value;   // as the object stores it
    };
    struct TObjectRef {
        uint64_t Offset = 0;
        uint64_t Size = 0;
    };

    TWMResult ParseObjects(std::span<const uint8_t> header);
    TWMResult ParseExtension(const TObjectRef& ext);
    TWMAttribute View(const TStored& s) const;
    // Positions in stored_ of the attributes that stream lists, in index order.
    std::vector<size_t> Listed(uint16_t stream) const;
    bool Fits(TPlace place, uint16_t stream, uint16_t language, TWMTAttrDataType type, size_t nameBytes,
              size_t valueBytes) const;
    std::vector<uint8_t> Serialize(TPlace place) const;
    std::vector<uint8_t> RebuildExtension() const;
    void MarkDirty(TPlace place);

    bool parsed_ = false;
    bool modified_ = false;
    std::vector<uint8_t> bytes_;
    std::vector<TObjectRef> objects_;     // the header's objects, in file order
    std::vector<uint8_t> trailing_;       // bytes after the last counted object, kept as they are
    std::vector<TObjectRef> extObjects_;  // objects inside the header extension
    int contentObject_ = -1, extendedObject_ = -1, extensionObject_ = -1, filePropsObject_ = -1;
    int metadataObject_ = -1, libraryObject_ = -1; // indexes into extObjects_
    bool dirty_[4] = {};                  // content, extended, metadata, library
    std::vector<TStored> stored_;
};

// The editor over one file, in the shape of the runtime's editor interfaces.
class TWMMetadataEditor {
public:
    // Reads the file's header. wmErrFileNotFound for a missing file, wmErrInvalidData for a file
    // that is no ASF file or whose header is damaged.
    TWMResult Open(const std::string& fileName);
    // Writes the changes made since opening; nothing is written when there are none. A failed
    // write leaves the file as it was and keeps the changes for another try.
    TWMResult Flush();
    // Forgets the file and any changes not flushed.
    TWMResult Close();
    bool IsOpen() const { return header_.Parsed(); }

    uint16_t GetAttributeCount(uint16_t stream) const { return header_.AttributeCount(stream); }
    TWMResult GetAttributeByIndex(uint16_t stream, uint16_t index, TWMAttribute& out) const;
    std::vector<uint16_t> GetAttributeIndices(uint16_t stream, const std::string& name,
                                              const uint16_t* language = nullptr) const;
    TWMResult ModifyAttribute(uint16_t stream, uint16_t index, TWMTAttrDataType type, uint16_t language,
                              std::span<const uint8_t> value);
    TWMResult AddAttribute(uint16_t stream, const std::string& name, uint16_t& index, TWMTAttrDataType type,
                           uint16_t language, std::span<const uint8_t> value);
    TWMResult DeleteAttribute(uint16_t stream, uint16_t index);

    const TAsfHeader& Header() const { return header_; }

private:
    std::string fileName_;
    int64_t fileSize_ = 0;
    TAsfHeader header_;
};

} // namespace lumora
