#pragma once

// A sound as the archives store it, opened for decoding: its own header
// (the listing's parse, extract/wav_format.hpp) is read and checked first,
// so that a damaged one is refused before libsndfile allocates for what it
// says, and decoding stops at the sound's own frame count.
//
//     SoundDecoder sound = OpenSound(input, "sfx/sfx_0003.wav");
//     // sound.frames() is the listing's frame count

#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/sound_decoder.hpp"
#include "extract/file_system.hpp"
#include "extract/wav_format.hpp"

namespace quorvel::audio {

// The most channels a stored sound is decoded with: more is a damaged
// header, and libsndfile allocates for every channel it is told of.
inline constexpr std::uint32_t kMostChannels = 32;
// The highest rate decoded: 768 kHz is the highest any audio device plays.
inline constexpr std::uint32_t kHighestRate = 768000;
// How much of a sound's start its header is looked for in.
inline constexpr std::size_t kHeaderBytes = 0x10000;

// Reads the header of the sound held by `input` and checks that it can be
// decoded as it says: a RIFF WAVE file of an encoding libsndfile decodes,
// at most kMostChannels channels (1 or 2 for ADPCM, 1 for GSM 6.10 and
// G.721), a rate of 1 Hz to kHighestRate, a block align and samples per
// block that fit each other, a data chunk that the file holds whole, and a
// fact chunk that asks no more frames than the data holds. Throws
// SoundError naming `name` and what is wrong.
WavFormat ReadSoundHeader(InputFile& input, const std::string& name);

// Opens the sound held by `input` (which must outlive the decoder) for
// decoding, checked as ReadSoundHeader checks it, and held to the frame
// count of its header: frames() is the listing's count. libsndfile is shown
// only its fmt, fact and data chunks: the other chunks a sound may carry
// (text, cue points, loops) and anything after its samples are hidden from
// it. Throws SoundError, also where libsndfile reads the header otherwise
// (another channel count, rate, or fewer frames).
SoundDecoder OpenSound(InputFile& input, std::string name);

}  // namespace quorvel::audio
