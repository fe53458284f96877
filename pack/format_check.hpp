#pragma once

// A sound put in the folder by hand, in another format than the archived
// sound it replaces (another rate, channel count or encoding), is packed
// as it is, and the game may play it too fast, as noise or not at all: the
// pack names each such sound, with the way to fit it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "extract/wav_format.hpp"

namespace quorvel {

// What of a sound's format a game depends on to play it.
struct SoundFormat {
    WavEncoding encoding = WavEncoding::kOther;
    std::uint16_t format_tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sample_rate = 0;
    std::uint16_t bits_per_sample = 0;
    std::uint16_t block_align = 0;

    static std::optional<SoundFormat> Of(std::span<const std::byte> head);
    bool operator==(const SoundFormat&) const = default;
    // "1 ch, 22050 Hz, IMA ADPCM"; "2 ch, 44100 Hz, 16-bit PCM".
    std::string Describe() const;
};

// A sound of the folder whose format is not its archived sound's.
struct FormatChange {
    std::string path;  // as a path one can open from where the command ran
    SoundFormat archived;
    std::optional<SoundFormat> now;  // nothing: not a sound whose format can be read
    std::string listed;              // "sfx/sfx_0003.wav", for --replace
};

// The warning for one: what differs and how to fit it.
std::string DescribeFormatChange(const FormatChange& change);

}  // namespace quorvel
