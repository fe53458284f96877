// The archive's outer structure: blocks, their classes, numbering, the end
// of the archive and the progress accounting.

#include "extract/block_stream.hpp"

#include <gtest/gtest.h>

#include "extract/entry_writer.hpp"
#include "extract/extract_error.hpp"
#include "testing/archive_builder.hpp"
#include "testing/extraction_run.hpp"

namespace quorvel {
namespace {

using testing::Archive;
using testing::ExtractionRun;
using Files = std::map<std::string, std::string>;

Files Extract(const Archive& archive, ExtractionRun& run)
{
    testing::RunExtraction(run, archive);
    return run.files;
}

Files Extract(const Archive& archive)
{
    ExtractionRun run;
    return Extract(archive, run);
}

TEST(BlockStream, TaggedBlockThenEmptyBlockShowSixtyThenEightyPercent)
{
    ExtractionRun run;
    const auto archive = Archive().Block("AVQF1234").Block("").Final();
    ASSERT_EQ(archive.Size(), 20u);

    EXPECT_EQ(Extract(archive, run), (Files{{"sfx/sfx_0001.AVQF", "AVQF1234"}, {"sfx/sfx_0002", ""}}));
    EXPECT_EQ(run.listener.statuses, std::vector<std::string>{"Extracting: sfx"});
    // 12 of 20 and 16 of 20: the bar shows 60% and 80%.
    EXPECT_EQ(run.listener.checkpoints, (std::vector<std::uint64_t>{12, 16}));
    EXPECT_FALSE(run.truncation);
}

TEST(BlockStream, ArchiveOfOnlyTheFinalFieldMakesTheFolderAndNoFiles)
{
    ExtractionRun run;
    EXPECT_TRUE(Extract(Archive().Final(), run).empty());
    EXPECT_TRUE(run.file_system.Folders().contains("sfx"));
    EXPECT_EQ(run.listener.bytes_done, 0u);
    EXPECT_FALSE(run.truncation);
}

TEST(BlockStream, ArchivesShorterThanOneFieldEndQuietly)
{
    for (const std::string_view archive : {"", "\x01", "\x01\x02", "\x01\x02\x03"}) {
        ExtractionRun run;
        testing::RunExtraction(run, Archive().Raw(archive));
        EXPECT_TRUE(run.files.empty()) << archive.size() << " bytes";
        EXPECT_FALSE(run.truncation) << archive.size() << " bytes";
    }
}

TEST(BlockStream, FewerThanFourBytesWhereALengthIsExpectedEndTheArchive)
{
    const auto archive = Archive().Block("AVQF").Raw("ab");
    EXPECT_EQ(Extract(archive), (Files{{"sfx/sfx_0001.AVQF", "AVQF"}}));
}

TEST(BlockStream, ShortBlocksGiveEmptyFilesAndTheNextLengthFollowsTheirField)
{
    const auto archive = Archive().Length(4).Length(-1).Length(0).Length(-0x7FFFFFFF - 1).Block("xyz!").Final();
    EXPECT_EQ(Extract(archive), (Files{{"sfx/sfx_0001", ""},
                                       {"sfx/sfx_0002", ""},
                                       {"sfx/sfx_0003", ""},
                                       {"sfx/sfx_0004", ""},
                                       {"sfx/sfx_0005", "xyz!"}}));
}

TEST(BlockStream, BlocksOfLengthFiveToSevenKeepTheirPayloadAndStayInStep)
{
    const auto archive = Archive().Block("a").Block("bc").Block("def").Block("AVQFgh").Final();
    EXPECT_EQ(
        Extract(archive),
        (Files{
            {"sfx/sfx_0001", "a"}, {"sfx/sfx_0002", "bc"}, {"sfx/sfx_0003", "def"}, {"sfx/sfx_0004.AVQF", "AVQFgh"}}));
}

TEST(BlockStream, SignaturesAreExactAndCaseSensitive)
{
    const auto archive =
        Archive().Block("AVQF").Block("avqfx").Block("RIFX1234").Block("riff1234").Block("AVQ").Final();
    EXPECT_EQ(Extract(archive), (Files{{"sfx/sfx_0001.AVQF", "AVQF"},
                                       {"sfx/sfx_0002", "avqfx"},
                                       {"sfx/sfx_0003", "RIFX1234"},
                                       {"sfx/sfx_0004", "riff1234"},
                                       {"sfx/sfx_0005", "AVQ"}}));
}

TEST(BlockStream, PayloadOfJustRiffMakesNoFileButUsesUpItsNumber)
{
    const auto archive = Archive().Block("RIFF").Block("next").Final();
    EXPECT_EQ(Extract(archive), (Files{{"sfx/sfx_0002", "next"}}));
}

TEST(BlockStream, NumbersPastNineThousandNineHundredNinetyNineKeepAllTheirDigits)
{
    Archive archive;
    archive.Block("first");
    for (int i = 2; i <= 10001; ++i) {
        archive.Length(4);
    }
    archive.Block("last").Final();
    const Files files = Extract(archive);
    EXPECT_EQ(files.size(), 10002u);
    EXPECT_EQ(files.at("sfx/sfx_0001"), "first");
    EXPECT_EQ(files.at("sfx/sfx_9999"), "");
    EXPECT_EQ(files.at("sfx/sfx_10000"), "");
    EXPECT_EQ(files.at("sfx/sfx_10002"), "last");
}

TEST(BlockStream, OutputNamesArePaddedToAtLeastFourDigits)
{
    EXPECT_EQ(EntryFileName("sfx", 1, ".wav"), "sfx_0001.wav");
    EXPECT_EQ(EntryFileName("speech", 123, ""), "speech_0123");
    EXPECT_EQ(EntryFileName("sfx", 9999, ".AVQF"), "sfx_9999.AVQF");
    EXPECT_EQ(EntryFileName("sfx", 12345, ""), "sfx_12345");
}

TEST(BlockStream, ProgressCountsLengthFieldsAndPayloadsButNotRiffSignatures)
{
    ExtractionRun run;
    const auto archive = Archive()
                             .Block("other")           // 4 + 5
                             .Length(2)                // 4
                             .Block(testing::Wav(20))  // 4 + 16
                             .Block("RIFF")            // 4
                             .Final();
    Extract(archive, run);
    EXPECT_EQ(run.listener.checkpoints, (std::vector<std::uint64_t>{9, 13, 33, 33, 37}));
}

TEST(BlockStream, BigBlocksAreCopiedAndShownChunkByChunk)
{
    ExtractionRun run;
    const std::string payload = "DATA" + std::string(2 * 65536 + 96, 'x');
    Extract(Archive().Block(payload).Final(), run);
    EXPECT_EQ(run.files.at("sfx/sfx_0001"), payload);
    EXPECT_EQ(run.listener.checkpoints, (std::vector<std::uint64_t>{4 + 65536, 4 + 131072, 4 + 131172}));
}

TEST(BlockStream, BlockRunningPastTheEndIsExtractedAsFarAsItGoesAndReported)
{
    ExtractionRun run;
    const auto archive = Archive().Block("AVQF").Length(4 + 100).Raw("AVQFpartial");
    EXPECT_EQ(Extract(archive, run), (Files{{"sfx/sfx_0001.AVQF", "AVQF"}, {"sfx/sfx_0002.AVQF", "AVQFpartial"}}));
    ASSERT_TRUE(run.truncation);
    EXPECT_EQ(run.truncation->archive, "sfx.pak");
    EXPECT_EQ(run.truncation->block_offset, 8u);
    EXPECT_EQ(run.truncation->missing_bytes, 89u);
    EXPECT_NE(run.truncation->Describe().find("offset 8"), std::string::npos);
}

TEST(BlockStream, LastBlockEndingExactlyAtTheEndOfTheFileIsWholeNotTruncated)
{
    ExtractionRun run;
    EXPECT_EQ(Extract(Archive().Block("AVQF").Block("DATAlast"), run),
              (Files{{"sfx/sfx_0001.AVQF", "AVQF"}, {"sfx/sfx_0002", "DATAlast"}}));
    EXPECT_FALSE(run.truncation);
}

TEST(BlockStream, TruncatedBlockWithAnIncompleteSignatureIsNeitherRiffNorTagged)
{
    ExtractionRun run;
    EXPECT_EQ(Extract(Archive().Length(50).Raw("RIF"), run), (Files{{"sfx/sfx_0001", "RIF"}}));
    ASSERT_TRUE(run.truncation);
    EXPECT_EQ(run.truncation->missing_bytes, 43u);
}

TEST(BlockStream, TruncatedRiffBlockIsCarvedByTheUsualRules)
{
    ExtractionRun run;
    const std::string present = testing::Str(testing::Wav(16)) + "tail";
    EXPECT_EQ(Extract(Archive().Length(1000).Raw(present), run),
              (Files{{"sfx/sfx_0001.wav", testing::Str(testing::Wav(16))}, {"sfx/sfx_0002", "tail"}}));
    ASSERT_TRUE(run.truncation);
    EXPECT_EQ(run.truncation->missing_bytes, 996u - present.size());
}

TEST(BlockStream, MissingArchiveFailsBeforeTheFolderIsMade)
{
    testing::MemoryFileSystem files;
    testing::RecordingListener listener;
    try {
        ExtractArchive("sfx", files, listener);
        FAIL() << "expected a failure";
    } catch (const ExtractError& error) {
        EXPECT_EQ(error.failure().file, "sfx.pak");
        EXPECT_NE(error.failure().number, 0);
    }
    EXPECT_TRUE(files.Folders().empty());
}

TEST(BlockStream, FailedWriteRemovesTheHalfWrittenFileAndKeepsFinishedOnes)
{
    testing::MemoryFileSystem files;
    testing::RecordingListener listener;
    const std::string big = "DATA" + std::string(100000, 'z');
    files.AddArchive("sfx.pak", Archive().Block("AVQFdone").Block(big).Final());
    files.FailWritesAfter(8 + 65536);
    try {
        ExtractArchive("sfx", files, listener);
        FAIL() << "expected a failure";
    } catch (const ExtractError& error) {
        EXPECT_EQ(error.failure().file, "sfx/sfx_0002");
    }
    EXPECT_EQ(testing::OutputsAsText(files), (Files{{"sfx/sfx_0001.AVQF", "AVQFdone"}}));
    EXPECT_EQ(files.OpenOutputs(), 0);
}

TEST(BlockStream, FolderThatCannotBeMadeIsReportedByItsOwnErrorWhenItsFirstFileFails)
{
    testing::MemoryFileSystem files;
    testing::RecordingListener listener;
    files.AddArchive("sfx.pak", Archive().Block("AVQF").Final());
    files.BlockFolder("sfx");
    try {
        ExtractArchive("sfx", files, listener);
        FAIL() << "expected a failure";
    } catch (const ExtractError& error) {
        EXPECT_EQ(error.failure().Describe(), "Error 13: Permission denied\nFolder: sfx");
    }
    EXPECT_EQ(files.FilesCreated(), 0u);
}

TEST(BlockStream, RerunTruncatesAndRewritesEveryFile)
{
    testing::MemoryFileSystem files;
    testing::RecordingListener listener;
    files.AddArchive("sfx.pak", Archive().Block("AVQFabc").Final());
    ExtractArchive("sfx", files, listener);
    ExtractArchive("sfx", files, listener);
    EXPECT_EQ(testing::OutputsAsText(files), (Files{{"sfx/sfx_0001.AVQF", "AVQFabc"}}));
}

}  // namespace
}  // namespace quorvel
