#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "extract/output_names.hpp"

namespace quorvel {

// Why a file is made, which also decides its extension.
enum class EntryKind {
    kEmpty,  // a block of length 4 or less
    kShort,  // a block of length 5 to 7: its 1 to 3 payload bytes
    kAvqf,   // a block tagged "AVQF", written whole
    kData,   // any other block written whole
    kSound,  // a sound carved out of a RIFF block
    kTail,   // the bytes after a sound's declared end
};

std::string_view KindName(EntryKind kind);
std::string_view ExtensionOf(EntryKind kind);

// A file the extraction finished.
struct Entry {
    std::string folder;     // the output folder's own name: "sfx"
    std::string file_name;  // "sfx_0001.wav"
    std::int64_t number = 0;
    EntryKind kind = EntryKind::kData;
    // Archive offset of its first byte; for a file with no bytes, where
    // its block's payload starts.
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    // For a sound, its first bytes (up to kHeadSize): enough for its format.
    std::vector<std::byte> head;

    static constexpr std::size_t kHeadSize = 4096;

    // "sfx/sfx_0001.wav": where it lies under the output folder, "/"-separated.
    std::string RelativePath() const { return ListedPath(folder, file_name); }
};

}  // namespace quorvel
