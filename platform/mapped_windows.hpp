#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace quorvel {

struct WindowSlot;

// A file seen through a mapping, a few MiB at a time, for reading it front
// to back without copying its bytes.
//
// Another program may cut the file short while a window is mapped; touching
// a page it lost would end this one with a bus error. Those pages are
// instead replaced with zeros by a signal handler and the loss is noted
// (Intact()), so that the reader can report the archive as ended early.
class MappedWindows {
public:
    // Bytes mapped at a time; a window starts on a page boundary.
    static constexpr std::size_t kWindowSize = std::size_t{4} << 20;
    // Mapped where the reader means only to peek (see From).
    static constexpr std::size_t kPeekWindowSize = std::size_t{64} << 10;

    ~MappedWindows();
    MappedWindows(const MappedWindows&) = delete;
    MappedWindows& operator=(const MappedWindows&) = delete;

    // Nothing where no window can be watched or mapped: read the file instead.
    static std::unique_ptr<MappedWindows> Open(int fd, const std::string& path, std::uint64_t size);

    // The bytes from `offset` on, to the end of the window that holds them;
    // empty if the file now ends before `offset`. `whole`: they will all be
    // looked at, so the window is read in at once rather than page by page
    // as it is touched. Throws ExtractError when the mapping fails.
    std::span<const std::byte> From(std::uint64_t offset, bool whole);
    bool Intact() const;

private:
    MappedWindows(int fd, std::string path, std::uint64_t size, WindowSlot& slot);
    void Unmap();

    int fd_;
    std::string path_;
    std::uint64_t size_;
    WindowSlot& slot_;
    void* window_ = nullptr;
    std::size_t window_size_ = 0;
};

}  // namespace quorvel
