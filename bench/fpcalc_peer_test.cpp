// How the find benchmark scores fpcalc's fingerprints: the best offset of a
// clip within a sound and its share of bits wrong, with the ends of the
// sound never compared over a partial overlap.

#include "fpcalc_peer.hpp"

#include <gtest/gtest.h>

#include "testing/prng.hpp"

namespace quorvel::bench {
namespace {

RawFingerprint RandomWords(std::size_t count, testing::SplitMix64& random)
{
    RawFingerprint words(count);
    for (std::uint32_t& word : words) {
        word = static_cast<std::uint32_t>(random.Next());
    }
    return words;
}

TEST(FpcalcPeerScore, FindsTheClipsOffsetAndCountsTheBitsItGotWrong)
{
    testing::SplitMix64 random(7);
    const RawFingerprint sound = RandomWords(600, random);
    for (const std::size_t offset : {std::size_t{0}, std::size_t{313}, std::size_t{576}}) {
        RawFingerprint clip(sound.begin() + static_cast<std::ptrdiff_t>(offset),
                            sound.begin() + static_cast<std::ptrdiff_t>(offset + 24));
        clip[3] ^= 0x0000000FU;   // 4 bits
        clip[20] ^= 0x80000001U;  // 2 bits
        const PeerMatch match = BestOffset(clip, sound);
        EXPECT_EQ(match.offset, static_cast<int>(offset));
        EXPECT_DOUBLE_EQ(match.error_rate, 6.0 / (24 * 32));
    }
}

TEST(FpcalcPeerScore, ComparesOnlyWholeOverlapsSoAnUnrelatedClipScoresNearHalf)
{
    testing::SplitMix64 random(11);
    const RawFingerprint sound = RandomWords(400, random);
    RawFingerprint clip = RandomWords(24, random);
    // The sound's last word as the clip's first: a partial overlap of one
    // word would score 0 bits wrong.
    clip[0] = sound.back();
    const PeerMatch unrelated = BestOffset(clip, sound);
    EXPECT_GT(unrelated.error_rate, kPeerMatchThreshold);
    EXPECT_LE(unrelated.offset, 400 - 24);

    // A sound shorter than the clip is slid within the clip.
    const RawFingerprint inside(clip.begin() + 5, clip.begin() + 15);
    const PeerMatch shorter = BestOffset(clip, inside);
    EXPECT_EQ(shorter.offset, -5);
    EXPECT_EQ(shorter.error_rate, 0.0);
    EXPECT_EQ(BestOffset({}, sound).error_rate, 1.0);
}

}  // namespace
}  // namespace quorvel::bench
