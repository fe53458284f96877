#pragma once

// The extraction rules stated plainly, from the README and not from the
// core, so that the two can be checked against each other: the fuzz targets
// compare every run with it, and the generator's --expect writes what it
// says a correct extraction gives. It favours being obviously right over
// being fast: it reads the archive by offset, a RIFF block's payload at a
// time, and states every file as a stretch of the archive's bytes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::model {

// `size` bytes of the archive from `offset` on.
struct Stretch {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

struct File {
    std::int64_t number = 0;
    std::string extension;  // "", ".wav" or ".AVQF"
    Stretch bytes;
};

struct Extraction {
    // In the order they are made, which is also number order.
    std::vector<File> files;
    // Numbers counted for a payload of exactly "RIFF": no file carries them.
    std::vector<std::int64_t> numbers_without_file;
    // Every payload byte meant to reach an output, block by block.
    std::vector<Stretch> payloads;
    // What the progress is advanced by over the whole archive.
    std::uint64_t progress = 0;
    bool truncated = false;
};

// Fills `out` with the archive's bytes from `offset` on.
using ReadAt = std::function<void(std::uint64_t offset, std::span<std::byte> out)>;

Extraction ExtractArchive(std::uint64_t size, const ReadAt& read);
Extraction ExtractArchive(std::span<const std::byte> archive);

// Cuts the payload of a RIFF block (signature included, longer than the
// signature), which starts at archive offset `offset`, into files numbered
// from `first_number` on.
std::vector<File> CarveRiffPayload(std::span<const std::byte> payload, std::int64_t first_number,
                                   std::uint64_t offset = 0);

// "sfx_0001.wav": the name of a file of archive `name`.
std::string FileName(std::string_view name, const File& file);

}  // namespace quorvel::model
