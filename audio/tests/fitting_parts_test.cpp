#include <cmath>
#include <gtest/gtest.h>
#include <numbers>
#include <random>
#include <vector>

#include "audio/channel_mix.hpp"
#include "audio/loudness.hpp"
#include "audio/temporary_store.hpp"

namespace quorvel::audio {
namespace {

struct MixCase {
    const char* what;
    int from;
    int to;
    ChannelOrder order;
    std::vector<std::vector<float>> weights;  // one row per output channel
};

constexpr float kHalfPower = 0.70710678f;

class ChannelRules : public ::testing::TestWithParam<MixCase> {};

TEST_P(ChannelRules, SendEachInputChannelWhereItsRuleSays)
{
    const MixCase& rule = GetParam();
    const ChannelMix mix(rule.from, rule.to, rule.order);
    for (int output = 0; output < rule.to; ++output) {
        for (int input = 0; input < rule.from; ++input) {
            EXPECT_NEAR(mix.Weight(output, input),
                        rule.weights[static_cast<std::size_t>(output)][static_cast<std::size_t>(input)], 1e-6)
                << rule.what << ": input " << input << " into output " << output;
        }
    }
    // Applied to frames, each output is its row of weights over the inputs.
    std::vector<float> frame(static_cast<std::size_t>(rule.from));
    for (int input = 0; input < rule.from; ++input) {
        frame[static_cast<std::size_t>(input)] = static_cast<float>(input + 1);
    }
    std::vector<float> out;
    mix.Apply(frame, 1, out);
    ASSERT_EQ(out.size(), static_cast<std::size_t>(rule.to));
    for (int output = 0; output < rule.to; ++output) {
        float expected = 0;
        for (int input = 0; input < rule.from; ++input) {
            expected += rule.weights[static_cast<std::size_t>(output)][static_cast<std::size_t>(input)] * (input + 1);
        }
        EXPECT_NEAR(out[static_cast<std::size_t>(output)], expected, 1e-5) << rule.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryDirection, ChannelRules,
    ::testing::Values(
        MixCase{"stereo to mono: the mean", 2, 1, ChannelOrder::kWave, {{0.5f, 0.5f}}},
        MixCase{"mono to stereo: both sides", 1, 2, ChannelOrder::kWave, {{1}, {1}}},
        MixCase{"5.1 (WAVE order) folded down, LFE out",
                6,
                2,
                ChannelOrder::kWave,
                {{1, 0, kHalfPower, 0, 1, 0}, {0, 1, kHalfPower, 0, 0, 1}}},
        MixCase{"5.1 (Vorbis order) folded down, LFE out",
                6,
                2,
                ChannelOrder::kVorbis,
                {{1, kHalfPower, 0, 1, 0, 0}, {0, kHalfPower, 1, 0, 1, 0}}},
        MixCase{"5.1 to mono through the pair", 6, 1, ChannelOrder::kWave, {{0.5f, 0.5f, kHalfPower, 0, 0.5f, 0.5f}}},
        MixCase{"stereo into the front of 5.1",
                2,
                6,
                ChannelOrder::kWave,
                {{1, 0}, {0, 1}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}},
        MixCase{"mono into the front of quad", 1, 4, ChannelOrder::kWave, {{1}, {1}, {0}, {0}}},
        MixCase{"quad kept", 4, 4, ChannelOrder::kVorbis, {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}));

// Crossing its memory limit moves the store to a file; whatever was written
// before and after, overwritten, or left as a gap reads back as written.
TEST(TemporaryStore, HoldsWhatIsWrittenAcrossItsMoveFromMemoryToAFile)
{
    TemporaryStore store;
    std::vector<std::byte> mirror;
    std::mt19937 random(5);
    const auto write = [&](std::uint64_t offset, std::size_t size) {
        std::vector<std::byte> bytes(size);
        for (std::byte& b : bytes) {
            b = static_cast<std::byte>(random());
        }
        store.WriteAt(offset, bytes);
        if (offset + size > mirror.size()) {
            mirror.resize(offset + size);
        }
        std::copy(bytes.begin(), bytes.end(), mirror.begin() + static_cast<std::ptrdiff_t>(offset));
    };
    while (mirror.size() < TemporaryStore::kDefaultMemoryLimit - 100000) {
        write(mirror.size(), random() % 70000 + 1);
    }
    EXPECT_TRUE(store.InMemory());
    while (mirror.size() < TemporaryStore::kDefaultMemoryLimit + (std::size_t{2} << 20)) {
        write(mirror.size(), random() % 200000 + 1);
    }
    EXPECT_FALSE(store.InMemory());
    for (int i = 0; i < 50; ++i) {
        write(random() % mirror.size(), random() % 100000 + 1);  // over what is there, and past the end
    }
    write(mirror.size() + 1000, 10);  // a gap reads as zeros

    ASSERT_EQ(store.Size(), mirror.size());
    std::vector<std::byte> piece(300000);
    for (int i = 0; i < 200; ++i) {
        const std::uint64_t offset = random() % (mirror.size() + 10);
        const std::size_t wanted = random() % piece.size() + 1;
        const std::size_t got = store.ReadAt(offset, std::span(piece).first(wanted));
        ASSERT_EQ(got, std::min<std::size_t>(wanted, mirror.size() - std::min<std::size_t>(offset, mirror.size())));
        ASSERT_TRUE(std::equal(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got),
                               mirror.begin() + static_cast<std::ptrdiff_t>(offset)));
    }
    EXPECT_EQ(store.ReadAt(mirror.size(), piece), 0U);

    store.Clear();
    EXPECT_EQ(store.Size(), 0U);
    const std::vector<std::byte> again = {std::byte{1}, std::byte{2}, std::byte{3}};
    store.Append(again);
    ASSERT_EQ(store.ReadAt(0, piece), 3U);
    EXPECT_TRUE(std::equal(again.begin(), again.end(), piece.begin()));
}

std::vector<float> Tone(int rate, double seconds)
{
    std::vector<float> samples(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<float>(0.25 * std::sin(2 * std::numbers::pi * 997.0 * static_cast<double>(i) / rate));
    }
    return samples;
}

Loudness Measured(const std::vector<float>& samples, int rate)
{
    LoudnessMeter meter(1, rate);
    meter.Add(samples);
    return meter.Result();
}

// Under 400 ms there is no gated block: the whole sound is the one block,
// and a steady tone measures the same as two seconds of it.
TEST(Loudness, MeasuresASoundTooShortToGateAsOneBlockOnTheSameScale)
{
    const Loudness long_tone = Measured(Tone(22050, 2.0), 22050);
    const Loudness short_tone = Measured(Tone(22050, 0.15), 22050);
    ASSERT_TRUE(long_tone.lufs && short_tone.lufs);
    EXPECT_EQ(long_tone.measure, LoudnessMeasure::kIntegrated);
    EXPECT_EQ(short_tone.measure, LoudnessMeasure::kWholeSound);
    EXPECT_NEAR(*short_tone.lufs, *long_tone.lufs, 0.2);
    EXPECT_NEAR(short_tone.peak_db, 20 * std::log10(0.25), 0.1);

    EXPECT_FALSE(Measured(std::vector<float>(22050 * 2, 0.0f), 22050).lufs) << "silence has no level";
    EXPECT_FALSE(Measured(std::vector<float>(10, 0.5f), 22050).lufs) << "nor has under a millisecond";
}

}  // namespace
}  // namespace quorvel::audio
