#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvel {

// The archives' numbers: 4 bytes, little-endian, signed.
inline std::int32_t LoadInt32(std::span<const std::byte, 4> bytes)
{
    const std::uint32_t value =
        std::to_integer<std::uint32_t>(bytes[0]) | std::to_integer<std::uint32_t>(bytes[1]) << 8 |
        std::to_integer<std::uint32_t>(bytes[2]) << 16 | std::to_integer<std::uint32_t>(bytes[3]) << 24;
    return static_cast<std::int32_t>(value);
}

}  // namespace quorvel
