#pragma once

#include <map>
#include <memory>
#include <string>

#include "studio/studio_backend.hpp"

namespace quorvel {
class FileSystem;
class PackFileSystem;
}  // namespace quorvel

namespace quorvel::studio {

struct CorePlaces {
    std::string game_folder;    // empty: the current folder
    std::string output_folder;  // empty: the game folder
};

// --list --labels FILE: the label the shared list `labels_file` gives each
// file extraction would write (sfx, and speech when `speech`), matched as
// the studio matches a shared list: path -> label. Throws RunFailed.
std::map<std::string, std::string> LabelsFromList(const CorePlaces& places, bool speech, const std::string& labels_file,
                                                  FileSystem& files, PackFileSystem& pack_files);

// The studio's backend over the program's core: the reading surface of the
// game folder, and the extraction and pack runs, as the terminal program
// has them. The only part of the studio that knows the core.
std::unique_ptr<StudioBackend> MakeCoreBackend(CorePlaces places, FileSystem& files, PackFileSystem& pack_files);

}  // namespace quorvel::studio
