#pragma once
// Safe rewriting of a file by the tag writers.
//
// A rebuild writes the whole new file beside the old one and renames it over the old one only
// when every byte has been written and synced, so a failure or a crash at any point leaves the
// original file byte-identical. A symbolic link is followed to its target, which is replaced,
// and the link stays a link. The new file keeps the old file's mode. The temporary file is
// anonymous while it is written (it vanishes with the process if the writer is killed); it gets
// the name "name~" only for the final rename, or another unique name when "name~" exists, and a
// file we did not create is never removed or changed.

#include <cstdint>
#include <functional>
#include <string>

namespace lumora {

// The steps where tests can make a rewrite fail.
enum class TRewriteStep { Create, Write, Sync, Rename };

// Called before each step; returning true makes that step fail as if the system had refused it.
// `index` counts the Write calls of one rewrite from 0 (0 for the other steps).
using TRewriteFaultHook = std::function<bool(TRewriteStep step, int64_t index)>;
void SetRewriteFaultHook(TRewriteFaultHook hook);

// Where the producer of a rebuild writes the new file's bytes.
class TRewriteOutput {
public:
    virtual ~TRewriteOutput() = default;
    virtual bool Write(const void* data, int64_t size) = 0;
    // Copies count bytes of the source file from offset (count < 0: up to its end). Fails when the
    // source holds fewer bytes than asked for.
    virtual bool CopySource(int64_t offset, int64_t count) = 0;
    bool Write(const std::string& bytes) { return Write(bytes.data(), static_cast<int64_t>(bytes.size())); }
};

// The file a path names, symbolic links followed; empty when it cannot be resolved.
std::string ResolveFileTarget(const std::string& path);

// Rebuilds the file: `produce` receives the source file's size and writes the complete new
// contents. Returns false, with the original untouched and no temporary file left, when the
// producer returns false or any step fails.
bool RewriteFile(const std::string& path, const std::function<bool(int64_t sourceSize, TRewriteOutput& out)>& produce);

// Overwrites bytes of an existing file in place, touching exactly [offset, offset + size).
// The region must lie inside the file unless `mayAppend` allows writing at its very end; a
// failed append cuts the file back to its old length.
bool WriteFileRegion(const std::string& path, int64_t offset, const void* data, int64_t size, bool mayAppend = false);

// Cuts the file to newSize bytes (only ever shorter).
bool TruncateFileTo(const std::string& path, int64_t newSize);

} // namespace lumora
