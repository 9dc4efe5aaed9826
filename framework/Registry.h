#pragma once
// The registry as the program sees it: a tree of keys holding typed values, reached through key
// objects (TRegistry) and the INI-style view (TRegIniFile, sections = sub-keys). Where the tree is kept
// is the business of a store behind IRegistryStore; the platform layer installs the file store.
//
// A key object reads the store once, when it opens its first key, and works on that copy; its changes
// are recorded and replayed on the store's current content in one update when it closes, so two
// objects (or two processes) writing different values never lose each other's writes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Classes.h"

namespace lumora {

// Value types, numbered as the registry numbers them.
enum : uint32_t {
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_MULTI_SZ = 7,
};

enum class TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

struct TRegValue {
    std::string Name; // "" is the key's default value
    uint32_t Type = REG_SZ;
    // Text (UTF-8, no terminator) for REG_SZ and REG_EXPAND_SZ, four little-endian bytes for
    // REG_DWORD, the raw bytes for every other type.
    std::string Data;
    bool operator==(const TRegValue&) const = default;
};

// One key: values in creation order, sub-keys in creation order. Names compare without regard to
// case (Unicode case folding) and keep the case they were created with.
class TRegKey {
public:
    TRegKey() = default;
    explicit TRegKey(std::string name) : Name(std::move(name)) {}
    TRegKey(const TRegKey& other);
    TRegKey& operator=(const TRegKey& other);

    std::string Name;
    std::vector<TRegValue> Values;
    std::vector<std::unique_ptr<TRegKey>> SubKeys;

    TRegValue* FindValue(const std::string& name);
    const TRegValue* FindValue(const std::string& name) const;
    // Sets a value, keeping the stored name's case when it exists; returns whether anything changed.
    bool SetValue(const std::string& name, uint32_t type, const std::string& data);
    bool DeleteValue(const std::string& name);

    TRegKey* FindSubKey(const std::string& name);
    const TRegKey* FindSubKey(const std::string& name) const;
    TRegKey& CreateSubKey(const std::string& name, bool* created = nullptr);
    bool DeleteSubKey(const std::string& name);

    // Paths are key names joined by "\"; empty components are ignored.
    TRegKey* FindPath(const std::string& path);
    const TRegKey* FindPath(const std::string& path) const;
    TRegKey& CreatePath(const std::string& path, bool* created = nullptr);
    bool DeletePath(const std::string& path);

    bool operator==(const TRegKey& other) const;
};

// Whole registry: the nameless root whose sub-keys are the root keys ("HKEY_CURRENT_USER", ...).
using TRegistryTree = TRegKey;

// Case rule of key and value names.
bool SameRegName(const std::string& a, const std::string& b);
// The form of a name under which equal names are equal strings.
std::string FoldRegName(const std::string& name);
std::vector<std::string> SplitRegPath(const std::string& path);

// Where the tree lives. Read gives the current content (a damaged store reads as what could be read);
// Update runs apply on the current content while holding the store exclusively and saves the result
// when apply returns true; apply owns what it uses and may be run again later. Update throws
// ERegistryException when the result cannot be saved, leaving the stored content as it was.
class IRegistryStore {
public:
    virtual ~IRegistryStore() = default;
    virtual TRegistryTree Read() = 0;
    virtual void Update(const std::function<bool(TRegistryTree&)>& apply) = 0;
};

// A store in memory: the default until the platform installs its own, and the test double.
class TMemoryRegistryStore : public IRegistryStore {
public:
    TRegistryTree Read() override;
    void Update(const std::function<bool(TRegistryTree&)>& apply) override;
    int WriteCount() const { return writes_; }
    // When set, every update fails as a full disk would.
    bool FailWrites = false;

private:
    TRegistryTree tree_;
    int writes_ = 0;
};

// Collects the updates of several key objects and hands them to its target as one update, so a
// group of saves is written whole or not at all. Reads see the batch's own updates.
class TRegistryBatch : public IRegistryStore {
public:
    explicit TRegistryBatch(std::shared_ptr<IRegistryStore> target);
    TRegistryTree Read() override;
    void Update(const std::function<bool(TRegistryTree&)>& apply) override;
    // One update of the target replaying everything collected; throws as the target does.
    void Commit();
    const std::shared_ptr<IRegistryStore>& Target() const { return target_; }

private:
    std::shared_ptr<IRegistryStore> target_;
    TRegistryTree work_;
    std::vector<std::function<bool(TRegistryTree&)>> applies_;
};

// The store every key object uses; nullptr restores a fresh memory store.
void SetRegistryStore(std::shared_ptr<IRegistryStore> store);
std::shared_ptr<IRegistryStore> RegistryStore();

enum class HKEY { HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS };
std::string RootKeyName(HKEY root);

// The framework's key object. Key paths are relative to the open key, or to the root when they start
// with "\" or no key is open.
class TRegistry {
public:
    TRegistry();
    explicit TRegistry(std::shared_ptr<IRegistryStore> store);
    // Closes the key; a failure to save is swallowed here (call CloseKey to see it).
    virtual ~TRegistry();
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    HKEY RootKey() const { return root_; }
    void SetRootKey(HKEY root);
    const std::string& CurrentPath() const { return currentPath_; }
    bool HasCurrentKey() const { return open_; }

    bool OpenKey(const std::string& key, bool canCreate);
    bool OpenKeyReadOnly(const std::string& key);
    bool KeyExists(const std::string& key);
    bool CreateKey(const std::string& key);
    bool DeleteKey(const std::string& key); // the key and everything below it
    // Saves the recorded changes (throws ERegistryException when that fails) and closes the key.
    void CloseKey();

    bool ValueExists(const std::string& name) const;
    TRegDataType GetDataType(const std::string& name) const;
    void GetValueNames(TStringList& names) const; // creation order
    void GetKeyNames(TStringList& names) const;
    bool HasSubKeys() const;
    bool DeleteValue(const std::string& name);

    // Missing value: "" / 0. A value of another type raises ERegistryException.
    std::string ReadString(const std::string& name) const;
    int ReadInteger(const std::string& name) const;
    bool ReadBool(const std::string& name) const;
    std::string ReadBinaryData(const std::string& name) const;
    void WriteString(const std::string& name, const std::string& value);
    void WriteExpandString(const std::string& name, const std::string& value);
    void WriteInteger(const std::string& name, int value);
    void WriteBool(const std::string& name, bool value);
    void WriteBinaryData(const std::string& name, const std::string& bytes);

private:
    struct Change;
    std::string Resolve(const std::string& key) const;
    TRegKey* Current();
    const TRegKey* Current() const;
    void EnsureSnapshot();
    void Record(Change change);
    void Commit();
    void WriteValue(const std::string& name, uint32_t type, const std::string& data);

    std::shared_ptr<IRegistryStore> store_;
    HKEY root_ = HKEY::HKEY_CURRENT_USER;
    std::string currentPath_; // relative to the root key
    bool open_ = false;
    bool readOnly_ = false;
    bool haveSnapshot_ = false;
    TRegistryTree snapshot_;
    std::vector<Change> changes_;
};

// The INI-style view: the object opens one key under HKEY_CURRENT_USER, creating it unless told to
// only read (a reader then leaves the store as it was); a section is a sub-key of it (the empty
// section is the key itself). Values are strings: integers in decimal, Booleans as "1" and "0".
class TRegIniFile {
public:
    enum TOpenMode { CreateKey, ReadOnly };
    explicit TRegIniFile(const std::string& fileName, TOpenMode mode = CreateKey);
    TRegIniFile(const std::string& fileName, std::shared_ptr<IRegistryStore> store, TOpenMode mode = CreateKey);
    ~TRegIniFile();
    TRegIniFile(const TRegIniFile&) = delete;
    TRegIniFile& operator=(const TRegIniFile&) = delete;

    const std::string& FileName() const { return fileName_; }

    // A missing value gives the default; a value of a non-string type raises ERegistryException.
    std::string ReadString(const std::string& section, const std::string& ident, const std::string& def);
    // A value that is not a number gives the default; a double word is read as its number.
    int ReadInteger(const std::string& section, const std::string& ident, int def);
    bool ReadBool(const std::string& section, const std::string& ident, bool def);
    void WriteString(const std::string& section, const std::string& ident, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& ident, int value);
    void WriteBool(const std::string& section, const std::string& ident, bool value);

    void ReadSection(const std::string& section, TStringList& names); // value names, creation order
    void ReadSections(TStringList& names);                            // sub-key names
    void EraseSection(const std::string& section);
    void DeleteKey(const std::string& section, const std::string& ident);
    bool ValueExists(const std::string& section, const std::string& ident);
    bool SectionExists(const std::string& section);

    // Saves the changes made so far; throws ERegistryException when the store cannot be written.
    // The destructor saves what is left and swallows a failure.
    void UpdateFile();

private:
    bool OpenSection(const std::string& section, bool create);
    std::string fileName_;
    TOpenMode mode_;
    TRegistry reg_;
};

} // namespace lumora
