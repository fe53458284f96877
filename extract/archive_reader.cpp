#include "extract/archive_reader.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "extract/extract_error.hpp"

namespace quorvel {

ArchiveReader::ArchiveReader(InputFile& file, std::string path)
    : file_(file), path_(std::move(path)), size_(file.Size()), buffer_(kReadSize + kMaxCarry)
{
}

std::span<const std::byte> ArchiveReader::Available() const
{
    return std::span<const std::byte>(buffer_).subspan(begin_, end_ - begin_);
}

void ArchiveReader::Consume(std::size_t count)
{
    assert(count <= end_ - begin_);
    begin_ += count;
}

void ArchiveReader::Refill()
{
    const std::size_t carried = end_ - begin_;
    assert(carried <= kMaxCarry);
    assert(file_position_ < size_);
    if (carried != 0 && begin_ != 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, carried);
    }
    begin_ = 0;
    end_ = carried;
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kReadSize, size_ - file_position_));
    const std::size_t got = file_.Read(std::span<std::byte>(buffer_).subspan(end_, wanted));
    if (got == 0) {
        ThrowEndedEarly();
    }
    end_ += got;
    file_position_ += got;
}

std::span<const std::byte> ArchiveReader::Ensure(std::size_t count)
{
    assert(count <= kMaxCarry && count <= Remaining());
    while (end_ - begin_ < count) {
        Refill();
    }
    return Available();
}

void ArchiveReader::CopyTo(OutputFile& output, std::uint64_t length)
{
    assert(length <= Remaining());
    while (length != 0) {
        if (begin_ == end_) {
            const std::uint64_t moved = output.CopyFrom(file_, length);
            file_position_ += moved;
            length -= moved;
            if (length == 0) {
                break;
            }
            Refill();
        }
        const auto window = Available();
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(window.size(), length));
        output.Write(window.first(count));
        Consume(count);
        length -= count;
    }
}

void ArchiveReader::ThrowEndedEarly() const
{
    throw ExtractError(Failure{
        .number = 0,
        .description = "the archive ended early; it was " + std::to_string(size_) +
                       " bytes long when opened (was it changed while being read?)",
        .file = path_,
        .offset = file_position_,
    });
}

}  // namespace quorvel
