#pragma once

// Samples encoded by libsndfile into a TemporaryStore, as a WAV in a
// target's encoding. Only its data (and the format chunk the encoder wrote
// for it) is used: the replacement's header is the replaced sound's own.
// libsndfile seeks back to finish a WAV header, so it writes to a store it
// can seek in rather than to the destination; the destination then gets
// the data once, after the report is made.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "audio/sound_formats.hpp"
#include "audio/temporary_store.hpp"

namespace quorvel::audio {

class SoundEncoder {
public:
    // `peak_chunk`: whether the encoder writes a "PEAK" chunk for float data.
    // Throws SoundError (naming `name`) if libsndfile will not write the
    // target's encoding with these channels.
    SoundEncoder(TemporaryStore& store, const TargetFormat& target, int channels, bool peak_chunk, std::string name);
    SoundEncoder(SoundEncoder&&) noexcept;
    SoundEncoder& operator=(SoundEncoder&&) noexcept;
    ~SoundEncoder();

    // Writes interleaved frames multiplied by `gain`. Where the target is
    // integers, each sample is rounded to the target's depth, with
    // triangular (TPDF) dither of one step unless `dither` is false (for
    // samples already on that grid, which rounding keeps exactly).
    void Write(std::span<const float> frames, float gain, bool dither);
    // Completes the WAV (libsndfile writes its header). Throws SoundError.
    void Finish();

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace quorvel::audio
