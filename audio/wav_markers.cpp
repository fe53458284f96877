#include "audio/wav_markers.hpp"

#include <cstring>

#include "audio/sound_decoder.hpp"
#include "audio/wav_chunks.hpp"

namespace quorvel::audio {
namespace {

// "smpl": nine 32-bit fields, the loop count the eighth; then 24 bytes per
// loop (cue id, type, start, end, fraction, play count), then sampler data.
constexpr std::size_t kSamplerHeadSize = 36;
constexpr std::size_t kSamplerLoopCountAt = 28;
constexpr std::size_t kLoopSize = 24;
constexpr std::size_t kLoopStartAt = 8;
constexpr std::size_t kLoopEndAt = 12;
// "cue ": a count, then 24 bytes per point (id, position, chunk id, chunk
// start, block start, sample offset).
constexpr std::size_t kCueHeadSize = 4;
constexpr std::size_t kCuePointSize = 24;
constexpr std::size_t kCueChunkIdAt = 8;
constexpr std::size_t kCueBlockStartAt = 16;
constexpr std::size_t kCueFrameAt = 20;

std::size_t CheckedCount(std::span<const std::byte> payload, std::size_t head, std::size_t count_at, std::size_t item,
                         const char* what, const std::string& where)
{
    if (payload.size() < head) {
        throw SoundError(where + " has " + std::to_string(payload.size()) + " bytes; at least " + std::to_string(head) +
                         " expected");
    }
    const std::uint64_t count = LoadLe(payload, count_at, 4);
    if (count > (payload.size() - head) / item) {
        throw SoundError(where + " lists " + std::to_string(count) + " " + what + " in " +
                         std::to_string(payload.size()) + " bytes; each takes " + std::to_string(item));
    }
    return static_cast<std::size_t>(count);
}

// A loop from the first frame to the last (inclusive, or one past it as
// some writers put it) covers the whole sound.
std::optional<std::uint32_t> WholeSoundEnd(std::uint32_t start, std::uint32_t end, const MarkerFit& fit)
{
    if (start != 0 || fit.old_frames <= 0 || fit.new_frames <= 0) {
        return std::nullopt;
    }
    if (end == fit.old_frames - 1) {
        return static_cast<std::uint32_t>(fit.new_frames - 1);
    }
    if (end == fit.old_frames) {
        return static_cast<std::uint32_t>(fit.new_frames);
    }
    return std::nullopt;
}

}  // namespace

std::string DroppedMarker::Describe(std::int64_t new_frames) const
{
    const std::string past = " dropped: past the new end at frame " + std::to_string(new_frames);
    if (loop) {
        return "loop " + std::to_string(number) + " (frames " + std::to_string(start) + " to " + std::to_string(end) +
               ")" + past;
    }
    return "cue point " + std::to_string(number) + " (frame " + std::to_string(start) + ")" + past;
}

std::vector<std::byte> FitSamplerChunk(std::span<const std::byte> payload, const MarkerFit& fit,
                                       std::vector<DroppedMarker>& dropped, const std::string& where)
{
    const std::size_t count = CheckedCount(payload, kSamplerHeadSize, kSamplerLoopCountAt, kLoopSize, "loops", where);
    const auto loops_end = kSamplerHeadSize + count * kLoopSize;
    std::vector<std::byte> out(payload.begin(), payload.begin() + kSamplerHeadSize);
    std::uint32_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<std::byte> loop(
            payload.begin() + static_cast<std::ptrdiff_t>(kSamplerHeadSize + i * kLoopSize),
            payload.begin() + static_cast<std::ptrdiff_t>(kSamplerHeadSize + (i + 1) * kLoopSize));
        const std::uint32_t start = LoadLe(loop, kLoopStartAt, 4);
        const std::uint32_t end = LoadLe(loop, kLoopEndAt, 4);
        if (const auto whole = WholeSoundEnd(start, end, fit)) {
            StoreLe(loop, kLoopEndAt, 4, *whole);
        } else if (start >= fit.new_frames || end > fit.new_frames) {
            dropped.push_back({.loop = true, .number = static_cast<std::uint32_t>(i + 1), .start = start, .end = end});
            continue;
        }
        out.insert(out.end(), loop.begin(), loop.end());
        ++kept;
    }
    StoreLe(out, kSamplerLoopCountAt, 4, kept);
    out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(loops_end), payload.end());
    return out;
}

std::vector<std::byte> FitCueChunk(std::span<const std::byte> payload, const MarkerFit& fit,
                                   std::vector<DroppedMarker>& dropped, const std::string& where)
{
    const std::size_t count = CheckedCount(payload, kCueHeadSize, 0, kCuePointSize, "cue points", where);
    std::vector<std::byte> out(kCueHeadSize);
    std::uint32_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto at = static_cast<std::ptrdiff_t>(kCueHeadSize + i * kCuePointSize);
        std::vector<std::byte> point(payload.begin() + at, payload.begin() + at + kCuePointSize);
        const std::uint32_t frame = LoadLe(point, kCueFrameAt, 4);
        if (frame > fit.new_frames) {
            dropped.push_back({.loop = false, .number = LoadLe(point, 0, 4), .start = frame, .end = frame});
            continue;
        }
        const bool in_data = std::memcmp(point.data() + kCueChunkIdAt, "data", 4) == 0;
        if (fit.new_blocks && in_data && LoadLe(point, kCueBlockStartAt, 4) != 0) {
            const auto block = frame / fit.new_blocks->samples_per_block;
            StoreLe(point, kCueBlockStartAt, 4, block * fit.new_blocks->block_align);
        }
        out.insert(out.end(), point.begin(), point.end());
        ++kept;
    }
    StoreLe(out, 0, 4, kept);
    // Whatever follows the listed points (a writer's padding) stays.
    out.insert(out.end(), payload.begin() + static_cast<std::ptrdiff_t>(kCueHeadSize + count * kCuePointSize),
               payload.end());
    return out;
}

}  // namespace quorvel::audio
