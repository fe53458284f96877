#include "audio/sound_export.hpp"

#include <sndfile.h>
#include <soxr.h>

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "audio/memory_input.hpp"
#include "audio/stored_sound.hpp"
#include "audio/tests/sound_kit.hpp"
#include "testing/memory_file_system.hpp"

namespace quorvel::audio {
namespace {

// Past every piece the export moves samples in (64 Ki samples) and every
// piece it gathers output in (64 KiB), in both channels.
constexpr std::int64_t kFrames = 70000;
const ExportTags kTags{.title = "door creak \xC3\xA9 \xF0\x9F\x94\x8A",
                       .comment = "sfx/sfx_0012.wav xxh64:1f6a2c0d9e43b7a5"};

struct Exported {
    std::vector<std::byte> bytes;
    int sf_format = 0;
    int channels = 0;
    int sample_rate = 0;
    std::int64_t frames = 0;
    std::string title;
    std::string comment;
    bool tags_read = false;
};

// The source exported as `format` through the in-memory file system's
// output, then opened again by libsndfile.
#ifdef _WIN32
constexpr bool kWindowsBuild = true;
#else
constexpr bool kWindowsBuild = false;
#endif

Exported ExportAndReopen(const std::vector<std::byte>& source, ExportFormat format)
{
    MemoryInput input(source);
    SoundExport sound = SoundExport::Open(input, "sfx/sfx_0012.wav", format);
    quorvel::testing::MemoryFileSystem files;
    const auto output = files.CreateOutput("out", FileSystem::IfTaken::kReplace);
    std::int64_t last_progress = 0;
    sound.WriteTo(*output, kTags, [&](std::int64_t frames) {
        EXPECT_GT(frames, last_progress);
        last_progress = frames;
    });
    output->Close();
    EXPECT_EQ(last_progress, sound.frames());
    Exported exported;
    exported.bytes = files.Outputs().at("out");
    MemoryInput again(exported.bytes);
    SoundDecoder decoder = SoundDecoder::Open(again, "exported");
    exported.sf_format = decoder.sf_format();
    exported.channels = decoder.channels();
    exported.sample_rate = decoder.sample_rate();
    exported.frames = decoder.frames();
    // The decoder above passes over an MP3's ID3v2 tag; libsndfile reading
    // the tag itself from memory does not return in its Windows build, so
    // the tags of an MP3 are read back on Linux alone.
    if (format == ExportFormat::kMp3 && kWindowsBuild) {
        return exported;
    }
    exported.tags_read = true;
    exported.title = testing::ReadTag(exported.bytes, SF_STR_TITLE);
    exported.comment = testing::ReadTag(exported.bytes, SF_STR_COMMENT);
    return exported;
}

template <typename Sample>
std::vector<Sample> DecodeAll(const std::vector<std::byte>& bytes)
{
    MemoryInput input(bytes);
    SoundDecoder decoder = SoundDecoder::Open(input, "decoded");
    std::vector<Sample> all;
    std::vector<Sample> piece(4096 * static_cast<std::size_t>(decoder.channels()));
    while (const std::size_t got = decoder.Read(std::span(piece))) {
        all.insert(all.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got) * decoder.channels());
    }
    return all;
}

std::vector<std::byte> Source(int sf_format, int channels = 2, int rate = 22050, std::int64_t frames = kFrames)
{
    return testing::EncodeSound(SF_FORMAT_WAV | sf_format, channels, rate, testing::MakeSignal(channels, rate, frames));
}

// Signal to noise, in dB, of `decoded` against `reference` over their
// common length.
double SignalToNoise(const std::vector<float>& reference, const std::vector<float>& decoded)
{
    double signal = 0;
    double noise = 0;
    for (std::size_t i = 0; i < std::min(reference.size(), decoded.size()); ++i) {
        signal += static_cast<double>(reference[i]) * reference[i];
        noise += (static_cast<double>(reference[i]) - decoded[i]) * (static_cast<double>(reference[i]) - decoded[i]);
    }
    return 10 * std::log10(signal / std::max(noise, 1e-30));
}

// WAV and FLAC keep every bit of PCM sources: the same integers come back,
// at the source's depth (WAV's 8 bits unsigned, FLAC's signed).
TEST(SoundExport, WavAndFlacGiveBackEverySampleOfPcmSources)
{
    struct Case {
        int source;
        int wav;
        int flac;
    };
    for (const Case& c : {Case{SF_FORMAT_PCM_U8, SF_FORMAT_PCM_U8, SF_FORMAT_PCM_S8},
                          Case{SF_FORMAT_PCM_16, SF_FORMAT_PCM_16, SF_FORMAT_PCM_16},
                          Case{SF_FORMAT_PCM_24, SF_FORMAT_PCM_24, SF_FORMAT_PCM_24},
                          Case{SF_FORMAT_PCM_32, SF_FORMAT_PCM_32, SF_FORMAT_PCM_24}}) {
        SCOPED_TRACE(c.source);
        const auto source = Source(c.source);
        const auto samples = DecodeAll<std::int32_t>(source);
        const Exported wav = ExportAndReopen(source, ExportFormat::kWav);
        EXPECT_EQ(wav.sf_format, SF_FORMAT_WAV | c.wav);
        EXPECT_EQ(DecodeAll<std::int32_t>(wav.bytes), samples);
        const Exported flac = ExportAndReopen(source, ExportFormat::kFlac);
        EXPECT_EQ(flac.sf_format, SF_FORMAT_FLAC | c.flac);
        EXPECT_EQ(flac.sample_rate, 22050);
        const auto from_flac = DecodeAll<std::int32_t>(flac.bytes);
        ASSERT_EQ(from_flac.size(), samples.size());
        // 32 bits cut to FLAC's 24: within the 24-bit step.
        const std::int64_t step = c.source == SF_FORMAT_PCM_32 ? 1 << 8 : 1;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            ASSERT_LT(std::llabs(std::int64_t{samples[i]} - from_flac[i]), step) << "sample " << i;
        }
    }
}

TEST(SoundExport, FloatSourcesStayFloatInWavAndBecome24BitFlac)
{
    const auto source = Source(SF_FORMAT_FLOAT);
    const auto samples = DecodeAll<float>(source);
    const Exported wav = ExportAndReopen(source, ExportFormat::kWav);
    EXPECT_EQ(wav.sf_format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(DecodeAll<float>(wav.bytes), samples);
    const Exported flac = ExportAndReopen(source, ExportFormat::kFlac);
    EXPECT_EQ(flac.sf_format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    const auto from_flac = DecodeAll<float>(flac.bytes);
    ASSERT_EQ(from_flac.size(), samples.size());
    // Within two 24-bit steps: one of rounding, one of libsndfile's scales
    // (2^23 - 1 to write, 2^23 to read).
    for (std::size_t i = 0; i < samples.size(); ++i) {
        ASSERT_LE(std::fabs(samples[i] - from_flac[i]), 2.0F / (1 << 23)) << "sample " << i;
    }
}

// A compressed sound exports as what its decoder gives, 16 bits, sample
// for sample and frame for frame.
TEST(SoundExport, CompressedSourcesExportAsTheir16BitDecoding)
{
    for (const int encoding : {SF_FORMAT_IMA_ADPCM, SF_FORMAT_MS_ADPCM, SF_FORMAT_GSM610, SF_FORMAT_ULAW,
                               SF_FORMAT_ALAW, SF_FORMAT_G721_32}) {
        SCOPED_TRACE(encoding);
        const int channels = encoding == SF_FORMAT_GSM610 || encoding == SF_FORMAT_G721_32 ? 1 : 2;
        const auto source = Source(encoding, channels);
        // Up to the sound's own frame count: a compressed sound's last block
        // is padded, and the padding is not the sound's.
        auto samples = DecodeAll<std::int16_t>(source);
        MemoryInput header(source);
        samples.resize(static_cast<std::size_t>(ReadSoundHeader(header, "source").frames) *
                       static_cast<std::size_t>(channels));
        for (const ExportFormat format : {ExportFormat::kWav, ExportFormat::kFlac}) {
            const Exported exported = ExportAndReopen(source, format);
            EXPECT_EQ(exported.sf_format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_16);
            EXPECT_EQ(DecodeAll<std::int16_t>(exported.bytes), samples);
        }
    }
}

// The lossy formats: the same length (Opus at 48 kHz, MP3 at a rate it has)
// within a codec frame's padding, and the same sound within the noise the
// codec is allowed to add.
TEST(SoundExport, LossyFormatsSoundLikeTheSource)
{
    struct Case {
        ExportFormat format;
        int rate;
        int exported_rate;
        std::int64_t padding;  // frames a decoder may add or drop at the end
    };
    // Measured: 23 to 31 dB (the codecs drop much of the signal's hiss). A
    // wrong rate, a swap of channels or a shift of a few frames falls far
    // below.
    constexpr double kLeastSnr = 20;
    for (const Case& c : {Case{ExportFormat::kOgg, 22050, 22050, 0}, Case{ExportFormat::kOpus, 22050, 48000, 960},
                          Case{ExportFormat::kOpus, 48000, 48000, 960}, Case{ExportFormat::kMp3, 22050, 22050, 1152},
                          Case{ExportFormat::kMp3, 96000, 48000, 1152}}) {
        SCOPED_TRACE(std::string(ExtensionOf(c.format)) + " from " + std::to_string(c.rate) + " Hz");
        const auto source = Source(SF_FORMAT_PCM_16, 2, c.rate, c.rate * 3);
        const Exported exported = ExportAndReopen(source, c.format);
        EXPECT_EQ(exported.sample_rate, c.exported_rate);
        EXPECT_EQ(exported.channels, 2);
        const std::int64_t expected_frames = std::int64_t{c.exported_rate} * 3;
        EXPECT_LE(std::llabs(exported.frames - expected_frames), c.padding) << exported.frames;
        // The reference at the exported rate, by the same resampler.
        std::vector<float> reference = DecodeAll<float>(source);
        if (c.rate != c.exported_rate) {
            std::vector<float> resampled(static_cast<std::size_t>(expected_frames) * 2);
            const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
            const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
            std::size_t made = 0;
            ASSERT_EQ(soxr_oneshot(c.rate, c.exported_rate, 2, reference.data(), reference.size() / 2, nullptr,
                                   resampled.data(), resampled.size() / 2, &made, &io, &quality, nullptr),
                      nullptr);
            resampled.resize(made * 2);
            reference = std::move(resampled);
        }
        const double snr = SignalToNoise(reference, DecodeAll<float>(exported.bytes));
        EXPECT_GE(snr, kLeastSnr);
    }
}

// Every format carries the label as its title and the origin as its comment.
TEST(SoundExport, TagsTraceTheFileBackInEveryFormat)
{
    const auto source = Source(SF_FORMAT_PCM_16, 1, 22050, 5000);
    for (const ExportFormat format :
         {ExportFormat::kWav, ExportFormat::kFlac, ExportFormat::kOgg, ExportFormat::kOpus, ExportFormat::kMp3}) {
        SCOPED_TRACE(ExtensionOf(format));
        const Exported exported = ExportAndReopen(source, format);
        // An MP3's ID3 text is Latin-1: what it has comes back, the rest is "?".
        if (!exported.tags_read) {
            continue;
        }
        EXPECT_EQ(exported.title, format == ExportFormat::kMp3 ? "door creak \xC3\xA9 ?" : kTags.title);
        EXPECT_EQ(exported.comment, kTags.comment);
    }
}

TEST(SoundExport, RefusesChannelsTheFormatCannotHold)
{
    MemoryInput input(Source(SF_FORMAT_PCM_16, 3, 22050, 100));
    try {
        SoundExport::Open(input, "sfx/sfx_0007.wav", ExportFormat::kMp3);
        FAIL() << "three channels went into an MP3";
    } catch (const SoundError& error) {
        EXPECT_STREQ(error.what(),
                     "sfx/sfx_0007.wav: cannot be exported as MP3: it holds 2 channels at most, and the sound has 3");
    }
}

// A full disk is the output's failure, not the sound's: it comes through
// libsndfile as the file system's own error, for the run to stop on.
TEST(SoundExport, AnOutputThatFailsFailsAsTheOutput)
{
    for (const ExportFormat format : {ExportFormat::kWav, ExportFormat::kFlac, ExportFormat::kOgg}) {
        SCOPED_TRACE(ExtensionOf(format));
        MemoryInput input(Source(SF_FORMAT_PCM_16));
        SoundExport sound = SoundExport::Open(input, "sfx/sfx_0001.wav", format);
        quorvel::testing::MemoryFileSystem files;
        files.FailWritesAfter(5000);
        const auto output = files.CreateOutput("out", FileSystem::IfTaken::kReplace);
        try {
            sound.WriteTo(*output, {}, [](std::int64_t) {});
            FAIL() << "the export went on past a full disk";
        } catch (const ExtractError& error) {
            EXPECT_EQ(error.failure().number, ENOSPC);
            EXPECT_EQ(error.failure().file, "out");
        }
    }
}

}  // namespace
}  // namespace quorvel::audio
