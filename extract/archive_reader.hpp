#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "extract/file_system.hpp"

namespace quorvel {

// A window onto an archive, read front to back in reads of at most 64 KiB.
// Bytes stay in the window until consumed, so a parser can look a few bytes
// ahead across read boundaries without holding more than one read's worth.
class ArchiveReader {
public:
    static constexpr std::size_t kReadSize = 0x10000;
    // How many unconsumed bytes a refill can carry over to the next read.
    static constexpr std::size_t kMaxCarry = 64;

    ArchiveReader(InputFile& file, std::string path);

    // Archive offset of the first unconsumed byte.
    std::uint64_t Position() const { return file_position_ - (end_ - begin_); }
    std::uint64_t Remaining() const { return size_ - Position(); }

    std::span<const std::byte> Available() const;
    void Consume(std::size_t count);
    // Reads the next bytes behind the unconsumed ones (at most kMaxCarry of
    // them). Requires bytes to remain; throws if the file ends early.
    void Refill();
    // Makes at least `count` (<= kMaxCarry) bytes available. Requires them to remain.
    std::span<const std::byte> Ensure(std::size_t count);

    // Moves `length` bytes (which must remain) into `output`, handing spans
    // that are not in the window to the platform's direct copy where it has one.
    void CopyTo(OutputFile& output, std::uint64_t length);

    const std::string& path() const { return path_; }

private:
    [[noreturn]] void ThrowEndedEarly() const;

    InputFile& file_;
    std::string path_;
    std::uint64_t size_;
    std::uint64_t file_position_ = 0;
    std::vector<std::byte> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

}  // namespace quorvel
