#pragma once

#include <cstddef>
#include <span>

namespace quorvel {

inline constexpr std::size_t kNoMatch = static_cast<std::size_t>(-1);

// Index of the first "RIFF" that lies wholly in bytes[from..], or kNoMatch.
// Uses SSE2 where the compiler targets it, FindRiffPortable elsewhere.
std::size_t FindRiff(std::span<const std::byte> bytes, std::size_t from);

// The same search in plain C++, eight bytes at a time.
std::size_t FindRiffPortable(std::span<const std::byte> bytes, std::size_t from);

}  // namespace quorvel
