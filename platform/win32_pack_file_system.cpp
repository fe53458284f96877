#include "platform/win32_pack_file_system.hpp"

#include <cstdio>
#include <memory>
#include <utility>

#include "extract/extract_error.hpp"
#include "platform/win32_file_system.hpp"
#include "platform/win32_handle.hpp"
#include "platform/windows_headers.hpp"

namespace quorvel {
namespace {

[[noreturn]] void ThrowError(DWORD number, const std::string& path, bool is_folder = false)
{
    throw ExtractError(Failure{.number = static_cast<long>(number),
                               .description = DescribeWindowsError(number),
                               .file = path,
                               .offset = {},
                               .file_is_a_folder = is_folder});
}

std::string FolderOf(const std::string& path)
{
    return SplitPath(path).first;
}

DWORD AttributesOf(const std::string& path)
{
    return ::GetFileAttributesW(WidenUtf8(path).c_str());
}

}  // namespace

std::vector<std::string> Win32PackFileSystem::ListFolder(const std::string& folder)
{
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(WidenUtf8(folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        ThrowError(::GetLastError(), folder, true);
    }
    std::vector<std::string> names;
    do {
        std::string name = NarrowToUtf8(found.cFileName);
        if (name != "." && name != "..") {
            names.push_back(std::move(name));
        }
    } while (::FindNextFileW(search, &found));
    const DWORD failure = ::GetLastError();
    ::FindClose(search);
    if (failure != ERROR_NO_MORE_FILES) {
        ThrowError(failure, folder, true);
    }
    return names;
}

PackFileSystem::Found Win32PackFileSystem::LookAt(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(WidenUtf8(path).c_str(), GetFileExInfoStandard, &data)) {
        const DWORD number = ::GetLastError();
        return number == ERROR_FILE_NOT_FOUND || number == ERROR_PATH_NOT_FOUND ? Found::kNothing : Found::kOther;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return Found::kLink;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Found::kFolder;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) {
        return Found::kOther;
    }
    return data.nFileSizeHigh == 0 && data.nFileSizeLow == 0 ? Found::kEmptyFile : Found::kFileWithBytes;
}

bool Win32PackFileSystem::IsFolder(const std::string& path)
{
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

PackFileSystem::Temporary Win32PackFileSystem::MakeTemporaryBeside(const std::string& path)
{
    for (unsigned attempt = 0;; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08lx%02x.tmp", static_cast<unsigned long>(::GetTickCount()),
                      attempt & 0xff);
        const std::string temporary = path + suffix;
        FileHandle handle(::CreateFileW(WidenUtf8(temporary).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (handle.valid()) {
            return Temporary{.path = temporary, .file = AdoptOutput(handle.release(), temporary)};
        }
        const DWORD number = ::GetLastError();
        if (number != ERROR_FILE_EXISTS || attempt == 100) {
            ThrowError(number, FolderOf(path), number == ERROR_ACCESS_DENIED);
        }
    }
}

void Win32PackFileSystem::FlushToDisk(const std::string& path)
{
    FileHandle handle(::CreateFileW(WidenUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.valid() || !::FlushFileBuffers(handle.get())) {
        ThrowError(::GetLastError(), path);
    }
}

bool Win32PackFileSystem::MakeBackup(const std::string& path, const std::string& backup)
{
    const std::wstring wide_path = WidenUtf8(path);
    const std::wstring wide_backup = WidenUtf8(backup);
    if (::CreateHardLinkW(wide_backup.c_str(), wide_path.c_str(), nullptr)) {
        return true;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        return false;
    }
    // FAT volumes and network shares without links: a copy, which takes the
    // backup's name only once it is whole, and never over anything.
    const std::wstring partial = wide_backup + L".partial";
    ::DeleteFileW(partial.c_str());
    if (!::CopyFileW(wide_path.c_str(), partial.c_str(), TRUE)) {
        ThrowError(::GetLastError(), backup);
    }
    if (!::MoveFileExW(partial.c_str(), wide_backup.c_str(), MOVEFILE_WRITE_THROUGH)) {
        const DWORD number = ::GetLastError();
        ::DeleteFileW(partial.c_str());
        if (number == ERROR_ALREADY_EXISTS || number == ERROR_FILE_EXISTS) {
            return false;
        }
        ThrowError(number, backup);
    }
    return true;
}

void Win32PackFileSystem::ReplaceWith(const std::string& temporary, const std::string& path)
{
    // The archive's attributes (hidden, archive) go over; a read-only
    // archive stays read-only after the move, which it would refuse otherwise.
    const DWORD attributes = AttributesOf(path);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        ::SetFileAttributesW(WidenUtf8(temporary).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    }
    if (!::MoveFileExW(WidenUtf8(temporary).c_str(), WidenUtf8(path).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ThrowError(::GetLastError(), path);
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        ::SetFileAttributesW(WidenUtf8(path).c_str(), attributes);
    }
}

void Win32PackFileSystem::RemoveTemporary(const std::string& path) noexcept
{
    ::DeleteFileW(WidenUtf8(path).c_str());
}

std::unique_ptr<PackFileSystem> MakePlatformPackFileSystem()
{
    return std::make_unique<Win32PackFileSystem>();
}

}  // namespace quorvel
