#include "audio/sound_peaks.hpp"

#include <algorithm>
#include <cmath>

#include "audio/stored_sound.hpp"

namespace quorvel::audio {
namespace {

constexpr std::size_t kPieceFrames = 8192;

float Drawn(float sample)
{
    return std::isnan(sample) ? 0.0F : std::clamp(sample, -1.0F, 1.0F);
}

}  // namespace

Peaks ComputePeaks(SoundDecoder& decoder, std::uint32_t buckets)
{
    if (buckets == 0 || buckets > kMostBuckets) {
        throw SoundError(decoder.name() + ": a waveform has 1 to " + std::to_string(kMostBuckets) + " buckets, not " +
                         std::to_string(buckets));
    }
    const auto channels = static_cast<std::uint32_t>(decoder.channels());
    const auto frames = static_cast<std::uint64_t>(decoder.frames());
    Peaks peaks{.channels = channels,
                .sample_rate = static_cast<std::uint32_t>(decoder.sample_rate()),
                .frames = frames,
                .buckets = buckets,
                .min = std::vector<float>(std::size_t{channels} * buckets, 0.0F),
                .max = std::vector<float>(std::size_t{channels} * buckets, 0.0F)};
    std::vector<bool> touched(buckets, false);
    std::vector<float> piece(kPieceFrames * channels);
    decoder.Seek(0);
    std::uint64_t frame = 0;
    while (const std::size_t got = decoder.Read(piece)) {
        for (std::size_t at = 0; at < got; ++at, ++frame) {
            // frame * buckets fits: a sound has fewer than 2^51 frames.
            const auto bucket = static_cast<std::size_t>(frame * buckets / frames);
            const bool first = !touched[bucket];
            touched[bucket] = true;
            for (std::uint32_t channel = 0; channel < channels; ++channel) {
                const float value = Drawn(piece[at * channels + channel]);
                const std::size_t slot = std::size_t{channel} * buckets + bucket;
                peaks.min[slot] = first ? value : std::min(peaks.min[slot], value);
                peaks.max[slot] = first ? value : std::max(peaks.max[slot], value);
            }
        }
    }
    if (frame != frames) {
        throw SoundError(decoder.name() + ": cannot be decoded: it stops at frame " + std::to_string(frame) + " of " +
                         std::to_string(frames));
    }
    return peaks;
}

Peaks ComputePeaks(InputFile& input, const std::string& name, std::uint32_t buckets)
{
    SoundDecoder decoder = OpenSound(input, name);
    return ComputePeaks(decoder, buckets);
}

}  // namespace quorvel::audio
