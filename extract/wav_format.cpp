#include "extract/wav_format.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "extract/archive_format.hpp"

namespace quorvel {
namespace {

constexpr std::size_t kRiffHeaderSize = format::kRiffHeaderSize;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kPcmFormatSize = 16;
constexpr std::size_t kSamplesPerBlockEnd = 20;  // cbSize, then the samples per block of ADPCM and GSM
constexpr std::size_t kExtensibleFormatSize = 40;
constexpr std::size_t kSubFormatAt = 24;
constexpr std::size_t kFactSize = 4;

namespace tag {
constexpr std::uint16_t kPcm = 0x0001;
constexpr std::uint16_t kMsAdpcm = 0x0002;
constexpr std::uint16_t kFloat = 0x0003;
constexpr std::uint16_t kALaw = 0x0006;
constexpr std::uint16_t kMuLaw = 0x0007;
constexpr std::uint16_t kImaAdpcm = 0x0011;
constexpr std::uint16_t kGsm610 = 0x0031;
constexpr std::uint16_t kG721 = 0x0040;
constexpr std::uint16_t kExtensible = 0xFFFE;
}  // namespace tag

// A GSM 6.10 block as stored in WAV: two frames of 160 samples in 65 bytes.
constexpr std::uint32_t kGsmSamplesPerBlock = 320;
// G.721 stores every sample in 4 bits.
constexpr std::uint32_t kG721Bits = 4;

// The 14 bytes that follow the format tag in every sub-format GUID
// (xxxxxxxx-0000-0010-8000-00AA00389B71).
constexpr std::array<unsigned char, 14> kGuidTail = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint32_t Load(std::span<const std::byte> bytes, std::size_t at, std::size_t width)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value |= std::to_integer<std::uint32_t>(bytes[at + i]) << (8 * i);
    }
    return value;
}

bool IsChunk(std::span<const std::byte> bytes, std::size_t at, const char (&id)[5])
{
    return std::memcmp(bytes.data() + at, id, 4) == 0;
}

WavEncoding PcmEncoding(std::uint32_t bits)
{
    switch ((bits + 7) / 8) {
        case 1:
            return WavEncoding::kPcmU8;
        case 2:
            return WavEncoding::kPcmS16;
        case 3:
            return WavEncoding::kPcmS24;
        case 4:
            return WavEncoding::kPcmS32;
        default:
            return WavEncoding::kOther;
    }
}

WavEncoding EncodingOf(std::uint16_t format_tag, std::uint32_t bits)
{
    switch (format_tag) {
        case tag::kPcm:
            return PcmEncoding(bits);
        case tag::kFloat:
            return bits == 32 ? WavEncoding::kFloat32 : bits == 64 ? WavEncoding::kFloat64 : WavEncoding::kOther;
        case tag::kImaAdpcm:
            return WavEncoding::kImaAdpcm;
        case tag::kMsAdpcm:
            return WavEncoding::kMsAdpcm;
        case tag::kGsm610:
            return WavEncoding::kGsm610;
        case tag::kMuLaw:
            return WavEncoding::kMuLaw;
        case tag::kALaw:
            return WavEncoding::kALaw;
        case tag::kG721:
            return WavEncoding::kG721;
        default:
            return WavEncoding::kOther;
    }
}

// The bytes of one sample of an encoding that stores every sample alike; 0
// for the others.
std::uint32_t SampleBytes(WavEncoding encoding)
{
    switch (encoding) {
        case WavEncoding::kPcmU8:
        case WavEncoding::kMuLaw:
        case WavEncoding::kALaw:
            return 1;
        case WavEncoding::kPcmS16:
            return 2;
        case WavEncoding::kPcmS24:
            return 3;
        case WavEncoding::kPcmS32:
        case WavEncoding::kFloat32:
            return 4;
        case WavEncoding::kFloat64:
            return 8;
        default:
            return 0;
    }
}

// The samples per block of a block-coded encoding: the header's where it
// gives them, else what its block align makes room for.
std::uint32_t SamplesPerBlock(const WavFormat& format, std::uint32_t stated)
{
    const std::uint32_t channels = format.channels;
    const std::uint32_t align = format.block_align;
    if (stated != 0 || channels == 0) {
        return stated;
    }
    switch (format.encoding) {
        case WavEncoding::kImaAdpcm:  // a 4-byte header per channel, then 2 samples a byte
            return align > 4 * channels ? (align - 4 * channels) * 2 / channels + 1 : 0;
        case WavEncoding::kMsAdpcm:  // a 7-byte header per channel holding 2 samples, then 2 a byte
            return align > 7 * channels ? (align - 7 * channels) * 2 / channels + 2 : 0;
        case WavEncoding::kGsm610:
            return kGsmSamplesPerBlock;
        default:
            return 0;
    }
}

bool KeepsItsOwnCount(WavEncoding encoding)
{
    return IsBlockCoded(encoding) || encoding == WavEncoding::kG721 || encoding == WavEncoding::kOther;
}

// The fmt chunk's fields; `fmt` is its body, at least kPcmFormatSize bytes.
WavFormat ParseFmt(std::span<const std::byte> fmt)
{
    WavFormat format;
    format.format_tag = static_cast<std::uint16_t>(Load(fmt, 0, 2));
    format.channels = Load(fmt, 2, 2);
    format.sample_rate = Load(fmt, 4, 4);
    format.block_align = Load(fmt, 12, 2);
    format.bits_per_sample = Load(fmt, 14, 2);
    if (format.format_tag == tag::kExtensible && fmt.size() >= kExtensibleFormatSize &&
        std::memcmp(fmt.data() + kSubFormatAt + 2, kGuidTail.data(), kGuidTail.size()) == 0) {
        format.format_tag = static_cast<std::uint16_t>(Load(fmt, kSubFormatAt, 2));
    }
    format.encoding = EncodingOf(format.format_tag, format.bits_per_sample);
    if (IsBlockCoded(format.encoding)) {
        const std::uint32_t stated = fmt.size() >= kSamplesPerBlockEnd ? Load(fmt, 18, 2) : 0;
        format.samples_per_block = SamplesPerBlock(format, stated);
    }
    return format;
}

// The frame count of an encoding this parse does not know: its byte rate
// is all that tells its length.
std::uint64_t FramesByByteRate(const WavFormat& format, std::uint32_t byte_rate)
{
    return byte_rate == 0 ? 0 : std::uint64_t{format.data_size} * format.sample_rate / byte_rate;
}

// A compressed sound keeps its own count in its fact chunk: its blocks hold
// up to a block more, the padding of the last. One writer is known to count
// otherwise: libsndfile, which the tool itself encodes with, writes half the
// frames of a stereo IMA ADPCM sound (its padded frames over its channels);
// there the blocks give the count. A fact that asks for more than the data
// holds stays as it is, for the decoder to refuse.
std::uint64_t OwnFrameCount(const WavFormat& format, std::uint32_t byte_rate)
{
    const auto held = FramesHeldBy(format, format.data_size);
    if (!format.fact_frames || !KeepsItsOwnCount(format.encoding)) {
        return held.value_or(FramesByByteRate(format, byte_rate));
    }
    const std::uint64_t fact = *format.fact_frames;
    if (held && format.encoding == WavEncoding::kImaAdpcm && format.channels == 2) {
        const auto in_last_block = [&](std::uint64_t count) {
            return count <= *held && count + format.samples_per_block > *held;
        };
        // Twice the fact in the last block is the writer's count (a real
        // one is there only for a sound of one block, given a block of
        // padding at most, as a decoder that ignores the fact gives).
        if (in_last_block(2 * fact)) {
            return *held;
        }
    }
    return fact;
}

}  // namespace

bool IsBlockCoded(WavEncoding encoding)
{
    return encoding == WavEncoding::kImaAdpcm || encoding == WavEncoding::kMsAdpcm || encoding == WavEncoding::kGsm610;
}

std::optional<std::uint64_t> FramesHeldBy(const WavFormat& format, std::uint64_t data_bytes)
{
    if (format.channels == 0) {
        return std::nullopt;
    }
    if (const std::uint32_t bytes = SampleBytes(format.encoding); bytes != 0) {
        return data_bytes / (std::uint64_t{bytes} * format.channels);
    }
    if (IsBlockCoded(format.encoding)) {
        if (format.block_align == 0) {
            return std::nullopt;
        }
        return data_bytes / format.block_align * format.samples_per_block;
    }
    if (format.encoding == WavEncoding::kG721) {
        return data_bytes * 8 / (std::uint64_t{kG721Bits} * format.channels);
    }
    return std::nullopt;
}

std::optional<WavFormat> ReadWavFormat(std::span<const std::byte> head, std::string* why)
{
    const auto fail = [why](const std::string& reason) -> std::optional<WavFormat> {
        if (why != nullptr) {
            *why = reason;
        }
        return std::nullopt;
    };
    std::optional<WavFormat> format;
    std::optional<std::uint32_t> fact_frames;
    std::uint32_t byte_rate = 0;
    // Chunks are padded to an even size.
    for (std::size_t at = kRiffHeaderSize; at + kChunkHeaderSize <= head.size();) {
        const std::uint64_t size = Load(head, at + 4, 4);
        const std::size_t body = at + kChunkHeaderSize;
        const std::size_t present = head.size() - body;
        if (IsChunk(head, at, "fmt ") && size >= kPcmFormatSize && present >= kPcmFormatSize) {
            format = ParseFmt(head.subspan(body, static_cast<std::size_t>(std::min<std::uint64_t>(size, present))));
            byte_rate = Load(head, body + 8, 4);
        } else if (IsChunk(head, at, "fact") && size >= kFactSize && present >= kFactSize) {
            fact_frames = Load(head, body, 4);
        } else if (IsChunk(head, at, "data")) {
            if (!format) {
                return fail("no \"fmt \" chunk of 16 bytes or more before its data chunk");
            }
            if (format->channels == 0 || format->sample_rate == 0) {
                return fail("its fmt chunk says " + std::to_string(format->channels) + " channels at " +
                            std::to_string(format->sample_rate) + " Hz");
            }
            format->data_offset = body;
            format->data_size = static_cast<std::uint32_t>(size);
            format->fact_frames = fact_frames;
            format->frames = OwnFrameCount(*format, byte_rate);
            format->seconds = static_cast<double>(format->frames) / format->sample_rate;
            return format;
        }
        const std::uint64_t next = body + size + (size % 2);
        if (next > head.size()) {
            break;
        }
        at = static_cast<std::size_t>(next);
    }
    return fail("no \"data\" chunk in its first " + std::to_string(head.size()) + " bytes");
}

std::string EncodingKey(const WavFormat& format)
{
    switch (format.encoding) {
        case WavEncoding::kPcmU8:
            return "pcm_u8";
        case WavEncoding::kPcmS16:
            return "pcm_s16";
        case WavEncoding::kPcmS24:
            return "pcm_s24";
        case WavEncoding::kPcmS32:
            return "pcm_s32";
        case WavEncoding::kFloat32:
            return "float32";
        case WavEncoding::kFloat64:
            return "float64";
        case WavEncoding::kImaAdpcm:
            return "ima_adpcm";
        case WavEncoding::kMsAdpcm:
            return "ms_adpcm";
        case WavEncoding::kGsm610:
            return "gsm610";
        case WavEncoding::kMuLaw:
            return "ulaw";
        case WavEncoding::kALaw:
            return "alaw";
        case WavEncoding::kG721:
            return "g721";
        case WavEncoding::kOther:
            break;
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(format.format_tag));
    return text;
}

std::string EncodingLabel(const WavFormat& format)
{
    switch (format.encoding) {
        case WavEncoding::kPcmU8:
        case WavEncoding::kPcmS16:
        case WavEncoding::kPcmS24:
        case WavEncoding::kPcmS32:
            return "PCM";
        case WavEncoding::kFloat32:
        case WavEncoding::kFloat64:
            return "float";
        case WavEncoding::kImaAdpcm:
            return "IMA ADPCM";
        case WavEncoding::kMsAdpcm:
            return "MS ADPCM";
        case WavEncoding::kGsm610:
            return "GSM 6.10";
        case WavEncoding::kMuLaw:
            return "\xC2\xB5-law";
        case WavEncoding::kALaw:
            return "A-law";
        case WavEncoding::kG721:
            return "G.721 ADPCM";
        case WavEncoding::kOther:
            break;
    }
    return EncodingKey(format);
}

}  // namespace quorvel
