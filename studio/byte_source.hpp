#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "extract/file_system.hpp"

namespace quorvel::studio {

// Bytes read in order, a buffer at a time: a file of an archive, an
// extracted file, or a test's memory. Read returns 0 only at the end and
// throws when the bytes cannot be read.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::size_t Read(std::span<std::byte> buffer) = 0;
};

// A file's bytes from an offset on, read in order.
class InputFileSource final : public ByteSource {
public:
    InputFileSource(std::unique_ptr<InputFile> file, std::uint64_t offset) : file_(std::move(file)), at_(offset) {}
    std::size_t Read(std::span<std::byte> buffer) override
    {
        const std::size_t got = file_->ReadAt(at_, buffer);
        at_ += got;
        return got;
    }

private:
    std::unique_ptr<InputFile> file_;
    std::uint64_t at_;
};

}  // namespace quorvel::studio
