#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "studio/byte_source.hpp"

namespace quorvel::studio {

// The sample layouts a waveform can be drawn from.
enum class SampleFormat { kUnsigned8, kSigned16, kSigned24, kSigned32, kFloat32 };

// A sound's waveform: for each channel, `buckets` pairs of the lowest and
// highest sample in that stretch of the sound, scaled to -1..1. A bucket
// that no frame falls into (a sound of fewer frames than buckets) is 0, 0.
struct Peaks {
    std::uint32_t channels = 0;
    std::uint32_t sample_rate = 0;
    std::uint64_t frames = 0;
    std::uint32_t buckets = 0;
    std::vector<float> min;  // channel-major: min[channel * buckets + bucket]
    std::vector<float> max;
};

inline constexpr std::uint32_t kMostBuckets = 8192;
inline constexpr std::uint32_t kMostChannels = 32;

// Reads a WAV file of `file_size` bytes from `source` once, front to back, in 64 KiB pieces: its
// "fmt " chunk, then the samples of its "data" chunk (as many as the file
// holds, when it ends early). Memory is the buffer and the buckets, whatever
// the size of the sound. Nothing for a file that is not RIFF/WAVE, has no
// fmt before its data, or holds another format (compressed, 12-bit, ...);
// WAVE_FORMAT_EXTENSIBLE counts as the PCM or float format it wraps.
std::optional<Peaks> ComputePeaks(ByteSource& source, std::uint64_t file_size, std::uint32_t buckets);

}  // namespace quorvel::studio
