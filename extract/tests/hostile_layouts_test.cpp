// Archives made to hurt: lengths at the ends of their range, millions of
// blocks, markers everywhere, sizes of every extreme and sounds far bigger
// than memory. The extraction must stay correct, quick and small.

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "extract/block_stream.hpp"
#include "extract/entry_writer.hpp"
#include "extract/riff_carver.hpp"
#include "testing/archive_bytes.hpp"
#include "testing/extraction_run.hpp"

namespace quorvel {
namespace {

using testing::ArchiveBytes;
using Files = std::map<std::string, std::string>;

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

// An archive that is never held in memory: a head, then a pattern repeated
// `repeats` times, then a foot, made up as it is read.
class GeneratedArchive final : public InputFile {
public:
    GeneratedArchive(std::string head, std::string pattern, std::uint64_t repeats, std::string foot)
        : head_(std::move(head)), foot_(std::move(foot)), body_size_(pattern.size() * repeats)
    {
        // A tile of whole patterns lets a read be filled with a few copies.
        const std::size_t copies = std::max<std::size_t>(1, 0x10000 / pattern.size());
        for (std::size_t i = 0; i < copies; ++i) {
            tile_ += pattern;
        }
        pattern_size_ = pattern.size();
    }

    std::uint64_t Size() override { return head_.size() + body_size_ + foot_.size(); }

    std::size_t Read(std::span<std::byte> buffer) override
    {
        std::size_t filled = 0;
        while (filled < buffer.size() && position_ < Size()) {
            const auto [source, available] = BytesAt(position_);
            const std::size_t count =
                static_cast<std::size_t>(std::min<std::uint64_t>(available, buffer.size() - filled));
            std::memcpy(buffer.data() + filled, source, count);
            filled += count;
            position_ += count;
        }
        return filled;
    }

private:
    // Where the bytes at `offset` can be copied from, and how many in a row.
    std::pair<const char*, std::uint64_t> BytesAt(std::uint64_t offset) const
    {
        if (offset < head_.size()) {
            return {head_.data() + offset, head_.size() - offset};
        }
        offset -= head_.size();
        if (offset < body_size_) {
            const std::size_t in_tile = static_cast<std::size_t>(offset % pattern_size_);
            return {tile_.data() + in_tile, std::min<std::uint64_t>(tile_.size() - in_tile, body_size_ - offset)};
        }
        offset -= body_size_;
        return {foot_.data() + offset, foot_.size() - offset};
    }

    std::string head_;
    std::string foot_;
    std::string tile_;
    std::size_t pattern_size_ = 1;
    std::uint64_t body_size_;
    std::uint64_t position_ = 0;
};

// Outputs that keep only their sizes, so that any number and any size of
// them fit in a test.
class CountingFileSystem final : public FileSystem {
public:
    using ArchiveMaker = std::function<std::unique_ptr<InputFile>()>;
    explicit CountingFileSystem(ArchiveMaker make_archive) : make_archive_(std::move(make_archive)) {}

    std::unique_ptr<InputFile> OpenArchive(const std::string& /*path*/) override { return make_archive_(); }
    std::optional<Failure> MakeFolder(const std::string& /*path*/) override { return std::nullopt; }
    std::unique_ptr<OutputFile> CreateOutput(const std::string& path) override
    {
        ++created;
        last_created = path;
        return std::make_unique<CountingOutput>(*this, path);
    }
    void RemoveOutput(const std::string& /*path*/) noexcept override {}
    std::string Join(const std::string& folder, const std::string& file) const override { return folder + "/" + file; }

    std::uint64_t created = 0;
    std::string last_created;
    // Only outputs that received bytes.
    std::map<std::string, std::uint64_t> sizes;

private:
    class CountingOutput final : public OutputFile {
    public:
        CountingOutput(CountingFileSystem& files, std::string path) : files_(files), path_(std::move(path)) {}
        void Write(std::span<const std::byte> bytes) override { files_.sizes[path_] += bytes.size(); }
        void Close() override {}

    private:
        CountingFileSystem& files_;
        std::string path_;
    };

    ArchiveMaker make_archive_;
};

std::string Int32Bytes(std::int32_t value)
{
    return ArchiveBytes().Int32(value).Str();
}

Files Extract(const ArchiveBytes& archive, testing::ExtractionRun& run)
{
    testing::RunExtraction(run, archive.View());
    return run.files;
}

TEST(HostileLayouts, LargestBlockLengthInATinyArchiveTakesWhatIsThereAndWarns)
{
    testing::ExtractionRun run;
    EXPECT_EQ(Extract(ArchiveBytes().Int32(INT32_MAX).Text("tiny"), run), (Files{{"sfx/sfx_0001", "tiny"}}));
    ASSERT_TRUE(run.truncation);
    EXPECT_EQ(run.truncation->block_offset, 0u);
    EXPECT_EQ(run.truncation->missing_bytes, std::uint64_t{INT32_MAX} - 4 - 4);
}

TEST(HostileLayouts, LargestBlockLengthBeforeARiffIsCarvedAsFarAsItGoes)
{
    testing::ExtractionRun run;
    EXPECT_EQ(Extract(ArchiveBytes().Int32(INT32_MAX).Text("RIFF\xff\xff\xff\x7fWAVE"), run),
              (Files{{"sfx/sfx_0001.wav", "RIFF\xff\xff\xff\x7fWAVE"}}));
    EXPECT_TRUE(run.truncation);
}

TEST(HostileLayouts, MostNegativeBlockLengthIsAnEmptyBlockAndTheNextFollowsItsField)
{
    testing::ExtractionRun run;
    const auto archive = ArchiveBytes().Int32(INT32_MIN).Block("AVQF").Int32(INT32_MIN).Final();
    EXPECT_EQ(Extract(archive, run),
              (Files{{"sfx/sfx_0001", ""}, {"sfx/sfx_0002.AVQF", "AVQF"}, {"sfx/sfx_0003", ""}}));
    EXPECT_FALSE(run.truncation);
    EXPECT_EQ(run.listener.bytes_done, 4u + 8u + 4u);
}

TEST(HostileLayouts, AMillionEmptyBlocksGiveAMillionNumberedFiles)
{
    static constexpr std::uint64_t kBlocks = 1'000'000;
    CountingFileSystem files([] { return std::make_unique<GeneratedArchive>("", Int32Bytes(4), kBlocks, "end!"); });
    testing::RecordingListener listener;
    ExtractArchive("sfx", files, listener);
    EXPECT_FALSE(listener.truncation);
    EXPECT_EQ(files.created, kBlocks);
    EXPECT_EQ(files.last_created, "sfx/sfx_1000000");
    EXPECT_TRUE(files.sizes.empty());
    EXPECT_EQ(listener.bytes_done, 4 * kBlocks);
}

TEST(HostileLayouts, RiffEveryFourBytesGivesOneFourByteSoundPerMarker)
{
    // 20,000 markers run across the 64 KiB chunk boundary.
    constexpr int kMarkers = 20'000;
    std::string payload;
    for (int i = 0; i < kMarkers; ++i) {
        payload += "RIFF";
    }
    for (const std::size_t read_limit : {std::size_t{SIZE_MAX}, std::size_t{7}}) {
        testing::ExtractionRun run;
        testing::RunExtraction(run, ArchiveBytes().Block(payload).Block("next").Final().View(), read_limit);
        ASSERT_EQ(run.files.size(), kMarkers + 1u) << "reads of " << read_limit;
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
    const std::string body = "WAVEsamples!";  // a 20-byte piece in all
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
        const std::string piece = "RIFF" + Int32Bytes(c.declared) + body;
        testing::ExtractionRun run;
        Files expected{{"sfx/sfx_0001.wav", piece.substr(0, c.kept)}};
        if (c.kept < piece.size()) {
            expected.emplace("sfx/sfx_0002", piece.substr(c.kept));
        }
        EXPECT_EQ(Extract(ArchiveBytes().Block(piece).Final(), run), expected) << "declared size " << c.declared;
    }
}

TEST(HostileLayouts, NearlyTwoGibibyteSoundStreamsThroughWithoutBeingHeld)
{
    // The largest block there can be: one sound declared larger still, so
    // the whole payload (just under 2 GiB) is kept in one .wav.
    const std::string header = Int32Bytes(INT32_MAX) + "RIFF" + Int32Bytes(INT32_MAX) + "WAVE";
    const std::uint64_t samples = std::uint64_t{INT32_MAX} - 4 - 12;
    CountingFileSystem files(
        [&] { return std::make_unique<GeneratedArchive>(header, std::string(1, '\0'), samples, "end!"); });
    testing::RecordingListener listener;
    ExtractArchive("sfx", files, listener);
    EXPECT_FALSE(listener.truncation);
    EXPECT_EQ(files.sizes, (std::map<std::string, std::uint64_t>{{"sfx/sfx_0001.wav", std::uint64_t{INT32_MAX} - 4}}));
    EXPECT_EQ(listener.bytes_done, 4 + std::uint64_t{INT32_MAX} - 8);
}

TEST(HostileLayouts, FiveGibibytesAfterOneHeaderSplitIntoSoundAndTailWithSixtyFourBitCounts)
{
    // No block can be this long, but the carver must not care: its counts
    // run past 4 GiB without wrapping.
    CountingFileSystem files([] { return nullptr; });
    {
        EntryWriter writer(files, "sfx");
        writer.NextNumber();
        RiffCarver carver(writer);
        carver.Begin();
        const std::string header = Int32Bytes(INT32_MAX - 8) + "WAVE";  // the sound is INT32_MAX bytes
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
    EXPECT_EQ(files.sizes, (std::map<std::string, std::uint64_t>{{"sfx/sfx_0001.wav", std::uint64_t{INT32_MAX}},
                                                                 {"sfx/sfx_0002", 5 * kGiB - INT32_MAX}}));
}

}  // namespace
}  // namespace quorvel
