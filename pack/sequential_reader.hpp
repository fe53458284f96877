#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "extract/file_system.hpp"

namespace quorvel {

// Reads a file front to back through one 64 KiB buffer, skipping what is
// not wanted; for the few bytes of the old archive that a new one keeps
// as they are, and for the old bytes a dry run compares with.
class SequentialReader {
public:
    static constexpr std::size_t kBufferSize = 0x10000;

    SequentialReader(InputFile& file, std::string path) : file_(file), path_(std::move(path)), buffer_(kBufferSize) {}

    std::uint64_t Position() const { return position_; }
    void SkipTo(std::uint64_t offset);
    // The next bytes, at most `count` and at most a buffer's worth; empty
    // only at the end of the file.
    std::span<const std::byte> Next(std::size_t count);

private:
    InputFile& file_;
    std::string path_;
    std::vector<std::byte> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t position_ = 0;  // of buffer_[begin_]
};

}  // namespace quorvel
