#pragma once

// How a replacement's channels become the channels of the sound it
// replaces. Every rule goes through a stereo pair, so that there is one rule
// per direction rather than one per pair of counts:
//
// - the same count: unchanged;
// - into the pair: mono into both sides; two channels as they are; more
//   channels folded down as ITU-R BS.775 does (left-side channels into the
//   left, right-side into the right, centre ones into both at -3 dB, the LFE
//   left out), the sides known from the input's container: Vorbis order for
//   Ogg Vorbis and Opus, the WAVE order for every other;
// - out of the pair: mono takes the mean of the two (it keeps a centred
//   sound's level and cannot clip); two channels as they are; more channels
//   take the pair in their front left and right and are silent elsewhere.
//
// Loudness is matched after the mix, so the rule only decides what is heard
// where, never how loud.

#include <cstddef>
#include <span>
#include <string>
#include <vector>

namespace quorvel::audio {

enum class ChannelOrder {
    kWave,    // WAV, FLAC, AIFF, MP3, ...: front left, right, centre, LFE, back left, right, ...
    kVorbis,  // Ogg Vorbis, Opus: left, centre, right, ...
};

class ChannelMix {
public:
    ChannelMix(int from, int to, ChannelOrder order);

    int from() const { return from_; }
    int to() const { return to_; }
    bool identity() const { return identity_; }
    // Mixes `frames` interleaved frames of `from` channels into `out` (resized
    // to frames * to).
    void Apply(std::span<const float> in, std::size_t frames, std::vector<float>& out) const;
    // How much of input channel `input` goes into output channel `output`.
    float Weight(int output, int input) const { return matrix_[static_cast<std::size_t>(output * from_ + input)]; }
    // The rule in words, for the report ("stereo to mono: the mean of the two").
    std::string Describe() const;

private:
    int from_;
    int to_;
    bool identity_;
    std::vector<float> matrix_;  // to rows of from weights
};

}  // namespace quorvel::audio
