#pragma once

// Playable PCM WAV files made from a few numbers. All synthesis is integer
// arithmetic, so a description gives the same bytes on every platform.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "tools/sample_game/chance_riff_guard.hpp"

namespace quorvel::sample {

struct WavFormat {
    std::uint16_t channels = 1;
    std::uint32_t sample_rate = 22050;
    std::uint16_t bits_per_sample = 16;  // 8 (unsigned), 16 or 24 (signed)

    std::uint16_t BlockAlign() const { return static_cast<std::uint16_t>(channels * (bits_per_sample / 8)); }
};

inline constexpr WavFormat kMono8Bit11025{1, 11025, 8};
inline constexpr WavFormat kMono16Bit22050{1, 22050, 16};
inline constexpr WavFormat kStereo16Bit44100{2, 44100, 16};
inline constexpr WavFormat kMono24Bit48000{1, 48000, 24};
inline constexpr std::array<WavFormat, 4> kFormats = {kMono8Bit11025, kMono16Bit22050, kStereo16Bit44100,
                                                      kMono24Bit48000};

enum class Waveform {
    kTone,        // a sine at start_hz
    kChirp,       // a sine sliding from start_hz to end_hz
    kNoiseBurst,  // seeded noise that dies away
    kSpeech,      // voiced syllables around the pitch start_hz, seeded
};

struct SoundParams {
    WavFormat format{};
    Waveform waveform = Waveform::kTone;
    std::uint32_t frames = 0;
    std::uint32_t start_hz = 440;
    std::uint32_t end_hz = 440;
    std::uint64_t seed = 0;
    // Offset into the sample data where the bytes "RIFF" appear as if by
    // chance. The bytes 8..11 after them never read "WAVE", so they do not
    // look like the start of a further sound. Needs 12 bytes of sample data.
    std::optional<std::uint64_t> chance_riff_at{};
};

// Header bytes before the samples: RIFF header, "fmt " chunk, "data" header.
inline constexpr std::uint64_t kWavHeaderSize = 44;

std::uint64_t SampleDataSize(const SoundParams& sound);
// The whole file: header, samples and the pad byte that keeps chunks even.
std::uint64_t SoundFileSize(const SoundParams& sound);
// The most frames whose file in `format` is no longer than `file_size`.
std::uint32_t FramesForFileSize(const WavFormat& format, std::uint64_t file_size);

// Makes a WAV file a chunk at a time (the header, then up to 4096 frames of
// samples, then the pad byte of an odd data size), so memory stays small
// whatever the length. `guard` keeps the samples from spelling "RIFF" by
// accident. Throws std::invalid_argument for a format or plant it cannot
// make or a header whose fields spell "RIFF" (the extractor would split
// there), and std::length_error for a file the archives' 32-bit sizes cannot
// hold.
class SoundChunks {
public:
    SoundChunks(const SoundParams& sound, ChanceRiffGuard& guard);
    ~SoundChunks();
    SoundChunks(const SoundChunks&) = delete;
    SoundChunks& operator=(const SoundChunks&) = delete;

    // Appends the next chunk to `chunk`; false once the file is complete.
    bool Next(std::vector<std::byte>& chunk);

private:
    class Synth;

    const SoundParams& sound_;
    ChanceRiffGuard& guard_;
    std::unique_ptr<Synth> synth_;  // made with the header
    std::vector<std::int32_t> samples_;
    std::uint32_t frames_done_ = 0;
    std::uint64_t sample_offset_ = 0;
    bool padded_ = false;
};

// The whole WAV file in memory, for small sounds and tests.
std::vector<std::byte> MakeSound(const SoundParams& sound);

}  // namespace quorvel::sample
