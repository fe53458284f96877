#pragma once

// The inputs of the whole-program benchmarks (bench/run.sh), profiles of the
// sample generator. Each is scaled by one number, so run.sh can ask for the
// full sizes or small ones for a quick run.

#include <cstdint>

#include "tools/sample_game/profiles.hpp"

namespace quorvel::sample {

inline constexpr std::uint64_t kMiB = 1 << 20;

// A game folder of about `total_bytes`: thousands of sounds of 2 KiB to
// 20 MiB, in every encoding a game stores where libsndfile is built in
// (SoundFormats()), mostly several to a RIFF block, with stray bytes,
// tagged and other blocks; about a fifth of it is speech.
GameContent RealisticGame(std::uint64_t total_bytes, std::uint64_t seed);

// One RIFF block holding a single sound of `sound_bytes`, followed by
// five-twelfths as much again in ordinary blocks: 1.5 GiB makes sfx.pak
// larger than 2 GiB.
GameContent HugeSound(std::uint64_t sound_bytes, std::uint64_t seed);

// `blocks` tiny blocks of every kind: empty, 1 to 3 bytes, tagged, text and
// one-sound RIFF blocks.
GameContent TinyBlocks(std::uint64_t blocks, std::uint64_t seed);

// The search's worst case, about `total_bytes` of it: RIFF blocks of 1 MiB,
// each 16 sounds of 64 KiB whose samples are "RIF" repeated, with a
// "RIFF" of another form type every 200 to 400 bytes that must be judged
// and kept inside its sound.
GameContent SearchWorstCase(std::uint64_t total_bytes, std::uint64_t seed);

// sfx.pak with one RIFF block holding one sound of `sound_bytes`.
GameContent SingleSound(std::uint64_t sound_bytes, std::uint64_t seed);

}  // namespace quorvel::sample
