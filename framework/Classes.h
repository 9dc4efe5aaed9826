#pragma once
// Streams, string lists and the small shared types of the form framework.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/SysUtils.h"

namespace lumora {

struct TPoint {
    int X = 0, Y = 0;
    bool operator==(const TPoint&) const = default;
};

struct TRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool operator==(const TRect&) const = default;
};

inline TRect Rect(int left, int top, int right, int bottom) { return TRect{left, top, right, bottom}; }
inline TRect Bounds(int left, int top, int width, int height) {
    return TRect{left, top, left + width, top + height};
}
// Intersection; an empty result has Right <= Left or Bottom <= Top.
TRect IntersectRect(const TRect& a, const TRect& b);
TRect UnionRect(const TRect& a, const TRect& b); // an empty side is ignored

using TNotifyEvent = std::function<void()>;

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// Byte stream with the framework's Read/ReadBuffer distinction: ReadBuffer throws
// EReadError("Stream read error") on a short read, Read returns what it got.
class TStream {
public:
    virtual ~TStream() = default;
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size();
    virtual void SetSize(int64_t size);

    // Reads up to count bytes at offset; the stream's position afterwards is unspecified.
    virtual int64_t ReadAt(int64_t offset, void* buffer, int64_t count);

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source (count 0 = the whole source from its start); returns bytes copied.
    int64_t CopyFrom(TStream& source, int64_t count);
};

enum : uint32_t {
    fmOpenRead = 0x0000,
    fmOpenWrite = 0x0001,
    fmOpenReadWrite = 0x0002,
    fmShareDenyNone = 0x0040,
    fmShareDenyWrite = 0x0020,
    fmCreate = 0xFF00,
};

class TFileStream : public TStream {
public:
    // Throws EFOpenError / EFCreateError with the system's reason.
    TFileStream(const std::string& fileName, uint32_t mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    int64_t Size() override;
    int64_t ReadAt(int64_t offset, void* buffer, int64_t count) override; // one positioned read, no seek
    int Handle() const { return fd_; }
    const std::string& FileName() const { return fileName_; }
    // The size of a regular file opened for reading, as it was when opened (-1 otherwise): readers
    // that take the file as it stands need not ask again.
    int64_t SizeAtOpen() const { return sizeAtOpen_; }

private:
    int fd_ = -1;
    int64_t sizeAtOpen_ = -1;
    std::string fileName_;
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    void SetSize(int64_t size) override;
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName);
    void LoadFromStream(TStream& stream);
    void Clear();
    uint8_t* Memory() { return data_.data(); }
    const std::vector<uint8_t>& Bytes() const { return data_; }

private:
    std::vector<uint8_t> data_;
    int64_t pos_ = 0;
};

// A read-only view of bytes someone else owns (fuzzers, tag blocks in memory).
class TBytesStream : public TStream {
public:
    TBytesStream(const void* data, int64_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void*, int64_t) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }

private:
    const uint8_t* data_;
    int64_t size_;
    int64_t pos_ = 0;
};

// Base of objects a string list can own (picture lists attached to groups, and the like).
class TObject {
public:
    virtual ~TObject() = default;
};

enum class TDuplicates { dupIgnore, dupAccept, dupError };

// The framework's string list: optional sorting (case-insensitive by default, as the framework's
// ANSI comparison), an object per entry (owned when OwnsObjects), and "name=value" access.
class TStringList : public TObject {
public:
    TStringList() = default;
    ~TStringList() override;
    TStringList(const TStringList&) = delete;
    TStringList& operator=(const TStringList&) = delete;

    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& operator[](int index) const { return Strings(index); }
    const std::string& Strings(int index) const;
    void SetString(int index, const std::string& s);
    TObject* Objects(int index) const;
    void SetObject(int index, TObject* object);

    int Add(const std::string& s);
    int AddObject(const std::string& s, TObject* object);
    void Insert(int index, const std::string& s);
    void InsertObject(int index, const std::string& s, TObject* object);
    void Delete(int index);
    void Clear();
    void Exchange(int a, int b);
    void Move(int from, int to);
    int IndexOf(const std::string& s) const;
    // Sorted lists use binary search; returns true when found, index = position or insertion point.
    bool Find(const std::string& s, int& index) const;
    void Sort();
    void CustomSort(const std::function<int(const TStringList&, int, int)>& compare);

    bool Sorted() const { return sorted_; }
    void SetSorted(bool sorted);
    bool CaseSensitive() const { return caseSensitive_; }
    void SetCaseSensitive(bool value);
    TDuplicates Duplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates d) { duplicates_ = d; }
    bool OwnsObjects() const { return ownsObjects_; }
    void SetOwnsObjects(bool owns) { ownsObjects_ = owns; }

    std::string Names(int index) const;
    std::string Values(const std::string& name) const;
    std::string ValueFromIndex(int index) const;
    void SetValue(const std::string& name, const std::string& value);
    int IndexOfName(const std::string& name) const;

    std::string Text() const; // lines joined with "\n" (each line ended)
    void SetText(const std::string& text);
    void Assign(const TStringList& other); // strings and object pointers (not owned twice)
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

    TNotifyEvent OnChange;

private:
    struct Item {
        std::string text;
        TObject* object = nullptr;
    };
    int Compare(const std::string& a, const std::string& b) const;
    void Changed();

    std::vector<Item> items_;
    bool sorted_ = false;
    bool caseSensitive_ = false;
    bool ownsObjects_ = false;
    TDuplicates duplicates_ = TDuplicates::dupIgnore;
};

} // namespace lumora
