#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quorvel::testing {

using Bytes = std::vector<std::byte>;

// Writes the low bytes of `value` into `out`, least significant first, as
// many as `out` holds (at most 4): the byte order of the archives and WAVs.
inline void PutLittleEndian(std::span<std::byte> out, std::uint32_t value)
{
    for (std::byte& slot : out) {
        slot = static_cast<std::byte>(value & 0xFFu);
        value >>= 8;
    }
}

inline void PutAscii(std::span<std::byte> out, std::string_view text)
{
    for (std::size_t i = 0; i < out.size() && i < text.size(); ++i) {
        out[i] = static_cast<std::byte>(text[i]);
    }
}

// The 4 bytes at `at`, little-endian.
inline std::uint32_t LittleEndianAt(std::span<const std::byte> bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= std::to_integer<std::uint32_t>(bytes[at + i]) << (8 * i);
    }
    return value;
}

inline std::span<const std::byte> AsBytes(std::string_view text)
{
    return std::as_bytes(std::span(text.data(), text.size()));
}

inline std::string_view AsText(std::span<const std::byte> bytes)
{
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace quorvel::testing
