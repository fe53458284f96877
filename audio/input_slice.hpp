#pragma once

#include <algorithm>

#include "extract/file_system.hpp"

namespace quorvel::audio {

// A run of a file's bytes read as a file of its own: an archived sound where
// it lies in its archive (the listing's offset and size), for the sound
// library, which reads every sound from offset 0.
class InputSlice final : public InputFile {
public:
    InputSlice(InputFile& file, std::uint64_t offset, std::uint64_t size) : file_(file), offset_(offset), size_(size) {}

    std::uint64_t Size() override { return size_; }

    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        if (offset >= size_) {
            return 0;
        }
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size_ - offset));
        return file_.ReadAt(offset_ + offset, buffer.first(count));
    }

private:
    InputFile& file_;
    std::uint64_t offset_;
    std::uint64_t size_;
};

}  // namespace quorvel::audio
