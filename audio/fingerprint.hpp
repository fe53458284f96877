#pragma once

// A sound's fingerprint by landmarks, to find a short clip of it again by
// ear: the sound is mixed to mono and brought to kFingerprintRate, its
// short-time spectrum taken (kissfft), and in it the local peaks kept: the
// strongest points of a neighbourhood of time and frequency, which noise,
// a change of gain, a coarse encoding or another rate leave where they
// were. Each peak (an anchor) is paired with a few peaks shortly after it,
// and each pair gives a 32-bit hash of the two frequencies and the time
// between them, kept with the anchor's frame. A sine that sweeps (a
// whistle, an engine, a rising alarm) has no such peaks that noise leaves
// alone, so its line is followed from frame to frame, and the moments it
// crosses the centre of a bin are paired in the same way, under hashes of
// their own. A clip's hashes that come back at one steady offset in a
// sound are that sound, and the offset is where the clip lies in it
// (audio/sound_search.hpp).
//
// Streamed: samples go in by pieces of any size, and the fingerprinter
// holds only a few frames of spectrum and the peaks still waiting for their
// targets, whatever the length of the sound.
//
//     Fingerprinter fingerprinter(decoder.sample_rate(), decoder.channels());
//     while (std::size_t got = decoder.Read(piece)) fingerprinter.Add(piece.first(got));
//     std::vector<Landmark> landmarks = fingerprinter.Finish();

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/sound_decoder.hpp"

namespace quorvel::audio {

// The rate a sound is fingerprinted at: up to 5.5 kHz is where a sound's
// tones lie, and fewer samples make the spectrum cheap.
inline constexpr int kFingerprintRate = 11025;
// Samples of one spectrum (93 ms) and between two (23 ms): a frame.
inline constexpr int kFingerprintWindow = 1024;
inline constexpr int kFingerprintHop = 256;

// The seconds of `frames` fingerprint frames.
inline double FingerprintSeconds(std::int64_t frames)
{
    return static_cast<double>(frames) * kFingerprintHop / kFingerprintRate;
}

struct Landmark {
    std::uint32_t hash = 0;   // the pair: anchor's bin, target's bin, frames between
    std::uint32_t frame = 0;  // the anchor's frame
    bool operator==(const Landmark&) const = default;
};

class Fingerprinter {
public:
    // Throws SoundError if the rate cannot be brought to kFingerprintRate.
    Fingerprinter(int sample_rate, int channels);
    Fingerprinter(Fingerprinter&&) noexcept;
    Fingerprinter& operator=(Fingerprinter&&) noexcept;
    ~Fingerprinter();

    // Takes interleaved frames of the sound, in order.
    void Add(std::span<const float> interleaved);
    // The landmarks of the whole sound, once its last frames are in: the
    // peaks' and the crossings', each in the order of their anchors.
    std::vector<Landmark> Finish();
    // Landmarks ready so far, taken away (for a caller that keeps them
    // elsewhere as they come); Finish gives the rest.
    std::vector<Landmark> TakeReady();

    struct State;

private:
    std::unique_ptr<State> state_;
};

// The fingerprint of a sound read to its end by `decoder`. Throws
// SoundError, or what the decoder's input throws.
std::vector<Landmark> FingerprintSound(SoundDecoder& decoder);

}  // namespace quorvel::audio
