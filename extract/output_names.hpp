#pragma once

// The names extraction gives its files, made here and read back here alone.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// "sfx_0001.wav": the archive's name, the number zero-padded to at least
// four digits, the extension. Numbers past 9999 keep all their digits, so
// entry 10000 never replaces entry 0.
std::string EntryFileName(std::string_view archive, std::int64_t number, std::string_view extension);

// "sfx/sfx_0001.wav": where a file lies under the output folder, as the
// listing, labels and the studio name it ("/"-separated on every system).
std::string ListedPath(std::string_view archive, std::string_view file_name);

// A listed path read back: its archive ("sfx") and file name.
struct ListedName {
    std::string_view archive;
    std::string_view file_name;
};
std::optional<ListedName> SplitListedPath(std::string_view path);

}  // namespace quorvel
