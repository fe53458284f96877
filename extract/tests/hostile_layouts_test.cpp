// Archives made to hurt: lengths at the ends of their range, millions of
// blocks, markers everywhere, sizes of every extreme and sounds far bigger
// than memory. The extraction must stay correct, quick and small.

#include <algorithm>
#include <climits>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "extract/block_stream.hpp"
#include "extract/entry_writer.hpp"
#include "extract/riff_carver.hpp"
#include "testing/archive_builder.hpp"
#include "testing/extraction_run.hpp"

namespace quorvel {
namespace {

using testing::Archive;
using testing::Riff;
using testing::Str;
using Files = std::map<std::string, std::string>;
using Sizes = std::map<std::string, std::uint64_t>;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

Files Extract(const Archive& archive, testing::ExtractionRun& run)
{
    testing::RunExtraction(run, archive);
    return run.files;
}

// Outputs keep only their sizes, so that any number and any size of them
// fit in a test; the archive is made as it is read, never held whole.
struct SizedRun {
    explicit SizedRun(const Archive& archive)
    {
        files.AddArchive("sfx.pak", archive);
        ExtractArchive("sfx", files, listener);
    }

    testing::MemoryFileSystem files{testing::OutputMode::kSizesOnly};
    testing::RecordingListener listener;
};

TEST(HostileLayouts, LargestBlockLengthInATinyArchiveTakesWhatIsThereAndWarns)
{
    testing::ExtractionRun run;
    EXPECT_EQ(Extract(Archive().Length(INT32_MAX, "tiny"), run), (Files{{"sfx/sfx_0001", "tiny"}}));
    ASSERT_TRUE(run.truncation);
    EXPECT_EQ(run.truncation->block_offset, 0u);
    EXPECT_EQ(run.truncation->missing_bytes, std::uint64_t{INT32_MAX} - 4 - 4);
}

TEST(HostileLayouts, LargestBlockLengthBeforeARiffIsCarvedAsFarAsItGoes)
{
    testing::ExtractionRun run;
    EXPECT_EQ(Extract(Archive().Length(INT32_MAX, Riff(INT32_MAX)), run),
              (Files{{"sfx/sfx_0001.wav", "RIFF\xff\xff\xff\x7fWAVE"}}));
    EXPECT_TRUE(run.truncation);
}

TEST(HostileLayouts, MostNegativeBlockLengthIsAnEmptyBlockAndTheNextFollowsItsField)
{
    testing::ExtractionRun run;
    const auto archive = Archive().Length(INT32_MIN).Block("AVQF").Length(INT32_MIN).Final();
    EXPECT_EQ(Extract(archive, run),
              (Files{{"sfx/sfx_0001", ""}, {"sfx/sfx_0002.AVQF", "AVQF"}, {"sfx/sfx_0003", ""}}));
    EXPECT_FALSE(run.truncation);
    EXPECT_EQ(run.listener.bytes_done, 4u + 8u + 4u);
}

TEST(HostileLayouts, AMillionEmptyBlocksGiveAMillionNumberedFiles)
{
    static constexpr std::uint64_t kBlocks = 1'000'000;
    const SizedRun run(Archive().Repeat(kBlocks, Archive().Length(4)).Raw("end!"));
    EXPECT_FALSE(run.listener.truncation);
    EXPECT_EQ(run.files.FilesCreated(), kBlocks);
    EXPECT_EQ(run.files.LastCreated(), "sfx/sfx_1000000");
    EXPECT_TRUE(run.files.Sizes().empty());
    EXPECT_EQ(run.listener.bytes_done, 4 * kBlocks);
}

TEST(HostileLayouts, RiffEveryFourBytesGivesOneFourByteSoundPerMarker)
{
    // 20,000 markers run across the 64 KiB chunk boundary.
    constexpr int kMarkers = 20'000;
    std::string payload;
    for (int i = 0; i < kMarkers; ++i) {
        payload += "RIFF";
    }
    for (const auto serving : {testing::Serving{}, testing::Serving{.read_limit = 7}, testing::Serving::Views(300)}) {
        testing::ExtractionRun run;
        testing::RunExtraction(run, Archive().Block(payload).Block("next").Final(), serving);
        ASSERT_EQ(run.files.size(), kMarkers + 1u)
            << "reads of " << serving.read_limit << ", views of " << serving.view_size;
        EXPECT_EQ(run.files.at("sfx/sfx_20001"), "next");
        run.files.erase("sfx/sfx_20001");
        EXPECT_TRUE(std::all_of(run.files.begin(), run.files.end(), [](const auto& file) {
            return file.second == "RIFF" && file.first.ends_with(".wav");
        }));
        EXPECT_TRUE(run.files.contains("sfx/sfx_20000.wav"));
    }
}

TEST(HostileLayouts, DeclaredSizesOfEveryExtremeCutThePieceWithinItsBounds)
{
    const std::string body = "samples!";  // a 20-byte piece in all
    struct Case {
        std::int32_t declared;
        std::size_t kept;
    };
    const Case cases[] = {
        {INT32_MIN, 0},
        {-9, 0},
        {-8, 0},
        {-7, 1},
        {-1, 7},
        {0, 8},
        {4, 12},
        {12, 20},
        {13, 20},
        {INT32_MAX - 8, 20},
        {INT32_MAX - 7, 20},
        {INT32_MAX, 20},
    };
    for (const Case& c : cases) {
        const std::string piece = Str(Riff(c.declared)) + body;
        testing::ExtractionRun run;
        Files expected{{"sfx/sfx_0001.wav", piece.substr(0, c.kept)}};
        if (c.kept < piece.size()) {
            expected.emplace("sfx/sfx_0002", piece.substr(c.kept));
        }
        EXPECT_EQ(Extract(Archive().Block(piece).Final(), run), expected) << "declared size " << c.declared;
    }
}

TEST(HostileLayouts, NearlyTwoGibibyteSoundStreamsThroughWithoutBeingHeld)
{
    // The largest block there can be: one sound declared larger still, so
    // the whole payload (just under 2 GiB) is kept in one .wav.
    const std::uint64_t samples = std::uint64_t{INT32_MAX} - 4 - 12;
    const SizedRun run(Archive().Length(INT32_MAX, Riff(INT32_MAX), testing::Fill(samples, 0)).Raw("end!"));
    EXPECT_FALSE(run.listener.truncation);
    EXPECT_EQ(run.files.Sizes(), (Sizes{{"sfx/sfx_0001.wav", std::uint64_t{INT32_MAX} - 4}}));
    EXPECT_EQ(run.listener.bytes_done, 4 + std::uint64_t{INT32_MAX} - 8);
}

TEST(HostileLayouts, FiveGibibytesAfterOneHeaderSplitIntoSoundAndTailWithSixtyFourBitCounts)
{
    // No block can be this long, but the carver must not care: its counts
    // run past 4 GiB without wrapping.
    testing::MemoryFileSystem files(testing::OutputMode::kSizesOnly);
    files.MakeFolder("sfx");
    {
        EntryWriter writer(files, "sfx");
        writer.NextNumber();
        RiffCarver carver(writer);
        carver.Begin();
        const std::string header = Str(testing::Int32(INT32_MAX - 8), "WAVE");  // the sound is INT32_MAX bytes
        const std::vector<std::byte> zeros(1 << 20);
        const std::uint64_t total = 5 * kGiB;
        ASSERT_EQ(carver.Feed(std::as_bytes(std::span(header)), false), header.size());
        for (std::uint64_t fed = header.size() + 4; fed < total;) {
            const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), total - fed));
            fed += count;
            ASSERT_EQ(carver.Feed(std::span(zeros).first(count), fed == total), count);
        }
        writer.Close();
    }
    EXPECT_EQ(files.Sizes(),
              (Sizes{{"sfx/sfx_0001.wav", std::uint64_t{INT32_MAX}}, {"sfx/sfx_0002", 5 * kGiB - INT32_MAX}}));
}

}  // namespace
}  // namespace quorvel
