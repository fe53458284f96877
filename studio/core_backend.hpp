#pragma once

#include <cstdio>
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

enum class ListingStyle { kColumns, kTabs, kJson };

// --list --labels FILE: the listing of `--list` (speech.pak too when
// `speech`), each file with the label the list gives it (matched as the
// studio matches a shared list): a "label" key in JSON (null where none), a
// last column otherwise. Returns the exit status, as --list's.
int ListWithLabels(const CorePlaces& places, bool speech, ListingStyle style, const std::string& labels_file,
                   FileSystem& files, PackFileSystem& pack_files, std::FILE* out, std::FILE* messages);

// The studio's backend over the program's core: the listing, the bytes of a
// listed file, and the extraction and pack runs, as the terminal program
// has them. The only part of the studio that knows the core.
std::unique_ptr<StudioBackend> MakeCoreBackend(CorePlaces places, FileSystem& files, PackFileSystem& pack_files);

}  // namespace quorvel::studio
