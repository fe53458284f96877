#pragma once

// Game folders made to measure: a profile turns a seed into the block lists
// of sfx.pak and speech.pak. To add a profile, write a function from seed to
// GameContent in profiles.cpp and list it in the profile table there.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "tools/sample_game/archive_writer.hpp"

namespace quorvel::sample {

struct GameContent {
    std::vector<Block> sfx;
    std::vector<Block> speech;
};

struct Profile {
    std::string_view name;
    std::string_view summary;  // one line for --help
    GameContent (*make)(std::uint64_t seed);
};

inline constexpr std::string_view kDefaultProfile = "sample";
inline constexpr std::uint64_t kDefaultSeed = 1;

std::span<const Profile> Profiles();
// Null when there is no profile of that name.
const Profile* FindProfile(std::string_view name);

// Writes (or overwrites) one archive file. Throws std::runtime_error when
// the file cannot be created or written.
ArchiveSummary WriteArchiveFile(const std::filesystem::path& path, std::span<const Block> blocks);

struct GameSummary {
    ArchiveSummary sfx;
    ArchiveSummary speech;
};

// Creates `folder` if needed and writes sfx.pak and speech.pak into it.
GameSummary WriteGame(const std::filesystem::path& folder, const GameContent& game);

}  // namespace quorvel::sample
