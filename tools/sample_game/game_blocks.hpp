#pragma once

// The blocks of generated games, described in a few numbers each, and the
// archive-builder parts that make their bytes. A description is small
// whatever the size of the block it describes: samples and filler bytes are
// made as they are read, chunk by chunk, so archives of several GiB need
// little memory. For example, a RIFF block of two 1 MiB sounds with 10
// stray bytes between them:
//
//     RiffBlock block{.seed = 7};
//     for (std::uint64_t seed : {1, 2}) {
//         SoundParams sound{.format = kMono16Bit22050, .waveform = Waveform::kNoiseBurst, .seed = seed};
//         sound.frames = FramesForFileSize(sound.format, 1 << 20);
//         block.sounds.push_back({.sound = sound, .stray_after = seed == 1 ? 10u : 0u});
//     }
//     GameArchive(std::vector<Block>{block}).WriteTo(out);

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

#include "testing/archive_builder.hpp"
#include "testing/prng.hpp"
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
// payload is shorter), then seeded filler bytes.
struct FillerBlock {
    std::array<std::byte, 4> signature{};
    std::uint32_t payload_size = 0;
    std::uint64_t seed = 0;
};

using Block = std::variant<RiffBlock, DataBlock, FillerBlock>;

// The four bytes of a signature such as "AVQF".
std::array<std::byte, 4> Signature(std::string_view four_characters);
// A FillerBlock of the signature and size, its seed drawn from `random`.
FillerBlock Filler(std::string_view signature, std::uint64_t payload_size, testing::SplitMix64& random);
// A DataBlock holding the bytes of `text`, e.g. TextBlock("TEXT hello").
DataBlock TextBlock(std::string_view text);

std::uint64_t PayloadSize(const RiffBlock& block);
std::uint64_t PayloadSize(const DataBlock& block);
std::uint64_t PayloadSize(const FillerBlock& block);
std::uint64_t PayloadSize(const Block& block);
testing::Part PayloadPart(const Block& block);

// The blocks, then the final field. Throws std::length_error for a block
// the 32-bit length cannot hold.
testing::Archive GameArchive(std::span<const Block> blocks);

}  // namespace quorvel::sample
