// The benchmark inputs are what their names promise: the sizes, counts and
// shapes the targets are measured on. Only descriptions are built here,
// except for the small worst case, which is written to memory and scanned.

#include "tools/sample_game/bench_profiles.hpp"

#include <gtest/gtest.h>
#include <string>

namespace quorvel::sample {
namespace {

std::uint64_t CountSounds(const std::vector<Block>& blocks)
{
    std::uint64_t sounds = 0;
    for (const Block& block : blocks) {
        if (const auto* riff = std::get_if<RiffBlock>(&block)) {
            sounds += riff->sounds.size();
        }
    }
    return sounds;
}

void ExpectEveryBlockFitsItsLength(const std::vector<Block>& blocks)
{
    for (const Block& block : blocks) {
        ASSERT_LT(4 + PayloadSize(block), std::uint64_t{1} << 31);
    }
}

TEST(BenchProfiles, RealisticGameHasThousandsOfSoundsOfGameSizesInAboutTheAskedBytes)
{
    const auto game = RealisticGame(std::uint64_t{1} << 30, 1);
    const std::uint64_t total = GameArchive(game.sfx).Size() + GameArchive(game.speech).Size();
    EXPECT_GE(total, std::uint64_t{1} << 30);
    EXPECT_LT(total, (std::uint64_t{1} << 30) + 64 * kMiB);
    EXPECT_GT(CountSounds(game.sfx) + CountSounds(game.speech), 2000U);

    std::uint64_t riff_blocks = 0;
    std::uint64_t several = 0;
    std::uint64_t strays = 0;
    std::uint64_t others = 0;
    for (const Block& block : game.sfx) {
        const auto* riff = std::get_if<RiffBlock>(&block);
        if (riff == nullptr) {
            ++others;
            continue;
        }
        ++riff_blocks;
        several += riff->sounds.size() > 1 ? 1 : 0;
        for (const auto& entry : riff->sounds) {
            const std::uint64_t size = SoundFileSize(entry.sound);
            EXPECT_GE(size, 1800U);
            EXPECT_LE(size, 20 * kMiB);
            strays += entry.stray_after != 0 ? 1 : 0;
        }
    }
    EXPECT_GT(several * 2, riff_blocks) << "most RIFF blocks hold several sounds";
    EXPECT_GT(strays, 0U);
    EXPECT_GT(others, 0U);
    ExpectEveryBlockFitsItsLength(game.sfx);
}

TEST(BenchProfiles, HugeSoundIsOneBlockOfOneSoundInAnArchiveOverTwoGiB)
{
    const auto game = HugeSound(1536 * kMiB, 1);
    const auto* first = std::get_if<RiffBlock>(&game.sfx.front());
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first->sounds.size(), 1U);
    EXPECT_GT(SoundFileSize(first->sounds.front().sound), 1536 * kMiB - 16);
    EXPECT_GT(GameArchive(game.sfx).Size(), std::uint64_t{2} << 30);
    ExpectEveryBlockFitsItsLength(game.sfx);
}

TEST(BenchProfiles, TinyBlocksNumberPastNinetyNineThousandNineHundredNinetyNine)
{
    const auto game = TinyBlocks(200'000, 1);
    EXPECT_EQ(game.sfx.size(), 200'000U);
    for (const Block& block : game.sfx) {
        ASSERT_LE(PayloadSize(block), 256U);
    }
}

TEST(BenchProfiles, WorstCaseRepeatsRifWithForeignRiffMarkersEveryFewHundredBytes)
{
    const auto game = SearchWorstCase(2 * kMiB, 1);
    const std::string archive = GameArchive(game.sfx).Str();
    ASSERT_EQ(archive.size(), GameArchive(game.sfx).Size());

    std::size_t wave = 0;
    std::size_t junk = 0;
    std::size_t last = 0;
    std::size_t widest_gap = 0;
    for (std::size_t at = archive.find("RIFF"); at != std::string::npos; at = archive.find("RIFF", at + 4)) {
        const std::string form = archive.substr(at + 8, 4);
        wave += form == "WAVE" ? 1 : 0;
        junk += form == "JUNK" ? 1 : 0;
        if (last != 0 && form == "JUNK") {
            widest_gap = std::max(widest_gap, at - last);
        }
        last = at;
    }
    EXPECT_EQ(wave, 2 * 16U) << "16 sounds of 64 KiB to the 1 MiB block";
    EXPECT_GT(junk, 2 * 16 * (65536 / 400U));
    EXPECT_LE(widest_gap, 400U);
    EXPECT_NE(archive.find("RIFRIFRIF"), std::string::npos);
}

TEST(BenchProfiles, SingleSoundHasTheAskedSizeAndNamesAreKnown)
{
    const auto game = SingleSound(10 * kMiB, 1);
    ASSERT_EQ(game.sfx.size(), 1U);
    EXPECT_GT(GameArchive(game.sfx).Size(), 10 * kMiB - 16);
    EXPECT_LE(GameArchive(game.sfx).Size(), 10 * kMiB + 8);
    ASSERT_NE(FindProfile("sound"), nullptr);
    EXPECT_TRUE(FindProfile("sound")->sized);
    EXPECT_EQ(FindProfile("no-such-profile"), nullptr);
}

}  // namespace
}  // namespace quorvel::sample
