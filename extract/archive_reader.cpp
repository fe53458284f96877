#include "extract/archive_reader.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <functional>
#include <utility>

#include "extract/extract_error.hpp"

namespace quorvel {

ArchiveReader::ArchiveReader(InputFile& file, std::string path)
    : file_(file), path_(std::move(path)), size_(file.Size())
{
}

void ArchiveReader::Consume(std::size_t count)
{
    assert(count <= end_ - begin_);
    begin_ += count;
}

void ArchiveReader::Refill()
{
    assert(end_ - begin_ <= kMaxCarry);
    assert(window_end_ < size_);
    if (listener_ != nullptr) {
        listener_->WindowMoving();
    }
    RequireIntact();
    if (source_ == Source::kUndecided) {
        if (const auto view = file_.View(Position(), InputFile::ViewUse::kMost)) {
            source_ = Source::kViews;
            UseView(Position(), *view);
            return;
        }
        source_ = Source::kReads;
        buffer_.resize(kReadSize + kMaxCarry);
        window_ = buffer_.data();
    }
    if (source_ == Source::kViews) {
        ViewMore();
    } else {
        ReadMore();
    }
}

void ArchiveReader::ReadMore()
{
    const std::size_t carried = end_ - begin_;
    if (carried != 0 && begin_ != 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, carried);
    }
    begin_ = 0;
    end_ = carried;
    const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(kReadSize, size_ - window_end_));
    const std::size_t got = file_.ReadAt(window_end_, std::span<std::byte>(buffer_).subspan(end_, wanted));
    if (got == 0) {
        ThrowEndedEarly(window_end_);
    }
    end_ += got;
    window_end_ += got;
}

// The next view starts at the first unconsumed byte, so the carried bytes
// are in it too.
void ArchiveReader::ViewMore()
{
    const std::uint64_t from = Position();
    // After bytes passed over comes a block's length field, and often
    // another block to pass over: its bytes are not read in for nothing.
    const auto use = passed_over_ ? InputFile::ViewUse::kPeek : InputFile::ViewUse::kMost;
    passed_over_ = false;
    // Only a file that gave the first view is asked for more.
    UseView(from, file_.View(from, use).value_or(std::span<const std::byte>{}));
}

void ArchiveReader::UseView(std::uint64_t from, std::span<const std::byte> view)
{
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(view.size(), size_ - from));
    if (count <= end_ - begin_) {
        ThrowEndedEarly(window_end_);
    }
    window_ = view.data();
    begin_ = 0;
    end_ = count;
    window_end_ = from + count;
}

std::span<const std::byte> ArchiveReader::Ensure(std::size_t count)
{
    assert(count <= kMaxCarry && count <= Remaining());
    while (end_ - begin_ < count) {
        Refill();
    }
    return Available();
}

std::span<const std::byte> ArchiveReader::Next(std::uint64_t count)
{
    assert(count != 0 && count <= Remaining());
    if (begin_ == end_) {
        Refill();
    }
    return Available().first(static_cast<std::size_t>(std::min<std::uint64_t>(count, end_ - begin_)));
}

void ArchiveReader::Skip(std::uint64_t count)
{
    assert(count <= Remaining());
    const auto in_window = static_cast<std::size_t>(std::min<std::uint64_t>(count, end_ - begin_));
    Consume(in_window);
    count -= in_window;
    // The next view or read simply starts after them.
    window_end_ += count;
    passed_over_ = passed_over_ || count != 0;
}

InputFile* ArchiveReader::DirectSource()
{
    return source_ == Source::kReads && begin_ == end_ ? &file_ : nullptr;
}

void ArchiveReader::MovedOn(std::uint64_t count)
{
    assert(DirectSource() != nullptr && count <= Remaining());
    window_end_ += count;
}

bool ArchiveReader::InWindow(std::span<const std::byte> bytes) const
{
    const std::less_equal<const std::byte*> not_after;
    return window_ != nullptr && not_after(window_, bytes.data()) &&
           not_after(bytes.data() + bytes.size(), window_ + end_);
}

void ArchiveReader::RequireIntact(std::span<const std::byte> bytes) const
{
    if (source_ != Source::kViews) {
        return;
    }
    constexpr std::size_t kSmallestPage = 4096;
    const volatile std::byte* const data = bytes.data();
    for (std::size_t at = 0; at < bytes.size(); at += kSmallestPage) {
        static_cast<void>(data[at]);
    }
    if (!bytes.empty()) {
        static_cast<void>(data[bytes.size() - 1]);
    }
    if (!file_.ViewsIntact()) {
        ThrowEndedEarly(window_end_);
    }
}

void ArchiveReader::ThrowEndedEarly(std::uint64_t offset) const
{
    throw ExtractError(Failure{
        .kind = FailureKind::kEndedEarly,
        .description = "the archive ended early; it was " + std::to_string(size_) +
                       " bytes long when opened (was it changed while being read?)",
        .file = path_,
        .offset = offset,
    });
}

}  // namespace quorvel
