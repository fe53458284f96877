#pragma once

// The loop points ("smpl") and cue points ("cue ") of a sound, carried into
// its replacement. They count frames, and the replacement keeps the rate of
// the sound it replaces, so every point keeps its frame position. A loop
// over the whole sound becomes a loop over the whole new sound (the sound
// loops as it did); a point the new sound does not reach is dropped, and
// said so.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quorvel::audio {

struct MarkerFit {
    std::int64_t old_frames = 0;  // of the sound replaced
    std::int64_t new_frames = 0;  // of the replacement
    // The replacement's block layout where it differs from the old one's:
    // a cue point names the block that holds it, by its byte offset.
    struct Blocks {
        std::uint32_t block_align = 0;
        std::uint32_t samples_per_block = 0;
    };
    std::optional<Blocks> new_blocks;
};

struct DroppedMarker {
    bool loop = false;
    std::uint32_t number = 0;  // a loop's place in its chunk (from 1), a cue point's id
    std::int64_t start = 0;    // a cue point's frame
    std::int64_t end = 0;      // a loop's last frame

    std::string Describe(std::int64_t new_frames) const;
};

// The "smpl" payload with its loops fitted; dropped loops are added to
// `dropped`. Throws SoundError (starting with `where`) for a payload that
// lists more loops than it holds.
std::vector<std::byte> FitSamplerChunk(std::span<const std::byte> payload, const MarkerFit& fit,
                                       std::vector<DroppedMarker>& dropped, const std::string& where);

// The "cue " payload with its points fitted, likewise.
std::vector<std::byte> FitCueChunk(std::span<const std::byte> payload, const MarkerFit& fit,
                                   std::vector<DroppedMarker>& dropped, const std::string& where);

}  // namespace quorvel::audio
