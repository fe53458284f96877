#include "audio/temporary_store.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "audio/sound_decoder.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>

#include <filesystem>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

namespace quorvel::audio {
namespace {

[[noreturn]] void FailTemporary(const std::string& what, int error)
{
    throw SoundError("the temporary file that holds a conversion " + what + ": " + std::strerror(error) + " (error " +
                     std::to_string(error) + ")");
}

}  // namespace

#ifdef _WIN32
// Windows' own tmpfile makes its file in the root of the drive, where a
// user may not write: ours goes to the user's temporary folder, and
// _O_TEMPORARY has the system remove it when it is closed, or when the
// program ends any other way.
class TemporaryStore::File {
public:
    File()
    {
        static std::atomic<unsigned> serial{0};
        const std::filesystem::path folder = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::wstring name = L"quorvel-" + std::to_wstring(_getpid()) + L"-" + std::to_wstring(serial++) +
                                      L"-" + std::to_wstring(reinterpret_cast<std::uintptr_t>(this)) + L".tmp";
            const errno_t error = _wsopen_s(&fd_, (folder / name).c_str(),
                                            _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_TEMPORARY | _O_NOINHERIT,
                                            _SH_DENYRW, _S_IREAD | _S_IWRITE);
            if (error == 0) {
                return;
            }
            if (error != EEXIST) {
                FailTemporary("cannot be made in " + folder.string(), error);
            }
        }
        FailTemporary("cannot be given a free name", EEXIST);
    }
    ~File() { _close(fd_); }

    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer)
    {
        const auto count = static_cast<unsigned>(std::min<std::size_t>(buffer.size(), 1u << 30));
        if (_lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0) {
            FailTemporary("cannot be read", errno);
        }
        const int got = _read(fd_, buffer.data(), count);
        if (got < 0) {
            FailTemporary("cannot be read", errno);
        }
        return static_cast<std::size_t>(got);
    }

    void WriteAt(std::uint64_t offset, std::span<const std::byte> bytes)
    {
        if (_lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0) {
            FailTemporary("cannot be written", errno);
        }
        while (!bytes.empty()) {
            const auto count = static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1u << 30));
            const int put = _write(fd_, bytes.data(), count);
            if (put <= 0) {
                FailTemporary("cannot be written", put < 0 ? errno : ENOSPC);
            }
            bytes = bytes.subspan(static_cast<std::size_t>(put));
        }
    }

private:
    int fd_ = -1;
};
#else
// tmpfile gives a file no name ever reaches: nothing is left behind, even
// by a run that is killed.
class TemporaryStore::File {
public:
    File() : file_(std::tmpfile())
    {
        if (file_ == nullptr) {
            FailTemporary("cannot be made", errno);
        }
        fd_ = fileno(file_);
    }
    ~File() { std::fclose(file_); }

    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer)
    {
        for (;;) {
            const ssize_t got = pread(fd_, buffer.data(), buffer.size(), static_cast<off_t>(offset));
            if (got >= 0) {
                return static_cast<std::size_t>(got);
            }
            if (errno != EINTR) {
                FailTemporary("cannot be read", errno);
            }
        }
    }

    void WriteAt(std::uint64_t offset, std::span<const std::byte> bytes)
    {
        while (!bytes.empty()) {
            const ssize_t put = pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                FailTemporary("cannot be written", put < 0 ? errno : ENOSPC);
            }
            bytes = bytes.subspan(static_cast<std::size_t>(put));
            offset += static_cast<std::uint64_t>(put);
        }
    }

private:
    std::FILE* file_;
    int fd_ = -1;
};
#endif

TemporaryStore::TemporaryStore(std::size_t memory_limit) : memory_limit_(memory_limit) {}
TemporaryStore::TemporaryStore(TemporaryStore&&) noexcept = default;
TemporaryStore& TemporaryStore::operator=(TemporaryStore&&) noexcept = default;
TemporaryStore::~TemporaryStore() = default;

std::size_t TemporaryStore::ReadAt(std::uint64_t offset, std::span<std::byte> buffer)
{
    if (offset >= size_) {
        return 0;
    }
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size_ - offset));
    if (file_) {
        return file_->ReadAt(offset, buffer.first(count));
    }
    std::memcpy(buffer.data(), memory_.data() + offset, count);
    return count;
}

void TemporaryStore::WriteAt(std::uint64_t offset, std::span<const std::byte> bytes)
{
    const std::uint64_t end = offset + bytes.size();
    if (!file_ && end > memory_limit_) {
        MoveToFile();
    }
    if (file_) {
        file_->WriteAt(offset, bytes);
    } else {
        if (end > memory_.size()) {
            memory_.resize(static_cast<std::size_t>(end));
        }
        std::copy(bytes.begin(), bytes.end(), memory_.begin() + static_cast<std::ptrdiff_t>(offset));
    }
    size_ = std::max(size_, end);
}

void TemporaryStore::Clear()
{
    size_ = 0;
    memory_.clear();
}

void TemporaryStore::MoveToFile()
{
    auto file = std::make_unique<File>();
    file->WriteAt(0, memory_);
    file_ = std::move(file);
    memory_.clear();
    memory_.shrink_to_fit();
}

}  // namespace quorvel::audio
