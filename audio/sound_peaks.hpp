#pragma once

// A sound's waveform as a page draws it, from its decoded samples: every
// encoding that decodes has one.

#include <cstdint>
#include <string>
#include <vector>

#include "audio/sound_decoder.hpp"
#include "extract/file_system.hpp"

namespace quorvel::audio {

// For each channel, `buckets` pairs of the lowest and highest sample in that
// stretch of the sound, in -1..1 (a float sound's samples beyond it are
// drawn at full scale, and not-a-number as silence). A bucket that no frame
// falls into (a sound of fewer frames than buckets) is 0, 0.
struct Peaks {
    std::uint32_t channels = 0;
    std::uint32_t sample_rate = 0;
    std::uint64_t frames = 0;
    std::uint32_t buckets = 0;
    std::vector<float> min;  // channel-major: min[channel * buckets + bucket]
    std::vector<float> max;
};

// The most buckets asked for: a screen's width, several times over.
inline constexpr std::uint32_t kMostBuckets = 8192;

// Decodes all of `decoder`'s frames, from the first, into `buckets` (1 to
// kMostBuckets) buckets. Memory is the buckets and one piece of samples,
// whatever the length of the sound. Throws SoundError, also for a bucket
// count out of range, or what the input throws.
Peaks ComputePeaks(SoundDecoder& decoder, std::uint32_t buckets);
// The same for the stored sound held by `input`, opened as OpenSound opens it.
Peaks ComputePeaks(InputFile& input, const std::string& name, std::uint32_t buckets);

}  // namespace quorvel::audio
