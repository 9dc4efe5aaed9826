#pragma once
// The registry kept in a text file in the format of registry export files ("REGEDIT4", UTF-8).

#include <string>

#include "framework/Registry.h"

namespace lumora {

struct TRegParseResult {
    TRegistryTree Tree;
    // Lines that could not be read (skipped), and whether the header line was missing.
    int SkippedLines = 0;
    bool MissingHeader = false;
    bool Damaged() const { return SkippedLines > 0 || MissingHeader; }
};

// Reads registry text. Never throws: what cannot be read is skipped and counted.
TRegParseResult ParseRegistryText(const std::string& text);
// Writes the whole tree; ParseRegistryText reads the result back to an equal tree.
std::string FormatRegistryText(const TRegistryTree& tree);

// $LUMORA_REGISTRY when set, else $XDG_CONFIG_HOME/lumora/registry.reg (default ~/.config).
std::string DefaultRegistryPath();

// The file store. Reading takes the file as it is (renames are atomic, so it is always whole);
// an update holds an exclusive lock on "<file>.lock" while it reads, applies and writes the file
// through a temporary file renamed over it. A damaged file is kept as "<file>.damaged" before the
// first write replaces it, so what could not be read is not lost.
class TFileRegistryStore : public IRegistryStore {
public:
    explicit TFileRegistryStore(std::string path);
    const std::string& Path() const { return path_; }
    TRegistryTree Read() override;
    void Update(const std::function<bool(TRegistryTree&)>& apply) override;

private:
    std::string path_;
};

} // namespace lumora
