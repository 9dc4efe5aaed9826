#include "framework/Registry.h"

#include <mutex>

#include <QString>

#include "framework/LegacyText.h"

namespace lumora {

namespace {

std::string DWordBytes(uint32_t v) {
    std::string d(4, '\0');
    for (int i = 0; i < 4; ++i) d[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return d;
}

uint32_t BytesDWord(const std::string& d) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4 && i < d.size(); ++i) v |= static_cast<uint32_t>(static_cast<unsigned char>(d[i])) << (8 * i);
    return v;
}

std::string JoinPath(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return a + "\\" + b;
}

std::string NormalizePath(const std::string& path) {
    std::string out;
    for (const auto& part : SplitRegPath(path)) out = JoinPath(out, part);
    return out;
}

} // namespace

std::string FoldRegName(const std::string& name) {
    if (IsAscii(name)) return LowerCase(name);
    QByteArray folded = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toCaseFolded().toUtf8();
    return std::string(folded.constData(), static_cast<size_t>(folded.size()));
}

bool SameRegName(const std::string& a, const std::string& b) {
    if (IsAscii(a) && IsAscii(b)) return SameText(a, b);
    return FoldRegName(a) == FoldRegName(b);
}

std::vector<std::string> SplitRegPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// ---- TRegKey

TRegKey::TRegKey(const TRegKey& other) : Name(other.Name), Values(other.Values) {
    SubKeys.reserve(other.SubKeys.size());
    for (const auto& sub : other.SubKeys) SubKeys.push_back(std::make_unique<TRegKey>(*sub));
}

TRegKey& TRegKey::operator=(const TRegKey& other) {
    if (this != &other) {
        TRegKey copy(other);
        Name = std::move(copy.Name);
        Values = std::move(copy.Values);
        SubKeys = std::move(copy.SubKeys);
    }
    return *this;
}

bool TRegKey::operator==(const TRegKey& other) const {
    if (Name != other.Name || Values != other.Values || SubKeys.size() != other.SubKeys.size()) return false;
    for (size_t i = 0; i < SubKeys.size(); ++i)
        if (!(*SubKeys[i] == *other.SubKeys[i])) return false;
    return true;
}

TRegValue* TRegKey::FindValue(const std::string& name) {
    for (auto& v : Values)
        if (SameRegName(v.Name, name)) return &v;
    return nullptr;
}

const TRegValue* TRegKey::FindValue(const std::string& name) const {
    return const_cast<TRegKey*>(this)->FindValue(name);
}

bool TRegKey::SetValue(const std::string& name, uint32_t type, const std::string& data) {
    if (TRegValue* v = FindValue(name)) {
        if (v->Type == type && v->Data == data) return false;
        v->Type = type;
        v->Data = data;
        return true;
    }
    Values.push_back(TRegValue{name, type, data});
    return true;
}

bool TRegKey::DeleteValue(const std::string& name) {
    for (auto it = Values.begin(); it != Values.end(); ++it)
        if (SameRegName(it->Name, name)) {
            Values.erase(it);
            return true;
        }
    return false;
}

TRegKey* TRegKey::FindSubKey(const std::string& name) {
    for (auto& sub : SubKeys)
        if (SameRegName(sub->Name, name)) return sub.get();
    return nullptr;
}

const TRegKey* TRegKey::FindSubKey(const std::string& name) const {
    return const_cast<TRegKey*>(this)->FindSubKey(name);
}

TRegKey& TRegKey::CreateSubKey(const std::string& name, bool* created) {
    if (TRegKey* sub = FindSubKey(name)) return *sub;
    SubKeys.push_back(std::make_unique<TRegKey>(name));
    if (created) *created = true;
    return *SubKeys.back();
}

bool TRegKey::DeleteSubKey(const std::string& name) {
    for (auto it = SubKeys.begin(); it != SubKeys.end(); ++it)
        if (SameRegName((*it)->Name, name)) {
            SubKeys.erase(it);
            return true;
        }
    return false;
}

TRegKey* TRegKey::FindPath(const std::string& path) {
    TRegKey* key = this;
    for (const auto& part : SplitRegPath(path)) {
        key = key->FindSubKey(part);
        if (!key) return nullptr;
    }
    return key;
}

const TRegKey* TRegKey::FindPath(const std::string& path) const { return const_cast<TRegKey*>(this)->FindPath(path); }

TRegKey& TRegKey::CreatePath(const std::string& path, bool* created) {
    TRegKey* key = this;
    for (const auto& part : SplitRegPath(path)) key = &key->CreateSubKey(part, created);
    return *key;
}

bool TRegKey::DeletePath(const std::string& path) {
    auto parts = SplitRegPath(path);
    if (parts.empty()) return false;
    std::string last = parts.back();
    parts.pop_back();
    TRegKey* parent = this;
    for (const auto& part : parts) {
        parent = parent->FindSubKey(part);
        if (!parent) return false;
    }
    return parent->DeleteSubKey(last);
}

// ---- stores

TRegistryTree TMemoryRegistryStore::Read() { return tree_; }

void TMemoryRegistryStore::Update(const std::function<bool(TRegistryTree&)>& apply) {
    TRegistryTree work = tree_;
    if (!apply(work)) return;
    if (FailWrites) throw ERegistryException("Failed to save the registry: no space left on device");
    tree_ = std::move(work);
    ++writes_;
}

TRegistryBatch::TRegistryBatch(std::shared_ptr<IRegistryStore> target)
    : target_(std::move(target)), work_(target_->Read()) {}

TRegistryTree TRegistryBatch::Read() { return work_; }

void TRegistryBatch::Update(const std::function<bool(TRegistryTree&)>& apply) {
    TRegistryTree copy = work_;
    if (!apply(copy)) return;
    work_ = std::move(copy);
    applies_.push_back(apply);
}

void TRegistryBatch::Commit() {
    if (applies_.empty()) return;
    auto applies = std::move(applies_);
    applies_.clear();
    target_->Update([&applies](TRegistryTree& tree) {
        bool changed = false;
        for (const auto& apply : applies) changed = apply(tree) || changed;
        return changed;
    });
}

namespace {
std::mutex g_storeMutex;
std::shared_ptr<IRegistryStore> g_store;
} // namespace

void SetRegistryStore(std::shared_ptr<IRegistryStore> store) {
    std::lock_guard lock(g_storeMutex);
    g_store = store ? std::move(store) : std::make_shared<TMemoryRegistryStore>();
}

std::shared_ptr<IRegistryStore> RegistryStore() {
    std::lock_guard lock(g_storeMutex);
    if (!g_store) g_store = std::make_shared<TMemoryRegistryStore>();
    return g_store;
}

std::string RootKeyName(HKEY root) {
    switch (root) {
    case HKEY::HKEY_CLASSES_ROOT: return "HKEY_CLASSES_ROOT";
    case HKEY::HKEY_CURRENT_USER: return "HKEY_CURRENT_USER";
    case HKEY::HKEY_LOCAL_MACHINE: return "HKEY_LOCAL_MACHINE";
    case HKEY::HKEY_USERS: return "HKEY_USERS";
    }
    return "HKEY_CURRENT_USER";
}

// ---- TRegistry

struct TRegistry::Change {
    enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue } What;
    std::string Path; // from the tree's root, root key name included
    std::string Name;
    uint32_t Type = REG_SZ;
    std::string Data;

    bool ApplyTo(TRegistryTree& tree) const {
        switch (What) {
        case CreateKey: {
            bool created = false;
            tree.CreatePath(Path, &created);
            return created;
        }
        case DeleteKey: return tree.DeletePath(Path);
        case SetValue: {
            bool created = false;
            TRegKey& key = tree.CreatePath(Path, &created);
            return key.SetValue(Name, Type, Data) || created;
        }
        case DeleteValue: {
            TRegKey* key = tree.FindPath(Path);
            return key && key->DeleteValue(Name);
        }
        }
        return false;
    }
};

TRegistry::TRegistry() : TRegistry(RegistryStore()) {}

TRegistry::TRegistry(std::shared_ptr<IRegistryStore> store) : store_(std::move(store)) {}

TRegistry::~TRegistry() {
    try {
        CloseKey();
    } catch (const std::exception&) {
        // A destructor cannot report; callers that must know call CloseKey themselves.
    }
}

void TRegistry::SetRootKey(HKEY root) {
    if (root == root_) return;
    CloseKey();
    root_ = root;
}

std::string TRegistry::Resolve(const std::string& key) const {
    std::string rel = (!key.empty() && key[0] == '\\') || !open_ ? NormalizePath(key)
                                                                 : JoinPath(currentPath_, NormalizePath(key));
    return rel;
}

void TRegistry::EnsureSnapshot() {
    if (haveSnapshot_) return;
    snapshot_ = store_->Read();
    haveSnapshot_ = true;
}

TRegKey* TRegistry::Current() {
    if (!open_) return nullptr;
    return snapshot_.FindPath(JoinPath(RootKeyName(root_), currentPath_));
}

const TRegKey* TRegistry::Current() const { return const_cast<TRegistry*>(this)->Current(); }

void TRegistry::Record(Change change) {
    change.ApplyTo(snapshot_);
    changes_.push_back(std::move(change));
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
    EnsureSnapshot();
    std::string rel = Resolve(key);
    std::string full = JoinPath(RootKeyName(root_), rel);
    if (!snapshot_.FindPath(full)) {
        // A line break inside a key name cannot be stored in the text form of the registry.
        if (!canCreate || full.find_first_of("\r\n") != std::string::npos) return false;
        Record(Change{Change::CreateKey, full, {}, REG_SZ, {}});
    }
    currentPath_ = rel;
    open_ = true;
    readOnly_ = false;
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
    if (!OpenKey(key, false)) return false;
    readOnly_ = true;
    return true;
}

bool TRegistry::KeyExists(const std::string& key) {
    EnsureSnapshot();
    return snapshot_.FindPath(JoinPath(RootKeyName(root_), Resolve(key))) != nullptr;
}

bool TRegistry::CreateKey(const std::string& key) {
    EnsureSnapshot();
    std::string full = JoinPath(RootKeyName(root_), Resolve(key));
    if (snapshot_.FindPath(full)) return true;
    if (full.find_first_of("\r\n") != std::string::npos) return false;
    Record(Change{Change::CreateKey, full, {}, REG_SZ, {}});
    return true;
}

bool TRegistry::DeleteKey(const std::string& key) {
    EnsureSnapshot();
    std::string rel = Resolve(key);
    if (SplitRegPath(rel).empty()) return false; // never the root key itself
    std::string full = JoinPath(RootKeyName(root_), rel);
    if (!snapshot_.FindPath(full)) return false;
    Record(Change{Change::DeleteKey, full, {}, REG_SZ, {}});
    return true;
}

void TRegistry::Commit() {
    if (changes_.empty()) return;
    // The update owns what it uses, so a store may keep it and run it again later (a batch does).
    auto changes = std::make_shared<const std::vector<Change>>(std::move(changes_));
    changes_.clear();
    auto merged = std::make_shared<TRegistryTree>();
    store_->Update([changes, merged](TRegistryTree& tree) {
        bool changed = false;
        for (const auto& change : *changes) changed = change.ApplyTo(tree) || changed;
        *merged = tree;
        return changed;
    });
    snapshot_ = std::move(*merged);
}

void TRegistry::CloseKey() {
    open_ = false;
    readOnly_ = false;
    currentPath_.clear();
    try {
        Commit();
    } catch (...) {
        changes_.clear();
        haveSnapshot_ = false;
        throw;
    }
    haveSnapshot_ = false;
}

bool TRegistry::ValueExists(const std::string& name) const {
    const TRegKey* key = Current();
    return key && key->FindValue(name);
}

TRegDataType TRegistry::GetDataType(const std::string& name) const {
    const TRegKey* key = Current();
    const TRegValue* v = key ? key->FindValue(name) : nullptr;
    if (!v) return TRegDataType::rdUnknown;
    switch (v->Type) {
    case REG_SZ: return TRegDataType::rdString;
    case REG_EXPAND_SZ: return TRegDataType::rdExpandString;
    case REG_DWORD: return TRegDataType::rdInteger;
    case REG_BINARY: return TRegDataType::rdBinary;
    default: return TRegDataType::rdUnknown;
    }
}

void TRegistry::GetValueNames(TStringList& names) const {
    names.Clear();
    if (const TRegKey* key = Current())
        for (const auto& v : key->Values) names.Add(v.Name);
}

void TRegistry::GetKeyNames(TStringList& names) const {
    names.Clear();
    if (const TRegKey* key = Current())
        for (const auto& sub : key->SubKeys) names.Add(sub->Name);
}

bool TRegistry::HasSubKeys() const {
    const TRegKey* key = Current();
    return key && !key->SubKeys.empty();
}

bool TRegistry::DeleteValue(const std::string& name) {
    if (!open_ || readOnly_ || !ValueExists(name)) return false;
    Record(Change{Change::DeleteValue, JoinPath(RootKeyName(root_), currentPath_), name, REG_SZ, {}});
    return true;
}

std::string TRegistry::ReadString(const std::string& name) const {
    const TRegKey* key = Current();
    const TRegValue* v = key ? key->FindValue(name) : nullptr;
    if (!v) return {};
    if (v->Type != REG_SZ && v->Type != REG_EXPAND_SZ)
        throw ERegistryException("Invalid data type for '" + name + "'");
    return v->Data;
}

int TRegistry::ReadInteger(const std::string& name) const {
    const TRegKey* key = Current();
    const TRegValue* v = key ? key->FindValue(name) : nullptr;
    if (!v) return 0;
    if (v->Type != REG_DWORD || v->Data.size() != 4) throw ERegistryException("Invalid data type for '" + name + "'");
    return static_cast<int32_t>(BytesDWord(v->Data));
}

bool TRegistry::ReadBool(const std::string& name) const { return ReadInteger(name) != 0; }

std::string TRegistry::ReadBinaryData(const std::string& name) const {
    const TRegKey* key = Current();
    const TRegValue* v = key ? key->FindValue(name) : nullptr;
    if (!v) return {};
    if (v->Type != REG_BINARY) throw ERegistryException("Invalid data type for '" + name + "'");
    return v->Data;
}

void TRegistry::WriteValue(const std::string& name, uint32_t type, const std::string& data) {
    if (!open_ || readOnly_) throw ERegistryException("Failed to set data for '" + name + "'");
    // A line break inside a name cannot be stored in the text form of the registry.
    if (name.find_first_of("\r\n") != std::string::npos)
        throw ERegistryException("Failed to set data for '" + name + "'");
    Record(Change{Change::SetValue, JoinPath(RootKeyName(root_), currentPath_), name, type, data});
}

void TRegistry::WriteString(const std::string& name, const std::string& value) { WriteValue(name, REG_SZ, value); }
void TRegistry::WriteExpandString(const std::string& name, const std::string& value) {
    WriteValue(name, REG_EXPAND_SZ, value);
}
void TRegistry::WriteInteger(const std::string& name, int value) {
    WriteValue(name, REG_DWORD, DWordBytes(static_cast<uint32_t>(value)));
}
void TRegistry::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }
void TRegistry::WriteBinaryData(const std::string& name, const std::string& bytes) {
    WriteValue(name, REG_BINARY, bytes);
}

// ---- TRegIniFile

TRegIniFile::TRegIniFile(const std::string& fileName, TOpenMode mode)
    : TRegIniFile(fileName, RegistryStore(), mode) {}

TRegIniFile::TRegIniFile(const std::string& fileName, std::shared_ptr<IRegistryStore> store, TOpenMode mode)
    : fileName_(NormalizePath(fileName)), mode_(mode), reg_(std::move(store)) {
    reg_.OpenKey("\\" + fileName_, mode_ == CreateKey);
}

TRegIniFile::~TRegIniFile() = default;

bool TRegIniFile::OpenSection(const std::string& section, bool create) {
    return reg_.OpenKey(std::string(1, '\\').append(JoinPath(fileName_, NormalizePath(section))), create);
}

std::string TRegIniFile::ReadString(const std::string& section, const std::string& ident, const std::string& def) {
    if (!OpenSection(section, false) || !reg_.ValueExists(ident)) return def;
    return reg_.ReadString(ident);
}

int TRegIniFile::ReadInteger(const std::string& section, const std::string& ident, int def) {
    if (!OpenSection(section, false) || !reg_.ValueExists(ident)) return def;
    if (reg_.GetDataType(ident) == TRegDataType::rdInteger) return reg_.ReadInteger(ident);
    return StrToIntDef(reg_.ReadString(ident), def);
}

bool TRegIniFile::ReadBool(const std::string& section, const std::string& ident, bool def) {
    return ReadInteger(section, ident, def ? 1 : 0) != 0;
}

void TRegIniFile::WriteString(const std::string& section, const std::string& ident, const std::string& value) {
    OpenSection(section, true);
    reg_.WriteString(ident, value);
}

void TRegIniFile::WriteInteger(const std::string& section, const std::string& ident, int value) {
    WriteString(section, ident, IntToStr(value));
}

void TRegIniFile::WriteBool(const std::string& section, const std::string& ident, bool value) {
    WriteString(section, ident, value ? "1" : "0");
}

void TRegIniFile::ReadSection(const std::string& section, TStringList& names) {
    names.Clear();
    if (OpenSection(section, false)) reg_.GetValueNames(names);
}

void TRegIniFile::ReadSections(TStringList& names) {
    names.Clear();
    if (OpenSection("", false)) reg_.GetKeyNames(names);
}

void TRegIniFile::EraseSection(const std::string& section) {
    if (NormalizePath(section).empty()) return; // the key itself is not a section
    reg_.DeleteKey(std::string(1, '\\').append(JoinPath(fileName_, NormalizePath(section))));
}

void TRegIniFile::DeleteKey(const std::string& section, const std::string& ident) {
    if (OpenSection(section, false)) reg_.DeleteValue(ident);
}

bool TRegIniFile::ValueExists(const std::string& section, const std::string& ident) {
    return OpenSection(section, false) && reg_.ValueExists(ident);
}

bool TRegIniFile::SectionExists(const std::string& section) {
    return reg_.KeyExists(std::string(1, '\\').append(JoinPath(fileName_, NormalizePath(section))));
}

void TRegIniFile::UpdateFile() {
    reg_.CloseKey();
    reg_.OpenKey("\\" + fileName_, mode_ == CreateKey);
}

} // namespace lumora
