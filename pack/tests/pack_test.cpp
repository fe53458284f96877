// Packing puts the files of an extraction back into their archive. The
// round trip is the property everything rests on: extracting and packing
// without edits gives the archive back byte for byte.

#include "pack/pack.hpp"

#include <climits>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "extract/block_stream.hpp"
#include "testing/archive_builder.hpp"
#include "testing/layout.hpp"
#include "testing/memory_file_system.hpp"
#include "testing/recording_listener.hpp"

namespace quorvel {
namespace {

using testing::Archive;
using testing::Bytes;
using testing::Riff;
using testing::Wav;

// Stops the pack at its `stop_at`-th progress report, if given one.
class StoppingListener final : public PackListener {
public:
    explicit StoppingListener(int stop_at = 0) : stop_at_(stop_at) {}
    void StatusChanged(std::string_view text) override { statuses.emplace_back(text); }
    void Progress(std::uint64_t /*done*/, std::uint64_t /*total*/) override
    {
        if (++reports_ == stop_at_) {
            throw Cancelled();
        }
    }
    std::vector<std::string> statuses;

private:
    int stop_at_;
    int reports_ = 0;
};

Bytes AsBytes(std::string_view text)
{
    const auto* data = reinterpret_cast<const std::byte*>(text.data());
    return Bytes(data, data + text.size());
}

// A game folder in memory with sfx.pak extracted into sfx.
class Game {
public:
    explicit Game(const Archive& archive)
    {
        files.AddArchive("sfx.pak", archive);
        Extract();
    }

    std::map<std::string, Bytes> Extract()
    {
        testing::RecordingListener listener;
        ExtractArchive("sfx", files, listener);
        std::map<std::string, Bytes> extracted;
        for (const auto& [path, bytes] : files.Outputs()) {
            if (path.starts_with("sfx/")) {
                extracted[path] = bytes;
            }
        }
        return extracted;
    }

    PackResult Pack(PackMode mode = PackMode::kReplace, int stop_at = 0)
    {
        StoppingListener listener(stop_at);
        return PackArchive(ArchiveLocation::Of(files, "sfx"), files, files, listener, mode);
    }

    Bytes Pak() const { return files.ArchiveBytes("sfx.pak"); }

    bool HasTemporary() const
    {
        for (const auto& [path, bytes] : files.Outputs()) {
            if (path.starts_with("sfx.pak.")) {
                return true;
            }
        }
        return false;
    }

    testing::MemoryFileSystem files;
};

// Every kind of block and carving edge: empty, short and negative lengths,
// a payload of just "RIFF", tails, pieces under 8 bytes, a declared size of
// -8, a chance "RIFF" inside a sound, "RIFF" across the 64 KiB chunk edge,
// and every ending (final field, 1 to 3 bytes, nothing).
const std::vector<std::string> kLayouts = {
    R"(block "AVQF1234"; block; block riff(4) "xy" riff(4); final)",
    R"(length 4; length 5 "a"; length 6 "bc"; length 7 "def"; length -1; length -2147483648; block "AVQF"; final)",
    R"(block "RIFF"; block "RIFX1234"; block "riff"; block "DATA" noise(100); final)",
    R"(block riff(-8) "tail bytes"; block riff(0) "RIFF" "12"; block riff(2147483638) "cut"; final)",
    R"(block riff(100, "WAVE") noise(40) "RIFF" int32(8) "AVI " noise(60); raw "ab")",
    R"(block noise(65530) riff(20) noise(20); block wav(70000) "RIFF"; raw "xyz")",
    R"(block wav(44) wav(100) "odd" wav(200) bytes(3, 0); block "RIFF" "1234567"; final)",
    R"(repeat 300 { block "AVQF" noise(7); block; length 5 "q" }; block wav(131072); final)",
    R"(final)",
    R"(raw "ab")",
    "",
    // Past a 4 MiB window and across its edge: a data block, a tagged block,
    // a sound and its tail.
    R"(block "DATA" bytes(5M, 1); block "AVQF" bytes(3M, 2); block wav(4M) "tail" wav(100); final)",
};

TEST(Pack, ExtractThenPackGivesEveryArchiveBackByteForByte)
{
    for (const std::string& layout : kLayouts) {
        for (const std::size_t view_size : {std::size_t{0}, std::size_t{4} << 20}) {
            SCOPED_TRACE(layout + (view_size != 0 ? ", viewed" : ", read"));
            const Archive archive = testing::ParseLayout(layout);
            Game game(archive);
            if (view_size != 0) {
                game.files.ServeViews(view_size);
            }
            const PackResult dry_run = game.Pack(PackMode::kDryRun);
            EXPECT_TRUE(dry_run.changes.empty());
            EXPECT_EQ(dry_run.new_size, archive.Size());
            const PackResult result = game.Pack();
            EXPECT_EQ(game.Pak(), archive.Make());
            EXPECT_FALSE(result.repaired);
            EXPECT_TRUE(result.ignored.empty());
            EXPECT_FALSE(game.HasTemporary());
            // The replaced archive is kept, unchanged, as the backup.
            EXPECT_EQ(game.files.ArchiveBytes("sfx.pak.bak"), archive.Make());
        }
    }
}

TEST(Pack, EditedSoundsOfOtherSizesComeBackFromTheNewArchive)
{
    Game game(testing::ParseLayout(R"(block "AVQF1"; block wav(1000) "xy" wav(500); block wav(64); final)"));
    // Longer, at another rate: 48 kHz stereo; and shorter.
    const std::string longer = testing::PcmHeader(36 + 90000, 2, 48000, 16, 90000) + std::string(90000, '\x11');
    game.files.SetOutput("sfx/sfx_0002.wav", AsBytes(longer));
    game.files.SetOutput("sfx/sfx_0004.wav", AsBytes(Archive().Raw(Wav(60)).Str()));
    game.files.SetOutput("sfx/sfx_0003", AsBytes("stray"));
    const std::map<std::string, Bytes> folder = game.files.Outputs();

    game.Pack();
    EXPECT_EQ(game.Extract(), folder);
    EXPECT_EQ(game.Pak().size(), 4u + 5 + 4 + (44 + 90000) + 5 + 60 + 4 + 64 + 4);
}

TEST(Pack, RefusalsNameTheFileAndLeaveTheArchiveAsItWas)
{
    const Archive archive = testing::ParseLayout(R"(block "AVQF1"; block wav(1000) wav(500); block; final)");
    struct Case {
        std::string name;
        std::function<void(Game&)> edit;
        std::string file;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"a file is missing", [](Game& game) { game.files.RemoveFile("sfx/sfx_0003.wav"); }, "sfx/sfx_0003.wav",
         "is missing from the folder"},
        {"a new sound holds RIFF and its own form type",
         [](Game& game) {
             game.files.SetOutput("sfx/sfx_0002.wav",
                                  AsBytes(Archive().Raw(Riff(36), "0123456789", Riff(16), "abcdefghij").Str()));
         },
         "sfx/sfx_0002.wav", "would end it after 22 of its 44 bytes, where \"RIFF\" and the form type \"WAVE\""},
        {"a data block's file now starts like a tagged one",
         [](Game& game) { game.files.SetOutput("sfx/sfx_0001.AVQF", AsBytes("RIFX")); }, "sfx/sfx_0001.AVQF",
         "would make sfx/sfx_0001 in its place"},
        {"an empty block's file got bytes", [](Game& game) { game.files.SetOutput("sfx/sfx_0004", AsBytes("x")); },
         "sfx/sfx_0004", "would end it after 0 of its 1 bytes"},
        // What a link points to never reaches the archive.
        {"a link in a sound's place",
         [](Game& game) { game.files.Plant("sfx/sfx_0003.wav", PackFileSystem::Found::kLink); }, "sfx/sfx_0003.wav",
         "is a symbolic link; the pack takes only regular files: put the file itself there"},
        {"a folder in a sound's place",
         [](Game& game) { game.files.Plant("sfx/sfx_0002.wav", PackFileSystem::Found::kFolder); }, "sfx/sfx_0002.wav",
         "is a folder; the pack takes only regular files"},
    };
    // The dry run makes every check the pack makes, so it refuses alike.
    for (const Case& refusal : cases) {
        for (const PackMode mode : {PackMode::kDryRun, PackMode::kReplace}) {
            SCOPED_TRACE(refusal.name + (mode == PackMode::kDryRun ? ", dry run" : ""));
            Game game(archive);
            refusal.edit(game);
            try {
                game.Pack(mode);
                ADD_FAILURE() << "packed";
            } catch (const PackRefused& error) {
                EXPECT_EQ(error.file(), refusal.file);
                EXPECT_NE(error.reason().find(refusal.reason), std::string::npos) << error.reason();
            }
            EXPECT_EQ(game.Pak(), archive.Make());
            EXPECT_FALSE(game.files.Exists("sfx.pak.bak"));
            EXPECT_FALSE(game.HasTemporary());
        }
    }
}

// The old archive must stay whole under the backup's name: what has that
// name and is not an earlier copy of an archive stops the pack, dry run
// included, before anything is written.
TEST(Pack, ABackupNameHeldByAnythingButAnEarlierArchiveIsRefused)
{
    const Archive archive = testing::ParseLayout(R"(block "AVQF1"; block wav(100); final)");
    const std::vector<std::pair<std::string, std::function<void(Game&)>>> cases = {
        {"a folder", [](Game& game) { game.files.MakeFolder("sfx.pak.bak"); }},
        {"an empty file", [](Game& game) { game.files.AddArchive("sfx.pak.bak", Archive()); }},
    };
    for (const auto& [what, plant] : cases) {
        for (const PackMode mode : {PackMode::kDryRun, PackMode::kReplace}) {
            SCOPED_TRACE(what);
            Game game(archive);
            game.files.SetOutput("sfx/sfx_0002.wav", AsBytes(Archive().Raw(Wav(200)).Str()));
            plant(game);
            try {
                game.Pack(mode);
                ADD_FAILURE() << "packed";
            } catch (const PackRefused& error) {
                EXPECT_EQ(error.file(), "sfx.pak.bak");
                EXPECT_NE(error.reason().find("is " + what + ", not an earlier copy of the archive: move it away"),
                          std::string::npos)
                    << error.reason();
            }
            EXPECT_EQ(game.Pak(), archive.Make());
            EXPECT_FALSE(game.HasTemporary());
        }
    }
    // An earlier backup, even of a truncated archive, is kept as it is.
    Game game(archive);
    game.files.AddArchive("sfx.pak.bak", testing::ParseLayout(R"(length 64 "AVQF")"));
    game.files.SetOutput("sfx/sfx_0002.wav", AsBytes(Archive().Raw(Wav(200)).Str()));
    EXPECT_FALSE(game.Pack().backup_made);
    EXPECT_EQ(game.files.ArchiveBytes("sfx.pak.bak"), testing::ParseLayout(R"(length 64 "AVQF")").Make());
}

TEST(Pack, StopsFailuresAndReadOnlyFoldersLeaveNoTraceAtAnyPoint)
{
    const Archive archive = testing::ParseLayout(R"(block "AVQF1"; block wav(300000) "tail"; block; final)");
    for (int stop_at = 1;; ++stop_at) {
        SCOPED_TRACE(stop_at);
        Game game(archive);
        try {
            game.Pack(PackMode::kReplace, stop_at);
            EXPECT_GT(stop_at, 10);  // a 300 KB sound is walked, written and compared in 64 KiB chunks
            break;
        } catch (const Cancelled&) {
        }
        EXPECT_EQ(game.Pak(), archive.Make());
        EXPECT_FALSE(game.HasTemporary());
    }
    Game full_disk(archive);
    full_disk.files.FailWritesAfter(100000);
    EXPECT_THROW(full_disk.Pack(), ExtractError);
    EXPECT_EQ(full_disk.Pak(), archive.Make());
    EXPECT_FALSE(full_disk.HasTemporary());

    Game read_only(archive);
    read_only.files.BlockFolder("");
    EXPECT_THROW(read_only.Pack(), ExtractError);
    EXPECT_EQ(read_only.Pak(), archive.Make());
}

TEST(Pack, ExtraFilesAreLeftOutAndNamed)
{
    Game game(testing::ParseLayout(R"(block "AVQF1"; final)"));
    game.files.SetOutput("sfx/notes.txt", AsBytes("mine"));
    game.files.SetOutput("sfx/sfx_0001.AVQF.orig", AsBytes("AVQF0"));
    game.files.Plant("sfx/.quorvel-replacing", PackFileSystem::Found::kFolder);  // the file system's own: never named
    const PackResult result = game.Pack();
    EXPECT_EQ(result.ignored, (std::vector<std::string>{"sfx/notes.txt", "sfx/sfx_0001.AVQF.orig"}));
    EXPECT_EQ(game.Pak(), testing::ParseLayout(R"(block "AVQF1"; final)").Make());
}

TEST(Pack, TruncatedArchiveIsRebuiltWholeWithAZeroFinalField)
{
    Game game(testing::ParseLayout(R"(block "AVQF1234"; length 64 "RIFF" int32(4) "WAVEtail")"));
    const auto extracted = game.Extract();
    const PackResult result = game.Pack();
    ASSERT_TRUE(result.repaired);
    EXPECT_EQ(result.repaired->block_offset, 12u);
    EXPECT_EQ(game.Pak(), testing::ParseLayout(R"(block "AVQF1234"; block "RIFF" int32(4) "WAVEtail"; final)").Make());
    EXPECT_EQ(game.Extract(), extracted);
}

TEST(Pack, DryRunNamesTheChangedBlocksAndWritesNothing)
{
    const Archive archive = testing::ParseLayout(R"(block "AVQF1"; block wav(100) "xy"; block "same"; final)");
    Game game(archive);
    game.files.SetOutput("sfx/sfx_0003", AsBytes("xyz"));
    const PackResult result = game.Pack(PackMode::kDryRun);
    ASSERT_EQ(result.changes.size(), 1u);
    EXPECT_EQ(result.changes[0].offset, 9u);
    EXPECT_EQ(result.changes[0].old_size, 4u + 102u);
    EXPECT_EQ(result.changes[0].new_size, 4u + 103u);
    EXPECT_EQ(result.changes[0].files, (std::vector<std::string>{"sfx/sfx_0002.wav", "sfx/sfx_0003"}));
    EXPECT_EQ(game.Pak(), archive.Make());
    EXPECT_FALSE(game.files.Exists("sfx.pak.bak"));
    EXPECT_FALSE(game.HasTemporary());

    // Same size, other bytes: still a change.
    game.files.SetOutput("sfx/sfx_0003", AsBytes("yx"));
    EXPECT_EQ(game.Pack(PackMode::kDryRun).changes.size(), 1u);
}

}  // namespace
}  // namespace quorvel
