#pragma once

#include <cstdint>

namespace quorvel::sample {

// SplitMix64: tiny, fast and fully defined, so the same seed yields the
// same bytes with every compiler and standard library.
class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15u);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }

    // A number in [low, high]; the tiny modulo bias does not matter here.
    std::uint64_t Between(std::uint64_t low, std::uint64_t high) { return low + Next() % (high - low + 1); }

    // A derived seed, so that one run's parts do not share a stream.
    std::uint64_t Fork() { return Next() ^ 0xD1B54A32D192ED03u; }

private:
    std::uint64_t state_;
};

}  // namespace quorvel::sample
