#pragma once

// A new sound made to fit the archived sound it replaces, in one step:
//
//     InputSlice archived(archive, entry.offset, entry.size);   // where the sound lies (input_slice.hpp)
//     FittedSound fitted = FittedSound::Fit(archived, "sfx/sfx_0012.wav", upload, "door.mp3");
//     std::cout << fitted.report().Text();      // before anything is written
//     fitted.WriteTo(output);                    // any OutputFile: a file, an archive being packed,
//     output.Close();                            // or a MemoryOutput for a dry run
//
// The new sound may be anything libsndfile reads (WAV of every encoding,
// FLAC, Ogg Vorbis, Opus, MP3, AIFF, ...). It comes out in exactly the
// archived sound's format: its rate (libsoxr, very high quality), its
// channels (see channel_mix.hpp), its encoding and depth, its header (the
// archived "fmt " chunk itself, so the tag, an extensible header's mask and
// sub-format, and an ADPCM block layout stay), and its other chunks (loop
// and cue points at their frames, see wav_markers.hpp; chunks the tool does
// not know, unchanged). Its loudness is matched to the archived sound's as
// measured on what is stored (see loudness.hpp), with a gain held down
// where it would take the true peak over the higher of the archived sound's
// and -1 dBTP. It keeps its own length unless asked to fit the archived
// sound's.
//
// Memory stays bounded whatever the length: the sound is streamed through
// the resampler and the encoder into temporary stores (temporary_store.hpp)
// that spill to a temporary file past a few MiB.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/replacement_report.hpp"
#include "extract/file_system.hpp"

namespace quorvel::audio {

struct ReplacementOptions {
    // Leave the new sound's level as it is. A new sound already in exactly
    // the archived sound's format then goes in byte for byte.
    bool keep_loudness = false;
    // Trim the new sound (with a 10 ms fade) or pad it with silence to the
    // archived sound's length.
    bool fit_length = false;
};

class FittedSound {
public:
    // Fits the sound in `replacement` to the archived sound in `archived`
    // (each holding one sound's bytes from offset 0; both are read only
    // during the call). The names are the ones messages and the report use.
    // Throws SoundError: an archived header that lies or a format no
    // encoder writes, a new sound that cannot be decoded, a temporary file
    // that cannot be written.
    static FittedSound Fit(InputFile& archived, const std::string& archived_name, InputFile& replacement,
                           const std::string& replacement_name, const ReplacementOptions& options = {});

    FittedSound(FittedSound&&) noexcept;
    FittedSound& operator=(FittedSound&&) noexcept;
    ~FittedSound();

    const ReplacementReport& report() const;
    // The bytes WriteTo writes.
    std::uint64_t size() const;
    // Writes the fitted sound's bytes to `out`, and nothing else: closing
    // (or abandoning, on a failure) is the caller's, so that the bytes can
    // also go into the middle of a larger file. Throws what `out` throws,
    // or SoundError if the temporary store cannot be read back.
    void WriteTo(OutputFile& out);

    struct State;

private:
    explicit FittedSound(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// An output that keeps its bytes in memory: the converted bytes for a dry
// run, without writing into the game's folder.
class MemoryOutput final : public OutputFile {
public:
    void Write(std::span<const std::byte> bytes) override { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }
    void Close() override {}
    void Abandon() noexcept override { bytes_.clear(); }
    const std::vector<std::byte>& bytes() const { return bytes_; }

private:
    std::vector<std::byte> bytes_;
};

}  // namespace quorvel::audio
