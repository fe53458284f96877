#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel::studio {

// Paths arrive as UTF-8 (the file systems of the core take them so on
// every platform); this is their std::filesystem form.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8FromPath(const std::filesystem::path& path);

// The whole of a small text file, or nothing when there is no file of that
// name. Throws std::runtime_error naming the file when it cannot be read or
// holds more than `limit` bytes.
std::optional<std::string> ReadTextFile(const std::filesystem::path& path, std::uintmax_t limit);

// Writes `text` under a temporary name in the same folder, then renames it
// over `path`: a reader sees the old file or the new one, never half of
// one, and a failure (a full disk) leaves the old file as it was. Throws
// std::runtime_error naming the file and the cause.
void ReplaceFile(const std::filesystem::path& path, std::string_view text);

// A name beside `path` that no file is likely to have: `path` with
// ".tmp-" and 16 random hex digits added.
std::filesystem::path TemporaryBeside(const std::filesystem::path& path);

}  // namespace quorvel::studio
