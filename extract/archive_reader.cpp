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
    FinishWrites();
    assert(end_ - begin_ <= kMaxCarry);
    assert(window_end_ < size_);
    if (source_ == Source::kUndecided) {
        if (const auto view = file_.View(Position())) {
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
    const std::size_t got = file_.Read(std::span<std::byte>(buffer_).subspan(end_, wanted));
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
    // Only a file that gave the first view is asked for more.
    UseView(from, file_.View(from).value_or(std::span<const std::byte>{}));
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

void ArchiveReader::CopyTo(OutputFile& output, std::uint64_t length)
{
    assert(length <= Remaining());
    while (length != 0) {
        if (begin_ == end_) {
            const std::uint64_t moved = output.KeepsBytes() ? CopyDirect(output, length) : PassOver(length);
            window_end_ += moved;
            length -= moved;
            if (length == 0) {
                break;
            }
            Refill();
        }
        const auto window = Available();
        const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(window.size(), length));
        WriteNow(output, window.first(count));
        Consume(count);
        length -= count;
    }
}

// A read archive's bytes that are not in the window yet go to the
// platform's direct copy, if it has one; a view's are written from where
// they lie, which costs less than the kernel's file-to-file copy.
std::uint64_t ArchiveReader::CopyDirect(OutputFile& output, std::uint64_t length)
{
    if (source_ != Source::kReads) {
        return 0;
    }
    FinishWrites();
    return output.CopyFrom(file_, length);
}

// Bytes nobody keeps are not looked at: a view simply starts after them.
std::uint64_t ArchiveReader::PassOver(std::uint64_t length)
{
    if (source_ == Source::kReads) {
        return file_.Skip(length);
    }
    return length;
}

void ArchiveReader::WriteOut(OutputFile& output, std::span<const std::byte> bytes)
{
    HeldBack& held = held_back_;
    if (held.output == &output && held.bytes.data() + held.bytes.size() == bytes.data()) {
        held.bytes = {held.bytes.data(), held.bytes.size() + bytes.size()};
        return;
    }
    FinishWrites();
    if (InWindow(bytes)) {
        held = {.output = &output, .bytes = bytes};
    } else {
        WriteNow(output, bytes);
    }
}

void ArchiveReader::FinishWrites()
{
    if (held_back_.output != nullptr) {
        const HeldBack held = std::exchange(held_back_, {});
        WriteNow(*held.output, held.bytes);
    }
    RequireIntact();
}

bool ArchiveReader::InWindow(std::span<const std::byte> bytes) const
{
    const std::less_equal<const std::byte*> not_after;
    return not_after(window_, bytes.data()) && not_after(bytes.data() + bytes.size(), window_ + end_);
}

void ArchiveReader::WriteNow(OutputFile& output, std::span<const std::byte> bytes)
{
    if (source_ != Source::kViews) {
        output.Write(bytes);
        return;
    }
    // Bytes of a view that the file has lost fail a write with "bad
    // address" where the kernel touches them; touched here first, they
    // read as zeros and the loss is seen for what it is.
    try {
        RequireIntact(bytes);
        output.Write(bytes);
    } catch (const ExtractError&) {
        RequireIntact(bytes);
        throw;
    }
}

void ArchiveReader::RequireIntact(std::span<const std::byte> bytes) const
{
    constexpr std::size_t kSmallestPage = 4096;
    const volatile std::byte* const data = bytes.data();
    for (std::size_t at = 0; at < bytes.size(); at += kSmallestPage) {
        static_cast<void>(data[at]);
    }
    if (!bytes.empty()) {
        static_cast<void>(data[bytes.size() - 1]);
    }
    RequireIntact();
}

void ArchiveReader::RequireIntact() const
{
    if (!file_.ViewsIntact()) {
        ThrowEndedEarly(window_end_);
    }
}

void ArchiveReader::ThrowEndedEarly(std::uint64_t offset) const
{
    throw ExtractError(Failure{
        .number = 0,
        .description = "the archive ended early; it was " + std::to_string(size_) +
                       " bytes long when opened (was it changed while being read?)",
        .file = path_,
        .offset = offset,
    });
}

}  // namespace quorvel
