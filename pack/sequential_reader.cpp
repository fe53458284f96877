#include "pack/sequential_reader.hpp"

#include <algorithm>
#include <cassert>

namespace quorvel {

void SequentialReader::SkipTo(std::uint64_t offset)
{
    assert(offset >= position_);
    // Past what is buffered, the file skips by seeking where it can.
    const std::size_t buffered = end_ - begin_;
    if (offset - position_ > buffered) {
        const std::uint64_t beyond = offset - position_ - buffered;
        const std::uint64_t skipped = file_.Skip(beyond);
        begin_ = end_ = 0;
        position_ += buffered + skipped;
    }
    while (position_ < offset) {
        const auto skipped = Next(static_cast<std::size_t>(std::min<std::uint64_t>(offset - position_, kBufferSize)));
        if (skipped.empty()) {
            return;
        }
    }
}

std::span<const std::byte> SequentialReader::Next(std::size_t count)
{
    if (begin_ == end_) {
        begin_ = 0;
        end_ = file_.Read(buffer_);
    }
    const std::size_t taken = std::min(count, end_ - begin_);
    const auto bytes = std::span<const std::byte>(buffer_).subspan(begin_, taken);
    begin_ += taken;
    position_ += taken;
    return bytes;
}

}  // namespace quorvel
