#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "extract/block_stream.hpp"
#include "extract/file_system.hpp"
#include "pack/pack_file_system.hpp"

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

// What a run says when it failed where there was no sfx.pak: most often
// it was started in the wrong folder.
inline constexpr std::string_view kNoGameHint =
    "Run it in the game's folder (the one with sfx.pak), or give that folder with -C DIR.";

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

// Whether something has the name of an archive of the game (a link the
// user made counts: archives are opened through it).
inline bool ArchiveIsThere(const FileSystem& files, PackFileSystem& pack_files, const Places& places,
                           std::string_view name)
{
    return pack_files.LookAt(Locate(files, places, name).archive_path) != PackFileSystem::Found::kNothing;
}

// Whether `places` names a game folder: one with sfx.pak in it.
inline bool HoldsGame(const FileSystem& files, PackFileSystem& pack_files, const Places& places)
{
    const auto found = pack_files.LookAt(Locate(files, places, kSoundEffects).archive_path);
    return found != PackFileSystem::Found::kNothing && found != PackFileSystem::Found::kFolder;
}

}  // namespace quorvel
