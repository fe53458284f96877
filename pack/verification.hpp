#pragma once

#include "extract/extraction_listener.hpp"
#include "extract/file_system.hpp"
#include "pack/archive_plan.hpp"

namespace quorvel {

// Extracts `new_archive` as if into the plan's output folder, but instead
// of writing, compares every file it would make, chunk by chunk, with the
// folder's file of that name, in the plan's order. Throws PackRefused
// naming the first file that would not come back exactly as it is.
// `new_archive_path` names the new archive in messages.
void VerifyArchive(const ArchivePlan& plan, InputFile& new_archive, const std::string& new_archive_path,
                   FileSystem& files, ExtractionListener& progress);

}  // namespace quorvel
