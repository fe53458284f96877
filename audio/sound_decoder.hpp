#pragma once

// A sound's samples, decoded by libsndfile straight from where its bytes
// lie (a listed file of an archive, an extracted file, an upload), through
// libsndfile's virtual I/O over the core's InputFile: no temporary file.
//
//     SoundDecoder sound = SoundDecoder::Open(input, "sfx/sfx_0003.wav");
//     std::vector<float> frames(4096 * sound.channels());
//     while (std::size_t got = sound.Read(frames)) { ... }

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>

#include "extract/file_system.hpp"

namespace quorvel::audio {

// A sound that cannot be decoded: the message names it and says why
// ("sfx/sfx_0003.wav: cannot be decoded: ...").
class SoundError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class SoundDecoder {
public:
    // Opens the sound held by `input` (which must outlive the decoder);
    // `name` names it in errors. Throws SoundError.
    static SoundDecoder Open(InputFile& input, std::string name);
    // The same over an input the decoder keeps.
    static SoundDecoder Open(std::unique_ptr<InputFile> input, std::string name);

    SoundDecoder(SoundDecoder&&) noexcept;
    SoundDecoder& operator=(SoundDecoder&&) noexcept;
    ~SoundDecoder();

    int channels() const;
    int sample_rate() const;
    // The frames that Read gives in all.
    std::int64_t frames() const;
    // libsndfile's SF_FORMAT_* of what was opened (container | encoding).
    int sf_format() const;
    const std::string& name() const;

    // Decoding stops after `frames` frames even where the decoder would
    // give more: a compressed sound's own count (its fact chunk) is what it
    // holds, and a decoder that ignores it pads up to a block.
    void LimitFrames(std::int64_t frames);

    // Reads the next frames, interleaved, as many as fit whole in `out`;
    // 0 at the end. Floats lie in [-1, 1] (a float sound's as they are);
    // 16-bit samples are libsndfile's own conversion, a float sound's
    // clipped to full scale and rounded. Throws SoundError, or what the input throws (an
    // ExtractError of the archive).
    std::size_t Read(std::span<float> out);
    std::size_t Read(std::span<std::int16_t> out);
    // Integer samples at the top of 32 bits: every bit of PCM up to 32 bits
    // comes through unchanged, for copies that must be exact.
    std::size_t Read(std::span<std::int32_t> out);
    // Goes to frame `frame` (at most frames()). Where libsndfile cannot
    // seek the encoding (GSM 6.10, G.721: each frame depends on all before
    // it), the frames in between are decoded, from the start when going
    // back. Throws SoundError, or what the input throws.
    void Seek(std::int64_t frame);

    struct State;  // libsndfile's handle and the reading position

private:
    explicit SoundDecoder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace quorvel::audio
