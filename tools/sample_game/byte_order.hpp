#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quorvel::sample {

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

}  // namespace quorvel::sample
