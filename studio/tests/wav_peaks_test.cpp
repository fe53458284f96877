// Waveform peaks for every sample format, streamed through a reader that
// hands out awkward pieces, and the files that must give none.

#include "studio/wav_peaks.hpp"

#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quorvel::studio {
namespace {

using Bytes = std::vector<std::byte>;

void Put(Bytes& out, std::uint64_t value, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i) {
        out.push_back(static_cast<std::byte>((value >> (8 * i)) & 0xFF));
    }
}

void PutText(Bytes& out, std::string_view text)
{
    for (const char c : text) {
        out.push_back(static_cast<std::byte>(c));
    }
}

struct Wav {
    std::uint16_t tag = 1;
    std::uint16_t channels = 1;
    std::uint16_t bits = 16;
    bool extensible = false;
    std::uint16_t sub_format = 1;
    std::optional<std::uint32_t> declared_data;  // as the header says; default: the samples' size
    Bytes chunk_before_data;                     // a "LIST" chunk, say
};

Wav WavOf(std::uint16_t tag, std::uint16_t bits)
{
    Wav wav;
    wav.tag = tag;
    wav.bits = bits;
    return wav;
}

Wav Extensible(std::uint16_t bits, std::uint16_t sub_format)
{
    Wav wav = WavOf(1, bits);
    wav.extensible = true;
    wav.sub_format = sub_format;
    return wav;
}

Wav WithListChunk()
{
    Wav wav = WavOf(1, 16);
    for (const int b : {int{'L'}, int{'I'}, int{'S'}, int{'T'}, 3, 0, 0, 0, 1, 2, 3, 0}) {
        wav.chunk_before_data.push_back(static_cast<std::byte>(b));
    }
    return wav;
}

// A WAV whose frame i, channel c holds sample(i, c) as a value in -1..1.
Bytes MakeWav(const Wav& w, std::uint64_t frames, const std::function<double(std::uint64_t, int)>& sample)
{
    Bytes samples;
    const std::uint32_t bytes = w.bits / 8;
    for (std::uint64_t i = 0; i < frames; ++i) {
        for (int c = 0; c < w.channels; ++c) {
            const double v = sample(i, c);
            const std::uint16_t format = w.extensible ? w.sub_format : w.tag;
            if (format == 3) {
                std::uint32_t raw = 0;
                const float f = static_cast<float>(v);
                std::memcpy(&raw, &f, 4);
                Put(samples, raw, 4);
            } else if (w.bits == 8) {
                Put(samples, static_cast<std::uint64_t>(std::lround(v * 127.0 + 128.0)), 1);
            } else {
                const double full = std::ldexp(1.0, w.bits - 1) - 1;
                Put(samples, static_cast<std::uint64_t>(static_cast<std::int64_t>(std::llround(v * full))), bytes);
            }
        }
    }
    Bytes fmt;
    Put(fmt, w.extensible ? 0xFFFE : w.tag, 2);
    Put(fmt, w.channels, 2);
    Put(fmt, 8000, 4);
    Put(fmt, 8000U * w.channels * bytes, 4);
    Put(fmt, w.channels * bytes, 2);
    Put(fmt, w.bits, 2);
    if (w.extensible) {
        Put(fmt, 22, 2);
        Put(fmt, w.bits, 2);
        Put(fmt, 0, 4);
        Put(fmt, w.sub_format, 2);
        PutText(fmt, std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14));
    }
    Bytes wav;
    PutText(wav, "RIFF");
    Put(wav, 0, 4);  // the RIFF size is not what peaks go by
    PutText(wav, "WAVE");
    PutText(wav, "fmt ");
    Put(wav, fmt.size(), 4);
    wav.insert(wav.end(), fmt.begin(), fmt.end());
    wav.insert(wav.end(), w.chunk_before_data.begin(), w.chunk_before_data.end());
    PutText(wav, "data");
    Put(wav, w.declared_data.value_or(static_cast<std::uint32_t>(samples.size())), 4);
    wav.insert(wav.end(), samples.begin(), samples.end());
    return wav;
}

// Hands out the bytes in pieces of 1, 2, ... 13 bytes, then large ones, so
// that headers and frames are split every way.
class AwkwardSource final : public ByteSource {
public:
    explicit AwkwardSource(const Bytes& bytes) : bytes_(bytes) {}
    std::size_t Read(std::span<std::byte> buffer) override
    {
        const std::size_t piece = calls_ < 200 ? 1 + calls_ % 13 : 70001;
        ++calls_;
        const std::size_t count = std::min({buffer.size(), piece, bytes_.size() - at_});
        std::memcpy(buffer.data(), bytes_.data() + at_, count);
        at_ += count;
        return count;
    }

private:
    const Bytes& bytes_;
    std::size_t at_ = 0;
    std::size_t calls_ = 0;
};

std::optional<Peaks> PeaksOf(const Bytes& wav, std::uint32_t buckets)
{
    AwkwardSource source(wav);
    return ComputePeaks(source, wav.size(), buckets);
}

// Channel 0 rises from -1 to 1 over each bucket's stretch; channel 1 is
// channel 0 at half the height, upside down.
double Ramp(std::uint64_t frame, int channel, std::uint64_t per_bucket)
{
    const double v = -1.0 + 2.0 * static_cast<double>(frame % per_bucket) / static_cast<double>(per_bucket - 1);
    return channel == 0 ? v : -v / 2;
}

struct FormatCase {
    const char* name;
    Wav wav;
    float tolerance;
};

class EveryFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(EveryFormat, GivesEachBucketsLowestAndHighestSamplePerChannel)
{
    const FormatCase& c = GetParam();
    Wav wav = c.wav;
    wav.channels = 2;
    // More than a 64 KiB piece of samples, in frames that do not divide it.
    constexpr std::uint32_t kBuckets = 7;
    constexpr std::uint64_t kPerBucket = 10007;
    const Bytes bytes =
        MakeWav(wav, kBuckets * kPerBucket, [](std::uint64_t i, int ch) { return Ramp(i, ch, kPerBucket); });
    ASSERT_GT(bytes.size(), 2U * 65536);
    const auto peaks = PeaksOf(bytes, kBuckets);
    ASSERT_TRUE(peaks) << c.name;
    EXPECT_EQ(peaks->channels, 2U);
    EXPECT_EQ(peaks->frames, kBuckets * kPerBucket);
    for (std::uint32_t b = 0; b < kBuckets; ++b) {
        EXPECT_NEAR(peaks->min[b], -1.0F, c.tolerance) << c.name << " bucket " << b;
        EXPECT_NEAR(peaks->max[b], 1.0F, c.tolerance) << c.name << " bucket " << b;
        EXPECT_NEAR(peaks->min[kBuckets + b], -0.5F, c.tolerance) << c.name << " bucket " << b;
        EXPECT_NEAR(peaks->max[kBuckets + b], 0.5F, c.tolerance) << c.name << " bucket " << b;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryFormat,
                         ::testing::Values(FormatCase{"8-bit", WavOf(1, 8), 0.02F},
                                           FormatCase{"16-bit", WavOf(1, 16), 0.001F},
                                           FormatCase{"24-bit", WavOf(1, 24), 0.0001F},
                                           FormatCase{"32-bit", WavOf(1, 32), 0.0001F},
                                           FormatCase{"float", WavOf(3, 32), 0.0001F},
                                           FormatCase{"extensible 24-bit", Extensible(24, 1), 0.0001F},
                                           FormatCase{"extensible float", Extensible(32, 3), 0.0001F},
                                           FormatCase{"a chunk before the data", WithListChunk(), 0.001F}),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name) {
                                 ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return name;
                         });

TEST(Peaks, SignsAndFullScaleAreExact)
{
    // -32768 is the lowest 16-bit sample: exactly -1.
    const Bytes bytes = MakeWav(WavOf(1, 16), 4, [](std::uint64_t i, int) { return i == 1 ? -1.0 : 0.25; });
    Bytes edited = bytes;
    edited[edited.size() - 6] = std::byte{0x00};
    edited[edited.size() - 5] = std::byte{0x80};
    const auto peaks = PeaksOf(edited, 1);
    ASSERT_TRUE(peaks);
    EXPECT_EQ(peaks->min[0], -1.0F);
    EXPECT_NEAR(peaks->max[0], 0.25F, 0.0001F);
}

TEST(Peaks, ASoundShorterThanItsDataChunkSaysIsDrawnAsFarAsItGoes)
{
    Wav wav = WavOf(1, 16);
    wav.declared_data = 0xFFFFFFFF;
    const Bytes bytes = MakeWav(wav, 100, [](std::uint64_t i, int) { return i < 50 ? 0.5 : -0.5; });
    const auto peaks = PeaksOf(bytes, 2);
    ASSERT_TRUE(peaks);
    EXPECT_EQ(peaks->frames, 100U);
    EXPECT_NEAR(peaks->max[0], 0.5F, 0.001F);
    EXPECT_NEAR(peaks->min[1], -0.5F, 0.001F);
}

TEST(Peaks, FewerFramesThanBucketsLeaveTheRestAtZero)
{
    const Bytes bytes = MakeWav(WavOf(1, 16), 3, [](std::uint64_t, int) { return 0.75; });
    const auto peaks = PeaksOf(bytes, 6);
    ASSERT_TRUE(peaks);
    int drawn = 0;
    for (std::uint32_t b = 0; b < 6; ++b) {
        drawn += peaks->max[b] > 0.7F ? 1 : 0;
        EXPECT_TRUE(peaks->max[b] == 0.0F || peaks->max[b] > 0.7F);
    }
    EXPECT_EQ(drawn, 3);
}

TEST(Peaks, OtherFormatsAndBrokenFilesGiveNone)
{
    const auto none = [](const Bytes& bytes, std::uint32_t buckets = 10) { return !PeaksOf(bytes, buckets); };
    const auto silence = [](std::uint64_t, int) { return 0.0; };
    EXPECT_TRUE(none(MakeWav(WavOf(2, 4), 100, silence)));   // ADPCM
    EXPECT_TRUE(none(MakeWav(WavOf(1, 12), 100, silence)));  // 12-bit
    EXPECT_TRUE(none(MakeWav(WavOf(3, 64), 100, silence)));  // double
    EXPECT_TRUE(none(MakeWav(Extensible(16, 2), 100, silence)));
    Bytes not_wave = MakeWav(Wav{}, 100, silence);
    std::memcpy(not_wave.data() + 8, "AVI ", 4);
    EXPECT_TRUE(none(not_wave));
    Bytes data_first;
    PutText(data_first, "RIFF");
    Put(data_first, 0, 4);
    PutText(data_first, "WAVEdata");
    Put(data_first, 4, 4);
    Put(data_first, 0, 4);
    EXPECT_TRUE(none(data_first));
    const Bytes whole = MakeWav(Wav{}, 100, silence);
    EXPECT_TRUE(none(Bytes(whole.begin(), whole.begin() + 30)));  // ends inside fmt
    EXPECT_TRUE(none(whole, 0));
    EXPECT_TRUE(none(whole, kMostBuckets + 1));
}

}  // namespace
}  // namespace quorvel::studio
