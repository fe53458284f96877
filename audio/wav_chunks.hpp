#pragma once

// The chunks of a RIFF/WAVE sound, walked from its bytes through an
// InputFile, and what its "fmt " chunk says. A replacement is written in the
// header of the sound it replaces, so this walk reads every header the
// archives hold, and trusts none of it: every size is checked against the
// bytes that are there, the number of chunks is bounded, and a header that
// lies is refused with a SoundError naming the offset and what was expected.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "extract/file_system.hpp"

namespace quorvel::audio {

// The WAVE format tags of the encodings games store.
namespace wave_tag {
inline constexpr std::uint16_t kPcm = 0x0001;
inline constexpr std::uint16_t kMsAdpcm = 0x0002;
inline constexpr std::uint16_t kFloat = 0x0003;
inline constexpr std::uint16_t kAlaw = 0x0006;
inline constexpr std::uint16_t kUlaw = 0x0007;
inline constexpr std::uint16_t kImaAdpcm = 0x0011;
inline constexpr std::uint16_t kGsm610 = 0x0031;
inline constexpr std::uint16_t kG721 = 0x0040;
inline constexpr std::uint16_t kExtensible = 0xFFFE;
}  // namespace wave_tag

// A header never needs more: a sound holds a handful of chunks, and more
// channels than this are a damaged header, not a sound.
inline constexpr std::size_t kMaxChunks = 1024;
inline constexpr std::uint16_t kMaxChannels = 64;
inline constexpr std::uint32_t kMaxSampleRate = 768000;

struct WavChunk {
    std::array<char, 4> id{};
    std::uint64_t offset = 0;  // of the payload, past the chunk's 8-byte header
    std::uint32_t size = 0;    // of the payload, without the pad byte

    bool Is(std::string_view four) const { return std::string_view(id.data(), id.size()) == four; }
    // The id as text, or in hex where it is not printable ASCII.
    std::string Name() const;
};

struct WavFmt {
    std::uint16_t tag = 0;       // as written: wave_tag::kExtensible for an extensible header
    std::uint16_t encoding = 0;  // the tag, or an extensible header's sub-format (0: not a known one)
    std::uint16_t channels = 0;
    std::uint32_t sample_rate = 0;
    std::uint32_t byte_rate = 0;
    std::uint16_t block_align = 0;
    std::uint16_t bits = 0;        // per sample as stored
    std::uint16_t valid_bits = 0;  // that carry the signal: an extensible header's own count, else `bits`
    std::uint32_t channel_mask = 0;
    std::uint16_t samples_per_block = 0;  // ADPCM and GSM 6.10: frames in one block; 0 where none is written
    std::vector<std::byte> bytes;         // the payload as written

    bool extensible() const { return tag == wave_tag::kExtensible; }
    // Exactly the same format: every field but the byte rate, which follows
    // from the others.
    bool SameShape(const WavFmt& other) const;
    // Same encoding, channels and blocks: data written for one is data for
    // the other, whatever either header says of the rate.
    bool SameBlockLayout(const WavFmt& other) const;
};

struct WavLayout {
    std::vector<WavChunk> chunks;  // in file order
    std::size_t fmt_chunk = 0;     // indices into `chunks`
    std::size_t data_chunk = 0;
    WavFmt fmt;
    std::optional<std::uint32_t> fact_frames;

    const WavChunk& data() const { return chunks[data_chunk]; }
    // The frames the sound holds: a compressed sound's fact chunk where it
    // has one (a decoder pads up to a whole block), else what its data
    // chunk holds in whole blocks, or nothing when that depends on the codec.
    std::optional<std::int64_t> Frames() const;
};

// Walks the chunks of the sound `input` holds. `name` names it in errors.
// Throws SoundError for anything but a RIFF/WAVE sound whose chunks lie
// inside it, with one "fmt " and one "data" chunk and a usable format.
WavLayout ReadWavLayout(InputFile& input, const std::string& name);

// Reads what a "fmt " chunk's payload says; `where` ("x.wav: the "fmt "
// chunk at offset 12") starts any error. Throws SoundError.
WavFmt ParseWavFmt(std::span<const std::byte> payload, const std::string& where);

// The payload of `chunk`, which must be one of a layout of `input`. Throws
// SoundError when the bytes cannot be read.
std::vector<std::byte> ReadChunkPayload(InputFile& input, const WavChunk& chunk, const std::string& name);

// Little-endian fields, as RIFF writes them.
std::uint32_t LoadLe(std::span<const std::byte> bytes, std::size_t at, std::size_t width);
void StoreLe(std::span<std::byte> bytes, std::size_t at, std::size_t width, std::uint32_t value);

}  // namespace quorvel::audio
