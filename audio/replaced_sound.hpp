#pragma once

// The archived sound a replacement is fitted to, read once and checked
// before any work is done: its header (which becomes the replacement's),
// the chunks carried over, the format the replacement is written in, and
// its length and loudness as stored.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/loudness.hpp"
#include "audio/replacement_report.hpp"
#include "audio/sound_decoder.hpp"
#include "audio/sound_formats.hpp"
#include "audio/wav_chunks.hpp"

namespace quorvel::audio {

struct ReplacedSound {
    std::string name;
    WavLayout layout;
    std::vector<std::vector<std::byte>> payloads;  // every chunk's but the data's, in the layout's order
    TargetFormat target;
    SoundSummary summary;  // its frames and loudness as stored
};

// Throws SoundError for a header that lies, a format no encoder writes, or
// more than 4 MiB of chunks around the data.
ReplacedSound ReadReplacedSound(InputFile& file, const std::string& name);

struct MeasuredSound {
    std::int64_t frames = 0;
    Loudness loudness;  // with the true peak
};

// Reads `sound` to its end through a meter at `meter_rate` (an encoder may
// have been opened at another rate than the sound's own).
MeasuredSound MeasureSound(SoundDecoder& sound, int meter_rate);

// Opens a sound for decoding, held to its own frame count where `layout`
// (its WAV header, if it has one) gives one.
SoundDecoder OpenHeldToItsLength(InputFile& file, const std::string& name, const std::optional<WavLayout>& layout);

// "x.wav: the "smpl" chunk at offset 36", to start a message.
std::string ChunkWhere(const std::string& name, const WavChunk& chunk);

}  // namespace quorvel::audio
