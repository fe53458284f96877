// The reading surface gives every file extraction writes, under the same
// name, with the same bytes, read straight from the archive.

#include "app/game_reader.hpp"

#include <gtest/gtest.h>
#include <map>
#include <string>

#include "extract/entry_writer.hpp"
#include "testing/archive_builder.hpp"
#include "testing/extraction_run.hpp"
#include "testing/layout.hpp"
#include "testing/memory_file_system.hpp"

namespace quorvel {
namespace {

using testing::Bytes;

// Reads a whole file in pieces of an awkward size, so that pieces start and
// end anywhere in it.
Bytes ReadWhole(const GameReader& game, const ListedFile& file)
{
    Bytes bytes;
    std::vector<std::byte> piece(7777);
    for (std::uint64_t offset = 0;;) {
        const std::size_t got = game.Read(file, offset, piece);
        if (got == 0) {
            break;
        }
        bytes.insert(bytes.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
        offset += got;
    }
    return bytes;
}

TEST(GameReader, ReadsEveryFileAsExtractionWritesIt)
{
    const std::vector<std::string> layouts = {
        R"(block "AVQF1234"; block; length 6 "ab"; block riff(4) "xy" riff(4); block "RIFF"; final)",
        R"(block wav(70000) "tail" wav(300); block riff(-100) "all tail"; length 64 "DATA cut short")",
        // Past a 4 MiB window and across its edge.
        R"(block "DATA" bytes(5M, 1); block wav(4M) "xy" wav(1000); block "AVQF" bytes(3M, 2); final)",
    };
    for (const std::string& layout : layouts) {
        for (const std::size_t view_size : {std::size_t{0}, std::size_t{4096}, std::size_t{4} << 20}) {
            SCOPED_TRACE(layout + ", views of " + std::to_string(view_size));
            const testing::Archive sfx = testing::ParseLayout(layout);
            const testing::Archive speech = testing::ParseLayout(R"(block wav(100); final)");
            testing::MemoryFileSystem extracted;
            extracted.AddArchive("sfx.pak", sfx);
            extracted.AddArchive("speech.pak", speech);
            testing::RecordingListener listener;
            ExtractArchive("sfx", extracted, listener);
            ExtractArchive("speech", extracted, listener);

            testing::MemoryFileSystem files;
            files.AddArchive("sfx.pak", sfx);
            files.AddArchive("speech.pak", speech);
            if (view_size != 0) {
                files.ServeViews(view_size);
            }
            const GameReader game = GameReader::Open(files, Places{}, /*with_speech=*/true);
            std::map<std::string, Bytes> read;
            for (const ListedFile& file : game.Files()) {
                read[file.path] = ReadWhole(game, file);
                EXPECT_EQ(game.Find(file.path), &file);
                EXPECT_EQ(file.path.substr(file.path.find('_') + 1, 4), EntryFileName("", file.number, "").substr(1));
            }
            EXPECT_EQ(read, extracted.Outputs());
            EXPECT_TRUE(files.Outputs().empty()) << "the reader wrote something";
            ASSERT_EQ(game.Archives().size(), 2u);
            EXPECT_EQ(game.Totals(game.Archives()[1]).files, 1u);
            EXPECT_EQ(game.Find("sfx/../sfx.pak"), nullptr);
        }
    }
}

TEST(GameReader, ReadsWhereAskedAndNothingPastTheEnd)
{
    testing::MemoryFileSystem files;
    files.AddArchive("sfx.pak", testing::ParseLayout(R"(block "AVQF0123456789"; block "DATAabc"; final)"));
    const GameReader game = GameReader::Open(files, Places{}, /*with_speech=*/false);
    const ListedFile& tagged = *game.Find("sfx/sfx_0001.AVQF");
    std::vector<std::byte> out(4);
    ASSERT_EQ(game.Read(tagged, 6, out), 4u);
    EXPECT_EQ(testing::AsText(out), "2345");
    EXPECT_EQ(game.Read(tagged, 12, out), 2u);  // the file's last two bytes, not the next block's
    EXPECT_EQ(testing::AsText(std::span(out).first(2)), "89");
    EXPECT_EQ(game.Read(tagged, 14, out), 0u);
    EXPECT_EQ(game.Read(tagged, ~std::uint64_t{0}, out), 0u);
}

TEST(GameReader, AMissingArchiveFailsBeforeAnythingIsListed)
{
    testing::MemoryFileSystem files;
    files.AddArchive("sfx.pak", testing::ParseLayout(R"(block "AVQF"; final)"));
    EXPECT_THROW(GameReader::Open(files, Places{}, /*with_speech=*/true), ExtractError);
}

}  // namespace
}  // namespace quorvel
