#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "extract/block_stream.hpp"
#include "extract/extract_error.hpp"
#include "pack/pack_file_system.hpp"

namespace quorvel {

// The new archive would not give back the folder's files, or the folder
// does not hold what the archive needs: nothing was replaced. Not an
// ExtractError, so that no layer of the extraction takes it for a failure
// of its own files.
class PackRefused : public std::runtime_error {
public:
    // `file`: the file to act on ("sfx/sfx_0012.wav"), or the archive.
    PackRefused(std::string file, const std::string& reason)
        : std::runtime_error(file + ": " + reason), file_(std::move(file))
    {
    }
    const std::string& file() const noexcept { return file_; }

private:
    std::string file_;
};

// How packing reports to whoever runs it.
class PackListener {
public:
    virtual ~PackListener() = default;
    virtual void StatusChanged(std::string_view text) = 0;
    // `done` of about `total` bytes of work. Throws Cancelled when the user
    // asked the run to stop.
    virtual void Progress(std::uint64_t done, std::uint64_t total) = 0;
};

// A block whose bytes change, and the files behind its new bytes.
struct BlockChange {
    std::uint64_t offset = 0;
    std::uint64_t old_size = 0;  // length field and payload
    std::uint64_t new_size = 0;
    std::vector<std::string> files;  // "sfx/sfx_0012.wav"
    bool final_field = false;        // the bytes after the last block, not a block
};

struct PackResult {
    std::uint64_t old_size = 0;
    std::uint64_t new_size = 0;
    std::uint64_t blocks = 0;
    std::vector<BlockChange> changes;  // filled on a dry run
    // Names in the folder that extraction does not make: left out.
    std::vector<std::string> ignored;
    // The archive ended inside its last block; the new one is whole.
    std::optional<Truncation> repaired;
    bool backup_made = false;  // false: an earlier backup was kept as it was
    std::string backup_path;
};

enum class PackMode { kReplace, kDryRun };

// Builds a new archive from the archive's block structure and the files of
// its output folder as they are now, checks that extracting it gives back
// exactly those files, then puts it in the archive's place (keeping the
// archive it replaces as {archive}.bak unless there is one already). On a
// dry run, finds the blocks that would change and writes nothing.
//
// Throws PackRefused or ExtractError (nothing was replaced, no temporary
// file is left) or Cancelled (the same, stopped by the user).
PackResult PackArchive(const ArchiveLocation& location, FileSystem& files, PackFileSystem& pack_files,
                       PackListener& listener, PackMode mode);

}  // namespace quorvel
