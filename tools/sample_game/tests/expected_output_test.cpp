#include "tools/sample_game/expected_output.hpp"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sample_game/archive_writer.hpp"
#include "tools/sample_game/profiles.hpp"

namespace quorvel::sample {
namespace {

struct Entry {
    std::uint64_t number = 0;
    std::string extension{};
    std::string bytes{};
};

class RecordingSink : public ExpectedEntrySink {
public:
    std::ostream& Open(std::uint64_t number, std::string_view extension) override
    {
        opened_.push_back({.number = number, .extension = std::string(extension)});
        streams_.push_back(std::make_unique<std::ostringstream>(std::ios::binary));
        return *streams_.back();
    }

    std::vector<Entry> Entries() const
    {
        std::vector<Entry> entries = opened_;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            entries[i].bytes = streams_[i]->str();
        }
        return entries;
    }

private:
    std::vector<Entry> opened_;
    std::vector<std::unique_ptr<std::ostringstream>> streams_;
};

struct Expected {
    ExpectedSummary summary;
    std::vector<Entry> entries;
};

Expected ExpectFrom(std::span<const Block> blocks)
{
    RecordingSink sink;
    const ExpectedSummary summary = WriteExpectedEntries(blocks, sink);
    return {summary, sink.Entries()};
}

std::string ArchiveOf(std::span<const Block> blocks)
{
    std::ostringstream out(std::ios::binary);
    WriteArchive(out, blocks);
    return std::move(out).str();
}

std::uint32_t U32At(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= std::uint32_t{static_cast<unsigned char>(bytes.at(at + i))} << (8 * i);
    }
    return value;
}

TEST(ExpectedFileName, PadsToFourDigitsAndNeverWraps)
{
    EXPECT_EQ(ExpectedFileName("sfx", 1, ".wav"), "sfx_0001.wav");
    EXPECT_EQ(ExpectedFileName("speech", 42, ""), "speech_0042");
    EXPECT_EQ(ExpectedFileName("sfx", 9999, ".AVQF"), "sfx_9999.AVQF");
    EXPECT_EQ(ExpectedFileName("sfx", 10000, ""), "sfx_10000");
}

// The tiny profile worked out by hand from profiles.cpp: three sounds with
// 3 and 2 stray bytes, the odd blocks with 12-byte fillers, a sound with a
// chance "RIFF" inside.
TEST(ExpectedEntries, TinyGameGivesTheseFiles)
{
    const GameContent game = FindProfile("tiny")->make(kDefaultSeed);
    const Expected sfx = ExpectFrom(game.sfx);
    const std::string text = "TEXT Quorvel sound bank made by quorvel-make-sample\n";
    const std::vector<std::pair<std::string, std::size_t>> sfx_files = {
        {"sfx_0001.wav", 264},  // 20 ms of 8-bit 11025 Hz: 220 frames after the 44-byte header
        {"sfx_0002", 3},       {"sfx_0003.wav", 0},       {"sfx_0004.wav", 0}, {"sfx_0005", 2},
        {"sfx_0006.AVQF", 12}, {"sfx_0007", 0},           {"sfx_0008", 12},    {"sfx_0010", 2},
        {"sfx_0011", 12},      {"sfx_0012", text.size()}, {"sfx_0013", 12},    {"sfx_0014.wav", 0},
    };
    ASSERT_EQ(sfx.entries.size(), sfx_files.size());
    for (std::size_t i = 0; i < sfx_files.size(); ++i) {
        const Entry& entry = sfx.entries[i];
        const auto& [name, size] = sfx_files[i];
        SCOPED_TRACE(name);
        EXPECT_EQ(ExpectedFileName("sfx", entry.number, entry.extension), name);
        if (entry.extension == kWavExtension) {
            EXPECT_EQ(entry.bytes.substr(0, 4), "RIFF");
            EXPECT_EQ(U32At(entry.bytes, 4) + 8u, entry.bytes.size()) << "kept whole, as declared";
        }
        if (size != 0) {
            EXPECT_EQ(entry.bytes.size(), size);
        }
    }
    EXPECT_EQ(sfx.entries[5].bytes.substr(0, 4), "AVQF");
    EXPECT_EQ(sfx.entries[7].bytes.substr(0, 4), "RIFX");
    EXPECT_EQ(sfx.entries[10].bytes, text);
    EXPECT_NE(sfx.entries[12].bytes.find("RIFF", 12), std::string::npos) << "the chance RIFF stays inside";
    EXPECT_EQ(sfx.summary.last_number, 14u);

    const Expected speech = ExpectFrom(game.speech);
    ASSERT_EQ(speech.entries.size(), 3u);
    EXPECT_EQ(ExpectedFileName("speech", speech.entries[0].number, speech.entries[0].extension), "speech_0001.wav");
    EXPECT_EQ(ExpectedFileName("speech", speech.entries[1].number, speech.entries[1].extension), "speech_0002.AVQF");
    EXPECT_EQ(speech.entries[1].bytes.size(), 24u);
    EXPECT_EQ(ExpectedFileName("speech", speech.entries[2].number, speech.entries[2].extension), "speech_0003");
    EXPECT_TRUE(speech.entries[2].bytes.empty());
}

// True when a "RIFF" at k >= 12 inside the sound's declared extent is
// followed 8 bytes on by the sound's own form type: the extractor would
// start a new sound there, so the sound could not be kept whole.
bool HoldsASplittingRiff(std::string_view wav)
{
    for (std::size_t at = wav.find("RIFF", 1); at != std::string_view::npos; at = wav.find("RIFF", at + 1)) {
        if (at < 12 || wav.substr(at + 8, 4) == wav.substr(8, 4)) {
            return true;
        }
    }
    return false;
}

// Checks the entries of one block, whose payload is `payload`, against the
// rules: one file for a data block, sounds and stray bytes for a RIFF block.
void ExpectEntriesOfBlock(std::string_view payload, std::span<const Entry> entries)
{
    if (!payload.starts_with("RIFF")) {
        ASSERT_EQ(entries.size(), 1u);
        const bool tagged = payload.starts_with("AVQF");
        EXPECT_EQ(entries[0].extension, tagged ? kAvqfExtension : "");
        return;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Entry& entry = entries[i];
        if (entry.extension == kWavExtension) {
            EXPECT_TRUE(entry.bytes.starts_with("RIFF"));
            EXPECT_EQ(U32At(entry.bytes, 4) + 8u, entry.bytes.size()) << "a sound is kept as declared";
            EXPECT_FALSE(HoldsASplittingRiff(entry.bytes)) << "sound " << entry.number;
        } else {
            EXPECT_EQ(entry.extension, "");
            EXPECT_TRUE(i > 0 && entries[i - 1].extension == kWavExtension) << "stray bytes follow a sound";
            EXPECT_FALSE(entry.bytes.empty());
            EXPECT_EQ(entry.bytes.find("RIFF"), std::string::npos) << "stray bytes " << entry.number;
        }
    }
}

class ExpectedGame : public ::testing::TestWithParam<std::string_view> {};

// The expected files, in number order, must hold exactly the archive's
// payload bytes: each block's payload split into its entries, numbers
// without gaps except the one a "RIFF"-only payload uses up.
TEST_P(ExpectedGame, EntriesSplitEveryPayloadAndNumberWithoutGaps)
{
    for (const std::uint64_t seed : {1u, 2u, 3u}) {
        const GameContent game = FindProfile(GetParam())->make(seed);
        for (const auto* blocks : {&game.sfx, &game.speech}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + (blocks == &game.sfx ? ", sfx" : ", speech"));
            const std::string archive = ArchiveOf(*blocks);
            const Expected expected = ExpectFrom(*blocks);
            std::size_t at = 0;    // in the archive
            std::size_t next = 0;  // the next entry
            std::uint64_t number = 0;
            std::uint64_t used_up = 0;
            std::uint64_t bytes = 0;
            for (const Block& block : *blocks) {
                const std::string_view payload = std::string_view(archive).substr(at + 4, PayloadSize(block));
                at += 4 + payload.size();
                ++number;
                if (payload == "RIFF") {
                    ++used_up;
                    continue;
                }
                const std::size_t first = next;
                std::string joined;
                do {
                    ASSERT_LT(next, expected.entries.size()) << "entries end before block " << number;
                    EXPECT_EQ(expected.entries[next].number, number + (next - first)) << "block " << number;
                    joined += expected.entries[next++].bytes;
                } while (joined.size() < payload.size());
                EXPECT_EQ(joined, payload) << "block " << number;
                ExpectEntriesOfBlock(payload, std::span(expected.entries).subspan(first, next - first));
                number += next - first - 1;
                bytes += joined.size();
            }
            EXPECT_EQ(next, expected.entries.size()) << "entries left after the last block";
            EXPECT_EQ(expected.summary.files, expected.entries.size());
            EXPECT_EQ(expected.summary.last_number, number);
            EXPECT_EQ(expected.summary.last_number, expected.entries.size() + used_up);
            EXPECT_EQ(expected.summary.bytes, bytes);
            EXPECT_EQ(bytes, archive.size() - 4 * (blocks->size() + 1) - 4 * used_up)
                << "all but the length fields, the final field and the \"RIFF\"-only payloads";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, ExpectedGame, ::testing::Values("sample", "tiny"),
                         [](const auto& info) { return std::string(info.param); });

TEST(ExpectedEntries, SignaturesAreJudgedOnTheBytesThePayloadReallyHas)
{
    const std::vector<Block> blocks = {
        FillerBlock{.signature = Signature("AVQF"), .payload_size = 2, .seed = 1},  // "AV": too short for a tag
        FillerBlock{.signature = Signature("RIFF"), .payload_size = 4},             // a "RIFF"-only payload
        FillerBlock{.signature = Signature("AVQF"), .payload_size = 4},
        RiffBlock{},  // no sounds: an empty payload
        TextBlock("avqf"),
    };
    const Expected expected = ExpectFrom(blocks);
    ASSERT_EQ(expected.entries.size(), 4u);
    EXPECT_EQ(expected.entries[0].bytes, "AV");
    EXPECT_EQ(expected.entries[0].extension, "");
    EXPECT_EQ(expected.entries[1].number, 3u);
    EXPECT_EQ(expected.entries[1].extension, kAvqfExtension);
    EXPECT_EQ(expected.entries[2].number, 4u);
    EXPECT_TRUE(expected.entries[2].bytes.empty());
    EXPECT_EQ(expected.entries[3].extension, "") << "signatures are case-sensitive";
}

TEST(ExpectedEntries, RefusesADataBlockThatTheExtractorWouldCarve)
{
    for (const Block& carved : {Block{TextBlock("RIFF\x04\0\0\0WAVE")},
                                Block{FillerBlock{.signature = Signature("RIFF"), .payload_size = 100}}}) {
        const std::vector<Block> blocks = {TextBlock("TEXT first"), carved};
        RecordingSink sink;
        EXPECT_THROW(WriteExpectedEntries(blocks, sink), std::domain_error);
        EXPECT_TRUE(sink.Entries().empty()) << "refused before anything is written";
    }
}

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(WriteExpectedGame, WritesEachEntryAsANamedFileInItsArchivesFolder)
{
    const auto folder = std::filesystem::path(::testing::TempDir()) / "quorvel-expected-game-test";
    std::filesystem::remove_all(folder);
    const GameContent game = FindProfile("tiny")->make(4);
    const ExpectedGameSummary summary = WriteExpectedGame(folder, game);
    for (const auto& [name, blocks, archive_summary] :
         {std::tuple{"sfx", &game.sfx, summary.sfx}, std::tuple{"speech", &game.speech, summary.speech}}) {
        const Expected expected = ExpectFrom(*blocks);
        std::set<std::string> written;
        for (const auto& file : std::filesystem::directory_iterator(folder / name)) {
            written.insert(file.path().filename().string());
        }
        EXPECT_EQ(written.size(), expected.entries.size()) << name;
        EXPECT_EQ(archive_summary.files, expected.entries.size()) << name;
        for (const Entry& entry : expected.entries) {
            const std::string file_name = ExpectedFileName(name, entry.number, entry.extension);
            EXPECT_TRUE(written.contains(file_name)) << file_name;
            EXPECT_EQ(ReadFile(folder / name / file_name), entry.bytes) << file_name;
        }
    }
    std::filesystem::remove_all(folder);
}

TEST(WriteExpectedGame, AFileInTheWayOfAFolderIsAnError)
{
    const auto folder = std::filesystem::path(::testing::TempDir()) / "quorvel-expected-blocked-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "speech") << "in the way";
    EXPECT_THROW(WriteExpectedGame(folder, FindProfile("tiny")->make(1)), std::runtime_error);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quorvel::sample
