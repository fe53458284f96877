#pragma once

// What a correct extraction of a generated game writes, stated from the
// block descriptions alone: which entry each sound, run of stray bytes and
// data block becomes, and its bytes, made again by the same generator. The
// archive bytes are never read, so these files can judge an extractor
// without sharing any of its parsing.
//
// The rules, per archive, numbers counting from 1:
//   - every block takes the next number; a file is `{name}_{NNNN}{ext}`,
//     the number zero-padded to at least 4 digits;
//   - a payload shorter than 4 bytes: those bytes, no extension;
//   - a payload of exactly "RIFF": no file, but its number is used up;
//   - a payload starting with "AVQF": the whole payload, ".AVQF";
//   - any other signature: the whole payload, no extension;
//   - a RIFF block: each sound in ".wav" (the first takes the block's
//     number), the stray bytes after a sound in a file without extension
//     numbered right after it, the next sound after that.
// Generated sounds declare their true size and hold no "RIFF" that would
// start a sound, so each is kept whole; a data block that starts with
// "RIFF" and goes on would be carved by the extractor, which these rules
// do not state, so it is refused.

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <span>
#include <string>
#include <string_view>

#include "tools/sample_game/archive_writer.hpp"
#include "tools/sample_game/profiles.hpp"

namespace quorvel::sample {

inline constexpr std::string_view kAvqfExtension = ".AVQF";
inline constexpr std::string_view kWavExtension = ".wav";

// "sfx", 12, ".wav" -> "sfx_0012.wav"; 10000 stays "sfx_10000".
std::string ExpectedFileName(std::string_view archive_name, std::uint64_t number, std::string_view extension);

// Receives the expected entries of one archive in number order.
class ExpectedEntrySink {
public:
    virtual ~ExpectedEntrySink() = default;
    // The stream for entry `number`'s bytes, used until the next call.
    virtual std::ostream& Open(std::uint64_t number, std::string_view extension) = 0;
};

struct ExpectedSummary {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
    std::uint64_t last_number = 0;  // numbers used, the "RIFF"-only payloads' included
};

// Streams the expected entries of an archive of `blocks` into `sink`.
// Throws std::domain_error for a block whose outcome the rules above do not
// state (checked before anything is written).
ExpectedSummary WriteExpectedEntries(std::span<const Block> blocks, ExpectedEntrySink& sink);

struct ExpectedGameSummary {
    ExpectedSummary sfx;
    ExpectedSummary speech;
};

// Writes `folder`/sfx/sfx_0001... and `folder`/speech/speech_0001...: the
// files extracting both archives of `game` must give. Throws
// std::runtime_error when a file cannot be written, and std::domain_error
// as WriteExpectedEntries does.
ExpectedGameSummary WriteExpectedGame(const std::filesystem::path& folder, const GameContent& game);

}  // namespace quorvel::sample
