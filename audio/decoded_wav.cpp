#include "audio/decoded_wav.hpp"

#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "audio/stored_sound.hpp"

namespace quorvel::audio {
namespace {

// Frames decoded at a time: reads in order decode each frame once, and a
// read anywhere decodes at most one piece it does not use.
constexpr std::int64_t kPieceFrames = 8192;

constexpr std::uint16_t kPcmTag = 1;
constexpr std::uint16_t kFloatTag = 3;

// Sources with more than 16 bits to give are served as float, so that
// nothing they hold is lost; the rest as 16-bit PCM, which every player
// plays.
bool ServedAsFloat(int sf_format)
{
    switch (sf_format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_FLOAT:
        case SF_FORMAT_DOUBLE:
            return true;
        default:
            return false;
    }
}

class HeaderWriter {
public:
    void Text(const char (&id)[5])
    {
        bytes.insert(bytes.end(), {std::byte(id[0]), std::byte(id[1]), std::byte(id[2]), std::byte(id[3])});
    }
    void Number(std::uint64_t value, int width)
    {
        for (int i = 0; i < width; ++i) {
            bytes.push_back(static_cast<std::byte>(value >> (8 * i)));
        }
    }

    std::vector<std::byte> bytes;
};

// RIFF, a "fmt " chunk and the "data" chunk's header; a float file also
// has the extension size of its fmt chunk and the fact chunk that every
// format but integer PCM carries.
std::vector<std::byte> WavHeader(bool float_samples, int channels, int rate, std::int64_t frames,
                                 std::uint64_t data_size)
{
    const std::uint32_t sample_bytes = float_samples ? 4 : 2;
    const auto block_align = static_cast<std::uint32_t>(channels) * sample_bytes;
    const std::uint64_t fmt_size = float_samples ? 18 : 16;
    const std::uint64_t fact_size = float_samples ? 12 : 0;
    HeaderWriter out;
    out.Text("RIFF");
    out.Number(4 + (8 + fmt_size) + fact_size + 8 + data_size, 4);
    out.Text("WAVE");
    out.Text("fmt ");
    out.Number(fmt_size, 4);
    out.Number(float_samples ? kFloatTag : kPcmTag, 2);
    out.Number(static_cast<std::uint64_t>(channels), 2);
    out.Number(static_cast<std::uint64_t>(rate), 4);
    out.Number(std::uint64_t{block_align} * static_cast<std::uint64_t>(rate), 4);
    out.Number(block_align, 2);
    out.Number(sample_bytes * 8, 2);
    if (float_samples) {
        out.Number(0, 2);
        out.Text("fact");
        out.Number(4, 4);
        out.Number(static_cast<std::uint64_t>(frames), 4);
    }
    out.Text("data");
    out.Number(data_size, 4);
    return std::move(out.bytes);
}

template <typename Sample>
void ReadWhole(SoundDecoder& decoder, std::span<Sample> out, std::int64_t first)
{
    const auto channels = static_cast<std::size_t>(decoder.channels());
    std::size_t done = 0;
    while (done < out.size()) {
        const std::size_t got = decoder.Read(out.subspan(done));
        if (got == 0) {
            throw SoundError(decoder.name() + ": cannot be decoded: it stops at frame " +
                             std::to_string(first + static_cast<std::int64_t>(done / channels)) + " of " +
                             std::to_string(decoder.frames()));
        }
        done += got * channels;
    }
}

}  // namespace

std::unique_ptr<DecodedWav> DecodedWav::Open(InputFile& input, std::string name)
{
    return std::make_unique<DecodedWav>(OpenSound(input, std::move(name)));
}

DecodedWav::DecodedWav(SoundDecoder decoder)
    : decoder_(std::move(decoder)), float_samples_(ServedAsFloat(decoder_.sf_format()))
{
    frame_bytes_ = static_cast<std::size_t>(decoder_.channels()) * (float_samples_ ? 4 : 2);
    data_size_ = static_cast<std::uint64_t>(decoder_.frames()) * frame_bytes_;
    header_ = WavHeader(float_samples_, decoder_.channels(), decoder_.sample_rate(), decoder_.frames(), data_size_);
    if (Size() - 8 > std::numeric_limits<std::uint32_t>::max()) {
        throw SoundError(decoder_.name() + ": cannot be decoded: its " + std::to_string(decoder_.frames()) +
                         " frames make a WAV file larger than 4 GiB");
    }
    decoder_.Seek(0);
}

void DecodedWav::LoadPiece(std::int64_t piece)
{
    if (piece == piece_index_) {
        return;
    }
    piece_index_ = -1;
    const std::int64_t first = piece * kPieceFrames;
    const std::int64_t count = std::min(kPieceFrames, decoder_.frames() - first);
    const auto samples = static_cast<std::size_t>(count) * static_cast<std::size_t>(decoder_.channels());
    decoder_.Seek(first);
    piece_.resize(static_cast<std::size_t>(count) * frame_bytes_);
    std::byte* out = piece_.data();
    if (float_samples_) {
        floats_.resize(samples);
        ReadWhole(decoder_, std::span(floats_), first);
        for (const float sample : floats_) {
            const auto bits = std::bit_cast<std::uint32_t>(sample);
            for (int i = 0; i < 4; ++i) {
                *out++ = static_cast<std::byte>(bits >> (8 * i));
            }
        }
    } else {
        shorts_.resize(samples);
        ReadWhole(decoder_, std::span(shorts_), first);
        for (const std::int16_t sample : shorts_) {
            const auto bits = static_cast<std::uint16_t>(sample);
            *out++ = static_cast<std::byte>(bits & 0xFF);
            *out++ = static_cast<std::byte>(bits >> 8);
        }
    }
    piece_index_ = piece;
}

std::size_t DecodedWav::ReadAt(std::uint64_t offset, std::span<std::byte> buffer)
{
    const std::lock_guard lock(mutex_);
    std::size_t done = 0;
    while (done < buffer.size() && offset < Size()) {
        std::span<const std::byte> from;
        if (offset < header_.size()) {
            from = std::span(header_).subspan(static_cast<std::size_t>(offset));
        } else {
            const std::uint64_t in_data = offset - header_.size();
            const std::uint64_t piece_bytes = static_cast<std::uint64_t>(kPieceFrames) * frame_bytes_;
            LoadPiece(static_cast<std::int64_t>(in_data / piece_bytes));
            from = std::span<const std::byte>(piece_).subspan(static_cast<std::size_t>(in_data % piece_bytes));
        }
        const std::size_t count = std::min(from.size(), buffer.size() - done);
        std::memcpy(buffer.data() + done, from.data(), count);
        done += count;
        offset += count;
    }
    return done;
}

}  // namespace quorvel::audio
