#pragma once

#include <cstdint>
#include <functional>

#include "extract/extraction_listener.hpp"
#include "extract/file_system.hpp"
#include "pack/archive_plan.hpp"

namespace quorvel {

// Told where each part of the new archive (a block, or the bytes after
// the last one) begins and ends, for a dry run to compare it with the old.
class PartObserver {
public:
    virtual ~PartObserver() = default;
    // `block`: the block being rebuilt, or nothing for the bytes after the last one.
    virtual void PartStarted(const PlannedBlock* block, std::uint64_t old_offset, std::uint64_t old_size) = 0;
    virtual void PartFinished(std::uint64_t new_size) = 0;
};

// Writes the new archive into `out`: every block rebuilt from its files
// with its length recomputed, blocks without file bytes and the bytes after
// the last block as they are; a truncated archive is made whole, ending
// with a zero final field. `progress` hears Advance and Checkpoint for
// every 64 KiB chunk and every block. Returns the new archive's size.
// Throws PackRefused for a block that outgrows its length field.
std::uint64_t WriteArchive(const ArchivePlan& plan, FileSystem& files, OutputFile& out, ExtractionListener& progress,
                           PartObserver* observer = nullptr);

}  // namespace quorvel
