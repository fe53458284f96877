#include "audio/sound_decoder.hpp"

#include <sndfile.h>

#include <gtest/gtest.h>
#include <vector>

#include "audio/memory_input.hpp"
#include "audio/tests/sound_kit.hpp"

namespace quorvel::audio {
namespace {

TEST(SoundDecoder, GivesBackTheSamplesOfAPcmSound)
{
    const auto samples = testing::MakeSignal(2, 22050, 70000);
    MemoryInput input(testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 2, 22050, samples));
    SoundDecoder sound = SoundDecoder::Open(input, "sfx/sfx_0001.wav");
    ASSERT_EQ(sound.channels(), 2);
    ASSERT_EQ(sound.sample_rate(), 22050);
    ASSERT_EQ(sound.frames(), 70000);
    std::vector<float> decoded;
    std::vector<float> piece(4096 * 2);
    while (const std::size_t got = sound.Read(piece)) {
        decoded.insert(decoded.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got * 2));
    }
    EXPECT_EQ(decoded, samples);
}

TEST(SoundDecoder, GivesAFloatSoundAs16BitSamplesAtItsOwnLevel)
{
    // Nothing louder than 0.8: 16-bit samples of it stay below 0.8 of full scale.
    const auto samples = testing::MakeSignal(1, 8000, 20000);
    MemoryInput input(testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_FLOAT, 1, 8000, samples));
    SoundDecoder sound = SoundDecoder::Open(input, "sfx/sfx_0001.wav");
    std::vector<std::int16_t> decoded(samples.size());
    ASSERT_EQ(sound.Read(decoded), samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        ASSERT_NEAR(decoded[i], samples[i] * 32767.0F, 1.0F) << "sample " << i;
    }
}

TEST(SoundDecoder, StopsAtTheFramesItIsLimitedTo)
{
    MemoryInput input(
        testing::EncodeSound(SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 1, 11025, testing::MakeSignal(1, 11025, 3000)));
    SoundDecoder sound = SoundDecoder::Open(input, "speech/speech_0002.wav");
    sound.LimitFrames(2999);
    std::vector<float> piece(10000);
    EXPECT_EQ(sound.Read(piece), 2999U);
    EXPECT_EQ(sound.Read(piece), 0U);
}

TEST(SoundDecoder, NamesASoundItCannotDecode)
{
    MemoryInput input(std::vector<std::byte>(64, std::byte{'R'}));
    try {
        SoundDecoder::Open(input, "sfx/sfx_0009.wav");
        FAIL() << "garbage was decoded";
    } catch (const SoundError& error) {
        EXPECT_NE(std::string(error.what()).find("sfx/sfx_0009.wav: cannot be decoded"), std::string::npos);
    }
}

}  // namespace
}  // namespace quorvel::audio
