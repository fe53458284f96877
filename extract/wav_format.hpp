#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace quorvel {

// What a sound's own header says it holds.
struct WavFormat {
    std::uint32_t channels = 0;
    std::uint32_t sample_rate = 0;
    std::uint32_t bits_per_sample = 0;
    double seconds = 0;  // the data chunk's size / the byte rate
};

// Reads the format from the first bytes of a sound: its "fmt " chunk and the
// size of its "data" chunk, found by walking the chunks after the 12-byte
// RIFF header. Nothing when either is missing from these bytes, too short,
// or says a byte rate of 0.
std::optional<WavFormat> ReadWavFormat(std::span<const std::byte> head);

}  // namespace quorvel
