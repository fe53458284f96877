#pragma once

// Sounds for tests, made by libsndfile (never by a hand-written encoder):
// any format and encoding it writes, as the bytes of a file.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvel::audio::testing {

// A few seconds of something that sounds like something: a chord that
// slides, with a little seeded noise, in [-0.8, 0.8].
std::vector<float> MakeSignal(int channels, int sample_rate, std::int64_t frames, std::uint32_t seed = 1);

// A tune of its own for each seed, where MakeSignal's chord is the same in
// every seed: notes of 80 to 350 ms, each at a pitch drawn from 150 Hz to
// 3 kHz with its octave, a little hiss under them, in [-0.8, 0.8]. For
// sounds that must be told apart by ear.
std::vector<float> MakeTune(int channels, int sample_rate, std::int64_t frames, std::uint32_t seed);

// `samples` (interleaved floats) written by libsndfile as SF_FORMAT_*
// `sf_format`; the file's bytes.
std::vector<std::byte> EncodeSound(int sf_format, int channels, int sample_rate, const std::vector<float>& samples);

// What a WAV holds beside its samples, written by libsndfile with them.
struct SoundExtras {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> loops;  // first and last frame ("smpl")
    std::vector<std::uint32_t> cue_points;                       // frames ("cue ")
    std::vector<std::pair<std::string, std::string>> chunks;     // id and payload of chunks libsndfile does not know
};
std::vector<std::byte> EncodeSound(int sf_format, int channels, int sample_rate, const std::vector<float>& samples,
                                   const SoundExtras& extras);

// A sound decoded by libsndfile, held to `frames` where given (a
// compressed sound's own count).
struct DecodedSound {
    int channels = 0;
    int sample_rate = 0;
    int sf_format = 0;
    std::vector<float> samples;  // interleaved
    std::int64_t frames() const { return static_cast<std::int64_t>(samples.size()) / channels; }
};
DecodedSound DecodeSound(const std::vector<std::byte>& bytes, std::optional<std::int64_t> frames = std::nullopt);
// Its loop and cue points as libsndfile reads them.
SoundExtras ReadMarkers(const std::vector<std::byte>& bytes);

// EBU R128 integrated loudness (LUFS) and true peak (dBTP), by libebur128.
double IntegratedLoudness(const DecodedSound& sound);
double TruePeak(const DecodedSound& sound);

// The payload of the first chunk `id` of a RIFF/WAVE file, found by a walk of
// the test's own; nothing when there is none.
std::optional<std::vector<std::byte>> FindChunk(const std::vector<std::byte>& wav, const char (&id)[5]);
// Where that chunk's payload starts.
std::optional<std::size_t> FindChunkOffset(const std::vector<std::byte>& wav, const char (&id)[5]);
// The string libsndfile reads from the file `bytes` as SF_STR_*
// `string_type`: a tag. Empty where it has none.
std::string ReadTag(const std::vector<std::byte>& bytes, int string_type);
// The same with the chunks a sound may carry besides its samples, as
// libsndfile writes them: text (LIST INFO), cue points, a sampler's loop
// (smpl) and broadcast information (bext).
std::vector<std::byte> EncodeSoundWithMetadata(int sf_format, int channels, int sample_rate,
                                               const std::vector<float>& samples);

}  // namespace quorvel::audio::testing
