#pragma once

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

// The studio's backend over the program's core: the listing, the bytes of a
// listed file, and the extraction and pack runs, as the terminal program
// has them. The only part of the studio that knows the core.
std::unique_ptr<StudioBackend> MakeCoreBackend(CorePlaces places, FileSystem& files, PackFileSystem& pack_files);

}  // namespace quorvel::studio
