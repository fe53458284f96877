#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "extract/archive_format.hpp"
#include "extract/file_system.hpp"

namespace quorvel {

// A window onto an archive, front to back: the file's own views where the
// platform maps files (a few MiB at a time), reads of at most 64 KiB into a
// buffer where it does not. Bytes stay in the window until consumed, so a
// parser can look a few bytes ahead across window boundaries. It only
// reads: whoever takes bytes from the window writes them (EntryWriter).
class ArchiveReader {
public:
    static constexpr std::size_t kReadSize = format::kChunkSize;
    // How many unconsumed bytes a refill can carry over to the next window.
    static constexpr std::size_t kMaxCarry = 64;
    static_assert(kMaxCarry < InputFile::kMinimumView, "a view must hold more than the bytes carried into it");

    // Told before the window moves, while the bytes it showed are still
    // valid, so that spans of it held back can be written out first.
    class WindowListener {
    public:
        virtual ~WindowListener() = default;
        virtual void WindowMoving() = 0;
    };

    ArchiveReader(InputFile& file, std::string path);

    // One listener at a time; nullptr for none.
    void Listen(WindowListener* listener) { listener_ = listener; }

    // Archive offset of the first unconsumed byte.
    std::uint64_t Position() const { return window_end_ - (end_ - begin_); }
    std::uint64_t Size() const { return size_; }
    std::uint64_t Remaining() const { return size_ - Position(); }

    std::span<const std::byte> Available() const { return {window_ + begin_, end_ - begin_}; }
    void Consume(std::size_t count);
    // Makes the bytes after the unconsumed ones (at most kMaxCarry of them)
    // available. Requires bytes to remain; throws if the file ends early.
    void Refill();
    // Makes at least `count` (<= kMaxCarry) bytes available. Requires them to remain.
    std::span<const std::byte> Ensure(std::size_t count);
    // The next bytes, at least one and at most `count`: what the window
    // holds, refilled when it is empty. Requires bytes to remain.
    std::span<const std::byte> Next(std::uint64_t count);
    // Goes `count` bytes (which must remain) further without looking at
    // them: the next view or read starts after them.
    void Skip(std::uint64_t count);

    // Where the archive is read rather than viewed and the window is empty:
    // the file itself, for the platform to copy bytes straight from, from
    // Position() on (OutputFile::CopyFrom); MovedOn must then say how many
    // it took. Nothing otherwise.
    InputFile* DirectSource();
    void MovedOn(std::uint64_t count);

    bool InWindow(std::span<const std::byte> bytes) const;
    // Throws "ended early" if the archive shrank under a view: its lost
    // bytes read as zeros, and nothing made from them may be kept. Looks at
    // every page of `bytes` first, so that a loss among them is seen.
    void RequireIntact(std::span<const std::byte> bytes = {}) const;

    const std::string& path() const { return path_; }

private:
    enum class Source { kUndecided, kViews, kReads };

    void ReadMore();
    void ViewMore();
    void UseView(std::uint64_t from, std::span<const std::byte> view);
    [[noreturn]] void ThrowEndedEarly(std::uint64_t offset) const;

    InputFile& file_;
    std::string path_;
    std::uint64_t size_;
    Source source_ = Source::kUndecided;
    std::vector<std::byte> buffer_;  // for reads only
    // The window: bytes [begin_, end_) of it are unconsumed, and end_ lies
    // at archive offset window_end_.
    const std::byte* window_ = nullptr;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t window_end_ = 0;
    bool passed_over_ = false;  // bytes after the window were skipped, unseen
    WindowListener* listener_ = nullptr;
};

}  // namespace quorvel
