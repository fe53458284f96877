#include "platform/win32_file_system.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "extract/extract_error.hpp"
#include "platform/win32_handle.hpp"
#include "platform/windows_headers.hpp"

namespace quorvel {
namespace {

[[noreturn]] void ThrowError(DWORD number, const std::string& path, std::string description = {})
{
    if (description.empty()) {
        description = DescribeWindowsError(number);
    }
    throw ExtractError(Failure{
        .number = static_cast<long>(number), .description = std::move(description), .file = path, .offset = {}});
}

[[noreturn]] void ThrowLastError(const std::string& path)
{
    ThrowError(::GetLastError(), path);
}

// A single ReadFile or WriteFile moves at most a DWORD's worth of bytes.
DWORD ClampToDword(std::size_t count)
{
    return static_cast<DWORD>(std::min<std::size_t>(count, MAXDWORD));
}

class Win32InputFile final : public InputFile {
public:
    Win32InputFile(HANDLE handle, std::string path, std::uint64_t size)
        : handle_(handle), path_(std::move(path)), size_(size)
    {
    }

    std::uint64_t Size() override { return size_; }

    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override
    {
        // A synchronous handle reads at the offset an OVERLAPPED names.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset & 0xffffffffu);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!::ReadFile(handle_.get(), buffer.data(), ClampToDword(buffer.size()), &got, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) {
                return 0;
            }
            ThrowLastError(path_);
        }
        return got;
    }

private:
    FileHandle handle_;
    std::string path_;
    std::uint64_t size_;
};

// An output written under `path`, and given the name `replaces` once
// closed whole, if it stands in for an older file.
class Win32OutputFile final : public OutputFile {
public:
    Win32OutputFile(HANDLE handle, std::string path, std::string replaces = {})
        : handle_(handle), path_(std::move(path)), replaces_(std::move(replaces))
    {
    }

    void Write(std::span<const std::byte> bytes) override
    {
        while (!bytes.empty()) {
            DWORD written = 0;
            if (!::WriteFile(handle_.get(), bytes.data(), ClampToDword(bytes.size()), &written, nullptr)) {
                ThrowLastError(Shown());
            }
            bytes = bytes.subspan(written);
        }
    }

    bool WriteAt(std::uint64_t offset, std::span<const std::byte> bytes) override
    {
        while (!bytes.empty()) {
            // A synchronous handle writes at the offset an OVERLAPPED names.
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(offset & 0xffffffffu);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            DWORD written = 0;
            if (!::WriteFile(handle_.get(), bytes.data(), ClampToDword(bytes.size()), &written, &at)) {
                ThrowLastError(Shown());
            }
            bytes = bytes.subspan(written);
            offset += written;
        }
        return true;
    }

    void Close() override
    {
        if (!::CloseHandle(handle_.release())) {
            const DWORD number = ::GetLastError();
            Abandon();
            ThrowError(number, Shown());
        }
        if (!replaces_.empty() &&
            !::MoveFileExW(WidenUtf8(path_).c_str(), WidenUtf8(replaces_).c_str(), MOVEFILE_REPLACE_EXISTING)) {
            const DWORD number = ::GetLastError();
            Abandon();
            ThrowError(number, replaces_);
        }
        closed_ = true;
    }

    void Abandon() noexcept override
    {
        if (!closed_) {
            if (handle_.valid()) {
                ::CloseHandle(handle_.release());
            }
            ::DeleteFileW(WidenUtf8(path_).c_str());
            closed_ = true;
        }
    }

private:
    // Messages name the file the user asked for, not its temporary name.
    const std::string& Shown() const { return replaces_.empty() ? path_ : replaces_; }

    FileHandle handle_;
    std::string path_;
    std::string replaces_;
    bool closed_ = false;
};

// Only a file on disk can be an archive: a console, pipe or device in its
// place would block or never end.
void RequireDiskFile(HANDLE handle, const std::string& path)
{
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ThrowNotAFile(path, "not a regular file");
    }
}

// Checked on the open handle, before anything of the file is changed.
void RequirePlainFile(HANDLE handle, const std::string& path)
{
    RequireDiskFile(handle, path);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle, &information)) {
        ThrowLastError(path);
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        ThrowNotAFile(path, "the name is a link; the extractor never writes through links");
    }
    if (information.nNumberOfLinks > 1) {
        ThrowNotAFile(path, "the file has other hard links; overwriting it would change them too");
    }
}

}  // namespace

std::string DescribeWindowsError(unsigned long number)
{
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, number, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) {
        return "unknown error";
    }
    std::wstring text(buffer, length);
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    return NarrowToUtf8(text);
}

std::wstring WidenUtf8(const std::string& text)
{
    if (text.empty()) {
        return {};
    }
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string NarrowToUtf8(const std::wstring& text)
{
    if (text.empty()) {
        return {};
    }
    const int length =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(std::max(length, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                          nullptr);
    return narrow;
}

std::unique_ptr<InputFile> Win32FileSystem::OpenArchive(const std::string& path)
{
    FileHandle handle(::CreateFileW(WidenUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle.valid()) {
        ThrowLastError(path);
    }
    RequireDiskFile(handle.get(), path);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(handle.get(), &size)) {
        ThrowLastError(path);
    }
    return std::make_unique<Win32InputFile>(handle.release(), path, static_cast<std::uint64_t>(size.QuadPart));
}

std::unique_ptr<InputFile> Win32FileSystem::OpenRegularFile(const std::string& path)
{
    // The name's own reparse point is opened, never followed; a folder
    // opens too, to be named for what it is. Deletion is shared so that a
    // file being read can still be replaced by a swap.
    FileHandle handle(::CreateFileW(
        WidenUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) {
        const DWORD number = ::GetLastError();
        if (number == ERROR_FILE_NOT_FOUND || number == ERROR_PATH_NOT_FOUND) {
            return nullptr;
        }
        ThrowError(number, path);
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!::GetFileInformationByHandle(handle.get(), &information)) {
        ThrowLastError(path);
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        ThrowNotAFile(path, "is a symbolic link");
    }
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        ThrowNotAFile(path, "is a folder");
    }
    if (::GetFileType(handle.get()) != FILE_TYPE_DISK) {
        ThrowNotAFile(path, "is not a regular file");
    }
    const std::uint64_t size = (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
    return std::make_unique<Win32InputFile>(handle.release(), path, size);
}

std::optional<Failure> Win32FileSystem::MakeFolder(const std::string& path)
{
    if (::CreateDirectoryW(WidenUtf8(path).c_str(), nullptr)) {
        return std::nullopt;
    }
    const DWORD number = ::GetLastError();
    // A file in the way is named here: creating a file inside it would only
    // say "The system cannot find the path specified".
    if (number == ERROR_ALREADY_EXISTS) {
        const DWORD attributes = ::GetFileAttributesW(WidenUtf8(path).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return std::nullopt;
        }
    }
    return Failure{.number = static_cast<long>(number),
                   .description = DescribeWindowsError(number),
                   .file = path,
                   .offset = {},
                   .file_is_a_folder = true};
}

std::unique_ptr<OutputFile> Win32FileSystem::CreateOutput(const std::string& path, IfTaken if_taken)
{
    // The usual case, a name not taken yet, in one call.
    FileHandle handle(::CreateFileW(WidenUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle.valid()) {
        return std::make_unique<Win32OutputFile>(handle.release(), path);
    }
    const DWORD number = ::GetLastError();
    if (number != ERROR_FILE_EXISTS && number != ERROR_ALREADY_EXISTS && number != ERROR_ACCESS_DENIED) {
        ThrowError(number, path);
    }
    if (if_taken == IfTaken::kKeep) {
        return nullptr;
    }
    return ReplaceOutput(path);
}

// What has the name is opened without following a link, to be checked:
// only a plain file with no other hard links is replaced. The new file is
// written beside it and moved over it once whole.
std::unique_ptr<OutputFile> Win32FileSystem::ReplaceOutput(const std::string& path)
{
    {
        FileHandle existing(::CreateFileW(WidenUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
        if (!existing.valid()) {
            ThrowLastError(path);
        }
        RequirePlainFile(existing.get(), path);
    }
    const std::string name = SplitPath(path).second;
    const std::string folder = path.substr(0, path.size() - name.size());  // with its separator
    for (unsigned attempt = 0;; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%lu-%u.part", static_cast<unsigned long>(::GetCurrentProcessId()),
                      attempt);
        std::string temporary = folder + "." + name + suffix;
        FileHandle handle(::CreateFileW(WidenUtf8(temporary).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle.valid()) {
            return std::make_unique<Win32OutputFile>(handle.release(), std::move(temporary), path);
        }
        const DWORD number = ::GetLastError();
        if (number != ERROR_FILE_EXISTS || attempt == 100) {
            ThrowError(number, path);
        }
    }
}

std::unique_ptr<OutputFile> AdoptOutput(void* handle, std::string path)
{
    return std::make_unique<Win32OutputFile>(static_cast<HANDLE>(handle), std::move(path));
}

std::pair<std::string, std::string> SplitPath(const std::string& path)
{
    const auto separator = path.find_last_of("\\/");
    if (separator == std::string::npos) {
        return {".", path};
    }
    // A drive's root keeps its separator: "C:" alone is the drive's current folder.
    const bool root = separator == 0 || (separator == 2 && path[1] == ':');
    return {path.substr(0, root ? separator + 1 : separator), path.substr(separator + 1)};
}

std::string Win32FileSystem::Join(const std::string& folder, const std::string& file) const
{
    // A drive's root ("D:\\") ends with its separator already.
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) {
        return folder + file;
    }
    return folder + "\\" + file;
}

}  // namespace quorvel
