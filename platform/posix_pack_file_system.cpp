#include "platform/posix_pack_file_system.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "extract/archive_format.hpp"
#include "extract/extract_error.hpp"
#include "platform/posix_descriptor.hpp"
#include "platform/posix_file_system.hpp"

namespace quorvel {
namespace {

std::string FolderOf(const std::string& path)
{
    return SplitPath(path).first;
}

void Sync(int fd, const std::string& path)
{
    while (::fsync(fd) != 0) {
        if (errno != EINTR) {
            ThrowPosixError(errno, path);
        }
    }
}

void WriteAll(int fd, const std::byte* data, std::size_t size, const std::string& path)
{
    while (size != 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowPosixError(errno, path);
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

// Gives `from` the name `to` unless something has that name already.
bool RenameWithoutReplacing(const std::string& from, const std::string& to)
{
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        ThrowPosixError(errno, to);
    }
#endif
    // A file system that cannot refuse a rename over a file is asked first.
    struct stat status {};
    if (::lstat(to.c_str(), &status) == 0) {
        return false;
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        ThrowPosixError(errno, to);
    }
    return true;
}

// Where the file system cannot link: a copy, made under its final name
// only once it is whole, so that a half-made backup is never taken for
// the pristine one.
bool CopyFile(const std::string& path, const std::string& backup, mode_t mode)
{
    FileDescriptor source(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (source.get() < 0) {
        ThrowPosixError(errno, path);
    }
    const std::string partial = backup + ".partial";
    ::unlink(partial.c_str());
    FileDescriptor target(::open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777));
    if (target.get() < 0) {
        ThrowPosixError(errno, partial);
    }
    try {
        std::vector<std::byte> buffer(format::kChunkSize);
        for (;;) {
            const ssize_t got = ::read(source.get(), buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                ThrowPosixError(errno, path);
            }
            if (got == 0) {
                break;
            }
            WriteAll(target.get(), buffer.data(), static_cast<std::size_t>(got), partial);
        }
        Sync(target.get(), partial);
        if (!RenameWithoutReplacing(partial, backup)) {
            ::unlink(partial.c_str());
            return false;
        }
    } catch (...) {
        ::unlink(partial.c_str());
        throw;
    }
    return true;
}

}  // namespace

std::vector<std::string> PosixPackFileSystem::ListFolder(const std::string& folder)
{
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) {
        ThrowPosixError(errno, folder, {}, true);
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    const int failure = errno;
    ::closedir(directory);
    if (failure != 0) {
        ThrowPosixError(failure, folder, {}, true);
    }
    return names;
}

PackFileSystem::Found PosixPackFileSystem::LookAt(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return errno == ENOENT ? Found::kNothing : Found::kOther;
    }
    if (S_ISLNK(status.st_mode)) {
        return Found::kLink;
    }
    if (S_ISDIR(status.st_mode)) {
        return Found::kFolder;
    }
    if (!S_ISREG(status.st_mode)) {
        return Found::kOther;
    }
    return status.st_size == 0 ? Found::kEmptyFile : Found::kFileWithBytes;
}

bool PosixPackFileSystem::IsFolder(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

PackFileSystem::Temporary PosixPackFileSystem::MakeTemporaryBeside(const std::string& path)
{
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
        const std::string temporary = path + suffix;
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            return Temporary{.path = temporary, .file = AdoptOutput(fd, temporary)};
        }
        if (errno != EEXIST || attempt == 100) {
            // Most often the game's folder is not writable: name the folder.
            ThrowPosixError(errno, FolderOf(path), {}, errno == EACCES || errno == EROFS);
        }
    }
}

void PosixPackFileSystem::StartFlush(const std::string& path, std::uint64_t offset, std::uint64_t length)
{
#if defined(__linux__)
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() >= 0) {
        ::sync_file_range(fd.get(), static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
    }
#else
    (void)path;
    (void)offset;
    (void)length;
#endif
}

void PosixPackFileSystem::FlushToDisk(const std::string& path)
{
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        ThrowPosixError(errno, path);
    }
    Sync(fd.get(), path);
}

bool PosixPackFileSystem::MakeBackup(const std::string& path, const std::string& backup)
{
    if (::link(path.c_str(), backup.c_str()) == 0) {
        return true;
    }
    if (errno == EEXIST) {
        return false;
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        ThrowPosixError(errno, path);
    }
    return CopyFile(path, backup, status.st_mode);
}

void PosixPackFileSystem::ReplaceWith(const std::string& temporary, const std::string& path)
{
    // The permissions of a file that has the name go over; what is not a
    // regular file there (a link a mod planted) is replaced, never followed.
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        ::chmod(temporary.c_str(), status.st_mode & 07777) != 0) {
        ThrowPosixError(errno, temporary);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ThrowPosixError(errno, path);
    }
    // The rename itself must reach the disk, or a crash could bring the
    // old archive back beside a backup that is the same.
    const std::string folder = FolderOf(path);
    FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) {
        ::fsync(directory.get());
    }
}

void PosixPackFileSystem::RemoveTemporary(const std::string& path) noexcept
{
    ::unlink(path.c_str());
}

std::unique_ptr<PackFileSystem> MakePlatformPackFileSystem()
{
    return std::make_unique<PosixPackFileSystem>();
}

}  // namespace quorvel
