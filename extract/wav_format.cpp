#include "extract/wav_format.hpp"

#include <algorithm>
#include <cstring>

#include "extract/archive_format.hpp"

namespace quorvel {
namespace {

constexpr std::size_t kRiffHeaderSize = format::kRiffHeaderSize;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kPcmFormatSize = 16;

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

}  // namespace

std::optional<WavFormat> ReadWavFormat(std::span<const std::byte> head)
{
    std::optional<WavFormat> format;
    std::uint32_t byte_rate = 0;
    // Chunks are padded to an even size.
    for (std::size_t at = kRiffHeaderSize; at + kChunkHeaderSize <= head.size();) {
        const std::uint64_t size = Load(head, at + 4, 4);
        const std::size_t body = at + kChunkHeaderSize;
        if (IsChunk(head, at, "fmt ") && size >= kPcmFormatSize && body + kPcmFormatSize <= head.size()) {
            format = WavFormat{.channels = Load(head, body + 2, 2),
                               .sample_rate = Load(head, body + 4, 4),
                               .bits_per_sample = Load(head, body + 14, 2),
                               .seconds = 0};
            byte_rate = Load(head, body + 8, 4);
        } else if (IsChunk(head, at, "data")) {
            if (!format || byte_rate == 0) {
                return std::nullopt;
            }
            format->seconds = static_cast<double>(size) / byte_rate;
            return format;
        }
        const std::uint64_t next = body + size + (size % 2);
        if (next > head.size()) {
            break;
        }
        at = static_cast<std::size_t>(next);
    }
    return std::nullopt;
}

}  // namespace quorvel
