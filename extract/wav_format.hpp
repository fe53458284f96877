#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quorvel {

// How a sound's samples are stored. Integer PCM is named by the bytes each
// sample takes, as a decoder reads it (12 bits in 2 bytes is 16-bit PCM).
enum class WavEncoding {
    kPcmU8,
    kPcmS16,
    kPcmS24,
    kPcmS32,
    kFloat32,
    kFloat64,
    kImaAdpcm,
    kMsAdpcm,
    kGsm610,
    kMuLaw,
    kALaw,
    kG721,
    kOther,  // known by its format tag only
};

// What a sound's own header says it holds.
struct WavFormat {
    std::uint32_t channels = 0;
    std::uint32_t sample_rate = 0;
    std::uint32_t bits_per_sample = 0;  // as the header says: 4 for ADPCM, 0 for GSM 6.10
    double seconds = 0;                 // frames / sample_rate
    WavEncoding encoding = WavEncoding::kOther;
    // The format tag; a WAVE_FORMAT_EXTENSIBLE sound's is its sub-format's.
    std::uint16_t format_tag = 0;
    std::uint32_t block_align = 0;
    // Frames in each block of a block-coded encoding (IMA ADPCM, MS ADPCM,
    // GSM 6.10); 0 for the others.
    std::uint32_t samples_per_block = 0;
    // The sound's own frame count: a compressed sound's fact chunk where it
    // has one (it trims the padding of the last block), else what its data
    // chunk holds (whole blocks only).
    std::uint64_t frames = 0;
    std::optional<std::uint32_t> fact_frames;  // the fact chunk's, before the data chunk
    // The data chunk: where its bytes start, from the sound's first byte,
    // and the size its header gives (which may run past the sound's end).
    std::uint64_t data_offset = 0;
    std::uint32_t data_size = 0;
};

// Reads the format from the first bytes of a sound: its "fmt " chunk, any
// "fact" chunk, and the size of its "data" chunk, found by walking the
// chunks after the 12-byte RIFF header. Reads nothing past `head`. Nothing
// when the fmt or data chunk is missing from these bytes or too short, or
// the fmt chunk says 0 channels or a rate of 0; `why`, if given, then says
// which ("its fmt chunk says a rate of 0 Hz").
std::optional<WavFormat> ReadWavFormat(std::span<const std::byte> head, std::string* why = nullptr);

// IMA ADPCM, MS ADPCM and GSM 6.10: encodings whose samples come in blocks
// of block_align bytes and samples_per_block frames.
bool IsBlockCoded(WavEncoding encoding);

// The most frames the data chunk's `data_bytes` hold in this format (whole
// blocks, whole frames); nothing where the encoding does not tell (an
// unknown one, a block align of 0).
std::optional<std::uint64_t> FramesHeldBy(const WavFormat& format, std::uint64_t data_bytes);

// The encoding for scripts: "pcm_s16", "ima_adpcm", ..., or the format tag
// as "0x" and four lowercase hex digits.
std::string EncodingKey(const WavFormat& format);
// The encoding for people: "PCM", "float", "IMA ADPCM", "µ-law", ..., or
// the format tag as EncodingKey gives it.
std::string EncodingLabel(const WavFormat& format);

}  // namespace quorvel
