#pragma once

// A sound decoded and encoded again in a format players take: WAV, FLAC,
// Ogg Vorbis, Opus or MP3, written through the core's OutputFile.
//
//     SoundExport sound = SoundExport::Open(input, "sfx/sfx_0012.wav", ExportFormat::kFlac);
//     sound.WriteTo(*output, {.title = "door creak", .comment = "..."}, [](std::int64_t) {});
//
// Samples stream through in pieces: memory does not grow with a sound.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "audio/sound_decoder.hpp"
#include "extract/file_system.hpp"

namespace quorvel::audio {

enum class ExportFormat { kWav, kFlac, kOgg, kOpus, kMp3 };

// "wav", "flac", "ogg", "opus", "mp3": the name on the command line, which
// is also the exported files' extension.
std::optional<ExportFormat> ExportFormatNamed(std::string_view name);
std::string_view ExtensionOf(ExportFormat format);

// What a sound becomes in a format.
struct ExportTarget {
    int sf_format = 0;    // libsndfile's SF_FORMAT_*: container | encoding
    int sample_rate = 0;  // the source's, unless the format cannot hold it
    // Samples go across as integers (every bit of PCM kept), else as floats:
    // those of float sources too, since libsndfile scales integers read
    // from a float file to its peak.
    bool integer_samples = false;
};

// The rules, from the source's libsndfile format and rate:
//   wav   integer PCM of the source's depth, or 32-bit float for float;
//   flac  the source's depth, 24 bits for 32-bit and float sources (the
//         most FLAC holds);
//   ogg   Vorbis;
//   opus  at 48 kHz, the rate Opus codes at;
//   mp3   at the source's rate where MPEG audio has it, else at the
//         nearest rate above it (48 kHz above 48 kHz).
// Compressed sources (ADPCM, GSM 6.10, mu-law, A-law, G.721) decode to 16
// bits, and so export as 16-bit where the format has a depth.
ExportTarget TargetFor(ExportFormat format, int source_sf_format, int sample_rate);

// An exported file's tags: where it came from, so that it can be traced
// back. UTF-8; an MP3's are Latin-1, as libsndfile writes ID3 text, so
// characters beyond it become "?" there.
struct ExportTags {
    std::string title;    // the sound's label; none when empty
    std::string comment;  // the listed path and the content hash
};

class SoundExport {
public:
    // Opens the sound held by `sound` (which must outlive this) for export
    // as `format`. Throws SoundError when it cannot be decoded, or when the
    // format cannot hold it (MP3 holds one or two channels, FLAC up to 8).
    static SoundExport Open(InputFile& sound, std::string name, ExportFormat format);

    SoundExport(SoundExport&&) noexcept;
    SoundExport& operator=(SoundExport&&) noexcept;
    ~SoundExport();

    const ExportTarget& target() const { return target_; }
    // The source's frames, which WriteTo's progress counts towards.
    std::int64_t frames() const { return decoder_.frames(); }

    // Decodes the whole sound and writes it, encoded, to `output` (written
    // with WriteAt alone; not closed). `progress` hears the source frames
    // done after each piece, and may throw to stop. Throws SoundError when
    // decoding or encoding fails, ExtractError when the output does.
    void WriteTo(OutputFile& output, const ExportTags& tags, const std::function<void(std::int64_t)>& progress);

private:
    SoundExport(SoundDecoder decoder, ExportFormat format, ExportTarget target);

    SoundDecoder decoder_;
    ExportFormat format_;
    ExportTarget target_;
};

}  // namespace quorvel::audio
