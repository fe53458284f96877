#pragma once

#include <memory>
#include <string>

#include "extract/file_system.hpp"

namespace quorvel {

// A file of the folder being packed, opened once without following a link
// in its place: what the pack reads is the file the user put there, never
// what a link planted by a mod points to. Throws PackRefused naming the
// file (as a path one can open from where the command ran) and the way out.
std::unique_ptr<InputFile> OpenFolderFile(FileSystem& files, const std::string& path);

}  // namespace quorvel
