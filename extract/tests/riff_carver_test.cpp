// Carving RIFF blocks into sounds, stray bytes and tails, in one pass over
// a stream that arrives in reads of any size.

#include <gtest/gtest.h>
#include <random>
#include <string>

using namespace std::string_literals;

#include "extract/archive_reader.hpp"
#include "testing/archive_builder.hpp"
#include "testing/extraction_run.hpp"

namespace quorvel {
namespace {

using testing::Archive;
using testing::Riff;
using testing::Str;
using testing::Wav;
using Files = std::map<std::string, std::string>;

Files CarveBlock(const std::string& payload, testing::Serving serving = {})
{
    testing::ExtractionRun run;
    testing::RunExtraction(run, Archive().Block(payload).Final(), serving);
    return run.files;
}

// Every read or view size must give the same files: the carver may never
// depend on where the archive's reads or mapped windows happen to end.
Files CarveInAnyReads(const std::string& payload)
{
    const Files whole = CarveBlock(payload);
    for (const std::size_t read_limit : {1, 2, 3, 5, 11, 13, 4096}) {
        EXPECT_EQ(CarveBlock(payload, {.read_limit = read_limit}), whole) << "reads of " << read_limit << " bytes";
    }
    for (const std::size_t view_size : {256, 259, 4096}) {
        EXPECT_EQ(CarveBlock(payload, testing::Serving::Views(view_size)), whole) << "views of " << view_size;
    }
    return whole;
}

TEST(RiffCarving, StrayBytesBetweenTwoSoundsGetTheNumberBetweenThem)
{
    testing::ExtractionRun run;
    const std::string sound = Str(Riff(4));
    testing::RunExtraction(run, Archive().Block(sound, "xy", sound).Final());

    EXPECT_EQ(run.files, (Files{{"sfx/sfx_0001.wav", sound}, {"sfx/sfx_0002", "xy"}, {"sfx/sfx_0003.wav", sound}}));
    // 4 for the length field, then the 22 bytes after the signature.
    EXPECT_EQ(run.listener.checkpoints, (std::vector<std::uint64_t>{26, 26}));
    EXPECT_EQ(CarveInAnyReads(sound + "xy" + sound), run.files);
}

TEST(RiffCarving, TailTakesTheNumberBetweenItsSoundAndTheNext)
{
    testing::ExtractionRun run;
    testing::RunExtraction(
        run, Archive().Repeat(6, Archive().Length(4)).Block(Wav(40), "abc", Wav(30)).Block("AVQF").Final());
    EXPECT_EQ(run.files.at("sfx/sfx_0007.wav"), Str(Wav(40)));
    EXPECT_EQ(run.files.at("sfx/sfx_0008"), "abc");
    EXPECT_EQ(run.files.at("sfx/sfx_0009.wav"), Str(Wav(30)));
    EXPECT_EQ(run.files.at("sfx/sfx_0010.AVQF"), "AVQF");
}

TEST(RiffCarving, WellFormedSoundIsWrittenWholeWithNoTail)
{
    EXPECT_EQ(CarveInAnyReads(Str(Wav(100))), (Files{{"sfx/sfx_0001.wav", Str(Wav(100))}}));
}

TEST(RiffCarving, BytesAfterTheDeclaredEndGoToAFileOfTheirOwn)
{
    EXPECT_EQ(CarveInAnyReads(Str(Wav(20)) + "!"), (Files{{"sfx/sfx_0001.wav", Str(Wav(20))}, {"sfx/sfx_0002", "!"}}));
}

TEST(RiffCarving, DeclaredSizeLargerThanThePieceKeepsTheWholePiece)
{
    const std::string cut_short = Str(Riff(1000)) + "samples";
    const std::string largest = Str(Riff(0x7FFFFFFF)) + "samples";
    EXPECT_EQ(CarveInAnyReads(cut_short), (Files{{"sfx/sfx_0001.wav", cut_short}}));
    EXPECT_EQ(CarveInAnyReads(largest), (Files{{"sfx/sfx_0001.wav", largest}}));
}

TEST(RiffCarving, DeclaredSizeOfMinusEightOrLessSendsTheWholePieceToTheTail)
{
    for (const std::int32_t size : {-8, -9, -1000, -0x7FFFFFFF - 1}) {
        const std::string piece = Str(Riff(size)) + "data";
        EXPECT_EQ(CarveInAnyReads(piece), (Files{{"sfx/sfx_0001.wav", ""}, {"sfx/sfx_0002", piece}})) << size;
    }
}

TEST(RiffCarving, SmallDeclaredSizeCutsInsideTheHeader)
{
    const std::string piece = Str(Riff(-4)) + "rest";
    EXPECT_EQ(CarveInAnyReads(piece), (Files{{"sfx/sfx_0001.wav", "RIFF"}, {"sfx/sfx_0002", piece.substr(4)}}));
}

TEST(RiffCarving, PieceTooShortForASizeIsWrittenWholeAndCarvingGoesOn)
{
    // Blocks of length 9 to 11, each followed by another block.
    for (const std::string_view extra : {"a", "ab", "abc"}) {
        const std::string payload = "RIFF" + std::string(extra);
        testing::ExtractionRun run;
        testing::RunExtraction(run, Archive().Block(payload).Block("AVQF").Final());
        EXPECT_EQ(run.files, (Files{{"sfx/sfx_0001.wav", payload}, {"sfx/sfx_0002.AVQF", "AVQF"}}));
    }
    // Two "RIFF"s closer than 8 bytes: the first piece keeps its 6 bytes.
    EXPECT_EQ(CarveInAnyReads("RIFFab" + Str(Wav(16))),
              (Files{{"sfx/sfx_0001.wav", "RIFFab"}, {"sfx/sfx_0002.wav", Str(Wav(16))}}));
    EXPECT_EQ(CarveInAnyReads(Str(Wav(16)) + "RIFF"),
              (Files{{"sfx/sfx_0001.wav", Str(Wav(16))}, {"sfx/sfx_0002.wav", "RIFF"}}));
}

TEST(RiffCarving, RiffInsideTheSamplesWithAnotherFormTypeStaysInTheSound)
{
    const std::string samples = std::string(20, 's') + "RIFF" + "\x10\0\0\0"s + "data" + std::string(20, 's');
    const std::string sound = Str(Riff(static_cast<std::int32_t>(4 + samples.size()))) + samples;
    EXPECT_EQ(CarveInAnyReads(sound + Str(Wav(12))),
              (Files{{"sfx/sfx_0001.wav", sound}, {"sfx/sfx_0002.wav", Str(Wav(12))}}));
}

TEST(RiffCarving, RiffInsideTheDeclaredExtentWithTheSameFormTypeStartsANewSound)
{
    // The first sound claims more than it has: the next one is real.
    const std::string first = Str(Riff(500)) + "short";
    EXPECT_EQ(CarveInAnyReads(first + Str(Wav(30))),
              (Files{{"sfx/sfx_0001.wav", first}, {"sfx/sfx_0002.wav", Str(Wav(30))}}));
}

TEST(RiffCarving, RiffWithoutRoomForAFormTypeBeforeTheBlockEndIsSoundData)
{
    const std::string sound = Str(Riff(100)) + "0123456789" + "RIFF\x01\0\0\0WA"s;
    EXPECT_EQ(CarveInAnyReads(sound), (Files{{"sfx/sfx_0001.wav", sound}}));
}

TEST(RiffCarving, RiffCloserThanAWholeHeaderToItsPieceAlwaysSplits)
{
    // At offset 8 of a piece declaring 100 bytes: split, whatever follows.
    const std::string piece = Str(Riff(100)).substr(0, 8);
    EXPECT_EQ(CarveInAnyReads(piece + "RIFF\x04\0\0\0AIFF"s),
              (Files{{"sfx/sfx_0001.wav", piece}, {"sfx/sfx_0002.wav", "RIFF\x04\0\0\0AIFF"s}}));
}

TEST(RiffCarving, RiffAtOrBeyondTheDeclaredEndSplitsWhateverItsFormType)
{
    const std::string other = Str(Riff(4, "AVI "));
    EXPECT_EQ(CarveInAnyReads(Str(Wav(20)) + other),
              (Files{{"sfx/sfx_0001.wav", Str(Wav(20))}, {"sfx/sfx_0002.wav", other}}));
    EXPECT_EQ(CarveInAnyReads(Str(Wav(20)) + "zz" + other),
              (Files{{"sfx/sfx_0001.wav", Str(Wav(20))}, {"sfx/sfx_0002", "zz"}, {"sfx/sfx_0003.wav", other}}));
}

TEST(RiffCarving, OnlyTheExactBytesRiffSplit)
{
    const std::string samples = "riffRIFxRIF RiFF";
    const std::string sound = Str(Riff(static_cast<std::int32_t>(4 + samples.size()))) + samples;
    EXPECT_EQ(CarveInAnyReads(sound), (Files{{"sfx/sfx_0001.wav", sound}}));
}

TEST(RiffCarving, RiffAcrossTheBoundaryOfTwoChunksStartsANewFile)
{
    // The archive is read 64 KiB at a time from its start: the second sound's
    // "RIFF" begins `straddle` bytes before the end of the first read.
    for (const std::size_t straddle : {1, 2, 3}) {
        const std::string first = Str(Wav(ArchiveReader::kReadSize - 4 - straddle));
        ASSERT_EQ(4 + first.size() + straddle, ArchiveReader::kReadSize);
        testing::ExtractionRun run;
        testing::RunExtraction(run, Archive().Block(first, Wav(64)).Final());
        EXPECT_EQ(run.files, (Files{{"sfx/sfx_0001.wav", first}, {"sfx/sfx_0002.wav", Str(Wav(64))}})) << straddle;
        // One update per 64 KiB chunk after the signature, one after the block.
        const std::uint64_t after = 4 + first.size() + 64 - 4;
        EXPECT_EQ(run.listener.checkpoints, (std::vector<std::uint64_t>{4 + 65536, after, after}));
    }
}

TEST(RiffCarving, FormTypeInTheNextChunkIsWaitedFor)
{
    // A "RIFF" inside the first sound's extent whose form type lies behind
    // the chunk boundary.
    const std::string filler(65536 - 16, 'f');
    const std::string first = Str(Riff(200000)) + filler;
    ASSERT_EQ(first.size() - 4, 65536u - 8);
    const std::string next = Str(Wav(40));
    EXPECT_EQ(CarveInAnyReads(first + next), (Files{{"sfx/sfx_0001.wav", first}, {"sfx/sfx_0002.wav", next}}));
    const std::string fake = Str(Riff(40, "junk")) + std::string(28, 'j');
    EXPECT_EQ(CarveInAnyReads(first + fake), (Files{{"sfx/sfx_0001.wav", first + fake}}));
}

TEST(RiffCarving, RandomBlocksCarveTheSameInAnyReads)
{
    // Sounds with honest, short and long sizes, stray bytes, chance "RIFF"s:
    // cut at every read size, the files must not change.
    std::mt19937 random(7);
    const std::vector<std::string> parts = {"RIFF", "WAVE", "AVI ", "xy", "\x10\0\0\0", "\xF0\xFF\xFF\xFF", "abcdefgh"};
    for (int round = 0; round < 200; ++round) {
        std::string payload = Str(Wav(12 + random() % 40));
        const int count = static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i) {
            payload += parts[random() % parts.size()];
        }
        CarveInAnyReads(payload);
    }
}

}  // namespace
}  // namespace quorvel
