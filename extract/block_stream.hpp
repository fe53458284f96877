#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "extract/extraction_listener.hpp"
#include "extract/file_system.hpp"

namespace quorvel {

std::string ArchivePath(std::string_view name);

// One archive and where its files go: `name` ("sfx") names the archive,
// the output folder and its files; the paths are as the user would open
// them from the current folder.
struct ArchiveLocation {
    std::string name;
    std::string archive_path;   // "sfx.pak", or "game/sfx.pak"
    std::string output_folder;  // "sfx", or "out/sfx"

    // {name}.pak in `game_folder` and the folder {name} in `output_parent`;
    // an empty folder stands for the current one.
    static ArchiveLocation Of(const FileSystem& files, const std::string& name, const std::string& game_folder = {},
                              const std::string& output_parent = {});
    // Where a run puts the archives' folders: `output_folder` if one is
    // given, else the game folder, beside the archives.
    static std::string OutputParent(const std::string& game_folder, const std::string& output_folder)
    {
        return output_folder.empty() ? game_folder : output_folder;
    }
    // As a run places them: the folder {name} in OutputParent.
    static ArchiveLocation OfRun(const FileSystem& files, const std::string& name, const std::string& game_folder,
                                 const std::string& output_folder);
};

// Which files of an archive a run writes; the others are passed over (the
// bytes of blocks written whole unread).
class FileChoice {
public:
    virtual ~FileChoice() = default;
    // `number`: the file's number in its archive; `path`: "sfx/sfx_0012.wav".
    virtual bool Chooses(std::string_view archive, std::int64_t number, std::string_view path) = 0;
};

struct ExtractionOptions {
    // Every file when nothing; otherwise only the chosen ones, and the
    // output folder is made for the first of them.
    FileChoice* choice = nullptr;
    FileSystem::IfTaken if_taken = FileSystem::IfTaken::kReplace;
};

// Unpacks the archive into its output folder, one numbered file per block
// and per carved sound. Throws ExtractError on failure; files finished
// before then stay, the one being written is thrown away (an older file it
// was to replace stays as it was).
void ExtractArchive(const ArchiveLocation& location, FileSystem& files, ExtractionListener& listener,
                    const ExtractionOptions& options = {});
// The block stream alone, over an archive that is open already, for runs
// that open it for reasons of their own: makes no folder and checks nothing
// first.
void WalkArchive(const ArchiveLocation& location, InputFile& archive, FileSystem& files, ExtractionListener& listener);
// The same for {name}.pak in the current folder, into the folder {name}.
void ExtractArchive(const std::string& name, FileSystem& files, ExtractionListener& listener);

}  // namespace quorvel
