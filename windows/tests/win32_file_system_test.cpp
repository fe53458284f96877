// The Windows file layer on real files (under Wine in CI): "\" paths,
// sharing locks, 64-bit sizes, links and the error reports.

#include "platform/win32_file_system.hpp"

// winioctl.h needs what windows.h declares.
// clang-format off
#include "platform/windows_headers.hpp"
#include <winioctl.h>
// clang-format on

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "extract/block_stream.hpp"
#include "extract/extract_error.hpp"

namespace quorvel {
namespace {

std::string ReadWholeFile(const std::string& path)
{
    const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return "<missing>";
    }
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(handle, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        content.append(buffer, got);
    }
    ::CloseHandle(handle);
    return content;
}

void WriteWholeFile(const std::string& path, const std::string& content)
{
    const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    ::WriteFile(handle, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    ::CloseHandle(handle);
}

// Another program's attempt to open the file; true when Windows allowed it.
bool OthersCanOpen(const std::string& path, DWORD access)
{
    const HANDLE handle = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        return false;
    }
    ::CloseHandle(handle);
    return true;
}

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                RemoveTree(path);
            } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                ::RemoveDirectoryW(path.c_str());
            } else {
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(search, &entry));
        ::FindClose(search);
    }
    ::RemoveDirectoryW(folder.c_str());
}

// Every test runs in a fresh working folder, as the program runs in the
// game's folder.
class Win32FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH, temp);
        folder_ = std::wstring(temp) + L"quorvel-win32-test-" + std::to_wstring(::GetCurrentProcessId());
        RemoveTree(folder_);
        ASSERT_TRUE(::CreateDirectoryW(folder_.c_str(), nullptr));
        wchar_t previous[MAX_PATH + 1] = {};
        ::GetCurrentDirectoryW(MAX_PATH, previous);
        previous_ = previous;
        ASSERT_TRUE(::SetCurrentDirectoryW(folder_.c_str()));
    }

    void TearDown() override
    {
        ::SetCurrentDirectoryW(previous_.c_str());
        RemoveTree(folder_);
    }

    Win32FileSystem files_;

private:
    std::wstring folder_;
    std::wstring previous_;
};

std::string Int32(std::int32_t value)
{
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
    }
    return bytes;
}

std::string Block(const std::string& payload)
{
    return Int32(static_cast<std::int32_t>(payload.size() + 4)) + payload;
}

class QuietListener final : public ExtractionListener {
public:
    void StatusChanged(std::string_view /*text*/) override {}
    void TruncationFound(const Truncation& found) override { truncation = found; }
    void Advance(std::uint64_t /*bytes*/) override {}
    void Checkpoint() override {}

    std::optional<Truncation> truncation;
};

Failure FailureOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const ExtractError& error) {
        return error.failure();
    }
    ADD_FAILURE() << "no ExtractError";
    return {};
}

TEST_F(Win32FileSystemTest, OutputPathsAreJoinedWithBackslashes)
{
    EXPECT_EQ(files_.Join("sfx", "sfx_0001.wav"), "sfx\\sfx_0001.wav");
    EXPECT_EQ(files_.Join("D:\\", "sfx"), "D:\\sfx");  // a drive's root, chosen in the picker
}

TEST_F(Win32FileSystemTest, AnArchiveIsExtractedIntoItsFolderOnRealFiles)
{
    const std::string riff = "RIFF" + Int32(4) + "WAVE";
    WriteWholeFile("sfx.pak", Block("AVQF1234") + Block(riff) + Block("ab") + Int32(0));
    QuietListener listener;

    ExtractArchive("sfx", files_, listener);
    EXPECT_FALSE(listener.truncation);

    EXPECT_EQ(ReadWholeFile("sfx\\sfx_0001.AVQF"), "AVQF1234");
    EXPECT_EQ(ReadWholeFile("sfx\\sfx_0002.wav"), riff);
    EXPECT_EQ(ReadWholeFile("sfx\\sfx_0003"), "ab");
    EXPECT_EQ(ReadWholeFile("sfx\\sfx_0004"), "<missing>");
}

TEST_F(Win32FileSystemTest, AnOpenArchiveCanBeReadButNotWrittenByOthers)
{
    WriteWholeFile("sfx.pak", "0123456789");
    const auto archive = files_.OpenArchive("sfx.pak");

    EXPECT_TRUE(OthersCanOpen("sfx.pak", GENERIC_READ));
    EXPECT_FALSE(OthersCanOpen("sfx.pak", GENERIC_WRITE));

    std::vector<std::byte> buffer(16);
    ASSERT_EQ(archive->ReadAt(0, buffer), 10u);
    EXPECT_EQ(std::memcmp(buffer.data(), "0123456789", 10), 0);
    ASSERT_EQ(archive->ReadAt(7, buffer), 3u);
    EXPECT_EQ(std::memcmp(buffer.data(), "789", 3), 0);
    EXPECT_EQ(archive->ReadAt(10, buffer), 0u);
    EXPECT_EQ(archive->ReadAt(1ull << 33, buffer), 0u);
}

TEST_F(Win32FileSystemTest, AnOutputBeingWrittenCanBeReadButNotWrittenByOthers)
{
    auto output = files_.CreateOutput("sfx_0001", FileSystem::IfTaken::kReplace);
    const std::string text = "abc";
    output->Write(std::as_bytes(std::span(text)));

    EXPECT_TRUE(OthersCanOpen("sfx_0001", GENERIC_READ));
    EXPECT_FALSE(OthersCanOpen("sfx_0001", GENERIC_WRITE));

    output->Close();
    EXPECT_TRUE(OthersCanOpen("sfx_0001", GENERIC_WRITE));
    EXPECT_EQ(ReadWholeFile("sfx_0001"), "abc");
}

TEST_F(Win32FileSystemTest, ArchiveSizesPast4GiBAreExact)
{
    const HANDLE handle = ::CreateFileA("speech.pak", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD ignored = 0;
    // Sparse where the file system allows it, so the test costs no disk space.
    ::DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end{};
    end.QuadPart = 0x100000003LL;
    ASSERT_TRUE(::SetFilePointerEx(handle, end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(handle));
    ::CloseHandle(handle);

    EXPECT_EQ(files_.OpenArchive("speech.pak")->Size(), 0x100000003ULL);
}

TEST_F(Win32FileSystemTest, AMissingArchiveReportsTheWindowsErrorAndTheFile)
{
    const Failure failure = FailureOf([&] { files_.OpenArchive("speech.pak"); });

    EXPECT_EQ(failure.number, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(failure.description, DescribeWindowsError(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(failure.description.empty());
    EXPECT_NE(failure.description.back(), '\n');
    EXPECT_EQ(failure.file, "speech.pak");
}

TEST_F(Win32FileSystemTest, AFolderIsNoArchive)
{
    ASSERT_TRUE(::CreateDirectoryA("sfx.pak", nullptr));

    EXPECT_NE(FailureOf([&] { files_.OpenArchive("sfx.pak"); }).number, 0);
}

TEST_F(Win32FileSystemTest, AnOutputInAMissingFolderReportsThePath)
{
    const Failure failure = FailureOf([&] { files_.CreateOutput("sfx\\sfx_0001.wav", FileSystem::IfTaken::kReplace); });

    EXPECT_EQ(failure.number, ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(failure.file, "sfx\\sfx_0001.wav");
}

// An earlier run's file stays whole until the new one is: abandoned, it is
// as it was; closed, the new one has taken its name; kept, it is left alone.
TEST_F(Win32FileSystemTest, AnOldOutputIsReplacedOnlyByAWholeNewOne)
{
    WriteWholeFile("sfx_0001", "an older, longer content");
    const std::string text = "new";

    auto stopped = files_.CreateOutput("sfx_0001", FileSystem::IfTaken::kReplace);
    stopped->Write(std::as_bytes(std::span(text)));
    EXPECT_EQ(ReadWholeFile("sfx_0001"), "an older, longer content");
    stopped->Abandon();
    EXPECT_EQ(ReadWholeFile("sfx_0001"), "an older, longer content");

    auto output = files_.CreateOutput("sfx_0001", FileSystem::IfTaken::kReplace);
    output->Write(std::as_bytes(std::span(text)));
    output->Close();
    EXPECT_EQ(ReadWholeFile("sfx_0001"), "new");
    WIN32_FIND_DATAA found{};
    const HANDLE search = ::FindFirstFileA(".sfx_0001*", &found);
    EXPECT_EQ(search, INVALID_HANDLE_VALUE) << "a temporary file is left";
    if (search != INVALID_HANDLE_VALUE) {
        ::FindClose(search);
    }

    EXPECT_EQ(files_.CreateOutput("sfx_0001", FileSystem::IfTaken::kKeep), nullptr);
    EXPECT_EQ(ReadWholeFile("sfx_0001"), "new");
}

TEST_F(Win32FileSystemTest, AFileWithOtherHardLinksIsNotOverwritten)
{
    WriteWholeFile("elsewhere", "keep me");
    ASSERT_TRUE(::CreateHardLinkA("sfx_0001", "elsewhere", nullptr));

    const Failure failure = FailureOf([&] { files_.CreateOutput("sfx_0001", FileSystem::IfTaken::kReplace); });

    EXPECT_EQ(failure.kind, FailureKind::kNotAFile);
    EXPECT_EQ(ReadWholeFile("elsewhere"), "keep me");
}

TEST_F(Win32FileSystemTest, ASymbolicLinkIsNotWrittenThrough)
{
    WriteWholeFile("elsewhere", "keep me");
    // Some systems (Wine among them) report success without making a link.
    const bool made = ::CreateSymbolicLinkA("sfx_0001", "elsewhere", 0) &&
                      (::GetFileAttributesA("sfx_0001") & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                      ::GetFileAttributesA("sfx_0001") != INVALID_FILE_ATTRIBUTES;
    if (!made) {
        GTEST_SKIP() << "symbolic links cannot be made here";
    }

    EXPECT_EQ(FailureOf([&] { files_.CreateOutput("sfx_0001", FileSystem::IfTaken::kReplace); }).kind,
              FailureKind::kNotAFile);
    EXPECT_EQ(ReadWholeFile("elsewhere"), "keep me");
}

TEST_F(Win32FileSystemTest, AnAbandonedNewOutputIsRemoved)
{
    files_.CreateOutput("sfx_0001", FileSystem::IfTaken::kReplace)->Abandon();

    EXPECT_EQ(::GetFileAttributesA("sfx_0001"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Win32FileSystemTest, MakingAnExistingFolderIsNoFailure)
{
    EXPECT_FALSE(files_.MakeFolder("sfx").has_value());
    EXPECT_FALSE(files_.MakeFolder("sfx").has_value());

    EXPECT_NE(::GetFileAttributesA("sfx"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Win32FileSystemTest, AFileInTheWayOfTheFolderIsNamedAsTheFolder)
{
    files_.CreateOutput("sfx", FileSystem::IfTaken::kReplace)->Close();

    const auto failure = files_.MakeFolder("sfx");

    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->number, ERROR_ALREADY_EXISTS);
    EXPECT_EQ(failure->file, "sfx");
    EXPECT_TRUE(failure->file_is_a_folder);
    EXPECT_NE(failure->Describe().find("\nFolder: sfx"), std::string::npos);
}

}  // namespace
}  // namespace quorvel
