#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "extract/block_stream.hpp"
#include "extract/entry.hpp"
#include "extract/extraction_listener.hpp"
#include "pack/format_check.hpp"

namespace quorvel {

// One block of the archive and the files extraction makes of it.
struct PlannedBlock {
    BlockExtent extent;
    std::int64_t first_number = 0;  // of its first file, as extraction numbered it (0 for a block without files)
    std::size_t first_file = 0;     // index into ArchivePlan::kinds
    std::size_t file_count = 0;

    // Old size in the archive: length field and payload.
    std::uint64_t OldSize() const { return extent.End() - extent.offset; }
};

// The archive's structure as the block stream walks it, which is all that
// is needed to put the extracted files back: block by block, which files
// make up the payload. Numbers and kinds are kept rather than names, so a
// plan costs a few dozen bytes a block.
struct ArchivePlan {
    ArchiveLocation location;
    std::uint64_t archive_size = 0;
    std::vector<PlannedBlock> blocks;
    std::vector<EntryKind> kinds;
    // For each file, a sound's format as the archive holds it.
    std::vector<std::optional<SoundFormat>> formats;
    std::optional<Truncation> truncation;

    // Where the bytes after the last block start (the final field, fewer
    // than 4 bytes, or nothing).
    std::uint64_t TrailerOffset() const { return blocks.empty() ? 0 : blocks.back().extent.End(); }
    std::string FileName(const PlannedBlock& block, std::size_t index) const;
    // The file as the FileSystem opens it: "sfx/sfx_0001.wav" under the output folder.
    std::string FilePath(const FileSystem& files, const PlannedBlock& block, std::size_t index) const;
    std::size_t FileCount() const { return kinds.size(); }
};

// Walks the open archive with the real block stream, writing nothing.
// `progress` hears the walk's Advance and Checkpoint calls (and so may stop it).
ArchivePlan PlanArchive(const ArchiveLocation& location, InputFile& archive, FileSystem& files,
                        ExtractionListener& progress);

}  // namespace quorvel
