#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The labels file, quorvel-labels.tsv: UTF-8 lines PATH<TAB>HASH<TAB>LABEL,
// HASH being the XXH64 (seed 0) of the file's bytes as 16 lowercase hex
// digits; "#" lines and blank lines are comments. Made to be shared and
// made by scripts, so every line is read as untrusted.
inline constexpr std::string_view kLabelsFileName = "quorvel-labels.tsv";
inline constexpr std::size_t kLongestLabel = 200;  // characters (code points)

struct LabelLine {
    std::string path;   // "sfx/sfx_0012.wav"
    std::string hash;   // 16 lowercase hex digits, or empty: match by path only
    std::string label;  // never empty
};

struct ParsedLabels {
    std::vector<LabelLine> lines;
    // Lines that are neither comments nor well-formed (a fourth field, a
    // bad hash, a label too long, bytes that are not UTF-8): skipped.
    std::size_t rejected = 0;
};

// Reads the text of a labels file: a UTF-8 byte order mark is allowed at
// the start, line ends may be LF or CRLF. Uppercase hex digits are taken
// as the same hash.
ParsedLabels ParseLabels(std::string_view text);

// The file's text for `lines`, which must be valid (see ValidLabel).
std::string FormatLabels(const std::vector<LabelLine>& lines);

// Why a label typed by the user cannot be kept, or nothing when it can:
// valid UTF-8, at most kLongestLabel characters, and nothing that breaks a
// line or changes how the text around it reads: no control character (C0
// or C1, tabs and line breaks included), no line or paragraph separator,
// no bidirectional embedding, override, isolate or mark.
std::optional<std::string> LabelProblem(std::string_view label);

bool IsUtf8(std::string_view text);
// The length of the UTF-8 sequence at the start of `text` (not empty), with
// its code point in `code`; 0 when it is none (a stray continuation, an
// overlong form, a surrogate, past U+10FFFF, cut short).
std::size_t Utf8SequenceAt(std::string_view text, std::uint32_t& code);
std::size_t CodePoints(std::string_view text);

// XXH64 with seed 0 in the file's spelling.
std::string HashText(std::uint64_t hash);

// A file that a label can go to.
struct LabelTarget {
    std::string path;
    std::string hash;  // empty while unknown: such a file matches by path only
};

struct LabelMatch {
    std::map<std::string, std::string> labels;  // path -> label
    std::size_t by_hash = 0;
    std::size_t by_path = 0;
    std::size_t unmatched = 0;
};

// Attaches each line's label by hash first: to the file of that hash with
// the line's path if there is one, else to every file of that hash not
// already named by a line of its own path and hash (files with the same
// bytes are the same sound). Only where no file has the line's hash does
// its path decide. A later line wins over an earlier one for the same file.
LabelMatch MatchLabels(const std::vector<LabelLine>& lines, const std::vector<LabelTarget>& files);

}  // namespace quorvel
