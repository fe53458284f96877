#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "extract/file_system.hpp"

namespace quorvel::audio {

// A file read through a window of its bytes, read ahead at once: a decoder
// walking an MP3 asks for a frame header, then a frame, a few hundred bytes
// each, and every ask would otherwise be a system call.
class ReadAheadInput final : public InputFile {
public:
    static constexpr std::size_t kWindow = std::size_t{64} << 10;

    explicit ReadAheadInput(InputFile& file) : file_(file), window_(kWindow) {}

    std::uint64_t Size() override { return file_.Size(); }

    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        if (buffer.size() >= window_.size()) {
            return file_.ReadAt(offset, buffer);
        }
        if (offset < start_ || offset >= start_ + held_) {
            start_ = offset;
            held_ = file_.ReadAt(offset, window_);
        }
        const auto at = static_cast<std::size_t>(offset - start_);
        const std::size_t count = std::min(buffer.size(), held_ - std::min(at, held_));
        std::memcpy(buffer.data(), window_.data() + at, count);
        return count;
    }

private:
    InputFile& file_;
    std::vector<std::byte> window_;
    std::uint64_t start_ = 0;
    std::size_t held_ = 0;
};

}  // namespace quorvel::audio
