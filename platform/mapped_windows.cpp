#include "platform/mapped_windows.hpp"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>

#include "platform/posix_descriptor.hpp"

namespace quorvel {

// Where a window lies, for the signal handler: only lock-free atomics,
// which a handler may read and write.
struct WindowSlot {
    std::atomic<bool> taken{false};
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    std::atomic<bool> lost_bytes{false};
};

namespace {

#if defined(MAP_POPULATE)
constexpr int kPopulate = MAP_POPULATE;
#else
constexpr int kPopulate = 0;  // macOS: pages come in as they are touched
#endif

// Windows open at once: an archive being read and, at most, a few beside it.
std::array<WindowSlot, 8> g_slots;
std::uintptr_t g_page_size = 0;
struct sigaction g_earlier_handler {};

// A bus error in a window is a page its file no longer has: a page of
// zeros takes its place and the access is made again. Any other bus error
// goes on to whatever handled it before.
extern "C" void OnBusError(int number, siginfo_t* info, void* context)
{
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (auto& slot : g_slots) {
        if (address >= slot.begin.load() && address < slot.end.load()) {
            void* page = reinterpret_cast<void*>(address & ~(g_page_size - 1));
            if (::mmap(page, g_page_size, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
                slot.lost_bytes.store(true);
                return;
            }
        }
    }
    if ((g_earlier_handler.sa_flags & SA_SIGINFO) != 0) {
        g_earlier_handler.sa_sigaction(number, info, context);
    } else if (g_earlier_handler.sa_handler == SIG_DFL || g_earlier_handler.sa_handler == SIG_IGN) {
        // The access faults again and takes the default action.
        ::sigaction(SIGBUS, &g_earlier_handler, nullptr);
    } else {
        g_earlier_handler.sa_handler(number);
    }
}

bool HandlerInstalled()
{
    static const bool installed = [] {
        g_page_size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        ::sigemptyset(&action.sa_mask);
        return ::sigaction(SIGBUS, &action, &g_earlier_handler) == 0;
    }();
    return installed;
}

WindowSlot* TakeSlot()
{
    for (auto& slot : g_slots) {
        bool free = false;
        if (slot.taken.compare_exchange_strong(free, true)) {
            slot.lost_bytes.store(false);
            return &slot;
        }
    }
    return nullptr;
}

}  // namespace

MappedWindows::MappedWindows(int fd, std::string path, std::uint64_t size, WindowSlot& slot)
    : fd_(fd), path_(std::move(path)), size_(size), slot_(slot)
{
}

MappedWindows::~MappedWindows()
{
    Unmap();
    slot_.taken.store(false);
}

std::unique_ptr<MappedWindows> MappedWindows::Open(int fd, const std::string& path, std::uint64_t size)
{
    if (!HandlerInstalled()) {
        return nullptr;
    }
    // A file system that cannot map files says so at once.
    if (size != 0) {
        void* probe = ::mmap(nullptr, 1, PROT_READ, MAP_SHARED, fd, 0);
        if (probe == MAP_FAILED) {
            return nullptr;
        }
        ::munmap(probe, 1);
    }
    WindowSlot* slot = TakeSlot();
    if (slot == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<MappedWindows>(new MappedWindows(fd, path, size, *slot));
}

std::span<const std::byte> MappedWindows::From(std::uint64_t offset, bool whole)
{
    Unmap();
    // Pages past the end of a file that shrank since it was opened would
    // only fault: the size is looked at again before each window.
    struct stat status {};
    if (::fstat(fd_, &status) != 0) {
        ThrowPosixError(errno, path_);
    }
    const std::uint64_t end = std::min(static_cast<std::uint64_t>(status.st_size), size_);
    if (offset >= end) {
        return {};
    }
    const std::uint64_t start = offset - offset % g_page_size;
    const auto length =
        static_cast<std::size_t>(std::min<std::uint64_t>(whole ? kWindowSize : kPeekWindowSize, end - start));
    // Populated at once: one read of the window where the cache is cold,
    // and no page faults while it is searched. A window that may only be
    // peeked at is small, and read in only where it is touched: the
    // kernel's read-around for a page fault (as much as 8 MiB on some
    // disks) would read a block that is then passed over.
    void* window =
        ::mmap(nullptr, length, PROT_READ, MAP_SHARED | (whole ? kPopulate : 0), fd_, static_cast<off_t>(start));
    if (window == MAP_FAILED) {
        ThrowPosixError(errno, path_);
    }
    ::madvise(window, length, whole ? MADV_SEQUENTIAL : MADV_RANDOM);
    window_ = window;
    window_size_ = length;
    slot_.begin.store(reinterpret_cast<std::uintptr_t>(window));
    slot_.end.store(reinterpret_cast<std::uintptr_t>(window) + length);
    const auto skipped = static_cast<std::size_t>(offset - start);
    return {static_cast<const std::byte*>(window) + skipped, length - skipped};
}

bool MappedWindows::Intact() const
{
    return !slot_.lost_bytes.load();
}

void MappedWindows::Unmap()
{
    if (window_ != nullptr) {
        slot_.begin.store(0);
        slot_.end.store(0);
        ::munmap(window_, window_size_);
        window_ = nullptr;
    }
}

}  // namespace quorvel
