#pragma once

// The archive format, once, for the code that reads archives and the code
// that writes them.
//
// An archive is a sequence of blocks, read from offset 0 to the end with no
// header and no index, ending with one 4-byte final field:
//
//     block length   4 bytes, little-endian, signed; counts itself
//     payload        block length - 4 bytes; its first 4 are the signature
//
// A block of length 4 or less is empty; one of length 5 to 7 is short (its
// 1 to 3 payload bytes hold no signature); a payload that starts with
// "RIFF" holds sounds laid end to end; one that starts with "AVQF" is
// tagged; any other is data. A sound starts with a 12-byte RIFF header:
// "RIFF", its declared size (little-endian, signed) and its form type; it
// is declared size + 8 bytes long.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>

namespace quorvel::format {

inline constexpr std::size_t kLengthFieldSize = 4;
inline constexpr std::size_t kSignatureSize = 4;
// The largest value a length field holds, and so the largest block.
inline constexpr std::int64_t kLongestBlock = std::numeric_limits<std::int32_t>::max();

// Archives are read, and progress is counted, 64 KiB at a time.
inline constexpr std::size_t kChunkSize = 0x10000;

inline constexpr std::array<std::byte, 4> kRiff = {std::byte{'R'}, std::byte{'I'}, std::byte{'F'}, std::byte{'F'}};
inline constexpr std::array<std::byte, 4> kAvqf = {std::byte{'A'}, std::byte{'V'}, std::byte{'Q'}, std::byte{'F'}};

// "RIFF" and the declared size: where a sound's length becomes known.
inline constexpr std::size_t kRiffSizeFieldEnd = 8;
// ... and the form type ("WAVE"): the whole RIFF header.
inline constexpr std::size_t kRiffHeaderSize = 12;

// A block of this length or less has no payload and makes an empty file.
constexpr bool IsEmptyBlock(std::int64_t block_length)
{
    return block_length <= static_cast<std::int64_t>(kLengthFieldSize);
}

// A block too short for a signature: its 1 to 3 payload bytes are kept as they are.
constexpr bool IsShortBlock(std::int64_t block_length)
{
    return !IsEmptyBlock(block_length) && block_length < static_cast<std::int64_t>(kLengthFieldSize + kSignatureSize);
}

inline bool HasSignature(std::span<const std::byte> bytes, const std::array<std::byte, 4>& signature)
{
    return bytes.size() >= signature.size() && std::memcmp(bytes.data(), signature.data(), signature.size()) == 0;
}

// The archives' numbers: 4 bytes, little-endian, signed.
inline std::int32_t LoadInt32(std::span<const std::byte, 4> bytes)
{
    const std::uint32_t value =
        std::to_integer<std::uint32_t>(bytes[0]) | std::to_integer<std::uint32_t>(bytes[1]) << 8 |
        std::to_integer<std::uint32_t>(bytes[2]) << 16 | std::to_integer<std::uint32_t>(bytes[3]) << 24;
    return static_cast<std::int32_t>(value);
}

inline std::array<std::byte, 4> StoreInt32(std::int32_t number)
{
    const auto value = static_cast<std::uint32_t>(number);
    return {std::byte(value & 0xff), std::byte((value >> 8) & 0xff), std::byte((value >> 16) & 0xff),
            std::byte(value >> 24)};
}

// How many bytes of a piece its RIFF header claims for the sound: the
// declared size + 8, in 64 bits so that no declared size overflows.
constexpr std::int64_t KeptLength(std::int32_t declared_size)
{
    return std::int64_t{declared_size} + static_cast<std::int64_t>(kRiffSizeFieldEnd);
}

}  // namespace quorvel::format
