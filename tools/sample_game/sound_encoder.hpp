#pragma once

// The encodings libsndfile writes for the generator. It is the only part
// of the generator that needs libsndfile: a build without it (Windows
// without the sound libraries, a plain source build) makes the same games
// of integer PCM it always made.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "tools/sample_game/wav_synth.hpp"

namespace quorvel::sample {

// True where the generator is built with libsndfile.
bool LibsndfileBuiltIn();

// Fills its span with the next frames: samples interleaved, at 24-bit scale.
using RenderFrames = std::function<void(std::span<std::int32_t> samples)>;

// The WAV file libsndfile writes for `frames` frames of `format` (any but
// Encoding::kPcm) as `render` makes them, a chunk at a time. Throws
// std::runtime_error where libsndfile is not built in or fails.
std::vector<std::byte> EncodeWithLibsndfile(const WavFormat& format, std::uint32_t frames, const RenderFrames& render);

}  // namespace quorvel::sample
