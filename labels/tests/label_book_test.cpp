// The labels file as the studio keeps it: read only where it is a regular
// file, replaced whole, and what is shown always what the file holds.

#include "labels/label_book.hpp"

#include <gtest/gtest.h>

#include "testing/layout.hpp"
#include "testing/memory_file_system.hpp"

namespace quorvel {
namespace {

using testing::MemoryFileSystem;

class LabelBookTest : public ::testing::Test {
protected:
    LabelBookTest()
    {
        files_.AddArchive("sfx.pak", testing::ParseLayout(R"(block wav(100); block "AVQF1"; block wav(100); final)"));
        game_.emplace(GameReader::Open(files_, {}, /*with_speech=*/false));
    }

    std::string FileText() { return ReadLabelsFile(files_, kPath).value_or("(none)"); }

    static constexpr const char* kPath = "quorvel-labels.tsv";
    MemoryFileSystem files_;
    std::optional<GameReader> game_;
    LabelBook book_{kPath, files_, files_};
};

TEST_F(LabelBookTest, ALabelIsSavedWithItsHashAndFindsItsFileAgain)
{
    book_.Set(*game_, "sfx/sfx_0002.AVQF", "music");
    const std::string hash = ContentHash(*game_, *game_->Find("sfx/sfx_0002.AVQF"));
    EXPECT_NE(FileText().find("sfx/sfx_0002.AVQF\t" + hash + "\tmusic\n"), std::string::npos) << FileText();

    LabelBook reread(kPath, files_, files_);
    EXPECT_EQ(reread.Load(*game_), std::nullopt);
    EXPECT_EQ(reread.LabelOf("sfx/sfx_0002.AVQF"), "music");
    // Two sounds of the same bytes share a label given to their hash.
    EXPECT_EQ(MatchList(*game_, "sfx/sfx_0099.wav\t" + ContentHash(*game_, game_->Files()[0]) + "\tclick\n").labels,
              (std::map<std::string, std::string>{{"sfx/sfx_0001.wav", "click"}, {"sfx/sfx_0003.wav", "click"}}));
}

TEST_F(LabelBookTest, AFileThatCannotBeWrittenLeavesTheLabelAsItWas)
{
    book_.Set(*game_, "sfx/sfx_0001.wav", "door");
    files_.BlockFolder("");
    EXPECT_THROW(book_.Set(*game_, "sfx/sfx_0001.wav", "window"), ExtractError);
    EXPECT_THROW(book_.Set(*game_, "sfx/sfx_0003.wav", "new"), ExtractError);
    EXPECT_EQ(book_.Labels(), (std::map<std::string, std::string>{{"sfx/sfx_0001.wav", "door"}}));
}

// A link, a folder or anything but a regular file in the labels file's
// place is never read: the studio starts without labels and says why.
TEST_F(LabelBookTest, OnlyARegularFileIsRead)
{
    for (const auto what :
         {PackFileSystem::Found::kLink, PackFileSystem::Found::kFolder, PackFileSystem::Found::kOther}) {
        files_.Plant(kPath, what);
        LabelBook book(kPath, files_, files_);
        const auto why = book.Load(*game_);
        ASSERT_TRUE(why.has_value());
        EXPECT_TRUE(why->starts_with("quorvel-labels.tsv: is ")) << *why;
        EXPECT_TRUE(book.Labels().empty());
    }
    // Replaced, never written through.
    book_.Set(*game_, "sfx/sfx_0001.wav", "door");
    EXPECT_EQ(files_.LookAt(kPath), PackFileSystem::Found::kFileWithBytes);

    files_.SetOutput(kPath, testing::Bytes(kLargestLabelsFile + 1, std::byte{'#'}));
    const auto why = LabelBook(kPath, files_, files_).Load(*game_);
    ASSERT_TRUE(why.has_value());
    EXPECT_NE(why->find("is larger than"), std::string::npos) << *why;
}

}  // namespace
}  // namespace quorvel
