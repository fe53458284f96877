// The spectrogram shows each tone in its band and at its time, for a sound
// longer than the decoder's pieces, in every encoding that decodes.

#include "audio/spectrogram.hpp"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

#include "audio/memory_input.hpp"
#include "audio/tests/sound_kit.hpp"

namespace quorvel::audio {
namespace {

constexpr int kRate = 22050;

// A tone of `low` Hz for the first half, then `high` Hz, at half scale.
std::vector<float> TwoTones(std::int64_t frames, double low, double high)
{
    std::vector<float> samples(static_cast<std::size_t>(frames));
    for (std::int64_t i = 0; i < frames; ++i) {
        const double hz = i < frames / 2 ? low : high;
        samples[static_cast<std::size_t>(i)] =
            static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / kRate));
    }
    return samples;
}

// The row of a column that is loudest.
std::uint32_t LoudestRow(const Spectrogram& spectrogram, std::uint32_t column)
{
    const auto first = spectrogram.levels.begin() + static_cast<std::ptrdiff_t>(column) * spectrogram.rows;
    return static_cast<std::uint32_t>(std::max_element(first, first + spectrogram.rows) - first);
}

// The row a frequency falls in: rows share the bands from 0 Hz to half the rate.
std::uint32_t RowOf(double hz, std::uint32_t rows)
{
    return static_cast<std::uint32_t>(hz / (kRate / 2.0) * rows);
}

TEST(Spectrogram, EachToneIsInItsBandAndAtItsTime)
{
    constexpr std::int64_t kFrames = 150000;  // 6.8 s: many 64 KiB pieces and many hops per column
    const auto samples = TwoTones(kFrames, 1000, 4000);
    for (const int format : {SF_FORMAT_WAV | SF_FORMAT_PCM_16, SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM}) {
        SCOPED_TRACE(format);
        MemoryInput input(testing::EncodeSound(format, 1, kRate, samples));
        const Spectrogram spectrogram = ComputeSpectrogram(input, "sfx/sfx_0001.wav", 300, 128);
        ASSERT_EQ(spectrogram.levels.size(), 300U * 128U);
        EXPECT_NEAR(spectrogram.seconds, static_cast<double>(kFrames) / kRate, 0.05);
        for (const std::uint32_t column : {1U, 100U, 140U}) {
            EXPECT_NEAR(LoudestRow(spectrogram, column), RowOf(1000, 128), 1) << "column " << column;
        }
        for (const std::uint32_t column : {160U, 250U, 298U}) {
            EXPECT_NEAR(LoudestRow(spectrogram, column), RowOf(4000, 128), 1) << "column " << column;
        }
        // Half scale is 6 dB under full scale: near the top of the levels,
        // and a band far from both tones near the bottom.
        const std::uint8_t tone = spectrogram.levels[100 * 128 + RowOf(1000, 128)];
        EXPECT_GT(tone, 230);
        EXPECT_LT(spectrogram.levels[100 * 128 + RowOf(9000, 128)], tone / 2);
    }
}

TEST(Spectrogram, AShortSoundFillsEveryColumnAndSilenceIsZero)
{
    MemoryInput tone(testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, kRate, TwoTones(300, 2000, 2000)));
    const Spectrogram short_sound = ComputeSpectrogram(tone, "sfx/sfx_0002.wav", 4096, 512);
    for (std::uint32_t column = 0; column < short_sound.columns; ++column) {
        const auto first = short_sound.levels.begin() + static_cast<std::ptrdiff_t>(column) * short_sound.rows;
        ASSERT_GT(*std::max_element(first, first + short_sound.rows), 0) << "column " << column;
    }
    MemoryInput silence(
        testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, kRate, std::vector<float>(2 * 20000, 0.0F)));
    const Spectrogram quiet = ComputeSpectrogram(silence, "sfx/sfx_0003.wav", 64, 64);
    EXPECT_TRUE(std::all_of(quiet.levels.begin(), quiet.levels.end(), [](std::uint8_t level) { return level == 0; }));
    EXPECT_THROW(ComputeSpectrogram(silence, "sfx/sfx_0003.wav", 0, 64), SoundError);
    EXPECT_THROW(ComputeSpectrogram(silence, "sfx/sfx_0003.wav", 64, kMostSpectrogramRows + 1), SoundError);
}

}  // namespace
}  // namespace quorvel::audio
