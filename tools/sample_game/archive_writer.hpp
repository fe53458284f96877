#pragma once

// Writes game archives from block descriptions. An archive is a sequence of
// blocks, each a little-endian signed 32-bit length (counting itself) and
// that many bytes less 4 of payload, closed by one 4-byte field of 0.
//
// A description is small whatever the size of the block it describes:
// samples and filler bytes are generated while writing, chunk by chunk, so
// archives of several GiB need little memory. For example, a RIFF block of
// two 1 MiB sounds with 10 stray bytes between them:
//
//     RiffBlock block{.seed = 7};
//     for (std::uint64_t seed : {1, 2}) {
//         SoundParams sound{.format = kMono16Bit22050, .waveform = Waveform::kNoiseBurst, .seed = seed};
//         sound.frames = FramesForFileSize(sound.format, 1 << 20);
//         block.sounds.push_back({.sound = sound, .stray_after = seed == 1 ? 10u : 0u});
//     }
//     WriteArchive(out, std::vector<Block>{block});

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "tools/sample_game/wav_synth.hpp"

namespace quorvel::sample {

struct SoundEntry {
    SoundParams sound;
    // Seeded bytes after the sound's end; they never contain "RIFF".
    std::uint32_t stray_after = 0;
};

// One or more WAV sounds end to end; the first sound's "RIFF" is the
// block's signature. `seed` drives the stray bytes.
struct RiffBlock {
    std::vector<SoundEntry> sounds{};
    std::uint64_t seed = 0;
};

// A payload written as given: tagged, text, empty (no bytes), short (1 to
// 3 bytes) or a lone "RIFF".
struct DataBlock {
    std::vector<std::byte> payload{};
};

// A payload of `payload_size` bytes: the signature (cut short if the
// payload is shorter), then seeded filler bytes made while writing.
struct FillerBlock {
    std::array<std::byte, 4> signature{};
    std::uint32_t payload_size = 0;
    std::uint64_t seed = 0;
};

using Block = std::variant<RiffBlock, DataBlock, FillerBlock>;

// The four bytes of a signature such as "AVQF".
std::array<std::byte, 4> Signature(std::string_view four_characters);
// A DataBlock holding the bytes of `text`, e.g. TextBlock("TEXT hello").
DataBlock TextBlock(std::string_view text);

std::uint64_t PayloadSize(const Block& block);

// Streams one block's payload, without its length field, to `out`.
void WritePayload(std::ostream& out, const Block& block);

// The parts of a RIFF block's payload, in the order they are written.
enum class RiffPiece { kSound, kStrayBytes };
// The stream for sound `sound_index` of a block, or for the stray bytes after it.
using RiffPieceStream = std::function<std::ostream&(std::size_t sound_index, RiffPiece piece)>;

// Streams a RIFF block's payload piece by piece, each piece to the stream
// `stream_for` gives for it (asked for non-empty stray bytes only). The bytes
// are those WritePayload writes: a piece's bytes can depend on the bytes
// before it in the block, so pieces are made only in order.
void WriteRiffPieces(const RiffBlock& block, const RiffPieceStream& stream_for);

struct ArchiveSummary {
    std::uint64_t bytes = 0;   // the archive's length, final field included
    std::uint64_t blocks = 0;  // blocks written, final field not counted
};

// Streams the archive to `out`. Throws std::length_error for a block the
// 32-bit length cannot hold (checked before any of it is written) and
// std::ios_base::failure if the stream fails.
ArchiveSummary WriteArchive(std::ostream& out, std::span<const Block> blocks);

}  // namespace quorvel::sample
