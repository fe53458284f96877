// Replacing an archive on a real file system, for the platform the tests
// are built for: a temporary file that never takes another's name, a
// backup that is never overwritten, a rename that keeps the archive's
// permissions.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

#ifdef _WIN32
#include "platform/win32_pack_file_system.hpp"
using PlatformPackFileSystem = quorvel::Win32PackFileSystem;
#else
#include <sys/stat.h>

#include "platform/posix_pack_file_system.hpp"
using PlatformPackFileSystem = quorvel::PosixPackFileSystem;
#endif

namespace quorvel {
namespace {

namespace fs = std::filesystem;

class PackFileSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() /
                  ("quorvel-pack-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        Write("sfx.pak", "old archive");
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string Path(const std::string& name) const { return (folder_ / name).string(); }
    void Write(const std::string& name, const std::string& text) const
    {
        std::ofstream(folder_ / name, std::ios::binary) << text;
    }
    std::string Read(const std::string& name) const
    {
        std::ifstream file(folder_ / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }

    PlatformPackFileSystem files_;
    fs::path folder_;
};

TEST_F(PackFileSystemTest, TemporaryBackupAndRenameKeepTheArchiveWholeAtEveryStep)
{
    auto made = files_.MakeTemporaryBeside(Path("sfx.pak"));
    const std::string temporary = made.path;
    const std::string another = files_.MakeTemporaryBeside(Path("sfx.pak")).path;
    EXPECT_NE(temporary, another);
    EXPECT_EQ(fs::path(temporary).parent_path(), folder_);
    files_.RemoveTemporary(another);
    EXPECT_EQ(files_.LookAt(another), PackFileSystem::Found::kNothing);
    const std::string text = "new archive";
    made.file->Write(std::as_bytes(std::span(text)));
    made.file->Close();
    files_.FlushToDisk(temporary);

#ifndef _WIN32
    fs::permissions(Path("sfx.pak"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif
    EXPECT_TRUE(files_.MakeBackup(Path("sfx.pak"), Path("sfx.pak.bak")));
    files_.ReplaceWith(temporary, Path("sfx.pak"));
    EXPECT_EQ(Read("sfx.pak"), "new archive");
    EXPECT_EQ(Read("sfx.pak.bak"), "old archive");
    EXPECT_EQ(files_.LookAt(temporary), PackFileSystem::Found::kNothing);
#ifndef _WIN32
    EXPECT_EQ(fs::status(Path("sfx.pak")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
#endif

    // The backup of the first pack is the pristine archive: never replaced.
    EXPECT_FALSE(files_.MakeBackup(Path("sfx.pak"), Path("sfx.pak.bak")));
    EXPECT_EQ(Read("sfx.pak.bak"), "old archive");
}

// Only a regular file with bytes can be an earlier backup; what else may
// have its name is told apart without following links.
TEST_F(PackFileSystemTest, LookAtTellsWhatHasANameWithoutFollowingLinks)
{
    using Found = PackFileSystem::Found;
    Write("empty", "");
    fs::create_directory(folder_ / "folder");
    EXPECT_EQ(files_.LookAt(Path("sfx.pak")), Found::kFileWithBytes);
    EXPECT_EQ(files_.LookAt(Path("empty")), Found::kEmptyFile);
    EXPECT_EQ(files_.LookAt(Path("folder")), Found::kFolder);
    EXPECT_EQ(files_.LookAt(Path("nothing")), Found::kNothing);
#ifndef _WIN32
    fs::create_symlink(folder_ / "sfx.pak", folder_ / "to-archive");
    fs::create_symlink(folder_ / "moved-away", folder_ / "dangling");
    EXPECT_EQ(files_.LookAt(Path("to-archive")), Found::kLink);
    EXPECT_EQ(files_.LookAt(Path("dangling")), Found::kLink);
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    EXPECT_EQ(files_.LookAt(Path("fifo")), Found::kOther);
    // A backup is never made over a link either, dangling or not.
    EXPECT_FALSE(files_.MakeBackup(Path("sfx.pak"), Path("dangling")));
    EXPECT_FALSE(fs::exists(folder_ / "moved-away"));
#endif
}

TEST_F(PackFileSystemTest, ListFolderNamesEverythingButTheDotEntries)
{
    fs::create_directory(folder_ / "sfx");
    Write("sfx/sfx_0001.wav", "RIFF");
    fs::create_directory(folder_ / "sfx" / "sub");
    auto names = files_.ListFolder(Path("sfx"));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"sfx_0001.wav", "sub"}));
    EXPECT_TRUE(files_.IsFolder(Path("sfx")));
    EXPECT_FALSE(files_.IsFolder(Path("sfx/sfx_0001.wav")));
    EXPECT_THROW(files_.ListFolder(Path("speech")), ExtractError);
}

}  // namespace
}  // namespace quorvel
