// The POSIX file layer on real files in a fresh folder: what it refuses to
// write into, and how it names a folder it could not make.

#include "platform/posix_file_system.hpp"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

namespace quorvel {
namespace {

namespace fs = std::filesystem;

class PosixFileSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "quorvel-posix-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        previous_ = fs::current_path();
        fs::current_path(folder_);
        fs::create_directory("sfx");
    }
    void TearDown() override
    {
        fs::current_path(previous_);
        fs::remove_all(folder_);
    }

    static std::string Read(const fs::path& path)
    {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }

    Failure FailureOfCreating(const std::string& path)
    {
        try {
            files_.CreateOutput(path, FileSystem::IfTaken::kReplace);
        } catch (const ExtractError& error) {
            return error.failure();
        }
        ADD_FAILURE() << path << " was opened for writing";
        return {};
    }

    PosixFileSystem files_;
    fs::path folder_;
    fs::path previous_;
};

TEST_F(PosixFileSystemTest, ALinkAtAnOutputNameIsRefusedAndWhatItPointsToIsUntouched)
{
    std::ofstream("elsewhere") << "keep me";
    fs::create_symlink("../elsewhere", "sfx/sfx_0001.wav");
    fs::create_symlink("../nowhere", "sfx/sfx_0002.wav");

    const Failure to_a_file = FailureOfCreating("sfx/sfx_0001.wav");
    const Failure dangling = FailureOfCreating("sfx/sfx_0002.wav");

    EXPECT_EQ(to_a_file.kind, FailureKind::kNotAFile);
    EXPECT_EQ(to_a_file.file, "sfx/sfx_0001.wav");
    EXPECT_EQ(dangling.kind, FailureKind::kNotAFile);
    EXPECT_EQ(Read("elsewhere"), "keep me");
    EXPECT_FALSE(fs::exists("nowhere"));
    EXPECT_TRUE(fs::is_symlink("sfx/sfx_0001.wav"));
}

TEST_F(PosixFileSystemTest, AFifoOrSocketAtAnOutputNameIsNotARegularFile)
{
    ASSERT_EQ(::mkfifo("sfx/sfx_0001", 0666), 0);
    const int socket_fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(socket_fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "sfx/sfx_0002");
    ASSERT_EQ(::bind(socket_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

    const Failure fifo = FailureOfCreating("sfx/sfx_0001");
    const Failure socket = FailureOfCreating("sfx/sfx_0002");
    ::close(socket_fd);

    for (const Failure& failure : {fifo, socket}) {
        EXPECT_EQ(failure.kind, FailureKind::kNotAFile);
        EXPECT_NE(failure.description.find("not a regular file"), std::string::npos) << failure.description;
    }
}

// An earlier run's file stays whole until the new one is: a run stopped
// or failed while writing it leaves it as it was, one that closes it
// replaces it, and a run that keeps old files leaves it alone.
TEST_F(PosixFileSystemTest, AFileOfAnEarlierRunIsReplacedOnlyByAWholeNewOne)
{
    std::ofstream("sfx/sfx_0001") << "an earlier, longer run";
    const std::string text = "new";
    {
        PosixFileSystem files;
        auto stopped = files.CreateOutput("sfx/sfx_0001", FileSystem::IfTaken::kReplace);
        stopped->Write(std::as_bytes(std::span(text)));
        EXPECT_EQ(Read("sfx/sfx_0001"), "an earlier, longer run");
        stopped->Abandon();
        EXPECT_EQ(Read("sfx/sfx_0001"), "an earlier, longer run");

        auto output = files.CreateOutput("sfx/sfx_0001", FileSystem::IfTaken::kReplace);
        output->Write(std::as_bytes(std::span(text)));
        output->Close();
        EXPECT_EQ(Read("sfx/sfx_0001"), "new");
    }
    // The folder the new files were written in goes with the run.
    EXPECT_EQ(std::distance(fs::directory_iterator("sfx"), fs::directory_iterator()), 1) << "a temporary file is left";

    EXPECT_EQ(files_.CreateOutput("sfx/sfx_0001", FileSystem::IfTaken::kKeep), nullptr);
    EXPECT_EQ(Read("sfx/sfx_0001"), "new");
    // A new name is made at once and removed if abandoned.
    auto fresh = files_.CreateOutput("sfx/sfx_0002", FileSystem::IfTaken::kKeep);
    ASSERT_NE(fresh, nullptr);
    EXPECT_TRUE(fs::exists("sfx/sfx_0002"));
    fresh->Abandon();
    EXPECT_FALSE(fs::exists("sfx/sfx_0002"));
}

// An encoder writes its header last, at the start: positioned writes land
// where they are aimed, past the end too, in a new file and in one that
// replaces an earlier file alike.
TEST_F(PosixFileSystemTest, WritesAtAnOffsetLandThereInNewAndReplacingFiles)
{
    std::ofstream("sfx/sfx_0002.flac") << "an earlier export, longer than the new one";
    for (const std::string path : {"sfx/sfx_0001.flac", "sfx/sfx_0002.flac"}) {
        auto output = files_.CreateOutput(path, FileSystem::IfTaken::kReplace);
        ASSERT_TRUE(output->WriteAt(4, std::as_bytes(std::span(std::string_view("data")))));
        ASSERT_TRUE(output->WriteAt(12, std::as_bytes(std::span(std::string_view("end")))));
        ASSERT_TRUE(output->WriteAt(0, std::as_bytes(std::span(std::string_view("head")))));
        output->Close();
        EXPECT_EQ(Read(path), std::string("headdata") + std::string(4, '\0') + "end") << path;
    }
}

// A link planted where the new files of taken names are written is never
// written through: they are written beside the old files instead.
TEST_F(PosixFileSystemTest, ALinkInPlaceOfTheReplacementFolderIsNotFollowed)
{
    fs::create_directory("elsewhere");
    fs::create_directory_symlink("../elsewhere", fs::path("sfx") / PosixFileSystem::kReplacementFolder);
    std::ofstream("sfx/sfx_0001") << "old";
    {
        PosixFileSystem files;
        auto output = files.CreateOutput("sfx/sfx_0001", FileSystem::IfTaken::kReplace);
        const std::string text = "new";
        output->Write(std::as_bytes(std::span(text)));
        EXPECT_TRUE(fs::is_empty("elsewhere"));
        output->Close();
    }
    EXPECT_EQ(Read("sfx/sfx_0001"), "new");
    EXPECT_TRUE(fs::is_empty("elsewhere"));
    EXPECT_TRUE(fs::is_symlink(fs::path("sfx") / PosixFileSystem::kReplacementFolder));
}

// What a user or a mod may put in a file's place inside a folder, and what
// reading it there gives: only a regular file is ever opened.
TEST_F(PosixFileSystemTest, AFileInAFolderIsReadOnlyWhereItIsARegularFile)
{
    std::ofstream("secret") << "outside";
    std::ofstream("sfx/sfx_0001.wav") << "inside";
    fs::create_symlink("../secret", "sfx/sfx_0002.wav");
    fs::create_symlink("../nowhere", "sfx/sfx_0003.wav");
    fs::create_directory("sfx/sfx_0004.wav");
    ASSERT_EQ(::mkfifo("sfx/sfx_0005.wav", 0666), 0);
    // The folder itself may be a link the user made: it is followed.
    fs::create_directory_symlink("sfx", "linked");

    struct Case {
        const char* path;
        const char* refusal;  // nullptr: opened
    };
    for (const Case& c :
         {Case{"sfx/sfx_0001.wav", nullptr}, Case{"linked/sfx_0001.wav", nullptr},
          Case{"sfx/sfx_0002.wav", "is a symbolic link"}, Case{"sfx/sfx_0003.wav", "is a symbolic link"},
          Case{"sfx/sfx_0004.wav", "is a folder"}, Case{"sfx/sfx_0005.wav", "is a FIFO"}}) {
        SCOPED_TRACE(c.path);
        try {
            const auto file = files_.OpenRegularFile(c.path);
            ASSERT_EQ(c.refusal, nullptr) << "opened";
            ASSERT_NE(file, nullptr);
            std::string text(file->Size(), '\0');
            EXPECT_EQ(file->ReadAt(0, std::as_writable_bytes(std::span(text))), 6U);
            EXPECT_EQ(text, "inside");
        } catch (const ExtractError& error) {
            ASSERT_NE(c.refusal, nullptr) << error.failure().OneLine();
            EXPECT_EQ(error.failure().kind, FailureKind::kNotAFile);
            EXPECT_EQ(error.failure().OneLine(), std::string(c.path) + ": " + c.refusal);
        }
    }
    EXPECT_EQ(files_.OpenRegularFile("sfx/sfx_0006.wav"), nullptr);
    EXPECT_EQ(files_.OpenRegularFile("missing/sfx_0001.wav"), nullptr);
}

// A name flipped between the file and a link to a file outside, as fast as
// another process can, while it is opened and read: what is read is
// always the file, whole, or nothing.
TEST_F(PosixFileSystemTest, ANameSwappedForALinkWhileReadNeverLeadsOutside)
{
    std::ofstream("secret") << "OUTSIDE";
    std::ofstream("sfx/file") << "inside!";
    fs::create_symlink("../secret", "sfx/link");
    fs::copy_file("sfx/file", "sfx/sfx_0001.wav");
    std::atomic<bool> done{false};
    std::thread flipper([&] {
        for (unsigned i = 0; !done; ++i) {
            // Each rename puts a whole file or a whole link in place at once.
            ::link(i % 2 == 0 ? "sfx/link" : "sfx/file", "sfx/next");
            ::rename("sfx/next", "sfx/sfx_0001.wav");
        }
    });
    unsigned opened = 0;
    unsigned refused = 0;
    for (int attempt = 0; attempt < 4000; ++attempt) {
        try {
            const auto file = files_.OpenRegularFile("sfx/sfx_0001.wav");
            if (file) {
                std::string text(file->Size(), '\0');
                file->ReadAt(0, std::as_writable_bytes(std::span(text)));
                ASSERT_EQ(text, "inside!");
                ++opened;
            }
        } catch (const ExtractError& error) {
            ASSERT_EQ(error.failure().OneLine(), "sfx/sfx_0001.wav: is a symbolic link");
            ++refused;
        }
    }
    done = true;
    flipper.join();
    EXPECT_GT(opened + refused, 0U);
}

TEST_F(PosixFileSystemTest, AFolderThatCannotBeMadeIsNamedAsAFolder)
{
    EXPECT_FALSE(files_.MakeFolder("sfx").has_value());  // there from an earlier run
    std::ofstream("speech") << "in the way";
    EXPECT_FALSE(files_.MakeFolder("speech").has_value());  // left to the first file: "Not a directory"

    const auto failure = files_.MakeFolder("missing/sfx");

    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->Describe(), "Error 2: No such file or directory\nFolder: missing/sfx");
}

TEST_F(PosixFileSystemTest, AnArchiveCutShortUnderAViewReadsAsZerosAndSaysSo)
{
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::ofstream("sfx.pak") << std::string(3 * page, 'x');
    const auto archive = files_.OpenArchive("sfx.pak");
    const auto view = archive->View(0, InputFile::ViewUse::kMost);
    ASSERT_TRUE(view.has_value());
    ASSERT_EQ(view->size(), 3 * page);
    EXPECT_TRUE(archive->ViewsIntact());

    ASSERT_EQ(::truncate("sfx.pak", static_cast<off_t>(page)), 0);
    const auto lost = static_cast<unsigned char>((*view)[2 * page + 7]);  // a bus error without the guard

    EXPECT_EQ(lost, 0);
    EXPECT_FALSE(archive->ViewsIntact());
    EXPECT_EQ(static_cast<char>((*view)[7]), 'x');
    EXPECT_TRUE(archive->View(2 * page, InputFile::ViewUse::kPeek)->empty());
}

}  // namespace
}  // namespace quorvel
