#pragma once

// Sounds for tests, made by libsndfile (never by a hand-written encoder):
// any format and encoding it writes, as the bytes of a file.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel::audio::testing {

// A few seconds of something that sounds like something: a chord that
// slides, with a little seeded noise, in [-0.8, 0.8].
std::vector<float> MakeSignal(int channels, int sample_rate, std::int64_t frames, std::uint32_t seed = 1);

// `samples` (interleaved floats) written by libsndfile as SF_FORMAT_*
// `sf_format`; the file's bytes.
std::vector<std::byte> EncodeSound(int sf_format, int channels, int sample_rate, const std::vector<float>& samples);

// The same with the chunks a sound may carry besides its samples, as
// libsndfile writes them: text (LIST INFO), cue points, a sampler's loop
// (smpl) and broadcast information (bext).
std::vector<std::byte> EncodeSoundWithMetadata(int sf_format, int channels, int sample_rate,
                                               const std::vector<float>& samples);

}  // namespace quorvel::audio::testing
