#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "extract/file_system.hpp"

namespace quorvel {

// A window onto an archive, front to back: the file's own views where the
// platform maps files (a few MiB at a time), reads of at most 64 KiB into a
// buffer where it does not. Bytes stay in the window until consumed, so a
// parser can look a few bytes ahead across window boundaries.
class ArchiveReader {
public:
    static constexpr std::size_t kReadSize = 0x10000;
    // How many unconsumed bytes a refill can carry over to the next window.
    static constexpr std::size_t kMaxCarry = 64;
    static_assert(kMaxCarry < InputFile::kMinimumView, "a view must hold more than the bytes carried into it");

    ArchiveReader(InputFile& file, std::string path);

    // Archive offset of the first unconsumed byte.
    std::uint64_t Position() const { return window_end_ - (end_ - begin_); }
    std::uint64_t Remaining() const { return size_ - Position(); }

    std::span<const std::byte> Available() const { return {window_ + begin_, end_ - begin_}; }
    void Consume(std::size_t count);
    // Makes the bytes after the unconsumed ones (at most kMaxCarry of them)
    // available. Requires bytes to remain; throws if the file ends early.
    void Refill();
    // Makes at least `count` (<= kMaxCarry) bytes available. Requires them to remain.
    std::span<const std::byte> Ensure(std::size_t count);

    // Moves `length` bytes (which must remain) into `output`, passing over
    // them unread if the output keeps nothing.
    void CopyTo(OutputFile& output, std::uint64_t length);
    // Writes `bytes` of the archive (from the window, or copied from it) to
    // `output`. Bytes of the window may be held back to go out with the
    // ones after them, in one write, until the window moves, another output
    // is written or FinishWrites is called.
    void WriteOut(OutputFile& output, std::span<const std::byte> bytes);
    // Writes what is held back; then throws "ended early" if the archive
    // shrank under a view, whose missing bytes read as zeros. Called before
    // an output is closed, so that no file made from lost bytes is kept.
    void FinishWrites();

    const std::string& path() const { return path_; }

private:
    enum class Source { kUndecided, kViews, kReads };

    struct HeldBack {
        OutputFile* output = nullptr;
        std::span<const std::byte> bytes;
    };

    void WriteNow(OutputFile& output, std::span<const std::byte> bytes);
    std::uint64_t CopyDirect(OutputFile& output, std::uint64_t length);
    std::uint64_t PassOver(std::uint64_t length);
    bool InWindow(std::span<const std::byte> bytes) const;
    void RequireIntact() const;
    void ReadMore();
    void ViewMore();
    void UseView(std::uint64_t from, std::span<const std::byte> view);
    // The same, having looked at every page of `bytes`.
    void RequireIntact(std::span<const std::byte> bytes) const;
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
    HeldBack held_back_;
};

}  // namespace quorvel
