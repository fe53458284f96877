#pragma once

// The files a command line chooses, by pattern or by number:
//
//   sfx/sfx_0012.wav   a listed path
//   speech/*           a shell-style pattern (*, ?, [...]) matched against
//                      the listed path; one without "/" against the file
//                      name alone: sfx_001?.wav, *.AVQF
//   sfx:12             a number of an archive, or a range of them:
//   sfx:12-40          both ends included
//   speech:7-          from 7 on
//
// Numbers are the archive's own: a chosen file has the name and the bytes a
// full extraction gives it.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "extract/block_stream.hpp"

namespace quorvel {

// An operand that is neither a pattern nor a number or range it could be.
class BadOperand : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Whether `text` matches the shell-style `pattern`: "*" any run of
// characters but "/", "?" any one character but "/", "[...]" one of a set
// ("[0-9]", "[!a-z]" or "[^a-z]" for none of them), "\" takes the next
// character as it is.
bool MatchesPattern(std::string_view pattern, std::string_view text);

class Selection final : public FileChoice {
public:
    // `backslash_separates`: "\" is a path separator, as on Windows, rather
    // than the escape of the next character. Throws BadOperand.
    static Selection Parse(const std::vector<std::string>& operands, bool backslash_separates = false);

    bool Empty() const { return operands_.empty(); }
    bool Chooses(std::string_view archive, std::int64_t number, std::string_view path) override;
    // Whether an operand can only choose files of this archive ("speech:7",
    // "speech/*"): then the archive must be there.
    bool Names(std::string_view archive) const;
    // The operands that chose no file, as they were written.
    std::vector<std::string> Unmatched() const;

private:
    struct Operand {
        std::string written;
        std::string pattern;  // empty for a number range
        std::string archive;  // of a number range
        std::int64_t first = 0;
        std::optional<std::int64_t> last;  // nothing: no end
        bool matched = false;
    };

    std::vector<Operand> operands_;
};

}  // namespace quorvel
