#include "audio/sound_replacement.hpp"

#include <sndfile.h>

#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <regex>

#include "audio/memory_input.hpp"
#include "audio/sound_decoder.hpp"
#include "audio/tests/sound_kit.hpp"
#include "testing/byte_order.hpp"

namespace quorvel::audio {
namespace {

using Bytes = std::vector<std::byte>;
using quorvel::testing::LittleEndianAt;
using quorvel::testing::PutLittleEndian;

// About 1.2 s: long enough for the gated loudness, short enough for every
// pair of formats.
constexpr double kSeconds = 1.2;
constexpr float kArchivedLevel = 0.1f;  // the archived sounds are 20 dB under the new ones

struct NewSound {
    const char* name;  // as the report names its format
    int sf_format;
    int sample_rate;
    int channels;
};

// One of each input, made once: Vorbis, Opus and MP3 take a moment to encode.
const Bytes& NewSoundBytes(const NewSound& sound)
{
    static std::map<int, Bytes> made;
    auto found = made.find(sound.sf_format);
    if (found == made.end()) {
        const auto frames = static_cast<std::int64_t>(kSeconds * sound.sample_rate);
        const auto samples = testing::MakeSignal(sound.channels, sound.sample_rate, frames, 7);
        found = made.emplace(sound.sf_format,
                             testing::EncodeSound(sound.sf_format, sound.channels, sound.sample_rate, samples))
                    .first;
    }
    return found->second;
}

struct Archived {
    const char* name;
    int sf_format;
    int sample_rate;
    int channels;
};

Bytes ArchivedBytes(const Archived& archived, double seconds = kSeconds)
{
    auto samples = testing::MakeSignal(archived.channels, archived.sample_rate,
                                       static_cast<std::int64_t>(seconds * archived.sample_rate), 3);
    for (float& sample : samples) {
        sample *= kArchivedLevel;
    }
    return testing::EncodeSound(archived.sf_format, archived.channels, archived.sample_rate, samples);
}

// The frames a WAV holds: its fact chunk's count, or its data over its
// block align.
std::int64_t FramesOf(const Bytes& wav)
{
    if (const auto fact = testing::FindChunk(wav, "fact")) {
        return LittleEndianAt(*fact, 0);
    }
    const auto fmt = testing::FindChunk(wav, "fmt ");
    const auto block_align = static_cast<std::int64_t>(LittleEndianAt(*fmt, 12) & 0xFFFF);
    return static_cast<std::int64_t>(testing::FindChunk(wav, "data")->size()) / block_align;
}

FittedSound FitBytes(const Bytes& archived, const Bytes& replacement, const std::string& name,
                     const ReplacementOptions& options = {})
{
    MemoryInput old_sound(archived);
    MemoryInput new_sound(replacement);
    return FittedSound::Fit(old_sound, "sfx/sfx_0012.wav", new_sound, name, options);
}

Bytes Written(FittedSound& fitted)
{
    MemoryOutput out;
    fitted.WriteTo(out);
    return out.bytes();
}

const NewSound kNewSounds[] = {
    {"WAV PCM 16 bit", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2},
    {"FLAC", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 2},
    {"Ogg Vorbis", SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, 2},
    {"Opus", SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, 2},
    {"MP3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, 2},
    {"AIFF", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 32000, 1},
};

const Archived kArchived[] = {
    {"PCM 8 bit", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 11025, 1},
    {"PCM 16 bit", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 2},
    {"PCM 24 bit", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 1},
    {"PCM 32 bit", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 16000, 1},
    {"float 32 bit", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 22050, 1},
    {"float 64 bit", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 44100, 2},
    {"IMA ADPCM", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 22050, 1},
    {"IMA ADPCM", SF_FORMAT_WAV | SF_FORMAT_IMA_ADPCM, 44100, 2},
    {"MS ADPCM", SF_FORMAT_WAV | SF_FORMAT_MS_ADPCM, 22050, 1},
    {"GSM 6.10", SF_FORMAT_WAV | SF_FORMAT_GSM610, 8000, 1},
    {"µ-law", SF_FORMAT_WAV | SF_FORMAT_ULAW, 8000, 1},
    {"A-law", SF_FORMAT_WAV | SF_FORMAT_ALAW, 11025, 2},
    {"G.721 ADPCM", SF_FORMAT_WAV | SF_FORMAT_G721_32, 8000, 1},
    {"PCM 16 bit", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, 44100, 2},
    {"float 32 bit", SF_FORMAT_WAVEX | SF_FORMAT_FLOAT, 24000, 1},
};

class EveryInputIntoEveryEncoding : public ::testing::TestWithParam<std::tuple<NewSound, Archived>> {};

// The result, decoded, is in the archived sound's format field for field,
// as long as the new sound, and as loud as the sound it replaces.
TEST_P(EveryInputIntoEveryEncoding, TakesTheArchivedFormatKeepsItsLengthAndMatchesTheLoudness)
{
    const auto& [source, target] = GetParam();
    const Bytes archived = ArchivedBytes(target);
    const Bytes& replacement = NewSoundBytes(source);
    FittedSound fitted = FitBytes(archived, replacement, "new.sound");
    const Bytes result = Written(fitted);

    EXPECT_EQ(testing::FindChunk(result, "fmt "), testing::FindChunk(archived, "fmt "))
        << "tag, channels, rate, bits, block align, samples per block, channel mask and sub-format";
    const auto old_sound = testing::DecodeSound(archived, FramesOf(archived));
    const auto new_sound = testing::DecodeSound(replacement);
    const auto stored = testing::DecodeSound(result, FramesOf(result));
    EXPECT_EQ(stored.sf_format, old_sound.sf_format);
    const double expected_frames = static_cast<double>(new_sound.frames()) * target.sample_rate / source.sample_rate;
    EXPECT_NEAR(static_cast<double>(stored.frames()), expected_frames, 1.0);
    EXPECT_NEAR(testing::IntegratedLoudness(stored), testing::IntegratedLoudness(old_sound), 0.5);

    const ReplacementReport& report = fitted.report();
    EXPECT_EQ(report.input.format, source.name);
    EXPECT_EQ(report.output.format, target.name);
    EXPECT_EQ(report.output.frames, stored.frames());
    EXPECT_EQ(report.bytes, result.size());
    EXPECT_EQ(fitted.size(), result.size());
    EXPECT_TRUE(report.notes.empty()) << report.Text();
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryInputIntoEveryEncoding,
                         ::testing::Combine(::testing::ValuesIn(kNewSounds), ::testing::ValuesIn(kArchived)),
                         [](const auto& info) {
                             std::string name = std::string(std::get<0>(info.param).name) + "_into_" +
                                                std::get<1>(info.param).name + "_" +
                                                std::to_string(std::get<1>(info.param).channels) + "ch_" +
                                                std::to_string(info.index);
                             for (char& c : name) {
                                 if (!std::isalnum(static_cast<unsigned char>(c))) {
                                     c = '_';
                                 }
                             }
                             return name;
                         });

}  // namespace
}  // namespace quorvel::audio
