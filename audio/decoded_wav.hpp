#pragma once

// A stored sound served as a WAV file of its decoded samples, for a player
// that knows only PCM: 16-bit PCM for sounds of 16 bits or fewer and for
// the compressed encodings, 32-bit float for 24- and 32-bit PCM and for
// float. Its size is known once it is opened; any byte range can be read,
// and the samples are decoded as they are read, a piece at a time, so that
// memory stays one piece whatever the length of the sound.
//
//     auto wav = DecodedWav::Open(input, "sfx/sfx_0003.wav");
//     response.length = wav->Size();
//     wav->ReadAt(first, buffer);  // any offset, in any order

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "audio/sound_decoder.hpp"
#include "extract/file_system.hpp"

namespace quorvel::audio {

class DecodedWav final : public InputFile {
public:
    // Opens the stored sound held by `input` (which must outlive this) as
    // OpenSound does. Throws SoundError, also for a sound whose decoded WAV
    // would pass the 4 GiB a WAV file's sizes can say.
    static std::unique_ptr<DecodedWav> Open(InputFile& input, std::string name);
    // The same over a decoder opened already: all its frames, from the
    // first. Throws SoundError as Open does.
    explicit DecodedWav(SoundDecoder decoder);

    // The WAV file's size: its header and every decoded sample.
    std::uint64_t Size() override { return header_.size() + data_size_; }
    // Reads the WAV file's bytes from `offset` on, decoding the samples
    // they hold. Throws SoundError where the sound stops decoding, or what
    // its input throws. Safe to call from several threads (one at a time).
    std::size_t ReadAt(std::uint64_t offset, std::span<std::byte> buffer) override;

    // 16 or 32: the samples' bits (32 is float).
    int bits_per_sample() const { return float_samples_ ? 32 : 16; }
    int channels() const { return decoder_.channels(); }
    int sample_rate() const { return decoder_.sample_rate(); }
    std::int64_t frames() const { return decoder_.frames(); }
    // Where the samples start: the header's size.
    std::size_t data_offset() const { return header_.size(); }

private:
    // Decodes piece `piece` (frames piece * kPieceFrames on) into piece_,
    // unless it is there already.
    void LoadPiece(std::int64_t piece);

    SoundDecoder decoder_;
    bool float_samples_ = false;
    std::size_t frame_bytes_ = 0;
    std::uint64_t data_size_ = 0;
    std::vector<std::byte> header_;
    std::int64_t piece_index_ = -1;  // which piece piece_ holds; -1 for none
    std::vector<std::byte> piece_;   // the little-endian bytes of up to kPieceFrames frames
    std::vector<float> floats_;
    std::vector<std::int16_t> shorts_;
    std::mutex mutex_;
};

}  // namespace quorvel::audio
