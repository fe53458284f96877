#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "extract/block_stream.hpp"
#include "extract/extract_error.hpp"
#include "pack/format_check.hpp"
#include "pack/new_archive.hpp"
#include "pack/pack_file_system.hpp"
#include "pack/pack_refused.hpp"

namespace quorvel {

// How a run that is not the window's own (a pack, a swap, an export)
// reports to whoever runs it, and the one way it is stopped: Progress
// throws Cancelled once the user asked the run to stop.
class RunListener {
public:
    virtual ~RunListener() = default;
    virtual void StatusChanged(std::string_view text) = 0;
    // `done` of about `total` bytes of work. Throws Cancelled when the user
    // asked the run to stop.
    virtual void Progress(std::uint64_t done, std::uint64_t total) = 0;
};
using PackListener = RunListener;

struct PackResult {
    std::uint64_t old_size = 0;
    std::uint64_t new_size = 0;
    std::uint64_t blocks = 0;
    std::vector<BlockChange> changes;  // filled on a dry run
    // Names in the folder that extraction does not make: left out.
    std::vector<std::string> ignored;
    // Sounds of the folder in another format than the archived sounds they
    // replace: packed as they are, and named.
    std::vector<FormatChange> format_changes;
    // The archive ended inside its last block; the new one is whole.
    std::optional<Truncation> repaired;
    bool backup_made = false;  // false: an earlier backup was kept as it was
    std::string backup_path;
};

enum class PackMode { kReplace, kDryRun };

// Builds a new archive from the archive's block structure and the files of
// its output folder as they are now, checks that extracting it gives back
// exactly those files, then puts it in the archive's place, keeping the
// archive it replaces as {archive}.bak (or an earlier backup there as it
// is). A dry run makes every check, the verification included, on the new
// archive made in memory as it is read, finds the blocks that would change
// and writes nothing.
//
// Throws PackRefused or ExtractError (nothing was replaced, no temporary
// file is left) or Cancelled (the same, stopped by the user).
PackResult PackArchive(const ArchiveLocation& location, FileSystem& files, PackFileSystem& pack_files,
                       PackListener& listener, PackMode mode);

}  // namespace quorvel
