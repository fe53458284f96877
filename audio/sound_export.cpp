#include "audio/sound_export.hpp"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>
#include <limits>
#include <utility>
#include <vector>

#include "audio/stored_sound.hpp"

namespace quorvel::audio {
namespace {

struct FormatName {
    ExportFormat format;
    std::string_view name;   // on the command line, and the extension
    std::string_view title;  // in messages
};

constexpr std::array<FormatName, 5> kFormats = {{
    {ExportFormat::kWav, "wav", "WAV"},
    {ExportFormat::kFlac, "flac", "FLAC"},
    {ExportFormat::kOgg, "ogg", "Ogg Vorbis"},
    {ExportFormat::kOpus, "opus", "Opus"},
    {ExportFormat::kMp3, "mp3", "MP3"},
}};

const FormatName& NameOf(ExportFormat format)
{
    return *std::find_if(kFormats.begin(), kFormats.end(),
                         [format](const FormatName& known) { return known.format == format; });
}

// Opus codes at 48 kHz whatever it is given; libsndfile writes it only at
// 8, 12, 16, 24 and 48 kHz, and the lower rates would cut the highs.
constexpr int kOpusRate = 48000;
// The rates of MPEG-1, 2 and 2.5 audio, the only ones an MP3 can have.
constexpr std::array<int, 9> kMp3Rates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kMostMp3Channels = 2;
constexpr int kMostFlacChannels = 8;

// Samples moved at a time, whatever the channel count: memory stays small.
constexpr std::size_t kPieceSamples = 1 << 16;
// Bytes of a sound read at a time to hash it.
// Encoders write a few kilobytes at a time; gathered, they reach the
// output in pieces this large.
constexpr std::size_t kOutputBuffer = 1 << 16;

enum class Depth { k8, k16, k24, k32, kFloat };

// A source's depth as exported: what libsndfile decodes a compressed
// encoding to is 16 bits.
Depth DepthOf(int source_sf_format)
{
    switch (source_sf_format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return Depth::k8;
        case SF_FORMAT_PCM_24:
            return Depth::k24;
        case SF_FORMAT_PCM_32:
            return Depth::k32;
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
            return Depth::kFloat;
        default:
            return Depth::k16;
    }
}

int WavEncoding(Depth depth)
{
    switch (depth) {
        case Depth::k8:
            return SF_FORMAT_PCM_U8;  // WAV's 8-bit samples are unsigned
        case Depth::k16:
            return SF_FORMAT_PCM_16;
        case Depth::k24:
            return SF_FORMAT_PCM_24;
        case Depth::k32:
            return SF_FORMAT_PCM_32;
        case Depth::kFloat:
            return SF_FORMAT_FLOAT;
    }
    return SF_FORMAT_PCM_16;
}

int FlacEncoding(Depth depth)
{
    switch (depth) {
        case Depth::k8:
            return SF_FORMAT_PCM_S8;
        case Depth::k16:
            return SF_FORMAT_PCM_16;
        default:
            return SF_FORMAT_PCM_24;
    }
}

int Mp3Rate(int sample_rate)
{
    const auto above = std::lower_bound(kMp3Rates.begin(), kMp3Rates.end(), sample_rate);
    return above == kMp3Rates.end() ? kMp3Rates.back() : *above;
}

// UTF-8 text as Latin-1, "?" for what Latin-1 lacks (and for bytes that
// are not UTF-8).
std::string Latin1(std::string_view utf8)
{
    std::string text;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t length = lead < 0x80   ? 1
                             : lead < 0xC2 ? 0
                             : lead < 0xE0 ? 2
                             : lead < 0xF0 ? 3
                             : lead < 0xF5 ? 4
                                           : 0;
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= utf8.size() || (static_cast<unsigned char>(utf8[i + k]) & 0xC0U) != 0x80U) {
                length = 0;
            }
        }
        if (length == 1) {
            text += static_cast<char>(lead);
        } else if (length == 2 && lead <= 0xC3) {
            text += static_cast<char>(((lead & 0x03U) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3FU));
        } else {
            text += '?';
        }
        i += std::max<std::size_t>(length, 1);
    }
    return text;
}

// The decoder opened for an export: the one place a sound is opened, so
// that a decoder holding a compressed sound to its own frame count can
// take its place here.
// A stored sound: checked before libsndfile sees it, and held to its own
// frame count.
SoundDecoder OpenDecoder(InputFile& sound, std::string name)
{
    return OpenSound(sound, std::move(name));
}

// libsndfile's writes, gathered and passed to an OutputFile at their
// offsets: encoders seek back to finish their headers, so the output is
// written with WriteAt alone. A failure of the output cannot cross
// libsndfile's C code: it is kept, told to libsndfile as a short write, and
// thrown once libsndfile returns.
class OutputSink {
public:
    explicit OutputSink(OutputFile& output) : output_(output) { buffer_.reserve(kOutputBuffer); }

    sf_count_t Length() const { return std::max(length_, buffer_start_ + static_cast<sf_count_t>(buffer_.size())); }
    sf_count_t Tell() const { return position_; }
    sf_count_t Seek(sf_count_t offset, int whence)
    {
        const sf_count_t base = whence == SEEK_CUR ? position_ : whence == SEEK_END ? Length() : 0;
        position_ = std::max<sf_count_t>(base + offset, 0);
        return position_;
    }
    sf_count_t Write(const void* data, sf_count_t count)
    {
        if (failure_ || count <= 0) {
            return 0;
        }
        try {
            const std::span bytes(static_cast<const std::byte*>(data), static_cast<std::size_t>(count));
            const bool follows = position_ == buffer_start_ + static_cast<sf_count_t>(buffer_.size());
            if (!follows || buffer_.size() + bytes.size() > kOutputBuffer) {
                Flush();
                buffer_start_ = position_;
            }
            if (bytes.size() > kOutputBuffer) {
                WriteAt(position_, bytes);
            } else {
                buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
            }
            position_ += count;
            return count;
        } catch (...) {
            failure_ = std::current_exception();
            return 0;
        }
    }

    // Writes what is gathered. Throws what the output threw.
    void Flush()
    {
        if (!buffer_.empty()) {
            WriteAt(buffer_start_, buffer_);
            buffer_.clear();
        }
    }
    // Throws the output's failure, if it had one.
    void ThrowFailure() const
    {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
    }

private:
    void WriteAt(sf_count_t offset, std::span<const std::byte> bytes)
    {
        if (!output_.WriteAt(static_cast<std::uint64_t>(offset), bytes)) {
            throw ExtractError(Failure{.kind = FailureKind::kNotAFile,
                                       .description = "an encoded sound needs an output it can seek in",
                                       .file = {},
                                       .offset = {}});
        }
        length_ = std::max(length_, offset + static_cast<sf_count_t>(bytes.size()));
    }

    OutputFile& output_;
    sf_count_t position_ = 0;
    sf_count_t length_ = 0;  // of what reached the output
    sf_count_t buffer_start_ = 0;
    std::vector<std::byte> buffer_;
    std::exception_ptr failure_;
};

OutputSink& SinkOf(void* user)
{
    return *static_cast<OutputSink*>(user);
}

sf_count_t SinkLength(void* user)
{
    return SinkOf(user).Length();
}

sf_count_t SinkSeek(sf_count_t offset, int whence, void* user)
{
    return SinkOf(user).Seek(offset, whence);
}

sf_count_t SinkRead(void* /*buffer*/, sf_count_t /*count*/, void* /*user*/)
{
    return 0;  // encoders only write
}

sf_count_t SinkWrite(const void* buffer, sf_count_t count, void* user)
{
    return SinkOf(user).Write(buffer, count);
}

sf_count_t SinkTell(void* user)
{
    return SinkOf(user).Tell();
}

// libsndfile writing one exported file.
class Encoder {
public:
    Encoder(OutputFile& output, const ExportTarget& target, int channels, std::string failing)
        : sink_(output), failing_(std::move(failing))
    {
        static SF_VIRTUAL_IO io{SinkLength, SinkSeek, SinkRead, SinkWrite, SinkTell};
        SF_INFO info{};
        info.samplerate = target.sample_rate;
        info.channels = channels;
        info.format = target.sf_format;
        file_ = sf_open_virtual(&io, SFM_WRITE, &info, &sink_);
        if (file_ == nullptr) {
            sink_.ThrowFailure();
            throw SoundError(failing_ + sf_strerror(nullptr));
        }
        // Floats past full scale become the loudest integer, not a wrapped one.
        sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    }
    ~Encoder()
    {
        if (file_ != nullptr) {
            sf_close(file_);
        }
    }
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Before any samples: Ogg and FLAC put their tags in front.
    void Tag(int string_type, const std::string& text)
    {
        if (!text.empty() && sf_set_string(file_, string_type, text.c_str()) != 0) {
            throw SoundError(failing_ + "its tags cannot be written: " + sf_strerror(file_));
        }
    }

    void Write(std::span<const float> samples, std::size_t frames)
    {
        Check(sf_writef_float(file_, samples.data(), Count(frames)), frames);
    }
    void Write(std::span<const std::int32_t> samples, std::size_t frames)
    {
        Check(sf_writef_int(file_, samples.data(), Count(frames)), frames);
    }

    // Finishes the file (its header, the encoder's last frames).
    void Finish()
    {
        const int error = sf_close(std::exchange(file_, nullptr));
        sink_.ThrowFailure();
        if (error != SF_ERR_NO_ERROR) {
            throw SoundError(failing_ + sf_error_number(error));
        }
        sink_.Flush();
    }

private:
    static sf_count_t Count(std::size_t frames) { return static_cast<sf_count_t>(frames); }

    // Some encoders do not tell a short write: the sink's failure is looked
    // at after every write, so that a full disk stops the export at once.
    void Check(sf_count_t written, std::size_t frames)
    {
        sink_.ThrowFailure();
        if (written != Count(frames)) {
            throw SoundError(failing_ + sf_strerror(file_));
        }
    }

    OutputSink sink_;
    std::string failing_;  // "sfx/sfx_0012.wav: cannot be exported as MP3: "
    SNDFILE* file_ = nullptr;
};

// libsoxr at its very high quality, fed interleaved floats piece by piece.
class Resampler {
public:
    Resampler(int from_rate, int to_rate, int channels, std::string failing)
        : channels_(static_cast<std::size_t>(channels)),
          out_(std::max(kPieceSamples / channels_, std::size_t{1}) * channels_),
          failing_(std::move(failing))
    {
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
        soxr_error_t error = nullptr;
        soxr_ = soxr_create(from_rate, to_rate, static_cast<unsigned>(channels), &error, &io, &quality, nullptr);
        if (error != nullptr) {
            throw SoundError(failing_ + "it cannot be resampled: " + error);
        }
    }
    ~Resampler() { soxr_delete(soxr_); }
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Resamples `frames` frames of `in` (none: the end, flushing what is
    // held back), giving each piece made to `encoder`.
    void Feed(std::span<const float> in, std::size_t frames, Encoder& encoder)
    {
        const std::size_t out_frames = out_.size() / channels_;
        std::size_t used = 0;
        for (;;) {
            std::size_t taken = 0;
            std::size_t made = 0;
            const float* from = frames == 0 ? nullptr : in.data() + used * channels_;
            const soxr_error_t error = soxr_process(soxr_, from, frames - used, &taken, out_.data(), out_frames, &made);
            if (error != nullptr || (frames != 0 && taken == 0 && made == 0)) {
                throw SoundError(failing_ +
                                 "it cannot be resampled: " + (error != nullptr ? error : "libsoxr is stuck"));
            }
            used += taken;
            if (made != 0) {
                encoder.Write(out_, made);
            }
            if ((frames != 0 && used == frames) || (frames == 0 && made == 0)) {
                return;
            }
        }
    }

private:
    std::size_t channels_;
    std::vector<float> out_;
    std::string failing_;
    soxr_t soxr_ = nullptr;
};

}  // namespace

std::optional<ExportFormat> ExportFormatNamed(std::string_view name)
{
    for (const FormatName& known : kFormats) {
        if (known.name == name) {
            return known.format;
        }
    }
    return std::nullopt;
}

std::string_view ExtensionOf(ExportFormat format)
{
    return NameOf(format).name;
}

ExportTarget TargetFor(ExportFormat format, int source_sf_format, int sample_rate)
{
    const Depth depth = DepthOf(source_sf_format);
    switch (format) {
        case ExportFormat::kWav:
            return {.sf_format = SF_FORMAT_WAV | WavEncoding(depth),
                    .sample_rate = sample_rate,
                    .integer_samples = depth != Depth::kFloat};
        case ExportFormat::kFlac:
            return {.sf_format = SF_FORMAT_FLAC | FlacEncoding(depth),
                    .sample_rate = sample_rate,
                    .integer_samples = depth != Depth::kFloat};
        case ExportFormat::kOgg:
            return {
                .sf_format = SF_FORMAT_OGG | SF_FORMAT_VORBIS, .sample_rate = sample_rate, .integer_samples = false};
        case ExportFormat::kOpus:
            return {.sf_format = SF_FORMAT_OGG | SF_FORMAT_OPUS, .sample_rate = kOpusRate, .integer_samples = false};
        case ExportFormat::kMp3:
            return {.sf_format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III,
                    .sample_rate = Mp3Rate(sample_rate),
                    .integer_samples = false};
    }
    return {};
}

SoundExport SoundExport::Open(InputFile& sound, std::string name, ExportFormat format)
{
    SoundDecoder decoder = OpenDecoder(sound, std::move(name));
    const ExportTarget target = TargetFor(format, decoder.sf_format(), decoder.sample_rate());
    const int most = format == ExportFormat::kMp3    ? kMostMp3Channels
                     : format == ExportFormat::kFlac ? kMostFlacChannels
                                                     : std::numeric_limits<int>::max();
    if (decoder.channels() > most) {
        throw SoundError(decoder.name() + ": cannot be exported as " + std::string(NameOf(format).title) +
                         ": it holds " + std::to_string(most) + " channels at most, and the sound has " +
                         std::to_string(decoder.channels()));
    }
    return SoundExport(std::move(decoder), format, target);
}

SoundExport::SoundExport(SoundDecoder decoder, ExportFormat format, ExportTarget target)
    : decoder_(std::move(decoder)), format_(format), target_(target)
{
}
SoundExport::SoundExport(SoundExport&&) noexcept = default;
SoundExport& SoundExport::operator=(SoundExport&&) noexcept = default;
SoundExport::~SoundExport() = default;

namespace {

template <typename Sample, typename Give>
void Pump(SoundDecoder& decoder, const std::function<void(std::int64_t)>& progress, Give give)
{
    const auto channels = static_cast<std::size_t>(decoder.channels());
    std::vector<Sample> piece(std::max(kPieceSamples / channels, std::size_t{1}) * channels);
    std::int64_t done = 0;
    while (const std::size_t got = decoder.Read(std::span(piece))) {
        give(std::span<const Sample>(piece).first(got * channels), got);
        done += static_cast<std::int64_t>(got);
        progress(done);
    }
}

}  // namespace

void SoundExport::WriteTo(OutputFile& output, const ExportTags& tags, const std::function<void(std::int64_t)>& progress)
{
    const std::string failing =
        decoder_.name() + ": cannot be exported as " + std::string(NameOf(format_).title) + ": ";
    Encoder encoder(output, target_, decoder_.channels(), failing);
    const bool latin1 = format_ == ExportFormat::kMp3;
    encoder.Tag(SF_STR_TITLE, latin1 ? Latin1(tags.title) : tags.title);
    encoder.Tag(SF_STR_COMMENT, latin1 ? Latin1(tags.comment) : tags.comment);
    if (target_.integer_samples) {
        Pump<std::int32_t>(decoder_, progress, [&](std::span<const std::int32_t> samples, std::size_t frames) {
            encoder.Write(samples, frames);
        });
    } else if (target_.sample_rate != decoder_.sample_rate()) {
        Resampler resampler(decoder_.sample_rate(), target_.sample_rate, decoder_.channels(), failing);
        Pump<float>(decoder_, progress, [&](std::span<const float> samples, std::size_t frames) {
            resampler.Feed(samples, frames, encoder);
        });
        resampler.Feed({}, 0, encoder);
    } else {
        Pump<float>(decoder_, progress,
                    [&](std::span<const float> samples, std::size_t frames) { encoder.Write(samples, frames); });
    }
    encoder.Finish();
}

}  // namespace quorvel::audio
