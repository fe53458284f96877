#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "extract/block_stream.hpp"
#include "extract/file_system.hpp"

namespace quorvel {

// The game's archives, in the order every run handles them: the sound
// effects always, the speech when asked for.
inline constexpr std::string_view kSoundEffects = "sfx";
inline constexpr std::string_view kSpeech = "speech";
inline constexpr std::array<std::string_view, 2> kArchiveNames = {kSoundEffects, kSpeech};

// Where the archives are and where their folders go; empty means the
// current folder, and beside the archives.
struct Places {
    std::string game_folder;
    std::string output_folder;
};

// One archive of the game and where a run puts its folder.
inline ArchiveLocation Locate(const FileSystem& files, const Places& places, std::string_view name)
{
    return ArchiveLocation::OfRun(files, std::string(name), places.game_folder, places.output_folder);
}

// The archives a run handles, in order.
inline std::vector<ArchiveLocation> ArchivesOfRun(const FileSystem& files, const Places& places, bool with_speech)
{
    std::vector<ArchiveLocation> archives = {Locate(files, places, kSoundEffects)};
    if (with_speech) {
        archives.push_back(Locate(files, places, kSpeech));
    }
    return archives;
}

}  // namespace quorvel
