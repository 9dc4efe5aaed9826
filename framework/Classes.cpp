#include "framework/Classes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace lumora {

TRect IntersectRect(const TRect& a, const TRect& b) {
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
            std::min(a.Bottom, b.Bottom)};
    if (r.IsEmpty()) return TRect{};
    return r;
}

TRect UnionRect(const TRect& a, const TRect& b) {
    if (a.IsEmpty()) return b;
    if (b.IsEmpty()) return a;
    return TRect{std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
                 std::max(a.Bottom, b.Bottom)};
}

// ---- TStream ----

int64_t TStream::Size() {
    int64_t pos = Seek(0, TSeekOrigin::soCurrent);
    int64_t end = Seek(0, TSeekOrigin::soEnd);
    Seek(pos, TSeekOrigin::soBeginning);
    return end;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

int64_t TStream::ReadAt(int64_t offset, void* buffer, int64_t count) {
    if (offset < 0 || Seek(offset, TSeekOrigin::soBeginning) != offset) return 0;
    return Read(buffer, count);
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count <= 0) return;
    if (Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count <= 0) return;
    if (Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<uint8_t> buf(static_cast<size_t>(std::min<int64_t>(count, 1 << 16)));
    int64_t done = 0;
    while (done < count) {
        int64_t n = std::min<int64_t>(count - done, static_cast<int64_t>(buf.size()));
        source.ReadBuffer(buf.data(), n);
        WriteBuffer(buf.data(), n);
        done += n;
    }
    return done;
}

// ---- TFileStream ----

TFileStream::TFileStream(const std::string& fileName, uint32_t mode) : fileName_(fileName) {
    if ((mode & 0xFF00) == fmCreate) {
        fd_ = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0)
            throw EFCreateError("Cannot create file \"" + fileName + "\". " + std::strerror(errno));
        return;
    }
    int flags = O_CLOEXEC;
    switch (mode & 3) {
    case fmOpenWrite: flags |= O_WRONLY; break;
    case fmOpenReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
    }
    fd_ = ::open(fileName.c_str(), flags);
    if (fd_ < 0) throw EFOpenError("Cannot open file \"" + fileName + "\". " + std::strerror(errno));
    struct stat st;
    if (::fstat(fd_, &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw EFOpenError("Cannot open file \"" + fileName + "\". Is a directory");
    }
    if (S_ISREG(st.st_mode) && (mode & 3) == fmOpenRead) sizeAtOpen_ = st.st_size;
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    if (count <= 0) return 0;
    int64_t done = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (done < count) {
        ssize_t n = ::read(fd_, p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    int64_t done = 0;
    auto* p = static_cast<const uint8_t*>(buffer);
    while (done < count) {
        ssize_t n = ::write(fd_, p + done, static_cast<size_t>(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Size() {
    struct stat st;
    if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) return st.st_size;
    return TStream::Size();
}

int64_t TFileStream::ReadAt(int64_t offset, void* buffer, int64_t count) {
    if (offset < 0 || count <= 0) return 0;
    int64_t done = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (done < count) {
        ssize_t n = ::pread(fd_, p + done, static_cast<size_t>(count - done), offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
    int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                                                                   : SEEK_END;
    off_t r = ::lseek(fd_, offset, whence);
    return r < 0 ? -1 : r;
}

void TFileStream::SetSize(int64_t size) {
    if (::ftruncate(fd_, size) != 0) throw EStreamError("Cannot set the size of \"" + fileName_ + "\"");
}

// ---- TMemoryStream ----

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || pos_ >= Size()) return 0;
    int64_t n = std::min(count, Size() - pos_);
    std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (pos_ + count > Size()) data_.resize(static_cast<size_t>(pos_ + count));
    std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
    pos_ += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? pos_ : Size();
    int64_t p = base + offset;
    if (p < 0) p = 0;
    pos_ = p;
    return pos_;
}

void TMemoryStream::SetSize(int64_t size) {
    data_.resize(static_cast<size_t>(std::max<int64_t>(size, 0)));
    if (pos_ > size) pos_ = size;
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(f);
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream f(fileName, fmCreate);
    f.WriteBuffer(data_.data(), Size());
}

void TMemoryStream::LoadFromStream(TStream& stream) {
    stream.SetPosition(0);
    int64_t n = stream.Size();
    data_.resize(static_cast<size_t>(n));
    stream.ReadBuffer(data_.data(), n);
    pos_ = 0;
}

void TMemoryStream::Clear() {
    data_.clear();
    pos_ = 0;
}

// ---- TBytesStream ----

int64_t TBytesStream::Read(void* buffer, int64_t count) {
    if (count <= 0 || pos_ >= size_) return 0;
    int64_t n = std::min(count, size_ - pos_);
    std::memcpy(buffer, data_ + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
}

int64_t TBytesStream::Write(const void*, int64_t) { throw EWriteError("Stream write error"); }

int64_t TBytesStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? pos_ : size_;
    pos_ = std::max<int64_t>(0, base + offset);
    return pos_;
}

// ---- TStringList ----

TStringList::~TStringList() { Clear(); }

static void CheckIndex(int index, size_t count) {
    if (index < 0 || static_cast<size_t>(index) >= count)
        throw ERangeError("List index out of bounds (" + std::to_string(index) + ")");
}

const std::string& TStringList::Strings(int index) const {
    CheckIndex(index, items_.size());
    return items_[index].text;
}

void TStringList::SetString(int index, const std::string& s) {
    CheckIndex(index, items_.size());
    items_[index].text = s;
    Changed();
}

TObject* TStringList::Objects(int index) const {
    CheckIndex(index, items_.size());
    return items_[index].object;
}

void TStringList::SetObject(int index, TObject* object) {
    CheckIndex(index, items_.size());
    items_[index].object = object;
}

int TStringList::Compare(const std::string& a, const std::string& b) const {
    if (caseSensitive_) return a.compare(b);
    std::string la = LowerCase(a), lb = LowerCase(b);
    return la.compare(lb);
}

int TStringList::Add(const std::string& s) { return AddObject(s, nullptr); }

int TStringList::AddObject(const std::string& s, TObject* object) {
    int index = Count();
    if (sorted_) {
        if (Find(s, index)) {
            if (duplicates_ == TDuplicates::dupIgnore) return index;
            if (duplicates_ == TDuplicates::dupError) throw Exception("String list does not allow duplicates");
        }
    }
    items_.insert(items_.begin() + index, Item{s, object});
    Changed();
    return index;
}

void TStringList::Insert(int index, const std::string& s) { InsertObject(index, s, nullptr); }

void TStringList::InsertObject(int index, const std::string& s, TObject* object) {
    if (index < 0 || index > Count()) CheckIndex(index, items_.size());
    items_.insert(items_.begin() + index, Item{s, object});
    Changed();
}

void TStringList::Delete(int index) {
    CheckIndex(index, items_.size());
    if (ownsObjects_) delete items_[index].object;
    items_.erase(items_.begin() + index);
    Changed();
}

void TStringList::Clear() {
    if (ownsObjects_)
        for (auto& it : items_) delete it.object;
    items_.clear();
}

void TStringList::Exchange(int a, int b) {
    CheckIndex(a, items_.size());
    CheckIndex(b, items_.size());
    std::swap(items_[a], items_[b]);
}

void TStringList::Move(int from, int to) {
    CheckIndex(from, items_.size());
    CheckIndex(to, items_.size());
    Item it = items_[from];
    items_.erase(items_.begin() + from);
    items_.insert(items_.begin() + to, it);
}

int TStringList::IndexOf(const std::string& s) const {
    if (sorted_) {
        int i;
        return Find(s, i) ? i : -1;
    }
    for (int i = 0; i < Count(); ++i)
        if (Compare(items_[i].text, s) == 0) return i;
    return -1;
}

bool TStringList::Find(const std::string& s, int& index) const {
    int lo = 0, hi = Count() - 1;
    bool found = false;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        int c = Compare(items_[mid].text, s);
        if (c < 0) lo = mid + 1;
        else {
            hi = mid - 1;
            if (c == 0) {
                found = true;
                if (duplicates_ != TDuplicates::dupAccept) lo = mid;
            }
        }
    }
    index = lo;
    return found;
}

void TStringList::Sort() {
    std::stable_sort(items_.begin(), items_.end(),
                     [this](const Item& a, const Item& b) { return Compare(a.text, b.text) < 0; });
    Changed();
}

void TStringList::CustomSort(const std::function<int(const TStringList&, int, int)>& compare) {
    // Sort a permutation with the caller's index comparison, then apply it.
    std::vector<int> order(items_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return compare(*this, a, b) < 0; });
    std::vector<Item> sorted;
    sorted.reserve(items_.size());
    for (int i : order) sorted.push_back(items_[i]);
    items_ = std::move(sorted);
    Changed();
}

void TStringList::SetSorted(bool sorted) {
    if (sorted && !sorted_) {
        sorted_ = true;
        Sort();
    }
    sorted_ = sorted;
}

void TStringList::SetCaseSensitive(bool value) {
    caseSensitive_ = value;
    if (sorted_) Sort();
}

std::string TStringList::Names(int index) const {
    const std::string& s = Strings(index);
    size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

int TStringList::IndexOfName(const std::string& name) const {
    for (int i = 0; i < Count(); ++i) {
        size_t eq = items_[i].text.find('=');
        if (eq != std::string::npos && Compare(items_[i].text.substr(0, eq), name) == 0) return i;
    }
    return -1;
}

std::string TStringList::Values(const std::string& name) const {
    int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

std::string TStringList::ValueFromIndex(int index) const {
    const std::string& s = Strings(index);
    size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

void TStringList::SetValue(const std::string& name, const std::string& value) {
    int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) Delete(i);
    } else if (i >= 0) {
        SetString(i, name + "=" + value);
    } else {
        Add(name + "=" + value);
    }
}

std::string TStringList::Text() const {
    std::string r;
    for (auto& it : items_) r += it.text + "\n";
    return r;
}

void TStringList::SetText(const std::string& text) {
    Clear();
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Add(line);
    }
}

void TStringList::Assign(const TStringList& other) {
    Clear();
    for (int i = 0; i < other.Count(); ++i) items_.push_back(Item{other.items_[i].text, other.items_[i].object});
    Changed();
}

void TStringList::LoadFromFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) throw EFOpenError("Cannot open file \"" + fileName + "\"");
    std::ostringstream ss;
    ss << in.rdbuf();
    SetText(ss.str());
}

void TStringList::SaveToFile(const std::string& fileName) const {
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out) throw EFCreateError("Cannot create file \"" + fileName + "\"");
    out << Text();
}

void TStringList::Changed() {
    if (OnChange) OnChange();
}

} // namespace lumora
