#pragma once

// The names of files made from labels: exported files, "sfx_0012.flac", or with the sound's label
// "sfx_0012 door creak.flac". Labels are typed by users and shared between
// them, so a name made from one is made safe for every file system the
// files may be copied to.

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvel {

// The longest file name made, in bytes: the common limit is 255 bytes (or
// UTF-16 units, never more than the bytes), and a file is first written
// under a temporary name some 30 bytes longer.
inline constexpr std::size_t kLongestExportName = 200;

// `name` and ".extension" as a file name that Windows, macOS and Linux all
// take: characters they refuse (/ \ : * ? " < > |, control characters,
// bytes that are not UTF-8) become "_"; the name is cut, at a character's
// end, so that the whole is at most `most_bytes`; dots and spaces at its end
// go (Windows drops them); a Windows device name (CON, NUL, COM1, ...,
// whatever follows a dot) gets a "_" in front; an empty name becomes "_".
// `extension` is taken as it is: it is the program's own.
std::string SafeFileName(std::string_view name, std::string_view extension,
                         std::size_t most_bytes = kLongestExportName);

// The name a downloaded file gets from its label: its number, the label,
// its extension (0042, "door creak", ".wav" -> "0042 door creak.wav"), made
// safe as SafeFileName makes it.
std::string DownloadName(std::int64_t number, std::string_view extension, std::string_view label);

// An exported sound's file name: its stem ("sfx_0012"), then a space and
// its label where it has one, then the extension, made safe.
std::string ExportFileName(std::string_view stem, std::string_view label, std::string_view extension);

}  // namespace quorvel
