#include "extract/riff_search.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#include "extract/archive_format.hpp"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define QUORVEL_HAVE_SSE2 1
#endif

namespace quorvel {
namespace {

// Both searches look for positions whose byte is 'R' and whose byte three
// further on is 'F', many positions at a time, and only check those few
// candidates in full. The two outer letters, unlike the first two, are never
// both found at that distance in the worst case "RIFRIFRIF...".
constexpr std::size_t kRiffLength = format::kRiff.size();
constexpr std::size_t kLastLetter = kRiffLength - 1;
constexpr auto kFirstByte = std::to_integer<std::uint8_t>(format::kRiff.front());
constexpr auto kLastByte = std::to_integer<std::uint8_t>(format::kRiff.back());

bool HasRiffAt(const std::byte* at)
{
    return std::memcmp(at, format::kRiff.data(), kRiffLength) == 0;
}

constexpr std::uint64_t EveryByte(std::uint8_t value)
{
    return 0x0101010101010101ULL * value;
}

// 0x80 in each byte of `word` that equals `value`, 0 in every other byte.
std::uint64_t BytesEqual(std::uint64_t word, std::uint8_t value)
{
    const std::uint64_t low7 = EveryByte(0x7F);
    const std::uint64_t differences = word ^ EveryByte(value);
    // The high bit of each byte ends up set exactly when the byte is 0;
    // no carry crosses a byte boundary.
    return ~(((differences & low7) + low7) | differences | low7);
}

std::uint64_t LoadWord(const std::byte* at)
{
    std::uint64_t word = 0;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// Index, in memory order, of the first byte flagged in a BytesEqual mask.
int FirstFlaggedByte(std::uint64_t flags)
{
    if constexpr (std::endian::native == std::endian::little) {
        return std::countr_zero(flags) / 8;
    } else {
        return std::countl_zero(flags) / 8;
    }
}

std::uint64_t DropFlag(std::uint64_t flags, int byte_index)
{
    if constexpr (std::endian::native == std::endian::little) {
        return flags & ~(std::uint64_t{0x80} << (8 * byte_index));
    } else {
        return flags & ~(std::uint64_t{0x80} << (8 * (7 - byte_index)));
    }
}

#if defined(QUORVEL_HAVE_SSE2)
std::size_t FindRiffSse2(std::span<const std::byte> bytes, std::size_t from)
{
    if (from >= bytes.size()) {
        return kNoMatch;
    }
    constexpr std::size_t kStep = 16;
    const std::byte* data = bytes.data();
    const __m128i first = _mm_set1_epi8(static_cast<char>(kFirstByte));
    const __m128i last = _mm_set1_epi8(static_cast<char>(kLastByte));
    std::size_t at = from;
    for (; at + kStep + kLastLetter <= bytes.size(); at += kStep) {
        const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + kLastLetter));
        auto candidates = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(starts, first), _mm_cmpeq_epi8(ends, last))));
        while (candidates != 0) {
            const auto offset = static_cast<std::size_t>(std::countr_zero(candidates));
            if (HasRiffAt(data + at + offset)) {
                return at + offset;
            }
            candidates &= candidates - 1;
        }
    }
    return FindRiffPortable(bytes, at);
}
#endif

}  // namespace

std::size_t FindRiffPortable(std::span<const std::byte> bytes, std::size_t from)
{
    if (from >= bytes.size() || bytes.size() - from < kRiffLength) {
        return kNoMatch;
    }
    constexpr std::size_t kStep = sizeof(std::uint64_t);
    const std::byte* data = bytes.data();
    std::size_t at = from;
    for (; at + kStep + kLastLetter <= bytes.size(); at += kStep) {
        std::uint64_t candidates =
            BytesEqual(LoadWord(data + at), kFirstByte) & BytesEqual(LoadWord(data + at + kLastLetter), kLastByte);
        while (candidates != 0) {
            const int offset = FirstFlaggedByte(candidates);
            if (HasRiffAt(data + at + static_cast<std::size_t>(offset))) {
                return at + static_cast<std::size_t>(offset);
            }
            candidates = DropFlag(candidates, offset);
        }
    }
    for (; at + kRiffLength <= bytes.size(); ++at) {
        if (HasRiffAt(data + at)) {
            return at;
        }
    }
    return kNoMatch;
}

std::size_t FindRiff(std::span<const std::byte> bytes, std::size_t from)
{
#if defined(QUORVEL_HAVE_SSE2)
    return FindRiffSse2(bytes, from);
#else
    return FindRiffPortable(bytes, from);
#endif
}

}  // namespace quorvel
