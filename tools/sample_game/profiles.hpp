#pragma once

// Game folders made to measure: a profile turns a seed (and a size, for the
// benchmark inputs of bench_profiles.hpp) into the block lists of sfx.pak and
// speech.pak. To add a profile, write a function from seed to GameContent
// and list it in the profile table of profiles.cpp.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "testing/archive_builder.hpp"
#include "tools/sample_game/game_blocks.hpp"

namespace quorvel::sample {

struct GameContent {
    std::vector<Block> sfx;
    std::vector<Block> speech;
};

struct Profile {
    std::string_view name;
    std::string_view summary;  // one line for --help
    GameContent (*make)(std::uint64_t seed, std::uint64_t size);
    bool sized = false;  // made at a size (bytes, or blocks for tiny-blocks) given with --size
};

inline constexpr std::string_view kDefaultProfile = "sample";
inline constexpr std::uint64_t kDefaultSeed = 1;

std::span<const Profile> Profiles();
// Null when there is no profile of that name.
const Profile* FindProfile(std::string_view name);

struct ArchiveSummary {
    std::uint64_t bytes = 0;   // the archive's length, final field included
    std::uint64_t blocks = 0;  // blocks written, final field not counted
};

// Writes (or overwrites) one archive file, its noise made from `seed`.
// Throws std::runtime_error when the file cannot be created or written.
ArchiveSummary WriteArchiveFile(const std::filesystem::path& path, const testing::Archive& archive,
                                std::uint64_t seed = kDefaultSeed);

}  // namespace quorvel::sample
