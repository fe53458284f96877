#pragma once

#include "extract/block_stream.hpp"

namespace quorvel {

// Tells `listener` every file that extracting the archive would write
// (EntryFinished), and any truncation, without writing anything: the block
// stream itself runs, over a file system that makes no folder and keeps no
// byte, so the listing cannot disagree with an extraction. Blocks written
// whole are skipped, not read, where the archive can seek.
void ListArchive(const ArchiveLocation& location, FileSystem& files, ExtractionListener& listener);
// The same over an archive that is open already; checks nothing first and
// tells no status.
void ListArchive(const ArchiveLocation& location, InputFile& archive, FileSystem& files, ExtractionListener& listener);

}  // namespace quorvel
