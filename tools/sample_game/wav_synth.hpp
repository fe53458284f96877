#pragma once

// Playable WAV files made from a few numbers. All synthesis is integer
// arithmetic, so a description gives the same bytes on every platform.
// Integer PCM of 8, 16 and 24 bits is written here; the other encodings a
// game stores are encoded by libsndfile (from the same integer samples,
// with integer codecs), where the generator is built with it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "tools/sample_game/chance_riff_guard.hpp"

namespace quorvel::sample {

// How the samples are stored: integer PCM written here, or an encoding
// libsndfile writes.
enum class Encoding : std::uint8_t {
    kPcm,            // 8 (unsigned), 16 or 24 bits (signed), written here
    kPcm32,          // the rest by libsndfile
    kExtensiblePcm,  // WAVE_FORMAT_EXTENSIBLE
    kFloat32,
    kFloat64,
    kImaAdpcm,
    kMsAdpcm,
    kGsm610,  // mono only
    kMuLaw,
    kALaw,
    kG721,  // mono only
};

struct WavFormat {
    std::uint16_t channels = 1;
    std::uint32_t sample_rate = 22050;
    std::uint16_t bits_per_sample = 16;  // as the header says (4 for ADPCM, 0 for GSM 6.10)
    Encoding encoding = Encoding::kPcm;

    // The bytes of a frame of integer PCM.
    std::uint16_t BlockAlign() const { return static_cast<std::uint16_t>(channels * (bits_per_sample / 8)); }
};

inline constexpr WavFormat kMono8Bit11025{1, 11025, 8};
inline constexpr WavFormat kMono16Bit22050{1, 22050, 16};
inline constexpr WavFormat kStereo16Bit44100{2, 44100, 16};
inline constexpr WavFormat kMono24Bit48000{1, 48000, 24};
inline constexpr std::array<WavFormat, 4> kFormats = {kMono8Bit11025, kMono16Bit22050, kStereo16Bit44100,
                                                      kMono24Bit48000};

// One of each other encoding, at the rates games store it.
inline constexpr std::array<WavFormat, 12> kEncodedFormats = {{
    {1, 48000, 32, Encoding::kPcm32},
    {2, 44100, 24, Encoding::kExtensiblePcm},
    {1, 44100, 32, Encoding::kFloat32},
    {1, 22050, 64, Encoding::kFloat64},
    {1, 22050, 4, Encoding::kImaAdpcm},
    {2, 22050, 4, Encoding::kImaAdpcm},
    {1, 22050, 4, Encoding::kMsAdpcm},
    {2, 22050, 4, Encoding::kMsAdpcm},
    {1, 8000, 0, Encoding::kGsm610},
    {1, 8000, 8, Encoding::kMuLaw},
    {2, 8000, 8, Encoding::kALaw},
    {1, 8000, 4, Encoding::kG721},
}};

// True where the generator is built with libsndfile.
bool EncodedSoundsAvailable();
// The formats random sounds are drawn from: kFormats, and kEncodedFormats
// where they can be made.
std::span<const WavFormat> SoundFormats();
// True for the encodings libsndfile makes slowly (under 1 MB/s: GSM 6.10,
// G.721), kept to short sounds in large games.
bool SlowToEncode(const WavFormat& format);

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

// Header bytes before the samples of integer PCM: RIFF header, "fmt "
// chunk, "data" header.
inline constexpr std::uint64_t kWavHeaderSize = 44;
// Header bytes before the samples, in any format.
std::uint64_t HeaderSize(const WavFormat& format);

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

    bool NextEncoded(std::vector<std::byte>& chunk);

    const SoundParams& sound_;
    ChanceRiffGuard& guard_;
    std::unique_ptr<Synth> synth_;  // made with the header
    std::vector<std::int32_t> samples_;
    std::uint32_t frames_done_ = 0;
    std::uint64_t sample_offset_ = 0;
    bool padded_ = false;
    std::vector<std::byte> encoded_;  // a sound libsndfile encoded, and how much of it was given
    std::uint64_t encoded_at_ = 0;
};

// The whole WAV file in memory, for small sounds and tests.
std::vector<std::byte> MakeSound(const SoundParams& sound);

}  // namespace quorvel::sample
