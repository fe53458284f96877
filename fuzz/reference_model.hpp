#pragma once

// A plain, whole-archive-in-memory statement of the extraction rules, kept
// apart from the streaming code so that the two can be checked against each
// other. It favours being obviously right over being fast or small.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quorvel::model {

using Bytes = std::vector<std::byte>;

struct File {
    std::int64_t number = 0;
    std::string extension;  // "", ".wav" or ".AVQF"
    Bytes bytes;
};

struct Extraction {
    // In the order they are made, which is also number order.
    std::vector<File> files;
    // Numbers counted for a payload of exactly "RIFF": no file carries them.
    std::vector<std::int64_t> numbers_without_file;
    // Every payload byte meant to reach an output, in archive order.
    Bytes payload_bytes;
    // What the progress is advanced by over the whole archive.
    std::uint64_t progress = 0;
    bool truncated = false;
};

// Cuts the payload of a RIFF block (signature included, longer than the
// signature) into files numbered from `first_number` on.
std::vector<File> CarveRiffPayload(std::span<const std::byte> payload, std::int64_t first_number);

Extraction ExtractArchive(std::span<const std::byte> archive);

// "sfx/sfx_0001.wav": where a file of archive `name` ends up.
std::string OutputPath(const std::string& name, const File& file);

}  // namespace quorvel::model
