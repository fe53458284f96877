#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "extract/file_system.hpp"

namespace quorvel::audio {

// Bytes held in memory, read as a file: a sound made or received whole.
class MemoryInput final : public InputFile {
public:
    explicit MemoryInput(std::vector<std::byte> bytes) : bytes_(std::move(bytes)) {}

    std::uint64_t Size() override { return bytes_.size(); }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        if (offset >= bytes_.size()) {
            return 0;
        }
        const std::size_t count = std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset);
        std::memcpy(buffer.data(), bytes_.data() + offset, count);
        return count;
    }
    const std::vector<std::byte>& bytes() const { return bytes_; }

private:
    std::vector<std::byte> bytes_;
};

}  // namespace quorvel::audio
