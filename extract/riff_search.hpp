#pragma once

#include <cstddef>
#include <span>

namespace quorvel {

inline constexpr std::size_t kNoMatch = static_cast<std::size_t>(-1);

// Index of the first "RIFF" that lies wholly in bytes[from..], or kNoMatch.
std::size_t FindRiff(std::span<const std::byte> bytes, std::size_t from);

}  // namespace quorvel
