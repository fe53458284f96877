#pragma once

// Layout texts: archives written as text, for scripts and data files.
//
//   block "AVQF1234"; block; block riff(4) "xy" riff(4); final
//
// One item per line or per ';'; '#' starts a comment to the end of the line.
// Items: `block PARTS...` (a length field counting itself and the parts),
// `length N PARTS...` (a length field of any signed 32-bit value N, then the
// parts as they are), `final`, `raw PARTS...` and `repeat COUNT { ITEMS }`.
// Parts: "text" (escapes \\ \" \n \t \0 \xHH), wav(N), riff(SIZE),
// riff(SIZE, "FORM"), int32(V), bytes(N, V) and noise(N), as Wav, Riff, Int32,
// Fill and Noise of archive_builder.hpp make them. Sizes N may end in K or M
// (KiB, MiB).

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "testing/archive_builder.hpp"

namespace quorvel::testing {

// A layout that cannot be read: what() names the line and what was expected.
class LayoutError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

Archive ParseLayout(std::string_view text);

// A whole number, perhaps ending in one of `suffixes` (for "KMG": K for KiB,
// M for MiB, G for GiB); nothing when it is no such number or too large.
std::optional<std::uint64_t> ParseSize(std::string_view text, std::string_view suffixes);

}  // namespace quorvel::testing
