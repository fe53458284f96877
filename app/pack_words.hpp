#pragma once

// What a pack says of each archive, worded once for every front-end: the
// terminal prints these lines, the studio sends them to its page.

#include <string>
#include <vector>

#include "pack/pack.hpp"

namespace quorvel {

// "game/sfx.pak: packed, 52 bytes (was 50); the old archive is kept as game/sfx.pak.bak"
std::string PackedLine(const ArchiveLocation& archive, const PackResult& result);
// The same without the archive: "packed, 52 bytes (was 50); ...".
std::string PackedText(const PackResult& result);
// The files left out and the repair of a truncated archive, one line each.
std::vector<std::string> PackWarnings(const ArchiveLocation& archive, const PackResult& result, PackMode mode);
// A dry run's report: one line per block that would change, then the summary.
std::vector<std::string> DryRunLines(const ArchiveLocation& archive, const PackResult& result);
// Why an archive was left as it was: "game/sfx.pak was left as it was:
// FILE: REASON" for a refusal; for a failure, "...: it could not be
// packed", told after the failure itself.
std::string NotPackedLine(const ArchiveLocation& archive, const Failure& failure, PackMode mode);
// "nothing to pack: neither sfx.pak nor speech.pak has its folder of extracted files (sfx or speech)"
std::string NothingToPackLine(const ArchiveLocation& sound_effects, const ArchiveLocation& speech);

}  // namespace quorvel
