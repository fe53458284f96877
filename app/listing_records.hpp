#pragma once

// The listing as JSON Lines: one record per file, then one per archive.
// Scripts and the studio read these records, so there is one writer of them.
//
//   {"path": "sfx/sfx_0001.wav", "kind": "sound", "offset": 4, "size": 1044,
//    "channels": 1, "rate": 22050, "bits": 16, "encoding": "pcm_s16", "seconds": 0.02}
//   {"archive": "sfx.pak", "files": 3, "bytes": 1054, "sounds": 1,
//    "seconds": 0.02, "truncated": null}

#include <string>
#include <string_view>

#include "app/game_reader.hpp"

namespace quorvel {

// A JSON string: quotes, backslashes and control characters escaped.
std::string JsonString(std::string_view text);

// A file's record, without the line end.
std::string FileRecord(const ListedFile& file);
// The same with a "label" key: the label, or null where `label` is nullptr.
std::string FileRecord(const ListedFile& file, const std::string* label);
// An archive's record, named by its file name ("sfx.pak").
std::string ArchiveRecord(const ListedArchive& archive, const ListingTotals& totals);

// Seconds as the listing writes them: two decimals.
std::string SecondsText(double seconds);

}  // namespace quorvel
