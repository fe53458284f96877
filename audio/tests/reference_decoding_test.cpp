// Every encoding decoded as another program decodes the same bytes: the
// decoded WAV the studio serves and the waveform it draws hold sox's samples
// (ffmpeg's for G.721), up to the sound's own frame count.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <iterator>
#include <vector>

#include "audio/decoded_wav.hpp"
#include "audio/memory_input.hpp"
#include "audio/sound_peaks.hpp"
#include "audio/tests/encoding_cases.hpp"
#include "audio/tests/reference_decoders.hpp"
#include "audio/tests/sound_kit.hpp"
#include "extract/wav_format.hpp"

namespace quorvel::audio {
namespace {

using testing::EncodingCase;

// 16-bit mono at 8 kHz decodes to more than 64 KiB.
constexpr std::int64_t kFrames = 40000;

std::vector<std::byte> ReadInPieces(InputFile& file, std::size_t piece)
{
    std::vector<std::byte> bytes(static_cast<std::size_t>(file.Size()));
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t got = file.ReadAt(at, std::span(bytes).subspan(at, std::min(piece, bytes.size() - at)));
        if (got == 0) {
            ADD_FAILURE() << "the decoded WAV ends at " << at << " of " << bytes.size();
            break;
        }
        at += got;
    }
    return bytes;
}

template <typename Sample>
std::vector<float> AsFloats(std::span<const std::byte> data)
{
    std::vector<Sample> samples(data.size() / sizeof(Sample));
    std::memcpy(samples.data(), data.data(), samples.size() * sizeof(Sample));
    std::vector<float> floats;
    floats.reserve(samples.size());
    for (const Sample sample : samples) {
        floats.push_back(std::is_same_v<Sample, float> ? static_cast<float>(sample)
                                                       : static_cast<float>(sample) / 32768.0F);
    }
    return floats;
}

bool IsG721(const EncodingCase& encoding)
{
    return (encoding.sf_format & SF_FORMAT_SUBMASK) == SF_FORMAT_G721_32;
}

// The reference's samples, scaled as the decoded WAV's are.
std::vector<float> ReferenceSamples(const EncodingCase& encoding, const std::vector<std::byte>& sound)
{
    std::vector<float> floats;
    if (encoding.served_bits == 32) {
        return testing::SoxSamplesFloat(sound);
    }
    const auto samples = IsG721(encoding) ? testing::FfmpegG721Samples(sound) : testing::SoxSamples16(sound);
    return AsFloats<std::int16_t>(std::as_bytes(std::span(samples)));
}

// How far a decoded sample may be from sox's: none for 16 bits; for float,
// one step of the last bit of sox's float output, which it rounds to 24
// bits of full scale.
float Tolerance(const EncodingCase& encoding)
{
    return encoding.served_bits == 32 ? std::ldexp(1.0F, -24) : 0.0F;
}

// The ratio, in dB, of `signal`'s energy to that of its difference from
// `other`, over the length of `signal`.
double SignalToNoise(std::span<const float> signal, std::span<const float> other)
{
    double energy = 0;
    double noise = 0;
    for (std::size_t i = 0; i < signal.size(); ++i) {
        energy += double{signal[i]} * signal[i];
        noise += (double{signal[i]} - other[i]) * (double{signal[i]} - other[i]);
    }
    return 10 * std::log10(energy / noise);
}

void ExpectSamplesOf(const EncodingCase& encoding, const std::vector<float>& samples,
                     const std::vector<float>& reference)
{
    std::size_t differing = 0;
    for (std::size_t i = 0; i < samples.size() && differing < 5; ++i) {
        if (std::abs(samples[i] - reference[i]) > Tolerance(encoding)) {
            ADD_FAILURE() << "sample " << i << ": " << samples[i] << ", the reference " << reference[i];
            ++differing;
        }
    }
}

// ffmpeg's G.726 decoder is not the G.721 reference decoder libsndfile's
// is: its predictor rounds otherwise and drifts from the encoder's (on this
// signal, measured: 11.3 dB from the signal encoded, where libsndfile's
// decoder is 30.7 dB from it). So the two are held to the same wave, and
// the decoding to the signal that was encoded.
void ExpectG721Samples(const std::vector<float>& samples, const std::vector<float>& reference,
                       const std::vector<float>& encoded)
{
    EXPECT_GE(SignalToNoise(samples, reference), 8.0);
    EXPECT_GE(SignalToNoise(samples, encoded), 25.0);
}

// Each bucket's lowest and highest sample, over frames the listing counts.
void ExpectPeaksOf(const std::vector<float>& samples, int channels, const Peaks& peaks, float tolerance)
{
    const auto frames = samples.size() / static_cast<std::size_t>(channels);
    ASSERT_EQ(peaks.frames, frames);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        const std::size_t bucket = frame * peaks.buckets / frames;
        for (int channel = 0; channel < channels; ++channel) {
            const float sample =
                samples[frame * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel)];
            const std::size_t slot = static_cast<std::size_t>(channel) * peaks.buckets + bucket;
            ASSERT_GE(sample, peaks.min[slot] - tolerance) << "frame " << frame << ", channel " << channel;
            ASSERT_LE(sample, peaks.max[slot] + tolerance) << "frame " << frame << ", channel " << channel;
        }
    }
}

struct ReferenceCase {
    EncodingCase encoding;
    std::int64_t frames = kFrames;
    bool without_fact = false;
};

// Every encoding, and the compressed ones without their fact chunk too,
// whose length is then their whole blocks': among them GSM 6.10 of an odd
// number of blocks, whose data chunk libsndfile pads with a byte inside it
// (which libsndfile's own reading counts as a block more).
std::vector<ReferenceCase> ReferenceCases()
{
    std::vector<ReferenceCase> cases;
    for (const EncodingCase& encoding : testing::kEncodingCases) {
        cases.push_back({.encoding = encoding});
    }
    for (const auto& [name, sf_format] :
         {std::pair{"MsAdpcmWithoutFact", SF_FORMAT_MS_ADPCM}, std::pair{"ImaAdpcmWithoutFact", SF_FORMAT_IMA_ADPCM}}) {
        cases.push_back({.encoding = {name, SF_FORMAT_WAV | sf_format, 2, 22050, "", "", 16}, .without_fact = true});
    }
    const EncodingCase gsm = {"Gsm610OddBlocks", SF_FORMAT_WAV | SF_FORMAT_GSM610, 1, 8000, "", "", 16};
    cases.push_back({.encoding = gsm, .frames = 20000});
    cases.push_back({.encoding = gsm, .frames = 20000, .without_fact = true});
    cases.back().encoding.name = "Gsm610OddBlocksWithoutFact";
    return cases;
}

// The sound with its fact chunk renamed, so that it is one no more.
std::vector<std::byte> WithoutFact(std::vector<std::byte> sound)
{
    const auto found = std::search(sound.begin(), sound.end(), std::begin("fact"), std::end("fact") - 1,
                                   [](std::byte a, char b) { return a == static_cast<std::byte>(b); });
    EXPECT_NE(found, sound.end());
    std::memcpy(&*found, "junk", 4);
    return sound;
}

class ReferenceDecoding : public ::testing::TestWithParam<ReferenceCase> {};

TEST_P(ReferenceDecoding, TheDecodedWavAndItsWaveformHoldTheReferenceSamples)
{
    const EncodingCase& encoding = GetParam().encoding;
    const std::int64_t frames = GetParam().frames;
    const char* reference_program = IsG721(encoding) ? "ffmpeg" : "sox";
    if (!testing::HaveProgram(reference_program)) {
        GTEST_SKIP() << reference_program << " is not installed";
    }
    const auto signal = testing::MakeSignal(encoding.channels, encoding.sample_rate, frames);
    auto sound = testing::EncodeSound(encoding.sf_format, encoding.channels, encoding.sample_rate, signal);
    if (GetParam().without_fact) {
        sound = WithoutFact(std::move(sound));
    }
    MemoryInput input(sound);
    const auto wav = DecodedWav::Open(input, "sfx/sfx_0001.wav");
    const std::vector<std::byte> served = ReadInPieces(*wav, 65536);

    const auto format = ReadWavFormat(served);
    ASSERT_TRUE(format);
    EXPECT_EQ(EncodingKey(*format), encoding.served_bits == 16 ? "pcm_s16" : "float32");
    EXPECT_EQ(format->channels, static_cast<std::uint32_t>(encoding.channels));
    EXPECT_EQ(format->sample_rate, static_cast<std::uint32_t>(encoding.sample_rate));
    ASSERT_EQ(format->data_offset + format->data_size, served.size());
    const auto data = std::span(served).subspan(static_cast<std::size_t>(format->data_offset));
    const std::vector<float> samples =
        encoding.served_bits == 16 ? AsFloats<std::int16_t>(data) : AsFloats<float>(data);

    const std::vector<float> reference = ReferenceSamples(encoding, sound);
    const std::size_t reference_frames = reference.size() / static_cast<std::size_t>(encoding.channels);
    // The reference decoders ignore the fact chunk, and give the last block whole.
    const std::size_t expected_frames =
        encoding.counts_padding || GetParam().without_fact ? reference_frames : static_cast<std::size_t>(frames);
    ASSERT_EQ(format->frames, expected_frames);
    ASSERT_EQ(samples.size(), expected_frames * static_cast<std::size_t>(encoding.channels));
    ASSERT_GE(reference.size(), samples.size());
    if (IsG721(encoding)) {
        ExpectG721Samples(samples, reference, signal);
    } else {
        ExpectSamplesOf(encoding, samples, reference);
    }

    const Peaks peaks = ComputePeaks(input, "sfx/sfx_0001.wav", 997);
    EXPECT_EQ(peaks.channels, static_cast<std::uint32_t>(encoding.channels));
    EXPECT_EQ(peaks.sample_rate, static_cast<std::uint32_t>(encoding.sample_rate));
    // The waveform of what was decoded: the reference's, where it is the same.
    const auto& drawn = IsG721(encoding) ? samples : reference;
    ExpectPeaksOf(std::vector<float>(drawn.begin(), drawn.begin() + static_cast<std::ptrdiff_t>(samples.size())),
                  encoding.channels, peaks, Tolerance(encoding));
}

INSTANTIATE_TEST_SUITE_P(EveryEncoding, ReferenceDecoding, ::testing::ValuesIn(ReferenceCases()),
                         [](const auto& info) { return testing::CaseName(info.param.encoding); });

}  // namespace
}  // namespace quorvel::audio
