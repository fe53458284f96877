#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quorvel::testing {

// SplitMix64: tiny, fast and fully defined, so the same seed yields the
// same bytes with every compiler and standard library.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next() { return Mix(state_ += kGamma); }

    // A number in [low, high]; the tiny modulo bias does not matter here.
    std::uint64_t Between(std::uint64_t low, std::uint64_t high) { return low + Next() % (high - low + 1); }

    // A derived seed, so that one run's parts do not share a stream.
    std::uint64_t Fork() { return Next() ^ 0xD1B54A32D192ED03u; }

    // The stream of `seed` as bytes, each number little-endian: the bytes
    // from `offset` on fill `out`. Any stretch can be made on its own.
    static void Bytes(std::uint64_t seed, std::uint64_t offset, std::span<std::byte> out)
    {
        for (std::size_t i = 0; i < out.size(); ++i, ++offset) {
            out[i] = static_cast<std::byte>(Mix(seed + (offset / 8 + 1) * kGamma) >> (8 * (offset % 8)));
        }
    }

private:
    static constexpr std::uint64_t kGamma = 0x9E3779B97F4A7C15u;

    static std::uint64_t Mix(std::uint64_t z)
    {
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }

    std::uint64_t state_;
};

}  // namespace quorvel::testing
