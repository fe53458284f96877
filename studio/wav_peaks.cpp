#include "studio/wav_peaks.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

namespace quorvel::studio {
namespace {

constexpr std::size_t kPieceSize = 0x10000;
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
constexpr std::size_t kExtensibleSize = 40;  // fmt with cbSize 22: its sub-format GUID at 24

std::uint32_t Load(const std::byte* bytes, std::size_t width)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value |= std::to_integer<std::uint32_t>(bytes[i]) << (8 * i);
    }
    return value;
}

// The source, read exactly: whole headers, skipped chunk bodies.
class Reader {
public:
    explicit Reader(ByteSource& source) : source_(source) {}

    // Fills `out` whole; false when the source ends first.
    bool ReadExactly(std::span<std::byte> out)
    {
        while (!out.empty()) {
            const std::size_t got = source_.Read(out);
            if (got == 0) {
                return false;
            }
            consumed_ += got;
            out = out.subspan(got);
        }
        return true;
    }

    bool Skip(std::uint64_t length)
    {
        std::array<std::byte, 4096> scratch{};
        while (length > 0) {
            const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(length, scratch.size()));
            const std::size_t got = source_.Read(std::span(scratch).first(piece));
            if (got == 0) {
                return false;
            }
            consumed_ += got;
            length -= got;
        }
        return true;
    }

    std::size_t ReadSome(std::span<std::byte> out) { return source_.Read(out); }
    std::uint64_t consumed() const { return consumed_; }

private:
    ByteSource& source_;
    std::uint64_t consumed_ = 0;
};

struct Layout {
    SampleFormat format = SampleFormat::kSigned16;
    std::uint32_t channels = 0;
    std::uint32_t sample_rate = 0;
    std::uint32_t sample_bytes = 0;
};

std::optional<SampleFormat> FormatOf(std::uint16_t tag, std::uint32_t bits)
{
    if (tag == kFormatPcm) {
        switch (bits) {
            case 8:
                return SampleFormat::kUnsigned8;
            case 16:
                return SampleFormat::kSigned16;
            case 24:
                return SampleFormat::kSigned24;
            case 32:
                return SampleFormat::kSigned32;
            default:
                return std::nullopt;
        }
    }
    if (tag == kFormatFloat && bits == 32) {
        return SampleFormat::kFloat32;
    }
    return std::nullopt;
}

std::optional<Layout> ParseFormat(std::span<const std::byte> fmt)
{
    if (fmt.size() < 16) {
        return std::nullopt;
    }
    std::uint16_t tag = static_cast<std::uint16_t>(Load(fmt.data(), 2));
    const std::uint32_t channels = Load(fmt.data() + 2, 2);
    const std::uint32_t rate = Load(fmt.data() + 4, 4);
    const std::uint32_t block_align = Load(fmt.data() + 12, 2);
    const std::uint32_t bits = Load(fmt.data() + 14, 2);
    if (tag == kFormatExtensible) {
        if (fmt.size() < kExtensibleSize) {
            return std::nullopt;
        }
        // The sub-format GUID starts with the format tag it stands for.
        tag = static_cast<std::uint16_t>(Load(fmt.data() + 24, 2));
    }
    const auto format = FormatOf(tag, bits);
    if (!format || channels == 0 || channels > kMostChannels || block_align != channels * (bits / 8)) {
        return std::nullopt;
    }
    return Layout{.format = *format, .channels = channels, .sample_rate = rate, .sample_bytes = bits / 8};
}

float SampleAt(const std::byte* bytes, SampleFormat format)
{
    switch (format) {
        case SampleFormat::kUnsigned8:
            return (static_cast<float>(Load(bytes, 1)) - 128.0F) / 128.0F;
        case SampleFormat::kSigned16:
            return static_cast<float>(static_cast<std::int16_t>(Load(bytes, 2))) / 32768.0F;
        case SampleFormat::kSigned24: {
            // Sign-extend from bit 23 without shifting a negative number.
            const std::uint32_t raw = Load(bytes, 3);
            const auto value = static_cast<std::int32_t>(raw) - static_cast<std::int32_t>((raw & 0x800000U) << 1);
            return static_cast<float>(value) / 8388608.0F;
        }
        case SampleFormat::kSigned32:
            return static_cast<float>(static_cast<double>(static_cast<std::int32_t>(Load(bytes, 4))) / 2147483648.0);
        case SampleFormat::kFloat32: {
            const float value = std::bit_cast<float>(Load(bytes, 4));
            // NaN and infinities are drawn as silence and full scale.
            if (value != value) {
                return 0.0F;
            }
            return std::clamp(value, -1.0F, 1.0F);
        }
    }
    return 0.0F;
}

// Finds the "fmt " and "data" chunks; leaves the reader at the first sample.
std::optional<std::pair<Layout, std::uint64_t>> FindSamples(Reader& reader)
{
    std::array<std::byte, 12> header{};
    if (!reader.ReadExactly(header) || std::memcmp(header.data(), "RIFF", 4) != 0 ||
        std::memcmp(header.data() + 8, "WAVE", 4) != 0) {
        return std::nullopt;
    }
    std::optional<Layout> layout;
    for (;;) {
        std::array<std::byte, 8> chunk{};
        if (!reader.ReadExactly(chunk)) {
            return std::nullopt;
        }
        const std::uint64_t size = Load(chunk.data() + 4, 4);
        if (std::memcmp(chunk.data(), "data", 4) == 0) {
            if (!layout) {
                return std::nullopt;
            }
            return std::pair{*layout, size};
        }
        const std::uint64_t padded = size + (size % 2);
        if (std::memcmp(chunk.data(), "fmt ", 4) == 0 && size <= 64) {
            std::array<std::byte, 64> fmt{};
            if (!reader.ReadExactly(std::span(fmt).first(static_cast<std::size_t>(padded)))) {
                return std::nullopt;
            }
            layout = ParseFormat(std::span(fmt).first(static_cast<std::size_t>(size)));
            if (!layout) {
                return std::nullopt;
            }
        } else if (!reader.Skip(padded)) {
            return std::nullopt;
        }
    }
}

}  // namespace

std::optional<Peaks> ComputePeaks(ByteSource& source, std::uint64_t file_size, std::uint32_t buckets)
{
    if (buckets == 0 || buckets > kMostBuckets) {
        return std::nullopt;
    }
    Reader reader(source);
    const auto found = FindSamples(reader);
    if (!found) {
        return std::nullopt;
    }
    const auto& [layout, declared_size] = *found;
    // A data chunk that says more than the file holds (one written while
    // streaming says 0xFFFFFFFF) is drawn as far as the file goes.
    const std::uint64_t data_size = std::min(declared_size, file_size - std::min(file_size, reader.consumed()));
    const std::uint32_t frame_bytes = layout.channels * layout.sample_bytes;
    Peaks peaks{.channels = layout.channels,
                .sample_rate = layout.sample_rate,
                .frames = data_size / frame_bytes,
                .buckets = buckets,
                .min = std::vector<float>(std::size_t{layout.channels} * buckets, 0.0F),
                .max = std::vector<float>(std::size_t{layout.channels} * buckets, 0.0F)};
    std::vector<bool> touched(buckets, false);
    // Whole frames only: a piece ends on a frame's edge, the rest carried over.
    std::vector<std::byte> piece(kPieceSize - kPieceSize % frame_bytes + frame_bytes);
    std::size_t carried = 0;
    std::uint64_t frame = 0;
    while (frame < peaks.frames) {
        const std::size_t got = reader.ReadSome(std::span(piece).subspan(carried));
        if (got == 0) {
            break;  // the file ends before its data chunk does
        }
        const std::size_t held = carried + got;
        const std::size_t whole = held - held % frame_bytes;
        for (std::size_t at = 0; at < whole && frame < peaks.frames; at += frame_bytes, ++frame) {
            // frame * buckets fits: frames < 2^32, buckets <= 8192.
            const auto bucket = static_cast<std::size_t>(frame * buckets / peaks.frames);
            const bool first = !touched[bucket];
            touched[bucket] = true;
            for (std::uint32_t channel = 0; channel < layout.channels; ++channel) {
                const float value = SampleAt(piece.data() + at + channel * layout.sample_bytes, layout.format);
                const std::size_t slot = std::size_t{channel} * buckets + bucket;
                peaks.min[slot] = first ? value : std::min(peaks.min[slot], value);
                peaks.max[slot] = first ? value : std::max(peaks.max[slot], value);
            }
        }
        carried = held - whole;
        std::memmove(piece.data(), piece.data() + whole, carried);
    }
    return peaks;
}

}  // namespace quorvel::studio
