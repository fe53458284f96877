#pragma once

// The labels file of an output folder and the hashes that let a list find
// its files again, read and written through the core's file seams.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "app/game_reader.hpp"
#include "labels/labels_file.hpp"
#include "pack/pack_file_system.hpp"

namespace quorvel {

// A labels file or a shared list larger than this is refused, not read.
inline constexpr std::uint64_t kLargestLabelsFile = 64 << 20;

// The labels file of `output_folder` (empty: the current folder).
std::string LabelsFilePath(const FileSystem& files, const std::string& output_folder);

// The text of the labels file at `path`, which lies in a folder a user or
// a mod fills: read without following a link in its place, only where it
// is a regular file within the size limit. Nothing when there is none.
// Throws ExtractError naming the file and what is wrong.
std::optional<std::string> ReadLabelsFile(FileSystem& files, const std::string& path);

// A shared list the user named (--labels FILE), a link the user made
// followed. Throws ExtractError (missing, not a file, too large).
std::string ReadSharedList(FileSystem& files, const std::string& path);

// Writes `text` under a temporary name beside `path`, then renames it over
// whatever has that name (never through it): a reader sees the old file or
// the new one, and a failure leaves the old one. Throws ExtractError.
void WriteLabelsFile(PackFileSystem& pack_files, const std::string& path, std::string_view text);

// XXH64 (seed 0) of all of a file's bytes, in the labels file's spelling:
// what lets a list, or an exported file, find its file again.
std::string ContentHash(InputFile& file);
// The same of a listed file's bytes, read from its archive. Throws ExtractError.
std::string ContentHash(const GameReader& game, const ListedFile& file);

// The labels a list gives the files of `game`, matched by hash first.
LabelMatch MatchList(const GameReader& game, std::string_view list);

}  // namespace quorvel
