// Listing: the block stream run over a file system that keeps nothing, so
// that it names exactly the files an extraction writes.

#include "extract/listing.hpp"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "extract/wav_format.hpp"
#include "testing/archive_builder.hpp"
#include "testing/extraction_run.hpp"
#include "testing/memory_file_system.hpp"

namespace quorvel {
namespace {

using testing::Archive;
using testing::Riff;
using testing::Wav;

class EntryRecorder final : public ExtractionListener {
public:
    void StatusChanged(std::string_view /*text*/) override {}
    void TruncationFound(const Truncation& /*truncation*/) override {}
    void Advance(std::uint64_t /*bytes*/) override {}
    void Checkpoint() override {}
    void EntryFinished(const Entry& entry) override { entries.push_back(entry); }

    std::vector<Entry> entries;
};

std::vector<Entry> List(const Archive& archive, testing::Serving serving = {})
{
    testing::MemoryFileSystem files;
    files.AddArchive("sfx.pak", archive.Make());
    files.LimitReadSize(serving.read_limit);
    if (serving.view_size != 0) {
        files.ServeViews(serving.view_size);
    }
    EntryRecorder recorder;
    ListArchive(ArchiveLocation::Of(files, "sfx"), files, recorder);
    EXPECT_TRUE(files.Outputs().empty() && files.Folders().empty()) << "the listing wrote something";
    return recorder.entries;
}

std::map<std::string, std::uint64_t> NamesAndSizes(const std::vector<Entry>& entries)
{
    std::map<std::string, std::uint64_t> sizes;
    for (const Entry& entry : entries) {
        sizes[entry.RelativePath()] = entry.size;
    }
    return sizes;
}

// Blocks written whole are passed over unread, so the listing must count
// what it skips: blocks larger than a window, and blocks whose bytes start
// in one window and end in the next, of every class.
TEST(Listing, NamesEveryFileExtractionWritesWithItsSize)
{
    constexpr std::uint64_t kMiB = 1 << 20;
    const auto data = [](std::uint64_t size) { return testing::Fill(size - 4, 'd'); };
    const std::vector<Archive> archives = {
        Archive().Block("AVQF1234").Block().Block(Riff(4), "xy", Riff(4)).Final(),
        Archive().Length(-5).Length(6, "ab").Block("RIFF").Block(Riff(-100), "tail").Final(),
        Archive().Block(Wav(70000), Riff(2000000, "AVI "), "x").Block("DATA", testing::Fill(200000, 7)).Final(),
        Archive().Block("AVQF").Length(1 << 20, Wav(5000), "cut short"),
        Archive().Repeat(20000, Archive().Block("RIFF", "RIFF")).Raw("xy"),
        // Larger than a window of 4 MiB, and from 3 MiB across the 4 MiB mark.
        Archive()
            .Block("AVQF", data(5 * kMiB))
            .Block("DATA", data(3 * kMiB - 16))
            .Block("DATA", data(2 * kMiB))
            .Final(),
        // Truncated across several windows; short blocks on and across the mark.
        Archive().Block("DATA", data(4 * kMiB - 14)).Length(6, "ab").Length(7, "abc").Length(5 * kMiB, "DATA"),
        Archive().Block("DATA", data(4 * kMiB - 13)).Length(7, "abc").Block(Wav(4 * kMiB + 100), "xy").Final(),
    };
    const std::vector<testing::Serving> servings = {{},
                                                    {.read_limit = 1000, .view_size = 0},
                                                    testing::Serving::Views(259),
                                                    testing::Serving::Views(4096),
                                                    testing::Serving::Views(4 * kMiB)};
    for (const Archive& archive : archives) {
        testing::ExtractionRun run;
        testing::RunExtraction(run, archive);
        std::map<std::string, std::uint64_t> written;
        for (const auto& [path, bytes] : run.files) {
            written[path] = bytes.size();
        }
        for (const testing::Serving& serving : servings) {
            EXPECT_EQ(NamesAndSizes(List(archive, serving)), written)
                << archive.Size() << " bytes, reads of " << serving.read_limit << ", views of " << serving.view_size;
        }
    }
}

TEST(Listing, TellsKindAndArchiveOffsetOfEveryFile)
{
    const auto entries =
        List(Archive().Block().Length(6, "ab").Block("AVQF12").Block("DATA").Block(Wav(44), "xyz", Wav(50)).Final());
    std::vector<std::string> seen;
    for (const Entry& entry : entries) {
        seen.push_back(entry.file_name + " " + std::string(KindName(entry.kind)) + " " + std::to_string(entry.offset));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"sfx_0001 empty 4", "sfx_0002 short 8", "sfx_0003.AVQF avqf 14",
                                              "sfx_0004 data 24", "sfx_0005.wav sound 32", "sfx_0006 tail 76",
                                              "sfx_0007.wav sound 79"}));
}

TEST(WavFormat, ComesFromTheFmtAndDataChunksWhereverTheyAre)
{
    const std::string wav = testing::Str(Wav(1044));
    const auto format = ReadWavFormat(std::as_bytes(std::span(wav)));
    ASSERT_TRUE(format);
    EXPECT_EQ(format->channels, 1u);
    EXPECT_EQ(format->sample_rate, 22050u);
    EXPECT_EQ(format->bits_per_sample, 16u);
    EXPECT_DOUBLE_EQ(format->seconds, 1000.0 / 44100.0);

    // A LIST chunk of odd size (padded) before "fmt ".
    const std::string listed =
        wav.substr(0, 12) + "LIST" + testing::Str(testing::Int32(3)) + "abc" + '\0' + wav.substr(12);
    const auto behind_a_list = ReadWavFormat(std::as_bytes(std::span(listed)));
    ASSERT_TRUE(behind_a_list);
    EXPECT_DOUBLE_EQ(behind_a_list->seconds, format->seconds);
}

TEST(WavFormat, IsUnknownWithoutAUsableFmtOrDataChunk)
{
    const std::string wav = testing::Str(Wav(1044));
    const auto unknown = [](const std::string& bytes) { return !ReadWavFormat(std::as_bytes(std::span(bytes))); };
    EXPECT_TRUE(unknown(testing::Str(Riff(4))));  // a bare header
    EXPECT_TRUE(unknown(wav.substr(0, 36)));      // no data chunk
    std::string silent_rate = wav;
    silent_rate.replace(24, 4, std::string(4, '\0'));  // a rate of 0
    EXPECT_TRUE(unknown(silent_rate));
    std::string data_first = wav;
    data_first.replace(12, 4, "junk");  // the fmt chunk no longer one
    EXPECT_TRUE(unknown(data_first));
}

}  // namespace
}  // namespace quorvel
