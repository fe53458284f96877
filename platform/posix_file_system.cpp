#include "platform/posix_file_system.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <utility>

#include "extract/extract_error.hpp"
#include "platform/mapped_windows.hpp"
#include "platform/posix_descriptor.hpp"

#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace quorvel {
namespace {

constexpr const char* kNotARegularFile = "the name is taken by something that is not a regular file";

void ClearNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
}

class PosixInputFile final : public InputFile {
public:
    PosixInputFile(int fd, std::string path, std::uint64_t size) : fd_(fd), path_(std::move(path)), size_(size) {}

    std::uint64_t Size() override { return size_; }

    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        for (;;) {
            const ssize_t got = ::pread(fd_.get(), buffer.data(), buffer.size(), static_cast<off_t>(offset));
            if (got >= 0) {
                return static_cast<std::size_t>(got);
            }
            if (errno != EINTR) {
                ThrowPosixError(errno, path_);
            }
        }
    }

    std::optional<std::span<const std::byte>> View(std::uint64_t offset, ViewUse use) override
    {
        if (!views_tried_) {
            views_tried_ = true;
            windows_ = MappedWindows::Open(fd_.get(), path_, size_);
        }
        if (!windows_) {
            return std::nullopt;
        }
        return windows_->From(offset, use == ViewUse::kMost);
    }

    bool ViewsIntact() const override { return !windows_ || windows_->Intact(); }

    int fd() const { return fd_.get(); }

private:
    FileDescriptor fd_;
    std::string path_;
    std::uint64_t size_;
    bool views_tried_ = false;
    std::unique_ptr<MappedWindows> windows_;
};

// An output written under `name` in the folder open on `folder` (AT_FDCWD:
// the current one), and given the name `target` in the folder open on
// `target_folder` once closed whole, if it stands in for an older file.
// Messages name `shown`, the file the user asked for.
class PosixOutputFile final : public OutputFile {
public:
    struct Names {
        int folder = AT_FDCWD;  // owned by the file system
        std::string name;
        std::string shown;
        int target_folder = AT_FDCWD;
        std::string target;  // empty: a new file, made under its own name
    };

    PosixOutputFile(int fd, Names names) : fd_(fd), names_(std::move(names)) {}

    void Write(std::span<const std::byte> bytes) override
    {
        while (!bytes.empty()) {
            const ssize_t written = ::write(fd_.get(), bytes.data(), bytes.size());
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                ThrowPosixError(errno, names_.shown);
            }
            bytes = bytes.subspan(static_cast<std::size_t>(written));
        }
    }

    bool WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) override
    {
        while (!bytes.empty()) {
            const ssize_t written = ::pwrite(fd_.get(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
            if (written < 0) {
                if (errno == EINTR) {
                    continue;
                }
                ThrowPosixError(errno, names_.shown);
            }
            bytes = bytes.subspan(static_cast<std::size_t>(written));
            offset += static_cast<std::uint64_t>(written);
        }
        return true;
    }

    std::uint64_t CopyFrom(InputFile& input, std::uint64_t offset, std::uint64_t length) override
    {
#if defined(__linux__) && defined(SYS_copy_file_range)
        auto* source = dynamic_cast<PosixInputFile*>(&input);
        if (source == nullptr || !copy_in_kernel_) {
            return 0;
        }
        std::uint64_t moved = 0;
        while (moved < length) {
            auto from = static_cast<loff_t>(offset + moved);
            const ssize_t count =
                ::copy_file_range(source->fd(), &from, fd_.get(), nullptr, static_cast<std::size_t>(length - moved), 0);
            if (count > 0) {
                moved += static_cast<std::uint64_t>(count);
                continue;
            }
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
                copy_in_kernel_ = false;  // not here: the caller copies through memory
                return moved;
            }
            if (count < 0) {
                ThrowPosixError(errno, names_.shown);
            }
            return moved;  // the archive ended early: the caller finds out
        }
        return moved;
#else
        (void)input;
        (void)offset;
        (void)length;
        return 0;
#endif
    }

    void Close() override
    {
        if (::close(fd_.release()) != 0 && errno != EINTR) {
            const int number = errno;
            Abandon();
            ThrowPosixError(number, names_.shown);
        }
        if (!names_.target.empty()) {
            TakeTheName();
        }
        closed_ = true;
    }

    void Abandon() noexcept override
    {
        if (!closed_) {
            if (fd_.get() >= 0) {
                ::close(fd_.release());
            }
            ::unlinkat(names_.folder, names_.name.c_str(), 0);
            closed_ = true;
        }
    }

private:
    // The new file takes the old one's name in one step. Where the system
    // can, the two names are exchanged and the old file, now under the
    // temporary name, removed: a rename over an existing file makes ext4
    // write the new one out at once, which costs a rerun over thousands of
    // small files several times the time of the files themselves. Neither
    // call follows a link: one put in the old file's place meanwhile is
    // itself replaced.
    void TakeTheName()
    {
        const char* from = names_.name.c_str();
        const char* to = names_.target.c_str();
#if defined(__linux__) && defined(RENAME_EXCHANGE)
        if (::renameat2(names_.folder, from, names_.target_folder, to, RENAME_EXCHANGE) == 0) {
            ::unlinkat(names_.folder, from, 0);  // the old file: a name left behind holds nothing new
            return;
        }
        // A file system that cannot exchange, or an old file gone meanwhile.
#endif
        if (::renameat(names_.folder, from, names_.target_folder, to) != 0) {
            const int number = errno;
            Abandon();
            ThrowPosixError(number, names_.shown);
        }
    }

    FileDescriptor fd_;
    Names names_;
    bool copy_in_kernel_ = true;
    bool closed_ = false;
};

}  // namespace

std::unique_ptr<InputFile> PosixFileSystem::OpenArchive(const std::string& path)
{
    // Non-blocking, so that a FIFO in the archive's place cannot stall the open.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        ThrowPosixError(errno, path);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        ThrowPosixError(errno, path);
    }
    if (S_ISDIR(status.st_mode)) {
        ThrowPosixError(EISDIR, path);
    }
    if (!S_ISREG(status.st_mode)) {
        ThrowNotAFile(path, "not a regular file");
    }
    ClearNonBlocking(fd.get());
    return std::make_unique<PosixInputFile>(fd.release(), path, static_cast<std::uint64_t>(status.st_size));
}

std::optional<Failure> PosixFileSystem::MakeFolder(const std::string& path)
{
    // A file in the way is left to the first file creation, whose "Not a
    // directory" says it better than "File exists".
    if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) {
        return std::nullopt;
    }
    const int number = errno;
    return Failure{
        .number = number, .description = std::strerror(number), .file = path, .offset = {}, .file_is_a_folder = true};
}

std::pair<std::string, std::string> SplitPath(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {".", path};
    }
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::unique_ptr<InputFile> PosixFileSystem::OpenRegularFile(const std::string& path)
{
    const auto [folder_path, name] = SplitPath(path);
    // The folder is followed (the user may have made it a link); it is
    // opened afresh, as it may have been made since an earlier call.
    FileDescriptor folder(::open(folder_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        if (errno == ENOENT) {
            return nullptr;
        }
        ThrowPosixError(errno, folder_path, {}, true);
    }
    // Non-blocking, so that a FIFO in the file's place cannot stall the open.
    FileDescriptor fd(::openat(folder.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            return nullptr;
        }
        if (errno == ELOOP) {
            ThrowNotAFile(path, "is a symbolic link");
        }
        ThrowPosixError(errno, path);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        ThrowPosixError(errno, path);
    }
    if (S_ISDIR(status.st_mode)) {
        ThrowNotAFile(path, "is a folder");
    }
    if (S_ISFIFO(status.st_mode)) {
        ThrowNotAFile(path, "is a FIFO");
    }
    if (!S_ISREG(status.st_mode)) {
        ThrowNotAFile(path, "is not a regular file");
    }
    ClearNonBlocking(fd.get());
    return std::make_unique<PosixInputFile>(fd.release(), path, static_cast<std::uint64_t>(status.st_size));
}

PosixFileSystem::OpenFolder& PosixFileSystem::FolderOf(const std::string& folder, const std::string& path)
{
    if (const auto found = folders_.find(folder); found != folders_.end()) {
        return found->second;
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        // As the file's own creation would have said it: "Not a directory"
        // for a file in the folder's way.
        ThrowPosixError(errno, path);
    }
    return folders_.emplace(folder, OpenFolder{.fd = fd, .replacing = -2}).first->second;
}

std::unique_ptr<OutputFile> PosixFileSystem::CreateOutput(const std::string& path, IfTaken if_taken)
{
    const auto [folder_path, name] = SplitPath(path);
    OpenFolder& folder = FolderOf(folder_path, path);
    // A rerun finds every name taken: it looks at the name first rather than
    // asking for a new file that cannot be made.
    if (last_name_was_taken_ && if_taken == IfTaken::kReplace) {
        struct stat status {};
        if (::fstatat(folder.fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
            return ReplaceOutput(folder, name, path, status);
        }
        last_name_was_taken_ = false;
    }
    // The usual case, a name not taken yet, in one call: O_EXCL makes a new,
    // empty, regular file or fails, and never follows a link.
    const int fd = ::openat(folder.fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        return std::make_unique<PosixOutputFile>(
            fd, PosixOutputFile::Names{
                    .folder = folder.fd, .name = name, .shown = path, .target_folder = folder.fd, .target = {}});
    }
    if (errno != EEXIST) {
        ThrowPosixError(errno, path);
    }
    if (if_taken == IfTaken::kKeep) {
        return nullptr;
    }
    struct stat status {};
    if (::fstatat(folder.fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        ThrowPosixError(errno, path);
    }
    last_name_was_taken_ = true;
    return ReplaceOutput(folder, name, path, status);
}

// What has the name is looked at without following it: only a regular file
// with no other hard links is replaced. The rename that replaces it never
// writes through anything either: a link put in its place meanwhile is
// itself replaced, never what it points to.
std::unique_ptr<OutputFile> PosixFileSystem::ReplaceOutput(OpenFolder& folder, const std::string& name,
                                                           const std::string& path, const struct stat& status)
{
    if (S_ISLNK(status.st_mode)) {
        ThrowNotAFile(path, "the name is a symbolic link; the extractor never writes through links");
    }
    if (S_ISDIR(status.st_mode)) {
        ThrowPosixError(EISDIR, path);
    }
    if (!S_ISREG(status.st_mode)) {
        ThrowNotAFile(path, kNotARegularFile);
    }
    if (status.st_nlink > 1) {
        ThrowNotAFile(path, "the file has other hard links; replacing it would part it from them");
    }
    const int replacing = ReplacementFolder(folder);
    for (unsigned attempt = 0;; ++attempt) {
        // Named for what it will become: one left by a killed run is easy
        // to tell for what it is.
        char suffix[32];
        static const long process = static_cast<long>(::getpid());
        std::snprintf(suffix, sizeof suffix, ".%ld-%u.part", process, attempt);
        // In the replacement folder where there is one; else beside the
        // old file, hidden.
        std::string temporary = replacing >= 0 ? name + suffix : "." + name + suffix;
        const int in = replacing >= 0 ? replacing : folder.fd;
        const int fd = ::openat(in, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            return std::make_unique<PosixOutputFile>(fd, PosixOutputFile::Names{.folder = in,
                                                                                .name = std::move(temporary),
                                                                                .shown = path,
                                                                                .target_folder = folder.fd,
                                                                                .target = name});
        }
        if (errno != EEXIST || attempt == 100) {
            ThrowPosixError(errno, path);
        }
    }
}

// The new files for the taken names of a folder are written in a small
// hidden folder inside it, and exchange names with the old ones from
// there: a temporary name made and removed among thousands of files costs
// a search of their folder each time: a rerun over 20,000 tiny files took
// 1.34 times tar -xf's rerun with the new files beside the old ones, 1.06
// times from here (ext4 with a journal). It is opened once, never through
// a link, and removed when the run ends.
int PosixFileSystem::ReplacementFolder(OpenFolder& folder)
{
    if (folder.replacing == -2) {
        // One left by a killed run is taken as it is, if it is a folder.
        ::mkdirat(folder.fd, kReplacementFolder, 0700);
        folder.replacing = ::openat(folder.fd, kReplacementFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    return folder.replacing;
}

PosixFileSystem::~PosixFileSystem()
{
    for (const auto& [path, folder] : folders_) {
        if (folder.replacing >= 0) {
            ::close(folder.replacing);
            // Empty unless a killed run left a file in it.
            ::unlinkat(folder.fd, kReplacementFolder, AT_REMOVEDIR);
        }
        ::close(folder.fd);
    }
}

std::unique_ptr<OutputFile> AdoptOutput(int fd, std::string path)
{
    return std::make_unique<PosixOutputFile>(
        fd, PosixOutputFile::Names{
                .folder = AT_FDCWD, .name = path, .shown = path, .target_folder = AT_FDCWD, .target = {}});
}

std::string PosixFileSystem::Join(const std::string& folder, const std::string& file) const
{
    return folder + "/" + file;
}

}  // namespace quorvel
