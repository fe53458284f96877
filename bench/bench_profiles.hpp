#pragma once

// The inputs of the whole-program benchmarks, described with the sample
// game generator's blocks. Each profile is scaled by one number, so run.sh
// can ask for the full sizes or small ones for a quick run.

#include <cstdint>
#include <optional>
#include <string_view>

#include "tools/sample_game/profiles.hpp"

namespace quorvel::bench {

inline constexpr std::uint64_t kMiB = 1 << 20;

// A game folder of about `total_bytes`: thousands of sounds of 2 KiB to
// 20 MiB, mostly several to a RIFF block, with stray bytes, tagged and
// other blocks; about a fifth of it is speech.
sample::GameContent RealisticGame(std::uint64_t total_bytes, std::uint64_t seed);

// One RIFF block holding a single sound of `sound_bytes`, followed by
// five-twelfths as much again in ordinary blocks: 1.5 GiB makes sfx.pak
// larger than 2 GiB.
sample::GameContent HugeSound(std::uint64_t sound_bytes, std::uint64_t seed);

// `blocks` tiny blocks of every kind: empty, 1 to 3 bytes, tagged, text and
// one-sound RIFF blocks.
sample::GameContent TinyBlocks(std::uint64_t blocks, std::uint64_t seed);

// The search's worst case, about `total_bytes` of it: RIFF blocks of 1 MiB,
// each 16 sounds of 64 KiB whose samples are "RIF" repeated, with a
// "RIFF" of another form type every 200 to 400 bytes that must be judged
// and kept inside its sound.
sample::GameContent SearchWorstCase(std::uint64_t total_bytes, std::uint64_t seed);

// sfx.pak with one RIFF block holding one sound of `sound_bytes`.
sample::GameContent SingleSound(std::uint64_t sound_bytes, std::uint64_t seed);

// The profile of that name, built at `size` (bytes, or blocks for
// "tiny-blocks"); nothing for an unknown name.
std::optional<sample::GameContent> MakeBenchInput(std::string_view profile, std::uint64_t size, std::uint64_t seed);

}  // namespace quorvel::bench
