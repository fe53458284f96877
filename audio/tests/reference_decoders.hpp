#pragma once

// Other programs' decoding of the same sound bytes, as the truth a test
// compares with: Debian's sox, and ffmpeg for G.721 (which sox does not read
// in WAV).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::audio::testing {

// True when `program` can be run from PATH.
bool HaveProgram(const std::string& program);

// sox's decoding of the WAV file `sound` as 16-bit samples (no dither) or
// as 32-bit floats, interleaved. Throws std::runtime_error if sox fails.
std::vector<std::int16_t> SoxSamples16(const std::vector<std::byte>& sound);
std::vector<float> SoxSamplesFloat(const std::vector<std::byte>& sound);

// ffmpeg's decoding of the G.721 WAV file `sound` as 16-bit samples (its
// G.726 decoder at 32 kbit/s, codes packed low nibble first, as WAV packs
// them). Throws std::runtime_error if ffmpeg fails.
std::vector<std::int16_t> FfmpegG721Samples(const std::vector<std::byte>& sound);

}  // namespace quorvel::audio::testing
